#!/usr/bin/env bash
# Times whole requests of the real program against PostgreSQL on loopback and compares them
# with a floor: a few lines of C with libpq that connect over TCP with a password and run one
# query. All figures come from the same run; compare them as ratios, not as absolute times.
#
#   scripts/benchmark.sh [RUNS]      (default 300)
#   scripts/benchmark.sh http        both modes through lighttpd under wrk (see http_benchmark)
#   scripts/benchmark.sh readings [ROUNDS]   the readings commands on the benchmark data set
#   scripts/benchmark.sh memory     the peak memory of the heaviest requests, both modes
#   scripts/benchmark.sh replica [ROUNDS]    a read-heavy mix with and without a hot standby
if [ "${1:-}" = readings ] || [ "${1:-}" = memory ] || [ "${1:-}" = replica ]; then
    exec "$(dirname "$0")/bench/$1.sh" "${@:2}"
fi
source "$(dirname "$0")/common.sh"

MODE=floor
if [ "${1:-}" = http ]; then
    MODE=http
    shift
fi
RUNS=${1:-300}
PACKAGES+=(libpq-dev gcc bc)
[ "$MODE" = http ] && PACKAGES+=(wrk)
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

# ---- http mode: the CGI and the persistent mode through one lighttpd, timed by wrk ----

HTTP_SECONDS=${ORVELA_BENCH_SECONDS:-20}

# One lighttpd serves the same installed program both ways: /cgi/orvela starts a process per
# request, /orvela goes to as many persistent FastCGI processes as there are cores.
http_start_server() {
    local http_port=$1
    cat > "$work/lighttpd.conf" <<CONF
server.modules = ("mod_alias", "mod_cgi", "mod_fastcgi")
server.bind = "127.0.0.1"
server.port = $http_port
server.document-root = "$work"
server.errorlog = "$work/lighttpd.error.log"
server.max-connections = 256
alias.url = ("/cgi/orvela" => "$work/install/bin/orvela")
\$HTTP["url"] =~ "^/cgi/orvela" { cgi.assign = ("" => "") }
fastcgi.server = ("/orvela" => (("socket" => "$work/orvela.sock", "bin-path" => "$work/install/bin/orvela",
                                 "max-procs" => $(nproc), "check-local" => "disable")))
CONF
    lighttpd -D -f "$work/lighttpd.conf" &
    http_server_pid=$!
    for _ in $(seq 1 100); do
        curl -s -o /dev/null "http://127.0.0.1:$http_port/orvela?CMD=test" && return
        sleep 0.1
    done
    echo "lighttpd did not start; see $work/lighttpd.error.log" >&2
    exit 1
}

# Prints "requests/s median-ms" of one wrk run.
http_measure() {
    local url=$1 connections=$2 threads=1 out
    [ "$connections" -gt 1 ] && threads=2
    out=$(wrk -t"$threads" -c"$connections" -d"${HTTP_SECONDS}s" --latency "$url")
    if echo "$out" | grep -q "Non-2xx"; then
        echo "wrk saw failed requests for $url" >&2
        exit 1
    fi
    echo "$out" | awk '
        function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
        /Requests\/sec:/ { rps = $2 }
        $1 == "50.000%" || $1 == "50%" { median = ms($2) }
        END { printf "%.1f %.2f\n", rps, median }'
}

http_ratio() { echo "scale=1; $1 / $2" | bc; }

http_benchmark() {
    local http_port=${ORVELA_BENCH_HTTP_PORT:-18090} base command query connections
    http_start_server "$http_port"
    trap 'kill "$http_server_pid" 2>/dev/null; "$ROOT/scripts/pgcluster.sh" stop "$work/pg"' EXIT
    base="http://127.0.0.1:$http_port"
    echo "| command | connections | CGI req/s | persistent req/s | ratio | CGI median ms | persistent median ms | ratio |"
    echo "|---|---|---|---|---|---|---|---|"
    for command in test Get_UserData; do
        query="CMD=$command"
        [ "$command" = Get_UserData ] && query="$query&Auth=$token"
        for connections in 1 8; do
            read -r cgi_rps cgi_ms <<<"$(http_measure "$base/cgi/orvela?$query" "$connections")"
            read -r fcgi_rps fcgi_ms <<<"$(http_measure "$base/orvela?$query" "$connections")"
            printf '| %s | %s | %s | %s | %sx | %s | %s | 1/%s |\n' "$command" "$connections" "$cgi_rps" \
                "$fcgi_rps" "$(http_ratio "$fcgi_rps" "$cgi_rps")" "$cgi_ms" "$fcgi_ms" \
                "$(http_ratio "$cgi_ms" "$fcgi_ms")"
        done
    done
    echo
    echo "$(date -u '+%Y-%m-%d'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'),"\
         "$(free -g | awk '/Mem:/ { print $2 }') GB; ${HTTP_SECONDS} s per figure, logs on, debug off"
}

if [ "$MODE" = http ]; then
    http_benchmark
    exit 0
fi

# ---- the default mode: whole CGI requests against the libpq floor ----

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
