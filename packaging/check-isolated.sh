#!/bin/bash
# Runs the assembled runtime's database on a machine without a network whose host name does not
# resolve: in namespaces of its own (network and host name; a user namespace too when not run as
# root), so the machine's real ports and host name are not touched.
#
#   check-isolated.sh RUNTIME_DIR
#
# The data directory is initialised with no network interface up at all; the server is then
# started with only the loopback interface up and must answer through its socket, 127.0.0.1 and
# ::1, and listen on nothing but those two addresses. Exits 77 (skipped) when the namespaces
# cannot be made here.
set -uo pipefail

runtime=${1:?usage: check-isolated.sh RUNTIME_DIR}
[ -d "$runtime/mysql/bin" ] || { echo "no runtime at $runtime" >&2; exit 1; }

if [ "${ZELTO_ISOLATED:-}" != 1 ]; then
    as_root=()
    [ "$(id -u)" -eq 0 ] || as_root=(--user --map-root-user)
    if ! unshare "${as_root[@]}" --uts --net true 2>/dev/null; then
        echo "skipped: cannot create network and host-name namespaces here"
        exit 77
    fi
    ZELTO_ISOLATED=1 exec unshare "${as_root[@]}" --uts --net -- "$0" "$@"
fi

# --- From here on: inside the namespaces.
tmp=$(mktemp -d /tmp/zelto-isolated-check.XXXXXX)
B="$tmp/root dir/runtime/mysql"
CNF="$B/my_runtime.cnf"
failures=0
say() { printf '%s\n' "$*"; }
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        say "ok    $what"
    else
        say "FAIL  $what"
        failures=$((failures + 1))
        return 1
    fi
}
not() { ! "$@"; }
sql() { # sql HOST-OPTIONS... -- the answer to "select 1"
    timeout 20 mariadb --no-defaults "$@" -u root -pkpzw -N -e 'select 1' 2>&1
}
cleanup() {
    timeout 30 "$B/bin/mysqladmin" -u root -pkpzw shutdown >/dev/null 2>&1
    pkill -KILL -f -- "$(sed 's/[][\.|$(){}?+*^]/\\&/g' <<<"$tmp")" 2>/dev/null
    rm -rf -- "$tmp"
}
trap cleanup EXIT

mkdir -p "$B/data"
cp -R "$runtime/mysql/bin" "$runtime/mysql/libexec" "$B/"
# The option file as the panel writes it.
printf '%s\n' '[client]' 'default-character-set=utf8' 'port=3306' '' '[mysql]' \
    'default-character-set=utf8' '' '[mysqld]' "basedir=$B/" "datadir=$B/data/" 'port=3306' \
    'character-set-server=utf8' >"$CNF"
printf '%s' 'collation-server=utf8_unicode_ci' >>"$CNF"

hostname zelto-no-such-host.invalid
check "the host name does not resolve" not getent hosts "$(hostname)"
check "no network interface is up" not eval 'ip -o link show up | grep -q .'

out=$(timeout 120 "$B/bin/mysql_install_db" "--defaults-file=$CNF" --initialize-insecure 2>&1)
check "the data directory is initialised without a network" test -d "$B/data/mysql" ||
    say "$out"

ip link set lo up
timeout 10 "$B/bin/mysqld" "--defaults-file=$CNF" --daemonize >/dev/null 2>&1
sock="$B/mysqld.sock" # the adaptors' socket, inside the runtime for a path this short
answered=0
for _ in $(seq 300); do
    [ "$(sql --protocol=TCP -h 127.0.0.1 -P 3306)" = 1 ] && answered=1 && break
    sleep 0.1
done
check "the server starts and answers on 127.0.0.1" test $answered -eq 1 ||
    sed 's/^/      /' "$B/mysqld.err"
check "it answers on ::1" test "$(sql --protocol=TCP -h ::1 -P 3306)" = 1
check "it answers through its socket (localhost)" test "$(sql -S "$sock")" = 1
listeners=$(ss -Hltn 'sport = :3306' | awk '{print $4}' | sort | tr '\n' ' ')
check "it listens on 127.0.0.1 and ::1 only ($listeners)" test "$listeners" = "127.0.0.1:3306 [::1]:3306 "

if [ $failures -gt 0 ]; then
    say "$failures check(s) failed"
    exit 1
fi
say "all checks passed"
