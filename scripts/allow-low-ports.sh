#!/usr/bin/env bash
# Lets ordinary users' programs listen on port 900 and up, so that the panel's phpMyAdmin
# server (PHP's built-in server on port 900) runs for the desktop user without root.
#
# Linux reserves the ports below net.ipv4.ip_unprivileged_port_start (1024 by default) for
# privileged processes. This lowers that bound to 900, now and at every boot (a file under
# /etc/sysctl.d). Despite its name the setting covers IPv4 and IPv6 alike. Ports 900 to 1023
# become available to every local user; the ports below 900 stay reserved.
#
# File capabilities (setcap cap_net_bind_service on the PHP binary) are not used: they would
# belong to the system's PHP for every script of every user, and they are lost whenever a
# package upgrade or a plain copy (such as the runtime's installation into "Zelto-panel")
# replaces the file.
#
# Idempotent: a second run changes nothing. Uses sudo when not run as root.
set -euo pipefail

PORT=900
KEY=net.ipv4.ip_unprivileged_port_start
# Read after /etc/sysctl.conf (99-sysctl.conf), so that it takes effect at boot.
CONF=/etc/sysctl.d/99-zelto-panel-low-ports.conf
LINE="$KEY = $PORT"

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

# Whether some other sysctl file already sets the bound to PORT or lower.
configured_elsewhere() {
    local value
    value=$(cat /etc/sysctl.conf /etc/sysctl.d/*.conf /run/sysctl.d/*.conf \
        /usr/local/lib/sysctl.d/*.conf /usr/lib/sysctl.d/*.conf /lib/sysctl.d/*.conf 2>/dev/null |
        sed -n "s/^[[:space:]]*${KEY//./[./]}[[:space:]]*=[[:space:]]*\([0-9]\{1,5\}\)[[:space:]]*$/\1/p" |
        tail -n 1)
    [ -n "$value" ] && [ "$value" -le "$PORT" ]
}

if [ -f "$CONF" ] && grep -qxF "$LINE" "$CONF"; then
    echo "$CONF is in place."
elif configured_elsewhere; then
    echo "The system's sysctl configuration already lets ordinary users bind port $PORT."
else
    printf '# Lets the Zelto-Panel phpMyAdmin server listen on port %s without root.\n%s\n' \
        "$PORT" "$LINE" | "${SUDO[@]}" tee "$CONF" >/dev/null
    echo "Wrote $CONF."
fi

# Apply it now, never raising a bound that is lower already.
current=$(sysctl -n "$KEY")
if [ "$current" -gt "$PORT" ]; then
    if ! "${SUDO[@]}" sysctl -q -w "$KEY=$PORT"; then
        echo "Could not change $KEY now (a container may keep it read-only); it applies from the next boot." >&2
        exit 1
    fi
    current=$(sysctl -n "$KEY")
fi
echo "Ordinary users may bind port $PORT now ($KEY = $current)."
