// CountdownDialogProc on a real dialog created from resource 100 (compiled
// into this test from the service's own resource script), run modally as the
// helper runs it, driven from a second thread.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qebevent.h"
#include "service_resources.h"
#include "session_internal.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

std::wstring TextOf(HWND dialog) {
    wchar_t text[256] = L"";
    GetDlgItemTextW(dialog, IDC_COUNTDOWN_TEXT, text, 256);
    return text;
}

// Every text set on control 101 of the dialog under test, recorded by a
// subclass of the control: the last text is set just before the dialog ends,
// when it can no longer be read back.
std::vector<std::string> TextsSet;
WNDPROC StaticProc = nullptr;

LRESULT CALLBACK RecordText(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SETTEXT && lParam != 0) TextsSet.push_back(Narrow(reinterpret_cast<const wchar_t*>(lParam)));
    return CallWindowProcW(StaticProc, hwnd, msg, wParam, lParam);
}

void RecordTexts(HWND dialog) {
    TextsSet.clear();
    StaticProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(GetDlgItem(dialog, IDC_COUNTDOWN_TEXT), GWLP_WNDPROC,
                                                             reinterpret_cast<LONG_PTR>(RecordText)));
}

// Finds the countdown dialog among the UI thread's windows.
BOOL CALLBACK FindCountdownDialog(HWND hwnd, LPARAM out) {
    if (GetDlgItem(hwnd, IDC_COUNTDOWN_TEXT) == nullptr) return TRUE;
    *reinterpret_cast<HWND*>(out) = hwnd;
    return FALSE;
}

struct DriveContext {
    DWORD uiThread;
    std::function<void(HWND)> drive;
};

// Second thread: waits for the dialog to show, then hands it to the drive.
DWORD WINAPI DriveDialog(LPVOID p) {
    auto* c = static_cast<DriveContext*>(p);
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && dialog == nullptr; ++i) {
        EnumThreadWindows(c->uiThread, FindCountdownDialog, reinterpret_cast<LPARAM>(&dialog));
        if (dialog == nullptr) Sleep(5);
    }
    // Controls are complete and WM_INITDIALOG has run once it shows.
    for (int i = 0; dialog != nullptr && i < 1000 && !IsWindowVisible(dialog); ++i) Sleep(5);
    if (dialog != nullptr) c->drive(dialog);
    return 0;
}

// Runs dialog 100 modally on this thread while `drive` runs on another
// thread with the dialog's handle; returns DialogBoxParamW's result.
INT_PTR RunDialog(int countdownSeconds, std::function<void(HWND)> drive) {
    DriveContext context = {GetCurrentThreadId(), std::move(drive)};
    CountdownSeconds = countdownSeconds;
    HANDLE driver = CreateThread(nullptr, 0, DriveDialog, &context, 0, nullptr);
    INT_PTR result = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_COUNTDOWN), nullptr,
                                     CountdownDialogProc, 0);
    WaitForSingleObject(driver, 30000);
    CloseHandle(driver);
    return result;
}

TEST(CountdownDialog, TimerTicksShowFiveToZeroAndTheLastTickEndsWithOne) {
    std::string initial;
    bool openBeforeLastTick = false;
    INT_PTR result = RunDialog(5, [&](HWND dialog) {
        initial = Narrow(TextOf(dialog));  // from the template
        RecordTexts(dialog);
        for (int tick = 0; tick < 6; ++tick) {
            if (tick == 5) openBeforeLastTick = IsWindowVisible(dialog) != FALSE;
            SendMessageW(dialog, WM_TIMER, 1, 0);
        }
    });
    EXPECT_EQ(1, result);
    EXPECT_EQ("System will hibernate after 5 seconds.", initial);
    std::vector<std::string> texts = TextsSet;
    texts.insert(texts.begin(), initial);
    EXPECT_TRUE(openBeforeLastTick) << "dialog ended before n reached 0";
    std::vector<std::string> expected = {
        "System will hibernate after 5 seconds.", "System will hibernate after 5 seconds.",
        "System will hibernate after 4 seconds.", "System will hibernate after 3 seconds.",
        "System will hibernate after 2 seconds.", "System will hibernate after 1 second.",
        "System will hibernate after 0 second."};
    EXPECT_EQ(expected, texts);
    EXPECT_EQ(-1, CountdownSeconds);
}

// WM_TIMER from another program (or another timer) does not count down:
// only the dialog's own timer 1 does.
TEST(CountdownDialog, ForeignTimerMessagesDoNotCountDown) {
    bool openAfterForeign = false;
    INT_PTR result = RunDialog(5, [&](HWND dialog) {
        RecordTexts(dialog);
        const WPARAM foreignIds[] = {0, 2, 7, 0xFFFF};
        for (int round = 0; round < 2; ++round)
            for (WPARAM id : foreignIds) SendMessageW(dialog, WM_TIMER, id, 0);
        openAfterForeign = IsWindowVisible(dialog) != FALSE;
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(0, result) << "ended by the countdown, not by OK";
    EXPECT_TRUE(openAfterForeign);
    EXPECT_EQ(std::vector<std::string>{}, TextsSet);
    EXPECT_EQ(5, CountdownSeconds);
}

TEST(CountdownDialog, RealTimerRunsTheCountdownOut) {
    DWORD start = GetTickCount();
    INT_PTR result = RunDialog(5, [&](HWND dialog) { RecordTexts(dialog); });
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(1, result);
    EXPECT_GE(elapsed, 5500u) << "six ticks of one second";
    EXPECT_EQ(-1, CountdownSeconds);
    std::vector<std::string> expected = {
        "System will hibernate after 5 seconds.", "System will hibernate after 4 seconds.",
        "System will hibernate after 3 seconds.", "System will hibernate after 2 seconds.",
        "System will hibernate after 1 second.",  "System will hibernate after 0 second."};
    EXPECT_EQ(expected, TextsSet);
}

TEST(CountdownDialog, OkButtonEndsWithZero) {
    std::string before;
    INT_PTR result = RunDialog(5, [&](HWND dialog) {
        before = Narrow(TextOf(dialog));
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(0, result);
    EXPECT_EQ("System will hibernate after 5 seconds.", before);
    EXPECT_EQ(5, CountdownSeconds) << "a tick ran";
}

TEST(CountdownDialog, EnterEndsWithZero) {
    INT_PTR result = RunDialog(5, [&](HWND dialog) { PostMessageW(dialog, WM_KEYDOWN, VK_RETURN, 0); });
    EXPECT_EQ(0, result);
}

TEST(CountdownDialog, EscapeAndCloseRequestsDoNothing) {
    bool stillOpen = false;
    std::string text;
    INT_PTR result = RunDialog(0, [&](HWND dialog) {
        PostMessageW(dialog, WM_KEYDOWN, VK_ESCAPE, 0);
        PostMessageW(dialog, WM_CLOSE, 0, 0);
        PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        Sleep(500);
        stillOpen = IsWindow(dialog) && IsWindowVisible(dialog);
        text = Narrow(TextOf(dialog));
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ("There has been a power loss event, system resume from hibernation.", text);
    EXPECT_EQ(0, result);
}

TEST(CountdownDialog, ResumeNoticeStartsNoTimer) {
    std::string text;
    bool stillOpen = false;
    INT_PTR result = RunDialog(0, [&](HWND dialog) {
        Sleep(1500);
        text = Narrow(TextOf(dialog));
        stillOpen = IsWindowVisible(dialog) != FALSE;
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(0, result);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ("There has been a power loss event, system resume from hibernation.", text);
    EXPECT_EQ(0, CountdownSeconds) << "a timer ticked";
}

TEST(CountdownDialog, WindowHasTheTemplatesLook) {
    LONG style = 0, exStyle = 0;
    int controls = 0;
    std::string okText;
    LONG textStyle = 0;
    RunDialog(0, [&](HWND dialog) {
        style = GetWindowLongW(dialog, GWL_STYLE);
        exStyle = GetWindowLongW(dialog, GWL_EXSTYLE);
        for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) ++controls;
        wchar_t t[16] = L"";
        GetWindowTextW(GetDlgItem(dialog, IDOK), t, 16);
        okText = Narrow(t);
        textStyle = GetWindowLongW(GetDlgItem(dialog, IDC_COUNTDOWN_TEXT), GWL_STYLE);
        SendMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE(style & WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU);
    EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
    EXPECT_EQ(3, controls);
    EXPECT_EQ("OK", okText);
    EXPECT_EQ(SS_CENTER, textStyle & SS_TYPEMASK);
}

}  // namespace
