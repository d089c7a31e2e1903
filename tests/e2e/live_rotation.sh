#!/usr/bin/env bash
# Access-log rotation live. smbd serves a folder in one network namespace, quorvix captures in
# that namespace and smbclient in another gets numbered files in bursts.
#  1. Built-in rotation: a size limit of 1000 bytes checked every second switches the log several
#     times while the lines come in.
#  2. logrotate: the log is moved away with "create" and a postrotate SIGHUP, between bursts.
# Afterwards every file the client got has exactly one access line across all the files of the
# run, no line is split, every file starts with exactly one header line, and (run 1, with
# ChangeLogFileUpDate=1) every dated file ends with an empty line.
#
#   live_rotation.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/packaged_logrotate.sh"
qpid=
homes=()
cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null && wait "$qpid" 2>/dev/null
  for h in "${homes[@]}"; do rm -rf "$h"; done
  smb_down
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}
command -v logrotate >/dev/null || { echo "SKIP: logrotate is not installed"; exit 77; }
smb_up

share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/rot"
for i in $(seq 1 60); do printf 'file %d\n' "$i" >"$share/rot/f$i.txt"; done
chmod -R a+rwX "$share"
header='[Access Time],Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),Server(MAC),SMB Cmd,SMB Info,Size,Operation,Path'

starts() { grep -hs "QVX_I03-002" "$home"/QVXkernel/QVXkernel*.log | wc -l; }

# Starts quorvix in the server namespace with the settings given (ini lines) and waits until it
# captures.
start_quorvix() {
  home=$(mktemp -d)
  homes+=("$home")
  {
    printf '[Option]\r\nIpAddress=%s\r\nAutoStart=1\r\nLogFileWriteFlg=1\r\nSMBcmdListFlg=1\r\n' \
      "$SMB_SERVER_IP"
    printf 'NbtstatChgOn=0\r\nServiceTaskWait=100\r\nRefleshTime=1\r\n'
    for kv in "$@"; do printf '%s\r\n' "$kv"; done
  } >"$home/Quorvix.ini"
  (cd "$home" && exec ip netns exec "$SMB_NS_S" "$bin" --home "$home" --smb-conf "$SMB_CONF" SC \
    >"$home/out" 2>&1) &
  qpid=$!
  for _ in $(seq 100); do
    [ "$(starts)" -ge 1 ] && break
    sleep 0.1
  done
  [ "$(starts)" -ge 1 ] || fail "capture did not start: $(cat "$home/out")"
  sleep 0.5
}

stop_quorvix() {
  sleep 2
  kill -TERM "$qpid"
  wait "$qpid" || true
  qpid=
}

# Gets files rot/f$1 .. rot/f$2 in one smbclient session.
burst() {
  local cmds="cd rot;" i
  for i in $(seq "$1" "$2"); do cmds="$cmds get f$i.txt /dev/null;"; done
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >"$home/client" 2>&1 ||
    fail "smbclient: $(cat "$home/client")"
}

# Checks the files of a run (given oldest first): one header each, at the start; whole lines;
# access lines of f$1..f$2 exactly once in all.
check_files() {
  local first=$1 last=$2
  shift 2
  local f all=""
  for f in "$@"; do
    local body
    body=$(tr -d '\r' <"$f")
    [ "$(head -n 1 <<<"$body")" = "$header" ] || fail "$f does not start with the header"
    [ "$(grep -cxF "$header" <<<"$body")" = 1 ] || fail "$f holds more than one header"
    # Every line but the header and empty ones is a whole line: it starts with the time stamp
    # and has at least the 13 columns.
    awk -F, 'NR > 1 && $0 != "" && (length($1) != 21 || $1 !~ /^\[[0-9][0-9][0-9][0-9]\/.*\]$/ || NF < 13) {
      print "split or broken line " NR ": " $0; bad = 1 } END { exit bad }' <<<"$body" ||
      fail "$f has a broken line"
    all+="$body"$'\n'
  done
  local i n
  for i in $(seq "$first" "$last"); do
    n=$(awk -F, -v p="$share/rot/f$i.txt" '$2 == "access" && $9 == "SMB2_CREATE" && $13 == p' \
      <<<"$all" | wc -l)
    [ "$n" = 1 ] || fail "f$i.txt has $n access lines across $*"
  done
}

# ---- 1. built-in rotation by size ----
start_quorvix LogFileChangeFlg=1 LogFileChangeChkTime=1 LogFileSize=1 ChangeLogFileUpDate=1
for b in 0 1 2 3 4; do
  burst $((b * 6 + 1)) $((b * 6 + 6))
  sleep 1.2
done
stop_quorvix
mapfile -t dated < <(ls "$home" | grep -E '^Quorvix[0-9]{12}\.log$' | sort | sed "s|^|$home/|")
[ "${#dated[@]}" -ge 2 ] || fail "built-in rotation: ${#dated[@]} switches, expected several"
for f in "${dated[@]}"; do
  [ "$(tail -c 4 "$f" | od -An -c | tr -d ' ')" = '\r\n\r\n' ] || fail "$f does not end with an empty line"
done
check_files 1 30 "${dated[@]}" "$home/Quorvix.log"
grep -qs "QVX_I10-001 LogFileChangeCheck" "$home"/QVXkernel/*.log || fail "no size-switch message"
echo "ok: built-in rotation, ${#dated[@]} switches, every access once"

# ---- 2. logrotate with create and a postrotate SIGHUP ----
start_quorvix LogFileChangeFlg=0
qvx_logrotate_conf "$home" "$qpid" >"$home/logrotate.conf"
burst 31 40
sleep 0.5
before=$(starts)
logrotate -f -s "$home/logrotate.state" "$home/logrotate.conf" || fail "logrotate failed"
# SIGHUP reopens the log and nothing else: capture is never restarted.
for _ in $(seq 20); do
  grep -qs "QVX_I10-006" "$home"/QVXkernel/QVXkernel*.log && break
  sleep 0.1
done
[ "$(starts)" = "$before" ] || fail "SIGHUP restarted capture"
burst 41 50
stop_quorvix
[ -f "$home/Quorvix.log.1" ] || fail "logrotate did not rotate"
check_files 31 50 "$home/Quorvix.log.1" "$home/Quorvix.log"
grep -q "/rot/f41.txt" "$home/Quorvix.log" || fail "lines after SIGHUP did not reach the new file"
echo "ok: logrotate with SIGHUP, every access once"
echo "live rotation: ok"
