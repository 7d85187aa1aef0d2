#!/bin/bash
# A directory of 100,000 entries on vsftpd listed into the main window's
# remote pane (and shown again from the cache), beside curl fetching the same
# listing, taking turns in one run; the best round of each.
#   ROUNDS=10 bench/panes.sh [ENTRIES]
# BENCH_SERVER=proftpd: the same on proftpd, which offers MLSD: Corvyne lists
# with MLSD, curl fetches the same MLSD answer ("-X MLSD").
set -euo pipefail
cd "$(dirname "$0")/.."
entries=${1:-100000}
rounds=${ROUNDS:-10}
# Built as scripts/run.sh builds the program.
cmake -S . -B build/bench-gui -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=ON >/dev/null
cmake --build build/bench-gui --target pane_bench >/dev/null
source bench/${BENCH_SERVER:-vsftpd}.sh
list_command=()
[ "${BENCH_SERVER:-vsftpd}" = proftpd ] && list_command=(-X MLSD)
mkdir -p "$work/home/big"
(cd "$work/home/big" && seq -f "file-%06g.dat" 1 $((entries * 9 / 10)) | xargs touch &&
 seq -f "dir-%06g" 1 $((entries / 10)) | xargs mkdir)
chown -R ftptest "$work/home"
best() {  # best OLD NEW: the smaller of two numbers (OLD may be empty)
  if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi
}
cw=; pw=; ratios=
for r in $(seq "$rounds"); do
  t=$(curl -sS --disable-epsv "${list_command[@]}" -o "$work/client/list.txt" -w '%{time_total}' "$url/big/")
  lines=$(wc -l < "$work/client/list.txt")
  echo "round $r: curl $t s ($lines lines)"
  cw=$(best "$cw" "$t")
  ${PROFILE:+perf record ${PROFILE_ARGS:--g} -o /tmp/pane.perf} /usr/bin/time -f "  process: %e s (user %U s, system %S s), peak %M KiB" \
    ${PANE_BENCH:-build/bench-gui/bench/pane_bench} "$port" big > "$work/out.txt" 2>&1
  grep -v -e '^QStandardPaths' -e 'propagateSizeHints' "$work/out.txt" | sed 's/^/  /'
  p=$(grep '^listed' "$work/out.txt" | awk '{print $NF == "s" ? $(NF-1) : $NF}')
  pw=$(best "$pw" "$p")
  ratios="$ratios $(echo "$p / $t" | bc -l)"
done
printf 'best of %d: curl %.3f s, Corvyne listed and shown %.3f s: %.2f x curl\n' "$rounds" "$cw" "$pw" \
  "$(echo "$pw / $cw" | bc -l)"
# Each round's two runs follow each other, so the machine's state is alike
# for both: the middle of the per-round ratios is the steadier figure.
printf 'per-round ratios, middle value: %.2f x curl\n' \
  "$(printf '%s\n' $ratios | sort -n | awk '{v[NR]=$1} END {print NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}')"
