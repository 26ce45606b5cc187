#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan + coverage) and runs each
# for a bounded number of runs from its seed corpus. Any crash, leak or sanitizer report
# fails the run; the input that caused it is left in build-fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
# A fixed seed and a fixed number of runs per target keep a run reproducible;
# the time limit only guards against a slow machine.
seconds=${FUZZ_SECONDS:-90}
runs_for() {
  case $1 in
    pcd_loader) echo "${FUZZ_RUNS_PCD:-40000}" ;;
    las_reader | text_points) echo "${FUZZ_RUNS_FILES:-200000}" ;;
    replies) echo "${FUZZ_RUNS:-600000}" ;;
    pcap_reader) echo "${FUZZ_RUNS_PCAP:-300000}" ;;
    *) echo "${FUZZ_RUNS:-2000000}" ;;
  esac
}

CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSENTOVA_BUILD_FUZZ=ON -DSENTOVA_SANITIZE=address -DSENTOVA_BUILD_TESTS=OFF -DSENTOVA_BUILD_VIEWER=ON \
  -DSENTOVA_BUILD_SIM=OFF -DSENTOVA_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_all

mkdir -p build-fuzz/artifacts
status=0
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=${target##*/fuzz_}
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  runs=$(runs_for "$name")
  echo "== fuzz $name: $runs runs (at most ${seconds}s)"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$target" -seed=1 -runs="$runs" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/${name}-" "$work" >"build-fuzz/${name}.log" 2>&1; then
    echo "fuzz $name FAILED; see build-fuzz/${name}.log and build-fuzz/artifacts/" >&2
    tail -40 "build-fuzz/${name}.log" >&2
    status=1
  else
    grep -E 'stat::number_of_executed_units' "build-fuzz/${name}.log" || true
  fi
  rm -rf "$work"
done
exit $status
