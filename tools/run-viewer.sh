#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the device simulator on
# 127.0.0.1 and the viewer against it; stops the simulator when the viewer quits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh
source tools/compiler-cache.sh
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build build -j "$(nproc)"

address=${SENTOVA_ADDRESS:-127.0.0.1}
sim=build/sim/sentova-sim
viewer=build/viewer/sentova-viewer

if [ ! -x "$viewer" ] || [ ! -x "$sim" ]; then
  echo "run-viewer: the viewer or the simulator is not built yet; the build above is all there is to run." >&2
  exit 0
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-viewer: no display. Run it under a virtual X display:" >&2
  echo "  xvfb-run -a -s '-screen 0 1280x1024x24' $0" >&2
  exit 1
fi

"$sim" --address "$address" --quiet &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
sleep 0.3
"$viewer" "$address"
