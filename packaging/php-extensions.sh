#!/bin/bash
# The PHP extensions the runtime carries, with the version-free Debian package of each:
#
#   php-extensions.sh names            the extension names (as extension_loaded() knows them)
#   php-extensions.sh missing PHP      prints the packages of those PHP does not load; status 1
#                                      when there are any
#
# OPcache, exif, fileinfo and sodium come with php-cli (php<v>-cli depends on php<v>-opcache
# and php<v>-common, which holds exif and fileinfo; sodium is built in); Debian has no
# version-free php-opcache.
set -euo pipefail

EXTENSIONS=(
    mysqli:php-mysql pdo_mysql:php-mysql mbstring:php-mbstring curl:php-curl gd:php-gd
    intl:php-intl zip:php-zip dom:php-xml simplexml:php-xml xmlreader:php-xml
    xmlwriter:php-xml bcmath:php-bcmath imagick:php-imagick "Zend OPcache:php-cli"
    exif:php-cli fileinfo:php-cli sodium:php-cli
)

case ${1:-} in
names)
    for entry in "${EXTENSIONS[@]}"; do printf "%s\n" "${entry%%:*}"; done | tr "A-Z " "a-z_"
    ;;
missing)
    php=${2:?usage: php-extensions.sh missing PHP}
    names=()
    for entry in "${EXTENSIONS[@]}"; do names+=("${entry%%:*}"); done
    # The names of those not loaded, one a line.
    absent=$("$php" -r 'foreach (array_slice($argv, 1) as $e) { if (!extension_loaded($e)) echo $e, "\n"; }' -- "${names[@]}") || {
        echo "php-cli (its interpreter does not run)"
        exit 1
    }
    [ -z "$absent" ] && exit 0
    packages=()
    for entry in "${EXTENSIONS[@]}"; do
        if grep -qxF -- "${entry%%:*}" <<<"$absent"; then packages+=("${entry#*:}"); fi
    done
    printf '%s\n' "$(printf '%s\n' "${packages[@]}" | sort -u | tr '\n' ' ' | sed 's/ $//')"
    exit 1
    ;;
*)
    echo "usage: php-extensions.sh names | missing PHP" >&2
    exit 2
    ;;
esac
