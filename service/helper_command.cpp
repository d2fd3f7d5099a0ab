// QEBEvent: the command line of a helper started in the user's session
// (pure: no process state).
#include "session_internal.h"

#include <strsafe.h>

const wchar_t* HelperSwitch(int mode) {
    switch (mode) {
    case RunModeHalt: return L"-HALT";
    case RunModeCad: return L"-CAD";
    case RunModeVolumeUp: return L"-VOLUMEUP";
    case RunModeVolumeDown: return L"-VOLUMEDOWN";
    default: return nullptr;
    }
}

bool BuildHelperCommandLine(int mode, wchar_t* buffer, size_t capacity) {
    if (buffer == nullptr || capacity == 0) return false;
    buffer[0] = L'\0';
    const wchar_t* modeSwitch = HelperSwitch(mode);
    if (modeSwitch == nullptr) return false;
    if (FAILED(StringCchPrintfW(buffer, capacity, L"QEBEvent.exe %s", modeSwitch))) {
        buffer[0] = L'\0';
        return false;
    }
    return true;
}
