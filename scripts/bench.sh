#!/usr/bin/env bash
# Runs every benchmark program of a build folder, one at a time, then prints
# the performance table (bench/report.py, which also times GaussianApodize
# against numpy) and writes it to bench/RESULTS.md.
# Usage: scripts/bench.sh [build folder]   (make bench passes its own)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac
benchdir=$build/bench
# Debian's interpreter: the one python3-numpy is installed for.
python=/usr/bin/python3

if ! compgen -G "$benchdir/*_bench" >/dev/null; then
  echo "no benchmarks in $benchdir (is libbenchmark-dev installed?)" >&2
  exit 1
fi
if [ ! -f "$build/libnadixq.so" ]; then
  echo "no $build/libnadixq.so: build first (make bench builds both)" >&2
  exit 1
fi
if ! "$python" -c 'import numpy' 2>/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing python3-numpy for the numpy comparison"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends python3-numpy >/dev/null ||
      { apt-get update -qq && apt-get install -y -qq --no-install-recommends python3-numpy >/dev/null; }
  else
    echo "python3-numpy is missing (run as root to install it)" >&2
    exit 1
  fi
fi

start=$SECONDS
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
# The stream-file rows write here: a folder of the build, on the project's disk.
work=$benchdir/work
mkdir -p "$work"

for exe in "$benchdir"/*_bench; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  echo "running $name" >&2
  if ! (cd "$work" && "$exe" --benchmark_out="$out/$name.json" --benchmark_out_format=json \
      >"$out/$name.txt" 2>&1); then
    cat "$out/$name.txt" >&2
    echo "$name failed" >&2
    exit 1
  fi
done

echo "timing GaussianApodize against numpy" >&2
"$python" "$root/bench/report.py" --json-dir "$out" --library "$build/libnadixq.so" \
  --build "$build" --out "$root/bench/RESULTS.md" --load-before "$load_before" \
  --seconds "$((SECONDS - start))"
echo "make bench took $((SECONDS - start)) s; the table is in bench/RESULTS.md" >&2
