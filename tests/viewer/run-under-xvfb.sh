#!/usr/bin/env bash
# Runs a GUI test program on its own virtual display with private settings and
# runtime folders, removed afterwards.
set -euo pipefail
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config" XDG_RUNTIME_DIR="$scratch/runtime"
xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
