#!/bin/bash
# build-msi.sh OUT.msi VERSION ARCH BINDIR_RELATIVE WXS
# Builds the package with wixl, then makes the major-upgrade row include its
# maximum version. Windows Installer compares only the first three fields of
# ProductVersion, so without that a 1.0.0.8 package would not find 1.0.0.7 as
# an older version (the same rule as WiX's AllowSameVersionUpgrades, which
# wixl does not implement).
set -euo pipefail
out="$1" version="$2" arch="$3" bindir="$4" wxs="$5"
log="$out.log"
wixl -a "$arch" -D Version="$version" -D Arch="$arch" -D BinDir="$bindir" -o "$out" "$wxs" >"$log" 2>&1 \
  || { cat "$log" >&2; exit 1; }
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
msiinfo export "$out" Upgrade >"$tmp/Upgrade.idt"
# Attributes 513 = msidbUpgradeAttributesMigrateFeatures | VersionMaxInclusive.
sed -i 's/\t1\t\tWIX_UPGRADE_DETECTED/\t513\t\tWIX_UPGRADE_DETECTED/' "$tmp/Upgrade.idt"
grep -q $'\t513\t\tWIX_UPGRADE_DETECTED' "$tmp/Upgrade.idt" || { echo "build-msi: upgrade row not found" >&2; exit 1; }
(cd "$tmp" && msibuild "$out" -i Upgrade.idt)

# Custom actions that run a program of Windows by full path: wixl takes no
# Directory attribute on a custom action, so QEBKit.wxs writes them with
# Property="SystemFolder", an executable named by a property (type 50). Here
# each such row becomes an executable in a directory (34: the target holds
# the program's full path and its arguments, the source is the working
# folder), keeping its flags.
# The service's rollback stop: wixl drops Execute="rollback" and writes the
# action as an immediate one (2146), which would stop the service during the
# install. 3426 = 2146 + 1024 (in the script) + 256 (rollback only).
msiinfo export "$out" CustomAction >"$tmp/CustomAction.idt"
awk -F'\t' 'BEGIN { OFS = "\t" }
  NR > 3 && $3 == "SystemFolder" && $2 % 64 == 50 { $2 -= 16 }
  NR > 3 && $1 == "StopServiceOnRollback" && $2 == 2146 { $2 = 3426 }
  { print }' "$tmp/CustomAction.idt" >"$tmp/CustomAction.new"
mv "$tmp/CustomAction.new" "$tmp/CustomAction.idt"
if grep -P '^[^\t]*\t[0-9]+\tSystemFolder\t' "$tmp/CustomAction.idt" | awk -F'\t' '$2 % 64 != 34' | grep -q .; then
  echo "build-msi: a system-folder action is not type 34" >&2; exit 1; fi
grep -q $'^StopServiceOnRollback\t3426\t' "$tmp/CustomAction.idt" \
  || { echo "build-msi: rollback action StopServiceOnRollback not found" >&2; exit 1; }
(cd "$tmp" && msibuild "$out" -i CustomAction.idt)

# Windows XP SP3 or later for a new install: the oldest Windows the kit is
# supported and tested on (the programs import nothing that SP3 added). A
# launch condition is checked on repair and removal too: "Installed OR" lets
# a PC whose service pack was taken away still repair or remove the kit.
# (wixl takes no Condition element under Product, so the row is added here.)
msiinfo export "$out" LaunchCondition >"$tmp/LaunchCondition.idt"
printf '%s\t%s\r\n' 'Installed OR VersionNT > 501 OR (VersionNT = 501 AND ServicePackLevel >= 3)' \
  'The QEB Firmware Feature Kit requires Windows XP Service Pack 3 or later.' >>"$tmp/LaunchCondition.idt"
(cd "$tmp" && msibuild "$out" -i LaunchCondition.idt)
