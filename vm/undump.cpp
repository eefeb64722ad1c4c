// undump.cpp - the bytecode loader ("\033LVB" chunks) and the dumper.
//
// Depends on: lvobject.h, debug.cpp (verifier). Chunks may be written with
// either byte order and with 4- or 8-byte lengths; the dumper always writes
// little-endian with 4-byte lengths so 32-bit peers can read the result.
// Limits: nested functions 200 deep. Vectors and strings grow as their bytes
// arrive, so a huge count in a short input ends with ERR_UNEXPECTEDEOF
// instead of a huge allocation. The loader has no collection points.
#include <cmath>

#include "vm/lvobject.h"

// ==== Chunk reader ================================================================================

namespace {
struct lvChunkReader {
    size_t n;                 // bytes left in the current block
    const char *p;            // cursor
    lvReaderFunction reader;  // block source
    void *data;               // its data
    const char *name;         // chunk name
};

struct LoadState {
    lvState *L;            // machine
    lvChunkReader *Z;      // input
    bool swap;             // values are stored byte-reversed
    int lengthSize;        // 4 or 8
};

constexpr int kMaxNesting = 200;
constexpr double kCheckNumber = 31415926.0;
constexpr double kDumpCheckNumber = 31415926.535897933;
}  // namespace

static void InitChunkReader(lvChunkReader *z, lvReaderFunction reader, void *data, const char *name)
{
    z->reader = reader;
    z->data = data;
    z->name = name;
    z->n = 0;
    z->p = nullptr;
}

// Next block: answers its first byte (consumed), or -1 at the end.
static int FillReader(lvChunkReader *z)
{
    size_t size = 0;
    const char *buff = z->reader(nullptr, z->data, &size);
    if (!buff || size == 0) return -1;
    z->n = size - 1;
    z->p = buff;
    return static_cast<unsigned char>(*z->p++);
}

static inline int ReaderGetc(lvChunkReader *z)
{
    if (z->n > 0) {
        z->n--;
        return static_cast<unsigned char>(*z->p++);
    }
    return FillReader(z);
}

// Reads n bytes; answers how many could not be read.
static size_t ReadBytes(lvChunkReader *z, void *b, size_t n)
{
    char *dst = static_cast<char *>(b);
    while (n) {
        if (z->n == 0) {
            int c = FillReader(z);
            if (c < 0) return n;
            *dst++ = static_cast<char>(c);
            n--;
            continue;
        }
        size_t m = n <= z->n ? n : z->n;
        std::memcpy(dst, z->p, m);
        z->n -= m;
        z->p += m;
        dst += m;
        n -= m;
    }
    return 0;
}

// ==== Values ========================================================================================

[[noreturn]] static void LoadError(LoadState *S, int code) { RaiseError(S->L, code); }

static void LoadBlock(LoadState *S, void *b, size_t n)
{
    if (ReadBytes(S->Z, b, n) != 0) LoadError(S, ERR_UNEXPECTEDEOF);
}

static void LoadValue(LoadState *S, void *b, size_t n)
{
    LoadBlock(S, b, n);
    if (S->swap) {
        unsigned char *p = static_cast<unsigned char *>(b);
        for (size_t i = 0; i < n / 2; i++) std::swap(p[i], p[n - 1 - i]);
    }
}

static int LoadByte(LoadState *S)
{
    int c = ReaderGetc(S->Z);
    if (c < 0) LoadError(S, ERR_UNEXPECTEDEOF);
    return c;
}

static int LoadInt(LoadState *S)
{
    int32_t x;
    LoadValue(S, &x, sizeof x);
    return x;
}

static int LoadCount(LoadState *S)
{
    int n = LoadInt(S);
    if (n < 0) LoadError(S, ERR_BADINTEGER);
    return n;
}

static uint32_t LoadLength(LoadState *S)
{
    unsigned char b[8];
    LoadValue(S, b, S->lengthSize);
    uint32_t x;
    std::memcpy(&x, b, 4);  // of an 8-byte length only the low 32 bits count
    return x;
}

static double LoadNumber(LoadState *S)
{
    double d;
    LoadValue(S, &d, sizeof d);
    return d;
}

static lvString *LoadString(LoadState *S)
{
    uint32_t size = LoadLength(S);
    if (size == 0) return nullptr;
    // The buffer grows as bytes arrive, so a false length cannot force a huge block.
    size_t have = 0;
    size_t cap = size < 65536 ? size : 65536;
    char *buf = GetVMBuffer(S->L, cap);
    while (have < size) {
        size_t want = size - have;
        size_t room = S->L->G->buffsize - have;
        if (room == 0) {
            size_t ncap = S->L->G->buffsize * 2;
            if (ncap > size) ncap = size;
            buf = GetVMBuffer(S->L, ncap);
            room = S->L->G->buffsize - have;
        }
        if (want > room) want = room;
        LoadBlock(S, buf + have, want);
        have += want;
    }
    return InternString(S->L, buf, size - 1);
}

// Grows a prototype vector by doubling up to its declared count.
template <typename T, typename Init>
static void GrowVector(LoadState *S, T *&vec, int &size, int want, Init init)
{
    int64_t doubled = int64_t(size) * 2;
    int ncap = size == 0 ? (want < 256 ? want : 256) : (doubled < want ? static_cast<int>(doubled) : want);
    vec = static_cast<T *>(ReallocVMMemory(S->L, vec, sizeof(T) * size, sizeof(T) * ncap));
    for (int i = size; i < ncap; i++) init(vec[i]);
    size = ncap;
}

template <typename T, typename Init, typename Read>
static void LoadVector(LoadState *S, T *&vec, int &size, int count, Init init, Read read)
{
    for (int i = 0; i < count; i++) {
        if (i == size) GrowVector(S, vec, size, count, init);
        read(vec[i]);
    }
}

// 32-bit elements in bulk (line info, instructions), reversed one by one when needed.
template <typename T>
static void LoadWords(LoadState *S, T *&vec, int &size, int count)
{
    while (size < count) {
        int from = size;
        GrowVector(S, vec, size, count, [](T &x) { x = 0; });
        LoadBlock(S, vec + from, sizeof(T) * (size - from));
        if (S->swap) {
            for (int i = from; i < size; i++) {
                uint32_t w;
                std::memcpy(&w, &vec[i], 4);
                w = __builtin_bswap32(w);
                std::memcpy(&vec[i], &w, 4);
            }
        }
    }
}

// ==== Functions ======================================================================================

static lvPrototype *LoadFunction(LoadState *S, lvString *parentSource, int depth)
{
    if (depth > kMaxNesting) LoadError(S, ERR_BADBYTECODE);
    lvState *L = S->L;
    lvPrototype *p = NewPrototype(L);
    p->source = LoadString(S);
    if (!p->source) p->source = parentSource;
    p->lineDefined = LoadInt(S);
    if (p->lineDefined < 0) LoadError(S, ERR_BADINTEGER);
    p->nups = static_cast<uint8_t>(LoadByte(S));
    p->numparams = static_cast<uint8_t>(LoadByte(S));
    p->is_vararg = static_cast<uint8_t>(LoadByte(S));
    p->maxstacksize = static_cast<uint8_t>(LoadByte(S));

    LoadWords(S, p->lineinfo, p->sizelineinfo, LoadCount(S));

    int n = LoadCount(S);
    LoadVector(
        S, p->locvars, p->sizelocvars, n, [](lvLocalVar &v) { v = {nullptr, 0, 0}; },
        [S](lvLocalVar &v) {
            v.name = LoadString(S);
            v.startpc = LoadInt(S);
            v.endpc = LoadInt(S);
            if (v.startpc < 0 || v.endpc < 0) LoadError(S, ERR_BADINTEGER);
        });

    n = LoadCount(S);
    if (n != 0 && n != p->nups) LoadError(S, ERR_BADUPVALUES);
    LoadVector(S, p->upvalues, p->sizeupvalues, n, [](lvString *&s) { s = nullptr; },
               [S](lvString *&s) { s = LoadString(S); });

    n = LoadCount(S);
    LoadVector(S, p->k, p->sizek, n, [](lvValue &v) { SetNil(&v); },
               [S](lvValue &v) {
                   int t = LoadByte(S);
                   switch (t) {
                   case LV_TNIL: SetNil(&v); break;
                   case LV_TNUMBER: SetNumber(&v, LoadNumber(S)); break;
                   case LV_TSTRING: {
                       lvString *s = LoadString(S);
                       if (!s) LoadError(S, ERR_BADCONSTANT);  // only an absent string is written as 0
                       SetString(&v, s);
                       break;
                   }
                   default: LoadError(S, ERR_BADCONSTANT);
                   }
               });

    n = LoadCount(S);
    LoadVector(S, p->p, p->sizep, n, [](lvPrototype *&f) { f = nullptr; },
               [S, p, depth](lvPrototype *&f) { f = LoadFunction(S, p->source, depth + 1); });

    LoadWords(S, p->code, p->sizecode, LoadCount(S));
    if (!CheckBytecode(p)) LoadError(S, ERR_BADBYTECODE);
    return p;
}

static void LoadHeader(LoadState *S)
{
    static const char kSignature[] = "\033LVB";
    for (int i = 0; i < 4; i++)
        if (LoadByte(S) != static_cast<unsigned char>(kSignature[i])) LoadError(S, ERR_BADSIGNATURE);
    S->swap = LoadByte(S) != 1;
    if (LoadByte(S) != 4) LoadError(S, ERR_VMMISMATCH);
    S->lengthSize = LoadByte(S);
    if (S->lengthSize != 4 && S->lengthSize != 8) LoadError(S, ERR_VMMISMATCH);
    static const int kExpected[] = {4, 6, 8, 9, 9, 8};
    for (int e : kExpected)
        if (LoadByte(S) != e) LoadError(S, ERR_VMMISMATCH);
    double x = LoadNumber(S);
    if (!(std::trunc(x) == kCheckNumber)) LoadError(S, ERR_UNKNUMFMT);
}

lvPrototype *LoadBytecode(lvState *L, lvReaderFunction reader, void *data, const char *name)
{
    lvChunkReader z;
    InitChunkReader(&z, reader, data, name);
    LoadState S = {L, &z, false, 4};
    LoadHeader(&S);
    return LoadFunction(&S, nullptr, 0);
}

// ==== Dumper ===========================================================================================

namespace {
struct DumpState {
    lvState *L;               // machine
    lvWriterFunction writer;  // output
    void *data;               // its data
};
}  // namespace

static void DumpBlock(DumpState *D, const void *b, size_t n) { D->writer(D->L, b, n, D->data); }
static void DumpByte(DumpState *D, int x)
{
    char c = static_cast<char>(x);
    DumpBlock(D, &c, 1);
}
static void DumpInt(DumpState *D, int x)
{
    int32_t v = x;
    DumpBlock(D, &v, 4);
}
static void DumpNumber(DumpState *D, double x) { DumpBlock(D, &x, 8); }

static void DumpString(DumpState *D, const lvString *s)
{
    if (!s) {
        DumpInt(D, 0);
        return;
    }
    DumpInt(D, static_cast<int>(s->len + 1));
    DumpBlock(D, s->Data(), s->len + 1);
}

static void DumpFunctionRecord(DumpState *D, const lvPrototype *p, const lvString *parentSource)
{
    DumpString(D, (p->source == parentSource && parentSource) ? nullptr : p->source);
    DumpInt(D, p->lineDefined);
    DumpByte(D, p->nups);
    DumpByte(D, p->numparams);
    DumpByte(D, p->is_vararg);
    DumpByte(D, p->maxstacksize);
    DumpInt(D, p->sizelineinfo);
    DumpBlock(D, p->lineinfo, sizeof(int) * p->sizelineinfo);
    DumpInt(D, p->sizelocvars);
    for (int i = 0; i < p->sizelocvars; i++) {
        DumpString(D, p->locvars[i].name);
        DumpInt(D, p->locvars[i].startpc);
        DumpInt(D, p->locvars[i].endpc);
    }
    DumpInt(D, p->sizeupvalues);
    for (int i = 0; i < p->sizeupvalues; i++) DumpString(D, p->upvalues[i]);
    DumpInt(D, p->sizek);
    for (int i = 0; i < p->sizek; i++) {
        const lvValue *o = &p->k[i];
        DumpByte(D, o->tt);
        if (o->tt == LV_TNUMBER) DumpNumber(D, o->v.n);
        else if (o->tt == LV_TSTRING) DumpString(D, StrValue(o));
    }
    DumpInt(D, p->sizep);
    for (int i = 0; i < p->sizep; i++) DumpFunctionRecord(D, p->p[i], p->source);
    DumpInt(D, p->sizecode);
    DumpBlock(D, p->code, sizeof(uint32_t) * p->sizecode);
}

int DumpFunction(lvState *L, int index, lvWriterFunction writer, void *data)
{
    if (GetValueType(L, index) != LV_TFUNCTION || IsNativeFunction(L, index)) return ERR_NOLVFUNC;
    PushCopy(L, index);
    const lvClosure *cl = ClValue(L->top - 1);
    DumpState D = {L, writer, data};
    DumpBlock(&D, "\033LVB", 4);
    static const char kHeader[] = {1, 4, 4, 4, 6, 8, 9, 9, 8};
    for (char c : kHeader) DumpByte(&D, c);
    DumpNumber(&D, kDumpCheckNumber);
    DumpFunctionRecord(&D, cl->p, nullptr);
    L->top--;
    return 0;
}
