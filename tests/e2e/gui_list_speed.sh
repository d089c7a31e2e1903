#!/usr/bin/env bash
# The list keeps up: a replay of some 70,000 access lines (60,000 rows) with the list shown takes
# no more than twice as long as the same replay with AccessLogOnly=1 (the access log only, no
# rows), each from the program's start until every line is in the log and, with the list, every
# row in the window. Both runs write the same lines; the tree lines among them are as many as
# tshark finds tree connects in the recordings, times the copies. The capture is built from the
# recorded test captures (tests/support/big_capture.sh).
set -euo pipefail
exe=$1
data=$(cd "$(dirname "$0")/../data" && pwd)
source "$(dirname "$0")/../support/wine_gui.sh"
source "$(dirname "$0")/../support/big_capture.sh"
source "$(dirname "$0")/../support/list_timing.sh"
for t in mergecap editcap capinfos tshark bc; do
  command -v "$t" >/dev/null || {
    echo "SKIP: $t is not installed"
    exit 77
  }
done
wine_gui_setup
copies=${QVX_SPEED_COPIES:-10}
big_capture "$QVX_WORK/big.pcap" "$copies"

# Expected, from tshark: every tree connect request toward the server is a "login" line, every
# successful answer a "connect" line; the big capture holds the three recordings 2^copies times.
tshark_count() {
  local f n=0
  for f in smb2_ops smb1_ops smb2_preconnected; do
    n=$((n + $(tshark -r "$data/$f.pcap" -Y "$1" 2>/dev/null | wc -l)))
  done
  echo $((n << copies))
}
want_login=$(tshark_count '(smb2.cmd == 3 && smb2.flags.response == 0) ||
  (smb.cmd == 0x75 && smb.flags.response == 0)')
want_connect=$(tshark_count '(smb2.cmd == 3 && smb2.flags.response == 1 && smb2.nt_status == 0) ||
  (smb.cmd == 0x75 && smb.flags.response == 1 && smb.nt_status == 0)')
[ "$want_login" -gt 0 ] || wine_gui_fail "tshark finds no tree connect in the recordings"
# action_lines LOG ACTION: the log's lines of that action.
action_lines() { grep -ac "^\[[0-9][^,]*,$2," "$1" || true; }
check_trees() {  # LOG RUN
  local login connect
  login=$(action_lines "$1" login) connect=$(action_lines "$1" connect)
  [ "$login" = "$want_login" ] && [ "$connect" = "$want_connect" ] ||
    wine_gui_fail "$2: $login login and $connect connect lines, tshark: $want_login and $want_connect"
}

list_timing_run "$exe" "$QVX_WORK/big.pcap" 1
only_s=$LT_SECONDS only_lines=$LT_LINES
check_trees "$LT_LOG" "access log only"
list_timing_run "$exe" "$QVX_WORK/big.pcap" 0
list_s=$LT_SECONDS
check_trees "$LT_LOG" "with the list"
echo "access log only: $only_s s, $only_lines lines; with the list: $list_s s, $LT_LINES lines," \
  "$LT_ROWS rows"
[ "$LT_LINES" = "$only_lines" ] || wine_gui_fail "$LT_LINES lines with the list, $only_lines without"
if ! cmp -s "$QVX_WORK/access-0.kept" "$QVX_WORK/access-1.kept"; then
  diff "$QVX_WORK/access-1.kept" "$QVX_WORK/access-0.kept" | head -n 6 | iconv -f CP932 -t UTF-8 -c
  wine_gui_fail "the access log with the list differs from the one without"
fi
[ "$LT_ROWS" -ge 40000 ] || wine_gui_fail "only $LT_ROWS rows: no test of some 50,000 rows"
[ "$(echo "$list_s <= 2 * $only_s" | bc)" = 1 ] ||
  wine_gui_fail "with the list the replay took $list_s s, more than twice $only_s s"
echo "gui list speed: ok"
