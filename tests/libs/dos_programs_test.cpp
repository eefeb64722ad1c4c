// The dos library's Execute, Run and MonitorDirectory called through their globals:
// captured output and exit codes, the end of a program that could not start, and a
// directory change reaching the script side through the system event queue.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "libs/dirmonitor_engine.h"
#include "libs/lib_dos.h"
#include "libs/process_engine.h"
#include "platform/lvplatform.h"
#include "runtime/libs_core.h"
#include "tests/libs/strlib_harness.h"
#include "ui/events.h"
#include "ui/lib_event.h"

namespace fs = std::filesystem;

static bool gRunFinishedInstalled = false;

static int QueryHandlers(lvState *, const char *name)
{
    return gRunFinishedInstalled && std::string(name) == "RunFinished";
}

class DosProgramTest : public StringLibTest {
protected:
    std::string dir;  // a fresh directory
    void SetUp() override
    {
        StringLibTest::SetUp();
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitSystemEvents(), 0);
        ASSERT_EQ(OpenDosLibrary(L), 0);
        SetDosHandlerQuery(QueryHandlers);
        gRunFinishedInstalled = false;
        char tmpl[] = "/tmp/lvdospXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        FreeDosObjects(L, 1);
        EXPECT_EQ(FirstRunJob(), nullptr);
        SetDosHandlerQuery(nullptr);
        FreeSystemEvents();
        ExitPlatform();
        std::error_code ec;
        fs::remove_all(dir, ec);
        StringLibTest::TearDown();
    }
    // Waits (bounded) for a system event of the type whose first word is data1.
    static bool WaitForEvent(int type, uintptr_t data1)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            lvSystemEvent e;
            while (GetSystemEvent(&e)) {
                if (e.type == SYSEVENT_RUNOUTPUT) FreeMemory(reinterpret_cast<void *>(e.data2));
                if (e.type == SYSEVENT_DIRCHANGEDETAIL) FreeMemory(reinterpret_cast<void *>(e.data2));
                if (e.type == type && e.data1 == data1) return true;
            }
            WaitSignalTimeout(GetMainWakeSignal(), 50);
        }
        return false;
    }
};

TEST_F(DosProgramTest, ExecuteCapturesExitCodeAndLines)
{
    EXPECT_EQ(Call("Execute", {"sh", "-c 'echo a; echo b; echo c; exit 3'", FieldsArg({{"captureoutput", 1}})}),
              "3 'a\\x0ab\\x0ac\\x0a'");
    // One command line, and the program's own exit code.
    EXPECT_EQ(Call("Execute", {"sh -c 'exit 5'", FieldsArg({{"captureoutput", 1}})}), "5 ''");
    EXPECT_EQ(Call("Execute", {"true"}), "");
    EXPECT_EQ(Call("Execute", {"\"unclosed"}), "error 1055");
    EXPECT_EQ(Call("Execute", {""}), "error 1055");
    EXPECT_EQ(Call("Execute", {"true", "", FieldsArg({{"directory", dir + "/missing"}})}), "error 1286");
    EXPECT_EQ(FirstRunJob(), nullptr);
}

// While Execute waits for a captured run, the runtime's events are polled (mode 2), and an
// error of that poll ends the wait with it; "resetkeys" (on unless turned off, also in the
// older argument form) clears the input states once the program started.
static int gPolls = 0, gPollError = 0, gResets = 0;
static int CountingPoll(lvState *, int mode)
{
    if (mode == 2) gPolls++;
    return gPollError;
}

TEST_F(DosProgramTest, CapturedExecutePollsEventsAndResetsKeys)
{
    SetDosStepPoll(CountingPoll);
    SetDosInputReset([](lvState *) { gResets++; });
    gPolls = gPollError = gResets = 0;
    EXPECT_EQ(Call("Execute", {"sh -c 'sleep 0.3; echo done'", FieldsArg({{"captureoutput", 1}})}), "0 'done\\x0a'");
    EXPECT_GT(gPolls, 0);
    EXPECT_EQ(gResets, 1);
    EXPECT_EQ(Call("Execute", {"true", "", FieldsArg({{"resetkeys", 0}})}), "");
    EXPECT_EQ(Call("Execute", {"true", 0}), "");
    EXPECT_EQ(gResets, 1);
    gPollError = 1003;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Call("Execute", {"sleep 15", FieldsArg({{"captureoutput", 1}})}), "error 1003");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    SetDosStepPoll(nullptr);
    SetDosInputReset(nullptr);
}

TEST_F(DosProgramTest, RunOfAMissingProgramEndsWith127)
{
    // Without a RunFinished handler nothing is left behind and nothing fails.
    EXPECT_EQ(Call("Run", {"/nonexistent/lumivarra-missing"}), "");
    EXPECT_EQ(FirstRunJob(), nullptr);
    gRunFinishedInstalled = true;
    EXPECT_EQ(Call("Run", {"/nonexistent/lumivarra-missing", "", FieldsArg({{"returncode", 1}, {"userdata", "u"}})}), "");
    lvRunJob *job = FirstRunJob();
    ASSERT_NE(job, nullptr);
    ASSERT_TRUE(WaitForEvent(SYSEVENT_RUNEXIT, reinterpret_cast<uintptr_t>(job)));
    EXPECT_EQ(job->exitCode.load(), 127);
    EXPECT_TRUE(RunJobWantsReport(job));
    EXPECT_GE(job->runUserData, 0);
}

TEST_F(DosProgramTest, DirectoryChangeReachesTheQueue)
{
    EXPECT_EQ(Call("MonitorDirectory", {1, dir + "/missing"}), "error 1627");
    EXPECT_EQ(Call("CloseDirectory", {1}), "error 1318");  // no handle left behind
    ASSERT_EQ(Call("MonitorDirectory", {1, dir}), "");
    EXPECT_EQ(Call("NextDirectoryEntry", {1}), "error 1055");
    EXPECT_EQ(Call("CountDirectoryEntries", {1}), "error 1055");
    EXPECT_EQ(Call("RewindDirectory", {1}), "error 1055");
    EXPECT_EQ(Call("GetDirectoryEntry", {1, "x"}), "error 1055");
    ASSERT_EQ(OpenObjectLibrary(L), 0);
    EXPECT_EQ(Call("GetAttribute", {45, 1, 87}), "error 1055");
    // Find the monitor through the event it posts for a new file.
    FILE *f = std::fopen((dir + "/new.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("x", f);
    std::fclose(f);
    bool seen = false;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!seen && std::chrono::steady_clock::now() < until) {
        lvSystemEvent e;
        while (GetSystemEvent(&e)) {
            if (e.type == SYSEVENT_DIRCHANGED) {
                auto *m = reinterpret_cast<const lvDirMonitor *>(e.data1);
                EXPECT_EQ(*m->ownerId, 1);
                EXPECT_EQ(std::string(m->path), fs::canonical(dir).string());
                seen = true;
            }
        }
        if (!seen) WaitSignalTimeout(GetMainWakeSignal(), 50);
    }
    EXPECT_TRUE(seen);
    EXPECT_EQ(Call("CloseDirectory", {1}), "");
    std::string h = Call("MonitorDirectory", {NilArg(), dir, FieldsArg({{"reportchanges", 1}, {"userdata", 3}})});
    EXPECT_EQ(h.rfind("pointer:", 0), 0u) << h;
}

// ---- Through the event dispatch ---------------------------------------------------------------

struct lvSeenRunFinished {
    int calls = 0;            // RunFinished calls
    std::string program;      // "program"
    std::string args;         // "args"
    double returnCode = -1;   // "returncode"
    std::string userData;     // "runuserdata"
};
static lvSeenRunFinished gSeen;

static std::string TextField(lvState *L, const char *name)
{
    PushString(L, name);
    GetTableValue(L, 1);
    std::string out = GetValueType(L, -1) == LV_TSTRING ? ValueToString(L, -1) : "";
    SetStackTop(L, -2);
    return out;
}

static int RunFinishedHandler(lvState *L)
{
    gSeen.calls++;
    gSeen.program = TextField(L, "program");
    gSeen.args = TextField(L, "args");
    gSeen.userData = TextField(L, "runuserdata");
    PushString(L, "returncode");
    GetTableValue(L, 1);
    gSeen.returnCode = GetValueType(L, -1) == LV_TNUMBER ? ValueToNumber(L, -1) : -1;
    SetStackTop(L, -2);
    return 0;
}

// The wiring start-up makes between the events engine and the dos library.
static void TextSink(void *c, const char *name, const char *text) { AddMessageText((lvEventMessage *)c, name, text); }
static void NumberSink(void *c, const char *name, double v) { AddMessageNumber((lvEventMessage *)c, name, v); }
static void ReferenceSink(void *c, const char *name, int ref) { AddMessageReference((lvEventMessage *)c, name, ref); }
static void IdSink(void *c, const char *name, int number, void *handle)
{
    AddMessageObjectId((lvEventMessage *)c, name, lvEventId{uintptr_t(number), uintptr_t(handle)});
}
static void FillDosFields(lvState *, const lvEventCallback *record, lvEventMessage *message)
{
    lvDosEventFieldSink sink = {message, TextSink, NumberSink, ReferenceSink, IdSink};
    DescribeDosEvent(record->kind, record->id.number, record->payload, &sink);
}
static int RunFinishedInstalled(lvState *, const char *name)
{
    return std::string(name) == "RunFinished" && GetGlobalHandler(GLOBAL_RUNFINISHED)->function != -1;
}

TEST_F(DosProgramTest, RunFinishedReachesTheScriptHandler)
{
    ASSERT_EQ(OpenEventLibrary(L), 0);
    lvEventSourceHooks hooks = {};
    hooks.JobWantsReport = DosJobWantsReport;
    hooks.ReleaseRunJob = ReleaseDosRunJob;
    hooks.FillSourceFields = FillDosFields;
    SetEventSourceHooks(&hooks);
    SetDosHandlerQuery(RunFinishedInstalled);
    gSeen = {};
    ASSERT_EQ(Call("InstallEventHandler", {FieldsArg({{"runfinished", NativeArg(RunFinishedHandler)}})}), "");
    EXPECT_EQ(Call("Run", {"/nonexistent/lumivarra-missing", "-x", FieldsArg({{"returncode", 1}, {"userdata", "mine"}})}), "");
    ASSERT_NE(FirstRunJob(), nullptr);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (gSeen.calls == 0 && std::chrono::steady_clock::now() < until) {
        std::string r = Call("CheckEvent", {});
        if (gSeen.calls == 0) WaitSignalTimeout(GetMainWakeSignal(), 50);
    }
    EXPECT_EQ(gSeen.calls, 1);
    EXPECT_EQ(gSeen.program, "/nonexistent/lumivarra-missing");
    EXPECT_EQ(gSeen.args, "-x");
    EXPECT_EQ(gSeen.returnCode, 127);
    EXPECT_EQ(gSeen.userData, "mine");
    EXPECT_EQ(FirstRunJob(), nullptr);  // released after its handler ran
    CloseEventLibrary(L);
    SetEventSourceHooks(nullptr);
}

struct lvSeenDirChange {
    int calls = 0;            // DirectoryChanged calls
    double id = -1;           // "id"
    std::string directory;    // "directory"
    std::string userData;     // "monitoruserdata"
};
static lvSeenDirChange gDirSeen;

static int DirectoryChangedHandler(lvState *L)
{
    gDirSeen.calls++;
    gDirSeen.directory = TextField(L, "directory");
    gDirSeen.userData = TextField(L, "monitoruserdata");
    PushString(L, "id");
    GetTableValue(L, 1);
    gDirSeen.id = GetValueType(L, -1) == LV_TNUMBER ? ValueToNumber(L, -1) : -1;
    SetStackTop(L, -2);
    return 0;
}

TEST_F(DosProgramTest, DirectoryChangedReachesTheScriptHandler)
{
    ASSERT_EQ(OpenEventLibrary(L), 0);
    lvEventSourceHooks hooks = {};
    hooks.FillSourceFields = FillDosFields;
    SetEventSourceHooks(&hooks);
    gDirSeen = {};
    ASSERT_EQ(Call("InstallEventHandler", {FieldsArg({{"directorychanged", NativeArg(DirectoryChangedHandler)}})}), "");
    ASSERT_EQ(Call("MonitorDirectory", {7, dir, FieldsArg({{"userdata", "watch"}})}), "");
    FILE *f = std::fopen((dir + "/changed.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (gDirSeen.calls == 0 && std::chrono::steady_clock::now() < until) {
        Call("CheckEvent", {});
        if (gDirSeen.calls == 0) WaitSignalTimeout(GetMainWakeSignal(), 50);
    }
    EXPECT_GE(gDirSeen.calls, 1);
    EXPECT_EQ(gDirSeen.id, 7);
    EXPECT_EQ(gDirSeen.directory, fs::canonical(dir).string());
    EXPECT_EQ(gDirSeen.userData, "watch");
    EXPECT_EQ(Call("CloseDirectory", {7}), "");
    CloseEventLibrary(L);
    SetEventSourceHooks(nullptr);
}
