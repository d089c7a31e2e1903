#!/usr/bin/env bash
# Sourced by the live tests after smbd_netns.sh and quorvix_live.sh: tcpdump records the server's
# side of the veth (TCP port 445), the ground truth a test judges the access log by. The
# clean-up of quorvix_live.sh ends it with the test's other jobs.
#
#   truth_start PCAP   returns once tcpdump listens
#   truth_stop         once tcpdump has read what it was given, ends it; fails (the ground truth
#                      incomplete) when it lost a frame
truth_pid=
truth_pcap=
truth_start() {
  truth_pcap=$1
  # A large buffer: tcpdump shares two cores with the burst, smbd and quorvix. Each frame is
  # handed over and written as it comes, so that the file stops growing only once every frame
  # was read: none is left in a part-filled block of the ring when tcpdump is ended.
  ip netns exec "$SMB_NS_S" tcpdump -i "$SMB_SERVER_DEV" --immediate-mode -U -B 262144 -s 0 \
    -w "$truth_pcap" 'tcp port 445' 2>"$truth_pcap.err" &
  truth_pid=$!
  for _ in $(seq 50); do grep -qs "listening on" "$truth_pcap.err" && break; sleep 0.1; done
  grep -qs "listening on" "$truth_pcap.err" || fail "tcpdump did not start: $(cat "$truth_pcap.err")"
}
truth_stop() {
  # What is still in its buffer when it is ended is neither written nor counted as dropped.
  local size last=-1
  while size=$(stat -c %s "$truth_pcap"); [ "$size" != "$last" ]; do
    last=$size
    sleep 1
  done
  kill -TERM "$truth_pid"  # a background job of a script ignores SIGINT
  wait "$truth_pid" || true
  truth_pid=
  local captured received
  captured=$(sed -n 's/^\([0-9]*\) packets\{0,1\} captured$/\1/p' "$truth_pcap.err")
  received=$(sed -n 's/^\([0-9]*\) packets\{0,1\} received by filter$/\1/p' "$truth_pcap.err")
  if ! grep -q "^0 packets dropped by kernel" "$truth_pcap.err" || [ "$captured" != "$received" ]; then
    fail "tcpdump lost frames, the ground truth is incomplete: $(cat "$truth_pcap.err")"
  fi
}
