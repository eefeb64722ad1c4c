// lvplatform_datetime.h - date, time and locale services of the platform layer,
// included at the end of platform/lvplatform.h.
//
// Linux implementation: platform/linux/datetime.cpp. The time zone comes from TZ
// (localtime_r, mktime, timegm); locale texts come from one locale_t made from the
// user's environment (LC_ALL, LC_TIME, LANG, ...) through strftime_l and
// nl_langinfo_l, so the process locale is never changed. "Now" is the platform
// clock's wall time (GetEpochSeconds with the system-clock flag), so tests that fake
// the clock sources fake these texts too.
//
// Texts are delivered in the script encoding (SystemToText) and cut to the caller's
// buffer. Unix times are 64-bit throughout.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

// ---- Date and time texts ----------------------------------------------------------
// Kinds of GetDateTimeText.
enum {
    DATETEXT_SHORTDATE = 0,  // the user's short date format (date buffer only)
    DATETEXT_LOCAL = 1,      // local "MM-dd-yyyy" and "HH:mm:ss" (both buffers)
    DATETEXT_TIME = 2,       // local "HH:mm:ss" (date buffer only)
    DATETEXT_WEEKDAY = 3,    // the full weekday name in the user's language (date buffer only)
    DATETEXT_UTC = 4,        // as DATETEXT_LOCAL, in UTC
};
// Fills the buffers for the current time. 0, or ERR_WRONGUSAGE for an unknown kind
// (the buffers are then empty), ERR_INTERNAL when the clock cannot be converted.
int GetDateTimeText(int kind, char *date, size_t dateSize, char *time, size_t timeSize);
// The time-zone bias in minutes (UTC = local time + bias) now; *daylight (may be
// nullptr) is 1 while daylight-saving time applies. 0 and 0 for UTC.
int GetTimeZoneBias(int *daylight);

// ---- Conversions -------------------------------------------------------------------
// Conversions succeed for times from 1970-01-01 00:00:00 UTC to the end of the year
// 3000 UTC and fail outside (return 0), as the runtime's date commands expect.
enum : int64_t { LV_LAST_CONVERTIBLE_TIME = 32535215999 };  // 3000-12-31 23:59:59 UTC
// A local broken-down date (tm_isdst 1, 0 or -1 to let the zone decide) to Unix time;
// the date's fields are normalised as mktime does. 1 on success.
int LocalDateToUnixTime(struct tm *date, int64_t *seconds);
// A UTC broken-down date to Unix time. 1 on success.
int UtcDateToUnixTime(const struct tm *date, int64_t *seconds);
// Unix time to local or UTC fields. 1 on success.
int UnixTimeToLocalDate(int64_t seconds, struct tm *date);
int UnixTimeToUtcDate(int64_t seconds, struct tm *date);

// ---- The user's locale ---------------------------------------------------------------
// The locale's two-letter language code in lower case ("de") and its country code in
// upper case ("DE"); an empty text when the locale names none (C, POSIX). The runtime
// maps them to its language and country numbers.
void GetLocaleLanguageIso(char *buffer, size_t size);
void GetLocaleCountryIso(char *buffer, size_t size);

// The user's locale as the locale library shows it. Formats use the date formatter's
// placeholders (%A %a %d %-d %B %b %m %-m %Y %y %-y %H %I %-H %-I %M %-M %S %-S %p).
struct lvLocaleRecord {
    char languageName[128];       // "German (Germany)", "English" for the C locale
    char decimalSeparator[32];    // "."
    char thousandsSeparator[32];  // "," or empty
    char currencySymbol[32];      // "$", "€"
    char dayNames[7][80];         // Sunday first
    char shortDayNames[7][80];    // Sunday first
    char monthNames[12][80];      // January first
    char shortMonthNames[12][80]; // January first
    char dateTimeFormat[160];     // short date format, a space, time format
    char longDateFormat[80];      // weekday, day, month name and year
    char shortDateFormat[80];     // "%m/%d/%y"
    char timeFormat[80];          // "%H:%M:%S"
};
// Fills the record from the user's locale. 0.
int ReadLocaleInfo(lvLocaleRecord *record);
// Rewrites a strftime format of the C library into the date formatter's placeholders:
// the composite conversions %T %R %r %D %F are spelled out, %e %k %l %h become
// %-d %-H %-I %b, and the E and O modifiers are dropped. At most size - 1 bytes.
void TranslatePosixDateFormat(const char *format, char *buffer, size_t size);
// Windows-style date pictures ("dd.MM.yyyy", "h:mm tt") in the date formatter's
// placeholders; time pictures use the time table (H h m s), date pictures the date
// table (d M y). A quoted single character is kept, a doubled quote gives a quote.
void TranslateDatePicture(const char *picture, int timePicture, char *buffer, size_t size);
