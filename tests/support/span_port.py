#!/usr/bin/env python3
"""A switch's mirror port that keeps the VLAN tags of a trunk.

    span_port.py MIRROR_TAP OUT_TAP TAGS

tc mirred copies every frame a namespace's interface sends and receives to the TAP device
MIRROR_TAP; each is written to the TAP device OUT_TAP with TAGS inserted after its MAC addresses,
so that a capture on OUT_TAP sees the conversation as a trunk port carries it. TAGS is one tag or
two, outermost first, each TPID:VID in hex:decimal ("8100:100", "88a8:10,8100:20"). Both TAP
devices must exist (ip tuntap add ... mode tap); OUT_TAP may be moved to another namespace once
this runs. Runs until killed.
"""
import fcntl
import os
import struct
import sys

TUNSETIFF = 0x400454CA
IFF_TAP = 0x0002
IFF_NO_PI = 0x1000


def attach(name):
    fd = os.open("/dev/net/tun", os.O_RDWR)
    fcntl.ioctl(fd, TUNSETIFF, struct.pack("16sH", name.encode(), IFF_TAP | IFF_NO_PI))
    return fd


def main():
    mirror, out, tags = sys.argv[1], sys.argv[2], sys.argv[3]
    header = b""
    for tag in tags.split(","):
        tpid, vid = tag.split(":")
        header += struct.pack(">HH", int(tpid, 16), int(vid) & 0x0FFF)
    src, dst = attach(mirror), attach(out)
    print("span port: %s -> %s tagged %s" % (mirror, out, tags), flush=True)
    while True:
        frame = os.read(src, 65536)
        if len(frame) < 14:
            continue
        try:
            os.write(dst, frame[:12] + header + frame[12:])
        except OSError:
            pass  # the out device is down (being moved, not up yet): the frame is not mirrored


if __name__ == "__main__":
    main()
