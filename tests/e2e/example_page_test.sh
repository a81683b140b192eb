#!/usr/bin/env bash
# The example client page, served from a second origin, loaded in headless Chromium at the
# address run.sh prints (the folder's, with no API named: the page must find the API's port
# itself): it must log in, list the company's addresses, the devices of the first one and a
# month of values of the first device, each value on a line of its own. Loaded from an origin that the web server does not pass on, the same page
# must fail: the browser reads the answers only because of the allow-list.
#
#   example_page_test.sh DIR    (DIR as started by demo_service.sh)
set -euo pipefail
dir=${1:?folder}
source "$dir/service.env"

chromium_dom() {
    # A profile of its own per run; virtual time lets the page's requests finish first.
    local profile
    profile=$(mktemp -d)
    timeout 120 chromium --headless --no-sandbox --disable-gpu --no-first-run \
        --user-data-dir="$profile" --virtual-time-budget=30000 --dump-dom "$1" 2>"$dir/chromium.log"
    rm -rf "$profile"
}

# Prints "addresses devices values breaks status" read from the page's tables; breaks counts the
# line breaks inside the values table.
page_summary() {
    PYTHONUTF8=1 python3 -c '
import sys
from html.parser import HTMLParser
class Page(HTMLParser):
    def __init__(self):
        super().__init__(); self.table = None; self.rows = {}; self.status = ""; self.in_status = False
        self.breaks = 0
    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "table": self.table = attrs.get("id")
        if tag == "tr" and self.table: self.rows[self.table] = self.rows.get(self.table, 0) + 1
        if tag == "br" and self.table == "values": self.breaks += 1
        if tag == "p" and attrs.get("id") == "status": self.in_status = True
    def handle_endtag(self, tag):
        if tag == "table": self.table = None
        if tag == "p": self.in_status = False
    def handle_data(self, data):
        if self.in_status: self.status += data
p = Page(); p.feed(sys.stdin.read())
# The header row of each table counts too.
print(p.rows.get("addresses", 0) - 1, p.rows.get("devices", 0) - 1, p.rows.get("values", 0) - 1, p.breaks, p.status)
'
}

failures=0
# check WHAT COMMAND...: runs the command as the condition of the check named WHAT.
check() {
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what" >&2; failures=$((failures + 1)); fi
}

printed=$(sed -n '/The example client page:/{n;s/^ *//p}' "$dir/run.out")
check "run.sh prints the folder's address of the page (got '$printed')" \
    test "$printed" = "http://127.0.0.1:$EXAMPLES_PORT/"
dom=$(chromium_dom "${printed}?login=north.user&password=demo&auto=1")
read -r addresses devices values breaks status <<<"$(page_summary <<<"$dom")"
echo "allowed origin: $addresses addresses, $devices devices, $values days, $breaks line breaks; status: $status"
check "the page finds the API and renders addresses, devices and values" \
    test "$addresses" -ge 1 -a "$devices" -ge 1 -a "$values" -ge 1 -a \
    "${status#Values of device}" != "$status"
check "the values of a slot keep their line breaks" test "$breaks" -ge 1
check "an address of the demonstration data is shown" grep -q "г. Северск" <<<"$dom"

# The same page from an origin outside the allow-list: the browser refuses it the answers.
copy=$(mktemp -d)
cp "$(dirname "$0")/../../examples/"* "$copy/"
dom=$(chromium_dom "file://$copy/index.html?api=$URL&login=north.user&password=demo&auto=1")
rm -rf "$copy"
read -r addresses devices values breaks status <<<"$(page_summary <<<"$dom")"
echo "other origin: $addresses addresses; status: $status"
check "a page of another origin cannot read the answers" \
    test "$addresses" -eq 0 -a -n "$status" -a "${status#Logged in}" = "$status"

# What the browser relies on, seen by curl: the header names exactly the allowed origin.
allow_header() {
    curl -s -D - -o /dev/null -H "Origin: $1" "$URL?CMD=test" | tr -d '\r' |
        sed -n 's/^Access-Control-Allow-Origin: //Ip'
}
allowed=$(allow_header "http://127.0.0.1:$EXAMPLES_PORT")
check "an allowed origin is answered (got '$allowed')" \
    test "$allowed" = "http://127.0.0.1:$EXAMPLES_PORT"
check "another origin gets no allow header" test -z "$(allow_header http://evil.example)"

[ "$failures" -eq 0 ]
