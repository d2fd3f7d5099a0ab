/* Stand-in sas.dll: SendSAS records its argument and raises nothing.
 * Exported through sas.def, under the plain name only. */
#include "standin_note.h"

VOID WINAPI SendSAS(BOOL AsUser) {
    wchar_t text[32];
    _snwprintf_s(text, 32, _TRUNCATE, L"SendSAS(%d)", AsUser ? 1 : 0);
    StandinNote(QEBSIM_NOTE_SAS, text);
}
