#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then configures, builds and
# runs a small outside project that finds the package with find_package(Sentova).
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib/x86_64-linux-gnu:${LD_LIBRARY_PATH:-}" "$work/build/consumer"
# Public headers must not need anything that is not installed.
if grep -rhoE '#include "[^"]+"' "$work/prefix/include/Sentova" | grep -v 'Sentova/' ; then
  echo "public headers include private headers" >&2
  exit 1
fi
