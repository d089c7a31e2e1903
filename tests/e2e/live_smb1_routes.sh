#!/usr/bin/env bash
# Every SMB1 route by which a client opens, writes, changes, renames, links, copies or deletes a
# file, judged by the server's own audit record. smbd (SMB1 allowed) runs with full_audit on the
# share; quorvix captures in the server's namespace from before the client starts, and tcpdump
# records the client's side. A scripted impacket client (smb1_routes.py, requests built field by
# field) goes through the legacy opens, TRANSACTION2 and NT_TRANSACT, the set-information
# requests, NT_RENAME, COPY, MOVE and WRITE_AND_CLOSE, once with names that start with a
# backslash and once without, and is refused one open for its rights. smb1_routes_check.py
# derives each expected line from the audit record and checks the access log against it; the
# capture is then replayed with the share folders gone and must give the same lines.
#
#   live_smb1_routes.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

command -v tcpdump >/dev/null || { echo "SKIP: needs tcpdump"; exit 77; }
"$py" -c 'import impacket.smb' 2>/dev/null || { echo "SKIP: needs python3-impacket"; exit 77; }
ls /usr/lib/*/samba/vfs/full_audit.so >/dev/null 2>&1 ||
  { echo "SKIP: needs samba-vfs-modules (full_audit)"; exit 77; }

SMB_MIN_PROTOCOL=NT1
ops="create_file openat pwrite pwrite_send ftruncate unlinkat renameat linkat fset_nt_acl fntimes fset_dos_attributes"
SMB_CONF_GLOBAL="  log level = 1
  log file = @SMB_DIR@/log/audit.%d
  vfs objects = full_audit
  full_audit:prefix = %u|%I|%S
  full_audit:syslog = false
  full_audit:success = $ops
  full_audit:failure = $ops"
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up
user=$SMB_USER

# ---- the world the client finds: one folder per way of spelling names ----
root=$QVX_SMB_DIR/share
docs=$root/docs
folders=(routes/bs routes/nb)
for f in "${folders[@]}"; do
  d=$docs/$f
  mkdir -p "$d/tmp"
  for n in o-read o-write o-trunc open create-old wac disp1 disp2 ren-h eof-h attr-h link-h seti2 \
    acl attr-p eof-p eof-p0 seti ntren ntlink ntcopy copy move; do
    printf '%s\n' "$n" >"$d/$n.txt"
  done
  printf 'no one\n' >"$d/secret.txt"
done
chmod -R a+rwX "$root"
for f in "${folders[@]}"; do
  chmod 000 "$docs/$f/secret.txt"
  # Only the owner may change a file's access list.
  chown "$user" "$docs/$f/acl.txt"
done

home=$(mktemp -d)
find "$root" >"$home/before.txt"

# ---- the recorders: tcpdump on the client's side, quorvix in the server's namespace ----
qvx_client_record "$home/cap.pcap"
ini=$'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
qvx_live_start "$bin" "$ini"

# ---- the client, on a fresh connection while quorvix runs ----
ip netns exec "$SMB_NS_C" "$py" "$here/smb1_routes.py" "$SMB_SERVER_IP" docs "$user" "$SMB_PASS" \
  "$home/steps.json" "${folders[@]}" >"$home/client.out" 2>&1 ||
  fail "the SMB1 client: $(cat "$home/client.out")"

qvx_live_settle_stop
qvx_client_record_stop
mkdir "$home/audit"
cp "$QVX_SMB_DIR"/log/audit.* "$home/audit/"

status=0
"$py" "$here/smb1_routes_check.py" --conf "$SMB_CONF" --share docs --audit "$home/audit" \
  --before "$home/before.txt" --steps "$home/steps.json" --log "$home/Quorvix.log" \
  --user "$user" --client "$SMB_CLIENT_IP" || status=1

# ---- the same capture replayed where the share folders do not exist ----
mv "$root" "$QVX_SMB_DIR/share.away"
mkdir "$home/replay"
printf '[Option]\r\n%s' "$ini" >"$home/replay/Quorvix.ini"
(cd "$home/replay" && "$bin" --home "$home/replay" --replay "$home/cap.pcap" --smb-conf "$SMB_CONF" SC \
  >"$home/replay/out" 2>&1) || fail "the replay failed: $(tail -n 5 "$home/replay/out")"
"$py" "$here/audit_compare.py" replay --log "$home/Quorvix.log" --replayed "$home/replay/Quorvix.log" || status=1
mv "$QVX_SMB_DIR/share.away" "$root"

if [ -n "${QVX_KEEP:-}" ]; then
  rm -rf "$QVX_KEEP" && cp -r "$home" "$QVX_KEEP" && echo "kept in $QVX_KEEP"
fi
[ "$status" = 0 ] || { echo "FAIL: the SMB1 routes do not match the server's audit record"; exit 1; }
echo "live SMB1 routes: ok"
