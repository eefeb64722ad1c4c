// rules.cpp: the operand rules that code written by the assembler must satisfy, and the
// computation of a function's maximum stack size.
//
// Depends on lvasm.h only. The rules are those of the machine's verifier, plus a few
// stricter ones that keep generated code sane (for-loop targets inside the function,
// registers a loop instruction touches below the stack size, parameters that fit).
#include "tools/lvasm/lvasm.h"

// ---------------------------------------------------------------------------------
// Operand kinds
// ---------------------------------------------------------------------------------

static bool IsCall(int op)
{
    return op == ASMOP_CALL || op == ASMOP_TAILCALL || op == ASMOP_CATCHCALL || op == ASMOP_CATCHTAILCALL;
}

// Opcodes whose B field is a register.
static bool HasRegisterB(int op)
{
    switch (op) {
    case ASMOP_MOVE: case ASMOP_LOADNIL: case ASMOP_UNM: case ASMOP_NOT: case ASMOP_BNOT:
    case ASMOP_GETTABLE: case ASMOP_CONCAT: case ASMOP_SELF: case ASMOP_TEST:
        return true;
    default:
        return false;
    }
}

// Opcodes whose B field is register-or-constant.
static bool HasRkB(int op)
{
    return op == ASMOP_SETTABLE || (op >= ASMOP_ADD && op <= ASMOP_POW) ||
           op == ASMOP_EQ || op == ASMOP_LT || op == ASMOP_LE;
}

// Opcodes whose C field is register-or-constant.
static bool HasRkC(int op)
{
    return op == ASMOP_GETTABLE || op == ASMOP_SELF || HasRkB(op);
}

// Highest register a tforloop touches: its call slots end at A+C+5 and its C+1 results,
// which land from A+C+3 on, at A+2C+3.
static long TForLoopTop(int a, int c)
{
    return long(a) + (c + 5 > 2 * c + 3 ? c + 5 : 2 * c + 3);
}

// Opcodes that must be followed by a jump.
static bool IsTest(int op)
{
    return op == ASMOP_EQ || op == ASMOP_LT || op == ASMOP_LE || op == ASMOP_TEST || op == ASMOP_TFORLOOP;
}

// ---------------------------------------------------------------------------------
// Checks
// ---------------------------------------------------------------------------------

namespace {

struct lvRuleContext {
    const lvAsmFunction *f;                // function under check
    std::vector<lvAsmProblem> *problems;   // where problems go
    int pc;                                // instruction being checked
};

}  // namespace

static void Problem(lvRuleContext &cx, const std::string &text)
{
    const char *name = AsmOpcodeName(AsmGetOpcode(cx.f->code[size_t(cx.pc)]));
    cx.problems->push_back({cx.pc, std::string(name ? name : "?") + ": " + text});
}

static void CheckRegister(lvRuleContext &cx, const char *what, long reg)
{
    if (reg >= cx.f->maxStackSize)
        Problem(cx, std::string(what) + " register " + std::to_string(reg) +
                        " is not below the stack size " + std::to_string(cx.f->maxStackSize));
}

static void CheckRk(lvRuleContext &cx, const char *what, int v)
{
    if (v < ASM_RK_CONSTANT) {
        CheckRegister(cx, what, v);
    } else if (size_t(v - ASM_RK_CONSTANT) >= cx.f->constants.size()) {
        Problem(cx, std::string(what) + " names constant " + std::to_string(v - ASM_RK_CONSTANT) +
                        " but there are " + std::to_string(cx.f->constants.size()));
    }
}

static void CheckTarget(lvRuleContext &cx, long target)
{
    if (target < 0 || target >= long(cx.f->code.size()))
        Problem(cx, "jump target " + std::to_string(target) + " is outside the function");
}

static void CheckInstruction(lvRuleContext &cx)
{
    const lvAsmFunction &f = *cx.f;
    const int size = int(f.code.size());
    const int pc = cx.pc;
    const uint32_t w = f.code[size_t(pc)];
    const int op = AsmGetOpcode(w), a = AsmGetA(w), b = AsmGetB(w), c = AsmGetC(w), bx = AsmGetBx(w);
    if (op >= ASMOP_COUNT) {
        Problem(cx, "opcode " + std::to_string(op) + " is not an instruction");
        return;
    }
    if (op != ASMOP_JMP) CheckRegister(cx, "A", a);
    if (HasRegisterB(op)) CheckRegister(cx, "B", b);
    if (HasRkB(op)) CheckRk(cx, "B", b);
    if (HasRkC(op)) CheckRk(cx, "C", c);
    if (IsTest(op)) {
        if (pc + 1 >= size || AsmGetOpcode(f.code[size_t(pc) + 1]) != ASMOP_JMP)
            Problem(cx, "a test must be followed by jmp");
        else if (pc + 2 >= size)
            Problem(cx, "the jmp after a test must not be the last instruction");
    }
    switch (op) {
    case ASMOP_LOADK: case ASMOP_GETGLOBAL: case ASMOP_SETGLOBAL:
        if (size_t(bx) >= f.constants.size())
            Problem(cx, "constant " + std::to_string(bx) + " does not exist");
        else if (op != ASMOP_LOADK && f.constants[size_t(bx)].type != ASM_CONST_STRING)
            Problem(cx, "a global's name must be a string constant");
        break;
    case ASMOP_LOADBOOL:
        if (c != 0 && pc + 2 >= size) Problem(cx, "skips past the end of the function");
        break;
    case ASMOP_GETUPVAL: case ASMOP_SETUPVAL:
        if (b >= f.upvalueCount)
            Problem(cx, "upvalue " + std::to_string(b) + " is not below the upvalue count " +
                            std::to_string(f.upvalueCount));
        break;
    case ASMOP_CONCAT:
        CheckRegister(cx, "C", c);
        if (b >= c) Problem(cx, "B must be below C");
        break;
    case ASMOP_JMP:
        CheckTarget(cx, long(pc) + 1 + AsmGetJumpOffset(w));
        break;
    case ASMOP_CALL: case ASMOP_TAILCALL: case ASMOP_CATCHCALL: case ASMOP_CATCHTAILCALL:
        if (b != 0) CheckRegister(cx, "last argument", long(a) + b - 1);
        if (c >= 2) CheckRegister(cx, "last result", long(a) + c - 2);
        if (c == 0) {
            bool ok = false;
            if (pc + 1 < size) {
                uint32_t n = f.code[size_t(pc) + 1];
                int nop = AsmGetOpcode(n);
                ok = ((IsCall(nop) || nop == ASMOP_RETURN) && AsmGetB(n) == 0) || nop == ASMOP_SETLISTO;
                if (ok && AsmGetA(n) > a) {
                    Problem(cx, "the instruction taking the open results must start at or below r" + std::to_string(a));
                    break;
                }
            }
            if (!ok) Problem(cx, "open results (C = 0) must be taken by a call or return with B = 0 or by setlisto");
        }
        break;
    case ASMOP_RETURN:
        // Whatever C is: a return with C >= 2 reads its B - 1 values just the same.
        if (b >= 2) CheckRegister(cx, "last returned", long(a) + b - 2);
        break;
    case ASMOP_FORLOOP:
        CheckRegister(cx, "step", long(a) + 2);
        CheckTarget(cx, long(pc) + 1 + AsmGetSBx(w));
        break;
    case ASMOP_TFORPREP:
        CheckRegister(cx, "state", long(a) + 1);
        CheckTarget(cx, long(pc) + 1 + AsmGetSBx(w));
        break;
    case ASMOP_TFORLOOP:
        CheckRegister(cx, "last call slot or result", TForLoopTop(a, c));
        break;
    case ASMOP_SETLIST:
        CheckRegister(cx, "last item", long(a) + bx % ASM_SETLIST_BATCH + 1);
        break;
    case ASMOP_SELF:
        CheckRegister(cx, "self", long(a) + 1);
        break;
    case ASMOP_CLOSURE:
        if (size_t(bx) >= f.functions.size()) {
            Problem(cx, "nested function " + std::to_string(bx) + " does not exist");
        } else {
            int n = f.functions[size_t(bx)].upvalueCount;
            for (int k = 1; k <= n; k++) {
                if (pc + k >= size) {
                    Problem(cx, "the function's " + std::to_string(n) + " captures run past the end");
                    break;
                }
                int cop = AsmGetOpcode(f.code[size_t(pc + k)]);
                if (cop != ASMOP_MOVE && cop != ASMOP_GETUPVAL) {
                    Problem(cx, "the function needs " + std::to_string(n) + " captures after the closure");
                    break;
                }
            }
        }
        break;
    default:
        break;
    }
}

bool AsmCheckFunction(const lvAsmFunction &f, const std::vector<bool> *skip,
                      std::vector<lvAsmProblem> &problems)
{
    size_t before = problems.size();
    auto skipped = [&](size_t i) { return skip && i < skip->size() && (*skip)[i]; };
    if (f.maxStackSize > ASM_MAX_STACK)
        problems.push_back(lvAsmProblem{-1, "stack size " + std::to_string(f.maxStackSize) + " is above 250"});
    if (f.paramCount + (f.varargFlag ? 1 : 0) > f.maxStackSize)
        problems.push_back(lvAsmProblem{-1, "parameters do not fit the stack size " + std::to_string(f.maxStackSize)});
    if (!f.lineInfo.empty() && f.lineInfo.size() != f.code.size())
        problems.push_back(lvAsmProblem{-1, "line info has " + std::to_string(f.lineInfo.size()) + " entries for " +
                           std::to_string(f.code.size()) + " instructions"});
    if (!f.upvalueNames.empty() && f.upvalueNames.size() != f.upvalueCount)
        problems.push_back(lvAsmProblem{-1, std::to_string(f.upvalueNames.size()) + " upvalue names for " +
                           std::to_string(f.upvalueCount) + " upvalues"});
    if (f.code.empty())
        problems.push_back(lvAsmProblem{-1, "the function has no instructions; it must end with return"});
    else if (!skipped(f.code.size() - 1) && AsmGetOpcode(f.code.back()) != ASMOP_RETURN)
        problems.push_back(lvAsmProblem{int(f.code.size()) - 1, "the last instruction must be return"});
    lvRuleContext cx{&f, &problems, 0};
    for (size_t i = 0; i < f.code.size(); i++) {
        if (skipped(i)) continue;
        cx.pc = int(i);
        CheckInstruction(cx);
    }
    return problems.size() == before;
}

// ---------------------------------------------------------------------------------
// Stack size
// ---------------------------------------------------------------------------------

int AsmComputeStackSize(const lvAsmFunction &f, const std::vector<bool> *skip)
{
    long need = 2;
    auto use = [&](long reg) {
        if (reg + 1 > need) need = reg + 1;
    };
    use(long(f.paramCount) + (f.varargFlag ? 1 : 0) - 1);
    for (size_t i = 0; i < f.code.size(); i++) {
        if (skip && i < skip->size() && (*skip)[i]) continue;
        uint32_t w = f.code[i];
        int op = AsmGetOpcode(w), a = AsmGetA(w), b = AsmGetB(w), c = AsmGetC(w);
        if (op >= ASMOP_COUNT || op == ASMOP_JMP) continue;
        use(a);
        if (HasRegisterB(op)) use(b);
        if (HasRkB(op) && b < ASM_RK_CONSTANT) use(b);
        if (HasRkC(op) && c < ASM_RK_CONSTANT) use(c);
        if (IsCall(op)) {
            if (b != 0) use(long(a) + b - 1);
            if (c >= 2) use(long(a) + c - 2);
        }
        switch (op) {
        case ASMOP_CONCAT: use(c); break;
        case ASMOP_RETURN: if (b >= 2) use(long(a) + b - 2); break;
        case ASMOP_FORLOOP: use(long(a) + 2); break;
        case ASMOP_TFORPREP: use(long(a) + 1); break;
        case ASMOP_TFORLOOP: use(TForLoopTop(a, c)); break;
        case ASMOP_SETLIST: use(long(a) + AsmGetBx(w) % ASM_SETLIST_BATCH + 1); break;
        case ASMOP_SELF: use(long(a) + 1); break;
        default: break;
        }
    }
    return int(need);
}
