// Tests of the base library through chunks run by the machine: End and its exit code,
// the debug commands, IIf and ToString.
#include "tests/runtime/rtcmds_util.h"

TEST_F(RtCmdsTest, EndStopsTheRunWithItsCode)
{
    EXPECT_EQ(RunFixture("end3"), ERR_USERABORT);
    EXPECT_EQ(Output(), "before end\n");
    EXPECT_EQ(GetEndRequest()->requested, 1);
    EXPECT_EQ(GetEndRequest()->code, 3);
}

TEST_F(RtCmdsTest, EndWithoutCodeAndTruncatedCode)
{
    EXPECT_EQ(Run("getglobal r0 \"end\"\ncall r0 1 1\nreturn r0 1\n"), ERR_USERABORT);
    EXPECT_EQ(GetEndRequest()->requested, 1);
    EXPECT_EQ(GetEndRequest()->code, 0);
    ResetEndRequest();
    ResetVMRun();
    ResetErrorState();
    EXPECT_EQ(Run("getglobal r0 \"end\"\nloadk r1 -7.9\ncall r0 2 1\nreturn r0 1\n"), ERR_USERABORT);
    EXPECT_EQ(GetEndRequest()->code, -7);
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
    EXPECT_EQ(GetEndRequest()->code, 5);
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
    GetDebugSwitches()->noDebug = 1;
    EXPECT_EQ(Run("getglobal r0 \"debugprint\"\nloadk r1 1\ncall r0 2 1\nreturn r0 1\n"), 0);
    EXPECT_EQ(Output(), "");
}
