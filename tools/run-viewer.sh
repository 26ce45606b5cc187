#!/usr/bin/env bash
# The main job: installs what is missing, builds, starts the device simulator on
# 127.0.0.1 and the viewer against it; stops the simulator when the viewer quits.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh
source tools/build-common.sh
configure build
cmake --build build -j "$(nproc)"

address=${SENTOVA_ADDRESS:-127.0.0.1}
sim=build/sim/sentova-sim
viewer=build/viewer/sentova-viewer
tool=build/cli/sentova

if [ ! -x "$viewer" ] || [ ! -x "$sim" ]; then
  echo "run-viewer: the viewer or the simulator is not built yet; the build above is all there is to run." >&2
  exit 0
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run-viewer: no display. Run it under a virtual X display:" >&2
  echo "  xvfb-run -a -s '-screen 0 1280x1024x24' $0" >&2
  exit 1
fi

"$sim" --address "$address" --quiet --exit-with-parent &
sim_pid=$!
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
# The viewer's first commands go out at once: start it when the simulator answers.
if [ -x "$tool" ]; then
  for _ in $(seq 20); do
    "$tool" info "$address" >/dev/null 2>&1 && break
    kill -0 "$sim_pid" 2>/dev/null || { echo "run-viewer: the simulator did not start" >&2; exit 1; }
  done
fi
"$viewer" "$address"
