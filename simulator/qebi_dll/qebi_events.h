// Firmware event delivery of the stand-in library.
//
// One delivery thread of the library's own, started with the first
// registration, waits on its own overlapped handle of the platform device and
// calls every registered callback, in registration order, once per event.
// Guarantees:
//   - no lock of the library is held while a callback runs;
//   - when UnregisterEventCallback returns, that callback is not running and
//     never runs again (called from inside a callback on the delivery thread,
//     it returns at once: the only callback then running is the caller);
//   - once the library is released with FreeLibrary, no callback runs and the
//     delivery thread executes none of the library's code.
#pragma once
#include <windows.h>

#include "callback_table.h"

namespace qebi {

// DLL_PROCESS_ATTACH: false when the synchronisation objects cannot be made.
bool EventsAttach();
// DLL_PROCESS_DETACH. processExit is true when the process is ending (every
// other thread is already gone), false for FreeLibrary.
void EventsDetach(bool processExit);

// 0 on success; otherwise a Win32 error code, also set as the last error.
DWORD RegisterEventCallback(EventCallback callback, void* context);
DWORD UnregisterEventCallback(EventCallback callback, void* context);

}  // namespace qebi
