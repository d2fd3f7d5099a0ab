// CTORVADlg: library binding, initialisation, auto update, system menu,
// painting while minimised, closing, and the firmware event log.
#include "TovrelDlg.h"

#include <stdlib.h>

#include "AboutDlg.h"
#include "event_drain.h"
#include "frame_core.h"

namespace {

// Timer of the once-a-second auto update.
const UINT_PTR kAutoUpdateTimer = 1;
const UINT kAutoUpdatePeriodMs = 1000;

// The one message that tells the dialog firmware events are queued for it.
const UINT kFirmwareEventsMessage = WM_APP + 1;
// One-shot timer that runs the next batch once waiting input has been seen to.
const UINT_PTR kNextBatchTimer = 2;

template <typename T>
bool ResolveOne(HMODULE hLibrary, const char* name, T& slot) {
    slot = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(hLibrary, name)));
    return slot != nullptr;
}

void ClearEntryPoints(CTORVADlg& dlg) {
    dlg.m_pGet_Current_WIFI_Ratio_Status = nullptr;
    dlg.m_pSet_WIFI_Ratio_Onoff = nullptr;
    dlg.m_pGet_Current_BT_Ratio_Status = nullptr;
    dlg.m_pSet_BT_Ratio_Onoff = nullptr;
    dlg.m_pGet_Current_Microphone_Mute_Capability = nullptr;
    dlg.m_pSet_Microphone_MuteLED = nullptr;
    dlg.m_pGet_Current_Volume_Mute_Capability = nullptr;
    dlg.m_pSet_Volume_MuteLED = nullptr;
    dlg.m_pGet_Ambient_Light = nullptr;
    dlg.m_pBrightness_Changed_Manually = nullptr;
    dlg.m_pGet_Power_Meter = nullptr;
    dlg.m_pGet_Thermal_Parameter = nullptr;
    dlg.m_pCheck_CADS_event = nullptr;
    dlg.m_pCheck_BKIT_event = nullptr;
    dlg.m_pQEB_RegisterEventCallback = nullptr;
    dlg.m_pQEB_UnregisterEventCallback = nullptr;
    dlg.m_pGet_USB_Charge_Status = nullptr;
    dlg.m_pSet_USB_Charge_Status = nullptr;
    dlg.m_pGet_FSC_Status = nullptr;
    dlg.m_pSet_FSC_Status = nullptr;
    dlg.m_pGet_PC_Health_Status = nullptr;
}

}  // namespace

// A button whose operation calls the library.
#define ON_LIBRARY_CLICK(id, memberFxn)                                      \
    {WM_COMMAND, BN_CLICKED, (UINT)(id), (UINT)(id),                         \
     AFX_THUNK_BEGIN _this->RunLibraryCommand((id), memberFxn); AFX_THUNK_END},

BEGIN_MESSAGE_MAP(CTORVADlg, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_WM_TIMER()
    ON_LIBRARY_CLICK(IDC_WIFI_UPDATE, &CTORVADlg::UpdateWifiStatus)
    ON_LIBRARY_CLICK(IDC_BT_UPDATE, &CTORVADlg::UpdateBtStatus)
    ON_LIBRARY_CLICK(IDC_AMBIENT_UPDATE, &CTORVADlg::UpdateAmbientLight)
    ON_LIBRARY_CLICK(IDC_POWER_UPDATE, &CTORVADlg::UpdatePowerMeter)
    ON_LIBRARY_CLICK(IDC_THERMAL_UPDATE, &CTORVADlg::UpdateThermalStatus)
    ON_LIBRARY_CLICK(IDC_MIC_LED_UPDATE, &CTORVADlg::UpdateMicrophoneLed)
    ON_LIBRARY_CLICK(IDC_VOL_LED_UPDATE, &CTORVADlg::UpdateVolumeLed)
    ON_LIBRARY_CLICK(IDC_WIFI_ONOFF, &CTORVADlg::ToggleWifi)
    ON_LIBRARY_CLICK(IDC_BT_ONOFF, &CTORVADlg::ToggleBt)
    ON_LIBRARY_CLICK(IDC_MIC_LED_ONOFF, &CTORVADlg::ToggleMicrophoneLed)
    ON_LIBRARY_CLICK(IDC_VOL_LED_ONOFF, &CTORVADlg::ToggleVolumeLed)
    ON_BN_CLICKED(IDC_AUTO_UPDATE, &CTORVADlg::OnAutoUpdate)
    ON_LIBRARY_CLICK(IDC_UPDATE_ALL, &CTORVADlg::UpdateAll)
    ON_LIBRARY_CLICK(IDC_CAD_UPDATE, &CTORVADlg::UpdateCadSupport)
    ON_LIBRARY_CLICK(IDC_BATTERY_UPDATE, &CTORVADlg::UpdateBatteryStatus)
    ON_LIBRARY_CLICK(IDC_USB_UPDATE, &CTORVADlg::UpdateUsbCharge)
    ON_LIBRARY_CLICK(IDC_USB_SET_MODE, &CTORVADlg::SetUsbChargeMode)
    ON_LIBRARY_CLICK(IDC_FSC_UPDATE, &CTORVADlg::UpdateFscStatus)
    ON_LIBRARY_CLICK(IDC_FSC_SET_MODE, &CTORVADlg::SetFscMode)
    ON_LIBRARY_CLICK(IDC_PC_HEALTH_UPDATE, &CTORVADlg::UpdatePcHealth)
    ON_WM_CLOSE()
    ON_WM_DESTROY()
    ON_MESSAGE(kFirmwareEventsMessage, &CTORVADlg::OnFirmwareEvents)
END_MESSAGE_MAP()

CTORVADlg::CTORVADlg(CWnd* pParent)
    : CDialog(IDD, pParent),
      m_hIcon(nullptr),
      m_hLibrary(nullptr),
      m_autoUpdate(0),
      m_eventCount(0),
      m_callbackState(kCallbackNone) {
    ClearEntryPoints(*this);
    m_hIcon = AfxGetApp() ? AfxGetApp()->LoadIcon(IDR_MAINFRAME)
                          : ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_MAINFRAME));
    m_autoUpdate = 0;

    // Bind QEBI.dll: found by the system's library search, every entry
    // point looked up by name.
    m_hLibrary = ::LoadLibraryW(L"QEBI.dll");
    if (m_hLibrary && !ResolveEntryPoints(m_hLibrary)) ReleaseLibrary();

    m_eventCount = 0;
}

CTORVADlg::~CTORVADlg() {
    // Normally done when the window was destroyed; the library must not be
    // released with the callback still registered.
    UnregisterEventCallback();
    ReleaseLibrary();
}

bool CTORVADlg::ResolveEntryPoints(HMODULE h) {
    return ResolveOne(h, "Get_Current_WIFI_Ratio_Status", m_pGet_Current_WIFI_Ratio_Status) &&
           ResolveOne(h, "Set_WIFI_Ratio_Onoff", m_pSet_WIFI_Ratio_Onoff) &&
           ResolveOne(h, "Get_Current_BT_Ratio_Status", m_pGet_Current_BT_Ratio_Status) &&
           ResolveOne(h, "Set_BT_Ratio_Onoff", m_pSet_BT_Ratio_Onoff) &&
           ResolveOne(h, "Get_Current_Microphone_Mute_Capability",
                      m_pGet_Current_Microphone_Mute_Capability) &&
           ResolveOne(h, "Set_Microphone_MuteLED", m_pSet_Microphone_MuteLED) &&
           ResolveOne(h, "Get_Current_Volume_Mute_Capability", m_pGet_Current_Volume_Mute_Capability) &&
           ResolveOne(h, "Set_Volume_MuteLED", m_pSet_Volume_MuteLED) &&
           ResolveOne(h, "Get_Ambient_Light", m_pGet_Ambient_Light) &&
           ResolveOne(h, "Brightness_Changed_Manually", m_pBrightness_Changed_Manually) &&
           ResolveOne(h, "Get_Power_Meter", m_pGet_Power_Meter) &&
           ResolveOne(h, "Get_Thermal_Parameter", m_pGet_Thermal_Parameter) &&
           ResolveOne(h, "Check_CADS_event", m_pCheck_CADS_event) &&
           ResolveOne(h, "Check_BKIT_event", m_pCheck_BKIT_event) &&
           ResolveOne(h, "QEB_RegisterEventCallback", m_pQEB_RegisterEventCallback) &&
           ResolveOne(h, "QEB_UnregisterEventCallback", m_pQEB_UnregisterEventCallback) &&
           ResolveOne(h, "Get_USB_Charge_Status", m_pGet_USB_Charge_Status) &&
           ResolveOne(h, "Set_USB_Charge_Status", m_pSet_USB_Charge_Status) &&
           ResolveOne(h, "Get_FSC_Status", m_pGet_FSC_Status) &&
           ResolveOne(h, "Set_FSC_Status", m_pSet_FSC_Status) &&
           ResolveOne(h, "Get_PC_Health_Status", m_pGet_PC_Health_Status);
}

void CTORVADlg::ReleaseLibrary() {
    if (m_hLibrary) ::FreeLibrary(m_hLibrary);
    m_hLibrary = nullptr;
    // No slot may point into a released (or partly bound) library.
    ClearEntryPoints(*this);
}

void CTORVADlg::UnregisterEventCallback() {
    StopEventLog();
    // Inside a library call (the window destroyed from a message it let
    // through) the destructor unregisters.
    if (m_callbackState == kCallbackRegistered && !m_libraryGate.Busy()) {
        m_callbackState = kCallbackUnregistered;
        if (m_pQEB_UnregisterEventCallback) {
            // The library may let messages through while it takes the
            // callback away: nothing they start may call it meanwhile.
            LibraryCall call(this);
            m_pQEB_UnregisterEventCallback(&CTORVADlg::FirmwareEventCallback, this);
        }
    }
}

void CTORVADlg::StopEventLog() {
    // The dialog is on its way out: no auto update starts any more, and
    // codes still queued go with the window, so that nothing the library
    // handed over touches the dialog after the unregistration has returned
    // (a callback running meanwhile queues nothing and posts nothing).
    if (m_hWnd) {
        KillTimer(kAutoUpdateTimer);
        KillTimer(kNextBatchTimer);
    }
    m_firmwareEvents.Close();
}

void CTORVADlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EVENT_LOG, m_eventLog);
    DDX_Control(pDX, IDC_THERMAL_STATUS, m_thermalStatus);
    DDX_Control(pDX, IDC_USB_S45_LIST, m_usbChargeS45);
    DDX_Control(pDX, IDC_USB_S0_LIST, m_usbChargeS0);
    DDX_Control(pDX, IDC_USB_SET_MODE, m_usbSetMode);
    DDX_Control(pDX, IDC_USB_STATUS, m_usbChargeStatus);
    DDX_Control(pDX, IDC_FSC_LIST, m_fscMode);
    DDX_Control(pDX, IDC_FSC_SET_MODE, m_fscSetMode);
    DDX_Control(pDX, IDC_FSC_STATUS, m_fscStatus);
    DDX_Control(pDX, IDC_PC_HEALTH_STATUS, m_pcHealth);
}

BOOL CTORVADlg::OnInitDialog() {
    CDialog::OnInitDialog();

    // "About" entry of the system menu.
    if (CMenu* sysMenu = GetSystemMenu(FALSE)) {
        CString aboutText;
        aboutText.LoadString(IDS_ABOUTBOX);
        if (!aboutText.IsEmpty()) {
            sysMenu->AppendMenu(MF_SEPARATOR);
            sysMenu->AppendMenu(MF_STRING, IDM_ABOUTBOX, aboutText);
        }
    }

    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    HandleCommandLine();  // ends the process when a switch matches

    if (!m_hLibrary) {
        AfxMessageBox(L"Failed to initialize QEBI library", MB_ICONERROR);
        exit(-1);
    }

    // The edit control's default limit would silently stop the log before
    // it holds the 1001 lines it is meant to keep.
    m_eventLog.SetLimitText(tovrel::kEventLogTextLimit);

    const struct {
        CComboBox* list;
        const tovrel::ListEntries* entries;
    } lists[] = {{&m_usbChargeS45, &tovrel::kUsbS45Entries},
                 {&m_usbChargeS0, &tovrel::kUsbS0Entries},
                 {&m_fscMode, &tovrel::kFscModeEntries}};
    for (const auto& l : lists)
        for (int i = 0; i < l.entries->count; ++i) l.list->AddString(l.entries->texts[i]);
    m_usbChargeS45.SetCurSel(0);
    m_usbChargeS0.SetCurSel(0);
    m_fscMode.SetCurSel(0);

    {
        LibraryCall call(this);
        UpdateAll();
    }

    SetTimer(kAutoUpdateTimer, kAutoUpdatePeriodMs, nullptr);

    m_eventLog.SetSel(-1, -1);

    LONG result = 0;
    DWORD lastError = 0;
    {
        LibraryCall call(this);
        result = m_pQEB_RegisterEventCallback(&CTORVADlg::FirmwareEventCallback, this);
        lastError = result != 0 ? ::GetLastError() : 0;
    }
    if (result == 0) m_callbackState = kCallbackRegistered;
    m_eventLog.ReplaceSel(tovrel::FormatRegistrationLine(result, lastError), FALSE);

    return TRUE;
}

void CTORVADlg::HandleCommandLine() {
    CWinApp* app = AfxGetApp();
    tovrel::Switch which = tovrel::MatchSwitch(app ? app->m_lpCmdLine : L"");
    if (which == tovrel::Switch::None) return;

    // Entry points of an unbound library are null and count as failing calls.
    const tovrel::RadioEntryPoints entryPoints = {m_pGet_Current_WIFI_Ratio_Status, m_pSet_WIFI_Ratio_Onoff,
                                                  m_pGet_Current_BT_Ratio_Status, m_pSet_BT_Ratio_Onoff};
    // A library that lets messages through while it sets a radio would
    // otherwise run a button's command (any program can send one to the
    // hidden dialog) inside the call. The switch runs until the process ends.
    LibraryCall call(this);
    tovrel::SwitchOutcome outcome = tovrel::RunSwitch(which, entryPoints);
    if (outcome.showMessage) ::MessageBoxW(nullptr, outcome.message, L"Tovrel", MB_ICONINFORMATION | MB_OK);
    exit(outcome.exitCode);
}

void CTORVADlg::UpdateAll() {
    UpdateWifiStatus();
    UpdateBtStatus();
    UpdateAmbientLight();
    UpdatePowerMeter();
    UpdateThermalStatus();
    UpdateMicrophoneLed();
    UpdateVolumeLed();
    UpdateCadSupport();
    UpdateBatteryStatus();
    UpdateUsbCharge();
    UpdateFscStatus();
    UpdatePcHealth();
}

void CTORVADlg::RunLibraryCommand(int buttonId, void (CTORVADlg::*operation)()) {
    if (m_libraryGate.Busy()) return;
    // The render step disables a button whose feature is absent; a click on
    // it cannot happen, so neither does its command from another program.
    const HWND button = ::GetDlgItem(m_hWnd, buttonId);
    if (!button || !::IsWindowEnabled(button)) return;
    LibraryCall call(this);
    (this->*operation)();
}

int CTORVADlg::OwnSelection(const CComboBox& list, const tovrel::ListEntries& entries) {
    const int index = list.GetCurSel();
    if (index < 0 || index >= entries.count) return CB_ERR;
    CString text;
    if (list.GetLBText(index, text) == CB_ERR) return CB_ERR;
    return tovrel::IsOwnListEntry(entries, index, text) ? index : CB_ERR;
}

void CTORVADlg::OnAutoUpdate() {
    m_autoUpdate = ::SendMessageW(::GetDlgItem(m_hWnd, IDC_AUTO_UPDATE), BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
}

void CTORVADlg::OnTimer(UINT_PTR nIDEvent) {
    Default();
    if (nIDEvent == kNextBatchTimer) {
        KillTimer(kNextBatchTimer);
        DrainFirmwareEvents();
        return;
    }
    if (nIDEvent != kAutoUpdateTimer) return;
    // A tick inside a library call (one that lets messages through) is
    // skipped; the next one runs.
    if (m_libraryGate.Busy()) return;
    // Codes whose drain message could not be posted wait at most a tick.
    if (m_firmwareEvents.ClaimStalled()) DrainFirmwareEvents();
    if (m_autoUpdate != 0) {
        LibraryCall call(this);
        UpdateAll();
    }
}

void CTORVADlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal();
    } else {
        Default();
    }
}

void CTORVADlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - cxIcon + 1) / 2;
    int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon);
}

HCURSOR CTORVADlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

void CTORVADlg::OnClose() {
    StopEventLog();
    // Also when registration failed; at most once per registration. Inside a
    // library call the unregistration is left to OnDestroy, which runs once
    // that call has returned and the dialog's loop has ended.
    if (!m_libraryGate.Busy() && m_pQEB_UnregisterEventCallback && m_callbackState != kCallbackUnregistered) {
        m_callbackState = kCallbackUnregistered;
        // Messages the library lets through meanwhile call it not again.
        LibraryCall call(this);
        m_pQEB_UnregisterEventCallback(&CTORVADlg::FirmwareEventCallback, this);
    }
    Default();
}

void CTORVADlg::OnDestroy() {
    // Button 2, Escape and Enter end the dialog without a close request: the
    // callback is withdrawn here, while the dialog and the library exist.
    UnregisterEventCallback();
    Default();
}

// Runs on the library's thread, possibly while the library holds a lock that
// its other entry points (called by this dialog's thread) wait for: it must
// not wait for the dialog in any way. It takes the local time (the log tells
// when each event arrived, however busy the dialog's thread is), queues the
// event and, for the first event of a burst, posts the one message that makes
// the dialog's thread log them; neither ever blocks.
void WINAPI CTORVADlg::FirmwareEventCallback(DWORD code, void* context) {
    if (!context) return;
    CTORVADlg* dlg = static_cast<CTORVADlg*>(context);
    SYSTEMTIME arrived;
    ::GetLocalTime(&arrived);
    if (dlg->m_firmwareEvents.Push(code, arrived) && !::PostMessageW(dlg->m_hWnd, kFirmwareEventsMessage, 0, 0))
        dlg->m_firmwareEvents.PostFailed();
}

LRESULT CTORVADlg::OnFirmwareEvents(WPARAM, LPARAM) {
    DrainFirmwareEvents();
    return 0;
}

// Logs one batch of queued events, oldest first, bounded by count and by
// time, and arranges the next batch while events remain.
//
// A library call (a panel refresh here, an auto update, a button's operation)
// may let window messages through while it waits, as a library built on COM
// or WMI does; the drain message or the batch timer then arrives inside it.
// That drain does not run there (it would call the library again, and a
// drain inside this one would write its lines before the line of the event
// being refreshed): it waits, and is scheduled when the outer call returns.
void CTORVADlg::DrainFirmwareEvents() {
    if (m_libraryGate.Busy()) {
        m_libraryGate.DrainWaits();
        return;
    }
    // The next batch is asked for once, on every way out of this one, an
    // exception the window procedure swallows included.
    tovrel::EventLogBatch batch(&m_eventCount);
    tovrel::RunDrainBatch(
        m_firmwareEvents, m_libraryGate, [&](const tovrel::QueuedEvent& event) { LogQueuedEvent(&batch, event); },
        [&] { FinishEventLog(&batch); }, [this] { ScheduleNextDrain(); });
}

void CTORVADlg::ScheduleNextDrain() {
    // A call that ends after the window is gone (the destructor's) has no
    // one to drain for: a post to no window would go to the thread, a timer
    // without a window would be the thread's.
    if (!m_hWnd || !::IsWindow(m_hWnd)) return;
    // A posted message is taken before input, paint and timer messages: with
    // a key, a click or a repaint waiting, the next batch goes behind it on a
    // one-shot timer so that Escape, Alt+F4 or the close box is handled and
    // refreshed panels are drawn between batches. (Named flags: the newer
    // QS_INPUT bits are refused before Windows 8, and mouse moves need no
    // priority.)
    const UINT kWaitingInput = QS_KEY | QS_MOUSEBUTTON | QS_PAINT;
    if ((HIWORD(::GetQueueStatus(kWaitingInput)) & kWaitingInput) == 0 &&
        ::PostMessageW(m_hWnd, kFirmwareEventsMessage, 0, 0))
        return;
    SetTimer(kNextBatchTimer, USER_TIMER_MINIMUM, nullptr);
}

void CTORVADlg::LogFirmwareEvent(DWORD code) {
    tovrel::QueuedEvent event = {code, {}, 0};
    ::GetLocalTime(&event.arrived);
    tovrel::EventLogBatch batch(&m_eventCount);
    LogQueuedEvent(&batch, event);
    FinishEventLog(&batch);
}

// Each event is counted, its panel refreshed (thermal alert, ambient light)
// before its line is in the log, and its line stamped with the time it
// arrived. The lines go into the log in as few replacements as the refreshes
// allow (one per batch without them), with one scroll and one repaint at the
// end: the cost of an edit control update is per replacement, not per line.
// (The log's drawing is not switched off with WM_SETREDRAW around the batch:
// Wine's edit control then stays blank afterwards.)
void CTORVADlg::LogQueuedEvent(tovrel::EventLogBatch* batch, const tovrel::QueuedEvent& event) {
    tovrel::EventRefresh refresh = tovrel::RefreshForEvent(event.code);
    if (refresh != tovrel::EventRefresh::None) {
        // The lines of the events before it are in the log first.
        WriteEventLog(batch->Take());
        if (refresh == tovrel::EventRefresh::Thermal) UpdateThermalStatus();
        else UpdateAmbientLight();
    }
    batch->Add(event.arrived, event.code);
    // Events the full queue could not take came after this one.
    if (event.droppedAfter != 0) batch->AddDropped(event.droppedAfter);
}

void CTORVADlg::FinishEventLog(tovrel::EventLogBatch* batch) {
    WriteEventLog(batch->Take());
    m_eventLog.SendMessage(EM_SCROLLCARET);
    // Repainted whole and now: a paint request would wait behind the next
    // batch's message, and after a replacement and a scroll Wine's edit
    // control leaves part of what it shows unpainted.
    ::InvalidateRect(m_eventLog.GetSafeHwnd(), nullptr, TRUE);
    ::UpdateWindow(m_eventLog.GetSafeHwnd());
}

void CTORVADlg::WriteEventLog(const tovrel::EventLogBatch::Write& write) {
    if (!write.replaceAll && write.text.IsEmpty()) return;
    int length = m_eventLog.GetWindowTextLength();
    m_eventLog.SetSel(write.replaceAll ? 0 : length, length, TRUE);
    m_eventLog.ReplaceSel(write.text, FALSE);
}
