#include "winlogon_listener.h"

#include <stdio.h>

#include "../common/process_files.h"

namespace qebtest {

namespace {

HANDLE ListenerOut = INVALID_HANDLE_VALUE;

LRESULT CALLBACK ListenerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_HOTKEY) {
        char line[64];
        int n = snprintf(line, sizeof(line), "WM_HOTKEY %lu 0x%08lX\r\n", static_cast<unsigned long>(wParam),
                         static_cast<unsigned long>(lParam));
        DWORD written = 0;
        WriteFile(ListenerOut, line, static_cast<DWORD>(n), &written, nullptr);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}


}  // namespace

int RunWinlogonListener(const char* outPath) {
    wchar_t path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, outPath, -1, path, MAX_PATH);
    ListenerOut = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ListenerOut == INVALID_HANDLE_VALUE) return 2;
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ListenerProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QEBWinlogonListener";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, wc.hInstance,
                                nullptr);
    if (hwnd == nullptr) return 3;
    wchar_t name[128] = L"";
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, name, sizeof(name), nullptr);
    char line[160];
    int n = snprintf(line, sizeof(line), "ready %ls\r\n", name);
    DWORD written = 0;
    WriteFile(ListenerOut, line, static_cast<DWORD>(n), &written, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

WinlogonListener::WinlogonListener(const wchar_t* windowStation, const std::wstring& outPath) : out_(outPath) {
    DeleteFileW(out_.c_str());
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring cmd = L"\"" + std::wstring(self) + L"\" --winlogon-listener \"" + out_ + L"\"";
    std::wstring desktop = std::wstring(windowStation) + L"\\Winlogon";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.lpDesktop = &desktop[0];
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_)) return;
    for (int i = 0; i < 300 && Text().find("ready ") == std::string::npos; ++i) Sleep(50);
}

WinlogonListener::~WinlogonListener() {
    if (pi_.hProcess == nullptr) return;
    TerminateProcess(pi_.hProcess, 0);
    WaitForSingleObject(pi_.hProcess, 5000);
    CloseHandle(pi_.hProcess);
    CloseHandle(pi_.hThread);
}

std::string WinlogonListener::Text() const { return ReadFileText(out_); }

std::vector<std::string> WinlogonListener::HotKeys(size_t count, DWORD timeoutMs) const {
    std::vector<std::string> keys;
    for (DWORD waited = 0;; waited += 50) {
        keys.clear();
        std::string text = Text();
        for (size_t pos = 0; (pos = text.find("WM_HOTKEY", pos)) != std::string::npos; pos += 9)
            keys.push_back(text.substr(pos, text.find('\r', pos) - pos));
        if (keys.size() >= count || waited >= timeoutMs) return keys;
        Sleep(50);
    }
}

}  // namespace qebtest
