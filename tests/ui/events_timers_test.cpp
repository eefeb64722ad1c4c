// Intervals and time-outs through the whole engine: the platform timer queue, the main
// loop that marks firings, the gathering pass and the waits; identifiers and their
// errors; the timer adapter; the shared internal interval.
#include "events_fakes.h"
#include "vm/lvvm.h"
#include <chrono>
#include <thread>
#include <vector>
#include <algorithm>

namespace {

class EventTimers : public EventEngineTest {};

using Clock = std::chrono::steady_clock;

void SleepMs(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Lets firings in as the pumping thread would.
void PumpAfter(int ms)
{
    SleepMs(ms);
    PumpMessages(1);
}

int CountActions(const FakeMachine &m, const char *action)
{
    int n = 0;
    for (const FakeCall &c : m.calls) n += c.action == action;
    return n;
}

}  // namespace

// The rate is measured against the monotonic clock, not a fixed window: on a loaded
// machine the loop may be starved for a while, and firings that fall due meanwhile merge
// into one mark. Such gaps are counted as the firings they swallowed.
TEST_F(EventTimers, AnIntervalOf50MsFiresAboutTwentyTimesASecond)
{
    struct Run {
        Clock::time_point start;               // before the interval was set
        std::vector<Clock::time_point> calls;  // when each callback's wait returned
        int error = 0;                         // a failure of the wait
    } run;
    int result = RunMainLoop(
        [](void *data) {
            Run *r = (Run *)data;
            r->start = Clock::now();
            if (SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 50, 7, -1, nullptr)) return 1;
            Clock::time_point end = r->start + std::chrono::seconds(1);
            while (Clock::now() < end) {
                int results;
                if ((r->error = RunWaitEvent(nullptr, &results))) return 2;
                r->calls.push_back(Clock::now());
            }
            return 0;
        },
        &run);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(run.error, 0);
    ASSERT_GE(run.calls.size(), 2u);
    auto ms = [](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); };
    double elapsed = ms(run.calls.back() - run.start);
    int swallowed = 0;
    Clock::time_point previous = run.start;
    for (Clock::time_point t : run.calls) {
        swallowed += std::max(0, (int)(ms(t - previous) / 50.0 + 0.5) - 1);
        previous = t;
    }
    int fired = (int)run.calls.size();
    // Never more firings than the clock allows, and none lost beyond the starved gaps.
    EXPECT_LE(fired, elapsed / 50.0 + 1.5) << elapsed << " ms";
    EXPECT_GE(fired + swallowed, elapsed / 50.0 - 1.5) << elapsed << " ms, " << swallowed << " swallowed";
    EXPECT_GE(fired, 5) << "the interval hardly fired";
    EXPECT_EQ(CountActions(machine, "Interval"), (int)machine.calls.size());
}

TEST_F(EventTimers, WithADisplayAdapterTheMessageThreadMarksFiringsAndWakesTheAdapter)
{
    // The adapter's loop runs the script on this thread; its wake hook wakes the script.
    SetWakeMainLoopHook(WakeScriptThread);
    int result = RunMainLoopWithAdapter(
        [](void *) {
            if (SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{2, nullptr}, 0, 10, 8, -1, nullptr)) return 1;
            for (int i = 0; i < 3; i++) {
                int results;
                if (RunWaitEvent(nullptr, &results) || results != 1) return 2;
            }
            return 0;
        },
        nullptr);
    SetWakeMainLoopHook(nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(CountActions(machine, "Interval"), 3);
}

TEST_F(EventTimers, ATimeoutFiresOnceAndReleasesItsReferencesAfterTheCall)
{
    int result = RunMainLoop(
        [](void *) {
            if (SetTimerObject(nullptr, LV_TYPE_TIMEOUT, lvObjectId{4, nullptr}, 0, 20, 30, 31, nullptr)) return 1;
            int results;
            if (RunWaitEvent(nullptr, &results) || results != 1) return 2;
            if (FirstTimeout() != nullptr) return 3;  // gone once it ran
            SleepMs(60);
            WaitScriptWake(nullptr, 0);
            if (RunCheckEvent(nullptr, &results)) return 4;
            return 0;
        },
        nullptr);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(machine.calls.size(), 1u);
    EXPECT_EQ(machine.calls[0].action, "Timeout");
    EXPECT_EQ(machine.calls[0].function, 30);
    EXPECT_EQ(machine.calls[0].userData, 31);
    EXPECT_EQ(machine.calls[0].id.number, 4u);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{30, 31}));
    EXPECT_EQ(CountSystemTimers(), 0);
}

TEST_F(EventTimers, ClearingAnAlreadyQueuedFiringStopsItsCallback)
{
    lvInterval *interval = nullptr, *timeout = nullptr;
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{0, nullptr}, 1, 5, 40, -1, &interval), 0);
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_TIMEOUT, lvObjectId{2, nullptr}, 0, 5, 41, -1, &timeout), 0);
    PumpAfter(40);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    ASSERT_EQ(CountQueuedCallbacks(), 2);
    EXPECT_EQ(RemoveInterval(nullptr, GetObjectIdOf(&interval->header)), 0);
    EXPECT_EQ(RemoveTimeout(nullptr, lvObjectId{2, nullptr}), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    EXPECT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_TRUE(machine.calls.empty());
    EXPECT_EQ(CountSystemTimers(), 0);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{40, 41}));
}

TEST_F(EventTimers, ABusyScriptGetsOneIntervalCallbackNotOnePerFiring)
{
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 10, 5, -1, nullptr), 0);
    PumpAfter(100);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_EQ(CountActions(machine, "Interval"), 1);
}

TEST_F(EventTimers, AWaitWithNothingPendingReturnsAtOnce)
{
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 10000, 5, -1, nullptr), 0);
    Clock::time_point start = Clock::now();
    int results = 0;
    EXPECT_EQ(RunCheckEvent(nullptr, &results), 0);
    EXPECT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 100);
    EXPECT_EQ(results, 1);
    EXPECT_TRUE(machine.calls.empty());
}

TEST_F(EventTimers, IdentifiersAndTheirErrors)
{
    // Nil: the record's address is the handle.
    lvInterval *made = nullptr;
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{0, nullptr}, 1, 100, 1, -1, &made), 0);
    ASSERT_NE(made, nullptr);
    lvObjectId handle = GetObjectIdOf(&made->header);
    EXPECT_EQ(handle.number, 0);
    EXPECT_EQ(handle.handle, (void *)made);
    EXPECT_EQ(RemoveInterval(nullptr, handle), 0);
    EXPECT_EQ(RemoveInterval(nullptr, handle), ERR_FINDARRAY);
    // The same number twice: one interval with the second function and period.
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 100, 2, 3, nullptr), 0);
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 200, 4, -1, nullptr), 0);
    ASSERT_NE(FirstInterval(), nullptr);
    EXPECT_EQ(NextTimer(FirstInterval()), nullptr);
    EXPECT_EQ(FirstInterval()->function, 4);
    EXPECT_EQ(FirstInterval()->period, 200);
    EXPECT_EQ(CountSystemTimers(), 1);
    // Bad periods create nothing and give back the references.
    machine.released.clear();
    for (int period : {0, -5}) {
        EXPECT_EQ(SetTimerObject(nullptr, LV_TYPE_TIMEOUT, lvObjectId{9, nullptr}, 0, period, 8, 9, nullptr),
                  ERR_WRONGUSAGE);
    }
    EXPECT_EQ(FirstTimeout(), nullptr);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{8, 9, 8, 9}));
    // Lookups.
    lvInterval *found;
    EXPECT_EQ(FindIntervalById(lvObjectId{5, nullptr}, &found), ERR_FINDINTERVAL);
    EXPECT_EQ(RemoveInterval(nullptr, lvObjectId{5, nullptr}), ERR_FINDINTERVAL);
    EXPECT_EQ(gVMRun.errorNumberArg, 5);  // the message shows the number
    EXPECT_EQ(RemoveTimeout(nullptr, lvObjectId{5, nullptr}), ERR_FINDTIMEOUT);
    EXPECT_EQ(RemoveTimeout(nullptr, lvObjectId{0, (void *)0x1234}), ERR_FINDARRAY);
    // ChangeInterval refuses what SetInterval refuses.
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{1, nullptr}, 0), ERR_WRONGUSAGE);
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{1, nullptr}, -20), ERR_WRONGUSAGE);
    EXPECT_EQ(FirstInterval()->period, 200);
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{5, nullptr}, 20), ERR_FINDINTERVAL);
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{1, nullptr}, 30), 0);
    EXPECT_EQ(FirstInterval()->period, 30);
    // A changed interval fires at once.
    PumpAfter(15);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_EQ(CountActions(machine, "Interval"), 1);
}

TEST_F(EventTimers, TheInternalIntervalIsSharedByItsUsers)
{
    ASSERT_EQ(RequireInternalInterval(nullptr, 0), 0);
    ASSERT_EQ(RequireInternalInterval(nullptr, 1), 0);
    EXPECT_EQ(CountSystemTimers(), 1);
    ASSERT_NE(FirstInterval(), nullptr);
    EXPECT_EQ(FirstInterval()->function, -1);
    EXPECT_NE(FirstInterval()->header.handle, nullptr);  // its own address: no script number equals it
    ReleaseInternalInterval(nullptr, 0);
    EXPECT_EQ(CountSystemTimers(), 1);
    ReleaseInternalInterval(nullptr, 1);
    EXPECT_EQ(CountSystemTimers(), 0);
    EXPECT_EQ(FirstInterval(), nullptr);
}

// ---- The timer adapter ------------------------------------------------------------------------

namespace {

struct FakeAdapter {
    uintptr_t nextHandle = 100;          // handles handed out
    bool refuse = false;                 // RegisterTimer answers 0
    std::vector<uintptr_t> freed;        // FreeTimer calls
    std::vector<int> oneShots;           // the one-shot flag of each registration
};

FakeAdapter *adapter = nullptr;

uintptr_t AdapterRegister(lvState *, int32_t period, int32_t oneShot)
{
    if (adapter->refuse) return 0;
    adapter->oneShots.push_back(oneShot);
    return adapter->nextHandle++;
}

void AdapterFree(uintptr_t handle)
{
    adapter->freed.push_back(handle);
}

const lvTimerAdapter fakeTimerAdapter = {AdapterRegister, AdapterFree};

}  // namespace

TEST_F(EventTimers, InstallingATimerAdapterFollowsTheRules)
{
    // Outlives the test body: closing the engine in TearDown frees the adapter's timers.
    static FakeAdapter fake;
    fake = FakeAdapter{};
    adapter = &fake;
    EXPECT_EQ(InstallTimerAdapter(0, &fakeTimerAdapter, 0), ERR_WRONGUSAGE);
    machine.setupPhase = 0;
    EXPECT_EQ(InstallTimerAdapter(LV_PLUGINCAPS_TIMERADAPTER, &fakeTimerAdapter, 0), ERR_SETADAPTER);
    machine.setupPhase = 1;
    EXPECT_EQ(InstallTimerAdapter(LV_PLUGINCAPS_TIMERADAPTER, &fakeTimerAdapter, 1), 0);
    // Bit 0 of the installed adapter's flags forbids replacing it.
    EXPECT_EQ(InstallTimerAdapter(LV_PLUGINCAPS_TIMERADAPTER, &fakeTimerAdapter, 0), ERR_SETADAPTER);
}

TEST_F(EventTimers, ARefusingTimerAdapterGives1297AndLeavesOtherTimersWorking)
{
    // Outlives the test body: closing the engine in TearDown frees the adapter's timers.
    static FakeAdapter fake;
    fake = FakeAdapter{};
    adapter = &fake;
    ASSERT_EQ(InstallTimerAdapter(LV_PLUGINCAPS_TIMERADAPTER, &fakeTimerAdapter, 0), 0);
    lvInterval *first = nullptr;
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 50, 10, -1, &first), 0);
    EXPECT_EQ(first->adapterTimer, 100u);
    EXPECT_EQ(CountSystemTimers(), 0);  // the adapter keeps time, not the platform
    fake.refuse = true;
    machine.released.clear();
    EXPECT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{2, nullptr}, 0, 50, 11, 12, nullptr), ERR_TIMER);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{11, 12}));
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{1, nullptr}, 75), ERR_TIMER);
    EXPECT_EQ(first->adapterTimer, 100u);  // left as it was
    EXPECT_EQ(first->period, 50);
    ASSERT_EQ(FirstInterval(), first);
    EXPECT_EQ(NextTimer(first), nullptr);
    // The interval made before still fires, at once through TimerFired.
    fake.refuse = false;
    EXPECT_EQ(TimerFired(nullptr, 100), 0);
    ASSERT_EQ(machine.calls.size(), 1u);
    EXPECT_EQ(machine.calls[0].action, "Interval");
    EXPECT_EQ(machine.calls[0].function, 10);
    EXPECT_EQ(machine.calls[0].id.number, 1u);
    EXPECT_EQ(machine.calls[0].wantTable, 0);
    EXPECT_EQ(TimerFired(nullptr, 999), 0);  // no match: nothing
    EXPECT_EQ(machine.calls.size(), 1u);
    // A change takes a new handle and frees the old one.
    EXPECT_EQ(ChangeInterval(nullptr, lvObjectId{1, nullptr}, 75), 0);
    EXPECT_EQ(fake.freed, (std::vector<uintptr_t>{100}));
    EXPECT_EQ(first->adapterTimer, 101u);
}

TEST_F(EventTimers, AnAdapterTimeoutIsFreedBeforeItsCallbackWhichKeepsWhatItNeeds)
{
    // Outlives the test body: closing the engine in TearDown frees the adapter's timers.
    static FakeAdapter fake;
    fake = FakeAdapter{};
    adapter = &fake;
    ASSERT_EQ(InstallTimerAdapter(LV_PLUGINCAPS_TIMERADAPTER, &fakeTimerAdapter, 0), 0);
    lvInterval *timeout = nullptr;
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_TIMEOUT, lvObjectId{0, nullptr}, 1, 50, 20, 21, &timeout), 0);
    lvEventId handle = TimerEventId(timeout);
    EXPECT_EQ(fake.oneShots, (std::vector<int>{1}));
    machine.onCall = [&](lvEventCallback *) {
        // By the time the function runs the time-out is gone and its timer freed.
        EXPECT_EQ(FirstTimeout(), nullptr);
        EXPECT_EQ(fake.freed, (std::vector<uintptr_t>{100}));
        return 0;
    };
    EXPECT_EQ(TimerFired(nullptr, 100), 0);
    ASSERT_EQ(machine.calls.size(), 1u);
    EXPECT_EQ(machine.calls[0].action, "Timeout");
    EXPECT_EQ(machine.calls[0].function, 20);
    EXPECT_EQ(machine.calls[0].userData, 21);
    EXPECT_EQ(machine.calls[0].id.handle, handle.handle);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{20, 21}));
    EXPECT_EQ(TimerFired(nullptr, 100), 0);  // fires once
    EXPECT_EQ(machine.calls.size(), 1u);
    // The internal interval's adapter timer wakes only.
    ASSERT_EQ(RequireInternalInterval(nullptr, 0), 0);
    EXPECT_EQ(TimerFired(nullptr, FirstInterval()->adapterTimer), 0);
    EXPECT_EQ(machine.calls.size(), 1u);
}

TEST_F(EventTimers, IntervalsAndTimeoutsAreObjectsTheGenericLookupsFind)
{
    ASSERT_EQ(RegisterObjectType(LV_TYPE_INTERVAL, "Intervals", IntervalListHead(), nullptr, nullptr, 0), 0);
    ASSERT_EQ(RegisterObjectType(LV_TYPE_TIMEOUT, "Timeouts", TimeoutListHead(), nullptr, nullptr, 0), 0);
    lvInterval *nil = nullptr;
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{3, nullptr}, 0, 1000, 1, -1, nullptr), 0);
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_TIMEOUT, lvObjectId{0, nullptr}, 1, 1000, 2, -1, &nil), 0);
    EXPECT_EQ(CountObjectsOfType(LV_TYPE_INTERVAL), 1);
    EXPECT_EQ(CountObjectsOfType(LV_TYPE_TIMEOUT), 1);
    EXPECT_EQ(FindAnyObject(LV_TYPE_INTERVAL, lvObjectId{3, nullptr}), &FirstInterval()->header);
    EXPECT_EQ(FindAnyObject(LV_TYPE_TIMEOUT, GetObjectIdOf(&nil->header)), &nil->header);
    EXPECT_EQ(GetTypeOfHandle(nil), LV_TYPE_TIMEOUT);
    FreeObjectTypes();
}
