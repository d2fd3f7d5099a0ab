// The Ctrl+Alt+Del post of Windows XP from a process that, as the service
// does, lives in a window station of its own: the hot key reaches
// "WinSta0\Winlogon", and afterwards the process is back in its own station,
// the thread on its own desktop, with no desktop or station handle left
// open. SetThreadDesktop refuses a desktop of a station the process is not
// attached to, so the order of going back matters.
#include <gtest/gtest.h>
#include <windows.h>

#include "handle_count.h"
#include "qebevent.h"
#include "winlogon_listener.h"

namespace {

struct PostSeen {
    HDESK ownDesktop = nullptr;
    bool onOwnDesktop = false;
    long handlesBefore = 0, handlesAfter = 0;
    HWINSTA stationAfter = nullptr;
    HDESK desktopAfter = nullptr;
};

// A thread of its own: the test's main thread may own windows, and a thread
// with windows cannot change its desktop.
DWORD WINAPI PostFromOwnDesktop(LPVOID context) {
    auto* seen = static_cast<PostSeen*>(context);
    seen->onOwnDesktop = SetThreadDesktop(seen->ownDesktop) != FALSE;
    // The first press also sets up what the system keeps for the process
    // (Wine: its input queue and the Winlogon desktop's shared memory); a
    // handle per press is what must not be.
    PostWinlogonCtrlAltDel();
    seen->handlesBefore = qebtest::CountProcessHandles(GetCurrentProcessId());
    PostWinlogonCtrlAltDel();
    seen->handlesAfter = qebtest::CountProcessHandles(GetCurrentProcessId());
    seen->stationAfter = GetProcessWindowStation();
    seen->desktopAfter = GetThreadDesktop(GetCurrentThreadId());
    return 0;
}

TEST(WinlogonPost, FromAStationOfItsOwnGoesBackToItsStationAndDesktop) {
    qebtest::WinlogonListener listener(L"WinSta0", L"C:\\winlogon-own-station.txt");
    ASSERT_NE(std::string::npos, listener.Text().find("ready Winlogon")) << listener.Text();
    HWINSTA original = GetProcessWindowStation();
    HWINSTA own = CreateWindowStationW(L"QEBTestServiceStation", 0, WINSTA_ALL_ACCESS, nullptr);
    ASSERT_NE(nullptr, own) << "error " << GetLastError();
    ASSERT_TRUE(SetProcessWindowStation(own));
    PostSeen seen;
    seen.ownDesktop = CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    HANDLE thread = seen.ownDesktop ? CreateThread(nullptr, 0, PostFromOwnDesktop, &seen, 0, nullptr) : nullptr;
    if (thread != nullptr) {
        WaitForSingleObject(thread, 20000);
        CloseHandle(thread);
    }
    SetProcessWindowStation(original);
    ASSERT_NE(nullptr, seen.ownDesktop) << "error " << GetLastError();
    ASSERT_TRUE(seen.onOwnDesktop);

    std::vector<std::string> hotKeys = listener.HotKeys(2, 5000);
    ASSERT_EQ(2u, hotKeys.size()) << listener.Text();
    EXPECT_EQ(qebtest::kWinlogonHotKey, hotKeys[0]);
    EXPECT_EQ(qebtest::kWinlogonHotKey, hotKeys[1]);
    EXPECT_EQ(own, seen.stationAfter) << "the process stayed in another window station";
    EXPECT_EQ(seen.ownDesktop, seen.desktopAfter) << "the thread stayed on another desktop";
    EXPECT_EQ(seen.handlesBefore, seen.handlesAfter) << "handles left open by a press";
    CloseDesktop(seen.ownDesktop);
    CloseWindowStation(own);
}

}  // namespace
