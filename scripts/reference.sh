#!/usr/bin/env bash
# Writes the tables the program knows itself (commands, result codes, configuration keys) into
# the reference and the README, between the markers
#   <!-- generated: orvela --reference=NAME -->  ...  <!-- end of generated text -->
# so that they are never retyped by hand.
#
#   scripts/reference.sh                 rewrite the generated sections (builds the program)
#   scripts/reference.sh --check BINARY  exit 1, showing the difference, when a checked-in
#                                        section differs from what BINARY prints
source "$(dirname "$0")/common.sh"

FILES=("$ROOT/docs/commands.md" "$ROOT/README.md")

mode=write
binary=$BUILD_DIR/bin/orvela
case "${1:-}" in
    --check) mode=check; binary=${2:?usage: scripts/reference.sh [--check BINARY]} ;;
    "") configure; build --target orvela ;;
    *) echo "usage: scripts/reference.sh [--check BINARY]" >&2; exit 2 ;;
esac

PYTHONUTF8=1 python3 - "$mode" "$binary" "${FILES[@]}" <<'PY'
import difflib, re, subprocess, sys

mode, binary, files = sys.argv[1], sys.argv[2], sys.argv[3:]
section = re.compile(r"(<!-- generated: orvela --reference=(\w+) -->\n)(.*?)(<!-- end of generated text -->)", re.S)
printed = {}

def table(name):
    if name not in printed:
        printed[name] = subprocess.run([binary, "--reference=" + name], check=True,
                                       capture_output=True, text=True).stdout
    return printed[name]

stale = False
for path in files:
    with open(path, encoding="utf-8") as f:
        text = f.read()
    fresh = section.sub(lambda m: m.group(1) + table(m.group(2)) + m.group(4), text)
    if not section.search(text):
        print(f"{path}: no generated section", file=sys.stderr)
        stale = True
    if fresh == text:
        continue
    if mode == "write":
        with open(path, "w", encoding="utf-8") as f:
            f.write(fresh)
        print(f"updated {path}")
    else:
        stale = True
        sys.stdout.writelines(difflib.unified_diff(text.splitlines(True), fresh.splitlines(True),
                                                   path, "what the program prints"))
if stale and mode == "check":
    print("The generated sections differ from the program: run scripts/reference.sh", file=sys.stderr)
    sys.exit(1)
PY
