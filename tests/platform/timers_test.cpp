// The timer queue: firing, marking through thread messages, collecting, removal
// while a firing is in flight, period changes and the event-serving sleep.
// A pump thread stands in for the main loop: it waits on the loop's slots and
// pumps thread messages, as the message thread of an adapter run does.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <atomic>
#include <chrono>
#include <dirent.h>
#include <thread>

namespace {

class PlatformTimerQueue : public testing::Test {
protected:
    std::atomic<int> stop{0};
    std::thread pump;

    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitLoopSignals(), 0);
        ASSERT_EQ(InitTimerQueue(), 0);
    }
    void StartPump()
    {
        pump = std::thread([this] {
            while (!stop.load()) {
                int moved = 0;
                WaitAndDispatch(&moved, 1, 5);
            }
        });
    }
    void TearDown() override
    {
        stop = 1;
        if (pump.joinable()) pump.join();
        FreeTimerQueue();
        FreeLoopSignals();
    }
    // Collects every fired node once; returns how many of the kind with that key fired.
    static int Collect(int wantKind, lvTimerKey want)
    {
        int count = 0, kind;
        lvTimerKey key;
        for (uint64_t at = NextFiredTimer(0, &kind, &key); at; at = NextFiredTimer(at, &kind, &key))
            if (kind == wantKind && key.first == want.first && key.second == want.second) count++;
        return count;
    }
};

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Threads of this process now.
int ThreadCount()
{
    int count = 0;
    if (DIR *dir = opendir("/proc/self/task")) {
        while (dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.') count++;
        closedir(dir);
    }
    return count;
}

// A joined thread may still be listed for a moment: waits (at most a second) for the count.
int ThreadCountSettled(int want)
{
    int count = ThreadCount();
    for (int i = 0; i < 200 && count != want; i++) {
        SleepMs(5);
        count = ThreadCount();
    }
    return count;
}

}  // namespace

TEST_F(PlatformTimerQueue, TimeoutFiresOnceAndIsRemovedWhenCollected)
{
    StartPump();
    lvTimerKey key = {7, 0};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, key, 20), 0);
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, key), 0);  // not yet
    SleepMs(80);
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, key), 1);
    EXPECT_EQ(CountSystemTimers(), 0);
    SleepMs(40);
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, key), 0);
}

TEST_F(PlatformTimerQueue, IntervalFiringsBetweenCollectionsCountOnce)
{
    // This thread pumps, so no firing can be marked between two collections.
    lvTimerKey key = {1, 0};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, key, 20), 0);
    SleepMs(120);  // about six firings
    PumpMessages(1);
    EXPECT_EQ(Collect(TIMERKIND_INTERVAL, key), 1);
    EXPECT_EQ(Collect(TIMERKIND_INTERVAL, key), 0);  // the mark was cleared
    EXPECT_EQ(CountSystemTimers(), 1);               // an interval stays
    SleepMs(60);
    PumpMessages(1);
    EXPECT_EQ(Collect(TIMERKIND_INTERVAL, key), 1);
    EXPECT_EQ(SetSystemTimer(TIMEROP_REMOVEINTERVAL, key, 0), 0);
    EXPECT_EQ(CountSystemTimers(), 0);
}

TEST_F(PlatformTimerQueue, KeysAreComparedAsPairsAndKindsApart)
{
    StartPump();
    lvTimerKey a = {0, 0x1000}, b = {0, 0x2000};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, a, 10), 0);
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, a, 10000), 0);
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, b, 10000), 0);
    // Removing an interval with a's key leaves the time-out of the same key.
    EXPECT_EQ(SetSystemTimer(TIMEROP_REMOVEINTERVAL, a, 0), 0);
    EXPECT_EQ(SetSystemTimer(TIMEROP_REMOVEINTERVAL, a, 0), 0);  // absent: no error
    SleepMs(60);
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, a), 1);
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, b), 0);
    EXPECT_EQ(CountSystemTimers(), 1);
}

TEST_F(PlatformTimerQueue, AFiringInFlightMarksNoTimerThatTookItsPlace)
{
    // No pump yet: the firing's message waits in the thread-message queue.
    lvTimerKey key = {3, 0};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, key, 5), 0);
    SleepMs(40);
    // Remove it and make a new timer that may well reuse the freed node's memory.
    ASSERT_EQ(SetSystemTimer(TIMEROP_REMOVETIMEOUT, key, 0), 0);
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, key, 10000), 0);
    PumpMessages(1);  // delivers the stale firing
    EXPECT_EQ(Collect(TIMERKIND_TIMEOUT, key), 0);
    EXPECT_EQ(CountSystemTimers(), 1);
}

TEST_F(PlatformTimerQueue, ChangingThePeriodFiresAtOnce)
{
    StartPump();
    lvTimerKey key = {9, 0};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, key, 60000), 0);
    ASSERT_EQ(SetSystemTimer(TIMEROP_CHANGEPERIOD, key, 60000), 0);
    SleepMs(50);
    EXPECT_EQ(Collect(TIMERKIND_INTERVAL, key), 1);
    // A change of a key that names no interval is no error; a bad period is refused.
    EXPECT_EQ(SetSystemTimer(TIMEROP_CHANGEPERIOD, lvTimerKey{10, 0}, 5), 0);
    EXPECT_EQ(SetSystemTimer(TIMEROP_CHANGEPERIOD, key, 0), ERR_TIMER);
    EXPECT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, key, -5), ERR_TIMER);
}

// A run that sets no timer keeps its start-up free of threads (the display connection is
// cheaper then); the first timer, or the first sleep after a restart, starts the thread.
TEST_F(PlatformTimerQueue, TheThreadStartsWithTheFirstTimer)
{
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "the race checker starts threads of its own, so the count is not ours";
#endif
    int before = ThreadCount();
    EXPECT_EQ(InitTimerQueue(), 0);  // again: no change
    EXPECT_EQ(ThreadCount(), before);
    StartPump();
    lvTimerKey key = {3, 0};
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDTIMEOUT, key, 10), 0);
    EXPECT_EQ(ThreadCount(), before + 2);  // the pump and the timer thread
    for (int i = 0; i < 100 && Collect(TIMERKIND_TIMEOUT, key) == 0; i++) SleepMs(5);
    EXPECT_EQ(CountSystemTimers(), 0);
    FreeTimerQueue();
    EXPECT_EQ(ThreadCountSettled(before + 1), before + 1);
    ASSERT_EQ(InitTimerQueue(), 0);
    EXPECT_EQ(ThreadCount(), before + 1);
    lvEventLoopHooks hooks = {[](void *state) { return WaitScriptWake(state, 5); },
                              [](void *, int *code) {
                                  *code = 0;
                                  return 0;
                              }};
    SetEventLoopHooks(&hooks);
    EXPECT_EQ(SleepWithEvents(nullptr, 10), 0);
    EXPECT_EQ(ThreadCount(), before + 2);
    SetEventLoopHooks(nullptr);
}

TEST_F(PlatformTimerQueue, AddingFailsCleanlyWhenTheQueueIsDownOrMemoryRunsOut)
{
    FailAllocMemoryAfter(0);
    EXPECT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, lvTimerKey{1, 0}, 10), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(CountSystemTimers(), 0);
    FreeTimerQueue();
    EXPECT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, lvTimerKey{1, 0}, 10), ERR_TIMER);
    EXPECT_EQ(SleepWithEvents(nullptr, 10), ERR_TIMER);
    EXPECT_EQ(InitTimerQueue(), 0);
}

TEST_F(PlatformTimerQueue, SleepWithEventsServesTheHooksUntilItsTime)
{
    static std::atomic<int> polls{0};
    static std::atomic<int> quitAfter{-1};
    lvEventLoopHooks hooks = {
        [](void *state) { return WaitScriptWake(state, 5); },
        [](void *state, int *code) {
            *code = 0;
            int n = ++polls;
            return quitAfter >= 0 && n > quitAfter ? 1 : 0;
        }};
    SetEventLoopHooks(&hooks);
    EXPECT_EQ(SleepWithEvents(nullptr, 0), 0);
    EXPECT_EQ(polls.load(), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(SleepWithEvents(nullptr, 40), 0);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_GE(took.count(), 38);
    EXPECT_LT(took.count(), 1000);
    EXPECT_GT(polls.load(), 0);  // events were served while sleeping
    // A quit request during the sleep ends it with a user abort.
    quitAfter = polls.load() + 1;
    EXPECT_EQ(SleepWithEvents(nullptr, 5000), ERR_USERABORT);
    EXPECT_EQ(CountSystemTimers(), 0);
    SetEventLoopHooks(nullptr);
}

TEST_F(PlatformTimerQueue, SleepServesEveryWakeUpAndStopsOnTheServeHooksCode)
{
    static std::atomic<int> serves{0};
    static std::atomic<int> failAfter{-1};
    lvEventLoopHooks hooks = {[](void *state) { return WaitScriptWake(state, 5); }, nullptr};
    SetEventLoopHooks(&hooks);
    SetSleepServeHook([](void *) {
        int n = ++serves;
        return failAfter >= 0 && n > failAfter ? ERR_MEM : 0;
    });
    EXPECT_EQ(SleepWithEvents(nullptr, 60), 0);
    // The wait gives up every 5 ms: about a dozen passes, each served.
    EXPECT_GE(serves.load(), 5);
    failAfter = serves.load() + 2;
    EXPECT_EQ(SleepWithEvents(nullptr, 5000), ERR_MEM);
    EXPECT_EQ(serves.load(), failAfter.load() + 1);
    EXPECT_EQ(CountSystemTimers(), 0) << "the sleep's own timer is gone";
    SetSleepServeHook(nullptr);
    SetEventLoopHooks(nullptr);
}
