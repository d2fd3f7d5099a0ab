// The soak's own arithmetic: a checker that miscounts passes faults or fails
// a sound kit, so its rules are pinned here.
#include <gtest/gtest.h>

#include "soak_core.h"

namespace {

TEST(SoakCore, LogLinesFollowTheEmptyingAt1001) {
    const struct { uint64_t delivered, lines; } cases[] = {
        {0, 0}, {1, 1}, {1000, 1000}, {1001, 1}, {1002, 2}, {2001, 1001}, {2002, 1}, {3003, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(c.lines, soak::ExpectedLogLines(c.delivered)) << c.delivered;
}

TEST(SoakCore, GrowthComparesFirstAndLastSamples) {
    const struct { std::vector<long long> samples; bool judged; long long from, to; } cases[] = {
        {{}, false, 0, 0},
        {{7}, false, 0, 0},
        {{10, 20}, true, 10, 20},
        {{10, 12, 11, 30, 31}, true, 11, 30},           // k = 2
        {{100, 101, 99, 500, 160, 161, 162}, true, 100, 161},  // k = 3, a spike in between
    };
    for (const auto& c : cases) {
        const soak::Growth g = soak::Judge(c.samples);
        EXPECT_EQ(c.judged, g.judged);
        if (c.judged) {
            EXPECT_EQ(c.from, g.from);
            EXPECT_EQ(c.to, g.to);
        }
    }
}

TEST(SoakCore, LogLineCodes) {
    const struct { const wchar_t* line; bool ok; uint32_t code; } cases[] = {
        {L" 8/12  9:41:53.007: 0x1003 (Volume Up)", true, 0x1003},
        {L"12/01 20:41:53.007: 0x1043", true, 0x1043},
        {L" 1/01  0:00:00.000: 0xFFFFFFFF", true, 0xFFFFFFFF},
        {L"Event callback registered", false, 0},
        {L"0x1003", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t code = 0;
        EXPECT_EQ(c.ok, soak::ParseLogLineCode(c.line, &code)) << c.line;
        if (c.ok) {
            EXPECT_EQ(c.code, code);
        }
    }
}

}  // namespace
