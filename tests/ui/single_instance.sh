#!/usr/bin/env bash
# End-to-end check of the real program on a private session bus: a second
# start hands its request to the running instance, which opens another window,
# and the program run from the build tree reads the catalogue built beside it.
#
# Usage: single_instance.sh PROGRAM BUILD_TREE_LOCALE_DIR
set -uo pipefail

exe=$1
locale_dir=$2

if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: no display"
  exit 77
fi
for tool in dbus-run-session xdotool timeout; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is not installed"
    exit 77
  fi
done

# Re-run inside a private session bus, all of it bounded in time; timeout
# signals its whole process group, the bus and the program included.
if [ "${TOL_SINGLE_INSTANCE_INNER:-}" != 1 ]; then
  export TOL_SINGLE_INSTANCE_INNER=1
  exec timeout -k 5 150 dbus-run-session -- bash "$0" "$@"
fi

pids=()
cleanup() {
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null
  done
  for pid in "${pids[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# The number of visible windows titled Tolvane that the first instance shows.
# Other programs on the same display (other UI tests) are not counted, and
# the later starts own no window once they have exited.
count_windows() {
  xdotool search --onlyvisible --pid "$first" --name '^Tolvane$' 2>/dev/null | wc -l
}

# Waits (bounded) until the first instance shows exactly $1 windows.
wait_for_windows() {
  for _ in $(seq 600); do
    [ "$(count_windows)" -eq "$1" ] && return 0
    sleep 0.1
  done
  return 1
}

# A real locale for the messages category, so that the catalogue is read.
export LC_ALL=C.UTF-8 LANGUAGE=en
unset TOLVANE_LOCALEDIR

"$exe" &
first=$!
pids+=("$first")
wait_for_windows 1 || fail "the first start showed no window"

catalogue=$(realpath "$locale_dir")/en/LC_MESSAGES/tolvane.mo
[ -f "$catalogue" ] || fail "no catalogue at $catalogue"
grep -qF "$catalogue" "/proc/$first/maps" ||
  fail "the program did not read $catalogue"

# The second start only asks the first instance to activate, then exits.
timeout 60 "$exe" || fail "the second start failed with status $?"
wait_for_windows 2 || fail "the second start did not open a second window in the first instance"

# Files named on the command line go to the first instance as well.
timeout 60 "$exe" /nonexistent/SYSTEM /nonexistent/SOFTWARE /nonexistent/SAM ||
  fail "the third start failed with status $?"
wait_for_windows 3 || fail "the third start did not open a third window in the first instance"

kill -0 "$first" 2>/dev/null || fail "the first instance is gone"

echo "the second and third starts opened windows in the first instance"
exit 0
