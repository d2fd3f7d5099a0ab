#include "fakes.h"

#include <stdio.h>
#include <string.h>

#include "qebevent.h"

FakePlatform* fakePlatform = nullptr;
FakeDisks* fakeDisks = nullptr;
FakeEventLog* fakeEventLog = nullptr;
FakeActions* fakeActions = nullptr;

namespace {

HANDLE const kPlatformHandle = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x5001));
const UINT_PTR kDriveHandleBase = 0x6000;
HANDLE const kEventSource = reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(0x7001));

// ---- platform ----
HANDLE WINAPI PlatformOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                           DWORD flags, HANDLE) {
    FakePlatform& p = *fakePlatform;
    ++p.opens;
    p.openedPath = path;
    p.openAccess = access;
    p.openShare = share;
    p.openDisposition = disposition;
    p.openFlags = flags;
    if (p.openError != 0) {
        SetLastError(p.openError);
        return INVALID_HANDLE_VALUE;
    }
    return kPlatformHandle;
}

BOOL WINAPI PlatformIoctl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                          LPDWORD returned, LPOVERLAPPED) {
    FakePlatform& p = *fakePlatform;
    if (handle != kPlatformHandle) return FALSE;
    p.code = code;
    p.inSize = inSize;
    p.outSize = outSize;
    p.sameBuffer = in == out;
    p.sentFrame.assign(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inSize);
    for (size_t i = 0; i < p.replyPayload.size() && 20 + i < outSize; ++i) {
        static_cast<BYTE*>(out)[20 + i] = p.replyPayload[i];
    }
    if (returned) *returned = outSize;
    SetLastError(p.requestResult ? 0 : ERROR_GEN_FAILURE);
    return p.requestResult;
}

BOOL WINAPI PlatformClose(HANDLE handle) {
    if (handle == kPlatformHandle) ++fakePlatform->closes;
    return TRUE;
}

// ---- disks ----
HANDLE WINAPI DiskOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD disposition,
                       DWORD flags, HANDLE) {
    FakeDisks& d = *fakeDisks;
    const std::wstring prefix = L"\\\\.\\PHYSICALDRIVE";
    std::wstring p = path;
    if (p.size() != prefix.size() + 1 || p.compare(0, prefix.size(), prefix) != 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const int drive = p.back() - L'0';
    d.opens.push_back(drive);
    d.openAccess = access;
    d.openShare = share;
    d.openDisposition = disposition;
    d.openFlags = flags;
    if (d.drives.count(drive) == 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(kDriveHandleBase + drive);
}

BOOL WINAPI DiskIoctl(HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                      LPDWORD returned, LPOVERLAPPED) {
    FakeDisks& d = *fakeDisks;
    const int drive = static_cast<int>(reinterpret_cast<UINT_PTR>(handle) - kDriveHandleBase);
    DiskRequest request{drive, code, inSize, outSize, {}};
    if (in != nullptr) request.input.assign(static_cast<BYTE*>(in), static_cast<BYTE*>(in) + inSize);
    d.requests.push_back(request);
    auto it = d.drives.find(drive);
    if (it == d.drives.end()) return FALSE;
    const FakeDrive& fd = it->second;
    switch (code) {
    case SMART_GET_VERSION:
        if (fd.failVersion) return FALSE;
        memset(out, 0, outSize);
        static_cast<BYTE*>(out)[0] = 1;  // bVersion
        break;
    case SMART_SEND_DRIVE_COMMAND:
        if (fd.failEnable) return FALSE;
        memset(out, 0, outSize);
        break;
    case SMART_RCV_DRIVE_DATA:
        if (fd.failRead) return FALSE;
        memset(out, 0, outSize);
        if (outSize >= 16 + 512) memcpy(static_cast<BYTE*>(out) + 16, fd.sector.data(), 512);
        break;
    default:
        return FALSE;
    }
    if (returned) *returned = outSize;
    return TRUE;
}

BOOL WINAPI DiskClose(HANDLE) {
    ++fakeDisks->closes;
    return TRUE;
}

// ---- event log ----
HANDLE WINAPI LogRegister(LPCWSTR server, LPCWSTR source) {
    FakeEventLog& e = *fakeEventLog;
    ++e.registers;
    e.server = server ? server : L"(null)";
    e.sourceName = source ? source : L"(null)";
    return e.refuseSource ? nullptr : kEventSource;
}

BOOL WINAPI LogReport(HANDLE source, WORD type, WORD category, DWORD id, PSID sid, WORD count, DWORD rawSize,
                      LPCWSTR* strings, LPVOID raw) {
    LoggedEvent ev{source, type, category, id, sid, {}, {}};
    for (WORD i = 0; i < count; ++i) ev.strings.push_back(strings[i]);
    if (raw != nullptr) ev.rawData.assign(static_cast<BYTE*>(raw), static_cast<BYTE*>(raw) + rawSize);
    else if (rawSize != 0) ev.rawData.assign(rawSize, 0xEE);  // size without data: marked
    fakeEventLog->events.push_back(ev);
    return TRUE;
}

BOOL WINAPI LogDeregister(HANDLE) {
    ++fakeEventLog->deregisters;
    return TRUE;
}

// ---- actions ----
std::string HandleText(HANDLE* h) { return h ? "ptr" : "null"; }

BOOL ActLaunch(int mode, HANDLE* process, HANDLE* thread) {
    fakeActions->calls.push_back("launch " + std::to_string(mode) + " " + HandleText(process) + " " +
                                 HandleText(thread));
    return TRUE;
}
void ActHealthChange(DWORD code) {
    char text[32];
    snprintf(text, sizeof(text), "healthChange 0x%lX", static_cast<unsigned long>(code));
    fakeActions->calls.push_back(text);
}
void ActHealthDetails() { fakeActions->calls.push_back("healthDetails"); }
void ActCad() { fakeActions->calls.push_back("ctrlAltDel"); }
void ActCheckHibernation() { fakeActions->calls.push_back("checkPendingHibernation"); }
HANDLE WINAPI ActCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                              LPVOID argument, DWORD flags, LPDWORD) {
    std::string name = start == PowerLossThread      ? "PowerLossThread"
                       : start == EventMonitorThread ? "EventMonitorThread"
                                                     : "other";
    std::string call = "createThread " + name;
    if (attributes != nullptr || stack != 0 || argument != nullptr || flags != 0) call += " (non-default)";
    fakeActions->calls.push_back(call);
    return nullptr;
}
BOOL WINAPI ActSetStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
    fakeActions->calls.push_back("report " + std::to_string(status->dwCurrentState));
    fakeActions->reports.push_back(*status);
    fakeActions->reportHandles.push_back(handle);
    return TRUE;
}

}  // namespace

std::array<BYTE, 512> SmartSector(const std::vector<std::pair<BYTE, BYTE>>& entries) {
    std::array<BYTE, 512> sector{};
    sector[0] = 0x10;  // revision
    for (size_t i = 0; i < entries.size() && i < 30; ++i) {
        BYTE* entry = sector.data() + 2 + i * 12;
        entry[0] = entries[i].first;
        entry[3] = 100;  // current value: not to be taken for the raw value
        entry[4] = 100;  // worst value
        entry[5] = entries[i].second;
        entry[6] = 0x77;  // higher raw bytes: ignored
    }
    return sector;
}

std::vector<BYTE> HealthResponse(DWORD status, const std::array<BYTE, 20>& readings) {
    std::vector<BYTE> r;
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<BYTE>(status >> (8 * i)));
    for (BYTE b : readings) r.push_back(b);
    return r;
}

SeamScope::SeamScope()
    : savedPlatform_(PlatformIo),
      savedDisk_(DiskIo),
      savedEventLog_(EventLog),
      savedActions_(ServiceActions),
      savedCache_(CachedDiskIndex) {
    fakePlatform = &platform;
    fakeDisks = &disks;
    fakeEventLog = &eventLog;
    fakeActions = &actions;
    PlatformIo = {PlatformOpen, PlatformIoctl, PlatformClose};
    DiskIo = {DiskOpen, DiskIoctl, DiskClose};
    EventLog = {LogRegister, LogReport, LogDeregister};
    ServiceActions = {ActLaunch, ActHealthChange, ActHealthDetails,   ActCad,
                      ActCheckHibernation, ActCreateThread, ActSetStatus};
    CachedDiskIndex = -1;
}

SeamScope::~SeamScope() {
    PlatformIo = savedPlatform_;
    DiskIo = savedDisk_;
    EventLog = savedEventLog_;
    ServiceActions = savedActions_;
    CachedDiskIndex = savedCache_;
    fakePlatform = nullptr;
    fakeDisks = nullptr;
    fakeEventLog = nullptr;
    fakeActions = nullptr;
}
