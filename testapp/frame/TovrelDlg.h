// CTORVADlg: the "Kestil Desktop BIOS Test Application" dialog. It owns the
// binding of the platform feature library QEBI.dll (module handle and the 21
// entry points), the control wrappers the panels write to, the event log and
// the auto update. The panel operations (Update*/Toggle*/Set*/Show*) are
// defined with the panels in testapp/panels/.
#pragma once

#include <afxwin.h>
#include <afxcmn.h>

#include "event_queue.h"
#include "frame_core.h"
#include "library_gate.h"
#include "qebi_api.h"
#include "resource.h"

class CTORVADlg : public CDialog {
public:
    explicit CTORVADlg(CWnd* pParent = nullptr);
    virtual ~CTORVADlg();

    enum { IDD = IDD_TOVREL_DIALOG };

    // --- members, in this order -------------------------------------------
    HICON m_hIcon;

    CEdit m_eventLog;           // 1024
    CEdit m_thermalStatus;      // 230
    CComboBox m_usbChargeS45;   // 1029
    CComboBox m_usbChargeS0;    // 1030
    CButton m_usbSetMode;       // 1032
    CEdit m_usbChargeStatus;    // 1039
    CComboBox m_fscMode;        // 1033
    CButton m_fscSetMode;       // 1035
    CEdit m_fscStatus;          // 1038
    CEdit m_pcHealth;           // 1040

    HMODULE m_hLibrary;         // null while the library is not bound
    LONG m_autoUpdate;          // 1 while "Auto Update" is ticked
    DWORD m_eventCount;         // firmware events since start or last emptying

    // Entry points of QEBI.dll, looked up by name in this order.
    QEB_GET_STATUS m_pGet_Current_WIFI_Ratio_Status;
    QEB_SET_VALUE m_pSet_WIFI_Ratio_Onoff;
    QEB_GET_STATUS m_pGet_Current_BT_Ratio_Status;
    QEB_SET_VALUE m_pSet_BT_Ratio_Onoff;
    QEB_GET_STATUS m_pGet_Current_Microphone_Mute_Capability;
    QEB_SET_VALUE m_pSet_Microphone_MuteLED;
    QEB_GET_STATUS m_pGet_Current_Volume_Mute_Capability;
    QEB_SET_VALUE m_pSet_Volume_MuteLED;
    QEB_GET_STATUS m_pGet_Ambient_Light;
    QEB_BRIGHTNESS_CHANGED m_pBrightness_Changed_Manually;
    QEB_GET_STATUS m_pGet_Power_Meter;
    QEB_GET_THERMAL m_pGet_Thermal_Parameter;
    QEB_GET_STATUS m_pCheck_CADS_event;
    QEB_GET_STATUS m_pCheck_BKIT_event;
    QEB_REGISTER_CALLBACK m_pQEB_RegisterEventCallback;
    QEB_UNREGISTER_CALLBACK m_pQEB_UnregisterEventCallback;
    QEB_GET_STATUS m_pGet_USB_Charge_Status;
    QEB_SET_VALUE m_pSet_USB_Charge_Status;
    QEB_GET_STATUS m_pGet_FSC_Status;
    QEB_SET_VALUE m_pSet_FSC_Status;
    QEB_GET_STATUS m_pGet_PC_Health_Status;

    // --- library binding, command line, frame operations -------------------
    // Looks up the 21 entry points in order; stops at the first missing one.
    bool ResolveEntryPoints(HMODULE hLibrary);
    // Runs a command-line switch (ends the process) or returns.
    void HandleCommandLine();
    void UpdateAll();
    void OnAutoUpdate();
    void LogFirmwareEvent(DWORD code);
    static void WINAPI FirmwareEventCallback(DWORD code, void* context);

    // --- panels (testapp/panels/) -----------------------------------------
    void UpdateWifiStatus();
    void UpdateBtStatus();
    void UpdateMicrophoneLed();
    void UpdateVolumeLed();
    void ToggleWifi();
    void ToggleBt();
    void ToggleMicrophoneLed();
    void ToggleVolumeLed();
    void UpdateAmbientLight();
    void UpdatePowerMeter();
    void UpdateThermalStatus();
    void UpdateCadSupport();
    void UpdateBatteryStatus();
    void UpdateUsbCharge();
    void UpdateFscStatus();
    void UpdatePcHealth();
    void SetUsbChargeMode();
    void SetFscMode();

    void ShowWifiStatus(LONG status);
    void ShowBtStatus(LONG status);
    void ShowMicrophoneLed(LONG status);
    void ShowVolumeLed(LONG status);
    void ShowAmbientLight(LONG status);
    void ShowPowerMeter(LONG status);
    void ShowThermalStatus(LONG status, const WORD* readings);
    void ShowCadSupport(LONG status);
    void ShowBatteryStatus(LONG status);
    void ShowUsbCharge(LONG status);
    void ShowFscStatus(LONG status);
    void ShowPcHealth(LONG status);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnTimer(UINT_PTR nIDEvent);
    void OnClose();
    void OnDestroy();
    LRESULT OnFirmwareEvents(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // Where the event callback registration stands, so that it is undone
    // exactly once before the window and the library go away, whichever way
    // the dialog ends.
    enum CallbackState { kCallbackNone, kCallbackRegistered, kCallbackUnregistered };
    CallbackState m_callbackState;

    // Events handed over by FirmwareEventCallback, logged on this thread.
    tovrel::EventQueue m_firmwareEvents;
    // A library call of this thread runs (messages it lets through must not
    // call the library again).
    tovrel::LibraryGate m_libraryGate;

    // Holds the gate for its scope, on every path out of it, exceptions
    // included; schedules the drain that waited for the call.
    class LibraryCall {
    public:
        explicit LibraryCall(CTORVADlg* dlg) : m_dlg(dlg) { m_dlg->m_libraryGate.Enter(); }
        ~LibraryCall() {
            if (m_dlg->m_libraryGate.Leave()) m_dlg->ScheduleNextDrain();
        }
        LibraryCall(const LibraryCall&) = delete;
        LibraryCall& operator=(const LibraryCall&) = delete;

    private:
        CTORVADlg* m_dlg;
    };
    // A button's panel operation, carried out only while the button is
    // enabled (any program can send the command of a disabled one) and no
    // library call runs (then the press is ignored, as on a disabled button).
    void RunLibraryCommand(int buttonId, void (CTORVADlg::*operation)());
    // The selected entry of a list when it is one the dialog added itself,
    // else CB_ERR.
    static int OwnSelection(const CComboBox& list, const tovrel::ListEntries& entries);

    void UnregisterEventCallback();
    void StopEventLog();
    void DrainFirmwareEvents();
    void LogQueuedEvent(tovrel::EventLogBatch* batch, const tovrel::QueuedEvent& event);
    void FinishEventLog(tovrel::EventLogBatch* batch);
    void WriteEventLog(const tovrel::EventLogBatch::Write& write);
    void ScheduleNextDrain();
    void ReleaseLibrary();
};
