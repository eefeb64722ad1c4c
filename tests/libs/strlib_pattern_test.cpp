// strlib_pattern_test.cpp - PatternFindStrDirect, PatternFindStrShort,
// PatternReplaceStr and the PatternFindStr iterator through their globals,
// the iterator inside a generic for loop of an assembled chunk, and
// replacement by script functions.
#include <string>

#include "runtime/errors.h"
#include "tests/libs/strlib_harness.h"

using namespace std::string_literals;

static std::string Repeat(const std::string &s, int n)
{
    std::string out;
    for (int i = 0; i < n; i++) out += s;
    return out;
}

TEST_F(StringLibTest, PatternSearches)
{
    RunCases({
        {"PatternFindStrDirect", {"hello world", "o w"}, "4 6"},
        {"PatternFindStrDirect", {"hello world", "(o)( )w"}, "4 6 'o' ' '"},
        {"PatternFindStrDirect", {"ab", "x*"}, "0 -1"},
        {"PatternFindStrDirect", {"äbc", "c"}, "2 2", "3 3"},
        {"PatternFindStrDirect", {"äbc", "b", 1}, "1 1", "2 2"},
        {"PatternFindStrDirect", {"äbc", "c", 0, 1}, "2 2"},
        {"PatternFindStrDirect", {"abc", "x"}, "-1"},
        {"PatternFindStrDirect", {"abc", "", 3}, "3 2"},
        {"PatternFindStrDirect", {"abc", "c$"}, "2 2"},
        {"PatternFindStrDirect", {"a$c", "$c"}, "1 2"},
        {"PatternFindStrDirect", {"xab", "^a"}, "-1"},
        {"PatternFindStrDirect", {"xab", "^a", 1}, "1 1"},
        {"PatternFindStrDirect", {"abc", "a", 4}, "error 1055"},
        {"PatternFindStrDirect", {"abc", "a", -1}, "error 1055"},
        {"PatternFindStrDirect", {"äbc", "a", 4}, "error 1055", "-1"},
        {"PatternFindStrDirect", {"a", "\xff", 0, 1}, "error 1588@2"},
        {"PatternFindStrShort", {"key = value", "(%w+)%s*=%s*(%w+)"}, "'key' 'value'"},
        {"PatternFindStrShort", {"abc", "()b()"}, "2 3"},
        {"PatternFindStrShort", {"äbc", "()b()"}, "2 3", "3 4"},
        {"PatternFindStrShort", {"abc", "b."}, "'bc'"},
        {"PatternFindStrShort", {"abc", "x"}, "-1"},
        {"PatternFindStrShort", {"f(a(b)c)d", "%b()"}, "'(a(b)c)'"},
        {"PatternFindStrShort", {"THE (quick) fox", "%f[%a]%a+", 4}, "'quick'"},
        {"PatternFindStrShort", {"hello hello", "(h%w+) %1"}, "'hello'"},
        {"PatternFindStrShort", {"a-b", "%-"}, "'-'"},
        {"PatternFindStrShort", {"aaab", "a-b"}, "'aaab'"},
        {"PatternFindStrShort", {"\xe9", "%a", 0, 0}, "'\\xe9'"},
        {"PatternFindStrShort", {"\xb2", "%d", 0, 0}, "-1"},
        {"PatternFindStrShort", {"xÉ", "%u", 0, 1}, "'É'"},
        {"PatternFindStrShort", {"aäb", "[ä]"}, "'ä'", "'\\xc3'"},
        {"PatternFindStrShort", {"aäb", "[à-å]+", 0, 1}, "'ä'"},
        {"PatternFindStrShort", {"äö", "."}, "'ä'", "'\\xc3'"},
        {"PatternFindStrShort", {"äö!", "%A+"}, "'!'", "'\\xa4'"},
    });
}

TEST_F(StringLibTest, PatternErrors)
{
    RunCases({
        {"PatternFindStrDirect", {"aa", "%1"}, "error 1461"},
        {"PatternFindStrDirect", {"aa", "(a)%2"}, "error 1461"},
        {"PatternFindStrDirect", {"aa", "(a%1)"}, "error 1461"},
        {"PatternFindStrDirect", {"aa", "(a)%0"}, "error 1461"},
        {"PatternFindStrDirect", {"a", "a)"}, "error 1462"},
        {"PatternFindStrDirect", {"abc", "abc%"}, "error 1463"},
        {"PatternFindStrDirect", {"xyz", "abc%"}, "-1"},
        {"PatternFindStrDirect", {"abc", "[a"}, "error 1464"},
        {"PatternFindStrDirect", {"f(a)", "%b("}, "error 1465"},
        {"PatternFindStrDirect", {"a", Repeat("(", 33)}, "error 1466"},
        {"PatternFindStrDirect", {"abc", "%fa"}, "error 1467"},
        {"PatternFindStrShort", {"abc", "(()"}, "error 1468"},
        {"PatternFindStrDirect", {"abc", "(()"}, "error 1468"},
        {"PatternFindStrDirect", {std::string(300, 'a'), Repeat("a?", 201)}, "error 1581"},
        {"PatternFindStrDirect", {std::string(300, 'a'), Repeat("a?", 150)}, "0 149"},
        {"PatternReplaceStr", {"abc", "%w", "%x"}, "error 1582"},
        {"PatternReplaceStr", {"abc", "%w", "50%"}, "error 1582"},
        {"PatternReplaceStr", {"abc", "(%w)", "%2"}, "error 1461"},
        {"PatternReplaceStr", {"abc", "%w", ListArg({"x"})}, "error 1055"},
        {"PatternReplaceStr", {"abc", "%w", NilArg()}, "error 1055"},
        {"PatternReplaceStr", {"abc", "[", "x"}, "error 1464"},
    });
}

static int ReturnNothing(lvState *L)
{
    PushNil(L);
    return 1;
}

static int ReturnTable(lvState *L)
{
    PushNewTable(L);
    return 1;
}

static int ReturnBothCaptures(lvState *L)
{
    // The captures arrive as the arguments: join them the other way round.
    PushCopy(L, 2);
    PushCopy(L, 1);
    ConcatValues(L, 2);
    return 1;
}

static int AnswerAnError(lvState *) { return ERR_WRONGUSAGE; }

TEST_F(StringLibTest, PatternReplacements)
{
    RunCases({
        {"PatternReplaceStr", {"hello world", "o", "0"}, "'hell0 w0rld' 2"},
        {"PatternReplaceStr", {"hello world", "o", "0", 1}, "'hell0 world' 1"},
        {"PatternReplaceStr", {"hello world", "o", "0", 0}, "'hello world' 0"},
        {"PatternReplaceStr", {"abc", "%w", "%0%0"}, "'aabbcc' 3"},
        {"PatternReplaceStr", {"abc", "^.", "X"}, "'Xbc' 1"},
        {"PatternReplaceStr", {"hello world", "(%w+) (%w+)", "%2 %1"}, "'world hello' 1"},
        {"PatternReplaceStr", {"abc", "()b", "%1"}, "'a2c' 1"},
        {"PatternReplaceStr", {"äbc", "()b", "%1"}, "'ä2c' 1", "'ä3c' 1"},
        {"PatternReplaceStr", {"abc", "b", "%1"}, "'abc' 1"},
        {"PatternReplaceStr", {"abc", "b", "100%%"}, "'a100%c' 1"},
        {"PatternReplaceStr", {"abc", "b", 7}, "'a7c' 1"},
        {"PatternReplaceStr", {"äö", "", "-"}, "'-ä-ö-' 3", "'-\\xc3-\\xa4-\\xc3-\\xb6-' 5"},
        {"PatternReplaceStr", {"äö", "", "-", 10, 1}, "'-ä-ö-' 3"},
        {"PatternReplaceStr", {"\xff", ".", "x", 10, 1}, "'x' 1"},
        {"PatternReplaceStr", {"aäb", "%a", "<%0>", 10, 1}, "'<a><ä><b>' 3"},
        {"PatternReplaceStr", {"abc", "%w", NativeArg(ReturnNothing)}, "'abc' 3"},
        {"PatternReplaceStr", {"abcd", "(%w)(%w)", NativeArg(ReturnBothCaptures)}, "'badc' 2"},
        {"PatternReplaceStr", {"abc", "%w", NativeArg(ReturnTable)}, "error 1583"},
        {"PatternReplaceStr", {"abc", "%w", NativeArg(AnswerAnError)}, "error 1055"},
        {"PatternReplaceStr", {"abc", "%w", NativeArg(ReturnTable), 0}, "'abc' 0"},
    });
}

TEST_F(StringLibTest, PatternReplacementByScriptFunctions)
{
    ASSERT_EQ(RunFixture("replacers"), "");
    EXPECT_EQ(Call("PatternReplaceStr", {"abc", "%w", GlobalArg("keep")}), "'abc' 3");
    EXPECT_EQ(Call("PatternReplaceStr", {"abc", "b", GlobalArg("shout")}), "'aBc' 1");
    EXPECT_EQ(Call("PatternReplaceStr", {"häh", "ä", GlobalArg("shout")}), "'hÄh' 1");
    EXPECT_EQ(Call("PatternReplaceStr", {"abcd", "(%w)(%w)", GlobalArg("swap")}), "'badc' 2");
    EXPECT_EQ(Call("PatternReplaceStr", {"abc", "%w", GlobalArg("tabled")}), "error 1583");
    // An error inside the script function ends the command with that error.
    EXPECT_EQ(Call("PatternReplaceStr", {"abc", "%w", GlobalArg("failing")}), "error 1014");
}

TEST_F(StringLibTest, PatternIteratorInAForLoop)
{
    struct IterateCase {
        const char *subject;   // text searched
        const char *pattern;   // pattern
        int enc;               // encoding argument
        const char *expected;  // "<match>..." and the count, or the error
    };
    const IterateCase cases[] = {
        {"a,b,,c", "[^,]*", 1, "'<a><><b><><><c><>' 7"},
        {"a,b,,c", "[^,]*", 0, "'<a><><b><><><c><>' 7"},
        {"äö", "", 1, "'<><><>' 3"},
        {"äö", "", 0, "'<><><><><>' 5"},
        {"äö", ".", 1, "'<ä><ö>' 2"},
        {"äö", ".", 0, "'<\\xc3><\\xa4><\\xc3><\\xb6>' 4"},
        {"^a^", "^", 1, "'<^><^>' 2"},
        {"key=1, k2=22", "(%w+)=(%w+)", 1, "'<key><k2>' 2"},
        {"abc", "()", 1, "'<1><2><3><4>' 4"},
        {"", "x*", 1, "'<>' 1"},
        {"abc", "x", 1, "'' 0"},
        {"abc", "[a", 1, "error 1464"},
        {"abc", "(()", 1, "error 1468"},
    };
    for (const IterateCase &c : cases) {
        SetGlobalString("subject", c.subject);
        SetGlobalString("pattern", c.pattern);
        SetGlobalNumber("enc", c.enc);
        EXPECT_EQ(RunFixture("iterate"), c.expected) << c.subject << " / " << c.pattern << " / " << c.enc;
    }
}

TEST_F(StringLibTest, PatternIteratorOwnsItsSubject)
{
    // The iterator keeps its subject and position in the closure: calling it
    // by hand walks the matches and then answers nothing.
    PushString(L, "patternfindstr");
    GetTableValue(L, LV_GLOBALSINDEX);
    PushString(L, "x1y22");
    PushString(L, "%d+");
    ASSERT_EQ(ProtectedCall(L, 2, 1, 0), 0);
    int iterator = GetStackTop(L);
    std::string seen;
    for (int i = 0; i < 4; i++) {
        PushCopy(L, iterator);
        ASSERT_EQ(ProtectedCall(L, 0, -1, 0), 0);
        seen += RenderResults(iterator + 1) + "|";
    }
    EXPECT_EQ(seen, "'1'|'22'|||");
}

TEST_F(StringLibTest, ErrorsOnlyRecordedLetTheScriptGoOn)
{
    SetRuntimeFlags(L, LV_FLAG_ERROR_MODE, 0, 0);
    EXPECT_EQ(Call("Chr", {256, 0}), "");
    EXPECT_EQ(GetErrorState()->lastError, ERR_WRONGUSAGE);
    EXPECT_EQ(Call("PatternReplaceStr", {"abc", "%w", "%9"}), "");
    EXPECT_EQ(GetErrorState()->lastError, ERR_INVCAPIDX);
    // Inside a for loop as well: the loop ends and the error is the last one.
    SetGlobalString("subject", "abc");
    SetGlobalString("pattern", "[a");
    SetGlobalNumber("enc", 1);
    EXPECT_EQ(RunFixture("iterate"), "'' 0");
    EXPECT_EQ(GetErrorState()->lastError, ERR_MALFORMPAT2);
}

// A host whose script error handler takes every error.
static int gHandlerCalls;
static int HandlerOn(lvState *) { return 1; }
static int HandleAll(lvState *, int) { gHandlerCalls++; return 0; }

TEST_F(StringLibTest, PatternIteratorErrorsGoToTheScriptsErrorHandlerFirst)
{
    lvVMHost host = {};
    host.CanRunErrorHandler = HandlerOn;
    host.RunErrorHandler = HandleAll;
    SetVMHost(&host);
    SetGlobalString("subject", "abc");
    SetGlobalString("pattern", "[a");
    SetGlobalNumber("enc", 1);
    gHandlerCalls = 0;
    EXPECT_EQ(RunFixture("iterate"), "'' 0");
    EXPECT_EQ(gHandlerCalls, 1);
}
