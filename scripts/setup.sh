#!/bin/bash
# Installs what building and running the kit needs, when it is missing.
# Debian 12; run as root (or with sudo available).
set -euo pipefail
source "$(dirname "$0")/env.sh"

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for p in cmake make binutils googletest xvfb xdotool imagemagick x11-utils fonts-liberation \
         wixl msitools gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix \
         gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 \
         binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64; do
  have "$p" || need+=("$p")
done
# 32-bit Wine only where the kernel can run 32-bit code.
if [ "$QEB_ARCH" = i686 ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  have wine32:i386 || need+=("wine32:i386")
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq >&2
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi
