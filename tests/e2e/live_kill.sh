#!/usr/bin/env bash
# quorvix killed outright (SIGKILL) in the middle of a busy moment, live: eight smbclient
# processes each get 1,000 distinct files as fast as they can while quorvix captures in the
# server's namespace with its shipped defaults and tcpdump records the same traffic. Once half
# of the files have arrived at the clients, quorvix is sent SIGKILL; the clients go on to the
# end. Judged by the capture (burst_check.py): the access log ends with a whole line, no line
# is split or doubled, and every file whose open the server answered more than a second before
# the kill has its line.
#
#   live_kill.sh QUORVIX
#
# Needs root, network namespaces, tcpdump and tshark; exits 77 (skipped) where they are missing.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
for t in tcpdump tshark python3; do
  command -v $t >/dev/null || { echo "SKIP: $t is not installed"; exit 77; }
done
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
. "$here/../support/tcpdump_truth.sh"
. "$here/../support/burst_clients.sh"
smb_up

# A sanitizer build is several times slower: its run sets a smaller burst (CMakeLists.txt).
clients=${QVX_BURST_CLIENTS:-8}
files=${QVX_BURST_FILES:-1000}
burst_files $clients $files

home=$(mktemp -d)
truth_start "$home/cap.pcap"

qvx_live_start "$bin" $'LogFileWriteFlg=1\r\n'
sleep 1.5  # a monitor already running: past the capture thread's start-up wait
# ip netns exec runs the program in its own place, so the job's pid is quorvix itself.
[ "$(cat "/proc/$qpid/comm" 2>/dev/null)" = quorvix ] || fail "pid $qpid is not quorvix"

burst_start
# Half-way: the files the clients have received so far.
shopt -s nullglob
arrived() {
  local c n=0 got
  for c in $(seq $clients); do
    got=("$home/got$c"/*)
    n=$((n + ${#got[@]}))
  done
  echo $n
}
while [ "$(arrived)" -lt $((clients * files / 2)) ]; do sleep 0.05; done
kill_at=$(date +%s.%N)
kill -KILL "$qpid"
wait "$qpid" 2>/dev/null || true
qpid=
echo "SIGKILL at $kill_at, $(arrived) of $((clients * files)) files at the clients"

burst_wait
truth_stop

python3 "$here/burst_check.py" kill --pcap "$home/cap.pcap" --prefix "$share/" \
  --log "$home/Quorvix.log" --expect $((clients * files)) --kill-at "$kill_at" || fail "the access log does not match the capture"
echo "live kill: ok"
