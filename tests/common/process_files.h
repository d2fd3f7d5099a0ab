// Small helpers of the system tests: a file's whole text and a program run
// to its end. Header only; no CMakeLists.txt here, this folder is no part.
#pragma once
#include <windows.h>

#include <string>

namespace qebtest {

// The whole content of a file that another process may still be writing
// ("" when it cannot be opened).
inline std::string ReadFileText(const std::wstring& path) {
    HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return std::string();
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof(buffer), &got, nullptr) && got > 0) text.append(buffer, got);
    CloseHandle(f);
    return text;
}

// Runs a command line in `folder` (nullptr: this process's) to its end within
// timeoutMs: its exit code, or 0xBAD when it did not start or did not end
// (it is then ended).
inline DWORD RunToExit(const std::wstring& commandLine, const wchar_t* folder, DWORD timeoutMs) {
    std::wstring cmd = commandLine;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, folder, &si, &pi)) return 0xBAD;
    DWORD code = 0xBAD;
    if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
    else TerminateProcess(pi.hProcess, 0xBAD);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace qebtest
