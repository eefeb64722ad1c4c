// chunkwriter.cpp: instruction encoders and the chunk serialiser of the assembler kit.
//
// Depends on lvasm.h only. The writer does exactly what the description says: it never
// fixes counts, sources or header bytes, so that loader tests can write bad chunks.
#include "tools/lvasm/lvasm.h"

#include <cstring>

// ---------------------------------------------------------------------------------
// Opcode names
// ---------------------------------------------------------------------------------

static const char *const OpcodeNames[ASMOP_COUNT] = {
    "move", "loadk", "loadbool", "loadnil", "getupval", "getglobal", "gettable",
    "setglobal", "setupval", "settable", "newtable", "add", "sub", "mul", "div",
    "intdiv", "mod", "shl", "shr", "or", "and", "xor", "pow", "unm", "not", "bnot",
    "concat", "jmp", "eq", "lt", "le", "test", "call", "tailcall", "return", "forloop",
    "tforloop", "tforprep", "setlist", "setlisto", "close", "closure", "self",
    "catchcall", "catchtailcall"};

const char *AsmOpcodeName(int opcode)
{
    if (opcode < 0 || opcode >= ASMOP_COUNT) return nullptr;
    return OpcodeNames[opcode];
}

// ---------------------------------------------------------------------------------
// Encoders
// ---------------------------------------------------------------------------------

static void CheckField(const char *what, long long value, long long max)
{
    if (value < 0 || value > max)
        throw lvAsmError{std::string(what) + " " + std::to_string(value) + " is out of range 0.." +
                         std::to_string(max)};
}

uint32_t AsmEncodeABC(int opcode, int a, int b, int c)
{
    CheckField("opcode", opcode, 63);
    CheckField("A", a, ASM_MAX_A);
    CheckField("B", b, ASM_MAX_B);
    CheckField("C", c, ASM_MAX_C);
    return uint32_t(opcode) | uint32_t(c) << 6 | uint32_t(b) << 15 | uint32_t(a) << 24;
}

uint32_t AsmEncodeABx(int opcode, int a, int bx)
{
    CheckField("opcode", opcode, 63);
    CheckField("A", a, ASM_MAX_A);
    CheckField("Bx", bx, ASM_MAX_BX);
    return uint32_t(opcode) | uint32_t(bx) << 6 | uint32_t(a) << 24;
}

uint32_t AsmEncodeAsBx(int opcode, int a, int sbx)
{
    CheckField("sBx + 131071", (long long)sbx + ASM_SBX_BIAS, ASM_MAX_BX);
    return AsmEncodeABx(opcode, a, sbx + ASM_SBX_BIAS);
}

uint32_t AsmEncodeJump(int offset, bool gosub)
{
    CheckField("jump offset + 8388607", (long long)offset + ASM_JUMP_BIAS, ASM_MAX_JUMP_FIELD);
    uint32_t w = uint32_t(ASMOP_JMP) | uint32_t(offset + ASM_JUMP_BIAS) << 6;
    return gosub ? w | ASM_GOSUB_MARK : w;
}

int AsmConstantOperand(int index)
{
    CheckField("constant index in an operand", index, int(ASM_MAX_B) - ASM_RK_CONSTANT);
    return ASM_RK_CONSTANT + index;
}

uint32_t AsmEncodeCaptureRegister(int reg)
{
    return AsmEncodeABC(ASMOP_MOVE, 0, reg, 0);
}

uint32_t AsmEncodeCaptureUpvalue(int upvalue)
{
    return AsmEncodeABC(ASMOP_GETUPVAL, 0, upvalue, 0);
}

int AsmEncodeArraySize(uint32_t size)
{
    // Mantissa of 3 bits, exponent above it: round the size up until the mantissa fits.
    uint64_t x = size;
    int e = 0;
    while (x >= 8) {
        x = (x + 1) >> 1;
        e++;
    }
    return (e << 3) | int(x);
}

int AsmEncodeHashSize(uint32_t size)
{
    if (size == 0) return 0;
    int c = 1;  // C = 0 means no hash part, so one node needs C = 1
    while ((uint64_t(1) << c) < size) c++;
    return c;
}

uint64_t AsmDecodeArraySize(int b)
{
    uint64_t m = uint64_t(b & 7);
    int e = b >> 3;
    if (m == 0) return 0;
    if (e >= 61) return UINT64_MAX;
    return m << e;
}

uint64_t AsmDecodeHashSize(int c)
{
    if (c == 0) return 0;
    if (c >= 64) return UINT64_MAX;
    return uint64_t(1) << c;
}

int AsmEncodeSetListBx(uint32_t base, int count)
{
    if (base % ASM_SETLIST_BATCH != 0)
        throw lvAsmError{"list index base " + std::to_string(base) + " is not a multiple of 32"};
    CheckField("list item count - 1", (long long)count - 1, ASM_SETLIST_BATCH - 1);
    CheckField("list setter Bx", (long long)base + count - 1, ASM_MAX_BX);
    return int(base) + count - 1;
}

std::string AsmConstantKey(const lvAsmConstant &k)
{
    std::string key(1, char(k.type));
    if (k.type == ASM_CONST_NUMBER) key.append(reinterpret_cast<const char *>(&k.number), 8);
    else if (k.type == ASM_CONST_STRING) key += k.text ? "+" + *k.text : "-";
    else key.append(k.payload.begin(), k.payload.end());
    return key;
}

// ---------------------------------------------------------------------------------
// Chunk writer
// ---------------------------------------------------------------------------------

namespace {

struct lvChunkSink {
    std::vector<uint8_t> bytes;  // output so far
    bool reversed = false;       // write multi-byte values byte-reversed
    int lengthWidth = 4;         // bytes of a string length
};

}  // namespace

static void PutBytes(lvChunkSink &s, const void *p, size_t n, bool swap)
{
    const uint8_t *b = static_cast<const uint8_t *>(p);
    if (swap && s.reversed) {
        for (size_t i = n; i > 0; i--) s.bytes.push_back(b[i - 1]);
    } else {
        s.bytes.insert(s.bytes.end(), b, b + n);
    }
}

static void PutInt(lvChunkSink &s, int32_t v)
{
    uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
    PutBytes(s, b, 4, true);
}

static void PutWord(lvChunkSink &s, uint32_t v)
{
    PutInt(s, int32_t(v));
}

static void PutNumber(lvChunkSink &s, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    uint8_t b[8];
    for (int i = 0; i < 8; i++) b[i] = uint8_t(bits >> (8 * i));
    PutBytes(s, b, 8, true);
}

static void PutLength(lvChunkSink &s, uint64_t n)
{
    uint8_t b[8];
    for (int i = 0; i < 8; i++) b[i] = uint8_t(n >> (8 * i));
    PutBytes(s, b, size_t(s.lengthWidth), true);
}

// A string is its length with the terminating zero counted, then the bytes and the zero;
// an absent string is the length 0 alone.
static void PutString(lvChunkSink &s, const std::optional<std::string> &str)
{
    if (!str) {
        PutLength(s, 0);
        return;
    }
    PutLength(s, str->size() + 1);
    s.bytes.insert(s.bytes.end(), str->begin(), str->end());
    s.bytes.push_back(0);
}

static void PutCount(lvChunkSink &s, const std::optional<int32_t> &forced, size_t real)
{
    PutInt(s, forced ? *forced : int32_t(real));
}

static void PutFunction(lvChunkSink &s, const lvAsmFunction &f)
{
    PutString(s, f.source);
    PutInt(s, f.lineDefined);
    s.bytes.push_back(f.upvalueCount);
    s.bytes.push_back(f.paramCount);
    s.bytes.push_back(f.varargFlag);
    s.bytes.push_back(f.maxStackSize);
    PutCount(s, f.lineInfoCount, f.lineInfo.size());
    for (int32_t line : f.lineInfo) PutInt(s, line);
    PutCount(s, f.localCount, f.locals.size());
    for (const lvAsmLocal &l : f.locals) {
        PutString(s, l.name);
        PutInt(s, l.startPc);
        PutInt(s, l.endPc);
    }
    PutCount(s, f.upvalueNameCount, f.upvalueNames.size());
    for (const auto &n : f.upvalueNames) PutString(s, n);
    PutCount(s, f.constantCount, f.constants.size());
    for (const lvAsmConstant &k : f.constants) {
        s.bytes.push_back(uint8_t(k.type));
        if (k.type == ASM_CONST_NUMBER) {
            PutNumber(s, k.number);
        } else if (k.type == ASM_CONST_STRING) {
            PutString(s, k.text);
        } else if (k.type != ASM_CONST_NIL) {
            s.bytes.insert(s.bytes.end(), k.payload.begin(), k.payload.end());
        }
    }
    PutCount(s, f.functionCount, f.functions.size());
    for (const lvAsmFunction &nested : f.functions) PutFunction(s, nested);
    PutCount(s, f.codeCount, f.code.size());
    for (uint32_t w : f.code) PutWord(s, w);
}

std::vector<uint8_t> AsmWriteChunk(const lvAsmChunk &chunk)
{
    const lvAsmHeader &h = chunk.header;
    if (h.lengthWidth != 4 && h.lengthWidth != 8)
        throw lvAsmError{"length width " + std::to_string(h.lengthWidth) + " is not 4 or 8"};
    lvChunkSink s;
    s.reversed = h.reversed;
    s.lengthWidth = h.lengthWidth;
    s.bytes.insert(s.bytes.end(), h.signature, h.signature + 4);
    uint8_t lengthByte = h.lengthSizeOverride ? h.lengthSizeByte : uint8_t(h.lengthWidth);
    const uint8_t sizes[9] = {h.endianness, h.intSize, lengthByte, h.instructionSize, h.opBits,
                              h.aBits, h.bBits, h.cBits, h.numberSize};
    s.bytes.insert(s.bytes.end(), sizes, sizes + 9);
    PutNumber(s, h.checkNumber);
    PutFunction(s, chunk.main);
    return s.bytes;
}
