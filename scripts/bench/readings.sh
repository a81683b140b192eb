#!/usr/bin/env bash
# The readings benchmark: loads the benchmark-size data set once into a cluster of its own,
# then times each readings command against its floor, a libpq program that connects the same
# way and runs one hand-written statement returning the rows the answer is built from. Runs
# are interleaved (command, floor, next command...), so that a passing load weighs on all
# alike; figures are medians, compared as ratios. Each request is timed twice more: in the
# persistent mode (one FastCGI process kept running, reached with cgi-fcgi), whose answer must
# equal the CGI answer byte for byte but for the server's clock.
#
#   scripts/benchmark.sh readings [ROUNDS]      (default 11)
#
# The data set is reloaded when it is missing or more than a day old, since "Get_ErrorFlags"
# looks at the last 30 days from now.
source "$(dirname "$0")/../common.sh"

ROUNDS=${1:-11}
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
cat > "$work/install/cnf/server.cnf" <<CONF
[orvela]
server=127.0.0.1
port=$port
db=orvela
user=orvela
password=granite
log=true
dbg=false
CONF
include=$(pg_config --includedir 2>/dev/null || echo /usr/include/postgresql)
gcc -O2 -o "$work/floor" "$ROOT/scripts/bench/floor.c" -I"$include" -lpq
gcc -O2 -o "$work/measure" "$ROOT/scripts/bench/measure.c"
conninfo="host=127.0.0.1 port=$port dbname=orvela user=orvela password=granite"
export PGPASSWORD=granite
sql() { psql -h 127.0.0.1 -p "$port" -U orvela -d orvela -Atq -c "$1"; }

# --- The data set ----------------------------------------------------------------------------
# The marker holds the newest hour of the readings and a digest of what made the database: a
# changed data set or schema (new indexes) loads it again.
marker=$work/dataset.loaded
made_by=$(cat "$ROOT/tools/dataset/dataset.sql" "$ROOT/db/schemascripts.cpp" | md5sum | cut -d' ' -f1)
if [ ! -f "$marker" ] || [ "$(sed -n 2p "$marker")" != "$made_by" ] ||
    [ "$(( $(date +%s) - $(date -d "$(head -1 "$marker") UTC" +%s) ))" -gt 86400 ]; then
    echo "Loading the benchmark data set (takes a minute or two)"
    sql 'DROP SCHEMA public CASCADE; CREATE SCHEMA public;' 2>/dev/null
    end=$(date -u +'%Y-%m-%d %H:00')
    "$BUILD_DIR/bin/orvela-dataset" --preset bench --end "$end" "$work/install"
    printf '%s\n%s\n' "$end" "$made_by" > "$marker"
fi
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

# The stored UTC bounds of local days, for the floors.
utc() { date -u -d "$1 - $shift_min minutes" +'%Y-%m-%d %H:%M:%S'; }
# The archive rows of the years a window touches.
archive() { # FROM TO (UTC) -> a subquery
    local from=$1 to=$2 year separator="" union="("
    for year in $(seq "${from:0:4}" "${to:0:4}"); do
        union+="$separator SELECT \"Id\", \"DeviceId\", \"ArcDate\", \"RecDate\", \"JsonVal\", \"JsonErr\" FROM \"ArchiveTable$year\""
        union+=" WHERE \"ArcDate\" BETWEEN '$from' AND '$to'"
        separator=" UNION ALL"
    done
    echo "$union)"
}
installed_at() { # ADDRESS -> devices installed there now
    echo "SELECT i.\"DeviceId\" FROM \"InstallTable\" i JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" WHERE o.\"AddressId\"=$1 AND i.\"Actual\"=1"
}
slots() { # DEVICES FROM TO KEYFORMAT -> the newest row of each device in each local slot
    echo "SELECT DISTINCT ON (r.\"DeviceId\", to_char(r.\"ArcDate\" + interval '$shift_min minutes', '$4')) r.\"DeviceId\", r.\"Id\", r.\"ArcDate\", r.\"RecDate\", r.\"JsonVal\"::varchar, r.\"JsonErr\"::varchar FROM $(archive "$2" "$3") r WHERE r.\"DeviceId\" IN ($1) ORDER BY r.\"DeviceId\", to_char(r.\"ArcDate\" + interval '$shift_min minutes', '$4'), r.\"ArcDate\" DESC"
}
# The floor of one device's period table: the device's row with its address's offset (found
# only while the device is installed in the caller's company), the newest row of each local
# slot of the window, and the first row in the days after the last slot, which the estimates
# of the slots still to come are built from. Bounds are local times, moved to UTC by the
# offset the statement reads.
device_table() { # KEYFORMAT FROM TO AFTER DAYS (local "yyyy-MM-dd HH:mm:ss")
    local key=$1 from=$2 to=$3 after=$4 days=$5 year rows="" later="" separator=""
    local shift='make_interval(mins => w."TimeShift")'
    local columns='"Id", "ArcDate", "RecDate", "JsonVal"::varchar, "JsonErr"::varchar'
    for year in $(seq "${from:0:4}" "${to:0:4}"); do
        rows+="$separator SELECT $columns FROM \"ArchiveTable$year\" WHERE \"DeviceId\"=w.\"Id\" AND \"ArcDate\" BETWEEN TIMESTAMP '$from' - $shift AND TIMESTAMP '$to' - $shift"
        separator=" UNION ALL"
    done
    separator=""
    for year in $(seq "${after:0:4}" "$(date -u -d "${after:0:10} + $days days" +%Y)"); do
        later+="$separator SELECT $columns FROM \"ArchiveTable$year\" WHERE \"DeviceId\"=w.\"Id\" AND \"ArcDate\" BETWEEN TIMESTAMP '$after' - $shift AND TIMESTAMP '$after' - $shift + interval '$days days'"
        separator=" UNION ALL"
    done
    echo "WITH w AS (SELECT d.\"Id\" AS \"DeviceId\", d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"TransKoef\", a.\"TimeShift\" FROM \"DeviceTable\" d JOIN \"InstallTable\" i ON i.\"DeviceId\"=d.\"Id\" AND i.\"Actual\"=1 JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" JOIN \"AddressTable\" a ON a.\"Id\"=o.\"AddressId\" WHERE d.\"Id\"=$device AND a.\"CompanyId\"=1) SELECT w.*, r.* FROM w CROSS JOIN LATERAL ((SELECT DISTINCT ON (to_char(x.\"ArcDate\" + $shift, '$key')) x.* FROM ($rows) x ORDER BY to_char(x.\"ArcDate\" + $shift, '$key'), x.\"ArcDate\" DESC) UNION ALL (SELECT x.* FROM ($later) x ORDER BY x.\"ArcDate\", x.\"Id\" LIMIT 1)) r"
}
month_from=$(utc "$(date -u -d "$month_start - 1 day" +%Y-%m-%d) 00:00:00")
month_to=$(utc "$month_end 23:59:59")
now_utc=$(date -u +'%Y-%m-%d %H:%M:%S')
errors_from=$(date -u -d "30 days ago" +'%Y-%m-%d %H:%M:%S')

names=() works=() targets=() queries=() floors=()
add() { names+=("$1"); works+=("$2"); targets+=("$3"); queries+=("$4"); floors+=("$5"); }
add Get_DevValues "one device, month" 1.5 \
    "CMD=Get_DevValues&Auth=$company_user&DeviceId=$device&Period=month&Date=$day" \
    "$(device_table YYYY-MM-DD "$(date -u -d "$month_start - 1 day" +%Y-%m-%d) 23:00:00" "$month_end 23:59:59" "$month_end 23:00:00" 10)"
add Get_DevValues "one device, day" 1.5 \
    "CMD=Get_DevValues&Auth=$company_user&DeviceId=$device&Period=day&Date=$day" \
    "$(device_table 'YYYY-MM-DD HH24' "$day 00:00:00" "$(date -u -d "$day + 1 day" +%Y-%m-%d) 00:59:59" "$(date -u -d "$day + 1 day" +%Y-%m-%d) 00:00:00" 5)"
add Get_DevValuesFromAddress "200 devices" 2 \
    "CMD=Get_DevValuesFromAddress&Auth=$company_user&AddressId=$big&Date=$day" \
    "SELECT DISTINCT ON (r.\"DeviceId\") r.\"DeviceId\", r.\"ArcDate\", r.\"RecDate\", r.\"JsonVal\"::varchar, r.\"JsonErr\"::varchar FROM $(archive "$(utc "$day 00:00:00")" "$(utc "$day 23:59:59")") r WHERE r.\"DeviceId\" IN ($(installed_at "$big")) ORDER BY r.\"DeviceId\", r.\"ArcDate\" DESC"
add Get_PeriodValues "200 devices, month" 2 \
    "CMD=Get_PeriodValues&Auth=$company_user&AddressId=$big&Period=month&Date=$day" \
    "$(slots "$(installed_at "$big")" "$month_from" "$month_to" YYYY-MM-DD)"
add Get_DeviceList "200 devices" 2 \
    "CMD=Get_DeviceList&Auth=$company_user&AddressId=$big" \
    "SELECT i.\"DeviceId\", r.* FROM ($(installed_at "$big")) i CROSS JOIN LATERAL (SELECT \"ArcDate\", \"RecDate\", \"JsonVal\"::varchar, \"JsonErr\"::varchar FROM \"ArchiveTable${end:0:4}\" a WHERE a.\"DeviceId\"=i.\"DeviceId\" ORDER BY \"ArcDate\" DESC LIMIT 1) r"
add Report "50 devices, period 1, 366 days" 2 \
    "CMD=Report&Auth=$company_user&addressId=$reportAddress&period=1&dateStart=$year_ago&dateEnd=$day" \
    "$(slots "$(installed_at "$reportAddress")" "$(utc "$(date -u -d "$year_ago - 1 day" +%Y-%m-%d) 00:00:00")" "$(utc "$day 23:59:59")" YYYY-MM-DD)"
# The error condition is the program's own, as a client developer reading the schema would
# write it, so that the floor may use the index made for it.
error_condition=$(sed -n '/^#define ORVELA_ARCHIVE_ERROR_CONDITION/,/^$/p' "$ROOT/db/schemascripts.h" | sed -n 's/^ *"\(.*\)" *\\\?$/\1/p' | tr -d '\n' | sed 's/\\"/"/g')
add Get_ErrorFlags "company of 1,000 devices" 2 \
    "CMD=Get_ErrorFlags&Auth=$company_user" \
    "SELECT * FROM (SELECT r.\"Id\", r.\"DeviceId\", r.\"ArcDate\", r.\"JsonErr\"::varchar, row_number() OVER (PARTITION BY r.\"DeviceId\" ORDER BY r.\"ArcDate\" DESC) AS n FROM \"ArchiveTable${end:0:4}\" r WHERE r.\"DeviceId\" IN (SELECT i.\"DeviceId\" FROM \"InstallTable\" i JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" JOIN \"AddressTable\" a ON a.\"Id\"=o.\"AddressId\" WHERE a.\"CompanyId\"=1 AND i.\"Actual\"=1) AND r.\"ArcDate\" BETWEEN '$errors_from' AND '$now_utc' AND $error_condition AND r.\"JsonErr\"->0->'fixed' IS NULL) e WHERE n <= 10"
add Search "Type 0, a number fragment" 1.5 \
    "CMD=Search&Auth=$company_user&Type=0&Field1=2000012" \
    "select distinct d.\"Id\" as \"DeviceId\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"DevType\", d.\"ZavNum\", d.\"ModelId\", m.\"Name\", i.\"Id\", o.\"AddressId\", a.\"Name\", i.\"ObjectId\", o.\"Obj\", a.\"CompanyId\", c.\"Name\" from \"DeviceTable\" d left join \"ModelTable\" m on d.\"ModelId\"=m.\"Id\" left join \"InstallTable\" i on d.\"Id\"=i.\"DeviceId\" left join \"ObjectTable\" o on i.\"ObjectId\"=o.\"Id\" left join \"AddressTable\" a on o.\"AddressId\"=a.\"Id\" left join \"CompanyTable\" c on a.\"CompanyId\"=c.\"Id\" where (i.\"Actual\"=1) and ((position('2000012' in cast(d.\"IdentNum\" as varchar)) > 0) or (position('2000012' in d.\"ZavNum\") > 0)) limit 1000"

# --- Every command answers, and every floor runs, before anything is timed -----------------
run_command() { # INDEX OUTPUT -> "microseconds kilobytes"
    REQUEST_METHOD=GET QUERY_STRING="${queries[$1]}" "$work/measure" "$2" "$work/install/bin/orvela"
}
fastcgi_port=$((port + 1000))
"$work/install/bin/orvela" --fastcgi=127.0.0.1:$fastcgi_port &
persistent_pid=$!
for _ in $(seq 50); do
    REQUEST_METHOD=GET QUERY_STRING=CMD=test /usr/bin/cgi-fcgi -bind -connect "127.0.0.1:$fastcgi_port" 2>/dev/null | grep -q errorCode && break
    sleep 0.1
done
run_persistent() { # INDEX OUTPUT -> "microseconds kilobytes" (of cgi-fcgi, not of the process)
    REQUEST_METHOD=GET QUERY_STRING="${queries[$1]}" "$work/measure" "$2" /usr/bin/cgi-fcgi -bind -connect "127.0.0.1:$fastcgi_port"
}
run_floor() { # INDEX OUTPUT -> "microseconds kilobytes"
    "$work/measure" "$2" "$work/floor" "$conninfo" "${floors[$1]}"
}
for i in "${!names[@]}"; do
    run_command "$i" "$work/out/$i.json" >/dev/null
    if ! grep -q '"info":{"errorCode":0,' "$work/out/$i.json"; then
        echo "${names[$i]} (${works[$i]}) did not succeed:" >&2
        head -c 600 "$work/out/$i.json" >&2
        exit 1
    fi
    run_floor "$i" "$work/out/$i.floor" >/dev/null || { echo "the floor of ${names[$i]} failed" >&2; exit 1; }
    run_persistent "$i" "$work/out/$i.persistent" >/dev/null
    if ! cmp -s <(sed 's/"serverDateTime":"[^"]*"//' "$work/out/$i.json") \
                <(sed 's/"serverDateTime":"[^"]*"//' "$work/out/$i.persistent"); then
        echo "${names[$i]} (${works[$i]}) answers differently in the persistent mode" >&2
        exit 1
    fi
    echo "  ${names[$i]} (${works[$i]}): answer $(stat -c %s "$work/out/$i.json") bytes; floor $(cat "$work/out/$i.floor")"
done

# --- Timing ----------------------------------------------------------------------------------
rm -f "$work"/times.*
for round in $(seq "$ROUNDS"); do
    for i in "${!names[@]}"; do
        run_command "$i" /dev/null >> "$work/times.command.$i"
        run_floor "$i" /dev/null >> "$work/times.floor.$i"
        run_persistent "$i" /dev/null >> "$work/times.persistent.$i"
    done
    printf '\r  round %d of %d' "$round" "$ROUNDS"
done
echo
median() { sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000 }'; }

echo
echo "Readings benchmark, $(date -u +'%Y-%m-%d'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); median of $ROUNDS interleaved runs"
echo
printf '| %-24s | %-30s | %8s | %8s | %6s | %6s | %8s | %10s | %10s |\n' command work "CGI ms" "floor ms" ratio target "peak MB" \
    "persist. ms" "its ratio"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..26})" "$(printf -- '-%.0s' {1..32})" "----------" "----------" \
    "--------" "--------" "----------" "------------" "------------"
for i in "${!names[@]}"; do
    command_ms=$(cut -d' ' -f1 "$work/times.command.$i" | median)
    floor_ms=$(cut -d' ' -f1 "$work/times.floor.$i" | median)
    persistent_ms=$(cut -d' ' -f1 "$work/times.persistent.$i" | median)
    peak_mb=$(cut -d' ' -f2 "$work/times.command.$i" | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')
    ratio=$(awk -v c="$command_ms" -v f="$floor_ms" 'BEGIN { printf "%.2f", c / f }')
    persistent_ratio=$(awk -v c="$persistent_ms" -v f="$floor_ms" 'BEGIN { printf "%.2f", c / f }')
    mark=$(awk -v r="$ratio" -v t="${targets[$i]}" 'BEGIN { print (r <= t) ? "" : " CGI over" }')
    printf '| %-24s | %-30s | %8s | %8s | %6s | %6s | %8s | %10s | %10s |%s\n' "${names[$i]}" "${works[$i]}" "$command_ms" \
        "$floor_ms" "$ratio" "≤ ${targets[$i]}" "$peak_mb" "$persistent_ms" "$persistent_ratio" "$mark"
done
echo
echo "Peak resident memory of the persistent process after every request above:" \
    "$(awk '/VmHWM/ { printf "%.1f MB", $2 / 1024 }' "/proc/$persistent_pid/status")"
exit 0
