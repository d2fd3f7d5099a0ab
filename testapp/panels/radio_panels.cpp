// WIFI, Bluetooth, microphone LED and volume LED panels: a state edit box, an
// "Update" button and an "ON/OFF" button each. Buttons disabled for an absent
// feature are never enabled again by these panels.
#include "../frame/TovrelDlg.h"

#include "panel_apply.h"
#include "panel_sequence.h"

using tovrel::TwoStateKind;

namespace {

void ShowTwoState(CTORVADlg& dlg, TwoStateKind kind, LONG status, int statusId, int updateId,
                  int onOffId) {
    const tovrel::TwoStateView view = tovrel::RenderTwoState(kind, status);
    dlg.SetDlgItemText(statusId, view.status.c_str());
    dlg.SetDlgItemText(onOffId, view.caption.c_str());
    tovrel::ApplyChange(dlg, onOffId, view.buttons);
    tovrel::ApplyChange(dlg, updateId, view.buttons);
}

}  // namespace

void CTORVADlg::ShowWifiStatus(LONG status) {
    ShowTwoState(*this, TwoStateKind::Radio, status, IDC_WIFI_STATUS, IDC_WIFI_UPDATE,
                 IDC_WIFI_ONOFF);
}

void CTORVADlg::ShowBtStatus(LONG status) {
    ShowTwoState(*this, TwoStateKind::Radio, status, IDC_BT_STATUS, IDC_BT_UPDATE,
                 IDC_BT_ONOFF);
}

void CTORVADlg::ShowMicrophoneLed(LONG status) {
    ShowTwoState(*this, TwoStateKind::Led, status, IDC_MIC_LED_STATUS, IDC_MIC_LED_UPDATE,
                 IDC_MIC_LED_ONOFF);
}

void CTORVADlg::ShowVolumeLed(LONG status) {
    ShowTwoState(*this, TwoStateKind::Led, status, IDC_VOL_LED_STATUS, IDC_VOL_LED_UPDATE,
                 IDC_VOL_LED_ONOFF);
}

void CTORVADlg::UpdateWifiStatus() {
    ShowWifiStatus(tovrel::ReadStatus(m_pGet_Current_WIFI_Ratio_Status));
}

void CTORVADlg::UpdateBtStatus() {
    ShowBtStatus(tovrel::ReadStatus(m_pGet_Current_BT_Ratio_Status));
}

void CTORVADlg::UpdateMicrophoneLed() {
    ShowMicrophoneLed(tovrel::ReadStatus(m_pGet_Current_Microphone_Mute_Capability));
}

void CTORVADlg::UpdateVolumeLed() {
    ShowVolumeLed(tovrel::ReadStatus(m_pGet_Current_Volume_Mute_Capability));
}

void CTORVADlg::ToggleWifi() {
    ShowWifiStatus(tovrel::RunToggleSequence(TwoStateKind::Radio,
                                             m_pGet_Current_WIFI_Ratio_Status,
                                             m_pSet_WIFI_Ratio_Onoff));
}

void CTORVADlg::ToggleBt() {
    ShowBtStatus(tovrel::RunToggleSequence(TwoStateKind::Radio, m_pGet_Current_BT_Ratio_Status,
                                           m_pSet_BT_Ratio_Onoff));
}

void CTORVADlg::ToggleMicrophoneLed() {
    ShowMicrophoneLed(tovrel::RunToggleSequence(TwoStateKind::Led,
                                                m_pGet_Current_Microphone_Mute_Capability,
                                                m_pSet_Microphone_MuteLED));
}

void CTORVADlg::ToggleVolumeLed() {
    ShowVolumeLed(tovrel::RunToggleSequence(TwoStateKind::Led,
                                            m_pGet_Current_Volume_Mute_Capability,
                                            m_pSet_Volume_MuteLED));
}
