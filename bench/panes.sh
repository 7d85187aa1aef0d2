#!/bin/bash
# A directory of 100,000 entries on vsftpd listed into the main window's
# remote pane (and shown again from the cache), beside curl fetching the same
# listing in the same run.   bench/panes.sh [ENTRIES]
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-100000}
cmake -S . -B build/bench-gui -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=ON >/dev/null
cmake --build build/bench-gui --target pane_bench >/dev/null
source bench/vsftpd.sh
mkdir -p "$work/home/big"
(cd "$work/home/big" && seq -f "file-%06g.dat" 1 $((entries * 9 / 10)) | xargs touch &&
 seq -f "dir-%06g" 1 $((entries / 10)) | xargs mkdir)
chown -R ftptest "$work/home"
echo "curl, the raw listing:"
/usr/bin/time -f '  %e s, peak %M KiB' curl -sS --disable-epsv -o "$work/client/list.txt" "$url/big/"
echo "  $(wc -l < "$work/client/list.txt") lines"
echo "Corvyne, the remote pane:"
${PROFILE:+perf record ${PROFILE_ARGS:--g} -o /tmp/pane.perf} /usr/bin/time -f "  process: %e s (user %U s, system %S s), peak %M KiB" ${PANE_BENCH:-build/bench-gui/bench/pane_bench} "$port" big | sed 's/^/  /'
