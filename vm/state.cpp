// state.cpp - machine creation and destruction, the counted allocator, value
// stacks and call records, closures, prototypes and upvalues.
//
// Depends on: lvobject.h. Stack positions kept in call records are indexes,
// so a stack may move on any allocation; top, base and open upvalues are
// re-pointed by ResizeStack.
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>

#include "vm/lvobject.h"

lvVMDebug gVMDebug = {0, 0, 0};
const lvValue gNilValue = {LV_TNIL, {0}};

// Bytes held by all machines of the process (tests check it returns to its baseline).
static std::atomic<uint64_t> gProcessBytes{0};
uint64_t GetVMProcessBytes() { return gProcessBytes.load(); }

// ==== Memory ===========================================================================

void *ReallocVMMemory(lvState *L, void *block, size_t oldsize, size_t newsize)
{
    if (newsize == 0) {
        if (block) {
            std::free(block);
            gProcessBytes -= oldsize;
            if (L && L->G) L->G->nblocks -= oldsize;
        }
        return nullptr;
    }
    if (newsize >= 0xFFFFFFFDull) {
        if (!L) return nullptr;
        RaiseError(L, ERR_MEM);
    }
    if (gVMDebug.memoryLimit && L && L->G && newsize > oldsize &&
        L->G->nblocks + (newsize - oldsize) > gVMDebug.memoryLimit)
        ThrowError(L, ERR_MEM);
    void *nb = std::realloc(block, newsize);
    if (!nb) {
        if (!L) return nullptr;
        ThrowError(L, ERR_MEM);
    }
    gProcessBytes += newsize;
    gProcessBytes -= block ? oldsize : 0;
    if (L && L->G) L->G->nblocks += newsize - (block ? oldsize : 0);
    return nb;
}

void LinkNewObject(lvState *L, lvObjectHead *o, int tt)
{
    lvGlobalState *g = L->G;
    o->next = g->rootgc;
    g->rootgc = o;
    o->marked = 0;
    o->tt = static_cast<uint8_t>(tt);
}

// ==== Stacks ===========================================================================

void ResizeStack(lvState *L, int newsize)
{
    lvValue *oldstack = L->stack;
    int oldsize = L->stacksize;
    lvValue *ns;
    if (gVMDebug.moveStack || !oldstack) {
        // Always a fresh block, so stale pointers into the old one fault under ASan.
        ns = NewVector<lvValue>(L, newsize);
        if (oldstack) {
            std::memcpy(ns, oldstack, sizeof(lvValue) * (oldsize < newsize ? oldsize : newsize));
            FreeVector(L, oldstack, oldsize);
        }
    } else {
        ns = static_cast<lvValue *>(ReallocVMMemory(L, oldstack, sizeof(lvValue) * oldsize, sizeof(lvValue) * newsize));
    }
    for (int i = oldstack ? oldsize : 0; i < newsize; i++) SetNil(&ns[i]);
    L->stack = ns;
    L->stacksize = newsize;
    L->stackLast = ns + newsize - LV_EXTRA_STACK - 1;
    if (oldstack) {
        L->top = ns + (L->top - oldstack);
        L->base = ns + (L->base - oldstack);
        for (lvUpvalue *up = L->openupval; up; up = reinterpret_cast<lvUpvalue *>(up->h.next))
            up->v = ns + (up->v - oldstack);
    }
}

void GrowStack(lvState *L, int n)
{
    if (n <= L->stacksize) ResizeStack(L, 2 * L->stacksize);
    else ResizeStack(L, L->stacksize + n + LV_EXTRA_STACK);
}

void ResizeCallRecords(lvState *L, int newsize)
{
    lvCallRecord *old = L->baseCi;
    int inuse = old ? static_cast<int>(L->ci - old) : 0;
    lvCallRecord *nc = static_cast<lvCallRecord *>(
        ReallocVMMemory(L, old, sizeof(lvCallRecord) * L->sizeCi, sizeof(lvCallRecord) * newsize));
    L->baseCi = nc;
    L->sizeCi = newsize;
    L->ci = nc + inuse;
    L->endCi = nc + newsize - 1;
}

lvCallRecord *GrowCallRecords(lvState *L)
{
    if (L->sizeCi > LV_MAXCALLS) ThrowError(L, ERR_STACK);  // overflow while handling one
    ResizeCallRecords(L, 2 * L->sizeCi);
    if (L->sizeCi > LV_MAXCALLS) RaiseError(L, ERR_STACK);
    return ++L->ci;
}

void RestoreStackLimit(lvState *L)
{
    L->stackLast = L->stack + L->stacksize - 1;
    if (L->sizeCi > LV_MAXCALLS) {
        int inuse = static_cast<int>(L->ci - L->baseCi);
        if (inuse + 1 < LV_MAXCALLS) ResizeCallRecords(L, LV_MAXCALLS);
    }
}

int EnsureStackSpace(lvState *L, int n)
{
    if ((L->top - L->base) + n > LV_MAXNATIVEFRAME) return 0;
    CheckStack(L, n);
    if (StackAt(L, L->ci->top) < L->top + n) L->ci->top = StackIndex(L, L->top + n);
    return 1;
}

// Gives a thread its first stack (45 slots) and call records (8).
static void InitThreadStack(lvState *L1, lvState *L)
{
    // Allocated on L so the machine counts it; L1's own fields are set after.
    lvValue *st = NewVector<lvValue>(L, LV_BASIC_STACK);
    for (int i = 0; i < LV_BASIC_STACK; i++) SetNil(&st[i]);
    L1->stack = st;
    L1->stacksize = LV_BASIC_STACK;
    L1->stackLast = st + LV_BASIC_STACK - LV_EXTRA_STACK - 1;
    L1->top = st;
    L1->baseCi = NewVector<lvCallRecord>(L, LV_BASIC_CI);
    std::memset(L1->baseCi, 0, sizeof(lvCallRecord) * LV_BASIC_CI);
    L1->sizeCi = LV_BASIC_CI;
    L1->endCi = L1->baseCi + LV_BASIC_CI - 1;
    L1->ci = L1->baseCi;
    L1->ci->state = LV_CI_C;
    SetNil(L1->top++);  // stands for the base record's function
    L1->base = L1->top;
    L1->ci->base = StackIndex(L1, L1->base);
    L1->ci->top = StackIndex(L1, L1->top + LV_MINSTACK);
}

static void ClearStateFields(lvState *L1)
{
    std::memset(reinterpret_cast<char *>(L1) + sizeof(lvObjectHead), 0, sizeof(lvState) - sizeof(lvObjectHead));
    L1->allowhook = 1;
    SetNil(&L1->gt);
}

// ==== Threads ==========================================================================

lvState *CreateThreadState(lvState *L)
{
    lvState *L1 = static_cast<lvState *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvState)));
    ClearStateFields(L1);
    L1->G = L->G;
    LinkNewObject(L, &L1->h, LV_TTHREAD);
    InitThreadStack(L1, L);
    L1->gt = L->gt;
    return L1;
}

void FreeThreadState(lvState *L, lvState *L1)
{
    if (L1->stack) CloseUpvalues(L1, L1->stack);
    if (L1->baseCi) FreeVector(L, L1->baseCi, L1->sizeCi);
    if (L1->stack) FreeVector(L, L1->stack, L1->stacksize);
    ReallocVMMemory(L, L1, sizeof(lvState), 0);
}

void ClaimVMState(lvState *L) { L->G->ownerThread = static_cast<uint64_t>(pthread_self()); }

void CheckOwnerThread(lvState *L)
{
#ifndef NDEBUG
    if (L->G->ownerThread != static_cast<uint64_t>(pthread_self())) {
        std::fprintf(stderr, "lvvm: machine used from a thread that does not own it\n");
        std::abort();
    }
#else
    (void)L;
#endif
}

// ==== Creating and closing a machine ========================================================

static void BuildMachine(lvState *L, void *)
{
    lvGlobalState *g = static_cast<lvGlobalState *>(ReallocVMMemory(nullptr, nullptr, 0, sizeof(lvGlobalState)));
    if (!g) ThrowError(L, ERR_MEM);
    std::memset(g, 0, sizeof(lvGlobalState));
    L->G = g;
    g->nblocks = sizeof(lvState) + sizeof(lvGlobalState);
    g->mainthread = L;
    g->ownerThread = static_cast<uint64_t>(pthread_self());
    SetNil(&g->dummynode[0].key);
    SetNil(&g->dummynode[0].val);
    g->dummynode[0].next = nullptr;
    SetNil(&g->registry);
    SetNil(&g->defaultMeta);
    InitThreadStack(L, L);
    lvTable *meta = NewTableObject(L, 0, 0);
    meta->metatable = meta;
    SetTable(&g->defaultMeta, meta);
    SetTable(&L->gt, NewTableObject(L, 0, 4));
    SetTable(&g->registry, NewTableObject(L, 4, 4));
    ResizeStringTable(L, 32);
    InitTagMethodNames(L);
    g->memerrmsg = InternCString(L, "not enough memory");
    g->memerrmsg->h.marked |= LV_FIXED;
    g->nextName = InternCString(L, "next");
    g->nextName->h.marked |= LV_FIXED;
    g->nextItemName = InternCString(L, "nextitem");
    g->nextItemName->h.marked |= LV_FIXED;
    g->nName = InternCString(L, "n");
    g->nName->h.marked |= LV_FIXED;
    g->GCthreshold = 4 * g->nblocks;
}

static void DefaultPanic(lvState *) {}

static void FreeMachine(lvState *L)
{
    lvGlobalState *g = L->G;
    if (g) {
        FreeAllObjects(L);
        if (g->strt.hash) FreeVector(L, g->strt.hash, g->strt.size);
        if (g->buffer) FreeVector(L, g->buffer, g->buffsize);
    }
    if (L->baseCi) FreeVector(L, L->baseCi, L->sizeCi);
    if (L->stack) FreeVector(L, L->stack, L->stacksize);
    L->G = nullptr;
    if (g) ReallocVMMemory(nullptr, g, sizeof(lvGlobalState), 0);
    ReallocVMMemory(nullptr, L, sizeof(lvState), 0);
}

lvState *NewVMState()
{
    lvState *L = static_cast<lvState *>(ReallocVMMemory(nullptr, nullptr, 0, sizeof(lvState)));
    if (!L) return nullptr;
    L->h.next = nullptr;
    L->h.tt = LV_TTHREAD;
    L->h.marked = 0;
    ClearStateFields(L);
    if (RunProtected(L, BuildMachine, nullptr) != 0) {
        FreeMachine(L);
        return nullptr;
    }
    L->G->panic = DefaultPanic;
    return L;
}

static void CallFinalizers(lvState *L, void *) { RunPendingFinalizers(L); }

void CloseVMState(lvState *L)
{
    L = L->G->mainthread;
    CloseUpvalues(L, L->stack);
    SeparateFinalizable(L, 1);
    L->errfunc = 0;
    do {
        L->ci = L->baseCi;
        L->base = L->top = StackAt(L, L->ci->base);
        L->nCcalls = 0;
    } while (RunProtected(L, CallFinalizers, nullptr) != 0);
    FreeMachine(L);
}

lvPanicFunction SetPanicFunction(lvState *L, lvPanicFunction f)
{
    lvPanicFunction old = L->G->panic;
    L->G->panic = f ? f : DefaultPanic;
    return old;
}

// ==== Functions ================================================================================

size_t ClosureSize(const lvClosure *c)
{
    int n = c->nupvalues > 0 ? c->nupvalues : 1;
    return offsetof(lvClosure, cupvalue) + sizeof(lvValue) * n;
}

static lvClosure *AllocClosure(lvState *L, int nup, int isC)
{
    lvClosure probe;
    probe.nupvalues = static_cast<uint8_t>(nup);
    size_t sz = ClosureSize(&probe);
    lvClosure *c = static_cast<lvClosure *>(ReallocVMMemory(L, nullptr, 0, sz));
    std::memset(c, 0, sz);
    LinkNewObject(L, &c->h, LV_TFUNCTION);
    c->isC = static_cast<uint8_t>(isC);
    c->nupvalues = static_cast<uint8_t>(nup);
    SetNil(&c->g);
    return c;
}

lvClosure *NewNativeClosure(lvState *L, int nup)
{
    lvClosure *c = AllocClosure(L, nup, 1);
    for (int i = 0; i < nup; i++) SetNil(&c->cupvalue[i]);
    return c;
}

lvClosure *NewScriptClosure(lvState *L, int nup, const lvValue *globals)
{
    lvClosure *c = AllocClosure(L, nup, 0);
    c->g = *globals;
    return c;
}

lvPrototype *NewPrototype(lvState *L)
{
    lvPrototype *p = static_cast<lvPrototype *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvPrototype)));
    std::memset(p, 0, sizeof(lvPrototype));
    LinkNewObject(L, &p->h, LV_TPROTO);
    return p;
}

void FreePrototype(lvState *L, lvPrototype *p)
{
    FreeVector(L, p->code, p->sizecode);
    FreeVector(L, p->p, p->sizep);
    FreeVector(L, p->k, p->sizek);
    FreeVector(L, p->lineinfo, p->sizelineinfo);
    FreeVector(L, p->locvars, p->sizelocvars);
    FreeVector(L, p->upvalues, p->sizeupvalues);
    ReallocVMMemory(L, p, sizeof(lvPrototype), 0);
}

lvUpvalue *FindOpenUpvalue(lvState *L, lvValue *level)
{
    lvUpvalue **pp = &L->openupval;
    lvUpvalue *p;
    while ((p = *pp) != nullptr && p->v >= level) {
        if (p->v == level) return p;
        pp = reinterpret_cast<lvUpvalue **>(&p->h.next);
    }
    lvUpvalue *uv = static_cast<lvUpvalue *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvUpvalue)));
    uv->h.tt = LV_TUPVALUE;
    uv->h.marked = LV_MARKED;  // a collection in progress leaves it alone
    uv->v = level;
    SetNil(&uv->value);
    uv->h.next = *pp ? &(*pp)->h : nullptr;
    *pp = uv;
    return uv;
}

lvUpvalue *NewClosedUpvalue(lvState *L)
{
    lvUpvalue *uv = static_cast<lvUpvalue *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvUpvalue)));
    LinkNewObject(L, &uv->h, LV_TUPVALUE);
    SetNil(&uv->value);
    uv->v = &uv->value;
    return uv;
}

extern int gSweepInProgress;

void CloseUpvalues(lvState *L, lvValue *level)
{
    lvUpvalue *p;
    while ((p = L->openupval) != nullptr && p->v >= level) {
        p->value = *p->v;
        p->v = &p->value;
        L->openupval = reinterpret_cast<lvUpvalue *>(p->h.next);
        LinkNewObject(L, &p->h, LV_TUPVALUE);
        // Closed while a sweep frees a dead thread: keep it for this sweep.
        if (gSweepInProgress) p->h.marked = LV_MARKED;
    }
}
