#!/bin/bash
# Screenshots of the Tovrel dialog's panels on the simulated platform.
#   screenshots.sh OUTDIR [DISPLAYNUM]
# Writes OUTDIR/panels-representative.png (every panel filled),
# OUTDIR/panels-failed-absent.png (failed reads and absent features) and
# OUTDIR/panels-thermal.png (the thermal table of status 1 with the second
# set of readings, in the fixed-pitch font). Needs $QEB_BUILD/bin with
# Tovrel.exe, QEBI.dll, qebisim.sys and qebictl.exe; ImageMagick's import.
set -uo pipefail
SCRIPTS="$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)"
source "$SCRIPTS/env.sh"

out="${1:?usage: screenshots.sh OUTDIR [DISPLAYNUM]}"
display="${2:-15}"
mkdir -p "$out"
out="$(cd "$out" && pwd)"
prefix="$QEB_BUILD/shots-prefix"

cleanup() { bash "$SCRIPTS/sim-session.sh" stop "$prefix"; }
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$SCRIPTS/sim-session.sh" start "$prefix" --xvfb "$display" || exit 1
export WINEPREFIX="$prefix" DISPLAY=":$display" WINEDEBUG=-all

ctl() { timeout 30 "$WINE" 'C:\qebsim\qebictl.exe' "$@" </dev/null >/dev/null 2>&1 || echo "qebictl $* failed" >&2; }

feature_state() {
  local name
  for name in wifi bt mic vol ambient power thermal cad battery usb fsc health; do
    ctl feature "$name" "$1"; shift
  done
}

# Starts Tovrel, waits for its dialog, takes the screenshot, ends Tovrel.
shoot() {
  local file="$1"
  timeout 60 "$WINE" 'C:\Program Files\Kestil\QEB\Tovrel.exe' </dev/null >/dev/null 2>&1 &
  local pid=$!
  local i
  for i in $(seq 100); do
    xdotool search --name 'Kestil Desktop BIOS Test Application' >/dev/null 2>&1 && break
    sleep 0.1
  done
  sleep 1.5
  import -window root -display ":$display" "$out/$file"
  # Only the dialog: the rest of the screen is the empty black root window.
  convert "$out/$file" -trim +repage "$out/$file" 2>/dev/null || true
  local win
  win="$(xdotool search --name 'Kestil Desktop BIOS Test Application' 2>/dev/null | head -n1)"
  [ -n "$win" ] && xdotool windowclose "$win" 2>/dev/null
  for i in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# Representative state: the first worked thermal example.
ctl readings 0x002D 0x0534 0x0028 0x0223 0x0026 0x0000 1200 900 0 0
# Power meter: Desktop, 12.5 (whole part in bits 2-15, fraction in 16-30).
feature_state 3 1 3 1 0x15 $(( 1 | (12 << 2) | (5 << 16) )) 6 3 7 0x0F 3 3
shoot panels-representative.png

# Failed reads and absent features.
feature_state -1 2 0 -1 0x14 3 -1 1 0 0x0E -1 7
shoot panels-failed-absent.png

# The second thermal example: wider columns.
ctl readings 0x002D 0x1964 0x0028 0x0223 0x0026 0x003D 1200 65535 0 3000
feature_state 3 3 1 1 0x2A $(( 1 | (7 << 2) | (25 << 16) )) 1 2 2 5 1 1
shoot panels-thermal.png
ls -l "$out"/panels-*.png
