#!/usr/bin/env bash
# Journey: two hives side by side compared from the keyboard. Ctrl+D compares
# the selected keys (both roots), the arrow keys walk the list of differences
# and Enter selects a difference's key in both panes; Alt+L applies the
# differences to the left file, which then equals the right one, and Ctrl+Z
# takes that back, leaving the left file as it was.
#
# Usage: compare_keys.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

command -v hivexregedit >/dev/null || { echo "SKIP: hivexregedit is not installed"; exit 77; }

left=$work/hives/left/SOFTWARE
right=$work/hives/right/SOFTWARE
mkdir -p "$work/hives/left" "$work/hives/right"
for f in "$left" "$right"; do
  hive new "$f" --root-name ROOT
  hive mkkey "$f" 'Setup'
  hive mkkey "$f" 'Vendor\App'
done
hive set "$left" 'Setup' 'Mode' REG_DWORD 1
hive set "$right" 'Setup' 'Mode' REG_DWORD 2
hive mkkey "$left" 'Vendor\Old'
hive mkkey "$right" 'Vendor\New'
before=$(hivexregedit --export "$left" '\') || fail "hivexregedit could not read the hive"
"$cli" diff "$left" '' "$right" ''
[ $? -eq 1 ] || fail "tolvane-cli diff finds the files equal before the journey"

start_app "$left" "$right"
keys ctrl+d
shot compared >/dev/null
# The list: "\Setup", "~ Mode", "\Vendor\New", "\Vendor\Old". Down to the
# changed value and Enter: both panes show Setup.
keys Down Return
shot walked >/dev/null
keys alt+l
for _ in $(seq 50); do
  "$cli" diff "$left" '' "$right" '' >/dev/null && break
  sleep 0.2
done
"$cli" diff "$left" '' "$right" '' >/dev/null || fail "after Apply to left the files still differ: $("$cli" diff "$left" '' "$right" '')"
shot applied >/dev/null

keys ctrl+z
for _ in $(seq 50); do
  [ "$(hivexregedit --export "$left" '\')" = "$before" ] && break
  sleep 0.2
done
[ "$(hivexregedit --export "$left" '\')" = "$before" ] || fail "after Ctrl+Z the left file is not as it was"
shot undone >/dev/null

close_app
"$cli" check "$left" >/dev/null || fail "tolvane-cli check: $("$cli" check "$left")"
# Enter selected the difference's key in both panes; the session says so.
expect_ini PaneLeft Tab0LastKey 'Setup'
expect_ini PaneRight Tab0LastKey 'Setup'
echo "compared, walked to a difference, applied and undid from the keyboard"
