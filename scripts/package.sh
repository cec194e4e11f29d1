#!/usr/bin/env bash
# make package: the Debian package of the Linux library (lintian must find no
# error in it) and the Windows zip (the production 32-bit DLL, with the
# simulator flavour in simulator/), both copied into dist/.
# Installs the Debian packages it needs when they are missing and it runs as
# root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
JOBS=${JOBS:-$(nproc)}
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$root/$1" ;; esac; }
BUILD_PACKAGE=$(absolute "${BUILD_PACKAGE:-build-package}")
BUILD_WIN32=$(absolute "${BUILD_WIN32:-build-win32}")
BUILD_WIN32_SIM=$(absolute "${BUILD_WIN32_SIM:-build-win32-sim}")
DIST=$(absolute "${DIST:-dist}")

NADIXQ_EXTRA_PACKAGES="${NADIXQ_EXTRA_PACKAGES:-} dpkg-dev file lintian zip unzip g++-mingw-w64-i686 llvm" \
  bash scripts/install-deps.sh

step() { printf '\n== package: %s\n' "$*"; }
version=$(sed -n 's/^project(nadixq VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# configure <folder> <options...>: a folder made here builds no tests; one
# that exists keeps its own choice (make check builds them).
configure() {
  local folder=$1
  shift
  local fresh=()
  [ -f "$folder/CMakeCache.txt" ] || fresh=(-DNADIXQ_BUILD_TESTS=OFF -DNADIXQ_BUILD_BENCH=OFF)
  cmake -S . -B "$folder" -G Ninja "${fresh[@]}" "$@" >/dev/null
  cmake --build "$folder" -j "$JOBS"
}

step "Debian package"
# Installed under /usr, so that GNUInstallDirs gives Debian's multiarch
# library folder; Release, stripped by CPack.
configure "$BUILD_PACKAGE" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr
(cd "$BUILD_PACKAGE" && cpack -G DEB >/dev/null)
deb="$BUILD_PACKAGE/packages/nadixq_${version}_amd64.deb"
[ -f "$deb" ] || { echo "package: no $deb" >&2; exit 1; }
status=0
report=$(lintian --fail-on error "$deb" 2>&1) || status=$?
grep -v 'running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || { echo "package: lintian finds errors in $deb" >&2; exit 1; }
echo "lintian: no errors in $(basename "$deb")"

step "Windows zip"
configure "$BUILD_WIN32_SIM" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_SIM=ON -DNADIXQ_BUILD_TOOLS=ON
configure "$BUILD_WIN32" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_BUILD_TOOLS=ON \
  -DNADIXQ_PACKAGE_SIMULATOR_BUILD="$BUILD_WIN32_SIM"
(cd "$BUILD_WIN32" && cpack -G ZIP >/dev/null)
zip="$BUILD_WIN32/packages/nadixq-${version}-win32.zip"
[ -f "$zip" ] || { echo "package: no $zip" >&2; exit 1; }

mkdir -p "$DIST"
cp "$deb" "$zip" "$DIST/"
step "wrote $DIST/$(basename "$deb") and $DIST/$(basename "$zip")"
