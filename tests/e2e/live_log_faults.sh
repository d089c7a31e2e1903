#!/usr/bin/env bash
# Faults of the access log while a burst of gets comes in, live. smbd serves a folder in one
# network namespace; quorvix and tcpdump capture in it; four lanes in the client namespace each
# run fresh smbclient processes one after another at full speed, every run getting five distinct
# files (600 gets in all). The capture tcpdump made is the ground truth the access log is judged
# by (log_faults_check.py). MODE is the fault:
#
#   sighup     50 SIGHUPs during the burst: every get logged exactly once with its request's
#              second, one header, capture never restarted
#   logrotate  three logrotate runs (create, postrotate SIGHUP) during the burst: the same across
#              the rotated files, one header each
#   full       the log on a 64 KB tmpfs that fills up, then is freed and grown: no partial line,
#              every get either logged or named lost in the kernel log, the console's count
#              right, logging resumes
#   rmdir      the log's folder removed twice (once left for quorvix to make again, once made
#              again at once): a notice each time, and every get after the last removal in the
#              new file exactly once
#
#   live_log_faults.sh MODE QUORVIX
#
# Needs root, network namespaces, tcpdump and tshark; exits 77 (skipped) where they are missing.
set -euo pipefail
mode=$1
bin=$2
here=$(cd "$(dirname "$0")" && pwd)
for t in tcpdump tshark python3; do
  command -v $t >/dev/null || { echo "SKIP: $t is not installed"; exit 77; }
done
[ "$mode" != logrotate ] || command -v logrotate >/dev/null || { echo "SKIP: no logrotate"; exit 77; }
. "$here/../support/smbd_netns.sh"
. "$here/../support/packaged_logrotate.sh"
. "$here/../support/quorvix_live.sh"
capid=
tmpfs=
cleanup() {
  [ -n "$capid" ] && kill "$capid" 2>/dev/null
  [ -n "$tmpfs" ] && umount "$tmpfs" 2>/dev/null
  qvx_cleanup
}
trap cleanup EXIT
smb_up

lanes=4
runs=30
gets=5
share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/burst"
for l in $(seq $lanes); do
  for r in $(seq -w $runs); do
    for g in $(seq -w $gets); do printf 'lane %s run %s get %s\n' "$l" "$r" "$g" >"$share/burst/f$l$r$g.txt"; done
  done
done
chmod -R a+rwX "$share"

home=$(mktemp -d)
logdir=$home
ini=$'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\nSMBcmdListFlg=1\r\n'
case $mode in
  full)
    logdir=$home/logs
    mkdir -p "$logdir"
    mount -t tmpfs -o size=64k,mode=0755 qvxlogfull "$logdir"
    tmpfs=$logdir
    # Room for about a hundred lines: the burst fills it a quarter of the way through.
    dd if=/dev/zero of="$logdir/filler" bs=1k count=40 status=none
    ini+="LogFilePath=$logdir/Quorvix.log"$'\r\n'
    ;;
  rmdir)
    logdir=$home/logs
    mkdir -p "$logdir"
    ini+="LogFilePath=$logdir/Quorvix.log"$'\r\n'
    ;;
esac

# The ground truth: every frame to or from port 445 on the server's side of the veth.
ip netns exec "$SMB_NS_S" tcpdump -i "$SMB_SERVER_DEV" -B 65536 -s 0 -U -w "$home/cap.pcap" 'tcp port 445' \
  2>"$home/tcpdump.err" &
capid=$!
for _ in $(seq 50); do grep -qs "listening on" "$home/tcpdump.err" && break; sleep 0.1; done
grep -qs "listening on" "$home/tcpdump.err" || fail "tcpdump did not start: $(cat "$home/tcpdump.err")"

qvx_live_start "$bin" "$ini"
sleep 1.5  # the capture thread's start-up wait before its first receive

if [ "$mode" = logrotate ]; then
  qvx_logrotate_conf "$logdir" "$qpid" >"$home/logrotate.conf"
fi

# Each lane: fresh smbclient runs back to back, five gets each; a line in progress per run.
: >"$home/progress"
lane() {
  local l=$1 r g cmds
  for r in $(seq -w $runs); do
    cmds="cd burst"
    for g in $(seq -w $gets); do cmds+="; get f$l$r$g.txt /dev/null"; done
    smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >>"$home/client$l" 2>&1 ||
      echo "lane $l run $r failed" >>"$home/clientfail"
    echo "$l $r" >>"$home/progress"
  done
}
progress() { wc -l <"$home/progress"; }
wait_progress() {
  while [ "$(progress)" -lt "$1" ]; do sleep 0.02; done
}
now() { echo "$EPOCHREALTIME"; }
kernel() { cat "$home"/QVXkernel/QVXkernel*.log 2>/dev/null | tr -d '\r'; }

pids=()
for l in $(seq $lanes); do
  lane "$l" &
  pids+=($!)
done
: >"$home/faults"
total_runs=$((lanes * runs))
case $mode in
  sighup)
    wait_progress 2
    for _ in $(seq 50); do
      now >>"$home/faults"
      kill -HUP "$qpid"
      sleep 0.01
    done
    ;;
  logrotate)
    for k in 1 2 3; do
      wait_progress $((k * total_runs / 5))
      now >>"$home/faults"
      logrotate -f -s "$home/logrotate.state" "$home/logrotate.conf" || fail "logrotate failed"
    done
    ;;
  full)
    # Until the disk is full (or the burst is three quarters through), then space again.
    while [ "$(progress)" -lt $((total_runs * 3 / 4)) ] &&
      ! kernel | grep -q "QVX_E11-00[36]"; do sleep 0.05; done
    now >>"$home/faults"
    wait_progress $((total_runs * 3 / 8))
    # Space again, and enough of it for the rest of the burst.
    rm -f "$logdir/filler"
    mount -o remount,size=4m "$logdir"
    now >>"$home/faults"
    ;;
  rmdir)
    wait_progress $((total_runs / 10))
    now >>"$home/faults"
    rm -rf "$logdir"
    sleep 1.1  # at least one check of quorvix's between the two removals
    now >>"$home/faults"
    rm -rf "$logdir"
    mkdir -p "$logdir"  # quorvix may have made it again first
    ;;
esac
for p in "${pids[@]}"; do wait "$p"; done
[ ! -s "$home/clientfail" ] || fail "smbclient failed: $(cat "$home/clientfail"; tail -n 3 "$home"/client*)"

# quorvix works through what the burst left in its buffer; once the log and the kernel log stop
# growing it is stopped the normal way.
sizes() { { cat "$logdir"/Quorvix.log* "$home"/QVXkernel/QVXkernel*.log 2>/dev/null || true; } | wc -c; }
last=-1
for _ in $(seq 30); do
  sleep 1
  cur=$(sizes)
  [ "$cur" = "$last" ] && break
  last=$cur
done
sleep 1.2  # one more check of the log's file, whatever the last second did
qvx_live_stop
kill -TERM "$capid"  # a background job of a script ignores SIGINT
wait "$capid" || true
capid=
grep -q "^0 packets dropped by kernel" "$home/tcpdump.err" ||
  fail "tcpdump dropped frames, the ground truth is incomplete: $(cat "$home/tcpdump.err")"

# The access-log files, oldest first.
logs=()
if [ "$mode" = logrotate ]; then
  for k in 5 4 3 2 1; do [ -f "$logdir/Quorvix.log.$k" ] && logs+=("$logdir/Quorvix.log.$k"); done
  [ "${#logs[@]}" = 3 ] || fail "logrotate left ${#logs[@]} rotated files, expected 3"
fi
logs+=("$logdir/Quorvix.log")
[ -f "$logdir/Quorvix.log" ] || fail "no $logdir/Quorvix.log at the end"

python3 "$here/log_faults_check.py" --mode "$mode" --pcap "$home/cap.pcap" \
  --prefix "$share/burst/" --expect $((lanes * runs * gets)) --faults "$home/faults" \
  --console "$home/out" --kernel "$home"/QVXkernel/QVXkernel*.log -- "${logs[@]}" ||
  fail "the access log does not match the capture"
echo "live log faults ($mode): ok"
