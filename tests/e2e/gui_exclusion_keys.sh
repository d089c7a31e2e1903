#!/usr/bin/env bash
# Escape in the exclusion list undoes an entry added in it, driven with real key presses
# (xdotool) on Quorvix.exe under Wine: Setting -> Surveillance, Edit -> add, the path typed,
# Return, then Escape. ExclusionInfo.dat is unchanged and the filter in force is the one before:
# a replay of the SMB2 recording run again still logs the file the entry names. The same entry
# kept with Return (OK) does exclude it, so the check above can fail.
set -euo pipefail
exe=$1
data=$(cd "$(dirname "$0")/../data" && pwd)
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

main=("#32770" "Quorvix Redoduza")
tool() { wine_gui_tool "$@" | tr -d '\r'; }
part() { tool part "${main[@]}" 10001 "$1"; }
focus() { wine_gui_focus "$1"; }
keys() { wine_gui_keys "$@"; }
wait_for() { # wait_for SECONDS 'SHELL TEST'
  local secs=$1 i
  for i in $(seq $((secs * 4))); do
    eval "$2" && return 0
    sleep 0.25
  done
  return 1
}
gone() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
# Lines of the access log for the file the entry names (the request's own path: under Wine the
# share list is empty, so the lines are "unknown" ones).
file_lines() { tr -d '\r' <"$QVX_WORK/Quorvix.log" | grep -ac 'report 2026\.txt$' || true; }
# Capture -> Stop, then Start: the recording is replayed again from its start.
replay_again() {
  tool post "${main[@]}" 0x0111 40023 0 || wine_gui_fail "no window to stop"
  wait_for 20 '[ "$(part 2)" = Stopped ]' || wine_gui_fail "Stop left '$(part 2)'"
  tool post "${main[@]}" 0x0111 40046 0 || wine_gui_fail "no window to start"
  wait_for 60 '[[ "$(part 2)" =~ ^Capture\ file\ replayed\ to\ its\ end ]]' ||
    wine_gui_fail "the second replay shows '$(part 2)'"
}
# Opens the exclusion list and adds the entry "*report 2026.txt" (exclusion, no term) in its
# entry dialog, all by keys; the list then shows two entries.
add_entry() {
  focus "$win"
  keys alt+t k
  dlg=$(wine_gui_window "^Surveillance$" 10) || wine_gui_fail "no exclusion list"
  sleep 1
  focus "$dlg"
  keys alt+e Return
  entry=$(wine_gui_window "^Surveillance Setting$" 10) || wine_gui_fail "no entry dialog"
  sleep 0.5
  focus "$entry"
  xdotool type --delay 60 '*report 2026.txt'
  keys Return
  wait_for 10 'gone "^Surveillance Setting$"' || wine_gui_fail "the entry dialog stays open"
  [ "$(tool count "#32770" Surveillance 10002)" = 2 ] || wine_gui_fail "the entry was not added"
  [ "$(tool cell "#32770" Surveillance 10002 1 5)" = "*report 2026.txt" ] ||
    wine_gui_fail "the new entry reads '$(tool cell "#32770" Surveillance 10002 1 5)'"
  focus "$dlg"
}

printf '%s\r\r\n' '01,00000000,-,00000000,1,0,1,*.tmp' >"$QVX_WORK/ExclusionInfo.dat"
cp "$QVX_WORK/ExclusionInfo.dat" "$QVX_WORK/ExclusionInfo.before"
# Every line written, repeats too: each replay adds the same lines.
printf '[Option]\r\nLogFileWriteFlg=1\r\nSameAccNonLogFlg=0\r\n' >"$QVX_WORK/Quorvix.ini"
cp "$data/smb2_ops.pcap" "$QVX_WORK/ops.pcap"
wine_gui_start "$exe" --replay "$QVX_WORK/ops.pcap" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
wait_for 60 '[[ "$(part 2)" =~ ^Capture\ file\ replayed\ to\ its\ end ]]' ||
  wine_gui_fail "the replay shows '$(part 2)'"
first=$(file_lines)
[ "$first" -gt 0 ] || wine_gui_fail "the recording logs no line for report 2026.txt"

# Added, then Escape.
add_entry
keys Escape
wait_for 10 'gone "^Surveillance$"' || wine_gui_fail "Escape left the exclusion list open"
cmp -s "$QVX_WORK/ExclusionInfo.dat" "$QVX_WORK/ExclusionInfo.before" ||
  wine_gui_fail "Escape changed ExclusionInfo.dat: $(tr -d '\r' <"$QVX_WORK/ExclusionInfo.dat")"
replay_again
[ "$(file_lines)" = $((2 * first)) ] ||
  wine_gui_fail "after Escape the replay logged $(($(file_lines) - first)) lines for the file, not $first"

# Added, then Return (OK): kept, saved, and the file is no longer logged.
add_entry
keys Return
wait_for 10 'gone "^Surveillance$"' || wine_gui_fail "Return left the exclusion list open"
tr -d '\r' <"$QVX_WORK/ExclusionInfo.dat" | grep -q ',\*report 2026\.txt$' ||
  wine_gui_fail "OK did not save the entry"
replay_again
[ "$(file_lines)" = $((2 * first)) ] ||
  wine_gui_fail "with the entry kept the replay still logged the file"

tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
wine_gui_wait_exit 10
echo "gui exclusion keys: ok"
