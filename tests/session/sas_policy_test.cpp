// "SoftwareSASGeneration" as the service writes it: bit 0 set, the other bits
// kept, left alone when bit 0 is already set, and not touched at all on the
// pre-6.x path. The service's policy location points at a key of the test
// user's own, so the tests never change a machine's policy.
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "service_seams.h"
#include "session_internal.h"

namespace {

const wchar_t kPolicyKey[] = L"Software\\QEBTest\\Policies\\System";
const wchar_t kValue[] = L"SoftwareSASGeneration";

class SasPolicyTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = SasPolicyKey;
        SasPolicyKey = {HKEY_CURRENT_USER, kPolicyKey};
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kPolicyKey, 0, nullptr, 0, KEY_ALL_ACCESS,
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
        SasPolicyKey = saved_;
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
    RegistryLocation saved_ = {};
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

struct RewriteCase {
    DWORD presetType, preset;
    bool written;
    DWORD value;  // as stored afterwards, as a REG_DWORD
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << "type" << c.presetType << "_value" << c.preset; }

class SasPolicyRewriteTest : public SasPolicyTest, public ::testing::WithParamInterface<RewriteCase> {};

TEST_P(SasPolicyRewriteTest, SetsBitZeroAndKeepsTheOthers) {
    const RewriteCase& c = GetParam();
    Preset(c.presetType, c.preset);
    WatchValues();
    AllowSoftwareSas();
    EXPECT_EQ(c.written, ValueWritten()) << "preset " << c.preset;
    DWORD type, value;
    ReadBack(&type, &value);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type) << "preset " << c.preset;
    EXPECT_EQ(c.value, value) << "preset " << c.preset;
}

INSTANTIATE_TEST_SUITE_P(Presets, SasPolicyRewriteTest,
                         ::testing::Values(RewriteCase{REG_DWORD, 0, true, 1}, RewriteCase{REG_DWORD, 2, true, 3},
                                           RewriteCase{REG_DWORD, 1, false, 1}, RewriteCase{REG_DWORD, 3, false, 3},
                                           // Four bytes holding 1, but not a REG_DWORD.
                                           RewriteCase{REG_BINARY, 1, true, 1}));

TEST(SasPolicyLocation, ProductWritesTheMachinePolicyKey) {
    EXPECT_EQ(HKEY_LOCAL_MACHINE, SasPolicyKey.root);
    EXPECT_STREQ(L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", SasPolicyKey.path);
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
