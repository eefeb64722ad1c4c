// eventplugin.cpp - the event test plug-in ("eventplug.lvp", tests/ui/events_plugin.cmake):
// a command library, two plug-in event types and a timer adapter, with a call log.
//
// Event types: "TestTableEvent" (kind 0: the runtime calls the handler with a message
// table, which fill adds "value" to) and "TestPushEvent" (kind 1: push looks its handler
// up through FindEventName and pushes it with two arguments itself; finish and release
// note the payload). TestPostEvent(kind, value) posts one of them through PostAdapterEvent.
// Timer adapter: installed from RequirePlugin (a linked plug-in object, required while
// adapters may install); RegisterTimer and FreeTimer log their calls, and TestFireTimers()
// reports every live timer as fired through FireTimerKey, on the script thread.
// TestReleased() counts the payloads the runtime released undispatched. TestLog() gives
// the log, one entry a line. TestInstallTimer() tries to install the
// adapter again (at script time: refused). TestCheckEventOff() sets runtime tag 39,
// TestForbidModal(on) runtime tag 48.
// TestFireOnFree() makes FreeTimer report the other live timers as fired, as a sloppy
// adapter might while the run shuts down.
//
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#define LVE_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;
static lvPluginRecord *self;
static std::string callLog;
static int tableType, pushType;
static const int kRegistryIndex = -10000;  // the machine's registry pseudo-index

static void Note(const std::string &line) { callLog += line + "\n"; }

// ---- Event types --------------------------------------------------------------------

// A posted event: the adapter report record, its second word the value.
struct TestEvent {
    int32_t words[5];
};
static TestEvent posted[64];
static int postedCount;

static int FillTable(lvState *L, int32_t type, void *payload)
{
    int32_t value = ((TestEvent *)payload)->words[1];
    Note("fill " + std::to_string(type - tableType) + " " + std::to_string(value));
    api->scriptVM->PushString(L, "value");
    api->scriptVM->PushNumber(L, value);
    api->scriptVM->SetTableValueRaw(L, -3);
    return 0;
}

static int PushCall(lvState *L, int32_t type, void *payload)
{
    int32_t value = ((TestEvent *)payload)->words[1];
    intptr_t userData = -2;
    lvPluginTag tags[] = {{1, (intptr_t)&userData}, {0, 0}};
    int function = api->system->FindEventName("testpushevent", tags);
    Note("push " + std::to_string(value) + " handler " + (function >= 0 ? "found" : "missing") +
         (userData >= 0 ? " with user data" : ""));
    if (function < 0) return -1;
    api->scriptVM->GetTableItemRaw(L, kRegistryIndex, function);
    api->scriptVM->PushNumber(L, value);
    api->scriptVM->PushString(L, "pushed");
    return 2;
}

static void FinishCall(lvState *, int32_t, void *payload)
{
    Note("finish " + std::to_string(((TestEvent *)payload)->words[1]));
}

static int released;  // payloads the runtime handed back without a dispatch

static void ReleasePayload(lvState *, int32_t, void *payload)
{
    released++;
    Note("release " + std::to_string(((TestEvent *)payload)->words[1]));
}

static int CmdTestReleased(lvState *L)
{
    api->scriptVM->PushNumber(L, released);
    return 1;
}

// TestPostEvent(kind, value): kind 0 posts a TestTableEvent, 1 a TestPushEvent.
static int CmdTestPostEvent(lvState *L)
{
    int kind = (int)api->scriptVM->CheckNumberArg(L, 1);
    TestEvent *event = &posted[postedCount++ % 64];
    std::memset(event, 0, sizeof *event);
    event->words[1] = (int32_t)api->scriptVM->CheckNumberArg(L, 2);
    return api->system->PostAdapterEvent(L, kind ? pushType : tableType, (lvAdapterEvent *)event);
}

// ---- Timer adapter ---------------------------------------------------------------------

struct TestTimer {
    uintptr_t handle;
    int period, oneShot, live;
};
static std::vector<TestTimer> *timers;
static uintptr_t nextHandle = 100;
static lvState *timerState;  // the state RegisterTimer was given
static int fireOnFree;       // TestFireOnFree(): FreeTimer reports the other live timers as fired

LVE_EXPORT(RegisterTimer)(lvState *L, int32_t period, int32_t oneShot) -> uintptr_t
{
    timerState = L;
    uintptr_t handle = nextHandle++;
    timers->push_back({handle, period, oneShot, 1});
    Note("register " + std::to_string(handle) + " " + std::to_string(period) + (oneShot ? " once" : " repeat"));
    return handle;
}

LVE_EXPORT(FreeTimer)(uintptr_t handle) -> void
{
    for (TestTimer &t : *timers)
        if (t.handle == handle) t.live = 0;
    Note("free " + std::to_string(handle));
    if (!fireOnFree) return;
    std::vector<uintptr_t> live;
    for (const TestTimer &t : *timers)
        if (t.live) live.push_back(t.handle);
    for (uintptr_t other : live) api->system->FireTimerKey(timerState, other);
}

static int CmdTestFireOnFree(lvState *)
{
    fireOnFree = 1;
    return 0;
}

// TestFireTimers(): every live timer fires once; -> the number fired.
static int CmdTestFireTimers(lvState *L)
{
    std::vector<uintptr_t> due;
    for (const TestTimer &t : *timers)
        if (t.live) due.push_back(t.handle);
    for (uintptr_t handle : due) {
        Note("fire " + std::to_string(handle));
        int code = api->system->FireTimerKey(L, handle);
        if (code) return code;
    }
    api->scriptVM->PushNumber(L, (double)due.size());
    return 1;
}

static int CmdTestInstallTimer(lvState *L)
{
    api->scriptVM->PushNumber(L, api->system->InstallTimerAdapter(self, 0));
    return 1;
}

static int CmdTestCheckEventOff(lvState *)
{
    lvPluginTag tags[] = {{39, 1}, {0, 0}};
    api->system->RuntimeTags(tags);
    return 0;
}

// TestForbidModal(on) sets runtime tag 48: commands that wait in a loop of their own refuse.
static int CmdTestForbidModal(lvState *L)
{
    lvPluginTag tags[] = {{48, (intptr_t)api->scriptVM->CheckNumberArg(L, 1)}, {0, 0}};
    api->system->RuntimeTags(tags);
    return 0;
}

static int CmdTestLog(lvState *L)
{
    api->scriptVM->PushString(L, callLog.c_str());
    return 1;
}

// ---- Library and plug-in -----------------------------------------------------------------

static const lvPluginCommand commands[] = {
    {"TestPostEvent", CmdTestPostEvent}, {"TestFireTimers", CmdTestFireTimers},
    {"TestInstallTimer", CmdTestInstallTimer}, {"TestCheckEventOff", CmdTestCheckEventOff},
    {"TestForbidModal", CmdTestForbidModal},
    {"TestFireOnFree", CmdTestFireOnFree}, {"TestReleased", CmdTestReleased}, {"TestLog", CmdTestLog},
    {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};

LVE_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVE_EXPORT(GetCommands)(void) -> const lvPluginCommand * { return commands; }
LVE_EXPORT(GetConstants)(void) -> const lvPluginConstant * { return constants; }
LVE_EXPORT(InitLibrary)(lvState *) -> int { return 0; }
LVE_EXPORT(FreeLibrary)(lvState *) -> void {}

LVE_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *) -> int
{
    int code = api->system->InstallTimerAdapter(self, 0);
    Note("install timer adapter " + std::to_string(code));
    return code;
}

LVE_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *) -> int
{
    api = table;
    self = record;
    record->capabilities = PLUGINCAPS_LIBRARY | PLUGINCAPS_REQUIRE | PLUGINCAPS_TIMERADAPTER;
    record->version = 1;
    record->revision = 0;
    record->name = "Event test plug-in";
    record->moduleName = "eventplug";
    record->author = "Lumivarra tests";
    record->description = "Plug-in event types and a timer adapter for the tests";
    record->copyright = "none";
    record->url = "";
    record->date = "10.12.2026";
    if (!timers) timers = new std::vector<TestTimer>;
    if (!tableType) {
        tableType = api->system->RegisterEventName("TestTableEvent", (intptr_t)FillTable);
        const intptr_t payload[3] = {(intptr_t)PushCall, (intptr_t)FinishCall, (intptr_t)ReleasePayload};
        pushType = api->system->RegisterEventNameKind("TestPushEvent", 1, payload);
        Note("types " + std::to_string(tableType) + " " + std::to_string(pushType));
    }
    return 1;
}

LVE_EXPORT(ClosePlugin)(void) -> void
{
    delete timers;
    timers = nullptr;
}
