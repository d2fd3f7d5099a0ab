// User-session helpers and input injection: wired in by the session-actions work.
#include "qebevent.h"

BOOL LaunchInUserSession(int, HANDLE*, HANDLE*) { return FALSE; }
void PressMediaKey(BYTE) {}
void SendCtrlAltDel() {}
void PostWinlogonCtrlAltDel() {}
BOOL SwitchThreadDesktop(HDESK) { return FALSE; }
