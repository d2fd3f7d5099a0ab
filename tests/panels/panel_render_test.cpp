// What each panel shows for a status word, table by table.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "panel_render.h"

namespace tovrel {
namespace {

const char* Name(ControlChange c) {
    switch (c) {
        case ControlChange::Leave: return "Leave";
        case ControlChange::Enable: return "Enable";
        case ControlChange::Disable: return "Disable";
    }
    return "?";
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

constexpr std::int32_t kBits2To30 = 0x7FFFFFFC;

// ---- radios and mute LEDs ----------------------------------------------------

struct TwoStateRow {
    TwoStateKind kind;
    std::int32_t status;
    const wchar_t* text;
    const wchar_t* caption;
    ControlChange buttons;
};

const TwoStateRow kTwoStateRows[] = {
    {TwoStateKind::Radio, 3, L"ON", L"OFF", ControlChange::Leave},
    {TwoStateKind::Radio, 1, L"OFF", L"ON", ControlChange::Leave},
    {TwoStateKind::Radio, 2, L"N/A", L"N/A", ControlChange::Disable},
    {TwoStateKind::Radio, 0, L"N/A", L"N/A", ControlChange::Disable},
    {TwoStateKind::Radio, -1, L"Failed", L"N/A", ControlChange::Leave},
    {TwoStateKind::Radio, static_cast<std::int32_t>(0x80000003u), L"Failed", L"N/A", ControlChange::Leave},
    {TwoStateKind::Radio, static_cast<std::int32_t>(0x80000000u), L"Failed", L"N/A", ControlChange::Leave},
    {TwoStateKind::Radio, 1 | kBits2To30, L"OFF", L"ON", ControlChange::Leave},
    {TwoStateKind::Radio, 3 | kBits2To30, L"ON", L"OFF", ControlChange::Leave},
    {TwoStateKind::Radio, 2 | kBits2To30, L"N/A", L"N/A", ControlChange::Disable},
    {TwoStateKind::Led, 3, L"OFF", L"ON", ControlChange::Leave},
    {TwoStateKind::Led, 1, L"ON", L"OFF", ControlChange::Leave},
    {TwoStateKind::Led, 2, L"N/A", L"N/A", ControlChange::Disable},
    {TwoStateKind::Led, -1, L"Failed", L"N/A", ControlChange::Leave},
    {TwoStateKind::Led, static_cast<std::int32_t>(0x80000003u), L"Failed", L"N/A", ControlChange::Leave},
    {TwoStateKind::Led, 1 | kBits2To30, L"ON", L"OFF", ControlChange::Leave},
    {TwoStateKind::Led, 3 | kBits2To30, L"OFF", L"ON", ControlChange::Leave},
};

TEST(TwoStatePanel, TextCaptionAndButtonsPerStatusWord) {
    for (const TwoStateRow& row : kTwoStateRows) {
        const TwoStateView v = RenderTwoState(row.kind, row.status);
        SCOPED_TRACE(testing::Message() << (row.kind == TwoStateKind::Radio ? "radio" : "LED")
                                        << " status 0x" << std::hex << row.status);
        EXPECT_EQ(Narrow(row.text), Narrow(v.status));
        EXPECT_EQ(Narrow(row.caption), Narrow(v.caption));
        EXPECT_STREQ(Name(row.buttons), Name(v.buttons));
    }
}

struct ToggleRow {
    TwoStateKind kind;
    std::int32_t status;
    bool canToggle;
    std::int32_t argument;  // only meaningful when canToggle
};

const ToggleRow kToggleRows[] = {
    {TwoStateKind::Radio, 3, true, 0},
    {TwoStateKind::Radio, 1, true, 1},
    {TwoStateKind::Radio, 3 | kBits2To30, true, 0},
    {TwoStateKind::Led, 3, true, 1},
    {TwoStateKind::Led, 1, true, 0},
    {TwoStateKind::Led, 1 | kBits2To30, true, 0},
    {TwoStateKind::Radio, 2, false, 0},
    {TwoStateKind::Radio, -1, false, 0},
    {TwoStateKind::Led, static_cast<std::int32_t>(0x80000003u), false, 0},
};

TEST(TwoStatePanel, ToggleDecisionAndArgument) {
    for (const ToggleRow& row : kToggleRows) {
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << row.status);
        EXPECT_EQ(row.canToggle, CanToggle(row.status));
        if (row.canToggle) {
            EXPECT_EQ(row.argument, ToggleArgument(row.kind, row.status));
        }
    }
}

// The button names the state a click switches to: the toggle argument for a
// present feature is exactly what the caption says (1 for "ON", 0 for "OFF").
TEST(TwoStatePanel, ToggleArgumentMatchesCaption) {
    for (TwoStateKind kind : {TwoStateKind::Radio, TwoStateKind::Led}) {
        for (std::int32_t status : {1, 3, 5, 7, 0x7FFFFFFF, 0x7FFFFFFD}) {
            const std::wstring caption = RenderTwoState(kind, status).caption;
            EXPECT_EQ(caption == L"ON" ? 1 : 0, ToggleArgument(kind, status))
                << "status 0x" << std::hex << status << " caption " << Narrow(caption);
        }
    }
}

// ---- ambient light and power meter ------------------------------------------

struct AmbientRow {
    std::int32_t status;
    bool numeric;
    std::int32_t value;
    const wchar_t* text;
};

const AmbientRow kAmbientRows[] = {
    {0x15, true, 10, L"10"},
    {0x14, false, 0, L"N/A"},
    {0, false, 0, L"N/A"},
    {1, true, 0, L"0"},
    {-1, false, 0, L"Failed"},
    {static_cast<std::int32_t>(0x80000015u), false, 0, L"Failed"},
    {0x7FFFFFFF, true, 0x3FFFFFFF, L"1073741823"},
};

TEST(AmbientLightPanel, ValueNotAvailableOrFailed) {
    for (const AmbientRow& row : kAmbientRows) {
        const AmbientView v = RenderAmbientLight(row.status);
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << row.status);
        EXPECT_EQ(row.numeric, v.numeric);
        if (row.numeric) {
            EXPECT_EQ(row.value, v.value);
        }
        EXPECT_EQ(Narrow(row.text), Narrow(v.text));
    }
}

struct TextRow {
    std::int32_t status;
    const wchar_t* text;
};

const TextRow kPowerMeterRows[] = {
    {1, L"Desktop 0.0"},
    {3, L"DesktopN/A 0.0"},
    {0, L"AIO 0.0"},
    {2, L"AION/A 0.0"},
    {1 | (12 << 2) | (5 << 16), L"Desktop 12.5"},
    {3 | (12 << 2) | (5 << 16), L"DesktopN/A 12.5"},
    {(16383 << 2) | (32767 << 16), L"AIO 16383.32767"},
    {-1, L"Failed"},
    {static_cast<std::int32_t>(0x80000001u), L"Failed"},
};

TEST(PowerMeterPanel, Texts) {
    for (const TextRow& row : kPowerMeterRows) {
        EXPECT_EQ(Narrow(row.text), Narrow(RenderPowerMeter(row.status)))
            << "status 0x" << std::hex << row.status;
    }
}

// ---- CAD support and battery ---------------------------------------------------

struct TypedRow {
    std::int32_t status;
    const wchar_t* text;
    ControlChange update;
};

const TypedRow kCadRows[] = {
    {3, L"Desktop", ControlChange::Leave},
    {2, L"AIO", ControlChange::Leave},
    {1, L"Desktop N/A", ControlChange::Disable},
    {0, L"AIO N/A", ControlChange::Disable},
    {7, L"Desktop", ControlChange::Leave},  // bit 2 means nothing here
    {-1, L"Failed", ControlChange::Leave},
    {static_cast<std::int32_t>(0x80000001u), L"Failed", ControlChange::Leave},
};

const TypedRow kBatteryRows[] = {
    {7, L"Desktop BATTERY", ControlChange::Leave},
    {6, L"AIO BATTERY", ControlChange::Leave},
    {3, L"Desktop ACPWR", ControlChange::Leave},
    {2, L"AIO ACPWR", ControlChange::Leave},
    {0, L"AIO N/A", ControlChange::Disable},
    {5, L"Desktop N/A", ControlChange::Disable},  // bit 2 only counts with bit 1
    {-1, L"Failed", ControlChange::Leave},
};

TEST(CadSupportPanel, TextsAndUpdateButton) {
    for (const TypedRow& row : kCadRows) {
        const TypedView v = RenderCadSupport(row.status);
        EXPECT_EQ(Narrow(row.text), Narrow(v.text)) << "status " << row.status;
        EXPECT_STREQ(Name(row.update), Name(v.updateButton)) << "status " << row.status;
    }
}

TEST(BatteryPanel, TextsAndUpdateButton) {
    for (const TypedRow& row : kBatteryRows) {
        const TypedView v = RenderBatteryStatus(row.status);
        EXPECT_EQ(Narrow(row.text), Narrow(v.text)) << "status " << row.status;
        EXPECT_STREQ(Name(row.update), Name(v.updateButton)) << "status " << row.status;
    }
}

// ---- USB charge, fan-speed control, PC health ----------------------------------

struct UsbRow {
    std::int32_t status;
    const wchar_t* text;
    ControlChange s45, s0, set;
};

constexpr ControlChange E = ControlChange::Enable;
constexpr ControlChange D = ControlChange::Disable;

const UsbRow kUsbRows[] = {
    {0x0F, L"For S4/5 is enabled,mode for S0 is CDP.", E, E, E},
    {0x07, L"For S4/5 is enabled,mode for S0 is DCP.", E, E, E},
    {5, L"For S4/5 is disabled,mode for S0 is DCP.", E, E, E},
    {0x0D, L"For S4/5 is disabled,mode for S0 is CDP.", E, E, E},
    {3, L"For S4/5 is enabled,and don't support DCP.", E, D, E},
    {0x0B, L"For S4/5 is enabled,and don't support DCP.", E, D, E},  // bit 3 needs bit 2
    {1, L"For S4/5 is disabled,and don't support DCP.", E, D, E},
    {0x0E, L"N/A", D, D, D},
    {0, L"N/A", D, D, D},
    {-1, L"Failed", D, D, D},
    {static_cast<std::int32_t>(0x8000000Fu), L"Failed", D, D, D},
};

TEST(UsbChargePanel, TextsAndControls) {
    for (const UsbRow& row : kUsbRows) {
        const UsbChargeView v = RenderUsbCharge(row.status);
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << row.status);
        EXPECT_EQ(Narrow(row.text), Narrow(v.text));
        EXPECT_STREQ(Name(row.s45), Name(v.s45List));
        EXPECT_STREQ(Name(row.s0), Name(v.s0List));
        EXPECT_STREQ(Name(row.set), Name(v.setButton));
    }
}

struct FscRow {
    std::int32_t status;
    const wchar_t* text;
    ControlChange controls;
};

const FscRow kFscRows[] = {
    {1, L"BA mode", E},
    {3, L"BT mode", E},
    {5, L"Full speed mode", E},
    {7, L"Invalid", E},
    {7 | 0x7FFFFFF8, L"Invalid", E},
    {6, L"N/A", D},
    {0, L"N/A", D},
    {-1, L"Failed", D},
    {static_cast<std::int32_t>(0x80000005u), L"Failed", D},
};

TEST(FscPanel, TextsAndControls) {
    for (const FscRow& row : kFscRows) {
        const FscView v = RenderFscStatus(row.status);
        SCOPED_TRACE(testing::Message() << "status 0x" << std::hex << row.status);
        EXPECT_EQ(Narrow(row.text), Narrow(v.text));
        EXPECT_STREQ(Name(row.controls), Name(v.list));
        EXPECT_STREQ(Name(row.controls), Name(v.setButton));
    }
}

const TextRow kPcHealthRows[] = {
    {1, L"Green mode"},
    {3, L"Yellow mode"},
    {5, L"Red mode"},
    {7, L"Invalid"},
    {0x7FFFFFF9, L"Green mode"},
    {4, L"N/A"},
    {-1, L"Failed"},
};

TEST(PcHealthPanel, Texts) {
    for (const TextRow& row : kPcHealthRows) {
        EXPECT_EQ(Narrow(row.text), Narrow(RenderPcHealth(row.status)))
            << "status 0x" << std::hex << row.status;
    }
}

// ---- set values -----------------------------------------------------------------

TEST(SetValues, UsbChargeFromListIndices) {
    struct Row { int s45, s0; std::uint32_t value; };
    const Row rows[] = {{1, 1, 3}, {0, 1, 2}, {1, 0, 1}, {0, 0, 0}, {3, 2, 1}};
    for (const Row& r : rows) {
        EXPECT_EQ(r.value, UsbChargeSetValue(r.s45, r.s0)) << r.s45 << "," << r.s0;
    }
}

TEST(SetValues, FscFromListIndex) {
    struct Row { int index; std::uint32_t value; };
    const Row rows[] = {{0, 0}, {1, 1}, {2, 2}, {6, 2}};
    for (const Row& r : rows) EXPECT_EQ(r.value, FscSetValue(r.index)) << r.index;
}

}  // namespace
}  // namespace tovrel
