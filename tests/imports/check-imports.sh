#!/bin/bash
# check-imports.sh PACKAGE.msi [PROGRAM.exe...]
# Every program inside the package must load on each Windows the kit is sold
# for, down to Windows XP SP3: it imports only from DLLs a stock PC has
# (stock-dlls.txt), none of the functions XP SP3 lacks (xp-sp3-refused.tsv),
# and its PE header asks for no newer OS or subsystem than 5.1. Windows
# checks the imports before any of the program's code runs ("entry point not
# found"), and Wine exports newer functions whatever version it reports, so
# only the import table tells. Delay-loaded imports count too. Programs named
# after the package (QEBCheck.exe, shipped beside it) are checked the same
# way. One line per failed fact; exit 1 if any.
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
msi="$(realpath -m "$1")"
shift
fail=0
bad() { echo "FAIL: $*"; fail=1; }
[ -f "$msi" ] || { echo "FAIL: $msi not built"; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
(cd "$tmp" && msiextract "$msi" >/dev/null) || { echo "FAIL: msiextract $msi"; exit 1; }

stock="$(grep -v '^#' "$here/stock-dlls.txt" | tr 'A-Z' 'a-z')"
# What the service may load when it starts. user32 (and every DLL that brings
# it along: gdi32, shell32, comctl32 ...) is bound at run time on the paths
# that use it, so a service process never holds it; load-time and
# delay-loaded imports alike.
service_dlls=$'kernel32.dll\nadvapi32.dll\nmsvcrt.dll'
mapfile -t programs < <(find "$tmp" -type f \( -iname '*.exe' -o -iname '*.dll' \) | sort)
[ ${#programs[@]} -gt 0 ] || { echo "FAIL: no program in $msi"; exit 1; }
for extra in "$@"; do
  [ -f "$extra" ] || { bad "$extra not built"; continue; }
  programs+=("$extra")
done
for exe in "${programs[@]}"; do
  name="$(basename "$exe")"
  # Load-time and delay-loaded imports alike (pe_imports.py): Windows
  # resolves a delay-loaded function on its first call, and XP then fails it.
  facts="$(python3 "$here/pe_imports.py" "$exe" 2>&1)" || { bad "$name: $facts"; continue; }
  grep -q '^dll' <<<"$facts" || { bad "$name: no import table found"; continue; }
  nfn=0; ndll=0
  while IFS=$'\t' read -r kind a b c; do
    case "$kind" in
      version)
        major="${b%%.*}" minor="${b#*.}"
        [ $((major * 100 + minor)) -le 501 ] || bad "$name: $a version $b (above 5.1)" ;;
      dll)
        ndll=$((ndll + 1))
        grep -qxi -- "$b" <<<"$stock" || bad "$name: imports $b ($a), which a stock Windows PC lacks"
        [ "$name" != QEBEvent.exe ] || grep -qxi -- "$b" <<<"$service_dlls" \
          || bad "$name: imports $b ($a); the service loads only $(tr '\n' ' ' <<<"$service_dlls")at start" ;;
      fn)
        nfn=$((nfn + 1))
        refused="$(awk -F'\t' -v d="$b" -v f="$c" '!/^#/ && tolower($1) == tolower(d) && $2 == f { print $3; exit }' \
                   "$here/xp-sp3-refused.tsv")"
        [ -z "$refused" ] || bad "$name: imports $b!$c ($a; minimum supported client: $refused)" ;;
    esac
  done <<<"$facts"
  echo "checked: $name, $nfn functions from $ndll DLLs"
done
[ $fail = 0 ] && echo "ok: every program loads on Windows XP SP3 and later"
exit $fail
