#!/bin/bash
# Transfer throughput on loopback against vsftpd: download and upload a file
# (1 GiB by default) with Corvyne's engine (ftpprobe, passive, binary) and
# with curl, in the same run. Prints MB/s, client CPU seconds per GiB and peak
# memory of both, and the ratios. Needs root (vsftpd logs the test user in
# through PAM) and scripts/install-deps.sh --test. BENCH_TLS=1 measures FTPS
# (bench/ftps.sh): explicit TLS, PROT P, session reuse required by vsftpd.
#   bench/transfer.sh [SIZE_MIB] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."
size_mib=${1:-1024}
rounds=${2:-3}
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=OFF >/dev/null
cmake --build build/bench --target ftpprobe >/dev/null
probe=$PWD/build/bench/tools/ftpprobe

source bench/vsftpd.sh

head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/home/file.bin"
cp "$work/home/file.bin" "$work/client/source.bin"
chown -R ftptest "$work/home"
# measure NAME COMMAND...: prints "seconds cpu_seconds max_rss_kib"
measure() {
  /usr/bin/time -o "$work/time.txt" -f '%e %U %S %M' "$@" >/dev/null 2>&1
  read -r wall user sys rss < "$work/time.txt"
  echo "$wall $(echo "$user + $sys" | bc -l) $rss"
}

declare -A best_wall best_cpu best_rss
run() {  # run KEY COMMAND...
  local key=$1; shift
  for _ in $(seq "$rounds"); do
    rm -f "$work/client/dl.bin" "$work/home/up.bin"
    read -r wall cpu rss <<<"$(measure "$@")"
    if [ -z "${best_wall[$key]:-}" ] || (( $(echo "$wall < ${best_wall[$key]}" | bc -l) )); then
      best_wall[$key]=$wall; best_cpu[$key]=$cpu; best_rss[$key]=$rss
    fi
  done
}

probe_tls=() curl_tls=()
if [ "${BENCH_TLS:-0}" = 1 ]; then
  probe_tls=(--tls explicit --trust "$fingerprint")
  curl_tls=(--ssl-reqd --cacert "$work/cert.pem")
fi
run corvyne_get "$probe" "${probe_tls[@]}" 127.0.0.1 "$port" ftptest ftppass get file.bin "$work/client/dl.bin"
cmp "$work/client/dl.bin" "$work/home/file.bin"
run curl_get curl -sS --disable-epsv "${curl_tls[@]}" -o "$work/client/dl.bin" "$url/file.bin"
cmp "$work/client/dl.bin" "$work/home/file.bin"
run corvyne_put "$probe" "${probe_tls[@]}" 127.0.0.1 "$port" ftptest ftppass put "$work/client/source.bin" up.bin
cmp "$work/client/source.bin" "$work/home/up.bin"
run curl_put curl -sS --disable-epsv "${curl_tls[@]}" -T "$work/client/source.bin" "$url/up.bin"
cmp "$work/client/source.bin" "$work/home/up.bin"

gib=$(echo "$size_mib / 1024" | bc -l)
printf '%-12s %10s %14s %12s\n' client "MB/s" "CPU s/GiB" "peak KiB"
for key in corvyne_get curl_get corvyne_put curl_put; do
  mbs=$(echo "$size_mib * 1.048576 / ${best_wall[$key]}" | bc -l)
  cpu=$(echo "${best_cpu[$key]} / $gib" | bc -l)
  printf '%-12s %10.1f %14.3f %12d\n' "$key" "$mbs" "$cpu" "${best_rss[$key]}"
done
for dir in get put; do
  speed=$(echo "${best_wall[curl_$dir]} / ${best_wall[corvyne_$dir]}" | bc -l)
  cpu=$(echo "${best_cpu[corvyne_$dir]} / ${best_cpu[curl_$dir]}" | bc -l)
  mem=$(echo "${best_rss[corvyne_$dir]} / ${best_rss[curl_$dir]}" | bc -l)
  printf '%s: speed corvyne/curl %.2f, CPU corvyne/curl %.2f, peak memory corvyne/curl %.2f\n' "$dir" "$speed" "$cpu" "$mem"
done
