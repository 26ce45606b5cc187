#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run, and
# the npm packages of the MCAP read-back test (tests/mcap).
# Idempotent: packages already installed are skipped; nothing is installed when
# everything is present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git clang clang-format ccache
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libboost-all-dev
  qtbase5-dev qtbase5-dev-tools libqt5opengl5-dev
  libvtk9-dev libvtk9-qt-dev
  libpcl-dev pcl-tools
  xvfb xauth libgl1-mesa-dri x11-apps xdotool imagemagick
  libclang-rt-14-dev
  libpcap-dev libcli11-dev tshark tcpdump python3-open3d cloudcompare libzstd-dev
  pybind11-dev python3-dev python3-numpy python3-pytest
  dpkg-dev file xz-utils help2man desktop-file-utils librsvg2-bin man-db
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

# MCAP's own reader for the read-back tests, from npm at the versions of the lock file.
install_npm_tests() {
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/tests/mcap"
  if ! command -v npm >/dev/null 2>&1; then
    echo "setup: npm is not installed: the MCAP read-back test will be skipped" >&2
    return 0
  fi
  if [ "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]; then
    return 0
  fi
  if ! (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error); then
    echo "setup: npm ci failed in $dir: the MCAP read-back test will be skipped" >&2
  fi
}

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all ${#PACKAGES[@]} packages are installed"
  install_npm_tests
  exit 0
fi

cmd="apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
    sudo sh -c "$cmd"
  else
    echo "setup: missing packages: ${missing[*]}" >&2
    echo "setup: run this as root, then try again:" >&2
    echo "  $cmd" >&2
    exit 1
  fi
else
  echo "setup: installing ${missing[*]}"
  sh -c "$cmd"
fi
install_npm_tests
