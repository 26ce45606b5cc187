#!/usr/bin/env bash
# The whole test suite: installs what is missing, configures, builds, runs CTest;
# then rebuilds the library and its tests with AddressSanitizer+UBSan and with
# ThreadSanitizer and runs the library tests again under each (the viewer's pure
# core tests under ASan/UBSan as well).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash tools/setup.sh

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

echo "== build (RelWithDebInfo)"
configure build
cmake --build build -j "$jobs"
echo "== tests"
(cd build && ctest -j "$jobs" --output-on-failure --label-exclude soak)

sanitized=(-DSENTOVA_BUILD_VIEWER=OFF -DSENTOVA_BUILD_BENCH=OFF -DSENTOVA_BUILD_SIM=ON
           -DSENTOVA_BUILD_CLI=OFF)

# The ASan/UBSan build also takes the viewer's pure core and its tests. The
# window tests stay in the normal build: most of what they run is Qt, VTK and
# Mesa's software rendering, which are not instrumented, and a second build of
# the window and its tests would cost minutes of the CI run.
echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
configure build-asan -DSENTOVA_SANITIZE=address "${sanitized[@]}" \
  -DSENTOVA_BUILD_VIEWER=ON -DSENTOVA_BUILD_VIEWER_APP=OFF
cmake --build build-asan -j "$jobs"
echo "== library and viewer core tests under ASan/UBSan"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j "$jobs" --output-on-failure --label-regex '^(library|viewer)$')

echo "== build (ThreadSanitizer)"
configure build-tsan -DSENTOVA_SANITIZE=thread "${sanitized[@]}"
cmake --build build-tsan -j "$jobs"
echo "== library tests under TSan"
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  ctest -j "$jobs" --output-on-failure --label-regex library)

if [ -x tools/run-fuzz.sh ]; then
  echo "== fuzzing"
  bash tools/run-fuzz.sh
fi
echo "== all test stages passed"
