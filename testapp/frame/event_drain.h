// One batch of the event log's drain on the dialog's thread: queued events,
// oldest first, until the queue is empty or the batch is over (count or
// time), then the next batch asked for in exactly one place.
//
// The batch is a library call of the gate (a thermal alert or ambient-light
// event refreshes its panel first), and a refresh may let window messages
// through, the drain message among them: that drain finds the gate busy and
// only notes that it waited. When the batch ends, one next batch is asked for
// if events are left with their drain still pending, or if a drain waited for
// the batch; otherwise the next push asks for it. Two requests would start a
// second chain of batches that runs beside the first, two batches between
// looks at waiting input.
#pragma once
#include <windows.h>

#include "event_queue.h"
#include "frame_core.h"
#include "library_gate.h"

namespace tovrel {

// logEvent(const QueuedEvent&) logs one event; finish() ends the batch's
// writes when anything was logged; scheduleNext() asks for the next batch.
// scheduleNext runs at most once, on every way out, an exception included.
template <typename LogEvent, typename Finish, typename ScheduleNext>
void RunDrainBatch(EventQueue& queue, LibraryGate& gate, LogEvent logEvent, Finish finish,
                   ScheduleNext scheduleNext) {
    struct BatchEnd {
        LibraryGate& gate;
        ScheduleNext& scheduleNext;
        // Until a pop says otherwise the drain that started this batch is
        // pending: on an early way out its events still get a batch.
        bool more = true;
        ~BatchEnd() {
            const bool drainWaited = gate.Leave();
            if (more || drainWaited) scheduleNext();
        }
    } end = {gate, scheduleNext};
    gate.Enter();
    LARGE_INTEGER perSecond, start, now;
    ::QueryPerformanceFrequency(&perSecond);
    ::QueryPerformanceCounter(&start);
    size_t done = 0;
    while (end.more) {
        QueuedEvent event;
        // The last event taken ends the pending drain: whatever comes now
        // asks for its own, so this batch takes no more.
        if (queue.PopBatch(&event, 1, &end.more) == 0) break;
        logEvent(event);
        ++done;
        ::QueryPerformanceCounter(&now);
        if (BatchIsOver(done, now.QuadPart - start.QuadPart, perSecond.QuadPart)) break;
    }
    if (done != 0) finish();
}

}  // namespace tovrel
