// The platform feature library "QEBI.dll": entry-point types.
// Every entry point uses the standard calling convention (the callee removes
// its arguments) and is exported under its plain name.
#pragma once
#include <windows.h>

// Firmware event callback: event code, the context given at registration.
typedef void(WINAPI* QEB_EVENT_CALLBACK)(DWORD code, void* context);

typedef LONG(WINAPI* QEB_GET_STATUS)(void);                 // queries
typedef LONG(WINAPI* QEB_SET_VALUE)(LONG value);            // setters
typedef LONG(WINAPI* QEB_GET_THERMAL)(WORD* buffer, LONG count);  // count in entries
typedef LONG(WINAPI* QEB_BRIGHTNESS_CHANGED)(void);
typedef LONG(WINAPI* QEB_REGISTER_CALLBACK)(QEB_EVENT_CALLBACK callback, void* context);
typedef LONG(WINAPI* QEB_UNREGISTER_CALLBACK)(QEB_EVENT_CALLBACK callback, void* context);
