#!/usr/bin/env bash
# A busy file server replayed: a capture recorded here by tools/captures/record_busy.sh (several
# clients fetching, writing, renaming and deleting thousands of distinct files on a real smbd;
# not kept), replayed by `quorvix --replay` with the access log on (LogFileSelect=0: no flush per
# line), next to `tcpdump -r FILE -w /dev/null` (raw read) and `tshark -r FILE` (full decode) on
# the same file. Best of RUNS runs (default 3), taken in turn across the programs. Two rates per
# program: over the whole command, and once running (the extra frames of the whole capture over
# the extra time it takes compared with its first 1,000 frames, so that fixed start-up costs
# drop out); access lines/s for quorvix likewise. A last row, "system calls alone", is FLOOR
# (bench/access_floor.cc) on the same capture and the access log quorvix wrote of it: reading the
# file, one file-facts query per access and one write per line, without anything else: what a
# replay that keeps those cannot go below.
#
#   bench/busy_bench.sh QUORVIX FLOOR [RUNS]
#
# Needs root and network namespaces to record; says so and stops where they cannot be made.
# BUSY_CAPTURE_DIR names a directory record_busy.sh filled earlier, to time that one again.
set -euo pipefail
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
floor=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
runs=${3:-3}
repo=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

rc=0
if [ -n "${BUSY_CAPTURE_DIR:-}" ]; then
  ln -s "$(cd "$BUSY_CAPTURE_DIR" && pwd)" "$work/rec"
else
  bash "$repo/tools/captures/record_busy.sh" "$work/rec" >"$work/record.log" 2>&1 || rc=$?
fi
if [ "$rc" = 77 ]; then
  echo "busy-server replay: skipped ($(tail -n 1 "$work/record.log"))"
  exit 0
elif [ "$rc" != 0 ]; then
  echo "busy-server replay: recording failed" >&2
  tail -n 20 "$work/record.log" >&2
  exit 1
fi
cap=$work/rec/busy.pcap
n=$(capinfos -M -c "$cap" 2>/dev/null | awk -F: '/Number of packets/ {gsub(/ /, "", $2); print $2}')
creates=$(tshark -r "$cap" -Y 'smb2.cmd == 5 && smb2.flags.response == 0' 2>/dev/null | wc -l)
size=$(du -h "$cap" | cut -f1)
editcap -r "$cap" "$work/start.pcap" 1-1000

now() { date +%s.%N; }
tcpdump_run() { tcpdump -r "$1" -w /dev/null; }
tshark_run() { tshark -r "$1"; }
quorvix_run() {
  rm -rf "$work/home"
  mkdir "$work/home"
  printf '[Option]\r\nLogFileWriteFlg=1\r\nLogFileSelect=0\r\n' >"$work/home/Quorvix.ini"
  "$bin" --home "$work/home" --smb-conf "$work/rec/smb.conf" --replay "$1" SC
}
lines_of() { tr -d '\r' <"$1" | grep -c -E '^\[[^]]*\],(access|unknown),' || true; }
# The floor replays the access log of quorvix's last run on the same file.
floor_run() {
  local log=$work/big.log
  [ "$1" = "$work/start.pcap" ] && log=$work/start.log
  "$floor" "$1" "$log" "$work/floor.out" >"$work/floor.time"
}
labels=("tcpdump -r -w /dev/null" "tshark -r" "quorvix --replay (access log on)" "system calls alone")
programs=(tcpdump_run tshark_run quorvix_run floor_run)
declare -A best
for _ in $(seq "$runs"); do
  for i in "${!labels[@]}"; do
    for f in start big; do
      file=$cap
      [ "$f" = start ] && file=$work/start.pcap
      a=$(now)
      "${programs[$i]}" "$file" >/dev/null 2>&1
      e=$(now)
      t=$(echo "$e - $a" | bc)
      # The floor times its own work: the log it reads in first is not part of it.
      [ "$i" = 3 ] && t=$(cat "$work/floor.time")
      b=${best[$i,$f]:-}
      if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then best[$i,$f]=$t; fi
      if [ "$i" = 2 ]; then cp "$work/home/Quorvix.log" "$work/$f.log"; fi
    done
  done
done
start_lines=$(lines_of "$work/start.log")
lines=$(lines_of "$work/big.log")

printf 'busy-server capture: %d frames (%s), %d CREATE requests; %d access lines; best of %d runs\n' \
  "$n" "$size" "$creates" "$lines" "$runs"
printf '%-34s %8s %10s %11s %10s %11s %10s\n' "" "seconds" "frames/s" "lines/s" \
  "vs tcpdump" "running f/s" "vs tcpdump"
for i in "${!labels[@]}"; do
  awk -v label="${labels[$i]}" -v t="${best[$i,big]}" -v h="${best[$i,start]}" -v n="$n" \
    -v td="${best[0,big]}" -v tdh="${best[0,start]}" -v lines="$([ "$i" = 2 ] && echo "$lines" || echo -1)" \
    'BEGIN {
    l = lines < 0 ? "-" : sprintf("%.0f", lines / t)
    rate = (n - 1000) / (t - h); td_rate = (n - 1000) / (td - tdh)
    printf "%-34s %8.3f %10.0f %11s %9.2fx %11.0f %9.2fx\n", label, t, n / t, l, td / t, rate, rate / td_rate
  }'
done
awk -v t="${best[2,big]}" -v h="${best[2,start]}" -v lines="$lines" -v first="$start_lines" \
  'BEGIN { printf "quorvix access lines/s once running: %.0f\n", (lines - first) / (t - h) }'
