#!/usr/bin/env bash
# The tool's MCAP files read back by MCAP's own TypeScript reader (@mcap/core, installed into
# this folder by tools/setup.sh): a recording with zstd and uncompressed chunks, and a point file.
# Usage: readback.sh SENTOVA MCAP_FIXTURE
# Exits 77 (skipped) when the reader is not installed.
set -euo pipefail
tool=$1 fixture=$2
here=$(cd "$(dirname "$0")" && pwd)

if ! command -v node >/dev/null || [ ! -d "$here/node_modules/@mcap/core" ]; then
  echo "SKIPPED: @mcap/core is not installed in $here (run tools/setup.sh)"
  exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

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
