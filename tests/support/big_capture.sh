# Builds a long capture from the recorded test captures, for timing runs (the list, the replay
# benchmark):
#
#   source tests/support/big_capture.sh
#   big_capture OUT.pcap COPIES     # the three recordings, then the whole doubled COPIES times
#
# Each appended copy is moved later in time by the length of what it follows, so that the clock
# runs forward through the file as in a real long capture and no row repeats an earlier one.

# OUT: the three recordings one after the other.
big_capture_start() {
  local data
  data=$(cd "$(dirname "${BASH_SOURCE[0]}")/../data" && pwd)
  mergecap -a -F pcap -w "$1" "$data/smb2_ops.pcap" "$data/smb1_ops.pcap" \
    "$data/smb2_preconnected.pcap"
}

# OUT followed by a copy of itself moved later by its own length (seconds, rounded up, plus one).
big_capture_double() {
  local out=$1 span
  span=$(capinfos -M -a -e -S "$out" 2>/dev/null |
    awk -F: '/First packet time/ {f = $2} /Last packet time/ {l = $2} END {printf "%d", l - f + 2}')
  editcap -t "$span" "$out" "$out.later"
  mergecap -a -F pcap -w "$out.next" "$out" "$out.later"
  mv "$out.next" "$out"
  rm -f "$out.later"
}

big_capture() {
  local out=$1 copies=$2 i
  big_capture_start "$out"
  for ((i = 0; i < copies; i++)); do big_capture_double "$out"; done
}
