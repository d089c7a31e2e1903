# Times a replay of Quorvix.exe under Wine from its start until every row is in the window (or,
# with the list off, until the file is replayed to its end). Sourced after wine_gui.sh and
# wine_gui_setup, with QVX_WINTOOL set:
#
#   list_timing_run EXE CAPTURE ACCESS_LOG_ONLY   # sets LT_SECONDS, LT_LINES, LT_ROWS
list_timing_run() {
  local exe=$1 capture=$2 only=$3 main=("#32770" "Quorvix Redoduza") a e state counts i last_rows=""
  printf '[Option]\r\nAccessDataCnt=%d\r\nLogFileWriteFlg=1\r\nScrollEndFlg=1\r\nAccessLogOnly=%d\r\n' \
    400000 "$only" >"$QVX_WORK/Quorvix.ini"
  rm -f "$QVX_WORK"/*.log
  rm -rf "$QVX_WORK/QVXkernel"
  a=$(date +%s.%N)
  wine_gui_start "$exe" --replay "$capture" SC
  LT_LINES=""
  for i in $(seq 1200); do  # at most five minutes
    state=$(wine_gui_tool part "${main[@]}" 10001 2 2>/dev/null | tr -d '\r' || true)
    if [[ "$state" =~ ^Capture\ file\ replayed\ to\ its\ end ]]; then
      counts=$(wine_gui_tool part "${main[@]}" 10001 3 2>/dev/null | tr -d '\r' || true)
      LT_LINES=$(sed -n 's/^Lines \([0-9]*\) .*/\1/p' <<<"$counts")
      LT_ROWS=$(wine_gui_tool count "${main[@]}" 10000 2>/dev/null | tr -d '\r' || true)
      [ "$only" = 1 ] && break
      # Not every line is a row: the rows are all in once their count holds still.
      [ -n "$LT_ROWS" ] && [ "$LT_ROWS" -gt 0 ] && [ "$LT_ROWS" = "${last_rows:-}" ] && break
      last_rows=$LT_ROWS
    fi
    sleep 0.1
  done
  e=$(date +%s.%N)
  [ -n "$LT_LINES" ] || wine_gui_fail "the replay did not end (status '$state')"
  LT_SECONDS=$(echo "$e - $a" | bc)
  wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
  wine_gui_wait_exit 20
}
