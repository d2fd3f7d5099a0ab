#!/bin/bash
# Installs what building and running the kit needs, when it is missing.
# Debian 12; run as root (or with sudo available).
set -euo pipefail
source "$(dirname "$0")/env.sh"

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
updated=0
apt_update() {
  [ "$updated" = 0 ] || return 0
  updated=1
  # A mirror in the middle of a sync fails an index now and then ("File has
  # unexpected size"). Try again, then go on with what was fetched: the
  # install says if a package cannot be had.
  local try
  for try in 1 2 3; do
    $SUDO apt-get update -qq >&2 && return 0
    echo "setup: apt-get update failed (try $try)" >&2; sleep 5
  done
}

need=()
for p in cmake make binutils python3 googletest xvfb xdotool imagemagick x11-utils fonts-liberation \
         wixl msitools gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix \
         gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 \
         gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
         gcc-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-win32 binutils-mingw-w64-i686 \
         binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}" >&2
  apt_update
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

# 32-bit Wine where the kernel can run 32-bit code. Its i386 libraries must
# match the amd64 ones already installed; when the mirror's i386 index lags
# behind (seen: the security index failing mid-sync) it cannot be installed,
# and the run goes on as on a machine without 32-bit support (env.sh picks
# x86_64 when /usr/lib/wine/wine is missing).
if qeb_can_run_i386 && ! have wine32:i386; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  apt_update
  if ! $SUDO apt-get install -y -qq --no-install-recommends wine32:i386 >&2; then
    echo "setup: 32-bit Wine (wine32:i386) cannot be installed from this mirror now;" \
         "the tests run the x86_64 build under wine64" >&2
  fi
fi
