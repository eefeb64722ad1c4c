// time_engine.cpp - dates, timestamps and timers (see time_engine.h).
//
// Depends on: platform/lvplatform.h (GetTimeVal, GetEpochSeconds, date services),
// runtime/objects.h, runtime/errors.h (message arguments), libs/math_engine.h.
// Limits: dates from 1970 to 3000 convert; script thread only.
#include "libs/time_engine.h"

#include <cmath>
#include <cstring>

#include "libs/math_engine.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "vm/lvvm.h"

const char *const MonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// ============================================================================
// Reading date texts
// ============================================================================

// A decimal number as atoi reads it: blanks, a sign, digits; stops at anything else.
static int ReadDecimal(const char *p)
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    int64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        if (v < 1000000000) v = v * 10 + (*p - '0');
        p++;
    }
    return int(negative ? -v : v);
}

// The month number 1..12 of a three-letter abbreviation (case ignored), or 0.
static int FindMonth(const char *p)
{
    for (int m = 0; m < 12; m++) {
        bool same = true;
        for (int i = 0; i < 3 && same; i++)
            same = p[i] && (p[i] | 0x20) == (MonthNames[m][i] | 0x20);
        if (same) return m + 1;
    }
    return 0;
}

// The fields of a date text of the given length read as numbers; the month from its
// name. false for a wrong length or an unknown month. Fields are not validated.
static bool ReadDateText(const char *text, size_t length, lvParsedDate *d)
{
    if (!text || strlen(text) != length) return false;
    int month = FindMonth(text + 3);
    if (!month) return false;
    *d = {};
    d->mday = ReadDecimal(text);
    d->mon = month;
    d->year = ReadDecimal(text + 7);
    if (length >= LV_DATE_LENGTH) {
        d->hour = ReadDecimal(text + 12);
        d->min = ReadDecimal(text + 15);
        d->sec = ReadDecimal(text + 18);
    }
    return true;
}

static bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int IsValidDate(int day, int month, int year)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 2999 || month < 1 || month > 12) return 0;
    int last = lengths[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
    return day >= 1 && day <= last;
}

int IsValidTime(int hour, int minute, int second)
{
    return hour >= 0 && hour <= 23 && minute >= 0 && minute < 60 && second >= 0 && second < 60;
}

int DayOfWeek(int day, int month, int year)
{
    static const int monthOffsets[12] = {0, 3, 3, 6, 1, 4, 6, 2, 5, 0, 3, 5};
    int b = (year - 1900) + (year - 1900) / 4;
    if ((month == 1 || month == 2) && IsLeapYear(year)) b--;
    int m = (month >= 1 && month <= 12) ? monthOffsets[month - 1] : 0;
    return (b + day + m) % 7;
}

int64_t DayNumber(int month, int year, int day)
{
    int64_t y = year + (month + 9) / 12 - 1;
    int64_t k = ((month + 9) % 12 * 306 + 5) / 10;
    return 365 * y + y / 4 - y / 100 + y / 400 + k + day - 1;
}

// ============================================================================
// Date strings
// ============================================================================

void FormatDateFields(const lvDateFields *f, char *buffer, size_t size)
{
    int m = f->month >= 0 && f->month < 12 ? f->month : 0;
    FormatString(buffer, size, "%.2d-%s-%d %.2d:%.2d:%.2d", f->day, MonthNames[m], f->year, f->hour, f->minute,
                 f->second);
}

static void FormatTmFields(const struct tm *t, char *buffer, size_t size)
{
    lvDateFields f = {t->tm_sec, t->tm_min, t->tm_hour, t->tm_mday, t->tm_mon, t->tm_year + 1900};
    FormatDateFields(&f, buffer, size);
}

int FormatDateString(int kind, char *buffer, size_t size)
{
    if (kind != DATETEXT_LOCAL && kind != DATETEXT_UTC) return ERR_WRONGUSAGE;
    char date[64], time[64];
    if (int rc = GetDateTimeText(kind, date, sizeof date, time, sizeof time)) return rc;
    // "MM-dd-yyyy" and "HH:mm:ss".
    lvDateFields f = {ReadDecimal(time + 6), ReadDecimal(time + 3), ReadDecimal(time), ReadDecimal(date + 3),
                      ReadDecimal(date) - 1, ReadDecimal(date + 6)};
    FormatDateFields(&f, buffer, size);
    return 0;
}

void GetCurrentDateString(char *buffer)
{
    if (FormatDateString(DATETEXT_LOCAL, buffer, 256)) buffer[0] = 0;
}

int ParseDateString(const char *text, lvDateFields *fields)
{
    if (!text || strlen(text) < LV_DATE_LENGTH - 1) return 0;
    if (text[2] != '-' || text[6] != '-' || text[14] != ':' || text[17] != ':') return 0;
    int month = FindMonth(text + 3);
    lvDateFields f = {ReadDecimal(text + 18), ReadDecimal(text + 15), ReadDecimal(text + 12), ReadDecimal(text),
                      month - 1, ReadDecimal(text + 7)};
    if (!month || f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 || f.minute < 0 || f.minute > 59 ||
        f.second < 0 || f.second > 59)
        return 0;
    *fields = f;
    return 1;
}

int GetCurrentDateFields(lvDateFields *fields)
{
    char text[256];
    GetCurrentDateString(text);
    return ParseDateString(text, fields);
}

int ParseDateTm(const char *text, struct tm *date, int daylight, int from1970)
{
    lvParsedDate d;
    if (!ReadDateText(text, LV_DATE_LENGTH, &d)) return ERR_INVALIDDATE;
    if (from1970 && d.year < 1970) return ERR_INVALIDDATE;
    if (!IsValidDate(d.mday, d.mon, d.year) || !IsValidTime(d.hour, d.min, d.sec)) return ERR_INVALIDDATE;
    *date = {};
    date->tm_mday = d.mday;
    date->tm_mon = d.mon - 1;
    date->tm_year = d.year - 1900;
    date->tm_hour = d.hour;
    date->tm_min = d.min;
    date->tm_sec = d.sec;
    date->tm_isdst = daylight;
    return 0;
}

// ============================================================================
// Commands' bodies: dates
// ============================================================================

int ValidateDateString(const char *text)
{
    struct tm date;
    return ParseDateTm(text, &date, -1, 0) == 0 ? 1 : 0;
}

int CompareDateStrings(const char *a, const char *b, int dateOnly, int *result)
{
    size_t length = dateOnly ? LV_DATE_ONLY_LENGTH : LV_DATE_LENGTH;
    lvParsedDate x, y;
    if (!ReadDateText(a, length, &x) || !ReadDateText(b, length, &y)) return ERR_INVALIDDATE;
    int ax[6] = {x.year, x.mon, x.mday, x.hour, x.min, x.sec};
    int bx[6] = {y.year, y.mon, y.mday, y.hour, y.min, y.sec};
    *result = 0;
    for (int i = 0; i < (dateOnly ? 3 : 6); i++) {
        if (ax[i] != bx[i]) {
            *result = ax[i] > bx[i] ? 1 : 2;
            break;
        }
    }
    return 0;
}

int ParseDateFields(const char *text, lvParsedDate *out)
{
    lvParsedDate d;
    if (!ReadDateText(text, LV_DATE_LENGTH, &d)) return ERR_INVALIDDATE;
    d.wday = DayOfWeek(d.mday, d.mon, d.year);
    d.yday = int(DayNumber(d.mon, d.year, d.mday) - DayNumber(1, d.year, 1));
    *out = d;
    return 0;
}

int MakeDateString(const double values[6], const int present[6], char *buffer, size_t size)
{
    for (int i = 0; i < 6; i++)
        if (!present[i]) return ERR_WRONGUSAGE;
    int v[6];
    for (int i = 0; i < 6; i++) v[i] = NumberToS32(values[i]);
    if (!IsValidDate(v[0], v[1], v[2]) || !IsValidTime(v[3], v[4], v[5])) return ERR_INVALIDDATE;
    lvDateFields f = {v[5], v[4], v[3], v[0], v[1] - 1, v[2]};
    FormatDateFields(&f, buffer, size);
    return 0;
}

int DateStringToTimestamp(const char *text, int daylight, double *seconds)
{
    struct tm date;
    if (int rc = ParseDateTm(text, &date, daylight, 1)) return rc;
    int64_t t;
    *seconds = LocalDateToUnixTime(&date, &t) ? double(t) : -1.0;
    return 0;
}

int DateStringToUtc(const char *text, int daylight, char *buffer, size_t size)
{
    struct tm date, utc;
    if (int rc = ParseDateTm(text, &date, daylight, 1)) return rc;
    int64_t t;
    if (!LocalDateToUnixTime(&date, &t) || !UnixTimeToUtcDate(t, &utc)) return ERR_INTERNAL;
    FormatTmFields(&utc, buffer, size);
    return 0;
}

int UtcStringToDate(const char *text, char *buffer, size_t size)
{
    struct tm date, local;
    if (int rc = ParseDateTm(text, &date, -1, 1)) return rc;
    int64_t t;
    if (!UtcDateToUnixTime(&date, &t) || !UnixTimeToLocalDate(t, &local)) return ERR_INTERNAL;
    FormatTmFields(&local, buffer, size);
    return 0;
}

// ============================================================================
// Timestamps and the current date
// ============================================================================

static double runStartSeconds = 0;  // 0 until set, or taken from start-up at the first use

void SetRunStartSeconds(double seconds) { runStartSeconds = seconds; }

// The run's start as start-up recorded it; outside a run (tests of the engine alone) the
// first use.
double GetRunStartSeconds()
{
    if (runStartSeconds == 0) runStartSeconds = GetStartupState()->startClock;
    if (runStartSeconds == 0) runStartSeconds = GetEpochSeconds(0);
    return runStartSeconds;
}

int TimestampToDateString(double timestamp, int kind, char *buffer, size_t size)
{
    // Whole seconds in 64 bits: dates after 2038 stay right.
    int64_t t = NumberToInt64(timestamp);
    if (t == INT64_MIN) return ERR_INTERNAL;
    if (kind == TIMESTAMP_START) {
        // The local date of that moment: the UTC fields of the time shifted by the bias.
        int bias = GetTimeZoneBias(nullptr);
        int64_t start = NumberToInt64(GetRunStartSeconds());
        if (t > INT64_MAX / 2 || t < INT64_MIN / 2) return ERR_INTERNAL;
        t = start - int64_t(bias) * 60 + t;
    }
    struct tm fields;
    if (!UnixTimeToUtcDate(t, &fields)) return ERR_INTERNAL;
    FormatTmFields(&fields, buffer, size);
    return 0;
}

double GetTimestamp(int kind)
{
    switch (kind) {
    case TIMESTAMP_START: return GetEpochSeconds(0) - GetRunStartSeconds();
    case TIMESTAMP_UNIX: return GetEpochSeconds(1);
    case TIMESTAMP_RAW: return GetEpochSeconds(0);
    default: return 0;
    }
}

int GetDateText(int kind, char *buffer, size_t size)
{
    switch (kind) {
    case DATEKIND_LOCALNATIVE: return GetDateTimeText(DATETEXT_SHORTDATE, buffer, size, nullptr, 0);
    case DATEKIND_LOCAL: return FormatDateString(DATETEXT_LOCAL, buffer, size);
    case DATEKIND_UTC: return FormatDateString(DATETEXT_UTC, buffer, size);
    default: return ERR_WRONGUSAGE;
    }
}

int GetTimeText(int withSeconds, char *buffer, size_t size)
{
    char text[64];
    if (int rc = GetDateTimeText(DATETEXT_TIME, text, sizeof text, nullptr, 0)) return rc;
    if (!withSeconds && strlen(text) >= 3) text[strlen(text) - 3] = 0;
    FormatString(buffer, size, "%s", text);
    return 0;
}

int GetWeekdayText(char *buffer, size_t size) { return GetDateTimeText(DATETEXT_WEEKDAY, buffer, size, nullptr, 0); }

double GetDateNumber(int kind)
{
    char date[64], time[64];
    if (GetDateTimeText(DATETEXT_LOCAL, date, sizeof date, time, sizeof time)) return 0;
    switch (kind) {
    case DATENUM_YEAR: return ReadDecimal(date + 6);
    case DATENUM_MONTH: return ReadDecimal(date);
    case DATENUM_DAY: return ReadDecimal(date + 3);
    case DATENUM_TIME: return ReadDecimal(time) * 10000 + ReadDecimal(time + 3) * 100 + ReadDecimal(time + 6);
    default: return 0;
    }
}

int64_t WaitMilliseconds(double time, int unit)
{
    int64_t t = NumberToInt64(time);
    if (t <= 0) return 0;
    int64_t factor = unit == TIMEUNIT_SECONDS ? 1000 : unit == TIMEUNIT_TICKS ? 20 : 1;
    return t > INT64_MAX / factor ? INT64_MAX : t * factor;
}

// ============================================================================
// Timers
// ============================================================================

// The library's state: the timers in creation order.
struct lvTimerLibrary {
    lvObjectHeader *head;  // first timer (lvTimer begins with its header)
    lvRefOps refOps;       // how user data references are released
};

static void ReleaseNothing(void *, int) {}
static lvTimerLibrary timerLibrary = {nullptr, {nullptr, nullptr, ReleaseNothing}};

int RegisterTimerType(lvObjectAttributeFunction attribute)
{
    return RegisterObjectType(LV_OBJECT_TIMER, "Timers", &timerLibrary.head, attribute, nullptr, 0);
}

void SetTimerRefOps(const lvRefOps *ops)
{
    timerLibrary.refOps = ops ? *ops : lvRefOps{nullptr, nullptr, ReleaseNothing};
}

static int64_t Micros(const lvTimeVal &t) { return int64_t(t.seconds) * 1000000 + t.microseconds; }

static lvTimeVal FromMillis(int64_t ms)
{
    return {uint32_t(ms / 1000), uint32_t(ms % 1000 * 1000)};
}

static lvTimeVal Now()
{
    lvTimeVal t;
    GetTimeVal(&t);
    return t;
}

// Running again from ms elapsed.
static void RestartTimer(lvTimer *timer, int64_t ms)
{
    timer->offset = FromMillis(ms);
    timer->paused = 0;
    timer->start = Now();
}

lvTimer *FindTimer(lvObjectId id)
{
    for (lvObjectHeader *h = timerLibrary.head; h; h = h->next)
        if (ObjectIdMatches(h, id)) return reinterpret_cast<lvTimer *>(h);
    return nullptr;
}

int LookupTimer(lvObjectId id, lvTimer **timer)
{
    *timer = FindTimer(id);
    if (*timer) return 0;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDTIMER;
}

int StartTimer(int number, bool useHandle, int64_t elapse, lvTimer **out)
{
    if (elapse < 0) return ERR_WRONGUSAGE;
    if (!useHandle) {
        if (lvTimer *old = FindTimer({number, nullptr})) {
            RestartTimer(old, 0);
            if (out) *out = old;
            return 0;
        }
    }
    lvTimer *timer = static_cast<lvTimer *>(AllocMemory(sizeof(lvTimer), 1));
    if (!timer) return ERR_MEM;
    InitObjectHeader(&timer->header, LV_OBJECT_TIMER, number, useHandle);
    timer->elapse = elapse;
    RestartTimer(timer, 0);
    lvObjectHeader **link = &timerLibrary.head;
    while (*link) link = &(*link)->next;
    *link = &timer->header;
    if (out) *out = timer;
    return 0;
}

static void DestroyTimer(lvTimer *timer)
{
    for (lvObjectHeader **link = &timerLibrary.head; *link; link = &(*link)->next) {
        if (*link == &timer->header) {
            *link = timer->header.next;
            break;
        }
    }
    FreeObjectUserData(&timer->header.userData, &timerLibrary.refOps);
    FreeMemory(timer);
}

int StopTimer(lvObjectId id)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    DestroyTimer(timer);
    return 0;
}

void FreeAllTimers()
{
    while (timerLibrary.head) DestroyTimer(reinterpret_cast<lvTimer *>(timerLibrary.head));
}

int64_t GetTimerMillis(const lvTimer *timer)
{
    int64_t us = Micros(timer->offset);
    if (!timer->paused) us += Micros(Now()) - Micros(timer->start);
    return us / 1000;
}

int GetTimerValue(lvObjectId id, double *milliseconds)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    *milliseconds = double(GetTimerMillis(timer));
    return 0;
}

int PauseTimer(lvObjectId id)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (!timer->paused) {
        int64_t us = Micros(Now()) + Micros(timer->offset) - Micros(timer->start);
        timer->offset = {uint32_t(us / 1000000), uint32_t(us % 1000000)};
        timer->start = {0, 0};
        timer->paused = 1;
    }
    return 0;
}

int ResumeTimer(lvObjectId id)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (timer->paused) {
        timer->paused = 0;
        timer->start = Now();
    }
    return 0;
}

int ResetTimer(lvObjectId id, int64_t milliseconds)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (milliseconds < 0) return ERR_WRONGUSAGE;
    RestartTimer(timer, milliseconds);
    return 0;
}

// Has a threshold, runs and has reached it.
static bool HasElapsed(const lvTimer *timer)
{
    return timer->elapse > 0 && !timer->paused && GetTimerMillis(timer) >= timer->elapse;
}

int TimerElapsed(lvObjectId id, int reset, int *elapsed)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    *elapsed = HasElapsed(timer) ? 1 : 0;
    if (*elapsed && reset) RestartTimer(timer, 0);
    return 0;
}

int SetTimerElapse(lvObjectId id, int64_t elapse, int reset)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (elapse < 0) return ERR_WRONGUSAGE;
    timer->elapse = elapse;
    if (reset) RestartTimer(timer, 0);
    return 0;
}

int GetTimerAttribute(lvObjectId id, int attribute, double *value)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (attribute != TIMER_ATTRELAPSE) return ERR_UNKNOWNATTR;
    *value = double(timer->elapse);
    return 0;
}

int WaitTimer(lvObjectId id, int64_t time, int reset, lvTimerSleepFunction sleep, void *user)
{
    lvTimer *timer;
    if (int rc = LookupTimer(id, &timer)) return rc;
    if (time == -1) time = timer->elapse;
    if (time < 0 || timer->paused) return ERR_WRONGUSAGE;
    int64_t rest = time - GetTimerMillis(timer);
    if (rest > 0) {
        if (int rc = sleep(user, rest)) return rc;
        // Event callbacks ran during the sleep and may have stopped the timer.
        timer = FindTimer(id);
        if (!timer) return 0;
    }
    if (reset) RestartTimer(timer, 0);
    return 0;
}

int WaitTimers(const lvObjectId *ids, size_t count, int reset, lvTimerSleepFunction sleep, void *user,
               std::vector<lvObjectId> *fired)
{
    fired->clear();
    for (lvObjectHeader *h = timerLibrary.head; h; h = h->next) reinterpret_cast<lvTimer *>(h)->waitMark = 0;
    auto waitable = [](const lvTimer *t) { return t->elapse > 0 && !t->paused; };
    for (size_t i = 0; i < count; i++) {
        lvTimer *timer;
        if (int rc = LookupTimer(ids[i], &timer)) return rc;
        if (waitable(timer)) timer->waitMark = 1;
    }
    if (count == 0)
        for (lvObjectHeader *h = timerLibrary.head; h; h = h->next) {
            lvTimer *t = reinterpret_cast<lvTimer *>(h);
            if (waitable(t)) t->waitMark = 1;
        }
    int64_t shortest = -1;
    for (lvObjectHeader *h = timerLibrary.head; h; h = h->next) {
        lvTimer *t = reinterpret_cast<lvTimer *>(h);
        if (!t->waitMark) continue;
        int64_t rest = t->elapse - GetTimerMillis(t);
        if (rest < 0) rest = 0;
        if (shortest < 0 || rest < shortest) shortest = rest;
    }
    if (shortest < 0) return 0;
    if (shortest > 0)
        if (int rc = sleep(user, shortest)) return rc;
    // Walk the list afresh: callbacks during the sleep may have changed it.
    for (lvObjectHeader *h = timerLibrary.head; h; h = h->next) {
        lvTimer *t = reinterpret_cast<lvTimer *>(h);
        if (!t->waitMark || GetTimerMillis(t) < t->elapse) continue;
        fired->push_back(GetObjectIdOf(h));
        if (reset) RestartTimer(t, 0);
    }
    return 0;
}
