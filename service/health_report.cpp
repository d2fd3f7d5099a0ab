// QEBEvent: health entries in the event log, the firmware's health data and
// the hard disk's own temperature read by SMART.
#include <string.h>

#include "health_core.h"
#include "qebevent.h"
#include "service_seams.h"

volatile LONG CachedDiskIndex = -1;

EventLogFunctions EventLog = {RegisterEventSourceW, ReportEventW, DeregisterEventSource};
DeviceIoFunctions DiskIo = {CreateFileW, DeviceIoControl, CloseHandle};

void WriteServiceEvent(WORD type, DWORD id, const wchar_t* text) {
    // The text is taken as it stands (never as a format) and two line feeds
    // are appended.
    wchar_t message[kServiceEventTextChars];
    FormatServiceEventText(text, message, kServiceEventTextChars);
    HANDLE source = EventLog.registerEventSource(nullptr, kEventSourceName);
    if (source == nullptr) return;
    LPCWSTR strings[1] = {message};
    EventLog.reportEvent(source, type, kHealthEventCategory, id, nullptr, 1, 0, strings, nullptr);
    EventLog.deregisterEventSource(source);
}

void ReportHealthChange(DWORD code) {
    const wchar_t* text = HealthChangeText(code);
    if (text != nullptr) WriteServiceEvent(EVENTLOG_INFORMATION_TYPE, kHealthEventId, text);
}

void ReportHealthDetails() {
    BYTE readings[kHealthReadingsSize] = {};
    const DWORD status = ReadHealthStatus(readings, kHealthReadingsSize / 2);
    if (status & 0x80000000u) return;  // no valid status: nothing is written
    HANDLE source = EventLog.registerEventSource(nullptr, kEventSourceName);
    wchar_t text[kHealthTextChars];
    FormatHealthDetails(status, readings, text, kHealthTextChars);
    if (source == nullptr) return;
    LPCWSTR strings[1] = {text};
    EventLog.reportEvent(source, EVENTLOG_INFORMATION_TYPE, kHealthEventCategory, kHealthEventId,
                         nullptr, 1, sizeof(readings), strings, readings);
    EventLog.deregisterEventSource(source);
}

DWORD ReadHealthStatus(void* readings, int count) {
    BYTE response[kHealthResponseSize];
    if (!SendPlatformRequest(PlatformKnvs, 7, 0, response, sizeof(response), nullptr, 0)) {
        return 0x80000000u;
    }
    if (readings != nullptr) {
        // The disk's own temperature replaces the firmware's HDD pair when a
        // drive reports one.
        ReadDiskTemperature(response + 4 + kHddReadingOffset);
        size_t bytes = 0;
        if (count > 0) {
            bytes = static_cast<size_t>(count) * 2;
            if (bytes > kHealthReadingsSize) bytes = kHealthReadingsSize;
        }
        memcpy(readings, response + 4, bytes);
    }
    return static_cast<DWORD>(response[0]) | (static_cast<DWORD>(response[1]) << 8) |
           (static_cast<DWORD>(response[2]) << 16) | (static_cast<DWORD>(response[3]) << 24);
}

namespace {

// Opens drive n, runs the SMART read on it and closes it again.
bool TryDrive(int drive, BYTE* destination) {
    wchar_t path[kDrivePathChars];
    SmartDrivePath(drive, path);
    HANDLE handle = DiskIo.createFile(path, GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_SYSTEM, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool found = ReadSmartTemperature(handle, drive, destination) != FALSE;
    DiskIo.closeHandle(handle);
    return found;
}

}  // namespace

BOOL ReadDiskTemperature(BYTE* destination) {
    const LONG cached = CachedDiskIndex;
    int order[kDriveCount + 1];
    const int count = DriveSearchOrder(cached, order);
    for (int i = 0; i < count; ++i) {
        if (!TryDrive(order[i], destination)) continue;
        // A hit on the cached drive (the first try) leaves the cache as it is.
        if (!(i == 0 && order[0] == cached)) InterlockedExchange(&CachedDiskIndex, order[i]);
        return TRUE;
    }
    return FALSE;
}

BOOL ReadSmartTemperature(HANDLE drive, int driveNumber, BYTE* destination) {
    DWORD bytesReturned = 0;

    GETVERSIONINPARAMS version;
    memset(&version, 0, sizeof(version));
    if (!DiskIo.deviceIoControl(drive, SMART_GET_VERSION, nullptr, 0, &version, sizeof(version),
                                &bytesReturned, nullptr)) {
        return FALSE;
    }

    SENDCMDINPARAMS command;
    BuildSmartCommand(&command, static_cast<BYTE>(driveNumber), kSmartFeatureEnable, 0);
    BYTE enableOut[kSmartEnableOutSize] = {};
    if (!DiskIo.deviceIoControl(drive, SMART_SEND_DRIVE_COMMAND, &command, sizeof(command),
                                enableOut, sizeof(enableOut), &bytesReturned, nullptr)) {
        return FALSE;
    }

    BuildSmartCommand(&command, static_cast<BYTE>(driveNumber), kSmartFeatureReadData,
                      kSmartSectorSize);
    BYTE dataOut[kSmartReadOutSize] = {};
    if (!DiskIo.deviceIoControl(drive, SMART_RCV_DRIVE_DATA, &command, sizeof(command), dataOut,
                                sizeof(dataOut), &bytesReturned, nullptr)) {
        return FALSE;
    }
    return ParseSmartTemperature(dataOut, sizeof(dataOut), destination) ? TRUE : FALSE;
}
