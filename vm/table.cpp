// table.cpp - hybrid tables (array part and chained hash part in one node
// array) and tag-method lookup.
//
// Depends on: lvobject.h. The main-position, insertion and rehash rules fix
// the traversal order of keys (and so the order of serialised tables): keep
// them exactly. A nil key stands for the integer key 0. Limits: 2^24 array
// slots, 2^24 hash nodes.
#include <bit>
#include <cmath>

#include "vm/lvobject.h"

constexpr int kMaxBits = 24;
constexpr int kMaxArray = 1 << kMaxBits;

static inline int SizeNode(const lvTable *t) { return 1 << t->lsizenode; }

// floor(log2(x)) for x > 0, -1 for 0.
static inline int Log2(uint32_t x) { return x ? static_cast<int>(std::bit_width(x)) - 1 : -1; }

// Integral number that fits an int: its value in *out.
static inline bool NumberToIntKey(double d, int *out)
{
    if (!(d >= -2147483648.0 && d <= 2147483647.0)) return false;
    int k = static_cast<int>(d);
    if (static_cast<double>(k) != d) return false;
    *out = k;
    return true;
}

int ArrayIndexOf(const lvValue *key)
{
    int k;
    if (key->tt == LV_TNUMBER && NumberToIntKey(key->v.n, &k) && k >= 1 && (k - 1) < kMaxArray) return k;
    return -1;
}

// ==== Main positions ========================================================================

static lvTableNode *HashNumber(const lvTable *t, double n)
{
    n += 1;  // 0 and -0 share a position
    uint32_t a[2];
    std::memcpy(a, &n, sizeof a);
    a[0] += a[1];
    return &t->node[a[0] % static_cast<uint32_t>((SizeNode(t) - 1) | 1)];
}

static lvTableNode *MainPosition(const lvTable *t, const lvValue *key)
{
    switch (key->tt) {
    case LV_TNUMBER: return HashNumber(t, key->v.n);
    case LV_TSTRING: return &t->node[StrValue(key)->hash & static_cast<uint32_t>(SizeNode(t) - 1)];
    case LV_TBOOLEAN: return &t->node[static_cast<uint32_t>(key->v.b) & static_cast<uint32_t>(SizeNode(t) - 1)];
    default: {
        uint32_t a = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(key->v.p));
        return &t->node[a % static_cast<uint32_t>((SizeNode(t) - 1) | 1)];
    }
    }
}

int RawEqualValues(const lvValue *a, const lvValue *b)
{
    if (a->tt != b->tt) return 0;
    switch (a->tt) {
    case LV_TNIL: return 1;
    case LV_TNUMBER: return a->v.n == b->v.n;
    case LV_TBOOLEAN: return a->v.b == b->v.b;
    default: return a->v.p == b->v.p;
    }
}

// ==== Lookup =================================================================================

static const lvValue *TableGetAny(lvTable *t, const lvValue *key)
{
    lvTableNode *n = MainPosition(t, key);
    do {
        if (RawEqualValues(&n->key, key)) return &n->val;
        n = n->next;
    } while (n);
    return &gNilValue;
}

const lvValue *TableGetIntHash(lvTable *t, int key)
{
    double nk = key;
    lvTableNode *n = HashNumber(t, nk);
    do {
        if (n->key.tt == LV_TNUMBER && n->key.v.n == nk) return &n->val;
        n = n->next;
    } while (n);
    return &gNilValue;
}

const lvValue *TableGet(lvTable *t, const lvValue *key)
{
    switch (key->tt) {
    case LV_TNIL: return TableGetInt(t, 0);
    case LV_TSTRING: return TableGetString(t, StrValue(key));
    case LV_TNUMBER: {
        int k;
        if (NumberToIntKey(key->v.n, &k)) return TableGetInt(t, k);
        return TableGetAny(t, key);
    }
    default: return TableGetAny(t, key);
    }
}

// ==== Creation and resizing ===================================================================

static void SetArrayVector(lvState *L, lvTable *t, int size)
{
    t->array = static_cast<lvValue *>(
        ReallocVMMemory(L, t->array, sizeof(lvValue) * t->sizearray, sizeof(lvValue) * size));
    for (int i = t->sizearray; i < size; i++) SetNil(&t->array[i]);
    t->sizearray = size;
}

static void SetNodeVector(lvState *L, lvTable *t, int lsize)
{
    if (lsize > kMaxBits) RaiseError(L, ERR_TABLEOVERFLOW);
    int size = 1 << lsize;
    if (lsize == 0) {
        t->node = L->G->dummynode;
    } else {
        t->node = NewVector<lvTableNode>(L, size);
        for (int i = 0; i < size; i++) {
            t->node[i].next = nullptr;
            SetNil(&t->node[i].key);
            SetNil(&t->node[i].val);
        }
    }
    t->lsizenode = static_cast<uint8_t>(lsize);
    t->firstfree = &t->node[size - 1];
}

lvTable *NewTableObject(lvState *L, int narray, int lnhash)
{
    if (lnhash > kMaxBits) RaiseError(L, ERR_TABLEOVERFLOW);
    lvTable *t = static_cast<lvTable *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvTable)));
    LinkNewObject(L, &t->h, LV_TTABLE);
    t->metatable = L->G->defaultMeta.tt == LV_TTABLE ? TabValue(&L->G->defaultMeta) : nullptr;
    t->absent = 0xFF;
    t->lsizenode = 0;
    t->array = nullptr;
    t->sizearray = 0;
    t->node = L->G->dummynode;
    t->firstfree = t->node;
    t->gclist = nullptr;
    SetArrayVector(L, t, narray);
    SetNodeVector(L, t, lnhash);
    return t;
}

void FreeTable(lvState *L, lvTable *t)
{
    if (t->lsizenode) FreeVector(L, t->node, SizeNode(t));
    FreeVector(L, t->array, t->sizearray);
    ReallocVMMemory(L, t, sizeof(lvTable), 0);
}

int TableNodeCount(const lvTable *t) { return t->lsizenode ? SizeNode(t) : 0; }

static void ComputeSizes(int nums[], int ntotal, int *narray, int *nhash)
{
    int a = nums[0];
    int na = a;
    int n = (na == 0) ? -1 : 0;
    for (int i = 1; a < *narray && *narray >= (1 << (i - 1)); i++) {
        if (nums[i] > 0) {
            a += nums[i];
            if (a >= (1 << (i - 1))) {
                n = i;
                na = a;
            }
        }
    }
    *nhash = ntotal - na;
    *narray = (n == -1) ? 0 : (1 << n);
}

static void CountKeys(const lvTable *t, int *narray, int *nhash)
{
    int nums[kMaxBits + 1];
    int i = 0, lg = 0;
    int totaluse = 0;
    for (; lg <= kMaxBits; lg++) {
        int ttlg = 1 << lg;
        if (ttlg > t->sizearray) {
            ttlg = t->sizearray;
            if (i >= ttlg) break;
        }
        nums[lg] = 0;
        for (; i < ttlg; i++) {
            if (t->array[i].tt != LV_TNIL) {
                nums[lg]++;
                totaluse++;
            }
        }
    }
    for (; lg <= kMaxBits; lg++) nums[lg] = 0;
    *narray = totaluse;
    i = SizeNode(t);
    while (i--) {
        const lvTableNode *n = &t->node[i];
        if (n->val.tt != LV_TNIL) {
            int k = ArrayIndexOf(&n->key);
            if (k >= 0) {
                nums[Log2(static_cast<uint32_t>(k - 1)) + 1]++;
                (*narray)++;
            }
            totaluse++;
        }
    }
    ComputeSizes(nums, totaluse, narray, nhash);
}

static void Resize(lvState *L, lvTable *t, int nasize, int nhsize)
{
    int oldasize = t->sizearray;
    int oldhsize = t->lsizenode;
    lvTableNode *nold;
    lvTableNode temp[1];
    if (oldhsize) {
        nold = t->node;
    } else {
        // The shared empty node held the key that forced this rehash: take it back.
        temp[0] = t->node[0];
        nold = temp;
        SetNil(&L->G->dummynode[0].key);
        SetNil(&L->G->dummynode[0].val);
        L->G->dummynode[0].next = nullptr;
    }
    if (nasize > oldasize) SetArrayVector(L, t, nasize);
    SetNodeVector(L, t, nhsize);
    if (nasize < oldasize) {
        t->sizearray = nasize;
        for (int i = nasize; i < oldasize; i++) {
            if (t->array[i].tt != LV_TNIL) *TableSetInt(L, t, i + 1) = t->array[i];
        }
        t->array = static_cast<lvValue *>(
            ReallocVMMemory(L, t->array, sizeof(lvValue) * oldasize, sizeof(lvValue) * nasize));
    }
    for (int i = (1 << oldhsize) - 1; i >= 0; i--) {
        lvTableNode *old = nold + i;
        if (old->val.tt != LV_TNIL) *TableSet(L, t, &old->key) = old->val;
    }
    if (oldhsize) FreeVector(L, nold, 1 << oldhsize);
}

static void Rehash(lvState *L, lvTable *t)
{
    int nasize, nhsize;
    CountKeys(t, &nasize, &nhsize);
    Resize(L, t, nasize, Log2(static_cast<uint32_t>(nhsize)) + 1);
}

// ==== Insertion ===============================================================================

static lvValue *NewKey(lvState *L, lvTable *t, const lvValue *key)
{
    lvTableNode *mp = MainPosition(t, key);
    if (mp->val.tt != LV_TNIL) {
        lvTableNode *othern = MainPosition(t, &mp->key);
        lvTableNode *n = t->firstfree;
        if (othern != mp) {
            // The occupant is out of its main position: move it to the free node.
            while (othern->next != mp) othern = othern->next;
            othern->next = n;
            *n = *mp;
            mp->next = nullptr;
            SetNil(&mp->val);
        } else {
            n->next = mp->next;
            mp->next = n;
            mp = n;
        }
    }
    mp->key = *key;
    for (;;) {
        if (t->firstfree->key.tt == LV_TNIL) return &mp->val;
        if (t->firstfree == t->node) break;
        t->firstfree--;
    }
    SetBoolean(&mp->val, 0);  // placeholder, so the rehash keeps the new key
    Rehash(L, t);
    lvValue *val = const_cast<lvValue *>(TableGet(t, key));
    SetNil(val);
    return val;
}

lvValue *TableSet(lvState *L, lvTable *t, const lvValue *key)
{
    const lvValue *p = TableGet(t, key);
    t->absent = 0;
    if (p != &gNilValue) return const_cast<lvValue *>(p);
    if (key->tt == LV_TNIL) {
        lvValue k0;
        SetNumber(&k0, 0);
        return NewKey(L, t, &k0);
    }
    if (key->tt == LV_TNUMBER && std::isnan(key->v.n)) RaiseError(L, ERR_TABLEINDEX);
    return NewKey(L, t, key);
}

lvValue *TableSetInt(lvState *L, lvTable *t, int key)
{
    const lvValue *p = TableGetInt(t, key);
    if (p != &gNilValue) return const_cast<lvValue *>(p);
    lvValue k;
    SetNumber(&k, key);
    return NewKey(L, t, &k);
}

// ==== Traversal ===============================================================================

static int FindIndex(lvState *L, lvTable *t, const lvValue *key)
{
    if (key->tt == LV_TNIL) return -1;
    int i = ArrayIndexOf(key);
    if (i > 0 && i <= t->sizearray) return i - 1;
    const lvValue *v = TableGet(t, key);
    if (v == &gNilValue || t->node == L->G->dummynode) RaiseError(L, ERR_INVNEXTKEY);
    const lvTableNode *n = reinterpret_cast<const lvTableNode *>(
        reinterpret_cast<const char *>(v) - offsetof(lvTableNode, val));
    return static_cast<int>(n - t->node) + t->sizearray;
}

int TableNext(lvState *L, lvTable *t, lvValue *key)
{
    int i = FindIndex(L, t, key);
    for (i++; i < t->sizearray; i++) {
        if (t->array[i].tt != LV_TNIL) {
            SetNumber(key, i + 1);
            key[1] = t->array[i];
            return 1;
        }
    }
    for (i -= t->sizearray; i < SizeNode(t); i++) {
        if (t->node[i].val.tt != LV_TNIL) {
            key[0] = t->node[i].key;
            key[1] = t->node[i].val;
            return 1;
        }
    }
    return 0;
}

// ==== Tag methods ===============================================================================

static const char *const kTagMethodNames[LV_NUM_TAGMETHODS] = {
    "__index", "__newindex", "__gc", "__mode", "__eq", "__add", "__sub", "__mul",
    "__div", "__divint", "__mod", "__lsh", "__rsh", "__or", "__and", "__xor",
    "__pow", "__unm", "__not", "__lt", "__le", "__concat", "__call",
};

void InitTagMethodNames(lvState *L)
{
    for (int i = 0; i < LV_NUM_TAGMETHODS; i++) {
        L->G->tmname[i] = InternCString(L, kTagMethodNames[i]);
        L->G->tmname[i]->h.marked |= LV_FIXED;
    }
}

const lvValue *GetTagMethod(lvState *L, lvTable *events, int event)
{
    if (event < 8 && (events->absent & (1u << event))) return nullptr;
    const lvValue *tm = TableGetString(events, L->G->tmname[event]);
    if (tm->tt == LV_TNIL) {
        if (event < 8) events->absent |= static_cast<uint8_t>(1u << event);
        return nullptr;
    }
    return tm;
}

lvTable *MetatableOf(lvState *L, const lvValue *o)
{
    if (o->tt == LV_TTABLE) return TabValue(o)->metatable;
    if (o->tt == LV_TUSERDATA) return UdValue(o)->metatable;
    return nullptr;
}

const lvValue *GetTagMethodOf(lvState *L, const lvValue *o, int event)
{
    lvTable *mt = MetatableOf(L, o);
    if (!mt) return &gNilValue;
    const lvValue *tm = GetTagMethod(L, mt, event);
    return tm ? tm : &gNilValue;
}
