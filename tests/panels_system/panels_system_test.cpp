// The feature panels of the real Tovrel dialog, end to end: firmware state set
// through the simulated platform's control device, Tovrel.exe started on the
// stand-in QEBI.dll, its controls read and clicked from this process.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "qebsim/client.h"

namespace {

const wchar_t kCaption[] = L"Kestil Desktop BIOS Test Application";
const wchar_t kTovrel[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
const wchar_t kTovrelDir[] = L"C:\\Program Files\\Kestil\\QEB";

// Control ids of the dialog.
enum {
    kWifiStatus = 200, kWifiUpdate = 201, kWifiOnOff = 202,
    kBtStatus = 203, kBtUpdate = 204, kBtOnOff = 205,
    kAmbient = 206, kPower = 208, kThermal = 230,
    kMicStatus = 232, kMicUpdate = 233, kMicOnOff = 234,
    kVolStatus = 235, kVolUpdate = 236, kVolOnOff = 237,
    kUpdateAll = 239, kEventLog = 1024,
    kCadStatus = 1025, kCadUpdate = 1026, kBatteryStatus = 1027, kBatteryUpdate = 1028,
    kUsbS45 = 1029, kUsbS0 = 1030, kUsbUpdate = 1031, kUsbSetMode = 1032,
    kFscList = 1033, kFscUpdate = 1034, kFscSetMode = 1035, kHealthUpdate = 1037,
    kFscStatus = 1038, kUsbStatus = 1039, kHealthStatus = 1040,
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

void SetReadingWords(const uint16_t words[10]) {
    uint8_t bytes[20];
    for (int i = 0; i < 10; ++i) {
        bytes[2 * i] = static_cast<uint8_t>(words[i]);
        bytes[2 * i + 1] = static_cast<uint8_t>(words[i] >> 8);
    }
    ASSERT_TRUE(qebsim::SetReadings(bytes)) << GetLastError();
}

void SetFeature(uint32_t index, int32_t value) {
    ASSERT_TRUE(qebsim::SetFeature(index, value)) << "feature " << index << " error "
                                                  << GetLastError();
}

int32_t Feature(uint32_t index) {
    QEBSIM_STATE state = {};
    EXPECT_TRUE(qebsim::GetState(&state)) << GetLastError();
    return state.features[index];
}

const uint16_t kExampleReadings[10] = {0x002D, 0x0534, 0x0028, 0x0223, 0x0026,
                                       0x0000, 1200, 900, 0, 0};
const uint16_t kSecondReadings[10] = {0x002D, 0x1964, 0x0028, 0x0223, 0x0026,
                                      0x003D, 1200, 65535, 0, 3000};

// A representative firmware: every feature present and readable.
void SetRepresentativeState() {
    SetFeature(QEB_FEAT_WIFI, 3);
    SetFeature(QEB_FEAT_BT, 1);
    SetFeature(QEB_FEAT_MIC_LED, 3);
    SetFeature(QEB_FEAT_VOL_LED, 1);
    SetFeature(QEB_FEAT_AMBIENT_LIGHT, 0x15);
    SetFeature(QEB_FEAT_POWER_METER, 1 | (12 << 2) | (5 << 16));
    SetFeature(QEB_FEAT_THERMAL, 6);
    SetReadingWords(kExampleReadings);
    SetFeature(QEB_FEAT_CAD_SUPPORT, 3);
    SetFeature(QEB_FEAT_BATTERY, 7);
    SetFeature(QEB_FEAT_USB_CHARGE, 0x0F);
    SetFeature(QEB_FEAT_FSC, 3);
    SetFeature(QEB_FEAT_PC_HEALTH, 3);
}

// One running Tovrel.exe and its dialog. With `debug` the process is started
// under this process as its debugger, on a thread of its own, and every
// debugger output string it writes is collected.
class TovrelDialog {
public:
    ~TovrelDialog() {
        Close();
        DeleteCriticalSection(&lock_);
    }

    bool Start(bool debug = false) {
        debug_ = debug;
        started_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (debug) {
            thread_ = CreateThread(nullptr, 0, &TovrelDialog::DebugThread, this, 0, nullptr);
            if (!thread_) return false;
            WaitForSingleObject(started_, 10000);
        } else {
            Launch();
        }
        if (!process_) return false;
        for (int i = 0; i < 200 && !dlg_; ++i) {
            HWND w = FindWindowW(nullptr, kCaption);
            DWORD owner = 0;
            if (w) GetWindowThreadProcessId(w, &owner);
            if (w && owner == pid_ && IsWindowVisible(w)) dlg_ = w;
            else Sleep(50);
        }
        return dlg_ != nullptr;
    }

    void Close() {
        if (dlg_) {
            DWORD_PTR r = 0;
            SendMessageTimeoutW(dlg_, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &r);
            dlg_ = nullptr;
        }
        if (process_) {
            if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) TerminateProcess(process_, 99);
        }
        if (thread_) {
            WaitForSingleObject(thread_, 10000);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        if (process_) {
            CloseHandle(process_);
            process_ = nullptr;
        }
        if (started_) {
            CloseHandle(started_);
            started_ = nullptr;
        }
    }

    // Debugger output strings so far (only with Start(true)).
    std::vector<std::string> DebugOutput() {
        EnterCriticalSection(&lock_);
        std::vector<std::string> copy = output_;
        LeaveCriticalSection(&lock_);
        return copy;
    }

    TovrelDialog() { InitializeCriticalSection(&lock_); }
    TovrelDialog(const TovrelDialog&) = delete;
    TovrelDialog& operator=(const TovrelDialog&) = delete;

    HWND hwnd() const { return dlg_; }

    std::string Text(int id) const {
        wchar_t buf[2048] = {};
        GetDlgItemTextW(dlg_, id, buf, ARRAYSIZE(buf));
        return Narrow(buf);
    }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(dlg_, id)) != FALSE; }
    // A button click as the dialog receives it; returns when handled.
    void Click(int id) const {
        DWORD_PTR r = 0;
        ASSERT_TRUE(SendMessageTimeoutW(dlg_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                        reinterpret_cast<LPARAM>(GetDlgItem(dlg_, id)),
                                        SMTO_NORMAL, 10000, &r))
            << "click " << id;
    }
    int CurSel(int id) const {
        return static_cast<int>(SendMessageW(GetDlgItem(dlg_, id), CB_GETCURSEL, 0, 0));
    }
    void Select(int id, int index) const {
        SendMessageW(GetDlgItem(dlg_, id), CB_SETCURSEL, index, 0);
    }
    // Waits until the event log contains `needle`.
    bool WaitLog(const std::string& needle, DWORD timeoutMs = 5000) const {
        for (DWORD t = 0; t < timeoutMs; t += 20) {
            if (Text(kEventLog).find(needle) != std::string::npos) return true;
            Sleep(20);
        }
        return false;
    }

private:
    void Launch() {
        std::wstring cmd = L"\"" + std::wstring(kTovrel) + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (CreateProcessW(kTovrel, &cmd[0], nullptr, nullptr, FALSE,
                           debug_ ? DEBUG_ONLY_THIS_PROCESS : 0, nullptr, kTovrelDir, &si, &pi)) {
            process_ = pi.hProcess;
            pid_ = pi.dwProcessId;
            CloseHandle(pi.hThread);
        }
        SetEvent(started_);
    }

    static DWORD WINAPI DebugThread(void* param) {
        TovrelDialog* self = static_cast<TovrelDialog*>(param);
        self->Launch();
        if (!self->process_) return 1;
        DEBUG_EVENT ev;
        while (WaitForDebugEvent(&ev, INFINITE)) {
            DWORD cont = DBG_CONTINUE;
            switch (ev.dwDebugEventCode) {
                case OUTPUT_DEBUG_STRING_EVENT:
                    self->Collect(ev.u.DebugString);
                    break;
                case EXCEPTION_DEBUG_EVENT:
                    // Everything but the initial breakpoint goes back to the
                    // program (a wide debug string then comes again as ANSI).
                    if (ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                        cont = DBG_EXCEPTION_NOT_HANDLED;
                    }
                    break;
                case CREATE_PROCESS_DEBUG_EVENT:
                    if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
                    break;
                case LOAD_DLL_DEBUG_EVENT:
                    if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
                    break;
                default:
                    break;
            }
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, cont);
            if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) break;
        }
        return 0;
    }

    void Collect(const OUTPUT_DEBUG_STRING_INFO& info) {
        const size_t chars = info.nDebugStringLength;
        if (chars == 0 || chars > 4096) return;
        std::string text;
        SIZE_T got = 0;
        if (info.fUnicode) {
            std::vector<wchar_t> buf(chars);
            if (!ReadProcessMemory(process_, info.lpDebugStringData, buf.data(),
                                   chars * sizeof(wchar_t), &got)) return;
            for (wchar_t c : buf) if (c) text += static_cast<char>(c);
        } else {
            std::vector<char> buf(chars);
            if (!ReadProcessMemory(process_, info.lpDebugStringData, buf.data(), chars, &got)) return;
            for (char c : buf) if (c) text += c;
        }
        EnterCriticalSection(&lock_);
        output_.push_back(text);
        LeaveCriticalSection(&lock_);
    }

    bool debug_ = false;
    HANDLE started_ = nullptr;
    HANDLE thread_ = nullptr;
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
    HWND dlg_ = nullptr;
    CRITICAL_SECTION lock_;
    std::vector<std::string> output_;
};

class PanelsSystemTest : public testing::Test {
protected:
    void SetUp() override {
        SetRepresentativeState();
        ASSERT_TRUE(dlg.Start()) << "Tovrel dialog did not appear, error " << GetLastError();
    }
    void TearDown() override {
        // Screenshots are taken by the screenshot script while the dialog of a
        // test is open; QEB_PANELS_HOLD_MS keeps it open that long.
        char hold[16] = {};
        if (GetEnvironmentVariableA("QEB_PANELS_HOLD_MS", hold, sizeof hold)) Sleep(atoi(hold));
        dlg.Close();
    }
    TovrelDialog dlg;
};

TEST_F(PanelsSystemTest, StartUpFillsEveryPanelFromTheFirmware) {
    const struct { int id; const char* text; } rows[] = {
        {kWifiStatus, "ON"}, {kWifiOnOff, "OFF"},
        {kBtStatus, "OFF"}, {kBtOnOff, "ON"},
        {kMicStatus, "OFF"}, {kMicOnOff, "ON"},
        {kVolStatus, "ON"}, {kVolOnOff, "OFF"},
        {kAmbient, "10"},
        {kPower, "Desktop 12.5"},
        {kThermal, "STATUS:0x00000006 \r\n  [AIO N/A CPUFAN]\r\nPCH:45.0 CPU:52.5 VRD:40.0\r\n"
                   "SYS:35.2 HDD:38.0 GPU:0.0\r\nCPUFAN:1200 SYSFAN:900  PWRFAN:0\r\nGFXFAN:0"},
        {kCadStatus, "Desktop"},
        {kBatteryStatus, "Desktop BATTERY"},
        {kUsbStatus, "For S4/5 is enabled,mode for S0 is CDP."},
        {kFscStatus, "BT mode"},
        {kHealthStatus, "Yellow mode"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.text, dlg.Text(row.id)) << "control " << row.id;
    for (int id : {kWifiUpdate, kWifiOnOff, kBtUpdate, kBtOnOff, kMicUpdate, kMicOnOff, kVolUpdate,
                   kVolOnOff, kCadUpdate, kBatteryUpdate, kUsbS45, kUsbS0, kUsbSetMode, kFscList,
                   kFscSetMode}) {
        EXPECT_TRUE(dlg.Enabled(id)) << "control " << id;
    }
    // The lists keep their first entries: the readings do not select anything.
    EXPECT_EQ(0, dlg.CurSel(kUsbS45));
    EXPECT_EQ(0, dlg.CurSel(kUsbS0));
    EXPECT_EQ(0, dlg.CurSel(kFscList));
}

TEST_F(PanelsSystemTest, OnOffButtonsSwitchTheFirmwareAndShowTheNewState) {
    dlg.Click(kWifiOnOff);
    EXPECT_EQ(1, Feature(QEB_FEAT_WIFI));  // radio on -> set 0 -> bit 1 cleared
    EXPECT_EQ("OFF", dlg.Text(kWifiStatus));
    EXPECT_EQ("ON", dlg.Text(kWifiOnOff));

    dlg.Click(kBtOnOff);
    EXPECT_EQ(3, Feature(QEB_FEAT_BT));
    EXPECT_EQ("ON", dlg.Text(kBtStatus));

    dlg.Click(kMicOnOff);  // LED "OFF" (bit 1 set) -> set 1 -> "ON"
    EXPECT_EQ(1, Feature(QEB_FEAT_MIC_LED));
    EXPECT_EQ("ON", dlg.Text(kMicStatus));
    EXPECT_EQ("OFF", dlg.Text(kMicOnOff));

    dlg.Click(kVolOnOff);
    EXPECT_EQ(3, Feature(QEB_FEAT_VOL_LED));
    EXPECT_EQ("OFF", dlg.Text(kVolStatus));
}

TEST_F(PanelsSystemTest, AbsentFeatureDisablesButtonsForGood) {
    SetFeature(QEB_FEAT_WIFI, 2);
    dlg.Click(kWifiUpdate);
    EXPECT_EQ("N/A", dlg.Text(kWifiStatus));
    EXPECT_EQ("N/A", dlg.Text(kWifiOnOff));
    EXPECT_FALSE(dlg.Enabled(kWifiUpdate));
    EXPECT_FALSE(dlg.Enabled(kWifiOnOff));

    SetFeature(QEB_FEAT_WIFI, 3);
    dlg.Click(kUpdateAll);
    EXPECT_EQ("ON", dlg.Text(kWifiStatus));
    EXPECT_EQ("OFF", dlg.Text(kWifiOnOff));
    EXPECT_FALSE(dlg.Enabled(kWifiUpdate));
    EXPECT_FALSE(dlg.Enabled(kWifiOnOff));

    SetFeature(QEB_FEAT_CAD_SUPPORT, 1);
    SetFeature(QEB_FEAT_BATTERY, 0);
    dlg.Click(kUpdateAll);
    EXPECT_EQ("Desktop N/A", dlg.Text(kCadStatus));
    EXPECT_EQ("AIO N/A", dlg.Text(kBatteryStatus));
    EXPECT_FALSE(dlg.Enabled(kCadUpdate));
    EXPECT_FALSE(dlg.Enabled(kBatteryUpdate));
    SetFeature(QEB_FEAT_CAD_SUPPORT, 3);
    dlg.Click(kUpdateAll);
    EXPECT_EQ("Desktop", dlg.Text(kCadStatus));
    EXPECT_FALSE(dlg.Enabled(kCadUpdate));
}

TEST_F(PanelsSystemTest, FailedReadsShowFailedAndKeepButtonsUsable) {
    SetFeature(QEB_FEAT_BT, -1);
    SetFeature(QEB_FEAT_AMBIENT_LIGHT, -1);
    SetFeature(QEB_FEAT_THERMAL, -1);
    SetFeature(QEB_FEAT_FSC, -1);
    SetFeature(QEB_FEAT_PC_HEALTH, -1);
    dlg.Click(kUpdateAll);
    EXPECT_EQ("Failed", dlg.Text(kBtStatus));
    EXPECT_EQ("N/A", dlg.Text(kBtOnOff));
    EXPECT_TRUE(dlg.Enabled(kBtUpdate));
    EXPECT_TRUE(dlg.Enabled(kBtOnOff));
    EXPECT_EQ("Failed", dlg.Text(kAmbient));
    EXPECT_EQ("Failed", dlg.Text(kThermal));
    EXPECT_EQ("Failed", dlg.Text(kFscStatus));
    EXPECT_FALSE(dlg.Enabled(kFscList));
    EXPECT_FALSE(dlg.Enabled(kFscSetMode));
    EXPECT_TRUE(dlg.Enabled(kFscUpdate));
    EXPECT_EQ("Failed", dlg.Text(kHealthStatus));
    EXPECT_TRUE(dlg.Enabled(kHealthUpdate));

    // A present feature again: the fan-speed controls follow the reading.
    SetFeature(QEB_FEAT_FSC, 7);
    dlg.Click(kFscUpdate);
    EXPECT_EQ("Invalid", dlg.Text(kFscStatus));
    EXPECT_TRUE(dlg.Enabled(kFscList));
    EXPECT_TRUE(dlg.Enabled(kFscSetMode));
}

TEST_F(PanelsSystemTest, UsbChargeAbsentThenPresentWithoutS0) {
    SetFeature(QEB_FEAT_USB_CHARGE, 0x0E);
    dlg.Click(kUsbUpdate);
    EXPECT_EQ("N/A", dlg.Text(kUsbStatus));
    EXPECT_FALSE(dlg.Enabled(kUsbS45));
    EXPECT_FALSE(dlg.Enabled(kUsbS0));
    EXPECT_FALSE(dlg.Enabled(kUsbSetMode));
    EXPECT_TRUE(dlg.Enabled(kUsbUpdate));

    SetFeature(QEB_FEAT_USB_CHARGE, 3);
    dlg.Click(kUsbUpdate);
    EXPECT_EQ("For S4/5 is enabled,and don't support DCP.", dlg.Text(kUsbStatus));
    EXPECT_TRUE(dlg.Enabled(kUsbS45));
    EXPECT_FALSE(dlg.Enabled(kUsbS0));
    EXPECT_TRUE(dlg.Enabled(kUsbSetMode));
}

TEST_F(PanelsSystemTest, SetModeButtonsWriteTheSelectedModes) {
    dlg.Select(kFscList, 2);  // "Full speed mode"
    dlg.Click(kFscSetMode);
    EXPECT_EQ(5, Feature(QEB_FEAT_FSC));  // mode 2 in bits 1-2, present bit kept
    EXPECT_EQ("Full speed mode", dlg.Text(kFscStatus));
    EXPECT_EQ(2, dlg.CurSel(kFscList));

    dlg.Select(kUsbS45, 0);  // "Disabled "
    dlg.Select(kUsbS0, 1);   // "CDP mode": set value 2
    dlg.Click(kUsbSetMode);
    EXPECT_EQ(0x0D, Feature(QEB_FEAT_USB_CHARGE));
    EXPECT_EQ("For S4/5 is disabled,mode for S0 is CDP.", dlg.Text(kUsbStatus));

    // A refresh does not move the selections to what was read.
    SetFeature(QEB_FEAT_FSC, 3);  // "BT mode"
    dlg.Click(kFscUpdate);
    EXPECT_EQ("BT mode", dlg.Text(kFscStatus));
    EXPECT_EQ(2, dlg.CurSel(kFscList));
    EXPECT_EQ(0, dlg.CurSel(kUsbS45));
    EXPECT_EQ(1, dlg.CurSel(kUsbS0));

    // A failing first read: no setter, "Failed", controls disabled.
    SetFeature(QEB_FEAT_FSC, -1);
    dlg.Select(kFscList, 0);
    dlg.Click(kFscSetMode);
    EXPECT_EQ(-1, Feature(QEB_FEAT_FSC));
    EXPECT_EQ("Failed", dlg.Text(kFscStatus));
    EXPECT_FALSE(dlg.Enabled(kFscList));
    EXPECT_FALSE(dlg.Enabled(kFscSetMode));
}

TEST_F(PanelsSystemTest, EventsRefreshTheirPanelsBeforeTheLogLine) {
    ASSERT_TRUE(dlg.WaitLog("Event callback registered")) << dlg.Text(kEventLog);

    SetFeature(QEB_FEAT_THERMAL, 1);
    SetReadingWords(kSecondReadings);
    ASSERT_TRUE(qebsim::RaiseEvent(0x1005)) << GetLastError();
    ASSERT_TRUE(dlg.WaitLog("0x1005 (Thermal Alert)")) << dlg.Text(kEventLog);
    EXPECT_EQ("STATUS:0x00000001 \r\n  [Desktop]\r\nPCH:45.0   CPU:100.25 VRD:40.0\r\n"
              "SYS:35.2   HDD:38.0   GPU:61.0\r\nCPUFAN:1200  SYSFAN:65535\r\n"
              "PWRFAN:0     GFXFAN:3000",
              dlg.Text(kThermal));

    SetFeature(QEB_FEAT_AMBIENT_LIGHT, (321 << 1) | 1);
    ASSERT_TRUE(qebsim::RaiseEvent(0x1010)) << GetLastError();
    ASSERT_TRUE(dlg.WaitLog("0x1010 (Ambient Light)")) << dlg.Text(kEventLog);
    EXPECT_EQ("321", dlg.Text(kAmbient));

    // Other events refresh nothing.
    SetFeature(QEB_FEAT_AMBIENT_LIGHT, 0x14);
    ASSERT_TRUE(qebsim::RaiseEvent(0x1022)) << GetLastError();
    ASSERT_TRUE(dlg.WaitLog("0x1022 (WIFI)")) << dlg.Text(kEventLog);
    EXPECT_EQ("321", dlg.Text(kAmbient));
}

// The values of the USB, fan-speed and health panels on the debugger output,
// seen as a debugger sees them.
TEST(PanelsTrace, LibraryValuesAreTraced) {
    SetRepresentativeState();
    TovrelDialog dlg;
    ASSERT_TRUE(dlg.Start(true)) << GetLastError();
    dlg.Select(kFscList, 2);
    dlg.Click(kFscSetMode);
    dlg.Close();
    std::vector<std::string> lines;
    for (const std::string& line : dlg.DebugOutput()) {
        if (line.compare(0, 7, "TOVREL:") == 0) lines.push_back(line);
    }
    // Start-up refresh, then the set sequence: set value, re-read.
    const std::vector<std::string> want = {
        "TOVREL:Get_USB_Charge_Status => 0F 00 00 00",
        "TOVREL:Get_FSC_Status => 03 00 00 00",
        "TOVREL:Get_PC_Health_Status => 03 00 00 00",
        "TOVREL:Set_FSC_Status => 02 00 00 00",
        "TOVREL:Get_FSC_Status => 05 00 00 00",
    };
    EXPECT_EQ(want, lines);
}

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
