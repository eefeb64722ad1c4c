// The verifier as a safety boundary and the faults it once let through: the iterator
// loop's result area, open results taken from above, nested coroutine resumes, errors
// raised on a suspended coroutine, the loader and lvdis reading the same strings, and
// opcodes the older tests left out. The verifier, the assembler's rules and the
// tests' own rule reading are held to one verdict on each case.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "tests/tools/asm_verifier.h"
#include "tests/vm/vm_test_util.h"

namespace {

// The three verdicts on one chunk: the machine's loader, the assembler's rules (on the
// chunk read back), and the tests' independent rule checker.
struct Verdicts {
    bool loader;
    bool assembler;
    bool checker;
};

Verdicts Judge(lvState *L, const std::vector<uint8_t> &bytes)
{
    Verdicts v{};
    int st = LoadChunkBuffer(L, bytes.data(), bytes.size(), "=judge");
    v.loader = st == 0;
    if (st == 0) SetStackTop(L, -2);
    lvAsmChunk chunk;
    std::string error;
    if (AsmReadChunk(bytes.data(), bytes.size(), chunk, error)) {
        std::vector<lvAsmProblem> problems;
        v.assembler = AsmCheckFunction(chunk.main, nullptr, problems);
    }
    v.checker = VerifyTestChunk(bytes).empty();
    return v;
}

// Native iterator: answers as many values as the loop asked for (its C + 1), the first
// being the control value + 1 until it reaches 3.
int CountingIterator(lvState *L)
{
    double n = ValueToNumber(L, 2) + 1;
    if (n > 3) {
        PushNil(L);
        return 1;
    }
    if (!EnsureStackSpace(L, 120)) return ERR_STACK;
    for (int k = 0; k < 120; k++) PushNumber(L, n);
    return 120;
}

}  // namespace

TEST_F(VMTest, IteratorLoopResultsMustFitTheFrame)
{
    // tforloop rA C writes its call slots up to A+C+5 and its C+1 results up to A+2C+3.
    struct Row {
        int a, c, stack;
        bool ok;
    };
    const Row rows[] = {
        {0, 0, 6, true},     {0, 0, 5, false},    // call slots decide: A+C+5 = 5
        {0, 2, 8, true},     {0, 2, 7, false},    // both 7
        {0, 3, 10, true},    {0, 3, 9, false},    // results decide: A+2C+3 = 9
        {1, 100, 205, true}, {1, 100, 204, false},
        {0, 100, 106, false},                     // once accepted (A+C+5 < 106): wrote 97 slots past the frame
    };
    for (const Row &r : rows) {
        std::string text = ".unchecked\n.stack " + std::to_string(r.stack) + "\n    tforloop r" +
                           std::to_string(r.a) + " " + std::to_string(r.c) + "\n    jmp end\nend:\n    return r0 1\n";
        Verdicts v = Judge(L, AssembleOrFail(text));
        EXPECT_EQ(v.loader, r.ok) << text;
        EXPECT_EQ(v.assembler, r.ok) << text;
        EXPECT_EQ(v.checker, r.ok) << text;
    }
    // The assembler sizes the frame for the whole area by itself.
    std::vector<uint8_t> sized = AssembleOrFail("    tforloop r1 100\n    jmp end\nend:\n    return r0 1\n");
    EXPECT_TRUE(Judge(L, sized).loader);
}

TEST_F(VMTest, IteratorLoopWithManyResultsStaysInsideItsFrame)
{
    // A native iterator answering more values than asked: only C+1 are kept, at the
    // top of the frame the verifier allows (ASan reports any write beyond it). Like any
    // call, it may overwrite the registers above its slot, so the sums live below r10.
    Register("iter", CountingIterator);
    ASSERT_EQ(Run(R"(
    loadk     r3 0
    loadk     r4 0
    getglobal r10 "iter"
    loadnil   r11 r12
    loadk     r12 0
    jmp       test
body:
    add       r3 r3 r12
    add       r4 r4 r111
test:
    tforloop  r10 100
    jmp       body
    return    r3 3
)"), 0);
    EXPECT_EQ(Num(-2), 1 + 2 + 3);
    EXPECT_EQ(Num(-1), 1 + 2 + 3);
}

TEST_F(VMTest, IteratorLoopOnceWrotePastTheStack)
{
    // Accepted while only A+C+5 was bounded: the call's 245 results (one value and 244
    // nils) were written from r247 to r491, past the stack block itself (a heap overflow
    // under ASan). Now the loader refuses it.
    Register("iter", [](lvState *L) {
        PushNumber(L, 1);
        return 1;
    });
    EXPECT_EQ(Run(R"(
.unchecked
.stack 250
    getglobal r0 "iter"
    tforloop  r0 244
    jmp       done
done:
    return    r0 1
)"), ERR_BADBYTECODE);
}

TEST_F(VMTest, OpenResultsMayOnlyBeTakenFromAtOrBelowTheOpenCall)
{
    struct Row {
        const char *taker;
        bool ok;
    };
    const Row rows[] = {
        {"call r2 0 1", true},      {"call r1 0 1", true},      {"call r3 0 1", false},
        {"tailcall r3 0 1", false}, {"catchcall r4 0 1", false},
        {"return r2 0", true},      {"return r0 0", true},      {"return r3 0", false},
        {"setlisto r1 0 1", true},  {"setlisto r2 0 1", true},  {"setlisto r3 0 1", false},
    };
    for (const Row &r : rows) {
        std::string text = ".unchecked\n.stack 8\n    call r2 1 0\n    " + std::string(r.taker) + "\n    return r0 1\n";
        Verdicts v = Judge(L, AssembleOrFail(text));
        EXPECT_EQ(v.loader, r.ok) << r.taker;
        EXPECT_EQ(v.assembler, r.ok) << r.taker;
        EXPECT_EQ(v.checker, r.ok) << r.taker;
    }
}

TEST_F(VMTest, CallAboveOpenResultsCannotFreeItsOwnClosure)
{
    // Once accepted: "nothing" leaves no results, so the top stays at r2; the call of r5
    // with B = 0 then cleared the frame from r2 up, the callee's own slot included, and
    // the collection inside the callee freed the closure that getglobal then read.
    Register("nothing", [](lvState *) { return 0; });
    Register("collect", [](lvState *L) {
        RunFullCollection(L);
        return 0;
    });
    const char *text = R"(
.unchecked
    closure   r5 victim
    getglobal r2 "nothing"
    call      r2 1 0
    call      r5 0 1
    return    r0 1
.function victim
    getglobal r0 "collect"
    call      r0 1 1
    getglobal r0 "nothing"
    return    r0 2
.end
)";
    EXPECT_EQ(Run(text), ERR_BADBYTECODE);
}

TEST_F(VMTest, JumpRequestAfterAnOpenCallLeavesNoOpenTop)
{
    // A command answering a jump request from an open call: the label's code must not see
    // a top below its registers (the call of r4 with B = 0 there gets the frame's top).
    Register("jump", [](lvState *) {
        gVMRun.jumpRequestOffset = 1;
        return LV_JUMPREQUEST;
    });
    Register("count", [](lvState *L) {
        PushNumber(L, GetStackTop(L));
        return 1;
    });
    ASSERT_EQ(Run(R"(
.stack 8
    getglobal r4 "count"
    getglobal r0 "jump"
    call      r0 1 0
    return    r0 0
    call      r4 0 2
    return    r4 2
)"), 0);
    EXPECT_EQ(Num(-1), 3);  // r5..r7: the arguments up to the frame's top
}

TEST_F(VMTest, NestedCoroutineResumesStopAtTheNativeCallLimit)
{
    // Each coroutine resumes a new one running the same function, counting the depth in a
    // global; the innermost resume that fails answers its code as the result.
    Register("create", [](lvState *L) {
        lvState *co = PushNewThread(L);
        PushCopy(L, 1);
        MoveValues(L, co, 1);
        return 1;
    });
    Register("resume", [](lvState *L) {
        lvState *co = ValueToThread(L, 1);
        int code = ResumeThread(co, 0);
        if (code != 0) PushNumber(L, code);
        else if (GetStackTop(co) > 0) MoveValues(co, L, 1);
        else PushNil(L);
        return 1;
    });
    ASSERT_EQ(Run(R"(
    closure   r0 dive
    setglobal r0 "dive"
    loadk     r1 0
    setglobal r1 "depth"
    call      r0 1 2
    getglobal r1 "depth"
    return    r0 3
.function dive
    getglobal r0 "depth"
    add       r0 r0 1
    setglobal r0 "depth"
    getglobal r0 "create"
    getglobal r1 "dive"
    call      r0 2 2
    getglobal r1 "resume"
    move      r2 r0
    call      r1 2 2
    return    r1 2
.end
)"), 0);
    // The main function runs at native depth 1 (its protected call) and coroutine k at
    // depth k + 1: coroutines 1..198 ran, and the resume that would have reached the
    // limit of 200 answered ERR_STACK, which every level passed up as its own result.
    EXPECT_EQ(Num(-2), ERR_STACK);
    EXPECT_EQ(Num(-1), 199);  // dive ran in the main function and in coroutines 1..198
}

TEST_F(VMTest, ErrorOnASuspendedCoroutineGoesThroughTheNormalPath)
{
    // Pushing more values than a suspended coroutine's frame allows raised ERR_STACK on
    // the coroutine, which has no trap: the process ended with exit code 1.
    Register("pushonto", [](lvState *L) {
        lvState *co = ValueToThread(L, 1);
        for (int k = 0; k < 40; k++) PushNumber(co, k);
        return 0;
    });
    Register("create", [](lvState *L) {
        lvState *co = PushNewThread(L);
        (void)co;
        return 1;
    });
    ASSERT_EQ(Run(R"(
    getglobal r0 "create"
    call      r0 1 2
    getglobal r1 "pushonto"
    move      r2 r0
    call      r1 2 1
    return    r0 1
)"), ERR_STACK);
    // The machine goes on: the main state runs the next chunk.
    SetStackTop(L, 0);
    ASSERT_EQ(Run("    loadk r0 7\n    return r0 2\n"), 0);
    EXPECT_EQ(Num(-1), 7);
}

TEST_F(VMTest, LoaderAndDisassemblerReadStringsAlike)
{
    // An 8-byte length with high bits set counts by its low 32 bits; a string's last byte
    // stands for the terminating zero whatever it holds. Both readers take both chunks.
    std::vector<uint8_t> base = AssembleOrFail(".lensize 8\n    loadk r0 \"ab\"\n    return r0 2\n");
    // The constant's length field: find the 8-byte length 3 followed by "ab\0".
    const uint8_t needle[] = {3, 0, 0, 0, 0, 0, 0, 0, 'a', 'b', 0};
    auto at = std::search(base.begin(), base.end(), std::begin(needle), std::end(needle));
    ASSERT_NE(at, base.end());
    size_t off = size_t(at - base.begin());
    struct Row {
        const char *what;
        size_t index;
        uint8_t value;
    };
    const Row rows[] = {{"high length bits", off + 5, 0x80}, {"last byte not zero", off + 10, 'c'}};
    for (const Row &r : rows) {
        std::vector<uint8_t> bytes = base;
        bytes[r.index] = r.value;
        ASSERT_EQ(LoadChunkBuffer(L, bytes.data(), bytes.size(), "=t"), 0) << r.what;
        ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0) << r.what;
        EXPECT_EQ(Str(-1), "ab") << r.what;
        SetStackTop(L, 0);
        std::string text, error;
        ASSERT_TRUE(AsmDisassembleBytes(bytes.data(), bytes.size(), text, error)) << r.what << ": " << error;
        EXPECT_NE(text.find("\"ab\""), std::string::npos) << text;
    }
}

TEST_F(VMTest, TestOpcodeFalsity)
{
    // test r1 r0 0 runs "loadk r2 1" when r0 is true and jumps over it when false; falsity: nil, false, 0, -0, a
    // string starting with a zero byte. NaN and the empty table are true.
    struct Row {
        const char *load;
        bool isFalse;
    };
    const Row rows[] = {
        {"loadnil r0 r0", true},  {"loadk r0 0", true},        {"loadk r0 -0", true},
        {"loadk r0 \"\"", true},  {"loadk r0 \"\\0x\"", true}, {"loadk r0 nan", false},
        {"loadk r0 1", false},    {"loadk r0 \"0\"", false},   {"newtable r0 0 0", false},
    };
    for (const Row &r : rows) {
        SetStackTop(L, 0);
        std::string text = "    " + std::string(r.load) +
                           "\n    loadk r2 0\n    test r1 r0 0\n    jmp skip\n    loadk r2 1\nskip:\n    return r2 2\n";
        ASSERT_EQ(Run(text), 0) << r.load;
        EXPECT_EQ(Num(-1), r.isFalse ? 0 : 1) << r.load;
    }
    // Boolean false comes from a command: there is no literal.
    Register("no", [](lvState *L) {
        PushBoolean(L, 0);
        return 1;
    });
    SetStackTop(L, 0);
    ASSERT_EQ(Run("    getglobal r0 \"no\"\n    call r0 1 2\n    loadk r2 0\n    test r1 r0 0\n    jmp skip\n"
                  "    loadk r2 1\nskip:\n    return r2 2\n"),
              0);
    EXPECT_EQ(Num(-1), 0);
}

TEST_F(VMTest, OpenListSetterCloseAndCatchingTailCall)
{
    Register("three", [](lvState *L) {
        PushNumber(L, 1);
        PushNumber(L, 2);
        PushNumber(L, 3);
        return 3;
    });
    Register("fail", [](lvState *) -> int { return ERR_WRONGOP; });
    ASSERT_EQ(Run(R"(
    newtable  r0 0 0
    getglobal r1 "three"
    call      r1 1 0
    setlisto  r0 0 1
    loadk     r5 5
    closure   r6 get
    capture   r5
    close     r5
    loadk     r5 6
    gettable  r1 r0 2
    move      r2 r6
    call      r2 1 2
    closure   r3 tail
    call      r3 1 0
    return    r1 0
.function get
.upvalues 1
    getupval  r0 u0
    return    r0 2
.end
.function tail
    getglobal r0 "fail"
    catchtailcall r0 1 0
    return    r0 0
.end
)"), 0);
    // setlisto stored 1, 2, 3 at 0..2; close kept 5 in the closure although r3 became 6;
    // the catching tail call answered the command's code as its only result.
    ASSERT_EQ(GetStackTop(L), 3);
    EXPECT_EQ(Num(1), 3);
    EXPECT_EQ(Num(2), 5);
    EXPECT_EQ(Num(3), ERR_WRONGOP);
}

TEST_F(VMTest, EqualityOfNilAgainstATable)
{
    // eq compares a nil register with a table register (not nil with nil).
    ASSERT_EQ(Run(R"(
    newtable  r1 0 0
    loadk     r2 0
    eq        1 r0 r1
    jmp       same
    loadk     r2 1
same:
    eq        0 r0 r0
    jmp       differ
    add       r2 r2 10
differ:
    return    r2 2
)"), 0);
    EXPECT_EQ(Num(-1), 11);  // nil ~= table, nil == nil
}
