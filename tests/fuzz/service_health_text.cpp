// The event-log texts at every buffer size: always terminated inside the
// buffer, the returned length is the text's, a cut text is the start of the
// whole one, and the service-event text always ends in its two line feeds.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "health_core.h"

namespace {

void CheckDetails(DWORD status, const BYTE* readings) {
    std::vector<wchar_t> big(kHealthTextChars * 4);
    const size_t whole = FormatHealthDetails(status, readings, big.data(), big.size());
    const std::wstring full(big.data());
    FUZZ_CHECK(whole == full.size() && whole < kHealthTextChars, "whole text %zu chars", whole);
    for (size_t chars = 0; chars <= whole + 2; ++chars) {
        std::vector<wchar_t> text(chars);  // exact size: a write past it trips the sanitizer
        const size_t n = FormatHealthDetails(status, readings, text.data(), chars);
        if (chars == 0) {
            FUZZ_CHECK(n == 0, "size 0 gave %zu", n);
            continue;
        }
        const size_t expected = whole < chars ? whole : chars - 1;
        FUZZ_CHECK(n == expected && text[n] == L'\0' && full.compare(0, n, text.data(), n) == 0,
                   "size %zu: %zu chars, expected %zu", chars, n, expected);
    }
}

void CheckServiceEvent(const std::wstring& input) {
    for (size_t chars = 0; chars <= input.size() + 4 && chars <= kServiceEventTextChars; ++chars) {
        std::vector<wchar_t> out(chars);
        const size_t n = FormatServiceEventText(input.c_str(), out.data(), chars);
        if (chars < 3) {
            FUZZ_CHECK(n == 0 && (chars == 0 || out[0] == L'\0'), "size %zu gave %zu", chars, n);
            continue;
        }
        const size_t kept = input.size() < chars - 3 ? input.size() : chars - 3;
        FUZZ_CHECK(n == kept + 2 && out[n] == L'\0' && out[n - 1] == L'\n' && out[n - 2] == L'\n' &&
                       input.compare(0, kept, out.data(), kept) == 0,
                   "size %zu: %zu chars for a text of %zu", chars, n, input.size());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const DWORD status = in.Dword();
    BYTE readings[kHealthReadingsSize];
    for (BYTE& b : readings) b = in.Byte();
    CheckDetails(status, readings);

    const wchar_t* change = HealthChangeText(status);
    FUZZ_CHECK((change != nullptr) == (status == 0x1042 || status == 0x1043), "code 0x%X", status);

    CheckServiceEvent(in.WideString(kServiceEventTextChars + 8));
    return 0;
}
