// The framework's dialogs on real windows: DoModal end codes, Escape, Enter
// and WM_CLOSE, message-map routing, DDX binding, wrappers and controls.
#include <gtest/gtest.h>

#include <afxwin.h>

#include <functional>
#include <string>
#include <vector>

namespace {

const UINT kTemplate = 500;
const UINT WM_RUN_SCRIPT = WM_APP + 1;
std::vector<std::string> g_log;

class CTestApp : public CWinApp {
public:
    CTestApp() : CWinApp(L"FrameworkTest") {}
    void OnAppCommand() { g_log.push_back("app 1500"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestApp, CWinApp)
    ON_COMMAND(1500, &CTestApp::OnAppCommand)
END_MESSAGE_MAP()

class CTestDlg : public CDialog {
public:
    CTestDlg() : CDialog(kTemplate) {}

    std::function<void(CTestDlg&)> script;  // run once the dialog is shown
    CEdit m_edit;
    CComboBox m_combo;
    CButton m_check;
    int okCalls = 0, cancelCalls = 0, closeCalls = 0, clicks = 0;
    std::vector<UINT_PTR> timers;
    std::vector<UINT> sysCommands;

    void OnOK() override {
        ++okCalls;
        CDialog::OnOK();
    }
    void OnCancel() override {
        ++cancelCalls;
        CDialog::OnCancel();
    }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, 1001, m_edit);
        DDX_Control(pDX, 1003, m_combo);
        DDX_Control(pDX, 1004, m_check);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        PostMessage(WM_RUN_SCRIPT);
        return TRUE;
    }
    LRESULT OnRunScript(WPARAM, LPARAM) {
        if (script) script(*this);
        return 0;
    }
    void OnClick() { ++clicks; }
    void OnClose() {
        ++closeCalls;
        Default();
    }
    void OnTimer(UINT_PTR id) {
        timers.push_back(id);
        KillTimer(id);
        if (id == 8) EndDialog(IDOK);
    }
    void OnSysCommand(UINT id, LPARAM) {
        sysCommands.push_back(id);
        if ((id & 0xFFF0) != 0x10) Default();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestDlg, CDialog)
    ON_MESSAGE(WM_RUN_SCRIPT, &CTestDlg::OnRunScript)
    ON_BN_CLICKED(1002, &CTestDlg::OnClick)
    ON_WM_CLOSE()
    ON_WM_TIMER()
    ON_WM_SYSCOMMAND()
END_MESSAGE_MAP()

INT_PTR RunModal(CTestDlg& dlg, std::function<void(CTestDlg&)> script) {
    dlg.script = std::move(script);
    return dlg.DoModal();
}

HWND Focus(CTestDlg&) { return ::GetFocus(); }

TEST(DoModal, ReturnsTheEndDialogCode) {
    CTestDlg dlg;
    EXPECT_EQ(42, RunModal(dlg, [](CTestDlg& d) { d.EndDialog(42); }));
    EXPECT_EQ(nullptr, dlg.m_hWnd) << "detached when the window is gone";
    EXPECT_EQ(nullptr, dlg.m_edit.m_hWnd) << "member control detached too";
}

TEST(DoModal, MissingTemplateGivesMinusOne) {
    CDialog dlg(9999);
    EXPECT_EQ(-1, dlg.DoModal());
}

TEST(DoModal, EscapeEndsWithCancelThroughOnCancel) {
    CTestDlg dlg;
    INT_PTR r = RunModal(dlg, [](CTestDlg& d) { ::PostMessageW(Focus(d), WM_KEYDOWN, VK_ESCAPE, 0x00010001); });
    EXPECT_EQ(IDCANCEL, r);
    EXPECT_EQ(1, dlg.cancelCalls);
    EXPECT_EQ(0, dlg.okCalls);
    EXPECT_EQ(0, dlg.closeCalls);
}

TEST(DoModal, EnterInAnEditEndsWithOkThroughOnOK) {
    CTestDlg dlg;
    INT_PTR r = RunModal(dlg, [](CTestDlg& d) {
        EXPECT_EQ(d.m_edit.m_hWnd, Focus(d)) << "the first tab stop has the focus";
        ::PostMessageW(Focus(d), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    });
    EXPECT_EQ(IDOK, r);
    EXPECT_EQ(1, dlg.okCalls);
    EXPECT_EQ(0, dlg.cancelCalls);
}

TEST(DoModal, CloseRequestRunsOnCloseThenCancels) {
    CTestDlg dlg;
    INT_PTR r = RunModal(dlg, [](CTestDlg& d) { d.PostMessage(WM_CLOSE); });
    EXPECT_EQ(IDCANCEL, r);
    EXPECT_EQ(1, dlg.closeCalls);
    EXPECT_EQ(1, dlg.cancelCalls) << "the default processing of WM_CLOSE is the cancel command";
}

TEST(DoModal, CancelButtonEndsWithCancel) {
    CTestDlg dlg;
    INT_PTR r = RunModal(dlg, [](CTestDlg& d) { d.GetDlgItem(IDCANCEL)->PostMessage(BM_CLICK); });
    EXPECT_EQ(IDCANCEL, r);
    EXPECT_EQ(1, dlg.cancelCalls);
}

TEST(MessageMap, ButtonClickTimerAndSystemCommandReachTheirHandlers) {
    CTestDlg dlg;
    RunModal(dlg, [](CTestDlg& d) {
        d.GetDlgItem(1002)->SendMessage(BM_CLICK);
        d.SendMessage(WM_SYSCOMMAND, 0x17, 0);
        d.SetTimer(7, 10);
        // End once the timer has fired.
        d.SetTimer(8, 200);
        d.script = nullptr;
    });
    EXPECT_EQ(1, dlg.clicks);
    EXPECT_EQ(std::vector<UINT>{0x17}, dlg.sysCommands);
    ASSERT_FALSE(dlg.timers.empty());
    EXPECT_EQ(7u, dlg.timers[0]);
}

TEST(MessageMap, UnhandledCommandGoesToTheApplication) {
    CTestApp app;
    g_log.clear();
    CTestDlg dlg;
    RunModal(dlg, [](CTestDlg& d) {
        d.SendMessage(WM_COMMAND, MAKEWPARAM(1500, 0), 0);
        d.EndDialog(IDOK);
    });
    EXPECT_EQ(std::vector<std::string>{"app 1500"}, g_log);
}

TEST(Ddx, MembersBoundAndGetDlgItemReturnsThePermanentWrapper) {
    CTestDlg dlg;
    RunModal(dlg, [](CTestDlg& d) {
        EXPECT_EQ(::GetDlgItem(d.m_hWnd, 1001), d.m_edit.m_hWnd);
        EXPECT_EQ(::GetDlgItem(d.m_hWnd, 1003), d.m_combo.m_hWnd);
        EXPECT_EQ(static_cast<CWnd*>(&d.m_edit), d.GetDlgItem(1001));
        CWnd* temporary = d.GetDlgItem(1005);
        EXPECT_NE(nullptr, temporary);
        if (temporary) {
            EXPECT_EQ(::GetDlgItem(d.m_hWnd, 1005), temporary->m_hWnd);
        }
        EXPECT_EQ(temporary, d.GetDlgItem(1005)) << "one temporary wrapper per window";
        EXPECT_EQ(nullptr, d.GetDlgItem(4242));
        EXPECT_EQ(static_cast<CWnd*>(&d), CWnd::FromHandle(d.m_hWnd));
        d.EndDialog(IDOK);
    });
}

// Counts WM_SETTEXT reaching the control it subclasses.
int g_setTexts = 0;
WNDPROC g_controlProc = nullptr;
LRESULT CALLBACK CountSetText(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_SETTEXT) ++g_setTexts;
    return CallWindowProcW(g_controlProc, hwnd, msg, wp, lp);
}

TEST(Controls, UnchangedTextLeavesTheControlAlone) {
    CTestDlg dlg;
    RunModal(dlg, [](CTestDlg& d) {
        HWND control = ::GetDlgItem(d.m_hWnd, 1005);
        g_controlProc = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountSetText)));
        const std::wstring longText(300, L'x');
        const struct {
            bool byId;  // SetDlgItemText, else SetWindowText on the control
            const wchar_t* text;
            int sets;
        } steps[] = {
            {false, L"N/A", 1}, {false, L"N/A", 0}, {true, L"N/A", 0},           {true, L"n/a", 1},
            {true, L"n/a ", 1}, {false, L"", 1},    {true, nullptr, 0},          {false, longText.c_str(), 1},
            {true, longText.c_str(), 0},            {false, L"xx", 1},
        };
        int i = 0;
        for (const auto& step : steps) {
            g_setTexts = 0;
            if (step.byId) d.SetDlgItemText(1005, step.text);
            else CWnd::FromHandle(control)->SetWindowText(step.text);
            EXPECT_EQ(step.sets, g_setTexts) << "step " << i;
            CString text;
            d.GetDlgItemText(1005, text);
            EXPECT_EQ(std::wstring(step.text ? step.text : L""), text.GetString()) << "step " << i;
            ++i;
        }
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_controlProc));
        d.EndDialog(IDOK);
    });
}

TEST(Controls, EditComboButtonAndDialogItemOperations) {
    CTestDlg dlg;
    RunModal(dlg, [](CTestDlg& d) {
        // Edit: append at the end, as the event log does.
        d.m_edit.SetWindowText(L"one\r\n");
        int length = d.m_edit.GetWindowTextLength();
        d.m_edit.SetSel(length, length);
        d.m_edit.ReplaceSel(L"two\r\n");
        CString text;
        d.m_edit.GetWindowText(text);
        EXPECT_EQ(std::wstring(L"one\r\ntwo\r\n"), text.GetString());
        d.m_edit.SetSel(0, d.m_edit.GetWindowTextLength());
        d.m_edit.ReplaceSel(L"three");
        d.GetDlgItemText(1001, text);
        EXPECT_EQ(std::wstring(L"three"), text.GetString());
        d.m_edit.SetLimitText(100000);
        EXPECT_EQ(100000u, d.m_edit.GetLimitText());

        d.m_combo.AddString(L"BA mode");
        d.m_combo.AddString(L"BT mode");
        EXPECT_EQ(2, d.m_combo.GetCount());
        EXPECT_EQ(-1, d.m_combo.GetCurSel());
        d.m_combo.SetCurSel(1);
        EXPECT_EQ(1, d.m_combo.GetCurSel());
        d.m_combo.GetLBText(0, text);
        EXPECT_EQ(std::wstring(L"BA mode"), text.GetString());
        d.m_combo.ResetContent();
        EXPECT_EQ(0, d.m_combo.GetCount());

        EXPECT_EQ(BST_UNCHECKED, d.m_check.GetCheck());
        d.m_check.SetCheck(BST_CHECKED);
        EXPECT_EQ(BST_CHECKED, d.m_check.GetCheck());

        d.SetDlgItemInt(1005, static_cast<UINT>(-17), TRUE);
        d.GetDlgItemText(1005, text);
        EXPECT_EQ(std::wstring(L"-17"), text.GetString());
        d.SetDlgItemText(1005, L"N/A");
        d.GetDlgItemText(1005, text);
        EXPECT_EQ(std::wstring(L"N/A"), text.GetString());

        d.GetDlgItem(1002)->EnableWindow(FALSE);
        EXPECT_FALSE(d.GetDlgItem(1002)->IsWindowEnabled());
        EXPECT_FALSE(d.IsIconic());
        RECT rc;
        d.GetClientRect(&rc);
        EXPECT_GT(rc.right, 0);

        CMenu* menu = d.GetSystemMenu(FALSE);
        EXPECT_NE(nullptr, menu);
        if (!menu) {
            d.EndDialog(IDOK);
            return;
        }
        int items = ::GetMenuItemCount(menu->m_hMenu);
        CString about;
        EXPECT_TRUE(about.LoadString(600));
        EXPECT_EQ(std::wstring(L"Loaded text"), about.GetString());
        menu->AppendMenu(MF_SEPARATOR);
        menu->AppendMenu(MF_STRING, 0x10, about);
        EXPECT_EQ(items + 2, ::GetMenuItemCount(menu->m_hMenu));

        HICON icon = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32512));
        d.SetIcon(icon, TRUE);
        EXPECT_EQ(icon, reinterpret_cast<HICON>(d.SendMessage(WM_GETICON, ICON_BIG, 0)));
        d.EndDialog(IDOK);
    });
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
