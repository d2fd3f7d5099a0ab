#include "desktop_probe.h"

#include <stdio.h>
#include <stdlib.h>

namespace qebtest {

namespace {

// A visible dialog of another process; its process id in *pid.
bool IsOthersDialog(HWND hwnd, DWORD* pid) {
    wchar_t className[32];
    if (!IsWindowVisible(hwnd) || GetClassNameW(hwnd, className, 32) == 0 || lstrcmpW(className, L"#32770") != 0)
        return false;
    *pid = 0;
    GetWindowThreadProcessId(hwnd, pid);
    return *pid != GetCurrentProcessId();
}

BOOL CALLBACK CollectDialog(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<std::vector<HelperDialog>*>(param);
    DWORD pid = 0;
    if (!IsOthersDialog(hwnd, &pid) || GetDlgItem(hwnd, 101) == nullptr) return TRUE;
    found->push_back({hwnd, pid, DialogText(hwnd), GetTickCount()});
    return TRUE;
}

BOOL CALLBACK CollectMessageBox(HWND hwnd, LPARAM param) {
    auto* found = reinterpret_cast<std::vector<MessageBoxSeen>*>(param);
    DWORD pid = 0;
    if (!IsOthersDialog(hwnd, &pid) || GetDlgItem(hwnd, 101) != nullptr || GetDlgItem(hwnd, 0xFFFF) == nullptr)
        return TRUE;
    wchar_t caption[128] = L"", text[512] = L"";
    GetWindowTextW(hwnd, caption, 128);
    GetDlgItemTextW(hwnd, 0xFFFF, text, 512);
    found->push_back({hwnd, pid, caption, text});
    return TRUE;
}

std::vector<KeySeen>* Keys = nullptr;

LRESULT CALLBACK RecordKey(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && Keys != nullptr) {
        const auto* info = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam);
        Keys->push_back({info->vkCode, info->flags, wParam == WM_KEYUP || wParam == WM_SYSKEYUP});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

std::vector<HelperDialog> FindHelperDialogs() {
    std::vector<HelperDialog> found;
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::vector<MessageBoxSeen> FindMessageBoxes() {
    std::vector<MessageBoxSeen> found;
    EnumWindows(CollectMessageBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

std::wstring DialogText(HWND dialog) {
    wchar_t text[256] = L"";
    if (!IsWindow(dialog)) return L"";
    GetDlgItemTextW(dialog, 101, text, 256);
    return text;
}

void PumpMessages(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

KeyRecorder::KeyRecorder() {
    static std::vector<KeySeen> storage;
    storage.clear();
    Keys = &storage;
    hook_ = SetWindowsHookExW(WH_KEYBOARD_LL, RecordKey, GetModuleHandleW(nullptr), 0);
}

KeyRecorder::~KeyRecorder() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    Keys = nullptr;
}

bool KeyRecorder::WaitForKeys(size_t count, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    while (Keys->size() < count) {
        if (GetTickCount() - start >= timeoutMs) return false;
        PumpMessages(10);
    }
    return true;
}

void KeyRecorder::Pump(DWORD ms) { PumpMessages(ms); }

std::vector<KeySeen> KeyRecorder::Take() {
    std::vector<KeySeen> taken;
    taken.swap(*Keys);
    return taken;
}

std::string ArtifactPath(const char* name) {
    // Beside the test prefixes (each run replaces its prefix folder).
    const char* prefix = getenv("QEB_PREFIX_UNIX");
    std::string dir = std::string(prefix != nullptr ? prefix : "/tmp") + "/../session-screenshots";
    CreateDirectoryA(("Z:" + dir).c_str(), nullptr);
    return dir + "/" + name;
}

bool SaveScreenshot(const std::string& unixPath) {
    // The screen as the X server shows it, read back through GDI.
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        if (BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY)) {
            GdiFlush();
            const DWORD stride = ((width * 3) + 3) & ~3u;
            const DWORD imageSize = stride * height;
            BITMAPFILEHEADER file = {};
            file.bfType = 0x4D42;
            file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
            file.bfSize = file.bfOffBits + imageSize;
            FILE* out = fopen(("Z:" + unixPath).c_str(), "wb");
            if (out != nullptr) {
                saved = fwrite(&file, sizeof(file), 1, out) == 1 &&
                        fwrite(&info.bmiHeader, sizeof(info.bmiHeader), 1, out) == 1 &&
                        fwrite(bits, imageSize, 1, out) == 1;
                saved = (fclose(out) == 0) && saved;
            }
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace qebtest
