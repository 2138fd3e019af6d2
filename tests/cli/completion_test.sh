#!/bin/bash
# completion_test.sh COMPLETION TOLVANE_CLI WRITE_FIXTURE: drives the
# completion function as bash would on a few command lines.
set -eu
completion=$1
cli=$2
fixture=$3
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# shellcheck disable=SC1090
source "$completion"
hive=$dir/SYSTEM
"$fixture" minimal "$hive"
"$cli" mkkey "$hive" 'ControlSet001\Services\Tcpip' >/dev/null
"$cli" mkkey "$hive" 'My Panel' >/dev/null
"$cli" mkkey "$hive" 'Old\Sub' >/dev/null
"$cli" rmkey "$hive" Old >/dev/null

status=0
# complete WORD... : the completions of the last word, one per line.
complete_line() {
  COMP_WORDS=("$cli" "$@")
  COMP_CWORD=$(($# ))
  COMPREPLY=()
  _tolvane_cli
  printf '%s\n' "${COMPREPLY[@]}" | sort
}
expect() {
  local want=$1; shift
  local got
  got=$(complete_line "$@")
  if [[ $got != "$want" ]]; then
    printf 'completing %s:\n  got:  %s\n  want: %s\n' "$*" "${got//$'\n'/ | }" "${want//$'\n'/ | }" >&2
    status=1
  fi
}
expect $'recover\nrenkey\nrenval\nrepair\nreplace' re
expect 'values' val
expect $'--help\n--no-logs\n--version' --
expect 'ControlSet001\\' values "$hive" Cont
expect 'ControlSet001\\' values "$hive" cont
expect 'ControlSet001\\Services\\' values "$hive" 'ControlSet001\\S'
expect 'My\ Panel\\' --no-logs ls "$hive" 'My\ '
expect $'--force\n--no-logs' mkkey "$hive" Foo --
expect 'REG_QWORD' set "$hive" Key Name REG_Q
expect 'ControlSet001\\' copy "$hive" ControlSet001 "$hive" Cont
expect 'ControlSet001\\' diff "$hive" '' "$hive" Cont
expect $'--security\n--stat' diff "$hive" '' "$hive" '' --s
expect "$hive" info "$dir/SYS"
expect $'Old\nOld\\\\Sub' undelete "$hive" o
expect 'ControlSet001\\' undelete "$hive" Old --to Cont
[[ $status == 0 ]] && echo "completion: ok"
exit $status
