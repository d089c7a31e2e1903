#!/usr/bin/env python3
"""Replays a recorded SMB2 or SMB1 capture through quorvix and checks its access log against tshark.

    replay_access.py QUORVIX CAPTURE SMB_CONF [--sessions JSON] [--with-files]

The share of SMB_CONF is pointed at a fresh folder, so the server's files are absent at replay
time (with --with-files the folders and files the capture names are made there first). Expected
lines come from tshark's decode of the same file (TCP reassembly on: every SMB message, each
request paired with its answer by connection and SMB2 MessageId / SMB1 MID+PID, interim
STATUS_PENDING answers skipped) and the logging rules:

  * a TREE_CONNECT request toward the server gives one "login" line, its response one "connect"
    line, a TREE_DISCONNECT request one "disconnect" line;
  * a CREATE (SMB1 NT_CREATE_ANDX) on a tree other than IPC$ with a non-empty name free of ":",
    "*" and "PIPE" that is no pipe name is judged by its answer: a failure with a denying status
    gives a "denied" line carrying the status name, any other failure nothing; a success gives an
    "access" line whose operation follows the answer's create action (created "New", overwritten
    or superseded "Wt", opened "Rd") and whose size is the answer's end of file (0 for a folder);
  * an open asking for DELETE, MAXIMUM_ALLOWED or GENERIC_ALL, or with delete-on-close, gets its
    line only at the CLOSE of its handle: "Del" when a delete is pending then, nothing when the
    handle was renamed, else its own operation ("Wt" after a successful write); handles never
    closed get theirs when the replay ends;
  * a handle logged "Rd" gets one "Wt" line at its first successful write (or end-of-file set);
  * a successful SMB2 rename (SET_INFO FileRenameInformation) gives "ReNm" with "OLD >> NEW";
  * SMB1 DELETE gives "Del", CREATE_DIRECTORY "New", DELETE_DIRECTORY "Del", RENAME "ReNm", each
    by its answer like an open; a FIND_FIRST2 of "\\dir\\*" an "Rd" line for the folder dir;
  * Del at close, ReNm and denied lines are written each time; any other line equal in tree,
    operation, addresses and path to one of the last 50 is a repeat and is not written;
  * on a tree whose connect was not captured and whose path exists under no share, the CREATE gives
    an "unknown" line instead (repeats judged without the operation).

A refused TRANS2 path query (QUERY_PATH_INFORMATION, SET_PATH_INFORMATION, FIND_FIRST2) gives no
line unless refused for the user's rights; with --with-files its object is made in the share folder
all the same, so that only the server's answer can tell.

SMB1 captures also give one "session" line per log-on whose NTLMSSP AUTHENTICATE a tree-connect
answer follows, and the users of its accesses are that NTLMSSP user in capitals. tshark's SMB1 text
fields replace what is not ASCII, so SMB1 names are decoded from the bytes tshark gives, as UTF-16LE
or as OEM text by the Unicode bit of each message's Flags2.
"""
import argparse
import datetime
import json
import os
import re
import subprocess
import sys
import tempfile

PIPE_NAMES = {"spoolss", "browser", "wkssvc", "srvsvc", "winreg", "", "d ", "lsarpc", "samr",
              "mdssvc", "netlogon"}
# NTSTATUS values of the failures that count as a refusal.
DENIED = {0xC0000022: "STATUS_ACCESS_DENIED", 0xC0000061: "STATUS_PRIVILEGE_NOT_HELD",
          0xC00000A2: "STATUS_MEDIA_WRITE_PROTECTED", 0xC00000CA: "STATUS_NETWORK_ACCESS_DENIED",
          0xC0000121: "STATUS_CANNOT_DELETE"}
STATUS_PENDING = 0x00000103
# DELETE, MAXIMUM_ALLOWED, GENERIC_ALL: the open may end in a delete, so it is judged at its close.
DEFER_MASK = 0x00010000 | 0x02000000 | 0x10000000
DELETE_ON_CLOSE = 0x00001000
CREATE_ACTION = {0: "Wt  ", 1: "Rd  ", 2: "New ", 3: "Wt  "}
RELATED_FID = "ffffffff-ffff-ffff-ffff-ffffffffffff"
UTF16_FIELDS = ("smb.file", "smb.old_file", "smb.dir_name", "smb.search_pattern")


def tid_text(hex_tid):
    """A TreeId as the lines print it: the unsigned 32-bit value in decimal."""
    return str(int(hex_tid, 16) & 0xFFFFFFFF)


def is_pipe(name, tree):
    return tree.upper().endswith("\\IPC$") or name.lstrip("\\").lower() in PIPE_NAMES


def name_filtered(name, tree):
    return not name or any(s in name for s in (":", "*", "PIPE")) or is_pipe(name, tree)


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def stamp(epoch):
    t = datetime.datetime.fromtimestamp(int(float(epoch)))
    return t.strftime("[%Y/%m/%d %H:%M:%S]")


def find_field(node, key):
    """The first value of field key under node, or None."""
    if isinstance(node, dict):
        if key in node and isinstance(node[key], str):
            return node[key]
        node = list(node.values())
    if isinstance(node, list):
        for v in node:
            hit = find_field(v, key)
            if hit is not None:
                return hit
    return None


def flatten(node, out, unicode=True):
    """Every field under node: name -> values in decode order; an SMB1 name from its bytes, as
    UTF-16LE or, when the header's Flags2 lacks the Unicode bit, as OEM text (code page 850)."""
    if isinstance(node, dict):
        for k, v in node.items():
            if k.endswith("_raw"):
                continue
            if k in UTF16_FIELDS and node.get(k + "_raw"):
                raws = node[k + "_raw"]
                raws = raws if isinstance(raws[0], list) else [raws]
                for raw in raws:
                    out.setdefault(k, []).append(
                        bytes.fromhex(raw[0]).decode("utf-16le" if unicode else "cp850",
                                                     "replace").rstrip("\0"))
                continue
            if isinstance(v, str):
                out.setdefault(k, []).append(v)
            elif isinstance(v, list) and all(isinstance(x, str) for x in v):
                out.setdefault(k, []).extend(v)
            else:
                flatten(v, out, unicode)
    elif isinstance(node, list):
        for v in node:
            flatten(v, out, unicode)


def messages(capture, proto):
    """One dict per SMB message (proto "smb2" or "smb") of TCP 445/139, in capture order."""
    cmd = ["tshark", "-r", capture, "-o", "tcp.desegment_tcp_streams:TRUE",
           "-o", "nbss.desegment_nbss_commands:TRUE", "-Y", proto, "-T", "json",
           "--no-duplicate-keys", "-x"]
    out = subprocess.run(cmd, capture_output=True).stdout.decode("utf-8", "replace")
    result = []
    for p in json.loads(out or "[]"):
        layers = p["_source"]["layers"]
        tcp = layers["tcp"][0] if isinstance(layers["tcp"], list) else layers["tcp"]
        if not {tcp.get("tcp.srcport"), tcp.get("tcp.dstport")} & {"445", "139"}:
            continue
        family = "ip" if "ip" in layers else "ipv6"
        ip = layers[family][0] if isinstance(layers[family], list) else layers[family]
        frame = layers["frame"]
        src, dst = ip[family + ".src"], ip[family + ".dst"]
        msgs = layers.get(proto, [])
        for i, m in enumerate(msgs if isinstance(msgs, list) else [msgs]):
            f = {}
            flags2 = find_field(m, "smb.flags2") if proto == "smb" else None
            flatten(m, f, flags2 is None or int(flags2, 16) & 0x8000 != 0)
            f["_frame"] = int(frame["frame.number"])
            f["_seq"] = (int(frame["frame.number"]), i)
            f["_time"] = stamp(frame["frame.time_epoch"])
            f["_src"], f["_dst"] = src, dst
            # The server of the connection: the end on the SMB port.
            f["_server"] = dst if tcp.get("tcp.dstport") in ("445", "139") else src
            f["_conn"] = tcp["tcp.stream"]
            result.append(f)
    return result


def monitored(rows, server):
    """The messages of the server's own connections: its sessions to other servers are left out."""
    return [r for r in rows if r["_server"] == server]


def one(m, key, default=""):
    v = m.get(key)
    return v[0] if v else default


class Model:
    """The expected file lines: immediate ones in order, and those of handles left open."""

    def __init__(self, server, user_of, local):
        self.server, self.user_of, self.local = server, user_of, local
        self.window, self.lines, self.handles = [], [], {}

    def emit(self, lo, hi, action, cmd, tid, client, op, path, size=None, info=None,
             always=False, user=None, key_op=True):
        key = (action, tid, op if key_op else None, client, path)
        if not always and key in self.window[-50:]:
            return
        self.window.append(key)
        self.lines.append({"lo": lo, "hi": hi, "action": action, "cmd": cmd, "tid": tid,
                           "user": user, "client": client, "op": op, "path": path,
                           "size": size, "info": info})

    def failed(self, req, status, cmd, tid, path, user, ans):
        """A refused request gives a denied line; other failures none."""
        if status in DENIED:
            self.emit(req["_time"], ans["_time"], "denied", cmd, tid, req["_src"], None, path,
                      info=DENIED[status], always=True, user=user)

    def opened(self, req, ans, handle, cmd, tid, path, mask, options, action, size, user):
        h = {"req": req, "cmd": cmd, "tid": tid, "path": path, "op": CREATE_ACTION[action],
             "size": size, "user": user, "client": req["_src"],
             "deferred": bool(mask & DEFER_MASK or options & DELETE_ON_CLOSE),
             "delete": bool(options & DELETE_ON_CLOSE), "pending": False, "renamed": False,
             "wrote": False, "wt_line": False}
        self.handles[handle] = h
        if not h["deferred"]:
            self.emit(req["_time"], ans["_time"], "access", cmd, tid, req["_src"], h["op"], path,
                      size=size, user=user)

    def wrote(self, handle, req, ans):
        h = self.handles.get(handle)
        if not h:
            return
        h["wrote"] = True
        if not h["deferred"] and h["op"] == "Rd  " and not h["wt_line"]:
            h["wt_line"] = True
            self.emit(req["_time"], ans["_time"], "access", None, h["tid"], h["client"], "Wt  ",
                      h["path"], user=h["user"])

    def verdict_at_close(self, h, lo, hi):
        if not h["deferred"]:
            return
        if h["delete"] or h["pending"]:
            self.emit(lo, hi, "access", None, h["tid"], h["client"], "Del ", h["path"],
                      size=h["size"], always=True, user=h["user"])
        elif not h["renamed"]:
            op = "Wt  " if h["wrote"] else h["op"]
            self.emit(lo, hi, "access", None, h["tid"], h["client"], op, h["path"],
                      size=h["size"], user=h["user"])

    def closed(self, handle, req, ans):
        h = self.handles.pop(handle, None)
        if h:
            self.verdict_at_close(h, h["req"]["_time"], ans["_time"])

    def finish(self):
        """Lines of the handles the capture never closed, in no set order."""
        tail = []
        for h in list(self.handles.values()):
            n = len(self.lines)
            self.verdict_at_close(h, h["req"]["_time"], "[9999]")
            tail += self.lines[n:]
            del self.lines[n:]
        self.handles = {}
        return tail


def pairs(msgs, key, is_response, status_of):
    """(request, answer) in the order of the answers; interim pending answers skipped."""
    waiting, result = {}, []
    for m in msgs:
        k = key(m)
        if not is_response(m):
            waiting[k] = m
        elif status_of(m) != STATUS_PENDING and k in waiting:
            result.append((waiting.pop(k), m))
    return result


def compare(lines, expected, tail, server, with_users=True):
    """The access log's file lines against the model, in order; the tail as a set."""
    got = [l for l in lines if l[1] in ("access", "unknown", "denied")]

    def match(e, l):
        return (e["lo"] <= l[0] <= e["hi"] and l[1] == e["action"] and l[2] == e["tid"] and
                l[4] == e["client"] and l[5] == server and l[12] == e["path"] and
                (e["cmd"] is None or l[8] == e["cmd"]) and (e["op"] is None or l[11] == e["op"])
                and (e["size"] is None or l[10] == str(e["size"])) and
                (e["info"] is None or l[9] == e["info"]) and
                (not with_users or e["user"] is None or l[3] == e["user"]))

    def show(e):
        return None if e is None else "%s..%s %s %s tid=%s %s op=%r %s size=%s info=%s" % (
            e["lo"], e["hi"], e["action"], e["cmd"], e["tid"], e["user"], e["op"], e["path"],
            e["size"], e["info"])
    bad = len(got) != len(expected) + len(tail)
    for i in range(max(len(got), len(expected))):
        if i >= len(expected):
            break
        g = got[i] if i < len(got) else None
        if g is None or not match(expected[i], g):
            bad = True
            print("line %d\n  expected %s\n  got      %s" % (i, show(expected[i]),
                                                           g and ",".join(g)))
    rest, left = got[len(expected):], list(tail)
    for g in rest:
        hit = next((e for e in left if match(e, g)), None)
        if hit is None:
            bad = True
            print("unexpected line: " + ",".join(g))
        else:
            left.remove(hit)
    for e in left:
        bad = True
        print("missing at the end: " + show(e))
    if bad:
        fail("%d file lines, %d expected" % (len(got), len(expected) + len(tail)))
    return len(got)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("quorvix")
    ap.add_argument("capture")
    ap.add_argument("smb_conf")
    ap.add_argument("--sessions")
    ap.add_argument("--with-files", action="store_true")
    args = ap.parse_args()
    args.quorvix = os.path.abspath(args.quorvix)
    args.capture = os.path.abspath(args.capture)
    if args.sessions:
        args.sessions = os.path.abspath(args.sessions)

    rows = messages(args.capture, "smb2")
    if not rows:
        return check_smb1(args)
    for r in rows:
        r["cmd"] = int(one(r, "smb2.cmd"))
        r["response"] = one(r, "smb2.flags.response") in ("1", "True")
        r["status"] = int(one(r, "smb2.nt_status", "0"), 16)
    server = next(r["_dst"] for r in rows if not r["response"])
    rows = monitored(rows, server)

    creates = [r for r in rows if r["cmd"] == 5 and not r["response"]]
    share_dir, lines = prepare(args, [one(r, "smb2.filename") for r in creates])

    def local(name):
        return os.path.join(share_dir, name.replace("\\", "/").lstrip("/"))

    # ---- tree connections ----
    def count(action):
        return sum(1 for l in lines if l[1] == action)
    connects = [r for r in rows if r["cmd"] == 3]
    want_login = sum(1 for r in connects if r["_dst"] == server)
    want_connect = sum(1 for r in connects if r["_src"] == server)
    want_disc = sum(1 for r in rows if r["cmd"] == 4 and r["_dst"] == server)
    for action, want in (("login", want_login), ("connect", want_connect),
                         ("disconnect", want_disc)):
        if count(action) != want:
            fail("%d %s lines, tshark shows %d" % (count(action), action, want))

    # ---- file access, each request judged by its answer ----
    users = {l[3] for l in lines if l[1] in ("connect", "access")}
    preconnected = want_login == 0
    model = Model(server, None, local)
    tail = []
    if preconnected and not args.with_files:
        # No tree is known: each CREATE gives an "unknown" line, repeats judged without the
        # operation.
        for r in creates:
            name = one(r, "smb2.filename")
            if name_filtered(name, one(r, "smb2.tree")):
                continue
            model.emit(r["_time"], r["_time"], "unknown", None, tid_text(one(r, "smb2.tid")),
                       r["_src"], None, name, key_op=False)
    else:
        last_fid = {}  # per connection: the handle a related compound element names

        def handle(req):
            fid = one(req, "smb2.fid")
            if fid == RELATED_FID:
                fid = last_fid.get(req["_conn"], fid)
            return (req["_conn"], fid)

        smb2_pairs = pairs(rows, lambda m: (m["_conn"], one(m, "smb2.msg_id")),
                           lambda m: m["response"], lambda m: m["status"])
        for req, ans in smb2_pairs:
            c, tid, tree = req["cmd"], tid_text(one(req, "smb2.tid", "0")), one(req, "smb2.tree")
            if c == 5:
                name = one(req, "smb2.filename")
                if ans["status"] == 0:
                    last_fid[req["_conn"]] = one(ans, "smb2.fid")
                if name_filtered(name, tree):
                    continue
                if ans["status"] != 0:
                    model.failed(req, ans["status"], "SMB2_CREATE", tid, local(name), None, ans)
                    continue
                folder = one(ans, "smb2.file_attribute.directory") in ("1", "True")
                model.opened(req, ans, (req["_conn"], one(ans, "smb2.fid")), "SMB2_CREATE", tid,
                             local(name), int(one(req, "smb.access_mask", "0"), 16),
                             int(one(req, "smb.create_options", "0"), 16),
                             int(one(ans, "smb2.create.action")),
                             0 if folder else int(one(ans, "smb2.eof", "0")), None)
            elif ans["status"] != 0:
                continue
            elif c == 9:
                model.wrote(handle(req), req, ans)
            elif c == 17 and int(one(req, "smb2.class", "0"), 16) == 1:
                level = int(one(req, "smb2.file_info.infolevel", "0"), 16)
                h = model.handles.get(handle(req))
                if level == 20:
                    model.wrote(handle(req), req, ans)
                elif h and level == 13:
                    h["pending"] = one(req, "smb2.disposition.delete_on_close") in ("1", "True")
                elif h and level == 64:
                    fail("FileDispositionInformationEx in the capture: add its flags here")
                elif h and level == 10:
                    h["renamed"] = True
                    model.emit(req["_time"], ans["_time"], "access", "SMB2_SET_INFO", h["tid"],
                               h["client"], "ReNm",
                               h["path"] + " >> " + local(one(req, "smb2.filename")),
                               always=True)
            elif c == 6:
                model.closed(handle(req), req, ans)
        tail = model.finish()
    file_lines = lines
    if preconnected and not args.with_files:
        # Only the opens are judged on an unknown tree; what its other requests log is not.
        file_lines = [l for l in lines if l[1] != "unknown" or l[8] == "SMB2_CREATE"]
    checked = compare(file_lines, model.lines, tail, server)

    # Pipes are no files: no access or unknown line, of any command, on a tree of IPC$.
    ipc_tids = {tid_text(one(r, "smb2.tid")) for r in rows
                if one(r, "smb2.tree").upper().endswith("\\IPC$") and one(r, "smb2.tid")}
    on_ipc = [l for l in lines if l[1] in ("access", "unknown", "denied") and l[2] in ipc_tids]
    if on_ipc:
        fail("file lines on IPC$: " + " | ".join(",".join(l) for l in on_ipc))

    # Users: the session's user on every known-tree line.
    want_user = None
    if args.sessions:
        data = json.load(open(args.sessions))
        want_user = next(iter(data.get("sessions", {}).values()))["username"]
    else:
        want_user = "qvxuser"
    access_users = {l[3] for l in lines if l[1] in ("connect", "access", "disconnect")}
    if access_users and access_users != {want_user}:
        fail("users %s, the session table says %s" % (sorted(access_users), want_user))
    print("replay access: %d lines checked (%d file lines), users %s" %
          (len(lines), checked, sorted(users)))


def prepare(args, names):
    """The share folder, the configuration and the run; the access log's lines."""
    work = tempfile.mkdtemp(prefix="qvx-replay-")
    share_dir = os.path.join(work, "share")
    os.makedirs(share_dir)
    conf = open(args.smb_conf, encoding="utf-8").read()
    conf = re.sub(r"(?m)^(\s*path\s*=).*$", lambda m: m.group(1) + " " + share_dir, conf)
    conf_path = os.path.join(work, "smb.conf")
    open(conf_path, "w", encoding="utf-8").write(conf)
    if args.with_files:
        for name in names:
            name = name.replace("\\", "/").strip("/")
            if not name:
                continue
            target = os.path.join(share_dir, name)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            if "." in os.path.basename(name):
                open(target, "w").close()
            else:
                os.makedirs(target, exist_ok=True)
    home = os.path.join(work, "home")
    os.makedirs(home)
    with open(os.path.join(home, "Quorvix.ini"), "w", newline="") as ini:
        ini.write("[Option]\r\nLogFileWriteFlg=1\r\nSMBcmdListFlg=1\r\nNbtstatChgOn=0\r\n"
                  "ServiceTaskWait=0\r\n")
    cmd = [args.quorvix, "--home", home, "--replay", args.capture, "--smb-conf", conf_path]
    if args.sessions:
        cmd += ["--sessions", args.sessions]
    run = subprocess.run(cmd + ["SC"], cwd=home, capture_output=True, text=True, timeout=300)
    if run.returncode != 0:
        fail("quorvix ended with %d: %s" % (run.returncode, run.stderr[-2000:]))
    log = open(os.path.join(home, "Quorvix.log"), encoding="utf-8", errors="replace",
               newline="").read()
    if not log.startswith("[Access Time],Action,TreeID,"):
        fail("the access log has no header line")
    if any(not l.endswith("\r") for l in log.split("\n")[:-1]):
        fail("a line of the access log does not end with CR LF")
    return share_dir, [l.rstrip("\r").split(",", 12) for l in log.split("\n")[1:] if l.strip()]



def check_smb1(args):
    rows = messages(args.capture, "smb")
    if not rows:
        fail("tshark decoded neither SMB2 nor SMB1 in " + args.capture)
    for r in rows:
        r["cmd"] = int(one(r, "smb.cmd"), 16)  # the header's command, before any AndX one
        r["response"] = one(r, "smb.flags.response") in ("1", "True")
        r["status"] = int(one(r, "smb.nt_status", "0"), 16)
    server = next(r["_dst"] for r in rows if not r["response"])
    rows = monitored(rows, server)
    requests = [r for r in rows if not r["response"]]
    smb1_pairs = pairs(rows, lambda m: (m["_conn"], one(m, "smb.mid"), one(m, "smb.pid")),
                       lambda m: m["response"], lambda m: m["status"])
    share_names = [one(r, "smb.file") for r in requests if r["cmd"] == 0xA2]
    # With the files made, the objects of refused path queries exist here too: the server's
    # refusal, not this folder, must decide that they give no line.
    share_names += [one(q, "smb.file") for q, a in smb1_pairs if q["cmd"] == 0x32 and
                    int(one(q, "smb.trans2.cmd", "0"), 16) in (5, 6) and a["status"] != 0]
    share_dir, lines = prepare(args, share_names)

    def local(name):
        return os.path.join(share_dir, name.replace("\\", "/").lstrip("/"))

    def count(action):
        return sum(1 for l in lines if l[1] == action)

    # Log-ons: an AUTHENTICATE request that a tree-connect answer to its client and PID follows.
    auths = [r for r in requests if r["cmd"] == 0x73 and one(r, "ntlmssp.auth.username")]
    answers = [r for r in rows if r["cmd"] == 0x75 and r["response"]]
    sessions = sum(1 for a in auths if any(
        t["_frame"] > a["_frame"] and t["_dst"] == a["_src"] and
        one(t, "smb.pid") == one(a, "smb.pid") for t in answers))
    want = {"session": sessions, "login": sum(1 for r in requests if r["cmd"] == 0x75),
            "connect": len(answers),
            "disconnect": sum(1 for r in requests if r["cmd"] == 0x71)}
    for action, n in want.items():
        if count(action) != n:
            fail("%d %s lines, tshark shows %d" % (count(action), action, n))
    user = one(auths[0], "ntlmssp.auth.username").upper() if auths else None
    if args.sessions and not user:
        data = json.load(open(args.sessions))
        user = next(iter(data.get("sessions", {}).values()))["username"]

    # Accesses, each request judged by its answer.
    model = Model(server, None, local)
    for req, ans in smb1_pairs:
        c, tid, status = req["cmd"], one(req, "smb.tid"), ans["status"]
        if one(req, "smb.path").upper().endswith("\\IPC$"):
            continue  # pipes are no files
        fid = (req["_conn"], one(req, "smb.fid"))
        if c == 0xA2:
            name = one(req, "smb.file")
            if name_filtered(name, ""):
                continue
            if status != 0:
                model.failed(req, status, "SMB_COM_NT_CREATE_ANDX", tid, local(name), user, ans)
                continue
            folder = one(ans, "smb.is_directory") in ("1", "True")
            model.opened(req, ans, (req["_conn"], one(ans, "smb.fid")), "SMB_COM_NT_CREATE_ANDX",
                         tid, local(name), int(one(req, "smb.access_mask", "0"), 16),
                         int(one(req, "smb.create_options", "0"), 16),
                         int(one(ans, "smb.create.action")),
                         0 if folder else int(one(ans, "smb.end_of_file", "0")), user)
        elif c in (0x06, 0x00, 0x01, 0x07):
            cmd, op, always, path = {
                0x06: ("SMB_COM_DELETE", "Del ", True, None),
                0x00: ("SMB_COM_CREATE_DIRECTORY", "New ", False, None),
                0x01: ("SMB_COM_DELETE_DIRECTORY", "Del ", True, None),
                0x07: ("SMB_COM_RENAME", "ReNm", True, None)}[c]
            if c == 0x07:
                path = local(one(req, "smb.old_file")) + " >> " + local(one(req, "smb.file"))
            else:
                path = local(one(req, "smb.dir_name" if c in (0x00, 0x01) else "smb.file"))
            if status != 0:
                model.failed(req, status, cmd, tid, path, user, ans)
            else:
                model.emit(req["_time"], ans["_time"], "access", cmd, tid, req["_src"], op, path,
                           always=always, user=user)
        elif status != 0:
            continue
        elif c == 0x32 and int(one(req, "smb.trans2.cmd", "0"), 16) == 0x0001:
            # Listing a folder reads it; listing the share root does not.
            pattern = one(req, "smb.search_pattern")
            folder = pattern[:-2].lstrip("\\") if pattern.endswith("\\*") else ""
            if folder and not name_filtered(folder, ""):
                model.emit(req["_time"], ans["_time"], "access", None, tid, req["_src"], "Rd  ",
                           local(folder), user=user)
        elif c == 0x32 and int(one(req, "smb.trans2.cmd", "0"), 16) == 0x0008 and \
                model.handles.get(fid):
            fail("TRANS2 SET_FILE_INFORMATION in the capture: add its disposition here")
        elif c in (0x0B, 0x2F):
            model.wrote(fid, req, ans)
        elif c == 0x04:
            model.closed(fid, req, ans)
    tail = model.finish()
    for l in lines:
        if l[1] == "unknown":
            fail("unknown line although the share is known: " + ",".join(l))
    checked = compare(lines, model.lines, tail, server)
    ipc_tids = {one(r, "smb.tid") for r in rows if one(r, "smb.path").upper().endswith("\\IPC$")}
    on_ipc = [l for l in lines if l[1] in ("access", "unknown", "denied") and l[2] in ipc_tids]
    if on_ipc:
        fail("file lines on IPC$: " + " | ".join(",".join(l) for l in on_ipc))
    print("replay access (SMB1): %d lines checked (%d file lines), user %s" %
          (len(lines), checked, user))


if __name__ == "__main__":
    main()
