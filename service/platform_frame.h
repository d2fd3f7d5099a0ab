// QEBEvent: the "PMDB" request frame of the platform device and its checksum.
// Pure functions: no I/O, no process state.
#pragma once
#include <windows.h>
#include <stddef.h>

// DeviceIoControl codes of the platform device (device type 0x22,
// METHOD_BUFFERED, FILE_ANY_ACCESS).
const DWORD kPlatformCodeKsmi = 0x222400;       // framed KSMI request
const DWORD kPlatformCodeKnvs = 0x222404;       // framed KNVS request
const DWORD kPlatformCodeWaitEvent = 0x222408;  // event wait, 4-byte output

const DWORD kPlatformSignature = 0x42444D50;  // "PMDB" as a little-endian DWORD
const int kPlatformHeaderSize = 20;
// Largest request data or response length: the frame length is a 16-bit field.
const int kPlatformMaxDataLength = 65535 - kPlatformHeaderSize;

// Header offsets.
const size_t kFrameOffsetSignature = 0;
const size_t kFrameOffsetLength = 4;
const size_t kFrameOffsetVersion = 6;
const size_t kFrameOffsetChecksum = 8;
const size_t kFrameOffsetFunction = 10;
const size_t kFrameOffsetParameter = 16;
const size_t kFrameOffsetPayload = 20;

// CRC-16/XMODEM (polynomial 0x1021, initial value 0, most significant bit
// first, no reflection, no final XOR).
WORD PlatformChecksum(const BYTE* data, size_t length);

// Frame length for a request: the larger of the two lengths plus the header.
// Returns 0 when either length is negative or above kPlatformMaxDataLength.
DWORD PlatformFrameLength(int responseLength, int requestLength);

// Maps a request kind (0 KSMI, 1 KNVS) to its control code; 0 for any other.
DWORD PlatformRequestCode(DWORD kind);

// Fills frame[0..frameLength) with a complete request: header, request data,
// zero padding and the checksum. frameLength must come from
// PlatformFrameLength for the same requestLength.
void BuildPlatformFrame(BYTE* frame, DWORD frameLength, WORD function, WORD parameter,
                        const void* requestData, int requestLength);
