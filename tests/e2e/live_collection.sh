#!/usr/bin/env bash
# The many-servers recipe of docs/central-collection.md, live: two smbd servers (fs1, fs2), each
# with its own quorvix sending over RELP, a real rsyslog with the page's configuration in a third
# network namespace, writing into a real PostgreSQL with the page's table. A client's put, get
# and rm on both servers must be found with the page's queries; the expected rows come from what
# the client did and from smbd's own audit record (full_audit: user and client address of each
# open and unlink), never from quorvix. Then rsyslog is killed (SIGKILL) during a burst of gets
# on fs1 and started again: every get of the burst must be in PostgreSQL once, or quorvix must
# have told exactly how many it dropped.
#
#   live_collection.sh QUORVIX
#
# Needs root, network namespaces, rsyslog (imrelp, mmjsonparse, ompgsql) and PostgreSQL; exits
# 77 (skipped) where they are not here.
set -euo pipefail
bin=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
doc="$here/../../docs/central-collection.md"
pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if ! command -v rsyslogd >/dev/null || [ -z "$pgbin" ] ||
  ! ls /usr/lib/*/rsyslog/imrelp.so /usr/lib/*/rsyslog/ompgsql.so >/dev/null 2>&1; then
  echo "SKIP: needs rsyslog, rsyslog-relp, rsyslog-pgsql and postgresql"
  exit 77
fi
[ -e /usr/lib/x86_64-linux-gnu/samba/vfs/full_audit.so ] || ls /usr/lib/*/samba/vfs/full_audit.so >/dev/null 2>&1 ||
  { echo "SKIP: needs samba-vfs-modules (full_audit)"; exit 77; }

. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"

# smbd's own record of every open and unlink, with the user and the client's address.
SMB_CONF_GLOBAL="  log level = 1
  vfs objects = full_audit
  full_audit:prefix = %u|%I|%S
  full_audit:syslog = false
  full_audit:success = create_file unlinkat
  full_audit:failure = none"

# --- the two servers: smbd_netns.sh once per server, its names and addresses changed between ---
smb_up
S1=("$SMB_NS_S" "$SMB_NS_C" "$QVX_SMB_DIR" "$SMB_CONF" "$SMB_SERVER_IP" "$SMB_CLIENT_IP")
SMB_SERVER_IP=10.232.0.1
SMB_CLIENT_IP=10.232.0.2
SMB_SERVER_DEV="q5s$$"
SMB_CLIENT_DEV="q5c$$"
SMB_NS_S="qvx5s-$$"
SMB_NS_C="qvx5c-$$"
unset QVX_SMB_DIR
S2=("$SMB_NS_S" "$SMB_NS_C" "" "" "$SMB_SERVER_IP" "$SMB_CLIENT_IP")
server_vars() { # 1 or 2: the helpers then work on that server
  local -n s="S$1"
  SMB_NS_S=${s[0]} SMB_NS_C=${s[1]} QVX_SMB_DIR=${s[2]} SMB_CONF=${s[3]}
  SMB_SERVER_IP=${s[4]} SMB_CLIENT_IP=${s[5]}
}

NS_R="qvx5r-$$"
work=$(mktemp -d /tmp/qvx-collect.XXXXXX)
chmod 755 "$work"
rs_pid=
homes=()
qpids=()
collection_cleanup() {
  for p in "${qpids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  [ -n "$rs_pid" ] && kill "$rs_pid" 2>/dev/null
  [ -f "$work/pg/data/postmaster.pid" ] &&
    runuser -u postgres -- "$pgbin/pg_ctl" -D "$work/pg/data" -m immediate stop >/dev/null 2>&1
  ip netns pids "$NS_R" 2>/dev/null | xargs -r kill 2>/dev/null || true
  ip netns del "$NS_R" 2>/dev/null || true
  for h in "${homes[@]}"; do rm -rf "$h"; done
  rm -rf "$work"
  [ -n "${S2[2]}" ] && { server_vars 2; smb_down; }
  server_vars 1
  smb_down
}
trap collection_cleanup EXIT

smb_up
S2[2]=$QVX_SMB_DIR
S2[3]=$SMB_CONF

# --- the collector's namespace, joined to each server's namespace by a veth pair ---
ip netns add "$NS_R"
ip netns exec "$NS_R" ip link set lo up
link() { # server-ns collector-address server-address device-suffix
  ip link add "q5a$4$$" type veth peer name "q5b$4$$"
  ip link set "q5a$4$$" netns "$1"
  ip link set "q5b$4$$" netns "$NS_R"
  ip netns exec "$1" ip addr add "$3/24" dev "q5a$4$$"
  ip netns exec "$1" ip link set "q5a$4$$" up
  ip netns exec "$NS_R" ip addr add "$2/24" dev "q5b$4$$"
  ip netns exec "$NS_R" ip link set "q5b$4$$" up
}
link "${S1[0]}" 10.233.1.2 10.233.1.1 1
link "${S2[0]}" 10.233.2.2 10.233.2.1 2

# The page's blocks, as written there ("-- file: NAME" / "# file: NAME" as their first line).
mkdir -p "$work/doc"
awk -v dir="$work/doc" '
  /^```/ { if (out) { out = ""; next } inblock = 1; next }
  inblock && /^(-- |# )file: / { out = dir "/" $3; inblock = 0; next }
  { inblock = 0 }
  out { print > out }' "$doc"
for f in schema.sql quorvix-collector.conf who_touched.sql deleted_today.sql permissions_changed.sql gaps.sql; do
  [ -s "$work/doc/$f" ] || fail "docs/central-collection.md has no block $f"
done

# --- PostgreSQL on a socket in the work folder only (no TCP) ---
mkdir -p "$work/pg"
chown postgres "$work/pg"
runuser -u postgres -- "$pgbin/initdb" -D "$work/pg/data" -A trust -U postgres >"$work/pg/initdb.log" 2>&1 ||
  fail "initdb: $(tail -5 "$work/pg/initdb.log")"
runuser -u postgres -- "$pgbin/pg_ctl" -D "$work/pg/data" -l "$work/pg/log" -w \
  -o "-k $work/pg -c listen_addresses='' -c synchronous_commit=off" start >/dev/null || fail "postgres: $(tail -5 "$work/pg/log")"
psql_() { psql -h "$work/pg" -U postgres -X -q -v ON_ERROR_STOP=1 "$@"; }
psql_ -d postgres -c "CREATE ROLE rsyslog LOGIN" -c "CREATE DATABASE quorvix OWNER rsyslog"
psql_ -d quorvix -U rsyslog -f "$work/doc/schema.sql" >/dev/null
q() { psql_ -d quorvix -A -t -F '|' "$@"; }

# --- rsyslog with the page's configuration: its PostgreSQL socket, its own work folder ---
mkdir -p "$work/rs"
{
  echo "global(workDirectory=\"$work/rs\")"
  sed "s#server=\"/var/run/postgresql\"#server=\"$work/pg\"#" "$work/doc/quorvix-collector.conf"
} >"$work/rs/rsyslog.conf"
rsyslog_start() {
  ip netns exec "$NS_R" rsyslogd -n -f "$work/rs/rsyslog.conf" -i "$work/rs/pid" >>"$work/rs/out" 2>&1 &
  rs_pid=$!
  for _ in $(seq 100); do
    ip netns exec "$NS_R" bash -c "exec 3<>/dev/tcp/10.233.1.2/2514" 2>/dev/null && return 0
    kill -0 "$rs_pid" 2>/dev/null || fail "rsyslogd ended: $(cat "$work/rs/out")"
    sleep 0.1
  done
  fail "rsyslogd does not listen: $(cat "$work/rs/out")"
}
rsyslog_start

# --- a quorvix per server, each under its server's host name ---
start_quorvix() { # server-number host-name collector-address
  server_vars "$1"
  cat >"$work/$2" <<EOF
#!/bin/sh
exec unshare --uts sh -c 'hostname $2 && exec "\$0" "\$@"' "$bin" "\$@"
EOF
  chmod +x "$work/$2"
  home=
  qvx_live_start "$work/$2" $'NbtstatChgOn=0\r\nSyslogFlg=1\r\nSyslogTarget=relp:'"$3"$':2514\r\nSyslogQueueMax=100000\r\n'
  homes+=("$home")
  qpids+=("$qpid")
  qpid=
}
start_quorvix 1 fs1 10.233.1.2
start_quorvix 2 fs2 10.233.2.2
sleep 1.5 # the capture thread's start-up wait before its first receive

# --- the client's work on both servers ---
client() { # server-number smbclient-commands
  server_vars "$1"
  smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
    -c "$2" >"$work/client$1" 2>&1 || fail "smbclient on server $1: $(cat "$work/client$1")"
}
for n in 1 2; do
  server_vars "$n"
  share=$QVX_SMB_DIR/share/docs
  printf 'budget of fs%s\n' "$n" >"$share/budget-fs$n.txt"
  printf 'old notes\n' >"$share/old notes fs$n.txt"
  printf 'shared report\n' >"$share/report.txt"
  chmod a+rw "$share"/*
  printf 'new plan %s\n' "$n" >"$work/plan$n.txt"
  client "$n" "get budget-fs$n.txt $work/got$n.txt; put $work/plan$n.txt plan-fs$n.txt; rm \"old notes fs$n.txt\"; get report.txt $work/report$n.txt"
done
[ -f "$share/plan-fs2.txt" ] && [ ! -e "$share/old notes fs2.txt" ] || fail "the client's put/rm did not happen"

# smbd's record: "user|client|share|op|ok|...|path" (the path as smbd opened it, absolute).
audit() { # server-number op name -> "user|client"
  server_vars "$1"
  cat "$QVX_SMB_DIR"/log/log.* 2>/dev/null |
    awk -F'|' -v op="$2" -v path="$QVX_SMB_DIR/share/docs/$3" \
      '$4 == op && $5 == "ok" && $NF == path { sub(/^ +/, "", $1); print $1 "|" $2; exit }'
}
wait_rows() { # count sql-where
  for _ in $(seq 100); do
    [ "$(q -c "SELECT count(*) FROM quorvix_event WHERE $2")" -ge "$1" ] && return 0
    sleep 0.1
  done
  fail "PostgreSQL holds $(q -c "SELECT count(*) FROM quorvix_event WHERE $2") rows where $2, not $1: $(tail -n 5 "$work/rs/out")"
}
wait_rows 2 "path LIKE '%/report.txt' AND rtrim(operation) = 'Rd'"

# Who touched each file, by the page's query: the user, client and operation smbd saw.
touched() { # server-number name operation smbd-op
  server_vars "$1"
  local path=$QVX_SMB_DIR/share/docs/$2 want got
  want=$(audit "$1" "$4" "$2")
  [ -n "$want" ] || fail "smbd's audit record has no $4 of $2"
  got=$(q -v path="$path" -f "$work/doc/who_touched.sql" | cut -d'|' -f2-5)
  grep -qxF "fs$1|$want|$3" <<<"$got" || fail "who touched $path: want fs$1|$want|$3, got: $got"
}
for n in 1 2; do
  touched "$n" "budget-fs$n.txt" Rd create_file
  touched "$n" "plan-fs$n.txt" New create_file
  touched "$n" "old notes fs$n.txt" Del unlinkat
done
# report.txt exists on both servers: each server's row is named by its own host and path.
for n in 1 2; do
  server_vars "$n"
  got=$(q -v path="$QVX_SMB_DIR/share/docs/report.txt" -f "$work/doc/who_touched.sql" | cut -d'|' -f2,5)
  [ "$got" = "fs$n|Rd" ] || fail "who touched report.txt on fs$n: $got"
done
# What the user deleted today: the two rm, one per server, and nothing else.
got=$(q -v user="$SMB_USER" -f "$work/doc/deleted_today.sql" | cut -d'|' -f2- | sort)
want=$(printf 'fs1|%s|%s\nfs2|%s|%s\n' "${S1[5]}" "${S1[2]}/share/docs/old notes fs1.txt" \
  "${S2[5]}" "${S2[2]}/share/docs/old notes fs2.txt" | sort)
[ "$got" = "$want" ] || fail "deleted today: want
$want
got
$got"
# Nobody changed permissions here: the page's query runs as written and finds nothing.
got=$(q -v folder="$QVX_SMB_DIR/share/docs" -f "$work/doc/permissions_changed.sql")
[ -z "$got" ] || fail "permissions changed: $got"
echo "live collection: the page's queries find the client's work on both servers"

# --- the collector killed during a burst on fs1, and started again ---
server_vars 1
share=$QVX_SMB_DIR/share/docs
burst=3000  # long enough that the kill falls inside it, however fast the machine
mkdir -p "$share/burst"
for i in $(seq "$burst"); do printf '%s\n' "$i" >"$share/burst/b$i.txt"; done
chmod -R a+rwX "$share/burst"
cmds=""
for i in $(seq "$burst"); do cmds+="get b$i.txt /dev/null; "; done
burst_rows="path LIKE '$share/burst/b%' AND rtrim(operation) = 'Rd'"
(smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" --option='client smb encrypt=off' \
  -c "cd burst; $cmds" >"$work/burst-client" 2>&1) &
client_pid=$!
wait_rows 30 "$burst_rows"
kill -KILL "$rs_pid"
wait "$rs_pid" 2>/dev/null || true
rs_pid=
at_kill=$(q -c "SELECT count(*) FROM quorvix_event WHERE $burst_rows")
# While the collector is away the client goes on: the records wait in quorvix.
log1="${homes[0]}/Quorvix.log"
lines_at_kill=$(grep -c "$share/burst/" "$log1" || true)
for _ in $(seq 100); do
  [ "$(grep -c "$share/burst/" "$log1" || true)" -ge $((lines_at_kill + 30)) ] && break
  kill -0 "$client_pid" 2>/dev/null || break
  sleep 0.1
done
rsyslog_start
wait "$client_pid" || fail "the burst's client failed: $(tail -3 "$work/burst-client")"
# The gets the client made, as smbd recorded them.
server_vars 1
made=$(cat "$QVX_SMB_DIR"/log/log.* | awk -F'|' -v dir="$share/burst/" \
  '$4 == "create_file" && $5 == "ok" && index($NF, dir) == 1 { seen[$NF] = 1 } END { print length(seen) }')
[ "$made" -ge "$burst" ] || fail "smbd recorded $made opens of the burst's files, not $burst"
# Until every get is stored, or quorvix has told of drops (a "dropped" row) and the rest is in.
told() { q -c "SELECT coalesce(sum((event->>'dropped')::bigint), 0) FROM quorvix_event WHERE msgid = 'dropped'"; }
for _ in $(seq 300); do
  [ $(($(q -c "SELECT count(*) FROM quorvix_event WHERE $burst_rows") + $(told))) -ge "$burst" ] && break
  sleep 0.1
done
for n in 0 1; do
  kill -TERM "${qpids[$n]}"
  wait "${qpids[$n]}" || fail "quorvix on fs$((n + 1)) ended with errors: $(tail -n 3 "${homes[$n]}/out")"
done
qpids=()
dropped=$(told)
stored=$(q -c "SELECT count(DISTINCT path) FROM quorvix_event WHERE $burst_rows")
rows=$(q -c "SELECT count(*) FROM quorvix_event WHERE $burst_rows")
[ "$rows" = "$stored" ] || fail "$rows rows for $stored burst files: a record is stored twice"
[ "$at_kill" -lt "$burst" ] || fail "the collector was killed only after the burst ($at_kill rows)"
[ $((stored + dropped)) = "$burst" ] ||
  fail "after the collector's restart PostgreSQL holds $stored of the $burst gets and quorvix told of $dropped dropped: $(grep -i syslog "${homes[0]}/out" | tail -5)"
[ "$dropped" = 0 ] || fail "quorvix dropped $dropped records though its queue had room"
# The page's gap query agrees: no seq missing for either server.
gaps=$(q -f "$work/doc/gaps.sql" | cut -d'|' -f1,6,7)
[ "$gaps" = $'fs1|0|0\nfs2|0|0' ] || fail "gaps by the page's query: $gaps"
grep -q "they are sent again" "${homes[0]}/out" ||
  echo "note: no record waited for an answer when the collector died"
echo "live collection: rsyslog killed at $at_kill of $burst gets and restarted; all $burst stored once"
echo "live collection: ok"
