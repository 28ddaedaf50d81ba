#!/usr/bin/env bash
# Installs the built panel with scripts/install.sh for a user whose home is a temporary
# directory (with a space in its path), checks the layout, validates the desktop entry and
# the AppStream metadata, runs both installed programs, turns on the start at login, then
# uninstalls: the application, the links, the desktop files and the autostart entry go, the
# panel root with the user's data stays.
# Usage: check-install.sh SOURCE_DIR BUILD_DIR VERSION
set -euo pipefail
source_dir=$1 build_dir=$2 version=$3

fail() { echo "FAIL: $*" >&2; exit 1; }
[ -x "$build_dir/bin/resources/runtime/mysql/bin/mysqld" ] || { echo "no assembled runtime"; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
home="$tmp/home of tester"
mkdir -p "$home"
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config"
export PATH="$home/.local/bin:$PATH"
unset DISPLAY WAYLAND_DISPLAY ZELTO_INSTALL_DIR ZELTO_BIN_DIR
app="$XDG_DATA_HOME/zelto-panel"
app_id=org.zelto.Panel
desktop="$XDG_DATA_HOME/applications/$app_id.desktop"
icon="$XDG_DATA_HOME/icons/hicolor/scalable/apps/$app_id.svg"
metainfo="$XDG_DATA_HOME/metainfo/$app_id.metainfo.xml"

ZELTO_BUILD_DIR="$build_dir" bash "$source_dir/scripts/install.sh" --no-build > "$tmp/install.log" \
  || { cat "$tmp/install.log"; fail "install.sh failed"; }

# The layout of cmake --install below the prefix.
for f in bin/zelto-panel bin/zelto-panel-cli bin/resources/runtime/mysql/bin/mysqld; do
  [ -x "$app/$f" ] || fail "$app/$f is not an installed program"
done
php=("$app"/bin/resources/runtime/php/*/bin/php)
[ -x "${php[0]}" ] || fail "no PHP interpreter installed in the runtime"
[ -d "$app/bin/resources/runtime/phpmyadmin" ] || fail "phpMyAdmin is not installed"
for exe in zelto-panel zelto-panel-cli; do
  [ "$(readlink "$home/.local/bin/$exe")" = "$app/bin/$exe" ] || fail "$exe is not linked on PATH"
done
[ -f "$icon" ] || fail "no icon in hicolor"
grep -qx "Exec=\"$app/bin/zelto-panel\"" "$desktop" || fail "the desktop entry does not start the installed panel"
grep -qx "Icon=$app_id" "$desktop" || fail "the desktop entry names another icon"
grep -q "<release version=\"$version\"" "$metainfo" || fail "the metadata lacks release $version"

desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli rejects the metadata"

# Both programs by name, from PATH, without a display.
[ "$(zelto-panel --version)" = "zelto-panel $version" ] || fail "zelto-panel --version: $(zelto-panel --version)"
[ "$(zelto-panel-cli --version)" = "zelto-panel-cli $version" ] || fail "zelto-panel-cli --version"

# Start at login, asked through the link on PATH: the entry runs the installed panel itself.
autostart="$XDG_CONFIG_HOME/autostart/$app_id.desktop"
zelto-panel-cli autostart on --start-stack > /dev/null || fail "autostart on failed"
grep -qxF "Exec=\"$app/bin/zelto-panel\" --tray --start-all" "$autostart" \
  || fail "the autostart entry does not start the installed panel in the tray"
desktop-file-validate "$autostart" || fail "desktop-file-validate rejects the autostart entry"

# The first use installs the runtime into the panel root beside the application directory,
# where the user can write.
root=$(zelto-panel-cli root)
[ "$root" = "$app/Zelto-panel" ] || fail "panel root is $root"
[ -x "$root/runtime/mysql/bin/mysqld" ] || fail "the runtime was not installed into $root"
[ -w "$root/runtime/www" ] || fail "$root/runtime/www is not writable"
mkdir -p "$root/runtime/www/Data" "$root/runtime/mysql/data/shop"
echo "the user's own" > "$root/runtime/www/Data/mine.txt"
echo "a table" > "$root/runtime/mysql/data/shop/orders.ibd"

bash "$source_dir/scripts/uninstall.sh" > "$tmp/uninstall.log" \
  || { cat "$tmp/uninstall.log"; fail "uninstall.sh failed"; }
for gone in "$app/bin" "$app/share" "$home/.local/bin/zelto-panel" "$home/.local/bin/zelto-panel-cli" \
            "$desktop" "$icon" "$metainfo" "$autostart"; do
  [ ! -e "$gone" ] && [ ! -L "$gone" ] || fail "$gone is still there after uninstalling"
done
[ "$(cat "$root/runtime/www/Data/mine.txt")" = "the user's own" ] || fail "the site's data is gone"
[ -f "$root/runtime/mysql/data/shop/orders.ibd" ] || fail "the database is gone"
grep -qF "$root" "$tmp/uninstall.log" || fail "uninstall.sh does not say where the panel root is"
grep -qF "$autostart" "$tmp/uninstall.log" || fail "uninstall.sh does not say it removed the autostart entry"

# Nothing left to uninstall is an error, and it says so.
if bash "$source_dir/scripts/uninstall.sh" > /dev/null 2>&1; then
  fail "a second uninstall claims success"
fi
echo "install, validation and uninstall: ok"
