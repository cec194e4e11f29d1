#!/usr/bin/env bash
# The library as others use it, part of `make check`: installed into scratch
# prefixes, the out-of-tree example host (examples/zpd-per-file) is built
# against it with find_package and with pkg-config and run on the simulated
# instrument; the Python binding loads the installed libnadixq.so.0 through
# the system loader; the example is cross-built for i686 against the
# installed Windows tree and run under Wine on the simulator flavour; and the
# packages of `make package` are checked: the .deb unpacked with dpkg -x into
# a scratch root and the example run against it, the zip's contents listed.
# The commands are those README.md gives under "Installing" and "Using nadixq
# from CMake / pkg-config / Visual Studio".
# Needs the builds of `make build` and scripts/windows-check.sh.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$root/$1" ;; esac; }
BUILD=$(absolute "${BUILD:-build}")
BUILD_WIN32=$(absolute "${BUILD_WIN32:-build-win32}")
BUILD_WIN32_SIM=$(absolute "${BUILD_WIN32_SIM:-build-win32-sim}")
example="$root/examples/zpd-per-file"
python=/usr/bin/python3

NADIXQ_EXTRA_PACKAGES="${NADIXQ_EXTRA_PACKAGES:-} pkgconf" bash scripts/install-deps.sh

step() { printf '\n== consumer-check: %s\n' "$*"; }
fail() { printf 'consumer-check: FAILED: %s\n' "$*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# expect_zpds <output>: both files reported with the burst's crossing at 256 +-2.
expect_zpds() {
  printf '%s\n' "$1"
  grep -Eq '^file 1: ZPD 25[4-8]\r?$' <<<"$1" && grep -Eq '^file 2: ZPD 25[4-8]\r?$' <<<"$1" ||
    fail "the example did not report both files' ZPD"
}

# build_and_run <prefix> <libdir>: the example both ways against one install.
build_and_run() {
  local prefix=$1 libdir=$2 out="$scratch/example-$RANDOM" output
  step "find_package against $prefix"
  cmake -S "$example" -B "$out/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$out/cmake" >/dev/null
  # An assignment, so that the example's own failure fails the check (as an
  # argument its exit status would be lost).
  output=$("$out/cmake/zpd-per-file")
  expect_zpds "$output"

  step "pkg-config against $prefix"
  export PKG_CONFIG_PATH="$libdir/pkgconfig"
  mkdir -p "$out/pkg-config"
  c++ -std=c++11 -o "$out/pkg-config/zpd-per-file" "$example/main.cpp" \
    "$example/file_event_posix.cpp" $(pkg-config --cflags --libs nadixq)
  output=$(LD_LIBRARY_PATH="$libdir" "$out/pkg-config/zpd-per-file")
  expect_zpds "$output"
  unset PKG_CONFIG_PATH

  step "the Python binding from $prefix"
  local pythonpath
  pythonpath=$(find "$prefix" -type d -path '*/python3/dist-packages' | head -n 1)
  [ -n "$pythonpath" ] || fail "no Python package under $prefix"
  for file in index.html app.js vendor/uPlot.esm.js; do
    [ -f "$pythonpath/nadixq/web/static/$file" ] || fail "the web view has no $file under $prefix"
  done
  (cd "$scratch" && LD_LIBRARY_PATH="$libdir" PYTHONPATH="$pythonpath" "$python" -c '
import nadixq, nadixq._library
library = nadixq._library.library()
assert library.path == "libnadixq.so.0", library.path
with nadixq.Spectrometer(1) as s:
    s.points, s.scans, s.files = 1024, 2, 1
    s.initialize()
    s.calibrate()
    ifg, = list(s.acquire())
    print("python:", library.path, len(ifg.values), "points")
')
}

# ------------------------------------------------------------------ Linux --
step "cmake --install into a scratch prefix"
prefix="$scratch/prefix"
cmake --install "$BUILD" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libnadixq.so.0' | head -n 1)")
[ -L "$libdir/libnadixq.so.0" ] && [ -f "$libdir/libnadixq.so.0.2.0" ] ||
  fail "no libnadixq.so.0 -> libnadixq.so.0.2.0 in $libdir"
for file in include/nadixq/nadixq.h include/nadixq/nadixq_sim.h bin/nadixq-acquire \
  bin/nadixq-dbgview share/doc/nadixq/README.md share/doc/nadixq/copyright; do
  [ -e "$prefix/$file" ] || fail "the install has no $file"
done
build_and_run "$prefix" "$libdir"

# ---------------------------------------------------------------- Windows --
if [ -s "$BUILD_WIN32/windows-check-skipped.txt" ]; then
  # windows-check found that Wine cannot start a program here, and said so.
  echo "consumer-check: SKIPPED the example under Wine: Wine cannot start a program here"
elif [ -f "$BUILD_WIN32/nadixq.dll" ] && [ -f "$BUILD_WIN32_SIM/nadixq.dll" ]; then
  step "the example for i686 against the installed Windows tree, under Wine"
  wintree="$scratch/win32"
  cmake --install "$BUILD_WIN32" --prefix "$wintree" >/dev/null
  cmake --install "$BUILD_WIN32_SIM" --prefix "$wintree/simulator" >/dev/null
  cmake -S "$example" -B "$scratch/example-win32" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
    -Dnadixq_DIR="$wintree/lib/cmake/nadixq" >/dev/null
  cmake --build "$scratch/example-win32" >/dev/null
  # Linked with the production import library, run on the simulator DLL.
  output=$(WINEPREFIX="$BUILD_WIN32_SIM/wine-prefix" WINEARCH=win32 WINEDEBUG=-all \
    WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH="Z:$wintree/simulator/bin" timeout 120 \
    /usr/lib/wine/wine "$scratch/example-win32/zpd-per-file.exe" | tr -d '\r')
  expect_zpds "$output"
else
  echo "consumer-check: no Windows builds (run scripts/windows-check.sh first); the Windows part is skipped"
fi

# --------------------------------------------------------------- packages --
step "make package"
bash scripts/package.sh
version=$(sed -n 's/^project(nadixq VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
debroot="$scratch/debroot"
dpkg -x "dist/nadixq_${version}_amd64.deb" "$debroot"
build_and_run "$debroot/usr" "$debroot/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
expect_files=(README-Windows.md examples/host.c bin/nadixq.dll bin/nadixq-acquire.exe
  lib/libnadixq.dll.a lib/nadixq.lib lib/nadixq.def include/nadixq/nadixq.h
  share/doc/nadixq/README.md simulator/bin/nadixq.dll simulator/include/nadixq/nadixq_sim.h
  simulator/SIMULATOR.txt)
listing=$(unzip -Z1 "dist/nadixq-${version}-win32.zip")
# One folder named like the zip holds everything.
top="nadixq-${version}-win32/"
if grep -qv "^$top" <<<"$listing"; then
  fail "the Windows zip has entries outside $top: $(grep -v "^$top" <<<"$listing" | head -n 3 | tr '\n' ' ')"
fi
for file in "${expect_files[@]}"; do
  grep -qx "$top$file" <<<"$listing" || fail "the Windows zip has no $top$file"
done
echo "the Windows zip has $top with README-Windows.md, the production DLL, its import libraries, .def, header, example and simulator/"
step "passed"
