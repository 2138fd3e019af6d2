# Shared by the end-to-end journeys: each journey runs the real program on a
# display and a session bus of its own, with its own configuration directory,
# and drives it with xdotool alone, as a user at the keyboard would.
#
# A journey script sources this file with the arguments it was given:
#   PROGRAM CLI
# (the tolvane and tolvane-cli programs of the build).

set -uo pipefail

exe=$(realpath "$1")
cli=$(realpath "$2")

fail() {
  echo "FAIL: $*"
  # What the screen showed, for a person to look at.
  if [ -n "${TOL_E2E_SHOTS:-}" ] && [ -n "${DISPLAY:-}" ]; then
    mkdir -p "$TOL_E2E_SHOTS"
    import -window root "$TOL_E2E_SHOTS/$(basename "$0" .sh)-failure.png" 2>/dev/null
  fi
  exit 1
}

# Re-run inside a private display and session bus, bounded in time; timeout
# signals the whole process group, the display, the bus and the program.
if [ "${TOL_E2E_INNER:-}" != 1 ]; then
  for tool in xvfb-run xauth xdotool import convert dbus-run-session timeout sha256sum; do
    if ! command -v "$tool" >/dev/null; then
      echo "SKIP: $tool is not installed"
      exit 77
    fi
  done
  export TOL_E2E_INNER=1
  # The search for a free display starts at a random number, so that displays
  # started at the same moment by other test programs do not collide; a
  # display that did not come up is tried again with another number.
  for attempt in 1 2 3; do
    timeout -k 5 240 dbus-run-session -- \
      xvfb-run -a -n $((200 + RANDOM % 700)) -s "-screen 0 1600x1000x24" bash "$0" "$@"
    status=$?
    [ "$status" -eq 75 ] || exit "$status"
    echo "the display did not come up (attempt $attempt)"
  done
  exit 1
fi

# Status 75: no display to work on.
for _ in $(seq 50); do
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  sleep 0.2
done
xdotool getdisplaygeometry >/dev/null 2>&1 || exit 75

work=$(mktemp -d "${TMPDIR:-/tmp}/tolvane-e2e-XXXXXX")
app_pid=
cleanup() {
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

export XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CACHE_HOME=$work/cache
set -a
# shellcheck source=../gtk-test.env
. "$(dirname "${BASH_SOURCE[0]}")/../gtk-test.env"
set +a
export LC_ALL=C.UTF-8 LANGUAGE=en
session=$XDG_CONFIG_HOME/tolvane/session.ini

# Screenshots land in the work directory, and also in $TOL_E2E_SHOTS when it
# names a directory, for a person to look at.
shot() {
  local file=$work/$1.png
  import -window root "$file" || fail "no screenshot"
  if [ -n "${TOL_E2E_SHOTS:-}" ]; then
    mkdir -p "$TOL_E2E_SHOTS"
    cp "$file" "$TOL_E2E_SHOTS/$(basename "$0" .sh)-$1.png"
  fi
  echo "$file"
}

# The program with the given files, on screen and holding the keyboard focus.
start_app() {
  # The pointer waits off the window, where it raises no tooltip.
  xdotool mousemove --sync 1595 995
  "$exe" "$@" >"$work/app.log" 2>&1 &
  app_pid=$!
  wid=
  for _ in $(seq 300); do
    wid=$(xdotool search --onlyvisible --pid "$app_pid" --name '^Tolvane$' 2>/dev/null | head -n 1)
    [ -n "$wid" ] && break
    if ! kill -0 "$app_pid" 2>/dev/null; then
      # Another test's display server took the number and went away again:
      # the whole journey is tried once more on a display of its own.
      grep -q "cannot open display" "$work/app.log" && exit 75
      fail "the program exited at start: $(cat "$work/app.log")"
    fi
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no window appeared"
  xdotool windowfocus --sync "$wid" || fail "the window took no focus"
  local X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  win_x=$X win_y=$Y win_w=$WIDTH win_h=$HEIGHT
  # A window is mapped before it is first drawn, and on a busy machine the
  # first frame can take seconds: wait until its area is no longer black.
  local drawn=
  for _ in $(seq 100); do
    if [ "$(import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage -format '%[fx:maxima.r]' info:- 2>/dev/null)" != 0 ]; then
      drawn=1
      break
    fi
    sleep 0.2
  done
  [ -n "$drawn" ] || fail "the window was never drawn"
  settle 1
  # Probe columns inside the key trees, right of any name, and the top of
  # the trees' rows (below the column headers).
  left_tree_x=$((win_x + 230))
  right_tree_x=$((win_x + win_w / 2 + 250))
  rows_top=$((win_y + 166))
}

# Where the root rows are drawn while selected, to count rows from; call
# while the roots are selected.
calibrate_rows() {
  local band
  band=$(selected_band "$1" "$left_tree_x" "$rows_top")
  [ -n "$band" ] || fail "no selected row in the left key tree of $1"
  left_root=${band% *} row_height=${band#* }
  band=$(selected_band "$1" "$right_tree_x" "$rows_top")
  [ -n "$band" ] || fail "no selected row in the right key tree of $1"
  right_root=${band% *}
  [ "$row_height" -ge 16 ] && [ "$row_height" -le 64 ] || fail "odd row height $row_height"
}

# expect_rows FILE LEFT RIGHT: the rows selected in the two key trees.
expect_rows() {
  local l r
  l=$(row "$1" "$left_tree_x" "$left_root" "$row_height")
  r=$(row "$1" "$right_tree_x" "$right_root" "$row_height")
  [ "$l" = "$2" ] || fail "$(basename "$1"): left tree shows row $l selected, expected $2"
  [ "$r" = "$3" ] || fail "$(basename "$1"): right tree shows row $r selected, expected $3"
}

# Lets the program handle what it was sent and draw.
settle() {
  sleep "${1:-0.6}"
}

keys() {
  xdotool key --clearmodifiers --delay 120 "$@" || fail "xdotool key $*"
  settle
}

# Types text quickly, within the key tree's one-second type-ahead window.
type_text() {
  xdotool type --delay 60 "$1" || fail "xdotool type $1"
  settle
}

# Closes the window with its close button, as a user does, and waits for the
# program to end (it ends with its last window).
close_app() {
  eval "$(xdotool getwindowgeometry --shell "$wid")"
  xdotool mousemove --sync $((X + WIDTH - 28)) $((Y + 28)) click 1 || fail "no click"
  for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "the window did not close"
  wait "$app_pid"
  local status=$?
  app_pid=
  [ "$status" -eq 0 ] || fail "the program ended with status $status: $(cat "$work/app.log")"
}

# A value of the session file: ini GROUP KEY.
ini() {
  awk -v group="[$1]" -v key="$2" '
    /^\[/ { in_group = ($0 == group); next }
    in_group && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$session"
}

expect_ini() {
  local got
  got=$(ini "$1" "$2")
  [ "$got" = "$3" ] || fail "$1/$2 is '$got', expected '$3'"
}

# The selected row of a key tree in a screenshot: the top and the height of
# the first band of tinted (not white) pixels in column X, from Y down.
# Prints "TOP HEIGHT", or nothing when no row is tinted.
selected_band() {
  convert "$1" -crop "1x600+$2+$3" +repage -depth 8 txt:- | awk -v y0="$3" '
    NR == 1 { next }
    { split($1, at, /[,:]/); white = ($3 == "#FFFFFF") }
    !white && top == "" { top = at[2] }
    white && top != "" { print y0 + top, at[2] - top; found = 1; exit }
    END { if (!found && top != "") print y0 + top, 600 - top }'
}

# Which displayed row of a key tree is selected, counting the root row as 0:
# row FILE X ROOT_TOP ROW_HEIGHT, with the root row's band taken from a
# screenshot in which the root was selected.
row() {
  local band top
  band=$(selected_band "$1" "$2" "$rows_top")
  [ -n "$band" ] || { echo none; return; }
  top=${band% *}
  echo $(( (top - $3 + $4 / 2) / $4 ))
}

# How many pixels of a region (WIDTHxHEIGHT+X+Y) have the colour of suggested
# actions, the blue of a popover's "Search" button.
blue_pixels() {
  convert "$1" -crop "$2" +repage -fill black -fuzz 4% +opaque "#3584e4" \
    -fill white -fuzz 4% -opaque "#3584e4" -format "%[fx:mean] %w %h" info:- |
    awk '{ printf "%d\n", $1 * $2 * $3 + 0.5 }'
}

# shot_until NAME TEST ARGS...: takes screenshots until `TEST FILE ARGS...`
# succeeds (a busy machine may draw a popover only seconds after the key),
# for at most ten seconds; prints the last screenshot's file either way.
shot_until() {
  local name=$1 file
  shift
  for _ in $(seq 20); do
    file=$(shot "$name")
    "$1" "$file" "${@:2}" && break
    sleep 0.5
  done
  echo "$file"
}

# at_least_blue FILE REGION N: the region holds N or more pixels of the blue.
at_least_blue() {
  [ "$(blue_pixels "$1" "$2")" -gt "$3" ]
}

# at_most_blue FILE REGION N: the region holds fewer than N such pixels.
at_most_blue() {
  [ "$(blue_pixels "$1" "$2")" -lt "$3" ]
}

# Whether two screenshots agree in a region (WIDTHxHEIGHT+X+Y).
same_region() {
  local a b
  a=$(convert "$1" -crop "$3" +repage -depth 8 rgb:- | sha256sum)
  b=$(convert "$2" -crop "$3" +repage -depth 8 rgb:- | sha256sum)
  [ "$a" = "$b" ]
}

hive() {
  "$cli" "$@" >/dev/null || fail "tolvane-cli $*"
}

# The window of a dialog of the program whose title starts with TITLE, once
# it is on the screen (its id on stdout).
dialog_window() {
  local id
  for _ in $(seq 100); do
    id=$(xdotool search --all --onlyvisible --pid "$app_pid" --name "^$1" 2>/dev/null | head -n 1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Waits until no dialog whose title starts with TITLE is shown any more.
dialog_gone() {
  for _ in $(seq 100); do
    xdotool search --all --onlyvisible --pid "$app_pid" --name "^$1" >/dev/null 2>&1 || return 0
    sleep 0.1
  done
  return 1
}
