// QEBEvent: the event monitor. Holds the platform device open for the life of
// the service, waits for one firmware event at a time and dispatches it on
// this thread. Losing the device ends the whole process.
#include "platform_frame.h"
#include "qebevent.h"
#include "service_dispatch.h"
#include "service_seams.h"

namespace {

const wchar_t kPlatformDevicePath[] = L"\\\\.\\QEBI";

}  // namespace

DeviceIoFunctions MonitorIo = {CreateFileW, DeviceIoControl, CloseHandle};

// Issues one event wait and blocks until the driver completes it. The handle
// is opened for overlapped use, so the request carries an OVERLAPPED with its
// own event and the result is collected with GetOverlappedResult.
//
// The buffer is reused for every wait and not cleared between waits. Only a
// completion that carries all four bytes is an event: a device may complete a
// request short, and the buffer then still holds (part of) the previous code,
// whose action must not run a second time.
MonitorWaitResult MonitorOnce(HANDLE device, HANDLE completion, BYTE (&buffer)[4]) {
    OVERLAPPED overlapped = {};
    overlapped.hEvent = completion;
    DWORD bytesReturned = 0;
    if (!MonitorIo.deviceIoControl(device, kPlatformCodeWaitEvent, nullptr, 0, buffer, sizeof(buffer),
                                   &bytesReturned, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return MonitorWaitFailed;
        if (!GetOverlappedResult(device, &overlapped, &bytesReturned, TRUE)) return MonitorWaitFailed;
    }
    if (bytesReturned != sizeof(buffer)) return MonitorCompletionIgnored;
    const DWORD code = static_cast<DWORD>(buffer[0]) | (static_cast<DWORD>(buffer[1]) << 8) |
                       (static_cast<DWORD>(buffer[2]) << 16) | (static_cast<DWORD>(buffer[3]) << 24);
    DispatchFirmwareEvent(code);
    return MonitorEventDispatched;
}

// A device that completes every wait short at once (some do around power
// transitions) would keep this thread issuing waits at full speed. One or two
// short completions are answered with a new wait at once; a longer run backs
// off, doubling from 1 ms up to a bound that keeps a whole event after the
// run from waiting more than about a tenth of a second.
DWORD MonitorPauseAfterShort(DWORD consecutiveShort) {
    const DWORD kFreeShortCompletions = 2;
    if (consecutiveShort <= kFreeShortCompletions) return 0;
    const DWORD doublings = consecutiveShort - kFreeShortCompletions - 1;
    // The shift is only taken while it stays below the bound (and the width).
    if (doublings < 31 && (1u << doublings) < kMonitorLongestPauseMs) return 1u << doublings;
    return kMonitorLongestPauseMs;
}

// A run is what a device completing waits short at once produces. A short
// completion of a wait that was outstanding for kMonitorQuietWaitMs or more
// is no part of one: it starts a new run, so that a few short completions
// spread over hours do not make every later one pay the longest pause. The
// ticks are GetTickCount values; their difference is right across the
// counter's wrap-around.
DWORD MonitorShortRunAfter(DWORD shortRun, MonitorWaitResult result, DWORD issuedTick, DWORD completedTick) {
    if (result != MonitorCompletionIgnored) return 0;
    if (completedTick - issuedTick >= kMonitorQuietWaitMs) return 1;
    return shortRun != MAXDWORD ? shortRun + 1 : shortRun;
}

void DispatchFirmwareEvent(DWORD code) { RunServiceAction(FirmwareEventAction(code)); }

DWORD WINAPI EventMonitorThread(LPVOID) {
    HANDLE device = MonitorIo.createFile(kPlatformDevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                         OPEN_EXISTING, FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) ExitProcess(1);
    // Manual-reset, as GetOverlappedResult expects; DeviceIoControl resets it
    // when each request is issued.
    HANDLE completion = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (completion == nullptr) ExitProcess(1);

    BYTE buffer[4] = {};
    DWORD shortRun = 0;  // short completions in a row
    for (;;) {
        const DWORD issued = GetTickCount();
        const MonitorWaitResult result = MonitorOnce(device, completion, buffer);
        if (result == MonitorWaitFailed) ExitProcess(1);
        shortRun = MonitorShortRunAfter(shortRun, result, issued, GetTickCount());
        const DWORD pause = MonitorPauseAfterShort(shortRun);
        if (pause != 0) Sleep(pause);
    }
}
