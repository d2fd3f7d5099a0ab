// Pure helpers of qebictl: argument parsing and journal formatting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qebisim/protocol.h"
#include "qebsim/client.h"

namespace qebictl {

// Decimal (optionally negative, stored as two's complement) or 0x hex,
// fitting 32 bits. False on anything else.
bool ParseNumber(const std::string& text, uint32_t* value);

// Feature by name (wifi, bt, mic, vol, ambient, power, thermal, cad,
// battery, usb, fsc, health; any case) or by index 0..11. -1 when unknown.
int FeatureIndex(const std::string& nameOrIndex);
const char* FeatureName(uint32_t index);

// The 20 reading bytes from 20 hex byte values ("2D" or "0x2D") or 10
// 16-bit words (decimal or 0x hex, little-endian). False on a wrong count or
// a value out of range.
bool ParseReadings(const std::vector<std::string>& args, uint8_t out[20]);

const char* RecordKindName(uint32_t kind);
using qebsim::HexBytes;
// One readable line for a record; time relative to `baseQpc`. With `raw`
// every record carrying data also gets it in hex.
std::string FormatRecord(const QEBSIM_RECORD& r, int64_t baseQpc, int64_t qpcFrequency, bool raw);

}  // namespace qebictl
