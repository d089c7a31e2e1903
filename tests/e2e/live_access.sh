#!/usr/bin/env bash
# The main job, live: smbd serves a folder in one network namespace, quorvix captures in that
# namespace with the access log on, and smbclient in another namespace gets a file, puts a new
# one, overwrites one, renames one, makes and removes a folder and deletes a file; then two more
# fresh clients each get a file and leave at once. These clients are new: no session of theirs
# exists before they connect. The access log must then name each access with the real local
# path, the user the client logged on as and the operation the logging rules give for the
# DesiredAccess smbclient sends (as recorded from it: get 0x120089, put 0x12019f,
# delete/rename/rmdir 0x10000, mkdir 0x80) and the files' time stamps; no access or connect line
# may lack the user. A client connected before the capture starts gets a file too: its user
# comes from the server's list.
#
#   live_access.sh QUORVIX [NT1]
#
# With NT1 the server admits SMB1 and smbclient speaks it (-m NT1): opens are NT Create AndX
# requests, the rename is SMB_COM_RENAME (a "ReNm" line with both paths) and the folder removal
# SMB_COM_DELETE_DIRECTORY (a "Del" line); the user of the accesses is the log-on's user in
# capitals.
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
dialect=${2:-}
client_opts=()
create=SMB2_CREATE
if [ "$dialect" = NT1 ]; then
  SMB_MIN_PROTOCOL=NT1
  client_opts=(-m NT1 --option='client min protocol=NT1')
  create=SMB_COM_NT_CREATE_ANDX
fi
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up

share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/work"
printf 'get me\n' >"$share/work/getme.txt"
printf 'old text\n' >"$share/work/existing.txt"
printf 'rename me\n' >"$share/work/renameme.txt"
printf 'delete me\n' >"$share/work/deleteme.txt"
chmod -R a+rwX "$share"

home=$(mktemp -d)
# A client connected before the capture starts: its log-on is never seen, so the user of its tree
# (guessed from the path) can only come from the server's session list. It gets a file once
# capture runs, and leaves before the fresh clients come.
(
  while [ ! -e "$home/go" ]; do sleep 0.1; done
  echo "get work/getme.txt $home/early.txt"
  sleep 1
) | smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
  "${client_opts[@]}" >"$home/early" 2>&1 &
early=$!
listed() { smbstatus -s "$SMB_CONF" -j 2>/dev/null | grep -q "\"username\": *\"$SMB_USER\""; }
for _ in $(seq 50); do
  listed && break
  sleep 0.1
done
listed || fail "the early client has no session: $(cat "$home/early")"

qvx_live_start "$bin" $'LogFileWriteFlg=1\r\nSMBcmdListFlg=1\r\nNbtstatChgOn=0\r\nServiceTaskWait=100\r\nRefleshTime=1\r\nSameAccNonLogFlg=0\r\n'
sleep 0.5

# The name the clients log on with (a local account: the server knows it by the same name).
user=$SMB_USER

start=$(date +%s)
touch "$home/go"
wait "$early" || fail "the early client: $(cat "$home/early")"
# Gone from the server's list before the fresh clients come, so that it names none of them.
for _ in $(seq 50); do
  listed || break
  sleep 0.1
done
listed && fail "the early client's session outlived it"

printf 'new file\n' >"$home/local-new.txt"
printf 'replaced\n' >"$home/local-replace.txt"
smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
  "${client_opts[@]}" -c "cd work; get getme.txt $home/got.txt; put $home/local-new.txt new.txt; \
put $home/local-replace.txt existing.txt; rename renameme.txt renamed.txt; mkdir newdir; \
rmdir newdir; del deleteme.txt" >"$home/client" 2>&1 || fail "smbclient: $(cat "$home/client")"
# Two more fresh clients, each in and out within moments.
for i in 1 2; do
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
    "${client_opts[@]}" -c "cd work; get getme.txt $home/got$i.txt" >"$home/client$i" 2>&1 ||
    fail "smbclient $i: $(cat "$home/client$i")"
done
end=$(date +%s)
sleep 2
qvx_live_stop

[ -f "$share/work/new.txt" ] && [ -f "$share/work/renamed.txt" ] && [ ! -e "$share/work/deleteme.txt" ] ||
  fail "smbclient did not do its work: $(cat "$home/client")"

log=$(tr -d '\r' <"$home/Quorvix.log")
# One access line of a command (the create command unless given) on path with one of the allowed
# operations.
expect() {
  local path=$1 ops=$2 what=$3 cmd=${4:-$create} line op
  line=$(awk -F, -v p="$path" -v c="$cmd" '$2 == "access" && $9 == c && $13 == p' <<<"$log" |
    head -n 1)
  [ -n "$line" ] || fail "no access line for $what ($path)"
  IFS=, read -r t action tid login client server cmac smac cmd info size op rest <<<"$line"
  # SMB1 names the log-on's user in capitals.
  [ "$login" = "$user" ] || { [ "$dialect" = NT1 ] && [ "$login" = "${user^^}" ]; } ||
    fail "$what: user '$login', the client logged on as '$user'"
  [ "$client" = "$SMB_CLIENT_IP" ] && [ "$server" = "$SMB_SERVER_IP" ] || fail "$what: addresses $client $server"
  local secs
  secs=$(date -d "$(tr '/' '-' <<<"${t:1:19}")" +%s)
  # The capture thread handles a frame moments after it crossed the wire.
  [ "$secs" -ge "$start" ] && [ "$secs" -le $((end + 2)) ] || fail "$what: time $t outside the client's run"
  grep -qx "$op" <<<"$(tr '|' '\n' <<<"$ops")" || fail "$what: operation '$op', expected one of '$ops'"
  echo "ok: $what -> $op $path"
}
w=$share/work
expect "$w/getme.txt" "Rd  " "get"
grep -q ",access,.*,$create,.*,7,Rd  ,$w/getme.txt$" <<<"$log" || fail "get: size of getme.txt"
# What the server did, as its answers say: the put made new.txt and overwrote existing.txt.
expect "$w/new.txt" "New " "put (new file)"
expect "$w/existing.txt" "Wt  " "put (over an existing file)"
if [ "$dialect" = NT1 ]; then
  expect "$w/renameme.txt >> $w/renamed.txt" "ReNm" "rename" SMB_COM_RENAME
  expect "$w/newdir" "Del " "rmdir" SMB_COM_DELETE_DIRECTORY
  grep -q ",session,,${user^^},$SMB_CLIENT_IP,$SMB_SERVER_IP," <<<"$log" || fail "no session line"
else
  expect "$w/renameme.txt >> $w/renamed.txt" "ReNm" "rename" SMB2_SET_INFO
  # The folder is made, then removed: a line for each.
  expect "$w/newdir" "New " "mkdir"
  awk -F, -v p="$w/newdir" '$2 == "access" && $12 == "Del " && $13 == p' <<<"$log" | grep -q . ||
    fail "no Del line for rmdir ($w/newdir)"
  expect "$w/deleteme.txt" "Del " "del"
  # The old name of the rename is no access of its own, and nothing that only listed a folder
  # removed it.
  awk -F, -v p="$w/renameme.txt" '$2 == "access" && $13 == p' <<<"$log" | grep -q . &&
    fail "a line for the rename's old name on its own"
  awk -F, -v p="$w" '$2 == "access" && $12 == "Del " && $13 == p' <<<"$log" | grep -q . &&
    fail "the listed folder logged as deleted"
fi
grep -qi ",login,WAIT[0-9]*,.*,\\\\\\\\$SMB_SERVER_IP\\\\docs \[T:" <<<"$log" || fail "no login line for the share"
grep -qi ",connect,-\?[0-9]*,$user,.*\\\\docs \[T:" <<<"$log" || fail "no connect line for the share"
# Each client's get was logged with its user, and no line names nobody (SMB1 may spell the name
# in capitals).
n=$(grep -ci ",access,[0-9-]*,$user,$SMB_CLIENT_IP,.*,$create,.*,Rd  ,$w/getme.txt$" <<<"$log" || true)
[ "$n" -ge 4 ] || fail "$n access lines of getme.txt with user $user, expected one per client (4)"
# The early client's tree had no connect line: its access was on a guessed tree.
early_lines=$(awk -F, -v p="$w/getme.txt" -v c="$create" '$2 == "connect" { seen[$3] = 1 }
  $2 == "access" && $9 == c && $13 == p && !($3 in seen)' <<<"$log")
[ -n "$early_lines" ] || fail "no access line of the early client"
echo "ok: the early client's get -> $(cut -d, -f2-4 <<<"$early_lines" | head -n 1)"
n=$(grep -ci ",connect,[0-9-]*,$user,$SMB_CLIENT_IP,.*\\\\docs \[T:" <<<"$log" || true)
[ "$n" -ge 3 ] || fail "$n connect lines of the share with user $user, expected one per client (3)"
bad=$(awk -F, -v u="$user" '($2 == "access" || $2 == "connect") && tolower($4) != tolower(u)' <<<"$log")
[ -z "$bad" ] || fail "lines without the user: $bad"
echo "live access: ok"
