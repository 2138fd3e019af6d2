#!/bin/sh
# Compiles a catalogue to OUTPUT and places a copy at PLACED, where the
# program looks for it when run from the build tree (a "po" directory beside
# the directory of the program).
#
# Usage: place-catalogue.sh MSGFMT SOURCE OUTPUT PLACED
set -eu
msgfmt=$1 source=$2 output=$3 placed=$4
"$msgfmt" --check -o "$output" "$source"
mkdir -p "$(dirname "$placed")"
cp "$output" "$placed.tmp"
mv -f "$placed.tmp" "$placed"
