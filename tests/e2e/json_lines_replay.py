#!/usr/bin/env python3
"""Replays every recorded capture with the JSON Lines output on: every line of the JSON file must
be one JSON object (read by Python's json), and its fields must equal the access log's line of the
same event, in the same order (the time as ISO 8601 with its offset, the host name, the version).

    json_lines_replay.py QUORVIX DATA_DIR
"""
import json
import os
import socket
import subprocess
import sys
import tempfile

FIELDS = ["action", "tree", "user", "client", "server", "client_mac", "server_mac", "command",
          "info", "size", "operation"]


def access_log_lines(path):
    """The lines of an access log after its header, without line ends."""
    with open(path, "rb") as f:
        lines = f.read().decode("utf-8").split("\r\n")
    assert lines[0].startswith("[Access Time],"), path + ": no header"
    return [l for l in lines[1:] if l]


def check_event(where, ev, line, version):
    """One event's JSON against the access log's line of the same event."""
    cols = line.split(",", 12)
    when = cols[0]  # [YYYY/MM/DD HH:MM:SS]
    iso = when[1:11].replace("/", "-") + "T" + when[12:20]
    want = dict(zip(FIELDS, cols[1:12]), path=cols[12])
    got = {k: ev.get(k) for k in want}
    if got != want or not ev["time"].startswith(iso) or len(ev["time"]) != 25:
        sys.exit(f"FAIL {where}:\n  csv  {line}\n  json {ev}")
    if ev["host"] != socket.gethostname() or ev["version"] != version or \
            ev["program"] != "quorvix":
        sys.exit(f"FAIL {where}: host/program/version {ev}")


def main():
    binary, data = sys.argv[1], sys.argv[2]
    version = subprocess.run([binary, "--version"], capture_output=True, text=True,
                             check=True).stdout.split()[1]
    captures = sorted(f for f in os.listdir(data) if f.endswith((".pcap", ".pcapng")))
    assert captures, "no captures in " + data
    total = 0
    for cap in captures:
        with tempfile.TemporaryDirectory() as home:
            with open(os.path.join(home, "Quorvix.ini"), "w") as f:
                f.write("[Option]\nJsonLogFlg=1\nNbtstatChgOn=0\n")
            subprocess.run([binary, "--home", home, "--replay", os.path.join(data, cap),
                            "--smb-conf", os.path.join(data, "smb.conf"), "SC"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
            csv = access_log_lines(os.path.join(home, "Quorvix.log"))
            jsonl = os.path.join(home, "Quorvix.jsonl")
            with open(jsonl, "rb") as f:
                raw = f.read()
            lines = raw.decode("utf-8").split("\n")
            assert lines[-1] == "", cap + ": the JSON file does not end with a line end"
            events = [json.loads(l) for l in lines[:-1]]
            if len(events) != len(csv):
                sys.exit(f"FAIL {cap}: {len(events)} JSON records, {len(csv)} access-log lines")
            for n, (ev, line) in enumerate(zip(events, csv), 1):
                check_event(f"{cap} line {n}", ev, line, version)
            total += len(events)
            print(f"{cap}: {len(events)} records equal to the access log")
    assert total > 0, "no record at all"
    print("json lines replay: ok")


if __name__ == "__main__":
    main()
