#!/usr/bin/env bash
# The tool's MCAP files read back by MCAP's own TypeScript reader (@mcap/core, installed into
# this folder by tools/setup.sh): a recording with zstd and uncompressed chunks, a point file,
# and, given the simulator, `sentova record --format mcap` from it.
# Usage: readback.sh SENTOVA MCAP_FIXTURE [SENTOVA_SIM]
# Exits 77 (skipped) when the reader is not installed.
set -euo pipefail
tool=$1 fixture=$2 sim=${3:-}
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v node >/dev/null || [ ! -d "$here/node_modules/@mcap/core" ]; then
  echo "SKIPPED: @mcap/core is not installed in $here (run tools/setup.sh)"
  exit 77
fi
work=$(mktemp -d)
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$fixture" recording "$work"
"$tool" convert "$work/recording.pcap" "$work/zstd.mcap" --quiet
node "$here/check.mjs" "$work/zstd.mcap" "$work/recording.json"
# Uncompressed chunks; the extension in capitals still chooses MCAP.
"$tool" convert "$work/recording.pcap" "$work/plain.MCAP" --compression none --quiet
node "$here/check.mjs" "$work/plain.MCAP" "$work/recording.json"

"$tool" convert "$work/recording.pcap" "$work/points.csv" --quiet \
  --fields x,y,z,az,el,range,amplitude,reflectance,pulseShapeDeviation,timestamp
"$tool" convert "$work/points.csv" "$work/points.mcap" --quiet
"$fixture" points "$work/points.csv" "$work/points.json"
node "$here/check.mjs" "$work/points.mcap" "$work/points.json"
# A conversion that fails leaves no file behind, nor a temporary one.
if "$tool" convert "$work/recording.pcap" "$work/none.mcap" --frame 99 --quiet 2>/dev/null; then
  echo "a frame the recording does not hold was converted" >&2
  exit 1
fi
[ -z "$(find "$work" -name 'none.mcap*')" ] || { echo "a failed conversion left a file" >&2; exit 1; }
# Our own files read back by the tool give the recording's points again.
"$tool" convert "$work/zstd.mcap" "$work/back.csv" --quiet \
  --fields x,y,z,az,el,range,amplitude,reflectance,pulseShapeDeviation,timestamp
cmp "$work/points.csv" "$work/back.csv"

[ -n "$sim" ] || exit 0
address=127.86.$(( $$ / 250 % 250 + 1 )).$(( $$ % 250 + 1 ))
port=$(( 10000 + $$ % 20000 ))
"$sim" --address "$address" --model LX30 --home-time 50 --quiet --exit-with-parent 2>/dev/null &
simpid=$!
for _ in $(seq 50); do "$tool" info "$address" >/dev/null 2>&1 && break; sleep 0.1; done
"$tool" home "$address"
"$tool" record "$address" -o "$work/live.mcap" --port "$port" --scan full --lines 10 --speed 10 \
  --seconds 2 --quiet
[ -z "$(find "$work" -name 'live.mcap?*')" ] || { echo "temporary files left beside live.mcap" >&2; exit 1; }
node "$here/check.mjs" "$work/live.mcap" --recorded
# A capture: a message per scan frame; the laser alone, without a scan, is one.
"$tool" capture "$address" -o "$work/frames.mcap" --port "$port" --scan full --lines 4 --speed 10 \
  --frames 3 --quiet
node "$here/check.mjs" "$work/frames.mcap" --captured 3
"$tool" capture "$address" -o "$work/scan.mcap" --port "$port" --scan full --lines 4 --speed 10 \
  --seconds 2 --quiet
node "$here/check.mjs" "$work/scan.mcap" --captured several
"$tool" capture "$address" -o "$work/laser.mcap" --port "$port" --seconds 0.5 --quiet
node "$here/check.mjs" "$work/laser.mcap" --captured 1
