# Shared by the runtime's mysqld, mysql_install_db, mysqladmin, mysql and mysqldump, which present
# the system's MariaDB under the program names and options the panel uses. Sourced with ZM_BIN_DIR
# set to the absolute directory of the calling program (runtime/mysql/bin). Everything is found
# from there, so the runtime keeps working after it has been copied to another place.
# shellcheck shell=bash disable=SC2034 # the variables are for the programs that source this

ZM_BASE=${ZM_BIN_DIR%/*}
ZM_PROGRAM="$ZM_BIN_DIR/mysqld"
ZM_DEFAULT_CNF="$ZM_BASE/my_runtime.cnf"
ZM_PID_FILE="$ZM_BASE/mysqld.pid"
ZM_ERROR_LOG="$ZM_BASE/mysqld.err"
ZM_INSTALL_LOG="$ZM_BASE/mysql_install_db.log"

# The first of the directories $2... that holds the file $1 (the last one when none does).
zm_first_with() {
    local file=$1 dir
    shift
    for dir in "$@"; do
        [ -e "$dir/$file" ] && break
    done
    printf '%s\n' "$dir"
}

# The system's MariaDB (Debian's mariadb-server and mariadb-client).
ZM_MARIADBD=/usr/sbin/mariadbd
ZM_INSTALL_DB=/usr/bin/mariadb-install-db
ZM_ADMIN=/usr/bin/mariadb-admin
ZM_CLIENT=/usr/bin/mariadb
ZM_DUMP=/usr/bin/mariadb-dump
ZM_PRINT_DEFAULTS=/usr/bin/my_print_defaults
ZM_PLUGIN_DIR=/usr/lib/mysql/plugin
# The server's messages and character sets: /usr/share/mariadb since MariaDB 11 (Debian 13),
# /usr/share/mysql before (MariaDB 10.11, Debian 12).
ZM_SHARE_DIR=$(zm_first_with english/errmsg.sys /usr/share/mariadb /usr/share/mysql)

# A Unix socket path holds at most 107 bytes. The socket lives inside the runtime when it fits;
# a deep runtime path falls back to a name derived from that path in the temporary directory.
zm_socket_path() {
    local inside="$ZM_BASE/mysqld.sock"
    local LC_ALL=C
    if [ ${#inside} -le 107 ]; then
        printf '%s\n' "$inside"
    else
        local digest
        digest=$(printf '%s' "$ZM_BASE" | md5sum | cut -c1-16)
        printf '/tmp/zelto-mysqld-%s-%s.sock\n' "$(id -u)" "$digest"
    fi
}
ZM_SOCKET=$(zm_socket_path)

# The last value of option $2 in group [mysqld] of option file $1, or nothing.
zm_option_from_file() {
    [ -r "$1" ] || return 0
    "$ZM_PRINT_DEFAULTS" --defaults-file="$1" mysqld 2>/dev/null |
        sed -n "s/^--$2=//p" | tail -n 1
}

# Strips trailing slashes (but keeps "/").
zm_strip_slashes() {
    local p=$1
    while [ "${#p}" -gt 1 ] && [ "${p%/}" != "$p" ]; do p=${p%/}; done
    printf '%s\n' "$p"
}

# Prints the pid of a running server of this runtime (a process whose program name is this
# runtime's mysqld), other than the calling process; fails when there is none.
zm_running_server() {
    local dir first
    for dir in /proc/[0-9]*; do
        [ "${dir#/proc/}" = "$$" ] && continue
        { IFS= read -r -d '' first <"$dir/cmdline"; } 2>/dev/null || continue
        if [ "$first" = "$ZM_PROGRAM" ]; then
            printf '%s\n' "${dir#/proc/}"
            return 0
        fi
    done
    return 1
}

# Waits up to $1 seconds until no server of this runtime runs.
zm_wait_for_previous_server() {
    local tries=$(($1 * 5))
    while [ $tries -gt 0 ] && zm_running_server >/dev/null; do
        sleep 0.2
        tries=$((tries - 1))
    done
}
