#!/bin/bash
# SFTP beside OpenSSH's sftp, in one run against one OpenSSH server of our
# own on a free loopback port: MIB MiB (1024 by default) down and up, each
# client in turn, best of ROUNDS; both sides' files are in tmpfs.
# Then a tree of FILES small files (see below).
#   ROUNDS=3 [FILES=10000] bench/sftp.sh [MIB]
set -euo pipefail
cd "$(dirname "$0")/.."
mib=${1:-1024}
rounds=${ROUNDS:-3}
cmake -S . -B build/bench-gui -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVYNE_TESTS=OFF -DCORVYNE_GUI=ON >/dev/null
cmake --build build/bench-gui --target sftp_bench >/dev/null
bench=$PWD/build/bench-gui/bench/sftp_bench
work=$(mktemp -d /tmp/corvyne-sftp-bench-XXXXXX)
chmod 755 "$work"
mkdir -p "$work/home" "$work/client" "$work/ssh"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
ssh-keygen -q -t ed25519 -N '' -f "$work/host_key"
ssh-keygen -q -t ed25519 -N '' -f "$work/ssh/id_ed25519"
cp "$work/ssh/id_ed25519.pub" "$work/authorized_keys"
chmod 644 "$work/authorized_keys"
cat > "$work/sshd_config" <<CONF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/authorized_keys
StrictModes no
UsePAM no
PasswordAuthentication no
AllowUsers ftptest
Subsystem sftp internal-sftp
LogLevel ERROR
CONF
mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$work/sshd_config" &
sshd=$!
cleanup() {
  kill "$sshd" 2>/dev/null || true
  umount "$work/client" "$work/home" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do (echo > /dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.05; done
# Both sides in memory: no disk writeback of one client's upload slows the
# next client's turn.
mount -t tmpfs -o size=$((mib * 2 + 64))m tmpfs "$work/client" 2>/dev/null || true
mount -t tmpfs -o size=$((mib * 3 + 64))m,mode=755 tmpfs "$work/home" 2>/dev/null || true
head -c $((mib * 1024 * 1024)) /dev/urandom > "$work/home/big.bin"
chown -R ftptest "$work/home"
ssh_opts=(-P "$port" -i "$work/ssh/id_ed25519" -o UserKnownHostsFile="$work/ssh/known_hosts" -o StrictHostKeyChecking=accept-new -o BatchMode=yes)
best() { if [ -z "$1" ] || (( $(echo "$2 < $1" | bc -l) )); then echo "$2"; else echo "$1"; fi; }
sd=; su=; cd_=; cu=
for r in $(seq "$rounds"); do
  rm -f "$work/client/big.bin"
  t=$( { /usr/bin/time -f %e sftp "${ssh_opts[@]}" -b - ftptest@127.0.0.1 >/dev/null <<< "get $work/home/big.bin $work/client/big.bin"; } 2>&1 | tail -1)
  cmp "$work/home/big.bin" "$work/client/big.bin"
  sd=$(best "$sd" "$t")
  t=$( { /usr/bin/time -f %e sftp "${ssh_opts[@]}" -b - ftptest@127.0.0.1 >/dev/null <<< "put $work/client/big.bin $work/home/up-sftp.bin"; } 2>&1 | tail -1)
  cmp "$work/home/big.bin" "$work/home/up-sftp.bin"
  su=$(best "$su" "$t")
  rm -f "$work/client/big.bin" "$work/home/up-sftp.bin"
  SSH_DIR="$work/ssh" "$bench" get "$port" "$work/home/big.bin" "$work/client/big.bin" > "$work/out.txt"
  cmp "$work/home/big.bin" "$work/client/big.bin"
  cd_=$(best "$cd_" "$(grep '^seconds ' "$work/out.txt" | cut -d' ' -f2)")
  SSH_DIR="$work/ssh" "$bench" put "$port" "$work/home/up-corvyne.bin" "$work/client/big.bin" > "$work/out.txt"
  cmp "$work/home/big.bin" "$work/home/up-corvyne.bin"
  cu=$(best "$cu" "$(grep '^seconds ' "$work/out.txt" | cut -d' ' -f2)")
  rm -f "$work/home/up-corvyne.bin"
done
mb() { echo "$mib * 1.048576 / $1" | bc -l; }
printf '%d MiB, best of %d (OpenSSH sftp includes its login, about 0.05 s)\n' "$mib" "$rounds"
printf 'download: sftp %6.2f s %5.0f MB/s   Corvyne %6.2f s %5.0f MB/s   %.2f x sftp\n' "$sd" "$(mb "$sd")" "$cd_" "$(mb "$cd_")" "$(echo "$sd / $cd_" | bc -l)"
printf 'upload:   sftp %6.2f s %5.0f MB/s   Corvyne %6.2f s %5.0f MB/s   %.2f x sftp\n' "$su" "$(mb "$su")" "$cu" "$(mb "$cu")" "$(echo "$su / $cu" | bc -l)"

# A tree of FILES files of 1 KiB (10,000 by default) beside "sftp -r": the
# window's queue on 4 transfer connections and on the browsing session alone.
files=${FILES:-10000}
[ "$files" -gt 0 ] || exit 0
cmake --build build/bench-gui --target queue_bench >/dev/null
queue=$PWD/build/bench-gui/bench/queue_bench
rm -f "$work/home/big.bin"
python3 - "$work/home/tree" "$files" <<'PY'
import os, sys
root, n = sys.argv[1], int(sys.argv[2])
for i in range(n):
    d = os.path.join(root, "d%02d" % (i % 100))
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, "f%05d.bin" % i), "wb") as f:
        f.write(os.urandom(1024))
PY
chown -R ftptest "$work/home"
echo "== tree of $files files of 1 KiB in 100 folders, best of $rounds"
sr=; q4=; q1=
for r in $(seq "$rounds"); do
  t=$( { /usr/bin/time -f %e sftp "${ssh_opts[@]}" -b - ftptest@127.0.0.1 >/dev/null <<< "get -r $work/home/tree $work/client/sftp-$r"; } 2>&1 | tail -1)
  diff -r "$work/home/tree" "$work/client/sftp-$r"
  sr=$(best "$sr" "$t")
  for n in 4 1; do
    mkdir -p "$work/client/q$n-$r"
    QB_CONNECTIONS=$n QB_SSH_DIR="$work/ssh" QB_ADDRESS="sftp://ftptest@127.0.0.1:$port$work/home/" \
      "$queue" tree "$port" tree "$work/client/q$n-$r" > "$work/out.txt"
    diff -r "$work/home/tree" "$work/client/q$n-$r/tree"
    t=$(grep '^seconds ' "$work/out.txt" | cut -d' ' -f2)
    if [ "$n" = 4 ]; then q4=$(best "$q4" "$t"); else q1=$(best "$q1" "$t"); fi
  done
  rm -rf "$work/client/sftp-$r" "$work/client"/q*-"$r"
done
printf 'sftp -r:                   %6.2f s  %7.0f files/s\n' "$sr" "$(echo "$files / $sr" | bc -l)"
printf 'Corvyne, 4 connections:    %6.2f s  %7.0f files/s  %.2f x sftp -r\n' "$q4" "$(echo "$files / $q4" | bc -l)" "$(echo "$sr / $q4" | bc -l)"
printf 'Corvyne, 1 session:        %6.2f s  %7.0f files/s  %.2f x sftp -r\n' "$q1" "$(echo "$files / $q1" | bc -l)" "$(echo "$sr / $q1" | bc -l)"
