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

# The service's rollback stop: wixl drops Execute="rollback" and writes the
# action as an immediate one (2162), which would stop the service during the
# install. 3442 = 2162 + 1024 (in the script) + 256 (rollback only).
msiinfo export "$out" CustomAction >"$tmp/CustomAction.idt"
sed -i 's/^StopServiceOnRollback\t2162\t/StopServiceOnRollback\t3442\t/' "$tmp/CustomAction.idt"
grep -q $'^StopServiceOnRollback\t3442\t' "$tmp/CustomAction.idt" \
  || { echo "build-msi: rollback action StopServiceOnRollback not found" >&2; exit 1; }
(cd "$tmp" && msibuild "$out" -i CustomAction.idt)

# Refused below Windows XP SP3: QEBEvent.exe imports functions that XP has
# from SP3 on, so on Windows 2000 or an older XP the service could not even
# load. (wixl takes no Condition element under Product, so the row is added
# here.)
msiinfo export "$out" LaunchCondition >"$tmp/LaunchCondition.idt"
printf '%s\t%s\r\n' 'VersionNT > 501 OR (VersionNT = 501 AND ServicePackLevel >= 3)' \
  'The QEB Firmware Feature Kit requires Windows XP Service Pack 3 or later.' >>"$tmp/LaunchCondition.idt"
(cd "$tmp" && msibuild "$out" -i LaunchCondition.idt)
