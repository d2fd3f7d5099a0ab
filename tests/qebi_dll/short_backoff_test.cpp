// The stand-in library's delivery thread against a device that completes
// every wait short: the pause before each next wait.
#include <gtest/gtest.h>

#include <stdint.h>

#include <vector>

#include "short_backoff.h"

namespace {

struct Completion {
    bool whole;
    uint32_t waitedMs;
};

// Pauses after each completion of the sequence, waits issued at tick
// 0xFFFFFF00 (so that some completions fall after the counter's wrap).
std::vector<uint32_t> Pauses(const std::vector<Completion>& completions) {
    std::vector<uint32_t> pauses;
    uint32_t run = 0;
    const uint32_t issued = 0xFFFFFF00u;
    for (const Completion& c : completions) {
        run = qebi::ShortRunAfter(run, c.whole, issued, issued + c.waitedMs);
        pauses.push_back(qebi::PauseAfterShortRun(run));
    }
    return pauses;
}

TEST(QebiDllShortBackoff, ShortCompletionsAtOnceBackOffToTheBound) {
    std::vector<Completion> atOnce(12, Completion{false, 0});
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 1, 2, 4, 8, 16, 32, 64, 100, 100, 100}), Pauses(atOnce));
}

TEST(QebiDllShortBackoff, WholeEventOrQuietWaitStartsOver) {
    EXPECT_EQ((std::vector<uint32_t>{0, 0, 1, 0, 0, 0, 1, 2, 0}),
              Pauses({{false, 0}, {false, 0}, {false, 0}, {true, 0}, {false, 0}, {false, 0}, {false, 0},
                      {false, 999}, {false, 1000}}));
    EXPECT_EQ(UINT32_MAX, qebi::ShortRunAfter(UINT32_MAX, false, 5, 5));
}

}  // namespace
