#!/usr/bin/env bash
# Times whole requests of the real program against PostgreSQL on loopback and compares them
# with a floor: a few lines of C with libpq that connect over TCP with a password and run one
# query. All figures come from the same run; compare them as ratios, not as absolute times.
#
#   scripts/benchmark.sh [RUNS]      (default 300)
#   scripts/benchmark.sh readings [ROUNDS]   the readings commands on the benchmark data set
if [ "${1:-}" = readings ]; then
    exec "$(dirname "$0")/bench/readings.sh" "${@:2}"
fi
source "$(dirname "$0")/common.sh"

RUNS=${1:-300}
PACKAGES+=(libpq-dev gcc bc)
install_packages
configure
build --target orvela

work=$BUILD_DIR/bench
rm -rf "$work/install" && mkdir -p "$work/install/bin" "$work/install/cnf"
cp "$BUILD_DIR/bin/orvela" "$work/install/bin/orvela"
port=$("$ROOT/scripts/pgcluster.sh" start "$work/pg")
trap '"$ROOT/scripts/pgcluster.sh" stop "$work/pg"' EXIT

cat > "$work/floor.c" <<'C'
#include <libpq-fe.h>
#include <stdio.h>
int main(int argc, char** argv)
{
    PGconn* conn = PQconnectdb(argv[1]);
    if (PQstatus(conn) != CONNECTION_OK) { fprintf(stderr, "%s", PQerrorMessage(conn)); return 1; }
    PGresult* result = PQexec(conn, "SELECT 1");
    int ok = PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
    PQfinish(conn);
    return ok ? 0 : 1;
}
C
gcc -O2 -o "$work/floor" "$work/floor.c" -I"$(pg_config --includedir 2>/dev/null || echo /usr/include/postgresql)" -lpq

write_config() {
    cat > "$work/install/cnf/server.cnf" <<CONF
[orvela]
server=127.0.0.1
port=$port
db=orvela
user=orvela
password=granite
dbg=$1
CONF
}
write_config false

export REQUEST_METHOD=GET
token=65aeae800556f9b122f4d119e96b47988c2cd516522ccf2907495e5375b05c2f10bc27974dac7e5aa0e6b92c1c151415
# Warm up and make sure the schema is in place.
QUERY_STRING="CMD=Get_UserData&Auth=$token" "$work/install/bin/orvela" | grep -q '"errorCode":0' ||
    { echo "Get_UserData failed" >&2; exit 1; }

# Microseconds since the epoch, without starting a process.
now_us() { echo "${EPOCHREALTIME/./}"; }

# The three kinds of run take turns, so that a passing load on the machine weighs on all of
# them alike. Prints the mean milliseconds of each: floor, test, Get_UserData.
time_interleaved() {
    local conninfo="host=127.0.0.1 port=$port dbname=orvela user=orvela password=granite"
    local floor=0 test=0 user=0 start
    for _ in $(seq "$RUNS"); do
        start=$(now_us); "$work/floor" "$conninfo" >/dev/null; floor=$((floor + $(now_us) - start))
        start=$(now_us); QUERY_STRING="CMD=test" "$work/install/bin/orvela" >/dev/null
        test=$((test + $(now_us) - start))
        start=$(now_us); QUERY_STRING="CMD=Get_UserData&Auth=$token" "$work/install/bin/orvela" >/dev/null
        user=$((user + $(now_us) - start))
    done
    for total in $floor $test $user; do echo "scale=2; $total / $RUNS / 1000" | bc; done
}

time_runs() {
    for _ in $(seq "$RUNS"); do "$@" >/dev/null; done
}

read -r floor test_ms user_ms <<<"$(time_interleaved | tr '\n' ' ')"

# The schema check's share: the time between the connection record and the check record of
# the debug log, averaged over the same number of requests.
write_config true
rm -rf "$work/install/log"
QUERY_STRING="CMD=Get_UserData&Auth=$token" time_runs "$work/install/bin/orvela" >/dev/null
check_ms=$(find "$work/install/log" -name '*.log' -exec awk '
    /Установлено подключение/ { split(substr($1, 2, 12), t, /[:.]/); a = t[3] * 1000 + t[4] }
    /Проверка таблиц БД выполнена/ { split(substr($1, 2, 12), t, /[:.]/); b = t[3] * 1000 + t[4];
        d = b - a; if (d < 0) d += 60000; print d }' {} + |
    awk '{ s += $1; n++ } END { printf "%.2f", s / n }')

ratio() { echo "scale=2; $1 / $2" | bc; }
printf '%-34s %8s ms  %5s x floor\n' "floor (libpq connect + SELECT 1)" "$floor" "1.00"
printf '%-34s %8s ms  %5s x floor\n' "CMD=test" "$test_ms" "$(ratio "$test_ms" "$floor")"
printf '%-34s %8s ms  %5s x floor\n' "Get_UserData with a token" "$user_ms" "$(ratio "$user_ms" "$floor")"
printf '%-34s %8s ms  %5s %% of Get_UserData\n' "schema check (from debug logs)" "$check_ms" \
    "$(echo "scale=1; 100 * $check_ms / $user_ms" | bc)"
