// The interpreter: assembled programs for calls, closures, loops, tables,
// varargs, every arithmetic and comparison opcode, tail calls, Gosub, and the
// native command convention (results, 1683, error codes, the catching call
// form and jump requests).
#include <cmath>

#include "tests/vm/vm_test_util.h"

TEST_F(VMTest, RecursiveFibonacci)
{
    ASSERT_EQ(Run(R"(
    closure   r0 fib
    setglobal r0 "fib"
    loadk     r1 20
    call      r0 2 2
    return    r0 2
.function fib
.params 1
    lt        1 r0 2
    jmp       small
    getglobal r1 "fib"
    sub       r2 r0 1
    call      r1 2 2
    getglobal r2 "fib"
    sub       r3 r0 2
    call      r2 2 2
    add       r1 r1 r2
    return    r1 2
small:
    return    r0 2
.end
)"), 0);
    EXPECT_EQ(Num(-1), 6765);
}

TEST_F(VMTest, ClosuresShareAnUpvalueOpenAndClosed)
{
    ASSERT_EQ(Run(R"(
    loadk     r0 0
    closure   r1 inc
    capture   r0
    closure   r2 get
    capture   r0
    move      r3 r1
    call      r3 1 1
    return    r1 3
.function inc
.upval "c"
    getupval  r0 u0
    add       r0 r0 1
    setupval  r0 u0
    return    r0 1
.end
.function get
.upval "c"
    getupval  r0 u0
    return    r0 2
.end
)"), 0);
    ASSERT_EQ(GetStackTop(L), 2);
    // The frame is gone: both closures now share the closed upvalue.
    PushCopy(L, 1);
    ASSERT_EQ(CallFunction(L, 0, 0), 0);
    PushCopy(L, 2);
    ASSERT_EQ(CallFunction(L, 0, 1), 0);
    EXPECT_EQ(Num(-1), 2);
}

static std::string ForLoop(const char *start, const char *limitInstr)
{
    return std::string("    loadk r0 0\n    loadk r1 ") + start + "\n" + limitInstr + R"(
    loadk r3 1
    sub r1 r1 r3
    jmp test
body:
    add r0 r0 r1
test:
    forloop r1 body
    return r0 2
)";
}

TEST_F(VMTest, NumericForLoopsTakeNilAndStringLimits)
{
    ASSERT_EQ(Run(ForLoop("1", "    loadk r2 \"5\"")), 0);
    EXPECT_EQ(Num(-1), 15);
    SetStackTop(L, 0);
    ASSERT_EQ(Run(ForLoop("-3", "    loadnil r2 r2")), 0);
    EXPECT_EQ(Num(-1), -6);
    SetStackTop(L, 0);
    EXPECT_EQ(Run(ForLoop("1", "    newtable r2 0 0")), ERR_VALUEEXPECTED);
}

TEST_F(VMTest, TableConstructorFillsFromIndexZero)
{
    ASSERT_EQ(Run(R"(
    newtable  r0 3 0
    loadk     r1 10
    loadk     r2 20
    loadk     r3 30
    setlist   r0 0 3
    return    r0 2
)"), 0);
    for (int i = 0; i < 3; i++) {
        GetTableItemRaw(L, 1, i);
        EXPECT_EQ(Num(-1), (i + 1) * 10);
        SetStackTop(L, 1);
    }
    GetTableItemRaw(L, 1, 3);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

TEST_F(VMTest, VarargTableHoldsExtrasFromZeroWithCount)
{
    ASSERT_EQ(Run(R"(
    closure   r0 va
    loadk     r1 "a"
    loadk     r2 "b"
    loadk     r3 "c"
    loadk     r4 "d"
    call      r0 5 0
    return    r0 0
.function va
.params 1
.vararg
    gettable  r2 r1 "n"
    gettable  r3 r1 0
    gettable  r4 r1 2
    return    r2 4
.end
)"), 0);
    ASSERT_EQ(GetStackTop(L), 3);
    EXPECT_EQ(Num(1), 3);
    EXPECT_EQ(Str(2), "b");
    EXPECT_EQ(Str(3), "d");
}

TEST_F(VMTest, MissingFieldRaisesWithItsNameButMissingGlobalIsNil)
{
    EXPECT_EQ(Run(R"(
    newtable  r0 0 0
    gettable  r1 r0 "missing"
    return    r1 2
)"), ERR_FIELDINIT);
    EXPECT_STREQ(gVMRun.errorStringArg, "\"missing\"");
    EXPECT_EQ(Run(R"(
    newtable  r0 0 0
    gettable  r1 r0 5
    return    r1 2
)"), ERR_FIELDINIT);
    EXPECT_STREQ(gVMRun.errorStringArg, "5");
    ASSERT_EQ(Run(R"(
    getglobal r0 "nosuchglobal"
    return    r0 2
)"), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

TEST_F(VMTest, IndexFunctionAnsweringNilGivesNil)
{
    Register("setmeta", [](lvState *L) {
        PushCopy(L, 2);
        AssignMetatable(L, 1);
        return 0;
    });
    ASSERT_EQ(Run(R"(
    newtable  r0 0 0
    newtable  r1 0 0
    closure   r2 answer
    settable  r1 "__index" r2
    getglobal r3 "setmeta"
    move      r4 r0
    move      r5 r1
    call      r3 3 1
    gettable  r6 r0 "anything"
    return    r6 2
.function answer
.params 2
    loadnil   r2 r2
    return    r2 2
.end
)"), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}

TEST_F(VMTest, EveryArithmeticOpcode)
{
    ASSERT_EQ(Run(R"(
    loadk     r0 7
    loadk     r1 2
    add       r2 r0 r1
    sub       r3 r0 r1
    mul       r4 r0 r1
    div       r5 r0 r1
    intdiv    r6 r0 r1
    mod       r7 r0 r1
    shl       r8 r0 r1
    shr       r9 r0 r1
    or        r10 r0 r1
    and       r11 r0 r1
    xor       r12 r0 r1
    pow       r13 r0 r1
    unm       r14 r0
    not       r15 r0
    bnot      r16 r1
    intdiv    r17 -7 2
    mod       r18 -7 2
    add       r19 "$10" nil
    return    r2 19
)"), 0);
    const double expect[] = {9, 5, 14, 3.5, 3, 1, 28, 1, 7, 2, 5, 49, -7, 0, 4294967293.0, -3, -1, 16};
    ASSERT_EQ(GetStackTop(L), 18);
    for (int i = 0; i < 18; i++) EXPECT_EQ(Num(i + 1), expect[i]) << "result " << i;
    SetStackTop(L, 0);
    EXPECT_EQ(Run("    loadk r0 5\n    intdiv r0 r0 0.5\n    return r0 2\n"), ERR_ZERODIVISION);
    EXPECT_EQ(Run("    loadk r0 5\n    div r0 r0 0\n    return r0 2\n"), ERR_ZERODIVISION);
    EXPECT_EQ(Run("    newtable r0 0 0\n    add r0 r0 1\n    return r0 2\n"), ERR_WRONGOP);
}

// Each comparison leaves 1 or 0 through the jump that follows it.
static std::string Compare(const char *op, const char *flag, const char *b, const char *c, int reg)
{
    std::string r = "r" + std::to_string(reg);
    std::string l = "t" + std::to_string(reg);
    return std::string("    ") + op + " " + flag + " " + b + " " + c + "\n    jmp " + l + "\n    loadbool " + r +
           " 0 1\n" + l + ":\n    loadbool " + r + " 1 0\n";
}

TEST_F(VMTest, EveryComparisonOpcode)
{
    std::string prog = "    loadk r10 7\n    loadk r11 2\n";
    prog += Compare("eq", "1", "r10", "7", 0);
    prog += Compare("eq", "1", "r10", "r11", 1);
    prog += Compare("lt", "1", "r11", "r10", 2);
    prog += Compare("lt", "1", "r10", "r11", 3);
    prog += Compare("le", "1", "r10", "7", 4);
    prog += Compare("lt", "1", "\"a\"", "\"b\"", 5);
    prog += Compare("eq", "1", "nil", "0", 6);
    prog += Compare("le", "1", "nil", "\"\"", 7);
    prog += Compare("eq", "0", "r10", "7", 8);
    prog += "    return r0 10\n";
    ASSERT_EQ(Run(prog), 0);
    const double expect[] = {1, 0, 1, 0, 1, 1, 1, 0, 0};
    for (int i = 0; i < 9; i++) EXPECT_EQ(Num(i + 1), expect[i]) << "comparison " << i;
    SetStackTop(L, 0);
    EXPECT_EQ(Run(Compare("eq", "1", "1", "\"1\"", 0) + "    return r0 2\n"), ERR_NUMSTRCMP);
    // nil against a table is refused; nil against nil is an ordinary comparison.
    EXPECT_EQ(Run("    newtable r1 0 0\n" + Compare("lt", "1", "nil", "r1", 0) + "    return r0 2\n"), ERR_WRONGOP);
    SetStackTop(L, 0);
    EXPECT_EQ(Run(Compare("lt", "1", "nil", "r1", 0) + "    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 0);
}

TEST_F(VMTest, TailCallsDoNotGrowCallRecords)
{
    ASSERT_EQ(Run(R"(
    closure   r0 count
    setglobal r0 "count"
    loadk     r1 100000
    call      r0 2 2
    return    r0 2
.function count
.params 1
    eq        1 r0 0
    jmp       done
    getglobal r1 "count"
    sub       r2 r0 1
    tailcall  r1 2 0
    return    r1 0
done:
    loadk     r1 "done"
    return    r1 2
.end
)"), 0);
    EXPECT_EQ(Str(-1), "done");
    EXPECT_LE(L->sizeCi, 16);
}

TEST_F(VMTest, GosubToALabelAndBack)
{
    ASSERT_EQ(Run(R"(
    loadk     r0 1
    gosub     sub
    add       r0 r0 10
    return    r0 2
sub:
    add       r0 r0 100
    retgosub
)"), 0);
    EXPECT_EQ(Num(-1), 111);
    EXPECT_EQ(gVMRun.gosubDepth, 0);
    EXPECT_EQ(Run("    retgosub\n    return r0 1\n"), ERR_RETWOGOSUB);
}

TEST_F(VMTest, GosubReturnInAnotherFunctionIsRefused)
{
    // The address pushed by main's Gosub does not belong to the nested function.
    EXPECT_EQ(Run(R"(
    closure   r0 other
    gosub     sub
    return    r0 1
sub:
    call      r0 1 1
    retgosub
.function other
    retgosub
    return    r0 1
.end
)"), ERR_RETWOGOSUB);
}

TEST_F(VMTest, GosubStackOverflowRaisesInternalError)
{
    EXPECT_EQ(Run(R"(
again:
    gosub     again
    return    r0 1
)"), ERR_INTERNAL);
    EXPECT_EQ(gVMRun.gosubDepth, LV_GOSUBSTACK_SIZE);
}

// ---- The native command convention ----------------------------------------------------------

static int CmdAbort(lvState *L)
{
    PushNumber(L, 99);  // pushed, but 1683 means no results
    return ERR_ABORT;
}
static int CmdFail(lvState *) { return ERR_NUMEXPECTED; }
static int CmdTwo(lvState *L)
{
    PushString(L, "a");
    PushString(L, "b");
    return 2;
}

TEST_F(VMTest, AbortCodeGivesNoResultsAndNoError)
{
    Register("Abort", CmdAbort);
    ASSERT_EQ(Run(R"(
    loadk     r0 5
    getglobal r1 "abort"
    call      r1 1 2
    return    r0 3
)"), 0);
    EXPECT_EQ(Num(1), 5);
    EXPECT_EQ(GetValueType(L, 2), LV_TNIL);
}

TEST_F(VMTest, ErrorCodeOfACommandIsRaised)
{
    Register("Fail", CmdFail);
    EXPECT_EQ(Run("    getglobal r0 \"fail\"\n    call r0 1 1\n    return r0 1\n"), ERR_NUMEXPECTED);
    EXPECT_EQ(gVMRun.lastError, ERR_NUMEXPECTED);
    // Through CallFunction the code is answered, not raised.
    PushCopy(L, LV_GLOBALSINDEX);
    PushString(L, "fail");
    GetTableValue(L, -2);
    EXPECT_EQ(CallFunction(L, 0, 0), ERR_NUMEXPECTED);
}

TEST_F(VMTest, CatchingCallTurnsFailureIntoItsCodeAndPrependsZero)
{
    Register("Fail", CmdFail);
    Register("Two", CmdTwo);
    ASSERT_EQ(Run(R"(
    getglobal r0 "fail"
    catchcall r0 1 2
    getglobal r1 "two"
    catchcall r1 1 4
    return    r0 5
)"), 0);
    ASSERT_EQ(GetStackTop(L), 4);
    EXPECT_EQ(Num(1), ERR_NUMEXPECTED);
    EXPECT_EQ(Num(2), 0);
    EXPECT_EQ(Str(3), "a");
    EXPECT_EQ(Str(4), "b");
}

// A count of results that a plain answer would read as an error code (1000 and above)
// travels through the counted answer: the script gets every value, in order, through a
// plain and a catching call; a plain answer of 1000 stays the error ERR_MEM.
static int CmdMany(lvState *L)
{
    int count = (int)ValueToNumber(L, 1);
    if (!EnsureStackSpace(L, count)) return ERR_STACK;
    for (int i = 0; i < count; i++) PushNumber(L, i);
    return CountedResults(L, count);
}

TEST_F(VMTest, CountedAnswersCarryAThousandResultsAndMore)
{
    Register("Many", CmdMany);
    Register("Plain1000", [](lvState *) { return 1000; });
    for (int count : {0, 999, 1000, 1500}) {
        for (const char *call : {"call", "catchcall"}) {
            SCOPED_TRACE(std::to_string(count) + " " + call);
            SetStackTop(L, 0);
            ASSERT_EQ(Run("    getglobal r0 \"many\"\n    loadk r1 " + std::to_string(count) + "\n    " + call +
                          " r0 2 0\n    return r0 0\n"),
                      0);
            int catching = std::string(call) == "catchcall";
            ASSERT_EQ(GetStackTop(L), count + catching);
            if (catching) EXPECT_EQ(Num(1), 0);
            if (count) {
                EXPECT_EQ(Num(1 + catching), 0);
                EXPECT_EQ(Num(count + catching), count - 1);
            }
        }
    }
    SetStackTop(L, 0);
    EXPECT_EQ(Run("    getglobal r0 \"plain1000\"\n    call r0 1 0\n    return r0 0\n"), ERR_MEM);
}

TEST_F(VMTest, CallingNilNamesTheVariable)
{
    EXPECT_EQ(Run("    getglobal r0 \"nosuch\"\n    call r0 1 1\n    return r0 1\n"), ERR_FUNCDECLA);
    EXPECT_STREQ(gVMRun.errorStringArg, "nosuch()");
}

// Jump requests: the command finds the label's index and asks for a Gosub to it.
static int gLabelIndex;
static int gJumperCalls;
static int CmdJumper(lvState *L)
{
    gJumperCalls++;
    gVMRun.jumpRequestOffset = gLabelIndex - gVMRun.currentCallIndex;
    return LV_JUMPREQUEST;
}
static int CmdJumpOnce(lvState *L)
{
    if (gJumperCalls++ > 0) return 0;
    gVMRun.jumpRequestOffset = gLabelIndex - gVMRun.currentCallIndex;
    return LV_JUMPREQUEST_AGAIN;
}

static const char *kJumpProgram = R"(
    loadk     r0 1
    getglobal r1 "jumper"
    call      r1 1 1
    add       r0 r0 10
    return    r0 2
target:
    add       r0 r0 100
    retgosub
)";

TEST_F(VMTest, JumpRequestsGosubToALabel)
{
    lvAsmResult r = AsmAssembleText(kJumpProgram, "jump.lvs");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.labels.size(), 1u);
    gLabelIndex = r.labels[0].index;
    for (int kind = 0; kind < 2; kind++) {
        gJumperCalls = 0;
        Register("jumper", kind == 0 ? CmdJumper : CmdJumpOnce);
        ASSERT_EQ(LoadChunkBuffer(L, r.bytes.data(), r.bytes.size(), "=jump"), 0);
        ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
        EXPECT_EQ(Num(-1), 111) << kind;
        EXPECT_EQ(gJumperCalls, kind == 0 ? 1 : 2);
        SetStackTop(L, 0);
    }
}

TEST_F(VMTest, JumpRequestFromAFunctionWithoutTheLabelsIsRefused)
{
    gLabelIndex = 0;
    Register("jumper", CmdJumper);
    ASSERT_EQ(Load(R"(
    closure   r0 nested
    call      r0 1 1
    return    r0 1
.function nested
    getglobal r0 "jumper"
    call      r0 1 1
    return    r0 1
.end
)"), 0);
    SetLabelOwner(L, -1);
    EXPECT_EQ(ProtectedCall(L, 0, 0, 0), ERR_FUNCJMP);
    // An index outside the running function is refused as well.
    SetStackTop(L, 0);
    gVMRun.labelOwner = nullptr;
    gLabelIndex = 1000;
    ASSERT_EQ(Load("    getglobal r0 \"jumper\"\n    call r0 1 1\n    return r0 1\n"), 0);
    EXPECT_EQ(ProtectedCall(L, 0, 0, 0), ERR_FUNCJMP);
}

TEST_F(VMTest, ListSetterAndMethodCallRefuseBadOperands)
{
    EXPECT_EQ(Run(R"(
.unchecked
.stack 4
    loadk     r0 1
    loadk     r1 2
    setlist   r0 0 1
    return    r0 2
)"), ERR_TABLEDECLA);
    EXPECT_EQ(Run(R"(
    newtable  r0 0 0
    self      r1 r0 5
    return    r1 2
)"), ERR_WRONGOP);
}

// Sums the values of {10, 20, 30} with a generic for over the table itself.
static const char *const kTableWalk = R"(
    newtable  r0 3 0
    loadk     r1 10
    loadk     r2 20
    loadk     r3 30
    setlist   r0 0 3
    loadk     r10 0
    move      r1 r0
    loadnil   r2 r3
    tforprep  r1 iterate
each:
    add       r10 r10 r4
iterate:
    tforloop  r1 1
    jmp       each
    return    r10 2
)";

// next(t, k) as a command, so the iterator loop has something to call.
static int NextCommand(lvState *L)
{
    SetStackTop(L, 2);
    if (NextTableEntry(L, 1)) return 2;
    PushNil(L);
    return 1;
}

TEST_F(VMTest, IteratorLoopWalksATableWithNext)
{
    Register("next", NextCommand);
    ASSERT_EQ(Run(kTableWalk), 0);
    EXPECT_EQ(Num(-1), 60);
}

TEST_F(VMTest, GenericForOverATableWithoutNextUsesNextItem)
{
    // No "next": the table library's NextItem (registered as "nextitem") walks.
    Register("nextitem", NextCommand);
    ASSERT_EQ(Run(kTableWalk), 0);
    EXPECT_EQ(Num(-1), 60);
    // A script's own "next" is kept: this one ends the walk at once.
    SetStackTop(L, 0);
    Register("next", [](lvState *L) {
        PushNil(L);
        return 1;
    });
    ASSERT_EQ(Run(kTableWalk), 0);
    EXPECT_EQ(Num(-1), 0);
}

TEST(VMSizeHints, ConstructorHintsAreClampedToTheTableLimits)
{
    EXPECT_EQ(ArraySizeHint(0), 0);
    EXPECT_EQ(ArraySizeHint(3), 3);
    EXPECT_EQ(ArraySizeHint(8 + 3), 6);
    EXPECT_EQ(ArraySizeHint(8 * 21 + 1), 1 << 21);
    EXPECT_EQ(ArraySizeHint(8 * 31 + 1), 1 << 24);  // 2^31 would overflow an int
    EXPECT_EQ(ArraySizeHint(511), 1 << 24);         // 7 * 2^63
    EXPECT_EQ(HashSizeHint(4), 4);
    EXPECT_EQ(HashSizeHint(300), 24);
}

TEST_F(VMTest, TagMethodAnsweringFalseCountsAsFalse)
{
    // Two tables share a metatable whose __eq and __lt answer the boolean false.
    PushNewTable(L);
    PushNewTable(L);
    PushNewTable(L);  // 3: metatable
    for (const char *ev : {"__eq", "__lt", "__le"}) {
        PushString(L, ev);
        PushNativeClosure(L, [](lvState *L) { PushBoolean(L, 0); return 1; }, 0);
        SetTableValueRaw(L, 3);
    }
    PushCopy(L, 3);
    AssignMetatable(L, 1);
    PushCopy(L, 3);
    AssignMetatable(L, 2);
    EXPECT_EQ(ValuesEqual(L, 1, 2), 0);
    EXPECT_EQ(ValueLessThan(L, 1, 2, 0), 0);
    EXPECT_EQ(LessEqualValues(L, L->base, L->base + 1), 0);
}

TEST_F(VMTest, YieldAnswerWithoutYieldingIsRefused)
{
    Register("rogue", [](lvState *) { return LV_YIELD; });
    EXPECT_EQ(Run("    getglobal r0 \"rogue\"\n    call r0 1 1\n    return r0 1\n"), ERR_BADYIELD);
    EXPECT_EQ(L->ci, L->baseCi);
    ASSERT_EQ(Run("    loadk r0 3\n    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 3);
}

// t.k = v where t's metatable M has __newindex = M, and M's own metatable has a
// __newindex function: storing into M rehashes M while the chain is followed.
TEST_F(VMTest, NewIndexChainSurvivesARehashOfTheMetatable)
{
    static int calls;
    calls = 0;
    PushNewTable(L);  // 1: t
    PushNewTable(L);  // 2: M
    PushNewTable(L);  // 3: MM
    PushString(L, "__newindex");
    PushNativeClosure(L, [](lvState *L) { calls++; return 0; }, 0);
    SetTableValueRaw(L, 3);
    PushString(L, "__newindex");
    PushCopy(L, 2);
    SetTableValueRaw(L, 2);
    PushCopy(L, 3);
    AssignMetatable(L, 2);
    PushCopy(L, 2);
    AssignMetatable(L, 1);
    PushString(L, "k");
    PushNumber(L, 1);
    SetTableValue(L, 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(GetStackTop(L), 3);
}

TEST_F(VMTest, StoringIntoANonTableNamesTheVariable)
{
    EXPECT_EQ(Run("    getglobal r0 \"notatable\"\n    settable r0 \"x\" 1\n    return r0 1\n"), ERR_TABLEDECLA);
    EXPECT_STREQ(gVMRun.errorStringArg, "notatable{}");
}
