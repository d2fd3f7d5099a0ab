/* Stand-in PowrProf.dll: SetSuspendState records its arguments and reports
 * success at once instead of suspending the machine. Like Windows around a
 * hibernation, it tells the windows of its desktop: WM_POWERBROADCAST with
 * PBT_APMSUSPEND, then PBT_APMRESUMEAUTOMATIC once it "resumes" (posted to
 * HWND_BROADCAST, so no window can hold the caller up).
 *
 * IsPwrHibernateAllowed answers TRUE, or FALSE on a PC whose hibernation is
 * switched off: the REG_DWORD "HibernateAllowed" under
 * HKLM\Software\QEBSim\PowrProf, when present and 0.
 *
 * Like Windows, it refuses (FALSE, ERROR_PRIVILEGE_NOT_HELD) a caller whose
 * token does not hold SeShutdownPrivilege enabled. A test can also make it
 * refuse every call with an error of its choice: the REG_DWORD
 * "SetSuspendStateError" under HKLM\Software\QEBSim\PowrProf, when present
 * and not 0. A refused call is journaled as
 * "SetSuspendState(h,f,d) refused, error N". */
#include "standin_note.h"

static BOOL ShutdownPrivilegeEnabled(void) {
    HANDLE token = NULL;
    PRIVILEGE_SET set;
    BOOL enabled = FALSE;
    /* An impersonating thread is judged by its own token. */
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
        !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    ZeroMemory(&set, sizeof(set));
    set.PrivilegeCount = 1;
    set.Control = PRIVILEGE_SET_ALL_NECESSARY;
    if (!LookupPrivilegeValueW(NULL, L"SeShutdownPrivilege", &set.Privilege[0].Luid) ||
        !PrivilegeCheck(token, &set, &enabled))
        enabled = FALSE;
    CloseHandle(token);
    return enabled;
}

static DWORD ConfiguredValue(const wchar_t* name, DWORD fallback) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\QEBSim\\PowrProf", name, RRF_RT_REG_DWORD, NULL, &value,
                     &size) != ERROR_SUCCESS)
        return fallback;
    return value;
}

static DWORD ConfiguredRefusal(void) { return ConfiguredValue(L"SetSuspendStateError", 0); }

BOOLEAN WINAPI IsPwrHibernateAllowed(void) { return ConfiguredValue(L"HibernateAllowed", 1) != 0; }

BOOLEAN WINAPI SetSuspendState(BOOLEAN Hibernate, BOOLEAN ForceCritical, BOOLEAN DisableWakeEvent) {
    wchar_t text[80];
    DWORD error = ConfiguredRefusal();
    if (error == 0 && !ShutdownPrivilegeEnabled()) error = ERROR_PRIVILEGE_NOT_HELD;
    if (error != 0) {
        _snwprintf_s(text, 80, _TRUNCATE, L"SetSuspendState(%u,%u,%u) refused, error %lu", (unsigned)Hibernate,
                     (unsigned)ForceCritical, (unsigned)DisableWakeEvent, (unsigned long)error);
        StandinNote(QEBSIM_NOTE_POWRPROF, text);
        SetLastError(error);
        return FALSE;
    }
    _snwprintf_s(text, 80, _TRUNCATE, L"SetSuspendState(%u,%u,%u)", (unsigned)Hibernate,
                 (unsigned)ForceCritical, (unsigned)DisableWakeEvent);
    StandinNote(QEBSIM_NOTE_POWRPROF, text);
    PostMessageW(HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
    PostMessageW(HWND_BROADCAST, WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
    return TRUE;
}
