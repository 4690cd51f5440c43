#!/usr/bin/env bash
# Installs the Debian package on a fresh Debian 12 and flashes with it there, as a user does.
#
# Builds the package from a build folder, makes a minimal Debian 12 (bookworm) root with
# debootstrap from the mirror apt uses here, installs the package in it with
#   apt-get install -y --no-install-recommends ./quenta_*.deb
# so that apt brings in only what the package's Depends name, then as an ordinary user starts the
# simulated board, flashes a sample firmware into the default journal and reads the job back.
#
# Usage: fresh-install.sh BUILD_FOLDER [DEB]
#   DEB: install this package instead of building one from BUILD_FOLDER.
#        fresh-install.sh --root-only BUILD_FOLDER
#   only makes the minimal root, when it is not kept yet: the slow part, which needs no build.
# Needs root (chroot and mounts) and Debian's mirror: without either it skips with status 77.
# The minimal root, apt's lists and the packages apt fetched are kept in
# BUILD_FOLDER/tests/package/bookworm/, so that a second run fetches nothing it has; each run
# installs into a fresh copy of that root and removes the copy at the end.
# QUENTA_DEBIAN_MIRROR, when set, names the mirror instead of apt's sources.
set -euo pipefail

skip() {
    echo "SKIP: $*" >&2
    exit 77
}
fail() {
    echo "FAIL: $*" >&2
    exit 1
}
step() {
    printf '[%4d s] %s\n' "$((SECONDS - started))" "$*"
}
# The last lines of a log, to say why a step failed.
show() { # LOG
    echo "---- last lines of $(basename "$1") ----" >&2
    tail -n 40 "$1" >&2 || true
    echo "----" >&2
}

root_only=false
if [ "${1:-}" = --root-only ]; then
    root_only=true
    shift
    [ $# -eq 1 ] || fail "usage: fresh-install.sh --root-only BUILD_FOLDER"
fi
[ $# -ge 1 ] && [ $# -le 2 ] || fail "usage: fresh-install.sh BUILD_FOLDER [DEB]"
[ "$(id -u)" -eq 0 ] || skip "installing into a Debian root needs root (chroot, mount)"
! "$root_only" || mkdir -p "$1"
build="$(cd "$1" && pwd -P)"
given_deb=""
[ $# -eq 2 ] && given_deb="$(realpath "$2")"
started=$SECONDS
suite=bookworm
for tool in debootstrap chroot mount umount wget flock; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (bash scripts/setup.sh installs it)"
done

# ---- The mirror: the one apt's sources name for Debian 12, in the one-line or the deb822 format.
# Prints "URI SUITE" for each enabled binary source.
apt_sources() {
    local file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$file" ] || continue
        awk '$1 == "deb" {
            i = 2
            if ($i ~ /^\[/) { while (i < NF && $i !~ /\]$/) i++; i++ }
            if (i < NF) print $i, $(i + 1)
        }' "$file"
    done
    for file in /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] || continue
        awk '
        function flush(   nu, ns, u, s, i, j) {
            if (types ~ /(^|[ \t])deb([ \t]|$)/ && tolower(enabled) !~ /^(no|false|0)$/) {
                nu = split(uris, u); ns = split(suites, s)
                for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++) print u[i], s[j]
            }
            types = uris = suites = enabled = field = ""
        }
        /^#/ { next }
        /^[ \t]*$/ { flush(); next }
        {
            if ($0 ~ /^[ \t]/) value = $0
            else { field = tolower($0); sub(/:.*/, "", field); value = $0; sub(/^[^:]*:/, "", value) }
            if (field == "types") types = types " " value
            else if (field == "uris") uris = uris " " value
            else if (field == "suites") suites = suites " " value
            else if (field == "enabled") { enabled = value; gsub(/[ \t]/, "", enabled) }
        }
        END { flush() }' "$file"
    done
}
sources="$(apt_sources | sed 's|/*\( \)|\1|' | awk -v s="$suite" '$2 ~ "^" s "(-updates|-security)?$"' |
    sort -u -k2,2)"
mirror="${QUENTA_DEBIAN_MIRROR:-$(awk -v s="$suite" '$2 == s { print $1; exit }' <<<"$sources")}"
mirror="${mirror%/}"
[ -n "$mirror" ] ||
    fail "apt's sources (/etc/apt/sources.list*) name no Debian 12 ($suite) mirror; set QUENTA_DEBIAN_MIRROR"
[ -n "${QUENTA_DEBIAN_MIRROR:-}" ] && sources="$mirror $suite"

# What apt here needs to reach the mirror goes along into the root: its proxy, and whether it
# checks the dates of a mirror's Release files.
proxy="" valid="" checkdate=""
eval "$(apt-config shell proxy Acquire::http::Proxy valid Acquire::Check-Valid-Until \
    checkdate Acquire::Check-Date)"
if [ -n "$proxy" ] && [ -z "${http_proxy:-}" ]; then
    export http_proxy="$proxy"
fi
if ! wget -q -O /dev/null --timeout=30 --tries=2 "$mirror/dists/$suite/InRelease"; then
    skip "the Debian mirror $mirror cannot be reached"
fi
step "mirror $mirror"

# ---- Mounts: each one is recorded and undone, whatever happens; a root is removed only when
# nothing is mounted below it any more.
cache="$build/tests/package/$suite"
mkdir -p "$cache/archives" "$cache/lists"
exec 9>"$cache/lock"
flock 9
mounts=()
board_pid=""
scratch="$(mktemp -d)"
mounted_below() { # FOLDER
    awk -v d="$1/" '{ gsub(/\\040/, " ", $2) } index($2 "/", d) == 1 { print $2 }' /proc/mounts
}
unmount_below() { # FOLDER
    local point points
    [ -d "$1" ] || return 0
    mapfile -t points < <(mounted_below "$1" | sort -r)
    for point in "${points[@]}"; do
        umount "$point" 2>/dev/null || umount -l "$point" || true
    done
}
remove_root() { # FOLDER
    [ -e "$1" ] || return 0
    unmount_below "$1"
    if [ -n "$(mounted_below "$1")" ]; then
        echo "WARNING: $1 still has mounts, so it is left in place:" >&2
        mounted_below "$1" >&2
        return 1
    fi
    rm -rf --one-file-system "$1"
}
# The cleanup speaks on the test's own output, even when a step's output goes to a log.
exec 7>&1 8>&2
cleanup() {
    local status=$?
    exec 1>&7 2>&8
    if [ -n "$board_pid" ]; then
        kill "$board_pid" 2>/dev/null || true
        wait "$board_pid" 2>/dev/null || true
    fi
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" ||
            echo "WARNING: could not unmount ${mounts[i]}" >&2
    done
    [ ! -e "$cache/run" ] || echo "removing the root's copy"
    remove_root "$cache/run" || status=1
    remove_root "$cache/base.new" || status=1
    rm -rf "$scratch"
    exit "$status"
}
trap cleanup EXIT
trap 'echo "FAIL: interrupted" >&8; exit 130' INT TERM
mount_in() { # ROOT-RELATIVE-POINT MOUNT-ARGUMENTS...
    local point="$root$1"
    shift
    mkdir -p "$point"
    mount "$@" "$point" || fail "could not mount $point"
    mounts+=("$point")
}

# ---- The minimal root, made once for a mirror and kept. A root is taken only once it is whole.
key="debootstrap --variant=minbase $suite $mirror; sources: $(tr '\n' ';' <<<"$sources");"
key+=" proxy: $proxy; Check-Valid-Until: $valid; Check-Date: $checkdate"
base="$cache/base"
if [ ! -f "$cache/base.key" ] || [ "$(cat "$cache/base.key")" != "$key" ] || [ ! -d "$base" ]; then
    step "making a minimal Debian 12 root with debootstrap (once; it is kept in $cache)"
    remove_root "$cache/base.new" || fail "a half-made root is still mounted"
    remove_root "$base" || fail "the old root is still mounted"
    rm -f "$cache/base.key"
    include=()
    [[ "$mirror" == https:* ]] && include=(--include=ca-certificates)
    debootstrap --variant=minbase "${include[@]}" "$suite" "$cache/base.new" "$mirror" \
        >"$cache/debootstrap.log" 2>&1 ||
        { show "$cache/debootstrap.log"; fail "debootstrap could not make a Debian 12 root from $mirror"; }
    rm -f "$cache/base.new"/var/cache/apt/archives/*.deb
    awk '{ print "deb", $1, $2, "main" }' <<<"$sources" >"$cache/base.new/etc/apt/sources.list"
    {
        [ -z "$proxy" ] || echo "Acquire::http::Proxy \"$proxy\";"
        [ -z "$valid" ] || echo "Acquire::Check-Valid-Until \"$valid\";"
        [ -z "$checkdate" ] || echo "Acquire::Check-Date \"$checkdate\";"
    } >"$cache/base.new/etc/apt/apt.conf.d/50host"
    mv "$cache/base.new" "$base"
    echo "$key" >"$cache/base.key"
fi

if "$root_only"; then
    step "the root is ready in $base"
    exit 0
fi

# ---- The package.
if [ -n "$given_deb" ]; then
    deb="$given_deb"
else
    (cd "$build" && cpack -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1 ||
        { show "$scratch/cpack.log"; fail "cpack did not build the package"; }
    debs=("$scratch"/out/quenta_*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one quenta_*.deb, found: ${debs[*]}"
    deb="${debs[0]}"
fi
[ -f "$deb" ] || fail "no package at $deb"
step "package $(basename "$deb"), Depends: $(dpkg-deb -f "$deb" Depends)"

# ---- A fresh copy of it for this run.
step "copying the root"
root="$cache/run"
remove_root "$root" || fail "a root left by an earlier run is still mounted"
cp -a "$base" "$root"
cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
mount_in /proc -t proc proc
mount_in /dev/pts -t devpts -o newinstance,ptmxmode=0666,mode=0620,gid=5 devpts
[ -c "$root/dev/ptmx" ] || ln -sfn pts/ptmx "$root/dev/ptmx"
# apt's lists and the packages it fetched stay in the cache for the next run.
mount_in /var/lib/apt/lists --bind "$cache/lists"
mount_in /var/cache/apt/archives --bind "$cache/archives"
in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}

# ---- The install, as the package's page says: apt-get install ./quenta_*.deb
step "apt-get update"
in_root apt-get update >"$scratch/update.log" 2>&1 ||
    { show "$scratch/update.log"; fail "apt-get update in the Debian 12 root failed"; }
mkdir -p "$root/tmp/package"
cp "$deb" "$root/tmp/package/"
chmod -R a+rX "$root/tmp/package"
# dpkg's unsafe-io spares the syncs of a root that is thrown away: what is installed is the same.
step "apt-get install -y --no-install-recommends ./$(basename "$deb")"
if ! in_root /bin/sh -c 'cd /tmp/package &&
    apt-get install -y --no-install-recommends -o DPkg::Options::=--force-unsafe-io ./quenta_*.deb' \
    >"$scratch/install.log" 2>&1; then
    show "$scratch/install.log"
    fail "the package does not install on a fresh Debian 12 with apt-get"
fi
grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$scratch/install.log" || true
[ "$(in_root dpkg-query -W -f='${Status}' quenta 2>/dev/null)" = "install ok installed" ] ||
    fail "apt-get ended, but quenta is not installed"
for program in quenta quenta-flash quenta-simboard; do
    [ -x "$root/usr/bin/$program" ] || fail "/usr/bin/$program is not installed"
done
missing="$(in_root ldd /usr/bin/quenta /usr/bin/quenta-flash /usr/bin/quenta-simboard | grep 'not found' || true)"
[ -z "$missing" ] || fail "libraries the programs need are not installed:"$'\n'"$missing"

# ---- An ordinary user flashes a board.
in_root useradd --create-home --shell /bin/bash tester || fail "could not add a user in the root"
uid="$(in_root id -u tester)"
gid="$(in_root id -g tester)"
home=/home/tester
# The sample firmware the package installs, as its manual and the README name it.
firmware=/usr/share/doc/quenta/examples/blink.hex
in_root dpkg-query -L quenta | grep -qxF "$firmware" || fail "the package does not install $firmware"
# A command as the user, in the user's home, with the user's environment and nothing of ours.
user_command=(chroot --userspec="$uid:$gid" --groups="$gid" "$root" /usr/bin/env -i
    HOME="$home" USER=tester LOGNAME=tester SHELL=/bin/bash PATH=/usr/bin:/bin LANG=C.UTF-8
    /bin/sh -c 'cd "$HOME" && exec "$@"' sh)
as_user() {
    timeout 300 "${user_command[@]}" "$@"
}
[ "$(as_user id -u)" = "$uid" ] && [ "$uid" -ne 0 ] || fail "the programs would not run as an ordinary user"

step "quenta-simboard --link /tmp/board"
# chroot, env and sh each hand over to the next, so that the number is the board's own.
"${user_command[@]}" quenta-simboard --link /tmp/board >"$scratch/simboard.log" 2>&1 &
board_pid=$!
for _ in $(seq 100); do
    [ -L "$root/tmp/board" ] && break
    kill -0 "$board_pid" 2>/dev/null || break
    sleep 0.1
done
if [ ! -L "$root/tmp/board" ]; then
    show "$scratch/simboard.log"
    fail "quenta-simboard made no /tmp/board"
fi

step "quenta-flash -p /tmp/board flash $firmware"
status=0
as_user quenta-flash -p /tmp/board flash "$firmware" >"$scratch/flash.out" 2>"$scratch/flash.err" ||
    status=$?
cat "$scratch/flash.out" "$scratch/flash.err"
if [ "$status" -ne 0 ]; then
    show "$scratch/simboard.log"
    fail "quenta-flash flash ended with status $status, not 0 (6: the journal could not be opened)"
fi
journal="$home/.local/share/quenta/journal.sqlite"
grep -qxF "journal: sqlite:$journal" "$scratch/flash.out" ||
    fail "quenta-flash flash did not write to the default journal, sqlite:$journal"
grep -q '^/tmp/board: ok: ' "$scratch/flash.out" || fail "quenta-flash flash did not say /tmp/board: ok"
[ -s "$root$journal" ] || fail "there is no default journal at $journal"
[ "$(stat -c %u "$root$journal")" = "$uid" ] || fail "the journal does not belong to the user"

step "quenta-flash log --csv"
status=0
as_user quenta-flash log --csv >"$scratch/log.csv" 2>"$scratch/log.err" || status=$?
cat "$scratch/log.csv" "$scratch/log.err"
[ "$status" -eq 0 ] || fail "quenta-flash log --csv ended with status $status"
# One job: the flash of the firmware through /tmp/board, ok with exit status 0. None of these
# columns holds a comma or a quote here, so a plain split finds them.
jobs="$(awk -F, -v firmware="$firmware" '
    NR == 1 { for (i = 1; i <= NF; i++) column[$i] = i; next }
    { n++ }
    $column["command"] == "flash" && $column["port"] == "/tmp/board" &&
        $column["firmware"] == firmware && $column["result"] == "ok" && $column["exit"] == "0" { found++ }
    END { print n + 0, found + 0 }' "$scratch/log.csv")"
[ "$jobs" = "1 1" ] ||
    fail "quenta-flash log --csv does not list the one job, a flash of $firmware through /tmp/board that is ok (jobs, matching: $jobs)"

step "installed on Debian 12 and flashed into the default journal"
echo "Package installed and flashed"
