#!/usr/bin/env bash
# Records a busy file server: several smbclient processes at once, each fetching, writing,
# renaming and deleting thousands of distinct files on a real smbd. Both ends live in network
# namespaces of their own (tests/support/smbd_netns.sh), so no traffic leaves them. Needs root,
# samba, smbclient, tcpdump and iproute2; exits 77 where namespaces cannot be made.
#
#   tools/captures/record_busy.sh OUT_DIR [CLIENTS] [FILES]
#
# Each of CLIENTS (default 4) gets FILES (default 3000) seeded files, then puts FILES/2.5 new
# ones, renames them and deletes them. Writes into OUT_DIR:
#   busy.pcap   the server's side of it all (TCP port 445)
#   smb.conf    a configuration whose share "docs" is OUT_DIR/docs, the share as it was left
set -euo pipefail
out=$1
clients=${2:-4}
files=${3:-3000}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tests/support/smbd_netns.sh"
mkdir -p "$out"
out=$(cd "$out" && pwd)
trap 'kill $(jobs -p) 2>/dev/null || true; smb_down' EXIT
smb_up

share=$QVX_SMB_DIR/share/docs
local_dir=$QVX_SMB_DIR/local
mkdir -p "$local_dir"
printf 'a new file\n' >"$local_dir/new.txt"
writes=$((files * 2 / 5))
for c in $(seq "$clients"); do
  mkdir -p "$share/c$c" "$local_dir/got$c"
  for f in $(seq -w "$files"); do printf 'file %s of client %s\n' "$f" "$c" >"$share/c$c/f$f.txt"; done
  {
    echo "cd c$c"
    echo "lcd $local_dir/got$c"
    for f in $(seq -w "$files"); do echo "get f$f.txt"; done
    for f in $(seq -w "$writes"); do echo "put $local_dir/new.txt n$f.txt"; done
    for f in $(seq -w "$writes"); do echo "rename n$f.txt r$f.txt"; done
    for f in $(seq -w "$writes"); do echo "del r$f.txt"; done
  } >"$local_dir/commands$c"
done
chmod -R a+rwX "$share"

ip netns exec "$SMB_NS_S" tcpdump -i "$SMB_SERVER_DEV" -B 262144 -w "$out/busy.pcap" tcp port 445 \
  2>"$local_dir/tcpdump.err" &
dump=$!
for _ in $(seq 50); do
  grep -qs "listening on" "$local_dir/tcpdump.err" && break
  sleep 0.1
done
pids=()
for c in $(seq "$clients"); do
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" <"$local_dir/commands$c" \
    >"$local_dir/client$c.out" 2>&1 &
  pids+=($!)
done
for p in "${pids[@]}"; do wait "$p"; done
sleep 0.5
kill -INT "$dump"
wait "$dump" || true
grep -q "^0 packets dropped by kernel" "$local_dir/tcpdump.err" ||
  { echo "tcpdump dropped frames: $(cat "$local_dir/tcpdump.err")" >&2; exit 1; }

rm -rf "$out/docs"
cp -a "$share" "$out/docs"
printf '[docs]\n  path = %s/docs\n  read only = no\n' "$out" >"$out/smb.conf"
