#!/bin/bash
# Checks the installer package's tables with msiinfo: the service, its
# control entries, the recovery settings, the event source and the upgrade
# rules. One line per failed fact; exit 1 if any.
set -uo pipefail
msi="$1"
fail=0
table() { msiinfo export "$msi" "$1" | tr -d '\r' | tail -n +4; }
expect() {  # expect TABLE 'tab-separated row' description
  if table "$1" | grep -qxF -- "$2"; then echo "ok: $3"; else
    echo "FAIL: $3: table $1 has no row"; printf '  wanted: %s\n' "$2"
    table "$1" | sed 's/^/  got:    /'; fail=1; fi
}
T=$'\t'
[ -f "$msi" ] || { echo "FAIL: $msi not built"; exit 1; }

# ServiceInstall: own process (16), automatic (2), normal error control (1), LocalSystem.
expect ServiceInstall "QEBEventService${T}QEBEvent${T}QEBI Event Service${T}16${T}2${T}1${T}${T}${T}LocalSystem${T}${T}${T}ServiceProgram${T}Turns the PC's firmware events into actions: hibernation after a power loss, Ctrl+Alt+Del, volume keys and health entries in the event log." \
  "service QEBEvent: own process, auto start, normal errors, LocalSystem, description"
# ServiceControl events 0xA2 = stop on install (2) + stop on uninstall (32) + delete on uninstall (128); wait.
# No start event: a start that fails would fail the install.
expect ServiceControl "QEBEventServiceControl${T}QEBEvent${T}162${T}${T}1${T}ServiceProgram" \
  "service stopped on install and uninstall, removed on uninstall, not started by the table"
# Every custom action runs its program by full path from the system folder:
# an executable in a directory (type 34), never a bare name searched for.
# Started by sc.exe, its result ignored (3170 = 34 + 64 + 1024 + 2048), after
# the service's security is set, not on removal.
expect CustomAction "StartServiceIgnoringResult${T}3170${T}SystemFolder${T}\"[SystemFolder]sc.exe\" start QEBEvent${T}" \
  "service started by a deferred, non-impersonated custom action whose result is ignored"
if table InstallExecuteSequence | grep -q "^StartServiceIgnoringResult${T}NOT REMOVE${T}5870$"; then
  echo "ok: service start scheduled on install only, after its security"; else
  echo "FAIL: service start not scheduled"; table InstallExecuteSequence | sed 's/^/  got:    /'; fail=1; fi
# Rolled back: the service is stopped (net stop waits for it) before the
# install's files and registration are taken back. 3426 = 34 + 64 + 256 +
# 1024 + 2048: executable in a directory, result ignored, rollback, in the
# script, no impersonation; scheduled before the start with its condition.
expect CustomAction "StopServiceOnRollback${T}3426${T}SystemFolder${T}\"[SystemFolder]net.exe\" stop QEBEvent${T}" \
  "service stopped by a rollback custom action"
if table InstallExecuteSequence | grep -q "^StopServiceOnRollback${T}NOT REMOVE${T}586[1-9]$"; then
  echo "ok: rollback stop scheduled after the security and before the start, on install only"; else
  echo "FAIL: rollback stop not scheduled before the start"; table InstallExecuteSequence | sed 's/^/  got:    /'; fail=1; fi
bare="$(table CustomAction | awk -F'\t' '$2 % 64 != 34 || $3 != "SystemFolder" || $4 !~ /^"\[SystemFolder\][a-z]+\.exe" /')"
if [ -z "$bare" ]; then echo "ok: every custom action runs its program by full path"; else
  echo "FAIL: custom actions that run a program found through the search path:"; sed 's/^/  got:    /' <<<"$bare"; fail=1; fi
if table Directory | grep -q "^SystemFolder${T}TARGETDIR${T}"; then echo "ok: the system folder is known to the package"; else
  echo "FAIL: no SystemFolder in the Directory table"; fail=1; fi
# Refused below Windows XP SP3 for a new install, the supported and tested
# baseline; never for a repair or removal ("Installed"), so a PC whose
# service pack was taken away can still remove the kit.
expect LaunchCondition "Installed OR VersionNT > 501 OR (VersionNT = 501 AND ServicePackLevel >= 3)${T}The QEB Firmware Feature Kit requires Windows XP Service Pack 3 or later." \
  "launch condition: Windows XP SP3 or later, for a new install only"
# Recovery: restart after 5 s, again after a minute, then no action; reset
# after ten minutes; run after InstallServices, not on removal.
expect CustomAction "SetServiceFailureActions${T}3170${T}SystemFolder${T}\"[SystemFolder]sc.exe\" failure QEBEvent reset= 600 actions= restart/5000/restart/60000/\"\"/0${T}" \
  "failure actions set by a deferred, non-impersonated custom action"
if table InstallExecuteSequence | grep -q "^SetServiceFailureActions${T}NOT REMOVE${T}"; then
  echo "ok: failure actions scheduled on install only"; else echo "FAIL: failure actions not scheduled"; fail=1; fi
# Service security: controls 128 to 133 (user-defined control, CR) only for
# SYSTEM and Administrators; interactive and service users keep query and
# interrogate rights. Deferred, not impersonated, failing the install on error
# (3106 = 34 + 1024 + 2048: executable in a directory, deferred, no
# impersonation; without the 64 of the recovery action, which ignores its
# exit code).
expect CustomAction "SetServiceSecurity${T}3106${T}SystemFolder${T}\"[SystemFolder]sc.exe\" sdset QEBEvent D:(A;;CCLCSWRPWPDTLOCRRC;;;SY)(A;;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;BA)(A;;CCLCSWLORC;;;IU)(A;;CCLCSWLORC;;;SU)S:(AU;FA;CCDCLCSWRPWPDTLOCRSDRCWDWO;;;WD)${T}" \
  "service security set by a deferred, non-impersonated custom action that fails the install on error"
if table InstallExecuteSequence | grep -q "^SetServiceSecurity${T}NOT REMOVE${T}5860$"; then
  echo "ok: service security scheduled on install only, after the services are installed"; else
  echo "FAIL: service security not scheduled"; table InstallExecuteSequence | sed 's/^/  got:    /'; fail=1; fi
# Event source.
if table Registry | grep -q "${T}2${T}SYSTEM\\\\CurrentControlSet\\\\Services\\\\EventLog\\\\Application\\\\QEBI${T}EventMessageFile${T}\[INSTALLDIR\]QEBEvent.exe${T}"; then
  echo "ok: event source QEBI with its message file"; else echo "FAIL: event source message file"; table Registry | sed 's/^/  got:    /'; fail=1; fi
if table Registry | grep -q "${T}TypesSupported${T}#7${T}"; then
  echo "ok: event source types supported"; else echo "FAIL: TypesSupported"; fail=1; fi
# Both programs in one folder.
for f in QEBEvent.exe Tovrel.exe; do
  if table File | grep -q "${T}${f}${T}"; then echo "ok: file $f"; else echo "FAIL: file $f missing"; fail=1; fi
done
if [ "$(table File | wc -l)" = 2 ]; then echo "ok: nothing else packaged"; else
  echo "FAIL: package holds more than the two programs"; table File | sed 's/^/  got:    /'; fail=1; fi
# Major upgrade with the fixed upgrade code.
if table Upgrade | grep -q "^{6A1C3E55-8D2B-4F7A-9C41-2B7E5D9F0A17}${T}${T}1.0.0.7${T}${T}513${T}"; then
  echo "ok: older versions are upgraded in place"; else echo "FAIL: upgrade row"; table Upgrade | sed 's/^/  got:    /'; fail=1; fi
if msiinfo export "$msi" Property | tr -d '\r' | grep -qx "ProductVersion${T}1.0.0.7"; then
  echo "ok: product version 1.0.0.7"; else echo "FAIL: product version"; fail=1; fi
# Windows Installer 3.1 (XP SP3): schema at most 301, no table of 4.5 or 5.0.
schema="$(msiinfo suminfo "$msi" | awk -F': *' '/^Version/ { print $2 + 0 }')"
if [ -n "$schema" ] && [ "$schema" -le 301 ]; then echo "ok: schema $schema (Windows Installer 3.1)"; else
  echo "FAIL: schema '$schema' needs more than Windows Installer 3.1"; fail=1; fi
newer="$(msiinfo tables "$msi" | tr -d '\r' | grep -xE 'MsiLockPermissionsEx|MsiServiceConfig|MsiServiceConfigFailureActions|MsiPackageCertificate|MsiPatchCertificate|MsiShortcutProperty|MsiEmbeddedUI|MsiEmbeddedChainer' | tr '\n' ' ')"
if [ -z "$newer" ]; then echo "ok: no table of Windows Installer 4.5 or 5.0"; else
  echo "FAIL: tables that need a newer Windows Installer: $newer"; fail=1; fi
[ "$fail" = 0 ] && echo "all package checks passed"
exit "$fail"
