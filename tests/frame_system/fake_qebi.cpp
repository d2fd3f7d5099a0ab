// Test fixture standing in for QEBI.dll in the Tovrel system tests and the
// benchmark. Behaviour comes from environment variables:
//   FAKE_QEBI_LOG        file that receives one line per entry-point call
//   FAKE_QEBI_STATUS     result of every query (default 3)
//   FAKE_QEBI_<name>     result of that entry point (queries and setters)
//   FAKE_QEBI_REGISTER   result of QEB_RegisterEventCallback (default 0);
//   FAKE_QEBI_REGISTER_ERROR  last error set when that result is not 0
//   FAKE_QEBI_EVENTS     comma-separated event codes fired after registration
//   FAKE_QEBI_REPEAT     times the list is fired (default 1)
//   FAKE_QEBI_DELAY_MS   wait before the first event (default 500)
//   FAKE_QEBI_QUIET      1: queries and setters write no log line (a benchmark
//                        then times the dialog, not this file's appends)
//   FAKE_QEBI_HOLD_REGISTER  1: registration returns only once every event
//                        is fired (the caller's thread is held meanwhile)
//   FAKE_QEBI_PUMP_COMMAND   a button id: every setter and the unregistration
//                        let messages through while another program sends
//                        the calling thread's dialog that button's command
// After every 1000 events and at the end, the elapsed time and the
// process's private bytes go to the log (CHUNK and FIRED lines).
// Built three times: complete, without Get_PC_Health_Status
// (FAKE_QEBI_NO_HEALTH) and without Brightness_Changed_Manually
// (FAKE_QEBI_NO_BRIGHTNESS).
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

typedef void(WINAPI* EventCallback)(DWORD code, void* context);

namespace {

CRITICAL_SECTION g_lock;
EventCallback g_callback = nullptr;
void* g_context = nullptr;
volatile LONG g_stop = 0;
HANDLE g_thread = nullptr;

void Log(const char* format, ...) {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"FAKE_QEBI_LOG", path, MAX_PATH)) return;
    char line[512];
    va_list args;
    va_start(args, format);
    int n = _vsnprintf(line, sizeof(line) - 2, format, args);
    va_end(args);
    if (n < 0 || n > static_cast<int>(sizeof(line)) - 2) n = static_cast<int>(sizeof(line)) - 2;
    line[n++] = '\n';
    EnterCriticalSection(&g_lock);
    HANDLE f = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f != INVALID_HANDLE_VALUE) {
        DWORD written;
        WriteFile(f, line, static_cast<DWORD>(n), &written, nullptr);
        CloseHandle(f);
    }
    LeaveCriticalSection(&g_lock);
}

LONG EnvNumber(const wchar_t* name, LONG fallback) {
    wchar_t value[64];
    DWORD n = GetEnvironmentVariableW(name, value, 64);
    if (n == 0 || n >= 64) return fallback;
    return static_cast<LONG>(wcstoul(value, nullptr, 0));
}

LONG Result(const char* entry, LONG fallback) {
    wchar_t name[128];
    _snwprintf(name, 127, L"FAKE_QEBI_%hs", entry);
    name[127] = 0;
    return EnvNumber(name, fallback);
}

bool CallsLogged() { return EnvNumber(L"FAKE_QEBI_QUIET", 0) == 0; }

LONG Query(const char* entry) {
    LONG r = Result(entry, EnvNumber(L"FAKE_QEBI_STATUS", 3));
    if (CallsLogged()) Log("%s => %ld", entry, r);
    return r;
}

// Waits for thread while handling the messages sent to this thread.
void WaitDispatchingSent(HANDLE thread) {
    for (;;) {
        DWORD r = MsgWaitForMultipleObjects(1, &thread, FALSE, 10000, QS_SENDMESSAGE);
        if (r != WAIT_OBJECT_0 + 1) break;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

struct Command {
    HWND dialog;
    int id;
};

BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam) {
    wchar_t cls[16] = {};
    GetClassNameW(hWnd, cls, 16);
    if (wcscmp(cls, L"#32770") != 0) return TRUE;
    reinterpret_cast<Command*>(lParam)->dialog = hWnd;
    return FALSE;
}

DWORD WINAPI SendCommand(void* param) {
    Command* c = static_cast<Command*>(param);
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(c->dialog, WM_COMMAND, MAKEWPARAM(c->id, BN_CLICKED),
                        reinterpret_cast<LPARAM>(GetDlgItem(c->dialog, c->id)), SMTO_NORMAL, 5000, &answer);
    return 0;
}

// A library that lets messages through while it works (COM, WMI): another
// program's button command reaches the caller's dialog inside this call.
void LetCommandThrough() {
    Command c = {nullptr, static_cast<int>(EnvNumber(L"FAKE_QEBI_PUMP_COMMAND", 0))};
    if (c.id == 0) return;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&c));
    if (!c.dialog) return;
    HANDLE sender = CreateThread(nullptr, 0, SendCommand, &c, 0, nullptr);
    if (!sender) return;
    WaitDispatchingSent(sender);
    CloseHandle(sender);
    Log("PUMPED %d", c.id);
}

LONG Setter(const char* entry, LONG value) {
    LetCommandThrough();
    LONG r = Result(entry, 0);
    if (CallsLogged()) Log("%s %ld => %ld", entry, value, r);
    return r;
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX pmc = {};
    pmc.cb = sizeof(pmc);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof(pmc)))
        return 0;
    // Wine leaves PrivateUsage at 0; the page-file usage is the private
    // committed memory it does report.
    return pmc.PagefileUsage;
}

DWORD WINAPI FireThread(void*) {
    Sleep(static_cast<DWORD>(EnvNumber(L"FAKE_QEBI_DELAY_MS", 500)));
    wchar_t list[1024];
    DWORD n = GetEnvironmentVariableW(L"FAKE_QEBI_EVENTS", list, 1024);
    if (n == 0 || n >= 1024) return 0;
    DWORD codes[64];
    unsigned count = 0;
    for (wchar_t* p = list; *p && count < 64;) {
        wchar_t* end = nullptr;
        codes[count++] = wcstoul(p, &end, 0);
        p = (end && *end == L',') ? end + 1 : (end ? end : p + wcslen(p));
        if (end && *end && *end != L',') break;
    }
    LONG repeat = EnvNumber(L"FAKE_QEBI_REPEAT", 1);
    SIZE_T before = PrivateBytes();
    LARGE_INTEGER freq, start, stop;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&start);
    unsigned fired = 0;
    for (LONG r = 0; r < repeat && !g_stop; ++r) {
        for (unsigned i = 0; i < count && !g_stop; ++i) {
            g_callback(codes[i], g_context);
            if (++fired % 1000 == 0) {
                QueryPerformanceCounter(&stop);
                Log("CHUNK %u us=%llu private=%llu", fired,
                    static_cast<unsigned long long>((stop.QuadPart - start.QuadPart) * 1000000 / freq.QuadPart),
                    static_cast<unsigned long long>(PrivateBytes()));
            }
        }
    }
    QueryPerformanceCounter(&stop);
    SIZE_T after = PrivateBytes();
    unsigned long long us = static_cast<unsigned long long>((stop.QuadPart - start.QuadPart) * 1000000 / freq.QuadPart);
    Log("FIRED %u us=%llu private_before=%llu private_after=%llu", fired, us,
        static_cast<unsigned long long>(before), static_cast<unsigned long long>(after));
    return 0;
}

// Waits for the firing thread while handling messages sent to this thread,
// so that a callback sending to the caller's windows can finish.
void StopFiring() {
    if (!g_thread) return;
    InterlockedExchange(&g_stop, 1);
    WaitDispatchingSent(g_thread);
    CloseHandle(g_thread);
    g_thread = nullptr;
}

}  // namespace

#define EXPORT extern "C" __declspec(dllexport)

EXPORT LONG WINAPI Get_Current_WIFI_Ratio_Status() { return Query("Get_Current_WIFI_Ratio_Status"); }
EXPORT LONG WINAPI Set_WIFI_Ratio_Onoff(LONG v) { return Setter("Set_WIFI_Ratio_Onoff", v); }
EXPORT LONG WINAPI Get_Current_BT_Ratio_Status() { return Query("Get_Current_BT_Ratio_Status"); }
EXPORT LONG WINAPI Set_BT_Ratio_Onoff(LONG v) { return Setter("Set_BT_Ratio_Onoff", v); }
EXPORT LONG WINAPI Get_Current_Microphone_Mute_Capability() { return Query("Get_Current_Microphone_Mute_Capability"); }
EXPORT LONG WINAPI Set_Microphone_MuteLED(LONG v) { return Setter("Set_Microphone_MuteLED", v); }
EXPORT LONG WINAPI Get_Current_Volume_Mute_Capability() { return Query("Get_Current_Volume_Mute_Capability"); }
EXPORT LONG WINAPI Set_Volume_MuteLED(LONG v) { return Setter("Set_Volume_MuteLED", v); }
EXPORT LONG WINAPI Get_Ambient_Light() { return Query("Get_Ambient_Light"); }
#ifndef FAKE_QEBI_NO_BRIGHTNESS
EXPORT LONG WINAPI Brightness_Changed_Manually() { return Query("Brightness_Changed_Manually"); }
#endif
EXPORT LONG WINAPI Get_Power_Meter() { return Query("Get_Power_Meter"); }
EXPORT LONG WINAPI Get_Thermal_Parameter(WORD* buffer, LONG count) {
    for (LONG i = 0; buffer && i < count && i < 10; ++i) buffer[i] = static_cast<WORD>(30 + i);
    LONG r = Result("Get_Thermal_Parameter", EnvNumber(L"FAKE_QEBI_STATUS", 3));
    if (CallsLogged()) Log("Get_Thermal_Parameter %ld => %ld", count, r);
    return r;
}
EXPORT LONG WINAPI Check_CADS_event() { return Query("Check_CADS_event"); }
EXPORT LONG WINAPI Check_BKIT_event() { return Query("Check_BKIT_event"); }
EXPORT LONG WINAPI QEB_RegisterEventCallback(EventCallback callback, void* context) {
    LONG r = EnvNumber(L"FAKE_QEBI_REGISTER", 0);
    Log("QEB_RegisterEventCallback %p %p => %ld", reinterpret_cast<void*>(callback), context, r);
    if (r != 0) {
        SetLastError(static_cast<DWORD>(EnvNumber(L"FAKE_QEBI_REGISTER_ERROR", 0)));
        return r;
    }
    g_callback = callback;
    g_context = context;
    g_stop = 0;
    if (!g_thread) g_thread = CreateThread(nullptr, 0, FireThread, nullptr, 0, nullptr);
    if (g_thread && EnvNumber(L"FAKE_QEBI_HOLD_REGISTER", 0) != 0) WaitForSingleObject(g_thread, 120000);
    return 0;
}
EXPORT LONG WINAPI QEB_UnregisterEventCallback(EventCallback callback, void* context) {
    bool match = callback == g_callback && context == g_context && g_callback != nullptr;
    Log("QEB_UnregisterEventCallback %p %p registered=%d", reinterpret_cast<void*>(callback), context, match ? 1 : 0);
    LetCommandThrough();
    if (match) {
        StopFiring();
        g_callback = nullptr;
        g_context = nullptr;
    }
    return 0;
}
EXPORT LONG WINAPI Get_USB_Charge_Status() { return Query("Get_USB_Charge_Status"); }
EXPORT LONG WINAPI Set_USB_Charge_Status(LONG v) { return Setter("Set_USB_Charge_Status", v); }
EXPORT LONG WINAPI Get_FSC_Status() { return Query("Get_FSC_Status"); }
EXPORT LONG WINAPI Set_FSC_Status(LONG v) { return Setter("Set_FSC_Status", v); }
#ifndef FAKE_QEBI_NO_HEALTH
EXPORT LONG WINAPI Get_PC_Health_Status() { return Query("Get_PC_Health_Status"); }
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        InitializeCriticalSection(&g_lock);
    } else if (reason == DLL_PROCESS_DETACH) {
        // reserved is null for FreeLibrary, non-null at process exit.
        Log("DETACH %s registered=%d", reserved ? "exit" : "freelibrary", g_callback ? 1 : 0);
    }
    return TRUE;
}
