#!/bin/bash
# Several files at once, beside lftp, in one run against one vsftpd: a tree
# of FILES files of 1 KiB (10,000 by default) downloaded by lftp "mirror
# --parallel=4", by the window's queue on 4 transfer connections, and by the
# queue on the browsing connection alone; then 1 GiB as one file and as four,
# and a listing of 100,000 entries while four files move (BROWSE_ENTRIES).
#   ROUNDS=3 bench/parallel.sh [FILES]
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-10000}
rounds=${ROUNDS:-3}
cmake -S . -B build/bench-gui -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=ON >/dev/null
cmake --build build/bench-gui --target queue_bench >/dev/null
bench=$PWD/build/bench-gui/bench/queue_bench
source bench/vsftpd.sh

make_tree "$files"
chown -R ftptest "$work/home"
if mount -t tmpfs -o size=2g tmpfs "$work/client" 2>/dev/null; then
  trap 'umount "$work/client" 2>/dev/null || true; cleanup' EXIT
fi
best() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }

echo "== tree of $files files of 1 KiB, best of $rounds"
lw=; c4=; c1=
for r in $(seq "$rounds"); do
  cd "$work/client"
  start=$(date +%s.%N)
  lftp -u ftptest,ftppass -p "$port" 127.0.0.1 \
    -e "set net:connection-limit 5; set ftp:passive-mode on; mirror --parallel=4 tree lftp-$r; quit" >/dev/null
  w=$(echo "$(date +%s.%N) - $start" | bc -l)
  cd - >/dev/null
  diff -r "$work/home/tree" "$work/client/lftp-$r"
  lw=$(best "$lw" "$w")
  for n in 4 1; do
    mkdir -p "$work/client/q$n-$r"
    QB_CONNECTIONS=$n "$bench" tree "$port" tree "$work/client/q$n-$r" > "$work/out.txt"
    diff -r "$work/home/tree" "$work/client/q$n-$r/tree"
    w=$(grep '^seconds ' "$work/out.txt" | cut -d' ' -f2)
    if [ "$n" = 4 ]; then c4=$(best "$c4" "$w"); else c1=$(best "$c1" "$w"); fi
  done
  rm -rf "$work/client/lftp-$r" "$work/client"/q*-"$r"
done
printf 'lftp mirror --parallel=4:   %6.2f s  %7.0f files/s\n' "$lw" "$(echo "$files / $lw" | bc -l)"
printf 'Corvyne, 4 connections:     %6.2f s  %7.0f files/s\n' "$c4" "$(echo "$files / $c4" | bc -l)"
printf 'Corvyne, 1 connection:      %6.2f s  %7.0f files/s\n' "$c1" "$(echo "$files / $c1" | bc -l)"
printf 'files per second, Corvyne 4 / lftp 4: %.2f;  Corvyne 4 / Corvyne 1: %.2f\n' \
  "$(echo "$lw / $c4" | bc -l)" "$(echo "$c1 / $c4" | bc -l)"

big=${BIG_MIB:-1024}
[ "$big" -gt 0 ] || exit 0
mkdir -p "$work/home/one" "$work/home/four"
head -c $((big * 1024 * 1024)) /dev/urandom > "$work/home/one/big.bin"
for i in 1 2 3 4; do
  dd if="$work/home/one/big.bin" of="$work/home/four/part$i.bin" bs=1M skip=$(((i - 1) * big / 4)) count=$((big / 4)) status=none
done
chown -R ftptest "$work/home"
echo "== $big MiB: one file on one connection, four files of a quarter on four, best of $rounds"
b1=; b4=
for r in $(seq "$rounds"); do
  for n in 1 4; do
    folder=$([ "$n" = 1 ] && echo one || echo four)
    mkdir -p "$work/client/b$n"
    QB_CONNECTIONS=$n "$bench" tree "$port" "$folder" "$work/client/b$n" > "$work/out.txt"
    diff -r "$work/home/$folder" "$work/client/b$n/$folder"
    w=$(grep '^seconds ' "$work/out.txt" | cut -d' ' -f2)
    if [ "$n" = 1 ]; then b1=$(best "$b1" "$w"); else b4=$(best "$b4" "$w"); fi
    rm -rf "$work/client/b$n"
  done
done
printf 'one file, 1 connection:    %6.2f s  %7.0f MB/s\n' "$b1" "$(echo "$big * 1.048576 / $b1" | bc -l)"
printf 'four files, 4 connections: %6.2f s  %7.0f MB/s\n' "$b4" "$(echo "$big * 1.048576 / $b4" | bc -l)"
printf 'total speed, four / one: %.2f\n' "$(echo "$b1 / $b4" | bc -l)"

# A folder of BROWSE_ENTRIES entries listed again in the remote pane, idle
# and while the four quarters download on 4 transfer connections (held to
# QB_LIMIT KiB/s together so that they outlast the listings).
entries=${BROWSE_ENTRIES:-100000}
[ "$entries" -gt 0 ] || exit 0
mkdir -p "$work/home/big"
(cd "$work/home/big" && seq -f "file-%06g.dat" 1 $((entries * 9 / 10)) | xargs touch &&
 seq -f "dir-%06g" 1 $((entries / 10)) | xargs mkdir)
chown -R ftptest "$work/home"
mkdir -p "$work/client/browse"
QB_LIMIT=${QB_LIMIT:-102400} "$bench" browse "$port" four big "$work/client/browse" > "$work/out.txt"
rm -rf "$work/client/browse"
printf '%s entries listed: idle %.3f s, beside 4 transfers %.3f s: %.2f x idle\n' \
  "$(grep '^rows ' "$work/out.txt" | cut -d' ' -f2)" "$(grep '^idle ' "$work/out.txt" | cut -d' ' -f2)" \
  "$(grep '^busy ' "$work/out.txt" | cut -d' ' -f2)" "$(grep '^ratio ' "$work/out.txt" | cut -d' ' -f2)"
