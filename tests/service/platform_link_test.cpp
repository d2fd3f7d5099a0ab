// SendPlatformRequest against a stand-in device: what it opens, sends and
// returns, and the last error it leaves.
#include <gtest/gtest.h>

#include <vector>

#include "fakes.h"
#include "qebevent.h"

TEST(SvcSendPlatformRequest, HealthRequestSendsItsFrameAndCopiesTheResponse) {
    SeamScope seams;
    seams.platform.replyPayload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24};
    BYTE response[24] = {};
    SetLastError(1234);
    ASSERT_TRUE(SendPlatformRequest(PlatformKnvs, 7, 0, response, 24, nullptr, 0));
    EXPECT_EQ(0u, GetLastError());
    EXPECT_EQ(0x222404u, seams.platform.code);
    ASSERT_EQ(44u, seams.platform.sentFrame.size());
    EXPECT_EQ(0xE4, seams.platform.sentFrame[8]);
    EXPECT_EQ(0xDF, seams.platform.sentFrame[9]);
    EXPECT_EQ(44u, seams.platform.inSize);
    EXPECT_EQ(44u, seams.platform.outSize);
    EXPECT_TRUE(seams.platform.sameBuffer);
    EXPECT_EQ(std::vector<BYTE>(seams.platform.replyPayload), std::vector<BYTE>(response, response + 24));
}

TEST(SvcSendPlatformRequest, OpensTheDeviceExclusivelyAndClosesIt) {
    SeamScope seams;
    BYTE response[4];
    ASSERT_TRUE(SendPlatformRequest(PlatformKnvs, 9, 0, response, 4, nullptr, 0));
    EXPECT_EQ(L"\\\\.\\QEBI", seams.platform.openedPath);
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), seams.platform.openAccess);
    EXPECT_EQ(0u, seams.platform.openShare);
    EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), seams.platform.openDisposition);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL), seams.platform.openFlags);
    EXPECT_EQ(1, seams.platform.opens);
    EXPECT_EQ(1, seams.platform.closes);
}

TEST(SvcSendPlatformRequest, KsmiKindUsesItsCode) {
    SeamScope seams;
    ASSERT_TRUE(SendPlatformRequest(PlatformKsmi, 0x10, 0, nullptr, 4, nullptr, 0));
    EXPECT_EQ(0x222400u, seams.platform.code);
}

TEST(SvcSendPlatformRequest, RequestDataLongerThanResponseSizesTheFrame) {
    SeamScope seams;
    seams.platform.replyPayload = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6};
    const BYTE data[6] = {9, 8, 7, 6, 5, 4};
    struct {
        BYTE response[2];
        BYTE after[2];
    } out = {{0, 0}, {0x55, 0x55}};
    ASSERT_TRUE(SendPlatformRequest(PlatformKsmi, 0x20, 3, out.response, 2, data, 6));
    ASSERT_EQ(26u, seams.platform.sentFrame.size());
    EXPECT_EQ(std::vector<BYTE>(data, data + 6),
              std::vector<BYTE>(seams.platform.sentFrame.begin() + 20, seams.platform.sentFrame.end()));
    EXPECT_EQ(0xA1, out.response[0]);
    EXPECT_EQ(0xA2, out.response[1]);
    EXPECT_EQ(0x55, out.after[0]) << "copied more than responseLength bytes";
}

TEST(SvcSendPlatformRequest, UnknownKindFailsWith160AndOpensNothing) {
    SeamScope seams;
    SetLastError(0);
    EXPECT_FALSE(SendPlatformRequest(2, 7, 0, nullptr, 24, nullptr, 0));
    EXPECT_EQ(160u, GetLastError());
    EXPECT_EQ(0, seams.platform.opens);
}

struct BadLength {
    int response, request;
};
inline void PrintTo(const BadLength& c, std::ostream* os) { *os << "response" << c.response << "_request" << c.request; }
class SvcSendPlatformRequestBadLength : public ::testing::TestWithParam<BadLength> {};
TEST_P(SvcSendPlatformRequestBadLength, FailsWith160AndSendsNothing) {
    SeamScope seams;
    std::vector<BYTE> buffer(70000);
    SetLastError(0);
    EXPECT_FALSE(SendPlatformRequest(PlatformKnvs, 7, 0, buffer.data(), GetParam().response, buffer.data(),
                                     GetParam().request));
    EXPECT_EQ(160u, GetLastError());
    EXPECT_EQ(0, seams.platform.opens);
}
INSTANTIATE_TEST_SUITE_P(Cases, SvcSendPlatformRequestBadLength,
                         ::testing::Values(BadLength{65516, 0}, BadLength{0, 65516}, BadLength{-1, 0},
                                           BadLength{0, -5}, BadLength{70000, 70000}));

TEST(SvcSendPlatformRequest, LargestFrameIsSent) {
    SeamScope seams;
    std::vector<BYTE> response(65515);
    ASSERT_TRUE(SendPlatformRequest(PlatformKnvs, 1, 0, response.data(), 65515, nullptr, 0));
    EXPECT_EQ(65535u, seams.platform.sentFrame.size());
}

TEST(SvcSendPlatformRequest, OpenFailureLeavesTheOpenError) {
    SeamScope seams;
    seams.platform.openError = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(SendPlatformRequest(PlatformKnvs, 7, 0, nullptr, 24, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_TRUE(seams.platform.sentFrame.empty());
}

TEST(SvcSendPlatformRequest, DriverFailureGives996AndStillCopiesThePayload) {
    SeamScope seams;
    seams.platform.requestResult = FALSE;
    seams.platform.replyPayload = {0x11, 0x22, 0x33, 0x44};
    BYTE response[4] = {};
    EXPECT_FALSE(SendPlatformRequest(PlatformKnvs, 9, 0, response, 4, nullptr, 0));
    EXPECT_EQ(996u, GetLastError());
    EXPECT_EQ(0x11, response[0]);
    EXPECT_EQ(0x44, response[3]);
    EXPECT_EQ(1, seams.platform.closes);
}

TEST(SvcSendPlatformRequest, RealDeviceAbsentFailsWithTheOpenError) {
    // No seam: the real CreateFileW on a prefix without the platform driver.
    SetLastError(0);
    BYTE response[4];
    EXPECT_FALSE(SendPlatformRequest(PlatformKnvs, 9, 0, response, 4, nullptr, 0));
    EXPECT_NE(0u, GetLastError());
    EXPECT_NE(996u, GetLastError());
}
