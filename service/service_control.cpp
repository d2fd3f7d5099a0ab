// QEBEvent: the service's main routine, its status record and its control
// handler, and the mapping of firmware events and controls to actions.
#include "qebevent.h"
#include "service_dispatch.h"
#include "service_seams.h"

SERVICE_STATUS ServiceStatus;
SERVICE_STATUS_HANDLE ServiceStatusHandle = nullptr;

ServiceActionFunctions ServiceActions = {
    LaunchInUserSession, ReportHealthChange, ReportHealthDetails,    SendCtrlAltDel,
    CheckPendingHibernation, CreateThread, SetServiceStatus,
};

namespace {

const wchar_t kServiceName[] = L"QEBEvent";

// ServiceMain and the control handler (on the dispatcher thread) both write
// ServiceStatus; the handler may run as soon as it is registered. Every
// change of the record and every report of it is made under this lock, so a
// report never carries a half-written record.
class StatusLock {
public:
    StatusLock() { InitializeCriticalSection(&section_); }
    void Enter() { EnterCriticalSection(&section_); }
    void Leave() { LeaveCriticalSection(&section_); }

private:
    CRITICAL_SECTION section_;
};
StatusLock statusLock;

struct StatusGuard {
    StatusGuard() { statusLock.Enter(); }
    ~StatusGuard() { statusLock.Leave(); }
    StatusGuard(const StatusGuard&) = delete;
    StatusGuard& operator=(const StatusGuard&) = delete;
};

HANDLE MonitorThread = nullptr;

void ReportStatusLocked() {
    ServiceActions.setServiceStatus(ServiceStatusHandle, &ServiceStatus);
}

}  // namespace

ServiceAction FirmwareEventAction(DWORD code) {
    switch (code) {
    case kEventVolumeUp: return ActionVolumeUp;
    case kEventVolumeDown: return ActionVolumeDown;
    case kEventThermalAlert: return ActionHealthDetails;
    case kEventCad: return ActionCtrlAltDel;
    case kEventBattery: return ActionPowerLoss;
    case kEventHealthGreenToRed: return ActionHealthGreenToRed;
    case kEventHealthRedToGreen: return ActionHealthRedToGreen;
    default: return ActionNone;
    }
}

ServiceAction ServiceControlAction(DWORD control, DWORD eventType) {
    switch (control) {
    case SERVICE_CONTROL_SESSIONCHANGE:
        return eventType == WTS_SESSION_LOGOFF ? ActionCheckPendingHibernation : ActionNone;
    case kControlVolumeUp: return ActionVolumeUp;
    case kControlVolumeDown: return ActionVolumeDown;
    case kControlHealthGreenToRed: return ActionHealthGreenToRed;
    case kControlHealthRedToGreen: return ActionHealthRedToGreen;
    case kControlHealthDetails: return ActionHealthDetails;
    case kControlPowerLoss: return ActionPowerLoss;
    default: return ActionNone;
    }
}

DWORD ServiceStateAfterControl(DWORD control, DWORD currentState) {
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN: return SERVICE_STOPPED;
    case SERVICE_CONTROL_PAUSE: return SERVICE_PAUSED;
    case SERVICE_CONTROL_CONTINUE: return SERVICE_RUNNING;
    default: return currentState;
    }
}

void RunServiceAction(ServiceAction action) {
    switch (action) {
    case ActionVolumeUp: ServiceActions.launchInUserSession(RunModeVolumeUp, nullptr, nullptr); break;
    case ActionVolumeDown:
        ServiceActions.launchInUserSession(RunModeVolumeDown, nullptr, nullptr);
        break;
    case ActionHealthDetails: ServiceActions.reportHealthDetails(); break;
    case ActionCtrlAltDel: ServiceActions.sendCtrlAltDel(); break;
    case ActionPowerLoss: {
        // One running and one waiting at most; the rest are dropped.
        if (!BeginPowerLossAction()) break;
        // The thread runs on its own; its handle is not needed here.
        HANDLE thread =
            ServiceActions.createThread(nullptr, 0, PowerLossThread, nullptr, 0, nullptr);
        if (thread != nullptr) CloseHandle(thread);
        else EndPowerLossAction();
        break;
    }
    case ActionHealthGreenToRed: ServiceActions.reportHealthChange(kEventHealthGreenToRed); break;
    case ActionHealthRedToGreen: ServiceActions.reportHealthChange(kEventHealthRedToGreen); break;
    case ActionCheckPendingHibernation: ServiceActions.checkPendingHibernation(); break;
    case ActionNone: break;
    }
}

void WINAPI ServiceMain(DWORD, LPWSTR*) {
    {
        StatusGuard guard;
        ServiceStatus.dwServiceType = SERVICE_WIN32;  // 0x30
        ServiceStatus.dwCurrentState = SERVICE_START_PENDING;
        ServiceStatus.dwControlsAccepted =
            SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_SESSIONCHANGE;
        ServiceStatus.dwWin32ExitCode = 0;
        ServiceStatus.dwServiceSpecificExitCode = 0;
        ServiceStatus.dwCheckPoint = 0;
        ServiceStatus.dwWaitHint = 0;
    }
    // A null handle is not an error here: the reports then fail quietly.
    SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerExW(kServiceName, ServiceControlHandler, nullptr);
    {
        StatusGuard guard;
        ServiceStatusHandle = handle;
        ServiceStatus.dwCurrentState = SERVICE_RUNNING;
        ServiceStatus.dwCheckPoint = 0;
        ServiceStatus.dwWaitHint = 0;
    }
    MonitorThread = ServiceActions.createThread(nullptr, 0, EventMonitorThread, nullptr, 0, nullptr);
    {
        StatusGuard guard;
        ReportStatusLocked();
    }
    ServiceActions.checkPendingHibernation();
}

DWORD WINAPI ServiceControlHandler(DWORD dwControl, DWORD dwEventType, LPVOID, LPVOID) {
    // The action runs outside the lock: a logoff may hibernate the machine
    // before the handler reports again.
    RunServiceAction(ServiceControlAction(dwControl, dwEventType));
    StatusGuard guard;
    ServiceStatus.dwCurrentState = ServiceStateAfterControl(dwControl, ServiceStatus.dwCurrentState);
    ReportStatusLocked();
    return NO_ERROR;
}
