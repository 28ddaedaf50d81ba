#!/usr/bin/env bash
# Installs the Debian packages needed to build, assemble the runtime, run and test the panel.
# PHP comes by its version-free package names, that is the distribution's default PHP: 8.2 on
# Debian 12, 8.4 on Debian 13, 8.3 on Ubuntu 24.04. Besides php-cli (which brings OPcache, and
# with php<v>-common exif, fileinfo and sodium) the extensions that applications commonly ask for:
# mysqli and PDO MySQL, mbstring, curl, gd, intl, zip, xml (dom, simplexml, xmlreader/-writer),
# bcmath and imagick. Debian has no version-free php-opcache; every name here exists on 12 and
# 13. Xdebug (php-xdebug) is installed for the panel's step debugging; the distribution turns
# it on for every PHP, but the panel's servers load it only while debugging is switched on.
# Services that the packages would start on their own (MariaDB, Apache) are kept from
# starting: the panel runs its own copies from its runtime directory.
set -euo pipefail

SUDO=()
if [ "$(id -u)" -ne 0 ]; then SUDO=(sudo -E); fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-svg-dev qt6-tools-dev qt6-l10n-tools qt6-tools-dev-tools qt6-translations-l10n
  libgl-dev libxkbcommon-dev
  libarchive-dev libarchive-tools zlib1g-dev
  php-cli php-mysql php-mbstring php-curl php-gd php-intl php-zip php-xml php-bcmath php-imagick
  php-xdebug
  mariadb-server mariadb-client
  phpmyadmin
  rsync zstd procps lsof curl authbind iproute2
  clang libclang-rt-dev clang-format clang-tidy
  fonts-noto-cjk xvfb xauth dbus-daemon
  desktop-file-utils appstream
)

here=$(CDPATH='' cd -- "$(dirname -- "$0")" && pwd)
# The PHP that the runtime is assembled from (packaging/system-php.sh finds its version).
report_php() {
  local version
  version=$(bash "$here/../packaging/system-php.sh") || return 1
  echo "PHP: $version (/usr/bin/php$version)"
}

# The fuzz targets and clang-tidy need clang 16 or later (std::expected); Debian 12's default
# clang is 14.
if [ "$(. /etc/os-release && echo "${VERSION_ID:-}")" = 12 ]; then
  PACKAGES+=(clang-16 libclang-rt-16-dev clang-tidy-16)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  report_php
  exit 0
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# No daemon may start during installation.
policy=/usr/sbin/policy-rc.d
had_policy=0
[ -e "$policy" ] && had_policy=1
if [ $had_policy -eq 0 ]; then
  printf '#!/bin/sh\nexit 101\n' | "${SUDO[@]}" tee "$policy" >/dev/null
  "${SUDO[@]}" chmod +x "$policy"
fi
cleanup() { if [ $had_policy -eq 0 ]; then "${SUDO[@]}" rm -f "$policy"; fi; }
trap cleanup EXIT

echo "phpmyadmin phpmyadmin/dbconfig-install boolean false" | "${SUDO[@]}" debconf-set-selections
echo "phpmyadmin phpmyadmin/reconfigure-webserver multiselect" | "${SUDO[@]}" debconf-set-selections

"${SUDO[@]}" apt-get update -qq
"${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
report_php
