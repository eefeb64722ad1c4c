// cmdsupport.cpp - command runtime support over the machine's stack interface: argument
// counts, identifiers, percent arguments, option tables, user tags, run records, command
// lists, calls by name and the debug output channel.
//
// Depends on: vm/lvvm.h, runtime/errors.h (message arguments), runtime/random.h (percent
// texts), runtime/encoding.h (UTF-8 counts, case), runtime/container.h (applet version).
// Limits: command lists hold pointers to static tables; names are cut to 63 bytes.
#include "runtime/cmdsupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/lvplatform.h"
#include "runtime/config.h"
#include "runtime/container.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "runtime/random.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"

// ==== Small helpers ==========================================================================

// An index that stays valid while values are pushed.
static int AbsoluteIndex(lvState *L, int index)
{
    if (index < 0 && index > LV_REGISTRYINDEX) return GetStackTop(L) + index + 1;
    return index;
}

[[noreturn]] static void RaiseWithNumber(lvState *L, int code, int number)
{
    SetErrorNumberArg(number);
    RaiseError(L, code);
}

[[noreturn]] static void RaiseWithText(lvState *L, int code, const char *text)
{
    SetErrorStringArg(text ? text : "");
    RaiseError(L, code);
}

static int TruncateToInt(double d)
{
    int64_t v = NumberToInt64(d);
    if (v > INT32_MAX || v < INT32_MIN) return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(v)));
    return static_cast<int>(v);
}

// ==== Argument checks ============================================================================

lvState *CheckArgCount(lvState *L, int min, int max, int major, int minor)
{
    int n = GetStackTop(L);
    if (min == 0 && max == 0 && n > 0) RaiseError(L, ERR_TOOMANYARGS);
    if (n < min) RaiseError(L, ERR_MISSINGPARAMTR);
    if (max > 0 && n > max) RaiseError(L, ERR_TOOMANYARGS);
    if (major != 0) {
        lvAppletRecord *record = GetAppletRecord(L);
        if (record && !CheckAppletVersion(record, major, minor)) {
            char version[32];
            std::snprintf(version, sizeof version, "%d.%d", major, minor);
            RaiseWithText(L, ERR_OLDAPPLET, version);
        }
    }
    return L;
}

lvObjectId GetObjectIdArg(lvState *L, int index)
{
    lvObjectId id = {0, nullptr};
    if (GetValueType(L, index) == LV_TPOINTER) {
        id.handle = GetUserDataPointer(L, index);
        return id;
    }
    id.number = TruncateToInt(CheckNumberArg(L, index));
    return id;
}

int GetIntArgOrNil(lvState *L, int index, int *isNil)
{
    int t = GetValueType(L, index);
    if (t == LV_TNIL || t == LV_TNONE) {
        *isNil = 1;
        return 0;
    }
    *isNil = 0;
    return TruncateToInt(CheckNumberArg(L, index));
}

const char *GetStringArgLength(lvState *L, int index, size_t *lengthOut, int encoding, size_t *byteLengthOut)
{
    size_t bytes = 0;
    const char *text = CheckStringArg(L, index, &bytes);
    size_t length = bytes;
    if (encoding == 1) {
        int invalid = 0;
        length = CountUtf8CharsChecked(text, bytes, &invalid);
        if (invalid) RaiseWithNumber(L, ERR_INVALIDUTF8ARG, index);
    }
    if (lengthOut) *lengthOut = length;
    if (byteLengthOut) *byteLengthOut = bytes;
    return text;
}

double GetNumberOrPercentArg(lvState *L, int index, double base, int allowAbove100, int *isPercentOut)
{
    int percent = 0;
    if (isPercentOut) *isPercentOut = 0;
    switch (GetValueType(L, index)) {
    case LV_TNUMBER: return ValueToNumber(L, index);
    case LV_TNIL:
    case LV_TNONE: return CheckNumberArg(L, index);
    case LV_TSTRING: {
        double value = 0;
        if (ParseNumberOrPercent(ValueToString(L, index), base, allowAbove100, &percent, &value) != 0)
            RaiseWithNumber(L, ERR_PERCENTFORMAT, index);
        if (isPercentOut) *isPercentOut = percent;
        return value;
    }
    default: RaiseWithNumber(L, ERR_STRORNUM, index);
    }
}

// ==== Option tables ================================================================================

// Pushes table[name]; false (nothing pushed) when it is nil.
static bool PushField(lvState *L, int index, const char *name, int *present)
{
    index = AbsoluteIndex(L, index);
    PushString(L, name);
    GetTableValue(L, index);
    if (GetValueType(L, -1) == LV_TNIL) {
        SetStackTop(L, -2);
        if (present) *present = 0;
        return false;
    }
    if (present) *present = 1;
    return true;
}

static void PopField(lvState *L) { SetStackTop(L, -2); }

bool GetFieldInt(lvState *L, int index, const char *name, int *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    *out = TruncateToInt(CheckNumberField(L, -1, name));
    PopField(L);
    return true;
}

bool GetFieldNumber(lvState *L, int index, const char *name, double *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    *out = CheckNumberField(L, -1, name);
    PopField(L);
    return true;
}

bool GetFieldBool(lvState *L, int index, const char *name, int *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    *out = CheckIntegerField(L, -1, name);
    PopField(L);
    return true;
}

bool GetFieldStringDup(lvState *L, int index, const char *name, char **out, size_t *lengthOut, int flags,
                       int *present)
{
    if (!PushField(L, index, name, present)) return false;
    size_t length = 0;
    const char *text = CheckStringField(L, -1, &length, name);
    if (flags & (LV_FIELD_LINKED | LV_FIELD_LINKED_FONT)) {
        const char *resolved = ResolveLinkedFileName(L, text, (flags & LV_FIELD_LINKED_FONT) ? 1 : 0, nullptr);
        if (resolved != text) {
            text = resolved;
            length = std::strlen(resolved);
        }
    }
    char *copy = static_cast<char *>(AllocMemory(length + 1, 0));
    if (copy) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
        *out = copy;
        if (lengthOut) *lengthOut = length;
    }
    PopField(L);
    return copy != nullptr;
}

bool GetFieldStringBuf(lvState *L, int index, const char *name, char *buffer, size_t size, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    CopyStrBounded(buffer, size, CheckStringField(L, -1, nullptr, name));
    PopField(L);
    return true;
}

bool GetFieldObjectId(lvState *L, int index, const char *name, lvObjectId *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    lvObjectId id = {0, nullptr};
    if (GetValueType(L, -1) == LV_TPOINTER) id.handle = GetUserDataPointer(L, -1);
    else id.number = TruncateToInt(CheckNumberField(L, -1, name));
    *out = id;
    PopField(L);
    return true;
}

bool GetFieldNumberOrPercent(lvState *L, int index, const char *name, double base, int allowAbove100,
                             double *out, int *isPercentOut, int *present)
{
    int argument = AbsoluteIndex(L, index);
    if (!PushField(L, index, name, present)) return false;
    int percent = 0;
    double value = 0;
    switch (GetValueType(L, -1)) {
    case LV_TNUMBER: value = ValueToNumber(L, -1); break;
    case LV_TSTRING:
        if (ParseNumberOrPercent(ValueToString(L, -1), base, allowAbove100, &percent, &value) != 0)
            RaiseWithNumber(L, ERR_PERCENTFORMAT, argument);
        break;
    default: RaiseWithNumber(L, ERR_STRORNUM, argument);
    }
    *out = value;
    if (isPercentOut) *isPercentOut = percent;
    PopField(L);
    return true;
}

bool GetFieldIntOrPercent(lvState *L, int index, const char *name, int allowAbove100, int *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    if (GetValueType(L, -1) == LV_TSTRING) {
        const char *text = ValueToString(L, -1);
        double number = 0;
        if (std::strchr(text, '%')) {
            int value = 0;
            if (ParseIntPercentText(text, allowAbove100, &value) != 0) RaiseWithText(L, ERR_PERCENTFORMATSTR, name);
            *out = value;
        } else if (StringToNumber(text, ValueStringLength(L, -1), &number)) {
            *out = TruncateToInt(number);
        } else {
            RaiseWithText(L, ERR_PERCENTFORMATSTR, name);
        }
    } else {
        *out = TruncateToInt(CheckNumberField(L, -1, name));
    }
    PopField(L);
    return true;
}

bool GetFieldRef(lvState *L, int index, const char *name, int *refOut, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    *refOut = CreateReference(L, LV_REGISTRYINDEX);
    return true;
}

bool GetFieldFunctionRef(lvState *L, int index, const char *name, int *refOut, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    if (GetValueType(L, -1) != LV_TFUNCTION) RaiseWithText(L, ERR_FUNCTABLEARG, name);
    *refOut = CreateReference(L, LV_REGISTRYINDEX);
    return true;
}

bool GetFieldRect(lvState *L, int index, const char *name, double out[4], int *present)
{
    if (!PushField(L, index, name, present)) return false;
    if (GetValueType(L, -1) != LV_TTABLE) RaiseWithText(L, ERR_TABEXPECTED2, name);
    double values[4];
    for (int i = 0; i < 4; i++) {
        GetTableItemRaw(L, -1, i);
        int t = GetValueType(L, -1);
        if (t == LV_TNIL) RaiseWithText(L, ERR_MISSINGPARAMTR, name);
        if (t != LV_TNUMBER) RaiseWithText(L, ERR_NUMTABLEARG, name);
        values[i] = ValueToNumber(L, -1);
        SetStackTop(L, -2);
    }
    std::memcpy(out, values, sizeof values);
    PopField(L);
    return true;
}

bool GetFieldSwitch(lvState *L, int index, const char *name, bool *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    int type = GetValueType(L, -1);
    if (type == LV_TBOOLEAN) *out = ValueToBoolean(L, -1) != 0;
    else if (type == LV_TNUMBER) *out = ValueToNumber(L, -1) != 0;
    else RaiseError(L, ERR_WRONGUSAGE);
    PopField(L);
    return true;
}

bool IsFieldOn(lvState *L, int index, const char *name)
{
    if (!PushField(L, index, name, nullptr)) return false;
    bool on;
    switch (GetValueType(L, -1)) {
    case LV_TNUMBER: on = ValueToNumber(L, -1) != 0; break;
    case LV_TSTRING: on = ValueStringLength(L, -1) > 0 && ValueToString(L, -1)[0] != 0; break;
    default: on = ValueToBoolean(L, -1) != 0; break;
    }
    PopField(L);
    return on;
}

bool GetFieldInt64(lvState *L, int index, const char *name, long long *out, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    if (GetValueType(L, -1) != LV_TNUMBER) RaiseError(L, ERR_NUMEXPECTED);
    *out = NumberToInt64(ValueToNumber(L, -1));
    PopField(L);
    return true;
}

bool GetFieldText(lvState *L, int index, const char *name, char *buffer, size_t limit, int *present)
{
    if (!PushField(L, index, name, present)) return false;
    int type = GetValueType(L, -1);
    if (type != LV_TSTRING && type != LV_TNUMBER) RaiseError(L, ERR_STREXPECTED);
    const char *text = ValueToString(L, -1);
    size_t length = ValueStringLength(L, -1);
    if (length > limit) RaiseError(L, ERR_WRONGUSAGE);
    std::memcpy(buffer, text, length);
    buffer[length] = 0;
    PopField(L);
    return true;
}

int PushFieldValue(lvState *L, int index, const char *name)
{
    index = AbsoluteIndex(L, index);
    PushString(L, name);
    GetTableValue(L, index);
    return GetValueType(L, -1);
}

int ReadFieldInt(lvState *L, int index, const char *name, int *out, int *present)
{
    if (!PushField(L, index, name, present)) return 0;
    int code = 0;
    if (GetValueType(L, -1) != LV_TNUMBER && !CanConvertToNumber(L, -1)) code = ERR_NUMEXPECTED;
    else *out = int(ValueToNumber(L, -1));
    PopField(L);
    return code;
}

int ReadFieldString(lvState *L, int index, const char *name, char *buffer, size_t size, size_t *lengthOut)
{
    if (!PushField(L, index, name, nullptr)) return 0;
    int answer = 1;
    if (GetValueType(L, -1) == LV_TSTRING) {
        if (buffer && size) std::snprintf(buffer, size, "%s", ValueToString(L, -1));
        if (lengthOut) *lengthOut = ValueStringLength(L, -1);
    } else {
        answer = ERR_STRINGEXPECTED;
    }
    PopField(L);
    return answer;
}

void SetFieldNumber(lvState *L, const char *name, double value)
{
    PushString(L, name);
    PushNumber(L, value);
    SetTableValue(L, -3);
}

void SetFieldInt(lvState *L, const char *name, int value) { SetFieldNumber(L, name, value); }
void SetFieldUInt(lvState *L, const char *name, uint32_t value) { SetFieldNumber(L, name, value); }

void SetFieldString(lvState *L, const char *name, const char *value)
{
    PushString(L, name);
    PushString(L, value ? value : "");
    SetTableValue(L, -3);
}

void PushObjectId(lvState *L, lvObjectId id)
{
    if (id.handle) PushPointer(L, id.handle);
    else PushNumber(L, id.number);
}

void SetFieldObjectId(lvState *L, const char *name, lvObjectId id)
{
    PushString(L, name);
    PushObjectId(L, id);
    SetTableValue(L, -3);
}

// ==== User tags ================================================================================

static bool IsKnownName(const char *key, const char *const *known)
{
    for (; *known; known++)
        if (StrCmpNoCase(key, *known) == 0) return true;
    return false;
}

int ReadUserTags(lvState *L, int index, const char *fieldName, const char *const *knownNames, lvUserTag **listOut)
{
    *listOut = nullptr;
    index = AbsoluteIndex(L, index);
    int top = GetStackTop(L);
    int table = index;
    if (!knownNames) {
        PushString(L, fieldName ? fieldName : "usertags");
        GetTableValue(L, index);
        int t = GetValueType(L, -1);
        if (t == LV_TNIL) {
            SetStackTop(L, top);
            return 0;
        }
        if (t != LV_TTABLE) {
            SetStackTop(L, top);
            return ERR_WRONGUSAGE;
        }
        table = GetStackTop(L);
    }
    lvUserTag *list = nullptr;
    int result = 0;
    PushNil(L);
    while (NextTableEntry(L, table)) {
        // key at -2, value at -1
        if (GetValueType(L, -2) != LV_TSTRING) {
            result = ERR_WRONGUSAGE;
            break;
        }
        const char *key = ValueToString(L, -2);
        if (knownNames && IsKnownName(key, knownNames)) {
            SetStackTop(L, -2);
            continue;
        }
        lvUserTag *tag = nullptr;
        int vt = GetValueType(L, -1);
        if (vt == LV_TNUMBER) tag = NewUserTag(key, nullptr, 0, ValueToNumber(L, -1));
        else if (vt == LV_TSTRING) tag = NewUserTag(key, ValueToString(L, -1), ValueStringLength(L, -1), 0);
        else {
            result = ERR_WRONGUSAGE;
            break;
        }
        if (!tag) {
            result = ERR_MEM;
            break;
        }
        AppendUserTag(&list, tag);
        SetStackTop(L, -2);
    }
    SetStackTop(L, top);
    if (result != 0) {
        FreeUserTags(list, 0);
        return result;
    }
    *listOut = list;
    return 0;
}

void PushUserTags(lvState *L, const lvUserTag *list)
{
    if (!list) return;
    PushString(L, "usertags");
    PushNewTable(L);
    char name[256];
    for (const lvUserTag *tag = list; tag; tag = tag->next) {
        CopyStrBounded(name, sizeof name, tag->name);
        GetVMHost()->LowerStrInPlace(name);
        PushString(L, name);
        if (tag->string) PushSizedString(L, tag->string, tag->length);
        else PushNumber(L, tag->number);
        SetTableValue(L, -3);
    }
    SetTableValue(L, -3);
}

// ==== Run records ================================================================================

static lvState *g_mainState;

void SetMainVMState(lvState *L) { g_mainState = L; }
lvState *GetMainVMState() { return g_mainState; }

static int CopyRegistryValueRef(void *context, int ref)
{
    lvState *L = static_cast<lvState *>(context);
    GetTableItemRaw(L, LV_REGISTRYINDEX, ref);
    return CreateReference(L, LV_REGISTRYINDEX);
}

static void ReleaseRegistryValueRef(void *context, int ref)
{
    if (ref >= 0) ReleaseReference(static_cast<lvState *>(context), LV_REGISTRYINDEX, ref);
}

lvRefOps MakeRegistryRefOps(lvState *L)
{
    return lvRefOps{L, CopyRegistryValueRef, ReleaseRegistryValueRef};
}

lvRuntimeConfig *GetClargsRecord(lvState *L)
{
    if (!L) L = g_mainState;
    return L ? static_cast<lvRuntimeConfig *>(GetRegistryPointer(L, "clargs")) : nullptr;
}

lvAppletRecord *GetAppletRecord(lvState *L)
{
    if (!L) L = g_mainState;
    return L ? static_cast<lvAppletRecord *>(GetRegistryPointer(L, "applet")) : nullptr;
}

// ==== Command lists ===============================================================================

// One registered library command table.
struct lvCommandList {
    lvCommandList *next;          // next list in registration order
    const lvCommandEntry *table;  // the library's command table
    char libraryName[64];         // the library's name
};

static lvCommandList *g_commandLists;

int RegisterCommandList(const lvCommandEntry *table, const char *libraryName)
{
    lvCommandList *node = static_cast<lvCommandList *>(AllocMemory(sizeof(lvCommandList), 1));
    if (!node) return ERR_MEM;
    node->table = table;
    CopyStrBounded(node->libraryName, sizeof node->libraryName, libraryName ? libraryName : "");
    lvCommandList **tail = &g_commandLists;
    while (*tail) tail = &(*tail)->next;
    *tail = node;
    return 0;
}

static const lvCommandEntry *FindCommandEntry(const char *name, const lvCommandList **listOut)
{
    if (!name) return nullptr;
    for (const lvCommandList *list = g_commandLists; list; list = list->next)
        for (const lvCommandEntry *e = list->table; e->name; e++)
            if (StrCmpNoCase(e->name, name) == 0) {
                if (listOut) *listOut = list;
                return e;
            }
    return nullptr;
}

const char *FindCommandName(const char *name)
{
    const lvCommandEntry *e = FindCommandEntry(name, nullptr);
    return e ? e->name : nullptr;
}

const char *FindCommandLibrary(const char *name)
{
    const lvCommandList *list = nullptr;
    return FindCommandEntry(name, &list) ? list->libraryName : nullptr;
}

void FreeRuntimeLists()
{
    while (g_commandLists) {
        lvCommandList *next = g_commandLists->next;
        FreeMemory(g_commandLists);
        g_commandLists = next;
    }
    FreeUserErrorMessages();
}

int RegisterCommandTable(lvState *L, const lvCommandEntry *table, const char *libraryName)
{
    PushCopy(L, LV_GLOBALSINDEX);
    RegisterLibrary(L, nullptr, table, 0);
    SetStackTop(L, -2);
    return RegisterCommandList(table, libraryName);
}

// The body of CallCommandByName, run protected so that a raised code comes back as a value.
struct lvCallByName {
    int argumentCount;  // arguments already pushed above the function
    int resultCount;    // results to keep, -1 for all
    int code;           // a code the command answered instead of results
};

static void CallPushed(lvState *L, void *data)
{
    lvCallByName *call = static_cast<lvCallByName *>(data);
    call->code = CallFunction(L, call->argumentCount, call->resultCount);
}

int CallCommandByName(lvState *L, const char *name, int resultCount, int argumentCount, ...)
{
    char lower[64];
    CopyStrBounded(lower, sizeof lower, name);
    GetVMHost()->LowerStrInPlace(lower);
    int top = GetStackTop(L);
    EnsureStackSpace(L, argumentCount + 2);
    PushString(L, lower);
    GetTableValue(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg(lower);
        return ERR_UNKNOWNCMD;
    }
    va_list args;
    va_start(args, argumentCount);
    for (int i = 0; i < argumentCount; i++) {
        switch (va_arg(args, int)) {
        case LV_CALLARG_INT: PushNumber(L, va_arg(args, int)); break;
        case LV_CALLARG_UNSIGNED: PushNumber(L, va_arg(args, unsigned int)); break;
        case LV_CALLARG_STRING: PushString(L, va_arg(args, const char *)); break;
        case LV_CALLARG_POINTER: PushPointer(L, va_arg(args, void *)); break;
        case LV_CALLARG_OBJECTID: PushObjectId(L, *va_arg(args, lvObjectId *)); break;
        case LV_CALLARG_NIL:
        default: PushNil(L); break;
        }
    }
    va_end(args);
    lvCallByName call = {argumentCount, resultCount, 0};
    int code = RunProtected(L, CallPushed, &call);
    if (code == 0) code = call.code;
    if (code != 0) SetStackTop(L, top);
    return code;
}

// ==== Debug output ==================================================================================

// The debug channel takes NUL-terminated texts: longer pieces go through a copy.
static void WriteDebugChannel(const char *text, size_t length)
{
    if (text[length] == 0 && std::strlen(text) == length) {
        WriteDebugText(text);
        return;
    }
    std::string copy(text, length);
    WriteDebugText(copy.c_str());
}

static lvOutputSink g_outputSink = WriteDebugChannel;

lvOutputSink SetOutputSink(lvOutputSink sink)
{
    lvOutputSink previous = g_outputSink;
    g_outputSink = sink ? sink : WriteDebugChannel;
    return previous;
}

void PrintOutputBytes(const char *text, size_t length) { g_outputSink(text, length); }
void PrintOutput(const char *text) { g_outputSink(text, std::strlen(text)); }

static bool ReadStandardLine(char *buffer, size_t size)
{
    if (size == 0) return false;
    if (!std::fgets(buffer, static_cast<int>(size), stdin)) {
        buffer[0] = 0;
        return false;
    }
    size_t n = std::strlen(buffer);
    while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r')) buffer[--n] = 0;
    return true;
}

static int ReadStandardKey()
{
    int c = std::fgetc(stdin);
    return c == EOF ? -1 : c;
}

static const lvConsoleInput kStandardInput = {ReadStandardLine, ReadStandardKey, nullptr};
static lvConsoleInput g_consoleInput = kStandardInput;

void SetConsoleInput(const lvConsoleInput *input)
{
    g_consoleInput = kStandardInput;
    if (!input) return;
    if (input->ReadLine) g_consoleInput.ReadLine = input->ReadLine;
    if (input->ReadKey) g_consoleInput.ReadKey = input->ReadKey;
    g_consoleInput.PollKey = input->PollKey;
}

const lvConsoleInput *GetConsoleInput() { return &g_consoleInput; }

// ==== Texts ==========================================================================================

void PushSubString(lvState *L, const char *text, size_t textLength, size_t start, size_t length, int encoding)
{
    size_t from = start, to;
    if (encoding == 1) {
        // Walk the characters within the text's bytes.
        const char *end = text + textLength;
        const char *p = text;
        for (size_t i = 0; i < start && p < end; i++) p = NextUtf8Char(p, end);
        const char *q = p;
        for (size_t i = 0; i < length && q < end; i++) q = NextUtf8Char(q, end);
        from = static_cast<size_t>(p - text);
        to = static_cast<size_t>(q - text);
    } else {
        if (from > textLength) from = textLength;
        to = length > textLength - from ? textLength : from + length;
    }
    PushSizedString(L, text + from, to - from);
}

void PushLowerCaseArg(lvState *L, int index, int encoding)
{
    size_t bytes = 0;
    const char *text = GetStringArgLength(L, index, nullptr, encoding, &bytes);
    size_t length = 0;
    char *lower = ChangeCaseCopy(text, bytes, encoding == 1 ? 1 : 0, 0, &length);
    if (!lower) RaiseError(L, ERR_MEM);
    // Copied into the machine before the buffer goes: a failing push must not leak it.
    std::string copy(lower, length);
    FreeMemory(lower);
    PushSizedString(L, copy.data(), copy.size());
}

static bool LookupMachineConstant(void *context, const char *name, const char **stringOut, double *numberOut)
{
    return LookupConstant(static_cast<lvState *>(context), name, stringOut, numberOut) != 0;
}

int ParseScriptConstantRef(lvState *L, const char *text, size_t *consumedOut, const char **stringOut,
                           double *numberOut)
{
    return ParseConstantRef(text, LookupMachineConstant, L, consumedOut, stringOut, numberOut);
}

// ==== Linked files =====================================================================================

static char g_linkedName[1024];

// True when text ends with the suffix (case ignored).
static bool EndsWithNoCase(const char *text, const char *suffix)
{
    size_t n = std::strlen(text), m = std::strlen(suffix);
    return n >= m && StrCmpNoCase(text + n - m, suffix) == 0;
}

const char *ResolveLinkedFileName(lvState *L, const char *name, int fontMode, int *linkedOut)
{
    static const char kFontPrefix[] = "::font:";
    const size_t prefixLength = sizeof kFontPrefix - 1;
    if (linkedOut) *linkedOut = 0;
    lvAppletRecord *record = GetAppletRecord(L);
    if (!record || !name) return name;
    if (fontMode && (EndsWithNoCase(name, ".ttf") || EndsWithNoCase(name, ".otf"))) fontMode = 0;
    // The font form compares without a ".font" extension.
    char wanted[1024];
    CopyStrBounded(wanted, sizeof wanted, name);
    if (fontMode && EndsWithNoCase(wanted, ".font")) wanted[std::strlen(wanted) - 5] = 0;
    for (const lvLinkedFile *f = record->linkedFiles; f; f = f->next) {
        bool isFont = StrNCmpNoCase(f->name, kFontPrefix, prefixLength) == 0;
        bool match = fontMode ? isFont && StrCmpNoCase(f->name + prefixLength, wanted) == 0
                              : !isFont && PathsEqual(f->name, name);
        if (!match) continue;
        // Files linked into the applet itself sit behind the appended blocks of a linked run.
        const lvRuntimeConfig *config = GetClargsRecord(L);
        int64_t offset = f->offset;
        const char *container = f->containerPath;
        if (!container[0]) {
            container = config ? config->appletPath : "";
            offset += GetStartupState()->blockOffset;
        }
        if (!MakeChunkName(FindFilePart(fontMode ? f->name + prefixLength : f->name), g_linkedName,
                           sizeof g_linkedName, nullptr, offset, f->size, 0, container))
            return name;
        if (linkedOut) *linkedOut = fontMode;
        return g_linkedName;
    }
    return name;
}

const char *GetLinkedFileArg(lvState *L, int index, int fontMode, int *linkedOut)
{
    return ResolveLinkedFileName(L, CheckStringArg(L, index, nullptr), fontMode, linkedOut);
}

// ==== Status lines and temporary names ====================================================================

void PrintStatusLine(const char *format, const char *path, int ellipsis)
{
    if (GetRuntimeSwitches()->quiet) return;
    char text[512];
    BuildStatusLineText(format, path, ellipsis, text, sizeof text);
    PrintOutput(text);
}

static void PrintStatusWord(int index)
{
    if (GetRuntimeSwitches()->quiet) return;
    const char *word = GetMessageString(index);
    PrintOutput(word ? word : "");
    PrintOutput("\n");
}

void PrintStatusDone() { PrintStatusWord(LV_MSG_DONE); }
void PrintStatusFailed() { PrintStatusWord(LV_MSG_FAILED); }

bool MakeTempFileName(char *buffer, size_t size, const char *likeName)
{
    char path[LV_PATH_SIZE];
    if (!CreateTempFileName(path, sizeof path)) return false;
    DeleteFSObject(path);
    char extension[256] = "";
    if (likeName && IsChunkName(likeName)) {
        // The extension of the file name the chunk name embeds.
        char embedded[256] = "";
        ParseChunkName(likeName, nullptr, nullptr, nullptr, embedded, sizeof embedded, nullptr, 0, nullptr, 0, nullptr);
        const char *dot = std::strrchr(embedded, '.');
        if (dot) CopyStrBounded(extension, sizeof extension, dot);
    } else if (likeName) {
        const char *file = FindFilePart(likeName);
        const char *dot = std::strrchr(file, '.');
        if (dot) CopyStrBounded(extension, sizeof extension, dot);
    }
    if (!CopyStrBounded(buffer, size, path)) return false;
    return AppendStrBounded(buffer, size, extension);
}
