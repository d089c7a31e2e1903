#!/usr/bin/env bash
# The tray window of Quorvix.exe under Wine, driven through its callback message 0x8065 as the
# shell sends it: a double click brings the main window back after each way of hiding it and hides
# a shown one; a right click opens menu 124, whose "Window Down" hides the window and whose "End"
# ends the program through its shutdown sequence. Keeps a screenshot of the open menu.
set -euo pipefail
exe=$1
shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

main=("#32770" "Quorvix Redoduza")
tray=("Quorvix Redoduza 1.73 FP1" "-")
callback() { wine_gui_tool post "${tray[@]}" 0x8065 0 "$1"; }  # WM_LBUTTONDBLCLK 0x203, ...
double_click() { callback 0x0203; }
visible() { wine_gui_tool visible "$@" 2>/dev/null | tr -d '\r'; }
expect_main() {  # 1|0 WHAT: waits up to 5 s for the main window to be shown (1) or hidden (0)
  local i
  for i in $(seq 25); do
    [ "$(visible "${main[@]}")" = "$1" ] && return 0
    sleep 0.2
  done
  wine_gui_fail "$2"
}

wine_gui_start "$exe" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
[ "$(visible "${tray[@]}")" = 0 ] || wine_gui_fail "no hidden tray window"

# Each way of hiding, then a double click.
wine_gui_tool post "${tray[@]}" 0x0111 40031 0 # tray menu "Window Down"
expect_main 0 "Window Down left the window shown"
double_click
expect_main 1 "a double click after Window Down did not show the window"

wine_gui_tool post "${main[@]}" 0x0111 40048 0 # main menu "Task Tray Icon Input"
expect_main 0 "Task Tray Icon Input left the window shown"
double_click
expect_main 1 "a double click after Task Tray Icon Input did not show the window"

wine_gui_tool post "${main[@]}" 0x8066 0 0 # the capture thread's hide
expect_main 0 "message 0x8066 left the window shown"
double_click
expect_main 1 "a double click after 0x8066 did not show the window"

double_click
expect_main 0 "a double click on a shown window did not hide it"
double_click
expect_main 1 "a second double click did not show the window again"

wine_gui_tool post "${tray[@]}" 0x0111 40028 0 # tray menu "Window Up" on a shown window
sleep 0.5
expect_main 1 "Window Up hid the window"

# Right click: the menu opens; its "Window Down(&V)" is chosen with the keyboard.
menu_open() {
  local i
  for i in $(seq 25); do
    [ "$(visible "#32768" "-")" = 1 ] && return 0
    sleep 0.2
  done
  return 1
}
callback 0x0204
menu_open || wine_gui_fail "a right click opened no menu"
wine_gui_shot "$win" "$shots/gui_tray_menu.png"
wine_gui_tool post "#32768" "-" 0x0102 0x76 0 # WM_CHAR 'v'
expect_main 0 "the menu's Window Down did not hide the window"
double_click
expect_main 1 "a double click after the menu's Window Down did not show the window"

# Right click, "End(&X)": the program ends cleanly.
callback 0x0204
menu_open || wine_gui_fail "the second right click opened no menu"
wine_gui_tool post "#32768" "-" 0x0102 0x78 0 # WM_CHAR 'x'
wine_gui_wait_exit 10
event=$(ls "$QVX_WORK"/QVXkernel/QVXevent*.log 2>/dev/null) || wine_gui_fail "no event log"
grep -q "CloseHandle END" "$event" || wine_gui_fail "the shutdown sequence did not run"
echo "gui tray: ok"
