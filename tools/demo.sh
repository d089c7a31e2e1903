#!/usr/bin/env bash
# Replays the bundled SMB2 capture (a real smbclient session against smbd: ls, get, put, rename,
# mkdir, rmdir, del) with the smb.conf it was recorded with, and shows what quorvix made of it.
set -euo pipefail
bin=$1
repo=$(cd "$(dirname "$0")/.." && pwd)
data=$repo/tests/data
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT

# Every record in the list and the log, command names from the tables, traces up to level 6.
printf '[Option]\r\nLogFileWriteFlg=1\r\nSMBcmdListFlg=1\r\nErrorLevel=6\r\n' >"$home/Quorvix.ini"

echo "== quorvix --home $home --replay smb2_ops.pcap --smb-conf smb.conf SC"
"$bin" --home "$home" --replay "$data/smb2_ops.pcap" --smb-conf "$data/smb.conf" SC

kernel=$(ls "$home"/QVXkernel/QVXkernel*.log)
echo
echo "== frames handed to each handler (kernel log, level 6)"
tr -d '\r' <"$kernel" | sed -n 's/^QVX_D21-016 .* : Dispatch //p' | sort | uniq -c
echo
echo "== capture start and end (kernel log)"
tr -d '\r' <"$kernel" | grep -E 'QVX_I03-|QVX_E03-|QVX_E21-0(11|51|60)' || true
if ls "$home"/*.log >/dev/null 2>&1; then
  for f in "$home"/*.log; do
    echo
    echo "== access log $(basename "$f")"
    tr -d '\r' <"$f"
  done
fi
