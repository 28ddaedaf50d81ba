#!/usr/bin/env bash
# The panel's site server beside nginx + php-fpm, serving the same page with the same PHP:
#
#   bench/php-site-bench.sh [BUILD_DIR]       (default: build-release if it has the panel, else build)
#
# The page is the sample site's catalog.php (a few queries through "localhost", about 50 KB of
# HTML). The panel's stack runs from a temporary installed root: a copy of the build's
# zelto-panel-cli in a temporary application directory installs the runtime beside itself and
# starts it (preferences in the temporary directory too); nginx and a
# php-fpm pool (pm = static, as many children as the panel's server has workers, the same ini
# directories as the panel's site server) run from configuration files in the same directory.
# wrk measures each at 1 and at 8 concurrent clients for BENCH_SECONDS (10) after a warm-up, in
# BENCH_ROUNDS (3) rounds; for scale, also the same PHP server without workers
# (BENCH_SINGLE_PORT, 8082).
# It prints the figures and the ratios beside their goals; it asserts nothing.
#
# It installs what it needs (nginx, php-fpm, wrk) with apt-get, keeping their services from
# starting, holds the machine's lock of the fixed ports as the end-to-end tests do, uses 3306,
# 8000, 900 and BENCH_NGINX_PORT (8081), and stops everything it started by pid when it ends.
set -euo pipefail

source "$(dirname -- "$0")/panel-stack.sh"
bench_find_panel "${1:-}"
seconds=${BENCH_SECONDS:-10}
rounds=${BENCH_ROUNDS:-3}
nginx_port=${BENCH_NGINX_PORT:-8081}
single_port=${BENCH_SINGLE_PORT:-8082}

# --- What the comparison needs, never through scripts/install-deps.sh.
SUDO=()
[ "$(id -u)" -eq 0 ] || SUDO=(sudo -E)
need=()
for p in nginx php-fpm wrk; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    policy=/usr/sbin/policy-rc.d
    own_policy=0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\nexit 101\n' | "${SUDO[@]}" tee "$policy" >/dev/null
        "${SUDO[@]}" chmod +x "$policy"
        own_policy=1
    fi
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
    [ $own_policy -eq 0 ] || "${SUDO[@]}" rm -f "$policy"
fi
php_version=$(bash "$(dirname -- "$0")/../packaging/system-php.sh")
fpm=/usr/sbin/php-fpm$php_version
[ -x "$fpm" ] || { echo "$fpm is missing" >&2; exit 1; }

# The machine's port lock, held until the end (the end-to-end tests take the same).
bench_hold_ports
bench_make_root /tmp zelto-php-bench
nginx_pid='' fpm_pid='' single_pid=''

cleanup() {
    set +e
    [ -z "$nginx_pid" ] || stop_pid "$nginx_pid"
    [ -z "$fpm_pid" ] || stop_pid "$fpm_pid"
    [ -z "$single_pid" ] || stop_pid "$single_pid"
    bench_end_root
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

bench_ports_free 3306 8000 900 "$nginx_port" "$single_port"

# --- The panel's stack.
bench_start_stack
page=$(curl -s --max-time 30 "http://127.0.0.1:8000/catalog.php")
grep -q 'data-rows="200"' <<<"$page" || { echo "catalog.php does not work: ${page:0:500}" >&2; exit 1; }
leader=$(cat "$R/config/php-web.pid")
serving=$(ps -e -o pgid= | awk -v g="$leader" '$1 == g' | wc -l)
workers=$((serving - 1))

# --- nginx + php-fpm over the same site, with the same PHP settings.
# The same ini directories as the panel's site server: the mirror of the distribution's (without
# Xdebug's file), then the panel's own.
scan_dir="$R/config/php/distribution:$R/config/php/common:$R/config/php/site"
cat >"$tmp/php-fpm.conf" <<EOF
[global]
pid = $tmp/php-fpm.pid
error_log = $tmp/php-fpm.log
daemonize = no

[bench]
user = $(id -un)
listen = $tmp/php-fpm.sock
pm = static
pm.max_children = $workers
env[PHP_INI_SCAN_DIR] = $scan_dir
EOF
PHP_INI_SCAN_DIR=$scan_dir "$fpm" -R -y "$tmp/php-fpm.conf" &
fpm_pid=$!
mkdir -p "$tmp/nginx"
cat >"$tmp/nginx.conf" <<EOF
daemon off;
user $(id -un);
worker_processes auto;
pid $tmp/nginx.pid;
error_log $tmp/nginx-error.log;
events { worker_connections 256; }
http {
    access_log off;
    client_body_temp_path $tmp/nginx/body;
    fastcgi_temp_path $tmp/nginx/fastcgi;
    proxy_temp_path $tmp/nginx/proxy;
    uwsgi_temp_path $tmp/nginx/uwsgi;
    scgi_temp_path $tmp/nginx/scgi;
    server {
        listen 127.0.0.1:$nginx_port;
        root $R/www;
        location ~ \.php\$ {
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
            fastcgi_pass unix:$tmp/php-fpm.sock;
        }
    }
}
EOF
nginx -c "$tmp/nginx.conf" -p "$tmp/nginx" &
nginx_pid=$!
for _ in $(seq 100); do
    curl -sf -o /dev/null --max-time 2 "http://127.0.0.1:$nginx_port/catalog.php" && break
    sleep 0.1
done
fpm_page=$(curl -s --max-time 30 "http://127.0.0.1:$nginx_port/catalog.php")
grep -q 'data-rows="200"' <<<"$fpm_page" || { echo "nginx + php-fpm do not serve catalog.php: ${fpm_page:0:500}" >&2; cat "$tmp/nginx-error.log" "$tmp/php-fpm.log" >&2; exit 1; }

# For scale: the same server without workers, as the panel ran it before.
(cd "$root" && PHP_INI_SCAN_DIR=$scan_dir exec "$R/php/PHP$php_version/bin/php" -S "127.0.0.1:$single_port" -t "$R/www" >"$tmp/single.log" 2>&1) &
single_pid=$!
for _ in $(seq 100); do
    curl -sf -o /dev/null --max-time 2 "http://127.0.0.1:$single_port/catalog.php" && break
    sleep 0.1
done

# --- Measure: "requests/s median_ms [(errors)]" of one wrk run.
measure() { # measure URL CLIENTS
    local out threads=$(($2 < 2 ? 1 : 2))
    wrk -t"$threads" -c"$2" -d2s "$1" >/dev/null 2>&1 # warm-up
    out=$(wrk -t"$threads" -c"$2" -d"${seconds}s" --latency "$1")
    [ -z "${BENCH_VERBOSE:-}" ] || printf '%s\n' "$out" >&2
    awk '
        function ms(v) {
            if (v ~ /us$/) return substr(v, 1, length(v) - 2) / 1000
            if (v ~ /ms$/) return substr(v, 1, length(v) - 2) + 0
            if (v ~ /s$/) return substr(v, 1, length(v) - 1) * 1000
            return v + 0
        }
        /Requests\/sec:/ { rps = $2 }
        $1 == "50%" { median = ms($2) }
        / Non-2xx or 3xx responses:/ { bad = $5 }
        # The PHP server closes every connection after its answer, which wrk counts as a read
        # error; refused connections and time-outs are real ones.
        /Socket errors:/ { if ($4 != "0," || $10 != "0") errors = 1 }
        END { printf "%.1f %.2f %s\n", rps, median, (bad != "" || errors) ? "(errors)" : "" }
    ' <<<"$out"
}
# Rounds that take the three stacks in turn, so that a machine busy with something else for a
# while weighs on all of them; each figure is the median of its rounds.
declare -A rps median flags urls
urls=([panel]=http://127.0.0.1:8000/catalog.php [fpm]=http://127.0.0.1:$nginx_port/catalog.php
    [single]=http://127.0.0.1:$single_port/catalog.php)
for _ in $(seq "$rounds"); do
    for clients in 1 8; do
        for stack in panel fpm single; do
            read -r r m e < <(measure "${urls[$stack]}" "$clients")
            rps[$stack.$clients]+="$r "
            median[$stack.$clients]+="$m "
            flags[$stack.$clients]+="$e"
        done
    done
done
mid() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
row() { # row LABEL STACK CLIENTS
    printf '%-28s %8d %14s %14s   %s%s\n' "$1" "$3" "$(mid "${rps[$2.$3]}")" "$(mid "${median[$2.$3]}")" \
        "rounds: ${rps[$2.$3]}" "${flags[$2.$3]:+ (errors)}"
}
p8=$(mid "${rps[panel.8]}") f8=$(mid "${rps[fpm.8]}")
pm1=$(mid "${median[panel.1]}") fm1=$(mid "${median[fpm.1]}")

bytes=${#page}
echo "page: catalog.php, $((bytes / 1024)) KB of HTML, 3 queries through localhost; PHP $php_version, $(nproc) processors"
echo "panel's site server: PHP_CLI_SERVER_WORKERS=$workers ($serving processes serving); php-fpm: pm = static, $workers children; wrk ${seconds} s a run, median of $rounds rounds"
printf '%-28s %8s %14s %14s\n' "stack" "clients" "requests/s" "median (ms)"
row "panel (php -S, workers)" panel 1
row "nginx + php-fpm" fpm 1
row "php -S without workers" single 1
row "panel (php -S, workers)" panel 8
row "nginx + php-fpm" fpm 8
row "php -S without workers" single 8
awk -v p8="$p8" -v f8="$f8" -v pm1="$pm1" -v fm1="$fm1" 'BEGIN {
    printf "throughput at 8 clients, panel / nginx+php-fpm: %.2f (goal: at least 0.95)\n", p8 / f8
    printf "median latency at 1 client, panel / nginx+php-fpm: %.2f (goal: at most 1.05)\n", pm1 / fm1
}'
