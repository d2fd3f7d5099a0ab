#include "panel_render.h"

#include <windows.h>
#include <strsafe.h>

namespace tovrel {
namespace {

const wchar_t* SystemType(std::int32_t status) {
    return (status & 1) ? L"Desktop" : L"AIO";
}

// Bits 1 and 2 of the fan-speed and health words.
unsigned ModeNumber(std::int32_t status) {
    return (static_cast<std::uint32_t>(status) >> 1) & 3u;
}

}  // namespace

TwoStateView RenderTwoState(TwoStateKind kind, std::int32_t status) {
    if (status < 0) return {L"Failed", L"N/A", ControlChange::Leave};
    if (!(status & 1)) return {L"N/A", L"N/A", ControlChange::Disable};
    bool on = (status & 2) != 0;
    if (kind == TwoStateKind::Led) on = !on;
    if (on) return {L"ON", L"OFF", ControlChange::Leave};
    return {L"OFF", L"ON", ControlChange::Leave};
}

bool CanToggle(std::int32_t status) {
    return status >= 0 && (status & 1) != 0;
}

std::int32_t ToggleArgument(TwoStateKind kind, std::int32_t status) {
    const std::int32_t bit1 = (status >> 1) & 1;
    return kind == TwoStateKind::Radio ? (bit1 ^ 1) : bit1;
}

AmbientView RenderAmbientLight(std::int32_t status) {
    if (status < 0) return {false, 0, L"Failed"};
    if (!(status & 1)) return {false, 0, L"N/A"};
    const std::int32_t value =
        static_cast<std::int32_t>((static_cast<std::uint32_t>(status) >> 1) & 0x3FFFFFFFu);
    return {true, value, std::to_wstring(value)};
}

std::wstring RenderPowerMeter(std::int32_t status) {
    if (status < 0) return L"Failed";
    const std::uint32_t word = static_cast<std::uint32_t>(status);
    wchar_t text[64] = {};
    StringCchPrintfW(text, ARRAYSIZE(text), L"%ls%ls %d.%d", SystemType(status),
                     (word & 2) ? L"N/A" : L"",
                     static_cast<int>((word >> 2) & 0x3FFFu),
                     static_cast<int>((word >> 16) & 0x7FFFu));
    return text;
}

TypedView RenderCadSupport(std::int32_t status) {
    if (status < 0) return {L"Failed", ControlChange::Leave};
    std::wstring text = SystemType(status);
    if (!(status & 2)) {
        text += L" N/A";
        return {text, ControlChange::Disable};
    }
    return {text, ControlChange::Leave};
}

TypedView RenderBatteryStatus(std::int32_t status) {
    if (status < 0) return {L"Failed", ControlChange::Leave};
    std::wstring text = SystemType(status);
    if (!(status & 2)) {
        text += L" N/A";
        return {text, ControlChange::Disable};
    }
    text += (status & 4) ? L" BATTERY" : L" ACPWR";
    return {text, ControlChange::Leave};
}

UsbChargeView RenderUsbCharge(std::int32_t status) {
    if (status < 0 || !(status & 1)) {
        return {status < 0 ? L"Failed" : L"N/A", ControlChange::Disable,
                ControlChange::Disable, ControlChange::Disable};
    }
    UsbChargeView view;
    view.text = L"For S4/5 is ";
    view.text += (status & 2) ? L"enabled," : L"disabled,";
    view.s45List = ControlChange::Enable;
    if (status & 4) {
        view.text += (status & 8) ? L"mode for S0 is CDP." : L"mode for S0 is DCP.";
        view.s0List = ControlChange::Enable;
    } else {
        view.text += L"and don't support DCP.";
        view.s0List = ControlChange::Disable;
    }
    view.setButton = ControlChange::Enable;
    return view;
}

FscView RenderFscStatus(std::int32_t status) {
    static const wchar_t* const kModes[4] = {L"BA mode", L"BT mode", L"Full speed mode",
                                             L"Invalid"};
    if (status < 0 || !(status & 1)) {
        return {status < 0 ? L"Failed" : L"N/A", ControlChange::Disable, ControlChange::Disable};
    }
    return {kModes[ModeNumber(status)], ControlChange::Enable, ControlChange::Enable};
}

std::wstring RenderPcHealth(std::int32_t status) {
    static const wchar_t* const kModes[4] = {L"Green mode", L"Yellow mode", L"Red mode",
                                             L"Invalid"};
    if (status < 0) return L"Failed";
    if (!(status & 1)) return L"N/A";
    return kModes[ModeNumber(status)];
}

std::uint32_t UsbChargeSetValue(int s45Index, int s0Index) {
    return (static_cast<std::uint32_t>(s45Index) & 1u) |
           ((static_cast<std::uint32_t>(s0Index) & 1u) << 1);
}

std::uint32_t FscSetValue(int modeIndex) {
    return static_cast<std::uint32_t>(modeIndex) & 3u;
}

}  // namespace tovrel
