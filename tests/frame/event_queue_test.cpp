#include <gtest/gtest.h>

#include <string>
#include <ostream>
#include <vector>

#include "event_drain.h"
#include "event_queue.h"
#include "frame_core.h"

namespace {

// ---- when a drain message has to be posted ------------------------------------

enum Op { kPush, kPop2, kPostFailed, kClaim, kClose };

struct Step {
    Op op;
    bool result;  // Push/ClaimStalled: asks for a drain; Pop2: more remain
};

struct PostRuleCase {
    const char* name;
    std::vector<Step> steps;
};

// Case names in test names: the default would print the vector's heap
// address, which differs between CTest's listing and the run.
void PrintTo(const PostRuleCase& c, std::ostream* os) { *os << c.name; }

class PostRuleTest : public ::testing::TestWithParam<PostRuleCase> {};

TEST_P(PostRuleTest, OneDrainMessagePerBurst) {
    tovrel::EventQueue queue;
    DWORD next = 1;
    int step = 0;
    for (const Step& s : GetParam().steps) {
        bool result = false;
        switch (s.op) {
        case kPush: result = queue.Push(next++, SYSTEMTIME{}); break;
        case kPop2: {
            tovrel::QueuedEvent out[2];
            queue.PopBatch(out, 2, &result);
            break;
        }
        case kPostFailed: queue.PostFailed(); continue;
        case kClaim: result = queue.ClaimStalled(); break;
        case kClose: queue.Close(); continue;
        }
        EXPECT_EQ(s.result, result) << GetParam().name << ", step " << step;
        ++step;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PostRuleTest,
    ::testing::Values(
        PostRuleCase{"first push posts, the rest of the burst does not",
                     {{kPush, true}, {kPush, false}, {kPush, false}}},
        PostRuleCase{"emptied queue: the next push posts again",
                     {{kPush, true}, {kPush, false}, {kPop2, false}, {kPush, true}}},
        PostRuleCase{"codes left after a batch: the drain stays pending",
                     {{kPush, true}, {kPush, false}, {kPush, false}, {kPop2, true}, {kPush, false},
                      {kPop2, false}, {kPush, true}}},
        PostRuleCase{"failed post: the next push asks again",
                     {{kPush, true}, {kPostFailed, false}, {kPush, true}}},
        PostRuleCase{"failed post: the stalled codes are claimed once",
                     {{kClaim, false}, {kPush, true}, {kClaim, false}, {kPostFailed, false}, {kClaim, true},
                      {kClaim, false}, {kPush, false}}},
        PostRuleCase{"closed queue stores nothing and posts nothing",
                     {{kPush, true}, {kClose, false}, {kPop2, false}, {kPush, false}, {kClaim, false}}}));

// ---- every code, in order, in bounded batches -----------------------------------

struct Feeder {
    tovrel::EventQueue* queue;
    DWORD count;
    HANDLE posted;  // semaphore: one count per drain message asked for
};

DWORD WINAPI Feed(void* param) {
    Feeder* f = static_cast<Feeder*>(param);
    for (DWORD code = 0; code < f->count; ++code) {
        SYSTEMTIME arrived = {};
        arrived.wMilliseconds = static_cast<WORD>(code % 1000);
        arrived.wSecond = static_cast<WORD>(code / 1000 % 60);
        // The queue drops what it has no room for (EventQueueBoundTest); here
        // every code must arrive, so the feeder waits for room.
        while (f->queue->Size() >= tovrel::kMostQueuedEvents) Sleep(1);
        if (f->queue->Push(code, arrived)) ReleaseSemaphore(f->posted, 1, nullptr);
        if (code % 512 == 0) Sleep(0);
    }
    return 0;
}

// One thread pushes as a library callback does; this thread acts as the
// dialog: it drains only on a "posted message" or when a batch left codes.
TEST(EventQueueDrain, DeliversEveryCodeInOrderFromAnotherThread) {
    const DWORD kEvents = 20000;
    const size_t kBatch = 64;
    tovrel::EventQueue queue;
    Feeder feeder = {&queue, kEvents, CreateSemaphoreW(nullptr, 0, LONG_MAX, nullptr)};
    HANDLE thread = CreateThread(nullptr, 0, Feed, &feeder, 0, nullptr);
    ASSERT_NE(nullptr, thread);

    std::vector<tovrel::QueuedEvent> got;
    int messages = 0;
    while (got.size() < kEvents) {
        // A lost wake-up would leave codes queued with no message coming.
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(feeder.posted, 10000))
            << got.size() << " of " << kEvents << " delivered, " << queue.Size() << " queued";
        ++messages;
        bool more = true;
        while (more) {
            tovrel::QueuedEvent batch[kBatch];
            size_t n = queue.PopBatch(batch, kBatch, &more);
            ASSERT_LE(n, kBatch);
            got.insert(got.end(), batch, batch + n);
        }
    }
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(feeder.posted, 0)) << "a message posted for an empty queue";
    CloseHandle(feeder.posted);

    ASSERT_EQ(kEvents, got.size());
    for (DWORD i = 0; i < kEvents; ++i) {
        ASSERT_EQ(i, got[i].code) << "at " << i;
        // Each event keeps the time it was queued with.
        ASSERT_EQ(i % 1000, got[i].arrived.wMilliseconds) << "at " << i;
        ASSERT_EQ(i / 1000 % 60, got[i].arrived.wSecond) << "at " << i;
    }
    EXPECT_LT(messages, static_cast<int>(kEvents)) << "one message per event";
}

}  // namespace

// ---- a batch of log lines writes what one write per event would ------------------

struct BatchCase {
    DWORD startCount;  // event counter before the first event
    DWORD events;
    size_t batch;       // events per batch
    size_t flushEvery;  // a write in mid-batch every n events (a panel refresh), 0: none
};

void PrintTo(const BatchCase& c, std::ostream* os) {
    *os << "from" << c.startCount << "_events" << c.events << "_batch" << c.batch << "_flush" << c.flushEvery;
}

class EventLogBatchTest : public ::testing::TestWithParam<BatchCase> {};

void Apply(std::wstring* log, const tovrel::EventLogBatch::Write& write) {
    if (write.replaceAll) log->clear();
    *log += write.text.GetString();
}

TEST_P(EventLogBatchTest, SameLogAsOneWritePerEvent) {
    const BatchCase& c = GetParam();
    SYSTEMTIME time = {2026, 12, 2, 8, 9, 41, 53, 7};
    const std::wstring start = L"Event callback registered\r\n";

    std::wstring single = start;
    DWORD singleCount = c.startCount;
    for (DWORD i = 0; i < c.events; ++i) {
        std::wstring line = tovrel::FormatEventLine(time, 0x20000 + i).GetString();
        if (tovrel::LogMustEmpty(++singleCount)) {
            singleCount = 0;
            single = line;
        } else {
            single += line;
        }
    }

    std::wstring batched = start;
    DWORD count = c.startCount;
    for (DWORD first = 0; first < c.events; first += static_cast<DWORD>(c.batch)) {
        tovrel::EventLogBatch batch(&count);
        for (DWORD i = first; i < c.events && i < first + c.batch; ++i) {
            if (c.flushEvery && i % c.flushEvery == 0) Apply(&batched, batch.Take());
            batch.Add(time, 0x20000 + i);
        }
        Apply(&batched, batch.Take());
    }
    EXPECT_EQ(singleCount, count);
    ASSERT_EQ(single.size(), batched.size());
    EXPECT_TRUE(single == batched);
}

INSTANTIATE_TEST_SUITE_P(Table, EventLogBatchTest,
                         ::testing::Values(BatchCase{0, 1000, 64, 0}, BatchCase{0, 1001, 64, 0},
                                           BatchCase{0, 1002, 1002, 0}, BatchCase{0, 3005, 64, 7},
                                           BatchCase{990, 40, 64, 3}, BatchCase{0, 2500, 1000, 0},
                                           BatchCase{999, 5, 5, 1}));

// ---- a flood: the queue holds at most 4096 events and counts the rest ----------

struct BoundCase {
    const char* name;
    DWORD pushes;
    DWORD popFirst;      // events taken after the first 4096 pushes, before the rest
    size_t queued;       // events in the queue at the end
    DWORD droppedTotal;  // sum of droppedAfter over everything taken
    bool noMemory;       // the queue cannot grow beyond what it holds without allocating
};

void* NoMemory(size_t) { return nullptr; }

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.name; }

class EventQueueBoundTest : public ::testing::TestWithParam<BoundCase> {};

TEST_P(EventQueueBoundTest, HoldsTheBoundAndCountsWhatItDrops) {
    const BoundCase& c = GetParam();
    tovrel::EventQueue queue(c.noMemory ? NoMemory : nullptr);
    std::vector<tovrel::QueuedEvent> taken(c.pushes + 1);
    size_t got = 0;
    for (DWORD code = 0; code < c.pushes; ++code) {
        if (code == tovrel::kMostQueuedEvents) got += queue.PopBatch(&taken[got], c.popFirst, nullptr);
        queue.Push(code, SYSTEMTIME{});
    }
    EXPECT_EQ(c.queued, queue.Size());
    got += queue.PopBatch(&taken[got], taken.size() - got, nullptr);
    DWORD dropped = 0;
    for (size_t i = 0; i < got; ++i) {
        dropped += taken[i].droppedAfter;
        // Codes taken plus codes counted as dropped before them are the codes pushed before them.
        ASSERT_EQ(i + (dropped - taken[i].droppedAfter), taken[i].code) << "at " << i;
    }
    EXPECT_EQ(c.droppedTotal, dropped);
    EXPECT_EQ(c.pushes, got + dropped);
}

INSTANTIATE_TEST_SUITE_P(Table, EventQueueBoundTest,
                         ::testing::Values(BoundCase{"underBound", 4000, 0, 4000, 0, false},
                                           BoundCase{"atBound", 4096, 0, 4096, 0, false},
                                           BoundCase{"overBound", 5000, 0, 4096, 904, false},
                                           BoundCase{"roomAgainAfterAPop", 5000, 100, 4096, 804, false},
                                           BoundCase{"noMemoryToGrow", 5000, 0, 64, 4936, true}),
                         [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

// ---- one drain chain: a batch asks for the next one at most once -------------------

// A batch as the dialog runs it. Logging an event may push new events (the
// library's thread, meanwhile) and let their drain message through (a panel
// refresh that dispatches messages): that drain finds the gate busy. Every
// drain message asked for and not yet handled, and every next batch asked
// for, is a request still to come; more than one is a second chain.
struct DrainCase {
    const char* name;
    DWORD queuedBefore;   // events queued when the batch starts (their drain pending)
    DWORD pushesPerEvent; // events pushed while each logged event is written
    bool letThrough;      // a drain message asked for meanwhile arrives inside
    size_t requestsAfter; // requests still to come after the batch
};

void PrintTo(const DrainCase& c, std::ostream* os) { *os << c.name; }

class DrainBatchTest : public ::testing::TestWithParam<DrainCase> {};

TEST_P(DrainBatchTest, AtMostOneRequestFollows) {
    const DrainCase& c = GetParam();
    tovrel::EventQueue queue;
    tovrel::LibraryGate gate;
    size_t requests = 0;
    DWORD next = 1;
    for (DWORD i = 0; i < c.queuedBefore; ++i) requests += queue.Push(next++, SYSTEMTIME{}) ? 1 : 0;
    ASSERT_EQ(c.queuedBefore ? 1u : 0u, requests);
    requests = 0;  // the message that starts this batch
    std::vector<DWORD> logged;
    tovrel::RunDrainBatch(
        queue, gate,
        [&](const tovrel::QueuedEvent& event) {
            logged.push_back(event.code);
            for (DWORD i = 0; i < c.pushesPerEvent; ++i) {
                if (!queue.Push(next++, SYSTEMTIME{})) continue;
                if (c.letThrough && gate.Busy()) gate.DrainWaits();  // the drain that arrives inside
                else ++requests;
            }
        },
        [] {}, [&] { ++requests; });
    EXPECT_FALSE(gate.Busy());
    EXPECT_EQ(c.requestsAfter, requests) << c.name << ": " << logged.size() << " logged, " << queue.Size()
                                         << " left";
    for (size_t i = 0; i < logged.size(); ++i) ASSERT_EQ(i + 1, logged[i]) << "at " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Table, DrainBatchTest,
    ::testing::Values(DrainCase{"emptied", 3, 0, false, 0}, DrainCase{"eventsLeftAfterTheBatch", 100, 0, false, 1},
                      DrainCase{"drainArrivesInsideTheRefresh", 1, 1, true, 1},
                      DrainCase{"pushedMeanwhileItsMessageQueued", 1, 1, false, 1},
                      DrainCase{"pushesDuringALongBatch", 2, 3, false, 1},
                      DrainCase{"pushesLetThroughDuringALongBatch", 2, 3, true, 1}),
    [](const ::testing::TestParamInfo<DrainCase>& info) { return std::string(info.param.name); });

TEST(EventLogDroppedLine, SaysHowMany) {
    EXPECT_EQ(std::wstring(L"1 firmware event dropped\r\n"), tovrel::FormatDroppedLine(1).GetString());
    EXPECT_EQ(std::wstring(L"904 firmware events dropped\r\n"), tovrel::FormatDroppedLine(904).GetString());
    EXPECT_EQ(std::wstring(L"4294967295 firmware events dropped\r\n"),
              tovrel::FormatDroppedLine(0xFFFFFFFFu).GetString());
}
