#!/usr/bin/env bash
# Installs Zelto-Panel for the current user, no root needed for the installation itself:
#   the application           ~/.local/share/zelto-panel/bin (with its runtime in bin/resources)
#   its panel root            ~/.local/share/zelto-panel/Zelto-panel (made on first use)
#   zelto-panel, zelto-panel-cli   links in ~/.local/bin
#   desktop entry, icon, AppStream metadata   below ~/.local/share
# Builds the panel first (into build-release/, installing the Debian packages it needs).
#
# Usage: scripts/install.sh [--no-build]
#   --no-build   install what the build directory already holds
# Environment: ZELTO_BUILD_DIR (build directory, default build-release), XDG_DATA_HOME,
#   ZELTO_INSTALL_DIR (default $XDG_DATA_HOME/zelto-panel), ZELTO_BIN_DIR (default ~/.local/bin).
set -euo pipefail
cd "$(dirname "$0")/.."

build_first=1
for arg in "$@"; do
  case "$arg" in
    --no-build) build_first=0 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "install.sh: unknown argument '$arg' (try --help)" >&2; exit 2 ;;
  esac
done

build="${ZELTO_BUILD_DIR:-build-release}"
data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
app_home="${ZELTO_INSTALL_DIR:-$data_home/zelto-panel}"
bin_home="${ZELTO_BIN_DIR:-$HOME/.local/bin}"
app_id=org.zelto.Panel

if [ "$build_first" -eq 1 ]; then
  bash scripts/install-deps.sh
  # phpMyAdmin listens on port 900, below Linux's bound for unprivileged ports: a grant for
  # this user and that port only.
  bash scripts/allow-port-900.sh || echo "Warning: without the grant, phpMyAdmin on port 900 needs root." >&2
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELTO_BUILD_TESTS=OFF -DZELTO_BUILD_BENCH=OFF
  cmake --build "$build"
fi
if [ ! -x "$build/bin/zelto-panel" ] || [ ! -x "$build/bin/zelto-panel-cli" ]; then
  echo "install.sh: $build holds no built panel; run without --no-build" >&2
  exit 1
fi

cmake --install "$build" --prefix "$app_home" >/dev/null

# What lies outside the application directory, so that uninstall.sh removes exactly that.
record="$app_home/installed-files"
: > "$record"

mkdir -p "$bin_home"
for exe in zelto-panel zelto-panel-cli; do
  link="$bin_home/$exe"
  if [ -e "$link" ] && [ ! -L "$link" ]; then
    echo "Warning: $link exists and is not a link; left alone. The program is $app_home/bin/$exe." >&2
    continue
  fi
  ln -sfn "$app_home/bin/$exe" "$link"
  echo "$link" >> "$record"
done

place() { # source, target directory
  mkdir -p "$2"
  install -m 644 "$1" "$2/"
  echo "$2/$(basename "$1")" >> "$record"
}
place "$app_home/share/applications/$app_id.desktop" "$data_home/applications"
place "$app_home/share/icons/hicolor/scalable/apps/$app_id.svg" "$data_home/icons/hicolor/scalable/apps"
place "$app_home/share/metainfo/$app_id.metainfo.xml" "$data_home/metainfo"

# Menus and icon caches pick the new files up at once where these tools exist.
if command -v update-desktop-database >/dev/null; then
  update-desktop-database -q "$data_home/applications" 2>/dev/null || true
fi
if command -v gtk-update-icon-cache >/dev/null && [ -f "$data_home/icons/hicolor/index.theme" ]; then
  gtk-update-icon-cache -q -t "$data_home/icons/hicolor" 2>/dev/null || true
fi

echo "Zelto-Panel $("$app_home/bin/zelto-panel-cli" --version | cut -d' ' -f2) is installed in $app_home."
echo "Its panel root (database and site) is $app_home/Zelto-panel."
echo "Start it from the application menu, or run zelto-panel or zelto-panel-cli."
case ":$PATH:" in
  *":$bin_home:"*) ;;
  *) echo "Note: $bin_home is not on your PATH; add it to run the programs by name." ;;
esac
