#!/usr/bin/env bash
# Quorvix.exe replays the SMB2 recording into a list that holds 10 rows (AccessDataCnt=10) with
# the access log on. A full list lets its oldest rows go: at the end the list holds the newest 10
# rows, which are the last 10 lines of the access log, and the status bar counts the rows that
# left the list. A second run replays the same file cut short: the window says the file is
# damaged and after how many frames. Keeps a screenshot of the full list.
set -euo pipefail
exe=$1
shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
data=$(cd "$(dirname "$0")/../data" && pwd)
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

main=("#32770" "Quorvix Redoduza")
rows() { wine_gui_tool count "${main[@]}" 10000 | tr -d '\r'; }
cell() { wine_gui_tool cell "${main[@]}" 10000 "$1" "$2" | tr -d '\r' | iconv -f CP932 -t UTF-8; }
part() { wine_gui_tool part "${main[@]}" 10001 "$1" | tr -d '\r'; }
# Waits until status part 2 (what capture does) matches the pattern.
state_is() {
  local i
  for i in $(seq 120); do
    [[ "$(part 2)" =~ $1 ]] && return 0
    sleep 0.25
  done
  return 1
}

printf '[Option]\r\nMemperformanceSelect=2\r\nAccessDataCnt=10\r\nLogFileWriteFlg=1\r\n' \
  >"$QVX_WORK/Quorvix.ini"
cp "$data/smb2_ops.pcap" "$QVX_WORK/ops.pcap"
wine_gui_start "$exe" --replay "$QVX_WORK/ops.pcap" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
state_is "^Capture file replayed to its end" || wine_gui_fail "status reads '$(part 2)'"
sleep 1.5  # the counts part follows once a second

log=$QVX_WORK/Quorvix.log
[ -s "$log" ] || wine_gui_fail "no access log"
lines=$(grep -c "^\[[0-9]" "$log")  # the header line "[Access Time],..." is no access
[ "$lines" -gt 10 ] || wine_gui_fail "only $lines access-log lines: the list never filled"
n=$(rows)
[ "$n" -eq 10 ] || wine_gui_fail "$n rows in a list of 10"
# The rows are the newest: read from the last, each row's path is found in the access log before
# the one of the row after it, and the last row is the log's last line. (The log also has lines
# the list does not show, so the rows are a subsequence of its end.)
mapfile -t paths < <(tr -d '\r' <"$log" | iconv -f CP932 -t UTF-8 | sed 's/^.*,//')
at=${#paths[@]}
for ((i = 9; i >= 0; i--)); do
  want=$(cell "$i" 12 | sed 's/ *$//')
  found=0
  while ((at > 0)); do
    at=$((at - 1))
    # Share lines carry the tree's ids after the share: " [T:.. P:.. U:.. M:..]".
    if [ "${paths[$at]}" = "$want" ] || [[ "${paths[$at]}" == "$want ["* ]]; then
      found=1
      break
    fi
    [ "$i" -eq 9 ] && wine_gui_fail "the last row '$want' is not the log's last line '${paths[$at]}'"
  done
  [ "$found" = 1 ] || wine_gui_fail "row $i '$want' is not among the log's newest lines"
done
counts=$(part 3)
[[ "$counts" =~ ^Lines\ $lines\ \|\ Rows\ dropped\ ([0-9]+),\ pruned\ 0\ \| ]] ||
  wine_gui_fail "counts read '$counts' ($lines lines written)"
dropped=${BASH_REMATCH[1]}
# Every row that came after the first 10 pushed one out; the rows before the first kept one are
# the dropped ones, and those are at most the lines before it.
[ "$dropped" -gt 0 ] && [ "$dropped" -le "$at" ] ||
  wine_gui_fail "$dropped rows dropped, with the first kept row at line $((at + 1))"
[ "$(part 1)" = LOG ] || wine_gui_fail "the LOG mark reads '$(part 1)'"
wine_gui_shot "$win" "$shots/gui_list_ring.png"
wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
wine_gui_wait_exit 5

# The same recording cut inside a frame record.
size=$(stat -c %s "$data/smb2_ops.pcap")
head -c $((size - 40)) "$data/smb2_ops.pcap" >"$QVX_WORK/cut.pcap"
wine_gui_start "$exe" --replay "$QVX_WORK/cut.pcap" SC
wine_gui_window "^Quorvix Redoduza" 60 >/dev/null || wine_gui_fail "no window for the cut file"
state_is "^Capture file damaged after [1-9][0-9]* frames: .+" ||
  wine_gui_fail "status reads '$(part 2)' for a file cut in its last frame"
wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
wine_gui_wait_exit 5
echo "gui list ring: ok"
