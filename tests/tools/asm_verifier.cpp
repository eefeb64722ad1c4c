// asm_verifier.cpp: test-side chunk parser and operand-rule checker (see asm_verifier.h).
// Written apart from tools/lvasm on purpose: it decodes fields with its own shifts and
// masks and follows the rule table of the machine's verifier directly.
#include "tests/tools/asm_verifier.h"

#include <cstring>
#include <fstream>
#include <sstream>

namespace {

struct lvTestReader {
    const std::vector<uint8_t> &b;  // chunk bytes
    size_t pos = 0;                 // read position
    int lenSize = 4;                // bytes of a string length
    bool ok = true;                 // no read ran past the end

    uint32_t U32()
    {
        if (pos + 4 > b.size()) { ok = false; pos = b.size(); return 0; }
        uint32_t v = uint32_t(b[pos]) | uint32_t(b[pos + 1]) << 8 | uint32_t(b[pos + 2]) << 16 | uint32_t(b[pos + 3]) << 24;
        pos += 4;
        return v;
    }
    int Byte()
    {
        if (pos >= b.size()) { ok = false; return 0; }
        return b[pos++];
    }
    void Skip(size_t n)
    {
        if (pos + n > b.size()) { ok = false; pos = b.size(); return; }
        pos += n;
    }
    void String()
    {
        uint64_t n = U32();
        if (lenSize == 8) n |= uint64_t(U32()) << 32;
        Skip(size_t(n));
    }
    // A count that cannot be right (negative or beyond the input) stops the parse.
    size_t Count()
    {
        uint32_t n = U32();
        if (n > b.size()) { ok = false; return 0; }
        return n;
    }
};

bool ReadProto(lvTestReader &r, lvTestProto &p, int depth)
{
    if (depth > 100) return false;
    r.String();
    r.U32();
    p.upvalueCount = r.Byte();
    p.paramCount = r.Byte();
    p.varargFlag = r.Byte();
    p.maxStack = r.Byte();
    p.lineInfoCount = r.Count();
    r.Skip(4 * p.lineInfoCount);
    size_t locals = r.Count();
    for (size_t i = 0; i < locals && r.ok; i++) {
        r.String();
        r.Skip(8);
    }
    p.upvalueNameCount = r.Count();
    for (size_t i = 0; i < p.upvalueNameCount && r.ok; i++) r.String();
    size_t constants = r.Count();
    for (size_t i = 0; i < constants && r.ok; i++) {
        int t = r.Byte();
        p.constantTypes.push_back(t);
        if (t == 3) r.Skip(8);
        else if (t == 4) r.String();
        else if (t != 0) return false;
    }
    size_t nested = r.Count();
    for (size_t i = 0; i < nested && r.ok; i++) {
        p.nested.emplace_back();
        if (!ReadProto(r, p.nested.back(), depth + 1)) return false;
    }
    size_t n = r.Count();
    for (size_t i = 0; i < n && r.ok; i++) p.code.push_back(r.U32());
    return r.ok;
}

// Field decoding written out again, independently of the kit's accessors.
int Op(uint32_t i) { return int(i % 64); }
int FieldA(uint32_t i) { return int(i / 16777216u); }
int FieldB(uint32_t i) { return int((i / 32768u) % 512u); }
int FieldC(uint32_t i) { return int((i / 64u) % 512u); }
int FieldBx(uint32_t i) { return int((i / 64u) % 262144u); }
long JumpOffset(uint32_t i) { return long((i / 64u) % 16777216u) - 8388607L; }

enum { B_NONE, B_REG, B_RK };

struct lvRuleRow {
    int b;         // B operand kind
    int c;         // C operand kind
    bool bxConst;  // Bx names a constant
    bool test;     // must be followed by a jump
};

lvRuleRow RowFor(int op)
{
    switch (op) {
    case 0: case 3: case 23: case 24: case 25: return {B_REG, B_NONE, false, false};
    case 1: case 5: case 7: return {B_NONE, B_NONE, true, false};
    case 6: case 26: case 42: return {B_REG, B_RK, false, false};
    case 9: return {B_RK, B_RK, false, false};
    case 28: case 29: case 30: return {B_RK, B_RK, false, true};
    case 31: return {B_REG, B_NONE, false, true};
    case 36: return {B_NONE, B_NONE, false, true};
    default:
        if (op >= 11 && op <= 22) return {B_RK, B_RK, false, false};
        return {B_NONE, B_NONE, false, false};
    }
}

}  // namespace

bool ParseTestChunk(const std::vector<uint8_t> &bytes, lvTestProto &main, std::string &error)
{
    static const uint8_t head[13] = {0x1B, 'L', 'V', 'B', 1, 4, 4, 4, 6, 8, 9, 9, 8};
    if (bytes.size() < 21) { error = "too short"; return false; }
    lvTestReader r{bytes};
    if (std::memcmp(bytes.data(), head, 6) != 0 || std::memcmp(bytes.data() + 7, head + 7, 6) != 0 ||
        (bytes[6] != 4 && bytes[6] != 8)) {
        error = "unexpected header";
        return false;
    }
    r.lenSize = bytes[6];
    r.pos = 21;
    main = lvTestProto{};
    if (!ReadProto(r, main, 0) || r.pos != bytes.size()) {
        error = "malformed function records";
        return false;
    }
    return true;
}

std::vector<std::string> VerifyTestProto(const lvTestProto &p, const std::string &path)
{
    std::vector<std::string> out;
    auto bad = [&](size_t pc, const std::string &what) {
        out.push_back(path + ": instruction " + std::to_string(pc) + ": " + what);
    };
    const size_t n = p.code.size();
    const int ms = p.maxStack;
    const size_t nk = p.constantTypes.size();
    if (ms > 250) out.push_back(path + ": stack size above 250");
    if (p.lineInfoCount != 0 && p.lineInfoCount != n) out.push_back(path + ": line info count");
    if (p.upvalueNameCount != 0 && p.upvalueNameCount != size_t(p.upvalueCount)) out.push_back(path + ": upvalue names");
    if (n == 0 || Op(p.code[n - 1]) != 34) out.push_back(path + ": last instruction is not a return");
    if (p.paramCount + (p.varargFlag ? 1 : 0) > ms) out.push_back(path + ": parameters do not fit the stack");
    auto rkOk = [&](int v) { return v < 250 ? v < ms : size_t(v - 250) < nk; };
    for (size_t pc = 0; pc < n; pc++) {
        uint32_t i = p.code[pc];
        int op = Op(i), a = FieldA(i), b = FieldB(i), c = FieldC(i), bx = FieldBx(i);
        if (op > 44) { bad(pc, "opcode above 44"); continue; }
        if (op != 27 && a >= ms) bad(pc, "A not below the stack size");
        lvRuleRow row = RowFor(op);
        if (row.b == B_REG && b >= ms) bad(pc, "B register");
        if (row.b == B_RK && !rkOk(b)) bad(pc, "B register-or-constant");
        if (row.c == B_REG && c >= ms) bad(pc, "C register");
        if (row.c == B_RK && !rkOk(c)) bad(pc, "C register-or-constant");
        if (row.bxConst && size_t(bx) >= nk) bad(pc, "Bx constant");
        if (row.test && !(pc + 2 < n && Op(p.code[pc + 1]) == 27)) bad(pc, "test without a following jump");
        switch (op) {
        case 2:
            if (c != 0 && pc + 2 >= n) bad(pc, "loadbool skips past the end");
            break;
        case 4: case 8:
            if (b >= p.upvalueCount) bad(pc, "upvalue index");
            break;
        case 5: case 7:
            if (size_t(bx) < nk && p.constantTypes[size_t(bx)] != 4) bad(pc, "global name is not a string");
            break;
        case 26:
            if (c >= ms || b >= c) bad(pc, "concat range");
            break;
        case 27: {
            long t = long(pc) + 1 + JumpOffset(i);
            if (t < 0 || t >= long(n)) bad(pc, "jump target outside");
            break;
        }
        case 32: case 33: case 43: case 44:
            if (b != 0 && a + b - 1 >= ms) bad(pc, "call arguments");
            if (c >= 2 && a + c - 2 >= ms) bad(pc, "call results");
            if (c == 0) {
                bool ok = false;
                if (pc + 1 < n) {
                    uint32_t nx = p.code[pc + 1];
                    int o = Op(nx);
                    ok = ((o == 32 || o == 33 || o == 43 || o == 44 || o == 34) && FieldB(nx) == 0) || o == 39;
                    if (ok && FieldA(nx) > a) bad(pc, "open results taken from above their first register");
                }
                if (!ok) bad(pc, "open results not taken");
            }
            break;
        case 34:
            if (b >= 2 && a + b - 2 >= ms) bad(pc, "return range");
            break;
        case 36: {
            // Call slots R(A+C+3)..R(A+C+5); the C+1 results are written from R(A+C+3).
            long last = long(a) + c + 5;
            if (long(a) + 2L * c + 3 > last) last = long(a) + 2L * c + 3;
            if (last >= ms) bad(pc, "tforloop call or result slots");
            break;
        }
        case 35: case 37: {
            // forloop reads R(A)..R(A+2), tforprep writes R(A), R(A+1); both jump by sBx.
            if (a + (op == 35 ? 2 : 1) >= ms) bad(pc, "loop registers");
            long t = long(pc) + 1 + (long(bx) - 131071L);
            if (t < 0 || t >= long(n)) bad(pc, "loop target outside");
            break;
        }
        case 38:
            if (a + bx % 32 + 1 >= ms) bad(pc, "setlist range");
            break;
        case 41:
            if (size_t(bx) >= p.nested.size()) {
                bad(pc, "closure index");
            } else {
                size_t k = size_t(p.nested[size_t(bx)].upvalueCount);
                for (size_t j = 1; j <= k; j++) {
                    if (pc + j >= n || (Op(p.code[pc + j]) != 0 && Op(p.code[pc + j]) != 4)) {
                        bad(pc, "closure captures");
                        break;
                    }
                }
            }
            break;
        case 42:
            if (a + 1 >= ms) bad(pc, "self range");
            break;
        default:
            break;
        }
    }
    for (size_t k = 0; k < p.nested.size(); k++) {
        auto sub = VerifyTestProto(p.nested[k], path + "/" + std::to_string(k));
        out.insert(out.end(), sub.begin(), sub.end());
    }
    return out;
}

std::vector<std::string> VerifyTestChunk(const std::vector<uint8_t> &bytes)
{
    lvTestProto p;
    std::string error;
    if (!ParseTestChunk(bytes, p, error)) return {"cannot parse: " + error};
    return VerifyTestProto(p);
}

std::string ReadTestFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string JoinLines(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &x : lines) s += x + "\n";
    return s;
}
