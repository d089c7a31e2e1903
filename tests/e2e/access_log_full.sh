#!/usr/bin/env bash
# quorvix --replay with its access log on a file system that fills up after the first lines
# (a 8 KiB tmpfs in a mount namespace of its own: one page taken, the other by an earlier log
# but for 96 bytes): every line that cannot be
# written keeps its E11-003 line in the kernel log, the event log says once that lines are being
# lost, the console gives their number, and the replay ends with a non-zero status. With room on
# the same file system the replay ends with status 0. Needs root for the mount (else skipped).
#
#   access_log_full.sh QUORVIX CAPTURE SMB_CONF
set -euo pipefail
bin=$(readlink -f "$1")
capture=$(readlink -f "$2")
smb_conf=$(readlink -f "$3")
if [ "${QVX_IN_MOUNT_NS:-}" != 1 ]; then
  QVX_IN_MOUNT_NS=1 exec unshare -m --propagation private "$0" "$@" ||
    { echo "SKIP: no mount namespace"; exit 77; }
fi
. "$(dirname "$0")/../support/e2e_scratch.sh"
trap 'umount "$work/disk" 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir "$work/home" "$work/disk"
mount -t tmpfs -o size=8k tmpfs "$work/disk" || { echo "SKIP: cannot mount a tmpfs"; exit 77; }
printf '[Option]\r\nNbtstatChgOn=0\r\nLogFileWriteFlg=1\r\nLogFilePath=%s\r\n' \
  "$work/disk/Quorvix.log" >"$work/home/Quorvix.ini"

replay() {
  rm -rf "$work/home/QVXkernel"
  status=0
  timeout 120 "$bin" --home "$work/home" --smb-conf "$smb_conf" --replay "$capture" SC \
    >"$work/out.txt" 2>"$work/err.txt" || status=$?
}

replay
[ "$status" = 0 ] || fail "replay with room for the log ended with status $status"
grep -q "could not be written" "$work/err.txt" && fail "lines said lost with room for them"
lines=$(wc -l <"$work/disk/Quorvix.log")
[ "$lines" -gt 5 ] || fail "the capture gives only $lines lines of log; the test needs more"

# The earlier log keeps its header and the first lines (the next start writes no header).
truncate -s 4000 "$work/disk/Quorvix.log"
head -c 4096 /dev/zero >"$work/disk/filler"
replay
[ "$status" != 0 ] || fail "replay that lost lines ended with status 0"
kernel=$(ls "$work"/home/QVXkernel/QVXkernel*.log)
event=$(ls "$work"/home/QVXkernel/QVXevent*.log)
lost=$(grep -c "QVX_E11-003" "$kernel") || fail "no E11-003 line in the kernel log"
[ "$lost" -ge $((lines - 3)) ] || fail "only $lost of about $lines lines lost"
grep -qF "quorvix: ended with errors: $lost access-log lines could not be written" "$work/err.txt" ||
  fail "the console does not give the $lost lines lost"
[ "$(grep -c "QVX_E11-005" "$event")" = 1 ] || fail "the event log does not say once that lines are lost"
grep -qF "$work/disk/Quorvix.log cannot be written" "$event" || fail "the event log does not name the log"
echo "access log full: ok ($lost lines lost)"
