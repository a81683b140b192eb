#!/usr/bin/env bash
# The set-up both data-set benchmarks share: builds the program and the data-set tool, starts
# a cluster of its own under build/bench-readings, writes the server file and loads the
# benchmark data set once a day. Sourced by readings.sh and memory.sh.
source "$(dirname "$0")/../common.sh"

PACKAGES+=(libpq-dev gcc libfcgi-bin)
install_packages
configure
build --target orvela --target orvela-dataset

work=$BUILD_DIR/bench-readings
mkdir -p "$work/install/bin" "$work/install/cnf" "$work/out"
cp "$BUILD_DIR/bin/orvela" "$work/install/bin/orvela"
port=$("$ROOT/scripts/pgcluster.sh" start "$work/pg" 5491)
persistent_pid=
trap '[ -z "$persistent_pid" ] || kill "$persistent_pid" 2>/dev/null; "$ROOT/scripts/pgcluster.sh" stop "$work/pg"' EXIT
server_config() { # DATABASE -> a server file for it
    cat <<CONF
[orvela]
server=127.0.0.1
port=$port
db=$1
user=orvela
password=granite
log=true
dbg=false
max_answer_mb=1024
CONF
}
server_config orvela > "$work/install/cnf/server.cnf"
include=$(pg_config --includedir 2>/dev/null || echo /usr/include/postgresql)
gcc -O2 -o "$work/floor" "$ROOT/scripts/bench/floor.c" -I"$include" -lpq
gcc -O2 -o "$work/measure" "$ROOT/scripts/bench/measure.c"
# The floors run as the program's sessions do, without JIT compilation of their statements.
conninfo="host=127.0.0.1 port=$port dbname=orvela user=orvela password=granite options='-c jit=off'"
export PGPASSWORD=granite

# --- The data set ----------------------------------------------------------------------------
# The marker holds the newest hour of the readings and a digest of what made the database: a
# changed data set or schema (new indexes) loads it again.
made_by=$(cat "$ROOT/tools/dataset/dataset.sql" "$ROOT/db/schemascripts.cpp" | md5sum | cut -d' ' -f1)
load_dataset() { # INSTALL_DIR DATABASE [orvela-dataset options...]
    local install=$1 database=$2 marker=$1/dataset.loaded
    shift 2
    if [ ! -f "$marker" ] || [ "$(sed -n 2p "$marker")" != "$made_by $*" ] ||
        [ "$(( $(date +%s) - $(date -d "$(head -1 "$marker") UTC" +%s) ))" -gt 86400 ]; then
        echo "Loading the data set into $database ($*; takes a few minutes)"
        sql "DROP DATABASE IF EXISTS $database" 2>/dev/null
        sql "CREATE DATABASE $database"
        local newest
        newest=$(date -u +'%Y-%m-%d %H:00')
        "$BUILD_DIR/bin/orvela-dataset" --end "$newest" "$@" "$install"
        printf '%s\n%s\n' "$newest" "$made_by $*" > "$marker"
    fi
}
sql() { psql -h 127.0.0.1 -p "$port" -U orvela -d "${SQL_DATABASE:-orvela}" -Atq -c "$1"; }
SQL_DATABASE=postgres load_dataset "$work/install" orvela --preset bench
marker=$work/install/dataset.loaded
end=$(head -1 "$marker")
echo "Data set: $(sql 'SELECT count(*) FROM "DeviceTable"') devices, readings up to $end UTC"

# --- What is timed ---------------------------------------------------------------------------
big=$(sql "SELECT \"Id\" FROM \"AddressTable\" WHERE \"CompanyId\"=1 ORDER BY \"Id\" LIMIT 1")
reportAddress=$((big + 1))
shift_min=$(sql "SELECT \"TimeShift\" FROM \"AddressTable\" WHERE \"Id\"=$big")
device=$(sql "SELECT i.\"DeviceId\" FROM \"InstallTable\" i JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" JOIN \"DeviceTable\" d ON d.\"Id\"=i.\"DeviceId\" WHERE o.\"AddressId\"=$big AND i.\"Actual\"=1 AND d.\"DevType\"=22 ORDER BY 1 LIMIT 1")
day=$(date -u -d "$end UTC + $shift_min minutes" +%Y-%m-%d)
month_start=$(date -u -d "$day" +%Y-%m-01)
month_end=$(date -u -d "$month_start + 1 month - 1 day" +%Y-%m-%d)
year_ago=$(date -u -d "$day - 365 days" +%Y-%m-%d)
login() {
    REQUEST_METHOD=GET QUERY_STRING="CMD=Get_UserData&Login=$1&Password=demo" "$work/install/bin/orvela" |
        sed -n 's/.*"authToken":"\([^"]*\)".*/\1/p'
}
company_user=$(login north.user)
