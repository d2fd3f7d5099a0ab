// Run mode of any command line: the first switch of the list -HALT, -CAD,
// -VOLUMEUP, -VOLUMEDOWN found anywhere on it, case-sensitively; and the
// helper command line of every mode at every buffer size: whole or empty.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "session_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int mode = static_cast<int8_t>(in.Byte());
    const std::wstring line = in.RestAsWide();
    const std::wstring upToZero(line.c_str());  // what the program sees of it

    static const wchar_t* const kSwitches[] = {L"-HALT", L"-CAD", L"-VOLUMEUP", L"-VOLUMEDOWN"};
    int expected = RunModeService;
    for (int i = 0; i < 4 && expected == RunModeService; ++i)
        if (upToZero.find(kSwitches[i]) != std::wstring::npos) expected = i + 1;
    const int got = SelectRunModeFrom(line.c_str());
    FUZZ_CHECK(got == expected, "mode %d, expected %d", got, expected);

    const bool known = mode >= RunModeHalt && mode <= RunModeVolumeDown;
    const std::wstring whole = known ? std::wstring(L"QEBEvent.exe ") + kSwitches[mode - 1] : L"";
    for (size_t capacity = 0; capacity <= whole.size() + 2; ++capacity) {
        std::vector<wchar_t> buffer(capacity);
        const bool built = BuildHelperCommandLine(mode, buffer.data(), capacity);
        const bool fits = known && capacity > whole.size();
        FUZZ_CHECK(built == fits, "mode %d capacity %zu: built %d", mode, capacity, built);
        if (capacity == 0) continue;
        FUZZ_CHECK((built ? whole : std::wstring()) == buffer.data(), "mode %d capacity %zu: wrong text", mode,
                   capacity);
    }
    return 0;
}
