#!/bin/bash
# The transfer queue of the main window beside established clients, in one
# run against one vsftpd:
#   - a tree of FILES files of 1 KiB (10,000 by default) downloaded through the
#     queue, and by lftp "mirror" on one connection;
#   - a file of SIZE_MIB MiB (1 GiB by default) through the queue, and by curl,
#     with the longest pause of the window's event loop during it;
#   - 100,000 entries added to the shown queue and the head removed 100,000 times.
#   ROUNDS=3 bench/queue.sh [FILES] [SIZE_MIB]
# BENCH_TLS=1 (bench/tree-ftps.sh): the tree only, over FTPS with session
# reuse on every data connection, lftp with TLS required likewise.
set -euo pipefail
cd "$(dirname "$0")/.."
files=${1:-10000}
size_mib=${2:-1024}
rounds=${ROUNDS:-3}
cmake -S . -B build/bench-gui -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=ON >/dev/null
cmake --build build/bench-gui --target queue_bench >/dev/null
bench=$PWD/build/bench-gui/bench/queue_bench
source bench/vsftpd.sh

make_tree "$files"
tls=${BENCH_TLS:-0}
[ "$tls" = 1 ] || head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/home/big.bin"
chown -R ftptest "$work/home"
# Both clients write into a fresh tmpfs where one may be mounted: on ext4 a
# create soon after many deletes pays for the allocator's scan of recently
# deleted inodes, which measures the file system's history, not the client.
if mount -t tmpfs -o size=4g tmpfs "$work/client" 2>/dev/null; then
  trap 'umount "$work/client" 2>/dev/null || true; cleanup' EXIT
  echo "(clients write into a tmpfs)"
fi

time_of() {  # time_of COMMAND...: prints "wall cpu peak_kib"
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S %M' "$@" > "$work/out.txt" 2>&1 || { cat "$work/out.txt"; exit 1; }
  read -r wall user sys rss < "$work/time.txt"
  echo "$wall $(echo "$user + $sys" | bc -l) $rss"
}

best() {  # best OLD NEW: the smaller of two numbers (OLD may be empty)
  if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi
}
inner() { grep "^$1 " "$work/out.txt" | cut -d' ' -f2; }  # a figure queue_bench printed

# Each client ROUNDS times, taking turns (the file system's state after many
# creates and deletes must not favour one side); the best round of each.
echo "== tree of $files files of 1 KiB, best of $rounds"
lw=; lc=; cw=; cc=
for r in $(seq "$rounds"); do
  cd "$work/client"
  lftp_tls=""
  [ "$tls" = 1 ] && lftp_tls="set ftp:ssl-force yes; set ftp:ssl-protect-data yes; set ssl:verify-certificate no;"
  read -r w c _ <<<"$(time_of lftp -u ftptest,ftppass -p "$port" 127.0.0.1 \
    -e "$lftp_tls set net:connection-limit 1; set ftp:passive-mode on; mirror --parallel=1 tree lftp-$r; quit")"
  cd - >/dev/null
  diff -r "$work/home/tree" "$work/client/lftp-$r"
  [ "$(best "$lw" "$w")" = "$w" ] && { lw=$w; lc=$c; }
  mkdir -p "$work/client/queue-$r"
  QB_TRUST=${fingerprint:-} time_of "$bench" tree "$port" tree "$work/client/queue-$r" >/dev/null
  diff -r "$work/home/tree" "$work/client/queue-$r/tree"
  w=$(inner seconds); c=$(inner cpu)
  [ "$(best "$cw" "$w")" = "$w" ] && { cw=$w; cc=$c; }
  rm -rf "$work/client/lftp-$r" "$work/client/queue-$r"
done
printf 'lftp mirror:   %6.2f s  %7.0f files/s  cpu %.2f s\n' "$lw" "$(echo "$files / $lw" | bc -l)" "$lc"
printf 'Corvyne queue: %6.2f s  %7.0f files/s  cpu %.2f s  (the run, in the window)\n' "$cw" \
  "$(echo "$files / $cw" | bc -l)" "$cc"
printf 'files per second, Corvyne / lftp: %.2f\n' "$(echo "$lw / $cw" | bc -l)"
[ "$tls" = 1 ] && exit 0

echo "== one file of $size_mib MiB, best of $rounds"
uw=; uc=; qw=; qc=; pause=
for r in $(seq "$rounds"); do
  read -r w c _ <<<"$(time_of curl -sS --disable-epsv -o "$work/client/curl.bin" "$url/big.bin")"
  cmp "$work/client/curl.bin" "$work/home/big.bin"
  rm -f "$work/client/curl.bin"
  [ "$(best "$uw" "$w")" = "$w" ] && { uw=$w; uc=$c; }
  read -r _ _ rss <<<"$(time_of "$bench" file "$port" big.bin "$work/client")"
  cmp "$work/client/big.bin" "$work/home/big.bin"
  rm -f "$work/client/big.bin"
  w=$(inner seconds); c=$(inner cpu)
  [ "$(best "$qw" "$w")" = "$w" ] && { qw=$w; qc=$c; qr=$rss; }
  pause="$pause $(grep longest "$work/out.txt" | awk '{print $4}')"
done
printf 'curl:          %6.2f s  %7.1f MB/s  cpu %.2f s/GiB\n' "$uw" \
  "$(echo "$size_mib * 1.048576 / $uw" | bc -l)" "$(echo "$uc * 1024 / $size_mib" | bc -l)"
printf 'Corvyne queue: %6.2f s  %7.1f MB/s  cpu %.2f s/GiB  peak %d KiB (the run, in the window)\n' "$qw" \
  "$(echo "$size_mib * 1.048576 / $qw" | bc -l)" "$(echo "$qc * 1024 / $size_mib" | bc -l)" "$qr"
printf 'longest event-loop pause in each round (ms):%s\n' "$pause"
printf 'speed Corvyne / curl: %.2f   CPU Corvyne / curl: %.2f\n' "$(echo "$uw / $qw" | bc -l)" \
  "$(echo "$qc / $uc" | bc -l)"

echo "== 100,000 queue entries"
"$bench" entries 100000
