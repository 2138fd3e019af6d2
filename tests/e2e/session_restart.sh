#!/usr/bin/env bash
# Journey: the tabs of both panes survive restarts. A first run opens two
# hives and walks to a key; a second run, given a third hive, shows the
# restored tabs with the new file as an extra tab; a third run, given
# nothing, shows exactly what the second one showed when it closed.
#
# Usage: session_restart.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

a=$work/hives/SOFTWARE
b=$work/hives/extra/NTUSER.DAT
c=$work/hives/SYSTEM
mkdir -p "$work/hives/extra"
hive new "$a" --root-name ROOT
hive mkkey "$a" 'Software\Vendor\App'
hive mkkey "$a" 'System'
hive new "$b" --root-name USER
hive mkkey "$b" 'Console'
hive mkkey "$b" 'Environment'
hive new "$c" --root-name SYS
hive mkkey "$c" 'Select'
before=$(sha256sum "$a" "$b" "$c")

# First run: A left, C right; the left tree walks to Software\Vendor.
start_app "$a" "$c"
calibrate_rows "$(shot first-start)"
keys Tab Tab
type_text so
keys Right Right Right
expect_rows "$(shot first-end)" 2 0
close_app
expect_ini PaneLeft TabCount 1
expect_ini PaneLeft Tab0LastKey 'Software\\Vendor'

# Second run: the session comes back and B opens after it, in the left pane.
start_app "$b"
keys Tab Tab
type_text e
second=$(shot second-end)
# Left: USER, Console, Environment; right: SYS.
expect_rows "$second" 2 0
close_app
expect_ini PaneLeft TabCount 2
expect_ini PaneLeft ActiveTab 1
expect_ini PaneLeft Tab0Path "$a"
expect_ini PaneLeft Tab0LastKey 'Software\\Vendor'
expect_ini PaneLeft Tab1Label NTUSER.DAT
expect_ini PaneLeft Tab1Path "$b"
expect_ini PaneLeft Tab1LastKey Environment
expect_ini PaneRight TabCount 1
expect_ini PaneRight Tab0Path "$c"
cp "$session" "$work/second.ini"

# Third run, no files: the same tabs, the same tree, nothing changed.
start_app
third=$(shot third-start)
expect_rows "$third" 2 0
# The toolbar rows with the paths and the tab bars, both panes.
same_region "$second" "$third" "${win_w}x70+${win_x}+$((win_y + 50))" ||
  fail "the restored tab bars differ from what the last run showed"
close_app
cmp -s "$session" "$work/second.ini" || fail "the session changed: $(diff "$work/second.ini" "$session")"
[ "$(sha256sum "$a" "$b" "$c")" = "$before" ] || fail "the hives changed on disk"
echo "the session came back twice"
