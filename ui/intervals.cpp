// intervals.cpp - intervals, time-outs, the internal 20 ms interval and the timer adapter.
//
// An interval or time-out is a record in one of two lists (creation order) with the
// script's function and user data as registry references. Its timer is either a
// platform timer keyed by the record's identifier (fired timers are collected by the
// dispatcher's gathering pass) or, with a timer adapter installed, the adapter's
// handle, whose firing the adapter reports through TimerFired and which is dispatched
// at once. A fired time-out's references and identifier are moved into its callback
// record before the time-out record is freed, so the call never reads freed memory.
// The internal interval has no function: its firing only wakes the event loop so
// that network handlers and music streams get polled.
// Depends on: platform timers (SetSystemTimer), dispatcher.cpp, messages.cpp.
// Limits: none.
#include "ui/events.h"
#include "base/lverrors.h"
#include "vm/lvvm.h"

// ---- State -------------------------------------------------------------------

struct lvIntervalState {
    lvObjectHeader *intervals;  // intervals in creation order (lvInterval records)
    lvObjectHeader *timeouts;   // time-outs in creation order
    int haveAdapter;            // 1 once a timer adapter is installed
    lvTimerAdapter adapter;     // its exports
    uint32_t adapterFlags;      // its flags word; bit 0: may not be replaced
    lvObjectId internalKey;     // the internal interval's identifier
    uint32_t internalUsers;     // bit 0 music streams, bit 1 network handlers
};

static lvIntervalState intervalState = {nullptr, nullptr, 0, {nullptr, nullptr}, 0, {0, nullptr}, 0};

#define INTERNAL_PERIOD 20

static lvObjectHeader **ListOf(int32_t type)
{
    return type == LV_TYPE_INTERVAL ? &intervalState.intervals : &intervalState.timeouts;
}

static lvTimerKey KeyOf(const lvInterval *record)
{
    return lvTimerKey{(uintptr_t)(uint32_t)record->header.identifier, (uintptr_t)record->header.handle};
}

lvEventId TimerEventId(const lvInterval *record)
{
    return lvEventId{(uintptr_t)(uint32_t)record->header.identifier, (uintptr_t)record->header.handle};
}

lvInterval *FirstInterval(void)
{
    return (lvInterval *)intervalState.intervals;
}

lvInterval *FirstTimeout(void)
{
    return (lvInterval *)intervalState.timeouts;
}

lvInterval *NextTimer(const lvInterval *record)
{
    return (lvInterval *)record->header.next;
}

lvObjectHeader **IntervalListHead(void)
{
    return &intervalState.intervals;
}

lvObjectHeader **TimeoutListHead(void)
{
    return &intervalState.timeouts;
}

// ---- Finding ---------------------------------------------------------------------

static lvInterval *FindRecord(int32_t type, lvObjectId id)
{
    for (lvObjectHeader *h = *ListOf(type); h; h = h->next)
        if (ObjectIdMatches(h, id)) return (lvInterval *)h;
    return nullptr;
}

lvInterval *FindTimerByKey(int32_t type, lvTimerKey key)
{
    for (lvObjectHeader *h = *ListOf(type); h; h = h->next) {
        lvTimerKey k = KeyOf((lvInterval *)h);
        if (k.first == key.first && k.second == key.second) return (lvInterval *)h;
    }
    return nullptr;
}

static int NotFound(int32_t type, lvObjectId id)
{
    if (id.handle) return ERR_FINDARRAY;
    // The number becomes the message's "%d".
    if (const lvVMHost *host = GetVMHost()) host->SetErrorNumberArg(id.number);
    return type == LV_TYPE_INTERVAL ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT;
}

int FindIntervalById(lvObjectId id, lvInterval **out)
{
    *out = FindRecord(LV_TYPE_INTERVAL, id);
    return *out ? 0 : NotFound(LV_TYPE_INTERVAL, id);
}

int FindTimeoutById(lvObjectId id, lvInterval **out)
{
    *out = FindRecord(LV_TYPE_TIMEOUT, id);
    return *out ? 0 : NotFound(LV_TYPE_TIMEOUT, id);
}

static void Unlink(lvInterval *record)
{
    for (lvObjectHeader **link = ListOf(record->header.type); *link; link = &(*link)->next) {
        if (*link == &record->header) {
            *link = record->header.next;
            return;
        }
    }
}

static void ReleaseRef(lvState *state, int32_t reference)
{
    if (reference != -1) EventRuntime()->ReleaseReference(state, reference);
}

static void ReleaseRefOp(void *context, int reference)
{
    ReleaseRef((lvState *)context, reference);
}

static void FreeUserDataList(lvState *state, lvInterval *record)
{
    lvRefOps ops = {state, nullptr, ReleaseRefOp};
    FreeObjectUserData(&record->header.userData, &ops);
}

// ---- Adding --------------------------------------------------------------------------

int AddTimer(lvState *state, int32_t type, lvObjectId id, int nilId, int32_t period,
             int32_t function, int32_t userData, int internal, lvInterval **made)
{
    if (made) *made = nullptr;
    if (internal) function = userData = -1;
    lvInterval *record = (lvInterval *)AllocMemory(sizeof(lvInterval), 1);
    if (!record) {
        ReleaseRef(state, function);
        ReleaseRef(state, userData);
        return ERR_MEM;
    }
    InitObjectHeader(&record->header, type, nilId ? 0 : id.number, nilId != 0);
    record->period = period;
    record->function = function;
    record->userData = userData;
    lvObjectHeader **link = ListOf(type);
    while (*link) link = &(*link)->next;
    *link = &record->header;
    int oneShot = type == LV_TYPE_TIMEOUT;
    int result = 0;
    if (intervalState.haveAdapter) {
        record->adapterTimer = intervalState.adapter.RegisterTimer(state, period, oneShot);
        if (!record->adapterTimer) result = ERR_TIMER;
    } else {
        result = SetSystemTimer(oneShot ? TIMEROP_ADDTIMEOUT : TIMEROP_ADDINTERVAL, KeyOf(record), period);
    }
    if (result) {
        ReleaseRef(state, record->function);
        ReleaseRef(state, record->userData);
        Unlink(record);
        FreeMemory(record);
        return result;
    }
    if (made) *made = record;
    return 0;
}

int SetTimerObject(lvState *state, int32_t type, lvObjectId id, int nilId, int32_t period,
                   int32_t function, int32_t userData, lvInterval **made)
{
    if (made) *made = nullptr;
    if (period <= 0) {
        ReleaseRef(state, function);
        ReleaseRef(state, userData);
        return ERR_WRONGUSAGE;
    }
    if (!nilId) {
        // A number in use names the new timer: the old one goes first (absent is fine).
        lvInterval *old = FindRecord(type, id);
        if (old) {
            if (type == LV_TYPE_INTERVAL) RemoveInterval(state, id);
            else RemoveTimeout(state, id);
        }
    }
    return AddTimer(state, type, id, nilId, period, function, userData, 0, made);
}

// ---- Removing ---------------------------------------------------------------------------

static void FreeTimerRecord(lvState *state, lvInterval *record)
{
    Unlink(record);
    ReleaseRef(state, record->function);
    ReleaseRef(state, record->userData);
    FreeUserDataList(state, record);
    int interval = record->header.type == LV_TYPE_INTERVAL;
    // Queued firings of this record must not run once it is gone.
    CancelQueuedCallbacks(state, interval ? CALLBACK_INTERVAL : CALLBACK_TIMEOUT, record);
    // Each record's own kind of timer: one made before an adapter came is a platform timer.
    if (record->adapterTimer) {
        if (intervalState.haveAdapter) intervalState.adapter.FreeTimer(record->adapterTimer);
    } else {
        SetSystemTimer(interval ? TIMEROP_REMOVEINTERVAL : TIMEROP_REMOVETIMEOUT, KeyOf(record), 0);
    }
    FreeMemory(record);
}

static int RemoveTimer(lvState *state, int32_t type, lvObjectId id)
{
    lvInterval *record = FindRecord(type, id);
    if (!record) return NotFound(type, id);
    FreeTimerRecord(state, record);
    return 0;
}

int RemoveInterval(lvState *state, lvObjectId id)
{
    return RemoveTimer(state, LV_TYPE_INTERVAL, id);
}

int RemoveTimeout(lvState *state, lvObjectId id)
{
    return RemoveTimer(state, LV_TYPE_TIMEOUT, id);
}

void DiscardFiredTimeout(lvState *state, lvInterval *timeout)
{
    Unlink(timeout);
    FreeUserDataList(state, timeout);
    if (intervalState.haveAdapter && timeout->adapterTimer)
        intervalState.adapter.FreeTimer(timeout->adapterTimer);
    FreeMemory(timeout);
}

void FreeAllTimers(lvState *state)
{
    while (intervalState.intervals) FreeTimerRecord(state, FirstInterval());
    while (intervalState.timeouts) FreeTimerRecord(state, FirstTimeout());
    intervalState.internalUsers = 0;
    intervalState.internalKey = lvObjectId{0, nullptr};
}

// ---- Changing ---------------------------------------------------------------------------

int ChangeInterval(lvState *state, lvObjectId id, int32_t period)
{
    // A period of 0 or less would make a timer that never waits: refused like SetInterval's.
    if (period <= 0) return ERR_WRONGUSAGE;
    lvInterval *record;
    int result = FindIntervalById(id, &record);
    if (result) return result;
    if (intervalState.haveAdapter && record->adapterTimer) {
        uintptr_t handle = intervalState.adapter.RegisterTimer(state, period, 0);
        if (!handle) return ERR_TIMER;
        intervalState.adapter.FreeTimer(record->adapterTimer);
        record->adapterTimer = handle;
    } else {
        result = SetSystemTimer(TIMEROP_CHANGEPERIOD, KeyOf(record), period);
        if (result) return result;
    }
    record->period = period;
    return 0;
}

// ---- The internal interval -------------------------------------------------------------------

int RequireInternalInterval(lvState *state, int user)
{
    if (intervalState.internalUsers == 0) {
        lvInterval *record;
        int result = AddTimer(state, LV_TYPE_INTERVAL, lvObjectId{0, nullptr}, 1, INTERNAL_PERIOD, -1, -1,
                              1, &record);
        if (result) return result;
        intervalState.internalKey = GetObjectIdOf(&record->header);
    }
    intervalState.internalUsers |= 1u << user;
    return 0;
}

void ReleaseInternalInterval(lvState *state, int user)
{
    if (!(intervalState.internalUsers & (1u << user))) return;
    intervalState.internalUsers &= ~(1u << user);
    if (intervalState.internalUsers == 0) {
        RemoveInterval(state, intervalState.internalKey);
        intervalState.internalKey = lvObjectId{0, nullptr};
    }
}

int InternalIntervalUsers(void)
{
    return (int)intervalState.internalUsers;
}

// ---- The timer adapter -----------------------------------------------------------------------

int InstallTimerAdapter(uint32_t capabilities, const lvTimerAdapter *adapter, uint32_t flags)
{
    if (!(capabilities & LV_PLUGINCAPS_TIMERADAPTER) || !adapter || !adapter->RegisterTimer ||
        !adapter->FreeTimer)
        return ERR_WRONGUSAGE;
    if (!EventRuntime()->InAdapterSetupPhase()) return ERR_SETADAPTER;
    if (intervalState.haveAdapter && (intervalState.adapterFlags & 1)) return ERR_SETADAPTER;
    intervalState.adapter = *adapter;
    intervalState.adapterFlags = flags;
    intervalState.haveAdapter = 1;
    return 0;
}

void RemoveTimerAdapter(void)
{
    intervalState.haveAdapter = 0;
    intervalState.adapter = lvTimerAdapter{nullptr, nullptr};
    intervalState.adapterFlags = 0;
}

int TimerFired(lvState *state, uintptr_t handle)
{
    if (EventRuntime()->ShuttingDown() || !handle) return 0;
    lvEventCallback record;
    ClearCallbackRecord(&record);
    for (lvInterval *r = FirstInterval(); r; r = NextTimer(r)) {
        if (r->adapterTimer != handle) continue;
        if (r->function == -1) return 0;
        record.kind = CALLBACK_INTERVAL;
        record.related1 = r;
        record.function = r->function;
        record.userData = r->userData;
        record.id = TimerEventId(r);
        snprintf(record.action, sizeof(record.action), "Interval");
        return DispatchEventCallback(&record, state, 0, 1);
    }
    for (lvInterval *r = FirstTimeout(); r; r = NextTimer(r)) {
        if (r->adapterTimer != handle) continue;
        // Take what the call needs before the record goes; the call releases the references.
        record.kind = CALLBACK_TIMEOUT;
        record.function = r->function;
        record.userData = r->userData;
        record.id = TimerEventId(r);
        snprintf(record.action, sizeof(record.action), "Timeout");
        DiscardFiredTimeout(state, r);
        return DispatchEventCallback(&record, state, 0, 1);
    }
    return 0;
}
