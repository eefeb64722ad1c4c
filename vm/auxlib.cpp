// auxlib.cpp - the command-support layer over the stack interface: library
// registration, constants and labels, argument checks with the runtime's
// error codes, registry helpers, named metatables, the string buffer, table
// sizes and references.
//
// Depends on: lvvm.h, lvobject.h (number helpers only). Names are matched
// lower-cased through the host's LowerStrInPlace, cut to 127 bytes.
#include <cstdio>

#include "vm/lvobject.h"

static void LowerName(char *out, const char *name)
{
    std::snprintf(out, 128, "%s", name);
    GetVMHost()->LowerStrInPlace(out);
}

// ==== Libraries and constants ========================================================================

int RegisterLibrary(lvState *L, const char *libname, const lvCommandEntry *entries, int nup)
{
    bool any = false;
    for (const lvCommandEntry *e = entries; e->name; e++)
        if (e->func) any = true;
    if (!any) return 0;
    if (libname) {
        PushString(L, libname);
        GetTableValue(L, LV_GLOBALSINDEX);
        if (GetValueType(L, -1) == LV_TNIL) {
            SetStackTop(L, -2);
            PushNewTable(L);
            PushString(L, libname);
            PushCopy(L, -2);
            SetTableValue(L, LV_GLOBALSINDEX);
        }
        InsertValue(L, -(nup + 1));
    }
    char name[128];
    for (const lvCommandEntry *e = entries; e->name; e++) {
        if (!e->func) continue;
        LowerName(name, e->name);
        PushString(L, name);
        for (int i = 0; i < nup; i++) PushCopy(L, -(nup + 1));
        PushNativeClosure(L, e->func, nup);
        SetTableValue(L, -(nup + 3));
    }
    SetStackTop(L, -(nup + 1));
    return 1;
}

// Pushes registry[name], creating a table there when missing.
static void PushRegistryTable(lvState *L, const char *name, bool create)
{
    PushString(L, name);
    GetTableValueRaw(L, LV_REGISTRYINDEX);
    if (GetValueType(L, -1) != LV_TTABLE && create) {
        SetStackTop(L, -2);
        PushNewTable(L);
        PushString(L, name);
        PushCopy(L, -2);
        SetTableValueRaw(L, LV_REGISTRYINDEX);
    }
}

void DefineConstants(lvState *L, const char *, const lvConstantEntry *entries, int user)
{
    PushRegistryTable(L, user ? "userconstants" : "constants", true);
    char name[128];
    for (const lvConstantEntry *e = entries; e->name; e++) {
        LowerName(name, e->name);
        PushString(L, name);
        if (e->string) PushString(L, e->string);
        else PushNumber(L, e->number);
        SetTableValueRaw(L, -3);
    }
    SetStackTop(L, -2);
}

int LookupConstant(lvState *L, const char *cname, const char **stringOut, double *numberOut)
{
    char name[128];
    LowerName(name, cname);
    for (const char *table : {"constants", "userconstants"}) {
        PushRegistryTable(L, table, false);
        if (GetValueType(L, -1) == LV_TTABLE) {
            PushString(L, name);
            GetTableValueRaw(L, -2);
            int t = GetValueType(L, -1);
            if (t == LV_TNUMBER) {
                if (stringOut) *stringOut = nullptr;
                if (numberOut) *numberOut = ValueToNumber(L, -1);
                SetStackTop(L, -3);
                return 1;
            }
            if (t == LV_TSTRING) {
                // Constant strings live in the registry, so the text stays valid.
                if (stringOut) *stringOut = ValueToString(L, -1);
                SetStackTop(L, -3);
                return 1;
            }
            SetStackTop(L, -2);
        }
        SetStackTop(L, -2);
    }
    return 0;
}

int FindLabel(lvState *L, const char *label)
{
    char name[128];
    LowerName(name, label);
    PushRegistryTable(L, "labels", false);
    int result = -1;
    if (GetValueType(L, -1) == LV_TTABLE) {
        PushString(L, name);
        GetTableValueRaw(L, -2);
        if (GetValueType(L, -1) == LV_TNUMBER) {
            int64_t v = NumberToInt64(ValueToNumber(L, -1));
            result = (v >= INT32_MIN && v <= INT32_MAX) ? static_cast<int>(v) : -1;
        }
        SetStackTop(L, -2);
    }
    SetStackTop(L, -2);
    return result;
}

int FindStringIndex(const char *text, const char *const *list)
{
    for (int i = 0; list[i]; i++)
        if (std::strcmp(list[i], text) == 0) return i;
    return -1;
}

void SetLabelOwner(lvState *L, int index)
{
    lvValue *o = L->base + (index - 1);
    if (index < 0) o = L->top + index;
    gVMRun.labelOwner = (o >= L->base && o < L->top && o->tt == LV_TFUNCTION && !ClValue(o)->isC) ? ClValue(o)->p : nullptr;
}

// ==== Registry values ===================================================================================

static void GetRegistryValue(lvState *L, const char *name)
{
    PushString(L, name);
    GetTableValueRaw(L, LV_REGISTRYINDEX);
}

void SetRegistryPointer(lvState *L, const char *name, void *p)
{
    PushString(L, name);
    PushPointer(L, p);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
}

void *GetRegistryPointer(lvState *L, const char *name)
{
    GetRegistryValue(L, name);
    void *p = GetUserDataPointer(L, -1);
    SetStackTop(L, -2);
    return p;
}

void SetRegistryString(lvState *L, const char *name, const char *s)
{
    PushString(L, name);
    PushString(L, s);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
}

const char *GetRegistryString(lvState *L, const char *name)
{
    GetRegistryValue(L, name);
    const char *s = nullptr;
    int t = GetValueType(L, -1);
    if (t == LV_TSTRING || t == LV_TNUMBER) {
        // Store the text form back so it stays referenced by the registry.
        s = ValueToString(L, -1);
        if (t == LV_TNUMBER) {
            PushString(L, name);
            PushCopy(L, -2);
            SetTableValueRaw(L, LV_REGISTRYINDEX);
        }
    }
    SetStackTop(L, -2);
    return s;
}

void SetRegistryNumber(lvState *L, const char *name, double n)
{
    PushString(L, name);
    PushNumber(L, n);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
}

double GetRegistryNumber(lvState *L, const char *name)
{
    GetRegistryValue(L, name);
    double n = 0;
    int t = GetValueType(L, -1);
    if (t == LV_TNUMBER || t == LV_TSTRING) n = ValueToNumber(L, -1);
    SetStackTop(L, -2);
    return n;
}

// ==== Argument checks ======================================================================================

[[noreturn]] static void ArgError(lvState *L, int i, int code)
{
    GetVMHost()->SetErrorNumberArg(i);
    RaiseError(L, code);
}

[[noreturn]] static void FieldError(lvState *L, const char *field, int code)
{
    GetVMHost()->SetErrorStringArg(field ? field : "");
    RaiseError(L, code);
}

void CheckTableArg(lvState *L, int i)
{
    if (GetValueType(L, i) != LV_TTABLE) ArgError(L, i, ERR_TABEXPECTED);
}

void CheckFunctionArg(lvState *L, int i)
{
    if (GetValueType(L, i) != LV_TFUNCTION) ArgError(L, i, ERR_FUNCEXPECTED);
}

void CheckCoroutineArg(lvState *L, int i)
{
    if (GetValueType(L, i) != LV_TTHREAD) ArgError(L, i, ERR_THREADEXPECTED);
}

void CheckArgType(lvState *L, int i, int tag)
{
    if (GetValueType(L, i) == tag) return;
    switch (tag) {
    case LV_TNUMBER: ArgError(L, i, ERR_NUMEXPECTED);
    case LV_TSTRING: ArgError(L, i, ERR_STREXPECTED);
    case LV_TTABLE: ArgError(L, i, ERR_TABEXPECTED);
    case LV_TFUNCTION: ArgError(L, i, ERR_FUNCEXPECTED);
    default: ArgError(L, i, ERR_UDEXPECTED);
    }
}

void *CheckUserDataArg(lvState *L, int i)
{
    int t = GetValueType(L, i);
    if (t != LV_TUSERDATA && t != LV_TPOINTER) ArgError(L, i, ERR_UDEXPECTED);
    return GetUserDataPointer(L, i);
}

// The argument as text (numbers and nil converted in their slot), or NULL.
static const char *ArgAsString(lvState *L, int i, size_t *len)
{
    int t = GetValueType(L, i);
    if (t != LV_TSTRING && t != LV_TNUMBER && t != LV_TNIL) return nullptr;
    const char *s = ValueToString(L, i);
    if (len) *len = ValueStringLength(L, i);
    return s;
}

const char *CheckStringArg(lvState *L, int i, size_t *len)
{
    const char *s = ArgAsString(L, i, len);
    if (!s) ArgError(L, i, ERR_STREXPECTED);
    return s;
}

const char *GetOptionalStringArg(lvState *L, int i, const char *def, size_t *len)
{
    if (GetValueType(L, i) == LV_TNONE) {
        if (len) *len = def ? std::strlen(def) : 0;
        return def;
    }
    return CheckStringArg(L, i, len);
}

const char *CheckStringField(lvState *L, int i, size_t *len, const char *field)
{
    const char *s = ArgAsString(L, i, len);
    if (!s) FieldError(L, field, ERR_STRTABLEARG);
    return s;
}

const char *ReadCallbackString(lvState *L, int i, size_t *len, int *code)
{
    const char *s = ArgAsString(L, i, len);
    *code = s ? 0 : ERR_STRCALLBACK;
    return s;
}

static bool ArgAsNumber(lvState *L, int i, double *out)
{
    double d = ValueToNumber(L, i);
    if (d == 0 && !CanConvertToNumber(L, i)) return false;
    *out = d;
    return true;
}

double CheckNumberArg(lvState *L, int i)
{
    // A number argument, the common case of every command, without the conversions.
    if (i > 0) {
        const lvValue *o = L->base + (i - 1);
        if (o < L->top && o->tt == LV_TNUMBER) return o->v.n;
    }
    double d;
    if (!ArgAsNumber(L, i, &d)) ArgError(L, i, ERR_NUMEXPECTED);
    return d;
}

uint32_t CheckUnsignedArg(lvState *L, int i)
{
    return static_cast<uint32_t>(static_cast<uint64_t>(NumberToInt64(CheckNumberArg(L, i))));
}

double GetOptionalNumberArg(lvState *L, int i, double def)
{
    return GetValueType(L, i) == LV_TNONE ? def : CheckNumberArg(L, i);
}

uint32_t GetOptionalUnsignedArg(lvState *L, int i, uint32_t def)
{
    return GetValueType(L, i) == LV_TNONE ? def : CheckUnsignedArg(L, i);
}

double CheckNumberField(lvState *L, int i, const char *field)
{
    double d;
    if (!ArgAsNumber(L, i, &d)) FieldError(L, field, ERR_NUMTABLEARG);
    return d;
}

int CheckIntegerField(lvState *L, int i, const char *field)
{
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(NumberToInt64(CheckNumberField(L, i, field)))));
}

double ReadCallbackNumber(lvState *L, int i, int *code)
{
    double d = 0;
    *code = ArgAsNumber(L, i, &d) ? 0 : ERR_NUMCALLBACK;
    return d;
}

// ==== Metatables ===========================================================================================

int NewNamedMetatable(lvState *L, const char *name)
{
    PushString(L, name);
    GetTableValueRaw(L, LV_REGISTRYINDEX);
    if (GetValueType(L, -1) != LV_TNIL) return 0;
    SetStackTop(L, -2);
    PushNewTable(L);
    PushString(L, name);
    PushCopy(L, -2);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
    PushCopy(L, -1);
    PushString(L, name);
    SetTableValueRaw(L, LV_REGISTRYINDEX);
    return 1;
}

void PushNamedMetatable(lvState *L, const char *name)
{
    PushString(L, name);
    GetTableValueRaw(L, LV_REGISTRYINDEX);
}

void *GetTypedUserData(lvState *L, int index, const char *name)
{
    void *p = GetUserDataPointer(L, index);
    if (!p || GetValueType(L, index) != LV_TUSERDATA) return nullptr;
    if (!PushMetatable(L, index)) return nullptr;
    GetTableValueRaw(L, LV_REGISTRYINDEX);
    const char *tn = GetValueType(L, -1) == LV_TSTRING ? ValueToString(L, -1) : nullptr;
    bool ok = tn && std::strcmp(tn, name) == 0;
    SetStackTop(L, -2);
    return ok ? p : nullptr;
}

int PushMetaField(lvState *L, int index, const char *field)
{
    if (!PushMetatable(L, index)) return 0;
    PushString(L, field);
    GetTableValueRaw(L, -2);
    if (GetValueType(L, -1) == LV_TNIL) {
        SetStackTop(L, -3);
        return 0;
    }
    RemoveValue(L, -2);
    return 1;
}

int CallMetaMethod(lvState *L, int index, const char *field)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    if (!PushMetaField(L, index, field)) return 0;
    PushCopy(L, index);
    CallFunction(L, 1, 1);
    return 1;
}

// ==== String buffer ===========================================================================================

static size_t BufferLength(lvStringBuffer *b) { return static_cast<size_t>(b->cursor - b->area); }

static bool PushPending(lvStringBuffer *b)
{
    size_t l = BufferLength(b);
    if (l == 0) return false;
    PushSizedString(b->L, b->area, l);
    b->cursor = b->area;
    b->pieces++;
    return true;
}

static void MergePieces(lvStringBuffer *b)
{
    if (b->pieces <= 1) return;
    lvState *L = b->L;
    int toget = 1;
    size_t toplen = ValueStringLength(L, -1);
    do {
        size_t l = ValueStringLength(L, -(toget + 1));
        if (b->pieces - toget + 1 >= 10 || toplen > l) {
            toplen += l;
            toget++;
        } else {
            break;
        }
    } while (toget < b->pieces);
    ConcatValues(L, toget);
    b->pieces = b->pieces - toget + 1;
}

void InitStringBuffer(lvState *L, lvStringBuffer *b)
{
    b->L = L;
    b->cursor = b->area;
    b->pieces = 0;
}

void AppendBufferBytes(lvStringBuffer *b, const char *s, size_t n)
{
    while (n--) {
        if (b->cursor >= b->area + sizeof b->area) {
            PushPending(b);
            MergePieces(b);
        }
        *b->cursor++ = *s++;
    }
}

void AppendBufferString(lvStringBuffer *b, const char *s) { AppendBufferBytes(b, s, std::strlen(s)); }

char *GetBufferSpace(lvStringBuffer *b)
{
    if (PushPending(b)) MergePieces(b);
    return b->area;
}

void AppendBufferValue(lvStringBuffer *b)
{
    lvState *L = b->L;
    size_t vl = ValueStringLength(L, -1);
    const char *s = ValueToString(L, -1);
    if (s && vl <= sizeof b->area - BufferLength(b)) {
        std::memcpy(b->cursor, s, vl);
        b->cursor += vl;
        SetStackTop(L, -2);
    } else {
        if (PushPending(b)) InsertValue(L, -2);
        b->pieces++;
        MergePieces(b);
    }
}

void FinishStringBuffer(lvStringBuffer *b)
{
    PushPending(b);
    ConcatValues(b->L, b->pieces);
    b->pieces = 1;
}

// ==== Table sizes and references ============================================================================

static int AbsIndex(lvState *L, int index)
{
    return (index < 0 && index > LV_REGISTRYINDEX) ? GetStackTop(L) + index + 1 : index;
}

static void PushSizeTable(lvState *L, bool create)
{
    GetTableItemRaw(L, LV_REGISTRYINDEX, 2);
    if (GetValueType(L, -1) == LV_TTABLE || !create) return;
    SetStackTop(L, -2);
    PushNewTable(L);
    PushNewTable(L);  // its metatable: weak keys
    PushString(L, "__mode");
    PushString(L, "k");
    SetTableValueRaw(L, -3);
    AssignMetatable(L, -2);
    PushCopy(L, -1);
    SetTableItemRaw(L, LV_REGISTRYINDEX, 2);
}

void SetTableSize(lvState *L, int index, int n)
{
    index = AbsIndex(L, index);
    PushSizeTable(L, true);
    PushCopy(L, index);
    PushNumber(L, n);
    SetTableValueRaw(L, -3);
    SetStackTop(L, -2);
}

int GetStoredTableSize(lvState *L, int index)
{
    index = AbsIndex(L, index);
    PushSizeTable(L, false);
    int n = -1;
    if (GetValueType(L, -1) == LV_TTABLE) {
        PushCopy(L, index);
        GetTableValueRaw(L, -2);
        if (GetValueType(L, -1) == LV_TNUMBER) n = static_cast<int>(NumberToInt64(ValueToNumber(L, -1)));
        SetStackTop(L, -2);
    }
    SetStackTop(L, -2);
    return n;
}

int GetTableSize(lvState *L, int index)
{
    index = AbsIndex(L, index);
    int n = GetStoredTableSize(L, index);
    if (n >= 0) return n;
    for (n = 0;; n++) {
        GetTableItemRaw(L, index, n + 1);
        bool isnil = GetValueType(L, -1) == LV_TNIL;
        SetStackTop(L, -2);
        if (isnil) return n;
    }
}

int CreateReference(lvState *L, int t)
{
    t = AbsIndex(L, t);
    if (GetValueType(L, -1) == LV_TNIL) {
        SetStackTop(L, -2);
        return -1;
    }
    GetTableItemRaw(L, t, 1);
    int ref = static_cast<int>(NumberToInt64(ValueToNumber(L, -1)));
    SetStackTop(L, -2);
    if (ref >= 3) {
        GetTableItemRaw(L, t, ref);
        SetTableItemRaw(L, t, 1);
    } else {
        int n = GetTableSize(L, t);
        ref = (n > 2 ? n : 2) + 1;
        SetTableSize(L, t, ref);
    }
    SetTableItemRaw(L, t, ref);
    return ref;
}

void ReleaseReference(lvState *L, int t, int ref)
{
    // Slots 1 and 2 are the machine's own; a slot already free is left alone,
    // so a double release cannot loop the free list.
    if (ref < 3) return;
    t = AbsIndex(L, t);
    for (int free = 0, guard = 0;; guard++) {
        GetTableItemRaw(L, t, free == 0 ? 1 : free);
        int next = static_cast<int>(NumberToInt64(ValueToNumber(L, -1)));
        SetStackTop(L, -2);
        if (next == ref) return;
        if (next < 3 || guard > 1000000) break;
        free = next;
    }
    GetTableItemRaw(L, t, 1);
    SetTableItemRaw(L, t, ref);
    PushNumber(L, ref);
    SetTableItemRaw(L, t, 1);
}
