// keywatch: shows on the desktop which keys reach it. A low-level keyboard
// hook records every key event (virtual key, flags) to the file named on the
// command line, one line each, until the process is ended. Used by the demo to
// show the volume keys that the service's helper presses.
#include <windows.h>

#include <cstdio>

namespace {

FILE* g_log = nullptr;

LRESULT CALLBACK KeyboardHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && g_log) {
        const KBDLLHOOKSTRUCT* k = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        const char* what = (wParam == WM_KEYDOWN || wParam == WM_SYSKEYDOWN) ? "down" : "up";
        SYSTEMTIME t;
        GetLocalTime(&t);
        fprintf(g_log, "%02u:%02u:%02u.%03u key %s vk=0x%02lX flags=0x%02lX%s\n", t.wHour, t.wMinute,
                t.wSecond, t.wMilliseconds, what, k->vkCode, k->flags,
                (k->flags & LLKHF_EXTENDED) ? " extended" : "");
        fflush(g_log);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: keywatch LOGFILE\n");
        return 2;
    }
    g_log = _wfopen(argv[1], L"w");
    if (!g_log) {
        fwprintf(stderr, L"keywatch: cannot open %ls\n", argv[1]);
        return 1;
    }
    HHOOK hook = SetWindowsHookExW(WH_KEYBOARD_LL, KeyboardHook, GetModuleHandleW(nullptr), 0);
    if (!hook) {
        fwprintf(stderr, L"keywatch: hook refused (error %lu)\n", GetLastError());
        return 1;
    }
    // Wine skips a low-level hook whose thread has fetched no message for 5
    // seconds and is not waiting at that instant, which is the case between
    // the wake-up by one key and its fetch: a second key in that moment was
    // lost after a quiet spell. A timer keeps this thread fetching.
    SetTimer(nullptr, 0, 1000, nullptr);
    fprintf(g_log, "keywatch ready\n");
    fflush(g_log);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    UnhookWindowsHookEx(hook);
    fclose(g_log);
    return 0;
}
