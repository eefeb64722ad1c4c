// events.cpp - the system event queue and the main-loop wake.
//
// Worker threads never touch script state: they append an lvSystemEvent here and
// wake the main loop; the script thread drains the queue while it gathers events.
// The queue is a singly linked list with a tail pointer under one lock, so posting
// costs the same however long the queue has grown. Events of types 12 to 15 own
// their second data word (a block from AllocMemory): the queue frees it when the
// event cannot be queued or is still queued at shut-down.
// The wake goes to the hook a display adapter registered, else to the main wake
// signal, whose descriptor the main loop polls. Withdrawing events takes them out
// under the lock in one walk, so the order of the others never changes.
// Depends on: threads.cpp (signals), startup.cpp (the main wake signal).
// Limits: none; a post that finds no memory drops its event.
#include "platform/lvplatform.h"
#include "base/lverrors.h"

// ---- State ------------------------------------------------------------------

struct lvSystemEventQueue {
    pthread_mutex_t lock;                // guards every field below
    int open;                            // 1 between InitSystemEvents and FreeSystemEvents
    lvSystemEvent *head;                 // the oldest event, nullptr when empty
    lvSystemEvent *tail;                 // the newest event
    std::atomic<void (*)(void)> wakeHook;  // a display adapter's wake, or nullptr
    std::atomic<void (*)(uintptr_t)> withdrawHook;  // the event library's withdrawal, or nullptr
};

static lvSystemEventQueue eventQueue = {PTHREAD_MUTEX_INITIALIZER, 0, nullptr, nullptr, {nullptr}, {nullptr}};

static bool OwnsData(int type)
{
    return type >= SYSEVENT_RUNOUTPUT && type <= SYSEVENT_DIRCHANGEDETAIL;
}

static void FreeEventNode(lvSystemEvent *event)
{
    if (OwnsData(event->type)) FreeMemory((void *)event->data2);
    FreeMemory(event);
}

// ---- The queue -------------------------------------------------------------------

int InitSystemEvents(void)
{
    pthread_mutex_lock(&eventQueue.lock);
    eventQueue.open = 1;
    pthread_mutex_unlock(&eventQueue.lock);
    return 0;
}

int PostSystemEvent(int type, uintptr_t data1, uintptr_t data2, int32_t unit, int32_t count,
                    int32_t offset, int wake)
{
    lvSystemEvent *event = (lvSystemEvent *)AllocMemory(sizeof(lvSystemEvent), 1);
    if (event) {
        event->type = type;
        event->data1 = data1;
        event->data2 = data2;
        event->count = count;
        event->total = (int64_t)unit * ((int64_t)count - 1);
        if (type == SYSEVENT_SAMPLEEND) event->total += offset;
    }
    bool queued = false;
    pthread_mutex_lock(&eventQueue.lock);
    if (event && eventQueue.open) {
        if (eventQueue.tail) eventQueue.tail->next = event;
        else eventQueue.head = event;
        eventQueue.tail = event;
        queued = true;
    }
    pthread_mutex_unlock(&eventQueue.lock);
    if (!queued) {
        // Nobody will take the event: what it owns must not be lost.
        if (OwnsData(type)) FreeMemory((void *)data2);
        FreeMemory(event);
        return ERR_MEM;
    }
    if (wake) WakeMainLoop();
    return 0;
}

int GetSystemEvent(lvSystemEvent *event)
{
    pthread_mutex_lock(&eventQueue.lock);
    lvSystemEvent *first = eventQueue.head;
    if (first) {
        eventQueue.head = first->next;
        if (!eventQueue.head) eventQueue.tail = nullptr;
    }
    pthread_mutex_unlock(&eventQueue.lock);
    if (!first) return 0;
    *event = *first;
    event->next = nullptr;
    FreeMemory(first);
    return 1;
}

int RemoveSystemEvents(int (*match)(const lvSystemEvent *event, void *context), void *context)
{
    lvSystemEvent *taken = nullptr, **takenTail = &taken;
    int count = 0;
    pthread_mutex_lock(&eventQueue.lock);
    lvSystemEvent **link = &eventQueue.head, *last = nullptr;
    while (*link) {
        lvSystemEvent *event = *link;
        if (!match(event, context)) {
            last = event;
            link = &event->next;
            continue;
        }
        *link = event->next;
        event->next = nullptr;
        *takenTail = event;
        takenTail = &event->next;
        count++;
    }
    eventQueue.tail = last;
    pthread_mutex_unlock(&eventQueue.lock);
    while (taken) {
        lvSystemEvent *next = taken->next;
        FreeEventNode(taken);
        taken = next;
    }
    return count;
}

void FreeSystemEvents(void)
{
    pthread_mutex_lock(&eventQueue.lock);
    lvSystemEvent *event = eventQueue.head;
    eventQueue.head = eventQueue.tail = nullptr;
    eventQueue.open = 0;
    pthread_mutex_unlock(&eventQueue.lock);
    while (event) {
        lvSystemEvent *next = event->next;
        FreeEventNode(event);
        event = next;
    }
}

// ---- Waking the main loop ----------------------------------------------------------

void SetWakeMainLoopHook(void (*hook)(void))
{
    eventQueue.wakeHook.store(hook, std::memory_order_release);
}

void WakeMainLoop(void)
{
    void (*hook)(void) = eventQueue.wakeHook.load(std::memory_order_acquire);
    if (hook) hook();
    else RaiseSignal(GetMainWakeSignal());
}

// ---- Queued script callbacks of released objects --------------------------------------

void SetCallbackWithdrawHook(void (*withdraw)(uintptr_t object))
{
    eventQueue.withdrawHook.store(withdraw, std::memory_order_release);
}

void WithdrawQueuedCallbacks(uintptr_t object)
{
    void (*withdraw)(uintptr_t) = eventQueue.withdrawHook.load(std::memory_order_acquire);
    if (withdraw) withdraw(object);
}
