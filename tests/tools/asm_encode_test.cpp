// Instruction encoders and the chunk writer of the assembler kit, against words and
// bytes computed by hand.
#include "tools/lvasm/lvasm.h"

#include <gtest/gtest.h>

#include <cstring>

// ---------------------------------------------------------------------------------
// Encoders
// ---------------------------------------------------------------------------------

struct EncodeCase {
    const char *what;
    uint32_t got;
    uint32_t want;  // computed by hand from the bit layout
};

TEST(AsmEncode, HandComputedWords)
{
    const EncodeCase cases[] = {
        {"move r1 r2 (ABC)", AsmEncodeABC(ASMOP_MOVE, 1, 2, 0), 0x01010000},
        {"loadk r0 k3 (ABx)", AsmEncodeABx(ASMOP_LOADK, 0, 3), 0x000000C1},
        {"getglobal r0 k0", AsmEncodeABx(ASMOP_GETGLOBAL, 0, 0), 0x00000005},
        {"add r2 r1 k0 (constant operand 250)", AsmEncodeABC(ASMOP_ADD, 2, 1, AsmConstantOperand(0)), 0x0200BE8B},
        {"eq 1 r0 k1", AsmEncodeABC(ASMOP_EQ, 1, 0, AsmConstantOperand(1)), 0x01003EDC},
        {"call r0 2 1", AsmEncodeABC(ASMOP_CALL, 0, 2, 1), 0x00010060},
        {"return r0 1", AsmEncodeABC(ASMOP_RETURN, 0, 1, 0), 0x00008022},
        {"forloop r0 -3 (AsBx, negative)", AsmEncodeAsBx(ASMOP_FORLOOP, 0, -3), 0x007FFF23},
        {"tforprep r4 +2", AsmEncodeAsBx(ASMOP_TFORPREP, 4, 2), 0x04800065},
        {"jmp +2 (24-bit)", AsmEncodeJump(2, false), 0x2000005B},
        {"jmp -5 (backward)", AsmEncodeJump(-5, false), 0x1FFFFE9B},
        {"gosub +1 (marked)", AsmEncodeJump(1, true), 0xA000001B},
        {"jmp +0", AsmEncodeJump(0, false), 0x1FFFFFDB},
        {"retgosub", AsmEncodeABC(ASMOP_RETURN, 0, 0, 1), 0x00000062},
        {"newtable r1 array 10 hash 4", AsmEncodeABC(ASMOP_NEWTABLE, 1, AsmEncodeArraySize(10), AsmEncodeHashSize(4)),
         0x0106808A},
        {"setlist r0 base 32 count 3", AsmEncodeABx(ASMOP_SETLIST, 0, AsmEncodeSetListBx(32, 3)), 0x000008A6},
        {"closure r2 f0", AsmEncodeABx(ASMOP_CLOSURE, 2, 0), 0x02000029},
        {"capture r1", AsmEncodeCaptureRegister(1), 0x00008000},
        {"capture u3", AsmEncodeCaptureUpvalue(3), 0x00018004},
        {"largest sBx", AsmEncodeAsBx(ASMOP_FORLOOP, 0, 131072), 0x00FFFFE3},
    };
    for (const EncodeCase &c : cases) {
        EXPECT_EQ(c.got, c.want) << c.what << std::hex << ": got 0x" << c.got << " want 0x" << c.want;
    }
}

TEST(AsmEncode, DecodersInvertEncoders)
{
    uint32_t w = AsmEncodeABC(ASMOP_SETTABLE, 255, 511, 300);
    EXPECT_EQ(AsmGetOpcode(w), ASMOP_SETTABLE);
    EXPECT_EQ(AsmGetA(w), 255);
    EXPECT_EQ(AsmGetB(w), 511);
    EXPECT_EQ(AsmGetC(w), 300);
    for (int sbx : {-131071, -1, 0, 1, 131072}) EXPECT_EQ(AsmGetSBx(AsmEncodeAsBx(ASMOP_FORLOOP, 7, sbx)), sbx);
    for (int off : {-8388607, -1, 0, 1, 8388608}) {
        uint32_t j = AsmEncodeJump(off, off < 0);
        EXPECT_EQ(AsmGetJumpOffset(j), off);
        EXPECT_EQ(AsmGetJumpKind(j), off < 0 ? 2 : 0);
        EXPECT_EQ(AsmGetOpcode(j), ASMOP_JMP);
    }
}

TEST(AsmEncode, FieldsOutOfRangeAreRefused)
{
    EXPECT_THROW(AsmEncodeABC(ASMOP_MOVE, 256, 0, 0), lvAsmError);
    EXPECT_THROW(AsmEncodeABC(ASMOP_MOVE, 0, 512, 0), lvAsmError);
    EXPECT_THROW(AsmEncodeABC(ASMOP_MOVE, 0, 0, -1), lvAsmError);
    EXPECT_THROW(AsmEncodeABx(ASMOP_LOADK, 0, 262144), lvAsmError);
    EXPECT_THROW(AsmEncodeAsBx(ASMOP_FORLOOP, 0, -131072), lvAsmError);
    EXPECT_THROW(AsmEncodeAsBx(ASMOP_FORLOOP, 0, 131073), lvAsmError);
    EXPECT_THROW(AsmEncodeJump(8388609, false), lvAsmError);
    EXPECT_THROW(AsmEncodeJump(-8388608, false), lvAsmError);
    EXPECT_THROW(AsmConstantOperand(262), lvAsmError);
    EXPECT_THROW(AsmEncodeSetListBx(33, 1), lvAsmError);
    EXPECT_THROW(AsmEncodeSetListBx(0, 33), lvAsmError);
    EXPECT_THROW(AsmEncodeSetListBx(0, 0), lvAsmError);
}

TEST(AsmEncode, PackedTableSizesRoundUpAndDecode)
{
    // (B mod 8) * 2^(B div 8): sizes up to 7 are exact, larger ones round up.
    const struct { uint32_t size; int b; uint64_t decoded; } rows[] = {
        {0, 0, 0}, {1, 1, 1}, {7, 7, 7}, {8, 12, 8}, {9, 13, 10}, {10, 13, 10},
        {15, 16 + 4, 16},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(AsmEncodeArraySize(r.size), r.b) << r.size;
        EXPECT_EQ(AsmDecodeArraySize(r.b), r.decoded) << r.size;
    }
    for (uint32_t n = 0; n < 5000; n++) {
        uint64_t got = AsmDecodeArraySize(AsmEncodeArraySize(n));
        ASSERT_GE(got, n);
        ASSERT_LE(got, n + n / 4 + 1) << n;  // three mantissa bits: at most 25% too large
    }
    EXPECT_EQ(AsmEncodeHashSize(0), 0);
    EXPECT_EQ(AsmEncodeHashSize(1), 1);  // C = 0 would mean no hash part
    EXPECT_EQ(AsmEncodeHashSize(2), 1);
    EXPECT_EQ(AsmEncodeHashSize(3), 2);
    EXPECT_EQ(AsmEncodeHashSize(1024), 10);
    EXPECT_EQ(AsmDecodeHashSize(0), 0u);
    EXPECT_EQ(AsmDecodeHashSize(10), 1024u);
    EXPECT_EQ(AsmDecodeArraySize(511), UINT64_MAX);
}

// ---------------------------------------------------------------------------------
// Writer
// ---------------------------------------------------------------------------------

static lvAsmChunk SmallChunk()
{
    lvAsmChunk c;
    c.main.source = "@t";
    c.main.maxStackSize = 2;
    c.main.code = {AsmEncodeABC(ASMOP_RETURN, 0, 1, 0)};
    return c;
}

TEST(AsmWriter, HeaderBytes)
{
    std::vector<uint8_t> b = AsmWriteChunk(SmallChunk());
    const uint8_t want[21] = {0x1B, 0x4C, 0x56, 0x42, 0x01, 0x04, 0x04, 0x04, 0x06, 0x08, 0x09,
                              0x09, 0x08, 0xB6, 0x09, 0x93, 0x68, 0xE7, 0xF5, 0x7D, 0x41};
    ASSERT_GE(b.size(), 21u);
    EXPECT_EQ(std::memcmp(b.data(), want, 21), 0);
    double check;
    std::memcpy(&check, b.data() + 13, 8);
    EXPECT_EQ((long long)check, 31415926);
}

TEST(AsmWriter, FunctionRecordLayout)
{
    lvAsmChunk c = SmallChunk();
    lvAsmFunction &f = c.main;
    f.lineDefined = 7;
    f.upvalueCount = 1;
    f.paramCount = 2;
    f.varargFlag = 1;
    f.maxStackSize = 3;
    f.lineInfo = {9};
    f.locals = {{std::string("x"), 0, 1}};
    f.upvalueNames = {std::string("u")};
    lvAsmConstant nil, num, str;
    num.type = ASM_CONST_NUMBER;
    num.number = 1.0;
    str.type = ASM_CONST_STRING;
    str.text = "ab";
    f.constants = {nil, num, str};
    std::vector<uint8_t> b = AsmWriteChunk(c);
    const uint8_t want[] = {
        3, 0, 0, 0, '@', 't', 0,               // source: length counts the zero
        7, 0, 0, 0,                            // line defined
        1, 2, 1, 3,                            // upvalues, parameters, vararg, stack
        1, 0, 0, 0, 9, 0, 0, 0,                // line info
        1, 0, 0, 0, 2, 0, 0, 0, 'x', 0, 0, 0, 0, 0, 1, 0, 0, 0,  // one local
        1, 0, 0, 0, 2, 0, 0, 0, 'u', 0,        // one upvalue name
        3, 0, 0, 0, 0,                         // constants: nil
        3, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F,       // 1.0
        4, 3, 0, 0, 0, 'a', 'b', 0,            // "ab"
        0, 0, 0, 0,                            // no nested functions
        1, 0, 0, 0, 0x22, 0x80, 0, 0,          // return r0 1
    };
    ASSERT_EQ(b.size(), 21 + sizeof want);
    EXPECT_EQ(std::memcmp(b.data() + 21, want, sizeof want), 0);
}

TEST(AsmWriter, OverridesForLoaderTests)
{
    lvAsmChunk c = SmallChunk();
    c.header.lengthWidth = 8;
    std::vector<uint8_t> b = AsmWriteChunk(c);
    EXPECT_EQ(b[6], 8);
    const uint8_t src8[] = {3, 0, 0, 0, 0, 0, 0, 0, '@', 't', 0};
    EXPECT_EQ(std::memcmp(b.data() + 21, src8, sizeof src8), 0);

    c = SmallChunk();
    c.header.lengthSizeByte = 2;
    c.header.lengthSizeOverride = true;
    c.header.intSize = 5;
    c.header.opBits = 7;
    c.header.checkNumber = 31415927.0;
    c.header.signature[3] = 'X';
    b = AsmWriteChunk(c);
    EXPECT_EQ(b[3], 'X');
    EXPECT_EQ(b[5], 5);
    EXPECT_EQ(b[6], 2);
    EXPECT_EQ(b[8], 7);
    double check;
    std::memcpy(&check, b.data() + 13, 8);
    EXPECT_EQ(check, 31415927.0);

    // Absent strings, negative and lying counts, an unknown constant type byte.
    c = SmallChunk();
    c.main.source.reset();
    c.main.lineDefined = -1;
    c.main.constantCount = -2;
    c.main.codeCount = 9;
    lvAsmConstant bad;
    bad.type = 1;
    bad.payload = {0xAA};
    c.main.constants = {bad};
    b = AsmWriteChunk(c);
    const uint8_t want[] = {0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                            0xFE, 0xFF, 0xFF, 0xFF, 1, 0xAA, 0, 0, 0, 0, 9, 0, 0, 0, 0x22, 0x80, 0, 0};
    ASSERT_EQ(b.size(), 21 + sizeof want);
    EXPECT_EQ(std::memcmp(b.data() + 21, want, sizeof want), 0);

    c.header.lengthWidth = 2;
    EXPECT_THROW(AsmWriteChunk(c), lvAsmError);
}

TEST(AsmWriter, ByteReversedOutput)
{
    lvAsmChunk c = SmallChunk();
    lvAsmConstant num;
    num.type = ASM_CONST_NUMBER;
    num.number = 1.0;
    c.main.constants = {num};
    std::vector<uint8_t> little = AsmWriteChunk(c);
    c.header.endianness = 0;
    c.header.reversed = true;
    std::vector<uint8_t> big = AsmWriteChunk(c);
    ASSERT_EQ(little.size(), big.size());
    EXPECT_EQ(big[4], 0);
    // Check number reversed.
    for (int i = 0; i < 8; i++) EXPECT_EQ(big[13 + i], little[20 - i]);
    // Source length reversed, bytes kept.
    const uint8_t src[] = {0, 0, 0, 3, '@', 't', 0};
    EXPECT_EQ(std::memcmp(big.data() + 21, src, sizeof src), 0);
    // Last word (the return) reversed.
    const uint8_t ret[] = {0, 0, 0x80, 0x22};
    EXPECT_EQ(std::memcmp(big.data() + big.size() - 4, ret, 4), 0);
    // Number constant reversed: 1.0 is 3F F0 00.. big-endian.
    const uint8_t one[] = {3, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
    bool found = false;
    for (size_t i = 0; i + sizeof one <= big.size(); i++)
        if (std::memcmp(big.data() + i, one, sizeof one) == 0) found = true;
    EXPECT_TRUE(found);
}
