// Message-map lookup and command routing, without windows.
#include <gtest/gtest.h>

#include <afxwin.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;

class CBaseTarget : public CCmdTarget {
public:
    void OnFirst() { g_log.push_back("base.first"); }
    void OnShared() { g_log.push_back("base.shared"); }
    void OnTimer(UINT_PTR id) { g_log.push_back("base.timer " + std::to_string(id)); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CBaseTarget, CCmdTarget)
    ON_COMMAND(100, &CBaseTarget::OnFirst)
    ON_BN_CLICKED(200, &CBaseTarget::OnShared)
    ON_WM_TIMER()
END_MESSAGE_MAP()

class CDerivedTarget : public CBaseTarget {
public:
    void OnDerivedShared() { g_log.push_back("derived.shared"); }
    void OnOther() { g_log.push_back("derived.other"); }
    const AFX_MSGMAP* Map() const { return GetMessageMap(); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedTarget, CBaseTarget)
    ON_BN_CLICKED(200, &CDerivedTarget::OnDerivedShared)
    ON_COMMAND(300, &CDerivedTarget::OnOther)
END_MESSAGE_MAP()

class MessageMapTest : public ::testing::Test {
protected:
    void SetUp() override { g_log.clear(); }
    using Log = std::vector<std::string>;
};

TEST_F(MessageMapTest, DerivedEntryWinsOverBaseEntry) {
    CDerivedTarget target;
    EXPECT_TRUE(target.OnCmdMsg(200, BN_CLICKED));
    EXPECT_EQ(Log{"derived.shared"}, g_log);
}

TEST_F(MessageMapTest, BaseEntriesAreFoundThroughTheDerivedMap) {
    CDerivedTarget target;
    EXPECT_TRUE(target.OnCmdMsg(100, 0));
    EXPECT_TRUE(target.OnCmdMsg(300, 0));
    EXPECT_EQ((Log{"base.first", "derived.other"}), g_log);
}

TEST_F(MessageMapTest, BaseObjectDoesNotSeeDerivedEntries) {
    CBaseTarget target;
    EXPECT_FALSE(target.OnCmdMsg(300, 0));
    EXPECT_TRUE(target.OnCmdMsg(200, BN_CLICKED));
    EXPECT_EQ(Log{"base.shared"}, g_log);
}

TEST_F(MessageMapTest, OtherNotificationCodesAreNotCommands) {
    CDerivedTarget target;
    EXPECT_FALSE(target.OnCmdMsg(200, BN_SETFOCUS));
    EXPECT_FALSE(target.OnCmdMsg(100, EN_CHANGE));
    EXPECT_EQ(Log{}, g_log);
}

TEST_F(MessageMapTest, WindowMessageEntryCallsHandlerWithItsArgument) {
    CDerivedTarget target;
    const AFX_MSGMAP_ENTRY* e = AfxFindMessageEntry(target.Map(), WM_TIMER, 0, 0);
    ASSERT_NE(nullptr, e);
    LRESULT result = -1;
    EXPECT_TRUE(e->pfn(&target, 7, 0, &result));
    EXPECT_EQ(Log{"base.timer 7"}, g_log);
    EXPECT_EQ(nullptr, AfxFindMessageEntry(target.Map(), WM_PAINT, 0, 0));
}

// ---- application object and command line ----------------------------------------

struct SkipCase {
    const wchar_t* commandLine;
    const wchar_t* rest;
};

class SkipProgramNameTest : public ::testing::TestWithParam<SkipCase> {};

TEST_P(SkipProgramNameTest, TextAfterTheProgramName) {
    const SkipCase& c = GetParam();
    EXPECT_EQ(std::wstring(c.rest), std::wstring(AfxSkipProgramName(c.commandLine)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SkipProgramNameTest,
    ::testing::Values(SkipCase{L"Tovrel.exe", L""}, SkipCase{L"Tovrel.exe /wlon", L"/wlon"},
                      SkipCase{L"Tovrel.exe    /WLON  ", L"/WLON  "},
                      SkipCase{L"\"C:\\Program Files\\Kestil\\Tovrel.exe\" /bton", L"/bton"},
                      SkipCase{L"\"C:\\a b\\Tovrel.exe\"/bton", L"/bton"}, SkipCase{L"\"unterminated", L""},
                      SkipCase{L"", L""}, SkipCase{L"Tovrel.exe\t/wlon x", L"/wlon x"}));

TEST(SkipProgramName, NullGivesEmptyText) { EXPECT_EQ(std::wstring(L""), AfxSkipProgramName(nullptr)); }

class CRecordingApp : public CWinApp {
public:
    CRecordingApp() : CWinApp(L"Named") {}
    void OnAppCommand() { g_log.push_back("app.command"); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CRecordingApp, CWinApp)
    ON_COMMAND(ID_HELP, &CWinApp::OnHelp)
    ON_COMMAND(400, &CRecordingApp::OnAppCommand)
END_MESSAGE_MAP()

TEST(WinApp, RegistersItselfAndKeepsNameKeyAndCommandLine) {
    {
        CRecordingApp app;
        EXPECT_EQ(&app, AfxGetApp());
        app.InitFramework(GetModuleHandleW(nullptr), L"/wlon", SW_SHOW);
        EXPECT_EQ(std::wstring(L"Named"), app.m_pszAppName);
        EXPECT_EQ(std::wstring(L"/wlon"), app.m_lpCmdLine);
        EXPECT_EQ(GetModuleHandleW(nullptr), AfxGetInstanceHandle());
        app.SetRegistryKey(L"Tovrel");
        EXPECT_EQ(std::wstring(L"Tovrel"), app.m_pszRegistryKey);
        g_log.clear();
        EXPECT_TRUE(app.OnCmdMsg(400, 0));
        EXPECT_TRUE(app.OnCmdMsg(ID_HELP, 0));
        EXPECT_EQ(std::vector<std::string>{"app.command"}, g_log);
        EXPECT_EQ(nullptr, AfxGetMainWnd());
    }
    EXPECT_EQ(nullptr, AfxGetApp());
}

TEST(WinApp, UnnamedApplicationTakesTheExecutableName) {
    CWinApp app;
    app.InitFramework(GetModuleHandleW(nullptr), nullptr, SW_SHOW);
    EXPECT_EQ(std::wstring(L"framework_unit_test"), app.m_pszAppName);
    EXPECT_EQ(std::wstring(L""), app.m_lpCmdLine);
}

}  // namespace
