#!/bin/bash
# SFTP beside OpenSSH's sftp, in one run against one OpenSSH server of our
# own on a free loopback port: MIB MiB (1024 by default) down and up, each
# client in turn, best of ROUNDS; both sides' files are in tmpfs.
#   ROUNDS=3 bench/sftp.sh [MIB]
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
