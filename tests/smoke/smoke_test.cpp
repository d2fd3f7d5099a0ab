#include <gtest/gtest.h>
#include <windows.h>
TEST(Smoke, WideCharIsTwoBytes) { EXPECT_EQ(2u, sizeof(wchar_t)); }
TEST(Smoke, RunsUnderWine) { EXPECT_NE(nullptr, GetModuleHandleW(L"kernel32.dll")); }
