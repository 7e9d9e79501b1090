#!/usr/bin/env bash
# Sources zarn60's bash completion and asks it what a user gets for each partial command
# line: subcommands, options, COM numbers from `zarn60 list`, .cfg/.json files.
#   completion_check.sh COMPLETION_FILE ZARN60
set -uo pipefail
completion=$1 zarn60=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
source "$completion" || { echo "completion_check: cannot source $completion" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
touch a.cfg b.json c.txt
mkdir folder
# A COM number that only the environment makes exist.
export ZARN60_COM77=/dev/null

# complete LINE: the completions of the last word of LINE (the words after the program).
complete_line() {
    COMP_WORDS=("$zarn60")
    read -r -a rest <<<"$1"
    COMP_WORDS+=("${rest[@]}")
    [[ $1 == *" " || -z $1 ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _zarn60 2>/dev/null
    printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
}

fail=0
# case LINE WANT: the completions must be exactly WANT (sorted, blank-separated).
case_is() {
    local got
    got=$(complete_line "$1")
    if [[ $got != "$2" ]]; then
        echo "completion_check: 'zarn60 $1': expected '$2', got '$got'" >&2
        fail=1
    fi
}
# case LINE WORD: WORD must be among the completions.
case_has() {
    local got
    got=" $(complete_line "$1") "
    if [[ $got != *" $2 "* ]]; then
        echo "completion_check: 'zarn60 $1': expected '$2' among '$got'" >&2
        fail=1
    fi
}

case_is "ap" "apply"
case_is "re" "read-card"
case_has "" "schema"
case_has "" "--help"
case_is "help ap" "apply"
case_is "apply --d" "--dry-run"
case_is "show --r" "--raw"
case_is "diff --e" "--exit-code"
case_is "apply " "a.cfg b.json folder"
case_is "decode " "a.cfg folder"
case_is "encode " "b.json folder"
case_is "encode b.json -o " "a.cfg folder"
case_is "diff r" "reader"
case_is "apply a.cfg --format " "cfg json"
case_has "show --com " "77"
case_is "show --com 7" "77"
case_is "read-card --timeout " ""
exit $fail
