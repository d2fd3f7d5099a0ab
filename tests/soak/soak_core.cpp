#include "soak_core.h"

#include <cwchar>

namespace soak {

uint64_t ExpectedLogLines(uint64_t delivered) {
    if (delivered <= 1000) return delivered;
    return (delivered - 1001) % 1001 + 1;
}

Growth Judge(const std::vector<long long>& samples) {
    Growth g;
    const size_t n = samples.size();
    if (n < 2) return g;
    size_t k = n / 2;
    if (k > 3) k = 3;
    long long first = 0, last = 0;
    for (size_t i = 0; i < k; ++i) {
        first += samples[i];
        last += samples[n - k + i];
    }
    const long long div = static_cast<long long>(k);
    g.judged = true;
    g.from = first / div;
    g.to = last / div;
    return g;
}

const std::vector<CodeWeight>& EventMix() {
    // Volume keys start a helper process each and 0x1005 scans up to ten
    // drives: rare, as on a real PC; the silent codes make up the bulk.
    static const std::vector<CodeWeight> mix = {
        {0x1001, 10, true}, {0x1002, 10, true}, {0x1003, 2, false}, {0x1004, 2, false},
        {0x1005, 3, false}, {0x1010, 8, true},  {0x1011, 10, true}, {0x1021, 8, true},
        {0x1022, 8, true},  {0x1031, 4, true},  {0x1042, 4, true},  {0x1043, 4, true},
        // Codes the kit does not know, the upper half set included.
        {0x0000, 2, true},  {0x1000, 2, true},  {0x1006, 2, true},  {0x1040, 2, true},
        {0x2001, 2, true},  {0x00011003, 2, true}, {0xFFFFFFFF, 2, true},
    };
    return mix;
}

bool ParseLogLineCode(const std::wstring& line, uint32_t* code) {
    const size_t at = line.find(L": 0x");
    if (at == std::wstring::npos || at < 18) return false;
    const wchar_t* p = line.c_str() + at + 4;
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(p, &end, 16);
    if (end == p || (*end != L'\0' && *end != L' ')) return false;
    *code = static_cast<uint32_t>(value);
    return true;
}

void HelperLaunches::Take(const std::string& line) {
    static const char kCreate[] = ":trace:process:CreateProcessInternalW ";
    const size_t at = line.find(kCreate);
    if (at == std::string::npos) return;
    const std::string tid = line.substr(0, at);
    const std::string rest = line.substr(at + sizeof(kCreate) - 1);
    if (rest.compare(0, 4, "app ") == 0) {
        int mode = 0;
        if (rest.find(" cmdline L\"QEBEvent.exe -VOLUMEUP\"") != std::string::npos) mode = 1;
        if (rest.find(" cmdline L\"QEBEvent.exe -VOLUMEDOWN\"") != std::string::npos) mode = 2;
        if (mode == 1) ++upAsked;
        if (mode == 2) ++downAsked;
        if (mode != 0) launching[tid] = mode;
        else launching.erase(tid);
    } else if (rest.compare(0, 16, "started process ") == 0) {
        auto it = launching.find(tid);
        if (it == launching.end()) return;
        ++(it->second == 1 ? upStarted : downStarted);
        launching.erase(it);
    }
}

}  // namespace soak
