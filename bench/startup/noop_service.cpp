// A do-nothing service in its own process: reports RUNNING at once and
// STOPPED on a stop control. The yardstick of QEBEvent's start and memory.
#include <windows.h>

namespace {

wchar_t g_name[] = L"QEBNoopService";
SERVICE_STATUS g_status;
SERVICE_STATUS_HANDLE g_handle = nullptr;

DWORD WINAPI Handler(DWORD control, DWORD, LPVOID, LPVOID) {
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) g_status.dwCurrentState = SERVICE_STOPPED;
    SetServiceStatus(g_handle, &g_status);
    return NO_ERROR;
}

void WINAPI Main(DWORD, LPWSTR*) {
    g_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_status.dwCurrentState = SERVICE_RUNNING;
    g_status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    g_handle = RegisterServiceCtrlHandlerExW(g_name, Handler, nullptr);
    SetServiceStatus(g_handle, &g_status);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    SERVICE_TABLE_ENTRYW table[] = {{g_name, Main}, {nullptr, nullptr}};
    StartServiceCtrlDispatcherW(table);
    return 0;
}
