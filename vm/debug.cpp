// debug.cpp - debug information (levels, sources, lines, variable names),
// hooks, the call trace, and the bytecode verifier.
//
// Depends on: lvobject.h. The verifier's symbolic execution serves two ends:
// rejecting unsafe code at load time, and telling which instruction last set
// a register (for "%s not found" names).
#include <chrono>
#include <cstdio>
#include <thread>

#include "vm/lvobject.h"

// ==== Verifier ===================================================================================

namespace {
enum : uint8_t {
    kModeABC = 0, kModeABx = 1, kModeAsBx = 2, kModeJump = 3,
};
enum : uint16_t {
    kBReg = 1 << 2, kBRK = 1 << 3, kCRK = 1 << 4, kBxK = 1 << 5, kSetA = 1 << 6, kTest = 1 << 7,
};
struct OpInfo {
    uint8_t format;  // kMode*
    uint16_t flags;  // operand rules
};
constexpr OpInfo kOpInfo[LV_NUM_OPCODES] = {
    {kModeABC, kBReg | kSetA},          // OpMove
    {kModeABx, kBxK | kSetA},           // OpLoadK
    {kModeABC, kSetA},                  // OpLoadBool
    {kModeABC, kBReg | kSetA},          // OpLoadNil
    {kModeABC, kSetA},                  // OpGetUpval
    {kModeABx, kBxK | kSetA},           // OpGetGlobal
    {kModeABC, kBReg | kCRK | kSetA},   // OpGetTable
    {kModeABx, kBxK},                   // OpSetGlobal
    {kModeABC, 0},                      // OpSetUpval
    {kModeABC, kBRK | kCRK},            // OpSetTable
    {kModeABC, kSetA},                  // OpNewTable
    {kModeABC, kBRK | kCRK | kSetA},    // OpAdd
    {kModeABC, kBRK | kCRK | kSetA},    // OpSub
    {kModeABC, kBRK | kCRK | kSetA},    // OpMul
    {kModeABC, kBRK | kCRK | kSetA},    // OpDiv
    {kModeABC, kBRK | kCRK | kSetA},    // OpIntDiv
    {kModeABC, kBRK | kCRK | kSetA},    // OpMod
    {kModeABC, kBRK | kCRK | kSetA},    // OpShl
    {kModeABC, kBRK | kCRK | kSetA},    // OpShr
    {kModeABC, kBRK | kCRK | kSetA},    // OpOr
    {kModeABC, kBRK | kCRK | kSetA},    // OpAnd
    {kModeABC, kBRK | kCRK | kSetA},    // OpXor
    {kModeABC, kBRK | kCRK | kSetA},    // OpPow
    {kModeABC, kBReg | kSetA},          // OpUnm
    {kModeABC, kBReg | kSetA},          // OpNot
    {kModeABC, kBReg | kSetA},          // OpBNot
    {kModeABC, kBReg | kCRK | kSetA},   // OpConcat
    {kModeJump, 0},                     // OpJmp
    {kModeABC, kBRK | kCRK | kTest},    // OpEq
    {kModeABC, kBRK | kCRK | kTest},    // OpLt
    {kModeABC, kBRK | kCRK | kTest},    // OpLe
    {kModeABC, kBReg | kSetA | kTest},  // OpTest
    {kModeABC, 0},                      // OpCall
    {kModeABC, 0},                      // OpTailCall
    {kModeABC, 0},                      // OpReturn
    {kModeAsBx, 0},                     // OpForLoop
    {kModeABC, kTest},                  // OpTForLoop
    {kModeAsBx, 0},                     // OpTForPrep
    {kModeABx, 0},                      // OpSetList
    {kModeABx, 0},                      // OpSetListO
    {kModeABC, 0},                      // OpClose
    {kModeABx, kSetA},                  // OpClosure
    {kModeABC, kBReg | kCRK | kSetA},   // OpSelf
    {kModeABC, 0},                      // OpCatchCall
    {kModeABC, 0},                      // OpCatchTailCall
};
constexpr int kNoReg = 255;

bool IsCallOp(int op) { return op == OpCall || op == OpTailCall || op == OpCatchCall || op == OpCatchTailCall; }
}  // namespace

#define VCHECK(x) \
    if (!(x)) return 0

static bool CheckRK(const lvPrototype *pt, int r)
{
    return r < pt->maxstacksize || (r >= LV_MAXSTACK && r - LV_MAXSTACK < pt->sizek);
}

uint32_t VerifyBytecode(const lvPrototype *pt, int lastpc, int reg)
{
    VCHECK(pt->maxstacksize <= LV_MAXSTACK);
    VCHECK(pt->sizelineinfo == 0 || pt->sizelineinfo == pt->sizecode);
    VCHECK(pt->sizecode >= 1 && GetOp(pt->code[pt->sizecode - 1]) == OpReturn);
    // The parameters (and the vararg table) must fit the frame.
    VCHECK(pt->numparams + (pt->is_vararg ? 1 : 0) <= pt->maxstacksize);
    VCHECK(lastpc <= pt->sizecode);
    int last = pt->sizecode - 1;
    const int maxs = pt->maxstacksize;
    for (int pc = 0; pc < lastpc; pc++) {
        const uint32_t i = pt->code[pc];
        const int op = GetOp(i);
        VCHECK(op < LV_NUM_OPCODES);
        const OpInfo info = kOpInfo[op];
        const int a = GetA(i);
        int b = 0, c = 0;
        if (op != OpJmp) VCHECK(a < maxs);
        switch (info.format) {
        case kModeABC:
            b = GetB(i);
            c = GetC(i);
            if (info.flags & kBReg) VCHECK(b < maxs);
            if (info.flags & kBRK) VCHECK(CheckRK(pt, b));
            if (info.flags & kCRK) VCHECK(CheckRK(pt, c));
            break;
        case kModeABx:
            b = GetBx(i);
            if (info.flags & kBxK) VCHECK(b < pt->sizek);
            break;
        case kModeAsBx: b = GetSBx(i); break;
        case kModeJump: b = GetJump(i); break;
        }
        if ((info.flags & kSetA) && a == reg) last = pc;
        if (info.flags & kTest) {
            VCHECK(pc + 2 < pt->sizecode);
            VCHECK(GetOp(pt->code[pc + 1]) == OpJmp);
        }
        switch (op) {
        case OpLoadBool: VCHECK(c == 0 || pc + 2 < pt->sizecode); break;
        case OpLoadNil:
            if (a <= reg && reg <= b) last = pc;
            break;
        case OpGetUpval:
        case OpSetUpval: VCHECK(GetB(i) < pt->nups); break;
        case OpGetGlobal:
        case OpSetGlobal: VCHECK(pt->k[b].tt == LV_TSTRING); break;
        case OpSelf:
            VCHECK(a + 1 < maxs);
            if (reg == a + 1) last = pc;
            break;
        case OpConcat: VCHECK(c < maxs && b < c); break;
        case OpTForLoop: {
            // The call slots are R(A+C+3)..R(A+C+5) and its C+1 results land from
            // R(A+C+3) on, up to R(A+2C+3); the jump after it is checked as an OpJmp.
            int top = TForLoopTop(a, c);
            VCHECK(top < maxs);
            if (reg >= a + 2 && reg <= top) last = pc;
            break;
        }
        case OpForLoop:
        case OpTForPrep:
        case OpJmp: {
            if (op == OpForLoop) VCHECK(a + 2 < maxs);
            if (op == OpTForPrep) {
                VCHECK(a + 1 < maxs);
                if (reg == a || reg == a + 1) last = pc;
            }
            int dest = pc + 1 + b;
            VCHECK(0 <= dest && dest < pt->sizecode);
            if (op == OpJmp && reg != kNoReg && pc < dest && dest <= lastpc) pc += b;
            break;
        }
        case OpCall:
        case OpTailCall:
        case OpCatchCall:
        case OpCatchTailCall:
            if (b != 0) VCHECK(a + b - 1 < maxs);
            if (c >= 2) VCHECK(a + c - 2 < maxs);
            if (c == 0) {
                VCHECK(pc + 1 < pt->sizecode);
                uint32_t n = pt->code[pc + 1];
                int nop = GetOp(n);
                VCHECK(((IsCallOp(nop) || nop == OpReturn) && GetB(n) == 0) || nop == OpSetListO);
                // The taker's range must start at or below the first open result: a
                // range above it would begin past the top the open call left.
                VCHECK(GetA(n) <= a);
            }
            if (reg >= a && reg != kNoReg) last = pc;
            break;
        case OpReturn:
            if (b >= 2) VCHECK(a + b - 2 < maxs);
            break;
        case OpSetList: VCHECK(a + (GetBx(i) & (LV_FIELDS_PER_FLUSH - 1)) + 1 < maxs); break;
        case OpClosure: {
            VCHECK(b < pt->sizep);
            int nup = pt->p[b]->nups;
            VCHECK(pc + nup < pt->sizecode);
            for (; nup > 0; nup--) {
                int op1 = GetOp(pt->code[pc + nup]);
                VCHECK(op1 == OpGetUpval || op1 == OpMove);
            }
            break;
        }
        default: break;
        }
    }
    return pt->code[last];
}

int CheckBytecode(const lvPrototype *pt) { return VerifyBytecode(pt, pt->sizecode, kNoReg) != 0; }

// ==== Lines and names =============================================================================

static lvClosure *RecordFunction(lvState *L, lvCallRecord *ci) { return ClValue(StackAt(L, ci->base - 1)); }

static int CurrentPc(lvState *L, lvCallRecord *ci)
{
    // The interpreter stores its pc in the record before anything that may look at it.
    if (ci->state & LV_CI_C) return -1;
    return static_cast<int>(ci->savedpc - RecordFunction(L, ci)->p->code) - 1;
}

int GetCurrentLine(lvState *L, lvCallRecord *ci)
{
    if (ci->state & LV_CI_C) return -1;
    int pc = CurrentPc(L, ci);
    const lvPrototype *p = RecordFunction(L, ci)->p;
    if (p->sizelineinfo == 0) return 0;
    if (pc < 0) return -1;
    return p->lineinfo[pc];
}

static const char *LocalName(const lvPrototype *f, int localNumber, int pc)
{
    for (int i = 0; i < f->sizelocvars && f->locvars[i].startpc <= pc; i++) {
        if (pc < f->locvars[i].endpc) {
            if (--localNumber == 0) return f->locvars[i].name ? f->locvars[i].name->Data() : nullptr;
        }
    }
    return nullptr;
}

static const char *KeyConstantName(const lvPrototype *p, int c)
{
    if (c >= LV_MAXSTACK && p->k[c - LV_MAXSTACK].tt == LV_TSTRING) return StrValue(&p->k[c - LV_MAXSTACK])->Data();
    return "?";
}

const char *GetVariableName(lvState *L, lvCallRecord *ci, int stackpos, const char **name)
{
    if (ci->state & LV_CI_C) return nullptr;
    const lvPrototype *p = RecordFunction(L, ci)->p;
    int pc = CurrentPc(L, ci);
    if (pc < 0) pc = 0;
    *name = LocalName(p, stackpos + 1, pc);
    if (*name) return "local";
    uint32_t i = VerifyBytecode(p, pc, stackpos);
    if (!i) return nullptr;
    switch (GetOp(i)) {
    case OpGetGlobal: {
        int g = GetBx(i);
        if (p->k[g].tt == LV_TSTRING) {
            *name = StrValue(&p->k[g])->Data();
            return "global";
        }
        break;
    }
    case OpMove: {
        int a = GetA(i), b = GetB(i);
        if (b < a) return GetVariableName(L, ci, b, name);
        break;
    }
    case OpGetTable:
        *name = KeyConstantName(p, GetC(i));
        return "field";
    case OpSelf:
        *name = KeyConstantName(p, GetC(i));
        return "method";
    default: break;
    }
    return nullptr;
}

// ==== Debug interface ===================================================================================

int SetHook(lvState *L, lvHookFunction f, int mask, int count)
{
    if (!f || mask == 0) {
        mask = 0;
        f = nullptr;
    }
    L->hook = f;
    L->basehookcount = count;
    L->hookcount = count;
    L->hookmask = static_cast<uint8_t>(mask);
    L->hookinit = 0;
    L->hookGated = 0;
    L->traceAll = (mask & (LV_MASKLINE | LV_MASKCOUNT)) != 0;
    return 1;
}

int SetGatedLineHook(lvState *L, lvHookFunction f)
{
    SetHook(L, f, f ? LV_MASKLINE : 0, 0);
    if (f) {
        L->hookGated = 1;
        L->traceAll = 0;
    }
    return 1;
}

int GetStackLevel(lvState *L, int level, lvDebugInfo *ar)
{
    lvCallRecord *ci;
    for (ci = L->ci; level > 0 && ci > L->baseCi; ci--) {
        level--;
        if (!(ci->state & LV_CI_C)) level -= ci->tailcalls;
    }
    if (level > 0 || ci == L->baseCi) return 0;
    ar->callIndex = level < 0 ? 0 : static_cast<int>(ci - L->baseCi);
    return 1;
}

static void ShortSource(char *out, const char *source, int bufflen)
{
    if (*source == '=') {
        std::snprintf(out, bufflen, "%s", source + 1);
    } else if (*source == '@') {
        source++;
        int room = bufflen - 8;
        int l = static_cast<int>(std::strlen(source));
        if (l > room) std::snprintf(out, bufflen, "...%s", source + (l - room));
        else std::snprintf(out, bufflen, "%s", source);
    } else {
        int len = static_cast<int>(std::strcspn(source, "\n"));
        int room = bufflen - 17;
        if (len > room) len = room;
        if (source[len] != 0) std::snprintf(out, bufflen, "[string \"%.*s...\"]", len, source);
        else std::snprintf(out, bufflen, "[string \"%s\"]", source);
    }
}

static void FunctionInfo(lvDebugInfo *ar, const lvValue *func)
{
    lvClosure *cl = ClValue(func);
    if (cl->isC) {
        ar->source = "=[C]";
        ar->lineDefined = -1;
        ar->what = "C";
    } else {
        ar->source = cl->p->source ? cl->p->source->Data() : "=?";
        ar->lineDefined = cl->p->lineDefined;
        ar->what = ar->lineDefined == 0 ? "main" : "Lumivarra";
    }
    ShortSource(ar->shortSource, ar->source, sizeof ar->shortSource);
}

// The global name under which a function is stored, if any.
static const char *GlobalNameOf(lvState *L, const lvValue *f)
{
    if (L->gt.tt != LV_TTABLE) return nullptr;
    lvTable *g = TabValue(&L->gt);
    for (int i = 0; i < TableNodeCount(g); i++) {
        const lvTableNode *n = &g->node[i];
        if (n->key.tt == LV_TSTRING && n->val.tt == f->tt && n->val.v.p == f->v.p) return StrValue(&n->key)->Data();
    }
    return nullptr;
}

static const char *FunctionName(lvState *L, lvCallRecord *ci, const char **name)
{
    *name = nullptr;
    lvCallRecord *caller = ci - 1;
    bool scriptCaller = caller > L->baseCi || !(caller->state & LV_CI_C);
    if (!((!(ci->state & LV_CI_C) && ci->tailcalls > 0) || (caller->state & LV_CI_C) || !scriptCaller)) {
        int pc = CurrentPc(L, caller);
        const lvPrototype *p = RecordFunction(L, caller)->p;
        if (pc >= 0 && pc < p->sizecode) {
            uint32_t i = p->code[pc];
            if (IsCallOp(GetOp(i))) {
                const char *kind = GetVariableName(L, caller, GetA(i), name);
                if (kind && *name) return kind;
            }
        }
    }
    *name = GlobalNameOf(L, StackAt(L, ci->base - 1));
    return *name ? "global" : "";
}

int GetDebugInfo(lvState *L, const char *what, lvDebugInfo *ar)
{
    lvCallRecord *ci = nullptr;
    lvValue fv;
    bool tail = false;
    if (*what == '>') {
        lvValue *f = L->top - 1;
        if (f < L->base || f->tt != LV_TFUNCTION) RaiseError(L, ERR_FUNCEXPECTED);
        fv = *f;
        what++;
        L->top--;
    } else if (ar->callIndex != 0) {
        ci = L->baseCi + ar->callIndex;
        fv = *StackAt(L, ci->base - 1);
    } else {
        tail = true;
        SetNil(&fv);
    }
    int status = 1;
    for (; *what; what++) {
        switch (*what) {
        case 'S':
            if (tail) {
                ar->source = "=(tail call)";
                ar->lineDefined = -1;
                ar->what = "tail";
                ShortSource(ar->shortSource, ar->source, sizeof ar->shortSource);
            } else {
                FunctionInfo(ar, &fv);
            }
            break;
        case 'l': ar->currentLine = ci ? GetCurrentLine(L, ci) : -1; break;
        case 'u': ar->upvalueCount = tail ? 0 : ClValue(&fv)->nupvalues; break;
        case 'n':
            if (ci) {
                ar->nameKind = FunctionName(L, ci, &ar->name);
            } else {
                ar->name = nullptr;
                ar->nameKind = "";
            }
            break;
        case 'f':
            CheckStack(L, 1);
            *L->top++ = fv;
            break;
        default: status = 0;
        }
    }
    return status;
}

// ==== Hooks ========================================================================================

void CallHook(lvState *L, int event, int line)
{
    lvHookFunction hook = L->hook;
    if (!hook || !L->allowhook) return;
    ptrdiff_t top = L->top - L->stack;
    int ciTop = L->ci->top;
    lvDebugInfo ar;
    std::memset(&ar, 0, sizeof ar);
    ar.event = event;
    ar.currentLine = line;
    ar.callIndex = event == LV_HOOKTAILRET ? 0 : static_cast<int>(L->ci - L->baseCi);
    CheckStack(L, LV_MINSTACK);
    L->ci->top = StackIndex(L, L->top) + LV_MINSTACK;
    L->allowhook = 0;
    int err = 0;
    hook(L, &ar, &err);
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) RaiseError(L, ERR_USERABORT);
    if (err) RaiseError(L, err);
    L->allowhook = 1;
    L->ci->top = ciTop;
    L->top = L->stack + top;
}

int LineStep(lvState *L, const uint32_t *pc, int *line)
{
    lvCallRecord *ci = L->ci;
    const lvPrototype *p = RecordFunction(L, ci)->p;
    int npc = static_cast<int>(pc - p->code) - 1;
    int newline = p->sizelineinfo ? p->lineinfo[npc] : 0;
    const uint32_t *old = ci->tracepc;
    ci->tracepc = pc;
    ci->savedpc = pc;
    *line = newline;
    if (!L->hookinit) {
        L->hookinit = 1;
        return 0;
    }
    // No step yet in this record (a fresh call, a tail call, or a gated hook that was idle
    // since the record began) counts as a new line, like the first instruction.
    if (npc == 0 || !old || old <= p->code || old > p->code + p->sizecode) return 1;
    if (pc <= old) return 1;
    int oldline = p->sizelineinfo ? p->lineinfo[old - p->code - 1] : 0;
    return newline != oldline;
}

void TraceStep(lvState *L, const uint32_t *pc)
{
    uint8_t mask = L->hookmask;
    if (mask & LV_MASKCOUNT) {
        if (L->hookcount == 0) {
            L->hookcount = L->basehookcount;
            L->ci->savedpc = pc;
            CallHook(L, LV_HOOKCOUNT, -1);
            return;
        }
    }
    if (!(mask & LV_MASKLINE)) return;
    int line;
    if (LineStep(L, pc, &line)) CallHook(L, LV_HOOKLINE, line);
}

// ==== Line work for gated hooks ===========================================================

void SetLineHookWork(unsigned bits, int on)
{
    bits &= LV_LINEWORK_EVERYLINE | LV_LINEWORK_POLL;
    if (on) gVMRun.attention.fetch_or(bits, std::memory_order_relaxed);
    else gVMRun.attention.fetch_and(~bits, std::memory_order_relaxed);
}

static std::atomic<int> gLinePollPeriodMs{0};

void StartLineHookTimer(int periodMs)
{
    if (periodMs < 1) periodMs = 1;
    if (gLinePollPeriodMs.exchange(periodMs) != 0) return;
    // A detached sleeper: it only sets a bit, owns nothing, and ends with the process.
    std::thread([] {
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(gLinePollPeriodMs.load()));
            gVMRun.attention.fetch_or(LV_LINEWORK_POLL, std::memory_order_relaxed);
        }
    }).detach();
}

// ==== Call trace ====================================================================================

void CallTrace(lvState *L, lvValue *func)
{
    char line[2048];
    const char *name = nullptr;
    lvDebugInfo ar;
    std::memset(&ar, 0, sizeof ar);
    int nargs = static_cast<int>(L->top - (func + 1));
    ar.callIndex = static_cast<int>(L->ci - L->baseCi);
    GetDebugInfo(L, "n", &ar);
    name = ar.name;
    int n;
    if (name) {
        n = std::snprintf(line, sizeof line, "Now calling %s()", name);
    } else if (nargs == 2) {
        ptrdiff_t fi = func - L->stack;
        const char *s = ValueToString(L, 2);
        func = L->stack + fi;
        if (s) n = std::snprintf(line, sizeof line, "Now trying to find metamethod %s()", s);
        else n = std::snprintf(line, sizeof line, "Now calling <unknown>()");
    } else {
        n = std::snprintf(line, sizeof line, "Now calling %s()", "<unknown>");
    }
    GetVMHost()->PrintOutput(line);
    for (int a = 1; a <= nargs; a++) {
        const lvValue *o = func + a;
        if (a == 1) GetVMHost()->PrintOutput(" with arguments ");
        switch (o->tt) {
        case LV_TNIL: n = std::snprintf(line, sizeof line, "#%d=(NIL) ", a); break;
        case LV_TNUMBER: n = std::snprintf(line, sizeof line, "#%d=(NUMBER)%g ", a, o->v.n); break;
        case LV_TSTRING: n = std::snprintf(line, sizeof line, "#%d=(STRING)\"%s\" ", a, StrValue(o)->Data()); break;
        case LV_TTABLE: n = std::snprintf(line, sizeof line, "#%d=(TABLE)%p ", a, static_cast<void *>(o->v.gc)); break;
        case LV_TFUNCTION: n = std::snprintf(line, sizeof line, "#%d=(FUNCPTR)%p ", a, static_cast<void *>(o->v.gc)); break;
        default: n = std::snprintf(line, sizeof line, "#%d=(INTERNAL)%d ", a, o->tt); break;
        }
        (void)n;
        GetVMHost()->PrintOutput(line);
    }
    GetVMHost()->PrintOutput("\n");
}
