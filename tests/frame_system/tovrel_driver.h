// Drives a real Tovrel.exe from outside for the system tests and the
// benchmark: a folder with Tovrel.exe and a fixture library as QEBI.dll,
// the process started with an exact command line, its windows found and
// read through window messages.
#pragma once
#include <windows.h>

#include <string>
#include <utility>
#include <vector>

namespace tovrel_test {

using EnvList = std::vector<std::pair<std::wstring, std::wstring>>;

// Folder of the running test executable, with a trailing backslash.
std::wstring BinDir();

class TovrelProcess {
public:
    TovrelProcess() = default;
    ~TovrelProcess();  // ends the process if it still runs
    TovrelProcess(const TovrelProcess&) = delete;
    TovrelProcess& operator=(const TovrelProcess&) = delete;

    // Fresh folder C:\frametest\<name> with Tovrel.exe and, unless fixture is
    // null, BinDir()+fixture copied as QEBI.dll; starts "Tovrel.exe" + args
    // there (args taken as they are, blanks included). FAKE_QEBI_LOG points
    // to calls.log in the folder.
    bool Start(const std::wstring& name, const wchar_t* fixture, const std::wstring& args,
               const EnvList& env = {});

    // Top-level window of the process whose caption equals title (null: any
    // dialog of the process); null after the timeout.
    HWND WaitForWindow(const wchar_t* title, DWORD timeoutMs) const;
    bool HasWindow(const wchar_t* title) const;
    // Exit code, or false when the process still runs after the timeout.
    bool WaitExit(DWORD timeoutMs, DWORD* exitCode);
    void Kill();

    // Lines of the fixture library's call log.
    std::vector<std::string> LibraryCalls() const;
    // Waits until a call log line starts with prefix; false after timeout.
    bool WaitForCall(const std::string& prefix, DWORD timeoutMs) const;

    DWORD pid() const { return m_pi.dwProcessId; }
    DWORD tid() const { return m_pi.dwThreadId; }
    HANDLE process() const { return m_pi.hProcess; }
    const std::wstring& folder() const { return m_folder; }

private:
    PROCESS_INFORMATION m_pi = {};
    std::wstring m_folder;
};

// The installed Tovrel.exe (C:\Program Files\Kestil\QEB, with the library
// installed beside it) started in its folder with this process's environment,
// the stand-in library's test switches included.
class InstalledTovrel {
public:
    InstalledTovrel() = default;
    // A dialog still open gets a close request; the process is ended if it
    // still runs 10 s later.
    ~InstalledTovrel();
    InstalledTovrel(const InstalledTovrel&) = delete;
    InstalledTovrel& operator=(const InstalledTovrel&) = delete;

    // Starts it; true once its dialog is visible and its event log holds the
    // registration line.
    bool Start();
    HWND dialog() const { return m_dialog; }
    HANDLE process() const { return m_pi.hProcess; }
    // Lines of the event log, the registration line first.
    std::vector<std::wstring> Lines() const;
    // The log once it holds at least n lines (or as it is after the timeout).
    std::vector<std::wstring> WaitLines(size_t n, DWORD timeoutMs) const;

private:
    PROCESS_INFORMATION m_pi = {};
    HWND m_dialog = nullptr;
};

// WM_GETTEXT through the window's own thread (works across processes).
std::wstring GetText(HWND hWnd);
std::wstring ClassOf(HWND hWnd);
// Child windows in z-order (the template's order for a dialog).
std::vector<HWND> Children(HWND parent);
// The window with the keyboard focus on the given GUI thread.
HWND FocusOf(DWORD threadId);

// Counts lines of text (CR LF separated, a last line without CR LF counted).
std::vector<std::wstring> SplitLines(const std::wstring& text);

}  // namespace tovrel_test
