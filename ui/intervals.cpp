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
#include "runtime/lverrors.h"

// ---- State -------------------------------------------------------------------

struct lvIntervalState {
    lvInterval *intervals;     // intervals in creation order
    lvInterval *timeouts;      // time-outs in creation order
    int haveAdapter;           // 1 once a timer adapter is installed
    lvTimerAdapter adapter;    // its exports
    uint32_t adapterFlags;     // its flags word; bit 0: may not be replaced
    lvEventId internalKey;     // the internal interval's key
    uint32_t internalUsers;    // bit 0 music streams, bit 1 network handlers
};

static lvIntervalState intervalState = {nullptr, nullptr, 0, {nullptr, nullptr}, 0, {0, 0}, 0};

#define INTERNAL_PERIOD 20

static lvInterval **ListOf(int32_t type)
{
    return type == LV_TYPE_INTERVAL ? &intervalState.intervals : &intervalState.timeouts;
}

static lvTimerKey KeyOf(lvEventId id)
{
    return lvTimerKey{id.number, id.handle};
}

lvInterval *FirstInterval(void)
{
    return intervalState.intervals;
}

lvInterval *FirstTimeout(void)
{
    return intervalState.timeouts;
}

// ---- Finding ---------------------------------------------------------------------

static lvInterval *FindRecord(int32_t type, lvEventId id)
{
    for (lvInterval *r = *ListOf(type); r; r = r->next)
        if (r->id.number == id.number && r->id.handle == id.handle) return r;
    return nullptr;
}

static int NotFound(int32_t type, lvEventId id)
{
    if (id.handle) return ERR_FINDARRAY;
    return type == LV_TYPE_INTERVAL ? ERR_FINDINTERVAL : ERR_FINDTIMEOUT;
}

int FindIntervalById(lvEventId id, lvInterval **out)
{
    *out = FindRecord(LV_TYPE_INTERVAL, id);
    return *out ? 0 : NotFound(LV_TYPE_INTERVAL, id);
}

int FindTimeoutById(lvEventId id, lvInterval **out)
{
    *out = FindRecord(LV_TYPE_TIMEOUT, id);
    return *out ? 0 : NotFound(LV_TYPE_TIMEOUT, id);
}

static void Unlink(lvInterval *record)
{
    for (lvInterval **link = ListOf(record->type); *link; link = &(*link)->next) {
        if (*link == record) {
            *link = record->next;
            return;
        }
    }
}

static void ReleaseRef(lvState *state, int32_t reference)
{
    if (reference != -1) EventRuntime()->ReleaseReference(state, reference);
}

// ---- Adding --------------------------------------------------------------------------

int AddTimer(lvState *state, int32_t type, lvEventId id, int nilId, int32_t period,
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
    record->type = type;
    record->id = nilId ? lvEventId{0, (uintptr_t)record} : id;
    record->period = period;
    record->function = function;
    record->userData = userData;
    lvInterval **link = ListOf(type);
    while (*link) link = &(*link)->next;
    *link = record;
    int oneShot = type == LV_TYPE_TIMEOUT;
    int result = 0;
    if (intervalState.haveAdapter) {
        record->adapterTimer = intervalState.adapter.RegisterTimer(state, period, oneShot);
        if (!record->adapterTimer) result = ERR_TIMER;
    } else {
        result = SetSystemTimer(oneShot ? TIMEROP_ADDTIMEOUT : TIMEROP_ADDINTERVAL, KeyOf(record->id),
                                period);
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

int SetTimerObject(lvState *state, int32_t type, lvEventId id, int nilId, int32_t period,
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
        if (type == LV_TYPE_INTERVAL) RemoveInterval(state, id);
        else RemoveTimeout(state, id);
    }
    return AddTimer(state, type, id, nilId, period, function, userData, 0, made);
}

// ---- Removing ---------------------------------------------------------------------------

static void FreeTimerRecord(lvState *state, lvInterval *record)
{
    Unlink(record);
    ReleaseRef(state, record->function);
    ReleaseRef(state, record->userData);
    if (record->userDataList) EventRuntime()->FreeObjectUserData(state, record->userDataList);
    int interval = record->type == LV_TYPE_INTERVAL;
    // Queued firings of this record must not run once it is gone.
    CancelQueuedCallbacks(state, interval ? CALLBACK_INTERVAL : CALLBACK_TIMEOUT, record);
    if (intervalState.haveAdapter) {
        if (record->adapterTimer) intervalState.adapter.FreeTimer(record->adapterTimer);
    } else {
        SetSystemTimer(interval ? TIMEROP_REMOVEINTERVAL : TIMEROP_REMOVETIMEOUT, KeyOf(record->id), 0);
    }
    FreeMemory(record);
}

static int RemoveTimer(lvState *state, int32_t type, lvEventId id)
{
    lvInterval *record = FindRecord(type, id);
    if (!record) return NotFound(type, id);
    FreeTimerRecord(state, record);
    return 0;
}

int RemoveInterval(lvState *state, lvEventId id)
{
    return RemoveTimer(state, LV_TYPE_INTERVAL, id);
}

int RemoveTimeout(lvState *state, lvEventId id)
{
    return RemoveTimer(state, LV_TYPE_TIMEOUT, id);
}

void DiscardFiredTimeout(lvState *state, lvInterval *timeout)
{
    Unlink(timeout);
    if (timeout->userDataList) EventRuntime()->FreeObjectUserData(state, timeout->userDataList);
    if (intervalState.haveAdapter && timeout->adapterTimer)
        intervalState.adapter.FreeTimer(timeout->adapterTimer);
    FreeMemory(timeout);
}

void FreeAllTimers(lvState *state)
{
    while (intervalState.intervals) FreeTimerRecord(state, intervalState.intervals);
    while (intervalState.timeouts) FreeTimerRecord(state, intervalState.timeouts);
    intervalState.internalUsers = 0;
    intervalState.internalKey = lvEventId{0, 0};
}

// ---- Changing ---------------------------------------------------------------------------

int ChangeInterval(lvState *state, lvEventId id, int32_t period)
{
    // A period of 0 or less would make a timer that never waits: refused like SetInterval's.
    if (period <= 0) return ERR_WRONGUSAGE;
    lvInterval *record;
    int result = FindIntervalById(id, &record);
    if (result) return result;
    if (intervalState.haveAdapter) {
        uintptr_t handle = intervalState.adapter.RegisterTimer(state, period, 0);
        if (!handle) return ERR_TIMER;
        if (record->adapterTimer) intervalState.adapter.FreeTimer(record->adapterTimer);
        record->adapterTimer = handle;
    } else {
        result = SetSystemTimer(TIMEROP_CHANGEPERIOD, KeyOf(record->id), period);
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
        int result = AddTimer(state, LV_TYPE_INTERVAL, lvEventId{0, 0}, 1, INTERNAL_PERIOD, -1, -1, 1,
                              &record);
        if (result) return result;
        intervalState.internalKey = record->id;
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
        intervalState.internalKey = lvEventId{0, 0};
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
    for (lvInterval *r = intervalState.intervals; r; r = r->next) {
        if (r->adapterTimer != handle) continue;
        if (r->function == -1) return 0;
        record.kind = CALLBACK_INTERVAL;
        record.related1 = r;
        record.function = r->function;
        record.userData = r->userData;
        record.id = r->id;
        snprintf(record.action, sizeof(record.action), "Interval");
        return DispatchEventCallback(&record, state, 0, 1);
    }
    for (lvInterval *r = intervalState.timeouts; r; r = r->next) {
        if (r->adapterTimer != handle) continue;
        // Take what the call needs before the record goes; the call releases the references.
        record.kind = CALLBACK_TIMEOUT;
        record.function = r->function;
        record.userData = r->userData;
        record.id = r->id;
        snprintf(record.action, sizeof(record.action), "Timeout");
        DiscardFiredTimeout(state, r);
        return DispatchEventCallback(&record, state, 0, 1);
    }
    return 0;
}
