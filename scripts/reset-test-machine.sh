#!/bin/bash
# Puts back what scripts/install-deps.sh --test sets up as a fresh Debian
# machine has it: no test user and no home for it, no unpacked servers, and the FTP servers and
# proxies not installed (their packages bring system configuration that a
# person may have changed). The next scripts/test.sh installs them again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

if id ftptest >/dev/null 2>&1; then
  $SUDO userdel ftptest
fi
$SUDO rm -rf /var/lib/corvyne-ftptest /opt/corvyne-test-servers

# corvyne: the package scripts/package-test.sh installs (and removes again).
servers=(vsftpd python3-pyftpdlib dante-server ftp-proxy corvyne)
installed=()
for p in "${servers[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" && installed+=("$p")
done
if [ ${#installed[@]} -gt 0 ]; then
  $SUDO apt-get purge -y -qq "${installed[@]}" >/dev/null
fi
