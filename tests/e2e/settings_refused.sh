#!/usr/bin/env bash
# Bad settings in Quorvix.ini are refused at start-up, each on the console and in the kernel log
# by key, value given and value used; a replay then runs as it does with the values used. Where no
# value will do (an access log that cannot be had, a live capture that cannot be opened) the run
# ends at once with status 1 and one console line; --keep-trying keeps a live run waiting instead.
#
#   settings_refused.sh QUORVIX CAPTURE SMB_CONF
set -euo pipefail
bin=$1
capture=$2
conf=$3
. "$(dirname "$0")/../support/e2e_scratch.sh"
home=$work/home
mkdir "$home"

# Writes the ini from its arguments (one key=value each) and runs quorvix with the rest of the
# command line ($run_args) for at most 20 s; the status goes to $status.
ini() { { printf '[Option]\r\nNbtstatChgOn=0\r\n'; printf '%s\r\n' "$@"; } >"$home/Quorvix.ini"; }
run() {
  rm -rf "$home/QVXkernel" "$home/Quorvix.log"
  status=0
  timeout 20 "$bin" --home "$home" "$@" SC >"$work/out.txt" 2>"$work/err.txt" || status=$?
  [ "$status" != 124 ] || fail "still running after 20 s: $*"
  kernel=$(ls "$home"/QVXkernel/QVXkernel*.log 2>/dev/null) || fail "no kernel log"
}
replay() { run --replay "$capture" --smb-conf "$conf"; }
said() { grep -qF -- "$1" "$work/err.txt" || fail "the console does not say: $1"; }

# The replay with good settings, for comparison.
ini LogFileWriteFlg=1
replay
[ "$status" = 0 ] || fail "a clean replay ended with status $status"
grep -q "ended with errors" "$work/err.txt" && fail "a clean replay said it had errors"
grep -q "QVX_E02-033" "$kernel" && fail "good settings were refused"
grep -q ",access,.*/share/docs/report 2026.txt" "$home/Quorvix.log" ||
  fail "the clean replay logged no access"
cp "$home/Quorvix.log" "$work/clean.log"

# Values out of range, not numbers, not addresses: refused, and the replay is the same.
ini LogFileWriteFlg=1 PacketBuffer=-1 IpAddress=266.72.0.257 RefleshTime=ten \
  LogFileChangeChkTime=0 ResetTime=24
replay
[ "$status" = 0 ] || fail "the replay with refused values ended with status $status"
said "Quorvix.ini: PacketBuffer=-1 is refused"
said "; 0 (the default) is used instead"
said "IpAddress=266.72.0.257 is refused"
# In a replay 0.0.0.0 stands for the address that receives TCP port 445 in the capture.
server=$(tshark -r "$capture" -Y 'tcp.dstport == 445' -T fields -e ip.dst 2>/dev/null | sort -u)
[ "$(echo "$server" | wc -l)" = 1 ] || fail "the capture has not one server: $server"
said "; $server (for 0.0.0.0: the machine's first address; in a replay, the server in the capture) is used instead"
said "RefleshTime=ten is refused"
said "LogFileChangeChkTime=0 is refused (allowed: 1 to 86400); 600 (the default) is used instead"
said "ResetTime=24 is refused"
[ "$(grep -c "QVX_E02-033" "$kernel")" = 5 ] || fail "not one kernel-log line per refused value"
grep -q "QVX_E02-033 .*PacketBuffer=-1 " "$kernel" || fail "PacketBuffer not in the kernel log"
cmp -s "$home/Quorvix.log" "$work/clean.log" ||
  fail "the replay with the values used instead logged other lines than the clean one"

ini PacketBuffer=2147483647 'IpAddress=1.2.3'
replay
[ "$status" = 0 ] || fail "the replay with a huge buffer ended with status $status"
said "PacketBuffer=2147483647 is refused (allowed: 0 for 64 MB, or 4096 to 1073741824 bytes); 1073741824 (the maximum) is used instead"
said "IpAddress=1.2.3 is refused"
grep -q "WPCAPバッファセット。\[1073741824\]" "$kernel" || fail "the buffer was not held to 1 GB"

# Live, the refused address is replaced by the machine's first one, and the refusal names it. In a
# namespace of its own the machine has one address; AutoStart=0: nothing is captured.
ns="qvxref-$$"
if ip netns add "$ns" 2>/dev/null; then
  trap 'ip netns del "$ns" 2>/dev/null || true; rm -rf "$work"' EXIT
  ip -n "$ns" link add qr0 type veth peer name qr1
  ip -n "$ns" addr add 10.216.0.1/24 dev qr0
  ip -n "$ns" link set qr0 up
  ip -n "$ns" link set qr1 up
  ini IpAddress=not-an-address AutoStart=0
  rm -rf "$home/QVXkernel"
  status=0
  ip netns exec "$ns" timeout -s TERM 3 "$bin" --home "$home" SC >"$work/out.txt" \
    2>"$work/err.txt" || status=$?
  [ "$status" = 124 ] || fail "the live run with a refused address ended by itself ($status)"
  said "IpAddress=not-an-address is refused"
  said "; 10.216.0.1 (for 0.0.0.0: the machine's first address"
  grep -q "QVX_E02-033 .*IpAddress=not-an-address .*。10.216.0.1 " "$home"/QVXkernel/QVXkernel*.log ||
    fail "the kernel log does not name the address used"
  ip netns del "$ns"
else
  echo "live refused address skipped: no network namespace can be made here"
fi

# An access log that cannot be had while it is on: no run at all.
mkdir "$work/logs.d"
echo text >"$work/plain"
for path in "$work/logs.d" "$work/plain/sub/Quorvix.log"; do
  ini LogFileWriteFlg=1 "LogFilePath=$path"
  replay
  [ "$status" = 1 ] || fail "LogFilePath=$path: status $status"
  [ "$(grep -c "^quorvix: ended with errors" "$work/err.txt")" = 1 ] || fail "no closing line"
  said "quorvix: ended with errors: the access log cannot be used: $path: "
  grep -q "replayed" "$work/err.txt" && fail "LogFilePath=$path: replayed all the same"
done
said "$work/plain is a file, not a folder"
# With the access log off the path is not used.
ini LogFileWriteFlg=0 "LogFilePath=$work/logs.d"
replay
[ "$status" = 0 ] || fail "an unused LogFilePath stopped the run (status $status)"

# A live capture that cannot be opened: no adapter has this address.
ini AutoStart=1 IpAddress=10.255.255.254 ServiceTaskWait=0
run
[ "$status" = 1 ] || fail "live capture that cannot be opened: status $status"
said "quorvix: ended with errors: capture could not be opened on the adapter of 10.255.255.254"

# Told to keep trying, it waits; when ended, it still says the capture never opened.
rm -rf "$home/QVXkernel"
"$bin" --home "$home" --keep-trying SC >"$work/out.txt" 2>"$work/err.txt" &
pid=$!
sleep 2
kill -0 "$pid" 2>/dev/null || fail "--keep-trying did not keep the run going"
said "trying again every 10 s"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
[ "$status" = 1 ] || fail "--keep-trying run that never captured: status $status"
said "quorvix: ended with errors: capture could not be opened on the adapter of 10.255.255.254 by the end"
echo "settings refused: ok"
