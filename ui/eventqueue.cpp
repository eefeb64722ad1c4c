// eventqueue.cpp - the input event queue and its stale-event purge.
//
// Producers on any thread (window system, display adapters, plug-ins, menus) append
// lvEvent records under the event lock; the dispatcher takes them off the head on the
// script thread. The queue is a cache: events nobody takes are dropped once older
// than the stale-event limit. Ages are measured on the run's steady clock (GetTimeVal,
// anchored to the monotonic clock), and an event that looks younger than now - a
// clock that went backwards - counts as new, so no clock step can empty the queue.
// A size event supersedes the queued size events of its display: they become
// cancelled entries, which the dispatcher consumes without effect.
// Depends on: platform (mutexes, clock, memory), handlers.cpp (plug-in payload rule),
// dispatcher.cpp (cancelling callbacks).
// Limits: none; a tail pointer keeps posting cheap, the walk for size events aside.
#include "ui/events.h"
#include "base/lverrors.h"

// ---- State ------------------------------------------------------------------

struct lvEventQueueState {
    std::atomic<lvMutex *> lock;   // the event lock; nullptr before start-up made it
    int open;                      // 1 while the event library is open
    lvEvent *head;                 // oldest event
    lvEvent *tail;                 // youngest event
    int count;                     // queued entries
    std::atomic<uint32_t> limit;   // stale-event limit in ms
    lvTimeVal lastPurge;           // time of the last periodic purge
};

static lvEventQueueState queueState = {{nullptr}, 0, nullptr, nullptr, 0,
                                       {LV_DEFAULT_EVENT_TIMEOUT}, {0, 0}};

// ---- The lock -------------------------------------------------------------------

int InitEventLock(void)
{
    if (queueState.lock.load(std::memory_order_acquire)) return 0;
    lvMutex *lock = NewMutex();
    if (!lock) return ERR_SEMAPHORE;
    queueState.lock.store(lock, std::memory_order_release);
    return 0;
}

void FreeEventLock(void)
{
    FreeMutex(queueState.lock.exchange(nullptr, std::memory_order_acq_rel));
}

void LockEvents(void)
{
    lvMutex *lock = queueState.lock.load(std::memory_order_acquire);
    if (lock) LockMutex(lock);
}

void UnlockEvents(void)
{
    lvMutex *lock = queueState.lock.load(std::memory_order_acquire);
    if (lock) UnlockMutex(lock);
}

// Called by the dispatcher's open and close, under no lock.
void SetEventQueueOpen(int open)
{
    LockEvents();
    queueState.open = open;
    GetTimeVal(&queueState.lastPurge);
    UnlockEvents();
}

// ---- Payloads -------------------------------------------------------------------

void ReleaseEventPayload(lvState *state, int32_t type, void *payload)
{
    if (!payload) return;
    if (type < EVENT_PLUGINFIRST) {
        FreeMemory(payload);
        return;
    }
    // A plug-in's payload: mode 1 types free it through their callback, mode 0 types
    // leave it to the plug-in. Withdrawn types keep their number, so look them up too.
    lvPluginEvent *pluginType = FindPluginEventByType(type);
    if (pluginType && pluginType->mode == 1 && pluginType->release)
        pluginType->release(state, type, payload);
}

static void FreeEventRecord(lvState *state, lvEvent *event)
{
    ReleaseEventPayload(state, event->type, event->payload);
    FreeMemory(event);
}

// ---- Posting ----------------------------------------------------------------------

int PostEvent(lvDisplay *display, int32_t type, int32_t a, int32_t b, int32_t c, void *payload)
{
    lvMutex *lock = queueState.lock.load(std::memory_order_acquire);
    if (!lock) return 0;
    LockMutex(lock);
    int result = 1;
    if (!queueState.open) {
        result = 0;
    } else if (type == EVENT_SIZEWINDOW && display && EventDisplays()->SuppressSizeEvent(display)) {
        result = 0;
    } else {
        if (type == EVENT_SIZEWINDOW && display) {
            // Only the newest size event of a display counts.
            for (lvEvent *e = queueState.head; e; e = e->next)
                if (e->type == EVENT_SIZEWINDOW && e->display == display) e->type = EVENT_CANCELLED;
        }
        lvEvent *event = (lvEvent *)AllocMemory(sizeof(lvEvent), 1);
        if (!event) {
            result = -1;
        } else {
            event->type = type;
            event->a = a;
            event->b = b;
            event->c = c;
            event->display = display;
            event->payload = payload;
            event->epochTime = GetEpochSeconds(0);
            GetTimeVal(&event->time);
            if (queueState.tail) queueState.tail->next = event;
            else queueState.head = event;
            queueState.tail = event;
            queueState.count++;
        }
    }
    UnlockMutex(lock);
    return result;
}

// ---- Taking -------------------------------------------------------------------------

int FetchEvent(lvState *state, int n, lvFetchedEvent *out, int take)
{
    lvEvent *event = queueState.head;
    for (int i = 0; event && i < n; i++) event = event->next;
    if (!event || n < 0) return 0;
    *out = lvFetchedEvent{};
    out->display = event->display;
    out->type = event->type;
    out->time = event->epochTime;
    out->payload = event->payload;
    switch (event->type) {
    case EVENT_LEFTMOUSE:
    case EVENT_RIGHTMOUSE:
    case EVENT_MIDMOUSE:
        out->x = event->a;
        out->y = event->b;
        out->down = event->c;
        break;
    case EVENT_DROPFILES:
    case EVENT_TOUCH:
        out->x = event->a;
        out->y = event->b;
        break;
    case EVENT_KEY:
    case EVENT_VANILLAKEY:
    case EVENT_RAWKEY:
        out->down = event->a;
        out->qualifiers = (uint32_t)event->b;
        out->keyCode = event->c;
        break;
    case EVENT_MENUSELECT:
        out->down = event->c;
        break;
    default:
        break;
    }
    if (take) event->payload = nullptr;
    return n + 1;
}

// Under the lock: unlinks the head.
static lvEvent *UnlinkHead(void)
{
    lvEvent *event = queueState.head;
    if (!event) return nullptr;
    queueState.head = event->next;
    if (!queueState.head) queueState.tail = nullptr;
    queueState.count--;
    return event;
}

int DropEvents(lvState *state, int n, int lock)
{
    if (lock) LockEvents();
    for (int i = 0; n < 0 || i <= n; i++) {
        lvEvent *event = UnlinkHead();
        if (!event) break;
        FreeEventRecord(state, event);
    }
    if (lock) UnlockEvents();
    return 0;
}

void DetachDisplayEvents(lvDisplay *display)
{
    LockEvents();
    for (lvEvent *e = queueState.head; e; e = e->next)
        if (e->display == display) e->display = nullptr;
    UnlockEvents();
}

int CountQueuedEvents(void)
{
    LockEvents();
    int count = queueState.count;
    UnlockEvents();
    return count;
}

// ---- The stale-event purge ---------------------------------------------------------------

// Milliseconds from then to now; 0 when then lies after now.
static uint64_t AgeMillis(const lvTimeVal *now, const lvTimeVal *then)
{
    if (CmpTimeVal(then, now) >= 0) return 0;
    lvTimeVal age = *now;
    SubTimeVal(&age, then);
    return (uint64_t)age.seconds * 1000 + age.microseconds / 1000;
}

void PurgeStaleEvents(lvState *state)
{
    lvMutex *lock = queueState.lock.load(std::memory_order_acquire);
    uint32_t limit = queueState.limit.load(std::memory_order_relaxed);
    if (!lock || limit == LV_EVENT_PURGE_OFF) return;
    LockMutex(lock);
    lvTimeVal now;
    GetTimeVal(&now);
    // The queue is in posting order: the first young enough event ends the scan.
    while (queueState.head && AgeMillis(&now, &queueState.head->time) > limit)
        FreeEventRecord(state, UnlinkHead());
    UnlockMutex(lock);
}

void PeriodicEventPurge(lvState *state)
{
    // Runs at every line of the script: only the script thread writes lastPurge (the
    // library's open and this), so the look needs no lock.
    lvTimeVal now;
    GetTimeVal(&now);
    uint64_t since = AgeMillis(&now, &queueState.lastPurge);
    if (since / 1000 <= 9) return;
    PurgeStaleEvents(state);
    LockEvents();
    queueState.lastPurge = now;
    UnlockEvents();
}

int PollEventEngine(lvState *state, int mode)
{
    if (mode & 1) PeriodicEventPurge(state);
    return 0;
}

void SetEventTimeout(uint32_t milliseconds)
{
    queueState.limit.store(milliseconds, std::memory_order_relaxed);
}

void FreeEventCache(lvState *state)
{
    DropEvents(state, -1, 1);
    CancelQueuedCallbacks(state, CANCEL_ALL, nullptr);
}
