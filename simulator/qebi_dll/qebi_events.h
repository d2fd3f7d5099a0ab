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
// Reads the test switches QEBI_STANDIN_STRICT and QEBI_STANDIN_LEAK_HANDLES
// ("1" turns each on) from the environment, once.
bool EventsAttach();
// DLL_PROCESS_DETACH. processExit is true when the process is ending (every
// other thread is already gone), false for FreeLibrary.
void EventsDetach(bool processExit);

// 0 on success; otherwise a Win32 error code, also set as the last error.
// Both run inside their own EntryPointScope.
DWORD RegisterEventCallback(EventCallback callback, void* context);
DWORD UnregisterEventCallback(EventCallback callback, void* context);

// Strict mode (QEBI_STANDIN_STRICT=1) makes the library behave like a vendor
// library that serialises everything on one lock: every entry point holds it
// for its whole call, the delivery thread holds it while a callback runs, and
// QEB_UnregisterEventCallback therefore waits for a running callback without
// dispatching any message. The lock is recursive, so a callback may call
// entry points on the delivery thread; a callback that waits for another
// thread which is itself inside an entry point deadlocks, as it would with
// such a library. Without strict mode the guarantees above hold.
bool StrictMode();

// Held by every entry point for its whole call. Takes the strict lock in
// strict mode, and leaks one event handle in leak mode
// (QEBI_STANDIN_LEAK_HANDLES=1, for soak tests that watch the handle count).
class EntryPointScope {
public:
    EntryPointScope();
    ~EntryPointScope();
    // Leaves the strict lock before the end of the scope (at most once).
    void Release();
    EntryPointScope(const EntryPointScope&) = delete;
    EntryPointScope& operator=(const EntryPointScope&) = delete;

private:
    bool m_locked;
};

}  // namespace qebi
