// CWinApp, the program entry and the application-wide helpers.
#include "afxwin.h"
#include "handle_maps.h"

#include <wchar.h>

namespace {

// The program's one application object and module, as MFC keeps them.
CWinApp* g_app = nullptr;
HINSTANCE g_instance = nullptr;

}  // namespace

CWinApp::CWinApp(const wchar_t* lpszAppName) {
    if (lpszAppName) {
        m_appName = lpszAppName;
        m_pszAppName = m_appName.c_str();
    }
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

void CWinApp::InitFramework(HINSTANCE hInstance, const wchar_t* lpCmdLine, int nCmdShow) {
    g_instance = hInstance;
    m_hInstance = hInstance;
    m_lpCmdLine = lpCmdLine ? lpCmdLine : L"";
    m_nCmdShow = nCmdShow;
    if (!m_pszAppName) {
        // The executable's base name without its extension.
        wchar_t path[MAX_PATH] = {};
        DWORD length = ::GetModuleFileNameW(hInstance, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const wchar_t* name = path;
            for (const wchar_t* p = path; *p; ++p)
                if (*p == L'\\' || *p == L'/' || *p == L':') name = p + 1;
            m_appName = name;
            size_t dot = m_appName.rfind(L'.');
            if (dot != std::wstring::npos && dot > 0) m_appName.erase(dot);
        }
        m_pszAppName = m_appName.c_str();
    }
}

int CWinApp::ExitInstance() { return 0; }

int CWinApp::Run() {
    MSG msg;
    BOOL got;
    while ((got = ::GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) break;
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
        if (!::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) qebafx::FreeTemporaryWrappers();
    }
    int code = ExitInstance();
    return got == 0 ? static_cast<int>(msg.wParam) : code;
}

void CWinApp::SetRegistryKey(const wchar_t* lpszRegistryKey) {
    m_registryKey = lpszRegistryKey ? lpszRegistryKey : L"";
    m_pszRegistryKey = m_registryKey.c_str();
    m_pszProfileName = m_pszAppName;
}

void CWinApp::OnHelp() {}

HICON CWinApp::LoadIcon(UINT nIDResource) const {
    return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource));
}

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app ? g_app->m_pMainWnd : nullptr; }

HINSTANCE AfxGetInstanceHandle() { return g_instance ? g_instance : ::GetModuleHandleW(nullptr); }

HINSTANCE AfxGetResourceHandle() { return AfxGetInstanceHandle(); }

int AfxMessageBox(const wchar_t* lpszText, UINT nType, UINT /*nIDHelp*/) {
    HWND owner = nullptr;
    CWnd* main = AfxGetMainWnd();
    if (main && main->m_hWnd && ::IsWindowVisible(main->m_hWnd)) owner = main->m_hWnd;
    const wchar_t* caption = (g_app && g_app->m_pszAppName) ? g_app->m_pszAppName : L"";
    return ::MessageBoxW(owner, lpszText ? lpszText : L"", caption, nType);
}

const wchar_t* AfxSkipProgramName(const wchar_t* commandLine) {
    if (!commandLine) return L"";
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        // A quoted program name ends at the next quote.
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p > L' ') ++p;
    }
    while (*p && *p <= L' ') ++p;
    return p;
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/, int nCmdShow) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->InitFramework(hInstance, AfxSkipProgramName(::GetCommandLineW()), nCmdShow);
    int code;
    if (!app->InitApplication() || !app->InitInstance()) {
        code = app->ExitInstance();
    } else {
        code = app->Run();
    }
    return code;
}

// The program's entry; kept in this unit so that linking any application
// object (which needs CWinApp's constructor) also brings in the entry.
int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow) {
    return AfxWinMain(hInstance, hPrevInstance, lpCmdLine, nCmdShow);
}
