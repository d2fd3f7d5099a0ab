// Library call sequences of the ON/OFF and "Set Mode" buttons, driven with
// recording fake entry points.
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "library_trace.h"
#include "panel_sequence.h"

namespace tovrel {
namespace {

// One shared journal of library calls; the fakes answer reads from a queue.
struct FakeLibrary {
    std::deque<LONG> reads;
    std::vector<std::string> calls;
    std::vector<std::string> traces;
};
FakeLibrary* g_lib = nullptr;

LONG WINAPI FakeGet() {
    g_lib->calls.push_back("get");
    if (g_lib->reads.empty()) return static_cast<LONG>(0x80000000u);
    const LONG v = g_lib->reads.front();
    g_lib->reads.pop_front();
    return v;
}

LONG WINAPI FakeSet(LONG value) {
    g_lib->calls.push_back("set " + std::to_string(value));
    return 0;
}

void FakeTrace(const wchar_t* label, const void* data, unsigned count) {
    std::string line(label, label + wcslen(label));
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (unsigned i = 0; i < count; ++i) {
        char hex[4];
        snprintf(hex, sizeof hex, " %02X", bytes[i]);
        line += hex;
    }
    g_lib->traces.push_back(line);
    g_lib->calls.push_back("trace");
}

class SequenceTest : public testing::Test {
protected:
    void SetUp() override { g_lib = &lib; }
    void TearDown() override { g_lib = nullptr; }
    FakeLibrary lib;
};

using Calls = std::vector<std::string>;

struct ToggleRow {
    TwoStateKind kind;
    std::vector<LONG> reads;
    Calls calls;
    LONG rendered;
};

TEST_F(SequenceTest, ToggleCallsSetterWithNewStateAndRendersSecondRead) {
    const ToggleRow rows[] = {
        {TwoStateKind::Radio, {3, 1}, {"get", "set 0", "get"}, 1},
        {TwoStateKind::Radio, {1, 3}, {"get", "set 1", "get"}, 3},
        {TwoStateKind::Led, {3, 1}, {"get", "set 1", "get"}, 1},
        {TwoStateKind::Led, {1, 3}, {"get", "set 0", "get"}, 3},
        {TwoStateKind::Radio, {0x7FFFFFFD, -1}, {"get", "set 1", "get"}, -1},
    };
    for (const ToggleRow& row : rows) {
        lib = FakeLibrary{};
        lib.reads.assign(row.reads.begin(), row.reads.end());
        const LONG shown = RunToggleSequence(row.kind, FakeGet, FakeSet);
        EXPECT_EQ(row.calls, lib.calls) << "first read " << row.reads[0];
        EXPECT_EQ(row.rendered, shown) << "first read " << row.reads[0];
    }
}

TEST_F(SequenceTest, ToggleMakesOneCallWhenReadFailsOrFeatureAbsent) {
    const LONG firsts[] = {-1, static_cast<LONG>(0x80000003u), 2, 0, 0x7FFFFFFE};
    for (TwoStateKind kind : {TwoStateKind::Radio, TwoStateKind::Led}) {
        for (LONG first : firsts) {
            lib = FakeLibrary{};
            lib.reads = {first, 3};
            const LONG shown = RunToggleSequence(kind, FakeGet, FakeSet);
            EXPECT_EQ(Calls{"get"}, lib.calls) << "first read " << first;
            EXPECT_EQ(first, shown);
        }
    }
}

TEST_F(SequenceTest, SetTracesValueThenSetsThenReadsAgain) {
    lib.reads = {1, 5};
    const LONG shown = RunSetSequence(FakeGet, FakeSet, 2, L"Set_FSC_Status", FakeTrace);
    EXPECT_EQ((Calls{"get", "trace", "set 2", "get"}), lib.calls);
    EXPECT_EQ((std::vector<std::string>{"Set_FSC_Status 02 00 00 00"}), lib.traces);
    EXPECT_EQ(5, shown);
}

// Unlike the toggles, bit 0 of the first read is not looked at.
TEST_F(SequenceTest, SetGoesAheadWhenFeatureBitClear) {
    lib.reads = {0x0E, 0x0E};
    RunSetSequence(FakeGet, FakeSet, 3, L"Set_USB_Charge_Status", FakeTrace);
    EXPECT_EQ((Calls{"get", "trace", "set 3", "get"}), lib.calls);
    EXPECT_EQ((std::vector<std::string>{"Set_USB_Charge_Status 03 00 00 00"}), lib.traces);
}

TEST_F(SequenceTest, FailingFirstReadCallsNoSetterAndTracesNothing) {
    for (LONG first : {-1L, static_cast<LONG>(0x80000007u)}) {
        lib = FakeLibrary{};
        lib.reads = {first, 7};
        const LONG shown = RunSetSequence(FakeGet, FakeSet, 1, L"Set_FSC_Status", FakeTrace);
        EXPECT_EQ(Calls{"get"}, lib.calls) << first;
        EXPECT_TRUE(lib.traces.empty()) << first;
        EXPECT_EQ(first, shown);
    }
}

TEST_F(SequenceTest, TraceWordIsFourBytesLowestFirst) {
    TraceWord(FakeTrace, L"Get_FSC_Status", 3);
    TraceWord(FakeTrace, L"Get_USB_Charge_Status", 0x80000000u);
    TraceWord(FakeTrace, L"Get_PC_Health_Status", 0x12345678u);
    EXPECT_EQ((std::vector<std::string>{"Get_FSC_Status 03 00 00 00",
                                        "Get_USB_Charge_Status 00 00 00 80",
                                        "Get_PC_Health_Status 78 56 34 12"}),
              lib.traces);
}

// The lines the dialog writes: the trace line builder of TraceLibraryCall fed
// by the panels' 4-byte words.
std::vector<std::string> g_lines;

void LineSink(const wchar_t* label, const void* data, unsigned count) {
    wchar_t line[kTraceLineChars];
    const size_t len = BuildTraceLine(line, label, data, count);
    g_lines.push_back(std::string(line, line + len));
}

TEST(PanelTraceLines, FourBytesAfterTheLabel) {
    g_lines.clear();
    TraceWord(LineSink, L"Get_FSC_Status", 3);
    TraceWord(LineSink, L"Set_USB_Charge_Status", 2);
    TraceWord(LineSink, L"Get_PC_Health_Status", 0xFFFFFFFFu);
    EXPECT_EQ((std::vector<std::string>{"TOVREL:Get_FSC_Status => 03 00 00 00",
                                        "TOVREL:Set_USB_Charge_Status => 02 00 00 00",
                                        "TOVREL:Get_PC_Health_Status => FF FF FF FF"}),
              g_lines);
}

}  // namespace
}  // namespace tovrel
