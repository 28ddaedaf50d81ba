# What the benchmarks that run the panel's stack share; sourced, not run:
#
#   source "$(dirname -- "$0")/panel-stack.sh"
#   bench_find_panel "${1:-}"       # cli, runtime: the build's (build-release, else build)
#   bench_hold_ports                # the machine's lock of the fixed ports, until the end
#   bench_make_root /var/tmp NAME   # tmp, root, R, XDG_CONFIG_HOME: a temporary installed root
#   bench_ports_free 3306 8000 ...  # exits when one answers
#   bench_start_stack               # cli: a copy of the build's beside its runtime, started
#   stop_pid PID...                 # SIGTERM, then SIGKILL after 5 s
#   bench_end_root                  # the stack stopped, what runs from the root ended, removed

bench_find_panel() { # bench_find_panel [BUILD_DIR]
    local source_dir build=$1
    source_dir=$(CDPATH='' cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)
    if [ -z "$build" ]; then
        build=$source_dir/build-release
        [ -x "$build/bin/zelto-panel-cli" ] || build=$source_dir/build
    fi
    cli=$build/bin/zelto-panel-cli
    runtime=$build/bin/resources/runtime
    [ -x "$cli" ] && [ -d "$runtime/mysql/bin" ] || {
        echo "no panel in $build: build it first (cmake --preset release && cmake --build build-release)" >&2
        exit 1
    }
}

bench_hold_ports() {
    exec 9>"${ZELTO_PORTS_LOCK_FILE:-/tmp/zelto-panel-fixed-ports.lock}"
    flock 9
}

bench_make_root() { # bench_make_root PARENT NAME
    tmp=$(mktemp -d "$1/$2.XXXXXX")
    root=$tmp/Zelto-panel
    R=$root/runtime
    export XDG_CONFIG_HOME=$tmp/config
}

bench_ports_free() { # bench_ports_free PORT...
    local port
    for port in "$@"; do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            echo "port $port is taken: stop what runs there" >&2
            exit 1
        fi
    done
}

bench_start_stack() {
    mkdir -p "$tmp/app/resources" "$XDG_CONFIG_HOME"
    cp -- "$cli" "$tmp/app/"
    cp -a -- "$runtime" "$tmp/app/resources/runtime"
    cli=$tmp/app/zelto-panel-cli
    "$cli" start >"$tmp/start.log" 2>&1 ||
        { echo "the panel's stack did not start:" >&2; cat "$tmp/start.log" >&2; exit 1; }
    [ "$("$cli" root)" = "$root" ] || { echo "the panel runs another root: $("$cli" root)" >&2; exit 1; }
}

stop_pid() { # stop_pid PID...
    local pid tries
    for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
    for pid in "$@"; do
        tries=50
        while kill -0 "$pid" 2>/dev/null && [ $tries -gt 0 ]; do sleep 0.1; tries=$((tries - 1)); done
        kill -KILL "$pid" 2>/dev/null || true
    done
}

bench_end_root() {
    local left
    [ -n "${tmp:-}" ] || return 0
    [ ! -x "$tmp/app/zelto-panel-cli" ] || [ ! -d "$R" ] || "$tmp/app/zelto-panel-cli" stop >/dev/null 2>&1
    # What still runs from this temporary root only.
    mapfile -t left < <(pgrep -f -- "$(sed 's/[][\.|$(){}?+*^]/\\&/g' <<<"$tmp/")")
    [ ${#left[@]} -eq 0 ] || stop_pid "${left[@]}"
    rm -rf -- "$tmp"
}
