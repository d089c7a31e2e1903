#!/usr/bin/env bash
# A busy moment, live: eight smbclient processes start together and each gets 1,500 distinct
# files as fast as it can, while quorvix captures in the server's namespace with its shipped
# defaults (lines made durable, idle wait, capture buffer) and tcpdump records the same traffic.
# The access log is on a disk whose every flush takes 3 ms (slow_disk.sh), as a busy server's
# may: a monitor that made each line durable before reading the next frame fell behind here. The capture tcpdump made is the ground truth (burst_check.py): every file the server
# opened for a get must be named by the access log with its local path, at least once and no more
# often than the server opened it (the repeat check may leave a second open unlogged), and the
# capture must report no dropped frame. With "json" the JSON Lines file is on too and is judged
# the same way.
#
#   live_burst.sh QUORVIX SLOW_FLUSH_FS [json]
#
# Needs root, network namespaces, FUSE, tcpdump and tshark; exits 77 (skipped) where they are
# missing.
set -euo pipefail
bin=$1
fs=$2
json=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
for t in tcpdump tshark python3; do
  command -v $t >/dev/null || { echo "SKIP: $t is not installed"; exit 77; }
done
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
. "$here/../support/tcpdump_truth.sh"
. "$here/../support/slow_disk.sh"
. "$here/../support/burst_clients.sh"
smb_up
slow_disk_up "$fs" 3

# A sanitizer build is several times slower: its run sets a smaller burst (CMakeLists.txt).
clients=${QVX_BURST_CLIENTS:-8}
files=${QVX_BURST_FILES:-1500}
burst_files $clients $files

home=$(mktemp -d)
# The ground truth: every frame to or from port 445 on the server's side of the veth.
truth_start "$home/cap.pcap"

# Only what an operator must set; everything else at its default.
ini=$'LogFileWriteFlg=1\r\n'"LogFilePath=$slow/Quorvix.log"$'\r\n'
[ "$json" = json ] && ini+=$'JsonLogFlg=1\r\n'
qvx_live_start "$bin" "$ini"
# The busy moment comes to a monitor that is already running: past the capture thread's
# start-up wait (ServiceTaskWait) before its first receive.
sleep 1.5

started=$EPOCHREALTIME
burst_start
burst_wait
ended=$EPOCHREALTIME
echo "burst: $((clients * files)) gets in $(echo "$ended - $started" | bc) s"

# The capture works through what the burst left in its buffer, and lines may reach the files
# up to a second after their access; once the logs stop growing, capture ends the normal way.
count() { { cat "$slow/Quorvix.log" "$slow/Quorvix.jsonl" 2>/dev/null || true; } | wc -l; }
last=-1
for _ in $(seq 120); do
  now=$(count)
  [ "$now" = "$last" ] && break
  last=$now
  sleep 2
done
qvx_live_stop
truth_stop

args=(--pcap "$home/cap.pcap" --prefix "$share/" --log "$slow/Quorvix.log" --expect $((clients * files)))
[ "$json" = json ] && args+=(--json "$slow/Quorvix.jsonl")
rc=0
python3 "$here/burst_check.py" burst "${args[@]}" || rc=$?
kernel=$(cat "$home"/QVXkernel/QVXkernel*.log | tr -d '\r')
# A segment the capture missed shows as a gap in its stream, told like a drop.
for lost in "frames dropped by the capture" "gaps in the SMB stream"; do
  if grep -q "$lost" <<<"$kernel" || grep -q "$lost" "$home/out"; then
    fail "the capture reports loss: $(grep "$lost" <<<"$kernel" | head -n 3)"
  fi
done
[ "$rc" = 0 ] || fail "the access log does not match the capture"
echo "live burst${json:+ ($json)}: ok"
