#!/usr/bin/env python3
"""Judges the access log of a live burst by the tcpdump capture of the same traffic.

The ground truth is every SMB2 CREATE request for a burst file (SHARE/cN/fNNNN.txt) that the
server answered with STATUS_SUCCESS, paired by tshark's decode (same TCP stream and MessageId),
with the time of its answer. The repeat check (on by default) may leave a second open of a file
unlogged, so a file is right when it has at least one access line and no more than its successful
opens. The capture must hold an answered open of each of the --expect files the clients fetched.
Every line of every file must be whole: its time stamp first and no second one, the 13
columns the header names (a path may hold commas, so at least 13), CR LF at the end.

  burst      each of the files has its lines; with --json, the JSON Lines file too, and as many
             records per file as the access log has lines
  kill       the program was killed at --kill-at (epoch seconds): the log ends with a whole
             line, and every file whose open was answered more than a second before the kill
             has its line
"""
import argparse
import json
import re
import subprocess
import sys

HEADER = (b"[Access Time],Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),"
          b"Server(MAC),SMB Cmd,SMB Info,Size,Operation,Path")
STAMP = re.compile(r"\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\]")
NAME = re.compile(r"c\d+/f\d+\.txt")
FOLDER = re.compile(r"c\d+")  # each client's "cd" opens its folder: a line of its own
STATUS_SUCCESS = 0

problems = []


def problem(text):
    problems.append(text)


def opens_in_capture(pcap):
    """{relative name: [answer epoch, ...]} of every successful CREATE of a burst file."""
    # One row per frame; a frame may carry several SMB2 messages (compounds, or several PDUs in
    # one segment), each field's values in message order, joined by "|".
    out = subprocess.run(
        ["tshark", "-r", pcap, "-Y", "smb2.cmd == 5", "-T", "fields", "-E", "separator=\t",
         "-E", "occurrence=a", "-E", "aggregator=|", "-e", "frame.time_epoch", "-e", "tcp.stream",
         "-e", "smb2.cmd", "-e", "smb2.flags.response", "-e", "smb2.msg_id", "-e", "smb2.nt_status",
         "-e", "smb2.filename"],
        check=True, capture_output=True, text=True).stdout
    asked = {}
    answers = []
    for row in out.splitlines():
        cols = row.split("\t")
        cols += [""] * (7 - len(cols))
        epoch, stream, cmds, resp, mids, statuses, names = cols
        cmds, resp, mids = cmds.split("|"), resp.split("|"), mids.split("|")
        statuses = statuses.split("|") if statuses else []
        names = names.split("|") if names else []
        for i, cmd in enumerate(cmds):
            if resp[i] in ("1", "True"):
                # Every answer carries a status; an interim STATUS_PENDING is not the answer.
                status = int(statuses[i], 16) if i < len(statuses) else -1
                if cmd == "5":
                    answers.append((stream, mids[i], status, float(epoch)))
            elif cmd == "5":
                # Requests carry no status; their names come one per CREATE, in order.
                k = sum(1 for c, r in zip(cmds[:i], resp[:i]) if c == "5" and r not in ("1", "True"))
                asked[(stream, mids[i])] = names[k].replace("\\", "/") if k < len(names) else ""
    opens = {}
    requests = 0
    for name in asked.values():
        if NAME.fullmatch(name):
            requests += 1
    for stream, mid, status, epoch in answers:
        name = asked.get((stream, mid), "")
        if status == STATUS_SUCCESS and NAME.fullmatch(name):
            opens.setdefault(name, []).append(epoch)
    return opens, requests


def read_csv(path, prefix):
    """{relative name: [operation, ...]} of the access lines of burst files; whole-line checks."""
    data = open(path, "rb").read()
    if not data.endswith(b"\n"):
        problem(f"{path}: does not end with a whole line: {data[-120:]!r}")
    lines = data.split(b"\r\n")
    tail = lines.pop()
    if tail:
        problem(f"{path}: last line not ended by CR LF: {tail[:160]!r}")
    if not lines or lines[0] != HEADER:
        problem(f"{path}: does not start with the header")
    if lines.count(HEADER) != 1:
        problem(f"{path}: {lines.count(HEADER)} header lines")
    logged = {}
    for n, raw in enumerate(lines[1:], start=2):
        text = raw.decode("utf-8", "replace")
        fields = text.split(",", 12)
        if (len(fields) < 13 or not STAMP.fullmatch(fields[0]) or STAMP.search(text, 1)
                or "\r" in text or "\n" in text):
            problem(f"{path} line {n}: not a whole line: {text[:160]!r}")
            continue
        if fields[12].startswith(prefix) and not FOLDER.fullmatch(fields[12][len(prefix):]):
            name = fields[12][len(prefix):]
            if fields[1] != "access" or not NAME.fullmatch(name):
                problem(f"{path} line {n}: not an access line of a whole name: {text[:160]!r}")
                continue
            logged.setdefault(name, []).append(fields[11])
    return logged, len(lines) - 1


def read_json(path, prefix):
    """{relative name: count} of the JSON Lines records of burst files; each record must parse."""
    data = open(path, "rb").read()
    if data and not data.endswith(b"\n"):
        problem(f"{path}: does not end with a whole line: {data[-120:]!r}")
    logged = {}
    for n, raw in enumerate(data.split(b"\n")[:-1], start=1):
        try:
            rec = json.loads(raw)
        except ValueError as e:
            problem(f"{path} line {n}: not JSON ({e}): {raw[:160]!r}")
            continue
        p = rec.get("path", "")
        if p.startswith(prefix) and not FOLDER.fullmatch(p[len(prefix):]):
            name = p[len(prefix):]
            if rec.get("action") != "access" or not NAME.fullmatch(name):
                problem(f"{path} line {n}: not an access record of a whole name: {raw[:160]!r}")
                continue
            logged[name] = logged.get(name, 0) + 1
    return logged


def judge_counts(what, logged, opens, need):
    """Each of need has at least one line; no file has more lines than its successful opens."""
    missing = [n for n in need if logged.get(n, 0) == 0]
    over = [n for n in logged if logged[n] > len(opens.get(n, []))]
    if missing:
        problem(f"{what}: {len(missing)} of {len(need)} files have no access line "
                f"(e.g. {', '.join(sorted(missing)[:5])})")
    if over:
        problem(f"{what}: {len(over)} files have more lines than the server's opens of them "
                f"(e.g. {', '.join(f'{n}: {logged[n]} for {len(opens.get(n, []))}' for n in sorted(over)[:5])})")
    return len(need) - len(missing)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("mode", choices=["burst", "kill"])
    ap.add_argument("--pcap", required=True)
    ap.add_argument("--prefix", required=True, help="the share's local path, with its last /")
    ap.add_argument("--log", required=True)
    ap.add_argument("--json")
    ap.add_argument("--expect", type=int, required=True, help="distinct files the clients fetched")
    ap.add_argument("--kill-at", type=float)
    a = ap.parse_args()

    opens, requests = opens_in_capture(a.pcap)
    answered = sum(len(v) for v in opens.values())
    print(f"capture: {requests} CREATE requests of burst files, {answered} answered with success, "
          f"{len(opens)} distinct files")
    logged, lines = read_csv(a.log, a.prefix)
    counts = {n: len(v) for n, v in logged.items()}
    in_log = sum(counts.values())
    not_rd = sorted(n for n, ops in logged.items() if any(op != "Rd  " for op in ops))
    if not_rd:
        # Every open of a get finds its file there: the server answers "opened".
        problem(f"lines of fetched files that are not Rd: {', '.join(not_rd[:5])}")

    if len(opens) != a.expect:
        problem(f"the capture holds successful opens of {len(opens)} files, the clients fetched "
                f"{a.expect}: the ground truth is incomplete")
    if a.mode == "burst":
        names = sorted(opens)
        named = judge_counts("access log", counts, opens, names)
        print(f"access log: {lines} lines, {in_log} of burst files; names {named} of {len(names)} files")
        if a.json:
            jlogged = read_json(a.json, a.prefix)
            jnamed = judge_counts("JSON Lines", jlogged, opens, names)
            print(f"JSON Lines: {sum(jlogged.values())} records of burst files; names {jnamed} of "
                  f"{len(names)} files")
            differ = [n for n in names if jlogged.get(n, 0) != counts.get(n, 0)]
            if differ:
                problem(f"{len(differ)} files have not as many JSON records as access lines "
                        f"(e.g. {', '.join(sorted(differ)[:5])})")
    else:
        due = sorted(n for n, t in opens.items() if min(t) < a.kill_at - 1.0)
        after = sum(1 for t in opens.values() if max(t) > a.kill_at)
        print(f"kill: {len(due)} files answered more than 1 s before it, {after} answered after it")
        # Without both the test could not fail: the kill must come in the middle of the burst.
        if len(due) < a.expect // 20 or after == 0:
            problem("the kill did not come in the middle of the burst")
        named = judge_counts("access log", counts, opens, due)
        print(f"access log: {lines} lines, {in_log} of burst files; names {named} of the "
              f"{len(due)} due")

    for p in problems[:20]:
        print("PROBLEM:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
