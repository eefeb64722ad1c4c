// langtables.h - the runtime's language and country identifiers and their ISO codes:
// two-letter ISO 639-1 language codes with English and native names (the names that
// catalog folders carry), ISO 3166-1 alpha-2 and alpha-3 country codes; and the
// user's language and country as identifiers, from the locale environment
// (LC_ALL, LC_MESSAGES, LANG: the first one set).
//
// Depends on nothing but the C library. Lookups are linear scans; the first match wins.
#pragma once
#include <cstddef>

struct lvLanguageEntry {
    const char *code;         // ISO 639-1, two lower-case letters; null ends the table
    const char *nativeName;   // lower-case UTF-8 name in the language itself, or null
    const char *englishName;  // lower-case English name without spaces
    int id;                   // the runtime's identifier
};

struct lvCountryEntry {
    const char *alpha2;        // ISO 3166-1 alpha-2, upper case; null ends the table
    const char *alpha3;        // ISO 3166-1 alpha-3, upper case
    int id;                    // the runtime's identifier
    const char *constantName;  // the name after "COUNTRY_"
};

enum {
    LANGUAGE_ENGLISH = 0,
    LANGUAGE_GERMAN = 1,
    LANGUAGE_UNKNOWN = 18,   // no entry
    COUNTRY_UK = 0,
    COUNTRY_UNKNOWN = 38,    // no entry
};

// The tables, each ended by an entry whose code is null (183 languages, 233 countries).
const lvLanguageEntry *GetLanguageTable();
const lvCountryEntry *GetCountryTable();

// The identifier of a two-letter code compared byte for byte, else LANGUAGE_UNKNOWN.
int LookupLanguageId(const char *code);
// Two characters: by alpha-2, otherwise by alpha-3 (byte for byte); else COUNTRY_UNKNOWN.
int LookupCountryId(const char *code);
const lvLanguageEntry *FindLanguageById(int id);
const lvCountryEntry *FindCountryById(int id);
// Null for an unknown identifier (and, for the native name, a language without one).
const char *GetLanguageEnglishName(int id);
const char *GetLanguageNativeName(int id);

// Splits a locale name "ll_CC.codeset@modifier" into its language ("ll", lower-cased)
// and country ("CC", upper-cased); either is empty when absent. Buffers: 8 bytes.
void ParseLocaleName(const char *name, char *language, char *country);
// The locale name that decides messages: LC_ALL, LC_MESSAGES or LANG, the first one
// set and not empty; "C" when none is.
const char *GetUserLocaleName();
// The user's language identifier: "C" and "POSIX" give LANGUAGE_ENGLISH, a code
// outside the table LANGUAGE_UNKNOWN.
int GetLanguageCode();
// The user's country identifier; COUNTRY_UNKNOWN when the locale names none.
int GetCountryCode();
