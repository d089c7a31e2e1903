#!/usr/bin/env bash
# Frames the capture could not keep are said, not hidden: with a capture buffer far too small
# (PacketBuffer), one client pulls a large file while another fetches small files one after
# the other (each access line flushed to disk, so the capture thread falls behind). The kernel
# log and the console must then report "N frames dropped by the capture".
#
#   live_drops.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up

share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/small"
for f in $(seq -w 300); do printf 'small %s\n' "$f" >"$share/small/s$f.txt"; done
head -c 64M /dev/zero >"$share/big.bin"
chmod -R a+rwX "$share"

qvx_live_start "$bin" \
  $'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\nServiceTaskWait=100\r\nPacketBuffer=4096\r\n'
grep -q "WPCAPバッファセット。\[4096\]" "$home"/QVXkernel/QVXkernel*.log || fail "buffer not set"
sleep 0.5

cmds="cd small; lcd $home"
for f in $(seq -w 300); do cmds+="; get s$f.txt"; done
smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >"$home/small.out" 2>&1 &
small=$!
smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "get big.bin /dev/null" \
  >"$home/big.out" 2>&1 || fail "smbclient: $(cat "$home/big.out")"
wait "$small" || fail "smbclient: $(tail -n 3 "$home/small.out")"
# The counters are read once a second.
for _ in $(seq 50); do
  grep -qs "frames dropped by the capture" "$home"/QVXkernel/QVXkernel*.log && break
  sleep 0.2
done
sleep 1.5
qvx_live_stop

kernel=$(cat "$home"/QVXkernel/QVXkernel*.log | tr -d '\r')
line=$(grep -m 1 "frames dropped by the capture" <<<"$kernel" || true)
[ -n "$line" ] || fail "no drop line in the kernel log"
grep -Eq "^QVX_E21-070 QVX_LogThread\[[0-9]+\]\[-?[0-9]+\] : [1-9][0-9]* frames dropped by the capture \([1-9][0-9]* of [1-9][0-9]* since capture started\)$" <<<"$line" ||
  fail "drop line: $line"
grep -Eq "status\[2\]: ([^|]* \| )*[1-9][0-9]* frames dropped by the capture" "$home/out" ||
  fail "no drop message on the console"
echo "$line"
echo "live drops: ok"
