#!/usr/bin/env bash
# Builds the panel and runs every test, end-to-end tests with the real MariaDB, PHP,
# phpMyAdmin and rsync included, in the plain debug build (build/) and in the AddressSanitizer
# + UndefinedBehaviorSanitizer build (build-asan/, preset "asan"), where a memory error, a
# leak or undefined behaviour in our code fails the test; then the tests of the model's
# threads (model, status, services, start/stop sequences, update) in the ThreadSanitizer
# build (build-tsan/, preset "tsan"); last the tests of the process table and of what is
# built on it (process table, port holders, status, start/stop sequences) in the build whose
# process table asks lsof, pgrep and ps (build-portable/, preset "portable"). Installs the
# Debian packages it needs first. Exits non-zero when any test of any build fails.
# Before the builds it checks the formatting, and after the plain build it runs clang-tidy
# over src/; every build treats compiler warnings as errors.
#
# Usage: scripts/test.sh [--quick] [extra ctest arguments]
#   --quick            while working: the plain build only, every test but the end-to-end
#                      ones (label e2e); no fuzzing, no sanitizer builds, no clang-tidy
#   ZELTO_TEST_PRESETS chooses the builds (default "default asan tsan portable");
#   ZELTO_BUILD_DIR moves the plain build.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
if [ "${1:-}" = --quick ]; then quick=1; shift; fi
started=$(date +%s)

bash scripts/install-deps.sh

if [ $quick -eq 1 ]; then
  dir="${ZELTO_BUILD_DIR:-build}"
  cmake --preset default -B "$dir"
  cmake --build "$dir"
  status=0
  ctest --test-dir "$dir" --output-on-failure -j 2 -LE e2e "$@" || status=$?
  echo "Quick run (plain build, no end-to-end tests) took $(( $(date +%s) - started )) s"
  exit $status
fi

bash scripts/check-format.sh

# The fuzz targets, each for a fixed time (ZELTO_FUZZ_SECONDS per target, 25 by default;
# 0 skips them): a crash fails the run. The seed is fixed (ZELTO_FUZZ_SEED, 1 by default), so
# that the same commit passes or fails the same way on every run; searching for new crashes
# with fresh seeds and longer times is scripts/fuzz.sh's own job.
if [ "${ZELTO_FUZZ_SECONDS:-25}" != 0 ]; then
  ZELTO_FUZZ_SEED="${ZELTO_FUZZ_SEED:-1}" bash scripts/fuzz.sh
fi

read -r -a presets <<<"${ZELTO_TEST_PRESETS:-default asan tsan portable}"
# The tests that the portable build runs: those of the process table and of its users.
portable_tests='^(tst_process_table|tst_readiness|tst_status|tst_service_sequences)$'
failed=()
for preset in "${presets[@]}"; do
    if [ "$preset" = default ]; then dir="${ZELTO_BUILD_DIR:-build}"; else dir="build-$preset"; fi
    echo "=== preset $preset: build and test in $dir ==="
    cmake --preset "$preset" -B "$dir"
    cmake --build "$dir"
    # The tests start (and stop) their own servers in temporary directories; nothing else
    # needs to run. Tests that use the fixed ports 3306, 8000 and 900 hold one lock between
    # them, across builds and work trees.
    selection=()
    if [ "$preset" = portable ]; then selection=(-R "$portable_tests"); fi
    ctest --test-dir "$dir" --output-on-failure -j 2 "${selection[@]}" "$@" || failed+=("$preset")
    if [ "$preset" = default ]; then bash scripts/tidy.sh "$dir" || failed+=(clang-tidy); fi
done

echo "The whole run took $(( $(date +%s) - started )) s"
if [ ${#failed[@]} -gt 0 ]; then
    echo "Tests failed in: ${failed[*]}" >&2
    exit 1
fi
