#!/usr/bin/env bash
# Mutation run: puts the faults of scripts/mutants.txt into a copy of the working tree one at a
# time, rebuilds, and runs the tests named for each fault. A fault that makes them fail is
# killed; one they pass with survived, and points at a gap in the tests. The run is a report,
# not a gate: it ends with the kill rate and exits 0 whatever that is. CI never runs it.
#
#   scripts/mutants.sh [--list] [PATTERN...]
#
# PATTERN, an extended regular expression, keeps the entries whose file, tests or note it
# matches (any of several). --list prints the entries and whether their text is still found, and
# builds nothing. The copy, its build and each entry's logs stay in
# ${ORVELA_MUTANT_DIR:-/tmp/orvela-mutants} for inspection; a later run reuses them.
# Status 2 is a usage error; 1 means that no fault was tried, because the copy does not build
# or the chosen tests already fail without any fault.
source "$(dirname "$0")/common.sh"

LIST=$ROOT/scripts/mutants.txt
SEPARATOR=' ||| '
WORK=${ORVELA_MUTANT_DIR:-/tmp/orvela-mutants}
SRC=$WORK/src
BUILD=$WORK/build
LOGS=$WORK/logs
PRISTINE=$WORK/pristine
PACKAGES+=(rsync python3)

usage() {
    echo "usage: scripts/mutants.sh [--list] [PATTERN...]"
}

list_only=false
filters=()
for argument in "$@"; do
    case "$argument" in
        --list) list_only=true ;;
        -h|--help) usage; exit 0 ;;
        -*) usage >&2; exit 2 ;;
        *) filters+=("$argument") ;;
    esac
done

# Counts the occurrences of a literal text in a file ("count"), or replaces its one occurrence
# ("apply"). Python rather than sed: the texts are full of quotes, backslashes, brackets and
# Cyrillic, which sed would read as expressions.
literal() {
    PYTHONUTF8=1 python3 - "$@" <<'PY'
import sys
mode, path, text = sys.argv[1:4]
try:
    with open(path, encoding="utf-8", newline="") as f:
        content = f.read()
except FileNotFoundError:
    content = ""
if mode == "count":
    print(content.count(text) if text else 0)
elif content.count(text) != 1:
    sys.exit(1)
else:
    with open(path, "w", encoding="utf-8", newline="") as f:
        f.write(content.replace(text, sys.argv[4], 1))
PY
}

# The tests an expression selects: their number, then the programs that hold them; their
# names go to the file given, if any. The fixture steps (the cluster, the code check) are left
# out: an entry must name real tests.
selected_tests() {
    ctest --test-dir "$BUILD" -N -R "$1" -FA '.*' --show-only=json-v1 | PYTHONUTF8=1 python3 -c '
import json, os, sys
tests = json.load(sys.stdin).get("tests", [])
commands = [t["command"][0] for t in tests if t.get("command")]
programs = sorted({os.path.basename(c) for c in commands if c.startswith(sys.argv[1] + "/")})
if sys.argv[2]:
    with open(sys.argv[2], "w", encoding="utf-8") as f:
        f.writelines(t["name"] + "\n" for t in tests)
print(len(tests), *programs)
' "$BUILD" "${2:-}"
}

# How many of the named tests failed in a ctest log. One that did not run (because the
# cluster did not start, say) failed for no fault in the code, and does not count.
failed_tests() {
    PYTHONUTF8=1 python3 - "$1" "$2" <<'PY'
import re, sys
log, names = sys.argv[1:3]
with open(names, encoding="utf-8") as f:
    wanted = {line.strip() for line in f if line.strip()}
with open(log, encoding="utf-8", errors="replace") as f:
    summary = f.read().partition("The following tests FAILED:")[2]
failed = {name for name, state in re.findall(r"^\s*\d+ - (.+) \(([^()]+)\)\s*$", summary, re.M)
          if name in wanted and state not in ("Not Run", "Disabled")}
print(len(failed))
PY
}

# Splits an entry at the separator into fields[]; an empty replacement stays a field.
split_entry() {
    local rest=$1
    fields=()
    while [[ $rest == *"$SEPARATOR"* ]]; do
        fields+=("${rest%%"$SEPARATOR"*}")
        rest=${rest#*"$SEPARATOR"}
    done
    fields+=("$rest")
}

selected() {
    [ ${#filters[@]} -eq 0 ] && return 0
    local filter
    for filter in "${filters[@]}"; do
        [[ $1 =~ $filter || $2 =~ $filter || $3 =~ $filter ]] && return 0
    done
    return 1
}

# The entries, numbered in the order of the list so that a number always names the same
# entry whatever the filter.
numbers=() files=() texts=() replacements=() expressions=() notes=() malformed=()
number=0
line_number=0
while IFS= read -r line || [ -n "$line" ]; do
    line_number=$((line_number + 1))
    [[ -z ${line//[[:space:]]/} || $line == \#* ]] && continue
    number=$((number + 1))
    split_entry "$line"
    if [ ${#fields[@]} -lt 4 ] || [ ${#fields[@]} -gt 5 ] || [ -z "${fields[0]}" ] || [ -z "${fields[1]}" ] ||
        [ -z "${fields[3]}" ]; then
        fields=("line $line_number" "" "" "" "cannot be read as file ||| text ||| replacement ||| tests ||| note")
        malformed+=("$number")
    fi
    selected "${fields[0]}" "${fields[4]:-}" "${fields[3]:-}" || continue
    numbers+=("$number")
    files+=("${fields[0]}")
    texts+=("${fields[1]}")
    replacements+=("${fields[2]}")
    expressions+=("${fields[3]}")
    notes+=("${fields[4]:-}")
done < "$LIST"

if [ ${#numbers[@]} -eq 0 ]; then
    echo "No entry of $LIST matches: ${filters[*]}" >&2
    exit 2
fi

is_malformed() {
    [[ " ${malformed[*]} " == *" $1 "* ]]
}

if $list_only; then
    for i in "${!numbers[@]}"; do
        if is_malformed "${numbers[i]}"; then
            state="bad entry"
        else
            count=$(literal count "$ROOT/${files[i]}" "${texts[i]}")
            [ "$count" = 1 ] && state="ok" || state="stale ($count)"
        fi
        printf '#%-3s %-10s %-30s %-50s %s\n' "${numbers[i]}" "$state" "${files[i]}" "${expressions[i]}" "${notes[i]}"
    done
    exit 0
fi

install_packages

# The file holding a fault right now, relative to the copy; empty when there is none.
mutated=""

# The text goes back, but its time stays new: the object compiled from the fault is then older
# than the file, and the next build compiles it again. Putting the old time back would leave
# the fault in the object.
restore() {
    [ -n "$mutated" ] || return 0
    cat "$PRISTINE" > "$SRC/$mutated"
    touch "$SRC/$mutated"
    mutated=""
}

cleanup() {
    restore
    "$ROOT/scripts/pgcluster.sh" stop "$BUILD/testpg" || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A selection never reaches every result code: the whole-run check of them must skip.
unset ORVELA_FULL_RUN

# Compared by content and written without their times, so that only a file that really
# changed since the last run, or still holds the fault of an interrupted one, looks newer than
# its object and is compiled again.
echo "Copying the working tree to $SRC"
mkdir -p "$SRC" "$BUILD"
rm -rf "$LOGS" && mkdir -p "$LOGS"
rsync -a --no-times --checksum --delete --exclude build --exclude .run --exclude .git "$ROOT/" "$SRC/"

echo "Building the copy (the first time takes minutes)"
if ! { cmake -S "$SRC" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVELA_BUILD_TESTS=ON &&
       cmake --build "$BUILD" --parallel "$(nproc)"; } > "$LOGS/build.log" 2>&1; then
    tail -n 30 "$LOGS/build.log" >&2
    echo "The working tree does not build; see $LOGS/build.log" >&2
    exit 1
fi

# What can be told before any build: a text no longer found, an expression that selects no
# test. What is left runs.
outcomes=() details=() runnable=() union=()
for i in "${!numbers[@]}"; do
    outcomes[i]="" details[i]=""
    if is_malformed "${numbers[i]}"; then
        outcomes[i]="bad entry"
        continue
    fi
    count=$(literal count "$SRC/${files[i]}" "${texts[i]}")
    if [ "$count" != 1 ]; then
        outcomes[i]="stale"
        details[i]=" [text found $count times]"
        continue
    fi
    read -r tests _ <<<"$(selected_tests "${expressions[i]}")"
    if [ "$tests" = 0 ]; then
        outcomes[i]="no tests"
        details[i]=" [-R ${expressions[i]}]"
        continue
    fi
    runnable+=("$i")
    union+=("(${expressions[i]})")
done

# A test that fails without any fault would kill every fault it is chosen for.
if [ ${#runnable[@]} -gt 0 ]; then
    baseline=$(IFS='|'; echo "${union[*]}")
    echo "Running the chosen tests without any fault"
    if ! ctest --test-dir "$BUILD" -R "$baseline" --parallel "$(nproc)" --timeout 300 > "$LOGS/baseline.log" 2>&1; then
        sed -n '/The following tests FAILED/,$p' "$LOGS/baseline.log" >&2
        echo "The tests fail without any fault; see $LOGS/baseline.log" >&2
        exit 1
    fi
fi

report() {
    printf '#%-3s %-14s %-30s %s\n' "${numbers[$1]}" "${outcomes[$1]}" "${files[$1]}" "${notes[$1]}${details[$1]}"
}

echo
for i in "${!numbers[@]}"; do
    if [ -n "${outcomes[i]}" ]; then
        report "$i"
    fi
done

for i in "${runnable[@]}"; do
    log=$LOGS/$(printf '%02d' "${numbers[i]}")
    read -r tests programs <<<"$(selected_tests "${expressions[i]}" "$log.tests")"
    mutated=${files[i]}
    cp "$SRC/$mutated" "$PRISTINE"
    literal apply "$SRC/$mutated" "${texts[i]}" "${replacements[i]}"
    # Only the program and the test programs the entry runs: linking all of them again for
    # every fault would take most of the run.
    # shellcheck disable=SC2086
    if ! cmake --build "$BUILD" --parallel "$(nproc)" --target orvela $programs > "$log.build.log" 2>&1; then
        outcomes[i]="did not build"
    elif ctest --test-dir "$BUILD" -R "${expressions[i]}" --parallel "$(nproc)" --timeout 300 > "$log.test.log" 2>&1; then
        outcomes[i]="survived"
    else
        failed=$(failed_tests "$log.test.log" "$log.tests")
        if [ "$failed" -gt 0 ]; then
            outcomes[i]="killed"
            details[i]=" [$failed of $tests tests failed]"
        else
            outcomes[i]="tests did not run"
        fi
    fi
    # An equivalent fault that the tests notice was not equivalent: the entry is wrong.
    if [[ ${notes[i]} == equivalent:* ]]; then
        case "${outcomes[i]}" in
            killed) outcomes[i]="NOT EQUIVALENT" ;;
            survived) outcomes[i]="equivalent" ;;
        esac
    fi
    restore
    report "$i"
done

killed=0 survived=0 equivalent=0 unbuilt=0 unrun=0 errors=0
for outcome in "${outcomes[@]}"; do
    case "$outcome" in
        killed) killed=$((killed + 1)) ;;
        survived) survived=$((survived + 1)) ;;
        equivalent|"NOT EQUIVALENT") equivalent=$((equivalent + 1)) ;;
        "did not build") unbuilt=$((unbuilt + 1)) ;;
        "tests did not run") unrun=$((unrun + 1)) ;;
        *) errors=$((errors + 1)) ;;
    esac
done
echo
echo "killed $killed, survived $survived, equivalent $equivalent, did not build $unbuilt," \
     "tests did not run $unrun, errors in the list (stale, no tests, bad entry) $errors"
if [ $((killed + survived)) -gt 0 ]; then
    awk -v k="$killed" -v s="$survived" 'BEGIN { printf "kill rate: %d/%d = %.1f%%\n", k, k + s, 100 * k / (k + s) }'
else
    echo "kill rate: no entry counted"
fi
echo "Logs: $LOGS"
