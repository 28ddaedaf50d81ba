#!/usr/bin/env bash
# Builds the panel, assembles its runtime from the system's PHP, MariaDB and phpMyAdmin, and
# opens it. Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# phpMyAdmin listens on port 900, below Linux's bound for unprivileged ports: a grant for
# this user and that port only.
bash scripts/allow-port-900.sh || echo "Warning: without the grant, phpMyAdmin on port 900 needs root." >&2

build="${ZELTO_BUILD_DIR:-build-release}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTO_BUILD_TESTS=OFF -DZELTO_BUILD_BENCH=OFF
cmake --build "$build"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "zelto-panel needs a graphical display, and none was found (DISPLAY and WAYLAND_DISPLAY are unset)." >&2
  echo "Run it from a desktop session, or under a virtual display:" >&2
  echo "  xvfb-run -a -s '-screen 0 1280x900x24' $build/bin/zelto-panel" >&2
  exit 2
fi
exec "$build/bin/zelto-panel"
