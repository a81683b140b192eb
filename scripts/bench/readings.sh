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
ROUNDS=${1:-11}
source "$(dirname "$0")/setup.sh"

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
# The same rows with one index probe per device and slot: the slots' UTC starts come from a
# series, and each probe reads the newest row of its slot from every yearly table the slot may
# touch. It reads only the rows it returns, where DISTINCT ON reads and sorts every row.
probe() { # DEVICE-COLUMN FROM TO (UTC, the slot [lo, lo + step)) -> the newest row or none
    local device=$1 from=$2 to=$3 year separator="" union=""
    for year in $(seq "${from:0:4}" "${to:0:4}"); do
        union+="$separator(SELECT \"Id\", \"ArcDate\", \"RecDate\", \"JsonVal\"::varchar, \"JsonErr\"::varchar FROM \"ArchiveTable$year\" WHERE \"DeviceId\"=$device AND \"ArcDate\" >= s.lo AND \"ArcDate\" < s.lo + s.step ORDER BY \"ArcDate\" DESC LIMIT 1)"
        separator=" UNION ALL "
    done
    echo "SELECT * FROM ($union) p ORDER BY \"ArcDate\" DESC LIMIT 1"
}
lateral_slots() { # DEVICES FIRST LAST STEP (local starts of the first and the last slot) -> one row per device and slot
    local first_utc last_utc
    first_utc=$(utc "$2")
    last_utc=$(utc "$3")
    echo "SELECT d.\"DeviceId\", s.lo, r.* FROM ($1) d CROSS JOIN (SELECT lo, interval '$4' AS step FROM generate_series(TIMESTAMP '$first_utc', TIMESTAMP '$last_utc', interval '$4') lo) s CROSS JOIN LATERAL ($(probe 'd."DeviceId"' "$first_utc" "$(date -u -d "$last_utc UTC + $4" +'%Y-%m-%d %H:%M:%S')")) r"
}
# The floor of one device's period table: the device's row with its address's offset (found
# only while the device is installed in the caller's company), the newest row of each local
# slot of the window, and the first row in the days after the last slot, which the estimates
# of the slots still to come are built from. Bounds are local times, moved to UTC by the
# offset the statement reads.
# The form is "distinct" (the slots by DISTINCT ON the local slot's key, FROM and TO bounding
# the window) or "lateral" (a probe per slot, FROM and TO the starts of the first and the last).
device_table() { # FORM KEYFORMAT|STEP FROM TO AFTER DAYS (local "yyyy-MM-dd HH:mm:ss")
    local form=$1 key=$2 from=$3 to=$4 after=$5 days=$6 year rows="" later="" separator=""
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
    local slot_rows="SELECT DISTINCT ON (to_char(x.\"ArcDate\" + $shift, '$key')) x.* FROM ($rows) x ORDER BY to_char(x.\"ArcDate\" + $shift, '$key'), x.\"ArcDate\" DESC"
    if [ "$form" = lateral ]; then
        slot_rows="SELECT p.* FROM (SELECT lo, interval '$key' AS step FROM generate_series(TIMESTAMP '$from' - $shift, TIMESTAMP '$to' - $shift, interval '$key') lo) s CROSS JOIN LATERAL ($(probe 'w."Id"' "$(utc "$from")" "$(date -u -d "$(utc "$to") UTC + $key" +'%Y-%m-%d %H:%M:%S')")) p"
    fi
    echo "WITH w AS (SELECT d.\"Id\" AS \"DeviceId\", d.\"Id\", d.\"DevType\", d.\"ManId\", d.\"IdentNum\", d.\"Ver\", d.\"TransKoef\", a.\"TimeShift\" FROM \"DeviceTable\" d JOIN \"InstallTable\" i ON i.\"DeviceId\"=d.\"Id\" AND i.\"Actual\"=1 JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" JOIN \"AddressTable\" a ON a.\"Id\"=o.\"AddressId\" WHERE d.\"Id\"=$device AND a.\"CompanyId\"=1) SELECT w.*, r.* FROM w CROSS JOIN LATERAL (($slot_rows) UNION ALL (SELECT x.* FROM ($later) x ORDER BY x.\"ArcDate\", x.\"Id\" LIMIT 1)) r"
}
month_from=$(utc "$(date -u -d "$month_start - 1 day" +%Y-%m-%d) 00:00:00")
month_to=$(utc "$month_end 23:59:59")
now_utc=$(date -u +'%Y-%m-%d %H:%M:%S')
errors_from=$(date -u -d "30 days ago" +'%Y-%m-%d %H:%M:%S')

# Each command: its name, the work, its targets (CGI and persistent against the floor; "-" for
# none), the request, the floor and, where the floor changed, the floor it had before (the
# newest row of each slot by DISTINCT ON), so that earlier figures stay comparable.
names=() works=() targets=() persistent_targets=() queries=() floors=() old_floors=()
add() { names+=("$1"); works+=("$2"); targets+=("$3"); persistent_targets+=("$4"); queries+=("$5"); floors+=("$6"); old_floors+=("${7:-}"); }
previous_day() { date -u -d "$1 - 1 day" +%Y-%m-%d; }
next_day() { date -u -d "$1 + 1 day" +%Y-%m-%d; }
month_base="$(previous_day "$month_start")"
add Get_DevValues "one device, month" 1.3 0.3 \
    "CMD=Get_DevValues&Auth=$company_user&DeviceId=$device&Period=month&Date=$day" \
    "$(device_table lateral '1 day' "$month_base 00:00:00" "$month_end 00:00:00" "$month_end 23:00:00" 10)" \
    "$(device_table distinct YYYY-MM-DD "$month_base 23:00:00" "$month_end 23:59:59" "$month_end 23:00:00" 10)"
add Get_DevValues "one device, day" 1.3 0.3 \
    "CMD=Get_DevValues&Auth=$company_user&DeviceId=$device&Period=day&Date=$day" \
    "$(device_table lateral '1 hour' "$day 00:00:00" "$(next_day "$day") 00:00:00" "$(next_day "$day") 00:00:00" 5)" \
    "$(device_table distinct 'YYYY-MM-DD HH24' "$day 00:00:00" "$(next_day "$day") 00:59:59" "$(next_day "$day") 00:00:00" 5)"
add Get_DevValuesFromAddress "200 devices" 2 - \
    "CMD=Get_DevValuesFromAddress&Auth=$company_user&AddressId=$big&Date=$day" \
    "SELECT DISTINCT ON (r.\"DeviceId\") r.\"DeviceId\", r.\"ArcDate\", r.\"RecDate\", r.\"JsonVal\"::varchar, r.\"JsonErr\"::varchar FROM $(archive "$(utc "$day 00:00:00")" "$(utc "$day 23:59:59")") r WHERE r.\"DeviceId\" IN ($(installed_at "$big")) ORDER BY r.\"DeviceId\", r.\"ArcDate\" DESC"
add Get_PeriodValues "200 devices, month" 1.5 0.6 \
    "CMD=Get_PeriodValues&Auth=$company_user&AddressId=$big&Period=month&Date=$day" \
    "$(lateral_slots "$(installed_at "$big")" "$month_base 00:00:00" "$month_end 00:00:00" '1 day')" \
    "$(slots "$(installed_at "$big")" "$month_from" "$month_to" YYYY-MM-DD)"
add Get_PeriodValues "200 devices, day (hours)" 1.5 0.6 \
    "CMD=Get_PeriodValues&Auth=$company_user&AddressId=$big&Period=day&Date=$day" \
    "$(lateral_slots "$(installed_at "$big")" "$(previous_day "$day") 23:00:00" "$(next_day "$day") 00:00:00" '1 hour')" \
    "$(slots "$(installed_at "$big")" "$(utc "$(previous_day "$day") 23:00:00")" "$(utc "$(next_day "$day") 00:59:59")" 'YYYY-MM-DD HH24')"
add Get_DeviceList "200 devices" 2 - \
    "CMD=Get_DeviceList&Auth=$company_user&AddressId=$big" \
    "SELECT i.\"DeviceId\", r.* FROM ($(installed_at "$big")) i CROSS JOIN LATERAL (SELECT \"ArcDate\", \"RecDate\", \"JsonVal\"::varchar, \"JsonErr\"::varchar FROM \"ArchiveTable${end:0:4}\" a WHERE a.\"DeviceId\"=i.\"DeviceId\" ORDER BY \"ArcDate\" DESC LIMIT 1) r"
add Report "50 devices, period 1, 366 days" 1.5 0.6 \
    "CMD=Report&Auth=$company_user&addressId=$reportAddress&period=1&dateStart=$year_ago&dateEnd=$day" \
    "$(lateral_slots "$(installed_at "$reportAddress")" "$(previous_day "$year_ago") 00:00:00" "$day 00:00:00" '1 day')" \
    "$(slots "$(installed_at "$reportAddress")" "$(utc "$(previous_day "$year_ago") 00:00:00")" "$(utc "$day 23:59:59")" YYYY-MM-DD)"
hour_report_start=$(date -u -d "$day - 30 days" +%Y-%m-%d)
add Get_Report "hour mode, one device, 31 days" 1.5 0.6 \
    "CMD=Get_Report&Auth=$company_user&HourReport=1&DeviceId=$device&StartDate=$hour_report_start&EndDate=$day" \
    "$(lateral_slots "SELECT $device AS \"DeviceId\"" "$(previous_day "$hour_report_start") 23:00:00" "$(next_day "$day") 00:00:00" '1 hour')" \
    "$(slots "$device" "$(utc "$(previous_day "$hour_report_start") 23:00:00")" "$(utc "$(next_day "$day") 00:59:59")" 'YYYY-MM-DD HH24')"
# The error condition is the program's own, as a client developer reading the schema would
# write it, so that the floor may use the index made for it.
error_condition=$(sed -n '/^#define ORVELA_ARCHIVE_ERROR_CONDITION/,/^$/p' "$ROOT/db/schemascripts.h" | sed -n 's/^ *"\(.*\)" *\\\?$/\1/p' | tr -d '\n' | sed 's/\\"/"/g')
add Get_ErrorFlags "company of 1,000 devices" 2 - \
    "CMD=Get_ErrorFlags&Auth=$company_user" \
    "SELECT * FROM (SELECT r.\"Id\", r.\"DeviceId\", r.\"ArcDate\", r.\"JsonErr\"::varchar, row_number() OVER (PARTITION BY r.\"DeviceId\" ORDER BY r.\"ArcDate\" DESC) AS n FROM \"ArchiveTable${end:0:4}\" r WHERE r.\"DeviceId\" IN (SELECT i.\"DeviceId\" FROM \"InstallTable\" i JOIN \"ObjectTable\" o ON o.\"Id\"=i.\"ObjectId\" JOIN \"AddressTable\" a ON a.\"Id\"=o.\"AddressId\" WHERE a.\"CompanyId\"=1 AND i.\"Actual\"=1) AND r.\"ArcDate\" BETWEEN '$errors_from' AND '$now_utc' AND $error_condition AND r.\"JsonErr\"->0->'fixed' IS NULL) e WHERE n <= 10"
add Search "Type 0, a number fragment" 1.5 - \
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
run_floor() { # INDEX OUTPUT [old] -> "microseconds kilobytes"
    local statement=${floors[$1]}
    [ "${3:-}" = old ] && statement=${old_floors[$1]}
    "$work/measure" "$2" "$work/floor" "$conninfo" "$statement"
}
for i in "${!names[@]}"; do
    run_command "$i" "$work/out/$i.json" >/dev/null
    if ! grep -q '"info":{"errorCode":0,' "$work/out/$i.json"; then
        echo "${names[$i]} (${works[$i]}) did not succeed:" >&2
        head -c 600 "$work/out/$i.json" >&2
        exit 1
    fi
    run_floor "$i" "$work/out/$i.floor" >/dev/null || { echo "the floor of ${names[$i]} failed" >&2; exit 1; }
    if [ -n "${old_floors[$i]}" ]; then
        run_floor "$i" "$work/out/$i.old-floor" old >/dev/null || { echo "the old floor of ${names[$i]} failed" >&2; exit 1; }
        # Both floors return one row per device and slot that has a reading.
        echo "  ${names[$i]} (${works[$i]}): old floor $(cat "$work/out/$i.old-floor")"
    fi
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
        [ -z "${old_floors[$i]}" ] || run_floor "$i" /dev/null old >> "$work/times.old-floor.$i"
        run_persistent "$i" /dev/null >> "$work/times.persistent.$i"
    done
    printf '\r  round %d of %d' "$round" "$ROUNDS"
done
echo
median() { sort -n | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f", m / 1000 }'; }

echo
echo "Readings benchmark, $(date -u +'%Y-%m-%d'), $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'); median of $ROUNDS interleaved runs"
echo
printf '| %-24s | %-31s | %8s | %8s | %6s | %6s | %8s | %9s | %6s | %6s | %9s |\n' command work "CGI ms" "floor ms" ratio target \
    "peak MB" "persist. ms" ratio target "old floor"
printf '|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..26})" "$(printf -- '-%.0s' {1..33})" "----------" \
    "----------" "--------" "--------" "----------" "-------------" "--------" "--------" "-----------"
over() { awk -v r="$1" -v t="$2" 'BEGIN { print (t == "-" || r <= t) ? "" : "over" }'; }
for i in "${!names[@]}"; do
    command_ms=$(cut -d' ' -f1 "$work/times.command.$i" | median)
    floor_ms=$(cut -d' ' -f1 "$work/times.floor.$i" | median)
    persistent_ms=$(cut -d' ' -f1 "$work/times.persistent.$i" | median)
    old_floor_ms=-
    [ -z "${old_floors[$i]}" ] || old_floor_ms=$(cut -d' ' -f1 "$work/times.old-floor.$i" | median)
    peak_mb=$(cut -d' ' -f2 "$work/times.command.$i" | sort -n | tail -1 | awk '{ printf "%.1f", $1 / 1024 }')
    ratio=$(awk -v c="$command_ms" -v f="$floor_ms" 'BEGIN { printf "%.2f", c / f }')
    persistent_ratio=$(awk -v c="$persistent_ms" -v f="$floor_ms" 'BEGIN { printf "%.2f", c / f }')
    marks="$(over "$ratio" "${targets[$i]}") $(over "$persistent_ratio" "${persistent_targets[$i]}")"
    printf '| %-24s | %-31s | %8s | %8s | %6s | %6s | %8s | %11s | %6s | %6s | %9s |%s\n' "${names[$i]}" "${works[$i]}" \
        "$command_ms" "$floor_ms" "$ratio" "≤ ${targets[$i]}" "$peak_mb" "$persistent_ms" "$persistent_ratio" \
        "≤ ${persistent_targets[$i]}" "$old_floor_ms" "$(echo "$marks" | sed 's/^ *$//')"
done
echo
echo "Peak resident memory of the persistent process after every request above:" \
    "$(awk '/VmHWM/ { printf "%.1f MB", $2 / 1024 }' "/proc/$persistent_pid/status")"

# --- Scale: the same requests over a house of 2,000 meters ---------------------------------
# A second database holds a company whose first house has 2,000 meters (loaded once a day, as
# the data set above). The time of a request should grow no faster than the rows it shows.
scale=$work/scale
mkdir -p "$scale/bin" "$scale/cnf"
cp "$BUILD_DIR/bin/orvela" "$scale/bin/orvela"
server_config orvela_scale > "$scale/cnf/server.cnf"
SQL_DATABASE=postgres load_dataset "$scale" orvela_scale --preset bench --devices 2300 --big 2000
scale_end=$(head -1 "$scale/dataset.loaded")
scale_day=$(date -u -d "$scale_end UTC + $shift_min minutes" +%Y-%m-%d)
scale_user=$(REQUEST_METHOD=GET QUERY_STRING="CMD=Get_UserData&Login=north.user&Password=demo" "$scale/bin/orvela" |
    sed -n 's/.*"authToken":"\([^"]*\)".*/\1/p')
scale_house=$(SQL_DATABASE=orvela_scale sql "SELECT \"Id\" FROM \"AddressTable\" WHERE \"CompanyId\"=1 ORDER BY \"Id\" LIMIT 1")
"$scale/bin/orvela" --fastcgi=127.0.0.1:$((fastcgi_port + 1)) &
scale_pid=$!
trap '[ -z "$persistent_pid" ] || kill "$persistent_pid" 2>/dev/null; kill "$scale_pid" 2>/dev/null; "$ROOT/scripts/pgcluster.sh" stop "$work/pg"' EXIT
sleep 1
scale_request() { # BINARY FASTCGI-PORT QUERY MODE -> microseconds
    local answer=$work/out/scale.json time
    if [ "$4" = cgi ]; then
        time=$(REQUEST_METHOD=GET QUERY_STRING="$3" "$work/measure" "$answer" "$1" | cut -d' ' -f1)
    else
        time=$(REQUEST_METHOD=GET QUERY_STRING="$3" "$work/measure" "$answer" /usr/bin/cgi-fcgi -bind -connect "127.0.0.1:$2" |
            cut -d' ' -f1) || { echo "cgi-fcgi failed on $3" >&2; exit 1; }
    fi
    grep -q '"errorCode":0,' "$answer" || { echo "$3 did not succeed:" >&2; head -c 600 "$answer" >&2; exit 1; }
    echo "$time"
}
month_query() { echo "CMD=Get_PeriodValues&Auth=$1&AddressId=$2&Period=month&Date=$3"; }
report_query() { echo "CMD=Report&Auth=$1&addressId=$2&period=1&dateStart=$(date -u -d "$3 - 30 days" +%Y-%m-%d)&dateEnd=$3"; }
echo
echo "Scale: a house of 200 meters against one of 2,000 (rows shown grow 10 times); median of $ROUNDS runs"
echo
printf '| %-34s | %-10s | %12s | %14s | %7s |\n' request mode "200 meters ms" "2,000 meters ms" growth
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..36})" "------------" "--------------" "----------------" "---------"
for kind in month report; do
    for mode in cgi persistent; do
        small=$("${kind}_query" "$company_user" "$big" "$day")
        large=$("${kind}_query" "$scale_user" "$scale_house" "$scale_day")
        rm -f "$work/times.scale."*
        for _ in $(seq "$ROUNDS"); do
            scale_request "$work/install/bin/orvela" "$fastcgi_port" "$small" "$mode" >> "$work/times.scale.small"
            scale_request "$scale/bin/orvela" "$((fastcgi_port + 1))" "$large" "$mode" >> "$work/times.scale.large"
        done
        small_ms=$(median < "$work/times.scale.small")
        large_ms=$(median < "$work/times.scale.large")
        label="Get_PeriodValues, month"
        [ "$kind" = report ] && label="Report, period 1, 31 days"
        printf '| %-34s | %-10s | %12s | %14s | %6sx |\n' "$label" "$mode" "$small_ms" "$large_ms" \
            "$(awk -v a="$small_ms" -v b="$large_ms" 'BEGIN { printf "%.1f", b / a }')"
    done
done
exit 0
