#!/bin/bash
# Builds everything and runs every test with AddressSanitizer and
# UndefinedBehaviorSanitizer. Needs scripts/install-deps.sh --test.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCORVYNE_SANITIZE=ON -DCORVYNE_GUI=ON \
      -DCORVYNE_WERROR=ON >/dev/null
cmake --build build/asan
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/scripts/lsan.supp
cd build/asan
dbus-run-session -- ctest --output-on-failure -j"$(nproc)" "$@"
