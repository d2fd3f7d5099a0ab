#include <gtest/gtest.h>

#include "qebsim/client.h"

#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "qebi_frame.h"

namespace {


TEST(QebiDllCrc16, CheckValueOfDigitsOneToNine) {
    const char* digits = "123456789";
    EXPECT_EQ(0x31C3, qebi::Crc16(reinterpret_cast<const uint8_t*>(digits), 9));
}

TEST(QebiDllCrc16, TwentyZeroBytesGiveZero) {
    uint8_t zeros[20] = {};
    EXPECT_EQ(0, qebi::Crc16(zeros, sizeof(zeros)));
}

TEST(QebiDllCrc16, EmptyInputGivesZero) { EXPECT_EQ(0, qebi::Crc16(nullptr, 0)); }

TEST(QebiDllCrc16, SingleBytes) {
    struct Case {
        uint8_t byte;
        uint16_t crc;
    } cases[] = {{0x00, 0x0000}, {0x01, 0x1021}, {0x80, 0x9188}, {0xFF, 0x1EF0}};
    for (const Case& c : cases) {
        EXPECT_EQ(c.crc, qebi::Crc16(&c.byte, 1)) << "byte 0x" << std::hex << int(c.byte);
    }
}

TEST(QebiDllFrameLength, LargerOfRequestAndResponsePlusHeader) {
    struct Case {
        size_t request, response, length;
    } cases[] = {
        {0, 0, 20}, {0, 4, 24}, {4, 4, 24}, {0, 24, 44}, {8, 4, 28},
        {65515, 0, 65535}, {0, 65515, 65535}, {65516, 0, 0}, {0, 65516, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.length, qebi::FrameLength(c.request, c.response))
            << "request " << c.request << " response " << c.response;
    }
}

// Frames whose bytes are fixed by the platform: a 24-byte response gives a
// 44-byte frame sealed E4 DF, a 4-byte response a 24-byte frame sealed AA 0D.
TEST(QebiDllBuildFrame, KnownFramesByteForByte) {
    struct Case {
        uint16_t function;
        size_t response;
        std::vector<uint8_t> header;
    } cases[] = {
        {7, 24, {0x50, 0x4D, 0x44, 0x42, 0x2C, 0x00, 0x01, 0x00, 0xE4, 0xDF, 0x07, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        {9, 4, {0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        uint8_t frame[64];
        memset(frame, 0xCC, sizeof(frame));
        size_t n = qebi::BuildFrame(frame, sizeof(frame), c.function, 0, nullptr, 0, c.response);
        ASSERT_EQ(20 + c.response, n) << "function " << c.function;
        std::vector<uint8_t> expected = c.header;
        expected.resize(n, 0);
        EXPECT_EQ(qebsim::HexBytes(expected.data(), n), qebsim::HexBytes(frame, n)) << "function " << c.function;
        EXPECT_EQ(0xCC, frame[n]) << "wrote past the frame, function " << c.function;
    }
}

TEST(QebiDllBuildFrame, HeaderFieldsOfAFeatureSetter) {
    uint8_t frame[64];
    const uint8_t value[4] = {0x03, 0x00, 0x00, 0x80};
    size_t n = qebi::BuildFrame(frame, sizeof(frame), 0x29, 0x1234, value, 4, 4);
    ASSERT_EQ(24u, n);
    uint32_t signature = 0;
    ASSERT_TRUE(qebi::ReadWord(frame, n, 0, &signature));
    EXPECT_EQ(0x42444D50u, signature);
    EXPECT_EQ(24, frame[4] | (frame[5] << 8)) << "Length";
    EXPECT_EQ(1, frame[6] | (frame[7] << 8)) << "Version";
    EXPECT_EQ(0x29, frame[10] | (frame[11] << 8)) << "Function";
    EXPECT_EQ(0x1234, frame[16] | (frame[17] << 8)) << "Parameter";
    EXPECT_EQ("00 00 00 00", qebsim::HexBytes(frame + 12, 4)) << "reserved after Function";
    EXPECT_EQ("00 00", qebsim::HexBytes(frame + 18, 2)) << "reserved after Parameter";
    EXPECT_EQ("03 00 00 80", qebsim::HexBytes(frame + 20, 4)) << "payload";
}

TEST(QebiDllBuildFrame, ChecksumCoversTheFrameWithItsFieldZero) {
    uint8_t frame[64];
    const uint8_t value[4] = {1, 2, 3, 4};
    size_t n = qebi::BuildFrame(frame, sizeof(frame), 0x20, 0, value, 4, 4);
    ASSERT_EQ(24u, n);
    uint16_t stored = static_cast<uint16_t>(frame[8] | (frame[9] << 8));
    frame[8] = frame[9] = 0;
    EXPECT_EQ(qebi::Crc16(frame, n), stored);
}

TEST(QebiDllBuildFrame, UnfilledPayloadIsZero) {
    uint8_t frame[64];
    memset(frame, 0xAB, sizeof(frame));
    const uint8_t value[2] = {0x11, 0x22};
    size_t n = qebi::BuildFrame(frame, sizeof(frame), 0x16, 0, value, 2, 24);
    ASSERT_EQ(44u, n);
    EXPECT_EQ("11 22", qebsim::HexBytes(frame + 20, 2));
    for (size_t i = 22; i < n; ++i) EXPECT_EQ(0, frame[i]) << "offset " << i;
}

TEST(QebiDllBuildFrame, RequestLongerThanResponseSizesTheFrame) {
    uint8_t frame[64];
    uint8_t data[12];
    for (int i = 0; i < 12; ++i) data[i] = static_cast<uint8_t>(i + 1);
    size_t n = qebi::BuildFrame(frame, sizeof(frame), 1, 0, data, sizeof(data), 4);
    ASSERT_EQ(32u, n);
    EXPECT_EQ(32, frame[4]);
    EXPECT_EQ(qebsim::HexBytes(data, 12), qebsim::HexBytes(frame + 20, 12));
}

TEST(QebiDllBuildFrame, RefusesWhatDoesNotFit) {
    uint8_t frame[64];
    uint8_t data[4] = {};
    struct Case {
        const char* what;
        uint8_t* out;
        size_t capacity;
        const void* data;
        size_t request, response;
    } cases[] = {
        {"capacity one short", frame, 23, data, 4, 4},
        {"null frame", nullptr, 64, data, 4, 4},
        {"null data with a length", frame, 64, nullptr, 4, 4},
        {"response beyond the 16-bit length", frame, 64, nullptr, 0, 65516},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(0u, qebi::BuildFrame(c.out, c.capacity, 0x10, 0, c.data, c.request, c.response))
            << c.what;
    }
}

TEST(QebiDllReadWord, LittleEndianAndBounded) {
    const uint8_t b[6] = {0x78, 0x56, 0x34, 0x12, 0xAA, 0xBB};
    uint32_t w = 0;
    ASSERT_TRUE(qebi::ReadWord(b, 6, 0, &w));
    EXPECT_EQ(0x12345678u, w);
    ASSERT_TRUE(qebi::ReadWord(b, 6, 2, &w));
    EXPECT_EQ(0xBBAA1234u, w);
    EXPECT_FALSE(qebi::ReadWord(b, 6, 3, &w));
    EXPECT_FALSE(qebi::ReadWord(b, 6, 7, &w));
    EXPECT_FALSE(qebi::ReadWord(b, 3, 0, &w));
}

TEST(QebiDllQueryResult, PassesTheFirmwareWordOrFails) {
    struct Case {
        bool ok;
        uint32_t word;
        int32_t result;
    } cases[] = {
        {true, 3, 3},
        {true, 0, 0},
        {true, 0x7FFFFFFF, 0x7FFFFFFF},
        {true, 0xFFFFFFFF, -1},
        {true, 0x80000003, static_cast<int32_t>(0x80000003)},
        {false, 3, static_cast<int32_t>(0x80000000)},
        {false, 0, static_cast<int32_t>(0x80000000)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, qebi::QueryResult(c.ok, c.word)) << "ok " << c.ok << " word 0x" << std::hex << c.word;
    }
}

TEST(QebiDllSetterResult, ZeroOnlyForADoneAnswer) {
    struct Case {
        bool ok;
        uint32_t answer;
        int32_t result;
    } cases[] = {
        {true, 0, 0},
        {true, 0x80000000, static_cast<int32_t>(0x80000000)},
        {true, 1, static_cast<int32_t>(0x80000000)},
        {false, 0, static_cast<int32_t>(0x80000000)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, qebi::SetterResult(c.ok, c.answer)) << "ok " << c.ok << " answer 0x" << std::hex << c.answer;
    }
}

TEST(QebiDllThermalCopy, FillsAtMostTenEntries) {
    uint8_t readings[20];
    for (int i = 0; i < 20; ++i) readings[i] = static_cast<uint8_t>(0x10 + i);
    struct Case {
        int32_t count;
        size_t written;
    } cases[] = {{-1, 0}, {0, 0}, {1, 1}, {5, 5}, {10, 10}, {11, 10}, {0x7FFFFFFF, 10}};
    for (const Case& c : cases) {
        uint16_t buffer[12];
        for (uint16_t& b : buffer) b = 0xEEEE;
        EXPECT_EQ(c.written, qebi::CopyThermalReadings(buffer, c.count, readings)) << "count " << c.count;
        for (size_t i = 0; i < 12; ++i) {
            uint16_t expected = i < c.written ? static_cast<uint16_t>(readings[2 * i] | (readings[2 * i + 1] << 8))
                                              : 0xEEEE;
            EXPECT_EQ(expected, buffer[i]) << "count " << c.count << " entry " << i;
        }
    }
}

TEST(QebiDllThermalCopy, NullBufferWritesNothing) {
    uint8_t readings[20] = {};
    EXPECT_EQ(0u, qebi::CopyThermalReadings(nullptr, 10, readings));
}

}  // namespace
