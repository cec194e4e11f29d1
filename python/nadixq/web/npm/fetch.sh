#!/usr/bin/env bash
# Fetches the page's plotting library (uPlot, pinned by package-lock.json
# beside this script) with npm into a work folder and copies the two files
# the page loads into the package's static/vendor folder, which git ignores
# and the package installs.
# Usage: fetch.sh <work folder> <vendor folder>
set -euo pipefail

work="$1"
vendor="$2"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! command -v npm >/dev/null 2>&1; then
  echo "npm is not installed: the web view's plots are missing (install Debian's npm," \
       "e.g. with scripts/install-deps.sh as root)" >&2
  exit 0
fi
mkdir -p "$work" "$vendor"
cp "$here/package.json" "$here/package-lock.json" "$work/"
# npm ci again only when the lockfile changed since the last fetch.
if ! cmp -s "$here/package-lock.json" "$work/fetched-lock.json" 2>/dev/null ||
   [ ! -f "$work/node_modules/uplot/dist/uPlot.esm.js" ]; then
  npm ci --prefix "$work" --no-audit --no-fund --loglevel=error
  cp "$here/package-lock.json" "$work/fetched-lock.json"
fi
cp "$work/node_modules/uplot/dist/uPlot.esm.js" "$work/node_modules/uplot/dist/uPlot.min.css" \
   "$work/node_modules/uplot/LICENSE" "$vendor/"
