// lib_time.cpp - the commands of the "time" library: waits that keep serving events,
// current dates and times, date strings "dd-Mon-yyyy hh:mm:ss" and their conversions,
// timestamps, and timers. Each command reads its arguments and calls one function of
// libs/time_engine.h; the waits sleep through the event loop (SleepWithEvents), so
// intervals and other event callbacks run while a script waits.
// Dependencies: vm/lvvm.h, libs/time_engine.h, platform/lvplatform.h (events, time zone).
#include <vector>

#include "libs/lib_core2.h"
#include "libs/math_engine.h"
#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/libtable.h"

// ---- Waiting ----------------------------------------------------------------------------------

// Sleeps while serving events; long waits are cut into pieces the platform call takes.
static int SleepServingEvents(void *state, int64_t milliseconds)
{
    while (milliseconds > 0) {
        int32_t piece = milliseconds > INT32_MAX ? INT32_MAX : static_cast<int32_t>(milliseconds);
        int code = SleepWithEvents(state, piece);
        if (code) return code;
        milliseconds -= piece;
    }
    return 0;
}

static int CmdWait(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    double time = CheckNumberArg(L, 1);
    int unit = NumberToS32(GetOptionalNumberArg(L, 2, TIMEUNIT_TICKS));
    return SleepServingEvents(L, WaitMilliseconds(time, unit));
}

static int CmdSleep(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return SleepServingEvents(L, NumberToInt64(CheckNumberArg(L, 1)));
}

// ---- Current date and time --------------------------------------------------------------------------

static int CmdGetDate(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    char text[256];
    int code = GetDateText(NumberToS32(GetOptionalNumberArg(L, 1, DATEKIND_LOCALNATIVE)), text, sizeof text);
    if (code) return code;
    PushString(L, text);
    return 1;
}

static int CmdGetTime(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    char text[64];
    int code = GetTimeText(NumberToS32(GetOptionalNumberArg(L, 1, 0)) != 0, text, sizeof text);
    if (code) return code;
    PushString(L, text);
    return 1;
}

static int CmdGetWeekday(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    char text[256];
    int code = GetWeekdayText(text, sizeof text);
    if (code) return code;
    PushString(L, text);
    return 1;
}

static int CmdGetDateNum(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, GetDateNumber(NumberToS32(CheckNumberArg(L, 1))));
    return 1;
}

// ---- Date strings -----------------------------------------------------------------------------------

static int PushDateResult(lvState *L, int code, const char *text)
{
    if (code) return code;
    PushString(L, text);
    return 1;
}

static int CmdCompareDates(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    const char *a = CheckStringArg(L, 1, nullptr);
    const char *b = CheckStringArg(L, 2, nullptr);
    int dateOnly = NumberToS32(GetOptionalNumberArg(L, 3, 0)) != 0;
    int result = 0;
    int code = CompareDateStrings(a, b, dateOnly, &result);
    if (code) return code;
    PushNumber(L, result);
    return 1;
}

static int CmdGetTimestamp(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    PushNumber(L, GetTimestamp(NumberToS32(GetOptionalNumberArg(L, 1, TIMESTAMP_START))));
    return 1;
}

static int CmdTimestampToDate(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    double t = CheckNumberArg(L, 1);
    int kind = NumberToS32(GetOptionalNumberArg(L, 2, TIMESTAMP_START));
    char text[LV_DATE_BUFFER];
    return PushDateResult(L, TimestampToDateString(t, kind, text, sizeof text), text);
}

static int CmdDateToTimestamp(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *date = CheckStringArg(L, 1, nullptr);
    int daylight = NumberToS32(GetOptionalNumberArg(L, 2, -1));
    double seconds = 0;
    int code = DateStringToTimestamp(date, daylight, &seconds);
    if (code) return code;
    PushNumber(L, seconds);
    return 1;
}

static int CmdParseDate(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvParsedDate date;
    int code = ParseDateFields(CheckStringArg(L, 1, nullptr), &date);
    if (code) return code;
    PushNewTable(L);
    SetFieldNumber(L, "mday", date.mday);
    SetFieldNumber(L, "mon", date.mon);
    SetFieldNumber(L, "year", date.year);
    SetFieldNumber(L, "hour", date.hour);
    SetFieldNumber(L, "min", date.min);
    SetFieldNumber(L, "sec", date.sec);
    SetFieldNumber(L, "wday", date.wday);
    SetFieldNumber(L, "yday", date.yday);
    return 1;
}

static int CmdMakeDate(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    static const char *const names[6] = {"mday", "mon", "year", "hour", "min", "sec"};
    double values[6] = {0};
    int present[6] = {0};
    for (int i = 0; i < 6; i++) GetFieldNumber(L, 1, names[i], &values[i], &present[i]);
    char text[LV_DATE_BUFFER];
    return PushDateResult(L, MakeDateString(values, present, text, sizeof text), text);
}

static int CmdGetTimeZone(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    int daylight = 0;
    int bias = GetTimeZoneBias(&daylight);
    PushNumber(L, bias);
    PushNumber(L, daylight);
    return 2;
}

static int CmdDateToUTC(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *date = CheckStringArg(L, 1, nullptr);
    int daylight = NumberToS32(GetOptionalNumberArg(L, 2, -1));
    char text[LV_DATE_BUFFER];
    return PushDateResult(L, DateStringToUtc(date, daylight, text, sizeof text), text);
}

static int CmdUTCToDate(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    char text[LV_DATE_BUFFER];
    return PushDateResult(L, UtcStringToDate(CheckStringArg(L, 1, nullptr), text, sizeof text), text);
}

static int CmdValidateDate(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    PushNumber(L, ValidateDateString(CheckStringArg(L, 1, nullptr)));
    return 1;
}

// ---- Timers -------------------------------------------------------------------------------------------

static int CmdStartTimer(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    bool useHandle = isNil != 0;
    int64_t elapse = NumberToInt64(GetOptionalNumberArg(L, 2, 0));
    lvTimer *timer = nullptr;
    int code = StartTimer(number, useHandle, elapse, &timer);
    if (code) return code;
    if (!useHandle) return 0;
    PushPointer(L, timer->header.handle);
    return 1;
}

static int CmdStopTimer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return StopTimer(GetObjectIdArg(L, 1));
}

static int CmdGetTimer(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    double ms = 0;
    int code = GetTimerValue(GetObjectIdArg(L, 1), &ms);
    if (code) return code;
    PushNumber(L, ms);
    return 1;
}

static int CmdPauseTimer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return PauseTimer(GetObjectIdArg(L, 1));
}

static int CmdResumeTimer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return ResumeTimer(GetObjectIdArg(L, 1));
}

static int CmdResetTimer(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    return ResetTimer(id, NumberToInt64(GetOptionalNumberArg(L, 2, 0)));
}

static int CmdTimerElapsed(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int reset = NumberToS32(GetOptionalNumberArg(L, 2, 1)) != 0;
    int elapsed = 0;
    int code = TimerElapsed(id, reset, &elapsed);
    if (code) return code;
    PushNumber(L, elapsed);
    return 1;
}

static int CmdSetTimerElapse(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int64_t elapse = NumberToInt64(CheckNumberArg(L, 2));
    int reset = NumberToS32(GetOptionalNumberArg(L, 3, 1)) != 0;
    return SetTimerElapse(id, elapse, reset);
}

static int CmdWaitTimer(lvState *L)
{
    CheckArgCount(L, 0, 3, 0, 0);
    int top = GetStackTop(L);
    if (top >= 1 && GetValueType(L, 1) != LV_TTABLE && GetValueType(L, 1) != LV_TNIL) {
        lvObjectId id = GetObjectIdArg(L, 1);
        int64_t time = NumberToInt64(GetOptionalNumberArg(L, 2, -1));
        int reset = NumberToS32(GetOptionalNumberArg(L, 3, 1)) != 0;
        return WaitTimer(id, time, reset, SleepServingEvents, L);
    }
    std::vector<lvObjectId> ids;
    int reset = NumberToS32(GetOptionalNumberArg(L, 2, 1)) != 0;
    if (top >= 1 && GetValueType(L, 1) == LV_TTABLE) {
        for (int i = 0;; i++) {
            GetTableItemRaw(L, 1, i);
            if (GetValueType(L, -1) == LV_TNIL) break;
            ids.push_back(GetObjectIdArg(L, GetStackTop(L)));
            SetStackTop(L, -2);
        }
        SetStackTop(L, top);
    }
    std::vector<lvObjectId> fired;
    int code = WaitTimers(ids.data(), ids.size(), reset, SleepServingEvents, L, &fired);
    if (code) return code;
    PushNewTable(L);
    for (size_t i = 0; i < fired.size(); i++) {
        PushObjectId(L, fired[i]);
        SetTableItemRaw(L, -2, static_cast<int>(i));
    }
    return 1;
}

// ---- Library ------------------------------------------------------------------------------------------

static const lvCommandEntry TimeCommands[] = {
    {"Wait", CmdWait},
    {"Sleep", CmdSleep},
    {"GetDate", CmdGetDate},
    {"GetTime", CmdGetTime},
    {"GetWeekday", CmdGetWeekday},
    {"GetDateNum", CmdGetDateNum},
    {"StartTimer", CmdStartTimer},
    {"StopTimer", CmdStopTimer},
    {"GetTimer", CmdGetTimer},
    {"PauseTimer", CmdPauseTimer},
    {"ResumeTimer", CmdResumeTimer},
    {"ResetTimer", CmdResetTimer},
    {"TimerElapsed", CmdTimerElapsed},
    {"SetTimerElapse", CmdSetTimerElapse},
    {"WaitTimer", CmdWaitTimer},
    {"CompareDates", CmdCompareDates},
    {"GetTimestamp", CmdGetTimestamp},
    {"TimestampToDate", CmdTimestampToDate},
    {"DateToTimestamp", CmdDateToTimestamp},
    {"ParseDate", CmdParseDate},
    {"MakeDate", CmdMakeDate},
    {"GetTimeZone", CmdGetTimeZone},
    {"DateToUTC", CmdDateToUTC},
    {"UTCToDate", CmdUTCToDate},
    {"ValidateDate", CmdValidateDate},
    {nullptr, nullptr},
};

const lvCommandEntry *GetTimeCommands(void) { return TimeCommands; }

static const lvConstantEntry TimeConstants[] = {
    {"TIMER", nullptr, LV_OBJECT_TIMER},
    {"ATTRELAPSE", nullptr, TIMER_ATTRELAPSE},
    {"SECONDS", nullptr, TIMEUNIT_SECONDS},
    {"MILLISECONDS", nullptr, TIMEUNIT_MILLISECONDS},
    {"TICKS", nullptr, TIMEUNIT_TICKS},
    {"DATEYEAR", nullptr, DATENUM_YEAR},
    {"DATEMONTH", nullptr, DATENUM_MONTH},
    {"DATEDAY", nullptr, DATENUM_DAY},
    {"DATETIME", nullptr, DATENUM_TIME},
    {"DATELOCALNATIVE", nullptr, DATEKIND_LOCALNATIVE},
    {"DATELOCAL", nullptr, DATEKIND_LOCAL},
    {"DATEUTC", nullptr, DATEKIND_UTC},
    {"TIMESTAMP_START", nullptr, TIMESTAMP_START},
    {"TIMESTAMP_UNIX", nullptr, TIMESTAMP_UNIX},
    {"TIMESTAMP_RAW", nullptr, TIMESTAMP_RAW},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetTimeConstants(void) { return TimeConstants; }

// GetAttribute of a timer: its elapse threshold.
static int TimerAttribute(lvState *L, int attribute, lvObjectId id)
{
    double value = 0;
    int code = GetTimerAttribute(id, attribute, &value);
    if (code) return code;
    PushNumber(L, value);
    return 1;
}

int OpenTimeLibrary(lvState *L)
{
    int code = RegisterTimerType(TimerAttribute);
    if (code) return code;
    // SetObjectData's references on a timer go with the timer.
    lvRefOps refs = MakeRegistryRefOps(L);
    SetTimerRefOps(&refs);
    SetLibraryCloseStep("timers", CloseTimeLibrary);
    return RegisterCommandTable(L, TimeCommands, "time");
}

void CloseTimeLibrary(lvState *, int) { FreeAllTimers(); }
