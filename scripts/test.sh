#!/usr/bin/env bash
# Builds the panel and runs every test, end-to-end tests with the real MariaDB, PHP,
# phpMyAdmin and rsync included. Installs the Debian packages it needs first.
# Usage: scripts/test.sh [extra ctest arguments]
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

build="${ZELTO_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug
cmake --build "$build"

# The tests start (and stop) their own servers in temporary directories; nothing else needs
# to run. Tests that use the fixed ports 3306, 8000 and 900 hold one lock between them.
ctest --test-dir "$build" --output-on-failure -j 2 "$@"
