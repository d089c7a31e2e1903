#!/usr/bin/env bash
# quorvix with LogFileWriteFlg=1 and a log folder that does not exist: the question of the log
# set-up appears on the console with its answer (OK), the folder is made, and the access log
# begins with the 123-byte header line; every line ends with CR LF. A second start appends to
# the same file without a second header.
set -euo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
log="$home/logs/new/Quorvix.log"
printf '[Option]\r\nAutoStart=0\r\nLogFileWriteFlg=1\r\nLogFilePath=%s\r\nNbtstatChgOn=0\r\n' "$log" \
  >"$home/Quorvix.ini"

run() {
  rm -rf "$home/QVXkernel"
  "$bin" --home "$home" >"$home/out.txt" 2>"$home/err.txt" &
  local pid=$!
  for _ in $(seq 50); do
    grep -q "ログファイル設定。" "$home"/QVXkernel/QVXkernel*.log 2>/dev/null && break
    sleep 0.1
  done
  sleep 0.3
  kill -TERM "$pid"
  wait "$pid" || fail "quorvix ended with $?"
}
fail() { echo "FAIL: $*"; cat "$home/err.txt"; ls -R "$home"; exit 1; }

run
grep -qF "[Log File Setting] $home/logs/new  A folder is not found. Does it create?  -> OK" \
  "$home/err.txt" || fail "no question on the console"
grep -qF "[Log File Setting] $home/logs/new  The folder was created. " "$home/err.txt" ||
  fail "no report of the new folder"
[ -f "$log" ] || fail "no access log"
header=$'[Access Time],Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),Server(MAC),SMB Cmd,SMB Info,Size,Operation,Path\r'
[ "$(head -c 123 "$log" | wc -c)" = 123 ] || fail "header length"
[ "$(head -n 1 "$log")" = "$header" ] || fail "header: $(head -n 1 "$log")"
[ "$(grep -c $'\r$' "$log")" = "$(wc -l <"$log")" ] || fail "a line without CR LF"
grep -q "LOG" "$home/err.txt" || fail "status part 1 is not LOG"

run
[ "$(grep -c 'Access Time' "$log")" = 1 ] || fail "a second header after the restart"
echo "access log headless: ok"
