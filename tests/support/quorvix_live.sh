#!/usr/bin/env bash
# Sourced by the live tests after smbd_netns.sh: quorvix captures in the server's namespace (or
# the lab's monitor namespace, $SMB_CAPTURE_NS) with
# a Quorvix.ini of its own in a fresh home, and is ended the normal way. Sets the test's clean-up
# (everything it started, the home, the namespaces) and its failure report.
#
#   qvx_live_start QUORVIX INI_LINES   home in $home (made unless the test made it first), pid in
#                                      $qpid; returns once capture runs
#   qvx_live_stop                      SIGTERM, then waits for the shutdown
#   qvx_live_settle_stop [TRIES]       once the access log stops growing (the capture thread has
#                                      worked through what it has; at most TRIES half-seconds,
#                                      40 unless given), qvx_live_stop
#   fail MESSAGE                       says why, with the ends of the console and access log
qpid=
home=
qvx_cleanup() {
  kill $(jobs -p) 2>/dev/null || true
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null && wait "$qpid" 2>/dev/null
  [ -n "$home" ] && rm -rf "$home"
  smb_down
}
trap qvx_cleanup EXIT
fail() {
  echo "FAIL: $*"
  if [ -n "$home" ]; then
    tail -n 10 "$home/out" 2>/dev/null
    tr -d '\r' <"$home/Quorvix.log" 2>/dev/null | tail -n 20
  fi
  exit 1
}
qvx_live_start() {
  [ -n "$home" ] || home=$(mktemp -d)
  printf '[Option]\r\nIpAddress=%s\r\nAutoStart=1\r\n%s' "$SMB_SERVER_IP" "$2" >"$home/Quorvix.ini"
  (cd "$home" && exec ip netns exec "${SMB_CAPTURE_NS:-$SMB_NS_S}" "$1" --home "$home" --smb-conf "$SMB_CONF" SC \
    >"$home/out" 2>&1) &
  qpid=$!
  for _ in $(seq 100); do
    grep -qs "QVX_I03-002" "$home"/QVXkernel/QVXkernel*.log && return 0
    sleep 0.1
  done
  fail "capture did not start: $(cat "$home/out" "$home"/QVXkernel/QVXkernel*.log 2>/dev/null)"
}
qvx_live_stop() {
  kill -TERM "$qpid"
  wait "$qpid" || true
  qpid=
}
qvx_live_settle_stop() {
  local last=-1 now
  for _ in $(seq "${1:-40}"); do
    now=$(stat -c %s "$home/Quorvix.log" 2>/dev/null || echo 0)
    [ "$now" = "$last" ] && break
    last=$now
    sleep 0.5
  done
  qvx_live_stop
}
# tcpdump of port 445 on the client's side of the lab into FILE; returns once it listens.
tcpd=
qvx_client_record() {
  ip netns exec "$SMB_NS_C" tcpdump -i "$SMB_CLIENT_DEV" -s 0 -U -w "$1" 'tcp port 445' \
    2>"$1.err" &
  tcpd=$!
  for _ in $(seq 100); do
    grep -qs 'listening on' "$1.err" && break
    sleep 0.1
  done
  grep -qs 'listening on' "$1.err" || fail "tcpdump did not start: $(cat "$1.err")"
}
qvx_client_record_stop() {
  kill "$tcpd" 2>/dev/null || true
  wait "$tcpd" 2>/dev/null || true
  tcpd=
}
