// Timings of the feature panels, printed as figures:
//  - rendering the thermal text (pure, this process);
//  - reading the twelve features through the stand-in QEBI.dll and rendering
//    them (this process, the simulated firmware behind the library);
//  - one full refresh of the twelve panels of a running Tovrel dialog
//    ("Update All" clicked, measured until the dialog has handled it).
// Run inside a simulated-platform session (scripts/run-system-test.sh).
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "../../testapp/frame/qebi_api.h"
#include "panel_render.h"
#include "qebsim/client.h"
#include "thermal_layout.h"

namespace {

double g_tickUs = 0;

int64_t Now() {
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

void Report(const char* what, std::vector<double> us) {
    std::sort(us.begin(), us.end());
    const size_t n = us.size();
    printf("%-58s runs %5zu  median %9.2f us  p10 %9.2f  p90 %9.2f  max %9.2f\n", what, n,
           us[n / 2], us[n / 10], us[n * 9 / 10], us[n - 1]);
}

volatile size_t g_sink = 0;

void BenchThermalRender(int runs) {
    const uint16_t readings[10] = {0x002D, 0x1964, 0x0028, 0x0223, 0x0026,
                                   0x003D, 1200, 65535, 0, 3000};
    std::vector<double> us;
    for (int i = 0; i < runs; ++i) {
        const int64_t t0 = Now();
        const std::wstring text = tovrel::RenderThermalStatus(0x3D, readings);
        const int64_t t1 = Now();
        g_sink += text.size();
        us.push_back((t1 - t0) * g_tickUs);
    }
    Report("thermal text render (pure)", us);
}

// The twelve render steps on fixed status words, no library.
void BenchPanelRenders(int runs) {
    const uint16_t readings[10] = {0x002D, 0x1964, 0x0028, 0x0223, 0x0026,
                                   0x003D, 1200, 65535, 0, 3000};
    std::vector<double> us;
    for (int r = 0; r < runs; ++r) {
        const int64_t t0 = Now();
        size_t chars = 0;
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Radio, 3).status.size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Radio, 1).status.size();
        chars += tovrel::RenderAmbientLight(0x15).text.size();
        chars += tovrel::RenderPowerMeter(1 | (12 << 2) | (5 << 16)).size();
        chars += tovrel::RenderThermalStatus(0x3D, readings).size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Led, 3).status.size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Led, 1).status.size();
        chars += tovrel::RenderCadSupport(3).text.size();
        chars += tovrel::RenderBatteryStatus(7).text.size();
        chars += tovrel::RenderUsbCharge(0x0F).text.size();
        chars += tovrel::RenderFscStatus(3).text.size();
        chars += tovrel::RenderPcHealth(3).size();
        const int64_t t1 = Now();
        g_sink += chars;
        us.push_back((t1 - t0) * g_tickUs);
    }
    Report("12 panel renders (pure, no library)", us);
}

template <typename T>
T Proc(HMODULE m, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(m, name)));
}

bool BenchLibraryReads(int runs) {
    HMODULE lib = LoadLibraryW(L"C:\\Program Files\\Kestil\\QEB\\QEBI.dll");
    if (!lib) {
        printf("QEBI.dll not loaded (%lu)\n", GetLastError());
        return false;
    }
    const char* const names[] = {"Get_Current_WIFI_Ratio_Status", "Get_Current_BT_Ratio_Status",
                                 "Get_Ambient_Light", "Get_Power_Meter",
                                 "Get_Current_Microphone_Mute_Capability",
                                 "Get_Current_Volume_Mute_Capability", "Check_CADS_event",
                                 "Check_BKIT_event", "Get_USB_Charge_Status", "Get_FSC_Status",
                                 "Get_PC_Health_Status"};
    QEB_GET_STATUS get[11];
    for (int i = 0; i < 11; ++i) {
        get[i] = Proc<QEB_GET_STATUS>(lib, names[i]);
        if (!get[i]) return false;
    }
    QEB_GET_THERMAL thermal = Proc<QEB_GET_THERMAL>(lib, "Get_Thermal_Parameter");
    if (!thermal) return false;
    std::vector<double> us;
    for (int r = 0; r < runs; ++r) {
        const int64_t t0 = Now();
        size_t chars = 0;
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Radio, get[0]()).status.size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Radio, get[1]()).status.size();
        chars += tovrel::RenderAmbientLight(get[2]()).text.size();
        chars += tovrel::RenderPowerMeter(get[3]()).size();
        WORD readings[10] = {};
        const LONG ts = thermal(readings, 10);
        chars += tovrel::RenderThermalStatus(ts, reinterpret_cast<const uint16_t*>(readings)).size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Led, get[4]()).status.size();
        chars += tovrel::RenderTwoState(tovrel::TwoStateKind::Led, get[5]()).status.size();
        chars += tovrel::RenderCadSupport(get[6]()).text.size();
        chars += tovrel::RenderBatteryStatus(get[7]()).text.size();
        chars += tovrel::RenderUsbCharge(get[8]()).text.size();
        chars += tovrel::RenderFscStatus(get[9]()).text.size();
        chars += tovrel::RenderPcHealth(get[10]()).size();
        const int64_t t1 = Now();
        g_sink += chars;
        us.push_back((t1 - t0) * g_tickUs);
    }
    Report("12 library reads + renders (QEBI.dll, simulated firmware)", us);
    return true;
}

bool BenchDialogRefresh(int runs) {
    const wchar_t exe[] = L"C:\\Program Files\\Kestil\\QEB\\Tovrel.exe";
    std::wstring cmd = L"\"" + std::wstring(exe) + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr,
                        L"C:\\Program Files\\Kestil\\QEB", &si, &pi)) {
        printf("Tovrel.exe not started (%lu)\n", GetLastError());
        return false;
    }
    CloseHandle(pi.hThread);
    HWND dlg = nullptr;
    for (int i = 0; i < 200 && !dlg; ++i) {
        HWND w = FindWindowW(nullptr, L"Kestil Desktop BIOS Test Application");
        DWORD owner = 0;
        if (w) GetWindowThreadProcessId(w, &owner);
        if (w && owner == pi.dwProcessId && IsWindowVisible(w)) dlg = w;
        else Sleep(50);
    }
    bool ok = dlg != nullptr;
    if (ok) {
        std::vector<double> us;
        HWND button = GetDlgItem(dlg, 239);
        for (int r = 0; r < runs; ++r) {
            DWORD_PTR result = 0;
            const int64_t t0 = Now();
            SendMessageTimeoutW(dlg, WM_COMMAND, MAKEWPARAM(239, BN_CLICKED),
                                reinterpret_cast<LPARAM>(button), SMTO_NORMAL, 10000, &result);
            const int64_t t1 = Now();
            us.push_back((t1 - t0) * g_tickUs);
        }
        Report("full refresh of the 12 panels (Tovrel \"Update All\")", us);
        DWORD_PTR r = 0;
        SendMessageTimeoutW(dlg, WM_CLOSE, 0, 0, SMTO_NORMAL, 5000, &r);
    } else {
        printf("Tovrel dialog did not appear\n");
    }
    if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 1);
    CloseHandle(pi.hProcess);
    return ok;
}

}  // namespace

int main() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    g_tickUs = 1e6 / static_cast<double>(f.QuadPart);

    // A representative firmware state.
    const int32_t features[QEB_FEATURE_COUNT] = {3, 1, 3, 1, 0x15, 1 | (12 << 2) | (5 << 16),
                                                 0x3D, 3, 7, 0x0F, 3, 3};
    bool ok = true;
    for (uint32_t i = 0; i < QEB_FEATURE_COUNT; ++i) ok = ok && qebsim::SetFeature(i, features[i]);
    const uint8_t readings[20] = {0x2D, 0, 0x64, 0x19, 0x28, 0, 0x23, 0x02, 0x26, 0,
                                  0x3D, 0, 0xB0, 0x04, 0xFF, 0xFF, 0, 0, 0xB8, 0x0B};
    ok = ok && qebsim::SetReadings(readings);
    if (!ok) printf("simulated firmware not reachable (%lu): library figures skipped\n", GetLastError());

    BenchThermalRender(20000);
    BenchPanelRenders(20000);
    if (ok) {
        ok = BenchLibraryReads(1000) && ok;
        ok = BenchDialogRefresh(1000) && ok;
    }
    return ok ? 0 : 1;
}
