#!/usr/bin/env bash
# Manages a private PostgreSQL cluster in a folder: start (creating it when missing), stop,
# status. The cluster listens on 127.0.0.1 only and keeps its socket in its own folder.
#
#   pgcluster.sh start DIR [PORT] [PASSWORD]   prints the port it listens on
#   pgcluster.sh standby DIR PRIMARY_DIR [PORT] a streaming hot standby of the running cluster
#                                             in PRIMARY_DIR (copied when missing); prints its port
#   pgcluster.sh promote DIR                  makes a standby the primary
#   pgcluster.sh stop DIR
#   pgcluster.sh status DIR
#
# As root the server runs as the "postgres" account, since initdb refuses to run as root.
set -euo pipefail

action=${1:?action}
dir=$(realpath -m "${2:?folder}")
wanted_port=${3:-}
password=${4:-granite}
data="$dir/data"

pg_bin() {
    local bin
    bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
    [ -n "$bin" ] || { echo "PostgreSQL server binaries not found" >&2; exit 1; }
    echo "$bin"
}

as_owner() {
    if [ "$(id -u)" = 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

port_in_use() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pick_port() {
    local port
    for _ in $(seq 1 200); do
        port=$((20000 + RANDOM % 40000))
        port_in_use "$port" || { echo "$port"; return; }
    done
    echo "no free port found" >&2
    exit 1
}

is_running() {
    [ -f "$data/postmaster.pid" ] && as_owner "$(pg_bin)/pg_ctl" -D "$data" status >/dev/null 2>&1
}

# As root, the server's account must be able to reach the folder: folders on the way that
# others may not pass through (a home folder, say) get that right, and only that.
make_reachable() {
    [ "$(id -u)" = 0 ] || return 0
    chown postgres: "$dir"
    local path=$dir
    while ! runuser -u postgres -- test -w "$dir" 2>/dev/null && [ "$path" != / ]; do
        path=$(dirname "$path")
        if ! runuser -u postgres -- test -x "$path" 2>/dev/null; then
            echo "pgcluster: letting the postgres account pass through $path" >&2
            chmod o+x "$path"
        fi
    done
}

create_cluster() {
    local bin=$1 pwfile
    mkdir -p "$dir"
    make_reachable
    pwfile="$dir/pwfile"
    printf '%s\n' "$password" > "$pwfile"
    [ "$(id -u)" = 0 ] && chown postgres: "$pwfile"
    as_owner "$bin/initdb" -D "$data" -U postgres --auth-local=trust --auth-host=scram-sha-256 \
        --encoding=UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1
    rm -f "$pwfile"
    cat >> "$data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
unix_socket_directories = '$dir'
max_connections = 200
shared_buffers = 64MB
fsync = off
synchronous_commit = off
full_page_writes = off
log_min_messages = warning
CONF
    touch "$dir/.created"
}

# A copy of the primary's data that follows it over streaming replication (the copy's
# settings name the primary's socket folder, where the postgres account needs no password).
create_standby() {
    local bin=$1 primary
    primary=$(realpath -m "${primary_dir:?primary folder}")
    mkdir -p "$dir"
    make_reachable
    as_owner "$bin/pg_basebackup" -h "$primary" -p "$(cat "$primary/port")" -U postgres -D "$data" \
        -R -X stream -c fast >"$dir/basebackup.log" 2>&1
    # The copy's settings name the primary's socket folder; its own is its own.
    echo "unix_socket_directories = '$dir'" >> "$data/postgresql.conf"
    touch "$dir/.created"
}

start() {
    local bin port
    bin=$(pg_bin)
    mkdir -p "$dir"
    exec 9>"$dir.lock"
    flock 9
    if is_running; then
        cat "$dir/port"
        return
    fi
    if [ ! -f "$dir/.created" ]; then
        rm -rf "$data"
        if [ -n "${primary_dir:-}" ]; then create_standby "$bin"; else create_cluster "$bin"; fi
    fi
    for _ in 1 2 3 4 5; do
        port=${wanted_port:-$(pick_port)}
        if as_owner "$bin/pg_ctl" -D "$data" -l "$dir/server.log" -w -t 60 \
            -o "-p $port" start >/dev/null 2>&1 9>&-; then
            echo "$port" > "$dir/port"
            # A standby has the primary's roles and databases and can create nothing.
            [ -f "$data/standby.signal" ] && { echo "$port"; return; }
            as_owner "$bin/../bin/psql" -X -q -h "$dir" -p "$port" -U postgres -d postgres \
                -v ON_ERROR_STOP=1 -v pw="$password" <<'SQL' >/dev/null
SELECT format('CREATE ROLE orvela LOGIN CREATEDB PASSWORD %L', :'pw')
WHERE NOT EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'orvela') \gexec
SELECT format('ALTER ROLE orvela PASSWORD %L', :'pw') \gexec
SELECT 'CREATE DATABASE orvela OWNER orvela'
WHERE NOT EXISTS (SELECT 1 FROM pg_database WHERE datname = 'orvela') \gexec
SQL
            echo "$port"
            return
        fi
        [ -z "$wanted_port" ] || break
    done
    echo "PostgreSQL did not start; see $dir/server.log" >&2
    exit 1
}

stop() {
    if is_running; then
        as_owner "$(pg_bin)/pg_ctl" -D "$data" -m fast -w stop >/dev/null
    fi
}

case "$action" in
    start) start ;;
    standby) primary_dir=${3:?primary folder}; wanted_port=${4:-}; start ;;
    promote) as_owner "$(pg_bin)/pg_ctl" -D "$data" -w promote >/dev/null ;;
    stop) stop ;;
    status) is_running && cat "$dir/port" ;;
    *) echo "unknown action $action" >&2; exit 2 ;;
esac
