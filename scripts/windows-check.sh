#!/usr/bin/env bash
# The Windows side of `make check`:
#  1. cross-builds the shipped 32-bit nadixq.dll with MinGW-w64 (i686) and
#     checks its export table (exactly the 32 names hosts link against) and its
#     import table (system DLLs only);
#  2. cross-builds the same sources and the test suite for x86-64 and runs the
#     tests under wine64, in a Wine prefix inside the build folder (64-bit
#     Linux hosts run no 32-bit Windows programs, so that build is the one
#     that runs);
#  3. checks the DLL's debugger lines as Wine's debug channel shows them.
# Installs its Debian packages when they are missing and it runs as root.
# Skips the Wine part, saying so, only when Wine cannot start a program at all.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
BUILD_WIN32=${BUILD_WIN32:-build-win32}
BUILD_WIN64=${BUILD_WIN64:-build-win64}
JOBS=${JOBS:-$(nproc)}
case "$BUILD_WIN32" in /*) ;; *) BUILD_WIN32="$root/$BUILD_WIN32" ;; esac
case "$BUILD_WIN64" in /*) ;; *) BUILD_WIN64="$root/$BUILD_WIN64" ;; esac

NADIXQ_EXTRA_PACKAGES="${NADIXQ_EXTRA_PACKAGES:-} g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine64 googletest" \
  bash scripts/install-deps.sh

step() { printf '\n== windows-check: %s\n' "$*"; }
fail() { printf 'windows-check: FAILED: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- i686 DLL --
step "32-bit DLL (MinGW-w64 i686)"
cmake -S . -B "$BUILD_WIN32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_BUILD_TESTS=OFF -DNADIXQ_BUILD_TOOLS=OFF \
  -DNADIXQ_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_WIN32" -j "$JOBS" --target nadixq

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

# ---------------------------------------------------------------- Wine run --
step "test suite under Wine"
wine=""
for candidate in wine64 /usr/lib/wine/wine64 wine; do
  if command -v "$candidate" >/dev/null 2>&1; then
    wine=$(command -v "$candidate")
    break
  fi
done
export WINEPREFIX="$BUILD_WIN64/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's server for the prefix lingers a few seconds after its last program;
# wait for it, so that nothing of the check outlives the script.
await_wineserver() {
  local server
  server=$(command -v wineserver || echo /usr/lib/wine/wineserver)
  if [ -x "$server" ]; then timeout 60 "$server" -w >/dev/null 2>&1 || true; fi
}
trap await_wineserver EXIT

if [ -z "$wine" ]; then
  echo "windows-check: SKIPPED the Wine run: no wine64 on this machine (the builds and table checks passed)"
  exit 0
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "creating the Wine prefix $WINEPREFIX"
  timeout 300 "$wine" wineboot --init >/dev/null 2>&1 || true
fi
probe=$(timeout 120 "$wine" cmd.exe /c echo nadixq-wine-runs 2>/dev/null | tr -d '\r' || true)
if [ "$probe" != "nadixq-wine-runs" ]; then
  echo "windows-check: SKIPPED the Wine run: wine cannot start a program here (the builds and table checks passed)"
  exit 0
fi

wine_start=$SECONDS
ctest --test-dir "$BUILD_WIN64" --output-on-failure -j "$JOBS"
echo "test suite under Wine: $((SECONDS - wine_start)) s"

# The DLL's lines on the debugger channel, as Wine's debug channel prints them:
# the debugged-host part of the DLL test loads the DLL, calls an export, runs a
# thread and unloads it.
step "debugger lines through WINEDEBUG=+debugstr"
trace="$BUILD_WIN64/tests/debugstr.txt"
(cd "$BUILD_WIN64/tests/work/windows_dll_test" &&
  WINEDEBUG=+debugstr NADIXQ_DLL_CHILD=1 timeout 120 "$wine" ../../windows_dll_test.exe \
    --gtest_filter=DllChild.LoadCallUnload >/dev/null 2>"$trace") ||
  fail "the DLL host under WINEDEBUG=+debugstr failed (see $trace)"
for line in 'nadixq: DLL PROCESS ATTACH' 'nadixq setScans 7' 'nadixq: DLL THREAD ATTACH' \
  'nadixq: DLL THREAD DETACH' 'nadixq: DLL PROCESS DETACH'; do
  grep -qF "OutputDebugStringA \"$line\\n\"" "$trace" || fail "no debugger line \"$line\" in $trace"
done
echo "debugger lines: attach, export call, thread attach and detach, detach"
step "passed"
