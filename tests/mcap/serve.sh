#!/usr/bin/env bash
# `sentova serve` against the simulator replaying a recording, read by Foxglove's own client
# library (@foxglove/ws-protocol over ws, installed into this folder by tools/setup.sh); then a
# port in use, and Ctrl-C stopping what was started.
# Usage: serve.sh SENTOVA SENTOVA_SIM
# Exits 77 (skipped) when the client library is not installed.
set -euo pipefail
tool=$1 sim=$2
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v node >/dev/null || [ ! -d "$here/node_modules/@foxglove/ws-protocol" ]; then
  echo "SKIPPED: @foxglove/ws-protocol is not installed in $here (run tools/setup.sh)"
  exit 77
fi
work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null && wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

# Waits up to $2 tenths of a second for the command in $3... to succeed.
within() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do "$@" && return 0; sleep 0.1; done
  "$@"
}

net=$(( $$ / 250 % 250 + 1 )).$(( $$ % 250 + 1 ))
port=$(( 10000 + $$ % 20000 ))
recorder=127.87.$net replayer=127.88.$net

# A recording of a few frames, and its frames as MCAP.
"$sim" --address "$recorder" --model LX30 --home-time 50 --quiet --exit-with-parent 2>/dev/null &
pids+=($!)
within 50 "$tool" info "$recorder" >/dev/null 2>&1
"$tool" home "$recorder"
"$tool" record "$recorder" -o "$work/rec.pcap" --port "$port" --scan full --lines 4 --speed 10 \
  --seconds 3 --quiet
"$tool" convert "$work/rec.pcap" "$work/reference.mcap" --quiet

# The recording again and again, served.
"$sim" --address "$replayer" --replay "$work/rec.pcap" --loop --home-time 50 --quiet --exit-with-parent \
  --log "$work/sim.log" 2>/dev/null &
pids+=($!)
within 50 "$tool" info "$replayer" >/dev/null 2>&1
"$tool" home "$replayer"
"$tool" serve "$replayer" --ws-port 0 --port "$port" --model generic --scan full --lines 4 \
  --speed 10 --stats >"$work/out" 2>"$work/err" &
server=$!
pids+=($server)
within 100 grep -q . "$work/out"
first=$(head -n 1 "$work/out")
[[ $first =~ ^Serving\ (ws://127\.0\.0\.1:([0-9]+))\  ]] || { echo "first line: $first" >&2; exit 1; }
url=${BASH_REMATCH[1]} wsport=${BASH_REMATCH[2]}

node "$here/serve.mjs" "$url" "$work/reference.mcap" "$work/err"

# The port in use: one line, status 1, and the device left alone.
status=0
"$tool" serve "$replayer" --ws-port "$wsport" --port $(( port + 1 )) 2>"$work/inuse" || status=$?
[ "$status" -eq 1 ] || { echo "a port in use gave status $status" >&2; exit 1; }
[ "$(wc -l <"$work/inuse")" -eq 1 ] && grep -q "cannot listen on 127.0.0.1:$wsport" "$work/inuse" \
  || { echo "a port in use said: $(cat "$work/inuse")" >&2; exit 1; }

# An address to serve on that is none is a usage error.
status=0
"$tool" serve "$replayer" --listen nowhere --port $(( port + 1 )) 2>/dev/null || status=$?
[ "$status" -eq 2 ] || { echo "--listen nowhere gave status $status" >&2; exit 1; }

# Ctrl-C stops the stream and the scan it started, and ends with status 0.
kill -INT "$server"
status=0
wait "$server" || status=$?
[ "$status" -eq 0 ] || { echo "serve ended with status $status: $(tail -n 3 "$work/err")" >&2; exit 1; }
grep -q "^served " "$work/err" || { echo "no summary: $(tail -n 3 "$work/err")" >&2; exit 1; }
within 20 grep -q "SVSRBE" "$work/sim.log" || { echo "the stream was not stopped" >&2; exit 1; }
grep -q "SVSTOP" "$work/sim.log" || { echo "the scan was not stopped" >&2; exit 1; }

# Without a scan, the points of every 100 ms.
"$tool" serve "$replayer" --ws-port 0 --port "$port" --model generic >"$work/out2" \
  2>/dev/null &
batches=$!
pids+=($batches)
within 100 grep -q . "$work/out2"
[[ $(head -n 1 "$work/out2") =~ ^Serving\ (ws://[0-9.:]+) ]] \
  || { echo "first line: $(head -n 1 "$work/out2")" >&2; exit 1; }
node "$here/serve.mjs" "${BASH_REMATCH[1]}" --batches
# The stop on Ctrl-C reaches a client on the log channel before its connection ends.
node "$here/serve.mjs" "${BASH_REMATCH[1]}" --log >"$work/log" &
logger=$!
pids+=($logger)
within 100 grep -q subscribed "$work/log"
kill -INT "$batches"
wait "$batches"
wait "$logger" || { echo "the stop was not in the log: $(cat "$work/log")" >&2; exit 1; }
tail -n 1 "$work/log"

echo "serve: as expected"
