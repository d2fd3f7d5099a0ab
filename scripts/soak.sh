#!/bin/bash
# Soak and fault-injection run of the kit on a simulated PC.
#   soak.sh [--minutes N] [--seed S] [--rate EVENTS_PER_S]
#           [--device-loss-every MINUTES] [--inject-leak N] [--library-leak]
#           [--no-setup] [--tag NAME]
# Starts the simulated PC (Xvfb desktop), installs the kit with its package,
# then tests/soak/soak_driver.exe opens Tovrel's dialog (auto update on, the
# stand-in library in strict mode) and drives a seeded random mix of firmware
# events, bursts, custom controls, power losses, disk changes, failed framed
# requests and device losses until the time is up, checking that nothing is
# lost, nothing hangs and nothing grows. The last line is the verdict:
#   soak: PASS minutes=... | soak: FAIL <reason>
# Exit code 0 only on PASS.
#   --device-loss-every MINUTES  more device losses after the one in the
#                    warm-up (default: that one only)
#   --inject-leak N  the driver leaks N handles a second into Tovrel: the run
#                    must end in FAIL (proof that the growth check works)
#   --library-leak   the same through the stand-in library's own switch
#                    (QEBI_STANDIN_LEAK_HANDLES=1: a handle per entry-point call)
#   --no-setup       skip setup, build and prefix template (CTest)
#   --tag NAME       prefix $QEB_BUILD/soak/NAME (default: run)
# Everything the run wrote stays in that prefix folder (soak-output.log,
# soak-actions.log with every action and its time, services.log, journal.txt).
set -uo pipefail
source "$(dirname "$0")/env.sh"
cd "$QEB_ROOT"

minutes=10 seed=1 rate=4 leak=0 library_leak=0 setup=1 tag=run loss_every=0
usage() { sed -n '2,23p' "$0" >&2; exit 2; }
while [ $# -gt 0 ]; do
  case "$1" in
    --minutes) minutes="${2:?}"; shift 2 ;;
    --seed) seed="${2:?}"; shift 2 ;;
    --rate) rate="${2:?}"; shift 2 ;;
    --inject-leak) leak="${2:?}"; shift 2 ;;
    --library-leak) library_leak=1; shift ;;
    --device-loss-every) loss_every="${2:?}"; shift 2 ;;
    --no-setup) setup=0; shift ;;
    --tag) tag="${2:?}"; shift 2 ;;
    *) usage ;;
  esac
done

if [ "$setup" = 1 ]; then
  bash scripts/setup.sh || { echo "soak: FAIL setup failed"; exit 1; }
  bash scripts/build.sh >/dev/null || { echo "soak: FAIL build failed"; exit 1; }
  bash scripts/prefix.sh template >/dev/null || { echo "soak: FAIL no prefix template"; exit 1; }
fi

PREFIX="$QEB_BUILD/soak/$tag"
mkdir -p "$QEB_BUILD/soak"
n=60
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do
  n=$((n + 1))
  [ "$n" -lt 200 ] || { echo "soak: FAIL no free display"; exit 1; }
done

driver_pid=""
cleanup() {
  [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null
  if [ -d "$PREFIX/drive_c" ]; then
    WINEPREFIX="$PREFIX" WINEDEBUG=-all timeout 30 "$WINE" 'C:\qebsim\qebictl.exe' journal \
      >"$PREFIX/journal.txt" 2>/dev/null </dev/null || true
  fi
  bash scripts/sim-session.sh stop "$PREFIX" >/dev/null 2>&1 || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The services' trace: event-log entries, debug notes of the stand-ins, and
# each process the service starts (its helpers), which the driver counts.
export QEB_SERVICES_WINEDEBUG="${QEB_SERVICES_WINEDEBUG:-fixme-all,+eventlog,+debugstr,+process}"
# A machine without the kit: the package installs it.
QEB_SESSION_PRODUCT=0 bash scripts/sim-session.sh start "$PREFIX" --xvfb "$n" \
  || { echo "soak: FAIL the simulated PC did not start"; exit 1; }
export WINEPREFIX="$PREFIX" DISPLAY=":$n" WINEDEBUG=-all
winpath() { echo "Z:$(echo "$1" | sed 's|/|\\|g')"; }
MSI="$(winpath "$QEB_BUILD/bin")\\QEBKit-1.0.0.7-$( [ "$QEB_ARCH" = i686 ] && echo x86 || echo x64 ).msi"
timeout 120 "$WINE" msiexec /i "$MSI" /qn </dev/null >"$PREFIX/msiexec.log" 2>&1
rc=$?
[ "$rc" = 0 ] || { echo "soak: FAIL msiexec /i exited with $rc"; exit 1; }

out="$PREFIX/soak-output.log"
: >"$out"
# The driver's output goes to a file (a pipe would be kept open by the
# prefix's processes); it is shown as it grows, the verdict last.
[ "$library_leak" = 1 ] && export QEBI_STANDIN_LEAK_HANDLES=1
QEBI_STANDIN_STRICT=1 timeout --kill-after=10 "$(awk "BEGIN{print int($minutes*60 + 300)}")" \
  "$WINE" "$QEB_BUILD/bin/soak_driver.exe" --minutes "$minutes" --seed "$seed" --rate "$rate" \
  --services-log "$(winpath "$PREFIX/services.log")" --actions-log "$(winpath "$PREFIX/soak-actions.log")" \
  --inject-leak "$leak" --device-loss-every "$loss_every" </dev/null >"$out" 2>&1 &
driver_pid=$!
tail -n +1 -f --pid="$driver_pid" "$out" | grep --line-buffered -v -E '^soak: (PASS|FAIL)' &
tail_pid=$!
wait "$driver_pid"
rc=$?
driver_pid=""
wait "$tail_pid" 2>/dev/null
verdict="$(tr -d '\r' <"$out" | grep -E '^soak: (PASS|FAIL)' | tail -n 1)"
cleanup
trap - EXIT
[ -n "$verdict" ] || verdict="soak: FAIL the driver ended without a verdict (exit $rc)"
echo "output: $out"
echo "$verdict"
case "$verdict" in "soak: PASS "*) [ "$rc" = 0 ] && exit 0 ;; esac
exit 1
