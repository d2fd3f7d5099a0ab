// Call sequences of the panels that write a feature: which library entry
// points are called, in which order and with which argument. They take the
// entry points (and the trace sink) as parameters so that the order can be
// checked against recording fakes; the dialog passes its bound slots.
#pragma once
#include <cstdint>

#include "../frame/qebi_api.h"
#include "panel_render.h"

namespace tovrel {

// The status word a read stands for when its entry point is not bound.
constexpr LONG kReadFailed = static_cast<LONG>(0x80000000u);

// Calls a query entry point; an unbound one counts as a failed read.
inline std::int32_t ReadStatus(QEB_GET_STATUS get) { return get ? get() : kReadFailed; }

// Debugger trace of a library value: label, bytes, byte count.
typedef void (*TraceSink)(const wchar_t* label, const void* data, unsigned count);

// Traces a 32-bit value as its 4 bytes, lowest first.
void TraceWord(TraceSink trace, const wchar_t* label, std::uint32_t value);

// ON/OFF button: read; if the read succeeded and the feature is present, set
// the other state and read again. Returns the status word to render.
std::int32_t RunToggleSequence(TwoStateKind kind, QEB_GET_STATUS get, QEB_SET_VALUE set);

// "Set Mode" button: read (untraced); if not negative, trace `value` under
// `setLabel`, set it and read again. Returns the status word to render; the
// render step traces it.
std::int32_t RunSetSequence(QEB_GET_STATUS get, QEB_SET_VALUE set, std::uint32_t value,
                            const wchar_t* setLabel, TraceSink trace);

}  // namespace tovrel
