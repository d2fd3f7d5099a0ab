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

// comctl32 is bound by name, from the system folder, only when the dialog
// starts (and kept loaded for the process's life): a load-time import would
// bring it, its window classes and its icons into the radio switches'
// processes too, which never show a window.
void InitCommonControlsWhenNeeded() {
    typedef void(WINAPI * InitCommonControlsFn)(void);
    wchar_t path[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    const wchar_t kName[] = L"\\comctl32.dll";
    if (length == 0 || length + wcslen(kName) >= MAX_PATH) return;
    wcscat(path, kName);
    HMODULE comctl = ::LoadLibraryW(path);
    auto init = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(comctl ? ::GetProcAddress(comctl, "InitCommonControls") : nullptr));
    if (init) init();
}

}  // namespace

BOOL CTORVAApp::InitInstance() {
    KeepCurrentDirectoryOutOfDllSearch();
    CTORVADlg dlg(nullptr);  // binds QEBI.dll

    // The radio hot key's switches end the process here, as soon as the
    // library is bound: no window is created and nothing of the dialog is set
    // up for them, so the key waits for the library alone. Without a switch
    // this returns and the dialog starts.
    dlg.HandleCommandLine();

    InitCommonControlsWhenNeeded();
    CWinApp::InitInstance();
    SetRegistryKey(L"Tovrel");

    m_pMainWnd = &dlg;
    dlg.DoModal();
    // Leaving this scope destroys the dialog and releases the library.

    // No message loop: the framework ends the application.
    return FALSE;
}
