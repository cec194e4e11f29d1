#!/usr/bin/env bash
# Acquires a short run on the instrument (on Linux: the library's simulated
# instrument) and streams it to demo.spc in the repository root.
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
"$tool" --model 1 --files 3 --scans 8 --out demo.spc
echo "demo: the run is in $root/demo.spc"
