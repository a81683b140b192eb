#!/usr/bin/env bash
# Starts and stops the service exactly as a new user would, with scripts/run.sh --demo, in a
# folder of its own and on free ports, for the tests that need a browser or the reference's
# curl examples. "start" returns once the service answers; the ports are written to
# DIR/service.env for the tests to read.
#
#   demo_service.sh start DIR [persistent|cgi]
#   demo_service.sh stop DIR
set -euo pipefail

action=${1:?action}
dir=$(realpath -m "${2:?folder}")
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

case "$action" in
start)
    ORVELA_RUN_DIR=$dir "$ROOT/scripts/run.sh" stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    mkdir -p "$dir"
    http_port=$(free_port)
    examples_port=$(free_port)
    pg_port=$(free_port)
    cat > "$dir/service.env" <<ENV
HTTP_PORT=$http_port
EXAMPLES_PORT=$examples_port
URL=http://127.0.0.1:$http_port/orvela
ENV
    ORVELA_RUN_DIR=$dir ORVELA_HTTP_PORT=$http_port ORVELA_EXAMPLES_PORT=$examples_port \
        ORVELA_PG_PORT=$pg_port ORVELA_SKIP_BUILD=1 setsid "$ROOT/scripts/run.sh" "${3:-persistent}" --demo \
        >"$dir/run.out" 2>&1 </dev/null &
    for _ in $(seq 1 600); do
        if grep -q "The service is up" "$dir/run.out"; then
            exit 0
        fi
        if ! kill -0 $! 2>/dev/null; then
            break
        fi
        sleep 0.5
    done
    echo "the service did not start:" >&2
    cat "$dir/run.out" >&2
    exit 1
    ;;
stop)
    ORVELA_RUN_DIR=$dir "$ROOT/scripts/run.sh" stop
    ;;
*)
    echo "usage: demo_service.sh start DIR [cgi|persistent] | stop DIR" >&2
    exit 2
    ;;
esac
