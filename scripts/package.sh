#!/bin/bash
# Builds the Debian package into build/package/: corvyne_VERSION_ARCH.deb,
# installable on Debian 12 with "apt install ./build/package/corvyne_*.deb".
# Then checks it: desktop-file-validate, appstreamcli and lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --package
# -O2 (RelWithDebInfo, stripped by CPack): GCC 12 warns wrongly at -O3.
cmake -S . -B build/package -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
  -DCORVYNE_TESTS=OFF -DCORVYNE_WERROR=ON -DCMAKE_CXX_FLAGS="-D_FORTIFY_SOURCE=2 -fstack-protector-strong" \
  -DCMAKE_EXE_LINKER_FLAGS="-Wl,-z,relro,-z,now" >/dev/null
cmake --build build/package --target corvyne corvyne_icons
rm -f build/package/corvyne_*.deb
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/corvyne_*.deb)
desktop-file-validate data/corvyne.desktop
appstreamcli validate --no-net --pedantic data/io.github.corvyne.Corvyne.metainfo.xml
# Errors fail the build; warnings are printed and judged (see README).
lintian --fail-on error --display-level ">=warning" "$deb"
echo "$deb"
