// CAD support, battery, USB charge, fan-speed-control and PC health panels.
// The last three trace every library value they read or write. The USB and
// fan-speed lists and "Set Mode" buttons follow each reading; the CAD and
// battery "Update" buttons, once disabled, stay disabled. No refresh changes
// a list's selection.
#include "../frame/TovrelDlg.h"

#include "../frame/library_trace.h"

#include "panel_apply.h"
#include "panel_sequence.h"

namespace {

const wchar_t kGetUsbLabel[] = L"Get_USB_Charge_Status";
const wchar_t kSetUsbLabel[] = L"Set_USB_Charge_Status";
const wchar_t kGetFscLabel[] = L"Get_FSC_Status";
const wchar_t kSetFscLabel[] = L"Set_FSC_Status";
const wchar_t kGetHealthLabel[] = L"Get_PC_Health_Status";

void Trace(const wchar_t* label, const void* data, unsigned count) {
    TraceLibraryCall(label, data, count);
}

}  // namespace

void CTORVADlg::ShowCadSupport(LONG status) {
    const tovrel::TypedView view = tovrel::RenderCadSupport(status);
    tovrel::ApplyChange(*this, IDC_CAD_UPDATE, view.updateButton);
    SetDlgItemText(IDC_CAD_STATUS, view.text.c_str());
}

void CTORVADlg::ShowBatteryStatus(LONG status) {
    const tovrel::TypedView view = tovrel::RenderBatteryStatus(status);
    tovrel::ApplyChange(*this, IDC_BATTERY_UPDATE, view.updateButton);
    SetDlgItemText(IDC_BATTERY_STATUS, view.text.c_str());
}

void CTORVADlg::ShowUsbCharge(LONG status) {
    tovrel::TraceWord(Trace, kGetUsbLabel, static_cast<std::uint32_t>(status));
    const tovrel::UsbChargeView view = tovrel::RenderUsbCharge(status);
    if (view.setButton == tovrel::ControlChange::Disable) {
        m_usbChargeStatus.SetWindowText(view.text.c_str());
        tovrel::ApplyChange(m_usbChargeS45, view.s45List);
        tovrel::ApplyChange(m_usbChargeS0, view.s0List);
        tovrel::ApplyChange(m_usbSetMode, view.setButton);
        return;
    }
    tovrel::ApplyChange(m_usbChargeS45, view.s45List);
    tovrel::ApplyChange(m_usbChargeS0, view.s0List);
    m_usbChargeStatus.SetWindowText(view.text.c_str());
    tovrel::ApplyChange(m_usbSetMode, view.setButton);
}

void CTORVADlg::ShowFscStatus(LONG status) {
    tovrel::TraceWord(Trace, kGetFscLabel, static_cast<std::uint32_t>(status));
    const tovrel::FscView view = tovrel::RenderFscStatus(status);
    m_fscStatus.SetWindowText(view.text.c_str());
    tovrel::ApplyChange(m_fscMode, view.list);
    tovrel::ApplyChange(m_fscSetMode, view.setButton);
}

void CTORVADlg::ShowPcHealth(LONG status) {
    tovrel::TraceWord(Trace, kGetHealthLabel, static_cast<std::uint32_t>(status));
    m_pcHealth.SetWindowText(tovrel::RenderPcHealth(status).c_str());
}

void CTORVADlg::UpdateCadSupport() {
    ShowCadSupport(tovrel::ReadStatus(m_pCheck_CADS_event));
}

void CTORVADlg::UpdateBatteryStatus() {
    ShowBatteryStatus(tovrel::ReadStatus(m_pCheck_BKIT_event));
}

void CTORVADlg::UpdateUsbCharge() {
    ShowUsbCharge(tovrel::ReadStatus(m_pGet_USB_Charge_Status));
}

void CTORVADlg::UpdateFscStatus() {
    ShowFscStatus(tovrel::ReadStatus(m_pGet_FSC_Status));
}

void CTORVADlg::UpdatePcHealth() {
    ShowPcHealth(tovrel::ReadStatus(m_pGet_PC_Health_Status));
}

void CTORVADlg::SetUsbChargeMode() {
    // With a list showing no selection, or an entry the dialog did not add
    // (another program can clear the selection or add entries), no one chose
    // a mode: nothing is set.
    const int s45 = OwnSelection(m_usbChargeS45, tovrel::kUsbS45Entries);
    const int s0 = OwnSelection(m_usbChargeS0, tovrel::kUsbS0Entries);
    if (s45 == CB_ERR || s0 == CB_ERR) return;
    const std::uint32_t value = tovrel::UsbChargeSetValue(s45, s0);
    ShowUsbCharge(tovrel::RunSetSequence(m_pGet_USB_Charge_Status, m_pSet_USB_Charge_Status,
                                         value, kSetUsbLabel, Trace));
}

void CTORVADlg::SetFscMode() {
    // An index past the three modes would set mode 3, which the firmware
    // reports as invalid.
    const int mode = OwnSelection(m_fscMode, tovrel::kFscModeEntries);
    if (mode == CB_ERR) return;  // no mode chosen: nothing is set
    const std::uint32_t value = tovrel::FscSetValue(mode);
    ShowFscStatus(tovrel::RunSetSequence(m_pGet_FSC_Status, m_pSet_FSC_Status, value,
                                         kSetFscLabel, Trace));
}
