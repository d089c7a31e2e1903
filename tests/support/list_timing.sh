# Times a replay of Quorvix.exe under Wine from its start until every line is in the access log
# and, with the list shown, every row the log holds is in the window. Sourced after wine_gui.sh
# and wine_gui_setup, with QVX_WINTOOL set:
#
#   list_timing_run EXE CAPTURE ACCESS_LOG_ONLY
#
# sets LT_SECONDS, LT_LINES (access lines in the log, which the status bar's count must equal),
# LT_ROWS (rows in the window) and LT_LOG (a copy of the access log, kept in $QVX_WORK).
# The list holds 100,000 rows (AccessDataCnt), so none is let go, and the server's sessions are
# first looked at after 9999 s of capture time (RefleshTime): the clients of the recordings
# leave, and their rows would be pruned from the list before they could be counted. The lines
# are left to the system to write (LogFileSelect=0): flushed one by one, under Wine each flush is
# a sync of the file, which alone would set the pace of both runs.

# Access lines of an access log (the header line "[Access Time],..." is none).
list_timing_lines() { grep -ac '^\[[0-9]' "$1" || true; }
# The rows those lines make: the lines of log-ons and trees (session, log-on, connect,
# disconnect, log-off; their ids follow the share, "[T:n ...]") are no rows, but a tree's log-on
# and its disconnect each put a row of their own in the list; every other line is a row.
list_timing_rows() {
  local lines tree trees
  lines=$(list_timing_lines "$1")
  tree=$(grep -ac '^\[[0-9][^,]*,[a-z]*,.*[, ]\[T:[0-9]* [^]]*\]' "$1" || true)
  trees=$(grep -ac '^\[[0-9][^,]*,\(login\|disconnect\),.*[, ]\[T:[0-9]* [^]]*\]' "$1" || true)
  echo $((lines - tree + trees))
}

list_timing_run() {
  local exe=$1 capture=$2 only=$3 main=("#32770" "Quorvix Redoduza") a e state="" counts shown
  local log=$QVX_WORK/Quorvix.log want_rows="" i
  printf '[Option]\r\nAccessDataCnt=%d\r\nLogFileWriteFlg=1\r\nScrollEndFlg=1\r\nAccessLogOnly=%d\r\n%s' \
    100000 "$only" $'RefleshTime=9999\r\nLogFileSelect=0\r\n' >"$QVX_WORK/Quorvix.ini"
  rm -f "$QVX_WORK"/*.log
  rm -rf "$QVX_WORK/QVXkernel"
  LT_LINES="" LT_ROWS=0
  a=$(date +%s.%N)
  wine_gui_start "$exe" --replay "$capture" SC
  for i in $(seq 1500); do # at most some ten minutes
    state=$(wine_gui_tool part "${main[@]}" 10001 2 2>/dev/null | tr -d '\r' || true)
    if [[ "$state" =~ ^Capture\ file\ replayed\ to\ its\ end ]]; then
      # Every frame is handled; the lines are all written once the log holds as many as the
      # status bar counts (its counts follow once a second).
      counts=$(wine_gui_tool part "${main[@]}" 10001 3 2>/dev/null | tr -d '\r' || true)
      shown=$(sed -n 's/^Lines \([0-9]*\) .*/\1/p' <<<"$counts")
      if [ -n "$shown" ] && [ "$shown" -gt 0 ] && [ "$shown" = "$(list_timing_lines "$log")" ]; then
        LT_LINES=$shown
        [ "$only" = 1 ] && break
        [ -n "$want_rows" ] || want_rows=$(list_timing_rows "$log")
        LT_ROWS=$(wine_gui_tool count "${main[@]}" 10000 2>/dev/null | tr -d '\r' || true)
        [ "$LT_ROWS" = "$want_rows" ] && break
      fi
    fi
    kill -0 "$QVX_APP" 2>/dev/null || wine_gui_fail "the program ended during the replay"
    sleep 0.2
  done
  e=$(date +%s.%N)
  [ -n "$LT_LINES" ] || wine_gui_fail "the replay did not end (status '$state')"
  [ "$only" = 1 ] || [ "$LT_ROWS" = "$want_rows" ] ||
    wine_gui_fail "$LT_ROWS rows in the window, the access log has $want_rows"
  LT_SECONDS=$(echo "$e - $a" | bc)
  LT_LOG=$QVX_WORK/access-$only.kept
  cp "$log" "$LT_LOG"
  wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
  wine_gui_wait_exit 30
}
