// Tovrel: the platform's radio hot-key tool and BIOS feature test dialog.
#include "Tovrel.h"

#include <afxcmn.h>

#include "TovrelDlg.h"

BEGIN_MESSAGE_MAP(CTORVAApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
END_MESSAGE_MAP()

CTORVAApp::CTORVAApp() {}

CTORVAApp::~CTORVAApp() {}

// The one application object.
CTORVAApp theApp;

BOOL CTORVAApp::InitInstance() {
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
