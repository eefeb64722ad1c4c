// time_engine.h - dates and timers of the time library, apart from its commands:
// the one date text shape "dd-Mon-yyyy hh:mm:ss", its checks and conversions, the
// timestamps, and the timer list. Each command reads its arguments, calls one
// function here and pushes the result.
//
// Dates convert through the platform's local-time rules (TZ) for times from 1970 to
// the end of the year 3000; Unix times are 64-bit everywhere. Timers run on the
// platform clock (GetTimeVal), which tests can fake. Pauses (Wait, Sleep, WaitTimer)
// are the caller's: the engine computes how long and calls a sleep function that
// keeps events flowing.
//
// Functions return 0 or an error code and write their outputs only on success.
//
// Depends on: platform/lvplatform.h (clock, date services), runtime/objects.h,
// libs/math_engine.h (integer conversions). Script thread only: no locks.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <vector>

#include "platform/lvplatform.h"
#include "runtime/objects.h"

// Object type of timers (the TIMER constant) and its attribute.
enum { LV_OBJECT_TIMER = 53, TIMER_ATTRELAPSE = 110 };

// Constants of the library.
enum { TIMEUNIT_SECONDS = 0, TIMEUNIT_MILLISECONDS = 1, TIMEUNIT_TICKS = 2 };
enum { DATENUM_YEAR = 0, DATENUM_MONTH = 1, DATENUM_DAY = 2, DATENUM_TIME = 3 };
enum { DATEKIND_LOCALNATIVE = 0, DATEKIND_LOCAL = 1, DATEKIND_UTC = 2 };
enum { TIMESTAMP_START = 0, TIMESTAMP_UNIX = 1, TIMESTAMP_RAW = 2 };

// Length of a date string and of its date-only form.
enum { LV_DATE_LENGTH = 20, LV_DATE_ONLY_LENGTH = 11, LV_DATE_BUFFER = 32 };

// "Jan" to "Dec".
extern const char *const MonthNames[12];

// The fields of a date string.
struct lvDateFields {
    int second;  // 0..59
    int minute;  // 0..59
    int hour;    // 0..23
    int day;     // day of the month
    int month;   // 0..11
    int year;    // full year
};

// ---- Date strings -----------------------------------------------------------------------

// "%.2d-%s-%d %.2d:%.2d:%.2d" of the fields.
void FormatDateFields(const lvDateFields *fields, char *buffer, size_t size);
// The current date string: kind 1 local time, 4 UTC. 0 or ERR_WRONGUSAGE / ERR_INTERNAL.
int FormatDateString(int kind, char *buffer, size_t size);
// FormatDateString(1, buffer, 256): for the dos library and the plug-in table.
void GetCurrentDateString(char *buffer);
// Reads a date string: "-" at 2 and 6, ":" at 14 and 17, day 1..31, a known month (case
// ignored), hour up to 23, minute and second below 60; year and month length unchecked.
// 1 or 0.
int ParseDateString(const char *text, lvDateFields *fields);
// ParseDateString of the current date string.
int GetCurrentDateFields(lvDateFields *fields);
// The full check: exactly 20 characters, known month, valid date (years 1 to 2999,
// Gregorian leap years) and time; with from1970 the year must be 1970 or later. Fills
// a local broken-down date with tm_isdst = daylight. 0 or ERR_INVALIDDATE.
int ParseDateTm(const char *text, struct tm *date, int daylight, int from1970);
int IsValidDate(int day, int month, int year);  // month 1..12
int IsValidTime(int hour, int minute, int second);
// 0 Sunday .. 6 Saturday (right from March 1900 to February 2100); month 1..12.
int DayOfWeek(int day, int month, int year);
// Day count used for the day of the year; month 1..12.
int64_t DayNumber(int month, int year, int day);

// ---- Commands' bodies ---------------------------------------------------------------------

// ValidateDate: 1 or 0.
int ValidateDateString(const char *text);
// CompareDates: *result 1 when a is later, 2 when earlier, 0 when equal. ERR_INVALIDDATE
// for a wrong length (11 with dateOnly, else 20) or an unknown month.
int CompareDateStrings(const char *a, const char *b, int dateOnly, int *result);
// ParseDate: the fields as read (month 1..12), with the weekday and the day of the year.
struct lvParsedDate {
    int mday, mon, year, hour, min, sec;  // as written in the text, mon 1..12
    int wday;                             // 0 Sunday .. 6 Saturday
    int yday;                             // 0 for 1 January
};
int ParseDateFields(const char *text, lvParsedDate *out);
// MakeDate from mday, mon (1..12), year, hour, min, sec in that order; a field not
// present gives ERR_WRONGUSAGE, an invalid date or time ERR_INVALIDDATE.
int MakeDateString(const double values[6], const int present[6], char *buffer, size_t size);
// DateToTimestamp: Unix time of a local date string, or -1 when it cannot be converted.
int DateStringToTimestamp(const char *text, int daylight, double *seconds);
// DateToUTC and UTCToDate. ERR_INVALIDDATE, ERR_INTERNAL when not convertible.
int DateStringToUtc(const char *text, int daylight, char *buffer, size_t size);
int UtcStringToDate(const char *text, char *buffer, size_t size);
// TimestampToDate: TIMESTAMP_START counts from the run start and gives local time;
// other kinds take Unix time (UTC). 64-bit throughout. ERR_INTERNAL when not convertible.
int TimestampToDateString(double timestamp, int kind, char *buffer, size_t size);
// GetTimestamp: seconds since the run start (high-resolution), since 1970 by the system
// clock, or since 1970 by the high-resolution clock; other kinds 0.
double GetTimestamp(int kind);
// The run start, seconds since 1970 on the high-resolution clock (start-up sets it; it
// is taken at first use otherwise).
void SetRunStartSeconds(double seconds);
double GetRunStartSeconds();

// GetDate: the short date in the user's format, or the local or UTC date string.
int GetDateText(int kind, char *buffer, size_t size);
// GetTime: local "hh:mm:ss", or "hh:mm" when withSeconds is 0.
int GetTimeText(int withSeconds, char *buffer, size_t size);
// GetWeekday: the full weekday name in the user's language.
int GetWeekdayText(char *buffer, size_t size);
// GetDateNum: year, month 1..12, day, or hhmmss as one number; other kinds 0.
double GetDateNumber(int kind);
// Wait: milliseconds for a time in a unit (truncated to an integer first; TICKS are 20 ms,
// unknown units milliseconds). 0 or less means no pause.
int64_t WaitMilliseconds(double time, int unit);

// ---- Timers --------------------------------------------------------------------------------

// One timer.
struct lvTimer {
    lvObjectHeader header;  // type 53, identifier, handle, user data, next in the timer list
    lvTimeVal start;        // clock reading at the (re)start or resume; 0 while paused
    lvTimeVal offset;       // time accumulated before start (reset value, or elapsed at a pause)
    int paused;             // 1 while paused
    int64_t elapse;         // threshold in milliseconds, 0 for none
    int waitMark;           // chosen by the WaitTimer being served
};

// Sleeps that many milliseconds while serving events; 0, or the code that ends the wait.
typedef int (*lvTimerSleepFunction)(void *user, int64_t milliseconds);

int RegisterTimerType(lvObjectAttributeFunction attribute);
// How user data references are released when timers are freed (nullptr: none).
void SetTimerRefOps(const lvRefOps *ops);
lvTimer *FindTimer(lvObjectId id);
// ERR_FINDTIMER (number as "%d") or ERR_FINDARRAY for a handle when absent.
int LookupTimer(lvObjectId id, lvTimer **timer);
// StartTimer: an existing numeric timer restarts from 0 and keeps its threshold;
// otherwise a new running timer with the threshold. Negative elapse: ERR_WRONGUSAGE.
int StartTimer(int number, bool useHandle, int64_t elapse, lvTimer **timer);
int StopTimer(lvObjectId id);
void FreeAllTimers();
// Elapsed milliseconds: the offset while paused, else now - start + offset.
int64_t GetTimerMillis(const lvTimer *timer);
int GetTimerValue(lvObjectId id, double *milliseconds);
int PauseTimer(lvObjectId id);
int ResumeTimer(lvObjectId id);
// Running again with the elapsed time set to milliseconds (negative: ERR_WRONGUSAGE).
int ResetTimer(lvObjectId id, int64_t milliseconds);
// 1 when the timer has a threshold, runs and has reached it (then restarted when reset).
int TimerElapsed(lvObjectId id, int reset, int *elapsed);
int SetTimerElapse(lvObjectId id, int64_t elapse, int reset);
int GetTimerAttribute(lvObjectId id, int attribute, double *value);
// WaitTimer(id, time, reset): time -1 means the threshold; sleeps the rest of it.
int WaitTimer(lvObjectId id, int64_t time, int reset, lvTimerSleepFunction sleep, void *user);
// WaitTimer() and WaitTimer(list, reset): waits for the first of the listed (or, with
// none listed, of all) running timers with a threshold, then gives those that reached
// it, in list order (restarted when reset).
int WaitTimers(const lvObjectId *ids, size_t count, int reset, lvTimerSleepFunction sleep, void *user,
               std::vector<lvObjectId> *fired);
