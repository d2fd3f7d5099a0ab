#include "short_backoff.h"

namespace qebi {

uint32_t ShortRunAfter(uint32_t run, bool whole, uint32_t issuedTick, uint32_t completedTick) {
    if (whole) return 0;
    if (completedTick - issuedTick >= kQuietWaitMs) return 1;
    return run != UINT32_MAX ? run + 1 : run;
}

uint32_t PauseAfterShortRun(uint32_t run) {
    const uint32_t kFree = 2;
    if (run <= kFree) return 0;
    const uint32_t doublings = run - kFree - 1;
    if (doublings < 31 && (1u << doublings) < kLongestPauseMs) return 1u << doublings;
    return kLongestPauseMs;
}

}  // namespace qebi
