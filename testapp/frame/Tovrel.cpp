// Tovrel: the platform's radio hot-key tool and BIOS feature test dialog.
#include "Tovrel.h"

#include <afxcmn.h>
#include <wchar.h>

#include "TovrelDlg.h"

BEGIN_MESSAGE_MAP(CTORVAApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTORVAApp::CTORVAApp() {}

CTORVAApp::~CTORVAApp() {}

// The one application object.
CTORVAApp theApp;

namespace {

// QEBI.dll is loaded by its bare name. The current directory is among the
// places the system searches for it, so a QEBI.dll planted in whatever
// folder Tovrel was started from would be loaded. SetDllDirectoryW with the
// program's own folder takes the current directory's place in the search
// (an empty string does not remove it under Wine); the system folders and
// PATH stay in it. Bound by name: Windows XP before SP1 lacks it.
void KeepCurrentDirectoryOutOfDllSearch() {
    typedef BOOL(WINAPI * SetDllDirectoryFn)(LPCWSTR);
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    auto setDllDirectory = reinterpret_cast<SetDllDirectoryFn>(
        reinterpret_cast<void*>(kernel ? GetProcAddress(kernel, "SetDllDirectoryW") : nullptr));
    if (setDllDirectory == nullptr) return;
    wchar_t folder[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    wchar_t* lastSeparator = wcsrchr(folder, L'\\');
    if (lastSeparator == nullptr) return;
    *lastSeparator = L'\0';
    setDllDirectory(folder);
}

}  // namespace

BOOL CTORVAApp::InitInstance() {
    KeepCurrentDirectoryOutOfDllSearch();
    InitCommonControls();
    CWinApp::InitInstance();
    SetRegistryKey(L"Tovrel");

    CTORVADlg dlg(nullptr);  // binds QEBI.dll
    m_pMainWnd = &dlg;
    dlg.DoModal();
    // Leaving this scope destroys the dialog and releases the library.

    // No message loop: the framework ends the application.
    return FALSE;
}
