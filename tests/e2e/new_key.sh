#!/usr/bin/env bash
# Journey: F7 in the key tree opens the New key dialog under the selected
# key; the typed name replaces the proposed one and Enter creates the key,
# which is on disk at once. F2 then renames it in the Rename key dialog, and
# Delete asks "Delete key?", which Escape answers without deleting. The hive
# is read back with hivexregedit and tolvane-cli.
#
# Usage: new_key.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

command -v hivexregedit >/dev/null || { echo "SKIP: hivexregedit is not installed"; exit 77; }

file=$work/hives/SOFTWARE
mkdir -p "$work/hives"
hive new "$file" --root-name ROOT
hive mkkey "$file" 'Alpha'
hive mkkey "$file" 'Bravo'

# The subkeys of KEY as tolvane-cli lists them, on one line.
subkeys() {
  "$cli" ls "$file" "$1" | tr '\n' ' '
}

start_app "$file"
# The focus is on the left key tree, the root selected: Down goes to Alpha.
keys Down
keys F7
dialog_window 'New key' >/dev/null || fail "no New key dialog"
shot new-key-dialog >/dev/null
# The proposed name is selected: typing replaces it.
type_text Created
keys Return
dialog_gone 'New key' || fail "the New key dialog stayed open"
[ "$(subkeys 'Alpha')" = "Created " ] || fail "Alpha holds '$(subkeys 'Alpha')' on disk"

# The new key is selected: F2 renames it.
keys F2
dialog_window 'Rename key' >/dev/null || fail "no Rename key dialog"
shot rename-key-dialog >/dev/null
type_text Renamed
keys Return
dialog_gone 'Rename key' || fail "the Rename key dialog stayed open"
[ "$(subkeys 'Alpha')" = "Renamed " ] || fail "Alpha holds '$(subkeys 'Alpha')' after the rename"

# Delete asks first; Escape deletes nothing.
keys Delete
dialog_window 'Delete key' >/dev/null || fail "no Delete key? alert"
settle 1
shot delete-key-alert >/dev/null
keys Escape
dialog_gone 'Delete key' || fail "the alert stayed open"
[ "$(subkeys 'Alpha')" = "Renamed " ] || fail "Escape on the alert deleted the key"

close_app
"$cli" check "$file" >/dev/null || fail "tolvane-cli check: $("$cli" check "$file")"
exported=$(hivexregedit --export "$file" '\') || fail "hivexregedit could not read the hive"
for key in '[\Alpha]' '[\Alpha\Renamed]' '[\Bravo]'; do
  grep -qxF "$key" <<<"$exported" || fail "hivexregedit does not show $key"
done
[ "$(grep -c '^\[' <<<"$exported")" -eq 4 ] || fail "hivexregedit shows other keys: $exported"
echo "created, renamed and kept a key from the keyboard"
