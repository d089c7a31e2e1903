#!/usr/bin/python3
"""A client that holds its files open across the start of the capture, for live_handles_before.sh.

    handles_before.py SERVER SHARE FOLDER USER PASS RESULT_JSON OPENED GO

Opens FOLDER\\read.txt, write.txt, delete.txt and rename.txt of SHARE, writes the FileId the
server gave each (persistent:volatile, hexadecimal) to RESULT_JSON and creates the file OPENED;
then waits for the file GO and, through the handles it already has, reads the first, writes the
second, sets the delete disposition of the third and closes it, and renames the fourth
(SET_INFO FileRenameInformation) to renamed.txt; then closes the others. Exits 1 when the server
did not do what was asked (a fault of the test's world, not of the program under test).
"""
import json
import os
import sys
import time

from impacket import smb3structs as s3
from impacket.smbconnection import SMBConnection

server, share, folder, user, password, out, opened, go = sys.argv[1:9]

READ = 0x00120089
WRITE = 0x0012019F
DELETE = 0x00010000
SHARE_ALL = 7
NON_DIR = 0x40


def main():
    # SMB 2.1: from 3.0 on this client encrypts whenever the server offers it.
    c = SMBConnection(server, server, sess_port=445, preferredDialect=s3.SMB2_DIALECT_21)
    c.login(user, password)
    conn = c.getSMBServer()
    tid = conn.connectTree(share)
    access = {'read': READ, 'write': WRITE, 'delete': DELETE | READ, 'rename': DELETE | READ}
    fids = {}
    for what, mask in access.items():
        fids[what] = conn.create(tid, folder + '\\' + what + '.txt', mask, SHARE_ALL, NON_DIR,
                                 s3.FILE_OPEN, 0)
    told = {what: '%s:%s' % (f[:8][::-1].hex(), f[8:][::-1].hex()) for what, f in fids.items()}
    with open(out, 'w') as f:
        json.dump(told, f)
    open(opened, 'w').close()
    for _ in range(300):
        if os.path.exists(go):
            break
        time.sleep(0.1)
    else:
        print('handles_before: no go')
        return 1

    got = conn.read(tid, fids['read'], 0, 64)
    data = b'written through an old handle\n'
    conn.write(tid, fids['write'], data, 0, len(data))
    conn.setInfo(tid, fids['delete'], b'\x01', fileInfoClass=s3.SMB2_FILE_DISPOSITION_INFO)
    conn.close(tid, fids['delete'])
    ren = s3.FILE_RENAME_INFORMATION_TYPE_2()
    ren['ReplaceIfExists'] = 0
    ren['RootDirectory'] = b'\x00' * 8
    target = folder + '\\renamed.txt'
    ren['FileNameLength'] = len(target) * 2
    ren['FileName'] = target.encode('utf-16le')
    conn.setInfo(tid, fids['rename'], ren, fileInfoClass=s3.SMB2_FILE_RENAME_INFO)
    for what in ('read', 'write', 'rename'):
        conn.close(tid, fids[what])
    c.logoff()
    if not got.startswith(b'read me'):
        print('handles_before: read %r' % got)
        return 1
    print('handles_before: done')
    return 0


if __name__ == '__main__':
    sys.exit(main())
