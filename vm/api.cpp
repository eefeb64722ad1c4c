// api.cpp - the script stack interface: how native code reads arguments,
// pushes results, builds and reads tables, calls functions, loads chunks,
// runs coroutines and asks for memory figures.
//
// Depends on: lvobject.h. Misuse (bad index, over-full frame) raises
// ERR_STACK until the first error of the run has been thrown; after that it
// is made harmless instead: reads give nil, writes are ignored and pushes
// grow the stack.
#include "vm/lvobject.h"

// ==== Index resolution ===========================================================================

static lvValue gScratch;  // target of misused indices once the checks are off

static inline bool ChecksOn() { return !gVMRun.errorInProgress; }

static void Misuse(lvState *L)
{
    if (ChecksOn()) RaiseError(L, ERR_STACK);
}

static lvValue *Address(lvState *L, int idx)
{
    if (idx > 0) {
        lvValue *o = L->base + (idx - 1);
        return o < L->top ? o : nullptr;
    }
    if (idx > LV_REGISTRYINDEX) {
        if (idx == 0 || -idx > L->top - L->base) return nullptr;
        return L->top + idx;
    }
    if (idx == LV_REGISTRYINDEX) return &L->G->registry;
    if (idx == LV_GLOBALSINDEX) return &L->gt;
    lvValue *f = L->base - 1;
    if (f < L->stack || f->tt != LV_TFUNCTION || !ClValue(f)->isC) return nullptr;
    int n = LV_GLOBALSINDEX - idx;
    if (n > ClValue(f)->nupvalues) return nullptr;
    return &ClValue(f)->cupvalue[n - 1];
}

// Strict: an invalid index raises (or, once checks are off, reads nil and writes nowhere).
static lvValue *Resolve(lvState *L, int idx)
{
    lvValue *o = Address(L, idx);
    if (o) return o;
    Misuse(L);
    SetNil(&gScratch);
    return &gScratch;
}

// Lenient: NULL for "no value".
static lvValue *ResolveQuery(lvState *L, int idx)
{
    if (idx > 0) {
        lvValue *o = L->base + (idx - 1);
        if (o > L->stackLast) {
            Misuse(L);
            return nullptr;
        }
        return o < L->top ? o : nullptr;
    }
    lvValue *o = Address(L, idx);
    if (!o) Misuse(L);
    return o;
}

static bool HasValues(lvState *L, int n)
{
    if (n >= 0 && L->top - L->base >= n) return true;
    Misuse(L);
    return false;
}

static inline void IncrTop(lvState *L)
{
    L->top++;
    if (L->top > StackAt(L, L->ci->top)) {
        if (ChecksOn()) RaiseError(L, ERR_STACK);
        CheckStack(L, LV_MINSTACK);
        L->ci->top = StackIndex(L, L->top);
    }
}

static lvTable *ResolveTable(lvState *L, int idx)
{
    lvValue *o = Resolve(L, idx);
    if (o->tt == LV_TTABLE) return TabValue(o);
    Misuse(L);
    return nullptr;
}

// ==== Stack management =============================================================================

int GetStackTop(lvState *L) { return static_cast<int>(L->top - L->base); }

void SetStackTop(lvState *L, int idx)
{
    if (idx >= 0) {
        if (idx > L->stackLast - L->base) {
            Misuse(L);
            CheckStack(L, idx);
            if (StackAt(L, L->ci->top) < L->base + idx) L->ci->top = StackIndex(L, L->base + idx);
        }
        while (L->top < L->base + idx) SetNil(L->top++);
        L->top = L->base + idx;
    } else {
        int64_t want = -int64_t(idx) - 1;
        int n = want > LV_MAXNATIVEFRAME * 64 ? -1 : static_cast<int>(want);
        if (!HasValues(L, n)) n = static_cast<int>(L->top - L->base);
        L->top -= n;
    }
}

void RemoveValue(lvState *L, int idx)
{
    lvValue *p = Address(L, idx);
    if (!p || p >= L->top || p < L->base) {
        Misuse(L);
        return;
    }
    while (++p < L->top) p[-1] = p[0];
    L->top--;
}

void InsertValue(lvState *L, int idx)
{
    lvValue *p = Address(L, idx);
    if (!p || p >= L->top || p < L->base) {
        Misuse(L);
        return;
    }
    for (lvValue *q = L->top; q > p; q--) *q = q[-1];
    *p = *L->top;
}

void ReplaceValue(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return;
    // The globals table and the registry must stay tables: global reads rely on it.
    if ((idx == LV_GLOBALSINDEX || idx == LV_REGISTRYINDEX) && L->top[-1].tt != LV_TTABLE) {
        Misuse(L);
        L->top--;
        return;
    }
    lvValue *o = Resolve(L, idx);
    *o = L->top[-1];
    L->top--;
}

void PushCopy(lvState *L, int idx)
{
    *L->top = *Resolve(L, idx);
    IncrTop(L);
}

void MoveValues(lvState *from, lvState *to, int n)
{
    if (!HasValues(from, n)) return;
    from->top -= n;
    for (int i = 0; i < n; i++) {
        *to->top = from->top[i];
        IncrTop(to);
    }
}

// ==== Queries ========================================================================================

int GetValueType(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return o ? o->tt : LV_TNONE;
}

const char *GetTypeName(lvState *, int tag)
{
    static const char *const names[] = {"nil", "boolean", "userdata", "number", "string",
                                        "table", "function", "userdata", "thread"};
    if (tag < 0 || tag > 8) return "no value";
    return names[tag];
}

int IsNativeFunction(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return o && o->tt == LV_TFUNCTION && ClValue(o)->isC;
}

int CanConvertToNumber(lvState *L, int idx)
{
    lvValue n;
    lvValue *o = ResolveQuery(L, idx);
    return o && ConvertToNumber(o, &n) != nullptr;
}

int IsStringOrNumber(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return o && (o->tt == LV_TNUMBER || o->tt == LV_TSTRING);
}

int IsUserDataOrPointer(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return o && (o->tt == LV_TUSERDATA || o->tt == LV_TPOINTER);
}

int ValuesIdentical(lvState *L, int i, int j)
{
    lvValue *a = ResolveQuery(L, i), *b = ResolveQuery(L, j);
    return a && b && RawEqualValues(a, b);
}

int ValuesEqual(lvState *L, int i, int j)
{
    lvValue *a = ResolveQuery(L, i), *b = ResolveQuery(L, j);
    if (!a || !b || a->tt != b->tt) return 0;
    return EqualValues(L, a, b);
}

int ValueLessThan(lvState *L, int i, int j, int collate)
{
    lvValue *a = ResolveQuery(L, i), *b = ResolveQuery(L, j);
    if (!a || !b) return 0;
    return LessThanValues(L, a, b, collate);
}

double ValueToNumber(lvState *L, int idx)
{
    lvValue n;
    lvValue *o = ResolveQuery(L, idx);
    const lvValue *r = o ? ConvertToNumber(o, &n) : nullptr;
    return r ? r->v.n : 0;
}

int ValueToBoolean(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return o && !(o->tt == LV_TNIL || (o->tt == LV_TBOOLEAN && o->v.b == 0));
}

static lvString *ConvertSlotToString(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    if (!o) return nullptr;
    if (o->tt == LV_TSTRING) return StrValue(o);
    if (o->tt != LV_TNUMBER && o->tt != LV_TNIL) return nullptr;
    ConvertToString(L, o);
    lvString *s = StrValue(o);
    CheckCollection(L);  // the string stays in its slot, so it survives
    return s;
}

const char *ValueToString(lvState *L, int idx)
{
    lvString *s = ConvertSlotToString(L, idx);
    return s ? s->Data() : nullptr;
}

size_t ValueStringLength(lvState *L, int idx)
{
    lvString *s = ConvertSlotToString(L, idx);
    return s ? s->len : 0;
}

lvCommandFunction ValueToNativeFunction(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return (o && o->tt == LV_TFUNCTION && ClValue(o)->isC) ? ClValue(o)->f : nullptr;
}

void *GetUserDataPointer(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    if (!o) return nullptr;
    if (o->tt == LV_TUSERDATA) return UdValue(o)->Data();
    if (o->tt == LV_TPOINTER) return o->v.p;
    return nullptr;
}

lvState *ValueToThread(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    return (o && o->tt == LV_TTHREAD) ? ThValue(o) : nullptr;
}

const void *GetValueAddress(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    if (!o) return nullptr;
    switch (o->tt) {
    case LV_TUSERDATA: return UdValue(o)->Data();
    case LV_TPOINTER: return o->v.p;
    case LV_TTABLE:
    case LV_TFUNCTION:
    case LV_TTHREAD: return o->v.gc;
    default: return nullptr;
    }
}

// ==== Pushes ==========================================================================================

void PushNil(lvState *L)
{
    SetNil(L->top);
    IncrTop(L);
}

void PushNumber(lvState *L, double n)
{
    SetNumber(L->top, n);
    IncrTop(L);
}

void PushSizedString(lvState *L, const char *s, size_t len)
{
    CheckCollection(L);
    SetString(L->top, InternString(L, s, len));
    IncrTop(L);
}

void PushStringBlock(lvState *L, char *block, size_t len)
{
    CheckCollection(L);
    SetString(L->top, InternStringBlock(L, block, len));
    IncrTop(L);
}

void PushString(lvState *L, const char *s)
{
    if (!s) PushNil(L);
    else PushSizedString(L, s, std::strlen(s));
}

void PushBoolean(lvState *L, int b)
{
    SetBoolean(L->top, b);
    IncrTop(L);
}

void PushPointer(lvState *L, void *p)
{
    SetPointer(L->top, p);
    IncrTop(L);
}

void PushNativeClosure(lvState *L, lvCommandFunction f, int n)
{
    // A native closure holds at most 255 upvalues.
    if (n < 0 || n > 255 || !HasValues(L, n)) {
        Misuse(L);
        int have = static_cast<int>(L->top - L->base);
        n = n < 0 ? 0 : (n > 255 ? 255 : n);
        if (n > have) n = have;
    }
    CheckCollection(L);
    lvClosure *cl = NewNativeClosure(L, n);
    cl->f = f;
    L->top -= n;
    for (int i = 0; i < n; i++) cl->cupvalue[i] = L->top[i];
    SetClosure(L->top, cl);
    IncrTop(L);
}

void PushNewTable(lvState *L) { PushNewSizedTable(L, 0, 0); }

void PushNewSizedTable(lvState *L, int narray, int lognodes)
{
    CheckCollection(L);
    if (narray < 0) narray = 0;
    if (narray > (1 << 24)) narray = 1 << 24;
    if (lognodes < 0) lognodes = 0;
    SetTable(L->top, NewTableObject(L, narray, lognodes));
    IncrTop(L);
}

void *PushNewUserData(lvState *L, size_t size)
{
    CheckCollection(L);
    lvUserData *u = NewUserDataObject(L, size);
    SetUserData(L->top, u);
    IncrTop(L);
    return u->Data();
}

lvState *PushNewThread(lvState *L)
{
    CheckCollection(L);
    lvState *L1 = CreateThreadState(L);
    SetThread(L->top, L1);
    IncrTop(L);
    return L1;
}

int PushMetatable(lvState *L, int idx)
{
    lvValue *o = ResolveQuery(L, idx);
    lvTable *mt = o ? MetatableOf(L, o) : nullptr;
    if (!mt || mt == TabValue(&L->G->defaultMeta)) return 0;
    SetTable(L->top, mt);
    IncrTop(L);
    return 1;
}

void PushEnvironment(lvState *L, int idx)
{
    lvValue *o = Resolve(L, idx);
    *L->top = (o->tt == LV_TFUNCTION && !ClValue(o)->isC) ? ClValue(o)->g : L->gt;
    IncrTop(L);
}

int PushClosureUpvalues(lvState *L)
{
    lvValue *f = L->base - 1;
    if (f < L->stack || f->tt != LV_TFUNCTION || !ClValue(f)->isC) {
        Misuse(L);
        return 0;
    }
    int n = ClValue(f)->nupvalues;
    CheckStack(L, n + LV_MINSTACK);
    f = L->base - 1;
    if (StackAt(L, L->ci->top) < L->top + n + LV_MINSTACK) L->ci->top = StackIndex(L, L->top + n + LV_MINSTACK);
    for (int i = 0; i < n; i++) {
        *L->top = ClValue(f)->cupvalue[i];
        IncrTop(L);
    }
    return n;
}

// The value slot and name of upvalue n of the function at funcindex, or NULL.
static lvValue *UpvalueSlot(lvState *L, int funcindex, int n, const char **name)
{
    lvValue *fi = ResolveQuery(L, funcindex);
    if (!fi || fi->tt != LV_TFUNCTION) return nullptr;
    lvClosure *cl = ClValue(fi);
    if (n < 1 || n > cl->nupvalues) return nullptr;
    if (cl->isC) {
        *name = "";
        return &cl->cupvalue[n - 1];
    }
    lvPrototype *p = cl->p;
    *name = (n <= p->sizeupvalues && p->upvalues[n - 1]) ? p->upvalues[n - 1]->Data() : "";
    return cl->lupvalue[n - 1]->v;
}

const char *PushUpvalue(lvState *L, int funcindex, int n)
{
    const char *name = nullptr;
    lvValue *v = UpvalueSlot(L, funcindex, n, &name);
    if (!v) return nullptr;
    *L->top = *v;
    IncrTop(L);
    return name;
}

const char *StoreUpvalue(lvState *L, int funcindex, int n)
{
    const char *name = nullptr;
    if (!HasValues(L, 1)) return nullptr;
    lvValue *v = UpvalueSlot(L, funcindex, n, &name);
    if (!v) return nullptr;
    L->top--;
    *v = *L->top;
    return name;
}

void ConcatValues(lvState *L, int n)
{
    if (n >= 2) {
        if (!HasValues(L, n)) return;
        CheckCollection(L);
        ConcatRegisters(L, n, static_cast<int>(L->top - L->base) - 1);
        L->top -= n - 1;
    } else if (n == 0) {
        CheckCollection(L);
        SetString(L->top, InternString(L, "", 0));
        IncrTop(L);
    }
}

// ==== Tables and metatables ============================================================================

void GetTableValue(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return;
    lvValue *t = Resolve(L, idx);
    lvValue tv = *t;
    IndexValue(L, &tv, L->top - 1, L->top - 1, nullptr);
}

void GetTableValueRaw(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return;
    lvTable *h = ResolveTable(L, idx);
    L->top[-1] = h ? *TableGet(h, L->top - 1) : gNilValue;
}

void GetTableItemRaw(lvState *L, int idx, int n)
{
    lvTable *h = ResolveTable(L, idx);
    *L->top = h ? *TableGetInt(h, n) : gNilValue;
    IncrTop(L);
}

void SetTableValue(lvState *L, int idx)
{
    if (!HasValues(L, 2)) return;
    lvValue tv = *Resolve(L, idx);
    AssignIndex(L, &tv, L->top - 2, L->top - 1);
    L->top -= 2;
}

void SetTableValueRaw(lvState *L, int idx)
{
    if (!HasValues(L, 2)) return;
    lvTable *h = ResolveTable(L, idx);
    if (h) *TableSet(L, h, L->top - 2) = L->top[-1];
    L->top -= 2;
}

void SetTableItemRaw(lvState *L, int idx, int n)
{
    if (!HasValues(L, 1)) return;
    lvTable *h = ResolveTable(L, idx);
    if (h) *TableSetInt(L, h, n) = L->top[-1];
    L->top--;
}

int NextTableEntry(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return 0;
    lvTable *h = ResolveTable(L, idx);
    if (!h) {
        L->top--;
        return 0;
    }
    CheckStack(L, 1);
    int more = TableNext(L, h, L->top - 1);
    if (more) IncrTop(L);
    else L->top--;
    return more;
}

int AssignMetatable(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return 0;
    lvValue *mtv = L->top - 1;
    lvTable *mt;
    if (mtv->tt == LV_TNIL) {
        mt = TabValue(&L->G->defaultMeta);
    } else if (mtv->tt == LV_TTABLE) {
        mt = TabValue(mtv);
    } else {
        Misuse(L);
        L->top--;
        return 0;
    }
    lvValue *o = Resolve(L, idx);
    int res = 1;
    if (o->tt == LV_TTABLE) TabValue(o)->metatable = mt;
    else if (o->tt == LV_TUSERDATA) UdValue(o)->metatable = mt;
    else res = 0;
    L->top--;
    return res;
}

int SetEnvironment(lvState *L, int idx)
{
    if (!HasValues(L, 1)) return 0;
    if (L->top[-1].tt != LV_TTABLE) {
        Misuse(L);
        L->top--;
        return 0;
    }
    lvValue *o = Resolve(L, idx);
    int res = 0;
    if (o->tt == LV_TFUNCTION && !ClValue(o)->isC) {
        ClValue(o)->g = L->top[-1];
        res = 1;
    }
    L->top--;
    return res;
}

// ==== Calls ===============================================================================================

int CallFunction(lvState *L, int nargs, int nresults)
{
    if (nargs < 0 || !HasValues(L, nargs + 1)) return ERR_STACK;
    return CallValue(L, L->top - (nargs + 1), nresults);
}

namespace {
struct CallArgs {
    ptrdiff_t func;  // stack index of the function
    int nresults;    // results wanted
    int code;        // the code a called command answered, 0 when none
};
}  // namespace

static void ProtectedCallBody(lvState *L, void *ud)
{
    CallArgs *c = static_cast<CallArgs *>(ud);
    c->code = CallValue(L, L->stack + c->func, c->nresults);
}

int ProtectedCall(lvState *L, int nargs, int nresults, int errfunc)
{
    CheckOwnerThread(L);
    if (gVMRun.protectedNesting > 50) return ERR_STACK;
    if (nargs < 0 || !HasValues(L, nargs + 1)) return ERR_STACK;
    gVMRun.protectedNesting++;
    CallArgs c = {L->top - (nargs + 1) - L->stack, nresults, 0};
    int oldnCcalls = L->nCcalls;
    ptrdiff_t oldci = L->ci - L->baseCi;
    uint8_t oldallowhook = L->allowhook;
    ptrdiff_t olderrfunc = L->errfunc;
    L->errfunc = errfunc == 0 ? 0 : (Resolve(L, errfunc) - L->stack);
    int status = RunProtected(L, ProtectedCallBody, &c);
    if (status != 0) {
        lvValue *oldtop = L->stack + c.func;
        CloseUpvalues(L, oldtop);
        L->nCcalls = oldnCcalls;
        L->ci = L->baseCi + oldci;
        L->base = StackAt(L, L->ci->base);
        L->allowhook = oldallowhook;
        RestoreStackLimit(L);
        L->top = L->stack + c.func;
    }
    L->errfunc = olderrfunc;
    gVMRun.protectedNesting--;
    // A command called directly fails by its answer, not by a throw: the caller must see it.
    return status ? status : c.code;
}

// ==== Loading and dumping ==================================================================================

namespace {
struct LoadArgs {
    lvReaderFunction reader;  // block source
    void *data;               // its data
    const char *name;         // chunk name
};
struct BufferReader {
    const char *bytes;  // remaining input
    size_t size;        // its length
};
}  // namespace

static void LoadChunkBody(lvState *L, void *ud)
{
    LoadArgs *a = static_cast<LoadArgs *>(ud);
    CheckCollection(L);
    lvPrototype *p = LoadBytecode(L, a->reader, a->data, a->name);
    lvClosure *cl = NewScriptClosure(L, p->nups, &L->gt);
    cl->p = p;
    // A dumped nested function keeps its upvalues: each starts as a closed nil.
    for (int i = 0; i < p->nups; i++) cl->lupvalue[i] = NewClosedUpvalue(L);
    SetClosure(L->top, cl);
    IncrTop(L);
}

int LoadChunk(lvState *L, lvReaderFunction reader, void *data, const char *chunkname)
{
    CheckOwnerThread(L);
    const char *name = chunkname ? chunkname : "?";
    if (*name == '\033') name = "binary string";
    else if (*name == '=' || *name == '@') name++;
    LoadArgs a = {reader, data, name};
    ptrdiff_t oldtop = L->top - L->stack;
    int status = RunProtected(L, LoadChunkBody, &a);
    lvGlobalState *g = L->G;
    if (g->buffer) {
        FreeVector(L, g->buffer, g->buffsize);
        g->buffer = nullptr;
        g->buffsize = 0;
    }
    if (status != 0) L->top = L->stack + oldtop;
    return status;
}

static const char *ReadWholeBuffer(lvState *, void *data, size_t *size)
{
    BufferReader *r = static_cast<BufferReader *>(data);
    if (r->size == 0) return nullptr;
    *size = r->size;
    r->size = 0;
    return r->bytes;
}

int LoadChunkBuffer(lvState *L, const void *bytes, size_t size, const char *chunkname)
{
    BufferReader r = {static_cast<const char *>(bytes), size};
    return LoadChunk(L, ReadWholeBuffer, &r, chunkname);
}

// ==== Memory figures ========================================================================================

int GetCollectThreshold(lvState *L)
{
    uint64_t kb = L->G->GCthreshold / 1024;
    return kb > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(kb);
}

int GetMemoryInUse(lvState *L) { return static_cast<int>(L->G->nblocks / 1024); }

void SetCollectThreshold(lvState *L, int kb)
{
    if (kb >= 4194304) L->G->GCthreshold = UINT64_MAX;
    else L->G->GCthreshold = static_cast<uint64_t>(kb < 0 ? 0 : kb) * 1024;
    CheckCollection(L);
}

// ==== Coroutines =============================================================================================

static void ResumeBody(lvState *L, void *ud)
{
    int nargs = *static_cast<int *>(ud);
    lvCallRecord *ci = L->ci;
    lvValue *first;
    if (ci == L->baseCi) {
        int code = 0;
        first = PrepareCall(L, L->top - (nargs + 1), &code, 0);
        if (first) {
            // A native body ran to its end (or yielded at once).
            if (first > L->top || IsJumpAnswer(first)) return;
            FinishCall(L, -1, first);
            if (code != 0) ThrowError(L, code);
            return;
        }
    } else if (ci->state & LV_CI_C) {
        // Finish the call instruction that the yielding command interrupted.
        lvCallRecord *caller = ci - 1;
        int nresults = GetC(*(caller->savedpc - 1)) - 1;
        FinishCall(L, nresults, L->top - nargs);
        if (nresults >= 0) L->top = StackAt(L, L->ci->top);
    } else {
        ci->state &= static_cast<uint8_t>(~LV_CI_YIELD);
    }
    first = ExecuteBytecode(L);
    if (first) FinishCall(L, -1, first);
}

int ResumeThread(lvState *L, int nargs)
{
    CheckOwnerThread(L);
    if (L->ci == L->baseCi) {
        if (nargs >= L->top - L->base) return ERR_DEADRESUME;
    } else if (!(L->ci->state & LV_CI_YIELD)) {
        return ERR_NONSUSPENDEDRESUME;
    }
    // Resumes nest on the native stack: each counts as a native call of the resumer, so
    // coroutines resumed inside coroutines meet the same limit as nested native calls.
    lvState *from = gVMRun.currentState;
    int depth = (from && from != L ? from->nCcalls : 0) + 1;
    if (depth >= LV_MAXCCALLS) return ERR_STACK;
    L->nCcalls = L->baseCcalls = depth;
    uint8_t oldallowhook = L->allowhook;
    int status = RunProtected(L, ResumeBody, &nargs);
    if (status != 0) {
        L->ci = L->baseCi;
        L->base = StackAt(L, L->ci->base);
        L->nCcalls = L->baseCcalls = 0;
        CloseUpvalues(L, L->base);
        L->top = L->base;
        L->allowhook = oldallowhook;
        RestoreStackLimit(L);
    }
    return status;
}

int YieldThread(lvState *L, int nresults)
{
    lvCallRecord *ci = L->ci;
    if (!HasValues(L, nresults)) nresults = nresults < 0 ? 0 : static_cast<int>(L->top - L->base);
    if (L->nCcalls > L->baseCcalls) RaiseError(L, ERR_BADYIELD);
    if (ci->state & LV_CI_C) {
        if ((ci - 1)->state & LV_CI_C) RaiseError(L, ERR_CYIELD);
        if (L->top - nresults > L->base) {
            for (int i = 0; i < nresults; i++) L->base[i] = L->top[-nresults + i];
            L->top = L->base + nresults;
        }
    }
    ci->state |= LV_CI_YIELD;
    return LV_YIELD;
}
