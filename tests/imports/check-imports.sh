#!/bin/bash
# check-imports.sh PACKAGE.msi
# Every program inside the package must load on each Windows the kit is sold
# for, down to Windows XP SP3: it imports only from DLLs a stock PC has
# (stock-dlls.txt), none of the functions XP SP3 lacks (xp-sp3-refused.tsv),
# and its PE header asks for no newer OS or subsystem than 5.1. Windows
# checks the imports before any of the program's code runs ("entry point not
# found"), and Wine exports newer functions whatever version it reports, so
# only the import table tells. One line per failed fact; exit 1 if any.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
msi="$(realpath -m "$1")"
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ -f "$msi" ] || { echo "FAIL: $msi not built"; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && msiextract "$msi" >/dev/null) || { echo "FAIL: msiextract $msi"; exit 1; }

stock="$(grep -v '^#' "$here/stock-dlls.txt" | tr 'A-Z' 'a-z')"
mapfile -t programs < <(find "$tmp" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
[ ${#programs[@]} -gt 0 ] || { echo "FAIL: no program in $msi"; exit 1; }
for exe in "${programs[@]}"; do
  name="$(basename "$exe")"
  headers="$(i686-w64-mingw32-objdump -p "$exe" 2>&1)" || { bad "$name: objdump: $headers"; continue; }
  for field in MajorOSystemVersion MajorSubsystemVersion; do
    minor="${field/Major/Minor}"
    major_v="$(awk -v f="$field" '$1 == f { print $2 }' <<<"$headers")"
    minor_v="$(awk -v f="$minor" '$1 == f { print $2 }' <<<"$headers")"
    [ -n "$major_v" ] && [ -n "$minor_v" ] || { bad "$name: no $field in the PE header"; continue; }
    [ $((major_v * 100 + minor_v)) -le 501 ] || bad "$name: ${field/Major/} version $major_v.$minor_v (above 5.1)"
  done
  # "DLL Name: X" opens a DLL's block; each imported function follows on a
  # line "\t<vma>\t<hint>  <name>"; the next table's heading ends the blocks.
  imports="$(awk '
    /^The |^PE File/ { dll = "" }
    /^\tDLL Name: / { dll = $3; print "dll\t" dll; next }
    dll != "" && /^\t[0-9a-f]+\t/ { print "fn\t" dll "\t" $NF }' <<<"$headers")"
  [ -n "$imports" ] || { bad "$name: no import table found"; continue; }
  while IFS=$'\t' read -r kind dll fn; do
    if [ "$kind" = dll ]; then
      grep -qxi -- "$dll" <<<"$stock" || bad "$name: imports $dll, which a stock Windows PC lacks"
    else
      refused="$(awk -F'\t' -v d="$dll" -v f="$fn" '!/^#/ && tolower($1) == tolower(d) && $2 == f { print $3; exit }' \
                 "$here/xp-sp3-refused.tsv")"
      [ -z "$refused" ] || bad "$name: imports $dll!$fn (minimum supported client: $refused)"
    fi
  done <<<"$imports"
  echo "checked: $name, $(grep -c '^fn' <<<"$imports") functions from $(grep -c '^dll' <<<"$imports") DLLs"
done
[ $fail = 0 ] && echo "ok: every program loads on Windows XP SP3 and later"
exit $fail
