#!/usr/bin/env bash
# Runs quorvix for a few seconds in a scratch folder and shows what it wrote.
set -euo pipefail
bin=$1
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
echo "== quorvix --home $home SC (3 s)"
"$bin" --home "$home" SC &
pid=$!
sleep 3
kill -TERM "$pid"
wait "$pid" || true
for f in "$home"/QVXkernel/*.log; do
  echo "== $f"
  tr -d '\r' <"$f"
done
