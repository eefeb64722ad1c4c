// Language and country tables, the user's language from the environment, and
// catalogs: the text form with its comments and escapes, the IFF form with
// ISO-8859-1 texts, the folder search by English and native names, damaged files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core4_support.h"
#include "libs/catalog_engine.h"
#include "libs/langtables.h"
#include "platform/lvplatform.h"
#include "runtime/encoding.h"

namespace {

const std::string kFixtures = std::string(LV_SOURCE_DIR) + "/tests/libs/core4_fixtures";

TEST(LanguageTables, Lookups)
{
    EXPECT_EQ(LookupLanguageId("de"), 1);
    EXPECT_EQ(LookupLanguageId("DE"), 18);
    EXPECT_EQ(LookupLanguageId("nb"), 120);
    EXPECT_EQ(LookupLanguageId("zu"), 183);
    EXPECT_EQ(LookupLanguageId(""), 18);
    EXPECT_EQ(LookupCountryId("CH"), 29);
    EXPECT_EQ(LookupCountryId("CHE"), 29);
    EXPECT_EQ(LookupCountryId("UK"), 0);
    EXPECT_EQ(LookupCountryId("GB"), 0);
    EXPECT_EQ(LookupCountryId("GBR"), 0);
    EXPECT_EQ(LookupCountryId("ch"), 38);
    EXPECT_EQ(LookupCountryId("X"), 38);
    EXPECT_EQ(LookupCountryId("ZMB"), 232);
    EXPECT_EQ(FindLanguageById(18), nullptr);
    EXPECT_EQ(FindCountryById(38), nullptr);
    ASSERT_NE(FindCountryById(9), nullptr);
    EXPECT_STREQ(FindCountryById(9)->alpha3, "DEU");
    EXPECT_STREQ(FindLanguageById(1)->code, "de");
    EXPECT_STREQ(GetLanguageEnglishName(1), "german");
    EXPECT_STREQ(GetLanguageNativeName(1), "deutsch");
    EXPECT_EQ(GetLanguageNativeName(17), nullptr);
    EXPECT_STREQ(GetLanguageNativeName(14), "\xc4\x8d" "e\xc5\xa1tina");
    // Every identifier from 0 to 183 but 18 has exactly one language; 0..232 but 38 a country.
    int languages = 0, countries = 0;
    for (const lvLanguageEntry *e = GetLanguageTable(); e->code; e++) languages++;
    for (const lvCountryEntry *e = GetCountryTable(); e->alpha2; e++) countries++;
    EXPECT_EQ(languages, 183);
    EXPECT_EQ(countries, 233);
    for (int id = 0; id <= 183; id++) EXPECT_EQ(FindLanguageById(id) == nullptr, id == 18) << id;
    for (int id = 0; id <= 232; id++) EXPECT_EQ(FindCountryById(id) == nullptr, id == 38) << id;
}

struct LocaleEnv {
    LocaleEnv(const char *all, const char *messages, const char *lang)
    {
        Set("LC_ALL", all);
        Set("LC_MESSAGES", messages);
        Set("LANG", lang);
    }
    static void Set(const char *name, const char *value)
    {
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
};

TEST(LanguageTables, UserLocaleFromTheEnvironment)
{
    struct Case {
        const char *all, *messages, *lang;
        int language, country;
    };
    const Case cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", 1, 9},
        {nullptr, nullptr, "de_CH.UTF-8@euro", 1, 29},
        {nullptr, "fr_FR", "de_DE.UTF-8", 4, 11},
        {"nb_NO.UTF-8", "fr_FR", "de_DE", 120, 21},
        {"", nullptr, "en_GB.UTF-8", 0, 0},
        {nullptr, nullptr, "C.UTF-8", 0, 38},
        {nullptr, nullptr, nullptr, 0, 38},
        {nullptr, nullptr, "xx_YY", 18, 38},
    };
    for (const Case &c : cases) {
        LocaleEnv env(c.all, c.messages, c.lang);
        EXPECT_EQ(GetLanguageCode(), c.language) << (c.lang ? c.lang : "-");
        EXPECT_EQ(GetCountryCode(), c.country) << (c.lang ? c.lang : "-");
    }
    LocaleEnv reset(nullptr, nullptr, nullptr);
}

TEST(Catalog, TextFormCommentsAndEscapes)
{
    lvCatalog *c = LoadCatalogFile((kFixtures + "/Catalogs/german/app.catalog").c_str());
    ASSERT_NE(c, nullptr);
    const char *expected[] = {"Hallo", "Welt", "Eins ", "Zwei", "Fortsetzung", "A\";x\\", "\xc3\x9c" "bel"};
    ASSERT_EQ(c->strings.size(), sizeof expected / sizeof expected[0]);
    for (int i = 0; i < 7; i++) EXPECT_STREQ(LookupCatalogString(c, i, "?"), expected[i]) << i;
    EXPECT_STREQ(LookupCatalogString(c, 7, "default"), "default");
    EXPECT_STREQ(LookupCatalogString(c, -1, "default"), "default");
    EXPECT_STREQ(LookupCatalogString(nullptr, 0, "Hello"), "Hello");
    // In ISO-8859-1 the text comes converted (and stays the same text on later calls).
    SetGlobalEncoding(LV_ENCODING_LATIN1);
    const char *latin = LookupCatalogString(c, 6, "?");
    EXPECT_STREQ(latin, "\xdc" "bel");
    EXPECT_EQ(LookupCatalogString(c, 6, "?"), latin);
    SetGlobalEncoding(LV_ENCODING_UTF8);
    FreeCatalog(c);
}

TEST(Catalog, IffFormGivesUtf8)
{
    lvCatalog *c = LoadCatalogFile((kFixtures + "/Catalogs/german/iff.catalog").c_str());
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->strs, nullptr);
    const char *grosse = LookupCatalogString(c, 5, "?");
    EXPECT_STREQ(grosse, "Gr\xc3\xb6\xc3\x9f" "e");
    EXPECT_EQ(LookupCatalogString(c, 5, "?"), grosse);  // converted once
    EXPECT_STREQ(LookupCatalogString(c, 0, "?"), "Hallo");
    EXPECT_STREQ(LookupCatalogString(c, 7, "?"), "Vier");
    EXPECT_STREQ(LookupCatalogString(c, 6, "none"), "none");
    FreeCatalog(c);
}

// A copy of the IFF fixture with one entry length changed.
lvCatalog *ParseBytes(const std::string &bytes)
{
    uint8_t *data = static_cast<uint8_t *>(AllocMemory(bytes.size() + 8, 1));
    std::memcpy(data, bytes.data(), bytes.size());
    return ParseCatalog(data, bytes.size());
}

TEST(Catalog, DamagedIffFilesStayInsideTheirData)
{
    std::string iff = ReadWholeFile(kFixtures + "/Catalogs/german/iff.catalog");
    size_t strs = iff.find("STRS");
    ASSERT_NE(strs, std::string::npos);
    size_t first = strs + 8;  // id 0, then its length
    struct Case {
        uint32_t length;  // the first entry's length
        int lookup;       // the entry looked up
        const char *result;
    };
    const Case cases[] = {{0x7FFFFFF0u, 0, "default"}, {0xFFFFFFFFu, 5, "default"}, {0x30, 5, "default"},
                          {5, 5, "Gr\xc3\xb6\xc3\x9f" "e"}};
    for (const Case &c : cases) {
        std::string bytes = iff;
        for (int i = 0; i < 4; i++) bytes[first + 4 + i] = char(c.length >> (24 - 8 * i));
        lvCatalog *cat = ParseBytes(bytes);
        ASSERT_NE(cat, nullptr);
        EXPECT_STREQ(LookupCatalogString(cat, c.lookup, "default"), c.result) << c.length;
        FreeCatalog(cat);
    }
    // An empty text: the converters must not look past it for a terminator.
    {
        std::string bytes = iff;
        for (int i = 0; i < 4; i++) bytes[first + 4 + i] = 0;
        for (int i = 0; i < 8; i++) bytes[first + 8 + i] = 'x';  // no zero after the entry header
        lvCatalog *cat = ParseBytes(bytes);
        ASSERT_NE(cat, nullptr);
        EXPECT_STREQ(LookupCatalogString(cat, 0, "default"), "");
        FreeCatalog(cat);
    }
    // Cut in the middle of an entry.
    lvCatalog *cut = ParseBytes(iff.substr(0, iff.size() - 6));
    ASSERT_NE(cut, nullptr);
    EXPECT_STREQ(LookupCatalogString(cut, 7, "default"), "default");
    EXPECT_STREQ(LookupCatalogString(cut, 5, "default"), "Gr\xc3\xb6\xc3\x9f" "e");
    FreeCatalog(cut);
    // Without "CTLGFVER" or "STRS" there is no catalog; 100 bytes or less is text.
    std::string noStrs = iff;
    noStrs[strs] = 'X';
    EXPECT_EQ(ParseBytes(noStrs), nullptr);
    std::string noForm = iff;
    noForm[9] = 'X';
    EXPECT_EQ(ParseBytes(noForm), nullptr);
    lvCatalog *small = ParseBytes("FORM short\nsecond");
    ASSERT_NE(small, nullptr);
    EXPECT_STREQ(LookupCatalogString(small, 1, "?"), "second");
    FreeCatalog(small);
    EXPECT_EQ(ParseBytes("; only a comment\n  \n"), nullptr);
}

TEST(Catalog, FolderSearchByLanguage)
{
    const char *folders[] = {"/nonexistent", kFixtures.c_str()};
    {
        LocaleEnv env(nullptr, nullptr, "de_DE.UTF-8");
        lvCatalog *c = LoadCatalogFrom("app.catalog", GetLanguageCode(), folders, 2);
        ASSERT_NE(c, nullptr);
        EXPECT_STREQ(LookupCatalogString(c, 0, "Hello"), "Hallo");
        FreeCatalog(c);
        // Only under the native name.
        c = LoadCatalogFrom("other.catalog", GetLanguageCode(), folders, 2);
        ASSERT_NE(c, nullptr);
        EXPECT_STREQ(LookupCatalogString(c, 0, "?"), "Nur deutsch");
        EXPECT_STREQ(LookupCatalogString(c, 1, "?"), "Zweite");
        FreeCatalog(c);
        EXPECT_EQ(LoadCatalogFrom("missing.catalog", GetLanguageCode(), folders, 2), nullptr);
    }
    {
        LocaleEnv env(nullptr, nullptr, "en_US.UTF-8");
        EXPECT_EQ(LoadCatalogFrom("app.catalog", GetLanguageCode(), folders, 2), nullptr);
    }
    EXPECT_EQ(LoadCatalogFrom("app.catalog", LANGUAGE_UNKNOWN, folders, 2), nullptr);
    LocaleEnv reset(nullptr, nullptr, nullptr);
}

}  // namespace
