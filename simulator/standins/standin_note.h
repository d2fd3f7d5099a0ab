/*
 * Stand-in system libraries of the simulated platform: each call is recorded
 * with its arguments in the simulator's journal (a NOTE on the control
 * device) and nothing else happens. Without the simulator the note is lost
 * silently.
 */
#ifndef QEBSIM_STANDIN_NOTE_H
#define QEBSIM_STANDIN_NOTE_H

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "qebisim/protocol.h"

static void StandinNote(uint32_t source, const wchar_t* text) {
    BYTE request[4 + 128 * sizeof(wchar_t)];
    size_t chars = wcslen(text);
    if (chars > 128) chars = 128;
    memcpy(request, &source, 4);
    memcpy(request + 4, text, chars * sizeof(wchar_t));
    HANDLE control = CreateFileW(QEBSIM_CONTROL_PATH, GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
    if (control == INVALID_HANDLE_VALUE) return;
    DWORD returned = 0;
    DeviceIoControl(control, QEBSIM_IOCTL_NOTE, request, (DWORD)(4 + chars * sizeof(wchar_t)), NULL, 0,
                    &returned, NULL);
    CloseHandle(control);
}

#endif
