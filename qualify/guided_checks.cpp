#include "guided_checks.h"

#include <strsafe.h>
#include <tlhelp32.h>

#include <vector>

#include "automatic_checks.h"
#include "check_facts.h"

namespace qebcheck {

namespace {

const wchar_t kResumeNotice[] = L"There has been a power loss event, system resume from hibernation.";
const int kCountdownTextControl = 101;
const int kMessageBoxTextControl = 0xFFFF;

// ---- what the hook and the watch window saw (this thread only) ----------------

const size_t kMaxKeys = 64;
KeyEvent g_keys[kMaxKeys];
size_t g_keyCount = 0;
bool g_suspendSeen = false;
bool g_resumeSeen = false;

LRESULT CALLBACK RecordKey(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && g_keyCount < kMaxKeys) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        g_keys[g_keyCount++] = {info->vkCode, info->flags, wParam == WM_KEYUP || wParam == WM_SYSKEYUP};
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT CALLBACK WatchWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_POWERBROADCAST) {
        if (wParam == PBT_APMSUSPEND) g_suspendSeen = true;
        if (wParam == PBT_APMRESUMEAUTOMATIC || wParam == PBT_APMRESUMESUSPEND) g_resumeSeen = true;
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Dispatches this thread's messages for `ms` milliseconds, always back in
// the wait within 10 ms: a low-level hook gets keys only from a thread that
// keeps fetching its messages.
void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

// ---- windows of the service's helpers ------------------------------------------

std::vector<DWORD> ProcessesNamed(const wchar_t* exe) {
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL ok = Process32FirstW(snapshot, &entry); ok; ok = Process32NextW(snapshot, &entry))
        if (lstrcmpiW(entry.szExeFile, exe) == 0) pids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

bool Contains(const std::vector<DWORD>& list, DWORD value) {
    for (DWORD v : list)
        if (v == value) return true;
    return false;
}

// A control's text, asked for with a bound: a hung helper must not hang this.
std::wstring ControlText(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    wchar_t text[256] = L"";
    DWORD_PTR result = 0;
    if (control == nullptr ||
        !SendMessageTimeoutW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 500, &result))
        return L"";
    text[255] = 0;
    return text;
}

struct HelperWindow {
    HWND hwnd;
    DWORD pid;
    bool messageBox;  // a message box rather than the countdown dialog
    std::wstring text;
};

struct WindowSearch {
    std::vector<DWORD> pids;
    std::vector<HelperWindow> found;
};

BOOL CALLBACK CollectHelperWindow(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<WindowSearch*>(param);
    wchar_t className[32] = L"";
    if (!IsWindowVisible(hwnd) || GetClassNameW(hwnd, className, 32) == 0 || lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (!Contains(search->pids, pid)) return TRUE;
    if (GetDlgItem(hwnd, kCountdownTextControl) != nullptr)
        search->found.push_back({hwnd, pid, false, ControlText(hwnd, kCountdownTextControl)});
    else if (GetDlgItem(hwnd, kMessageBoxTextControl) != nullptr)
        search->found.push_back({hwnd, pid, true, ControlText(hwnd, kMessageBoxTextControl)});
    return TRUE;
}

// Visible dialogs and message boxes of QEBEvent.exe processes.
std::vector<HelperWindow> HelperWindows() {
    WindowSearch search;
    search.pids = ProcessesNamed(L"QEBEvent.exe");
    if (!search.pids.empty()) EnumWindows(CollectHelperWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// ---- the checks ----------------------------------------------------------------------

CheckResult KeyCheck(ReportOutput& out, DWORD vk, const wchar_t* keyName, const wchar_t* promptName,
                     unsigned waitSeconds) {
    Pump(200);
    g_keyCount = 0;
    out.Prompt(VolumePrompt(promptName, waitSeconds));
    const DWORD start = GetTickCount();
    DWORD settleFrom = 0;
    bool settling = false;
    for (;;) {
        Pump(50);
        const DWORD now = GetTickCount();
        if (!settling) {
            bool down = false;
            for (size_t i = 0; i < g_keyCount; ++i) {
                if (g_keys[i].vk != vk) continue;
                if (!g_keys[i].up) down = true;
                else if (down) settling = true;
            }
            // Once the key went down and up, a second more shows whether
            // anything else of it follows.
            if (settling) settleFrom = now;
        }
        if (settling && now - settleFrom >= 1000) break;
        if (!settling && now - start >= waitSeconds * 1000u) break;
    }
    std::vector<KeyEvent> events(g_keys, g_keys + g_keyCount);
    std::wstring seen;
    Outcome outcome = JudgeKeyPress(events, vk, keyName, waitSeconds, &seen);
    return {outcome, seen};
}

// The input desktop's name, or "" when it cannot be opened (the secure
// desktop cannot be opened from the user's desktop).
std::wstring InputDesktopName(DWORD* error) {
    HDESK desktop = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (desktop == nullptr) {
        *error = GetLastError();
        return L"";
    }
    wchar_t name[128] = L"";
    DWORD needed = 0;
    if (!GetUserObjectInformationW(desktop, UOI_NAME, name, sizeof(name), &needed)) name[0] = 0;
    CloseDesktop(desktop);
    *error = 0;
    return name;
}

CheckResult CtrlAltDelCheck(ReportOutput& out, unsigned waitSeconds, const std::wstring& wineVersion) {
    const std::vector<DWORD> taskManagersBefore = ProcessesNamed(L"taskmgr.exe");
    out.Prompt(CtrlAltDelPrompt(waitSeconds));
    const DWORD start = GetTickCount();
    std::wstring seen;
    while (seen.empty() && GetTickCount() - start < waitSeconds * 1000u) {
        Pump(100);
        DWORD error = 0;
        const std::wstring desktop = InputDesktopName(&error);
        if (desktop.empty())
            seen = Format(L"the input desktop left \"Default\" (it could not be opened: error %lu, the secure desktop)",
                          static_cast<unsigned long>(error));
        else if (lstrcmpiW(desktop.c_str(), L"Default") != 0)
            seen = L"the input desktop left \"Default\" for \"" + desktop + L"\"";
        for (DWORD pid : ProcessesNamed(L"taskmgr.exe"))
            if (seen.empty() && !Contains(taskManagersBefore, pid))
                seen = Format(L"Task Manager opened (process %lu), as XP with the Welcome screen answers Ctrl+Alt+Del",
                              static_cast<unsigned long>(pid));
    }
    if (seen.empty()) {
        if (!wineVersion.empty())
            return {Outcome::Skip, L"the input desktop stayed \"Default\" for " + Format(L"%u s", waitSeconds) +
                                       L": Wine " + wineVersion +
                                       L" has no secure desktop and no Winlogon to answer Ctrl+Alt+Del"};
        return {Outcome::Fail, L"expected the input desktop to leave \"Default\" (or Task Manager to open), " +
                                   NothingSeen(waitSeconds)};
    }
    // The operator cancels; the next prompts need the user's desktop back.
    const DWORD back = GetTickCount();
    bool returned = false;
    while (!returned && GetTickCount() - back < waitSeconds * 1000u) {
        Pump(200);
        DWORD error = 0;
        returned = lstrcmpiW(InputDesktopName(&error).c_str(), L"Default") == 0;
    }
    seen += returned ? Format(L"; back on \"Default\" after %lu s", static_cast<unsigned long>((GetTickCount() - back) / 1000))
                     : Format(L"; not back on \"Default\" after %u s", waitSeconds);
    return {Outcome::Pass, seen};
}

struct CountdownSeen {
    CheckResult result;
    DWORD helperPid = 0;  // the "-HALT" helper that showed it
};

CountdownSeen CountdownCheck(ReportOutput& out, unsigned waitSeconds) {
    // The hibernation may begin, and even end, before the countdown's
    // window is seen to close: its broadcasts count from here on.
    g_suspendSeen = false;
    g_resumeSeen = false;
    out.Prompt(PowerLossPrompt(waitSeconds));
    const DWORD start = GetTickCount();
    HWND dialog = nullptr;
    DWORD pid = 0;
    std::vector<int> values;
    while (dialog == nullptr && GetTickCount() - start < waitSeconds * 1000u) {
        Pump(100);
        for (const HelperWindow& w : HelperWindows()) {
            if (w.messageBox)
                return {{Outcome::Fail, L"expected the countdown, got a message box of QEBEvent.exe: \"" + w.text + L"\""}, 0};
            int seconds = CountdownSeconds(w.text);
            if (seconds >= 0 && dialog == nullptr) {
                dialog = w.hwnd;
                pid = w.pid;
                values.push_back(seconds);
            }
        }
    }
    if (dialog == nullptr)
        return {{Outcome::Fail, L"expected the countdown \"System will hibernate after 5 seconds.\", " + NothingSeen(waitSeconds)}, 0};
    // Followed until it closes (the countdown ran out, or OK): about six
    // seconds, at most twenty.
    const DWORD followed = GetTickCount();
    while (IsWindow(dialog) && IsWindowVisible(dialog) && GetTickCount() - followed < 20000) {
        Pump(100);
        int seconds = CountdownSeconds(ControlText(dialog, kCountdownTextControl));
        if (seconds >= 0 && seconds != values.back()) values.push_back(seconds);
    }
    std::wstring seen;
    Outcome outcome = JudgeCountdown(values, &seen);
    seen += Format(L" (QEBEvent.exe, process %lu)", static_cast<unsigned long>(pid));
    return {{outcome, seen}, pid};
}

CheckResult ResumeCheck(ReportOutput& out, unsigned waitSeconds, DWORD helperPid) {
    out.Prompt(ResumePrompt(waitSeconds));
    // Only time this program runs counts: a hibernation stops it, and the
    // operator gets the whole wait after the resume.
    DWORD running = 0, longestGap = 0, last = GetTickCount();
    std::wstring notice, box;
    while (notice.empty() && box.empty() && running < waitSeconds * 1000u) {
        Pump(100);
        const DWORD now = GetTickCount(), step = now - last;
        last = now;
        if (step > 2000) {
            if (step > longestGap) longestGap = step;
        } else {
            running += step;
        }
        for (const HelperWindow& w : HelperWindows()) {
            if (w.pid != helperPid) continue;
            if (w.messageBox) box = w.text;
            else if (w.text == kResumeNotice) notice = w.text;
        }
    }
    if (!box.empty())
        return {Outcome::Fail, std::wstring(L"expected the resume notice, got a message box of the helper: \"") + box + L"\""};
    if (notice.empty())
        return {Outcome::Fail,
                std::wstring(L"expected \"") + kResumeNotice + L"\" after the resume, " + NothingSeen(waitSeconds)};
    std::wstring how;
    if (g_resumeSeen) how = g_suspendSeen ? L"the PC suspended and resumed (WM_POWERBROADCAST)" : L"the PC resumed (WM_POWERBROADCAST)";
    if (longestGap > 0)
        how += Format(L"%lsthis program stood still for %lu s", how.empty() ? L"" : L", ",
                      static_cast<unsigned long>(longestGap / 1000));
    if (how.empty())
        return {Outcome::Fail, std::wstring(L"expected \"") + kResumeNotice +
                                   L"\" after a hibernation, got it with no suspend or resume seen by this program"};
    return {Outcome::Pass, std::wstring(L"\"") + kResumeNotice + L"\" on screen after the resume; " + how};
}

}  // namespace

void RunGuidedChecks(ReportOutput& out, unsigned waitSeconds, const std::wstring& wineVersion) {
    // A hidden top-level window for the power broadcasts, and the keyboard
    // hook, both on this thread, which keeps pumping while it waits.
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WatchWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QEBCheckWatch";
    RegisterClassW(&windowClass);
    HWND watch = CreateWindowExW(0, windowClass.lpszClassName, L"QEBCheck", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, RecordKey, GetModuleHandleW(nullptr), 0);
    if (hook == nullptr) {
        const std::wstring why = Format(L"no low-level keyboard hook (error %lu)", static_cast<unsigned long>(GetLastError()));
        out.Check(Outcome::Fail, L"key.volumeup", L"expected to watch the keyboard, got " + why);
        out.Check(Outcome::Fail, L"key.volumedown", L"expected to watch the keyboard, got " + why);
    } else {
        CheckResult up = KeyCheck(out, VK_VOLUME_UP, L"VK_VOLUME_UP", L"Volume Up", waitSeconds);
        out.Check(up.outcome, L"key.volumeup", up.seen);
        CheckResult down = KeyCheck(out, VK_VOLUME_DOWN, L"VK_VOLUME_DOWN", L"Volume Down", waitSeconds);
        out.Check(down.outcome, L"key.volumedown", down.seen);
        UnhookWindowsHookEx(hook);
    }
    CheckResult cad = CtrlAltDelCheck(out, waitSeconds, wineVersion);
    out.Check(cad.outcome, L"cad.secure", cad.seen);
    CountdownSeen countdown = CountdownCheck(out, waitSeconds);
    out.Check(countdown.result.outcome, L"powerloss.countdown", countdown.result.seen);
    if (countdown.helperPid == 0) {
        out.Check(Outcome::Skip, L"powerloss.resume", L"no countdown was seen, so there was no hibernation to resume from");
    } else {
        CheckResult resume = ResumeCheck(out, waitSeconds, countdown.helperPid);
        out.Check(resume.outcome, L"powerloss.resume", resume.seen);
    }
    if (watch != nullptr) DestroyWindow(watch);
}

}  // namespace qebcheck
