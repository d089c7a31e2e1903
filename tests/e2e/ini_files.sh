#!/usr/bin/env bash
# Quorvix.ini files that used to be read as empty, or not at all: a UTF-8 byte-order mark and CR
# line ends are read (the access log they turn on appears); a file without an [Option] section is
# reported on the console and in the kernel log; a FIFO and a device are refused, not read, and
# the program still comes up (a FIFO used to hold it at start-up for ever, /dev/zero to fill the
# memory).
set -euo pipefail
bin=$1
. "$(dirname "$0")/../support/e2e_scratch.sh"
home=$work

# Runs quorvix for 3 s under a 1 GB address-space limit (none for an AddressSanitizer build, which
# reserves more); the kernel log is then $kernel.
limit=1000000
if asan_build "$bin"; then limit=unlimited; fi
# Where an ini cannot be read, AutoStart takes its default (1): as root the run gets a network
# namespace of its own with no adapter, so that it never captures on this machine's interface.
isolate=()
if [ "$(id -u)" = 0 ] && unshare -n true 2>/dev/null; then isolate=(unshare -n); fi
run() {
  rm -rf "$home/QVXkernel" "$home/Quorvix.log"
  (ulimit -v $limit && exec timeout 3 "${isolate[@]}" "$bin" --home "$home" SC) >"$home/out.txt" \
    2>"$home/err.txt" || true
  kernel=$(ls "$home"/QVXkernel/QVXkernel*.log 2>/dev/null) || fail "no kernel log"
  grep -q "QVX_I02-003" "$kernel" || fail "start-up did not get past the options"
}

for form in bom cr; do
  rm -f "$home/Quorvix.ini"
  if [ $form = bom ]; then
    printf '\xEF\xBB\xBF[Option]\r\nLogFileWriteFlg=1\r\nAutoStart=0\r\nNbtstatChgOn=0\r\n' >"$home/Quorvix.ini"
  else
    printf '[Option]\rLogFileWriteFlg=1\rAutoStart=0\rNbtstatChgOn=0\r' >"$home/Quorvix.ini"
  fi
  run
  [ -f "$home/Quorvix.log" ] || fail "$form: the access log the ini turns on is missing"
  grep -q "QVX_E02-03" "$kernel" && fail "$form: reported as unusable"
done

printf 'LogFileWriteFlg=1\r\nAutoStart=0\r\nNbtstatChgOn=0\r\n' >"$home/Quorvix.ini"
run
grep -qF "$home/Quorvix.ini has no [Option] section" "$home/err.txt" || fail "no section: console"
grep -q "QVX_E02-032" "$kernel" || fail "no section: kernel log"

rm -f "$home/Quorvix.ini"
mkfifo "$home/Quorvix.ini"
run
grep -qF "$home/Quorvix.ini is not a file that can be read" "$home/err.txt" || fail "FIFO: console"
grep -q "QVX_E02-031" "$kernel" || fail "FIFO: kernel log"

rm -f "$home/Quorvix.ini"
ln -s /dev/zero "$home/Quorvix.ini"
run
grep -q "QVX_E02-031" "$kernel" || fail "device: kernel log"
echo "ini files: ok"
