#!/usr/bin/python3
"""Judges the access log of the live SMB1 routes test by the server's own audit record.

    smb1_routes_check.py --conf SMB_CONF --share NAME --audit DIR --before LIST --steps JSON
                         --log QUORVIX_LOG --user USER --client ADDR

Each step of the client (smb1_routes.py) names what it touched; the line it must give comes from
what Samba's full_audit recorded for those objects (DIR: its files audit.*), never from the log
being judged:
  open P       the create_file of P: "New" when it made P (disposition create, or P was not
               there before: LIST is the share's tree before the client ran), "Wt" when it
               truncated P, else "Rd", and then "Wt" too when a write (pwrite, pwrite_send) or
               ftruncate of P followed
  temporary D  the create_file of a TMP file in folder D: "New" of that file
  size P       an ftruncate of P: "Wt";    attr P   an fntimes or fset_dos_attributes: "Attr"
  perm P       an fset_nt_acl: "Perm";     delete P an unlinkat: "Del"
  rename P Q   a renameat P to Q: "ReNm P >> Q";   link P Q  a linkat: "Link P >> Q"
  copy P Q     the create_file of Q: "Copy P >> Q"
  none P...    no line may name P
  denied P     the refused create_file of P: a "denied" line of what it tried, naming the status
Every line of the log under the step folders must be one of these, with the client's user and
address. Exits 1 on any miss.
"""
import argparse
import json
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from audit_compare import access_lines, audit_records, shares_of  # noqa: E402


def main():
    ap = argparse.ArgumentParser()
    for a in ('conf', 'share', 'audit', 'before', 'steps', 'log', 'user', 'client'):
        ap.add_argument('--' + a, required=True)
    args = ap.parse_args()
    root = shares_of(args.conf)[args.share]
    with open(args.before) as f:
        before = {l.rstrip('\n').rstrip('/') for l in f if l.strip()}
    with open(args.steps) as f:
        steps = json.load(f)['steps']

    def local(rel):
        return root + '/' + rel

    recs = []  # (op, ok, fields after the result), in time order
    for _, _, _, rec in audit_records(args.audit):
        if len(rec) >= 5 and rec[2] == args.share:
            recs.append((rec[3], rec[4] == 'ok', rec[5:]))

    def path_of(op, rest):
        if op == 'create_file':
            return '|'.join(rest[3:]).rstrip('/')
        if op == 'fset_nt_acl':
            return rest[0].split(' [')[0] if rest else ''
        return rest[0] if rest else ''

    def done(op, path, index_after=-1):
        return [i for i, (o, ok, rest) in enumerate(recs)
                if ok and o == op and i > index_after and path_of(o, rest) == path]

    expected, problems = set(), []
    folders = set()

    def want(action, op, path):
        expected.add((action, op, path))
        folders.add(os.path.dirname(path.split(' >> ')[0]))

    for s in steps:
        route = s['route']
        if 'open' in s:
            p = local(s['open'])
            hits = done('create_file', p)
            if not hits:
                problems.append('%s: no create_file of %s in the audit record' % (route, p))
            else:
                disp = recs[hits[0]][2][2]
                existed = p in before
                if disp == 'create' or not existed:
                    op = 'New'
                elif disp in ('overwrite', 'overwrite_if', 'supersede'):
                    op = 'Wt'
                else:
                    op = 'Rd'
                want('access', op, p)
                if op == 'Rd' and any(done(o, p, hits[0]) for o in ('pwrite', 'pwrite_send', 'ftruncate')):
                    want('access', 'Wt', p)
        if 'temporary' in s:
            d = local(s['temporary'])
            made = [path_of(o, r) for o, ok, r in recs if ok and o == 'create_file' and
                    os.path.dirname(path_of(o, r)) == d and os.path.basename(path_of(o, r)).startswith('TMP')
                    and r[2] == 'create']
            if len(made) != 1:
                problems.append('%s: %d temporary files made in %s' % (route, len(made), d))
            for p in made:
                want('access', 'New', p)
        for key, ops, op in (('size', ('ftruncate',), 'Wt'),
                             ('attr', ('fntimes', 'fset_dos_attributes'), 'Attr'),
                             ('perm', ('fset_nt_acl',), 'Perm'), ('delete', ('unlinkat',), 'Del')):
            if key in s:
                p = local(s[key])
                if any(done(o, p) for o in ops):
                    want('access', op, p)
                else:
                    problems.append('%s: no %s of %s in the audit record' % (route, '/'.join(ops), p))
        for key, op, rec_op in (('rename', 'ReNm', 'renameat'), ('link', 'Link', 'linkat')):
            if key in s:
                p, q = local(s[key][0]), local(s[key][1])
                if any(ok and o == rec_op and rest[:2] == [p, q] for o, ok, rest in recs):
                    want('access', op, '%s >> %s' % (p, q))
                else:
                    problems.append('%s: no %s %s -> %s in the audit record' % (route, rec_op, p, q))
        if 'copy' in s:
            p, q = local(s['copy'][0]), local(s['copy'][1])
            if done('create_file', q):
                want('access', 'Copy', '%s >> %s' % (p, q))
            else:
                problems.append('%s: no create_file of %s in the audit record' % (route, q))
        if 'none' in s:
            for rel in s['none']:
                folders.add(os.path.dirname(local(rel)))
        if 'denied' in s:
            p = local(s['denied'])
            fails = [r for o, ok, r in recs if not ok and o == 'create_file' and path_of(o, r) == p]
            if not fails:
                problems.append('%s: no refused create_file of %s in the audit record' % (route, p))
            else:
                mask, disp = int(fails[0][0], 16), fails[0][2]
                if mask & 0x10000 and not mask & 0x3:
                    op = 'Del'
                elif disp == 'create':
                    op = 'New'
                elif disp in ('overwrite', 'overwrite_if', 'supersede') or mask & 0x2:
                    op = 'Wt'
                else:
                    op = 'Rd'
                want('denied', op, p)

    found, wrong_who = set(), []
    for action, user, client, op, path, info in access_lines(args.log):
        if action not in ('access', 'denied'):
            continue
        first = path.split(' >> ')[0]
        if os.path.dirname(first) not in folders:
            continue
        if user != args.user.lower() or client != args.client:
            wrong_who.append('%s %s %s by %s from %s' % (action, op, path, user, client))
        if action == 'denied' and 'STATUS_' not in info:
            wrong_who.append('denied %s %s without the status: %s' % (op, path, info))
        found.add((action, op, path))

    missing = sorted(expected - found)
    extra = sorted(found - expected)
    print('SMB1 routes against the audit record: %d lines expected, %d found' % (
        len(expected), len(found & expected)))
    for m in missing:
        print('  missing %s %s %s' % m)
    for e in extra:
        print('  unexpected %s %s %s' % e)
    for w in wrong_who + problems:
        print('  ' + w)
    ok = not (missing or extra or wrong_who or problems)
    print('result: %s' % ('ok' if ok else 'FAIL'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
