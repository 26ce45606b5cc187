#!/usr/bin/env bash
# The whole test suite: installs what is missing, configures, builds, runs CTest;
# then builds the tests that the sanitizers check with AddressSanitizer+UBSan
# (clang) and with ThreadSanitizer and runs them under each (the library's, with
# the viewer's pure core and the single-threaded formats under ASan/UBSan only);
# then fuzzes in the ASan tree.
#
# Each stage's wall time is printed when it ends and all of them at the end, so
# that every run shows where its time went. ccache, when present, keeps repeated
# runs short (tools/build-common.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

stage_names=()
stage_seconds=()
stage_cpu=()
run_start=$(date +%s)
times_file=$(mktemp)
# The CPU seconds (user + system) of the script's finished children so far, into
# cpu_now: unlike the wall times, they do not depend on what else the machine is
# running. Called in this shell and written to a file, as a subshell's own count
# would start at nothing.
children_cpu() {
  times >"$times_file"
  cpu_now=$(awk 'NR == 2 { for (i = 1; i <= 2; i++) { split($i, t, "m"); n += t[1] * 60 + t[2] }
                           printf "%d", n }' "$times_file")
}
stage() { # name, command...
  local name=$1; shift
  local start=$(date +%s) cpu_now cpu_start
  children_cpu
  cpu_start=$cpu_now
  echo "== $name"
  "$@"
  children_cpu
  local took=$(($(date +%s) - start)) cpu=$((cpu_now - cpu_start))
  stage_names+=("$name")
  stage_seconds+=("$took")
  stage_cpu+=("$cpu")
  printf '== %s: %d:%02d (%d CPU seconds)\n' "$name" $((took / 60)) $((took % 60)) "$cpu"
}
summary() {
  local status=$?
  echo "== stage times (wall, CPU seconds)"
  local i
  for i in "${!stage_names[@]}"; do
    printf '   %-50s %3d:%02d %6d\n' "${stage_names[$i]}" $((stage_seconds[i] / 60)) $((stage_seconds[i] % 60)) \
      "${stage_cpu[$i]}"
  done
  local total=$(($(date +%s) - run_start))
  local cpu_now
  children_cpu
  printf '   %-50s %3d:%02d %6d\n' "total" $((total / 60)) $((total % 60)) "$cpu_now"
  rm -f "$times_file"
  # The budget of a run from a fresh clone on a 2-core machine, packages included.
  local budget=${TEST_BUDGET_SECONDS:-1500}
  if [ "$total" -gt "$budget" ]; then
    printf '== over the time budget of %d:%02d: look at the stages above\n' $((budget / 60)) $((budget % 60))
  fi
  [ $status -eq 0 ] || echo "== a stage failed (status $status)"
}
trap summary EXIT

stage "packages" bash tools/setup.sh

jobs=$(nproc)
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"

source tools/build-common.sh

# Builds a tree whole.
build_all() { # dir, cmake args...
  local dir=$1; shift
  configure "$dir" "$@"
  cmake --build "$dir" -j "$jobs"
}
# Builds only the test programs carrying one of the labels, with what they run,
# and any further targets in the same build, so that their units fill the cores
# while the test programs link.
build_tests() { # dir, labels (comma-separated), further targets (comma-separated), cmake args...
  local dir=$1 labels=$2 more=$3; shift 3
  configure "$dir" "$@"
  local targets=()
  local label target
  for label in ${labels//,/ }; do targets+=(--target "tests_$label"); done
  for target in ${more//,/ }; do targets+=(--target "$target"); done
  cmake --build "$dir" -j "$jobs" "${targets[@]}"
}
# Tests that mostly wait on the network or on a virtual display run beside each
# other beyond the core count; CTest starts the longest ones first from the
# second run on (it keeps their times in the build folder).
run_tests() { # dir, NAME=VALUE settings for the tests' environment, ctest args...
  local dir=$1; shift
  (
    trap - EXIT # the summary is the script's, not this subshell's
    while [ $# -gt 0 ] && [[ $1 =~ ^[A-Z_]+= ]]; do export "$1"; shift; done
    cd "$dir" && ctest -j $((jobs * 2)) --output-on-failure "$@"
  )
}

stage "build (RelWithDebInfo)" build_all build
stage "tests" run_tests build --label-exclude "^(soak|slow)$"
# From the tree just built and tested: nothing is compiled again. With CI=true the packages are
# also installed on the machine, run and removed.
stage "Debian packages" bash tests/packages/check_packages.sh build

# The ASan/UBSan tree also takes the viewer's pure core and its tests, and the
# tests of code that shares nothing between threads, which TSan would only slow. The
# window tests stay in the normal build: most of what they run is Qt, VTK and
# Mesa's software rendering, which are not instrumented, and a second build of
# the window and its tests would cost minutes of the CI run. The fuzz targets
# are built here too, which leaves the fuzzing stage its fixed time.
stage "build (AddressSanitizer + UndefinedBehaviorSanitizer, clang)" \
  build_tests "$asan_tree" library,pure,viewer fuzz_all "${asan_args[@]}"
stage "library and viewer core tests under ASan/UBSan" run_tests "$asan_tree" \
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  --label-regex '^(library|pure|viewer)$'

stage "build (ThreadSanitizer)" \
  build_tests build-tsan library "" -DSENTOVA_SANITIZE=thread "${sanitized[@]}" -DSENTOVA_BUILD_VIEWER=OFF
stage "library tests under TSan" run_tests build-tsan \
  "TSAN_OPTIONS=halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp" \
  --label-regex library

stage "fuzzing (in the ASan tree)" bash tools/run-fuzz.sh
echo "== all test stages passed"
