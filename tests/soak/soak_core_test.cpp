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

TEST(SoakCore, HelperLaunchesPairEachLaunchWithItsThread) {
    const char* lines[] = {
        "0150:trace:process:CreateProcessInternalW app (null) cmdline L\"QEBEvent.exe -VOLUMEUP\"",
        "0148:trace:process:CreateProcessInternalW app (null) cmdline L\"QEBEvent.exe -VOLUMEDOWN\"",
        "0150:trace:process:NtCreateUserProcess L\"\\??\\C:\\Program Files\\QEBI\\QEBEvent.exe\"",
        "0148:trace:process:CreateProcessInternalW started process pid 0200 tid 0204",  // the down helper
        "0150:trace:process:CreateProcessInternalW app (null) cmdline L\"QEBEvent.exe -HALT\"",
        "0150:trace:process:CreateProcessInternalW started process pid 0208 tid 020c",  // not a volume helper
        "0148:trace:process:CreateProcessInternalW app (null) cmdline L\"QEBEvent.exe -VOLUMEDOWN\"",
        "0148:trace:eventlog:ReportEventW started process pid 0210 tid 0214",          // another channel
        "0148:trace:process:CreateProcessInternalW app (null) cmdline L\"QEBEvent.exe -VOLUMEUP\"",
        "0148:trace:process:CreateProcessInternalW started process pid 0218 tid 021c",
    };
    soak::HelperLaunches h;
    for (const char* line : lines) h.Take(line);
    EXPECT_EQ(2u, h.upAsked);
    EXPECT_EQ(2u, h.downAsked);
    EXPECT_EQ(1u, h.upStarted);    // the first up launch never reported a start
    EXPECT_EQ(1u, h.downStarted);  // the second down launch was followed by an up one
}

}  // namespace
