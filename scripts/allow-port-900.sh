#!/usr/bin/env bash
# Lets one desktop user's phpMyAdmin server (PHP's built-in server on port 900) listen on port
# 900 without root, and opens no other port to anyone.
#
# Linux reserves the ports below 1024 for privileged processes. Debian's authbind grants one
# port to one user: the file /etc/authbind/byport/!900 ("!" because authbind wants it for the
# ports 512-1023), owned by that user and executable by that user only. The panel preloads
# authbind's library (LD_PRELOAD) into its phpMyAdmin server alone when it does not run as
# root, so that server's bind() asks authbind's set-uid helper, which checks this file; the
# server's command line still reads "php -S 0.0.0.0:900 ...". Other programs of the user and
# other users get nothing.
#
# Earlier versions lowered net.ipv4.ip_unprivileged_port_start for the whole machine with
# /etc/sysctl.d/99-zelto-panel-low-ports.conf. When that file is found it is removed and the
# bound goes back to what the remaining configuration says (the kernel's 1024 when nothing
# sets it).
#
# Usage: allow-port-900.sh [USER]   (default: the user who ran sudo, else the current user)
# Root needs no grant. Idempotent. Uses sudo when not run as root.
set -euo pipefail

PORT=900
GRANT="/etc/authbind/byport/!$PORT"
KEY=net.ipv4.ip_unprivileged_port_start
OLD_CONF=/etc/sysctl.d/99-zelto-panel-low-ports.conf

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo); fi

# The bound the remaining sysctl files set (the last one read wins), else the kernel's.
configured_bound() {
    local value
    value=$(cat /etc/sysctl.conf /etc/sysctl.d/*.conf /run/sysctl.d/*.conf \
        /usr/local/lib/sysctl.d/*.conf /usr/lib/sysctl.d/*.conf /lib/sysctl.d/*.conf 2>/dev/null |
        sed -n "s/^[[:space:]]*${KEY//./[./]}[[:space:]]*=[[:space:]]*\([0-9]\{1,5\}\)[[:space:]]*$/\1/p" |
        tail -n 1)
    echo "${value:-1024}"
}

if [ -e "$OLD_CONF" ]; then
    "${SUDO[@]}" rm -f -- "$OLD_CONF"
    echo "Removed $OLD_CONF (port 900 is now granted per user)."
    bound=$(configured_bound)
    if [ "$(sysctl -n "$KEY")" != "$bound" ]; then
        if "${SUDO[@]}" sysctl -q -w "$KEY=$bound"; then
            echo "$KEY is $bound again."
        else
            echo "Could not set $KEY back to $bound now (a container may keep it read-only); it applies from the next boot." >&2
        fi
    fi
fi

user=${1:-${SUDO_USER:-$(id -un)}}
if [ "$(id -u "$user")" -eq 0 ]; then
    echo "$user is root and needs no grant for port $PORT."
    exit 0
fi
if [ ! -x /usr/lib/authbind/helper ]; then
    echo "authbind is not installed (scripts/install-deps.sh installs it)." >&2
    exit 1
fi
group=$(id -gn "$user")
if [ -f "$GRANT" ] && [ "$(stat -c '%U %a' -- "$GRANT")" = "$user 500" ]; then
    echo "$GRANT is in place for $user."
else
    "${SUDO[@]}" install -o "$user" -g "$group" -m 500 /dev/null "$GRANT"
    echo "Wrote $GRANT: $user may run the phpMyAdmin server on port $PORT."
fi
