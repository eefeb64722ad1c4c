// The runtime's line hook as a real run installs it (InstallLineHook): polls fall due by
// the timer, every line while line work asks for it, and the stop request ends a busy
// script within 10 ms of CPU time with the hook installed or not.
#include <atomic>
#include <chrono>
#include <thread>

#include "runtime/startup.h"
#include "tests/vm/vm_test_util.h"

namespace {
std::atomic<long> gPolls{0};
int CountPolls(lvState *, int)
{
    gPolls++;
    return 0;
}

// A loop of about 3 * 10^6 instructions on distinct lines.
const char *const kBusyLoop = R"(
    loadk     r0 0
    loadk     r1 1
    loadk     r2 1000000
    loadk     r3 1
    sub       r1 r1 r3
    jmp       test
body:
    add       r0 r0 r1
test:
    forloop   r1 body
    return    r0 2
)";

class LineHookTest : public VMTest {
protected:
    void SetUp() override
    {
        VMTest::SetUp();
        lvStartupHooks hooks{};
        hooks.PollRuntimeEvents = CountPolls;
        SetStartupHooks(&hooks);
        gPolls = 0;
    }
    void TearDown() override
    {
        SetStartupHooks(nullptr);
        VMTest::TearDown();
    }
};
}  // namespace

TEST_F(LineHookTest, PollsFallDueByTheTimerAndEveryLineOnRequest)
{
    ASSERT_EQ(Load(kBusyLoop), 0);
    InstallLineHook(L);
    // Only the timer's polls: the loop's 2 * 10^6 new lines call the runtime rarely.
    auto t0 = std::chrono::steady_clock::now();
    PushCopy(L, 1);
    ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_LT(gPolls.load(), 1000 + ms) << "the hook ran at lines with no work";
    // The timer is running: a loop that lasts keeps seeing polls.
    gPolls = 0;
    while (gPolls.load() < 3) {
        PushCopy(L, 1);
        ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
        SetStackTop(L, 1);
    }
    // Every line: the poll runs at each of the loop's 2 * 10^6 + 2 new lines.
    gPolls = 0;
    SetLineHookWork(LV_LINEWORK_EVERYLINE, 1);
    PushCopy(L, 1);
    ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
    SetLineHookWork(LV_LINEWORK_EVERYLINE, 0);
    EXPECT_GE(gPolls.load(), 2000000);
}

TEST_F(LineHookTest, StopRequestEndsABusyLoopWithTheHookAndWithout)
{
    ASSERT_EQ(Load("loop:\n    add r0 r0 1\n    jmp loop\n    return r0 1\n"), 0);
    clockid_t scriptClock = ThreadCpuClock();
    auto cpuNs = [scriptClock] { return CpuNanoseconds(scriptClock); };
    for (int mode = 0; mode < 3; mode++) {  // no hook, the runtime's hook, the hook on every line
        SCOPED_TRACE(mode);
        if (mode == 1) InstallLineHook(L);
        SetLineHookWork(LV_LINEWORK_EVERYLINE, mode == 2);
        std::atomic<int64_t> cpuAtRequest{0};
        std::thread stopper([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
            RequestScriptStop(1);
            cpuAtRequest = cpuNs();
        });
        PushCopy(L, 1);
        int st = ProtectedCall(L, 0, 0, 0);
        int64_t cpuAtEnd = cpuNs();
        stopper.join();
        RequestScriptStop(0);
        SetStackTop(L, 1);
        EXPECT_EQ(st, ERR_USERABORT);
        EXPECT_LT(cpuAtEnd - cpuAtRequest.load(), 10 * 1000 * 1000) << "ran on for more than 10 ms of CPU time";
    }
    SetLineHookWork(LV_LINEWORK_EVERYLINE, 0);
}
