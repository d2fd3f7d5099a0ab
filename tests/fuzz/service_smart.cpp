// SMART READ DATA output of any size and content: the temperature is the
// lowest raw byte of the first attribute 194 among the 30 table entries
// (empty entries skipped), and nothing outside the buffer is read.
#include <vector>

#include "fuzz_check.h"
#include "health_core.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy, so that a read past the end trips the sanitizer.
    std::vector<BYTE> output(data, data + size);
    BYTE temperature[2] = {0xEE, 0xEE};
    const bool found = ParseSmartTemperature(output.data(), size, temperature);

    const size_t table = offsetof(SENDCMDOUTPARAMS, bBuffer) + 2;
    int expected = -1;
    if (size >= table + kSmartAttributeCount * 12) {
        for (int i = 0; i < kSmartAttributeCount && expected < 0; ++i) {
            if (data[table + i * 12] == kSmartAttributeTemperature) expected = data[table + i * 12 + 5];
        }
    }
    FUZZ_CHECK(found == (expected >= 0), "size %zu: found %d, expected %d", size, found, expected);
    if (found) {
        FUZZ_CHECK(temperature[0] == expected && temperature[1] == 0, "got %u.%u, expected %d.0",
                   temperature[0], temperature[1], expected);
    } else {
        FUZZ_CHECK(temperature[0] == 0xEE && temperature[1] == 0xEE, "destination written without a find");
    }

    // The command of a SMART request: the registers a SMART command needs.
    FuzzInput in(data, size);
    SENDCMDINPARAMS command;
    const BYTE drive = in.Byte(), feature = in.Byte();
    const DWORD bufferSize = in.Dword();
    BuildSmartCommand(&command, drive, feature, bufferSize);
    FUZZ_CHECK(command.bDriveNumber == drive && command.cBufferSize == bufferSize &&
                   command.irDriveRegs.bFeaturesReg == feature && command.irDriveRegs.bCommandReg == 0xB0 &&
                   command.irDriveRegs.bCylLowReg == 0x4F && command.irDriveRegs.bCylHighReg == 0xC2,
               "command of drive %u feature 0x%02X", drive, feature);
    return 0;
}
