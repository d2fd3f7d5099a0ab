// QEBCheck: what a check makes of what it read. Pure: the Win32 side hands
// the values in, these functions judge them and word the report's text.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "check_report.h"

namespace qebcheck {

// printf-style text for a report line, cut at 511 characters.
std::wstring Format(const wchar_t* format, ...);

// ---- Windows and files ------------------------------------------------------

// The kit's floor, as its package's launch condition: XP SP3 or later.
bool WindowsVersionAccepted(DWORD major, DWORD minor, WORD servicePackMajor);

// "1.0.0.7" from VS_FIXEDFILEINFO's dwFileVersionMS and dwFileVersionLS.
std::wstring FileVersionText(DWORD versionMs, DWORD versionLs);

// The program of a service's image path: a quoted path without its quotes,
// or an unquoted one up to the end of its ".exe" (arguments dropped).
std::wstring ImagePathProgram(const std::wstring& imagePath);

// The folder of a path, without its last separator ("" when it has none).
std::wstring FolderOf(const std::wstring& path);

// The search path a program in appFolder gets for a DLL loaded by bare name
// once it has made its own folder the DLL directory: its folder, the DLL
// directory (the same folder), the system folder, the 16-bit system folder,
// the Windows folder, then PATH.
std::wstring DllSearchPath(const std::wstring& appFolder, const std::wstring& systemFolder,
                           const std::wstring& windowsFolder, const std::wstring& pathVariable);

// ---- recovery -----------------------------------------------------------------

struct RecoveryAction {
    DWORD type;   // SC_ACTION_NONE, SC_ACTION_RESTART...
    DWORD delay;  // ms
};

// "reset after 600 s; restart after 5000 ms, restart after 60000 ms, no action".
std::wstring RecoveryText(DWORD resetSeconds, const std::vector<RecoveryAction>& actions);

// PASS for the package's recovery: reset after 600 s, restart after 5 s,
// restart after a minute, then no action.
Outcome JudgeRecovery(DWORD resetSeconds, const std::vector<RecoveryAction>& actions, std::wstring* seen);

// ---- guided checks --------------------------------------------------------------

// One key event a low-level keyboard hook saw.
struct KeyEvent {
    DWORD vk;
    DWORD flags;  // KBDLLHOOKSTRUCT flags
    bool up;
};

// PASS when the events of `vk` are exactly one key-down then one key-up,
// both extended. Events of other keys are not counted.
Outcome JudgeKeyPress(const std::vector<KeyEvent>& events, DWORD vk, const wchar_t* keyName, unsigned waitSeconds,
                      std::wstring* seen);

// The seconds of a countdown text ("System will hibernate after 4 seconds."),
// -1 for any other text.
int CountdownSeconds(const std::wstring& text);

// PASS when the countdown started at 5 and went down (never up) at least
// once; `values` are the distinct successive seconds read from the window.
Outcome JudgeCountdown(const std::vector<int>& values, std::wstring* seen);

// The prompts the operator reads (waitSeconds in each).
std::wstring VolumePrompt(const wchar_t* keyName, unsigned waitSeconds);
std::wstring CtrlAltDelPrompt(unsigned waitSeconds);
std::wstring PowerLossPrompt(unsigned waitSeconds);
std::wstring ResumePrompt(unsigned waitSeconds);

// "nothing seen in 20 s".
std::wstring NothingSeen(unsigned waitSeconds);

}  // namespace qebcheck
