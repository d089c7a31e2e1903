#!/usr/bin/env bash
# quorvix --replay on a recorded capture at ErrorLevel 6: the handler calls in the kernel log,
# counted per handler, must equal what tshark decodes from the same file (every SMB message of each
# TCP stream), by SMB version, direction and command.
#
#   replay_dispatch.sh QUORVIX CAPTURE [truncate-bytes]
#
# With truncate-bytes the capture is first cut to that many bytes: the run must report the damage,
# end normally and still handle every frame before it.
set -euo pipefail
bin=$1
capture=$2
cut=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  exit 1
}

if [ -n "$cut" ]; then
  head -c "$cut" "$capture" >"$work/cut.pcap"
  capture=$work/cut.pcap
fi

# tshark ends with status 2 on a cut file, after decoding what is there.
server=$({ tshark -r "$capture" -Y 'tcp.dstport == 445' -T fields -e ip.dst 2>/dev/null || true; } |
  head -n 1)
[ -n "$server" ] || fail "no TCP 445 traffic in $capture"

# ---- expected, from tshark ----
# tshark follows each TCP stream (reassembly on), so every SMB message counts: several in a frame,
# one split over segments, each element of an SMB2 compound. --no-duplicate-keys turns repeated
# protocol layers of a frame into lists instead of JSON keys that would hide each other.
{ tshark -r "$capture" -o tcp.desegment_tcp_streams:TRUE -o nbss.desegment_nbss_commands:TRUE \
  -Y 'smb || smb2' -T json --no-duplicate-keys 2>/dev/null || true; } >"$work/decode.json"
python3 - "$work/decode.json" "$server" >"$work/expected" <<'PY'
import collections
import json
import sys

server = sys.argv[2]
# Names tshark copies from the wire need not be UTF-8; only commands and numbers are read here.
packets = json.loads(open(sys.argv[1], "rb").read().decode("utf-8", "replace") or "[]")
n = collections.Counter()


def each(v):
    return v if isinstance(v, list) else [v]


def first(node, key):
    """The first value of key anywhere under node."""
    if isinstance(node, dict):
        for k, v in node.items():
            if k == key:
                return each(v)[0]
            r = first(v, key)
            if r is not None:
                return r
    elif isinstance(node, list):
        for v in node:
            r = first(v, key)
            if r is not None:
                return r
    return None


def smb1_known(c):
    # Codes of the SMB1 table; READ_ANDX (0x2E) and WRITE_ANDX (0x2F) are out of it by default.
    return (c <= 20 or 26 <= c <= 30 or c == 32 or 34 <= c <= 45 or 49 <= c <= 53 or
            112 <= c <= 117 or 128 <= c <= 131 or c in (160, 161, 162, 164, 165) or
            192 <= c <= 195 or c == 254)


SMB1_TOWARD = {0x75: "QVX_SmbTreeConnectAndx", 0xA2: "QVX_SmbNtCreateAndx",
               0x07: "QVX_SmbComRename", 0x01: "QVX_ComDeleteDirectory",
               0x00: "QVX_SmbCreateDirectory", 0x06: "QVX_SmbComDelete",
               0x71: "QVX_SmbTreeDisConnectReq", 0x73: "QVX_SmbSessionSetupAndx",
               0x02: "QVX_SmbOpen", 0x03: "QVX_SmbOpen", 0x0E: "QVX_SmbOpen", 0x0F: "QVX_SmbOpen",
               0x2D: "QVX_SmbOpen", 0x09: "QVX_SmbSetInfo", 0x29: "QVX_SmbNtRename",
               0x2A: "QVX_SmbNtRename", 0xA5: "QVX_SmbNtRename"}
# TRANSACTION2 subcommands with handlers of their own: OPEN2, SET_PATH_INFORMATION,
# CREATE_DIRECTORY (SET_FILE_INFORMATION acts on a handle: below).
TRANS2_TOWARD = {0x00: "QVX_SmbOpen", 0x06: "QVX_SmbSetInfo", 0x0D: "QVX_SmbCreateDirectory"}
SMB2_TOWARD = {5: "QVX_Smb2FileStandardInfo", 3: "QVX_Smb2TreeConnectAndx",
               4: "QVX_Smb2TreeDisConnectReq", 6: "QVX_Smb2Close", 9: "QVX_Smb2Write",
               11: "QVX_Smb2Ioctl"}
# SET_INFO file classes that change the file: basic information, rename, hard link,
# disposition, allocation, end of file, disposition ex; and every security descriptor set.
SETINFO_CLASSES = {4, 10, 11, 13, 19, 20, 64}

for p in packets:
    layers = p["_source"]["layers"]
    tcp = each(layers.get("tcp", {}))[0]
    if not {tcp.get("tcp.srcport"), tcp.get("tcp.dstport")} & {"445", "139"}:
        continue
    toward = each(layers["ip"])[0]["ip.dst"] == server
    for msg in each(layers.get("smb", [])):
        # One SMB1 message per layer; an AndX chain is part of its message.
        c = int(msg["SMB Header"]["smb.cmd"], 16)
        if toward:
            sub = first(msg, "smb.trans2.cmd") if c == 0x32 else first(msg, "smb.nt.function")
            sub = int(sub, 0) if sub is not None and c in (0x32, 0xA0) else None
            if c == 0x04:
                n["QVX_SmbClose"] += 1
            elif c in (0x0B, 0x2F):
                n["QVX_SmbWrite"] += 1
            elif c in (0x0A, 0x2E):
                n["QVX_SmbRead"] += 1
            elif c == 0x2C:
                n["QVX_SmbWriteAndClose"] += 1
            elif c == 0x22 or (c == 0x32 and sub == 0x08):
                n["QVX_SmbSetInfo"] += 1
            elif c == 0xA0:
                # NT_TRANSACT: SET_SECURITY_DESC on a handle, CREATE; the rest names no file.
                if sub == 3 or sub == 1:
                    n["QVX_SmbNtTransact"] += 1
            elif c == 0x72:
                pass  # a negotiation names no file and goes to no handler
            elif c == 0x32 and smb1_known(c):
                n[TRANS2_TOWARD.get(sub, "QVX_SmbOtherCmd")] += 1
            elif smb1_known(c):
                n[SMB1_TOWARD.get(c, "QVX_SmbOtherCmd")] += 1
        elif c == 0x75:
            n["QVX_SmbTreeConnectAndxRecv"] += 1
            n["QVX_SmbSessionSetupAndxRecv"] += 1
    for msg in each(layers.get("smb2", [])):
        # Each compound element is a layer of its own.
        head = msg.get("SMB2 Header")
        if head is None:
            continue  # a transform (encrypted) or compressed frame: nothing readable
        c = int(each(head)[0]["smb2.cmd"])
        if not toward:
            if c == 3:
                n["QVX_Smb2TreeConnectAndxRecv"] += 1
            continue
        # A negotiation or log-on names no file; READ, out of the table, goes to its handler only.
        if c in (0, 1) or (c > 18 and c != 254):
            continue
        if c == 8:
            n["QVX_Smb2Read"] += 1
            continue
        if c == 17:
            cls, level = first(msg, "smb2.class"), first(msg, "smb2.file_info.infolevel")
            if cls is not None and (int(cls, 16) == 3 or int(cls, 16) == 1 and level is not None and
                                    int(level, 16) in SETINFO_CLASSES):
                n["QVX_Smb2SetInfo"] += 1
                continue
        n[SMB2_TOWARD.get(c, "QVX_Smb2OtherCmd")] += 1
for h in sorted(n):
    print(h, n[h])
PY
[ -s "$work/expected" ] || fail "tshark found no SMB frames in $capture"

# ---- actual, from the kernel log of a replay ----
mkdir "$work/home"
printf '[Option]\r\nErrorLevel=6\r\n' >"$work/home/Quorvix.ini"
"$bin" --home "$work/home" --replay "$capture" SC >"$work/out" 2>"$work/err" ||
  fail "quorvix ended with $? ($(cat "$work/err"))"
kernel=$(ls "$work"/home/QVXkernel/QVXkernel*.log)
tr -d '\r' <"$kernel" | sed -n 's/^QVX_D21-016 QVX_LogThread\[[0-9]*\]\[-\{0,1\}[0-9]*\] : Dispatch //p' |
  sort | uniq -c | awk '{print $2, $1}' | sort >"$work/actual"

if ! diff -u "$work/expected" "$work/actual"; then
  fail "handler calls differ from tshark's decode of $capture (expected -, actual +)"
fi
grep -q "capture on" "$work/err" && fail "$(cat "$work/err")"
# The server address was taken from the capture.
grep -q "QVX_I03-013 .*WPCAPオブジェクトオープン。\[$capture\]" "$kernel" || fail "file not opened"
# The run ended through the normal stop and shutdown.
grep -q "] : Thread End" "$kernel" || fail "no capture thread end"
grep -q "CloseHandle END" "$work"/home/QVXkernel/QVXevent*.log || fail "no shutdown sequence"
if [ -n "$cut" ]; then
  grep -q "is damaged or truncated" "$work/err" || fail "damage not reported: $(cat "$work/err")"
  grep -q "QVX_E21-060 QVX_Replay" "$kernel" || fail "damage not in the kernel log"
fi
echo "replay dispatch $(basename "$2")${cut:+ cut at $cut}: ok ($(awk '{s+=$2} END {print s}' "$work/actual") handler calls)"
