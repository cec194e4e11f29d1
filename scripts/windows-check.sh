#!/usr/bin/env bash
# The Windows side of `make check`:
#  1. the shipped 32-bit nadixq.dll and the test suite, cross-built with
#     MinGW-w64 (i686, SSE2 arithmetic): the DLL's export table (exactly the
#     32 names hosts link against) and import table (system DLLs only), then
#     the suite under 32-bit Wine: the tests linked with the same objects, the
#     DLL bound late and called through its exports, a C host linked with the
#     GCC import library and an MSVC-style host linked with nadixq.lib;
#  2. the simulator flavour of the 32-bit DLL (-DNADIXQ_SIM=ON): its export
#     table (the 32 names and the simulator's controls), and under 32-bit
#     Wine the host tests through its exports and nadixq-acquire.exe;
#  3. the 64-bit DLL and the suite under wine64, the one place where the
#     Win32 layer runs with 64-bit handles and pointers, and the 64-bit
#     simulator flavour's export table;
#  4. the 32-bit DLL's debugger lines as Wine's debug channel shows them.
# Each build has its own Wine prefix inside its folder. Installs its Debian
# packages (i386 multiarch for wine32 included) when they are missing and it
# runs as root. Any failing step fails the check; the Wine runs alone may be
# skipped, and then are named SKIPPED in the last lines, when Wine cannot
# start a program at all (scripts/windows-suite.sh).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
JOBS=${JOBS:-$(nproc)}
absolute() { case "$1" in /*) echo "$1" ;; *) echo "$root/$1" ;; esac; }
BUILD_WIN32=$(absolute "${BUILD_WIN32:-build-win32}")
BUILD_WIN32_SIM=$(absolute "${BUILD_WIN32_SIM:-build-win32-sim}")
BUILD_WIN64=$(absolute "${BUILD_WIN64:-build-win64}")
BUILD_WIN64_SIM=$(absolute "${BUILD_WIN64_SIM:-build-win64-sim}")

packages="${NADIXQ_EXTRA_PACKAGES:-} g++-mingw-w64-i686 g++-mingw-w64-x86-64 wine wine64 googletest clang lld llvm xvfb python3-pefile"
# The 32-bit Wine comes from the i386 archive, whose index a mirror may serve
# out of step with the amd64 one: without it the builds and the 64-bit runs
# still go ahead, and the 32-bit runs are SKIPPED as on a machine that cannot
# start 32-bit programs.
if ! NADIXQ_EXTRA_PACKAGES="$packages wine32:i386" bash scripts/install-deps.sh; then
  echo "windows-check: wine32:i386 cannot be installed here; the 32-bit Wine runs will be SKIPPED" >&2
  NADIXQ_EXTRA_PACKAGES="$packages" bash scripts/install-deps.sh
fi

step() { printf '\n== windows-check: %s\n' "$*"; }
fail() { printf 'windows-check: FAILED: %s\n' "$*" >&2; exit 1; }

# configure_and_build <build folder> <toolchain file> <cmake options...>
configure_and_build() {
  local build=$1 toolchain=$2
  shift 2
  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_BUILD_BENCH=OFF "$@" >/dev/null
  cmake --build "$build" -j "$JOBS"
}

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
# The simulator's controls, as its header declares them.
simulator_exports=$(grep -o 'NADIXQ_SIM_CALL nadixq_sim_[a-z_]*' src/sim/nadixq_sim.h | sed 's/.* //' | sort)
[ -n "$simulator_exports" ] || fail "no simulator controls found in src/sim/nadixq_sim.h"

# exported_names <dll>: the names of its export table, sorted.
exported_names() {
  # Lines of the name table look like "	[  12] spectrometer_open".
  objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort
}

# check_exports <dll> <expected names> <what>
check_exports() {
  local actual
  actual=$(exported_names "$1")
  if [ "$actual" != "$2" ]; then
    diff <(echo "$2") <(echo "$actual") | sed 's/^</missing:/; s/^>/extra:  /' >&2 || true
    fail "export table of $1 differs from $3"
  fi
  echo "exports of $1: $3, nothing else"
}

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

# ---------------------------------------------------------- i686 builds --
step "32-bit DLL and the test suite (MinGW-w64 i686)"
configure_and_build "$BUILD_WIN32" toolchain-mingw-i686.cmake -DNADIXQ_BUILD_TESTS=ON \
  -DNADIXQ_BUILD_TOOLS=ON
grep -q 'file format pei-i386' <<<"$(objdump -p "$BUILD_WIN32/nadixq.dll")" ||
  fail "$BUILD_WIN32/nadixq.dll is not a 32-bit DLL"
check_exports "$BUILD_WIN32/nadixq.dll" "$expected_exports" "the 32 names"
check_imports "$BUILD_WIN32/nadixq.dll"

step "32-bit simulator flavour of the DLL and nadixq-acquire.exe"
configure_and_build "$BUILD_WIN32_SIM" toolchain-mingw-i686.cmake -DNADIXQ_SIM=ON \
  -DNADIXQ_BUILD_TESTS=ON -DNADIXQ_BUILD_TOOLS=ON
check_exports "$BUILD_WIN32_SIM/nadixq.dll" "$(sort <<<"$expected_exports"$'\n'"$simulator_exports")" \
  "the 32 names and the simulator's controls"
check_imports "$BUILD_WIN32_SIM/nadixq.dll"

# -------------------------------------------------------- x86-64 builds --
step "64-bit DLL and the test suite (MinGW-w64 x86-64)"
configure_and_build "$BUILD_WIN64" toolchain-mingw-x86_64.cmake -DNADIXQ_BUILD_TESTS=ON \
  -DNADIXQ_BUILD_TOOLS=OFF
check_imports "$BUILD_WIN64/nadixq.dll"
if grep -q '^nadixq_sim_' <<<"$(exported_names "$BUILD_WIN64/nadixq.dll")"; then
  fail "the production 64-bit DLL exports simulator controls"
fi

step "64-bit simulator flavour of the DLL"
cmake -S . -B "$BUILD_WIN64_SIM" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNADIXQ_SIM=ON -DNADIXQ_BUILD_TESTS=OFF \
  -DNADIXQ_BUILD_TOOLS=OFF -DNADIXQ_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD_WIN64_SIM" -j "$JOBS" --target nadixq
missing=$(comm -23 <(echo "$simulator_exports") <(exported_names "$BUILD_WIN64_SIM/nadixq.dll"))
[ -z "$missing" ] || fail "the 64-bit simulator DLL lacks: $missing"
echo "exports of $BUILD_WIN64_SIM/nadixq.dll: the simulator's controls with the rest"
check_imports "$BUILD_WIN64_SIM/nadixq.dll"

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

# run_suite <build folder> <wine> <arch>: the build's tests under Wine. A
# failing suite ends the check; only a Wine that cannot start a program at all
# is let through, as a skip that the last lines of the check name.
skipped=()
run_suite() {
  local status=0
  prefixes+=("$1/wine-prefix")
  JOBS=$JOBS bash scripts/windows-suite.sh "$@" || status=$?
  case $status in
    0) ;;
    77) skipped+=("$3 tests of $(basename "$1")") ;;
    *) fail "the tests of $(basename "$1") under Wine ($3)" ;;
  esac
}

wine32=/usr/lib/wine/wine
wine64=/usr/lib/wine/wine64
run_suite "$BUILD_WIN32" "$wine32" win32
run_suite "$BUILD_WIN32_SIM" "$wine32" win32
run_suite "$BUILD_WIN64" "$wine64" win64
ran32=1
for suite in "${skipped[@]}"; do
  if [ "$suite" = "win32 tests of $(basename "$BUILD_WIN32")" ]; then ran32=0; fi
done

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

  # Which flavour a host has loaded: the simulator DLL says so right after its
  # attach line, the production DLL does not.
  flavour_lines() {
    (cd "$1/tests" && WINEPREFIX="$1/wine-prefix" WINEDEBUG=+debugstr WINEPATH="Z:$1" timeout 120 \
      "$wine32" hosts/settings_host.exe 2>&1 >/dev/null) |
      sed -n 's/.*OutputDebugStringA "\(nadixq: [^"]*\)\\n".*/\1/p' | head -n 2 | tr '\n' '|'
  }
  [ "$(flavour_lines "$BUILD_WIN32_SIM")" = "nadixq: DLL PROCESS ATTACH|nadixq: simulated instrument|" ] ||
    fail "the simulator DLL does not say what it is after its attach line"
  case "$(flavour_lines "$BUILD_WIN32")" in
    *"simulated instrument"*) fail "the production DLL claims to be the simulator" ;;
  esac
  echo "debugger lines: the simulator flavour says what it is, the production DLL does not"
fi
# make check prints this file again at its very end, so that a skip cannot
# scroll by unseen.
skip_note="$BUILD_WIN32/windows-check-skipped.txt"
if [ ${#skipped[@]} -gt 0 ]; then
  printf 'windows-check: SKIPPED (Wine cannot start a program here): %s\n' "${skipped[@]}" |
    tee "$skip_note"
  step "passed, with the Wine runs above SKIPPED"
else
  rm -f "$skip_note"
  step "passed"
fi
