#!/usr/bin/env bash
# Runs every shell example of docs/commands.md, in the reference's order and in one shell, as a
# reader would paste them, against a service started with the demonstration data. Each example
# under a command's heading must answer code 0, or the code its last line names
# ("# answers 143"); the code read is that of the last answer the example prints. The whole
# sequence runs twice: the examples clean up what they make, so a reader may paste them again.
#
#   reference_examples_test.sh DIR    (DIR as started by demo_service.sh)
set -euo pipefail
dir=$(realpath -m "${1:?folder}")
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
source "$dir/service.env"
work=$dir/examples
rm -rf "$work"
mkdir -p "$work"

PYTHONUTF8=1 python3 - "$ROOT/docs/commands.md" "$work" "$URL" <<'PY'
import json, re, subprocess, sys

reference, work, url = sys.argv[1:4]
text = open(reference, encoding="utf-8").read()
examples = []  # (command heading or "", expected code, code)
heading = ""
for part in re.split(r"(^### [^\n]*$|^## [^\n]*$|^```sh\n.*?^```$)", text, flags=re.M | re.S):
    if part.startswith("### "):
        heading = part[4:].strip()
    elif part.startswith("## "):
        heading = ""
    elif part.startswith("```sh"):
        code = part[len("```sh\n"):-len("```")]
        expected = re.search(r"^# answers (\d+)\s*$", code, flags=re.M)
        examples.append((heading, int(expected.group(1)) if expected else 0, code))

def run_round(run):
    script = ["set +e", f"export URL={url}"]
    for i, (_, _, code) in enumerate(examples):
        script.append(f"{{\n{code}\n}} > {work}/{run}-{i}.out 2>&1 </dev/null")
    open(f"{work}/all-{run}.sh", "w", encoding="utf-8").write("\n".join(script) + "\n")
    subprocess.run(["bash", f"{work}/all-{run}.sh"], timeout=900, check=False)
    failed = 0
    for i, (command, expected, code) in enumerate(examples):
        if not command:
            continue  # conventions: shown for reading, run for their variables
        output = open(f"{work}/{run}-{i}.out", encoding="utf-8", errors="replace").read()
        codes = re.findall(r'"errorCode":(\d+)', output)
        got = int(codes[-1]) if codes else None
        if got != expected:
            failed += 1
            print(f"FAILED {command} (run {run}): expected {expected}, got {got}\n--- example\n{code}--- output\n{output[:1500]}\n")
        elif run == 1:
            print(f"ok {command}: {got}")
    return failed

failed = run_round(1) + run_round(2)
checked = sum(1 for command, _, _ in examples if command)
seen = {command for command, _, _ in examples if command}
# The generated command table (checked against the program elsewhere) names every command.
commands = re.findall(r"^\| \d+ \| `(\w+)` \|", text, flags=re.M)
missing = [name for name in commands if name not in seen]
if missing or not commands:
    failed += 1
    print("FAILED: commands without an example:", " ".join(missing) or "(no command table)")
# The table of what CompanyId selects names exactly the commands whose parameters list it.
takes = {h for h, body in re.findall(r"^### (\w+)\n(.*?)(?=^##)", text, flags=re.M | re.S)
         if re.search(r"^\| `CompanyId` \|", body, flags=re.M)}
section = re.search(r"^### Companies: `CompanyId`\n(.*?)^##", text, flags=re.M | re.S).group(1)
listed = {name for row in re.findall(r"^\| (`\w+`.*?) \|", section, flags=re.M)
          for name in re.findall(r"`(\w+)`", row)}
if takes != listed:
    failed += 1
    print("FAILED: the CompanyId table differs from the parameter tables:", sorted(takes ^ listed))
print(f"{checked} examples run twice, {failed} failed, {len(seen)} of {len(commands)} commands")
sys.exit(1 if failed else 0)
PY
