#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "library_trace.h"

namespace {

std::wstring Trace(const wchar_t* label, const void* data, unsigned count, size_t* length = nullptr) {
    wchar_t line[tovrel::kTraceLineChars];
    size_t n = tovrel::BuildTraceLine(line, label, data, count);
    if (length) *length = n;
    return std::wstring(line);
}

TEST(TraceLine, CountZeroGivesLabelAndArrowOnly) {
    DWORD value = 3;
    EXPECT_EQ(L"TOVREL:Get_FSC_Status =>", Trace(L"Get_FSC_Status", &value, 0));
}

TEST(TraceLine, FourByteValueLowestByteFirst) {
    DWORD value = 3;
    EXPECT_EQ(L"TOVREL:Get_FSC_Status => 03 00 00 00", Trace(L"Get_FSC_Status", &value, 4));
}

TEST(TraceLine, UpperCaseHexInMemoryOrder) {
    const unsigned char bytes[] = {0xD4, 0xC3, 0xB2, 0xA1, 0x0F};
    size_t length = 0;
    EXPECT_EQ(L"TOVREL:Set_FSC_Status => D4 C3 B2 A1 0F", Trace(L"Set_FSC_Status", bytes, 5, &length));
    EXPECT_EQ(39u, length);
}

TEST(TraceLine, LabelTooLongIsCutAtTheBuffer) {
    std::wstring label(300, L'x');
    DWORD value = 1;
    size_t length = 0;
    std::wstring line = Trace(label.c_str(), &value, 4, &length);
    EXPECT_EQ(tovrel::kTraceLineChars - 1, length);
    EXPECT_EQ(length, line.size());
    EXPECT_EQ(L"TOVREL:xxx", line.substr(0, 10));
    EXPECT_EQ(std::wstring::npos, line.find(L"=>")) << "the arrow does not fit";
}

TEST(TraceLine, OnlyWholeByteGroupsFitNearTheBound) {
    // "TOVREL:" + 240 + " =>" = 250 characters: room for one group of 3.
    std::wstring label(240, L'L');
    const unsigned char bytes[10] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA};
    size_t length = 0;
    std::wstring line = Trace(label.c_str(), bytes, 10, &length);
    EXPECT_EQ(253u, length);
    EXPECT_EQ(L" => 11", line.substr(line.size() - 6));
}

TEST(TraceLine, BufferIsZeroFilledBehindTheLine) {
    wchar_t line[tovrel::kTraceLineChars];
    for (wchar_t& c : line) c = L'#';
    DWORD value = 7;
    size_t n = tovrel::BuildTraceLine(line, L"Get_PC_Health_Status", &value, 4);
    for (size_t i = n; i < tovrel::kTraceLineChars; ++i) ASSERT_EQ(L'\0', line[i]) << "index " << i;
}

}  // namespace
