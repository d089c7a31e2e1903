#!/usr/bin/env bash
# The server's session list hangs: smbstatus (a wrapper first on quorvix's PATH) sleeps 25 s and
# then fails, every time, while three fresh smbclients get 100 distinct files each at full speed.
# The capture must not wait for it: every get is logged, each line with the second of its own
# request as tcpdump recorded it, all lines written within moments of the burst's end (not 10 s
# per hanging query), and no tree logged out while its connection is open.
#
#   live_smbstatus.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
command -v tshark >/dev/null || { echo "SKIP: needs tshark"; exit 77; }
smb_up

clients=3
files=100
share=$QVX_SMB_DIR/share/docs
for c in $(seq $clients); do
  mkdir -p "$share/h$c"
  for f in $(seq -w $files); do printf 'file %s of client %s\n' "$f" "$c" >"$share/h$c/f$f.txt"; done
done
chmod -R a+rwX "$share"

home=$(mktemp -d)
mkdir "$home/bin"
cat >"$home/bin/smbstatus" <<'WRAP'
#!/bin/sh
sleep 25
exit 1
WRAP
chmod +x "$home/bin/smbstatus"

ip netns exec "$SMB_NS_C" tcpdump -i "$SMB_CLIENT_DEV" -s 0 -U -w "$home/cap.pcap" 'tcp port 445' \
  2>"$home/tcpdump.err" &
tcpd=$!
for _ in $(seq 50); do grep -q "listening on" "$home/tcpdump.err" && break; sleep 0.1; done
grep -q "listening on" "$home/tcpdump.err" || fail "tcpdump did not start"

# The session list is asked for every second.
PATH="$home/bin:$PATH" qvx_live_start "$bin" $'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\nRefleshTime=1\r\n'
sleep 1.5

pids=()
for c in $(seq $clients); do
  mkdir -p "$home/got$c"
  cmds="cd h$c; lcd $home/got$c"
  for f in $(seq -w $files); do cmds+="; get f$f.txt"; done
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >"$home/client$c" 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || fail "smbclient failed: $(tail -n 3 "$home"/client*)"; done
# Within two seconds of the burst's end every get is in the log, hanging queries or not.
sleep 2
count() { tr -d '\r' <"$home/Quorvix.log" 2>/dev/null | grep -c "^\[[^]]*\],access,.*/h[0-9]/f[0-9]*\.txt$" || true; }
written=$(count)
# The hanging query ends at its time limit (10 s): from then on the failure is told, once, at the
# next look at the list (a get now and then gives the capture frames to handle).
for _ in $(seq 20); do
  grep -qs "QVX_E09-016" "$home"/QVXkernel/QVXkernel*.log && break
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "get h1/f001.txt /dev/null" \
    >/dev/null 2>&1 || true
  sleep 1
done
qvx_live_stop
kill "$tcpd" 2>/dev/null || true
sleep 0.5

[ "$written" -ge $((clients * files)) ] ||
  fail "$written of $((clients * files)) gets logged two seconds after the burst (capture stalled)"

# The capture's own record: the second of each file's first CREATE request (local time).
tshark -r "$home/cap.pcap" -Y 'smb2.cmd == 5 && smb2.flags.response == 0' -T fields \
  -e frame.time_epoch -e smb2.filename 2>/dev/null |
  awk -F'\t' '$2 ~ /f[0-9]+\.txt$/ { n = $2; sub(/.*\\/, "", n); d = $2; sub(/\\[^\\]*$/, "", d);
    key = d "/" n; if (!(key in t)) { t[key] = int($1); print key, int($1) } }' >"$home/sent"
[ "$(wc -l <"$home/sent")" = $((clients * files)) ] || fail "tcpdump saw $(wc -l <"$home/sent") gets"

tr -d '\r' <"$home/Quorvix.log" | awk -F, '$2 == "access" && $13 ~ /\/h[0-9]\/f[0-9]+\.txt$/ {
    n = split($13, p, "/"); print p[n - 1] "/" p[n], substr($1, 2, 19) }' >"$home/logged"
wrong=0
while read -r key sec; do
  want=$(date -d "@$sec" '+%Y/%m/%d %H:%M:%S')
  got=$(awk -v k="$key" '$1 == k { print $2, $3; exit }' "$home/logged")
  [ -n "$got" ] || fail "no access line for $key"
  [ "$got" = "$want" ] || { wrong=$((wrong + 1)); [ $wrong -le 3 ] && echo "$key: line at $got, request at $want"; }
done <"$home/sent"
[ "$wrong" = 0 ] || fail "$wrong lines carry another time than their request's"

# No tree was logged out while its connection was in use: no access on a tree after its logout.
early=$(tr -d '\r' <"$home/Quorvix.log" | awk -F, '$2 == "logout" { out[$3] = substr($1, 2, 19) }
  $2 == "access" && ($3 in out) && substr($1, 2, 19) > out[$3] { print; exit }')
[ -z "$early" ] || fail "a tree was logged out while its connection was in use: $early"
grep -q "QVX_E09-016" "$home"/QVXkernel/QVXkernel*.log || fail "the failing session list was not told"
grep -q "session list cannot be read" "$home/out" || fail "the console did not hear of the failing list"
[ "$(grep -c "QVX_E09-016" "$home"/QVXkernel/QVXkernel*.log)" = 1 ] || fail "the failing list was told more than once"
echo "live smbstatus: ok"
