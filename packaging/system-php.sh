#!/bin/bash
# Prints the version (major.minor, such as "8.2" or "8.4") of the distribution's default PHP:
# the interpreter that the version-free package php-cli installs, /usr/bin/php<version>.
# Fails with a hint when php-cli is missing or the interpreter does not report that version.
set -euo pipefail

fail() {
    echo "system-php: $*" >&2
    exit 1
}

# php-cli depends on the interpreter of the default version, for example "php8.4-cli".
depends=$(dpkg-query -W -f='${Depends}' php-cli 2>/dev/null) ||
    fail "the package php-cli is not installed (scripts/install-deps.sh installs it)"
version=$(grep -oE '(^|[ ,|])php[0-9]+\.[0-9]+-cli\b' <<<"$depends" | head -n 1 |
    sed -E 's/^[ ,|]?php([0-9]+\.[0-9]+)-cli$/\1/') || true
[ -n "$version" ] || fail "cannot tell the PHP version from php-cli's dependencies: $depends"

php=/usr/bin/php$version
[ -x "$php" ] || fail "$php is missing: install php$version-cli (scripts/install-deps.sh)"
reported=$("$php" -n -r 'echo PHP_MAJOR_VERSION, ".", PHP_MINOR_VERSION;') ||
    fail "$php does not run"
[ "$reported" = "$version" ] || fail "$php reports PHP $reported, not $version"
printf '%s\n' "$version"
