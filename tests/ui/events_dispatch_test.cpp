// The dispatcher: the order of one gathering pass, matching to display and button
// handlers, the waits' results, nesting, cancelling by reference, system events
// without handlers, plug-in callbacks and plug-in event types, handler installation
// and the message descriptions.
#include "events_fakes.h"
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

namespace {

class EventDispatcher : public EventEngineTest {};

// Queues a record of a kind and action, as the fake sources do.
int QueueNamed(int kind, const char *action, int32_t function)
{
    lvEventCallback record;
    ClearCallbackRecord(&record);
    record.kind = kind;
    record.function = function;
    snprintf(record.action, sizeof(record.action), "%s", action);
    return QueueCallback(&record, 1);
}

int DrainTimersOnce(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    PumpMessages(1);  // this thread stands in for the pumping thread
    return 0;
}

}  // namespace

TEST_F(EventDispatcher, OnePassGathersItsSourcesInTheirOrder)
{
    // Fake sources for what other subsystems will bring.
    lvEventSourceHooks sources = {};
    sources.NextMusicRequest = [](lvEventId *music, int64_t *samples, int64_t *count) {
        static int asked = 0;
        if (asked++) return 0;
        *music = lvEventId{4, 0};
        *samples = 1024;
        *count = 2;
        return 1;
    };
    sources.PollNetwork = [](lvState *) { return QueueNamed(CALLBACK_RECEIVEDATA, "OnReceiveData", 40); };
    sources.HaveLegacyTriggers = [] { return 1; };
    sources.QueueLegacyJumps = [](lvState *) { return QueueNamed(CALLBACK_COMMANDMESSAGE, "LegacyLabel", 41); };
    sources.LegacyHover = [](lvState *) { return QueueNamed(CALLBACK_COMMANDMESSAGE, "LegacyHover", 42); };
    SetEventSourceHooks(&sources);
    lvEventDisplayHooks displays = {};
    displays.ButtonHover = [](lvState *, lvDisplay *) { return QueueNamed(CALLBACK_BUTTON, "OnMouseOver", 43); };
    InstallFakeDisplays(&displays);
    FakeDisplay *d = NewFakeDisplay(1);
    d->events.slots[HANDLER_ONMOUSEMOVE].function = 30;
    d->events.slots[HANDLER_ONMOUSEDOWN].function = 31;
    d->events.mouseMoved = 1;
    GetGlobalHandler(GLOBAL_FILLMUSICBUFFER)->function = 20;
    GetGlobalHandler(GLOBAL_ONSAMPLEEND)->function = 21;
    // One of each: a fired interval, a system event, an input event.
    ASSERT_EQ(SetTimerObject(nullptr, LV_TYPE_INTERVAL, lvObjectId{1, nullptr}, 0, 5, 22, -1, nullptr), 0);
    DrainTimersOnce(40);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_SAMPLEEND, 9, 0, 1, 1, 0, 0), 0);
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 5, 6, 1, nullptr), 1);
    // The input event is posted first but gathered after the sources before it.
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    ASSERT_EQ(RunQueuedCallbacks(nullptr, nullptr), 0);
    EXPECT_EQ(Actions(), (std::vector<std::string>{"FillMusicBuffer", "Interval", "OnSampleEnd",
                                                   "OnMouseMove", "OnReceiveData", "LegacyLabel",
                                                   "OnMouseDown", "LegacyHover", "OnMouseOver"}));
    EXPECT_EQ(d->events.mouseMoved, 0);  // cleared by the hover step
    // Skipping legacy hover leaves it out.
    machine.calls.clear();
    d->events.mouseMoved = 1;
    ASSERT_EQ(GatherEvents(nullptr, 1), 0);
    ASSERT_EQ(RunQueuedCallbacks(nullptr, nullptr), 0);
    std::vector<std::string> second = Actions();
    EXPECT_EQ(std::count(second.begin(), second.end(), "LegacyHover"), 0);
    EXPECT_EQ(std::count(second.begin(), second.end(), "OnMouseOver"), 1);
}

TEST_F(EventDispatcher, AClickOnADisplayAndAButtonRunsTheDisplayHandlerFirst)
{
    lvEventDisplayHooks displays = {};
    displays.MatchButtons = [](lvState *, const lvFetchedEvent *e) {
        return e->down ? QueueNamed(CALLBACK_BUTTON, "OnMouseDown", 60) : 0;
    };
    InstallFakeDisplays(&displays);
    FakeDisplay *d = NewFakeDisplay(3);
    d->events.slots[HANDLER_ONMOUSEDOWN] = lvHandlerSlot{61, 62};
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 15, 25, 1, nullptr), 1);
    int results = 0;
    ASSERT_EQ(RunWaitEvent(nullptr, &results), 0);
    EXPECT_EQ(results, 1);
    ASSERT_EQ(machine.calls.size(), 1u);
    const FakeCall first = machine.calls[0];  // a copy: the vector grows below
    EXPECT_EQ(first.function, 61);
    EXPECT_EQ(first.userData, 62);
    EXPECT_EQ(first.id.number, 3u);
    EXPECT_EQ(first.x, 15);
    EXPECT_EQ(first.y, 25);
    EXPECT_EQ(first.wantTable, 1);
    EXPECT_EQ(machine.tables, (std::vector<int>{1}));
    // The button's callback was queued too and runs at the next wait without waiting.
    EXPECT_EQ(CountQueuedCallbacks(), 1);
    ASSERT_EQ(RunWaitEvent(nullptr, &results), 0);
    ASSERT_EQ(machine.calls.size(), 2u);
    EXPECT_EQ(machine.calls[1].function, 60);
    // The message of a display handler has "userdata" and "timestamp".
    const std::vector<std::string> &names = first.fieldNames;
    EXPECT_NE(std::find(names.begin(), names.end(), "userdata"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "timestamp"), names.end());
}

TEST_F(EventDispatcher, CheckEventWithNothingPendingReturnsAnEmptyTableAtOnce)
{
    auto start = std::chrono::steady_clock::now();
    int results = 0;
    EXPECT_EQ(RunCheckEvent(nullptr, &results), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 100);
    EXPECT_EQ(results, 1);
    EXPECT_EQ(machine.tables, (std::vector<int>{-1}));  // no record ran
    EXPECT_TRUE(machine.calls.empty());
    // CheckEvents returns nothing and runs everything pending.
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "A", 1), 0);
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "B", 2), 0);
    EXPECT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_EQ(Actions(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(machine.tables.size(), 1u);
}

TEST_F(EventDispatcher, WaitEventInsideACallbackIsRefusedWhileCheckEventRunsOthers)
{
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "Outer", 1), 0);
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "Inner", 2), 0);
    int nestedWait = -1, nestedCheck = -1;
    machine.onCall = [&](lvEventCallback *record) {
        if (strcmp(record->action, "Outer") != 0) return 0;
        int results;
        nestedWait = RunWaitEvent(nullptr, &results);
        nestedCheck = RunCheckEvent(nullptr, &results);
        return 0;
    };
    int results;
    ASSERT_EQ(RunWaitEvent(nullptr, &results), 0);
    EXPECT_EQ(nestedWait, ERR_WRONGUSAGE);
    EXPECT_EQ(nestedCheck, 0);
    EXPECT_EQ(Actions(), (std::vector<std::string>{"Outer", "Inner"}));  // the outer ran once
    EXPECT_EQ(CountQueuedCallbacks(), 0);
}

TEST_F(EventDispatcher, ErrorsAndQuitsStopTheWait)
{
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "Fails", 1), 0);
    ASSERT_EQ(QueueNamed(CALLBACK_INTERVAL, "Later", 2), 0);
    machine.onCall = [](lvEventCallback *) { return 1234; };
    int results;
    EXPECT_EQ(RunWaitEvent(nullptr, &results), 1234);
    EXPECT_EQ(CountQueuedCallbacks(), 1);  // what was queued after it stays
    machine.onCall = nullptr;
    machine.quit = 1;  // a quit asked for during a successful call
    EXPECT_EQ(RunWaitEvent(nullptr, &results), ERR_USERABORT);
    machine.quit = 0;
    ASSERT_EQ(PostEvent(nullptr, EVENT_QUIT, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(RunWaitEvent(nullptr, &results), ERR_USERABORT);
}

TEST_F(EventDispatcher, ReplacingAHandlerCancelsItsQueuedCallbacksAndReleasesIt)
{
    FakeDisplay *d = NewFakeDisplay(1);
    lvHandlerSlot &slot = d->events.slots[HANDLER_ONMOUSEDOWN];
    slot = lvHandlerSlot{70, 71};
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 0, 0, 1, nullptr), 1);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    ASSERT_EQ(CountQueuedCallbacks(), 1);
    // A number in place of the function removes the handler (and, without new user
    // data, its user data).
    SetHandlerSlot(nullptr, &slot, -1, 0, nullptr, nullptr);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    EXPECT_EQ(slot.function, -1);
    EXPECT_EQ(slot.userData, -1);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{70, 71}));
    // Removing with user data given keeps that user data for the next function.
    SetHandlerSlot(nullptr, &slot, -1, 1, [](lvState *, void *) { return (int32_t)72; }, nullptr);
    EXPECT_EQ(slot.userData, 72);
    SetHandlerSlot(nullptr, &slot, 73, 0, nullptr, nullptr);
    EXPECT_EQ(slot.function, 73);
    EXPECT_EQ(slot.userData, 72);
}

TEST_F(EventDispatcher, SystemEventsWithoutHandlersAreConsumedAndFinishedJobsReleased)
{
    static std::vector<uintptr_t> releasedJobs;
    releasedJobs.clear();
    lvEventSourceHooks sources = {};
    sources.ReleaseRunJob = [](lvState *, void *job) { releasedJobs.push_back((uintptr_t)job); };
    SetEventSourceHooks(&sources);
    // No handlers: owned payloads are freed (checked by the sanitizer runs), nothing runs.
    ASSERT_EQ(PostSystemEvent(SYSEVENT_USERMESSAGE, 0, (uintptr_t)AllocMemory(16, 1), 0, 0, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_MUSICEND, 3, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 0x100, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    EXPECT_EQ(releasedJobs, (std::vector<uintptr_t>{0x100}));
    // With a RunOutput callback of the job still queued, the job goes after it.
    GetGlobalHandler(GLOBAL_RUNOUTPUT)->function = 80;
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNOUTPUT, 0x200, (uintptr_t)AllocMemory(16, 1), 0, 0, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 0x200, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(releasedJobs.size(), 1u);
    ASSERT_EQ(CountQueuedCallbacks(), 1);
    // A deferred call brings and then releases its own references.
    lvDeferredCall *call = (lvDeferredCall *)AllocMemory(sizeof(lvDeferredCall), 1);
    call->function = 90;
    call->userData = 91;
    ASSERT_EQ(PostSystemEvent(SYSEVENT_CALLBACK, 0, (uintptr_t)call, 0, 0, 0, 0), 0);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    EXPECT_EQ(Actions(), (std::vector<std::string>{"RunOutput", "RunCallback"}));
    EXPECT_EQ(machine.calls[1].function, 90);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{90, 91}));
    EXPECT_EQ(releasedJobs, (std::vector<uintptr_t>{0x100, 0x200}));  // after its output
    // A reported job goes after its RunFinished call, or when that call is cancelled.
    GetGlobalHandler(GLOBAL_RUNFINISHED)->function = 81;
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 0x300, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 0x400, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    int results;
    ASSERT_EQ(RunCheckEvent(nullptr, &results), 0);
    FreeEventCache(nullptr);
    EXPECT_EQ(releasedJobs, (std::vector<uintptr_t>{0x100, 0x200, 0x300, 0x400}));
    // A deferred call that is cancelled before it ran gives its references back too.
    machine.released.clear();
    call = (lvDeferredCall *)AllocMemory(sizeof(lvDeferredCall), 1);
    call->function = 92;
    call->userData = -1;
    ASSERT_EQ(PostSystemEvent(SYSEVENT_CALLBACK, 0, (uintptr_t)call, 0, 0, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    FreeEventCache(nullptr);
    EXPECT_EQ(machine.released, (std::vector<int32_t>{92}));
}

TEST_F(EventDispatcher, SampleEndsCarryTheirNumbersAndMusicEndsTheirBookkeeping)
{
    static int bookkeeping = 0;
    bookkeeping = 0;
    lvEventSourceHooks sources = {};
    sources.MusicEndBookkeeping = [](lvState *, lvEventId) { bookkeeping++; };
    SetEventSourceHooks(&sources);
    GetGlobalHandler(GLOBAL_ONSAMPLEEND)->function = 1;
    GetGlobalHandler(GLOBAL_ONMUSICEND)->function = 2;
    ASSERT_EQ(PostSystemEvent(SYSEVENT_SAMPLEEND, 7, 0, 100, 3, 5, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_MUSICEND, 8, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_MUSICEND, 9, 0, 0, 0, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    MarkMusicEndHandled(lvEventId{9, 0});
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    ASSERT_EQ(machine.calls.size(), 3u);
    EXPECT_EQ(machine.calls[0].id.number, 7u);
    const std::vector<std::string> &f = machine.calls[0].fieldNames;
    EXPECT_NE(std::find(f.begin(), f.end(), "time"), f.end());
    EXPECT_NE(std::find(f.begin(), f.end(), "starts"), f.end());
    EXPECT_EQ(bookkeeping, 1);  // music 9 had it done already
}

TEST_F(EventDispatcher, PluginCallbacksRunWithTheEventLockReleased)
{
    // The flag outlives the test: with the lock held the helper only gets through later.
    static auto posted = std::make_shared<std::atomic<int>>(0);
    lvPluginCallbackBlock *block = (lvPluginCallbackBlock *)AllocMemory(sizeof(lvPluginCallbackBlock), 1);
    block->function = [](lvState *, void *) {
        // A plug-in that waits for its own thread, which posts an event.
        std::shared_ptr<std::atomic<int>> flag = posted;
        std::thread helper([flag] {
            PostEvent(nullptr, EVENT_QUIT, 0, 0, 0, nullptr);
            *flag = 1;
        });
        for (int i = 0; i < 200 && !*flag; i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!*flag) {
            helper.detach();  // blocked on the event lock: the fault this test is about
            return 4321;
        }
        helper.join();
        return 0;
    };
    ASSERT_EQ(PostEvent(nullptr, EVENT_PLUGINCALLBACK, 0, 0, 0, block), 1);
    // The callback succeeds, then the quit its helper posted ends the pass.
    EXPECT_EQ(GatherEvents(nullptr, 0), ERR_USERABORT);
    EXPECT_EQ(posted->load(), 1);
}

TEST_F(EventDispatcher, PluginEventTypesMatchByModeAndWithdrawnTypesAreInvisible)
{
    lvPluginEvent callbacks = {};
    int32_t first = RegisterPluginEvent("OnGadget", 0, &callbacks);
    EXPECT_EQ(first, EVENT_PLUGINFIRST);
    EXPECT_EQ(RegisterPluginEvent("ongadget", 0, &callbacks), 0);  // the name is taken
    static int pushes = 0, finishes = 0;
    callbacks.push = [](lvState *, int32_t, void *) {
        pushes++;
        return 0;
    };
    callbacks.finish = [](lvState *, int32_t, void *) { finishes++; };
    int32_t second = RegisterPluginEvent("OnWidget", 1, &callbacks);
    EXPECT_EQ(second, EVENT_PLUGINFIRST + 1);
    // Mode 0 needs a handler; mode 1 always matches and is called by the plug-in.
    ASSERT_EQ(PostEvent(nullptr, first, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(PostEvent(nullptr, second, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 1);
    int results;
    ASSERT_EQ(RunCheckEvent(nullptr, &results), 0);
    EXPECT_EQ(pushes, 1);
    EXPECT_EQ(finishes, 1);
    EXPECT_EQ(machine.tables, (std::vector<int>{0}));  // an empty table for a mode-1 event
    FindPluginEventByName("ONGADGET")->slot.function = 5;
    EXPECT_EQ(FindPluginEventHandler("onGadget", nullptr), 5);
    WithdrawPluginEvent(first);
    EXPECT_EQ(FindPluginEventHandler("onGadget", nullptr), -1);
    ASSERT_EQ(PostEvent(nullptr, first, 0, 0, 0, nullptr), 1);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    // A withdrawn name can be registered again, with a new number.
    EXPECT_EQ(RegisterPluginEvent("OnGadget", 0, &callbacks), EVENT_PLUGINFIRST + 2);
}

// ---- Installing handlers ---------------------------------------------------------------------

namespace {

// A script table as the command layer would read it: name -> reference or mark.
struct FakeTable {
    std::vector<std::pair<std::string, int32_t>> entries;  // 1000 and up: a wrong type
};

int ReadFromFakeTable(lvState *, const char *name, void *context, int32_t *reference)
{
    for (auto &e : ((FakeTable *)context)->entries) {
        if (e.first != name) continue;
        if (e.second >= 1000) return ERR_FUNCEXPECTED;
        *reference = e.second;
        return 0;
    }
    *reference = LV_HANDLER_KEEP;
    return 0;
}

}  // namespace

TEST_F(EventDispatcher, InstallingHandlersKeepsAbsentNamesAndStartsTheNetworkInterval)
{
    static std::vector<std::string> switches;
    switches.clear();
    lvEventSourceHooks sources = {};
    sources.SetSoundEventSwitch = [](const char *name, int on) {
        switches.push_back(std::string(name) + (on ? "+" : "-"));
    };
    SetEventSourceHooks(&sources);
    FakeDisplay *d = NewFakeDisplay(1);
    d->events.slots[HANDLER_ONKEYDOWN].function = 5;
    FakeTable table = {{{"onmousedown", 10}, {"closewindow", 11}, {"onreceivedata", 12}, {"onmusicend", 13}}};
    ASSERT_EQ(InstallEventHandlers(nullptr, AsDisplay(d), ReadFromFakeTable, 0, nullptr, &table), 0);
    EXPECT_EQ(d->events.slots[HANDLER_ONKEYDOWN].function, 5);  // not named: kept
    EXPECT_EQ(d->events.slots[HANDLER_ONMOUSEDOWN].function, 10);
    EXPECT_EQ(d->events.closeHandled, 1);
    EXPECT_EQ(GetGlobalHandler(GLOBAL_ONRECEIVEDATA)->function, 12);
    EXPECT_EQ(InternalIntervalUsers(), 2);  // the network user
    EXPECT_EQ(switches, (std::vector<std::string>{"onmusicend+"}));
    // The internal interval's firings queue nothing.
    DrainTimersOnce(60);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(CountQueuedCallbacks(), 0);
    // Removing the network handler stops it; a wrong type stops at its name.
    FakeTable removal = {{{"onreceivedata", LV_HANDLER_REMOVE}, {"closewindow", LV_HANDLER_REMOVE}}};
    ASSERT_EQ(InstallEventHandlers(nullptr, AsDisplay(d), ReadFromFakeTable, 0, nullptr, &removal), 0);
    EXPECT_EQ(InternalIntervalUsers(), 0);
    EXPECT_EQ(d->events.closeHandled, 0);
    EXPECT_EQ(FirstInterval(), nullptr);
    FakeTable wrong = {{{"onkeydown", LV_HANDLER_REMOVE}, {"onkeyup", 1000}, {"onmousemove", 14}}};
    EXPECT_EQ(InstallEventHandlers(nullptr, AsDisplay(d), ReadFromFakeTable, 0, nullptr, &wrong),
              ERR_FUNCEXPECTED);
    EXPECT_EQ(d->events.slots[HANDLER_ONKEYDOWN].function, -1);   // before the bad name: done
    EXPECT_EQ(d->events.slots[HANDLER_ONMOUSEMOVE].function, -1); // after it: untouched
}

TEST_F(EventDispatcher, HandlerNamesAreFoundWithoutRegardToCase)
{
    FakeDisplay *d = NewFakeDisplay(1);
    EXPECT_EQ(FindHandlerSlotByName(AsDisplay(d), "OnMouseDown"), &d->events.slots[HANDLER_ONMOUSEDOWN]);
    EXPECT_EQ(FindHandlerSlotByName(AsDisplay(d), "HIDESYSTEMBARS"), &d->events.slots[36]);
    EXPECT_EQ(FindHandlerSlotByName(nullptr, "OnMouseDown"), nullptr);  // no display, no per-display names
    EXPECT_EQ(FindHandlerSlotByName(nullptr, "RunOutput"), GetGlobalHandler(GLOBAL_RUNOUTPUT));
    EXPECT_EQ(FindHandlerSlotByName(AsDisplay(d), "nosuchevent"), nullptr);
    lvPluginEvent callbacks = {};
    ASSERT_NE(RegisterPluginEvent("OnGizmo", 0, &callbacks), 0);
    ASSERT_NE(FindHandlerSlotByName(nullptr, "ongizmo"), nullptr);
    EXPECT_EQ(FindHandlerSlotByName(nullptr, "ongizmo")->function, -1);
}

// ---- Message descriptions ---------------------------------------------------------------------

namespace {

std::string Bytes(const lvEventMessage &m, const char *name)
{
    const lvMessageField *f = FindMessageField(&m, name);
    if (!f) return "<none>";
    return f->type == MSGFIELD_BYTES ? std::string(f->text, f->length) : std::string(f->text);
}

double Number(const lvEventMessage &m, const char *name)
{
    const lvMessageField *f = FindMessageField(&m, name);
    return f ? f->number : -1;
}

}  // namespace

TEST(EventMessages, CommandMessagesSplitOnBlanksOutsideQuotes)
{
    struct Case {
        const char *text, *command, *rawargs;
        std::string args;
        int argc;
    } cases[] = {
        {"open \"my file\" now", "open", "\"my file\" now", std::string("my file\0now", 11), 2},
        {"quit", "quit", "", "", 0},
        {"say hi ", "say", "hi ", std::string("hi\0", 3), 2},
        {"x \"a\"\"b\" c", "x", "\"a\"\"b\" c", std::string("ab\0c", 4), 2},
        {"", "", "", "", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        lvEventMessage m = {};
        ASSERT_EQ(DescribeCommandMessage(&m, c.text), 0);
        EXPECT_EQ(Bytes(m, "command"), c.command);
        EXPECT_EQ(Bytes(m, "rawargs"), c.rawargs);
        EXPECT_EQ(Bytes(m, "args"), c.args);
        EXPECT_EQ(Number(m, "argc"), c.argc);
        FreeEventMessage(&m);
    }
    // Out of memory: an error, and nothing left to free.
    lvEventMessage m = {};
    FailAllocMemoryAfter(1);
    EXPECT_EQ(DescribeCommandMessage(&m, "a b"), ERR_MEM);
    FailAllocMemoryAfter(-1);
    FreeEventMessage(&m);
}

TEST(EventMessages, QualifiersBecomeModifierBits)
{
    EXPECT_EQ(QualifiersToModifiers(0x80010000u), 1u);
    EXPECT_EQ(QualifiersToModifiers(0x80810000u), 1u | 32u);
    EXPECT_EQ(QualifiersToModifiers(0x80FF0000u), 255u);
    EXPECT_EQ(QualifiersToModifiers(0x00010000u), 0u);  // without the marker bit nothing is held
}

TEST_F(EventDispatcher, KeyMessagesCarryModifiersExceptForRawKeys)
{
    lvEventDisplayHooks displays = {};
    displays.GetQualifiers = [](lvDisplay *) { return 0x80400000u; };
    InstallFakeDisplays(&displays);
    FakeDisplay *d = NewFakeDisplay(2);
    d->events.slots[HANDLER_ONKEYUP].function = 1;
    d->events.slots[32].function = 2;  // onrawkeyup
    d->events.slots[30].function = 3;  // vanillakey
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_KEY, 0, 0, 'a', nullptr), 1);
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_RAWKEY, 0, 0, 'b', nullptr), 1);
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_VANILLAKEY, 0, 0, 0xE9, nullptr), 1);
    std::vector<lvEventCallback> seen;
    machine.onCall = [&](lvEventCallback *r) {
        seen.push_back(*r);
        return 0;
    };
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    ASSERT_EQ(machine.calls.size(), 3u);
    auto has = [](const FakeCall &c, const char *name) {
        return std::find(c.fieldNames.begin(), c.fieldNames.end(), name) != c.fieldNames.end();
    };
    EXPECT_EQ(machine.calls[0].action, "OnKeyUp");
    EXPECT_TRUE(has(machine.calls[0], "modifiers"));
    EXPECT_EQ(machine.calls[1].action, "OnRawKeyUp");
    EXPECT_FALSE(has(machine.calls[1], "modifiers"));
    EXPECT_EQ(machine.calls[2].action, "VanillaKey");
    EXPECT_STREQ(seen[0].keyText, "a");
    EXPECT_STREQ(seen[2].keyText, "\xC3\xA9");  // the character in UTF-8
    EXPECT_EQ(machine.calls[0].id.number, 2u);
}

TEST_F(EventDispatcher, ReleasedJobsAndMonitorsTakeTheirQueuedCallbacksWithThem)
{
    static std::vector<uintptr_t> releasedJobs;
    releasedJobs.clear();
    lvEventSourceHooks sources = {};
    sources.JobWantsReport = [](void *) { return 1; };
    sources.ReleaseRunJob = [](lvState *, void *job) { releasedJobs.push_back((uintptr_t)job); };
    SetEventSourceHooks(&sources);
    GetGlobalHandler(GLOBAL_RUNOUTPUT)->function = 80;
    GetGlobalHandler(GLOBAL_RUNFINISHED)->function = 81;
    GetGlobalHandler(GLOBAL_DIRECTORYCHANGED)->function = 82;
    // Job 0x500 and monitors 0x600 and 0x700; the owned blocks are checked by the
    // sanitizer runs.
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNOUTPUT, 0x500, (uintptr_t)AllocMemory(16, 1), 0, 1, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_DIRCHANGED, 0x600, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNEXIT, 0x500, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_DIRCHANGEDETAIL, 0x600, (uintptr_t)AllocMemory(16, 1), 0, 1, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_DIRCHANGED, 0x700, 0, 0, 1, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    ASSERT_EQ(CountQueuedCallbacks(), 5);
    // The owners call the platform's withdrawal while they release their records.
    WithdrawQueuedCallbacks(0x500);
    EXPECT_EQ(CountQueuedCallbacks(), 3);
    EXPECT_TRUE(releasedJobs.empty()) << "the owner releases the job, not the withdrawal";
    WithdrawQueuedCallbacks(0x600);
    EXPECT_EQ(CountQueuedCallbacks(), 1);
    WithdrawQueuedCallbacks(0x12345);
    EXPECT_EQ(CountQueuedCallbacks(), 1);
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    ASSERT_EQ(Actions(), (std::vector<std::string>{"DirectoryChanged"}));

    // A job released from inside its own running callback: the running record stays to
    // finish its call, the job's other queued record goes.
    machine.calls.clear();
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNOUTPUT, 0x800, (uintptr_t)AllocMemory(16, 1), 0, 1, 0, 0), 0);
    ASSERT_EQ(PostSystemEvent(SYSEVENT_RUNOUTPUT, 0x800, (uintptr_t)AllocMemory(16, 1), 0, 1, 0, 0), 0);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    machine.onCall = [](lvEventCallback *record) {
        WithdrawQueuedCallbacks(record->id.number);
        return 0;
    };
    ASSERT_EQ(RunCheckEvents(nullptr), 0);
    machine.onCall = nullptr;
    EXPECT_EQ(Actions(), (std::vector<std::string>{"RunOutput"}));
    EXPECT_EQ(CountQueuedCallbacks(), 0);
}

// The pumping thread posts a window's move or size event before the script thread may have
// folded the window's new place into its display; the message reads the display, so the
// dispatcher collects the changes first. A collection that fails ends the wait unheard.
TEST_F(EventDispatcher, MoveAndSizeEventsRunOnceTheWindowChangesAreCollected)
{
    static int placeX, collected, failWith;
    placeX = 1000, collected = 0, failWith = 0;
    lvEventDisplayHooks displays = {};
    displays.CollectWindowChanges = [](lvState *) {
        collected++;
        placeX = 1050;
        return failWith;
    };
    displays.FillDisplayFields = [](lvState *, const lvEventCallback *record, lvEventMessage *message) {
        if (record->kind == CALLBACK_MOVEWINDOW) AddMessageNumber(message, "x", placeX);
    };
    InstallFakeDisplays(&displays);
    FakeDisplay *d = NewFakeDisplay(2);
    d->events.slots[4].function = 70;  // MoveWindow
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_MOVEWINDOW, 0, 0, 0, nullptr), 1);
    int results = 0;
    ASSERT_EQ(RunWaitEvent(nullptr, &results), 0);
    ASSERT_EQ(machine.calls.size(), 1u);
    EXPECT_EQ(machine.calls[0].function, 70);
    EXPECT_EQ(machine.calls[0].x, 1050);
    EXPECT_EQ(collected, 1);

    // Input events need no collection.
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_LEFTMOUSE, 1, 2, 1, nullptr), 1);
    ASSERT_EQ(GatherEvents(nullptr, 0), 0);
    EXPECT_EQ(collected, 1);

    failWith = ERR_MEM;
    ASSERT_EQ(PostEvent(AsDisplay(d), EVENT_MOVEWINDOW, 0, 0, 0, nullptr), 1);
    EXPECT_EQ(GatherEvents(nullptr, 0), ERR_MEM);
    EXPECT_EQ(collected, 2);
    ASSERT_EQ(RunQueuedCallbacks(nullptr, nullptr), 0);
    EXPECT_EQ(machine.calls.size(), 1u);
}
