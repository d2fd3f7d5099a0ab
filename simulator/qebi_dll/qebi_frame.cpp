#include "qebi_frame.h"

#include <string.h>

namespace qebi {
namespace {

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

uint16_t Crc16(const uint8_t* data, size_t length) {
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc = static_cast<uint16_t>(crc ^ (static_cast<uint16_t>(data[i]) << 8));
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<uint16_t>(crc << 1);
        }
    }
    return crc;
}

size_t FrameLength(size_t requestLength, size_t responseLength) {
    if (requestLength > kFrameMaxPayload || responseLength > kFrameMaxPayload) return 0;
    size_t payload = requestLength > responseLength ? requestLength : responseLength;
    return payload + kFrameHeaderSize;
}

size_t BuildFrame(uint8_t* frame, size_t capacity, uint16_t function, uint16_t parameter,
                  const void* data, size_t requestLength, size_t responseLength) {
    size_t length = FrameLength(requestLength, responseLength);
    if (length == 0 || frame == nullptr || capacity < length) return 0;
    if (data == nullptr && requestLength != 0) return 0;
    memset(frame, 0, length);
    PutU32(frame + 0, kFrameSignature);
    PutU16(frame + 4, static_cast<uint16_t>(length));
    PutU16(frame + 6, kFrameVersion);
    PutU16(frame + 10, function);
    PutU16(frame + 16, parameter);
    if (requestLength != 0) memcpy(frame + kFrameHeaderSize, data, requestLength);
    PutU16(frame + 8, Crc16(frame, length));
    return length;
}

bool ReadWord(const uint8_t* buffer, size_t length, size_t offset, uint32_t* word) {
    if (buffer == nullptr || word == nullptr || offset > length || length - offset < 4) return false;
    const uint8_t* p = buffer + offset;
    *word = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
            (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return true;
}

int32_t QueryResult(bool requestOk, uint32_t firmwareWord) {
    return requestOk ? static_cast<int32_t>(firmwareWord) : kFailed;
}

int32_t SetterResult(bool requestOk, uint32_t firmwareAnswer) {
    return (requestOk && firmwareAnswer == 0) ? 0 : kFailed;
}

size_t CopyThermalReadings(uint16_t* buffer, int32_t count, const uint8_t* readings) {
    if (buffer == nullptr || count <= 0 || readings == nullptr) return 0;
    size_t n = static_cast<size_t>(count) < kThermalReadingCount ? static_cast<size_t>(count)
                                                                  : kThermalReadingCount;
    for (size_t i = 0; i < n; ++i) {
        buffer[i] = static_cast<uint16_t>(readings[2 * i] | (readings[2 * i + 1] << 8));
    }
    return n;
}

}  // namespace qebi
