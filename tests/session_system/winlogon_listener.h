// A listener where Windows has the Winlogon desktop, "WinSta0\Winlogon": a
// copy of the test program started there with kWinlogonListenerSwitch, which
// records every WM_HOTKEY broadcast on that desktop.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qebtest {

const char kWinlogonListenerSwitch[] = "--winlogon-listener";
const char kWinlogonHotKey[] = "WM_HOTKEY 0 0x002E0003";  // MOD_CONTROL | MOD_ALT, VK_DELETE

// The listener's own main: writes "ready <desktop name>" once its window
// exists, then one line per WM_HOTKEY, until it is ended. Call it from the
// test program's main when argv is {program, kWinlogonListenerSwitch, path}.
int RunWinlogonListener(const char* outPath);

class WinlogonListener {
public:
    // Starts the listener on "<windowStation>\Winlogon" (Windows, here Wine,
    // creates the desktop for a process started on it) and waits until it
    // is ready.
    WinlogonListener(const wchar_t* windowStation, const std::wstring& outPath);
    ~WinlogonListener();
    std::string Text() const;
    // The hot-key lines after `timeoutMs` of waiting for at least `count`.
    std::vector<std::string> HotKeys(size_t count, DWORD timeoutMs) const;

private:
    std::wstring out_;
    PROCESS_INFORMATION pi_ = {};
};

}  // namespace qebtest
