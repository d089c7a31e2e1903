#!/usr/bin/env bash
# quorvix --replay on a recorded capture at ErrorLevel 6: the handler calls in the kernel log,
# counted per handler, must equal what tshark decodes from the same file (each segment decoded on
# its own, as the capture loop does), by SMB version, direction and command.
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
# One line per frame that carries an SMB header at the start of its segment's payload: the
# destination address, the SMB1 command and the SMB2 command (first message of the frame).
{ tshark -r "$capture" -o tcp.desegment_tcp_streams:FALSE -Y 'smb || smb2' -T fields \
  -E occurrence=f -e ip.dst -e smb.cmd -e smb2.cmd 2>/dev/null || true; } |
  awk -F'\t' -v server="$server" '
    function add(h) { n[h]++ }
    function hex(s,   i, v) {
      v = 0
      s = tolower(s)
      sub(/^0x/, "", s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v
    }
    {
      toward = ($1 == server)
      if ($2 != "") {
        c = hex($2)
        # Codes (decimal) of the SMB1 table; READ_ANDX (0x2E) and WRITE_ANDX (0x2F) are out of service
        # by default.
        known = (c <= 20 || (c >= 26 && c <= 30) || c == 32 || (c >= 34 && c <= 45) ||
                 (c >= 49 && c <= 53) || (c >= 112 && c <= 117) || (c >= 128 && c <= 131) ||
                 c == 160 || c == 161 || c == 162 || c == 164 || c == 165 ||
                 (c >= 192 && c <= 195) || c == 254)
        if (!known) next
        if (toward) {
          h = 0
          if (c == 117) { add("QVX_SmbTreeConnectAndx"); h = 1 }
          if (c == 162) { add("QVX_SmbNtCreateAndx"); h = 1 }
          if (c == 7) { add("QVX_SmbComRename"); h = 1 }
          if (c == 1) { add("QVX_ComDeleteDirectory"); h = 1 }
          if (c == 113) { add("QVX_SmbTreeDisConnectReq"); h = 1 }
          if (c == 115) { add("QVX_SmbSessionSetupAndx"); h = 1 }
          if (!h) add("QVX_SmbOtherCmd")
        } else if (c == 117) {
          add("QVX_SmbTreeConnectAndxRecv"); add("QVX_SmbSessionSetupAndxRecv")
        }
      } else if ($3 != "") {
        c = $3 + 0
        # READ, WRITE and IOCTL are not in the SMB2 table.
        if (c == 8 || c == 9 || c == 11 || c > 18 && c != 254) next
        if (toward) {
          if (c == 5) add("QVX_Smb2FileStandardInfo")
          else if (c == 3) add("QVX_Smb2TreeConnectAndx")
          else if (c == 4) add("QVX_Smb2TreeDisConnectReq")
          else add("QVX_Smb2OtherCmd")
        } else if (c == 3) add("QVX_Smb2TreeConnectAndxRecv")
      }
    }
    END { for (h in n) print h, n[h] }' | sort >"$work/expected"
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
