#!/usr/bin/env bash
# Runs the demo host against the freshly built library.
set -euo pipefail
build=${1:-build}
"$build/tests/hosts/settings_host" 2 1.0 8 3
