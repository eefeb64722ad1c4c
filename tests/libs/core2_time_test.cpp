// Time engine and the platform's date services: date strings, checks and
// conversions in two time zones (TZ set inside the process), timestamps past 2038,
// the current-date texts and timers, all on a fake clock.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

namespace {

// POSIX zone rules need no zone files.
const char *const ZoneBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
const char *const ZoneNewYork = "EST5EDT,M3.2.0,M11.1.0";

int64_t fakeWallMicros = 0;
int64_t fakeMonoNanos = 0;
int64_t ReadFakeWall() { return fakeWallMicros; }
int64_t ReadFakeMono() { return fakeMonoNanos; }
int64_t ReadFakeUptime() { return fakeMonoNanos / 1000000; }
const lvClockSources fakeSources = {ReadFakeWall, ReadFakeMono, ReadFakeUptime};

// Sets TZ and a fake clock for one test; puts both back afterwards.
class TimeEnv : public ::testing::Test {
protected:
    std::string savedTz;
    bool hadTz = false;

    void SetUp() override
    {
        const char *tz = getenv("TZ");
        hadTz = tz != nullptr;
        if (tz) savedTz = tz;
        SetZone("UTC0");
        SetClockSources(&fakeSources);
        SetWall(1577836800);  // 2020-01-01 00:00:00 UTC, a Wednesday
    }
    void TearDown() override
    {
        FreeAllTimers();
        SetClockSources(nullptr);
        InitClockBase();
        if (hadTz) setenv("TZ", savedTz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
    static void SetZone(const char *zone)
    {
        setenv("TZ", zone, 1);
        tzset();
    }
    // Wall clock to a Unix time; the steady clock is re-anchored there.
    static void SetWall(int64_t seconds)
    {
        fakeWallMicros = seconds * 1000000;
        fakeMonoNanos = 5000000000;
        InitClockBase();
    }
    // Both clocks move on.
    static void Advance(int64_t ms)
    {
        fakeWallMicros += ms * 1000;
        fakeMonoNanos += ms * 1000000;
    }
    static std::string Text(int (*f)(const char *, char *, size_t), const char *in, int *rc)
    {
        char out[LV_DATE_BUFFER] = "";
        *rc = f(in, out, sizeof out);
        return out;
    }
};

lvObjectId Id(int n) { return {n, nullptr}; }

}  // namespace

TEST_F(TimeEnv, ValidateDateStrings)
{
    struct { const char *text; int valid; } cases[] = {
        {"29-feb-2000 00:00:00", 1},  // month case ignored, a leap year
        {"29-Feb-1900 00:00:00", 0},  // divisible by 100, not by 400
        {"29-Feb-2004 12:00:00", 1},
        {"31-Apr-2020 10:00:00", 0},
        {"30-Apr-2020 10:00:00", 1},
        {"01-Jan-2020 00:00:0", 0},   // 19 characters
        {"01-Jan-1969 00:00:00", 1},  // valid, though before 1970
        {"01-Jan-2020 24:00:00", 0},
        {"01-Jan-2020 23:60:00", 0},
        {"01-Jxn-2020 00:00:00", 0},
        {"00-Jan-2020 00:00:00", 0},
        {"01-Dec-2999 00:00:00", 1},
        {"01-Jan-3000 00:00:00", 0},
    };
    for (auto &c : cases) EXPECT_EQ(ValidateDateString(c.text), c.valid) << c.text;
    struct tm t;
    EXPECT_EQ(ParseDateTm("01-Jan-1969 00:00:00", &t, -1, 1), ERR_INVALIDDATE);
    double ts = 0;
    EXPECT_EQ(DateStringToTimestamp("01-Jan-1969 00:00:00", -1, &ts), ERR_INVALIDDATE);
}

TEST_F(TimeEnv, CompareParseAndMake)
{
    int r = -1;
    ASSERT_EQ(CompareDateStrings("02-Jan-2020 00:00:00", "01-Jan-2020 23:59:59", 0, &r), 0);
    EXPECT_EQ(r, 1);
    ASSERT_EQ(CompareDateStrings("01-Jan-2020 23:59:59", "02-Jan-2020 00:00:00", 0, &r), 0);
    EXPECT_EQ(r, 2);
    ASSERT_EQ(CompareDateStrings("01-Jan-2020 23:59:59", "01-JAN-2020 23:59:59", 0, &r), 0);
    EXPECT_EQ(r, 0);
    ASSERT_EQ(CompareDateStrings("01-Feb-2019", "31-Jan-2020", 1, &r), 0);
    EXPECT_EQ(r, 2);
    EXPECT_EQ(CompareDateStrings("01-Jan-2020 00:00:00", "01-Jan-2020 00:00:00", 1, &r), ERR_INVALIDDATE);
    EXPECT_EQ(CompareDateStrings("01-Jan-2020", "01-Jan-2020", 0, &r), ERR_INVALIDDATE);
    EXPECT_EQ(CompareDateStrings("01-Foo-2020", "01-Jan-2020", 1, &r), ERR_INVALIDDATE);

    lvParsedDate d;
    ASSERT_EQ(ParseDateFields("01-Jan-2000 00:00:00", &d), 0);
    EXPECT_EQ(d.wday, 6);
    EXPECT_EQ(d.yday, 0);
    ASSERT_EQ(ParseDateFields("31-Dec-2000 13:14:15", &d), 0);
    EXPECT_EQ(d.yday, 365);
    EXPECT_EQ(d.wday, 0);
    EXPECT_EQ(d.mon, 12);
    EXPECT_EQ(d.hour, 13);
    EXPECT_EQ(d.sec, 15);
    ASSERT_EQ(ParseDateFields("01-Mar-2021 00:00:00", &d), 0);
    EXPECT_EQ(d.yday, 59);
    EXPECT_EQ(d.wday, 1);
    EXPECT_EQ(ParseDateFields("01-Mar-2021 00:00:0", &d), ERR_INVALIDDATE);
    // The weekday formula against the C library over its documented range.
    for (int y = 1901; y < 2100; y += 7)
        for (int m = 1; m <= 12; m++) {
            struct tm t = {};
            t.tm_mday = 13;
            t.tm_mon = m - 1;
            t.tm_year = y - 1900;
            timegm(&t);
            ASSERT_EQ(DayOfWeek(13, m, y), t.tm_wday) << y << "-" << m;
            ASSERT_EQ(DayNumber(m, y, 13) - DayNumber(1, y, 1), t.tm_yday);
        }

    char out[LV_DATE_BUFFER];
    double v[6] = {5, 3, 2021, 7, 8, 9};
    int present[6] = {1, 1, 1, 1, 1, 1};
    ASSERT_EQ(MakeDateString(v, present, out, sizeof out), 0);
    EXPECT_STREQ(out, "05-Mar-2021 07:08:09");
    v[1] = 13;
    EXPECT_EQ(MakeDateString(v, present, out, sizeof out), ERR_INVALIDDATE);
    v[1] = 3;
    present[5] = 0;
    EXPECT_EQ(MakeDateString(v, present, out, sizeof out), ERR_WRONGUSAGE);

    lvDateFields f;
    ASSERT_EQ(ParseDateString("31-feb-1999 23:59:59", &f), 1);  // the month's length is not checked
    EXPECT_EQ(f.month, 1);
    EXPECT_EQ(f.year, 1999);
    EXPECT_EQ(ParseDateString("31/Feb-1999 23:59:59", &f), 0);
    EXPECT_EQ(ParseDateString("32-Feb-1999 23:59:59", &f), 0);
}

TEST_F(TimeEnv, ConversionsInTwoZones)
{
    struct {
        const char *zone;
        const char *local;
        int64_t unix;
        const char *utc;
    } cases[] = {
        {ZoneBerlin, "01-Jan-2020 00:00:00", 1577833200, "31-Dec-2019 23:00:00"},
        {ZoneBerlin, "01-Jul-2020 12:30:00", 1593599400, "01-Jul-2020 10:30:00"},
        {ZoneNewYork, "01-Jan-2020 00:00:00", 1577854800, "01-Jan-2020 05:00:00"},
        {ZoneNewYork, "04-Jul-2040 09:15:00", 2225020500, "04-Jul-2040 13:15:00"},
    };
    for (auto &c : cases) {
        SetZone(c.zone);
        double ts = 0;
        ASSERT_EQ(DateStringToTimestamp(c.local, -1, &ts), 0);
        EXPECT_EQ(ts, double(c.unix)) << c.zone << " " << c.local;
        int rc;
        EXPECT_EQ(Text([](const char *t, char *o, size_t n) { return DateStringToUtc(t, -1, o, n); }, c.local, &rc),
                  c.utc);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(Text(UtcStringToDate, c.utc, &rc), c.local);
        EXPECT_EQ(rc, 0);
    }
    // Midnight of 1 January 1970 in Berlin lies before 1970 in UTC.
    SetZone(ZoneBerlin);
    double ts = 0;
    ASSERT_EQ(DateStringToTimestamp("01-Jan-1970 00:00:00", -1, &ts), 0);
    EXPECT_EQ(ts, -1);
    int rc;
    Text([](const char *t, char *o, size_t n) { return DateStringToUtc(t, -1, o, n); }, "01-Jan-1970 00:00:00", &rc);
    EXPECT_EQ(rc, ERR_INTERNAL);
    EXPECT_EQ(Text(UtcStringToDate, "01-Jan-1970 00:00:00", &rc), "01-Jan-1970 01:00:00");
}

TEST_F(TimeEnv, TimestampsBeyond2038)
{
    char out[LV_DATE_BUFFER];
    ASSERT_EQ(TimestampToDateString(2208988800.0, TIMESTAMP_UNIX, out, sizeof out), 0);
    EXPECT_STREQ(out, "01-Jan-2040 00:00:00");
    ASSERT_EQ(TimestampToDateString(4102444800.5, TIMESTAMP_UNIX, out, sizeof out), 0);
    EXPECT_STREQ(out, "01-Jan-2100 00:00:00");
    double ts = 0;
    ASSERT_EQ(DateStringToTimestamp("01-Jan-2040 00:00:00", -1, &ts), 0);
    EXPECT_EQ(ts, 2208988800.0);
    EXPECT_EQ(TimestampToDateString(-1, TIMESTAMP_UNIX, out, sizeof out), ERR_INTERNAL);
    EXPECT_EQ(TimestampToDateString(32535216000.0, TIMESTAMP_UNIX, out, sizeof out), ERR_INTERNAL);
    ASSERT_EQ(TimestampToDateString(32535215999.0, TIMESTAMP_UNIX, out, sizeof out), 0);
    EXPECT_STREQ(out, "31-Dec-3000 23:59:59");
    EXPECT_EQ(TimestampToDateString(0.0 / 0.0, TIMESTAMP_UNIX, out, sizeof out), ERR_INTERNAL);

    // From the run start, in local time (Berlin in winter: one hour ahead).
    SetZone(ZoneBerlin);
    SetRunStartSeconds(1577836800.25);
    ASSERT_EQ(TimestampToDateString(10, TIMESTAMP_START, out, sizeof out), 0);
    EXPECT_STREQ(out, "01-Jan-2020 01:00:10");
    ASSERT_EQ(TimestampToDateString(20.0 * 365 * 86400, TIMESTAMP_START, out, sizeof out), 0);
    EXPECT_STREQ(out, "27-Dec-2039 01:00:00");
}

TEST_F(TimeEnv, CurrentDateTexts)
{
    SetZone(ZoneBerlin);
    SetWall(1593594303);  // 2020-07-01 09:05:03 UTC, 11:05:03 in Berlin (summer time)
    int daylight = -1;
    EXPECT_EQ(GetTimeZoneBias(&daylight), -120);
    EXPECT_EQ(daylight, 1);
    char text[64];
    ASSERT_EQ(GetDateText(DATEKIND_LOCAL, text, sizeof text), 0);
    EXPECT_STREQ(text, "01-Jul-2020 11:05:03");
    ASSERT_EQ(GetDateText(DATEKIND_UTC, text, sizeof text), 0);
    EXPECT_STREQ(text, "01-Jul-2020 09:05:03");
    EXPECT_EQ(GetDateText(3, text, sizeof text), ERR_WRONGUSAGE);
    ASSERT_EQ(GetTimeText(1, text, sizeof text), 0);
    EXPECT_STREQ(text, "11:05:03");
    ASSERT_EQ(GetTimeText(0, text, sizeof text), 0);
    EXPECT_STREQ(text, "11:05");
    EXPECT_EQ(GetDateNumber(DATENUM_TIME), 110503);
    EXPECT_EQ(GetDateNumber(DATENUM_YEAR), 2020);
    EXPECT_EQ(GetDateNumber(DATENUM_MONTH), 7);
    EXPECT_EQ(GetDateNumber(DATENUM_DAY), 1);
    EXPECT_EQ(GetDateNumber(9), 0);
    lvDateFields f;
    ASSERT_EQ(GetCurrentDateFields(&f), 1);
    EXPECT_EQ(f.hour, 11);
    EXPECT_EQ(f.month, 6);

    SetZone(ZoneNewYork);
    SetWall(1578042000);  // 2020-01-03 09:00:00 UTC, 04:00 in New York
    EXPECT_EQ(GetTimeZoneBias(&daylight), 300);
    EXPECT_EQ(daylight, 0);
    SetWall(1578040000 + 0);  // 08:26:40 UTC: 03:26:40
    EXPECT_EQ(GetDateNumber(DATENUM_TIME), 32640);
    SetZone("UTC0");
    EXPECT_EQ(GetTimeZoneBias(&daylight), 0);
    EXPECT_EQ(daylight, 0);

    // Locale texts need the user's locale: only check they are there.
    ASSERT_EQ(GetWeekdayText(text, sizeof text), 0);
    EXPECT_GT(strlen(text), 0u);
    ASSERT_EQ(GetDateText(DATEKIND_LOCALNATIVE, text, sizeof text), 0);
    EXPECT_GT(strlen(text), 0u);
}

TEST_F(TimeEnv, TimestampsAndWaitUnits)
{
    SetRunStartSeconds(GetEpochSeconds(0));
    Advance(1500);
    EXPECT_DOUBLE_EQ(GetTimestamp(TIMESTAMP_START), 1.5);
    EXPECT_DOUBLE_EQ(GetTimestamp(TIMESTAMP_UNIX), 1577836801.5);
    EXPECT_DOUBLE_EQ(GetTimestamp(TIMESTAMP_RAW), 1577836801.5);
    EXPECT_EQ(GetTimestamp(7), 0);
    EXPECT_EQ(WaitMilliseconds(1, TIMEUNIT_TICKS), 20);
    EXPECT_EQ(WaitMilliseconds(1, TIMEUNIT_SECONDS), 1000);
    EXPECT_EQ(WaitMilliseconds(0.9, TIMEUNIT_SECONDS), 0);
    EXPECT_EQ(WaitMilliseconds(250, TIMEUNIT_MILLISECONDS), 250);
    EXPECT_EQ(WaitMilliseconds(250, 42), 250);
    EXPECT_EQ(WaitMilliseconds(-3, TIMEUNIT_SECONDS), 0);
}

namespace {
// A sleep that moves the fake clocks and records how long it was asked to sleep.
struct SleepLog {
    std::vector<int64_t> slept;
    int result = 0;
    int stopTimer = 0;  // a callback during the sleep stops this timer
};
int FakeSleep(void *user, int64_t ms)
{
    auto *log = static_cast<SleepLog *>(user);
    log->slept.push_back(ms);
    fakeWallMicros += ms * 1000;
    fakeMonoNanos += ms * 1000000;
    if (log->stopTimer) StopTimer({log->stopTimer, nullptr});
    return log->result;
}
double Millis(int n)
{
    double v = -1;
    EXPECT_EQ(GetTimerValue({n, nullptr}, &v), 0);
    return v;
}
}  // namespace

TEST_F(TimeEnv, TimersPauseResumeAndThresholds)
{
    ASSERT_EQ(StartTimer(1, false, 0, nullptr), 0);
    Advance(500);
    EXPECT_EQ(Millis(1), 500);
    ASSERT_EQ(PauseTimer(Id(1)), 0);
    Advance(300);
    EXPECT_EQ(Millis(1), 500);
    ASSERT_EQ(PauseTimer(Id(1)), 0);  // already paused: nothing
    Advance(100);
    EXPECT_EQ(Millis(1), 500);
    ASSERT_EQ(ResumeTimer(Id(1)), 0);
    Advance(250);
    EXPECT_EQ(Millis(1), 750);
    ASSERT_EQ(ResumeTimer(Id(1)), 0);  // running: nothing
    EXPECT_EQ(Millis(1), 750);
    ASSERT_EQ(ResetTimer(Id(1), 40), 0);
    Advance(2);
    EXPECT_EQ(Millis(1), 42);
    EXPECT_EQ(ResetTimer(Id(1), -1), ERR_WRONGUSAGE);

    // No threshold: never elapsed.
    int elapsed = -1;
    ASSERT_EQ(TimerElapsed(Id(1), 1, &elapsed), 0);
    EXPECT_EQ(elapsed, 0);
    // Restarting a numeric timer keeps its threshold.
    lvTimer *two = nullptr;
    ASSERT_EQ(StartTimer(2, false, 50, &two), 0);
    Advance(30);
    ASSERT_EQ(StartTimer(2, false, 100, nullptr), 0);
    EXPECT_EQ(two->elapse, 50);
    EXPECT_EQ(Millis(2), 0);
    Advance(49);
    ASSERT_EQ(TimerElapsed(Id(2), 1, &elapsed), 0);
    EXPECT_EQ(elapsed, 0);
    Advance(1);
    ASSERT_EQ(TimerElapsed(Id(2), 0, &elapsed), 0);
    EXPECT_EQ(elapsed, 1);
    EXPECT_EQ(Millis(2), 50);  // not reset
    ASSERT_EQ(TimerElapsed(Id(2), 1, &elapsed), 0);
    EXPECT_EQ(elapsed, 1);
    EXPECT_EQ(Millis(2), 0);
    Advance(60);
    ASSERT_EQ(PauseTimer(Id(2)), 0);
    ASSERT_EQ(TimerElapsed(Id(2), 1, &elapsed), 0);
    EXPECT_EQ(elapsed, 0);  // paused
    ASSERT_EQ(SetTimerElapse(Id(2), 10, 1), 0);
    EXPECT_EQ(Millis(2), 0);
    double attr = 0;
    ASSERT_EQ(GetTimerAttribute(Id(2), TIMER_ATTRELAPSE, &attr), 0);
    EXPECT_EQ(attr, 10);
    EXPECT_EQ(GetTimerAttribute(Id(2), 57, &attr), ERR_UNKNOWNATTR);
    EXPECT_EQ(SetTimerElapse(Id(2), -1, 1), ERR_WRONGUSAGE);
    EXPECT_EQ(StartTimer(3, false, -1, nullptr), ERR_WRONGUSAGE);

    lvTimer *h = nullptr;
    ASSERT_EQ(StartTimer(0, true, 0, &h), 0);
    lvObjectId handle = {0, h};
    ASSERT_EQ(StopTimer(handle), 0);
    EXPECT_EQ(StopTimer(handle), ERR_FINDARRAY);
    EXPECT_EQ(StopTimer(Id(9)), ERR_FINDTIMER);
    EXPECT_EQ(GetErrorState()->numberArg, 9);
}

TEST_F(TimeEnv, WaitTimerForms)
{
    SleepLog log;
    ASSERT_EQ(StartTimer(1, false, 100, nullptr), 0);
    Advance(30);
    ASSERT_EQ(WaitTimer(Id(1), -1, 1, FakeSleep, &log), 0);
    EXPECT_EQ(log.slept, (std::vector<int64_t>{70}));
    EXPECT_EQ(Millis(1), 0);
    ASSERT_EQ(WaitTimer(Id(1), 20, 0, FakeSleep, &log), 0);
    EXPECT_EQ(Millis(1), 20);
    EXPECT_EQ(WaitTimer(Id(1), -5, 1, FakeSleep, &log), ERR_WRONGUSAGE);
    ASSERT_EQ(PauseTimer(Id(1)), 0);
    EXPECT_EQ(WaitTimer(Id(1), -1, 1, FakeSleep, &log), ERR_WRONGUSAGE);
    ASSERT_EQ(ResumeTimer(Id(1)), 0);
    log.result = ERR_USERABORT;
    EXPECT_EQ(WaitTimer(Id(1), 50, 1, FakeSleep, &log), ERR_USERABORT);
    log.result = 0;
    // A callback that stops the timer during the wait.
    log.stopTimer = 1;
    EXPECT_EQ(WaitTimer(Id(1), 500, 1, FakeSleep, &log), 0);
    EXPECT_EQ(FindTimer(Id(1)), nullptr);
    log.stopTimer = 0;

    // The list form: the first to reach its threshold ends the wait.
    log.slept.clear();
    std::vector<lvObjectId> fired;
    ASSERT_EQ(WaitTimers(nullptr, 0, 1, FakeSleep, &log, &fired), 0);
    EXPECT_TRUE(fired.empty());
    EXPECT_TRUE(log.slept.empty());
    ASSERT_EQ(StartTimer(1, false, 100, nullptr), 0);
    ASSERT_EQ(StartTimer(2, false, 40, nullptr), 0);
    ASSERT_EQ(StartTimer(3, false, 0, nullptr), 0);   // no threshold: never waited for
    ASSERT_EQ(StartTimer(4, false, 40, nullptr), 0);
    ASSERT_EQ(PauseTimer(Id(4)), 0);                   // paused: never waited for
    ASSERT_EQ(WaitTimers(nullptr, 0, 1, FakeSleep, &log, &fired), 0);
    EXPECT_EQ(log.slept, (std::vector<int64_t>{40}));
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].number, 2);
    EXPECT_EQ(Millis(2), 0);
    EXPECT_EQ(Millis(1), 40);

    lvObjectId only[] = {Id(1)};
    ASSERT_EQ(WaitTimers(only, 1, 0, FakeSleep, &log, &fired), 0);
    EXPECT_EQ(log.slept.back(), 60);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0].number, 1);
    EXPECT_EQ(Millis(1), 100);  // not reset
    // Both reached: listed in list order, no sleep needed for the one already due.
    Advance(40);
    size_t sleeps = log.slept.size();
    lvObjectId both[] = {Id(2), Id(1)};
    ASSERT_EQ(WaitTimers(both, 2, 1, FakeSleep, &log, &fired), 0);
    EXPECT_EQ(log.slept.size(), sleeps);
    ASSERT_EQ(fired.size(), 2u);
    EXPECT_EQ(fired[0].number, 1);
    EXPECT_EQ(fired[1].number, 2);
    lvObjectId missing[] = {Id(1), Id(77)};
    EXPECT_EQ(WaitTimers(missing, 2, 1, FakeSleep, &log, &fired), ERR_FINDTIMER);
    lvObjectId unmarked[] = {Id(3)};
    ASSERT_EQ(WaitTimers(unmarked, 1, 1, FakeSleep, &log, &fired), 0);
    EXPECT_TRUE(fired.empty());
}

TEST(PlatformLocale, RecordAndFormatTranslation)
{
    lvLocaleRecord r;
    ASSERT_EQ(ReadLocaleInfo(&r), 0);
    EXPECT_GT(strlen(r.languageName), 0u);
    EXPECT_GT(strlen(r.decimalSeparator), 0u);
    for (int i = 0; i < 7; i++) EXPECT_GT(strlen(r.dayNames[i]), 0u);
    for (int i = 0; i < 12; i++) EXPECT_GT(strlen(r.shortMonthNames[i]), 0u);
    EXPECT_EQ(strchr(r.shortDateFormat, 'T'), nullptr);
    EXPECT_EQ(std::string(r.dateTimeFormat), std::string(r.shortDateFormat) + " " + r.timeFormat);

    char out[80];
    struct { const char *in; const char *out; } posix[] = {
        {"%T", "%H:%M:%S"}, {"%a %e %b %Y", "%a %-d %b %Y"}, {"%r", "%I:%M:%S %p"},
        {"%Ey年%m月", "%y年%m月"}, {"%D", "%m/%d/%y"}, {"100%%", "100%%"}, {"%", "%"},
    };
    for (auto &c : posix) {
        TranslatePosixDateFormat(c.in, out, sizeof out);
        EXPECT_STREQ(out, c.out) << c.in;
    }
    TranslatePosixDateFormat("%T%T%T", out, 10);
    EXPECT_STREQ(out, "%H:%M:%S%");  // cut to the buffer

    struct { const char *in; int time; const char *out; } pictures[] = {
        {"dd.MM.yyyy", 0, "%d.%m.%Y"}, {"d/M/yy", 0, "%-d/%-m/%y"}, {"dddd, MMMM d, yyyy", 0, "%A, %B %-d, %Y"},
        {"h:mm tt", 1, "%-I:%M tt"},   {"HH'h'mm", 1, "%Hh%M"},     {"HH''mm", 1, "%H'%M"},
        {"H'", 1, "%-H"},              {"yyyyy", 0, "%Y"},
    };
    for (auto &c : pictures) {
        TranslateDatePicture(c.in, c.time, out, sizeof out);
        EXPECT_STREQ(out, c.out) << c.in;
    }
}

TEST(PlatformLocale, IsoCodesFromTheEnvironment)
{
    const char *saved = getenv("LC_ALL");
    std::string keep = saved ? saved : "";
    char lang[8], country[8];
    setenv("LC_ALL", "de_AT.UTF-8@euro", 1);
    GetLocaleLanguageIso(lang, sizeof lang);
    GetLocaleCountryIso(country, sizeof country);
    EXPECT_STREQ(lang, "de");
    EXPECT_STREQ(country, "AT");
    setenv("LC_ALL", "C.UTF-8", 1);
    GetLocaleLanguageIso(lang, sizeof lang);
    EXPECT_STREQ(lang, "");
    if (saved) setenv("LC_ALL", keep.c_str(), 1);
    else unsetenv("LC_ALL");
}
