// A native iterator of a generic for loop that answers an error code: the machine hands the
// code to the host's command-error handling exactly as for a plain command call, with the
// iterator's own level still on the stack; the script's error handler comes first, and with
// errors only recorded the loop ends and the script goes on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/lverrors.h"
#include "tests/vm/vm_test_util.h"

namespace {

// What the test hosts saw.
struct IteratorErrorLog {
    int iteratorCalls;                // calls of the iterator so far
    int handledCodes;                 // calls of HandleCommandError
    int lastCode;                     // the code it was handed
    std::string commandName;          // the name of the innermost level at that moment
    int handlerRuns;                  // calls of RunErrorHandler
    std::vector<int> handlerCodes;    // the codes the error handler was given
};
IteratorErrorLog gLog;

// Answers 1, 2, then ERR_READFILE; a fourth call (the loop going on after the error) answers
// 100, which the sums below would show.
int CountThenFail(lvState *L)
{
    gLog.iteratorCalls++;
    if (gLog.iteratorCalls <= 2) {
        PushNumber(L, gLog.iteratorCalls);
        return 1;
    }
    if (gLog.iteratorCalls == 3) return ERR_READFILE;
    PushNumber(L, 100);
    return 1;
}

void RecordCommandError(lvState *L, int code)
{
    gLog.handledCodes++;
    gLog.lastCode = code;
    lvDebugInfo ar;
    if (GetStackLevel(L, 0, &ar) && GetDebugInfo(L, "n", &ar) && ar.name) gLog.commandName = ar.name;
}

// Sums the loop's values into r10 and answers r10 and a value set after the loop (7).
const char *kLoopChunk = R"(
    getglobal r1 "countthenfail"
    loadnil   r2 r3
    loadk     r10 0
    tforprep  r1 iterate
each:
    add       r10 r10 r3
iterate:
    tforloop  r1 0
    jmp       each
    loadk     r11 7
    return    r10 3
)";

class IteratorErrorTest : public VMTest {
protected:
    void SetUp() override
    {
        VMTest::SetUp();
        gLog = IteratorErrorLog{};
        Register("countthenfail", CountThenFail);
    }
};

}  // namespace

TEST_F(IteratorErrorTest, RaisedErrorEndsTheRunNamingTheIterator)
{
    lvVMHost host{};
    host.HandleCommandError = [](lvState *L, int code) {
        RecordCommandError(L, code);
        RaiseError(L, code);
    };
    SetVMHost(&host);
    EXPECT_EQ(Run(kLoopChunk), ERR_READFILE);
    EXPECT_EQ(gLog.iteratorCalls, 3);
    EXPECT_EQ(gLog.handledCodes, 1);
    EXPECT_EQ(gLog.lastCode, ERR_READFILE);
    // Handled before the iterator's call record is gone, as for a call instruction.
    EXPECT_EQ(gLog.commandName, "countthenfail");
}

TEST_F(IteratorErrorTest, DefaultHostRaisesTheCode)
{
    EXPECT_EQ(Run(kLoopChunk), ERR_READFILE);
    EXPECT_EQ(gLog.iteratorCalls, 3);
}

TEST_F(IteratorErrorTest, RecordedErrorEndsTheLoopAndTheScriptGoesOn)
{
    lvVMHost host{};
    host.HandleCommandError = RecordCommandError;  // records only, as with ExitOnError(False)
    SetVMHost(&host);
    ASSERT_EQ(Run(kLoopChunk), 0);
    EXPECT_EQ(Num(-2), 1 + 2) << "the values before the error count, nothing after it";
    EXPECT_EQ(Num(-1), 7) << "the code after the loop ran";
    EXPECT_EQ(gLog.iteratorCalls, 3);
    EXPECT_EQ(gLog.handledCodes, 1);
}

TEST_F(IteratorErrorTest, ScriptErrorHandlerComesFirst)
{
    struct Case {
        int handlerAnswer;   // what RunErrorHandler answers (0: the handler dealt with it)
        int status;          // the run's status
        int handledCodes;    // calls of HandleCommandError after the handler
    } cases[] = {
        {0, 0, 0},
        {ERR_READFILE, ERR_READFILE, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.handlerAnswer);
        gLog = IteratorErrorLog{};
        static int answer;
        answer = c.handlerAnswer;
        lvVMHost host{};
        host.HandleCommandError = [](lvState *L, int code) {
            RecordCommandError(L, code);
            RaiseError(L, code);
        };
        host.CanRunErrorHandler = [](lvState *) { return 1; };
        host.RunErrorHandler = [](lvState *, int code) {
            gLog.handlerRuns++;
            gLog.handlerCodes.push_back(code);
            return answer;
        };
        SetVMHost(&host);
        SetStackTop(L, 0);
        EXPECT_EQ(Run(kLoopChunk), c.status);
        EXPECT_EQ(gLog.handlerRuns, 1);
        EXPECT_EQ(gLog.handlerCodes, std::vector<int>{ERR_READFILE});
        EXPECT_EQ(gLog.handledCodes, c.handledCodes);
        if (c.status == 0) {
            EXPECT_EQ(Num(-1), 7);
        }
    }
}
