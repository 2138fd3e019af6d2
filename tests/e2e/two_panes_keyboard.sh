#!/usr/bin/env bash
# Journey: two hives from the command line, one per pane; Tab moves between
# the panes' key trees, the arrow keys and type-ahead walk each tree. The
# window is closed with its close button; the session it leaves behind tells
# which key each pane ended on, and the hives are untouched.
#
# Usage: two_panes_keyboard.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

left=$work/hives/SOFTWARE
right=$work/hives/NTUSER.DAT
mkdir -p "$work/hives"
hive new "$left" --root-name ROOT
hive mkkey "$left" 'Alpha\Beta\Gamma'
hive mkkey "$left" 'Bravo'
hive mkkey "$left" 'Charlie\Delta'
hive mkkey "$left" 'Charlie\Echo'
hive new "$right" --root-name USER
hive mkkey "$right" 'Xray'
hive mkkey "$right" 'Yankee\Zulu'
hive mkkey "$right" 'Zebra'
before=$(sha256sum "$left" "$right")

start_app "$left" "$right"
calibrate_rows "$(shot start)"

# The window opens with the focus on the left key tree: Tab goes to the right one.
keys Tab
# Right pane, root selected: type-ahead to Yankee, open it, step into Zulu.
type_text y
keys Right Right
# Back to the left tree: Down twice from the root (Alpha, then Bravo), then
# type-ahead "ch" to Charlie, open it, step into Delta and down to Echo.
keys Tab
keys Down Down
type_text ch
keys Right Right Down
# Left: ROOT, Alpha, Bravo, Charlie, Delta, Echo; right: USER, Xray, Yankee, Zulu.
expect_rows "$(shot walked)" 5 3

# Shift+Tab goes back to the right tree; Left there climbs to Yankee.
keys shift+Tab
keys Left
expect_rows "$(shot end)" 5 2

close_app
[ -f "$session" ] || fail "no session file was written"
expect_ini PaneLeft TabCount 1
expect_ini PaneLeft Tab0Path "$left"
expect_ini PaneLeft Tab0LastKey 'Charlie\\Echo'
expect_ini PaneRight TabCount 1
expect_ini PaneRight Tab0Path "$right"
expect_ini PaneRight Tab0LastKey 'Yankee'
[ "$(sha256sum "$left" "$right")" = "$before" ] || fail "the hives changed on disk"
echo "walked both trees with the keyboard"
