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

# The three recordings one after the other, then the whole doubled until it is big enough.
mergecap -a -F pcap -w "$work/big.pcap" "$repo"/tests/data/smb2_ops.pcap \
  "$repo"/tests/data/smb1_ops.pcap "$repo"/tests/data/smb2_preconnected.pcap
frames() { capinfos -M -c "$1" 2>/dev/null | awk -F: '/Number of packets/ {gsub(/ /, "", $2); print $2}'; }
n=$(frames "$work/big.pcap")
while [ "$n" -lt "$min" ]; do
  mergecap -a -F pcap -w "$work/next.pcap" "$work/big.pcap" "$work/big.pcap"
  mv "$work/next.pcap" "$work/big.pcap"
  n=$(frames "$work/big.pcap")
done
size=$(du -h "$work/big.pcap" | cut -f1)

now() { date +%s.%N; }
# tshark: a full decode of every frame, output discarded.
t0=$(now)
tshark -r "$work/big.pcap" >/dev/null 2>&1
t1=$(now)
# quorvix: the whole run (start-up, scan, replay, shutdown) at the default settings.
mkdir "$work/home"
t2=$(now)
"$bin" --home "$work/home" --replay "$work/big.pcap" SC >/dev/null 2>"$work/err"
t3=$(now)

awk -v n="$n" -v size="$size" -v ts="$(echo "$t1 - $t0" | bc)" -v qs="$(echo "$t3 - $t2" | bc)" 'BEGIN {
  printf "capture: %d frames (%s)\n", n, size
  printf "%-28s %10s %14s\n", "", "seconds", "frames/s"
  printf "%-28s %10.2f %14.0f\n", "tshark -r", ts, n / ts
  printf "%-28s %10.2f %14.0f\n", "quorvix --replay", qs, n / qs
  printf "quorvix / tshark: %.1fx\n", ts / qs
}'
grep "replayed" "$work/err" || true
