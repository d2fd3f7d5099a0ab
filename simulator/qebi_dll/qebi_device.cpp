#include "qebi_device.h"

#include <string.h>

#include "qebi_frame.h"
#include "qebisim/protocol.h"

namespace qebi {

bool SendKsmi(uint16_t function, const void* data, size_t dataLength, void* response,
              size_t responseLength) {
    // The largest frame this library sends is the thermal read (20 + 24).
    uint8_t frame[64];
    size_t length = BuildFrame(frame, sizeof(frame), function, 0, data, dataLength, responseLength);
    if (length == 0) {
        SetLastError(ERROR_BAD_ARGUMENTS);
        return false;
    }
    HANDLE device = CreateFileW(QEBSIM_DEVICE_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(device, QEB_IOCTL_KSMI, frame, static_cast<DWORD>(length), frame,
                              static_cast<DWORD>(length), &returned, nullptr);
    DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(device);
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
