#!/usr/bin/env bash
# The list keeps up: a replay of some 50,000 access lines with the list shown takes no more than
# twice as long as the same replay with AccessLogOnly=1 (the access log only, no rows), each from
# the program's start until every line is in the log and, with the list, every row in the window.
# The capture is built from the recorded test captures (tests/support/big_capture.sh).
set -euo pipefail
exe=$1
source "$(dirname "$0")/../support/wine_gui.sh"
source "$(dirname "$0")/../support/big_capture.sh"
source "$(dirname "$0")/../support/list_timing.sh"
wine_gui_setup
for t in mergecap editcap capinfos bc; do
  command -v "$t" >/dev/null || {
    echo "SKIP: $t is not installed"
    exit 77
  }
done
big_capture "$QVX_WORK/big.pcap" "${QVX_SPEED_COPIES:-10}"

list_timing_run "$exe" "$QVX_WORK/big.pcap" 1
only_s=$LT_SECONDS only_lines=$LT_LINES
list_timing_run "$exe" "$QVX_WORK/big.pcap" 0
list_s=$LT_SECONDS
echo "access log only: $only_s s, $only_lines lines; with the list: $list_s s, $LT_ROWS rows"
[ "$LT_LINES" = "$only_lines" ] || wine_gui_fail "$LT_LINES lines with the list, $only_lines without"
[ "$LT_ROWS" -ge 40000 ] || wine_gui_fail "only $LT_ROWS rows: no test of 50,000 rows"
[ "$(echo "$list_s <= 2 * $only_s" | bc)" = 1 ] ||
  wine_gui_fail "with the list the replay took $list_s s, more than twice $only_s s"
echo "gui list speed: ok"
