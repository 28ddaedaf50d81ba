#!/bin/bash
# Runs an assembled runtime for real, the way the panel runs it, from a copy in a temporary
# panel root whose path holds a space, Chinese characters and regular-expression characters:
#
#   check-runtime.sh RUNTIME_DIR
#
# It uses the ports 3306, 8000 and 900, waits while something else holds them (up to
# CHECK_PORT_WAIT seconds, 180 by default) and gives up with status 77 (skipped) when they stay
# busy. Everything it starts is stopped again, by pid or by a pattern that holds its own
# temporary path. CHECK_ROOT_NAME names the panel root's directory instead (a long one, say, to
# try the database socket's fallback for deep paths).
set -uo pipefail

runtime=${1:?usage: check-runtime.sh RUNTIME_DIR}
[ -d "$runtime/mysql/bin" ] || { echo "no runtime at $runtime" >&2; exit 1; }
# The one PHP the runtime is assembled with, in a directory named by its version ("PHP8.4").
php_dirs=$(cd "$runtime/php" 2>/dev/null && ls -d PHP* 2>/dev/null)
[ "$(wc -w <<<"$php_dirs")" -eq 1 ] || { echo "expected one PHP in $runtime/php: $php_dirs" >&2; exit 1; }
PHP_DIR=$php_dirs

tmp=$(mktemp -d /tmp/zelto-runtime-check.XXXXXX)
root="$tmp/${CHECK_ROOT_NAME:-面板 root (x)+}"
B="$root/runtime/mysql"
CNF="$B/my_runtime.cnf"
PHP="$root/runtime/php/$PHP_DIR/bin/php"
PASSWORD=kpzw
failures=0
php_pids=()

say() { printf '%s\n' "$*"; }
pass() { say "ok    $*"; }
fail() {
    say "FAIL  $*"
    failures=$((failures + 1))
}
check() { # check DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then
        pass "$what"
    else
        fail "$what"
        return 1
    fi
}

# The path as an extended regular expression that matches only itself.
ere_escape() { sed 's/[][\.|$(){}?+*^]/\\&/g' <<<"$1"; }
SERVER_PATTERN="$(ere_escape "$B/bin/mysqld")"
PANEL_PATTERN="mysqld.*$(ere_escape "$B")"

answers() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
# The pids of the processes listening on a TCP port, one a line.
listener_pids() { ss -Hltnp "sport = :$1" 2>/dev/null | grep -o 'pid=[0-9]*' | cut -d= -f2 | sort -u; }
listening() { answers "$1" || [ -n "$(ss -Hltn "sport = :$1" 2>/dev/null)" ]; }
wait_for() { # wait_for SECONDS COMMAND...
    local tries=$(($1 * 10))
    shift
    while [ $tries -gt 0 ]; do
        "$@" && return 0
        sleep 0.1
        tries=$((tries - 1))
    done
    return 1
}
not() { ! "$@"; }
listener_is() { # listener_is PORT PID: PID (and nobody else) listens on PORT
    test "$(listener_pids "$1")" = "$2"
}
server_pids() { pgrep -f -- "$SERVER_PATTERN"; }
no_server() { ! server_pids >/dev/null; }
sql() { mariadb --no-defaults -h 127.0.0.1 -P 3306 -u root "-p$PASSWORD" -N -B -e "$1" 2>&1; }

cleanup() {
    local pid
    for pid in "${php_pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${php_pids[@]}"; do wait "$pid" 2>/dev/null; done
    if ! no_server; then
        timeout 30 "$B/bin/mysqladmin" -u root "-p$PASSWORD" shutdown >/dev/null 2>&1
        pkill -TERM -f -- "$PANEL_PATTERN"
        wait_for 30 no_server || pkill -KILL -f -- "$PANEL_PATTERN"
    fi
    rm -rf -- "$tmp"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

ports_free() { ! listening 3306 && ! listening 8000 && ! listening 900; }
if ! wait_for "${CHECK_PORT_WAIT:-180}" ports_free; then
    say "SKIP  port 3306, 8000 or 900 stays busy (another stack is running); nothing was checked"
    exit 77
fi

# --- The copy, as the panel installs it (links stay links), without any earlier run's state.
mkdir -p -- "$root"
cp -a -- "$runtime" "$root/runtime"
rm -rf -- "$B/data" "$CNF" "$root/runtime/config" "$root/runtime/phpmyadmin/config.inc.php"
rm -f -- "$B"/mysqld.* "$B/mysql_install_db.log"
check "php is a link to an executable PHP" \
    test -L "$PHP" -a -x "$PHP"
check "the PHP directory $PHP_DIR names the interpreter's own version" \
    test "$("$PHP" -r 'echo "PHP", PHP_MAJOR_VERSION, ".", PHP_MINOR_VERSION;')" = "$PHP_DIR"
check "PHP has every extension the runtime promises" \
    "$(dirname -- "$0")/php-extensions.sh" missing "$PHP"
# The panel's servers read the distribution's ini directory through a mirror without
# Xdebug's file; the same here.
ini_dir=$(cat "$root/runtime/php/$PHP_DIR/ini-scan-dir" 2>/dev/null || true)
check "the runtime names its PHP's own ini directory" test -n "$ini_dir" -a -d "$ini_dir"
mirror=$root/runtime/config/php/distribution
mkdir -p -- "$mirror"
for f in "$ini_dir"/*; do
    case ${f,,} in *xdebug*) ;; *) ln -s -- "$f" "$mirror/" ;; esac
done
export PHP_INI_SCAN_DIR=runtime/config/php/distribution
check "PHP does not load Xdebug through the mirror" \
    bash -c 'cd -- "$1" && exec "$2" -r "exit(extension_loaded(\"xdebug\") ? 1 : 0);"' - "$root" "$PHP"
check "PHP loads Xdebug when asked (debugging on)" \
    "$PHP" -n -d zend_extension=xdebug.so -r 'exit(extension_loaded("xdebug") ? 0 : 1);'
check "phpMyAdmin ships no config.inc.php" \
    test ! -e "$root/runtime/phpmyadmin/config.inc.php"
check "every link of phpMyAdmin resolves (but the manual's)" \
    test -z "$(find "$root/runtime/phpmyadmin" -xtype l ! -path '*/doc/*')"
check "the site has index.php and Data/" \
    test -f "$root/runtime/www/index.php" -a -d "$root/runtime/www/Data"

# --- Database: the option file as the panel writes it, then its three command lines.
mkdir -p -- "$B/data" "$root/runtime/config"
printf '%s\n' '[client]' 'default-character-set=utf8' 'port=3306' '' '[mysql]' \
    'default-character-set=utf8' '' '[mysqld]' "basedir=$B/" "datadir=$B/data/" 'port=3306' \
    'character-set-server=utf8' >"$CNF"
printf '%s' 'collation-server=utf8_unicode_ci' >>"$CNF"

output=$("$B/bin/mysql_install_db" "--defaults-file=$CNF" --initialize-insecure 2>&1)
status=$?
check "mysql_install_db succeeds" test $status -eq 0 || say "$output"
check "mysql_install_db creates data/mysql" test -d "$B/data/mysql"
check "mysql_install_db leaves no scratch directory" \
    test -z "$(find "$B/data" -maxdepth 1 -name '.initialising*')"
before=$(ls -A "$B/data" | sort)
"$B/bin/mysql_install_db" "--defaults-file=$CNF" --initialize-insecure >/dev/null 2>&1
check "a second mysql_install_db refuses" test $? -ne 0
check "a second mysql_install_db changes nothing" test "$(ls -A "$B/data" | sort)" = "$before"

timeout 10 "$B/bin/mysqld" "--defaults-file=$CNF" --daemonize >/dev/null 2>&1
check "mysqld --daemonize returns (status 0) without waiting for the server" test $? -eq 0
check "the server accepts connections on 3306" wait_for 60 answers 3306 ||
    sed 's/^/      /' "$B/mysqld.err"
check "root signs in over 127.0.0.1:3306 with its password" test "$(sql 'select 1')" = 1
check "root without a password is refused" \
    not mariadb --no-defaults -h 127.0.0.1 -P 3306 -u root -e 'select 1' 2>/dev/null
check "root with a wrong password is refused" \
    not mariadb --no-defaults -h 127.0.0.1 -P 3306 -u root -pwrong -e 'select 1' 2>/dev/null
check "root exists only for this machine" \
    test "$(sql "select host from mysql.user where user = 'root' order by host" | tr '\n' ' ')" = "127.0.0.1 ::1 localhost "
check "the option file's character set is in effect" \
    test "$(sql 'select @@character_set_server, @@collation_server')" = "utf8mb3	utf8mb3_unicode_ci"
check "the server's data directory is the runtime's" test "$(sql 'select @@datadir')" = "$B/data/"
check "pgrep -f finds the server by its program path" eval 'server_pids >/dev/null'
check "the panel's pattern mysqld.*<runtime/mysql> finds it" eval 'pgrep -f -- "$PANEL_PATTERN" >/dev/null'
server=$(server_pids | head -n 1)
check "the listener on 3306 is this server" listener_is 3306 "$server"
check "the server is MariaDB under the program name mysqld" \
    test "$(tr '\0' '\n' <"/proc/$server/cmdline" | head -n 1)" = "$B/bin/mysqld" -a \
    "$(readlink "/proc/$server/exe")" = /usr/sbin/mariadbd

# --- The site on 8000 and phpMyAdmin on 900, started as the panel's launcher starts them.
start_php() { # start_php PORT DOCROOT LOG
    (cd -- "$root" && exec "$PHP" -S "0.0.0.0:$1" -t "$2" </dev/null >>"$3" 2>&1) &
    php_pids+=($!)
}
start_php 8000 "$root/runtime/www" "$root/runtime/config/php-web.log"
check "the site server answers on 8000" wait_for 20 answers 8000
check "the listener on 8000 is this site server" listener_is 8000 "${php_pids[0]}"
check "its command line reads \"php -S 0.0.0.0:8000 -t ...\"" \
    pgrep -f -- "$(ere_escape "$PHP -S 0.0.0.0:8000 -t $root/runtime/www")" >/dev/null
page=$(curl -s --max-time 20 http://127.0.0.1:8000/)
check "the sample site shows the PHP version" grep -qF "PHP ${PHP_DIR#PHP}." <<<"$page"
check "the sample site reaches the database" grep -q 'id="database" class="ok"' <<<"$page"
check "the sample site reaches it over IPv6 loopback too" grep -q 'id="db-ipv6" class="ok"' <<<"$page"
check "the sample site shows no PHP warning" not grep -qiE 'warning|fatal error|notice' <<<"$page"
check "the sample site lists the runtime's extensions as loaded" \
    test -z "$(for e in $("$(dirname -- "$0")/php-extensions.sh" names); do
        grep -qF "data-extension=\"$e\"" <<<"$page" || echo "$e"; done)"

printf '%s\n' '<?php' "\$cfg['blowfish_secret'] = 'qarmo-desk-cipher-7315';" '$i = 1;' \
    "\$cfg['Servers'][\$i]['auth_type'] = 'cookie';" "\$cfg['Servers'][\$i]['host'] = '127.0.0.1';" \
    "\$cfg['Servers'][\$i]['port'] = '3306';" "\$cfg['Servers'][\$i]['user'] = 'root';" \
    "\$cfg['Servers'][\$i]['password'] = 'kpzw';" "\$cfg['UploadDir'] = '';" |
    cat - <(printf '%s' "\$cfg['SaveDir'] = '';") >"$root/runtime/phpmyadmin/config.inc.php"
start_php 900 "$root/runtime/phpmyadmin" "$root/runtime/config/phpmyadmin.log"
if ! check "phpMyAdmin answers on 900" wait_for 20 answers 900; then
    sed 's/^/      /' "$root/runtime/config/phpmyadmin.log"
    [ "$(id -u)" -eq 0 ] || say "      (port 900 needs scripts/allow-port-900.sh and authbind's preload for an ordinary user)"
fi
check "the listener on 900 is this phpMyAdmin server" listener_is 900 "${php_pids[1]}"
login_page=$(curl -s --max-time 30 http://127.0.0.1:900/)
check "phpMyAdmin shows its login page" grep -q 'name="pma_username"' <<<"$login_page"
check "phpMyAdmin's linked scripts are served" \
    test "$(curl -s -o /dev/null -w '%{http_code}' --max-time 20 http://127.0.0.1:900/js/vendor/jquery/jquery.min.js)" = 200

phpmyadmin_login() { # phpmyadmin_login PASSWORD -> the page after the attempt
    local jar="$tmp/cookies-$1" page token
    page=$(curl -s --max-time 30 -c "$jar" -b "$jar" http://127.0.0.1:900/)
    token=$(grep -o 'name="token" value="[^"]*"' <<<"$page" | head -n 1 | sed 's/.*value="//; s/"$//')
    curl -s --max-time 30 -c "$jar" -b "$jar" -L \
        --data-urlencode "token=$token" --data-urlencode 'pma_username=root' \
        --data-urlencode "pma_password=$1" --data-urlencode 'server=1' --data-urlencode 'route=/' \
        http://127.0.0.1:900/index.php?route=/
}
page=$(phpmyadmin_login "$PASSWORD")
check "phpMyAdmin logs root in with its password" grep -q 'route=/logout' <<<"$page"
page=$(phpmyadmin_login wrong)
check "phpMyAdmin refuses a wrong password" not grep -q 'route=/logout' <<<"$page"
check "phpMyAdmin keeps its temporary files inside the runtime" \
    test -n "$(ls -A "$root/runtime/phpmyadmin/tmp")"

# --- A restart as the panel does it: kill by pattern, start again at once.
first=$server
pkill -TERM -f -- "$PANEL_PATTERN"
timeout 10 "$B/bin/mysqld" "--defaults-file=$CNF" --daemonize >/dev/null 2>&1
check "mysqld --daemonize returns while the old server is still stopping" test $? -eq 0
check "the restarted server answers" wait_for 90 eval 'answers 3306 && test "$(sql "select 1")" = 1'
second=$(server_pids | head -n 1)
check "exactly one new server runs" test -n "$second" -a "$second" != "$first" -a "$(server_pids | wc -l)" -eq 1

# --- Stop: mysqladmin finds its own server without being told where.
timeout 60 "$B/bin/mysqladmin" -u root "-p$PASSWORD" shutdown
check "mysqladmin -u root -p$PASSWORD shutdown succeeds" test $? -eq 0
check "the server is gone" wait_for 10 no_server
check "nothing answers on 3306" not answers 3306
timeout 30 "$B/bin/mysqladmin" -u root "-p$PASSWORD" shutdown >/dev/null 2>&1
check "mysqladmin with no server running reports failure" test $? -ne 0 -a $? -ne 124

for pid in "${php_pids[@]}"; do kill "$pid"; done
for pid in "${php_pids[@]}"; do wait "$pid" 2>/dev/null; done
php_pids=()
check "nothing answers on 8000 and 900" not eval 'answers 8000 || answers 900'

if [ $failures -gt 0 ]; then
    say "$failures check(s) failed"
    exit 1
fi
say "all checks passed"
