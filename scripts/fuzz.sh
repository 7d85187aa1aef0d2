#!/bin/bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (FUZZ_SECONDS, default 60) from its seed corpus. A crash fails the run and
# leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVYNE_FUZZ=ON \
    -DCORVYNE_GUI=OFF -DCORVYNE_TESTS=OFF >/dev/null
cmake --build build/fuzz
export QT_QPA_PLATFORM=offscreen
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
for target in build/fuzz/fuzz/fuzz_*; do
  [ -f "$target" ] && [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build/fuzz/corpus-$name
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"${name#fuzz_}"/* "$corpus"/ 2>/dev/null || true
  echo "fuzzing $name for ${seconds}s"
  (cd build/fuzz && "../../$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
      "../../$corpus" 2>&1 | tail -n 12)
done
