/* Stand-in PowrProf.dll: SetSuspendState records its arguments and reports
 * success at once instead of suspending the machine. */
#include "standin_note.h"

BOOLEAN WINAPI SetSuspendState(BOOLEAN Hibernate, BOOLEAN ForceCritical,
                                                     BOOLEAN DisableWakeEvent) {
    wchar_t text[48];
    _snwprintf_s(text, 48, _TRUNCATE, L"SetSuspendState(%u,%u,%u)", (unsigned)Hibernate,
                 (unsigned)ForceCritical, (unsigned)DisableWakeEvent);
    StandinNote(QEBSIM_NOTE_POWRPROF, text);
    return TRUE;
}
