// "SoftwareSASGeneration" in the machine's policy key: made 1, left alone
// when it already is 1, and not touched at all on the pre-6.x path.
#include <string>

#include <gtest/gtest.h>

#include "session_internal.h"

namespace {

const wchar_t kPolicyKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
const wchar_t kValue[] = L"SoftwareSASGeneration";

class SasPolicyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key_, nullptr));
        RegDeleteValueW(key_, kValue);
        changed_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(nullptr, changed_);
    }
    void TearDown() override {
        if (key_ != nullptr) {
            RegDeleteValueW(key_, kValue);
            RegCloseKey(key_);
        }
        if (changed_ != nullptr) CloseHandle(changed_);
        QueryOsMajorVersion = QueryOsMajorVersionFromSystem;
    }

    void Preset(DWORD type, DWORD value) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, kValue, 0, type, reinterpret_cast<const BYTE*>(&value), 4));
    }
    // Arms a notification for any later write of a value in the key.
    void WatchValues() {
        ResetEvent(changed_);
        ASSERT_EQ(ERROR_SUCCESS, RegNotifyChangeKeyValue(key_, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed_, TRUE));
    }
    bool ValueWritten() { return WaitForSingleObject(changed_, 500) == WAIT_OBJECT_0; }

    // Type and value as stored; type 0 when missing.
    void ReadBack(DWORD* type, DWORD* value) {
        DWORD size = sizeof(*value);
        *value = 0xDEADBEEF;
        if (RegQueryValueExW(key_, kValue, nullptr, type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS)
            *type = 0;
    }

    HKEY key_ = nullptr;
    HANDLE changed_ = nullptr;
};

TEST_F(SasPolicyTest, MissingValueIsWrittenAsDwordOne) {
    WatchValues();
    AllowSoftwareSas();
    EXPECT_TRUE(ValueWritten());
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(1u, value);
}

class SasPolicyRewriteTest : public SasPolicyTest, public ::testing::WithParamInterface<DWORD> {};

TEST_P(SasPolicyRewriteTest, OtherValuesBecomeOne) {
    Preset(REG_DWORD, GetParam());
    WatchValues();
    AllowSoftwareSas();
    EXPECT_TRUE(ValueWritten()) << "preset " << GetParam();
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << "preset " << GetParam();
    EXPECT_EQ(1u, value) << "preset " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Presets, SasPolicyRewriteTest, ::testing::Values(0u, 2u, 3u));

TEST_F(SasPolicyTest, OneIsNotRewritten) {
    Preset(REG_DWORD, 1);
    WatchValues();
    AllowSoftwareSas();
    EXPECT_FALSE(ValueWritten());
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(1u, value);
}

TEST_F(SasPolicyTest, OneStoredAsBinaryKeepsItsType) {
    // Read as four bytes holding 1: the value counts as set and stays as it is.
    Preset(REG_BINARY, 1);
    AllowSoftwareSas();
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(1u, value);
}

TEST_F(SasPolicyTest, BeforeVersionSixNeitherRegistryNorSasIsUsed) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"sas.dll")) << "sas.dll loaded before the test";
    QueryOsMajorVersion = [] { return DWORD{5}; };
    WatchValues();
    SendCtrlAltDel();
    EXPECT_FALSE(ValueWritten());
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(0u, type) << "value appeared with " << value;
    EXPECT_EQ(nullptr, GetModuleHandleW(L"sas.dll"));
}

TEST(OsVersion, SystemQueryReportsAMajorVersion) {
    OSVERSIONINFOW expected = {};
    expected.dwOSVersionInfoSize = sizeof(expected);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ASSERT_TRUE(GetVersionExW(&expected));
#pragma GCC diagnostic pop
    EXPECT_EQ(expected.dwMajorVersion, QueryOsMajorVersionFromSystem());
    EXPECT_EQ(&QueryOsMajorVersionFromSystem, QueryOsMajorVersion) << "product default replaced";
}

}  // namespace
