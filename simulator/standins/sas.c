/* Stand-in sas.dll: SendSAS records its argument and raises nothing. */
#include "standin_note.h"

__declspec(dllexport) VOID WINAPI SendSAS(BOOL AsUser) {
    wchar_t text[32];
    _snwprintf_s(text, 32, _TRUNCATE, L"SendSAS(%d)", AsUser ? 1 : 0);
    StandinNote(QEBSIM_NOTE_SAS, text);
}
