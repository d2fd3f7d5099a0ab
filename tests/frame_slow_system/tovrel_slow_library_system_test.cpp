// The installed Tovrel.exe on the stand-in QEBI.dll whose reading entry
// points take tens of milliseconds (an embedded controller answers slowly),
// or let window messages through while they wait (a library built on COM or
// WMI). The stand-in reads both settings under HKLM\Software\QEBSim\QEBI at
// every call, so the dialog opens at full speed and each test slows it down.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "qebsim/client.h"
#include "tovrel_driver.h"

namespace {

const wchar_t kSettings[] = L"Software\\QEBSim\\QEBI";
const int kAutoUpdate = 238;

bool SetRead(const wchar_t* name, DWORD value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSettings, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    LONG r = RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    RegCloseKey(key);
    return r == ERROR_SUCCESS;
}

DWORD ReadSetting(const wchar_t* name) {
    DWORD value = 0, size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettings, name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS)
        return 0xFFFFFFFFu;
    return value;
}

double MsSince(const LARGE_INTEGER& t0) {
    LARGE_INTEGER f, t1;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t1);
    return (t1.QuadPart - t0.QuadPart) * 1000.0 / f.QuadPart;
}

struct Stream {
    DWORD code, count;
};

DWORD WINAPI RaiseThread(void* param) {
    Stream* s = static_cast<Stream*>(param);
    for (DWORD i = 0; i < s->count; ++i)
        if (!qebsim::RaiseEvent(s->code)) return 1;
    return 0;
}

// Event code of a log line " 8/12  9:41:53.007: 0x1005 (Thermal Alert)".
DWORD CodeOf(const std::wstring& line) {
    size_t at = line.find(L": 0x");
    return at == std::wstring::npos ? 0 : wcstoul(line.c_str() + at + 4, nullptr, 16);
}

// Milliseconds since midnight of the line's stamp, -1 if it has none.
long StampMs(const std::wstring& line) {
    int day, month, hour, minute, second, ms;
    if (swscanf(line.c_str(), L"%d/%d %d:%d:%d.%d:", &day, &month, &hour, &minute, &second, &ms) != 6) return -1;
    return ((hour * 60L + minute) * 60 + second) * 1000 + ms;
}

class SlowLibraryDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SetRead(L"ReadDelayMs", 0));
        ASSERT_TRUE(SetRead(L"ReadPumps", 0));
        ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_THERMAL, 1));
        ASSERT_TRUE(tovrel_.Start()) << "the dialog did not open, error " << GetLastError();
        dlg_ = tovrel_.dialog();
    }
    void TearDown() override {
        SetRead(L"ReadDelayMs", 0);
        SetRead(L"ReadPumps", 0);
    }

    std::vector<std::wstring> Lines() const { return tovrel_.Lines(); }
    std::vector<std::wstring> WaitLines(size_t n, DWORD timeoutMs) const { return tovrel_.WaitLines(n, timeoutMs); }
    // Milliseconds the dialog took to answer WM_NULL, or -1 after 1 s.
    double AnswerMs() const {
        LARGE_INTEGER t0;
        QueryPerformanceCounter(&t0);
        DWORD_PTR r = 0;
        if (!SendMessageTimeoutW(dlg_, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &r)) return -1;
        return MsSince(t0);
    }

    tovrel_test::InstalledTovrel tovrel_;
    HWND dlg_ = nullptr;
};

// 300 thermal alerts, each a 50 ms read on the dialog's thread: 15 s of work
// that must not hold the dialog.
TEST_F(SlowLibraryDialog, ThermalStormWithSlowReadsLeavesTheDialogAnsweringAndClosing) {
    ASSERT_TRUE(SetRead(L"ReadDelayMs", 50));
    Stream stream = {0x1005, 300};
    HANDLE raiser = CreateThread(nullptr, 0, RaiseThread, &stream, 0, nullptr);
    ASSERT_NE(nullptr, raiser);
    double slowest = 0;
    for (int i = 0; i < 30; ++i) {
        double ms = AnswerMs();
        ASSERT_GE(ms, 0) << "no answer to WM_NULL within 1 s, probe " << i << ", " << Lines().size() << " lines";
        if (ms > slowest) slowest = ms;
        Sleep(100);
    }
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(raiser, 10000));
    CloseHandle(raiser);
    const size_t logged = Lines().size() - 1;
    ASSERT_LT(logged, 300u) << "the storm was over before the close request";

    LARGE_INTEGER t0;
    QueryPerformanceCounter(&t0);
    PostMessageW(dlg_, WM_SYSCOMMAND, SC_CLOSE, 0);  // Alt+F4 as the dialog receives it
    while (IsWindow(dlg_) && MsSince(t0) < 5000) Sleep(5);
    const double closeMs = MsSince(t0);
    EXPECT_FALSE(IsWindow(dlg_));
    EXPECT_LE(closeMs, 300) << "close request to window gone";
    printf("[ figures  ] slowest WM_NULL answer %.0f ms; close request to window gone %.0f ms (%zu of 300 logged)\n",
           slowest, closeMs, logged);
}

// A read that dispatches messages while it waits lets the drain message in
// while the thermal alert's refresh runs: its line still comes first.
TEST_F(SlowLibraryDialog, PumpingReadKeepsTheJournalsOrder) {
    ASSERT_TRUE(SetRead(L"ReadPumps", 1));
    ASSERT_TRUE(SetRead(L"ReadDelayMs", 500));
    const uint32_t from = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
    Sleep(150);  // the dialog is inside the refresh's read now
    for (DWORD i = 0; i < 20; ++i) ASSERT_TRUE(qebsim::RaiseEvent(0x30000 + i));
    std::vector<std::wstring> lines = WaitLines(22, 20000);
    std::vector<QEBSIM_RECORD> records;
    ASSERT_TRUE(qebsim::ReadJournal(from, &records));
    std::vector<DWORD> journal, logged;
    for (const QEBSIM_RECORD& r : records)
        if (r.kind == QEBSIM_REC_EVENT_RAISED) journal.push_back(r.code);
    for (size_t i = 1; i < lines.size(); ++i) logged.push_back(CodeOf(lines[i]));
    ASSERT_EQ(21u, journal.size());
    EXPECT_EQ(journal, logged);
}

// Auto update with twelve reads of 100 ms that let messages through (an
// Update All outlasts the 1 s tick) and thermal alerts meanwhile: no library
// call of the dialog's thread starts inside another one (the stand-in counts
// them in NestedEntries), the panels are still read, every alert is logged.
TEST_F(SlowLibraryDialog, AutoUpdateWithPumpingReadsNeverEntersTheLibraryTwice) {
    const int kPcHealthStatus = 1040;
    ASSERT_TRUE(SetRead(L"NestedEntries", 0));
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_PC_HEALTH, 1));
    PostMessageW(GetDlgItem(dlg_, 1037), BM_CLICK, 0, 0);  // PC health "Update"
    Sleep(300);
    const std::wstring healthBefore = tovrel_test::GetText(GetDlgItem(dlg_, kPcHealthStatus));
    ASSERT_TRUE(SetRead(L"ReadPumps", 1));
    ASSERT_TRUE(SetRead(L"ReadDelayMs", 100));
    PostMessageW(GetDlgItem(dlg_, kAutoUpdate), BM_CLICK, 0, 0);
    ASSERT_TRUE(qebsim::SetFeature(QEB_FEAT_PC_HEALTH, 3));
    const size_t kAlerts = 8;
    for (size_t i = 0; i < kAlerts; ++i) {
        ASSERT_TRUE(qebsim::RaiseEvent(0x1005));
        Sleep(600);
    }
    PostMessageW(GetDlgItem(dlg_, kAutoUpdate), BM_CLICK, 0, 0);
    std::vector<std::wstring> lines = WaitLines(kAlerts + 1, 20000);
    Sleep(1500);  // an Update All that was running ends
    EXPECT_EQ(0u, ReadSetting(L"NestedEntries")) << "library entered again inside a call on the same thread";
    ASSERT_EQ(kAlerts + 1, Lines().size()) << "alerts left queued";
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(0x1005u, CodeOf(lines[i])) << "line " << i;
    EXPECT_NE(healthBefore, tovrel_test::GetText(GetDlgItem(dlg_, kPcHealthStatus))) << "panels not read";
    EXPECT_GE(AnswerMs(), 0) << "dialog not answering";
}

// "Update All" with twelve reads of 300 ms that let messages through, and a
// second message while the first read waits: another press is ignored (12
// reads, not 24), a close request ends the dialog once the reads are done.
// Either way the library is never entered inside one of its calls.
struct SecondMessage {
    const char* name;
    bool close;  // else "Update All" again
};

void PrintTo(const SecondMessage& c, std::ostream* os) { *os << c.name; }

class SecondMessageDuringARead : public SlowLibraryDialog, public ::testing::WithParamInterface<SecondMessage> {};

TEST_P(SecondMessageDuringARead, NoNestedEntry) {
    const SecondMessage& c = GetParam();
    const int kUpdateAll = 239;
    ASSERT_TRUE(SetRead(L"NestedEntries", 0));
    ASSERT_TRUE(SetRead(L"ReadPumps", 1));
    ASSERT_TRUE(SetRead(L"ReadDelayMs", 300));
    const uint32_t from = qebsim::NextSeq();
    PostMessageW(GetDlgItem(dlg_, kUpdateAll), BM_CLICK, 0, 0);
    Sleep(150);  // inside the first read
    if (c.close)
        PostMessageW(dlg_, WM_SYSCOMMAND, SC_CLOSE, 0);
    else
        PostMessageW(GetDlgItem(dlg_, kUpdateAll), BM_CLICK, 0, 0);
    // Until no read came for a second (24 reads would take 7.2 s).
    size_t reads = 0;
    for (DWORD quiet = 0, waited = 0; quiet < 1000 && waited < 15000; waited += 100) {
        Sleep(100);
        std::vector<QEBSIM_RECORD> records;
        ASSERT_TRUE(qebsim::ReadJournal(from, &records));
        size_t now = 0;
        for (const QEBSIM_RECORD& r : records) now += r.kind == QEBSIM_REC_FRAME;
        quiet = now == reads ? quiet + 100 : 0;
        reads = now;
    }
    EXPECT_EQ(12u, reads) << c.name;
    EXPECT_EQ(0u, ReadSetting(L"NestedEntries")) << c.name << ": library entered again inside a call";
    if (c.close) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(tovrel_.process(), 5000)) << "the dialog did not end";
    } else {
        EXPECT_GE(AnswerMs(), 0) << "dialog not answering";
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SecondMessageDuringARead,
                         ::testing::Values(SecondMessage{"updateAllAgain", false}, SecondMessage{"closeRequest", true}),
                         [](const ::testing::TestParamInfo<SecondMessage>& info) {
                             return std::string(info.param.name);
                         });

// Events 100 ms apart while auto update reads every panel slowly once a
// second: each line carries the time its event came, not the time the
// dialog's thread got round to it.
TEST_F(SlowLibraryDialog, AutoUpdateWithSlowReadsStampsEachLineWhenItsEventCame) {
    ASSERT_TRUE(SetRead(L"ReadDelayMs", 50));
    PostMessageW(GetDlgItem(dlg_, kAutoUpdate), BM_CLICK, 0, 0);
    Sleep(1200);
    // The journal's performance counter is this process's: one reading of
    // both clocks turns journal times into local times.
    LARGE_INTEGER refQpc, perSecond;
    SYSTEMTIME refTime;
    GetLocalTime(&refTime);
    QueryPerformanceCounter(&refQpc);
    QueryPerformanceFrequency(&perSecond);
    const long refMs = ((refTime.wHour * 60L + refTime.wMinute) * 60 + refTime.wSecond) * 1000 + refTime.wMilliseconds;
    const uint32_t from = qebsim::NextSeq();
    const DWORD kEvents = 30;
    for (DWORD i = 0; i < kEvents; ++i) {
        ASSERT_TRUE(qebsim::RaiseEvent(0x40000 + i));
        Sleep(100);
    }
    std::vector<std::wstring> lines = WaitLines(kEvents + 1, 20000);
    ASSERT_EQ(kEvents + 1, lines.size());
    std::vector<QEBSIM_RECORD> records;
    ASSERT_TRUE(qebsim::ReadJournal(from, &records));
    std::vector<long> raisedMs;
    for (const QEBSIM_RECORD& r : records)
        if (r.kind == QEBSIM_REC_EVENT_RAISED)
            raisedMs.push_back(refMs + static_cast<long>((r.time_qpc - refQpc.QuadPart) * 1000 / perSecond.QuadPart));
    ASSERT_EQ(kEvents, raisedMs.size());
    long worst = 0;
    for (DWORD i = 0; i < kEvents; ++i) {
        ASSERT_EQ(0x40000 + i, CodeOf(lines[i + 1]));
        long late = StampMs(lines[i + 1]) - raisedMs[i];
        late = (late + 86400000L + 43200000L) % 86400000L - 43200000L;  // across midnight
        if (labs(late) > labs(worst)) worst = late;
        EXPECT_LE(labs(late), 50) << "line " << i + 1 << ": stamp - journal = " << late << " ms";
    }
    printf("[ figures  ] largest stamp - journal difference %ld ms over %lu events\n", worst,
           static_cast<unsigned long>(kEvents));
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
