// The event library's commands on a real script machine: interval and time-out
// identifiers and errors, the message table a callback receives, WaitEvent's and
// CheckEvent's result tables, WaitEvent refused inside a callback, handler tables,
// attributes, and a failed message build that leaves the stack as it was.
#include "ui/events.h"
#include "ui/lib_event.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/objects.h"
#include "vm/lvobject.h"
#include "vm/lvvm.h"
#include <gtest/gtest.h>
#include <chrono>
#include <strings.h>
#include <string>
#include <thread>

namespace {

// What the native callbacks saw of their message tables.
struct Seen {
    int calls = 0;                // how many times a callback ran
    std::string action;           // "action"
    double id = -1;               // "id" when a number
    void *idHandle = nullptr;     // "id" when a handle
    std::string userdata;         // "userdata" when a string
    double timestamp = -1;        // "timestamp"
    int nestedWait = 0;           // what WaitEvent answered inside the callback
};

Seen seen;
lvState *machine = nullptr;

// What a callback saw of the error engine: the callback depth and the path a failing
// command takes there (ExitOnError on).
struct ErrorPath {
    int depth = -1;                              // the callback depth inside
    lvErrorAction action = LV_ERROR_CONTINUE;    // what a command error inside does
    int stopRequest = -1;                        // whether it asked the run to stop
};
ErrorPath errorPath;

int ErrorPathCallback(lvState *)
{
    GetRuntimeFlags(nullptr, LV_FLAG_CALLBACK_DEPTH, &errorPath.depth, 0);
    GetErrorState()->stopRequest = 0;
    errorPath.action = RecordCommandError(ERR_WRONGUSAGE);
    errorPath.stopRequest = GetErrorState()->stopRequest;
    return 0;
}

std::string FieldText(lvState *L, int table, const char *name)
{
    PushString(L, name);
    GetTableValueRaw(L, table);
    std::string text = GetValueType(L, -1) == LV_TSTRING ? ValueToString(L, -1) : "";
    SetStackTop(L, -2);
    return text;
}

double FieldNumber(lvState *L, int table, const char *name)
{
    PushString(L, name);
    GetTableValueRaw(L, table);
    double n = GetValueType(L, -1) == LV_TNUMBER ? ValueToNumber(L, -1) : -1;
    SetStackTop(L, -2);
    return n;
}

// A callback: notes its message and answers two values.
int RecordingCallback(lvState *L)
{
    seen.calls++;
    seen.action = FieldText(L, 1, "action");
    seen.id = FieldNumber(L, 1, "id");
    PushString(L, "id");
    GetTableValueRaw(L, 1);
    seen.idHandle = GetValueType(L, -1) == LV_TPOINTER ? GetUserDataPointer(L, -1) : nullptr;
    SetStackTop(L, -2);
    seen.userdata = FieldText(L, 1, "userdata");
    seen.timestamp = FieldNumber(L, 1, "timestamp");
    PushNumber(L, 7);
    PushString(L, "seven");
    return 2;
}

// The command of that name in the library's table.
lvCommandFunction FindCommand(const char *name)
{
    for (const lvCommandEntry *e = GetEventCommands(); e->name; e++)
        if (strcasecmp(e->name, name) == 0) return e->func;
    return nullptr;
}

// A callback that tries to wait for events.
int WaitingCallback(lvState *L)
{
    seen.calls++;
    seen.nestedWait = FindCommand("WaitEvent")(L);
    return 0;
}

class EventLibrary : public testing::Test {
public:
    lvState *L = nullptr;
    void SetUp() override
    {
        seen = Seen{};
        ASSERT_EQ(InitPlatform(), 0);
        ResetVMRun();
        SetVMHost(nullptr);
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        machine = L;
        ASSERT_EQ(OpenEventLibrary(L), 0);
    }
    void TearDown() override
    {
        CloseEventLibrary(L);
        FreeObjectTypes();
        SetEventRuntimeHooks(nullptr);
        FreeSystemEvents();
        CloseVMState(L);
        ResetVMRun();
        FreeLoopSignals();
    }
    // Calls a command by name on an empty stack with the values pushed by push, as the
    // interpreter would: a raised error or an answered code is the status; on success
    // only the results stay on the stack.
    template <typename Push>
    int Call(const char *name, Push push)
    {
        SetStackTop(L, 0);
        push();
        struct Run {
            lvCommandFunction command;  // the command
            int answer;                 // what it answered
        } run = {FindCommand(name), 0};
        if (!run.command) return -100;
        int status = RunProtected(
            L, [](lvState *L, void *data) { ((Run *)data)->answer = ((Run *)data)->command(L); }, &run);
        if (status) return status;
        if (run.answer >= 1000 || run.answer < 0) return run.answer;
        while (GetStackTop(L) > run.answer) RemoveValue(L, 1);
        return 0;
    }
    int Call(const char *name)
    {
        return Call(name, [] {});
    }
    static void PushCallback(lvCommandFunction f)
    {
        PushNativeClosure(machine, f, 0);
    }
    // Lets timer firings in as the pumping thread would.
    void PumpAfter(int ms)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        PumpMessages(1);
    }
};

}  // namespace

TEST_F(EventLibrary, SetIntervalWithNilGivesAHandleThatClearIntervalTakes)
{
    ASSERT_EQ(Call("setinterval", [&] {
                  PushNil(L);
                  PushCallback(RecordingCallback);
                  PushNumber(L, 1000);
              }),
              0);
    ASSERT_EQ(GetValueType(L, -1), LV_TPOINTER);
    void *handle = GetUserDataPointer(L, -1);
    EXPECT_EQ(GetTypeOfHandle(handle), LV_TYPE_INTERVAL);
    SetStackTop(L, 0);
    EXPECT_EQ(Call("clearinterval", [&] { PushPointer(L, handle); }), 0);
    EXPECT_EQ(Call("clearinterval", [&] { PushPointer(L, handle); }), ERR_FINDARRAY);
    SetStackTop(L, 0);
    EXPECT_EQ(Call("clearinterval", [&] { PushNumber(L, 5); }), ERR_FINDINTERVAL);
    EXPECT_EQ(gVMRun.errorNumberArg, 5);
    SetStackTop(L, 0);
    EXPECT_EQ(Call("cleartimeout", [&] { PushNumber(L, 6); }), ERR_FINDTIMEOUT);
}

TEST_F(EventLibrary, BadPeriodsAndArgumentsAreRefusedAndCreateNothing)
{
    struct Case {
        double period;   // argument 3
        bool function;   // argument 2 is a function
        int expected;    // the status
    } cases[] = {{0, true, ERR_WRONGUSAGE}, {-10, true, ERR_WRONGUSAGE}, {50, false, ERR_FUNCEXPECTED}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.period);
        EXPECT_EQ(Call("settimeout", [&] {
                      PushNumber(L, 1);
                      if (c.function) PushCallback(RecordingCallback);
                      else PushNumber(L, 3);
                      PushNumber(L, c.period);
                  }),
                  c.expected);
        SetStackTop(L, 0);
    }
    EXPECT_EQ(FirstTimeout(), nullptr);
    EXPECT_EQ(Call("setinterval", [&] { PushNumber(L, 1); }), ERR_WRONGUSAGE);  // too few
    SetStackTop(L, 0);
    ASSERT_EQ(Call("setinterval", [&] {
                  PushNumber(L, 1);
                  PushCallback(RecordingCallback);
                  PushNumber(L, 500);
              }),
              0);
    EXPECT_EQ(Call("changeinterval", [&] {
                  PushNumber(L, 1);
                  PushNumber(L, 0);
              }),
              ERR_WRONGUSAGE);
    EXPECT_EQ(FirstInterval()->period, 500);
}

TEST_F(EventLibrary, AnIntervalCallbackGetsItsMessageAndCheckEventItsResults)
{
    ASSERT_EQ(Call("setinterval", [&] {
                  PushNumber(L, 3);
                  PushCallback(RecordingCallback);
                  PushNumber(L, 10);
                  PushString(L, "mine");
              }),
              0);
    PumpAfter(40);
    SetStackTop(L, 0);
    ASSERT_EQ(Call("checkevent"), 0);
    ASSERT_EQ(GetStackTop(L), 1);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.action, "Interval");
    EXPECT_EQ(seen.id, 3);
    EXPECT_EQ(seen.userdata, "mine");
    EXPECT_GE(seen.timestamp, 0.0);
    EXPECT_LT(seen.timestamp, 60.0);
    // The result table: the message with the callback's results.
    EXPECT_EQ(FieldText(L, 1, "action"), "Interval");
    EXPECT_EQ(FieldNumber(L, 1, "id"), 3);
    EXPECT_EQ(FieldNumber(L, 1, "nresults"), 2);
    EXPECT_EQ(FieldNumber(L, 1, "triggered"), 1);
    PushString(L, "results");
    GetTableValueRaw(L, 1);
    ASSERT_EQ(GetValueType(L, -1), LV_TTABLE);
    GetTableItemRaw(L, -1, 0);
    EXPECT_EQ(ValueToNumber(L, -1), 7);
    SetStackTop(L, -2);
    GetTableItemRaw(L, -1, 1);
    EXPECT_STREQ(ValueToString(L, -1), "seven");
    // Nothing pending: an empty result.
    SetStackTop(L, 0);
    ASSERT_EQ(Call("checkevent"), 0);
    ASSERT_EQ(GetStackTop(L), 1);
    EXPECT_EQ(FieldText(L, 1, "action"), "");
    EXPECT_EQ(FieldNumber(L, 1, "id"), 0);
    EXPECT_EQ(FieldNumber(L, 1, "nresults"), 0);
    EXPECT_EQ(FieldNumber(L, 1, "triggered"), 0);
    PushString(L, "results");
    GetTableValueRaw(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

TEST_F(EventLibrary, ATimeoutWithAHandleRunsOnceAndReportsItsHandle)
{
    ASSERT_EQ(Call("settimeout", [&] {
                  PushNil(L);
                  PushCallback(RecordingCallback);
                  PushNumber(L, 5);
              }),
              0);
    void *handle = GetUserDataPointer(L, -1);
    PumpAfter(40);
    SetStackTop(L, 0);
    ASSERT_EQ(Call("checkevents"), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.action, "Timeout");
    EXPECT_EQ(seen.idHandle, handle);
    EXPECT_EQ(FirstTimeout(), nullptr);
    PumpAfter(20);
    ASSERT_EQ(Call("checkevents"), 0);
    EXPECT_EQ(seen.calls, 1);
}

TEST_F(EventLibrary, WaitEventInsideACallbackFailsWith1055)
{
    ASSERT_EQ(Call("settimeout", [&] {
                  PushNumber(L, 1);
                  PushCallback(WaitingCallback);
                  PushNumber(L, 5);
              }),
              0);
    // Gathered ahead, the callback runs at once inside WaitEvent, without a wait.
    PumpAfter(40);
    ASSERT_EQ(GatherEvents(L, 0), 0);
    ASSERT_EQ(Call("waitevent"), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.nestedWait, ERR_WRONGUSAGE);
}

TEST_F(EventLibrary, HandlerTablesInstallAndRemoveGlobalHandlers)
{
    auto install = [&](auto pushValue) {
        return Call("installeventhandler", [&] {
            PushNewTable(L);
            PushString(L, "onsampleend");
            pushValue();
            SetTableValueRaw(L, -3);
        });
    };
    ASSERT_EQ(install([&] { PushCallback(RecordingCallback); }), 0);
    EXPECT_NE(GetGlobalHandler(GLOBAL_ONSAMPLEEND)->function, -1);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_SAMPLEEND, 4, 0, 10, 2, 0, 0), 0);
    SetStackTop(L, 0);
    ASSERT_EQ(Call("checkevent"), 0);
    EXPECT_EQ(seen.action, "OnSampleEnd");
    EXPECT_EQ(seen.id, 4);
    // A number removes it; a string is refused with 1185.
    SetStackTop(L, 0);
    ASSERT_EQ(install([&] { PushNumber(L, 0); }), 0);
    EXPECT_EQ(GetGlobalHandler(GLOBAL_ONSAMPLEEND)->function, -1);
    SetStackTop(L, 0);
    EXPECT_EQ(install([&] { PushString(L, "no"); }), ERR_FUNCEXPECTED);
    SetStackTop(L, 0);
    EXPECT_EQ(Call("installeventhandler", [&] { PushNumber(L, 1); }), ERR_TABEXPECTED);
}

TEST_F(EventLibrary, ConstantsAreDefined)
{
    const char *text = "x";
    double number = 0;
    for (const lvConstantEntry *e = GetEventConstants(); e->name; e++) {
        SCOPED_TRACE(e->name);
        ASSERT_EQ(LookupConstant(L, e->name, &text, &number), 1);
        EXPECT_EQ(number, e->number);
    }
    ASSERT_EQ(LookupConstant(L, "modrcontrol", &text, &number), 1);
    EXPECT_EQ(number, 32);
}

TEST_F(EventLibrary, AttributesOfIntervals)
{
    ASSERT_EQ(Call("setinterval", [&] {
                  PushNumber(L, 2);
                  PushCallback(RecordingCallback);
                  PushNumber(L, 250);
              }),
              0);
    lvObjectType *type = FindObjectType(LV_TYPE_INTERVAL);
    ASSERT_NE(type, nullptr);
    SetStackTop(L, 0);
    EXPECT_EQ(type->attribute(L, 14, lvObjectId{2, nullptr}), 1);
    EXPECT_EQ(ValueToNumber(L, -1), 250);
    EXPECT_EQ(type->attribute(L, 59, lvObjectId{2, nullptr}), 1);  // no user data: 0
    EXPECT_EQ(ValueToNumber(L, -1), 0);
    EXPECT_EQ(type->attribute(L, 58, lvObjectId{2, nullptr}), 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TFUNCTION);
    EXPECT_EQ(type->attribute(L, 99, lvObjectId{2, nullptr}), ERR_UNKNOWNATTR);
    EXPECT_EQ(type->attribute(L, 14, lvObjectId{8, nullptr}), ERR_FINDINTERVAL);
}

TEST_F(EventLibrary, AFailedMessageBuildLeavesTheStackAtItsMark)
{
    GetGlobalHandler(GLOBAL_ONUSERMESSAGE)->function = -1;
    // A user message whose description cannot be made: nothing is pushed.
    lvEventCallback record;
    ClearCallbackRecord(&record);
    record.kind = CALLBACK_USERMESSAGE;
    PushCallback(RecordingCallback);
    record.function = CreateReference(L, LV_REGISTRYINDEX);
    static char block[] = "port\0say hello world";
    record.payload = block;
    snprintf(record.action, sizeof(record.action), "OnUserMessage");
    PushNumber(L, 1);  // something of the caller's
    int top = GetStackTop(L);
    FailAllocMemoryAfter(0);
    EXPECT_EQ(DispatchEventCallback(&record, L, 1, 1), ERR_MEM);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(GetStackTop(L), top);
    EXPECT_EQ(seen.calls, 0);
    // The machine itself runs out of memory while the table is built: the function
    // and the partial table go again, and the function is not called.
    gVMDebug.memoryLimit = machine->G->nblocks;
    EXPECT_EQ(DispatchEventCallback(&record, L, 1, 1), ERR_MEM);
    gVMDebug.memoryLimit = 0;
    EXPECT_EQ(GetStackTop(L), top);
    EXPECT_EQ(seen.calls, 0);
    // With memory the same call runs and keeps the table for the result.
    EXPECT_EQ(DispatchEventCallback(&record, L, 1, 1), 0);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(GetStackTop(L), top + 3);  // the table and two results
    record.payload = nullptr;
}

TEST_F(EventLibrary, WaitEventOnTheScriptThreadReturnsEachFiringsTable)
{
    // The machine moves to the script thread as at start-up; the test's thread pumps.
    struct Run {
        EventLibrary *test;  // the fixture
        int waits;           // WaitEvent calls that returned an "Interval" table
    } run = {this, 0};
    int result = RunMainLoop(
        [](void *data) {
            Run *r = (Run *)data;
            lvState *L = r->test->L;
            ClaimVMState(L);
            int status = r->test->Call("setinterval", [&] {
                PushNumber(L, 1);
                PushCallback(RecordingCallback);
                PushNumber(L, 15);
            });
            if (status) return status;
            for (int i = 0; i < 3; i++) {
                if ((status = r->test->Call("waitevent"))) return status;
                if (GetStackTop(L) == 1 && FieldText(L, 1, "action") == "Interval") r->waits++;
            }
            return r->test->Call("clearinterval", [&] { PushNumber(L, 1); });
        },
        &run);
    ClaimVMState(L);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(run.waits, 3);
    EXPECT_EQ(seen.calls, 3);
}

// A callback runs one callback level deep, so that an error inside takes the callback
// path of the error engine (raised to the waiting command, no stop request), and the
// depth is back at 0 afterwards.
TEST_F(EventLibrary, CallbacksRunOneCallbackLevelDeep)
{
    ResetErrorState();
    errorPath = ErrorPath{};
    ASSERT_EQ(Call("settimeout", [&] {
                  PushNumber(L, 1);
                  PushCallback(ErrorPathCallback);
                  PushNumber(L, 10);
              }),
              0);
    PumpAfter(40);
    ASSERT_EQ(Call("checkevent"), 0);
    EXPECT_EQ(errorPath.depth, 1);
    EXPECT_EQ(errorPath.action, LV_ERROR_RAISE);
    EXPECT_EQ(errorPath.stopRequest, 0) << "an error in a callback took the main path";
    int depth = -1;
    GetRuntimeFlags(nullptr, LV_FLAG_CALLBACK_DEPTH, &depth, 0);
    EXPECT_EQ(depth, 0);
    // Outside callbacks the same error asks the run to stop.
    EXPECT_EQ(RecordCommandError(ERR_WRONGUSAGE), LV_ERROR_RAISE);
    EXPECT_EQ(GetErrorState()->stopRequest, 1);
    ResetErrorState();
}
