#!/usr/bin/env bash
# Quorvix.exe replays a long capture into its window under Wine; while rows are arriving, Stop,
# "WinPcap Restart" and End are given through the main menu's commands. Each must return within a
# second (a window that waits for the capture thread while that thread waits for the window never
# does), no row may arrive after Stop, and End must end the program through its shutdown sequence.
# Keeps screenshots of the window with rows and its Japanese status text.
set -euo pipefail
exe=$1
shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
data=$(cd "$(dirname "$0")/../data" && pwd)
source "$(dirname "$0")/../support/wine_gui.sh"
for tool in editcap mergecap capinfos; do
  command -v "$tool" >/dev/null || {
    echo "SKIP: $tool is not installed"
    exit 77
  }
done
wine_gui_setup

# The SMB2 recording 8192 times over, each copy later than the one before, so that rows keep
# coming for several seconds.
cap=$QVX_WORK/long.pcap
cp "$data/smb2_ops.pcap" "$cap"
span() {
  capinfos -M -a -e -S "$1" 2>/dev/null |
    awk -F: '/First packet time/ {f = $2} /Last packet time/ {l = $2} END {printf "%d", l - f + 2}'
}
for _ in $(seq 13); do
  editcap -t "$(span "$cap")" "$cap" "$QVX_WORK/later.pcap"
  mergecap -a -F pcap -w "$QVX_WORK/next.pcap" "$cap" "$QVX_WORK/later.pcap"
  mv "$QVX_WORK/next.pcap" "$cap"
done
rm -f "$QVX_WORK/later.pcap"

main=("#32770" "Quorvix Redoduza")
menu() {  # ID: the main menu command, sent as the menu sends it; fails after 1 s without answer
  wine_gui_tool send 1000 "${main[@]}" 0x0111 "$1" 0 >/dev/null
}
rows() { wine_gui_tool count "${main[@]}" 10000 | tr -d '\r'; }
first_time() { wine_gui_tool cell "${main[@]}" 10000 0 0 | tr -d '\r'; }
# Waits until the list changes between two looks: rows are arriving.
arriving() {
  local before after i
  before="$(rows) $(first_time)"
  for i in $(seq 40); do
    sleep 0.1
    after="$(rows) $(first_time)"
    [ "$after" != "$before" ] && return 0
  done
  return 1
}

# Every copy repeats the same accesses: each is a row (no repeat suppression), and none is pruned
# (the recording's client leaves at the end of each copy; the server's sessions would be looked at
# every RefleshTime of capture time: 9999 s, its largest value, is about once in the whole replay),
# so that rows keep coming for as long as the replay runs. The list holds every row (AccessDataCnt
# counts only with MemperformanceSelect=2; at the default 100,000 the oldest tenth would be let go
# and the rows move under the test's looks). The access log is written (LogFileSelect=0: not
# flushed line by line), so that the status bar has lines to count.
printf '[Option]\r\nRefleshTime=9999\r\nSameAccNonLogFlg=0\r\nAccessDataCnt=400000\r\n%s' \
  $'MemperformanceSelect=2\r\nLogFileWriteFlg=1\r\nLogFileSelect=0\r\n' \
  >"$QVX_WORK/Quorvix.ini"
wine_gui_start "$exe" --replay "$cap" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
# The list follows the newest row (the View menu's "Viewer Scroll End").
wine_gui_tool post "${main[@]}" 0x0111 40050 0 || wine_gui_fail "no window for Viewer Scroll End"
for _ in $(seq 40); do
  [ "$(rows)" -gt 0 ] && break
  sleep 0.25
done
arriving || wine_gui_fail "no rows arriving from the replay ($(rows) rows; $(wine_gui_tool part "${main[@]}" 10001 2 | tr -d '\r'))"
# The rows carry the capture's times, not today's.
t=$(first_time)
[[ "$t" =~ ^20[0-9]{2}/[0-9]{2}/[0-9]{2}\ [0-9]{2}:[0-9]{2}:[0-9]{2}$ ]] ||
  wine_gui_fail "first row's time '$t'"
stamp() { capinfos -M "$1" "$cap" 2>/dev/null | sed -n 's/^.*time: *//p' | cut -c1-19 | tr - /; }
first=$(stamp -a) last=$(stamp -e)
[[ ! "$t" < "$first" && ! "$t" > "$last" ]] || wine_gui_fail "row time $t is outside $first..$last"
wine_gui_shot "$win" "$shots/gui_rows.png"
# The window is drawn while rows arrive, not only when they pause: within two seconds of looks at
# its pixels, one differs from the first while rows kept arriving.
eval "$(xdotool getwindowgeometry --shell "$win" | grep -E '^(X|Y|WIDTH|HEIGHT)=')"
pixels() { import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" rgb:- 2>/dev/null | md5sum; }
r0=$(rows) p0=$(pixels) drawn=""
for _ in $(seq 8); do
  sleep 0.25
  p1=$(pixels) r1=$(rows)
  [ "$r1" != "$r0" ] || wine_gui_fail "rows stopped arriving ($r0, then $r1): the capture is too short"
  if [ "$p1" != "$p0" ]; then
    drawn=1
    break
  fi
done
[ -n "$drawn" ] || wine_gui_fail "the window was not drawn while rows $r0 to $r1 arrived"
# The status bar's counts follow while rows arrive: they are shown once a second, by a timer,
# and Windows fires timers only when no posted message waits.
lines_shown() {
  wine_gui_tool part "${main[@]}" 10001 3 | tr -d '\r' | sed -n 's/^Lines \([0-9]*\) .*/\1/p'
}
r0=$(rows) l0=$(lines_shown)
for _ in $(seq 12); do
  sleep 0.25
  [ "$(lines_shown)" != "$l0" ] && break
done
l1=$(lines_shown) r1=$(rows)
[ "$r1" != "$r0" ] || wine_gui_fail "rows stopped arriving ($r0, then $r1): the capture is too short"
[ "$l1" != "$l0" ] ||
  wine_gui_fail "the status bar kept 'Lines $l0' for 3 s while rows $r0 to $r1 arrived"
# The list follows the newest row.
top() { wine_gui_tool top "${main[@]}" 10000 | tr -d '\r'; }
t0=$(top)
arriving || wine_gui_fail "no rows arriving"
[ "$(top)" -gt "$t0" ] || wine_gui_fail "the list stayed at row $t0 while rows arrived"
# ... until a row is selected: then it stays where it is, and follows again once none is.
# (The row is selected through the list's own message: under Wine, real clicks on the list do not
# reach it while a replay streams at full speed.)
wine_gui_tool select "${main[@]}" 10000 "$(top)" || wine_gui_fail "no row could be selected"
t1=$(top)
arriving || wine_gui_fail "no rows arriving with a row selected"
[ "$(top)" = "$t1" ] || wine_gui_fail "the list scrolled from row $t1 to $(top) with a row selected"
wine_gui_tool select "${main[@]}" 10000 -1 || wine_gui_fail "the selection could not be cleared"
arriving || wine_gui_fail "no rows arriving after the selection was cleared"
arriving || true
[ "$(top)" -gt "$t1" ] || wine_gui_fail "the list stayed at row $t1 once no row was selected"
status=$(wine_gui_tool text "${main[@]}" 10001 | tr -d '\r')
[[ "$status" =~ ^Login：[0-9]+$ ]] || wine_gui_fail "status bar reads '$status'"

# Restart while rows arrive: returns, and rows come again.
menu 40058 || wine_gui_fail "WinPcap Restart did not return within a second"
arriving || wine_gui_fail "no rows after the restart"

# Stop while rows arrive: returns, the list is cleared, and no row comes after it.
menu 40023 || wine_gui_fail "Stop did not return within a second"
[ "$(rows)" -eq 0 ] || wine_gui_fail "$(rows) rows right after Stop"
sleep 1
[ "$(rows)" -eq 0 ] || wine_gui_fail "$(rows) rows arrived after Stop"
# A second Stop leaves it stopped.
menu 40023 || wine_gui_fail "a second Stop did not return"
sleep 0.5
[ "$(rows)" -eq 0 ] || wine_gui_fail "the second Stop started capture again"

# Start again (the file from its start) and End, from the menu, while rows arrive.
menu 40046 || wine_gui_fail "Start did not return"
arriving || wine_gui_fail "no rows after Start"
wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
wine_gui_wait_exit 5

event=$(ls "$QVX_WORK"/QVXkernel/QVXevent*.log 2>/dev/null) || wine_gui_fail "no event log"
kernel=$(ls "$QVX_WORK"/QVXkernel/QVXkernel*.log)
grep -q "CloseHandle END" "$event" || wine_gui_fail "the shutdown sequence did not run"
# Three capture threads ran (start, restart, start) and each one ended.
ends=$(grep -ac "] : Thread End" "$kernel" || true)
[ "$ends" -eq 3 ] || wine_gui_fail "$ends capture threads ended, not 3"
echo "gui stop while rows arrive: ok"
