#include "library_trace.h"

#include <windows.h>
#include <strsafe.h>

void TraceLibraryCall(const wchar_t* label, const void* data, unsigned count) {
    wchar_t line[tovrel::kTraceLineChars];
    tovrel::BuildTraceLine(line, label, data, count);
    OutputDebugStringW(line);
}
