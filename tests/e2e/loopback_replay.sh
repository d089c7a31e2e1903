#!/usr/bin/env bash
# The server's own traffic: inside the server's namespace smbclient connects to the server's own
# address, so every frame on the loopback interface carries that address at both ends. tcpdump
# records it on lo; quorvix replays the capture. Requests (to port 445) and answers (from it) must
# be told apart: the share's connect line, the user of the log-on and an access line for each
# file the client touched, and no "unknown" tree.
#
#   loopback_replay.sh QUORVIX
#
# Needs root, network namespaces and tcpdump; exits 77 (skipped) where they cannot be had.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
command -v tcpdump >/dev/null || {
  echo "SKIP: needs tcpdump"
  exit 77
}
trap 'kill $(jobs -p) 2>/dev/null || true; smb_down' EXIT
smb_up
smb_home
home=$SMB_HOME

share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/work"
printf 'get me\n' >"$share/work/getme.txt"
chmod -R a+rwX "$share"
printf 'new file\n' >"$home/local-new.txt"

cap=$home/loopback.pcap
# Started directly (not through a shell function) so that $! is tcpdump itself.
ip netns exec "$SMB_NS_S" tcpdump -i lo --immediate-mode -U -w "$cap" "tcp port 445" 2>"$home/tcpdump.err" &
tpid=$!
for _ in $(seq 50); do
  grep -qs "listening on" "$home/tcpdump.err" && break
  sleep 0.1
done
grep -qs "listening on" "$home/tcpdump.err" || smb_fail "tcpdump did not start: $(cat "$home/tcpdump.err")"
smb_server smbclient "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" \
  --option='client smb encrypt=off' \
  -c "cd work; get getme.txt $home/got.txt; put $home/local-new.txt new.txt" \
  >"$home/client" 2>&1 || smb_fail "smbclient: $(cat "$home/client")"
sleep 1
kill -INT "$tpid"
wait "$tpid" || true
[ -f "$share/work/new.txt" ] || smb_fail "smbclient did not do its work: $(cat "$home/client")"

printf '[Option]\r\nIpAddress=%s\r\nLogFileWriteFlg=1\r\nSMBcmdListFlg=1\r\nNbtstatChgOn=0\r\nServiceTaskWait=0\r\n' \
  "$SMB_SERVER_IP" >"$home/Quorvix.ini"
(cd "$home" && "$bin" --home "$home" --replay "$cap" --smb-conf "$SMB_CONF" SC >"$home/out" 2>&1) ||
  smb_fail "quorvix: $(cat "$home/out")"

log=$(tr -d '\r' <"$home/Quorvix.log")
# Both ends are the server's address on every line.
grep -q ",connect,-\?[0-9]*,$SMB_USER,$SMB_SERVER_IP,$SMB_SERVER_IP,.*\\\\docs \[T:" <<<"$log" ||
  smb_fail "no connect line for the share"
grep -q ",access,-\?[0-9]*,$SMB_USER,$SMB_SERVER_IP,$SMB_SERVER_IP,.*,SMB2_CREATE,.*,Rd  ,$share/work/getme.txt$" \
  <<<"$log" || smb_fail "no read of getme.txt"
grep -q ",access,-\?[0-9]*,$SMB_USER,.*,SMB2_CREATE,.*,\(New \|Wt  \),$share/work/new.txt$" <<<"$log" ||
  smb_fail "no write of new.txt"
! grep -q ",unknown," <<<"$log" || smb_fail "a tree was unknown"
echo "loopback replay: ok"
