// Plug-in events and the timer adapter through the runtime executable: a copy of the
// runtime with the event test plug-in (tests/plugins/eventplugin.cpp) beside it runs the
// applets of events_plugin_fixtures/, which link the plug-in as an object.
#include "tests/ui/events_run.h"

#include <gtest/gtest.h>
#include <string>

namespace {

// A folder holding a copy of the runtime and, in its "Plugins" folder, the plug-in: an
// unlinked runtime finds plug-ins there.
class EventsPlugin : public ::testing::Test {
protected:
    static std::string dir;

    static void SetUpTestSuite()
    {
        char dirTemplate[] = "/tmp/lv_events_plugin_XXXXXX";
        ASSERT_NE(mkdtemp(dirTemplate), nullptr);
        dir = dirTemplate;
        std::string command = std::string("mkdir '") + dir + "/Plugins' && cp '" + LV_BIN_DIR + "/lumivarra' '" +
                              dir + "/' && cp '" + LV_BUILD_DIR + "/tests/ui/events_plugin/eventplug.lvp' '" + dir +
                              "/Plugins/'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
    static void TearDownTestSuite()
    {
        if (!dir.empty()) std::system(("rm -rf '" + dir + "'").c_str());
    }

    // Runs an applet for at most 20 s (then killed).
    AppletRun Run(const std::string &stem)
    {
        return RunRuntimeCommand("cd '" + dir + "' && timeout -k 5 20 ./lumivarra '" + LV_BUILD_DIR +
                                 "/tests/ui/events_plugin/" + stem + ".lva'");
    }
};

std::string EventsPlugin::dir;

std::string Joined(const AppletRun &run)
{
    std::string all;
    for (const std::string &line : run.lines) all += line + "\n";
    return all;
}

}  // namespace

// A plug-in's own event types are handler names: the kind-0 type reaches its handler
// with a message table (the plug-in's field, the action, the user data), the kind-1 type
// through the plug-in, which finds the handler with FindEventName and pushes it itself.
TEST_F(EventsPlugin, PluginEventTypesReachTheirHandlersInBothModes)
{
    AppletRun run = Run("plugin_events");
    ASSERT_EQ(run.exitCode, 0) << run.err << Joined(run);
    ASSERT_GE(run.lines.size(), 3u) << Joined(run);
    EXPECT_EQ(run.lines[0], "TestTableEvent 7 handler data");
    EXPECT_EQ(run.lines[1], "push 9 pushed");
    std::string log = Joined(run);
    EXPECT_NE(log.find("types 34 35"), std::string::npos) << log;
    EXPECT_NE(log.find("fill 0 7"), std::string::npos) << log;
    EXPECT_NE(log.find("push 9 handler found with user data"), std::string::npos) << log;
    EXPECT_NE(log.find("finish 9"), std::string::npos) << log;
}

// With a timer adapter installed, intervals and time-outs are its timers: the script's
// callbacks run when the adapter reports them, a time-out once; clearing frees them; an
// adapter cannot install once the script runs; and a timer reported while the run shuts
// down runs nothing.
TEST_F(EventsPlugin, IntervalsAndTimeoutsRunOnTheTimerAdapter)
{
    AppletRun run = Run("plugin_timers");
    ASSERT_EQ(run.exitCode, 0) << run.err << Joined(run);
    std::string out = Joined(run);
    // Round one fires both, round two only the interval (the time-out is gone).
    ASSERT_GE(run.lines.size(), 5u) << out;
    EXPECT_EQ(run.lines[0], "Interval 1");
    EXPECT_EQ(run.lines[1], "Timeout 2");
    EXPECT_EQ(run.lines[2], "Interval 1");
    EXPECT_EQ(run.lines[3], "1") << "the second round fired more than the interval";
    EXPECT_EQ(run.lines[4], "1518") << "an adapter installed outside the set-up phase";
    EXPECT_NE(out.find("install timer adapter 0"), std::string::npos) << out;
    EXPECT_NE(out.find("register 100 1000 repeat\nregister 101 500 once\n"), std::string::npos) << out;
    EXPECT_NE(out.find("fire 101\nfree 101\n"), std::string::npos) << "a fired time-out frees its timer: " << out;
    EXPECT_NE(out.find("free 100"), std::string::npos) << "ClearInterval kept its timer: " << out;
    // Nothing after the log: the time-out reported during shut-down did not run.
    EXPECT_EQ(out.find("Timeout 4"), std::string::npos) << out;
}

TEST_F(EventsPlugin, APluginCanSwitchCheckEventOff)
{
    AppletRun run = Run("checkevent_off");
    ASSERT_EQ(run.exitCode, 0) << run.err << Joined(run);
    ASSERT_GE(run.lines.size(), 2u) << Joined(run);
    EXPECT_NE(run.lines[0], "before") << "CheckEvent answered nothing before the switch";
    EXPECT_EQ(run.lines[1], "after");
}

// A plug-in that forbids modal loops (runtime tag 48) makes the blocking input waits and
// the sound waits answer 1638 at once; switching CheckEvent off forbids nothing.
TEST_F(EventsPlugin, BlockingInputWaitsAreRefusedWhenThePluginForbidsThem)
{
    AppletRun run = Run("modal_forbidden");
    ASSERT_EQ(run.exitCode, 0) << run.err << Joined(run);
    ASSERT_EQ(run.lines.size(), 7u) << Joined(run);
    EXPECT_NE(run.lines[0], "1638");
    for (size_t i = 1; i < 7; i++) EXPECT_EQ(run.lines[i], "1638") << "wait " << i;
}

// The runtime's event poll purges stale events while a script runs without waiting for
// events (about ten seconds after the event library opened): the plug-in gets the
// payload of its event back undispatched. Without the purge the run hits its limit.
TEST_F(EventsPlugin, StaleEventsArePurgedWhileTheScriptDoesNotWait)
{
    AppletRun run = Run("purge_idle");
    ASSERT_EQ(run.exitCode, 0) << run.err << Joined(run);
    std::string log = Joined(run);
    EXPECT_NE(log.find("release 5"), std::string::npos) << log;
    EXPECT_EQ(log.find("push 5"), std::string::npos) << "the stale event was dispatched: " << log;
}
