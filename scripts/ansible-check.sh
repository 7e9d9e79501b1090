#!/usr/bin/env bash
# Runs examples/ansible/apply-reader-config.yml with ansible-core against this machine
# (connection local) and zarn60-sim --serial: the first run must report the reader changed,
# the second ok, and a run with the simulator stopped must fail the host with zarn60's
# message. Exits non-zero on any deviation.
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
simpid=
cleanup() {
  if [ -n "$simpid" ]; then kill "$simpid" 2>/dev/null || true; wait "$simpid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

"$sim" --serial >"$work/sim.out" 2>/dev/null &
simpid=$!
for _ in $(seq 100); do
  grep -q '^ZARN60_COM' "$work/sim.out" && break
  sleep 0.1
done
port=$(sed -n 's/^ZARN60_COM[0-9]*=//p' "$work/sim.out" | head -n 1)
[ -n "$port" ] || { echo "ansible-check: zarn60-sim did not start" >&2; exit 1; }

# The playbook keeps the document in ~ on the host: here, a home of our own.
export HOME=$work ANSIBLE_HOME=$work/ansible ANSIBLE_LOCAL_TEMP=$work/ansible/tmp
export ANSIBLE_STDOUT_CALLBACK=default ANSIBLE_NOCOLOR=1 ANSIBLE_PYTHON_INTERPRETER=/usr/bin/python3

# run N: the playbook's report in $work/runN.out; its exit status is not judged here.
run() {
  ansible-playbook -i localhost, -c local "$root/examples/ansible/apply-reader-config.yml" \
    -e "zarn60=$zarn60" -e "reader_config=$root/examples/ansible/reader.json" \
    -e "reader_link='--port $port'" \
    >"$work/run$1.out" 2>&1 || true
}

# verdict N: "changed", "ok" or "failed: MESSAGE" for the apply on localhost, from the
# default callback's text: each task's header, then one status line per host.
verdict() {
  python3 - "$work/run$1.out" <<'PY'
import json, re, sys
text = open(sys.argv[1]).read()
status = {}
for block in re.split(r"^TASK \[", text, flags=re.M)[1:]:
    name = block.split("]", 1)[0]
    m = re.search(r"^(ok|changed|skipping|fatal): \[localhost\](.*)$", block, flags=re.M)
    if m:
        status[name] = (m.group(1), m.group(2))
fail = status.get("Fail when the reader could not be configured")
if fail and fail[0] == "fatal":
    detail = fail[1].split("=>", 1)[1]
    print("failed: " + json.loads(detail)["msg"])
elif "Apply the configuration to the reader" not in status:
    sys.exit("no apply task in the output")
elif re.search(r"localhost\s+:.*failed=[1-9]", text):
    print("failed: " + status["Apply the configuration to the reader"][1])
else:
    print(status["Apply the configuration to the reader"][0])
PY
}

fail=0
expect() {
  local n=$1 want=$2 got
  got=$(verdict "$n" 2>&1) || got="no verdict: $(tail -n 20 "$work/run$n.out")"
  case "$got" in
    $want) echo "ansible-check: run $n: $got" ;;
    *) echo "ansible-check: run $n: expected $want, got: $got" >&2; fail=1 ;;
  esac
}

run 1; expect 1 changed
run 2; expect 2 ok
kill "$simpid"; wait "$simpid" 2>/dev/null || true; simpid=
run 3; expect 3 "failed: zarn60: $port: cannot open the port*"
exit $fail
