#!/bin/bash
# Installs every test dependency, builds everything warning-free and runs all
# tests through ctest. The tests start their own FTP servers and proxies on
# free loopback ports and stop them again.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --test
cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_WERROR=ON >/dev/null
cmake --build build/test
export QT_QPA_PLATFORM=offscreen
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
cd build/test
dbus-run-session -- ctest --output-on-failure -j"$(nproc)" "$@"
cd ../..
# The .deb: built, checked (desktop-file-validate, appstreamcli, lintian),
# installed, run against a local server, removed.
scripts/package-test.sh
