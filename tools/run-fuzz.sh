#!/usr/bin/env bash
# Builds the libFuzzer targets in the clang ASan + UBSan tree (with coverage) and
# runs them from their seed corpora for a fixed total time, as many at once as
# there are cores: FUZZ_TOTAL_SECONDS (default 120) is shared out evenly, so the
# stage costs the same whatever the number of targets. Any crash, leak or
# sanitizer report fails the run; the input that caused it is left in
# build-asan/fuzz-artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
source tools/build-common.sh

configure "$asan_tree" "${asan_args[@]}"
cmake --build "$asan_tree" -j "$(nproc)" --target fuzz_all

targets=()
for target in "$asan_tree"/fuzz/fuzz_*; do
  [ -x "$target" ] && targets+=("$target")
done
[ ${#targets[@]} -gt 0 ] || { echo "no fuzz targets were built" >&2; exit 1; }
parallel=$(nproc)
total=${FUZZ_TOTAL_SECONDS:-120}
rounds=$(((${#targets[@]} + parallel - 1) / parallel))
seconds=$((total / rounds))
[ "$seconds" -ge 1 ] || seconds=1
echo "== fuzz: ${#targets[@]} targets, $parallel at a time, ${seconds}s each (${total}s in all)"

out="$asan_tree/fuzz-artifacts"
mkdir -p "$out"
# One target: its corpus copied to a scratch folder, a fixed seed, the time limit.
fuzz_one() {
  local target=$1 seconds=$2 out=$3
  local name=${target##*/fuzz_}
  local work
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  if ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$target" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$out/${name}-" "$work" >"$out/${name}.log" 2>&1; then
    echo "fuzz $name: $(grep -Eo 'stat::number_of_executed_units: *[0-9]+' "$out/${name}.log" | grep -Eo '[0-9]+$') runs"
    rm -rf "$work"
  else
    echo "fuzz $name FAILED; see $out/${name}.log" >&2
    tail -40 "$out/${name}.log" >&2
    rm -rf "$work"
    return 1
  fi
}
export -f fuzz_one
printf '%s\n' "${targets[@]}" | xargs -P "$parallel" -I{} bash -c 'fuzz_one "$1" "$2" "$3"' _ {} "$seconds" "$out"
