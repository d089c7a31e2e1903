#!/usr/bin/python3
"""Scripted SMB3 clients for the live test of every way of touching a file, and its judge.

    touch_cases.py client SERVER SHARE FOLDER USER PASS
    touch_cases.py judge --audit DIR --root ROOT --folder FOLDER --log LOG --client ADDR --user U
    touch_cases.py replay --log LIVE_LOG --replayed REPLAYED_LOG --folder FOLDER

client, in FOLDER of SHARE (seeded by the test): a DACL set to Everyone:Full (SET_INFO
security), time stamps backdated to 2001 with the file made hidden and read-only (SET_INFO
FileBasicInformation), a hard link (SET_INFO FileLinkInformation), a server-side copy over an
existing file (FSCTL_SRV_REQUEST_RESUME_KEY, FSCTL_SRV_COPYCHUNK_WRITE), a named stream written
and read, and an open of a name in another case than the disk's.

judge: every expectation comes from Samba's full_audit record (fset_nt_acl, fntimes,
fset_dos_attributes, linkat, offload_write_send, pwrite on the stream, create_file of the
case-changed name with the name the server resolved): each needs its line in the access log,
with the user, the client, the operation word and the server's local path.
replay: the replayed log holds the same (operation, path) lines of FOLDER, but for the
case-changed name (its spelling needs the server's disk).
"""
import argparse
import re
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def client(server, share, folder, user, password):
    from impacket import smb3structs as s3
    from impacket.ldap import ldaptypes
    from impacket.smbconnection import SMBConnection

    # SMB 2.1: from 3.0 on this client encrypts whenever the server offers it.
    conn = SMBConnection(server, server, sess_port=445, preferredDialect=s3.SMB2_DIALECT_21)
    conn.login(user, password)
    smb = conn.getSMBServer()
    tid = conn.connectTree(share)
    name = lambda rel: folder + '\\' + rel
    READ, WRITE = 0x00120089, 0x0012019F
    WRITE_DAC, WRITE_ATTRIBUTES, DELETE = 0x00040000, 0x00000100, 0x00010000
    SHARE_ALL, NON_DIR = 7, 0x40
    FILE_OPEN, FILE_OVERWRITE_IF = 1, 5

    def open_(rel, access, disposition=FILE_OPEN):
        return smb.create(tid, name(rel), access, SHARE_ALL, NON_DIR, disposition, 0)

    # Permissions: the DACL of acl.txt set to Everyone:Full.
    fid = open_('acl.txt', READ | WRITE_DAC)
    sd = ldaptypes.SR_SECURITY_DESCRIPTOR()
    sd['Revision'] = b'\x01'
    sd['Sbz1'] = b'\x00'
    sd['Control'] = 0x8004  # self-relative, DACL present
    sd['OwnerSid'] = b''
    sd['GroupSid'] = b''
    sd['Sacl'] = b''
    acl = ldaptypes.ACL()
    acl['AclRevision'] = 2
    acl['Sbz1'] = 0
    acl['Sbz2'] = 0
    ace = ldaptypes.ACE()
    ace['AceType'] = ldaptypes.ACCESS_ALLOWED_ACE.ACE_TYPE
    ace['AceFlags'] = 0
    body = ldaptypes.ACCESS_ALLOWED_ACE()
    body['Mask'] = ldaptypes.ACCESS_MASK()
    body['Mask']['Mask'] = 0x001F01FF
    body['Sid'] = ldaptypes.LDAP_SID()
    body['Sid'].fromCanonical('S-1-1-0')
    ace['Ace'] = body
    acl.aces = [ace]
    sd['Dacl'] = acl
    smb.setInfo(tid, fid, sd.getData(), s3.SMB2_0_INFO_SECURITY, 0, 0x4)
    smb.close(tid, fid)

    # Attributes and time stamps: last write 2001-01-01, hidden and read-only.
    fid = open_('attr.txt', READ | WRITE_ATTRIBUTES)
    basic = struct.pack('<QQQQII', 0, 0, 126227808000000000, 0, 0x3, 0)
    smb.setInfo(tid, fid, basic, s3.SMB2_0_INFO_FILE, 4, 0)
    smb.close(tid, fid)

    # A hard link: orig.txt also named hard.txt.
    fid = open_('orig.txt', READ | DELETE)
    target = name('hard.txt').encode('utf-16le')
    link = struct.pack('<B7sQI', 0, b'\0' * 7, 0, len(target)) + target
    smb.setInfo(tid, fid, link, s3.SMB2_0_INFO_FILE, 11, 0)
    smb.close(tid, fid)

    # A server-side copy of csrc.txt over the existing cdst.txt.
    src = open_('csrc.txt', READ)
    key = smb.ioctl(tid, src, 0x00140078, s3.SMB2_0_IOCTL_IS_FSCTL, b'',
                    maxInputResponse=0, maxOutputResponse=64)[:24]
    dst = open_('cdst.txt', WRITE)
    size = os.path.getsize(args.seed) if args.seed else 0
    chunk = struct.pack('<24sII', key, 1, 0) + struct.pack('<QQII', 0, 0, size, 0)
    smb.ioctl(tid, dst, 0x001480F2, s3.SMB2_0_IOCTL_IS_FSCTL, chunk, maxInputResponse=0,
              maxOutputResponse=12)
    smb.close(tid, dst)
    smb.close(tid, src)

    # A named stream written, then read.
    fid = open_('host.txt:hidden', WRITE, FILE_OVERWRITE_IF)
    smb.write(tid, fid, b'hidden data', 0, 11)
    smb.close(tid, fid)
    fid = open_('host.txt:hidden', READ)
    smb.read(tid, fid, 0, 11)
    smb.close(tid, fid)

    # A name in another case than the disk's.
    fid = open_('CASE.TXT', READ)
    smb.close(tid, fid)
    conn.logoff()


def audit(folder):
    from audit_compare import audit_records
    return audit_records(folder)


def lines(log):
    from audit_compare import access_lines
    return access_lines(log)


def judge(a):
    recs = audit(a.audit)
    got = lines(a.log)
    base = a.root.rstrip('/')
    local = lambda p: p if p.startswith('/') else base + '/' + p
    problems = []
    expected = []
    for _, _, _, f in recs:
        if len(f) < 6 or f[4] != 'ok':
            continue
        user, client, op, paths = f[0].lower(), f[1], f[3], f[5:]
        # The record of a server-side copy names no file.
        if op == 'offload_write_send':
            expected.append(('Copy', None, user, client))
            expected.append(('Wt', local(a.folder + '/cdst.txt'), user, client))
            continue
        # The record names paths from the share's folder or whole.
        rel = [re.sub(r' \[[^]]*\]$', '', p).rstrip('/') for p in paths
               if p.startswith(a.folder + '/') or p.startswith(base + '/' + a.folder + '/')]
        if not rel:
            continue
        if op == 'fset_nt_acl':
            expected.append(('Perm', local(rel[0]), user, client))
        elif op in ('fntimes', 'fset_dos_attributes') and rel[0].endswith('attr.txt'):
            expected.append(('Attr', local(rel[0]), user, client))
        elif op == 'linkat' and len(rel) >= 2:
            expected.append(('Link', local(rel[0]) + ' >> ' + local(rel[1]), user, client))
        elif op in ('pwrite', 'pwrite_send') and ':' in rel[0]:
            expected.append(({'New', 'Wt'}, local(rel[0]), user, client))
        elif op == 'create_file' and rel[0].lower().endswith('case.txt'):
            expected.append(('Rd', local(rel[0]), user, client))
    copy_path = local(a.folder + '/csrc.txt') + ' >> ' + local(a.folder + '/cdst.txt')
    if not any(e[0] == 'Copy' for e in expected):
        problems.append('the server recorded no server-side copy (offload_write_send)')
    for want_op, path, user, client in expected:
        if want_op == 'Copy':
            path = copy_path
        ops = want_op if isinstance(want_op, set) else {want_op}
        hit = [g for g in got if g[0] == 'access' and g[1] == user and g[2] == client and
               g[3] in ops and g[4] == path]
        if not hit:
            near = [g for g in got if path.split(' >> ')[0] in g[4]]
            problems.append('missing %s %s for %s@%s; lines naming it: %s' %
                            ('/'.join(sorted(ops)), path, user, client, near))
    # The stream was read too, and nothing of the folder is logged as a plain read of a change.
    stream = base + '/' + a.folder + '/host.txt:hidden'
    if not any(g[3] == 'Rd' and g[4] == stream for g in got):
        problems.append('no Rd line of the stream read back: %s' % [g for g in got if ':' in g[4]])
    for what in ('acl.txt', 'attr.txt', 'hard.txt'):
        wrong = [g for g in got if g[4].endswith('/' + what) and g[3] in ('Del',)]
        if wrong:
            problems.append('false lines for %s: %s' % (what, wrong))
    for p in problems:
        print('MISMATCH:', p)
    print('%d expectations from the audit record, %d problems' % (len(expected), len(problems)))
    return 1 if problems or len(expected) < 6 else 0


def replay(a):
    def mine(log):
        return sorted((g[0], g[3], g[4]) for g in lines(log)
                      if ('/' + a.folder + '/') in g[4] and not g[4].lower().endswith('case.txt'))
    live, again = mine(a.log), mine(a.replayed)
    if live != again:
        print('MISMATCH: the replay differs\n live:   %s\n replay: %s' % (live, again))
        return 1
    print('replay: %d lines, the same' % len(live))
    return 0


if __name__ == '__main__':
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest='cmd', required=True)
    c = sub.add_parser('client')
    for n in ('server', 'share', 'folder', 'user', 'password'):
        c.add_argument(n)
    c.add_argument('--seed')
    j = sub.add_parser('judge')
    for n in ('--audit', '--root', '--folder', '--log', '--client', '--user'):
        j.add_argument(n, required=True)
    r = sub.add_parser('replay')
    for n in ('--log', '--replayed', '--folder'):
        r.add_argument(n, required=True)
    args = p.parse_args()
    if args.cmd == 'client':
        client(args.server, args.share, args.folder, args.user, args.password)
    elif args.cmd == 'judge':
        sys.exit(judge(args))
    else:
        sys.exit(replay(args))
