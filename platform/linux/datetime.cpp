// datetime.cpp - date, time and locale services on Linux (see lvplatform_datetime.h).
//
// Depends on: the C library (localtime_r, gmtime_r, mktime, timegm, strftime_l,
// newlocale, nl_langinfo_l), the clock (GetEpochSeconds) and text conversions of
// this layer.
// Limits: locale texts come from one locale_t built once from the environment; a
// locale whose character set is not UTF-8 is replaced by its UTF-8 twin when one is
// installed, else by C.UTF-8. The time zone is read from TZ by the C library.
#include "platform/lvplatform.h"

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <langinfo.h>
#include <locale.h>
#include <mutex>
#include <string>

#include "base/lverrors.h"

// ============================================================================
// The user's locale
// ============================================================================

namespace {

struct lvUserLocale {
    std::mutex lock;     // guards creation and reset
    locale_t locale;     // the user's locale for texts, (locale_t)0 until first use
};

lvUserLocale userLocale = {{}, (locale_t)0};

// The locale name the environment selects for a category, as setlocale would read it.
std::string EnvironmentLocaleName(const char *category)
{
    for (const char *var : {"LC_ALL", category, "LANG"}) {
        const char *v = getenv(var);
        if (v && *v) return v;
    }
    return "C";
}

bool IsUtf8Locale(locale_t loc)
{
    const char *codeset = nl_langinfo_l(CODESET, loc);
    return codeset && (!strcmp(codeset, "UTF-8") || !strcmp(codeset, "utf8"));
}

// "de_DE.ISO-8859-1@euro" -> "de_DE.UTF-8@euro".
std::string Utf8Twin(const std::string &name)
{
    size_t at = name.find('@');
    std::string modifier = at == std::string::npos ? "" : name.substr(at);
    std::string base = name.substr(0, std::min(name.find('.'), at));
    return base + ".UTF-8" + modifier;
}

locale_t UserLocale()
{
    std::lock_guard<std::mutex> guard(userLocale.lock);
    if (userLocale.locale) return userLocale.locale;
    locale_t loc = newlocale(LC_ALL_MASK, "", (locale_t)0);
    if (loc && !IsUtf8Locale(loc)) {
        freelocale(loc);
        loc = newlocale(LC_ALL_MASK, Utf8Twin(EnvironmentLocaleName("LC_TIME")).c_str(), (locale_t)0);
    }
    if (!loc) loc = newlocale(LC_ALL_MASK, "C.UTF-8", (locale_t)0);
    if (!loc) loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    userLocale.locale = loc;
    return loc;
}

// Copies UTF-8 locale text into a field in the script encoding.
void CopyLocaleText(const char *text, char *field, size_t size)
{
    if (!field || !size) return;
    SystemToText(text ? text : "", field, int(size), 0);
}

}  // namespace

// ============================================================================
// Conversions
// ============================================================================

static bool Convertible(int64_t seconds) { return seconds >= 0 && seconds <= LV_LAST_CONVERTIBLE_TIME; }

int LocalDateToUnixTime(struct tm *date, int64_t *seconds)
{
    time_t t = mktime(date);
    if (!Convertible(int64_t(t))) return 0;
    *seconds = int64_t(t);
    return 1;
}

int UtcDateToUnixTime(const struct tm *date, int64_t *seconds)
{
    struct tm copy = *date;
    time_t t = timegm(&copy);
    if (!Convertible(int64_t(t))) return 0;
    *seconds = int64_t(t);
    return 1;
}

int UnixTimeToLocalDate(int64_t seconds, struct tm *date)
{
    time_t t = time_t(seconds);
    return Convertible(seconds) && localtime_r(&t, date) ? 1 : 0;
}

int UnixTimeToUtcDate(int64_t seconds, struct tm *date)
{
    time_t t = time_t(seconds);
    return Convertible(seconds) && gmtime_r(&t, date) ? 1 : 0;
}

// ============================================================================
// Date and time texts
// ============================================================================

int GetTimeZoneBias(int *daylight)
{
    time_t now = time_t(std::floor(GetEpochSeconds(1)));
    struct tm local;
    if (daylight) *daylight = 0;
    if (!localtime_r(&now, &local)) return 0;
    if (daylight) *daylight = local.tm_isdst > 0 ? 1 : 0;
    return int(-local.tm_gmtoff / 60);
}

int GetDateTimeText(int kind, char *date, size_t dateSize, char *time, size_t timeSize)
{
    if (!date) dateSize = 0;
    if (!time) timeSize = 0;
    if (dateSize) *date = 0;
    if (timeSize) *time = 0;
    if (kind < DATETEXT_SHORTDATE || kind > DATETEXT_UTC) return ERR_WRONGUSAGE;
    time_t now = time_t(std::floor(GetEpochSeconds(1)));
    struct tm fields;
    bool ok = kind == DATETEXT_UTC ? gmtime_r(&now, &fields) != nullptr : localtime_r(&now, &fields) != nullptr;
    if (!ok) return ERR_INTERNAL;
    switch (kind) {
    case DATETEXT_SHORTDATE:
    case DATETEXT_WEEKDAY: {
        char text[256];
        locale_t loc = UserLocale();
        size_t n = loc ? strftime_l(text, sizeof text, kind == DATETEXT_WEEKDAY ? "%A" : "%x", &fields, loc) : 0;
        text[n] = 0;
        CopyLocaleText(text, date, dateSize);
        break;
    }
    case DATETEXT_TIME:
        FormatString(date, dateSize, "%.2d:%.2d:%.2d", fields.tm_hour, fields.tm_min, fields.tm_sec);
        break;
    default:
        FormatString(date, dateSize, "%.2d-%.2d-%d", fields.tm_mon + 1, fields.tm_mday, fields.tm_year + 1900);
        FormatString(time, timeSize, "%.2d:%.2d:%.2d", fields.tm_hour, fields.tm_min, fields.tm_sec);
        break;
    }
    return 0;
}

// ============================================================================
// Locale record
// ============================================================================

// Two letters from a locale name: the language before '_' or the country after it.
static void IsoFromName(const std::string &name, bool country, char *buffer, size_t size)
{
    if (!size) return;
    *buffer = 0;
    if (name == "C" || name == "POSIX" || name.rfind("C.", 0) == 0) return;
    size_t start = 0;
    if (country) {
        start = name.find('_');
        if (start == std::string::npos) return;
        start++;
    }
    size_t end = name.find_first_of("_.@", start);
    std::string part = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (part.size() < 2 || part.size() > 3) return;
    for (char &c : part) c = country ? char(toupper((unsigned char)c)) : char(tolower((unsigned char)c));
    snprintf(buffer, size, "%s", part.c_str());
}

void GetLocaleLanguageIso(char *buffer, size_t size)
{
    IsoFromName(EnvironmentLocaleName("LC_MESSAGES"), false, buffer, size);
}

void GetLocaleCountryIso(char *buffer, size_t size)
{
    IsoFromName(EnvironmentLocaleName("LC_MESSAGES"), true, buffer, size);
}

// Appends text to out while there is room for it and the terminator.
static void Append(char *out, size_t size, size_t *length, const char *text)
{
    for (; *text && *length + 1 < size; text++) out[(*length)++] = *text;
    out[*length] = 0;
}

void TranslatePosixDateFormat(const char *format, char *buffer, size_t size)
{
    if (!size) return;
    size_t n = 0;
    buffer[0] = 0;
    static const struct { char conversion; const char *text; } expansions[] = {
        {'T', "%H:%M:%S"}, {'R', "%H:%M"}, {'r', "%I:%M:%S %p"}, {'D', "%m/%d/%y"}, {'F', "%Y-%m-%d"},
        {'e', "%-d"},      {'k', "%-H"},   {'l', "%-I"},         {'h', "%b"},
    };
    for (const char *p = format; *p; p++) {
        if (*p != '%' || !p[1]) {
            char one[2] = {*p, 0};
            Append(buffer, size, &n, one);
            continue;
        }
        p++;
        if ((*p == 'E' || *p == 'O') && p[1]) p++;  // alternative-digit modifiers
        const char *text = nullptr;
        for (auto &e : expansions)
            if (e.conversion == *p) text = e.text;
        if (text) {
            Append(buffer, size, &n, text);
        } else {
            char two[3] = {'%', *p, 0};
            Append(buffer, size, &n, two);
        }
    }
}

// A long date from the locale's date-and-time format (already translated): the time
// conversions and the colons between them dropped, abbreviated names made full.
static void LongDateFromDateTime(const char *format, char *out, size_t size)
{
    std::string result;
    for (const char *p = format; *p; p++) {
        if (*p == '%' && p[1]) {
            const char *start = p;
            p++;
            if (*p == '-' && p[1]) p++;
            char c = *p;
            if (strchr("HIMSpPZz", c)) continue;
            if (c == 'a') result += "%A";
            else if (c == 'b') result += "%B";
            else result.append(start, size_t(p - start + 1));
        } else if (*p != ':') {
            if (*p == ' ' && (result.empty() || result.back() == ' ')) continue;
            result += *p;
        }
    }
    while (!result.empty() && result.back() == ' ') result.pop_back();
    snprintf(out, size, "%s", result.c_str());
}

int ReadLocaleInfo(lvLocaleRecord *record)
{
    memset(record, 0, sizeof *record);
    locale_t loc = UserLocale();
    if (!loc) {
        snprintf(record->languageName, sizeof record->languageName, "English");
        snprintf(record->decimalSeparator, sizeof record->decimalSeparator, ".");
        return 0;
    }
    std::string language = nl_langinfo_l(_NL_IDENTIFICATION_LANGUAGE, loc);
    std::string territory = nl_langinfo_l(_NL_IDENTIFICATION_TERRITORY, loc);
    if (language.empty() || language.find("ISO") != std::string::npos) language = "English";
    else if (!territory.empty() && territory.find("ISO") == std::string::npos) language += " (" + territory + ")";
    CopyLocaleText(language.c_str(), record->languageName, sizeof record->languageName);
    CopyLocaleText(nl_langinfo_l(RADIXCHAR, loc), record->decimalSeparator, sizeof record->decimalSeparator);
    CopyLocaleText(nl_langinfo_l(THOUSEP, loc), record->thousandsSeparator, sizeof record->thousandsSeparator);
    // CRNCYSTR starts with where the symbol goes: '-' before, '+' after, '.' for the radix.
    const char *currency = nl_langinfo_l(CRNCYSTR, loc);
    if (*currency == '-' || *currency == '+' || *currency == '.') currency++;
    CopyLocaleText(currency, record->currencySymbol, sizeof record->currencySymbol);

    for (int i = 0; i < 7; i++) {  // the C library's day 1 is Sunday
        CopyLocaleText(nl_langinfo_l(nl_item(DAY_1 + i), loc), record->dayNames[i], 80);
        CopyLocaleText(nl_langinfo_l(nl_item(ABDAY_1 + i), loc), record->shortDayNames[i], 80);
    }
    for (int i = 0; i < 12; i++) {
        CopyLocaleText(nl_langinfo_l(nl_item(MON_1 + i), loc), record->monthNames[i], 80);
        CopyLocaleText(nl_langinfo_l(nl_item(ABMON_1 + i), loc), record->shortMonthNames[i], 80);
    }

    char text[256];
    TranslatePosixDateFormat(nl_langinfo_l(D_FMT, loc), text, sizeof text);
    CopyLocaleText(text, record->shortDateFormat, sizeof record->shortDateFormat);
    TranslatePosixDateFormat(nl_langinfo_l(T_FMT, loc), text, sizeof text);
    CopyLocaleText(text, record->timeFormat, sizeof record->timeFormat);
    TranslatePosixDateFormat(nl_langinfo_l(D_T_FMT, loc), text, sizeof text);
    char longDate[256];
    LongDateFromDateTime(text, longDate, sizeof longDate);
    CopyLocaleText(longDate, record->longDateFormat, sizeof record->longDateFormat);
    FormatString(record->dateTimeFormat, sizeof record->dateTimeFormat, "%s %s", record->shortDateFormat,
                 record->timeFormat);
    return 0;
}

// ============================================================================
// Windows-style date pictures
// ============================================================================

// Picture tokens in matching order: the first that matches at a position wins.
struct lvPictureToken {
    const char *token;  // picture letters
    const char *text;   // the formatter's placeholder
};

static const lvPictureToken dateTokens[] = {
    {"dddd", "%A"}, {"ddd", "%a"}, {"dd", "%d"},     {"d", "%-d"},  {"MMMM", "%B"}, {"MMM", "%b"},
    {"MM", "%m"},   {"M", "%-m"},  {"yyyyy", "%Y"}, {"yyyy", "%Y"}, {"yy", "%y"},   {"y", "%-y"},
};
static const lvPictureToken timeTokens[] = {
    {"HH", "%H"}, {"hh", "%I"}, {"H", "%-H"}, {"h", "%-I"}, {"mm", "%M"}, {"m", "%-M"}, {"ss", "%S"}, {"s", "%-S"},
};

void TranslateDatePicture(const char *picture, int timePicture, char *buffer, size_t size)
{
    if (!size) return;
    const lvPictureToken *tokens = timePicture ? timeTokens : dateTokens;
    size_t count = timePicture ? std::size(timeTokens) : std::size(dateTokens);
    size_t n = 0;
    buffer[0] = 0;
    const char *p = picture;
    while (*p) {
        if (*p == '\'') {
            // A quoted single character, or a doubled quote; the text may end early.
            if (!p[1]) break;
            char one[2] = {p[1], 0};
            Append(buffer, size, &n, one);
            if (p[1] == '\'') p += 2;
            else p += p[2] ? 3 : 2;
            continue;
        }
        const lvPictureToken *match = nullptr;
        for (size_t i = 0; i < count && !match; i++)
            if (!strncmp(p, tokens[i].token, strlen(tokens[i].token))) match = &tokens[i];
        if (match) {
            Append(buffer, size, &n, match->text);
            p += strlen(match->token);
        } else {
            char one[2] = {*p, 0};
            Append(buffer, size, &n, one);
            p++;
        }
    }
}
