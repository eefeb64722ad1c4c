// mainloop.cpp - the main loop: its wait slots, thread messages, the script thread
// with its wake signal, and main-thread requests.
//
// The thread that owns the windows (the pumping thread) waits in one poll() over the
// descriptors of its wait slots (wake, mouse moved, request, the other thread's end,
// the run's end, audio notifications) and of its thread-message signal. Thread
// messages stand in for the system's per-thread message queue: timers post their
// firings here, so that only the pumping thread marks them. The script thread runs
// the applet and sees window changes only when it waits for events; every pass of
// the main loop raises its wake signal.
// Window operations asked for by the script thread run on the pumping thread through
// one request block with a request and a reply signal.
// Depends on: threads.cpp (signals, threads), events.cpp (the main wake), timers.cpp.
// Limits: LV_MAX_WAIT_SLOTS descriptors per wait; request codes 1..31; 32 message codes
// with handlers.
#include "platform/lvplatform.h"
#include "platform/lvplatform_tray.h"
#include "base/lverrors.h"
#include <cerrno>
#include <deque>
#include <poll.h>

// ---- State ------------------------------------------------------------------

#define LV_MAX_REQUEST_CODES 32
#define LV_MAX_MESSAGE_HANDLERS 32

// A handler of one thread-message code.
struct lvMessageHandlerEntry {
    uint32_t code;                                   // the message code; 0 free entry
    void (*handler)(const lvThreadMessage *message);  // what runs it on the pumping thread
};

// Everything the main loop keeps.
struct lvMainLoopState {
    pthread_mutex_t lock;                     // guards messages, handlers and hooks
    std::deque<lvThreadMessage> *messages;    // queued thread messages, oldest first
    lvSignal *messageSignal;                  // raised when a message was queued
    lvSignal *mouseMovedSignal;               // slot 1
    lvSignal *requestSignal;                  // slot 2
    lvSignal *replySignal;                    // raised when a request was served
    lvSignal *otherThreadSignal;              // slot 3: raised when the other thread ends
    lvSignal *endSignal;                      // slot 4
    lvSignal *scriptWakeSignal;               // wakes the script thread
    pthread_mutex_t requestLock;              // one request in flight at a time
    lvMainThreadRequest request;              // the request block
    lvRequestHandler requestHandlers[LV_MAX_REQUEST_CODES];          // operations by code
    lvMessageHandlerEntry messageHandlers[LV_MAX_MESSAGE_HANDLERS];  // handlers by code
    lvMainLoopHooks hooks;                    // what higher layers add to the loop
    lvEventLoopHooks eventHooks;              // the dispatcher's wait and poll
    std::atomic<int> loopRunning;             // 1 while RunMainLoop(WithAdapter) serves
    int scriptResult;                         // what the script body returned
};

static lvMainLoopState loopState = {PTHREAD_MUTEX_INITIALIZER, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr, nullptr,
                                    PTHREAD_MUTEX_INITIALIZER, {}, {}, {}, {}, {}, {0}, 0};

// The pumping thread marks itself.
static thread_local int isPumpingThread = 0;

// ---- Hook defaults --------------------------------------------------------------

static void NoDisplayLock(void) {}
static void NoWindowPump(void) {}
static void NoFold(int mouseMoved) {}
static int NoAudioSlots(int *descriptors, void **data, int max) { return 0; }
static void NoAudioDispatch(int descriptor, void *data) {}
static int NoCursor(int *x, int *y) { return 0; }
static int NoWindowDescriptor(void) { return -1; }

static int DefaultWaitEvents(void *state)
{
    return WaitScriptWake(state, -1);
}

static int DefaultPollEvents(void *state, int *errorCode)
{
    *errorCode = 0;
    return 0;
}

static const lvMainLoopHooks defaultLoopHooks = {NoDisplayLock, NoDisplayLock, NoWindowPump,
                                                 NoFold, NoAudioSlots, NoAudioDispatch, NoCursor,
                                                 NoWindowDescriptor, TrayBusDescriptor, DispatchTrayBus};
static const lvEventLoopHooks defaultEventHooks = {DefaultWaitEvents, DefaultPollEvents};

// The hooks are set before the loop's threads run and only read while they do.
static const lvMainLoopHooks &LoopHooks(void)
{
    return loopState.hooks.LockDisplays ? loopState.hooks : defaultLoopHooks;
}

void SetMainLoopHooks(const lvMainLoopHooks *hooks)
{
    lvMainLoopHooks h = hooks ? *hooks : defaultLoopHooks;
    if (!h.LockDisplays) h.LockDisplays = NoDisplayLock;
    if (!h.UnlockDisplays) h.UnlockDisplays = NoDisplayLock;
    if (!h.PumpWindows) h.PumpWindows = NoWindowPump;
    if (!h.FoldWindowChanges) h.FoldWindowChanges = NoFold;
    if (!h.FillAudioSlots) h.FillAudioSlots = NoAudioSlots;
    if (!h.DispatchAudioSlot) h.DispatchAudioSlot = NoAudioDispatch;
    if (!h.ReadCursorPosition) h.ReadCursorPosition = NoCursor;
    if (!h.WindowDescriptor) h.WindowDescriptor = NoWindowDescriptor;
    if (!h.BusDescriptor) h.BusDescriptor = TrayBusDescriptor;
    if (!h.DispatchBus) h.DispatchBus = DispatchTrayBus;
    loopState.hooks = h;
}

lvMainLoopHooks GetMainLoopHooks(void)
{
    return LoopHooks();
}

void SetEventLoopHooks(const lvEventLoopHooks *hooks)
{
    lvEventLoopHooks h = hooks ? *hooks : defaultEventHooks;
    if (!h.WaitEvents) h.WaitEvents = DefaultWaitEvents;
    if (!h.PollEvents) h.PollEvents = DefaultPollEvents;
    pthread_mutex_lock(&loopState.lock);
    loopState.eventHooks = h;
    pthread_mutex_unlock(&loopState.lock);
}

lvEventLoopHooks GetEventLoopHooks(void)
{
    pthread_mutex_lock(&loopState.lock);
    lvEventLoopHooks h = loopState.eventHooks;
    pthread_mutex_unlock(&loopState.lock);
    if (!h.WaitEvents) h = defaultEventHooks;
    return h;
}

// ---- Loop signals ------------------------------------------------------------------

int InitLoopSignals(void)
{
    pthread_mutex_lock(&loopState.lock);
    int result = 0;
    if (!loopState.messages) {
        lvSignal **made[] = {&loopState.messageSignal,     &loopState.mouseMovedSignal,
                             &loopState.requestSignal,     &loopState.replySignal,
                             &loopState.otherThreadSignal, &loopState.endSignal,
                             &loopState.scriptWakeSignal};
        for (lvSignal **slot : made) {
            *slot = NewSignal();
            if (!*slot) result = ERR_CREATEEVENT;
        }
        if (result == 0) {
            loopState.messages = new (std::nothrow) std::deque<lvThreadMessage>();
            if (!loopState.messages) result = ERR_CREATEEVENT;
        }
        if (result != 0) {
            for (lvSignal **slot : made) {
                CloseSignal(*slot);
                *slot = nullptr;
            }
        }
    }
    pthread_mutex_unlock(&loopState.lock);
    return result;
}

void FreeLoopSignals(void)
{
    pthread_mutex_lock(&loopState.lock);
    lvSignal **made[] = {&loopState.messageSignal,     &loopState.mouseMovedSignal,
                         &loopState.requestSignal,     &loopState.replySignal,
                         &loopState.otherThreadSignal, &loopState.endSignal,
                         &loopState.scriptWakeSignal};
    for (lvSignal **slot : made) {
        CloseSignal(*slot);
        *slot = nullptr;
    }
    delete loopState.messages;
    loopState.messages = nullptr;
    pthread_mutex_unlock(&loopState.lock);
}

void SignalMouseMoved(void)
{
    RaiseSignal(loopState.mouseMovedSignal);
}

void SignalMainLoopEnd(void)
{
    RaiseSignal(loopState.endSignal);
}

// ---- Thread messages ---------------------------------------------------------------

int PostThreadMessage(uint32_t code, uint64_t word, uintptr_t data)
{
    int result = 0;
    pthread_mutex_lock(&loopState.lock);
    if (!loopState.messages) {
        result = ERR_MEM;
    } else {
        try {
            loopState.messages->push_back(lvThreadMessage{code, word, data});
        } catch (...) {
            result = ERR_MEM;
        }
    }
    // Raised under the lock, so FreeLoopSignals can never close it in between.
    if (result == 0) RaiseSignal(loopState.messageSignal);
    pthread_mutex_unlock(&loopState.lock);
    return result;
}

void SetThreadMessageHandler(uint32_t code, void (*handler)(const lvThreadMessage *message))
{
    pthread_mutex_lock(&loopState.lock);
    lvMessageHandlerEntry *unused = nullptr;
    lvMessageHandlerEntry *entry = nullptr;
    for (lvMessageHandlerEntry &e : loopState.messageHandlers) {
        if (e.code == code) entry = &e;
        else if (!unused && e.code == 0) unused = &e;
    }
    if (entry) *entry = handler ? lvMessageHandlerEntry{code, handler} : lvMessageHandlerEntry{0, nullptr};
    else if (unused && handler) *unused = lvMessageHandlerEntry{code, handler};
    pthread_mutex_unlock(&loopState.lock);
}

static void (*FindMessageHandler(uint32_t code))(const lvThreadMessage *)
{
    for (const lvMessageHandlerEntry &entry : loopState.messageHandlers)
        if (entry.code == code && entry.handler) return entry.handler;
    return nullptr;
}

void PumpMessages(int full)
{
    // Clear the signal before draining: a message posted after the drain raises it again.
    WaitSignalTimeout(loopState.messageSignal, 0);
    std::deque<lvThreadMessage> taken;
    pthread_mutex_lock(&loopState.lock);
    if (loopState.messages) taken.swap(*loopState.messages);
    pthread_mutex_unlock(&loopState.lock);
    for (const lvThreadMessage &message : taken) {
        if (message.code == LV_MSG_TIMERFIRED) {
            MarkTimerFired(message.word);
            if (!full) WakeMainLoop();
            continue;
        }
        if (!full) continue;
        pthread_mutex_lock(&loopState.lock);
        void (*handler)(const lvThreadMessage *) = FindMessageHandler(message.code);
        pthread_mutex_unlock(&loopState.lock);
        if (handler) handler(&message);
    }
    if (full) LoopHooks().PumpWindows();
}

// ---- Requests ------------------------------------------------------------------------

void SetMainThreadRequestHandler(int32_t code, lvRequestHandler handler)
{
    if (code <= 0 || code >= LV_MAX_REQUEST_CODES) return;
    pthread_mutex_lock(&loopState.lock);
    loopState.requestHandlers[code] = handler;
    pthread_mutex_unlock(&loopState.lock);
}

static lvRequestHandler FindRequestHandler(int32_t code)
{
    if (code <= 0 || code >= LV_MAX_REQUEST_CODES) return nullptr;
    pthread_mutex_lock(&loopState.lock);
    lvRequestHandler handler = loopState.requestHandlers[code];
    pthread_mutex_unlock(&loopState.lock);
    return handler;
}

int32_t CallOnMainThread(int32_t code, uintptr_t a1, uintptr_t a2, uintptr_t a3, uintptr_t a4)
{
    lvRequestHandler handler = FindRequestHandler(code);
    if (!handler) return ERR_WRONGUSAGE;
    const uintptr_t arguments[4] = {a1, a2, a3, a4};
    // The pumping thread must never wait for itself; without a loop nobody would serve.
    if (isPumpingThread || !loopState.loopRunning.load(std::memory_order_acquire))
        return handler(arguments);
    pthread_mutex_lock(&loopState.requestLock);
    lvMainThreadRequest &request = loopState.request;
    request.code = code;
    request.result = 0;
    for (int i = 0; i < 4; i++) request.argument[i] = arguments[i];
    RaiseSignal(loopState.requestSignal);
    WaitSignal(loopState.replySignal);
    int32_t result = request.result;
    request.code = 0;
    pthread_mutex_unlock(&loopState.requestLock);
    return result;
}

// Pumping thread: serves the request in the block and answers.
static void ServeRequest(void)
{
    lvMainThreadRequest &request = loopState.request;
    lvRequestHandler handler = FindRequestHandler(request.code);
    request.result = handler ? handler(request.argument) : ERR_WRONGUSAGE;
    RaiseSignal(loopState.replySignal);
}

int ServeMainThreadRequest(int timeoutMs)
{
    if (!loopState.requestSignal) return 0;
    if (!WaitSignalTimeout(loopState.requestSignal, timeoutMs)) return 0;
    ServeRequest();
    return 1;
}

void LockMutexServingRequests(lvMutex *mutex)
{
    while (!TryLockMutex(mutex)) ServeMainThreadRequest(2);
}

// ---- The wait --------------------------------------------------------------------------

// What one readable slot does; 1 for the end slots.
static int DispatchSignal(int slot, int descriptor, void *data, int *mouseMoved)
{
    switch (slot) {
    case LV_SLOT_WAKE:
        WaitSignalTimeout(GetMainWakeSignal(), 0);
        return 0;
    case LV_SLOT_MOUSEMOVED:
        WaitSignalTimeout(loopState.mouseMovedSignal, 0);
        *mouseMoved = 1;
        return 0;
    case LV_SLOT_REQUEST:
        // A request wakes the slot only once: serve it if the block still holds one.
        if (WaitSignalTimeout(loopState.requestSignal, 0)) ServeRequest();
        return 0;
    case LV_SLOT_OTHERTHREAD:
    case LV_SLOT_END:
        return 1;  // stay raised: every later wait sees the end as well
    default:
        LoopHooks().DispatchAudioSlot(descriptor, data);
        return 0;
    }
}

int WaitAndDispatch(int *mouseMoved, int pump, int timeoutMs)
{
    struct pollfd fds[LV_MAX_WAIT_SLOTS];
    void *data[LV_MAX_WAIT_SLOTS] = {};
    lvSignal *fixed[LV_SLOT_AUDIO] = {GetMainWakeSignal(), loopState.mouseMovedSignal,
                                      loopState.requestSignal, loopState.otherThreadSignal,
                                      loopState.endSignal};
    int count = 0;
    for (lvSignal *signal : fixed) fds[count++] = {GetSignalDescriptor(signal), POLLIN, 0};
    int audio[LV_MAX_WAIT_SLOTS];
    int extra = LoopHooks().FillAudioSlots(audio, data + LV_SLOT_AUDIO,
                                           LV_MAX_WAIT_SLOTS - LV_SLOT_AUDIO - 1);
    if (extra < 0) extra = 0;
    for (int i = 0; i < extra; i++) fds[count++] = {audio[i], POLLIN, 0};
    int messageSlot = count;
    fds[count++] = {GetSignalDescriptor(loopState.messageSignal), POLLIN, 0};
    // The window system's input only wakes the loop: the pass pumps it.
    int windowFd = LoopHooks().WindowDescriptor();
    if (windowFd >= 0) fds[count++] = {windowFd, POLLIN, 0};
    int busSlot = -1;
    int busFd = LoopHooks().BusDescriptor();
    if (busFd >= 0) {
        busSlot = count;
        fds[count++] = {busFd, POLLIN, 0};
    }
    int ready;
    do {
        ready = poll(fds, (nfds_t)count, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    int result = 0;
    if (ready > 0) {
        for (int slot = 0; slot < messageSlot; slot++) {
            if (fds[slot].fd < 0 || !(fds[slot].revents & (POLLIN | POLLERR | POLLHUP))) continue;
            if (DispatchSignal(slot, fds[slot].fd, data[slot], mouseMoved)) result = 1;
        }
        if (busSlot >= 0 && (fds[busSlot].revents & (POLLIN | POLLERR | POLLHUP))) LoopHooks().DispatchBus();
    }
    if (pump) PumpMessages(0);
    return result;
}

// ---- The script thread and the loop ------------------------------------------------------

// What the other thread of a loop runs.
struct lvLoopThreadStart {
    lvScriptBody body;  // the applet's main chunk (script thread); nullptr for the message thread
    void *state;        // the script's state
};

static void ScriptThreadMain(lvThread *thread)
{
    EnterThread(thread);
    SignalThreadStarted(thread);
    lvLoopThreadStart *start = (lvLoopThreadStart *)thread->userData;
    loopState.scriptResult = start->body(start->state);
    RaiseSignal(loopState.otherThreadSignal);
    EndThread(thread, 0, 0);
}

static void MessageThreadMain(lvThread *thread)
{
    EnterThread(thread);
    isPumpingThread = 1;
    SignalThreadStarted(thread);
    int mouseMoved = 0;
    while (!WaitAndDispatch(&mouseMoved, 1, -1)) {
    }
    isPumpingThread = 0;
    RaiseSignal(loopState.otherThreadSignal);
    EndThread(thread, 0, 0);
}

// The mouse timer: every 20 ms, a cursor that moved raises the mouse-moved slot.
#define LV_MOUSE_TIMER_MS 20

static void MouseTimerMain(lvThread *thread)
{
    EnterThread(thread);
    SignalThreadStarted(thread);
    int lastX = 0, lastY = 0, known = 0;
    // The stop signal stays raised once StopThread asked: polled, never read, it ends
    // every later wait at once.
    struct pollfd stop = {GetSignalDescriptor(thread->stopSignal), POLLIN, 0};
    while (!CheckThreadStop(thread)) {
        if (poll(&stop, 1, LV_MOUSE_TIMER_MS) != 0) continue;
        int x, y;
        if (!LoopHooks().ReadCursorPosition(&x, &y)) continue;
        if (known && x == lastX && y == lastY) continue;
        if (known) SignalMouseMoved();
        lastX = x;
        lastY = y;
        known = 1;
    }
    EndThread(thread, 0, 0);
}

// A new run starts with its end slots clear.
static void ResetEndSlots(void)
{
    WaitSignalTimeout(loopState.otherThreadSignal, 0);
    WaitSignalTimeout(loopState.endSignal, 0);
}

int RunMainLoop(lvScriptBody body, void *state)
{
    if (!body) return ERR_WRONGUSAGE;
    ResetEndSlots();
    isPumpingThread = 1;
    loopState.loopRunning.store(1, std::memory_order_release);
    lvThread *mouseTimer = StartThread("mousetimer", MouseTimerMain, nullptr, nullptr, 0, 0, 0, nullptr);
    if (!mouseTimer) {
        loopState.loopRunning.store(0, std::memory_order_release);
        isPumpingThread = 0;
        return ERR_TIMER;
    }
    lvLoopThreadStart start = {body, state};
    lvThread *script = StartThread("script", ScriptThreadMain, &start, nullptr, 0, 0, 0, nullptr);
    if (!script) {
        StopThread(mouseTimer);
        loopState.loopRunning.store(0, std::memory_order_release);
        isPumpingThread = 0;
        return ERR_THREAD;
    }
    const lvMainLoopHooks &hooks = LoopHooks();
    int done = 0;
    while (!done) {
        int mouseMoved = 0;
        done = WaitAndDispatch(&mouseMoved, 0, -1);
        hooks.LockDisplays();
        PumpMessages(1);
        hooks.FoldWindowChanges(mouseMoved);
        hooks.UnlockDisplays();
        WakeScriptThread();
    }
    StopThread(script);
    StopThread(mouseTimer);
    loopState.loopRunning.store(0, std::memory_order_release);
    isPumpingThread = 0;
    ResetEndSlots();
    WaitSignalTimeout(loopState.mouseMovedSignal, 0);
    return loopState.scriptResult;
}

int RunMainLoopWithAdapter(lvScriptBody body, void *state)
{
    if (!body) return ERR_WRONGUSAGE;
    ResetEndSlots();
    lvLoopThreadStart start = {nullptr, state};
    loopState.loopRunning.store(1, std::memory_order_release);
    lvThread *messages = StartThread("messages", MessageThreadMain, &start, nullptr, 0, 0, 0, nullptr);
    if (!messages) {
        loopState.loopRunning.store(0, std::memory_order_release);
        return ERR_THREAD;
    }
    int result = body(state);
    SignalMainLoopEnd();
    StopThread(messages);
    loopState.loopRunning.store(0, std::memory_order_release);
    ResetEndSlots();
    return result;
}

int IsPumpingThread(void)
{
    return isPumpingThread;
}

// ---- The script thread's wake ----------------------------------------------------------------

void WakeScriptThread(void)
{
    RaiseSignal(loopState.scriptWakeSignal);
}

int WaitScriptWake(void *state, int timeoutMs)
{
    if (timeoutMs < 0) WaitSignal(loopState.scriptWakeSignal);
    else WaitSignalTimeout(loopState.scriptWakeSignal, timeoutMs);
    return 0;
}
