// Figures of the installed QEBEvent service against the simulated platform:
//  - monitor turnaround for a code without action (completion of a wait to
//    the next wait, from the driver journal's time stamps);
//  - a burst of raised codes: all received, in order, events per second;
//  - CPU time of the service process while idle (no polling: expect zero);
//  - one detailed health report (0x1005) with no usable drive and with the
//    cached drive.
// Prints figures only; nothing here is a pass/fail threshold.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <algorithm>
#include <string>
#include <vector>

#include "qebsim/client.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kInstalledPath[] = L"\"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe\"";

struct Options {
    int turnaroundSamples = 1000;
    int burst = 10000;
    int idleSeconds = 30;
    int reportSamples = 60;
};

double qpcFrequency = 10000000.0;
uint32_t monitorHandle = 0;
uint32_t journalFrom = 1;

[[noreturn]] void Fail(const char* what) {
    printf("qebevent_bench: %s failed, error %lu\n", what, GetLastError());
    fflush(stdout);
    exit(1);
}

// Reads the journal from `journalFrom` on, appends the records, advances.
void Drain(std::vector<QEBSIM_RECORD>* out) {
    std::vector<QEBSIM_RECORD> records;
    QEBSIM_JOURNAL_HEADER header = {};
    if (!qebsim::ReadJournal(journalFrom, &records, &header)) Fail("ReadJournal");
    if (header.qpc_frequency > 0) qpcFrequency = static_cast<double>(header.qpc_frequency);
    if (header.oldest_seq > journalFrom) {
        printf("qebevent_bench: journal ring overran (%u records lost)\n", header.oldest_seq - journalFrom);
    }
    for (const QEBSIM_RECORD& r : records) out->push_back(r);
    if (!records.empty()) journalFrom = records.back().seq + 1;
}

// Waits until the journal holds a WAIT_PENDED of the monitor after `afterSeq`.
QEBSIM_RECORD WaitPended(uint32_t afterSeq, std::vector<QEBSIM_RECORD>* seen) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        const size_t before = seen->size();
        Drain(seen);
        for (size_t i = before; i < seen->size(); ++i) {
            const QEBSIM_RECORD& r = (*seen)[i];
            if (r.kind == QEBSIM_REC_WAIT_PENDED && r.handle_id == monitorHandle && r.seq > afterSeq) return r;
        }
        if (GetTickCount64() - start > 30000) Fail("waiting for the monitor");
        Sleep(0);
    }
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    size_t i = static_cast<size_t>(p * (v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

// DELIVERED -> next WAIT_PENDED of the monitor's handle, in milliseconds.
std::vector<double> Turnarounds(const std::vector<QEBSIM_RECORD>& records, uint32_t code) {
    std::vector<double> out;
    int64_t deliveredAt = -1;
    for (const QEBSIM_RECORD& r : records) {
        if (r.handle_id != monitorHandle) continue;
        if (r.kind == QEBSIM_REC_EVENT_DELIVERED) deliveredAt = r.code == code ? r.time_qpc : -1;
        if (r.kind == QEBSIM_REC_WAIT_PENDED && deliveredAt >= 0) {
            out.push_back((r.time_qpc - deliveredAt) * 1000.0 / qpcFrequency);
            deliveredAt = -1;
        }
    }
    return out;
}

void PrintDistribution(const char* name, const std::vector<double>& ms) {
    printf("%-44s n=%zu median=%.3f ms p99=%.3f ms max=%.3f ms\n", name, ms.size(), Percentile(ms, 0.5),
           Percentile(ms, 0.99), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
}

// Raises `code` `count` times, each after the monitor waits again.
std::vector<double> PacedTurnaround(uint32_t code, int count) {
    std::vector<QEBSIM_RECORD> seen;
    for (int i = 0; i < count; ++i) {
        const uint32_t seq = qebsim::NextSeq();
        if (!qebsim::RaiseEvent(code)) Fail("RaiseEvent");
        WaitPended(seq, &seen);
    }
    return Turnarounds(seen, code);
}

void BenchTurnaround(const Options& o) {
    PrintDistribution("turnaround, code without action (0x1001)", PacedTurnaround(0x1001, o.turnaroundSamples));
}

// One control-device handle for the whole burst: opening a handle per raise
// would make the raiser, not the service, the bottleneck.
class Raiser {
public:
    Raiser() {
        handle_ = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) Fail("opening the control device");
    }
    ~Raiser() { CloseHandle(handle_); }
    void Raise(uint32_t code, QEBSIM_RAISE_RESULT* result) {
        DWORD returned = 0;
        if (!DeviceIoControl(handle_, QEBSIM_IOCTL_RAISE_EVENT, &code, sizeof(code), result, sizeof(*result),
                             &returned, nullptr)) {
            Fail("RAISE_EVENT");
        }
    }

private:
    HANDLE handle_;
};

void BenchBurst(const Options& o) {
    // Codes with upper bits set match no action; each is distinct, so the
    // order of arrival can be checked.
    const uint32_t base = 0x00020000;
    std::vector<QEBSIM_RECORD> seen;
    Drain(&seen);
    seen.clear();
    uint32_t maxDepth = 0, dropped = 0, backoffs = 0;
    Raiser raiser;
    const ULONGLONG startTick = GetTickCount64();
    for (int i = 0; i < o.burst; ++i) {
        QEBSIM_RAISE_RESULT result = {};
        raiser.Raise(base + static_cast<uint32_t>(i), &result);
        maxDepth = std::max(maxDepth, result.max_depth);
        dropped += result.dropped;
        if (result.max_depth >= 1024) {
            // Let the monitor catch up before the queue nears its bound.
            ++backoffs;
            QEBSIM_STATE state = {};
            do {
                Sleep(1);
                if (!qebsim::GetState(&state)) Fail("GetState");
            } while (state.pending_waits == 0);
        }
        if (i % 1000 == 999) Drain(&seen);  // the journal is a ring: read it as we go
    }
    // Wait for the last code's delivery and the wait after it.
    const uint32_t last = base + static_cast<uint32_t>(o.burst - 1);
    const ULONGLONG waitStart = GetTickCount64();
    bool done = false;
    while (!done) {
        Drain(&seen);
        bool deliveredLast = false;
        for (const QEBSIM_RECORD& r : seen) {
            if (r.handle_id != monitorHandle) continue;
            if (r.kind == QEBSIM_REC_EVENT_DELIVERED && r.code == last) deliveredLast = true;
            if (r.kind == QEBSIM_REC_WAIT_PENDED && deliveredLast) done = true;
        }
        if (!done && GetTickCount64() - waitStart > 60000) break;
        if (!done) Sleep(5);
    }
    const double wallSeconds = (GetTickCount64() - startTick) / 1000.0;

    int64_t firstRaised = -1, lastPended = -1, firstDelivered = -1;
    std::vector<uint32_t> delivered;
    bool afterLast = false;
    for (const QEBSIM_RECORD& r : seen) {
        if (r.kind == QEBSIM_REC_EVENT_RAISED && r.code == base && firstRaised < 0) firstRaised = r.time_qpc;
        if (r.handle_id != monitorHandle) continue;
        if (r.kind == QEBSIM_REC_EVENT_DELIVERED && r.code >= base && r.code < base + o.burst) {
            if (firstDelivered < 0) firstDelivered = r.time_qpc;
            delivered.push_back(r.code - base);
            afterLast = r.code == last;
        }
        if (r.kind == QEBSIM_REC_WAIT_PENDED && afterLast && lastPended < 0) lastPended = r.time_qpc;
    }
    size_t inOrder = 0;
    for (size_t i = 0; i < delivered.size(); ++i)
        if (delivered[i] == i) ++inOrder;
    const double seconds = (lastPended - firstRaised) / qpcFrequency;
    printf("burst: raised=%d delivered=%zu in_order=%zu dropped=%u max_queue_depth=%u backoffs=%u\n", o.burst,
           delivered.size(), inOrder, dropped, maxDepth, backoffs);
    printf("burst: first raise to last wait %.3f s (journal clock) = %.0f events/s; wall %.3f s\n", seconds,
           seconds > 0 ? o.burst / seconds : 0.0, wallSeconds);
    const double monitorSeconds = (lastPended - firstDelivered) / qpcFrequency;
    printf("burst: monitor side, first delivery to last wait %.3f s = %.0f events/s\n", monitorSeconds,
           monitorSeconds > 0 ? delivered.size() / monitorSeconds : 0.0);
}

ULONGLONG FileTimeValue(const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; }

void BenchIdle(const Options& o) {
    SERVICE_STATUS_PROCESS status = {};
    if (!qebsim::ServiceQuery(kService, &status)) Fail("ServiceQuery");
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
    if (process == nullptr) Fail("OpenProcess");
    FILETIME created, exited, kernel0, user0, kernel1, user1;
    Sleep(500);  // let the last burst's work settle
    if (!GetProcessTimes(process, &created, &exited, &kernel0, &user0)) Fail("GetProcessTimes");
    const uint32_t seq = qebsim::NextSeq();
    Sleep(static_cast<DWORD>(o.idleSeconds) * 1000);
    if (!GetProcessTimes(process, &created, &exited, &kernel1, &user1)) Fail("GetProcessTimes");
    std::vector<QEBSIM_RECORD> records;
    qebsim::ReadJournal(seq, &records);
    size_t deviceRecords = 0;
    for (const QEBSIM_RECORD& r : records)
        if (r.kind != QEBSIM_REC_NOTE) ++deviceRecords;
    CloseHandle(process);
    printf("idle %d s: service CPU kernel=%.3f ms user=%.3f ms; device requests in that time=%zu\n", o.idleSeconds,
           (FileTimeValue(kernel1) - FileTimeValue(kernel0)) / 10000.0,
           (FileTimeValue(user1) - FileTimeValue(user0)) / 10000.0, deviceRecords);
}

void BenchHealthReport(const Options& o) {
    if (!qebsim::SetHealth(0x00400001)) Fail("SetHealth");
    // No usable drive: Wine's own drive 0 refuses SMART, 1 to 9 are absent.
    PrintDistribution("detailed report, no usable drive", PacedTurnaround(0x1005, o.reportSamples));
    // A simulated drive with a temperature: the first report finds and caches
    // it, the rest ask it alone.
    if (!qebsim::SetDiskTemperature(3, 41)) Fail("SetDiskTemperature");
    PacedTurnaround(0x1005, 1);
    PrintDistribution("detailed report, cached drive 3", PacedTurnaround(0x1005, o.reportSamples));
    qebsim::RemoveDisk(3);
}

int IntArg(const wchar_t* value) { return std::max(1, _wtoi(value)); }

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!wcscmp(argv[i], L"--samples")) o.turnaroundSamples = IntArg(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--burst")) o.burst = IntArg(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--idle-seconds")) o.idleSeconds = IntArg(argv[i + 1]);
        else if (!wcscmp(argv[i], L"--report-samples")) o.reportSamples = IntArg(argv[i + 1]);
    }
    setvbuf(stdout, nullptr, _IONBF, 0);

    const uint32_t startSeq = qebsim::NextSeq();
    if (!qebsim::ServiceInstall(kService, kInstalledPath, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START))
        Fail("installing the service");
    if (!qebsim::ServiceStart(kService)) Fail("starting the service");
    if (!qebsim::ServiceWaitState(kService, SERVICE_RUNNING, 10000)) Fail("waiting for RUNNING");
    QEBSIM_RECORD pended;
    if (!qebsim::WaitForJournal(startSeq, [](const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_WAIT_PENDED; },
                                10000, &pended))
        Fail("waiting for the monitor's first wait");
    monitorHandle = pended.handle_id;
    journalFrom = qebsim::NextSeq();

    printf("qebevent_bench: monitor handle %u\n", monitorHandle);
    BenchTurnaround(o);
    BenchHealthReport(o);
    BenchBurst(o);
    BenchIdle(o);
    return 0;
}
