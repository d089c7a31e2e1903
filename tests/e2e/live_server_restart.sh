#!/usr/bin/env bash
# smbd is killed and started again while a client holds a tree: the connection ends (the dying
# server's sockets close), and the tree ends with its logout line at once, not whenever a
# session list might say so.
#
#   live_server_restart.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
/usr/bin/python3 -c 'import impacket' 2>/dev/null || { echo "SKIP: needs python3-impacket"; exit 77; }
smb_up
share=$QVX_SMB_DIR/share/docs
echo one >"$share/a.txt"
chmod -R a+rwX "$share"

# Session lists are read rarely (the default): only the connection's end can end the tree soon.
qvx_live_start "$bin" $'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
mkdir -p "$home/got"
# The client gets a file, then waits with its tree connected.
ip netns exec "$SMB_NS_C" /usr/bin/python3 - "$SMB_SERVER_IP" "$SMB_USER" "$SMB_PASS" "$home/got/a.txt" \
  >"$home/client" 2>&1 <<'PY' &
import sys, time
from impacket.smbconnection import SMBConnection
from impacket.smb3structs import SMB2_DIALECT_21
server, user, password, mark = sys.argv[1:5]
# SMB 2.1: from 3.0 on the client encrypts whenever the server offers it.
conn = SMBConnection(server, server, sess_port=445, preferredDialect=SMB2_DIALECT_21)
conn.login(user, password)
tid = conn.connectTree('docs')
fid = conn.openFile(tid, 'a.txt')
data = conn.readFile(tid, fid)
conn.closeFile(tid, fid)
open(mark, 'wb').write(data)
time.sleep(8)  # the tree stays connected
PY
client=$!
for _ in $(seq 50); do [ -f "$home/got/a.txt" ] && break; sleep 0.1; done
[ -f "$home/got/a.txt" ] || fail "the client did not get its file: $(cat "$home/client")"
for _ in $(seq 50); do
  tr -d '\r' <"$home/Quorvix.log" | grep -q ',connect,' && break
  sleep 0.1
done
tr -d '\r' <"$home/Quorvix.log" | grep -q ',connect,' || fail "no connect line for the client's tree"

# The server dies with the session open, and comes back.
killed=$(date +%s)
for p in $(ip netns pids "$SMB_NS_S"); do
  [ "$(cat "/proc/$p/comm" 2>/dev/null)" = smbd ] && kill -9 "$p" 2>/dev/null || true
done
sleep 0.3
smb_server setsid -f smbd -D --no-process-group -s "$SMB_CONF"
sleep 2
wait "$client" || true
lines=$(tr -d '\r' <"$home/Quorvix.log")
qvx_live_stop

tid=$(awk -F, '$2 == "connect" && $13 ~ /\\docs / { print $3; exit }' <<<"$lines")
[ -n "$tid" ] || fail "no connect line of docs"
out=$(awk -F, -v t="$tid" '$2 == "logout" && $3 == t { print substr($1, 2, 19); exit }' <<<"$lines")
[ -n "$out" ] || fail "the tree $tid of the dead session has no logout line"
secs=$(date -d "$(tr '/' '-' <<<"$out")" +%s)
[ "$secs" -ge "$killed" ] && [ "$secs" -le $((killed + 2)) ] ||
  fail "the tree's logout line says $out, the server died at $(date -d "@$killed" '+%H:%M:%S')"
echo "live server restart: ok"
