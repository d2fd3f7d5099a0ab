// The control handler, ServiceMain and the firmware event dispatch, with the
// actions and the status report observed through the seams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes.h"
#include "qebevent.h"
#include "service_dispatch.h"

namespace {

void SetRunningStatus(DWORD state) {
    ServiceStatus = SERVICE_STATUS{};
    ServiceStatus.dwServiceType = 0x30;
    ServiceStatus.dwCurrentState = state;
    ServiceStatus.dwControlsAccepted = 0x85;
}

struct ControlCase {
    const char* name;
    DWORD control, eventType;
    DWORD stateBefore, stateAfter;
    std::vector<std::string> actions;
};

void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }

class SvcControlHandlerTest : public ::testing::TestWithParam<ControlCase> {};

}  // namespace

TEST_P(SvcControlHandlerTest, RunsItsActionThenReportsOnce) {
    const ControlCase& c = GetParam();
    SeamScope seams;
    SetRunningStatus(c.stateBefore);
    EXPECT_EQ(0u, ServiceControlHandler(c.control, c.eventType, nullptr, nullptr));
    std::vector<std::string> expected = c.actions;
    expected.push_back("report " + std::to_string(c.stateAfter));
    EXPECT_EQ(expected, seams.actions.calls);
    ASSERT_EQ(1u, seams.actions.reports.size());
    const SERVICE_STATUS& reported = seams.actions.reports[0];
    EXPECT_EQ(c.stateAfter, reported.dwCurrentState);
    EXPECT_EQ(c.stateAfter, ServiceStatus.dwCurrentState);
    EXPECT_EQ(0x30u, reported.dwServiceType);
    EXPECT_EQ(0x85u, reported.dwControlsAccepted);
    EXPECT_EQ(ServiceStatusHandle, seams.actions.reportHandles[0]);
}

INSTANTIATE_TEST_SUITE_P(Table, SvcControlHandlerTest,
    ::testing::Values(
        ControlCase{"Stop", 1, 0, 4, 1, {}},
        ControlCase{"Pause", 2, 0, 4, 7, {}},
        ControlCase{"Continue", 3, 0, 7, 4, {}},
        ControlCase{"Interrogate", 4, 0, 4, 4, {}},
        ControlCase{"InterrogateWhilePaused", 4, 0, 7, 7, {}},
        ControlCase{"Shutdown", 5, 0, 4, 1, {}},
        ControlCase{"SessionLogoff", 14, 6, 4, 4, {"checkPendingHibernation"}},
        ControlCase{"SessionLogon", 14, 5, 4, 4, {}},
        ControlCase{"SessionLock", 14, 7, 4, 4, {}},
        ControlCase{"VolumeUp", 128, 0, 4, 4, {"launch 3 null null"}},
        ControlCase{"VolumeDown", 129, 0, 4, 4, {"launch 4 null null"}},
        ControlCase{"GreenToRed", 130, 0, 4, 4, {"healthChange 0x1042"}},
        ControlCase{"RedToGreen", 131, 0, 4, 4, {"healthChange 0x1043"}},
        ControlCase{"HealthDetails", 132, 0, 4, 4, {"healthDetails"}},
        ControlCase{"PowerLoss", 133, 0, 4, 4, {"createThread PowerLossThread"}},
        ControlCase{"Unlisted200", 200, 0, 4, 4, {}},
        ControlCase{"Unlisted134", 134, 0, 4, 4, {}},
        ControlCase{"Unlisted127", 127, 0, 4, 4, {}},
        ControlCase{"EventTypeIgnoredForCustom", 130, 6, 4, 4, {"healthChange 0x1042"}}),
    [](const ::testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.name); });

static decltype(ServiceActions.createThread) CreateThreadFake = nullptr;

struct EventCase {
    DWORD code;
    std::vector<std::string> actions;
};
inline void PrintTo(const EventCase& c, std::ostream* os) { *os << "code" << std::hex << c.code; }
class SvcDispatchFirmwareEventTest : public ::testing::TestWithParam<EventCase> {};

TEST_P(SvcDispatchFirmwareEventTest, RunsTheActionOfTheCode) {
    SeamScope seams;
    DispatchFirmwareEvent(GetParam().code);
    EXPECT_EQ(GetParam().actions, seams.actions.calls) << "code 0x" << std::hex << GetParam().code;
    EXPECT_TRUE(seams.actions.reports.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, SvcDispatchFirmwareEventTest,
                         ::testing::Values(EventCase{0x1003, {"launch 3 null null"}},
                                           EventCase{0x1004, {"launch 4 null null"}},
                                           EventCase{0x1005, {"healthDetails"}},
                                           EventCase{0x1031, {"ctrlAltDel"}},
                                           EventCase{0x1041, {"createThread PowerLossThread"}},
                                           EventCase{0x1042, {"healthChange 0x1042"}},
                                           EventCase{0x1043, {"healthChange 0x1043"}},
                                           EventCase{0x1001, {}}, EventCase{0x1002, {}}, EventCase{0x1010, {}},
                                           EventCase{0x1011, {}}, EventCase{0x1021, {}}, EventCase{0x1022, {}},
                                           EventCase{0x00011003, {}}, EventCase{0x10001005, {}},
                                           EventCase{0, {}}, EventCase{0xFFFFFFFF, {}}));

// Three power losses in a row, before any thread got through its launch: the
// first two get threads (one launching, one waiting for the helper slot),
// the third is dropped.
static HANDLE WINAPI RecordAndCreateRunningThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack,
                                                  LPTHREAD_START_ROUTINE start, LPVOID argument, DWORD flags,
                                                  LPDWORD id) {
    CloseHandle(CreateThreadFake(attributes, stack, start, argument, flags, id));
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stands for a thread that has not ended
}

TEST(SvcDispatchFirmwareEvent, ThreePowerLossEventsInARowStartTwoThreads) {
    SeamScope seams;
    CreateThreadFake = ServiceActions.createThread;
    ServiceActions.createThread = RecordAndCreateRunningThread;
    PowerLossActions = 0;
    for (int i = 0; i < 3; ++i) DispatchFirmwareEvent(0x1041);
    const LONG places = PowerLossActions;
    PowerLossActions = 0;
    EXPECT_EQ(std::vector<std::string>(2, "createThread PowerLossThread"), seams.actions.calls);
    EXPECT_EQ(2, places);
}

TEST(SvcServiceMain, FirstReportIsRunningThenPendingHibernationIsChecked) {
    SeamScope seams;
    ServiceStatus = SERVICE_STATUS{};
    ServiceMain(0, nullptr);
    const std::vector<std::string> expected = {"createThread EventMonitorThread", "report 4",
                                               "checkPendingHibernation"};
    EXPECT_EQ(expected, seams.actions.calls);
    ASSERT_EQ(1u, seams.actions.reports.size());
    const SERVICE_STATUS& s = seams.actions.reports[0];
    EXPECT_EQ(0x30u, s.dwServiceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), s.dwCurrentState);
    EXPECT_EQ(0x85u, s.dwControlsAccepted);
    EXPECT_EQ(0u, s.dwWin32ExitCode);
    EXPECT_EQ(0u, s.dwServiceSpecificExitCode);
    EXPECT_EQ(0u, s.dwCheckPoint);
    EXPECT_EQ(0u, s.dwWaitHint);
}

TEST(SvcServiceMain, OverwritesAStaleRecord) {
    SeamScope seams;
    memset(&ServiceStatus, 0xFF, sizeof(ServiceStatus));
    ServiceMain(0, nullptr);
    ASSERT_EQ(1u, seams.actions.reports.size());
    EXPECT_EQ(0u, seams.actions.reports[0].dwCheckPoint);
    EXPECT_EQ(0u, seams.actions.reports[0].dwWin32ExitCode);
    EXPECT_EQ(0x30u, seams.actions.reports[0].dwServiceType);
}

// ---- serialisation of the status record ----
namespace {

HANDLE secondHandlerThread = nullptr;
DWORD stateSeenAtEndOfFirstReport = 0;
LONG reportCount = 0;

DWORD WINAPI PauseFromOtherThread(LPVOID) {
    ServiceControlHandler(SERVICE_CONTROL_PAUSE, 0, nullptr, nullptr);
    return 0;
}

BOOL WINAPI SlowReport(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    if (InterlockedIncrement(&reportCount) == 1) {
        // While this report is in progress another thread asks for a pause;
        // the record must not change under the report.
        secondHandlerThread = CreateThread(nullptr, 0, PauseFromOtherThread, nullptr, 0, nullptr);
        Sleep(200);
        stateSeenAtEndOfFirstReport = status->dwCurrentState;
    }
    return TRUE;
}

}  // namespace

TEST(SvcServiceControlHandler, RecordDoesNotChangeDuringAReport) {
    SeamScope seams;
    ServiceActions.setServiceStatus = SlowReport;
    SetRunningStatus(SERVICE_PAUSED);
    reportCount = 0;
    ServiceControlHandler(SERVICE_CONTROL_CONTINUE, 0, nullptr, nullptr);
    ASSERT_NE(nullptr, secondHandlerThread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(secondHandlerThread, 5000));
    CloseHandle(secondHandlerThread);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), stateSeenAtEndOfFirstReport);
    EXPECT_EQ(2, reportCount);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_PAUSED), ServiceStatus.dwCurrentState);
}

// ---- the pure mappings ----
TEST(SvcServiceStateAfterControl, OnlyStopShutdownPauseContinueChangeTheState) {
    for (DWORD control = 0; control < 256; ++control) {
        const DWORD after = ServiceStateAfterControl(control, 99);
        switch (control) {
        case 1:
        case 5: EXPECT_EQ(1u, after) << control; break;
        case 2: EXPECT_EQ(7u, after) << control; break;
        case 3: EXPECT_EQ(4u, after) << control; break;
        default: EXPECT_EQ(99u, after) << control; break;
        }
    }
}

TEST(SvcServiceControlAction, NoActionOutsideTheTable) {
    for (DWORD control = 0; control < 256; ++control) {
        const bool listed = control == 14 || (control >= 128 && control <= 133);
        if (!listed) {
            EXPECT_EQ(ActionNone, ServiceControlAction(control, 6)) << control;
        }
    }
}

// A flood of power losses: the running action and one waiting behind it get
// threads, the rest are dropped; a thread that could not be created leaves
// its place free.
namespace {

int ThreadsCreated = 0;
HANDLE WINAPI CreateRunningThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    ++ThreadsCreated;
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);  // stands for a thread that has not ended
}
HANDLE WINAPI CreateNoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    ++ThreadsCreated;
    return nullptr;
}

struct FloodCase {
    const char* name;
    LONG actionsBefore;
    int events;
    bool creationWorks;
    int threadsCreated;
    LONG actionsAfter;
};

void PrintTo(const FloodCase& c, std::ostream* os) { *os << c.name; }

class SvcPowerLossFloodTest : public ::testing::TestWithParam<FloodCase> {};

}  // namespace

TEST_P(SvcPowerLossFloodTest, OneRunningOneWaiting) {
    const FloodCase& c = GetParam();
    SeamScope seams;
    ServiceActions.createThread = c.creationWorks ? CreateRunningThread : CreateNoThread;
    ThreadsCreated = 0;
    PowerLossActions = c.actionsBefore;
    for (int i = 0; i < c.events; ++i) DispatchFirmwareEvent(0x1041);
    const LONG after = PowerLossActions;
    PowerLossActions = 0;
    EXPECT_EQ(c.threadsCreated, ThreadsCreated);
    EXPECT_EQ(c.actionsAfter, after);
}

INSTANTIATE_TEST_SUITE_P(Table, SvcPowerLossFloodTest,
                         ::testing::Values(FloodCase{"idle", 0, 1, true, 1, 1},
                                           FloodCase{"flood", 0, 1000, true, 2, 2},
                                           FloodCase{"oneRunning", 1, 5, true, 1, 2},
                                           FloodCase{"bothTaken", 2, 5, true, 0, 2},
                                           FloodCase{"creationFails", 0, 3, false, 3, 0}),
                         [](const ::testing::TestParamInfo<FloodCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(SvcPowerLossFlood, AnEndedActionFreesItsPlace) {
    PowerLossActions = 2;
    ASSERT_FALSE(BeginPowerLossAction());
    EndPowerLossAction();
    EXPECT_TRUE(BeginPowerLossAction());
    EndPowerLossAction();
    EndPowerLossAction();
    EndPowerLossAction();  // more ends than begins stop at none
    EXPECT_EQ(0, PowerLossActions);
}
