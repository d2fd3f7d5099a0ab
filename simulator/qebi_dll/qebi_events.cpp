#include "qebi_events.h"

#include <stdint.h>
#include <stdio.h>

#include "qebi_device.h"
#include "short_backoff.h"
#include "qebisim/protocol.h"

namespace qebi {
namespace {

// Life of the delivery thread. Every change is made under g_lock.
enum ThreadState {
    kNone,      // no thread
    kRunning,   // waiting for events and delivering them
    kStopping,  // asked to stop (no registration left, or unloading)
    kParking,   // has seen the stop request; closing its device handle
    kParked     // signalled g_parked and waits on g_hold, in system code only
};

// How long the library waits, at FreeLibrary time, for a callback that is
// still running to return before it gives up waiting.
const DWORD kDetachWaitMs = 10000;
// Pause between attempts to reopen the device after the event wait failed.
const DWORD kReopenDelayMs = 500;
// Re-check interval of a caller waiting for a thread that may be revived.
const DWORD kStatePollMs = 50;

CRITICAL_SECTION g_lock;
bool g_ready = false;
// Test switches, read once at attach.
bool g_strict = false;
bool g_leakHandles = false;
// Strict mode: the one lock of every entry point and every callback. Taken
// before g_lock whenever both are held.
CRITICAL_SECTION g_strictLock;
CallbackTable g_table;
ThreadState g_state = kNone;
HANDLE g_thread = nullptr;
DWORD g_threadId = 0;
bool g_stop = false;      // set with g_stopEvent; cleared when revived
bool g_shutdown = false;  // the library is being released; never cleared
uint32_t g_runningId = 0; // registration whose callback runs now, 0 if none

HANDLE g_stopEvent = nullptr;    // manual reset: g_stop or g_shutdown is set
HANDLE g_parkedEvent = nullptr;  // manual reset: the thread is parked
HANDLE g_holdEvent = nullptr;    // auto reset: lets a parked thread end
HANDLE g_idleEvent = nullptr;    // manual reset: no callback running
HANDLE g_ioEvent = nullptr;      // manual reset: the event wait's OVERLAPPED

typedef BOOL(WINAPI* CancelIoExFn)(HANDLE, LPOVERLAPPED);
CancelIoExFn g_cancelIoEx = nullptr;  // bound at attach; absent before Vista

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
};

// Waits for h while dispatching messages sent to this thread from other
// threads: a callback that sends a window message to the waiting thread (a
// dialog's log, say) can then finish instead of deadlocking. Posted messages
// stay queued.
DWORD WaitDispatchingSent(HANDLE h, DWORD timeoutMs) {
    // A strict library waits without looking at messages.
    if (g_strict) return WaitForSingleObject(h, timeoutMs);
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = timeoutMs == INFINITE ? INFINITE
                     : elapsed >= timeoutMs ? 0
                                            : timeoutMs - elapsed;
        DWORD r = MsgWaitForMultipleObjectsEx(1, &h, left, QS_SENDMESSAGE, 0);
        if (r != WAIT_OBJECT_0 + 1) return r;
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Called with g_lock held: true when the thread is to stop; it then commits
// to parking.
bool StopRequestedLocked() {
    if (!g_stop && !g_shutdown) return false;
    g_state = kParking;
    return true;
}

// Strict mode: the lock of the entry points is held from picking a
// registration until its callback has returned.
struct StrictCallbackLock {
    StrictCallbackLock() {
        if (g_strict) EnterCriticalSection(&g_strictLock);
    }
    ~StrictCallbackLock() {
        if (g_strict) LeaveCriticalSection(&g_strictLock);
    }
    StrictCallbackLock(const StrictCallbackLock&) = delete;
    StrictCallbackLock& operator=(const StrictCallbackLock&) = delete;
};

void Deliver(DWORD code) {
    uint32_t upTo;
    {
        Lock lock;
        // Registrations made while this event is delivered get the next one.
        upTo = g_table.LastId();
    }
    uint32_t after = 0;
    for (;;) {
        StrictCallbackLock strict;
        Registration r;
        {
            Lock lock;
            if (g_shutdown || !g_table.Next(after, upTo, &r)) return;
            after = r.id;
            g_runningId = r.id;
            ResetEvent(g_idleEvent);
        }
        r.callback(code, r.context);
        Lock lock;
        g_runningId = 0;
        SetEvent(g_idleEvent);
    }
}

void CancelWait(HANDLE device, OVERLAPPED* ov) {
    if (g_cancelIoEx != nullptr) {
        g_cancelIoEx(device, ov);
    } else {
        CancelIo(device);  // this thread issued the wait
    }
}

// Parks the thread until a reaper lets it end. Signalling g_parked and
// starting the wait is one system call, so once g_parked is seen the thread
// runs only system code: an unload may then queue ExitThread to it as an APC
// and unmap the library.
DWORD Park() {
    {
        Lock lock;
        g_state = kParked;
    }
    for (;;) {
        DWORD r = SignalObjectAndWait(g_parkedEvent, g_holdEvent, INFINITE, TRUE);
        if (r == WAIT_IO_COMPLETION) continue;
        return 0;
    }
}

DWORD WINAPI DeliveryThread(void* param) {
    HANDLE device = static_cast<HANDLE>(param);
    OVERLAPPED ov;
    uint32_t shortRun = 0;  // short completions in a row
    for (;;) {
        {
            Lock lock;
            if (StopRequestedLocked()) break;
        }
        if (device == INVALID_HANDLE_VALUE) {
            // The device went away (simulator stopped or restarted): try again
            // later, unless told to stop meanwhile.
            if (WaitForSingleObject(g_stopEvent, kReopenDelayMs) == WAIT_OBJECT_0) continue;
            device = OpenEventDevice();
            continue;
        }
        ZeroMemory(&ov, sizeof(ov));
        ov.hEvent = g_ioEvent;
        ResetEvent(g_ioEvent);
        DWORD code = 0;
        DWORD returned = 0;
        const DWORD issued = GetTickCount();
        BOOL ok = DeviceIoControl(device, QEB_IOCTL_WAIT_EVENT, nullptr, 0, &code, sizeof(code),
                                  &returned, &ov);
        DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        if (!ok && error == ERROR_IO_PENDING) {
            HANDLE handles[2] = {g_ioEvent, g_stopEvent};
            DWORD w = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
            if (w != WAIT_OBJECT_0) CancelWait(device, &ov);
            // Always collect the request: its OVERLAPPED and output live here.
            ok = GetOverlappedResult(device, &ov, &returned, TRUE);
            error = ok ? ERROR_SUCCESS : GetLastError();
        }
        if (ok) {
            // An event that completed just as a stop came is still delivered
            // when someone is registered; Deliver checks for an unload.
            const bool whole = returned >= sizeof(code);
            if (whole) Deliver(code);
            // A device completing every wait short at once would keep this
            // thread busy; the pause ends early on a stop.
            shortRun = ShortRunAfter(shortRun, whole, issued, GetTickCount());
            const uint32_t pause = PauseAfterShortRun(shortRun);
            if (pause != 0) WaitForSingleObject(g_stopEvent, pause);
            continue;
        }
        if (error == ERROR_OPERATION_ABORTED) continue;  // cancelled by a stop
        CloseHandle(device);
        device = INVALID_HANDLE_VALUE;
    }
    if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    return Park();
}

// Lets a parked thread return and waits for its end. Runs without g_lock and
// never on the thread itself.
void Reap(HANDLE thread) {
    SetEvent(g_holdEvent);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

void Note(const wchar_t* verb, EventCallback callback, void* context) {
    wchar_t text[96];
    FormatRegistrationNote(text, sizeof(text) / sizeof(text[0]), verb,
                           reinterpret_cast<const void*>(callback), context);
    SendNote(text);
}

DWORD Fail(DWORD error) {
    if (error == ERROR_SUCCESS) error = ERROR_GEN_FAILURE;
    SetLastError(error);
    return error;
}

bool EnvSwitch(const wchar_t* name) {
    wchar_t value[8];
    DWORD n = GetEnvironmentVariableW(name, value, sizeof(value) / sizeof(value[0]));
    return n == 1 && value[0] == L'1';
}

}  // namespace

bool StrictMode() { return g_strict; }

namespace {

// Entry points running on each thread. A vendor library is not re-entrant: a
// caller that enters it again on a thread where one of its calls still runs
// (through a message that call let through) is at fault. Each such entry adds
// one to NestedEntries (DWORD) under HKLM\Software\QEBSim\QEBI, for tests.
DWORD g_depthSlot = TLS_OUT_OF_INDEXES;

void CountNestedEntry() {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\QEBSim\\QEBI", 0, nullptr, 0,
                        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;
    DWORD count = 0;
    DWORD size = sizeof(count);
    if (RegQueryValueExW(key, L"NestedEntries", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) !=
        ERROR_SUCCESS)
        count = 0;
    ++count;
    RegSetValueExW(key, L"NestedEntries", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count), sizeof(count));
    RegCloseKey(key);
}

}  // namespace

EntryPointScope::EntryPointScope() : m_locked(g_strict && g_ready) {
    if (g_depthSlot != TLS_OUT_OF_INDEXES) {
        const DWORD_PTR depth = reinterpret_cast<DWORD_PTR>(TlsGetValue(g_depthSlot));
        if (depth != 0) CountNestedEntry();
        TlsSetValue(g_depthSlot, reinterpret_cast<void*>(depth + 1));
    }
    if (m_locked) EnterCriticalSection(&g_strictLock);
    // Deliberately never closed.
    if (g_leakHandles) CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

EntryPointScope::~EntryPointScope() {
    Release();
    if (g_depthSlot != TLS_OUT_OF_INDEXES) {
        // The entry point's last error is the caller's: TlsGetValue clears it.
        const DWORD lastError = GetLastError();
        const DWORD_PTR depth = reinterpret_cast<DWORD_PTR>(TlsGetValue(g_depthSlot));
        if (depth != 0) TlsSetValue(g_depthSlot, reinterpret_cast<void*>(depth - 1));
        SetLastError(lastError);
    }
}

void EntryPointScope::Release() {
    if (!m_locked) return;
    m_locked = false;
    LeaveCriticalSection(&g_strictLock);
}

namespace {

// A process has a fixed number of TLS slots (1,088 on Windows): each load
// of the library takes one and its unload gives it back, or after about a
// thousand loads TlsAlloc fails and nested entries go uncounted.
void FreeDepthSlot() {
    if (g_depthSlot == TLS_OUT_OF_INDEXES) return;
    TlsFree(g_depthSlot);
    g_depthSlot = TLS_OUT_OF_INDEXES;
}

}  // namespace

bool EventsAttach() {
    g_depthSlot = TlsAlloc();
    g_strict = EnvSwitch(L"QEBI_STANDIN_STRICT");
    g_leakHandles = EnvSwitch(L"QEBI_STANDIN_LEAK_HANDLES");
    if (!InitializeCriticalSectionAndSpinCount(&g_strictLock, 0)) {
        FreeDepthSlot();
        return false;
    }
    if (!InitializeCriticalSectionAndSpinCount(&g_lock, 0)) {
        DeleteCriticalSection(&g_strictLock);
        FreeDepthSlot();
        return false;
    }
    g_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_parkedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_holdEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    g_idleEvent = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    g_ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!g_stopEvent || !g_parkedEvent || !g_holdEvent || !g_idleEvent || !g_ioEvent) {
        HANDLE all[] = {g_stopEvent, g_parkedEvent, g_holdEvent, g_idleEvent, g_ioEvent};
        for (HANDLE h : all) {
            if (h) CloseHandle(h);
        }
        DeleteCriticalSection(&g_lock);
        DeleteCriticalSection(&g_strictLock);
        FreeDepthSlot();
        return false;
    }
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel != nullptr) {
        g_cancelIoEx = reinterpret_cast<CancelIoExFn>(
            reinterpret_cast<void*>(GetProcAddress(kernel, "CancelIoEx")));
    }
    g_ready = true;
    return true;
}

void EventsDetach(bool processExit) {
    if (!g_ready) return;
    // At process exit every other thread has already ended, holding whatever
    // it held: touch nothing.
    if (processExit) return;
    // No entry point of this thread runs any more; a delivery thread that is
    // still in a callback (below) finds no slot and counts nothing.
    FreeDepthSlot();

    HANDLE thread;
    bool self;
    DWORD dropped;
    {
        Lock lock;
        g_shutdown = true;
        dropped = static_cast<DWORD>(g_table.Count());
        g_table.Clear();
        thread = g_thread;
        self = thread != nullptr && g_threadId == GetCurrentThreadId();
        if (thread != nullptr) SetEvent(g_stopEvent);
    }
    if (dropped != 0) {
        wchar_t text[64];
        _snwprintf_s(text, sizeof(text) / sizeof(text[0]), _TRUNCATE,
                     L"unload with %lu registrations", static_cast<unsigned long>(dropped));
        SendNote(text);
    }
    bool keepObjects = false;
    if (thread != nullptr) {
        if (self) {
            // Released from inside a callback: the caller returns into code
            // that is about to be unmapped; nothing here can save it.
            keepObjects = true;
        } else if (WaitDispatchingSent(g_parkedEvent, kDetachWaitMs) == WAIT_OBJECT_0) {
            // The thread is inside the system's wait and never returns into
            // this library: ExitThread, run as an APC by that wait, ends it
            // once the loader lock is free. Both handles of that call stay
            // open: the system may issue the signal-and-wait again after an
            // I/O completion interrupts it, and a closed handle would make it
            // fail and return into unmapped code.
            QueueUserAPC(reinterpret_cast<PAPCFUNC>(reinterpret_cast<void*>(&ExitThread)), thread, 0);
            CloseHandle(thread);
            g_parkedEvent = nullptr;
            g_holdEvent = nullptr;
        } else {
            // A callback did not return in time: the thread may still use the
            // objects below.
            keepObjects = true;
        }
    }
    if (keepObjects) return;
    HANDLE all[] = {g_stopEvent, g_parkedEvent, g_holdEvent, g_idleEvent, g_ioEvent};
    for (HANDLE h : all) {
        if (h) CloseHandle(h);
    }
    g_ready = false;
    DeleteCriticalSection(&g_lock);
    DeleteCriticalSection(&g_strictLock);
}

DWORD RegisterEventCallback(EventCallback callback, void* context) {
    EntryPointScope scope;
    if (callback == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (!g_ready) return Fail(ERROR_DLL_INIT_FAILED);
    EnterCriticalSection(&g_lock);
    DWORD error = ERROR_SUCCESS;
    for (;;) {
        if (g_shutdown) {
            error = ERROR_DLL_INIT_FAILED;
            break;
        }
        if (g_table.Contains(callback, context)) {
            error = ERROR_ALREADY_EXISTS;
            break;
        }
        if (g_table.Count() == CallbackTable::kCapacity) {
            error = ERROR_NOT_ENOUGH_MEMORY;
            break;
        }
        if (g_state == kParking) {
            // The thread is closing its handle; a new one starts after it.
            LeaveCriticalSection(&g_lock);
            WaitDispatchingSent(g_parkedEvent, kStatePollMs);
            EnterCriticalSection(&g_lock);
            continue;
        }
        if (g_state == kParked) {
            HANDLE old = g_thread;
            g_thread = nullptr;
            g_threadId = 0;
            g_state = kNone;
            LeaveCriticalSection(&g_lock);
            Reap(old);
            EnterCriticalSection(&g_lock);
            continue;
        }
        if (g_state == kStopping) {
            // Stop asked for but not yet seen by the thread: keep it.
            g_stop = false;
            ResetEvent(g_stopEvent);
            g_state = kRunning;
        } else if (g_state == kNone) {
            // First registration: the device must be there, and its open's
            // error is the caller's answer when it is not.
            HANDLE device = OpenEventDevice();
            if (device == INVALID_HANDLE_VALUE) {
                error = GetLastError();
                break;
            }
            g_stop = false;
            ResetEvent(g_stopEvent);
            ResetEvent(g_parkedEvent);
            DWORD id = 0;
            HANDLE thread = CreateThread(nullptr, 0, DeliveryThread, device, 0, &id);
            if (thread == nullptr) {
                error = GetLastError();
                CloseHandle(device);
                break;
            }
            g_thread = thread;
            g_threadId = id;
            g_state = kRunning;
        }
        g_table.Add(callback, context, nullptr);
        break;
    }
    LeaveCriticalSection(&g_lock);
    if (error != ERROR_SUCCESS) return Fail(error);
    Note(L"register", callback, context);
    SetLastError(ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

DWORD UnregisterEventCallback(EventCallback callback, void* context) {
    // Strict mode: holding the entry points' lock means no callback runs now
    // (or only the caller's own, on the delivery thread).
    EntryPointScope scope;
    if (!g_ready) return Fail(ERROR_DLL_INIT_FAILED);
    EnterCriticalSection(&g_lock);
    uint32_t id = 0;
    if (!g_table.Remove(callback, context, &id)) {
        LeaveCriticalSection(&g_lock);
        return Fail(ERROR_NOT_FOUND);
    }
    bool self = g_thread != nullptr && g_threadId == GetCurrentThreadId();
    if (g_table.Count() == 0 && g_state == kRunning) {
        g_stop = true;
        SetEvent(g_stopEvent);
        g_state = kStopping;
    }
    HANDLE reap = nullptr;
    if (!self) {
        // The callback may be running right now: wait until it has returned.
        while (g_runningId == id) {
            LeaveCriticalSection(&g_lock);
            WaitDispatchingSent(g_idleEvent, INFINITE);
            EnterCriticalSection(&g_lock);
        }
        // With the last registration gone, see the thread out before
        // returning, so that it holds no handle of the device afterwards.
        // An event the thread already has waits for the entry points' lock
        // in strict mode (and then finds no registration): let it go first.
        LeaveCriticalSection(&g_lock);
        scope.Release();
        EnterCriticalSection(&g_lock);
        for (;;) {
            if (g_table.Count() != 0) break;
            if (g_state == kStopping || g_state == kParking) {
                LeaveCriticalSection(&g_lock);
                WaitDispatchingSent(g_parkedEvent, kStatePollMs);
                EnterCriticalSection(&g_lock);
                continue;
            }
            if (g_state == kParked) {
                reap = g_thread;
                g_thread = nullptr;
                g_threadId = 0;
                g_state = kNone;
            }
            break;
        }
    }
    // On the delivery thread itself the thread parks once the callback has
    // returned; the next registration or the unload ends it.
    LeaveCriticalSection(&g_lock);
    if (reap != nullptr) Reap(reap);
    Note(L"unregister", callback, context);
    SetLastError(ERROR_SUCCESS);
    return ERROR_SUCCESS;
}

}  // namespace qebi
