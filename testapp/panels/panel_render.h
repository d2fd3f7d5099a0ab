// What each feature panel of the test dialog shows for a status word, and the
// values its setters are given. Side-effect free: the dialog methods apply the
// results to the controls.
//
// A status word is the signed 32-bit result of a library query; a negative
// value means the query failed and its other bits mean nothing.
#pragma once
#include <cstdint>
#include <string>

namespace tovrel {

// What a render step does to a control's enabled state.
enum class ControlChange : unsigned char { Leave, Enable, Disable };

// ---- WIFI, Bluetooth, microphone LED, volume LED -------------------------

// Radios show bit 1 = 1 as "ON"; the mute LEDs show bit 1 = 1 as "OFF".
enum class TwoStateKind : unsigned char { Radio, Led };

struct TwoStateView {
    std::wstring status;   // edit box
    std::wstring caption;  // ON/OFF button: the state a click switches to
    ControlChange buttons; // the panel's Update and ON/OFF buttons
};
TwoStateView RenderTwoState(TwoStateKind kind, std::int32_t status);

// True when a toggle may call the setter: read succeeded, feature present.
bool CanToggle(std::int32_t status);
// Argument of the setter for a toggle from `status`: the new state as the
// panel names it, 1 = "ON", 0 = "OFF".
std::int32_t ToggleArgument(TwoStateKind kind, std::int32_t status);

// ---- ambient light, power meter -------------------------------------------

struct AmbientView {
    bool numeric;        // true: set `value` as a signed integer item value
    std::int32_t value;  // the light value, bits 1 to 30
    std::wstring text;   // the text the edit box ends up showing
};
AmbientView RenderAmbientLight(std::int32_t status);

std::wstring RenderPowerMeter(std::int32_t status);

// ---- CAD support, battery ---------------------------------------------------

struct TypedView {
    std::wstring text;
    ControlChange updateButton;  // Disable when bit 1 says not available
};
TypedView RenderCadSupport(std::int32_t status);
TypedView RenderBatteryStatus(std::int32_t status);

// ---- USB charge, fan-speed control, PC health -------------------------------

struct UsbChargeView {
    std::wstring text;
    ControlChange s45List;    // list 1029
    ControlChange s0List;     // list 1030
    ControlChange setButton;  // "Set Mode" 1032
};
UsbChargeView RenderUsbCharge(std::int32_t status);

struct FscView {
    std::wstring text;
    ControlChange list;       // list 1033
    ControlChange setButton;  // "Set Mode" 1035
};
FscView RenderFscStatus(std::int32_t status);

std::wstring RenderPcHealth(std::int32_t status);

// Set values built from the drop-down selections: each index is cut to the
// bits its field has.
std::uint32_t UsbChargeSetValue(int s45Index, int s0Index);
std::uint32_t FscSetValue(int modeIndex);

}  // namespace tovrel
