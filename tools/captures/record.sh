#!/usr/bin/env bash
# Records the test captures in tests/data from a real smbd and smbclient.
#
# Both ends live in network namespaces this script creates (server 10.213.0.1 and fd00:213::1,
# client 10.213.0.2 and fd00:213::2, joined by a veth pair), so no traffic leaves them. The
# tagged captures are recorded on a mirror port that keeps a trunk's VLAN tags
# (tests/support/span_port.py, fed by tc mirred on the server's interface). The client namespace
# runs a second smbd (10.213.0.2) that the server itself connects to. Needs root, samba,
# smbclient, tcpdump, ethtool, iproute2 (tc) and python3.
#
#   tools/captures/record.sh [OUT_DIR]      (default: tests/data)
#
# QVX_RECORD names the captures to record (default: all of them), e.g.
#   QVX_RECORD="smb1_preconnected" tools/captures/record.sh
#
# Writes:
#   smb2_ops.pcap        default dialect (SMB2/3), a full round of operations
#   smb1_ops.pcap        SMB1 (NT1), the same round
#   smb2_preconnected.pcap  session and tree connect happen before the recording starts
#   smb1_preconnected.pcap  the same in SMB1 (NT1)
#   smb2_ops.pcapng      smb2_ops.pcap in pcapng form
#   smb2_pipes.pcap      named pipes opened on IPC$, then a file read on the share
#   smb2_ipv6.pcap       the SMB2 round over IPv6
#   smb2_vlan.pcap       the SMB2 round as a trunk carries it on VLAN 100 (802.1Q tags)
#   smb2_qinq_ipv6.pcap  the SMB2 round over IPv6 in two tags (802.1ad 10, 802.1Q 20)
#   smb2_sll.pcap        the SMB2 round captured on Linux's "any" interface (Linux cooked)
#   smb2_sll2.pcap       the same round captured as Linux cooked v2
#   smb2_port139.pcap    the SMB2 round over the NetBIOS session service (TCP 139)
#   smb2_outgoing.pcap   the SMB2 round, then the server's own session to another server
#   smb1_ascii.pcap      SMB1 with OEM strings: the share list, then a short round on the share
#   smb.conf             the server configuration used
#   smbstatus_smb2.json  smbstatus -j while the client of smb2_preconnected was connected
#   smbstatus_smb1.json  smbstatus -j while the client of smb1_preconnected was connected
#   captures.txt         the operations each capture holds
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
out=${1:-$repo/tests/data}
mkdir -p "$out"
out=$(cd "$out" && pwd)

root=${QVX_CAPTURE_ROOT:-/srv/quorvix-test}
ns_srv=qvxcap-srv-$$
ns_cli=qvxcap-cli-$$
veth_srv=qvxs$$
veth_cli=qvxc$$
srv_ip=10.213.0.1
cli_ip=10.213.0.2
srv_ip6=fd00:213::1
cli_ip6=fd00:213::2
user=qvxuser
pass='Qvx-Test-Pass1'

cleanup() {
  set +e
  if [ -f "$root/run/smbd.pid" ]; then kill "$(cat "$root/run/smbd.pid")" 2>/dev/null; fi
  ip netns pids "$ns_srv" 2>/dev/null | xargs -r kill 2>/dev/null
  ip netns pids "$ns_cli" 2>/dev/null | xargs -r kill 2>/dev/null
  sleep 0.3
  ip netns del "$ns_srv" 2>/dev/null
  ip netns del "$ns_cli" 2>/dev/null
}
trap cleanup EXIT

# ---- the server's folders, share content and configuration ----
rm -rf "$root"
mkdir -p "$root"/{private,lock,state,cache,run,log,share}
share=$root/share
mkdir -p "$share/docs/sub dir" "$share/日本語フォルダ" "$share/old folder"
printf 'quarterly numbers\r\n' >"$share/docs/report 2026.txt"
printf 'notes in a sub folder\r\n' >"$share/docs/sub dir/notes.txt"
printf '議事録\r\n' >"$share/日本語フォルダ/議事録.txt"
printf 'to be replaced\r\n' >"$share/docs/existing file.txt"
printf 'to be deleted\r\n' >"$share/docs/delete me.txt"
printf 'to be deleted\r\n' >"$share/日本語フォルダ/削除.txt"

id "$user" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$user"
chown -R "$user" "$share"

conf=$root/smb.conf
cat >"$conf" <<EOF
[global]
  workgroup = QVXTEST
  netbios name = QVXSRV
  server string = Quorvix test server
  interfaces = $srv_ip/24 $srv_ip6/64
  bind interfaces only = yes
  smb ports = 445 139
  disable netbios = yes
  private dir = $root/private
  lock directory = $root/lock
  state directory = $root/state
  cache directory = $root/cache
  pid directory = $root/run
  log file = $root/log/smbd.%m
  log level = 1
  passdb backend = tdbsam
  security = user
  map to guest = never
  server min protocol = NT1
  ntlm auth = yes
  server smb encrypt = off
  server signing = auto
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  unix charset = UTF-8

[share]
  path = $share
  read only = no
  valid users = $user
  create mask = 0644
  directory mask = 0755
EOF
cp "$conf" "$out/smb.conf"

printf '%s\n%s\n' "$pass" "$pass" | smbpasswd -c "$conf" -s -a "$user" >/dev/null

# ---- the two namespaces ----
ip netns add "$ns_srv"
ip netns add "$ns_cli"
ip link add "$veth_srv" type veth peer name "$veth_cli"
ip link set "$veth_srv" netns "$ns_srv"
ip link set "$veth_cli" netns "$ns_cli"
ip -n "$ns_srv" addr add "$srv_ip/24" dev "$veth_srv"
ip -n "$ns_cli" addr add "$cli_ip/24" dev "$veth_cli"
for ns in "$ns_srv" "$ns_cli"; do ip -n "$ns" link set lo up; done
ip -n "$ns_srv" link set "$veth_srv" up
ip -n "$ns_cli" link set "$veth_cli" up
ip -n "$ns_srv" addr add "$srv_ip6/64" dev "$veth_srv" nodad
ip -n "$ns_cli" addr add "$cli_ip6/64" dev "$veth_cli" nodad
# A mirror port: every frame the server's interface sends or receives goes to qvxm (tc mirred);
# span_port.py hands each on to qvxt with the tags it is started with.
ip -n "$ns_srv" tuntap add dev qvxm mode tap
ip -n "$ns_srv" tuntap add dev qvxt mode tap
ip -n "$ns_srv" link set qvxm up
ip -n "$ns_srv" link set qvxt mtu 1600 up
ip netns exec "$ns_srv" tc qdisc add dev "$veth_srv" clsact
for dir in ingress egress; do
  ip netns exec "$ns_srv" tc filter add dev "$veth_srv" "$dir" protocol all u32 match u32 0 0 \
    action mirred egress mirror dev qvxm
done
span_pid=
start_span() {  # tags
  ip netns exec "$ns_srv" python3 "$repo/tests/support/span_port.py" qvxm qvxt "$1" \
    >"$tmp/span.out" 2>&1 &
  span_pid=$!
  for _ in $(seq 50); do grep -q "span port" "$tmp/span.out" 2>/dev/null && break; sleep 0.1; done
}
stop_span() { kill "$span_pid"; wait "$span_pid" 2>/dev/null || true; }
# Without this the captures hold frames larger than the MTU.
ip netns exec "$ns_srv" ethtool -K "$veth_srv" tso off gso off gro off >/dev/null 2>&1 || true
ip netns exec "$ns_cli" ethtool -K "$veth_cli" tso off gso off gro off >/dev/null 2>&1 || true

# Its own session: smbd signals its whole process group when it ends.
setsid ip netns exec "$ns_srv" smbd -D --no-process-group -s "$conf" </dev/null
for _ in $(seq 100); do
  ip netns exec "$ns_cli" bash -c "exec 3<>/dev/tcp/$srv_ip/445" 2>/dev/null && break
  sleep 0.1
done

# Local files the client uploads.
tmp=$(mktemp -d)
printf 'a new file from the client\r\n' >"$tmp/new.txt"
printf 'replacement content\r\n' >"$tmp/replace.txt"

# One round of operations, the same for every dialect.
ops_commands() {
  cat <<'EOF'
ls
cd docs
ls
get "report 2026.txt" /dev/null
put new.txt "new file.txt"
put replace.txt "existing file.txt"
rename "new file.txt" "renamed file.txt"
ls "sub dir\*"
get "sub dir\notes.txt" /dev/null
del "delete me.txt"
mkdir "new folder"
rmdir "new folder"
cd \日本語フォルダ
get 議事録.txt /dev/null
put new.txt 新規ファイル.txt
rename 新規ファイル.txt 名前変更.txt
mkdir 新しいフォルダ
rmdir 新しいフォルダ
del 削除.txt
cd \
rmdir "old folder"
EOF
}

start_tcpdump() {  # file [tcpdump options, instead of the client's veth and TCP 445]
  local file=$1
  shift
  [ $# -gt 0 ] || set -- -i "$veth_cli" "tcp port 445"
  : >"$tmp/tcpdump.err"
  ip netns exec "${tcpdump_ns:-$ns_cli}" tcpdump -s 0 -U -w "$file" "$@" \
    >/dev/null 2>>"$tmp/tcpdump.err" &
  tcpdump_pids+=($!)
  for _ in $(seq 100); do
    [ "$(grep -c "listening on" "$tmp/tcpdump.err" 2>/dev/null)" -ge 1 ] && break
    sleep 0.1
  done
  sleep 0.5
}
stop_tcpdump() {
  sleep 0.5
  kill -INT "${tcpdump_pids[@]}"
  wait "${tcpdump_pids[@]}" || true
  tcpdump_pids=()
}
tcpdump_pids=()

reset_share_content() {
  printf 'to be replaced\r\n' >"$share/docs/existing file.txt"
  printf 'to be deleted\r\n' >"$share/docs/delete me.txt"
  printf 'to be deleted\r\n' >"$share/日本語フォルダ/削除.txt"
  rm -f "$share/docs/renamed file.txt" "$share/日本語フォルダ/名前変更.txt"
  mkdir -p "$share/old folder"
  chown -R "$user" "$share"
}

run_client() {  # extra smbclient options... (SERVER=address: another address of the server)
  (cd "$tmp" && ops_commands | ip netns exec "$ns_cli" smbclient "//${SERVER:-$srv_ip}/share" \
    -U "$user%$pass" --option='client smb encrypt=off' "$@" >"$tmp/client.out" 2>&1) || {
    cat "$tmp/client.out"
    return 1
  }
}

wanted() {  # capture name
  [ -z "${QVX_RECORD:-}" ] || [[ " $QVX_RECORD " == *" $1 "* ]]
}

# A client that connects and lists the share root before the recording starts, so that the
# capture holds no log-on and no tree connect: only the round, the tree disconnect and the end.
record_preconnected() {  # capture json extra smbclient options...
  local capture=$1 json=$2
  shift 2
  reset_share_content
  local fifo=$tmp/cmds
  rm -f "$fifo"
  mkfifo "$fifo"
  (cd "$tmp" && ip netns exec "$ns_cli" smbclient "//$srv_ip/share" -U "$user%$pass" \
    --option='client smb encrypt=off' "$@" <"$fifo" >"$tmp/client3.out" 2>&1) &
  local client_pid=$!
  exec 3>"$fifo"
  echo "ls" >&3
  sleep 1.5
  smbstatus -s "$conf" -j >"$out/$json" 2>/dev/null
  start_tcpdump "$out/$capture"
  ops_commands >&3
  echo "exit" >&3
  exec 3>&-
  wait "$client_pid" || true
  stop_tcpdump
}

if wanted smb2_ops; then
  echo "record: SMB2/3"
  reset_share_content
  start_tcpdump "$out/smb2_ops.pcap"
  run_client
  stop_tcpdump
fi

if wanted smb1_ops; then
  echo "record: SMB1 (NT1)"
  reset_share_content
  start_tcpdump "$out/smb1_ops.pcap"
  run_client -m NT1 --option='client min protocol=NT1'
  stop_tcpdump
fi

if wanted smb2_preconnected; then
  echo "record: SMB2 with session and tree made before the recording"
  record_preconnected smb2_preconnected.pcap smbstatus_smb2.json
fi

if wanted smb1_preconnected; then
  echo "record: SMB1 (NT1) with session and tree made before the recording"
  record_preconnected smb1_preconnected.pcap smbstatus_smb1.json -m NT1 \
    --option='client min protocol=NT1'
fi

if wanted smb2_pipes; then
  echo "record: SMB2 named pipes on IPC\$, then a file read on the share"
  reset_share_content
  start_tcpdump "$out/smb2_pipes.pcap"
  ip netns exec "$ns_cli" timeout 30 rpcclient "$srv_ip" -U "$user%$pass" \
    -c 'srvinfo; lsaquery; netshareenum' >"$tmp/rpc.out" 2>&1 || {
    cat "$tmp/rpc.out"
    exit 1
  }
  (cd "$tmp" && printf 'get "docs\\report 2026.txt" /dev/null\n' |
    ip netns exec "$ns_cli" smbclient "//$srv_ip/share" -U "$user%$pass" \
      --option='client smb encrypt=off' >"$tmp/client4.out" 2>&1)
  stop_tcpdump
fi

if wanted smb2_ipv6; then
  echo "record: SMB2 over IPv6"
  reset_share_content
  start_tcpdump "$out/smb2_ipv6.pcap"
  SERVER=$srv_ip6 run_client
  stop_tcpdump
fi

if wanted smb2_vlan; then
  echo "record: SMB2 as a trunk carries it on VLAN 100"
  reset_share_content
  start_span 8100:100
  tcpdump_ns=$ns_srv start_tcpdump "$out/smb2_vlan.pcap" -i qvxt
  run_client
  stop_tcpdump
  stop_span
fi

if wanted smb2_qinq_ipv6; then
  echo "record: SMB2 over IPv6 in an 802.1ad and an 802.1Q tag"
  reset_share_content
  start_span 88a8:10,8100:20
  tcpdump_ns=$ns_srv start_tcpdump "$out/smb2_qinq_ipv6.pcap" -i qvxt
  SERVER=$srv_ip6 run_client
  stop_tcpdump
  stop_span
fi

for cooked in sll sll2; do
  if wanted "smb2_$cooked"; then
    echo "record: SMB2 on the \"any\" interface as $cooked"
    reset_share_content
    start_tcpdump "$out/smb2_$cooked.pcap" -i any -y "LINUX_${cooked^^}" "tcp port 445"
    run_client
    stop_tcpdump
  fi
done

if wanted smb2_port139; then
  echo "record: SMB2 over the NetBIOS session service (TCP 139)"
  reset_share_content
  start_tcpdump "$out/smb2_port139.pcap" -i "$veth_cli" "tcp port 139"
  run_client -p 139
  stop_tcpdump
fi

if wanted smb2_outgoing; then
  echo "record: SMB2 round, then the server's own session to another server"
  # The other server: a second smbd in the client namespace with a share of its own.
  peer=$root/peer
  mkdir -p "$peer"/{private,lock,state,cache,run,log,share}
  printf 'on the other server\r\n' >"$peer/share/peer file.txt"
  chown -R "$user" "$peer/share"
  sed -e "s|$root/|$peer/|g" -e "s|^  interfaces = .*|  interfaces = $cli_ip/24|" \
    -e "s|^  smb ports = .*|  smb ports = 445|" -e "s|^\[share\]|[peer]|" \
    -e "s|^  path = .*|  path = $peer/share|" "$conf" >"$peer/smb.conf"
  printf '%s\n%s\n' "$pass" "$pass" | smbpasswd -c "$peer/smb.conf" -s -a "$user" >/dev/null
  setsid ip netns exec "$ns_cli" smbd -D --no-process-group -s "$peer/smb.conf" </dev/null
  for _ in $(seq 100); do
    ip netns exec "$ns_srv" bash -c "exec 3<>/dev/tcp/$cli_ip/445" 2>/dev/null && break
    sleep 0.1
  done
  reset_share_content
  tcpdump_ns=$ns_srv start_tcpdump "$out/smb2_outgoing.pcap" -i "$veth_srv" "tcp port 445"
  run_client
  (cd "$tmp" && printf 'ls\nget "peer file.txt" /dev/null\nput new.txt "from the server.txt"\n' |
    ip netns exec "$ns_srv" smbclient "//$cli_ip/peer" -U "$user%$pass" \
      --option='client smb encrypt=off' >"$tmp/client5.out" 2>&1) || {
    cat "$tmp/client5.out"
    exit 1
  }
  stop_tcpdump
  kill "$(cat "$peer/run/smbd.pid")" 2>/dev/null || true
# SMB1 whose strings are OEM, not Unicode (Flags2 0x8000 clear): the share list (a named pipe on
# IPC$), then a short round on the share with a refused path query and a refused search among
# the accesses.
ascii_commands() {
  cat <<'EOF'
ls
cd docs
get "report 2026.txt" /dev/null
put new.txt "ascii new.txt"
allinfo "missing.txt"
ls "missing*"
rename "ascii new.txt" "ascii renamed.txt"
mkdir "ascii folder"
rmdir "ascii folder"
del "delete me.txt"
EOF
}
if wanted smb1_ascii; then
  echo "record: SMB1 (NT1) with OEM strings"
  reset_share_content
  rm -f "$share/docs/ascii new.txt" "$share/docs/ascii renamed.txt"
  start_tcpdump "$out/smb1_ascii.pcap"
  ascii=(--option='client min protocol=NT1' --option='client max protocol=NT1' --option='unicode=no')
  # The share list comes through the srvsvc pipe on IPC$.
  ip netns exec "$ns_cli" timeout 30 smbclient -L "//$srv_ip" -U "$user%$pass" "${ascii[@]}" \
    >"$tmp/list1.out" 2>&1 || {
    cat "$tmp/list1.out"
    exit 1
  }
  (cd "$tmp" && ascii_commands | ip netns exec "$ns_cli" smbclient "//$srv_ip/share" \
    -U "$user%$pass" --option='client smb encrypt=off' "${ascii[@]}" >"$tmp/client5.out" 2>&1)
  stop_tcpdump
fi

# The same SMB2 round in pcapng form, for the pcapng reader.
if wanted smb2_ops; then editcap -F pcapng "$out/smb2_ops.pcap" "$out/smb2_ops.pcapng"; fi
chmod 644 "$out"/*.pcap*
rm -rf "$tmp"

cat >"$out/captures.txt" <<EOF
Test captures, recorded by tools/captures/record.sh with smbd and smbclient $(smbd -V | sed 's/Version //')
between network namespaces: server 10.213.0.1 (TCP 445), client 10.213.0.2, user $user, share
"share" at $share (smb.conf beside this file).

smb2_ops.pcap          smbclient default dialect (SMB 3.1.1), unsigned-encryption off; the whole
                       connection: negotiate, session setup (NTLMSSP, user $user), tree connect,
                       the operations below, tree disconnect, logoff.
smb1_ops.pcap          smbclient -m NT1 --option='client min protocol=NT1' (SMB1 with extended
                       security), the same round.
smb2_preconnected.pcap SMB 3.1.1; the client connected and listed the share root before tcpdump
                       started, so the capture has no negotiate, session setup or tree connect:
                       only the operations below, tree disconnect and logoff.
smb2_ops.pcapng        smb2_ops.pcap converted by \`editcap -F pcapng\` (same frames, pcapng format).
smb1_preconnected.pcap SMB1 (NT1), recorded like smb2_preconnected.pcap: the log-on and the tree
                       connect happened before tcpdump started.
smbstatus_smb2.json    smbstatus -j taken while the client of smb2_preconnected.pcap was connected.
smbstatus_smb1.json    smbstatus -j taken while the client of smb1_preconnected.pcap was connected.
smb2_pipes.pcap        SMB 3.1.1; rpcclient -c 'srvinfo; lsaquery; netshareenum' (named pipes srvsvc
                       and lsarpc opened on IPC\$), then smbclient get "docs\\report 2026.txt" on
                       the share.
smb2_ipv6.pcap         the smb2_ops round over IPv6: server $srv_ip6, client $cli_ip6.
smb2_vlan.pcap         the smb2_ops round as a trunk port carries it: recorded on a mirror port of
                       the server's interface that keeps VLAN tags (tc mirred to
                       tests/support/span_port.py), every frame with an 802.1Q tag of VLAN 100;
                       the server's other frames (ARP, IPv6 neighbour discovery) go by too.
smb2_qinq_ipv6.pcap    the smb2_ops round over IPv6 on the same mirror port in two tags: an 802.1ad
                       service tag 10 outside an 802.1Q tag 20.
smb2_sll.pcap          the smb2_ops round recorded with tcpdump -i any -y LINUX_SLL (Linux cooked).
smb2_sll2.pcap         the same round recorded with -y LINUX_SLL2 (Linux cooked v2).
smb2_port139.pcap      the smb2_ops round with smbclient -p 139: the NetBIOS session service, its
                       session request first.
smb2_outgoing.pcap     recorded on the server's interface: the smb2_ops round of the client, then
                       the server's own smbclient to a second smbd at $cli_ip (share "peer"):
                       ls, get "peer file.txt", put "from the server.txt". The second session is
                       the server acting as a client, no access to the server's files.
smb1_ascii.pcap        SMB1 (NT1) with --option='unicode=no': every string of the client is OEM text
                       (Flags2 without the Unicode bit). smbclient -L (the share list through the
                       srvsvc pipe on IPC\$), then smbclient on the share: ls, cd docs, get
                       "report 2026.txt", put new.txt "ascii new.txt", allinfo "missing.txt" (a
                       TRANS2 QUERY_PATH_INFORMATION the server refuses: OBJECT_NAME_NOT_FOUND),
                       ls "missing*" (a refused FIND_FIRST2), rename "ascii new.txt" "ascii
                       renamed.txt", mkdir and rmdir "ascii folder", del "delete me.txt".

Operations of each round, in order (smbclient commands):
$(ops_commands | sed 's/^/  /')

What they do on the server:
  ls                      list the share root
  get                     read docs/report 2026.txt, docs/sub dir/notes.txt, 日本語フォルダ/議事録.txt
  put (new file)          create docs/new file.txt and 日本語フォルダ/新規ファイル.txt
  put (over existing)     overwrite docs/existing file.txt
  rename                  docs/new file.txt -> docs/renamed file.txt,
                          日本語フォルダ/新規ファイル.txt -> 日本語フォルダ/名前変更.txt
  mkdir / rmdir           docs/new folder, 日本語フォルダ/新しいフォルダ (made, then removed),
                          old folder (removed)
  del                     docs/delete me.txt, 日本語フォルダ/削除.txt
EOF
ls -l "$out"
