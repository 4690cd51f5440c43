#!/usr/bin/env bash
# Runs the README's steps for a line's PostgreSQL database, as they are written, on a cluster of
# its own (Debian's postgresql-common, its configuration in a scratch folder, the cluster down as
# after an install), then connects as a station would: over TCP, with the password, through
# quenta-flash. Usage: line-database.sh README QUENTA_FLASH. Needs root, as the steps do; exit 77
# (skipped) elsewhere.
set -euo pipefail
readme="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
flasher="$2"

[ "$(id -u)" -eq 0 ] || { echo "the steps are for root: skipped"; exit 77; }
command -v pg_createcluster >/dev/null || { echo "postgresql-common is not installed: skipped"; exit 77; }

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# What the host's own PostgreSQL keeps in its folders: each entry with its type, inode, owner and
# mode, and what its configuration and pid files hold. A test may change none of it.
host_folders() {
    env -u PG_CLUSTER_CONF_ROOT -u PGCLUSTER bash -c '
        find /etc/postgresql /var/log/postgresql /var/run/postgresql/ -printf "%p %y %i %u:%g %m\n"
        find /etc/postgresql /var/run/postgresql/ -type f -exec sha256sum {} +'
}
host_before="$(host_folders)"
host_unchanged() {
    diff <(printf '%s\n' "$host_before") <(host_folders) >&2 ||
        fail "the host's PostgreSQL folders changed $1"
}

# The block after the README's marker, up to its closing fence.
steps="$(awk '/tests\/docs\/line-database.sh/ { found = 1; next }
              found && /^```sh$/ { inside = 1; next }
              inside && /^```$/ { exit }
              inside { print }' "$readme")"
[ -n "$steps" ] || fail "no steps after the marker in $readme"
grep -q 'pg_ctlcluster 15 main start' <<<"$steps" || fail "the steps start no cluster"

scratch="$(mktemp -d /tmp/quenta-line-XXXXXX)"
chmod 755 "$scratch"
mkdir "$scratch/etc" "$scratch/run"
chown postgres "$scratch/run"
export PG_CLUSTER_CONF_ROOT="$scratch/etc" PGCLUSTER=15/main
port=$((20000 + $$ % 20000))
cleanup() {
    pg_ctlcluster 15 main stop >/dev/null 2>&1 || true
    pg_dropcluster 15 main >/dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
pg_createcluster 15 main -d "$scratch/data" -s "$scratch/run" -l "$scratch/server.log" \
    -p "$port" >"$scratch/create.log" 2>&1 || { cat "$scratch/create.log" >&2; fail "pg_createcluster"; }

echo "== the README's steps"
printf '%s\n' "$steps"
(set -e; eval "$steps") || { cat "$scratch/server.log" >&2; fail "the README's steps failed"; }

[ "$(su postgres -c "psql -tAc 'SHOW listen_addresses'")" = '*' ] ||
    fail "the cluster does not listen for other stations"
hba="$(su postgres -c "psql -tAc 'SHOW hba_file'")"
grep -qx 'host quenta quenta 10.0.0.0/24 scram-sha-256' "$hba" || fail "no pg_hba.conf line"

# A station on this machine, let in as the README lets the line's network in, its password in a
# password file as libpq reads it.
echo 'host quenta quenta 127.0.0.1/32 scram-sha-256' >>"$hba"
pg_ctlcluster 15 main reload
echo "127.0.0.1:$port:quenta:quenta:change-me" >"$scratch/pgpass"
chmod 600 "$scratch/pgpass"
# The station's first job makes the journal (a port that is not there is a job too: exit 3).
status=0
PGPASSFILE="$scratch/pgpass" "$flasher" -J "postgresql://quenta@127.0.0.1:$port/quenta" -q \
    -p /dev/quenta-no-board install >/dev/null || status=$?
[ "$status" -eq 3 ] || fail "a station cannot record a job in the line's database (exit $status)"
PGPASSFILE="$scratch/pgpass" "$flasher" -J "postgresql://quenta@127.0.0.1:$port/quenta" log --csv |
    grep -q '/dev/quenta-no-board' || fail "a station cannot read the line's database"
PGPASSFILE=/dev/null PGPASSWORD=wrong \
    "$flasher" -J "postgresql://quenta@127.0.0.1:$port/quenta" log >/dev/null 2>&1 &&
    fail "a wrong password is let in"
host_unchanged "while the test's cluster runs"
cleanup
trap - EXIT
host_unchanged "after the test"
echo "The README's line database works as written"
