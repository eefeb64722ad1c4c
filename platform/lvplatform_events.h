// lvplatform_events.h - timers and the main loop of the platform layer.
// Included by lvplatform.h; not included directly by other subsystems.
//
// Linux implementation:
//   linux/timers.cpp    the timer queue: one timer thread on CLOCK_MONOTONIC
//   linux/mainloop.cpp  the main loop's wait slots, thread messages, the script
//                       thread and its wake signal, main-thread requests
//
// How a timer reaches the script: the timer thread posts a thread message
// (LV_MSG_TIMERFIRED with the timer's sequence number) to the pumping thread and
// wakes the main loop; the pumping thread marks the timer fired; the script thread
// collects fired timers with NextFiredTimer while it gathers events. Timers are
// known by a sequence number that is never reused, so a message that arrives after
// its timer was removed (or after a new timer took the same memory) marks nothing.
#pragma once
#include <cstdint>

struct lvMutex;

struct lvThread;
struct lvSystemEvent;

// ---- Timer queue --------------------------------------------------------------
// The key of a timer: the two words its owner gives (an object's identifier and,
// for objects made with a Nil identifier, the object's address), compared as a pair.
struct lvTimerKey {
    uintptr_t first;   // identifier word
    uintptr_t second;  // second identifier word (0, or the owner's address)
};

// Operations of SetSystemTimer.
enum lvTimerOperation {
    TIMEROP_ADDINTERVAL = 0,    // add a repeating timer
    TIMEROP_ADDTIMEOUT = 1,     // add a one-shot timer
    TIMEROP_REMOVEINTERVAL = 2, // remove the interval with the key (none: no error)
    TIMEROP_REMOVETIMEOUT = 3,  // remove the one-shot timer with the key (none: no error)
    TIMEROP_CHANGEPERIOD = 4    // new period for the interval with the key; it fires at once
};

// Kinds NextFiredTimer reports.
enum lvTimerKind {
    TIMERKIND_INTERVAL = 0,  // a fired interval (its mark is now cleared)
    TIMERKIND_TIMEOUT = 1,   // a fired one-shot timer (now removed)
    TIMERKIND_NOTFIRED = 9   // the node looked at had not fired
};

// Thread message code of a fired timer; the message's word is the timer's sequence number.
#define LV_MSG_TIMERFIRED 1026

// Starts the timer thread and makes the list's lock. 0, ERR_TIMER (the thread could not
// be started) or ERR_SEMAPHORE. A second call while the queue runs is a no-op (0).
int InitTimerQueue(void);
// Adds, removes or changes a timer (lvTimerOperation); period in ms, above 0 for adding
// and changing. 0, ERR_MEM, or ERR_TIMER (queue not running, bad period).
int SetSystemTimer(int operation, lvTimerKey key, int32_t period);
// The walk over the timer list: start with 0, pass the result back, stop at 0. Each call
// looks at the next node in creation order, sets *kind (lvTimerKind) and *key, and
// returns that node's sequence number. A fired interval's mark is cleared, a fired
// one-shot timer removed. Script thread.
uint64_t NextFiredTimer(uint64_t previous, int *kind, lvTimerKey *key);
// Pumping thread, on LV_MSG_TIMERFIRED: marks the timer fired when it still exists.
void MarkTimerFired(uint64_t sequence);
// The number of timers in the list (tests and leak checks).
int CountSystemTimers(void);
// Deletes every timer (the queue keeps running).
// Nothing calls ClearTimerQueue yet: kept for the timers of the platform layer still to come.
void ClearTimerQueue(void);
// Clears the queue and stops the timer thread. Safe when it never started.
void FreeTimerQueue(void);
// Sleeps while serving events: waits through the loop hooks below until ms passed,
// and after every wake-up polls and serves what arrived (SetSleepServeHook). 0 ms
// returns at once. 0, ERR_TIMER, ERR_USERABORT (a quit) or the hooks' error.
int SleepWithEvents(void *state, int32_t milliseconds);
// What a sleep does after each wake-up once the platform poll found nothing to stop
// for: the event library gathers what happened (each timer firing separately) and runs
// the callbacks. The hook answers 0 to sleep on, or the code that ends the sleep.
// nullptr (the default) serves nothing. Set by the script thread while no sleep runs.
void SetSleepServeHook(int (*serve)(void *state));
// A display adapter that sleeps for the runtime takes every SleepWithEvents whole: the
// hook gets the state and the milliseconds and answers as SleepWithEvents does.
// nullptr (the default) sleeps here. Set at start-up, before the script runs.
void SetAdapterSleepHook(int (*sleep)(void *state, int32_t milliseconds));

// ---- System event queue: withdrawing ---------------------------------------------
// Takes every queued system event that match accepts out of the queue, under the queue's
// lock, so events posted meanwhile keep their place behind the ones that stay; frees
// what the taken events own. match runs under that lock: it must not post. Returns the
// number taken.
int RemoveSystemEvents(int (*match)(const lvSystemEvent *event, void *context), void *context);

// ---- Queued script callbacks of released objects ------------------------------------
// A run job or a directory monitor that is released may still have script callbacks
// queued by the event library that point at it: the owner of the record calls
// WithdrawQueuedCallbacks on the script thread before the record's memory goes. The
// event library registers the withdrawal when it opens; without one nothing is queued.
void SetCallbackWithdrawHook(void (*withdraw)(uintptr_t object));
void WithdrawQueuedCallbacks(uintptr_t object);

// ---- Main loop: thread messages -------------------------------------------------
// A message for the pumping thread (the main thread, or the message thread while a
// display adapter runs the main loop). Any thread may post.
struct lvThreadMessage {
    uint32_t code;   // LV_MSG_TIMERFIRED, or a code a higher layer registered a handler for
    uint64_t word;   // first argument (the timer's sequence number for LV_MSG_TIMERFIRED)
    uintptr_t data;  // second argument
};
// Appends a message for the pumping thread and wakes its wait. 0 or ERR_MEM.
int PostThreadMessage(uint32_t code, uint64_t word, uintptr_t data);
// Pumping thread: takes every queued message. LV_MSG_TIMERFIRED marks its timer fired
// (and, unless full, wakes the main loop); with full set other codes go to the handler
// registered for them, without full they are dropped; then, with full, the window
// pump hook runs.
void PumpMessages(int full);
// Registers the handler of a message code (nullptr removes it). Set before the loop runs.
void SetThreadMessageHandler(uint32_t code, void (*handler)(const lvThreadMessage *message));

// ---- Main loop: hooks of higher layers ----------------------------------------------
// What the display windows and the audio back-end add to the loop. Empty slots are
// filled with no-op defaults by SetMainLoopHooks, so the loop never tests for nullptr.
struct lvMainLoopHooks {
    void (*LockDisplays)(void);                 // takes the display lock around pump and fold
    void (*UnlockDisplays)(void);               // releases it
    void (*PumpWindows)(void);                  // runs the window system's pending messages
    void (*FoldWindowChanges)(int mouseMoved);  // turns window changes into input events
    // Fills up to max extra descriptors to wait on (audio notifications); returns the count.
    int (*FillAudioSlots)(int *descriptors, void **data, int max);
    void (*DispatchAudioSlot)(int descriptor, void *data);  // one of them became readable
    // The cursor's screen position for the 20 ms mouse timer; 0 when unknown (then the
    // timer never reports a movement).
    int (*ReadCursorPosition)(int *x, int *y);
    // The window system's connection descriptor, polled with the slots so that its
    // input wakes the loop; -1 when there is none.
    int (*WindowDescriptor)(void);
    // The session bus connection of the tray item (lvplatform_tray.h), polled with the
    // slots; -1 when there is none. DispatchBus reads and handles what arrived, on the
    // pumping thread. Both default to the tray item's own.
    int (*BusDescriptor)(void);
    void (*DispatchBus)(void);
};
// Installs the hooks (nullptr: all defaults).
void SetMainLoopHooks(const lvMainLoopHooks *hooks);
// The hooks in force (defaults filled in), so one layer can change its own slots only.
lvMainLoopHooks GetMainLoopHooks(void);

// ---- Main loop: the wait slots and the loop -----------------------------------------
// Fixed slots of the main wait array; slots from LV_SLOT_AUDIO on are refilled by
// FillAudioSlots before every wait.
enum lvWaitSlot {
    LV_SLOT_WAKE = 0,        // the main wake signal
    LV_SLOT_MOUSEMOVED = 1,  // raised when the mouse moved
    LV_SLOT_REQUEST = 2,     // a main-thread request is waiting
    LV_SLOT_OTHERTHREAD = 3, // the script (or message) thread ended
    LV_SLOT_END = 4,         // the run is to end
    LV_SLOT_AUDIO = 5        // first audio notification slot
};
// The most descriptors one wait takes, thread messages included.
#define LV_MAX_WAIT_SLOTS 64

// Makes the mouse-moved, request, reply, end, script-wake and message signals.
// 0 or ERR_CREATEEVENT. Called when the display library opens; a second call is a no-op.
int InitLoopSignals(void);
// Closes what InitLoopSignals made; called after every thread that raises them ended
// (thread messages posted meanwhile are refused with ERR_MEM).
void FreeLoopSignals(void);
// Raises the mouse-moved slot (the mouse timer of the display windows calls it).
void SignalMouseMoved(void);
// Raises the end slot: the loop returns after its current pass.
void SignalMainLoopEnd(void);
// One wait of the main loop: polls every slot's descriptor and the thread-message
// descriptor, dispatches each readable slot (a request runs; *mouseMoved is set), and
// with pump set pumps the thread messages. 1 when the other thread ended or the end
// slot was raised, else 0. timeoutMs -1 waits without limit.
int WaitAndDispatch(int *mouseMoved, int pump, int timeoutMs);
// The body the script thread runs: the applet's main chunk; its result is the loop's.
typedef int (*lvScriptBody)(void *state);
// Runs the main loop on the calling thread (it becomes the pumping thread) while body
// runs on a new script thread, and a mouse timer raises the mouse-moved slot every 20 ms
// in which the cursor moved. Returns the body's result when it ends, ERR_TIMER when the
// mouse timer or ERR_THREAD when the script thread could not be started.
int RunMainLoop(lvScriptBody body, void *state);
// The display-adapter form: a message thread serves the wait slots while body runs
// on the calling thread; then the end slot is raised and the message thread joined.
int RunMainLoopWithAdapter(lvScriptBody body, void *state);
// 1 on the thread that pumps (serves requests and thread messages).
int IsPumpingThread(void);

// ---- Main loop: the script thread's wake --------------------------------------------
// Raises the script wake signal (after each main-loop pass, and when something posts).
void WakeScriptThread(void);
// Blocks the script thread until it is woken; 0. With timeoutMs >= 0 waits at most that
// long (0 just tests). Clears the wake.
int WaitScriptWake(void *state, int timeoutMs);

// ---- Main loop: main-thread requests ------------------------------------------------
// The single request block: one request in flight at a time.
struct lvMainThreadRequest {
    int32_t code;           // request code; 0 none
    int32_t result;         // what the operation returned
    uintptr_t argument[4];  // the operation's arguments
};
// A request operation, run on the pumping thread with the block's arguments.
typedef int32_t (*lvRequestHandler)(const uintptr_t argument[4]);
// Registers the operation of a request code 1..31 (nullptr removes it).
void SetMainThreadRequestHandler(int32_t code, lvRequestHandler handler);
// Runs the request on the pumping thread and returns its result. On the pumping thread
// itself, or while no main loop runs, the operation runs at once on the caller.
// An unknown code gives ERR_WRONGUSAGE.
int32_t CallOnMainThread(int32_t code, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4);
// Pumping thread: serves a request that is waiting, waiting at most timeoutMs for one.
// For waits of the pumping thread on locks the script thread may hold while it waits
// for a request. 1 when one was served.
int ServeMainThreadRequest(int timeoutMs);
// Pumping thread: takes the mutex, serving requests while another thread holds it (that
// thread may be waiting for one of them).
void LockMutexServingRequests(lvMutex *mutex);

// ---- Event hooks of the script side -----------------------------------------------------
// What SleepWithEvents and the waits use of the event dispatcher. Set by the event
// library when it opens; defaults wait on the script wake signal and poll nothing.
struct lvEventLoopHooks {
    int (*WaitEvents)(void *state);                // blocks until the next wake-up; 0 or a code
    int (*PollEvents)(void *state, int *errorCode);  // non-zero to stop (quit, or *errorCode)
};
void SetEventLoopHooks(const lvEventLoopHooks *hooks);
// The hooks in force (defaults when none were set).
lvEventLoopHooks GetEventLoopHooks(void);
