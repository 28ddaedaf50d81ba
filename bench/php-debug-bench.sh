#!/usr/bin/env bash
# What the step debugger costs the site while it is off, and while it is on:
#
#   bench/php-debug-bench.sh [BUILD_DIR]     (default: build-release if it has the panel, else build)
#
# The median latency of the sample site's front page (index.php) at one client, with wrk, for
# BENCH_SECONDS (10) a run in BENCH_ROUNDS (3) rounds that take the servers in turn:
#   - off:     the panel's site server with debugging off (Xdebug installed, not loaded);
#   - before:  the same PHP started by hand as the panel started it before it knew of Xdebug,
#              on a system without Xdebug (the distribution's ini files but Xdebug's, copied),
#              on BENCH_BEFORE_PORT (8084);
#   - loaded:  the same, reading the distribution's directory as it is, which loads Xdebug
#              (what the panel's servers would do without their mirror), on BENCH_LOADED_PORT
#              (8085);
#   - on:      the panel's site server with debugging on, requests without the trigger.
# Goal: off / before <= 1.02. It prints the figures and asserts nothing.
#
# It runs the build's runtime from a temporary root, holds the machine's lock of the fixed
# ports as the end-to-end tests do, and stops everything it started when it ends. wrk comes
# from apt-get when missing.
set -euo pipefail

source "$(dirname -- "$0")/panel-stack.sh"
bench_find_panel "${1:-}"
seconds=${BENCH_SECONDS:-10}
rounds=${BENCH_ROUNDS:-3}
before_port=${BENCH_BEFORE_PORT:-8084}
loaded_port=${BENCH_LOADED_PORT:-8085}
if ! command -v wrk >/dev/null; then
    SUDO=()
    [ "$(id -u)" -eq 0 ] || SUDO=(sudo -E)
    DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq --no-install-recommends wrk >/dev/null
fi

bench_hold_ports
bench_make_root /tmp zelto-debug-bench
pids=()
cleanup() {
    set +e
    for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
    bench_end_root
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
bench_ports_free 3306 8000 900 "$before_port" "$loaded_port"
bench_start_stack
php=$(ls "$R"/php/PHP*/bin/php | head -1)
distribution=$("$php" -n -r 'echo PHP_CONFIG_FILE_SCAN_DIR;')
[ -e "$distribution/20-xdebug.ini" ] || [ -n "$(ls "$distribution" | grep -i xdebug)" ] ||
    echo "note: the distribution's PHP does not load Xdebug here (is php-xdebug installed?)" >&2
mkdir -p "$tmp/without-xdebug"
for f in "$distribution"/*; do
    case ${f,,} in *xdebug*) ;; *) cp -L -- "$f" "$tmp/without-xdebug/" ;; esac
done
workers=$(($(ps -e -o pgid= | awk -v g="$(cat "$R/config/php-web.pid")" '$1 == g' | wc -l) - 1))
start_by_hand() { # start_by_hand PORT SCAN_DIR
    (cd "$root" && PHP_INI_SCAN_DIR=$2 PHP_CLI_SERVER_WORKERS=$workers exec setsid "$php" -S "127.0.0.1:$1" -t "$R/www" >"$tmp/server-$1.log" 2>&1) &
    pids+=($!)
    for _ in $(seq 100); do
        curl -sf -o /dev/null --max-time 2 "http://127.0.0.1:$1/" && return 0
        sleep 0.1
    done
    echo "the server on $1 did not start:" >&2
    cat "$tmp/server-$1.log" >&2
    exit 1
}
start_by_hand "$before_port" "$tmp/without-xdebug:runtime/config/php/common:runtime/config/php/site"
start_by_hand "$loaded_port" ":runtime/config/php/common:runtime/config/php/site"
loaded_check() { curl -s "http://127.0.0.1:$1/" | grep -q 'data-extension="xdebug"' && echo "Xdebug loaded" || echo "no Xdebug"; }

median_ms() { # median_ms URL: the median latency of one wrk run at one client
    wrk -t1 -c1 -d2s "$1" >/dev/null 2>&1
    wrk -t1 -c1 -d"${seconds}s" --latency "$1" | awk '
        function ms(v) {
            if (v ~ /us$/) return substr(v, 1, length(v) - 2) / 1000
            if (v ~ /ms$/) return substr(v, 1, length(v) - 2) + 0
            if (v ~ /s$/) return substr(v, 1, length(v) - 1) * 1000
            return v + 0
        }
        $1 == "50%" { printf "%.3f\n", ms($2) }'
}
mid() { tr ' ' '\n' <<<"$1" | grep . | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
off='' before='' loaded='' on=''
echo "front page: off $(loaded_check 8000), before $(loaded_check "$before_port"), loaded $(loaded_check "$loaded_port")"
for _ in $(seq "$rounds"); do
    off+=" $(median_ms http://127.0.0.1:8000/)"
    before+=" $(median_ms "http://127.0.0.1:$before_port/")"
    loaded+=" $(median_ms "http://127.0.0.1:$loaded_port/")"
done
"$cli" debug on >"$tmp/debug.log" 2>&1 || { echo "debug on failed:" >&2; cat "$tmp/debug.log" >&2; exit 1; }
echo "front page with debugging on: $(loaded_check 8000)"
for _ in $(seq "$rounds"); do
    on+=" $(median_ms http://127.0.0.1:8000/)"
done
echo "median latency of index.php at 1 client (ms), median of $rounds rounds of ${seconds} s; $workers workers each"
printf '  %-52s %8s   rounds:%s\n' "off (the panel's server, Xdebug not loaded)" "$(mid "$off")" "$off"
printf '  %-52s %8s   rounds:%s\n' "before (no Xdebug on the system)" "$(mid "$before")" "$before"
printf '  %-52s %8s   rounds:%s\n' "the distribution's directory as is (Xdebug loaded)" "$(mid "$loaded")" "$loaded"
printf '  %-52s %8s   rounds:%s\n' "on (the panel's server, no trigger)" "$(mid "$on")" "$on"
awk -v a="$(mid "$off")" -v b="$(mid "$before")" 'BEGIN { printf "off / before: %.3f (goal: at most 1.02)\n", a / b }'
