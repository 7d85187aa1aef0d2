#!/bin/bash
# Builds Corvyne and starts it with the given arguments. Without a display it
# runs under Qt's offscreen platform, so unattended command lines still work.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF >/dev/null
cmake --build build/release --target corvyne
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
fi
exec build/release/src/corvyne "$@"
