#!/usr/bin/env bash
# Live capture: smbd in one network namespace, smbclient in another, joined by a veth pair;
# quorvix runs in the server's namespace on its veth (found by the server address) while the
# client lists the share, and its kernel log must show the client's SMB2 requests dispatched.
#
#   live_capture.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -uo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
qpid=
home=
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null && wait "$qpid" 2>/dev/null
  [ -n "$home" ] && [ -z "${KEEP:-}" ] && rm -rf "$home"
  smb_down
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -n "$home" ] && tail -n 30 "$home"/QVXkernel/QVXkernel*.log 2>/dev/null
  exit 1
}
smb_up || fail "smbd did not start"
mkdir -p "$QVX_SMB_DIR/share/docs/sub"
echo "hello" >"$QVX_SMB_DIR/share/docs/sub/hello.txt"
chmod -R a+rwX "$QVX_SMB_DIR/share/docs"

# quorvix on the server's veth: the adapter is found by IpAddress.
home=$(mktemp -d)
printf '[Option]\r\nIpAddress=%s\r\nErrorLevel=6\r\nAutoStart=1\r\nServiceTaskWait=100\r\nNbtstatChgOn=0\r\n' \
  "$SMB_SERVER_IP" >"$home/Quorvix.ini"
# Not through the smb_server function: the signal must reach quorvix itself.
ip netns exec "$SMB_NS_S" "$bin" --home "$home" --smb-conf "$SMB_CONF" SC >"$home/out" 2>&1 &
qpid=$!
kernel=
for _ in $(seq 100); do
  kernel=$(ls "$home"/QVXkernel/QVXkernel*.log 2>/dev/null)
  [ -n "$kernel" ] && grep -q "QVX_I03-002" "$kernel" && break
  sleep 0.1
done
[ -n "$kernel" ] && grep -q "QVX_I03-002" "$kernel" || fail "capture did not start: $(cat "$home/out")"
grep -q "WPCAPオブジェクトオープン。\[$SMB_SERVER_DEV\]" "$kernel" || fail "not capturing on $SMB_SERVER_DEV"
sleep 0.5

smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
  -c 'ls; cd sub; ls' >"$home/client" 2>&1 || fail "smbclient: $(cat "$home/client")"
grep -q hello.txt "$home/client" || fail "smbclient did not list the share"
sleep 1.5
kill -TERM "$qpid"
wait "$qpid"
qpid=

count() { tr -d '\r' <"$kernel" | grep -c "Dispatch $1\$"; }
[ "$(count QVX_Smb2TreeConnectAndx)" -ge 1 ] || fail "no SMB2 tree connect dispatched"
[ "$(count QVX_Smb2TreeConnectAndxRecv)" -ge 1 ] || fail "no SMB2 tree connect answer dispatched"
[ "$(count QVX_Smb2FileStandardInfo)" -ge 2 ] || fail "no SMB2 create dispatched"
[ "$(count QVX_Smb2OtherCmd)" -ge 2 ] || fail "no other SMB2 request dispatched"
grep -q "] : Thread End" "$kernel" || fail "capture thread did not end"
echo "live capture: ok ($(tr -d '\r' <"$kernel" | grep -c 'Dispatch ') handler calls)"
