#include <gtest/gtest.h>

#include <afxwin.h>

#include <string>

namespace {

std::wstring S(const CString& text) { return std::wstring(text.GetString()); }

TEST(CStringFormat, IntegersHexAndWideStrings) {
    CString text;
    text.Format(L"%2d/%02d %s 0x%08X %d", 5, 7, L"wide", 0x13800101u, -12);
    EXPECT_EQ(L" 5/07 wide 0x13800101 -12", S(text));
}

TEST(CStringFormat, StringArgumentIsWideAsInUnicodeMfc) {
    CString text;
    text.Format(L"[%s][%ls]", L"Desktop", L"AIO");
    EXPECT_EQ(L"[Desktop][AIO]", S(text));
}

TEST(CStringFormat, LongResultIsCutAtTheBoundAndTerminated) {
    std::wstring big(CString::kMaxFormatted + 100, L'a');
    CString text;
    text.Format(L"%s", big.c_str());
    EXPECT_EQ(CString::kMaxFormatted - 1, text.GetLength());
    EXPECT_EQ(big.substr(0, CString::kMaxFormatted - 1), S(text));
}

TEST(CStringFormat, AppendFormatKeepsExistingText) {
    CString text(L"CPU:");
    text.AppendFormat(L"%d.%d", 52, 5);
    EXPECT_EQ(L"CPU:52.5", S(text));
}

TEST(CStringFormat, NullFormatGivesEmptyText) {
    CString text(L"old");
    text.Format(nullptr);
    EXPECT_TRUE(text.IsEmpty());
}

struct TrimCase {
    const wchar_t* in;
    const wchar_t* left;
    const wchar_t* right;
    const wchar_t* both;
};

class TrimTest : public ::testing::TestWithParam<TrimCase> {};

TEST_P(TrimTest, TrimsWhiteSpaceOnTheGivenSide) {
    const TrimCase& c = GetParam();
    CString l(c.in), r(c.in), b(c.in);
    EXPECT_EQ(std::wstring(c.left), S(l.TrimLeft()));
    EXPECT_EQ(std::wstring(c.right), S(r.TrimRight()));
    EXPECT_EQ(std::wstring(c.both), S(b.Trim()));
}

INSTANTIATE_TEST_SUITE_P(Table, TrimTest,
                         ::testing::Values(TrimCase{L"", L"", L"", L""}, TrimCase{L"   ", L"", L"", L""},
                                           TrimCase{L"  a b  ", L"a b  ", L"  a b", L"a b"},
                                           TrimCase{L"\t\r\n/wlon\r\n", L"/wlon\r\n", L"\t\r\n/wlon", L"/wlon"},
                                           TrimCase{L"x", L"x", L"x", L"x"}));

TEST(CStringCase, MakeLowerAndUpper) {
    CString text(L"/GetAllStatD 1A");
    EXPECT_EQ(L"/getallstatd 1a", S(text.MakeLower()));
    EXPECT_EQ(L"/GETALLSTATD 1A", S(text.MakeUpper()));
}

TEST(CStringCompare, SignsLikeWcscmp) {
    CString text(L"/wlon");
    EXPECT_EQ(0, text.Compare(L"/wlon"));
    EXPECT_LT(text.Compare(L"/wloo"), 0);
    EXPECT_GT(text.Compare(L"/wlo"), 0);
    EXPECT_NE(0, text.Compare(L"/WLON"));
    EXPECT_EQ(0, text.CompareNoCase(L"/WLON"));
    EXPECT_TRUE(text == L"/wlon");
    EXPECT_TRUE(text != L"/wlof");
}

TEST(CStringBuild, ConcatenationAndLength) {
    CString text;
    EXPECT_TRUE(text.IsEmpty());
    text += L"STATUS";
    text += L':';
    text += CString(L"0x6");
    EXPECT_EQ(10, text.GetLength());
    EXPECT_EQ(L"STATUS:0x6", S(text));
    EXPECT_EQ(L"[STATUS:0x6]", S(L"[" + text + L"]"));
    CString fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty());
    EXPECT_EQ(L"   ", S(CString(L' ', 3)));
}

TEST(CStringParts, LeftMidRightFindAndBounds) {
    CString text(L"PCH:45.0 CPU:52.5");
    EXPECT_EQ(L"PCH", S(text.Left(3)));
    EXPECT_EQ(L"CPU:52.5", S(text.Mid(9)));
    EXPECT_EQ(L"CPU", S(text.Mid(9, 3)));
    EXPECT_EQ(L"52.5", S(text.Right(4)));
    EXPECT_EQ(9, text.Find(L"CPU"));
    EXPECT_EQ(3, text.Find(L':'));
    EXPECT_EQ(12, text.Find(L':', 4));
    EXPECT_EQ(-1, text.Find(L"GPU"));
    EXPECT_EQ(L"", S(text.Mid(100)));
    EXPECT_EQ(L"PCH:45.0 CPU:52.5", S(text.Left(100)));
    EXPECT_EQ(L'\0', text.GetAt(-1));
    EXPECT_EQ(L'P', text[0]);
}

TEST(CStringBuffer, ReleaseBufferTakesLengthFromTerminator) {
    CString text;
    wchar_t* buffer = text.GetBuffer(10);
    wcscpy(buffer, L"abc");
    text.ReleaseBuffer();
    EXPECT_EQ(3, text.GetLength());
    EXPECT_EQ(L"abc", S(text));
}

TEST(CStringLoad, MissingResourceGivesFalseAndEmptyText) {
    CString text(L"old");
    EXPECT_FALSE(text.LoadString(0xBEEF));
    EXPECT_TRUE(text.IsEmpty());
}

}  // namespace
