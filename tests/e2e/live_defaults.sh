#!/usr/bin/env bash
# The Linux build at its defaults, live: no Quorvix.ini at all, quorvix started the way the
# systemd unit starts it (only the capabilities the unit grants, no new privileges), in the
# namespace of a real smbd. It must start capture by itself, write the access log, and say so in
# its first console lines (configuration, shares, access log, adapter); a client's get must then
# be named in the access log with its local path. No setting is written by the test: --home and
# --smb-conf only say where the files of this test live.
#
#   live_defaults.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up

share=$QVX_SMB_DIR/share/docs
mkdir -p "$share/first run"
printf 'hello\n' >"$share/first run/hello.txt"
chmod -R a+rwX "$share"

home=$(mktemp -d)
# The unit's CapabilityBoundingSet (packaging/systemd/quorvix.service); uid 0 gets exactly these.
caps=$(sed -n 's/^CapabilityBoundingSet=//p' "$here/../../packaging/systemd/quorvix.service")
[ -n "$caps" ] || fail "no CapabilityBoundingSet in the unit"
bounding=-all
for c in $caps; do bounding+=",+$(echo "${c#CAP_}" | tr 'A-Z' 'a-z')"; done
runner=()
if command -v setpriv >/dev/null; then runner=(setpriv --no-new-privs --bounding-set "$bounding" --); fi

(cd "$home" && exec ip netns exec "$SMB_NS_S" "${runner[@]}" "$bin" --home "$home" \
  --smb-conf "$SMB_CONF" >"$home/out" 2>&1) &
qpid=$!
for _ in $(seq 100); do
  grep -qs "QVX_I03-002" "$home"/QVXkernel/QVXkernel*.log && break
  kill -0 "$qpid" 2>/dev/null || fail "quorvix ended at start: $(cat "$home/out")"
  sleep 0.1
done
grep -qs "QVX_I03-002" "$home"/QVXkernel/QVXkernel*.log || fail "capture did not start by itself"
sleep 1.5  # the capture thread's start-up wait before its first receive
[ ! -e "$home/Quorvix.ini" ] || fail "a Quorvix.ini appeared"

said() { grep -qF -- "$1" "$home/out" || fail "the console does not say: $1"; }
said "configuration $home/Quorvix.ini (not there: every setting takes its default)"
said "shares from $SMB_CONF: 2 (docs, public)"
said "access log $home/Quorvix.log"
said "capturing on $SMB_SERVER_DEV, the adapter of $SMB_SERVER_IP"

smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
  -c "cd \"first run\"; get hello.txt $home/got.txt" >"$home/client" 2>&1 ||
  fail "smbclient: $(cat "$home/client")"
want="$share/first run/hello.txt"
for _ in $(seq 50); do
  tr -d '\r' <"$home/Quorvix.log" 2>/dev/null | grep -qF ",Rd  ,$want" && break
  sleep 0.1
done
qvx_live_stop
tr -d '\r' <"$home/Quorvix.log" | grep -q ",access,.*,$SMB_USER,$SMB_CLIENT_IP,$SMB_SERVER_IP,.*,Rd  ,$want\$" ||
  fail "the access log does not name the get of $want"
echo "live defaults: ok"
