// Run mode selection from the command line.
#include <gtest/gtest.h>

#include <wctype.h>

#include "qebevent.h"

struct ModeCase {
    const wchar_t* commandLine;
    int mode;
};
inline void PrintTo(const ModeCase& c, std::ostream* os) {
    // Test names stay plain ASCII without blanks or quotes.
    for (const wchar_t* p = c.commandLine; *p; ++p) *os << (iswalnum(*p) || *p == L'-' ? static_cast<char>(*p) : '_');
}
class SvcSelectRunModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(SvcSelectRunModeTest, Mode) {
    EXPECT_EQ(GetParam().mode, SelectRunModeFrom(GetParam().commandLine)) << "command line: " << ::testing::PrintToString(std::wstring(GetParam().commandLine));
}

INSTANTIATE_TEST_SUITE_P(Cases, SvcSelectRunModeTest,
    ::testing::Values(
        ModeCase{L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe", RunModeService},
        ModeCase{L"QEBEvent.exe -HALT", RunModeHalt},
        ModeCase{L"QEBEvent.exe -CAD", RunModeCad},
        ModeCase{L"QEBEvent.exe -VOLUMEUP", RunModeVolumeUp},
        ModeCase{L"QEBEvent.exe -VOLUMEDOWN", RunModeVolumeDown},
        // The search order decides, not the position on the line.
        ModeCase{L"QEBEvent.exe -CAD -HALT", RunModeHalt},
        ModeCase{L"QEBEvent.exe -HALT -CAD", RunModeHalt},
        ModeCase{L"QEBEvent.exe -VOLUMEDOWN -VOLUMEUP", RunModeVolumeUp},
        ModeCase{L"QEBEvent.exe -VOLUMEUP -CAD", RunModeCad},
        // A path that holds a switch selects it without arguments.
        ModeCase{L"\"C:\\tools-CAD\\QEBEvent.exe\"", RunModeCad},
        // Plain substring: no separator needed.
        ModeCase{L"QEBEvent.exe x-VOLUMEDOWNx", RunModeVolumeDown},
        // Lower case is no switch.
        ModeCase{L"QEBEvent.exe -halt", RunModeService},
        ModeCase{L"QEBEvent.exe -VolumeUp", RunModeService},
        ModeCase{L"QEBEvent.exe /HALT", RunModeService},
        ModeCase{L"", RunModeService}));

TEST(SvcSelectRunMode, NullCommandLineIsTheService) { EXPECT_EQ(RunModeService, SelectRunModeFrom(nullptr)); }

TEST(SvcSelectRunMode, ReadsTheProcessCommandLine) {
    // The test binary's own command line holds no switch.
    EXPECT_EQ(SelectRunModeFrom(GetCommandLineW()), SelectRunMode());
    EXPECT_EQ(RunModeService, SelectRunMode());
}
