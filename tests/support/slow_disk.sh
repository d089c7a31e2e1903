#!/usr/bin/env bash
# Sourced by the live tests after quorvix_live.sh: a folder on a "disk" whose every flush takes
# some milliseconds (slow_flush_fs, FUSE), as a busy server's disk can. The program's access log
# and JSON Lines file go there; its home stays on the machine's disk. Unmounted at the end, after
# quorvix_live.sh's clean-up has ended the program.
#
#   slow_disk_up FS DELAY_MS   the folder in $slow
slow=
slow_raw=
slow_disk_up() {
  command -v fusermount3 >/dev/null && [ -e /dev/fuse ] ||
    { echo "SKIP: FUSE cannot be used here"; exit 77; }
  slow_raw=$(mktemp -d)
  slow=$(mktemp -d)
  # Without -f it returns once the folder is mounted, and is no job of the test's shell.
  "$1" "$slow_raw" "$slow" "$2" || { echo "SKIP: the slow disk cannot be mounted"; exit 77; }
  trap slow_disk_cleanup EXIT
}
slow_disk_cleanup() {
  qvx_cleanup || true
  fusermount3 -u "$slow" 2>/dev/null || true
  rmdir "$slow" 2>/dev/null || true
  rm -rf "$slow_raw"
}
