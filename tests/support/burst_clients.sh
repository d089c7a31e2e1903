#!/usr/bin/env bash
# Sourced by the live burst tests after smbd_netns.sh and quorvix_live.sh: CLIENTS smbclient
# processes, each getting FILES distinct files of its own folder of the share as fast as it can.
#
#   burst_files CLIENTS FILES   the files, in $share/cN/fNNNN.txt
#   burst_start                 starts the clients (pids in $burst_pids), each fetching into
#                               $home/gotN
#   burst_wait                  waits for them; fails unless each got every one of its files
share=
burst_clients=0
burst_count=0
burst_pids=()
burst_files() {
  burst_clients=$1
  burst_count=$2
  share=$QVX_SMB_DIR/share/docs
  local c f
  for c in $(seq "$burst_clients"); do
    mkdir -p "$share/c$c"
    for f in $(seq -w "$burst_count"); do
      printf 'file %s of client %s\n' "$f" "$c" >"$share/c$c/f$f.txt"
    done
  done
  chmod -R a+rwX "$share"
}
burst_start() {
  local c f cmds
  burst_pids=()
  for c in $(seq "$burst_clients"); do
    mkdir -p "$home/got$c"
    cmds="cd c$c; lcd $home/got$c"
    for f in $(seq -w "$burst_count"); do cmds+="; get f$f.txt"; done
    smb_client "//$SMB_SERVER_IP/docs" -U "$SMB_USER%$SMB_PASS" -c "$cmds" >"$home/client$c" 2>&1 &
    burst_pids+=($!)
  done
}
burst_wait() {
  local p c
  for p in "${burst_pids[@]}"; do
    wait "$p" || fail "smbclient failed: $(tail -n 3 "$home"/client*)"
  done
  for c in $(seq "$burst_clients"); do
    [ "$(ls "$home/got$c" | wc -l)" = "$burst_count" ] ||
      fail "client $c got $(ls "$home/got$c" | wc -l) files"
  done
}
