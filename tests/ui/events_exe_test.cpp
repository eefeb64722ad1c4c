// Runs the built runtime on applets that use the event library: intervals and time-outs
// counted over real time, clearing callbacks that are already queued, CheckEvent with
// nothing pending, a refused nested WaitEvent, waits that keep serving events, a stop
// signal during a wait, and a handler table getting a finished program's message.
// Every run is bounded by a time limit; the applets print what they saw.
#include "tests/ui/events_run.h"

#include <gtest/gtest.h>

#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Runs build/bin/lumivarra on build/tests/ui/events_exe/<stem>.lva for at most limit
// seconds, then sends SIGTERM, and kills it 5 s later (a run stuck in a wait may not end
// on the signal). A run that the signal ended keeps its own exit code.
AppletRun RunApplet(const std::string &stem, int limit = 20)
{
    return RunRuntimeCommand("timeout --preserve-status -k 5 " + std::to_string(limit) + " '" + LV_BIN_DIR +
                             "/lumivarra' '" + LV_BUILD_DIR + "/tests/ui/events_exe/" + stem + ".lva'");
}

// The number a printed line holds; NaN when it holds none.
double Number(const AppletRun &run, size_t line)
{
    if (line >= run.lines.size()) return std::nan("");
    char *end = nullptr;
    double value = std::strtod(run.lines[line].c_str(), &end);
    return end && end != run.lines[line].c_str() ? value : std::nan("");
}

}  // namespace

TEST(EventsExe, AnIntervalOf50MsGivesAboutTwentyCallbacksInASecond)
{
    AppletRun run = RunApplet("interval_second");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 2u);
    // Against the time that really passed (a loaded machine stretches the second): never
    // more calls than the clock allows; fewer only where the run was starved and firings
    // merged, so the lower bound is loose.
    double calls = Number(run, 0), elapsed = Number(run, 1);
    EXPECT_GE(elapsed, 950) << "the time-out came early";
    EXPECT_LE(calls, elapsed / 50 + 1.5) << elapsed << " ms";
    EXPECT_GE(calls, elapsed / 50 / 2) << elapsed << " ms";
}

TEST(EventsExe, ATimeoutFiresOnceAndIsGoneAfterwards)
{
    AppletRun run = RunApplet("timeout_once");
    ASSERT_EQ(run.lines.size(), 1u) << run.err;
    EXPECT_EQ(Number(run, 0), 1);
    // Clearing it afterwards finds nothing: the run ends with that error.
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Could not find timeout function 1!"), std::string::npos) << run.err;
}

TEST(EventsExe, ClearingAnIntervalAndATimeoutWhoseCallbacksAreQueuedStopsThem)
{
    AppletRun run = RunApplet("clear_queued");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(Number(run, 0), 0) << "a cleared callback ran from the queue";
    EXPECT_EQ(Number(run, 1), 0) << "the cleared interval went on firing";
}

TEST(EventsExe, CheckEventWithNothingPendingAnswersAtOnce)
{
    AppletRun run = RunApplet("checkevent_idle");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_EQ(Number(run, 0), 0) << "no call may report a triggered callback";
    // 200 calls; a call that waited for the next wake-up would take 10 s in all.
    EXPECT_LT(Number(run, 1), 1000) << "CheckEvent blocked";
}

TEST(EventsExe, WaitEventInsideACallbackIsRefusedWith1055)
{
    // Inside a callback that WaitEvent runs, and inside one that runs during a Wait.
    for (const char *stem : {"waitevent_nested", "wait_nested"}) {
        SCOPED_TRACE(stem);
        AppletRun run = RunApplet(stem);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_TRUE(run.lines.empty()) << "the run went on after the refused WaitEvent";
        EXPECT_NE(run.err.find("Wrong usage/parameters for this command!"), std::string::npos) << run.err;
    }
}

TEST(EventsExe, IntervalCallbacksRunForEachFiringWhileTheScriptWaits)
{
    AppletRun run = RunApplet("interval_wait");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 2u);
    // Ten firings in each half second: merged into one mark they would count once.
    EXPECT_GE(Number(run, 0), 8) << "Wait";
    EXPECT_LE(Number(run, 0), 11) << "Wait";
    EXPECT_GE(Number(run, 1) - Number(run, 0), 8) << "WaitTimer";
    EXPECT_LE(Number(run, 1) - Number(run, 0), 11) << "WaitTimer";
}

TEST(EventsExe, ATerminationSignalEndsARunWaitingInWaitEvent)
{
    auto start = std::chrono::steady_clock::now();
    AppletRun run = RunApplet("idle_wait", 1);
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_NE(run.exitCode, 128 + SIGKILL) << "the signal did not end the wait";
    EXPECT_NE(run.exitCode, 0);
    EXPECT_LT(took.count(), 4000);
}

TEST(EventsExe, AHandlerTableGetsTheRunFinishedMessageOfAProgram)
{
    AppletRun run = RunApplet("run_finished");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    ASSERT_EQ(run.lines.size(), 1u);
    // DebugPrint separates its arguments with blanks.
    EXPECT_EQ(run.lines[0], "RunFinished /bin/sh -c \"exit 3\" 3 job data handler data");
}

TEST(EventsExe, GetAttributeOfAnEventHandlerGivesItsFunctionAndUserData)
{
    AppletRun run = RunApplet("handler_attribute");
    ASSERT_EQ(run.lines.size(), 4u) << run.err;
    EXPECT_EQ(run.lines[0], "1") << "ATTRFUNCTION did not give the installed function";
    EXPECT_EQ(run.lines[1], "handler data");
    EXPECT_EQ(run.lines[2], "0") << "a name without a handler";
    EXPECT_EQ(run.lines[3], "0") << "a display name without a display";
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("Unknown tag \"nosuchhandler\"!"), std::string::npos) << run.err;
}
