#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

#include "frame_core.h"
#include "library_gate.h"

using tovrel::Switch;

namespace {

std::wstring S(const CString& text) { return std::wstring(text.GetString()); }

// ---- switch matcher -------------------------------------------------------

struct MatchCase {
    const wchar_t* text;
    Switch expected;
};

class MatchSwitchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(MatchSwitchTest, MatchesAfterTrimAndLowerCase) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(tovrel::MatchSwitch(c.text)))
        << "command line [" << testing::PrintToString(std::wstring(c.text)) << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, MatchSwitchTest,
    ::testing::Values(MatchCase{L"/getallstat", Switch::GetAllStat}, MatchCase{L"/getallstatd", Switch::GetAllStatD},
                      MatchCase{L"/allon", Switch::AllOn}, MatchCase{L"/alloff", Switch::AllOff},
                      MatchCase{L"/wlon", Switch::WlOn}, MatchCase{L"/wloff", Switch::WlOff},
                      MatchCase{L"/bton", Switch::BtOn}, MatchCase{L"/btoff", Switch::BtOff},
                      MatchCase{L"  /WLON  ", Switch::WlOn}, MatchCase{L"\t/GetAllStatD \r\n", Switch::GetAllStatD},
                      MatchCase{L"/BtOfF", Switch::BtOff}, MatchCase{L"", Switch::None},
                      MatchCase{L"   ", Switch::None}, MatchCase{L"wlon", Switch::None},
                      MatchCase{L"-wlon", Switch::None}, MatchCase{L"/wlon x", Switch::None},
                      MatchCase{L"/wlon /bton", Switch::None}, MatchCase{L"/wlo", Switch::None},
                      MatchCase{L"/", Switch::None}, MatchCase{L"/getallstatdd", Switch::None}));

TEST(MatchSwitch, NullCommandLineOpensTheDialog) { EXPECT_EQ(Switch::None, tovrel::MatchSwitch(nullptr)); }

// ---- radio status word ------------------------------------------------------

struct RadioCase {
    LONG bt;
    LONG wifi;
    DWORD expected;
};

class RadioWordTest : public ::testing::TestWithParam<RadioCase> {};

TEST_P(RadioWordTest, CombinesBothRadios) {
    const RadioCase& c = GetParam();
    EXPECT_EQ(c.expected, tovrel::RadioStatusWord(c.bt, c.wifi))
        << std::hex << "bt=0x" << c.bt << " wifi=0x" << c.wifi;
}

// States: on = 3, off = 1, absent = 2 (bit 0 clear), failed = negative.
const LONG kOn = 3, kOff = 1, kAbsent = 2, kFailed = -1;
INSTANTIATE_TEST_SUITE_P(
    EveryCombination, RadioWordTest,
    ::testing::Values(RadioCase{kOn, kOn, 0x13800101}, RadioCase{kOn, kOff, 0x13800001},
                      RadioCase{kOn, kAbsent, 0x13808001}, RadioCase{kOn, kFailed, 0x13808001},
                      RadioCase{kOff, kOn, 0x13800100}, RadioCase{kOff, kOff, 0x13800000},
                      RadioCase{kOff, kAbsent, 0x13808000}, RadioCase{kOff, kFailed, 0x13808000},
                      RadioCase{kAbsent, kOn, 0x13800180}, RadioCase{kAbsent, kOff, 0x13800080},
                      RadioCase{kAbsent, kAbsent, 0x13808080}, RadioCase{kFailed, kOff, 0x13800080},
                      RadioCase{kFailed, kOn, 0x13800180}, RadioCase{kFailed, kFailed, 0x13808080},
                      // bits 2 to 30 change nothing; a negative word with bits 0, 1 set fails
                      RadioCase{0x7FFFFFFD, 0x7FFFFFFF, 0x13800100},
                      RadioCase{static_cast<LONG>(0x80000003u), 0, 0x13808080}));

// ---- switches against recording entry points ----------------------------------

std::vector<std::string> g_calls;
LONG g_wifiStatus, g_btStatus, g_setWifiResult, g_setBtResult;

LONG WINAPI FakeGetWifi() { g_calls.push_back("GetWifi"); return g_wifiStatus; }
LONG WINAPI FakeGetBt() { g_calls.push_back("GetBt"); return g_btStatus; }
LONG WINAPI FakeSetWifi(LONG v) { g_calls.push_back("SetWifi(" + std::to_string(v) + ")"); return g_setWifiResult; }
LONG WINAPI FakeSetBt(LONG v) { g_calls.push_back("SetBt(" + std::to_string(v) + ")"); return g_setBtResult; }

class RunSwitchTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_calls.clear();
        g_wifiStatus = 3;
        g_btStatus = 3;
        g_setWifiResult = 0;
        g_setBtResult = 0;
    }
    const tovrel::RadioEntryPoints ep{&FakeGetWifi, &FakeSetWifi, &FakeGetBt, &FakeSetBt};
    const tovrel::RadioEntryPoints unbound{nullptr, nullptr, nullptr, nullptr};
    using Calls = std::vector<std::string>;
};

TEST_F(RunSwitchTest, NoneMakesNoCallAndDoesNotExit) {
    tovrel::SwitchOutcome o = tovrel::RunSwitch(Switch::None, ep);
    EXPECT_FALSE(o.exits);
    EXPECT_EQ(Calls{}, g_calls);
}

TEST_F(RunSwitchTest, AllOnWithFailingWifiSetterStillCallsBluetoothAndExitsOne) {
    g_setWifiResult = -5;
    tovrel::SwitchOutcome o = tovrel::RunSwitch(Switch::AllOn, ep);
    EXPECT_EQ((Calls{"SetWifi(1)", "SetBt(1)"}), g_calls);
    EXPECT_TRUE(o.exits);
    EXPECT_EQ(1, o.exitCode);
}

TEST_F(RunSwitchTest, AllOffWithBothSucceedingExitsZero) {
    g_setWifiResult = 0x7FFFFFFF;  // only bit 31 counts
    tovrel::SwitchOutcome o = tovrel::RunSwitch(Switch::AllOff, ep);
    EXPECT_EQ((Calls{"SetWifi(0)", "SetBt(0)"}), g_calls);
    EXPECT_EQ(0, o.exitCode);
    EXPECT_FALSE(o.showMessage);
}

TEST_F(RunSwitchTest, AllOffWithFailingBluetoothExitsOne) {
    g_setBtResult = static_cast<LONG>(0x80000000u);
    EXPECT_EQ(1, tovrel::RunSwitch(Switch::AllOff, ep).exitCode);
}

struct SingleSetterCase {
    Switch which;
    const char* call;
};

class SingleSetterTest : public RunSwitchTest, public ::testing::WithParamInterface<SingleSetterCase> {};

TEST_P(SingleSetterTest, MakesOneCallAndExitsWithBit31OfItsResult) {
    const SingleSetterCase& c = GetParam();
    EXPECT_EQ(0, tovrel::RunSwitch(c.which, ep).exitCode);
    EXPECT_EQ(Calls{c.call}, g_calls);
    g_calls.clear();
    g_setWifiResult = g_setBtResult = -1;
    EXPECT_EQ(1, tovrel::RunSwitch(c.which, ep).exitCode);
    EXPECT_EQ(Calls{c.call}, g_calls);
}

INSTANTIATE_TEST_SUITE_P(Table, SingleSetterTest,
                         ::testing::Values(SingleSetterCase{Switch::WlOn, "SetWifi(1)"},
                                           SingleSetterCase{Switch::WlOff, "SetWifi(0)"},
                                           SingleSetterCase{Switch::BtOn, "SetBt(1)"},
                                           SingleSetterCase{Switch::BtOff, "SetBt(0)"}));

TEST_F(RunSwitchTest, GetAllStatQueriesBluetoothThenWifiAndExitsWithTheWord) {
    g_btStatus = 3;
    g_wifiStatus = 2;
    tovrel::SwitchOutcome o = tovrel::RunSwitch(Switch::GetAllStat, ep);
    EXPECT_EQ((Calls{"GetBt", "GetWifi"}), g_calls);
    EXPECT_EQ(0x13808001, o.exitCode);
    EXPECT_FALSE(o.showMessage);
}

TEST_F(RunSwitchTest, GetAllStatDShowsTheWordInHexadecimal) {
    g_btStatus = -1;
    g_wifiStatus = 1;
    tovrel::SwitchOutcome o = tovrel::RunSwitch(Switch::GetAllStatD, ep);
    EXPECT_EQ(0x13800080, o.exitCode);
    EXPECT_TRUE(o.showMessage);
    EXPECT_EQ(L"rc = 0x13800080", S(o.message));
}

TEST_F(RunSwitchTest, UnboundLibraryReadsAsNoRadios) {
    EXPECT_EQ(0x13808080, tovrel::RunSwitch(Switch::GetAllStat, unbound).exitCode);
}

TEST_F(RunSwitchTest, UnboundLibraryFailsEverySettingSwitch) {
    for (Switch s : {Switch::AllOn, Switch::AllOff, Switch::WlOn, Switch::WlOff, Switch::BtOn, Switch::BtOff})
        EXPECT_EQ(1, tovrel::RunSwitch(s, unbound).exitCode) << "switch " << static_cast<int>(s);
}

TEST(RadioStatusMessage, EightUpperCaseDigits) {
    EXPECT_EQ(L"rc = 0x13800ABC", S(tovrel::FormatRadioStatusMessage(0x13800abc)));
}

// ---- event log ---------------------------------------------------------------

SYSTEMTIME Time(WORD day, WORD month, WORD hour, WORD minute, WORD second, WORD ms) {
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wDay = day;
    t.wMonth = month;
    t.wHour = hour;
    t.wMinute = minute;
    t.wSecond = second;
    t.wMilliseconds = ms;
    return t;
}

TEST(EventLine, VolumeUpOnFifthOfDecember) {
    EXPECT_EQ(L" 5/12 20:41:53.007: 0x1003 (Volume Up)\r\n",
              S(tovrel::FormatEventLine(Time(5, 12, 20, 41, 53, 7), 0x1003)));
}

TEST(EventLine, UnnamedCodeHasNoName) {
    EXPECT_EQ(L"31/01  9:05:00.120: 0x1043\r\n", S(tovrel::FormatEventLine(Time(31, 1, 9, 5, 0, 120), 0x1043)));
}

TEST(EventLine, CodeInUpperCaseWithoutLeadingZeros) {
    EXPECT_EQ(L" 1/02  0:00:00.000: 0xABCDEF01\r\n", S(tovrel::FormatEventLine(Time(1, 2, 0, 0, 0, 0), 0xABCDEF01)));
    EXPECT_EQ(L" 1/02  0:00:00.000: 0x0\r\n", S(tovrel::FormatEventLine(Time(1, 2, 0, 0, 0, 0), 0)));
}

struct NameCase {
    DWORD code;
    const wchar_t* name;
    tovrel::EventRefresh refresh;
};

class EventNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(EventNameTest, NameAndRefresh) {
    const NameCase& c = GetParam();
    const wchar_t* name = tovrel::EventLogName(c.code);
    if (c.name) {
        ASSERT_NE(nullptr, name) << std::hex << c.code;
        EXPECT_EQ(std::wstring(c.name), std::wstring(name));
        std::wstring line = S(tovrel::FormatEventLine(Time(5, 12, 20, 41, 53, 7), c.code));
        EXPECT_EQ(std::wstring(L" (") + c.name + L")\r\n", line.substr(line.size() - wcslen(c.name) - 5));
    } else {
        EXPECT_EQ(nullptr, name) << std::hex << c.code;
    }
    EXPECT_EQ(static_cast<int>(c.refresh), static_cast<int>(tovrel::RefreshForEvent(c.code))) << std::hex << c.code;
}

using R = tovrel::EventRefresh;
INSTANTIATE_TEST_SUITE_P(
    Table, EventNameTest,
    ::testing::Values(NameCase{0x1001, L"Microphone mute", R::None}, NameCase{0x1002, L"Speaker mute", R::None},
                      NameCase{0x1003, L"Volume Up", R::None}, NameCase{0x1004, L"Volume Down", R::None},
                      NameCase{0x1005, L"Thermal Alert", R::Thermal}, NameCase{0x1010, L"Ambient Light", R::AmbientLight},
                      NameCase{0x1011, L"Brightness", R::None}, NameCase{0x1021, L"Bluetooth", R::None},
                      NameCase{0x1022, L"WIFI", R::None}, NameCase{0x1031, L"CAD", R::None},
                      NameCase{0x1041, L"Battery", R::None}, NameCase{0x1042, L"PC Health", R::None},
                      NameCase{0x1043, nullptr, R::None}, NameCase{0x0, nullptr, R::None},
                      NameCase{0x11003, nullptr, R::None}, NameCase{0xFFFFFFFF, nullptr, R::None}));

TEST(EventLog, EmptiesOnlyWhenTheCounterPassesOneThousand) {
    EXPECT_FALSE(tovrel::LogMustEmpty(1));
    EXPECT_FALSE(tovrel::LogMustEmpty(1000));
    EXPECT_TRUE(tovrel::LogMustEmpty(1001));
}

// A batch ends after 64 events or 15 ms of work (counts at 10 MHz).
struct BatchEndCase {
    size_t events;
    LONGLONG elapsed;
    bool over;
};

void PrintTo(const BatchEndCase& c, std::ostream* os) {
    *os << c.events << "events_" << c.elapsed << "counts";
}

class BatchEndTest : public ::testing::TestWithParam<BatchEndCase> {};

TEST_P(BatchEndTest, CountOrTime) {
    const BatchEndCase& c = GetParam();
    EXPECT_EQ(c.over, tovrel::BatchIsOver(c.events, c.elapsed, 10000000)) << c.events << " events, " << c.elapsed;
}

INSTANTIATE_TEST_SUITE_P(Table, BatchEndTest,
                         ::testing::Values(BatchEndCase{1, 0, false}, BatchEndCase{63, 149999, false},
                                           BatchEndCase{64, 0, true}, BatchEndCase{1, 150000, true},
                                           BatchEndCase{1, 500000, true}));

TEST(EventLog, RegistrationLines) {
    EXPECT_EQ(L"Event callback registered\r\n", S(tovrel::FormatRegistrationLine(0, 0)));
    EXPECT_EQ(L"Failed to register event callback (1234)\r\n", S(tovrel::FormatRegistrationLine(5, 1234)));
    EXPECT_EQ(L"Failed to register event callback (0)\r\n", S(tovrel::FormatRegistrationLine(-1, 0)));
}

TEST(EventLog, TextLimitHoldsRegistrationLineAndThousandAndOneLongestLines) {
    size_t longest = 0;
    for (DWORD code : {0x1001u, 0x1002u, 0x1005u, 0x1042u, 0x1043u, 0xFFFFFFFFu})
        longest = std::max<size_t>(longest, tovrel::FormatEventLine(Time(31, 12, 23, 59, 59, 999), code).GetLength());
    EXPECT_LE(longest, tovrel::kLongestEventLine);
    size_t registration = tovrel::FormatRegistrationLine(1, 0x80000000u).GetLength();
    EXPECT_LE(registration, tovrel::kLongestRegistrationLine);
    // Each event line may be followed by the line of the events dropped after it.
    size_t dropped = tovrel::FormatDroppedLine(0xFFFFFFFFu).GetLength();
    EXPECT_LE(dropped, tovrel::kLongestDroppedLine);
    EXPECT_GE(tovrel::kEventLogTextLimit, registration + 1001 * (longest + dropped));
    // Well above the edit control's default of about 30,000 characters.
    EXPECT_GT(tovrel::kEventLogTextLimit, 32767u);
}

}  // namespace

// ---- the dialog's library calls: nothing nested, a drain asked for inside waits ------

TEST(LibraryGate, DrainAskedForInsideACallRunsWhenTheOutermostEnds) {
    tovrel::LibraryGate gate;
    EXPECT_FALSE(gate.Busy());
    gate.Enter();
    EXPECT_TRUE(gate.Busy());
    gate.DrainWaits();
    gate.Enter();  // a call entered from a message let through (the dialog never does this)
    EXPECT_FALSE(gate.Leave()) << "the inner end is not the outermost";
    EXPECT_TRUE(gate.Busy());
    EXPECT_TRUE(gate.Leave()) << "the drain that waited is due";
    EXPECT_FALSE(gate.Busy());
    gate.Enter();
    EXPECT_FALSE(gate.Leave()) << "no drain waited this time";
    EXPECT_FALSE(gate.Leave()) << "an end without a call changes nothing";
    EXPECT_FALSE(gate.Busy());
}
