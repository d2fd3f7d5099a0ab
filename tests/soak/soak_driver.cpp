// Soak and fault-injection driver for the kit on the simulated PC.
//
// Runs inside a prefix where the kit was installed with its package and the
// service QEBEvent runs. Starts Tovrel's dialog (auto update on), then drives
// a seeded random mix of firmware events, bursts, custom controls, power
// losses, disk changes, failed framed requests and device losses until the
// time is up, and checks all along that nothing is lost, nothing hangs and
// nothing grows. Prints a progress line every ten seconds and, last, one of
//   soak: PASS minutes=... raised=... delivered=... lost=0 restarts=... ...
//   soak: FAIL <reason>
// Exit code 0 only on PASS.
//
//   soak_driver --minutes M --seed S --rate R --services-log Z:\...\services.log
//               [--inject-leak N]   (duplicates N handles a second into Tovrel)
//               [--actions-log PATH] (every action with its time)
//               [--device-loss-every MINUTES] (more device losses after the warm-up)
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "handle_count.h"
#include "qebsim/client.h"
#include "soak_core.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kTovrelPath[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
const wchar_t kTovrelCaption[] = L"Kestil Desktop BIOS Test Application";
const int kLogId = 1024, kAutoUpdateId = 238;
const DWORD kAnswerMs = 1000;         // interrogate and WM_NULL must answer within this
const DWORD kRecoveryDelayMs = 5000;  // the package's failure action: restart after 5 s

// Growth allowed after the warm-up (see the README section on the soak).
const long long kMaxHandleGrowth = 16;
const long long kMaxPrivateKbGrowth = 1024;
const long long kMaxUserObjectGrowth = 4;
const long long kMaxGdiObjectGrowth = 8;

// ---- output ----------------------------------------------------------------

void Say(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    vprintf(fmt, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

std::string g_failure;
void Fail(const char* fmt, ...) {
    if (!g_failure.empty()) return;
    char buf[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    g_failure = buf;
    Say("soak: (failure noted) %s", buf);
}
bool Failed() { return !g_failure.empty(); }

ULONGLONG Now() { return GetTickCount64(); }

// ---- options -----------------------------------------------------------------

struct Options {
    double minutes = 10;
    uint32_t seed = 1;
    double rate = 5;
    std::wstring servicesLog;
    int injectLeak = 0;
    std::wstring actionsLog;
    double lossEvery = 0;  // seconds between device losses after the warm-up (0: one, in the warm-up)
};

bool ParseOptions(int argc, wchar_t** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (i + 1 >= argc) return false;
        const wchar_t* v = argv[++i];
        if (a == L"--minutes") o->minutes = _wtof(v);
        else if (a == L"--seed") o->seed = static_cast<uint32_t>(wcstoul(v, nullptr, 0));
        else if (a == L"--rate") o->rate = _wtof(v);
        else if (a == L"--services-log") o->servicesLog = v;
        else if (a == L"--inject-leak") o->injectLeak = _wtoi(v);
        else if (a == L"--actions-log") o->actionsLog = v;
        else if (a == L"--device-loss-every") o->lossEvery = _wtof(v) * 60;
        else return false;
    }
    return o->minutes > 0 && o->rate > 0 && !o->servicesLog.empty();
}

// ---- the simulated firmware's control device ---------------------------------

HANDLE g_ctl = INVALID_HANDLE_VALUE;

bool OpenCtl() {
    if (g_ctl != INVALID_HANDLE_VALUE) CloseHandle(g_ctl);
    g_ctl = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return g_ctl != INVALID_HANDLE_VALUE;
}

bool Raise(uint32_t code) {
    DWORD got = 0;
    if (g_ctl == INVALID_HANDLE_VALUE && !OpenCtl()) return false;
    return DeviceIoControl(g_ctl, QEBSIM_IOCTL_RAISE_EVENT, &code, sizeof(code), nullptr, 0, &got, nullptr) != 0;
}

// ---- the journal: every raised event followed to each listener ----------------

struct HandleTrack {
    std::deque<uint32_t> expected;  // raised while open, not yet delivered
    bool listener = false;          // has waited for events
};

struct Accounting {
    uint32_t nextSeq = 1;
    std::map<uint32_t, HandleTrack> open;  // every open \\.\QEBI handle
    uint32_t service = 0, tovrel = 0;      // handle ids of the two listeners (0: none)
    uint64_t raised = 0;
    uint64_t deliveredService = 0, deliveredTovrel = 0;
    uint64_t raisedServiceDown = 0;  // raised while the service had no handle (recovery)
    uint64_t lostAtLoss = 0;         // queued for the service when the device went away
    bool deviceLost = false;         // between a loss and the service's new listener
    std::deque<uint32_t> tovrelInFlight;  // raised for Tovrel, not delivered, at the loss
    uint64_t dropped = 0;            // queue overflows: lost
    uint32_t lastTovrelCode = 0;
    // Actions the service was asked for, by firmware event or control.
    uint64_t wantVolUp = 0, wantVolDown = 0, wantSas = 0, wantGreenRed = 0, wantRedGreen = 0;
    uint64_t knvsHealthFrames = 0, knvsHealthOk = 0;  // the service's health reads
    uint64_t wantHealthReads = 0;                     // 0x1005 and control 132
    uint64_t sasNotes = 0, suspendNotes = 0;
    std::vector<uint32_t> newListeners;  // handles that started waiting, in order
};
Accounting g_acc;

void CountServiceAction(uint32_t code) {
    switch (code) {
        case 0x1003: ++g_acc.wantVolUp; break;
        case 0x1004: ++g_acc.wantVolDown; break;
        case 0x1005: ++g_acc.wantHealthReads; break;
        case 0x1031: ++g_acc.wantSas; break;
        case 0x1042: ++g_acc.wantGreenRed; break;
        case 0x1043: ++g_acc.wantRedGreen; break;
        default: break;
    }
}

size_t Pending(uint32_t id);

void TakeRecord(const QEBSIM_RECORD& r) {
    switch (r.kind) {
        case QEBSIM_REC_OPEN: g_acc.open[r.handle_id] = HandleTrack(); break;
        case QEBSIM_REC_CLOSE: {
            auto it = g_acc.open.find(r.handle_id);
            if (it == g_acc.open.end()) break;
            if (g_acc.deviceLost) {
                // Handles that died with the device are closed by their owners.
            } else if (r.handle_id == g_acc.service) {
                Fail("the service closed its device handle while the device was there");
            } else if (r.handle_id == g_acc.tovrel) {
                Fail("Tovrel's library closed its device handle while the device was there");
            }
            g_acc.open.erase(it);
            break;
        }
        case QEBSIM_REC_EVENT_RAISED:
            ++g_acc.raised;
            if (g_acc.service == 0) ++g_acc.raisedServiceDown;
            // The driver holds events only for handles that have waited.
            for (auto& h : g_acc.open)
                if (h.second.listener) h.second.expected.push_back(r.code);
            break;
        case QEBSIM_REC_EVENT_DELIVERED: {
            auto it = g_acc.open.find(r.handle_id);
            if (it == g_acc.open.end()) break;
            std::deque<uint32_t>& q = it->second.expected;
            if (q.empty() || q.front() != r.code) {
                Fail("handle %u got event 0x%X out of order (expected 0x%X)", r.handle_id, r.code,
                     q.empty() ? 0u : q.front());
                break;
            }
            q.pop_front();
            if (r.handle_id == g_acc.service) {
                ++g_acc.deliveredService;
                CountServiceAction(r.code);
            } else if (r.handle_id == g_acc.tovrel) {
                ++g_acc.deliveredTovrel;
                g_acc.lastTovrelCode = r.code;
            }
            break;
        }
        case QEBSIM_REC_EVENT_DROPPED: {
            auto it = g_acc.open.find(r.handle_id);
            if (it != g_acc.open.end() && !it->second.expected.empty()) it->second.expected.pop_back();
            if (r.handle_id == g_acc.service || r.handle_id == g_acc.tovrel) {
                ++g_acc.dropped;
                Fail("event 0x%X dropped for handle %u (queue full)", r.code, r.handle_id);
            }
            break;
        }
        case QEBSIM_REC_WAIT_PENDED: {
            auto it = g_acc.open.find(r.handle_id);
            if (it != g_acc.open.end() && !it->second.listener) {
                it->second.listener = true;
                g_acc.newListeners.push_back(r.handle_id);
            }
            break;
        }
        case QEBSIM_REC_DEVICE:
            if (r.code == 0 && !g_acc.deviceLost) {
                // Whatever the service had not taken went with the device;
                // what Tovrel's library had not taken is matched against its
                // log afterwards. Every open handle is dead from here on.
                g_acc.deviceLost = true;
                g_acc.lostAtLoss += Pending(g_acc.service);
                auto tovrel = g_acc.open.find(g_acc.tovrel);
                g_acc.tovrelInFlight =
                    tovrel != g_acc.open.end() ? tovrel->second.expected : std::deque<uint32_t>();
                g_acc.open.clear();
            }
            break;
        case QEBSIM_REC_FRAME:
            if (r.code == 0x222404 && r.data_len >= 12 && (r.data[10] | (r.data[11] << 8)) == 7) {
                ++g_acc.knvsHealthFrames;
                if (r.status == 0) ++g_acc.knvsHealthOk;
            }
            break;
        case QEBSIM_REC_NOTE:
            if (r.code == QEBSIM_NOTE_SAS) ++g_acc.sasNotes;
            if (r.code == QEBSIM_NOTE_POWRPROF) ++g_acc.suspendNotes;
            break;
        default: break;
    }
}

// Reads what the journal gained; a gap in the sequence fails the run.
bool PollJournal() {
    std::vector<QEBSIM_RECORD> records;
    QEBSIM_JOURNAL_HEADER header = {};
    if (!qebsim::ReadJournal(g_acc.nextSeq, &records, &header)) return false;
    const uint32_t first = records.empty() ? header.oldest_seq : records.front().seq;
    if (header.next_seq > g_acc.nextSeq && first > g_acc.nextSeq) {
        Fail("journal overrun: records %u to %u lost before they were read", g_acc.nextSeq, first - 1);
    }
    for (const QEBSIM_RECORD& r : records) {
        TakeRecord(r);
        g_acc.nextSeq = r.seq + 1;
    }
    return true;
}

// Waits for a listener handle that is neither of the known ones.
uint32_t WaitNewListener(DWORD timeoutMs) {
    const ULONGLONG end = Now() + timeoutMs;
    for (;;) {
        PollJournal();
        for (size_t i = 0; i < g_acc.newListeners.size(); ++i) {
            const uint32_t id = g_acc.newListeners[i];
            if (id != g_acc.service && id != g_acc.tovrel && g_acc.open.count(id)) {
                g_acc.newListeners.erase(g_acc.newListeners.begin(), g_acc.newListeners.begin() + i + 1);
                return id;
            }
        }
        if (Now() > end) return 0;
        Sleep(50);
    }
}

size_t Pending(uint32_t id) {
    auto it = g_acc.open.find(id);
    return it == g_acc.open.end() ? 0 : it->second.expected.size();
}

// ---- key presses of the volume helpers, seen on the desktop -------------------

volatile LONG g_keysUp = 0, g_keysDown = 0;

LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN)) {
        const auto* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        if (k->vkCode == VK_VOLUME_UP) InterlockedIncrement(&g_keysUp);
        if (k->vkCode == VK_VOLUME_DOWN) InterlockedIncrement(&g_keysDown);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Wine's server passes a key to a low-level hook only if the hook's thread
// looks alive: it fetched a message in the last 5 seconds or is waiting on
// its queue right now. A thread idle for longer that has just been woken by
// one key press, and has not fetched it yet, is neither, and a second press
// arriving in that moment bypasses the hook. A one-second timer keeps the
// thread fetching, so no press is judged against a stale time.
DWORD WINAPI KeyThread(LPVOID ready) {
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyHook, GetModuleHandleW(nullptr), 0);
    SetTimer(nullptr, 0, 1000, nullptr);
    SetEvent(static_cast<HANDLE>(ready));
    if (!hook) return 1;
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    UnhookWindowsHookEx(hook);
    return 0;
}

// ---- event-log entries in the services' Wine trace -----------------------------

// The services' Wine trace: event-log entries (eventlog channel) and the
// volume helpers the service started (process channel), so that a volume key
// that never reached the hook is told apart from a helper that never started.
struct EventLogTrace {
    std::wstring path;
    LONGLONG offset = 0;
    std::string partial;
    uint64_t greenRed = 0, redGreen = 0, details = 0;
    soak::HelperLaunches helpers;

    void Poll() {
        HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER at;
        at.QuadPart = offset;
        SetFilePointerEx(f, at, nullptr, FILE_BEGIN);
        char buf[65536];
        DWORD got = 0;
        while (ReadFile(f, buf, sizeof(buf), &got, nullptr) && got > 0) {
            offset += got;
            partial.append(buf, got);
            size_t start = 0, nl;
            while ((nl = partial.find('\n', start)) != std::string::npos) {
                Classify(partial.substr(start, nl - start));
                start = nl + 1;
            }
            partial.erase(0, start);
        }
        CloseHandle(f);
    }
    void Classify(const std::string& line) {
        helpers.Take(line);
        if (line.find("trace:eventlog:ReportEventW ") == std::string::npos) return;
        if (line.find("changed from Green to Red") != std::string::npos) ++greenRed;
        else if (line.find("changed from Red to Green") != std::string::npos) ++redGreen;
        else if (line.find("STATUS=") != std::string::npos) ++details;
    }
};
EventLogTrace g_eventLog;

// ---- windows of other processes ----------------------------------------------

std::wstring TextOf(HWND hwnd, DWORD timeoutMs = 2000) {
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs, &len)) return L"";
    std::vector<wchar_t> buf(len + 2, 0);
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()), SMTO_ABORTIFHUNG,
                             timeoutMs, &got))
        return L"";
    return std::wstring(buf.data(), got);
}

struct TopWindow {
    HWND hwnd;
    DWORD pid;
    std::wstring caption;
    std::wstring text101;  // the helper dialog's message, "" when it has none
};

BOOL CALLBACK CollectTop(HWND hwnd, LPARAM param) {
    auto* out = reinterpret_cast<std::vector<TopWindow>*>(param);
    wchar_t cls[32];
    if (!IsWindowVisible(hwnd) || !GetClassNameW(hwnd, cls, 32) || lstrcmpW(cls, L"#32770") != 0) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid == GetCurrentProcessId()) return TRUE;
    wchar_t caption[128] = L"";
    GetWindowTextW(hwnd, caption, 128);
    HWND msg = GetDlgItem(hwnd, 101);
    out->push_back({hwnd, pid, caption, msg ? TextOf(msg) : L""});
    return TRUE;
}

std::vector<TopWindow> Dialogs() {
    std::vector<TopWindow> out;
    EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&out));
    return out;
}

bool StartsWith(const std::wstring& s, const wchar_t* prefix) { return s.compare(0, wcslen(prefix), prefix) == 0; }

// ---- processes and their resources -----------------------------------------------

struct Sample {
    long long handles = -1, privateKb = -1, userObjects = -1, gdiObjects = -1;
};

const char* g_handleSource = "GetProcessHandleCount";
const char* g_privateSource = "GetProcessMemoryInfo PrivateUsage";
const char* g_userSource = "GetGuiResources";

struct WindowCount {
    DWORD pid;
    long long count;
};

BOOL CALLBACK CountChild(HWND hwnd, LPARAM param) {
    (void)hwnd;
    ++reinterpret_cast<WindowCount*>(param)->count;
    return TRUE;
}

BOOL CALLBACK CountTop(HWND hwnd, LPARAM param) {
    auto* c = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != c->pid) return TRUE;
    ++c->count;
    EnumChildWindows(hwnd, CountChild, param);
    return TRUE;
}

// Windows of a process, top-level and child (its USER objects, mostly).
long long CountWindows(DWORD pid) {
    WindowCount c = {pid, 0};
    EnumWindows(CountTop, reinterpret_cast<LPARAM>(&c));
    return c.count;
}

Sample SampleProcess(DWORD pid) {
    Sample s;
    HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!p) return s;
    DWORD n = 0;
    if (GetProcessHandleCount(p, &n) && n > 0) {
        s.handles = n;
    } else {
        g_handleSource = "the system handle table";
        s.handles = qebtest::CountProcessHandles(pid);
    }
    PROCESS_MEMORY_COUNTERS_EX mc = {};
    mc.cb = sizeof(mc);
    if (GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mc), sizeof(mc)) && mc.PrivateUsage)
        s.privateKb = static_cast<long long>(mc.PrivateUsage / 1024);
    else {
        g_privateSource = "committed private regions (VirtualQueryEx)";
        s.privateKb = qebtest::PrivateCommitKb(p);
    }
    s.userObjects = GetGuiResources(p, GR_USEROBJECTS);
    if (s.userObjects == 0) {
        g_userSource = "windows of the process";
        s.userObjects = CountWindows(pid);
    }
    s.gdiObjects = GetGuiResources(p, GR_GDIOBJECTS);
    CloseHandle(p);
    return s;
}

// Samples of one process instance after the warm-up.
struct Series {
    DWORD pid = 0;
    std::vector<long long> handles, privateKb, userObjects, gdiObjects;
    void Add(const Sample& s) {
        handles.push_back(s.handles);
        privateKb.push_back(s.privateKb);
        userObjects.push_back(s.userObjects);
        gdiObjects.push_back(s.gdiObjects);
    }
};

std::vector<DWORD> HelperPids(DWORD servicePid) {
    std::vector<DWORD> pids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W pe = {};
    pe.dwSize = sizeof(pe);
    for (BOOL ok = Process32FirstW(snap, &pe); ok; ok = Process32NextW(snap, &pe))
        if (lstrcmpiW(pe.szExeFile, L"QEBEvent.exe") == 0 && pe.th32ProcessID != servicePid)
            pids.push_back(pe.th32ProcessID);
    CloseHandle(snap);
    return pids;
}

// ---- the service manager ---------------------------------------------------------

SC_HANDLE g_scm = nullptr;

SC_HANDLE OpenSvc(const wchar_t* name) {
    return OpenServiceW(g_scm, name, SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP | SERVICE_INTERROGATE |
                                         SERVICE_USER_DEFINED_CONTROL);
}

DWORD ServicePid(DWORD* state = nullptr) {
    SERVICE_STATUS_PROCESS st = {};
    if (!qebsim::ServiceQuery(kService, &st)) return 0;
    if (state) *state = st.dwCurrentState;
    return st.dwCurrentState == SERVICE_RUNNING ? st.dwProcessId : 0;
}

// ---- the run ------------------------------------------------------------------------

struct Run {
    Options opt;
    // One random stream per kind of action, so that a seed gives the same
    // sequence of each kind whatever the timing interleaves.
    enum Stream { kEvents, kBursts, kControls, kPower, kDisks, kFails, kLoss, kStreams };
    std::mt19937 rng[kStreams];
    FILE* actions = nullptr;
    void Act(const char* fmt, ...) {
        if (!actions) return;
        va_list args;
        va_start(args, fmt);
        fprintf(actions, "%9.3f ", Elapsed());
        vfprintf(actions, fmt, args);
        va_end(args);
        fputc('\n', actions);
        fflush(actions);
    }
    ULONGLONG start = 0, end = 0, warmEnd = 0;
    double Elapsed() const { return (Now() - start) / 1000.0; }

    PROCESS_INFORMATION tovrel = {};
    HWND dialog = nullptr, log = nullptr;
    DWORD servicePid = 0;
    ULONGLONG serviceStarted = 0;
    unsigned restarts = 0;
    unsigned bursts = 0, controls = 0, powerLosses = 0, countdownsAnswered = 0, noticesAnswered = 0;
    unsigned diskChanges = 0, failNexts = 0, deviceLosses = 0, logChecks = 0, leaked = 0;
    DWORD maxTurnaround = 0;
    uint64_t controlVolUp = 0, controlVolDown = 0;

    std::vector<Series> serviceSeries;
    Series tovrelSeries;

    // Schedule (seconds since start).
    double nextEvent = 0, nextBurst = 0, nextControl = 0, nextPower = 0, nextDisk = 0, nextFail = 0;
    double nextProbe = 0, nextCheck = 10, nextLeak = 0;
    std::vector<double> deviceLossAt;

    double Exp(Stream s, double meanSeconds) {
        return std::exponential_distribution<double>(1.0 / meanSeconds)(rng[s]);
    }
    double Uniform(Stream s, double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng[s]); }
    unsigned Pick(Stream s, unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng[s]); }

    uint32_t DrawCode(Stream s, bool burst) {
        const auto& mix = soak::EventMix();
        unsigned total = 0;
        for (const auto& c : mix)
            if (!burst || c.inBurst) total += c.weight;
        unsigned x = Pick(s, total);
        for (const auto& c : mix) {
            if (burst && !c.inBurst) continue;
            if (x < c.weight) return c.code;
            x -= c.weight;
        }
        return 0x1001;
    }

    bool Setup();
    void Loop();
    void RaiseOne(uint32_t code);
    void Burst(unsigned count);
    void CustomControl();
    void PowerLoss();
    void DiskChange();
    void DeviceLoss();
    void Probe();
    bool Quiesce(const char* why);
    void ReadLog(uint64_t* lines, uint32_t* lastCode);
    bool TickAutoUpdate();
    void SampleAll(bool record);
    void Progress();
    void InjectLeak();
    bool Finish();
};

// Event lines of Tovrel's log and the code of the last one.
void Run::ReadLog(uint64_t* lines, uint32_t* lastCode) {
    const std::wstring text = TextOf(log);
    *lines = 0;
    *lastCode = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t e = text.find(L"\r\n", pos);
        if (e == std::wstring::npos) e = text.size();
        if (soak::ParseLogLineCode(text.substr(pos, e - pos), lastCode)) ++*lines;
        pos = e + 2;
    }
}

// Clicks Tovrel's Auto Update check box and waits until it shows the tick.
bool Run::TickAutoUpdate() {
    HWND box = GetDlgItem(dialog, kAutoUpdateId);
    PostMessageW(box, BM_CLICK, 0, 0);
    DWORD_PTR checked = 0;
    for (int i = 0; i < 50 && checked != BST_CHECKED; ++i) {
        Sleep(100);
        SendMessageTimeoutW(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 2000, &checked);
    }
    return checked == BST_CHECKED;
}

bool Run::Setup() {
    g_scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!g_scm) return Fail("cannot open the service manager (error %lu)", GetLastError()), false;
    if (!OpenCtl()) return Fail("the simulated firmware does not answer (error %lu)", GetLastError()), false;

    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CreateThread(nullptr, 0, KeyThread, ready, 0, nullptr);
    WaitForSingleObject(ready, 5000);

    DWORD state = 0;
    const ULONGLONG until = Now() + 10000;
    while ((servicePid = ServicePid(&state)) == 0 && Now() < until) Sleep(100);
    if (!servicePid) return Fail("the service QEBEvent is not running after the install (state %lu)", state), false;

    g_acc.nextSeq = 1;
    g_acc.service = WaitNewListener(10000);
    if (!g_acc.service) return Fail("the service does not wait for firmware events"), false;

    // Tovrel, its library in strict mode (the variable reaches the program
    // through its environment).
    SetEnvironmentVariableW(L"QEBI_STANDIN_STRICT", L"1");
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    wchar_t cmd[MAX_PATH + 4];
    swprintf(cmd, MAX_PATH + 4, L"\"%ls\"", kTovrelPath);
    if (!CreateProcessW(kTovrelPath, cmd, nullptr, nullptr, FALSE, 0, nullptr, L"C:\\Program Files\\Kestil\\QEB",
                        &si, &tovrel))
        return Fail("cannot start Tovrel (error %lu)", GetLastError()), false;
    const ULONGLONG windowUntil = Now() + 20000;
    while (!dialog && Now() < windowUntil) {
        for (const TopWindow& w : Dialogs())
            if (w.pid == tovrel.dwProcessId && w.caption == kTovrelCaption) dialog = w.hwnd;
        if (!dialog) Sleep(100);
    }
    if (!dialog) return Fail("Tovrel's dialog did not appear"), false;
    log = GetDlgItem(dialog, kLogId);
    g_acc.tovrel = WaitNewListener(10000);
    if (!g_acc.tovrel) return Fail("Tovrel's library does not wait for firmware events"), false;

    if (!TickAutoUpdate()) return Fail("Tovrel's Auto Update did not tick"), false;

    // A disk with a temperature, the firmware healthy.
    qebsim::SetHealth(0x00400001);
    qebsim::SetDiskTemperature(1, 40);
    Say("soak: service pid %lu handle %u, Tovrel pid %lu handle %u, auto update on, library strict mode requested",
        servicePid, g_acc.service, tovrel.dwProcessId, g_acc.tovrel);
    {
        // What this Windows layer reports itself, before any fallback.
        HANDLE p = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, tovrel.dwProcessId);
        DWORD n = 0;
        const BOOL hc = GetProcessHandleCount(p, &n);
        const DWORD hcError = hc ? 0 : GetLastError();
        PROCESS_MEMORY_COUNTERS_EX mc = {};
        mc.cb = sizeof(mc);
        const BOOL mi = GetProcessMemoryInfo(p, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&mc), sizeof(mc));
        Say("soak: sampling calls on Tovrel: GetProcessHandleCount %s %lu (error %lu), GetProcessMemoryInfo %s "
            "PrivateUsage %lu WorkingSetSize %lu, GetGuiResources USER %lu GDI %lu",
            hc ? "ok" : "failed", n, hcError, mi ? "ok" : "failed", (unsigned long)mc.PrivateUsage,
            (unsigned long)mc.WorkingSetSize, GetGuiResources(p, GR_USEROBJECTS), GetGuiResources(p, GR_GDIOBJECTS));
        if (p) CloseHandle(p);
    }
    const Sample s = SampleProcess(tovrel.dwProcessId);
    Say("soak: sampling Tovrel: handles %lld (from %s), private %lld KB (from %s), USER objects %lld (from %s), "
        "GDI objects %lld (GetGuiResources)",
        s.handles, g_handleSource, s.privateKb, g_privateSource, s.userObjects, g_userSource, s.gdiObjects);
    return true;
}

void Run::RaiseOne(uint32_t code) {
    if (!Raise(code)) Fail("raising 0x%X failed (error %lu)", code, GetLastError());
}

void Run::Burst(unsigned count) {
    ++bursts;
    Act("burst of %u", count);
    for (unsigned i = 0; i < count && !Failed(); ++i) {
        RaiseOne(DrawCode(kBursts, true));
        // Read the journal often enough that the ring never overtakes us.
        if (i % 200 == 199) PollJournal();
    }
    PollJournal();
}

void Run::CustomControl() {
    // 128 volume up, 129 volume down, 130 green to red, 131 red to green,
    // 132 detailed report; 133 (power loss) runs in its own sequence.
    const DWORD code = 128 + Pick(kControls, 5);
    Act("control %lu", code);
    SC_HANDLE svc = OpenSvc(kService);
    SERVICE_STATUS st;
    const BOOL ok = svc && ControlService(svc, code, &st);
    if (svc) CloseServiceHandle(svc);
    if (!ok) return Fail("custom control %lu failed (error %lu)", code, GetLastError());
    ++controls;
    switch (code) {
        case 128: ++g_acc.wantVolUp; break;
        case 129: ++g_acc.wantVolDown; break;
        case 130: ++g_acc.wantGreenRed; break;
        case 131: ++g_acc.wantRedGreen; break;
        case 132: ++g_acc.wantHealthReads; break;
    }
}

// A power loss: the helper's countdown, answered or left to run, the recorded
// hibernation, the resume notice answered or left for the next power loss.
void Run::PowerLoss() {
    ++powerLosses;
    const bool byControl = Pick(kPower, 2) == 1;
    const bool answerCountdown = Pick(kPower, 2) == 1;
    const double answerAfter = Uniform(kPower, 0.5, 3.5);
    const bool answerNotice = Pick(kPower, 3) != 0;
    Act("power loss by %s, countdown %s, resume notice %s", byControl ? "control 133" : "event 0x1041",
        answerCountdown ? "answered" : "left to run", answerNotice ? "answered" : "left");
    const uint64_t notesBefore = g_acc.suspendNotes;
    if (byControl) {
        SC_HANDLE svc = OpenSvc(kService);
        SERVICE_STATUS st;
        const BOOL ok = svc && ControlService(svc, 133, &st);
        if (svc) CloseServiceHandle(svc);
        if (!ok) return Fail("custom control 133 failed (error %lu)", GetLastError());
    } else {
        RaiseOne(0x1041);
    }
    HWND countdown = nullptr;
    ULONGLONG until = Now() + 15000;
    while (!countdown && Now() < until) {
        for (const TopWindow& w : Dialogs())
            if (StartsWith(w.text101, L"System will hibernate after")) countdown = w.hwnd;
        if (!countdown) { Probe(); Sleep(100); }
    }
    if (!countdown) return Fail("power loss %u: no countdown on the desktop", powerLosses);
    if (answerCountdown) {
        const ULONGLONG at = Now() + static_cast<ULONGLONG>(answerAfter * 1000);
        while (Now() < at) { Probe(); Sleep(50); }
        PostMessageW(countdown, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(countdown, IDOK)));
        ++countdownsAnswered;
    }
    until = Now() + 15000;
    while (g_acc.suspendNotes == notesBefore && Now() < until) { PollJournal(); Probe(); Sleep(100); }
    if (g_acc.suspendNotes != notesBefore + 1)
        return Fail("power loss %u: %llu hibernations recorded instead of 1", powerLosses,
                    static_cast<unsigned long long>(g_acc.suspendNotes - notesBefore));
    HWND notice = nullptr;
    until = Now() + 10000;
    while (!notice && Now() < until) {
        for (const TopWindow& w : Dialogs()) {
            if (w.caption == L"QEBI") return Fail("power loss %u: the helper reports a refused hibernation", powerLosses);
            if (StartsWith(w.text101, L"There has been a power loss event")) notice = w.hwnd;
        }
        if (!notice) { Probe(); Sleep(100); }
    }
    if (!notice) return Fail("power loss %u: no resume notice", powerLosses);
    if (answerNotice) {
        PostMessageW(notice, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(notice, IDOK)));
        ++noticesAnswered;
    }
}

void Run::DiskChange() {
    ++diskChanges;
    const uint32_t drive = Pick(kDisks, 4);
    const unsigned what = Pick(kDisks, 5);
    const int temperature = 20 + static_cast<int>(Pick(kDisks, 50));
    const uint32_t fails[] = {QEBSIM_DISK_FAIL_VERSION, QEBSIM_DISK_FAIL_ENABLE, QEBSIM_DISK_FAIL_READ};
    const uint32_t fail = fails[Pick(kDisks, 3)];
    switch (what) {
        case 0: qebsim::RemoveDisk(drive); Act("disk %u removed", drive); break;
        case 1: qebsim::SetDiskTemperature(drive, -1); Act("disk %u without temperature", drive); break;
        case 2:
            qebsim::SetDiskTemperature(drive, temperature, fail);
            Act("disk %u at %d failing SMART (flags 0x%X)", drive, temperature, fail);
            break;
        default: qebsim::SetDiskTemperature(drive, temperature); Act("disk %u at %d", drive, temperature); break;
    }
    RaiseOne(0x1005);  // the thermal report that reads the disks
}

// The device goes away under the running service: its wait fails and it ends
// with exit code 1. Wine's service manager keeps no recovery actions, so the
// restart the package configures (after 5 s) is done here.
void Run::DeviceLoss() {
    if (!Quiesce("before the device loss")) return;
    ++deviceLosses;
    // Events in flight when the device goes: codes without an action, so
    // that what the lost journal would have told changes no action count.
    const uint32_t silent[] = {0x1001, 0x1002, 0x1011, 0x1021, 0x1022};
    Act("device loss after 50 silent events");
    for (unsigned i = 0; i < 50; ++i) RaiseOne(silent[Pick(kLoss, 5)]);
    PollJournal();
    // The device goes away under its users (a surprise removal) without the
    // driver unloading: Wine unloads a stopped driver with handles still
    // open, and their later use or close can crash the driver's host.
    if (!qebsim::SetDevicePresent(false)) return Fail("losing the device failed (error %lu)", GetLastError());
    PollJournal();
    if (!g_acc.deviceLost) return Fail("the journal does not show the device loss");
    // Tovrel's log tells how many of its in-flight events it got: a count
    // within the in-flight ones whose last code matches.
    Sleep(1000);
    {
        const std::deque<uint32_t> inFlight = g_acc.tovrelInFlight;
        uint64_t lines = 0;
        uint32_t last = 0;
        ReadLog(&lines, &last);
        bool matched = false;
        for (size_t k = 0; k <= inFlight.size() && !matched; ++k) {
            const uint32_t code = k ? inFlight[k - 1] : g_acc.lastTovrelCode;
            if (soak::ExpectedLogLines(g_acc.deliveredTovrel + k) == lines && code == last) {
                g_acc.deliveredTovrel += k;
                g_acc.lastTovrelCode = code;
                matched = true;
            }
        }
        if (!matched) return Fail("device loss: Tovrel's log (%llu lines, last 0x%X) matches none of its %zu events in flight",
                                  (unsigned long long)lines, last, inFlight.size());
    }
    g_acc.service = 0;
    // The service process must end with exit code 1. Wine's service manager
    // does not notice a service process that ends by itself (it reports it
    // as running on), so its process is watched instead.
    HANDLE old = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, servicePid);
    const DWORD oldPid = servicePid;
    servicePid = 0;
    DWORD exitCode = STILL_ACTIVE;
    if (old) {
        if (WaitForSingleObject(old, 10000) == WAIT_OBJECT_0) GetExitCodeProcess(old, &exitCode);
        CloseHandle(old);
    } else {
        exitCode = 0xFFFFFFFE;  // already gone: exit code unknown
    }
    if (exitCode == STILL_ACTIVE) return Fail("the service (pid %lu) runs on without its device", oldPid);
    if (exitCode != 1 && exitCode != 0xFFFFFFFE)
        return Fail("the service ended with exit code %lu after the device loss (expected 1)", exitCode);
    const ULONGLONG stoppedAt = Now();
    if (!qebsim::SetDevicePresent(true)) return Fail("bringing the device back failed (error %lu)", GetLastError());
    PollJournal();
    const uint32_t oldTovrel = g_acc.tovrel;
    g_acc.tovrel = 0;
    g_acc.deviceLost = false;
    g_acc.tovrel = WaitNewListener(10000);
    if (!g_acc.tovrel) return Fail("Tovrel's library did not come back after the device loss (was handle %u)", oldTovrel);
    // Events go on while the service is down (they reach Tovrel only).
    while (Now() < stoppedAt + kRecoveryDelayMs) {
        if (Elapsed() >= nextEvent) {
            const uint32_t code = DrawCode(kLoss, true);
            Act("raise 0x%X (service down)", code);
            RaiseOne(code);
            nextEvent += Exp(kLoss, 1.0 / opt.rate);
        }
        PollJournal();
        Probe();
        Sleep(20);
    }
    SC_HANDLE svc = OpenSvc(kService);
    if (!svc || !StartServiceW(svc, 0, nullptr)) return Fail("restarting the service failed (error %lu)", GetLastError());
    CloseServiceHandle(svc);
    ++restarts;
    const ULONGLONG until = Now() + 15000;
    while ((servicePid = ServicePid()) == 0 && Now() < until) Sleep(100);
    serviceStarted = Now();
    g_acc.service = WaitNewListener(10000);
    if (!servicePid || !g_acc.service) return Fail("the restarted service does not wait for firmware events");
    Say("soak: %6.1fs device loss %u: service pid %lu ended with exit code %lu, restarted as pid %lu after %lu ms",
        Elapsed(), deviceLosses, oldPid, exitCode, servicePid, kRecoveryDelayMs);
}

// One answer from the service and one from Tovrel's window, each timed.
void Run::Probe() {
    if (Elapsed() < nextProbe) return;
    nextProbe = Elapsed() + 0.5;
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    if (servicePid && g_acc.service) {
        SC_HANDLE svc = OpenSvc(kService);
        SERVICE_STATUS st;
        QueryPerformanceCounter(&a);
        const BOOL ok = svc && ControlService(svc, SERVICE_CONTROL_INTERROGATE, &st);
        QueryPerformanceCounter(&b);
        if (svc) CloseServiceHandle(svc);
        const DWORD ms = static_cast<DWORD>((b.QuadPart - a.QuadPart) * 1000 / f.QuadPart);
        if (ok && ms > maxTurnaround) maxTurnaround = ms;
        if (ok && ms > kAnswerMs) Fail("the service took %lu ms to answer an interrogate", ms);
        if (!ok && GetLastError() != ERROR_SERVICE_NOT_ACTIVE) Fail("interrogate failed (error %lu)", GetLastError());
    }
    DWORD_PTR r = 0;
    QueryPerformanceCounter(&a);
    const LRESULT ok = SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, kAnswerMs, &r);
    QueryPerformanceCounter(&b);
    const DWORD ms = static_cast<DWORD>((b.QuadPart - a.QuadPart) * 1000 / f.QuadPart);
    if (ms > maxTurnaround) maxTurnaround = ms;
    if (!ok) Fail("Tovrel's window did not answer WM_NULL within %lu ms", kAnswerMs);
}

// Stops raising until every raised event has reached both listeners, then
// compares every action with what was asked for and Tovrel's log with what
// its library delivered.
bool Run::Quiesce(const char* why) {
    const ULONGLONG until = Now() + 15000;
    uint64_t linesSeen = 0;
    uint32_t lastCode = 0;
    bool logOk = false, actionsOk = false;
    std::string mismatch;
    while (!Failed()) {
        PollJournal();
        g_eventLog.Poll();
        Probe();
        const bool drained = Pending(g_acc.service) == 0 && Pending(g_acc.tovrel) == 0;
        if (drained) {
            QEBSIM_STATE state = {};
            if (qebsim::GetState(&state) &&
                (state.events_raised != g_acc.raised || state.events_dropped != 0)) {
                Fail("%s: the driver counts %lu raised and %lu dropped, its journal %llu raised", why,
                     (unsigned long)state.events_raised, (unsigned long)state.events_dropped,
                     (unsigned long long)g_acc.raised);
                break;
            }
            ReadLog(&linesSeen, &lastCode);
            const uint64_t want = soak::ExpectedLogLines(g_acc.deliveredTovrel);
            logOk = linesSeen == want && (want == 0 || lastCode == g_acc.lastTovrelCode);
            // The actions.
            const uint64_t up = static_cast<uint64_t>(g_keysUp), down = static_cast<uint64_t>(g_keysDown);
            char buf[512];
            snprintf(buf, sizeof(buf),
                     "volume up %llu/%llu (helpers started %llu of %llu), volume down %llu/%llu (helpers started %llu "
                     "of %llu), SendSAS %llu/%llu, green-to-red entries %llu/%llu, "
                     "red-to-green entries %llu/%llu, health reads %llu/%llu, detailed entries %llu/%llu",
                     (unsigned long long)up, (unsigned long long)g_acc.wantVolUp,
                     (unsigned long long)g_eventLog.helpers.upStarted, (unsigned long long)g_eventLog.helpers.upAsked,
                     (unsigned long long)down, (unsigned long long)g_acc.wantVolDown,
                     (unsigned long long)g_eventLog.helpers.downStarted, (unsigned long long)g_eventLog.helpers.downAsked,
                     (unsigned long long)g_acc.sasNotes,
                     (unsigned long long)g_acc.wantSas, (unsigned long long)g_eventLog.greenRed,
                     (unsigned long long)g_acc.wantGreenRed, (unsigned long long)g_eventLog.redGreen,
                     (unsigned long long)g_acc.wantRedGreen, (unsigned long long)g_acc.knvsHealthFrames,
                     (unsigned long long)g_acc.wantHealthReads, (unsigned long long)g_eventLog.details,
                     (unsigned long long)g_acc.knvsHealthOk);
            mismatch = buf;
            actionsOk = up == g_acc.wantVolUp && down == g_acc.wantVolDown && g_acc.sasNotes == g_acc.wantSas &&
                        g_eventLog.greenRed == g_acc.wantGreenRed && g_eventLog.redGreen == g_acc.wantRedGreen &&
                        g_acc.knvsHealthFrames == g_acc.wantHealthReads && g_eventLog.details == g_acc.knvsHealthOk;
            if (logOk && actionsOk) break;
        }
        if (Now() > until) {
            if (!drained)
                Fail("%s: %zu events never reached the service, %zu never reached Tovrel", why,
                     Pending(g_acc.service), Pending(g_acc.tovrel));
            else if (!logOk)
                Fail("%s: Tovrel's log shows %llu event lines ending with 0x%X, expected %llu ending with 0x%X", why,
                     (unsigned long long)linesSeen, lastCode,
                     (unsigned long long)soak::ExpectedLogLines(g_acc.deliveredTovrel), g_acc.lastTovrelCode);
            else
                Fail("%s: actions done/asked: %s", why, mismatch.c_str());
            break;
        }
        Sleep(100);
    }
    ++logChecks;
    return !Failed();
}

void Run::SampleAll(bool record) {
    const Sample t = SampleProcess(tovrel.dwProcessId);
    const Sample s = servicePid ? SampleProcess(servicePid) : Sample();
    if (!record) return;
    tovrelSeries.Add(t);
    // A restarted service is judged from 20 s after its start.
    if (servicePid && s.handles >= 0 && Now() >= serviceStarted + 20000) {
        if (serviceSeries.empty() || serviceSeries.back().pid != servicePid) {
            serviceSeries.push_back(Series());
            serviceSeries.back().pid = servicePid;
        }
        serviceSeries.back().Add(s);
    }
}

void Run::Progress() {
    const uint64_t lost = g_acc.dropped;
    Say("soak: %6.1fs raised=%llu delivered=%llu lost=%llu restarts=%u (tovrel=%llu bursts=%u controls=%u power=%u "
        "disks=%u fail-next=%u)",
        Elapsed(), (unsigned long long)g_acc.raised, (unsigned long long)g_acc.deliveredService,
        (unsigned long long)lost, restarts, (unsigned long long)g_acc.deliveredTovrel, bursts, controls, powerLosses,
        diskChanges, failNexts);
}

// Test switch: handles duplicated into Tovrel and never closed, to show that
// the growth check catches a leak.
void Run::InjectLeak() {
    if (opt.injectLeak <= 0 || Elapsed() < nextLeak) return;
    nextLeak = Elapsed() + 1;
    HANDLE target = OpenProcess(PROCESS_DUP_HANDLE, FALSE, tovrel.dwProcessId);
    if (!target) return;
    for (int i = 0; i < opt.injectLeak; ++i) {
        HANDLE dup = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), target, &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
            ++leaked;
    }
    CloseHandle(target);
}

void Run::Loop() {
    const double total = (end - start) / 1000.0;
    const double warm = (warmEnd - start) / 1000.0;
    nextEvent = Exp(kEvents, 1.0 / opt.rate);
    nextBurst = warm + Uniform(kBursts, 0.1, 0.3) * (total - warm);
    nextControl = Exp(kControls, 6);
    nextPower = warm * 0.6 + Uniform(kPower, 0, 5);
    nextDisk = Exp(kDisks, 5);
    nextFail = Exp(kFails, 7);
    deviceLossAt.push_back(warm * 0.25);
    if (opt.lossEvery > 0)
        for (double t = warm + opt.lossEvery; t < total - 60; t += opt.lossEvery) deviceLossAt.push_back(t);
    size_t nextLoss = 0;
    while (!Failed() && Now() < end) {
        const double t = Elapsed();
        if (nextLoss < deviceLossAt.size() && t >= deviceLossAt[nextLoss]) {
            ++nextLoss;
            DeviceLoss();
            continue;
        }
        while (t >= nextEvent && !Failed()) {
            const uint32_t code = DrawCode(kEvents, false);
            Act("raise 0x%X", code);
            RaiseOne(code);
            nextEvent += Exp(kEvents, 1.0 / opt.rate);
        }
        if (t >= nextBurst) {
            Burst(1000);
            nextBurst = t + Exp(kBursts, 120);
        }
        if (t >= nextControl) {
            CustomControl();
            nextControl = t + Exp(kControls, 6);
        }
        if (t >= nextPower && t < total - 25) {
            PowerLoss();
            nextPower = Elapsed() + 10 + Exp(kPower, 40);
        }
        if (t >= nextDisk) {
            DiskChange();
            nextDisk = t + Exp(kDisks, 5);
        }
        if (t >= nextFail) {
            ++failNexts;
            const unsigned n = 1 + Pick(kFails, 3);
            Act("fail-next %u", n);
            qebsim::FailNext(n);
            nextFail = t + Exp(kFails, 7);
        }
        InjectLeak();
        PollJournal();
        Probe();
        if (t >= nextCheck) {
            nextCheck = t + 10;
            if (!Quiesce("check")) break;
            SampleAll(Now() >= warmEnd);
            Progress();
        }
        Sleep(20);
    }
}

void JudgeSeries(const char* what, const std::vector<long long>& samples, long long bound, long long* from,
                        long long* to, std::string* failure) {
    const soak::Growth g = soak::Judge(samples);
    if (!g.judged) return;
    *from = g.from;
    *to = g.to;
    if (samples.front() < 0) return;
    if (g.to - g.from > bound && failure->empty()) {
        char buf[200];
        snprintf(buf, sizeof(buf), "%s grew %lld->%lld (more than %lld) after the warm-up", what, g.from, g.to, bound);
        *failure = buf;
    }
}

bool Run::Finish() {
    if (!Failed()) Quiesce("at the end");
    // Helpers: only a resume notice waiting for its OK may stay.
    if (!Failed()) {
        const ULONGLONG until = Now() + 15000;
        std::vector<DWORD> strays;
        for (;;) {
            strays.clear();
            const std::vector<TopWindow> dialogs = Dialogs();
            unsigned notices = 0;
            for (DWORD pid : HelperPids(servicePid)) {
                bool notice = false;
                for (const TopWindow& w : dialogs)
                    if (w.pid == pid && StartsWith(w.text101, L"There has been a power loss event")) notice = true;
                if (notice && ++notices == 1) continue;
                strays.push_back(pid);
            }
            if (strays.empty() || Now() > until) break;
            Sleep(200);
        }
        if (!strays.empty()) Fail("%zu helper processes left behind (first pid %lu)", strays.size(), strays[0]);
    }
    if (!Failed() && g_acc.dropped) Fail("%llu events lost", (unsigned long long)g_acc.dropped);
    QEBSIM_STATE state = {};
    if (!Failed() && qebsim::GetState(&state) && state.events_dropped != 0)
        Fail("the driver counts %lu dropped events", (unsigned long)state.events_dropped);

    // Growth after the warm-up: Tovrel, and the longest-lived service instance.
    std::string growth;
    long long th0 = -1, th1 = -1, tp0 = -1, tp1 = -1, tu0 = -1, tu1 = -1, tg0 = -1, tg1 = -1;
    long long sh0 = -1, sh1 = -1, sp0 = -1, sp1 = -1, su0 = -1, su1 = -1, sg0 = -1, sg1 = -1;
    JudgeSeries("tovrel handles", tovrelSeries.handles, kMaxHandleGrowth, &th0, &th1, &growth);
    JudgeSeries("tovrel private KB", tovrelSeries.privateKb, kMaxPrivateKbGrowth, &tp0, &tp1, &growth);
    JudgeSeries("tovrel USER objects", tovrelSeries.userObjects, kMaxUserObjectGrowth, &tu0, &tu1, &growth);
    JudgeSeries("tovrel GDI objects", tovrelSeries.gdiObjects, kMaxGdiObjectGrowth, &tg0, &tg1, &growth);
    const Series* longest = nullptr;
    for (const Series& s : serviceSeries) {
        JudgeSeries("qebevent handles", s.handles, kMaxHandleGrowth, &sh0, &sh1, &growth);
        JudgeSeries("qebevent private KB", s.privateKb, kMaxPrivateKbGrowth, &sp0, &sp1, &growth);
        JudgeSeries("qebevent USER objects", s.userObjects, kMaxUserObjectGrowth, &su0, &su1, &growth);
        JudgeSeries("qebevent GDI objects", s.gdiObjects, kMaxGdiObjectGrowth, &sg0, &sg1, &growth);
        if (!longest || s.handles.size() > longest->handles.size()) longest = &s;
    }
    if (longest) {
        JudgeSeries("", longest->handles, 1LL << 40, &sh0, &sh1, &growth);
        JudgeSeries("", longest->privateKb, 1LL << 40, &sp0, &sp1, &growth);
    }
    if (!Failed() && (tovrelSeries.handles.size() < 2 || !longest || longest->handles.size() < 2))
        Fail("too few samples after the warm-up to judge growth (run longer)");
    if (!Failed() && !growth.empty()) Fail("%s", growth.c_str());
    if (!Failed() && deviceLosses == 0) Fail("the run ended before its device loss (run longer)");

    const uint64_t accounted = g_acc.deliveredService + g_acc.raisedServiceDown + g_acc.lostAtLoss;
    const uint64_t lost = g_acc.raised > accounted ? g_acc.raised - accounted : 0;
    if (!Failed() && lost) Fail("%llu raised events neither reached the service nor went with a device loss", (unsigned long long)lost);

    Say("soak: summary: seed=%lu rate=%.2f/s raised=%llu to the service=%llu to Tovrel=%llu", (unsigned long)opt.seed,
        opt.rate, (unsigned long long)g_acc.raised, (unsigned long long)g_acc.deliveredService,
        (unsigned long long)g_acc.deliveredTovrel);
    Say("soak: summary: device losses=%u (events queued for the service then=%llu, raised while it was down=%llu), "
        "restarts=%u", deviceLosses, (unsigned long long)g_acc.lostAtLoss, (unsigned long long)g_acc.raisedServiceDown,
        restarts);
    Say("soak: summary: bursts=%u controls=%u power losses=%u (countdowns answered=%u, notices answered=%u) "
        "disk changes=%u fail-next=%u log checks=%u",
        bursts, controls, powerLosses, countdownsAnswered, noticesAnswered, diskChanges, failNexts, logChecks);
    Say("soak: summary: volume keys=%ld/%ld (helpers started %llu/%llu) SendSAS=%llu hibernations=%llu "
        "event-log entries=%llu/%llu/%llu",
        (long)g_keysUp, (long)g_keysDown, (unsigned long long)g_eventLog.helpers.upStarted,
        (unsigned long long)g_eventLog.helpers.downStarted, (unsigned long long)g_acc.sasNotes, (unsigned long long)g_acc.suspendNotes,
        (unsigned long long)g_eventLog.greenRed, (unsigned long long)g_eventLog.redGreen,
        (unsigned long long)g_eventLog.details);
    Say("soak: summary: slowest answer of the service or Tovrel's window: %lu ms", (unsigned long)maxTurnaround);
    Say("soak: summary: growth after the warm-up: qebevent handles %lld->%lld private %lld->%lld KB USER %lld->%lld "
        "GDI %lld->%lld; tovrel handles %lld->%lld private %lld->%lld KB USER %lld->%lld GDI %lld->%lld%s",
        sh0, sh1, sp0, sp1, su0, su1, sg0, sg1, th0, th1, tp0, tp1, tu0, tu1, tg0, tg1,
        leaked ? " (handles injected into Tovrel by --inject-leak)" : "");
    if (Failed()) {
        Say("soak: FAIL %s", g_failure.c_str());
        return false;
    }
    Say("soak: PASS minutes=%g raised=%llu delivered=%llu lost=0 restarts=%u qebevent_handles=%lld->%lld "
        "qebevent_private_kb=%lld->%lld tovrel_handles=%lld->%lld tovrel_private_kb=%lld->%lld "
        "tovrel_user_objects=%lld->%lld max_turnaround_ms=%lu",
        opt.minutes, (unsigned long long)g_acc.raised, (unsigned long long)g_acc.deliveredService, restarts, sh0, sh1,
        sp0, sp1, th0, th1, tp0, tp1, tu0, tu1, (unsigned long)maxTurnaround);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Run run;
    if (!ParseOptions(argc, argv, &run.opt)) {
        Say("usage: soak_driver --minutes M --seed S --rate R --services-log PATH [--inject-leak N]");
        Say("soak: FAIL bad arguments");
        return 2;
    }
    for (int i = 0; i < Run::kStreams; ++i) {
        std::seed_seq seq{run.opt.seed, static_cast<uint32_t>(i)};
        run.rng[i].seed(seq);
    }
    if (!run.opt.actionsLog.empty()) run.actions = _wfopen(run.opt.actionsLog.c_str(), L"w");
    g_eventLog.path = run.opt.servicesLog;
    g_eventLog.Poll();  // what the start-up wrote is not ours
    g_eventLog.greenRed = g_eventLog.redGreen = g_eventLog.details = 0;
    g_eventLog.helpers = soak::HelperLaunches();
    const double seconds = run.opt.minutes * 60;
    Say("soak: seed=%lu minutes=%g rate=%.2f/s", (unsigned long)run.opt.seed, run.opt.minutes, run.opt.rate);
    if (run.Setup()) {
        run.start = Now();
        run.end = run.start + static_cast<ULONGLONG>(seconds * 1000);
        const double warm = seconds >= 180 ? 60 : seconds / 3;
        run.warmEnd = run.start + static_cast<ULONGLONG>(warm * 1000);
        run.Loop();
    }
    const bool pass = run.Finish();
    if (run.tovrel.hProcess) {
        PostMessageW(run.dialog, WM_CLOSE, 0, 0);
        WaitForSingleObject(run.tovrel.hProcess, 5000);
    }
    return pass ? 0 : 1;
}
