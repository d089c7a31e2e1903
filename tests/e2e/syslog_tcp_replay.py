#!/usr/bin/env python3
"""The syslog output over plain TCP (SyslogTarget=tcp:HOST:PORT), against a collector of this
test's own: a listener in a network namespace the test makes (only its loopback), which reads the
stream in small odd-sized pieces and cuts it by RFC 6587 octet counting ("LEN SP RECORD") with
its own parser. Each record must be an RFC 5424 record as documented (PRI 134 = local0.info,
version 1, the host name, APP-NAME quorvix, PROCID the program's pid, MSGID access, no
structured data) whose message is the event's JSON, equal to the access log's line of the same
event, numbered by "seq" from 1 without a gap.

Twice per capture: with the collector listening from the start, and with the collector coming
only after quorvix said it cannot be reached (the records wait and all arrive, in order).

    syslog_tcp_replay.py QUORVIX DATA_DIR
"""
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from json_lines_replay import access_log_lines, check_event  # noqa: E402

PORT = 6514
RFC5424 = re.compile(rb"<(\d{1,3})>1 (\S+) (\S+) (\S+) (\S+) (\S+) (-|\[.*?\]) (.*)\Z", re.S)


def octet_counted(stream):
    """Records of an octet-counted stream; fails on anything else (a partial last record too)."""
    records, i = [], 0
    while i < len(stream):
        sp = stream.index(b" ", i)
        digits = stream[i:sp]
        assert digits.isdigit() and not digits.startswith(b"0"), f"bad length {digits[:20]!r}"
        n = int(digits)
        record = stream[sp + 1:sp + 1 + n]
        assert len(record) == n, f"record cut short: {len(record)} of {n} bytes"
        records.append(record)
        i = sp + 1 + n
    return records


class Collector(threading.Thread):
    """Takes connections until stopped; keeps each connection's bytes."""

    def __init__(self):
        super().__init__(daemon=True)
        self.srv = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.srv.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.srv.bind(("127.0.0.1", PORT))
        self.srv.listen(4)
        self.srv.settimeout(0.2)
        self.streams = []
        self.done = False

    def run(self):
        sizes = [1, 2, 3, 5, 7, 11, 13, 4096]
        while not self.done:
            try:
                conn, _ = self.srv.accept()
            except socket.timeout:
                continue
            data, k = b"", 0
            with conn:
                while True:
                    piece = conn.recv(sizes[k % len(sizes)])
                    k += 1
                    if not piece:
                        break
                    data += piece
            self.streams.append(data)

    def stop(self):
        self.done = True
        self.join()
        self.srv.close()


def replay(binary, data, cap, home, late):
    with open(os.path.join(home, "Quorvix.ini"), "w") as f:
        f.write(f"[Option]\nNbtstatChgOn=0\nSyslogFlg=1\nSyslogTarget=tcp:127.0.0.1:{PORT}\n")
    collector = None if late else Collector()
    if collector:
        collector.start()
    p = subprocess.Popen([binary, "--home", home, "--replay", os.path.join(data, cap),
                          "--smb-conf", os.path.join(data, "smb.conf"), "SC"],
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if late:
        # The collector comes once quorvix has found it missing (its kernel log says so).
        kernel = os.path.join(home, "QVXkernel")
        while not any("QVX_E61-011" in open(os.path.join(kernel, f), errors="replace").read()
                      for f in (os.listdir(kernel) if os.path.isdir(kernel) else [])):
            if p.poll() is not None:
                sys.exit(f"FAIL {cap}: quorvix ended without finding the collector missing")
            time.sleep(0.02)
        collector = Collector()
        collector.start()
    err = p.stderr.read()
    rc = p.wait(timeout=120)
    collector.stop()
    if rc != 0:
        sys.exit(f"FAIL {cap}: quorvix ended with {rc}: {err.decode()[-500:]}")
    return p.pid, collector.streams, err.decode()


def check(binary, data, cap, late, version):
    with tempfile.TemporaryDirectory() as home:
        pid, streams, err = replay(binary, data, cap, home, late)
        csv = access_log_lines(os.path.join(home, "Quorvix.log"))
    records = [r for s in streams for r in octet_counted(s)]
    if len(records) != len(csv):
        sys.exit(f"FAIL {cap}: {len(records)} syslog records, {len(csv)} access-log lines\n{err}")
    for n, (record, line) in enumerate(zip(records, csv), 1):
        m = RFC5424.match(record)
        if not m:
            sys.exit(f"FAIL {cap} record {n}: not RFC 5424: {record[:200]!r}")
        pri, stamp, host, app, procid, msgid, sd, msg = m.groups()
        ev = json.loads(msg.decode("utf-8"))
        want = (b"134", ev["time"].encode(), socket.gethostname().encode(), b"quorvix",
                str(pid).encode(), b"access", b"-")
        if (pri, stamp, host, app, procid, msgid, sd) != want:
            sys.exit(f"FAIL {cap} record {n}: header {record[:120]!r}, want {want}")
        if ev.get("seq") != n:
            sys.exit(f"FAIL {cap} record {n}: seq {ev.get('seq')}")
        check_event(f"{cap} record {n}", ev, line, version)
    return len(records), len(streams)


def main():
    binary, data = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    if len(sys.argv) < 4:
        # Into a network namespace of our own: the listener and quorvix meet on its loopback.
        if os.geteuid() != 0:
            print("SKIP: needs root for a network namespace")
            sys.exit(77)
        ns = f"qvxsyslog-{os.getpid()}"
        if subprocess.run(["ip", "netns", "add", ns], stderr=subprocess.DEVNULL).returncode:
            print("SKIP: network namespaces cannot be made here")
            sys.exit(77)
        try:
            subprocess.run(["ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up"], check=True)
            rc = subprocess.run(["ip", "netns", "exec", ns, sys.executable,
                                 os.path.abspath(__file__), binary, data, "inside"]).returncode
        finally:
            subprocess.run(["ip", "netns", "del", ns])
        sys.exit(rc)
    version = subprocess.run([binary, "--version"], capture_output=True, text=True,
                             check=True).stdout.split()[1]
    captures = sorted(f for f in os.listdir(data) if f.endswith((".pcap", ".pcapng")))
    assert captures, "no captures in " + data
    for cap in captures:
        for late in (False, True):
            n, conns = check(binary, data, cap, late, version)
            print(f"{cap}: {n} records over {conns} connection(s)"
                  f"{', collector late' if late else ''}: framing, header and JSON as documented")
    print("syslog tcp replay: ok")


if __name__ == "__main__":
    main()
