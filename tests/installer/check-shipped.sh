#!/bin/bash
# check-shipped.sh PACKAGE.msi BINDIR
# The programs as the 32-bit package carries them: PE32 for i386, Windows GUI
# subsystem, version 1.0.0.7, no symbols and no debug sections, QEBEvent.exe
# with its event-log message table (event 1010). Their debug information
# stays in BINDIR beside the built programs. One line per failed fact; exit 1
# if any.
set -uo pipefail
msi="$1" bindir="$2"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ -f "$msi" ] || { echo "FAIL: $msi not built"; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && msiextract "$msi" >/dev/null) || { echo "FAIL: msiextract $msi"; exit 1; }

for name in QEBEvent.exe Tovrel.exe; do
  exe="$(find "$tmp" -name "$name" -type f | head -1)"
  [ -n "$exe" ] || { bad "$name: not in the package"; continue; }
  headers="$(i686-w64-mingw32-objdump -x "$exe")"
  grep -q 'file format pei-i386' <<<"$headers" || bad "$name: not a PE for i386: $(grep -m1 'file format' <<<"$headers")"
  grep -qP '^Magic\s+010b\s+\(PE32\)' <<<"$headers" || bad "$name: not PE32: $(grep -m1 '^Magic' <<<"$headers")"
  grep -qP '^Subsystem\s+00000002\s+\(Windows GUI\)' <<<"$headers" || bad "$name: $(grep -m1 '^Subsystem' <<<"$headers")"
  sections="$(grep -oP '^\s+\d+ \K\.debug\S*' <<<"$headers" | tr '\n' ' ')"
  [ -z "$sections" ] || bad "$name: debug sections in the package: $sections"
  grep -q 'symbols stripped' <<<"$headers" || bad "$name: carries its symbol table (COFF characteristics: $(grep -m1 '^Characteristics' <<<"$headers"))"
  resources="$(i686-w64-mingw32-windres -i "$exe" -O rc 2>&1)"
  grep -q '^ FILEVERSION 1, 0, 0, 7$' <<<"$resources" || bad "$name: file version: $(grep -m1 'FILEVERSION' <<<"$resources")"
  grep -q 'VALUE "FileVersion", "1.0.0.7"' <<<"$resources" || bad "$name: FileVersion string: $(grep -m1 '"FileVersion"' <<<"$resources")"
  if [ "$name" = QEBEvent.exe ]; then
    grep -q 'RT_MESSAGETABLE' <<<"$resources" || bad "$name: no message table"
    grep -q 'MessageId = 0x3f2' <<<"$resources" || bad "$name: message table has no event 1010 (0x3f2)"
  fi
  [ -s "$bindir/$name.debug" ] && i686-w64-mingw32-objdump -h "$bindir/$name.debug" | grep -q '\.debug_info' \
    || bad "$name: no debug information in $bindir/$name.debug"
  echo "checked: $name $(stat -c %s "$exe") bytes"
done
[ $fail = 0 ] && echo "ok: shipped programs"
exit $fail
