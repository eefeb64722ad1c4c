// The text assembler: programs assemble to the expected words, labels and nested
// functions resolve, what it writes obeys the machine's operand rules (checked by the
// independent reader in asm_verifier.cpp), and errors name the line and the fault.
#include "tests/tools/asm_verifier.h"
#include "tools/lvasm/lvasm.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

static std::string ReadSource(const std::string &relative)
{
    return ReadTestFile(std::string(LV_SOURCE_DIR) + "/" + relative);
}

static lvAsmResult MustAssemble(const std::string &text)
{
    lvAsmResult r = AsmAssembleText(text, "t.lvs");
    EXPECT_TRUE(r.ok) << JoinLines(r.errors);
    return r;
}

// ---------------------------------------------------------------------------------
// Programs
// ---------------------------------------------------------------------------------

TEST(AsmAssembler, ThirtyLineProgram)
{
    lvAsmResult r = MustAssemble(ReadSource("tests/tools/asm_fixtures/program30.lvs"));
    ASSERT_TRUE(r.ok);
    const lvAsmFunction &m = r.chunk.main;
    EXPECT_EQ(*m.source, "@program30.lvs");
    ASSERT_EQ(m.code.size(), 18u);
    ASSERT_EQ(m.functions.size(), 1u);
    EXPECT_EQ(m.functions[0].upvalueCount, 1);
    EXPECT_EQ(m.functions[0].paramCount, 1);
    EXPECT_FALSE(m.functions[0].source.has_value());  // nested functions share the main source
    // jmp test (index 5) lands on the forloop at index 7: offset +1.
    EXPECT_EQ(m.code[5], AsmEncodeJump(1, false));
    // forloop at 7 back to body at 6: sBx -2.
    EXPECT_EQ(m.code[7], AsmEncodeAsBx(ASMOP_FORLOOP, 1, -2));
    EXPECT_EQ(m.code[8], AsmEncodeABx(ASMOP_CLOSURE, 4, 0));
    EXPECT_EQ(m.code[9], AsmEncodeCaptureRegister(0));
    // gosub at 12 to report at 14: offset +1, marked.
    EXPECT_EQ(m.code[12], AsmEncodeJump(1, true));
    EXPECT_EQ(m.code[17], AsmEncodeABC(ASMOP_RETURN, 0, 0, 1));
    // Constants are pooled: 0, 1, 10, 32, "debugprint".
    ASSERT_EQ(m.constants.size(), 5u);
    EXPECT_EQ(m.code[1], AsmEncodeABx(ASMOP_LOADK, 1, 1));
    EXPECT_EQ(m.code[3], AsmEncodeABx(ASMOP_LOADK, 3, 1));
    EXPECT_EQ(m.locals.size(), 1u);
    EXPECT_EQ(m.locals[0].startPc, 1);
    EXPECT_EQ(m.locals[0].endPc, 18);
    // Lines default to the text lines of the source.
    ASSERT_EQ(m.lineInfo.size(), m.code.size());
    EXPECT_EQ(m.lineInfo[0], 5);
    // Label map of the main function.
    std::string map = AsmFormatLabelMap(r.labels);
    EXPECT_EQ(map, "body 6\ntest 7\nreport 14\ndone 18\n");
    EXPECT_EQ(JoinLines(VerifyTestChunk(r.bytes)), "");
}

TEST(AsmAssembler, EveryOpcodeAssemblesWithinTheRules)
{
    lvAsmResult r = MustAssemble(ReadSource("tests/tools/asm_fixtures/allops.lvs"));
    ASSERT_TRUE(r.ok);
    bool seen[ASMOP_COUNT] = {};
    std::vector<const lvAsmFunction *> todo = {&r.chunk.main};
    while (!todo.empty()) {
        const lvAsmFunction *f = todo.back();
        todo.pop_back();
        for (uint32_t w : f->code) seen[AsmGetOpcode(w)] = true;
        for (const lvAsmFunction &n : f->functions) todo.push_back(&n);
    }
    for (int op = 0; op < ASMOP_COUNT; op++) EXPECT_TRUE(seen[op]) << AsmOpcodeName(op);
    EXPECT_EQ(JoinLines(VerifyTestChunk(r.bytes)), "");
}

TEST(AsmAssembler, StackSizeIsComputedFromOperands)
{
    const struct { const char *src; int stack; } rows[] = {
        {"    return r0 1\n", 2},
        {"    move r7 r0\n    return r0 1\n", 8},
        {"    call r3 4 5\n    return r0 1\n", 7},           // arguments r4..r6, results r3..r6
        {"    return r2 5\n", 6},                             // values r2..r5
        {"    setlist r1 0 4\n    return r0 1\n", 6},         // items r2..r5
        {"    forloop r5 l\nl:\n    return r0 1\n", 8},       // r5..r7
        {"    tforloop r1 2\n    jmp l\nl:\n    return r0 1\n", 9},
        {"    self r4 r0 \"m\"\n    return r0 1\n", 6},
        {".params 5\n.vararg\n    return r0 1\n", 6},
        {"    add r1 r9 1\n    return r0 1\n", 10},
        {".stack 40\n    return r0 1\n", 40},
    };
    for (const auto &row : rows) {
        lvAsmResult r = MustAssemble(row.src);
        EXPECT_EQ(r.chunk.main.maxStackSize, row.stack) << row.src;
        EXPECT_EQ(JoinLines(VerifyTestChunk(r.bytes)), "") << row.src;
    }
}

TEST(AsmAssembler, ConstantsAndOperands)
{
    lvAsmResult r = MustAssemble(
        ".const \"pre\"\n"
        "    loadk r0 \"a\\x00b\\n\"\n"
        "    loadk r0 \"pre\"\n"
        "    add r0 r0 1\n"
        "    add r0 1 1.0\n"
        "    loadk r0 0x10\n"
        "    loadk r0 -0\n"
        "    loadk r0 0\n"
        "    loadk r0 nil\n"
        "    eq 0 nil k1\n"
        "    jmp end\n"
        "end:\n"
        "    return r0 1\n");
    ASSERT_TRUE(r.ok);
    const auto &k = r.chunk.main.constants;
    ASSERT_EQ(k.size(), 7u);
    EXPECT_EQ(*k[1].text, std::string("a\0b\n", 4));
    EXPECT_EQ(k[2].number, 1.0);
    EXPECT_EQ(k[3].number, 16.0);
    EXPECT_TRUE(std::signbit(k[4].number));   // -0 is its own constant
    EXPECT_FALSE(std::signbit(k[5].number));
    EXPECT_EQ(k[6].type, ASM_CONST_NIL);
    const auto &c = r.chunk.main.code;
    EXPECT_EQ(c[1], AsmEncodeABx(ASMOP_LOADK, 0, 0));  // "pre" reuses the pool entry
    EXPECT_EQ(c[3], AsmEncodeABC(ASMOP_ADD, 0, 252, 252));  // 1 and 1.0 are one constant
    EXPECT_EQ(c[8], AsmEncodeABC(ASMOP_EQ, 0, 256, 251));
}

TEST(AsmAssembler, LineDirectives)
{
    lvAsmResult r = MustAssemble(
        "    move r0 r0\n"
        ".line 40\n"
        "    move r0 r0\n"
        "    move r0 r0\n"
        ".line auto\n"
        "    return r0 1\n"
        ".function f\n"
        ".nolines\n"
        "    return r0 1\n"
        ".end\n");
    EXPECT_EQ(r.chunk.main.lineInfo, (std::vector<int32_t>{1, 40, 40, 6}));
    EXPECT_TRUE(r.chunk.main.functions[0].lineInfo.empty());
    EXPECT_EQ(r.chunk.main.functions[0].lineDefined, 7);
}

TEST(AsmAssembler, HeaderDirectives)
{
    lvAsmResult r = MustAssemble(".endian 0\n.lensize 8\n.check 1.5\n.headerbyte 9 7\n    return r0 1\n");
    const std::vector<uint8_t> &b = r.bytes;
    ASSERT_GT(b.size(), 30u);
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(b[6], 8);
    EXPECT_EQ(b[9], 7);
    const uint8_t check[8] = {0x3F, 0xF8, 0, 0, 0, 0, 0, 0};  // 1.5 big-endian
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 13, b.begin() + 21), std::vector<uint8_t>(check, check + 8));
    // Source length "@t.lvs" + zero = 7, as an 8-byte big-endian length.
    const uint8_t len[8] = {0, 0, 0, 0, 0, 0, 0, 7};
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 21, b.begin() + 29), std::vector<uint8_t>(len, len + 8));
}

TEST(AsmAssembler, UncheckedFunctionsPassThroughAndTheRulesCatchThem)
{
    lvAsmResult r = MustAssemble(
        ".unchecked\n"
        ".stack 2\n"
        "    move r5 r0\n"
        "    eq 0 r0 r0\n"
        "    getupval r0 u3\n"
        "    call r0 1 0\n"
        "    move r0 r0\n"
        "    closure r0 9\n"
        "    jmp far\n"
        "far:\n");
    ASSERT_TRUE(r.ok);
    std::string problems = JoinLines(VerifyTestChunk(r.bytes));
    for (const char *want : {"A not below", "test without", "upvalue index", "open results", "closure index",
                             "jump target outside", "last instruction"})
        EXPECT_NE(problems.find(want), std::string::npos) << want << "\n" << problems;
}

// ---------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------

TEST(AsmAssembler, ErrorsNameTheLineAndTheFault)
{
    const struct { const char *src; const char *want; } rows[] = {
        {"    move r0\n", "t.lvs:1: move takes 2 operands, found 1"},
        {"    return r0 1\n    jmp nowhere\n", "t.lvs:2: unknown label 'nowhere'"},
        {"    getglobal r0 5\n    return r0 1\n", "t.lvs:1: getglobal: a global's name must be a string constant"},
        {"\n    frob r0\n", "t.lvs:2: unknown instruction 'frob'"},
        {"    loadk r0 \"abc\n", "t.lvs:1: string without its closing quote"},
        {"    loadk r0 \"\\q\"\n", "unknown escape \\q"},
        {".stack 2\n    move r5 r0\n    return r0 1\n", "t.lvs:2: move: A register 5 is not below the stack size 2"},
        {"    eq 1 r0 r1\n    return r0 1\n", "t.lvs:1: eq: a test must be followed by jmp"},
        {"    move r0 r1\n", "t.lvs:1: the last instruction must be return"},
        {"    closure r0 f\n    return r0 1\n.function f\n.upval \"x\"\n    return r0 1\n.end\n",
         "t.lvs:1: closure of f needs 1 capture line(s), found 0"},
        {"    closure r0 g\n    return r0 1\n", "t.lvs:1: no function 'g' is nested in main"},
        {"    capture r0\n    return r0 1\n", "t.lvs:1: capture must follow a closure"},
        {".function f\n    return r0 1\n", "t.lvs:1: function f has no .end"},
        {".end\n", "t.lvs:1: .end without .function"},
        {"a:\na:\n    return r0 1\n", "t.lvs:2: label 'a' is defined twice in main"},
        {"    call r0 2 0\n    move r0 r1\n    return r0 1\n", "t.lvs:1: call: open results"},
        {"    add r0 r250 1\n    return r0 1\n", "at most r249"},
        {".function f\n.endian 0\n    return r0 1\n.end\n    return r0 1\n", "t.lvs:2: .endian belongs to the chunk header"},
        {".params 1\n.params 2\n    return r0 1\n", "t.lvs:2: .params is given twice in main"},
        {"    move r251 r0\n    return r0 1\n", "main needs 252 registers, more than 250"},
        {"    jmp end\n    return r0 1\nend:\n", "t.lvs:1: jmp: jump target 2 is outside the function"},
        {"    concat r0 r2 r1\n    return r0 1\n", "t.lvs:1: concat: B must be below C"},
        {"    getupval r0 u0\n    return r0 1\n", "upvalue 0 is not below the upvalue count 0"},
        {"    loadbool r0 1 1\n    return r0 1\n", "t.lvs:1: loadbool: skips past the end"},
        {"    setlist r0 5 1\n    return r0 1\n", "multiple of 32"},
        {"    word 0x100000000\n", "word takes a 32-bit number"},
        {"    loadk r0 k3\n    return r0 1\n", "t.lvs:1: loadk: constant 3 does not exist"},
        {"    move r0 q7\n", "expected a register"},
        {"    loadk r0 12abc\n", "cannot read the number '12abc'"},
        {".upvalues 1\n.upval a\n.upval b\n    return r0 1\n", "2 upvalue names for 1 upvalues"},
    };
    for (const auto &row : rows) {
        lvAsmResult r = AsmAssembleText(row.src, "t.lvs");
        EXPECT_FALSE(r.ok) << row.src;
        EXPECT_TRUE(r.bytes.empty());
        std::string all = JoinLines(r.errors);
        EXPECT_NE(all.find(row.want), std::string::npos) << "source:\n" << row.src << "errors:\n" << all;
    }
}

TEST(AsmAssembler, RawWordsAreExemptButTheirNeighboursAreNot)
{
    // A raw word may stand anywhere, even last...
    lvAsmResult r = MustAssemble("    return r0 1\n    word 0x0000002D\n");
    EXPECT_EQ(r.chunk.main.code.back(), 0x2Du);
    // ...but a test followed by a raw word that is not a jump is still refused.
    r = AsmAssembleText("    eq 1 r0 r0\n    word 0x00000000\n    return r0 1\n", "t.lvs");
    EXPECT_FALSE(r.ok);
}

TEST(AsmAssembler, AssembleOrThrowCarriesEveryError)
{
    EXPECT_FALSE(AsmAssembleOrThrow("    return r0 1\n").empty());
    try {
        AsmAssembleOrThrow("    frob\n    move r0\n    return r0 1\n", "x.lvs");
        FAIL() << "no throw";
    } catch (const lvAsmError &e) {
        EXPECT_NE(e.message.find("x.lvs:1: unknown instruction 'frob'"), std::string::npos) << e.message;
        EXPECT_NE(e.message.find("x.lvs:2: move takes 2 operands"), std::string::npos) << e.message;
    }
}

// ---------------------------------------------------------------------------------
// The assembler's rules against the independent reading
// ---------------------------------------------------------------------------------

// Random small functions: whatever the assembler's rule check accepts, the independent
// reading of the machine's verifier must accept too.
TEST(AsmAssembler, RuleCheckNeverPassesWhatTheVerifierRejects)
{
    std::mt19937 rng(7);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };
    auto operand = [&]() { return pick(4) == 0 ? ASM_RK_CONSTANT + pick(4) : pick(8); };
    int accepted = 0;
    for (int round = 0; round < 60000; round++) {
        lvAsmChunk c;
        lvAsmFunction &f = c.main;
        f.maxStackSize = uint8_t(2 + pick(7));
        f.upvalueCount = uint8_t(pick(3));
        for (int k = pick(4); k > 0; k--) {
            lvAsmConstant kk;
            kk.type = pick(2) ? ASM_CONST_STRING : ASM_CONST_NUMBER;
            if (kk.type == ASM_CONST_STRING) kk.text = "s";
            kk.number = k;
            f.constants.push_back(kk);
        }
        for (int k = pick(3); k > 0; k--) {
            lvAsmFunction n;
            n.upvalueCount = uint8_t(pick(3));
            f.functions.push_back(n);
        }
        int size = 1 + pick(8);
        for (int pc = 0; pc < size; pc++) {
            int op = pick(ASMOP_COUNT);
            uint32_t w;
            if (op == ASMOP_JMP) w = AsmEncodeJump(pick(9) - 4, pick(2));
            else if (op == ASMOP_FORLOOP || op == ASMOP_TFORPREP) w = AsmEncodeAsBx(op, pick(8), pick(9) - 4);
            else if (op == ASMOP_LOADK || op == ASMOP_GETGLOBAL || op == ASMOP_SETGLOBAL || op == ASMOP_CLOSURE ||
                     op == ASMOP_SETLIST || op == ASMOP_SETLISTO)
                w = AsmEncodeABx(op, pick(8), pick(4));
            else w = AsmEncodeABC(op, pick(8), pick(3) == 0 ? 0 : operand(), pick(3) == 0 ? pick(3) : operand());
            f.code.push_back(w);
        }
        if (pick(2)) f.code.back() = AsmEncodeABC(ASMOP_RETURN, 0, pick(3), 0);
        std::vector<lvAsmProblem> problems;
        if (!AsmCheckFunction(f, nullptr, problems)) continue;
        accepted++;
        // The nested functions are empty and so never valid: check the main function only.
        lvAsmChunk probe = c;
        std::vector<std::string> seen;
        for (const std::string &p : VerifyTestChunk(AsmWriteChunk(probe)))
            if (p.rfind("main:", 0) == 0) seen.push_back(p);
        ASSERT_EQ(JoinLines(seen), "") << "accepted by the assembler's rules:\n" << AsmDisassemble(c);
    }
    EXPECT_GT(accepted, 200);
}

// Sources made of random pieces of the language: the assembler answers with errors or
// a chunk, never a crash or an escaping exception, and every chunk it writes reads back.
TEST(AsmAssembler, RandomSourcesNeverCrash)
{
    static const char *const pieces[] = {
        "move", "loadk", "jmp", "gosub", "forloop", "closure", "capture", "call", "return", "retgosub",
        "eq", "test", "tforloop", "newtable", "setlist", "setlisto", "word", "concat", "getupval", "self",
        ".function", ".end", ".stack", ".params", ".vararg", ".upvalues", ".upval", ".local", ".const",
        ".line", ".nolines", ".lineinfo", ".unchecked", ".endian", ".lensize", ".check", ".headerbyte",
        ".source", ".linedefined", "r0", "r1", "r249", "r250", "r255", "r600", "u0", "u9", "k0", "k300",
        "0", "1", "-1", "2", "32", "255", "511", "70000", "0x7fffffff", "1e400", "nan", "-inf", "nan:0x1",
        "\"s\"", "\"\\x41\"", "\"", "nil", "none", "auto", "a", "b", "a:", "b:", ",", ";", "\\", "@"};
    std::mt19937 rng(5);
    int assembled = 0;
    for (int round = 0; round < 3000; round++) {
        std::string src;
        int lines = 1 + int(rng() % 12);
        for (int l = 0; l < lines; l++) {
            int words = int(rng() % 5);
            for (int w = 0; w < words; w++) src += std::string(pieces[rng() % std::size(pieces)]) + " ";
            src += "\n";
        }
        if (rng() % 2) src += "    return r0 1\n";
        lvAsmResult r;
        ASSERT_NO_THROW(r = AsmAssembleText(src, "r.lvs")) << src;
        if (!r.ok) {
            ASSERT_FALSE(r.errors.empty());
            continue;
        }
        assembled++;
        lvAsmChunk back;
        std::string error;
        ASSERT_TRUE(AsmReadChunk(r.bytes.data(), r.bytes.size(), back, error)) << error << "\n" << src;
    }
    EXPECT_GT(assembled, 15);  // some random sources are well formed
}
