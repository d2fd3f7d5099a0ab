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
         binutils-mingw-w64-x86-64 mingw-w64-tools wine wine64 clang-14 libclang-rt-14-dev; do
  have "$p" || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}" >&2
  apt_update
  $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >&2
fi

# 32-bit Wine where the kernel can run 32-bit code. Its i386 libraries must be
# the same versions as the amd64 ones (Multi-Arch: same). When the mirror's
# i386 security index is mid-sync ("File has unexpected size") the i386 side
# of the security archive cannot be read, and the plain install fails.
# Fallback: resolve both architectures from the main archive alone (a source
# list and index directory of its own), preferring the main archive's
# versions, in one request for wine64 and wine32:i386 (asking for wine32
# alone that way lets apt remove wine64). The few amd64 libraries already
# updated from the security archive go back to the main archive's version.
# Nothing is removed: a plan that would remove a package is refused.
install_wine32_from_main() {
  local d; d="$(mktemp -d)"
  mkdir -p "$d/lists/partial" "$d/parts" "$d/prefs.d"
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] http://deb.debian.org/debian bookworm main" \
    > "$d/sources.list"
  printf 'Package: *\nPin: release n=bookworm\nPin-Priority: 1001\n' > "$d/prefs"
  local opts=(-o "Dir::Etc::SourceList=$d/sources.list" -o "Dir::Etc::SourceParts=$d/parts"
              -o "Dir::State::Lists=$d/lists" -o "Dir::Etc::Preferences=$d/prefs"
              -o "Dir::Etc::PreferencesParts=$d/prefs.d")
  local plan rc=0
  $SUDO apt-get "${opts[@]}" update -qq >&2 || rc=$?
  if [ $rc = 0 ]; then
    plan="$($SUDO apt-get "${opts[@]}" -s install --no-install-recommends --allow-downgrades \
              wine64 wine32:i386 2>&1)" || rc=$?
  fi
  if [ $rc = 0 ] && grep -q '^Remv ' <<<"$plan"; then
    echo "setup: the main-archive install of 32-bit Wine would remove packages; not done:" >&2
    grep '^Remv ' <<<"$plan" >&2
    rc=1
  fi
  if [ $rc = 0 ]; then
    $SUDO apt-get "${opts[@]}" install -y -qq --no-install-recommends --allow-downgrades \
      wine64 wine32:i386 >&2 || rc=$?
  fi
  rm -rf "$d"
  return $rc
}

if qeb_can_run_i386 && ! { have wine32:i386 && have wine64; }; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
    updated=0
  fi
  apt_update
  if ! $SUDO apt-get install -y -qq --no-install-recommends wine64 wine32:i386 >&2; then
    echo "setup: wine32:i386 cannot be installed from the full source list;" \
         "trying the main archive alone" >&2
    install_wine32_from_main || true
  fi
  if have wine32:i386 && have wine64 && [ -x /usr/lib/wine/wine ] && [ -x /usr/lib/wine/wine64 ]; then
    echo "setup: 32-bit Wine installed: the tests run the shipped i686 programs" >&2
  else
    echo "setup: 32-bit Wine (wine32:i386 with wine64) could not be installed;" \
         "the tests run the x86_64 build under wine64" >&2
    # Whatever happened above, the 64-bit side must still be there.
    have wine64 || $SUDO apt-get install -y -qq --no-install-recommends wine wine64 >&2
  fi
fi
