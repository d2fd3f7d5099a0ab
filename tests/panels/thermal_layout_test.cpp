// The thermal panel's text: header, items, columns and line breaking.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "thermal_layout.h"

namespace tovrel {
namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// Splits at "\r\n"; a trailing "\r\n" yields a trailing empty line.
std::vector<std::string> SplitLines(const std::wstring& text) {
    std::vector<std::string> lines;
    std::string all = Narrow(text);
    std::size_t start = 0;
    for (;;) {
        const std::size_t pos = all.find("\r\n", start);
        if (pos == std::string::npos) {
            lines.push_back(all.substr(start));
            return lines;
        }
        lines.push_back(all.substr(start, pos - start));
        start = pos + 2;
    }
}

TEST(ThermalText, FirstWorkedExampleLineForLine) {
    const std::uint16_t readings[10] = {0x002D, 0x0534, 0x0028, 0x0223, 0x0026,
                                        0x0000, 1200, 900, 0, 0};
    const std::vector<std::string> want = {
        "STATUS:0x00000006 ",
        "  [AIO N/A CPUFAN]",
        "PCH:45.0 CPU:52.5 VRD:40.0",
        "SYS:35.2 HDD:38.0 GPU:0.0",
        "CPUFAN:1200 SYSFAN:900  PWRFAN:0",
        "GFXFAN:0",
    };
    EXPECT_EQ(want, SplitLines(RenderThermalStatus(6, readings)));
    EXPECT_EQ(9u, ThermalColumnWidth(readings, false));
    EXPECT_EQ(12u, ThermalColumnWidth(readings, true));
}

TEST(ThermalText, SecondWorkedExampleLineForLine) {
    const std::uint16_t readings[10] = {0x002D, 0x1964, 0x0028, 0x0223, 0x0026,
                                        0x003D, 1200, 65535, 0, 3000};
    const std::vector<std::string> want = {
        "STATUS:0x00000001 ",
        "  [Desktop]",
        "PCH:45.0   CPU:100.25 VRD:40.0",
        "SYS:35.2   HDD:38.0   GPU:61.0",
        "CPUFAN:1200  SYSFAN:65535",
        "PWRFAN:0     GFXFAN:3000",
    };
    EXPECT_EQ(want, SplitLines(RenderThermalStatus(1, readings)));
    EXPECT_EQ(11u, ThermalColumnWidth(readings, false));
    EXPECT_EQ(13u, ThermalColumnWidth(readings, true));
}

TEST(ThermalText, HeaderForEveryCombinationOfBits1To5) {
    for (std::int32_t low = 0; low < 64; ++low) {
        std::string want = "  [";
        want += (low & 1) ? "Desktop" : "AIO";
        if (low & 2) want += " N/A";
        if (low & 4) want += " CPUFAN";
        if (low & 8) want += " SYSFAN";
        if (low & 16) want += " PWRFAN";
        if (low & 32) want += " GFXFAN";
        want += "]";
        char hex[32];
        snprintf(hex, sizeof hex, "STATUS:0x%08X ", static_cast<unsigned>(low));
        EXPECT_EQ(std::string(hex) + "\r\n" + want + "\r\n", Narrow(ThermalHeader(low)))
            << "status " << low;
    }
}

TEST(ThermalText, BitsAbove5ChangeOnlyTheHexNumber) {
    const struct { std::int32_t status; const char* header; } rows[] = {
        {0x7FFFFFC0, "STATUS:0x7FFFFFC0 \r\n  [AIO]\r\n"},
        {0x7FFFFFFF, "STATUS:0x7FFFFFFF \r\n  [Desktop N/A CPUFAN SYSFAN PWRFAN GFXFAN]\r\n"},
        {0x00000041, "STATUS:0x00000041 \r\n  [Desktop]\r\n"},
        {0x12345600, "STATUS:0x12345600 \r\n  [AIO]\r\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.header, Narrow(ThermalHeader(row.status))) << std::hex << row.status;
    }
}

TEST(ThermalText, NegativeStatusIsFailedWhateverTheBuffer) {
    const std::uint16_t full[10] = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,
                                    0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    const std::uint16_t zero[10] = {};
    for (std::int32_t status : {-1, static_cast<std::int32_t>(0x80000000u),
                                static_cast<std::int32_t>(0x8000003Fu)}) {
        EXPECT_EQ("Failed", Narrow(RenderThermalStatus(status, full))) << std::hex << status;
        EXPECT_EQ("Failed", Narrow(RenderThermalStatus(status, zero))) << std::hex << status;
    }
}

TEST(ThermalText, ItemFormats) {
    const struct { unsigned index; std::uint16_t reading; const char* item; } rows[] = {
        {0, 0x002D, "PCH:45.0"},   {1, 0x1964, "CPU:100.25"}, {2, 0x0000, "VRD:0.0"},
        {3, 0xFFFF, "SYS:255.255"}, {4, 0x0100, "HDD:0.1"},   {5, 0x0A05, "GPU:5.10"},
        {6, 65535, "CPUFAN:65535"}, {7, 0, "SYSFAN:0"},       {8, 900, "PWRFAN:900"},
        {9, 32768, "GFXFAN:32768"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.item, Narrow(ThermalItem(row.index, row.reading))) << row.index;
    }
}

// With all readings 0 the line "HDD:0.0 GPU:0.0 " would still have room for
// a fan item; the fans must start their own line all the same.
TEST(ThermalText, TemperaturesAndFansNeverShareALine) {
    const std::uint16_t readings[10] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<std::string> lines = SplitLines(RenderThermalStatus(0, readings));
    ASSERT_EQ(6u, lines.size());
    EXPECT_EQ("PCH:0.0 CPU:0.0 VRD:0.0 SYS:0.0", lines[2]);
    EXPECT_EQ("HDD:0.0 GPU:0.0", lines[3]);
    EXPECT_EQ("CPUFAN:0 SYSFAN:0 PWRFAN:0", lines[4]);
    EXPECT_EQ("GFXFAN:0", lines[5]);
}

TEST(ThermalText, NullReadingsReadAsZeros) {
    const std::uint16_t zero[10] = {};
    EXPECT_EQ(Narrow(RenderThermalStatus(3, zero)), Narrow(RenderThermalStatus(3, nullptr)));
}

// ---- property test over random status words and readings ----------------------

struct ParsedItem {
    unsigned index;
    std::string text;
};

bool IsTemperatureLabel(const std::string& label) {
    for (unsigned i = 0; i < kThermalTemperatureCount; ++i) {
        if (label == Narrow(ThermalLabel(i))) return true;
    }
    return false;
}

TEST(ThermalText, RandomInputsKeepLayoutRules) {
    std::mt19937 rng(20261208u);
    std::uniform_int_distribution<std::uint32_t> word;
    std::uniform_int_distribution<int> shape(0, 3);
    for (int round = 0; round < 3000; ++round) {
        std::uint16_t readings[10];
        for (std::uint16_t& r : readings) {
            // Mix small, typical and extreme values so that widths vary.
            switch (shape(rng)) {
                case 0: r = static_cast<std::uint16_t>(word(rng) & 0x0F0F); break;
                case 1: r = static_cast<std::uint16_t>(word(rng) & 0x3F7F); break;
                case 2: r = static_cast<std::uint16_t>(word(rng)); break;
                default: r = 0; break;
            }
        }
        const std::int32_t status = static_cast<std::int32_t>(word(rng) & 0x7FFFFFFFu);
        const std::wstring text = RenderThermalStatus(status, readings);
        SCOPED_TRACE(testing::Message() << "round " << round << " text:\n" << Narrow(text));

        const std::string header = Narrow(ThermalHeader(status));
        ASSERT_EQ(0u, Narrow(text).find(header));
        const std::vector<std::string> lines =
            SplitLines(std::wstring(text.begin() + header.size(), text.end()));
        ASSERT_FALSE(lines.empty());

        const std::size_t tempWidth = ThermalColumnWidth(readings, false);
        const std::size_t fanWidth = ThermalColumnWidth(readings, true);
        std::vector<std::string> items;
        for (const std::string& line : lines) {
            ASSERT_FALSE(line.empty());
            EXPECT_NE(' ', line.front());
            EXPECT_NE(' ', line.back());
            // Items start at multiples of their column width; a line holds
            // only temperatures or only fans.
            bool sawTemp = false, sawFan = false;
            std::size_t longestItem = 0;
            std::size_t pos = 0;
            while (pos < line.size()) {
                std::size_t end = line.find(' ', pos);
                if (end == std::string::npos) end = line.size();
                const std::string item = line.substr(pos, end - pos);
                const std::string label = item.substr(0, item.find(':'));
                const bool temp = IsTemperatureLabel(label);
                (temp ? sawTemp : sawFan) = true;
                EXPECT_EQ(0u, pos % (temp ? tempWidth : fanWidth)) << "item " << item;
                if (item.size() > longestItem) longestItem = item.size();
                items.push_back(item);
                pos = end;
                while (pos < line.size() && line[pos] == ' ') ++pos;
            }
            EXPECT_FALSE(sawTemp && sawFan) << line;
            if (line.size() > kThermalLineLimit) {
                EXPECT_EQ(line.size(), longestItem) << "over-long line: " << line;
            }
        }
        // Nothing lost or duplicated: the items in reading order.
        ASSERT_EQ(10u, items.size());
        for (unsigned i = 0; i < 10; ++i) {
            EXPECT_EQ(Narrow(ThermalItem(i, readings[i])), items[i]);
        }
        // No line break at the end.
        EXPECT_NE(L'\n', text.back());
    }
}

}  // namespace
}  // namespace tovrel
