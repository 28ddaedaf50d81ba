#!/usr/bin/env bash
# Prints every figure of the status probe and the live status, each beside its goal, from a
# Release build (build-release/ unless ZELTO_BENCH_BUILD_DIR names another):
#   - refreshStatus() with 300 extra processes on the machine, the database's port free and
#     held, beside lsof -ti + pgrep -f in the same run, and where the probe's time goes;
#   - with the real MariaDB and PHP servers on 3306, 8000 and 900: the longest main-thread
#     stall in start-all, refresh, update and stop-all, the panel's processor time and
#     wake-ups over 60 s at rest with the window shown, and kill -9 of the database to the
#     status turning false (three times).
# Every figure is a median where it is repeated; on a shared machine the wall times run above
# the processor times. The benchmarks hold the machine-wide locks of the fixed ports and of
# benchmarks, so they wait for tests and other benchmarks of other work trees.
# Usage: scripts/bench-status.sh [extra processes, default 300] [rest seconds, default 60]
set -euo pipefail
cd "$(dirname "$0")/.."

build="${ZELTO_BENCH_BUILD_DIR:-build-release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target bench_refresh_status bench_app_window zelto_runtime

echo "=== status probe (bench_refresh_status) ==="
flock /tmp/zelto-bench.lock "$build/bench/bench_refresh_status" "${1:-300}" 100
echo "=== live status and main-thread stalls with the real stack (bench_app_window --real) ==="
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" \
  flock /tmp/zelto-panel-fixed-ports.lock flock /tmp/zelto-bench.lock \
  "$build/bench/bench_app_window" --real --rest="${2:-60}"
