#!/usr/bin/env bash
# Quorvix.exe under Wine on a virtual X display: it writes the version line to its kernel and
# event logs (its Japanese texts in Shift-JIS), shows its window, and ends cleanly when the window
# is closed. Keeps a screenshot in the build folder.
set -euo pipefail
exe=$1
shots=${2:-$(dirname "$exe")}
: "${WINEPREFIX:?WINEPREFIX must point into the build folder}"
export WINEDEBUG=-all WINEPREFIX
wine=/usr/lib/wine/wine64

for tool in Xvfb xdotool import iconv; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

work=$(mktemp -d)
display=:$((90 + RANDOM % 100))
cleanup() {
  [ -n "${app:-}" ] && kill "$app" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
cp "$exe" "$work/Quorvix.exe"

Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
sleep 1

fail() { echo "FAIL: $*"; ls -R "$work" || true; exit 1; }

# The first run in a new prefix creates it; give it time.
(cd "$work" && exec "$wine" "$work/Quorvix.exe" SC) &
app=$!
win=""
for _ in $(seq 120); do
  win=$(xdotool search --name "^Quorvix Redoduza" 2>/dev/null | head -n 1 || true)
  [ -n "$win" ] && break
  kill -0 "$app" 2>/dev/null || fail "Quorvix.exe ended before its window appeared"
  sleep 0.5
done
[ -n "$win" ] || fail "no window titled Quorvix Redoduza"
sleep 1
import -window root "$shots/gui_start_close.png" 2>/dev/null || true

# Close the window as a user would: focus it and press Alt+F4.
xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key --clearmodifiers alt+F4
for _ in $(seq 40); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.25
done
if kill -0 "$app" 2>/dev/null; then fail "Quorvix.exe still runs after its window was closed"; fi
wait "$app" || fail "Quorvix.exe exit code $?"
app=""

kernel=$(ls "$work"/QVXkernel/QVXkernel*.log 2>/dev/null) || fail "no kernel log"
event=$(ls "$work"/QVXkernel/QVXevent*.log 2>/dev/null) || fail "no event log"
ls "$work"/QVXkernel/QVXdbg*.log >/dev/null 2>&1 || fail "no debug log"
re='^QVX_I02-001 QVX_Dlg_Proc\[[0-9]+\]\[-?[0-9]+\] : Version 1\.73 FP1$'
for f in "$kernel" "$event"; do
  first=$(head -n 1 "$f" | tr -d '\r')
  [[ "$first" =~ $re ]] || fail "first line of $f: $first"
done
sjis=$(printf 'SC オプション' | iconv -f UTF-8 -t CP932)
grep -qF "$sjis" "$kernel" || fail "the SC line is not in Shift-JIS"
grep -q "CloseHandle END" "$event" || fail "the shutdown sequence did not run"
echo "gui start/close: ok"
