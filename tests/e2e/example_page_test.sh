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
check() {
    if [ "$1" = ok ]; then echo "ok: $2"; else echo "FAILED: $2" >&2; failures=$((failures + 1)); fi
}

printed=$(sed -n '/The example client page:/{n;s/^ *//p}' "$dir/run.out")
[ "$printed" = "http://127.0.0.1:$EXAMPLES_PORT/" ] && check ok "run.sh prints the folder's address of the page" ||
    check no "run.sh prints the folder's address of the page (got '$printed')"
dom=$(chromium_dom "${printed}?login=north.user&password=demo&auto=1")
read -r addresses devices values breaks status <<<"$(page_summary <<<"$dom")"
echo "allowed origin: $addresses addresses, $devices devices, $values days, $breaks line breaks; status: $status"
[ "$addresses" -ge 1 ] && [ "$devices" -ge 1 ] && [ "$values" -ge 1 ] && [[ "$status" == "Values of device"* ]] &&
    check ok "the page finds the API and renders addresses, devices and values" ||
    check no "the page finds the API and renders addresses, devices and values"
[ "$breaks" -ge 1 ] && check ok "the values of a slot keep their line breaks" ||
    check no "the values of a slot keep their line breaks"
grep -q "г. Северск" <<<"$dom" && check ok "an address of the demonstration data is shown" ||
    check no "an address of the demonstration data is shown"

# The same page from an origin outside the allow-list: the browser refuses it the answers.
copy=$(mktemp -d)
cp "$(dirname "$0")/../../examples/"* "$copy/"
dom=$(chromium_dom "file://$copy/index.html?api=$URL&login=north.user&password=demo&auto=1")
rm -rf "$copy"
read -r addresses devices values breaks status <<<"$(page_summary <<<"$dom")"
echo "other origin: $addresses addresses; status: $status"
[ "$addresses" -eq 0 ] && [ -n "$status" ] && [[ "$status" != "Logged in"* ]] &&
    check ok "a page of another origin cannot read the answers" ||
    check no "a page of another origin cannot read the answers"

# What the browser relies on, seen by curl: the header names exactly the allowed origin.
allowed=$(curl -s -D - -o /dev/null -H "Origin: http://127.0.0.1:$EXAMPLES_PORT" "$URL?CMD=test" | tr -d '\r' |
    sed -n 's/^Access-Control-Allow-Origin: //p')
[ "$allowed" = "http://127.0.0.1:$EXAMPLES_PORT" ] && check ok "an allowed origin is answered" ||
    check no "an allowed origin is answered (got '$allowed')"
other=$(curl -s -D - -o /dev/null -H "Origin: http://evil.example" "$URL?CMD=test" | tr -d '\r' |
    grep -ci "^Access-Control-Allow-Origin" || true)
[ "$other" = 0 ] && check ok "another origin gets no allow header" || check no "another origin gets no allow header"

[ "$failures" -eq 0 ]
