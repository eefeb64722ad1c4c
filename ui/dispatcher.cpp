// dispatcher.cpp - the callback queue, the gathering pass, the waits behind WaitEvent,
// CheckEvent and CheckEvents, and the event library's open and close.
//
// Script code runs only on the script thread and only when the script asks for
// events. One gathering pass collects what happened since the last one, in a fixed
// order: a music stream that needs data, fired timers, the system event queue, mouse
// movement, network readiness, the stale-event purge, legacy label jumps, the input
// event queue, legacy hover and button hover. Each becomes an lvEventCallback on the
// callback queue; the records then run one at a time.
// The callback queue is touched only on the script thread and has no lock. Callbacks
// can nest (a callback may call CheckEvent): a running record is skipped by the runs
// and cancellations it starts, so it is neither run twice nor freed under its own feet.
// The input queue is read under the event lock, which is left around plug-in
// callbacks so that a plug-in thread that posts while the callback waits for it
// cannot deadlock.
// Depends on: eventqueue.cpp, handlers.cpp, intervals.cpp, messages.cpp; platform
// (system event queue, timers, the event loop hooks).
// Limits: none.
#include "ui/events.h"
#include "base/lverrors.h"
#include <cstring>

// Called on open and close (eventqueue.cpp, handlers.cpp).
void SetEventQueueOpen(int open);
void ResetGlobalHandlers(lvState *state, int release);

// ---- State -------------------------------------------------------------------

struct lvDispatcherState {
    lvEventCallback *head;  // the callback queue in queuing order
    int waitEventNesting;   // 1 while WaitEvent runs
};

static lvDispatcherState dispatcherState = {nullptr, 0};

// ---- The callback queue ---------------------------------------------------------------

void ClearCallbackRecord(lvEventCallback *record)
{
    memset(record, 0, sizeof(*record));
    record->function = -1;
    record->userData = -1;
}

int QueueCallback(lvEventCallback *record, int useCurrentTime)
{
    lvEventCallback *copy = (lvEventCallback *)AllocMemory(sizeof(lvEventCallback), 0);
    if (!copy) return ERR_MEM;
    *copy = *record;
    copy->next = nullptr;
    copy->useCurrentTime = useCurrentTime;
    lvEventCallback **link = &dispatcherState.head;
    while (*link) link = &(*link)->next;
    *link = copy;
    ClearCallbackRecord(record);
    return 0;
}

int CountQueuedCallbacks(void)
{
    int count = 0;
    for (lvEventCallback *r = dispatcherState.head; r; r = r->next) count++;
    return count;
}

// Frees a record that leaves the queue: its payload by the rule of its event type.
static void FreeCallbackRecord(lvState *state, lvEventCallback *record)
{
    ReleaseEventPayload(state, record->eventType, record->payload);
    FreeMemory(record->resultText);
    FreeMemory(record);
}

static int CancelMatches(const lvEventCallback *record, int selector, const void *object)
{
    switch (selector) {
    case CANCEL_ALL:
        return 1;
    case CANCEL_DISPLAY:
        return record->display == object;
    case CANCEL_REFERENCE: {
        int32_t reference = *(const int32_t *)object;
        return reference != -1 && (record->function == reference || record->userData == reference);
    }
    default:
        return record->kind == selector && record->related1 == object;
    }
}

int CancelQueuedCallbacks(lvState *state, int selector, const void *object)
{
    lvEventCallback **link = &dispatcherState.head;
    while (*link) {
        lvEventCallback *record = *link;
        if (record->running || !CancelMatches(record, selector, object)) {
            link = &record->next;
            continue;
        }
        *link = record->next;
        // A cancelled record still settles what its call would have settled.
        if (ReleasesJobAfterCall(record)) EventSources()->ReleaseRunJob(state, (void *)record->id.number);
        if (record->kind == CALLBACK_RUNCALLBACK) {
            // A deferred call owns its references; nobody else releases them.
            if (record->function != -1) EventRuntime()->ReleaseReference(state, record->function);
            if (record->userData != -1) EventRuntime()->ReleaseReference(state, record->userData);
        }
        FreeCallbackRecord(state, record);
    }
    return selector;
}

int WithdrawObjectCallbacks(uintptr_t object)
{
    int count = 0;
    lvEventCallback **link = &dispatcherState.head;
    while (*link) {
        lvEventCallback *record = *link;
        bool ofObject = record->id.number == object &&
                        (record->kind == CALLBACK_RUNFINISHED || record->kind == CALLBACK_RUNOUTPUT ||
                         record->kind == CALLBACK_DIRCHANGED || record->kind == CALLBACK_DIRCHANGEDETAIL);
        if (record->running || !ofObject) {
            link = &record->next;
            continue;
        }
        // The owner is releasing the object: nothing is settled for it here.
        *link = record->next;
        FreeCallbackRecord(nullptr, record);
        count++;
    }
    return count;
}

static void WithdrawHook(uintptr_t object)
{
    WithdrawObjectCallbacks(object);
}

void MarkMusicEndHandled(lvEventId music)
{
    for (lvEventCallback *r = dispatcherState.head; r; r = r->next)
        if (r->kind == CALLBACK_MEDIAEND && strcmp(r->action, "OnMusicEnd") == 0 &&
            r->id.number == music.number && r->id.handle == music.handle)
            r->flags |= 1;
}

// ---- Running callbacks ----------------------------------------------------------------------

int RunQueuedCallbacks(lvState *state, lvEventCallback *out)
{
    const lvEventRuntimeHooks *runtime = EventRuntime();
    lvEventCallback **link = &dispatcherState.head;
    while (*link) {
        lvEventCallback *record = *link;
        if (record->running) {
            link = &record->next;
            continue;
        }
        int result = 0, stale = 0;
        if (record->kind == CALLBACK_TIMEOUT) {
            // A time-out calls once: its record goes now, its references after the call.
            if (record->related1) DiscardFiredTimeout(state, (lvInterval *)record->related1);
            record->related1 = nullptr;
        }
        if (record->kind == CALLBACK_LABELJUMP) {
            if (record->b == runtime->CurrentInstructionIndex(state)) {
                runtime->SetJumpOffset(state, (int32_t)record->a);
                result = -1;
            } else {
                stale = 1;
            }
        } else {
            record->running = 1;
            result = DispatchEventCallback(record, state, out != nullptr, record->useCurrentTime);
            record->running = 0;
        }
        if (out && !stale) {
            *out = *record;
            out->next = nullptr;
            out->payload = nullptr;
            out->resultText = nullptr;
        }
        // Nested runs may have changed the queue around the record: find it again.
        link = &dispatcherState.head;
        while (*link && *link != record) link = &(*link)->next;
        if (*link) *link = record->next;
        FreeCallbackRecord(state, record);
        if ((out && !stale) || result) return result;
    }
    if (out) out->kind = CALLBACK_NONE;
    return 0;
}

int RunPendingCallbacks(int mode, lvState *state)
{
    if (mode == 2) return RunQueuedCallbacks(state, nullptr);
    lvEventCallback ran;
    ClearCallbackRecord(&ran);
    int result = RunQueuedCallbacks(state, &ran);
    if (result) return result;
    if (ran.kind == CALLBACK_NONE && mode == 0) return 0;
    const lvEventRuntimeHooks *runtime = EventRuntime();
    if (ran.kind == CALLBACK_NONE) return runtime->CompleteResultTable(state, nullptr, 0);
    int pluginPushed = ran.kind == CALLBACK_PLUGINEVENT && ran.pluginEvent && ran.pluginEvent->mode == 1;
    return runtime->CompleteResultTable(state, &ran, pluginPushed ? 0 : 1);
}

int FireFillMusicBuffer(lvState *state, lvEventCallback *record, lvEventId music, int64_t samples,
                        int64_t count)
{
    lvEventCallback now;
    lvEventCallback *target = record ? record : &now;
    ClearCallbackRecord(target);
    const lvHandlerSlot *slot = GetGlobalHandler(GLOBAL_FILLMUSICBUFFER);
    target->kind = CALLBACK_FILLMUSIC;
    target->function = slot->function;
    target->userData = slot->userData;
    target->id = music;
    target->a = samples;
    target->b = count;
    snprintf(target->action, sizeof(target->action), "FillMusicBuffer");
    if (record) return QueueCallback(record, 1);
    return DispatchEventCallback(&now, state, 0, 1);
}

// ---- Gathering ------------------------------------------------------------------------------

// Step 2: fired platform timers.
static int GatherTimers(void)
{
    int kind;
    lvTimerKey key;
    for (uint64_t at = NextFiredTimer(0, &kind, &key); at; at = NextFiredTimer(at, &kind, &key)) {
        if (kind == TIMERKIND_NOTFIRED) continue;
        lvInterval *found = FindTimerByKey(kind == TIMERKIND_INTERVAL ? LV_TYPE_INTERVAL : LV_TYPE_TIMEOUT, key);
        if (!found || found->function == -1) continue;  // gone, or the internal interval
        lvEventCallback record;
        ClearCallbackRecord(&record);
        record.kind = kind == TIMERKIND_INTERVAL ? CALLBACK_INTERVAL : CALLBACK_TIMEOUT;
        record.related1 = found;
        record.function = found->function;
        record.userData = found->userData;
        record.id = TimerEventId(found);
        snprintf(record.action, sizeof(record.action), kind == TIMERKIND_INTERVAL ? "Interval" : "Timeout");
        int result = QueueCallback(&record, 1);
        if (result) return result;
    }
    return 0;
}

// A system event's route: its global slot (-1: the block's own references) and kind.
struct lvSystemEventRow {
    int32_t type;          // the system event type
    const char *action;    // the action name
    int32_t slot;          // the global slot, -1 for the deferred call's own
    int32_t kind;          // the callback kind
};

static const lvSystemEventRow systemEventRows[] = {
    {SYSEVENT_SAMPLEEND, "OnSampleEnd", GLOBAL_ONSAMPLEEND, CALLBACK_MEDIAEND},
    {SYSEVENT_SAMPLELOOP, "OnSampleLoop", GLOBAL_ONSAMPLELOOP, CALLBACK_MEDIAEND},
    {SYSEVENT_MUSICEND, "OnMusicEnd", GLOBAL_ONMUSICEND, CALLBACK_MEDIAEND},
    {SYSEVENT_VIDEOEND, "OnVideoEnd", GLOBAL_ONVIDEOEND, CALLBACK_MEDIAEND},
    {SYSEVENT_RUNEXIT, "RunFinished", GLOBAL_RUNFINISHED, CALLBACK_RUNFINISHED},
    {SYSEVENT_DIRCHANGED, "DirectoryChanged", GLOBAL_DIRECTORYCHANGED, CALLBACK_DIRCHANGED},
    {SYSEVENT_RUNOUTPUT, "RunOutput", GLOBAL_RUNOUTPUT, CALLBACK_RUNOUTPUT},
    {SYSEVENT_CALLBACK, "RunCallback", -1, CALLBACK_RUNCALLBACK},
    {SYSEVENT_USERMESSAGE, "OnUserMessage", GLOBAL_ONUSERMESSAGE, CALLBACK_USERMESSAGE},
    {SYSEVENT_DIRCHANGEDETAIL, "DirectoryChanged", GLOBAL_DIRECTORYCHANGED, CALLBACK_DIRCHANGEDETAIL},
};

static bool OwnsPayload(int32_t type)
{
    return type >= SYSEVENT_RUNOUTPUT && type <= SYSEVENT_DIRCHANGEDETAIL;
}

// A finished job nobody reports: released now, or after its queued output callback.
static void SettleUnreportedJob(lvState *state, uintptr_t job)
{
    for (lvEventCallback *r = dispatcherState.head; r; r = r->next) {
        if (r->kind == CALLBACK_RUNOUTPUT && r->id.number == job) {
            r->releaseJobAfter = 1;
            return;
        }
    }
    EventSources()->ReleaseRunJob(state, (void *)job);
}

// Step 3: the system event queue.
static int GatherSystemEvents(lvState *state)
{
    lvSystemEvent event;
    while (GetSystemEvent(&event)) {
        void *payload = OwnsPayload(event.type) ? (void *)event.data2 : nullptr;
        const lvSystemEventRow *row = nullptr;
        for (const lvSystemEventRow &r : systemEventRows)
            if (r.type == event.type) row = &r;
        lvEventCallback record;
        ClearCallbackRecord(&record);
        if (row && row->slot >= 0) {
            const lvHandlerSlot *slot = GetGlobalHandler(row->slot);
            record.function = slot->function;
            record.userData = slot->userData;
        } else if (row && payload) {
            // A deferred call brings its own references, which the record takes over.
            const lvDeferredCall *call = (const lvDeferredCall *)payload;
            record.function = call->function;
            record.userData = call->userData;
        }
        if (row && row->kind == CALLBACK_RUNFINISHED &&
            (record.function == -1 || !EventSources()->JobWantsReport((void *)event.data1))) {
            SettleUnreportedJob(state, event.data1);
            continue;
        }
        if (!row || record.function == -1) {
            FreeMemory(payload);
            continue;
        }
        record.kind = row->kind;
        record.a = event.total;
        record.b = event.count;
        record.id = lvEventId{event.data1, event.data2};
        record.payload = payload;
        snprintf(record.action, sizeof(record.action), "%s", row->action);
        int result = QueueCallback(&record, 1);
        if (result) {
            FreeMemory(payload);
            return result;
        }
    }
    return 0;
}

// Step 4: mouse movement (the flag is cleared by the button hover step).
static int GatherMouseMoves(void)
{
    const lvEventDisplayHooks *displays = EventDisplays();
    for (lvDisplay *d = displays->NextDisplay(nullptr); d; d = displays->NextDisplay(d)) {
        lvDisplayEvents *events = displays->GetDisplayEvents(d);
        if (!events || !events->mouseMoved) continue;
        const lvHandlerSlot &slot = events->slots[HANDLER_ONMOUSEMOVE];
        if (slot.function == -1) continue;
        lvEventCallback record;
        ClearCallbackRecord(&record);
        record.kind = CALLBACK_MOUSEMOVE;
        record.display = d;
        record.function = slot.function;
        record.userData = slot.userData;
        snprintf(record.action, sizeof(record.action), "OnMouseMove");
        int result = QueueCallback(&record, 1);
        if (result) return result;
    }
    return 0;
}

// Step 8: the input events, under the event lock (held on entry and on return).
static int GatherInputEvents(lvState *state)
{
    const lvEventDisplayHooks *displays = EventDisplays();
    lvFetchedEvent event;
    while (FetchEvent(state, 0, &event, 1)) {
        DropEvents(state, 0, 0);
        if (event.type == EVENT_MODESWITCH && event.display) {
            // The switch reopens windows through the pumping thread, which posts events:
            // it must not wait for the event lock held here.
            UnlockEvents();
            int result = displays->SwitchDisplayMode(state, event.display);
            LockEvents();
            if (result) {
                ReleaseEventPayload(state, event.type, event.payload);
                return result;
            }
        }
        if ((event.type == EVENT_MOVEWINDOW || event.type == EVENT_SIZEWINDOW) && event.display) {
            // The collection waits for the display list, which the pumping thread holds
            // while it posts: the event lock must not be held meanwhile.
            UnlockEvents();
            int result = displays->CollectWindowChanges(state);
            LockEvents();
            if (result) {
                ReleaseEventPayload(state, event.type, event.payload);
                return result;
            }
        }
        if (event.type == EVENT_QUIT) {
            ReleaseEventPayload(state, event.type, event.payload);
            return ERR_USERABORT;
        }
        if (event.type == EVENT_PLUGINCALLBACK) {
            lvPluginCallbackBlock *block = (lvPluginCallbackBlock *)event.payload;
            int result = 0;
            if (block && block->function) {
                // The plug-in may wait for its own threads, which post: let them in.
                UnlockEvents();
                result = block->function(state, block->userData);
                LockEvents();
            }
            FreeMemory(block);
            if (result) return result;
            continue;
        }
        if (event.type < EVENT_PLUGINFIRST && !event.display) {
            ReleaseEventPayload(state, event.type, event.payload);
            continue;
        }
        lvEventCallback record;
        ClearCallbackRecord(&record);
        if (MatchMouseHandler(&record, &event)) {
            int result = QueueCallback(&record, 0);
            if (result) {
                ReleaseEventPayload(state, event.type, event.payload);
                return result;
            }
        }
        int result = 0;
        if (event.type == EVENT_LEFTMOUSE || event.type == EVENT_RIGHTMOUSE || event.type == EVENT_MIDMOUSE)
            result = displays->MatchButtons(state, &event);
        if (!result && MatchEventHandler(&record, state, &event)) {
            record.payload = event.payload;
            result = QueueCallback(&record, 0);
        } else if (!result) {
            ReleaseEventPayload(state, event.type, event.payload);
            continue;
        }
        if (result) {
            ReleaseEventPayload(state, event.type, event.payload);
            return result;
        }
    }
    return 0;
}

int GatherEvents(lvState *state, int skipLegacyHover)
{
    const lvEventSourceHooks *sources = EventSources();
    const lvEventDisplayHooks *displays = EventDisplays();
    int result = 0;
    lvEventId music;
    int64_t samples, count;
    sources->ServiceSound();
    if (sources->NextMusicRequest(&music, &samples, &count)) {
        lvEventCallback record;
        result = FireFillMusicBuffer(state, &record, music, samples, count);
        if (result) return result;
    }
    if ((result = GatherTimers())) return result;
    if (displays->DrawPendingVideoFrames) displays->DrawPendingVideoFrames(state);
    if ((result = GatherSystemEvents(state))) return result;
    if ((result = GatherMouseMoves())) return result;
    if ((result = sources->PollNetwork(state))) return result;
    PurgeStaleEvents(state);
    LockEvents();
    if (sources->HaveLegacyTriggers()) result = sources->QueueLegacyJumps(state);
    if (!result) result = GatherInputEvents(state);
    UnlockEvents();
    if (result) return result;
    if (!skipLegacyHover && (result = sources->LegacyHover(state))) return result;
    for (lvDisplay *d = displays->NextDisplay(nullptr); d; d = displays->NextDisplay(d)) {
        lvDisplayEvents *events = displays->GetDisplayEvents(d);
        if (!events || !events->mouseMoved) continue;
        events->mouseMoved = 0;
        if ((result = displays->ButtonHover(state, d))) return result;
    }
    return 0;
}

// ---- Waiting --------------------------------------------------------------------------------

int WaitEventLoop(lvState *state, int mode)
{
    int result = RunPendingCallbacks(mode == 1 ? 0 : mode, state);
    if (result) return result;
    lvEventLoopHooks hooks = GetEventLoopHooks();
    for (;;) {
        if ((result = GatherEvents(state, 0))) return result;
        if ((result = RunPendingCallbacks(mode, state))) return result;
        if (mode != 0) return 0;
        if ((result = hooks.WaitEvents(state))) return result;
        int code = 0;
        if (hooks.PollEvents(state, &code)) return code ? code : ERR_USERABORT;
        if ((result = RunPendingCallbacks(0, state))) return result;
    }
}

// The pass a sleep (Wait, Sleep, WaitTimer) runs after each wake-up: what happened is
// gathered and every queued callback runs, as CheckEvents would; an error of either (a
// quit event, a failed callback, End called from one) ends the sleep. A label jump asked for by a legacy trigger takes effect when
// the sleeping command returns, so it does not end the sleep.
static int ServeEventsDuringSleep(void *data)
{
    lvState *state = (lvState *)data;
    int result = GatherEvents(state, 0);
    if (result) return result;
    // These are event handlers too: a WaitEvent inside one is refused as anywhere else.
    int nesting = dispatcherState.waitEventNesting;
    dispatcherState.waitEventNesting = 1;
    result = RunQueuedCallbacks(state, nullptr);
    dispatcherState.waitEventNesting = nesting;
    return result == -1 ? 0 : result;
}

// The waits' block until the next wake-up. A stop request (an interrupt or termination
// signal) only sets the machine's flag and wakes no one, so a script asleep in WaitEvent
// or Wait looks at the flag a few times a second; a spurious return costs one empty
// gathering pass.
static int WaitForWakeOrStop(void *state)
{
    const lvEventRuntimeHooks *runtime = EventRuntime();
    if (runtime->QuitRequested()) return ERR_USERABORT;
    // A datagram or connection waits for the next pass; a burst overflows the socket's
    // buffer if that pass is a tenth of a second away.
    WaitScriptWake(state, EventSources()->NetworkWatched() ? 1 : 100);
    return runtime->QuitRequested() ? ERR_USERABORT : 0;
}

// A RunPendingCallbacks-style result as a command's code and result count.
static int CommandResult(int result, int *results)
{
    *results = result == 1 ? 1 : 0;
    return result == 1 ? 0 : result;
}

int RunWaitEvent(lvState *state, int *results)
{
    *results = 0;
    if (dispatcherState.waitEventNesting) return ERR_WRONGUSAGE;
    dispatcherState.waitEventNesting = 1;
    int result = WaitEventLoop(state, 0);
    dispatcherState.waitEventNesting = 0;
    return CommandResult(result, results);
}

// The preamble of CheckEvent and CheckEvents: 1 when the command is to return now.
static int CheckEventPreamble(lvState *state, int *code)
{
    *code = 0;
    if (EventDisplays()->HaveDisplayAdapter()) {
        int error = 0;
        if (GetEventLoopHooks().PollEvents(state, &error)) {
            *code = error ? error : ERR_USERABORT;
            return 1;
        }
    }
    return EventRuntime()->CheckEventDisabled() ? 1 : 0;
}

int RunCheckEvent(lvState *state, int *results)
{
    *results = 0;
    int code;
    if (CheckEventPreamble(state, &code)) return code;
    int result = RunPendingCallbacks(0, state);
    if (result) return CommandResult(result, results);
    if ((result = GatherEvents(state, 0))) return result;
    return CommandResult(RunPendingCallbacks(1, state), results);
}

int RunCheckEvents(lvState *state)
{
    int code;
    if (CheckEventPreamble(state, &code)) return code;
    int result = RunPendingCallbacks(2, state);
    if (result) return result;
    if ((result = GatherEvents(state, 0))) return result;
    return RunQueuedCallbacks(state, nullptr);
}

// ---- Library open and close ---------------------------------------------------------------------

int OpenEventEngine(lvState *state)
{
    int result = InitEventLock();
    if (result) return result;
    // Timer firings travel as thread messages: their queue must exist (the display
    // library makes it too; a second call changes nothing).
    if ((result = InitLoopSignals())) return result;
    InitSystemEvents();
    SetEventQueueOpen(1);
    ResetGlobalHandlers(state, 0);
    dispatcherState.waitEventNesting = 0;
    SetSleepServeHook(ServeEventsDuringSleep);
    SetCallbackWithdrawHook(WithdrawHook);
    lvEventLoopHooks loopHooks = {WaitForWakeOrStop, nullptr};
    SetEventLoopHooks(&loopHooks);
    ConnectPluginEventEntries(1);
    return InitTimerQueue();
}

void CloseEventEngine(lvState *state)
{
    SetSleepServeHook(nullptr);
    SetCallbackWithdrawHook(nullptr);
    SetEventLoopHooks(nullptr);
    CancelQueuedCallbacks(state, CANCEL_ALL, nullptr);
    EventSources()->FreePort(state);
    // A timer adapter may report timers while they are freed: the shut-down keeps their
    // callbacks from running.
    FreeAllTimers(state);
    FreeTimerQueue();
    ConnectPluginEventEntries(0);
    DropEvents(state, -1, 1);
    SetEventQueueOpen(0);
    ResetGlobalHandlers(state, 1);
}
