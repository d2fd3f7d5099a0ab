// Ambient light, power meter and thermal panels: read-only, each an edit box
// and an "Update" button; they never enable or disable a control.
#include "../frame/TovrelDlg.h"

#include <cstdint>
#include <string>

#include "panel_apply.h"
#include "thermal_layout.h"

void CTORVADlg::ShowAmbientLight(LONG status) {
    const tovrel::AmbientView view = tovrel::RenderAmbientLight(status);
    if (view.numeric) {
        SetDlgItemInt(IDC_AMBIENT_LIGHT, static_cast<UINT>(view.value), TRUE);
    } else {
        SetDlgItemText(IDC_AMBIENT_LIGHT, view.text.c_str());
    }
}

void CTORVADlg::ShowPowerMeter(LONG status) {
    SetDlgItemText(IDC_POWER_METER, tovrel::RenderPowerMeter(status).c_str());
}

void CTORVADlg::ShowThermalStatus(LONG status, const WORD* readings) {
    static_assert(sizeof(WORD) == sizeof(std::uint16_t), "readings are 16-bit words");
    const std::wstring text =
        tovrel::RenderThermalStatus(status, reinterpret_cast<const std::uint16_t*>(readings));
    m_thermalStatus.SetWindowText(text.c_str());
}

void CTORVADlg::UpdateAmbientLight() {
    ShowAmbientLight(tovrel::ReadStatus(m_pGet_Ambient_Light));
}

void CTORVADlg::UpdatePowerMeter() {
    ShowPowerMeter(tovrel::ReadStatus(m_pGet_Power_Meter));
}

void CTORVADlg::UpdateThermalStatus() {
    // Cleared first: a library that succeeds without writing every entry must
    // not make the panel show whatever the stack held.
    WORD readings[tovrel::kThermalReadingCount] = {};
    LONG status = tovrel::kReadFailed;
    if (m_pGet_Thermal_Parameter) {
        status = m_pGet_Thermal_Parameter(readings, tovrel::kThermalReadingCount);
    }
    ShowThermalStatus(status, readings);
}
