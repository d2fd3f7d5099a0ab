#!/bin/bash
# CMAKE_CROSSCOMPILING_EMULATOR: runs one test binary under Wine in the unit
# test prefix (a copy of the template made on first use), with a persistent
# wineserver so later runs start in about 0.1 s. scripts/test.sh ends it.
source "$(dirname "$0")/../scripts/env.sh"
export WINEPREFIX="${QEB_UNIT_PREFIX:-$QEB_BUILD/prefix-unit}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
(
  flock 9
  if [ ! -f "$WINEPREFIX/.qeb-ready" ]; then
    bash "$QEB_ROOT/scripts/prefix.sh" copy "$WINEPREFIX" >&2
  fi
  "$WINESERVER" -p 9>&- 2>/dev/null || true
  # Start the prefix's system processes (services, device host) with no
  # inherited output: started from a test they would hold CTest's pipe open.
  timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX.lock"
exec "$WINE" "$@"
