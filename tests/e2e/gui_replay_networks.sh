#!/usr/bin/env bash
# Quorvix.exe under Wine replays the captures of SMB over IPv6, in two VLAN tags, as Linux cooked
# v2 frames and over port 139: each gives one "login" and one "connect" line per tree connect of
# the capture, naming the client and the server by the addresses tshark reads off its frames.
#
#   gui_replay_networks.sh QUORVIX_EXE
set -euo pipefail
exe=$1
data=$(cd "$(dirname "$0")/../data" && pwd)
command -v tshark >/dev/null || { echo "SKIP: needs tshark"; exit 77; }
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup

main=("#32770" "Quorvix Redoduza")
part() { wine_gui_tool part "${main[@]}" 10001 "$1" | tr -d '\r'; }
for capture in smb2_ipv6 smb2_qinq_ipv6 smb2_sll2 smb2_port139; do
  # The tree connects toward the server, with their two ends, as tshark reads them.
  want=$(tshark -r "$data/$capture.pcap" -Y 'smb2.cmd == 3 && smb2.flags.response == 0' \
    -T fields -E separator=, -e ipv6.src -e ip.src -e ipv6.dst -e ip.dst 2>/dev/null |
    sed 's/,,*/,/g; s/^,//; s/,$//' | sort)
  [ -n "$want" ] || wine_gui_fail "tshark finds no tree connect in $capture"
  rm -f "$QVX_WORK/Quorvix.log"
  printf '[Option]\r\nLogFileWriteFlg=1\r\n' >"$QVX_WORK/Quorvix.ini"
  cp "$data/$capture.pcap" "$QVX_WORK/capture.pcap"
  wine_gui_start "$exe" --replay "$QVX_WORK/capture.pcap" SC
  wine_gui_window "^Quorvix Redoduza" 60 >/dev/null || wine_gui_fail "no window for $capture"
  for _ in $(seq 120); do
    [[ "$(part 2)" =~ ^Capture\ file\ replayed\ to\ its\ end ]] && break
    sleep 0.25
  done
  [[ "$(part 2)" =~ ^Capture\ file\ replayed\ to\ its\ end ]] ||
    wine_gui_fail "$capture: the status reads '$(part 2)'"
  wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
  wine_gui_wait_exit 20
  # Action, then Client(IP) and Server(IP), the fifth and sixth columns.
  for action in login connect; do
    got=$(tr -d '\r' <"$QVX_WORK/Quorvix.log" | awk -F, -v a="$action" '$2 == a {print $5 "," $6}' |
      sort)
    [ "$got" = "$want" ] || wine_gui_fail "$capture: $action lines of '$got', tshark says '$want'"
  done
done
echo "gui replay networks: ok"
