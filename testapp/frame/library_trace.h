// Debugger trace of values exchanged with QEBI.dll:
// "TOVREL:<label> =>" followed by " %02X" per byte, in memory order.
#pragma once
#include <stddef.h>

namespace tovrel {

// Length of the trace line buffer, terminator included.
constexpr size_t kTraceLineChars = 256;

// Builds the line for TraceLibraryCall in line (zero-filled first). The line
// is cut at the buffer: a label too long for it is cut, and byte groups are
// added only while a whole group still fits. Returns the line's length.
size_t BuildTraceLine(wchar_t (&line)[kTraceLineChars], const wchar_t* label, const void* data,
                      unsigned count);

}  // namespace tovrel

// Writes the trace line to the debugger output (no line end is added).
void TraceLibraryCall(const wchar_t* label, const void* data, unsigned count);
