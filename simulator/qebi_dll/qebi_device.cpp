#include "qebi_device.h"

#include <string.h>

#include "qebi_frame.h"
#include "qebisim/protocol.h"

namespace qebi {

namespace {

// The library's request handle of the platform device, opened on the first
// request and kept, as a vendor library keeps its device open; reopened
// when a request finds the device gone (driver restarted).
struct RequestDevice {
    CRITICAL_SECTION lock;
    HANDLE handle = INVALID_HANDLE_VALUE;
    RequestDevice() { InitializeCriticalSection(&lock); }
    ~RequestDevice() { DeleteCriticalSection(&lock); }
};
RequestDevice g_request;

// Errors of a handle whose device went away (Wine fails requests on a handle
// of a stopped driver with ERROR_ACCESS_DENIED). The device's own answers to
// a frame (checksum, parameter, injected I/O error...) are not among them, so
// a refused request is never sent twice.
bool DeviceGone(DWORD error) {
    switch (error) {
    case ERROR_DEVICE_REMOVED:
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY:
    case ERROR_GEN_FAILURE:
        return true;
    default:
        return false;
    }
}

// One request on the kept handle; opens it when needed. Caller holds the lock.
bool RequestLocked(DWORD code, uint8_t* frame, DWORD length, DWORD* error) {
    if (g_request.handle == INVALID_HANDLE_VALUE) {
        g_request.handle = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (g_request.handle == INVALID_HANDLE_VALUE) {
            *error = GetLastError();
            return false;
        }
    }
    DWORD returned = 0;
    if (DeviceIoControl(g_request.handle, code, frame, length, frame, length, &returned, nullptr)) return true;
    *error = GetLastError();
    return false;
}

}  // namespace

void CloseRequestDevice() {
    EnterCriticalSection(&g_request.lock);
    if (g_request.handle != INVALID_HANDLE_VALUE) CloseHandle(g_request.handle);
    g_request.handle = INVALID_HANDLE_VALUE;
    LeaveCriticalSection(&g_request.lock);
}

bool SendKsmi(uint16_t function, const void* data, size_t dataLength, void* response,
              size_t responseLength) {
    // The largest frame this library sends is the thermal read (20 + 24).
    uint8_t frame[64];
    size_t length = BuildFrame(frame, sizeof(frame), function, 0, data, dataLength, responseLength);
    if (length == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return false;
    }
    DWORD error = ERROR_SUCCESS;
    EnterCriticalSection(&g_request.lock);
    bool ok = RequestLocked(QEB_IOCTL_KSMI, frame, static_cast<DWORD>(length), &error);
    if (!ok && g_request.handle != INVALID_HANDLE_VALUE && DeviceGone(error)) {
        // The handle outlived the device (driver stopped and started again):
        // one retry on a fresh handle.
        CloseHandle(g_request.handle);
        g_request.handle = INVALID_HANDLE_VALUE;
        ok = RequestLocked(QEB_IOCTL_KSMI, frame, static_cast<DWORD>(length), &error);
    }
    LeaveCriticalSection(&g_request.lock);
    if (!ok) {
        SetLastError(error != ERROR_SUCCESS ? error : ERROR_IO_INCOMPLETE);
        return false;
    }
    if (response != nullptr && responseLength != 0) {
        memcpy(response, frame + kFrameHeaderSize, responseLength);
    }
    SetLastError(ERROR_SUCCESS);
    return true;
}

HANDLE OpenEventDevice() {
    return CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

void SendNote(const wchar_t* text) {
    DWORD savedError = GetLastError();
    uint8_t buffer[4 + 2 * 160];
    uint32_t source = QEBSIM_NOTE_QEBI_DLL;
    memcpy(buffer, &source, sizeof(source));
    size_t chars = wcsnlen(text, 160);
    memcpy(buffer + 4, text, chars * sizeof(wchar_t));
    HANDLE control = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (control != INVALID_HANDLE_VALUE) {
        DWORD returned = 0;
        DeviceIoControl(control, QEBSIM_IOCTL_NOTE, buffer,
                        static_cast<DWORD>(4 + chars * sizeof(wchar_t)), nullptr, 0, &returned,
                        nullptr);
        CloseHandle(control);
    }
    SetLastError(savedError);
}

}  // namespace qebi
