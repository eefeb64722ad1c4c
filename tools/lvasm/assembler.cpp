// assembler.cpp: the text assembler behind build/bin/lvasm.
//
// Depends on lvasm.h (encoders, writer, rules). The text form is described in
// docs/assembler.md. One pass reads the lines into function builders (nested functions
// are finished at their ".end"); labels, closures and locals are resolved when their
// function ends; then the function's stack size is computed and its code is checked
// against the operand rules, unless the function says ".unchecked".
// Limits: a line is one statement; strings do not span lines; at most 100 errors are
// reported.
#include "tools/lvasm/lvasm.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

namespace {

enum lvTokenKind { TOK_IDENT, TOK_NUMBER, TOK_STRING };

struct lvToken {
    lvTokenKind kind;  // what the token is
    std::string text;  // the word as written, or the decoded bytes of a string
};

enum lvLineMode { LINES_AUTO, LINES_FIXED };

struct lvJumpFix {
    int pc;             // instruction to patch
    std::string label;  // target label
    int line;           // source text line, for errors
    int opcode;         // jmp, forloop or tforprep
    bool gosub;         // jmp with the Gosub mark
    int a;              // A of a for-loop instruction
};

struct lvClosureFix {
    int pc;            // closure instruction
    std::string name;  // nested function's name; empty when given by index
    int index;         // index when given as a number
    int line;          // source text line
    int a;             // target register
};

struct lvLocalFix {
    size_t local;      // index into the function's locals
    std::string from;  // label of the first live instruction, or empty
    std::string to;    // label of the first dead instruction, or empty
    int line;          // source text line
};

struct lvFunctionBuild {
    lvAsmFunction f;                      // the description being built
    std::string name;                     // "main" or the name after .function
    int startLine = 1;                    // line of .function (1 for main)
    bool unchecked = false;               // .unchecked: no operand rules
    bool stackGiven = false;              // .stack seen
    bool upvaluesGiven = false;           // .upvalues seen
    bool noLines = false;                 // .nolines seen
    bool rawLineInfo = false;             // .lineinfo seen
    lvLineMode lineMode = LINES_AUTO;     // where instruction lines come from
    int fixedLine = 0;                    // line set by .line
    std::vector<int32_t> lines;           // line per instruction as emitted
    std::vector<int32_t> rawLines;        // .lineinfo list
    std::vector<bool> raw;                // instruction written as a raw word
    std::vector<int> textLine;            // source text line per instruction
    std::map<std::string, int> labels;    // label -> instruction index
    std::vector<lvAsmLabel> labelOrder;   // labels in the order written
    std::vector<lvJumpFix> jumps;         // jumps to resolve
    std::vector<lvClosureFix> closures;   // closures to resolve
    std::vector<lvLocalFix> localFixes;   // local ranges given by labels
    std::map<int, int> captureCounts;     // closure pc -> captures written after it
    int closureRunPc = -1;                // closure whose captures are being written
    std::map<std::string, int> constantIndex;  // pool key -> first entry with that value
    std::map<std::string, int> nestedNames;  // nested function name -> index
    int nestedStarted = 0;                // .function blocks opened so far
    std::vector<std::string> seen;        // directives that may appear once
};

struct lvAssembler {
    std::string name;                     // file name for messages
    lvAsmResult *result = nullptr;        // where errors go
    std::vector<lvFunctionBuild> open;    // open functions, main first
    int line = 0;                         // current text line
};

constexpr size_t MAX_ERRORS = 100;
constexpr size_t MAX_NESTING = 200;  // the chunk reader refuses deeper nesting too

}  // namespace

// ---------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------

static void ErrorAt(lvAssembler &as, int line, const std::string &message)
{
    if (as.result->errors.size() < MAX_ERRORS)
        as.result->errors.push_back(as.name + ":" + std::to_string(line) + ": " + message);
    else if (as.result->errors.size() == MAX_ERRORS)
        as.result->errors.push_back(as.name + ": too many errors");
}

static bool Error(lvAssembler &as, const std::string &message)
{
    ErrorAt(as, as.line, message);
    return false;
}

// ---------------------------------------------------------------------------------
// Tokens
// ---------------------------------------------------------------------------------

static bool IsIdentStart(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '.';
}

static bool IsIdentChar(char c)
{
    return IsIdentStart(c) || (c >= '0' && c <= '9');
}

static bool IsIdentifier(const std::string &s)
{
    if (s.empty() || !IsIdentStart(s[0])) return false;
    return std::all_of(s.begin(), s.end(), IsIdentChar);
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

static bool LooksNumeric(const std::string &w)
{
    size_t i = (w[0] == '+' || w[0] == '-') ? 1 : 0;
    if (i >= w.size()) return false;
    char c = w[i];
    if ((c >= '0' && c <= '9') || (c == '.' && i + 1 < w.size() && w[i + 1] >= '0' && w[i + 1] <= '9'))
        return true;
    std::string rest = w.substr(i);
    return rest == "inf" || rest == "nan" || rest.rfind("nan:", 0) == 0;
}

// Splits a line into labels ("name:" at the start) and tokens; ';' starts a comment.
static bool Tokenize(lvAssembler &as, const std::string &text, std::vector<std::string> &labels,
                     std::vector<lvToken> &tokens)
{
    size_t i = 0, n = text.size();
    while (i < n) {
        char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == ',') {
            i++;
            continue;
        }
        if (c == ';') break;
        if (c == '"') {
            std::string s;
            i++;
            for (;;) {
                if (i >= n) return Error(as, "string without its closing quote");
                char d = text[i++];
                if (d == '"') break;
                if (d != '\\') {
                    s.push_back(d);
                    continue;
                }
                if (i >= n) return Error(as, "string without its closing quote");
                char e = text[i++];
                switch (e) {
                case 'n': s.push_back('\n'); break;
                case 't': s.push_back('\t'); break;
                case 'r': s.push_back('\r'); break;
                case '0': s.push_back('\0'); break;
                case 'a': s.push_back('\a'); break;
                case 'b': s.push_back('\b'); break;
                case 'f': s.push_back('\f'); break;
                case 'v': s.push_back('\v'); break;
                case '\\': s.push_back('\\'); break;
                case '"': s.push_back('"'); break;
                case '\'': s.push_back('\''); break;
                case 'x': {
                    int h = i + 1 < n ? HexValue(text[i]) : -1, l = i + 1 < n ? HexValue(text[i + 1]) : -1;
                    if (h < 0 || l < 0) return Error(as, "\\x needs two hexadecimal digits");
                    s.push_back(char(h * 16 + l));
                    i += 2;
                    break;
                }
                default:
                    return Error(as, std::string("unknown escape \\") + e + " in a string");
                }
            }
            tokens.push_back({TOK_STRING, s});
            continue;
        }
        size_t start = i;
        while (i < n && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != ',' &&
               text[i] != ';' && text[i] != '"')
            i++;
        std::string word = text.substr(start, i - start);
        if (word.size() > 1 && word.back() == ':' && tokens.empty()) {
            std::string label = word.substr(0, word.size() - 1);
            if (!IsIdentifier(label)) return Error(as, "label '" + label + "' is not a name");
            labels.push_back(label);
            continue;
        }
        if (LooksNumeric(word)) {
            tokens.push_back({TOK_NUMBER, word});
        } else if (IsIdentifier(word)) {
            tokens.push_back({TOK_IDENT, word});
        } else {
            return Error(as, "cannot read '" + word + "'");
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Numbers
// ---------------------------------------------------------------------------------

static bool ParseUnsigned(const std::string &s, uint64_t &v)
{
    int base = 10;
    size_t i = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        i = 2;
    }
    auto r = std::from_chars(s.data() + i, s.data() + s.size(), v, base);
    return r.ec == std::errc() && r.ptr == s.data() + s.size() && i < s.size();
}

static bool ParseInteger(const std::string &s, long long &v)
{
    bool neg = !s.empty() && s[0] == '-';
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    uint64_t u;
    if (!ParseUnsigned(s.substr(i), u) || u > (uint64_t(1) << 40)) return false;
    v = neg ? -(long long)u : (long long)u;
    return true;
}

// Decimal or hexadecimal numbers, inf, nan, and nan:0xBITS for an exact bit pattern.
static bool ParseNumber(const std::string &s, double &d)
{
    bool neg = !s.empty() && s[0] == '-';
    size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    std::string rest = s.substr(i);
    if (rest == "inf") {
        d = neg ? -INFINITY : INFINITY;
        return true;
    }
    if (rest == "nan") {
        d = neg ? -NAN : NAN;
        return true;
    }
    if (rest.rfind("nan:", 0) == 0) {
        uint64_t bits;
        if (i != 0 || !ParseUnsigned(rest.substr(4), bits)) return false;
        std::memcpy(&d, &bits, 8);
        return std::isnan(d);
    }
    if (rest.size() > 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        uint64_t u;
        if (!ParseUnsigned(rest, u)) return false;
        d = neg ? -double(u) : double(u);
        return true;
    }
    auto r = std::from_chars(s.data() + (s[0] == '+' ? 1 : 0), s.data() + s.size(), d);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

// ---------------------------------------------------------------------------------
// Operands
// ---------------------------------------------------------------------------------

static bool PrefixedNumber(const lvToken &t, char prefix, long long &v)
{
    if (t.kind != TOK_IDENT || t.text.size() < 2 || (t.text[0] != prefix && t.text[0] != prefix - 32))
        return false;
    for (size_t i = 1; i < t.text.size(); i++)
        if (t.text[i] < '0' || t.text[i] > '9') return false;
    return ParseInteger(t.text.substr(1), v);
}

static bool GetRegister(lvAssembler &as, const lvToken &t, long long max, int &out)
{
    long long v;
    if (!PrefixedNumber(t, 'r', v)) return Error(as, "expected a register (r0, r1, ...), found '" + t.text + "'");
    if (v > max) return Error(as, "register " + t.text + " is out of range (at most r" + std::to_string(max) + ")");
    out = int(v);
    return true;
}

static bool GetInt(lvAssembler &as, const lvToken &t, long long min, long long max, int &out)
{
    long long v;
    if (t.kind != TOK_NUMBER || !ParseInteger(t.text, v)) return Error(as, "expected a whole number, found '" + t.text + "'");
    if (v < min || v > max)
        return Error(as, t.text + " is out of range " + std::to_string(min) + ".." + std::to_string(max));
    out = int(v);
    return true;
}

// Literal constant token (string, number, nil) or `none` (absent string, pool only).
static bool ReadLiteral(lvAssembler &as, const lvToken &t, bool allowNone, lvAsmConstant &k)
{
    if (t.kind == TOK_STRING) {
        k.type = ASM_CONST_STRING;
        k.text = t.text;
        return true;
    }
    if (t.kind == TOK_NUMBER) {
        k.type = ASM_CONST_NUMBER;
        if (!ParseNumber(t.text, k.number)) return Error(as, "cannot read the number '" + t.text + "'");
        return true;
    }
    if (t.text == "nil") {
        k.type = ASM_CONST_NIL;
        return true;
    }
    if (allowNone && t.text == "none") {
        k.type = ASM_CONST_STRING;
        k.text.reset();
        return true;
    }
    return Error(as, "expected a constant (\"text\", a number, nil or k<index>), found '" + t.text + "'");
}

// Appends a pool entry; literals keep naming the first entry of each value.
static void AddConstant(lvFunctionBuild &fb, const lvAsmConstant &k)
{
    fb.constantIndex.emplace(AsmConstantKey(k), int(fb.f.constants.size()));
    fb.f.constants.push_back(k);
}

// A constant operand: k<index>, or a literal that is found in the pool or appended to it.
static bool GetConstant(lvAssembler &as, const lvToken &t, int &index)
{
    lvAsmFunction &f = as.open.back().f;
    long long v;
    if (PrefixedNumber(t, 'k', v)) {
        if (v > ASM_MAX_BX) return Error(as, "constant index " + t.text + " is out of range");
        index = int(v);
        return true;
    }
    lvAsmConstant k;
    if (!ReadLiteral(as, t, false, k)) return false;
    auto found = as.open.back().constantIndex.find(AsmConstantKey(k));
    if (found != as.open.back().constantIndex.end()) {
        index = found->second;
        return true;
    }
    if (f.constants.size() > ASM_MAX_BX) return Error(as, "too many constants");
    AddConstant(as.open.back(), k);
    index = int(f.constants.size() - 1);
    return true;
}

// Register-or-constant operand: rN (N below 250) or a constant.
static bool GetRk(lvAssembler &as, const lvToken &t, int &field)
{
    long long v;
    if (PrefixedNumber(t, 'r', v)) {
        if (v >= ASM_RK_CONSTANT) return Error(as, "register " + t.text + " cannot be an operand that may name a constant (at most r249)");
        field = int(v);
        return true;
    }
    int index;
    if (!GetConstant(as, t, index)) return false;
    if (index > int(ASM_MAX_B) - ASM_RK_CONSTANT)
        return Error(as, "constant " + std::to_string(index) + " is beyond the 262 constants an operand can name; load it with loadk");
    field = ASM_RK_CONSTANT + index;
    return true;
}

static bool GetUpvalue(lvAssembler &as, const lvToken &t, int &out)
{
    long long v;
    if (PrefixedNumber(t, 'u', v)) {
        if (v > ASM_MAX_B) return Error(as, "upvalue " + t.text + " is out of range");
        out = int(v);
        return true;
    }
    return GetInt(as, t, 0, ASM_MAX_B, out);
}

static bool GetLabelName(lvAssembler &as, const lvToken &t, std::string &out)
{
    if (t.kind != TOK_IDENT) return Error(as, "expected a label, found '" + t.text + "'");
    out = t.text;
    return true;
}

// A string for a directive: "text", a bare name, or none (absent).
static bool GetDirectiveString(lvAssembler &as, const lvToken &t, std::optional<std::string> &out)
{
    if (t.kind == TOK_STRING) {
        out = t.text;
        return true;
    }
    if (t.kind == TOK_IDENT) {
        if (t.text == "none") out.reset();
        else out = t.text;
        return true;
    }
    return Error(as, "expected a string, a name or none, found '" + t.text + "'");
}

// ---------------------------------------------------------------------------------
// Emitting instructions
// ---------------------------------------------------------------------------------

static int Emit(lvAssembler &as, uint32_t word, bool raw = false, bool capture = false)
{
    lvFunctionBuild &fb = as.open.back();
    int pc = int(fb.f.code.size());
    fb.f.code.push_back(word);
    fb.raw.push_back(raw);
    fb.textLine.push_back(as.line);
    fb.lines.push_back(fb.lineMode == LINES_AUTO ? as.line : fb.fixedLine);
    if (!capture) fb.closureRunPc = -1;
    return pc;
}

static bool Operands(lvAssembler &as, const std::vector<lvToken> &t, size_t min, size_t max)
{
    size_t n = t.size() - 1;
    if (n < min || n > max) {
        std::string want = min == max ? std::to_string(min) : std::to_string(min) + " to " + std::to_string(max);
        return Error(as, t[0].text + " takes " + want + " operand" + (max == 1 ? "" : "s") + ", found " + std::to_string(n));
    }
    return true;
}

// Operand shapes of the ordinary mnemonics.
enum lvShape {
    SHAPE_RR,      // A register, B register
    SHAPE_RK,      // A register, Bx constant
    SHAPE_RII,     // A register, B and C whole numbers
    SHAPE_RU,      // A register, B upvalue
    SHAPE_RRX,     // A register, B register, C register-or-constant
    SHAPE_RXX,     // A register, B and C register-or-constant
    SHAPE_IXX,     // A whole number (comparison flag), B and C register-or-constant
    SHAPE_RRI,     // A register, B register, C whole number
    SHAPE_RRR,     // A, B, C registers
    SHAPE_R,       // A register
    SHAPE_RI       // A register, C whole number
};

struct lvMnemonic {
    const char *name;  // lower-case mnemonic
    int opcode;        // opcode it writes
    lvShape shape;     // operand shape
};

static const lvMnemonic Mnemonics[] = {
    {"move", ASMOP_MOVE, SHAPE_RR},         {"loadk", ASMOP_LOADK, SHAPE_RK},
    {"loadbool", ASMOP_LOADBOOL, SHAPE_RII}, {"loadnil", ASMOP_LOADNIL, SHAPE_RR},
    {"getupval", ASMOP_GETUPVAL, SHAPE_RU}, {"getglobal", ASMOP_GETGLOBAL, SHAPE_RK},
    {"gettable", ASMOP_GETTABLE, SHAPE_RRX}, {"setglobal", ASMOP_SETGLOBAL, SHAPE_RK},
    {"setupval", ASMOP_SETUPVAL, SHAPE_RU}, {"settable", ASMOP_SETTABLE, SHAPE_RXX},
    {"add", ASMOP_ADD, SHAPE_RXX},          {"sub", ASMOP_SUB, SHAPE_RXX},
    {"mul", ASMOP_MUL, SHAPE_RXX},          {"div", ASMOP_DIV, SHAPE_RXX},
    {"intdiv", ASMOP_INTDIV, SHAPE_RXX},    {"mod", ASMOP_MOD, SHAPE_RXX},
    {"shl", ASMOP_SHL, SHAPE_RXX},          {"shr", ASMOP_SHR, SHAPE_RXX},
    {"or", ASMOP_OR, SHAPE_RXX},            {"and", ASMOP_AND, SHAPE_RXX},
    {"xor", ASMOP_XOR, SHAPE_RXX},          {"pow", ASMOP_POW, SHAPE_RXX},
    {"unm", ASMOP_UNM, SHAPE_RR},           {"not", ASMOP_NOT, SHAPE_RR},
    {"bnot", ASMOP_BNOT, SHAPE_RR},         {"concat", ASMOP_CONCAT, SHAPE_RRR},
    {"eq", ASMOP_EQ, SHAPE_IXX},            {"lt", ASMOP_LT, SHAPE_IXX},
    {"le", ASMOP_LE, SHAPE_IXX},            {"test", ASMOP_TEST, SHAPE_RRI},
    {"call", ASMOP_CALL, SHAPE_RII},        {"tailcall", ASMOP_TAILCALL, SHAPE_RII},
    {"catchcall", ASMOP_CATCHCALL, SHAPE_RII}, {"catchtailcall", ASMOP_CATCHTAILCALL, SHAPE_RII},
    {"tforloop", ASMOP_TFORLOOP, SHAPE_RI}, {"close", ASMOP_CLOSE, SHAPE_R},
    {"self", ASMOP_SELF, SHAPE_RRX},
};

static bool EmitShaped(lvAssembler &as, const lvMnemonic &m, const std::vector<lvToken> &t)
{
    const long long maxA = ASM_MAX_A, maxB = ASM_MAX_B;
    int a = 0, b = 0, c = 0;
    switch (m.shape) {
    case SHAPE_RR:
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], maxA, a) || !GetRegister(as, t[2], maxB, b)) return false;
        break;
    case SHAPE_RK:
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], maxA, a) || !GetConstant(as, t[2], b)) return false;
        Emit(as, AsmEncodeABx(m.opcode, a, b));
        return true;
    case SHAPE_RII:
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], maxA, a) || !GetInt(as, t[2], 0, maxB, b) ||
            !GetInt(as, t[3], 0, ASM_MAX_C, c))
            return false;
        break;
    case SHAPE_RU:
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], maxA, a) || !GetUpvalue(as, t[2], b)) return false;
        break;
    case SHAPE_RRX:
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], maxA, a) || !GetRegister(as, t[2], maxB, b) ||
            !GetRk(as, t[3], c))
            return false;
        break;
    case SHAPE_RXX:
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], maxA, a) || !GetRk(as, t[2], b) || !GetRk(as, t[3], c))
            return false;
        break;
    case SHAPE_IXX:
        if (!Operands(as, t, 3, 3) || !GetInt(as, t[1], 0, maxA, a) || !GetRk(as, t[2], b) || !GetRk(as, t[3], c))
            return false;
        break;
    case SHAPE_RRI:
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], maxA, a) || !GetRegister(as, t[2], maxB, b) ||
            !GetInt(as, t[3], 0, ASM_MAX_C, c))
            return false;
        break;
    case SHAPE_RRR:
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], maxA, a) || !GetRegister(as, t[2], maxB, b) ||
            !GetRegister(as, t[3], ASM_MAX_C, c))
            return false;
        break;
    case SHAPE_R:
        if (!Operands(as, t, 1, 1) || !GetRegister(as, t[1], maxA, a)) return false;
        break;
    case SHAPE_RI:
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], maxA, a) || !GetInt(as, t[2], 0, ASM_MAX_C, c))
            return false;
        break;
    }
    Emit(as, AsmEncodeABC(m.opcode, a, b, c));
    return true;
}

// Instructions with their own operand forms: jumps, loops, tables, lists, closures,
// returns, captures and raw words.
static bool EmitSpecial(lvAssembler &as, const std::string &op, const std::vector<lvToken> &t)
{
    lvFunctionBuild &fb = as.open.back();
    int a = 0, b = 0, c = 0;
    std::string label;
    if (op == "jmp" || op == "gosub") {
        if (!Operands(as, t, 1, 1) || !GetLabelName(as, t[1], label)) return false;
        int pc = Emit(as, AsmEncodeJump(0, op == "gosub"));
        fb.jumps.push_back({pc, label, as.line, ASMOP_JMP, op == "gosub", 0});
    } else if (op == "forloop" || op == "tforprep") {
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], ASM_MAX_A, a) || !GetLabelName(as, t[2], label))
            return false;
        int opcode = op == "forloop" ? ASMOP_FORLOOP : ASMOP_TFORPREP;
        int pc = Emit(as, AsmEncodeAsBx(opcode, a, 0));
        fb.jumps.push_back({pc, label, as.line, opcode, false, a});
    } else if (op == "return") {
        if (!Operands(as, t, 2, 3) || !GetRegister(as, t[1], ASM_MAX_A, a) || !GetInt(as, t[2], 0, ASM_MAX_B, b))
            return false;
        if (t.size() == 4 && !GetInt(as, t[3], 0, ASM_MAX_C, c)) return false;
        Emit(as, AsmEncodeABC(ASMOP_RETURN, a, b, c));
    } else if (op == "retgosub") {
        if (!Operands(as, t, 0, 0)) return false;
        Emit(as, AsmEncodeABC(ASMOP_RETURN, 0, 0, 1));
    } else if (op == "newtable") {
        int arraySize, hashSize;
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], ASM_MAX_A, a) ||
            !GetInt(as, t[2], 0, 0x7FFFFFFF, arraySize) || !GetInt(as, t[3], 0, 0x40000000, hashSize))
            return false;
        Emit(as, AsmEncodeABC(ASMOP_NEWTABLE, a, AsmEncodeArraySize(uint32_t(arraySize)),
                              AsmEncodeHashSize(uint32_t(hashSize))));
    } else if (op == "setlist" || op == "setlisto") {
        int base, count;
        if (!Operands(as, t, 3, 3) || !GetRegister(as, t[1], ASM_MAX_A, a) ||
            !GetInt(as, t[2], 0, ASM_MAX_BX, base) || !GetInt(as, t[3], 1, ASM_SETLIST_BATCH, count))
            return false;
        if (base % ASM_SETLIST_BATCH != 0) return Error(as, "the list index base must be a multiple of 32");
        if (base + count - 1 > int(ASM_MAX_BX)) return Error(as, "list index base too large");
        Emit(as, AsmEncodeABx(op == "setlist" ? ASMOP_SETLIST : ASMOP_SETLISTO, a,
                              AsmEncodeSetListBx(uint32_t(base), count)));
    } else if (op == "closure") {
        if (!Operands(as, t, 2, 2) || !GetRegister(as, t[1], ASM_MAX_A, a)) return false;
        lvClosureFix fix{0, "", -1, as.line, a};
        if (t[2].kind == TOK_IDENT) {
            fix.name = t[2].text;
        } else if (!GetInt(as, t[2], 0, ASM_MAX_BX, fix.index)) {
            return false;
        }
        fix.pc = Emit(as, AsmEncodeABx(ASMOP_CLOSURE, a, 0));
        fb.closures.push_back(fix);
        fb.closureRunPc = fix.pc;
        fb.captureCounts[fix.pc] = 0;
    } else if (op == "capture") {
        if (!Operands(as, t, 1, 1)) return false;
        long long v;
        uint32_t w;
        if (PrefixedNumber(t[1], 'r', v) && v <= ASM_MAX_B) {
            w = AsmEncodeCaptureRegister(int(v));
        } else if (PrefixedNumber(t[1], 'u', v) && v <= ASM_MAX_B) {
            w = AsmEncodeCaptureUpvalue(int(v));
        } else {
            return Error(as, "capture takes a register (rN) or an upvalue (uN), found '" + t[1].text + "'");
        }
        if (fb.closureRunPc < 0 && !fb.unchecked)
            return Error(as, "capture must follow a closure or another capture");
        if (fb.closureRunPc >= 0) fb.captureCounts[fb.closureRunPc]++;
        Emit(as, w, false, true);
    } else if (op == "word") {
        uint64_t v;
        if (!Operands(as, t, 1, 1)) return false;
        if (t[1].kind != TOK_NUMBER || !ParseUnsigned(t[1].text, v) || v > 0xFFFFFFFFu)
            return Error(as, "word takes a 32-bit number, found '" + t[1].text + "'");
        Emit(as, uint32_t(v), true);
    } else {
        return Error(as, "unknown instruction '" + t[0].text + "'");
    }
    return true;
}

// ---------------------------------------------------------------------------------
// Finishing a function
// ---------------------------------------------------------------------------------

static void ResolveFunction(lvAssembler &as, lvFunctionBuild &fb)
{
    lvAsmFunction &f = fb.f;
    auto findLabel = [&](const std::string &name, int line, int &index) {
        auto it = fb.labels.find(name);
        if (it == fb.labels.end()) {
            ErrorAt(as, line, "unknown label '" + name + "'");
            return false;
        }
        index = it->second;
        return true;
    };
    for (const lvJumpFix &j : fb.jumps) {
        int target;
        if (!findLabel(j.label, j.line, target)) continue;
        int offset = target - (j.pc + 1);
        try {
            f.code[size_t(j.pc)] = j.opcode == ASMOP_JMP ? AsmEncodeJump(offset, j.gosub)
                                                         : AsmEncodeAsBx(j.opcode, j.a, offset);
        } catch (const lvAsmError &e) {
            ErrorAt(as, j.line, "jump to '" + j.label + "' is too far: " + e.message);
        }
    }
    for (const lvClosureFix &c : fb.closures) {
        int index = c.index;
        if (!c.name.empty()) {
            auto it = fb.nestedNames.find(c.name);
            if (it == fb.nestedNames.end()) {
                ErrorAt(as, c.line, "no function '" + c.name + "' is nested in " + fb.name);
                continue;
            }
            index = it->second;
        }
        f.code[size_t(c.pc)] = AsmEncodeABx(ASMOP_CLOSURE, c.a, index);
        if (fb.unchecked || size_t(index) >= f.functions.size()) continue;
        int need = f.functions[size_t(index)].upvalueCount, have = fb.captureCounts[c.pc];
        size_t after = size_t(c.pc + have + 1);
        bool rawFollows = after < fb.raw.size() && fb.raw[after];
        if (have > need || (have < need && !rawFollows))
            ErrorAt(as, c.line, "closure of " + (c.name.empty() ? "function " + std::to_string(index) : c.name) +
                                    " needs " + std::to_string(need) + " capture line(s), found " + std::to_string(have));
    }
    for (const lvLocalFix &l : fb.localFixes) {
        int index;
        if (!l.from.empty() && findLabel(l.from, l.line, index)) f.locals[l.local].startPc = index;
        if (!l.to.empty() && findLabel(l.to, l.line, index)) f.locals[l.local].endPc = index;
    }
}

static void FinishFunction(lvAssembler &as, lvFunctionBuild &fb)
{
    lvAsmFunction &f = fb.f;
    if (!fb.upvaluesGiven) {
        if (f.upvalueNames.size() > 255) ErrorAt(as, fb.startLine, "more than 255 upvalue names");
        f.upvalueCount = uint8_t(std::min<size_t>(f.upvalueNames.size(), 255));
    }
    ResolveFunction(as, fb);
    if (fb.noLines) f.lineInfo.clear();
    else if (fb.rawLineInfo) f.lineInfo = fb.rawLines;
    else f.lineInfo = fb.lines;
    if (!fb.stackGiven) {
        int need = AsmComputeStackSize(f, &fb.raw);
        if (need > (fb.unchecked ? 255 : ASM_MAX_STACK))
            ErrorAt(as, fb.startLine, fb.name + " needs " + std::to_string(need) + " registers, more than " +
                                          std::to_string(ASM_MAX_STACK));
        f.maxStackSize = uint8_t(std::min(need, 255));
    }
    if (fb.unchecked) return;
    std::vector<lvAsmProblem> problems;
    AsmCheckFunction(f, &fb.raw, problems);
    for (const lvAsmProblem &p : problems) {
        if (p.pc >= 0 && size_t(p.pc) < fb.textLine.size())
            ErrorAt(as, fb.textLine[size_t(p.pc)], p.text);
        else
            ErrorAt(as, fb.startLine, "function " + fb.name + ": " + p.text);
    }
}

// Finishes the innermost open function and hands it to its parent.
static void CloseFunction(lvAssembler &as)
{
    lvFunctionBuild done = std::move(as.open.back());
    as.open.pop_back();
    FinishFunction(as, done);
    as.open.back().f.functions.push_back(std::move(done.f));
}

// ---------------------------------------------------------------------------------
// Directives
// ---------------------------------------------------------------------------------

static bool Once(lvAssembler &as, const std::string &directive)
{
    lvFunctionBuild &fb = as.open.back();
    if (std::find(fb.seen.begin(), fb.seen.end(), directive) != fb.seen.end())
        return Error(as, directive + " is given twice in " + fb.name);
    fb.seen.push_back(directive);
    return true;
}

static bool MainOnly(lvAssembler &as, const std::string &directive)
{
    if (as.open.size() != 1) return Error(as, directive + " belongs to the chunk header, outside any .function");
    return Once(as, directive);
}

// Directives of the chunk header, allowed in the main function only.
static bool HeaderDirective(lvAssembler &as, const std::string &d, const std::vector<lvToken> &t)
{
    lvAsmHeader &h = as.result->chunk.header;
    int v = 0;
    if (d == ".endian") {
        if (!MainOnly(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], 0, 255, v)) return false;
        h.endianness = uint8_t(v);
        h.reversed = v != 1;
        return true;
    }
    if (d == ".lensize") {
        if (!MainOnly(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], 4, 8, v)) return false;
        if (v != 4 && v != 8) return Error(as, ".lensize must be 4 or 8");
        h.lengthWidth = v;
        return true;
    }
    if (d == ".check") {
        if (!MainOnly(as, d) || !Operands(as, t, 1, 1)) return false;
        if (t[1].kind != TOK_NUMBER || !ParseNumber(t[1].text, h.checkNumber))
            return Error(as, ".check needs a number");
        return true;
    }
    if (d == ".headerbyte") {
        int offset;
        if (as.open.size() != 1) return Error(as, ".headerbyte belongs to the chunk header, outside any .function");
        if (!Operands(as, t, 2, 2) || !GetInt(as, t[1], 4, 12, offset) || !GetInt(as, t[2], 0, 255, v)) return false;
        uint8_t *fields[9] = {&h.endianness, &h.intSize, &h.lengthSizeByte, &h.instructionSize, &h.opBits,
                              &h.aBits, &h.bBits, &h.cBits, &h.numberSize};
        *fields[offset - 4] = uint8_t(v);
        if (offset == 6) h.lengthSizeOverride = true;
        return true;
    }
    return false;
}

static bool Directive(lvAssembler &as, const std::string &d, const std::vector<lvToken> &t)
{
    lvFunctionBuild &fb = as.open.back();
    lvAsmFunction &f = fb.f;
    int v = 0;
    if (d == ".function") {
        if (!Operands(as, t, 1, 1)) return false;
        if (t[1].kind != TOK_IDENT) return Error(as, ".function needs a name");
        if (as.open.size() > MAX_NESTING) return Error(as, "functions nested more than 200 deep");
        if (fb.nestedNames.count(t[1].text)) return Error(as, "function '" + t[1].text + "' is defined twice in " + fb.name);
        fb.nestedNames[t[1].text] = fb.nestedStarted++;
        lvFunctionBuild nested;
        nested.name = t[1].text;
        nested.startLine = as.line;
        nested.f.lineDefined = as.line;
        as.open.push_back(std::move(nested));
        return true;
    }
    if (d == ".end") {
        if (!Operands(as, t, 0, 0)) return false;
        if (as.open.size() == 1) return Error(as, ".end without .function");
        CloseFunction(as);
        return true;
    }
    if (d == ".source") {
        return Once(as, d) && Operands(as, t, 1, 1) && GetDirectiveString(as, t[1], f.source);
    }
    if (d == ".linedefined") {
        if (!Once(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], INT32_MIN, INT32_MAX, v)) return false;
        f.lineDefined = v;
        return true;
    }
    if (d == ".params") {
        if (!Once(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], 0, 255, v)) return false;
        f.paramCount = uint8_t(v);
        return true;
    }
    if (d == ".vararg") {
        v = 1;
        if (!Once(as, d) || !Operands(as, t, 0, 1) || (t.size() == 2 && !GetInt(as, t[1], 0, 255, v))) return false;
        f.varargFlag = uint8_t(v);
        return true;
    }
    if (d == ".stack") {
        if (!Once(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], 0, 255, v)) return false;
        f.maxStackSize = uint8_t(v);
        fb.stackGiven = true;
        return true;
    }
    if (d == ".upvalues") {
        if (!Once(as, d) || !Operands(as, t, 1, 1) || !GetInt(as, t[1], 0, 255, v)) return false;
        f.upvalueCount = uint8_t(v);
        fb.upvaluesGiven = true;
        return true;
    }
    if (d == ".upval") {
        std::optional<std::string> name;
        if (!Operands(as, t, 1, 1) || !GetDirectiveString(as, t[1], name)) return false;
        f.upvalueNames.push_back(name);
        return true;
    }
    if (d == ".local") {
        lvAsmLocal local;
        lvLocalFix fix{f.locals.size(), "", "", as.line};
        if (!Operands(as, t, 3, 3) || !GetDirectiveString(as, t[1], local.name)) return false;
        for (int k = 2; k <= 3; k++) {
            int pc = 0;
            if (t[size_t(k)].kind == TOK_IDENT) (k == 2 ? fix.from : fix.to) = t[size_t(k)].text;
            else if (!GetInt(as, t[size_t(k)], INT32_MIN, INT32_MAX, pc)) return false;
            (k == 2 ? local.startPc : local.endPc) = pc;
        }
        f.locals.push_back(local);
        if (!fix.from.empty() || !fix.to.empty()) fb.localFixes.push_back(fix);
        return true;
    }
    if (d == ".const") {
        lvAsmConstant k;
        if (!Operands(as, t, 1, 1) || !ReadLiteral(as, t[1], true, k)) return false;
        AddConstant(fb, k);
        return true;
    }
    if (d == ".line") {
        if (!Operands(as, t, 1, 1)) return false;
        if (t[1].kind == TOK_IDENT && t[1].text == "auto") {
            fb.lineMode = LINES_AUTO;
            return true;
        }
        if (!GetInt(as, t[1], INT32_MIN, INT32_MAX, v)) return false;
        fb.lineMode = LINES_FIXED;
        fb.fixedLine = v;
        return true;
    }
    if (d == ".nolines" || d == ".unchecked") {
        if (!Once(as, d) || !Operands(as, t, 0, 0)) return false;
        (d == ".nolines" ? fb.noLines : fb.unchecked) = true;
        return true;
    }
    if (d == ".lineinfo") {
        if (!Once(as, d)) return false;
        fb.rawLineInfo = true;
        for (size_t k = 1; k < t.size(); k++) {
            if (!GetInt(as, t[k], INT32_MIN, INT32_MAX, v)) return false;
            fb.rawLines.push_back(v);
        }
        return true;
    }
    if (d == ".endian" || d == ".lensize" || d == ".check" || d == ".headerbyte") return HeaderDirective(as, d, t);
    return Error(as, "unknown directive '" + d + "'");
}

// ---------------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------------

static void Statement(lvAssembler &as, const std::vector<std::string> &labels, const std::vector<lvToken> &t)
{
    lvFunctionBuild &fb = as.open.back();
    for (const std::string &label : labels) {
        if (fb.labels.count(label)) {
            Error(as, "label '" + label + "' is defined twice in " + fb.name);
            continue;
        }
        int index = int(fb.f.code.size());
        fb.labels[label] = index;
        fb.labelOrder.push_back({label, index});
    }
    if (t.empty()) return;
    if (t[0].kind != TOK_IDENT) {
        Error(as, "expected an instruction or a directive, found '" + t[0].text + "'");
        return;
    }
    std::string op = t[0].text;
    std::transform(op.begin(), op.end(), op.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    if (op[0] == '.') {
        if (!labels.empty() && (op == ".function" || op == ".end"))
            Error(as, "a label cannot stand on a " + op + " line");
        Directive(as, op, t);
        return;
    }
    try {
        for (const lvMnemonic &m : Mnemonics) {
            if (op == m.name) {
                EmitShaped(as, m, t);
                return;
            }
        }
        EmitSpecial(as, op, t);
    } catch (const lvAsmError &e) {
        Error(as, e.message);
    }
}

lvAsmResult AsmAssembleText(const std::string &text, const std::string &name)
{
    lvAsmResult result;
    lvAssembler as;
    as.name = name;
    as.result = &result;
    lvFunctionBuild main;
    main.name = "main";
    main.f.source = "@" + name;
    as.open.push_back(std::move(main));

    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        as.line++;
        std::vector<std::string> labels;
        std::vector<lvToken> tokens;
        if (Tokenize(as, text.substr(pos, end - pos), labels, tokens)) Statement(as, labels, tokens);
        pos = end + 1;
    }
    while (as.open.size() > 1) {
        ErrorAt(as, as.open.back().startLine, "function " + as.open.back().name + " has no .end");
        CloseFunction(as);
    }
    lvFunctionBuild &mainBuild = as.open.back();
    FinishFunction(as, mainBuild);
    result.labels = mainBuild.labelOrder;
    result.chunk.main = std::move(mainBuild.f);
    if (result.errors.empty()) {
        try {
            result.bytes = AsmWriteChunk(result.chunk);
        } catch (const lvAsmError &e) {
            result.errors.push_back(name + ": " + e.message);
        }
    }
    result.ok = result.errors.empty();
    return result;
}

std::vector<uint8_t> AsmAssembleOrThrow(const std::string &text, const std::string &name)
{
    lvAsmResult r = AsmAssembleText(text, name);
    if (!r.ok) {
        std::string all;
        for (const std::string &e : r.errors) all += e + "\n";
        throw lvAsmError{all};
    }
    return r.bytes;
}

std::string AsmFormatLabelMap(const std::vector<lvAsmLabel> &labels)
{
    std::string out;
    for (const lvAsmLabel &l : labels) out += l.name + " " + std::to_string(l.index) + "\n";
    return out;
}
