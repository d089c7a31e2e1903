#!/usr/bin/env bash
# A real smbd in a network namespace with two clients connected from another: one over port 445
# (it gives no name), one over port 139 naming itself PCWORK7. The platform layer must list the
# server's shares and both sessions; NetNameQuery must print the same table by name and by
# address; and the program's resolution must turn pcwork7 into the client's address through it.
set -euo pipefail
probe=$1
namequery=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
trap 'kill $(jobs -p) 2>/dev/null; smb_down' EXIT
smb_up

fail() { echo "FAIL: $*"; exit 1; }

( echo "ls"; sleep 30 ) 2>/dev/null | smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" >/dev/null 2>&1 &
( echo "ls"; sleep 30 ) 2>/dev/null | smb_client "//$SMB_SERVER_IP/public" -p 139 -n PCWORK7 \
  -U "$SMB_USER%$SMB_PASS" >/dev/null 2>&1 &
for _ in $(seq 50); do
  [ "$(smbstatus -s "$SMB_CONF" -j 2>/dev/null | grep -o '"remote_machine"' | wc -l)" = 2 ] && break
  sleep 0.1
done

out=$("$probe" "$SMB_CONF" "$namequery --smb-conf $SMB_CONF")
echo "$out"
grep -qx "share docs $QVX_SMB_DIR/share/docs 0" <<<"$out" || fail "share docs"
grep -qx "share public $QVX_SMB_DIR/share/public 0" <<<"$out" || fail "share public"
grep -qx "share IPC\$  3" <<<"$out" || fail "share IPC\$"
grep -qx "session $SMB_CLIENT_IP $SMB_USER" <<<"$out" || fail "session over 445"
grep -qx "session pcwork7 $SMB_USER" <<<"$out" || fail "session over 139 by name"
[ "$(grep -cx "resolved $SMB_CLIENT_IP $SMB_USER" <<<"$out")" = 2 ] ||
  fail "both sessions resolve to $SMB_CLIENT_IP"

# The two forms of the table: same lines, the address where the name stood, then a blank.
names=$("$namequery" -s --smb-conf "$SMB_CONF")
addrs=$("$namequery" -S --smb-conf "$SMB_CONF")
echo "$names"
echo "$addrs"
[ "$(wc -l <<<"$names")" = "$(wc -l <<<"$addrs")" ] || fail "line counts differ"
prefix=${names%%pcwork7*}
[ "$prefix" != "$names" ] || fail "pcwork7 not in the -s table"
[ "${addrs:${#prefix}:$((${#SMB_CLIENT_IP} + 1))}" = "$SMB_CLIENT_IP " ] ||
  fail "no '$SMB_CLIENT_IP ' where pcwork7 stood"
[ "${names//pcwork7   /$SMB_CLIENT_IP}" = "$addrs" ] || fail "the tables differ beyond the column"
echo "live samba: ok"
