// The service's actions on the user's desktop, end to end: QEBEvent runs as
// a service of the test prefix on the simulated platform; its helpers land on
// the Xvfb desktop, where this process watches their keys and dialogs.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "desktop_probe.h"
#include "winlogon_listener.h"
#include "handle_count.h"
#include "qebsim/client.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kServicePath[] = L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe";
const wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
const wchar_t kSasValue[] = L"SoftwareSASGeneration";
const wchar_t kResumeNotice[] = L"There has been a power loss event, system resume from hibernation.";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

bool IsNote(const QEBSIM_RECORD& r, uint32_t source, const wchar_t* text) {
    return r.kind == QEBSIM_REC_NOTE && r.code == source && qebsim::NoteText(r) == text;
}

bool IsPowerFlagsFrame(const QEBSIM_RECORD& r) {
    return r.kind == QEBSIM_REC_FRAME && r.code == QEB_IOCTL_KNVS && r.data_len >= 12 && r.data[10] == 9;
}

// Records from `from` on that satisfy pred.
int CountRecords(uint32_t from, bool (*pred)(const QEBSIM_RECORD&)) {
    std::vector<QEBSIM_RECORD> records;
    if (!qebsim::ReadJournal(from, &records)) return -1;
    int n = 0;
    for (const auto& r : records) n += pred(r) ? 1 : 0;
    return n;
}

bool IsSuspendNote(const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_POWRPROF, L"SetSuspendState(1,1,1)"); }
bool IsAnySuspendNote(const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_NOTE && r.code == QEBSIM_NOTE_POWRPROF; }

class ServiceSession : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (installed_) return;
        installed_ = qebsim::ServiceInstall(kService, kServicePath, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START) ||
                     GetLastError() == ERROR_SERVICE_EXISTS;
    }

    void SetUp() override {
        ASSERT_TRUE(installed_) << "service not installed, error " << GetLastError();
        ASSERT_TRUE(qebsim::SetPowerFlags(0));
        StartService();
        EndHelpers();
    }
    void TearDown() override { EndHelpers(); }

    // Starts the service if needed and waits until its monitor listens.
    void StartService() {
        SERVICE_STATUS_PROCESS status = {};
        if (!qebsim::ServiceQuery(kService, &status) || status.dwCurrentState != SERVICE_RUNNING) {
            ASSERT_TRUE(qebsim::ServiceStart(kService)) << "error " << GetLastError();
        }
        ASSERT_TRUE(qebsim::ServiceWaitState(kService, SERVICE_RUNNING, 20000, &status));
        servicePid_ = status.dwProcessId;
        for (int i = 0; i < 500; ++i) {
            QEBSIM_STATE state = {};
            if (qebsim::GetState(&state) && state.pending_waits >= 1) return;
            Sleep(10);
        }
        FAIL() << "the service's monitor does not wait on the device";
    }

    void StopService() {
        SERVICE_STATUS_PROCESS status = {};
        if (qebsim::ServiceQuery(kService, &status) && status.dwCurrentState != SERVICE_STOPPED) {
            qebsim::ServiceStop(kService);
            qebsim::ServiceWaitState(kService, SERVICE_STOPPED, 20000);
        }
        // The process ends right after it reports the stop.
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, servicePid_);
        if (process != nullptr) {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }

    // Ends every helper dialog still on the desktop (helpers of earlier tests).
    static void EndHelpers() {
        for (const auto& d : qebtest::FindHelperDialogs()) {
            HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, d.pid);
            if (p != nullptr) {
                TerminateProcess(p, 0);
                WaitForSingleObject(p, 5000);
                CloseHandle(p);
            }
        }
    }

    // The first helper dialog whose text satisfies pred, waiting up to timeoutMs.
    template <typename Pred>
    qebtest::HelperDialog WaitForDialog(Pred pred, DWORD timeoutMs) {
        DWORD start = GetTickCount();
        do {
            for (const auto& d : qebtest::FindHelperDialogs())
                if (pred(d)) return d;
            qebtest::PumpMessages(20);
        } while (GetTickCount() - start < timeoutMs);
        return {};
    }

    static bool installed_;
    DWORD servicePid_ = 0;
};
bool ServiceSession::installed_ = false;

bool IsCountdown(const qebtest::HelperDialog& d) { return d.text.rfind(L"System will hibernate after", 0) == 0; }

// ---- volume keys -----------------------------------------------------------------

struct VolumeCase {
    const char* name;
    bool byControl;   // custom service control instead of a firmware event
    DWORD trigger;    // event code or control
    DWORD vk;
};

void PrintTo(const VolumeCase& c, std::ostream* os) { *os << c.name; }

class VolumeKeyTest : public ServiceSession, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(VolumeKeyTest, HelperPressesAndReleasesTheKeyOnceOnTheDesktop) {
    qebtest::KeyRecorder keys;
    ASSERT_TRUE(keys.installed()) << "hook error " << GetLastError();
    if (GetParam().byControl) {
        ASSERT_TRUE(qebsim::ServiceControl(kService, GetParam().trigger)) << "error " << GetLastError();
    } else {
        QEBSIM_RAISE_RESULT raised = {};
        ASSERT_TRUE(qebsim::RaiseEvent(GetParam().trigger, &raised));
        ASSERT_EQ(1u, raised.listeners);
    }
    ASSERT_TRUE(keys.WaitForKeys(2, 20000)) << "keys seen: " << keys.Take().size();
    keys.Pump(1000);  // nothing more may follow
    auto seen = keys.Take();
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(GetParam().vk, seen[0].vk);
    EXPECT_FALSE(seen[0].up) << "first event is not a key-down";
    EXPECT_EQ(GetParam().vk, seen[1].vk);
    EXPECT_TRUE(seen[1].up) << "second event is not a key-up";
    for (const auto& k : seen) EXPECT_TRUE(k.flags & LLKHF_EXTENDED) << "flags 0x" << std::hex << k.flags;
}

INSTANTIATE_TEST_SUITE_P(Triggers, VolumeKeyTest,
                         ::testing::Values(VolumeCase{"event_1003", false, 0x1003, VK_VOLUME_UP},
                                           VolumeCase{"control_128", true, 128, VK_VOLUME_UP},
                                           VolumeCase{"event_1004", false, 0x1004, VK_VOLUME_DOWN},
                                           VolumeCase{"control_129", true, 129, VK_VOLUME_DOWN}),
                         [](const ::testing::TestParamInfo<VolumeCase>& info) { return std::string(info.param.name); });

TEST_F(ServiceSession, RepeatedVolumeLaunchesLeaveNoHandleInTheService) {
    qebtest::KeyRecorder keys;
    // Warm-up: lazily bound libraries and their handles are in place after it.
    ASSERT_TRUE(qebsim::ServiceControl(kService, 128));
    ASSERT_TRUE(keys.WaitForKeys(2, 20000));
    keys.Pump(500);
    const long before = qebtest::CountProcessHandles(servicePid_);
    ASSERT_GT(before, 0) << "handle table not readable";
    const int kLaunches = 10;
    keys.Take();
    for (int i = 0; i < kLaunches; ++i) {
        ASSERT_TRUE(qebsim::ServiceControl(kService, 128)) << "launch " << i;
        // The hook is served only while this thread pumps its messages.
        EXPECT_TRUE(keys.WaitForKeys(2 * (i + 1), 20000)) << "launch " << i;
    }
    keys.Pump(500);
    EXPECT_EQ(static_cast<size_t>(2 * kLaunches), keys.Take().size());
    EXPECT_EQ(before, qebtest::CountProcessHandles(servicePid_)) << "after " << kLaunches << " launches";
}

// ---- Ctrl+Alt+Del ------------------------------------------------------------------

TEST_F(ServiceSession, CadEventSetsThePolicyAndSendsSas) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
    DWORD zero = 0;
    RegSetValueExW(key, kSasValue, 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), sizeof(zero));
    uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1031));
    QEBSIM_RECORD note = {};
    EXPECT_TRUE(qebsim::WaitForJournal(
        from, [](const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_SAS, L"SendSAS(0)"); }, 10000, &note));
    DWORD type = 0, value = 0, size = sizeof(value);
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, kSasValue, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(1u, value);
    RegCloseKey(key);
}

// ---- power loss ----------------------------------------------------------------------

struct TextSeen {
    std::wstring text;
    DWORD at;  // ms after the dialog was first seen
};

// Follows a countdown dialog's text until the dialog closes (or timeoutMs).
// `start`: when the dialog was found; `suspendedEarly` (optional): whether a
// SetSuspendState call was journaled (from `from` on) while the dialog was
// still counting.
std::vector<TextSeen> FollowCountdown(HWND dialog, DWORD start, DWORD timeoutMs, bool* closed,
                                      const wchar_t* clickOkAt = nullptr, uint32_t from = 0,
                                      bool* suspendedEarly = nullptr) {
    std::vector<TextSeen> seen;
    *closed = false;
    while (GetTickCount() - start < timeoutMs) {
        if (!IsWindow(dialog) || !IsWindowVisible(dialog)) {
            *closed = true;
            break;
        }
        std::wstring text = qebtest::DialogText(dialog);
        if (!text.empty() && (seen.empty() || seen.back().text != text)) {
            seen.push_back({text, GetTickCount() - start});
            if (suspendedEarly != nullptr && CountRecords(from, IsAnySuspendNote) != 0) *suspendedEarly = true;
            if (clickOkAt != nullptr && text == clickOkAt) {
                SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
            }
        }
        qebtest::PumpMessages(15);
    }
    return seen;
}

std::string Describe(const std::vector<TextSeen>& seen) {
    std::string s;
    for (const auto& t : seen) s += "[" + std::to_string(t.at) + " ms] " + Narrow(t.text) + "\n";
    return s;
}

// A helper process, opened as soon as its dialog is found (an ended process
// can no longer be opened by its id).
class HelperProcess {
public:
    explicit HelperProcess(DWORD pid) : handle_(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid)) {}
    ~HelperProcess() {
        if (handle_ != nullptr) CloseHandle(handle_);
    }
    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;
    // Exit code once it has ended, 0xBAD when it did not end in time.
    DWORD WaitExit(DWORD timeoutMs) {
        DWORD code = 0xBAD;
        if (handle_ != nullptr && WaitForSingleObject(handle_, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(handle_, &code);
        return code;
    }

private:
    HANDLE handle_;
};

TEST_F(ServiceSession, PowerLossCountsDownHibernatesAndShowsTheResumeNotice) {
    uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto countdown = WaitForDialog(IsCountdown, 20000);
    ASSERT_NE(nullptr, countdown.hwnd) << "no countdown dialog on the desktop";
    HelperProcess helper(countdown.pid);
    EXPECT_EQ("System will hibernate after 5 seconds.", Narrow(countdown.text));
    EXPECT_TRUE(GetWindowLongW(countdown.hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_FALSE(GetWindowLongW(countdown.hwnd, GWL_STYLE) & WS_CAPTION) << "dialog has a title bar";
    qebtest::PumpMessages(300);
    EXPECT_TRUE(qebtest::SaveScreenshot(qebtest::ArtifactPath("session-countdown.bmp")));

    bool closed = false;
    bool suspendedEarly = false;
    auto seen = FollowCountdown(countdown.hwnd, countdown.foundAt, 15000, &closed, nullptr, from, &suspendedEarly);
    ASSERT_TRUE(closed) << Describe(seen);
    EXPECT_FALSE(suspendedEarly) << "hibernated before the countdown ended";
    // Texts in order: 5 (template, then the first tick), 4, 3, 2, 1 singular;
    // the 0 text lives only for the instant before the dialog closes.
    std::vector<std::string> expected = {
        "System will hibernate after 5 seconds.", "System will hibernate after 4 seconds.",
        "System will hibernate after 3 seconds.", "System will hibernate after 2 seconds.",
        "System will hibernate after 1 second."};
    std::vector<std::string> got;
    for (const auto& t : seen)
        if (t.text != L"System will hibernate after 0 second.") got.push_back(Narrow(t.text));
    EXPECT_EQ(expected, got) << Describe(seen);
    ASSERT_GE(seen.size(), 2u);
    // 5 stays for two ticks (the template, then n = 5), every later text for one.
    EXPECT_GE(seen[1].at, 1300u) << "5 is shown at 0 s and at 1 s\n" << Describe(seen);

    EXPECT_TRUE(qebsim::WaitForJournal(from, IsSuspendNote, 5000)) << "no SetSuspendState(1,1,1)";
    auto notice = WaitForDialog([&](const qebtest::HelperDialog& d) { return d.text == kResumeNotice; }, 10000);
    ASSERT_NE(nullptr, notice.hwnd) << "no resume notice";
    EXPECT_EQ(countdown.pid, notice.pid);
    HWND ok = GetDlgItem(notice.hwnd, IDOK);
    ASSERT_NE(nullptr, ok);
    wchar_t okText[16] = L"";
    GetWindowTextW(ok, okText, 16);
    EXPECT_EQ("OK", Narrow(okText));
    qebtest::PumpMessages(2500);
    EXPECT_EQ(Narrow(kResumeNotice), Narrow(qebtest::DialogText(notice.hwnd))) << "the notice counts down";
    EXPECT_TRUE(IsWindowVisible(notice.hwnd)) << "the notice closed by itself";
    EXPECT_TRUE(qebtest::SaveScreenshot(qebtest::ArtifactPath("session-resume-notice.bmp")));
    EXPECT_EQ(1, CountRecords(from, IsAnySuspendNote));

    SendMessageW(ok, BM_CLICK, 0, 0);
    EXPECT_EQ(0u, helper.WaitExit(10000)) << "helper exit code";
}

TEST_F(ServiceSession, OkAtTheThirdSecondHibernatesAtOnce) {
    uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto countdown = WaitForDialog(IsCountdown, 20000);
    ASSERT_NE(nullptr, countdown.hwnd);
    HelperProcess helper(countdown.pid);
    bool closed = false;
    auto seen = FollowCountdown(countdown.hwnd, countdown.foundAt, 15000, &closed,
                                L"System will hibernate after 3 seconds.");
    ASSERT_TRUE(closed) << Describe(seen);
    EXPECT_EQ("System will hibernate after 3 seconds.", Narrow(seen.back().text)) << Describe(seen);
    QEBSIM_RECORD suspend = {};
    EXPECT_TRUE(qebsim::WaitForJournal(from, IsSuspendNote, 3000, &suspend));
    auto notice = WaitForDialog([&](const qebtest::HelperDialog& d) { return d.text == kResumeNotice; }, 10000);
    ASSERT_NE(nullptr, notice.hwnd);
    EXPECT_EQ(countdown.pid, notice.pid);
    SendMessageW(GetDlgItem(notice.hwnd, IDOK), BM_CLICK, 0, 0);
    EXPECT_EQ(0u, helper.WaitExit(10000));
}

TEST_F(ServiceSession, SecondPowerLossReplacesTheFirstHelper) {
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto first = WaitForDialog(IsCountdown, 20000);
    ASSERT_NE(nullptr, first.hwnd);
    HelperProcess firstProcess(first.pid);
    qebtest::PumpMessages(1500);
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto second = WaitForDialog([&](const qebtest::HelperDialog& d) { return IsCountdown(d) && d.pid != first.pid; },
                                20000);
    ASSERT_NE(nullptr, second.hwnd) << "no second helper";
    HelperProcess secondProcess(second.pid);
    EXPECT_EQ("System will hibernate after 5 seconds.", Narrow(second.text));
    EXPECT_EQ(0xFFFFFFFFu, firstProcess.WaitExit(10000)) << "first helper's exit code";
    EXPECT_TRUE(IsWindowVisible(second.hwnd));
    // The newest helper is ended by the next power loss: a third one ends it.
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto third = WaitForDialog(
        [&](const qebtest::HelperDialog& d) { return IsCountdown(d) && d.pid != first.pid && d.pid != second.pid; },
        20000);
    ASSERT_NE(nullptr, third.hwnd);
    EXPECT_EQ(0xFFFFFFFFu, secondProcess.WaitExit(10000)) << "second helper's exit code";
}

// A hibernation that Windows refuses: the helper reports it in a system-modal
// box and shows no resume notice.
class RefusedHibernation : public ServiceSession {
protected:
    void SetUp() override {
        ServiceSession::SetUp();
        const DWORD notSupported = ERROR_NOT_SUPPORTED;
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\QEBSim\\PowrProf",
                                                 L"SetSuspendStateError", REG_DWORD, &notSupported,
                                                 sizeof(notSupported)));
    }
    void TearDown() override {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\QEBSim\\PowrProf", L"SetSuspendStateError");
        ServiceSession::TearDown();
    }
};

TEST_F(RefusedHibernation, HelperShowsTheErrorAndNoResumeNotice) {
    uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    auto countdown = WaitForDialog(IsCountdown, 20000);
    ASSERT_NE(nullptr, countdown.hwnd);
    HelperProcess helper(countdown.pid);
    SendMessageW(GetDlgItem(countdown.hwnd, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(qebsim::WaitForJournal(
        from, [](const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_POWRPROF, L"SetSuspendState(1,1,1) refused, error 50"); },
        5000));
    qebtest::MessageBoxSeen box;
    for (DWORD start = GetTickCount(); box.hwnd == nullptr && GetTickCount() - start < 10000;) {
        for (const auto& b : qebtest::FindMessageBoxes())
            if (b.pid == countdown.pid) box = b;
        qebtest::PumpMessages(20);
    }
    ASSERT_NE(nullptr, box.hwnd) << "no error box from the helper";
    EXPECT_EQ("QEBI", Narrow(box.caption));
    EXPECT_EQ("System could not hibernate after the power loss event (error 50).", Narrow(box.text));
    EXPECT_TRUE(GetWindowLongW(box.hwnd, GWL_EXSTYLE) & WS_EX_TOPMOST) << "not system-modal";
    EXPECT_TRUE(qebtest::SaveScreenshot(qebtest::ArtifactPath("session-hibernation-refused.bmp")));
    qebtest::PumpMessages(1500);
    for (const auto& d : qebtest::FindHelperDialogs()) EXPECT_NE(Narrow(kResumeNotice), Narrow(d.text));
    SendMessageW(box.hwnd, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0u, helper.WaitExit(10000)) << "helper exit code";
    EXPECT_TRUE(qebtest::FindHelperDialogs().empty()) << "a resume notice followed the error";
}

// ---- a short completion of the event wait --------------------------------------------------

bool IsSas(const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_SAS, L"SendSAS(0)"); }

TEST_F(ServiceSession, ShortCompletionAfterCadSendsNoSecondSas) {
    const uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1031));
    ASSERT_TRUE(qebsim::WaitForJournal(from, IsSas, 10000)) << "no SendSAS for the CAD event";
    // The next completion carries no byte: the service's buffer still holds
    // 0x1031 from the CAD event.
    ASSERT_TRUE(qebsim::ShortNext(0));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(qebsim::WaitForJournal(from, [](const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_EVENT_SHORT; },
                                       5000));
    // A whole event afterwards: by its delivery the short one was handled.
    const uint32_t after = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(qebsim::WaitForJournal(
        after, [](const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_EVENT_DELIVERED && r.code == 0x1001; },
        5000))
        << "the monitor stopped waiting after the short completion";
    EXPECT_EQ(1, CountRecords(from, IsSas)) << "the short completion replayed the CAD event";
}

// ---- pending hibernation at service start ------------------------------------------------

struct StartFlagsCase {
    const char* name;
    uint32_t flags;
    bool failRequest;
    bool hibernates;
};

void PrintTo(const StartFlagsCase& c, std::ostream* os) { *os << c.name; }

class StartFlagsTest : public ServiceSession, public ::testing::WithParamInterface<StartFlagsCase> {};

TEST_P(StartFlagsTest, HibernatesAtOnceOnlyWhenAsked) {
    StopService();
    ASSERT_TRUE(qebsim::SetPowerFlags(GetParam().flags));
    if (GetParam().failRequest) {
        ASSERT_TRUE(qebsim::FailNext(1));
    }
    uint32_t from = qebsim::NextSeq();
    StartService();
    EXPECT_TRUE(qebsim::WaitForJournal(from, IsPowerFlagsFrame, 10000)) << "no KNVS 9 request at start";
    bool suspended = qebsim::WaitForJournal(from, IsSuspendNote, GetParam().hibernates ? 10000 : 2000);
    EXPECT_EQ(GetParam().hibernates, suspended);
    EXPECT_EQ(GetParam().hibernates ? 1 : 0, CountRecords(from, IsAnySuspendNote));
    EXPECT_TRUE(qebtest::FindHelperDialogs().empty()) << "a dialog appeared";
    qebsim::FailNext(0);
    qebsim::SetPowerFlags(0);
}

INSTANTIATE_TEST_SUITE_P(Flags, StartFlagsTest,
                         ::testing::Values(StartFlagsCase{"flags_4", 4, false, true},
                                           StartFlagsCase{"flags_3", 3, false, false},
                                           StartFlagsCase{"request_failed", 4, true, false}),
                         [](const ::testing::TestParamInfo<StartFlagsCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], qebtest::kWinlogonListenerSwitch) == 0)
        return qebtest::RunWinlogonListener(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    qebsim::ServiceStop(kService);
    return rc;
}
