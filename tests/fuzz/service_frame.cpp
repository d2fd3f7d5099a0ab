// Every frame the service builds passes the simulated driver's frame check,
// carries what was asked for, and the two CRC-16 implementations agree on
// any bytes.
#include <vector>

#include "fuzz_check.h"
#include "platform_frame.h"
#include "sim_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    // Mostly lengths a request has; now and then any 16-bit one, negative
    // and too long included (a 64 KB frame is slow to check).
    const uint8_t range = in.Byte();
    const uint16_t word = in.Word();
    const int responseLength = (range & 0x0F) == 0 ? static_cast<int16_t>(word) * 2 : word % 600;
    const WORD function = in.Word(), parameter = in.Word();
    const std::string request = in.Bytes(in.Left());
    const int requestLength = static_cast<int>(request.size());

    FUZZ_CHECK(PlatformChecksum(reinterpret_cast<const BYTE*>(request.data()), request.size()) ==
                   qebsim_crc16(reinterpret_cast<const uint8_t*>(request.data()), request.size()),
               "CRCs differ over %zu bytes", request.size());

    const DWORD frameLength = PlatformFrameLength(responseLength, requestLength);
    if (responseLength < 0 || responseLength > kPlatformMaxDataLength) {
        FUZZ_CHECK(frameLength == 0, "response %d gave frame length %u", responseLength, frameLength);
        return 0;
    }
    const int payload = responseLength > requestLength ? responseLength : requestLength;
    FUZZ_CHECK(frameLength == static_cast<DWORD>(payload + kPlatformHeaderSize), "frame length %u for %d/%d",
               frameLength, responseLength, requestLength);

    std::vector<BYTE> frame(frameLength);  // exact size, as the request buffer
    BuildPlatformFrame(frame.data(), frameLength, function, parameter, request.data(), requestLength);
    const int check = qebsim_check_frame(frame.data(), frameLength, frameLength);
    FUZZ_CHECK(check == QEBSIM_FRAME_OK, "driver refused the frame: %d (length %u)", check, frameLength);
    FUZZ_CHECK(frame[kFrameOffsetFunction] == (function & 0xFF) && frame[kFrameOffsetFunction + 1] == (function >> 8) &&
                   frame[kFrameOffsetParameter] == (parameter & 0xFF) &&
                   frame[kFrameOffsetParameter + 1] == (parameter >> 8),
               "function/parameter not where the driver reads them");
    FUZZ_CHECK(request.compare(0, request.size(), reinterpret_cast<const char*>(frame.data()) + kFrameOffsetPayload,
                               request.size()) == 0,
               "request data not in the payload");
    return 0;
}
