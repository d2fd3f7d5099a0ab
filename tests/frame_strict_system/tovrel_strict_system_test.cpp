// The installed Tovrel.exe on the stand-in QEBI.dll in strict mode
// (QEBI_STANDIN_STRICT=1: one lock held by every entry point and while a
// callback runs; unregister waits for a running callback without dispatching
// messages). A dialog that waits for itself inside the callback deadlocks
// there; these runs show it keeps logging, refreshing and closing.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "qebsim/client.h"
#include "tovrel_driver.h"

namespace {

using tovrel_test::GetText;

enum { kAmbient = 206, kAutoUpdate = 238, kUpdateAll = 239 };

// Raises codes first, first + step, ... while keeping the device's queue
// short.
void Raise(DWORD first, DWORD count, DWORD pauseMs, DWORD step = 1) {
    for (DWORD i = 0; i < count; ++i) {
        QEBSIM_RAISE_RESULT rr = {};
        if (!qebsim::RaiseEvent(first + i * step, &rr)) return;
        if (rr.max_depth > QEBSIM_QUEUE_BOUND / 2) Sleep(20);
        if (pauseMs) Sleep(pauseMs);
    }
}

struct Stream {
    DWORD first, count;
};

DWORD WINAPI RaiseThread(void* param) {
    Stream* s = static_cast<Stream*>(param);
    Raise(s->first, s->count, 0, 0);
    return 0;
}

class StrictLibraryDialog : public ::testing::Test {
protected:
    void SetUp() override {
        // Read by the library when Tovrel loads it.
        SetEnvironmentVariableW(L"QEBI_STANDIN_STRICT", L"1");
        ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_THERMAL, 1));
        ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_AMBIENT_LIGHT, (77 << 1) | 1));
        ASSERT_TRUE(tovrel_.Start()) << "the dialog did not open, error " << GetLastError();
        dlg_ = tovrel_.dialog();
        ASSERT_EQ(L"Event callback registered", Lines()[0]);
    }
    void TearDown() override { SetEnvironmentVariableW(L"QEBI_STANDIN_STRICT", nullptr); }

    std::vector<std::wstring> Lines() const { return tovrel_.Lines(); }
    std::vector<std::wstring> WaitLines(size_t n, DWORD timeoutMs) const { return tovrel_.WaitLines(n, timeoutMs); }
    // A message the dialog must handle within the time: it is not stuck.
    bool Responds(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        DWORD_PTR r = 0;
        return SendMessageTimeoutW(dlg_, message, wParam, lParam, SMTO_NORMAL, 10000, &r) != 0;
    }
    // Alt+F4 as the dialog receives it; milliseconds until the process ended,
    // or -1 when it still runs after 20 s.
    double CloseAndTimeExit() const {
        LARGE_INTEGER f, t0, t1;
        QueryPerformanceFrequency(&f);
        QueryPerformanceCounter(&t0);
        PostMessageW(dlg_, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (WaitForSingleObject(tovrel_.process(), 20000) != WAIT_OBJECT_0) return -1;
        QueryPerformanceCounter(&t1);
        return (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
    }

    tovrel_test::InstalledTovrel tovrel_;
    HWND dlg_ = nullptr;
};

// Every line after the registration line, as " 8/12  9:41:53.007: 0x..." ends.
void ExpectCodes(const std::vector<std::wstring>& lines, DWORD first, size_t count) {
    ASSERT_GE(lines.size(), count + 1);
    for (size_t i = 0; i < count; ++i) {
        wchar_t want[32];
        swprintf(want, 32, L": 0x%X", static_cast<unsigned>(first + i));
        ASSERT_GE(lines[i + 1].size(), 18u);
        ASSERT_EQ(std::wstring(want), lines[i + 1].substr(18)) << "line " << i + 1;
    }
}

TEST_F(StrictLibraryDialog, ThermalAndLightFloodsRefreshAndLogEveryEvent) {
    const DWORD kEach = 200;
    for (DWORD i = 0; i < kEach; ++i) {
        ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
        ASSERT_TRUE(qebsim::RaiseEvent(0x1010));
        // The dialog's own library calls while the events stream in.
        if (i % 50 == 0) {
            ASSERT_TRUE(Responds(WM_COMMAND, MAKEWPARAM(kUpdateAll, BN_CLICKED))) << "event " << i;
        }
    }
    std::vector<std::wstring> lines = WaitLines(1 + 2 * kEach, 30000);
    ASSERT_EQ(1 + 2 * kEach, lines.size());
    for (size_t i = 1; i < lines.size(); ++i) {
        const wchar_t* want = i % 2 ? L": 0x1005 (Thermal Alert)" : L": 0x1010 (Ambient Light)";
        ASSERT_EQ(std::wstring(want), lines[i].substr(18)) << "line " << i;
    }
    EXPECT_EQ(L"77", GetText(GetDlgItem(dlg_, kAmbient)));
    double ms = CloseAndTimeExit();
    EXPECT_GE(ms, 0) << "Tovrel did not end after the close request";
}

TEST_F(StrictLibraryDialog, AutoUpdateDuringEventsKeepsEveryLineInOrder) {
    PostMessageW(GetDlgItem(dlg_, kAutoUpdate), BM_CLICK, 0, 0);
    // 150 events over about three seconds: several auto updates among them.
    Raise(0x20000, 150, 20);
    std::vector<std::wstring> lines = WaitLines(151, 30000);
    EXPECT_EQ(151u, lines.size());
    ExpectCodes(lines, 0x20000, 150);
    EXPECT_TRUE(Responds(WM_NULL)) << "the dialog hangs";
    EXPECT_GE(CloseAndTimeExit(), 0) << "Tovrel did not end after the close request";
}

// Thermal alerts, each a library call and a panel update: the events come
// faster than they are logged, so the close request meets a busy delivery
// and a growing queue.
TEST_F(StrictLibraryDialog, ClosingDuringATwoThousandEventStreamEndsTheProgram) {
    QEBSIM_STATE state = {};
    ASSERT_TRUE(qebsim::GetState(&state));
    const uint32_t raisedBefore = state.events_raised;
    Stream stream = {0x1005, 2000};
    HANDLE raiser = CreateThread(nullptr, 0, RaiseThread, &stream, 0, nullptr);
    ASSERT_NE(nullptr, raiser);
    std::vector<std::wstring> lines = WaitLines(201, 30000);
    ASSERT_GE(lines.size(), 201u);
    for (size_t i = 1; i < lines.size(); ++i)
        ASSERT_EQ(L": 0x1005 (Thermal Alert)", lines[i].substr(18)) << "line " << i;
    qebsim::GetState(&state);
    double ms = CloseAndTimeExit();
    WaitForSingleObject(raiser, 60000);
    CloseHandle(raiser);
    EXPECT_GE(ms, 0) << "Tovrel did not end after the close request";
    printf("[ figures  ] close request to process end during the stream: %.0f ms (%zu lines logged,"
           " %u events raised)\n", ms, lines.size(), state.events_raised - raisedBefore);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
