#include "tovrel_driver.h"

#include <fstream>
#include <sstream>

namespace tovrel_test {

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& prefix) {
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

std::string Narrow(const std::wstring& w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &s[0], n, nullptr, nullptr);
    return s;
}

struct FindWindowState {
    DWORD pid;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND hWnd, LPARAM lParam) {
    FindWindowState* s = reinterpret_cast<FindWindowState*>(lParam);
    DWORD pid = 0;
    GetWindowThreadProcessId(hWnd, &pid);
    if (pid != s->pid || !IsWindowVisible(hWnd)) return TRUE;
    if (ClassOf(hWnd) != L"#32770") return TRUE;
    if (s->title && GetText(hWnd) != s->title) return TRUE;
    s->found = hWnd;
    return FALSE;
}

}  // namespace

std::wstring BinDir() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

TovrelProcess::~TovrelProcess() {
    Kill();
}

bool TovrelProcess::Start(const std::wstring& name, const wchar_t* fixture, const std::wstring& args,
                          const EnvList& env) {
    CreateDirectoryW(L"C:\\frametest", nullptr);
    m_folder = L"C:\\frametest\\" + name + L"\\";
    CreateDirectoryW(m_folder.c_str(), nullptr);
    DeleteFileW((m_folder + L"QEBI.dll").c_str());
    DeleteFileW((m_folder + L"calls.log").c_str());
    if (!CopyFileW((BinDir() + L"Tovrel.exe").c_str(), (m_folder + L"Tovrel.exe").c_str(), FALSE)) return false;
    if (fixture && !CopyFileW((BinDir() + fixture).c_str(), (m_folder + L"QEBI.dll").c_str(), FALSE)) return false;

    // Environment block: ours, then the overrides and the log path.
    std::vector<std::pair<std::wstring, std::wstring>> vars;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring entry(p);
            size_t eq = entry.find(L'=', 1);
            if (eq == std::wstring::npos) continue;
            std::wstring key = entry.substr(0, eq);
            if (key.compare(0, 10, L"FAKE_QEBI_") == 0) continue;
            vars.emplace_back(key, entry.substr(eq + 1));
        }
        FreeEnvironmentStringsW(block);
    }
    vars.emplace_back(L"FAKE_QEBI_LOG", m_folder + L"calls.log");
    for (const auto& kv : env) vars.push_back(kv);
    std::wstring envBlock;
    for (const auto& kv : vars) envBlock += kv.first + L"=" + kv.second + L'\0';
    envBlock += L'\0';

    std::wstring exe = m_folder + L"Tovrel.exe";
    std::wstring commandLine = L"Tovrel.exe" + args;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    return CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_UNICODE_ENVIRONMENT,
                          &envBlock[0], m_folder.c_str(), &si, &m_pi) != FALSE;
}

HWND TovrelProcess::WaitForWindow(const wchar_t* title, DWORD timeoutMs) const {
    DWORD start = GetTickCount();
    do {
        FindWindowState s = {m_pi.dwProcessId, title, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
        if (s.found) return s.found;
        if (WaitForSingleObject(m_pi.hProcess, 50) == WAIT_OBJECT_0) return nullptr;
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

bool TovrelProcess::HasWindow(const wchar_t* title) const {
    FindWindowState s = {m_pi.dwProcessId, title, nullptr};
    EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found != nullptr;
}

bool TovrelProcess::WaitExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!m_pi.hProcess) return false;
    if (WaitForSingleObject(m_pi.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    GetExitCodeProcess(m_pi.hProcess, exitCode);
    return true;
}

void TovrelProcess::Kill() {
    if (m_pi.hProcess) {
        if (WaitForSingleObject(m_pi.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(m_pi.hProcess, 0xDEAD);
            WaitForSingleObject(m_pi.hProcess, 5000);
        }
        CloseHandle(m_pi.hProcess);
        CloseHandle(m_pi.hThread);
    }
    m_pi = {};
}

InstalledTovrel::~InstalledTovrel() {
    if (!m_pi.hProcess) return;
    if (WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
        if (m_dialog) PostMessageW(m_dialog, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(m_pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(m_pi.hProcess, 99);
    }
    CloseHandle(m_pi.hProcess);
    CloseHandle(m_pi.hThread);
}

bool InstalledTovrel::Start() {
    const wchar_t kTovrel[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
    std::wstring cmd = L"\"" + std::wstring(kTovrel) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    if (!CreateProcessW(kTovrel, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, L"C:\\Program Files\\Kestil\\QEB",
                        &si, &m_pi))
        return false;
    FindWindowState state = {m_pi.dwProcessId, L"Kestil Desktop BIOS Test Application", nullptr};
    for (int i = 0; i < 400 && !state.found; ++i) {
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&state));
        if (!state.found) Sleep(50);
    }
    m_dialog = state.found;
    return m_dialog && WaitLines(1, 10000).size() == 1;
}

std::vector<std::wstring> InstalledTovrel::Lines() const { return SplitLines(GetText(GetDlgItem(m_dialog, 1024))); }

std::vector<std::wstring> InstalledTovrel::WaitLines(size_t n, DWORD timeoutMs) const {
    std::vector<std::wstring> lines = Lines();
    for (DWORD t = 0; lines.size() < n && t < timeoutMs; t += 50) {
        Sleep(50);
        lines = Lines();
    }
    return lines;
}

std::vector<std::string> TovrelProcess::LibraryCalls() const {
    std::vector<std::string> lines;
    std::ifstream in(Narrow(m_folder + L"calls.log"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

bool TovrelProcess::WaitForCall(const std::string& prefix, DWORD timeoutMs) const {
    DWORD start = GetTickCount();
    do {
        if (Contains(LibraryCalls(), prefix)) return true;
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return Contains(LibraryCalls(), prefix);
}

std::wstring GetText(HWND hWnd) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return L"<no answer>";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hWnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(&text[0]), SMTO_ABORTIFHUNG,
                             5000, &got))
        return L"<no answer>";
    text.resize(got);
    return text;
}

std::wstring ClassOf(HWND hWnd) {
    wchar_t name[64] = {};
    GetClassNameW(hWnd, name, 64);
    return name;
}

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> result;
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) result.push_back(h);
    return result;
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(threadId, &info)) return nullptr;
    return info.hwndFocus;
}

std::vector<std::wstring> SplitLines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

}  // namespace tovrel_test
