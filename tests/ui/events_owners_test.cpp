// Callbacks of run jobs and directory monitors that are still queued when their owner
// releases the record: the real process and monitor engines post the events, the
// dispatcher queues the callbacks, and the release must take them out of the queue
// (they point at the record, which is gone afterwards).
#include "events_fakes.h"
#include "libs/dirmonitor_engine.h"
#include "libs/process_engine.h"
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

class EventOwners : public EventEngineTest {
protected:
    // Gathers until at least count callbacks are queued, for at most five seconds.
    bool GatherUntilQueued(int count)
    {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (GatherEvents(nullptr, 0) != 0) return false;
            if (CountQueuedCallbacks() >= count) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
};

}  // namespace

TEST_F(EventOwners, ReleasingARunJobTakesItsQueuedOutputAndFinishCallbacks)
{
    lvEventSourceHooks sources = {};
    sources.JobWantsReport = [](void *job) { return RunJobWantsReport((lvRunJob *)job); };
    sources.ReleaseRunJob = [](lvState *, void *job) { ReleaseRunJob((lvRunJob *)job, nullptr); };
    SetEventSourceHooks(&sources);
    GetGlobalHandler(GLOBAL_RUNOUTPUT)->function = 80;
    GetGlobalHandler(GLOBAL_RUNFINISHED)->function = 81;
    lvRunRequest request = {};
    request.isRun = 1;
    request.program = "/bin/sh";
    request.arguments = "-c \"echo out\"";
    request.runUserData = -1;
    request.haveRunFinishedHandler = 1;
    request.haveRunOutputHandler = 1;
    lvRunOutcome outcome = {};
    ASSERT_EQ(StartProgram(&request, &outcome), 0);
    ASSERT_NE(outcome.job, nullptr);
    ASSERT_TRUE(GatherUntilQueued(2)) << "output and finish were not reported";
    ReleaseRunJob(outcome.job, nullptr);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_TRUE(machine.calls.empty());
    FreeRunJobs(nullptr);
}

TEST_F(EventOwners, StoppingADirectoryMonitorTakesItsQueuedCallbacks)
{
    char pattern[] = "/tmp/lv_events_owner_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    GetGlobalHandler(GLOBAL_DIRECTORYCHANGED)->function = 82;
    lvDirMonitor *monitor = nullptr;
    ASSERT_EQ(StartDirMonitor(dir.c_str(), 1, 1, -1, nullptr, &monitor), 0);
    bool queued = false;
    for (int attempt = 0; attempt < 3 && !queued; attempt++) {
        std::ofstream(dir + "/entry" + std::to_string(attempt)) << "x";
        queued = GatherUntilQueued(1);
    }
    ASSERT_TRUE(queued) << "the monitor reported nothing";
    StopDirMonitor(monitor, nullptr);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_TRUE(machine.calls.empty());
    std::string remove = "rm -rf '" + dir + "'";
    EXPECT_EQ(std::system(remove.c_str()), 0);
}
