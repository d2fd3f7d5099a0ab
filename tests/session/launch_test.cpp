// Launches of the real helper executable (QEBEvent.exe beside this test) in
// the active console session under the user's token.
#include <gtest/gtest.h>

#include "handle_count.h"
#include "qebevent.h"
#include "session_internal.h"

namespace {

TEST(LaunchInUserSession, StartsTheVolumeHelperWhichExitsWithZero) {
    HANDLE process = nullptr;
    HANDLE thread = nullptr;
    LONG heldBefore = SessionHandlesHeld();
    ASSERT_TRUE(LaunchInUserSession(RunModeVolumeUp, &process, &thread)) << "error " << GetLastError();
    ASSERT_NE(nullptr, process);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(heldBefore + 2, SessionHandlesHeld());
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(process, 30000));
    DWORD exitCode = 0xDEAD;
    GetExitCodeProcess(process, &exitCode);
    EXPECT_EQ(0u, exitCode);
    EXPECT_EQ(GetProcessId(process), GetProcessIdOfThread(thread)) << "thread of another process";
    CloseSessionHandle(process);
    CloseSessionHandle(thread);
    EXPECT_EQ(heldBefore, SessionHandlesHeld());
}

TEST(LaunchInUserSession, KeepsNoHandleWhenNoneIsAskedFor) {
    // One launch first, so lazily loaded libraries and their handles are in place.
    ASSERT_TRUE(LaunchInUserSession(RunModeVolumeDown, nullptr, nullptr));
    Sleep(500);
    const LONG heldBefore = SessionHandlesHeld();
    const long handlesBefore = qebtest::CountProcessHandles(GetCurrentProcessId());
    ASSERT_GT(handlesBefore, 0);
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(LaunchInUserSession(i % 2 ? RunModeVolumeUp : RunModeVolumeDown, nullptr, nullptr)) << "launch " << i;
    }
    EXPECT_EQ(heldBefore, SessionHandlesHeld());
    EXPECT_EQ(handlesBefore, qebtest::CountProcessHandles(GetCurrentProcessId()));
}

TEST(LaunchInUserSession, UnknownModeStartsNothing) {
    HANDLE process = reinterpret_cast<HANDLE>(1);
    const LONG heldBefore = SessionHandlesHeld();
    EXPECT_FALSE(LaunchInUserSession(7, &process, nullptr));
    EXPECT_EQ(reinterpret_cast<HANDLE>(1), process) << "output written on failure";
    EXPECT_EQ(heldBefore, SessionHandlesHeld());
}

TEST(LaunchInUserSession, OverrideReplacesTheLaunch) {
    static int calls = 0;
    UserSessionLaunchOverride = [](int mode, HANDLE*, HANDLE*) -> BOOL {
        ++calls;
        return mode == RunModeHalt;
    };
    EXPECT_TRUE(LaunchInUserSession(RunModeHalt, nullptr, nullptr));
    EXPECT_FALSE(LaunchInUserSession(RunModeVolumeUp, nullptr, nullptr));
    UserSessionLaunchOverride = nullptr;
    EXPECT_EQ(2, calls);
}

}  // namespace
