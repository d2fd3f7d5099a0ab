#!/bin/bash
# The demo: builds the kit, starts a simulated PC under Wine (firmware driver,
# Xvfb desktop), installs the kit with its installer package, raises firmware
# events and shows what the service and the test application did. Everything
# it shows is also written to out/demo/ (transcript, screenshots, logs).
set -euo pipefail
bash "$(dirname "$0")/setup.sh"
source "$(dirname "$0")/env.sh"
cd "$QEB_ROOT"

bash scripts/build.sh >/dev/null
bash scripts/prefix.sh template

OUT="$QEB_ROOT/out/demo"
rm -rf "$OUT"; mkdir -p "$OUT"
exec > >(tee "$OUT/transcript.txt") 2>&1

PREFIX="$QEB_BUILD/demo-prefix"
n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
stop() { bash scripts/sim-session.sh stop "$PREFIX" >/dev/null 2>&1 || true; }
trap stop EXIT

step() { printf '\n=== %s\n' "$*"; }
bash scripts/sim-session.sh start "$PREFIX" --xvfb "$n"
export WINEPREFIX="$PREFIX" DISPLAY=":$n" WINEDEBUG=-all
BIN="Z:$(echo "$QEB_BUILD/bin" | sed 's|/|\\|g')"
MSI="$BIN\\QEBKit-1.0.0.7-$( [ "$QEB_ARCH" = i686 ] && echo x86 || echo x64 ).msi"
w() { timeout 120 "$WINE" "$@" </dev/null; }
ctl() { w 'C:\qebsim\qebictl.exe' "$@"; }
shot() { import -window root -display ":$n" "$OUT/$1" && echo "screenshot: out/demo/$1"; }
# Lines the services' Wine traces gained since the mark.
log_mark() { wc -l <"$PREFIX/services.log"; }
log_since() { tail -n +"$(( $1 + 1 ))" "$PREFIX/services.log" | grep -a -E "$2" || true; }
journal_since() { ctl journal --from "$1" | grep -v '^journal:' || true; }
next_seq() { ctl state | sed -n 's/^journal_next_seq[ :=]*\([0-9]*\).*/\1/p'; }

step "Installing the kit quietly: msiexec /i QEBKit-1.0.0.7 /qn"
w msiexec /i "$MSI" /qn
echo "msiexec exit code: $?"
sleep 1
ctl service-status QEBEvent

step "Firmware state: health 0x00400001 (Desktop, error code 4), a disk at 40 degrees"
ctl health 0x00400001
ctl disk 0 present --temp 40
ctl state

step "Microphone mute (0x1001): the service receives it and does nothing"
seq=$(next_seq); ctl raise 0x1001; sleep 0.5
journal_since "$seq"

step "PC health green to red (0x1042) and back (0x1043): event-log entries"
mark=$(log_mark); ctl raise 0x1042; ctl raise 0x1043; sleep 1
log_since "$mark" "ReportEventW"

step "Thermal alert (0x1005): detailed entry, HDD from the disk's SMART data"
mark=$(log_mark); seq=$(next_seq); ctl raise 0x1005; sleep 1.5
journal_since "$seq" | grep -E "FRAME|DISK" | head -8
log_since "$mark" "ReportEventW"

step "Volume up (0x1003): the helper presses the key on the user's desktop"
w 'C:\qebsim\keywatch.exe' 'C:\keys.txt' &
sleep 1.5
ctl raise 0x1003; sleep 2
cat "$PREFIX/drive_c/keys.txt"

step "Ctrl+Alt+Del button (0x1031): policy value and the secure attention sequence"
seq=$(next_seq); ctl raise 0x1031; sleep 1.5
w reg query 'HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Policies\System' /v SoftwareSASGeneration | tr -d '\r' | grep -a SoftwareSAS || true
journal_since "$seq" | grep -a -i note || true

step "Power loss (0x1041): countdown on the desktop, hibernation, resume notice"
seq=$(next_seq); ctl raise 0x1041; sleep 2.5
shot countdown.png
sleep 6
journal_since "$seq" | grep -a -i -E "note|SetSuspendState" || true
shot resume-notice.png
# Answered as the user would: the next screenshots show Tovrel alone.
ctl press-ok "There has been a power loss event" >/dev/null
sleep 0.5

step "Tovrel from the command line (the radio hot key)"
for sw in /getallstat /wloff /getallstat /wlon /bton /getallstat; do
  printf '  Tovrel %-12s ' "$sw"
  ctl run 'C:\Program Files\Kestil\QEB\Tovrel.exe' "$sw"
done

step "Tovrel's test dialog with firmware events arriving in its log"
w 'C:\Program Files\Kestil\QEB\Tovrel.exe' &
sleep 3
for code in 0x1003 0x1004 0x1010 0x1005 0x1043; do ctl raise "$code"; sleep 0.3; done
sleep 1
shot tovrel-dialog.png

step "QEBCheck /auto: the qualification a maker's engineer runs on a PC with the kit (its guided checks: ctest -R qebcheck)"
qebcheck_rc=0
w "$BIN\\QEBCheck.exe" /auto /report 'C:\QEBCheck-demo.txt' | tr -d '\r' || qebcheck_rc=$?
echo "QEBCheck exit code: $qebcheck_rc"
cp "$PREFIX/drive_c/QEBCheck-demo.txt" "$OUT/QEBCheck-report.txt"

step "Uninstalling: msiexec /x /qn"
w msiexec /x "$MSI" /qn
echo "msiexec exit code: $?"
ctl service-status QEBEvent || echo "(service QEBEvent is gone)"

cp "$PREFIX/services.log" "$OUT/services.log"
ctl journal > "$OUT/journal.txt" || true
step "Done. Output: $OUT (transcript.txt, journal.txt, services.log, QEBCheck-report.txt, *.png). QEBCheck's summary:"
tail -n 1 "$OUT/QEBCheck-report.txt" | tr -d '\r\n'
echo
