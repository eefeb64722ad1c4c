// interp.cpp - the interpreter loop, script and native calls under the
// command convention, Gosub jumps and returns.
//
// Depends on: lvobject.h, valueops.cpp, table.cpp. Hot path: one switch,
// operands decoded once, numbers and plain tables handled inline; anything
// that may call or allocate reloads `base` afterwards (the stack may move).
#include <cmath>
#include <exception>
#include <new>

#include "vm/lvobject.h"

// ==== Calls =====================================================================================

// A value that is not a function is called through its __call tag method.
static lvValue *TryCallTagMethod(lvState *L, lvValue *func)
{
    const lvValue *tm = GetTagMethodOf(L, func, TM_CALL);
    if (tm->tt != LV_TFUNCTION) RaiseNameError(L, func, ERR_FUNCDECLA, "()");
    lvValue tmv = *tm;
    ptrdiff_t funcr = func - L->stack;
    CheckStack(L, 1);
    func = L->stack + funcr;
    for (lvValue *p = L->top; p > func; p--) p[0] = p[-1];
    L->top++;
    *func = tmv;
    return func;
}

// Packs the arguments beyond the fixed ones into a table at keys 0..n-1 with "n".
static void AdjustVarargs(lvState *L, int nfixargs, ptrdiff_t baseIdx)
{
    int actual = static_cast<int>(L->top - (L->stack + baseIdx));
    if (actual < nfixargs) {
        CheckStack(L, nfixargs - actual);
        for (; actual < nfixargs; ++actual) SetNil(L->top++);
    }
    actual -= nfixargs;
    lvTable *htab = NewTableObject(L, actual, 1);
    for (int i = 0; i < actual; i++) *TableSetInt(L, htab, i) = L->top[-actual + i];
    lvValue nk;
    SetString(&nk, L->G->nName);
    SetNumber(TableSet(L, htab, &nk), actual);
    L->top -= actual;
    CheckStack(L, 1);
    SetTable(L->top, htab);
    L->top++;
}

// Enters a script function: its call record, its frame of nil registers.
static inline __attribute__((always_inline)) void EnterScriptFunction(lvState *L, ptrdiff_t funcr, lvClosure *cl)
{
    lvPrototype *p = cl->p;
    if (p->is_vararg) AdjustVarargs(L, p->numparams, funcr + 1);
    CheckStack(L, p->maxstacksize);
    lvCallRecord *ci = NextCallRecord(L);
    L->base = L->stack + funcr + 1;
    ci->base = static_cast<int>(funcr + 1);
    ci->top = ci->base + p->maxstacksize;
    ci->savedpc = p->code;
    ci->tracepc = nullptr;
    ci->tailcalls = 0;
    ci->state = LV_CI_SAVEDPC;
    lvValue *top = L->stack + ci->top;
    lvValue *t = L->top;
    while (t < top) SetNil(t++);
    L->top = top;
}

// A command is native code: an exception other than the machine's own must not pass the
// command boundary, where it would skip the error mode, the handler and the location.
static int CallNativeGuarded(lvState *L, lvCommandFunction f)
{
    try {
        return f(L);
    } catch (const lvVMError &) {
        throw;
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    } catch (const std::exception &) {
        return ERR_INTERNAL;
    }
}

lvValue *PrepareCall(lvState *L, lvValue *func, int *codeOut, int catching)
{
    if (func->tt != LV_TFUNCTION) func = TryCallTagMethod(L, func);
    ptrdiff_t funcr = func - L->stack;
    lvClosure *cl = ClValue(func);
    if (!cl->isC) {
        EnterScriptFunction(L, funcr, cl);
        return nullptr;
    }
    CheckStack(L, LV_MINSTACK);
    lvCallRecord *ci = NextCallRecord(L);
    L->base = L->stack + funcr + 1;
    ci->base = static_cast<int>(funcr + 1);
    ci->top = StackIndex(L, L->top) + LV_MINSTACK;
    ci->state = LV_CI_C;
    if (L->hookmask & LV_MASKCALL) CallHook(L, LV_HOOKCALL, -1);
    const lvVMHost *host = &gVMHostActive;
    if (host->TraceCalls() && !gVMRun.stopRequest.load(std::memory_order_relaxed)) CallTrace(L, L->base - 1);
    host->BeforeCommand(L, cl->f);
    int r = CallNativeGuarded(L, cl->f);
    bool counted = r == LV_COUNTEDRESULTS;
    if (counted) {
        r = L->countedResults;
        L->countedResults = 0;
        if (r < 0 || r > L->top - L->base) {  // more than it pushed
            r = ERR_INTERNAL;
            counted = false;
        }
    }
    if (!counted && (r > 999 || r < -3)) {
        if (r == ERR_ABORT) return L->top;
        if (catching) {
            CheckStack(L, 1);
            SetNumber(L->top++, r);
            return L->top - 1;
        }
        if (r != ERR_YIELD && r != ERR_USERABORT && host->CanRunErrorHandler(L)) r = host->RunErrorHandler(L, r);
        if (r != 0) *codeOut = r;
        return L->top;
    }
    if (!counted && r == LV_YIELD) return L->top + 1;
    if (!counted && (r == LV_JUMPREQUEST || r == LV_JUMPREQUEST_AGAIN)) return reinterpret_cast<lvValue *>(static_cast<intptr_t>(r));
    if (catching) {
        CheckStack(L, 1);
        for (lvValue *p = L->top; p > L->top - r; p--) p[0] = p[-1];
        SetNumber(L->top - r, 0);
        L->top++;
        r++;
    }
    return L->top - r;
}

int CountedResults(lvState *L, int count)
{
    L->countedResults = count;
    return LV_COUNTEDRESULTS;
}

// Pops the call record and moves up to `wanted` results to the function's slot.
static inline __attribute__((always_inline)) void MoveResults(lvState *L, int wanted, lvValue *firstResult)
{
    lvValue *res = L->base - 1;
    L->ci--;
    L->base = L->stack + L->ci->base;
    while (wanted != 0 && firstResult < L->top) {
        *res++ = *firstResult++;
        wanted--;
    }
    while (wanted-- > 0) SetNil(res++);
    L->top = res;
}

void FinishCall(lvState *L, int wanted, lvValue *firstResult)
{
    if (!firstResult) firstResult = L->top;
    if (L->hookmask & LV_MASKRET) {
        ptrdiff_t fr = firstResult - L->stack;
        CallHook(L, LV_HOOKRET, -1);
        if (!(L->ci->state & LV_CI_C)) {
            int lost = L->ci->tailcalls;
            while (lost-- > 0) CallHook(L, LV_HOOKTAILRET, -1);
        }
        firstResult = L->stack + fr;
    }
    MoveResults(L, wanted, firstResult);
}

// FinishCall without the return hook's test on the common path.
static inline __attribute__((always_inline)) void FinishCallFast(lvState *L, int wanted, lvValue *firstResult)
{
    if (__builtin_expect(L->hookmask & LV_MASKRET, 0)) FinishCall(L, wanted, firstResult);
    else MoveResults(L, wanted, firstResult);
}

// commandErrors: a code the called command answers takes the road of a call instruction
// (the host's HandleCommandError while the command's level still names it; a yield code is
// thrown once the call is finished). Otherwise the code is only returned.
static int CallValueFrom(lvState *L, lvValue *func, int nresults, bool commandErrors)
{
    if (++L->nCcalls >= LV_MAXCCALLS) {
        if (L->nCcalls == LV_MAXCCALLS) RaiseError(L, ERR_STACK);
        else if (L->nCcalls >= LV_MAXCCALLS + (LV_MAXCCALLS >> 3)) ThrowError(L, ERR_STACK);
    }
    int code = 0;
    lvValue *first = PrepareCall(L, func, &code, 0);
    if (IsJumpAnswer(first)) first = L->top;  // jump requests mean nothing here
    else if (!first) first = ExecuteBytecode(L);
    else if (commandErrors && code != 0 && code != ERR_YIELD) gVMHostActive.HandleCommandError(L, code);
    FinishCall(L, nresults, first);
    L->nCcalls--;
    if (commandErrors && code == ERR_YIELD) ThrowError(L, ERR_YIELD);
    CheckCollection(L);
    return code;
}

int CallValue(lvState *L, lvValue *func, int nresults) { return CallValueFrom(L, func, nresults, false); }

// ==== Run-time checks ==========================================================================

int ArraySizeHint(int b)
{
    // (B mod 8) * 2^(B div 8) reaches 7 * 2^63: clamp to the table limit instead of overflowing.
    int shift = b >> 3;
    int64_t asize = shift >= 40 ? (int64_t(1) << 40) : (int64_t(b & 7) << shift);
    return asize > (1 << 24) ? (1 << 24) : static_cast<int>(asize);
}

int HashSizeHint(int c) { return c > 24 ? 24 : c; }

[[noreturn]] static void RaiseFieldError(lvState *L, const lvValue *key)
{
    char buf[1024];
    switch (key->tt) {
    case LV_TSTRING: std::snprintf(buf, sizeof buf, "\"%s\"", StrValue(key)->Data()); break;
    case LV_TNUMBER: std::snprintf(buf, sizeof buf, "%g", key->v.n); break;
    case LV_TNIL: std::snprintf(buf, sizeof buf, "nil"); break;
    default: std::snprintf(buf, sizeof buf, "(%s)", GetTypeName(L, key->tt)); break;
    }
    SetErrorString(buf);
    RaiseError(L, ERR_FIELDINIT);
}

// For-loop operands: nil counts as 0 and numeric strings as their number, in place.
static void ForLoopOperand(lvState *L, lvValue *o)
{
    if (o->tt == LV_TNUMBER) return;
    double n;
    if (o->tt == LV_TNIL) SetNumber(o, 0);
    else if (o->tt == LV_TSTRING && StringToNumber(StrValue(o)->Data(), StrValue(o)->len, &n)) SetNumber(o, n);
    else RaiseError(L, ERR_VALUEEXPECTED);
}

static void PushGosub(lvState *L, const lvPrototype *p, int index)
{
    if (gVMRun.gosubDepth >= LV_GOSUBSTACK_SIZE) RaiseError(L, ERR_INTERNAL);
    gVMRun.gosubStack[gVMRun.gosubDepth].proto = p;
    gVMRun.gosubStack[gVMRun.gosubDepth].index = index;
    gVMRun.gosubDepth++;
}

// ==== The loop ===================================================================================

// Integer division and remainder of two numbers inline: both operands whole and within
// +-2^53, the divisor not zero. Anything else (and -2^63 / -1) goes through ArithNumbers.
static inline __attribute__((always_inline)) bool SmallInteger(double d, int64_t *out)
{
    if (!(d >= -9007199254740992.0 && d <= 9007199254740992.0)) return false;
    int64_t v = static_cast<int64_t>(d);
    *out = v;
    return static_cast<double>(v) == d;
}

static inline __attribute__((always_inline)) double IntDivide(lvState *L, double a, double b, int event)
{
    int64_t x, y;
    if (SmallInteger(a, &x) && SmallInteger(b, &y) && y != 0)
        return static_cast<double>(event == TM_MOD ? x % y : x / y);
    return ArithNumbers(L, a, b, event);
}

// Bitwise operands: the low 32 bits of a number's integer value (whole numbers within
// +-2^53 inline, others through ArithNumbers' conversion).
static inline __attribute__((always_inline)) bool Bits32(double d, uint32_t *out)
{
    int64_t v;
    if (!SmallInteger(d, &v)) return false;
    *out = static_cast<uint32_t>(static_cast<uint64_t>(v));
    return true;
}

static inline __attribute__((always_inline)) double BitOp(lvState *L, double a, double b, int event)
{
    uint32_t x, y;
    if (!Bits32(a, &x) || !Bits32(b, &y)) return ArithNumbers(L, a, b, event);
    switch (event) {
    case TM_LSH: return static_cast<double>(static_cast<uint32_t>(x << (y & 31)));
    case TM_RSH: return static_cast<double>(x >> (y & 31));
    case TM_OR: return static_cast<double>(x | y);
    case TM_AND: return static_cast<double>(x & y);
    default: return static_cast<double>(x ^ y);
    }
}

// Table lookup with the array part and string keys handled inline.
static inline __attribute__((always_inline)) const lvValue *FastGet(lvTable *h, const lvValue *key)
{
    if (key->tt == LV_TNUMBER) {
        double d = key->v.n;
        if (d >= 1 && d <= h->sizearray) {
            int k = static_cast<int>(d);
            if (k == d) return &h->array[k - 1];
        }
    } else if (key->tt == LV_TSTRING) {
        return TableGetString(h, StrValue(key));
    }
    return TableGet(h, key);
}

#define RA(i) (base + GetA(i))
#define RB(i) (base + GetB(i))
#define RKB(i) (GetB(i) >= LV_MAXSTACK ? k + (GetB(i) - LV_MAXSTACK) : base + GetB(i))
#define RKC(i) (GetC(i) >= LV_MAXSTACK ? k + (GetC(i) - LV_MAXSTACK) : base + GetC(i))
// The record's saved pc is what error locations, debug information and hooks read:
// it is stored before anything that may raise, call or collect, so pc stays in a register.
#define SAVEPC() (L->ci->savedpc = pc)
#define PROTECT(x)      \
    {                   \
        SAVEPC();       \
        x;              \
        base = L->base; \
    }

lvValue *ExecuteBytecode(lvState *L)
{
    lvClosure *cl;
    const lvValue *k;
    lvValue *base;
    const uint32_t *pc;
callentry:
    if (L->hookmask & LV_MASKCALL) {
        L->ci->state |= LV_CI_HASFRAME;
        CallHook(L, LV_HOOKCALL, -1);
    }
retentry:
    L->ci->state = LV_CI_HASFRAME | LV_CI_SAVEDPC;
    pc = L->ci->savedpc;
    base = L->base;
    cl = ClValue(base - 1);
    k = cl->p->k;
    // Threaded dispatch: every handler ends in its own indirect jump.
    static const void *const kLabels[64] = {
        &&L_OpMove, &&L_OpLoadK, &&L_OpLoadBool, &&L_OpLoadNil,
        &&L_OpGetUpval, &&L_OpGetGlobal, &&L_OpGetTable, &&L_OpSetGlobal,
        &&L_OpSetUpval, &&L_OpSetTable, &&L_OpNewTable, &&L_OpAdd,
        &&L_OpSub, &&L_OpMul, &&L_OpDiv, &&L_OpIntDiv,
        &&L_OpMod, &&L_OpShl, &&L_OpShr, &&L_OpOr,
        &&L_OpAnd, &&L_OpXor, &&L_OpPow, &&L_OpUnm,
        &&L_OpNot, &&L_OpBNot, &&L_OpConcat, &&L_OpJmp,
        &&L_OpEq, &&L_OpLt, &&L_OpLe, &&L_OpTest,
        &&L_OpCall, &&L_OpTailCall, &&L_OpReturn, &&L_OpForLoop,
        &&L_OpTForLoop, &&L_OpTForPrep, &&L_OpSetList, &&L_OpSetListO,
        &&L_OpClose, &&L_OpClosure, &&L_OpSelf, &&L_OpCatchCall,
        &&L_OpCatchTailCall, &&L_Nop, &&L_Nop, &&L_Nop,
        &&L_Nop, &&L_Nop, &&L_Nop, &&L_Nop,
        &&L_Nop, &&L_Nop, &&L_Nop, &&L_Nop,
        &&L_Nop, &&L_Nop, &&L_Nop, &&L_Nop,
        &&L_Nop, &&L_Nop, &&L_Nop, &&L_Nop,
    };
    uint32_t i;
    lvValue *ra;
    // One test before each instruction: the run-wide attention word (stop request, line
    // work for gated hooks) or a plain line or count hook on this state.
#define NEXT()                                                                                  \
    {                                                                                           \
        i = *pc++;                                                                              \
        if (__builtin_expect(gVMRun.attention.load(std::memory_order_relaxed) | L->traceAll, 0)) \
            goto slowpath;                                                                      \
        ra = RA(i);                                                                             \
        goto *kLabels[GetOp(i)];                                                                \
    }
    NEXT();
slowpath: {
    unsigned attention = gVMRun.attention.load(std::memory_order_relaxed);
    if (attention & LV_ATTN_STOP) {
        SAVEPC();
        RaiseError(L, ERR_USERABORT);
    }
    bool traced = false;
    if (L->traceAll) {
        if (--L->hookcount == 0 || (L->hookmask & LV_MASKLINE)) {
            TraceStep(L, pc);
            traced = true;
        }
    } else if (attention & (LV_LINEWORK_EVERYLINE | LV_LINEWORK_POLL)) {
        if (L->hookGated && L->allowhook) {
            int line;
            if (LineStep(L, pc, &line)) {
                // Cleared before the call: a poll requested while the hook runs is kept.
                if (attention & LV_LINEWORK_POLL) gVMRun.attention.fetch_and(~LV_LINEWORK_POLL);
                CallHook(L, LV_HOOKLINE, line);
                traced = true;
            }
        } else if (attention & LV_LINEWORK_POLL) {
            gVMRun.attention.fetch_and(~LV_LINEWORK_POLL);  // no hook here to take it
        }
    }
    if (traced) {
        if (L->ci->state & LV_CI_YIELD) {
            L->ci->savedpc = pc - 1;
            L->ci->state = LV_CI_YIELD | LV_CI_SAVEDPC;
            return nullptr;
        }
        base = L->base;
    }
    ra = RA(i);
    goto *kLabels[GetOp(i)];
}
    {
        L_OpMove: *ra = *RB(i); NEXT();
        L_OpLoadK: *ra = k[GetBx(i)]; NEXT();
        L_OpLoadBool:
            SetNumber(ra, GetB(i));
            if (GetC(i)) pc++;
            NEXT();
        L_OpLoadNil: {
            lvValue *rb = RB(i);
            do {
                SetNil(rb--);
            } while (rb >= ra);
            NEXT();
        }
        L_OpGetUpval: *ra = *cl->lupvalue[GetB(i)]->v; NEXT();
        L_OpGetGlobal: {
            const lvValue *key = &k[GetBx(i)];
            lvTable *g = TabValue(&cl->g);
            const lvValue *v = TableGetString(g, StrValue(key));
            if (v->tt != LV_TNIL) *ra = *v;
            else PROTECT(GetGlobalValue(L, g, key, ra));
            NEXT();
        }
        L_OpGetTable: {
            lvValue *rb = RB(i);
            const lvValue *rc = RKC(i);
            if (rb->tt == LV_TTABLE) {
                const lvValue *v = FastGet(TabValue(rb), rc);
                if (v->tt != LV_TNIL) {
                    *ra = *v;
                    NEXT();
                }
            }
            int chain;
            lvValue key = *rc;
            PROTECT(IndexValue(L, rb, rc, ra, &chain));
            ra = RA(i);
            if (chain && ra->tt == LV_TNIL) RaiseFieldError(L, &key);
            NEXT();
        }
        L_OpSetGlobal: {
            lvTable *g = TabValue(&cl->g);
            const lvValue *v = TableGetString(g, StrValue(&k[GetBx(i)]));
            if (v->tt != LV_TNIL) {
                *const_cast<lvValue *>(v) = *ra;
                g->absent = 0;
            } else {
                PROTECT(AssignIndex(L, &cl->g, &k[GetBx(i)], ra));
            }
            NEXT();
        }
        L_OpSetUpval: *cl->lupvalue[GetB(i)]->v = *ra; NEXT();
        L_OpSetTable: {
            const lvValue *rb = RKB(i);
            const lvValue *rc = RKC(i);
            if (ra->tt == LV_TTABLE) {
                lvTable *h = TabValue(ra);
                const lvValue *v = FastGet(h, rb);
                if (v->tt != LV_TNIL) {
                    *const_cast<lvValue *>(v) = *rc;
                    h->absent = 0;
                    NEXT();
                }
                // A new key (or array growth) of a table whose metatable is known to have
                // no __newindex: stored directly. TableSet raises for nil and NaN keys.
                lvTable *mt = h->metatable;
                if (!mt || (mt->absent & (1u << TM_NEWINDEX))) {
                    SAVEPC();
                    lvValue val = *rc;
                    *TableSet(L, h, rb) = val;
                    h->absent = 0;
                    NEXT();
                }
            }
            PROTECT(AssignIndex(L, ra, rb, rc));
            NEXT();
        }
        L_OpNewTable: {
            SAVEPC();
            SetTable(ra, NewTableObject(L, ArraySizeHint(GetB(i)), HashSizeHint(GetC(i))));
            PROTECT(CheckCollection(L));
            NEXT();
        }
#define ARITH_CASE(OPC, EVENT, EXPR)                                                   \
    L_##OPC: {                                                                        \
        const lvValue *rb = RKB(i);                                                    \
        const lvValue *rc = RKC(i);                                                    \
        if (rb->tt == LV_TNUMBER && rc->tt == LV_TNUMBER) {                            \
            double nb = rb->v.n, nc = rc->v.n;                                         \
            SetNumber(ra, EXPR);                                                       \
        } else {                                                                       \
            PROTECT(ArithValues(L, ra, rb, rc, EVENT));                                \
        }                                                                              \
        NEXT();                                                                         \
    }
            ARITH_CASE(OpAdd, TM_ADD, nb + nc)
            ARITH_CASE(OpSub, TM_SUB, nb - nc)
            ARITH_CASE(OpMul, TM_MUL, nb * nc)
            ARITH_CASE(OpDiv, TM_DIV, (nc == 0 ? (SAVEPC(), ArithNumbers(L, nb, nc, TM_DIV)) : nb / nc))
            ARITH_CASE(OpIntDiv, TM_DIVINT, (SAVEPC(), IntDivide(L, nb, nc, TM_DIVINT)))
            ARITH_CASE(OpMod, TM_MOD, (SAVEPC(), IntDivide(L, nb, nc, TM_MOD)))
            ARITH_CASE(OpShl, TM_LSH, BitOp(L, nb, nc, TM_LSH))
            ARITH_CASE(OpShr, TM_RSH, BitOp(L, nb, nc, TM_RSH))
            ARITH_CASE(OpOr, TM_OR, BitOp(L, nb, nc, TM_OR))
            ARITH_CASE(OpAnd, TM_AND, BitOp(L, nb, nc, TM_AND))
            ARITH_CASE(OpXor, TM_XOR, BitOp(L, nb, nc, TM_XOR))
            ARITH_CASE(OpPow, TM_POW, std::pow(nb, nc))
#undef ARITH_CASE
        L_OpUnm: {
            const lvValue *rb = RB(i);
            if (rb->tt == LV_TNUMBER) SetNumber(ra, -rb->v.n);
            else PROTECT(NegateValue(L, ra, rb));
            NEXT();
        }
        L_OpNot: SetNumber(ra, IsFalse(RB(i)) ? 1 : 0); NEXT();
        L_OpBNot: PROTECT(BitNotValue(L, ra, RB(i))); NEXT();
        L_OpConcat: {
            SAVEPC();
            int b = GetB(i), c = GetC(i);
            PROTECT(ConcatRegisters(L, c - b + 1, c));
            *RA(i) = base[b];
            PROTECT(CheckCollection(L));
            NEXT();
        }
        L_OpJmp:
            if (IsGosubJump(i)) {
                SAVEPC();
                PushGosub(L, cl->p, static_cast<int>(pc - cl->p->code));
            }
            pc += GetJump(i);
            NEXT();
        L_OpEq: {
            const lvValue *rb = RKB(i);
            const lvValue *rc = RKC(i);
            int r;
            if (rb->tt == LV_TNUMBER && rc->tt == LV_TNUMBER) r = rb->v.n == rc->v.n;
            else PROTECT(r = EqualValues(L, rb, rc));
            if (r != GetA(i)) pc++;
            else pc += GetJump(*pc) + 1;
            NEXT();
        }
        L_OpLt: {
            const lvValue *rb = RKB(i);
            const lvValue *rc = RKC(i);
            int r;
            if (rb->tt == LV_TNUMBER && rc->tt == LV_TNUMBER) r = rb->v.n < rc->v.n;
            else PROTECT(r = LessThanValues(L, rb, rc, 1));
            if (r != GetA(i)) pc++;
            else pc += GetJump(*pc) + 1;
            NEXT();
        }
        L_OpLe: {
            const lvValue *rb = RKB(i);
            const lvValue *rc = RKC(i);
            int r;
            if (rb->tt == LV_TNUMBER && rc->tt == LV_TNUMBER) r = rb->v.n <= rc->v.n;
            else PROTECT(r = LessEqualValues(L, rb, rc));
            if (r != GetA(i)) pc++;
            else pc += GetJump(*pc) + 1;
            NEXT();
        }
        L_OpTest: {
            lvValue *rb = RB(i);
            if (static_cast<int>(IsFalse(rb)) == GetC(i)) {
                pc++;
            } else {
                *ra = *rb;
                pc += GetJump(*pc) + 1;
            }
            NEXT();
        }
        L_OpCall:
        L_OpTailCall:
        L_OpCatchCall:
        L_OpCatchTailCall: {
            int op = GetOp(i);
            int b = GetB(i);
            if (b != 0) L->top = ra + b;
            int nresults = GetC(i) - 1;
            int callIndex = static_cast<int>(pc - cl->p->code);
            gVMRun.currentCallIndex = callIndex;
            SAVEPC();
            int code = 0;
            lvValue *firstResult;
            if (ra->tt == LV_TFUNCTION && !ClValue(ra)->isC) {
                EnterScriptFunction(L, ra - L->stack, ClValue(ra));
                firstResult = nullptr;
            } else {
                firstResult = PrepareCall(L, ra, &code, op == OpCatchCall || op == OpCatchTailCall);
            }
            if (firstResult) {
                if (code != 0 && code != ERR_YIELD) gVMHostActive.HandleCommandError(L, code);
                if (IsJumpAnswer(firstResult)) {
                    int kind = static_cast<int>(reinterpret_cast<intptr_t>(firstResult));
                    FinishCall(L, nresults, nullptr);
                    // Whatever the call wanted, the jump lands where no open results wait.
                    L->top = StackAt(L, L->ci->top);
                    base = L->base;
                    // The target is an index into the running function, and only
                    // the function that owns the labels may be jumped into.
                    int64_t target = int64_t(callIndex) + gVMRun.jumpRequestOffset;
                    if ((gVMRun.labelOwner && gVMRun.labelOwner != cl->p) || target < 0 || target >= cl->p->sizecode)
                        RaiseError(L, ERR_FUNCJMP);
                    PushGosub(L, cl->p, kind == LV_JUMPREQUEST ? callIndex : callIndex - 2);
                    pc = cl->p->code + target;
                    NEXT();
                }
                if (firstResult > L->top) {  // the command yielded
                    // Only YieldThread may answer a yield; it marks the record.
                    if (!(L->ci->state & LV_CI_YIELD)) RaiseError(L, ERR_BADYIELD);
                    (L->ci - 1)->state = LV_CI_SAVEDPC;
                    return nullptr;
                }
                FinishCallFast(L, nresults, firstResult);
                if (nresults >= 0) L->top = StackAt(L, L->ci->top);
                base = L->base;
                if (code == ERR_YIELD) ThrowError(L, ERR_YIELD);
                NEXT();
            }
            if (op == OpCall || op == OpCatchCall) {
                (L->ci - 1)->state = LV_CI_SAVEDPC | LV_CI_CALLING;
            } else {
                // Tail call: the callee's frame replaces the caller's.
                lvCallRecord *caller = L->ci - 1;
                base = L->stack + caller->base;
                ra = RA(i);
                if (L->openupval) CloseUpvalues(L, base);
                int aux;
                for (aux = 0; ra + aux < L->top; aux++) base[aux - 1] = ra[aux];
                L->top = base + aux;
                caller->top = StackIndex(L, L->top);
                caller->savedpc = L->ci->savedpc;
                caller->tracepc = nullptr;
                caller->tailcalls++;
                caller->state = LV_CI_SAVEDPC;
                L->ci--;
                L->base = StackAt(L, L->ci->base);
            }
            goto callentry;
        }
        L_OpReturn: {
            if (GetC(i) == 1) {
                // Gosub return: only to an address inside the running function.
                SAVEPC();
                if (gVMRun.gosubDepth == 0) RaiseError(L, ERR_RETWOGOSUB);
                lvGosubEntry e = gVMRun.gosubStack[--gVMRun.gosubDepth];
                if (e.proto != cl->p || e.index < 0 || e.index >= cl->p->sizecode) RaiseError(L, ERR_RETWOGOSUB);
                pc = cl->p->code + e.index;
                L->top = StackAt(L, L->ci->top);  // open results are not taken across a return address
                NEXT();
            }
            lvCallRecord *ci = L->ci - 1;
            int b = GetB(i);
            if (b != 0) L->top = ra + b - 1;
            if (L->openupval) CloseUpvalues(L, base);
            L->ci->state = LV_CI_SAVEDPC;
            L->ci->savedpc = pc;
            if (!(ci->state & LV_CI_CALLING)) return ra;
            int nresults = GetC(*(ci->savedpc - 1)) - 1;
            FinishCallFast(L, nresults, ra);
            if (nresults >= 0) L->top = StackAt(L, L->ci->top);
            goto retentry;
        }
        L_OpForLoop: {
            if (__builtin_expect((ra->tt != LV_TNUMBER) | (ra[1].tt != LV_TNUMBER) | (ra[2].tt != LV_TNUMBER), 0)) {
                SAVEPC();
                if (ra->tt != LV_TNUMBER) RaiseError(L, ERR_VALUEEXPECTED);
                if (ra[1].tt != LV_TNUMBER) ForLoopOperand(L, ra + 1);
                if (ra[2].tt != LV_TNUMBER) ForLoopOperand(L, ra + 2);
            }
            double step = ra[2].v.n;
            double idx = ra->v.n + step;
            double limit = ra[1].v.n;
            if (step > 0 ? idx <= limit : idx >= limit) {
                pc += GetSBx(i);
                ra->v.n = idx;
            }
            NEXT();
        }
        L_OpTForLoop: {
            SAVEPC();
            int nvar = GetC(i) + 1;
            lvValue *cb = ra + nvar + 2;
            cb[0] = ra[0];
            cb[1] = ra[1];
            cb[2] = ra[2];
            L->top = cb + 3;
            // A native iterator's error code is a command error like any other; when it
            // is only recorded the iterator gave no values and the loop ends.
            PROTECT(CallValueFrom(L, cb, nvar, true));
            L->top = StackAt(L, L->ci->top);
            ra = RA(i) + 2;
            cb = ra + nvar;
            do {
                nvar--;
                ra[nvar] = cb[nvar];
            } while (nvar > 0);
            if (ra->tt == LV_TNIL) pc++;
            else pc += GetJump(*pc) + 1;
            NEXT();
        }
        L_OpTForPrep:
            if (ra->tt == LV_TTABLE) {
                // A script's own "next" wins; without one the table library's NextItem walks.
                ra[1] = ra[0];
                lvTable *g = TabValue(&L->gt);
                const lvValue *next = TableGetString(g, L->G->nextName);
                if (next->tt == LV_TNIL) next = TableGetString(g, L->G->nextItemName);
                *ra = *next;
            }
            pc += GetSBx(i);
            NEXT();
        L_OpSetList:
        L_OpSetListO: {
            SAVEPC();
            if (ra->tt != LV_TTABLE) RaiseNameError(L, ra, ERR_TABLEDECLA, "{}");
            lvTable *h = TabValue(ra);
            int bc = GetBx(i);
            int n;
            if (GetOp(i) == OpSetList) {
                n = (bc & (LV_FIELDS_PER_FLUSH - 1)) + 1;
            } else {
                n = static_cast<int>(L->top - ra) - 1;
                L->top = StackAt(L, L->ci->top);
            }
            bc &= ~(LV_FIELDS_PER_FLUSH - 1);
            for (; n > 0; n--) *TableSetInt(L, h, bc + n - 1) = ra[n];
            NEXT();
        }
        L_OpClose: CloseUpvalues(L, ra); NEXT();
        L_OpClosure: {
            SAVEPC();
            lvPrototype *p = cl->p->p[GetBx(i)];
            int nup = p->nups;
            lvClosure *ncl = NewScriptClosure(L, nup, &cl->g);
            ncl->p = p;
            for (int j = 0; j < nup; j++, pc++) {
                if (GetOp(*pc) == OpGetUpval) ncl->lupvalue[j] = cl->lupvalue[GetB(*pc)];
                else ncl->lupvalue[j] = FindOpenUpvalue(L, base + GetB(*pc));
            }
            SetClosure(ra, ncl);
            PROTECT(CheckCollection(L));
            NEXT();
        }
        L_OpSelf: {
            lvValue *rb = RB(i);
            const lvValue *rc = RKC(i);
            if (rc->tt != LV_TSTRING) {
                SAVEPC();
                RaiseError(L, ERR_WRONGOP);
            }
            ra[1] = *rb;
            lvValue *obj = ra + 1;
            if (obj->tt == LV_TTABLE) {
                const lvValue *v = TableGetString(TabValue(obj), StrValue(rc));
                if (v->tt != LV_TNIL) {
                    *ra = *v;
                    NEXT();
                }
            }
            PROTECT(IndexValue(L, obj, rc, ra, nullptr));
            NEXT();
        }
        L_Nop: NEXT();  // opcodes 45 to 63 do nothing
    }
#undef NEXT
}
