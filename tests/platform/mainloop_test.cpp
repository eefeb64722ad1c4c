// The main loop: the script thread's result, wake-ups after each pass, main-thread
// requests, thread messages, the end slot and the adapter form with its message thread.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <atomic>
#include <thread>

namespace {

class PlatformMainLoop : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitLoopSignals(), 0);
    }
    void TearDown() override
    {
        SetMainLoopHooks(nullptr);
        FreeLoopSignals();
    }
};

std::atomic<int> servedOnPumpingThread{0};

int32_t AddRequest(const uintptr_t argument[4])
{
    servedOnPumpingThread = IsPumpingThread();
    return (int32_t)(argument[0] + argument[1] + argument[2] + argument[3]);
}

}  // namespace

TEST_F(PlatformMainLoop, ScriptResultEndsTheLoopAndRequestsRunOnThePumpingThread)
{
    SetMainThreadRequestHandler(5, AddRequest);
    struct Seen {
        int32_t sum;          // what the request returned
        int pumping;          // whether it ran on the pumping thread
        int scriptIsPumping;  // whether the script thread counts as pumping
        int unknown;          // result of an unknown request code
    } seen = {};
    int result = RunMainLoop(
        [](void *state) {
            Seen *s = (Seen *)state;
            s->scriptIsPumping = IsPumpingThread();
            s->sum = CallOnMainThread(5, 1, 2, 3, 4);
            s->pumping = servedOnPumpingThread;
            s->unknown = CallOnMainThread(17, 0, 0, 0, 0);
            return 1234;
        },
        &seen);
    EXPECT_EQ(result, 1234);
    EXPECT_EQ(seen.sum, 10);
    EXPECT_EQ(seen.pumping, 1);
    EXPECT_EQ(seen.scriptIsPumping, 0);
    EXPECT_EQ(seen.unknown, ERR_WRONGUSAGE);
    // Without a running loop the operation runs on the caller.
    servedOnPumpingThread = -1;
    EXPECT_EQ(CallOnMainThread(5, 5, 5, 0, 0), 10);
    EXPECT_EQ(servedOnPumpingThread.load(), 0);
    SetMainThreadRequestHandler(5, nullptr);
}

TEST_F(PlatformMainLoop, AWakeRunsAPassThatWakesTheScriptAndFoldsMouseMoves)
{
    static std::atomic<int> folds{0}, movedFolds{0}, pumps{0};
    lvMainLoopHooks hooks = {};
    hooks.FoldWindowChanges = [](int moved) {
        folds++;
        if (moved) movedFolds++;
    };
    hooks.PumpWindows = [] { pumps++; };
    SetMainLoopHooks(&hooks);
    int result = RunMainLoop(
        [](void *) {
            // Drain the wake of the loop's start, then ask for a pass and wait for its wake.
            WaitScriptWake(nullptr, 50);
            int before = folds;
            WakeMainLoop();
            WaitScriptWake(nullptr, -1);
            if (folds <= before) return 1;
            SignalMouseMoved();
            for (int i = 0; i < 200 && movedFolds == 0; i++) WaitScriptWake(nullptr, 10);
            return movedFolds > 0 ? 0 : 2;
        },
        nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_GT(pumps.load(), 0);
}

TEST_F(PlatformMainLoop, ThreadMessagesReachTheirHandlerOnThePumpingThread)
{
    static std::atomic<uint64_t> got{0};
    static std::atomic<int> onPump{0};
    SetThreadMessageHandler(2000, [](const lvThreadMessage *m) {
        got = m->word + m->data;
        onPump = IsPumpingThread();
    });
    int result = RunMainLoop(
        [](void *) {
            if (PostThreadMessage(2000, 40, 2) != 0) return 1;
            for (int i = 0; i < 200 && got == 0; i++) WaitScriptWake(nullptr, 10);
            return 0;
        },
        nullptr);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(got.load(), 42u);
    EXPECT_EQ(onPump.load(), 1);
    SetThreadMessageHandler(2000, nullptr);
}

TEST_F(PlatformMainLoop, AdapterRunServesRequestsOnTheMessageThreadUntilTheEnd)
{
    SetMainThreadRequestHandler(6, AddRequest);
    servedOnPumpingThread = 0;
    int result = RunMainLoopWithAdapter(
        [](void *) {
            if (IsPumpingThread()) return -1;
            return (int)CallOnMainThread(6, 20, 1, 0, 0);
        },
        nullptr);
    EXPECT_EQ(result, 21);
    EXPECT_EQ(servedOnPumpingThread.load(), 1);
    SetMainThreadRequestHandler(6, nullptr);
}

TEST_F(PlatformMainLoop, WaitAndDispatchReportsTheEndSlotAndTimesOutQuietly)
{
    int moved = 0;
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 0);
    SignalMouseMoved();
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 0);
    EXPECT_EQ(moved, 1);
    // Two raised slots in one wait are both served, the end among them.
    moved = 0;
    SignalMouseMoved();
    SignalMainLoopEnd();
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 1);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 1);  // the end stays seen
    // A new run starts with the end slots clear.
    EXPECT_EQ(RunMainLoop([](void *) { return 7; }, nullptr), 7);
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 0);
}

TEST_F(PlatformMainLoop, AudioSlotsAreDispatchedWhenReadable)
{
    static lvSignal *audio = NewSignal();
    static std::atomic<int> dispatched{0};
    lvMainLoopHooks hooks = {};
    hooks.FillAudioSlots = [](int *fds, void **data, int max) {
        fds[0] = GetSignalDescriptor(audio);
        data[0] = (void *)audio;
        return 1;
    };
    hooks.DispatchAudioSlot = [](int fd, void *data) {
        if (data == audio && fd == GetSignalDescriptor(audio)) dispatched++;
        WaitSignalTimeout(audio, 0);
    };
    SetMainLoopHooks(&hooks);
    int moved = 0;
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 0), 0);
    EXPECT_EQ(dispatched.load(), 0);
    RaiseSignal(audio);
    EXPECT_EQ(WaitAndDispatch(&moved, 0, 100), 0);
    EXPECT_EQ(dispatched.load(), 1);
}

TEST_F(PlatformMainLoop, TheMouseTimerReportsACursorThatMovedAndOnlyThen)
{
    static std::atomic<int> cursorX{0}, movedFolds{0};
    lvMainLoopHooks hooks = {};
    hooks.ReadCursorPosition = [](int *x, int *y) {
        *x = cursorX;
        *y = 5;
        return 1;
    };
    hooks.FoldWindowChanges = [](int moved) {
        if (moved) movedFolds++;
    };
    SetMainLoopHooks(&hooks);
    int result = RunMainLoop(
        [](void *) {
            // A cursor that stays put raises nothing, however long the timer runs.
            SleepMilliseconds(120);
            if (movedFolds != 0) return 1;
            cursorX = 40;
            for (int i = 0; i < 100 && movedFolds == 0; i++) WaitScriptWake(nullptr, 10);
            return movedFolds == 1 ? 0 : 2;
        },
        nullptr);
    EXPECT_EQ(result, 0);
}
