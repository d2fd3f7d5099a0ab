#!/bin/bash
# program-sizes.sh [BINDIR]: the shipped programs' sizes as the package
# carries them (stripped), the size bound of each, and where the bytes go
# (section sizes). BINDIR defaults to the i686 build's bin folder.
set -euo pipefail
source "$(dirname "$0")/../../scripts/env.sh"
bindir="${1:-$QEB_ROOT/build/i686/bin}"
printf '%-13s %9s %9s  %s\n' program bytes bound sections
for entry in QEBEvent.exe:131072 Tovrel.exe:393216; do
  name="${entry%%:*}" bound="${entry##*:}"
  exe="$bindir/$name"
  [ -f "$exe" ] || { echo "$name: not built in $bindir" >&2; exit 1; }
  size="$(stat -c %s "$exe")"
  sections=""
  while read -r _ section hex _; do
    sections+="$section=$((16#$hex)) "
  done < <(i686-w64-mingw32-objdump -h "$exe" | grep -E '^ +[0-9]+ \.')
  verdict=within; [ "$size" -le "$bound" ] || verdict=OVER
  printf '%-13s %9d %9d  %s(%s)\n' "$name" "$size" "$bound" "$sections" "$verdict"
  if [ -f "$exe.debug" ]; then
    printf '%-13s %9d           debug information beside it, not shipped\n' "" "$(stat -c %s "$exe.debug")"
  fi
done
