#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then configures, builds and
# runs small outside projects that find the package with find_package(Sentova),
# with nothing pointing the dynamic loader at the prefix.
set -euo pipefail
build_dir=$1
source_dir=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
cmake -S "$source_dir/consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
unset LD_LIBRARY_PATH
"$work/build/consumer"
# The installed libraries find their own dependencies from wherever they are.
for lib in $(find "$work/prefix" -name 'lib*.so.*' -type f); do
  if ldd "$lib" | grep -q 'not found'; then
    echo "$lib: dependencies not found:" >&2
    ldd "$lib" | grep 'not found' >&2
    exit 1
  fi
done
if [ -x "$work/build/receiver" ]; then
  "$work/build/receiver"
fi
# Public headers must not need anything that is not installed.
if grep -rhoE '#include "[^"]+"' "$work/prefix/include/Sentova" | grep -v 'Sentova/' ; then
  echo "public headers include private headers" >&2
  exit 1
fi
