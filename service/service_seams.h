// QEBEvent: replaceable tables of the system functions behind the service's
// actions, device requests and event-log writes. Each table starts out with
// the real Win32 functions; only tests put other entries in (to observe what
// the service asks for instead of doing it).
#pragma once
#include <windows.h>

struct DeviceIoFunctions {
    HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
    BOOL(WINAPI* deviceIoControl)(HANDLE, DWORD, LPVOID, DWORD, LPVOID, DWORD, LPDWORD,
                                  LPOVERLAPPED);
    BOOL(WINAPI* closeHandle)(HANDLE);
};

// Framed requests to the platform device (platform_link.cpp).
extern DeviceIoFunctions PlatformIo;
// SMART requests to the physical drives (health_report.cpp).
extern DeviceIoFunctions DiskIo;
// The event monitor's device handle and its event waits (event_monitor.cpp).
extern DeviceIoFunctions MonitorIo;

struct EventLogFunctions {
    HANDLE(WINAPI* registerEventSource)(LPCWSTR, LPCWSTR);
    BOOL(WINAPI* reportEvent)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*, LPVOID);
    BOOL(WINAPI* deregisterEventSource)(HANDLE);
};

// Event-log writes (health_report.cpp).
extern EventLogFunctions EventLog;

struct SystemLibraryFunctions {
    HMODULE(WINAPI* loadLibrary)(LPCWSTR);
    FARPROC(WINAPI* getProcAddress)(HMODULE, LPCSTR);
    BOOL(WINAPI* freeLibrary)(HMODULE);
};

// Loading PowrProf.dll and finding SetSuspendState (power_loss.cpp), so that
// a test can answer with a recorder instead of suspending its machine.
extern SystemLibraryFunctions PowerLibrary;

// Where the service keeps "SoftwareSASGeneration" (user_session.cpp): the
// machine's policy key; tests point it at a key of their own.
struct RegistryLocation {
    HKEY root;
    const wchar_t* path;
};
extern RegistryLocation SasPolicyKey;

struct ServiceActionFunctions {
    BOOL (*launchInUserSession)(int mode, HANDLE* processOut, HANDLE* threadOut);
    void (*reportHealthChange)(DWORD code);
    void (*reportHealthDetails)();
    void (*sendCtrlAltDel)();
    void (*checkPendingHibernation)();
    HANDLE(WINAPI* createThread)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID,
                                 DWORD, LPDWORD);
    BOOL(WINAPI* setServiceStatus)(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS);
};

// The actions run for firmware events and service controls, and the status
// report of the control handler (service_control.cpp).
extern ServiceActionFunctions ServiceActions;
