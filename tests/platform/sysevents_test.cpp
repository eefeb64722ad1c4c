// The system event queue: totals, order, ownership of data, and many posters.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <cstring>
#include <poll.h>
#include <thread>
#include <vector>

class SystemEvents : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitSystemEvents(), 0);
        while (WaitSignalTimeout(GetMainWakeSignal(), 0)) {
        }
    }
    void TearDown() override
    {
        FreeSystemEvents();
        ExitPlatform();
    }
    static void *OwnedBlock(const char *text)
    {
        char *block = (char *)AllocMemory(strlen(text) + 1, 0);
        strcpy(block, text);
        return block;
    }
};

TEST_F(SystemEvents, TotalsAndOrder)
{
    struct {
        int type, unit, count, offset;  // what is posted
        int64_t total;                  // what is stored
    } cases[] = {
        {SYSEVENT_SAMPLEEND, 100, 3, 7, 207},   // offset counts for sample ends only
        {SYSEVENT_SAMPLELOOP, 100, 3, 7, 200},
        {SYSEVENT_MUSICEND, 0, 0, 0, 0},
        {SYSEVENT_SAMPLEEND, 4, 1, 0, 0},
        {SYSEVENT_SAMPLELOOP, 2000000000, 3, 0, 4000000000LL},  // no 32-bit overflow
    };
    int i = 0;
    for (const auto &c : cases) EXPECT_EQ(PostSystemEvent(c.type, 1000 + i++, 0, c.unit, c.count, c.offset, 0), 0);
    i = 0;
    for (const auto &c : cases) {
        lvSystemEvent e;
        ASSERT_EQ(GetSystemEvent(&e), 1);
        EXPECT_EQ(e.type, c.type);
        EXPECT_EQ(e.data1, (uintptr_t)(1000 + i++));
        EXPECT_EQ(e.total, c.total);
        EXPECT_EQ(e.count, c.count);
        EXPECT_EQ(e.next, nullptr);
    }
    // an empty queue writes nothing
    lvSystemEvent untouched;
    memset(&untouched, 0x5A, sizeof(untouched));
    lvSystemEvent copy = untouched;
    EXPECT_EQ(GetSystemEvent(&untouched), 0);
    EXPECT_EQ(memcmp(&untouched, &copy, sizeof(copy)), 0);
    // and still takes new events afterwards
    EXPECT_EQ(PostSystemEvent(SYSEVENT_VIDEOEND, 9, 0, 0, 0, 0, 0), 0);
    EXPECT_EQ(GetSystemEvent(&untouched), 1);
    EXPECT_EQ(untouched.type, SYSEVENT_VIDEOEND);
}

TEST_F(SystemEvents, WakeOnlyWhenAsked)
{
    PostSystemEvent(SYSEVENT_DIRCHANGED, 1, 0, 0, 0, 0, 0);
    EXPECT_EQ(WaitSignalTimeout(GetMainWakeSignal(), 0), 0);
    PostSystemEvent(SYSEVENT_RUNEXIT, 1, 0, 0, 0, 0, 1);
    EXPECT_EQ(WaitSignalTimeout(GetMainWakeSignal(), 0), 1);
}

TEST_F(SystemEvents, OwnedDataPassesToTheTaker)
{
    void *chunk = OwnedBlock("program output");
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNOUTPUT, 77, (uintptr_t)chunk, 0, 1, 0, 1), 0);
    lvSystemEvent e;
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.data2, (uintptr_t)chunk);
    EXPECT_STREQ((const char *)e.data2, "program output");
    FreeMemory((void *)e.data2);  // the taker owns it now
}

// Left-over owned blocks are freed at shut-down; the leak checker of the sanitizer
// run proves it (no FreeMemory here).
TEST_F(SystemEvents, ShutDownFreesQueuedOwnedData)
{
    for (int type = SYSEVENT_RUNOUTPUT; type <= SYSEVENT_DIRCHANGEDETAIL; type++)
        ASSERT_EQ(PostSystemEvent(type, 1, (uintptr_t)OwnedBlock("left over"), 0, 1, 0, 0), 0);
    // the non-owning types keep their words as plain values
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 1, 0xDEAD, 0, 1, 0, 0), 0);
    FreeSystemEvents();
    lvSystemEvent e;
    EXPECT_EQ(GetSystemEvent(&e), 0);
}

TEST_F(SystemEvents, DroppedEventFreesWhatItOwns)
{
    void *chunk = OwnedBlock("never queued");
    FailAllocMemoryAfter(0);
    int r = PostSystemEvent(SYSEVENT_RUNOUTPUT, 1, (uintptr_t)chunk, 0, 1, 0, 1);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(r, ERR_MEM);
    lvSystemEvent e;
    EXPECT_EQ(GetSystemEvent(&e), 0);
    // after shut-down of the queue a post is dropped the same way
    FreeSystemEvents();
    EXPECT_EQ(PostSystemEvent(SYSEVENT_USERMESSAGE, 0, (uintptr_t)OwnedBlock("late"), 0, 1, 0, 1), ERR_MEM);
    EXPECT_EQ(GetSystemEvent(&e), 0);
}

TEST_F(SystemEvents, ManyPostersArriveCompleteAndInOrder)
{
    const int posters = 8, perPoster = 10000;
    std::vector<std::thread> threads;
    for (int p = 0; p < posters; p++) {
        threads.emplace_back([p] {
            for (int i = 0; i < perPoster; i++)
                PostSystemEvent(SYSEVENT_RUNEXIT, (uintptr_t)p, (uintptr_t)i, 1, i, 0, 1);
        });
    }
    // Drain while they post, as the script thread does: poll the wake descriptor,
    // clear it, take everything queued.
    std::vector<int> next(posters, 0);
    int received = 0, wakes = 0;
    int fd = GetSignalDescriptor(GetMainWakeSignal());
    while (received < posters * perPoster) {
        struct pollfd p = {fd, POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 10000), 1) << "no wake after " << received << " events";
        wakes += WaitSignalTimeout(GetMainWakeSignal(), 0);
        lvSystemEvent e;
        while (GetSystemEvent(&e)) {
            ASSERT_EQ(e.type, SYSEVENT_RUNEXIT);
            ASSERT_LT(e.data1, (uintptr_t)posters);
            ASSERT_EQ(e.data2, (uintptr_t)next[e.data1]) << "poster " << e.data1;
            ASSERT_EQ(e.count, (int32_t)e.data2);
            next[e.data1]++;
            received++;
        }
    }
    for (std::thread &t : threads) t.join();
    lvSystemEvent e;
    EXPECT_EQ(GetSystemEvent(&e), 0);
    for (int p = 0; p < posters; p++) EXPECT_EQ(next[p], perPoster);
    EXPECT_GT(wakes, 0);
}

// Matches events whose first data word is the one given.
static int OfObject(const lvSystemEvent *event, void *context)
{
    return event->data1 == (uintptr_t)context;
}

TEST_F(SystemEvents, RemovingKeepsTheOthersInOrderAndFreesWhatItTakes)
{
    // Object 7's events at the head, in the middle and at the tail; two own a block.
    PostSystemEvent(SYSEVENT_RUNOUTPUT, 7, (uintptr_t)OwnedBlock("head"), 0, 1, 0, 0);
    PostSystemEvent(SYSEVENT_SAMPLEEND, 1, 10, 0, 1, 5, 0);
    PostSystemEvent(SYSEVENT_RUNEXIT, 7, 0, 0, 1, 0, 0);
    PostSystemEvent(SYSEVENT_SAMPLEEND, 2, 20, 100, 3, 7, 0);
    PostSystemEvent(SYSEVENT_DIRCHANGEDETAIL, 7, (uintptr_t)OwnedBlock("tail"), 0, 1, 0, 0);
    EXPECT_EQ(RemoveSystemEvents(OfObject, (void *)7), 3);
    EXPECT_EQ(DropSystemEvents(OfObject, (void *)7), 0) << "nothing of object 7 is left";
    // The tail was taken: posting behind the survivors must still work.
    PostSystemEvent(SYSEVENT_RUNEXIT, 3, 30, 0, 1, 0, 0);
    lvSystemEvent e;
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.data1, 1u);
    EXPECT_EQ(e.total, 5) << "a survivor keeps its numbers as posted";
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.data1, 2u);
    EXPECT_EQ(e.total, 207);
    EXPECT_EQ(e.count, 3);
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.data1, 3u);
    EXPECT_EQ(GetSystemEvent(&e), 0);
    // Taking everything leaves an empty queue that still takes posts.
    PostSystemEvent(SYSEVENT_RUNEXIT, 7, 0, 0, 1, 0, 0);
    EXPECT_EQ(RemoveSystemEvents(OfObject, (void *)7), 1);
    EXPECT_EQ(GetSystemEvent(&e), 0);
    PostSystemEvent(SYSEVENT_RUNEXIT, 4, 0, 0, 1, 0, 0);
    ASSERT_EQ(GetSystemEvent(&e), 1);
    EXPECT_EQ(e.data1, 4u);
}

TEST_F(SystemEvents, EventsPostedWhileOthersAreRemovedKeepTheirOrder)
{
    // Posters append numbered events of their own object while this thread keeps
    // removing object 99's events: every poster's events must come out in order.
    const int posters = 4, perPoster = 5000;
    std::vector<std::thread> threads;
    for (int p = 0; p < posters; p++) {
        threads.emplace_back([p] {
            for (int i = 0; i < perPoster; i++) {
                PostSystemEvent(SYSEVENT_RUNEXIT, (uintptr_t)p, (uintptr_t)i, 0, 1, 0, 0);
                if (i % 4 == 0) PostSystemEvent(SYSEVENT_RUNEXIT, 99, 0, 0, 1, 0, 0);
                if (i % 16 == 0) std::this_thread::yield();  // keep posting while the removals run
            }
        });
    }
    std::vector<int> next(posters, 0);
    int received = 0, removed = 0;
    lvSystemEvent e;
    while (received < posters * perPoster) {
        removed += RemoveSystemEvents(OfObject, (void *)99);
        // Take only a few each round, so the removals keep meeting a long queue.
        for (int n = 0; n < 16 && GetSystemEvent(&e); n++) {
            if (e.data1 == 99) {
                removed++;
                continue;
            }
            ASSERT_LT(e.data1, (uintptr_t)posters);
            ASSERT_EQ(e.data2, (uintptr_t)next[e.data1]) << "poster " << e.data1;
            next[e.data1]++;
            received++;
        }
    }
    for (std::thread &t : threads) t.join();
    removed += RemoveSystemEvents(OfObject, (void *)99);
    EXPECT_EQ(GetSystemEvent(&e), 0);
    EXPECT_EQ(removed, posters * (perPoster / 4));
}
