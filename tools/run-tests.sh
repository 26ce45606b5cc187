#!/usr/bin/env bash
# The whole test suite: installs what is missing, configures, builds, runs CTest;
# then builds the tests that the sanitizers check with AddressSanitizer+UBSan and
# with ThreadSanitizer and runs them under each (the library's, with the viewer's
# pure core under ASan/UBSan as well); then the fuzz targets.
#
# Each stage's wall time is printed when it ends and all of them at the end, so
# that every run shows where its time went. ccache, when present, keeps repeated
# runs short (tools/compiler-cache.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

stage_names=()
stage_seconds=()
run_start=$(date +%s)
stage() { # name, command...
  local name=$1; shift
  local start=$(date +%s)
  echo "== $name"
  "$@"
  local took=$(($(date +%s) - start))
  stage_names+=("$name")
  stage_seconds+=("$took")
  printf '== %s: %d:%02d\n' "$name" $((took / 60)) $((took % 60))
}
summary() {
  local status=$?
  echo "== stage times"
  local i
  for i in "${!stage_names[@]}"; do
    printf '   %-50s %3d:%02d\n' "${stage_names[$i]}" $((stage_seconds[i] / 60)) $((stage_seconds[i] % 60))
  done
  local total=$(($(date +%s) - run_start))
  printf '   %-50s %3d:%02d\n' "total" $((total / 60)) $((total % 60))
  [ $status -eq 0 ] || echo "== a stage failed (status $status)"
}
trap summary EXIT

stage "packages" bash tools/setup.sh

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

source tools/compiler-cache.sh

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$root/$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
}
build() { # dir, cmake args...
  local dir=$1; shift
  configure "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
}
# Builds only the test programs carrying one of the labels, with what they run.
build_tests() { # dir, labels (comma-separated), cmake args...
  local dir=$1 labels=$2; shift 2
  configure "$dir" "$@"
  local targets=()
  local label
  for label in ${labels//,/ }; do targets+=(--target "tests_$label"); done
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}
# Tests that mostly wait on the network or on a virtual display run beside each
# other beyond the core count; CTest starts the longest ones first from the
# second run on (it keeps their times in the build folder).
test_jobs=$((jobs * 2))

stage "build (RelWithDebInfo)" build build
stage "tests" bash -c "cd build && ctest -j $test_jobs --output-on-failure --label-exclude soak"

# The sanitizers want little optimisation, and line tables are all their reports
# need: both keep these trees' compile times down.
sanitized=(-DSENTOVA_BUILD_BENCH=OFF -DSENTOVA_BUILD_CLI=OFF -DSENTOVA_BUILD_VIEWER_APP=OFF
           "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG"
           "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")

# The ASan/UBSan build also takes the viewer's pure core and its tests. The
# window tests stay in the normal build: most of what they run is Qt, VTK and
# Mesa's software rendering, which are not instrumented, and a second build of
# the window and its tests would cost minutes of the CI run.
stage "build (AddressSanitizer + UndefinedBehaviorSanitizer)" \
  build_tests build-asan library,viewer -DSENTOVA_SANITIZE=address "${sanitized[@]}"
stage "library and viewer core tests under ASan/UBSan" bash -c "cd build-asan &&
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest -j $test_jobs --output-on-failure --label-regex '^(library|viewer)\$'"

stage "build (ThreadSanitizer)" \
  build_tests build-tsan library -DSENTOVA_SANITIZE=thread "${sanitized[@]}" -DSENTOVA_BUILD_VIEWER=OFF
stage "library tests under TSan" bash -c "cd build-tsan &&
  TSAN_OPTIONS='halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp' \
  ctest -j $test_jobs --output-on-failure --label-regex library"

stage "fuzzing" bash tools/run-fuzz.sh
echo "== all test stages passed"
