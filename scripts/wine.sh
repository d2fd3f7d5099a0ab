#!/bin/bash
# Wine's loader ($WINELOADER, set by env.sh) with the address-space layout
# fixed: this process and every Wine process it starts (they inherit it) run
# without layout randomisation.
#
# Linux puts the brk heap of a program that is not position-independent
# anywhere up to 1 GB after its image (32 MB for 32-bit programs). Wine's
# 64-bit loader is such a program at 0x7d000000, so now and then the heap
# covered 0x7ffe0000, where every Windows process has its shared user data,
# and a process died before its first instruction ("failed to map the shared
# user data: c0000018"): about 1 start in 350 in the soak, a helper of the
# service that never ran.
exec setarch "$(uname -m)" -R "$WINELOADER" "$@"
