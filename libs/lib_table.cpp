// lib_table.cpp - the commands of the "table" library: the list sort, inserting and
// removing list items with the recorded size kept, iteration, copying, joining,
// membership, packing and raw access. Lists keep their items at keys 0, 1, 2, ...
//
// The sort is the engine's SortList (libs/table_engine.h) over items read and written
// raw through the stack; a comparator that contradicts itself ends it with ERR_SORTFUNC.
// A deep CopyTable copies every table once, so tables that contain themselves are
// copied with the same shape instead of recursing without end.
// Dependencies: vm/lvvm.h, libs/table_engine.h, runtime/encoding.h, runtime/errors.h.
#include <string>

#include "libs/lib_core2.h"
#include "libs/table_engine.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/cmdsupport.h"

// ---- List lengths -------------------------------------------------------------------------------

// Items t[0], t[1], ... before the first nil; with emptyEnds an empty string ends the list too.
static int64_t CountListItems(lvState *L, int t, bool emptyEnds)
{
    int64_t n = 0;
    for (;; n++) {
        GetTableItemRaw(L, t, static_cast<int>(n));
        int type = GetValueType(L, -1);
        bool end = type == LV_TNIL || (emptyEnds && type == LV_TSTRING && ValueStringLength(L, -1) == 0);
        SetStackTop(L, -2);
        if (end || n >= INT32_MAX) return n;
    }
}

// The recorded size when there is one, else the counted length.
static int64_t GetListLength(lvState *L, int t)
{
    int n = GetStoredTableSize(L, t);
    return n >= 0 ? n : CountListItems(L, t, false);
}

// ---- Sort -------------------------------------------------------------------------------------------

struct lvTableSort {
    lvState *L;  // the machine
    int table;   // stack index of the list
    int cmp;     // stack index of the comparator, 0 for the machine's less-than
    int pivot;   // stack index of the slot that holds the pivot
};

static void PushSortItem(lvTableSort *s, int64_t index)
{
    if (index == SORT_PIVOT) PushCopy(s->L, s->pivot);
    else GetTableItemRaw(s->L, s->table, static_cast<int>(index));
}

static int SortLessThan(void *user, int64_t a, int64_t b, int *before)
{
    lvTableSort *s = static_cast<lvTableSort *>(user);
    lvState *L = s->L;
    if (s->cmp) {
        PushCopy(L, s->cmp);
        PushSortItem(s, a);
        PushSortItem(s, b);
        int code = CallFunction(L, 2, 1);
        if (code) return code;
        *before = NumberToInt64(ValueToNumber(L, -1)) != 0;
        SetStackTop(L, -2);
        return 0;
    }
    PushSortItem(s, a);
    PushSortItem(s, b);
    *before = ValueLessThan(L, -2, -1, 1);
    SetStackTop(L, -3);
    return 0;
}

static int SortSwap(void *user, int64_t a, int64_t b)
{
    lvTableSort *s = static_cast<lvTableSort *>(user);
    PushSortItem(s, a);
    PushSortItem(s, b);
    SetTableItemRaw(s->L, s->table, static_cast<int>(a));
    SetTableItemRaw(s->L, s->table, static_cast<int>(b));
    return 0;
}

static int SortHoldPivot(void *user, int64_t index)
{
    lvTableSort *s = static_cast<lvTableSort *>(user);
    PushSortItem(s, index);
    ReplaceValue(s->L, s->pivot);
    return 0;
}

static int CmdSort(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    bool withCmp = GetStackTop(L) >= 2 && GetValueType(L, 2) != LV_TNIL;
    if (withCmp) CheckFunctionArg(L, 2);
    SetStackTop(L, 2);
    if (!EnsureStackSpace(L, 40)) return ERR_STACK;
    PushNil(L);
    lvTableSort s = {L, 1, withCmp ? 2 : 0, GetStackTop(L)};
    lvSortOps ops = {&s, SortLessThan, SortSwap, SortHoldPivot};
    int code = SortList(&ops, CountListItems(L, 1, !withCmp));
    return code ? code : 0;
}

// ---- List items -------------------------------------------------------------------------------------

static int CmdInsertItem(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    CheckTableArg(L, 1);
    int64_t pos = NumberToInt64(GetOptionalNumberArg(L, 3, -1));
    SetStackTop(L, 2);
    int recorded = GetStoredTableSize(L, 1);
    int64_t n = recorded >= 0 ? recorded : CountListItems(L, 1, false);
    if (n >= INT32_MAX) return ERR_WRONGUSAGE;
    int64_t at = InsertItemPosition(n, pos);
    for (int64_t i = n; i > at; i--) {
        GetTableItemRaw(L, 1, static_cast<int>(i - 1));
        SetTableItemRaw(L, 1, static_cast<int>(i));
    }
    PushCopy(L, 2);
    SetTableItemRaw(L, 1, static_cast<int>(at));
    if (recorded >= 0) SetTableSize(L, 1, static_cast<int>(n + 1));
    return 0;
}

static int CmdRemoveItem(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    int64_t pos = NumberToInt64(GetOptionalNumberArg(L, 2, -1));
    SetStackTop(L, 1);
    int recorded = GetStoredTableSize(L, 1);
    int64_t n = recorded >= 0 ? recorded : CountListItems(L, 1, false);
    int64_t at = RemoveItemPosition(n, pos);
    if (at < 0) return 0;
    GetTableItemRaw(L, 1, static_cast<int>(at));
    for (int64_t i = at; i + 1 < n; i++) {
        GetTableItemRaw(L, 1, static_cast<int>(i + 1));
        SetTableItemRaw(L, 1, static_cast<int>(i));
    }
    PushNil(L);
    SetTableItemRaw(L, 1, static_cast<int>(n - 1));
    if (recorded >= 0) SetTableSize(L, 1, static_cast<int>(n - 1));
    return 1;
}

static int CmdListItems(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    PushNumber(L, static_cast<double>(GetListLength(L, 1)));
    return 1;
}

static int CmdUnpack(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    int64_t n = CountListItems(L, 1, false);
    if (n > INT32_MAX || !EnsureStackSpace(L, static_cast<int>(n))) return ERR_STACK;
    for (int64_t i = 0; i < n; i++) GetTableItemRaw(L, 1, static_cast<int>(i));
    return CountedResults(L, static_cast<int>(n));
}

static int CmdGetItem(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 1);
    int64_t i = NumberToInt64(CheckNumberArg(L, 2));
    if (i == -1) i = GetListLength(L, 1) - 1;
    if (i < INT32_MIN || i > INT32_MAX) {
        PushNil(L);
        return 1;
    }
    GetTableItemRaw(L, 1, static_cast<int>(i));
    return 1;
}

static int CmdCreateList(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNewTable(L);
    SetTableSize(L, -1, 0);
    return 1;
}

static int CmdSetListItems(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 1);
    int64_t n = NumberToInt64(CheckNumberArg(L, 2));
    if (n < 0 || n > INT32_MAX) return ERR_WRONGUSAGE;
    SetTableSize(L, 1, static_cast<int>(n));
    return 0;
}

static int CmdPack(lvState *L)
{
    int n = GetStackTop(L);
    PushNewSizedTable(L, n, 0);
    for (int i = 0; i < n; i++) {
        PushCopy(L, i + 1);
        SetTableItemRaw(L, -2, i);
    }
    return 1;
}

// ---- Metatables and raw access ---------------------------------------------------------------------------

// Pushes the "__metatable" field of the value's metatable, or nil; answers whether it is set.
static bool PushProtectionField(lvState *L, int index)
{
    if (!PushMetatable(L, index)) {
        PushNil(L);
        return false;
    }
    PushString(L, "__metatable");
    GetTableValueRaw(L, -2);
    RemoveValue(L, -2);
    return GetValueType(L, -1) != LV_TNIL;
}

static int CmdSetMetaTable(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 1);
    int type = GetValueType(L, 2);
    if (type != LV_TNIL && type != LV_TTABLE) return ERR_TABLEORNIL;
    bool protectedTable = PushProtectionField(L, 1);
    SetStackTop(L, -2);
    if (protectedTable) return ERR_PROTMETATABLE;
    SetStackTop(L, 2);
    AssignMetatable(L, 1);
    return 1;
}

static int CmdGetMetaTable(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    if (PushProtectionField(L, 1)) return 1;
    SetStackTop(L, -2);
    if (!PushMetatable(L, 1)) PushNil(L);
    return 1;
}

static int CmdRawEqual(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    PushNumber(L, ValuesIdentical(L, 1, 2) ? 1 : 0);
    return 1;
}

static int CmdRawGet(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 1);
    PushCopy(L, 2);
    GetTableValueRaw(L, 1);
    return 1;
}

static int CmdRawSet(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    CheckTableArg(L, 1);
    PushCopy(L, 2);
    PushCopy(L, 3);
    SetTableValueRaw(L, 1);
    PushCopy(L, 1);
    return 1;
}

// ---- Iteration --------------------------------------------------------------------------------------------

static int CmdIPairs(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    if (GetStackTop(L) < 2) {
        PushString(L, "ipairs");
        GetTableValueRaw(L, LV_GLOBALSINDEX);
        PushCopy(L, 1);
        PushNumber(L, -1);
        return 3;
    }
    int64_t i = NumberToInt64(CheckNumberArg(L, 2)) + 1;
    if (i < 0 || i > INT32_MAX) return 0;
    PushNumber(L, static_cast<double>(i));
    GetTableItemRaw(L, 1, static_cast<int>(i));
    return GetValueType(L, -1) == LV_TNIL ? 0 : 2;
}

static int CmdPairs(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    PushString(L, "nextitem");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    PushCopy(L, 1);
    PushNil(L);
    return 3;
}

static int CmdNextItem(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    SetStackTop(L, 2);
    if (NextTableEntry(L, 1)) return 2;
    PushNil(L);
    return 1;
}

// Calls f(key, value [, userdata]) at the stack top with the callback depth raised; answers
// 0 with the result pushed, or the call's error code.
static int CallEntryCallback(lvState *L, int f, int keyIndex, int valueIndex, bool withUser)
{
    PushCopy(L, f);
    PushCopy(L, keyIndex);
    PushCopy(L, valueIndex);
    if (withUser) PushCopy(L, 3);
    SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 1, 0);
    int code = ProtectedCall(L, withUser ? 3 : 2, 1, 0);
    SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 0, 0);
    return code;
}

static int CmdForEach(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    CheckTableArg(L, 1);
    CheckFunctionArg(L, 2);
    bool withUser = GetStackTop(L) >= 3;
    SetStackTop(L, 3);
    PushNil(L);
    while (NextTableEntry(L, 1)) {
        int top = GetStackTop(L);
        int code = CallEntryCallback(L, 2, top - 1, top, withUser);
        if (code) return code;
        if (GetValueType(L, -1) != LV_TNIL) return 1;
        SetStackTop(L, -3);  // result and value; the key stays for the next step
    }
    return 0;
}

static int CmdForEachI(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    CheckTableArg(L, 1);
    CheckFunctionArg(L, 2);
    bool withUser = GetStackTop(L) >= 3;
    SetStackTop(L, 3);
    for (int i = 0; i < INT32_MAX; i++) {
        GetTableItemRaw(L, 1, i);
        if (GetValueType(L, -1) == LV_TNIL) break;
        PushNumber(L, i);
        int top = GetStackTop(L);
        int code = CallEntryCallback(L, 2, top, top - 1, withUser);
        if (code) return code;
        if (GetValueType(L, -1) != LV_TNIL) return 1;
        SetStackTop(L, 3);
    }
    return 0;
}

// ---- Copies, joins, membership --------------------------------------------------------------------------

// Pushes a deep copy of the table at src. seen maps every table already copied to its copy,
// so a table reached twice (or through itself) is copied once. 0 or ERR_STACK when the
// nesting is deeper than the stack allows.
static int PushDeepCopy(lvState *L, int src, int seen)
{
    if (!EnsureStackSpace(L, 8)) return ERR_STACK;
    PushNewTable(L);
    int dst = GetStackTop(L);
    PushCopy(L, src);
    PushCopy(L, dst);
    SetTableValueRaw(L, seen);
    PushNil(L);
    while (NextTableEntry(L, src)) {
        if (GetValueType(L, -1) == LV_TTABLE) {
            PushCopy(L, -1);
            GetTableValueRaw(L, seen);
            if (GetValueType(L, -1) == LV_TNIL) {
                SetStackTop(L, -2);
                int code = PushDeepCopy(L, GetStackTop(L), seen);
                if (code) return code;
            }
            ReplaceValue(L, -2);
        }
        PushCopy(L, -2);
        InsertValue(L, -2);
        SetTableValueRaw(L, dst);
    }
    return 0;
}

static int CmdCopyTable(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    CheckTableArg(L, 1);
    bool shallow = NumberToInt64(GetOptionalNumberArg(L, 2, 0)) != 0;
    SetStackTop(L, 1);
    if (shallow) {
        PushNewTable(L);
        PushNil(L);
        while (NextTableEntry(L, 1)) {
            PushCopy(L, -2);
            InsertValue(L, -2);
            SetTableValueRaw(L, 2);
        }
        return 1;
    }
    PushNewTable(L);  // 2: tables copied so far
    int code = PushDeepCopy(L, 1, 2);
    return code ? code : 1;
}

static int CmdConcat(lvState *L)
{
    CheckArgCount(L, 1, 4, 0, 0);
    CheckTableArg(L, 1);
    size_t sepLength = 0;
    const char *sep = GetOptionalStringArg(L, 2, "", &sepLength);
    int64_t first = NumberToInt64(GetOptionalNumberArg(L, 3, 0));
    bool lastGiven = GetStackTop(L) >= 4 && GetValueType(L, 4) != LV_TNIL;
    int64_t lastArg = lastGiven ? NumberToInt64(CheckNumberArg(L, 4)) : 0;
    int64_t last = ConcatLastIndex(CountListItems(L, 1, false), lastArg, lastGiven);
    if (first < INT32_MIN) first = INT32_MIN;
    if (last > INT32_MAX) last = INT32_MAX;
    lvStringBuffer b;
    InitStringBuffer(L, &b);
    for (int64_t i = first; i <= last; i++) {
        GetTableItemRaw(L, 1, static_cast<int>(i));
        int type = GetValueType(L, -1);
        if (type != LV_TSTRING && type != LV_TNUMBER) return ERR_STRINGEXPECTED;
        AppendBufferValue(&b);
        if (i < last) AppendBufferBytes(&b, sep, sepLength);
    }
    FinishStringBuffer(&b);
    return 1;
}

static int CmdHaveItem(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    CheckTableArg(L, 1);
    if (GetValueType(L, 2) == LV_TSTRING) {
        size_t length = 0;
        const char *key = ValueToString(L, 2);
        length = ValueStringLength(L, 2);
        std::string lower(key, length);
        LowerStrInPlace(lower.data());
        PushSizedString(L, lower.c_str(), std::char_traits<char>::length(lower.c_str()));
    } else {
        PushCopy(L, 2);
    }
    GetTableValueRaw(L, 1);
    PushNumber(L, GetValueType(L, -1) != LV_TNIL ? 1 : 0);
    return 1;
}

static int CmdTableItems(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    int n = GetStoredTableSize(L, 1);
    double count = n;
    if (n < 0) {
        count = 0;
        PushNil(L);
        while (NextTableEntry(L, 1)) {
            SetStackTop(L, -2);
            count++;
        }
    }
    PushNumber(L, count);
    return 1;
}

static int CmdIsTableEmpty(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    CheckTableArg(L, 1);
    PushNil(L);
    bool empty = !NextTableEntry(L, 1);
    SetStackTop(L, 1);
    PushNumber(L, empty ? 1 : 0);
    return 1;
}

// ---- Library -------------------------------------------------------------------------------------------

static const lvCommandEntry TableCommands[] = {
    {"Sort", CmdSort},
    {"InsertItem", CmdInsertItem},
    {"RemoveItem", CmdRemoveItem},
    {"ListItems", CmdListItems},
    {"Unpack", CmdUnpack},
    {"SetMetaTable", CmdSetMetaTable},
    {"GetMetaTable", CmdGetMetaTable},
    {"RawEqual", CmdRawEqual},
    {"RawGet", CmdRawGet},
    {"RawSet", CmdRawSet},
    {"IPairs", CmdIPairs},
    {"Pairs", CmdPairs},
    {"NextItem", CmdNextItem},
    {"CopyTable", CmdCopyTable},
    {"ForEach", CmdForEach},
    {"ForEachI", CmdForEachI},
    {"Concat", CmdConcat},
    {"HaveItem", CmdHaveItem},
    {"HasItem", CmdHaveItem},
    {"TableItems", CmdTableItems},
    {"IsTableEmpty", CmdIsTableEmpty},
    {"Pack", CmdPack},
    {"CreateList", CmdCreateList},
    {"SetListItems", CmdSetListItems},
    {"GetItem", CmdGetItem},
    {nullptr, nullptr},
};

const lvCommandEntry *GetTableCommands(void) { return TableCommands; }

int OpenTableLibrary(lvState *L)
{
    return RegisterCommandTable(L, TableCommands, "table");
}
