#!/usr/bin/env python3
"""Judges the access log of a live fault test by the tcpdump capture of the same traffic.

The get requests are the SMB2 CREATE requests tshark finds for the burst's files; each has its
frame time. Their number must be what the clients issued. Then, by mode:
  sighup, logrotate: every get has exactly one access line across the files, carrying its
      request's second; each file has one header, at its start; capture started once.
  full: every get has exactly one access line or exactly one lost-line notice in the kernel log
      (never both), each with its request's second; some were lost and some were logged after
      the space came back; the console's last count is the number of lost lines named.
  rmdir: every get requested after the last removal has exactly one line in the new file; the
      kernel log and the console tell of each reopening.
In every mode every line of every file is whole: it starts with its time stamp, holds no second
one, has the 13 columns and ends with CR LF.
"""
import argparse
import re
import subprocess
import sys
import time

HEADER = (b"[Access Time],Action,TreeID,Login Name,Client(IP),Server(IP),Client(MAC),"
          b"Server(MAC),SMB Cmd,SMB Info,Size,Operation,Path")
STAMP = re.compile(r"\[\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\]")

problems = []


def problem(text):
    problems.append(text)


def stamp_of(epoch):
    return time.strftime("[%Y/%m/%d %H:%M:%S]", time.localtime(int(epoch)))


def gets_in_capture(pcap, prefix):
    """(epoch, local path) of every CREATE request for a burst file, in frame order."""
    out = subprocess.run(
        ["tshark", "-r", pcap, "-Y", "smb2.cmd == 5 && smb2.flags.response == 0", "-T", "fields",
         "-E", "separator=\t", "-e", "frame.time_epoch", "-e", "smb2.filename"],
        check=True, capture_output=True, text=True).stdout
    gets = []
    for row in out.splitlines():
        epoch, _, names = row.partition("\t")
        for name in names.split(","):
            name = name.replace("\\", "/")
            if re.fullmatch(r"burst/f\d+\.txt", name):
                gets.append((float(epoch), prefix + name[len("burst/"):]))
    return gets


def read_log(path):
    """The access lines of one file as (time field, path, line); whole-line checks on the way."""
    data = open(path, "rb").read()
    lines = data.split(b"\r\n")
    if lines[-1] != b"":
        problem(f"{path}: ends inside a line: {lines[-1][:120]!r}")
    lines = lines[:-1]
    if not lines or lines[0] != HEADER:
        problem(f"{path}: does not start with the header")
    if lines.count(HEADER) != 1:
        problem(f"{path}: {lines.count(HEADER)} header lines")
    out = []
    for n, raw in enumerate(lines[1:], start=2):
        if raw == b"":
            continue
        text = raw.decode("utf-8", "replace")
        fields = text.split(",", 12)
        if (not STAMP.fullmatch(fields[0]) or len(fields) < 13 or STAMP.search(text, 1)
                or b"\r" in raw or b"\n" in raw):
            problem(f"{path} line {n}: not a whole line: {text[:160]!r}")
            continue
        if fields[1] == "access" and fields[8] == "SMB2_CREATE":
            out.append((fields[0], fields[12], text))
    return out


def lost_in_kernel(kernel_files):
    """(time field, path) of every lost line the kernel logs name."""
    lost = []
    pattern = re.compile(r"QVX_E11-006 .*lost line: time=(\[[^]]*\]) user=.* path=(.*)$")
    for f in kernel_files:
        for line in open(f, "rb").read().decode("utf-8", "replace").split("\r\n"):
            m = pattern.search(line)
            if m:
                lost.append((m.group(1), m.group(2)))
    return lost


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--mode", required=True)
    ap.add_argument("--pcap", required=True)
    ap.add_argument("--prefix", required=True)
    ap.add_argument("--expect", type=int, required=True)
    ap.add_argument("--faults", required=True)
    ap.add_argument("--console", required=True)
    ap.add_argument("--kernel", nargs="+", required=True)
    ap.add_argument("logs", nargs="+")
    a = ap.parse_args()

    gets = gets_in_capture(a.pcap, a.prefix)
    faults = [float(x) for x in open(a.faults).read().split()]
    print(f"capture: {len(gets)} get requests; {len(faults)} faults")
    if gets and faults:
        print(f"gets from {gets[0][0]:.3f} to {gets[-1][0]:.3f}, "
              f"faults from {faults[0]:.3f} to {faults[-1]:.3f}")
    if len(gets) != a.expect:
        problem(f"the capture holds {len(gets)} get requests, the clients made {a.expect}")
    if len({p for _, p in gets}) != len(gets):
        problem("a file was got twice in the capture")
    if faults and gets and not (gets[0][0] < faults[0] and faults[-1] < gets[-1][0]):
        problem("the faults did not all fall inside the burst")

    per_file = [(f, read_log(f)) for f in a.logs]
    logged = {}
    for f, lines in per_file:
        for t, p, text in lines:
            if p.startswith(a.prefix):
                logged.setdefault(p, []).append((t, f))
    kernel = "".join(open(k, "rb").read().decode("utf-8", "replace") for k in a.kernel)
    console = open(a.console, "rb").read().decode("utf-8", "replace")

    # A frame a hair before a second's end may be stamped in the next one by the other capture.
    def second_ok(t, epoch):
        return t == stamp_of(epoch) or t == stamp_of(epoch + 0.002) or t == stamp_of(epoch - 0.002)

    if a.mode in ("sighup", "logrotate"):
        for epoch, p in gets:
            got = logged.get(p, [])
            if len(got) != 1:
                problem(f"{p}: {len(got)} access lines ({[g[1] for g in got]})")
            elif not second_ok(got[0][0], epoch):
                problem(f"{p}: line at {got[0][0]}, request at {stamp_of(epoch)} ({epoch})")
        extra = set(logged) - {p for _, p in gets}
        if extra:
            problem(f"lines for gets the capture does not hold: {sorted(extra)[:5]}")
        starts = kernel.count("QVX_I03-002")
        if starts != 1:
            problem(f"capture started {starts} times: the signals must not restart it")
        print(f"access lines: {sum(len(v) for v in logged.values())} for {len(gets)} gets "
              f"across {len(a.logs)} files")

    elif a.mode == "full":
        lost = lost_in_kernel(a.kernel)
        lost_burst = {}
        for t, p in lost:
            if p.startswith(a.prefix):
                lost_burst.setdefault(p, []).append(t)
        for epoch, p in gets:
            got, named = logged.get(p, []), lost_burst.get(p, [])
            if len(got) + len(named) != 1:
                problem(f"{p}: {len(got)} access lines and {len(named)} lost-line notices")
                continue
            t = got[0][0] if got else named[0]
            if not second_ok(t, epoch):
                problem(f"{p}: stamped {t}, request at {stamp_of(epoch)}")
        if not lost_burst:
            problem("no get was lost: the disk never filled")
        freed = faults[-1]
        if not any(e > freed + 1 and p in logged for e, p in gets):
            problem("nothing logged after the space came back")
        counts = re.findall(r"quorvix: (\d+) access-log lines lost so far", console)
        if not counts or int(counts[-1]) != len(lost):
            problem(f"the console counts {counts[-1:] or 'no'} lost lines, "
                    f"the kernel log names {len(lost)}")
        if f"{len(lost)} access-log lines lost" not in console:
            problem("the status bar never showed the count")
        print(f"logged {sum(len(v) for v in logged.values())}, lost and named "
              f"{sum(len(v) for v in lost_burst.values())} of {len(gets)} gets; "
              f"{len(lost)} lines lost in all")

    elif a.mode == "rmdir":
        final = a.logs[-1]
        removed = faults[-1]
        after = [(e, p) for e, p in gets if e > removed]
        if len(after) < 20:
            problem(f"only {len(after)} gets after the last removal")
        for epoch, p in after:
            got = [g for g in logged.get(p, []) if g[1] == final]
            if len(got) != 1:
                problem(f"{p} (requested after the removal): {len(got)} lines in the new file")
            elif not second_ok(got[0][0], epoch):
                problem(f"{p}: line at {got[0][0]}, request at {stamp_of(epoch)}")
        dup = [p for p, v in logged.items() if len(v) > 1]
        if dup:
            problem(f"lines twice in the new file: {dup[:5]}")
        notices = kernel.count("QVX_W11-008")
        if notices < 2:
            problem(f"{notices} reopen notices in the kernel log, expected one per removal")
        if console.count("was removed under the program: opened again") < 2:
            problem("the console was not told of each removal")
        if "folder made anew" not in kernel:
            problem("the kernel log does not say the folder was made again")
        print(f"{len(after)} gets after the last removal, all in the new file")

    for p in problems[:30]:
        print("problem:", p)
    if len(problems) > 30:
        print(f"... and {len(problems) - 30} more")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
