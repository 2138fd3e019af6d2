#!/usr/bin/env bash
# Journey: a change and its undo from the keyboard. F7 creates a key, which
# is on disk at once; Ctrl+Z in the key tree takes the change back, and the
# hive on disk holds what it held before, as hivexregedit and tolvane-cli
# read it.
#
# Usage: undo_keys.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

command -v hivexregedit >/dev/null || { echo "SKIP: hivexregedit is not installed"; exit 77; }

file=$work/hives/SYSTEM
mkdir -p "$work/hives"
hive new "$file" --root-name ROOT
hive mkkey "$file" 'Select'
hive set "$file" 'Select' 'Current' REG_DWORD 1
hive mkkey "$file" 'Setup'
before=$(hivexregedit --export "$file" '\') || fail "hivexregedit could not read the hive"
before_cli=$("$cli" ls "$file" '')

start_app "$file"
# A new key under the root, with the name typed over the proposed one.
keys F7
dialog_window 'New key' >/dev/null || fail "no New key dialog"
type_text Temporary
keys Return
dialog_gone 'New key' || fail "the New key dialog stayed open"
for _ in $(seq 50); do
  "$cli" ls "$file" '' | grep -qx Temporary && break
  sleep 0.2
done
"$cli" ls "$file" '' | grep -qx Temporary || fail "the new key is not on disk"
shot changed >/dev/null

# The new key is selected in the tree, which has the focus: Ctrl+Z.
keys ctrl+z
for _ in $(seq 50); do
  [ "$("$cli" ls "$file" '')" = "$before_cli" ] && break
  sleep 0.2
done
[ "$("$cli" ls "$file" '')" = "$before_cli" ] || fail "after Ctrl+Z the root holds: $("$cli" ls "$file" '')"
shot undone >/dev/null

close_app
"$cli" check "$file" >/dev/null || fail "tolvane-cli check: $("$cli" check "$file")"
after=$(hivexregedit --export "$file" '\') || fail "hivexregedit could not read the hive"
[ "$after" = "$before" ] || fail "the hive differs from before the change: $after"
echo "undid a new key with Ctrl+Z"
