// QEBEvent: declarations shared by the service's source files.
#pragma once
#include <windows.h>

// ---- run modes (entry.cpp) -------------------------------------------------
enum RunMode : int {
    RunModeService = 0,
    RunModeHalt = 1,        // "-HALT"
    RunModeCad = 2,         // "-CAD"
    RunModeVolumeUp = 3,    // "-VOLUMEUP"
    RunModeVolumeDown = 4,  // "-VOLUMEDOWN"
};
int SelectRunMode();
int SelectRunModeFrom(const wchar_t* commandLine);  // pure core of SelectRunMode

// ---- service control (service_control.cpp) ----------------------------------
extern SERVICE_STATUS ServiceStatus;
extern SERVICE_STATUS_HANDLE ServiceStatusHandle;
void WINAPI ServiceMain(DWORD argc, LPWSTR* argv);
DWORD WINAPI ServiceControlHandler(DWORD dwControl, DWORD dwEventType, LPVOID lpEventData,
                                   LPVOID lpContext);

// ---- platform device link (platform_link.cpp) --------------------------------
enum PlatformRequestKind : DWORD { PlatformKsmi = 0, PlatformKnvs = 1 };
BOOL SendPlatformRequest(DWORD kind, WORD function, WORD parameter, void* response,
                         int responseLength, const void* requestData, int requestLength);

// ---- event monitor (event_monitor.cpp) ---------------------------------------
DWORD WINAPI EventMonitorThread(LPVOID);
void DispatchFirmwareEvent(DWORD code);
// One event wait of the monitor on its device handle and completion event,
// and the dispatch of the code if the wait brought a whole one.
enum MonitorWaitResult { MonitorEventDispatched, MonitorCompletionIgnored, MonitorWaitFailed };
MonitorWaitResult MonitorOnce(HANDLE device, HANDLE completion, BYTE (&buffer)[4]);
// Pause before the next wait after `consecutiveShort` short completions in a
// row (0 after a whole event): none for the first two, then 1, 2, 4 ... ms,
// never more than kMonitorLongestPauseMs.
const DWORD kMonitorLongestPauseMs = 100;
DWORD MonitorPauseAfterShort(DWORD consecutiveShort);
// The run of short completions after one more completion: 0 after a whole
// event, 1 when the wait had been outstanding for kMonitorQuietWaitMs or more
// (issuedTick and completedTick from GetTickCount), else one more.
const DWORD kMonitorQuietWaitMs = 1000;
DWORD MonitorShortRunAfter(DWORD shortRun, MonitorWaitResult result, DWORD issuedTick, DWORD completedTick);

// ---- user-session helpers and input (user_session.cpp) -----------------------
BOOL LaunchInUserSession(int mode, HANDLE* processOut, HANDLE* threadOut);
void PressMediaKey(BYTE vk);
void SendCtrlAltDel();
void PostWinlogonCtrlAltDel();
BOOL SwitchThreadDesktop(HDESK desktop);

// ---- power-loss hibernation (power_loss.cpp) ---------------------------------
extern HANDLE HaltHelperProcess;
DWORD WINAPI PowerLossThread(LPVOID);
// Admission of power-loss actions: at most kMostPowerLossActions started and
// not past their launch step (the launching one and one waiting). Begin
// counts one in or refuses; PowerLossThread counts itself out once its launch
// step is over, before any hibernation.
const LONG kMostPowerLossActions = 2;
extern volatile LONG PowerLossActions;
bool BeginPowerLossAction();
void EndPowerLossAction();
void HibernateNow();
DWORD ReadPowerFlags();
void CheckPendingHibernation();
void HibernateCountdown();
INT_PTR CALLBACK CountdownDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// ---- health status reporting (health_report.cpp) -----------------------------
extern volatile LONG CachedDiskIndex;
void WriteServiceEvent(WORD type, DWORD id, const wchar_t* text);
void ReportHealthChange(DWORD code);
void ReportHealthDetails();
DWORD ReadHealthStatus(void* readings, int count);
BOOL ReadDiskTemperature(BYTE* destination);
BOOL ReadSmartTemperature(HANDLE drive, int driveNumber, BYTE* destination);
