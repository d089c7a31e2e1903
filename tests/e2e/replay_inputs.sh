#!/usr/bin/env bash
# quorvix --replay on inputs that are no capture to audit: a FIFO and a directory are refused at
# once, by name, with a non-zero status (a FIFO used to block for ever); a capture without any
# frame to TCP port 445 or 139 is replayed and then said to hold no SMB traffic, which a capture
# with such frames is not; a capture of a link type the program cannot read is refused, naming
# it; a capture filter that lets no SMB frame through is told.
#
#   replay_inputs.sh QUORVIX SMB_CAPTURE
set -euo pipefail
bin=$1
smb_capture=$2
. "$(dirname "$0")/../support/e2e_scratch.sh"
mkdir "$work/home"
printf '[Option]\r\nNbtstatChgOn=0\r\n' >"$work/home/Quorvix.ini"

# Runs quorvix --replay on $1 (with the home $2, or the default one) with a time limit; the
# status goes to $status.
replay() {
  status=0
  timeout 20 "$bin" --home "${2:-$work/home}" --replay "$1" SC >"$work/out.txt" 2>"$work/err.txt" ||
    status=$?
  [ "$status" != 124 ] || fail "--replay $1 still runs after 20 s"
}

mkfifo "$work/frames.fifo"
replay "$work/frames.fifo"
[ "$status" != 0 ] || fail "a FIFO replayed with status 0"
grep -qF "$work/frames.fifo: not a regular file (a FIFO)" "$work/err.txt" || fail "FIFO not named"

mkdir "$work/captures"
replay "$work/captures"
[ "$status" != 0 ] || fail "a directory replayed with status 0"
grep -qF "$work/captures: not a regular file (a directory)" "$work/err.txt" ||
  fail "directory not named"
grep -q "too short" "$work/err.txt" && fail "a directory called too short"

# One Ethernet frame carrying a UDP datagram 10.213.0.2:5353 -> 10.213.0.1:53.
python3 - "$work/udp.pcap" <<'PY'
import struct, sys
ip = struct.pack(">BBHHHBBH4s4s", 0x45, 0, 20 + 8 + 4, 1, 0, 64, 17, 0,
                 bytes([10, 213, 0, 2]), bytes([10, 213, 0, 1]))
udp = struct.pack(">HHHH", 5353, 53, 8 + 4, 0) + b"abcd"
frame = bytes(6) + bytes([2, 0, 0, 0, 0, 1]) + b"\x08\x00" + ip + udp
with open(sys.argv[1], "wb") as f:
    f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
    f.write(struct.pack("<IIII", 1796083200, 0, len(frame), len(frame)) + frame)
PY
[ "$(tshark -r "$work/udp.pcap" -Y 'tcp.port == 445' 2>/dev/null | wc -l)" = 0 ] ||
  fail "the crafted capture holds TCP 445 frames"
replay "$work/udp.pcap"
[ "$status" = 0 ] || fail "the UDP capture replayed with status $status"
grep -qF "no frame of $work/udp.pcap goes to TCP port 445 or 139" "$work/err.txt" ||
  fail "no notice of a capture without SMB traffic"

# The SMB capture relabelled as 802.11 frames in pcapng, a link type the program does not read:
# that is said, naming the link type, with a non-zero status.
editcap -F pcapng -T ieee-802-11 "$smb_capture" "$work/wlan.pcapng"
[ "$(capinfos -E "$work/wlan.pcapng" | grep -c '802.11')" = 1 ] || fail "editcap gave no 802.11 file"
replay "$work/wlan.pcapng"
[ "$status" != 0 ] || fail "an 802.11 capture replayed with status 0"
grep -qF "$work/wlan.pcapng: its " "$work/err.txt" && grep -qF "link type 105, which this program cannot read" "$work/err.txt" ||
  fail "an 802.11 capture not told: $(cat "$work/err.txt")"

# A filter that keeps every SMB frame out is told, with a non-zero status: the empty log is no
# quiet server.
mkdir "$work/udp-home"
printf '[Option]\r\nNbtstatChgOn=0\r\nFilterCode=udp\r\n' >"$work/udp-home/Quorvix.ini"
replay "$smb_capture" "$work/udp-home"
[ "$status" != 0 ] || fail "a filter that let no SMB through ended with status 0"
grep -qF "the capture filter (FilterCode=udp) let none of the SMB frames of $smb_capture through" \
  "$work/err.txt" || fail "a filter that let no SMB through not told: $(cat "$work/err.txt")"

replay "$smb_capture"
[ "$status" = 0 ] || fail "the SMB capture replayed with status $status"
grep -q "goes to TCP port 445" "$work/err.txt" && fail "an SMB capture said to hold no SMB traffic"
echo "replay inputs: ok"
