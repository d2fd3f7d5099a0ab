// The real QEBI.dll loaded in a prefix without the simulated platform: every
// request fails the way callers rely on, and the exports are exactly the
// library's 21 entry points under their plain names.
#include <gtest/gtest.h>
#include <windows.h>

#include <set>
#include <string>

#include "../../testapp/frame/qebi_api.h"

namespace {

std::wstring LibraryPath() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + L"QEBI.dll";
}

class QebiDllNoDevice : public ::testing::Test {
protected:
    void SetUp() override {
        module_ = LoadLibraryW(LibraryPath().c_str());
        ASSERT_NE(nullptr, module_) << "LoadLibraryW error " << GetLastError();
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }
    template <typename T>
    T Entry(const char* name) {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }
    HMODULE module_ = nullptr;
};

const char* const kEntryPoints[] = {
    "Get_Current_WIFI_Ratio_Status", "Set_WIFI_Ratio_Onoff", "Get_Current_BT_Ratio_Status",
    "Set_BT_Ratio_Onoff", "Get_Current_Microphone_Mute_Capability", "Set_Microphone_MuteLED",
    "Get_Current_Volume_Mute_Capability", "Set_Volume_MuteLED", "Get_Ambient_Light",
    "Brightness_Changed_Manually", "Get_Power_Meter", "Get_Thermal_Parameter", "Check_CADS_event",
    "Check_BKIT_event", "QEB_RegisterEventCallback", "QEB_UnregisterEventCallback",
    "Get_USB_Charge_Status", "Set_USB_Charge_Status", "Get_FSC_Status", "Set_FSC_Status",
    "Get_PC_Health_Status",
};

TEST_F(QebiDllNoDevice, ExportsExactlyTheEntryPointsByPlainName) {
    auto base = reinterpret_cast<const BYTE*>(module_);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(0u, dir.VirtualAddress);
    auto exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> got;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        got.insert(reinterpret_cast<const char*>(base + names[i]));
    }
    std::set<std::string> expected(std::begin(kEntryPoints), std::end(kEntryPoints));
    EXPECT_EQ(expected, got);
    EXPECT_EQ(21u, exports->NumberOfFunctions);
}

TEST_F(QebiDllNoDevice, EveryQueryFailsWithoutTheDevice) {
    for (const char* name : {"Get_Current_WIFI_Ratio_Status", "Get_Current_BT_Ratio_Status",
                             "Get_Current_Microphone_Mute_Capability",
                             "Get_Current_Volume_Mute_Capability", "Get_Ambient_Light",
                             "Get_Power_Meter", "Check_CADS_event", "Check_BKIT_event",
                             "Get_USB_Charge_Status", "Get_FSC_Status", "Get_PC_Health_Status",
                             "Brightness_Changed_Manually"}) {
        auto query = Entry<QEB_GET_STATUS>(name);
        ASSERT_NE(nullptr, query) << name;
        EXPECT_EQ(static_cast<LONG>(0x80000000), query()) << name;
    }
}

TEST_F(QebiDllNoDevice, EverySetterFailsWithoutTheDevice) {
    for (const char* name : {"Set_WIFI_Ratio_Onoff", "Set_BT_Ratio_Onoff", "Set_Microphone_MuteLED",
                             "Set_Volume_MuteLED", "Set_USB_Charge_Status", "Set_FSC_Status"}) {
        auto set = Entry<QEB_SET_VALUE>(name);
        ASSERT_NE(nullptr, set) << name;
        EXPECT_EQ(static_cast<LONG>(0x80000000), set(1)) << name;
    }
}

TEST_F(QebiDllNoDevice, FailedThermalReadLeavesTheBufferAlone) {
    auto thermal = Entry<QEB_GET_THERMAL>("Get_Thermal_Parameter");
    ASSERT_NE(nullptr, thermal);
    WORD buffer[10];
    for (WORD& w : buffer) w = 0xBEEF;
    EXPECT_EQ(static_cast<LONG>(0x80000000), thermal(buffer, 10));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(0xBEEF, buffer[i]) << "entry " << i;
}

void WINAPI NeverCalled(DWORD, void*) {}

TEST_F(QebiDllNoDevice, RegisterWithoutCallbackIsAnInvalidParameter) {
    auto reg = Entry<QEB_REGISTER_CALLBACK>("QEB_RegisterEventCallback");
    ASSERT_NE(nullptr, reg);
    SetLastError(0);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, reg(nullptr, this));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());
}

TEST_F(QebiDllNoDevice, RegisterWithoutTheDeviceGivesTheOpenError) {
    auto reg = Entry<QEB_REGISTER_CALLBACK>("QEB_RegisterEventCallback");
    ASSERT_NE(nullptr, reg);
    SetLastError(0);
    LONG r = reg(NeverCalled, this);
    DWORD error = GetLastError();
    EXPECT_NE(0, r);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), error);
}

TEST_F(QebiDllNoDevice, UnregisterOfAnUnknownPairIsNotFound) {
    auto unreg = Entry<QEB_UNREGISTER_CALLBACK>("QEB_UnregisterEventCallback");
    ASSERT_NE(nullptr, unreg);
    SetLastError(0);
    EXPECT_NE(0, unreg(NeverCalled, this));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), GetLastError());
}

TEST(QebiDllLoad, LoadsAndUnloadsRepeatedly) {
    for (int i = 0; i < 20; ++i) {
        HMODULE m = LoadLibraryW(LibraryPath().c_str());
        ASSERT_NE(nullptr, m) << "round " << i << " error " << GetLastError();
        EXPECT_TRUE(FreeLibrary(m)) << "round " << i;
    }
}

}  // namespace
