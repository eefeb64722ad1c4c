// Mutexes, signals, worker threads and the main-loop wake.
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include <gtest/gtest.h>
#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

// ---- Signals and mutexes -----------------------------------------------------------

TEST(Signal, AutoResetAndCloseOnExec)
{
    lvSignal *s = NewSignal();
    ASSERT_NE(s, nullptr);
    int fd = GetSignalDescriptor(s);
    EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC);
    EXPECT_EQ(WaitSignalTimeout(s, 0), 0);  // created clear
    // two raises before one wait release one wait only
    RaiseSignal(s);
    RaiseSignal(s);
    EXPECT_EQ(WaitSignalTimeout(s, 0), 1);
    EXPECT_EQ(WaitSignalTimeout(s, 0), 0);
    // the descriptor is readable exactly while the signal is raised
    struct pollfd p = {fd, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    RaiseSignal(s);
    EXPECT_EQ(poll(&p, 1, 0), 1);
    WaitSignal(s);
    EXPECT_EQ(poll(&p, 1, 0), 0);
    CloseSignal(s);
    CloseSignal(nullptr);
}

TEST(Signal, OneRaiseReleasesOneOfTwoWaiters)
{
    lvSignal *s = NewSignal();
    std::atomic<int> released{0}, waiting{0};
    auto waiter = [&] {
        waiting++;
        released += WaitSignalTimeout(s, 300);
    };
    std::thread a(waiter), b(waiter);
    while (waiting.load() < 2) std::this_thread::yield();
    RaiseSignal(s);
    a.join();
    b.join();
    EXPECT_EQ(released.load(), 1);
    CloseSignal(s);
}

TEST(Mutex, IsRecursiveAndExcludesOthers)
{
    lvMutex *m = NewMutex();
    ASSERT_NE(m, nullptr);
    LockMutex(m);
    LockMutex(m);  // the owner may lock again
    std::atomic<bool> gotIt{false};
    std::thread other([&] {
        LockMutex(m);
        gotIt = true;
        UnlockMutex(m);
    });
    UnlockMutex(m);
    SleepMilliseconds(20);
    EXPECT_FALSE(gotIt.load());  // still held once
    UnlockMutex(m);
    other.join();
    EXPECT_TRUE(gotIt.load());
    FreeMutex(m);
}

// ---- Worker threads ------------------------------------------------------------------

// Shared by a worker and the test that starts it.
struct Worker {
    lvMutex *mutex = nullptr;          // held by the worker except while it waits
    lvSignal *work = nullptr;          // raised when there is work
    std::atomic<int> jobs{0};          // work signals served
    std::atomic<int> waitResult{99};   // what the last WaitSignalUnlocked returned
    std::atomic<bool> ended{false};    // the body has returned
    int failWith = 0;                  // a start-up error to report, 0 for success
};

static void WorkerBody(lvThread *thread)
{
    Worker *w = (Worker *)EnterThread(thread)->userData;
    if (w->failWith) {
        EndThread(thread, 1, w->failWith);
        w->ended = true;
        return;
    }
    LockMutex(w->mutex);
    SignalThreadStarted(thread);
    int r;
    while ((r = WaitSignalUnlocked(w->work, w->mutex, thread)) == 0) w->jobs++;
    w->waitResult = r;
    UnlockMutex(w->mutex);
    EndThread(thread, 0, 0);
    w->ended = true;
}

class WorkerTest : public testing::Test {
protected:
    Worker w;
    void SetUp() override
    {
        w.mutex = NewMutex();
        w.work = NewSignal();
        ASSERT_NE(w.mutex, nullptr);
        ASSERT_NE(w.work, nullptr);
    }
    void TearDown() override
    {
        CloseSignal(w.work);
        FreeMutex(w.mutex);
    }
};

TEST_F(WorkerTest, ServesWorkAndStops)
{
    int error = 0;
    lvThread *t = StartThread("worker", WorkerBody, &w, nullptr, 16384, 0, 0, &error);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->userData, &w);
    EXPECT_NE(t->threadId.load(), 0u);
    for (int i = 1; i <= 3; i++) {
        RaiseSignal(w.work);
        while (w.jobs.load() < i) std::this_thread::yield();
    }
    StopThread(t);
    EXPECT_TRUE(w.ended.load());
    EXPECT_EQ(w.waitResult.load(), -1);
    EXPECT_EQ(w.jobs.load(), 3);
}

TEST_F(WorkerTest, ReportedStartErrorIsReturned)
{
    w.failWith = 1555;
    int error = 0;
    lvThread *t = StartThread("failing", WorkerBody, &w, nullptr, 0, 0, 0, &error);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(error, 1555);
    EXPECT_TRUE(w.ended.load());  // StartThread returned after the thread ended
}

static void SilentBody(lvThread *thread)
{
    // returns without reporting success or failure
    ((std::atomic<bool> *)thread->userData)->store(true);
}

static void ThrowingBody(lvThread *thread)
{
    throw 42;
}

TEST(Thread, BodyThatNeverReportsGivesThreadError)
{
    std::atomic<bool> ran{false};
    int error = 0;
    EXPECT_EQ(StartThread("silent", SilentBody, &ran, nullptr, 0, 0, 0, &error), nullptr);
    EXPECT_EQ(error, ERR_THREAD);
    EXPECT_TRUE(ran.load());
    error = 0;
    EXPECT_EQ(StartThread("throwing", ThrowingBody, nullptr, nullptr, 0, 0, 0, &error), nullptr);
    EXPECT_EQ(error, ERR_THREAD);
    EXPECT_EQ(StartThread("no body", nullptr, nullptr, nullptr, 0, 0, 0, &error), nullptr);
    // an out error is optional
    EXPECT_EQ(StartThread("silent", SilentBody, &ran, nullptr, 0, 0, 0, nullptr), nullptr);
}

TEST(Thread, NoRecordWithoutMemory)
{
    int error = 0;
    FailAllocMemoryAfter(0);
    lvThread *t = StartThread("nomem", SilentBody, nullptr, nullptr, 0, 0, 0, &error);
    FailAllocMemoryAfter(-1);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(error, ERR_THREAD);
}

TEST_F(WorkerTest, ThousandStartStopCycles)
{
    for (int i = 0; i < 1000; i++) {
        int error = 0;
        lvThread *t = StartThread("cycle", WorkerBody, &w, nullptr, 0, 0, 0, &error);
        ASSERT_NE(t, nullptr) << "cycle " << i << " error " << error;
        if (i % 3 == 0) RaiseSignal(w.work);  // sometimes work and stop race each other
        StopThread(t);
        ASSERT_EQ(w.waitResult.load(), -1);
        w.waitResult = 99;
    }
}

// A body that looks at its stop request before it waits: the look must not use it up.
static void CheckingBody(lvThread *thread)
{
    Worker *w = (Worker *)thread->userData;
    LockMutex(w->mutex);
    SignalThreadStarted(thread);
    while (!CheckThreadStop(thread)) std::this_thread::yield();
    EXPECT_NE(CheckThreadStop(thread), 0);
    w->waitResult = WaitSignalUnlocked(w->work, w->mutex, thread);
    UnlockMutex(w->mutex);
    EndThread(thread, 0, 0);
}

TEST_F(WorkerTest, CheckingTheStopDoesNotConsumeIt)
{
    for (int i = 0; i < 50; i++) {
        lvThread *t = StartThread("checker", CheckingBody, &w, nullptr, 0, 0, 0, nullptr);
        ASSERT_NE(t, nullptr);
        StopThread(t);  // would hang if the check had taken the request
        EXPECT_EQ(w.waitResult.load(), -1);
    }
}

TEST_F(WorkerTest, StoppedWaitTakesTheMutexBackBeforeReturning)
{
    lvThread *t = StartThread("waiter", WorkerBody, &w, nullptr, 0, 0, 0, nullptr);
    ASSERT_NE(t, nullptr);
    LockMutex(w.mutex);  // free while the worker waits
    std::thread stopper([&] { StopThread(t); });
    SleepMilliseconds(30);
    EXPECT_FALSE(w.ended.load());  // woken, but blocked on the mutex we hold
    EXPECT_EQ(w.waitResult.load(), 99);
    UnlockMutex(w.mutex);
    stopper.join();
    EXPECT_TRUE(w.ended.load());
    EXPECT_EQ(w.waitResult.load(), -1);
}

// A body that waits on descriptors of its own beside the stop signal's, as workers
// that watch a pipe or a device do.
static void PollingBody(lvThread *thread)
{
    int *pipeFds = (int *)thread->userData;
    SignalThreadStarted(thread);
    struct pollfd p[2] = {{pipeFds[0], POLLIN, 0}, {GetSignalDescriptor(thread->stopSignal), POLLIN, 0}};
    while (poll(p, 2, -1) >= 0 && !(p[1].revents & POLLIN)) {
    }
    // still readable afterwards: nothing took the request
    EXPECT_EQ(poll(&p[1], 1, 0), 1);
    EndThread(thread, 0, 0);
}

TEST(Thread, StopSignalWakesAPollingBody)
{
    int pipeFds[2];
    ASSERT_EQ(pipe2(pipeFds, O_CLOEXEC), 0);
    lvThread *t = StartThread("poller", PollingBody, pipeFds, nullptr, 0, 0, 0, nullptr);
    ASSERT_NE(t, nullptr);
    StopThread(t);
    close(pipeFds[0]);
    close(pipeFds[1]);
}

static void QuickBody(lvThread *thread)
{
    SignalThreadStarted(thread);
    SignalThreadStarted(thread);  // a second report is ignored
    EndThread(thread, 0, 0);
    ((std::atomic<bool> *)thread->userData)->store(true);
}

TEST(Thread, StopAfterTheThreadEndedRaisesNothingElse)
{
    std::atomic<bool> done{false};
    lvThread *t = StartThread("quick", QuickBody, &done, nullptr, 0, 0, 0, nullptr);
    ASSERT_NE(t, nullptr);
    while (!done.load()) std::this_thread::yield();
    SleepMilliseconds(5);
    // Descriptors opened now would reuse any that the ended thread had closed.
    std::vector<lvSignal *> fresh;
    for (int i = 0; i < 8; i++) fresh.push_back(NewSignal());
    StopThread(t);
    for (lvSignal *s : fresh) {
        EXPECT_EQ(WaitSignalTimeout(s, 0), 0);
        CloseSignal(s);
    }
}

TEST(Thread, RaisePriorityIsHarmless)
{
    std::thread t([] {
        int r = RaiseThreadPriority();
        EXPECT_TRUE(r == 0 || r == 1);
    });
    t.join();
}

// ---- Waking the main loop ------------------------------------------------------------------

static std::atomic<int> hookCalls{0};
static void CountingHook(void) { hookCalls++; }

TEST(MainWake, SignalOrAdapterHook)
{
    hookCalls = 0;
    ASSERT_EQ(InitPlatform(), 0);
    lvSignal *wake = GetMainWakeSignal();
    ASSERT_NE(wake, nullptr);
    EXPECT_TRUE(fcntl(GetSignalDescriptor(wake), F_GETFD) & FD_CLOEXEC);
    std::thread other([] { WakeMainLoop(); });
    other.join();
    struct pollfd p = {GetSignalDescriptor(wake), POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(WaitSignalTimeout(wake, 0), 1);
    // with a display adapter's hook the hook runs instead
    SetWakeMainLoopHook(CountingHook);
    WakeMainLoop();
    SetWakeMainLoopHook(nullptr);
    EXPECT_EQ(hookCalls.load(), 1);
    EXPECT_EQ(WaitSignalTimeout(wake, 0), 0);
    ExitPlatform();
    EXPECT_EQ(GetMainWakeSignal(), nullptr);
    WakeMainLoop();  // after shut-down: nothing to wake, no crash
}

static void ExitingBody(lvThread *thread)
{
    pthread_exit(nullptr);  // leaves without reporting, by unwinding
}

TEST(Thread, BodyThatExitsTheThreadGivesThreadError)
{
    int error = 0;
    EXPECT_EQ(StartThread("exiting", ExitingBody, nullptr, nullptr, 0, 0, 0, &error), nullptr);
    EXPECT_EQ(error, ERR_THREAD);
}
