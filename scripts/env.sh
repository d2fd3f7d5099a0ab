# Sourced by every script: where things are and which Wine to use.
# QEB_ARCH is i686 where the kernel runs 32-bit code (the shipped programs run
# as they are) and x86_64 where it does not (see README, "Both architectures
# are tested").
QEB_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

qeb_can_run_i386() {
  local d; d="$(mktemp -d)"
  printf '.globl _start\n_start:\n movl $1,%%eax\n movl $0,%%ebx\n int $0x80\n' > "$d/t.S"
  if as --32 "$d/t.S" -o "$d/t.o" 2>/dev/null && ld -m elf_i386 "$d/t.o" -o "$d/t" 2>/dev/null \
     && "$d/t" 2>/dev/null; then rm -rf "$d"; return 0; fi
  rm -rf "$d"; return 1
}

# 32-bit Wine missing on a kernel that could run it (an i386 index the
# mirror could not give, see setup.sh) means x86_64 too. Scripts that install
# run setup.sh before sourcing this file, so the choice sees what it installed.
if [ -z "${QEB_ARCH:-}" ]; then
  if qeb_can_run_i386 && [ -x /usr/lib/wine/wine ]; then QEB_ARCH=i686; else QEB_ARCH=x86_64; fi
fi
if [ "$QEB_ARCH" = i686 ]; then
  WINE=/usr/lib/wine/wine; WINEARCH=win32
else
  WINE=/usr/lib/wine/wine64; WINEARCH=win64
fi
WINESERVER=/usr/lib/wine/wineserver64
[ -x "$WINESERVER" ] || WINESERVER=/usr/lib/wine/wineserver32
export WINELOADER="$WINE"
# Scripts start Wine through scripts/wine.sh (a fixed address-space layout;
# see there) where the kernel lets a process turn randomisation off.
if setarch "$(uname -m)" -R true 2>/dev/null; then WINE="$QEB_ROOT/scripts/wine.sh"; fi
export QEB_ROOT QEB_ARCH WINE WINEARCH WINESERVER
export QEB_BUILD="${QEB_BUILD:-$QEB_ROOT/build/$QEB_ARCH}"
export QEB_TEMPLATE="${QEB_TEMPLATE:-$QEB_BUILD/prefix-template}"
