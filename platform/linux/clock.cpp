// clock.cpp - time values, the run's clock and sleeping.
//
// The clock is CLOCK_MONOTONIC anchored once to the wall clock: at start-up the
// wall time (microseconds since 1970) and the monotonic reading are taken together;
// later readings add the monotonic time elapsed since then to that wall time. A step
// of the wall clock during the run therefore never moves it, and the sum is kept in
// 64-bit nanoseconds, which lasts for centuries of one run.
// The soft timer (option flag LV_OPTION_SOFTTIMER) reads milliseconds since system
// start instead, as the option asks.
// Depends on: clock_gettime, clock_nanosleep.
// Limits: seconds are 32-bit unsigned, so readings as wall time wrap in 2106.
#include "platform/lvplatform.h"
#include <cerrno>
#include <ctime>
#include <sched.h>

// ---- State ------------------------------------------------------------------

static int64_t ReadSystemWallMicros(void);
static int64_t ReadSystemMonotonicNanos(void);
static int64_t ReadSystemUptimeMillis(void);

static const lvClockSources systemSources = {ReadSystemWallMicros, ReadSystemMonotonicNanos,
                                             ReadSystemUptimeMillis};

// Everything the clock keeps. Written once on the main thread at start-up (tests may
// rewrite it while no other thread runs); read lock-free by every thread.
struct lvClockState {
    std::atomic<const lvClockSources *> sources;  // where the readings come from
    std::atomic<int> anchored;                    // 1 once InitClockBase took the base
    std::atomic<int64_t> baseMonotonicNanos;      // steady reading at the anchor
    std::atomic<int64_t> baseWallMicros;          // wall time at the anchor
    std::atomic<uint32_t> optionFlags;            // the runtime's option flags word
};

static lvClockState clockState = {{&systemSources}, {0}, {0}, {0}, {0}};

// ---- System sources -------------------------------------------------------------

static int64_t ReadClock(clockid_t id, int64_t unitsPerSecond, int64_t nanosPerUnit)
{
    struct timespec ts;
    clock_gettime(id, &ts);
    return (int64_t)ts.tv_sec * unitsPerSecond + ts.tv_nsec / nanosPerUnit;
}

static int64_t ReadSystemWallMicros(void)
{
    return ReadClock(CLOCK_REALTIME, 1000000, 1000);
}

static int64_t ReadSystemMonotonicNanos(void)
{
    return ReadClock(CLOCK_MONOTONIC, 1000000000, 1);
}

static int64_t ReadSystemUptimeMillis(void)
{
    // Boot time counts a suspended machine's sleep too, as "since system start" means.
    return ReadClock(CLOCK_BOOTTIME, 1000, 1000000);
}

// ---- Clock base -------------------------------------------------------------------

void InitClockBase(void)
{
    const lvClockSources *src = clockState.sources.load(std::memory_order_acquire);
    clockState.baseWallMicros.store(src->ReadWallMicros(), std::memory_order_relaxed);
    clockState.baseMonotonicNanos.store(src->ReadMonotonicNanos(), std::memory_order_relaxed);
    clockState.anchored.store(1, std::memory_order_release);
}

void SetClockSources(const lvClockSources *sources)
{
    clockState.anchored.store(0, std::memory_order_release);
    clockState.sources.store(sources ? sources : &systemSources, std::memory_order_release);
}

void SetPlatformOptionFlags(uint32_t flags)
{
    clockState.optionFlags.store(flags, std::memory_order_relaxed);
}

uint32_t GetPlatformOptionFlags(void)
{
    return clockState.optionFlags.load(std::memory_order_relaxed);
}

// ---- Reading the clock -------------------------------------------------------------

void GetTimeVal(lvTimeVal *tv)
{
    const lvClockSources *src = clockState.sources.load(std::memory_order_acquire);
    if (clockState.optionFlags.load(std::memory_order_relaxed) & LV_OPTION_SOFTTIMER) {
        int64_t ms = src->ReadUptimeMillis();
        if (ms < 0) ms = 0;
        tv->seconds = (uint32_t)(ms / 1000);
        tv->microseconds = (uint32_t)(ms % 1000) * 1000;
        return;
    }
    int64_t micros;
    if (clockState.anchored.load(std::memory_order_acquire)) {
        int64_t elapsed = src->ReadMonotonicNanos() -
                          clockState.baseMonotonicNanos.load(std::memory_order_relaxed);
        micros = clockState.baseWallMicros.load(std::memory_order_relaxed) + elapsed / 1000;
    } else {
        micros = src->ReadWallMicros();
    }
    if (micros < 0) micros = 0;
    tv->seconds = (uint32_t)(micros / 1000000);
    tv->microseconds = (uint32_t)(micros % 1000000);
}

double GetEpochSeconds(int useSystemClock)
{
    if (useSystemClock) {
        const lvClockSources *src = clockState.sources.load(std::memory_order_acquire);
        return (double)src->ReadWallMicros() / 1000000.0;
    }
    lvTimeVal tv;
    GetTimeVal(&tv);
    return (double)tv.seconds + (double)tv.microseconds / 1000000.0;
}

// ---- Time-value arithmetic ----------------------------------------------------------

void SubTimeVal(lvTimeVal *a, const lvTimeVal *b)
{
    if (a->microseconds < b->microseconds) {
        a->seconds = a->seconds - b->seconds - 1;
        a->microseconds = a->microseconds - b->microseconds + 1000000;
    } else {
        a->seconds -= b->seconds;
        a->microseconds -= b->microseconds;
    }
}

lvTimeVal *AddTimeVal(lvTimeVal *a, const lvTimeVal *b)
{
    a->seconds += b->seconds;
    a->microseconds += b->microseconds;
    if (a->microseconds > 999999) {
        a->seconds++;
        a->microseconds -= 1000000;
    }
    return a;
}

int CmpTimeVal(const lvTimeVal *a, const lvTimeVal *b)
{
    if (a->seconds != b->seconds) return a->seconds < b->seconds ? -1 : 1;
    if (a->microseconds != b->microseconds) return a->microseconds < b->microseconds ? -1 : 1;
    return 0;
}

// ---- Sleeping ------------------------------------------------------------------------

void SleepMilliseconds(uint32_t milliseconds)
{
    if (milliseconds == 0) {
        sched_yield();  // a zero sleep gives up the rest of the time slice
        return;
    }
    // An absolute deadline keeps a sleep interrupted by a signal from growing longer.
    struct timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += (long)(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec++;
        deadline.tv_nsec -= 1000000000L;
    }
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
