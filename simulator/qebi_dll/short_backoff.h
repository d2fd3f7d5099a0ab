// The delivery thread's answer to a device that completes every event wait
// short at once (some do around power transitions): two such completions are
// answered with a new wait at once, a longer run backs off, doubling from
// 1 ms up to kLongestPauseMs. A whole event ends the run; a short completion
// of a wait that was outstanding for kQuietWaitMs or more starts a new one.
// Pure functions: no Windows calls.
#pragma once
#include <stdint.h>

namespace qebi {

constexpr uint32_t kLongestPauseMs = 100;
constexpr uint32_t kQuietWaitMs = 1000;

// The run after one more completion; the ticks are GetTickCount values of
// the wait's issue and completion (their difference is right across the
// counter's wrap-around).
uint32_t ShortRunAfter(uint32_t run, bool whole, uint32_t issuedTick, uint32_t completedTick);
// Milliseconds to pause before the next wait after `run` short completions.
uint32_t PauseAfterShortRun(uint32_t run);

}  // namespace qebi
