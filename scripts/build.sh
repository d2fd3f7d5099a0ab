#!/bin/bash
# Configures and builds the kit.
#   build.sh           the runnable architecture, with tests (build/<arch>)
#   build.sh --ship    also the 32-bit programs as shipped (build/i686-ship)
set -euo pipefail
source "$(dirname "$0")/env.sh"
cd "$QEB_ROOT"
mkdir -p "$QEB_BUILD" "$QEB_ROOT/build"

cmake -S . -B "$QEB_BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake \
      -DQEB_ARCH="$QEB_ARCH" >"$QEB_BUILD.configure.log" 2>&1 \
  || { mkdir -p "$QEB_BUILD"; cat "$QEB_BUILD.configure.log"; exit 1; }
cmake --build "$QEB_BUILD" -j2
if [ "${1:-}" = --ship ] && [ "$QEB_ARCH" != i686 ]; then
  ship="$QEB_ROOT/build/i686-ship"
  cmake -S . -B "$ship" -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw.cmake \
        -DQEB_ARCH=i686 -DQEB_BUILD_TESTS=OFF >"$ship.configure.log" 2>&1 \
    || { cat "$ship.configure.log"; exit 1; }
  cmake --build "$ship" -j2
fi
