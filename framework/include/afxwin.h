// qebafx: the part of the MFC programming model that the Tovrel application
// uses, implemented on plain Win32 with MFC's class and function names.
//
// What it keeps of MFC's behaviour:
//  - one CWinApp object per program; wWinMain (in this library) finds it and
//    runs InitInstance, then Run or ExitInstance;
//  - dialogs created by CDialog::DoModal are subclassed when WM_INITDIALOG
//    arrives, and every later message goes through the class's message map
//    (derived map first, then the base maps); unhandled messages and
//    CWnd::Default() reach the dialog manager's own processing;
//  - IDOK and IDCANCEL end a modal dialog through the virtual OnOK/OnCancel;
//    WM_CLOSE's default processing posts IDCANCEL;
//  - GetDlgItem and FromHandle return the permanent wrapper of a window when
//    there is one, otherwise a temporary wrapper that is valid until the
//    outermost message handler of the calling thread returns;
//  - DDX_Control attaches (and subclasses) a member control wrapper.
// No exception leaves a window procedure.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>

// Framework command id of the help command (F1).
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

#ifndef AFX_IDS_APP_TITLE
#define AFX_IDS_APP_TITLE 0xE000
#endif

// ---------------------------------------------------------------------------
// CString: a small wide string with MFC's interface.
// ---------------------------------------------------------------------------
class CString {
public:
    CString() = default;
    CString(const wchar_t* text);  // null gives an empty string
    CString(const wchar_t* text, int length);
    CString(wchar_t ch, int repeat = 1);
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(const wchar_t* text);

    int GetLength() const { return static_cast<int>(m_text.size()); }
    bool IsEmpty() const { return m_text.empty(); }
    void Empty() { m_text.clear(); }
    operator const wchar_t*() const { return m_text.c_str(); }
    const wchar_t* GetString() const { return m_text.c_str(); }
    wchar_t GetAt(int index) const;
    wchar_t operator[](int index) const { return GetAt(index); }

    CString& operator+=(const CString& other);
    CString& operator+=(const wchar_t* text);
    CString& operator+=(wchar_t ch);
    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const wchar_t* b);
    friend CString operator+(const wchar_t* a, const CString& b);

    // printf-style formatting, "%s" taking a wide string as in MFC's Unicode
    // build. The result is bounded (see kMaxFormatted); an invalid format or
    // an overflow leaves the text cut at the bound, never unterminated.
    void Format(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    void AppendFormat(const wchar_t* format, ...);
    static constexpr int kMaxFormatted = 4096;

    // Loads a string resource of the resource module; false (and empty
    // text) when there is none.
    BOOL LoadString(UINT id);

    // White space as iswspace judges it.
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim();
    CString& MakeLower();
    CString& MakeUpper();

    // <0, 0, >0 like wcscmp.
    int Compare(const wchar_t* other) const;
    int CompareNoCase(const wchar_t* other) const;
    friend bool operator==(const CString& a, const wchar_t* b) { return a.Compare(b) == 0; }
    friend bool operator==(const CString& a, const CString& b) { return a.m_text == b.m_text; }
    friend bool operator!=(const CString& a, const wchar_t* b) { return a.Compare(b) != 0; }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_text != b.m_text; }

    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* sub, int start = 0) const;
    CString Left(int count) const;
    CString Mid(int first, int count = -1) const;
    CString Right(int count) const;

    // Direct access: a buffer of at least minLength characters plus the
    // terminator; ReleaseBuffer(-1) takes the length from the terminator.
    wchar_t* GetBuffer(int minLength);
    void ReleaseBuffer(int newLength = -1);

private:
    std::wstring m_text;
};

// ---------------------------------------------------------------------------
// Message maps
// ---------------------------------------------------------------------------
class CCmdTarget;

// A handler thunk: calls the member function with the message's arguments
// and stores its result. Returns FALSE when the entry does not apply after all.
typedef BOOL (*AFX_PMSG_THUNK)(CCmdTarget* target, WPARAM wParam, LPARAM lParam, LRESULT* result);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;  // window message; WM_COMMAND for command entries
    UINT nCode;     // notification code of a command entry
    UINT nID;       // first control/command id of a command entry
    UINT nLastID;   // last id (same as nID for single commands)
    AFX_PMSG_THUNK pfn;  // null ends the table
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Finds the entry for a message in a map chain (derived first); null if none.
const AFX_MSGMAP_ENTRY* AfxFindMessageEntry(const AFX_MSGMAP* map, UINT message, UINT code, UINT id);

#define DECLARE_MESSAGE_MAP()                              \
protected:                                                 \
    static const AFX_MSGMAP* GetThisMessageMap();          \
    const AFX_MSGMAP* GetMessageMap() const override;      \
private:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                \
        return GetThisMessageMap();                                    \
    }                                                                  \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                  \
        typedef theClass ThisClass;                                    \
        typedef baseClass TheBaseClass;                                \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                              \
            { 0, 0, 0, 0, nullptr }                                    \
        };                                                             \
        static const AFX_MSGMAP messageMap = {                         \
            &TheBaseClass::GetThisMessageMap, &_messageEntries[0] };   \
        return &messageMap;                                            \
    }

#define AFX_THUNK_BEGIN [](CCmdTarget* _target, WPARAM _wParam, LPARAM _lParam, LRESULT* _result) -> BOOL { \
        ThisClass* _this = static_cast<ThisClass*>(_target); (void)_this; (void)_wParam; (void)_lParam; (void)_result;
#define AFX_THUNK_END return TRUE; }

#define ON_COMMAND(id, memberFxn) \
    { WM_COMMAND, 0, (UINT)(id), (UINT)(id), AFX_THUNK_BEGIN (_this->*(memberFxn))(); AFX_THUNK_END },
#define ON_BN_CLICKED(id, memberFxn) \
    { WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id), AFX_THUNK_BEGIN (_this->*(memberFxn))(); AFX_THUNK_END },
#define ON_WM_SYSCOMMAND() \
    { WM_SYSCOMMAND, 0, 0, 0, AFX_THUNK_BEGIN _this->OnSysCommand(static_cast<UINT>(_wParam), _lParam); AFX_THUNK_END },
#define ON_WM_PAINT() \
    { WM_PAINT, 0, 0, 0, AFX_THUNK_BEGIN _this->OnPaint(); AFX_THUNK_END },
#define ON_WM_QUERYDRAGICON() \
    { WM_QUERYDRAGICON, 0, 0, 0, AFX_THUNK_BEGIN *_result = reinterpret_cast<LRESULT>(_this->OnQueryDragIcon()); AFX_THUNK_END },
#define ON_WM_TIMER() \
    { WM_TIMER, 0, 0, 0, AFX_THUNK_BEGIN _this->OnTimer(static_cast<UINT_PTR>(_wParam)); AFX_THUNK_END },
#define ON_WM_CLOSE() \
    { WM_CLOSE, 0, 0, 0, AFX_THUNK_BEGIN _this->OnClose(); AFX_THUNK_END },
#define ON_MESSAGE(message, memberFxn) \
    { (UINT)(message), 0, 0, 0, AFX_THUNK_BEGIN *_result = (_this->*(memberFxn))(_wParam, _lParam); AFX_THUNK_END },
#define ON_WM_DESTROY() \
    { WM_DESTROY, 0, 0, 0, AFX_THUNK_BEGIN _this->OnDestroy(); AFX_THUNK_END },

// ---------------------------------------------------------------------------
// CObject, CCmdTarget
// ---------------------------------------------------------------------------
class CObject {
public:
    virtual ~CObject() = default;
protected:
    CObject() = default;
};

class CCmdTarget : public CObject {
public:
    // Routes a command (WM_COMMAND code and id) through this object's
    // message map; TRUE when a handler ran.
    virtual BOOL OnCmdMsg(UINT nID, int nCode);

    // Used by the BEGIN_MESSAGE_MAP of the direct subclasses.
    static const AFX_MSGMAP* GetThisMessageMap();
protected:
    virtual const AFX_MSGMAP* GetMessageMap() const;
};

// ---------------------------------------------------------------------------
// CMenu
// ---------------------------------------------------------------------------
class CMenu : public CObject {
public:
    HMENU m_hMenu = nullptr;

    CMenu() = default;
    // A temporary wrapper (see CWnd::FromHandle); null for a null handle.
    static CMenu* FromHandle(HMENU hMenu);
    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, const wchar_t* lpszNewItem = nullptr);
    operator HMENU() const { return m_hMenu; }
};

// ---------------------------------------------------------------------------
// CWnd
// ---------------------------------------------------------------------------
class CDataExchange;

class CWnd : public CCmdTarget {
public:
    HWND m_hWnd = nullptr;

    CWnd() = default;
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The wrapper object of a window: its permanent one (a subclassed
    // dialog or a control bound by DDX_Control) or a temporary one.
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Binds this wrapper to a window and routes the window's messages
    // through the message map; undone by UnsubclassWindow or when the
    // window is destroyed.
    BOOL SubclassWindow(HWND hWnd);
    HWND UnsubclassWindow();

    CWnd* GetDlgItem(int nID) const;
    void SetDlgItemText(int nID, const wchar_t* text);
    void SetDlgItemInt(int nID, UINT value, BOOL bSigned = TRUE);
    int GetDlgItemText(int nID, CString& text) const;
    UINT GetDlgItemInt(int nID, BOOL* translated = nullptr, BOOL bSigned = TRUE) const;
    int GetDlgCtrlID() const;

    void SetWindowText(const wchar_t* text);
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL IsWindowEnabled() const;
    BOOL IsIconic() const;
    BOOL ShowWindow(int nCmdShow);
    void GetClientRect(LPRECT rect) const;
    // As MFC: a child centred in its parent's client area; a pop-up over
    // its owner (or pAlternateOwner) when that is visible and not
    // minimised, else on the work area of the main window's monitor; kept
    // inside the owner's monitor's work area.
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer = nullptr);
    BOOL KillTimer(UINT_PTR nIDEvent);
    CMenu* GetSystemMenu(BOOL bRevert) const;
    HICON SetIcon(HICON hIcon, BOOL bBigIcon);
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // The message being handled, given to the window's processing that the
    // message map replaced (for a dialog: the dialog manager's).
    LRESULT Default();

    // Window procedure of every subclassed wrapper.
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual void DoDataExchange(CDataExchange* pDX) {}
    // Message-map dispatch of one message; the default processing for
    // anything the map does not handle.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void PostNcDestroy() {}

    WNDPROC m_pfnSuper = nullptr;  // set while subclassed

private:
    struct CurrentMessage { UINT message; WPARAM wParam; LPARAM lParam; };
    const CurrentMessage* m_current = nullptr;
    friend class CDialog;
};

// ---------------------------------------------------------------------------
// Controls
// ---------------------------------------------------------------------------
class CEdit : public CWnd {
public:
    void SetSel(int nStartChar, int nEndChar, BOOL bNoScroll = FALSE);
    void ReplaceSel(const wchar_t* text, BOOL bCanUndo = FALSE);
    void LineScroll(int nLines, int nChars = 0);
    void SetLimitText(UINT nMax);
    UINT GetLimitText() const;
    int GetLineCount() const;
};

class CComboBox : public CWnd {
public:
    int AddString(const wchar_t* text);
    int SetCurSel(int nSelect);
    int GetCurSel() const;
    void ResetContent();
    int GetCount() const;
    int GetLBText(int nIndex, CString& text) const;
};

class CButton : public CWnd {
public:
    int GetCheck() const;
    void SetCheck(int nCheck);
};

// ---------------------------------------------------------------------------
// CDataExchange, DDX
// ---------------------------------------------------------------------------
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
    BOOL m_bFailed = FALSE;  // a DDX_Control found no control
};

// Binds the wrapper to the dialog's control nIDC once; a missing control
// leaves the wrapper unbound and marks the exchange failed.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// ---------------------------------------------------------------------------
// CDialog
// ---------------------------------------------------------------------------
class CDialog : public CWnd {
public:
    CDialog() = default;
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Runs the dialog modally on template m_nIDTemplate of the resource
    // module; returns the EndDialog code, or -1 when the dialog could not
    // be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);

    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate = 0;
    CWnd* m_pParentWnd = nullptr;

protected:
    BOOL OnCmdMsg(UINT nID, int nCode) override;
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
};

// ---------------------------------------------------------------------------
// CPaintDC
// ---------------------------------------------------------------------------
class CPaintDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC();
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) { return ::DrawIcon(m_hDC, x, y, hIcon); }

    HDC m_hDC;
    PAINTSTRUCT m_ps;
private:
    HWND m_hWnd;
};

// ---------------------------------------------------------------------------
// CWinApp
// ---------------------------------------------------------------------------
class CWinApp : public CCmdTarget {
public:
    // Registers this object as the program's application object.
    explicit CWinApp(const wchar_t* lpszAppName = nullptr);
    ~CWinApp() override;

    virtual BOOL InitApplication() { return TRUE; }
    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance();
    // Message loop for applications whose InitInstance returned TRUE.
    virtual int Run();

    // Remembers the registry key word for the framework's settings; writes
    // nothing itself.
    void SetRegistryKey(const wchar_t* lpszRegistryKey);
    // Help command: the program ships no help file, so nothing opens.
    void OnHelp();
    // Icon resource of the resource module.
    HICON LoadIcon(UINT nIDResource) const;

    const wchar_t* m_pszAppName = nullptr;
    const wchar_t* m_pszRegistryKey = nullptr;
    const wchar_t* m_pszProfileName = nullptr;
    HINSTANCE m_hInstance = nullptr;
    const wchar_t* m_lpCmdLine = L"";
    int m_nCmdShow = SW_SHOWNORMAL;
    CWnd* m_pMainWnd = nullptr;

    // Prepares the object for wWinMain's sequence: instance, command line
    // and application name (the executable's base name when none was given).
    void InitFramework(HINSTANCE hInstance, const wchar_t* lpCmdLine, int nCmdShow);

private:
    std::wstring m_appName;
    std::wstring m_registryKey;
};

// The framework's entry sequence, called by wWinMain.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPWSTR lpCmdLine, int nCmdShow);

// The command-line text after the program name, as the C runtime hands it to
// WinMain: the program name (quoted or not) and the blanks after it skipped.
const wchar_t* AfxSkipProgramName(const wchar_t* commandLine);

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
// Message box with the application's name as caption, owned by the main
// window when it is visible. Returns the button chosen.
int AfxMessageBox(const wchar_t* lpszText, UINT nType = MB_OK, UINT nIDHelp = 0);

// Sets a window's text only when it differs from the current one: an
// unchanged control is not redrawn (no flicker on periodic refreshes).
// CWnd::SetWindowText and CWnd::SetDlgItemText go through it.
void AfxSetWindowText(HWND hWndCtrl, const wchar_t* lpszNew);
