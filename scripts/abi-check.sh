#!/usr/bin/env bash
# Checks the shared library's ABI against the stored list: its SONAME, and
# every defined dynamic symbol, no more and no fewer. An export that goes or
# changes its name (a C++ function's parameters are in its name) fails here;
# so does one that appears without being added to the list on purpose.
# The list is in the format of a Debian symbols file, which the .deb carries.
# Usage: abi-check.sh <libnadixq.so> <symbols file>
set -euo pipefail

library=$1
symbols=$2
fail() { echo "abi-check: $*" >&2; exit 1; }

expected_soname=$(head -n 1 "$symbols" | cut -d' ' -f1)
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = "$expected_soname" ] || fail "SONAME is '$soname', the list says '$expected_soname'"

expected=$(tail -n +2 "$symbols" | sed -n 's/^ \([^@]*\)@.*/\1/p' | sort)
actual=$(nm -D --defined-only "$library" | awk '$2 ~ /^[TDBWVRi]$/ {print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  diff <(echo "$expected") <(echo "$actual") | sed -n 's/^</missing: /p; s/^>/new:     /p' >&2 || true
  fail "the dynamic symbols of $library differ from $symbols (a new export is added there" \
    "with the version that brings it; a changed or missing one is a new SONAME)"
fi
echo "abi-check: $soname exports the $(wc -l <<<"$expected") symbols of $symbols"
