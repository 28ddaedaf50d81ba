#!/usr/bin/env bash
# Tries the README's commands as a new user would, on a fresh minimal Debian system:
#
#   scripts/test-in-chroot.sh SUITE [REVISION]      (as root; SUITE such as bookworm or trixie)
#
# 1. Makes a minimal chroot of SUITE with debootstrap, from the Debian mirror this machine's
#    own package sources name, and gives it what an installed machine has: /etc/hosts,
#    /etc/hostname, package sources with updates and security updates, a resolver.
# 2. Clones this repository at REVISION (default HEAD; committed work only) into /root.
# 3. Runs scripts/install-deps.sh there, with the network.
# 4. Runs the README's test command (scripts/test.sh) and then its run command
#    (scripts/run.sh, on a virtual display, kept open for 30 s) without the network:
#    in namespaces of their own (network with only the loopback device, processes, mounts,
#    host name),
#    so that their ports 3306, 8000 and 900 and their pattern kills never meet this
#    machine's servers. Their port tests hold this machine's port lock file, so that they
#    never overlap with port tests run outside the chroot.
# 5. Copies the window tests' screenshots out (into RESULTS_DIR, default
#    /var/tmp/zelto-chroot-results/SUITE), ends every process whose root is the chroot,
#    unmounts and removes the chroot.
#
# Exits 0 when both commands did what the README says. Takes about 20 minutes or more.
# Settings (environment): MIRROR, SECURITY_MIRROR (default: from this machine's sources, else
# deb.debian.org), CHROOT_PARENT (default /var/tmp), RESULTS_DIR, KEEP_CHROOT=1 (leave the
# chroot in place for inspection; it is still unmounted).
set -euo pipefail

suite=${1:?usage: test-in-chroot.sh SUITE [REVISION]}
revision=${2:-HEAD}
[ "$(id -u)" -eq 0 ] || { echo "test-in-chroot: run this as root" >&2; exit 2; }

repo=$(CDPATH='' cd -- "$(dirname -- "$0")/.." && pwd)
commit=$(git -C "$repo" rev-parse --verify "$revision^{commit}")
lock_file=/tmp/zelto-panel-fixed-ports.lock
results=${RESULTS_DIR:-/var/tmp/zelto-chroot-results/$suite}
started=$(date +%s)

say() { printf '[%s %s] %s\n' "$(date -u +%H:%M:%S)" "$suite" "$*"; }

# --- This machine's Debian mirrors (one-line and deb822 sources alike).
host_uris() { # host_uris SUITE_SUFFIX: URIs of the sources for "<codename><suffix>"
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 0
    cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
        sed -E 's/\[[^]]*\]//' | awk -v s="$codename$1" '$1 == "deb" && $3 == s { print $2 }'
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -e "$f" ] || continue
        awk -v s="$codename$1" '
            /^[[:space:]]*$/ { if (hit) print uri; hit = 0; uri = ""; next }
            tolower($1) == "uris:" { uri = $2 }
            tolower($1) == "suites:" { for (i = 2; i <= NF; i++) if ($i == s) hit = 1 }
            END { if (hit) print uri }' "$f"
    done
}
mirror=${MIRROR:-$(host_uris "" | head -n 1)}
mirror=${mirror:-http://deb.debian.org/debian}
security=${SECURITY_MIRROR:-$(host_uris -security | head -n 1)}
security=${security:-http://deb.debian.org/debian-security}

if ! command -v debootstrap >/dev/null; then
    say "installing debootstrap"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
[ -e "/usr/share/debootstrap/scripts/$suite" ] ||
    { echo "test-in-chroot: this debootstrap does not know the suite $suite" >&2; exit 2; }

mkdir -p "${CHROOT_PARENT:-/var/tmp}"
root=$(mktemp -d "${CHROOT_PARENT:-/var/tmp}/zelto-chroot-$suite.XXXXXX")
chmod 755 "$root"

# --- Cleaning up: only processes whose root directory is this chroot, then the mounts.
chroot_pids() {
    local p
    for p in /proc/[0-9]*; do
        [ "$p/root" -ef "$root" ] 2>/dev/null && printf '%s\n' "${p#/proc/}"
    done
    return 0
}
end_chroot_processes() {
    local pids signal
    for signal in TERM KILL; do
        pids=$(chroot_pids)
        [ -n "$pids" ] || return 0
        say "ending processes rooted in the chroot ($signal): $(tr '\n' ' ' <<<"$pids")"
        # shellcheck disable=SC2086 # one pid a word
        kill -s "$signal" $pids 2>/dev/null || true
        for _ in $(seq 50); do
            [ -z "$(chroot_pids)" ] && return 0
            sleep 0.2
        done
    done
}
mounts_under_root() { awk -v r="$root" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/self/mounts; }
unmount_all() {
    local m
    for m in $(mounts_under_root | sort -r); do
        umount "$m" 2>/dev/null || umount -l "$m" || true
    done
}
cleanup() {
    local status=$?
    trap - EXIT HUP INT TERM
    end_chroot_processes
    unmount_all
    if [ -n "$(mounts_under_root)" ]; then
        say "still mounted, the chroot stays at $root: $(mounts_under_root | tr '\n' ' ')"
    elif [ "${KEEP_CHROOT:-0}" = 1 ]; then
        say "the chroot stays at $root (KEEP_CHROOT=1)"
    else
        rm -rf --one-file-system -- "$root"
    fi
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' HUP INT TERM

# --- 1. The minimal system.
say "debootstrap --variant=minbase $suite from $mirror into $root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$root.debootstrap.log" 2>&1 ||
    { tail -n 30 "$root.debootstrap.log"; rm -f "$root.debootstrap.log"; exit 1; }
rm -f "$root.debootstrap.log"

hostname=zelto-$suite
printf '%s\n' "$hostname" >"$root/etc/hostname"
printf '127.0.0.1\tlocalhost\n127.0.1.1\t%s\n\n::1\tlocalhost ip6-localhost ip6-loopback\nff02::1\tip6-allnodes\nff02::2\tip6-allrouters\n' \
    "$hostname" >"$root/etc/hosts"
rm -f "$root/etc/apt/sources.list"
mkdir -p "$root/etc/apt/sources.list.d"
cat >"$root/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $mirror
Suites: $suite $suite-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $security
Suites: $suite-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
rm -f "$root/etc/resolv.conf"
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

# Kernel file systems, a small /dev of its own, a fresh /tmp; the port lock is this machine's.
mount -t proc proc "$root/proc"
mount -t sysfs -o ro sysfs "$root/sys"
mount -t tmpfs -o mode=755,nosuid dev "$root/dev"
for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 666 "$root/dev/$name" c "$major" "$minor"
done
mkdir -p "$root/dev/pts" "$root/dev/shm"
mount -t devpts -o newinstance,ptmxmode=0666,mode=620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777,nosuid,nodev shm "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$root/tmp"
touch "$lock_file" "$root$lock_file"
mount --bind "$lock_file" "$root$lock_file"

# --- 2. The repository.
say "cloning $repo at $commit"
git clone -q --no-hardlinks "$repo" "$root/root/zelto-panel"
git -C "$root/root/zelto-panel" checkout -q --detach "$commit"

# Runs a command in the chroot, in new process, mount and host-name namespaces (the host name
# being the one /etc/hosts names) and, with --offline, a network namespace with only the
# loopback device up.
in_chroot() {
    local net=() mode=online
    if [ "$1" = --offline ]; then
        net=(--net)
        mode=offline
        shift
    fi
    unshare "${net[@]}" --uts --pid --fork --mount --mount-proc="$root/proc" -- \
        /bin/sh -c 'hostname "$1" || exit 1
            if [ "$2" = offline ]; then ip link set lo up || exit 1; fi
            shift 2
            exec chroot "$@"' \
        sh "$hostname" "$mode" "$root" /usr/bin/env -i HOME=/root USER=root LOGNAME=root \
        TERM=dumb PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        /bin/bash -c "cd /root/zelto-panel || exit 1
$1"
}

# --- 3. The packages, with the network.
say "scripts/install-deps.sh (with the network)"
if ! in_chroot 'bash scripts/install-deps.sh' 2>&1 | sed 's/^/    /'; then
    say "FAIL: scripts/install-deps.sh"
    exit 1
fi
in_chroot '. /etc/os-release; echo "system: $PRETTY_NAME"
    dpkg-query -W -f="\${Package} \${Version}\n" php-cli mariadb-server qt6-base-dev \
        phpmyadmin rsync "libarchive13*" 2>/dev/null | grep -v " $" || true' | sed 's/^/    /'
end_chroot_processes

# --- 4a. The test command, without the network.
say "scripts/test.sh (offline)"
test_start=$(date +%s)
set +e
in_chroot --offline 'bash scripts/test.sh' 2>&1 | tee "$root/test.log" | sed 's/^/    /'
test_status=${PIPESTATUS[0]}
set -e
test_minutes=$((($(date +%s) - test_start + 30) / 60))
summary=$(grep -E 'tests passed|tests failed' "$root/test.log" | tail -n 1 || true)

# --- 4b. The run command: it says it needs a display when there is none, and opens the panel
# (installing the runtime into build-release/Zelto-panel on first show) under a virtual one.
say "scripts/run.sh (offline; first without a display, then on a virtual one for 30 s)"
set +e
in_chroot --offline 'bash scripts/run.sh' >"$root/run.log" 2>&1
no_display_status=$?
# Xvfb is started directly: xvfb-run can miss the server's ready signal on a loaded machine
# and then waits for ever. The namespace's processes end with its first process.
in_chroot --offline 'Xvfb :99 -screen 0 1280x900x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
    for _ in $(seq 300); do [ -S /tmp/.X11-unix/X99 ] && break; sleep 0.1; done
    DISPLAY=:99 timeout -s TERM 30 bash scripts/run.sh' >>"$root/run.log" 2>&1
display_status=$?
set -e
run_ok=0
if [ $no_display_status -eq 2 ] && grep -q 'needs a graphical display' "$root/run.log" &&
    [ $display_status -eq 124 ] &&
    [ -d "$root/root/zelto-panel/build-release/Zelto-panel/runtime/php" ]; then
    run_ok=1
    say "the panel opened and stayed open until it was ended; the runtime was installed"
else
    sed 's/^/    /' "$root/run.log" | tail -n 40
    say "FAIL: scripts/run.sh (without display: status $no_display_status; with Xvfb: status $display_status)"
fi

# --- 5. What people should look at.
rm -rf -- "$results"
mkdir -p "$results"
cp "$root/test.log" "$root/run.log" "$results/"
if [ -d "$root/root/zelto-panel/build/screenshots" ]; then
    cp -r "$root/root/zelto-panel/build/screenshots" "$results/"
fi

total_minutes=$((($(date +%s) - started + 30) / 60))
if [ "$test_status" -eq 0 ] && [ $run_ok -eq 1 ]; then
    say "PASS $suite at $commit: ${summary:-no test summary}; test command ${test_minutes} min, all ${total_minutes} min; results in $results"
    exit 0
fi
say "FAIL $suite at $commit: test command status $test_status (${summary:-no test summary}), run command $([ $run_ok -eq 1 ] && echo ok || echo failed); results in $results"
exit 1
