// Looking at the desktop from outside: the helpers' dialogs, their texts,
// key presses seen by a low-level keyboard hook, screenshots.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace qebtest {

struct HelperDialog {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    std::wstring text;  // control 101
    DWORD foundAt = 0;  // GetTickCount when found
};

// Visible top-level dialogs of other processes that have a control 101.
std::vector<HelperDialog> FindHelperDialogs();
// Text of a window's control 101 ("" when gone).
std::wstring DialogText(HWND dialog);

// A visible message box of another process: its caption and message text.
struct MessageBoxSeen {
    HWND hwnd = nullptr;
    DWORD pid = 0;
    std::wstring caption;
    std::wstring text;
};
// Visible top-level dialogs of other processes with a message box's text
// control (0xFFFF) and no control 101.
std::vector<MessageBoxSeen> FindMessageBoxes();

// One key event seen by the hook.
struct KeySeen {
    DWORD vk;
    DWORD flags;  // KBDLLHOOKSTRUCT flags
    bool up;
};

// Low-level keyboard hook on the calling thread, recording every event.
class KeyRecorder {
public:
    KeyRecorder();
    ~KeyRecorder();
    bool installed() const { return hook_ != nullptr; }
    // Pumps messages for up to timeoutMs, until `count` events were seen.
    bool WaitForKeys(size_t count, DWORD timeoutMs);
    // Pumps messages for ms milliseconds.
    void Pump(DWORD ms);
    std::vector<KeySeen> Take();

private:
    HHOOK hook_;
};

// Pumps the calling thread's messages for ms milliseconds.
void PumpMessages(DWORD ms);

// Screenshot of the whole screen to a BMP file (Unix path); true when the
// file was written.
bool SaveScreenshot(const std::string& unixPath);

// Unix path of a file in the screenshots folder beside the test prefixes
// ($QEB_BUILD/systest/session-screenshots).
std::string ArtifactPath(const char* name);

}  // namespace qebtest
