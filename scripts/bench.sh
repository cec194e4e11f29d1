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

# The machine's own load, and the processor time stolen from it meanwhile (the
# steal column of /proc/stat; 0 on bare metal).
cpu_ticks() { awk '/^cpu / { total = 0; for (i = 2; i <= NF; ++i) total += $i; print total, $9 }' /proc/stat; }
start=$SECONDS
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
ticks_before=$(cpu_ticks)
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

# The Tango device server's events, when PyTango is there to serve them.
tango_figures=()
if "$python" -c 'import tango' 2>/dev/null; then
  echo "running the Tango event benchmark" >&2
  NADIXQ_LIBRARY=$build/libnadixq.so "$python" "$root/bench/tango_bench.py" \
    --out "$out/tango-figures" >&2 || echo "the Tango event benchmark failed" >&2
  tango_figures=(--tango "$out/tango-figures")
else
  echo "no PyTango (python3-tango): the Tango rows are not measured" >&2
fi

ticks_after=$(cpu_ticks)
steal=$(echo "$ticks_before $ticks_after" |
  awk '{ total = $3 - $1; printf "%.1f", (total > 0 ? 100 * ($4 - $2) / total : 0) }')

echo "timing GaussianApodize against numpy" >&2
# numpy's temporaries (256 KiB each) stay on the heap: left to glibc's
# defaults they are fresh pages on some calls and not on others, and numpy's
# time then swings by a factor of four with page faults.
GLIBC_TUNABLES=glibc.malloc.mmap_threshold=4194304:glibc.malloc.trim_threshold=67108864 \
  "$python" "$root/bench/report.py" --json-dir "$out" --library "$build/libnadixq.so" \
  --build "$build" --out "$root/bench/RESULTS.md" --load-before "$load_before" \
  --steal "$steal" --seconds "$((SECONDS - start))" "${tango_figures[@]}"
# The web view's latency and Align figures, as RESULTS.md's last section.
echo "timing the web view" >&2
NADIXQ_LIBRARY="$build/libnadixq.so" PYTHONPATH="$root/python" \
  "$python" "$root/bench/web_bench.py" --out "$root/bench/RESULTS.md"
echo "make bench took $((SECONDS - start)) s; the table is in bench/RESULTS.md" >&2
