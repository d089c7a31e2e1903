#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Windows cross-build need.
# Idempotent: only missing packages are installed, and the package lists are refreshed once.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev
  libpcap-dev nlohmann-json3-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb xdotool imagemagick openbox
  locales fonts-ipafont-gothic
  samba smbclient tdb-tools tcpdump iproute2 ethtool tshark python3 logrotate strace
  libfuse3-dev fuse3
  samba-vfs-modules samba-testsuite python3-impacket
  lintian systemd dpkg-dev util-linux man-db
  rsyslog rsyslog-pgsql rsyslog-relp postgresql
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# The GUI tests run Wine with a Japanese locale (ANSI code page 932).
japanese_locale() {
  locale -a 2>/dev/null | grep -qix 'ja_JP.utf8' && return 0
  command -v localedef >/dev/null || return 0
  echo "install-deps: generating the ja_JP.UTF-8 locale"
  $SUDO localedef -i ja_JP -c -f UTF-8 -A /usr/share/locale/locale.alias ja_JP.UTF-8 || true
}

if [ ${#missing[@]} -eq 0 ]; then
  japanese_locale
  exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer once, non-interactively.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
# rsyslog-pgsql would make a database of its own through dbconfig-common; the collection test
# makes its own.
echo "rsyslog-pgsql rsyslog-pgsql/dbconfig-install boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
japanese_locale
