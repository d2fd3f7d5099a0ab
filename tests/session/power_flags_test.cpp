// Power flags from the firmware (KNVS function 9) and the pending-hibernation
// check, with the platform device answered in-process. An immediate
// hibernation shows as a call of the recorded SetSuspendState, made with the
// shutdown privilege enabled in the process token.
#include <string.h>

#include <ostream>
#include <vector>

#include <gtest/gtest.h>

#include "qebevent.h"
#include "service_seams.h"
#include "session_internal.h"
#include "shutdown_privilege.h"
#include "suspend_recorder.h"

namespace {

struct FakePlatform {
    int requests = 0;
    DWORD lastCode = 0;
    std::vector<BYTE> lastFrame;
    BOOL succeed = TRUE;
    DWORD powerFlags = 0;
};
FakePlatform Platform;
HANDLE const kFakeDevice = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x5150));

HANDLE WINAPI FakeCreateFile(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    return kFakeDevice;
}

BOOL WINAPI FakeDeviceIoControl(HANDLE, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                                LPDWORD returned, LPOVERLAPPED) {
    ++Platform.requests;
    Platform.lastCode = code;
    Platform.lastFrame.assign(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inLength);
    if (Platform.succeed && outLength >= 24) memcpy(static_cast<BYTE*>(out) + 20, &Platform.powerFlags, 4);
    if (returned != nullptr) *returned = outLength;
    return Platform.succeed;
}

BOOL WINAPI FakeCloseHandle(HANDLE) { return TRUE; }

class PowerFlagsTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = PlatformIo;
        PlatformIo = {FakeCreateFile, FakeDeviceIoControl, FakeCloseHandle};
        Platform = FakePlatform();
        ASSERT_TRUE(qebtest::SetShutdownPrivilege(false)) << "token lacks the shutdown privilege";
        ASSERT_FALSE(qebtest::ShutdownPrivilegeEnabled());
    }
    void TearDown() override { PlatformIo = saved_; }
    DeviceIoFunctions saved_;
};

TEST_F(PowerFlagsTest, ReadsKnvsFunctionNineWithItsExactFrame) {
    Platform.powerFlags = 0x12345678;
    EXPECT_EQ(0x12345678u, ReadPowerFlags());
    ASSERT_EQ(1, Platform.requests);
    EXPECT_EQ(0x222404u, Platform.lastCode);
    const std::vector<BYTE> expected = {0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(expected, Platform.lastFrame);
}

TEST_F(PowerFlagsTest, FailedRequestReadsAsFailureWord) {
    Platform.succeed = FALSE;
    Platform.powerFlags = 4;
    EXPECT_EQ(0x80000000u, ReadPowerFlags());
}

struct PendingCase {
    BOOL succeed;
    DWORD flags;
    bool hibernates;
};

void PrintTo(const PendingCase& c, std::ostream* os) {
    *os << (c.succeed ? "flags=0x" : "failed,flags=0x") << std::hex << c.flags;
}

class PendingHibernationTest : public PowerFlagsTest, public ::testing::WithParamInterface<PendingCase> {};

TEST_P(PendingHibernationTest, HibernatesOnlyWhenBitTwoIsRead) {
    Platform.succeed = GetParam().succeed;
    Platform.powerFlags = GetParam().flags;
    const LONG suspendsBefore = qebtest::SuspendCalls();
    CheckPendingHibernation();
    EXPECT_EQ(1, Platform.requests);
    EXPECT_EQ(suspendsBefore + (GetParam().hibernates ? 1 : 0), qebtest::SuspendCalls());
    EXPECT_EQ(GetParam().hibernates, qebtest::ShutdownPrivilegeEnabled())
        << "flags " << GetParam().flags << (GetParam().succeed ? "" : " (request failed)");
}

INSTANTIATE_TEST_SUITE_P(Flags, PendingHibernationTest,
                         ::testing::Values(PendingCase{TRUE, 4, true}, PendingCase{TRUE, 3, false},
                                           PendingCase{TRUE, 0, false}, PendingCase{TRUE, 0xFFFFFFFFu, true},
                                           PendingCase{FALSE, 4, false}));

TEST_F(PowerFlagsTest, LogoffSessionChangeRunsThePendingCheck) {
    Platform.powerFlags = 4;
    ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGOFF, nullptr, nullptr);
    EXPECT_EQ(1, Platform.requests);
    EXPECT_EQ(0x222404u, Platform.lastCode);
    ASSERT_GE(Platform.lastFrame.size(), 12u);
    EXPECT_EQ(9, Platform.lastFrame[10]);
    EXPECT_TRUE(qebtest::ShutdownPrivilegeEnabled());
}

TEST_F(PowerFlagsTest, LogonSessionChangeDoesNotAskTheFirmware) {
    Platform.powerFlags = 4;
    ServiceControlHandler(SERVICE_CONTROL_SESSIONCHANGE, WTS_SESSION_LOGON, nullptr, nullptr);
    EXPECT_EQ(0, Platform.requests);
    EXPECT_FALSE(qebtest::ShutdownPrivilegeEnabled());
}

}  // namespace
