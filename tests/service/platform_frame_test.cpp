// Frame building and checksum of the platform device requests.
#include <gtest/gtest.h>

#include <vector>

#include "platform_frame.h"

namespace {

std::vector<BYTE> Frame(WORD function, WORD parameter, int responseLength, const std::vector<BYTE>& data) {
    const DWORD length = PlatformFrameLength(responseLength, static_cast<int>(data.size()));
    std::vector<BYTE> frame(length, 0xCC);
    if (length != 0) {
        BuildPlatformFrame(frame.data(), length, function, parameter, data.empty() ? nullptr : data.data(),
                           static_cast<int>(data.size()));
    }
    return frame;
}

std::vector<BYTE> Header(std::initializer_list<BYTE> bytes, size_t zeros) {
    std::vector<BYTE> v(bytes);
    v.insert(v.end(), zeros, 0);
    return v;
}

}  // namespace

TEST(SvcPlatformChecksum, CheckValueOfDigitsOneToNine) {
    const BYTE digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(0x31C3, PlatformChecksum(digits, sizeof(digits)));
}

TEST(SvcPlatformChecksum, TwentyZeroBytesGiveZero) {
    const BYTE zeros[20] = {};
    EXPECT_EQ(0, PlatformChecksum(zeros, sizeof(zeros)));
}

TEST(SvcPlatformChecksum, MatchesTableDrivenXmodem) {
    // The per-bit form must equal the usual byte-wise XMODEM update.
    std::vector<BYTE> data;
    for (int i = 0; i < 300; ++i) data.push_back(static_cast<BYTE>(i * 37 + 11));
    WORD expected = 0;
    for (BYTE b : data) {
        expected ^= static_cast<WORD>(b << 8);
        for (int k = 0; k < 8; ++k)
            expected = static_cast<WORD>((expected & 0x8000) ? (expected << 1) ^ 0x1021 : expected << 1);
    }
    EXPECT_EQ(expected, PlatformChecksum(data.data(), data.size()));
}

TEST(SvcPlatformFrame, HealthStatusRequestByteForByte) {
    const std::vector<BYTE> expected =
        Header({0x50, 0x4D, 0x44, 0x42, 0x2C, 0x00, 0x01, 0x00, 0xE4, 0xDF, 0x07, 0x00}, 8 + 24);
    EXPECT_EQ(expected, Frame(7, 0, 24, {}));
}

TEST(SvcPlatformFrame, PowerFlagsRequestByteForByte) {
    const std::vector<BYTE> expected =
        Header({0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00}, 8 + 4);
    EXPECT_EQ(expected, Frame(9, 0, 4, {}));
}

TEST(SvcPlatformFrame, ParameterAndRequestDataAreLaidOut) {
    const std::vector<BYTE> frame = Frame(0x1234, 0xBEEF, 2, {1, 2, 3, 4, 5});
    ASSERT_EQ(25u, frame.size());
    EXPECT_EQ(25, frame[4]);
    EXPECT_EQ(0x34, frame[10]);
    EXPECT_EQ(0x12, frame[11]);
    EXPECT_EQ(0xEF, frame[16]);
    EXPECT_EQ(0xBE, frame[17]);
    EXPECT_EQ(std::vector<BYTE>({1, 2, 3, 4, 5}), std::vector<BYTE>(frame.begin() + 20, frame.end()));
    std::vector<BYTE> zeroed = frame;
    zeroed[8] = zeroed[9] = 0;
    const WORD crc = PlatformChecksum(zeroed.data(), zeroed.size());
    EXPECT_EQ(crc & 0xFF, frame[8]);
    EXPECT_EQ(crc >> 8, frame[9]);
}

TEST(SvcPlatformFrame, UnfilledPayloadIsZero) {
    const std::vector<BYTE> frame = Frame(1, 0, 8, {0xAA, 0xBB});
    ASSERT_EQ(28u, frame.size());
    EXPECT_EQ(std::vector<BYTE>({0xAA, 0xBB, 0, 0, 0, 0, 0, 0}), std::vector<BYTE>(frame.begin() + 20, frame.end()));
}

struct LengthCase {
    int response, request;
    DWORD expected;
};
inline void PrintTo(const LengthCase& c, std::ostream* os) { *os << "response" << c.response << "_request" << c.request; }
class SvcPlatformFrameLengthTest : public ::testing::TestWithParam<LengthCase> {};
TEST_P(SvcPlatformFrameLengthTest, Length) {
    const LengthCase& c = GetParam();
    EXPECT_EQ(c.expected, PlatformFrameLength(c.response, c.request))
        << "response " << c.response << ", request " << c.request;
}
INSTANTIATE_TEST_SUITE_P(Cases, SvcPlatformFrameLengthTest,
                         ::testing::Values(LengthCase{24, 0, 44}, LengthCase{4, 0, 24}, LengthCase{0, 0, 20},
                                           LengthCase{4, 10, 30}, LengthCase{10, 10, 30},
                                           LengthCase{65515, 0, 65535}, LengthCase{0, 65515, 65535},
                                           LengthCase{65516, 0, 0}, LengthCase{0, 65516, 0},
                                           LengthCase{-1, 0, 0}, LengthCase{0, -1, 0},
                                           LengthCase{-100, 50, 0}));

TEST(SvcPlatformRequestCode, KindsMapToCodes) {
    EXPECT_EQ(0x222400u, PlatformRequestCode(0));
    EXPECT_EQ(0x222404u, PlatformRequestCode(1));
    EXPECT_EQ(0u, PlatformRequestCode(2));
    EXPECT_EQ(0u, PlatformRequestCode(0xFFFFFFFF));
}
