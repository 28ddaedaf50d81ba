#!/usr/bin/env bash
# Removes what scripts/install.sh installed for the current user: the application, the
# links on PATH, the desktop entry, the icon and the AppStream metadata, and the entry that
# starts the panel at login (zelto-panel-cli autostart on). The panel root (Zelto-panel: the
# database, the site and its data) is left where it is.
# Environment: as for install.sh (XDG_DATA_HOME, ZELTO_INSTALL_DIR), and XDG_CONFIG_HOME.
set -euo pipefail

data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
app_home="${ZELTO_INSTALL_DIR:-$data_home/zelto-panel}"
record="$app_home/installed-files"

if [ ! -d "$app_home/bin" ] && [ ! -f "$record" ]; then
  echo "Zelto-Panel is not installed in $app_home." >&2
  exit 1
fi

if [ -f "$record" ]; then
  while IFS= read -r path; do
    [ -n "$path" ] || continue
    # A link is removed only while it still leads into this installation.
    if [ -L "$path" ]; then
      case "$(readlink "$path")" in "$app_home"/*) rm -f "$path" ;; esac
    elif [ -f "$path" ]; then
      rm -f "$path"
    fi
  done < "$record"
fi
rm -rf "$app_home/bin" "$app_home/share" "$record"
rmdir "$app_home" 2>/dev/null || true

if command -v update-desktop-database >/dev/null && [ -d "$data_home/applications" ]; then
  update-desktop-database -q "$data_home/applications" 2>/dev/null || true
fi

# The autostart entry bears the application's id, whichever copy of the panel wrote it.
config_home="${XDG_CONFIG_HOME:-}"
case "$config_home" in /*) ;; *) config_home="$HOME/.config" ;; esac
autostart_entry="$config_home/autostart/org.zelto.Panel.desktop"
if [ -e "$autostart_entry" ] || [ -L "$autostart_entry" ]; then
  rm -f "$autostart_entry"
  echo "Removed the entry that started Zelto-Panel at login: $autostart_entry"
fi

echo "Zelto-Panel is uninstalled."
if [ -d "$app_home/Zelto-panel" ]; then
  echo "Your panel root, with the database and the site, is kept in:"
  echo "  $app_home/Zelto-panel"
  echo "Servers started from it keep running until stopped. Delete the directory yourself when you no longer need it."
fi
