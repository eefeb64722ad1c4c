// Differential fuzz target of the bytecode verifier. The input is not a chunk but the
// recipe of one: a generator turns it into functions with random opcodes and operands,
// random constants and nested prototypes, and writes them with the assembler kit. Three
// readings of the operand rules judge every function - the machine's loader, the
// assembler's rules and the tests' independent checker - and must agree (a difference
// aborts). What the machine accepts is then run for a bounded number of instructions
// with native iterators, coroutines, jump requests and collections at hand, under
// ASan+UBSan: any report there is a hole in the verifier.
//
// Recipe of a function (every byte optional; missing bytes read as 0):
//   stack, flags (bits 0-2 parameters, bit 3 vararg, bits 4-5 upvalues of nested
//   functions), constant count (mod 9) and one byte per constant, nested function count
//   (mod 4, three levels at most) and their recipes, instruction count, then four bytes
//   per instruction: op (bits 0-5; bit 6 and 7 are the ninth bits of B and C), A, B, C.
//   Jumps and loops take B as a signed offset, constant-index forms take B + 256 * (C mod 4).
// LV_FUZZ_NO_DIFF=1 skips the agreement check, leaving only the sanitizers as judges;
// LV_FUZZ_PRINT=1 prints each generated chunk as assembler text (for reading a finding).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/tools/asm_verifier.h"
#include "tools/lvasm/lvasm.h"
#include "vm/lvobject.h"

namespace {

// Instructions a state runs before the count hook ends the run (a constructor with a
// large size hint in a loop makes each of them costly under ASan).
constexpr int kBudget = 5000;

struct Recipe {
    const uint8_t *data;
    size_t size;
    size_t pos = 0;
    int Byte() { return pos < size ? data[pos++] : 0; }
};

const char *const kNames[] = {"iter", "cocreate", "coresume", "yield", "next", "nextitem",
                              "collect", "setmeta", "fail", "jump", "newud", "many"};
constexpr int kNameCount = sizeof kNames / sizeof kNames[0];

lvAsmConstant MakeConstant(int sel)
{
    lvAsmConstant k;
    if (sel < 96) {
        k.type = ASM_CONST_NUMBER;
        k.number = sel - 32;
    } else if (sel < 96 + 3 * kNameCount) {
        k.type = ASM_CONST_STRING;
        k.text = kNames[(sel - 96) % kNameCount];
    } else if (sel < 240) {
        k.type = ASM_CONST_STRING;
        k.text = std::string(size_t(sel - (96 + 3 * kNameCount)) * 3, 'x');
    } else if (sel < 244) {
        const double special[] = {0.0 / 0.0, 1e300, -0.0, 4294967296.5};
        k.type = ASM_CONST_NUMBER;
        k.number = special[sel - 240];
    } else {
        k.type = ASM_CONST_NIL;
    }
    return k;
}

uint32_t MakeWord(int opByte, int a, int b, int c)
{
    int op = opByte & 63;
    int b9 = b | ((opByte >> 6) & 1) << 8;
    int c9 = c | ((opByte >> 7) & 1) << 8;
    switch (op) {
    case OpJmp: return MakeJump(static_cast<int8_t>(b), (a & 0x81) == 0x81);
    case OpForLoop:
    case OpTForPrep: return MakeAsBx(op, a, static_cast<int8_t>(b));
    case OpLoadK:
    case OpGetGlobal:
    case OpSetGlobal:
    case OpClosure:
    case OpSetList:
    case OpSetListO: return MakeABx(op, a, b + 256 * (c & 3));
    // Small size hints: a constructor of millions of slots in a loop only burns time
    // (the loader fuzz target covers the hints and the memory limit).
    case OpNewTable: return MakeABC(op, a, b & 31, c % 9);
    default: return MakeABC(op, a, b9, c9);
    }
}

void BuildFunction(Recipe &r, lvAsmFunction &f, int depth, int upvalues)
{
    int stack = r.Byte();
    f.maxStackSize = uint8_t(stack < 200 ? 2 + stack % 48 : stack);
    int flags = r.Byte();
    f.paramCount = uint8_t(flags & 7);
    f.varargFlag = uint8_t((flags >> 3) & 1);
    f.upvalueCount = uint8_t(upvalues);
    f.lineDefined = depth;
    int nk = r.Byte() % 9;
    for (int k = 0; k < nk; k++) f.constants.push_back(MakeConstant(r.Byte()));
    int np = depth < 3 ? r.Byte() % 4 : 0;
    for (int k = 0; k < np; k++) {
        lvAsmFunction sub;
        BuildFunction(r, sub, depth + 1, (flags >> 4) & 3);
        f.functions.push_back(sub);
    }
    int n = r.Byte();
    for (int k = 0; k < n && r.pos < r.size; k++) {
        int op = r.Byte(), a = r.Byte(), b = r.Byte(), c = r.Byte();
        f.code.push_back(MakeWord(op, a, b, c));
    }
    // Most recipes end without a return: give them one so that more of them load.
    if (f.code.empty() || GetOp(f.code.back()) != OpReturn) f.code.push_back(MakeABC(OpReturn, 0, 1, 0));
    for (size_t k = 0; k < f.code.size(); k++) f.lineInfo.push_back(int32_t(k / 2 + 1));
}

bool AssemblerAccepts(const lvAsmFunction &f)
{
    std::vector<lvAsmProblem> problems;
    if (!AsmCheckFunction(f, nullptr, problems)) return false;
    for (const lvAsmFunction &sub : f.functions)
        if (!AssemblerAccepts(sub)) return false;
    return true;
}

// ---- Commands the generated code can reach ----

int StopAfterBudget(lvState *, lvDebugInfo *, int *error)
{
    *error = ERR_USERABORT;
    return 0;
}

// A native iterator: control + 1 up to 4, answering as many copies as it is asked for
// (and more), then nil.
int CmdIter(lvState *L)
{
    double n = ValueToNumber(L, 2) + 1;
    if (n > 4) {
        PushNil(L);
        return 1;
    }
    if (!EnsureStackSpace(L, 8)) return ERR_STACK;
    for (int k = 0; k < 8; k++) PushNumber(L, n);
    return 8;
}
int CmdMany(lvState *L)
{
    int n = static_cast<int>(ValueToNumber(L, 1)) & 255;
    if (!EnsureStackSpace(L, n)) return ERR_STACK;
    for (int k = 0; k < n; k++) PushNumber(L, k);
    return n;
}
int CmdCoCreate(lvState *L)
{
    if (GetValueType(L, 1) != LV_TFUNCTION) return ERR_FUNCEXPECTED;
    lvState *co = PushNewThread(L);
    SetHook(co, StopAfterBudget, LV_MASKCOUNT, kBudget);
    PushCopy(L, 1);
    MoveValues(L, co, 1);
    return 1;
}
int CmdCoResume(lvState *L)
{
    if (GetValueType(L, 1) != LV_TTHREAD) return ERR_FUNCEXPECTED;
    lvState *co = ValueToThread(L, 1);
    int nargs = GetStackTop(L) - 1;
    if (co == L || !EnsureStackSpace(co, nargs)) return ERR_STACK;
    MoveValues(L, co, nargs);
    int st = ResumeThread(co, nargs);
    if (st != 0) return st;
    int r = GetStackTop(co);
    if (r > 999 || !EnsureStackSpace(L, r)) return ERR_STACK;
    MoveValues(co, L, r);
    return r;
}
int CmdYield(lvState *L) { return YieldThread(L, GetStackTop(L)); }
int CmdNext(lvState *L)
{
    SetStackTop(L, 2);
    CheckTableArg(L, 1);
    if (NextTableEntry(L, 1)) return 2;
    PushNil(L);
    return 1;
}
int CmdCollect(lvState *L)
{
    RunFullCollection(L);
    return 0;
}
int CmdSetMeta(lvState *L)
{
    SetStackTop(L, 2);
    if (GetValueType(L, 1) != LV_TTABLE) return ERR_TABEXPECTED;
    if (GetValueType(L, 2) != LV_TTABLE && GetValueType(L, 2) != LV_TNIL) return ERR_TABEXPECTED;
    AssignMetatable(L, 1);
    return 1;
}
int CmdFail(lvState *) { return ERR_NUMEXPECTED; }
int CmdJump(lvState *L)
{
    gVMRun.jumpRequestOffset = static_cast<int>(ValueToNumber(L, 1));
    return ValueToBoolean(L, 2) ? LV_JUMPREQUEST_AGAIN : LV_JUMPREQUEST;
}
int CmdNewUd(lvState *L)
{
    PushNewUserData(L, 16);
    return 1;
}

const lvCommandEntry kCommands[] = {
    {"iter", CmdIter},       {"cocreate", CmdCoCreate}, {"coresume", CmdCoResume}, {"yield", CmdYield},
    {"next", CmdNext},       {"nextitem", CmdNext},     {"collect", CmdCollect},   {"setmeta", CmdSetMeta},
    {"fail", CmdFail},       {"jump", CmdJump},         {"newud", CmdNewUd},       {"many", CmdMany},
    {nullptr, nullptr},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool noDiff = std::getenv("LV_FUZZ_NO_DIFF") != nullptr;
    static const bool print = std::getenv("LV_FUZZ_PRINT") != nullptr;
    Recipe recipe{data, size};
    lvAsmChunk chunk;
    BuildFunction(recipe, chunk.main, 0, 0);
    chunk.main.lineDefined = 0;
    chunk.main.source = std::string("=gen");
    std::vector<uint8_t> bytes = AsmWriteChunk(chunk);
    if (print) std::fprintf(stderr, "%s", AsmDisassemble(chunk).c_str());

    ResetVMRun();
    gVMDebug.memoryLimit = 64u << 20;
    lvState *L = NewVMState();
    if (!L) return 0;
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, kCommands, 0);
    SetStackTop(L, 0);
    int status = LoadChunkBuffer(L, bytes.data(), bytes.size(), "=gen");
    if (!noDiff) {
        bool machine = status == 0;
        bool assembler = AssemblerAccepts(chunk.main);
        std::vector<std::string> problems = VerifyTestChunk(bytes);
        bool checker = problems.empty();
        if (machine != assembler || machine != checker) {
            std::fprintf(stderr, "verdicts differ: machine %d, assembler %d, checker %d\n%s", machine, assembler,
                         checker, AsmDisassemble(chunk).c_str());
            for (const std::string &p : problems) std::fprintf(stderr, "checker: %s\n", p.c_str());
            std::abort();
        }
    }
    if (status == 0) {
        SetHook(L, StopAfterBudget, LV_MASKCOUNT, kBudget);
        ProtectedCall(L, 0, 0, 0);
    }
    CloseVMState(L);
    return 0;
}
