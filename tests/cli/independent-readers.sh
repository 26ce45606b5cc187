#!/usr/bin/env bash
# Points captured from the simulator through the tool, converted to every format and read back
# by readers that are not ours: Open3D for PCD and PLY, loaders.gl (from npm) for LAS. The CSV
# file of the capture is the reference.
# Usage: independent-readers.sh SENTOVA SENTOVA_SIM SCRIPTS_DIR NPM_WORK_DIR
# Exits 77 (skipped) when npm's registry cannot be reached to install the LAS reader.
set -euo pipefail
tool=$1 sim=$2 scripts=$3 npmdir=$4

address=127.80.$(( $$ / 250 % 250 + 1 )).$(( $$ % 250 + 1 ))
port=$(( 10000 + $$ % 20000 ))
work=$(mktemp -d)
simpid=
cleanup() {
  [ -n "$simpid" ] && kill "$simpid" 2>/dev/null && wait "$simpid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --address "$address" --model LX30 --home-time 50 --quiet --exit-with-parent &
simpid=$!
for _ in $(seq 50); do "$tool" info "$address" >/dev/null 2>&1 && break; sleep 0.1; done
"$tool" home "$address"
"$tool" capture "$address" -o "$work/reference.csv" --port "$port" --scan full --lines 20 \
  --points 5000 --quiet --fields x,y,z,az,el,range,amplitude,reflectance,pulseShapeDeviation,timestamp

files=()
for format in pcd pcd-binary pcd-compressed ply ply-ascii las; do
  case $format in pcd*) ext=pcd ;; ply*) ext=ply ;; *) ext=$format ;; esac
  "$tool" convert "$work/reference.csv" "$work/$format.$ext" --format "$format" --quiet
  [ "$ext" = las ] || files+=("$work/$format.$ext")
done

/usr/bin/python3 "$scripts/check-open3d.py" "$work/reference.csv" "${files[@]}"

if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: the LAS check needs node and npm, which are not installed"
  exit 77
fi
# The LAS reader is installed from npm into the build folder, once per lock file.
mkdir -p "$npmdir"
if ! cmp -s "$scripts/npm/package-lock.json" "$npmdir/package-lock.json" || [ ! -d "$npmdir/node_modules" ]; then
  cp "$scripts/npm/package.json" "$scripts/npm/package-lock.json" "$npmdir/"
  if ! (cd "$npmdir" && npm ci --no-audit --no-fund --loglevel=error >"$npmdir/npm.log" 2>&1); then
    rm -f "$npmdir/package-lock.json"
    if ! (cd "$npmdir" && timeout 30 npm ping >/dev/null 2>&1); then
      echo "SKIPPED: npm's registry cannot be reached to install @loaders.gl/las"
      exit 77
    fi
    cat "$npmdir/npm.log" >&2
    exit 1
  fi
fi
cp "$scripts/npm/check-las.mjs" "$npmdir/"
node "$npmdir/check-las.mjs" "$work/las.las" "$work/reference.csv"
