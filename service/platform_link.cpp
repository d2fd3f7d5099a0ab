// QEBEvent: one framed request to the platform device.
#include <string.h>

#include "platform_frame.h"
#include "qebevent.h"
#include "service_seams.h"

DeviceIoFunctions PlatformIo = {CreateFileW, DeviceIoControl, CloseHandle};

namespace {
const wchar_t kPlatformDevicePath[] = L"\\\\.\\QEBI";
}

BOOL SendPlatformRequest(DWORD kind, WORD function, WORD parameter, void* response,
                         int responseLength, const void* requestData, int requestLength) {
    const DWORD code = PlatformRequestCode(kind);
    if (code == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    // Both lengths must fit the 16-bit frame length; anything else is refused
    // before a byte is sent.
    const DWORD frameLength = PlatformFrameLength(responseLength, requestLength);
    if (frameLength == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return FALSE;
    }
    BYTE* frame = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, frameLength));
    if (frame == nullptr) {
        SetLastError(ERROR_OUTOFMEMORY);
        return FALSE;
    }
    BuildPlatformFrame(frame, frameLength, function, parameter, requestData, requestLength);

    HANDLE device = PlatformIo.createFile(kPlatformDevicePath, GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) {
        const DWORD openError = GetLastError();
        HeapFree(GetProcessHeap(), 0, frame);
        SetLastError(openError);
        return FALSE;
    }
    DWORD bytesReturned = 0;
    // The reply overwrites the frame in place.
    const BOOL ok = PlatformIo.deviceIoControl(device, code, frame, frameLength, frame,
                                               frameLength, &bytesReturned, nullptr);
    // Copied whether or not the request succeeded; callers discard the bytes
    // after a failure.
    if (response != nullptr && responseLength > 0) {
        memcpy(response, frame + kFrameOffsetPayload, static_cast<size_t>(responseLength));
    }
    PlatformIo.closeHandle(device);
    HeapFree(GetProcessHeap(), 0, frame);
    SetLastError(ok ? ERROR_SUCCESS : ERROR_IO_INCOMPLETE);
    return ok ? TRUE : FALSE;
}
