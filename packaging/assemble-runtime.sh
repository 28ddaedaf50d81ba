#!/bin/bash
# Assembles the panel's runtime directory from the system's packages:
#
#   assemble-runtime.sh OUTPUT_DIR
#
#   php/PHP<v>/bin/php     link to the distribution's default PHP, /usr/bin/php<v>, named by
#                          its version <v> (such as 8.2 or 8.4), with the extensions that
#                          packaging/php-extensions.sh lists (scripts/install-deps.sh)
#   php/PHP<v>/ini-scan-dir  that PHP's own ini directory (/etc/php/<v>/cli/conf.d)
#   mysql/bin/...          mysqld, mysql_install_db, mysqladmin, mysql, mysqldump: adaptors
#                          onto MariaDB
#   mysql/libexec/...      what the adaptors share
#   phpmyadmin/            Debian's phpMyAdmin, reading config.inc.php from its own directory
#   www/                   the sample site (index.php; catalog.php, a page with queries)
#
# What a run of the stack leaves in OUTPUT_DIR (mysql/data, the option file, config/, a
# phpmyadmin/config.inc.php written by the panel, the site's files) is kept on re-assembly.
set -euo pipefail

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
out=${1:?usage: assemble-runtime.sh OUTPUT_DIR}

PHP_VERSION=$("$here/system-php.sh") || exit 1
PHP=/usr/bin/php$PHP_VERSION
PHPMYADMIN=/usr/share/phpmyadmin

fail() {
    echo "assemble-runtime: $*" >&2
    exit 1
}

# Everything the runtime leans on, with the Debian package that provides it.
require() {
    local path=$1 package=$2
    [ -e "$path" ] || fail "$path is missing: install the Debian package $package (scripts/install-deps.sh)"
}
require "$PHP" "php$PHP_VERSION-cli"
require /usr/sbin/mariadbd mariadb-server
require /usr/bin/mariadb-install-db mariadb-server
require /usr/bin/my_print_defaults mariadb-server
require /usr/bin/mariadb-admin mariadb-client
require /usr/bin/mariadb mariadb-client
require /usr/bin/mariadb-dump mariadb-client
# The adaptors' choices, as they make them.
ZM_BIN_DIR=$here/mysql/bin
# shellcheck source=packaging/mysql/libexec/mariadb-common.sh
. "$here/mysql/libexec/mariadb-common.sh"
require "$ZM_SHARE_DIR/english/errmsg.sys" mariadb-server
require "$ZM_SHARE_DIR/charsets" mariadb-server
require /usr/lib/mysql/plugin mariadb-server
require /usr/bin/setsid util-linux
require "$PHPMYADMIN/index.php" phpmyadmin
require "$PHPMYADMIN/libraries/vendor_config.php" phpmyadmin
missing=$("$here/php-extensions.sh" missing "$PHP") ||
    fail "PHP $PHP_VERSION lacks extensions; install the Debian packages: $missing (scripts/install-deps.sh)"

mkdir -p "$out"
out=$(CDPATH='' cd -- "$out" && pwd)

# PHP: a link, so that the server's command line reads ".../bin/php -S 0.0.0.0:PORT ...".
rm -rf "$out/php"
mkdir -p "$out/php/PHP$PHP_VERSION/bin"
ln -s "$PHP" "$out/php/PHP$PHP_VERSION/bin/php"
# Its distribution's ini directory, which the panel's servers read through a mirror without
# Xdebug's file (Xdebug is loaded only while debugging is on).
"$PHP" -n -r 'echo PHP_CONFIG_FILE_SCAN_DIR, "\n";' >"$out/php/PHP$PHP_VERSION/ini-scan-dir"

# The database adaptors.
mkdir -p "$out/mysql"
rm -rf "$out/mysql/bin" "$out/mysql/libexec"
cp -R "$here/mysql/bin" "$here/mysql/libexec" "$out/mysql/"
chmod 755 "$out/mysql/bin/"*
chmod 644 "$out/mysql/libexec/"*

# phpMyAdmin, assembled beside the old copy and swapped in when complete.
staging="$out/.phpmyadmin.assembling"
rm -rf "$staging"
cp -a "$PHPMYADMIN" "$staging"

# Debian's links are relative to /usr/share (jQuery, CodeMirror, the manual): point them at
# the same files by absolute paths, so they still resolve wherever the runtime is copied.
while IFS= read -r -d '' link; do
    target=$(readlink -- "$link")
    case $target in
        /*) continue ;;
    esac
    original="$PHPMYADMIN/${link#"$staging"/}"
    origin_dir=$(CDPATH='' cd -- "$(dirname -- "$original")" && pwd -P)
    absolute=$(realpath -m -s -- "$origin_dir/$target")
    ln -sfn -- "$absolute" "$link"
    if [ -e "$original" ] && [ "$(readlink -f -- "$link")" != "$(readlink -f -- "$original")" ]; then
        fail "the link $link does not lead where $original does"
    fi
done < <(find "$staging" -type l -print0)

# Configuration from the runtime's own directory, a temporary directory inside it.
vendor="$staging/libraries/vendor_config.php"
sed -i \
    -e "s|'configFile' => '/etc/phpmyadmin/config.inc.php',|'configFile' => ROOT_PATH . 'config.inc.php',|" \
    -e "s|'tempDir' => '/var/lib/phpmyadmin/tmp/',|'tempDir' => ROOT_PATH . 'tmp' . DIRECTORY_SEPARATOR,|" \
    "$vendor"
mkdir -p "$staging/tmp"
checked=$("$PHP" -r '
    define("PHPMYADMIN", true);
    define("ROOT_PATH", $argv[1] . DIRECTORY_SEPARATOR);
    $c = require $argv[1] . "/libraries/vendor_config.php";
    echo $c["configFile"], "\n", $c["tempDir"], "\n";' "$staging")
[ "$checked" = "$staging/config.inc.php"$'\n'"$staging/tmp/" ] ||
    fail "could not point phpMyAdmin at its own config.inc.php and tmp/ (vendor_config.php changed?): $checked"
[ ! -e "$staging/config.inc.php" ] || fail "phpMyAdmin must not ship a config.inc.php"

# A configuration the panel wrote into an earlier copy stays.
if [ -f "$out/phpmyadmin/config.inc.php" ]; then
    cp -p "$out/phpmyadmin/config.inc.php" "$staging/config.inc.php"
fi
rm -rf "$out/phpmyadmin"
mv "$staging" "$out/phpmyadmin"

# The sample site; the site's other files and its data stay.
mkdir -p "$out/www/Data"
install -m 644 "$here/www/index.php" "$out/www/index.php"
install -m 644 "$here/www/catalog.php" "$out/www/catalog.php"
install -m 644 "$here/www/Data/README.txt" "$out/www/Data/README.txt"
