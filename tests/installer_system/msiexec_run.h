// The kit's packages beside the test program, and msiexec run to its end:
// shared by the installer's system tests (one program each, so the
// definitions stay local to it).
#pragma once
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

#ifdef _WIN64
const wchar_t kArch[] = L"x64";
#else
const wchar_t kArch[] = L"x86";
#endif

std::wstring BinDir() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L"\\/") + 1);
}

std::wstring Package(const std::wstring& version, bool upgradeTest = false) {
    return BinDir() + (upgradeTest ? L"QEBKit-upgrade-test-" : L"QEBKit-") + version + L"-" + kArch +
           L".msi";
}

// Runs msiexec with the arguments and returns its exit code.
DWORD Msiexec(const std::wstring& args) {
    std::wstring cmd = L"msiexec.exe " + args;
    std::vector<wchar_t> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        ADD_FAILURE() << "msiexec did not start, error " << GetLastError();
        return 0xFFFFFFFF;
    }
    DWORD code = 0xFFFFFFFF;
    if (WaitForSingleObject(pi.hProcess, 180000) == WAIT_OBJECT_0) {
        GetExitCodeProcess(pi.hProcess, &code);
    } else {
        ADD_FAILURE() << "msiexec " << std::string(cmd.begin(), cmd.end()) << " did not end";
        TerminateProcess(pi.hProcess, 1);
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

}  // namespace
