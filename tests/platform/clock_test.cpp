// Time-value arithmetic, the anchored clock (with faked wall and steady sources),
// the soft timer and sleeping.
#include "platform/lvplatform.h"
#include <gtest/gtest.h>
#include <ctime>

// ---- Arithmetic -----------------------------------------------------------------

struct TimeValCase {
    lvTimeVal a, b;     // operands
    lvTimeVal sum;      // AddTimeVal(a, b)
    lvTimeVal diff;     // SubTimeVal(a, b)
    int cmp;            // CmpTimeVal(a, b)
};

TEST(TimeVal, ArithmeticTable)
{
    const TimeValCase cases[] = {
        // borrow: {5, 100} - {2, 200} = {2, 999900}
        {{5, 100}, {2, 200}, {7, 300}, {2, 999900}, 1},
        // carry: {1, 999999} + {0, 1} = {2, 0}
        {{1, 999999}, {0, 1}, {2, 0}, {1, 999998}, 1},
        {{3, 5}, {3, 5}, {6, 10}, {0, 0}, 0},
        {{2, 999999}, {3, 0}, {5, 999999}, {0xFFFFFFFFu, 999999}, -1},
        // both microsecond parts near the top: the carry leaves a normalised value
        {{0, 999999}, {0, 999999}, {1, 999998}, {0, 0}, 0},
        {{10, 0}, {0, 999999}, {10, 999999}, {9, 1}, 1},
        // seconds compare as unsigned numbers
        {{0x80000000u, 0}, {1, 0}, {0x80000001u, 0}, {0x7FFFFFFFu, 0}, 1},
        {{4, 1}, {4, 2}, {8, 3}, {0xFFFFFFFFu, 999999}, -1},
    };
    for (const TimeValCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "a={" << c.a.seconds << "," << c.a.microseconds
                                        << "} b={" << c.b.seconds << "," << c.b.microseconds << "}");
        lvTimeVal sum = c.a, diff = c.a;
        EXPECT_EQ(AddTimeVal(&sum, &c.b), &sum);
        EXPECT_EQ(sum.seconds, c.sum.seconds);
        EXPECT_EQ(sum.microseconds, c.sum.microseconds);
        SubTimeVal(&diff, &c.b);
        EXPECT_EQ(diff.seconds, c.diff.seconds);
        EXPECT_EQ(diff.microseconds, c.diff.microseconds);
        EXPECT_EQ(CmpTimeVal(&c.a, &c.b), c.cmp);
        EXPECT_EQ(CmpTimeVal(&c.b, &c.a), -c.cmp);
        // Adding back what was taken away gives the first operand again.
        AddTimeVal(&diff, &c.b);
        EXPECT_EQ(CmpTimeVal(&diff, &c.a), 0);
    }
}

// ---- The clock with faked sources ----------------------------------------------------

static int64_t fakeWallMicros, fakeMonotonicNanos, fakeUptimeMillis;
static int64_t ReadFakeWall(void) { return fakeWallMicros; }
static int64_t ReadFakeMonotonic(void) { return fakeMonotonicNanos; }
static int64_t ReadFakeUptime(void) { return fakeUptimeMillis; }
static const lvClockSources fakeSources = {ReadFakeWall, ReadFakeMonotonic, ReadFakeUptime};

class FakeClock : public testing::Test {
protected:
    void SetUp() override
    {
        fakeWallMicros = 1700000000LL * 1000000 + 250000;  // 2023-11-14, a quarter second in
        fakeMonotonicNanos = 987654321000LL;
        fakeUptimeMillis = 3723456;  // 1 h 2 min 3.456 s after boot
        SetPlatformOptionFlags(0);
        SetClockSources(&fakeSources);
    }
    void TearDown() override
    {
        SetPlatformOptionFlags(0);
        SetClockSources(nullptr);
        InitClockBase();
    }
    static lvTimeVal Now()
    {
        lvTimeVal tv;
        GetTimeVal(&tv);
        return tv;
    }
};

TEST_F(FakeClock, BeforeStartupReadsTheWallClock)
{
    lvTimeVal tv = Now();
    EXPECT_EQ(tv.seconds, 1700000000u);
    EXPECT_EQ(tv.microseconds, 250000u);
    fakeWallMicros -= 3600LL * 1000000;  // not anchored yet: a wall step shows
    EXPECT_EQ(Now().seconds, 1700000000u - 3600);
}

TEST_F(FakeClock, WallClockJumpsDoNotMoveIt)
{
    InitClockBase();
    fakeMonotonicNanos += 1500000000LL;            // 1.5 s pass
    fakeWallMicros -= 3600LL * 1000000;            // and the wall clock steps back an hour
    lvTimeVal tv = Now();
    EXPECT_EQ(tv.seconds, 1700000001u);
    EXPECT_EQ(tv.microseconds, 750000u);
    fakeWallMicros += 86400LL * 1000000 * 30;      // now forward a month
    fakeMonotonicNanos += 1000;                    // 1 µs passes
    tv = Now();
    EXPECT_EQ(tv.seconds, 1700000001u);
    EXPECT_EQ(tv.microseconds, 750001u);
    // GetEpochSeconds(0) follows the run's clock, GetEpochSeconds(1) the wall clock.
    EXPECT_NEAR(GetEpochSeconds(0), 1700000001.750001, 1e-5);
    EXPECT_NEAR(GetEpochSeconds(1), (double)fakeWallMicros / 1e6, 1e-5);
}

TEST_F(FakeClock, StaysExactForLongRuns)
{
    InitClockBase();
    // Runs far past the ten-odd days where a 64-bit count of counter ticks times a
    // million overflows; each reading must be the anchor plus exactly what elapsed.
    const int64_t elapsedMicros[] = {
        10LL * 86400 * 1000000 + 16LL * 3600 * 1000000,  // 10 d 16 h
        11LL * 86400 * 1000000 + 123457,                 // 11 d
        400LL * 86400 * 1000000 + 999999,                // 400 d
        30LL * 365 * 86400 * 1000000 + 1,                // 30 years
    };
    const int64_t start = fakeMonotonicNanos;
    lvTimeVal previous = Now();
    for (int64_t e : elapsedMicros) {
        fakeMonotonicNanos = start + e * 1000 + 999;  // sub-microsecond rest is dropped
        lvTimeVal tv = Now();
        int64_t expected = 1700000000LL * 1000000 + 250000 + e;
        EXPECT_EQ(tv.seconds, (uint32_t)(expected / 1000000)) << e;
        EXPECT_EQ(tv.microseconds, (uint32_t)(expected % 1000000)) << e;
        EXPECT_EQ(CmpTimeVal(&previous, &tv), -1);
        previous = tv;
    }
}

TEST_F(FakeClock, SoftTimerCountsFromSystemStart)
{
    InitClockBase();
    SetPlatformOptionFlags(LV_OPTION_SOFTTIMER);
    EXPECT_EQ(GetPlatformOptionFlags(), LV_OPTION_SOFTTIMER);
    lvTimeVal tv = Now();
    EXPECT_EQ(tv.seconds, 3723u);
    EXPECT_EQ(tv.microseconds, 456000u);
    EXPECT_NEAR(GetEpochSeconds(0), 3723.456, 1e-6);
    EXPECT_NEAR(GetEpochSeconds(1), 1700000000.25, 1e-6);
    // Past the 49.7 days where a 32-bit millisecond count wraps.
    fakeUptimeMillis = 60LL * 86400 * 1000 + 7;
    tv = Now();
    EXPECT_EQ(tv.seconds, 60u * 86400);
    EXPECT_EQ(tv.microseconds, 7000u);
    SetPlatformOptionFlags(0);
    EXPECT_EQ(Now().seconds, 1700000000u);
}

// ---- The system's clock ---------------------------------------------------------------

TEST(SystemClock, ReadsWallTimeAndNeverGoesBack)
{
    InitClockBase();
    lvTimeVal first;
    GetTimeVal(&first);
    time_t wall = time(nullptr);
    EXPECT_LE(std::llabs((long long)first.seconds - (long long)wall), 2);
    EXPECT_LT(first.microseconds, 1000000u);
    lvTimeVal previous = first;
    for (int i = 0; i < 10000; i++) {
        lvTimeVal tv;
        GetTimeVal(&tv);
        ASSERT_LE(CmpTimeVal(&previous, &tv), 0);
        previous = tv;
    }
    EXPECT_NEAR(GetEpochSeconds(1), (double)time(nullptr), 2.0);
}

TEST(SystemClock, SleepWaitsAtLeastTheTimeAsked)
{
    InitClockBase();
    lvTimeVal before, after;
    GetTimeVal(&before);
    SleepMilliseconds(30);
    GetTimeVal(&after);
    SubTimeVal(&after, &before);
    uint64_t micros = (uint64_t)after.seconds * 1000000 + after.microseconds;
    EXPECT_GE(micros, 30000u);
    EXPECT_LT(micros, 2000000u);
}
