// The thermal panel for any status word and readings: "Failed" for a
// negative word; otherwise the header, then every reading as its item, in
// order, temperatures and fans never on one line, no line empty or longer
// than the limit.
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "thermal_layout.h"

using namespace tovrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const int32_t status = static_cast<int32_t>(in.Dword());
    uint16_t readings[kThermalReadingCount];
    for (uint16_t& r : readings) r = in.Word();

    const std::wstring text = RenderThermalStatus(status, readings);
    if (status < 0) {
        FUZZ_CHECK(text == L"Failed", "negative status 0x%08X", status);
        return 0;
    }
    const std::wstring header = ThermalHeader(status);
    FUZZ_CHECK(text.compare(0, header.size(), header) == 0, "0x%08X: header missing", status);

    const std::vector<std::wstring> lines = ThermalTableLines(readings);
    std::vector<std::wstring> items;
    for (size_t l = 0; l < lines.size(); ++l) {
        FUZZ_CHECK(!lines[l].empty() && lines[l].size() <= kThermalLineLimit, "line %zu of %zu chars", l,
                   lines[l].size());
        std::wistringstream words(lines[l]);
        std::wstring word;
        bool temperature = false, fan = false;
        while (words >> word) {
            const size_t index = items.size();
            items.push_back(word);
            (index < kThermalTemperatureCount ? temperature : fan) = true;
        }
        FUZZ_CHECK(!(temperature && fan), "line %zu mixes temperatures and fans", l);
    }
    FUZZ_CHECK(items.size() == kThermalReadingCount, "%zu items", items.size());
    for (unsigned i = 0; i < kThermalReadingCount; ++i) {
        FUZZ_CHECK(items[i] == ThermalItem(i, readings[i]), "item %u", i);
        const std::wstring label = std::wstring(ThermalLabel(i)) + L":";
        FUZZ_CHECK(items[i].compare(0, label.size(), label) == 0, "item %u label", i);
    }
    return 0;
}
