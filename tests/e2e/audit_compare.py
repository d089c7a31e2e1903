#!/usr/bin/python3
"""Judges quorvix's access log by the server's own audit record (Samba full_audit).

    audit_compare.py live --conf SMB_CONF --audit DIR --before LIST --log QUORVIX_LOG
                          --client ADDR [--encrypted-share NAME] [--told USER:SHARE:FILE]...
                          [--impacket JSON]
    audit_compare.py replay --log LIVE_LOG --replayed REPLAYED_LOG

live: every expectation comes from the audit records (files audit.* in DIR, one per smbd
process, prefix "user|client|share") and from what the clients were told (smbclient's
"NT_STATUS_... opening remote file" lines, the refusals impacket_cases.py wrote); LIST is the
share tree before the clients ran (`find` output), from which the record tells what each open
created. Nothing is taken from the access log but the lines being judged.
replay: the replayed log must hold the same (action, user, client, operation, path) lines.
Exits 1 on any miss.
"""
import argparse
import collections
import configparser
import glob
import json
import os
import re
import sys

HEADER = re.compile(r'^\[(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\.\d+),\s*\d+.*\]\s.*vfs_full_audit\.c')
RIGHTS = {'STATUS_ACCESS_DENIED', 'STATUS_PRIVILEGE_NOT_HELD', 'STATUS_MEDIA_WRITE_PROTECTED',
          'STATUS_NETWORK_ACCESS_DENIED', 'STATUS_WRONG_PASSWORD'}
WRITES = {'pwrite', 'pwrite_send'}
IPV4 = re.compile(r'\d+\.\d+\.\d+\.\d+')


def shares_of(conf):
    cp = configparser.ConfigParser(strict=False, interpolation=None, delimiters=('=',))
    with open(conf) as f:
        cp.read_string(f.read())
    return {s: cp[s]['path'].strip().rstrip('/') for s in cp.sections()
            if s != 'global' and 'path' in cp[s]}


def audit_records(folder):
    """(time, pid, n, fields) of every full_audit record, in time order."""
    recs = []
    for path in glob.glob(os.path.join(folder, 'audit.*')):
        pid = path.rsplit('.', 1)[-1]
        with open(path, errors='replace') as f:
            lines = f.read().split('\n')
        for i, line in enumerate(lines):
            m = HEADER.match(line)
            if m and i + 1 < len(lines):
                recs.append((m.group(1), pid, i, lines[i + 1].strip().split('|')))
    recs.sort()
    return recs


def access_lines(path):
    """(action, user, client, op, path, info) of each line of a quorvix access log."""
    out = []
    with open(path, encoding='utf-8', errors='replace') as f:
        for line in f.read().split('\n')[1:]:
            line = line.rstrip('\r')
            if not line:
                continue
            cols = line.split(',', 12)
            if len(cols) < 13:
                continue
            p = cols[12]
            if len(p) >= 2 and p[0] == '"' and p[-1] == '"':
                p = p[1:-1].replace('""', '"')
            m = IPV4.search(cols[4])
            out.append((cols[1].strip().lower(), cols[3].strip().lower(), m.group(0) if m else cols[4],
                        cols[11].strip(), p, cols[9]))
    return out


class Open:
    def __init__(self, user, client, share, path, kind, mask, disp, created, written):
        self.user, self.client, self.share, self.path = user, client, share, path
        self.kind, self.mask, self.disp = kind, mask, disp
        self.created, self.written = created, written
        self.removed = False
        self.renamed_to = None

    def expected(self):
        """(path column, acceptable operations): each that the server's work makes true; Rd
        only where it neither created, wrote, removed nor renamed the object."""
        if self.renamed_to:
            return '%s >> %s' % (self.path, self.renamed_to), {'ReNm'}
        ops = {op for op, did in (('New', self.created), ('Wt', self.written), ('Del', self.removed))
               if did}
        return self.path, ops or {'Rd'}

    def also_allowed(self):
        """An open of an existing file that only later wrote it is first logged as the read it
        was, then once more as a write at its first write."""
        overwrote = self.disp in ('overwrite', 'overwrite_if', 'supersede')
        if self.written and not self.created and not self.removed and not overwrote:
            return {'Rd'}
        return set()


def told(args):
    """What the clients were told: {(user, share, relative path): status}."""
    said = {}
    for spec in args.told or []:
        user, share, path = spec.split(':', 2)
        with open(path, errors='replace') as f:
            for m in re.finditer(r'NT_(STATUS_\w+) opening remote file (\S+)', f.read()):
                rel = m.group(2).replace('\\', '/').strip('/')
                said[(user.lower(), share, rel)] = m.group(1)
    if args.impacket:
        with open(args.impacket) as f:
            for r in json.load(f)['refusals']:
                said[(r['user'].lower(), r['share'], r['path'].strip('/'))] = r['status']
    return said


def group_of(shares, path, share):
    rel = path[len(shares[share]):].lstrip('/') if share in shares else path
    top = rel.split('/')[0]
    if share == 'ro':
        return 'read-only share'
    if rel.startswith('imp/two/'):
        return 'two users, one connection'
    return {'s3': 'smbclient SMB3', 's1': 'smbclient NT1', 'imp': 'impacket'}.get(top, 'smbtorture')


def live(args):
    shares = shares_of(args.conf)
    roots = set(shares.values())
    monitored = {s for s in shares}
    exists = set()
    with open(args.before) as f:
        exists = {l.rstrip('\n').rstrip('/') for l in f if l.strip()}
    opens, failures = [], []
    last = {}
    made = set()
    notes = []
    # An overwriting open truncates before its own record is written: a truncation right before
    # the create_file of the same path belongs to that open, not to an earlier one.
    pending = {}

    def flush(pid):
        path = pending.pop(pid, None)
        o = last.get((pid, path)) if path else None
        if o:
            o.written = True

    for _, pid, _, rec in audit_records(args.audit):
        if len(rec) < 5:
            continue
        user, client, share, op, result = rec[:5]
        rest = rec[5:]
        if share not in monitored:
            continue  # IPC$ (IPC_) and anything else without a folder
        ok = result == 'ok'
        if op in ('ftruncate', 'fallocate') and ok:
            flush(pid)
            pending[pid] = rest[0]
            continue
        if pid in pending:
            if op == 'create_file' and ok and '|'.join(rest[3:]) == pending[pid]:
                pending.pop(pid)
            else:
                flush(pid)
        if op == 'create_file' and len(rest) >= 4:
            mask, kind, disp, path = rest[0], rest[1], rest[2], '|'.join(rest[3:]).rstrip('/')
            if not ok:
                failures.append((user, client, share, path, mask, disp, result))
                continue
            existed = path in exists and (pid, path) not in made
            made.discard((pid, path))
            written = existed and kind == 'file' and disp in ('overwrite', 'overwrite_if', 'supersede')
            o = Open(user, client, share, path, kind, mask, disp, not existed, written)
            opens.append(o)
            exists.add(path)
            last[(pid, path)] = o
        elif op == 'mkdirat' and ok:
            made.add((pid, rest[0].rstrip('/')))
        elif op in WRITES and ok:
            o = last.get((pid, rest[0]))
            if o:
                o.written = True
        elif op == 'unlinkat' and ok:
            path = rest[0].rstrip('/')
            o = last.get((pid, path))
            if o:
                o.removed = True
            else:
                notes.append('removed without an open seen: %s' % path)
            exists = {p for p in exists if p != path and not p.startswith(path + '/')}
        elif op == 'renameat' and ok and len(rest) >= 2:
            old, new = rest[0].rstrip('/'), rest[1].rstrip('/')
            o = last.get((pid, old))
            if o:
                o.renamed_to = new
            exists = {new + p[len(old):] if (p == old or p.startswith(old + '/')) else p for p in exists}

    for pid in list(pending):
        flush(pid)
    found = access_lines(args.log)
    acc = collections.defaultdict(set)  # (path, user, client) -> ops
    for action, user, client, op, path, _ in found:
        if action == 'access':
            acc[(path, user, client)].add(op)

    def excluded(path):
        name = path.split('/')[-1]
        return path in roots or ':' in name or not any(path.startswith(r + '/') for r in roots)

    rows = collections.OrderedDict()

    def row(group):
        return rows.setdefault(group, {'expected': 0, 'found': 0, 'bad': []})

    enc_root = shares.get(args.encrypted_share) if args.encrypted_share else None
    expected = collections.defaultdict(list)  # (path, user, client) -> [acceptable op sets]
    extra = collections.defaultdict(set)  # operations allowed beside the expected ones
    groups = {}
    for o in opens:
        if excluded(o.path) or (enc_root and o.share == args.encrypted_share):
            continue
        path, ops = o.expected()
        key = (path, o.user.lower(), o.client)
        expected[key].append(ops)
        extra[key] |= o.also_allowed()
        groups[key] = group_of(shares, o.path, o.share)
    for key, wants in expected.items():
        r = row(groups[key])
        have = acc.get(key, set())
        for ops in {frozenset(w) for w in wants}:
            r['expected'] += 1
            if have & ops:
                r['found'] += 1
            else:
                r['bad'].append('missing %s %s (%s)%s' % ('|'.join(sorted(ops)), key[0], key[1],
                                ' - logged as %s' % ','.join(sorted(have)) if have else ''))
        allowed = set().union(*wants) | extra[key]
        for op in sorted(have - allowed):
            r['bad'].append('wrong %s %s (%s): the server did %s' % (op, key[0], key[1], '|'.join(sorted(allowed))))
    refused_paths = {f[3] for f in failures}
    # Access lines no successful open explains (a refused open logged, a wrong user, ...).
    for key, ops in acc.items():
        path = key[0]
        if key in expected or excluded(path.split(' >> ')[0]) or path in refused_paths:
            continue  # refused opens are judged below
        share = next((s for s, p in shares.items() if path.startswith(p + '/')), '')
        r = row(group_of(shares, path, share))
        r['bad'].append('unexpected %s %s (%s, %s): no such open in the audit record' % (
            ','.join(sorted(ops)), path, key[1], key[2]))

    # Refused opens.
    said = told(args)
    opened = {o.path for o in opens}
    r_den = row('refused for rights: a denied line')
    r_none = row('other refusals: no line')
    seen_fail = set()
    for user, client, share, path, mask, disp, result in failures:
        if excluded(path):
            continue
        rel = path[len(shares[share]):].lstrip('/')
        status = said.get((user.lower(), share, rel))
        k = (user.lower(), client, path, status)
        if k in seen_fail:
            continue
        seen_fail.add(k)
        lines = [l for l in found if l[4] == path and l[1] == user.lower() and l[2] == client]
        if status in RIGHTS:
            r_den['expected'] += 1
            den = [l for l in lines if l[0] == 'denied' and status in l[5].upper()]
            if den:
                r_den['found'] += 1
            else:
                r_den['bad'].append('missing denied %s %s (%s)%s' % (status, path, user,
                                    ' - logged as %s' % [(l[0], l[3], l[5]) for l in lines] if lines else ''))
            if path not in opened:
                for l in lines:
                    if l[0] == 'access':
                        r_den['bad'].append('wrong access %s for a refused open %s (%s)' % (l[3], path, user))
        else:
            r_none['expected'] += 1
            bad = [l for l in lines if l[0] == 'denied' or (l[0] == 'access' and path not in opened)]
            if bad:
                r_none['bad'].append('wrong %s for %s %s (%s)' % (
                    [(l[0], l[3]) for l in bad], status or 'refusal (%s)' % result, path, user))
            else:
                r_none['found'] += 1

    if args.encrypted_share:
        r = row('encrypted session: an encrypted line')
        r['expected'] = 1
        enc = [l for l in found if l[0] == 'encrypted' and l[2] == args.client]
        if enc:
            r['found'] = 1
        else:
            r['bad'].append('no line with Action "encrypted" for client %s' % args.client)

    return report('access log against the audit record (%d opens, %d refusals in the record)' % (
        len(opens), len(failures)), rows, notes)


def report(title, rows, notes=()):
    print(title)
    print('%-38s %8s %6s %6s  %s' % ('group', 'expected', 'found', 'wrong', 'examples'))
    failed = False
    for group, r in rows.items():
        nbad = len(r['bad'])
        failed |= nbad > 0
        print('%-38s %8d %6d %6d  %s' % (group, r['expected'], r['found'], nbad,
                                         'ok' if not nbad else r['bad'][0]))
        for b in r['bad'][1:12]:
            print('%-62s %s' % ('', b))
        if nbad > 12:
            print('%-62s ... and %d more' % ('', nbad - 12))
    for n in notes:
        print('note: ' + n)
    print('result: %s' % ('FAIL' if failed else 'ok'))
    return 1 if failed else 0


def replay(args):
    keep = ('access', 'denied', 'encrypted')

    def lines(p):
        return {l[:5] for l in access_lines(p) if l[0] in keep}
    a, b = lines(args.log), lines(args.replayed)
    rows = collections.OrderedDict()
    for action in keep:
        la = {l for l in a if l[0] == action}
        lb = {l for l in b if l[0] == action}
        bad = ['live only: %s' % ' '.join(l[1:]) for l in sorted(la - lb)]
        bad += ['replay only: %s' % ' '.join(l[1:]) for l in sorted(lb - la)]
        rows['replay: %s lines' % action] = {'expected': len(la), 'found': len(la & lb), 'bad': bad}
    return report('replayed capture against the live run', rows)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('mode', choices=('live', 'replay'))
    ap.add_argument('--conf')
    ap.add_argument('--audit')
    ap.add_argument('--before')
    ap.add_argument('--log', required=True)
    ap.add_argument('--client')
    ap.add_argument('--encrypted-share')
    ap.add_argument('--told', action='append')
    ap.add_argument('--impacket')
    ap.add_argument('--replayed')
    args = ap.parse_args()
    return live(args) if args.mode == 'live' else replay(args)


if __name__ == '__main__':
    sys.exit(main())
