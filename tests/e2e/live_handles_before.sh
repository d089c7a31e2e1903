#!/usr/bin/env bash
# Handles opened before capture began. A real client (impacket, SMB 2.1) opens four files of a
# share with full_audit on; only then do quorvix (in the server's namespace) and tcpdump (on the
# client's side) start. Through the handles it already had, the client then reads one, writes
# one, sets the delete disposition of one and closes it, and renames one. The server's audit
# record (pread, pwrite, unlinkat, renameat) says who did what to which file: the access log must
# hold one line for each, with that user, client, operation and the file's local path, which the
# program learns from the server's list of open files. The capture replayed where no server can
# be asked must give the same four operations, each path marked "[opened before capture]" with
# the FileId the server gave the client.
#
#   live_handles_before.sh QUORVIX
#
# Needs root and network namespaces; exits 77 (skipped) where they cannot be made.
set -euo pipefail
bin=$1
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3

command -v tcpdump >/dev/null || { echo "SKIP: needs tcpdump"; exit 77; }
command -v tdbdump >/dev/null || { echo "SKIP: needs tdbdump (tdb-tools)"; exit 77; }
"$py" -c 'import impacket.smb3' 2>/dev/null || { echo "SKIP: needs python3-impacket"; exit 77; }
ls /usr/lib/*/samba/vfs/full_audit.so >/dev/null 2>&1 ||
  { echo "SKIP: needs samba-vfs-modules (full_audit)"; exit 77; }

SMB_CONF_GLOBAL="  log level = 1
  log file = @SMB_DIR@/log/audit.%d
  vfs objects = full_audit
  full_audit:prefix = %u|%I|%S
  full_audit:syslog = false
  full_audit:success = pread pread_send pwrite pwrite_send unlinkat renameat
  full_audit:failure = none"
. "$here/../support/smbd_netns.sh"
. "$here/../support/quorvix_live.sh"
smb_up
keep() { [ -z "${QVX_KEEP:-}" ] || { rm -rf "$QVX_KEEP" && cp -r "$home" "$QVX_KEEP" && echo "kept in $QVX_KEEP"; }; }

docs=$QVX_SMB_DIR/share/docs
mkdir -p "$docs/before"
for f in read write delete rename; do printf '%s me\n' "$f" >"$docs/before/$f.txt"; done
chmod -R a+rwX "$docs"
home=$(mktemp -d)

# ---- the client opens its files before anything records ----
ip netns exec "$SMB_NS_C" "$py" "$here/handles_before.py" "$SMB_SERVER_IP" docs before "$SMB_USER" \
  "$SMB_PASS" "$home/told.json" "$home/opened" "$home/go" >"$home/client.out" 2>&1 &
client=$!
for _ in $(seq 100); do [ -e "$home/opened" ] && break; sleep 0.1; done
[ -e "$home/opened" ] || fail "the client did not open its files: $(cat "$home/client.out")"

# ---- then the recorders ----
qvx_client_record "$home/cap.pcap"
ini=$'LogFileWriteFlg=1\r\nNbtstatChgOn=0\r\n'
qvx_live_start "$bin" "$ini"
# The client goes on some moments later (a restarted auditor, long-lived handles).
sleep 1.5

# ---- the client goes on through its old handles, at full speed ----
touch "$home/go"
wait "$client" || fail "the client: $(cat "$home/client.out")"
[ ! -e "$docs/before/delete.txt" ] && [ -f "$docs/before/renamed.txt" ] &&
  grep -q 'written through' "$docs/before/write.txt" || fail "the client's work was not done: $(ls "$docs/before")"
qvx_live_settle_stop 20
qvx_client_record_stop

# ---- the replay: no server to ask ----
mkdir "$home/replay"
printf '[Option]\r\n%s' "$ini" >"$home/replay/Quorvix.ini"
(cd "$home/replay" && "$bin" --home "$home/replay" --replay "$home/cap.pcap" SC >"$home/replay/out" 2>&1) ||
  fail "the replay failed: $(tail -n 5 "$home/replay/out")"

"$py" - "$QVX_SMB_DIR/log" "$docs" "$home/Quorvix.log" "$home/replay/Quorvix.log" "$home/told.json" \
  "$SMB_CLIENT_IP" <<'PY' || { keep; fail "the access log does not match the server's audit record"; }
import glob, json, re, sys

audit_dir, docs, live_log, replay_log, told_file, client = sys.argv[1:7]
told = json.load(open(told_file))
OPS = {'pread': 'Rd', 'pread_send': 'Rd', 'pwrite': 'Wt', 'pwrite_send': 'Wt', 'unlinkat': 'Del',
       'renameat': 'ReNm'}
HEADER = re.compile(r'^\[\d{4}/\d\d/\d\d [^]]*\].*vfs_full_audit\.c')

# What the server did, by file: (user, client, operation, path column).
want = {}
for path in glob.glob(audit_dir + '/audit.*'):
    lines = open(path, errors='replace').read().split('\n')
    for i, line in enumerate(lines[:-1]):
        if not HEADER.match(line):
            continue
        f = lines[i + 1].strip().split('|')
        if len(f) < 6 or f[3] not in OPS or f[4] != 'ok' or f[2] != 'docs':
            continue
        op = OPS[f[3]]
        local = lambda p: p if p.startswith('/') else docs + '/' + p
        col = local(f[5])
        if op == 'ReNm':
            col += ' >> ' + local(f[6])
        want[f[5]] = (f[0].lower(), f[1], op, col)
expected = sorted(want.values(), key=lambda w: w[3])
if sorted(w[2] for w in expected) != ['Del', 'Rd', 'ReNm', 'Wt']:
    print('the audit record holds %s' % expected)
    sys.exit(1)


def access_lines(path):
    out = []
    for line in open(path, encoding='utf-8', errors='replace').read().split('\n')[1:]:
        cols = line.rstrip('\r').split(',', 12)
        if len(cols) == 13 and cols[1] == 'access':
            out.append((cols[3].lower(), cols[4], cols[11].strip(), cols[12]))
    return out


status = 0
got = sorted(access_lines(live_log), key=lambda w: w[3])
if got != expected:
    print('live: expected\n  %s\ngot\n  %s' % ('\n  '.join(map(str, expected)), '\n  '.join(map(str, got))))
    status = 1

# Replayed, each handle is named by the FileId the server gave the client.
mark = {what: '[opened before capture] FileId 0x%016x:0x%016x' % tuple(int(x, 16) for x in fid.split(':'))
        for what, fid in told.items()}
replayed = {(w[2], w[1], w[3]) for w in access_lines(replay_log)}
for what, op in (('read', 'Rd'), ('write', 'Wt'), ('delete', 'Del')):
    if (op, client, mark[what]) not in replayed:
        print('replay: no %s line of %s: %s' % (op, mark[what], sorted(replayed)))
        status = 1
renames = [w for w in replayed if w[0] == 'ReNm' and w[2].startswith(mark['rename'] + ' >> ')
           and w[2].endswith('renamed.txt')]
if len(renames) != 1 or len(replayed) != 4:
    print('replay: %s' % sorted(replayed))
    status = 1
sys.exit(status)
PY
echo "live handles before capture: ok"
