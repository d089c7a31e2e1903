#!/usr/bin/python3
"""Scripted SMB2 clients for the live audit test: what smbclient never sends.

    impacket_cases.py SERVER SHARE FOLDER USER PASS USER2 PASS2 RESULT_JSON

Works in FOLDER of SHARE (seeded by the test):
  pipelined     four CREATEs written in one TCP send before any answer is read
  write+create  a WRITE and the CREATE after it in one send
  doc           CREATE with delete-on-close of an existing file
  disp          SET_INFO FileDispositionInformation on an open handle, then CLOSE
  keep          the disposition set, then cleared before CLOSE (the file survives)
  share         an open with share mode 0, then a second open that must be refused
  collide       FILE_CREATE of an existing name (refused: name collision)
  secret        a file the user may not open (refused: access denied)
  ren           rename through SET_INFO FileRenameInformation
  two users     two sessions of two users on one TCP connection, each opening its own file

Writes RESULT_JSON: the refusals the server answered ({user, share, path, status}) and the
client address; exits 1 when the server did not answer as each case needs, which is a fault of
the test's world, not of the program under test.
"""
import json
import struct
import sys

from impacket import smb3structs as s3
from impacket.nt_errors import ERROR_MESSAGES
from impacket.smb3 import SMB3
from impacket.smbconnection import SMBConnection, SessionError

server, share, folder, user, password, user2, password2, out = sys.argv[1:9]

READ = 0x00120089  # read data, attributes, EAs, control
WRITE = 0x0012019F
DELETE = 0x00010000
SHARE_ALL = 7
NON_DIR = 0x40
DELETE_ON_CLOSE = 0x1000
FILE_OPEN, FILE_CREATE, FILE_OVERWRITE_IF = 1, 2, 5
DISPOSITION_INFO = 13

refusals = []
problems = []


def status_name(code):
    name = ERROR_MESSAGES.get(code, ('0x%08x' % code,))[0]
    return name


def name(rel):
    return (folder + '\\' + rel) if folder else rel


def mk_create(conn, tid, rel, access, share_mode=SHARE_ALL, options=NON_DIR, disposition=FILE_OPEN):
    pkt = conn.SMB_PACKET()
    pkt['Command'] = s3.SMB2_CREATE
    pkt['TreeID'] = tid
    req = s3.SMB2Create()
    req['SecurityFlags'] = 0
    req['RequestedOplockLevel'] = s3.SMB2_OPLOCK_LEVEL_NONE
    req['ImpersonationLevel'] = s3.SMB2_IL_IMPERSONATION
    req['DesiredAccess'] = access
    req['FileAttributes'] = 0
    req['ShareAccess'] = share_mode
    req['CreateDisposition'] = disposition
    req['CreateOptions'] = options
    req['NameLength'] = len(rel) * 2
    req['Buffer'] = rel.encode('utf-16le')
    req['CreateContextsOffset'] = 0
    req['CreateContextsLength'] = 0
    pkt['Data'] = req
    return pkt


def mk_close(conn, tid, fid):
    pkt = conn.SMB_PACKET()
    pkt['Command'] = s3.SMB2_CLOSE
    pkt['TreeID'] = tid
    req = s3.SMB2Close()
    req['Flags'] = 0
    req['FileID'] = fid
    pkt['Data'] = req
    return pkt


def mk_write(conn, tid, fid, data, offset=0):
    pkt = conn.SMB_PACKET()
    pkt['Command'] = s3.SMB2_WRITE
    pkt['TreeID'] = tid
    req = s3.SMB2Write()
    req['FileID'] = fid
    req['Length'] = len(data)
    req['Offset'] = offset
    req['WriteChannelInfoOffset'] = 0
    req['Buffer'] = data
    pkt['Data'] = req
    return pkt


def mk_setinfo(conn, tid, fid, klass, blob):
    pkt = conn.SMB_PACKET()
    pkt['Command'] = s3.SMB2_SET_INFO
    pkt['TreeID'] = tid
    req = s3.SMB2SetInfo()
    req['InfoType'] = s3.SMB2_0_INFO_FILE
    req['FileInfoClass'] = klass
    req['BufferLength'] = len(blob)
    req['AdditionalInformation'] = 0
    req['FileID'] = fid
    req['Buffer'] = blob
    pkt['Data'] = req
    return pkt


def together(conn, pkts):
    """Sends the requests in one TCP send, then reads every answer."""
    sock = conn._NetBIOSSession._sock
    frames = []

    class Collect:
        def sendall(self, data):
            frames.append(data)

    conn._NetBIOSSession._sock = Collect()
    try:
        ids = [conn.sendSMB(p) for p in pkts]
    finally:
        conn._NetBIOSSession._sock = sock
    sock.sendall(b''.join(frames))
    return [conn.recvSMB(i) for i in ids]


def call(conn, pkt):
    return conn.recvSMB(conn.sendSMB(pkt))


def fid_of(ans):
    return s3.SMB2Create_Response(ans['Data'])['FileID'].getData()


def ok(ans, what):
    if ans['Status'] != 0:
        problems.append('%s: %s' % (what, status_name(ans['Status'])))
        return False
    return True


def refused(conn_user, ans, rel, expect, what):
    st = ans['Status']
    if st == 0:
        problems.append('%s: the server allowed it' % what)
        return
    refusals.append({'user': conn_user, 'share': share, 'path': rel.replace('\\', '/'),
                     'status': status_name(st), 'case': what})
    if status_name(st) != expect:
        problems.append('%s: %s, expected %s' % (what, status_name(st), expect))


def open_close(conn, tid, rel, access, what, **kw):
    ans = call(conn, mk_create(conn, tid, rel, access, **kw))
    if ok(ans, what):
        call(conn, mk_close(conn, tid, fid_of(ans)))


def session(u, p):
    # SMB 2.1: from 3.0 on this client encrypts whenever the server offers it, and an encrypted
    # session shows nothing of its requests.
    c = SMBConnection(server, server, sess_port=445, preferredDialect=s3.SMB2_DIALECT_21)
    c.login(u, p)
    return c


def main():
    c = session(user, password)
    conn = c.getSMBServer()
    tid = conn.connectTree(share)

    # Four opens in one send; every answer read afterwards.
    answers = together(conn, [mk_create(conn, tid, name('p%d.txt' % i), READ) for i in range(1, 5)])
    for i, ans in enumerate(answers, 1):
        if ok(ans, 'pipelined p%d.txt' % i):
            call(conn, mk_close(conn, tid, fid_of(ans)))

    # The data of a WRITE and the CREATE after it in one send.
    ans = call(conn, mk_create(conn, tid, name('w.txt'), WRITE, disposition=FILE_OPEN))
    if ok(ans, 'write target'):
        wfid = fid_of(ans)
        w, after = together(conn, [mk_write(conn, tid, wfid, b'written in one send\n' * 40),
                                   mk_create(conn, tid, name('after-write.txt'), READ)])
        ok(w, 'write')
        if ok(after, 'create after write'):
            call(conn, mk_close(conn, tid, fid_of(after)))
        call(conn, mk_close(conn, tid, wfid))

    # Delete routes.
    open_close(conn, tid, name('doc.txt'), DELETE | READ, 'delete-on-close',
               options=NON_DIR | DELETE_ON_CLOSE)
    ans = call(conn, mk_create(conn, tid, name('disp.txt'), DELETE | READ))
    if ok(ans, 'disposition'):
        fid = fid_of(ans)
        ok(call(conn, mk_setinfo(conn, tid, fid, DISPOSITION_INFO, b'\x01')), 'disposition set')
        call(conn, mk_close(conn, tid, fid))
    ans = call(conn, mk_create(conn, tid, name('keep.txt'), DELETE | READ))
    if ok(ans, 'disposition kept'):
        fid = fid_of(ans)
        ok(call(conn, mk_setinfo(conn, tid, fid, DISPOSITION_INFO, b'\x01')), 'disposition set (keep)')
        ok(call(conn, mk_setinfo(conn, tid, fid, DISPOSITION_INFO, b'\x00')), 'disposition cleared')
        call(conn, mk_close(conn, tid, fid))

    # A sharing violation: held for reading with no sharing, then opened for writing.
    ans = call(conn, mk_create(conn, tid, name('share.txt'), READ, share_mode=0))
    if ok(ans, 'exclusive open'):
        fid = fid_of(ans)
        second = call(conn, mk_create(conn, tid, name('share.txt'), WRITE))
        refused(user, second, name('share.txt'), 'STATUS_SHARING_VIOLATION', 'sharing violation')
        if second['Status'] == 0:
            call(conn, mk_close(conn, tid, fid_of(second)))
        call(conn, mk_close(conn, tid, fid))

    refused(user, call(conn, mk_create(conn, tid, name('exists.txt'), WRITE, disposition=FILE_CREATE)),
            name('exists.txt'), 'STATUS_OBJECT_NAME_COLLISION', 'name collision')
    refused(user, call(conn, mk_create(conn, tid, name('secret.txt'), READ)),
            name('secret.txt'), 'STATUS_ACCESS_DENIED', 'access denied')

    # Rename through SET_INFO FileRenameInformation.
    conn.rename(share, name('ren.txt'), name('renamed.txt'))
    c.logoff()

    # Two users on one TCP connection: the second session set up beside the first.
    c = session(user, password)
    conn = c.getSMBServer()
    sid1 = conn._Session['SessionID']
    tid1 = conn.connectTree(share)
    conn._Session['SessionID'] = 0
    conn.login(user2, password2)
    sid2 = conn._Session['SessionID']
    if sid2 == sid1:
        problems.append('two users: no second session')
    # The client keeps one tree per share name; the second session needs a tree of its own.
    trees = dict(conn._Session['TreeConnectTable'])
    conn._Session['TreeConnectTable'] = {}
    tid2 = conn.connectTree(share)
    conn._Session['TreeConnectTable'].update({k: v for k, v in trees.items() if k not in (share,)})
    for sid, tid, u, f in ((sid1, tid1, user, 'u1.txt'), (sid2, tid2, user2, 'u2.txt'),
                           (sid1, tid1, user, 'u1b.txt'), (sid2, tid2, user2, 'u2b.txt')):
        conn._Session['SessionID'] = sid
        open_close(conn, tid, name('two\\' + f), READ, 'two users %s %s' % (u, f))
    # Each session's open is its user's: the second user may not open the first one's file.
    conn._Session['SessionID'] = sid2
    refused(user2, call(conn, mk_create(conn, tid2, name('two\\only1.txt'), READ)),
            name('two\\only1.txt'), 'STATUS_ACCESS_DENIED', 'two users: other user file')
    conn._Session['SessionID'] = sid1
    open_close(conn, tid1, name('two\\only1.txt'), READ, 'two users: own file')

    with open(out, 'w') as f:
        json.dump({'refusals': refusals, 'problems': problems}, f, indent=1)
    if problems:
        print('impacket cases: the server did not answer as expected:\n  ' + '\n  '.join(problems))
        return 1
    print('impacket cases: done, %d refusals' % len(refusals))
    return 0


if __name__ == '__main__':
    try:
        sys.exit(main())
    except SessionError as e:
        print('impacket cases: %s' % e)
        sys.exit(1)
