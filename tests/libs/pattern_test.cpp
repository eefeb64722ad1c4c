// Pattern engine: searching, iteration, replacement and every pattern error,
// in byte mode and UTF-8 mode.
#include "libs/pattern.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>

// "start end cap1 cap2 ..." of the first match, "-1" without one, "E<code>" on an error.
static std::string Direct(const std::string &s, const std::string &pat, long long startChar = 0, bool utf8 = false)
{
    size_t startByte;
    int code = PatternStartOffset(s.data(), s.size(), (long long)startChar, utf8, &startByte);
    if (code) return "E" + std::to_string(code);
    lvPatternResult r;
    code = FindPatternFirst(s.data(), s.size(), pat.data(), pat.size(), startByte, utf8, &r);
    if (code) return "E" + std::to_string(code);
    if (!r.found) return "-1";
    std::string out = std::to_string(r.startIndex) + " " + std::to_string(r.lastIndex);
    if (r.state.level == 0) return out;
    lvCaptureValue v[PATTERN_MAXCAPTURES];
    int n;
    code = GetPatternCaptures(&r, v, &n);
    if (code) return "E" + std::to_string(code);
    for (int i = 0; i < n; i++)
        out += " " + (v[i].isPosition ? std::to_string((long long)v[i].position) : std::string(v[i].text, v[i].length));
    return out;
}

// The captures (or whole match) of the first match, joined by "|".
static std::string Short(const std::string &s, const std::string &pat, bool utf8 = false)
{
    lvPatternResult r;
    int code = FindPatternFirst(s.data(), s.size(), pat.data(), pat.size(), 0, utf8, &r);
    if (code) return "E" + std::to_string(code);
    if (!r.found) return "-1";
    lvCaptureValue v[PATTERN_MAXCAPTURES];
    int n;
    code = GetPatternCaptures(&r, v, &n);
    if (code) return "E" + std::to_string(code);
    std::string out;
    for (int i = 0; i < n; i++) {
        if (i) out += "|";
        out += v[i].isPosition ? std::to_string((long long)v[i].position) : std::string(v[i].text, v[i].length);
    }
    return out;
}

static std::vector<std::string> Iterate(const std::string &s, const std::string &pat, bool utf8 = false)
{
    std::vector<std::string> all;
    size_t pos = 0;
    for (int guard = 0; guard < 100; guard++) {
        lvPatternResult r;
        EXPECT_EQ(FindPatternNext(s.data(), s.size(), pat.data(), pat.size(), utf8, &pos, &r), 0);
        if (!r.found) break;
        lvCaptureValue v[PATTERN_MAXCAPTURES];
        int n;
        EXPECT_EQ(GetPatternCaptures(&r, v, &n), 0);
        all.emplace_back(v[0].text, v[0].length);
    }
    return all;
}

static std::string Replace(const std::string &s, const std::string &pat, const std::string &repl,
                           long long max = 1000, bool utf8 = false)
{
    lvReplacement r{repl.data(), repl.size(), nullptr, nullptr};
    std::string out;
    long long count;
    int code = ReplacePattern(s.data(), s.size(), pat.data(), pat.size(), &r, max, utf8, &out, &count);
    if (code) return "E" + std::to_string(code);
    return out + "#" + std::to_string(count);
}

TEST(Pattern, FindTable)
{
    struct {
        const char *s, *pat;
        long long start;
        bool utf8;
        const char *want;
    } rows[] = {
        {"hello world", "o w", 0, false, "4 6"},
        {"hello world", "(o)( )w", 0, false, "4 6 o  "},
        {"ab", "x*", 0, false, "0 -1"},
        {"\xc3\xa4" "bc", "c", 0, true, "2 2"},
        {"\xc3\xa4" "bc", "b", 1, true, "1 1"},
        {"\xc3\xa4" "bc", "c", 0, false, "3 3"},
        {"abc", "()b()", 0, false, "1 1 2 3"},
        {"abc", "", 3, false, "3 2"},           // empty match at the end
        {"abc", "", 4, false, "E1055"},
        {"abc", "a", -1, false, "E1055"},
        {"\xc3\xa4" "bc", "", 3, true, "3 2"},
        {"\xc3\xa4" "bc", "", 4, true, "E1055"},
        {"abc", "^b", 0, false, "-1"},          // anchored to the start position
        {"abc", "^b", 1, false, "1 1"},
        {"abc", "c$", 0, false, "2 2"},
        {"a$c", "$c", 0, false, "1 2"},         // "$" not last is a plain character
        {"aaab", "a-b", 0, false, "0 3"},
        {"aaab", "a-", 0, false, "0 -1"},
        {"xaaay", "a+", 0, false, "1 3"},
        {"color colour", "colou?r", 6, false, "6 11"},
        {"THE (quick) fox", "%f[%a]%a+", 5, false, "5 9"},
        {"hello", "%f[%l]", 0, false, "0 -1"},
        {"abcabc", "(abc)%1", 0, false, "0 5 abc"},
        {"x = [a]", "[]]", 0, false, "6 6"},
        {"a-b", "[a%-]+", 0, false, "0 1"},
        {"z-", "[a-]", 0, false, "1 1"},         // "-" before "]" is a member
        {"q", "%q", 0, false, "0 0"},
        {"B", "%B", 0, false, "0 0"},
        {"a.b", "%.", 0, false, "1 1"},
        {"ab1", "[^%a]", 0, false, "2 2"},
        {"a\0b", "%z", 0, false, "-1"},         // the literal's NUL is not part of it
    };
    for (auto &r : rows) EXPECT_EQ(Direct(r.s, r.pat, r.start, r.utf8), r.want) << r.s << " / " << r.pat;
    EXPECT_EQ(Direct(std::string("a\0b", 3), "%z"), "1 1");
}

TEST(Pattern, ShortAndBalance)
{
    EXPECT_EQ(Short("key = value", "(%w+)%s*=%s*(%w+)"), "key|value");
    EXPECT_EQ(Short("abc", "()b()"), "2|3");
    EXPECT_EQ(Short("f(a(b)c)d", "%b()"), "(a(b)c)");
    EXPECT_EQ(Short("f(a(b c", "%b()"), "-1");
    EXPECT_EQ(Short("\xc3\xa4\xc3\xb6x", "()x", true), "3");     // positions count characters
    EXPECT_EQ(Short("\xc3\xa4\xc3\xb6x", "()x", false), "5");
    EXPECT_EQ(Short("\xc2\xab" "a\xc2\xbb", "%b\xc2\xab\xc2\xbb", true), "\xc2\xab" "a\xc2\xbb");
}

TEST(Pattern, ClassesByMode)
{
    // ISO-8859-1 letter in byte mode; no superscript digits for %d.
    EXPECT_EQ(Direct("\xe9", "%a"), "0 0");
    EXPECT_EQ(Direct("\xb2", "%d"), "-1");
    EXPECT_EQ(Direct("\xc9", "%u"), "0 0");
    EXPECT_EQ(Direct("\xc9", "%u", 0, true), "0 0");        // a lone byte in UTF-8 mode is no letter
    // UTF-8: one item matches one whole character.
    EXPECT_EQ(Direct("\xc3\x89", "%u", 0, true), "0 0");
    EXPECT_EQ(Direct("\xc3\x89", "^.$", 0, true), "0 0");
    EXPECT_EQ(Direct("\xc3\x89", "^.$", 0, false), "-1");
    EXPECT_EQ(Direct("x\xc3\xa9y", "[\xc3\xa0-\xc3\xbf]", 0, true), "1 1");
    EXPECT_EQ(Direct("\xc3\xa9\xc3\xa9\xc3\xa9!", "%a+", 0, true), "0 2");
    EXPECT_EQ(Direct("\xc3\xa9\xc3\xa9!", "[^!]*!", 0, true), "0 2");
    EXPECT_EQ(Direct("\xd0\x96\xd0\xb6", "%l", 0, true), "1 1");    // Cyrillic
    EXPECT_EQ(Direct("ab", "%S+", 0, false), "0 1");
    // Backtracking steps back whole characters: captures never end inside one.
    EXPECT_EQ(Short("\xc3\xa9\xc3\xa9\xc3\xa9", "(.*)(.)$", true), "\xc3\xa9\xc3\xa9|\xc3\xa9");
    EXPECT_EQ(Short("\xc3\xa9\xc3\xa9\xc3\xa9", "(.-)(.)$", true), "\xc3\xa9\xc3\xa9|\xc3\xa9");
    EXPECT_EQ(Short("\xe2\x82\xac\xc3\xa9x", "(%S+)x", true), "\xe2\x82\xac\xc3\xa9");
    EXPECT_EQ(Short("\xc3\xa9\xc3\xa9", "(.*)(.)$", false), "\xc3\xa9\xc3|\xa9");
    // The frontier looks at the whole character before the point.
    EXPECT_EQ(Direct("\xc3\xa9t\xc3\xa9 x", "%f[%a]", 1, true), "4 3");
}

TEST(Pattern, IteratorOverEmptyMatches)
{
    std::vector<std::string> want = {"a", "", "b", "", "", "c", ""};
    EXPECT_EQ(Iterate("a,b,,c", "[^,]*"), want);
    // Empty matches in UTF-8 step whole characters, never into one.
    std::vector<std::string> empties = {"", "", ""};
    EXPECT_EQ(Iterate("\xc3\xa4\xc3\xb6", "", true), empties);
    // "^" is an ordinary character for the iterator.
    std::vector<std::string> carets = {"^a", "^a"};
    EXPECT_EQ(Iterate("^a^a", "^a"), carets);
    std::vector<std::string> chars = {"\xc3\xa4", "\xc3\xb6"};
    EXPECT_EQ(Iterate("\xc3\xa4\xc3\xb6", ".", true), chars);
    // The iterator takes unchecked text: a stray byte is one character.
    std::vector<std::string> stray = {"a", "\xff", "\xc3\xa4"};
    EXPECT_EQ(Iterate("a\xff\xc3\xa4", ".", true), stray);
}

TEST(Pattern, ReplaceByString)
{
    EXPECT_EQ(Replace("hello world", "o", "0"), "hell0 w0rld#2");
    EXPECT_EQ(Replace("hello world", "o", "0", 1), "hell0 world#1");
    EXPECT_EQ(Replace("hello world", "o", "0", 0), "hello world#0");
    EXPECT_EQ(Replace("abc", "%w", "%0%0"), "aabbcc#3");
    EXPECT_EQ(Replace("abc", "%w", "%1."), "a.b.c.#3");      // %1 is the whole match without captures
    EXPECT_EQ(Replace("abc", "^.", "X"), "Xbc#1");
    EXPECT_EQ(Replace("abc", "", "-"), "-a-b-c-#4");
    EXPECT_EQ(Replace("k=v, x=y", "(%w+)=(%w+)", "%2=%1"), "v=k, y=x#2");
    EXPECT_EQ(Replace("abc", "()b", "[%1]"), "a[2]c#1");
    EXPECT_EQ(Replace("50", "%d+", "%%"), "%#1");
    EXPECT_EQ(Replace("\xc3\xa4\xc3\xb6", "", "-", 1000, true), "-\xc3\xa4-\xc3\xb6-#3");
    EXPECT_EQ(Replace("abc", "(b)", "%2"), "E" + std::to_string(ERR_INVCAPIDX));
    EXPECT_EQ(Replace("abc", "b", "%x"), "E" + std::to_string(ERR_ESCREPLACE));
    EXPECT_EQ(Replace("abc", "b", "x%"), "E" + std::to_string(ERR_ESCREPLACE));
}

// Callbacks stand for script functions and tables: nil keeps the match.
struct lvTableReplace {
    std::map<std::string, std::string> table;   // keys looked up by the first value
    int calls = 0;                              // how often the callback ran
};

static int LookUpTable(void *user, const lvCaptureValue *values, int count, std::string *insert, int *keep)
{
    auto *t = static_cast<lvTableReplace *>(user);
    t->calls++;
    auto it = t->table.find(std::string(values[0].text, values[0].length));
    if (it == t->table.end()) *keep = 1;
    else *insert = it->second;
    return 0;
}

static int RejectValue(void *, const lvCaptureValue *, int, std::string *, int *) { return ERR_INVREPLACE; }

TEST(Pattern, ReplaceByCallback)
{
    lvTableReplace t;
    t.table = {{"name", "Ada"}, {"day", "Monday"}};
    lvReplacement repl{nullptr, 0, LookUpTable, &t};
    std::string s = "Hi $name, on $day at $time", out;
    long long count;
    ASSERT_EQ(ReplacePattern(s.data(), s.size(), "%$(%w+)", 7, &repl, 100, false, &out, &count), 0);
    EXPECT_EQ(out, "Hi Ada, on Monday at $time");
    EXPECT_EQ(count, 3); // the kept match still counts
    EXPECT_EQ(t.calls, 3);

    lvReplacement bad{nullptr, 0, RejectValue, nullptr};
    EXPECT_EQ(ReplacePattern(s.data(), s.size(), "%$", 2, &bad, 100, false, &out, &count), ERR_INVREPLACE);
}

TEST(Pattern, ErrorCodes)
{
    std::string many;
    for (int i = 0; i < 33; i++) many += "(";
    struct {
        std::string s, pat;
        int code;
    } rows[] = {
        {"abc", many, ERR_TOOMANYCAPTURES},
        {"abc", "(()", ERR_UNFINISHEDCAPTURE},   // found, fails when its values are taken
        {"abc", "%fa", ERR_MISSINGOPBRACK},
        {"abc", "%f", ERR_MISSINGOPBRACK},
        {"abc", "[a", ERR_MALFORMPAT2},
        {"abc", "[", ERR_MALFORMPAT2},
        {"abc", "[^", ERR_MALFORMPAT2},
        {"abc", "[a%", ERR_MALFORMPAT2},
        {"abc", "[]", ERR_MALFORMPAT2},
        {"abc", "abc%", ERR_MALFORMPAT1},
        {"abc", "%b(", ERR_UNBALANCEDPAT},
        {"abc", "%b", ERR_UNBALANCEDPAT},
        {"abc", "a)", ERR_INVPATCAP},
        {"abc", "%1", ERR_INVCAPIDX},
        {"abc", "(a%1)", ERR_INVCAPIDX},
        {"abc", "%0", ERR_INVCAPIDX},
    };
    for (auto &r : rows) EXPECT_EQ(Short(r.s, r.pat), "E" + std::to_string(r.code)) << r.pat;
    // Found lazily: "%" at the end only matters when the matcher reaches it.
    EXPECT_EQ(Short("xyz", "abc%"), "-1");
    EXPECT_EQ(Short("xyz", "%b("), "E" + std::to_string(ERR_UNBALANCEDPAT)); // reached at every candidate
}

TEST(Pattern, DepthLimit)
{
    std::string pat, subject(400, 'a');
    for (int i = 0; i < 201; i++) pat += "a?";
    EXPECT_EQ(Short(subject, pat), "E" + std::to_string(ERR_COMPLEXPATTERN));
    std::string fits;
    for (int i = 0; i < 150; i++) fits += "a?";
    EXPECT_EQ(Short(subject, fits), std::string(150, 'a'));
    // Plain items add no depth.
    EXPECT_EQ(Short(subject, std::string(300, 'a')), std::string(300, 'a'));
}

// A set or escape cut off at the end of the pattern never reads past it: the
// pattern is handed over without a terminator, followed by bytes that would
// close the set.
TEST(Pattern, NeverReadsPastThePattern)
{
    const char buffer[] = "[abc]]]]";
    lvPatternResult r;
    EXPECT_EQ(FindPatternFirst("b", 1, buffer, 4, 0, false, &r), ERR_MALFORMPAT2);
    EXPECT_EQ(FindPatternFirst("b", 1, "%f[ab]", 5, 0, false, &r), ERR_MALFORMPAT2);
    EXPECT_EQ(FindPatternFirst("\xc3\xa4", 2, "[\xc3\xa4]", 3, 0, true, &r), ERR_MALFORMPAT2);
}
