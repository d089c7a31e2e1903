#!/usr/bin/env bash
# Every way of touching a file, judged by the server's own audit record. smbd runs with
# full_audit (and NT ACLs and streams in extended attributes) on the share; quorvix captures in
# the server's namespace from before the client, and tcpdump records the client's side. A
# scripted impacket client then, on a fresh connection, sets a DACL, backdates a file's time
# stamps and makes it hidden and read-only, makes a hard link, copies a file over another on the
# server, writes and reads a named stream and opens a name in another case than the disk's;
# smbcacls adds an ACL entry. touch_cases.py derives every expected line from the audit record;
# the capture is then replayed with the share folders gone and must give the same lines.
#
#   live_touch.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

for tool in tcpdump smbcacls; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool"; exit 77; }
done
"$py" -c 'import impacket.smb3' 2>/dev/null || { echo "SKIP: needs python3-impacket"; exit 77; }
ls /usr/lib/*/samba/vfs/full_audit.so /usr/lib/*/samba/vfs/streams_xattr.so >/dev/null 2>&1 ||
  { echo "SKIP: needs samba-vfs-modules"; exit 77; }

SMB_CONF_GLOBAL="  log level = 1
  log file = @SMB_DIR@/log/audit.%d
  vfs objects = full_audit acl_xattr streams_xattr
  full_audit:prefix = %u|%I|%S
  full_audit:syslog = false
  full_audit:success = create_file pwrite pwrite_send fset_nt_acl fntimes fset_dos_attributes linkat offload_write_send renameat unlinkat
  full_audit:failure = create_file fset_nt_acl linkat"
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up
user=$SMB_USER

root=$QVX_SMB_DIR/share/docs
t=$root/touch
mkdir -p "$t"
for f in acl attr orig csrc cdst host case ace; do printf '%s text\n' "$f" >"$t/$f.txt"; done
head -c 65536 /dev/urandom >"$t/csrc.txt"
chmod -R a+rwX "$root"
home=$(mktemp -d)

qvx_client_record "$home/cap.pcap"
ini=$'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
qvx_live_start "$bin" "$ini"

ip netns exec "$SMB_NS_C" "$py" "$here/touch_cases.py" client "$SMB_SERVER_IP" docs touch "$user" "$SMB_PASS" \
  --seed "$t/csrc.txt" >"$home/c-imp.out" 2>&1 || fail "impacket client: $(cat "$home/c-imp.out")"
ip netns exec "$SMB_NS_C" smbcacls "//$SMB_SERVER_IP/docs" 'touch\ace.txt' -U "$user%$SMB_PASS" \
  -a 'ACL:S-1-1-0:ALLOWED/0/FULL' >"$home/c-cacls.out" 2>&1 || fail "smbcacls: $(cat "$home/c-cacls.out")"
# The clients did their work.
[ "$(stat -c %h "$t/orig.txt")" = 2 ] && cmp -s "$t/csrc.txt" "$t/cdst.txt" &&
  [ "$(stat -c %Y "$t/attr.txt")" -lt 1000000000 ] ||
  fail "the clients did not do their work: $(cat "$home/c-imp.out"); $(ls -l "$t")"

qvx_live_settle_stop
qvx_client_record_stop

status=0
"$py" "$here/touch_cases.py" judge --audit "$QVX_SMB_DIR/log" --root "$root" --folder touch \
  --log "$home/Quorvix.log" --client "$SMB_CLIENT_IP" --user "$user" || status=1

mv "$QVX_SMB_DIR/share" "$QVX_SMB_DIR/share.away"
mkdir "$home/replay"
printf '[Option]\r\n%s' "$ini" >"$home/replay/Quorvix.ini"
(cd "$home/replay" && "$bin" --home "$home/replay" --replay "$home/cap.pcap" --smb-conf "$SMB_CONF" SC \
  >"$home/replay/out" 2>&1) || fail "the replay failed: $(tail -n 5 "$home/replay/out")"
"$py" "$here/touch_cases.py" replay --log "$home/Quorvix.log" --replayed "$home/replay/Quorvix.log" \
  --folder touch || status=1
mv "$QVX_SMB_DIR/share.away" "$QVX_SMB_DIR/share"

if [ -n "${QVX_KEEP:-}" ]; then
  rm -rf "$QVX_KEEP" && cp -r "$home" "$QVX_KEEP" && cp -r "$QVX_SMB_DIR/log" "$QVX_KEEP/audit" && echo "kept in $QVX_KEEP"
fi
[ "$status" = 0 ] || { echo "FAIL: the access log does not match the server's audit record"; exit 1; }
echo "live touch: ok"
