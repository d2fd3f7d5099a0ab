// Panel rendering and the call sequences of the setting panels, for any
// status words the library returns: a failed read (negative word) shows
// "Failed", a read that did not fail is judged by its bits only, and a setter
// is called only after a read that allows it, once, with the argument the
// panel names.
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "panel_sequence.h"

using namespace tovrel;

namespace {

// The library as the fuzzer answers it: each read returns the next word.
FuzzInput* g_in;
std::vector<std::wstring> g_calls;
LONG WINAPI FakeGet() {
    g_calls.push_back(L"get");
    return static_cast<LONG>(g_in->Dword());
}
LONG WINAPI FakeSet(LONG value) {
    g_calls.push_back(L"set " + std::to_wstring(value));
    return static_cast<LONG>(g_in->Dword());
}
void FakeTrace(const wchar_t* label, const void*, unsigned count) {
    g_calls.push_back(std::wstring(L"trace ") + label + L" " + std::to_wstring(count));
}

void CheckRender(int32_t s) {
    const bool failed = s < 0, present = (s & 1) != 0;
    const TwoStateView radio = RenderTwoState(TwoStateKind::Radio, s);
    const TwoStateView led = RenderTwoState(TwoStateKind::Led, s);
    FUZZ_CHECK((radio.status == L"Failed") == failed && (led.status == L"Failed") == failed, "0x%08X", s);
    if (!failed && present) {
        FUZZ_CHECK(radio.status != led.status && radio.caption == led.status, "0x%08X: radio and LED", s);
        FUZZ_CHECK(radio.status == ((s & 2) ? L"ON" : L"OFF"), "0x%08X radio", s);
    }
    FUZZ_CHECK(CanToggle(s) == (!failed && present), "0x%08X toggle", s);
    const AmbientView ambient = RenderAmbientLight(s);
    FUZZ_CHECK(ambient.numeric == (!failed && present) && (!ambient.numeric || ambient.value >= 0) &&
                   (!ambient.numeric || ambient.text == std::to_wstring(ambient.value)),
               "0x%08X ambient", s);
    const std::wstring power = RenderPowerMeter(s);
    FUZZ_CHECK(failed ? power == L"Failed" : (power.rfind(L"Desktop", 0) == 0 || power.rfind(L"AIO", 0) == 0),
               "0x%08X power", s);
    FUZZ_CHECK((RenderCadSupport(s).text == L"Failed") == failed, "0x%08X cad", s);
    FUZZ_CHECK((RenderBatteryStatus(s).text == L"Failed") == failed, "0x%08X battery", s);
    const UsbChargeView usb = RenderUsbCharge(s);
    FUZZ_CHECK((usb.setButton == ControlChange::Enable) == (!failed && present), "0x%08X usb", s);
    const FscView fsc = RenderFscStatus(s);
    FUZZ_CHECK((fsc.setButton == ControlChange::Enable) == (!failed && present), "0x%08X fsc", s);
    FUZZ_CHECK(!RenderPcHealth(s).empty(), "0x%08X health", s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    g_in = &in;
    CheckRender(static_cast<int32_t>(in.Dword()));

    const int s45 = static_cast<int>(in.Dword()), s0 = static_cast<int>(in.Dword()), mode = static_cast<int>(in.Dword());
    FUZZ_CHECK(UsbChargeSetValue(s45, s0) <= 3 && FscSetValue(mode) <= 3, "set values out of their fields");

    // Toggle: get; and when that read allows it, set the other state and get.
    const TwoStateKind kind = (in.Byte() & 1) ? TwoStateKind::Led : TwoStateKind::Radio;
    FuzzInput peek = in;
    const int32_t first = static_cast<int32_t>(peek.Dword());
    g_calls.clear();
    RunToggleSequence(kind, FakeGet, FakeSet);
    std::vector<std::wstring> expected{L"get"};
    if (CanToggle(first)) {
        expected.push_back(L"set " + std::to_wstring(ToggleArgument(kind, first)));
        expected.push_back(L"get");
    }
    FUZZ_CHECK(g_calls == expected, "toggle after 0x%08X: %zu calls", first, g_calls.size());
    FUZZ_CHECK(ToggleArgument(kind, first) == 0 || ToggleArgument(kind, first) == 1, "toggle argument");

    // Set Mode: get; when not negative, trace the value, set it, get.
    const uint32_t value = in.Dword();
    peek = in;
    const int32_t before = static_cast<int32_t>(peek.Dword());
    g_calls.clear();
    RunSetSequence(FakeGet, FakeSet, value, L"SetX", FakeTrace);
    expected = {L"get"};
    if (before >= 0) {
        expected.push_back(L"trace SetX 4");
        expected.push_back(L"set " + std::to_wstring(static_cast<LONG>(value)));
        expected.push_back(L"get");
    }
    FUZZ_CHECK(g_calls == expected, "set mode after 0x%08X: %zu calls", before, g_calls.size());
    // Unbound entry points count as failed reads and are never called.
    FUZZ_CHECK(RunToggleSequence(kind, nullptr, FakeSet) == kReadFailed, "unbound read");
    return 0;
}
