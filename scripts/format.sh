#!/bin/bash
# Formats every C++ file with the project's .clang-format (run before a
# commit); with --check, only reports files that are not formatted.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(find src tests tools fuzz bench -name '*.cpp' -o -name '*.h')
if [ "${1:-}" = "--check" ]; then
  clang-format --dry-run --Werror $files
else
  clang-format -i $files
fi
