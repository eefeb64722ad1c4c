// Text operations of the string library, in byte mode and UTF-8 mode.
#include "libs/strings_engine.h"
#include "libs/digest.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"

#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

static const std::string E1055 = "E" + std::to_string(ERR_WRONGUSAGE);
static const std::string AE = "a\xc3\xa9";          // "aé" in UTF-8 (3 bytes, 2 characters)
static const std::string AEB = "a\xc3\xa9 b";       // "aé b"

static std::string Num(double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return buf;
}

// Wraps "code + result" operations into one text for table rows.
static std::string Str(int code, const std::string &out) { return code ? "E" + std::to_string(code) : out; }
// The result is taken by reference: it is read only after the call has filled it.
template <typename T>
static std::string Pos(int code, const T &v)
{
    return code ? "E" + std::to_string(code) : std::to_string(v);
}
static std::string NumOf(int code, const double &v) { return code ? "E" + std::to_string(code) : Num(v); }

struct lvTextCase {
    const char *what;                        // the call, as a script would write it
    std::function<std::string()> run;        // the engine call
    std::string want;                        // its result
};

static void RunCases(const std::vector<lvTextCase> &cases)
{
    for (auto &c : cases) EXPECT_EQ(c.run(), c.want) << c.what;
}

TEST(Strings, PiecesTable)
{
    std::string o;
    RunCases({
        {"UnleftStr(abcdef, 2)", [&] { return Str(UnleftText("abcdef", 2, false, &o), o); }, "abcd"},
        {"UnrightStr(abcdef, 2)", [&] { return Str(UnrightText("abcdef", 2, false, &o), o); }, "cdef"},
        {"UnrightStr(abc, 9)", [&] { return Str(UnrightText("abc", 9, false, &o), o); }, ""},
        {"UnrightStr(abc, -1)", [&] { return Str(UnrightText("abc", -1, false, &o), o); }, E1055},
        {"UnleftStr(abc, -1)", [&] { return Str(UnleftText("abc", -1, false, &o), o); }, E1055},
        {"UnleftStr(aé, 1) utf8", [&] { return Str(UnleftText(AE, 1, true, &o), o); }, "a"},
        {"UnleftStr(aé, 1) bytes", [&] { return Str(UnleftText(AE, 1, false, &o), o); }, "a\xc3"},
        {"UnrightStr(aé, 1) utf8", [&] { return Str(UnrightText(AE, 1, true, &o), o); }, "\xc3\xa9"},
        {"MidStr(abcdef, 2)", [&] { MidText("abcdef", 2, -1, false, &o); return o; }, "cdef"},
        {"MidStr(abcdef, 2, 10)", [&] { MidText("abcdef", 2, 10, false, &o); return o; }, "cdef"},
        {"MidStr(abcdef, 6)", [&] { MidText("abcdef", 6, -1, false, &o); return o; }, ""},
        {"MidStr(abcdef, 1, 0)", [&] { MidText("abcdef", 1, 0, false, &o); return o; }, ""},
        {"MidStr(abcdef, 1, -5)", [&] { MidText("abcdef", 1, -5, false, &o); return o; }, ""},
        {"MidStr(abcdef, -3, 2)", [&] { MidText("abcdef", -3, 2, false, &o); return o; }, "ab"},
        {"MidStr(aé b, 1, 2) utf8", [&] { MidText(AEB, 1, 2, true, &o); return o; }, "\xc3\xa9 "},
        {"MidStr(aé b, 1, 2) bytes", [&] { MidText(AEB, 1, 2, false, &o); return o; }, "\xc3\xa9"},
        {"RightStr(abc, 2)", [&] { RightText("abc", 2, false, &o); return o; }, "bc"},
        {"RightStr(abc, 5)", [&] { RightText("abc", 5, false, &o); return o; }, "abc"},
        {"RightStr(abc, 0)", [&] { RightText("abc", 0, false, &o); return o; }, ""},
        {"RightStr(aé, 1) utf8", [&] { RightText(AE, 1, true, &o); return o; }, "\xc3\xa9"},
        {"LeftStr(aé, 2) utf8", [&] { LeftText(AE, 2, true, &o); return o; }, AE},
        {"LeftStr(aé, 2) bytes", [&] { LeftText(AE, 2, false, &o); return o; }, "a\xc3"},
        {"LeftStr(abc, -1)", [&] { LeftText("abc", -1, false, &o); return o; }, ""},
        {"UnmidStr(abcdef, 1, 2)", [&] { return Str(UnmidText("abcdef", 1, 2, false, &o), o); }, "adef"},
        {"UnmidStr(abcdef, 4, 9)", [&] { return Str(UnmidText("abcdef", 4, 9, false, &o), o); }, "abcd"},
        {"UnmidStr(abc, 5, 1)", [&] { return Str(UnmidText("abc", 5, 1, false, &o), o); }, "abc"},
        {"UnmidStr(abc, -1, 1)", [&] { return Str(UnmidText("abc", -1, 1, false, &o), o); }, E1055},
        {"UnmidStr(aé b, 1, 1) utf8", [&] { return Str(UnmidText(AEB, 1, 1, true, &o), o); }, "a b"},
        {"InsertStr(abc, XY, 1)", [&] { return Str(InsertText("abc", "XY", 1, false, false, &o), o); }, "aXYbc"},
        {"InsertStr(abc, XY, 1, True)", [&] { return Str(InsertText("abc", "XY", 1, true, false, &o), o); }, "aXY"},
        {"InsertStr(abc, XY, 2, True)", [&] { return Str(InsertText("abc", "XY", 2, true, false, &o), o); }, "abXY"},
        {"InsertStr(abc, X, 9)", [&] { return Str(InsertText("abc", "X", 9, false, false, &o), o); }, "abcX"},
        {"InsertStr(, X, 0)", [&] { return Str(InsertText("", "X", 0, false, false, &o), o); }, "X"},
        {"InsertStr(abc, X, -1)", [&] { return Str(InsertText("abc", "X", -1, false, false, &o), o); }, E1055},
        {"InsertStr(aé b, ü, 1, True) utf8",
         [&] { return Str(InsertText(AEB, "\xc3\xbc", 1, true, true, &o), o); }, "a\xc3\xbc b"},
        {"RepeatStr(ab, 3)", [&] { return Str(RepeatText("ab", 3, &o), o); }, "ababab"},
        {"RepeatStr(ab, 0)", [&] { return Str(RepeatText("ab", 0, &o), o); }, ""},
        {"RepeatStr(ab, -1)", [&] { return Str(RepeatText("ab", -1, &o), o); }, E1055},
        {"ReverseStr(aé) utf8", [&] { ReverseText(AE, true, &o); return o; }, "\xc3\xa9" "a"},
        {"ReverseStr(aé) bytes", [&] { ReverseText(AE, false, &o); return o; }, "\xa9\xc3" "a"},
        {"TrimStr(xxaxx, x, 0)", [&] { return Str(TrimText("xxaxx", "x", false, false, &o), o); }, "axx"},
        {"TrimStr(xxaxx, x, 1)", [&] { return Str(TrimText("xxaxx", "x", true, false, &o), o); }, "xxa"},
        {"TrimStr(xxx, x, 1)", [&] { return Str(TrimText("xxx", "x", true, false, &o), o); }, ""},
        {"TrimStr(abc, xy, 0)", [&] { return Str(TrimText("abc", "xy", false, false, &o), o); }, E1055},
        {"TrimStr(éaé, é, 1) utf8",
         [&] { return Str(TrimText("\xc3\xa9" "a\xc3\xa9", "\xc3\xa9", true, true, &o), o); }, "\xc3\xa9" "a"},
        {"TrimStr(éa, é, 0) bytes", [&] { return Str(TrimText("\xc3\xa9" "a", "\xc3\xa9", false, false, &o), o); }, E1055},
        {"StripStr", [&] { return std::string(StripTextSpace(" \t\r\nab c\v\f ")); }, "ab c"},
        {"EmptyStr( \\t)", [&] { return std::to_string(IsBlankText(" \t")); }, "1"},
        {"EmptyStr( a)", [&] { return std::to_string(IsBlankText(" a")); }, "0"},
        {"StrLen(é, 1)", [&] { return std::to_string(TextLength("\xc3\xa9", true)); }, "1"},
        {"StrLen(é, 0)", [&] { return std::to_string(TextLength("\xc3\xa9", false)); }, "2"},
    });
}

TEST(Strings, SplitTable)
{
    auto split = [](const std::string &s, const std::string &sep, bool merge) {
        std::vector<std::string_view> pieces;
        int code = SplitText(s, sep, merge, &pieces);
        if (code) return "E" + std::to_string(code);
        std::string joined = std::to_string(pieces.size());
        for (auto p : pieces) joined += "[" + std::string(p) + "]";
        return joined;
    };
    EXPECT_EQ(split(",a,,b,", ",", false), "5[][a][][b][]");
    EXPECT_EQ(split(",a,,b,", ",", true), "4[][a][b][]");
    EXPECT_EQ(split("abc", ",", false), "1[abc]");
    EXPECT_EQ(split("a::b", "::", false), "2[a][b]");
    EXPECT_EQ(split("a", "", false), E1055);
}

TEST(Strings, SearchTable)
{
    long long p;
    std::string o;
    RunCases({
        {"FindStr(abcabc, c, True, 3)", [&] { return Pos(FindText("abcabc", "c", true, 3, false, &p), p); }, "5"},
        {"FindStr(, x)", [&] { return Pos(FindText("", "x", true, 0, false, &p), p); }, "-1"},
        {"FindStr(abc, x, True, -1)", [&] { return Pos(FindText("abc", "x", true, -1, false, &p), p); }, E1055},
        {"FindStr(abc, , True)", [&] { return Pos(FindText("abc", "", true, 0, false, &p), p); }, "-1"},
        {"FindStr(abc, c, True, 3)", [&] { return Pos(FindText("abc", "c", true, 3, false, &p), p); }, "-1"},
        {"FindStr(ABC, b, False)", [&] { return Pos(FindText("ABC", "b", false, 0, false, &p), p); }, "1"},
        {"FindStr(ABC, b, True)", [&] { return Pos(FindText("ABC", "b", true, 0, false, &p), p); }, "-1"},
        {"FindStr(aé b, b) utf8", [&] { return Pos(FindText(AEB, "b", true, 0, true, &p), p); }, "3"},
        {"FindStr(aé b, b) bytes", [&] { return Pos(FindText(AEB, "b", true, 0, false, &p), p); }, "4"},
        {"FindStr(xÉy, é, False) utf8",
         [&] { return Pos(FindText("x\xc3\x89y", "\xc3\xa9", false, 0, true, &p), p); }, "1"},
        {"FindStr(xÉy latin1, é, False) bytes", [&] { return Pos(FindText("x\xc9y", "\xe9", false, 0, false, &p), p); }, "1"},
        {"FindStr(ΑΣ, ς, False) utf8: searches fold case",
         [&] { return Pos(FindText("\xce\x91\xce\xa3", "\xcf\x82", false, 0, true, &p), p); }, "1"},
        {"ReverseFindStr(ΑΣ, ς, False) utf8",
         [&] { return Pos(ReverseFindText("\xce\x91\xce\xa3", "\xcf\x82", false, REVERSEFIND_DEFAULTSTART, true, &p), p); }, "1"},
        {"ReverseFindStr(abcabc, abc)", [&] { return Pos(ReverseFindText("abcabc", "abc", true, REVERSEFIND_DEFAULTSTART, false, &p), p); }, "3"},
        {"ReverseFindStr(abcabc, abc, True, 2)",
         [&] { return Pos(ReverseFindText("abcabc", "abc", true, 2, false, &p), p); }, "0"},
        {"ReverseFindStr(, x)", [&] { return Pos(ReverseFindText("", "x", true, REVERSEFIND_DEFAULTSTART, false, &p), p); }, "-1"},
        {"ReverseFindStr(abc, a, True, -1)", [&] { return Pos(ReverseFindText("abc", "a", true, -1, false, &p), p); }, E1055},
        {"ReverseFindStr(, x, True, 0)", [&] { return Pos(ReverseFindText("", "x", true, 0, false, &p), p); }, "-1"},
        {"ReverseFindStr(abc, a, True, 3)", [&] { return Pos(ReverseFindText("abc", "a", true, 3, false, &p), p); }, E1055},
        {"ReverseFindStr(abc, abcd)", [&] { return Pos(ReverseFindText("abc", "abcd", true, REVERSEFIND_DEFAULTSTART, false, &p), p); }, "-1"},
        {"ReverseFindStr(aBcAbC, bc, False)",
         [&] { return Pos(ReverseFindText("aBcAbC", "bc", false, REVERSEFIND_DEFAULTSTART, false, &p), p); }, "4"},
        {"ReverseFindStr(éaéa, éa) utf8",
         [&] { return Pos(ReverseFindText("\xc3\xa9" "a\xc3\xa9" "a", "\xc3\xa9" "a", true, REVERSEFIND_DEFAULTSTART, true, &p), p); }, "2"},
        {"ReverseFindStr(éaéa, éa) bytes",
         [&] { return Pos(ReverseFindText("\xc3\xa9" "a\xc3\xa9" "a", "\xc3\xa9" "a", true, REVERSEFIND_DEFAULTSTART, false, &p), p); }, "3"},
        {"CountStr(aaaa, aa)", [&] { return Pos(CountText("aaaa", "aa", true, 0, false, &p), p); }, "2"},
        {"CountStr(aAaA, a, False, 1)", [&] { return Pos(CountText("aAaA", "a", false, 1, false, &p), p); }, "3"},
        {"CountStr(abc, a, True, -1)", [&] { return Pos(CountText("abc", "a", true, -1, false, &p), p); }, E1055},
        {"CountStr(éé, é) utf8", [&] { return Pos(CountText("\xc3\xa9\xc3\xa9", "\xc3\xa9", true, 1, true, &p), p); }, "1"},
        {"ReplaceStr(aaaa, aa, b)", [&] { return Str(ReplaceText("aaaa", "aa", "b", true, 0, false, &o), o); }, "bb"},
        {"ReplaceStr(abab, a, x, True, 1)", [&] { return Str(ReplaceText("abab", "a", "x", true, 1, false, &o), o); }, "abxb"},
        {"ReplaceStr(abab, a, x, True, 9)", [&] { return Str(ReplaceText("abab", "a", "x", true, 9, false, &o), o); }, "abab"},
        {"ReplaceStr(abab, , x)", [&] { return Str(ReplaceText("abab", "", "x", true, 0, false, &o), o); }, "abab"},
        {"ReplaceStr(aBAb, b, -, False)", [&] { return Str(ReplaceText("aBAb", "b", "-", false, 0, false, &o), o); }, "a-A-"},
        {"ReplaceStr(a, a, b, True, -1)", [&] { return Str(ReplaceText("a", "a", "b", true, -1, false, &o), o); }, E1055},
        {"ReplaceStr(éaé, é, e, True, 1) utf8",
         [&] { return Str(ReplaceText("\xc3\xa9" "a\xc3\xa9", "\xc3\xa9", "e", true, 1, true, &o), o); }, "\xc3\xa9" "ae"},
        {"StartsWith(abc, )", [&] { return std::to_string(TextStartsWith("abc", "", true, false)); }, "0"},
        {"StartsWith(abc, ab)", [&] { return std::to_string(TextStartsWith("abc", "ab", true, false)); }, "1"},
        {"StartsWith(ab, abc)", [&] { return std::to_string(TextStartsWith("ab", "abc", true, false)); }, "0"},
        {"StartsWith(ÉCOLE, éc, False) utf8",
         [&] { return std::to_string(TextStartsWith("\xc3\x89" "COLE", "\xc3\xa9" "c", false, true)); }, "1"},
        {"EndsWith(Abc, BC, False)", [&] { return std::to_string(TextEndsWith("Abc", "BC", false, false)); }, "1"},
        {"EndsWith(Abc, BC, True)", [&] { return std::to_string(TextEndsWith("Abc", "BC", true, false)); }, "0"},
        {"EndsWith(xÉ, é, False) utf8",
         [&] { return std::to_string(TextEndsWith("x\xc3\x89", "\xc3\xa9", false, true)); }, "1"},
        {"EndsWith(xÉ latin1, é, False) bytes", [&] { return std::to_string(TextEndsWith("x\xc9", "\xe9", false, false)); }, "1"},
    });
}

TEST(Strings, CharactersTable)
{
    double d;
    long long p;
    int r;
    std::string o;
    RunCases({
        {"ByteOffset(aé b, 2, 1)", [&] { return Pos(TextByteOffset(AEB, 2, true, &p), p); }, "3"},
        {"ByteOffset(aé b, 2, 0)", [&] { return Pos(TextByteOffset(AEB, 2, false, &p), p); }, "2"},
        {"ByteOffset(aé b, 4, 1)", [&] { return Pos(TextByteOffset(AEB, 4, true, &p), p); }, E1055},
        {"CharOffset(aé b, 2, 1)", [&] { return Pos(TextCharIndex(AEB, 2, true, &p), p); }, "1"},
        {"CharOffset(aé b, 3, 1)", [&] { return Pos(TextCharIndex(AEB, 3, true, &p), p); }, "2"},
        {"CharOffset(aé b, 5, 1)", [&] { return Pos(TextCharIndex(AEB, 5, true, &p), p); }, E1055},
        {"CharWidth(aé b, 1, 1)", [&] { return Pos(TextCharBytes(AEB, 1, true, &p), p); }, "2"},
        {"CharWidth(aé b, 1, 0)", [&] { return Pos(TextCharBytes(AEB, 1, false, &p), p); }, "1"},
        {"Asc(aé, 1, 1)", [&] { return NumOf(TextCharCode(AE, 1, true, &d), d); }, "233"},
        {"Asc(aé, 1, 0)", [&] { return NumOf(TextCharCode(AE, 1, false, &d), d); }, "195"},
        {"Asc()", [&] { return NumOf(TextCharCode("", 5, true, &d), d); }, "0"},
        {"Asc(a, 1)", [&] { return NumOf(TextCharCode("a", 1, false, &d), d); }, E1055},
        {"Chr(0)", [&] { int c = CharFromCode(0, true, &o); return Str(c, "[" + o + "]"); }, "[]"},
        {"Chr(256, 0)", [&] { return Str(CharFromCode(256, false, &o), o); }, E1055},
        {"Chr(233, 0)", [&] { return Str(CharFromCode(233, false, &o), o); }, "\xe9"},
        {"Chr(233, 1)", [&] { return Str(CharFromCode(233, true, &o), o); }, "\xc3\xa9"},
        {"Chr(0x110000, 1)", [&] { return Str(CharFromCode(0x110000, true, &o), o); }, E1055},
        {"UpperStr(aé) utf8", [&] { ChangeTextCase(AE, true, true, &o); return o; }, "A\xc3\x89"},
        {"UpperStr(aé latin1) bytes", [&] { ChangeTextCase("a\xe9\xff", true, false, &o); return o; }, "A\xc9\xff"},
        {"LowerStr(ÀB) utf8", [&] { ChangeTextCase("\xc3\x80" "B", false, true, &o); return o; }, "\xc3\xa0" "b"},
        {"LowerStr(Ж) utf8", [&] { ChangeTextCase("\xd0\x96", false, true, &o); return o; }, "\xd0\xb6"},
        {"LowerStr(ÀB) bytes", [&] { ChangeTextCase("\xc3\x80" "B", false, false, &o); return o; }, "\xe3\x80" "b"},
        {"LowerStr(a\\0B)", [&] { ChangeTextCase(std::string("a\0B", 3), false, true, &o); return o; },
         std::string("a\0b", 3)},
        {"IsAlpha(é) utf8", [&] { return Pos(TestTextClass("\xc3\xa9", 0, TEXTCLASS_ALPHA, true, &r), r); }, "1"},
        {"IsAlpha(é) bytes", [&] { return Pos(TestTextClass("\xe9", 0, TEXTCLASS_ALPHA, false, &r), r); }, "1"},
        {"IsAlpha(µ) bytes", [&] { return Pos(TestTextClass("\xb5", 0, TEXTCLASS_ALPHA, false, &r), r); }, "0"},
        {"IsLower(µ) bytes", [&] { return Pos(TestTextClass("\xb5", 0, TEXTCLASS_LOWER, false, &r), r); }, "1"},
        {"IsUpper(aB, 1)", [&] { return Pos(TestTextClass("aB", 1, TEXTCLASS_UPPER, false, &r), r); }, "1"},
        {"IsDigit(²) bytes", [&] { return Pos(TestTextClass("\xb2", 0, TEXTCLASS_DIGIT, false, &r), r); }, "0"},
        {"IsXDigit(f)", [&] { return Pos(TestTextClass("f", 0, TEXTCLASS_XDIGIT, false, &r), r); }, "1"},
        {"IsSpace(\\v)", [&] { return Pos(TestTextClass("\v", 0, TEXTCLASS_SPACE, false, &r), r); }, "1"},
        {"IsPrint( )", [&] { return Pos(TestTextClass(" ", 0, TEXTCLASS_PRINT, false, &r), r); }, "1"},
        {"IsGraph( )", [&] { return Pos(TestTextClass(" ", 0, TEXTCLASS_GRAPH, false, &r), r); }, "0"},
        {"IsCntrl(\\x7f)", [&] { return Pos(TestTextClass("\x7f", 0, TEXTCLASS_CNTRL, false, &r), r); }, "1"},
        {"IsPunct(!)", [&] { return Pos(TestTextClass("!", 0, TEXTCLASS_PUNCT, true, &r), r); }, "1"},
        {"IsAlNum(7)", [&] { return Pos(TestTextClass("7", 0, TEXTCLASS_ALNUM, true, &r), r); }, "1"},
        {"IsAlpha()", [&] { return Pos(TestTextClass("", 0, TEXTCLASS_ALPHA, false, &r), r); }, E1055},
        {"ConvertStr(é latin1, 0, 1)", [&] { return Str(ConvertTextEncoding("\xe9", 0, 1, &o), o); }, "\xc3\xa9"},
        {"ConvertStr(é€, 1, 0)",
         [&] { return Str(ConvertTextEncoding("\xc3\xa9\xe2\x82\xac", 1, 0, &o), o); }, "\xe9?"},
        {"ConvertStr(a\\0b, 0, 0)",
         [&] { return Str(ConvertTextEncoding(std::string("a\0b", 3), 0, 0, &o), o); }, "a"},
        {"ConvertStr(a, 0, 2)", [&] { return Str(ConvertTextEncoding("a", 0, 2, &o), o); },
         "E" + std::to_string(ERR_TEXTCONVERT)},
    });
}

TEST(Strings, ValidationAndCodes)
{
    int ok;
    long long n;
    ValidateText("a\xff", true, &ok, &n);
    EXPECT_EQ(ok, 0);
    EXPECT_EQ(n, 1);
    ValidateText(AEB, true, &ok, &n);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(n, 4);
    ValidateText("a\xff", false, &ok, &n);
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(n, -1);
    for (const char *bad : {"\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80", "a\xff"})
        EXPECT_EQ(CheckUtf8Argument(bad, true), ERR_INVALIDUTF8ARG) << bad;
    EXPECT_EQ(CheckUtf8Argument("\xef\xbf\xbf\xf4\x8f\xbf\xbf", true), 0);
    EXPECT_EQ(CheckUtf8Argument("a\xff", false), 0);

    std::vector<double> codes;
    TextToCodes(AE, true, &codes);
    EXPECT_EQ(codes, (std::vector<double>{97, 233}));
    TextToCodes(AE, false, &codes);
    EXPECT_EQ(codes, (std::vector<double>{97, 195, 169}));
    std::string o;
    double items[] = {72, 0x20AC, 0, 65};
    ASSERT_EQ(CodesToText(items, 4, true, &o), 0);
    EXPECT_EQ(o, "H\xe2\x82\xac");
    ASSERT_EQ(CodesToText(items, 4, false, &o), 0);
    EXPECT_EQ(o, "H\xac");
    double tooBig[] = {0x110000};
    EXPECT_EQ(CodesToText(tooBig, 1, true, &o), ERR_WRONGUSAGE);
}

TEST(Strings, NumbersTable)
{
    std::string o;
    double d;
    long long n;
    auto val = [&](const char *s) {
        ReadLeadingNumber(s, &d, &n);
        return Num(d) + " " + std::to_string(n);
    };
    auto strstr = [&](double v, long long dec) {
        FormatStrStr(v, dec, &o);
        return o;
    };
    auto hex = [&](double v) {
        FormatHexStr(v, &o);
        return o;
    };
    auto bin = [&](double v, int t) {
        FormatBinStr(v, t, &o);
        return o;
    };
    RunCases({
        {"Val($1F)", [&] { return val("$1F"); }, "31 3"},
        {"Val(-0x10)", [&] { return val("-0x10"); }, "-16 5"},
        {"Val(abc)", [&] { return val("abc"); }, "0 0"},
        {"Val($)", [&] { return val("$"); }, "0 0"},
        {"Val(%101x)", [&] { return val("%101x"); }, "5 4"},
        {"Val(.5e1 )", [&] { return val(".5e1 "); }, "5 4"},
        {"Val(12e)", [&] { return val("12e"); }, "12 2"},
        {"StrStr(3.14159)", [&] { return strstr(3.14159, 2); }, "3.14"},
        {"StrStr(2.999, 1)", [&] { return strstr(2.999, 1); }, "2.9"},
        {"StrStr(1.5e20, 0)", [&] { return strstr(1.5e20, 0); }, "1e+20"},
        {"StrStr(42)", [&] { return strstr(42, 2); }, "42"},
        {"StrStr(-0.5, -1)", [&] { return strstr(-0.5, -1); }, "-0."},
        {"StrStr(1.25e-7, 1)", [&] { return strstr(1.25e-7, 1); }, "1.2e-07"},
        {"HexStr(255)", [&] { return hex(255); }, "$FF"},
        {"HexStr(0)", [&] { return hex(0); }, "$0"},
        {"HexStr(-1)", [&] { return hex(-1); }, "$FFFFFFFFFFFFFFFF"},
        {"HexStr(-256)", [&] { return hex(-256); }, "$FFFFFFFFFFFFFF00"},
        {"HexStr(2^40)", [&] { return hex(1099511627776.0); }, "$10000000000"},
        {"BinStr(5, 7)", [&] { return bin(5, TEXTTYPE_BYTE); }, "00000101"},
        {"BinStr(5, 11)", [&] { return bin(5, TEXTTYPE_FLOAT); }, ""},
        {"BinStr(-1, 6)", [&] { return bin(-1, TEXTTYPE_SHORT); }, "1111111111111111"},
        {"BinStr(5)", [&] { return bin(5, TEXTTYPE_INTEGER); }, "00000000000000000000000000000101"},
        {"PadNum(42, 5)", [&] { return Str(PadNumber(42, 5, &o), o); }, "00042"},
        {"PadNum(123456, 3)", [&] { return Str(PadNumber(123456, 3, &o), o); }, "123456"},
        {"PadNum(-1, 3)", [&] { return Str(PadNumber(-1, 3, &o), o); }, E1055},
        {"PadNum(1, 0)", [&] { return Str(PadNumber(1, 0, &o), o); }, E1055},
        {"ToNumber(ff, 16)", [&] { return NumOf(ParseIntegerInBase("ff", 16, &d), d); }, "255"},
        {"ToNumber( -Z , 36)", [&] { return NumOf(ParseIntegerInBase(" -Z ", 36, &d), d); }, "-35"},
        {"ToNumber(12x, 16)", [&] { return NumOf(ParseIntegerInBase("12x", 16, &d), d); }, "0"},
        {"ToNumber(, 2)", [&] { return NumOf(ParseIntegerInBase("", 2, &d), d); }, "0"},
        {"ToNumber(z, 37)", [&] { return NumOf(ParseIntegerInBase("z", 37, &d), d); }, E1055},
        {"ToNumber(1, 1)", [&] { return NumOf(ParseIntegerInBase("1", 1, &d), d); }, E1055},
        {"ToNumber(huge, 16)",
         [&] { return NumOf(ParseIntegerInBase("fffffffffffffffffff", 16, &d), d); }, "9.22337203685478e+18"},
        {"FormatNumber(1234567.891, 2)",
         [&] { return Str(FormatNumberText(1234567.891, 2, ".", ",", &o), o); }, "1,234,567.89"},
        {"FormatNumber(999)", [&] { return Str(FormatNumberText(999, 0, ".", ",", &o), o); }, "999"},
        {"FormatNumber(1000)", [&] { return Str(FormatNumberText(1000, 0, ".", ",", &o), o); }, "1,000"},
        {"FormatNumber(-1234, 0, ',', '.')", [&] { return Str(FormatNumberText(-1234, 0, ",", ".", &o), o); }, "-1.234"},
        {"FormatNumber(-123456.5, 1, ' dot ', '')",
         [&] { return Str(FormatNumberText(-123456.5, 1, " dot", "", &o), o); }, "-123456 dot5"},
        {"FormatNumber(1, 18)", [&] { return Str(FormatNumberText(1, 18, ".", ",", &o), o); }, E1055},
        {"FormatNumber(1, 0, '.....')", [&] { return Str(FormatNumberText(1, 0, ".....", ",", &o), o); }, E1055},
    });
}

TEST(Strings, TypedBytes)
{
    std::string o;
    double d;
    ASSERT_EQ(WriteTypedBytes(-2, TEXTTYPE_SHORT, false, &o), 0);
    EXPECT_EQ(o, "\xff\xfe");
    ASSERT_EQ(ReadTypedBytes(o, TEXTTYPE_SHORT, false, &d), 0);
    EXPECT_EQ(d, 65534);
    EXPECT_EQ(ReadTypedBytes("ab", TEXTTYPE_INTEGER, false, &d), ERR_MEMRANGE);
    EXPECT_EQ(ReadTypedBytes("", TEXTTYPE_BYTE, false, &d), ERR_MEMRANGE);
    EXPECT_EQ(ReadTypedBytes("abcd", 3, false, &d), ERR_WRONGUSAGE);
    EXPECT_EQ(WriteTypedBytes(1, 3, false, &o), ERR_WRONGUSAGE);
    ASSERT_EQ(WriteTypedBytes(0x01020304, TEXTTYPE_INTEGER, true, &o), 0);
    EXPECT_EQ(o, "\x04\x03\x02\x01");
    ASSERT_EQ(ReadTypedBytes("\x01\x02\x03\x04", TEXTTYPE_INTEGER, true, &d), 0);
    EXPECT_EQ(d, 0x04030201);
    ASSERT_EQ(ReadTypedBytes("\xff\xff\xff\xff", TEXTTYPE_INTEGER, false, &d), 0);
    EXPECT_EQ(d, 4294967295.0);
    for (bool little : {false, true}) {
        ASSERT_EQ(WriteTypedBytes(0.1, TEXTTYPE_DOUBLE, little, &o), 0);
        ASSERT_EQ(o.size(), 8u);
        ASSERT_EQ(ReadTypedBytes(o, TEXTTYPE_DOUBLE, little, &d), 0);
        EXPECT_EQ(d, 0.1);
        ASSERT_EQ(WriteTypedBytes(0.1, TEXTTYPE_FLOAT, little, &o), 0);
        ASSERT_EQ(ReadTypedBytes(o, TEXTTYPE_FLOAT, little, &d), 0);
        EXPECT_EQ(d, double(0.1f));
    }
    ASSERT_EQ(WriteTypedBytes(1.0, TEXTTYPE_DOUBLE, false, &o), 0);
    EXPECT_EQ(o, std::string("\x3f\xf0\0\0\0\0\0\0", 8));
}

// Arguments of FormatStr as a script would pass them.
struct lvFormatFixture {
    std::vector<std::string> strings;   // each argument as text
    std::vector<double> numbers;        // each argument as a number
};

static int FixtureNumber(void *user, int index, double *value)
{
    auto *f = static_cast<lvFormatFixture *>(user);
    if (size_t(index - 2) >= f->numbers.size()) return ERR_NUMEXPECTED;
    *value = f->numbers[size_t(index - 2)];
    return 0;
}

static int FixtureString(void *user, int index, std::string *value)
{
    auto *f = static_cast<lvFormatFixture *>(user);
    if (size_t(index - 2) >= f->strings.size()) return ERR_STREXPECTED;
    *value = f->strings[size_t(index - 2)];
    return 0;
}

static std::string Format(const std::string &fmt, std::vector<double> numbers, std::vector<std::string> strings = {})
{
    if (strings.empty())
        for (double n : numbers) strings.push_back(Num(n));
    if (numbers.empty()) numbers.assign(strings.size(), 0);
    lvFormatFixture f{strings, numbers};
    lvFormatArgs args{&f, FixtureNumber, FixtureString};
    std::string out;
    int code = FormatText(fmt, &args, &out);
    return code ? "E" + std::to_string(code) : out;
}

TEST(Strings, FormatStr)
{
    EXPECT_EQ(Format("%5.1f|%-4d|%x", {3.14159, 7, 255}), "  3.1|7   |ff");
    EXPECT_EQ(Format("%q", {}, {"a\"b"}), "\"a\\\"b\"");
    EXPECT_EQ(Format("%q", {}, {std::string("a\\\n\0", 4)}), "\"a\\\\\\\n\\000\"");
    EXPECT_EQ(Format("%y", {1}), E1055);
    EXPECT_EQ(Format("50%", {}), E1055);
    EXPECT_EQ(Format("100%% %d", {3}), "100% 3");
    EXPECT_EQ(Format("%d %d", {1}), "E" + std::to_string(ERR_NUMEXPECTED));
    EXPECT_EQ(Format("%d", {1, 2, 3}), "1");                         // surplus ignored
    EXPECT_EQ(Format("%d|%i|%u|%X|%o", {-7.9, 2147483648.0, -1, 48879, 8}), "-7|-2147483648|4294967295|BEEF|10");
    EXPECT_EQ(Format("%c", {65 + 256}), "A");
    EXPECT_EQ(Format("%+.2e|%G|%#x|%05d", {12345.678, 0.00001, 255, 42}), "+1.23e+04|1E-05|0xff|00042");
    EXPECT_EQ(Format("[%5s][%-5s][%.2s]", {}, {"ab", "ab", "abcdef"}), "[   ab][ab   ][ab]");
    EXPECT_EQ(Format("%s", {}, {std::string("a\0b", 3)}), std::string("a\0b", 3));
    std::string longText(300, 'x');
    EXPECT_EQ(Format("%5s", {}, {longText}), longText);               // long strings go in whole
    EXPECT_EQ(Format("%.3s", {}, {longText}), "xxx");
    EXPECT_EQ(Format("%1000d", {1}).size(), 511u);                    // one piece is bounded
    EXPECT_EQ(Format("%0000000000000000000000000000000001d", {1}), E1055); // conversion longer than 32 bytes
    EXPECT_EQ(Format("%ld", {1}), E1055);
    // A format is never handed to the C library as it stands.
    EXPECT_EQ(Format("%n%s", {}, {"x"}), E1055);
}

TEST(Strings, Collation)
{
    int saved = GetGlobalEncoding();
    // ISO-8859-1 runs: byte order, or the upper-case mapping.
    SetGlobalEncoding(LV_ENCODING_LATIN1);
    EXPECT_EQ(CollateText("abc", "abd", true), -1);
    EXPECT_EQ(CollateText("abc", "ab", true), 1);
    EXPECT_EQ(CollateText("abc", "abc", true), 0);
    EXPECT_EQ(CollateText("ABC", "abc", false), 0);
    EXPECT_EQ(CollateText("a", "C", false), -2);  // without case: the distance of the bytes
    EXPECT_EQ(CollateText("\xe9", "\xc9", false), 0);
    EXPECT_EQ(CollateText("ab", "abc", false), -'C');
    // UTF-8 runs: the user's locale; the argument's encoding plays no part.
    SetGlobalEncoding(LV_ENCODING_UTF8);
    EXPECT_EQ(CollateText("apple", "banana", true), -1);
    EXPECT_EQ(CollateText("banana", "apple", true), 1);
    EXPECT_EQ(CollateText("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", false), 0);
    EXPECT_NE(CollateText("\xc3\x89t\xc3\xa9", "\xc3\xa9t\xc3\xa9", true), 0);
    SetGlobalEncoding(saved);
}

TEST(Strings, DigestsOfStrings)
{
    char hex[41];
    std::string withNul("a\0b", 3);
    Md5HexOfRange(withNul.data(), withNul.size(), hex);
    char hexA[41];
    Md5HexOfRange("a", 1, hexA);
    EXPECT_STRNE(hex, hexA);
    Sha1HexOfRange("", 0, hex);
    EXPECT_STREQ(hex, "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}
