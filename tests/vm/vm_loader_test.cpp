// Bytecode loader, dumper and verifier: round trips of a corpus of assembled
// chunks, foreign byte orders and length sizes, truncated input, and the
// header and function-record rejections.
#include <cmath>

#include "tests/vm/vm_test_util.h"

namespace {
const char *const kCorpus[] = {
    // Nested functions sharing the main source, locals, line info, every constant type.
    R"(.source "@corpus1.lvs"
.local "x" 0 done
.line 3
    loadk     r0 1.5
    loadk     r1 "text"
    loadnil   r2 r2
    loadk     r2 nil
    closure   r3 inner
    capture   r0
    call      r3 1 2
done:
    return    r3 2
.function inner
.linedefined 7
.upval "x"
.local "y" 0 1
.line 8
    getupval  r0 u0
    closure   r1 deeper
    capture   u0
    return    r0 2
.function deeper
.linedefined 9
.upval "x"
    getupval  r0 u0
    return    r0 2
.end
.end
)",
    // No line info, no names, varargs and parameters.
    R"(.nolines
.params 2
.vararg
    add       r0 r0 r1
    return    r0 2
)",
    // Empty strings, zero bytes, negative and huge numbers.
    R"(    loadk     r0 ""
    loadk     r1 "a\0b"
    loadk     r0 -0.0
    loadk     r1 1e300
    loadk     r0 -12345.678
    return    r0 1
)",
};

std::vector<uint8_t> gDump;
int CollectDump(lvState *, const void *b, size_t n, void *)
{
    const uint8_t *p = static_cast<const uint8_t *>(b);
    gDump.insert(gDump.end(), p, p + n);
    return 0;
}

std::vector<uint8_t> Dump(lvState *L)
{
    gDump.clear();
    EXPECT_EQ(DumpFunction(L, -1, CollectDump, nullptr), 0);
    return gDump;
}

int LoadBytes(lvState *L, const std::vector<uint8_t> &b) { return LoadChunkBuffer(L, b.data(), b.size(), "=t"); }

// A chunk description for header and record tests: a main function that returns nothing.
lvAsmChunk PlainChunk()
{
    lvAsmChunk c;
    c.main.source = "@plain";
    c.main.maxStackSize = 2;
    c.main.code = {AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
    c.main.lineInfo = {1};
    return c;
}

// Reads chunks one byte a block, to exercise the buffered reader.
struct ByteReader {
    const std::vector<uint8_t> *bytes;
    size_t pos;
};
const char *ReadOneByte(lvState *, void *data, size_t *size)
{
    ByteReader *r = static_cast<ByteReader *>(data);
    if (r->pos >= r->bytes->size()) return nullptr;
    *size = 1;
    return reinterpret_cast<const char *>(r->bytes->data() + r->pos++);
}
}  // namespace

TEST_F(VMTest, DumpOfLoadGivesTheSameBytes)
{
    for (const char *text : kCorpus) {
        std::vector<uint8_t> bytes = AssembleOrFail(text);
        ASSERT_EQ(LoadBytes(L, bytes), 0) << text;
        EXPECT_EQ(Dump(L), bytes) << text;
        SetStackTop(L, 0);
        // The same through a reader that hands out one byte at a time.
        ByteReader r{&bytes, 0};
        ASSERT_EQ(LoadChunk(L, ReadOneByte, &r, "bytes"), 0);
        EXPECT_EQ(Dump(L), bytes);
        SetStackTop(L, 0);
    }
}

TEST_F(VMTest, ForeignByteOrderAndLengthSizeLoadToTheSameFunctions)
{
    lvAsmResult r = AsmAssembleText(kCorpus[0], "corpus1.lvs");
    ASSERT_TRUE(r.ok);
    for (int variant = 0; variant < 3; variant++) {
        lvAsmChunk c = r.chunk;
        if (variant != 1) {
            c.header.reversed = true;
            c.header.endianness = 0;
        }
        if (variant != 0) {
            c.header.lengthWidth = 8;
            c.header.lengthSizeByte = 8;
        }
        std::vector<uint8_t> foreign = AsmWriteChunk(c);
        ASSERT_NE(foreign, r.bytes);
        ASSERT_EQ(LoadBytes(L, foreign), 0) << "variant " << variant;
        EXPECT_EQ(Dump(L), r.bytes) << "variant " << variant;
        SetStackTop(L, 0);
    }
}

TEST_F(VMTest, EveryTruncatedPrefixGivesUnexpectedEnd)
{
    std::vector<uint8_t> bytes = AssembleOrFail(kCorpus[0]);
    for (size_t n = 0; n < bytes.size(); n++) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + n);
        ASSERT_EQ(LoadBytes(L, prefix), ERR_UNEXPECTEDEOF) << "prefix " << n;
        ASSERT_EQ(GetStackTop(L), 0) << "a failed load pushes nothing";
    }
}

TEST_F(VMTest, HeaderAndRecordRejections)
{
    struct Row {
        const char *what;
        void (*change)(lvAsmChunk &);
        int code;
    };
    const Row rows[] = {
        {"plain chunk loads", [](lvAsmChunk &) {}, 0},
        {"signature", [](lvAsmChunk &c) { c.header.signature[3] = 'X'; }, ERR_BADSIGNATURE},
        {"integer size", [](lvAsmChunk &c) { c.header.intSize = 8; }, ERR_VMMISMATCH},
        {"length size 2", [](lvAsmChunk &c) { c.header.lengthSizeByte = 2; c.header.lengthSizeOverride = true; }, ERR_VMMISMATCH},
        {"instruction size", [](lvAsmChunk &c) { c.header.instructionSize = 8; }, ERR_VMMISMATCH},
        {"opcode bits", [](lvAsmChunk &c) { c.header.opBits = 7; }, ERR_VMMISMATCH},
        {"A bits", [](lvAsmChunk &c) { c.header.aBits = 9; }, ERR_VMMISMATCH},
        {"B bits", [](lvAsmChunk &c) { c.header.bBits = 8; }, ERR_VMMISMATCH},
        {"C bits", [](lvAsmChunk &c) { c.header.cBits = 8; }, ERR_VMMISMATCH},
        {"number size", [](lvAsmChunk &c) { c.header.numberSize = 4; }, ERR_VMMISMATCH},
        {"check number 31415927", [](lvAsmChunk &c) { c.header.checkNumber = 31415927.0; }, ERR_UNKNUMFMT},
        {"check number 31415926.9", [](lvAsmChunk &c) { c.header.checkNumber = 31415926.9; }, 0},
        {"check number NaN", [](lvAsmChunk &c) { c.header.checkNumber = NAN; }, ERR_UNKNUMFMT},
        {"check number huge", [](lvAsmChunk &c) { c.header.checkNumber = 1e300; }, ERR_UNKNUMFMT},
        {"constant type 1", [](lvAsmChunk &c) { c.main.constants.push_back({1, 0, std::nullopt, {}}); }, ERR_BADCONSTANT},
        {"absent string constant", [](lvAsmChunk &c) { c.main.constants.push_back({ASM_CONST_STRING, 0, std::nullopt, {}}); }, ERR_BADCONSTANT},
        {"upvalue names fewer than upvalues",
         [](lvAsmChunk &c) { c.main.upvalueCount = 2; c.main.upvalueNames = {std::string("a")}; }, ERR_BADUPVALUES},
        {"no upvalue names at all", [](lvAsmChunk &c) { c.main.upvalueCount = 2; }, 0},
        {"negative line defined", [](lvAsmChunk &c) { c.main.lineDefined = -1; }, ERR_BADINTEGER},
        {"negative line-info count", [](lvAsmChunk &c) { c.main.lineInfoCount = -1; }, ERR_BADINTEGER},
        {"negative local count", [](lvAsmChunk &c) { c.main.localCount = -5; }, ERR_BADINTEGER},
        {"negative upvalue-name count", [](lvAsmChunk &c) { c.main.upvalueNameCount = -1; }, ERR_BADINTEGER},
        {"negative constant count", [](lvAsmChunk &c) { c.main.constantCount = -1; }, ERR_BADINTEGER},
        {"negative function count", [](lvAsmChunk &c) { c.main.functionCount = -1; }, ERR_BADINTEGER},
        {"negative code count", [](lvAsmChunk &c) { c.main.codeCount = -1; }, ERR_BADINTEGER},
        {"negative local start", [](lvAsmChunk &c) { c.main.locals.push_back({std::string("v"), -1, 1}); }, ERR_BADINTEGER},
        {"huge code count in a short input", [](lvAsmChunk &c) { c.main.codeCount = 0x7FFFFFFF; }, ERR_UNEXPECTEDEOF},
        // The bytes after a lying constant count are read as constants, and a type byte fails first.
        {"huge constant count", [](lvAsmChunk &c) { c.main.constantCount = 0x7FFFFFFF; }, ERR_BADCONSTANT},
        {"last instruction not a return", [](lvAsmChunk &c) { c.main.code = {AsmEncodeABC(ASMOP_MOVE, 0, 1, 0)}; }, ERR_BADBYTECODE},
        {"stack size 251", [](lvAsmChunk &c) { c.main.maxStackSize = 251; }, ERR_BADBYTECODE},
        {"line info of the wrong length", [](lvAsmChunk &c) { c.main.lineInfo = {1, 2}; }, ERR_BADBYTECODE},
        {"open call followed by a move",
         [](lvAsmChunk &c) {
             c.main.code = {AsmEncodeABC(ASMOP_CALL, 0, 1, 0), AsmEncodeABC(ASMOP_MOVE, 0, 1, 0), AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
             c.main.lineInfo.clear();
         }, ERR_BADBYTECODE},
        {"for-loop jumping outside",
         [](lvAsmChunk &c) {
             c.main.maxStackSize = 4;
             c.main.code = {AsmEncodeAsBx(ASMOP_FORLOOP, 0, 5), AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
             c.main.lineInfo.clear();
         }, ERR_BADBYTECODE},
        {"for-loop registers beyond the stack",
         [](lvAsmChunk &c) {
             c.main.maxStackSize = 2;
             c.main.code = {AsmEncodeAsBx(ASMOP_FORLOOP, 0, -1), AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
             c.main.lineInfo.clear();
         }, ERR_BADBYTECODE},
        {"iterator loop registers beyond the stack",
         [](lvAsmChunk &c) {
             c.main.maxStackSize = 6;
             c.main.code = {AsmEncodeABC(ASMOP_TFORLOOP, 0, 0, 1), AsmEncodeJump(-2, false), AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
             c.main.lineInfo.clear();
         }, ERR_BADBYTECODE},
        {"return past the stack with C set",
         [](lvAsmChunk &c) { c.main.code = {AsmEncodeABC(ASMOP_RETURN, 1, 5, 2)}; }, ERR_BADBYTECODE},
        {"parameters beyond the stack", [](lvAsmChunk &c) { c.main.paramCount = 3; }, ERR_BADBYTECODE},
        {"unknown opcode",
         [](lvAsmChunk &c) { c.main.code = {50u, AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)}; c.main.lineInfo.clear(); }, ERR_BADBYTECODE},
    };
    for (const Row &row : rows) {
        lvAsmChunk c = PlainChunk();
        row.change(c);
        std::vector<uint8_t> bytes = AsmWriteChunk(c);
        EXPECT_EQ(LoadBytes(L, bytes), row.code) << row.what;
        EXPECT_EQ(GetStackTop(L), row.code == 0 ? 1 : 0) << row.what;
        SetStackTop(L, 0);
    }
}

TEST_F(VMTest, NestingBeyond200FunctionsIsRejected)
{
    // The cap is exact: 200 levels of functions below the main function load, 201 do
    // not; lvdis draws the line at the same place.
    for (int levels : {199, 200, 201}) {
        lvAsmChunk c = PlainChunk();
        lvAsmFunction nested = c.main;
        nested.source.reset();
        for (int i = 1; i < levels; i++) {
            lvAsmFunction outer = c.main;
            outer.source.reset();
            outer.functions.push_back(nested);
            nested = outer;
        }
        c.main.functions.push_back(nested);
        std::vector<uint8_t> bytes = AsmWriteChunk(c);
        EXPECT_EQ(LoadBytes(L, bytes), levels <= 200 ? 0 : ERR_BADBYTECODE) << levels;
        SetStackTop(L, 0);
        lvAsmChunk back;
        std::string error;
        EXPECT_EQ(AsmReadChunk(bytes.data(), bytes.size(), back, error), levels <= 200) << levels << ": " << error;
    }
}

TEST_F(VMTest, TextInputIsNotAChunk)
{
    const char text[] = "Print(\"hello\")\n";
    EXPECT_EQ(LoadChunkBuffer(L, text, sizeof text - 1, "@hello.txt"), ERR_BADSIGNATURE);
    EXPECT_EQ(GetStackTop(L), 0);
}

TEST_F(VMTest, NativeFunctionsCannotBeDumped)
{
    PushNativeClosure(L, [](lvState *) { return 0; }, 0);
    gDump.clear();
    EXPECT_EQ(DumpFunction(L, -1, CollectDump, nullptr), ERR_NOLVFUNC);
    EXPECT_TRUE(gDump.empty());
}

// A dumped nested function that has upvalues loads as a closure whose upvalues hold nil.
TEST_F(VMTest, LoadedFunctionWithUpvaluesGetsNilUpvalues)
{
    ASSERT_EQ(Load(R"(.upvalues 2
    getupval  r0 u1
    setupval  r0 u0
    return    r0 2
)"), 0);
    ASSERT_EQ(ProtectedCall(L, 0, 1, 0), 0);
    EXPECT_EQ(GetValueType(L, -1), LV_TNIL);
}
