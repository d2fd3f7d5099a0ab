// CDialog: modal dialogs from a template, routed through message maps.
#include "afxwin.h"
#include "handle_maps.h"

namespace {

// Number of modal dialogs running on this thread; temporary wrappers are
// freed when the outermost one has ended.
thread_local int t_modalDepth = 0;

// The dialog whose window DoModal is creating on this thread: its first
// WM_INITDIALOG binds the window to it. Any later WM_INITDIALOG (another
// program can send one, with any lParam) finds the window wrapped already.
thread_local CDialog* t_dialogStarting = nullptr;

}  // namespace

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, &CDialog::OnOK)
    ON_COMMAND(IDCANCEL, &CDialog::OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

CDialog::~CDialog() = default;

INT_PTR CDialog::DoModal() {
    HWND owner = m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr;
    if (!owner) {
        // As MFC: a dialog without a parent is owned by the main window.
        CWnd* main = AfxGetMainWnd();
        if (main && main != this && main->m_hWnd && ::IsWindow(main->m_hWnd)) owner = main->m_hWnd;
    }
    ++t_modalDepth;
    CDialog* const outerStarting = t_dialogStarting;
    t_dialogStarting = this;
    INT_PTR result = ::DialogBoxParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), owner,
                                       &CDialog::DialogProc, 0);
    t_dialogStarting = outerStarting;
    if (--t_modalDepth == 0) qebafx::FreeTemporaryWrappers();
    return result;
}

void CDialog::EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

BOOL CDialog::OnInitDialog() {
    // Binds the member controls (DDX_Control); the system sets the focus.
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    if (!UpdateData(TRUE)) return;
    EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

BOOL CDialog::OnCmdMsg(UINT nID, int nCode) {
    if (CWnd::OnCmdMsg(nID, nCode)) return TRUE;
    // Commands the dialog does not handle go on to the application object,
    // system command ids excepted.
    if (nCode != 0 || nID >= 0xF000) return FALSE;
    CWinApp* app = AfxGetApp();
    return app ? app->OnCmdMsg(nID, nCode) : FALSE;
}

LRESULT CDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return CWnd::WindowProc(message, wParam, lParam);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_INITDIALOG) return FALSE;
    // The wrapper is found by the window, never taken from lParam: a window
    // already wrapped has had its initialisation.
    if (CWnd::FromHandlePermanent(hWnd)) return FALSE;
    CDialog* dialog = t_dialogStarting;
    t_dialogStarting = nullptr;
    if (!dialog || !dialog->SubclassWindow(hWnd)) {
        ::EndDialog(hWnd, -1);
        return FALSE;
    }
    CurrentMessage current = {message, wParam, lParam};
    const CurrentMessage* outer = dialog->m_current;
    dialog->m_current = &current;
    RECT before = {};
    ::GetWindowRect(hWnd, &before);
    BOOL setFocus = TRUE;
    try {
        setFocus = dialog->OnInitDialog();
    } catch (...) {
        ::EndDialog(hWnd, -1);
        setFocus = FALSE;
    }
    dialog->m_current = outer;
    // As MFC: a dialog that neither moved itself nor was shown during its
    // initialisation is centred (a top-level one over its owner, or on the
    // work area), whatever position its template gives.
    RECT after = {};
    if (::IsWindow(hWnd) && ::GetWindowRect(hWnd, &after) && after.left == before.left && after.top == before.top &&
        !(::GetWindowLongW(hWnd, GWL_STYLE) & (WS_CHILD | WS_VISIBLE)))
        dialog->CenterWindow();
    return setFocus;
}
