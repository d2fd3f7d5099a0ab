#include <gtest/gtest.h>

#include "check_facts.h"

namespace qebcheck {
namespace {

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

const DWORD kInjectedExtended = LLKHF_INJECTED | LLKHF_EXTENDED;

TEST(QebCheckKeyPress, ExactlyOneExtendedDownAndUp) {
    const DWORD up = VK_VOLUME_UP;
    struct Case {
        const char* what;
        std::vector<KeyEvent> events;
        Outcome outcome;
        const char* seen;
    } cases[] = {
        {"the helper's press", {{up, kInjectedExtended, false}, {up, kInjectedExtended | LLKHF_UP, true}}, Outcome::Pass,
         "one key-down and one key-up of VK_VOLUME_UP (0xAF), extended (flags: down 0x11, up 0x91)"},
        {"other keys around it do not count",
         {{VK_SHIFT, 0, false}, {up, LLKHF_EXTENDED, false}, {up, LLKHF_EXTENDED | LLKHF_UP, true}, {VK_SHIFT, LLKHF_UP, true}},
         Outcome::Pass, "one key-down and one key-up of VK_VOLUME_UP (0xAF), extended (flags: down 0x01, up 0x81)"},
        {"nothing", {}, Outcome::Fail,
         "expected one key-down and one key-up of VK_VOLUME_UP (0xAF), nothing seen in 20 s"},
        {"not extended", {{up, LLKHF_INJECTED, false}, {up, LLKHF_INJECTED | LLKHF_UP, true}}, Outcome::Fail,
         "expected one extended key-down and key-up of VK_VOLUME_UP (0xAF), got 1 key-down(s) and 1 key-up(s) "
         "(flags: down 0x10, up 0x90)"},
        {"pressed twice",
         {{up, 1, false}, {up, 0x81, true}, {up, 1, false}, {up, 0x81, true}}, Outcome::Fail,
         "expected one extended key-down and key-up of VK_VOLUME_UP (0xAF), got 2 key-down(s) and 2 key-up(s) "
         "(flags: down 0x01, up 0x81, down 0x01, up 0x81)"},
        {"up before down", {{up, 0x81, true}, {up, 1, false}}, Outcome::Fail,
         "expected one extended key-down and key-up of VK_VOLUME_UP (0xAF), got 1 key-down(s) and 1 key-up(s) "
         "(flags: up 0x81, down 0x01)"},
    };
    for (const Case& c : cases) {
        std::wstring seen;
        EXPECT_EQ(c.outcome, JudgeKeyPress(c.events, up, L"VK_VOLUME_UP", 20, &seen)) << c.what;
        EXPECT_EQ(c.seen, Narrow(seen)) << c.what;
    }
}

TEST(QebCheckCountdown, TextsAndTheirSeconds) {
    struct Case {
        const wchar_t* text;
        int seconds;
    } cases[] = {
        {L"System will hibernate after 5 seconds.", 5},
        {L"System will hibernate after 1 second.", 1},
        {L"System will hibernate after 0 second.", 0},
        {L"System will hibernate after 1 seconds.", -1},
        {L"System will hibernate after 5 second.", -1},
        {L"System will hibernate after  seconds.", -1},
        {L"There has been a power loss event, system resume from hibernation.", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.seconds, CountdownSeconds(c.text)) << Narrow(c.text);
}

TEST(QebCheckCountdown, StartsAtFiveAndGoesDown) {
    struct Case {
        std::vector<int> values;
        Outcome outcome;
    } cases[] = {
        {{5, 4, 3, 2, 1, 0}, Outcome::Pass}, {{5, 3}, Outcome::Pass},  {{5}, Outcome::Fail},
        {{4, 3, 2}, Outcome::Fail},          {{5, 4, 5}, Outcome::Fail}, {{}, Outcome::Fail},
    };
    for (const Case& c : cases) {
        std::wstring seen;
        EXPECT_EQ(c.outcome, JudgeCountdown(c.values, &seen)) << Narrow(seen);
    }
}

TEST(QebCheckServiceFacts, ImagePathsVersionsAndRecovery) {
    struct Path {
        const wchar_t* image;
        const wchar_t* program;
    } paths[] = {
        {L"\"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe\"", L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe"},
        {L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe", L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe"},
        {L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.EXE -x", L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.EXE"},
        {L"\"C:\\a b\\QEBEvent.exe\" -x", L"C:\\a b\\QEBEvent.exe"},
    };
    for (const Path& p : paths) EXPECT_EQ(Narrow(p.program), Narrow(ImagePathProgram(p.image))) << Narrow(p.image);

    EXPECT_EQ("1.0.0.7", Narrow(FileVersionText(0x00010000, 0x00000007)));

    struct Version {
        DWORD major, minor;
        WORD sp;
        bool accepted;
    } versions[] = {{5, 0, 4, false}, {5, 1, 2, false}, {5, 1, 3, true}, {5, 2, 0, true}, {6, 0, 0, true}};
    for (const Version& v : versions)
        EXPECT_EQ(v.accepted, WindowsVersionAccepted(v.major, v.minor, v.sp)) << v.major << "." << v.minor << " SP" << v.sp;

    std::wstring seen;
    EXPECT_EQ(Outcome::Pass, JudgeRecovery(600, {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 60000}, {SC_ACTION_NONE, 0}}, &seen));
    EXPECT_EQ("reset after 600 s; restart after 5000 ms, restart after 60000 ms, no action", Narrow(seen));
    EXPECT_EQ(Outcome::Fail, JudgeRecovery(0, {}, &seen));
    EXPECT_EQ("expected reset after 600 s; restart after 5000 ms, restart after 60000 ms, no action, got reset after "
              "0 s; no actions",
              Narrow(seen));
    EXPECT_EQ(Outcome::Fail, JudgeRecovery(600, {{SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}, {SC_ACTION_RESTART, 5000}}, &seen));
}

}  // namespace
}  // namespace qebcheck
