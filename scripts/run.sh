#!/usr/bin/env bash
# Starts the service on this machine: a PostgreSQL cluster kept in .run/pg, the program
# installed in .run/bin with its configuration in .run/cnf, and lighttpd serving it on
# 127.0.0.1. Ctrl-C (or "run.sh stop" from another shell) stops everything.
#
#   scripts/run.sh          persistent mode: lighttpd keeps one FastCGI process per core
#   scripts/run.sh cgi      CGI mode: one process per request
#   scripts/run.sh --demo   either mode (after the mode, if any), with the demonstration data
#                           set loaded into an empty database
#   scripts/run.sh stop     stop a service started from another shell
#
# Settings (environment): ORVELA_HTTP_PORT (8080), ORVELA_PG_PORT (5433),
# ORVELA_PG_PASSWORD (granite), ORVELA_RUN_DIR (.run; a second service needs its own, and
# ports of its own), ORVELA_EXAMPLES_PORT (8081: the example client page of examples/),
# ORVELA_ORIGINS (the web origins allowed to call the API from a browser, separated by
# blanks; the example page's by default).
source "$(dirname "$0")/common.sh"

RUN_DIR=$(realpath -m "${ORVELA_RUN_DIR:-$ROOT/.run}")
HTTP_PORT=${ORVELA_HTTP_PORT:-8080}
PG_PORT=${ORVELA_PG_PORT:-5433}
PG_PASSWORD=${ORVELA_PG_PASSWORD:-granite}
EXAMPLES_PORT=${ORVELA_EXAMPLES_PORT:-8081}
ORIGINS=${ORVELA_ORIGINS:-http://127.0.0.1:$EXAMPLES_PORT http://localhost:$EXAMPLES_PORT}

stop_all() {
    if [ -f "$RUN_DIR/lighttpd.pid" ]; then
        kill "$(cat "$RUN_DIR/lighttpd.pid")" 2>/dev/null || true
        rm -f "$RUN_DIR/lighttpd.pid"
    fi
    "$ROOT/scripts/pgcluster.sh" stop "$RUN_DIR/pg"
}

MODE=persistent
demo=false
for argument in "$@"; do
    case "$argument" in
        stop) ;;
        cgi) MODE=cgi ;;
        persistent) ;;
        --demo) demo=true ;;
        *) echo "usage: scripts/run.sh [persistent|cgi] [--demo] | stop" >&2; exit 2 ;;
    esac
done

if [ "${1:-}" = stop ]; then
    stop_all
    echo "Stopped."
    exit 0
fi

# The stop command must name the folder of a service started with its own ORVELA_RUN_DIR.
stop_command="scripts/run.sh stop"
[ "$RUN_DIR" = "$(realpath -m "$ROOT/.run")" ] || stop_command="ORVELA_RUN_DIR=$RUN_DIR $stop_command"

# A second start must not disturb the service that is running.
if [ -f "$RUN_DIR/lighttpd.pid" ] && kill -0 "$(cat "$RUN_DIR/lighttpd.pid")" 2>/dev/null; then
    echo "The service is already running (lighttpd pid $(cat "$RUN_DIR/lighttpd.pid")); stop it with: $stop_command" >&2
    exit 1
fi

install_packages
# The test suite starts the service from a build it has just made: no second build beside it.
if [ -z "${ORVELA_SKIP_BUILD:-}" ]; then
    configure
    build --target orvela --target orvela-dataset
fi

mkdir -p "$RUN_DIR/bin" "$RUN_DIR/cnf" "$RUN_DIR/log" "$RUN_DIR/www" "$RUN_DIR/images/avatar"
install -m 755 "$BUILD_DIR/bin/orvela" "$RUN_DIR/bin/orvela"
port=$("$ROOT/scripts/pgcluster.sh" start "$RUN_DIR/pg" "$PG_PORT" "$PG_PASSWORD")
# The token key is made once per installation and kept: a known key would let anybody forge
# tokens, and a new key on every start would log every client out.
if [ ! -s "$RUN_DIR/cnf/token.key" ]; then
    (umask 077; head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n' > "$RUN_DIR/cnf/token.key")
fi
token_key=$(cat "$RUN_DIR/cnf/token.key")
cat > "$RUN_DIR/cnf/server.cnf" <<CONF
[orvela]
server=127.0.0.1
port=$port
db=orvela
user=orvela
password=$PG_PASSWORD
log=true
dbg=false
key=$token_key
CONF
chmod 600 "$RUN_DIR/cnf/server.cnf"
cat > "$RUN_DIR/lighttpd.conf" <<CONF
server.bind = "127.0.0.1"
server.port = $HTTP_PORT
server.document-root = "$RUN_DIR/www"
server.pid-file = "$RUN_DIR/lighttpd.pid"
server.errorlog = "$RUN_DIR/lighttpd.error.log"
CONF
if [ "$MODE" = persistent ]; then
    # lighttpd starts the processes with a listening socket as their standard input, which
    # tells the program to serve FastCGI, and starts a new one when one dies.
    cat >> "$RUN_DIR/lighttpd.conf" <<CONF
server.modules = ("mod_alias", "mod_setenv", "mod_fastcgi")
alias.url = ("/images/avatar/" => "$RUN_DIR/images/avatar/")
fastcgi.server = ("/orvela" => (("socket" => "$RUN_DIR/orvela.sock", "bin-path" => "$RUN_DIR/bin/orvela",
                                 "max-procs" => $(nproc), "check-local" => "disable")))
CONF
else
    cat >> "$RUN_DIR/lighttpd.conf" <<CONF
server.modules = ("mod_alias", "mod_setenv", "mod_cgi")
alias.url = ("/images/avatar/" => "$RUN_DIR/images/avatar/", "/orvela" => "$RUN_DIR/bin/orvela")
\$HTTP["url"] =~ "^/orvela" { cgi.assign = ("" => "") }
CONF
fi

# The example client page, from a second port: a page of another origin, as browsers see it,
# at the folder's address. Its config.js names the API of this start, whatever its port.
mkdir -p "$RUN_DIR/examples"
printf 'window.ORVELA_API = "http://127.0.0.1:%s/orvela";\n' "$HTTP_PORT" > "$RUN_DIR/examples/config.js"
cat >> "$RUN_DIR/lighttpd.conf" <<CONF
\$SERVER["socket"] == "127.0.0.1:$EXAMPLES_PORT" {
    server.document-root = "$ROOT/examples"
    index-file.names = ("index.html")
    alias.url = ("/config.js" => "$RUN_DIR/examples/config.js")
    mimetype.assign = (".html" => "text/html; charset=utf-8", ".js" => "text/javascript; charset=utf-8")
}
CONF
# Browsers send the origin of the page in "Origin"; the program answers it in
# "Access-Control-Allow-Origin" when the web server passes it as ORIGIN, here for the listed
# origins only.
for origin in $ORIGINS; do
    printf '$REQUEST_HEADER["Origin"] == "%s" { setenv.add-environment = ("ORIGIN" => "%s") }\n' \
        "$origin" "$origin" >> "$RUN_DIR/lighttpd.conf"
done

# The demonstration data goes only into an empty database: a second --demo start, or one on
# a database that holds real records, loads nothing.
if $demo; then
    echo "Loading the demonstration data set into an empty database (about a minute)"
    "$BUILD_DIR/bin/orvela-dataset" --preset demo --if-empty "$RUN_DIR"
fi

print_demo_guide() {
    local url="http://127.0.0.1:$HTTP_PORT/orvela" today device
    today=$(date -u +%Y-%m-%d)
    device=$(PGPASSWORD=$PG_PASSWORD psql -h 127.0.0.1 -p "$port" -U orvela -d orvela -Atq -c \
        'SELECT i."DeviceId" FROM "InstallTable" i JOIN "ObjectTable" o ON o."Id"=i."ObjectId" JOIN "DeviceTable" d ON d."Id"=i."DeviceId" WHERE o."AddressId"=1 AND i."Actual"=1 AND d."DevType"=22 ORDER BY 1 LIMIT 1')
    cat <<TEXT

Demonstration accounts (password "demo"; admin keeps "tulip"), what they may do:
  admin (type 2)        everything, in every company
  operator (3)          every company: change records, accounts, companies and models
  editor (4)            every company: change records and accounts; not companies or models
  north.admin (129)     its company: change records and its accounts (river.admin, south.admin too)
  north.operator (130)  its company: change records
  north.user (131)      its company: read only (river.user, south.user too)
Companies: north "УК «Северный квартал»" (300 meters, house 1 has 120), river "ТСЖ «Заречье»",
south "Энергосбыт «Южный»".

Readings of the demonstration data, as north.user:
  TOKEN=\$(curl -s $url -d CMD=Get_UserData -d Login=north.user -d Password=demo | sed -n 's/.*"authToken":"\([^"]*\)".*/\1/p')
  # current values of the 120 meters of house 1
  curl -s $url --data-urlencode "Auth=\$TOKEN" -d CMD=Get_DevValuesFromAddress -d AddressId=1 -d Date=$today
  # a month of one meter, day by day
  curl -s $url --data-urlencode "Auth=\$TOKEN" -d CMD=Get_DevValues -d DeviceId=$device -d Period=month -d Date=$today
  # a report of house 2, day by day over the last month
  curl -s $url --data-urlencode "Auth=\$TOKEN" -d CMD=Report -d addressId=2 -d period=1 -d dateStart=$(date -u -d '30 days ago' +%Y-%m-%d) -d dateEnd=$today
TEXT
}

trap 'stop_all; exit 0' INT TERM
lighttpd -D -f "$RUN_DIR/lighttpd.conf" &
server_pid=$!
for _ in $(seq 1 50); do
    curl -s -o /dev/null "http://127.0.0.1:$HTTP_PORT/orvela?CMD=test" && break
    sleep 0.1
done
if [ "$MODE" = persistent ]; then
    mode_text="persistent mode ($(nproc) FastCGI processes); for the CGI mode stop it and run: scripts/run.sh cgi"
else
    mode_text="CGI mode (one process per request); for the persistent mode stop it and run: scripts/run.sh"
fi
cat <<TEXT
The service is up: PostgreSQL on 127.0.0.1:$port, the API on http://127.0.0.1:$HTTP_PORT/orvela
Serving in the $mode_text
Logs of the requests: $RUN_DIR/log

  curl -s 'http://127.0.0.1:$HTTP_PORT/orvela?CMD=test'
  curl -s http://127.0.0.1:$HTTP_PORT/orvela -d CMD=Get_UserData -d Login=admin -d Password=tulip

The second line logs in as admin; "authToken" in its answer is the "Auth" parameter of
every other command (docs/commands.md describes them all). The example client page:
  http://127.0.0.1:$EXAMPLES_PORT/
Stop with Ctrl-C, or run: $stop_command
TEXT
$demo && print_demo_guide
wait "$server_pid"
stop_all
