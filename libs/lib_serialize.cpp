// lib_serialize.cpp - the serialize library: tables and functions to and from open
// files and strings, the serialize mode and options, Base64 strings.
//
// Depends on: libs/serialize_engine.h (formats and serializers), libs/lib_core4.h
// (open files come from the dos library through its hook). Commands check their
// arguments first and answer error codes; a failed read leaves no table behind.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "libs/json_engine.h"
#include "libs/lib_core4.h"
#include "runtime/cmdsupport.h"
#include "libs/serialize_engine.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"

// ============================================================================
// Hooks and argument helpers
// ============================================================================

static int NoFile(lvState *, int, lvVFile **, int *, int *, int *) { return ERR_FINDFILE; }
static int NoCarriageReturn(void) { return 0; }

static lvSerializeFileHooks gFileHooks = {NoFile, NoCarriageReturn};

void SetSerializeFileHooks(const lvSerializeFileHooks *hooks)
{
    gFileHooks.FindFile = hooks && hooks->FindFile ? hooks->FindFile : NoFile;
    gFileHooks.UseCarriageReturn = hooks && hooks->UseCarriageReturn ? hooks->UseCarriageReturn : NoCarriageReturn;
}

// The options of a table argument; the serializer name is kept in name.
struct lvSerializeCall {
    lvSerializeOptions options;  // what goes to the serializer
    std::string name;            // the serializer name read from "adapter"
    int textmode;                // WriteTable: Base64 text form
    int noLineBreak;             // WriteTable: one long line
    lvUserTag *tags = nullptr;   // the "usertags" option, handed to the serializer
    ~lvSerializeCall() { FreeUserTags(tags, 0); }
};

static void InitCall(lvSerializeCall *c)
{
    InitSerializeOptions(&c->options);
    char list[256];
    c->name = CopyDefaultAdapter(list, sizeof list, 2) ? list : "";
    c->textmode = 0;
    c->noLineBreak = 0;
}

static int ReadOptions(lvState *L, int index, lvSerializeCall *c, bool fileOptions)
{
    int rc;
    if (fileOptions) {
        if ((rc = ReadFieldInt(L, index, "textmode", &c->textmode))) return rc;
        if ((rc = ReadFieldInt(L, index, "nolinebreak", &c->noLineBreak))) return rc;
    }
    int modeGiven = 0;
    if ((rc = ReadFieldInt(L, index, "mode", &c->options.mode, &modeGiven))) return rc;
    if (modeGiven) c->options.modeSet = 1;
    if ((rc = ReadFieldInt(L, index, "srcencoding", &c->options.srcEncoding))) return rc;
    if ((rc = ReadFieldInt(L, index, "dstencoding", &c->options.dstEncoding))) return rc;
    if ((rc = CheckSerializeEncodings(&c->options))) return rc;
    if ((rc = ReadUserTags(L, index, "usertags", nullptr, &c->tags))) return rc;
    c->options.userTags = c->tags;
    int type = PushFieldValue(L, index, "options");
    if (type != LV_TNIL) {
        if (type != LV_TTABLE) return ERR_TABEXPECTED;
        if ((rc = ReadFieldInt(L, GetStackTop(L), "nolowercase", &c->options.noLowerCase))) return rc;
        c->options.noLowerCase = c->options.noLowerCase ? 1 : 0;
    }
    SetStackTop(L, -2);
    char adapter[256];
    if (ReadFieldString(L, index, "adapter", adapter, sizeof adapter, nullptr) == 1) c->name = adapter;
    return 0;
}

// ============================================================================
// Tables
// ============================================================================

static int CmdWriteTable(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    int rc = 0;
    CheckTableArg(L, 2);
    lvSerializeCall c;
    InitCall(&c);
    if (GetValueType(L, 3) == LV_TTABLE) {
        if ((rc = ReadOptions(L, 3, &c, true))) return rc;
    } else {
        c.textmode = int(GetOptionalNumberArg(L, 3, 0));
        c.noLineBreak = int(GetOptionalNumberArg(L, 4, 0));
    }
    if (c.textmode && !IsInbuiltSerializer(c.name.c_str())) return ERR_WRONGUSAGE;
    lvVFile *file;
    int readable, writable, encoding;
    if ((rc = gFileHooks.FindFile(L, 1, &file, &readable, &writable, &encoding))) return rc;
    if (!writable) return ERR_READONLY;
    if (c.options.dstEncoding < 0) c.options.dstEncoding = encoding;
    if (!IsInbuiltSerializer(c.name.c_str())) {
        c.options.name = c.name.c_str();
        rc = SerializeWithAdapter(L, 2, &c.options, file, nullptr);
    } else {
        rc = WriteTableImage(L, 2, file, c.textmode, c.noLineBreak, gFileHooks.UseCarriageReturn());
    }
    return rc ? rc : 0;
}

static int CmdReadTable(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int rc = 0;
    lvSerializeCall c;
    InitCall(&c);
    if (GetValueType(L, 2) == LV_TTABLE && (rc = ReadOptions(L, 2, &c, false))) return rc;
    lvVFile *file;
    int readable, writable, encoding;
    if ((rc = gFileHooks.FindFile(L, 1, &file, &readable, &writable, &encoding))) return rc;
    if (!readable) return ERR_WRITEONLY;
    if (c.options.srcEncoding < 0) c.options.srcEncoding = encoding;
    if (!IsInbuiltSerializer(c.name.c_str())) {
        c.options.name = c.name.c_str();
        rc = DeserializeWithAdapter(L, &c.options, file, nullptr, 0);
    } else {
        rc = ReadTableImage(L, file);
    }
    return rc ? rc : 1;
}

// The second argument of SerializeTable and DeserializeTable: a name or options.
static int ReadNameOrOptions(lvState *L, lvSerializeCall *c)
{
    if (GetValueType(L, 2) == LV_TTABLE) return ReadOptions(L, 2, c, false);
    if (GetValueType(L, 2) > LV_TNIL) {
        size_t n;
        const char *s = CheckStringArg(L, 2, &n);
        c->name.assign(s, std::min<size_t>(n, 255));
    }
    return 0;
}

static int CmdSerializeTable(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int rc = 0;
    CheckTableArg(L, 1);
    lvSerializeCall c;
    InitCall(&c);
    if ((rc = ReadNameOrOptions(L, &c))) return rc;
    if (c.name.empty() || StrCmpNoCase(c.name.c_str(), "inbuilt") != 0) {
        c.options.name = c.name.empty() ? "default" : c.name.c_str();
        lvSerialBuffer b{};
        rc = SerializeWithAdapter(L, 1, &c.options, nullptr, &b);
        if (!rc) PushSizedString(L, reinterpret_cast<const char *>(b.data), b.length);
        FreeMemory(b.data);
        return rc ? rc : 1;
    }
    rc = PushTableImageString(L, 1);
    return rc ? rc : 1;
}

static int CmdDeserializeTable(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    int rc = 0;
    size_t n;
    const char *text = CheckStringArg(L, 1, &n);
    lvSerializeCall c;
    InitCall(&c);
    if ((rc = ReadNameOrOptions(L, &c))) return rc;
    if (c.name.empty() || StrCmpNoCase(c.name.c_str(), "inbuilt") != 0) {
        c.options.name = c.name.empty() ? "default" : c.name.c_str();
        lvSerialBuffer b{reinterpret_cast<uint8_t *>(const_cast<char *>(text)), 0, n, n};
        rc = DeserializeWithAdapter(L, &c.options, nullptr, &b, 0);
    } else {
        rc = ReadTableImageMemory(L, text, n);
    }
    return rc ? rc : 1;
}

// ============================================================================
// Settings and Base64
// ============================================================================

static int CmdSetSerializeMode(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    GetSerializeSettings()->mode = int(CheckNumberArg(L, 1));
    GetSerializeSettings()->modeSet = 1;
    return 0;
}

static int CmdGetSerializeMode(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, GetSerializeSettings()->mode);
    return 1;
}

static int CmdSetSerializeOptions(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rc = 0;
    CheckTableArg(L, 1);
    int v = GetSerializeSettings()->noLowerCase;
    if ((rc = ReadFieldInt(L, 1, "nolowercase", &v))) return rc;
    GetSerializeSettings()->noLowerCase = v ? 1 : 0;
    return 0;
}

static int CmdBase64Str(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    size_t n;
    const char *s = CheckStringArg(L, 1, &n);
    if (GetOptionalNumberArg(L, 2, 0) != 0) {
        std::vector<uint8_t> out(n * 3 / 4 + 3);
        size_t length;
        // Text that is not Base64 gives the bytes of its complete groups before the fault.
        DecodeBase64(s, n, out.data(), &length);
        PushSizedString(L, reinterpret_cast<const char *>(out.data()), length);
    } else {
        std::string out;
        AppendBase64(out, s, n);
        PushSizedString(L, out.data(), out.size());
    }
    return 1;
}

// ============================================================================
// Functions
// ============================================================================

static int CmdWriteFunction(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    int rc = 0;
    lvVFile *file;
    int readable, writable, encoding;
    if ((rc = gFileHooks.FindFile(L, 1, &file, &readable, &writable, &encoding))) return rc;
    if (!writable) return ERR_READONLY;
    if (GetValueType(L, 2) != LV_TFUNCTION) return ERR_FUNCEXPECTED;
    int textmode = int(GetOptionalNumberArg(L, 3, 0));
    int noLineBreak = int(GetOptionalNumberArg(L, 4, 0));
    return WriteFunctionImage(L, 2, file, textmode, noLineBreak, gFileHooks.UseCarriageReturn());
}

static int CmdReadFunction(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int rc = 0;
    lvVFile *file;
    int readable, writable, encoding;
    if ((rc = gFileHooks.FindFile(L, 1, &file, &readable, &writable, &encoding))) return rc;
    if (!readable) return ERR_WRITEONLY;
    rc = ReadFunctionImage(L, file);
    return rc ? rc : 1;
}

// ============================================================================
// Library
// ============================================================================

static const lvCommandEntry SerializeCommands[] = {
    {"Base64Str", CmdBase64Str},
    {"DeserializeTable", CmdDeserializeTable},
    {"GetSerializeMode", CmdGetSerializeMode},
    {"ReadFunction", CmdReadFunction},
    {"ReadTable", CmdReadTable},
    {"SerializeTable", CmdSerializeTable},
    {"SetSerializeMode", CmdSetSerializeMode},
    {"SetSerializeOptions", CmdSetSerializeOptions},
    {"WriteFunction", CmdWriteFunction},
    {"WriteTable", CmdWriteTable},
    {nullptr, nullptr},
};

static const lvConstantEntry SerializeConstants[] = {
    {"SERIALIZEMODE_LUMIVARRA", nullptr, SERIALIZEMODE_LUMIVARRA},
    {"SERIALIZEMODE_NAMED", nullptr, SERIALIZEMODE_NAMED},
    {"SERIALIZEMODE_LIST", nullptr, SERIALIZEMODE_LIST},
    {nullptr, nullptr, 0},
};

int OpenSerializeLibrary(lvState *L)
{
    ResetSerializeSettings();
    RegisterLibrary(L, nullptr, SerializeCommands, 0);
    return 0;
}

const lvConstantEntry *GetSerializeConstants(void) { return SerializeConstants; }
