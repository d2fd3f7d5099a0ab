// Texts of the health entries.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "health_core.h"

namespace {

std::wstring Details(DWORD status, const std::array<BYTE, 20>& readings) {
    wchar_t text[kHealthTextChars];
    const size_t length = FormatHealthDetails(status, readings.data(), text, kHealthTextChars);
    EXPECT_EQ(wcslen(text), length);
    return text;
}

std::wstring Line(const std::wstring& text, int index) {
    size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = text.find(L'\n', start);
        if (start == std::wstring::npos) return L"(missing)";
        ++start;
    }
    const size_t end = text.find(L'\n', start);
    return text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

const std::array<BYTE, 20> kReadings = {
    40, 0,     // PCH 40.0
    0x2D, 5,   // CPU 45.5
    50, 25,    // VRD 50.25
    30, 1,     // SYS 30.1
    35, 0,     // HDD 35.0
    60, 99,    // GPU 60.99
    0xE8, 3,   // CPUFAN 1000
    0x10, 0x27,  // SYSFAN 10000
    0, 0,      // PWRFAN 0
    0xFF, 0xFF,  // GFXFAN 65535
};

}  // namespace

TEST(SvcHealthDetailsText, WholeTextForDesktop) {
    EXPECT_EQ(std::wstring(L"Error code:4, STATUS=00400001\n"
                           L"  SYSTEM TYPE=Desktop \n"
                           L"  PCH=40.0 CPU=45.5 VRD=50.25\n"
                           L"  SYS=30.1 HDD=35.0 GPU=60.99\n"
                           L"  CPUFAN=1000 SYSFAN=10000 PWRFAN=0 GFXFAN=65535\n"),
              Details(0x00400001, kReadings));
}

struct FirstLinesCase {
    DWORD status;
    const wchar_t* line0;
    const wchar_t* line1;
};
inline void PrintTo(const FirstLinesCase& c, std::ostream* os) { *os << "status" << std::hex << c.status; }
class SvcHealthDetailsHeader : public ::testing::TestWithParam<FirstLinesCase> {};
TEST_P(SvcHealthDetailsHeader, StatusAndSystemType) {
    const std::wstring text = Details(GetParam().status, kReadings);
    EXPECT_EQ(std::wstring(GetParam().line0), Line(text, 0));
    EXPECT_EQ(std::wstring(GetParam().line1), Line(text, 1));
}
INSTANTIATE_TEST_SUITE_P(Cases, SvcHealthDetailsHeader,
    ::testing::Values(FirstLinesCase{0x00400001, L"Error code:4, STATUS=00400001", L"  SYSTEM TYPE=Desktop "},
                      FirstLinesCase{0x00500000, L"Error code:5, STATUS=00500000", L"  SYSTEM TYPE=AIO "},
                      // 11-bit error code: bits 20 to 30, bit 31 not included.
                      FirstLinesCase{0x7FF00001, L"Error code:2047, STATUS=7FF00001", L"  SYSTEM TYPE=Desktop "},
                      FirstLinesCase{0x000FFFFE, L"Error code:0, STATUS=000FFFFE", L"  SYSTEM TYPE=AIO "},
                      FirstLinesCase{0x0010ABCD, L"Error code:1, STATUS=0010ABCD", L"  SYSTEM TYPE=Desktop "}));

struct ReadingCase {
    int offset;
    BYTE low, high;
    int line;
    const wchar_t* expectedPart;
};
inline void PrintTo(const ReadingCase& c, std::ostream* os) { *os << "offset" << c.offset << "_" << int(c.low) << "_" << int(c.high); }
class SvcHealthDetailsReading : public ::testing::TestWithParam<ReadingCase> {};
TEST_P(SvcHealthDetailsReading, Printed) {
    std::array<BYTE, 20> readings{};
    readings[GetParam().offset] = GetParam().low;
    readings[GetParam().offset + 1] = GetParam().high;
    const std::wstring line = Line(Details(0, readings), GetParam().line);
    EXPECT_NE(std::wstring::npos, line.find(GetParam().expectedPart))
        << "line: " << ::testing::PrintToString(line);
}
INSTANTIATE_TEST_SUITE_P(Cases, SvcHealthDetailsReading,
                         ::testing::Values(ReadingCase{2, 0x2D, 0x05, 2, L" CPU=45.5 "},
                                           ReadingCase{2, 0x2D, 0x19, 2, L" CPU=45.25 "},
                                           ReadingCase{0, 255, 255, 2, L"PCH=255.255 "},
                                           ReadingCase{10, 0, 7, 3, L" GPU=0.7"},
                                           ReadingCase{12, 0xFF, 0xFF, 4, L"CPUFAN=65535 "},
                                           ReadingCase{14, 0x01, 0x01, 4, L" SYSFAN=257 "},
                                           ReadingCase{16, 0x00, 0x80, 4, L" PWRFAN=32768 "},
                                           ReadingCase{18, 0x34, 0x12, 4, L" GFXFAN=4660"}));

TEST(SvcHealthDetailsText, BoundedByTheBuffer) {
    wchar_t text[16];
    wmemset(text, L'#', 16);
    FormatHealthDetails(0x00400001, kReadings.data(), text, 16);
    EXPECT_EQ(15u, wcslen(text));
    EXPECT_EQ(std::wstring(L"Error code:4, S"), std::wstring(text));
}

TEST(SvcHealthDetailsText, LongestTextFitsTheBuffer) {
    std::array<BYTE, 20> all{};
    all.fill(255);
    const std::wstring text = Details(0x7FFFFFFF, all);
    EXPECT_LT(text.size(), kHealthTextChars - 1);
    EXPECT_EQ(L'\n', text.back());
}

TEST(SvcHealthChangeText, Codes) {
    EXPECT_EQ(std::wstring(L"Error code:4, System healthy status changed from Green to Red"),
              HealthChangeText(0x1042));
    EXPECT_EQ(std::wstring(L"Error code:5, System healthy status changed from Red to Green"),
              HealthChangeText(0x1043));
    EXPECT_EQ(nullptr, HealthChangeText(0x1005));
    EXPECT_EQ(nullptr, HealthChangeText(0x11042));
}

TEST(SvcServiceEventText, AppendsTwoLineFeeds) {
    wchar_t out[kServiceEventTextChars];
    EXPECT_EQ(5u, FormatServiceEventText(L"abc", out, kServiceEventTextChars));
    EXPECT_EQ(std::wstring(L"abc\n\n"), std::wstring(out));
}

TEST(SvcServiceEventText, PercentSignsAreTakenLiterally) {
    wchar_t out[kServiceEventTextChars];
    FormatServiceEventText(L"100% %s %d %n", out, kServiceEventTextChars);
    EXPECT_EQ(std::wstring(L"100% %s %d %n\n\n"), std::wstring(out));
}

TEST(SvcServiceEventText, OverlongTextIsCutButKeepsBothLineFeeds) {
    std::wstring longText(2000, L'x');
    wchar_t out[kServiceEventTextChars];
    const size_t length = FormatServiceEventText(longText.c_str(), out, kServiceEventTextChars);
    EXPECT_EQ(kServiceEventTextChars - 1, length);
    EXPECT_EQ(length, wcslen(out));
    EXPECT_EQ(L'\n', out[length - 1]);
    EXPECT_EQ(L'\n', out[length - 2]);
    EXPECT_EQ(L'x', out[length - 3]);
}

TEST(SvcServiceEventText, NullTextGivesTheLineFeedsOnly) {
    wchar_t out[8];
    FormatServiceEventText(nullptr, out, 8);
    EXPECT_EQ(std::wstring(L"\n\n"), std::wstring(out));
}
