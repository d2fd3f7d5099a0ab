// SMART request buffers, the attribute table, and the drive search with its
// cache, against stand-in drives.
#include <gtest/gtest.h>

#include <vector>

#include "fakes.h"
#include "health_core.h"
#include "qebevent.h"

namespace {

std::vector<BYTE> Bytes(const void* p, size_t n) {
    return std::vector<BYTE>(static_cast<const BYTE*>(p), static_cast<const BYTE*>(p) + n);
}

std::vector<BYTE> ReadOutput(const std::array<BYTE, 512>& sector) {
    std::vector<BYTE> out(kSmartReadOutSize, 0);
    std::copy(sector.begin(), sector.end(), out.begin() + 16);
    return out;
}

bool Parse(const std::vector<std::pair<BYTE, BYTE>>& entries, BYTE (&dest)[2]) {
    const std::vector<BYTE> out = ReadOutput(SmartSector(entries));
    return ParseSmartTemperature(out.data(), out.size(), dest);
}

}  // namespace

TEST(SvcSmartBuffers, SdkStructureSizes) {
    EXPECT_EQ(24u, sizeof(GETVERSIONINPARAMS));
    EXPECT_EQ(33u, sizeof(SENDCMDINPARAMS));
    EXPECT_EQ(17u, sizeof(SENDCMDOUTPARAMS));
}

TEST(SvcSmartBuffers, EnableCommandBytes) {
    SENDCMDINPARAMS command;
    memset(&command, 0xCC, sizeof(command));
    BuildSmartCommand(&command, 3, 0xD8, 0);
    const std::vector<BYTE> expected = {0, 0, 0, 0,                                 // cBufferSize
                                        0xD8, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0,      // IDE registers
                                        3,                                          // bDriveNumber
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(expected, Bytes(&command, sizeof(command)));
}

TEST(SvcSmartBuffers, ReadDataCommandBytes) {
    SENDCMDINPARAMS command;
    BuildSmartCommand(&command, 9, 0xD0, 512);
    const std::vector<BYTE> expected = {0, 2, 0, 0, 0xD0, 1, 1, 0x4F, 0xC2, 0xA0, 0xB0, 0, 9,
                                        0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(expected, Bytes(&command, sizeof(command)));
}

TEST(SvcSmartParse, TemperatureAttributeGivesLowestRawByteAndZero) {
    BYTE dest[2] = {0xEE, 0xEE};
    ASSERT_TRUE(Parse({{1, 5}, {9, 200}, {194, 40}, {197, 3}}, dest));
    EXPECT_EQ(40, dest[0]);
    EXPECT_EQ(0, dest[1]);
}

TEST(SvcSmartParse, ZeroIdentifierEntriesAreSkipped) {
    BYTE dest[2] = {};
    ASSERT_TRUE(Parse({{0, 99}, {0, 98}, {194, 37}}, dest));
    EXPECT_EQ(37, dest[0]);
}

TEST(SvcSmartParse, FirstTemperatureEntryWins) {
    BYTE dest[2] = {};
    ASSERT_TRUE(Parse({{194, 31}, {194, 55}}, dest));
    EXPECT_EQ(31, dest[0]);
}

TEST(SvcSmartParse, TemperatureInTheLastOfThirtyEntries) {
    std::vector<std::pair<BYTE, BYTE>> entries(29, {5, 1});
    entries.push_back({194, 44});
    BYTE dest[2] = {};
    ASSERT_TRUE(Parse(entries, dest));
    EXPECT_EQ(44, dest[0]);
}

TEST(SvcSmartParse, NoTemperatureInThirtyEntries) {
    std::vector<std::pair<BYTE, BYTE>> entries(30, {5, 1});
    BYTE dest[2] = {0xEE, 0xEE};
    EXPECT_FALSE(Parse(entries, dest));
    EXPECT_EQ(0xEE, dest[0]) << "destination written without a temperature";
}

TEST(SvcSmartParse, EntryBeyondTheThirtiethIsNotRead) {
    // A 31st entry would start at sector offset 2 + 30 * 12.
    std::array<BYTE, 512> sector = SmartSector(std::vector<std::pair<BYTE, BYTE>>(30, {5, 1}));
    sector[2 + 30 * 12] = 194;
    sector[2 + 30 * 12 + 5] = 50;
    const std::vector<BYTE> out = ReadOutput(sector);
    BYTE dest[2] = {};
    EXPECT_FALSE(ParseSmartTemperature(out.data(), out.size(), dest));
}

TEST(SvcSmartParse, ShortBufferIsRefused) {
    const std::vector<BYTE> out = ReadOutput(SmartSector({{194, 40}}));
    BYTE dest[2] = {};
    EXPECT_FALSE(ParseSmartTemperature(out.data(), 100, dest));
}

TEST(SvcSmartDrivePath, LastDigitIsTheDrive) {
    wchar_t path[kDrivePathChars];
    SmartDrivePath(0, path);
    EXPECT_EQ(std::wstring(L"\\\\.\\PHYSICALDRIVE0"), path);
    SmartDrivePath(7, path);
    EXPECT_EQ(std::wstring(L"\\\\.\\PHYSICALDRIVE7"), path);
}

TEST(SvcDriveSearchOrder, NoCacheGivesZeroToNine) {
    int order[kDriveCount + 1];
    ASSERT_EQ(10, DriveSearchOrder(-1, order));
    EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), std::vector<int>(order, order + 10));
}

TEST(SvcDriveSearchOrder, CachedDriveFirstThenAllAgain) {
    int order[kDriveCount + 1];
    ASSERT_EQ(11, DriveSearchOrder(4, order));
    EXPECT_EQ(std::vector<int>({4, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), std::vector<int>(order, order + 11));
}

// ---- ReadSmartTemperature on a stand-in drive ----

TEST(SvcReadSmartTemperature, SendsTheThreeRequestsWithExactSizes) {
    SeamScope seams;
    seams.disks.drives[2].sector = SmartSector({{194, 41}});
    BYTE dest[2] = {};
    HANDLE drive = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x6002));
    ASSERT_TRUE(ReadSmartTemperature(drive, 2, dest));
    EXPECT_EQ(41, dest[0]);
    EXPECT_EQ(0, dest[1]);
    const auto& r = seams.disks.requests;
    ASSERT_EQ(3u, r.size());
    EXPECT_EQ(0x74080u, r[0].code);
    EXPECT_EQ(0u, r[0].inSize);
    EXPECT_EQ(24u, r[0].outSize);
    EXPECT_EQ(0x7C084u, r[1].code);
    EXPECT_EQ(33u, r[1].inSize);
    EXPECT_EQ(17u, r[1].outSize);
    SENDCMDINPARAMS enable;
    BuildSmartCommand(&enable, 2, 0xD8, 0);
    EXPECT_EQ(Bytes(&enable, sizeof(enable)), r[1].input);
    EXPECT_EQ(0x7C088u, r[2].code);
    EXPECT_EQ(33u, r[2].inSize);
    EXPECT_EQ(531u, r[2].outSize);
    SENDCMDINPARAMS read;
    BuildSmartCommand(&read, 2, 0xD0, 512);
    EXPECT_EQ(Bytes(&read, sizeof(read)), r[2].input);
}

struct FailCase {
    const char* name;
    bool failVersion, failEnable, failRead;
    size_t requests;
};
inline void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }
class SvcReadSmartTemperatureFails : public ::testing::TestWithParam<FailCase> {};
TEST_P(SvcReadSmartTemperatureFails, StopsAtTheFailedRequest) {
    SeamScope seams;
    FakeDrive& d = seams.disks.drives[0];
    d.sector = SmartSector({{194, 41}});
    d.failVersion = GetParam().failVersion;
    d.failEnable = GetParam().failEnable;
    d.failRead = GetParam().failRead;
    BYTE dest[2] = {0xEE, 0xEE};
    EXPECT_FALSE(ReadSmartTemperature(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x6000)), 0, dest));
    EXPECT_EQ(GetParam().requests, seams.disks.requests.size());
    EXPECT_EQ(0xEE, dest[0]);
}
INSTANTIATE_TEST_SUITE_P(Cases, SvcReadSmartTemperatureFails,
                         ::testing::Values(FailCase{"Version", true, false, false, 1},
                                           FailCase{"Enable", false, true, false, 2},
                                           FailCase{"Read", false, false, true, 3}),
                         [](const ::testing::TestParamInfo<FailCase>& i) { return std::string(i.param.name); });

// ---- ReadDiskTemperature: search order and cache ----

TEST(SvcReadDiskTemperature, NoDriveTriesAllTenAndKeepsTheCache) {
    SeamScope seams;
    BYTE dest[2] = {0xEE, 0xEE};
    EXPECT_FALSE(ReadDiskTemperature(dest));
    EXPECT_EQ(std::vector<int>({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), seams.disks.opens);
    EXPECT_EQ(-1, CachedDiskIndex);
    EXPECT_EQ(0xEE, dest[0]);
}

TEST(SvcReadDiskTemperature, OpensWithSharedReadWriteAndSystemAttribute) {
    SeamScope seams;
    seams.disks.drives[0].sector = SmartSector({{194, 30}});
    BYTE dest[2];
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE), seams.disks.openAccess);
    EXPECT_EQ(static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE), seams.disks.openShare);
    EXPECT_EQ(static_cast<DWORD>(OPEN_EXISTING), seams.disks.openDisposition);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_SYSTEM), seams.disks.openFlags);
    EXPECT_EQ(1, seams.disks.closes);
}

TEST(SvcReadDiskTemperature, FirstDriveWithTemperatureIsCached) {
    SeamScope seams;
    seams.disks.drives[0].sector = SmartSector({{9, 1}});  // no attribute 194
    seams.disks.drives[1].sector = SmartSector({{194, 42}});
    seams.disks.drives[3].sector = SmartSector({{194, 50}});
    BYTE dest[2] = {};
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(42, dest[0]);
    EXPECT_EQ(0, dest[1]);
    EXPECT_EQ(1, CachedDiskIndex);
    EXPECT_EQ(std::vector<int>({0, 1}), seams.disks.opens);
    EXPECT_EQ(2, seams.disks.closes);
}

TEST(SvcReadDiskTemperature, CachedDriveIsTriedFirst) {
    SeamScope seams;
    seams.disks.drives[0].sector = SmartSector({{194, 20}});
    seams.disks.drives[1].sector = SmartSector({{194, 42}});
    CachedDiskIndex = 1;
    BYTE dest[2] = {};
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(42, dest[0]);
    EXPECT_EQ(std::vector<int>({1}), seams.disks.opens);
    EXPECT_EQ(1, CachedDiskIndex);
}

TEST(SvcReadDiskTemperature, CachedDriveGoneSearchesFromZeroAgain) {
    SeamScope seams;
    seams.disks.drives[5].sector = SmartSector({{194, 33}});
    CachedDiskIndex = 1;
    BYTE dest[2] = {};
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(33, dest[0]);
    EXPECT_EQ(std::vector<int>({1, 0, 1, 2, 3, 4, 5}), seams.disks.opens);
    EXPECT_EQ(5, CachedDiskIndex);
}

TEST(SvcReadDiskTemperature, CachedDriveFailingSmartIsRetriedInTheSearch) {
    SeamScope seams;
    seams.disks.drives[2].sector = SmartSector({{194, 33}});
    seams.disks.drives[2].failRead = true;
    seams.disks.drives[7].sector = SmartSector({{194, 61}});
    CachedDiskIndex = 2;
    BYTE dest[2] = {};
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(61, dest[0]);
    EXPECT_EQ(std::vector<int>({2, 0, 1, 2, 3, 4, 5, 6, 7}), seams.disks.opens);
    EXPECT_EQ(7, CachedDiskIndex);
}

TEST(SvcReadDiskTemperature, NothingFoundKeepsTheEarlierCache) {
    SeamScope seams;
    CachedDiskIndex = 4;
    BYTE dest[2] = {0xEE, 0xEE};
    EXPECT_FALSE(ReadDiskTemperature(dest));
    EXPECT_EQ(std::vector<int>({4, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9}), seams.disks.opens);
    EXPECT_EQ(4, CachedDiskIndex);
    EXPECT_EQ(0xEE, dest[0]);
}

TEST(SvcReadDiskTemperature, DriveFailingEachRequestCountsAsNoTemperature) {
    SeamScope seams;
    seams.disks.drives[0].failVersion = true;
    seams.disks.drives[1].failEnable = true;
    seams.disks.drives[2].failRead = true;
    for (int i = 0; i < 3; ++i) seams.disks.drives[i].sector = SmartSector({{194, 70}});
    seams.disks.drives[3].sector = SmartSector({{194, 36}});
    BYTE dest[2] = {};
    ASSERT_TRUE(ReadDiskTemperature(dest));
    EXPECT_EQ(36, dest[0]);
    EXPECT_EQ(3, CachedDiskIndex);
    EXPECT_EQ(4, seams.disks.closes);
}
