// eventhooks.cpp - the hook tables through which the event engine reaches the script
// machine, the runtime core, the displays and the other event sources.
//
// Every slot has a no-op default, so the engine never tests for nullptr and runs on
// its own in tests: without a machine a callback "runs" without effect, without
// displays no display event matches, and sources that do not exist yet add nothing.
// Depends on: nothing but events.h.
// Limits: hooks are installed before the script thread runs and not changed after.
#include "ui/events.h"
#include <cstdio>

// ---- Defaults -------------------------------------------------------------------

static int NoCall(lvState *, lvEventCallback *, const lvEventMessage *, int) { return 0; }
static int NoProtectedCall(lvState *, int, int) { return 0; }
static int NoResultTable(lvState *, const lvEventCallback *, int) { return 0; }
static void NoRelease(lvState *, int32_t) {}
static int Never(void) { return 0; }
static void NoDepth(int) {}
static int32_t NoInstruction(lvState *) { return 0; }
static void NoJump(lvState *, int32_t) {}
static double NoStartTime(void) { return 0.0; }

static const lvEventRuntimeHooks defaultRuntime = {
    NoCall, NoProtectedCall, NoResultTable, NoRelease, Never, Never,
    NoDepth, Never, Never, NoInstruction, NoJump, NoStartTime};

static lvDisplay *NoCurrentDisplay(void) { return nullptr; }
static lvDisplayEvents *NoDisplayEvents(lvDisplay *) { return nullptr; }
static lvDisplay *NoDisplays(lvDisplay *) { return nullptr; }
static int NoSuppress(lvDisplay *) { return 0; }
static int NoSwitch(lvState *, lvDisplay *) { return 0; }
static uint32_t NoQualifiers(lvDisplay *) { return 0; }
static void PlainKeyName(int32_t code, int raw, char *text, size_t size)
{
    // Without the key tables a printable character names itself.
    if (code > 32 && code < 127) snprintf(text, size, "%c", (char)code);
    else if (size) text[0] = 0;
}
static void NoFields(lvState *, const lvEventCallback *, lvEventMessage *) {}
static int NoButtons(lvState *, const lvFetchedEvent *) { return 0; }
static int NoHover(lvState *, lvDisplay *) { return 0; }
static int NoToggle(lvDisplay *, int) { return 0; }
static void NoCloseFlag(lvDisplay *, int) {}
static lvEventId NoDisplayId(lvDisplay *) { return lvEventId{0, 0}; }

static int NoWindowChanges(lvState *) { return 0; }
static const lvEventDisplayHooks defaultDisplays = {
    NoCurrentDisplay, NoDisplayEvents, NoDisplays, NoSuppress, Never, NoSwitch, NoQualifiers, PlainKeyName,
    NoFields, NoButtons, NoHover, NoToggle, NoToggle, NoCloseFlag, NoDisplayId, nullptr, NoWindowChanges};

static int NoMusic(lvEventId *, int64_t *, int64_t *) { return 0; }
static void NoMusicRunning(int) {}
static void NoMusicEnd(lvState *, lvEventId) {}
static void NoSwitchByName(const char *, int) {}
static int NoPoll(lvState *) { return 0; }
static int Always(void *) { return 1; }
static void NoJob(lvState *, void *) {}
static void NoPort(lvState *) {}

static void NoSoundService(void) {}
static const lvEventSourceHooks defaultSources = {
    NoMusic, NoMusicRunning, NoMusicEnd, NoSwitchByName, NoPoll, Never, NoPoll, NoPoll,
    Always, NoJob, NoFields, NoPort, NoSoundService, Never};

// ---- State -------------------------------------------------------------------

struct lvEventHookState {
    lvEventRuntimeHooks runtime;   // script machine and runtime core
    lvEventDisplayHooks displays;  // displays and buttons
    lvEventSourceHooks sources;    // music, network, legacy triggers, jobs
};

static lvEventHookState hookState = {defaultRuntime, defaultDisplays, defaultSources};

// ---- Installing -----------------------------------------------------------------

// Copies the table and puts the default into every empty slot. The tables are records
// of function pointers only, so they are filled slot by slot as arrays.
template <typename Table>
static void FillTable(Table *target, const Table *given, const Table &defaults)
{
    *target = given ? *given : defaults;
    typedef void (*Slot)(void);
    static_assert(sizeof(Table) % sizeof(Slot) == 0, "hook tables hold function pointers only");
    Slot *slots = (Slot *)target;
    const Slot *fallback = (const Slot *)&defaults;
    for (size_t i = 0; i < sizeof(Table) / sizeof(Slot); i++)
        if (!slots[i]) slots[i] = fallback[i];
}

void SetEventRuntimeHooks(const lvEventRuntimeHooks *hooks)
{
    FillTable(&hookState.runtime, hooks, defaultRuntime);
}

void SetEventDisplayHooks(const lvEventDisplayHooks *hooks)
{
    FillTable(&hookState.displays, hooks, defaultDisplays);
}

void SetEventSourceHooks(const lvEventSourceHooks *hooks)
{
    FillTable(&hookState.sources, hooks, defaultSources);
}

const lvEventRuntimeHooks *EventRuntime(void)
{
    return &hookState.runtime;
}

const lvEventDisplayHooks *EventDisplays(void)
{
    return &hookState.displays;
}

const lvEventSourceHooks *EventSources(void)
{
    return &hookState.sources;
}
