// Power-loss hibernation.
//
// Service side: a power loss starts a "-HALT" helper in the user's session
// (or, when none can be started, hibernates at once); at start and at logoff
// the firmware's power flags may ask for an immediate hibernation.
// Helper side ("-HALT"): a system-modal countdown dialog, the hibernation,
// and a notice after the resume.
#include "qebevent.h"

#include <strsafe.h>

#include "service_resources.h"
#include "service_seams.h"
#include "session_internal.h"
#include "system_library.h"
#include "user32_binding.h"

typedef BOOLEAN(WINAPI* SetSuspendStateFn)(BOOLEAN hibernate, BOOLEAN force, BOOLEAN disableWakeEvents);

// ---- pure helpers ------------------------------------------------------------------

const wchar_t ResumeNoticeText[] = L"There has been a power loss event, system resume from hibernation.";

bool FormatHibernateFailureText(DWORD error, wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    return SUCCEEDED(StringCchPrintfW(buffer, capacity,
                                      L"System could not hibernate after the power loss event (error %lu).",
                                      static_cast<unsigned long>(error)));
}

bool FormatCountdownText(int n, wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    const wchar_t* plural = static_cast<unsigned>(n) > 1u ? L"s" : L"";
    return SUCCEEDED(StringCchPrintfW(buffer, capacity, L"System will hibernate after %d second%s.", n, plural));
}

// ---- service side -----------------------------------------------------------------------

HANDLE HaltHelperProcess = nullptr;

// PowrProf.dll from the program's folder or System32, never the search path.
SystemLibraryFunctions PowerLibrary = {LoadSystemLibrary, GetProcAddress, FreeLibrary};

namespace {
// Guards the launch of a "-HALT" helper together with the replacement of
// HaltHelperProcess. Constructed before main, so before any power-loss thread
// exists.
struct HelperSlotLock {
    CRITICAL_SECTION section;
    HelperSlotLock() { InitializeCriticalSection(&section); }
    ~HelperSlotLock() { DeleteCriticalSection(&section); }
};
HelperSlotLock HelperSlot;
}  // namespace

void ReplaceHaltHelper(HANDLE newHelper) {
    EnterCriticalSection(&HelperSlot.section);
    HANDLE earlier = HaltHelperProcess;
    if (earlier != nullptr) {
        TerminateProcess(earlier, 0xFFFFFFFFu);
        CloseSessionHandle(earlier);
    }
    HaltHelperProcess = newHelper;
    LeaveCriticalSection(&HelperSlot.section);
}

// Power-loss actions admitted and not yet past their launch step: the one
// launching and at most one waiting for the helper slot. A driver that
// completes every wait with a power loss would otherwise pile up threads
// queued on the slot until thread creation fails. A power loss that finds
// both places taken is dropped: the waiting action has not launched yet, so
// its helper, started after the running one's, already shows the countdown
// that the dropped one would have started (the newer helper ends the older
// one either way). A place is given back as soon as the launch step is over,
// not after a hibernation: that returns only after the resume, and a power
// loss right after the resume must find a place.
volatile LONG PowerLossActions = 0;

bool BeginPowerLossAction() {
    for (;;) {
        const LONG now = PowerLossActions;
        if (now >= kMostPowerLossActions) return false;
        if (InterlockedCompareExchange(&PowerLossActions, now + 1, now) == now) return true;
    }
}

void EndPowerLossAction() {
    for (;;) {
        const LONG now = PowerLossActions;
        if (now <= 0) return;  // a thread run without BeginPowerLossAction
        if (InterlockedCompareExchange(&PowerLossActions, now - 1, now) == now) return;
    }
}

// Hibernations the service runs itself after a power loss (nobody to show a
// countdown to): one at a time. A power loss while one is under way is
// dropped, the PC is on its way into hibernation already; the next one after
// the resume hibernates again. Without this bound a flood of power losses
// with nobody logged on would again pile up one blocked thread per event.
static volatile LONG PowerLossHibernations = 0;

static void HibernateAfterPowerLoss() {
    if (InterlockedCompareExchange(&PowerLossHibernations, 1, 0) != 0) return;
    HibernateNow();  // returns after the resume
    InterlockedExchange(&PowerLossHibernations, 0);
}

DWORD WINAPI PowerLossThread(LPVOID) {
    // Launch and replacement are one step: when power losses race, the helper
    // of the later one is started later and is the one kept. With only the
    // replacement locked, a slow earlier launch could replace last and end
    // the newer helper.
    EnterCriticalSection(&HelperSlot.section);
    HANDLE helper = nullptr;
    const BOOL launched = LaunchInUserSession(RunModeHalt, &helper, nullptr);
    // The earlier helper is ended only once the new one runs.
    if (launched) ReplaceHaltHelper(helper);
    LeaveCriticalSection(&HelperSlot.section);
    EndPowerLossAction();
    // Not under the lock nor in a place: the hibernation returns only after
    // the resume.
    if (!launched) HibernateAfterPowerLoss();
    return 0;
}

static void EnableShutdownPrivilege() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
    TOKEN_PRIVILEGES privileges;
    ZeroMemory(&privileges, sizeof(privileges));
    LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

void HibernateNow() {
    HMODULE powrProf = PowerLibrary.loadLibrary(L"PowrProf.dll");
    EnableShutdownPrivilege();
    if (powrProf == nullptr) return;
    auto setSuspendState = reinterpret_cast<SetSuspendStateFn>(
        reinterpret_cast<void*>(PowerLibrary.getProcAddress(powrProf, "SetSuspendState")));
    if (setSuspendState != nullptr) setSuspendState(TRUE, TRUE, TRUE);  // returns after the resume
    PowerLibrary.freeLibrary(powrProf);
}

DWORD ReadPowerFlags() {
    DWORD flags = 0;
    if (!SendPlatformRequest(PlatformKnvs, 9, 0, &flags, sizeof(flags), nullptr, 0)) return 0x80000000u;
    return flags;
}

void CheckPendingHibernation() {
    if (HibernateRequested(ReadPowerFlags())) HibernateNow();
}

// ---- "-HALT" helper ---------------------------------------------------------------------

int CountdownSeconds = 0;
static const UINT_PTR kCountdownTimer = 1;
static SetSuspendStateFn BoundSetSuspendState = nullptr;

INT_PTR CALLBACK CountdownDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    // Bound before the dialog could be created (HibernateCountdown).
    const User32Functions* user32 = BindUser32();
    if (user32 == nullptr) return 0;
    switch (msg) {
    case WM_INITDIALOG:
        if (CountdownSeconds > 0) {
            user32->SetTimer(hwnd, kCountdownTimer, 1000, nullptr);
        } else {
            user32->SetDlgItemTextW(hwnd, IDC_COUNTDOWN_TEXT, ResumeNoticeText);
        }
        break;
    case WM_TIMER: {
        // Any program on the desktop can send WM_TIMER: only this dialog's
        // own timer counts down.
        if (wParam != kCountdownTimer) break;
        int n = CountdownSeconds;
        CountdownSeconds = n - 1;
        wchar_t text[100];
        FormatCountdownText(n, text, ARRAYSIZE(text));
        user32->SetDlgItemTextW(hwnd, IDC_COUNTDOWN_TEXT, text);
        if (n == 0) user32->EndDialog(hwnd, 1);
        break;
    }
    case WM_COMMAND:
        // Only OK (the button or Enter) closes the dialog; Esc and close
        // requests arrive as IDCANCEL and are ignored.
        if (LOWORD(wParam) == IDOK) user32->EndDialog(hwnd, 0);
        break;
    default:
        break;
    }
    return 0;
}

void HibernateCountdown() {
    // Null only where user32 cannot be loaded: then no dialog can be shown,
    // and the hibernation follows at once, as when the dialog cannot be
    // created.
    const User32Functions* user32 = BindUser32();
    if (BoundSetSuspendState == nullptr) {
        HMODULE powrProf = PowerLibrary.loadLibrary(L"PowrProf.dll");  // stays loaded
        if (powrProf != nullptr)
            BoundSetSuspendState = reinterpret_cast<SetSuspendStateFn>(
                reinterpret_cast<void*>(PowerLibrary.getProcAddress(powrProf, "SetSuspendState")));
        if (BoundSetSuspendState == nullptr) {
            if (user32 != nullptr)
                user32->MessageBoxW(user32->GetDesktopWindow(), L"Failed to locate SetSuspendState", L"QEBI",
                                    MB_SYSTEMMODAL | MB_ICONERROR);
            return;
        }
    }
    HINSTANCE instance = GetModuleHandleW(nullptr);
    CountdownSeconds = 5;
    if (user32 != nullptr)
        user32->DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_COUNTDOWN), nullptr, CountdownDialogProc, 0);
    // Windows refuses the call unless the caller holds SeShutdownPrivilege
    // enabled; the user's token holds it disabled.
    EnableShutdownPrivilege();
    if (!BoundSetSuspendState(TRUE, TRUE, TRUE)) {  // returns after the resume, or at once when refused
        // Nothing hibernated, so there is no resume to announce.
        const DWORD error = GetLastError();
        wchar_t text[128];
        FormatHibernateFailureText(error, text, ARRAYSIZE(text));
        if (user32 != nullptr)
            user32->MessageBoxW(user32->GetDesktopWindow(), text, L"QEBI", MB_SYSTEMMODAL | MB_ICONERROR);
        return;
    }
    Sleep(1000);
    CountdownSeconds = 0;
    if (user32 != nullptr)
        user32->DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_COUNTDOWN), nullptr, CountdownDialogProc, 0);
}
