// gc.cpp - the stop-the-world mark-and-sweep collector with weak tables and
// userdata finalisers, and the freeing of every object type.
//
// Depends on: lvobject.h. Runs only at the listed allocation points (the
// stack interface's creators, LoadChunk, OpNewTable, OpConcat, OpClosure and
// after each CallValue), always to completion, with no write barriers.
#include "vm/lvobject.h"

int gSweepInProgress = 0;

namespace {
struct GCState {
    lvObjectHead *gray;  // objects marked but not yet traversed
    lvTable *weak;       // weak tables met during marking
    uint64_t deadmem;    // bytes of userdata waiting for finalisers
};
}  // namespace

static lvObjectHead **GrayLink(lvObjectHead *o)
{
    switch (o->tt) {
    case LV_TTABLE: return &reinterpret_cast<lvTable *>(o)->gclist;
    case LV_TFUNCTION: return &reinterpret_cast<lvClosure *>(o)->gclist;
    case LV_TTHREAD: return &reinterpret_cast<lvState *>(o)->gclist;
    default: return &reinterpret_cast<lvPrototype *>(o)->gclist;
    }
}

static void MarkObject(GCState *st, lvObjectHead *o)
{
    if (o->marked & (LV_MARKED | LV_FIXED)) return;
    o->marked |= LV_MARKED;
    switch (o->tt) {
    case LV_TSTRING:
    case LV_TUPVALUE: break;
    case LV_TUSERDATA: {
        lvTable *mt = reinterpret_cast<lvUserData *>(o)->metatable;
        if (mt) MarkObject(st, &mt->h);
        break;
    }
    default:
        *GrayLink(o) = st->gray;
        st->gray = o;
        break;
    }
}

static inline void MarkValue(GCState *st, const lvValue *v)
{
    if (IsCollectable(v)) MarkObject(st, v->v.gc);
}

// ==== Traversal ================================================================================

static void TraverseTable(lvState *L, GCState *st, lvTable *h)
{
    if (h->metatable) MarkObject(st, &h->metatable->h);
    // Weakness is decided afresh on every traversal.
    h->h.marked &= static_cast<uint8_t>(~(LV_WEAKKEYS | LV_WEAKVALUES));
    bool weakkey = false, weakvalue = false;
    const lvValue *mode = h->metatable ? GetTagMethod(L, h->metatable, TM_MODE) : nullptr;
    if (mode && mode->tt == LV_TSTRING) {
        weakkey = std::strchr(StrValue(mode)->Data(), 'k') != nullptr;
        weakvalue = std::strchr(StrValue(mode)->Data(), 'v') != nullptr;
        if (weakkey || weakvalue) {
            h->h.marked |= static_cast<uint8_t>((weakkey ? LV_WEAKKEYS : 0) | (weakvalue ? LV_WEAKVALUES : 0));
            h->gclist = reinterpret_cast<lvObjectHead *>(st->weak);
            st->weak = h;
        }
    }
    if (!weakvalue) {
        for (int i = 0; i < h->sizearray; i++) MarkValue(st, &h->array[i]);
    } else {
        for (int i = 0; i < h->sizearray; i++)
            if (h->array[i].tt == LV_TSTRING) MarkValue(st, &h->array[i]);
    }
    int n = TableNodeCount(h);
    for (int i = 0; i < n; i++) {
        lvTableNode *node = &h->node[i];
        if (node->val.tt == LV_TNIL) continue;
        if (!weakkey || node->key.tt == LV_TSTRING) MarkValue(st, &node->key);
        if (!weakvalue || node->val.tt == LV_TSTRING) MarkValue(st, &node->val);
    }
}

static void TraverseClosure(GCState *st, lvClosure *cl)
{
    if (cl->isC) {
        for (int i = 0; i < cl->nupvalues; i++) MarkValue(st, &cl->cupvalue[i]);
        return;
    }
    MarkValue(st, &cl->g);
    if (cl->p) MarkObject(st, &cl->p->h);
    for (int i = 0; i < cl->nupvalues; i++) {
        lvUpvalue *u = cl->lupvalue[i];
        if (!u) continue;
        // The value is marked even for an open upvalue, whose thread may be dead.
        MarkValue(st, u->v);
        u->h.marked |= LV_MARKED;
    }
}

static void TraverseThread(GCState *st, lvState *L1)
{
    MarkValue(st, &L1->gt);
    if (!L1->stack) return;
    // Registers of script frames are kept up to the frame top even while top
    // sits lower (an iterator call, an open call), so no live register is lost;
    // free slots above that are cleared.
    lvValue *markLim = L1->top, *lim = L1->top;
    for (lvCallRecord *ci = L1->baseCi; ci <= L1->ci; ci++) {
        lvValue *t = L1->stack + ci->top;
        if (lim < t) lim = t;
        if (!(ci->state & LV_CI_C) && markLim < t) markLim = t;
    }
    lvValue *last = L1->stack + L1->stacksize - 1;
    if (lim > last) lim = last;
    if (markLim > lim) markLim = lim;
    lvValue *o;
    for (o = L1->stack; o < markLim; o++) MarkValue(st, o);
    for (; o <= lim; o++) SetNil(o);
    // Shrink what a deep recursion left behind.
    int used = static_cast<int>(L1->ci - L1->baseCi);
    if (4 * used < L1->sizeCi && 2 * LV_BASIC_CI < L1->sizeCi) ResizeCallRecords(L1, L1->sizeCi / 2);
    used = static_cast<int>(lim - L1->stack);
    if (4 * used < L1->stacksize && 2 * LV_BASIC_STACK < L1->stacksize) ResizeStack(L1, L1->stacksize / 2);
    else if (gVMDebug.moveStack) ResizeStack(L1, L1->stacksize);
}

static void TraversePrototype(GCState *st, lvPrototype *p)
{
    if (p->source) MarkObject(st, &p->source->h);
    for (int i = 0; i < p->sizek; i++)
        if (p->k[i].tt == LV_TSTRING) MarkValue(st, &p->k[i]);
    for (int i = 0; i < p->sizeupvalues; i++)
        if (p->upvalues[i]) MarkObject(st, &p->upvalues[i]->h);
    for (int i = 0; i < p->sizep; i++)
        if (p->p[i]) MarkObject(st, &p->p[i]->h);
    for (int i = 0; i < p->sizelocvars; i++)
        if (p->locvars[i].name) MarkObject(st, &p->locvars[i].name->h);
}

static void Propagate(lvState *L, GCState *st)
{
    while (st->gray) {
        lvObjectHead *o = st->gray;
        st->gray = *GrayLink(o);
        switch (o->tt) {
        case LV_TTABLE: TraverseTable(L, st, reinterpret_cast<lvTable *>(o)); break;
        case LV_TFUNCTION: TraverseClosure(st, reinterpret_cast<lvClosure *>(o)); break;
        case LV_TTHREAD: TraverseThread(st, reinterpret_cast<lvState *>(o)); break;
        case LV_TPROTO: TraversePrototype(st, reinterpret_cast<lvPrototype *>(o)); break;
        default: break;
        }
    }
}

// ==== Weak tables ================================================================================

static bool IsCleared(const lvValue *o)
{
    if (!IsCollectable(o) || o->tt == LV_TSTRING) return false;
    return !(o->v.gc->marked & (LV_MARKED | LV_FIXED));
}

static void ClearWeakTable(lvTable *h, bool keysToo)
{
    bool wk = (h->h.marked & LV_WEAKKEYS) != 0, wv = (h->h.marked & LV_WEAKVALUES) != 0;
    if (wv) {
        for (int i = 0; i < h->sizearray; i++)
            if (IsCleared(&h->array[i])) SetNil(&h->array[i]);
    }
    int n = TableNodeCount(h);
    for (int i = 0; i < n; i++) {
        lvTableNode *node = &h->node[i];
        if (node->val.tt == LV_TNIL) continue;
        if ((keysToo && wk && IsCleared(&node->key)) || (wv && IsCleared(&node->val))) {
            SetNil(&node->val);
            if (IsCollectable(&node->key)) node->key.tt = LV_TDEADKEY;
        }
    }
}

// ==== Finalisers =================================================================================

static size_t UserDataSize(const lvUserData *u) { return sizeof(lvUserData) + u->len; }

static uint64_t SeparateUserData(lvState *L, int all)
{
    lvGlobalState *g = L->G;
    uint64_t deadmem = 0;
    lvObjectHead **p = &g->rootudata;
    lvObjectHead *collected = nullptr;
    lvObjectHead **lastcollected = &collected;
    lvObjectHead *curr;
    while ((curr = *p) != nullptr) {
        lvUserData *u = reinterpret_cast<lvUserData *>(curr);
        if ((!all && (curr->marked & LV_MARKED)) || !(curr->marked & LV_UDATA_UNFIN)) {
            p = &curr->next;
        } else if (!u->metatable || !GetTagMethod(L, u->metatable, TM_GC)) {
            curr->marked &= static_cast<uint8_t>(~LV_UDATA_UNFIN);
            p = &curr->next;
        } else {
            deadmem += UserDataSize(u);
            *p = curr->next;
            curr->next = nullptr;
            *lastcollected = curr;
            lastcollected = &curr->next;
        }
    }
    *lastcollected = g->tmudata;
    g->tmudata = collected;
    return deadmem;
}

void SeparateFinalizable(lvState *L, int all) { SeparateUserData(L, all); }

void RunPendingFinalizers(lvState *L)
{
    lvGlobalState *g = L->G;
    uint8_t oldah = L->allowhook;
    L->allowhook = 0;
    CheckStack(L, 3);
    L->top++;
    while (g->tmudata) {
        lvObjectHead *o = g->tmudata;
        lvUserData *u = reinterpret_cast<lvUserData *>(o);
        g->tmudata = o->next;
        o->next = g->rootudata;
        g->rootudata = o;
        SetUserData(L->top - 1, u);
        o->marked &= static_cast<uint8_t>(~(LV_MARKED | LV_UDATA_UNFIN));
        const lvValue *tm = u->metatable ? GetTagMethod(L, u->metatable, TM_GC) : nullptr;
        if (tm) {
            CheckStack(L, 2);
            L->top[0] = *tm;
            SetUserData(L->top + 1, u);
            L->top += 2;
            CallValue(L, L->top - 2, 0);
        }
    }
    L->top--;
    L->allowhook = oldah;
}

// ==== Sweep and free ================================================================================

static void FreeObject(lvState *L, lvObjectHead *o)
{
    switch (o->tt) {
    case LV_TSTRING:
        ReallocVMMemory(L, o, sizeof(lvString) + reinterpret_cast<lvString *>(o)->len + 1, 0);
        break;
    case LV_TTABLE: FreeTable(L, reinterpret_cast<lvTable *>(o)); break;
    case LV_TFUNCTION: ReallocVMMemory(L, o, ClosureSize(reinterpret_cast<lvClosure *>(o)), 0); break;
    case LV_TUPVALUE: ReallocVMMemory(L, o, sizeof(lvUpvalue), 0); break;
    case LV_TPROTO: FreePrototype(L, reinterpret_cast<lvPrototype *>(o)); break;
    case LV_TTHREAD: FreeThreadState(L, reinterpret_cast<lvState *>(o)); break;
    case LV_TUSERDATA: ReallocVMMemory(L, o, UserDataSize(reinterpret_cast<lvUserData *>(o)), 0); break;
    default: break;
    }
}

// Frees the unmarked objects of a list; answers how many were freed.
static uint32_t SweepList(lvState *L, lvObjectHead **p)
{
    uint32_t freed = 0;
    lvObjectHead *curr;
    while ((curr = *p) != nullptr) {
        if (curr->marked & (LV_MARKED | LV_FIXED)) {
            curr->marked &= static_cast<uint8_t>(~LV_MARKED);
            p = &curr->next;
        } else {
            *p = curr->next;
            FreeObject(L, curr);
            freed++;
        }
    }
    return freed;
}

static void SweepStrings(lvState *L)
{
    lvStringTable *tb = &L->G->strt;
    for (int i = 0; i < tb->size; i++) tb->nuse -= SweepList(L, &tb->hash[i]);
}

void FreeAllObjects(lvState *L)
{
    lvGlobalState *g = L->G;
    while (g->rootgc) {
        lvObjectHead *o = g->rootgc;
        g->rootgc = o->next;
        FreeObject(L, o);
    }
    // The main thread's open upvalues were closed into the list above.
    for (lvObjectHead **list : {&g->rootudata, &g->tmudata}) {
        while (*list) {
            lvObjectHead *o = *list;
            *list = o->next;
            FreeObject(L, o);
        }
    }
    for (int i = 0; i < g->strt.size; i++) {
        while (g->strt.hash[i]) {
            lvObjectHead *o = g->strt.hash[i];
            g->strt.hash[i] = o->next;
            FreeObject(L, o);
        }
    }
    g->strt.nuse = 0;
}

// ==== Full collection =================================================================================

void RunFullCollection(lvState *L)
{
    lvGlobalState *g = L->G;
    GCState st = {nullptr, nullptr, 0};
    // 1. Roots.
    MarkValue(&st, &g->defaultMeta);
    MarkValue(&st, &g->registry);
    MarkObject(&st, &g->mainthread->h);
    if (L != g->mainthread) MarkObject(&st, &L->h);
    Propagate(L, &st);
    // 2. Weak values go before finalisable userdata revive what they hold.
    for (lvTable *h = st.weak; h; h = reinterpret_cast<lvTable *>(h->gclist))
        if (h->h.marked & LV_WEAKVALUES) ClearWeakTable(h, false);
    // 3-4. Userdata waiting for finalisers survive this collection with what they reach.
    st.deadmem = SeparateUserData(L, 0);
    for (lvObjectHead *o = g->tmudata; o; o = o->next) {
        o->marked &= static_cast<uint8_t>(~LV_MARKED);
        MarkObject(&st, o);
    }
    Propagate(L, &st);
    // 5. Dead keys and values of every weak table.
    for (lvTable *h = st.weak; h; h = reinterpret_cast<lvTable *>(h->gclist)) ClearWeakTable(h, true);
    // 6. Sweep.
    gSweepInProgress = 1;
    SweepList(L, &g->rootudata);
    SweepStrings(L);
    SweepList(L, &g->rootgc);
    gSweepInProgress = 0;
    g->mainthread->h.marked &= static_cast<uint8_t>(~LV_MARKED);
    for (lvObjectHead *o = g->tmudata; o; o = o->next) o->marked &= static_cast<uint8_t>(~LV_MARKED);
    // 7. Shrink the string table and the shared buffer; next threshold.
    if (g->strt.nuse < static_cast<uint32_t>(g->strt.size / 4) && g->strt.size > 64) ResizeStringTable(L, g->strt.size / 2);
    if (g->buffsize > 64) {
        size_t ns = g->buffsize / 2;
        g->buffer = static_cast<char *>(ReallocVMMemory(L, g->buffer, g->buffsize, ns));
        g->buffsize = ns;
    }
    uint64_t twice = 2 * g->nblocks;
    g->GCthreshold = twice > st.deadmem ? twice - st.deadmem : 0;
    // 8. Finalisers run last, after the sweep.
    RunPendingFinalizers(L);
}

void CheckCollection(lvState *L)
{
    if (L->G->nblocks >= L->G->GCthreshold || gVMDebug.torture) RunFullCollection(L);
}
