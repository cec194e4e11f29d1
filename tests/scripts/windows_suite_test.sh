#!/usr/bin/env bash
# scripts/windows-suite.sh against stand-ins for Wine and ctest: a failing
# suite must fail it, whatever the caller's context; a Wine that cannot start
# a program is the one skip (77, with a SKIPPED line); a passing suite passes.
set -uo pipefail

suite=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/bin" "$scratch/build/wine-prefix"
touch "$scratch/build/wine-prefix/system.reg"
errors=0
check() {  # check <what> <expected status> <actual status> <output> [<expected text>]
  if [ "$3" -ne "$2" ]; then
    echo "FAILED: $1: status $3, expected $2; output:"$'\n'"$4"
    errors=$((errors + 1))
  elif [ $# -ge 5 ] && ! grep -qF -- "$5" <<<"$4"; then
    echo "FAILED: $1: no \"$5\" in:"$'\n'"$4"
    errors=$((errors + 1))
  else
    echo "ok: $1"
  fi
}

# A Wine that starts programs: it answers the probe.
cat >"$scratch/bin/wine-ok" <<'STUB'
#!/bin/sh
[ "$2" = "/c" ] && echo "$4"
exit 0
STUB
# A Wine that cannot start anything.
printf '#!/bin/sh\necho "wine: could not load kernel32.dll" >&2\nexit 1\n' >"$scratch/bin/wine-broken"
chmod +x "$scratch/bin/wine-ok" "$scratch/bin/wine-broken"

run() {  # run <ctest status> <wine>: the suite with a ctest that returns that status
  printf '#!/bin/sh\necho "3 tests FAILED"\nexit %s\n' "$1" >"$scratch/bin/ctest"
  chmod +x "$scratch/bin/ctest"
  PATH="$scratch/bin:$PATH" bash "$suite" "$scratch/build" "$scratch/bin/$2" win32 2>&1
}

output=$(run 8 wine-ok); status=$?
check "a failing suite fails" 1 "$status" "$output" "FAILED: tests of build under Wine (win32)"
# The way windows-check.sh calls it: inside a function, behind ||.
caller() { bash "$suite" "$@" || return $?; echo "caller went on"; }
output=$(printf '#!/bin/sh\nexit 8\n' >"$scratch/bin/ctest"; chmod +x "$scratch/bin/ctest"
  PATH="$scratch/bin:$PATH" caller "$scratch/build" "$scratch/bin/wine-ok" win32 2>&1 || echo "status $?")
check "a failing suite fails behind ||" 0 0 "$output" "status 1"
grep -q "caller went on" <<<"$output" && { echo "FAILED: the caller went on"; errors=$((errors + 1)); }
output=$(run 0 wine-ok); status=$?
check "a passing suite passes" 0 "$status" "$output" "tests of build under Wine (win32):"
output=$(run 0 wine-broken); status=$?
check "a Wine that cannot start a program skips" 77 "$status" "$output" "SKIPPED"
output=$(run 0 wine-missing); status=$?
check "no Wine at all skips" 77 "$status" "$output" "SKIPPED"
[ "$errors" -eq 0 ]
