#!/usr/bin/env bash
# The cost of reading from a hot standby: a read-heavy mix of commands through lighttpd to the
# persistent mode, timed by wrk, served once by the primary alone and once with a streaming
# standby beside it (the program's reading server), and once with the primary named as reading
# server too, so that only the routing differs. All run on this machine, so the absolute
# figures mean little; the ratio of the second to the first is the price of the routing (a
# second kept connection, the freshness question asked once a second), that of the third the
# effect of a standby on the same cores. A second mix with one change in twenty shows what a change costs
# when it waits for the standby to apply it. Runs alternate, figures are medians.
#
#   scripts/benchmark.sh replica [ROUNDS]     (default 3 rounds of ORVELA_BENCH_SECONDS, 10 s)
source "$(dirname "$0")/../common.sh"

ROUNDS=${1:-3}
SECONDS_PER_RUN=${ORVELA_BENCH_SECONDS:-10}
PACKAGES+=(wrk bc)
install_packages
configure
build --target orvela

work=$BUILD_DIR/bench-replica
rm -rf "$work" && mkdir -p "$work/install/bin" "$work/install/cnf"
cp "$BUILD_DIR/bin/orvela" "$work/install/bin/orvela"
primary=$("$ROOT/scripts/pgcluster.sh" start "$work/primary")
standby=$("$ROOT/scripts/pgcluster.sh" standby "$work/standby" "$work/primary")
http_port=${ORVELA_BENCH_HTTP_PORT:-18091}
server_pid=
trap '[ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null; "$ROOT/scripts/pgcluster.sh" stop "$work/standby"; "$ROOT/scripts/pgcluster.sh" stop "$work/primary"' EXIT

# primary: no reading server; self: the primary named as reading server too, so that only the
# routing differs; standby: the standby reads.
write_config() {
    {
        printf '[orvela]\nserver=127.0.0.1\nport=%s\ndb=orvela\nuser=orvela\npassword=granite\n' "$primary"
        case $1 in
            standby) printf 'read_server=127.0.0.1\nread_port=%s\n' "$standby" ;;
            self) printf 'read_server=127.0.0.1\nread_port=%s\n' "$primary" ;;
        esac
    } > "$work/install/cnf/server.cnf"
}

cat > "$work/lighttpd.conf" <<CONF
server.modules = ("mod_fastcgi")
server.bind = "127.0.0.1"
server.port = $http_port
server.document-root = "$work"
server.errorlog = "$work/lighttpd.error.log"
fastcgi.server = ("/orvela" => (("socket" => "$work/orvela.sock", "bin-path" => "$work/install/bin/orvela",
                                 "max-procs" => $(nproc), "check-local" => "disable")))
CONF
write_config primary
lighttpd -D -f "$work/lighttpd.conf" &
server_pid=$!
token=65aeae800556f9b122f4d119e96b47988c2cd516522ccf2907495e5375b05c2f10bc27974dac7e5aa0e6b92c1c151415
base="http://127.0.0.1:$http_port/orvela?Auth=$token&CMD="
for _ in $(seq 1 100); do curl -s "${base}Get_UserData" | grep -q '"errorCode":0' && break; sleep 0.1; done
psql -X -q -h "$work/primary" -p "$primary" -U postgres -d orvela -c \
    "INSERT INTO \"CompanyTable\" (\"Name\") SELECT 'Company ' || i FROM generate_series(1, 50) i;
     INSERT INTO \"AddressTable\" (\"Name\", \"CompanyId\") SELECT 'Street ' || i, 1 + i % 50 FROM generate_series(1, 500) i;"

# One request in `every` is a change (0: none); the others cycle through three listings.
cat > "$work/mix.lua" <<'LUA'
local reads = {"Get_UserData", "Get_CompanyTable", "Get_AddressTable&CompanyId=7"}
local counter, every = 0, tonumber(os.getenv("ORVELA_MIX_CHANGE_EVERY") or "0")
request = function()
    counter = counter + 1
    if every > 0 and counter % every == 0 then
        return wrk.format("GET", wrk.path .. "Upd_Company&Id=1&Name=Company%201")
    end
    return wrk.format("GET", wrk.path .. reads[counter % #reads + 1])
end
LUA

# Requests per second of one run; a failed request fails the benchmark.
measure() {
    local out
    out=$(ORVELA_MIX_CHANGE_EVERY=$1 wrk -t2 -c4 -d"${ORVELA_BENCH_SECONDS:-$SECONDS_PER_RUN}s" -s "$work/mix.lua" "$base")
    if echo "$out" | grep -q "Non-2xx"; then echo "failed requests" >&2; exit 1; fi
    echo "$out" | awk '/Requests\/sec:/ { print $2 }'
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

declare -A figures
for round in $(seq "$ROUNDS"); do
    for setup in primary self standby; do
        write_config "$setup"
        ORVELA_BENCH_SECONDS=2 measure 20 >/dev/null # opens the connections, warms the caches
        for every in 0 20; do
            figures[$setup-$every]+="$(measure "$every") "
        done
    done
done
rows=$(psql -X -At -h "$work/standby" -p "$standby" -U postgres -d orvela -c "SELECT count(*) FROM \"AddressTable\"")
[ "$rows" = 500 ] || { echo "the standby did not follow the primary" >&2; exit 1; }

echo "| mix | primary alone req/s | routed, primary reads req/s | ratio | standby reads req/s | ratio |"
echo "|---|---|---|---|---|---|"
for every in 0 20; do
    for setup in primary self standby; do
        declare "r_$setup=$(echo "${figures[$setup-$every]}" | tr ' ' '\n' | grep . | median)"
    done
    label="reads only"
    [ "$every" = 0 ] || label="one change in $every"
    printf '| %s | %s | %s | %s | %s | %s |\n' "$label" "$r_primary" "$r_self" "$(echo "scale=3; $r_self / $r_primary" | bc)" \
        "$r_standby" "$(echo "scale=3; $r_standby / $r_primary" | bc)"
done
echo
echo "$(date -u '+%Y-%m-%d'), $(nproc) cores, persistent mode ($(nproc) processes), 4 connections," \
     "median of $ROUNDS runs of ${SECONDS_PER_RUN} s, primary and standby on this machine"
