// timers.cpp - the timer queue behind intervals, time-outs and the event-serving sleep.
//
// One timer thread keeps every timer's next due time on CLOCK_MONOTONIC and sleeps
// on a condition variable until the earliest one. A due timer never touches script
// state: the thread posts LV_MSG_TIMERFIRED with the timer's sequence number to the
// pumping thread and wakes the main loop; the pumping thread marks the node fired
// (MarkTimerFired), and the script thread collects fired nodes while it gathers
// events (NextFiredTimer). Marking and collecting happen on different threads, so a
// node carries a fired mark instead of being queued: several firings of an interval
// between two gatherings are collected once.
// Nodes are found by their sequence number, which is never reused: a message that
// arrives after its node was removed, or after a new node took the same memory,
// finds nothing.
// An interval keeps its cadence (next due = last due + period); when the thread fell
// behind by more than a period it skips to now + period instead of firing a burst.
// Depends on: threads.cpp (StartThread), mainloop.cpp (thread messages, hooks),
// events.cpp (WakeMainLoop).
// Limits: periods are 1..2^31-1 ms; the list is walked linearly (scripts keep few timers).
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <cerrno>
#include <climits>
#include <ctime>

// ---- State ------------------------------------------------------------------

// Kinds of node (the first two are lvTimerKind values).
#define TIMERNODE_INTERVAL 0
#define TIMERNODE_TIMEOUT 1
#define TIMERNODE_SLEEP 2

// One timer, allocated zeroed, linked in creation order.
struct lvTimerNode {
    lvTimerNode *next;   // the next node
    int32_t kind;        // TIMERNODE_*
    lvTimerKey key;      // the owner's key
    uint64_t sequence;   // unique, increasing in creation order
    int32_t period;      // milliseconds
    int64_t dueNanos;    // next firing on CLOCK_MONOTONIC; -1 when disarmed
    int fired;           // set by the pumping thread (by the timer thread for a sleep), cleared when collected
};

// The queue: the list, its lock and the timer thread.
struct lvTimerQueue {
    pthread_mutex_t lock;     // guards every field below
    pthread_cond_t changed;   // signalled when the list changed or the thread must stop
    int condReady;            // 1 once changed was made with the monotonic clock
    lvTimerNode *head;        // oldest node
    uint64_t lastSequence;    // the last sequence number given out
    int running;              // 1 between InitTimerQueue and FreeTimerQueue
    int stopping;             // asks the timer thread to end
    lvThread *thread;         // the timer thread, once a timer was set
};

static lvTimerQueue timerQueue = {PTHREAD_MUTEX_INITIALIZER, {}, 0, nullptr, 0, 0, 0, nullptr};

static int64_t NowNanos(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

// ---- The timer thread ------------------------------------------------------------

// A firing found by one scan, handed out after the lock is left.
struct lvDueTimer {
    uint64_t sequence;  // the node
    int32_t kind;       // its kind
};

// Under the lock: re-arms or disarms every due node, writes at most max firings, and
// gives the earliest remaining due time (INT64_MAX when none).
static int CollectDueTimers(int64_t now, lvDueTimer *due, int max, int64_t *earliest)
{
    int count = 0;
    *earliest = INT64_MAX;
    for (lvTimerNode *node = timerQueue.head; node; node = node->next) {
        if (node->dueNanos < 0) continue;
        if (node->dueNanos <= now && count < max) {
            due[count++] = {node->sequence, node->kind};
            if (node->kind == TIMERNODE_INTERVAL) {
                int64_t period = (int64_t)node->period * 1000000;
                node->dueNanos += period;
                if (node->dueNanos <= now) node->dueNanos = now + period;
            } else {
                node->dueNanos = -1;
                if (node->kind == TIMERNODE_SLEEP) node->fired = 1;
            }
        }
        if (node->dueNanos >= 0 && node->dueNanos < *earliest) *earliest = node->dueNanos;
    }
    return count;
}

static void TimerThreadMain(lvThread *thread)
{
    EnterThread(thread);
    SignalThreadStarted(thread);
    pthread_mutex_lock(&timerQueue.lock);
    while (!timerQueue.stopping) {
        lvDueTimer due[32];
        int64_t earliest;
        int count = CollectDueTimers(NowNanos(), due, 32, &earliest);
        if (count > 0) {
            pthread_mutex_unlock(&timerQueue.lock);
            int sleepDone = 0;
            for (int i = 0; i < count; i++) {
                if (due[i].kind == TIMERNODE_SLEEP) sleepDone = 1;
                else PostThreadMessage(LV_MSG_TIMERFIRED, due[i].sequence, 0);
            }
            WakeMainLoop();
            if (sleepDone) WakeScriptThread();
            pthread_mutex_lock(&timerQueue.lock);
            continue;
        }
        if (earliest == INT64_MAX) {
            pthread_cond_wait(&timerQueue.changed, &timerQueue.lock);
        } else {
            struct timespec at = {(time_t)(earliest / 1000000000), (long)(earliest % 1000000000)};
            pthread_cond_timedwait(&timerQueue.changed, &timerQueue.lock, &at);
        }
    }
    pthread_mutex_unlock(&timerQueue.lock);
    EndThread(thread, 0, 0);
}

// ---- Start and stop -------------------------------------------------------------------

int InitTimerQueue(void)
{
    pthread_mutex_lock(&timerQueue.lock);
    if (timerQueue.running) {
        pthread_mutex_unlock(&timerQueue.lock);
        return 0;
    }
    if (!timerQueue.condReady) {
        pthread_condattr_t attr;
        bool made = pthread_condattr_init(&attr) == 0;
        if (made) {
            made = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC) == 0 &&
                   pthread_cond_init(&timerQueue.changed, &attr) == 0;
            pthread_condattr_destroy(&attr);
        }
        if (!made) {
            pthread_mutex_unlock(&timerQueue.lock);
            return ERR_SEMAPHORE;
        }
        timerQueue.condReady = 1;
    }
    timerQueue.stopping = 0;
    timerQueue.running = 1;
    pthread_mutex_unlock(&timerQueue.lock);
    return 0;
}

// Under the lock: the timer thread, started with the first timer. A run that never sets
// one keeps its start-up single-threaded up to the first display, where the X input
// method reads its compose table through stdio, which takes no locks in a process with
// one thread. The new thread signals its start before it takes the lock.
static bool TimerThreadReady(void)
{
    if (timerQueue.thread) return true;
    timerQueue.thread = StartThread("timers", TimerThreadMain, nullptr, nullptr, 0, 0, 0, nullptr);
    return timerQueue.thread != nullptr;
}

// Under the lock: unlinks and frees every node.
static void FreeAllNodes(void)
{
    lvTimerNode *node = timerQueue.head;
    timerQueue.head = nullptr;
    while (node) {
        lvTimerNode *next = node->next;
        FreeMemory(node);
        node = next;
    }
}

void ClearTimerQueue(void)
{
    pthread_mutex_lock(&timerQueue.lock);
    FreeAllNodes();
    if (timerQueue.condReady) pthread_cond_signal(&timerQueue.changed);
    pthread_mutex_unlock(&timerQueue.lock);
}

void FreeTimerQueue(void)
{
    pthread_mutex_lock(&timerQueue.lock);
    FreeAllNodes();
    lvThread *thread = timerQueue.thread;
    timerQueue.thread = nullptr;
    timerQueue.running = 0;
    timerQueue.stopping = 1;
    if (timerQueue.condReady) pthread_cond_signal(&timerQueue.changed);
    pthread_mutex_unlock(&timerQueue.lock);
    StopThread(thread);
}

// ---- Adding, removing, changing -----------------------------------------------------------

// Under the lock: a new armed node at the tail; its sequence number, 0 when out of memory.
static lvTimerNode *AppendNode(int32_t kind, lvTimerKey key, int32_t period)
{
    lvTimerNode *node = (lvTimerNode *)AllocMemory(sizeof(lvTimerNode), 1);
    if (!node) return nullptr;
    node->kind = kind;
    node->key = key;
    node->period = period;
    node->sequence = ++timerQueue.lastSequence;
    node->dueNanos = NowNanos() + (int64_t)period * 1000000;
    lvTimerNode **link = &timerQueue.head;
    while (*link) link = &(*link)->next;
    *link = node;
    pthread_cond_signal(&timerQueue.changed);
    return node;
}

// Under the lock: unlinks and frees the node.
static void RemoveNode(lvTimerNode *node)
{
    for (lvTimerNode **link = &timerQueue.head; *link; link = &(*link)->next) {
        if (*link == node) {
            *link = node->next;
            FreeMemory(node);
            return;
        }
    }
}

// Under the lock: the first node of that kind with that key.
static lvTimerNode *FindNode(int32_t kind, lvTimerKey key)
{
    for (lvTimerNode *node = timerQueue.head; node; node = node->next)
        if (node->kind == kind && node->key.first == key.first && node->key.second == key.second)
            return node;
    return nullptr;
}

int SetSystemTimer(int operation, lvTimerKey key, int32_t period)
{
    int result = 0;
    pthread_mutex_lock(&timerQueue.lock);
    switch (operation) {
    case TIMEROP_ADDINTERVAL:
    case TIMEROP_ADDTIMEOUT: {
        lvTimerNode *node = nullptr;
        if (!timerQueue.running || period <= 0) result = ERR_TIMER;
        else if (!(node = AppendNode(operation == TIMEROP_ADDINTERVAL ? TIMERNODE_INTERVAL : TIMERNODE_TIMEOUT,
                                     key, period)))
            result = ERR_MEM;
        else if (!TimerThreadReady()) {
            RemoveNode(node);
            result = ERR_TIMER;
        }
        break;
    }
    case TIMEROP_REMOVEINTERVAL:
    case TIMEROP_REMOVETIMEOUT: {
        lvTimerNode *node = FindNode(operation == TIMEROP_REMOVEINTERVAL ? TIMERNODE_INTERVAL
                                                                         : TIMERNODE_TIMEOUT, key);
        if (node) RemoveNode(node);
        break;
    }
    case TIMEROP_CHANGEPERIOD: {
        if (period <= 0) {
            result = ERR_TIMER;
            break;
        }
        lvTimerNode *node = FindNode(TIMERNODE_INTERVAL, key);
        if (node) {
            // A changed interval fires at once, then every new period.
            node->period = period;
            node->dueNanos = NowNanos();
            pthread_cond_signal(&timerQueue.changed);
        }
        break;
    }
    default:
        result = ERR_TIMER;
    }
    pthread_mutex_unlock(&timerQueue.lock);
    return result;
}

// ---- Firing and collecting ------------------------------------------------------------------

void MarkTimerFired(uint64_t sequence)
{
    pthread_mutex_lock(&timerQueue.lock);
    for (lvTimerNode *node = timerQueue.head; node; node = node->next) {
        if (node->sequence == sequence) {
            node->fired = 1;
            break;
        }
    }
    pthread_mutex_unlock(&timerQueue.lock);
}

uint64_t NextFiredTimer(uint64_t previous, int *kind, lvTimerKey *key)
{
    pthread_mutex_lock(&timerQueue.lock);
    // Sequence numbers grow along the list, so the walk resumes after the last one seen
    // even when that node was removed meanwhile.
    lvTimerNode *node = timerQueue.head;
    while (node && (node->sequence <= previous || node->kind == TIMERNODE_SLEEP)) node = node->next;
    uint64_t sequence = 0;
    if (node) {
        sequence = node->sequence;
        *key = node->key;
        if (!node->fired) {
            *kind = TIMERKIND_NOTFIRED;
        } else if (node->kind == TIMERNODE_TIMEOUT) {
            *kind = TIMERKIND_TIMEOUT;
            RemoveNode(node);
        } else {
            *kind = TIMERKIND_INTERVAL;
            node->fired = 0;
        }
    }
    pthread_mutex_unlock(&timerQueue.lock);
    return sequence;
}

int CountSystemTimers(void)
{
    int count = 0;
    pthread_mutex_lock(&timerQueue.lock);
    for (lvTimerNode *node = timerQueue.head; node; node = node->next)
        if (node->kind != TIMERNODE_SLEEP) count++;
    pthread_mutex_unlock(&timerQueue.lock);
    return count;
}

// ---- Sleeping while serving events -------------------------------------------------------------

// ---- Sleeping while serving events -------------------------------------------------

// The event library's pass run after each wake-up of a sleep, or nullptr.
static std::atomic<int (*)(void *)> sleepServeHook{nullptr};

void SetSleepServeHook(int (*serve)(void *state))
{
    sleepServeHook.store(serve, std::memory_order_release);
}

// Under the lock: whether the sleep node has fired.
static int SleepDone(uint64_t sequence)
{
    for (lvTimerNode *node = timerQueue.head; node; node = node->next)
        if (node->sequence == sequence) return node->fired;
    return 1;
}

static std::atomic<int (*)(void *, int32_t)> adapterSleepHook{nullptr};

void SetAdapterSleepHook(int (*sleep)(void *state, int32_t milliseconds))
{
    adapterSleepHook.store(sleep, std::memory_order_release);
}

int SleepWithEvents(void *state, int32_t milliseconds)
{
    if (milliseconds <= 0) return 0;
    if (int (*adapterSleep)(void *, int32_t) = adapterSleepHook.load(std::memory_order_acquire))
        return adapterSleep(state, milliseconds);
    pthread_mutex_lock(&timerQueue.lock);
    lvTimerNode *node = timerQueue.running ? AppendNode(TIMERNODE_SLEEP, lvTimerKey{0, 0}, milliseconds)
                                           : nullptr;
    if (node && !TimerThreadReady()) {
        RemoveNode(node);
        node = nullptr;
    }
    uint64_t sequence = node ? node->sequence : 0;
    pthread_mutex_unlock(&timerQueue.lock);
    if (!node) return ERR_TIMER;
    lvEventLoopHooks hooks = GetEventLoopHooks();
    int result = hooks.WaitEvents(state);
    while (result == 0) {
        pthread_mutex_lock(&timerQueue.lock);
        int done = SleepDone(sequence);
        pthread_mutex_unlock(&timerQueue.lock);
        if (done) break;
        int errorCode = 0;
        if (hooks.PollEvents(state, &errorCode)) {
            result = errorCode ? errorCode : ERR_USERABORT;
            break;
        }
        // Served at every wake-up: each interval firing during the sleep is collected
        // on its own instead of merging into one mark by the time the sleep ends.
        int (*serve)(void *) = sleepServeHook.load(std::memory_order_acquire);
        if (serve && (result = serve(state))) break;
        result = hooks.WaitEvents(state);
    }
    pthread_mutex_lock(&timerQueue.lock);
    for (lvTimerNode *n = timerQueue.head; n; n = n->next) {
        if (n->sequence == sequence) {
            RemoveNode(n);
            break;
        }
    }
    pthread_mutex_unlock(&timerQueue.lock);
    return result;
}
