// The event queue against a simple model, for any sequence of pushes, failed
// posts, claims, batches and a close: the same events come out in the same
// order, a drain is asked for exactly when none is pending, a full queue
// counts what it drops on its newest event, and nothing is stored after Close.
#include <deque>

#include "event_queue.h"
#include "fuzz_check.h"

using namespace tovrel;

namespace {

struct Entry {
    DWORD code;
    DWORD droppedAfter;
};

struct Model {
    std::deque<Entry> codes;
    bool drainPending = false;
    bool closed = false;

    bool Push(DWORD code) {
        if (closed) return false;
        if (codes.size() == kMostQueuedEvents) {
            ++codes.back().droppedAfter;
            return false;
        }
        codes.push_back(Entry{code, 0});
        if (drainPending) return false;
        drainPending = true;
        return true;
    }

    // A batch of at most max (out holds that many): the oldest events, in
    // order, each with the count dropped after it.
    void PopAndCheck(EventQueue& queue, QueuedEvent* out, size_t max) {
        bool more = false;
        const size_t n = queue.PopBatch(out, max, &more);
        FUZZ_CHECK(n == (codes.size() < max ? codes.size() : max), "popped %zu of %zu (max %zu)", n, codes.size(),
                   max);
        for (size_t i = 0; i < n; ++i, codes.pop_front()) {
            const Entry& want = codes.front();
            FUZZ_CHECK(out[i].code == want.code && out[i].arrived.wMilliseconds == static_cast<WORD>(want.code),
                       "event %zu: %u, expected %u", i, out[i].code, want.code);
            FUZZ_CHECK(out[i].droppedAfter == want.droppedAfter, "event %u: %u dropped after it, expected %u",
                       want.code, out[i].droppedAfter, want.droppedAfter);
        }
        drainPending = !codes.empty();
        FUZZ_CHECK(more == drainPending, "more %d with %zu left", more, codes.size());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    EventQueue queue;
    Model model;
    QueuedEvent out[300];
    DWORD next = 1;  // codes are numbered so that order shows
    while (!in.Empty()) {
        const uint8_t op = in.Byte();
        switch (op % 6) {
        case 0:
        case 1: {  // a burst of pushes
            const unsigned count = 1 + in.Byte() % 64 * (op % 2 ? 8 : 1);
            for (unsigned i = 0; i < count; ++i, ++next) {
                SYSTEMTIME t{};
                t.wMilliseconds = static_cast<WORD>(next);
                const bool ask = queue.Push(next, t);
                FUZZ_CHECK(ask == model.Push(next), "push %u asked %d", next, ask);
            }
            break;
        }
        case 2:
            queue.PostFailed();
            model.drainPending = false;
            break;
        case 3: {
            const bool claimed = queue.ClaimStalled();
            const bool expected = !model.codes.empty() && !model.drainPending;
            if (expected) model.drainPending = true;
            FUZZ_CHECK(claimed == expected, "claim %d, expected %d", claimed, expected);
            break;
        }
        case 4:
            model.PopAndCheck(queue, out, in.Byte() % 300);
            break;
        case 5:
            if (in.Byte() % 8 == 0) {
                const size_t dropped = queue.Close();
                FUZZ_CHECK(dropped == model.codes.size(), "close dropped %zu of %zu", dropped, model.codes.size());
                model.codes.clear();
                model.closed = true;
                model.drainPending = false;
            }
            break;
        }
        FUZZ_CHECK(queue.Size() == model.codes.size(), "size %zu, model %zu", queue.Size(), model.codes.size());
    }
    // Whatever is left comes out whole, the newest event with its count.
    while (!model.codes.empty()) model.PopAndCheck(queue, out, 300);
    return 0;
}
