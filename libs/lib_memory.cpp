// lib_memory.cpp - the commands of the "memblock" library: raw memory blocks that
// scripts allocate, read and write as typed values in three byte orders, fill, copy,
// dump, exchange with files and tables, and hand out as pointers. Each command reads its
// arguments and calls one function of libs/memblock_engine.h.
// Dependencies: vm/lvvm.h, libs/memblock_engine.h, libs/math_engine.h (integer rules).
#include <string>
#include <vector>

#include "libs/lib_core2.h"
#include "libs/math_engine.h"
#include "libs/memblock_engine.h"
#include "runtime/errors.h"
#include "runtime/cmdsupport.h"
#include "runtime/libtable.h"

// ---- Helpers ----------------------------------------------------------------------------------

static int64_t Int64Arg(lvState *L, int index) { return NumberToInt64(CheckNumberArg(L, index)); }
static int64_t OptionalInt64Arg(lvState *L, int index, double def)
{
    return NumberToInt64(GetOptionalNumberArg(L, index, def));
}

// A creating command's identifier: a number, or Nil for a block known by its handle.
static void ReadCreateId(lvState *L, int *number, bool *useHandle)
{
    int isNil = 0;
    *number = GetIntArgOrNil(L, 1, &isNil);
    *useHandle = isNil != 0;
}

// The handle is the result of a block made for Nil.
static int FinishCreate(lvState *L, bool useHandle, lvMemBlock *block)
{
    if (!useHandle) return 0;
    PushPointer(L, block->header.handle);
    return 1;
}

// ---- Creating and freeing -------------------------------------------------------------------------

static int CmdAllocMem(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int number = 0;
    bool useHandle = false;
    ReadCreateId(L, &number, &useHandle);
    lvMemBlock *block = nullptr;
    int code = AllocMemBlock(number, useHandle, Int64Arg(L, 2), &block);
    return code ? code : FinishCreate(L, useHandle, block);
}

static int CmdAllocMemFromPointer(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int number = 0;
    bool useHandle = false;
    ReadCreateId(L, &number, &useHandle);
    void *pointer = CheckUserDataArg(L, 2);
    lvMemBlock *block = nullptr;
    int code = AllocMemBlockFromPointer(number, useHandle, pointer, Int64Arg(L, 3), &block);
    return code ? code : FinishCreate(L, useHandle, block);
}

static int CmdAllocMemFromVirtualFile(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int number = 0;
    bool useHandle = false;
    ReadCreateId(L, &number, &useHandle);
    const char *name = CheckStringArg(L, 2, nullptr);
    lvMemBlock *block = nullptr;
    int code = AllocMemBlockFromVirtualFile(number, useHandle, name, &block);
    return code ? code : FinishCreate(L, useHandle, block);
}

static int CmdFreeMem(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    return FreeMemBlock(GetObjectIdArg(L, 1));
}

// ---- Typed values ---------------------------------------------------------------------------------

static int CmdPeek(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int64_t offset = Int64Arg(L, 2);
    int type = NumberToS32(GetOptionalNumberArg(L, 3, MEMTYPE_INTEGER));
    int64_t fourth = OptionalInt64Arg(L, 4, 0);
    if (offset < 0) return ERR_MEMRANGE;
    if (type == MEMTYPE_STRING) {
        std::string text;
        int code = PeekMemBlockString(id, offset, fourth, &text);
        if (code) return code;
        PushSizedString(L, text.data(), text.size());
        return 1;
    }
    double value = 0;
    int code = PeekMemBlock(id, offset, type, NumberToS32(static_cast<double>(fourth)), &value);
    if (code) return code;
    PushNumber(L, value);
    return 1;
}

static int CmdPoke(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int64_t offset = Int64Arg(L, 2);
    int type = NumberToS32(GetOptionalNumberArg(L, 4, MEMTYPE_INTEGER));
    int order = NumberToS32(GetOptionalNumberArg(L, 5, MEMORDER_BIGENDIAN));
    if (type == MEMTYPE_STRING) {
        size_t length = 0;
        const char *bytes = CheckStringArg(L, 3, &length);
        if (offset < 0) return ERR_MEMRANGE;
        return PokeMemBlockString(id, offset, bytes, length);
    }
    double value = CheckNumberArg(L, 3);
    if (offset < 0) return ERR_MEMRANGE;
    return PokeMemBlock(id, offset, type, value, order);
}

// ---- Fills, copies, files -------------------------------------------------------------------------

static int CmdFillMem(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    double value = CheckNumberArg(L, 2);
    int64_t count = Int64Arg(L, 3);
    int64_t offset = OptionalInt64Arg(L, 4, 0);
    int type = NumberToS32(GetOptionalNumberArg(L, 5, MEMTYPE_BYTE));
    return FillMemBlock(id, value, count, offset, type);
}

static int CmdCopyMem(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    lvObjectId source = GetObjectIdArg(L, 1);
    lvObjectId destination = GetObjectIdArg(L, 2);
    int64_t count = Int64Arg(L, 3);
    return CopyMemBlock(source, destination, count, OptionalInt64Arg(L, 4, 0), OptionalInt64Arg(L, 5, 0));
}

static int NoFileLookup(lvObjectId id, lvMemFileRef *)
{
    SetErrorNumberArg(id.number);
    return ERR_FINDFILE;
}

static lvMemFileLookup gMemFileLookup = NoFileLookup;

void SetMemFileLookup(lvMemFileLookup lookup) { gMemFileLookup = lookup ? lookup : NoFileLookup; }

static int FindTransferFile(void *user, lvMemFileRef *file)
{
    return gMemFileLookup(*static_cast<lvObjectId *>(user), file);
}

template <int (*Transfer)(lvFindMemFileFunction, void *, lvObjectId, int64_t, int64_t)>
static int FileTransferCommand(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId file = GetObjectIdArg(L, 1);
    lvObjectId block = GetObjectIdArg(L, 2);
    int64_t count = Int64Arg(L, 3);
    int64_t offset = OptionalInt64Arg(L, 4, 0);
    if (count > 0 && offset < 0) return ERR_WRONGUSAGE;
    return Transfer(FindTransferFile, &file, block, count, offset);
}

// ---- Dumps, tables, pointers, strings -----------------------------------------------------------------

static int CmdDumpMem(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    std::string text;
    int code = DumpMemBlock(id, OptionalInt64Arg(L, 2, 0), OptionalInt64Arg(L, 3, 0), &text);
    if (code) return code;
    GetVMHost()->PrintOutput(text.c_str());
    return 0;
}

// Reads the option fields of MemToTable and TableToMem from the table at index.
static void ReadMemTableOptions(lvState *L, int index, lvMemTableOptions *options)
{
    *options = {0, 0, 0, 0};
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return;
    CheckTableArg(L, index);
    double number = 0;
    if (GetFieldNumber(L, index, "items", &number)) options->items = NumberToInt64(number);
    if (GetFieldNumber(L, index, "offset", &number)) options->offset = NumberToInt64(number);
    GetFieldBool(L, index, "endianswitch", &options->endianSwitch);
    GetFieldBool(L, index, "signed", &options->isSigned);
}

static int CmdMemToTable(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int type = NumberToS32(CheckNumberArg(L, 2));
    lvMemTableOptions options;
    ReadMemTableOptions(L, 3, &options);
    std::vector<double> values;
    int code = MemBlockToValues(id, type, &options, &values);
    if (code) return code;
    PushNewSizedTable(L, values.size() < (1u << 24) ? static_cast<int>(values.size()) : 0, 0);
    for (size_t i = 0; i < values.size(); i++) {
        PushNumber(L, values[i]);
        SetTableItemRaw(L, -2, static_cast<int>(i));
    }
    return 1;
}

static int NextTableValue(void *user, int64_t index, double *value)
{
    lvState *L = static_cast<lvState *>(user);
    if (index > INT32_MAX) return 0;
    GetTableItemRaw(L, 1, static_cast<int>(index));
    bool present = GetValueType(L, -1) != LV_TNIL;
    *value = present ? ValueToNumber(L, -1) : 0;
    SetStackTop(L, -2);
    return present;
}

static int CmdTableToMem(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    CheckTableArg(L, 1);
    lvObjectId id = GetObjectIdArg(L, 2);
    int type = NumberToS32(CheckNumberArg(L, 3));
    lvMemTableOptions options;
    ReadMemTableOptions(L, 4, &options);
    return ValuesToMemBlock(NextTableValue, L, id, type, &options);
}

static int CmdGetMemPointer(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    void *pointer = nullptr;
    int code = GetMemBlockPointer(GetObjectIdArg(L, 1), OptionalInt64Arg(L, 2, 0), &pointer);
    if (code) return code;
    PushPointer(L, pointer);
    return 1;
}

static int CmdGetMemString(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    std::string text;
    int code = GetMemBlockString(GetObjectIdArg(L, 1), OptionalInt64Arg(L, 2, 0), OptionalInt64Arg(L, 3, 0), &text);
    if (code) return code;
    PushSizedString(L, text.data(), text.size());
    return 1;
}

// ---- Library ------------------------------------------------------------------------------------------

static const lvCommandEntry MemBlockCommands[] = {
    {"AllocMem", CmdAllocMem},
    {"FreeMem", CmdFreeMem},
    {"Peek", CmdPeek},
    {"Poke", CmdPoke},
    {"FillMem", CmdFillMem},
    {"CopyMem", CmdCopyMem},
    {"ReadMem", FileTransferCommand<ReadMemBlockFromFile>},
    {"WriteMem", FileTransferCommand<WriteMemBlockToFile>},
    {"DumpMem", CmdDumpMem},
    {"MemToTable", CmdMemToTable},
    {"TableToMem", CmdTableToMem},
    {"GetMemPointer", CmdGetMemPointer},
    {"GetMemString", CmdGetMemString},
    {"AllocMemFromPointer", CmdAllocMemFromPointer},
    {"AllocMemFromVirtualFile", CmdAllocMemFromVirtualFile},
    {nullptr, nullptr},
};

const lvCommandEntry *GetMemBlockCommands(void) { return MemBlockCommands; }

static const lvConstantEntry MemBlockConstants[] = {
    {"MEMORY", nullptr, LV_OBJECT_MEMBLOCK},
    {"BIGENDIAN", nullptr, MEMORDER_BIGENDIAN},
    {"NATIVEENDIAN", nullptr, MEMORDER_NATIVEENDIAN},
    {"LITTLEENDIAN", nullptr, MEMORDER_LITTLEENDIAN},
    {"ATTRSIZE", nullptr, MEMBLOCK_ATTRSIZE},
    {nullptr, nullptr, 0},
};

const lvConstantEntry *GetMemBlockConstants(void) { return MemBlockConstants; }

// GetAttribute of a block: its size.
static int MemBlockAttribute(lvState *L, int attribute, lvObjectId id)
{
    double value = 0;
    int code = GetMemBlockAttribute(id, attribute, &value);
    if (code) return code;
    PushNumber(L, value);
    return 1;
}

int OpenMemBlockLibrary(lvState *L)
{
    int code = RegisterMemBlockType(MemBlockAttribute);
    if (code) return code;
    // SetObjectData's references on a block go with the block.
    lvRefOps refs = MakeRegistryRefOps(L);
    SetMemBlockRefOps(&refs);
    SetLibraryCloseStep("memblocks", CloseMemBlockLibrary);
    return RegisterCommandTable(L, MemBlockCommands, "memblock");
}

void CloseMemBlockLibrary(lvState *, int) { FreeAllMemBlocks(); }
