#!/usr/bin/env bash
# The memory benchmark: the peak resident memory of the heaviest request of each kind on the
# benchmark data set, in both modes. A CGI process is measured whole (its peak as the kernel
# counts it); for the persistent mode each request goes to a fresh FastCGI process, whose peak
# (VmHWM) and resident size after the answer (VmRSS) are read from /proc: the second shows what
# a process keeps once the request is over.
#
#   scripts/benchmark.sh memory
source "$(dirname "$0")/setup.sh"

# The server's defaults, answer limit included, as an operator runs it.
server_config orvela | sed '/^max_answer_mb=/d' > "$work/install/cnf/server.cnf"
operator=$(login operator)
first_day=$(date -u -d "$day - 30 days" +%Y-%m-%d)
big_body=$work/out/big-body.json
python3 - "$big_body" "$company_user" <<'PY'
import json, sys
# A body just under the default size limit: one JSON array of 5,000 abonents with long names.
rows = [{"objectId": 1, "name": "Абонент " + "ж" * 1450} for _ in range(5000)]
data = json.dumps(rows, ensure_ascii=False)
open(sys.argv[1], "w", encoding="utf-8").write(json.dumps({"CMD": "Add_Abonents", "Auth": sys.argv[2], "DATA": data}, ensure_ascii=False))
PY

requests=(
    "Report, period 0, house of 200, 31 days|CMD=Report&Auth=$company_user&addressId=$big&period=0&dateStart=$first_day&dateEnd=$day"
    "Report, period 1, a company, 366 days|CMD=Report&Auth=$operator&CompanyId=1&period=1&dateStart=$year_ago&dateEnd=$day"
    "Get_Report, objects of a company, 31 days|CMD=Get_Report&Auth=$operator&CompanyId=1&StartDate=$first_day&EndDate=$day"
    "Get_PeriodValues, house of 200, day of hours|CMD=Get_PeriodValues&Auth=$company_user&AddressId=$big&Period=day&Date=$day"
    "Get_PeriodValues, house of 200, 366 days|CMD=Get_PeriodValues&Auth=$company_user&AddressId=$big&Period=period&StartDate=$year_ago&EndDate=$day"
    "Get_DevValuesFromAddress, house of 200|CMD=Get_DevValuesFromAddress&Auth=$company_user&AddressId=$big&Date=$day"
    "Get_DeviceTable, house of 200|CMD=Get_DeviceTable&Auth=$company_user&AddressId=$big"
    "Get_Devices, every device without an installation|CMD=Get_Devices&Auth=$operator&NotInstall=1"
    "Get_ErrorFlags, a company|CMD=Get_ErrorFlags&Auth=$company_user"
    "Search, Type 0, one digit|CMD=Search&Auth=$operator&Type=0&Field1=1"
    "Get_ObjectTable, house of 200|CMD=Get_ObjectTable&Auth=$company_user&AddressId=$big"
    "Add_Abonents, 15 MB JSON body|@$big_body"
)

# One request through a fresh persistent process: "peak-kB after-kB answer-bytes".
persistent_memory() { # QUERY|@BODY
    local socket=$work/memory.sock pid answer=$work/out/memory.persistent
    rm -f "$socket"
    "$work/install/bin/orvela" --fastcgi="$socket" &
    pid=$!
    for _ in $(seq 50); do [ -S "$socket" ] && break; sleep 0.1; done
    if [ "${1:0:1}" = @ ]; then
        REQUEST_METHOD=POST CONTENT_TYPE=application/json CONTENT_LENGTH=$(stat -c %s "${1:1}") \
            /usr/bin/cgi-fcgi -bind -connect "$socket" < "${1:1}" > "$answer"
    else
        REQUEST_METHOD=GET QUERY_STRING="$1" /usr/bin/cgi-fcgi -bind -connect "$socket" > "$answer"
    fi
    echo "$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status") $(awk '/VmRSS/ { print $2 }' "/proc/$pid/status") $(stat -c %s "$answer")"
    kill "$pid"; wait "$pid" 2>/dev/null
}
cgi_memory() { # QUERY|@BODY -> "peak-kB code"
    local out=$work/out/memory.cgi peak
    if [ "${1:0:1}" = @ ]; then
        peak=$(REQUEST_METHOD=POST CONTENT_TYPE=application/json CONTENT_LENGTH=$(stat -c %s "${1:1}") \
            "$work/measure" "$out" "$work/install/bin/orvela" < "${1:1}" | cut -d' ' -f2)
    else
        peak=$(REQUEST_METHOD=GET QUERY_STRING="$1" "$work/measure" "$out" "$work/install/bin/orvela" | cut -d' ' -f2)
    fi
    echo "$peak $(sed -n 's/.*"errorCode":\([0-9]*\).*/\1/p' "$out")"
}
mb() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

echo
echo "Memory benchmark, $(date -u +'%Y-%m-%d'), the benchmark data set, the server's default limits (answers up to 64 MB)"
echo
echo "| request | code | answer MB | CGI peak MB | persistent peak MB | persistent after MB |"
echo "|---|---|---|---|---|---|"
for entry in "${requests[@]}"; do
    name=${entry%%|*}
    request=${entry#*|}
    read -r cgi_peak code <<<"$(cgi_memory "$request")"
    read -r peak after bytes <<<"$(persistent_memory "$request")"
    echo "| $name | $code | $(mb $((bytes / 1024))) | $(mb "$cgi_peak") | $(mb "$peak") | $(mb "$after") |"
done
