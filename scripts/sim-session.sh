#!/bin/bash
# A prefix with the simulated platform running, the programs installed.
#   sim-session.sh start PREFIXDIR [--xvfb DISPLAYNUM]
#       fresh copy of the template prefix at PREFIXDIR, persistent wineserver,
#       optional Xvfb on :DISPLAYNUM (pid in PREFIXDIR/.xvfb.pid), the
#       services' Wine debug output in PREFIXDIR/services.log, the driver
#       qebisim started (\\.\QEBI and \\.\QEBISimCtl open), the programs of
#       $QEB_BUILD/bin installed under C:\Program Files\Kestil\QEB and the tools
#       under C:\qebsim. Prints nothing but errors. QEB_SESSION_PRODUCT=0:
#       without QEBEvent.exe and Tovrel.exe; QEB_SESSION_DRIVER=0: qebisim
#       registered but not started.
#   sim-session.sh stop PREFIXDIR
#       ends every Wine process of that prefix and its Xvfb; safe to repeat.
set -uo pipefail
SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$SCRIPTS/env.sh"

die() { echo "sim-session: $*" >&2; exit 1; }

PRODUCT_FILES=(QEBEvent.exe Tovrel.exe QEBI.dll sas.dll PowrProf.dll)
TOOL_FILES=(qebictl.exe)
OPTIONAL_TOOL_FILES=(keywatch.exe)

stop_session() {
  local prefix="$1"
  [ -d "$prefix" ] || return 0
  WINEPREFIX="$prefix" "$WINESERVER" -k >/dev/null 2>&1 || true
  WINEPREFIX="$prefix" timeout 30 "$WINESERVER" -w >/dev/null 2>&1 || true
  if [ -f "$prefix/.xvfb.pid" ]; then
    local pid; pid="$(cat "$prefix/.xvfb.pid" 2>/dev/null)"
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
      kill "$pid" 2>/dev/null || true
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$prefix/.xvfb.pid"
  fi
  return 0
}

start_session() {
  local prefix="$1"; shift
  local display=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --xvfb) [ $# -ge 2 ] || die "--xvfb needs a display number"; display="$2"; shift 2 ;;
      *) die "unknown option '$1'" ;;
    esac
  done
  [ -f "$QEB_BUILD/bin/qebisim.sys" ] || die "$QEB_BUILD/bin/qebisim.sys not built"
  [ -f "$QEB_BUILD/bin/qebictl.exe" ] || die "$QEB_BUILD/bin/qebictl.exe not built"
  mkdir -p "$(dirname "$prefix")" || die "cannot create $(dirname "$prefix")"
  prefix="$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")"

  stop_session "$prefix"
  bash "$SCRIPTS/prefix.sh" copy "$prefix" >/dev/null || die "cannot copy the template prefix to $prefix"
  export WINEPREFIX="$prefix"
  "$WINESERVER" -p >/dev/null 2>&1 || die "wineserver -p failed"

  if [ -n "$display" ]; then
    Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp </dev/null >"$prefix/xvfb.log" 2>&1 &
    echo $! > "$prefix/.xvfb.pid"
    local up=0
    for _ in $(seq 100); do
      [ -S "/tmp/.X11-unix/X$display" ] && { up=1; break; }
      kill -0 "$(cat "$prefix/.xvfb.pid")" 2>/dev/null || break
      sleep 0.1
    done
    [ "$up" = 1 ] || die "Xvfb :$display did not start (see $prefix/xvfb.log)"
    export DISPLAY=":$display"
  fi

  # Every Wine command of the start-up runs with the services' debug
  # channels and appends to services.log: whichever one starts services.exe
  # decides what the services print, and they keep the file open.
  local log="$prefix/services.log"
  : > "$log"
  # QEB_SERVICES_WINEDEBUG replaces the channel list (a test that needs more).
  run() { WINEDEBUG="${QEB_SERVICES_WINEDEBUG:-fixme-all,+eventlog,+debugstr}" timeout 120 "$WINE" "$@" </dev/null >>"$log" 2>&1; }

  # sas and powrprof: the application-local stand-ins first. A service does
  # not see WINEDLLOVERRIDES, so the overrides live in the registry.
  local c="$prefix/drive_c"
  mkdir -p "$c/qebsim" || die "cannot create C:\\qebsim"
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\r\n"sas"="native,builtin"\r\n"powrprof"="native,builtin"\r\n' \
    > "$c/qebsim/dll-overrides.reg" || die "cannot write the DLL overrides"
  run reg import 'C:\qebsim\dll-overrides.reg' || die "cannot set the DLL overrides (see $log)"

  cp "$QEB_BUILD/bin/qebisim.sys" "$c/windows/system32/drivers/qebisim.sys" || die "cannot copy qebisim.sys"
  run sc create qebisim type= kernel start= demand binPath= 'C:\windows\system32\drivers\qebisim.sys' \
    || die "sc create qebisim failed (see $log)"
  # QEB_SESSION_DRIVER=0: a PC whose platform driver is installed but not
  # running (\\.\QEBI absent until a test starts qebisim).
  if [ "${QEB_SESSION_DRIVER:-1}" != 0 ]; then
    run sc start qebisim || die "sc start qebisim failed (see $log)"
  fi

  local dest="$c/Program Files/Kestil/QEB"
  mkdir -p "$dest" "$c/qebsim" || die "cannot create the install folders"
  local f
  # QEB_SESSION_PRODUCT=0: a machine without the kit (the installer test
  # installs it with its package); the stand-ins are installed all the same.
  for f in "${PRODUCT_FILES[@]}"; do
    if [ "${QEB_SESSION_PRODUCT:-1}" = 0 ] && { [ "$f" = QEBEvent.exe ] || [ "$f" = Tovrel.exe ]; }; then continue; fi
    if [ -f "$QEB_BUILD/bin/$f" ]; then cp "$QEB_BUILD/bin/$f" "$dest/" || die "cannot install $f"; fi
  done
  for f in "${OPTIONAL_TOOL_FILES[@]}"; do
    if [ -f "$QEB_BUILD/bin/$f" ]; then cp "$QEB_BUILD/bin/$f" "$c/qebsim/" || die "cannot install $f"; fi
  done
  for f in "${TOOL_FILES[@]}"; do
    cp "$QEB_BUILD/bin/$f" "$c/qebsim/" || die "cannot install $f"
  done

  [ "${QEB_SESSION_DRIVER:-1}" != 0 ] || return 0
  local ok=0
  for _ in $(seq 100); do
    if WINEDEBUG=-all timeout 30 "$WINE" 'C:\qebsim\qebictl.exe' state </dev/null >/dev/null 2>&1; then ok=1; break; fi
    sleep 0.1
  done
  [ "$ok" = 1 ] || die "\\\\.\\QEBISimCtl does not open (see $log)"
  return 0
}

case "${1:-}" in
  start) [ $# -ge 2 ] || die "usage: sim-session.sh start PREFIXDIR [--xvfb DISPLAYNUM]"
         p="$2"; shift 2; start_session "$p" "$@" ;;
  stop)  [ $# -eq 2 ] || die "usage: sim-session.sh stop PREFIXDIR"
         stop_session "$2" ;;
  *) echo "usage: sim-session.sh start PREFIXDIR [--xvfb DISPLAYNUM] | stop PREFIXDIR" >&2; exit 2 ;;
esac
