// The input event queue: posting and superseded size events, fetching by type,
// dropping, detaching a display, the stale-event purge on faked clocks, and many
// producer threads against one consumer.
#include "events_fakes.h"
#include <atomic>
#include <thread>

namespace {

class EventQueue : public EventEngineTest {};

// Types of the queued entries, oldest first (under the lock).
std::vector<int> QueuedTypes()
{
    std::vector<int> types;
    LockEvents();
    lvFetchedEvent e;
    for (int n = 0; FetchEvent(nullptr, n, &e, 0); n++) types.push_back(e.type);
    UnlockEvents();
    return types;
}

}  // namespace

TEST_F(EventQueue, OnlyTheNewestSizeEventOfADisplaySurvives)
{
    FakeDisplay *one = NewFakeDisplay(1), *two = NewFakeDisplay(2), *scaled = NewFakeDisplay(3);
    scaled->autoscale = 1;
    EXPECT_EQ(PostEvent(AsDisplay(one), EVENT_SIZEWINDOW, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(PostEvent(AsDisplay(one), EVENT_SIZEWINDOW, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(PostEvent(AsDisplay(two), EVENT_SIZEWINDOW, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(PostEvent(AsDisplay(one), EVENT_MOVEWINDOW, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(PostEvent(AsDisplay(one), EVENT_SIZEWINDOW, 0, 0, 0, nullptr), 1);
    // An autoscaled display's size event is refused.
    EXPECT_EQ(PostEvent(AsDisplay(scaled), EVENT_SIZEWINDOW, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(QueuedTypes(), (std::vector<int>{0, 0, EVENT_SIZEWINDOW, EVENT_MOVEWINDOW, EVENT_SIZEWINDOW}));
    // Cancelled entries are consumed without effect.
    one->events.slots[5].function = 50;  // sizewindow
    EXPECT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedEvents(), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 1);
}

TEST_F(EventQueue, FetchSpreadsTheArgumentsByType)
{
    FakeDisplay *d = NewFakeDisplay(1);
    struct Case {
        int type, a, b, c;                  // posted
        int x, y, down, keyCode;            // fetched
        uint32_t qualifiers;
    } cases[] = {
        {EVENT_LEFTMOUSE, 10, 20, 1, 10, 20, 1, 0, 0},
        {EVENT_MIDMOUSE, 3, 4, 0, 3, 4, 0, 0, 0},
        {EVENT_KEY, 1, (int)0x80010000, 65, 0, 0, 1, 65, 0x80010000u},
        {EVENT_RAWKEY, 0, 0, 300, 0, 0, 0, 300, 0},
        {EVENT_DROPFILES, 7, 8, 9, 7, 8, 0, 0, 0},
        {EVENT_MENUSELECT, 5, 6, 1, 0, 0, 1, 0, 0},
        {EVENT_CLOSEWINDOW, 5, 6, 7, 0, 0, 0, 0, 0},
    };
    for (const Case &c : cases) ASSERT_EQ(PostEvent(AsDisplay(d), c.type, c.a, c.b, c.c, nullptr), 1);
    LockEvents();
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); i++) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.type);
        lvFetchedEvent e;
        ASSERT_EQ(FetchEvent(nullptr, (int)i, &e, 0), (int)i + 1);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.display, AsDisplay(d));
        EXPECT_EQ(e.x, c.x);
        EXPECT_EQ(e.y, c.y);
        EXPECT_EQ(e.down, c.down);
        EXPECT_EQ(e.keyCode, c.keyCode);
        EXPECT_EQ(e.qualifiers, c.qualifiers);
        EXPECT_GT(e.time, 0.0);
    }
    lvFetchedEvent e;
    EXPECT_EQ(FetchEvent(nullptr, 7, &e, 0), 0);
    UnlockEvents();
}

TEST_F(EventQueue, DropTakeDetachAndClose)
{
    FakeDisplay *d = NewFakeDisplay(1);
    for (int i = 0; i < 5; i++) {
        char *files = (char *)AllocMemory(8, 1);
        ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_DROPFILES, i, 0, 0, files), 1);
    }
    // A taken payload belongs to the caller.
    LockEvents();
    lvFetchedEvent e;
    ASSERT_EQ(FetchEvent(nullptr, 0, &e, 1), 1);
    UnlockEvents();
    FreeMemory(e.payload);
    DropEvents(nullptr, 2, 1);  // three entries
    EXPECT_EQ(CountQueuedEvents(), 2);
    // Events of a freed display stay queued without it and are consumed without effect.
    d->events.slots[17].function = 70;  // ondropfile
    DetachDisplayEvents(AsDisplay(d));
    EXPECT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedEvents(), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    // After the library closed the caller keeps its payload.
    CloseEventEngine(nullptr);
    char *payload = (char *)AllocMemory(8, 1);
    EXPECT_EQ(PostEvent(AsDisplay(d), EVENT_DROPFILES, 0, 0, 0, payload), 0);
    FreeMemory(payload);
    ASSERT_EQ(OpenEventEngine(nullptr), 0);
}

TEST_F(EventQueue, OutOfMemoryIsReportedAndTheLockLeft)
{
    FailAllocMemoryAfter(0);
    EXPECT_EQ(PostEvent(nullptr, EVENT_QUIT, 0, 0, 0, nullptr), -1);
    FailAllocMemoryAfter(-1);
    std::thread other([] { EXPECT_EQ(PostEvent(nullptr, EVENT_QUIT, 0, 0, 0, nullptr), 1); });
    other.join();
    EXPECT_EQ(CountQueuedEvents(), 1);
}

TEST_F(EventQueue, FreeEventCacheEmptiesTheQueueAndCancelsQueuedCallbacks)
{
    FakeDisplay *d = NewFakeDisplay(1);
    d->events.slots[HANDLER_ONMOUSEDOWN].function = 11;
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 1, 2, 1, nullptr), 1);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 1, 2, 1, nullptr), 1);
    ASSERT_EQ(CountQueuedCallbacks(), 1);
    FreeEventCache(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    EXPECT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_TRUE(machine.calls.empty());
}

// ---- The purge on faked clocks ------------------------------------------------------

namespace {

int64_t fakeWallMicros, fakeMonotonicNanos;
int64_t ReadFakeWall(void) { return fakeWallMicros; }
int64_t ReadFakeMonotonic(void) { return fakeMonotonicNanos; }
int64_t ReadFakeUptime(void) { return fakeMonotonicNanos / 1000000; }
const lvClockSources fakeClock = {ReadFakeWall, ReadFakeMonotonic, ReadFakeUptime};

void Advance(int64_t milliseconds)
{
    fakeMonotonicNanos += milliseconds * 1000000;
    fakeWallMicros += milliseconds * 1000;
}

}  // namespace

class EventPurge : public EventQueue {
protected:
    void SetUp() override
    {
        EventQueue::SetUp();
        fakeWallMicros = 1700000000LL * 1000000;
        fakeMonotonicNanos = 5000LL * 1000000000;
        SetClockSources(&fakeClock);
        InitClockBase();
    }
};

TEST_F(EventPurge, DropsTheOldHeadAndStopsAtTheFirstYoungEvent)
{
    ASSERT_EQ(PostEvent(nullptr, 101, 0, 0, 0, nullptr), 1);  // will be 61 s old
    Advance(2000);
    ASSERT_EQ(PostEvent(nullptr, 102, 0, 0, 0, nullptr), 1);  // 59 s
    ASSERT_EQ(PostEvent(nullptr, 103, 0, 0, 0, nullptr), 1);  // 59 s
    Advance(59000);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(QueuedTypes(), (std::vector<int>{102, 103}));
    // Exactly as old as the limit is kept; a millisecond more is not.
    Advance(1000);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 2);
    Advance(1);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 0);
}

TEST_F(EventPurge, AnOldEventBehindAYoungOneIsNotReached)
{
    // Unanchored, the clock reads the wall clock, so a step back can put an older
    // stamp behind a younger one; the scan still stops at the first young entry.
    SetClockSources(&fakeClock);
    ASSERT_EQ(PostEvent(nullptr, 101, 0, 0, 0, nullptr), 1);
    fakeWallMicros -= 100LL * 1000000;
    ASSERT_EQ(PostEvent(nullptr, 102, 0, 0, 0, nullptr), 1);
    Advance(61000);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(QueuedTypes(), (std::vector<int>{101, 102}));
}

TEST_F(EventPurge, AWallClockStepBackwardsDropsNothing)
{
    ASSERT_EQ(PostEvent(nullptr, 101, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(PostEvent(nullptr, 102, 0, 0, 0, nullptr), 1);
    // The system clock is set back a day while only a second passes.
    fakeWallMicros -= 86400LL * 1000000;
    Advance(1000);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 2);
    // Before the clock is anchored it reads the wall clock: a step back makes the
    // events look younger than now, which must count as new, not as ancient.
    SetClockSources(&fakeClock);
    ASSERT_EQ(PostEvent(nullptr, 103, 0, 0, 0, nullptr), 1);
    fakeWallMicros -= 3600LL * 1000000;
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 3);
    // And a step forward of the wall clock does not age the anchored events either.
    InitClockBase();
    fakeWallMicros += 7200LL * 1000000;
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 3);
}

TEST_F(EventPurge, SwitchedOffKeepsEverythingAndThePeriodicPurgeWaitsTenSeconds)
{
    ASSERT_EQ(PostEvent(nullptr, 101, 0, 0, 0, nullptr), 1);
    SetEventTimeout(LV_EVENT_PURGE_OFF);
    Advance(3600 * 1000);
    PurgeStaleEvents(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 1);
    SetEventTimeout(1000);
    // The library opened before the clock was faked; let a periodic purge note the time.
    CloseEventEngine(nullptr);
    ASSERT_EQ(OpenEventEngine(nullptr), 0);
    ASSERT_EQ(PostEvent(nullptr, 102, 0, 0, 0, nullptr), 1);
    Advance(9000);
    PeriodicEventPurge(nullptr);  // 9 s since open: not yet
    EXPECT_EQ(CountQueuedEvents(), 1);
    Advance(1000);
    PeriodicEventPurge(nullptr);
    EXPECT_EQ(CountQueuedEvents(), 0);
}

// ---- Many producers -------------------------------------------------------------------------

TEST_F(EventQueue, EightThreadsPostTenThousandEventsEachCompleteAndInOrder)
{
    SetEventTimeout(LV_EVENT_PURGE_OFF);
    const int threads = 8, posts = 10000;
    std::atomic<int> running{threads};
    std::vector<std::thread> producers;
    for (int t = 0; t < threads; t++) {
        producers.emplace_back([t, &running] {
            // Mouse events carry their arguments through FetchEvent: thread and sequence.
            for (int i = 0; i < posts; i++)
                while (PostEvent(nullptr, EVENT_LEFTMOUSE, t, i, 0, nullptr) != 1) std::this_thread::yield();
            running--;
        });
    }
    // The script thread takes events while they arrive.
    std::vector<int> next(threads, 0);
    int taken = 0, outOfOrder = 0, strange = 0;
    for (;;) {
        bool finished = running.load() == 0;
        int got = 0;
        LockEvents();
        lvFetchedEvent e;
        while (FetchEvent(nullptr, 0, &e, 1)) {
            DropEvents(nullptr, 0, 0);
            got++;
            if (e.type != EVENT_LEFTMOUSE || e.x < 0 || e.x >= threads) {
                strange++;
                continue;
            }
            if (e.y != next[e.x]) outOfOrder++;
            next[e.x] = e.y + 1;
        }
        UnlockEvents();
        taken += got;
        if (finished && !got) break;
    }
    for (std::thread &p : producers) p.join();
    EXPECT_EQ(taken, threads * posts);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_EQ(strange, 0);
    for (int t = 0; t < threads; t++) EXPECT_EQ(next[t], posts);
}
