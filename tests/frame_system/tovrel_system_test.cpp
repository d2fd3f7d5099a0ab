// Tovrel.exe under Wine on a display, against fixture libraries.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "resource.h"
#include "tovrel_driver.h"

using namespace tovrel_test;

namespace {

const wchar_t kFull[] = L"frame_fake_qebi_full.dll";
const wchar_t kNoHealth[] = L"frame_fake_qebi_no_health.dll";
const wchar_t kNoBrightness[] = L"frame_fake_qebi_no_brightness.dll";
const wchar_t kDialogTitle[] = L"Kestil Desktop BIOS Test Application";
const wchar_t kAboutTitle[] = L"About Kestil Desktop BIOS Test Application";

std::string N(const std::wstring& w) {
    std::string s;
    for (wchar_t c : w) s += (c >= 32 && c < 127) ? static_cast<char>(c) : (c == L'\r' ? '~' : c == L'\n' ? '|' : '?');
    return s;
}

int CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    int n = 0;
    for (const std::string& line : lines)
        if (line.compare(0, prefix.size(), prefix) == 0) ++n;
    return n;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

// Text of a static control in a message box or About box.
std::vector<std::wstring> StaticTexts(HWND dialog) {
    std::vector<std::wstring> texts;
    for (HWND h : Children(dialog))
        if (ClassOf(h) == L"Static" && (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON &&
            !GetText(h).empty())
            texts.push_back(GetText(h));
    return texts;
}

// ---- command-line switches ------------------------------------------------------

struct SwitchCase {
    const char* name;
    const wchar_t* args;
    EnvList env;
    DWORD exitCode;
    std::vector<std::string> calls;  // setter / query calls expected in order
};

class SwitchTest : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchTest, ExitsWithTheCodeWithoutADialog) {
    const SwitchCase& c = GetParam();
    TovrelProcess p;
    ASSERT_TRUE(p.Start(L"switch", kFull, c.args, c.env));
    DWORD code = 0;
    ASSERT_TRUE(p.WaitExit(20000, &code)) << "Tovrel did not exit for [" << N(c.args) << "]";
    EXPECT_EQ(c.exitCode, code) << std::hex << "args [" << N(c.args) << "] got 0x" << code;
    std::vector<std::string> radioCalls;
    for (const std::string& line : p.LibraryCalls())
        if (line.find("WIFI_Ratio") != std::string::npos || line.find("BT_Ratio") != std::string::npos)
            radioCalls.push_back(line);
    EXPECT_EQ(c.calls, radioCalls);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SwitchTest,
    ::testing::Values(
        SwitchCase{"getallstat_both_on", L" /getallstat", {}, 0x13800101,
                   {"Get_Current_BT_Ratio_Status => 3", "Get_Current_WIFI_Ratio_Status => 3"}},
        SwitchCase{"getallstat_bt_on_wifi_absent", L" /getallstat",
                   {{L"FAKE_QEBI_Get_Current_WIFI_Ratio_Status", L"2"}}, 0x13808001,
                   {"Get_Current_BT_Ratio_Status => 3", "Get_Current_WIFI_Ratio_Status => 2"}},
        SwitchCase{"getallstat_bt_failing_wifi_off", L" /GETALLSTAT ",
                   {{L"FAKE_QEBI_Get_Current_BT_Ratio_Status", L"-1"},
                    {L"FAKE_QEBI_Get_Current_WIFI_Ratio_Status", L"1"}},
                   0x13800080,
                   {"Get_Current_BT_Ratio_Status => -1", "Get_Current_WIFI_Ratio_Status => 1"}},
        SwitchCase{"wlon_capitals_and_blanks", L"   /WLON   ", {}, 0, {"Set_WIFI_Ratio_Onoff 1 => 0"}},
        SwitchCase{"wloff_failing", L" /wloff", {{L"FAKE_QEBI_Set_WIFI_Ratio_Onoff", L"0x80000000"}}, 1,
                   {"Set_WIFI_Ratio_Onoff 0 => -2147483648"}},
        SwitchCase{"bton", L" /bton", {}, 0, {"Set_BT_Ratio_Onoff 1 => 0"}},
        SwitchCase{"btoff", L" /btoff", {}, 0, {"Set_BT_Ratio_Onoff 0 => 0"}},
        SwitchCase{"allon_wifi_failing", L" /allon", {{L"FAKE_QEBI_Set_WIFI_Ratio_Onoff", L"-1"}}, 1,
                   {"Set_WIFI_Ratio_Onoff 1 => -1", "Set_BT_Ratio_Onoff 1 => 0"}},
        SwitchCase{"alloff", L" /alloff", {}, 0, {"Set_WIFI_Ratio_Onoff 0 => 0", "Set_BT_Ratio_Onoff 0 => 0"}},
        // The setter lets messages through while another program sends the
        // hidden dialog "Update All": the library is not entered again.
        SwitchCase{"wlon_update_all_sent_inside_the_call", L" /wlon", {{L"FAKE_QEBI_PUMP_COMMAND", L"239"}}, 0,
                   {"Set_WIFI_Ratio_Onoff 1 => 0"}}),
    [](const ::testing::TestParamInfo<SwitchCase>& info) { return std::string(info.param.name); });

TEST(Switch, GetAllStatDShowsTheWordThenExitsWithIt) {
    TovrelProcess p;
    ASSERT_TRUE(p.Start(L"getallstatd", kFull, L" /GetAllStatD", {{L"FAKE_QEBI_Get_Current_WIFI_Ratio_Status", L"1"}}));
    HWND box = p.WaitForWindow(L"Tovrel", 15000);
    ASSERT_NE(nullptr, box) << "no message box";
    std::vector<std::wstring> texts = StaticTexts(box);
    ASSERT_EQ(1u, texts.size());
    EXPECT_EQ(L"rc = 0x13800001", texts[0]) << N(texts[0]);
    DWORD code = 0;
    EXPECT_FALSE(p.WaitExit(300, &code)) << "exited before the box was closed";
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(p.WaitExit(10000, &code));
    EXPECT_EQ(0x13800001u, code);
}

// Switches with the library missing: no null entry point is called.
TEST(Switch, WithoutTheLibraryReadingGivesNoRadiosAndSettingFails) {
    struct Case {
        const wchar_t* args;
        DWORD code;
    } cases[] = {{L" /getallstat", 0x13808080}, {L" /wlon", 1}, {L" /alloff", 1}, {L" /btoff", 1}};
    for (const Case& c : cases) {
        TovrelProcess p;
        ASSERT_TRUE(p.Start(L"switch_nolib", nullptr, c.args));
        DWORD code = 0;
        ASSERT_TRUE(p.WaitExit(20000, &code)) << N(c.args);
        EXPECT_EQ(c.code, code) << std::hex << N(c.args) << " got 0x" << code;
    }
}

// ---- binding failures ---------------------------------------------------------------

class BindingFailureTest : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(BindingFailureTest, ReportsAndExitsMinusOne) {
    TovrelProcess p;
    ASSERT_TRUE(p.Start(L"binding", GetParam(), L""));
    HWND box = p.WaitForWindow(L"Tovrel", 15000);
    ASSERT_NE(nullptr, box) << "no failure message";
    std::vector<std::wstring> texts = StaticTexts(box);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(L"Failed to initialize QEBI library", texts.back()) << N(texts.back());
    EXPECT_FALSE(p.HasWindow(kDialogTitle));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    DWORD code = 0;
    ASSERT_TRUE(p.WaitExit(10000, &code));
    EXPECT_EQ(0xFFFFFFFFu, code);
    // The library (if any) was released unused: no query, no registration.
    for (const std::string& line : p.LibraryCalls()) EXPECT_EQ(0u, line.rfind("DETACH", 0)) << line;
}

INSTANTIATE_TEST_SUITE_P(Libraries, BindingFailureTest,
                         ::testing::Values(static_cast<const wchar_t*>(nullptr), kNoHealth, kNoBrightness),
                         [](const ::testing::TestParamInfo<const wchar_t*>& info) {
                             return std::string(!info.param ? "missing" : info.index == 1 ? "no_health" : "no_brightness");
                         });

// ---- the dialog -----------------------------------------------------------------------

struct ControlSpec {
    int id;
    const wchar_t* cls;
    const wchar_t* text;  // null: set by the panels, not checked
    DWORD styleBits;      // must all be set
};

const DWORD kValueEdit = WS_TABSTOP | ES_READONLY | ES_AUTOHSCROLL;
const DWORD kList = WS_TABSTOP | CBS_DROPDOWNLIST;  // the list box below keeps WS_VSCROLL

// Non-label controls in template (tab) order.
const ControlSpec kControls[] = {
    {200, L"Edit", nullptr, kValueEdit},  {201, L"Button", L"Update", WS_TABSTOP}, {202, L"Button", nullptr, WS_TABSTOP},
    {203, L"Edit", nullptr, kValueEdit},  {204, L"Button", L"Update", WS_TABSTOP}, {205, L"Button", nullptr, WS_TABSTOP},
    {206, L"Edit", nullptr, kValueEdit},  {207, L"Button", L"Update", WS_TABSTOP}, {208, L"Edit", nullptr, kValueEdit},
    {209, L"Button", L"Update", WS_TABSTOP},
    {230, L"Edit", nullptr, WS_TABSTOP | ES_READONLY | ES_MULTILINE},
    {231, L"Button", L"Update", WS_TABSTOP}, {232, L"Edit", nullptr, kValueEdit},
    {233, L"Button", L"Update", WS_TABSTOP}, {234, L"Button", nullptr, WS_TABSTOP}, {235, L"Edit", nullptr, kValueEdit},
    {236, L"Button", L"Update", WS_TABSTOP}, {237, L"Button", nullptr, WS_TABSTOP}, {1025, L"Edit", nullptr, kValueEdit},
    {1026, L"Button", L"Update", WS_TABSTOP}, {1027, L"Edit", nullptr, kValueEdit},
    {1028, L"Button", L"Update", WS_TABSTOP},
    {1024, L"Edit", nullptr, WS_TABSTOP | WS_VSCROLL | ES_READONLY | ES_MULTILINE | ES_AUTOVSCROLL},
    {238, L"Button", L"Auto Update", WS_TABSTOP | BS_AUTOCHECKBOX}, {239, L"Button", L"Update All", WS_TABSTOP},
    {2, L"Button", L"&Close", WS_TABSTOP}, {1029, L"ComboBox", nullptr, kList}, {1030, L"ComboBox", nullptr, kList},
    {1031, L"Button", L"Update", WS_TABSTOP}, {1032, L"Button", L"Set Mode", WS_TABSTOP},
    {1033, L"ComboBox", nullptr, kList}, {1034, L"Button", L"Update", WS_TABSTOP},
    {1035, L"Button", L"Set Mode", WS_TABSTOP}, {1037, L"Button", L"Update", WS_TABSTOP},
    {1038, L"Edit", nullptr, kValueEdit}, {1039, L"Edit", nullptr, kValueEdit}, {1040, L"Edit", nullptr, kValueEdit},
};

const wchar_t* const kLabels[] = {L"WIFI Status",     L"Bluetooth Status", L"Ambient Light Value",
                                  L"Power Meter Status", L"Thermal Status", L"Microphone LED Status",
                                  L"Volume LED",      L"CAD Support",      L"Battery Status",
                                  L"Event",           L"USB Charge",       L"Status for S4/S5",
                                  L"Mode for S0",     L"FSC Status",       L"PC Health"};

class DialogTest : public ::testing::Test {
protected:
    void Open(const wchar_t* name, const std::wstring& args = L"", const EnvList& env = {}) {
        ASSERT_TRUE(p.Start(name, kFull, args, env));
        dlg = p.WaitForWindow(kDialogTitle, 20000);
        ASSERT_NE(nullptr, dlg) << "the dialog did not open";
        ASSERT_TRUE(p.WaitForCall("QEB_RegisterEventCallback", 10000));
    }
    std::wstring Log() const { return GetText(GetDlgItem(dlg, IDC_EVENT_LOG)); }
    // The log once the dialog has written every event handed to it: the
    // library's callback only queues, the dialog's thread writes later.
    std::wstring SettledLog() const {
        std::wstring last = Log();
        for (int i = 0; i < 300; ++i) {
            Sleep(100);
            std::wstring now = Log();
            if (now == last) return now;
            last = now;
        }
        return last;
    }
    // "QEB_RegisterEventCallback <cb> <ctx> => 0" -> "<cb> <ctx>"
    std::string RegisteredPair() const {
        for (const std::string& line : p.LibraryCalls())
            if (line.rfind("QEB_RegisterEventCallback ", 0) == 0) {
                std::string rest = line.substr(26);
                return rest.substr(0, rest.find(" =>"));
            }
        return "<none>";
    }
    void ExpectEndsWithOneUnregister(const char* how) {
        DWORD code = 0;
        ASSERT_TRUE(p.WaitExit(15000, &code)) << how << ": the dialog did not end";
        std::vector<std::string> calls = p.LibraryCalls();
        EXPECT_EQ(1, CountPrefix(calls, "QEB_UnregisterEventCallback")) << how << "\n" << Joined(calls);
        EXPECT_EQ(1, CountPrefix(calls, "QEB_UnregisterEventCallback " + RegisteredPair() + " registered=1"))
            << how << "\n" << Joined(calls);
        EXPECT_EQ(1, CountPrefix(calls, "DETACH freelibrary registered=0")) << how << "\n" << Joined(calls);
    }
    TovrelProcess p;
    HWND dlg = nullptr;
};

TEST_F(DialogTest, EveryControlOfTheTemplateInTabOrder) {
    Open(L"controls");
    std::vector<HWND> children = Children(dlg);
    std::vector<HWND> controls;
    std::vector<std::wstring> labels;
    for (HWND h : children) {
        if (ClassOf(h) == L"Static") {
            labels.push_back(GetText(h));
            EXPECT_EQ(static_cast<DWORD>(SS_RIGHT), GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) << N(GetText(h));
        } else {
            controls.push_back(h);
        }
    }
    ASSERT_EQ(sizeof(kControls) / sizeof(kControls[0]), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        const ControlSpec& spec = kControls[i];
        HWND h = controls[i];
        EXPECT_EQ(spec.id, GetDlgCtrlID(h)) << "position " << i;
        EXPECT_EQ(std::wstring(spec.cls), ClassOf(h)) << "id " << spec.id;
        if (spec.text) {
            EXPECT_EQ(std::wstring(spec.text), GetText(h)) << "id " << spec.id;
        }
        DWORD style = static_cast<DWORD>(GetWindowLongW(h, GWL_STYLE));
        EXPECT_EQ(spec.styleBits, style & spec.styleBits) << std::hex << "id " << std::dec << spec.id << " style 0x" << std::hex << style;
        EXPECT_TRUE(IsWindowVisible(h)) << "id " << spec.id;
        if (ClassOf(h) == L"Edit") {
            // The edit control turns a template border into a client edge.
            bool bordered = (style & WS_BORDER) || (GetWindowLongW(h, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
            EXPECT_TRUE(bordered) << "id " << spec.id;
        }
    }
    ASSERT_EQ(sizeof(kLabels) / sizeof(kLabels[0]), labels.size());
    for (size_t i = 0; i < labels.size(); ++i) EXPECT_EQ(std::wstring(kLabels[i]), labels[i]);
    // Dialog styles: modal frame, minimise box, system menu, task-bar button.
    LONG style = GetWindowLongW(dlg, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(GetWindowLongW(dlg, GWL_EXSTYLE) & WS_EX_APPWINDOW);
    EXPECT_EQ(GetDlgItem(dlg, 200), FocusOf(p.tid())) << "first tab stop has the focus";
    EXPECT_EQ(BST_UNCHECKED, SendMessageW(GetDlgItem(dlg, IDC_AUTO_UPDATE), BM_GETCHECK, 0, 0));
}

TEST_F(DialogTest, ListsFilledAndFirstEntrySelected) {
    Open(L"lists");
    struct {
        int id;
        std::vector<std::wstring> items;
    } lists[] = {{1029, {L"Disabled ", L"Enabled "}},
                 {1030, {L"DCP mode", L"CDP mode"}},
                 {1033, {L"BA mode", L"BT mode", L"Full speed mode"}}};
    for (auto& l : lists) {
        HWND combo = GetDlgItem(dlg, l.id);
        ASSERT_EQ(static_cast<LRESULT>(l.items.size()), SendMessageW(combo, CB_GETCOUNT, 0, 0)) << l.id;
        EXPECT_EQ(0, SendMessageW(combo, CB_GETCURSEL, 0, 0)) << l.id;
        for (size_t i = 0; i < l.items.size(); ++i) {
            wchar_t text[64] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            EXPECT_EQ(l.items[i], std::wstring(text)) << l.id << " item " << i;
        }
    }
    EXPECT_EQ(L"Event callback registered\r\n", Log());
}

TEST(Dialog, OtherCommandLinesOpenTheDialog) {
    for (const wchar_t* args : {L" wlon", L" -wlon", L" /wlon x", L" /wlon /bton", L" /unknown"}) {
        TovrelProcess other;
        ASSERT_TRUE(other.Start(L"otherargs", kFull, args));
        HWND h = other.WaitForWindow(kDialogTitle, 20000);
        EXPECT_NE(nullptr, h) << "[" << N(args) << "]";
        if (h) PostMessageW(h, WM_CLOSE, 0, 0);
        DWORD code = 0;
        EXPECT_TRUE(other.WaitExit(15000, &code)) << N(args);
        int setters = 0;
        for (const std::string& line : other.LibraryCalls()) setters += line.rfind("Set_", 0) == 0;
        EXPECT_EQ(0, setters) << N(args);
    }
}

TEST_F(DialogTest, SystemCommandsSixteenToThirtyOneOpenTheAboutBox) {
    Open(L"about");
    for (WPARAM cmd = 16; cmd <= 31; ++cmd) {
        PostMessageW(dlg, WM_SYSCOMMAND, cmd, 0);
        HWND about = p.WaitForWindow(kAboutTitle, 10000);
        ASSERT_NE(nullptr, about) << "command " << cmd;
        std::vector<std::wstring> texts = StaticTexts(about);
        ASSERT_EQ(2u, texts.size()) << "command " << cmd;
        EXPECT_EQ(L"Kestil Desktop BIOS Test Application Version 1.0", texts[0]);
        EXPECT_EQ(L"Copyright (C) 2026 Kestil", texts[1]);
        EXPECT_EQ(L"OK", GetText(GetDlgItem(about, IDOK)));
        HWND icon = Children(about).empty() ? nullptr : Children(about)[0];
        ASSERT_NE(nullptr, icon);
        EXPECT_EQ(static_cast<LONG>(SS_ICON), GetWindowLongW(icon, GWL_STYLE) & SS_TYPEMASK);
        EXPECT_NE(0, SendMessageW(icon, STM_GETICON, 0, 0)) << "the application icon is shown";
        EXPECT_EQ(dlg, GetWindow(about, GW_OWNER)) << "owned by the main dialog";
        PostMessageW(about, WM_COMMAND, IDOK, 0);
        for (int i = 0; i < 100 && p.HasWindow(kAboutTitle); ++i) Sleep(50);
        ASSERT_FALSE(p.HasWindow(kAboutTitle)) << "command " << cmd;
    }
    // Not the About command: nothing opens.
    PostMessageW(dlg, WM_SYSCOMMAND, 0x30, 0);
    Sleep(500);
    EXPECT_FALSE(p.HasWindow(kAboutTitle));
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

// Centre of a window, in screen pixels (doubled: no rounding).
POINT Centre2(const RECT& r) { return POINT{r.left + r.right, r.top + r.bottom}; }

TEST_F(DialogTest, MainDialogCentredOnTheWorkAreaAndAboutBoxOverIt) {
    Open(L"centred");
    RECT work = {}, main = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    ASSERT_TRUE(GetWindowRect(dlg, &main));
    EXPECT_LE(std::abs(Centre2(main).x - Centre2(work).x), 4) << "main dialog left " << main.left;
    EXPECT_LE(std::abs(Centre2(main).y - Centre2(work).y), 4) << "main dialog top " << main.top;

    PostMessageW(dlg, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
    HWND about = p.WaitForWindow(kAboutTitle, 10000);
    ASSERT_NE(nullptr, about);
    RECT box = {};
    ASSERT_TRUE(GetWindowRect(about, &box));
    EXPECT_LE(std::abs(Centre2(box).x - Centre2(main).x), 4) << "About box left " << box.left;
    EXPECT_LE(std::abs(Centre2(box).y - Centre2(main).y), 4) << "About box top " << box.top;
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && p.HasWindow(kAboutTitle); ++i) Sleep(50);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

TEST_F(DialogTest, CloseRequestUnregistersOnceBeforeTheLibraryGoes) {
    Open(L"close");
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEndsWithOneUnregister("WM_CLOSE");
}

TEST_F(DialogTest, EscapeUnregistersOnceBeforeTheLibraryGoes) {
    Open(L"escape");
    HWND focus = FocusOf(p.tid());
    ASSERT_NE(nullptr, focus);
    PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ExpectEndsWithOneUnregister("Escape");
}

TEST_F(DialogTest, EnterUnregistersOnceBeforeTheLibraryGoes) {
    Open(L"enter");
    HWND focus = FocusOf(p.tid());
    ASSERT_EQ(GetDlgItem(dlg, 200), focus);
    PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    ExpectEndsWithOneUnregister("Enter");
}

TEST_F(DialogTest, CloseButtonUnregistersOnceBeforeTheLibraryGoes) {
    Open(L"button2");
    PostMessageW(GetDlgItem(dlg, IDCANCEL), BM_CLICK, 0, 0);
    ExpectEndsWithOneUnregister("button 2");
}

TEST_F(DialogTest, FailedRegistrationIsLoggedAndCloseStillUnregisters) {
    Open(L"register_fails", L"", {{L"FAKE_QEBI_REGISTER", L"-1"}, {L"FAKE_QEBI_REGISTER_ERROR", L"1167"}});
    EXPECT_EQ(L"Failed to register event callback (1167)\r\n", Log());
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    DWORD code = 0;
    ASSERT_TRUE(p.WaitExit(15000, &code));
    EXPECT_EQ(1, CountPrefix(p.LibraryCalls(), "QEB_UnregisterEventCallback")) << Joined(p.LibraryCalls());
}

TEST_F(DialogTest, FirmwareEventsAppendTimeStampedLines) {
    Open(L"events", L"", {{L"FAKE_QEBI_EVENTS", L"0x1003,0x1043,0x1005,0x1010"}});
    ASSERT_TRUE(p.WaitForCall("FIRED 4", 15000)) << Joined(p.LibraryCalls());
    std::vector<std::wstring> lines = SplitLines(SettledLog());
    ASSERT_EQ(5u, lines.size()) << N(Log());
    EXPECT_EQ(L"Event callback registered", lines[0]);
    const wchar_t* suffixes[] = {L": 0x1003 (Volume Up)", L": 0x1043", L": 0x1005 (Thermal Alert)",
                                 L": 0x1010 (Ambient Light)"};
    for (size_t i = 0; i < 4; ++i) {
        const std::wstring& line = lines[i + 1];
        ASSERT_GE(line.size(), 18u);
        EXPECT_EQ(std::wstring(suffixes[i]), line.substr(18)) << N(line);
        EXPECT_EQ(L'/', line[2]) << N(line);
        EXPECT_EQ(L'.', line[14]) << N(line);
    }
    // The thermal and ambient light events refreshed their panels first.
    std::vector<std::string> calls = p.LibraryCalls();
    size_t reg = 0;
    while (reg < calls.size() && calls[reg].rfind("QEB_Register", 0) != 0) ++reg;
    std::vector<std::string> after(calls.begin() + reg, calls.end());
    EXPECT_EQ(1, CountPrefix(after, "Get_Thermal_Parameter 10")) << Joined(after);
    EXPECT_EQ(1, CountPrefix(after, "Get_Ambient_Light")) << Joined(after);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

// Any program on the desktop can send the dialog messages: a WM_INITDIALOG
// without a dialog object or with a pointer into nowhere changes nothing, and
// Set Mode sets nothing with a list cleared by CB_SETCURSEL -1, with an entry
// another program added, or through the command of a disabled button.
TEST_F(DialogTest, ForeignMessagesNeitherEndTheDialogNorSetAMode) {
    Open(L"foreign");
    DWORD_PTR answer = 0;
    // No object, a pointer into nowhere, a pointer to readable memory that is
    // no dialog (where an i686 program's image starts).
    const LPARAM foreignParams[] = {0, static_cast<LPARAM>(0x0BADF00D), static_cast<LPARAM>(0x00400000)};
    for (LPARAM lParam : foreignParams) {
        SendMessageTimeoutW(dlg, WM_INITDIALOG, 0, lParam, SMTO_NORMAL, 5000, &answer);
        Sleep(200);
        DWORD code = 0;
        ASSERT_FALSE(p.WaitExit(0, &code)) << "ended by WM_INITDIALOG with lParam " << lParam << ", exit code "
                                           << code;
        ASSERT_TRUE(IsWindowVisible(dlg)) << "lParam " << lParam;
    }
    enum How { kNoSelection, kForeignEntry, kDisabledButton };
    struct Click {
        int list, button;
        const char* setter;
        How how;
    };
    const Click clicks[] = {{IDC_USB_S45_LIST, IDC_USB_SET_MODE, "Set_USB_Charge_Status", kNoSelection},
                            {IDC_USB_S0_LIST, IDC_USB_SET_MODE, "Set_USB_Charge_Status", kNoSelection},
                            {IDC_FSC_LIST, IDC_FSC_SET_MODE, "Set_FSC_Status", kNoSelection},
                            {IDC_FSC_LIST, IDC_FSC_SET_MODE, "Set_FSC_Status", kForeignEntry},
                            {IDC_USB_S45_LIST, IDC_USB_SET_MODE, "Set_USB_Charge_Status", kDisabledButton}};
    for (const Click& c : clicks) {
        HWND list = GetDlgItem(dlg, c.list), button = GetDlgItem(dlg, c.button);
        if (c.how == kNoSelection) {
            SendMessageTimeoutW(list, CB_SETCURSEL, static_cast<WPARAM>(-1), 0, SMTO_NORMAL, 5000, &answer);
        } else if (c.how == kForeignEntry) {
            // Selected at the index after the dialog's own entries.
            SendMessageTimeoutW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(L"Foreign mode"), SMTO_NORMAL, 5000,
                                &answer);
            SendMessageTimeoutW(list, CB_SETCURSEL, answer, 0, SMTO_NORMAL, 5000, &answer);
        } else {
            // As the render step leaves it for an absent feature; the command
            // comes from another program.
            EnableWindow(button, FALSE);
        }
        if (c.how == kDisabledButton)
            SendMessageTimeoutW(dlg, WM_COMMAND, MAKEWPARAM(c.button, BN_CLICKED), reinterpret_cast<LPARAM>(button),
                                SMTO_NORMAL, 5000, &answer);
        else
            SendMessageTimeoutW(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &answer);
        EXPECT_EQ(0, CountPrefix(p.LibraryCalls(), c.setter))
            << "list " << c.list << ", case " << c.how << "\n" << Joined(p.LibraryCalls());
        if (c.how == kForeignEntry)
            SendMessageTimeoutW(list, CB_DELETESTRING, SendMessageW(list, CB_GETCOUNT, 0, 0) - 1, 0, SMTO_NORMAL,
                                5000, &answer);
        if (c.how == kDisabledButton) EnableWindow(button, TRUE);
        SendMessageTimeoutW(list, CB_SETCURSEL, 0, 0, SMTO_NORMAL, 5000, &answer);
    }
    // With every list selected again the button sets.
    SendMessageTimeoutW(GetDlgItem(dlg, IDC_FSC_SET_MODE), BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &answer);
    EXPECT_EQ(1, CountPrefix(p.LibraryCalls(), "Set_FSC_Status 0")) << Joined(p.LibraryCalls());
    PostMessageW(dlg, WM_CLOSE, 0, 0);
    ExpectEndsWithOneUnregister("after foreign messages");
}

// 5,000 events handed over while the dialog's thread is held inside the
// library (here: its registration) leave 4,096 queued; the log ends with the
// 4,096th event and says how many went missing after it. Eight codes in turn
// tell the events apart: the log was last emptied by the 4,004th.
TEST_F(DialogTest, EventsBeyondTheQueuesBoundAreReportedAsDropped) {
    Open(L"dropped", L"",
         {{L"FAKE_QEBI_EVENTS", L"0x2000,0x2001,0x2002,0x2003,0x2004,0x2005,0x2006,0x2007"},
          {L"FAKE_QEBI_REPEAT", L"625"},
          {L"FAKE_QEBI_DELAY_MS", L"0"},
          {L"FAKE_QEBI_HOLD_REGISTER", L"1"}});
    ASSERT_TRUE(p.WaitForCall("FIRED 5000", 60000)) << Joined(p.LibraryCalls());
    std::vector<std::wstring> lines = SplitLines(SettledLog());
    ASSERT_EQ(94u, lines.size()) << N(lines.empty() ? L"" : lines.back());
    for (size_t i = 0; i < 93; ++i) {
        wchar_t want[32];
        swprintf(want, 32, L": 0x%X", 0x2000u + static_cast<unsigned>((4003 + i) % 8));
        ASSERT_GE(lines[i].size(), 18u) << "line " << i;
        ASSERT_EQ(std::wstring(want), lines[i].substr(18)) << "line " << i << ", event " << 4004 + i;
    }
    EXPECT_EQ(L"904 firmware events dropped", lines[93]);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

struct FloodCase {
    int events;
    size_t lines;      // lines in the log afterwards
    bool registration; // registration line still first
};

class EventFloodTest : public DialogTest, public ::testing::WithParamInterface<FloodCase> {};

TEST_P(EventFloodTest, LogIsEmptiedByTheThousandAndFirstEvent) {
    const FloodCase& c = GetParam();
    Open(L"flood", L"",
         {{L"FAKE_QEBI_EVENTS", L"0x1001"}, {L"FAKE_QEBI_REPEAT", std::to_wstring(c.events)}});
    ASSERT_TRUE(p.WaitForCall("FIRED " + std::to_string(c.events), 120000)) << Joined(p.LibraryCalls());
    std::vector<std::wstring> lines = SplitLines(SettledLog());
    EXPECT_EQ(c.lines, lines.size()) << c.events << " events";
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(c.registration, lines[0] == L"Event callback registered") << N(lines[0]);
    for (size_t i = c.registration ? 1 : 0; i < lines.size(); ++i)
        ASSERT_EQ(L": 0x1001 (Microphone mute)", lines[i].substr(18)) << "line " << i << " " << N(lines[i]);
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

INSTANTIATE_TEST_SUITE_P(Counts, EventFloodTest,
                         ::testing::Values(FloodCase{1000, 1001, true},
                                           FloodCase{1002, 2, false}, FloodCase{2001, 1001, false}));

TEST_F(DialogTest, AutoUpdateRefreshesOnlyWhileTicked) {
    Open(L"autoupdate");
    auto wifiReads = [&] { return CountPrefix(p.LibraryCalls(), "Get_Current_WIFI_Ratio_Status"); };
    int before = wifiReads();
    Sleep(2500);
    EXPECT_EQ(before, wifiReads()) << "auto update off";
    PostMessageW(GetDlgItem(dlg, IDC_AUTO_UPDATE), BM_CLICK, 0, 0);
    Sleep(2600);
    EXPECT_GE(wifiReads(), before + 2) << "two ticks with auto update on";
    PostMessageW(GetDlgItem(dlg, IDC_AUTO_UPDATE), BM_CLICK, 0, 0);
    Sleep(1200);
    int after = wifiReads();
    Sleep(2200);
    EXPECT_EQ(after, wifiReads()) << "auto update off again";
    PostMessageW(dlg, WM_CLOSE, 0, 0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
