#!/usr/bin/env bash
# Journey: copy keys from the left pane's hive into the right pane's. F5
# copies the key selected on the left under the key selected on the right;
# then a key dragged from the left key tree and dropped on the right one goes
# under the same destination. Both copies are on disk, checked with
# hivexregedit and tolvane-cli; the source hive is untouched.
#
# Usage: copy_keys.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

command -v hivexregedit >/dev/null || { echo "SKIP: hivexregedit is not installed"; exit 77; }

left=$work/hives/SOFTWARE
right=$work/hives/NTUSER.DAT
mkdir -p "$work/hives"
hive new "$left" --root-name ROOT
hive mkkey "$left" 'Alpha\One'
hive mkkey "$left" 'Alpha\Two\Three'
hive set "$left" 'Alpha\Two' 'Level' REG_DWORD 2
hive mkkey "$left" 'Beta'
hive set "$left" 'Beta' 'Greeting' REG_SZ hello
hive new "$right" --root-name USER
hive mkkey "$right" 'Target'
before=$(sha256sum "$left")

subkeys() {
  "$cli" ls "$right" "$1" | tr '\n' ' '
}

# Waits until KEY of the right hive lists SUBKEYS on disk.
wait_subkeys() {
  for _ in $(seq 50); do
    [ "$(subkeys "$1")" = "$2" ] && return 0
    sleep 0.2
  done
  return 1
}

start_app "$left" "$right"
calibrate_rows "$(shot start)"

# Left: Down to Alpha. Right: Down to Target. F5 copies Alpha under Target.
keys Down
keys Tab
keys Down
keys F5
wait_subkeys 'Target' 'Alpha ' || fail "F5 left Target holding '$(subkeys 'Target')'"
shot copied >/dev/null

# Back on the left, Down to Beta (Alpha is closed): the key a drag takes is
# the selected one, and it goes under the key selected on the right.
keys Tab
keys Down
from_x=$((win_x + 90))
from_y=$((left_root + 2 * row_height + row_height / 2))
to_x=$((right_tree_x - 60))
to_y=$((right_root + 4 * row_height))
xdotool mousemove --sync "$from_x" "$from_y" || fail "no pointer move"
xdotool mousedown 1 || fail "no button press"
for step in 1 2 3 4 5 6 7 8 9 10; do
  xdotool mousemove --sync $((from_x + (to_x - from_x) * step / 10)) $((from_y + (to_y - from_y) * step / 10))
  sleep 0.1
done
sleep 0.3
xdotool mouseup 1 || fail "no button release"
settle 1
wait_subkeys 'Target' 'Alpha Beta ' || fail "the drop left Target holding '$(subkeys 'Target')'"
shot dropped >/dev/null

close_app
[ "$(sha256sum "$left")" = "$before" ] || fail "the source hive changed on disk"
"$cli" check "$right" >/dev/null || fail "tolvane-cli check: $("$cli" check "$right")"
[ "$("$cli" values "$right" 'Target\Beta' | tr -d '\r')" = "$("$cli" values "$left" 'Beta' | tr -d '\r')" ] ||
  fail "Beta's values differ after the drop"
exported=$(hivexregedit --export "$right" '\') || fail "hivexregedit could not read the hive"
for key in '[\Target\Alpha]' '[\Target\Alpha\One]' '[\Target\Alpha\Two]' '[\Target\Alpha\Two\Three]' '[\Target\Beta]'; do
  grep -qxF "$key" <<<"$exported" || fail "hivexregedit does not show $key"
done
grep -qxF '"Level"=dword:00000002' <<<"$exported" || fail "hivexregedit does not show Alpha\\Two's value"
echo "copied a key with F5 and another by a drag"
