#!/usr/bin/env bash
# Builds the two sample hives with tolvane-cli: a small SOFTWARE-like tree with
# every value type, and a variant with values changed, added and removed.
#   make-samples.sh TOLVANE-CLI OUTDIR
set -euo pipefail
cli=$1
out=$2
mkdir -p "$out"

build() {  # file, changed (0/1)
  local h=$1 changed=$2
  rm -f "$h"
  "$cli" new "$h" --root-name ROOT
  c() { "$cli" "$@" >/dev/null; }
  local cv='Microsoft\Windows\CurrentVersion'
  c mkkey "$h" 'Classes\.txt'
  c set "$h" 'Classes\.txt' '' REG_SZ txtfile
  c set "$h" 'Classes\.txt' 'Content Type' REG_SZ text/plain
  c mkkey "$h" 'Classes\txtfile\shell\open\command'
  c set "$h" 'Classes\txtfile' '' REG_SZ 'Text Document'
  c set "$h" 'Classes\txtfile\shell\open\command' '' REG_EXPAND_SZ '%SystemRoot%\system32\NOTEPAD.EXE %1'
  c mkkey "$h" "$cv\\Run"
  c set "$h" "$cv\\Run" SecurityHealth REG_EXPAND_SZ '%windir%\system32\SecurityHealthSystray.exe'
  c set "$h" "$cv" '' REG_SZ 'Default value'
  if [ "$changed" = 1 ]; then
    c set "$h" "$cv" ProgramFilesDir REG_SZ 'D:\Program Files'
  else
    c set "$h" "$cv" ProgramFilesDir REG_SZ 'C:\Program Files'
  fi
  c set "$h" "$cv" ProgramFilesPath REG_EXPAND_SZ '%ProgramFiles%'
  c set "$h" "$cv" DigitalProductId REG_BINARY $(for i in $(seq 0 163); do printf '%02x ' $(( (i * 37 + 11) % 256 )); done)
  c set "$h" "$cv" Version REG_DWORD $([ "$changed" = 1 ] && echo 0x0A01 || echo 0x0A00)
  c set "$h" "$cv" BigEndian REG_DWORD_BIG_ENDIAN 00 00 01 00
  c set "$h" "$cv" SymbolicLinkValue REG_LINK 5c 00 52 00 65 00 67 00
  if [ "$changed" = 1 ]; then
    c set "$h" "$cv" Paths REG_MULTI_SZ 'C:\Windows' 'C:\Tools' 'D:\Bin'
  else
    c set "$h" "$cv" Paths REG_MULTI_SZ 'C:\Windows' 'C:\Tools'
    c set "$h" "$cv" Marker REG_NONE
  fi
  c set "$h" "$cv" ResourceList REG_RESOURCE_LIST 01 00 00 00 02 00 00 00
  c set "$h" "$cv" FullResourceDescriptor REG_FULL_RESOURCE_DESCRIPTOR 02 00 00 00 01 00
  c set "$h" "$cv" RequirementsList REG_RESOURCE_REQUIREMENTS_LIST 48 00 00 00 00 00 00 00
  c set "$h" "$cv" InstallTime REG_QWORD 0x01D9A3B4C5D6E7F8
  c set "$h" "$cv" 'Custom Type' 0x1234 0a 0b 0c 0d 0e 0f
  c set "$h" "$cv" ShortDword REG_DWORD_BIG_ENDIAN 01 02 03
  c set "$h" "$cv" LargeBlob REG_BINARY $(head -c 20000 /dev/zero | tr '\0' 'x' | sed 's/x/5a /g')
  c set "$h" "$cv" 'Zürich' REG_SZ 'Grüezi'
  c set "$h" "$cv" '日本語' REG_SZ 'こんにちは'
  c set "$h" "$cv" LongText REG_SZ "$(printf 'x%.0s' $(seq 250))"
  [ "$changed" = 1 ] && c set "$h" "$cv" AddedOnlyHere REG_DWORD 1
  c mkkey "$h" 'Microsoft\Windows NT\CurrentVersion'
  local nt='Microsoft\Windows NT\CurrentVersion'
  c set "$h" "$nt" ProductName REG_SZ "$([ "$changed" = 1 ] && echo 'Windows 11 Pro' || echo 'Windows 10 Pro')"
  c set "$h" "$nt" CurrentBuild REG_SZ "$([ "$changed" = 1 ] && echo 22631 || echo 19045)"
  c set "$h" "$nt" CurrentMajorVersionNumber REG_DWORD 10
  c mkkey "$h" 'Policies\Microsoft'
  c mkkey "$h" 'Tolvane\Samples'
  for i in $(seq -w 0 59); do
    if [ $((10#$i % 3)) = 0 ]; then
      c set "$h" 'Tolvane\Samples' "Setting$i" REG_SZ "Setting$i"
    else
      c set "$h" 'Tolvane\Samples' "Setting$i" REG_DWORD "$((10#$i))"
    fi
  done
  for i in $(seq -w 0 39); do c mkkey "$h" "Tolvane\\Samples\\Item$i"; done
  [ "$changed" = 1 ] && c mkkey "$h" OnlyInChanged
  "$cli" check "$h" >/dev/null
}

build "$out/SOFTWARE" 0
build "$out/SOFTWARE-changed" 1
