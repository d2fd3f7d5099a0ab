// Framed requests of the platform device as the stand-in library sends them,
// and the small conversions between firmware answers and entry-point results.
// Pure functions: no Windows calls, no allocation.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace qebi {

constexpr uint32_t kFrameSignature = 0x42444D50u;  // "PMDB"
constexpr uint16_t kFrameVersion = 1;
constexpr size_t kFrameHeaderSize = 20;
constexpr size_t kFrameMaxLength = 0xFFFF;
// Largest request data or response the 16-bit Length field leaves room for.
constexpr size_t kFrameMaxPayload = kFrameMaxLength - kFrameHeaderSize;

// A failed query or setter.
constexpr int32_t kFailed = static_cast<int32_t>(0x80000000u);

constexpr uint16_t kFunctionReadFeature = 0x10;  // + feature index
constexpr uint16_t kFunctionSetFeature = 0x20;   // + feature index
constexpr uint16_t kFunctionBrightness = 0x30;

constexpr size_t kThermalReadingCount = 10;
constexpr size_t kThermalReadingBytes = 2 * kThermalReadingCount;

// CRC-16/XMODEM: polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final XOR.
uint16_t Crc16(const uint8_t* data, size_t length);

// Total frame length for the given request data and expected response sizes:
// the larger of the two plus the header. 0 when either exceeds
// kFrameMaxPayload.
size_t FrameLength(size_t requestLength, size_t responseLength);

// Writes a complete, sealed request frame into frame (capacity bytes).
// Returns the frame length, or 0 when the sizes are out of range, capacity is
// too small, or data is null with a non-zero requestLength.
size_t BuildFrame(uint8_t* frame, size_t capacity, uint16_t function, uint16_t parameter,
                  const void* data, size_t requestLength, size_t responseLength);

// Little-endian 32-bit word at offset of buffer (length bytes). Returns false
// when the word does not fit.
bool ReadWord(const uint8_t* buffer, size_t length, size_t offset, uint32_t* word);

// Result of a feature query: the firmware's status word as it stands
// (negative words and every other bit included), or kFailed when the request
// failed.
int32_t QueryResult(bool requestOk, uint32_t firmwareWord);

// Result of a setter: 0 when the request went through and the firmware
// answered 0 (done); kFailed for a failed request or any other answer.
int32_t SetterResult(bool requestOk, uint32_t firmwareAnswer);

// Copies min(count, 10) little-endian 16-bit readings from readings (20
// bytes) into buffer. Nothing is written for a null buffer or count <= 0.
// Returns the number of entries written.
size_t CopyThermalReadings(uint16_t* buffer, int32_t count, const uint8_t* readings);

}  // namespace qebi
