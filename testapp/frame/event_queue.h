// Firmware events on their way from the library's thread to the dialog's
// thread, each with the local time it arrived at. The library's callback only
// appends an event and, when no drain is
// pending yet, posts one message to the dialog; the dialog takes the codes
// in bounded batches on its own thread. One message per burst rather than per
// event: a thread's posted-message queue is limited (10,000 messages) and
// events beyond it would be lost.
//
// Thread-safe; never throws and never blocks on anything but its own short
// lock, so it is safe to call from inside a library callback.
#pragma once
#include <windows.h>
#include <stddef.h>

namespace tovrel {

struct QueuedEvent {
    DWORD code;
    SYSTEMTIME arrived;  // local time the library handed the event over
    DWORD droppedAfter;  // events dropped right after this one (queue full)
};

// Most events the queue holds (as many as the platform driver keeps for one
// handle). While it is full, or cannot grow for want of memory, a new event
// is dropped and counted on the newest queued one, so that the log can say
// where and how many went missing.
const size_t kMostQueuedEvents = 4096;
// Events held without any allocation; beyond them the queue grows on the
// heap up to kMostQueuedEvents.
const size_t kInitialQueuedEvents = 64;

class EventQueue {
public:
    // allocate: where the queue gets the memory to grow (malloc; a test
    // gives one that fails).
    typedef void* (*Allocate)(size_t bytes);
    explicit EventQueue(Allocate allocate = nullptr);
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Appends the event. Returns true when the caller has to post the drain
    // message: no drain was pending until now. False when a drain is already
    // pending, and when the queue is closed, full or out of memory (event
    // dropped; a full queue, or one that cannot grow, counts it on its newest
    // event).
    bool Push(DWORD code, const SYSTEMTIME& arrived);

    // The drain message asked for by Push could not be posted: the next Push
    // asks again.
    void PostFailed();

    // True when codes wait with no drain pending (their message could not be
    // posted); the drain is then pending for the caller, who runs it.
    bool ClaimStalled();

    // Moves at most max events, oldest first, into out and returns how many.
    // *more tells whether events remain: the drain then stays pending and the
    // caller must arrange the next batch; otherwise the next Push asks for a
    // new drain message.
    size_t PopBatch(QueuedEvent* out, size_t max, bool* more);

    // Drops every queued code for good: later pushes store nothing and ask
    // for no drain. Returns the number of codes dropped.
    size_t Close();

    size_t Size() const;

private:
    mutable CRITICAL_SECTION m_lock;
    Allocate m_allocate;
    QueuedEvent m_initial[kInitialQueuedEvents];
    QueuedEvent* m_ring; // circular buffer of m_capacity events: m_initial, then the heap
    size_t m_capacity;
    size_t m_head;       // index of the oldest code
    size_t m_count;
    bool m_drainPending; // a drain message is posted or a batch is running
    bool m_closed;

    bool GrowLocked();
};

}  // namespace tovrel
