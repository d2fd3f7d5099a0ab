// Thermal panel text: the status header and the table of temperature and fan
// readings, laid out in columns for the dialog's fixed-pitch font.
// Side-effect free; the dialog method only puts the result into edit box 230.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tovrel {

// Number of 16-bit readings the thermal query delivers.
constexpr unsigned kThermalReadingCount = 10;
// Indices 0..5 are temperatures, 6..9 fan speeds.
constexpr unsigned kThermalTemperatureCount = 6;
// A line is flushed before an item that would make it longer than this.
constexpr std::size_t kThermalLineLimit = 33;

// Label printed before reading `index` ("PCH" ... "GFXFAN"); empty past 9.
const wchar_t* ThermalLabel(unsigned index);

// "STATUS:0x%08X \r\n  [<type>[ N/A][ CPUFAN][ SYSFAN][ PWRFAN][ GFXFAN]]\r\n"
std::wstring ThermalHeader(std::int32_t status);

// One item: "<label>:<low byte>.<high byte>" for temperatures,
// "<label>:<value>" for fans.
std::wstring ThermalItem(unsigned index, std::uint16_t reading);

// Column width of the temperature items (indices 0..5) or of the fan items
// (6..9): one more than the longest item of that group.
std::size_t ThermalColumnWidth(const std::uint16_t* readings, bool fans);

// Lines after the header, each trimmed, without line breaks.
std::vector<std::wstring> ThermalTableLines(const std::uint16_t* readings);

// The whole text of the thermal panel: "Failed" for a negative status,
// otherwise the header followed by the table lines joined with "\r\n" (no
// line break after the last one). `readings` must hold kThermalReadingCount
// words; a null pointer is read as all zeros.
std::wstring RenderThermalStatus(std::int32_t status, const std::uint16_t* readings);

}  // namespace tovrel
