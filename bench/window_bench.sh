#!/usr/bin/env bash
# Rows per second into the window of Quorvix.exe under Wine (Xvfb, the Japanese locale of the GUI
# tests): a replay built from the recorded test captures, the list shown and large enough to keep
# every row, timed from the program's start until every row is in the window.
#
#   bench/window_bench.sh QUORVIX_EXE [COPIES] [RUNS]     (needs WINEPREFIX and QVX_WINTOOL)
#
# COPIES doublings of the three recordings (default 10: some 50,000 rows); each time the best of
# RUNS runs (default 3). Two figures:
#   whole run  the rows over the time from start to the last row, start-up and window included;
#   rows/s     the extra rows of the big capture over the extra time it takes compared with one
#              copy of the recordings, so that the fixed start-up cost (Wine, the window) cancels.
# Next to it, the same replay with AccessLogOnly=1 (no rows, the access log only): the pace the
# capture and the log set, which the window cannot beat.
#
# First, the window by itself: window_rows_bench.exe beside QUORVIX_EXE appends WINDOW_ROWS rows
# (default 200,000) to the real main window from a second thread and times them until the list
# view holds every one and has been painted in full; best of RUNS runs.
set -euo pipefail
exe=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
copies=${2:-10}
runs=${3:-3}
window_rows=${WINDOW_ROWS:-200000}
repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/tests/support/wine_gui.sh"
source "$repo/tests/support/big_capture.sh"
source "$repo/tests/support/list_timing.sh"
wine_gui_setup

rows_bench=$(dirname "$exe")/window_rows_bench.exe
[ -f "$rows_bench" ] || wine_gui_fail "no $rows_bench (cmake --build --preset mingw)"
mkdir -p "$QVX_WORK/rows"
cp "$rows_bench" "$QVX_WORK/rows/"
# A list large enough to keep every row (the capacity counts in memory tier 2), never cleared,
# no access log.
printf '[Option]\r\nMemperformanceSelect=2\r\nAccessDataCnt=%d\r\nScrollEndFlg=1\r\n%s' \
  "$window_rows" $'LogFileWriteFlg=0\r\nRefleshTime=9999\r\nViewRefreshTime=99\r\n' \
  >"$QVX_WORK/rows/Quorvix.ini"
best_rows="" best_line=""
for _ in $(seq "$runs"); do
  out=$(cd "$QVX_WORK/rows" && "$QVX_WINE" ./window_rows_bench.exe "$window_rows" | tr -d '\r') ||
    wine_gui_fail "window_rows_bench: $out"
  echo "$out" | sed 's/^/  run: /'
  rate=$(sed -n 's/.* rows into the window in .*: \([0-9]*\) rows\/s .*/\1/p' <<<"$out")
  [ -n "$rate" ] || wine_gui_fail "window_rows_bench printed no rate: $out"
  if [ -z "$best_rows" ] || [ "$rate" -gt "$best_rows" ]; then
    best_rows=$rate
    best_line=$out
  fi
done
echo "the window alone, best of $runs runs: $best_rows rows/s"
echo "$best_line" | sed 's/^/  /'
big_capture "$QVX_WORK/big.pcap" "$copies"
big_capture_start "$QVX_WORK/small.pcap"

best_big="" best_small="" best_only="" rows=0 small_rows=0 lines=0
for _ in $(seq "$runs"); do
  list_timing_run "$exe" "$QVX_WORK/big.pcap" 1
  lines=$LT_LINES
  if [ -z "$best_only" ] || [ "$(echo "$LT_SECONDS < $best_only" | bc)" = 1 ]; then
    best_only=$LT_SECONDS
  fi
  list_timing_run "$exe" "$QVX_WORK/big.pcap" 0
  rows=$LT_ROWS
  if [ -z "$best_big" ] || [ "$(echo "$LT_SECONDS < $best_big" | bc)" = 1 ]; then
    best_big=$LT_SECONDS
  fi
  list_timing_run "$exe" "$QVX_WORK/small.pcap" 0
  small_rows=$LT_ROWS
  if [ -z "$best_small" ] || [ "$(echo "$LT_SECONDS < $best_small" | bc)" = 1 ]; then
    best_small=$LT_SECONDS
  fi
done
awk -v n="$rows" -v t="$best_big" -v sn="$small_rows" -v st="$best_small" -v runs="$runs" \
  -v l="$lines" -v o="$best_only" 'BEGIN {
  printf "window: %d rows in %.2f s (whole run %.0f rows/s); %d rows in %.2f s; best of %d runs\n",
    n, t, n / t, sn, st, runs
  printf "rows/s into the window: %.0f\n", (n - sn) / (t - st)
  printf "without the list (AccessLogOnly=1): %d lines in %.2f s, %.0f lines/s once running\n",
    l, o, l / (o - st)
}'
