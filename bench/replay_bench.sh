#!/usr/bin/env bash
# Replay throughput: frames per second of `quorvix --replay` next to `tshark -r` on the same
# capture of at least 200,000 frames, built here from the recorded test captures (not kept).
#
#   bench/replay_bench.sh QUORVIX [MIN_FRAMES] [RUNS]
#
# Each time is the best of RUNS runs (default 5): the machine's other work only ever adds time.
# Two figures per program:
#   whole run  the frames over the time of the whole command, start-up and shut-down included;
#   frames/s   the rate at which frames are handled once running: the extra frames of the big
#              capture over the extra time it takes compared with its first 1,000 frames, so
#              that the fixed start-up costs of either program (tshark's dissector tables,
#              quorvix's start-up check of the name-query command) cancel out.
set -euo pipefail
bin=$1
min=${2:-200000}
runs=${3:-5}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The three recordings one after the other, then the whole doubled until it is big enough, the
# clock running forward through the file as in a real long capture (sessions open and close, the
# periodic clean-up runs).
source "$repo/tests/support/big_capture.sh"
frames() { capinfos -M -c "$1" 2>/dev/null | awk -F: '/Number of packets/ {gsub(/ /, "", $2); print $2}'; }
big_capture_start "$work/big.pcap"
while [ "$(frames "$work/big.pcap")" -lt "$min" ]; do big_capture_double "$work/big.pcap"; done
n=$(frames "$work/big.pcap")
editcap -r "$work/big.pcap" "$work/start.pcap" 1-1000
start=$(frames "$work/start.pcap")
size=$(du -h "$work/big.pcap" | cut -f1)

now() { date +%s.%N; }
# tshark: a full decode of every frame, output discarded.
tshark_run() { tshark -r "$2"; }
# quorvix: the whole run (start-up, replay, shutdown) with the given Quorvix.ini lines.
quorvix_run() {  # ini-text file
  rm -rf "$work/home"
  mkdir "$work/home"
  printf '[Option]\r\n%s' "$1" >"$work/home/Quorvix.ini"
  "$bin" --home "$work/home" --replay "$2" SC
}

# The measurements, each the shortest of $runs runs. The runs go round all of them in turn, so
# that a busy moment of the machine falls on every program alike rather than on one.
labels=("tshark -r" "quorvix --replay (defaults)" "quorvix --replay (NonEventWriteLogFlg=1)"
  "quorvix --replay (NbtstatChgOn=0)")
programs=(tshark_run quorvix_run quorvix_run quorvix_run)
inis=("" "" $'NonEventWriteLogFlg=1\r\n' $'NbtstatChgOn=0\r\n')
declare -A best
for _ in $(seq "$runs"); do
  for i in "${!labels[@]}"; do
    for f in big start; do
      a=$(now)
      "${programs[$i]}" "${inis[$i]}" "$work/$f.pcap" >/dev/null 2>&1
      e=$(now)
      t=$(echo "$e - $a" | bc)
      b=${best[$i,$f]:-}
      if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then best[$i,$f]=$t; fi
    done
  done
done

ts=${best[0,big]}
tsh=${best[0,start]}
printf 'capture: %d frames (%s); start-up measured on its first %d; best of %d runs\n' "$n" "$size" \
  "$start" "$runs"
printf '%-42s %7s %10s %7s %10s %7s\n' "" "seconds" "whole/s" "vs ts" "frames/s" "vs ts"
for i in "${!labels[@]}"; do
  awk -v label="${labels[$i]}" -v t="${best[$i,big]}" -v h="${best[$i,start]}" -v n="$n" \
    -v start="$start" -v ts="$ts" -v tsh="$tsh" 'BEGIN {
    rate = (n - start) / (t - h); ts_rate = (n - start) / (ts - tsh)
    printf "%-42s %7.2f %10.0f %6.1fx %10.0f %6.1fx\n", label, t, n / t, ts / t, rate, rate / ts_rate
  }'
done
