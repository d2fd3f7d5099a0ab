// qebictl's argument parsing and journal formatting; the client's SMART sector.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ctl_parse.h"
#include "qebsim/client.h"

namespace {

TEST(CtlParseNumber, Table) {
    struct { const char* text; bool ok; uint32_t value; } cases[] = {
        {"0", true, 0},          {"4099", true, 4099},        {"0x1003", true, 0x1003},
        {"0XFF", true, 255},     {"0xffffffff", true, 0xFFFFFFFFu}, {"4294967295", true, 0xFFFFFFFFu},
        {"-1", true, 0xFFFFFFFFu}, {"-2147483648", true, 0x80000000u},
        {"4294967296", false, 0}, {"0x100000000", false, 0}, {"", false, 0}, {"0x", false, 0},
        {"12a", false, 0},       {"-", false, 0},             {"0xg1", false, 0}, {"-2147483649", false, 0},
    };
    for (const auto& c : cases) {
        uint32_t v = 0xDEADBEEF;
        EXPECT_EQ(c.ok, qebictl::ParseNumber(c.text, &v)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, v) << c.text;
        }
    }
}

TEST(CtlFeatureIndex, NamesAndIndices) {
    EXPECT_EQ(QEB_FEAT_WIFI, qebictl::FeatureIndex("wifi"));
    EXPECT_EQ(QEB_FEAT_BT, qebictl::FeatureIndex("BT"));
    EXPECT_EQ(QEB_FEAT_MIC_LED, qebictl::FeatureIndex("mic"));
    EXPECT_EQ(QEB_FEAT_VOL_LED, qebictl::FeatureIndex("vol"));
    EXPECT_EQ(QEB_FEAT_AMBIENT_LIGHT, qebictl::FeatureIndex("ambient"));
    EXPECT_EQ(QEB_FEAT_POWER_METER, qebictl::FeatureIndex("power"));
    EXPECT_EQ(QEB_FEAT_THERMAL, qebictl::FeatureIndex("thermal"));
    EXPECT_EQ(QEB_FEAT_CAD_SUPPORT, qebictl::FeatureIndex("cad"));
    EXPECT_EQ(QEB_FEAT_BATTERY, qebictl::FeatureIndex("battery"));
    EXPECT_EQ(QEB_FEAT_USB_CHARGE, qebictl::FeatureIndex("usb"));
    EXPECT_EQ(QEB_FEAT_FSC, qebictl::FeatureIndex("fsc"));
    EXPECT_EQ(QEB_FEAT_PC_HEALTH, qebictl::FeatureIndex("health"));
    EXPECT_EQ(11, qebictl::FeatureIndex("11"));
    EXPECT_EQ(-1, qebictl::FeatureIndex("12"));
    EXPECT_EQ(-1, qebictl::FeatureIndex("-1"));
    EXPECT_EQ(-1, qebictl::FeatureIndex("radio"));
}

TEST(CtlParseReadings, BytesOrWords) {
    uint8_t out[20];
    std::vector<std::string> bytes(20, "00");
    bytes[0] = "2D";
    bytes[1] = "0x19";
    bytes[19] = "ff";
    ASSERT_TRUE(qebictl::ParseReadings(bytes, out));
    EXPECT_EQ(0x2D, out[0]);
    EXPECT_EQ(0x19, out[1]);
    EXPECT_EQ(0xFF, out[19]);
    std::vector<std::string> words(10, "0x0102");
    words[9] = "1850";
    ASSERT_TRUE(qebictl::ParseReadings(words, out));
    EXPECT_EQ(0x02, out[0]);
    EXPECT_EQ(0x01, out[1]);
    EXPECT_EQ(0x3A, out[18]);
    EXPECT_EQ(0x07, out[19]);
}

TEST(CtlParseReadings, RejectsWrongCountsAndRanges) {
    uint8_t out[20] = {};
    EXPECT_FALSE(qebictl::ParseReadings(std::vector<std::string>(19, "1"), out));
    EXPECT_FALSE(qebictl::ParseReadings(std::vector<std::string>(11, "1"), out));
    std::vector<std::string> bytes(20, "1");
    bytes[5] = "100";
    EXPECT_FALSE(qebictl::ParseReadings(bytes, out));
    bytes[5] = "-1";
    EXPECT_FALSE(qebictl::ParseReadings(bytes, out));
    bytes[5] = "G0";
    EXPECT_FALSE(qebictl::ParseReadings(bytes, out));
    std::vector<std::string> words(10, "1");
    words[0] = "0x10000";
    EXPECT_FALSE(qebictl::ParseReadings(words, out));
    EXPECT_EQ(0, out[0]) << "output written although rejected";
}

TEST(CtlFormatRecord, FrameShowsHexAndFields) {
    QEBSIM_RECORD r{};
    r.seq = 12;
    r.kind = QEBSIM_REC_FRAME;
    r.time_qpc = 25000;
    r.handle_id = 3;
    r.code = 0x222404;
    r.status = static_cast<int32_t>(0xC000003F);
    r.length = 24;
    r.data_len = 3;
    r.data[0] = 0x50; r.data[1] = 0x4D; r.data[2] = 0x0A;
    std::string line = qebictl::FormatRecord(r, 0, 10000000, false);
    EXPECT_NE(std::string::npos, line.find("FRAME")) << line;
    EXPECT_NE(std::string::npos, line.find("2.500ms")) << line;
    EXPECT_NE(std::string::npos, line.find("ioctl=0x222404")) << line;
    EXPECT_NE(std::string::npos, line.find("status=0xC000003F")) << line;
    EXPECT_NE(std::string::npos, line.find("data=50 4D 0A ...")) << line;
}

TEST(CtlFormatRecord, NoteShowsText) {
    QEBSIM_RECORD r{};
    r.kind = QEBSIM_REC_NOTE;
    r.code = QEBSIM_NOTE_SAS;
    const wchar_t text[] = L"SendSAS";
    std::memcpy(r.data, text, 14);
    r.data_len = r.length = 14;
    std::string line = qebictl::FormatRecord(r, 0, 1, false);
    EXPECT_NE(std::string::npos, line.find("source=1 text=\"SendSAS\"")) << line;
}

// Found by the qebictl_parse fuzz target: times further apart than an
// int64_t holds overflowed the subtraction.
TEST(CtlFormatRecord, TimesFarApartDoNotOverflow) {
    QEBSIM_RECORD r{};
    r.kind = QEBSIM_REC_OPEN;
    r.time_qpc = INT64_MAX;
    std::string line = qebictl::FormatRecord(r, -1, 1000, false);
    EXPECT_NE(std::string::npos, line.find(" 9223372036854775808.000ms")) << line;
}

TEST(CtlBuildSmartData, TemperatureAttributeWhereTheServiceLooks) {
    uint8_t sector[512];
    qebsim::BuildSmartData(sector, 40);
    // Attribute table at offset 2, 12-byte entries, raw value at entry offset 5.
    int found = -1;
    for (int i = 0; i < 30; ++i)
        if (sector[2 + 12 * i] == 0xC2) { found = i; break; }
    ASSERT_GE(found, 0);
    EXPECT_EQ(40, sector[2 + 12 * found + 5]);
    qebsim::BuildSmartData(sector, -1);
    for (int i = 0; i < 30; ++i) EXPECT_NE(0xC2, sector[2 + 12 * i]) << "entry " << i;
}

TEST(CtlServiceStateName, KnownStates) {
    EXPECT_STREQ("RUNNING", qebsim::ServiceStateName(SERVICE_RUNNING));
    EXPECT_STREQ("STOPPED", qebsim::ServiceStateName(SERVICE_STOPPED));
    EXPECT_STREQ("UNKNOWN", qebsim::ServiceStateName(99));
}

}  // namespace
