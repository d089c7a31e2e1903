#!/usr/bin/env bash
# Replay throughput: frames per second of `quorvix --replay` next to `tshark -r` on the same
# capture of at least 200,000 frames, built here from the recorded test captures (not kept).
#
#   bench/replay_bench.sh QUORVIX [MIN_FRAMES]
set -euo pipefail
bin=$1
min=${2:-200000}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The three recordings one after the other, then the whole doubled until it is big enough. Each
# appended copy is moved later in time by the length of what it follows, so that the clock runs
# forward through the file as it does in a real long capture (sessions open and close, the
# periodic clean-up runs).
mergecap -a -F pcap -w "$work/big.pcap" "$repo"/tests/data/smb2_ops.pcap \
  "$repo"/tests/data/smb1_ops.pcap "$repo"/tests/data/smb2_preconnected.pcap
frames() { capinfos -M -c "$1" 2>/dev/null | awk -F: '/Number of packets/ {gsub(/ /, "", $2); print $2}'; }
span() {  # seconds from the first frame to the last, rounded up, plus one
  capinfos -M -a -e -S "$1" 2>/dev/null |
    awk -F: '/First packet time/ {f = $2} /Last packet time/ {l = $2} END {printf "%d", l - f + 2}'
}
n=$(frames "$work/big.pcap")
while [ "$n" -lt "$min" ]; do
  editcap -t "$(span "$work/big.pcap")" "$work/big.pcap" "$work/later.pcap"
  mergecap -a -F pcap -w "$work/next.pcap" "$work/big.pcap" "$work/later.pcap"
  mv "$work/next.pcap" "$work/big.pcap"
  n=$(frames "$work/big.pcap")
done
size=$(du -h "$work/big.pcap" | cut -f1)

now() { date +%s.%N; }
# tshark: a full decode of every frame, output discarded.
t0=$(now)
tshark -r "$work/big.pcap" >/dev/null 2>&1
t1=$(now)
# quorvix: the whole run (start-up, scan, replay, shutdown), at the default settings and with the
# debug log's breadcrumbs off.
run_quorvix() {  # ini-text
  rm -rf "$work/home"
  mkdir "$work/home"
  printf '[Option]\r\n%s' "$1" >"$work/home/Quorvix.ini"
  local a b
  a=$(now)
  "$bin" --home "$work/home" --replay "$work/big.pcap" SC >/dev/null 2>"$work/err"
  b=$(now)
  echo "$b - $a" | bc
}
q_default=$(run_quorvix "")
q_nodebug=$(run_quorvix $'NonEventWriteLogFlg=1\r\n')
# Without the start-up check of the name-query command (a child process that asks smbstatus).
q_nocheck=$(run_quorvix $'NbtstatChgOn=0\r\n')

awk -v n="$n" -v size="$size" -v ts="$(echo "$t1 - $t0" | bc)" -v q1="$q_default" \
  -v q2="$q_nodebug" -v q3="$q_nocheck" 'BEGIN {
  printf "capture: %d frames (%s)\n", n, size
  printf "%-44s %8s %12s %8s\n", "", "seconds", "frames/s", "vs tshark"
  printf "%-44s %8.2f %12.0f %8s\n", "tshark -r", ts, n / ts, "1.0x"
  printf "%-44s %8.2f %12.0f %7.1fx\n", "quorvix --replay (defaults)", q1, n / q1, ts / q1
  printf "%-44s %8.2f %12.0f %7.1fx\n", "quorvix --replay (NonEventWriteLogFlg=1)", q2, n / q2, ts / q2
  printf "%-44s %8.2f %12.0f %7.1fx\n", "quorvix --replay (NbtstatChgOn=0)", q3, n / q3, ts / q3
}'
