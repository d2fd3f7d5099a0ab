// The debugger trace line for any label and bytes: terminated inside its
// buffer, "TOVREL:<label> =>" (label cut if need be), then whole " %02X"
// groups, in memory order, while they fit.
#include <string>

#include "fuzz_check.h"
#include "library_trace.h"

using namespace tovrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const bool nullLabel = (in.Byte() & 7) == 0;
    const std::wstring label = in.WideString(400);
    const std::string bytes = in.Bytes(in.Left());

    wchar_t line[kTraceLineChars];
    const size_t length = BuildTraceLine(line, nullLabel ? nullptr : label.c_str(), bytes.data(),
                                         static_cast<unsigned>(bytes.size()));
    const std::wstring got(line);
    FUZZ_CHECK(length == got.size() && length < kTraceLineChars, "length %zu, text %zu", length, got.size());

    std::wstring expected = L"TOVREL:" + (nullLabel ? std::wstring() : label) + L" =>";
    if (expected.size() > kTraceLineChars - 1) expected.resize(kTraceLineChars - 1);
    for (unsigned char b : bytes) {
        wchar_t group[4];
        swprintf(group, 4, L" %02X", b);
        if (expected.size() + 3 > kTraceLineChars - 1) break;
        expected += group;
    }
    FUZZ_CHECK(got == expected, "%zu chars, expected %zu", got.size(), expected.size());
    return 0;
}
