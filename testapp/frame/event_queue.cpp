#include "event_queue.h"

#include <stdlib.h>

namespace tovrel {

namespace {

struct Locked {
    explicit Locked(CRITICAL_SECTION* cs) : m_cs(cs) { EnterCriticalSection(m_cs); }
    ~Locked() { LeaveCriticalSection(m_cs); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;
    CRITICAL_SECTION* m_cs;
};

}  // namespace

EventQueue::EventQueue(Allocate allocate)
    : m_allocate(allocate ? allocate : malloc),
      m_ring(m_initial),
      m_capacity(kInitialQueuedEvents),
      m_head(0),
      m_count(0),
      m_drainPending(false),
      m_closed(false) {
    InitializeCriticalSection(&m_lock);
}

EventQueue::~EventQueue() {
    if (m_ring != m_initial) free(m_ring);
    DeleteCriticalSection(&m_lock);
}

bool EventQueue::GrowLocked() {
    size_t capacity = m_capacity * 2;
    if (capacity > kMostQueuedEvents) capacity = kMostQueuedEvents;
    if (capacity <= m_capacity) return false;
    QueuedEvent* ring = static_cast<QueuedEvent*>(m_allocate(capacity * sizeof(QueuedEvent)));
    if (!ring) return false;
    // Unroll the old ring so that the oldest code is at index 0.
    for (size_t i = 0; i < m_count; ++i) ring[i] = m_ring[(m_head + i) % m_capacity];
    if (m_ring != m_initial) free(m_ring);
    m_ring = ring;
    m_capacity = capacity;
    m_head = 0;
    return true;
}

bool EventQueue::Push(DWORD code, const SYSTEMTIME& arrived) {
    Locked lock(&m_lock);
    if (m_closed) return false;
    // No room, at the bound or for want of memory: the event is dropped and
    // counted on the newest one (there is one: the queue is full).
    if (m_count == m_capacity && !GrowLocked()) {
        QueuedEvent& newest = m_ring[(m_head + m_count - 1) % m_capacity];
        if (newest.droppedAfter != MAXDWORD) ++newest.droppedAfter;
        return false;
    }
    QueuedEvent& slot = m_ring[(m_head + m_count) % m_capacity];
    slot.code = code;
    slot.arrived = arrived;
    slot.droppedAfter = 0;
    ++m_count;
    if (m_drainPending) return false;
    m_drainPending = true;
    return true;
}

void EventQueue::PostFailed() {
    Locked lock(&m_lock);
    m_drainPending = false;
}

bool EventQueue::ClaimStalled() {
    Locked lock(&m_lock);
    if (m_count == 0 || m_drainPending) return false;
    m_drainPending = true;
    return true;
}

size_t EventQueue::PopBatch(QueuedEvent* out, size_t max, bool* more) {
    Locked lock(&m_lock);
    size_t n = m_count < max ? m_count : max;
    for (size_t i = 0; i < n; ++i) {
        out[i] = m_ring[m_head];
        m_head = (m_head + 1) % m_capacity;
    }
    m_count -= n;
    if (m_count == 0) m_head = 0;
    m_drainPending = m_count != 0;
    if (more) *more = m_count != 0;
    return n;
}

size_t EventQueue::Close() {
    Locked lock(&m_lock);
    size_t dropped = m_count;
    m_closed = true;
    m_count = 0;
    m_head = 0;
    m_drainPending = false;
    return dropped;
}

size_t EventQueue::Size() const {
    Locked lock(&m_lock);
    return m_count;
}

}  // namespace tovrel
