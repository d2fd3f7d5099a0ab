#!/bin/bash
# Runs one system test binary in a fresh prefix with the simulated platform.
#   run-system-test.sh [--xvfb] TEST.exe [gtest args]
# Prefix: $QEB_BUILD/systest/<exe name>; the session is always stopped, also
# when this script is killed. The test gets QEB_PREFIX_UNIX (the prefix's
# Unix path, for services.log) and DISPLAY with --xvfb. Its output goes to
# PREFIXDIR/test-output.log and is printed afterwards. Exit code: the test's.
# QEB_SYSTEST_TIMEOUT (seconds, default 570) bounds the test run.
set -uo pipefail
SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$SCRIPTS/env.sh"

xvfb=0
if [ "${1:-}" = "--xvfb" ]; then xvfb=1; shift; fi
[ $# -ge 1 ] || { echo "usage: run-system-test.sh [--xvfb] TEST.exe [gtest args]" >&2; exit 2; }
exe="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; shift
[ -f "$exe" ] || { echo "run-system-test: $exe not found" >&2; exit 2; }
name="$(basename "$exe" .exe)"
mkdir -p "$QEB_BUILD/systest"
prefix="$QEB_BUILD/systest/$name"
watchdog_pid_file="$QEB_BUILD/systest/$name.watchdog.pid"

session_args=()
if [ "$xvfb" = 1 ]; then
  n=20
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
    n=$((n + 1))
    [ "$n" -lt 200 ] || { echo "run-system-test: no free display" >&2; exit 1; }
  done
  session_args=(--xvfb "$n")
  export DISPLAY=":$n"
fi

cleanup() {
  if [ -f "$watchdog_pid_file" ]; then
    kill "$(cat "$watchdog_pid_file")" 2>/dev/null || true
    rm -f "$watchdog_pid_file"
  fi
  bash "$SCRIPTS/sim-session.sh" stop "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A watchdog left by a run that was killed outright stops its session and
# exits within about a second: let it finish before this session starts.
if [ -f "$watchdog_pid_file" ]; then
  old_watchdog="$(cat "$watchdog_pid_file" 2>/dev/null)"
  for _ in $(seq 50); do
    [ -n "$old_watchdog" ] && kill -0 "$old_watchdog" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$watchdog_pid_file"
fi

# Should this script be killed outright (a CTest timeout), a detached
# watchdog still ends the session's Wine processes and Xvfb.
( setsid bash -c 'echo $$ > "$1"; while kill -0 "$2" 2>/dev/null; do sleep 1; done
                  bash "$3/sim-session.sh" stop "$4"' _ "$watchdog_pid_file" "$$" "$SCRIPTS" "$prefix" \
    </dev/null >/dev/null 2>&1 & )

bash "$SCRIPTS/sim-session.sh" start "$prefix" "${session_args[@]}" || {
  echo "run-system-test: session start failed" >&2
  [ -f "$prefix/services.log" ] && tail -n 40 "$prefix/services.log" >&2
  exit 1
}

export WINEPREFIX="$prefix" QEB_PREFIX_UNIX="$prefix"
export WINEDEBUG="${WINEDEBUG:--all}"
out="$prefix/test-output.log"
timeout --kill-after=10 "${QEB_SYSTEST_TIMEOUT:-570}" "$WINE" "$exe" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
# A test program that crashed can leave an exit code of 0 behind under Wine:
# a GoogleTest run counts only when it reached its closing summary.
if [ "$rc" = 0 ] && grep -q '^\[==========\] Running' "$out" && ! grep -q '^\[  PASSED  \]' "$out"; then
  echo "---- run-system-test: $name ended without GoogleTest's summary (crash?) ----"
  rc=1
fi
if [ "$rc" != 0 ]; then
  echo "---- run-system-test: $name exited with $rc; tail of services.log ----"
  tail -n 60 "$prefix/services.log"
fi
exit "$rc"
