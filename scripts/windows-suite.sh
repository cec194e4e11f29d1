#!/usr/bin/env bash
# One Windows build's test suite under Wine, for scripts/windows-check.sh:
#   windows-suite.sh <build folder> <wine> <arch>
# Exit status: 0 when every test passed; 77 (and a SKIPPED line) only when
# Wine cannot start a program here at all; 1 for anything else, a failing
# test first of all. Every failure is checked where it happens, not left to
# `set -e`, which a caller's `||` or `if` would switch off inside.
set -uo pipefail

[ $# -eq 3 ] || { echo "usage: $0 <build folder> <wine> <arch>" >&2; exit 1; }
build=$1 wine=$2 arch=$3
JOBS=${JOBS:-$(nproc)}
prefix="$build/wine-prefix"
start=$SECONDS

# Creates the prefix when it is new and tells whether Wine starts a program
# in it.
wine_ready() {
  local probe
  [ -x "$wine" ] || return 1
  if [ ! -f "$prefix/system.reg" ]; then
    echo "creating the Wine prefix $prefix ($arch)"
    WINEPREFIX=$prefix WINEARCH=$arch timeout 300 "$wine" wineboot --init >/dev/null 2>&1
  fi
  probe=$(WINEPREFIX=$prefix WINEARCH=$arch timeout 120 "$wine" cmd.exe /c echo nadixq-wine-runs \
    2>/dev/null | tr -d '\r')
  [ "$probe" = "nadixq-wine-runs" ]
}

if ! wine_ready; then
  echo "windows-check: SKIPPED the $arch test run of $(basename "$build"): Wine cannot start a program here"
  exit 77
fi
printf '\n== windows-check: tests of %s under Wine (%s)\n' "$(basename "$build")" "$arch"
if ! ctest --test-dir "$build" --output-on-failure -j "$JOBS"; then
  echo "windows-check: FAILED: tests of $(basename "$build") under Wine ($arch)" >&2
  exit 1
fi
echo "tests of $(basename "$build") under Wine ($arch): $((SECONDS - start)) s"
