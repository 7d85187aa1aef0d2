#!/bin/bash
# Installs what Corvyne needs on a Debian 12 machine (as root, or with sudo).
#   scripts/install-deps.sh          build and run the program
#   scripts/install-deps.sh --test   also everything the tests use: GoogleTest,
#                                    clang/libFuzzer, the FTP servers and proxies,
#                                    Xvfb, D-Bus, a CJK font, and the test user.
#   scripts/install-deps.sh --package   also what builds and checks the .deb.
# Idempotent: packages already present are not fetched again.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

packages=(cmake ninja-build g++ qt6-base-dev qt6-translations-l10n fonts-wqy-microhei
          shared-mime-info desktop-file-utils libssl-dev libssh-dev pkgconf ca-certificates librsvg2-bin
          qtkeychain-qt6-dev libsecret-1-0)
if [ "${1:-}" = "--test" ] || [ "${1:-}" = "--package" ]; then
  packages+=(dpkg-dev file lintian appstream)
fi
if [ "${1:-}" = "--test" ]; then
  packages+=(libgtest-dev clang libclang-rt-14-dev xvfb xauth dbus dbus-bin
             vsftpd python3-pyftpdlib dante-server ftp-proxy curl lftp time bc openssl iproute2 openssh-server
             libhiredis0.14 libmemcached11 libmemcachedutil2 libpcre2-posix3 libsodium23
             gnome-keyring libsecret-tools)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if [ "${1:-}" = "--test" ]; then
  # vsftpd logs local users in through PAM: a throw-away system user with a
  # password and a shell listed in /etc/shells. vsftpd changes into the user's
  # home before it applies local_root, so the home must exist.
  home=/var/lib/corvyne-ftptest
  $SUDO mkdir -p "$home"
  if ! id ftptest >/dev/null 2>&1; then
    $SUDO useradd -M -d "$home" -s /bin/bash ftptest
  elif [ "$(getent passwd ftptest | cut -d: -f6)" != "$home" ]; then
    $SUDO usermod -d "$home" ftptest
  fi
  echo 'ftptest:ftppass' | $SUDO chpasswd
  getent passwd ftp >/dev/null || $SUDO useradd -r -d /srv/ftp -s /usr/sbin/nologin ftp
  getent group nogroup >/dev/null || $SUDO groupadd nogroup

  # pure-ftpd and proftpd (with its TLS module) conflict with vsftpd as
  # packages ("Conflicts: ftp-server"): their packages are unpacked into a
  # folder of their own, without maintainer scripts, and run from there.
  servers=/opt/corvyne-test-servers
  if [ ! -x "$servers/pure-ftpd/usr/sbin/pure-ftpd" ] || [ ! -x "$servers/proftpd/usr/sbin/proftpd" ] ||
     [ ! -f "$servers/proftpd/usr/lib/proftpd/mod_tls.so" ]; then
    debs=$(mktemp -d)
    chmod 777 "$debs"  # apt downloads as its own user
    fetch() { (cd "$debs" && $SUDO apt-get download -qq pure-ftpd proftpd-core proftpd-mod-crypto >/dev/null 2>&1); }
    fetch || { $SUDO apt-get update -qq && fetch; }
    $SUDO rm -rf "$servers"
    $SUDO mkdir -p "$servers"
    $SUDO dpkg-deb -x "$debs"/pure-ftpd_*.deb "$servers/pure-ftpd"
    $SUDO dpkg-deb -x "$debs"/proftpd-core_*.deb "$servers/proftpd"
    $SUDO dpkg-deb -x "$debs"/proftpd-mod-crypto_*.deb "$servers/proftpd"
    rm -rf "$debs"
  fi
fi
