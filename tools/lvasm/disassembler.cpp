// disassembler.cpp: prints a chunk in the assembler's text form (build/bin/lvdis).
//
// Depends on lvasm.h (reader, rules, encoders). The output is meant to be assembled
// again into the same bytes: every field that the assembler would otherwise choose
// itself (source, line defined, stack size, upvalue count, the constant pool, line
// info) is printed explicitly; an instruction whose fields the text form cannot say
// (unused fields set, a jump leaving the function, opcodes above 44) is printed as a raw
// word; a function that breaks the operand rules is marked ".unchecked".
#include "tools/lvasm/lvasm.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

// ---------------------------------------------------------------------------------
// Values as text
// ---------------------------------------------------------------------------------

static std::string QuoteString(const std::string &s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        default:
            if (c >= 0x20 && c < 0x7F) {
                out.push_back(char(c));
            } else {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02x", c);
                out += buf;
            }
        }
    }
    return out + "\"";
}

static std::string FormatNumber(double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    if (std::isnan(d)) {
        if (bits == 0x7FF8000000000000ull) return "nan";
        char buf[32];
        std::snprintf(buf, sizeof buf, "nan:0x%016llx", (unsigned long long)bits);
        return buf;
    }
    if (std::isinf(d)) return d > 0 ? "inf" : "-inf";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

static std::string FormatOptionalString(const std::optional<std::string> &s)
{
    return s ? QuoteString(*s) : "none";
}

// ---------------------------------------------------------------------------------
// Instructions
// ---------------------------------------------------------------------------------

namespace {

struct lvDisFunction {
    const lvAsmFunction *f;          // function printed
    std::vector<bool> duplicate;     // constant equal to an earlier pool entry
    std::set<int> targets;           // instruction indexes that get a label
    std::vector<bool> capture;       // instruction printed as a capture
    bool capturesShort = false;      // a closure has fewer capture lines than it needs
};

}  // namespace

static std::string Reg(int r)
{
    return "r" + std::to_string(r);
}

// A constant operand as the assembler resolves it: a literal names the first equal entry
// of the pool, so later duplicates and entries without a literal form use k<index>.
static std::string ConstantRef(const lvDisFunction &d, int index)
{
    const lvAsmFunction &f = *d.f;
    if (size_t(index) >= f.constants.size() || d.duplicate[size_t(index)]) return "k" + std::to_string(index);
    const lvAsmConstant &k = f.constants[size_t(index)];
    if (k.type == ASM_CONST_NIL) return "nil";
    if (k.type == ASM_CONST_NUMBER) return FormatNumber(k.number);
    if (k.type == ASM_CONST_STRING && k.text) return QuoteString(*k.text);
    return "k" + std::to_string(index);
}

static std::string Rk(const lvDisFunction &d, int v)
{
    return v < ASM_RK_CONSTANT ? Reg(v) : ConstantRef(d, v - ASM_RK_CONSTANT);
}

static bool JumpTarget(const lvAsmFunction &f, int pc, uint32_t w, int &target)
{
    int op = AsmGetOpcode(w);
    long t;
    if (op == ASMOP_JMP) {
        if (AsmGetJumpKind(w) != 0 && AsmGetJumpKind(w) != 2) return false;
        t = long(pc) + 1 + AsmGetJumpOffset(w);
    } else if (op == ASMOP_FORLOOP || op == ASMOP_TFORPREP) {
        t = long(pc) + 1 + AsmGetSBx(w);
    } else {
        return false;
    }
    if (t < 0 || t > long(f.code.size())) return false;
    target = int(t);
    return true;
}

// Text of one instruction, or an empty string when only a raw word says it exactly.
static std::string FormatInstruction(const lvDisFunction &d, int pc)
{
    const lvAsmFunction &f = *d.f;
    const uint32_t w = f.code[size_t(pc)];
    const int op = AsmGetOpcode(w), a = AsmGetA(w), b = AsmGetB(w), c = AsmGetC(w), bx = AsmGetBx(w);
    const std::string name = op < ASMOP_COUNT ? AsmOpcodeName(op) : "";
    auto abc = [&](int ea, int eb, int ec) { return AsmEncodeABC(op, ea, eb, ec) == w; };
    if (d.capture[size_t(pc)]) return (op == ASMOP_MOVE ? "capture r" : "capture u") + std::to_string(b);
    int target;
    switch (op) {
    case ASMOP_MOVE: case ASMOP_LOADNIL: case ASMOP_UNM: case ASMOP_NOT: case ASMOP_BNOT:
        return abc(a, b, 0) ? name + " " + Reg(a) + " " + Reg(b) : "";
    case ASMOP_LOADK: case ASMOP_GETGLOBAL: case ASMOP_SETGLOBAL:
        return name + " " + Reg(a) + " " + ConstantRef(d, bx);
    case ASMOP_LOADBOOL:
        return name + " " + Reg(a) + " " + std::to_string(b) + " " + std::to_string(c);
    case ASMOP_GETUPVAL: case ASMOP_SETUPVAL:
        return abc(a, b, 0) ? name + " " + Reg(a) + " u" + std::to_string(b) : "";
    case ASMOP_GETTABLE: case ASMOP_SELF:
        return name + " " + Reg(a) + " " + Reg(b) + " " + Rk(d, c);
    case ASMOP_CONCAT:
        return name + " " + Reg(a) + " " + Reg(b) + " " + Reg(c);
    case ASMOP_NEWTABLE: {
        uint64_t arraySize = AsmDecodeArraySize(b), hashSize = AsmDecodeHashSize(c);
        if (arraySize > 0x7FFFFFFF || hashSize > 0x40000000) return "";
        if (!abc(a, AsmEncodeArraySize(uint32_t(arraySize)), AsmEncodeHashSize(uint32_t(hashSize)))) return "";
        return name + " " + Reg(a) + " " + std::to_string(arraySize) + " " + std::to_string(hashSize);
    }
    case ASMOP_JMP:
        if (!JumpTarget(f, pc, w, target)) return "";
        return std::string(AsmGetJumpKind(w) == 2 ? "gosub" : "jmp") + " L" + std::to_string(target);
    case ASMOP_EQ: case ASMOP_LT: case ASMOP_LE:
        return name + " " + std::to_string(a) + " " + Rk(d, b) + " " + Rk(d, c);
    case ASMOP_TEST:
        return name + " " + Reg(a) + " " + Reg(b) + " " + std::to_string(c);
    case ASMOP_CALL: case ASMOP_TAILCALL: case ASMOP_CATCHCALL: case ASMOP_CATCHTAILCALL:
        return name + " " + Reg(a) + " " + std::to_string(b) + " " + std::to_string(c);
    case ASMOP_RETURN:
        if (a == 0 && b == 0 && c == 1) return "retgosub";
        return name + " " + Reg(a) + " " + std::to_string(b) + (c ? " " + std::to_string(c) : "");
    case ASMOP_FORLOOP: case ASMOP_TFORPREP:
        if (!JumpTarget(f, pc, w, target)) return "";
        return name + " " + Reg(a) + " L" + std::to_string(target);
    case ASMOP_TFORLOOP:
        return abc(a, 0, c) ? name + " " + Reg(a) + " " + std::to_string(c) : "";
    case ASMOP_SETLIST: case ASMOP_SETLISTO:
        return name + " " + Reg(a) + " " + std::to_string(bx - bx % ASM_SETLIST_BATCH) + " " +
               std::to_string(bx % ASM_SETLIST_BATCH + 1);
    case ASMOP_CLOSE:
        return abc(a, 0, 0) ? name + " " + Reg(a) : "";
    case ASMOP_CLOSURE:
        return name + " " + Reg(a) + " " +
               (size_t(bx) < f.functions.size() ? "f" + std::to_string(bx) : std::to_string(bx));
    default:
        if (op < ASMOP_COUNT) return name + " " + Reg(a) + " " + Rk(d, b) + " " + Rk(d, c);  // arithmetic, settable
        return "";
    }
}

// Marks jump targets and the capture lines that follow closures.
static void ScanFunction(lvDisFunction &d)
{
    const lvAsmFunction &f = *d.f;
    std::set<std::string> keys;
    d.duplicate.resize(f.constants.size());
    for (size_t i = 0; i < f.constants.size(); i++)
        d.duplicate[i] = !keys.insert(AsmConstantKey(f.constants[i])).second;
    d.capture.assign(f.code.size(), false);
    for (size_t pc = 0; pc < f.code.size(); pc++) {
        uint32_t w = f.code[pc];
        int target;
        if (JumpTarget(f, int(pc), w, target)) d.targets.insert(target);
        if (AsmGetOpcode(w) != ASMOP_CLOSURE || size_t(AsmGetBx(w)) >= f.functions.size()) continue;
        int need = f.functions[size_t(AsmGetBx(w))].upvalueCount, have = 0;
        for (size_t k = pc + 1; k < f.code.size() && have < need; k++) {
            uint32_t cw = f.code[k];
            int cop = AsmGetOpcode(cw);
            if ((cop != ASMOP_MOVE && cop != ASMOP_GETUPVAL) || AsmGetA(cw) != 0 || AsmGetC(cw) != 0) break;
            d.capture[k] = true;
            have++;
        }
        if (have < need) d.capturesShort = true;
        pc += size_t(have);
    }
}

// ---------------------------------------------------------------------------------
// Functions and the chunk
// ---------------------------------------------------------------------------------

static void PrintFunction(std::string &out, const lvAsmFunction &f, const std::string &name, int depth)
{
    std::string pad(size_t(depth) * 2, ' ');
    auto line = [&](const std::string &text) { out += pad + text + "\n"; };
    lvDisFunction d{&f, {}, {}, {}, false};
    ScanFunction(d);
    // Instructions printed as raw words are exempt from the rules, as in the assembler.
    std::vector<std::string> texts(f.code.size());
    std::vector<bool> raw(f.code.size());
    for (size_t pc = 0; pc < f.code.size(); pc++) {
        texts[pc] = FormatInstruction(d, int(pc));
        raw[pc] = texts[pc].empty();
    }
    std::vector<lvAsmProblem> problems;
    bool clean = AsmCheckFunction(f, &raw, problems) && !d.capturesShort;

    if (depth > 0) line(".function " + name);
    if (depth == 0 || f.source) line(".source " + FormatOptionalString(f.source));
    line(".linedefined " + std::to_string(f.lineDefined));
    if (f.paramCount) line(".params " + std::to_string(f.paramCount));
    if (f.varargFlag == 1) line(".vararg");
    else if (f.varargFlag) line(".vararg " + std::to_string(f.varargFlag));
    line(".stack " + std::to_string(f.maxStackSize));
    line(".upvalues " + std::to_string(f.upvalueCount));
    for (const auto &u : f.upvalueNames) line(".upval " + FormatOptionalString(u));
    if (!clean) {
        line(".unchecked");
        for (const lvAsmProblem &p : problems)
            line("; " + (p.pc >= 0 ? "instruction " + std::to_string(p.pc) + ": " : std::string()) + p.text);
        if (d.capturesShort) line("; a closure is not followed by all its captures");
    }
    for (const lvAsmLocal &l : f.locals)
        line(".local " + FormatOptionalString(l.name) + " " + std::to_string(l.startPc) + " " + std::to_string(l.endPc));
    // Comments give each constant's index and each instruction's index (what label maps
    // and jump requests count in); they do not change what the text assembles to.
    auto withComment = [](std::string text, const std::string &comment) {
        if (text.size() < 36) text.resize(36, ' ');
        return text + " ; " + comment;
    };
    for (size_t i = 0; i < f.constants.size(); i++) {
        const lvAsmConstant &k = f.constants[i];
        std::string value = k.type == ASM_CONST_NIL      ? "nil"
                            : k.type == ASM_CONST_NUMBER ? FormatNumber(k.number)
                                                         : FormatOptionalString(k.text);
        line(withComment(".const " + value, "k" + std::to_string(i)));
    }
    bool perInstruction = f.lineInfo.size() == f.code.size();
    if (f.lineInfo.empty() && !f.code.empty()) {
        line(".nolines");
    } else if (!perInstruction) {
        std::string list = ".lineinfo";
        for (int32_t l : f.lineInfo) list += " " + std::to_string(l);
        line(list);
    }
    for (size_t pc = 0; pc <= f.code.size(); pc++) {
        if (d.targets.count(int(pc))) line("L" + std::to_string(pc) + ":");
        if (pc == f.code.size()) break;
        if (perInstruction && !f.lineInfo.empty() && (pc == 0 || f.lineInfo[pc] != f.lineInfo[pc - 1]))
            line(".line " + std::to_string(f.lineInfo[pc]));
        std::string text = texts[pc], comment = std::to_string(pc);
        if (text.empty()) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "word 0x%08x", f.code[pc]);
            text = buf;
            const char *op = AsmOpcodeName(AsmGetOpcode(f.code[pc]));
            comment += std::string(" raw ") + (op ? op : "(no such opcode)");
        }
        line(withComment("    " + text, comment));
    }
    for (size_t i = 0; i < f.functions.size(); i++)
        PrintFunction(out, f.functions[i], "f" + std::to_string(i), depth + 1);
    if (depth > 0) line(".end");
}

std::string AsmDisassemble(const lvAsmChunk &chunk)
{
    std::string out;
    const lvAsmHeader &h = chunk.header;
    const lvAsmHeader plain;
    if (h.endianness != 1) out += ".endian " + std::to_string(h.endianness) + "\n";
    if (h.lengthWidth != 4) out += ".lensize " + std::to_string(h.lengthWidth) + "\n";
    if (std::memcmp(&h.checkNumber, &plain.checkNumber, 8) != 0) out += ".check " + FormatNumber(h.checkNumber) + "\n";
    const uint8_t fields[9] = {h.endianness, h.intSize, h.lengthSizeByte, h.instructionSize, h.opBits,
                               h.aBits, h.bBits, h.cBits, h.numberSize};
    const uint8_t plainFields[9] = {1, 4, uint8_t(h.lengthWidth), 4, 6, 8, 9, 9, 8};
    for (int i = 1; i < 9; i++)
        if (fields[i] != plainFields[i])
            out += ".headerbyte " + std::to_string(i + 4) + " " + std::to_string(fields[i]) + "\n";
    PrintFunction(out, chunk.main, "main", 0);
    return out;
}

bool AsmDisassembleBytes(const uint8_t *data, size_t size, std::string &text, std::string &error)
{
    lvAsmChunk chunk;
    if (!AsmReadChunk(data, size, chunk, error)) return false;
    text = AsmDisassemble(chunk);
    return true;
}
