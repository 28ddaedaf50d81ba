#!/usr/bin/env bash
# The database's snapshots beside the same work by hand, on the real MariaDB of the runtime:
#
#   bench/backup-bench.sh [BUILD_DIR]      (default: build-release if it has the panel, else build)
#
# 1. A generated database of BENCH_DB_MB (200) MB of tables (rows of text, numbers, dates and a
#    small binary column, with an index), then in BENCH_ROUNDS (3) rounds, the order of the two
#    sides changing from round to round:
#    - backup: `zelto-panel-cli backup` beside the same dump by hand
#      (`mysqldump --single-transaction --routines --triggers --events --hex-blob --databases …
#      | zstd -q -3 -T0 -o FILE`, the options the panel uses);
#    - restore: `zelto-panel-cli restore NAME` (it checks the snapshot, takes a snapshot of the
#      current state and loads the chosen one) beside the same by hand (the same dump, then
#      `zstd -dc FILE | mysql`), and its loading step alone beside `zstd -dc FILE | mysql`.
# 2. What an update of a site of BENCH_SITE_FILES (20,000) files gains from its snapshot of a
#    database of BENCH_UPDATE_DB_MB (20) MB: `zelto-panel-cli update --from URL` with that
#    database beside the same update with no user database (nothing to dump), in rounds.
# 3. The panel's peak resident memory (VmHWM of the command-line panel's own process; the dump
#    and compression programs are separate processes) in each run, goal <= 64 MB.
# The steps' times come from the panel's progress lines. It prints the figures beside their
# goals and asserts nothing.
#
# The panel runs from a temporary installed root under /var/tmp (a real disk): a copy of the
# build's zelto-panel-cli with the build's runtime beside it. It holds the machine's lock of
# the fixed ports as the end-to-end tests do, uses 3306, 8000, 900 and BENCH_HTTP_PORT (8083)
# for the package, and stops everything it started when it ends.
set -euo pipefail

source "$(dirname -- "$0")/panel-stack.sh"
bench_find_panel "${1:-}"
rounds=${BENCH_ROUNDS:-3}
db_mb=${BENCH_DB_MB:-200}
update_db_mb=${BENCH_UPDATE_DB_MB:-20}
site_files=${BENCH_SITE_FILES:-20000}
http_port=${BENCH_HTTP_PORT:-8083}
for tool in zstd python3 bsdtar; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

bench_hold_ports
bench_make_root /var/tmp zelto-backup-bench
http_pid=''
cleanup() {
    set +e
    [ -z "$http_pid" ] || stop_pid "$http_pid"
    bench_end_root
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM
bench_ports_free 3306 8000 900 "$http_port"
mkdir -p "$tmp/hand"
bench_start_stack
mysql=("$R/mysql/bin/mysql" -uroot -pkpzw)
mysqldump=("$R/mysql/bin/mysqldump" -uroot -pkpzw)
sql() { "${mysql[@]}" -N -B -e "$1"; }
megabytes_of() { # the tables' size of database $1 in MB
    sql "ANALYZE TABLE $1.orders" >/dev/null
    sql "SELECT ROUND(SUM(data_length + index_length) / 1048576) FROM information_schema.tables WHERE table_schema = '$1'"
}
# A database of about $2 MB named $1: rows of about 700 bytes in batches of 20,000.
make_database() {
    local name=$1 target=$2 next=1
    sql "DROP DATABASE IF EXISTS $name; CREATE DATABASE $name CHARACTER SET utf8mb4;
         CREATE TABLE $name.orders (id INT PRIMARY KEY, customer VARCHAR(64) NOT NULL,
           note TEXT NOT NULL, amount DECIMAL(12,2) NOT NULL, created DATETIME NOT NULL,
           digest VARBINARY(32) NOT NULL, KEY (customer)) ENGINE=InnoDB"
    while [ "$(megabytes_of "$name")" -lt "$target" ]; do
        sql "INSERT INTO $name.orders SELECT seq, CONCAT('客户 ', MD5(seq DIV 7)),
               CONCAT_WS(' ', SHA2(seq, 512), MD5(seq * 3), '订单备注 order note', SHA2(seq * 11, 512),
                         REPEAT(CHAR(65 + seq % 26), 40 + seq % 200)),
               (seq * 37 % 100000) / 100, '2026-01-01' + INTERVAL (seq % 300000) MINUTE,
               UNHEX(SHA2(seq, 256))
             FROM $name.seq_${next}_to_$((next + 19999))"
        next=$((next + 20000))
    done
}

# Runs the command-line panel with args, one progress line per step; prints
# "total_ms peak_kib" and leaves each output line, after its time since the start (ms), in
# $tmp/steps.
panel_timed() {
    local start pid reader peak=0 hwm now
    start=$(date +%s%N)
    : >"$tmp/steps"
    "$cli" "$@" 2>&1 | while IFS= read -r line; do
        printf '%s\t%s\n' "$((($(date +%s%N) - start) / 1000000))" "$line" >>"$tmp/steps"
    done &
    reader=$!
    pid=''
    # The panel's own pid, for its memory.
    for _ in $(seq 100); do
        pid=$(pgrep -n -f -- "^$(sed 's/[][\.|$(){}?+*^]/\\&/g' <<<"$cli") $1") && break
        sleep 0.01
    done
    while [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; do
        hwm=$(awk '/^VmHWM:/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
        [ -z "$hwm" ] || peak=$hwm
        sleep 0.05
    done
    wait "$reader"
    now=$(date +%s%N)
    grep -q '=== .*完成 ===' "$tmp/steps" || { echo "zelto-panel-cli $* failed:" >&2; cut -f2- "$tmp/steps" >&2; exit 1; }
    echo "$(((now - start) / 1000000)) $peak"
}
# The time (ms) from the progress line starting with "$1" to the next line after it.
step_ms() {
    awk -F'\t' -v step="$1" '
        found && !done { print $1 - since; done = 1 }
        !found && index($2, step) > 0 { found = 1; since = $1 }
        END { if (!done) print 0 }' "$tmp/steps"
}
by_hand() { # by_hand COMMAND: wall ms of bash -c COMMAND
    local start
    sync
    start=$(date +%s%N)
    bash -c "$1"
    echo $((($(date +%s%N) - start) / 1000000))
}
median() { tr ' ' '\n' | grep -v '^$' | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
max_of() { tr ' ' '\n' | grep -v '^$' | sort -n | tail -1; }

dump_options="--single-transaction --routines --triggers --events --hex-blob"
hand_file=$tmp/hand/dump.sql.zst

echo "generating a database of $db_mb MB…"
make_database bench "$db_mb"
echo "database: $(megabytes_of bench) MB of tables, $(sql 'SELECT COUNT(*) FROM bench.orders') rows"
backup_panel='' backup_hand='' backup_sync='' restore_panel='' restore_hand='' load_panel='' load_hand='' peaks=''
for round in $(seq "$rounds"); do
    run_panel_backup() {
        panel_timed backup >"$tmp/run"; read -r ms kib <"$tmp/run"
        backup_panel+=" $ms" peaks+=" $kib"
        sync
    }
    run_hand_backup() {
        rm -f "$hand_file"
        ms=$(by_hand "$(printf '%q ' "${mysqldump[@]}") $dump_options --databases bench | zstd -q -3 -T0 -o $hand_file")
        backup_hand+=" $ms"
        # The panel also makes its file durable before naming it.
        start=$(date +%s%N)
        sync -- "$hand_file"
        backup_sync+=" $((($(date +%s%N) - start) / 1000000))"
        sync
    }
    if [ $((round % 2)) -eq 1 ]; then run_panel_backup; run_hand_backup; else run_hand_backup; run_panel_backup; fi
    name=$("$cli" backups --json | python3 -c 'import json,sys; print(json.load(sys.stdin)["snapshots"][0]["name"])')

    run_panel_restore() {
        panel_timed restore "$name" >"$tmp/run"; read -r ms kib <"$tmp/run"
        restore_panel+=" $ms" peaks+=" $kib" load_panel+=" $(step_ms 正在恢复数据库)"
        sync
    }
    run_hand_restore() {
        local safety load
        safety=$(by_hand "$(printf '%q ' "${mysqldump[@]}") $dump_options --databases bench | zstd -q -3 -T0 -o $tmp/hand/safety.sql.zst")
        load=$(by_hand "zstd -dc $hand_file | $(printf '%q ' "${mysql[@]}")")
        restore_hand+=" $((safety + load))" load_hand+=" $load"
        rm -f "$tmp/hand/safety.sql.zst"
        sync
    }
    if [ $((round % 2)) -eq 1 ]; then run_panel_restore; run_hand_restore; else run_hand_restore; run_panel_restore; fi
    printf '  round %d: backup panel %s ms, by hand %s ms; restore panel %s ms (loading %s ms), by hand %s ms (loading %s ms)\n' \
        "$round" "${backup_panel##* }" "${backup_hand##* }" "${restore_panel##* }" "${load_panel##* }" \
        "${restore_hand##* }" "${load_hand##* }"
    # The snapshots of this round go; the disk's free space stays the same for every round.
    rm -rf -- "$root/backups"
done

# --- The update's snapshot.
echo "generating a site of $site_files files and a database of $update_db_mb MB…"
sql "DROP DATABASE bench"
python3 - "$tmp/package/zelto-2.0/www" "$site_files" <<'EOF'
import os, random, sys
top, files = sys.argv[1], int(sys.argv[2])
random.seed(20261211)
areas = [("include", 0.2), ("LibZelto", 0.35), ("Data", 0.25), ("static", 0.2)]
os.makedirs(top)
with open(os.path.join(top, "index.php"), "w") as f:
    f.write("<?php echo 'site';\n")
made = 1
for area, share in areas:
    for i in range(int(files * share)):
        if made >= files:
            break
        d = os.path.join(top, area, "d%d" % (i // 100))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%d.php" % i), "wb") as f:
            f.write(random.randbytes(random.randint(1, 20000)).hex().encode()[: random.randint(1, 20000)])
        made += 1
EOF
(cd "$tmp/package" && bsdtar -a -cf ../zelto-update.zip zelto-2.0)
rm -rf -- "$tmp/package"
(cd "$tmp" && exec python3 -m http.server -b 127.0.0.1 "$http_port" >"$tmp/http.log" 2>&1) &
http_pid=$!
for _ in $(seq 100); do
    curl -sf -o /dev/null --max-time 2 "http://127.0.0.1:$http_port/zelto-update.zip" && break
    sleep 0.1
done
url=http://127.0.0.1:$http_port/zelto-update.zip
echo "package: $(du -m "$tmp/zelto-update.zip" | cut -f1) MB zipped"
"$cli" update --from "$url" >/dev/null 2>&1 # the site exists before the measured runs
# The database is made once; between the runs without it, its table waits in the server's own
# schema, which snapshots leave out, so that no run meets the writes of a fresh database.
make_database shop "$update_db_mb"
echo "database for the update: $(megabytes_of shop) MB of tables"
sql "RENAME TABLE shop.orders TO mysql.zelto_bench_orders; DROP DATABASE shop"
update_rounds=${BENCH_UPDATE_ROUNDS:-5}
with_db='' without_db='' waits=''
for round in $(seq "$update_rounds"); do
    with() {
        sql "CREATE DATABASE shop; RENAME TABLE mysql.zelto_bench_orders TO shop.orders"
        sync
        panel_timed update --from "$url" >"$tmp/run"; read -r ms kib <"$tmp/run"
        grep -q '更新前的数据库快照' "$tmp/steps" || { echo "the update took no snapshot:" >&2; cut -f2- "$tmp/steps" >&2; exit 1; }
        with_db+=" $ms" peaks+=" $kib" waits+=" $(step_ms 正在备份数据库)"
        sql "RENAME TABLE shop.orders TO mysql.zelto_bench_orders; DROP DATABASE shop"
        rm -rf -- "$root/backups"
        sync
    }
    without() {
        panel_timed update --from "$url" >"$tmp/run"; read -r ms kib <"$tmp/run"
        without_db+=" $ms" peaks+=" $kib"
        sync
    }
    if [ $((round % 2)) -eq 1 ]; then with; without; else without; with; fi
    printf '  round %d: update with a %s MB database %s ms (waiting for its snapshot %s ms), with no user database %s ms\n' \
        "$round" "$update_db_mb" "${with_db##* }" "${waits##* }" "${without_db##* }"
done

echo
echo "medians over $rounds rounds, $update_rounds for the update (the machine is shared; figures vary):"
b_p=$(median <<<"$backup_panel") b_h=$(median <<<"$backup_hand")
r_p=$(median <<<"$restore_panel") r_h=$(median <<<"$restore_hand")
l_p=$(median <<<"$load_panel") l_h=$(median <<<"$load_hand")
u_w=$(median <<<"$with_db") u_o=$(median <<<"$without_db")
b_s=$(median <<<"$backup_sync")
echo "backup of $db_mb MB: panel $b_p ms, by hand $b_h ms, ratio $(ratio "$b_p" "$b_h")x (goal <= 1.10x)"
echo "  by hand with its file made durable as the panel does (+ sync FILE, $b_s ms): ratio $(ratio "$b_p" "$((b_h + b_s))")x"
echo "restore of $db_mb MB (a snapshot of the current state, then the load): panel $r_p ms, by hand $r_h ms, ratio $(ratio "$r_p" "$r_h")x (goal <= 1.10x)"
echo "  its loading alone: panel $l_p ms, by hand (zstd -dc | mysql) $l_h ms, ratio $(ratio "$l_p" "$l_h")x"
echo "update of $site_files files: with a $update_db_mb MB database $u_w ms, with none $u_o ms: the snapshot costs $((u_w - u_o)) ms (goal <= 500 ms); the update waited for it $(median <<<"$waits") ms"
echo "peak resident memory of the panel: $(($(max_of <<<"$peaks") / 1024)) MB over all runs (goal <= 64 MB)"
