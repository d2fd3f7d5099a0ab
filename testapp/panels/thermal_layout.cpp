#include "thermal_layout.h"

#include <windows.h>
#include <strsafe.h>

namespace tovrel {
namespace {

const wchar_t* const kLabels[kThermalReadingCount] = {
    L"PCH", L"CPU", L"VRD", L"SYS", L"HDD", L"GPU",
    L"CPUFAN", L"SYSFAN", L"PWRFAN", L"GFXFAN"};

const std::uint16_t kZeroReadings[kThermalReadingCount] = {};

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}

std::wstring Trimmed(const std::wstring& s) {
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && IsBlank(s[first])) ++first;
    while (last > first && IsBlank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

}  // namespace

const wchar_t* ThermalLabel(unsigned index) {
    return index < kThermalReadingCount ? kLabels[index] : L"";
}

std::wstring ThermalHeader(std::int32_t status) {
    wchar_t head[64] = {};
    StringCchPrintfW(head, ARRAYSIZE(head), L"STATUS:0x%08X \r\n  [%ls%ls",
                     static_cast<unsigned>(status),
                     (status & 1) ? L"Desktop" : L"AIO",
                     (status & 2) ? L" N/A" : L"");
    std::wstring text(head);
    if (status & 0x04) text += L" CPUFAN";
    if (status & 0x08) text += L" SYSFAN";
    if (status & 0x10) text += L" PWRFAN";
    if (status & 0x20) text += L" GFXFAN";
    text += L"]\r\n";
    return text;
}

std::wstring ThermalItem(unsigned index, std::uint16_t reading) {
    wchar_t item[32] = {};
    if (index < kThermalTemperatureCount) {
        StringCchPrintfW(item, ARRAYSIZE(item), L"%ls:%d.%d", ThermalLabel(index),
                         static_cast<int>(reading & 0xFF), static_cast<int>(reading >> 8));
    } else {
        StringCchPrintfW(item, ARRAYSIZE(item), L"%ls:%d", ThermalLabel(index),
                         static_cast<int>(reading));
    }
    return item;
}

std::size_t ThermalColumnWidth(const std::uint16_t* readings, bool fans) {
    if (!readings) readings = kZeroReadings;
    const unsigned first = fans ? kThermalTemperatureCount : 0;
    const unsigned end = fans ? kThermalReadingCount : kThermalTemperatureCount;
    std::size_t longest = 0;
    for (unsigned i = first; i < end; ++i) {
        const std::size_t len = ThermalItem(i, readings[i]).size();
        if (len > longest) longest = len;
    }
    return longest + 1;
}

std::vector<std::wstring> ThermalTableLines(const std::uint16_t* readings) {
    if (!readings) readings = kZeroReadings;
    const std::size_t widths[2] = {ThermalColumnWidth(readings, false),
                                   ThermalColumnWidth(readings, true)};
    std::vector<std::wstring> lines;
    std::wstring line;
    auto flush = [&]() {
        lines.push_back(Trimmed(line));
        line.clear();
    };
    for (unsigned i = 0; i < kThermalReadingCount; ++i) {
        std::wstring item = ThermalItem(i, readings[i]);
        const std::size_t width = widths[i < kThermalTemperatureCount ? 0 : 1];
        // The test uses the bare item against the line with its fill blanks.
        if (item.size() + line.size() > kThermalLineLimit) flush();
        if (width > item.size()) item.append(width - item.size(), L' ');
        line += item;
        // Temperatures and fans never share a line.
        if (i == kThermalTemperatureCount - 1 && !line.empty()) flush();
    }
    std::wstring last = Trimmed(line);
    if (!last.empty()) lines.push_back(last);
    return lines;
}

std::wstring RenderThermalStatus(std::int32_t status, const std::uint16_t* readings) {
    if (status < 0) return L"Failed";
    std::wstring text = ThermalHeader(status);
    const std::vector<std::wstring> lines = ThermalTableLines(readings);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        text += lines[i];
        if (i + 1 < lines.size()) text += L"\r\n";
    }
    return text;
}

}  // namespace tovrel
