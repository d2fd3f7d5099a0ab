// QEBEvent: process entry. Without a switch the process is the service;
// with one it is a short-lived helper in the user's session.
#include <string.h>

#include "qebevent.h"

namespace {

const BYTE kVolumeUpKey = VK_VOLUME_UP;      // 0xAF
const BYTE kVolumeDownKey = VK_VOLUME_DOWN;  // 0xAE

void RunAsService() {
    memset(&ServiceStatus, 0, sizeof(ServiceStatus));
    wchar_t name[] = L"QEBEvent";
    SERVICE_TABLE_ENTRYW table[] = {
        {name, ServiceMain},
        {nullptr, nullptr},
    };
    // Returns once the service has reported SERVICE_STOPPED, or at once when
    // the process was not started by the service control manager.
    StartServiceCtrlDispatcherW(table);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    switch (SelectRunMode()) {
    case RunModeHalt: HibernateCountdown(); break;
    case RunModeCad: PostWinlogonCtrlAltDel(); break;
    case RunModeVolumeUp: PressMediaKey(kVolumeUpKey); break;
    case RunModeVolumeDown: PressMediaKey(kVolumeDownKey); break;
    default: RunAsService(); break;
    }
    ExitProcess(0);
}
