#!/usr/bin/env bash
# The Windows side of `make check`:
#  1. cross-builds the shipped 32-bit nadixq.dll and the test suite with
#     MinGW-w64 (i686, SSE2 arithmetic), checks the DLL's export table (exactly
#     the 32 names hosts link against) and its import table (system DLLs only),
#     and runs the suite under 32-bit Wine: the tests linked with the same
#     objects, the DLL bound late and called through its exports, and a C host
#     linked with the import library;
#  2. does the same for x86-64 under wine64, the one place where the Win32
#     layer runs with 64-bit handles and pointers;
#  3. checks the 32-bit DLL's debugger lines as Wine's debug channel shows them.
# Each build has its own Wine prefix inside its folder. Installs its Debian
# packages (i386 multiarch for wine32 included) when they are missing and it
# runs as root. Skips the Wine runs, saying so, only when Wine cannot start a
# program at all.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
BUILD_WIN32=${BUILD_WIN32:-build-win32}
BUILD_WIN64=${BUILD_WIN64:-build-win64}
JOBS=${JOBS:-$(nproc)}
case "$BUILD_WIN32" in /*) ;; *) BUILD_WIN32="$root/$BUILD_WIN32" ;; esac
case "$BUILD_WIN64" in /*) ;; *) BUILD_WIN64="$root/$BUILD_WIN64" ;; esac

NADIXQ_EXTRA_PACKAGES="${NADIXQ_EXTRA_PACKAGES:-} g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 wine32:i386 googletest clang lld llvm" \
  bash scripts/install-deps.sh

step() { printf '\n== windows-check: %s\n' "$*"; }
fail() { printf 'windows-check: FAILED: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- i686 DLL --
step "32-bit DLL and the test suite (MinGW-w64 i686)"
cmake -S . -B "$BUILD_WIN32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_BUILD_TESTS=ON -DNADIXQ_BUILD_TOOLS=OFF \
  -DNADIXQ_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_WIN32" -j "$JOBS"

dll32="$BUILD_WIN32/nadixq.dll"
dump=$(objdump -p "$dll32")
grep -q 'file format pei-i386' <<<"$dump" || fail "$dll32 is not a 32-bit DLL"

# The export list hosts are built against. Kept here on its own, not derived
# from src/interface/nadixq.def, so that a misspelt name there is caught.
expected_exports=$(sort <<'EOF'
spectrometer_setGain
spectrometer_getGain
spectrometer_setResolution
spectrometer_getResolution
spectrometer_setPoints
spectrometer_getPoints
spectrometer_setScans
spectrometer_getScans
spectrometer_setFiles
spectrometer_getFiles
spectrometer_setScanCompleteEventHandle
spectrometer_setCoaddCompleteEventHandle
spectrometer_getStatus
spectrometer_getScanProgress
spectrometer_getFileProgress
spectrometer_execute
spectrometer_open
spectrometer_close
spectrometer_initialize
spectrometer_calibrationScan
spectrometer_getCapabilities
spectrometer_startCoadd
spectrometer_stop
spectrometer_getData
spectrometer_getTimestamp
spectrometer_streamToDisk
spectrometer_writeFiber
spectrometer_readFiber
spectrometer_writeAux
?FindZPD@@YGHPANHHHH@Z
?BaselineCorrectIfg@@YGHPANHH@Z
?GaussianApodize@@YGHPANHN@Z
EOF
)
# Lines of the name table look like "	[  12] spectrometer_open".
actual_exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
if [ "$actual_exports" != "$expected_exports" ]; then
  diff <(echo "$expected_exports") <(echo "$actual_exports") | sed 's/^</missing:/; s/^>/extra:  /' >&2 || true
  fail "export table of $dll32 differs from the 32 names"
fi
echo "exports: the 32 names, nothing else"

# System DLLs only: the compiler's own runtime (libgcc, libstdc++,
# winpthread) must be linked in, or hosts would need those DLLs beside ours.
check_imports() {
  local dll=$1 name bad=""
  while read -r name; do
    case "${name,,}" in
      kernel32.dll | setupapi.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) ;;
      *) bad="$bad $name" ;;
    esac
  done < <(objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p')
  [ -z "$bad" ] || fail "$dll imports non-system DLLs:$bad"
  echo "imports of $dll: $(objdump -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')"
}
check_imports "$dll32"

# -------------------------------------------------------- x86-64 and tests --
step "64-bit DLL and the test suite (MinGW-w64 x86-64)"
cmake -S . -B "$BUILD_WIN64" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_BUILD_TESTS=ON -DNADIXQ_BUILD_TOOLS=OFF \
  -DNADIXQ_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_WIN64" -j "$JOBS"
check_imports "$BUILD_WIN64/nadixq.dll"

# --------------------------------------------------------------- Wine runs --
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's server for a prefix lingers a few seconds after its last program;
# wait for each, so that nothing of the check outlives the script.
prefixes=()
await_wineservers() {
  local server prefix
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  [ -x "$server" ] || return 0
  for prefix in "${prefixes[@]}"; do
    WINEPREFIX=$prefix timeout 60 "$server" -w >/dev/null 2>&1 || true
  done
}
trap await_wineservers EXIT

# wine_ready <wine> <prefix> <arch>: creates the prefix when it is new and
# tells whether Wine starts a program in it.
wine_ready() {
  local wine=$1 prefix=$2 arch=$3 probe
  [ -x "$wine" ] || return 1
  prefixes+=("$prefix")
  if [ ! -f "$prefix/system.reg" ]; then
    echo "creating the Wine prefix $prefix ($arch)"
    WINEPREFIX=$prefix WINEARCH=$arch timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
  fi
  probe=$(WINEPREFIX=$prefix WINEARCH=$arch timeout 120 "$wine" cmd.exe /c echo nadixq-wine-runs \
    2>/dev/null | tr -d '\r' || true)
  [ "$probe" = "nadixq-wine-runs" ]
}

# run_suite <build folder> <wine> <arch>: the build's tests under Wine.
run_suite() {
  local build=$1 wine=$2 arch=$3 start=$SECONDS
  if ! wine_ready "$wine" "$build/wine-prefix" "$arch"; then
    echo "windows-check: SKIPPED the $arch test run: Wine cannot start a program here (the builds and table checks passed)"
    return 1
  fi
  step "test suite under Wine ($arch)"
  ctest --test-dir "$build" --output-on-failure -j "$JOBS"
  echo "test suite under Wine ($arch): $((SECONDS - start)) s"
}

wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
ran32=1
run_suite "$BUILD_WIN32" "$wine32" win32 || ran32=0
run_suite "$BUILD_WIN64" "$wine64" win64 || true

# The DLL's lines on the debugger channel, as Wine's debug channel prints them:
# the debugged-host part of the DLL test loads the DLL, calls an export, runs a
# thread and unloads it.
if [ "$ran32" -eq 1 ]; then
  step "debugger lines through WINEDEBUG=+debugstr"
  trace="$BUILD_WIN32/tests/debugstr.txt"
  (cd "$BUILD_WIN32/tests/work/windows_dll_test" &&
    WINEPREFIX="$BUILD_WIN32/wine-prefix" WINEDEBUG=+debugstr NADIXQ_DLL_CHILD=1 timeout 120 \
      "$wine32" ../../windows_dll_test.exe --gtest_filter=DllChild.LoadCallUnload >/dev/null 2>"$trace") ||
    fail "the DLL host under WINEDEBUG=+debugstr failed (see $trace)"
  for line in 'nadixq: DLL PROCESS ATTACH' 'nadixq setScans 7' 'nadixq: DLL THREAD ATTACH' \
    'nadixq: DLL THREAD DETACH' 'nadixq: DLL PROCESS DETACH'; do
    grep -qF "OutputDebugStringA \"$line\\n\"" "$trace" || fail "no debugger line \"$line\" in $trace"
  done
  echo "debugger lines: attach, export call, thread attach and detach, detach"
fi
step "passed"
