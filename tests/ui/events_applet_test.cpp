// Assembled script programs that use the event library: run as an applet's main
// chunk on the script thread while the test's thread runs the main loop.
#include "tools/lvasm/lvasm.h"
#include "ui/events.h"
#include "ui/lib_event.h"
#include "base/lverrors.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"
#include <gtest/gtest.h>
#include <string>

namespace {

class EventApplet : public testing::Test {
protected:
    lvState *L = nullptr;
    void SetUp() override
    {
        ASSERT_EQ(InitPlatform(), 0);
        ResetVMRun();
        SetVMHost(nullptr);
        L = NewVMState();
        ASSERT_NE(L, nullptr);
        ASSERT_EQ(OpenEventLibrary(L), 0);
    }
    void TearDown() override
    {
        CloseEventLibrary(L);
        FreeObjectTypes();
        SetEventRuntimeHooks(nullptr);
        FreeSystemEvents();
        CloseVMState(L);
        ResetVMRun();
        FreeLoopSignals();
    }
    // Assembles the program and runs it as the main chunk under the main loop; answers
    // the protected call's status, the chunk's results left on the stack.
    int RunApplet(const std::string &text)
    {
        lvAsmResult assembled = AsmAssembleText(text, "applet.lvs");
        std::string errors;
        for (const std::string &e : assembled.errors) errors += e + "\n";
        EXPECT_TRUE(assembled.ok) << errors;
        if (!assembled.ok) return -1;
        int status = LoadChunkBuffer(L, assembled.bytes.data(), assembled.bytes.size(), "=applet");
        if (status) return status;
        int result = RunMainLoop(
            [](void *state) {
                lvState *S = (lvState *)state;
                ClaimVMState(S);
                return ProtectedCall(S, 0, -1, 0);
            },
            L);
        ClaimVMState(L);
        return result;
    }
    // Posts a message as a port delivers it: the port's name, a zero byte, the text.
    static int PostPortMessage(const char *block, size_t size)
    {
        char *payload = (char *)AllocMemory(size, 0);
        memcpy(payload, block, size);
        return PostSystemEvent(SYSEVENT_USERMESSAGE, 0, (uintptr_t)payload, 0, 0, 0, 0);
    }
    std::string Text(int index)
    {
        return GetValueType(L, index) == LV_TSTRING ? ValueToString(L, index) : "<not a string>";
    }
};

}  // namespace

TEST_F(EventApplet, WaitEventReturnsTheIntervalsTableWithItsResults)
{
    ASSERT_EQ(RunApplet(R"(
    closure   r0 tick
    getglobal r1 "setinterval"
    loadk     r2 1
    move      r3 r0
    loadk     r4 20
    call      r1 4 1
    getglobal r1 "waitevent"
    call      r1 1 2
    gettable  r2 r1 "action"
    gettable  r3 r1 "id"
    gettable  r4 r1 "nresults"
    gettable  r5 r1 "results"
    gettable  r5 r5 0
    getglobal r6 "clearinterval"
    loadk     r7 1
    call      r6 2 1
    return    r2 5
.function tick
.params 1
    gettable  r1 r0 "action"
    return    r1 2
.end
)"), 0);
    ASSERT_EQ(GetStackTop(L), 4);
    EXPECT_EQ(Text(1), "Interval");
    EXPECT_EQ(ValueToNumber(L, 2), 1);
    EXPECT_EQ(ValueToNumber(L, 3), 1);
    EXPECT_EQ(Text(4), "Interval");  // what the callback answered
    EXPECT_EQ(FirstInterval(), nullptr);
}

TEST_F(EventApplet, WaitEventInsideACallbackRaises1055)
{
    EXPECT_EQ(RunApplet(R"(
    closure   r0 nested
    getglobal r1 "settimeout"
    loadk     r2 1
    move      r3 r0
    loadk     r4 10
    call      r1 4 1
    getglobal r1 "waitevent"
    call      r1 1 2
    return    r1 2
.function nested
.params 1
    getglobal r1 "waitevent"
    call      r1 1 1
    return    r0 1
.end
)"), ERR_WRONGUSAGE);
}

TEST_F(EventApplet, CheckEventWithNothingPendingAnswersAtOnce)
{
    ASSERT_EQ(RunApplet(R"(
    getglobal r0 "checkevent"
    call      r0 1 2
    gettable  r1 r0 "triggered"
    gettable  r2 r0 "action"
    gettable  r3 r0 "nresults"
    return    r1 4
)"), 0);
    ASSERT_EQ(GetStackTop(L), 3);
    EXPECT_EQ(ValueToNumber(L, 1), 0);
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(ValueToNumber(L, 3), 0);
}

TEST_F(EventApplet, AHandlerTableGetsAPortMessageSplitIntoItsArguments)
{
    static const char block[] = "port\0open \"my file\" now";
    ASSERT_EQ(PostPortMessage(block, sizeof(block)), 0);
    ASSERT_EQ(RunApplet(R"(
    newtable  r0 0 1
    closure   r1 onmessage
    settable  r0 "onusermessage" r1
    getglobal r2 "installeventhandler"
    move      r3 r0
    call      r2 2 1
    getglobal r2 "waitevent"
    call      r2 1 2
    gettable  r3 r2 "action"
    gettable  r4 r2 "results"
    gettable  r5 r4 0
    gettable  r6 r4 1
    return    r3 5
.function onmessage
.params 1
    gettable  r1 r0 "command"
    gettable  r2 r0 "argc"
    return    r1 3
.end
)"), 0);
    ASSERT_EQ(GetStackTop(L), 4);
    EXPECT_EQ(Text(1), "OnUserMessage");
    EXPECT_EQ(Text(3), "open");
    EXPECT_EQ(ValueToNumber(L, 4), 2);
}

// The message table a handler of a global event gets: the port message's parts, the
// handler's user data and the timestamp; WaitEvent's table carries the handler's results.
TEST_F(EventApplet, AHandlerTableWithUserDataGetsEveryFieldOfTheMessage)
{
    static const char block[] = "port\0copy \"a b\" c";
    ASSERT_EQ(PostPortMessage(block, sizeof(block)), 0);
    ASSERT_EQ(RunApplet(R"(
    newtable  r0 0 1
    closure   r1 onmessage
    settable  r0 "onusermessage" r1
    getglobal r2 "installeventhandler"
    move      r3 r0
    loadk     r4 "mine"
    call      r2 3 1
    getglobal r2 "waitevent"
    call      r2 1 2
    gettable  r3 r2 "results"
    gettable  r4 r3 0
    gettable  r5 r3 1
    gettable  r6 r3 2
    gettable  r7 r3 3
    gettable  r8 r3 4
    gettable  r9 r3 5
    gettable  r10 r3 6
    gettable  r11 r2 "nresults"
    gettable  r12 r2 "action"
    return    r4 10
.function onmessage
.params 1
    gettable  r1 r0 "action"
    gettable  r2 r0 "command"
    gettable  r3 r0 "args"
    gettable  r4 r0 "rawargs"
    gettable  r5 r0 "argc"
    gettable  r6 r0 "userdata"
    gettable  r7 r0 "timestamp"
    return    r1 8
.end
)"), 0);
    ASSERT_EQ(GetStackTop(L), 9);
    EXPECT_EQ(Text(1), "OnUserMessage");
    EXPECT_EQ(Text(2), "copy");
    ASSERT_EQ(GetValueType(L, 3), LV_TSTRING);
    EXPECT_EQ(std::string(ValueToString(L, 3), ValueStringLength(L, 3)), std::string("a b\0c", 5));
    EXPECT_EQ(Text(4), "\"a b\" c");
    EXPECT_EQ(ValueToNumber(L, 5), 2);
    EXPECT_EQ(Text(6), "mine");
    ASSERT_EQ(GetValueType(L, 7), LV_TNUMBER);
    EXPECT_GE(ValueToNumber(L, 7), 0);
    EXPECT_LT(ValueToNumber(L, 7), 60) << "seconds since the run started";
    EXPECT_EQ(ValueToNumber(L, 8), 7);
    EXPECT_EQ(Text(9), "OnUserMessage");
}
