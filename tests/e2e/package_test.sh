#!/usr/bin/env bash
# The Debian package on this machine: build it (twice, the second as an upgrade that reuses the
# first's objects), install it, serve requests through its service and a lighttpd in front
# against the test cluster, install the second build while requests run (none may fail),
# purge it, and check that nothing it owned is left while the database stays.
#
#   package_test.sh BUILD_DIR PG_DIR
set -euo pipefail

build=$(realpath "${1:?build folder}")
pgdir=$(realpath "${2:?test cluster folder}")
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
work="$build/testtmp/package"
sudo=""
[ "$(id -u)" = 0 ] || sudo=sudo
db=orvela_package_test
port=$(cat "$pgdir/port")

fail() { echo "FAIL: $*" >&2; exit 1; }
psql_admin() { $sudo runuser -u postgres -- psql -X -q -At -h "$pgdir" -p "$port" -U postgres -d postgres -c "$1"; }
free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

cleanup() {
    [ -n "${lighttpd_pid:-}" ] && kill "$lighttpd_pid" 2>/dev/null || true
    [ -s /run/orvela/orvela.pid ] && $sudo kill -TERM "$(cat /run/orvela/orvela.pid)" 2>/dev/null || true
    sleep 0.5
    dpkg-query -W orvela >/dev/null 2>&1 && $sudo dpkg -P orvela >/dev/null 2>&1 || true
    psql_admin "DROP DATABASE IF EXISTS $db" || true
}
trap cleanup EXIT

mkdir -p "$work"
first=$("$ROOT/scripts/package.sh" --out "$work" --version 2.0.21.0715+test1 | tail -n 1)
second=$("$ROOT/scripts/package.sh" --out "$work" --version 2.0.21.0715+test2 | tail -n 1)
cleanup

# Install: the program, its configuration layout, a random key.
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$first" >"$work/install1.log" 2>&1 ||
    { cat "$work/install1.log"; fail "install"; }
systemd-analyze verify /lib/systemd/system/orvela.service || fail "systemd-analyze verify"
key=$($sudo cat /var/lib/orvela/token.key)
[ ${#key} -ge 32 ] && [ "$key" != quartz ] || fail "token key '$key'"
[ "$(stat -c '%a %G' /etc/orvela/server.cnf)" = "640 orvela" ] || fail "server.cnf mode"

psql_admin "DROP DATABASE IF EXISTS $db"
psql_admin "CREATE DATABASE $db OWNER orvela"
$sudo sed -i -e "s/^server=.*/server=127.0.0.1/" -e "s/^port=.*/port=$port/" -e "s/^db=.*/db=$db/" \
    -e "s/^password=.*/password=granite/" /etc/orvela/server.cnf
$sudo runuser -u orvela -- orvela --check >"$work/check.txt" || { cat "$work/check.txt"; fail "orvela --check"; }

# The service as its unit starts it, and a web server in front.
$sudo install -d -o orvela -g orvela /run/orvela
$sudo setsid runuser -u orvela -g orvela -G www-data -- /usr/lib/orvela/serve </dev/null >"$work/serve.log" 2>&1 &
for _ in $(seq 100); do [ -S /run/orvela/orvela.sock ] && break; sleep 0.1; done
[ -S /run/orvela/orvela.sock ] || fail "no socket"
http_port=$(free_port)
cat > "$work/lighttpd.conf" <<CONF
server.modules = ("mod_fastcgi")
server.bind = "127.0.0.1"
server.port = $http_port
server.document-root = "$work"
server.errorlog = "$work/lighttpd.log"
fastcgi.server = ("/orvela" => (("socket" => "/run/orvela/orvela.sock", "check-local" => "disable")))
CONF
lighttpd -D -f "$work/lighttpd.conf" &
lighttpd_pid=$!
url="http://127.0.0.1:$http_port/orvela"
for _ in $(seq 100); do curl -sf "$url" -d CMD=test >/dev/null && break; sleep 0.1; done

code() { python3 -c 'import json,sys; print(json.load(sys.stdin)["info"]["errorCode"])'; }
login=$(curl -sf "$url" -d CMD=Get_UserData -d Login=admin -d Password=tulip)
[ "$(code <<<"$login")" = 0 ] || fail "log-in: $login"
token=$(python3 -c 'import json,sys; print(json.load(sys.stdin)["data"][0]["authToken"])' <<<"$login")
[ "$(curl -sf "$url" -d CMD=Get_UsersTable --data-urlencode "Auth=$token" | code)" = 0 ] || fail "users"
orvela --version | grep -q 'build 2.0.21.0715+test1' || fail "version of the first build"

# The upgrade while four clients keep asking: every answer must be a whole envelope with 0.
stop="$work/stop"
rm -f "$stop" "$work"/client.*
clients=()
for client in 1 2 3 4; do
    (while [ ! -e "$stop" ]; do
         curl -s -m 30 "$url" -d CMD=Get_UsersTable --data-urlencode "Auth=$token" | code 2>/dev/null || echo lost
     done >"$work/client.$client") &
    clients+=($!)
done
sleep 1
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$second" >"$work/install2.log" 2>&1 ||
    { cat "$work/install2.log"; fail "upgrade"; }
sleep 2
touch "$stop"
wait "${clients[@]}"
answers=$(cat "$work"/client.* | wc -l)
failed=$(cat "$work"/client.* | grep -cv '^0$' || true)
echo "requests during the upgrade: $answers, failed: $failed"
[ "$answers" -gt 20 ] && [ "$failed" = 0 ] || fail "requests lost during the upgrade"
orvela --version | grep -q 'build 2.0.21.0715+test2' || fail "version of the second build"
for child in $(pgrep -P "$(cat /run/orvela/orvela.pid)"); do
    [[ "$($sudo readlink "/proc/$child/exe")" != *deleted* ]] || fail "process $child still runs the old program"
done
[ "$($sudo cat /var/lib/orvela/token.key)" = "$key" ] || fail "the key changed on upgrade"

# Purge: nothing of the package is left, the database is.
kill "$lighttpd_pid"; lighttpd_pid=""
$sudo kill -TERM "$(cat /run/orvela/orvela.pid)"
# As systemd would before removing: the service's processes are gone.
for _ in $(seq 100); do pgrep -u orvela >/dev/null || break; sleep 0.1; done
$sudo dpkg -P orvela >"$work/purge.log" 2>&1 || { cat "$work/purge.log"; fail "purge"; }
for path in /etc/orvela /etc/default/orvela /var/lib/orvela /var/log/orvela /usr/lib/orvela /usr/bin/orvela \
    /lib/systemd/system/orvela.service /run/orvela; do
    [ ! -e "$path" ] && [ ! -L "$path" ] || fail "$path is left after purge"
done
! getent passwd orvela >/dev/null || fail "the account is left after purge"
[ "$(psql_admin "SELECT count(*) FROM pg_database WHERE datname = '$db'")" = 1 ] || fail "purge touched the database"
echo "package test passed"
