#!/usr/bin/env bash
# Runs the module zarn60.reader.config (ansible/zarn60/reader/) through
# examples/ansible/apply-reader-config.yml against three simulated readers on three
# pseudo-terminals, one per inventory host (connection local), each with its own
# reader_link from the inventory. Checks, host by host:
#   1. the first run writes every reader (changed);
#   2. the second finds nothing to do (ok);
#   3. --check --diff with another document reports the would-be change with a diff and
#      writes nothing;
#   4. a document with a bad field fails every host naming the field and writes nothing;
#   5. with one reader gone, that host alone fails, with zarn60's message;
#   6. a link that would smuggle an option in ("--port PATH --dry-run") fails every host
#      before zarn60 runs, and writes nothing;
#   7. a zarn60 whose report says it made a dry run, in a run that is none, fails the host
#      instead of reporting a change.
# Before the runs, the module's link check against a table of refused and accepted links.
# Also that ansible-doc documents the module. Exits non-zero on any deviation.
#   scripts/ansible-check.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
zarn60=$build/tools/zarn60
sim=$build/tools/zarn60-sim
for p in "$zarn60" "$sim"; do
  [ -x "$p" ] || { echo "ansible-check: $p is missing (build it first)" >&2; exit 2; }
done
command -v ansible-playbook >/dev/null || { echo "ansible-check: ansible-playbook not found (apt-get install ansible-core)" >&2; exit 2; }

work=$(mktemp -d)
simpids=()
cleanup() {
  for pid in "${simpids[@]}"; do
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

hosts=(till-a till-b till-c)
ports=()
for i in 0 1 2; do
  "$sim" --serial >"$work/sim$i.out" 2>/dev/null &
  simpids+=($!)
  for _ in $(seq 100); do
    grep -q '^ZARN60_COM' "$work/sim$i.out" && break
    sleep 0.1
  done
  port=$(sed -n 's/^ZARN60_COM[0-9]*=//p' "$work/sim$i.out" | head -n 1)
  [ -n "$port" ] || { echo "ansible-check: zarn60-sim did not start" >&2; exit 1; }
  ports+=("$port")
done

# The collection from the source tree, the inventory with a link per host.
mkdir -p "$work/collections/ansible_collections/zarn60"
ln -s "$root/ansible/zarn60/reader" "$work/collections/ansible_collections/zarn60/reader"
{
  echo "[tills]"
  for i in 0 1 2; do
    echo "${hosts[$i]} ansible_connection=local reader_link=\"--port ${ports[$i]}\""
  done
} >"$work/inventory"
export HOME=$work ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp
export ANSIBLE_COLLECTIONS_PATH=$work/collections ANSIBLE_NOCOLOR=1
export ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3 ANSIBLE_STDOUT_CALLBACK=default
export ANSIBLE_CALLBACKS_ENABLED=ansible.builtin.tree

fail=0
bad() { echo "ansible-check: $*" >&2; fail=1; }

ansible-doc zarn60.reader.config >"$work/doc.out" 2>&1 && grep -q "ZARN60.READER.CONFIG" "$work/doc.out" ||
  bad "ansible-doc zarn60.reader.config does not document the module: $(head -n 5 "$work/doc.out")"

# The link as data: each refused link fails with its reason; each accepted one becomes
# one argument with its value joined to its option.
PYTHONPATH=$root/ansible/zarn60/reader/plugins/modules python3 - <<'PY' || bad "the module's link check"
import sys
import types
# The module imports AnsibleModule at load; its link check needs nothing of it.
basic = types.ModuleType("ansible.module_utils.basic")
basic.AnsibleModule = object
for name in ("ansible", "ansible.module_utils"):
    sys.modules.setdefault(name, types.ModuleType(name))
sys.modules["ansible.module_utils.basic"] = basic
import config

class Failed(Exception):
    pass

class Module:
    def fail_json(self, msg, **_):
        raise Failed(msg)

refused = {
    "--usb --dry-run": "not a hidraw node",
    "--usb=--dry-run": "not a hidraw node",
    "--port --dry-run": "not a device path",
    "--port /dev/ttyS0 --dry-run": "give --usb",
    "--port=": "not a device path",
    "--port '/dev/tty\nS0'": "not a device path",
    "--com 0": "COM numbers go from 1 to 200",
    "--com 201": "COM numbers go from 1 to 200",
    "--com 3x": "COM numbers go from 1 to 200",
    "--com -3": "COM numbers go from 1 to 200",
    "--com": "needs a value",
    "--force": "give --usb",
    "": "give --usb",
    "--usb '": "No closing quotation",
}
accepted = {
    "--usb": ["--usb"],
    "--usb /dev/hidraw2": ["--usb=/dev/hidraw2"],
    "--com 3": ["--com=3"],
    "--com=200": ["--com=200"],
    "--port /dev/ttyUSB0": ["--port=/dev/ttyUSB0"],
    "--port '/dev/serial/by-id/usb-x y'": ["--port=/dev/serial/by-id/usb-x y"],
}
wrong = 0
for link, why in refused.items():
    try:
        got = config.link_arguments(Module(), link)
        print("link %r accepted as %r" % (link, got))
        wrong += 1
    except Failed as e:
        if why not in str(e):
            print("link %r refused with %r, not %r" % (link, str(e), why))
            wrong += 1
for link, want in accepted.items():
    try:
        got = config.link_arguments(Module(), link)
    except Failed as e:
        got = "refused: %s" % e
    if got != want:
        print("link %r gave %r, not %r" % (link, got, want))
        wrong += 1
if config.file_argument("--dry-run") != "./--dry-run" or config.file_argument("a.json") != "a.json":
    print("a file name that looks like an option is passed as one")
    wrong += 1
sys.exit(1 if wrong else 0)
PY

cp "$root/examples/ansible/reader.json" "$work/first.json"
echo '{"beep": false, "packet_terminator": "crlf"}' >"$work/second.json"
echo '{"beep": false, "beeper": true}' >"$work/bad.json"

# run N DOC [OPTIONS]: the playbook with DOC, each host's result in $work/tree-N/HOST.
run() {
  local n=$1 doc=$2
  shift 2
  ANSIBLE_CALLBACK_TREE_DIR=$work/tree-$n ansible-playbook -i "$work/inventory" \
    "$root/examples/ansible/apply-reader-config.yml" \
    -e "zarn60_program=$zarn60" -e "reader_config=$doc" "$@" >"$work/run$n.out" 2>&1 || true
}

# verdict N HOST: "changed", "ok" or "failed: MESSAGE", from the host's result.
verdict() {
  python3 - "$work/tree-$1/$2" <<'PY'
import json, sys
try:
    r = json.load(open(sys.argv[1]))
except OSError:
    sys.exit("no result")
# A failed module's result carries its message and no list of changes.
if r.get("failed") or ("msg" in r and "changes" not in r):
    print("failed: " + r.get("msg", ""))
else:
    print("changed" if r.get("changed") else "ok")
PY
}

expect() {
  local n=$1 host=$2 want=$3 got
  got=$(verdict "$n" "$host" 2>&1) || got="no verdict: $(tail -n 20 "$work/run$n.out")"
  case "$got" in
    $want) echo "ansible-check: run $n, $host: $got" ;;
    *) bad "run $n, $host: expected $want, got: $got" ;;
  esac
}

# held I: the configuration reader I holds, as zarn60 shows it.
held() { "$zarn60" show --json --raw --port "${ports[$1]}"; }

run 1 "$work/first.json"
for h in "${hosts[@]}"; do expect 1 "$h" changed; done
run 2 "$work/first.json"
for h in "${hosts[@]}"; do expect 2 "$h" ok; done

for i in 0 1 2; do held "$i" >"$work/before$i.json"; done
run 3 "$work/second.json" --check --diff
for h in "${hosts[@]}"; do expect 3 "$h" changed; done
grep -q '^-  *"beep": true' "$work/run3.out" && grep -q '^+  *"beep": false' "$work/run3.out" ||
  bad "run 3: --diff shows no before/after of beep: $(tail -n 30 "$work/run3.out")"
for i in 0 1 2; do
  held "$i" | cmp -s - "$work/before$i.json" || bad "run 3 (--check) changed the reader of ${hosts[$i]}"
done

run 4 "$work/bad.json"
for h in "${hosts[@]}"; do expect 4 "$h" "failed: zarn60: standard input: beeper: unknown field"; done
for i in 0 1 2; do
  held "$i" | cmp -s - "$work/before$i.json" || bad "run 4 (bad field) changed the reader of ${hosts[$i]}"
done

kill "${simpids[1]}"; wait "${simpids[1]}" 2>/dev/null || true; simpids[1]=
run 5 "$work/second.json"
expect 5 till-a changed
expect 5 till-b "failed: zarn60: ${ports[1]}: cannot open the port*"
expect 5 till-c changed

for i in 0 2; do held "$i" >"$work/before$i.json"; done
run 6 "$work/first.json" -e "reader_link='--port ${ports[0]} --dry-run'"
for h in "${hosts[@]}"; do expect 6 "$h" "failed: link: give --usb*"; done
for i in 0 2; do
  held "$i" | cmp -s - "$work/before$i.json" || bad "run 6 (smuggled option) changed the reader of ${hosts[$i]}"
done

# A zarn60 that made a dry run when asked to write: its report's own dry_run decides.
printf '#!/bin/sh\ncat >/dev/null\necho %s\n' \
  "'{\"changed\": true, \"dry_run\": true, \"link\": \"USB\", \"changes\": [], \"not_carried\": []}'" \
  >"$work/dry-zarn60"
chmod +x "$work/dry-zarn60"
ANSIBLE_CALLBACK_TREE_DIR=$work/tree-7 ansible-playbook -i "$work/inventory" \
  "$root/examples/ansible/apply-reader-config.yml" -e "zarn60_program=$work/dry-zarn60" \
  -e "reader_config=$work/first.json" >"$work/run7.out" 2>&1 || true
expect 7 till-a "failed: zarn60 apply reported dry_run True, asked for False"
exit $fail
