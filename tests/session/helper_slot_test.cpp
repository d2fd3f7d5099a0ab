// The "-HALT" helper slot: a power loss stores the newest helper and ends the
// one before it with exit code 0xFFFFFFFF, also when several power-loss
// threads run at once; a failed launch hibernates from the service instead.
// Helpers here are suspended copies of this test program started through the
// launch override.
#include <vector>

#include <gtest/gtest.h>

#include "handle_count.h"
#include "qebevent.h"
#include "session_internal.h"
#include "shutdown_privilege.h"
#include "suspend_recorder.h"

namespace {

CRITICAL_SECTION LaunchedLock;
std::vector<HANDLE> Launched;  // the test's own duplicates of every helper
int LaunchModeSeen = 0;

BOOL SuspendedHelperLauncher(int mode, HANDLE* processOut, HANDLE* threadOut) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t commandLine[MAX_PATH + 40];
    _snwprintf_s(commandLine, _countof(commandLine), _TRUNCATE, L"\"%s\" --gtest_list_tests", path);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup,
                        &process))
        return FALSE;
    HANDLE mine = nullptr;
    DuplicateHandle(GetCurrentProcess(), process.hProcess, GetCurrentProcess(), &mine, 0, FALSE,
                    DUPLICATE_SAME_ACCESS);
    EnterCriticalSection(&LaunchedLock);
    Launched.push_back(mine);
    LaunchModeSeen = mode;
    LeaveCriticalSection(&LaunchedLock);
    if (processOut != nullptr) *processOut = process.hProcess; else CloseHandle(process.hProcess);
    if (threadOut != nullptr) *threadOut = process.hThread; else CloseHandle(process.hThread);
    return TRUE;
}

BOOL FailingLauncher(int, HANDLE*, HANDLE*) { return FALSE; }

DWORD ExitCodeOf(HANDLE process) {
    WaitForSingleObject(process, 5000);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

class HelperSlotTest : public ::testing::Test {
protected:
    void SetUp() override {
        InitializeCriticalSection(&LaunchedLock);
        ReplaceHaltHelper(nullptr);
        Launched.clear();
        heldBefore_ = SessionHandlesHeld();
        UserSessionLaunchOverride = SuspendedHelperLauncher;
    }
    void TearDown() override {
        UserSessionLaunchOverride = nullptr;
        ReplaceHaltHelper(nullptr);
        for (HANDLE h : Launched) {
            TerminateProcess(h, 0);
            CloseHandle(h);
        }
        Launched.clear();
        DeleteCriticalSection(&LaunchedLock);
    }
    LONG heldBefore_ = 0;
};

TEST_F(HelperSlotTest, FirstPowerLossStoresTheHelper) {
    ASSERT_TRUE(qebtest::SetShutdownPrivilege(false));
    ASSERT_EQ(0u, PowerLossThread(nullptr));
    ASSERT_EQ(1u, Launched.size());
    EXPECT_FALSE(qebtest::ShutdownPrivilegeEnabled()) << "hibernated although a helper started";
    EXPECT_EQ(1, LaunchModeSeen) << "helper mode";
    ASSERT_NE(nullptr, HaltHelperProcess);
    EXPECT_EQ(GetProcessId(Launched[0]), GetProcessId(HaltHelperProcess));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(Launched[0], 0)) << "helper was ended";
    EXPECT_EQ(heldBefore_ + 1, SessionHandlesHeld());
}

TEST_F(HelperSlotTest, SecondPowerLossEndsTheFirstHelper) {
    PowerLossThread(nullptr);
    PowerLossThread(nullptr);
    ASSERT_EQ(2u, Launched.size());
    EXPECT_EQ(0xFFFFFFFFu, ExitCodeOf(Launched[0]));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(Launched[1], 0)) << "newest helper was ended";
    EXPECT_EQ(GetProcessId(Launched[1]), GetProcessId(HaltHelperProcess));
    EXPECT_EQ(heldBefore_ + 1, SessionHandlesHeld()) << "earlier helper's handle not closed";
}

TEST_F(HelperSlotTest, ConcurrentPowerLossesEndEveryEarlierHelperOnce) {
    const long handlesBefore = qebtest::CountProcessHandles(GetCurrentProcessId());
    ASSERT_GT(handlesBefore, 0);
    const int kThreads = 8;
    HANDLE threads[kThreads];
    for (int i = 0; i < kThreads; ++i) {
        threads[i] = CreateThread(nullptr, 0, PowerLossThread, nullptr, 0, nullptr);
        ASSERT_NE(nullptr, threads[i]);
    }
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForMultipleObjects(kThreads, threads, TRUE, 30000));
    for (HANDLE t : threads) CloseHandle(t);

    ASSERT_EQ(static_cast<size_t>(kThreads), Launched.size());
    int running = 0;
    for (HANDLE h : Launched) {
        if (WaitForSingleObject(h, 0) == WAIT_TIMEOUT) {
            ++running;
            EXPECT_EQ(GetProcessId(h), GetProcessId(HaltHelperProcess)) << "a helper outside the slot runs";
        } else {
            EXPECT_EQ(0xFFFFFFFFu, ExitCodeOf(h));
        }
    }
    EXPECT_EQ(1, running);
    EXPECT_EQ(heldBefore_ + 1, SessionHandlesHeld());
    // Only the test's own duplicates and the slot remain beside what was there.
    EXPECT_EQ(handlesBefore + kThreads + 1, qebtest::CountProcessHandles(GetCurrentProcessId()));
}

// The first power loss's launch is slow; the second starts while it runs.
// The helper kept is the one of the later power loss, launched last.
volatile LONG SlowLaunches = 0;
DWORD EarlierHelperPid = 0;

BOOL SlowFirstLauncher(int mode, HANDLE* processOut, HANDLE* threadOut) {
    if (InterlockedIncrement(&SlowLaunches) != 1) return SuspendedHelperLauncher(mode, processOut, threadOut);
    Sleep(400);
    BOOL launched = SuspendedHelperLauncher(mode, processOut, threadOut);
    if (launched) EarlierHelperPid = GetProcessId(*processOut);
    return launched;
}

TEST_F(HelperSlotTest, RacingPowerLossesKeepTheNewestHelper) {
    SlowLaunches = 0;
    EarlierHelperPid = 0;
    UserSessionLaunchOverride = SlowFirstLauncher;
    HANDLE first = CreateThread(nullptr, 0, PowerLossThread, nullptr, 0, nullptr);
    Sleep(100);
    HANDLE second = CreateThread(nullptr, 0, PowerLossThread, nullptr, 0, nullptr);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    HANDLE both[] = {first, second};
    ASSERT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForMultipleObjects(2, both, TRUE, 30000));
    CloseHandle(first);
    CloseHandle(second);
    ASSERT_EQ(2u, Launched.size());
    ASSERT_NE(0u, EarlierHelperPid);
    for (HANDLE h : Launched) {
        if (GetProcessId(h) == EarlierHelperPid) {
            EXPECT_EQ(0xFFFFFFFFu, ExitCodeOf(h)) << "the earlier power loss's helper was not ended";
        } else {
            EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(h, 0)) << "the newest helper was ended";
            EXPECT_EQ(GetProcessId(h), GetProcessId(HaltHelperProcess));
        }
    }
}

TEST_F(HelperSlotTest, FailedLaunchHibernatesFromTheService) {
    UserSessionLaunchOverride = FailingLauncher;
    ASSERT_TRUE(qebtest::SetShutdownPrivilege(false));
    const LONG suspendsBefore = qebtest::SuspendCalls();
    PowerLossThread(nullptr);
    EXPECT_EQ(suspendsBefore + 1, qebtest::SuspendCalls()) << "no hibernation after the failed launch";
    EXPECT_TRUE(qebtest::ShutdownPrivilegeEnabled());
    EXPECT_EQ(nullptr, HaltHelperProcess);
    EXPECT_EQ(heldBefore_, SessionHandlesHeld());
}

// Nobody logged on: the service hibernates itself, and that call returns
// only after the resume. The power loss's place is free while it lasts, a
// second power loss meanwhile does not hibernate again, and one right after
// the resume does.
bool WaitForSuspendCalls(LONG count) {
    for (int i = 0; i < 500 && qebtest::SuspendCalls() < count; ++i) Sleep(10);
    return qebtest::SuspendCalls() == count;
}

HANDLE StartPowerLoss() {
    if (!BeginPowerLossAction()) return nullptr;
    return CreateThread(nullptr, 0, PowerLossThread, nullptr, 0, nullptr);
}

TEST_F(HelperSlotTest, APowerLossRightAfterTheResumeHibernatesAgain) {
    UserSessionLaunchOverride = FailingLauncher;
    PowerLossActions = 0;
    HANDLE resume = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    qebtest::HoldSuspendUntil(resume);
    const LONG before = qebtest::SuspendCalls();
    HANDLE first = StartPowerLoss();
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(WaitForSuspendCalls(before + 1)) << "no hibernation";
    EXPECT_EQ(0, PowerLossActions) << "the hibernating power loss still holds its place";
    HANDLE second = StartPowerLoss();
    EXPECT_NE(nullptr, second) << "a power loss during the hibernation found no place";
    if (second != nullptr) {
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second, 5000))
            << "the second power loss waits for the hibernation under way";
        CloseHandle(second);
    }
    EXPECT_EQ(before + 1, qebtest::SuspendCalls()) << "a second hibernation while one is under way";

    SetEvent(resume);
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(first, 5000));
    CloseHandle(first);
    HANDLE third = StartPowerLoss();
    ASSERT_NE(nullptr, third) << "a power loss right after the resume found no place";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(third, 5000));
    CloseHandle(third);
    EXPECT_EQ(before + 2, qebtest::SuspendCalls()) << "no hibernation after the resume";
    EXPECT_EQ(0, PowerLossActions);
    qebtest::HoldSuspendUntil(nullptr);
    CloseHandle(resume);
}

}  // namespace
