#include "panel_sequence.h"

namespace tovrel {

void TraceWord(TraceSink trace, const wchar_t* label, std::uint32_t value) {
    if (!trace) return;
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
        static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
    trace(label, bytes, sizeof(bytes));
}

std::int32_t RunToggleSequence(TwoStateKind kind, QEB_GET_STATUS get, QEB_SET_VALUE set) {
    std::int32_t status = ReadStatus(get);
    if (CanToggle(status)) {
        if (set) set(ToggleArgument(kind, status));
        status = ReadStatus(get);
    }
    return status;
}

std::int32_t RunSetSequence(QEB_GET_STATUS get, QEB_SET_VALUE set, std::uint32_t value,
                            const wchar_t* setLabel, TraceSink trace) {
    std::int32_t status = ReadStatus(get);
    if (status >= 0) {
        TraceWord(trace, setLabel, value);
        if (set) set(static_cast<LONG>(value));
        status = ReadStatus(get);
    }
    return status;
}

}  // namespace tovrel
