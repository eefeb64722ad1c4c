// lvobject.h - the machine's own records: values, collectable objects,
// strings, tables, closures, prototypes, states and call records, and the
// internal operations the machine's source files share.
//
// Only vm/*.cpp and the machine's tests include this; native code uses lvvm.h.
// Limits: 2048 values per native frame, 4096 call records, 200 nested
// native calls, 2^24 array slots and hash nodes per table.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "vm/lvvm.h"

// ---- Values -----------------------------------------------------------------------
enum : int {
    LV_TPROTO = 9,      // prototype (internal only)
    LV_TUPVALUE = 10,   // upvalue (internal only)
    LV_TDEADKEY = -1,   // key of a node cleared by the collector
};

struct lvObjectHead;
struct lvString;
struct lvTable;
struct lvClosure;
struct lvUserData;
struct lvUpvalue;

struct lvValue {
    int tt;                  // type tag (lvValueTag or internal tags)
    union {
        double n;            // number
        int b;               // boolean 0/1
        void *p;             // raw pointer value
        lvObjectHead *gc;    // collectable object
    } v;
};

// Mark bits of an object head.
enum lvMarkBits : uint8_t {
    LV_MARKED = 1,        // reached in this collection
    LV_UDATA_UNFIN = 2,   // userdata not yet finalised
    LV_WEAKKEYS = 2,      // table with weak keys (tables only)
    LV_WEAKVALUES = 4,    // table with weak values (tables only)
    LV_FIXED = 16,        // never collected
};

struct lvObjectHead {
    lvObjectHead *next;   // next object in its collector list
    uint8_t tt;           // type tag
    uint8_t marked;       // lvMarkBits
};

struct lvString {
    lvObjectHead h;       // tag 4
    uint32_t hash;        // string hash
    size_t len;           // byte length (without the terminating zero)
    char *Data() { return reinterpret_cast<char *>(this + 1); }
    const char *Data() const { return reinterpret_cast<const char *>(this + 1); }
};

struct lvTableNode {
    lvValue key;          // key (nil when free, LV_TDEADKEY when cleared)
    lvValue val;          // value
    lvTableNode *next;    // next node of the same chain
};

struct lvTable {
    lvObjectHead h;       // tag 5
    uint8_t absent;       // bit e: tag method e known to be absent (events 0..7)
    uint8_t lsizenode;    // log2 of the node count
    lvTable *metatable;   // metatable (the default one when none)
    lvValue *array;       // array part
    lvTableNode *node;    // node array (the shared empty node when none)
    lvTableNode *firstfree;  // free-node cursor
    lvObjectHead *gclist; // gray-list link
    int sizearray;        // array part size
};

struct lvLocalVar {
    lvString *name;       // variable name
    int startpc;          // first instruction where it is live
    int endpc;            // first instruction where it is dead
};

struct lvPrototype {
    lvObjectHead h;       // tag 9
    lvValue *k;           // constants
    uint32_t *code;       // instructions
    lvPrototype **p;      // nested functions
    int *lineinfo;        // source line per instruction
    lvLocalVar *locvars;  // local variables
    lvString **upvalues;  // upvalue names
    lvString *source;     // source name (may be NULL)
    int sizeupvalues;     // count of upvalue names
    int sizek;            // count of constants
    int sizecode;         // count of instructions
    int sizelineinfo;     // count of line-info entries
    int sizep;            // count of nested functions
    int sizelocvars;      // count of locals
    int lineDefined;      // line where the function is defined
    lvObjectHead *gclist; // gray-list link
    uint8_t nups;         // upvalue count
    uint8_t numparams;    // fixed parameters
    uint8_t is_vararg;    // vararg flag
    uint8_t maxstacksize; // registers needed
};

struct lvUpvalue {
    lvObjectHead h;       // tag 10
    lvValue *v;           // the value: a stack slot while open, else &value
    lvValue value;        // own value once closed
};

struct lvClosure {
    lvObjectHead h;       // tag 6
    uint8_t isC;          // native flag
    uint8_t nupvalues;    // upvalue count
    lvObjectHead *gclist; // gray-list link
    // native: the function and inline upvalues; script: prototype, globals, upvalue objects
    lvCommandFunction f;  // native function
    lvPrototype *p;       // script prototype
    lvValue g;            // globals table of a script function
    union {
        lvValue cupvalue[1];     // native upvalues (nupvalues of them)
        lvUpvalue *lupvalue[1];  // script upvalues (nupvalues of them)
    };
};

struct lvUserData {
    lvObjectHead h;       // tag 7
    lvTable *metatable;   // metatable (the default one at creation)
    size_t len;           // data length
    void *Data() { return reinterpret_cast<char *>(this) + sizeof(lvUserData); }
};

// ---- Call records --------------------------------------------------------------------
enum lvCallState : uint8_t {
    LV_CI_C = 1,          // native function
    LV_CI_HASFRAME = 2,   // has an interpreter frame
    LV_CI_CALLING = 4,    // is calling another script function
    LV_CI_SAVEDPC = 8,    // saved pc valid
    LV_CI_YIELD = 16,     // yielded
};

struct lvCallRecord {
    int base;                 // first frame slot (stack index)
    int top;                  // highest usable slot (stack index)
    uint8_t state;            // lvCallState bits
    const uint32_t *savedpc;  // saved pc of a script function (kept current by the interpreter)
    const uint32_t *tracepc;  // pc of the last line-hook step in this record (NULL: none yet)
    int tailcalls;            // tail calls lost under this record
};

struct lvErrorJump {
    lvErrorJump *previous;    // enclosing trap
    int status;               // thrown code, 0 while none
};

struct lvGlobalState;

struct lvState {
    lvObjectHead h;           // tag 8
    lvValue *top;             // first free slot
    lvValue *base;            // first slot of the running frame
    lvGlobalState *G;         // shared machine state
    lvCallRecord *ci;         // current call record
    lvValue *stackLast;       // last usable slot (the reserve lies beyond it)
    lvValue *stack;           // the stack
    int stacksize;            // stack size in slots
    lvCallRecord *endCi;      // last call record of the array
    lvCallRecord *baseCi;     // call-record array
    int sizeCi;               // call-record array size
    int nCcalls;              // native-call depth (a coroutine starts at its resumer's depth + 1)
    int baseCcalls;           // nCcalls when the coroutine was last resumed (yield is allowed there)
    uint8_t hookmask;         // lvHookMask bits
    uint8_t allowhook;        // hooks allowed
    uint8_t hookinit;         // line tracking initialised
    uint8_t hookGated;        // the line hook runs only while line work is pending
    uint8_t traceAll;         // a line or count hook that is not gated: trace every instruction
    int basehookcount;        // count hook period
    int hookcount;            // remaining count
    lvHookFunction hook;      // hook function
    lvValue gt;               // the thread's globals table
    lvUpvalue *openupval;     // open upvalues, highest slot first
    lvObjectHead *gclist;     // gray-list link
    lvErrorJump *errorJump;   // innermost error trap
    ptrdiff_t errfunc;        // error-function stack position (slots from stack start)
    int countedResults;       // the count a command answering LV_COUNTEDRESULTS gave
};

constexpr int LV_NUM_TAGMETHODS = 23;
enum lvTagMethod {
    TM_INDEX, TM_NEWINDEX, TM_GC, TM_MODE, TM_EQ, TM_ADD, TM_SUB, TM_MUL, TM_DIV, TM_DIVINT,
    TM_MOD, TM_LSH, TM_RSH, TM_OR, TM_AND, TM_XOR, TM_POW, TM_UNM, TM_NOT, TM_LT, TM_LE,
    TM_CONCAT, TM_CALL
};

struct lvStringTable {
    lvObjectHead **hash;      // bucket array
    uint32_t nuse;            // number of strings
    int size;                 // number of buckets (a power of two)
};

struct lvGlobalState {
    lvStringTable strt;       // interned strings
    lvObjectHead *rootgc;     // all collectable objects but userdata
    lvObjectHead *rootudata;  // userdata
    lvObjectHead *tmudata;    // userdata waiting for their finaliser
    char *buffer;             // shared byte buffer (concatenation, loader)
    size_t buffsize;          // its size
    uint64_t GCthreshold;     // collect when nblocks reaches it
    uint64_t nblocks;         // bytes in use
    lvPanicFunction panic;    // called when an error has no trap
    lvValue registry;         // registry table
    lvValue defaultMeta;      // default metatable
    lvState *mainthread;      // main thread
    lvTableNode dummynode[1]; // shared empty hash part
    lvString *tmname[LV_NUM_TAGMETHODS];  // tag-method names
    lvString *memerrmsg;      // "not enough memory"
    lvString *nextName;       // "next" (looked up by OpTForPrep)
    lvString *nextItemName;   // "nextitem": the table library's NextItem, when "next" is not set
    lvString *nName;          // "n" (vararg tables)
    uint64_t ownerThread;     // the thread that drives the machine (checked in debug builds)
};

// ---- Debug switches (tests) --------------------------------------------------------
struct lvVMDebug {
    int moveStack;         // move the stack to a new block on every grow or shrink
    int torture;           // collect at every collection point
    uint64_t memoryLimit;  // bytes a machine may hold before ERR_MEM (0: no limit)
};
extern lvVMDebug gVMDebug;

// ---- Value helpers ---------------------------------------------------------------------
#define LV_GCVALUE(o, T) (reinterpret_cast<T *>((o)->v.gc))
inline bool IsCollectable(const lvValue *o) { return o->tt >= LV_TSTRING; }
inline void SetNil(lvValue *o) { o->tt = LV_TNIL; }
inline void SetNumber(lvValue *o, double n) { o->tt = LV_TNUMBER; o->v.n = n; }
inline void SetBoolean(lvValue *o, int b) { o->tt = LV_TBOOLEAN; o->v.b = b != 0; }
inline void SetPointer(lvValue *o, void *p) { o->tt = LV_TPOINTER; o->v.p = p; }
inline void SetObject(lvValue *o, lvObjectHead *g, int tt) { o->tt = tt; o->v.gc = g; }
inline void SetString(lvValue *o, lvString *s) { SetObject(o, &s->h, LV_TSTRING); }
inline void SetTable(lvValue *o, lvTable *t) { SetObject(o, &t->h, LV_TTABLE); }
inline void SetClosure(lvValue *o, lvClosure *c) { SetObject(o, &c->h, LV_TFUNCTION); }
inline void SetThread(lvValue *o, lvState *t) { SetObject(o, &t->h, LV_TTHREAD); }
inline void SetUserData(lvValue *o, lvUserData *u) { SetObject(o, &u->h, LV_TUSERDATA); }
inline lvString *StrValue(const lvValue *o) { return LV_GCVALUE(o, lvString); }
inline lvTable *TabValue(const lvValue *o) { return LV_GCVALUE(o, lvTable); }
inline lvClosure *ClValue(const lvValue *o) { return LV_GCVALUE(o, lvClosure); }
inline lvUserData *UdValue(const lvValue *o) { return LV_GCVALUE(o, lvUserData); }
inline lvState *ThValue(const lvValue *o) { return LV_GCVALUE(o, lvState); }
// Falsity of the interpreter's tests: nil, false, 0, -0 and a string starting with a zero byte.
inline bool IsFalse(const lvValue *o)
{
    switch (o->tt) {
    case LV_TNIL: return true;
    case LV_TBOOLEAN: return o->v.b == 0;
    case LV_TNUMBER: return o->v.n == 0;
    case LV_TSTRING: return StrValue(o)->Data()[0] == 0;
    default: return false;
    }
}
extern const lvValue gNilValue;

// ---- Memory (state.cpp) -------------------------------------------------------------------
void *ReallocVMMemory(lvState *L, void *block, size_t oldsize, size_t newsize);
template <typename T> T *NewVector(lvState *L, size_t n)
{
    return static_cast<T *>(ReallocVMMemory(L, nullptr, 0, n * sizeof(T)));
}
template <typename T> void FreeVector(lvState *L, T *p, size_t n)
{
    ReallocVMMemory(L, p, n * sizeof(T), 0);
}
void LinkNewObject(lvState *L, lvObjectHead *o, int tt);

// ---- Stacks and call records (state.cpp) ------------------------------------------------
constexpr int LV_MINSTACK = 20;
constexpr int LV_EXTRA_STACK = 5;
constexpr int LV_BASIC_STACK = 2 * LV_MINSTACK + LV_EXTRA_STACK;  // 45
constexpr int LV_BASIC_CI = 8;
constexpr int LV_MAXCALLS = 4096;
constexpr int LV_MAXCCALLS = 200;
constexpr int LV_MAXNATIVEFRAME = 2048;

void GrowStack(lvState *L, int n);
void ResizeStack(lvState *L, int newsize);
void ResizeCallRecords(lvState *L, int newsize);
void RestoreStackLimit(lvState *L);
inline void CheckStack(lvState *L, int n)
{
    if ((L->stackLast - L->top) <= n || gVMDebug.moveStack) {
        if ((L->stackLast - L->top) <= n) GrowStack(L, n);
        else if (gVMDebug.moveStack) ResizeStack(L, L->stacksize);
    }
}
lvCallRecord *GrowCallRecords(lvState *L);
inline lvCallRecord *NextCallRecord(lvState *L) { return L->ci == L->endCi ? GrowCallRecords(L) : ++L->ci; }
inline int StackIndex(lvState *L, const lvValue *p) { return static_cast<int>(p - L->stack); }
inline lvValue *StackAt(lvState *L, int i) { return L->stack + i; }
lvState *CreateThreadState(lvState *L);
void FreeThreadState(lvState *L, lvState *L1);

// ---- Functions (state.cpp) -----------------------------------------------------------------
lvClosure *NewNativeClosure(lvState *L, int nup);
lvClosure *NewScriptClosure(lvState *L, int nup, const lvValue *globals);
lvPrototype *NewPrototype(lvState *L);
lvUpvalue *FindOpenUpvalue(lvState *L, lvValue *slot);
lvUpvalue *NewClosedUpvalue(lvState *L);
void CloseUpvalues(lvState *L, lvValue *level);
size_t ClosureSize(const lvClosure *c);
void FreePrototype(lvState *L, lvPrototype *p);

// ---- Errors (error.cpp) --------------------------------------------------------------------
extern lvVMHost gVMHostActive;  // the host services in force (GetVMHost answers its address)
void SetErrorString(const char *text);
[[noreturn]] void RaiseNameError(lvState *L, const lvValue *slot, int code, const char *suffix);
void CheckOwnerThread(lvState *L);

// ---- Strings (string.cpp) -------------------------------------------------------------------
lvString *InternString(lvState *L, const char *s, size_t len);
// Interns the first len bytes of a block from NewStringBlock, taking the block.
lvString *InternStringBlock(lvState *L, char *block, size_t len);
inline lvString *InternCString(lvState *L, const char *s) { return InternString(L, s, std::strlen(s)); }
void ResizeStringTable(lvState *L, int newsize);
uint32_t HashString(const char *s, size_t len);
lvUserData *NewUserDataObject(lvState *L, size_t size);
char *GetVMBuffer(lvState *L, size_t n);

// ---- Tables (table.cpp) --------------------------------------------------------------------
lvTable *NewTableObject(lvState *L, int narray, int lnhash);
void FreeTable(lvState *L, lvTable *t);
const lvValue *TableGet(lvTable *t, const lvValue *key);
const lvValue *TableGetIntHash(lvTable *t, int key);
// Integer keys 1..array size come from the array part, others from the hash part.
inline const lvValue *TableGetInt(lvTable *t, int key)
{
    if (static_cast<unsigned>(key - 1) < static_cast<unsigned>(t->sizearray)) return &t->array[key - 1];
    return TableGetIntHash(t, key);
}
// String keys are found by pointer along their bucket's chain.
inline const lvValue *TableGetString(lvTable *t, lvString *key)
{
    lvTableNode *n = &t->node[key->hash & ((1u << t->lsizenode) - 1)];
    do {
        if (n->key.tt == LV_TSTRING && n->key.v.gc == &key->h) return &n->val;
        n = n->next;
    } while (n);
    return &gNilValue;
}
lvValue *TableSet(lvState *L, lvTable *t, const lvValue *key);
lvValue *TableSetInt(lvState *L, lvTable *t, int key);
int TableNext(lvState *L, lvTable *t, lvValue *key);
int TableNodeCount(const lvTable *t);
void InitTagMethodNames(lvState *L);
const lvValue *GetTagMethod(lvState *L, lvTable *events, int event);
const lvValue *GetTagMethodOf(lvState *L, const lvValue *o, int event);
lvTable *MetatableOf(lvState *L, const lvValue *o);
int ArrayIndexOf(const lvValue *key);

// ---- Value operations (valueops.cpp) ----------------------------------------------------------
const lvValue *ConvertToNumber(const lvValue *obj, lvValue *scratch);
int ConvertToString(lvState *L, lvValue *obj);
int EqualValues(lvState *L, const lvValue *a, const lvValue *b);
int RawEqualValues(const lvValue *a, const lvValue *b);
int LessThanValues(lvState *L, const lvValue *a, const lvValue *b, int collate);
int LessEqualValues(lvState *L, const lvValue *a, const lvValue *b);
void ArithValues(lvState *L, lvValue *ra, const lvValue *b, const lvValue *c, int event);
double ArithNumbers(lvState *L, double a, double b, int event);
void BitNotValue(lvState *L, lvValue *ra, const lvValue *b);
void NegateValue(lvState *L, lvValue *ra, const lvValue *b);
void ConcatRegisters(lvState *L, int total, int last);
// Indexing: results land in *res (which may be a stack slot; the stack may move).
void IndexValue(lvState *L, const lvValue *t, const lvValue *key, lvValue *res, int *fromTableChain);
void AssignIndex(lvState *L, const lvValue *t, const lvValue *key, const lvValue *val);
void GetGlobalValue(lvState *L, lvTable *g, const lvValue *key, lvValue *res);
void CallTagMethodResult(lvState *L, const lvValue *f, const lvValue *a, const lvValue *b, lvValue *res);
int StringCompare(const lvString *a, const lvString *b, int collate);
int64_t DivideInt64(int64_t a, int64_t b, bool remainder, double *asDouble);

// ---- Calls and the interpreter (interp.cpp) -------------------------------------------------------
lvValue *PrepareCall(lvState *L, lvValue *func, int *codeOut, int catching);
void FinishCall(lvState *L, int wanted, lvValue *firstResult);
int CallValue(lvState *L, lvValue *func, int nresults);
lvValue *ExecuteBytecode(lvState *L);
void CallHook(lvState *L, int event, int line);
// Table constructor hints: array slots from B, log2 of hash nodes from C, both at most 2^24.
int ArraySizeHint(int b);
int HashSizeHint(int c);
inline bool IsJumpAnswer(lvValue *r) { return r == reinterpret_cast<lvValue *>(-1) || r == reinterpret_cast<lvValue *>(-2); }

// ---- Instruction encoding --------------------------------------------------------------------
enum lvOpcode {
    OpMove, OpLoadK, OpLoadBool, OpLoadNil, OpGetUpval, OpGetGlobal, OpGetTable, OpSetGlobal,
    OpSetUpval, OpSetTable, OpNewTable, OpAdd, OpSub, OpMul, OpDiv, OpIntDiv, OpMod, OpShl,
    OpShr, OpOr, OpAnd, OpXor, OpPow, OpUnm, OpNot, OpBNot, OpConcat, OpJmp, OpEq, OpLt, OpLe,
    OpTest, OpCall, OpTailCall, OpReturn, OpForLoop, OpTForLoop, OpTForPrep, OpSetList,
    OpSetListO, OpClose, OpClosure, OpSelf, OpCatchCall, OpCatchTailCall,
    LV_NUM_OPCODES
};
constexpr int LV_MAXSTACK = 250;     // registers per function; RK >= 250 is a constant
constexpr int LV_MAXARG_SBX = 131071;
constexpr int LV_JMP_BIAS = 8388607;
constexpr int LV_FIELDS_PER_FLUSH = 32;
inline int GetOp(uint32_t i) { return i & 0x3F; }
inline int GetA(uint32_t i) { return i >> 24; }
inline int GetB(uint32_t i) { return (i >> 15) & 0x1FF; }
inline int GetC(uint32_t i) { return (i >> 6) & 0x1FF; }
inline int GetBx(uint32_t i) { return (i >> 6) & 0x3FFFF; }
inline int GetSBx(uint32_t i) { return GetBx(i) - LV_MAXARG_SBX; }
inline int GetJump(uint32_t i) { return static_cast<int>((i >> 6) & 0xFFFFFF) - LV_JMP_BIAS; }
inline bool IsGosubJump(uint32_t i) { return (i >> 30) == 2; }
inline uint32_t MakeABC(int op, int a, int b, int c)
{
    return static_cast<uint32_t>(op) | (static_cast<uint32_t>(c) << 6) | (static_cast<uint32_t>(b) << 15) |
           (static_cast<uint32_t>(a) << 24);
}
inline uint32_t MakeABx(int op, int a, int bx)
{
    return static_cast<uint32_t>(op) | (static_cast<uint32_t>(bx) << 6) | (static_cast<uint32_t>(a) << 24);
}
inline uint32_t MakeAsBx(int op, int a, int sbx) { return MakeABx(op, a, sbx + LV_MAXARG_SBX); }
inline uint32_t MakeJump(int offset, bool gosub = false)
{
    return static_cast<uint32_t>(OpJmp) | (static_cast<uint32_t>(offset + LV_JMP_BIAS) << 6) | (gosub ? 0x80000000u : 0);
}

// ---- Loader, verifier, debug (undump.cpp, debug.cpp) ---------------------------------------------
lvPrototype *LoadBytecode(lvState *L, lvReaderFunction reader, void *data, const char *name);
uint32_t VerifyBytecode(const lvPrototype *pt, int lastpc, int reg);
// Highest register OpTForLoop touches: its call slots end at A+C+5, its C+1 results at A+2C+3.
inline int TForLoopTop(int a, int c) { return a + (c + 5 > 2 * c + 3 ? c + 5 : 2 * c + 3); }
int CheckBytecode(const lvPrototype *pt);
int GetCurrentLine(lvState *L, lvCallRecord *ci);
const char *GetVariableName(lvState *L, lvCallRecord *ci, int stackpos, const char **name);
void TraceStep(lvState *L, const uint32_t *pc);
// Line tracking of the trace step: answers 1 (and the line) when pc starts a new line
// or jumps back, so that a line event is due; the first use only starts tracking.
int LineStep(lvState *L, const uint32_t *pc, int *line);
void CallTrace(lvState *L, lvValue *func);

// ---- Collector (gc.cpp) ------------------------------------------------------------------------
void CheckCollection(lvState *L);
void FreeAllObjects(lvState *L);
void RunPendingFinalizers(lvState *L);
void SeparateFinalizable(lvState *L, int all);
