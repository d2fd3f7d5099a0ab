// Health status reporting: wired in by the health-reporting work.
#include "qebevent.h"

volatile LONG CachedDiskIndex = -1;
void WriteServiceEvent(WORD, DWORD, const wchar_t*) {}
void ReportHealthChange(DWORD) {}
void ReportHealthDetails() {}
DWORD ReadHealthStatus(void*, int) { return 0x80000000u; }
BOOL ReadDiskTemperature(BYTE*) { return FALSE; }
BOOL ReadSmartTemperature(HANDLE, int, BYTE*) { return FALSE; }
