#!/bin/bash
# Configures and builds the kit.
#   build.sh           the runnable architecture, every target (build/<arch>)
#   build.sh --both    also the other architecture, every target: tests,
#                      benchmarks and tools compile for i686 and x86_64 on
#                      every run, whichever of the two this machine runs.
# build/i686/bin holds the shipped 32-bit programs and their package.
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$QEB_ROOT"

configure_and_build() {  # ARCH DIR
  local arch="$1" dir="$2"
  mkdir -p "$dir"
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake \
        -DQEB_ARCH="$arch" -DQEB_SHIP_DIR="$QEB_ROOT/build/i686/bin" >"$dir.configure.log" 2>&1 \
    || { cat "$dir.configure.log"; exit 1; }
  cmake --build "$dir" -j2
}

configure_and_build "$QEB_ARCH" "$QEB_BUILD"
if [ "${1:-}" = --both ]; then
  if [ "$QEB_ARCH" = i686 ]; then other=x86_64; else other=i686; fi
  configure_and_build "$other" "$QEB_ROOT/build/$other"
fi
