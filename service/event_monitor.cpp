// QEBEvent: the event monitor. Holds the platform device open for the life of
// the service, waits for one firmware event at a time and dispatches it on
// this thread. Losing the device ends the whole process.
#include "platform_frame.h"
#include "qebevent.h"
#include "service_dispatch.h"

namespace {

const wchar_t kPlatformDevicePath[] = L"\\\\.\\QEBI";

// Issues one event wait and blocks until the driver completes it. The handle
// is opened for overlapped use, so the request carries an OVERLAPPED with its
// own event and the result is collected with GetOverlappedResult.
bool WaitForFirmwareEvent(HANDLE device, HANDLE completion, BYTE (&buffer)[4]) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = completion;
    DWORD bytesReturned = 0;
    if (DeviceIoControl(device, kPlatformCodeWaitEvent, nullptr, 0, buffer, sizeof(buffer),
                        &bytesReturned, &overlapped)) {
        return true;
    }
    if (GetLastError() != ERROR_IO_PENDING) return false;
    return GetOverlappedResult(device, &overlapped, &bytesReturned, TRUE) != FALSE;
}

}  // namespace

void DispatchFirmwareEvent(DWORD code) { RunServiceAction(FirmwareEventAction(code)); }

DWORD WINAPI EventMonitorThread(LPVOID) {
    HANDLE device = CreateFileW(kPlatformDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (device == INVALID_HANDLE_VALUE) ExitProcess(1);
    // Manual-reset, as GetOverlappedResult expects; DeviceIoControl resets it
    // when each request is issued.
    HANDLE completion = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (completion == nullptr) ExitProcess(1);

    // Reused for every wait and not cleared between waits; the byte count is
    // not examined.
    BYTE buffer[4] = {};
    for (;;) {
        if (!WaitForFirmwareEvent(device, completion, buffer)) ExitProcess(1);
        const DWORD code = static_cast<DWORD>(buffer[0]) | (static_cast<DWORD>(buffer[1]) << 8) |
                           (static_cast<DWORD>(buffer[2]) << 16) |
                           (static_cast<DWORD>(buffer[3]) << 24);
        DispatchFirmwareEvent(code);
    }
}
