// Pure pieces of the simulated firmware: CRC, frame checks, answers, setter
// semantics, event queue, journal ring and SMART answers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "sim_core.h"

namespace {

std::vector<uint8_t> Frame(uint16_t function, uint32_t length, const std::vector<uint8_t>& request = {}) {
    std::vector<uint8_t> f(length, 0);
    const uint8_t sig[4] = {'P', 'M', 'D', 'B'};
    std::memcpy(f.data(), sig, 4);
    f[4] = static_cast<uint8_t>(length);
    f[5] = static_cast<uint8_t>(length >> 8);
    f[6] = 1;
    f[10] = static_cast<uint8_t>(function);
    f[11] = static_cast<uint8_t>(function >> 8);
    std::memcpy(f.data() + 20, request.data(), request.size());
    qebsim_seal_frame(f.data(), length);
    return f;
}

uint32_t Word(const std::vector<uint8_t>& f, size_t off) {
    return f[off] | (f[off + 1] << 8) | (f[off + 2] << 16) | (static_cast<uint32_t>(f[off + 3]) << 24);
}

std::vector<uint8_t> Value(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}

TEST(SimCrc16, CheckValueOfDigits) {
    const char* digits = "123456789";
    EXPECT_EQ(0x31C3, qebsim_crc16(reinterpret_cast<const uint8_t*>(digits), 9));
}

TEST(SimCrc16, TwentyZeroBytesGiveZero) {
    uint8_t zeros[20] = {};
    EXPECT_EQ(0, qebsim_crc16(zeros, sizeof(zeros)));
}

TEST(SimFrame, SealsTheProductsHealthAndPowerFrames) {
    // The service's KNVS 7 (44 bytes) and KNVS 9 (24 bytes) frames.
    std::vector<uint8_t> health = Frame(7, 44);
    std::vector<uint8_t> power = Frame(9, 24);
    EXPECT_EQ(0xE4, health[8]);
    EXPECT_EQ(0xDF, health[9]);
    EXPECT_EQ(0xAA, power[8]);
    EXPECT_EQ(0x0D, power[9]);
}

struct CheckCase {
    const char* name;
    int mutate;          // 0 none, 1 signature, 2 length field, 3 checksum, 4 payload byte
    uint32_t in_len;
    uint32_t out_len;
    int expected;
};

TEST(SimFrame, CheckTable) {
    const CheckCase cases[] = {
        {"good", 0, 24, 24, QEBSIM_FRAME_OK},
        {"shorter than header", 0, 19, 19, QEBSIM_FRAME_TOO_SHORT},
        {"bad signature", 1, 24, 24, QEBSIM_FRAME_BAD_SIGNATURE},
        {"length field differs", 2, 24, 24, QEBSIM_FRAME_BAD_LENGTH},
        {"output length differs", 0, 24, 28, QEBSIM_FRAME_BAD_LENGTH},
        {"input length differs", 0, 23, 24, QEBSIM_FRAME_BAD_LENGTH},
        {"checksum wrong", 3, 24, 24, QEBSIM_FRAME_BAD_CHECKSUM},
        {"payload changed after sealing", 4, 24, 24, QEBSIM_FRAME_BAD_CHECKSUM},
    };
    for (const CheckCase& c : cases) {
        std::vector<uint8_t> f = Frame(9, 24);
        if (c.mutate == 1) f[0] = 'Q';
        if (c.mutate == 2) f[4] = 28;
        if (c.mutate == 3) f[8] ^= 1;
        if (c.mutate == 4) f[21] = 7;
        EXPECT_EQ(c.expected, qebsim_check_frame(f.data(), c.in_len, c.out_len)) << c.name;
    }
}

TEST(SimFrame, NullBufferIsTooShort) {
    EXPECT_EQ(QEBSIM_FRAME_TOO_SHORT, qebsim_check_frame(nullptr, 0, 0));
}

class SimFirmware : public ::testing::Test {
protected:
    void SetUp() override { qebsim_firmware_init(&fw); }
    int Answer(uint32_t ioctl, std::vector<uint8_t>* f) {
        return qebsim_answer_frame(&fw, ioctl, f->data(), static_cast<uint32_t>(f->size()), &effect);
    }
    QEBSIM_FIRMWARE fw;
    QEBSIM_ANSWER_EFFECT effect;
};

TEST_F(SimFirmware, InitialStateIsAHealthyDesktop) {
    EXPECT_EQ(1u, fw.health_status);
    EXPECT_EQ(0u, fw.power_flags);
    EXPECT_EQ(3, fw.features[QEB_FEAT_WIFI]);
    EXPECT_EQ(0x0F, fw.features[QEB_FEAT_USB_CHARGE]);
    EXPECT_EQ(42, fw.readings[2]);  // CPU 42.5
    EXPECT_EQ(5, fw.readings[3]);
}

TEST_F(SimFirmware, Knvs7AnswersHealthAndReadingsAndReseals) {
    fw.health_status = 0x00400001;
    fw.readings[8] = 0x33;
    std::vector<uint8_t> f = Frame(7, 44);
    ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KNVS, &f));
    EXPECT_EQ(0x00400001u, Word(f, 20));
    EXPECT_EQ(0, std::memcmp(f.data() + 24, fw.readings, 20));
    EXPECT_EQ(QEBSIM_FRAME_OK, qebsim_check_frame(f.data(), 44, 44));
    EXPECT_EQ(-1, effect.feature_set);
}

TEST_F(SimFirmware, Knvs9AnswersPowerFlags) {
    fw.power_flags = 0x5;
    std::vector<uint8_t> f = Frame(9, 24);
    ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KNVS, &f));
    EXPECT_EQ(5u, Word(f, 20));
}

TEST_F(SimFirmware, RefusesWhatItCannotAnswerAndLeavesTheFrame) {
    struct { uint32_t ioctl; uint16_t function; uint32_t len; int expected; } cases[] = {
        {QEB_IOCTL_KNVS, 7, 40, QEBSIM_ANSWER_TOO_SHORT},
        {QEB_IOCTL_KNVS, 9, 20, QEBSIM_ANSWER_TOO_SHORT},
        {QEB_IOCTL_KNVS, 8, 24, QEBSIM_ANSWER_UNKNOWN_FUNCTION},
        {QEB_IOCTL_KSMI, 0x1C, 24, QEBSIM_ANSWER_UNKNOWN_FUNCTION},
        {QEB_IOCTL_KSMI, 7, 24, QEBSIM_ANSWER_UNKNOWN_FUNCTION},
        {QEB_IOCTL_KSMI, QEB_KSMI_READ_FEATURE(QEB_FEAT_THERMAL), 40, QEBSIM_ANSWER_TOO_SHORT},
        {QEB_IOCTL_KSMI, QEB_KSMI_SET_FEATURE(QEB_FEAT_WIFI), 20, QEBSIM_ANSWER_TOO_SHORT},
        {0x222408u, 7, 44, QEBSIM_ANSWER_UNKNOWN_FUNCTION},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> f = Frame(c.function, c.len);
        std::vector<uint8_t> before = f;
        EXPECT_EQ(c.expected, Answer(c.ioctl, &f)) << "ioctl " << c.ioctl << " function " << c.function;
        EXPECT_EQ(before, f) << "function " << c.function;
    }
}

TEST_F(SimFirmware, KsmiReadsEveryFeatureWord) {
    for (uint32_t i = 0; i < QEB_FEATURE_COUNT; ++i) {
        fw.features[i] = static_cast<int32_t>(0x100 + i);
        std::vector<uint8_t> f = Frame(static_cast<uint16_t>(QEB_KSMI_READ_FEATURE(i)), 44);
        ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KSMI, &f)) << i;
        EXPECT_EQ(0x100 + i, Word(f, 20)) << i;
    }
}

TEST_F(SimFirmware, KsmiThermalReadCarriesTheReadings) {
    std::vector<uint8_t> f = Frame(QEB_KSMI_READ_FEATURE(QEB_FEAT_THERMAL), 44);
    ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KSMI, &f));
    EXPECT_EQ(1u, Word(f, 20));
    EXPECT_EQ(0, std::memcmp(f.data() + 24, fw.readings, 20));
}

TEST_F(SimFirmware, KsmiBrightnessSucceedsWithoutAnswer) {
    std::vector<uint8_t> f = Frame(QEB_KSMI_BRIGHTNESS, 20);
    EXPECT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KSMI, &f));
}

struct SetterCase {
    const char* name;
    uint32_t index;
    int32_t current;
    uint32_t value;
    bool applied;
    int32_t expected;
};

TEST(SimSetter, SemanticsTable) {
    const SetterCase cases[] = {
        {"wifi on", QEB_FEAT_WIFI, 0x1, 1, true, 0x3},
        {"wifi off", QEB_FEAT_WIFI, 0x3, 0, true, 0x1},
        {"bt off keeps upper bits", QEB_FEAT_BT, 0x13, 0, true, 0x11},
        {"wifi absent", QEB_FEAT_WIFI, 0x2, 1, false, 0},
        {"wifi negative word", QEB_FEAT_WIFI, static_cast<int32_t>(0x80000001u), 1, false, 0},
        {"mic value 1 clears bit 1", QEB_FEAT_MIC_LED, 0x3, 1, true, 0x1},
        {"mic value 0 sets bit 1", QEB_FEAT_MIC_LED, 0x1, 0, true, 0x3},
        {"vol value 0 sets bit 1", QEB_FEAT_VOL_LED, 0x1, 0, true, 0x3},
        {"usb with mode bit: both bits", QEB_FEAT_USB_CHARGE, 0x5, 3, true, 0xF},
        {"usb with mode bit: clear both", QEB_FEAT_USB_CHARGE, 0xF, 0, true, 0x5},
        {"usb without mode bit: bit 3 kept", QEB_FEAT_USB_CHARGE, 0x9, 2, true, 0x9},
        {"usb without mode bit: bit 1", QEB_FEAT_USB_CHARGE, 0x1, 3, true, 0x3},
        {"fsc mode 2", QEB_FEAT_FSC, 0x1, 2, true, 0x5},
        {"fsc mode 3 from 1", QEB_FEAT_FSC, 0x3, 3, true, 0x7},
        {"fsc mode 0", QEB_FEAT_FSC, 0x7, 0, true, 0x1},
        {"ambient has no setter", QEB_FEAT_AMBIENT_LIGHT, 0x15, 1, false, 0},
        {"health has no setter", QEB_FEAT_PC_HEALTH, 0x1, 1, false, 0},
        {"index out of range", QEB_FEATURE_COUNT, 0x1, 1, false, 0},
    };
    for (const SetterCase& c : cases) {
        int32_t out = -12345;
        int applied = qebsim_apply_setter(c.index, c.current, c.value, &out);
        EXPECT_EQ(c.applied, applied != 0) << c.name;
        if (c.applied) {
            EXPECT_EQ(c.expected, out) << c.name;
        } else {
            EXPECT_EQ(-12345, out) << c.name << ": output written although refused";
        }
    }
}

TEST_F(SimFirmware, KsmiSetAppliesAndReportsTheEffect) {
    fw.features[QEB_FEAT_WIFI] = 0x1;
    std::vector<uint8_t> f = Frame(QEB_KSMI_SET_FEATURE(QEB_FEAT_WIFI), 24, Value(1));
    ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KSMI, &f));
    EXPECT_EQ(0u, Word(f, 20));
    EXPECT_EQ(3, fw.features[QEB_FEAT_WIFI]);
    EXPECT_EQ(QEB_FEAT_WIFI, effect.feature_set);
    EXPECT_EQ(3, effect.new_word);
    EXPECT_EQ(1u, effect.requested);
}

TEST_F(SimFirmware, KsmiSetRefusedAnswers80000000AndKeepsTheWord) {
    fw.features[QEB_FEAT_BT] = 0x2;  // absent
    std::vector<uint8_t> f = Frame(QEB_KSMI_SET_FEATURE(QEB_FEAT_BT), 24, Value(1));
    ASSERT_EQ(QEBSIM_ANSWER_OK, Answer(QEB_IOCTL_KSMI, &f));
    EXPECT_EQ(0x80000000u, Word(f, 20));
    EXPECT_EQ(2, fw.features[QEB_FEAT_BT]);
    EXPECT_EQ(-1, effect.feature_set);
}

TEST(SimQueue, FifoUpToTheBoundThenRefuses) {
    uint32_t slots[3];
    QEBSIM_EVENT_QUEUE q;
    qebsim_queue_init(&q, slots, 3);
    EXPECT_EQ(1, qebsim_queue_push(&q, 10));
    EXPECT_EQ(1, qebsim_queue_push(&q, 11));
    EXPECT_EQ(1, qebsim_queue_push(&q, 12));
    EXPECT_EQ(0, qebsim_queue_push(&q, 13));
    EXPECT_EQ(3u, q.count);
    uint32_t code = 0;
    ASSERT_EQ(1, qebsim_queue_pop(&q, &code));
    EXPECT_EQ(10u, code);
    EXPECT_EQ(1, qebsim_queue_push(&q, 14));  // wraps around
    std::vector<uint32_t> rest;
    while (qebsim_queue_pop(&q, &code)) rest.push_back(code);
    EXPECT_EQ((std::vector<uint32_t>{11, 12, 14}), rest);
    EXPECT_EQ(0, qebsim_queue_pop(&q, &code));
}

class SimJournal : public ::testing::Test {
protected:
    void SetUp() override { qebsim_journal_init(&j, ring, 4); }
    std::vector<uint32_t> Seqs(uint32_t from, uint32_t max = 10) {
        QEBSIM_RECORD out[10];
        uint32_t n = qebsim_journal_read(&j, from, out, max);
        std::vector<uint32_t> s;
        for (uint32_t i = 0; i < n; ++i) s.push_back(out[i].seq);
        return s;
    }
    QEBSIM_RECORD ring[4];
    QEBSIM_JOURNAL j;
};

TEST_F(SimJournal, KeepsFieldsAndCutsDataAt192) {
    uint8_t data[300];
    for (int i = 0; i < 300; ++i) data[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(1u, qebsim_journal_append(&j, QEBSIM_REC_FRAME, 77, 5, 0x222404, -3, data, 300));
    QEBSIM_RECORD r;
    ASSERT_EQ(1u, qebsim_journal_read(&j, 1, &r, 1));
    EXPECT_EQ(QEBSIM_REC_FRAME, r.kind);
    EXPECT_EQ(77, r.time_qpc);
    EXPECT_EQ(5u, r.handle_id);
    EXPECT_EQ(0x222404u, r.code);
    EXPECT_EQ(-3, r.status);
    EXPECT_EQ(300u, r.length);
    EXPECT_EQ(QEBSIM_RECORD_DATA, r.data_len);
    EXPECT_EQ(0, std::memcmp(r.data, data, QEBSIM_RECORD_DATA));
}

TEST_F(SimJournal, RingDropsTheOldest) {
    for (int i = 0; i < 6; ++i) qebsim_journal_append(&j, QEBSIM_REC_NOTE, 0, 0, 0, 0, nullptr, 0);
    EXPECT_EQ(3u, qebsim_journal_oldest(&j));
    EXPECT_EQ((std::vector<uint32_t>{3, 4, 5, 6}), Seqs(1));
    EXPECT_EQ((std::vector<uint32_t>{5, 6}), Seqs(5));
    EXPECT_EQ((std::vector<uint32_t>{3, 4}), Seqs(0, 2));
    EXPECT_TRUE(Seqs(7).empty());
}

TEST_F(SimJournal, ClearKeepsCounting) {
    qebsim_journal_append(&j, QEBSIM_REC_NOTE, 0, 0, 0, 0, nullptr, 0);
    qebsim_journal_clear(&j);
    EXPECT_TRUE(Seqs(0).empty());
    EXPECT_EQ(2u, qebsim_journal_append(&j, QEBSIM_REC_NOTE, 0, 0, 0, 0, nullptr, 0));
    EXPECT_EQ((std::vector<uint32_t>{2}), Seqs(0));
}

// ---- SMART ----------------------------------------------------------------
std::vector<uint8_t> SmartIn(uint8_t features, uint32_t bufferSize, uint8_t drive) {
    std::vector<uint8_t> in(33, 0);
    in[0] = static_cast<uint8_t>(bufferSize);
    in[1] = static_cast<uint8_t>(bufferSize >> 8);
    in[4] = features;
    in[5] = 1;
    in[6] = 1;
    in[7] = 0x4F;
    in[8] = 0xC2;
    in[9] = 0xA0;
    in[10] = 0xB0;
    in[12] = drive;
    return in;
}

class SimSmart : public ::testing::Test {
protected:
    void SetUp() override {
        std::memset(&disk, 0, sizeof(disk));
        disk.drive = 2;
        disk.flags = QEBSIM_DISK_PRESENT;
        for (int i = 0; i < 512; ++i) disk.smart_data[i] = static_cast<uint8_t>(i * 7);
    }
    int Run(uint32_t ioctl, const std::vector<uint8_t>& in, uint32_t outLen) {
        out.assign(outLen, 0xEE);
        return qebsim_smart_answer(&disk, ioctl, in.empty() ? nullptr : in.data(),
                                   static_cast<uint32_t>(in.size()), out.data(), outLen, &written);
    }
    QEBSIM_DISK_CONFIG disk;
    std::vector<uint8_t> out;
    uint32_t written = 0;
};

TEST_F(SimSmart, VersionAnswers24Bytes) {
    ASSERT_EQ(QEBSIM_SMART_OK, Run(QEBSIM_SMART_GET_VERSION, {}, 24));
    EXPECT_EQ(24u, written);
    EXPECT_EQ(1, out[0]);
}

TEST_F(SimSmart, EnableAndReadDeliverTheSector) {
    ASSERT_EQ(QEBSIM_SMART_OK, Run(QEBSIM_SMART_SEND_COMMAND, SmartIn(0xD8, 0, 2), 17));
    EXPECT_EQ(16u, written);
    ASSERT_EQ(QEBSIM_SMART_OK, Run(QEBSIM_SMART_RCV_DATA, SmartIn(0xD0, 512, 2), 531));
    EXPECT_EQ(528u, written);
    EXPECT_EQ(0, std::memcmp(out.data() + 16, disk.smart_data, 512));
}

TEST_F(SimSmart, ReadInPlaceLikeMethodBuffered) {
    std::vector<uint8_t> buf = SmartIn(0xD0, 512, 2);
    buf.resize(531, 0);
    ASSERT_EQ(QEBSIM_SMART_OK, qebsim_smart_answer(&disk, QEBSIM_SMART_RCV_DATA, buf.data(), 33, buf.data(), 531, &written));
    EXPECT_EQ(0, std::memcmp(buf.data() + 16, disk.smart_data, 512));
}

TEST_F(SimSmart, RefusalTable) {
    struct { const char* name; uint32_t ioctl; std::vector<uint8_t> in; uint32_t outLen; uint32_t flags; int expected; } cases[] = {
        {"version output short", QEBSIM_SMART_GET_VERSION, {}, 23, QEBSIM_DISK_PRESENT, QEBSIM_SMART_TOO_SMALL},
        {"version failure injected", QEBSIM_SMART_GET_VERSION, {}, 24, QEBSIM_DISK_PRESENT | QEBSIM_DISK_FAIL_VERSION, QEBSIM_SMART_DEVICE_ERROR},
        {"enable with read features", QEBSIM_SMART_SEND_COMMAND, SmartIn(0xD0, 0, 2), 17, QEBSIM_DISK_PRESENT, QEBSIM_SMART_INVALID},
        {"enable input short", QEBSIM_SMART_SEND_COMMAND, std::vector<uint8_t>(31, 0), 17, QEBSIM_DISK_PRESENT, QEBSIM_SMART_INVALID},
        {"enable output short", QEBSIM_SMART_SEND_COMMAND, SmartIn(0xD8, 0, 2), 15, QEBSIM_DISK_PRESENT, QEBSIM_SMART_TOO_SMALL},
        {"enable failure injected", QEBSIM_SMART_SEND_COMMAND, SmartIn(0xD8, 0, 2), 17, QEBSIM_DISK_PRESENT | QEBSIM_DISK_FAIL_ENABLE, QEBSIM_SMART_DEVICE_ERROR},
        {"read other drive number", QEBSIM_SMART_RCV_DATA, SmartIn(0xD0, 512, 3), 531, QEBSIM_DISK_PRESENT, QEBSIM_SMART_INVALID},
        {"read buffer size 0", QEBSIM_SMART_RCV_DATA, SmartIn(0xD0, 0, 2), 531, QEBSIM_DISK_PRESENT, QEBSIM_SMART_INVALID},
        {"read output short", QEBSIM_SMART_RCV_DATA, SmartIn(0xD0, 512, 2), 527, QEBSIM_DISK_PRESENT, QEBSIM_SMART_TOO_SMALL},
        {"read failure injected", QEBSIM_SMART_RCV_DATA, SmartIn(0xD0, 512, 2), 531, QEBSIM_DISK_PRESENT | QEBSIM_DISK_FAIL_READ, QEBSIM_SMART_DEVICE_ERROR},
        {"drive removed", QEBSIM_SMART_GET_VERSION, {}, 24, 0, QEBSIM_SMART_NO_DEVICE},
        {"other request", 0x70000, {}, 24, QEBSIM_DISK_PRESENT, QEBSIM_SMART_UNSUPPORTED},
    };
    for (auto& c : cases) {
        disk.flags = c.flags;
        EXPECT_EQ(c.expected, Run(c.ioctl, c.in, c.outLen)) << c.name;
        EXPECT_EQ(0u, written) << c.name;
    }
    // Each register the command checks.
    for (int reg : {7, 8, 10}) {
        disk.flags = QEBSIM_DISK_PRESENT;
        std::vector<uint8_t> in = SmartIn(0xD8, 0, 2);
        in[reg] ^= 0x01;
        EXPECT_EQ(QEBSIM_SMART_INVALID, Run(QEBSIM_SMART_SEND_COMMAND, in, 17)) << "register at " << reg;
    }
}

}  // namespace
