// Tests of the text encoding engine: ISO-8859-1 tables, UTF-8 rules, Unicode classes and
// case, comparisons, conversions, and the generated tables against a fresh generator run.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"

namespace {

// Restores UTF-8 mode after a test that switches the flag.
struct EncodingGuard {
    explicit EncodingGuard(int encoding) { SetGlobalEncoding(encoding); }
    ~EncodingGuard() {
        SetGlobalEncoding(LV_ENCODING_UTF8);
        EXPECT_EQ(GetScriptEncoding(), 1);
    }
};

bool InSpans(int c, std::initializer_list<std::pair<int, int>> spans) {
    for (auto &s : spans)
        if (c >= s.first && c <= s.second) return true;
    return false;
}

std::string Owned(char *p) {
    std::string s = p ? p : "<null>";
    FreeMemory(p);
    return s;
}

}  // namespace

// ---- ISO-8859-1 tables: every byte against the documented membership ------------------

TEST(EncodingLatin1, ClassTablesCoverEveryByte) {
    for (int c = 0; c < 256; c++) {
        SCOPED_TRACE(c);
        bool graph = InSpans(c, {{0x21, 0x7E}, {0xA1, 0xFF}});
        bool alpha = InSpans(c, {{0x41, 0x5A}, {0x61, 0x7A}, {0xC0, 0xF6}, {0xF8, 0xFF}});
        bool lower = InSpans(c, {{0x61, 0x7A}, {0xA8, 0xA8}, {0xB5, 0xB5}, {0xB8, 0xB8}, {0xBD, 0xBD},
                                 {0xDF, 0xF6}, {0xF8, 0xFF}});
        bool upper = InSpans(c, {{0x41, 0x5A}, {0xA6, 0xA6}, {0xB4, 0xB4}, {0xBC, 0xBC}, {0xBE, 0xBE},
                                 {0xC0, 0xD6}, {0xD8, 0xDE}});
        EXPECT_EQ(IsGraphLatin1(c), graph);
        EXPECT_EQ(IsAlphaLatin1(c), alpha);
        EXPECT_EQ(IsAlNumLatin1(c), alpha || (c >= '0' && c <= '9'));
        EXPECT_EQ(IsLowerLatin1(c), lower);
        EXPECT_EQ(IsUpperLatin1(c), upper);
        int lo = InSpans(c, {{0x41, 0x5A}, {0xC0, 0xD6}, {0xD8, 0xDD}}) ? c + 0x20 : c;
        int up = InSpans(c, {{0x61, 0x7A}, {0xE0, 0xF6}, {0xF8, 0xFD}}) ? c - 0x20 : c;
        EXPECT_EQ((int)ToLowerLatin1(c), lo);
        EXPECT_EQ((int)ToUpperLatin1(c), up);
    }
}

TEST(EncodingLatin1, CurrentEncodingFormsFollowTheFlag) {
    {
        EncodingGuard g(LV_ENCODING_LATIN1);
        EXPECT_EQ(ToLowerChar(0xDE), 0xDEu);
        EXPECT_EQ(ToUpperChar(0xFF), 0xFFu);
        EXPECT_EQ(ToLowerChar(0xC9), 0xE9u);
        EXPECT_TRUE(IsLowerLatin1(0xB5));
        EXPECT_FALSE(IsAlphaLatin1(0xB5));
        EXPECT_FALSE(IsAlphaChar(0x100));  // no such byte
        char buf[8];
        EXPECT_EQ(EncodeChar(buf, 0xE9), 1);
        EXPECT_EQ(std::string(buf), "\xE9");
        EXPECT_EQ(EncodeChar(buf, 0x20AC), 1);
        EXPECT_EQ(std::string(buf), "?");
        EXPECT_EQ(StrCmpNoCase("\xC9t\xC9", "\xE9T\xE9"), 0);
        EXPECT_LT(StrCmpNoCase("abc", "ABD"), 0);
        EXPECT_EQ(CollateStrings("ABC", "abc", 0), 0);
        EXPECT_NE(CollateStrings("ABC", "abc", 1), 0);
        char text[] = "Gr\xD6\xDF" "E";
        LowerStrInPlace(text);
        EXPECT_EQ(std::string(text), "gr\xF6\xDF" "e");
    }
    // UTF-8 mode: the same calls take code points.
    EXPECT_EQ(ToLowerChar(0xDE), 0xFEu);  // Thorn has a Unicode lower case
    EXPECT_EQ(ToUpperChar(0xFF), 0x178u);
    char buf[8];
    EXPECT_EQ(EncodeChar(buf, 0x20AC), 3);
    EXPECT_EQ(std::string(buf), "\xE2\x82\xAC");
}

// ---- UTF-8 ------------------------------------------------------------------------

TEST(EncodingUtf8, WellFormednessTable) {
    struct Case {
        const char *bytes;
        bool valid;
        size_t count;  // characters before the first error
    } cases[] = {
        {"\xC0\x80", false, 0},          {"\xED\xA0\x80", false, 0},    {"\xF4\x90\x80\x80", false, 0},
        {"\xEF\xBF\xBF", true, 1},       {"\xF4\x8F\xBF\xBF", true, 1}, {"a\xC3\xA9z", true, 3},
        {"ab\xE0\x9F\x80", false, 2},    {"\xF0\x8F\xBF\xBF", false, 0}, {"\xC1\xBF", false, 0},
        {"\xF5\x80\x80\x80", false, 0},  {"\x80", false, 0},           {"a\xE2\x82", false, 1},
        {"\xED\x9F\xBF", true, 1},       {"", true, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        size_t count = 99;
        EXPECT_EQ(ValidateUtf8(c.bytes, strlen(c.bytes), &count), c.valid);
        EXPECT_EQ(count, c.count);
        int invalid = -1;
        size_t n = CountValidUtf8Chars(c.bytes, &invalid);
        EXPECT_EQ(invalid, c.valid ? 0 : 1);
        EXPECT_EQ(n, c.valid ? c.count : 0u);
    }
    // A sequence cut by the given length is an error even when the text goes on.
    EXPECT_FALSE(ValidateUtf8("\xC3\xA9", 1, nullptr));
}

TEST(EncodingUtf8, EncodeAndDecodeRoundTrip) {
    char buf[8];
    EXPECT_EQ(EncodeUtf8(buf, 0x110000), 0);
    EXPECT_EQ(std::string(buf), "?");
    EXPECT_EQ(EncodeUtf8(buf, 0xD800), 1);  // surrogates are encoded as they are
    EXPECT_EQ(std::string(buf), "\xED\xA0\x80");
    for (uint32_t c : {0x0u, 0x41u, 0x7Fu, 0x80u, 0x7FFu, 0x800u, 0xFFFFu, 0x10000u, 0x10FFFFu}) {
        SCOPED_TRACE(c);
        ASSERT_EQ(EncodeUtf8(buf, c), 1);
        size_t len = c == 0 ? 1 : strlen(buf);
        uint32_t code = 99;
        EXPECT_EQ(DecodeUtf8(buf, buf + len, &code), (int)len);
        EXPECT_EQ(code, c);
        size_t pos = 0;
        if (c != 0) {
            EXPECT_EQ(NextUtf8CodePoint(buf, &pos), c);
            EXPECT_EQ(pos, len);
        }
    }
    uint32_t code = 7;
    const char *bad = "\xC3(";
    EXPECT_EQ(DecodeUtf8(bad, bad + 2, &code), 1);  // ill-formed: the byte itself
    EXPECT_EQ(code, 0xC3u);
    EXPECT_EQ(DecodeUtf8(bad, bad, &code), 0);
    EXPECT_EQ(code, 0u);
    const char *cut = "\xE2\x82\xAC";
    EXPECT_EQ(DecodeUtf8(cut, cut + 2, &code), 1);  // continuation beyond the range
    const char *stray = "\x9A";
    EXPECT_EQ(DecodeUtf8(stray, stray + 1, &code), 1);
    EXPECT_EQ(code, 0x9Au);
    // Seven continuation bytes are no character.
    const char *longrun = "\xFC\x80\x80\x80\x80\x80\x80x";
    size_t pos = 0;
    EXPECT_EQ(NextUtf8CodePoint(longrun, &pos), (uint32_t)'?');
    EXPECT_EQ(pos, 7u);
    pos = 0;
    EXPECT_EQ(NextUtf8CodePointBounded(&pos, 2, "\xC3\xA9"), 0xE9u);
}

TEST(EncodingUtf8, Navigation) {
    const char *t = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
    size_t len = strlen(t);
    EXPECT_EQ(Utf8ByteOffset(t, 0), 0u);
    EXPECT_EQ(Utf8ByteOffset(t, 2), 3u);
    EXPECT_EQ(Utf8ByteOffset(t, 4), 10u);
    EXPECT_EQ(Utf8ByteOffset(t, 99), len);
    EXPECT_EQ(Utf8CharCount(t, len), 5u);
    EXPECT_EQ(CountUtf8Chars(t, t + len), 5u);
    EXPECT_EQ(NextUtf8Char(t + 1, t + len), t + 3);
    EXPECT_EQ(PrevUtf8Char(t + 10, t), t + 6);
    EXPECT_EQ(PrevUtf8Char(t, t), t);
    EXPECT_EQ(NextUtf8Char(t + len, t + len), t + len);
}

TEST(EncodingUtf8, SanitizeReplacesWhatIsNotLegal) {
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"ok \xC3\xA9", "ok \xC3\xA9"},
        {"a\xFF" "b", "a?b"},
        {"\xC3(", "?("},
        {"\xED\xA0\x80!", "?\?\?!"},       // surrogate: one '?' a byte
        {"\xF4\x90\x80\x80", "????"},    // above 0x10FFFF
        {"\xC0\x80", "??"},              // overlong
        {"\xE2\x82", "??"},              // cut off at the end
    };
    for (auto &c : cases) {
        char out[32];
        SanitizeUtf8(c.in, out);
        EXPECT_EQ(std::string(out), c.out) << c.in;
    }
}

// ---- Conversions ------------------------------------------------------------------

TEST(EncodingConvert, Latin1AndUtf8RoundTripEveryByte) {
    char latin[256];
    for (int i = 1; i < 256; i++) latin[i - 1] = (char)i;
    latin[255] = 0;
    std::string utf = Owned(Latin1ToUtf8(latin, 0));
    EXPECT_EQ(utf.size(), 127u + 2 * 128u);
    EXPECT_TRUE(ValidateUtf8(utf.data(), utf.size(), nullptr));
    EXPECT_EQ(utf.substr(127, 4), "\xC2\x80\xC2\x81");
    EXPECT_EQ(utf.substr(utf.size() - 2), "\xC3\xBF");
    std::string back = Owned(Utf8ToLatin1(utf.c_str(), 0));
    EXPECT_EQ(back, std::string(latin));
    EXPECT_EQ(Owned(Utf8ToLatin1("x\xE2\x82\xAC" "y", 0)), "x?y");
    EXPECT_EQ(Owned(Latin1ToUtf8("\xE9\xE9", 1)), "\xC3\xA9");  // explicit length

    const char *src = "\xC3\xA9t\xC3\xA9";
    char out[16];
    char *pos = nullptr;
    EXPECT_EQ(Utf8ToLatin1Range(src, out, 0, src + 3, &pos), 3u);
    EXPECT_EQ(pos, out + 2);

    char inplace[] = "gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC";
    Utf8ToLatin1InPlace(inplace);
    EXPECT_EQ(std::string(inplace), "gr\xFC\xDF" "e ?");
}

TEST(EncodingConvert, SwitchToLatin1ConvertsHeldTexts) {
    EncodingGuard g(LV_ENCODING_UTF8);
    char a[] = "/home/j\xC3\xBCrgen/Spiel.lva";
    char b[] = "plain";
    char *texts[] = {a, nullptr, b};
    SwitchTextsToLatin1(texts, 3);
    EXPECT_EQ(GetGlobalEncoding(), LV_ENCODING_LATIN1);
    EXPECT_EQ(GetScriptEncoding(), 0);  // the platform converts names for the system
    EXPECT_EQ(std::string(a), "/home/j\xFCrgen/Spiel.lva");
    EXPECT_EQ(std::string(b), "plain");
}

TEST(EncodingConvert, ConvertTextEncodingPairs) {
    EXPECT_EQ(ConvertTextEncoding("abc", 1, 1, nullptr), nullptr);
    EXPECT_EQ(ConvertTextEncoding("abc", 0, 0, nullptr), nullptr);
    EXPECT_EQ(ConvertTextEncoding("abc", 2, 1, nullptr), nullptr);
    EXPECT_EQ(Owned(ConvertTextEncoding("\xC3\xA9", 1, 0, nullptr)), "\xE9");
    uint32_t tags[] = {1, 1, 0};
    EXPECT_EQ(Owned(ConvertTextEncoding("\xE9\xE8", 0, 1, tags)), "\xC3\xA9");
}

// ---- Unicode classes and case -------------------------------------------------------

TEST(EncodingUnicode, ClassSamples) {
    struct Case {
        uint32_t c;
        bool alpha, lower, upper, digit, space, punct, graph, alnum, cntrl;
    } cases[] = {
        {'A', 1, 0, 1, 0, 0, 0, 1, 1, 0},     {'z', 1, 1, 0, 0, 0, 0, 1, 1, 0},
        {'5', 0, 0, 0, 1, 0, 0, 1, 1, 0},     {' ', 0, 0, 0, 0, 1, 0, 0, 0, 0},
        {'\t', 0, 0, 0, 0, 1, 0, 0, 0, 1},    {'!', 0, 0, 0, 0, 0, 1, 1, 0, 0},
        {'+', 0, 0, 0, 0, 0, 1, 1, 0, 0},     {0xB5, 1, 1, 0, 0, 0, 0, 1, 1, 0},
        {0xAA, 1, 0, 0, 0, 0, 0, 1, 1, 0},    {0x85, 0, 0, 0, 0, 1, 0, 0, 0, 1},
        {0xA0, 0, 0, 0, 0, 1, 0, 0, 0, 0},    {0x391, 1, 0, 1, 0, 0, 0, 1, 1, 0},
        {0x3B1, 1, 1, 0, 0, 0, 0, 1, 1, 0},   {0x661, 0, 0, 0, 1, 0, 0, 1, 1, 0},
        {0x2160, 0, 0, 0, 0, 0, 0, 1, 1, 0},  {0x3000, 0, 0, 0, 0, 1, 0, 0, 0, 0},
        {0x4E2D, 1, 0, 0, 0, 0, 0, 1, 1, 0},  {0x300, 0, 0, 0, 0, 0, 0, 1, 0, 0},
        {0x200B, 0, 0, 0, 0, 0, 0, 0, 0, 1},  {0x1F600, 0, 0, 0, 0, 0, 0, 1, 0, 0},
        {0x110000, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x3001, 0, 0, 0, 0, 0, 1, 1, 0, 0},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.c);
        EXPECT_EQ(IsAlphaUnicode(c.c), c.alpha);
        EXPECT_EQ(IsLowerUnicode(c.c), c.lower);
        EXPECT_EQ(IsUpperUnicode(c.c), c.upper);
        EXPECT_EQ(IsDigitUnicode(c.c), c.digit);
        EXPECT_EQ(IsSpaceUnicode(c.c), c.space);
        EXPECT_EQ(IsPunctUnicode(c.c), c.punct);
        EXPECT_EQ(IsGraphUnicode(c.c), c.graph);
        EXPECT_EQ(IsAlNumUnicode(c.c), c.alnum);
        EXPECT_EQ(IsCntrlUnicode(c.c), c.cntrl);
        EXPECT_EQ(IsPrintUnicode(c.c), c.graph && c.c != 0x300 ? true : c.space);
    }
    for (uint32_t c : {0x30u, 0x39u, 0x61u, 0x46u, 0xFF10u, 0xFF26u, 0xFF41u})
        EXPECT_TRUE(IsXDigitUnicode(c)) << c;
    for (uint32_t c : {0x67u, 0x47u, 0x661u, 0xFF27u}) EXPECT_FALSE(IsXDigitUnicode(c)) << c;
}

TEST(EncodingUnicode, CaseMappingAndFolding) {
    struct Case {
        uint32_t c, lower, upper, fold;
    } cases[] = {
        {'A', 'a', 'A', 'a'},        {'z', 'z', 'Z', 'z'},          {0xC9, 0xE9, 0xC9, 0xE9},
        {0xFF, 0xFF, 0x178, 0xFF},   {0x100, 0x101, 0x100, 0x101},  {0x101, 0x101, 0x100, 0x101},
        {0x12F, 0x12F, 0x12E, 0x12F}, {0x130, 'i', 0x130, 0x130},   {0x3A3, 0x3C3, 0x3A3, 0x3C3},
        {0x3C2, 0x3C2, 0x3A3, 0x3C3}, {0xB5, 0xB5, 0x39C, 0x3BC},   {0x212A, 'k', 0x212A, 'k'},
        {0x1E9E, 0xDF, 0x1E9E, 0xDF}, {0xDF, 0xDF, 0xDF, 0xDF},    {0x10400, 0x10428, 0x10400, 0x10428},
        {0x4E2D, 0x4E2D, 0x4E2D, 0x4E2D},
    };
    for (auto &c : cases) {
        SCOPED_TRACE(c.c);
        EXPECT_EQ(ToLowerUnicode(c.c), c.lower);
        EXPECT_EQ(ToUpperUnicode(c.c), c.upper);
        EXPECT_EQ(FoldCaseUnicode(c.c), c.fold);
    }
}

// ---- Comparison and search ---------------------------------------------------------

TEST(EncodingCompare, NoCaseInUtf8) {
    EXPECT_EQ(StrCmpNoCase("\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9"), 0);   // ÉTÉ / été
    EXPECT_NE(StrCmpNoCase("stra\xC3\x9F" "e", "STRASSE"), 0);              // ß is no "ss"
    EXPECT_EQ(StrCmpNoCase("\xCE\xA3", "\xCF\x82"), 0);                     // Σ and ς fold alike
    EXPECT_LT(StrCmpNoCase("abc", "abcd"), 0);
    EXPECT_GT(StrCmpNoCase("abd", "ABC"), 0);
    EXPECT_EQ(StrNCmpNoCase("HELLO world", "hello there", 5), 0);
    EXPECT_EQ(CompareUtf8NoCaseN("K\xC3\xA9", "k\xC3\x89", 3), 0);
    EXPECT_EQ(StrNCmpNoCaseLatin1("ABCx", "abcy", 3), 0);
    EXPECT_EQ(CompareLatin1NoCaseN("\xC0" "B", "\xE0" "b", 2), 0);
    EXPECT_EQ(CompareLatin1NoCaseN("ab", "ac", 2), 1);
}

TEST(EncodingCompare, FindWithoutCase) {
    const char *h = "Gro\xC3\x9F" "e STRA\xC3\x9F" "E und \xC3\x89t\xC3\xA9";
    size_t hl = strlen(h);
    const char *n1 = "stra\xC3\x9F" "e";
    EXPECT_EQ(FindStrNoCase(h, hl, n1, strlen(n1), LV_ENCODING_UTF8), h + 7);
    const char *n2 = "\xC3\xA9T\xC3\x89";
    EXPECT_EQ(FindStrNoCase(h, hl, n2, strlen(n2), LV_ENCODING_UTF8), h + 19);
    EXPECT_EQ(FindStrNoCase(h, hl, "xyz", 3, LV_ENCODING_UTF8), nullptr);
    EXPECT_EQ(FindStrNoCase(h, hl, "", 0, LV_ENCODING_UTF8), h);
    // A needle that runs past the haystack's end is no match.
    EXPECT_EQ(FindStrNoCase("ab", 2, "abc", 3, LV_ENCODING_UTF8), nullptr);
    const char *l = "Caf\xC9 CAF\xE9";
    EXPECT_EQ(FindStrNoCase(l, strlen(l), "caf\xE9", 4, LV_ENCODING_LATIN1), l);
    EXPECT_EQ(FindStrNoCase(l + 1, strlen(l) - 1, "caf\xE9", 4, LV_ENCODING_LATIN1), l + 5);
}

TEST(EncodingCompare, CollationOrdersAndIgnoresCase) {
    EXPECT_EQ(CollateStrings("apple", "APPLE", 0), 0);
    EXPECT_NE(CollateStrings("apple", "APPLE", 1), 0);
    EXPECT_EQ(CollateStrings("apple", "banana", 1), -1);
    EXPECT_EQ(CollateStrings("banana", "apple", 0), 1);
    EXPECT_EQ(CollateStrings("same", "same", 1), 0);
}

// ---- Case change ------------------------------------------------------------------

TEST(EncodingCaseChange, ShrinkingCharactersLeaveNoStrayBytes) {
    // U+212A KELVIN SIGN (3 bytes) lowers to "k" (1 byte); U+0130 (2 bytes) to "i".
    char text[] = "\xE2\x84\xAA" "elvin \xC4\xB0stanbul";
    size_t n = LowerStrInPlace(text);
    EXPECT_EQ(std::string(text), "kelvin istanbul");
    EXPECT_EQ(n, strlen(text));
}

TEST(EncodingCaseChange, GrowingCharactersAndIllFormedBytes) {
    // U+0250 (2 bytes) uppers to U+2C6F (3 bytes): no room in place, so '?' a byte.
    char text[] = "a\xC9\x90z\xFF";
    UpperStrInPlace(text);
    EXPECT_EQ(std::string(text), "A??Z\xFF");
    size_t len = 0;
    std::string copy = Owned(ChangeCaseCopy("a\xC9\x90z\xFF", 5, LV_ENCODING_UTF8, 1, &len));
    EXPECT_EQ(copy, "A\xE2\xB1\xAFZ\xFF");
    EXPECT_EQ(len, 6u);
    EXPECT_EQ(Owned(ChangeCaseCopy("\xE2\x84\xAA", 3, LV_ENCODING_UTF8, 0, &len)), "k");
    EXPECT_EQ(Owned(ChangeCaseCopy("A\xC9", 2, LV_ENCODING_LATIN1, 0, &len)), "a\xE9");
    char latin[] = "\xC9t\xE9";
    UpperStrInPlaceAs(latin, LV_ENCODING_LATIN1);
    EXPECT_EQ(std::string(latin), "\xC9T\xC9");
}

// ---- Generated tables --------------------------------------------------------------

TEST(EncodingTables, RegeneratingGivesTheCommittedFile) {
    if (!std::ifstream("/usr/share/unicode/UnicodeData.txt").good()) GTEST_SKIP() << "no Unicode data";
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    std::string dir = std::string(LV_BUILD_DIR) + "/rtext_unicode_regen";
    std::string cmd = "mkdir -p '" + dir + "' && python3 '" LV_SOURCE_DIR
                      "/tools/unicode/gen_unicode_tables.py' --out '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto slurp = [](const std::string &path) {
        std::ifstream f(path, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    };
    std::string fresh = slurp(dir + "/unicode_tables.h");
    ASSERT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh == slurp(LV_SOURCE_DIR "/runtime/unicode_tables.h"));
}

// ---- Properties over random bytes --------------------------------------------------

TEST(EncodingProperties, RandomBytes) {
    uint32_t seed = 12345;
    auto next = [&] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
    for (int round = 0; round < 3000; round++) {
        std::string text;
        size_t len = next() % 24;
        for (size_t i = 0; i < len; i++) {
            // Mostly bytes that make or break sequences.
            static const unsigned char pool[] = {'a', 'Z', 0x80, 0x9F, 0xA0, 0xBF, 0xC2, 0xC3, 0xCE, 0xE0,
                                                 0xE2, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xF8, 0xFC, 0xFF, 0x84};
            unsigned r = next();
            text.push_back((char)(r < 200 ? pool[r % sizeof pool] : (r % 255) + 1));
        }
        SCOPED_TRACE(round);
        std::string out(text.size() + 1, '\0');
        size_t n = SanitizeUtf8(text.c_str(), out.data());
        out.resize(n);
        ASSERT_EQ(n, text.size());  // one byte out for each byte in
        ASSERT_TRUE(ValidateUtf8(out.data(), out.size(), nullptr));
        bool valid = ValidateUtf8(text.data(), text.size(), nullptr);
        if (valid) {
            ASSERT_EQ(out, text);
        }
        // Case change in place never grows and ends exactly at its reported length; with
        // only one-byte characters it equals the copy.
        size_t copyLength = 0;
        char *copy = ChangeCaseCopy(text.data(), text.size(), LV_ENCODING_UTF8, round & 1, &copyLength);
        ASSERT_NE(copy, nullptr);
        std::string inplace = text;
        size_t m = (round & 1) ? UpperStrInPlace(inplace.data()) : LowerStrInPlace(inplace.data());
        ASSERT_LE(m, text.size());
        ASSERT_EQ(strlen(inplace.c_str()), m);
        bool ascii = true;
        for (char ch : text) ascii = ascii && (unsigned char)ch < 0x80;
        if (ascii) {
            ASSERT_EQ(std::string(inplace.c_str()), std::string(copy));
        }
        if (valid) {
            ASSERT_TRUE(ValidateUtf8(copy, copyLength, nullptr));
        }
        FreeMemory(copy);
        // Latin-1 round trip of the decoded text is stable.
        std::string l1 = Owned(Utf8ToLatin1(text.c_str(), 0));
        std::string back = Owned(Latin1ToUtf8(l1.c_str(), 0));
        ASSERT_EQ(Owned(Utf8ToLatin1(back.c_str(), 0)), l1);
    }
}
