// chunkreader.cpp: reads a "\033LVB" chunk back into an lvAsmChunk for the disassembler.
//
// Depends on lvasm.h only. Every read is bounds-checked, counts are weighed against the
// bytes that are left before anything is allocated, and nesting is limited, so garbage
// input gives a message and never a crash or a huge allocation. The code itself is not
// verified here: a chunk whose code the machine would reject can still be shown.
#include "tools/lvasm/lvasm.h"

#include <cstring>

namespace {

struct lvChunkSource {
    const uint8_t *data = nullptr;  // the whole chunk
    size_t size = 0;                // its size
    size_t pos = 0;                 // read position
    bool swap = false;              // values are stored byte-reversed
    int lengthWidth = 4;            // bytes of a string length
    std::string error;              // first problem met
};

// Functions nested deeper than this are taken as garbage rather than read recursively.
constexpr int MAX_NESTING = 200;

}  // namespace

// ---------------------------------------------------------------------------------
// Primitive reads
// ---------------------------------------------------------------------------------

static bool Fail(lvChunkSource &s, const std::string &what)
{
    if (s.error.empty()) s.error = "offset " + std::to_string(s.pos) + ": " + what;
    return false;
}

static bool Need(lvChunkSource &s, size_t n, const char *what)
{
    if (s.size - s.pos < n) return Fail(s, std::string("chunk ends inside ") + what);
    return true;
}

static bool GetValue(lvChunkSource &s, uint8_t *out, size_t n, const char *what)
{
    if (!Need(s, n, what)) return false;
    // Stored little-endian unless swapped; out is filled least significant byte first.
    for (size_t i = 0; i < n; i++) out[i] = s.data[s.pos + (s.swap ? n - 1 - i : i)];
    s.pos += n;
    return true;
}

static bool GetInt(lvChunkSource &s, int32_t &v, const char *what)
{
    uint8_t b[4];
    if (!GetValue(s, b, 4, what)) return false;
    v = int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24);
    return true;
}

static bool GetNumber(lvChunkSource &s, double &d, const char *what)
{
    uint8_t b[8];
    if (!GetValue(s, b, 8, what)) return false;
    uint64_t bits = 0;
    for (int i = 7; i >= 0; i--) bits = bits << 8 | b[i];
    std::memcpy(&d, &bits, 8);
    return true;
}

static bool GetByte(lvChunkSource &s, uint8_t &v, const char *what)
{
    if (!Need(s, 1, what)) return false;
    v = s.data[s.pos++];
    return true;
}

// A count must not be negative and its elements, at `minSize` bytes each, must fit.
static bool GetCount(lvChunkSource &s, int32_t &n, size_t minSize, const char *what)
{
    size_t at = s.pos;
    if (!GetInt(s, n, what)) return false;
    if (n < 0) {
        s.pos = at;
        return Fail(s, std::string("negative ") + what + " " + std::to_string(n));
    }
    if (minSize > 0 && uint64_t(n) * minSize > s.size - s.pos) {
        s.pos = at;
        return Fail(s, std::string(what) + " " + std::to_string(n) + " is more than the chunk holds");
    }
    return true;
}

static bool GetString(lvChunkSource &s, std::optional<std::string> &out, const char *what)
{
    uint8_t b[8];
    size_t at = s.pos;
    if (!GetValue(s, b, size_t(s.lengthWidth), what)) return false;
    // Of an 8-byte length only the low 32 bits count, as the machine's loader reads it.
    uint64_t n = 0;
    for (int i = 3; i >= 0; i--) n = n << 8 | b[i];
    if (n == 0) {
        out.reset();
        return true;
    }
    if (n > s.size - s.pos) {
        s.pos = at;
        return Fail(s, std::string("length ") + std::to_string(n) + " of " + what +
                           " is more than the chunk holds");
    }
    // The last byte stands for the terminating zero and is not part of the text, whatever
    // it holds: the loader takes length - 1 bytes the same way.
    out = std::string(reinterpret_cast<const char *>(s.data + s.pos), size_t(n - 1));
    s.pos += n;
    return true;
}

// ---------------------------------------------------------------------------------
// Function records
// ---------------------------------------------------------------------------------

static bool GetFunction(lvChunkSource &s, lvAsmFunction &f, int depth)
{
    if (depth > MAX_NESTING) return Fail(s, "functions nested more than 200 deep");
    if (!GetString(s, f.source, "source")) return false;
    if (!GetInt(s, f.lineDefined, "line defined")) return false;
    if (!GetByte(s, f.upvalueCount, "upvalue count") || !GetByte(s, f.paramCount, "parameter count") ||
        !GetByte(s, f.varargFlag, "vararg flag") || !GetByte(s, f.maxStackSize, "stack size"))
        return false;

    int32_t n;
    if (!GetCount(s, n, 4, "line info count")) return false;
    f.lineInfo.resize(size_t(n));
    for (int32_t &line : f.lineInfo)
        if (!GetInt(s, line, "line info")) return false;

    if (!GetCount(s, n, size_t(s.lengthWidth) + 8, "local count")) return false;
    f.locals.resize(size_t(n));
    for (lvAsmLocal &l : f.locals) {
        if (!GetString(s, l.name, "local name") || !GetInt(s, l.startPc, "local start pc") ||
            !GetInt(s, l.endPc, "local end pc"))
            return false;
    }

    if (!GetCount(s, n, size_t(s.lengthWidth), "upvalue name count")) return false;
    f.upvalueNames.resize(size_t(n));
    for (auto &name : f.upvalueNames)
        if (!GetString(s, name, "upvalue name")) return false;

    if (!GetCount(s, n, 1, "constant count")) return false;
    f.constants.resize(size_t(n));
    for (lvAsmConstant &k : f.constants) {
        uint8_t type;
        if (!GetByte(s, type, "constant type")) return false;
        k.type = type;
        if (type == ASM_CONST_NUMBER) {
            if (!GetNumber(s, k.number, "number constant")) return false;
        } else if (type == ASM_CONST_STRING) {
            if (!GetString(s, k.text, "string constant")) return false;
        } else if (type != ASM_CONST_NIL) {
            s.pos--;
            return Fail(s, "unknown constant type byte " + std::to_string(type));
        }
    }

    // A nested function record takes at least its fixed fields.
    if (!GetCount(s, n, size_t(s.lengthWidth) + 28, "nested function count")) return false;
    f.functions.resize(size_t(n));
    for (lvAsmFunction &nested : f.functions)
        if (!GetFunction(s, nested, depth + 1)) return false;

    if (!GetCount(s, n, 4, "instruction count")) return false;
    f.code.resize(size_t(n));
    for (uint32_t &w : f.code) {
        int32_t v;
        if (!GetInt(s, v, "instruction")) return false;
        w = uint32_t(v);
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Header and entry point
// ---------------------------------------------------------------------------------

bool AsmReadChunk(const uint8_t *data, size_t size, lvAsmChunk &out, std::string &error)
{
    lvChunkSource s;
    s.data = data;
    s.size = data ? size : 0;
    out = lvAsmChunk{};
    lvAsmHeader &h = out.header;
    bool ok = [&] {
        if (!Need(s, 13, "the header")) return false;
        if (std::memcmp(s.data, "\033LVB", 4) != 0) return Fail(s, "no \"\\033LVB\" signature: not a chunk");
        std::memcpy(h.signature, s.data, 4);
        s.pos = 4;
        const uint8_t *b = s.data + 4;
        h.endianness = b[0];
        h.intSize = b[1];
        h.lengthSizeByte = b[2];
        h.instructionSize = b[3];
        h.opBits = b[4];
        h.aBits = b[5];
        h.bBits = b[6];
        h.cBits = b[7];
        h.numberSize = b[8];
        if (h.intSize != 4 || h.instructionSize != 4 || h.numberSize != 8)
            return Fail(s, "integer, instruction and number sizes must be 4, 4 and 8");
        if (h.lengthSizeByte != 4 && h.lengthSizeByte != 8)
            return Fail(s, "length size " + std::to_string(h.lengthSizeByte) + " is not 4 or 8");
        s.pos = 13;
        s.swap = h.endianness != 1;
        s.lengthWidth = h.lengthSizeByte;
        h.reversed = s.swap;
        h.lengthWidth = s.lengthWidth;
        if (!GetNumber(s, h.checkNumber, "the check number")) return false;
        if (!GetFunction(s, out.main, 0)) return false;
        if (s.pos != s.size)
            return Fail(s, std::to_string(s.size - s.pos) + " bytes follow the end of the chunk");
        return true;
    }();
    if (!ok) error = s.error;
    return ok;
}
