#!/usr/bin/env bash
# Each settings dialog opened from Quorvix.exe's menu with real key presses (xdotool), under Wine
# with the Japanese locale: Option, Surveillance and IPaddress Filter, and the entry dialogs from
# the list dialogs' Edit menus. A screenshot of each is kept; a missing or blank dialog fails.
set -euo pipefail
exe=$1
shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

# Lists the program reads at start-up from its current directory (the work folder): one entry in
# force, one disabled, one whose term is over.
printf '%s\r\r\n' \
  '01,00000000,-,00000000,0,2,1,C:\share\tmp\' \
  '02,00000000,-,00000000,1,0,0,*.tmp' \
  '03,20200101,-,20201231,0,1,1,C:\share\old' >"$QVX_WORK/ExclusionInfo.dat"
printf '%s\r\r\n' \
  '01,00000000,-,00000000,0,1,10.0.0.5' \
  '02,00000000,-,00000000,0,0,10.0.0.6' >"$QVX_WORK/IPAddFilterInfo.dat"
cp "$QVX_WORK/ExclusionInfo.dat" "$QVX_WORK/ExclusionInfo.before"
cp "$QVX_WORK/IPAddFilterInfo.dat" "$QVX_WORK/IPAddFilterInfo.before"

wine_gui_start "$exe" SC
main=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
sleep 1

focus() { wine_gui_focus "$1"; }
keys() { wine_gui_keys "$@"; }

# opened TITLE_REGEX SHOT: the dialog appeared, is drawn (more than the 3 colours of a blank
# frame), and its screenshot is kept. Its window is in $dlg.
dlg=""
opened() {
  dlg=$(wine_gui_window "$1" 10) || wine_gui_fail "no dialog titled $1"
  sleep 1
  wine_gui_shot "$dlg" "$shots/$2.png" 3
}

# closed TITLE_REGEX: Escape closes the focused dialog.
closed() {
  keys Escape
  local i
  for i in $(seq 20); do
    xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
    sleep 0.25
  done
  wine_gui_fail "dialog $1 still open after Escape"
}

# Setting(&T): Surveillance(&K), IPaddress Filter, Option(&O).
focus "$main"
keys alt+t o
opened "^Option$" dialog_option
closed "^Option$"

focus "$main"
keys alt+t k
opened "^Surveillance$" dialog_surveillance
# cell ROW COL of the list view CHILD in the dialog titled TITLE.
cell() { wine_gui_tool cell "#32770" "$1" "$2" "$3" "$4" | tr -d '\r'; }
[ "$(wine_gui_tool count "#32770" Surveillance 10002 | tr -d '\r')" = 3 ] ||
  wine_gui_fail "the exclusion list does not show its 3 entries"
[ "$(cell Surveillance 10002 0 1)" = "    ON" ] || wine_gui_fail "entry 1 is in force"
[ "$(cell Surveillance 10002 1 1)" = "--  " ] || wine_gui_fail "entry 2 is disabled"
[ "$(cell Surveillance 10002 2 1)" = "    XX" ] || wine_gui_fail "entry 3 is over"
[ "$(cell Surveillance 10002 1 5)" = "*.tmp" ] || wine_gui_fail "entry 2's path"
focus "$dlg"
keys alt+e Return
opened "^Surveillance Setting$" dialog_surveillance_entry
closed "^Surveillance Setting$"
closed "^Surveillance$"

focus "$main"
keys alt+t Down Return
opened "^IPaddress Filter$" dialog_ipfilter
[ "$(cell "IPaddress Filter" 10003 1 4)" = "10.0.0.6" ] || wine_gui_fail "IP entry 2's address"
[ "$(cell "IPaddress Filter" 10003 1 1)" = "--  " ] || wine_gui_fail "IP entry 2 is disabled"
focus "$dlg"
keys alt+e Return
opened "^IPaddress Filter Setting$" dialog_ipfilter_entry
closed "^IPaddress Filter Setting$"
closed "^IPaddress Filter$"

# Nothing was saved: every dialog was left with Escape.
[ ! -e "$QVX_WORK/Quorvix.ini" ] || wine_gui_fail "Quorvix.ini was written by a cancelled dialog"
for f in ExclusionInfo IPAddFilterInfo; do
  cmp -s "$QVX_WORK/$f.dat" "$QVX_WORK/$f.before" || wine_gui_fail "$f.dat changed"
done

# Option, then OK (Return) with nothing changed: the automatic address (0.0.0.0, the default)
# stays automatic, however the window resolved it for capture.
focus "$main"
keys alt+t o
opened "^Option$" dialog_option
keys Return
# The restart notice, when shown, is answered too.
for _ in $(seq 8); do
  box=$(xdotool search --onlyvisible --name "^infomation$" 2>/dev/null | head -n 1 || true)
  if [ -n "$box" ]; then
    focus "$box"
    keys Return
    break
  fi
  sleep 0.25
done
for _ in $(seq 20); do
  [ -s "$QVX_WORK/Quorvix.ini" ] && grep -q "^IpAddress=" "$QVX_WORK/Quorvix.ini" && break
  sleep 0.25
done
ip=$(tr -d '\r' <"$QVX_WORK/Quorvix.ini" | sed -n 's/^IpAddress=//p')
[ "$ip" = 0.0.0.0 ] || wine_gui_fail "OK with nothing changed wrote IpAddress=$ip"

focus "$main"
keys alt+F4
wine_gui_wait_exit 10
echo "gui settings menu: ok"
