#!/usr/bin/env bash
# Journey: Ctrl+F opens the search of the pane that has the focus; the query
# is typed, Enter runs it, the keyboard reaches a hit and Enter on it selects
# its key in that pane's tree. The session left behind and the screenshots
# tell which keys were selected; the hives are untouched.
#
# Usage: search_keyboard.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

left=$work/hives/SOFTWARE
right=$work/hives/SYSTEM
mkdir -p "$work/hives"
hive new "$left" --root-name ROOT
hive mkkey "$left" 'Alpha\Beta\Zulu'
hive mkkey "$left" 'Bravo'
hive set "$left" 'Bravo' 'ZuluName' REG_SZ 'some data'
hive new "$right" --root-name SYS
hive mkkey "$right" 'Aaa'
hive mkkey "$right" 'Zulu\Deep'
hive set "$right" 'Aaa' 'Note' REG_SZ 'nothing deep here'
before=$(sha256sum "$left" "$right")

start_app "$left" "$right"
calibrate_rows "$(shot start)"
half=$((win_w / 2))
left_half=${half}x${win_h}+${win_x}+${win_y}
right_half=${half}x${win_h}+$((win_x + half))+${win_y}

# search_opened PANE REGION OTHER OTHER_REGION: the search popover of PANE
# is on screen, and the other pane's is not.
search_opened() {
  local file
  file=$(shot_until "$1-search" at_least_blue "$2" 5000)
  at_least_blue "$file" "$2" 5000 || fail "the $1 pane's search did not open"
  at_most_blue "$file" "$4" 1000 || fail "the $3 pane's search opened"
}

# In the right pane: its search opens, the left one stays shut.
keys Tab ctrl+f
search_opened right "$right_half" left "$left_half"
type_text deep
keys Return
# From the query, past the five options and the Search button, to the first
# hit (the value Note of Aaa, whose data says "deep"), then down to the
# second, the key Zulu\Deep.
keys Tab Tab Tab Tab Tab Tab Tab Down Return
done_right=$(shot_until right-found at_most_blue "$right_half" 1000)
at_most_blue "$done_right" "$right_half" 1000 || fail "the search stayed open after a hit was chosen"

# In the left pane: the second hit is a value; choosing it selects the key
# that holds the value.
keys Tab ctrl+f
search_opened left "$left_half" right "$right_half"
type_text zulu
keys Return
keys Tab Tab Tab Tab Tab Tab Tab Down Return
# Left: ROOT, Alpha, Bravo; right: SYS, Aaa, Zulu, Deep.
expect_rows "$(shot found)" 2 3

close_app
expect_ini PaneLeft Tab0LastKey 'Bravo'
expect_ini PaneRight Tab0LastKey 'Zulu\\Deep'
[ "$(sha256sum "$left" "$right")" = "$before" ] || fail "the hives changed on disk"
echo "found and chose hits in both panes with the keyboard"
