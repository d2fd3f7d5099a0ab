// QEBEvent: building the "PMDB" request frame of the platform device.
#include "platform_frame.h"

#include <string.h>

namespace {

void PutWord(BYTE* at, WORD value) {
    at[0] = static_cast<BYTE>(value & 0xFF);
    at[1] = static_cast<BYTE>(value >> 8);
}

void PutDword(BYTE* at, DWORD value) {
    PutWord(at, static_cast<WORD>(value & 0xFFFF));
    PutWord(at + 2, static_cast<WORD>(value >> 16));
}

}  // namespace

WORD PlatformChecksum(const BYTE* data, size_t length) {
    WORD crc = 0;
    for (size_t i = 0; i < length; ++i) {
        for (int bit = 7; bit >= 0; --bit) {
            const bool carry = (crc & 0x8000) != 0;
            crc = static_cast<WORD>(crc << 1);
            if (carry) crc ^= 0x1021;
            if ((data[i] >> bit) & 1) crc ^= 0x1021;
        }
    }
    return crc;
}

DWORD PlatformFrameLength(int responseLength, int requestLength) {
    if (responseLength < 0 || requestLength < 0) return 0;
    if (responseLength > kPlatformMaxDataLength || requestLength > kPlatformMaxDataLength) return 0;
    const int payload = responseLength > requestLength ? responseLength : requestLength;
    return static_cast<DWORD>(payload + kPlatformHeaderSize);
}

DWORD PlatformRequestCode(DWORD kind) {
    switch (kind) {
    case 0: return kPlatformCodeKsmi;
    case 1: return kPlatformCodeKnvs;
    default: return 0;
    }
}

void BuildPlatformFrame(BYTE* frame, DWORD frameLength, WORD function, WORD parameter,
                        const void* requestData, int requestLength) {
    memset(frame, 0, frameLength);
    PutDword(frame + kFrameOffsetSignature, kPlatformSignature);
    PutWord(frame + kFrameOffsetLength, static_cast<WORD>(frameLength));
    PutWord(frame + kFrameOffsetVersion, 1);
    PutWord(frame + kFrameOffsetFunction, function);
    PutWord(frame + kFrameOffsetParameter, parameter);
    if (requestData != nullptr && requestLength > 0) {
        memcpy(frame + kFrameOffsetPayload, requestData, static_cast<size_t>(requestLength));
    }
    PutWord(frame + kFrameOffsetChecksum, PlatformChecksum(frame, frameLength));
}
