#!/usr/bin/env bash
# Quorvix.exe captures live under Wine on an adapter that carries no TCP at all: a veth in a
# network namespace of this test, its peer in a second one. Stop, Start, "WinPcap Restart" and End
# are given through the main menu while nothing arrives; each must return within 2 s (the window
# must not wait for a capture thread that sits in a receive until some frame comes), and End must
# run the shutdown sequence. The status bar names the adapter and the address while capturing.
set -euo pipefail
exe=$1
if [ "${2:-}" != --inside ]; then
  if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null; then
    echo "SKIP: needs root and ip(8) for network namespaces"
    exit 77
  fi
  ns_a="qvxgq-$$" ns_b="qvxgqp-$$"
  cleanup() {
    ip netns pids "$ns_a" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns del "$ns_a" 2>/dev/null || true
    ip netns del "$ns_b" 2>/dev/null || true
  }
  trap cleanup EXIT
  ip netns add "$ns_a" 2>/dev/null || {
    echo "SKIP: network namespaces cannot be made here"
    exit 77
  }
  ip netns add "$ns_b"
  ip link add "qgq$$" type veth peer name "qgp$$"
  ip link set "qgq$$" netns "$ns_a"
  ip link set "qgp$$" netns "$ns_b"
  for side in "$ns_a:qgq$$:10.231.0.1" "$ns_b:qgp$$:10.231.0.2"; do
    IFS=: read -r ns dev addr <<<"$side"
    ip netns exec "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1
    ip netns exec "$ns" ip addr add "$addr/24" dev "$dev"
    ip netns exec "$ns" ip link set "$dev" up
    ip netns exec "$ns" ip link set lo up
  done
  # Wine's device services list the adapters: a server of this prefix started outside the
  # namespace would show the host's. Let any earlier one end first.
  WINEPREFIX=${WINEPREFIX:?} /usr/lib/wine/wineserver -w 2>/dev/null || true
  rc=0
  ip netns exec "$ns_a" "$0" "$exe" --inside || rc=$?
  exit "$rc"
fi

shots=${QVX_SHOTS:-$(dirname "$exe")/screenshots}
source "$(dirname "$0")/../support/wine_gui.sh"
wine_gui_setup
printf '[Option]\r\nIpAddress=10.231.0.1\r\nAutoStart=1\r\n' >"$QVX_WORK/Quorvix.ini"

main=("#32770" "Quorvix Redoduza")
menu() {  # ID: the main menu command; fails when the window does not answer within 2 s
  wine_gui_tool send 2000 "${main[@]}" 0x0111 "$1" 0 >/dev/null
}
status() { wine_gui_tool text "${main[@]}" 10001 | tr -d '\r'; }
kernel() { cat "$QVX_WORK"/QVXkernel/QVXkernel*.log 2>/dev/null | tr -d '\r' || true; }
threads() { kernel | grep -c "^QVX_I03-002 QVX_StartandStop_Logging" || true; }
# Waits until capture thread number N has started.
started() {
  local i
  for i in $(seq 80); do
    [ "$(threads | tr -d '\n')" -ge "$1" ] && return 0
    sleep 0.25
  done
  return 1
}

wine_gui_start "$exe" SC
win=$(wine_gui_window "^Quorvix Redoduza" 60) || wine_gui_fail "no window titled Quorvix Redoduza"
started 1 || wine_gui_fail "capture did not start on the veth: $(kernel | tail -n 5)"
# The status bar names the address and the adapter.
part() { wine_gui_tool part "${main[@]}" 10001 "$1" | tr -d '\r'; }
for _ in $(seq 12); do
  [[ "$(part 2)" =~ ^Capturing\ 10\.231\.0\.1\ on\ .+ ]] && break
  sleep 0.25
done
[[ "$(part 2)" =~ ^Capturing\ 10\.231\.0\.1\ on\ .+ ]] || wine_gui_fail "status reads '$(part 2)'"
sleep 0.5
menu 40023 || wine_gui_fail "Stop on a quiet adapter did not return within 2 s"
[ "$(part 2)" = Stopped ] || wine_gui_fail "status after Stop reads '$(part 2)'"
menu 40046 || wine_gui_fail "Start did not return within 2 s"
started 2 || wine_gui_fail "capture did not start again"
sleep 0.5
menu 40058 || wine_gui_fail "WinPcap Restart on a quiet adapter did not return within 2 s"
started 3 || wine_gui_fail "capture did not start after the restart"
sleep 0.5
wine_gui_tool post "${main[@]}" 0x0111 40021 0 || wine_gui_fail "no window to end"
wine_gui_wait_exit 2
event=$(ls "$QVX_WORK"/QVXkernel/QVXevent*.log 2>/dev/null) || wine_gui_fail "no event log"
grep -q "CloseHandle END" "$event" || wine_gui_fail "the shutdown sequence did not run"
echo "gui stop on a quiet adapter: ok"
