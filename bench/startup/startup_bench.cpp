// The start-up paths a user waits for, each against a do-nothing program
// started the same way, in the same run:
//  - the radio hot key: "Tovrel.exe /wlon", "/btoff" and "/getallstat" from
//    process creation until the process has ended with its exit code, against
//    session_noop.exe (loads user32, one call); where the time goes from
//    startup_probe.exe, which does only the library's part (load, binding of
//    the 21 entry points, the switch's calls) in a process like session_noop;
//    the design's own floor from bare_dialog.exe creating Tovrel's template
//    hidden, with its controls, and ending in its WM_INITDIALOG, as the
//    switches do;
//  - the test dialog: Tovrel.exe without a switch until its main dialog is
//    shown and painted with every panel filled, against bare_dialog.exe (one
//    dialog of the same template size, ended at its first paint) and, as the
//    design's floor, bare_dialog.exe showing Tovrel's own template;
//  - the service: StartService until RUNNING is reported, against
//    noop_service.exe (own process, RUNNING at once); then private memory
//    and handles of both after they have run side by side for a while.
// Usage: startup_bench.exe [samples] [--service-seconds N] [--only hotkey|dialog|service]
// Prints median and p90 of every figure and the ratio lines.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "handle_count.h"
#include "qebsim/client.h"

namespace {

const wchar_t kKitDir[] = L"C:\\Program Files\\Kestil\\QEB";
const wchar_t kTovrel[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
const wchar_t kQebEventPath[] = L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe";
const wchar_t kQebEvent[] = L"QEBEvent";
const wchar_t kNoopService[] = L"QEBNoopService";
const wchar_t kDialogTitle[] = L"Kestil Desktop BIOS Test Application";
const int kWarmUp = 3;

double g_msPerTick = 0;

LONGLONG Ticks() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

double NowMs() { return Ticks() * g_msPerTick; }

double At(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(q * (v.size() - 1) + 0.5))];
}

double Median(const std::vector<double>& v) { return At(v, 0.5); }

void Report(const std::string& what, const std::vector<double>& v) {
    if (v.empty()) {
        printf("%-62s no samples\n", what.c_str());
        return;
    }
    printf("%-62s n=%3zu median %8.2f ms  p90 %8.2f ms  min %8.2f\n", what.c_str(), v.size(), Median(v), At(v, 0.9),
           *std::min_element(v.begin(), v.end()));
}

void Ratio(const std::string& what, const std::vector<double>& ours, const std::vector<double>& base) {
    if (ours.empty() || base.empty() || Median(base) <= 0) {
        printf("%s n/a\n", what.c_str());
        return;
    }
    printf("%s %.2f\n", what.c_str(), Median(ours) / Median(base));
}

std::wstring OwnFolder() {
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, n);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// Starts "exe args" from the kit's folder; *startedAt is the counter just
// before CreateProcessW. Returns the process handle or null.
HANDLE Launch(const std::wstring& exe, const std::wstring& args, double* startedAt, DWORD* pid = nullptr) {
    std::wstring line = L"\"" + exe + L"\"" + (args.empty() ? L"" : L" " + args);
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    *startedAt = NowMs();
    if (!CreateProcessW(exe.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, kKitDir, &startup,
                        &process))
        return nullptr;
    CloseHandle(process.hThread);
    if (pid) *pid = process.dwProcessId;
    return process.hProcess;
}

// ms from creation to exit, or -1; *exitCode gets the code.
double RunToExit(const std::wstring& exe, const std::wstring& args, DWORD* exitCode) {
    double start = 0;
    HANDLE process = Launch(exe, args, &start);
    if (!process) return -1;
    if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) {
        TerminateProcess(process, 1);
        CloseHandle(process);
        return -1;
    }
    double took = NowMs() - start;
    GetExitCodeProcess(process, exitCode);
    CloseHandle(process);
    return took;
}

// ---- the radio hot key ---------------------------------------------------------

struct SwitchFigures {
    SwitchFigures(const wchar_t* switchName, const char* printed) : name(switchName), label(printed) {}
    const wchar_t* name;
    const char* label;  // the same, for the printed lines
    std::vector<double> tovrel, probe, probeEntry, probeLoad, probeBind, probeCalls, probeExit;
    int wrongCodes = 0;
};

bool ExitCodeFits(const std::wstring& which, DWORD code) {
    if (which == L"/getallstat") return (code & 0xFFFF0000u) == 0x13800000u;
    return code == 0;
}

// The probe's four counter values, read back from its file.
bool ReadStamps(const std::wstring& file, double stamps[4]) {
    FILE* in = _wfopen(file.c_str(), L"r");
    if (!in) return false;
    long long raw[4];
    bool ok = fscanf(in, "%lld %lld %lld %lld", &raw[0], &raw[1], &raw[2], &raw[3]) == 4;
    fclose(in);
    for (int i = 0; ok && i < 4; ++i) stamps[i] = raw[i] * g_msPerTick;
    return ok;
}

void HotKey(int samples) {
    const std::wstring noop = OwnFolder() + L"session_noop.exe";
    const std::wstring probe = OwnFolder() + L"startup_probe.exe";
    const std::wstring bare = OwnFolder() + L"bare_dialog.exe";
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring stampFile = std::wstring(temp) + L"startup_probe.txt";
    SwitchFigures switches[] = {{L"/wlon", "/wlon"}, {L"/btoff", "/btoff"}, {L"/getallstat", "/getallstat"}};
    std::vector<double> baseline, hiddenTemplate;
    int failed = 0;
    // Interleaved rounds: a change of load touches every figure alike.
    for (int round = 0; round < samples + kWarmUp; ++round) {
        DWORD code = 0;
        double took = RunToExit(noop, L"", &code);
        if (took < 0) ++failed;
        else if (round >= kWarmUp) baseline.push_back(took);
        took = RunToExit(bare, L"tovrel-template hidden", &code);
        if (took < 0 || code != 0) ++failed;
        else if (round >= kWarmUp) hiddenTemplate.push_back(took);
        for (SwitchFigures& s : switches) {
            took = RunToExit(kTovrel, s.name, &code);
            if (took < 0) {
                ++failed;
            } else if (round >= kWarmUp) {
                s.tovrel.push_back(took);
                if (!ExitCodeFits(s.name, code)) ++s.wrongCodes;
            }
            DeleteFileW(stampFile.c_str());
            double start = 0;
            HANDLE process = Launch(probe, stampFile + L" " + s.name, &start);
            if (!process || WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) {
                ++failed;
                if (process) CloseHandle(process);
                continue;
            }
            double end = NowMs();
            CloseHandle(process);
            double stamps[4];
            if (!ReadStamps(stampFile, stamps)) {
                ++failed;
                continue;
            }
            if (round < kWarmUp) continue;
            s.probe.push_back(end - start);
            s.probeEntry.push_back(stamps[0] - start);
            s.probeLoad.push_back(stamps[1] - stamps[0]);
            s.probeBind.push_back(stamps[2] - stamps[1]);
            s.probeCalls.push_back(stamps[3] - stamps[2]);
            s.probeExit.push_back(end - stamps[3]);
        }
    }
    printf("== radio hot key: process creation to exit with its code (%d samples, %d failed launches) ==\n",
           samples, failed);
    Report("do-nothing desktop process (session_noop.exe)", baseline);
    for (SwitchFigures& s : switches) {
        Report(std::string("Tovrel ") + s.label, s.tovrel);
        if (s.wrongCodes) printf("  %s: %d wrong exit codes\n", s.label, s.wrongCodes);
    }
    Report("do-nothing program creating Tovrel's template hidden, then exiting", hiddenTemplate);
    for (SwitchFigures& s : switches)
        Ratio(std::string(s.label) + ": ratio hot key / do-nothing (medians)", s.tovrel, baseline);
    // The design's own floor: the switch runs in the dialog's initialisation,
    // so the template and its 57 controls are created in any case.
    for (SwitchFigures& s : switches)
        Ratio(std::string(s.label) + ": ratio hot key / hidden template (medians)", s.tovrel, hiddenTemplate);
    printf("-- where the time goes: the library's part alone (startup_probe.exe, medians) --\n");
    for (SwitchFigures& s : switches) {
        const char* name = s.label;
        printf("%-12s creation to entry %6.2f  QEBI.dll load %6.2f  binding 21 %6.3f  calls %6.3f  to exit %6.2f"
               "  total %6.2f ms\n",
               name, Median(s.probeEntry), Median(s.probeLoad), Median(s.probeBind), Median(s.probeCalls),
               Median(s.probeExit), Median(s.probe));
        printf("%-12s Tovrel beyond the probe (framework, comctl32, the hidden dialog and its controls) %6.2f ms;"
               " probe beyond do-nothing %6.2f ms\n",
               name, Median(s.tovrel) - Median(s.probe), Median(s.probe) - Median(baseline));
    }
}

// ---- the test dialog ------------------------------------------------------------

struct FoundDialog {
    DWORD pid;
    HWND hwnd;
};

BOOL CALLBACK FindVisibleDialog(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<FoundDialog*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    wchar_t cls[16];
    if (pid == found->pid && IsWindowVisible(hwnd) && GetClassNameW(hwnd, cls, 16) && wcscmp(cls, L"#32770") == 0) {
        found->hwnd = hwnd;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK AnyChildUnpainted(HWND hwnd, LPARAM param) {
    if (IsWindowVisible(hwnd) && GetUpdateRect(hwnd, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(param) = true;
        return FALSE;
    }
    return TRUE;
}

// Shown, and neither the dialog nor any visible control waits for a paint.
bool Painted(HWND dialog) {
    if (!IsWindowVisible(dialog) || GetUpdateRect(dialog, nullptr, FALSE)) return false;
    bool unpainted = false;
    EnumChildWindows(dialog, AnyChildUnpainted, reinterpret_cast<LPARAM>(&unpainted));
    return !unpainted;
}

std::wstring TextOf(HWND hwnd) {
    wchar_t text[512] = L"";
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, &got);
    return text;
}

// Every panel's value control of Tovrel's dialog.
const int kPanelValues[] = {200, 203, 206, 208, 230, 232, 235, 1025, 1027, 1039, 1038, 1040};

// ms from creation until the process's dialog is shown and painted, or -1.
// A process that ends after its dialog was seen counts as painted then (the
// bare dialog ends at its first paint). *dialog gets the window.
double RunToPaintedDialog(const std::wstring& exe, const std::wstring& args, HANDLE* process, HWND* dialog) {
    double start = 0;
    DWORD pid = 0;
    *process = Launch(exe, args, &start, &pid);
    *dialog = nullptr;
    if (!*process) return -1;
    bool seen = false;
    while (NowMs() - start < 20000) {
        FoundDialog found = {pid, nullptr};
        EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&found));
        if (found.hwnd) {
            seen = true;
            *dialog = found.hwnd;
            if (Painted(found.hwnd)) return NowMs() - start;
        }
        if (WaitForSingleObject(*process, 1) == WAIT_OBJECT_0) return seen ? NowMs() - start : -1;
    }
    return -1;
}

void Dialog(int samples) {
    const std::wstring bare = OwnFolder() + L"bare_dialog.exe";
    std::vector<double> tovrel, baseline, templated, commonControls;
    std::vector<double>* const variants[] = {&baseline, &templated, &commonControls};
    const wchar_t* const variantArgs[] = {L"", L"tovrel-template", L"tovrel-template common-controls"};
    int failed = 0, unfilled = 0;
    for (int round = 0; round < samples + kWarmUp; ++round) {
        for (int variant = 0; variant < 3; ++variant) {
            HANDLE process = nullptr;
            HWND dialog = nullptr;
            double took = RunToPaintedDialog(bare, variantArgs[variant], &process, &dialog);
            if (process) {
                if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
                CloseHandle(process);
            }
            if (took < 0) ++failed;
            else if (round >= kWarmUp) variants[variant]->push_back(took);
        }

        HANDLE process = nullptr;
        HWND dialog = nullptr;
        double took = RunToPaintedDialog(kTovrel, L"", &process, &dialog);
        if (took >= 0 && dialog) {
            wchar_t title[128] = L"";
            GetWindowTextW(dialog, title, 128);
            bool filled = wcscmp(title, kDialogTitle) == 0;
            for (int id : kPanelValues) filled = filled && !TextOf(GetDlgItem(dialog, id)).empty();
            if (!filled) ++unfilled;
            DWORD_PTR result = 0;
            SendMessageTimeoutW(dialog, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
        }
        if (process) {
            if (WaitForSingleObject(process, 10000) != WAIT_OBJECT_0) TerminateProcess(process, 1);
            CloseHandle(process);
        }
        if (took < 0 || !dialog) ++failed;
        else if (round >= kWarmUp) tovrel.push_back(took);
    }
    printf("== test dialog: process creation to the dialog shown and painted (%d samples, %d failed, "
           "%d with a panel empty) ==\n",
           samples, failed, unfilled);
    Report("bare dialog (same template size, ends at its first paint)", baseline);
    Report("Tovrel dialog, every panel filled", tovrel);
    Ratio("ratio dialog ready / bare dialog (medians)", tovrel, baseline);
    // The design's own floor: the same template shown by a do-nothing program.
    Ratio("ratio dialog ready / template shown (medians)", tovrel, templated);
    printf("-- where the time goes (medians) --\n");
    Report("do-nothing program showing Tovrel's own template (57 controls)", templated);
    Report("the same after InitCommonControls (comctl32)", commonControls);
    if (!tovrel.empty() && !templated.empty() && !baseline.empty() && !commonControls.empty()) {
        printf("%-62s %8.2f ms\n", "  the template's controls (Wine's window creation and paint)",
               Median(templated) - Median(baseline));
        printf("%-62s %8.2f ms\n", "  comctl32's start-up (Wine's, with uxtheme)", Median(commonControls) - Median(templated));
        printf("%-62s %8.2f ms\n", "  Tovrel beyond that (QEBI.dll, panels, callback, framework)",
               Median(tovrel) - Median(commonControls));
    }
}

// ---- the service ----------------------------------------------------------------

SC_HANDLE OpenOne(const wchar_t* name) {
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return nullptr;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS);
    CloseServiceHandle(manager);
    return service;
}

bool Query(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
    DWORD needed = 0;
    return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                                &needed) != FALSE;
}

// ms from StartService until RUNNING is reported, or -1; *pid the process.
double StartToRunning(const wchar_t* name, DWORD* pid) {
    SC_HANDLE service = OpenOne(name);
    if (!service) return -1;
    double start = NowMs();
    double took = -1;
    if (StartServiceW(service, 0, nullptr)) {
        SERVICE_STATUS_PROCESS status = {};
        while (NowMs() - start < 20000) {
            if (Query(service, &status) && status.dwCurrentState == SERVICE_RUNNING) {
                took = NowMs() - start;
                *pid = status.dwProcessId;
                break;
            }
            Sleep(0);
        }
    }
    CloseServiceHandle(service);
    return took;
}

// Stops the service and waits for its process to end.
void StopAndWait(const wchar_t* name, DWORD pid) {
    HANDLE process = pid ? OpenProcess(SYNCHRONIZE, FALSE, pid) : nullptr;
    qebsim::ServiceStop(name);
    qebsim::ServiceWaitState(name, SERVICE_STOPPED, 10000);
    if (process) {
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
}

// Committed private memory of a process, from its address space (Wine
// reports no PrivateUsage for another process).
long long PrivateCommitKb(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process) return -1;
    const long long kb = qebtest::PrivateCommitKb(process);
    CloseHandle(process);
    return kb;
}

DWORD WINAPI IdleThread(LPVOID stop) {
    WaitForSingleObject(static_cast<HANDLE>(stop), INFINITE);
    return 0;
}

// Committed private memory that one idle thread with the event monitor's
// stack reservation costs a process under this Wine (measured here).
long long ThreadCostKb() {
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    long long before = PrivateCommitKb(GetCurrentProcessId());
    HANDLE thread = CreateThread(nullptr, 0, IdleThread, stop, 0, nullptr);
    Sleep(50);
    long long after = PrivateCommitKb(GetCurrentProcessId());
    SetEvent(stop);
    if (thread) {
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
    }
    CloseHandle(stop);
    return thread ? after - before : -1;
}

void Service(int samples, int runSeconds) {
    const std::wstring noopPath = OwnFolder() + L"noop_service.exe";
    if (!qebsim::ServiceInstall(kQebEvent, kQebEventPath) || !qebsim::ServiceInstall(kNoopService, noopPath)) {
        printf("startup_bench: cannot install the services (error %lu)\n", GetLastError());
        return;
    }
    std::vector<double> ours, baseline;
    int failed = 0;
    for (int round = 0; round < samples + kWarmUp; ++round) {
        DWORD pid = 0;
        double took = StartToRunning(kQebEvent, &pid);
        StopAndWait(kQebEvent, pid);
        if (took < 0) ++failed;
        else if (round >= kWarmUp) ours.push_back(took);
        pid = 0;
        took = StartToRunning(kNoopService, &pid);
        StopAndWait(kNoopService, pid);
        if (took < 0) ++failed;
        else if (round >= kWarmUp) baseline.push_back(took);
    }
    printf("== service: StartService to RUNNING reported (%d samples, %d failed) ==\n", samples, failed);
    Report("do-nothing service (own process, RUNNING at once)", baseline);
    Report("QEBEvent", ours);
    Ratio("ratio service running / do-nothing service (medians)", ours, baseline);

    DWORD ourPid = 0, noopPid = 0;
    if (StartToRunning(kQebEvent, &ourPid) < 0 || StartToRunning(kNoopService, &noopPid) < 0) {
        printf("startup_bench: services not started for the memory figures\n");
        return;
    }
    Sleep(static_cast<DWORD>(runSeconds) * 1000);
    long long ourKb = PrivateCommitKb(ourPid), noopKb = PrivateCommitKb(noopPid);
    long ourHandles = qebtest::CountProcessHandles(ourPid), noopHandles = qebtest::CountProcessHandles(noopPid);
    printf("== service after %d s of running (committed private memory, handles from the system table) ==\n",
           runSeconds);
    printf("%-62s %8lld KB  %4ld handles\n", "do-nothing service (Wine's own share of any service)", noopKb,
           noopHandles);
    printf("%-62s %8lld KB  %4ld handles\n", "QEBEvent", ourKb, ourHandles);
    printf("%-62s %8lld KB  %4ld handles\n", "QEBEvent beyond the do-nothing service", ourKb - noopKb,
           ourHandles - noopHandles);
    printf("%-62s %8lld KB\n", "  of it: one idle thread, default stack (Wine's cost)", ThreadCostKb());
    if (noopKb > 0) printf("ratio service private memory / do-nothing service %.2f\n", double(ourKb) / noopKb);
    if (noopHandles > 0) printf("ratio service handles / do-nothing service %.2f\n", double(ourHandles) / noopHandles);
    StopAndWait(kQebEvent, ourPid);
    StopAndWait(kNoopService, noopPid);
    qebsim::ServiceDelete(kNoopService);
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_msPerTick = 1000.0 / static_cast<double>(f.QuadPart);
    int samples = 20, runSeconds = 60;
    const char* only = "";
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--service-seconds") == 0 && i + 1 < argc) runSeconds = std::max(1, atoi(argv[++i]));
        else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) only = argv[++i];
        else samples = std::max(1, atoi(argv[i]));
    }
    auto part = [&](const char* name) { return *only == 0 || strcmp(only, name) == 0; };
    // A representative firmware state: both radios present and on.
    const int features[QEB_FEATURE_COUNT] = {3, 3, 3, 1, 0x15, 1 | (12 << 2) | (5 << 16), 0x3D, 3, 7, 0x0F, 3, 3};
    for (int i = 0; i < QEB_FEATURE_COUNT; ++i) qebsim::SetFeature(static_cast<uint32_t>(i), features[i]);

    // A user's desktop is always up: a window of this process keeps Wine's
    // desktop process running between the launches, whose start would
    // otherwise land on whichever program comes first after a pause.
    HWND keepDesktop = CreateWindowExW(0, L"STATIC", L"startup_bench", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);

    if (part("hotkey")) HotKey(samples);
    if (part("dialog")) Dialog(samples);
    if (part("service")) Service(samples, runSeconds);
    if (keepDesktop) DestroyWindow(keepDesktop);
    return 0;
}
