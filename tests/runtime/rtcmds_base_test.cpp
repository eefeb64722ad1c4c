// Tests of the base library through chunks run by the machine: End and its exit code,
// the debug commands, IIf and ToString.
#include <cstdio>
#include <string>

#include "runtime/startup.h"
#include "tests/runtime/rtcmds_util.h"

TEST_F(RtCmdsTest, EndStopsTheRunWithItsCode)
{
    EXPECT_EQ(RunFixture("end3"), ERR_USERABORT);
    EXPECT_EQ(Output(), "before end\n");
    EXPECT_EQ(GetStartupState()->endCode, 3);
}

TEST_F(RtCmdsTest, EndWithoutCodeAndTruncatedCode)
{
    EXPECT_EQ(Run("getglobal r0 \"end\"\ncall r0 1 1\nreturn r0 1\n"), ERR_USERABORT);
    EXPECT_EQ(GetStartupState()->endCode, 0);
    ResetVMRun();
    ResetErrorState();
    EXPECT_EQ(Run("getglobal r0 \"end\"\nloadk r1 -7.9\ncall r0 2 1\nreturn r0 1\n"), ERR_USERABORT);
    EXPECT_EQ(GetStartupState()->endCode, -7);
}

TEST_F(RtCmdsTest, EndStopsEvenWithErrorsNotRaised)
{
    // With errors not raised the returned 1003 is only recorded, but the stop request
    // still ends the run before the next instruction.
    EXPECT_EQ(Run(R"(
        getglobal r0 "exitonerror"
        loadk r1 0
        call r0 2 1
        getglobal r0 "end"
        loadk r1 5
        call r0 2 1
        getglobal r0 "debugprint"
        loadk r1 "still running"
        call r0 2 1
        return r0 1
    )"), ERR_USERABORT);
    EXPECT_EQ(Output(), "");
    EXPECT_EQ(GetStartupState()->endCode, 5);
}

TEST_F(RtCmdsTest, DebugPrintJoinsArgumentTexts)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "debugprint"
        loadk r1 1
        loadk r2 "abc"
        loadnil r3 r3
        loadk r4 2.5
        call r0 5 1
        getglobal r0 "debugprintnr"
        loadk r1 "no"
        loadk r2 "end"
        call r0 3 1
        getglobal r0 "debugstr"
        loadk r1 -0.0001
        call r0 2 1
        return r0 1
    )"), 0);
    EXPECT_EQ(Output(), "1 abc Nil 2.5\nno end-0.0001\n");
}

TEST_F(RtCmdsTest, DebugPrintNeedsAnArgumentAndObeysNoDebug)
{
    EXPECT_EQ(Run("getglobal r0 \"debugprint\"\ncall r0 1 1\nreturn r0 1\n"), ERR_MISSINGPARAMTR);
    GetStartupSwitches()->noDebug = 1;
    EXPECT_EQ(Run("getglobal r0 \"debugprint\"\nloadk r1 1\ncall r0 2 1\nreturn r0 1\n"), 0);
    EXPECT_EQ(Output(), "");
}

namespace {

std::string gInputLine;
int gLinesRead;
bool ReadTestLine(char *buffer, size_t size)
{
    gLinesRead++;
    std::snprintf(buffer, size, "%s", gInputLine.c_str());
    return true;
}
std::string gKeys;
int ReadTestKey()
{
    if (gKeys.empty()) return -1;
    int c = static_cast<unsigned char>(gKeys[0]);
    gKeys.erase(0, 1);
    return c;
}

}  // namespace

TEST_F(RtCmdsTest, IIfTakesNilZeroAndEmptyTextAsFalse)
{
    struct Case {
        const char *condition;
        double result;
    } cases[] = {
        {"loadk r1 0", 2},    {"loadk r1 1", 1},       {"loadk r1 -0.5", 1}, {"loadnil r1 r1", 2},
        {"loadk r1 \"\"", 2}, {"loadk r1 \"0\"", 1},   {"loadk r1 \"x\"", 1},
    };
    for (const Case &c : cases) {
        SetStackTop(L, 0);
        std::string text = std::string("getglobal r0 \"iif\"\n") + c.condition + "\nloadk r2 1\nloadk r3 2\ncall r0 4 2\nreturn r0 2\n";
        ASSERT_EQ(Run(text), 0) << c.condition;
        EXPECT_EQ(Num(1), c.result) << c.condition;
    }
    SetStackTop(L, 0);
    ResetVMRun();
    EXPECT_EQ(Run("getglobal r0 \"iif\"\nnewtable r1 0 0\nloadk r2 1\nloadk r3 2\ncall r0 4 2\nreturn r0 2\n"),
              ERR_WRONGDTYPE);
    ResetVMRun();
    EXPECT_EQ(Run("getglobal r0 \"iif\"\nloadk r1 1\nloadk r2 1\ncall r0 3 2\nreturn r0 2\n"), ERR_MISSINGPARAMTR);
}

TEST_F(RtCmdsTest, ToStringForms)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "tostring"
        loadnil r1 r1
        call r0 2 2
        getglobal r1 "tostring"
        loadk r2 0.1
        call r1 2 2
        getglobal r2 "tostring"
        newtable r3 0 0
        call r2 2 2
        getglobal r3 "tostring"
        closure r4 f
        call r3 2 2
        getglobal r4 "tostring"
        loadk r5 "text"
        call r4 2 2
        getglobal r5 "tostring"
        loadk r6 1e20
        call r5 2 2
        return r0 7
        .function f
            return r0 1
        .end
    )"), 0);
    EXPECT_EQ(Str(1), "Nil");
    EXPECT_EQ(Str(2), "0.1");
    EXPECT_EQ(Str(3).rfind("Table: ", 0), 0u) << Str(3);
    EXPECT_GT(Str(3).size(), 7u);
    EXPECT_EQ(Str(4).rfind("Function: ", 0), 0u) << Str(4);
    EXPECT_EQ(Str(5), "text");
    EXPECT_EQ(Str(6), "1e+20");
}

TEST_F(RtCmdsTest, DebugPromptReadsALineUnlessNoDebug)
{
    lvConsoleInput input = {ReadTestLine, ReadTestKey};
    SetConsoleInput(&input);
    gInputLine = "typed";
    gLinesRead = 0;
    ASSERT_EQ(Run("getglobal r0 \"debugprompt\"\nloadk r1 \"Name? \"\ncall r0 2 2\nreturn r0 2\n"), 0);
    EXPECT_EQ(Str(1), "typed");
    EXPECT_EQ(Output(), "Name? ");
    GetStartupSwitches()->noDebug = 1;
    SetStackTop(L, 0);
    ASSERT_EQ(Run("getglobal r0 \"debugprompt\"\nloadk r1 \"Name? \"\ncall r0 2 2\nreturn r0 2\n"), 0);
    EXPECT_EQ(Str(1), "");
    EXPECT_EQ(gLinesRead, 1);  // did not wait for a line
    EXPECT_EQ(Output(), "");
}

TEST_F(RtCmdsTest, ConsoleKeys)
{
    lvConsoleInput input = {ReadTestLine, ReadTestKey};
    SetConsoleInput(&input);
    gKeys = "ab";
    ASSERT_EQ(Run("getglobal r0 \"waitkey\"\ncall r0 1 1\ngetglobal r0 \"getkey\"\ncall r0 1 2\nreturn r0 2\n"), 0);
    EXPECT_EQ(Str(1), "b");
    EXPECT_EQ(gKeys, "");
}

TEST_F(RtCmdsTest, DebugOutputTracesCalls)
{
    ASSERT_EQ(Run(R"(
        getglobal r0 "debugoutput"
        loadk r1 1
        call r0 2 1
        getglobal r0 "iif"
        loadk r1 1
        loadk r2 "a"
        loadk r3 "b"
        call r0 4 2
        getglobal r0 "debugoutput"
        loadk r1 0
        call r0 2 1
        getglobal r0 "iif"
        loadk r1 1
        loadk r2 "a"
        loadk r3 "b"
        call r0 4 2
        return r0 1
    )"), 0);
    std::string out = Output();
    EXPECT_NE(out.find("Now calling iif() with arguments #1=(NUMBER)1 #2=(STRING)\"a\" #3=(STRING)\"b\" \n"),
              std::string::npos)
        << out;
    // Only the calls while the switch was on: the first IIf and the DebugOutput that ended it.
    EXPECT_EQ(out.find("iif"), out.rfind("iif")) << out;
    EXPECT_EQ(GetStartupSwitches()->debugOutput, 0);
}

TEST_F(RtCmdsTest, BaseConstants)
{
    const char *s = nullptr;
    double n = -1;
    struct Case {
        const char *name;
        double value;
    } cases[] = {{"LV_VERSION", 11}, {"NIL", 0},        {"STRING", 3},   {"VOID", 14},
                 {"WORD", 6},        {"ENCODING_UTF8", 1}, {"LV_WINDOWS", 1}, {"ENCODING_AMIGA", 2}};
    for (const Case &c : cases) {
        ASSERT_TRUE(LookupConstant(L, c.name, &s, &n)) << c.name;
        EXPECT_EQ(s, nullptr);
        EXPECT_EQ(n, c.value) << c.name;
    }
}
