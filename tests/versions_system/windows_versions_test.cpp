// Both programs on each Windows the kit is sold for, as Wine reports it to
// them (HKCU\Software\Wine\AppDefaults\<program>.exe, value Version): the
// service acts on a volume key, a Ctrl+Alt+Del button, a power loss and a
// health event; Tovrel opens with its panels filled and a radio switch
// answers through its exit code. Below Windows 6 the Ctrl+Alt+Del button and
// the "-CAD" mode post the Winlogon hot key instead of calling SendSAS: a
// listener process of this program sits where Windows has that desktop,
// "WinSta0\Winlogon" (never in the service's own window station), and records
// every WM_HOTKEY it receives. Vista has no sas.dll: the button does nothing
// there and leaves the policy alone.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "../common/process_files.h"
#include "desktop_probe.h"
#include "winlogon_listener.h"
#include "qebsim/client.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kInstallDir[] = L"C:\\Program Files\\Kestil\\QEB";
const wchar_t kServicePath[] = L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe";
const wchar_t kTovrelPath[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
const wchar_t kCaption[] = L"Kestil Desktop BIOS Test Application";
const wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
const wchar_t kSasValue[] = L"SoftwareSASGeneration";
const wchar_t kResumeNotice[] = L"There has been a power loss event, system resume from hibernation.";
const char kGreenToRedTrace[] =
    "trace:eventlog:ReportEventW L\"Error code:4, System healthy status changed from Green to Red\\n\\n\"";
const wchar_t kStandInSas[] = L"C:\\Program Files\\Kestil\\QEB\\sas.dll";
const wchar_t kStandInSasAside[] = L"C:\\Program Files\\Kestil\\QEB\\sas.dll.aside";
const wchar_t kServiceDllOverrides[] = L"Software\\Wine\\AppDefaults\\QEBEvent.exe\\DllOverrides";

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }


// ---- the versions ---------------------------------------------------------------

// What the service's Ctrl+Alt+Del button does on a version.
enum CadAction {
    kCadHotKey,  // below 6: the hot key on WinSta0\Winlogon
    kCadSendSas,  // 6 and later with sas.dll: the policy value, then SendSAS
    kCadNothing,  // Vista: no sas.dll, nothing changed
};

struct VersionCase {
    const char* name;
    const wchar_t* wineVersion;  // AppDefaults value
    CadAction cad;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

bool SetReportedVersion(const wchar_t* program, const wchar_t* version) {
    std::wstring key = std::wstring(L"Software\\Wine\\AppDefaults\\") + program;
    return RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Version", REG_SZ, version,
                           static_cast<DWORD>((wcslen(version) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool IsNote(const QEBSIM_RECORD& r, uint32_t source, const wchar_t* text) {
    return r.kind == QEBSIM_REC_NOTE && r.code == source && qebsim::NoteText(r) == text;
}
bool IsSas(const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_SAS, L"SendSAS(0)"); }
bool IsSuspend(const QEBSIM_RECORD& r) { return IsNote(r, QEBSIM_NOTE_POWRPROF, L"SetSuspendState(1,1,1)"); }

std::string ServicesLog() {
    const char* unixPrefix = getenv("QEB_PREFIX_UNIX");
    std::wstring path = L"Z:";
    for (const char* p = unixPrefix ? unixPrefix : ""; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return qebtest::ReadFileText(path + L"\\services.log");
}

bool PolicyValue(DWORD* value) {
    DWORD size = sizeof(*value);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kSasValue, RRF_RT_REG_DWORD, nullptr, value, &size) ==
           ERROR_SUCCESS;
}

// A program run to its end: its exit code, or 0xBAD when it did not end.
// (Re)starts the service, which reads its version and DLL overrides when its
// process starts, and waits until its monitor waits on the device. The
// service's process id in *pid when asked for.
void RestartService(DWORD* pid = nullptr) {
    if (!qebsim::ServiceInstall(kService, kServicePath, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START)) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());
    }
    SERVICE_STATUS_PROCESS status = {};
    if (qebsim::ServiceQuery(kService, &status) && status.dwCurrentState != SERVICE_STOPPED) {
        qebsim::ServiceStop(kService);
        ASSERT_TRUE(qebsim::ServiceWaitState(kService, SERVICE_STOPPED, 20000));
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
        if (process != nullptr) {
            WaitForSingleObject(process, 10000);
            CloseHandle(process);
        }
    }
    ASSERT_TRUE(qebsim::ServiceStart(kService)) << "error " << GetLastError();
    ASSERT_TRUE(qebsim::ServiceWaitState(kService, SERVICE_RUNNING, 20000, &status));
    if (pid != nullptr) *pid = status.dwProcessId;
    for (int i = 0; i < 500; ++i) {
        QEBSIM_STATE state = {};
        if (qebsim::GetState(&state) && state.pending_waits >= 1) return;
        Sleep(10);
    }
    FAIL() << "the service's monitor does not wait on the device";
}

class WindowsVersion : public ::testing::TestWithParam<VersionCase> {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetReportedVersion(L"QEBEvent.exe", GetParam().wineVersion));
        ASSERT_TRUE(SetReportedVersion(L"Tovrel.exe", GetParam().wineVersion));
        // Vista as it is: no sas.dll for the service, neither Wine's own nor
        // the stand-in beside it.
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kServiceDllOverrides, L"sas");
        if (GetFileAttributesW(kStandInSasAside) != INVALID_FILE_ATTRIBUTES) MoveFileW(kStandInSasAside, kStandInSas);
        if (GetParam().cad == kCadNothing) {
            ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kServiceDllOverrides, L"sas", REG_SZ, L"", 2));
            ASSERT_TRUE(MoveFileW(kStandInSas, kStandInSasAside)) << "error " << GetLastError();
        }
        ASSERT_TRUE(qebsim::SetPowerFlags(0));
        ASSERT_TRUE(qebsim::SetHealth(0x00400001));
        RestartService();
    }
    void TearDown() override {
        qebsim::ServiceStop(kService);
        qebsim::ServiceWaitState(kService, SERVICE_STOPPED, 20000);
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kServiceDllOverrides, L"sas");
        if (GetFileAttributesW(kStandInSasAside) != INVALID_FILE_ATTRIBUTES) MoveFileW(kStandInSasAside, kStandInSas);
    }
};

TEST_P(WindowsVersion, ServiceActsOnVolumeCadPowerLossAndHealth) {
    const VersionCase& v = GetParam();
    // The volume key, pressed by a helper on the user's desktop.
    {
        qebtest::KeyRecorder keys;
        ASSERT_TRUE(keys.installed());
        ASSERT_TRUE(qebsim::RaiseEvent(0x1003));
        ASSERT_TRUE(keys.WaitForKeys(2, 20000)) << "keys seen: " << keys.Take().size();
        auto seen = keys.Take();
        EXPECT_EQ(static_cast<DWORD>(VK_VOLUME_UP), seen[0].vk);
        EXPECT_FALSE(seen[0].up);
        EXPECT_TRUE(seen[1].up);
    }

    // Ctrl+Alt+Del: SendSAS with the policy value from Windows 6 on; the
    // Winlogon hot key on the interactive window station's Winlogon desktop
    // below it; nothing at all where there is no sas.dll.
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kSasValue);
    {
        qebtest::WinlogonListener listener(L"WinSta0", L"C:\\winlogon-service.txt");
        ASSERT_NE(std::string::npos, listener.Text().find("ready Winlogon")) << listener.Text();
        const uint32_t from = qebsim::NextSeq();
        ASSERT_TRUE(qebsim::RaiseEvent(0x1031));
        // The next whole event is acted on after the CAD event's action.
        qebtest::KeyRecorder keys;
        ASSERT_TRUE(qebsim::RaiseEvent(0x1004));
        ASSERT_TRUE(keys.WaitForKeys(2, 20000)) << "the service stopped acting after the CAD event";
        DWORD value = 0;
        if (v.cad == kCadSendSas) {
            EXPECT_TRUE(qebsim::WaitForJournal(from, IsSas, 5000)) << "no SendSAS(0)";
            ASSERT_TRUE(PolicyValue(&value)) << "no policy value written";
            EXPECT_EQ(1u, value);
            EXPECT_TRUE(listener.HotKeys(1, 500).empty()) << "a hot key as well as SendSAS";
        } else if (v.cad == kCadNothing) {
            EXPECT_FALSE(qebsim::WaitForJournal(from, IsSas, 500)) << "SendSAS without sas.dll";
            EXPECT_FALSE(PolicyValue(&value)) << "policy value written with no SendSAS to use it: " << value;
            EXPECT_TRUE(listener.HotKeys(1, 500).empty()) << "a hot key on Windows 6";
        } else {
            std::vector<std::string> hotKeys = listener.HotKeys(1, 5000);
            ASSERT_EQ(1u, hotKeys.size()) << listener.Text();
            EXPECT_EQ(qebtest::kWinlogonHotKey, hotKeys[0]);
            EXPECT_FALSE(qebsim::WaitForJournal(from, IsSas, 500)) << "SendSAS below Windows 6";
            EXPECT_FALSE(PolicyValue(&value)) << "policy value written below Windows 6: " << value;
        }
    }

    // A power loss: the countdown, answered at once; the hibernation; the
    // resume notice.
    {
        const uint32_t from = qebsim::NextSeq();
        ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
        qebtest::HelperDialog countdown;
        for (DWORD start = GetTickCount(); !countdown.hwnd && GetTickCount() - start < 20000;) {
            for (const auto& d : qebtest::FindHelperDialogs())
                if (d.text.rfind(L"System will hibernate after", 0) == 0) countdown = d;
            qebtest::PumpMessages(20);
        }
        ASSERT_NE(nullptr, countdown.hwnd) << "no countdown dialog";
        SendMessageW(GetDlgItem(countdown.hwnd, IDOK), BM_CLICK, 0, 0);
        EXPECT_TRUE(qebsim::WaitForJournal(from, IsSuspend, 10000)) << "no SetSuspendState(1,1,1)";
        qebtest::HelperDialog notice;
        for (DWORD start = GetTickCount(); !notice.hwnd && GetTickCount() - start < 10000;) {
            for (const auto& d : qebtest::FindHelperDialogs())
                if (d.text == kResumeNotice) notice = d;
            qebtest::PumpMessages(20);
        }
        ASSERT_NE(nullptr, notice.hwnd) << "no resume notice";
        SendMessageW(GetDlgItem(notice.hwnd, IDOK), BM_CLICK, 0, 0);
    }

    // A health event: its entry in the event log (Wine traces the text).
    {
        const size_t offset = ServicesLog().size();
        ASSERT_TRUE(qebsim::RaiseEvent(0x1042));
        std::string added;
        for (int i = 0; i < 250 && added.find(kGreenToRedTrace) == std::string::npos; ++i) {
            Sleep(20);
            added = ServicesLog().substr(offset);
        }
        EXPECT_NE(std::string::npos, added.find(kGreenToRedTrace)) << added.substr(0, 2000);
    }
}

TEST_P(WindowsVersion, CadModePostsTheWinlogonHotKey) {
    // "-CAD" posts the hot key on every version (the service uses it only
    // below Windows 6).
    qebtest::WinlogonListener listener(L"WinSta0", L"C:\\winlogon-desktop.txt");
    ASSERT_NE(std::string::npos, listener.Text().find("ready Winlogon")) << listener.Text();
    EXPECT_EQ(0u, qebtest::RunToExit(L"\"" + std::wstring(kServicePath) + L"\" -CAD", kInstallDir, 20000));
    std::vector<std::string> hotKeys = listener.HotKeys(1, 5000);
    ASSERT_EQ(1u, hotKeys.size()) << listener.Text();
    EXPECT_EQ(qebtest::kWinlogonHotKey, hotKeys[0]);
}

TEST_P(WindowsVersion, TovrelFillsItsPanelsAndSwitchesTheRadio) {
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_WIFI, 1));  // present, off
    EXPECT_EQ(0u, qebtest::RunToExit(L"\"" + std::wstring(kTovrelPath) + L"\" /wlon", kInstallDir, 20000));
    QEBSIM_STATE state = {};
    ASSERT_TRUE(qebsim::GetState(&state));
    EXPECT_EQ(3, state.features[QEB_FEAT_WIFI]) << "the radio is not on";

    std::wstring cmd = L"\"" + std::wstring(kTovrelPath) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(kTovrelPath, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, kInstallDir, &si, &pi));
    HWND dialog = nullptr;
    for (int i = 0; i < 400 && dialog == nullptr; ++i) {
        HWND w = FindWindowW(nullptr, kCaption);
        DWORD owner = 0;
        if (w) GetWindowThreadProcessId(w, &owner);
        if (w && owner == pi.dwProcessId && IsWindowVisible(w)) dialog = w;
        else Sleep(50);
    }
    EXPECT_NE(nullptr, dialog) << "the dialog did not open";
    if (dialog != nullptr) {
        const int statusControls[] = {200, 203, 206, 208, 230, 232, 235, 1025, 1027, 1038, 1039, 1040};
        for (int id : statusControls) {
            wchar_t text[512] = L"";
            DWORD_PTR got = 0;
            SendMessageTimeoutW(GetDlgItem(dialog, id), WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                                5000, &got);
            EXPECT_NE(0u, got) << "panel " << id << " is empty";
            EXPECT_EQ(nullptr, wcsstr(text, L"Failed")) << "panel " << id << ": " << Narrow(text);
        }
        PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

INSTANTIATE_TEST_SUITE_P(Versions, WindowsVersion,
                         ::testing::Values(VersionCase{"winxp", L"winxp", kCadHotKey},
                                           VersionCase{"vista", L"vista", kCadNothing},
                                           VersionCase{"win7", L"win7", kCadSendSas},
                                           VersionCase{"win10", L"win10", kCadSendSas}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return std::string(info.param.name); });

// ---- Vista: no sas.dll in System32, one planted in a PATH folder ------------

// Vista as it is for the service: no sas.dll in System32 (Wine's own moved
// aside, and only native DLLs for sas, so Wine's built-in one cannot stand
// in for it), none beside the program. A folder of the system's PATH that
// no earlier step of the search covers gets a working sas.dll (the
// stand-in, which journals SendSAS); on a real PC that is any folder a user
// can write and an installer added to PATH. Searched by bare name, that DLL
// would run as SYSTEM. (A service takes its PATH from the service manager's
// environment, fixed when it started: the test uses a folder already there.)
const wchar_t kPathFolder[] = L"C:\\windows\\system32\\wbem";
const wchar_t kPlantedSas[] = L"C:\\windows\\system32\\wbem\\sas.dll";
const wchar_t kEnvironmentKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

std::wstring SystemFile(const wchar_t* name) {
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\" + name;
}

std::wstring RegistryString(HKEY root, const wchar_t* key, const wchar_t* value) {
    wchar_t data[4096] = L"";
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegGetValueW(root, key, value, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, data, &size) !=
        ERROR_SUCCESS)
        return L"";
    return data;
}

// Lower-case paths of the modules a process has loaded.
std::vector<std::wstring> LoadedModules(DWORD pid) {
    std::vector<std::wstring> modules;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (snap == INVALID_HANDLE_VALUE) return modules;
    MODULEENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Module32FirstW(snap, &entry); ok; ok = Module32NextW(snap, &entry)) {
        std::wstring path = entry.szExePath;
        CharLowerBuffW(&path[0], static_cast<DWORD>(path.size()));
        modules.push_back(path);
    }
    CloseHandle(snap);
    return modules;
}

bool Contains(const std::vector<std::wstring>& modules, const std::wstring& path) {
    std::wstring lower = path;
    CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
    for (const auto& m : modules)
        if (m == lower) return true;
    return false;
}

std::string Joined(const std::vector<std::wstring>& modules) {
    std::string all;
    for (const auto& m : modules) all += Narrow(m) + " ";
    return all;
}

class VistaSasSearch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetReportedVersion(L"QEBEvent.exe", L"vista"));
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kServiceDllOverrides, L"sas", REG_SZ, L"native",
                                                 sizeof(L"native")));
        systemSas_ = SystemFile(L"sas.dll");
        systemSasAside_ = systemSas_ + L".aside";
        if (GetFileAttributesW(systemSas_.c_str()) != INVALID_FILE_ATTRIBUTES) {
            ASSERT_TRUE(MoveFileW(systemSas_.c_str(), systemSasAside_.c_str())) << "error " << GetLastError();
        }
        ASSERT_TRUE(MoveFileW(kStandInSas, kStandInSasAside)) << "error " << GetLastError();
        std::wstring path = RegistryString(HKEY_LOCAL_MACHINE, kEnvironmentKey, L"PATH");
        CharLowerBuffW(&path[0], static_cast<DWORD>(path.size()));
        ASSERT_NE(std::wstring::npos, path.find(L"\\system32\\wbem")) << Narrow(path);  // %SystemRoot%\...
        CreateDirectoryW(kPathFolder, nullptr);
        ASSERT_TRUE(CopyFileW(kStandInSasAside, kPlantedSas, FALSE)) << "error " << GetLastError();
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPolicyKey, kSasValue);
        ASSERT_TRUE(qebsim::SetHealth(0x00400001));
        RestartService(&pid_);
    }
    void TearDown() override {
        qebsim::ServiceStop(kService);
        qebsim::ServiceWaitState(kService, SERVICE_STOPPED, 20000);
        DeleteFileW(kPlantedSas);
        if (GetFileAttributesW(kStandInSasAside) != INVALID_FILE_ATTRIBUTES) MoveFileW(kStandInSasAside, kStandInSas);
        if (GetFileAttributesW(systemSasAside_.c_str()) != INVALID_FILE_ATTRIBUTES)
            MoveFileW(systemSasAside_.c_str(), systemSas_.c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kServiceDllOverrides, L"sas");
    }
    // The Ctrl+Alt+Del button, then a volume key to know its action is over.
    void PressCad(uint32_t* from) {
        *from = qebsim::NextSeq();
        ASSERT_TRUE(qebsim::RaiseEvent(0x1031));
        qebtest::KeyRecorder keys;
        ASSERT_TRUE(qebsim::RaiseEvent(0x1004));
        ASSERT_TRUE(keys.WaitForKeys(2, 20000)) << "the service stopped acting after the CAD event";
    }
    std::wstring systemSas_, systemSasAside_;
    DWORD pid_ = 0;
};

TEST_F(VistaSasSearch, ASasDllOnThePathIsNeverLoaded) {
    uint32_t from = 0;
    PressCad(&from);
    EXPECT_FALSE(Contains(LoadedModules(pid_), kPlantedSas)) << Joined(LoadedModules(pid_));
    EXPECT_FALSE(qebsim::WaitForJournal(from, IsSas, 500)) << "SendSAS from the DLL on the PATH";
    DWORD value = 0;
    EXPECT_FALSE(PolicyValue(&value)) << "policy value written: " << value;
}

TEST_F(VistaSasSearch, TheOneBesideTheProgramIsStillTaken) {
    ASSERT_TRUE(MoveFileW(kStandInSasAside, kStandInSas)) << "error " << GetLastError();
    ASSERT_NO_FATAL_FAILURE(RestartService(&pid_));
    uint32_t from = 0;
    PressCad(&from);
    const std::vector<std::wstring> modules = LoadedModules(pid_);
    EXPECT_TRUE(Contains(modules, kStandInSas)) << Joined(modules);
    EXPECT_FALSE(Contains(modules, kPlantedSas)) << Joined(modules);
    EXPECT_TRUE(qebsim::WaitForJournal(from, IsSas, 5000)) << "no SendSAS(0)";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && strcmp(argv[1], qebtest::kWinlogonListenerSwitch) == 0)
        return qebtest::RunWinlogonListener(argv[2]);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    qebsim::ServiceStop(kService);
    return rc;
}
