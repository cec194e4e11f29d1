#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ (clang, with the address and
# undefined-behaviour sanitizers) in build-fuzz/ and runs each for the given
# number of seconds (default 300), starting from its seed corpus in
# fuzz/corpus/<target>/. New inputs go to build-fuzz/corpus/<target>/, a
# crashing input to build-fuzz/artifacts/; the seeds stay as they are.
#
#   bash scripts/fuzz.sh [seconds]    # make fuzz: 300 s each; make check: 20 s
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
BUILD_FUZZ=${BUILD_FUZZ:-build-fuzz}
JOBS=${JOBS:-2}

NADIXQ_EXTRA_PACKAGES="${NADIXQ_EXTRA_PACKAGES:-} clang libclang-rt-14-dev" \
  bash scripts/install-deps.sh

cmake -S . -B "$BUILD_FUZZ" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DNADIXQ_SANITIZE=address,undefined -DNADIXQ_BUILD_FUZZ=ON \
  -DNADIXQ_BUILD_TESTS=OFF -DNADIXQ_BUILD_TOOLS=OFF -DNADIXQ_BUILD_BENCH=OFF >/dev/null

targets=()
for source in fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$source" .cpp)")
done
cmake --build "$BUILD_FUZZ" -j "$JOBS" --target "${targets[@]}"

mkdir -p "$BUILD_FUZZ/artifacts"
failed=()
for target in "${targets[@]}"; do
  name=${target%_fuzz}
  mkdir -p "$BUILD_FUZZ/corpus/$name"
  echo "fuzz: $target for ${seconds}s"
  if ! "$BUILD_FUZZ/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$BUILD_FUZZ/artifacts/$name-" \
      "$BUILD_FUZZ/corpus/$name" "fuzz/corpus/$name" 2>"$BUILD_FUZZ/$name.log"; then
    tail -n 40 "$BUILD_FUZZ/$name.log" >&2
    failed+=("$target")
    continue
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb" "$BUILD_FUZZ/$name.log" |
    sed "s/^/  /"
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: FAILED: ${failed[*]} (inputs in $BUILD_FUZZ/artifacts/)" >&2
  exit 1
fi
echo "fuzz: every target ran ${seconds}s clean"
