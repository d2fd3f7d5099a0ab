// Power-loss hibernation: wired in by the session-actions work.
#include "qebevent.h"

HANDLE HaltHelperProcess = nullptr;
DWORD WINAPI PowerLossThread(LPVOID) { return 0; }
void HibernateNow() {}
DWORD ReadPowerFlags() { return 0x80000000u; }
void CheckPendingHibernation() {}
void HibernateCountdown() {}
INT_PTR CALLBACK CountdownDialogProc(HWND, UINT, WPARAM, LPARAM) { return 0; }
