#!/usr/bin/env bash
# Sourced by the live tests: a real smbd in a network namespace of its own and a client namespace
# joined to it by a veth pair (segmentation offloads off, so captures hold frames as sent). Everything it makes lives under $QVX_SMB_DIR and
# is removed by smb_down (call it from a trap).
#
#   smb_up            namespaces, smbd on $SMB_SERVER_IP, user $SMB_USER/$SMB_PASS, share "docs"
#   smb_client ARGS   smbclient run in the client namespace
#   smb_server CMD    a command run in the server namespace
#   smb_home          a scratch folder $SMB_HOME, removed by smb_down
#   smb_fail TEXT     report a failure (with the end of $SMB_HOME/Quorvix.log) and exit 1
#   smb_down
# Exits 77 (skipped) when namespaces cannot be made here. Set before smb_up, when wanted:
#   SMB_MIN_PROTOCOL   the oldest dialect the server accepts (NT1 lets SMB1 clients in)
#   SMB_CONF_GLOBAL    more lines for [global] (e.g. vfs objects for every share)
#   SMB_CONF_SHARES    more share sections, after [docs] and [public]; in both, @SMB_DIR@
#                      stands for $QVX_SMB_DIR (not known before smb_up)
#   SMB_USER2/SMB_PASS2  a second local account the server knows
#   SMB_LAB_IPV6=1     the server and the client are reached by their IPv6 addresses
#                      (fd00:214::1 and ::2; their IPv4 ones stay)
#   SMB_LAB_TRUNK=TAGS the capture sees the server's traffic as a trunk port carries it: a mirror
#                      port of the server's interface (tc mirred) hands every frame, with TAGS
#                      inserted (span_port.py: "8100:100", "88a8:10,8100:20"), to a device in a
#                      monitor namespace $SMB_NS_M that carries the server's address;
#                      $SMB_CAPTURE_NS is that namespace (empty: the server's own)

SMB_SERVER_IP=10.214.0.1
SMB_CLIENT_IP=10.214.0.2
SMB_SERVER_DEV="q4s$$"
SMB_CLIENT_DEV="q4c$$"
SMB_USER=qvxuser
SMB_PASS=Qvx-pass-1
SMB_NS_S="qvx4s-$$"
SMB_NS_C="qvx4c-$$"
SMB_NS_M="qvx4m-$$"
SMB_CAPTURE_NS=
if [ -n "${SMB_LAB_IPV6:-}" ]; then
  SMB_SERVER_IP=fd00:214::1
  SMB_CLIENT_IP=fd00:214::2
fi
SMB_SPAN_PID=

smb_server() { ip netns exec "$SMB_NS_S" "$@"; }
# A scratch folder for the test's own files (quorvix's home); smb_down removes it.
smb_home() {
  SMB_HOME=$(mktemp -d)
  export SMB_HOME
}
# Reports a failure with the end of the access log in $SMB_HOME, and ends the test.
smb_fail() {
  echo "FAIL: $*"
  [ -n "${SMB_HOME:-}" ] && { tr -d '\r' <"$SMB_HOME/Quorvix.log" 2>/dev/null | tail -n 30; }
  exit 1
}
smb_client() { ip netns exec "$SMB_NS_C" smbclient "$@"; }

smb_down() {
  if [ -n "${QVX_SMB_DIR:-}" ] && [ -f "$QVX_SMB_DIR/run/smbd.pid" ]; then
    kill "$(cat "$QVX_SMB_DIR/run/smbd.pid")" 2>/dev/null || true
    sleep 0.3
  fi
  [ -z "$SMB_SPAN_PID" ] || kill "$SMB_SPAN_PID" 2>/dev/null || true
  for ns in "$SMB_NS_S" "$SMB_NS_C" "$SMB_NS_M"; do
    ip netns pids "$ns" 2>/dev/null | xargs -r kill 2>/dev/null || true
    ip netns del "$ns" 2>/dev/null || true
  done
  [ -n "${QVX_SMB_DIR:-}" ] && rm -rf "$QVX_SMB_DIR"
  [ -n "${SMB_HOME:-}" ] && rm -rf "$SMB_HOME"
  return 0
}

# The mirror port of SMB_LAB_TRUNK (see above), made once the server's interface is up.
smb_trunk() {  # tags
  local span=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/span_port.py
  smb_server ip tuntap add dev qvxm mode tap
  smb_server ip tuntap add dev qvxt mode tap
  smb_server ip link set qvxm up
  smb_server tc qdisc add dev "$SMB_SERVER_DEV" clsact
  local dir
  for dir in ingress egress; do
    smb_server tc filter add dev "$SMB_SERVER_DEV" "$dir" protocol all u32 match u32 0 0 \
      action mirred egress mirror dev qvxm
  done
  smb_server python3 "$span" qvxm qvxt "$1" >"$QVX_SMB_DIR/span.out" 2>&1 &
  SMB_SPAN_PID=$!
  for _ in $(seq 50); do grep -qs "span port" "$QVX_SMB_DIR/span.out" && break; sleep 0.1; done
  ip netns add "$SMB_NS_M"
  smb_server ip link set qvxt netns "$SMB_NS_M"
  ip -n "$SMB_NS_M" link set lo up
  ip -n "$SMB_NS_M" link set qvxt mtu 1600 up
  local prefix=32
  case $SMB_SERVER_IP in *:*) prefix=128 ;; esac
  ip -n "$SMB_NS_M" addr add "$SMB_SERVER_IP/$prefix" dev qvxt nodad 2>/dev/null ||
    ip -n "$SMB_NS_M" addr add "$SMB_SERVER_IP/$prefix" dev qvxt
  SMB_CAPTURE_NS=$SMB_NS_M
}

smb_up() {
  if [ "$(id -u)" != 0 ] || ! command -v smbd >/dev/null || ! command -v smbclient >/dev/null; then
    echo "SKIP: needs root, smbd and smbclient"
    exit 77
  fi
  if ! ip netns add "$SMB_NS_S" 2>/dev/null; then
    echo "SKIP: network namespaces cannot be made here"
    exit 77
  fi
  ip netns add "$SMB_NS_C"
  ip link add "$SMB_SERVER_DEV" type veth peer name "$SMB_CLIENT_DEV"
  ip link set "$SMB_SERVER_DEV" netns "$SMB_NS_S"
  ip link set "$SMB_CLIENT_DEV" netns "$SMB_NS_C"
  [ -n "${SMB_LAB_IPV6:-}" ] || smb_server ip addr add "$SMB_SERVER_IP/24" dev "$SMB_SERVER_DEV"
  smb_server ip link set "$SMB_SERVER_DEV" up
  smb_server ip link set lo up
  [ -n "${SMB_LAB_IPV6:-}" ] || ip netns exec "$SMB_NS_C" ip addr add "$SMB_CLIENT_IP/24" dev "$SMB_CLIENT_DEV"
  ip netns exec "$SMB_NS_C" ip link set "$SMB_CLIENT_DEV" up
  ip netns exec "$SMB_NS_C" ip link set lo up
  smb_server ethtool -K "$SMB_SERVER_DEV" tso off gso off gro off >/dev/null 2>&1 || true
  ip netns exec "$SMB_NS_C" ethtool -K "$SMB_CLIENT_DEV" tso off gso off gro off >/dev/null 2>&1 || true
  local listen="$SMB_SERVER_IP/24"
  if [ -n "${SMB_LAB_IPV6:-}" ]; then
    smb_server ip addr add 10.214.0.1/24 dev "$SMB_SERVER_DEV"
    ip netns exec "$SMB_NS_C" ip addr add 10.214.0.2/24 dev "$SMB_CLIENT_DEV"
    smb_server ip addr add "$SMB_SERVER_IP/64" dev "$SMB_SERVER_DEV" nodad
    ip netns exec "$SMB_NS_C" ip addr add "$SMB_CLIENT_IP/64" dev "$SMB_CLIENT_DEV" nodad
    listen="10.214.0.1/24 $SMB_SERVER_IP/64"
  fi

  QVX_SMB_DIR=$(mktemp -d /tmp/qvx-smbd.XXXXXX)
  export QVX_SMB_DIR
  chmod 755 "$QVX_SMB_DIR"
  [ -z "${SMB_LAB_TRUNK:-}" ] || smb_trunk "$SMB_LAB_TRUNK"
  mkdir -p "$QVX_SMB_DIR"/{private,lock,state,cache,run,log,share/docs,share/public}
  chmod 755 "$QVX_SMB_DIR/share"
  chmod 777 "$QVX_SMB_DIR/share/docs" "$QVX_SMB_DIR/share/public"
  id "$SMB_USER" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$SMB_USER"
  SMB_CONF="$QVX_SMB_DIR/smb.conf"
  local conf_global=${SMB_CONF_GLOBAL:-} conf_shares=${SMB_CONF_SHARES:-}
  cat >"$SMB_CONF" <<CONF
[global]
  workgroup = QVXTEST
  netbios name = QVXSRV
  interfaces = $listen
  bind interfaces only = yes
  smb ports = 445 139
  private dir = $QVX_SMB_DIR/private
  lock directory = $QVX_SMB_DIR/lock
  state directory = $QVX_SMB_DIR/state
  cache directory = $QVX_SMB_DIR/cache
  pid directory = $QVX_SMB_DIR/run
  ncalrpc dir = $QVX_SMB_DIR/run/ncalrpc
  log file = $QVX_SMB_DIR/log/log.%m
  disable netbios = yes
  load printers = no
  printcap name = /dev/null
  server role = standalone server
  map to guest = never
  ${SMB_MIN_PROTOCOL:+server min protocol = $SMB_MIN_PROTOCOL}
${conf_global//@SMB_DIR@/$QVX_SMB_DIR}

[docs]
  comment = Project documents
  path = $QVX_SMB_DIR/share/docs
  read only = no

[public]
  path = $QVX_SMB_DIR/share/public
  read only = yes
${conf_shares//@SMB_DIR@/$QVX_SMB_DIR}
CONF
  export SMB_CONF
  printf '%s\n%s\n' "$SMB_PASS" "$SMB_PASS" | smbpasswd -c "$SMB_CONF" -s -a "$SMB_USER" >/dev/null
  if [ -n "${SMB_USER2:-}" ]; then
    id "$SMB_USER2" >/dev/null 2>&1 || useradd -M -s /usr/sbin/nologin "$SMB_USER2"
    printf '%s\n%s\n' "$SMB_PASS2" "$SMB_PASS2" | smbpasswd -c "$SMB_CONF" -s -a "$SMB_USER2" >/dev/null
  fi
  # Its own session: on SIGTERM smbd signals its whole process group.
  smb_server setsid -f smbd -D --no-process-group -s "$SMB_CONF"
  for _ in $(seq 50); do
    smb_server bash -c "exec 3<>/dev/tcp/$SMB_SERVER_IP/445" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: smbd did not start"
  cat "$QVX_SMB_DIR"/log/* 2>/dev/null | tail -20
  return 1
}
