// Tests of the command support through test commands called from chunks: argument counts,
// identifiers made with Nil, percent arguments, option tables, user tags, command names
// and calls by name.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/lvplatform.h"
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/vfile.h"
#include "tests/runtime/rtcmds_util.h"

namespace {

int CmdNone(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, 1);
    return 1;
}

int CmdOneOrTwo(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    PushNumber(L, GetStackTop(L));
    return 1;
}

int CmdAnyCount(lvState *L)
{
    CheckArgCount(L, 1, -1, 0, 0);
    PushNumber(L, GetStackTop(L));
    return 1;
}

int CmdNeeds10(lvState *L)
{
    CheckArgCount(L, 0, 1, 10, 0);
    PushNumber(L, 1);
    return 1;
}

// MakeHandle(): a light userdata as a Nil-made object's handle.
char gObject[4];
int CmdMakeHandle(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushPointer(L, gObject);
    return 1;
}

// ReadId(id) -> number, 1 when the handle is gObject (else 0)
int CmdReadId(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    PushNumber(L, id.number);
    PushNumber(L, id.handle == gObject ? 1 : 0);
    return 2;
}

// IntOrNil(v) -> value, nil flag
int CmdIntOrNil(lvState *L)
{
    int isNil = 0;
    int v = GetIntArgOrNil(L, 1, &isNil);
    PushNumber(L, v);
    PushNumber(L, isNil);
    return 2;
}

// Percent(v, base, allowAbove) -> value, percent flag
int CmdPercent(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int isPercent = 0;
    double v = GetNumberOrPercentArg(L, 1, CheckNumberArg(L, 2), static_cast<int>(GetOptionalNumberArg(L, 3, 0)),
                                     &isPercent);
    PushNumber(L, v);
    PushNumber(L, isPercent);
    return 2;
}

// Options(table) -> a table of what the readers found.
int CmdOptions(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    int x = -1, width = -1, flag = -1, present = -1;
    double scale = -1, rect[4] = {0, 0, 0, 0}, pos = -1;
    int posPercent = -1;
    char name[8] = "unset";
    lvObjectId id = {-1, nullptr};
    char *title = nullptr;
    size_t titleLength = 0;
    int callback = -1;
    int top = GetStackTop(L);
    GetFieldInt(L, 1, "x", &x);
    GetFieldInt(L, 1, "missing", &x, &present);
    GetFieldIntOrPercent(L, -1, "width", 0, &width);  // a relative index works too
    GetFieldBool(L, 1, "flag", &flag);
    GetFieldNumber(L, 1, "scale", &scale);
    GetFieldNumberOrPercent(L, 1, "pos", 640, 0, &pos, &posPercent);
    GetFieldStringBuf(L, 1, "name", name, sizeof name);
    GetFieldStringDup(L, 1, "title", &title, &titleLength);
    GetFieldObjectId(L, 1, "id", &id);
    GetFieldRect(L, 1, "rect", rect);
    GetFieldFunctionRef(L, 1, "callback", &callback);
    EXPECT_EQ(GetStackTop(L), top);
    PushNewTable(L);
    SetFieldInt(L, "x", x);
    SetFieldInt(L, "present", present);
    SetFieldInt(L, "width", width);
    SetFieldInt(L, "flag", flag);
    SetFieldNumber(L, "scale", scale);
    SetFieldNumber(L, "pos", pos);
    SetFieldInt(L, "pospercent", posPercent);
    SetFieldString(L, "name", name);
    SetFieldString(L, "title", title ? title : "none");
    SetFieldUInt(L, "titlelength", static_cast<uint32_t>(titleLength));
    SetFieldObjectId(L, "id", id);
    SetFieldNumber(L, "rectsum", rect[0] + rect[1] + rect[2] + rect[3]);
    SetFieldInt(L, "hascallback", callback >= 0);
    if (callback >= 0) ReleaseReference(L, LV_REGISTRYINDEX, callback);
    FreeMemory(title);
    return 1;
}

// OptionForms(table) -> a table of what the variant readers found; a code a reader answers
// is the command's answer.
int CmdOptionForms(lvState *L)
{
    bool on = true;
    long long big = 7;
    char text[5] = "none";
    int n = 3, code;
    char str[4] = "";
    size_t strLength = 0;
    GetFieldSwitch(L, 1, "switch", &on);
    bool set = IsFieldOn(L, 1, "set");
    GetFieldInt64(L, 1, "big", &big);
    GetFieldText(L, 1, "text", text, 4);
    if ((code = ReadFieldInt(L, 1, "n", &n))) return code;
    int strAnswer = ReadFieldString(L, -1, "str", str, sizeof str, &strLength);
    if (strAnswer > 1) return strAnswer;
    PushNewTable(L);
    SetFieldInt(L, "switch", on);
    SetFieldInt(L, "set", set);
    SetFieldNumber(L, "big", double(big));
    SetFieldString(L, "text", text);
    SetFieldInt(L, "n", n);
    SetFieldString(L, "str", strAnswer == 1 ? str : "absent");
    SetFieldInt(L, "strlength", int(strLength));
    return 1;
}

// Tags(table [, known...]) -> a table carrying the user tags read back, and their count.
int CmdTags(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    static const char *const known[] = {"x", "Y", nullptr};
    lvUserTag *list = nullptr;
    int code = ReadUserTags(L, 1, nullptr, nullptr, &list);
    if (code != 0) return code;
    lvUserTag *rest = nullptr;
    code = ReadUserTags(L, 1, nullptr, known, &rest);
    // The table itself holds "usertags" (a table) among its keys: not a tag value.
    EXPECT_EQ(code, list ? ERR_WRONGUSAGE : 0);
    FreeUserTags(rest, 0);
    PushNewTable(L);
    PushUserTags(L, list);
    PushNumber(L, static_cast<double>(CountUserTags(list)));
    FreeUserTags(list, 0);
    return 2;
}

const lvCommandEntry kSupportCommands[] = {
    {"AnyCount", CmdAnyCount}, {"IntOrNil", CmdIntOrNil}, {"MakeHandle", CmdMakeHandle},
    {"Needs10", CmdNeeds10},   {"None", CmdNone},         {"OneOrTwo", CmdOneOrTwo},
    {"Options", CmdOptions},   {"Percent", CmdPercent},   {"ReadId", CmdReadId},
    {"Tags", CmdTags},         {"OptionForms", CmdOptionForms}, {nullptr, nullptr},
};

class RtSupportTest : public RtCmdsTest {
protected:
    void SetUp() override
    {
        RtCmdsTest::SetUp();
        ASSERT_EQ(RegisterCommandTable(L, kSupportCommands, "supporttest"), 0);
    }
    // Calls a global with the arguments of an assembler snippet (loaded into r1...).
    int Call(const std::string &name, const std::string &argumentLoads, int argumentCount, int results = 1)
    {
        std::string text = "getglobal r0 \"" + name + "\"\n" + argumentLoads + "\ncall r0 " +
                           std::to_string(argumentCount + 1) + " " + std::to_string(results + 1) + "\nreturn r0 " +
                           std::to_string(results + 1) + "\n";
        SetStackTop(L, 0);
        ResetVMRun();
        return Run(text);
    }
};

}  // namespace

TEST_F(RtSupportTest, ArgumentCounts)
{
    struct Case {
        const char *name;
        int args;
        int code;
    } cases[] = {
        {"none", 0, 0},          {"none", 1, ERR_TOOMANYARGS},     {"oneortwo", 0, ERR_MISSINGPARAMTR},
        {"oneortwo", 1, 0},      {"oneortwo", 2, 0},               {"oneortwo", 3, ERR_TOOMANYARGS},
        {"anycount", 0, ERR_MISSINGPARAMTR}, {"anycount", 9, 0},
    };
    for (const Case &c : cases) {
        std::string loads;
        for (int i = 1; i <= c.args; i++) loads += "loadk r" + std::to_string(i) + " " + std::to_string(i) + "\n";
        EXPECT_EQ(Call(c.name, loads, c.args), c.code) << c.name << " with " << c.args;
    }
}

TEST_F(RtSupportTest, OldAppletIsRefused)
{
    lvAppletRecord record;
    std::memset(&record, 0, sizeof record);
    record.parsed = 1;
    record.formatMajor = 9;
    record.formatMinor = 5;
    SetRegistryPointer(L, "applet", &record);
    EXPECT_EQ(Call("needs10", "", 0), ERR_OLDAPPLET);
    char text[256];
    GetErrorText(ERR_OLDAPPLET, text, sizeof text);
    EXPECT_STREQ(text, "This functionality is only available to applets compiled by Lumivarra 10.0 or higher!");
    // The count tests come first: too many arguments is reported before the version.
    EXPECT_EQ(Call("needs10", "loadk r1 1\nloadk r2 2", 2), ERR_TOOMANYARGS);
    record.formatMajor = 11;
    record.formatMinor = 0;
    EXPECT_EQ(Call("needs10", "", 0), 0);
    SetRegistryPointer(L, "applet", nullptr);
}

TEST_F(RtSupportTest, IdentifiersByNumberAndByHandle)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "makehandle"
        call r0 1 2
        getglobal r1 "readid"
        move r2 r0
        call r1 2 3
        getglobal r3 "readid"
        loadk r4 7.9
        call r3 2 3
        return r1 5
    )"), 0);
    EXPECT_EQ(Num(1), 0);  // a handle reads as {0, handle}
    EXPECT_EQ(Num(2), 1);
    EXPECT_EQ(Num(3), 7);  // a number is truncated, with no handle
    EXPECT_EQ(Num(4), 0);
    EXPECT_EQ(Call("readid", "loadk r1 \"seven\"", 1), ERR_NUMEXPECTED);
}

TEST_F(RtSupportTest, IntegerOrNil)
{
    ASSERT_EQ(Call("intornil", "loadnil r1 r1", 1, 2), 0);
    EXPECT_EQ(Num(1), 0);
    EXPECT_EQ(Num(2), 1);
    ASSERT_EQ(Call("intornil", "loadk r1 -3.7", 1, 2), 0);
    EXPECT_EQ(Num(1), -3);
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(Call("intornil", "newtable r1 0 0", 1, 2), ERR_NUMEXPECTED);
}

TEST_F(RtSupportTest, NumberOrPercent)
{
    struct Case {
        const char *value;
        double base;
        int allow;
        int code;
        double result;
        int percent;
    } cases[] = {
        {"\"50%\"", 640, 0, 0, 320, 0},   {"\"150%\"", 640, 0, ERR_PERCENTFORMAT, 0, 0},
        {"\"150%\"", 100, 1, 0, 150, 0}, {"\"-5%\"", 640, 1, ERR_PERCENTFORMAT, 0, 0},
        {"\"abc\"", 640, 0, ERR_PERCENTFORMAT, 0, 0}, {"\"12.5\"", 640, 0, 0, 12.5, 0},
        {"25", 640, 0, 0, 25, 0},         {"\"25%\"", 0, 0, 0, 0.25, 1},
    };
    for (const Case &c : cases) {
        std::string loads = std::string("loadk r1 ") + c.value + "\nloadk r2 " + std::to_string(c.base) +
                            "\nloadk r3 " + std::to_string(c.allow);
        ASSERT_EQ(Call("percent", loads, 3, 2), c.code) << c.value;
        if (c.code == 0) {
            EXPECT_DOUBLE_EQ(Num(1), c.result) << c.value;
            EXPECT_EQ(Num(2), c.percent) << c.value;
        } else {
            EXPECT_EQ(GetErrorState()->numberArg, 1) << c.value;  // the argument's index
        }
    }
    EXPECT_EQ(Call("percent", "newtable r1 0 0\nloadk r2 10", 2, 2), ERR_STRORNUM);
    char text[128];
    GetErrorText(ERR_STRORNUM, text, sizeof text);
    EXPECT_STREQ(text, "String or number expected in argument 1!");
}

TEST_F(RtSupportTest, OptionTableReaders)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "makehandle"
        call r0 1 2
        newtable r1 0 8
        settable r1 "x" 12.9
        settable r1 "width" "25%"
        settable r1 "flag" 1
        settable r1 "scale" 0.5
        settable r1 "pos" "50%"
        settable r1 "name" "a long name"
        settable r1 "title" "Title"
        settable r1 "id" r0
        newtable r2 4 0
        loadk r3 1
        loadk r4 2
        loadk r5 3
        loadk r6 4
        setlist r2 0 4
        settable r1 "rect" r2
        closure r3 f
        settable r1 "callback" r3
        getglobal r4 "options"
        move r5 r1
        call r4 2 2
        return r4 2
        .function f
            return r0 1
        .end
    )"), 0);
    ASSERT_EQ(GetValueType(L, 1), LV_TTABLE);
    auto field = [&](const char *name) {
        PushString(L, name);
        GetTableValue(L, 1);
        std::string out = ValueToString(L, -1) ? ValueToString(L, -1) : "(nil)";
        if (GetValueType(L, -1) == LV_TPOINTER) out = GetUserDataPointer(L, -1) == gObject ? "handle" : "other";
        SetStackTop(L, -2);
        return out;
    };
    EXPECT_EQ(field("x"), "12");
    EXPECT_EQ(field("present"), "0");  // an absent field leaves the value and says so
    EXPECT_EQ(field("width"), "-25");
    EXPECT_EQ(field("flag"), "1");
    EXPECT_EQ(field("scale"), "0.5");
    EXPECT_EQ(field("pos"), "320");
    EXPECT_EQ(field("pospercent"), "0");
    EXPECT_EQ(field("name"), "a long ");  // bounded copy
    EXPECT_EQ(field("title"), "Title");
    EXPECT_EQ(field("titlelength"), "5");
    EXPECT_EQ(field("id"), "handle");
    EXPECT_EQ(field("rectsum"), "10");
    EXPECT_EQ(field("hascallback"), "1");
}

TEST_F(RtSupportTest, OptionTableErrorsNameTheField)
{
    struct Case {
        const char *field;
        const char *value;
        int code;
    } cases[] = {
        {"x", "\"twelve\"", ERR_NUMTABLEARG},
        {"width", "\"150%\"", ERR_PERCENTFORMATSTR},
        {"callback", "5", ERR_FUNCTABLEARG},
        {"name", "r5", ERR_STRTABLEARG},  // a table
        {"rect", "r5", ERR_MISSINGPARAMTR},
        {"rect", "7", ERR_TABEXPECTED2},
        {"pos", "\"150%\"", ERR_PERCENTFORMAT},
        {"pos", "r5", ERR_STRORNUM},
    };
    for (const Case &c : cases) {
        std::string text = std::string("newtable r5 0 0\nnewtable r1 0 2\nsettable r1 \"") + c.field + "\" " +
                           c.value + "\ngetglobal r0 \"options\"\ncall r0 2 2\nreturn r0 2\n";
        SetStackTop(L, 0);
        ResetVMRun();
        EXPECT_EQ(Run(text), c.code) << c.field;
        if (c.code == ERR_PERCENTFORMAT || c.code == ERR_STRORNUM)
            EXPECT_EQ(GetErrorState()->numberArg, 1) << c.field;  // the table's argument
        else
            EXPECT_STREQ(GetErrorState()->textArg, c.field);
    }
    char text[256];
    SetErrorStringArg("width");
    GetErrorText(ERR_PERCENTFORMATSTR, text, sizeof text);
    EXPECT_NE(std::strstr(text, "width"), nullptr) << text;
}

// The variant readers: switches from booleans or numbers, options that are on unless
// empty, 64-bit integers, bounded texts that are refused rather than cut, and the readers
// that answer their error as a code.
TEST_F(RtSupportTest, OptionTableVariants)
{
    struct Case {
        const char *sets;      // settable lines on r1
        int code;              // the call's answer
        const char *results;   // switch set big text n str strlength
    } cases[] = {
        {"", 0, "1 0 7 none 3 absent 0"},
        {"settable r1 \"switch\" 0\nsettable r1 \"set\" \"x\"\nsettable r1 \"big\" 6000000000.9\n"
         "settable r1 \"text\" 1234\nsettable r1 \"n\" \"42\"\nsettable r1 \"str\" \"abcdef\"",
         0, "0 1 6000000000 1234 42 abc 6"},
        {"settable r1 \"switch\" 2\nsettable r1 \"set\" \"\"", 0, "1 0 7 none 3 absent 0"},
        {"settable r1 \"set\" 0", 0, "1 0 7 none 3 absent 0"},
        {"settable r1 \"switch\" \"yes\"", ERR_WRONGUSAGE, ""},
        {"settable r1 \"big\" \"12\"", ERR_NUMEXPECTED, ""},
        {"settable r1 \"text\" r5", ERR_STREXPECTED, ""},
        {"settable r1 \"text\" \"12345\"", ERR_WRONGUSAGE, ""},  // never cut
        {"settable r1 \"n\" \"many\"", ERR_NUMEXPECTED, ""},
        {"settable r1 \"str\" 5", ERR_STRINGEXPECTED, ""},
    };
    for (const Case &c : cases) {
        SetStackTop(L, 0);
        ResetVMRun();
        int code = Run("newtable r5 0 0\nnewtable r1 0 8\n" + std::string(c.sets) +
                       "\ngetglobal r0 \"optionforms\"\ncall r0 2 2\nreturn r0 2\n");
        ASSERT_EQ(code, c.code) << c.sets;
        if (code) continue;
        std::string got;
        for (const char *name : {"switch", "set", "big", "text", "n", "str", "strlength"}) {
            PushString(L, name);
            GetTableValue(L, 1);
            got += std::string(got.empty() ? "" : " ") + (ValueToString(L, -1) ? ValueToString(L, -1) : "(nil)");
            SetStackTop(L, -2);
        }
        EXPECT_EQ(got, c.results) << c.sets;
    }
}

TEST_F(RtSupportTest, UserTagsRoundTrip)
{
    ASSERT_EQ(Run(R"(
        newtable r1 0 2
        newtable r2 0 4
        settable r2 "Name" "Value"
        settable r2 "Count" 3
        settable r1 "usertags" r2
        getglobal r0 "tags"
        call r0 2 3
        return r0 3
    )"), 0);
    EXPECT_EQ(Num(2), 2);
    // Read back as the "usertags" field of the new table, names lower-cased.
    PushString(L, "usertags");
    GetTableValue(L, 1);
    ASSERT_EQ(GetValueType(L, -1), LV_TTABLE);
    PushString(L, "name");
    GetTableValue(L, -2);
    EXPECT_EQ(Str(-1), "Value");
    SetStackTop(L, -2);
    PushString(L, "count");
    GetTableValue(L, -2);
    EXPECT_EQ(Num(-1), 3);
}

TEST_F(RtSupportTest, UserTagsRefuseOtherValues)
{
    // A table as a tag's value, or a number as a key: wrong usage.
    EXPECT_EQ(Run(R"(
        newtable r1 0 2
        newtable r2 0 4
        newtable r3 0 0
        settable r2 "bad" r3
        settable r1 "usertags" r2
        getglobal r0 "tags"
        call r0 2 3
        return r0 3
    )"), ERR_WRONGUSAGE);
    SetStackTop(L, 0);
    ResetVMRun();
    EXPECT_EQ(Run(R"(
        newtable r1 0 2
        newtable r2 0 4
        settable r2 5 "five"
        settable r1 "usertags" r2
        getglobal r0 "tags"
        call r0 2 3
        return r0 3
    )"), ERR_WRONGUSAGE);
    SetStackTop(L, 0);
    ResetVMRun();
    // No usertags field: an empty list, nothing stored.
    ASSERT_EQ(Run("newtable r1 0 0\ngetglobal r0 \"tags\"\ncall r0 2 3\nreturn r0 3\n"), 0);
    EXPECT_EQ(Num(2), 0);
    PushString(L, "usertags");
    GetTableValue(L, 1);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

namespace {
// KnownTags(table) -> the keys read as tags when "x" and "Y" are the command's own options.
int CmdKnownTags(lvState *L)
{
    static const char *const known[] = {"x", "Y", nullptr};
    lvUserTag *list = nullptr;
    int code = ReadUserTags(L, 1, nullptr, known, &list);
    if (code != 0) return code;
    std::string names;
    for (lvUserTag *t = list; t; t = t->next) names += std::string(t->name) + (t->string ? "=s " : "=n ");
    FreeUserTags(list, 0);
    PushString(L, names.c_str());
    return 1;
}
}  // namespace

TEST_F(RtSupportTest, UserTagsBesideKnownOptions)
{
    Register("knowntags", CmdKnownTags);
    ASSERT_EQ(Run(R"(
        newtable r1 0 4
        settable r1 "X" 1
        settable r1 "y" 2
        settable r1 "Extra" "e"
        getglobal r0 "knowntags"
        call r0 2 2
        return r0 2
    )"), 0);
    EXPECT_EQ(Str(1), "Extra=s ");
    SetStackTop(L, 0);
    ResetVMRun();
    EXPECT_EQ(Run("newtable r1 0 4\nsettable r1 \"t\" r1\ngetglobal r0 \"knowntags\"\ncall r0 2 2\nreturn r0 2\n"),
              ERR_WRONGUSAGE);
}

TEST_F(RtSupportTest, CommandNamesAndCallsByName)
{
    EXPECT_STREQ(FindCommandName("debugprint"), "DebugPrint");
    EXPECT_STREQ(FindCommandName("GETOBJECTS"), "GetObjects");
    EXPECT_STREQ(FindCommandLibrary("compressfile"), "compress");
    EXPECT_EQ(FindCommandName("nosuchcommand"), nullptr);

    EXPECT_EQ(CallCommandByName(L, "DebugPrint", 0, 3, LV_CALLARG_STRING, "by name", LV_CALLARG_INT, -4,
                                LV_CALLARG_NIL),
              0);
    EXPECT_EQ(Output(), "by name -4 Nil\n");
    int top = GetStackTop(L);
    lvObjectId id = {0, gObject};
    ASSERT_EQ(CallCommandByName(L, "ReadId", 2, 1, LV_CALLARG_OBJECTID, &id), 0);
    EXPECT_EQ(GetStackTop(L), top + 2);
    EXPECT_EQ(Num(-1), 1);
    SetStackTop(L, top);
    // A failing command comes back as its code, the stack as it was.
    EXPECT_EQ(CallCommandByName(L, "Vibrate", 0, 0), ERR_UNSUPPORTEDFEAT);
    EXPECT_EQ(CallCommandByName(L, "OneOrTwo", 1, 0), ERR_MISSINGPARAMTR);
    EXPECT_EQ(GetStackTop(L), top);
    EXPECT_EQ(CallCommandByName(L, "NoSuchCommand", 0, 0), ERR_UNKNOWNCMD);
}

// ---- Texts, linked files, temporary names ---------------------------------------------------

namespace {

// Sub(text, start, length, encoding) -> the substring
int CmdSub(lvState *L)
{
    CheckArgCount(L, 4, 4, 0, 0);
    size_t bytes = 0;
    const char *text = CheckStringArg(L, 1, &bytes);
    PushSubString(L, text, bytes, static_cast<size_t>(CheckNumberArg(L, 2)), static_cast<size_t>(CheckNumberArg(L, 3)),
                  static_cast<int>(CheckNumberArg(L, 4)));
    return 1;
}

// Lower(text, encoding) -> the lower-case text
int CmdLower(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    PushLowerCaseArg(L, 1, static_cast<int>(CheckNumberArg(L, 2)));
    return 1;
}

const lvCommandEntry kTextCommands[] = {{"Sub", CmdSub}, {"Lower", CmdLower}, {nullptr, nullptr}};

}  // namespace

TEST_F(RtSupportTest, SubstringsAndLowerCase)
{
    ASSERT_EQ(RegisterCommandTable(L, kTextCommands, "texttest"), 0);
    struct Case {
        const char *call;
        const char *result;
    } cases[] = {
        {"\"h\\xc3\\xa9llo\" 1 3 1", "\xc3\xa9ll"},  // characters in UTF-8
        {"\"h\\xc3\\xa9llo\" 1 3 0", "\xc3\xa9l"},   // bytes otherwise
        {"\"abc\" 2 10 1", "c"},                      // cut to the text
        {"\"abc\" 7 2 0", ""},
    };
    for (const Case &c : cases) {
        std::string args = c.call;
        std::string loads;
        // Split the four operands: a quoted text and three numbers.
        size_t close = args.find('"', 1);
        loads += "loadk r1 " + args.substr(0, close + 1) + "\n";
        std::string rest = args.substr(close + 2);
        int reg = 2;
        for (size_t pos = 0; pos <= rest.size(); reg++) {
            size_t sp = rest.find(' ', pos);
            if (sp == std::string::npos) sp = rest.size();
            loads += "loadk r" + std::to_string(reg) + " " + rest.substr(pos, sp - pos) + "\n";
            pos = sp + 1;
        }
        ASSERT_EQ(Call("sub", loads, 4), 0) << c.call;
        EXPECT_EQ(Str(1), c.result) << c.call;
    }
    ASSERT_EQ(Call("lower", "loadk r1 \"\\xc3\\x84BC\"\nloadk r2 1", 2), 0);
    EXPECT_EQ(Str(1), "\xc3\xa4" "bc");
    ASSERT_EQ(Call("lower", "loadk r1 \"\\xc4BC\"\nloadk r2 0", 2), 0);
    EXPECT_EQ(Str(1), "\xe4" "bc");
    EXPECT_EQ(Call("lower", "loadk r1 \"\\xc4BC\"\nloadk r2 1", 2), ERR_INVALIDUTF8ARG);
    char text[128];
    GetErrorText(ERR_INVALIDUTF8ARG, text, sizeof text);
    EXPECT_STREQ(text, "Invalid UTF-8 string in argument 1!");
}

TEST_F(RtSupportTest, ConstantReferencesThroughTheMachine)
{
    size_t consumed = 0;
    const char *s = nullptr;
    double n = 0;
    EXPECT_EQ(ParseScriptConstantRef(L, "#ERR_MEM+1", &consumed, &s, &n), 0);
    EXPECT_EQ(consumed, 8u);
    EXPECT_EQ(n, 1000);
    EXPECT_EQ(ParseScriptConstantRef(L, "#lumivarra", &consumed, &s, &n), 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(std::strlen(s), 54u);
    EXPECT_EQ(ParseScriptConstantRef(L, "#1abc", &consumed, &s, &n), ERR_SYNTAXERROR);
    EXPECT_EQ(ParseScriptConstantRef(L, "#NOSUCHCONSTANT", &consumed, &s, &n), ERR_FINDCST);
    EXPECT_EQ(ParseScriptConstantRef(L, "ERR_MEM", &consumed, &s, &n), ERR_WRONGUSAGE);
}

TEST_F(RtSupportTest, LinkedFilesResolveToTheirBytes)
{
    char templ[] = "/tmp/rtcmds_linkedXXXXXX";
    int fd = mkstemp(templ);
    ASSERT_GE(fd, 0);
    std::string content;
    for (int i = 0; i < 300; i++) content += static_cast<char>('a' + i % 26);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);

    lvAppletRecord record;
    std::memset(&record, 0, sizeof record);
    lvLinkedFile font, file;
    std::memset(&font, 0, sizeof font);
    std::memset(&file, 0, sizeof file);
    std::snprintf(font.name, sizeof font.name, "::font:Topaz");
    font.offset = 10;
    font.size = 5;
    std::snprintf(file.name, sizeof file.name, "Data\\Story.txt");
    file.offset = 100;
    file.size = 50;
    font.next = &file;
    record.linkedFiles = &font;
    lvRuntimeConfig config;
    std::memset(&config, 0, sizeof config);
    std::snprintf(config.appletPath, sizeof config.appletPath, "%s", templ);
    SetRegistryPointer(L, "applet", &record);
    SetRegistryPointer(L, "clargs", &config);

    auto readAll = [](const char *name) {
        std::string out;
        lvVFile *f = OpenVFile(name, LV_VF_READ, nullptr, nullptr);
        if (!f) return std::string("(not opened)");
        char buf[512];
        int64_t n = ReadVFile(f, buf, sizeof buf);
        if (n > 0) out.assign(buf, static_cast<size_t>(n));
        CloseVFile(f);
        return out;
    };
    int linked = -1;
    const char *name = ResolveLinkedFileName(L, "data/story.TXT", 0, &linked);
    ASSERT_TRUE(IsChunkName(name)) << name;
    EXPECT_EQ(linked, 0);
    EXPECT_EQ(readAll(name), content.substr(100, 50));
    EXPECT_STREQ(FindFilePart(name), "Story.txt");
    // Font form: "::font:" names, with or without ".font"; a TrueType name is a plain file.
    name = ResolveLinkedFileName(L, "topaz.font", 1, &linked);
    ASSERT_TRUE(IsChunkName(name)) << name;
    EXPECT_EQ(linked, 1);
    EXPECT_EQ(readAll(name), content.substr(10, 5));
    EXPECT_FALSE(IsChunkName(ResolveLinkedFileName(L, "Topaz", 0, &linked)));
    EXPECT_FALSE(IsChunkName(ResolveLinkedFileName(L, "topaz.ttf", 1, &linked)));
    const char *plain = "other.txt";
    EXPECT_EQ(ResolveLinkedFileName(L, plain, 0, &linked), plain);
    EXPECT_EQ(linked, 0);
    // An option table's file name, resolved when the command asks for it.
    PushNewTable(L);
    SetFieldString(L, "file", "DATA/story.txt");
    char *copy = nullptr;
    size_t length = 0;
    ASSERT_TRUE(GetFieldStringDup(L, -1, "file", &copy, &length, LV_FIELD_LINKED));
    EXPECT_EQ(readAll(copy), content.substr(100, 50));
    EXPECT_EQ(length, std::strlen(copy));
    FreeMemory(copy);
    ASSERT_TRUE(GetFieldStringDup(L, -1, "file", &copy, &length));
    EXPECT_STREQ(copy, "DATA/story.txt");
    FreeMemory(copy);
    SetStackTop(L, -2);
    SetRegistryPointer(L, "applet", nullptr);
    SetRegistryPointer(L, "clargs", nullptr);
    std::remove(templ);
}

TEST_F(RtSupportTest, TemporaryNamesTakeTheExtension)
{
    char name[LV_PATH_SIZE];
    ASSERT_TRUE(MakeTempFileName(name, sizeof name, "pictures/photo.jpeg"));
    std::string n = name;
    EXPECT_EQ(n.substr(n.size() - 5), ".jpeg");
    EXPECT_FALSE(VFileExists(name, nullptr, nullptr));
    ASSERT_TRUE(MakeTempFileName(name, sizeof name, "noextension"));
    EXPECT_EQ(std::string(name).find('.', std::string(name).rfind('/')), std::string::npos) << name;
    char chunk[1024];
    ASSERT_TRUE(MakeChunkName("sound.wav", chunk, sizeof chunk, nullptr, 0, 10, 0, "/tmp/container.lva"));
    ASSERT_TRUE(MakeTempFileName(name, sizeof name, chunk));
    n = name;
    EXPECT_EQ(n.substr(n.size() - 4), ".wav");
    char small[8];
    EXPECT_FALSE(MakeTempFileName(small, sizeof small, "x.png"));
}

TEST_F(RtSupportTest, StatusLinesUnlessQuiet)
{
    PrintStatusLine("Loading applet %s", "/some/dir/game.lva", 1);
    PrintStatusDone();
    PrintStatusLine("100% sure", nullptr, 0);
    PrintStatusFailed();
    EXPECT_EQ(Output(), "Loading applet game.lva...done\n100% surefailed\n");
    GetRuntimeSwitches()->quiet = 1;
    PrintStatusLine("Loading applet %s", "x", 1);
    PrintStatusDone();
    GetRuntimeSwitches()->quiet = 0;
    EXPECT_EQ(Output(), "");
}
