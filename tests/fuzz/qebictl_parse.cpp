// The control tool's parser for any arguments and any journal record:
// numbers as the tool documents them (decimal, negative, 0x hex, 32 bits),
// features by name or index, readings only in the two accepted shapes, and a
// record line for any record without reading past its data.
#include <string.h>

#include <string>
#include <vector>

#include "ctl_parse.h"
#include "fuzz_check.h"

namespace {

// Decimal (optionally negative) or 0x hex fitting 32 bits.
bool ModelNumber(const std::string& t, uint32_t* v) {
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        if (t.size() > 10) return false;
        uint64_t x = 0;
        for (size_t i = 2; i < t.size(); ++i) {
            const char c = t[i];
            if (!isxdigit(static_cast<unsigned char>(c))) return false;
            x = x * 16 + static_cast<uint64_t>(isdigit(static_cast<unsigned char>(c)) ? c - '0' : (c | 0x20) - 'a' + 10);
        }
        *v = static_cast<uint32_t>(x);
        return true;
    }
    const bool negative = !t.empty() && t[0] == '-';
    const std::string digits = t.substr(negative ? 1 : 0);
    if (digits.empty()) return false;
    uint64_t x = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        x = x * 10 + static_cast<uint64_t>(c - '0');
        if (x > 0xFFFFFFFFull) return false;
    }
    if (negative && x > 0x80000000ull) return false;
    *v = negative ? 0u - static_cast<uint32_t>(x) : static_cast<uint32_t>(x);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // Arguments: up to 24 words, each ending at a blank or the input's end.
    std::vector<std::string> args;
    const std::string words = in.Bytes(in.Word() % 512);
    for (size_t start = 0; start <= words.size() && args.size() < 24;) {
        size_t end = words.find(' ', start);
        if (end == std::string::npos) end = words.size();
        args.push_back(words.substr(start, end - start));
        start = end + 1;
    }
    for (const std::string& a : args) {
        uint32_t got = 0xDEADBEEF, expected = 0xDEADBEEF;
        const bool ok = qebictl::ParseNumber(a, &got);
        FUZZ_CHECK(ok == ModelNumber(a, &expected) && (!ok || got == expected), "\"%s\": %d 0x%X, expected 0x%X",
                   a.c_str(), ok, got, expected);
        const int feature = qebictl::FeatureIndex(a);
        FUZZ_CHECK(feature >= -1 && feature < QEB_FEATURE_COUNT, "feature %d", feature);
        if (feature >= 0) FUZZ_CHECK(strcmp(qebictl::FeatureName(static_cast<uint32_t>(feature)), "?") != 0, "name");
    }
    uint8_t readings[20];
    memset(readings, 0xA5, sizeof(readings));
    const bool parsed = qebictl::ParseReadings(args, readings);
    FUZZ_CHECK(!parsed || args.size() == 10 || args.size() == 20, "readings from %zu words", args.size());

    // A record as the journal hands it over, any field any value.
    QEBSIM_RECORD record;
    const std::string raw = in.Bytes(sizeof(record));
    memset(&record, 0, sizeof(record));
    memcpy(&record, raw.data(), raw.size());
    const int64_t base = static_cast<int64_t>(in.Dword()) << (in.Byte() % 33);
    const int64_t frequency = static_cast<int64_t>(in.Dword());
    const std::string line = qebictl::FormatRecord(record, base, frequency, (in.Byte() & 1) != 0);
    FUZZ_CHECK(line.size() >= 20, "record line of %zu chars", line.size());
    return 0;
}
