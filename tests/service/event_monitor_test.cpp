// One event wait of the monitor with the device answered in-process: only a
// completion of all four bytes is dispatched; a short one leaves the previous
// code in the buffer and must not run its action again.
#include <string.h>

#include <gtest/gtest.h>

#include "fakes.h"
#include "qebevent.h"
#include "service_seams.h"

namespace {

struct Completion {
    BOOL result;
    DWORD error;  // last error when result is FALSE
    DWORD bytes;  // bytes of `code` written and reported
    DWORD code;
};
Completion Next;
DWORD WaitCode = 0;

BOOL WINAPI CompleteAtOnce(HANDLE, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outLength, LPDWORD returned,
                           LPOVERLAPPED) {
    WaitCode = code;
    if (!Next.result) {
        SetLastError(Next.error);
        return FALSE;
    }
    memcpy(out, &Next.code, Next.bytes < outLength ? Next.bytes : outLength);
    *returned = Next.bytes;
    return TRUE;
}

struct MonitorCase {
    const char* name;
    Completion completion;
    MonitorWaitResult expected;
    std::vector<std::string> actions;
};

void PrintTo(const MonitorCase& c, std::ostream* os) { *os << c.name; }

class SvcMonitorOnceTest : public ::testing::TestWithParam<MonitorCase> {};

TEST_P(SvcMonitorOnceTest, DispatchesOnlyWholeCodes) {
    SeamScope seams;
    const DeviceIoFunctions saved = MonitorIo;
    MonitorIo.deviceIoControl = CompleteAtOnce;
    // The buffer still holds the previous event, a Ctrl+Alt+Del.
    BYTE buffer[4] = {0x31, 0x10, 0x00, 0x00};
    Next = GetParam().completion;
    const MonitorWaitResult result = MonitorOnce(nullptr, nullptr, buffer);
    MonitorIo = saved;
    EXPECT_EQ(0x222408u, WaitCode);
    EXPECT_EQ(GetParam().expected, result);
    EXPECT_EQ(GetParam().actions, seams.actions.calls);
}

INSTANTIATE_TEST_SUITE_P(
    Completions, SvcMonitorOnceTest,
    ::testing::Values(MonitorCase{"whole", {TRUE, 0, 4, 0x1003}, MonitorEventDispatched, {"launch 3 null null"}},
                      MonitorCase{"sameCodeAgain", {TRUE, 0, 4, 0x1031}, MonitorEventDispatched, {"ctrlAltDel"}},
                      MonitorCase{"none", {TRUE, 0, 0, 0x1003}, MonitorCompletionIgnored, {}},
                      MonitorCase{"twoBytes", {TRUE, 0, 2, 0x1003}, MonitorCompletionIgnored, {}},
                      MonitorCase{"threeBytes", {TRUE, 0, 3, 0x1031}, MonitorCompletionIgnored, {}},
                      MonitorCase{"failed", {FALSE, ERROR_DEVICE_REMOVED, 0, 0}, MonitorWaitFailed, {}}),
    [](const ::testing::TestParamInfo<MonitorCase>& info) { return std::string(info.param.name); });

// Short completions in a row and the pause before the next wait.
struct PauseCase {
    DWORD shortRun;
    DWORD pauseMs;
};

void PrintTo(const PauseCase& c, std::ostream* os) { *os << c.shortRun << "short"; }

class SvcMonitorPauseTest : public ::testing::TestWithParam<PauseCase> {};

TEST_P(SvcMonitorPauseTest, BacksOffBounded) {
    EXPECT_EQ(GetParam().pauseMs, MonitorPauseAfterShort(GetParam().shortRun)) << "after " << GetParam().shortRun;
}

INSTANTIATE_TEST_SUITE_P(Runs, SvcMonitorPauseTest,
                         ::testing::Values(PauseCase{0, 0}, PauseCase{1, 0}, PauseCase{2, 0}, PauseCase{3, 1},
                                           PauseCase{4, 2}, PauseCase{9, 64}, PauseCase{10, 100},
                                           PauseCase{11, 100}, PauseCase{MAXDWORD, 100}));

// The run after one more completion: a whole event ends it, a short
// completion of a wait that blocked for a second or more starts a new one.
struct RunCase {
    const char* name;
    DWORD runBefore;
    MonitorWaitResult result;
    DWORD issuedTick, completedTick;
    DWORD runAfter;
};

void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class SvcMonitorRunTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(SvcMonitorRunTest, ResetsAfterWholeEventsAndQuietWaits) {
    const RunCase& c = GetParam();
    EXPECT_EQ(c.runAfter, MonitorShortRunAfter(c.runBefore, c.result, c.issuedTick, c.completedTick));
}

INSTANTIATE_TEST_SUITE_P(
    Completions, SvcMonitorRunTest,
    ::testing::Values(RunCase{"wholeEndsRun", 12, MonitorEventDispatched, 500, 500, 0},
                      RunCase{"shortAtOnceGrows", 12, MonitorCompletionIgnored, 500, 500, 13},
                      RunCase{"shortJustBeforeQuiet", 12, MonitorCompletionIgnored, 500, 1499, 13},
                      RunCase{"shortAfterQuietWaitStartsNewRun", 12, MonitorCompletionIgnored, 500, 1500, 1},
                      RunCase{"shortAfterHoursStartsNewRun", 10, MonitorCompletionIgnored, 1000, 7201000, 1},
                      RunCase{"wrapQuick", 5, MonitorCompletionIgnored, 0xFFFFFF00u, 0x10u, 6},
                      RunCase{"wrapQuiet", 5, MonitorCompletionIgnored, 0xFFFFFF00u, 0x3F0u, 1},
                      RunCase{"saturates", MAXDWORD, MonitorCompletionIgnored, 7, 7, MAXDWORD}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

}  // namespace
