// corelib2_wait_test.cpp - Wait keeps serving events: while the script thread waits in
// the time library's Wait, an interval of the platform timer queue keeps firing and is
// collected by the event hooks, as the event library's callbacks would be.
#include "corelib2_harness.h"

#include <atomic>
#include <chrono>

#include "platform/lvplatform.h"
#include "ui/lib_event.h"

namespace {

std::atomic<int> gFired{0};  // interval firings collected during the wait

int CollectFiredTimers(void *, int *errorCode)
{
    *errorCode = 0;
    uint64_t node = 0;
    int kind = 0;
    lvTimerKey key;
    while ((node = NextFiredTimer(node, &kind, &key)) != 0)
        if (kind == TIMERKIND_INTERVAL) gFired++;
    return 0;
}

struct WaitRun {
    CoreLibTest *test;  // the fixture whose machine runs the wait
    lvState *L;         // its machine
    int status;         // the Wait call's status
};

TEST_F(CoreLibTest, AnIntervalKeepsFiringDuringWait)
{
    ASSERT_EQ(InitLoopSignals(), 0);
    ASSERT_EQ(InitTimerQueue(), 0);
    lvEventLoopHooks saved = GetEventLoopHooks();
    lvEventLoopHooks hooks = saved;
    hooks.PollEvents = CollectFiredTimers;
    SetEventLoopHooks(&hooks);
    gFired = 0;
    ASSERT_EQ(SetSystemTimer(TIMEROP_ADDINTERVAL, lvTimerKey{1, 0}, 10), 0);
    WaitRun run = {this, L, -1};
    int result = RunMainLoop(
        [](void *data) {
            WaitRun *r = static_cast<WaitRun *>(data);
            ClaimVMState(r->L);
            r->status = r->test->CallFromThread("wait", 200, 1);
            return 0;
        },
        &run);
    SetSystemTimer(TIMEROP_REMOVEINTERVAL, lvTimerKey{1, 0}, 0);
    SetEventLoopHooks(&saved);
    FreeTimerQueue();
    FreeLoopSignals();
    ClaimVMState(L);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(run.status, 0);
    // 200 ms at 10 ms: about twenty firings (fewer on a loaded machine); a wait that served
    // nothing would collect none.
    EXPECT_GE(gFired.load(), 3);
}

struct ScriptRun {
    CoreLibTest *test;  // the fixture whose machine runs the chunk
    lvState *L;         // its machine
    int status;         // the chunk's status
};

TEST_F(CoreLibTest, AScriptIntervalRunsWhileTheScriptWaits)
{
    ASSERT_EQ(InitPlatform(), 0);
    PushCopy(L, LV_GLOBALSINDEX);
    ASSERT_EQ(OpenEventLibrary(L), 0);
    SetStackTop(L, 0);
    ScriptRun run = {this, L, -1};
    int result = RunMainLoop(
        [](void *data) {
            ScriptRun *r = static_cast<ScriptRun *>(data);
            ClaimVMState(r->L);
            r->status = r->test->RunChunkFromThread("interval_wait");
            return 0;
        },
        &run);
    ClaimVMState(L);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(run.status, 0);
    ASSERT_EQ(GetValueType(L, 1), LV_TNUMBER);
    // The interval fired while the script waited: its callback was queued and ran at the
    // CheckEvents after the wait. (Firings are collected one by one only while the event
    // library's loop hooks gather events; without them they merge into one.)
    EXPECT_GE(ValueToNumber(L, 1), 1);
    CloseEventLibrary(L);
    FreeLoopSignals();
}

TEST_F(CoreLibTest, WaitUnitsAndPlainSleeps)
{
    using Clock = std::chrono::steady_clock;
    const struct {
        std::vector<CoreArg> args;  // Wait's arguments
        int atLeast;                // milliseconds
        int below;                  // milliseconds
    } waits[] = {{{1}, 20, 1000}, {{30, 1}, 30, 1000}, {{0.9, 0}, 0, 500}, {{-5}, 0, 500}};
    // The waits time themselves with the platform's timer queue, as in a run.
    ASSERT_EQ(InitTimerQueue(), 0);
    for (const auto &w : waits) {
        Clock::time_point start = Clock::now();
        ASSERT_EQ(Call("wait", w.args), 0);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
        EXPECT_GE(ms, w.atLeast);
        EXPECT_LT(ms, w.below);
    }
    Clock::time_point start = Clock::now();
    ASSERT_EQ(Call("sleep", {25}), 0);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 25);
    FreeTimerQueue();
}

int AskToQuit(void *, int *errorCode)
{
    *errorCode = 0;
    return 1;
}

TEST_F(CoreLibTest, AQuitDuringAWaitEndsItWithTheQuitCode)
{
    ASSERT_EQ(InitTimerQueue(), 0);
    lvEventLoopHooks saved = GetEventLoopHooks();
    lvEventLoopHooks hooks = saved;
    hooks.PollEvents = AskToQuit;
    SetEventLoopHooks(&hooks);
    WakeScriptThread();  // the first wait returns at once, and the poll asks to quit
    EXPECT_EQ(Call("wait", {5, 0}), ERR_USERABORT);
    ASSERT_EQ(Call("starttimer", {1, 5000}), 0);
    WakeScriptThread();
    EXPECT_EQ(Call("waittimer", {1}), ERR_USERABORT);
    WakeScriptThread();
    EXPECT_EQ(Call("waittimer", {}), ERR_USERABORT);
    SetEventLoopHooks(&saved);
    FreeTimerQueue();
}

}  // namespace
