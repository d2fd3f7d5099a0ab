// QEBCheck on the simulated PC. The kit is installed with its package as on
// a real PC; QEBCheck runs from the build's folder (as from a USB stick) in
// a folder of its own, and this test plays the operator: it reads each
// prompt from QEBCheck's output and does on the simulated PC what the prompt
// asks of a real one, which is raising the firmware event the PC's button or
// power supply would raise (with the control tool, qebictl). QEBCheck sees
// the effects itself. Then a silent operator, and the negative table: one
// fault each, its FAIL line, a non-zero exit code and the whole report.
// The tests build on each other and run in the order written.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "../common/process_files.h"
#include "msiexec_run.h"
#include "qebsim/client.h"

namespace {

const wchar_t kRunDir[] = L"C:\\qebcheck-run";
const wchar_t kInstallDir[] = L"C:\\Program Files\\Kestil\\QEB\\";
const wchar_t kEventSourceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QEBI";
const wchar_t kPowrProfKey[] = L"Software\\QEBSim\\PowrProf";
#ifdef _WIN64
const char kBits[] = "64-bit";
#else
const char kBits[] = "32-bit";
#endif

const char* const kAutomaticIds[] = {"windows.version", "service.config", "service.recovery",
                                     "service.security", "eventlog.source", "device.open",
                                     "library.exports", "power.hibernate", "sas.bind"};

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

bool StartsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

// The control tool, as an operator at the simulated PC uses it.
DWORD Qebictl(const std::wstring& args) {
    return qebtest::RunToExit(L"C:\\qebsim\\qebictl.exe " + args, nullptr, 30000);
}

struct CheckRun {
    DWORD exitCode = 0xBAD;
    std::vector<std::string> lines;  // everything QEBCheck printed, line by line
    std::vector<std::string> answered;  // the prompts the operator acted on
    bool ended = false;
};

// What the operator does for a line of QEBCheck's output: the control tool's
// arguments, or "" for nothing.
typedef std::wstring (*Operator)(const std::string& line);

std::wstring AttentiveOperator(const std::string& line) {
    if (StartsWith(line, "Press the Volume Up key of the PC now")) return L"raise 0x1003";
    if (StartsWith(line, "Press the Volume Down key of the PC now")) return L"raise 0x1004";
    if (StartsWith(line, "Press the Ctrl+Alt+Del button of the PC now")) return L"raise 0x1031";
    if (StartsWith(line, "Pull the mains plug of the PC now")) return L"raise 0x1041";
    // The simulated PC resumes by itself; the notice is answered once
    // QEBCheck has seen it.
    if (StartsWith(line, "PASS powerloss.resume")) return L"press-ok \"There has been a power loss event\"";
    return L"";
}

std::wstring SilentOperator(const std::string&) { return L""; }

// QEBCheck with `args`, in kRunDir, its output read as it comes (never
// blocking: the pipe is peeked), each complete line handed to the operator.
CheckRun RunQebCheck(const std::wstring& args, Operator op, DWORD timeoutMs) {
    CheckRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "CreatePipe: error " << GetLastError();
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::wstring cmd = L"\"" + BinDir() + L"QEBCheck.exe\" " + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, kRunDir, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        ADD_FAILURE() << "QEBCheck did not start: error " << GetLastError();
        CloseHandle(readEnd);
        return run;
    }
    std::string pending;
    const DWORD start = GetTickCount();
    for (;;) {
        DWORD available = 0;
        bool pipeOpen = PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) != FALSE;
        if (pipeOpen && available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (ReadFile(readEnd, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &got, nullptr))
                pending.append(buffer, got);
            size_t end;
            while ((end = pending.find('\n')) != std::string::npos) {
                std::string line = pending.substr(0, end);
                if (!line.empty() && line.back() == '\r') line.pop_back();
                pending.erase(0, end + 1);
                run.lines.push_back(line);
                std::wstring action = op(line);
                if (!action.empty()) {
                    run.answered.push_back(line);
                    EXPECT_EQ(0u, Qebictl(action)) << "qebictl " << Narrow(action);
                }
            }
            continue;
        }
        if (!pipeOpen || WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
            // Ended: what is left in the pipe was read above.
            if (!pipeOpen || available == 0) break;
        }
        if (GetTickCount() - start > timeoutMs) {
            ADD_FAILURE() << "QEBCheck did not end within " << timeoutMs << " ms; last line: "
                          << (run.lines.empty() ? std::string("(none)") : run.lines.back());
            TerminateProcess(pi.hProcess, 0xBAD);
            break;
        }
        Sleep(20);
    }
    if (WaitForSingleObject(pi.hProcess, 10000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &run.exitCode);
        run.ended = true;
    }
    if (!pending.empty()) run.lines.push_back(pending);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(readEnd);
    return run;
}

// The report line of a check ("" when there is none; a second one fails).
std::string CheckLine(const std::vector<std::string>& lines, const std::string& id) {
    std::string found;
    for (const auto& line : lines) {
        for (const char* word : {"PASS ", "FAIL ", "SKIP "}) {
            if (StartsWith(line, std::string(word) + id + ": ")) {
                EXPECT_TRUE(found.empty()) << "two lines for " << id << ":\n" << found << "\n" << line;
                found = line;
            }
        }
    }
    return found;
}

// The report's lines: UTF-8 after a byte order mark, CRLF line ends.
std::vector<std::string> ReportLines(const std::wstring& path) {
    std::string text = qebtest::ReadFileText(path);
    std::vector<std::string> lines;
    if (text.compare(0, 3, "\xEF\xBB\xBF") != 0) {
        ADD_FAILURE() << Narrow(path) << ": no UTF-8 byte order mark (" << text.size() << " bytes)";
        return lines;
    }
    size_t pos = 3, end;
    while ((end = text.find("\r\n", pos)) != std::string::npos) {
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    EXPECT_EQ(text.size(), pos) << Narrow(path) << ": text after the last line end";
    return lines;
}

std::vector<std::wstring> ReportsInRunDir() {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((std::wstring(kRunDir) + L"\\QEBCheck-*.txt").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(data.cFileName);
    while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& l : lines) all += l + "\n";
    return all;
}

struct Expected {
    const char* id;
    const char* outcome;
    const char* fragment;  // a piece of what the line must say
};

// Each expected check has its one line, with its outcome and the fragment.
template <size_t N>
void ExpectCheckLines(const std::vector<std::string>& lines, const Expected (&expected)[N]) {
    for (const Expected& e : expected) {
        std::string line = CheckLine(lines, e.id);
        EXPECT_TRUE(StartsWith(line, std::string(e.outcome) + " " + e.id + ": ")) << e.id << ": " << line;
        EXPECT_NE(std::string::npos, line.find(e.fragment)) << e.id << " should say \"" << e.fragment << "\": " << line;
    }
}

class QebCheckTest : public ::testing::Test {};

TEST_F(QebCheckTest, TheKitIsInstalledWithItsPackage) {
    CreateDirectoryW(kRunDir, nullptr);
    ASSERT_EQ(0u, Msiexec(L"/i \"" + Package(L"1.0.0.7") + L"\" /qn"));
    SERVICE_STATUS_PROCESS status = {};
    ASSERT_TRUE(qebsim::ServiceWaitState(L"QEBEvent", SERVICE_RUNNING, 20000, &status));
}

// Every check on the simulated PC with an attentive operator: PASS, or SKIP
// where Wine lacks what the check reads.
TEST_F(QebCheckTest, EveryCheckPassesOrSkipsWithItsReasonWhenTheOperatorActs) {
    uint32_t fromSeq = qebsim::NextSeq();
    CheckRun run = RunQebCheck(L"/wait 10", AttentiveOperator, 240000);
    const std::string output = Joined(run.lines);
    ASSERT_TRUE(run.ended) << output;
    EXPECT_EQ(0u, run.exitCode) << output;

    const Expected expected[] = {
        {"windows.version", "PASS", kBits},
        {"service.config", "PASS", "own process, automatic start, LocalSystem, C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe 1.0.0.7, running"},
        {"service.recovery", "SKIP", "keeps no recovery actions"},
        {"service.security", "SKIP", "keeps no service security"},
        {"eventlog.source", "PASS", "message file C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe"},
        {"device.open", "PASS", "\\\\.\\QEBI opened"},
        {"library.exports", "PASS", "C:\\Program Files\\Kestil\\QEB\\QEBI.dll loaded, all 21 entry points"},
        {"power.hibernate", "PASS", "hibernation allowed"},
        {"sas.bind", "PASS", "SendSAS bound from C:\\Program Files\\Kestil\\QEB\\sas.dll"},
        {"key.volumeup", "PASS", "one key-down and one key-up of VK_VOLUME_UP (0xAF), extended"},
        {"key.volumedown", "PASS", "one key-down and one key-up of VK_VOLUME_DOWN (0xAE), extended"},
        {"cad.secure", "SKIP", "has no secure desktop"},
        {"powerloss.countdown", "PASS", "\"System will hibernate after 5 seconds.\", counting down: 5, 4, 3, 2, 1"},
        {"powerloss.resume", "PASS", "on screen after the resume; the PC suspended and resumed (WM_POWERBROADCAST)"},
    };
    ExpectCheckLines(run.lines, expected);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ("11 passed, 0 failed, 3 skipped", run.lines.back()) << output;

    // The operator answered each prompt, in this order.
    const char* const prompts[] = {"Press the Volume Up key of the PC now (10 s)...",
                                   "Press the Volume Down key of the PC now (10 s)...",
                                   "Press the Ctrl+Alt+Del button of the PC now (10 s)",
                                   "Pull the mains plug of the PC now", "PASS powerloss.resume"};
    ASSERT_EQ(5u, run.answered.size()) << output;
    for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(StartsWith(run.answered[i], prompts[i])) << run.answered[i];

    // What QEBCheck cannot see under Wine still happened: the service asked
    // for the secure attention sequence, and the helper hibernated.
    std::vector<QEBSIM_RECORD> records;
    ASSERT_TRUE(qebsim::ReadJournal(fromSeq, &records));
    int sas = 0, suspends = 0;
    for (const auto& r : records) {
        if (r.kind != QEBSIM_REC_NOTE) continue;
        if (qebsim::NoteText(r) == L"SendSAS(0)") ++sas;
        if (qebsim::NoteText(r) == L"SetSuspendState(1,1,1)") ++suspends;
    }
    EXPECT_EQ(1, sas);
    EXPECT_EQ(1, suspends);

    // The report: the default name in the current folder, the same lines as
    // the console without the prompts.
    std::vector<std::wstring> reports = ReportsInRunDir();
    ASSERT_EQ(1u, reports.size());
    wchar_t computer[MAX_COMPUTERNAME_LENGTH + 1] = L"";
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    GetComputerNameW(computer, &size);
    const std::wstring head = std::wstring(L"QEBCheck-") + computer + L"-";
    const std::wstring& name = reports[0];
    // QEBCheck-<computer>-yyyymmdd-hhmmss.txt
    ASSERT_EQ(head.size() + 19, name.size()) << Narrow(name);
    std::wstring pattern = name;
    for (size_t i = head.size(); i < head.size() + 15; ++i)
        if (iswdigit(pattern[i])) pattern[i] = L'9';
    EXPECT_EQ(Narrow(head) + "99999999-999999.txt", Narrow(pattern));
    std::vector<std::string> printedWithoutPrompts;
    for (const auto& line : run.lines)
        if (!StartsWith(line, "Press ") && !StartsWith(line, "Pull ") && !StartsWith(line, "Plug "))
            printedWithoutPrompts.push_back(line);
    EXPECT_EQ(Joined(printedWithoutPrompts), Joined(ReportLines(std::wstring(kRunDir) + L"\\" + name)));
}

// An operator who does nothing: each guided check that waits for an effect
// fails with "nothing seen" after /wait, and QEBCheck ends.
TEST_F(QebCheckTest, ASilentOperatorGetsFailLinesNotAHang) {
    const DWORD start = GetTickCount();
    CheckRun run = RunQebCheck(L"/wait 3 /report C:\\qebcheck-run\\silent.txt", SilentOperator, 120000);
    const std::string output = Joined(run.lines);
    ASSERT_TRUE(run.ended) << output;
    EXPECT_EQ(1u, run.exitCode) << output;
    EXPECT_LT(GetTickCount() - start, 60000u) << output;
    const Expected expected[] = {
        {"key.volumeup", "FAIL", "expected one key-down and one key-up of VK_VOLUME_UP (0xAF), nothing seen in 3 s"},
        {"key.volumedown", "FAIL", "nothing seen in 3 s"},
        {"cad.secure", "SKIP", "stayed \"Default\" for 3 s"},
        {"powerloss.countdown", "FAIL", "nothing seen in 3 s"},
        {"powerloss.resume", "SKIP", "no countdown was seen"},
    };
    ExpectCheckLines(run.lines, expected);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ("7 passed, 3 failed, 4 skipped", run.lines.back()) << output;
    EXPECT_TRUE(run.answered.empty());
}

// ---- the negative table -----------------------------------------------------------

bool StopService() {
    return qebsim::ServiceStop(L"QEBEvent") && qebsim::ServiceWaitState(L"QEBEvent", SERVICE_STOPPED, 20000);
}
bool StartService() {
    return qebsim::ServiceStart(L"QEBEvent") && qebsim::ServiceWaitState(L"QEBEvent", SERVICE_RUNNING, 20000);
}

bool ForbidHibernation() {
    DWORD zero = 0;
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kPowrProfKey, L"HibernateAllowed", REG_DWORD, &zero, sizeof(zero)) ==
           ERROR_SUCCESS;
}
bool AllowHibernation() {
    return RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPowrProfKey, L"HibernateAllowed") == ERROR_SUCCESS;
}

std::wstring Installed(const wchar_t* file) { return std::wstring(kInstallDir) + file; }

// A QEBI.dll without Get_PC_Health_Status in its place (Tovrel's own test
// library built so).
bool PlantIncompleteLibrary() {
    return MoveFileW(Installed(L"QEBI.dll").c_str(), Installed(L"QEBI.dll.aside").c_str()) &&
           CopyFileW((BinDir() + L"frame_fake_qebi_no_health.dll").c_str(), Installed(L"QEBI.dll").c_str(), FALSE);
}
bool RestoreLibrary() {
    return MoveFileExW(Installed(L"QEBI.dll.aside").c_str(), Installed(L"QEBI.dll").c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::wstring g_savedMessageFile;
DWORD g_savedTypes = 0;
bool RemoveEventSource() {
    wchar_t file[MAX_PATH] = L"";
    DWORD size = sizeof(file);
    DWORD typesSize = sizeof(g_savedTypes);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile", RRF_RT_REG_SZ, nullptr, file, &size) !=
            ERROR_SUCCESS ||
        RegGetValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported", RRF_RT_REG_DWORD, nullptr, &g_savedTypes,
                     &typesSize) != ERROR_SUCCESS)
        return false;
    g_savedMessageFile = file;
    return RegDeleteKeyW(HKEY_LOCAL_MACHINE, kEventSourceKey) == ERROR_SUCCESS;
}
bool RestoreEventSource() {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"EventMessageFile", REG_SZ, g_savedMessageFile.c_str(),
                           static_cast<DWORD>((g_savedMessageFile.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS &&
           RegSetKeyValueW(HKEY_LOCAL_MACHINE, kEventSourceKey, L"TypesSupported", REG_DWORD, &g_savedTypes,
                           sizeof(g_savedTypes)) == ERROR_SUCCESS;
}

struct NegativeCase {
    const char* name;
    bool (*breakIt)();
    bool (*restore)();
    const char* id;
    const char* fail;  // what the FAIL line must say
};

const NegativeCase kNegativeCases[] = {
    {"service-stopped", StopService, StartService, "service.config", "expected running, got stopped"},
    {"hibernation-not-allowed", ForbidHibernation, AllowHibernation, "power.hibernate",
     "got IsPwrHibernateAllowed() FALSE: after a power loss the PC would lose its power with the user's work; turn "
     "hibernation on with \"powercfg /hibernate on\""},
    {"library-missing-an-entry-point", PlantIncompleteLibrary, RestoreLibrary, "library.exports",
     "expected 21 entry points in C:\\Program Files\\Kestil\\QEB\\QEBI.dll, got 20; missing: Get_PC_Health_Status"},
    {"event-source-removed", RemoveEventSource, RestoreEventSource, "eventlog.source",
     "expected the event source QEBI under HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\QEBI, "
     "got no such key: Event Viewer would show \"The description for Event ID 1010 ... cannot be found\""},
};

TEST_F(QebCheckTest, EachFaultOfTheNegativeTableFailsItsCheckAndTheReportIsWhole) {
    for (const NegativeCase& c : kNegativeCases) {
        SCOPED_TRACE(c.name);
        const std::wstring report = std::wstring(kRunDir) + L"\\" + std::wstring(c.name, c.name + strlen(c.name)) + L".txt";
        ASSERT_TRUE(c.breakIt()) << "could not set up " << c.name << ", error " << GetLastError();
        CheckRun run = RunQebCheck(L"/auto /report " + report, SilentOperator, 60000);
        EXPECT_TRUE(c.restore()) << "could not undo " << c.name << ", error " << GetLastError();
        const std::string output = Joined(run.lines);
        ASSERT_TRUE(run.ended) << output;
        EXPECT_EQ(1u, run.exitCode) << output;
        const std::vector<std::string> lines = ReportLines(report);
        const std::string line = CheckLine(lines, c.id);
        EXPECT_TRUE(StartsWith(line, std::string("FAIL ") + c.id + ": ")) << line;
        EXPECT_NE(std::string::npos, line.find(c.fail)) << line;
        // The rest of the report is written: every automatic check has its
        // line, none other fails, and the summary closes it.
        for (const char* id : kAutomaticIds) {
            std::string other = CheckLine(lines, id);
            EXPECT_FALSE(other.empty()) << id << " missing from the report:\n" << Joined(lines);
            if (std::string(id) != c.id) {
                EXPECT_FALSE(StartsWith(other, "FAIL ")) << other;
            }
        }
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ("6 passed, 1 failed, 2 skipped", lines.back()) << Joined(lines);
        EXPECT_EQ(Joined(lines), Joined(run.lines));
    }
}

// Afterwards the PC is as it was: QEBCheck itself changed nothing.
TEST_F(QebCheckTest, AfterwardsEveryAutomaticCheckPassesOrSkipsAgain) {
    CheckRun run = RunQebCheck(L"/auto /report C:\\qebcheck-run\\after.txt", SilentOperator, 60000);
    ASSERT_TRUE(run.ended) << Joined(run.lines);
    EXPECT_EQ(0u, run.exitCode) << Joined(run.lines);
    ASSERT_FALSE(run.lines.empty());
    EXPECT_EQ("7 passed, 0 failed, 2 skipped", run.lines.back()) << Joined(run.lines);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
