// string.cpp - the string table (every string is interned once), userdata
// objects and the shared byte buffer.
//
// Depends on: lvobject.h. The hash samples at most about 32 bytes of a long
// string; its rule fixes the traversal order of string keys and must not change.
#include "vm/lvobject.h"

#include <cstdlib>

uint32_t HashString(const char *s, size_t len)
{
    uint32_t h = static_cast<uint32_t>(len);
    size_t step = (len >> 5) + 1;
    for (size_t l1 = len; l1 >= step; l1 -= step)
        h = h ^ ((h << 5) + (h >> 2) + static_cast<unsigned char>(s[l1 - 1]));
    return h;
}

void ResizeStringTable(lvState *L, int newsize)
{
    lvGlobalState *g = L->G;
    lvObjectHead **nh = NewVector<lvObjectHead *>(L, newsize);
    for (int i = 0; i < newsize; i++) nh[i] = nullptr;
    for (int i = 0; i < g->strt.size; i++) {
        lvObjectHead *p = g->strt.hash[i];
        while (p) {
            lvObjectHead *next = p->next;
            uint32_t h = reinterpret_cast<lvString *>(p)->hash;
            int h1 = static_cast<int>(h & static_cast<uint32_t>(newsize - 1));
            p->next = nh[h1];
            nh[h1] = p;
            p = next;
        }
    }
    if (g->strt.hash) FreeVector(L, g->strt.hash, g->strt.size);
    g->strt.size = newsize;
    g->strt.hash = nh;
}

// Fills the header of a string whose bytes are in place and links it into the table.
static lvString *LinkStringObject(lvState *L, lvString *ts, size_t len, uint32_t h)
{
    ts->h.tt = LV_TSTRING;
    ts->h.marked = 0;
    ts->hash = h;
    ts->len = len;
    ts->Data()[len] = 0;
    lvStringTable *tb = &L->G->strt;
    int b = static_cast<int>(h & static_cast<uint32_t>(tb->size - 1));
    ts->h.next = tb->hash[b];
    tb->hash[b] = &ts->h;
    tb->nuse++;
    if (tb->nuse > static_cast<uint32_t>(tb->size) && tb->size <= (1 << 30) - 2) ResizeStringTable(L, tb->size * 2);
    return ts;
}

static lvString *FindString(lvState *L, const char *s, size_t len, uint32_t h)
{
    lvStringTable *tb = &L->G->strt;
    for (lvObjectHead *o = tb->hash[h & static_cast<uint32_t>(tb->size - 1)]; o; o = o->next) {
        lvString *ts = reinterpret_cast<lvString *>(o);
        if (ts->len == len && std::memcmp(s, ts->Data(), len) == 0) return ts;
    }
    return nullptr;
}

lvString *InternString(lvState *L, const char *s, size_t len)
{
    if (len >= 0xFFFFFFFDull - sizeof(lvString)) RaiseError(L, ERR_MEM);  // beyond the allocation cap
    if (len == 0) s = "";  // callers may hand an empty string as a null pointer
    uint32_t h = HashString(s, len);
    if (lvString *found = FindString(L, s, len, h)) return found;
    lvString *ts = static_cast<lvString *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvString) + len + 1));
    std::memcpy(ts->Data(), s, len);
    return LinkStringObject(L, ts, len, h);
}

// A string block is an lvString header, the bytes and room for the ending zero, from the
// same heap as the machine's own strings; the caller holds the address of the bytes.
char *NewStringBlock(size_t capacity)
{
    if (capacity >= 0xFFFFFFFDull - sizeof(lvString)) return nullptr;
    lvString *ts = static_cast<lvString *>(std::malloc(sizeof(lvString) + capacity + 1));
    return ts ? ts->Data() : nullptr;
}

char *ResizeStringBlock(char *block, size_t capacity)
{
    if (!block) return NewStringBlock(capacity);
    if (capacity >= 0xFFFFFFFDull - sizeof(lvString)) return nullptr;
    lvString *ts = static_cast<lvString *>(std::realloc(reinterpret_cast<lvString *>(block) - 1,
                                                        sizeof(lvString) + capacity + 1));
    return ts ? ts->Data() : nullptr;
}

void FreeStringBlock(char *block)
{
    if (block) std::free(reinterpret_cast<lvString *>(block) - 1);
}

lvString *InternStringBlock(lvState *L, char *block, size_t len)
{
    lvString *ts = reinterpret_cast<lvString *>(block) - 1;
    size_t size = sizeof(lvString) + len + 1;
    if (len >= 0xFFFFFFFDull - sizeof(lvString) ||
        (gVMDebug.memoryLimit && L->G->nblocks + size > gVMDebug.memoryLimit)) {
        std::free(ts);
        RaiseError(L, ERR_MEM);
    }
    uint32_t h = HashString(block, len);
    if (lvString *found = FindString(L, block, len, h)) {
        std::free(ts);
        return found;
    }
    // Counted as the machine's from here on; giving back the unused tail moves nothing.
    ts = static_cast<lvString *>(ReallocVMMemory(L, ts, 0, size));
    return LinkStringObject(L, ts, len, h);
}

lvUserData *NewUserDataObject(lvState *L, size_t size)
{
    if (size >= 0xFFFFFFFDull - sizeof(lvUserData)) RaiseError(L, ERR_MEM);  // beyond the allocation cap
    lvUserData *u = static_cast<lvUserData *>(ReallocVMMemory(L, nullptr, 0, sizeof(lvUserData) + size));
    u->h.tt = LV_TUSERDATA;
    u->h.marked = LV_UDATA_UNFIN;
    u->len = size;
    u->metatable = TabValue(&L->G->defaultMeta);
    u->h.next = L->G->rootudata;
    L->G->rootudata = &u->h;
    return u;
}

char *GetVMBuffer(lvState *L, size_t n)
{
    lvGlobalState *g = L->G;
    if (n < 32) n = 32;
    if (n > g->buffsize) {
        g->buffer = static_cast<char *>(ReallocVMMemory(L, g->buffer, g->buffsize, n));
        g->buffsize = n;
    }
    return g->buffer;
}
