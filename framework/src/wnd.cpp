// CCmdTarget, CWnd, the control wrappers, CMenu, DDX_Control and CPaintDC.
#include "afxwin.h"
#include "handle_maps.h"

namespace {

// The window property that points from a subclassed window to its wrapper.
const wchar_t kWrapperProperty[] = L"QebAfx.CWnd";

void ReadWindowText(HWND hWnd, CString& text) {
    text.Empty();
    if (!hWnd) return;
    int length = ::GetWindowTextLengthW(hWnd);
    if (length <= 0) return;
    wchar_t* buffer = text.GetBuffer(length + 1);
    int got = ::GetWindowTextW(hWnd, buffer, length + 1);
    text.ReleaseBuffer(got > 0 ? got : 0);
}

}  // namespace

// ---------------------------------------------------------------------------
// Message maps
// ---------------------------------------------------------------------------
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id) {
    for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e && e->pfn; ++e) {
            if (e->nMessage != message) continue;
            if (message != WM_COMMAND) return e;
            if (e->nCode == code && id >= e->nID && id <= e->nLastID) return e;
        }
    }
    return nullptr;
}

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode) {
    const AFX_MSGMAP_ENTRY* e = AfxFindMessageEntry(GetMessageMap(), WM_COMMAND, static_cast<UINT>(nCode), nID);
    if (!e) return FALSE;
    LRESULT ignored = 0;
    return e->pfn(this, MAKEWPARAM(nID, nCode), 0, &ignored);
}

// ---------------------------------------------------------------------------
// CWnd
// ---------------------------------------------------------------------------
CWnd::~CWnd() {
    if (m_pfnSuper && m_hWnd && ::IsWindow(m_hWnd)) UnsubclassWindow();
    CWinApp* app = AfxGetApp();
    if (app && app->m_pMainWnd == this) app->m_pMainWnd = nullptr;
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd) return nullptr;
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != ::GetCurrentProcessId()) return nullptr;
    return static_cast<CWnd*>(::GetPropW(hWnd, kWrapperProperty));
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd* permanent = FromHandlePermanent(hWnd)) return permanent;
    return qebafx::TemporaryWindow(hWnd);
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd)) return FALSE;
    if (!::SetPropW(hWnd, kWrapperProperty, this)) return FALSE;
    m_hWnd = hWnd;
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    if (!m_pfnSuper) {
        ::RemovePropW(hWnd, kWrapperProperty);
        m_hWnd = nullptr;
        return FALSE;
    }
    return TRUE;
}

HWND CWnd::UnsubclassWindow() {
    HWND hWnd = m_hWnd;
    if (!hWnd) return nullptr;
    if (m_pfnSuper) {
        ::SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
        ::RemovePropW(hWnd, kWrapperProperty);
        m_pfnSuper = nullptr;
    }
    m_hWnd = nullptr;
    return hWnd;
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* wnd = FromHandlePermanent(hWnd);
    if (!wnd || !wnd->m_pfnSuper) return ::DefWindowProcW(hWnd, message, wParam, lParam);

    CurrentMessage current = {message, wParam, lParam};
    const CurrentMessage* outer = wnd->m_current;
    wnd->m_current = &current;
    LRESULT result = 0;
    try {
        result = wnd->WindowProc(message, wParam, lParam);
    } catch (...) {
        // Nothing may unwind into the system's dispatcher.
        result = 0;
    }
    wnd->m_current = outer;

    if (message == WM_NCDESTROY) {
        // The window is gone: detach the wrapper, as MFC does.
        CWinApp* app = AfxGetApp();
        if (app && app->m_pMainWnd == wnd) app->m_pMainWnd = nullptr;
        ::RemovePropW(hWnd, kWrapperProperty);
        wnd->m_pfnSuper = nullptr;
        wnd->m_hWnd = nullptr;
        wnd->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        if (OnCommand(wParam, lParam)) return 0;
        return DefWindowProc(message, wParam, lParam);
    }
    if (const AFX_MSGMAP_ENTRY* e = AfxFindMessageEntry(GetMessageMap(), message, 0, 0)) {
        LRESULT result = 0;
        if (e->pfn(this, wParam, lParam, &result)) return result;
    }
    return DefWindowProc(message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    return OnCmdMsg(LOWORD(wParam), HIWORD(wParam));
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    if (!m_current) return 0;
    return DefWindowProc(m_current->message, m_current->wParam, m_current->lParam);
}

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }

void CWnd::SetDlgItemText(int nID, const wchar_t* text) { AfxSetWindowText(::GetDlgItem(m_hWnd, nID), text); }

void CWnd::SetDlgItemInt(int nID, UINT value, BOOL bSigned) { ::SetDlgItemInt(m_hWnd, nID, value, bSigned); }

int CWnd::GetDlgItemText(int nID, CString& text) const {
    ReadWindowText(::GetDlgItem(m_hWnd, nID), text);
    return text.GetLength();
}

UINT CWnd::GetDlgItemInt(int nID, BOOL* translated, BOOL bSigned) const {
    return ::GetDlgItemInt(m_hWnd, nID, translated, bSigned);
}

int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }

void CWnd::SetWindowText(const wchar_t* text) { AfxSetWindowText(m_hWnd, text); }

void AfxSetWindowText(HWND hWndCtrl, const wchar_t* lpszNew) {
    if (!lpszNew) lpszNew = L"";
    int newLength = lstrlenW(lpszNew);
    if (::GetWindowTextLengthW(hWndCtrl) == newLength) {
        wchar_t small[256];
        std::wstring large;
        wchar_t* old = small;
        if (newLength + 1 > 256) {
            large.resize(static_cast<size_t>(newLength) + 1);
            old = &large[0];
        }
        if (::GetWindowTextW(hWndCtrl, old, newLength + 1) == newLength && wcscmp(old, lpszNew) == 0) return;
    }
    ::SetWindowTextW(hWndCtrl, lpszNew);
}

void CWnd::GetWindowText(CString& text) const { ReadWindowText(m_hWnd, text); }

int CWnd::GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
BOOL CWnd::EnableWindow(BOOL bEnable) { return ::EnableWindow(m_hWnd, bEnable); }
BOOL CWnd::IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
BOOL CWnd::IsIconic() const { return ::IsIconic(m_hWnd); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }

void CWnd::GetClientRect(LPRECT rect) const {
    if (!::GetClientRect(m_hWnd, rect)) ::SetRectEmpty(rect);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    const LONG style = ::GetWindowLongW(m_hWnd, GWL_STYLE);
    HWND center = pAlternateOwner ? pAlternateOwner->m_hWnd : nullptr;
    if (!pAlternateOwner) center = (style & WS_CHILD) ? ::GetParent(m_hWnd) : ::GetWindow(m_hWnd, GW_OWNER);
    RECT window;
    if (!::GetWindowRect(m_hWnd, &window)) return;
    RECT centerRect, area;
    if (style & WS_CHILD) {
        HWND parent = ::GetParent(m_hWnd);
        ::GetClientRect(parent, &area);
        if (center) {
            ::GetClientRect(center, &centerRect);
            ::MapWindowPoints(center, parent, reinterpret_cast<POINT*>(&centerRect), 2);
        } else {
            centerRect = area;
        }
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&window), 2);
    } else {
        // Never over a window the user cannot see.
        if (center) {
            const LONG centerStyle = ::GetWindowLongW(center, GWL_STYLE);
            if (!(centerStyle & WS_VISIBLE) || (centerStyle & WS_MINIMIZE)) center = nullptr;
        }
        MONITORINFO monitor;
        monitor.cbSize = sizeof(monitor);
        if (center) {
            ::GetWindowRect(center, &centerRect);
            if (!::GetMonitorInfoW(::MonitorFromWindow(center, MONITOR_DEFAULTTONEAREST), &monitor)) return;
            area = monitor.rcWork;
        } else {
            CWnd* main = AfxGetMainWnd();
            HWND byMonitor = main && main->m_hWnd ? main->m_hWnd : m_hWnd;
            if (!::GetMonitorInfoW(::MonitorFromWindow(byMonitor, MONITOR_DEFAULTTOPRIMARY), &monitor)) return;
            area = monitor.rcWork;
            centerRect = area;
        }
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (centerRect.left + centerRect.right) / 2 - width / 2;
    int y = (centerRect.top + centerRect.bottom) / 2 - height / 2;
    // Kept inside the area; its top left corner wins over the bottom right.
    if (x + width > area.right) x = area.right - width;
    if (x < area.left) x = area.left;
    if (y + height > area.bottom) y = area.bottom - height;
    if (y < area.top) y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}

BOOL CWnd::KillTimer(UINT_PTR nIDEvent) { return ::KillTimer(m_hWnd, nIDEvent); }

CMenu* CWnd::GetSystemMenu(BOOL bRevert) const { return CMenu::FromHandle(::GetSystemMenu(m_hWnd, bRevert)); }

HICON CWnd::SetIcon(HICON hIcon, BOOL bBigIcon) {
    return reinterpret_cast<HICON>(SendMessage(WM_SETICON, bBigIcon ? ICON_BIG : ICON_SMALL,
                                               reinterpret_cast<LPARAM>(hIcon)));
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return !dx.m_bFailed;
}

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------
void CEdit::SetSel(int nStartChar, int nEndChar, BOOL bNoScroll) {
    SendMessage(EM_SETSEL, static_cast<WPARAM>(nStartChar), static_cast<LPARAM>(nEndChar));
    if (!bNoScroll) SendMessage(EM_SCROLLCARET);
}

void CEdit::ReplaceSel(const wchar_t* text, BOOL bCanUndo) {
    SendMessage(EM_REPLACESEL, static_cast<WPARAM>(bCanUndo), reinterpret_cast<LPARAM>(text ? text : L""));
}

void CEdit::LineScroll(int nLines, int nChars) {
    SendMessage(EM_LINESCROLL, static_cast<WPARAM>(nChars), static_cast<LPARAM>(nLines));
}

void CEdit::SetLimitText(UINT nMax) { SendMessage(EM_SETLIMITTEXT, nMax); }
UINT CEdit::GetLimitText() const { return static_cast<UINT>(::SendMessageW(m_hWnd, EM_GETLIMITTEXT, 0, 0)); }
int CEdit::GetLineCount() const { return static_cast<int>(::SendMessageW(m_hWnd, EM_GETLINECOUNT, 0, 0)); }

int CComboBox::AddString(const wchar_t* text) {
    return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text ? text : L"")));
}
int CComboBox::SetCurSel(int nSelect) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(nSelect))); }
int CComboBox::GetCurSel() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCURSEL, 0, 0)); }
void CComboBox::ResetContent() { SendMessage(CB_RESETCONTENT); }
int CComboBox::GetCount() const { return static_cast<int>(::SendMessageW(m_hWnd, CB_GETCOUNT, 0, 0)); }

int CComboBox::GetLBText(int nIndex, CString& text) const {
    text.Empty();
    int length = static_cast<int>(::SendMessageW(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(nIndex), 0));
    if (length < 0) return CB_ERR;
    wchar_t* buffer = text.GetBuffer(length + 1);
    int got = static_cast<int>(::SendMessageW(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(nIndex),
                                              reinterpret_cast<LPARAM>(buffer)));
    text.ReleaseBuffer(got > 0 ? got : 0);
    return got;
}

int CButton::GetCheck() const { return static_cast<int>(::SendMessageW(m_hWnd, BM_GETCHECK, 0, 0)); }
void CButton::SetCheck(int nCheck) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(nCheck)); }

// ---------------------------------------------------------------------------
// CMenu
// ---------------------------------------------------------------------------
CMenu* CMenu::FromHandle(HMENU hMenu) {
    if (!hMenu) return nullptr;
    return qebafx::TemporaryMenu(hMenu);
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, const wchar_t* lpszNewItem) {
    return ::AppendMenuW(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}

// ---------------------------------------------------------------------------
// DDX, CPaintDC
// ---------------------------------------------------------------------------
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.m_hWnd) return;  // bound by an earlier exchange
    HWND control = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
    if (!control || !rControl.SubclassWindow(control)) pDX->m_bFailed = TRUE;
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) {
    m_hDC = ::BeginPaint(m_hWnd, &m_ps);
}

CPaintDC::~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
