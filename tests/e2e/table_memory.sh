#!/usr/bin/env bash
# quorvix whose tables do not fit in the memory it may use (a tier-2 capacity at its maximum under
# a 600 MB address-space limit): it must not run on with nothing tracked, but say so on the console
# and in the kernel log and end at once with a non-zero status. The same limit with the Normal
# tier's capacities starts as usual. A capacity past its maximum is held there, which the kernel
# log notes. Skipped for an AddressSanitizer build, whose shadow memory no such limit allows.
set -euo pipefail
bin=$1
. "$(dirname "$0")/../support/e2e_scratch.sh"
if asan_build "$bin"; then
  echo "SKIP: AddressSanitizer build"
  exit 77
fi
home=$work
limit_kb=600000

# Starts quorvix under the limit; status 124 when it was still running after 5 s.
start() {
  rm -rf "$home/QVXkernel"
  printf '[Option]\r\nAutoStart=0\r\nNbtstatChgOn=0\r\n%s' "$1" >"$home/Quorvix.ini"
  status=0
  (ulimit -v $limit_kb && exec timeout 5 "$bin" --home "$home" SC) >"$home/out.txt" \
    2>"$home/err.txt" || status=$?
}

start $'MemperformanceSelect=0\r\n'
[ "$status" = 124 ] || fail "the Normal tier did not start under the limit (status $status)"

start $'MemperformanceSelect=2\r\nAccessDataCnt=5000000\r\n'
[ "$status" != 124 ] || fail "still running without its tables"
[ "$status" != 0 ] || fail "ended with status 0 without its tables"
grep -q "could not start; the kernel log .* says why" "$home/err.txt" || fail "nothing on the console"
kernel=$(ls "$home"/QVXkernel/QVXkernel*.log) || fail "no kernel log"
grep -q "QVX_E02-009" "$kernel" || fail "no E02-009 line in the kernel log"
grep -q "AccessDataCnt=5000000 .* 1000000" "$kernel" || fail "the capacity held to its maximum is not noted"
echo "table memory: ok"
