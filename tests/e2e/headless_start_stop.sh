#!/usr/bin/env bash
# quorvix --home D with capture not started (AutoStart=0): the three diagnostic logs appear in
# D/QVXkernel, the kernel and event logs open with the version line, and SIGTERM runs the shutdown
# sequence. (A run with no Quorvix.ini at all captures: live_defaults.sh.)
set -euo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
printf '[Option]\r\nAutoStart=0\r\n' >"$home/Quorvix.ini"

"$bin" --home "$home" SC >"$home/out.txt" 2>&1 &
pid=$!
for _ in $(seq 50); do
  ls "$home"/QVXkernel/QVXevent*.log >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 0.5
kill -TERM "$pid"
wait "$pid"

fail() { echo "FAIL: $*"; ls -R "$home"; cat "$home/out.txt"; exit 1; }
kernel=$(ls "$home"/QVXkernel/QVXkernel*.log) || fail "no kernel log"
dbg=$(ls "$home"/QVXkernel/QVXdbg*.log) || fail "no debug log"
event=$(ls "$home"/QVXkernel/QVXevent*.log) || fail "no event log"
# All three carry the same start second in their names.
sec=${kernel##*QVXkernel}; sec=${sec%.log}
[[ "$sec" =~ ^[0-9]+$ ]] && [ "$sec" -le 59 ] || fail "kernel log name $kernel"
[ "$dbg" = "$home/QVXkernel/QVXdbg$sec.log" ] || fail "debug log name $dbg"
[ "$event" = "$home/QVXkernel/QVXevent$sec.log" ] || fail "event log name $event"

first_line() { head -n 1 "$1" | tr -d '\r'; }
re='^QVX_I02-001 QVX_Dlg_Proc\[[0-9]+\]\[-?[0-9]+\] : Version 1\.73 FP1$'
[[ "$(first_line "$kernel")" =~ $re ]] || fail "kernel first line: $(first_line "$kernel")"
[[ "$(first_line "$event")" =~ $re ]] || fail "event first line: $(first_line "$event")"
# Every line ends with CR LF.
[ "$(grep -c $'\r$' "$kernel")" = "$(wc -l <"$kernel")" ] || fail "kernel lines without CR LF"

for want in "KillTimer START" "KillTimer END" "free START" "SessionSetup free" \
            "AccessData free" "DeleteCriticalSection init END" "CloseHandle END"; do
  grep -q "$want" "$event" || fail "event log lacks '$want'"
done
echo "headless start/stop: ok"
