#!/usr/bin/env bash
# Journey: edit two values of a key in their editors. A click selects the
# REG_DWORD value in the value list, Enter opens its editor, a new number is
# typed over the old one and Enter stores it; then the REG_MULTI_SZ value's
# editor takes new lines (Enter there breaks the line) and its OK button is
# clicked. The hive on disk is read back with hivexregedit and tolvane-cli.
#
# Usage: edit_values.sh PROGRAM CLI
source "$(dirname "$0")/common.sh"

command -v hivexregedit >/dev/null || { echo "SKIP: hivexregedit is not installed"; exit 77; }

file=$work/hives/values.hiv
mkdir -p "$work/hives"
hive new "$file" --root-name ROOT
hive mkkey "$file" 'Config'
hive set "$file" 'Config' 'Count' REG_DWORD 7
hive set "$file" 'Config' 'Lines' REG_MULTI_SZ alpha beta

# Clicks the centre of the first band of the suggested-action blue in the
# bottom strip of window ID: the dialog's "OK" button.
click_ok() {
  local X Y WIDTH HEIGHT SCREEN shot_file at
  eval "$(xdotool getwindowgeometry --shell "$1")"
  shot_file=$(shot "$2")
  at=$(convert "$shot_file" -crop "${WIDTH}x60+${X}+$((Y + HEIGHT - 60))" +repage \
         -fill black -fuzz 6% +opaque "#3584e4" -fill white -fuzz 6% -opaque "#3584e4" \
         -trim -format "%[fx:int(page.x + w / 2)] %[fx:int(page.y + h / 2)]" info:- 2>/dev/null)
  [ -n "$at" ] || fail "no OK button drawn in $2"
  xdotool mousemove --sync $((X + ${at% *})) $((Y + HEIGHT - 60 + ${at#* })) click 1 || fail "no click"
  settle
}

start_app "$file"
# The left key tree has the focus on the root: type-ahead to Config.
type_text c
settle 1

# The value list fills the end side of the left pane; its rows start below the
# column headers at the height of the key tree's rows.
values_x=$((win_x + 420))
row_y() { echo $((rows_top + 14 + $1 * 32)); }

# Count, the first row: a click selects it, Enter opens its editor.
xdotool mousemove --sync "$values_x" "$(row_y 0)" click 1 || fail "no click"
settle
keys Return
dword=$(dialog_window 'Edit REG_DWORD') || fail "no REG_DWORD editor"
shot dword-editor >/dev/null
# The old number is selected: typing replaces it.
type_text 0x2A
shot dword-typed >/dev/null
keys Return
dialog_gone 'Edit REG_DWORD' || fail "the REG_DWORD editor stayed open"

# Lines, the second row.
xdotool mousemove --sync "$values_x" "$(row_y 1)" click 1 || fail "no click"
settle
keys Return
multi=$(dialog_window 'Edit REG_MULTI_SZ') || fail "no REG_MULTI_SZ editor"
shot multi-editor >/dev/null
# Replace the text: Enter between the lines only breaks them.
keys ctrl+a
type_text one
keys Return
type_text two
keys Return
type_text three
xdotool search --all --onlyvisible --pid "$app_pid" --name '^Edit REG_MULTI_SZ' >/dev/null ||
  fail "Enter closed the multi-line editor"
click_ok "$multi" multi-typed
dialog_gone 'Edit REG_MULTI_SZ' || fail "OK did not close the REG_MULTI_SZ editor"
shot after >/dev/null

close_app

# A peer reads the new data.
exported=$(hivexregedit --export "$file" '\Config') || fail "hivexregedit cannot read the hive"
grep -qx '"Count"=dword:0000002a' <<<"$exported" || fail "Count on disk: $(grep Count <<<"$exported")"
multi_hex='"Lines"=hex(7):6f,00,6e,00,65,00,00,00,74,00,77,00,6f,00,00,00,74,00,68,00,72,00,65,00,65,00,00,00,00,00'
grep -qxF "$multi_hex" <<<"$exported" || fail "Lines on disk: $(grep Lines <<<"$exported")"
# And so does the program's own command line tool.
"$cli" get "$file" 'Config' 'Count' | od -An -tx1 | tr -d ' \n' | grep -qx '2a000000' ||
  fail "tolvane-cli reads another Count"
"$cli" check "$file" >/dev/null || fail "tolvane-cli check: $("$cli" check "$file")"
echo "edited a REG_DWORD and a REG_MULTI_SZ value"
