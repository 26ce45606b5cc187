#!/usr/bin/env bash
# Makes the Debian packages from a configured build folder (default: build), into BUILD/packages,
# building first what they hold; prints the package files made.
#
#   tools/make-packages.sh [BUILD]
#   sudo apt install ./build/packages/*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
if [ ! -f "$build/CPackConfig.cmake" ]; then
  echo "make-packages: $build is not a configured build folder" >&2
  exit 1
fi
out="$build/packages"
rm -f "$out"/*.deb
# cpack itself builds nothing: it installs each component of the tree as it is into a staging
# folder of its own and packs that.
cmake --build "$build" --target sentova_packaged >"$out.log" 2>&1 || {
  cat "$out.log" >&2
  exit 1
}
(cd "$build" && cpack -G DEB -B "$out" >>"$out.log" 2>&1) || {
  cat "$out.log" >&2
  exit 1
}
ls "$out"/*.deb
