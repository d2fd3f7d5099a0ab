// Stand-ins for the system functions behind the service's seams: each records
// what the service asked for, so tests observe actions instead of running
// them.
#pragma once
#include <windows.h>

#include <array>
#include <map>
#include <string>
#include <vector>

#include "service_seams.h"

// ---- platform device --------------------------------------------------------
struct FakePlatform {
    int opens = 0;
    int closes = 0;
    std::wstring openedPath;
    DWORD openAccess = 0, openShare = 0, openDisposition = 0, openFlags = 0;
    DWORD openError = 0;        // nonzero: the open fails with this error
    BOOL requestResult = TRUE;  // result of DeviceIoControl
    DWORD code = 0;
    DWORD inSize = 0, outSize = 0;
    bool sameBuffer = false;
    std::vector<BYTE> sentFrame;
    std::vector<BYTE> replyPayload;  // written from offset 20 of the frame
};
extern FakePlatform* fakePlatform;

// ---- physical drives --------------------------------------------------------
struct FakeDrive {
    bool failVersion = false, failEnable = false, failRead = false;
    std::array<BYTE, 512> sector{};  // SMART READ DATA sector
};
struct DiskRequest {
    int drive;
    DWORD code;
    DWORD inSize, outSize;
    std::vector<BYTE> input;
};
struct FakeDisks {
    std::map<int, FakeDrive> drives;
    std::vector<int> opens;  // drive numbers in the order of the open attempts
    std::vector<DiskRequest> requests;
    int closes = 0;
    DWORD openAccess = 0, openShare = 0, openDisposition = 0, openFlags = 0;
};
extern FakeDisks* fakeDisks;
// Sector whose attribute table has the given (id, raw lowest byte) entries.
std::array<BYTE, 512> SmartSector(const std::vector<std::pair<BYTE, BYTE>>& entries);

// ---- event log --------------------------------------------------------------
struct LoggedEvent {
    HANDLE source;
    WORD type, category;
    DWORD id;
    PSID sid;
    std::vector<std::wstring> strings;
    std::vector<BYTE> rawData;
};
struct FakeEventLog {
    bool refuseSource = false;
    int registers = 0, deregisters = 0;
    std::wstring server = L"(unset)";
    std::wstring sourceName;
    std::vector<LoggedEvent> events;
};
extern FakeEventLog* fakeEventLog;

// ---- service actions ---------------------------------------------------------
struct FakeActions {
    std::vector<std::string> calls;  // e.g. "launch 3 null null", "healthChange 0x1042"
    std::vector<SERVICE_STATUS> reports;
    std::vector<SERVICE_STATUS_HANDLE> reportHandles;
};
extern FakeActions* fakeActions;

// Puts the stand-ins into every table for the life of the object and
// restores the real functions afterwards.
class SeamScope {
public:
    SeamScope();
    ~SeamScope();
    FakePlatform platform;
    FakeDisks disks;
    FakeEventLog eventLog;
    FakeActions actions;

private:
    DeviceIoFunctions savedPlatform_, savedDisk_;
    EventLogFunctions savedEventLog_;
    ServiceActionFunctions savedActions_;
    LONG savedCache_;
};

// 24-byte KNVS function 7 response.
std::vector<BYTE> HealthResponse(DWORD status, const std::array<BYTE, 20>& readings);
