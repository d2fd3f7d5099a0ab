// Event-log entries of the health reporting, observed through the event-log
// seam, with the firmware and the drives stood in for.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "fakes.h"
#include "qebevent.h"

namespace {

const std::array<BYTE, 20> kReadings = {40, 0, 0x2D, 5, 50, 25, 30, 1, 35, 0,
                                        60, 99, 0xE8, 3, 0x10, 0x27, 0, 0, 0xFF, 0xFF};

void ExpectHealthEntryHeader(const LoggedEvent& e) {
    EXPECT_EQ(4, e.type);
    EXPECT_EQ(1, e.category);
    EXPECT_EQ(1010u, e.id);
    EXPECT_EQ(nullptr, e.sid);
    EXPECT_EQ(1u, e.strings.size());
}

}  // namespace

struct ChangeCase {
    DWORD code;
    const wchar_t* text;
};
inline void PrintTo(const ChangeCase& c, std::ostream* os) { *os << "code" << std::hex << c.code; }
class SvcReportHealthChangeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(SvcReportHealthChangeTest, OneEntryWithTwoLineFeedsAndNoRawData) {
    SeamScope seams;
    ReportHealthChange(GetParam().code);
    ASSERT_EQ(1u, seams.eventLog.events.size());
    const LoggedEvent& e = seams.eventLog.events[0];
    ExpectHealthEntryHeader(e);
    EXPECT_EQ(std::wstring(GetParam().text) + L"\n\n", e.strings.at(0));
    EXPECT_TRUE(e.rawData.empty()) << e.rawData.size() << " raw bytes";
    EXPECT_EQ(L"(null)", seams.eventLog.server);
    EXPECT_EQ(L"QEBI", seams.eventLog.sourceName);
    EXPECT_EQ(1, seams.eventLog.registers);
    EXPECT_EQ(1, seams.eventLog.deregisters);
}
INSTANTIATE_TEST_SUITE_P(Codes, SvcReportHealthChangeTest,
    ::testing::Values(ChangeCase{0x1042, L"Error code:4, System healthy status changed from Green to Red"},
                      ChangeCase{0x1043, L"Error code:5, System healthy status changed from Red to Green"}));

TEST(SvcReportHealthChange, OtherCodesWriteNothing) {
    SeamScope seams;
    for (DWORD code : {0x1005u, 0x1041u, 0x1044u, 0x11042u, 0u}) ReportHealthChange(code);
    EXPECT_EQ(0, seams.eventLog.registers);
    EXPECT_TRUE(seams.eventLog.events.empty());
}

TEST(SvcWriteServiceEvent, NoSourceWritesNothing) {
    SeamScope seams;
    seams.eventLog.refuseSource = true;
    WriteServiceEvent(4, 1010, L"text");
    EXPECT_EQ(1, seams.eventLog.registers);
    EXPECT_TRUE(seams.eventLog.events.empty());
}

TEST(SvcWriteServiceEvent, TypeAndIdArePassedOn) {
    SeamScope seams;
    WriteServiceEvent(EVENTLOG_WARNING_TYPE, 77, L"a %s b");
    ASSERT_EQ(1u, seams.eventLog.events.size());
    EXPECT_EQ(EVENTLOG_WARNING_TYPE, seams.eventLog.events[0].type);
    EXPECT_EQ(77u, seams.eventLog.events[0].id);
    EXPECT_EQ(std::wstring(L"a %s b\n\n"), seams.eventLog.events[0].strings.at(0));
}

TEST(SvcReportHealthDetails, WritesTheDetailedTextAndTheReadingsAsRawData) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(0x00400001, kReadings);
    ReportHealthDetails();
    EXPECT_EQ(0x222404u, seams.platform.code);
    ASSERT_EQ(44u, seams.platform.sentFrame.size());
    EXPECT_EQ(7, seams.platform.sentFrame[10]);
    ASSERT_EQ(1u, seams.eventLog.events.size());
    const LoggedEvent& e = seams.eventLog.events[0];
    ExpectHealthEntryHeader(e);
    EXPECT_EQ(std::wstring(L"Error code:4, STATUS=00400001\n"
                           L"  SYSTEM TYPE=Desktop \n"
                           L"  PCH=40.0 CPU=45.5 VRD=50.25\n"
                           L"  SYS=30.1 HDD=35.0 GPU=60.99\n"
                           L"  CPUFAN=1000 SYSFAN=10000 PWRFAN=0 GFXFAN=65535\n"),
              e.strings.at(0));
    EXPECT_EQ(std::vector<BYTE>(kReadings.begin(), kReadings.end()), e.rawData);
    EXPECT_EQ(1, seams.eventLog.deregisters);
}

TEST(SvcReportHealthDetails, SmartTemperatureReplacesTheHddPairInTextAndRawData) {
    SeamScope seams;
    std::array<BYTE, 20> readings = kReadings;
    readings[8] = 35;
    readings[9] = 7;
    seams.platform.replyPayload = HealthResponse(0x00500000, readings);
    seams.disks.drives[1].sector = SmartSector({{194, 0x28}});
    ReportHealthDetails();
    ASSERT_EQ(1u, seams.eventLog.events.size());
    const LoggedEvent& e = seams.eventLog.events[0];
    EXPECT_NE(std::wstring::npos, e.strings.at(0).find(L"  SYS=30.1 HDD=40.0 GPU=60.99\n"))
        << ::testing::PrintToString(e.strings.at(0));
    ASSERT_EQ(20u, e.rawData.size());
    EXPECT_EQ(0x28, e.rawData[8]);
    EXPECT_EQ(0x00, e.rawData[9]);
    EXPECT_EQ(readings[7], e.rawData[7]);
    EXPECT_EQ(readings[10], e.rawData[10]);
    EXPECT_EQ(1, CachedDiskIndex);
}

TEST(SvcReportHealthDetails, NoUsableDriveKeepsTheFirmwareHddPair) {
    SeamScope seams;
    std::array<BYTE, 20> readings = kReadings;
    readings[8] = 35;
    readings[9] = 7;
    seams.platform.replyPayload = HealthResponse(0x00500000, readings);
    seams.disks.drives[0].sector = SmartSector({{9, 1}});
    ReportHealthDetails();
    ASSERT_EQ(1u, seams.eventLog.events.size());
    EXPECT_NE(std::wstring::npos, seams.eventLog.events[0].strings.at(0).find(L" HDD=35.7 "));
    EXPECT_EQ(35, seams.eventLog.events[0].rawData.at(8));
    EXPECT_EQ(7, seams.eventLog.events[0].rawData.at(9));
}

TEST(SvcReportHealthDetails, StatusWithBit31WritesNothing) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(0x80000001, kReadings);
    ReportHealthDetails();
    EXPECT_EQ(0, seams.eventLog.registers);
    EXPECT_TRUE(seams.eventLog.events.empty());
}

TEST(SvcReportHealthDetails, FailedRequestWritesNothing) {
    SeamScope seams;
    seams.platform.requestResult = FALSE;
    seams.platform.replyPayload = HealthResponse(0x00400001, kReadings);
    ReportHealthDetails();
    EXPECT_EQ(0, seams.eventLog.registers);
    EXPECT_TRUE(seams.eventLog.events.empty());
    EXPECT_TRUE(seams.disks.opens.empty()) << "drives searched after a failed request";
}

TEST(SvcReportHealthDetails, DeviceAbsentWritesNothing) {
    SeamScope seams;
    seams.platform.openError = ERROR_FILE_NOT_FOUND;
    ReportHealthDetails();
    EXPECT_TRUE(seams.eventLog.events.empty());
}

TEST(SvcReportHealthDetails, NoSourceWritesNothing) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(0x00400001, kReadings);
    seams.eventLog.refuseSource = true;
    ReportHealthDetails();
    EXPECT_EQ(1, seams.eventLog.registers);
    EXPECT_TRUE(seams.eventLog.events.empty());
    EXPECT_EQ(0, seams.eventLog.deregisters);
}

TEST(SvcReadHealthStatus, ReturnsTheStatusAndCopiesTheWordsAskedFor) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(0x12345678, kReadings);
    std::array<BYTE, 20> dest;
    dest.fill(0xEE);
    EXPECT_EQ(0x12345678u, ReadHealthStatus(dest.data(), 3));
    EXPECT_EQ(std::vector<BYTE>(kReadings.begin(), kReadings.begin() + 6),
              std::vector<BYTE>(dest.begin(), dest.begin() + 6));
    EXPECT_EQ(0xEE, dest[6]) << "copied more than 3 words";
}

TEST(SvcReadHealthStatus, AtMostTwentyBytes) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(1, kReadings);
    std::array<BYTE, 24> dest;
    dest.fill(0xEE);
    EXPECT_EQ(1u, ReadHealthStatus(dest.data(), 12));
    EXPECT_EQ(kReadings[19], dest[19]);
    EXPECT_EQ(0xEE, dest[20]);
}

TEST(SvcReadHealthStatus, NegativeCountCopiesNothing) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(1, kReadings);
    std::array<BYTE, 20> dest;
    dest.fill(0xEE);
    EXPECT_EQ(1u, ReadHealthStatus(dest.data(), -4));
    EXPECT_EQ(0xEE, dest[0]);
}

TEST(SvcReadHealthStatus, NullDestinationSearchesNoDrive) {
    SeamScope seams;
    seams.platform.replyPayload = HealthResponse(0x00400001, kReadings);
    EXPECT_EQ(0x00400001u, ReadHealthStatus(nullptr, 10));
    EXPECT_TRUE(seams.disks.opens.empty());
}

TEST(SvcReadHealthStatus, FailureGivesNegativeWordAndLeavesTheDestination) {
    SeamScope seams;
    seams.platform.requestResult = FALSE;
    seams.platform.replyPayload = HealthResponse(0x00400001, kReadings);
    std::array<BYTE, 20> dest;
    dest.fill(0xEE);
    EXPECT_EQ(0x80000000u, ReadHealthStatus(dest.data(), 10));
    EXPECT_EQ(0xEE, dest[0]);
}
