#!/usr/bin/env bash
# Quorvix.exe under Wine on a virtual X display with a Japanese locale: it writes the version line
# to its kernel and event logs (its Japanese texts in Shift-JIS), shows its window with the status
# text "Login：0", and ends cleanly when the window is closed. Keeps a screenshot.
set -euo pipefail
exe=$1
shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

wine_gui_start "$exe" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
sleep 1
wine_gui_shot "$win" "$shots/gui_start_close.png"

# The status bar's first part, read back in the Japanese code page.
status=$(wine_gui_tool text "#32770" "Quorvix Redoduza" 10001 | tr -d '\r')
[ "$status" = "Login：0" ] || wine_gui_fail "status bar reads '$status', not 'Login：0'"

# Close the window as a user would: focus it and press Alt+F4.
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --clearmodifiers alt+F4
wine_gui_wait_exit 10

work=$QVX_WORK
kernel=$(ls "$work"/QVXkernel/QVXkernel*.log 2>/dev/null) || wine_gui_fail "no kernel log"
event=$(ls "$work"/QVXkernel/QVXevent*.log 2>/dev/null) || wine_gui_fail "no event log"
ls "$work"/QVXkernel/QVXdbg*.log >/dev/null 2>&1 || wine_gui_fail "no debug log"
re='^QVX_I02-001 QVX_Dlg_Proc\[[0-9]+\]\[-?[0-9]+\] : Version 1\.73 FP1$'
for f in "$kernel" "$event"; do
  first=$(head -n 1 "$f" | tr -d '\r')
  [[ "$first" =~ $re ]] || wine_gui_fail "first line of $f: $first"
done
sjis=$(printf 'SC オプション' | iconv -f UTF-8 -t CP932)
grep -qF "$sjis" "$kernel" || wine_gui_fail "the SC line is not in Shift-JIS"
grep -q "CloseHandle END" "$event" || wine_gui_fail "the shutdown sequence did not run"
# A fresh install finds its name-query command beside the program.
if grep -q "NBTSTAT COMMAND CHK NG" "$kernel"; then wine_gui_fail "the name-query check failed"; fi
echo "gui start/close: ok"
