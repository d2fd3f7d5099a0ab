// qebisim.sys under Wine: framed requests, failure injection, listeners,
// queue overflow, handle close and driver stop. Runs in a prefix prepared by
// scripts/run-system-test.sh (driver started, \\.\QEBISimCtl open).
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "qebsim/client.h"
#include "sim_core.h"

namespace {

// The service's own frames, byte for byte.
const uint8_t kHealthFrame[44] = {0x50, 0x4D, 0x44, 0x42, 0x2C, 0x00, 0x01, 0x00, 0xE4, 0xDF, 0x07, 0x00,
                                  0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
const uint8_t kPowerFrame[24] = {0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00,
                                 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

std::vector<uint8_t> Frame(uint16_t function, uint32_t length, uint32_t value = 0) {
    std::vector<uint8_t> f(length, 0);
    std::memcpy(f.data(), "PMDB", 4);
    f[4] = static_cast<uint8_t>(length);
    f[5] = static_cast<uint8_t>(length >> 8);
    f[6] = 1;
    f[10] = static_cast<uint8_t>(function);
    f[11] = static_cast<uint8_t>(function >> 8);
    if (length >= 24) std::memcpy(f.data() + 20, &value, 4);
    qebsim_seal_frame(f.data(), length);
    return f;
}

uint32_t Word(const std::vector<uint8_t>& f, size_t off) {
    uint32_t v;
    std::memcpy(&v, f.data() + off, 4);
    return v;
}

struct Result {
    bool ok;
    DWORD error;
};

// One framed request the way the service sends it: own handle, share mode 0.
Result Send(DWORD ioctl, std::vector<uint8_t>* frame, DWORD inLen = 0, DWORD outLen = 0) {
    if (!inLen) inLen = static_cast<DWORD>(frame->size());
    if (!outLen) outLen = static_cast<DWORD>(frame->size());
    HANDLE h = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {false, GetLastError()};
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, ioctl, frame->data(), inLen, frame->data(), outLen, &got, nullptr);
    DWORD err = ok ? 0 : GetLastError();
    CloseHandle(h);
    return {ok != FALSE, err};
}

QEBSIM_STATE State() {
    QEBSIM_STATE s{};
    EXPECT_TRUE(qebsim::GetState(&s)) << "GetState error " << GetLastError();
    return s;
}

// A \\.\QEBI handle opened for overlapped waits, as the service's monitor does.
class Listener {
public:
    Listener() {
        h_ = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
        ev_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~Listener() {
        Close();
        CloseHandle(ev_);
    }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE; }
    void Close() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    // Issues a wait; true when it is outstanding or done, false on failure.
    bool Start(DWORD* error = nullptr) {
        std::memset(&ov_, 0, sizeof(ov_));
        ov_.hEvent = ev_;
        ResetEvent(ev_);
        code_ = 0;
        DWORD got = 0;
        if (DeviceIoControl(h_, QEB_IOCTL_WAIT_EVENT, nullptr, 0, &code_, sizeof(code_), &got, &ov_)) return true;
        DWORD err = GetLastError();
        if (error) *error = err;
        return err == ERROR_IO_PENDING;
    }
    bool Done() { return WaitForSingleObject(ev_, 0) == WAIT_OBJECT_0; }
    // Waits for the outstanding wait; error 0 and the code on success.
    DWORD Finish(DWORD timeoutMs, uint32_t* code) {
        if (WaitForSingleObject(ev_, timeoutMs) != WAIT_OBJECT_0) return WAIT_TIMEOUT;
        DWORD got = 0;
        if (!GetOverlappedResult(h_, &ov_, &got, FALSE)) return GetLastError();
        *code = code_;
        return 0;
    }
    // Wait issued and finished: the next code.
    DWORD Next(uint32_t* code, DWORD timeoutMs = 2000) {
        DWORD err = 0;
        if (!Start(&err)) return err;
        return Finish(timeoutMs, code);
    }
    HANDLE handle() const { return h_; }

private:
    HANDLE h_;
    HANDLE ev_;
    OVERLAPPED ov_{};
    uint32_t code_ = 0;
};

TEST(Frames, HealthFrameAnsweredFromState) {
    const uint8_t readings[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
    ASSERT_TRUE(qebsim::SetHealth(0x00400001));
    ASSERT_TRUE(qebsim::SetReadings(readings));
    std::vector<uint8_t> f(kHealthFrame, kHealthFrame + 44);
    Result r = Send(QEB_IOCTL_KNVS, &f);
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_EQ(0x00400001u, Word(f, 20));
    EXPECT_EQ(0, std::memcmp(f.data() + 24, readings, 20));
}

TEST(Frames, PowerFrameAnsweredFromState) {
    ASSERT_TRUE(qebsim::SetPowerFlags(0x6));
    std::vector<uint8_t> f(kPowerFrame, kPowerFrame + 24);
    Result r = Send(QEB_IOCTL_KNVS, &f);
    ASSERT_TRUE(r.ok) << "error " << r.error;
    EXPECT_EQ(6u, Word(f, 20));
    ASSERT_TRUE(qebsim::SetPowerFlags(0));
}

TEST(Frames, KsmiSetThenReadFollowsTheSetterRules) {
    struct { uint32_t index; int32_t start; uint32_t value; uint32_t result; int32_t after; } cases[] = {
        {QEB_FEAT_WIFI, 0x1, 1, 0, 0x3},
        {QEB_FEAT_BT, 0x3, 0, 0, 0x1},
        {QEB_FEAT_MIC_LED, 0x1, 1, 0, 0x1},
        {QEB_FEAT_VOL_LED, 0x1, 0, 0, 0x3},
        {QEB_FEAT_USB_CHARGE, 0x5, 3, 0, 0xF},
        {QEB_FEAT_FSC, 0x1, 2, 0, 0x5},
        {QEB_FEAT_WIFI, 0x2, 1, 0x80000000u, 0x2},                 // absent
        {QEB_FEAT_BT, static_cast<int32_t>(0x80000001u), 1, 0x80000000u, static_cast<int32_t>(0x80000001u)},
        {QEB_FEAT_AMBIENT_LIGHT, 0x15, 1, 0x80000000u, 0x15},      // no setter
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(qebsim::SetFeature(c.index, c.start));
        uint32_t seq = qebsim::NextSeq();
        std::vector<uint8_t> set = Frame(static_cast<uint16_t>(QEB_KSMI_SET_FEATURE(c.index)), 24, c.value);
        Result r = Send(QEB_IOCTL_KSMI, &set);
        ASSERT_TRUE(r.ok) << "feature " << c.index << " error " << r.error;
        EXPECT_EQ(c.result, Word(set, 20)) << "feature " << c.index;
        std::vector<uint8_t> read = Frame(static_cast<uint16_t>(QEB_KSMI_READ_FEATURE(c.index)), 24);
        r = Send(QEB_IOCTL_KSMI, &read);
        ASSERT_TRUE(r.ok) << "feature " << c.index << " error " << r.error;
        EXPECT_EQ(static_cast<uint32_t>(c.after), Word(read, 20)) << "feature " << c.index;
        std::vector<QEBSIM_RECORD> recs;
        ASSERT_TRUE(qebsim::ReadJournal(seq, &recs));
        int sets = 0;
        for (const auto& rec : recs)
            if (rec.kind == QEBSIM_REC_FEATURE_SET && rec.code == c.index && rec.status == c.after) ++sets;
        EXPECT_EQ(c.result == 0 ? 1 : 0, sets) << "FEATURE_SET records for feature " << c.index;
    }
    qebsim::SetFeature(QEB_FEAT_WIFI, 3);
    qebsim::SetFeature(QEB_FEAT_BT, 3);
    qebsim::SetFeature(QEB_FEAT_MIC_LED, 1);
    qebsim::SetFeature(QEB_FEAT_VOL_LED, 1);
    qebsim::SetFeature(QEB_FEAT_USB_CHARGE, 0xF);
    qebsim::SetFeature(QEB_FEAT_FSC, 1);
}

TEST(Frames, BadFramesFailUnansweredAndAreCounted) {
    struct { const char* name; int mutate; DWORD inLen; DWORD outLen; DWORD error; } cases[] = {
        {"bad signature", 1, 44, 44, ERROR_INVALID_PARAMETER},
        {"length field differs", 2, 44, 44, ERROR_INVALID_PARAMETER},
        {"output length differs", 0, 44, 40, ERROR_INVALID_PARAMETER},
        {"shorter than header", 0, 12, 12, ERROR_INVALID_PARAMETER},
        {"bad checksum", 3, 44, 44, ERROR_CRC},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> f(kHealthFrame, kHealthFrame + 44);
        if (c.mutate == 1) f[3] = 'X';
        if (c.mutate == 2) f[4] = 0x30;
        if (c.mutate == 3) f[9] ^= 0x40;
        std::vector<uint8_t> sent = f;
        QEBSIM_STATE before = State();
        Result r = Send(QEB_IOCTL_KNVS, &f, c.inLen, c.outLen);
        EXPECT_FALSE(r.ok) << c.name;
        EXPECT_EQ(c.error, r.error) << c.name;
        EXPECT_EQ(sent, f) << c.name << ": answered with data";
        QEBSIM_STATE after = State();
        EXPECT_EQ(before.frames_rejected + 1, after.frames_rejected) << c.name;
        EXPECT_EQ(before.frames_received + 1, after.frames_received) << c.name;
    }
}

TEST(Frames, UnknownFunctionFails) {
    std::vector<uint8_t> f = Frame(8, 24);
    Result r = Send(QEB_IOCTL_KNVS, &f);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_FUNCTION), r.error);
}

TEST(Frames, FailNextFailsExactlyNAndJournalsThem) {
    uint32_t seq = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::FailNext(2));
    for (int i = 0; i < 3; ++i) {
        std::vector<uint8_t> f(kPowerFrame, kPowerFrame + 24);
        Result r = Send(QEB_IOCTL_KNVS, &f);
        EXPECT_EQ(i == 2, r.ok) << "request " << i;
        if (i < 2) {
            EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), r.error) << "request " << i;
        }
    }
    EXPECT_EQ(0u, State().fail_next);
    std::vector<QEBSIM_RECORD> recs;
    ASSERT_TRUE(qebsim::ReadJournal(seq, &recs));
    std::vector<int32_t> statuses;
    for (const auto& rec : recs)
        if (rec.kind == QEBSIM_REC_FRAME) statuses.push_back(rec.status);
    ASSERT_EQ(3u, statuses.size());
    EXPECT_EQ(static_cast<int32_t>(0xC0000185), statuses[0]);  // STATUS_IO_DEVICE_ERROR
    EXPECT_EQ(static_cast<int32_t>(0xC0000185), statuses[1]);
    EXPECT_EQ(0, statuses[2]);
}

TEST(Frames, JournalKeepsTheRawFrameAsReceived) {
    uint32_t seq = qebsim::NextSeq();
    std::vector<uint8_t> f(kHealthFrame, kHealthFrame + 44);
    ASSERT_TRUE(Send(QEB_IOCTL_KNVS, &f).ok);
    QEBSIM_RECORD rec{};
    ASSERT_TRUE(qebsim::WaitForJournal(seq, [](const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_FRAME; }, 1000, &rec));
    EXPECT_EQ(QEB_IOCTL_KNVS, rec.code);
    EXPECT_EQ(44u, rec.length);
    EXPECT_EQ(0, rec.status);
    ASSERT_EQ(44u, rec.data_len);
    EXPECT_EQ(0, std::memcmp(rec.data, kHealthFrame, 44));
}

TEST(Events, TwoListenersGetEveryEventInOrder) {
    Listener a, b;
    ASSERT_TRUE(a.valid() && b.valid()) << GetLastError();
    // Pending waits on both, completed by the first event.
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    QEBSIM_RAISE_RESULT res{};
    ASSERT_TRUE(qebsim::RaiseEvent(0x1003, &res));
    EXPECT_EQ(2u, res.listeners);
    EXPECT_EQ(2u, res.completed);
    uint32_t code = 0;
    ASSERT_EQ(0u, a.Finish(2000, &code));
    EXPECT_EQ(0x1003u, code);
    ASSERT_EQ(0u, b.Finish(2000, &code));
    EXPECT_EQ(0x1003u, code);
    // Raised while no wait is outstanding: held per handle, in order.
    const uint32_t codes[] = {0x1001, 0x1002, 0x1005, 0x1042, 0x1043};
    for (uint32_t c : codes) {
        ASSERT_TRUE(qebsim::RaiseEvent(c, &res));
        EXPECT_EQ(2u, res.queued) << std::hex << c;
    }
    for (Listener* l : {&a, &b}) {
        for (uint32_t c : codes) {
            ASSERT_EQ(0u, l->Next(&code));
            EXPECT_EQ(c, code);
        }
    }
}

// A handle that asks for frames before it ever waits (a feature library's
// request handle) holds no events: they would pile up unread until the
// queue overflows. Once it waits it is a listener like any other.
TEST(Events, RequestHandleHoldsNoEventsUntilItWaits) {
    Listener requests;
    ASSERT_TRUE(requests.valid());
    const uint32_t listenersBefore = State().listeners;
    std::vector<uint8_t> f = Frame(static_cast<uint16_t>(QEB_KSMI_READ_FEATURE(QEB_FEAT_WIFI)), 24);
    DWORD got = 0;
    ASSERT_TRUE(DeviceIoControl(requests.handle(), QEB_IOCTL_KSMI, f.data(), 24, f.data(), 24, &got, nullptr) ||
                GetLastError() == ERROR_IO_PENDING);
    EXPECT_EQ(listenersBefore - 1, State().listeners);
    QEBSIM_RAISE_RESULT res{};
    ASSERT_TRUE(qebsim::RaiseEvent(0x1003, &res));
    EXPECT_EQ(0u, res.queued) << "an event was held for the request handle";
    ASSERT_TRUE(requests.Start());
    EXPECT_FALSE(requests.Done()) << "the wait got an event raised before it";
    ASSERT_TRUE(qebsim::RaiseEvent(0x1004, &res));
    uint32_t code = 0;
    ASSERT_EQ(0u, requests.Finish(2000, &code));
    EXPECT_EQ(0x1004u, code);
}

// A device lost under its users: the pended wait and every later request on
// an old handle fail with ERROR_DEVICE_REMOVED, opens fail until it is back;
// then new handles work and the old ones stay dead.
TEST(Events, LostDeviceFailsOldHandlesUntilReopened) {
    Listener old;
    ASSERT_TRUE(old.valid());
    ASSERT_TRUE(old.Start());
    ASSERT_TRUE(qebsim::SetDevicePresent(false));
    uint32_t code = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), old.Finish(2000, &code));
    EXPECT_EQ(1u, State().device_lost);
    DWORD error = 0;
    EXPECT_FALSE(old.Start(&error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), error);
    HANDLE whileLost = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, whileLost);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    if (whileLost != INVALID_HANDLE_VALUE) CloseHandle(whileLost);

    ASSERT_TRUE(qebsim::SetDevicePresent(true));
    Listener fresh;
    ASSERT_TRUE(fresh.valid()) << GetLastError();
    ASSERT_TRUE(fresh.Start());
    ASSERT_TRUE(qebsim::RaiseEvent(0x1021));
    ASSERT_EQ(0u, fresh.Finish(2000, &code));
    EXPECT_EQ(0x1021u, code);
    EXPECT_FALSE(old.Start(&error)) << "an old handle came back to life";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), error);
}

TEST(Events, SecondConcurrentWaitOnOneHandleIsRefused) {
    Listener a;
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(a.Start());
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    uint32_t code2 = 0;
    DWORD got = 0;
    BOOL ok = DeviceIoControl(a.handle(), QEB_IOCTL_WAIT_EVENT, nullptr, 0, &code2, 4, &got, &ov);
    DWORD err = ok ? 0 : GetLastError();
    if (!ok && err == ERROR_IO_PENDING && WaitForSingleObject(ov.hEvent, 2000) == WAIT_OBJECT_0)
        err = GetOverlappedResult(a.handle(), &ov, &got, FALSE) ? 0 : GetLastError();
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_BUSY), err);
    CloseHandle(ov.hEvent);
    ASSERT_TRUE(qebsim::RaiseEvent(0x1011));
    uint32_t code = 0;
    ASSERT_EQ(0u, a.Finish(2000, &code));
    EXPECT_EQ(0x1011u, code);
}

TEST(Events, WaitWithShortBufferFails) {
    Listener a;
    ASSERT_TRUE(a.valid());
    uint8_t small[2];
    DWORD got = 0;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    BOOL ok = DeviceIoControl(a.handle(), QEB_IOCTL_WAIT_EVENT, nullptr, 0, small, 2, &got, &ov);
    DWORD err = ok ? 0 : GetLastError();
    CloseHandle(ov.hEvent);
    EXPECT_FALSE(ok);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), err);
}

TEST(Events, OverflowAtTheBoundIsCountedAndJournaled) {
    Listener a;
    ASSERT_TRUE(a.valid());
    QEBSIM_STATE before = State();
    uint32_t seq = qebsim::NextSeq();
    // One control handle for the whole burst keeps it quick.
    HANDLE ctl = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, ctl) << GetLastError();
    auto raise = [ctl](uint32_t code, QEBSIM_RAISE_RESULT* res) {
        DWORD got = 0;
        return DeviceIoControl(ctl, QEBSIM_IOCTL_RAISE_EVENT, &code, 4, res, sizeof(*res), &got, nullptr) != FALSE;
    };
    QEBSIM_RAISE_RESULT res{};
    for (uint32_t i = 0; i < QEBSIM_QUEUE_BOUND; ++i)
        ASSERT_TRUE(raise(0x2000 + (i % 16), &res)) << i;
    EXPECT_EQ(0u, res.dropped);
    EXPECT_EQ(QEBSIM_QUEUE_BOUND, res.max_depth);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(raise(0x3000 + i, &res));
        EXPECT_EQ(1u, res.dropped) << i;
        EXPECT_EQ(0u, res.queued) << i;
    }
    CloseHandle(ctl);
    QEBSIM_STATE after = State();
    EXPECT_EQ(before.events_dropped + 3, after.events_dropped);
    std::vector<QEBSIM_RECORD> recs;
    ASSERT_TRUE(qebsim::ReadJournal(seq, &recs));
    std::vector<uint32_t> dropped;
    for (const auto& r : recs)
        if (r.kind == QEBSIM_REC_EVENT_DROPPED) dropped.push_back(r.code);
    EXPECT_EQ((std::vector<uint32_t>{0x3000, 0x3001, 0x3002}), dropped);
    // The held events come out oldest first.
    uint32_t code = 0;
    ASSERT_EQ(0u, a.Next(&code));
    EXPECT_EQ(0x2000u, code);
    ASSERT_EQ(0u, a.Next(&code));
    EXPECT_EQ(0x2001u, code);
}

TEST(Events, ClosingAHandleCompletesItsPendingWait) {
    uint32_t seq = qebsim::NextSeq();
    QEBSIM_STATE before = State();
    {
        Listener a;
        ASSERT_TRUE(a.valid());
        ASSERT_TRUE(a.Start());
        EXPECT_EQ(before.pending_waits + 1, State().pending_waits);
        a.Close();
    }
    QEBSIM_STATE after = State();
    EXPECT_EQ(before.listeners, after.listeners);
    EXPECT_EQ(before.pending_waits, after.pending_waits);
    std::vector<QEBSIM_RECORD> recs;
    ASSERT_TRUE(qebsim::ReadJournal(seq, &recs));
    bool ended = false, closed = false;
    for (const auto& r : recs) {
        if (r.kind == QEBSIM_REC_WAIT_ENDED && r.status == static_cast<int32_t>(0xC0000120)) ended = true;
        if (r.kind == QEBSIM_REC_CLOSE) closed = true;
    }
    EXPECT_TRUE(ended) << "no WAIT_ENDED with STATUS_CANCELLED";
    EXPECT_TRUE(closed) << "no CLOSE record";
    // A later event is not lost into the closed handle: a new listener gets it.
    Listener b;
    ASSERT_TRUE(b.Start());
    QEBSIM_RAISE_RESULT res{};
    ASSERT_TRUE(qebsim::RaiseEvent(0x1022, &res));
    EXPECT_EQ(before.listeners + 1, res.listeners);
    uint32_t code = 0;
    ASSERT_EQ(0u, b.Finish(2000, &code));
    EXPECT_EQ(0x1022u, code);
}

TEST(Events, CancelIoExEndsAPendingWait) {
    Listener a;
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(CancelIoEx(a.handle(), nullptr)) << GetLastError();
    uint32_t code = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), a.Finish(2000, &code));
    EXPECT_EQ(0u, State().pending_waits);
}

// The three SMART requests as the service makes them, on drive `n`.
// Returns the error of the first failing step (0: all done) and the sector.
DWORD ReadSmart(int n, std::vector<uint8_t>* sector) {
    wchar_t path[] = L"\\\\.\\PHYSICALDRIVE0";
    path[17] = static_cast<wchar_t>(L'0' + n);
    HANDLE h = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD got = 0, err = 0;
    GETVERSIONINPARAMS version{};
    static_assert(sizeof(GETVERSIONINPARAMS) == 24, "GETVERSIONINPARAMS");
    SENDCMDINPARAMS in{};
    in.irDriveRegs.bFeaturesReg = 0xD8;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bCylLowReg = 0x4F;
    in.irDriveRegs.bCylHighReg = 0xC2;
    in.irDriveRegs.bDriveHeadReg = 0xA0;
    in.irDriveRegs.bCommandReg = 0xB0;
    in.bDriveNumber = static_cast<BYTE>(n);
    uint8_t out[531] = {};
    if (!DeviceIoControl(h, SMART_GET_VERSION, nullptr, 0, &version, sizeof(version), &got, nullptr)) {
        err = GetLastError();
    } else if (!DeviceIoControl(h, SMART_SEND_DRIVE_COMMAND, &in, sizeof(in), out, 17, &got, nullptr)) {
        err = GetLastError();
    } else {
        in.cBufferSize = 512;
        in.irDriveRegs.bFeaturesReg = 0xD0;
        if (!DeviceIoControl(h, SMART_RCV_DRIVE_DATA, &in, sizeof(in), out, sizeof(out), &got, nullptr))
            err = GetLastError();
        else
            sector->assign(out + 16, out + 16 + 512);
    }
    CloseHandle(h);
    return err;
}

TEST(Disks, ConfiguredDriveAnswersSmartAndGoesAway) {
    static_assert(sizeof(SENDCMDINPARAMS) == 33, "SENDCMDINPARAMS");
    ASSERT_TRUE(qebsim::SetDiskTemperature(3, 41)) << GetLastError();
    uint32_t seq = qebsim::NextSeq();
    std::vector<uint8_t> sector;
    ASSERT_EQ(0u, ReadSmart(3, &sector));
    uint8_t expected[512];
    qebsim::BuildSmartData(expected, 41);
    ASSERT_EQ(512u, sector.size());
    EXPECT_EQ(0, std::memcmp(expected, sector.data(), 512));
    std::vector<QEBSIM_RECORD> recs;
    ASSERT_TRUE(qebsim::ReadJournal(seq, &recs));
    std::vector<uint32_t> codes;
    for (const auto& r : recs)
        if (r.kind == QEBSIM_REC_DISK && r.handle_id == 3 && r.status == 0) codes.push_back(r.code);
    EXPECT_EQ((std::vector<uint32_t>{0x74080, 0x7C084, 0x7C088}), codes);
    ASSERT_TRUE(qebsim::RemoveDisk(3));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ReadSmart(3, &sector));
}

TEST(Disks, InjectedFailuresFailTheirStep) {
    struct { uint32_t flag; } cases[] = {{QEBSIM_DISK_FAIL_VERSION}, {QEBSIM_DISK_FAIL_ENABLE}, {QEBSIM_DISK_FAIL_READ}};
    for (const auto& c : cases) {
        ASSERT_TRUE(qebsim::SetDiskTemperature(4, 40, c.flag));
        std::vector<uint8_t> sector;
        EXPECT_EQ(static_cast<DWORD>(ERROR_IO_DEVICE), ReadSmart(4, &sector)) << "flag " << c.flag;
        EXPECT_TRUE(sector.empty()) << "flag " << c.flag;
    }
    ASSERT_TRUE(qebsim::RemoveDisk(4));
}

TEST(Disks, DriveZeroTakesOverWinesName) {
    ASSERT_TRUE(qebsim::SetDiskTemperature(0, 39)) << GetLastError();
    std::vector<uint8_t> sector;
    ASSERT_EQ(0u, ReadSmart(0, &sector));
    ASSERT_EQ(512u, sector.size());
    ASSERT_TRUE(qebsim::RemoveDisk(0));
}

// Last: stops the driver, then starts it again for anything that follows.
TEST(ZDriverStop, StopFailsAPendingWait) {
    Listener a;
    ASSERT_TRUE(a.valid());
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(qebsim::ServiceStop(QEBSIM_SERVICE_NAME)) << GetLastError();
    uint32_t code = 0;
    DWORD err = a.Finish(5000, &code);
    EXPECT_NE(0u, err);
    EXPECT_NE(static_cast<DWORD>(WAIT_TIMEOUT), err) << "pending wait not completed by the stop";
    EXPECT_EQ(static_cast<DWORD>(ERROR_DEVICE_REMOVED), err);
    a.Close();
    ASSERT_TRUE(qebsim::ServiceWaitState(QEBSIM_SERVICE_NAME, SERVICE_STOPPED, 5000));
    HANDLE h = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, h);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    ASSERT_TRUE(qebsim::ServiceStart(QEBSIM_SERVICE_NAME)) << GetLastError();
    QEBSIM_STATE s{};
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        up = qebsim::GetState(&s);
        if (!up) Sleep(20);
    }
    ASSERT_TRUE(up);
    EXPECT_EQ(1u, s.health_status) << "restarted driver starts from the initial state";
}

}  // namespace
