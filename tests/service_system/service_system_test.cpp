// QEBEvent installed as a service under Wine, driven through the simulated
// platform: events raised on the simulated firmware, the driver's journal of
// what the service sent and waited for, and Wine's event-log trace lines in
// services.log.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "../common/process_files.h"
#include "qebsim/client.h"

namespace {

const wchar_t kService[] = L"QEBEvent";
const wchar_t kInstalledPath[] = L"C:\\Program Files\\Kestil\\QEB\\QEBEvent.exe";
const DWORD kWaitMs = 10000;

// ---- the journal ----

std::vector<QEBSIM_RECORD> JournalFrom(uint32_t seq) {
    std::vector<QEBSIM_RECORD> records;
    qebsim::ReadJournal(seq, &records);
    return records;
}


std::vector<uint8_t> FrameData(const QEBSIM_RECORD& r) { return std::vector<uint8_t>(r.data, r.data + r.data_len); }

std::vector<uint8_t> ExpectedFrame(std::vector<uint8_t> header, size_t payload) {
    header.resize(20 + payload, 0);
    return header;
}

// ---- services.log ----

std::wstring ServicesLogPath() {
    const char* unixPrefix = getenv("QEB_PREFIX_UNIX");
    std::wstring path = L"Z:";
    for (const char* p = unixPrefix ? unixPrefix : ""; *p; ++p) path += (*p == '/') ? L'\\' : static_cast<wchar_t>(*p);
    return path + L"\\services.log";
}

std::string ReadServicesLog() { return qebtest::ReadFileText(ServicesLogPath()); }

size_t ServicesLogSize() { return ReadServicesLog().size(); }

// Lines written since `offset` that contain `marker`, each from the marker on.
std::vector<std::string> LogLinesSince(size_t offset, const std::string& marker) {
    const std::string text = ReadServicesLog();
    std::vector<std::string> lines;
    size_t pos = offset < text.size() ? offset : text.size();
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        const size_t at = line.find(marker);
        if (at != std::string::npos) lines.push_back(line.substr(at));
        pos = end + 1;
    }
    return lines;
}

const char kTraceMarker[] = "trace:eventlog:ReportEventW ";
const char kFixmeMarker[] = "fixme:advapi:ReportEventW ";

// The insertion string as Wine's debug output shows it.
std::string TraceLine(const std::string& text) {
    std::string s = std::string(kTraceMarker) + "L\"";
    for (char c : text) {
        if (c == '\n') s += "\\n";
        else if (c == '"') s += "\\\"";
        else if (c == '\\') s += "\\\\";
        else s += c;
    }
    return s + "\"";
}

std::vector<std::string> TraceLinesSince(size_t offset) { return LogLinesSince(offset, kTraceMarker); }

// Polls until the trace lines since `offset` number at least `count`.
std::vector<std::string> WaitTraceLines(size_t offset, size_t count, DWORD timeoutMs = kWaitMs) {
    const ULONGLONG start = GetTickCount64();
    std::vector<std::string> lines;
    for (;;) {
        lines = TraceLinesSince(offset);
        if (lines.size() >= count || GetTickCount64() - start > timeoutMs) return lines;
        Sleep(20);
    }
}

// Fields of the FIXME line: "(handle,type,category,id,sid,strings,rawsize,...)".
std::vector<std::string> FixmeFields(const std::string& line) {
    std::vector<std::string> fields;
    const size_t open = line.find('(');
    const size_t close = line.find(')');
    if (open == std::string::npos || close == std::string::npos) return fields;
    std::string inner = line.substr(open + 1, close - open - 1);
    size_t pos = 0;
    for (;;) {
        const size_t comma = inner.find(',', pos);
        fields.push_back(inner.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos));
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return fields;
}

// ---- the running service ----

struct ServiceSession {
    bool ok = false;
    std::string error;
    uint32_t handleId = 0;  // journal id of the monitor's device handle
    uint32_t startSeq = 0;
};
ServiceSession session;

bool WaitMonitorHandle(uint32_t fromSeq, uint32_t* handleId) {
    QEBSIM_RECORD r;
    if (!qebsim::WaitForJournal(fromSeq, [](const QEBSIM_RECORD& x) { return x.kind == QEBSIM_REC_WAIT_PENDED; },
                                kWaitMs, &r)) {
        return false;
    }
    *handleId = r.handle_id;
    return true;
}

// Raises `code` and waits until the monitor has taken it and waits again.
// Gives the sequence numbers of the delivery and of the next wait.
bool RaiseAndWaitIdle(uint32_t code, uint32_t* deliveredSeq, uint32_t* pendedSeq, uint32_t* fromSeq = nullptr) {
    const uint32_t seq = qebsim::NextSeq();
    if (fromSeq) *fromSeq = seq;
    if (!qebsim::RaiseEvent(code)) return false;
    const uint32_t handle = session.handleId;
    QEBSIM_RECORD delivered;
    if (!qebsim::WaitForJournal(
            seq,
            [&](const QEBSIM_RECORD& r) {
                return r.kind == QEBSIM_REC_EVENT_DELIVERED && r.handle_id == handle && r.code == code;
            },
            kWaitMs, &delivered)) {
        return false;
    }
    QEBSIM_RECORD pended;
    if (!qebsim::WaitForJournal(
            delivered.seq + 1,
            [&](const QEBSIM_RECORD& r) { return r.kind == QEBSIM_REC_WAIT_PENDED && r.handle_id == handle; },
            kWaitMs, &pended)) {
        return false;
    }
    *deliveredSeq = delivered.seq;
    *pendedSeq = pended.seq;
    return true;
}

std::vector<QEBSIM_RECORD> Between(uint32_t firstSeq, uint32_t lastSeq, uint32_t kind) {
    std::vector<QEBSIM_RECORD> out;
    for (const QEBSIM_RECORD& r : JournalFrom(firstSeq)) {
        if (r.seq > lastSeq) break;
        if (r.kind == kind) out.push_back(r);
    }
    return out;
}

HANDLE OpenServiceProcess() {
    SERVICE_STATUS_PROCESS status = {};
    if (!qebsim::ServiceQuery(kService, &status) || status.dwProcessId == 0) return nullptr;
    return OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, status.dwProcessId);
}

const uint8_t kReadings[20] = {0x2D, 0x00, 0x2D, 0x19, 0x28, 0x05, 0x23, 0x00, 0x26, 0x03,
                               0x30, 0x00, 0x3A, 0x07, 0xB0, 0x04, 0xDC, 0x05, 0xFF, 0xFF};
const char kDetailsFor00400001[] =
    "Error code:4, STATUS=00400001\n  SYSTEM TYPE=Desktop \n  PCH=45.0 CPU=45.25 VRD=40.5\n"
    "  SYS=35.0 HDD=38.3 GPU=48.0\n  CPUFAN=1850 SYSFAN=1200 PWRFAN=1500 GFXFAN=65535\n";
const char kGreenToRed[] = "Error code:4, System healthy status changed from Green to Red\n\n";
const char kRedToGreen[] = "Error code:5, System healthy status changed from Red to Green\n\n";

class SvcServiceSystem : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        session.startSeq = qebsim::NextSeq();
        if (!qebsim::ServiceInstall(kService, std::wstring(L"\"") + kInstalledPath + L"\"", SERVICE_WIN32_OWN_PROCESS,
                                    SERVICE_DEMAND_START)) {
            session.error = "CreateService failed, error " + std::to_string(GetLastError());
            return;
        }
        if (!qebsim::ServiceStart(kService)) {
            session.error = "StartService failed, error " + std::to_string(GetLastError());
            return;
        }
        if (!qebsim::ServiceWaitState(kService, SERVICE_RUNNING, kWaitMs)) {
            session.error = "service not RUNNING";
            return;
        }
        if (!WaitMonitorHandle(session.startSeq, &session.handleId)) {
            session.error = "the monitor never waited on the device";
            return;
        }
        session.ok = true;
    }

    void SetUp() override { ASSERT_TRUE(session.ok) << session.error; }
};

}  // namespace

TEST_F(SvcServiceSystem, InstalledAsOwnProcessDemandStartLocalSystem) {
    qebsim::ServiceConfig config;
    ASSERT_TRUE(qebsim::ServiceGetConfig(kService, &config)) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.serviceType);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), config.startType);
    EXPECT_EQ(L"LocalSystem", config.account);
    EXPECT_EQ(std::wstring(L"\"") + kInstalledPath + L"\"", config.binaryPath);
}

TEST_F(SvcServiceSystem, RunningWithItsAcceptedControls) {
    SERVICE_STATUS_PROCESS s = {};
    ASSERT_TRUE(qebsim::ServiceQuery(kService, &s));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), s.dwCurrentState);
    EXPECT_EQ(0x85u, s.dwControlsAccepted);
    EXPECT_EQ(0u, s.dwWin32ExitCode);
    EXPECT_EQ(0u, s.dwServiceSpecificExitCode);
    EXPECT_NE(0u, s.dwProcessId);
}

TEST_F(SvcServiceSystem, StartAsksTheFirmwareForAPendingHibernation) {
    // The start's only framed request: KNVS function 9, byte for byte.
    const std::vector<QEBSIM_RECORD> frames = Between(session.startSeq, 0xFFFFFFFF, QEBSIM_REC_FRAME);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(0x222404u, frames[0].code);
    const std::vector<uint8_t> expected =
        ExpectedFrame({0x50, 0x4D, 0x44, 0x42, 0x18, 0x00, 0x01, 0x00, 0xAA, 0x0D, 0x09, 0x00}, 4);
    EXPECT_EQ(expected, FrameData(frames[0])) << qebsim::HexBytes(frames[0].data, frames[0].data_len);
}

TEST_F(SvcServiceSystem, CodesWithoutActionReachTheMonitorInOrder) {
    const uint32_t codes[] = {0x1001, 0x1002, 0x1010, 0x1011, 0x1021, 0x1022, 0x00011003, 0x00011005, 0x00011042,
                              0x10001041, 0xFFFFFFFF, 0};
    const size_t logOffset = ServicesLogSize();
    const uint32_t first = qebsim::NextSeq();
    for (uint32_t code : codes) {
        uint32_t delivered = 0, pended = 0;
        ASSERT_TRUE(RaiseAndWaitIdle(code, &delivered, &pended)) << "code 0x" << std::hex << code;
    }
    // The monitor's own records: each delivery is followed by its next wait,
    // in the order raised.
    std::vector<std::pair<uint32_t, uint32_t>> seen;  // kind, code
    bool otherDeviceUse = false;
    for (const QEBSIM_RECORD& r : JournalFrom(first)) {
        if (r.handle_id == session.handleId &&
            (r.kind == QEBSIM_REC_EVENT_DELIVERED || r.kind == QEBSIM_REC_WAIT_PENDED)) {
            seen.push_back({r.kind, r.kind == QEBSIM_REC_EVENT_DELIVERED ? r.code : 0});
        }
        if (r.kind == QEBSIM_REC_FRAME || r.kind == QEBSIM_REC_OPEN || r.kind == QEBSIM_REC_DISK) otherDeviceUse = true;
    }
    std::vector<std::pair<uint32_t, uint32_t>> expected;
    for (uint32_t code : codes) {
        expected.push_back({QEBSIM_REC_EVENT_DELIVERED, code});
        expected.push_back({QEBSIM_REC_WAIT_PENDED, 0});
    }
    EXPECT_EQ(expected, seen);
    EXPECT_FALSE(otherDeviceUse) << "a code without action opened a device or sent a frame";
    EXPECT_TRUE(TraceLinesSince(logOffset).empty()) << TraceLinesSince(logOffset)[0];
}

TEST_F(SvcServiceSystem, ThermalAlertSendsTheHealthFrameAndWritesTheDetailedEntry) {
    ASSERT_TRUE(qebsim::SetHealth(0x00400001));
    ASSERT_TRUE(qebsim::SetReadings(kReadings));
    const size_t logOffset = ServicesLogSize();
    uint32_t delivered = 0, pended = 0;
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    const std::vector<QEBSIM_RECORD> frames = Between(delivered, pended, QEBSIM_REC_FRAME);
    ASSERT_EQ(1u, frames.size()) << "framed requests between the delivery and the next wait";
    EXPECT_EQ(0x222404u, frames[0].code);
    EXPECT_EQ(0, frames[0].status);
    const std::vector<uint8_t> expected =
        ExpectedFrame({0x50, 0x4D, 0x44, 0x42, 0x2C, 0x00, 0x01, 0x00, 0xE4, 0xDF, 0x07, 0x00}, 24);
    EXPECT_EQ(expected, FrameData(frames[0])) << qebsim::HexBytes(frames[0].data, frames[0].data_len);

    const std::vector<std::string> lines = WaitTraceLines(logOffset, 1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(TraceLine(kDetailsFor00400001), lines[0]);
    const std::vector<std::string> fixmes = LogLinesSince(logOffset, kFixmeMarker);
    ASSERT_EQ(1u, fixmes.size());
    const std::vector<std::string> f = FixmeFields(fixmes[0]);
    ASSERT_GE(f.size(), 7u) << fixmes[0];
    EXPECT_EQ("0x0004", f[1]) << "type";
    EXPECT_EQ("0x0001", f[2]) << "category";
    EXPECT_EQ("0x000003f2", f[3]) << "event id";
    EXPECT_EQ("0x0001", f[5]) << "string count";
    EXPECT_EQ("0x00000014", f[6]) << "raw data size";
}

TEST_F(SvcServiceSystem, HealthChangeCodesWriteTheirEntries) {
    const size_t logOffset = ServicesLogSize();
    uint32_t delivered = 0, pended = 0;
    ASSERT_TRUE(RaiseAndWaitIdle(0x1042, &delivered, &pended));
    ASSERT_TRUE(RaiseAndWaitIdle(0x1043, &delivered, &pended));
    const std::vector<std::string> lines = WaitTraceLines(logOffset, 2);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(TraceLine(kGreenToRed), lines[0]);
    EXPECT_EQ(TraceLine(kRedToGreen), lines[1]);
    const std::vector<std::string> fixmes = LogLinesSince(logOffset, kFixmeMarker);
    ASSERT_EQ(2u, fixmes.size());
    for (const std::string& line : fixmes) {
        const std::vector<std::string> f = FixmeFields(line);
        ASSERT_GE(f.size(), 7u) << line;
        EXPECT_EQ("0x0004", f[1]) << line;
        EXPECT_EQ("0x0001", f[2]) << line;
        EXPECT_EQ("0x000003f2", f[3]) << line;
        EXPECT_EQ("0x00000000", f[6]) << "health-change entries carry no raw data: " << line;
    }
}

// CPU time (user and system, all threads) of the service process so far, in
// milliseconds, or -1. Wine answers GetProcessTimes for another process with
// zeros, so it comes from the Linux process: the one whose command line is
// the installed service without a switch, in this test's prefix.
double ServiceCpuMs() {
    wchar_t prefix[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return -1;
    const std::string wantEnv = "WINEPREFIX=" + std::string(prefix, prefix + wcslen(prefix));
    const std::string wantCmd = std::string(kInstalledPath, kInstalledPath + wcslen(kInstalledPath));
    WIN32_FIND_DATAW found;
    HANDLE dir = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (dir == INVALID_HANDLE_VALUE) return -1;
    double ms = -1;
    do {
        if (found.cFileName[0] < L'1' || found.cFileName[0] > L'9') continue;
        const std::wstring proc = std::wstring(L"Z:\\proc\\") + found.cFileName;
        std::string cmd = qebtest::ReadFileText(proc + L"\\cmdline");
        // Arguments are NUL-separated: the service has no second one.
        if (cmd.find(wantCmd) == std::string::npos || cmd.find('-') != std::string::npos) continue;
        std::string env = qebtest::ReadFileText(proc + L"\\environ");
        env.insert(env.begin(), '\0');
        if (env.find('\0' + wantEnv + '\0') == std::string::npos) continue;
        // utime and stime are fields 14 and 15, counted after the name in
        // parentheses, in clock ticks of 10 ms.
        const std::string stat = qebtest::ReadFileText(proc + L"\\stat");
        const size_t close = stat.rfind(')');
        unsigned long long utime = 0, stime = 0;
        const char* fields = " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu";
        if (close == std::string::npos || sscanf(stat.c_str() + close + 1, fields, &utime, &stime) != 2) continue;
        ms = (utime + stime) * 10.0;
        break;
    } while (FindNextFileW(dir, &found));
    FindClose(dir);
    return ms;
}

TEST_F(SvcServiceSystem, EndlessShortCompletionsCostLittleCpuAndAWholeEventStillActs) {
    QEBSIM_STATE before = {}, after = {};
    ASSERT_TRUE(qebsim::GetState(&before));
    const double cpuBefore = ServiceCpuMs();
    ASSERT_GE(cpuBefore, 0) << "the service's Linux process was not found";
    ASSERT_TRUE(qebsim::ShortMode(0));
    Sleep(5000);
    const double cpu = ServiceCpuMs() - cpuBefore;
    ASSERT_TRUE(qebsim::GetState(&after));
    ASSERT_TRUE(qebsim::ShortMode(QEBSIM_SHORT_OFF));
    EXPECT_GT(after.waits_short - before.waits_short, 3u) << "the monitor never saw a short completion";
    EXPECT_LT(cpu, 50.0) << "CPU ms in 5 s of short completions";

    const size_t logOffset = ServicesLogSize();
    const uint32_t seq = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::RaiseEvent(0x1042));
    const std::vector<std::string> lines = WaitTraceLines(logOffset, 1, 2000);
    ASSERT_EQ(1u, lines.size()) << "the whole event after the short completions was not acted on";
    EXPECT_EQ(TraceLine(kGreenToRed), lines[0]);
    // Raise to delivery to the monitor, from the journal.
    QEBSIM_JOURNAL_HEADER header = {};
    std::vector<QEBSIM_RECORD> records;
    ASSERT_TRUE(qebsim::ReadJournal(seq, &records, &header));
    int64_t raised = -1, delivered = -1;
    for (const QEBSIM_RECORD& r : records) {
        if (r.kind == QEBSIM_REC_EVENT_RAISED && r.code == 0x1042 && raised < 0) raised = r.time_qpc;
        if (r.kind == QEBSIM_REC_EVENT_DELIVERED && r.handle_id == session.handleId && delivered < 0)
            delivered = r.time_qpc;
    }
    ASSERT_TRUE(raised >= 0 && delivered >= 0 && header.qpc_frequency != 0);
    const double turnaround = (delivered - raised) * 1000.0 / header.qpc_frequency;
    printf("[ figures  ] 5 s of short completions: %u waits, %.1f ms CPU; raise to delivery after them %.1f ms\n",
           after.waits_short - before.waits_short, cpu, turnaround);
}

TEST_F(SvcServiceSystem, StatusWithBit31WritesNothing) {
    ASSERT_TRUE(qebsim::SetHealth(0x80000001));
    const size_t logOffset = ServicesLogSize();
    uint32_t delivered = 0, pended = 0;
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    EXPECT_EQ(1u, Between(delivered, pended, QEBSIM_REC_FRAME).size());
    EXPECT_TRUE(TraceLinesSince(logOffset).empty());
    ASSERT_TRUE(qebsim::SetHealth(0x00400001));
}

TEST_F(SvcServiceSystem, FailedHealthRequestWritesNothingAndTheServiceGoesOn) {
    ASSERT_TRUE(qebsim::FailNext(1));
    const size_t logOffset = ServicesLogSize();
    uint32_t delivered = 0, pended = 0;
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    const std::vector<QEBSIM_RECORD> frames = Between(delivered, pended, QEBSIM_REC_FRAME);
    ASSERT_EQ(1u, frames.size());
    EXPECT_NE(0, frames[0].status) << "the request was meant to fail";
    EXPECT_TRUE(TraceLinesSince(logOffset).empty());
    SERVICE_STATUS_PROCESS s = {};
    ASSERT_TRUE(qebsim::ServiceQuery(kService, &s));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), s.dwCurrentState);
    ASSERT_TRUE(RaiseAndWaitIdle(0x1042, &delivered, &pended));
    const std::vector<std::string> lines = WaitTraceLines(logOffset, 1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(TraceLine(kGreenToRed), lines[0]);
}

TEST_F(SvcServiceSystem, DiskTemperatureReplacesTheHddReadingAndItsDriveIsTriedFirst) {
    ASSERT_TRUE(qebsim::SetHealth(0x00400001));
    ASSERT_TRUE(qebsim::SetReadings(kReadings));
    ASSERT_TRUE(qebsim::SetDiskTemperature(2, 40));
    ASSERT_TRUE(qebsim::SetDiskTemperature(5, 51));
    size_t logOffset = ServicesLogSize();
    uint32_t delivered = 0, pended = 0;
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    std::vector<std::string> lines = WaitTraceLines(logOffset, 1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find("  SYS=35.0 HDD=40.0 GPU=48.0\\n")) << lines[0];

    // Drive 2 now fails its SMART read: it is tried first, then the search
    // runs from drive 0 again and finds drive 5.
    QEBSIM_DISK_CONFIG failing = {};
    failing.drive = 2;
    failing.flags = QEBSIM_DISK_PRESENT | QEBSIM_DISK_FAIL_READ;
    qebsim::BuildSmartData(failing.smart_data, 40);
    ASSERT_TRUE(qebsim::SetDisk(failing));
    logOffset = ServicesLogSize();
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    // (drive, request) in the order they came: the version, enable and read
    // requests on drive 2 (read fails), the same again in the search from
    // drive 0, then drive 5.
    const uint32_t v = 0x74080, e = 0x7C084, r = 0x7C088;
    std::vector<std::pair<uint32_t, uint32_t>> requests;
    for (const QEBSIM_RECORD& rec : Between(delivered, pended, QEBSIM_REC_DISK)) requests.push_back({rec.handle_id, rec.code});
    const std::vector<std::pair<uint32_t, uint32_t>> expectedRequests = {{2, v}, {2, e}, {2, r}, {2, v}, {2, e},
                                                                         {2, r}, {5, v}, {5, e}, {5, r}};
    EXPECT_EQ(expectedRequests, requests);
    lines = WaitTraceLines(logOffset, 1);
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(" HDD=51.0 ")) << lines[0];

    // Drive 5 is now the cached one: the next report asks it alone.
    ASSERT_TRUE(RaiseAndWaitIdle(0x1005, &delivered, &pended));
    requests.clear();
    for (const QEBSIM_RECORD& rec : Between(delivered, pended, QEBSIM_REC_DISK)) requests.push_back({rec.handle_id, rec.code});
    const std::vector<std::pair<uint32_t, uint32_t>> cachedOnly = {{5, v}, {5, e}, {5, r}};
    EXPECT_EQ(cachedOnly, requests);
    ASSERT_TRUE(qebsim::RemoveDisk(2));
    ASSERT_TRUE(qebsim::RemoveDisk(5));
}

TEST_F(SvcServiceSystem, CustomControlsAreAccepted) {
    const size_t logOffset = ServicesLogSize();
    uint32_t seq = qebsim::NextSeq();
    for (DWORD control : {130u, 131u}) {
        SERVICE_STATUS s = {};
        EXPECT_TRUE(qebsim::ServiceControl(kService, control, &s)) << control << ": error " << GetLastError();
    }
    SERVICE_STATUS s = {};
    EXPECT_TRUE(qebsim::ServiceControl(kService, 132, &s)) << "132: error " << GetLastError();
    const std::vector<std::string> lines = WaitTraceLines(logOffset, 3);
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ(TraceLine(kGreenToRed), lines[0]);
    EXPECT_EQ(TraceLine(kRedToGreen), lines[1]);
    EXPECT_EQ(0u, lines[2].find(std::string(kTraceMarker) + "L\"Error code:4, STATUS=00400001\\n")) << lines[2];
    bool healthFrame = false;
    for (const QEBSIM_RECORD& r : JournalFrom(seq))
        if (r.kind == QEBSIM_REC_FRAME && r.data_len >= 12 && r.data[10] == 7) healthFrame = true;
    EXPECT_TRUE(healthFrame) << "control 132 sent no KNVS 7 request";

    // The helper launches and the power-loss thread: accepted, and the
    // service keeps running and listening.
    for (DWORD control : {128u, 129u, 133u, 4u, 200u}) {
        EXPECT_TRUE(qebsim::ServiceControl(kService, control, &s)) << control << ": error " << GetLastError();
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), s.dwCurrentState) << control;
    }
    uint32_t delivered = 0, pended = 0;
    EXPECT_TRUE(RaiseAndWaitIdle(0x1001, &delivered, &pended));
}

TEST_F(SvcServiceSystem, StopControlStopsTheServiceWithExitCodeZero) {
    HANDLE process = OpenServiceProcess();
    ASSERT_NE(nullptr, process) << GetLastError();
    // The service reports SERVICE_STOPPED from its handler and the process
    // ends as soon as the dispatcher returns; Wine's service manager may then
    // miss the handler's reply and fail ControlService with error 109. The
    // state and the exit code below are what counts.
    if (!qebsim::ServiceStop(kService)) {
        EXPECT_EQ(static_cast<DWORD>(ERROR_BROKEN_PIPE), GetLastError());
    }
    SERVICE_STATUS_PROCESS last = {};
    EXPECT_TRUE(qebsim::ServiceWaitState(kService, SERVICE_STOPPED, kWaitMs, &last))
        << "state " << qebsim::ServiceStateName(last.dwCurrentState);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kWaitMs));
    DWORD exitCode = 12345;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    EXPECT_EQ(0u, exitCode);

    // Started again it listens on a new handle.
    const uint32_t seq = qebsim::NextSeq();
    ASSERT_TRUE(qebsim::ServiceStart(kService)) << GetLastError();
    ASSERT_TRUE(qebsim::ServiceWaitState(kService, SERVICE_RUNNING, kWaitMs));
    uint32_t handleId = 0;
    ASSERT_TRUE(WaitMonitorHandle(seq, &handleId));
    EXPECT_NE(session.handleId, handleId);
    session.handleId = handleId;
    uint32_t delivered = 0, pended = 0;
    EXPECT_TRUE(RaiseAndWaitIdle(0x1002, &delivered, &pended));
}

TEST_F(SvcServiceSystem, StartedByHandWithoutServiceManagerExitsZero) {
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring commandLine = std::wstring(L"\"") + kInstalledPath + L"\"";
    const ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(CreateProcessW(kInstalledPath, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    CloseHandle(pi.hThread);
    const DWORD wait = WaitForSingleObject(pi.hProcess, 60000);
    DWORD exitCode = 12345;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    if (wait != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    ASSERT_EQ(WAIT_OBJECT_0, wait);
    EXPECT_EQ(0u, exitCode);
    printf("[ figures  ] hand-started QEBEvent.exe ended after %.1f s\n", (GetTickCount64() - start) / 1000.0);
}

// Last: stopping the driver takes the device away for good.
TEST_F(SvcServiceSystem, LosingTheDeviceEndsTheServiceWithExitCodeOne) {
    HANDLE process = OpenServiceProcess();
    ASSERT_NE(nullptr, process) << GetLastError();
    ASSERT_TRUE(qebsim::ServiceStop(QEBSIM_SERVICE_NAME)) << GetLastError();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, kWaitMs));
    DWORD exitCode = 12345;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    EXPECT_EQ(1u, exitCode);
    SERVICE_STATUS_PROCESS s = {};
    qebsim::ServiceQuery(kService, &s);
    printf("[ figures  ] service manager's view after the process ended: %s, exit code %lu\n",
           qebsim::ServiceStateName(s.dwCurrentState), static_cast<unsigned long>(s.dwWin32ExitCode));
}
