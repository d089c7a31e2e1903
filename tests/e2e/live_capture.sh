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
skip() {
  echo "SKIP: $*"
  exit 77
}
fail() {
  echo "FAIL: $*"
  [ -n "${work:-}" ] && tail -n 30 "$work"/home/QVXkernel/QVXkernel*.log 2>/dev/null
  exit 1
}

[ "$(id -u)" -eq 0 ] || skip "needs root for network namespaces"
for t in ip smbd smbclient smbpasswd; do
  command -v "$t" >/dev/null || skip "$t is not installed"
done

tag=$$
ns_srv=qvxlive-srv-$tag
ns_cli=qvxlive-cli-$tag
veth_srv=qvls$tag
veth_cli=qvlc$tag
srv_ip=10.213.1.1
cli_ip=10.213.1.2
user=qvxuser
pass='Qvx-Live-Pass1'
work=$(mktemp -d)
qpid=
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null && wait "$qpid" 2>/dev/null
  [ -f "$work/run/smbd.pid" ] && kill "$(cat "$work/run/smbd.pid")" 2>/dev/null
  ip netns pids "$ns_srv" 2>/dev/null | xargs -r kill 2>/dev/null
  ip netns pids "$ns_cli" 2>/dev/null | xargs -r kill 2>/dev/null
  sleep 0.2
  ip netns del "$ns_srv" 2>/dev/null
  ip netns del "$ns_cli" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$ns_srv" 2>/dev/null || skip "cannot create network namespaces here"
ip netns add "$ns_cli" || skip "cannot create network namespaces here"
ip link add "$veth_srv" type veth peer name "$veth_cli" || skip "cannot create a veth pair here"
ip link set "$veth_srv" netns "$ns_srv"
ip link set "$veth_cli" netns "$ns_cli"
ip -n "$ns_srv" addr add "$srv_ip/24" dev "$veth_srv"
ip -n "$ns_cli" addr add "$cli_ip/24" dev "$veth_cli"
ip -n "$ns_srv" link set lo up
ip -n "$ns_cli" link set lo up
ip -n "$ns_srv" link set "$veth_srv" up
ip -n "$ns_cli" link set "$veth_cli" up
ip netns exec "$ns_srv" ethtool -K "$veth_srv" tso off gso off gro off >/dev/null 2>&1
ip netns exec "$ns_cli" ethtool -K "$veth_cli" tso off gso off gro off >/dev/null 2>&1

mkdir -p "$work"/{private,lock,state,cache,run,log,share/docs,home}
echo "hello" >"$work/share/docs/hello.txt"
id "$user" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$user" || skip "cannot add a user"
chown -R "$user" "$work/share"
chmod 755 "$work"
cat >"$work/smb.conf" <<EOF
[global]
  interfaces = $srv_ip/24
  bind interfaces only = yes
  smb ports = 445
  disable netbios = yes
  private dir = $work/private
  lock directory = $work/lock
  state directory = $work/state
  cache directory = $work/cache
  pid directory = $work/run
  log file = $work/log/smbd.%m
  passdb backend = tdbsam
  server smb encrypt = off
  load printers = no
  printcap name = /dev/null
  disable spoolss = yes
[share]
  path = $work/share
  read only = no
  valid users = $user
EOF
printf '%s\n%s\n' "$pass" "$pass" | smbpasswd -c "$work/smb.conf" -s -a "$user" >/dev/null ||
  fail "smbpasswd"
# Its own session: smbd signals its whole process group when it ends.
setsid ip netns exec "$ns_srv" smbd -D --no-process-group -s "$work/smb.conf" </dev/null ||
  fail "smbd did not start"
for _ in $(seq 100); do
  ip netns exec "$ns_cli" bash -c "exec 3<>/dev/tcp/$srv_ip/445" 2>/dev/null && break
  sleep 0.1
done

# quorvix on the server's veth: the adapter is found by IpAddress.
printf '[Option]\r\nIpAddress=%s\r\nErrorLevel=6\r\nAutoStart=1\r\nServiceTaskWait=100\r\n' \
  "$srv_ip" >"$work/home/Quorvix.ini"
ip netns exec "$ns_srv" "$bin" --home "$work/home" --smb-conf "$work/smb.conf" SC \
  >"$work/out" 2>&1 &
qpid=$!
kernel=
for _ in $(seq 100); do
  kernel=$(ls "$work"/home/QVXkernel/QVXkernel*.log 2>/dev/null)
  [ -n "$kernel" ] && grep -q "QVX_I03-002" "$kernel" && break
  sleep 0.1
done
[ -n "$kernel" ] && grep -q "QVX_I03-002" "$kernel" || fail "capture did not start: $(cat "$work/out")"
grep -q "WPCAPオブジェクトオープン。\[$veth_srv\]" "$kernel" || fail "not capturing on $veth_srv"
sleep 0.5

ip netns exec "$ns_cli" smbclient "//$srv_ip/share" -U "$user%$pass" \
  --option='client smb encrypt=off' -c 'ls; cd docs; ls' >"$work/client" 2>&1 ||
  fail "smbclient: $(cat "$work/client")"
grep -q hello.txt "$work/client" || fail "smbclient did not list the share"
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
