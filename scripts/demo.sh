#!/usr/bin/env bash
# Records a background and a sample on the instrument (on Linux: the
# library's simulated instrument, whose sample is a polystyrene film) and
# turns them into an absorbance spectrum, in the repository root:
#   demo-background.spc  the background run (the film out of the beam)
#   demo.spc             the sample run
#   demo.jdx             the absorbance as JCAMP-DX
#   demo.png             its picture, where matplotlib is present
# and prints the band table. The spectra need Python 3 with numpy.
# Usage: scripts/demo.sh <builddir>   (relative to the repository root, or absolute)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-build}"
case "$build" in
  /*) ;;
  *) build="$root/$build" ;;
esac
tool="$build/tools/nadixq-acquire"
if [ ! -x "$tool" ]; then
  echo "demo: $tool not found; build first (make build)" >&2
  exit 1
fi

cd "$root"
# Each run its own noise (a simulated instrument starts every process from
# the same seed).
run=(--model 1 --resolution 4 --scans 16 --files 3)
"$tool" "${run[@]}" --sim-seed 1 --sim-no-sample --out demo-background.spc
"$tool" "${run[@]}" --sim-seed 2 --out demo.spc
echo "demo: the runs are in $root/demo-background.spc and $root/demo.spc"

# Debian's interpreter first: python3-numpy and python3-matplotlib serve it.
python=""
for candidate in /usr/bin/python3 python3; do
  if command -v "$candidate" >/dev/null 2>&1 && "$candidate" -c 'import numpy' 2>/dev/null; then
    python="$candidate"
    break
  fi
done
if [ -z "$python" ]; then
  echo "demo: no python3 with numpy (Debian: python3-numpy), so no spectrum" >&2
  exit 0
fi
export PYTHONPATH="$root/python${PYTHONPATH:+:$PYTHONPATH}"
export NADIXQ_LIBRARY="${NADIXQ_LIBRARY:-$build/libnadixq.so}"
spectrum=(demo.spc --background demo-background.spc --zero-fill 4 --model 1)
"$python" -m nadixq spectrum "${spectrum[@]}" -o demo.jdx
if "$python" -c 'import matplotlib' 2>/dev/null; then
  "$python" -m nadixq plot "${spectrum[@]}" --title "polystyrene film against air, 4 cm-1, 3 x 16 scans each" \
    -o demo.png
else
  echo "demo: no matplotlib (Debian: python3-matplotlib), so no demo.png"
fi
