#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz": clang with AddressSanitizer and
# UndefinedBehaviorSanitizer, into build-fuzz/) and runs each for a fixed time, starting from
# its corpus in fuzz/corpus/<target>/ (read only: new inputs go to a temporary directory).
# Prints how many inputs each target tried. Stops with a non-zero status at the first crash,
# broken invariant, leak or hang; the input that caused it is kept in build-fuzz/crashes/.
#
# Usage: scripts/fuzz.sh [target...]       (default: every target)
#   ZELTO_FUZZ_SECONDS   seconds per target (default 25)
#   ZELTO_FUZZ_SEED      the seed of libFuzzer's mutations (default: a new one each run). With
#                        a fixed seed, a run tries the same inputs in the same order each time
#                        (as many as fit in the time), so its outcome does not depend on luck.
#
# To add what a longer run found to a corpus, keep it small:
#   build-fuzz/fuzz/<target> -merge=1 fuzz/corpus/<target> <directory of new inputs>
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${ZELTO_FUZZ_SECONDS:-25}"
seed_option=()
if [ -n "${ZELTO_FUZZ_SEED:-}" ]; then seed_option=(-seed="$ZELTO_FUZZ_SEED"); fi
# The newest clang installed: the code uses std::expected, which needs clang 16 or later (on
# Debian 12 the package clang-16; its default clang is 14).
cxx=clang++
for candidate in clang++-21 clang++-20 clang++-19 clang++-18 clang++-17 clang++-16; do
  if command -v "$candidate" >/dev/null; then cxx=$candidate; break; fi
done
if [ -f build-fuzz/CMakeCache.txt ] && ! grep -q "^CMAKE_CXX_COMPILER:[A-Z]*=.*/$cxx\$" build-fuzz/CMakeCache.txt; then
  rm -rf build-fuzz
fi
cmake --preset fuzz -DCMAKE_CXX_COMPILER="$(command -v "$cxx")" >/dev/null
cmake --build --preset fuzz

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in fuzz/corpus/*/; do targets+=("$(basename "$corpus")"); done
fi

crashes="$PWD/build-fuzz/crashes"
mkdir -p "$crashes"
work=$(mktemp -d /tmp/zelto-fuzz-run.XXXXXX)
trap 'rm -rf -- "$work"' EXIT

total=0
for target in "${targets[@]}"; do
  mkdir -p "$work/$target"
  log="$work/$target.log"
  start=$SECONDS
  status=0
  ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" UBSAN_OPTIONS="print_stacktrace=1" \
    "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=4096 -print_final_stats=1 "${seed_option[@]}" -artifact_prefix="$crashes/$target-" \
    "$work/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  elapsed=$((SECONDS - start))
  total=$((total + elapsed))
  if [ $status -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target: FAILED after ${runs:-?} inputs in ${elapsed} s (input kept in $crashes)" >&2
    exit 1
  fi
  echo "$target: ${runs:-?} inputs in ${elapsed} s, no crash"
done
echo "fuzzing: ${#targets[@]} targets, ${total} s"
