#!/usr/bin/env bash
# Installs the independent JCAMP-DX reader that the Python tests check the
# written files with: the npm package jcampconverter, with read_jcamp.mjs
# beside it, into the folder given (a build folder).
# Usage: install.sh <folder>
set -euo pipefail

folder="$1"
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! command -v npm >/dev/null 2>&1; then
  echo "npm is not installed: the JCAMP-DX files will not be checked with jcampconverter" \
       "(install Debian's npm, e.g. with scripts/install-deps.sh as root)"
  exit 0
fi
mkdir -p "$folder"
rm -f "$folder/read_jcamp.mjs"  # only beside a complete install
if [ ! -d "$folder/node_modules/jcampconverter" ]; then
  if ! npm install --prefix "$folder" --no-audit --no-fund --loglevel=error jcampconverter@12; then
    # No registry (an offline machine): the tests that read files with it
    # are skipped and say so; this is not a failure of the project.
    rm -rf "$folder/node_modules/jcampconverter"
    echo "npm could not install jcampconverter (is the npm registry reachable?): the JCAMP-DX" \
         "files will not be checked with it"
    exit 0
  fi
fi
cp "$here/read_jcamp.mjs" "$folder/read_jcamp.mjs"
echo "jcampconverter $(node -p "require('$folder/node_modules/jcampconverter/package.json').version") in $folder"
