#!/bin/bash
# Prefix handling.
#   prefix.sh template         build the template prefix once ($QEB_TEMPLATE)
#   prefix.sh copy DIR         fresh copy of the template at DIR
#   prefix.sh stop DIR         end every Wine process of the prefix at DIR
set -euo pipefail
source "$(dirname "$0")/env.sh"

make_template() {
  [ -f "$QEB_TEMPLATE/.qeb-ready" ] && return 0
  rm -rf "$QEB_TEMPLATE"; mkdir -p "$(dirname "$QEB_TEMPLATE")"
  export WINEPREFIX="$QEB_TEMPLATE" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  echo "prefix: creating $WINEARCH template at $QEB_TEMPLATE" >&2
  timeout 600 "$WINE" wineboot -i >/dev/null 2>&1
  reg() { timeout 120 "$WINE" reg add "$@" /f >/dev/null 2>&1; }
  # A crash ends the process with its exception code instead of waiting on the
  # crash dialog.
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /t REG_SZ /d 0
  timeout 60 "$WINE" reg delete 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /f >/dev/null 2>&1 || true
  reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  # No window manager under Xvfb: unmanaged windows do not stall on hide.
  reg 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
  reg 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d Y
  # The test dialog's fixed-pitch font.
  reg 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' /v 'Courier New' /t REG_SZ /d 'Liberation Mono'
  timeout 120 "$WINESERVER" -w || true
  touch "$QEB_TEMPLATE/.qeb-ready"
}

case "${1:-}" in
  template) make_template ;;
  copy) make_template; rm -rf "$2"; cp -a "$QEB_TEMPLATE" "$2" ;;
  stop) WINEPREFIX="$2" "$WINESERVER" -k 2>/dev/null || true
        WINEPREFIX="$2" timeout 30 "$WINESERVER" -w 2>/dev/null || true ;;
  *) echo "usage: prefix.sh template|copy DIR|stop DIR" >&2; exit 2 ;;
esac
