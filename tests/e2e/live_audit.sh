#!/usr/bin/env bash
# The access log judged by the server's own audit record. smbd runs with full_audit on every
# share (each open, creation, write, removal and rename, succeeded or refused, with user, client
# and share); quorvix captures in the server's namespace from before the first client, and
# tcpdump records the client's side. Then, all at once and on fresh connections: smbclient in
# SMB3 and in SMB1 (NT1) doing a round of file work with refusals (missing file, forbidden file,
# write on a read-only share), scripted impacket clients (pipelined creates, write and create in
# one send, every delete route, a disposition set and cleared, a sharing violation, a name
# collision, rename by SET_INFO, two users on one connection), a few smbtorture compound tests
# and an encrypted client. audit_compare.py derives every expected line from the audit record and
# what the clients were told, and checks the access log against it; the capture is then replayed
# with the share folders gone and must give the same lines.
#
#   live_audit.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

for tool in tcpdump smbtorture; do
  command -v "$tool" >/dev/null || { echo "SKIP: needs $tool"; exit 77; }
done
"$py" -c 'import impacket.smb3' 2>/dev/null || { echo "SKIP: needs python3-impacket"; exit 77; }
[ -e /usr/lib/x86_64-linux-gnu/samba/vfs/full_audit.so ] || ls /usr/lib/*/samba/vfs/full_audit.so >/dev/null 2>&1 ||
  { echo "SKIP: needs samba-vfs-modules (full_audit)"; exit 77; }

SMB_MIN_PROTOCOL=NT1
SMB_USER2=qvxuser2
SMB_PASS2=Qvx-pass-2
# One log file per smbd process, so that no two processes interleave their records.
SMB_CONF_GLOBAL="  log level = 1
  log file = @SMB_DIR@/log/audit.%d
  vfs objects = full_audit
  full_audit:prefix = %u|%I|%S
  full_audit:syslog = false
  full_audit:success = connect disconnect create_file mkdirat unlinkat renameat pwrite pwrite_send ftruncate fallocate
  full_audit:failure = connect create_file mkdirat unlinkat renameat"
SMB_CONF_SHARES="
[ro]
  path = @SMB_DIR@/share/ro
  read only = yes

[enc]
  path = @SMB_DIR@/share/enc
  read only = no
  smb encrypt = required"
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up
user=$SMB_USER
user2=$SMB_USER2

# ---- the world the clients find ----
root=$QVX_SMB_DIR/share
docs=$root/docs
mkdir -p "$root/ro" "$root/enc" "$docs/s3" "$docs/s1" "$docs/imp/two"
for d in s3 s1; do
  printf 'get me\n' >"$docs/$d/getme.txt"
  printf 'old text\n' >"$docs/$d/existing.txt"
  printf 'rename me\n' >"$docs/$d/renameme.txt"
  printf 'delete me\n' >"$docs/$d/deleteme.txt"
  mkdir "$docs/$d/listed"
  printf 'x\n' >"$docs/$d/listed/inside.txt"
done
for f in p1 p2 p3 p4 w after-write doc disp keep share exists ren; do printf '%s\n' "$f" >"$docs/imp/$f.txt"; done
for f in u1 u2 u1b u2b; do printf '%s\n' "$f" >"$docs/imp/two/$f.txt"; done
printf 'read only\n' >"$root/ro/r.txt"
printf 'secret\n' >"$root/enc/e.txt"
chmod -R a+rwX "$root"
for f in "$docs/s3/secret.txt" "$docs/s1/secret.txt" "$docs/imp/secret.txt"; do
  printf 'no one\n' >"$f"
  chmod 000 "$f"
done
# Only the first user may read this one.
printf 'mine\n' >"$docs/imp/two/only1.txt"
chown "$user" "$docs/imp/two/only1.txt"
chmod 600 "$docs/imp/two/only1.txt"

home=$(mktemp -d)
find "$root" >"$home/before.txt"
printf 'a new file\n' >"$home/new.txt"
printf 'replacement\n' >"$home/replace.txt"

# ---- the recorders: tcpdump on the client's side, quorvix in the server's namespace ----
qvx_client_record "$home/cap.pcap"
ini=$'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
qvx_live_start "$bin" "$ini"

# ---- the clients: fresh connections, all at once ----
round() { # folder: a round of file work in one smbclient run
  local d=$1
  echo "ls; cd $d; ls; ls listed\\*; get getme.txt $home/got-$d.txt; put $home/new.txt new.txt;
put $home/replace.txt existing.txt; rename renameme.txt renamed.txt; mkdir newdir; rmdir newdir;
del deleteme.txt; get missing.txt $home/missing-$d.txt; get secret.txt $home/secret-$d.txt" | tr '\n' ' '
}
nt1=(-m NT1 --option='client min protocol=NT1')
plain=(--option='client smb encrypt=off')
pids=()
smb_client "//$SMB_SERVER_IP/docs" -U "$user%$SMB_PASS" "${plain[@]}" -c "$(round s3)" >"$home/c-s3.out" 2>&1 &
pids+=($!)
smb_client "//$SMB_SERVER_IP/docs" -U "$user%$SMB_PASS" "${plain[@]}" "${nt1[@]}" -c "$(round s1)" \
  >"$home/c-s1.out" 2>&1 &
pids+=($!)
smb_client "//$SMB_SERVER_IP/ro" -U "$user%$SMB_PASS" "${plain[@]}" -c "get r.txt $home/r3.txt; put $home/new.txt put3.txt" \
  >"$home/c-ro3.out" 2>&1 &
pids+=($!)
smb_client "//$SMB_SERVER_IP/ro" -U "$user2%$SMB_PASS2" "${plain[@]}" "${nt1[@]}" -c "put $home/new.txt put1.txt" \
  >"$home/c-ro1.out" 2>&1 &
pids+=($!)
smb_client "//$SMB_SERVER_IP/enc" -U "$user2%$SMB_PASS2" --client-protection=encrypt \
  -c "get e.txt $home/e.txt; put $home/new.txt enc-new.txt" >"$home/c-enc.out" 2>&1 &
pids+=($!)
ip netns exec "$SMB_NS_C" "$py" "$here/impacket_cases.py" "$SMB_SERVER_IP" docs imp "$user" "$SMB_PASS" \
  "$user2" "$SMB_PASS2" "$home/impacket.json" >"$home/c-imp.out" 2>&1 &
imp=$!
(
  for t in smb2.compound.related1 smb2.compound.related2 smb2.compound.related3 smb2.compound.unrelated1 \
    smb2.compound.create-write-close smb2.compound.interim1 smb2.compound_find.compound_find_related; do
    ip netns exec "$SMB_NS_C" smbtorture "//$SMB_SERVER_IP/docs" -U "$user%$SMB_PASS" "$t" || echo "FAILED: $t"
  done
) >"$home/c-torture.out" 2>&1 &
torture=$!
for p in "${pids[@]}"; do wait "$p" || true; done
wait "$imp" || fail "impacket clients: $(cat "$home/c-imp.out")"
wait "$torture"
! grep -q '^FAILED' "$home/c-torture.out" || fail "smbtorture: $(grep -e '^FAILED' -e 'failure' "$home/c-torture.out")"

# The clients did their work (or the comparison below would judge a world that did not happen).
for d in s3 s1; do
  [ -f "$docs/$d/new.txt" ] && [ -f "$docs/$d/renamed.txt" ] && [ ! -e "$docs/$d/deleteme.txt" ] &&
    [ ! -e "$docs/$d/newdir" ] && [ "$(cat "$docs/$d/existing.txt")" = replacement ] ||
    fail "smbclient ($d) did not do its work: $(cat "$home/c-$d.out")"
  grep -q 'NT_STATUS_ACCESS_DENIED opening remote file .*secret.txt' "$home/c-$d.out" ||
    fail "smbclient ($d): the forbidden file was not refused: $(cat "$home/c-$d.out")"
done
grep -q 'NT_STATUS_ACCESS_DENIED' "$home/c-ro3.out" && grep -q 'NT_STATUS_ACCESS_DENIED' "$home/c-ro1.out" ||
  fail "the read-only share took a file: $(cat "$home"/c-ro*.out)"
[ -f "$root/enc/enc-new.txt" ] && [ -f "$home/e.txt" ] || fail "the encrypted client: $(cat "$home/c-enc.out")"
[ ! -e "$docs/imp/doc.txt" ] && [ ! -e "$docs/imp/disp.txt" ] && [ -f "$docs/imp/keep.txt" ] &&
  [ -f "$docs/imp/renamed.txt" ] || fail "impacket clients did not do their work: $(ls "$docs/imp")"

qvx_live_settle_stop
qvx_client_record_stop
mkdir "$home/audit"
cp "$QVX_SMB_DIR"/log/audit.* "$home/audit/"
cp "$SMB_CONF" "$home/smb.conf"

status=0
"$py" "$here/audit_compare.py" live --conf "$SMB_CONF" --audit "$home/audit" --before "$home/before.txt" \
  --log "$home/Quorvix.log" --client "$SMB_CLIENT_IP" --encrypted-share enc \
  --told "$user:docs:$home/c-s3.out" --told "$user:docs:$home/c-s1.out" \
  --told "$user:ro:$home/c-ro3.out" --told "$user2:ro:$home/c-ro1.out" \
  --impacket "$home/impacket.json" || status=1

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
[ "$status" = 0 ] || { echo "FAIL: the access log does not match the server's audit record"; exit 1; }
echo "live audit: ok"
