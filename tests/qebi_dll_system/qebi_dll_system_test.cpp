// The real QEBI.dll, loaded by path, against the simulated firmware: feature
// words as the firmware holds them, setters and their journal records,
// injected failures, and event callbacks with their delivery guarantees
// (order, context, unregister, unregister from inside a callback, release of
// the library with a registration still present, 10,000 events).
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "../../testapp/frame/qebi_api.h"
#include "qebsim/client.h"

namespace {

const LONG kFailed = static_cast<LONG>(0x80000000);

std::wstring LibraryPath() {
    const wchar_t* installed = L"C:\\Program Files\\Kestil\\QEB\\QEBI.dll";
    if (GetFileAttributesW(installed) != INVALID_FILE_ATTRIBUTES) return installed;
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path, n);
    return p.substr(0, p.find_last_of(L"\\/") + 1) + L"QEBI.dll";
}

// Threads of this process right now.
int ThreadCount() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 te;
    te.dwSize = sizeof(te);
    int n = 0;
    DWORD pid = GetCurrentProcessId();
    for (BOOL ok = Thread32First(snap, &te); ok; ok = Thread32Next(snap, &te)) {
        if (te.th32OwnerProcessID == pid) ++n;
    }
    CloseHandle(snap);
    return n;
}

// Polls cond every 10 ms for up to timeoutMs.
template <typename F>
bool WaitFor(F cond, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        if (cond()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        Sleep(10);
    }
}

uint32_t Listeners() {
    QEBSIM_STATE s = {};
    return qebsim::GetState(&s) ? s.listeners : 0xFFFFFFFFu;
}

// What the firmware was asked, through the journal.
std::vector<QEBSIM_RECORD> JournalFrom(uint32_t seq) {
    std::vector<QEBSIM_RECORD> records;
    qebsim::ReadJournal(seq, &records);
    return records;
}

std::vector<std::wstring> LibraryNotes(uint32_t seq) {
    std::vector<std::wstring> notes;
    for (const QEBSIM_RECORD& r : JournalFrom(seq)) {
        if (r.kind == QEBSIM_REC_NOTE && r.code == QEBSIM_NOTE_QEBI_DLL) notes.push_back(qebsim::NoteText(r));
    }
    return notes;
}

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// ---- the library ----------------------------------------------------------

struct Api {
    HMODULE module = nullptr;
    QEB_REGISTER_CALLBACK reg = nullptr;
    QEB_UNREGISTER_CALLBACK unreg = nullptr;
    QEB_GET_THERMAL thermal = nullptr;
    QEB_BRIGHTNESS_CHANGED brightness = nullptr;

    template <typename T>
    T Entry(const char* name) const {
        return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
    bool Load() {
        module = LoadLibraryW(LibraryPath().c_str());
        if (!module) return false;
        reg = Entry<QEB_REGISTER_CALLBACK>("QEB_RegisterEventCallback");
        unreg = Entry<QEB_UNREGISTER_CALLBACK>("QEB_UnregisterEventCallback");
        thermal = Entry<QEB_GET_THERMAL>("Get_Thermal_Parameter");
        brightness = Entry<QEB_BRIGHTNESS_CHANGED>("Brightness_Changed_Manually");
        return reg && unreg && thermal && brightness;
    }
    void Free() {
        if (module) FreeLibrary(module);
        module = nullptr;
    }
};

// Callback record shared with the delivery thread.
struct Recorder {
    CRITICAL_SECTION lock;
    std::vector<std::pair<DWORD, void*>> calls;
    volatile LONG count = 0;
    Recorder() { InitializeCriticalSection(&lock); }
    ~Recorder() { DeleteCriticalSection(&lock); }
    void Add(DWORD code, void* context) {
        EnterCriticalSection(&lock);
        calls.emplace_back(code, context);
        LeaveCriticalSection(&lock);
        InterlockedIncrement(&count);
    }
    std::vector<std::pair<DWORD, void*>> Calls() {
        EnterCriticalSection(&lock);
        auto c = calls;
        LeaveCriticalSection(&lock);
        return c;
    }
    bool WaitCount(LONG n, DWORD timeoutMs) {
        return WaitFor([&] { return count >= n; }, timeoutMs);
    }
};

// One recorder for every callback; the context tells the registrations apart.
Recorder* g_recorder = nullptr;

void WINAPI RecordingCallback(DWORD code, void* context) { g_recorder->Add(code, context); }
void WINAPI OtherRecordingCallback(DWORD code, void* context) { g_recorder->Add(code, context); }

class QebiLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        g_recorder = &recorder_;
        ASSERT_TRUE(api_.Load()) << "cannot load " << Narrow(LibraryPath()) << ": error " << GetLastError();
        ASSERT_EQ(0u, Listeners()) << "a listener is left from an earlier test";
    }
    void TearDown() override {
        api_.Free();
        // Whatever a test left registered, the release above ended it.
        EXPECT_TRUE(WaitFor([] { return Listeners() == 0; }, 5000)) << "listeners " << Listeners();
        g_recorder = nullptr;
    }
    template <typename T>
    T Entry(const char* name) {
        T f = api_.Entry<T>(name);
        EXPECT_NE(nullptr, f) << name;
        return f;
    }
    Api api_;
    Recorder recorder_;
};

// ---- feature words ----------------------------------------------------------

struct Query {
    const char* name;
    uint32_t index;
};

const Query kQueries[] = {
    {"Get_Current_WIFI_Ratio_Status", QEB_FEAT_WIFI},
    {"Get_Current_BT_Ratio_Status", QEB_FEAT_BT},
    {"Get_Current_Microphone_Mute_Capability", QEB_FEAT_MIC_LED},
    {"Get_Current_Volume_Mute_Capability", QEB_FEAT_VOL_LED},
    {"Get_Ambient_Light", QEB_FEAT_AMBIENT_LIGHT},
    {"Get_Power_Meter", QEB_FEAT_POWER_METER},
    {"Check_CADS_event", QEB_FEAT_CAD_SUPPORT},
    {"Check_BKIT_event", QEB_FEAT_BATTERY},
    {"Get_USB_Charge_Status", QEB_FEAT_USB_CHARGE},
    {"Get_FSC_Status", QEB_FEAT_FSC},
    {"Get_PC_Health_Status", QEB_FEAT_PC_HEALTH},
};

TEST_F(QebiLibrary, EveryQueryReturnsTheFirmwareWordAsItStands) {
    const int32_t words[] = {0, 1, 2, 3, 0x15, 0x7FFFFFFF, static_cast<int32_t>(0x80000000),
                             static_cast<int32_t>(0x80000003), -1, 0x2AAAAAAB};
    for (const Query& q : kQueries) {
        auto query = Entry<QEB_GET_STATUS>(q.name);
        ASSERT_NE(nullptr, query);
        for (int32_t w : words) {
            ASSERT_TRUE(qebsim::SetFeature(q.index, w)) << "error " << GetLastError();
            EXPECT_EQ(w, query()) << q.name << " with firmware word 0x" << std::hex << w;
        }
    }
}

TEST_F(QebiLibrary, QueriesTellTheFeaturesApart) {
    for (const Query& q : kQueries) ASSERT_TRUE(qebsim::SetFeature(q.index, 0x100 + q.index * 2 + 1));
    for (const Query& q : kQueries) {
        auto query = Entry<QEB_GET_STATUS>(q.name);
        ASSERT_NE(nullptr, query);
        EXPECT_EQ(static_cast<LONG>(0x100 + q.index * 2 + 1), query()) << q.name;
    }
}

TEST_F(QebiLibrary, ThermalReadFillsTheBufferAndReturnsTheStatus) {
    const uint8_t readings[20] = {0x2D, 0x00, 0x34, 0x05, 0x28, 0x00, 0x23, 0x02, 0x26, 0x00,
                                  0x00, 0x00, 0xB0, 0x04, 0x84, 0x03, 0x00, 0x00, 0xFF, 0xFF};
    ASSERT_TRUE(qebsim::SetReadings(readings));
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_THERMAL, 0x3D));
    struct Case {
        LONG count;
        int filled;
    } cases[] = {{10, 10}, {4, 4}, {1, 1}, {0, 0}, {-3, 0}, {12, 10}};
    for (const Case& c : cases) {
        WORD buffer[12];
        for (WORD& w : buffer) w = 0xBEEF;
        EXPECT_EQ(0x3D, api_.thermal(buffer, c.count)) << "count " << c.count;
        for (int i = 0; i < 12; ++i) {
            WORD expected = i < c.filled ? static_cast<WORD>(readings[2 * i] | (readings[2 * i + 1] << 8)) : 0xBEEF;
            EXPECT_EQ(expected, buffer[i]) << "count " << c.count << " entry " << i;
        }
    }
    EXPECT_EQ(0x3D, api_.thermal(nullptr, 10)) << "null buffer";
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_THERMAL, static_cast<int32_t>(0x80000006)));
    WORD buffer[10] = {};
    EXPECT_EQ(static_cast<LONG>(0x80000006), api_.thermal(buffer, 10)) << "negative firmware word";
}

struct SetterCase {
    const char* name;
    uint32_t index;
    int32_t before;
    LONG value;
    LONG result;
    int32_t after;
};

const SetterCase kSetterCases[] = {
    {"Set_WIFI_Ratio_Onoff", QEB_FEAT_WIFI, 0x1, 1, 0, 0x3},
    {"Set_WIFI_Ratio_Onoff", QEB_FEAT_WIFI, 0x3, 0, 0, 0x1},
    {"Set_WIFI_Ratio_Onoff", QEB_FEAT_WIFI, 0x0, 1, kFailed, 0x0},  // absent
    {"Set_BT_Ratio_Onoff", QEB_FEAT_BT, 0x1, 1, 0, 0x3},
    {"Set_BT_Ratio_Onoff", QEB_FEAT_BT, 0x7, 0, 0, 0x5},
    {"Set_BT_Ratio_Onoff", QEB_FEAT_BT, static_cast<int32_t>(0x80000001), 1, kFailed,
     static_cast<int32_t>(0x80000001)},  // negative word
    {"Set_Microphone_MuteLED", QEB_FEAT_MIC_LED, 0x1, 0, 0, 0x3},
    {"Set_Microphone_MuteLED", QEB_FEAT_MIC_LED, 0x3, 1, 0, 0x1},
    {"Set_Volume_MuteLED", QEB_FEAT_VOL_LED, 0x1, 0, 0, 0x3},
    {"Set_Volume_MuteLED", QEB_FEAT_VOL_LED, 0x3, 1, 0, 0x1},
    {"Set_USB_Charge_Status", QEB_FEAT_USB_CHARGE, 0x5, 3, 0, 0xF},
    {"Set_USB_Charge_Status", QEB_FEAT_USB_CHARGE, 0xF, 0, 0, 0x5},
    {"Set_USB_Charge_Status", QEB_FEAT_USB_CHARGE, 0x1, 3, 0, 0x3},  // no S0 mode bit
    {"Set_USB_Charge_Status", QEB_FEAT_USB_CHARGE, 0x9, 0, 0, 0x9},  // bit 3 kept without bit 2
    {"Set_FSC_Status", QEB_FEAT_FSC, 0x1, 2, 0, 0x5},
    {"Set_FSC_Status", QEB_FEAT_FSC, 0x7, 1, 0, 0x3},
    {"Set_FSC_Status", QEB_FEAT_FSC, 0x1, 7, 0, 0x7},  // only two bits taken
};

TEST_F(QebiLibrary, SettersChangeTheFirmwareWord) {
    QEBSIM_STATE before = {};
    ASSERT_TRUE(qebsim::GetState(&before));
    for (const SetterCase& c : kSetterCases) {
        auto set = Entry<QEB_SET_VALUE>(c.name);
        ASSERT_NE(nullptr, set);
        ASSERT_TRUE(qebsim::SetFeature(c.index, c.before));
        uint32_t seq = qebsim::NextSeq();
        std::string what = std::string(c.name) + " value " + std::to_string(c.value) + " on 0x" +
                           std::to_string(c.before);
        EXPECT_EQ(c.result, set(c.value)) << what;
        QEBSIM_STATE s = {};
        ASSERT_TRUE(qebsim::GetState(&s));
        EXPECT_EQ(c.after, s.features[c.index]) << what;
        int featureSets = 0;
        for (const QEBSIM_RECORD& r : JournalFrom(seq)) {
            if (r.kind != QEBSIM_REC_FEATURE_SET) continue;
            ++featureSets;
            EXPECT_EQ(c.index, r.code) << what;
            EXPECT_EQ(c.after, r.status) << what;
        }
        EXPECT_EQ(c.result == 0 ? 1 : 0, featureSets) << what;
    }
    QEBSIM_STATE after = {};
    ASSERT_TRUE(qebsim::GetState(&after));
    EXPECT_EQ(before.frames_rejected, after.frames_rejected) << "the firmware refused some frames";
}

TEST_F(QebiLibrary, SetterSendsTheValueInAKsmiFrame) {
    auto set = Entry<QEB_SET_VALUE>("Set_FSC_Status");
    ASSERT_NE(nullptr, set);
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_FSC, 1));
    uint32_t seq = qebsim::NextSeq();
    ASSERT_EQ(0, set(2));
    std::vector<QEBSIM_RECORD> frames;
    for (const QEBSIM_RECORD& r : JournalFrom(seq)) {
        if (r.kind == QEBSIM_REC_FRAME) frames.push_back(r);
    }
    ASSERT_EQ(1u, frames.size());
    const QEBSIM_RECORD& f = frames[0];
    EXPECT_EQ(QEB_IOCTL_KSMI, f.code);
    ASSERT_EQ(24u, f.data_len);
    EXPECT_EQ(0x20 + QEB_FEAT_FSC, f.data[10] | (f.data[11] << 8)) << "Function";
    EXPECT_EQ(0, f.data[16] | (f.data[17] << 8)) << "Parameter";
    EXPECT_EQ(2, f.data[20]) << "value";
}

TEST_F(QebiLibrary, FailedRequestsGiveTheFailureWord) {
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_WIFI, 3));
    auto wifi = Entry<QEB_GET_STATUS>("Get_Current_WIFI_Ratio_Status");
    auto setWifi = Entry<QEB_SET_VALUE>("Set_WIFI_Ratio_Onoff");
    ASSERT_TRUE(wifi && setWifi);

    ASSERT_TRUE(qebsim::FailNext(1));
    EXPECT_EQ(kFailed, wifi()) << "query while the firmware fails";
    EXPECT_EQ(3, wifi()) << "the failure lasts one request only";

    ASSERT_TRUE(qebsim::FailNext(1));
    EXPECT_EQ(kFailed, setWifi(0)) << "setter while the firmware fails";
    QEBSIM_STATE s = {};
    ASSERT_TRUE(qebsim::GetState(&s));
    EXPECT_EQ(3, s.features[QEB_FEAT_WIFI]) << "a failed setter changed the word";

    ASSERT_TRUE(qebsim::FailNext(1));
    WORD buffer[10];
    for (WORD& w : buffer) w = 0xBEEF;
    EXPECT_EQ(kFailed, api_.thermal(buffer, 10));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(0xBEEF, buffer[i]) << "entry " << i;

    ASSERT_TRUE(qebsim::FailNext(1));
    EXPECT_EQ(kFailed, api_.brightness());
}

TEST_F(QebiLibrary, BrightnessChangeIsSentAsKsmi0x30) {
    uint32_t seq = qebsim::NextSeq();
    EXPECT_EQ(0, api_.brightness());
    int seen = 0;
    for (const QEBSIM_RECORD& r : JournalFrom(seq)) {
        if (r.kind == QEBSIM_REC_FRAME && r.code == QEB_IOCTL_KSMI && r.data_len >= 12 &&
            (r.data[10] | (r.data[11] << 8)) == 0x30) {
            ++seen;
            EXPECT_EQ(0, r.status) << "firmware refused the frame";
        }
    }
    EXPECT_EQ(1, seen);
}

// ---- registration -----------------------------------------------------------

TEST_F(QebiLibrary, RegistrationErrors) {
    SetLastError(0);
    EXPECT_NE(0, api_.reg(nullptr, this));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetLastError());

    ASSERT_EQ(0, api_.reg(RecordingCallback, this));
    SetLastError(0);
    EXPECT_NE(0, api_.reg(RecordingCallback, this));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_EQ(0, api_.unreg(RecordingCallback, this));
    SetLastError(0);
    EXPECT_NE(0, api_.unreg(RecordingCallback, this)) << "second unregister of the same pair";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_FOUND), GetLastError());
}

TEST_F(QebiLibrary, RegistrationsAreJournaled) {
    uint32_t seq = qebsim::NextSeq();
    ASSERT_EQ(0, api_.reg(RecordingCallback, this));
    ASSERT_EQ(0, api_.unreg(RecordingCallback, this));
    wchar_t context[32];
    swprintf(context, 32, sizeof(void*) == 8 ? L"context=0x%016llX" : L"context=0x%08llX",
             static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(this)));
    std::vector<std::wstring> notes = LibraryNotes(seq);
    ASSERT_EQ(2u, notes.size());
    EXPECT_EQ(0u, notes[0].find(L"register callback=")) << Narrow(notes[0]);
    EXPECT_NE(std::wstring::npos, notes[0].find(context)) << Narrow(notes[0]);
    EXPECT_EQ(0u, notes[1].find(L"unregister callback=")) << Narrow(notes[1]);
    EXPECT_NE(std::wstring::npos, notes[1].find(context)) << Narrow(notes[1]);
}

TEST_F(QebiLibrary, EventsArriveInOrderWithTheirContext) {
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    const DWORD codes[] = {0x1001, 0x1003, 0x1005, 0x1043, 0xFFFFFFFF, 0};
    for (DWORD c : codes) ASSERT_TRUE(qebsim::RaiseEvent(c));
    ASSERT_TRUE(recorder_.WaitCount(6, 5000)) << "got " << recorder_.count;
    auto calls = recorder_.Calls();
    ASSERT_EQ(6u, calls.size());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(codes[i], calls[i].first) << "event " << i;
        EXPECT_EQ(&recorder_, calls[i].second) << "event " << i;
    }
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

// A device that completes every wait short at once: the delivery thread
// backs off (1 ms doubling to 100 ms after two), so 2 s cost a few dozen
// waits instead of thousands, and the next whole event still arrives.
TEST_F(QebiLibrary, ShortCompletionsAtOnceDoNotSpinTheDeliveryThread) {
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    QEBSIM_STATE before = {}, after = {};
    ASSERT_TRUE(qebsim::GetState(&before));
    ASSERT_TRUE(qebsim::ShortMode(0));
    Sleep(2000);
    ASSERT_TRUE(qebsim::ShortMode(QEBSIM_SHORT_OFF));
    ASSERT_TRUE(qebsim::GetState(&after));
    const uint32_t waits = after.waits_short - before.waits_short;
    printf("[ figures  ] short completions in 2 s: %u\n", waits);
    EXPECT_GE(waits, 3u) << "short mode had no effect";
    EXPECT_LE(waits, 60u) << "the delivery thread did not back off";
    ASSERT_TRUE(qebsim::RaiseEvent(0x1003));
    EXPECT_TRUE(recorder_.WaitCount(1, 2000)) << "the whole event after the run did not arrive";
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

TEST_F(QebiLibrary, TwoRegistrationsBothGetEveryEventInRegistrationOrder) {
    int first = 0, second = 0;
    ASSERT_EQ(0, api_.reg(RecordingCallback, &first));
    ASSERT_EQ(0, api_.reg(OtherRecordingCallback, &second));
    for (DWORD c : {0x1021u, 0x1022u, 0x1031u}) ASSERT_TRUE(qebsim::RaiseEvent(c));
    ASSERT_TRUE(recorder_.WaitCount(6, 5000)) << "got " << recorder_.count;
    auto calls = recorder_.Calls();
    const std::pair<DWORD, void*> expected[] = {
        {0x1021, &first}, {0x1021, &second}, {0x1022, &first},
        {0x1022, &second}, {0x1031, &first}, {0x1031, &second},
    };
    ASSERT_EQ(6u, calls.size());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i].first, calls[i].first) << "call " << i;
        EXPECT_EQ(expected[i].second, calls[i].second) << "call " << i;
    }
    // With one left, only that one is called.
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &first));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1041));
    ASSERT_TRUE(recorder_.WaitCount(7, 5000));
    calls = recorder_.Calls();
    EXPECT_EQ(0x1041u, calls.back().first);
    EXPECT_EQ(&second, calls.back().second);
    EXPECT_EQ(0, api_.unreg(OtherRecordingCallback, &second));
}

TEST_F(QebiLibrary, NothingArrivesAfterUnregisterReturns) {
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(recorder_.WaitCount(1, 5000));
    ASSERT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
    EXPECT_EQ(0u, Listeners()) << "the delivery thread kept its device handle";
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(qebsim::RaiseEvent(0x1002));
    Sleep(500);
    EXPECT_EQ(1, recorder_.count);
}

TEST_F(QebiLibrary, RegisteringAgainAfterTheLastUnregisterWorks) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_)) << "round " << i;
        ASSERT_EQ(0, api_.unreg(RecordingCallback, &recorder_)) << "round " << i;
    }
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1011));
    ASSERT_TRUE(recorder_.WaitCount(1, 5000));
    EXPECT_EQ(0x1011u, recorder_.Calls()[0].first);
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

// A callback that is still running when another thread unregisters it has
// returned before the unregister does.
struct SlowCallback {
    volatile LONG entered = 0;
    volatile LONG finished = 0;
};

void WINAPI Slow(DWORD, void* context) {
    auto* s = static_cast<SlowCallback*>(context);
    InterlockedIncrement(&s->entered);
    Sleep(300);
    InterlockedIncrement(&s->finished);
}

TEST_F(QebiLibrary, UnregisterWaitsForTheRunningCallback) {
    // Another registration keeps the delivery thread going, so the unregister
    // has no thread to see out and must wait for the callback itself.
    for (bool last : {false, true}) {
        SlowCallback slow;
        if (!last) {
            ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
        }
        ASSERT_EQ(0, api_.reg(Slow, &slow));
        ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
        ASSERT_TRUE(WaitFor([&] { return slow.entered == 1; }, 5000));
        ASSERT_EQ(0, api_.unreg(Slow, &slow));
        EXPECT_EQ(1, slow.finished) << "unregister returned while the callback ran; last registration " << last;
        if (!last) {
            ASSERT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
        }
    }
}

// Unregistering from inside the callback, on the delivery thread.
struct SelfRemoving {
    Api* api;
    volatile LONG calls = 0;
    volatile LONG result = -1;
};

void WINAPI RemoveSelf(DWORD, void* context) {
    auto* s = static_cast<SelfRemoving*>(context);
    if (InterlockedIncrement(&s->calls) == 1) s->result = s->api->unreg(RemoveSelf, s);
}

TEST_F(QebiLibrary, UnregisterFromInsideTheCallback) {
    SelfRemoving s;
    s.api = &api_;
    ASSERT_EQ(0, api_.reg(RemoveSelf, &s));
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(qebsim::RaiseEvent(0x1001 + i));
    ASSERT_TRUE(WaitFor([&] { return s.result != -1; }, 5000)) << "the callback never returned from unregister";
    EXPECT_EQ(0, s.result);
    EXPECT_TRUE(WaitFor([] { return Listeners() == 0; }, 5000)) << "the delivery thread did not stop";
    Sleep(300);
    EXPECT_EQ(1, s.calls);
    // The stopped thread is replaced by the next registration.
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1022));
    ASSERT_TRUE(recorder_.WaitCount(1, 5000));
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

// A callback registering another: the new one gets the next event, not the
// one being delivered.
struct Registering {
    Api* api;
    volatile LONG calls = 0;
};

void WINAPI RegisterAnother(DWORD, void* context) {
    auto* r = static_cast<Registering*>(context);
    if (InterlockedIncrement(&r->calls) == 1) r->api->reg(RecordingCallback, g_recorder);
}

TEST_F(QebiLibrary, RegisterFromInsideTheCallback) {
    Registering r;
    r.api = &api_;
    ASSERT_EQ(0, api_.reg(RegisterAnother, &r));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(WaitFor([&] { return r.calls == 1; }, 5000));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1002));
    ASSERT_TRUE(recorder_.WaitCount(1, 5000));
    Sleep(200);
    auto calls = recorder_.Calls();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(0x1002u, calls[0].first);
    EXPECT_EQ(0, api_.unreg(RegisterAnother, &r));
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

// The dialog's case: the callback sends a window message to the thread that
// is unregistering it. The unregister waits for the callback and lets the
// message through meanwhile, so neither thread waits for ever.
struct Sender {
    HWND window;
    volatile LONG entered = 0;
    volatile LONG sent = 0;
};

LRESULT CALLBACK CountingWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_APP) {
        InterlockedIncrement(reinterpret_cast<volatile LONG*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)));
        return 1;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// A message-only window of this thread that counts, in *received, the
// messages sent to it by the callbacks under test.
HWND CreateCountingWindow(volatile LONG* received) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = CountingWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QebiDllSystemTestWindow";
    RegisterClassW(&wc);  // fails harmlessly when already registered
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                                  nullptr);
    if (window != nullptr) SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(received));
    return window;
}

void WINAPI SendToWindow(DWORD, void* context) {
    auto* s = static_cast<Sender*>(context);
    InterlockedIncrement(&s->entered);
    Sleep(100);  // the other thread is in the unregister by now
    if (SendMessageW(s->window, WM_APP, 0, 0) == 1) InterlockedIncrement(&s->sent);
}

DWORD WINAPI Watchdog(void* param) {
    if (WaitForSingleObject(static_cast<HANDLE>(param), 30000) == WAIT_TIMEOUT) {
        fprintf(stderr, "watchdog: unregister and the callback deadlocked\n");
        fflush(stderr);
        ExitProcess(3);
    }
    return 0;
}

TEST_F(QebiLibrary, UnregisterLetsTheCallbacksSentMessagesThrough) {
    volatile LONG received = 0;
    HWND window = CreateCountingWindow(&received);
    ASSERT_NE(nullptr, window) << "error " << GetLastError();

    Sender s;
    s.window = window;
    // Not the last registration: the unregister itself waits for the callback.
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_EQ(0, api_.reg(SendToWindow, &s));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1003));
    ASSERT_TRUE(WaitFor([&] { return s.entered == 1; }, 5000));
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE dog = CreateThread(nullptr, 0, Watchdog, done, 0, nullptr);
    // No message loop here: only the unregister can let the message in.
    LONG r = api_.unreg(SendToWindow, &s);
    SetEvent(done);
    WaitForSingleObject(dog, INFINITE);
    CloseHandle(dog);
    CloseHandle(done);
    EXPECT_EQ(0, r);
    EXPECT_EQ(1, s.sent) << "the callback's message did not arrive";
    EXPECT_EQ(1, received);
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
    DestroyWindow(window);
}

// ---- test switches: strict mode and leaked handles ------------------------

// Loads the library afresh with the switch name=value in the environment
// (null: unset), which the library reads when it is loaded.
void ReloadWith(Api& api, const wchar_t* name, const wchar_t* value) {
    api.Free();
    ASSERT_EQ(nullptr, GetModuleHandleW(LibraryPath().c_str())) << "the library stayed loaded";
    SetEnvironmentVariableW(name, value);
    ASSERT_TRUE(api.Load());
    SetEnvironmentVariableW(name, nullptr);
}

struct Gate {
    HANDLE entered;
    HANDLE release;
    HWND window;
    volatile LONG sentThrough;
};

// Holds the delivery until released, then sends a message to the window of
// the thread that is meanwhile unregistering it.
void WINAPI HoldThenSend(DWORD, void* context) {
    auto* g = static_cast<Gate*>(context);
    SetEvent(g->entered);
    WaitForSingleObject(g->release, 10000);
    DWORD_PTR r = 0;
    if (SendMessageTimeoutW(g->window, WM_APP, 0, 0, SMTO_NORMAL, 1500, &r) && r == 1)
        InterlockedIncrement(&g->sentThrough);
}

DWORD WINAPI CallQuery(void* entry) { return static_cast<DWORD>(reinterpret_cast<QEB_GET_STATUS>(entry)()); }

// Strict mode is a library that serialises everything on one lock held while
// callbacks run: a query waits for the running callback, and the unregister
// waits for it without letting a sent message in.
TEST_F(QebiLibrary, StrictModeHoldsOneLockAcrossCallbacksAndEntryPoints) {
    volatile LONG received = 0;
    HWND window = CreateCountingWindow(&received);
    ASSERT_NE(nullptr, window) << "error " << GetLastError();

    for (bool strict : {false, true}) {
        ReloadWith(api_, L"QEBI_STANDIN_STRICT", strict ? L"1" : nullptr);
        Gate g = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, TRUE, FALSE, nullptr),
                  window, 0};
        ASSERT_EQ(0, api_.reg(HoldThenSend, &g));
        ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(g.entered, 5000));
        HANDLE query = CreateThread(nullptr, 0, CallQuery,
                                    reinterpret_cast<void*>(Entry<QEB_GET_STATUS>("Get_Power_Meter")), 0, nullptr);
        EXPECT_EQ(strict ? WAIT_TIMEOUT : WAIT_OBJECT_0, WaitForSingleObject(query, strict ? 500 : 10000))
            << "a query while a callback runs; strict " << strict;
        SetEvent(g.release);
        // No message loop here: only the unregister could let the message in.
        EXPECT_EQ(0, api_.unreg(HoldThenSend, &g));
        EXPECT_EQ(strict ? 0 : 1, g.sentThrough) << "message sent during the unregister; strict " << strict;
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(query, 10000));
        CloseHandle(query);
        CloseHandle(g.entered);
        CloseHandle(g.release);
    }
    DestroyWindow(window);
}

// The slot a new handle gets: the lowest free one, so handles left open push
// it up by one slot (4) each. (GetProcessHandleCount reports 0 under Wine.)
uintptr_t NextHandleSlot() {
    HANDLE probe = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    CloseHandle(probe);
    return reinterpret_cast<uintptr_t>(probe) / 4;
}

TEST_F(QebiLibrary, LeakSwitchLeaksOneHandlePerEntryPointCall) {
    for (bool leak : {false, true}) {
        ReloadWith(api_, L"QEBI_STANDIN_LEAK_HANDLES", leak ? L"1" : nullptr);
        auto query = Entry<QEB_GET_STATUS>("Get_Power_Meter");
        query();  // opens the library's request handle, which it keeps
        uintptr_t before = NextHandleSlot();
        for (int i = 0; i < 50; ++i) query();
        EXPECT_EQ(before + (leak ? 50 : 0), NextHandleSlot()) << "leak switch " << leak;
    }
}

// ---- release of the library with registrations still present -------------

TEST_F(QebiLibrary, NoCallbackAfterFreeLibraryWithARegistrationLeft) {
    int threadsBefore = ThreadCount();
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(recorder_.WaitCount(1, 5000));
    uint32_t seq = qebsim::NextSeq();
    api_.Free();
    EXPECT_EQ(nullptr, GetModuleHandleW(LibraryPath().c_str())) << "the library stayed loaded";
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(qebsim::RaiseEvent(0x1002));
    Sleep(500);
    EXPECT_EQ(1, recorder_.count) << "a callback ran after the release";
    EXPECT_TRUE(WaitFor([] { return Listeners() == 0; }, 5000)) << "listeners " << Listeners();
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 5000))
        << "delivery thread still there: " << ThreadCount() << " threads, " << threadsBefore << " before";
    std::vector<std::wstring> notes = LibraryNotes(seq);
    ASSERT_EQ(1u, notes.size());
    EXPECT_EQ(L"unload with 1 registrations", notes[0]);

    // Loaded again, it works as new.
    ASSERT_TRUE(api_.Load());
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1004));
    ASSERT_TRUE(recorder_.WaitCount(2, 5000));
    EXPECT_EQ(0x1004u, recorder_.Calls()[1].first);
}

TEST_F(QebiLibrary, FreeLibraryWaitsForTheRunningCallback) {
    SlowCallback slow;
    ASSERT_EQ(0, api_.reg(Slow, &slow));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
    ASSERT_TRUE(WaitFor([&] { return slow.entered == 1; }, 5000));
    api_.Free();
    EXPECT_EQ(1, slow.finished) << "FreeLibrary returned while the callback ran";
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
    Sleep(500);
    EXPECT_EQ(1, slow.entered);
}

TEST_F(QebiLibrary, FreeLibraryAfterUnregisterFromInsideTheCallback) {
    int threadsBefore = ThreadCount();
    SelfRemoving s;
    s.api = &api_;
    ASSERT_EQ(0, api_.reg(RemoveSelf, &s));
    ASSERT_TRUE(qebsim::RaiseEvent(0x1001));
    ASSERT_TRUE(WaitFor([&] { return s.result != -1; }, 5000));
    ASSERT_TRUE(WaitFor([] { return Listeners() == 0; }, 5000));
    api_.Free();
    EXPECT_TRUE(WaitFor([&] { return ThreadCount() <= threadsBefore; }, 5000))
        << ThreadCount() << " threads, " << threadsBefore << " before";
    ASSERT_TRUE(qebsim::RaiseEvent(0x1002));
    Sleep(300);
    EXPECT_EQ(1, s.calls);
}

// ---- volume -------------------------------------------------------------------

TEST_F(QebiLibrary, TenThousandEventsArriveInOrder) {
    const DWORD kCount = 10000;
    recorder_.calls.reserve(kCount);
    QEBSIM_STATE before = {};
    ASSERT_TRUE(qebsim::GetState(&before));
    ASSERT_EQ(0, api_.reg(RecordingCallback, &recorder_));
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    QueryPerformanceCounter(&t0);
    uint32_t deepest = 0;
    for (DWORD i = 0; i < kCount; ++i) {
        QEBSIM_RAISE_RESULT rr = {};
        ASSERT_TRUE(qebsim::RaiseEvent(0x20000 + i, &rr)) << "event " << i;
        if (rr.max_depth > deepest) deepest = rr.max_depth;
        // Keep well inside the per-handle queue bound.
        if (rr.max_depth > QEBSIM_QUEUE_BOUND / 2) Sleep(20);
    }
    LARGE_INTEGER raised;
    QueryPerformanceCounter(&raised);
    ASSERT_TRUE(recorder_.WaitCount(kCount, 120000)) << "got " << recorder_.count;
    QueryPerformanceCounter(&t1);
    auto calls = recorder_.Calls();
    ASSERT_EQ(kCount, calls.size());
    DWORD outOfOrder = 0;
    for (DWORD i = 0; i < kCount; ++i) {
        if (calls[i].first != 0x20000 + i || calls[i].second != &recorder_) ++outOfOrder;
    }
    EXPECT_EQ(0u, outOfOrder);
    QEBSIM_STATE after = {};
    ASSERT_TRUE(qebsim::GetState(&after));
    EXPECT_EQ(before.events_dropped, after.events_dropped);
    double seconds = double(t1.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    double raising = double(raised.QuadPart - t0.QuadPart) / double(freq.QuadPart);
    printf("[ figures  ] %lu events raised and delivered in %.2f s (%.0f events/s; raising alone %.2f s,"
           " last delivery %.3f s after the last raise), deepest queue %u\n",
           static_cast<unsigned long>(kCount), seconds, kCount / seconds, raising, seconds - raising, deepest);
    EXPECT_EQ(0, api_.unreg(RecordingCallback, &recorder_));
}

// ---- the library's request handle ----------------------------------------------

// Queries go through one handle that the library keeps, as a vendor library
// does; when the device was lost and comes back, it opens a new one.
TEST_F(QebiLibrary, QueriesKeepOneHandleAndReopenAfterTheDeviceReturns) {
    auto query = Entry<QEB_GET_STATUS>("Get_Power_Meter");
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_POWER_METER, 0x00050031));
    const uint32_t seq = qebsim::NextSeq();
    for (int i = 0; i < 20; ++i) EXPECT_EQ(0x00050031, query()) << i;
    std::set<uint32_t> handles;
    int opens = 0;
    for (const QEBSIM_RECORD& r : JournalFrom(seq)) {
        if (r.kind == QEBSIM_REC_FRAME) handles.insert(r.handle_id);
        if (r.kind == QEBSIM_REC_OPEN) ++opens;
    }
    EXPECT_EQ(1u, handles.size()) << "frames came on " << handles.size() << " handles";
    EXPECT_LE(opens, 1);
    EXPECT_EQ(0u, Listeners()) << "the request handle counts as an event listener";

    ASSERT_TRUE(qebsim::SetDevicePresent(false));
    EXPECT_EQ(static_cast<LONG>(0x80000000), query()) << "answered with the device lost";
    ASSERT_TRUE(qebsim::SetDevicePresent(true));
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_POWER_METER, 0x00070031));
    EXPECT_EQ(0x00070031, query()) << "no answer after the device came back";
}

// ---- the nested-entry counter ---------------------------------------------------

// The stand-in counts an entry point entered again on a thread where one of
// its calls still runs (NestedEntries under HKLM\Software\QEBSim\QEBI); the
// dialog's tests rely on it reading 0. Here a read that lets messages through
// runs a window procedure that calls the library: the counter must see it,
// also after the library was loaded and released more often than a process
// has TLS slots.
const wchar_t kStandInSettings[] = L"Software\\QEBSim\\QEBI";

bool SetStandIn(const wchar_t* name, DWORD value) {
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kStandInSettings, name, REG_DWORD, &value, sizeof(value)) ==
           ERROR_SUCCESS;
}

DWORD StandIn(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kStandInSettings, name, RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return 0xFFFFFFFFu;
    return value;
}

QEB_GET_STATUS g_nestedQuery = nullptr;

LRESULT CALLBACK NestingWindow(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_APP && g_nestedQuery) g_nestedQuery();
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

struct NestedCase {
    const char* name;
    int loadsBefore;  // loads and releases of the library before the calls
    bool nested;      // a message let through by the read calls the library
    DWORD counted;
};

void PrintTo(const NestedCase& c, std::ostream* os) { *os << c.name; }

class NestedEntryCounter : public QebiLibrary, public ::testing::WithParamInterface<NestedCase> {};

TEST_P(NestedEntryCounter, CountsAnEntryInsideACallOfTheSameThread) {
    const NestedCase& c = GetParam();
    api_.Free();
    for (int i = 0; i < c.loadsBefore; ++i) {
        HMODULE m = LoadLibraryW(LibraryPath().c_str());
        ASSERT_NE(nullptr, m) << "load " << i << ", error " << GetLastError();
        FreeLibrary(m);
    }
    ASSERT_TRUE(api_.Load());
    WNDCLASSW wc = {};
    wc.lpfnWndProc = NestingWindow;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"QebiNestingWindow";
    RegisterClassW(&wc);
    HWND window = CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    g_nestedQuery = Entry<QEB_GET_STATUS>("Get_FSC_Status");
    auto read = Entry<QEB_GET_STATUS>("Get_Current_WIFI_Ratio_Status");
    ASSERT_TRUE(SetStandIn(L"NestedEntries", 0));
    ASSERT_TRUE(SetStandIn(L"ReadDelayMs", 50));
    ASSERT_TRUE(SetStandIn(L"ReadPumps", 1));
    if (c.nested) PostMessageW(window, WM_APP, 0, 0);
    read();
    if (!c.nested) g_nestedQuery();
    SetStandIn(L"ReadPumps", 0);
    SetStandIn(L"ReadDelayMs", 0);
    DestroyWindow(window);
    g_nestedQuery = nullptr;
    EXPECT_EQ(c.counted, StandIn(L"NestedEntries")) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Table, NestedEntryCounter,
                         ::testing::Values(NestedCase{"nested", 0, true, 1},
                                           NestedCase{"nestedAfter1100Loads", 1100, true, 1},
                                           NestedCase{"oneAfterTheOther", 0, false, 0}),
                         [](const ::testing::TestParamInfo<NestedCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
