#!/usr/bin/env bash
# A busy moment, live: four smbclient processes start together and each gets 1,000 distinct
# files as fast as it can, while quorvix captures in the server's namespace with its shipped
# defaults (idle wait, capture buffer). The access log must name every one of the 4,000 files,
# and the capture must report no dropped frame.
#
#   live_burst.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up

clients=4
files=1000
share=$QVX_SMB_DIR/share/docs
for c in $(seq $clients); do
  mkdir -p "$share/c$c"
  for f in $(seq -w $files); do printf 'file %s of client %s\n' "$f" "$c" >"$share/c$c/f$f.txt"; done
done
chmod -R a+rwX "$share"

# Only what an operator must set; everything else at its default.
qvx_live_start "$bin" $'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
# The thread's start-up wait (ServiceTaskWait) before its first receive.
sleep 1.5

pids=()
for c in $(seq $clients); do
  mkdir -p "$home/got$c"
  cmds="cd c$c; lcd $home/got$c"
  for f in $(seq -w $files); do cmds+="; get f$f.txt"; done
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >"$home/client$c" 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p" || fail "smbclient failed: $(tail -n 3 "$home"/client*)"; done
for c in $(seq $clients); do
  [ "$(ls "$home/got$c" | wc -l)" = $files ] || fail "client $c got $(ls "$home/got$c" | wc -l) files"
done
# The capture works through what the burst left in its buffer (each line is flushed to disk by
# default); once the log stops growing, capture ends the normal way.
count() { tr -d '\r' <"$home/Quorvix.log" 2>/dev/null | grep -c ',access,' || true; }
last=-1
for _ in $(seq 120); do
  now=$(count)
  [ "$now" -ge $((clients * files)) ] && [ "$now" = "$last" ] && break
  [ "$now" = "$last" ] && [ "$now" -gt 0 ] && { sleep 2; [ "$(count)" = "$now" ] && break; }
  last=$now
  sleep 1
done
qvx_live_stop

# Every file the clients fetched, by its local path, as one access line each (at least).
tr -d '\r' <"$home/Quorvix.log" | awk -F, '$2 == "access" {print $13}' | sort -u >"$home/logged"
missing=0
for c in $(seq $clients); do
  for f in $(seq -w $files); do
    grep -qxF "$share/c$c/f$f.txt" "$home/logged" || missing=$((missing + 1))
  done
done
logged=$(grep -c "^$share/c[0-9]*/f[0-9]*\.txt$" "$home/logged" || true)
echo "access log names $logged of $((clients * files)) files"
[ "$missing" = 0 ] || fail "$missing of $((clients * files)) files have no access line"

kernel=$(cat "$home"/QVXkernel/QVXkernel*.log | tr -d '\r')
if grep -q "frames dropped by the capture" <<<"$kernel" || grep -q "frames dropped by the capture" "$home/out"; then
  fail "the capture reports drops: $(grep "dropped by the capture" <<<"$kernel" | head -n 3)"
fi
echo "live burst: ok"
