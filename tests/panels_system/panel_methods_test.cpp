// The CTORVADlg panel methods on real controls: a CTORVADlg object is bound
// to a window built from an in-memory template with the panel controls, its
// entry-point slots point at recording fakes, and the test reads back the
// controls' texts and enabled states. Needs a display (windows).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "TovrelDlg.h"

namespace {

// ---- fake library -----------------------------------------------------------
// Per feature: a queue of answers for its reads (the last one repeats), and
// one journal of all calls.
std::map<std::string, std::deque<LONG>> g_reads;
std::vector<std::string> g_calls;
WORD g_thermalIn[10];
bool g_thermalWrites = true;
WORD g_thermalOut[10];

LONG Answer(const char* name) {
    std::deque<LONG>& q = g_reads[name];
    if (q.empty()) return static_cast<LONG>(0x80000000u);
    const LONG v = q.front();
    if (q.size() > 1) q.pop_front();
    return v;
}
LONG Next(const char* name) {
    g_calls.push_back(std::string("get ") + name);
    return Answer(name);
}
LONG Set(const char* name, LONG value) {
    g_calls.push_back(std::string("set ") + name + " " + std::to_string(value));
    return 0;
}

#define FAKE_GET(n) LONG WINAPI Fake_##n() { return Next(#n); }
#define FAKE_SET(n) LONG WINAPI Fake_##n(LONG v) { return Set(#n, v); }
FAKE_GET(Wifi) FAKE_SET(SetWifi) FAKE_GET(Bt) FAKE_SET(SetBt)
FAKE_GET(Mic) FAKE_SET(SetMic) FAKE_GET(Vol) FAKE_SET(SetVol)
FAKE_GET(Ambient) FAKE_GET(Power) FAKE_GET(Cad) FAKE_GET(Battery)
FAKE_GET(Usb) FAKE_SET(SetUsb) FAKE_GET(Fsc) FAKE_SET(SetFsc) FAKE_GET(Health)

LONG WINAPI Fake_Thermal(WORD* buffer, LONG count) {
    g_calls.push_back("get Thermal " + std::to_string(count));
    memcpy(g_thermalIn, buffer, sizeof(g_thermalIn));
    if (g_thermalWrites) memcpy(buffer, g_thermalOut, sizeof(g_thermalOut));
    return Answer("Thermal");
}

// ---- the window ---------------------------------------------------------------

struct Item { WORD id; WORD cls; DWORD style; };  // cls: 0x80 button, 0x81 edit, 0x85 combo

const DWORD kEdit = WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL | ES_READONLY;
const DWORD kMulti = WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_READONLY;
const DWORD kButton = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
const DWORD kCombo = WS_CHILD | WS_VISIBLE | CBS_DROPDOWNLIST | WS_VSCROLL;

const Item kItems[] = {
    {200, 0x81, kEdit}, {201, 0x80, kButton}, {202, 0x80, kButton},
    {203, 0x81, kEdit}, {204, 0x80, kButton}, {205, 0x80, kButton},
    {206, 0x81, kEdit}, {207, 0x80, kButton}, {208, 0x81, kEdit}, {209, 0x80, kButton},
    {230, 0x81, kMulti}, {231, 0x80, kButton},
    {232, 0x81, kEdit}, {233, 0x80, kButton}, {234, 0x80, kButton},
    {235, 0x81, kEdit}, {236, 0x80, kButton}, {237, 0x80, kButton},
    {1025, 0x81, kEdit}, {1026, 0x80, kButton}, {1027, 0x81, kEdit}, {1028, 0x80, kButton},
    {1024, 0x81, kMulti}, {1029, 0x85, kCombo}, {1030, 0x85, kCombo}, {1031, 0x80, kButton},
    {1032, 0x80, kButton}, {1033, 0x85, kCombo}, {1034, 0x80, kButton}, {1035, 0x80, kButton},
    {1037, 0x80, kButton}, {1038, 0x81, kEdit}, {1039, 0x81, kEdit}, {1040, 0x81, kEdit},
};

// DLGTEMPLATE + DLGITEMTEMPLATEs, each item DWORD-aligned.
std::vector<WORD> BuildTemplate() {
    std::vector<WORD> t;
    auto dword = [&](DWORD v) { t.push_back(LOWORD(v)); t.push_back(HIWORD(v)); };
    dword(WS_POPUP | WS_CAPTION);  // style
    dword(0);                      // extended style
    t.push_back(static_cast<WORD>(sizeof(kItems) / sizeof(kItems[0])));
    t.push_back(0); t.push_back(0); t.push_back(300); t.push_back(380);
    t.push_back(0); t.push_back(0); t.push_back(0);  // menu, class, title
    int y = 0;
    for (const Item& it : kItems) {
        if (t.size() % 2) t.push_back(0);
        dword(it.style);
        dword(0);
        t.push_back(5); t.push_back(static_cast<WORD>(y)); t.push_back(200); t.push_back(it.cls == 0x85 ? 60 : 12);
        y += 10;
        t.push_back(it.id);
        t.push_back(0xFFFF); t.push_back(it.cls);
        t.push_back(0);  // title
        t.push_back(0);  // creation data
    }
    return t;
}

INT_PTR CALLBACK PlainProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

class PanelMethodsTest : public testing::Test {
protected:
    void SetUp() override {
        g_reads.clear();
        g_calls.clear();
        g_thermalWrites = true;
        memset(g_thermalOut, 0, sizeof(g_thermalOut));
        const std::vector<WORD> tmpl = BuildTemplate();
        hwnd = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(tmpl.data()),
                                          nullptr, PlainProc, 0);
        ASSERT_NE(nullptr, hwnd) << GetLastError();
        dlg.m_hWnd = hwnd;
        dlg.UpdateData(FALSE);  // binds the member controls
        ASSERT_EQ(GetDlgItem(hwnd, 1039), dlg.m_usbChargeStatus.m_hWnd);
        dlg.m_usbChargeS45.AddString(L"Disabled ");
        dlg.m_usbChargeS45.AddString(L"Enabled ");
        dlg.m_usbChargeS0.AddString(L"DCP mode");
        dlg.m_usbChargeS0.AddString(L"CDP mode");
        dlg.m_fscMode.AddString(L"BA mode");
        dlg.m_fscMode.AddString(L"BT mode");
        dlg.m_fscMode.AddString(L"Full speed mode");
        dlg.m_usbChargeS45.SetCurSel(0);
        dlg.m_usbChargeS0.SetCurSel(0);
        dlg.m_fscMode.SetCurSel(0);
        dlg.m_pGet_Current_WIFI_Ratio_Status = Fake_Wifi;
        dlg.m_pSet_WIFI_Ratio_Onoff = Fake_SetWifi;
        dlg.m_pGet_Current_BT_Ratio_Status = Fake_Bt;
        dlg.m_pSet_BT_Ratio_Onoff = Fake_SetBt;
        dlg.m_pGet_Current_Microphone_Mute_Capability = Fake_Mic;
        dlg.m_pSet_Microphone_MuteLED = Fake_SetMic;
        dlg.m_pGet_Current_Volume_Mute_Capability = Fake_Vol;
        dlg.m_pSet_Volume_MuteLED = Fake_SetVol;
        dlg.m_pGet_Ambient_Light = Fake_Ambient;
        dlg.m_pGet_Power_Meter = Fake_Power;
        dlg.m_pGet_Thermal_Parameter = Fake_Thermal;
        dlg.m_pCheck_CADS_event = Fake_Cad;
        dlg.m_pCheck_BKIT_event = Fake_Battery;
        dlg.m_pGet_USB_Charge_Status = Fake_Usb;
        dlg.m_pSet_USB_Charge_Status = Fake_SetUsb;
        dlg.m_pGet_FSC_Status = Fake_Fsc;
        dlg.m_pSet_FSC_Status = Fake_SetFsc;
        dlg.m_pGet_PC_Health_Status = Fake_Health;
    }
    void TearDown() override {
        if (hwnd) DestroyWindow(hwnd);
        dlg.m_hWnd = nullptr;
    }

    std::string Text(int id) const {
        wchar_t buf[1024] = {};
        GetDlgItemTextW(hwnd, id, buf, ARRAYSIZE(buf));
        return std::string(buf, buf + wcslen(buf));
    }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(hwnd, id)) != FALSE; }

    CTORVADlg dlg;
    HWND hwnd = nullptr;
};

using Calls = std::vector<std::string>;

TEST_F(PanelMethodsTest, RadioAndLedTextsAndCaptions) {
    struct Row { void (CTORVADlg::*update)(); const char* feature; int edit, onOff; LONG status;
                 const char* text; const char* caption; };
    const Row rows[] = {
        {&CTORVADlg::UpdateWifiStatus, "Wifi", 200, 202, 3, "ON", "OFF"},
        {&CTORVADlg::UpdateWifiStatus, "Wifi", 200, 202, 1, "OFF", "ON"},
        {&CTORVADlg::UpdateBtStatus, "Bt", 203, 205, 3, "ON", "OFF"},
        {&CTORVADlg::UpdateMicrophoneLed, "Mic", 232, 234, 3, "OFF", "ON"},
        {&CTORVADlg::UpdateMicrophoneLed, "Mic", 232, 234, 1, "ON", "OFF"},
        {&CTORVADlg::UpdateVolumeLed, "Vol", 235, 237, 1 | 0x7FFFFFFC, "ON", "OFF"},
        {&CTORVADlg::UpdateVolumeLed, "Vol", 235, 237, static_cast<LONG>(0x80000003u), "Failed", "N/A"},
    };
    for (const Row& r : rows) {
        g_reads[r.feature] = {r.status};
        (dlg.*r.update)();
        EXPECT_EQ(r.text, Text(r.edit)) << r.feature << " " << r.status;
        EXPECT_EQ(r.caption, Text(r.onOff)) << r.feature << " " << r.status;
        EXPECT_TRUE(Enabled(r.onOff)) << r.feature << " " << r.status;
    }
}

TEST_F(PanelMethodsTest, AbsentFeatureDisablesButtonsAndTheyStayDisabled) {
    g_reads["Bt"] = {2};
    dlg.UpdateBtStatus();
    EXPECT_EQ("N/A", Text(203));
    EXPECT_EQ("N/A", Text(205));
    EXPECT_FALSE(Enabled(204));
    EXPECT_FALSE(Enabled(205));
    g_reads["Bt"] = {3};
    dlg.UpdateBtStatus();
    EXPECT_EQ("ON", Text(203));
    EXPECT_EQ("OFF", Text(205));
    EXPECT_FALSE(Enabled(204));
    EXPECT_FALSE(Enabled(205));
    // The other radio is untouched.
    EXPECT_TRUE(Enabled(201));
    EXPECT_TRUE(Enabled(202));
}

TEST_F(PanelMethodsTest, TogglesSetTheOtherStateAndShowTheReRead) {
    struct Row { void (CTORVADlg::*toggle)(); const char* feature; const char* setter; LONG first, second;
                 const char* text; };
    const Row rows[] = {
        {&CTORVADlg::ToggleWifi, "Wifi", "SetWifi", 3, 1, "OFF"},
        {&CTORVADlg::ToggleWifi, "Wifi", "SetWifi", 1, 3, "ON"},
        {&CTORVADlg::ToggleBt, "Bt", "SetBt", 1, 3, "ON"},
        {&CTORVADlg::ToggleMicrophoneLed, "Mic", "SetMic", 3, 1, "ON"},
        {&CTORVADlg::ToggleMicrophoneLed, "Mic", "SetMic", 1, 3, "OFF"},
        {&CTORVADlg::ToggleVolumeLed, "Vol", "SetVol", 3, 1, "ON"},
    };
    const int edits[] = {200, 200, 203, 232, 232, 235};
    int i = 0;
    for (const Row& r : rows) {
        g_calls.clear();
        g_reads[r.feature] = {r.first, r.second};
        (dlg.*r.toggle)();
        const bool radio = std::string(r.feature) == "Wifi" || std::string(r.feature) == "Bt";
        const int bit1 = (r.first >> 1) & 1;
        const int arg = radio ? !bit1 : bit1;
        const Calls want = {std::string("get ") + r.feature,
                            std::string("set ") + r.setter + " " + std::to_string(arg),
                            std::string("get ") + r.feature};
        EXPECT_EQ(want, g_calls) << r.feature << " from " << r.first;
        EXPECT_EQ(r.text, Text(edits[i++])) << r.feature << " from " << r.first;
    }
}

TEST_F(PanelMethodsTest, ToggleMakesOneCallWhenFirstReadFailsOrFindsNothing) {
    for (LONG first : {-1L, 2L, 0L}) {
        g_calls.clear();
        g_reads["Mic"] = {first, 3};
        dlg.ToggleMicrophoneLed();
        EXPECT_EQ(Calls{"get Mic"}, g_calls) << first;
    }
}

TEST_F(PanelMethodsTest, SensorTexts) {
    g_reads["Ambient"] = {0x15};
    dlg.UpdateAmbientLight();
    EXPECT_EQ("10", Text(206));
    g_reads["Ambient"] = {0x14};
    dlg.UpdateAmbientLight();
    EXPECT_EQ("N/A", Text(206));
    g_reads["Power"] = {3};
    dlg.UpdatePowerMeter();
    EXPECT_EQ("DesktopN/A 0.0", Text(208));

    const WORD readings[10] = {0x002D, 0x0534, 0x0028, 0x0223, 0x0026, 0x0000, 1200, 900, 0, 0};
    memcpy(g_thermalOut, readings, sizeof(readings));
    g_reads["Thermal"] = {6};
    g_calls.clear();
    dlg.UpdateThermalStatus();
    EXPECT_EQ(Calls{"get Thermal 10"}, g_calls);
    EXPECT_EQ("STATUS:0x00000006 \r\n  [AIO N/A CPUFAN]\r\nPCH:45.0 CPU:52.5 VRD:40.0\r\n"
              "SYS:35.2 HDD:38.0 GPU:0.0\r\nCPUFAN:1200 SYSFAN:900  PWRFAN:0\r\nGFXFAN:0",
              Text(230));
}

// Leaves a recognisable pattern on the stack below the caller's frame.
__attribute__((noinline)) void DirtyStack() {
    volatile unsigned char junk[4096];
    for (unsigned i = 0; i < sizeof(junk); ++i) junk[i] = 0xA5;
}

TEST_F(PanelMethodsTest, ThermalBufferIsClearedBeforeTheLibraryCall) {
    g_thermalWrites = false;  // a library that reports success but writes nothing
    g_reads["Thermal"] = {1};
    DirtyStack();
    dlg.UpdateThermalStatus();
    for (int i = 0; i < 10; ++i) EXPECT_EQ(0, g_thermalIn[i]) << "entry " << i;
    EXPECT_EQ("STATUS:0x00000001 \r\n  [Desktop]\r\nPCH:0.0 CPU:0.0 VRD:0.0 SYS:0.0\r\n"
              "HDD:0.0 GPU:0.0\r\nCPUFAN:0 SYSFAN:0 PWRFAN:0\r\nGFXFAN:0",
              Text(230));
}

TEST_F(PanelMethodsTest, CadAndBatteryDisableTheirUpdateButtonsForGood) {
    g_reads["Cad"] = {1};
    g_reads["Battery"] = {0};
    dlg.UpdateCadSupport();
    dlg.UpdateBatteryStatus();
    EXPECT_EQ("Desktop N/A", Text(1025));
    EXPECT_EQ("AIO N/A", Text(1027));
    EXPECT_FALSE(Enabled(1026));
    EXPECT_FALSE(Enabled(1028));
    g_reads["Cad"] = {3};
    g_reads["Battery"] = {7};
    dlg.UpdateCadSupport();
    dlg.UpdateBatteryStatus();
    EXPECT_EQ("Desktop", Text(1025));
    EXPECT_EQ("Desktop BATTERY", Text(1027));
    EXPECT_FALSE(Enabled(1026));
    EXPECT_FALSE(Enabled(1028));
}

TEST_F(PanelMethodsTest, UsbAndFscControlsFollowEveryReading) {
    g_reads["Usb"] = {0x0E};
    dlg.UpdateUsbCharge();
    EXPECT_EQ("N/A", Text(1039));
    for (int id : {1029, 1030, 1032}) EXPECT_FALSE(Enabled(id)) << id;
    g_reads["Usb"] = {3};
    dlg.UpdateUsbCharge();
    EXPECT_EQ("For S4/5 is enabled,and don't support DCP.", Text(1039));
    EXPECT_TRUE(Enabled(1029));
    EXPECT_FALSE(Enabled(1030));
    EXPECT_TRUE(Enabled(1032));
    g_reads["Usb"] = {0x0F};
    dlg.UpdateUsbCharge();
    EXPECT_EQ("For S4/5 is enabled,mode for S0 is CDP.", Text(1039));
    for (int id : {1029, 1030, 1032}) EXPECT_TRUE(Enabled(id)) << id;

    g_reads["Fsc"] = {-1};
    dlg.UpdateFscStatus();
    EXPECT_EQ("Failed", Text(1038));
    EXPECT_FALSE(Enabled(1033));
    EXPECT_FALSE(Enabled(1035));
    g_reads["Fsc"] = {7};
    dlg.UpdateFscStatus();
    EXPECT_EQ("Invalid", Text(1038));
    EXPECT_TRUE(Enabled(1033));
    EXPECT_TRUE(Enabled(1035));

    g_reads["Health"] = {1};
    dlg.UpdatePcHealth();
    EXPECT_EQ("Green mode", Text(1040));
    EXPECT_TRUE(Enabled(1037));
}

TEST_F(PanelMethodsTest, SetModesPassTheSelectedValues) {
    struct Row { int s45, s0; LONG value; };
    for (const Row& r : {Row{1, 1, 3}, Row{0, 1, 2}, Row{1, 0, 1}}) {
        g_calls.clear();
        g_reads["Usb"] = {0x0F};
        dlg.m_usbChargeS45.SetCurSel(r.s45);
        dlg.m_usbChargeS0.SetCurSel(r.s0);
        dlg.SetUsbChargeMode();
        EXPECT_EQ((Calls{"get Usb", "set SetUsb " + std::to_string(r.value), "get Usb"}), g_calls);
        EXPECT_EQ(r.s45, dlg.m_usbChargeS45.GetCurSel());
        EXPECT_EQ(r.s0, dlg.m_usbChargeS0.GetCurSel());
    }
    g_calls.clear();
    g_reads["Fsc"] = {1, 5};
    dlg.m_fscMode.SetCurSel(2);
    dlg.SetFscMode();
    EXPECT_EQ((Calls{"get Fsc", "set SetFsc 2", "get Fsc"}), g_calls);
    EXPECT_EQ("Full speed mode", Text(1038));
    // The reading does not move the selection.
    g_reads["Fsc"] = {3};
    dlg.UpdateFscStatus();
    EXPECT_EQ("BT mode", Text(1038));
    EXPECT_EQ(2, dlg.m_fscMode.GetCurSel());
}

TEST_F(PanelMethodsTest, SetModeWithFailingFirstReadCallsNoSetter) {
    g_reads["Fsc"] = {-1};
    dlg.m_fscMode.SetCurSel(2);
    dlg.SetFscMode();
    EXPECT_EQ(Calls{"get Fsc"}, g_calls);
    EXPECT_EQ("Failed", Text(1038));
    EXPECT_FALSE(Enabled(1033));
    EXPECT_FALSE(Enabled(1035));
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
