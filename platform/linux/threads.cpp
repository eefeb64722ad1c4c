// threads.cpp - recursive mutexes, auto-reset signals and worker threads.
//
// Signals are eventfds (close-on-exec, non-blocking), so a poll()-based loop can
// wait on them beside other descriptors; a wait polls, then reads the counter to
// zero, and only the reader that got a non-zero count was released.
// A worker thread starts through StartThread, which waits for the thread's first
// report: success, or failure with an error code. The stop request is sticky (an
// atomic flag plus the stop signal, which nobody reads), so checking it never
// consumes it, and the stop signal lives as long as the record, so a late
// StopThread never raises a descriptor that was closed and handed out again.
// Depends on: pthreads, eventfd, poll.
// Limits: thread names are cut to 15 bytes (the system's limit).
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <cerrno>
#include <climits>
#include <cxxabi.h>
#include <cstring>
#include <new>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

// ---- Mutexes ------------------------------------------------------------------

struct lvMutex {
    pthread_mutex_t lock;  // a recursive pthread mutex
};

lvMutex *NewMutex(void)
{
    lvMutex *m = (lvMutex *)AllocMemory(sizeof(lvMutex), 1);
    if (!m) return nullptr;
    pthread_mutexattr_t attr;
    bool made = pthread_mutexattr_init(&attr) == 0;
    if (made) {
        made = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
               pthread_mutex_init(&m->lock, &attr) == 0;
        pthread_mutexattr_destroy(&attr);
    }
    if (!made) {
        FreeMemory(m);
        return nullptr;
    }
    return m;
}

void FreeMutex(lvMutex *mutex)
{
    if (!mutex) return;
    pthread_mutex_destroy(&mutex->lock);
    FreeMemory(mutex);
}

void LockMutex(lvMutex *mutex)
{
    pthread_mutex_lock(&mutex->lock);
}

int TryLockMutex(lvMutex *mutex)
{
    return pthread_mutex_trylock(&mutex->lock) == 0 ? 1 : 0;
}

void UnlockMutex(lvMutex *mutex)
{
    pthread_mutex_unlock(&mutex->lock);
}

// ---- Signals --------------------------------------------------------------------

struct lvSignal {
    int fd;  // the eventfd: readable while raised
};

lvSignal *NewSignal(void)
{
    lvSignal *s = (lvSignal *)AllocMemory(sizeof(lvSignal), 1);
    if (!s) return nullptr;
    s->fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s->fd < 0) {
        FreeMemory(s);
        return nullptr;
    }
    return s;
}

void CloseSignal(lvSignal *signal)
{
    if (!signal) return;
    close(signal->fd);
    FreeMemory(signal);
}

void RaiseSignal(lvSignal *signal)
{
    if (!signal) return;
    uint64_t one = 1;
    while (write(signal->fd, &one, sizeof(one)) < 0 && errno == EINTR) {
    }
}

int GetSignalDescriptor(const lvSignal *signal)
{
    return signal ? signal->fd : -1;
}

// Clears a raised signal; true when this caller found it raised.
static bool TakeSignal(lvSignal *signal)
{
    uint64_t count;
    for (;;) {
        if (read(signal->fd, &count, sizeof(count)) == (ssize_t)sizeof(count)) return count != 0;
        if (errno != EINTR) return false;  // EAGAIN: another waiter took it
    }
}

// Milliseconds left until a deadline on the monotonic clock (0 when passed).
static int MillisecondsLeft(const struct timespec *deadline)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    int64_t ms = (int64_t)(deadline->tv_sec - now.tv_sec) * 1000 +
                 (deadline->tv_nsec - now.tv_nsec) / 1000000;
    if (ms < 0) return 0;
    return ms > INT_MAX ? INT_MAX : (int)ms;
}

int WaitSignalTimeout(lvSignal *signal, int milliseconds)
{
    if (!signal) return 0;
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    if (milliseconds > 0) {
        deadline.tv_sec += milliseconds / 1000;
        deadline.tv_nsec += (long)(milliseconds % 1000) * 1000000L;
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec++;
            deadline.tv_nsec -= 1000000000L;
        }
    }
    for (;;) {
        if (TakeSignal(signal)) return 1;
        int left = milliseconds < 0 ? -1 : MillisecondsLeft(&deadline);
        if (left == 0) return 0;
        struct pollfd p = {signal->fd, POLLIN, 0};
        poll(&p, 1, left);
    }
}

void WaitSignal(lvSignal *signal)
{
    WaitSignalTimeout(signal, -1);
}

// ---- Worker threads ------------------------------------------------------------------

// Reports start-up success or failure once; only the first report raises the
// start-up signal, which StartThread closes as soon as it has seen it.
static void ReportStart(lvThread *thread, int failed, int errorCode)
{
    if (thread->reported.exchange(1, std::memory_order_acq_rel)) return;
    if (failed) {
        thread->errorCode.store(errorCode, std::memory_order_relaxed);
        thread->failed.store(1, std::memory_order_release);
    }
    RaiseSignal(thread->startSignal);
}

// Fails the start-up when the body leaves without reporting it, whichever way it
// leaves: by returning, by an exception, or by pthread_exit.
struct lvStartGuard {
    lvThread *thread;  // the thread whose body runs
    ~lvStartGuard() { ReportStart(thread, 1, ERR_THREAD); }
};

static void RunThreadBody(lvThread *thread)
{
    lvStartGuard guard = {thread};
    try {
        thread->body(thread);
    } catch (...) {
        // Nothing may unwind out of a thread, except the forced unwinding of
        // pthread_exit, which is no C++ exception and must go on.
        if (!abi::__cxa_current_exception_type()) throw;
    }
}

static void *ThreadEntry(void *argument)
{
    lvThread *thread = (lvThread *)argument;
    thread->threadId.store((uint32_t)gettid(), std::memory_order_relaxed);
    pthread_setname_np(pthread_self(), thread->name);
    RunThreadBody(thread);
    return nullptr;
}

static void FreeThreadRecord(lvThread *thread)
{
    CloseSignal(thread->startSignal);
    CloseSignal(thread->stopSignal);
    thread->~lvThread();
    FreeMemory(thread);
}

lvThread *StartThread(const char *name, lvThreadBody body, void *userData, void *reserved,
                      int hint1, int hint2, int flag, int *error)
{
    if (error) *error = ERR_THREAD;
    if (!body) return nullptr;
    void *block = AllocMemory(sizeof(lvThread), 1);
    if (!block) return nullptr;
    lvThread *thread = new (block) lvThread();
    thread->userData = userData;
    thread->body = body;
    thread->errorCode.store(ERR_THREAD, std::memory_order_relaxed);
    snprintf(thread->name, sizeof(thread->name), "%s", name ? name : "lumivarra");
    thread->startSignal = NewSignal();
    thread->stopSignal = NewSignal();
    if (!thread->startSignal || !thread->stopSignal ||
        pthread_create(&thread->handle, nullptr, ThreadEntry, thread) != 0) {
        FreeThreadRecord(thread);
        return nullptr;
    }
    WaitSignal(thread->startSignal);
    CloseSignal(thread->startSignal);
    thread->startSignal = nullptr;
    if (!thread->failed.load(std::memory_order_acquire)) return thread;
    if (error) *error = thread->errorCode.load(std::memory_order_relaxed);
    pthread_join(thread->handle, nullptr);
    FreeThreadRecord(thread);
    return nullptr;
}

void StopThread(lvThread *thread)
{
    if (!thread) return;
    thread->stopRequested.store(1, std::memory_order_release);
    RaiseSignal(thread->stopSignal);
    pthread_join(thread->handle, nullptr);
    FreeThreadRecord(thread);
}

lvThread *EnterThread(lvThread *thread)
{
    return thread;
}

void SignalThreadStarted(lvThread *thread)
{
    ReportStart(thread, 0, 0);
}

void EndThread(lvThread *thread, int failed, int errorCode)
{
    if (failed) ReportStart(thread, 1, errorCode);
}

int CheckThreadStop(lvThread *thread)
{
    return thread->stopRequested.load(std::memory_order_acquire);
}

int WaitSignalUnlocked(lvSignal *signal, lvMutex *mutex, lvThread *thread)
{
    int result = 0;
    UnlockMutex(mutex);
    for (;;) {
        // The work signal wins when both are raised, as the first of a wait list does.
        if (TakeSignal(signal)) break;
        if (thread && CheckThreadStop(thread)) {
            result = -1;
            break;
        }
        struct pollfd p[2] = {{signal->fd, POLLIN, 0}, {-1, POLLIN, 0}};
        if (thread) p[1].fd = thread->stopSignal->fd;
        poll(p, thread ? 2 : 1, -1);
    }
    LockMutex(mutex);
    return result;
}

int RaiseThreadPriority(void)
{
    struct sched_param param;
    memset(&param, 0, sizeof(param));
    param.sched_priority = sched_get_priority_max(SCHED_RR);
    if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0) return 1;
    // Without real-time rights the best left is the highest nice value allowed.
    return setpriority(PRIO_PROCESS, (id_t)gettid(), -20) == 0 ? 1 : 0;
}
