#!/bin/bash
# The package as a user gets it: built, installed with apt on this machine,
# the installed program started (offscreen) to fetch a file from a local
# FTP server with an unattended command line, then removed again.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -1)
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get install -y -qq "./$deb" >/dev/null
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null || true
  rm -rf "$work"
  $SUDO apt-get remove -y -qq corvyne >/dev/null || true
}
trap cleanup EXIT
test -x /usr/bin/corvyne
test -f /usr/share/icons/hicolor/48x48/apps/corvyne.png
desktop-file-validate /usr/share/applications/corvyne.desktop
appstreamcli validate --no-net /usr/share/metainfo/io.github.corvyne.Corvyne.metainfo.xml >/dev/null
mkdir -p "$work/pub" "$work/data" "$work/into"
head -c 300000 /dev/urandom > "$work/pub/file.bin"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
/usr/bin/python3 -m pyftpdlib -i 127.0.0.1 -p "$port" -d "$work/pub" >/dev/null 2>&1 &
server=$!
for _ in $(seq 100); do (echo > /dev/tcp/127.0.0.1/$port) 2>/dev/null && break; sleep 0.05; done
QT_QPA_PLATFORM=offscreen timeout 60 /usr/bin/corvyne --nosplash "DATA=$work/data" HOST=127.0.0.1 "PORT=$port" \
  "GET=/file.bin|$work/into" QUIT=YES
cmp "$work/pub/file.bin" "$work/into/file.bin"
echo "installed package: fetched a file from a local server, exit status 0"
