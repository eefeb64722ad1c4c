// lib_locale.cpp - the locale library: catalogs, the user's language and country,
// the tables of language and country codes, the user's locale conventions and dates
// formatted in the user's locale.
//
// Depends on: libs/catalog_engine.h, libs/langtables.h, libs/time_engine.h (date
// texts), platform/lvplatform.h (ReadLocaleInfo, text conversion). Dates are formatted
// with strftime_l under a locale object made from the environment, so the process
// locale is never changed.
#include <clocale>
#include <cstring>
#include <ctime>
#include <locale.h>
#include <string>
#include <vector>

#include "libs/catalog_engine.h"
#include "libs/dos_dirs.h"
#include "libs/langtables.h"
#include "libs/lib_core4.h"
#include "runtime/cmdsupport.h"
#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"

static lvCatalog *gCurrentCatalog;  // the catalog OpenCatalog keeps for the script

// ============================================================================
// Catalogs
// ============================================================================

static int CmdOpenCatalog(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *name = CheckStringArg(L, 1, nullptr);
    // A linked catalog's tree comes as a key into the trees the preload offered; any
    // other value there names nothing and the catalog is looked for on disk.
    lvLinkedDirEntry *tree = nullptr;
    if (GetStackTop(L) >= 2 && GetValueType(L, 2) == LV_TTABLE) {
        if (PushFieldValue(L, 2, "__direntries") == LV_TPOINTER) tree = FindOfferedTree(GetUserDataPointer(L, -1));
        SetStackTop(L, -2);
    }
    FreeCatalog(gCurrentCatalog);
    gCurrentCatalog = tree ? LoadCatalogFromTree(name, GetLanguageCode(), tree)
                           : LoadCatalog(name, GetApplicationHooks()->GetProgramFolder(L));
    return 0;
}

static int CmdCloseCatalog(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    FreeCatalog(gCurrentCatalog);
    gCurrentCatalog = nullptr;
    return 0;
}

static int CmdGetCatalogString(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int id = int(CheckNumberArg(L, 1));
    const char *def = CheckStringArg(L, 2, nullptr);
    PushString(L, LookupCatalogString(gCurrentCatalog, id, def));
    return 1;
}

void *OpenPluginCatalog(lvState *L, const char *name)
{
    return LoadCatalog(name, GetApplicationHooks()->GetProgramFolder(L));
}

void ClosePluginCatalog(void *catalog) { FreeCatalog(static_cast<lvCatalog *>(catalog)); }

const char *PluginCatalogString(void *catalog, int index, const char *def)
{
    return LookupCatalogString(catalog ? static_cast<lvCatalog *>(catalog) : gCurrentCatalog, index, def);
}

void CloseLocaleLibrary(lvState *, int)
{
    FreeCatalog(gCurrentCatalog);
    gCurrentCatalog = nullptr;
}

// ============================================================================
// Languages and countries
// ============================================================================

static int CmdGetSystemLanguage(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetLanguageCode());
    return 1;
}

static int CmdGetSystemCountry(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetCountryCode());
    return 1;
}

static int CmdIsUnicode(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetGlobalEncoding() == LV_ENCODING_UTF8 ? 1 : 0);
    return 1;
}

static int CmdGetLanguageInfo(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const lvLanguageEntry *e = FindLanguageById(int(CheckNumberArg(L, 1)));
    PushNewTable(L);
    SetFieldString(L, "code", e ? e->code : "??");
    SetFieldString(L, "name", e ? e->englishName : "unknown");
    return 1;
}

static int CmdGetCountryInfo(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    const lvCountryEntry *e = FindCountryById(int(CheckNumberArg(L, 1)));
    PushNewTable(L);
    SetFieldString(L, "alpha2", e ? e->alpha2 : "??");
    SetFieldString(L, "alpha3", e ? e->alpha3 : "???");
    return 1;
}

// ============================================================================
// Locale conventions and dates
// ============================================================================

static void SetNameList(lvState *L, const char *field, const char (*names)[80], int count)
{
    PushString(L, field);
    PushNewTable(L);
    for (int i = 0; i < count; i++) {
        PushNumber(L, i);
        PushString(L, names[i]);
        SetTableValue(L, -3);
    }
    SetTableValue(L, -3);
}

static int CmdGetLocaleInfo(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvLocaleRecord *r = static_cast<lvLocaleRecord *>(AllocMemory(sizeof(lvLocaleRecord), 1));
    if (!r) return ERR_MEM;
    ReadLocaleInfo(r);
    PushNewTable(L);
    SetFieldString(L, "language", r->languageName);
    SetFieldString(L, "decimalpoint", r->decimalSeparator);
    SetFieldString(L, "thousandseparator", r->thousandsSeparator);
    SetFieldString(L, "currency", r->currencySymbol);
    SetFieldString(L, "datetimeformat", r->dateTimeFormat);
    SetFieldString(L, "timeformat", r->timeFormat);
    SetFieldString(L, "dateformat", r->longDateFormat);
    SetFieldString(L, "shortdateformat", r->shortDateFormat);
    SetNameList(L, "days", r->dayNames, 7);
    SetNameList(L, "abdays", r->shortDayNames, 7);
    SetNameList(L, "months", r->monthNames, 12);
    SetNameList(L, "abmonths", r->shortMonthNames, 12);
    FreeMemory(r);
    return 1;
}

static int CmdFormatDate(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int rc = 0;
    size_t n;
    const char *format = CheckStringArg(L, 1, &n);
    const char *date = CheckStringArg(L, 2, nullptr);
    int dst = int(GetOptionalNumberArg(L, 3, -1));
    struct tm tm {};
    if ((rc = ParseDateTm(date, &tm, dst, 0))) return rc;
    std::mktime(&tm);
    // The C library formats "%-d" and the like itself: the format goes through unchanged.
    std::string f(format, n < 255 ? n : 255);
    locale_t loc = newlocale(LC_TIME_MASK | LC_CTYPE_MASK, "", (locale_t)0);
    if (!loc) loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    char out[256];
    size_t written = loc ? strftime_l(out, sizeof out, f.c_str(), &tm, loc) : 0;
    if (loc) freelocale(loc);
    out[written] = 0;
    char text[512];
    SystemToText(out, text, sizeof text, 0);
    PushString(L, text);
    return 1;
}

// ============================================================================
// Library
// ============================================================================

static const lvCommandEntry LocaleCommands[] = {
    {"CloseCatalog", CmdCloseCatalog},
    {"FormatDate", CmdFormatDate},
    {"GetCatalogString", CmdGetCatalogString},
    {"GetCountryInfo", CmdGetCountryInfo},
    {"GetLanguageInfo", CmdGetLanguageInfo},
    {"GetLocaleInfo", CmdGetLocaleInfo},
    {"GetSystemCountry", CmdGetSystemCountry},
    {"GetSystemLanguage", CmdGetSystemLanguage},
    {"IsUnicode", CmdIsUnicode},
    {"OpenCatalog", CmdOpenCatalog},
    {nullptr, nullptr},
};

int OpenLocaleLibrary(lvState *L)
{
    RegisterLibrary(L, nullptr, LocaleCommands, 0);
    return 0;
}

// LANGUAGE_<english name> for every language, COUNTRY_<name> for every country
// identifier, and the two unknowns: 417 constants, built once from the tables.
const lvConstantEntry *GetLocaleConstants(void)
{
    static std::vector<std::string> names;
    static std::vector<lvConstantEntry> entries;
    if (!entries.empty()) return entries.data();
    std::vector<std::pair<std::string, int>> list;
    for (const lvLanguageEntry *e = GetLanguageTable(); e->code; e++) {
        std::string n = std::string("LANGUAGE_") + e->englishName;
        for (char &c : n) c = char(c >= 'a' && c <= 'z' ? c - 32 : c);
        list.push_back({n, e->id});
    }
    list.push_back({"LANGUAGE_UNKNOWN", LANGUAGE_UNKNOWN});
    for (const lvCountryEntry *e = GetCountryTable(); e->alpha2; e++) {
        std::string n = std::string("COUNTRY_") + e->constantName;
        bool seen = false;
        for (auto &p : list) seen = seen || p.first == n;
        if (!seen) list.push_back({n, e->id});
    }
    list.push_back({"COUNTRY_UNKNOWN", COUNTRY_UNKNOWN});
    names.reserve(list.size());
    for (auto &p : list) names.push_back(p.first);
    for (size_t i = 0; i < list.size(); i++) entries.push_back({names[i].c_str(), nullptr, double(list[i].second)});
    entries.push_back({nullptr, nullptr, 0});
    return entries.data();
}
