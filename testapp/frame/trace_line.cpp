// The trace line of TraceLibraryCall (pure: no output).
#include "library_trace.h"

#include <windows.h>
#include <strsafe.h>

namespace tovrel {

size_t BuildTraceLine(wchar_t (&line)[kTraceLineChars], const wchar_t* label, const void* data,
                      unsigned count) {
    ZeroMemory(line, sizeof(line));
    // A label that does not fit is cut; the line stays terminated.
    StringCchPrintfW(line, kTraceLineChars, L"TOVREL:%ls =>", label ? label : L"");
    size_t length = 0;
    StringCchLengthW(line, kTraceLineChars, &length);

    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    const size_t kGroup = 3;  // " %02X"
    for (unsigned i = 0; bytes && i < count; ++i) {
        size_t room = kTraceLineChars - length;  // including the terminator
        if (room < kGroup + 1) break;
        if (FAILED(StringCchPrintfW(line + length, room, L" %02X", bytes[i]))) break;
        length += kGroup;
    }
    return length;
}

}  // namespace tovrel
