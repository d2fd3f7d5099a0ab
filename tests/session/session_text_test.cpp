// Pure helpers of the session actions: countdown text, helper command line,
// the policy-value decision and the power flags bit.
#include <climits>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "session_internal.h"

namespace {

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

struct CountdownCase {
    int n;
    const wchar_t* expected;
};

void PrintTo(const CountdownCase& c, std::ostream* os) { *os << "n=" << c.n; }

class CountdownTextTest : public ::testing::TestWithParam<CountdownCase> {};

TEST_P(CountdownTextTest, FormatsSecondsWithPluralOnlyAboveOne) {
    wchar_t text[100];
    ASSERT_TRUE(FormatCountdownText(GetParam().n, text, 100)) << "n=" << GetParam().n;
    EXPECT_EQ(Narrow(GetParam().expected), Narrow(text)) << "n=" << GetParam().n;
}

INSTANTIATE_TEST_SUITE_P(
    Countdown, CountdownTextTest,
    ::testing::Values(CountdownCase{5, L"System will hibernate after 5 seconds."},
                      CountdownCase{4, L"System will hibernate after 4 seconds."},
                      CountdownCase{3, L"System will hibernate after 3 seconds."},
                      CountdownCase{2, L"System will hibernate after 2 seconds."},
                      CountdownCase{1, L"System will hibernate after 1 second."},
                      CountdownCase{0, L"System will hibernate after 0 second."},
                      // Negative values are large when taken as unsigned: plural.
                      CountdownCase{-1, L"System will hibernate after -1 seconds."},
                      CountdownCase{INT_MIN, L"System will hibernate after -2147483648 seconds."},
                      CountdownCase{INT_MAX, L"System will hibernate after 2147483647 seconds."}));

TEST(CountdownText, TruncatesToTheBufferAndTerminates) {
    wchar_t text[12];
    wmemset(text, L'#', 12);
    EXPECT_FALSE(FormatCountdownText(5, text, 12));
    EXPECT_EQ("System will", Narrow(text));
}

TEST(CountdownText, RefusesAnEmptyBuffer) {
    wchar_t text[1] = {L'#'};
    EXPECT_FALSE(FormatCountdownText(5, text, 0));
    EXPECT_EQ(L'#', text[0]);
}

TEST(ResumeNotice, IsTheDocumentedText) {
    EXPECT_EQ("There has been a power loss event, system resume from hibernation.", Narrow(ResumeNoticeText));
}

struct CommandLineCase {
    int mode;
    const wchar_t* expected;  // nullptr: refused
};

void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << "mode=" << c.mode; }

class HelperCommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(HelperCommandLineTest, IsProgramNameBlankAndSwitch) {
    wchar_t line[MAX_PATH];
    wmemset(line, L'#', MAX_PATH);
    bool built = BuildHelperCommandLine(GetParam().mode, line, MAX_PATH);
    if (GetParam().expected == nullptr) {
        EXPECT_FALSE(built) << "mode " << GetParam().mode << " gave " << Narrow(line);
        EXPECT_EQ(L'\0', line[0]) << "mode " << GetParam().mode;
    } else {
        EXPECT_TRUE(built) << "mode " << GetParam().mode;
        EXPECT_EQ(Narrow(GetParam().expected), Narrow(line)) << "mode " << GetParam().mode;
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, HelperCommandLineTest,
                         ::testing::Values(CommandLineCase{1, L"QEBEvent.exe -HALT"},
                                           CommandLineCase{2, L"QEBEvent.exe -CAD"},
                                           CommandLineCase{3, L"QEBEvent.exe -VOLUMEUP"},
                                           CommandLineCase{4, L"QEBEvent.exe -VOLUMEDOWN"},
                                           CommandLineCase{0, nullptr}, CommandLineCase{5, nullptr},
                                           CommandLineCase{-1, nullptr}));

TEST(HelperCommandLine, RefusesABufferTooSmall) {
    wchar_t line[18];  // "QEBEvent.exe -HALT" needs 19 with its terminator
    EXPECT_FALSE(BuildHelperCommandLine(1, line, 18));
    EXPECT_EQ(L'\0', line[0]);
    wchar_t exact[19];
    EXPECT_TRUE(BuildHelperCommandLine(1, exact, 19));
    EXPECT_EQ("QEBEvent.exe -HALT", Narrow(exact));
}

// The policy value: bit 0 (services may generate the sequence) is set, the
// administrator's other bits are kept; anything but a readable 4-byte
// REG_DWORD becomes 1. 0xFFFF marks "left as it is".
struct SasCase {
    long queryResult;
    DWORD type, size, value;
    DWORD written;
};

void PrintTo(const SasCase& c, std::ostream* os) {
    *os << "query=" << c.queryResult << ",type=" << c.type << ",size=" << c.size << ",value=" << c.value;
}

class SasDecisionTest : public ::testing::TestWithParam<SasCase> {};

TEST_P(SasDecisionTest, SetsOnlyBitZero) {
    const SasCase& c = GetParam();
    DWORD toWrite = 0xFFFF;
    const bool write = SasGenerationToWrite(c.queryResult, c.type, c.size, c.value, &toWrite);
    EXPECT_EQ(c.written != 0xFFFF, write);
    EXPECT_EQ(c.written, toWrite);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SasDecisionTest,
    ::testing::Values(SasCase{ERROR_FILE_NOT_FOUND, REG_DWORD, 4, 0, 1},
                      SasCase{ERROR_SUCCESS, REG_DWORD, 4, 0, 1}, SasCase{ERROR_SUCCESS, REG_DWORD, 4, 2, 3},
                      SasCase{ERROR_SUCCESS, REG_DWORD, 4, 1, 0xFFFF}, SasCase{ERROR_SUCCESS, REG_DWORD, 4, 3, 0xFFFF},
                      // Larger data than a DWORD: the read fails.
                      SasCase{ERROR_MORE_DATA, REG_SZ, 12, 1, 1},
                      // Read, but not a REG_DWORD (four bytes that hold 1 or 3).
                      SasCase{ERROR_SUCCESS, REG_BINARY, 4, 1, 1}, SasCase{ERROR_SUCCESS, REG_SZ, 4, 3, 1},
                      SasCase{ERROR_SUCCESS, REG_DWORD, 2, 2, 1}));

struct FlagsCase {
    DWORD flags;
    bool hibernate;
};

void PrintTo(const FlagsCase& c, std::ostream* os) { *os << "flags=0x" << std::hex << c.flags; }

class PowerFlagsDecisionTest : public ::testing::TestWithParam<FlagsCase> {};

TEST_P(PowerFlagsDecisionTest, OnlyBitTwoCounts) {
    EXPECT_EQ(GetParam().hibernate, HibernateRequested(GetParam().flags)) << std::hex << GetParam().flags;
}

INSTANTIATE_TEST_SUITE_P(Flags, PowerFlagsDecisionTest,
                         ::testing::Values(FlagsCase{0x4, true}, FlagsCase{0x3, false}, FlagsCase{0x0, false},
                                           FlagsCase{0x80000000u, false}, FlagsCase{0xFFFFFFFBu, false},
                                           FlagsCase{0x80000004u, true}));

}  // namespace
