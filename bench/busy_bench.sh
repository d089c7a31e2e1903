#!/usr/bin/env bash
# A busy file server replayed: a capture recorded here by tools/captures/record_busy.sh (several
# clients fetching, writing, renaming and deleting thousands of distinct files on a real smbd;
# not kept), replayed by `quorvix --replay` with the access log on in three settings side by side:
# the defaults (LogFileSelect=1: lines made durable), LogFileSelect=0 (left to the system) and the
# defaults with the JSON Lines file on (JsonLogFlg=1); next to `tcpdump -r FILE -w /dev/null`
# (raw read) and `tshark -r FILE` (full decode) on the same file. Best of RUNS runs (default 3),
# taken in turn across the programs. Two rates per program: over the whole command, and once
# running (the extra frames of the whole capture over the extra time it takes compared with its
# first 1,000 frames, so that fixed start-up costs drop out). For each quorvix setting: its access
# lines, its flushes (fdatasync and fsync calls, counted by strace in one more run) and its time
# against LogFileSelect=0's. A last row, "system calls alone", is FLOOR (bench/access_floor.cc) on
# the same capture and the access log quorvix wrote of it: reading the file and one write per
# line, without anything else: what a replay that keeps those cannot go below.
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
# The settings of each quorvix row, one home each.
declare -A setting=(
  [defaults]=$'LogFileWriteFlg=1\r\n'
  [select0]=$'LogFileWriteFlg=1\r\nLogFileSelect=0\r\n'
  [json]=$'LogFileWriteFlg=1\r\nJsonLogFlg=1\r\n'
)
quorvix_in() {
  local home=$work/home-$1
  rm -rf "$home"
  mkdir "$home"
  printf '[Option]\r\n%s' "${setting[$1]}" >"$home/Quorvix.ini"
  local trace=()
  [ -z "${QVX_TRACE:-}" ] || trace=(strace -f -e trace=fdatasync,fsync -o "$QVX_TRACE")
  "${trace[@]}" "$bin" --home "$home" --smb-conf "$work/rec/smb.conf" --replay "$2" SC
}
quorvix_defaults() { quorvix_in defaults "$1"; }
quorvix_select0() { quorvix_in select0 "$1"; }
quorvix_json() { quorvix_in json "$1"; }
lines_of() { tr -d '\r' <"$1" | grep -c -E '^\[[^]]*\],(access|unknown),' || true; }
# The floor replays the access log of quorvix's last LogFileSelect=0 run on the same file.
floor_run() {
  local log=$work/big.log
  [ "$1" = "$work/start.pcap" ] && log=$work/start.log
  "$floor" "$1" "$log" "$work/floor.out" >"$work/floor.time"
}
labels=("tcpdump -r -w /dev/null" "tshark -r" "quorvix --replay, defaults"
  "quorvix --replay, LogFileSelect=0" "quorvix --replay, JsonLogFlg=1" "system calls alone")
programs=(tcpdump_run tshark_run quorvix_defaults quorvix_select0 quorvix_json floor_run)
names=(- - defaults select0 json -)
select0=3
floor_row=5
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
      [ "$i" = $floor_row ] && t=$(cat "$work/floor.time")
      b=${best[$i,$f]:-}
      if [ -z "$b" ] || [ "$(echo "$t < $b" | bc)" = 1 ]; then best[$i,$f]=$t; fi
      if [ "$i" = $select0 ]; then cp "$work/home-select0/Quorvix.log" "$work/$f.log"; fi
    done
  done
done
# Flushes: one more run of each setting on the whole capture, under strace (not timed).
declare -A lines flushes
for i in 2 3 4; do
  QVX_TRACE=$work/trace "${programs[$i]}" "$cap" >/dev/null 2>&1
  lines[$i]=$(lines_of "$work/home-${names[$i]}/Quorvix.log")
  flushes[$i]=$(grep -v resumed "$work/trace" | grep -cE '^[0-9]+ +(fdatasync|fsync)\(' || true)
done
start_lines=$(lines_of "$work/start.log")

printf 'busy-server capture: %d frames (%s), %d CREATE requests; %d access lines; best of %d runs\n' \
  "$n" "$size" "$creates" "${lines[$select0]}" "$runs"
printf '%-34s %8s %10s %9s %11s %9s %7s %8s %8s %9s\n' "" "seconds" "frames/s" "vs tcpdump" \
  "running f/s" "vs tcpdump" "lines" "lines/s" "flushes" "vs Select=0"
for i in "${!labels[@]}"; do
  awk -v label="${labels[$i]}" -v t="${best[$i,big]}" -v h="${best[$i,start]}" -v n="$n" \
    -v td="${best[0,big]}" -v tdh="${best[0,start]}" -v t0="${best[$select0,big]}" \
    -v lines="${lines[$i]:--1}" -v flushes="${flushes[$i]:--1}" \
    'BEGIN {
    rate = (n - 1000) / (t - h); td_rate = (n - 1000) / (td - tdh)
    q = lines >= 0
    printf "%-34s %8.3f %10.0f %9.2fx %11.0f %9.2fx %7s %8s %8s %9s\n", label, t, n / t, td / t,
      rate, rate / td_rate, q ? lines : "-", q ? sprintf("%.0f", lines / t) : "-",
      q ? flushes : "-", q ? sprintf("%.2fx", t / t0) : "-"
  }'
done
awk -v t="${best[$select0,big]}" -v h="${best[$select0,start]}" -v lines="${lines[$select0]}" \
  -v first="$start_lines" \
  'BEGIN { printf "quorvix access lines/s once running (LogFileSelect=0): %.0f\n", (lines - first) / (t - h) }'
