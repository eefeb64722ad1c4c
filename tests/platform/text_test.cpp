// Text conversions (ISO 8859-1, UTF-8, UTF-16, system text) and FormatString.
#include "platform/lvplatform.h"
#include <gtest/gtest.h>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// Runs a test body in one encoding and puts UTF-8 back afterwards.
class Encoding : public testing::Test {
protected:
    void TearDown() override { SetScriptEncoding(1); }
};

static std::u16string Wide(const char16_t *w)
{
    return w ? std::u16string(w) : std::u16string(u"<null>");
}

// ---- ISO 8859-1 <-> UTF-16 -------------------------------------------------------

TEST(Latin, ToWideBoundsAndTermination)
{
    char16_t out[8];
    // length -1: up to the terminator; bytes are zero-extended
    EXPECT_EQ(LatinToWide("A\xE9\xFF", out, -1, 8), 3);
    EXPECT_EQ(std::u16string(out), std::u16string(u"A\u00E9\u00FF"));
    // a given length stops early
    EXPECT_EQ(LatinToWide("abcdef", out, 2, 8), 2);
    EXPECT_EQ(std::u16string(out), u"ab");
    // capacity - 1 characters at most, terminated
    EXPECT_EQ(LatinToWide("abcdefghij", out, -1, 5), 4);
    EXPECT_EQ(std::u16string(out), u"abcd");
    // capacity 1: only the terminator
    out[0] = u'x';
    EXPECT_EQ(LatinToWide("abc", out, -1, 1), 0);
    EXPECT_EQ(out[0], 0);
}

TEST(Latin, FromWideSubstitutesAbove255)
{
    char out[8];
    EXPECT_EQ(WideToLatin(u"\u20ACx", out, -1, 8), 2);
    EXPECT_STREQ(out, "?x");
    // a surrogate pair is one character, so one '?'; a lone surrogate also one
    EXPECT_EQ(WideToLatin(u"a\U0001F600b\xD800", out, -1, 8), 4);
    EXPECT_STREQ(out, "a?b?");
    EXPECT_EQ(WideToLatin(u"\u00E9\u00FF\u0100", out, -1, 8), 3);
    EXPECT_STREQ(out, "\xE9\xFF?");
    EXPECT_EQ(WideToLatin(u"abcdef", out, 3, 8), 3);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(WideToLatin(u"abcdef", out, -1, 4), 3);
    EXPECT_STREQ(out, "abc");
}

// ---- Script text -> UTF-16 ------------------------------------------------------------

struct Utf8Case {
    const char *name;      // what the case shows
    const char *text;      // UTF-8 input
    const char16_t *wide;  // expected UTF-16, nullptr when the text is invalid
};

TEST_F(Encoding, Utf8ToWideTable)
{
    const Utf8Case cases[] = {
        {"empty", "", u""},
        {"ascii", "Hello", u"Hello"},
        {"two bytes", "gr\xC3\xBC\xC3\x9F", u"gr\u00FC\u00DF"},
        {"three bytes", "\xE2\x82\xAC 5", u"\u20AC 5"},
        {"four bytes make a pair", "\xF0\x9F\x98\x80!", u"\U0001F600!"},
        {"highest code point", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"last before surrogates", "\xED\x9F\xBF", u"\uD7FF"},
        {"first after surrogates", "\xEE\x80\x80", u"\uE000"},
        {"stray continuation", "a\x80z", nullptr},
        {"lead without continuation", "a\xC3", nullptr},
        {"lead then ascii", "\xC3" "a", nullptr},
        {"cut three-byte sequence", "\xE2\x82", nullptr},
        {"overlong slash", "\xC0\xAF", nullptr},
        {"overlong two-byte lead", "\xC1\xBF", nullptr},
        {"overlong three bytes", "\xE0\x80\xAF", nullptr},
        {"overlong four bytes", "\xF0\x80\x80\xAF", nullptr},
        {"encoded high surrogate", "\xED\xA0\x80", nullptr},
        {"encoded low surrogate", "\xED\xBF\xBF", nullptr},
        {"above U+10FFFF", "\xF4\x90\x80\x80", nullptr},
        {"byte F5", "\xF5\x80\x80\x80", nullptr},
        {"byte FF", "ok\xFF", nullptr},
    };
    SetScriptEncoding(1);
    for (const Utf8Case &c : cases) {
        SCOPED_TRACE(c.name);
        char16_t out[16];
        out[0] = u'#';
        int count = -1;
        int ok = TextToWide(c.text, out, 16, &count);
        char16_t *dup = DupTextToWide(c.text);
        if (c.wide) {
            EXPECT_EQ(ok, 1);
            EXPECT_EQ(std::u16string(out), std::u16string(c.wide));
            EXPECT_EQ(count, (int)std::u16string(c.wide).size() + 1);
            EXPECT_EQ(Wide(dup), std::u16string(c.wide));
            // and back again, byte for byte
            char back[32];
            EXPECT_EQ(WideToText(out, back, sizeof(back)), 1);
            EXPECT_STREQ(back, c.text);
        } else {
            EXPECT_EQ(ok, 0);
            EXPECT_EQ(out[0], 0);  // refused text leaves an empty, terminated buffer
            EXPECT_EQ(count, 0);
            EXPECT_EQ(dup, nullptr);
        }
        FreeMemory(dup);
    }
}

// Every scalar value, encoded here independently, goes to UTF-16 and back unchanged.
TEST_F(Encoding, EveryCodePointRoundTrips)
{
    SetScriptEncoding(1);
    for (uint32_t cp = 1; cp <= 0x10FFFF; cp++) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        unsigned char text[5] = {0};
        if (cp < 0x80) {
            text[0] = (unsigned char)cp;
        } else if (cp < 0x800) {
            text[0] = 0xC0 | (cp >> 6), text[1] = 0x80 | (cp & 0x3F);
        } else if (cp < 0x10000) {
            text[0] = 0xE0 | (cp >> 12), text[1] = 0x80 | ((cp >> 6) & 0x3F), text[2] = 0x80 | (cp & 0x3F);
        } else {
            text[0] = 0xF0 | (cp >> 18), text[1] = 0x80 | ((cp >> 12) & 0x3F);
            text[2] = 0x80 | ((cp >> 6) & 0x3F), text[3] = 0x80 | (cp & 0x3F);
        }
        char16_t wide[3];
        int count = 0;
        ASSERT_EQ(TextToWide((const char *)text, wide, 3, &count), 1) << std::hex << cp;
        uint32_t decoded = wide[0];
        if (cp >= 0x10000) {
            ASSERT_EQ(count, 3);
            decoded = 0x10000 + ((uint32_t)(wide[0] - 0xD800) << 10) + (wide[1] - 0xDC00);
        }
        ASSERT_EQ(decoded, cp);
        char back[5];
        ASSERT_EQ(WideToText(wide, back, sizeof(back)), 1);
        ASSERT_STREQ(back, (const char *)text) << std::hex << cp;
    }
}

TEST_F(Encoding, Utf8ToWideTruncation)
{
    SetScriptEncoding(1);
    char16_t out[8];
    int count = -1;
    // exactly fits: four characters and the terminator
    EXPECT_EQ(TextToWide("abcd", out, 5, &count), 1);
    EXPECT_EQ(count, 5);
    // one too many: refused, but the buffer holds what fitted, terminated
    EXPECT_EQ(TextToWide("abcde", out, 5, &count), 0);
    EXPECT_EQ(std::u16string(out), u"abcd");
    EXPECT_EQ(count, 0);
    // a surrogate pair is never split at the end of the buffer
    EXPECT_EQ(TextToWide("ab\xF0\x9F\x98\x80", out, 4, nullptr), 0);
    EXPECT_EQ(std::u16string(out), u"ab");
    // an invalid sequence after the cut still makes the buffer empty
    EXPECT_EQ(TextToWide("abcdef\xFF", out, 3, nullptr), 0);
    EXPECT_EQ(out[0], 0);
    // capacity 1: only the terminator; empty text fits
    EXPECT_EQ(TextToWide("a", out, 1, nullptr), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(TextToWide("", out, 1, &count), 1);
    EXPECT_EQ(count, 1);
}

TEST_F(Encoding, LatinModeAndForcedUtf8)
{
    SetScriptEncoding(0);
    EXPECT_EQ(GetScriptEncoding(), 0);
    char16_t out[16];
    int count = 0;
    // a 10-byte text into 5 characters: 4 and a terminator, count 11
    EXPECT_EQ(TextToWide("0123456789", out, 5, &count), 1);
    EXPECT_EQ(std::u16string(out), u"0123");
    EXPECT_EQ(count, 11);
    // bytes that would be invalid UTF-8 are plain characters here
    EXPECT_EQ(TextToWide("\xC3\xFF", out, 16, &count), 1);
    EXPECT_EQ(std::u16string(out), u"\u00C3\u00FF");
    char16_t *dup = DupTextToWide("\xE9t\xE9");
    EXPECT_EQ(Wide(dup), u"\u00E9t\u00E9");
    FreeMemory(dup);
    // forced UTF-8 (the runtime's own paths) decodes even in ISO 8859-1 mode
    EXPECT_EQ(TextToWideAs("\xC3\xA9", out, 16, &count, 1), 1);
    EXPECT_EQ(std::u16string(out), u"\u00E9");
    EXPECT_EQ(TextToWideAs("\xC3", out, 16, &count, 1), 0);
    dup = DupTextToWideAs("\xE2\x82\xAC", 1);
    EXPECT_EQ(Wide(dup), u"\u20AC");
    FreeMemory(dup);
}

// ---- UTF-16 -> script text --------------------------------------------------------------

TEST_F(Encoding, WideToTextBothModes)
{
    char out[16];
    SetScriptEncoding(1);
    // lone surrogates become U+FFFD, a pair one four-byte character
    EXPECT_EQ(WideToText(u"a\xDC00" u"b\xD800", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "a\xEF\xBF\xBD" "b\xEF\xBF\xBD");
    EXPECT_EQ(WideToText(u"\U0001F600", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "\xF0\x9F\x98\x80");
    // cut at a whole character: "ab" and then the euro sign does not fit in 4 bytes
    EXPECT_EQ(WideToText(u"ab\u20AC", out, 4), 0);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(WideToText(u"ab\u20AC", out, 6), 1);
    EXPECT_STREQ(out, "ab\xE2\x82\xAC");
    // nothing is written after a character that did not fit
    EXPECT_EQ(WideToText(u"\u20ACz", out, 3), 0);
    EXPECT_STREQ(out, "");
    char *dup = DupWideToText(u"x\u00E9\U0001F600");
    ASSERT_NE(dup, nullptr);
    EXPECT_STREQ(dup, "x\xC3\xA9\xF0\x9F\x98\x80");
    FreeMemory(dup);

    SetScriptEncoding(0);
    EXPECT_EQ(WideToText(u"\u00E9\u20AC", out, sizeof(out)), 1);
    EXPECT_STREQ(out, "\xE9?");
    EXPECT_EQ(WideToText(u"abcdef", out, 4), 0);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(WideToTextAs(u"\u00E9", out, sizeof(out), 1), 1);
    EXPECT_STREQ(out, "\xC3\xA9");
    dup = DupWideToText(u"\u00E9\U0001F600");
    ASSERT_NE(dup, nullptr);
    EXPECT_STREQ(dup, "\xE9?");
    FreeMemory(dup);
}

TEST_F(Encoding, AllocatingConversionsReportMemoryFailure)
{
    FailAllocMemoryAfter(0);
    EXPECT_EQ(DupTextToWide("abc"), nullptr);
    EXPECT_EQ(DupWideToText(u"abc"), nullptr);
    EXPECT_EQ(DupTextToSystem("abc", 0), nullptr);
    FailAllocMemoryAfter(-1);
}

// ---- Script text <-> system text ------------------------------------------------------------

TEST_F(Encoding, SystemTextBothModes)
{
    char out[16];
    SetScriptEncoding(0);
    EXPECT_EQ(TextToSystem("caf\xE9", out, sizeof(out), 0), 1);
    EXPECT_STREQ(out, "caf\xC3\xA9");
    // the two-byte form of é does not fit behind "caf" in 5 bytes
    EXPECT_EQ(TextToSystem("caf\xE9", out, 5, 0), 0);
    EXPECT_STREQ(out, "caf");
    EXPECT_EQ(SystemToText("caf\xC3\xA9 \xE2\x82\xAC", out, sizeof(out), 0), 1);
    EXPECT_STREQ(out, "caf\xE9 ?");
    // a name stored in ISO 8859-1 bytes on disk comes through as it stands
    EXPECT_EQ(SystemToText("caf\xE9", out, sizeof(out), 0), 1);
    EXPECT_STREQ(out, "caf\xE9");
    char *dup = DupTextToSystem("\xFC", 0);
    EXPECT_STREQ(dup, "\xC3\xBC");
    FreeMemory(dup);
    dup = DupSystemToText("\xC3\xBC", 0);
    EXPECT_STREQ(dup, "\xFC");
    FreeMemory(dup);
    // forced UTF-8 copies as it stands
    EXPECT_EQ(TextToSystem("\xC3\xBC", out, sizeof(out), 1), 1);
    EXPECT_STREQ(out, "\xC3\xBC");

    SetScriptEncoding(1);
    EXPECT_EQ(TextToSystem("ab\xE2\x82\xAC", out, sizeof(out), 0), 1);
    EXPECT_STREQ(out, "ab\xE2\x82\xAC");
    // a cut never splits a sequence
    EXPECT_EQ(TextToSystem("ab\xE2\x82\xAC", out, 5, 0), 0);
    EXPECT_STREQ(out, "ab");
    EXPECT_EQ(SystemToText("ab\xE2\x82\xAC", out, 4, 0), 0);
    EXPECT_STREQ(out, "ab");
    dup = DupSystemToText("ab\xE2\x82\xAC", 0);
    EXPECT_STREQ(dup, "ab\xE2\x82\xAC");
    FreeMemory(dup);
}

// ---- FormatString ------------------------------------------------------------------------------

TEST(FormatString, TruncatesAndMeasures)
{
    char buffer[32];
    const char *twenty = "abcdefghijklmnopqrst";
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(FormatString(buffer, 8, "%s", twenty), 20);
    EXPECT_STREQ(buffer, "abcdefg");
    EXPECT_EQ(buffer[8], '#');  // nothing beyond the size
    memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(FormatString(buffer, 0, "%s", twenty), 20);
    EXPECT_EQ(buffer[0], '#');
    EXPECT_EQ(FormatString(nullptr, 0, "%d-%s", 42, "x"), 4);
    EXPECT_EQ(FormatString(buffer, 1, "%d", 12345), 5);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(FormatString(buffer, sizeof(buffer), "%s=%d", "n", -7), 4);
    EXPECT_STREQ(buffer, "n=-7");
}

TEST(FormatString, WindowsSizePrefixes)
{
    struct {
        const char *format;   // a format with a size prefix
        int64_t value;        // its argument
        const char *expected; // the text
    } cases[] = {
        {"%I64d", INT64_MIN, "-9223372036854775808"},
        {"%I64d", 1099511627776LL, "1099511627776"},
        {"%I64u", -1, "18446744073709551615"},
        {"%I64x", 0x1234567890abLL, "1234567890ab"},
        {"%016I64X", 0xBEEFLL, "000000000000BEEF"},
        {"[%-8I64d]", 42, "[42      ]"},
        {"%%I64d=%I64d", 7, "%I64d=7"},
        {"%.3I64d", 5, "005"},
    };
    char buffer[64];
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        int n = FormatString(buffer, sizeof(buffer), c.format, c.value);
        EXPECT_STREQ(buffer, c.expected);
        EXPECT_EQ(n, (int)strlen(c.expected));
    }
    EXPECT_EQ(FormatString(buffer, sizeof(buffer), "%I32d/%I32u", -3, 4000000000u), 13);
    EXPECT_STREQ(buffer, "-3/4000000000");
    EXPECT_EQ(FormatString(buffer, sizeof(buffer), "%Iu bytes", (size_t)1 << 40), 19);
    EXPECT_STREQ(buffer, "1099511627776 bytes");
    // "I" elsewhere is plain text
    EXPECT_EQ(FormatString(buffer, sizeof(buffer), "ID %s: I64", "x"), 9);
    EXPECT_STREQ(buffer, "ID x: I64");
    // a long format takes the same road
    std::string longFormat(600, '.');
    longFormat += "%I64d";
    std::string expected(600, '.');
    expected += "-12";
    std::string big(700, 0);
    EXPECT_EQ(FormatString(&big[0], big.size(), longFormat.c_str(), (int64_t)-12), 603);
    EXPECT_STREQ(big.c_str(), expected.c_str());
}

// Makes a de_DE locale available: the system's, or one built with localedef into a
// temporary directory named by LOCPATH. Returns the locale name, or "" when impossible.
static std::string MakeGermanLocale(std::string &tempDir)
{
    for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE"}) {
        if (setlocale(LC_NUMERIC, name)) return name;
    }
    char dir[] = "/tmp/lv_locale_XXXXXX";
    if (!mkdtemp(dir)) return "";
    tempDir = dir;
    std::string command = "localedef -i de_DE -f UTF-8 " + tempDir + "/de_DE.UTF-8 >/dev/null 2>&1";
    if (system(command.c_str()) != 0 && access((tempDir + "/de_DE.UTF-8/LC_NUMERIC").c_str(), F_OK) != 0)
        return "";
    setenv("LOCPATH", dir, 1);
    if (setlocale(LC_NUMERIC, "de_DE.UTF-8")) return "de_DE.UTF-8";
    return "";
}

TEST(FormatString, IgnoresTheProcessLocale)
{
    std::string tempDir;
    std::string name = MakeGermanLocale(tempDir);
    if (name.empty()) {
        setlocale(LC_NUMERIC, "C");
        if (!tempDir.empty()) system(("rm -rf " + tempDir).c_str());
        GTEST_SKIP() << "no de_DE locale could be made";
    }
    char check[32];
    snprintf(check, sizeof(check), "%.1f", 1.5);
    char buffer[64];
    int n = FormatString(buffer, sizeof(buffer), "%.2f|%g|%e|%I64d", 1234.5, 0.25, 2.0, (int64_t)1000000);
    std::string result = buffer;
    setlocale(LC_NUMERIC, "C");
    unsetenv("LOCPATH");
    if (!tempDir.empty()) system(("rm -rf " + tempDir).c_str());
    EXPECT_STREQ(check, "1,5") << "the locale did not take effect";
    EXPECT_EQ(result, "1234.50|0.25|2.000000e+00|1000000");
    EXPECT_EQ(n, (int)result.size());
}
