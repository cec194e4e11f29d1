#!/usr/bin/env bash
# Runs every benchmark of a build folder, then sets the processing benchmark
# against numpy and against a plain pass over the array and prints the ratios.
# Usage: scripts/bench.sh [build folder]   (make bench passes its own)
set -euo pipefail

build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
benchdir=$build/bench
repetitions=${NADIXQ_BENCH_REPETITIONS:-5}
# Debian's interpreter: the one python3-numpy is installed for.
python=/usr/bin/python3

if ! compgen -G "$benchdir/*_bench" >/dev/null; then
  echo "no benchmarks in $benchdir (is libbenchmark-dev installed?)" >&2
  exit 1
fi

if ! "$python" -c 'import numpy' 2>/dev/null; then
  if [ "$(id -u)" -eq 0 ]; then
    echo "installing python3-numpy for the numpy comparison"
    export DEBIAN_FRONTEND=noninteractive
    apt-get install -y -qq --no-install-recommends python3-numpy >/dev/null ||
      { apt-get update -qq && apt-get install -y -qq --no-install-recommends python3-numpy >/dev/null; }
  else
    echo "python3-numpy is missing (run as root to install it); no numpy comparison" >&2
  fi
fi

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# One benchmark at a time, so that they do not compete for the cores.
for exe in "$benchdir"/*_bench; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  echo "== $name"
  "$exe" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json
done

if [ -f "$out/processing_bench.json" ]; then
  if "$python" -c 'import numpy' 2>/dev/null && [ -f "$build/libnadixq.so" ]; then
    echo "== ratios"
    "$python" "$root/bench/processing_compare.py" "$out/processing_bench.json" \
      "$build/libnadixq.so"
  else
    echo "no ratios: needs $python with numpy and $build/libnadixq.so" >&2
  fi
fi
