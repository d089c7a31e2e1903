#!/usr/bin/python3
"""An SMB1 client for the live routes test: every route by which an SMB1 client opens, changes,
renames, links, copies or deletes a file, each request built field by field where impacket has
no call for it.

    smb1_routes.py SERVER SHARE USER PASS RESULT_JSON FOLDER...

Works in each FOLDER of SHARE (seeded by the test): in the first with Unicode names that start
with a backslash, in the others with OEM names without one. Writes RESULT_JSON: for each step its route, the objects it
touched ("open", "write", "size", "attr", "perm", "delete" of a path; "rename", "link", "copy" of
two) and what the server answered, so that the checker can find the server's own record of each.
Exits 1 when the server did not answer a step as the world the test made requires.
"""
import json
import struct
import sys

from impacket import smb
from impacket.smb import SMB, NewSMBPacket, SMBCommand

server, share, user, password, out = sys.argv[1:6]
folders = sys.argv[6:]

STATUS_SUCCESS = 0
STATUS_ACCESS_DENIED = 0xC0000022
GENERIC_READ, GENERIC_WRITE = 0x00120089, 0x00120116
DELETE, WRITE_ATTRIBUTES, READ_ATTRIBUTES = 0x00010000, 0x00000100, 0x00000080
READ_CONTROL, WRITE_DAC, SYNCHRONIZE = 0x00020000, 0x00040000, 0x00100000
FILE_OPEN, FILE_CREATE = 1, 2
NON_DIRECTORY = 0x40
# A FILETIME and a UTIME of 2001-01-01 00:00:00 UTC, and that day as an SMB_DATE.
FT_2001 = 126227808000000000
UTIME_2001 = 978307200
DOS_DATE_2001, DOS_TIME_0 = (21 << 9) | (1 << 5) | 1, 0

conn = SMB(server, server)
conn.login(user, password)
tid = conn.tree_connect_andx('\\\\%s\\%s' % (server, share))
unicode = False
steps = []
problems = []


def enc(name):
    return name.encode('utf-16le') + b'\0\0' if unicode else name.encode() + b'\0'


def send(command, params, data=b''):
    """One request; (status, answer parameter words, answer data bytes, whole answer)."""
    pkt = NewSMBPacket()
    pkt['Tid'] = tid
    c = SMBCommand(command)
    c['Parameters'] = params
    c['Data'] = data
    pkt.addCommand(c)
    conn.sendSMB(pkt)
    ans = conn.recvSMB()
    status = ans['ErrorClass'] | ans['_reserved'] << 8 | ans['ErrorCode'] << 16
    raw = ans.getData()
    words = raw[32] * 2
    return status, raw[33:33 + words], raw[35 + words:], raw


def data_at(words):
    """The offset of the data bytes from the header, for a request of this many parameter bytes."""
    return 32 + 1 + words + 2


def string_after(offset, name):
    """A name as the data bytes carry it at offset: Unicode starts at an even offset."""
    pad = b'\0' if unicode and offset % 2 else b''
    return pad + enc(name)


def trans2(sub, params, data=b''):
    """TRANSACTION2: 15 words, the unused Name, then parameters and data each 4-aligned."""
    base = data_at(30)
    head = b'\0\0\0' if unicode else b'\0'  # pad and the Unicode null Name, or the OEM one
    p_off = base + len(head)
    pad1 = b'\0' * ((4 - p_off % 4) % 4)
    p_off += len(pad1)
    d_off = p_off + len(params)
    pad2 = b'\0' * ((4 - d_off % 4) % 4) if data else b''
    d_off += len(pad2)
    words = struct.pack('<HHHHBBHIHHHHHBBH', len(params), len(data), 1024, 4096, 0, 0, 0, 0, 0,
                        len(params), p_off, len(data), d_off if data else 0, 1, 0, sub)
    status, w, _, raw = send(SMB.SMB_COM_TRANSACTION2, words, head + pad1 + params + pad2 + data)
    ans = raw[struct.unpack('<H', w[8:10])[0]:][:struct.unpack('<H', w[6:8])[0]] if status == 0 and len(w) >= 10 else b''
    return status, ans


def nt_transact(function, params, data=b''):
    """NT_TRANSACT: 19 words, then parameters and data each 4-aligned."""
    base = data_at(38)
    pad1 = b'\0' * ((4 - base % 4) % 4)
    p_off = base + len(pad1)
    d_off = p_off + len(params)
    pad2 = b'\0' * ((4 - d_off % 4) % 4) if data else b''
    d_off += len(pad2)
    words = struct.pack('<BHIIIIIIIIBH', 0, 0, len(params), len(data), 1024, 65504, len(params),
                        p_off, len(data), d_off if data else 0, 0, function)
    status, w, _, raw = send(SMB.SMB_COM_NT_TRANSACT, words, pad1 + params + pad2 + data)
    if status != 0 or len(w) < 36:
        return status, b'', b''
    pc, po = struct.unpack('<II', w[11:19])
    dc, do = struct.unpack('<I', w[23:27])[0], struct.unpack('<I', w[27:31])[0]
    return status, raw[po:po + pc], raw[do:do + dc]


def close(fid):
    st, _, _, _ = send(SMB.SMB_COM_CLOSE, struct.pack('<HI', fid, 0))
    return st


def open_andx(name, access, function):
    words = struct.pack('<BBHHHHHIHIII', 0xFF, 0, 0, 0, access, 0x16, 0, 0, function, 0, 0, 0)
    st, w, _, _ = send(SMB.SMB_COM_OPEN_ANDX, words, string_after(data_at(len(words)), name))
    return st, (struct.unpack('<H', w[4:6])[0] if st == 0 else None)


def nt_create(name, access, disposition=FILE_OPEN):
    words = struct.pack('<BBHBHIIIQIIIIIB', 0xFF, 0, 0, 0, len(enc(name)) - (2 if unicode else 1),
                        0, 0, access, 0, 0, 7, disposition, NON_DIRECTORY, 2, 0)
    st, w, _, _ = send(SMB.SMB_COM_NT_CREATE_ANDX, words, string_after(data_at(len(words)), name))
    return st, (struct.unpack('<H', w[5:7])[0] if st == 0 else None)


def write_andx(fid, data):
    words = struct.pack('<BBHHIIHHHHHI', 0xFF, 0, 0, fid, 0, 0, 0, 0, 0, len(data),
                        data_at(28) + 1, 0)
    st, _, _, _ = send(SMB.SMB_COM_WRITE_ANDX, words, b'\0' + data)
    return st


REFUSED = -1  # any refusal


def step(route, expect=STATUS_SUCCESS, **touched):
    """Notes what a step touched; returns the status it must get."""
    steps.append(dict(route=route, **touched))
    return expect


def check(route, status, expect):
    if (expect == REFUSED and status == 0) or (expect != REFUSED and status != expect):
        problems.append('%s: status 0x%08x, wanted %s' % (
            route, status, 'a refusal' if expect == REFUSED else '0x%08x' % expect))


def names_after(words_len, old, new):
    """BufferFormat, old name, BufferFormat, new name (a Unicode one after its pad)."""
    at = data_at(words_len)
    first = b'\x04' + enc(old)
    second_at = at + len(first) + 1
    return first + b'\x04' + string_after(second_at, new)


def run(folder, lead):
    d = lead + folder.replace('/', '\\') + '\\'
    rel = folder + '/'

    # Legacy opens, each by the server's answer: read, open for writing then written, truncated,
    # created.
    st, fid = open_andx(d + 'o-read.txt', 0x40, 0x01)
    check('OPEN_ANDX read', st, step('OPEN_ANDX read', open=rel + 'o-read.txt'))
    fid is None or close(fid)
    st, fid = open_andx(d + 'o-write.txt', 0x42, 0x01)
    check('OPEN_ANDX write', st, step('OPEN_ANDX write', open=rel + 'o-write.txt'))
    if fid is not None:
        check('WRITE_ANDX', write_andx(fid, b'written\n'), 0)
        close(fid)
    st, fid = open_andx(d + 'o-trunc.txt', 0x42, 0x12)
    check('OPEN_ANDX truncate', st, step('OPEN_ANDX truncate', open=rel + 'o-trunc.txt'))
    fid is None or close(fid)
    st, fid = open_andx(d + 'o-new.txt', 0x42, 0x10)
    check('OPEN_ANDX create', st, step('OPEN_ANDX create', open=rel + 'o-new.txt'))
    fid is None or close(fid)

    # SMB_COM_OPEN, CREATE over a file that is there, CREATE_NEW, CREATE_TEMPORARY.
    words = struct.pack('<HH', 0x40, 0x16)
    st, w, _, _ = send(SMB.SMB_COM_OPEN, words, b'\x04' + enc(d + 'open.txt'))
    check('OPEN', st, step('OPEN', open=rel + 'open.txt'))
    st == 0 and close(struct.unpack('<H', w[0:2])[0])
    for cmd, route, name in ((0x03, 'CREATE', 'create-old.txt'), (0x0F, 'CREATE_NEW', 'cnew.txt')):
        st, w, _, _ = send(cmd, struct.pack('<HI', 0x20, 0), b'\x04' + enc(d + name))
        check(route, st, step(route, open=rel + name))
        st == 0 and close(struct.unpack('<H', w[0:2])[0])
    st, w, b, _ = send(0x0E, struct.pack('<HI', 0x20, 0), b'\x04' + enc(d + 'tmp'))
    check('CREATE_TEMPORARY', st, step('CREATE_TEMPORARY', temporary=rel + 'tmp'))
    st == 0 and close(struct.unpack('<H', w[0:2])[0])

    # TRANSACTION2 OPEN2 and NT_TRANSACT CREATE of new files.
    params = struct.pack('<HHHHIHI', 0, 0x42, 0, 0x20, 0, 0x10, 0) + b'\0' * 10 + enc(d + 't2new.txt')
    st, ans = trans2(0x00, params)
    check('TRANS2_OPEN2', st, step('TRANS2_OPEN2', open=rel + 't2new.txt'))
    st == 0 and close(struct.unpack('<H', ans[0:2])[0])
    name = enc(d + 'ntnew.txt')[:-2 if unicode else -1]
    params = struct.pack('<IIIQIIIIIIIIB', 0, 0, GENERIC_READ | GENERIC_WRITE, 0, 0x80, 7,
                         FILE_CREATE, NON_DIRECTORY, 0, 0, len(name), 2, 0)
    st, ans, _ = nt_transact(1, params + (b'\0' if unicode else b'') + name)
    check('NT_TRANSACT_CREATE', st, step('NT_TRANSACT_CREATE', open=rel + 'ntnew.txt'))
    st == 0 and close(struct.unpack('<H', ans[2:4])[0])

    # WRITE_AND_CLOSE on a file opened for writing.
    st, fid = open_andx(d + 'wac.txt', 0x42, 0x01)
    check('OPEN_ANDX before WRITE_AND_CLOSE', st, step('WRITE_AND_CLOSE', open=rel + 'wac.txt'))
    if fid is not None:
        data = b'write and close\n'
        st, _, _, _ = send(0x2C, struct.pack('<HHII', fid, len(data), 0, 0), b'\0' + data)
        check('WRITE_AND_CLOSE', st, 0)

    # Through a handle: delete dispositions (the SMB1 level and the pass-through one), a rename,
    # a new end of file, basic information, a hard link, DOS dates, a security descriptor.
    for route, fname, level in (('SET_FILE_INFO disposition', 'disp1.txt', 0x102),
                                ('SET_FILE_INFO disposition pass-through', 'disp2.txt', 1013)):
        st, fid = nt_create(d + fname, DELETE | READ_ATTRIBUTES | SYNCHRONIZE)
        check(route + ' open', st, 0)
        if fid is not None:
            st, _ = trans2(0x08, struct.pack('<HHH', fid, level, 0), b'\x01')
            check(route, st, step(route, delete=rel + fname))
            close(fid)
    st, fid = nt_create(d + 'ren-h.txt', DELETE | READ_ATTRIBUTES | SYNCHRONIZE)
    if fid is not None:
        new = enc('ren-h2.txt')[:-2 if unicode else -1]
        st, _ = trans2(0x08, struct.pack('<HHH', fid, 1010, 0),
                       struct.pack('<BBBBII', 0, 0, 0, 0, 0, len(new)) + new)
        check('SET_FILE_INFO rename', st,
              step('SET_FILE_INFO rename', rename=[rel + 'ren-h.txt', rel + 'ren-h2.txt']))
        close(fid)
    st, fid = nt_create(d + 'eof-h.txt', GENERIC_READ | GENERIC_WRITE)
    check('NT_CREATE_ANDX for writing', st, step('SET_FILE_INFO end of file', open=rel + 'eof-h.txt',
                                                 size=rel + 'eof-h.txt'))
    if fid is not None:
        st, _ = trans2(0x08, struct.pack('<HHH', fid, 0x104, 0), struct.pack('<Q', 3))
        check('SET_FILE_INFO end of file', st, 0)
        close(fid)
    st, fid = nt_create(d + 'attr-h.txt', GENERIC_READ | WRITE_ATTRIBUTES)
    check('NT_CREATE_ANDX for attributes', st, step('SET_FILE_INFO basic', open=rel + 'attr-h.txt',
                                                    attr=rel + 'attr-h.txt'))
    if fid is not None:
        st, _ = trans2(0x08, struct.pack('<HHH', fid, 0x101, 0),
                       struct.pack('<QQQQII', 0, 0, FT_2001, 0, 0, 0))
        check('SET_FILE_INFO basic', st, 0)
        close(fid)
    st, fid = nt_create(d + 'link-h.txt', GENERIC_READ)
    check('NT_CREATE_ANDX before a link', st, step('SET_FILE_INFO link', open=rel + 'link-h.txt',
                                                   link=[rel + 'link-h.txt', rel + 'link-h2.txt']))
    if fid is not None:
        new = enc(d + 'link-h2.txt')[:-2 if unicode else -1]
        st, _ = trans2(0x08, struct.pack('<HHH', fid, 1011, 0),
                       struct.pack('<B7sQI', 0, b'', 0, len(new)) + new)
        check('SET_FILE_INFO link', st, 0)
        close(fid)
    st, fid = open_andx(d + 'seti2.txt', 0x42, 0x01)
    check('OPEN_ANDX before SET_INFORMATION2', st, step('SET_INFORMATION2', open=rel + 'seti2.txt',
                                                        attr=rel + 'seti2.txt'))
    if fid is not None:
        st, _, _, _ = send(0x22, struct.pack('<HHHHHHH', fid, 0, 0, 0, 0, DOS_DATE_2001, DOS_TIME_0))
        check('SET_INFORMATION2', st, 0)
        close(fid)
    st, fid = nt_create(d + 'acl.txt', GENERIC_READ | READ_CONTROL | WRITE_DAC)
    check('NT_CREATE_ANDX for the ACL', st, step('NT_TRANSACT_SET_SECURITY_DESC',
                                                 open=rel + 'acl.txt', perm=rel + 'acl.txt'))
    if fid is not None:
        st, _, sd = nt_transact(6, struct.pack('<HHI', fid, 0, 4))
        check('NT_TRANSACT_QUERY_SECURITY_DESC', st, 0)
        st, _, _ = nt_transact(3, struct.pack('<HHI', fid, 0, 4), sd)
        check('NT_TRANSACT_SET_SECURITY_DESC', st, 0)
        close(fid)

    # By name: basic information and end of file through TRANSACTION2, SET_INFORMATION, a
    # setting of a name that is not there (refused: no line).
    st, _ = trans2(0x06, struct.pack('<HI', 0x101, 0) + enc(d + 'attr-p.txt'),
                   struct.pack('<QQQQII', 0, 0, FT_2001, 0, 0x02, 0))
    check('SET_PATH_INFO basic', st, step('SET_PATH_INFO basic', attr=rel + 'attr-p.txt'))
    st, _ = trans2(0x06, struct.pack('<HI', 1020, 0) + enc(d + 'eof-p.txt'), struct.pack('<Q', 2))
    check('SET_PATH_INFO end of file', st, step('SET_PATH_INFO end of file', size=rel + 'eof-p.txt'))
    # The SMB1 level by name: refused after the server's own open (as Windows does).
    st, _ = trans2(0x06, struct.pack('<HI', 0x104, 0) + enc(d + 'eof-p0.txt'), struct.pack('<Q', 2))
    check('SET_PATH_INFO end of file, SMB1 level', st,
          step('SET_PATH_INFO end of file, SMB1 level', REFUSED, none=[rel + 'eof-p0.txt']))
    st, _, _, _ = send(0x09, struct.pack('<HI', 0x02, UTIME_2001) + b'\0' * 10,
                       b'\x04' + enc(d + 'seti.txt'))
    check('SET_INFORMATION', st, step('SET_INFORMATION', attr=rel + 'seti.txt'))
    st, _ = trans2(0x06, struct.pack('<HI', 0x101, 0) + enc(d + 'missing.txt'),
                   struct.pack('<QQQQII', 0, 0, FT_2001, 0, 0, 0))
    check('SET_PATH_INFO missing', st, step('SET_PATH_INFO of a missing name', REFUSED,
                                            none=[rel + 'missing.txt']))

    # NT_RENAME: rename, hard link, copy; COPY and MOVE (this server refuses both: no line).
    for level, route, key, old, new in ((0x104, 'NT_RENAME rename', 'rename', 'ntren.txt', 'ntren2.txt'),
                                        (0x103, 'NT_RENAME link', 'link', 'ntlink.txt', 'ntlink2.txt'),
                                        (0x105, 'NT_RENAME copy', 'copy', 'ntcopy.txt', 'ntcopy2.txt')):
        words = struct.pack('<HHI', 0x16, level, 0)
        st, _, _, _ = send(0xA5, words, names_after(len(words), d + old, d + new))
        check(route, st, step(route, **{key: [rel + old, rel + new]}))
    for cmd, route, old, new in ((0x29, 'COPY', 'copy.txt', 'copy2.txt'),
                                 (0x2A, 'MOVE', 'move.txt', 'move2.txt')):
        words = struct.pack('<HHH', tid, 0x11, 0)
        st, _, _, _ = send(cmd, words, names_after(len(words), d + old, d + new))
        check(route, st, step(route, REFUSED, none=[rel + old, rel + new]))

    # Refused for the user's rights: an open for writing of a file no one may open.
    st, fid = open_andx(d + 'secret.txt', 0x42, 0x01)
    check('OPEN_ANDX refused', st, step('OPEN_ANDX refused', STATUS_ACCESS_DENIED,
                                        denied=rel + 'secret.txt', status='STATUS_ACCESS_DENIED'))
    fid is None or close(fid)


for i, f in enumerate(folders):
    # The client's strings, as the header's Flags2 says them.
    unicode = i == 0
    flags2 = conn.get_flags()[1]
    conn.set_flags(flags2=flags2 | SMB.FLAGS2_UNICODE if unicode else flags2 & ~SMB.FLAGS2_UNICODE)
    run(f, '\\' if i == 0 else '')
conn.logoff()
with open(out, 'w') as fh:
    json.dump({'steps': steps, 'problems': problems}, fh, indent=1)
if problems:
    print('\n'.join(problems))
    sys.exit(1)
