#!/usr/bin/env python3
"""Replays a recorded SMB2 or SMB1 capture through quorvix and checks its access log against tshark.

    replay_access.py QUORVIX CAPTURE SMB_CONF [--sessions JSON] [--with-files]

The share of SMB_CONF is pointed at a fresh folder, so the server's files are absent at replay
time (with --with-files the folders and files the capture names are made there first). Expected
lines come from tshark's decode of the same file and the logging rules:

  * a TREE_CONNECT request toward the server gives one "login" line, its response one "connect"
    line, a TREE_DISCONNECT request one "disconnect" line;
  * a CREATE request (the first SMB2 message of its frame, as the capture loop reads frames) on a
    tree other than IPC$ (tshark's smb2.tree) with a non-empty name free of ":", "*" and "PIPE"
    that is no pipe name (with or without its backslash, in any case) gives an "access" line: path = the share's folder
    joined with the name, operation from DesiredAccess (write data "Wt", else read data "Rd", delete
    alone "Del", nothing of these: the time-stamp verdict, "Del" for an absent file), user = the
    session's user, size 0 for an absent file; a line equal in tree, operation, addresses and path
    to one of the last 50 is a repeat and is not written;
  * on a tree whose connect was not captured and whose path exists under no share, the CREATE gives
    an "unknown" line instead (repeats judged without the operation).

An SMB1 capture is checked the same way (tree paths from tshark's smb.path) with its commands:
TREE_CONNECT_ANDX, TREE_DISCONNECT and NT_CREATE_ANDX; besides, each log-on whose NTLMSSP
AUTHENTICATE a tree-connect answer follows gives one "session" line, the users of its accesses are
that NTLMSSP user in capitals, a RENAME gives a "ReNm" line with both local paths and a
DELETE_DIRECTORY a "Del" line, each time they are seen. tshark's SMB1 text fields replace what is
not ASCII, so SMB1 names are decoded from the bytes tshark gives for each field.
"""
import argparse
import datetime
import os
import re
import subprocess
import sys
import tempfile

PIPE_NAMES = {"spoolss", "browser", "wkssvc", "srvsvc", "winreg", "", "d ", "lsarpc", "samr",
              "mdssvc", "netlogon"}


def tid_text(hex_tid):
    """A TreeId as the lines print it: "%d" of the 32-bit value."""
    v = int(hex_tid, 16) & 0xFFFFFFFF
    return str(v - (1 << 32) if v >= 1 << 31 else v)


def is_pipe(name, tree):
    return tree.upper().endswith("\\IPC$") or name.lstrip("\\").lower() in PIPE_NAMES


def fail(msg):
    print("FAIL: " + msg)
    sys.exit(1)


def tshark_rows(capture):
    fields = ["frame.number", "frame.time_epoch", "ip.src", "ip.dst", "smb2.cmd",
              "smb2.flags.response", "smb2.tid", "smb2.tree", "smb2.filename", "smb.access_mask"]
    cmd = ["tshark", "-r", capture, "-o", "tcp.desegment_tcp_streams:FALSE", "-Y", "smb2",
           "-T", "fields", "-E", "occurrence=f", "-E", "separator=\t"]
    for f in fields:
        cmd += ["-e", f]
    out = subprocess.run(cmd, capture_output=True, text=True).stdout
    rows = []
    for line in out.splitlines():
        parts = line.split("\t")
        parts += [""] * (len(fields) - len(parts))
        rows.append(dict(zip(fields, parts)))
    return rows


SMB1_FIELDS = ("frame.number", "frame.time_epoch", "ip.src", "ip.dst", "smb.cmd",
               "smb.flags.response", "smb.tid", "smb.pid", "smb.file", "smb.old_file",
               "smb.dir_name", "smb.access_mask", "ntlmssp.auth.username", "smb.path")
UTF16_FIELDS = ("smb.file", "smb.old_file", "smb.dir_name")


def tshark_rows_smb1(capture):
    import json
    cmd = ["tshark", "-r", capture, "-o", "tcp.desegment_tcp_streams:FALSE", "-Y", "smb",
           "-T", "json", "-x"]
    packets = json.loads(subprocess.run(cmd, capture_output=True, text=True).stdout or "[]")
    rows = []
    for p in packets:
        row = {f: "" for f in SMB1_FIELDS}

        def walk(node):
            if isinstance(node, dict):
                for k, v in node.items():
                    if k in UTF16_FIELDS and not row[k] and isinstance(v, str):
                        raw = node.get(k + "_raw")
                        if raw:
                            hexdata = raw[0] if isinstance(raw[0], str) else raw[0][0]
                            row[k] = bytes.fromhex(hexdata).decode("utf-16le").rstrip("\0")
                    elif k in row and not row[k] and isinstance(v, str):
                        row[k] = v
                    walk(v)
            elif isinstance(node, list):
                for v in node:
                    walk(v)

        walk(p["_source"]["layers"])
        row["smb.cmd"] = row["smb.cmd"].split(",")[0]
        rows.append(row)
    return rows


def stamp(epoch):
    t = datetime.datetime.fromtimestamp(int(float(epoch)))
    return t.strftime("[%Y/%m/%d %H:%M:%S]")


def verdict(mask):
    read, write, delete = mask & 0x1, mask & 0x2, mask & 0x10000
    if delete and not write and not read:
        return "Del "
    if write:
        return "Wt  "
    if read:
        return "Rd  "
    return "Del "  # the time-stamp verdict of an absent file


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

    rows = tshark_rows(args.capture)
    if not rows:
        return check_smb1(args)
    server = next(r["ip.dst"] for r in rows if r["smb2.flags.response"] in ("0", "False"))

    creates = [r for r in rows if r["smb2.cmd"] == "5" and r["ip.dst"] == server and
               r["smb2.flags.response"] in ("0", "False")]
    share_dir, lines = prepare(args, [r["smb2.filename"] for r in creates])

    # ---- tree connections ----
    def count(action):
        return sum(1 for l in lines if l[1] == action)
    connects = [r for r in rows if r["smb2.cmd"] == "3"]
    want_login = sum(1 for r in connects if r["ip.dst"] == server)
    want_connect = sum(1 for r in connects if r["ip.src"] == server)
    want_disc = sum(1 for r in rows if r["smb2.cmd"] == "4" and r["ip.dst"] == server)
    for action, want in (("login", want_login), ("connect", want_connect),
                         ("disconnect", want_disc)):
        if count(action) != want:
            fail("%d %s lines, tshark shows %d" % (count(action), action, want))

    # ---- file access by CREATE ----
    users = {l[3] for l in lines if l[1] in ("connect", "access")}
    preconnected = want_login == 0
    expected, window = [], []
    for r in creates:
        name = r["smb2.filename"]
        if not name or any(s in name for s in (":", "*", "PIPE")) or is_pipe(name, r["smb2.tree"]):
            continue
        tid = tid_text(r["smb2.tid"])
        client = r["ip.src"]
        if preconnected and not args.with_files:
            key = ("unknown", tid, client, name)
            row = [stamp(r["frame.time_epoch"]), "unknown", tid, "", client, server, name]
        else:
            path = os.path.join(share_dir, name.replace("\\", "/"))
            op = verdict(int(r["smb.access_mask"], 16))
            key = ("access", tid, op, client, path)
            row = [stamp(r["frame.time_epoch"]), "access", tid, client, server, path, op]
        if key in window[-50:]:
            continue
        window.append(key)
        expected.append(row)

    got = []
    for l in lines:
        if l[8] != "SMB2_CREATE" or l[1] not in ("access", "unknown"):
            continue
        if l[1] == "unknown":
            got.append([l[0], l[1], l[2], l[3], l[4], l[5], l[12]])
        else:
            got.append([l[0], l[1], l[2], l[4], l[5], l[12], l[11]])
            if not args.with_files and l[10] != "0":
                fail("size of an absent file: " + ",".join(l))
    if args.with_files:
        # The verdicts then come from the files' own time stamps: check the paths and that every
        # tree was found by its path.
        want_paths = {os.path.join(share_dir, r["smb2.filename"].replace("\\", "/"))
                      for r in creates if r["smb2.filename"] and
                      not any(s in r["smb2.filename"] for s in (":", "*", "PIPE")) and
                      not is_pipe(r["smb2.filename"], r["smb2.tree"])}
        got_paths = {g[5] for g in got if g[1] == "access"}
        if any(g[1] != "access" for g in got):
            fail("unknown lines although every path exists under the one share")
        if got_paths != want_paths:
            fail("paths %s, expected %s" % (sorted(got_paths ^ want_paths), "symmetric difference"))
    elif got != expected:
        for i in range(max(len(got), len(expected))):
            g = got[i] if i < len(got) else None
            e = expected[i] if i < len(expected) else None
            if g != e:
                print("line %d\n  expected %s\n  got      %s" % (i, e, g))
        fail("%d CREATE lines, %d expected" % (len(got), len(expected)))

    # Pipes are no files: no access or unknown line, of any command, on a tree of IPC$.
    ipc_tids = {tid_text(r["smb2.tid"]) for r in rows
                if r["smb2.tree"].upper().endswith("\\IPC$") and r["smb2.tid"]}
    on_ipc = [l for l in lines if l[1] in ("access", "unknown") and l[2] in ipc_tids]
    if on_ipc:
        fail("file lines on IPC$: " + " | ".join(",".join(l) for l in on_ipc))

    # Users: the session's user on every known-tree line.
    want_user = None
    if args.sessions:
        import json
        data = json.load(open(args.sessions))
        want_user = next(iter(data.get("sessions", {}).values()))["username"]
    else:
        want_user = "qvxuser"
    access_users = {l[3] for l in lines if l[1] in ("connect", "access", "disconnect")}
    if access_users and access_users != {want_user}:
        fail("users %s, the session table says %s" % (sorted(access_users), want_user))
    print("replay access: %d lines checked (%d CREATE), users %s" %
          (len(lines), len(expected), sorted(users)))


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
    rows = [r for r in tshark_rows_smb1(args.capture) if r["smb.cmd"]]
    if not rows:
        fail("tshark decoded neither SMB2 nor SMB1 in " + args.capture)
    requests = [r for r in rows if r["smb.flags.response"] in ("0", "False")]
    server = requests[0]["ip.dst"]
    share_names = [r["smb.file"] for r in requests if r["smb.cmd"] == "0xa2"]
    share_dir, lines = prepare(args, share_names)

    def local(name):
        return os.path.join(share_dir, name.replace("\\", "/").lstrip("/"))

    def count(action):
        return sum(1 for l in lines if l[1] == action)

    # Log-ons: an AUTHENTICATE request that a tree-connect answer to its client and PID follows.
    auths = [r for r in requests if r["smb.cmd"] == "0x73" and r["ntlmssp.auth.username"]]
    answers = [r for r in rows if r["smb.cmd"] == "0x75" and r not in requests]
    sessions = sum(1 for a in auths if any(
        int(t["frame.number"]) > int(a["frame.number"]) and t["ip.dst"] == a["ip.src"] and
        t["smb.pid"] == a["smb.pid"] for t in answers))
    want = {"session": sessions, "login": sum(1 for r in requests if r["smb.cmd"] == "0x75"),
            "connect": len(answers),
            "disconnect": sum(1 for r in requests if r["smb.cmd"] == "0x71")}
    for action, n in want.items():
        if count(action) != n:
            fail("%d %s lines, tshark shows %d" % (count(action), action, n))
    user = auths[0]["ntlmssp.auth.username"].upper() if auths else None
    if args.sessions and not user:
        import json
        data = json.load(open(args.sessions))
        user = next(iter(data.get("sessions", {}).values()))["username"]

    # Accesses: NT creates through the name filters and the repeat rule; every rename and removed
    # folder.
    expected, window = [], []
    for r in requests:
        tid, client, when = r["smb.tid"], r["ip.src"], stamp(r["frame.time_epoch"])
        if r["smb.path"].upper().endswith("\\IPC$"):
            continue  # pipes are no files
        if r["smb.cmd"] == "0xa2":
            name = r["smb.file"]
            if not name or any(s in name for s in (":", "*", "PIPE")) or is_pipe(name, ""):
                continue
            op = verdict(int(r["smb.access_mask"], 16))
            if args.with_files:
                op = None  # judged by the files' own time stamps
            key = (tid, op, client, local(name))
            if key in window[-50:]:
                continue
            window.append(key)
            expected.append([when, "SMB_COM_NT_CREATE_ANDX", tid, user, client, server, op,
                             local(name)])
        elif r["smb.cmd"] == "0x07":
            path = local(r["smb.old_file"]) + " >> " + local(r["smb.file"])
            window.append((tid, "ReNm", client, path))
            expected.append([when, "SMB_COM_RENAME", tid, user, client, server, "ReNm", path])
        elif r["smb.cmd"] == "0x01":
            path = local(r["smb.dir_name"])
            window.append((tid, "Del ", client, path))
            expected.append([when, "SMB_COM_DELETE_DIRECTORY", tid, user, client, server, "Del ",
                             path])
    got = []
    for l in lines:
        if l[1] == "unknown" and l[8] in ("SMB_COM_NT_CREATE_ANDX", "SMB_COM_RENAME",
                                          "SMB_COM_DELETE_DIRECTORY"):
            fail("unknown line although the share is known: " + ",".join(l))
        if l[1] != "access" or l[8] not in ("SMB_COM_NT_CREATE_ANDX", "SMB_COM_RENAME",
                                            "SMB_COM_DELETE_DIRECTORY"):
            continue
        got.append([l[0], l[8], l[2], l[3], l[4], l[5], None if args.with_files and
                    l[8] == "SMB_COM_NT_CREATE_ANDX" else l[11], l[12]])
    if got != expected:
        for i in range(max(len(got), len(expected))):
            g = got[i] if i < len(got) else None
            e = expected[i] if i < len(expected) else None
            if g != e:
                print("line %d\n  expected %s\n  got      %s" % (i, e, g))
        fail("%d SMB1 access lines, %d expected" % (len(got), len(expected)))
    ipc_tids = {r["smb.tid"] for r in rows if r["smb.path"].upper().endswith("\\IPC$")}
    on_ipc = [l for l in lines if l[1] in ("access", "unknown") and l[2] in ipc_tids]
    if on_ipc:
        fail("file lines on IPC$: " + " | ".join(",".join(l) for l in on_ipc))
    print("replay access (SMB1): %d lines checked (%d accesses), user %s" %
          (len(lines), len(expected), user))


if __name__ == "__main__":
    main()
