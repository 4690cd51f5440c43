#!/usr/bin/env bash
# Runs the README's steps for a line's PostgreSQL database as they are written, then the station's
# steps, and connects as stations do with each journal URL the README gives: over TCP from the
# line's network and through the socket on the database host, each by its password.
#
# It runs in a world of its own: its own mount, network, process and IPC namespaces, where
# /etc/postgresql, /var/lib/postgresql, /var/log/postgresql, /run, /tmp, /dev/shm and root's home
# are empty folders of its own, so that the steps make and start a cluster 15/main on port 5432 as
# on a fresh install, and the host's PostgreSQL, running or not, is never read, written nor
# signalled. When the namespace's first process ends, the kernel ends every other one, the cluster
# too, however the test was stopped, and its folders go with them. The test checks that the host's
# PostgreSQL folders are as they were while its cluster runs, and that they and the host's clusters
# are as they were after.
#
# Usage: line-database.sh README QUENTA_FLASH. Needs root, as the steps do; exit 77 (skipped)
# elsewhere.
set -euo pipefail

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# What the host's own PostgreSQL keeps in its folders: each entry with its type, inode, owner and
# mode (of its data folders, the top), and what its configuration and pid files hold.
host_folders() {
    find /etc/postgresql /var/log/postgresql /var/run/postgresql/ -printf '%p %y %i %u:%g %m\n'
    find /var/lib/postgresql/ -maxdepth 2 -printf '%p %y %i %u:%g %m\n'
    find /etc/postgresql /var/run/postgresql/ -type f -exec sha256sum {} +
    find /var/lib/postgresql/ -maxdepth 3 -name postgresql.auto.conf -exec sha256sum {} +
}

namespaces=(--mount --net --pid --ipc --fork --mount-proc --kill-child)

if [ "${1-}" != --inside ]; then
    [ "$(id -u)" -eq 0 ] || { echo "the steps are for root: skipped"; exit 77; }
    command -v pg_createcluster >/dev/null ||
        { echo "postgresql-common is not installed: skipped"; exit 77; }
    command -v ip >/dev/null || { echo "iproute2 is not installed: skipped"; exit 77; }
    unshare "${namespaces[@]}" true || { echo "no namespaces of its own here: skipped"; exit 77; }
    folders="$(host_folders)"
    clusters="$(pg_lsclusters)"
    # Fd 3 is the host's view of the files, for the check made while the test's cluster runs. The
    # namespace ends when this script does (the parent's death ends unshare, and unshare its child).
    status=0
    HOST_FOLDERS="$folders" setpriv --pdeathsig KILL unshare "${namespaces[@]}" \
        bash "$0" --inside "$@" 3</proc/self/ns/mnt || status=$?
    diff <(printf '%s\n' "$folders") <(host_folders) >&2 ||
        fail "the host's PostgreSQL folders changed during the test"
    diff <(printf '%s\n' "$clusters") <(pg_lsclusters) >&2 || fail "the host's clusters changed"
    echo "The host's PostgreSQL folders and clusters are as they were"
    exit "$status"
fi

readme="$2"
flasher="$3"

# The block of shell commands number $1 (from 1) after the README's marker.
readme_block() {
    awk -v wanted="$1" '/tests\/docs\/line-database.sh/ { found = 1; next }
                        found && /^```sh$/ { inside = 1; ++block; next }
                        inside && /^```$/ { inside = 0; if (block == wanted) exit; next }
                        inside && block == wanted { print }' "$readme"
}
steps="$(readme_block 1)"
station="$(readme_block 2)"
journals="$(grep '^export QUENTA_JOURNAL=' <<<"$(readme_block 3)")" || true
grep -q 'pg_ctlcluster 15 main start' <<<"$steps" || fail "the steps start no cluster"
grep -q 'pgpass' <<<"$station" || fail "no station's steps after the database host's"
[ "$(wc -l <<<"$journals")" -eq 2 ] || fail "not two journal URLs after the station's steps"

# An empty folder of the namespace's own over the host's: FOLDER MODE OWNER.
private() {
    mount -t tmpfs -o "mode=$2" quenta-line "$1"
    chown "$3" "$1"
}
# The pid files and sockets, and systemd's, which knows only the host's cluster.
private "$(readlink -f /var/run)" 755 root:root
mkdir -m 2775 /var/run/postgresql
chown postgres:postgres /var/run/postgresql
private /etc/postgresql 755 postgres:postgres
private /var/lib/postgresql 755 postgres:postgres
private /var/log/postgresql 1775 root:postgres
private /dev/shm 1777 root:root
# The flasher may live under /tmp, which the namespace is about to hide: a copy is taken first.
install -m 755 "$flasher" /var/run/quenta-flash
flasher=/var/run/quenta-flash
private /tmp 1777 root:root
private ~root 700 root:root
export HOME=~root # where the station's steps keep the password, and libpq looks for it
# db.line: this namespace's own address in the line's network.
ip link set lo up
ip address add 10.0.0.1/24 dev lo
printf '127.0.0.1 localhost\n10.0.0.1 db.line\n' >/tmp/hosts
mount --bind /tmp/hosts /etc/hosts

# The cluster as installing the postgresql package makes it, down.
pg_createcluster 15 main >/tmp/create.log 2>&1 ||
    { cat /tmp/create.log >&2; fail "pg_createcluster"; }

echo "== the README's steps"
printf '%s\n' "$steps"
(set -e; eval "$steps") ||
    { cat /var/log/postgresql/postgresql-15-main.log >&2; fail "the README's steps failed"; }

echo "== the station's steps"
printf '%s\n' "$station"
(set -e; cd; eval "$station") || fail "the station's steps failed"

# Each journal URL, set as written: a station records a job (a port that is not there is a job
# too: exit 3; the first one makes the journal) and finds it, and a wrong password is refused.
jobs=0
while read -r journal; do
    echo "== $journal"
    port="/dev/quenta-no-board-$((++jobs))"
    (
        eval "$journal"
        status=0
        "$flasher" -q -p "$port" install >/dev/null || status=$?
        [ "$status" -eq 3 ] || fail "a station cannot record a job in the line's database ($status)"
        { "$flasher" log --csv >/tmp/log.csv && grep -q "$port" /tmp/log.csv; } ||
            fail "a station cannot read the line's database"
        PGPASSFILE=/dev/null PGPASSWORD=wrong "$flasher" log >/dev/null 2>&1 &&
            fail "a wrong password is let in"
        true
    )
done <<<"$journals"

diff <(printf '%s\n' "$HOST_FOLDERS") \
    <(nsenter --mount=/proc/self/fd/3 bash -c "$(declare -f host_folders); host_folders") >&2 ||
    fail "the host's PostgreSQL folders changed while the test's cluster runs"
echo "The README's line database works as written"
