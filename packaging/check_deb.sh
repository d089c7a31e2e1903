#!/usr/bin/env bash
# Checks a built quorvix .deb as a machine that never built it would see it: lintian reports no
# error; its files unpacked into a fresh folder (dpkg -x) give a program whose --version names the
# package's version; its systemd unit passes systemd-analyze verify, run against the unpacked
# program and manual page.
#
#   check_deb.sh PACKAGE.deb
set -euo pipefail
deb=$(realpath "$1")
fail() { echo "check_deb: FAIL: $*"; exit 1; }
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT

version=$(dpkg-deb -f "$deb" Version)
[ "$(basename "$deb")" = "quorvix_${version}_amd64.deb" ] || fail "named $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libpcap0.8 samba-common-bin tdb-tools; do
  [[ ", $depends," == *", $d"[,\ ]* ]] || fail "Depends lacks $d: $depends"
done
for f in /etc/quorvix/Quorvix.ini /etc/logrotate.d/quorvix; do
  dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx "$f" || fail "$f is no conffile"
done

lintian --allow-root --fail-on error "$deb" || fail "lintian reports errors"

mkdir "$root/x"
dpkg -x "$deb" "$root/x"
for f in usr/sbin/quorvix usr/sbin/NetNameQuery usr/lib/systemd/system/quorvix.service \
         etc/quorvix/Quorvix.ini etc/logrotate.d/quorvix usr/share/man/man8/quorvix.8.gz \
         usr/share/doc/quorvix/README.md; do
  [ -e "$root/x/$f" ] || fail "the package lacks /$f"
done
out=$("$root/x/usr/sbin/quorvix" --version) || fail "--version failed"
[[ "$out" == "quorvix $version "* ]] || fail "--version says: $out"
# The shipped default configuration changes nothing: every line is a comment or the section.
grep -v '^;\|^$\|^\[Option\]$' "$root/x/etc/quorvix/Quorvix.ini" && fail "Quorvix.ini sets something"

# The unit as installed, its program and manual page those of the unpacked package.
mkdir "$root/unit"
sed "s#/usr/sbin/quorvix#$root/x/usr/sbin/quorvix#" "$root/x/usr/lib/systemd/system/quorvix.service" \
  >"$root/unit/quorvix.service"
MANPATH="$root/x/usr/share/man:" systemd-analyze verify "$root/unit/quorvix.service" ||
  fail "systemd-analyze verify"
echo "check_deb: $(basename "$deb"): ok"
