// Entry points of the stand-in platform feature library QEBI.dll.
//
// Queries read a feature status word of the simulated firmware (KSMI function
// 0x10 + feature index) and return it unchanged; setters send KSMI
// 0x20 + feature index with the value and return 0 or 0x80000000 from the
// firmware's answer. Any failed request gives 0x80000000.
#include <windows.h>

#include <stdint.h>

#include "callback_table.h"
#include "qebi_device.h"
#include "qebi_events.h"
#include "qebi_frame.h"
#include "qebisim/protocol.h"

namespace {

// Every entry point runs inside one qebi::EntryPointScope (the callback pair
// takes theirs in qebi_events.cpp).

// A reading entry point of a real library may take tens of milliseconds (an
// embedded controller answers slowly), and one built on COM or WMI lets
// window messages through while it waits. Tests choose either under
// HKLM\Software\QEBSim\QEBI, read at every call: ReadDelayMs (DWORD) is the
// time each reading call takes after its request was answered, ReadPumps
// (DWORD, not 0) makes that wait dispatch every message of the calling
// thread, posted ones included, as a COM modal loop does.
DWORD SettingOf(const wchar_t* name) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\QEBSim\\QEBI", name, RRF_RT_REG_DWORD, nullptr, &value,
                     &size) != ERROR_SUCCESS)
        return 0;
    return value;
}

void SlowRead() {
    const DWORD delayMs = SettingOf(L"ReadDelayMs");
    if (delayMs == 0) return;
    if (SettingOf(L"ReadPumps") == 0) {
        Sleep(delayMs);
        return;
    }
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= delayMs) return;
        MsgWaitForMultipleObjectsEx(0, nullptr, delayMs - elapsed, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // For the caller's own loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

LONG ReadFeature(uint32_t index) {
    qebi::EntryPointScope scope;
    uint8_t answer[4] = {};
    bool ok = qebi::SendKsmi(static_cast<uint16_t>(QEB_KSMI_READ_FEATURE(index)), nullptr, 0,
                             answer, sizeof(answer));
    SlowRead();
    uint32_t word = 0;
    qebi::ReadWord(answer, sizeof(answer), 0, &word);
    return qebi::QueryResult(ok, word);
}

LONG SetFeature(uint32_t index, LONG value) {
    qebi::EntryPointScope scope;
    uint8_t request[4];
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) request[i] = static_cast<uint8_t>(v >> (8 * i));
    uint8_t answer[4] = {};
    bool ok = qebi::SendKsmi(static_cast<uint16_t>(QEB_KSMI_SET_FEATURE(index)), request,
                             sizeof(request), answer, sizeof(answer));
    uint32_t word = 0;
    qebi::ReadWord(answer, sizeof(answer), 0, &word);
    return qebi::SetterResult(ok, word);
}

}  // namespace

extern "C" {

LONG WINAPI Get_Current_WIFI_Ratio_Status(void) { return ReadFeature(QEB_FEAT_WIFI); }
LONG WINAPI Set_WIFI_Ratio_Onoff(LONG value) { return SetFeature(QEB_FEAT_WIFI, value); }
LONG WINAPI Get_Current_BT_Ratio_Status(void) { return ReadFeature(QEB_FEAT_BT); }
LONG WINAPI Set_BT_Ratio_Onoff(LONG value) { return SetFeature(QEB_FEAT_BT, value); }
LONG WINAPI Get_Current_Microphone_Mute_Capability(void) { return ReadFeature(QEB_FEAT_MIC_LED); }
LONG WINAPI Set_Microphone_MuteLED(LONG value) { return SetFeature(QEB_FEAT_MIC_LED, value); }
LONG WINAPI Get_Current_Volume_Mute_Capability(void) { return ReadFeature(QEB_FEAT_VOL_LED); }
LONG WINAPI Set_Volume_MuteLED(LONG value) { return SetFeature(QEB_FEAT_VOL_LED, value); }
LONG WINAPI Get_Ambient_Light(void) { return ReadFeature(QEB_FEAT_AMBIENT_LIGHT); }

LONG WINAPI Brightness_Changed_Manually(void) {
    qebi::EntryPointScope scope;
    bool ok = qebi::SendKsmi(static_cast<uint16_t>(QEB_KSMI_BRIGHTNESS), nullptr, 0, nullptr, 0);
    return ok ? 0 : qebi::kFailed;
}

LONG WINAPI Get_Power_Meter(void) { return ReadFeature(QEB_FEAT_POWER_METER); }

// Fills min(count, 10) entries of buffer with the thermal reading set and
// returns the thermal status word. A failed request fills nothing.
LONG WINAPI Get_Thermal_Parameter(WORD* buffer, LONG count) {
    qebi::EntryPointScope scope;
    uint8_t answer[4 + qebi::kThermalReadingBytes] = {};
    bool ok = qebi::SendKsmi(static_cast<uint16_t>(QEB_KSMI_READ_FEATURE(QEB_FEAT_THERMAL)),
                             nullptr, 0, answer, sizeof(answer));
    SlowRead();
    if (!ok) return qebi::kFailed;
    uint32_t word = 0;
    qebi::ReadWord(answer, sizeof(answer), 0, &word);
    qebi::CopyThermalReadings(reinterpret_cast<uint16_t*>(buffer), count, answer + 4);
    return qebi::QueryResult(true, word);
}

LONG WINAPI Check_CADS_event(void) { return ReadFeature(QEB_FEAT_CAD_SUPPORT); }
LONG WINAPI Check_BKIT_event(void) { return ReadFeature(QEB_FEAT_BATTERY); }

LONG WINAPI QEB_RegisterEventCallback(qebi::EventCallback callback, void* context) {
    return static_cast<LONG>(qebi::RegisterEventCallback(callback, context));
}

LONG WINAPI QEB_UnregisterEventCallback(qebi::EventCallback callback, void* context) {
    return static_cast<LONG>(qebi::UnregisterEventCallback(callback, context));
}

LONG WINAPI Get_USB_Charge_Status(void) { return ReadFeature(QEB_FEAT_USB_CHARGE); }
LONG WINAPI Set_USB_Charge_Status(LONG value) { return SetFeature(QEB_FEAT_USB_CHARGE, value); }
LONG WINAPI Get_FSC_Status(void) { return ReadFeature(QEB_FEAT_FSC); }
LONG WINAPI Set_FSC_Status(LONG value) { return SetFeature(QEB_FEAT_FSC, value); }
LONG WINAPI Get_PC_Health_Status(void) { return ReadFeature(QEB_FEAT_PC_HEALTH); }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return qebi::EventsAttach() ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        qebi::EventsDetach(reserved != nullptr);
        // At process exit the system closes it.
        if (reserved == nullptr) qebi::CloseRequestDevice();
        break;
    default:
        break;
    }
    return TRUE;
}

}  // extern "C"
