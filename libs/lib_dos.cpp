// lib_dos.cpp - the dos library's script commands: files, directories, copying,
// moving and deleting, paths and checksums, environment variables, external
// programs and the directory monitor.
//
// Each command checks its argument count and arguments, calls one engine function
// and pushes the results; an engine's error code is the command's answer. The
// engines: dos_engine (file handles), fileops_engine (copy, move, delete, patterns),
// process_engine (Execute, Run), dirmonitor_engine (MonitorDirectory); directories
// are read through runtime/vdir.h.
//
// Depends on: vm/lvvm.h, runtime/vfile.h, runtime/vdir.h, runtime/objects.h,
// runtime/errors.h, libs/strings_engine.h (the default encoding), libs/digest.h,
// layers/asyncop.h. Script thread only.
// Limits: paths of LV_PATH_SIZE bytes (longer ones are errors, never cut); "usertags"
// options are not handed to adapters.
#include "libs/lib_dos.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "layers/asyncop.h"
#include "libs/digest.h"
#include "libs/dirmonitor_engine.h"
#include "libs/dos_engine.h"
#include "libs/fileops_engine.h"
#include "libs/process_engine.h"
#include "libs/strings_engine.h"
#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_startup.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/startup.h"
#include "runtime/vdir.h"

// ============================================================================
// Argument counts and identifiers
// ============================================================================

// Argument counts without an applet-version condition; max 0 with min > 0: no upper bound.
static void CheckArgs(lvState *L, int min, int max) { CheckArgCount(L, min, max < 0 ? 0 : max, 0, 0); }

static void PushHandleOf(lvState *L, const lvObjectHeader *header) { PushObjectId(L, GetObjectIdOf(header)); }

// The "usertags" of an options table, freed with the command's frame.
struct lvCommandTags {
    lvUserTag *list = nullptr;  // the tags, or null
    ~lvCommandTags() { FreeUserTags(list, 0); }
};

// Reads "usertags" of the table at index t (when it is a table) into tags.
static void ReadTagsOption(lvState *L, int t, lvCommandTags *tags)
{
    if (GetValueType(L, t) != LV_TTABLE) return;
    if (int code = ReadUserTags(L, t, nullptr, nullptr, &tags->list)) RaiseError(L, code);
}

// ============================================================================
// Library state
// ============================================================================

struct lvDosLibrary {
    lvState *L;                // the machine whose registry holds the references
    lvRefOps refOps;           // user-data references of that machine
    lvHandlerQuery handlers;   // installed-handler query of the events library, or null
    lvObjectHeader *dirs;      // directory handles in creation order
    int allowBackslash;        // AllowBackslash's switch (no operation reads it)
};

static int CopyRef(void *context, int ref)
{
    auto *L = static_cast<lvState *>(context);
    GetTableItemRaw(L, LV_REGISTRYINDEX, ref);
    return CreateReference(L, LV_REGISTRYINDEX);
}

static void ReleaseRef(void *context, int ref)
{
    if (ref >= 0) ReleaseReference(static_cast<lvState *>(context), LV_REGISTRYINDEX, ref);
}

static lvDosLibrary gDos = {nullptr, {nullptr, CopyRef, ReleaseRef}, nullptr, nullptr, 0};

static const lvRefOps *RefOps(lvState *L)
{
    gDos.L = L;
    gDos.refOps.context = L;
    return &gDos.refOps;
}

void SetDosHandlerQuery(lvHandlerQuery query) { gDos.handlers = query; }

static int DefaultEncoding() { return GetStringSettings()->defaultEncoding == 1 ? 1 : 0; }

// ============================================================================
// Arguments and options
// ============================================================================

static std::string ReadStringArgCopy(lvState *L, int i)
{
    size_t n;
    const char *s = CheckStringArg(L, i, &n);
    return std::string(s, n);
}

static long long ReadIntArg(lvState *L, int i) { return NumberToInt64(CheckNumberArg(L, i)); }

static long long ReadOptionalIntArg(lvState *L, int i, long long def)
{
    int t = GetValueType(L, i);
    return t == LV_TNONE || t == LV_TNIL ? def : ReadIntArg(L, i);
}

// An unsigned 32-bit argument; a negative or larger value is a range error, never
// wrapped round to another number.
static uint32_t ReadUnsigned32Arg(lvState *L, int i)
{
    double value = CheckNumberArg(L, i);
    if (!(value > -1.0 && value < 4294967296.0)) RaiseError(L, ERR_OUTOFRANGE);
    return uint32_t(NumberToInt64(value));
}

static bool HasArg(lvState *L, int i)
{
    int t = GetValueType(L, i);
    return t != LV_TNONE && t != LV_TNIL;
}

// Pushes field name of the table at index t.
static int PushField(lvState *L, int t, const char *name)
{
    PushString(L, name);
    GetTableValue(L, t < 0 && t > LV_REGISTRYINDEX ? t - 1 : t);
    return GetValueType(L, -1);
}

static bool ReadBoolOption(lvState *L, int t, const char *name, bool def)
{
    int type = PushField(L, t, name);
    bool v = def;
    if (type == LV_TBOOLEAN) v = ValueToBoolean(L, -1);
    else if (type == LV_TNUMBER) v = ValueToNumber(L, -1) != 0;
    else if (type != LV_TNIL) {
        SetStackTop(L, -2);
        RaiseError(L, ERR_WRONGUSAGE);
    }
    SetStackTop(L, -2);
    return v;
}

static long long ReadIntOption(lvState *L, int t, const char *name, long long def)
{
    int type = PushField(L, t, name);
    long long v = def;
    if (type == LV_TNUMBER) v = NumberToInt64(ValueToNumber(L, -1));
    else if (type != LV_TNIL) {
        SetStackTop(L, -2);
        RaiseError(L, ERR_NUMEXPECTED);
    }
    SetStackTop(L, -2);
    return v;
}

// A string option up to limit bytes (longer: ERR_WRONGUSAGE); def when absent.
static std::string ReadStringOption(lvState *L, int t, const char *name, const char *def, size_t limit,
                                    bool *present = nullptr)
{
    int type = PushField(L, t, name);
    std::string v = def ? def : "";
    if (present) *present = type != LV_TNIL;
    if (type == LV_TSTRING || type == LV_TNUMBER) {
        v.assign(ValueToString(L, -1), ValueStringLength(L, -1));
    } else if (type != LV_TNIL) {
        SetStackTop(L, -2);
        RaiseError(L, ERR_STREXPECTED);
    }
    SetStackTop(L, -2);
    if (v.size() > limit) RaiseError(L, ERR_WRONGUSAGE);
    return v;
}

// A reference to field name (-1 when absent).
static int ReadRefOption(lvState *L, int t, const char *name)
{
    PushField(L, t, name);
    return CreateReference(L, LV_REGISTRYINDEX);
}

// "adapter" of an options table at index i (when it is a table), else the default.
static std::string ReadAdapterOption(lvState *L, int i)
{
    if (GetValueType(L, i) != LV_TTABLE) return "";
    return ReadStringOption(L, i, "adapter", "", 255);
}

static const char *AdapterOrNull(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

// Fails with ERR_MEM when a path does not fit a path buffer (never cut).
static void CheckPathLength(lvState *L, const std::string &path)
{
    if (path.size() >= LV_PATH_SIZE) {
        SetErrorStringArg(path.substr(0, 64).c_str());
        RaiseError(L, ERR_MEM);
    }
}

// ============================================================================
// Dates and entry tables
// ============================================================================

static const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "%.2d-%s-%d %.2d:%.2d:%.2d" of one time stamp (0 creation, 1 access, 2 change).
static void FormatFileDate(const lvFileInfo *info, int index, char *out, size_t size)
{
    lvFileDate d;
    FileTimeToDate(info, &d, index);
    int month = d.month >= 0 && d.month < 12 ? d.month : 0;
    std::snprintf(out, size, "%.2d-%s-%d %.2d:%.2d:%.2d", d.day, kMonths[month], d.year, d.hour, d.minute,
                  d.second);
}

static void SetNumberField(lvState *L, const char *name, double v)
{
    PushString(L, name);
    PushNumber(L, v);
    SetTableValue(L, -3);
}

static void SetStringField(lvState *L, const char *name, const char *v)
{
    PushString(L, name);
    PushString(L, v);
    SetTableValue(L, -3);
}

// Pushes {"type", "size" (files), "flags", "time", "lastaccesstime", "creationtime"}.
static void PushEntryTable(lvState *L, int isDirectory, const lvFileInfo *info)
{
    PushNewTable(L);
    SetNumberField(L, "type", isDirectory ? 1 : 0);
    if (!isDirectory) SetNumberField(L, "size", double(info->size));
    // Archive and system have no meaning on this system: they read as 0.
    SetNumberField(L, "flags", info->attributes & ~uint32_t(LV_FILEATTR_ARCHIVE | LV_FILEATTR_SYSTEM));
    char date[64];
    FormatFileDate(info, 2, date, sizeof date);
    SetStringField(L, "time", date);
    FormatFileDate(info, 1, date, sizeof date);
    SetStringField(L, "lastaccesstime", date);
    FormatFileDate(info, 0, date, sizeof date);
    SetStringField(L, "creationtime", date);
}

// ============================================================================
// Files
// ============================================================================

static lvFileHandle *CheckFileHandle(lvState *L, int i)
{
    lvObjectId id = GetObjectIdArg(L, i);
    lvFileHandle *h;
    if (int code = FindFileHandle(id, &h)) RaiseError(L, code);
    return h;
}

// OpenFile(id or Nil, name, mode = MODE_READ, options)
static int CmdOpenFile(lvState *L)
{
    CheckArgs(L, 2, 4);
    bool nilId = GetValueType(L, 1) == LV_TNIL;
    int number = nilId ? 0 : int(ReadIntArg(L, 1));
    std::string name = ReadStringArgCopy(L, 2);
    int mode = int(ReadOptionalIntArg(L, 3, LV_MODE_READ));
    if (mode != LV_MODE_READ && mode != LV_MODE_WRITE && mode != LV_MODE_READWRITE) return ERR_WRONGUSAGE;
    if (name.empty()) return ERR_WRONGUSAGE;
    // Reading finds the files linked into the applet first.
    if (mode == LV_MODE_READ) name = ResolveLinkedFileName(L, name.c_str(), 0, nullptr);
    CheckPathLength(L, name);
    std::string adapter;
    int encoding = -1;
    bool writeBom = false;
    lvCommandTags tags;
    if (GetStackTop(L) >= 4) {
        CheckTableArg(L, 4);
        adapter = ReadAdapterOption(L, 4);
        ReadTagsOption(L, 4, &tags);
        encoding = int(ReadIntOption(L, 4, "encoding", -1));
        writeBom = ReadBoolOption(L, 4, "writebom", false);
    }
    lvFileHandle *h;
    if (int code = OpenFileHandle(number, nilId, name.c_str(), mode, encoding, writeBom, AdapterOrNull(adapter),
                                  tags.list, RefOps(L), &h))
        return code;
    if (!nilId) return 0;
    PushHandleOf(L, &h->header);
    return 1;
}

static int CmdCloseFile(lvState *L)
{
    CheckArgs(L, 1, 1);
    CloseFileHandle(CheckFileHandle(L, 1), RefOps(L));
    return 0;
}

static int CmdEof(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvFileHandle *h = CheckFileHandle(L, 1);
    PushNumber(L, h->pendingByte < 0 && IsVFileEof(h->stream) ? 1 : 0);
    return 1;
}

static int ReadEncodingArg(lvState *L, int i)
{
    return HasArg(L, i) ? int(ReadIntArg(L, i)) : DefaultEncoding();
}

static int CmdReadChr(lvState *L)
{
    CheckArgs(L, 1, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    uint32_t code;
    if (int e = ReadHandleChar(h, ReadEncodingArg(L, 2), &code)) return e;
    PushNumber(L, code);
    return 1;
}

// Reads an integer of size bytes and pushes it signed or unsigned.
static int ReadIntegerCommand(lvState *L, int size, bool signedDefault)
{
    CheckArgs(L, 1, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    int flags = int(ReadOptionalIntArg(L, 2, 0));
    bool isSigned = signedDefault ? !(flags & LV_IO_UNSIGNED) : (flags & LV_IO_SIGNED) != 0;
    if (size == 4 && (flags & LV_IO_FAKE64)) {
        if (flags & LV_IO_UNSIGNED) return ERR_WRONGUSAGE;
        size = 8;
        isSigned = true;
    }
    uint64_t v;
    if (int e = ReadHandleNumber(h, size, flags, &v)) return e;
    double d;
    if (isSigned) {
        int shift = 64 - 8 * size;
        d = double(int64_t(v << shift) >> shift);
    } else {
        d = double(v);
    }
    PushNumber(L, d);
    return 1;
}

static int CmdReadByte(lvState *L) { return ReadIntegerCommand(L, 1, false); }
static int CmdReadShort(lvState *L) { return ReadIntegerCommand(L, 2, false); }
static int CmdReadInt(lvState *L) { return ReadIntegerCommand(L, 4, true); }

static int CmdReadFloat(lvState *L)
{
    CheckArgs(L, 1, 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    int size = int(ReadOptionalIntArg(L, 2, 8));
    int flags = int(ReadOptionalIntArg(L, 3, 0));
    if (size != 4 && size != 8) return ERR_WRONGUSAGE;
    uint64_t v;
    if (int e = ReadHandleNumber(h, size, flags, &v)) return e;
    if (size == 4) {
        uint32_t w = uint32_t(v);
        float f;
        std::memcpy(&f, &w, 4);
        PushNumber(L, f);
    } else {
        double d;
        std::memcpy(&d, &v, 8);
        PushNumber(L, d);
    }
    return 1;
}

static int ReadStringCommand(lvState *L, bool raw)
{
    CheckArgs(L, 1, raw ? 2 : 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    long long length = ReadOptionalIntArg(L, 2, 0);
    int encoding = raw ? -1 : ReadEncodingArg(L, 3);
    std::string out;
    if (int e = ReadHandleString(h, length, encoding, DefaultEncoding(), raw, &out)) return e;
    PushSizedString(L, out.data(), out.size());
    return 1;
}

static int CmdReadString(lvState *L) { return ReadStringCommand(L, false); }
static int CmdReadBytes(lvState *L) { return ReadStringCommand(L, true); }

static int CmdReadLine(lvState *L)
{
    CheckArgs(L, 1, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    bool keep = HasArg(L, 2) && ValueToBoolean(L, 2) && !(GetValueType(L, 2) == LV_TNUMBER && ValueToNumber(L, 2) == 0);
    std::string out;
    if (int e = ReadHandleLine(h, keep, DefaultEncoding(), &out)) return e;
    PushSizedString(L, out.data(), out.size());
    return 1;
}

static int CmdWriteChr(lvState *L)
{
    CheckArgs(L, 2, 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    long long code = ReadIntArg(L, 2);
    return WriteHandleChar(h, uint32_t(code), ReadEncodingArg(L, 3));
}

static int WriteIntegerCommand(lvState *L, int size)
{
    CheckArgs(L, 2, 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    double value = CheckNumberArg(L, 2);
    int flags = int(ReadOptionalIntArg(L, 3, 0));
    uint64_t bits = uint64_t(NumberToInt64(value));
    if (size == 4) {
        if (flags & LV_IO_FAKE64) {
            if (flags & LV_IO_UNSIGNED) return ERR_WRONGUSAGE;
            size = 8;
        } else if (flags & LV_IO_UNSIGNED) {
            bits = ReadUnsigned32Arg(L, 2);
        }
    }
    return WriteHandleNumber(h, size, flags, bits);
}

static int CmdWriteByte(lvState *L) { return WriteIntegerCommand(L, 1); }
static int CmdWriteShort(lvState *L) { return WriteIntegerCommand(L, 2); }
static int CmdWriteInt(lvState *L) { return WriteIntegerCommand(L, 4); }

static int CmdWriteFloat(lvState *L)
{
    CheckArgs(L, 2, 4);
    lvFileHandle *h = CheckFileHandle(L, 1);
    double value = CheckNumberArg(L, 2);
    int size = int(ReadOptionalIntArg(L, 3, 8));
    int flags = int(ReadOptionalIntArg(L, 4, 0));
    uint64_t bits;
    if (size == 4) {
        float f = float(value);
        uint32_t w;
        std::memcpy(&w, &f, 4);
        bits = w;
    } else if (size == 8) {
        std::memcpy(&bits, &value, 8);
    } else {
        return ERR_WRONGUSAGE;
    }
    return WriteHandleNumber(h, size, flags, bits);
}

static int WriteStringCommand(lvState *L, bool raw)
{
    CheckArgs(L, 2, raw ? 3 : 4);
    lvFileHandle *h = CheckFileHandle(L, 1);
    size_t n;
    const char *s = CheckStringArg(L, 2, &n);
    long long length = ReadOptionalIntArg(L, 3, 0);
    int encoding = raw ? -1 : ReadEncodingArg(L, 4);
    int code = WriteHandleString(h, s, n, length, encoding, raw);
    if (code == ERR_INVALIDUTF8ARG) GetVMHost()->SetErrorNumberArg(2);
    return code;
}

static int CmdWriteString(lvState *L) { return WriteStringCommand(L, false); }
static int CmdWriteBytes(lvState *L) { return WriteStringCommand(L, true); }

static int CmdWriteLine(lvState *L)
{
    CheckArgs(L, 2, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    size_t n;
    const char *s = CheckStringArg(L, 2, &n);
    return WriteHandleLine(h, s, n, DefaultEncoding());
}

static int CmdSeek(lvState *L)
{
    CheckArgs(L, 2, 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    long long position = ReadIntArg(L, 2);
    int origin = int(ReadOptionalIntArg(L, 3, 1));
    if (origin < 0 || origin > 2) return ERR_WRONGUSAGE;
    if (position == -1 && origin == 1) {
        position = 0;
        origin = 2;
    }
    if (origin == 0 && h->pendingByte >= 0) position--;  // the byte held back counts as unread
    h->pendingByte = -1;
    if (SeekVFile(h->stream, position, origin) == -1) return ERR_SEEKFILE;
    return 0;
}

static int CmdFilePos(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvFileHandle *h = CheckFileHandle(L, 1);
    PushNumber(L, double(SeekVFile(h->stream, 0, 0)));
    return 1;
}

static int CmdFileLength(lvState *L)
{
    CheckArgs(L, 1, 1);
    PushNumber(L, double(GetVFileSize(CheckFileHandle(L, 1)->stream)));
    return 1;
}

static int CmdFlushFile(lvState *L)
{
    CheckArgs(L, 1, 1);
    FlushVFile(CheckFileHandle(L, 1)->stream);
    return 0;
}

static int CmdSetIOMode(lvState *L)
{
    CheckArgs(L, 1, 1);
    long long mode = ReadIntArg(L, 1);
    if (mode != 0 && mode != 1) return ERR_WRONGUSAGE;
    GetDosFileState()->ioMode = int(mode);
    SetVFileIOMode(int(mode));
    return 0;
}

static int CmdUseCarriageReturn(lvState *L)
{
    CheckArgs(L, 1, 1);
    int on = GetValueType(L, 1) == LV_TNUMBER ? ValueToNumber(L, 1) != 0 : ValueToBoolean(L, 1);
    GetDosFileState()->carriageReturn = on;
    return 0;
}

static int CmdSetFileEncoding(lvState *L)
{
    CheckArgs(L, 2, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    h->encoding = int(ReadIntArg(L, 2));
    return 0;
}

// Pushes the table of an examined object; path is the full path.
static void PushAttributeTable(lvState *L, const lvFileInfo *info, const char *path)
{
    PushEntryTable(L, info->isDirectory, info);
    SetStringField(L, "path", path);
    SetStringField(L, "name", FindFilePart(path));
}

static int CmdFileAttributes(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvFileHandle *h = CheckFileHandle(L, 1);
    lvFileInfo info = {};
    if (!ExamineVFile(h->stream, &info)) return ERR_STAT;
    char path[LV_PATH_SIZE] = "";
    GetVFileFullPath(h->stream, path, sizeof path);
    PushAttributeTable(L, &info, path);
    int flags = GetVFileStreamFlags(h->stream);
    SetNumberField(L, "streaming", flags & 1);
    SetNumberField(L, "noseek", (flags >> 1) & 1);
    return 1;
}

static int CmdFileToString(lvState *L)
{
    CheckArgs(L, 1, 2);
    std::string name = ResolveLinkedFileName(L, ReadStringArgCopy(L, 1).c_str(), 0, nullptr);
    CheckPathLength(L, name);
    std::string adapter = GetStackTop(L) >= 2 ? (CheckTableArg(L, 2), ReadAdapterOption(L, 2)) : "";
    lvCommandTags tags;
    ReadTagsOption(L, 2, &tags);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_READ | LV_VF_ADAPTERS, AdapterOrNull(adapter), tags.list);
    if (!f) {
        SetErrorStringArg(name.c_str());
        return ERR_READFILE;
    }
    std::string data;
    char block[16384];
    for (;;) {
        int64_t n = ReadVFile(f, block, sizeof block);
        if (n > 0) data.append(block, size_t(n));
        if (n < int64_t(sizeof block)) break;
    }
    CloseVFile(f);
    PushSizedString(L, data.data(), data.size());
    PushNumber(L, double(data.size()));
    return 2;
}

static int CmdStringToFile(lvState *L)
{
    CheckArgs(L, 2, 3);
    size_t n;
    const char *data = CheckStringArg(L, 1, &n);
    std::string name = ReadStringArgCopy(L, 2);
    CheckPathLength(L, name);
    std::string adapter = GetStackTop(L) >= 3 ? (CheckTableArg(L, 3), ReadAdapterOption(L, 3)) : "";
    lvCommandTags tags;
    ReadTagsOption(L, 3, &tags);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_WRITE | LV_VF_ADAPTERS, AdapterOrNull(adapter), tags.list);
    if (!f) {
        SetErrorStringArg(name.c_str());
        return ERR_WRITEFILE;
    }
    int code = 0;
    if (n > 0 && WriteVFile(f, data, int64_t(n)) != int64_t(n)) code = ERR_WRITE;
    // Buffered bytes that cannot be written at the close are lost bytes too.
    if (!CloseVFile(f) && code == 0) code = ERR_WRITE;
    return code;
}

// ---- FileLines ------------------------------------------------------------------------

struct lvLinesUserData {
    lvVFile *stream;  // the open file, or null once closed
};

static int FileHandleGc(lvState *L)
{
    auto *u = static_cast<lvLinesUserData *>(GetTypedUserData(L, 1, "FILE*"));
    if (u && u->stream) {
        CloseVFile(u->stream);
        u->stream = nullptr;
    }
    return 0;
}

static int FileLinesStep(lvState *L)
{
    auto *u = static_cast<lvLinesUserData *>(GetUserDataPointer(L, LvUpvalueIndex(1)));
    if (!u || !u->stream) return 0;
    std::string line;
    bool any = false;
    for (;;) {
        if (line.size() >= 1024) break;
        int c = ReadVFileByte(u->stream);
        if (c < 0) break;
        any = true;
        if (c == '\n') break;
        if (c != '\r') line.push_back(char(c));
    }
    if (!any) {
        CloseVFile(u->stream);
        u->stream = nullptr;
        return 0;
    }
    PushSizedString(L, line.data(), line.size());
    return 1;
}

static int CmdFileLines(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    CheckPathLength(L, name);
    auto *u = static_cast<lvLinesUserData *>(PushNewUserData(L, sizeof(lvLinesUserData)));
    u->stream = nullptr;
    PushNamedMetatable(L, "FILE*");
    AssignMetatable(L, -2);
    u->stream = OpenVFile(name.c_str(), LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr);
    if (!u->stream) {
        SetErrorStringArg(name.c_str());
        return ERR_READFILE;
    }
    PushNativeClosure(L, FileLinesStep, 1);
    return 1;
}

// ---- Virtual files ---------------------------------------------------------------------

static int CmdDefineVirtualFile(lvState *L)
{
    CheckArgs(L, 4, 4);
    std::string file = ResolveLinkedFileName(L, ReadStringArgCopy(L, 1).c_str(), 0, nullptr);
    uint32_t offset = ReadUnsigned32Arg(L, 2);
    uint32_t length = ReadUnsigned32Arg(L, 3);
    std::string name = ReadStringArgCopy(L, 4);
    if (length == 0 || file.empty() || name.empty()) return ERR_WRONGUSAGE;
    char out[LV_PATH_SIZE];
    if (!MakeChunkName(name.c_str(), out, sizeof out, nullptr, offset, length, 0, file.c_str())) return ERR_MEM;
    PushString(L, out);
    return 1;
}

static int CmdDefineVirtualFileFromString(lvState *L)
{
    CheckArgs(L, 2, 3);
    size_t n;
    CheckStringArg(L, 1, &n);
    std::string name = ReadStringArgCopy(L, 2);
    bool writable = HasArg(L, 3) && ValueToBoolean(L, 3);
    if (name.empty()) return ERR_WRONGUSAGE;
    int dataRef = -1;
    if (!writable) {
        PushCopy(L, 1);
        dataRef = CreateReference(L, LV_REGISTRYINDEX);
    }
    char out[LV_PATH_SIZE];
    const char *data = ValueToString(L, 1);
    if (!AddMemoryFile(name.c_str(), writable, data, int64_t(n), dataRef, out, sizeof out)) {
        if (dataRef >= 0) ReleaseReference(L, LV_REGISTRYINDEX, dataRef);
        return ERR_MEM;
    }
    PushString(L, out);
    return 1;
}

static int CmdUndefineVirtualStringFile(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    lvMemFile *node = nullptr;
    if (!IsChunkName(name.c_str()) ||
        !ParseChunkName(name.c_str(), nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &node) ||
        !node || node->ownReference == 0)
        return ERR_WRONGUSAGE;
    if (node->dataReference >= 0) ReleaseReference(L, LV_REGISTRYINDEX, node->dataReference);
    node->dataReference = -1;
    RemoveMemoryFile(node);
    return 0;
}

// ============================================================================
// Directories
// ============================================================================

// One directory handle: a directory read through the file layer, an entry tree
// linked into the applet, or a monitor.
struct lvDirectoryHandle {
    lvObjectHeader header;     // type 45, identifier, handle word, user data, next
    int recursive;             // sub-directories are listed too
    int treeTimes;             // entries carry no dates: the current date, flags 15
    lvVDir *dir;               // the directory stream, or null (tree, empty, monitor)
    lvLinkedDirEntry *tree;    // first entry of the listed level, or null
    lvLinkedDirEntry *cursor;  // next tree entry to report
    int cursorStarted;         // the cursor was set to the first entry
    int sharedTree;            // the tree belongs to another handle
    lvDirectoryHandle *treeOwner;  // the handle that owns a shared tree
    int restarted;             // the scan was (re)started and no entry read yet
    int endFlag;               // NextDirectoryEntry reported the end
    lvDirMonitor *monitor;     // the monitor, or null
    char path[LV_PATH_SIZE];   // the directory's full path
};

static void CloseDirectoryHandle(lvDirectoryHandle *d, const lvRefOps *ops)
{
    for (lvObjectHeader **p = &gDos.dirs; *p; p = &(*p)->next) {
        if (*p == &d->header) {
            *p = d->header.next;
            break;
        }
    }
    if (d->monitor) StopDirMonitor(d->monitor, ops);
    if (d->dir) CloseVDir(d->dir);
    if (d->tree && !d->sharedTree) {
        // Handles that list part of this tree lose it with it: they list nothing more.
        for (lvObjectHeader *h = gDos.dirs; h; h = h->next) {
            auto *other = reinterpret_cast<lvDirectoryHandle *>(h);
            if (other->treeOwner != d) continue;
            other->tree = other->cursor = nullptr;
            other->treeOwner = nullptr;
        }
        FreeLinkedDirTree(d->tree);
    }
    FreeObjectUserData(&d->header.userData, ops);
    FreeMemory(d);
}

static int FindDirHandle(lvObjectId id, lvDirectoryHandle **out)
{
    for (lvObjectHeader *h = gDos.dirs; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = reinterpret_cast<lvDirectoryHandle *>(h);
            return 0;
        }
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDDIR;
}

static lvDirectoryHandle *CheckDirHandle(lvState *L, int i, bool refuseMonitor)
{
    lvDirectoryHandle *d;
    if (int code = FindDirHandle(GetObjectIdArg(L, i), &d)) RaiseError(L, code);
    if (refuseMonitor && d->monitor) RaiseError(L, ERR_WRONGUSAGE);
    return d;
}

static lvDirectoryHandle *NewDirectoryHandle(int number, bool nilId)
{
    auto *d = static_cast<lvDirectoryHandle *>(AllocMemory(sizeof(lvDirectoryHandle), 1));
    if (!d) return nullptr;
    InitObjectHeader(&d->header, LV_DIRECTORY_OBJECT, nilId ? 0 : number, nilId);
    lvObjectHeader **tail = &gDos.dirs;
    while (*tail) tail = &(*tail)->next;
    *tail = &d->header;
    return d;
}

// Locks path and starts its scan. 0 with *out, ERR_LOCK2 or the scan's error.
static int OpenScan(const char *path, const char *adapter, lvVDir **out, int *restarted)
{
    lvVDir *dir = OpenVDir(path, LV_VD_READ | LV_VD_ADAPTERS, adapter, nullptr);
    if (!dir) {
        SetErrorStringArg(path);
        return ERR_LOCK2;
    }
    if (int code = StartVDirScan(dir, restarted)) {
        CloseVDir(dir);
        return code;
    }
    *out = dir;
    return 0;
}

// A linked name: ":::" then the number of a directory handle, or "@" and the hex
// handle value of a Nil-made one, a comma and a path inside that handle's tree.
// 0 with the entry's children, or the lookup's error.
static int ResolveLinkedName(const std::string &path, lvLinkedDirEntry **children, lvDirectoryHandle **treeOwner)
{
    size_t comma = path.find(',', 3);
    if (comma == std::string::npos) return ERR_WRONGUSAGE;
    std::string key = path.substr(3, comma - 3);
    lvObjectId id = {0, nullptr};
    if (!key.empty() && key[0] == '@') {
        unsigned long long address = 0;
        if (key.size() < 2 || std::sscanf(key.c_str() + 1, "%llx", &address) != 1) return ERR_WRONGUSAGE;
        id.handle = reinterpret_cast<void *>(uintptr_t(address));
    } else {
        if (key.empty() || key.find_first_not_of("-0123456789") != std::string::npos) return ERR_WRONGUSAGE;
        id.number = std::atoi(key.c_str());
    }
    lvDirectoryHandle *owner;
    if (int code = FindDirHandle(id, &owner)) return code;
    lvLinkedDirEntry *entry = FindLinkedDirEntry(owner->tree, path.c_str() + comma + 1);
    if (!entry || !entry->isDirectory) {
        SetErrorStringArg(path.c_str());
        return ERR_READFILE;
    }
    *children = entry->children;
    *treeOwner = owner->sharedTree ? owner->treeOwner : owner;
    return 0;
}

// Trees handed over for the preload of linked directories, not yet taken by a handle. A
// "__direntries" value is only ever a key into this list: a handle never adopts (and
// later frees) memory named by a script value.
static std::vector<lvLinkedDirEntry *> gOfferedTrees;

void OfferLinkedDirTree(lvLinkedDirEntry *tree)
{
    if (tree) gOfferedTrees.push_back(tree);
}

// Takes an offered tree off the list; false when the key names none.
static bool TakeOfferedTree(void *key, lvLinkedDirEntry **tree)
{
    auto at = std::find(gOfferedTrees.begin(), gOfferedTrees.end(), static_cast<lvLinkedDirEntry *>(key));
    if (at == gOfferedTrees.end()) return false;
    *tree = *at;
    gOfferedTrees.erase(at);
    return true;
}

static int CmdOpenDirectory(lvState *L)
{
    CheckArgs(L, 2, 3);
    bool nilId = GetValueType(L, 1) == LV_TNIL;
    int number = nilId ? 0 : int(ReadIntArg(L, 1));
    std::string path = ReadStringArgCopy(L, 2);
    CheckPathLength(L, path);
    std::string adapter;
    bool recursive = true, emptyDir = false;
    lvLinkedDirEntry *given = nullptr;
    if (GetStackTop(L) >= 3) {
        CheckTableArg(L, 3);
        adapter = ReadAdapterOption(L, 3);
        recursive = ReadBoolOption(L, 3, "recursive", true);
        emptyDir = ReadBoolOption(L, 3, "__emptydir", false);
        void *key = nullptr;
        if (PushField(L, 3, "__direntries") == LV_TPOINTER) key = GetUserDataPointer(L, -1);
        SetStackTop(L, -2);
        if (key && !TakeOfferedTree(key, &given)) return ERR_WRONGUSAGE;
    }
    if (!nilId) {
        lvDirectoryHandle *old;
        if (FindDirHandle({number, nullptr}, &old) == 0) CloseDirectoryHandle(old, RefOps(L));
    }
    lvVDir *dir = nullptr;
    int restarted = 0;
    lvLinkedDirEntry *shared = nullptr;
    lvDirectoryHandle *treeOwner = nullptr;
    bool linked = !given && !emptyDir && path.compare(0, 3, ":::") == 0 && !IsChunkName(path.c_str());
    if (linked) {
        if (int code = ResolveLinkedName(path, &shared, &treeOwner)) return code;
    } else if (!given && !emptyDir) {
        if (int code = OpenScan(path.c_str(), AdapterOrNull(adapter), &dir, &restarted)) return code;
    }
    lvDirectoryHandle *d = NewDirectoryHandle(number, nilId);
    if (!d) {
        if (dir) CloseVDir(dir);
        if (given) FreeLinkedDirTree(given);
        return ERR_MEM;
    }
    d->dir = dir;
    d->restarted = restarted;
    d->recursive = recursive;
    d->tree = linked ? shared : given;
    d->sharedTree = linked;
    d->treeOwner = treeOwner;
    d->treeTimes = linked || given || emptyDir;
    if (!dir || !GetVDirPath(dir, d->path, sizeof d->path)) std::snprintf(d->path, sizeof d->path, "%s", path.c_str());
    if (!nilId) return 0;
    PushHandleOf(L, &d->header);
    return 1;
}

static int CmdCloseDirectory(lvState *L)
{
    CheckArgs(L, 1, 1);
    CloseDirectoryHandle(CheckDirHandle(L, 1, false), RefOps(L));
    return 0;
}

// The next entry kept by the handle's recursive flag; 0 at the end.
static int NextKeptEntry(lvDirectoryHandle *d, const char **name, int *isDir, lvFileInfo *info)
{
    for (;;) {
        int r = NextVDirEntry(d->dir, d->restarted, name, isDir, info);
        d->restarted = 0;
        if (!r) return 0;
        if (*isDir && !d->recursive) continue;
        return 1;
    }
}

static int CmdNextDirectoryEntry(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    if (d->endFlag) return 0;
    if (!d->dir) {
        // An entry tree: no dates of its own.
        if (!d->cursorStarted) {
            d->cursor = d->tree;
            d->cursorStarted = 1;
        }
        lvLinkedDirEntry *e = d->cursor;
        if (!e) {
            d->endFlag = 1;
            return 0;
        }
        d->cursor = e->next;
        char date[256];
        GetCurrentDateString(date);
        PushNewTable(L);
        SetStringField(L, "name", e->name);
        SetNumberField(L, "type", e->isDirectory ? 1 : 0);
        if (!e->isDirectory) SetNumberField(L, "size", e->size);
        SetNumberField(L, "flags", 15);
        SetStringField(L, "time", date);
        SetStringField(L, "lastaccesstime", date);
        SetStringField(L, "creationtime", date);
        return 1;
    }
    const char *name;
    int isDir;
    lvFileInfo info = {};
    if (!NextKeptEntry(d, &name, &isDir, &info)) {
        d->endFlag = 1;
        return 0;
    }
    std::string entry = name;
    PushEntryTable(L, isDir, &info);
    SetStringField(L, "name", entry.c_str());
    return 1;
}

static int RewindHandle(lvDirectoryHandle *d)
{
    d->endFlag = 0;
    d->cursorStarted = 0;
    return d->dir ? StartVDirScan(d->dir, &d->restarted) : 0;
}

static int CmdRewindDirectory(lvState *L)
{
    CheckArgs(L, 1, 1);
    return RewindHandle(CheckDirHandle(L, 1, true));
}

static int CmdGetDirectoryEntry(lvState *L)
{
    CheckArgs(L, 2, 2);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    std::string name = ReadStringArgCopy(L, 2);
    if (!d->dir) {
        lvLinkedDirEntry *e = FindLinkedDirEntry(d->tree, name.c_str());
        if (!e) {
            SetErrorStringArg(name.c_str());
            return ERR_READFILE;
        }
        char out[LV_PATH_SIZE];
        if (e->isDirectory) {
            std::string sub = name;
            for (char &c : sub)
                if (c == '\\') c = '/';
            // A Nil-made handle is named by its handle value, so the name finds it again.
            if (d->header.handle)
                std::snprintf(out, sizeof out, ":::@%llx,%s", (unsigned long long)uintptr_t(d->header.handle), sub.c_str());
            else
                std::snprintf(out, sizeof out, ":::%d,%s", d->header.identifier, sub.c_str());
            if (std::strlen(out) + 1 >= sizeof out) return ERR_MEM;
        } else if (int code = MakeLinkedFileName(e, out, sizeof out)) {
            return code;
        }
        PushString(L, out);
        return 1;
    }
    std::string full = d->path;
    if (!full.empty() && full.back() != '/' && full.back() != '\\') full += '/';
    full += name;
    CheckPathLength(L, full);
    PushString(L, full.c_str());
    return 1;
}

// Counts the entries of a directory path; a sub-directory that cannot be read stops
// the count there (the counts so far stand): false then.
static bool CountTree(const std::string &path, bool recursive, double *files, double *dirs, int depth)
{
    lvVDir *dir;
    int restarted;
    if (depth > 64 || OpenScan(path.c_str(), nullptr, &dir, &restarted)) return false;
    const char *name;
    int isDir;
    while (NextVDirEntry(dir, restarted, &name, &isDir, nullptr)) {
        restarted = 0;
        if (!isDir) {
            *files += 1;
            continue;
        }
        *dirs += 1;
        if (recursive && !CountTree(path + "/" + name, true, files, dirs, depth + 1)) {
            CloseVDir(dir);
            return false;
        }
    }
    CloseVDir(dir);
    return true;
}

static void CountLinkedTree(const lvLinkedDirEntry *e, bool recursive, double *files, double *dirs)
{
    for (; e; e = e->next) {
        if (!e->isDirectory) {
            *files += 1;
            continue;
        }
        *dirs += 1;
        if (recursive) CountLinkedTree(e->children, true, files, dirs);
    }
}

static int CmdCountDirectoryEntries(lvState *L)
{
    CheckArgs(L, 1, 3);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    long long mode = ReadOptionalIntArg(L, 2, 0);
    bool recursive = HasArg(L, 3) && ValueToBoolean(L, 3) &&
                     !(GetValueType(L, 3) == LV_TNUMBER && ValueToNumber(L, 3) == 0);
    if (mode < 0 || mode > 3) return ERR_WRONGUSAGE;
    if (int code = RewindHandle(d)) return code;
    double files = 0, dirs = 0;
    const char *name;
    int isDir;
    if (!d->dir) CountLinkedTree(d->tree, recursive, &files, &dirs);
    while (d->dir && NextVDirEntry(d->dir, d->restarted, &name, &isDir, nullptr)) {
        d->restarted = 0;
        if (!isDir) {
            files += 1;
            continue;
        }
        dirs += 1;
        if (recursive && !CountTree(std::string(d->path) + "/" + name, true, &files, &dirs, 1)) break;
    }
    if (int code = RewindHandle(d)) return code;
    switch (mode) {
    case 0: PushNumber(L, files); return 1;
    case 1: PushNumber(L, dirs); return 1;
    case 2: PushNumber(L, files + dirs); return 1;
    default: PushNumber(L, files); PushNumber(L, dirs); return 2;
    }
}

// Sorts items 0..count-1 of the table at index t by the machine's comparison.
static void SortTableRange(lvState *L, int t, int count)
{
    std::vector<std::string> items;
    for (int i = 0; i < count; i++) {
        GetTableItemRaw(L, t, i);
        items.emplace_back(ValueToString(L, -1), ValueStringLength(L, -1));
        SetStackTop(L, -2);
    }
    auto collate = GetVMHost()->CollateStrings;
    std::sort(items.begin(), items.end(), [collate](const std::string &a, const std::string &b) {
        return collate(a.data(), a.size(), b.data(), b.size()) < 0;
    });
    for (int i = 0; i < count; i++) {
        PushSizedString(L, items[size_t(i)].data(), items[size_t(i)].size());
        SetTableItemRaw(L, t, i);
    }
}

static int CmdReadDirectory(lvState *L)
{
    CheckArgs(L, 3, 4);
    std::string path = ReadStringArgCopy(L, 1);
    CheckTableArg(L, 2);
    CheckTableArg(L, 3);
    bool sort = !HasArg(L, 4) || (ValueToBoolean(L, 4) && !(GetValueType(L, 4) == LV_TNUMBER && ValueToNumber(L, 4) == 0));
    CheckPathLength(L, path);
    lvVDir *dir;
    int restarted;
    if (int code = OpenScan(path.c_str(), nullptr, &dir, &restarted)) return code;
    int files = 0, dirs = 0;
    const char *name;
    int isDir;
    while (NextVDirEntry(dir, restarted, &name, &isDir, nullptr)) {
        restarted = 0;
        PushString(L, name);
        SetTableItemRaw(L, isDir ? 3 : 2, isDir ? dirs++ : files++);
    }
    CloseVDir(dir);
    PushString(L, "");
    SetTableItemRaw(L, 2, files);
    PushString(L, "");
    SetTableItemRaw(L, 3, dirs);
    if (sort) {
        SortTableRange(L, 2, files);
        SortTableRange(L, 3, dirs);
    }
    PushNumber(L, files);
    PushNumber(L, dirs);
    return 2;
}

// ---- DirectoryItems ----------------------------------------------------------------------

struct lvDirUserData {
    lvVDir *dir;    // the scan, or null once finished
    int restarted;  // passed to the next read
};

static int DirHandleGc(lvState *L)
{
    auto *u = static_cast<lvDirUserData *>(GetTypedUserData(L, 1, "DIR*"));
    if (u && u->dir) {
        CloseVDir(u->dir);
        u->dir = nullptr;
    }
    return 0;
}

static int DirectoryItemsStep(lvState *L)
{
    auto *u = static_cast<lvDirUserData *>(GetUserDataPointer(L, LvUpvalueIndex(1)));
    if (!u || !u->dir) return 0;
    const char *name;
    int isDir;
    lvFileInfo info = {};
    if (!NextVDirEntry(u->dir, u->restarted, &name, &isDir, &info)) {
        CloseVDir(u->dir);
        u->dir = nullptr;
        return 0;
    }
    u->restarted = 0;
    PushString(L, name);
    PushEntryTable(L, isDir, &info);
    return 2;
}

static int CmdDirectoryItems(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    CheckPathLength(L, path);
    auto *u = static_cast<lvDirUserData *>(PushNewUserData(L, sizeof(lvDirUserData)));
    u->dir = nullptr;
    PushNamedMetatable(L, "DIR*");
    AssignMetatable(L, -2);
    if (int code = OpenScan(path.c_str(), nullptr, &u->dir, &u->restarted)) return code;
    PushNativeClosure(L, DirectoryItemsStep, 1);
    return 1;
}

// ---- Current directory and creating directories --------------------------------------------

static int CmdChangeDirectory(lvState *L)
{
    CheckArgs(L, 1, 2);
    std::string path = ReadStringArgCopy(L, 1);
    CheckPathLength(L, path);
    if (int code = ChangeCurrentDir(path.c_str(), nullptr, 0)) {
        SetErrorStringArg(path.c_str());
        return code;
    }
    return 0;
}

static int CmdGetCurrentDirectory(lvState *L)
{
    CheckArgs(L, 0, 1);
    char path[LV_PATH_SIZE];
    if (!GetCurrentDirPath(path, sizeof path, 0)) return ERR_LOCK;
    PushString(L, path);
    return 1;
}

static int CmdMakeDirectory(lvState *L)
{
    CheckArgs(L, 1, 2);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty()) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    std::string adapter = ReadAdapterOption(L, 2);
    return MakeDirectoryLevels(path.c_str(), AdapterOrNull(adapter), nullptr);
}

static int CmdCreateDirectory(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string parent = ReadStringArgCopy(L, 1);
    std::string name = ReadStringArgCopy(L, 2);
    if (name.empty()) return ERR_WRONGUSAGE;
    std::string path = parent;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    CheckPathLength(L, path);
    if (int code = CreateFSDirectory(path.c_str())) {
        SetErrorStringArg(path.c_str());
        return code;
    }
    char full[LV_PATH_SIZE];
    lvVDir *dir = OpenVDir(path.c_str(), LV_VD_READ, nullptr, nullptr);
    if (dir && GetVDirPath(dir, full, sizeof full)) PushString(L, full);
    else PushString(L, path.c_str());
    if (dir) CloseVDir(dir);
    return 1;
}

// ============================================================================
// Copying, moving and deleting
// ============================================================================

// The script side of an operation's questions: the callback function and the
// userdata, held as references; the table is built per question.
class lvScriptFileOpCallback : public lvFileOpCallback {
public:
    lvState *L;       // the machine
    int function;     // reference of the callback function
    int userData;     // reference of the userdata, -1 none

    int Ask(const lvFileOpQuestion &q, lvFileOpAnswer *answer) override
    {
        int base = GetStackTop(L);
        GetTableItemRaw(L, LV_REGISTRYINDEX, function);
        PushNewTable(L);
        SetNumberField(L, "action", q.action);
        if (q.form == LV_QUESTION_FILE) SetStringField(L, "file", q.file ? q.file : "");
        if (q.form == LV_QUESTION_PROGRESS || q.form == LV_QUESTION_PAIR)
            SetStringField(L, "source", q.source ? q.source : "");
        if (q.form != LV_QUESTION_FILE) SetStringField(L, "destination", q.destination ? q.destination : "");
        if (q.form == LV_QUESTION_PROGRESS) {
            SetNumberField(L, "copied", double(q.copied));
            SetNumberField(L, "filesize", double(q.fileSize));
        }
        PushString(L, "userdata");
        if (userData >= 0) GetTableItemRaw(L, LV_REGISTRYINDEX, userData);
        else PushNil(L);
        SetTableValue(L, -3);
        int status = ProtectedCall(L, 1, 1, 0);
        if (status != 0) {
            SetStackTop(L, base);
            return status;
        }
        int type = GetValueType(L, -1);
        answer->isNumber = type == LV_TNUMBER || type == LV_TBOOLEAN;
        answer->number = type == LV_TNUMBER ? ValueToNumber(L, -1) : type == LV_TBOOLEAN ? ValueToBoolean(L, -1) : 0;
        SetStackTop(L, base);
        return 0;
    }
    bool QuitRequested() override { return gVMRun.stopRequest.load() != 0; }
    void Release() override
    {
        ReleaseReference(L, LV_REGISTRYINDEX, function);
        if (userData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, userData);
        delete this;
    }
};

// A callback of the function at index fn (and the userdata at ud, 0 for none).
static lvFileOpCallback *MakeCallback(lvState *L, int fn, int ud)
{
    CheckFunctionArg(L, fn);
    auto *cb = new lvScriptFileOpCallback();
    cb->L = L;
    PushCopy(L, fn);
    cb->function = CreateReference(L, LV_REGISTRYINDEX);
    cb->userData = -1;
    if (ud > 0 && GetValueType(L, ud) != LV_TNONE) {
        PushCopy(L, ud);
        cb->userData = CreateReference(L, LV_REGISTRYINDEX);
    }
    return cb;
}

// The "callback" and "userdata" fields of an options table.
static lvFileOpCallback *ReadCallbackOption(lvState *L, int t)
{
    if (PushField(L, t, "callback") == LV_TNIL) {
        SetStackTop(L, -2);
        return nullptr;
    }
    int fn = GetStackTop(L);
    PushField(L, t, "userdata");
    lvFileOpCallback *cb = MakeCallback(L, fn, GetValueType(L, -1) == LV_TNIL ? 0 : fn + 1);
    SetStackTop(L, -3);
    return cb;
}

// Between the steps of an operation that runs inside its command: a stop request (an
// interrupt, End in a callback, a fatal error) ends it within one step.
// The runtime adds its event poll (events in, a quit request ends the run).
static int (*runtimeStepPoll)(lvState *, int);

void SetDosStepPoll(int (*poll)(lvState *state, int mode)) { runtimeStepPoll = poll; }

static int PollBetweenSteps(lvState *L, int mode)
{
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
    return runtimeStepPoll ? runtimeStepPoll(L, mode) : 0;
}

static void InstallAsyncHooks(lvState *L)
{
    static lvAsyncHooks hooks;
    hooks.PollEvents = PollBetweenSteps;
    hooks.refOps = RefOps(L);
    SetAsyncHooks(&hooks);
}

// Runs an operation, or links it for "async" and pushes its handle.
static int RunOrLink(lvState *L, lvAsyncOperation *op, bool async)
{
    if (!op) return 0;
    InstallAsyncHooks(L);
    if (!async) return RunAsyncToCompletion(L, op);
    AddAsyncOperation(op);
    PushHandleOf(L, &op->header);
    return 1;
}

static int CmdCopyFile(lvState *L)
{
    CheckArgs(L, 2, 7);
    std::string source = ReadStringArgCopy(L, 1);
    std::string destination = ReadStringArgCopy(L, 2);
    lvCopyOptions o;
    std::string newName, pattern, adapter, dstAdapter;
    lvCommandTags tags, dstTags;
    bool async = false;
    if (GetValueType(L, 3) == LV_TTABLE) {
        if (GetStackTop(L) > 3) return ERR_TOOMANYARGS;
        o.matchDir = ReadBoolOption(L, 3, "matchdir", true);
        o.bufferSize = int(ReadIntOption(L, 3, "buffersize", 16384));
        if (o.bufferSize < 1) return ERR_WRONGUSAGE;
        o.failOnError = ReadBoolOption(L, 3, "failonerror", true);
        async = ReadBoolOption(L, 3, "async", false);
        o.force = ReadBoolOption(L, 3, "force", false);
        o.fileDestination = ReadBoolOption(L, 3, "filedst", false);
        newName = ReadStringOption(L, 3, "newname", "", 255);
        pattern = ReadStringOption(L, 3, "pattern", "", 1022);
        adapter = ReadStringOption(L, 3, "adapter", "", 255);
        dstAdapter = ReadStringOption(L, 3, "dstadapter", "", 255);
        ReadTagsOption(L, 3, &tags);
        if (int code = ReadUserTags(L, 3, "dstusertags", nullptr, &dstTags.list)) return code;
        o.callback = ReadCallbackOption(L, 3);
    } else {
        if (HasArg(L, 3)) newName = ReadStringArgCopy(L, 3);
        if (HasArg(L, 6)) pattern = ReadStringArgCopy(L, 6);
        if (HasArg(L, 7)) o.matchDir = ValueToBoolean(L, 7) && !(GetValueType(L, 7) == LV_TNUMBER && ValueToNumber(L, 7) == 0);
        if (HasArg(L, 4)) o.callback = MakeCallback(L, 4, HasArg(L, 5) ? 5 : 0);
    }
    o.newName = newName.empty() ? nullptr : newName.c_str();
    o.pattern = pattern.empty() ? nullptr : pattern.c_str();
    o.adapter = AdapterOrNull(adapter);
    o.destinationAdapter = AdapterOrNull(dstAdapter);
    o.userTags = tags.list;
    o.destinationUserTags = dstTags.list;
    lvAsyncOperation *op = nullptr;
    if (int code = NewCopyOperation(source.c_str(), destination.c_str(), &o, &op)) return code;
    return RunOrLink(L, op, async);
}

static int CmdMoveFile(lvState *L)
{
    CheckArgs(L, 2, 4);
    std::string source = ReadStringArgCopy(L, 1);
    std::string destination = ReadStringArgCopy(L, 2);
    lvMoveOptions o;
    std::string adapter;
    lvCommandTags tags;
    bool async = false;
    if (GetValueType(L, 3) == LV_TTABLE) {
        if (GetStackTop(L) > 3) return ERR_TOOMANYARGS;
        o.failOnError = ReadBoolOption(L, 3, "failonerror", true);
        o.bufferSize = int(ReadIntOption(L, 3, "buffersize", 16384));
        if (o.bufferSize < 1) return ERR_WRONGUSAGE;
        async = ReadBoolOption(L, 3, "async", false);
        o.force = ReadBoolOption(L, 3, "force", false);
        adapter = ReadStringOption(L, 3, "adapter", "", 255);
        ReadTagsOption(L, 3, &tags);
        o.callback = ReadCallbackOption(L, 3);
    } else if (HasArg(L, 3)) {
        o.callback = MakeCallback(L, 3, HasArg(L, 4) ? 4 : 0);
    }
    o.adapter = AdapterOrNull(adapter);
    o.userTags = tags.list;
    lvAsyncOperation *op = nullptr;
    if (int code = NewMoveOperation(source.c_str(), destination.c_str(), &o, &op)) return code;
    return RunOrLink(L, op, async);
}

static int CmdDeleteFile(lvState *L)
{
    CheckArgs(L, 1, 5);
    std::string path = ReadStringArgCopy(L, 1);
    lvDeleteOptions o;
    std::string pattern, adapter;
    lvCommandTags tags;
    bool async = false;
    if (GetValueType(L, 2) == LV_TTABLE) {
        if (GetStackTop(L) > 2) return ERR_TOOMANYARGS;
        o.matchDir = ReadBoolOption(L, 2, "matchdir", true);
        o.recursive = ReadBoolOption(L, 2, "recursive", true);
        o.failOnError = ReadBoolOption(L, 2, "failonerror", true);
        o.mustExist = ReadBoolOption(L, 2, "mustexist", false);
        async = ReadBoolOption(L, 2, "async", false);
        o.force = ReadBoolOption(L, 2, "force", false);
        pattern = ReadStringOption(L, 2, "pattern", "", 1022);
        adapter = ReadStringOption(L, 2, "adapter", "", 255);
        ReadTagsOption(L, 2, &tags);
        o.callback = ReadCallbackOption(L, 2);
    } else {
        if (HasArg(L, 4)) pattern = ReadStringArgCopy(L, 4);
        if (HasArg(L, 5)) o.matchDir = ValueToBoolean(L, 5) && !(GetValueType(L, 5) == LV_TNUMBER && ValueToNumber(L, 5) == 0);
        if (HasArg(L, 2)) o.callback = MakeCallback(L, 2, HasArg(L, 3) ? 3 : 0);
    }
    o.pattern = pattern.empty() ? nullptr : pattern.c_str();
    o.adapter = AdapterOrNull(adapter);
    o.userTags = tags.list;
    lvAsyncOperation *op = nullptr;
    if (int code = NewDeleteOperation(path.c_str(), &o, &op)) return code;
    return RunOrLink(L, op, async);
}

// ContinueAsyncOperation(id): the done flag, then whatever the step produced.
static int CmdContinueAsyncOperation(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvAsyncOperation *op;
    if (int code = FindAsyncOperation(GetObjectIdArg(L, 1), &op)) return code;
    int done = 0;
    int results = ContinueAsyncOperation(L, op, &done);
    if (results >= 1000) return results;
    PushNumber(L, done ? 1 : 0);
    InsertValue(L, -(results + 1));
    return results + 1;
}

static int CmdCancelAsyncOperation(lvState *L)
{
    CheckArgs(L, 1, 1);
    return CancelAsyncOperation(L, GetObjectIdArg(L, 1));
}

static int CmdRename(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string path = ReadStringArgCopy(L, 1);
    std::string newName = ReadStringArgCopy(L, 2);
    CheckPathLength(L, path);
    CheckPathLength(L, newName);
    return RenameObject(path.c_str(), newName.c_str());
}

static int CmdMatchPattern(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string text = ReadStringArgCopy(L, 1);
    std::string list = ReadStringArgCopy(L, 2);
    PushNumber(L, MatchPatternList(text.c_str(), list.c_str()));
    return 1;
}

// ============================================================================
// Paths, attributes and checksums
// ============================================================================

static int CmdExists(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (!path.empty()) path = ResolveLinkedFileName(L, path.c_str(), 0, nullptr);
    lvFileInfoPublic info;
    PushNumber(L, !path.empty() && path.size() < LV_PATH_SIZE && ExaminePath(path.c_str(), &info, 1) ? 1 : 0);
    return 1;
}

static int CmdFileSize(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    lvFileInfoPublic info;
    double size = -1;
    if (!path.empty() && path.size() < LV_PATH_SIZE && ExaminePath(path.c_str(), &info, 1) && !info.isDirectory)
        size = double(info.size);
    PushNumber(L, size);
    return 1;
}

static int CmdIsDirectory(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    CheckPathLength(L, path);
    lvFileInfoPublic info;
    if (path.empty() || !ExaminePath(path.c_str(), &info, 1)) {
        SetErrorStringArg(path.c_str());
        return ERR_STAT;
    }
    PushNumber(L, info.isDirectory ? 1 : 0);
    return 1;
}

static int CmdPathPart(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    size_t start = 0;
    while (start < path.size() && (path[start] == '/' || path[start] == '\\')) start++;
    size_t cut = 0;
    for (size_t i = start; i < path.size(); i++) {
        if (path[i] == '/' || path[i] == '\\' || path[i] == ':') cut = i + 1;
    }
    PushSizedString(L, path.data(), cut);
    return 1;
}

static int CmdFilePart(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    CheckPathLength(L, path);
    PushString(L, FindFilePart(path.c_str()));
    return 1;
}

// FullPath joins with '/' on this system ('\' is read as a separator too).
static int CmdFullPath(lvState *L)
{
    CheckArgs(L, 2, -1);
    std::string out = ReadStringArgCopy(L, 1);
    for (int i = 2; i <= GetStackTop(L); i++) {
        std::string part = ReadStringArgCopy(L, i);
        if (!out.empty() && out.back() != '/' && out.back() != '\\' && out.back() != ':') out += '/';
        out += part;
    }
    if (out.size() > 1023) return ERR_MEM;
    PushSizedString(L, out.data(), out.size());
    return 1;
}

static std::string HostSeparators(std::string path)
{
    for (char &c : path)
        if (c == '\\') c = '/';
    return path;
}

static int CmdMakeHostPath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    path = HostSeparators(path);
    PushSizedString(L, path.data(), path.size());
    return 1;
}

// The full path of a lockable object, or "" when it cannot be locked.
static std::string LockedFullPath(const std::string &path)
{
    lvVDir *dir = OpenVDir(path.c_str(), LV_VD_READ, nullptr, nullptr);
    if (!dir) return "";
    char full[LV_PATH_SIZE];
    std::string out = GetVDirPath(dir, full, sizeof full) ? full : "";
    CloseVDir(dir);
    return out;
}

static int CmdCanonizePath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    path = HostSeparators(path);
    std::string result = LockedFullPath(path);
    if (result.empty()) {
        std::string head = path, tail;
        for (;;) {
            size_t slash = head.find_last_of('/');
            if (slash == std::string::npos) {
                // Nothing of the path exists: relative to the current directory.
                if (path[0] == '/') {
                    result = path;
                } else {
                    char current[LV_PATH_SIZE];
                    if (!GetCurrentDirPath(current, sizeof current, 0)) return ERR_LOCK;
                    result = std::string(current) + "/" + path;
                }
                break;
            }
            std::string last = head.substr(slash + 1);
            tail = tail.empty() ? last : last + "/" + tail;
            head = head.substr(0, slash);
            std::string full = LockedFullPath(head.empty() ? "/" : head);
            if (!full.empty()) {
                result = full + (full.back() == '/' ? "" : "/") + tail;
                break;
            }
        }
    }
    if (result.size() >= LV_PATH_SIZE) return ERR_MEM;
    PushString(L, result.c_str());
    return 1;
}

static int CmdIsAbsolutePath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    bool absolute = path[0] == '/' || path[0] == '\\' || path[0] == '~' || path.find(':') != std::string::npos;
    PushNumber(L, absolute ? 1 : 0);
    return 1;
}

static int CmdGetFileAttributes(lvState *L)
{
    CheckArgs(L, 1, 2);
    std::string given = ReadStringArgCopy(L, 1);
    std::string path = ResolveLinkedFileName(L, given.c_str(), 0, nullptr);
    CheckPathLength(L, path);
    std::string adapter;
    if (GetValueType(L, 2) == LV_TSTRING) adapter = ReadStringArgCopy(L, 2);
    else adapter = ReadAdapterOption(L, 2);
    lvFileInfo info = {};
    std::string full;
    lvVDir *dir = OpenVDir(path.c_str(), LV_VD_READ | LV_VD_ADAPTERS, AdapterOrNull(adapter), nullptr);
    if (dir) {
        ExamineVDir(dir, &info);
        char buf[LV_PATH_SIZE];
        full = GetVDirPath(dir, buf, sizeof buf) ? buf : path;
        CloseVDir(dir);
    } else {
        lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ | LV_VF_ADAPTERS, AdapterOrNull(adapter), nullptr);
        if (!f) {
            SetErrorStringArg(path.c_str());
            return ERR_READFILE;
        }
        int ok = ExamineVFile(f, &info);
        CloseVFile(f);
        if (!ok) {
            SetErrorStringArg(path.c_str());
            return ERR_EXAMINE;
        }
        full = info.fullPath ? info.fullPath : path;
    }
    bool chunk = IsChunkName(path.c_str());
    PushAttributeTable(L, &info, chunk ? given.c_str() : full.c_str());
    SetNumberField(L, "virtual", chunk ? 1 : 0);
    return 1;
}

static int CmdSetFileAttributes(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string path = ReadStringArgCopy(L, 1);
    CheckTableArg(L, 2);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    lvVDir *dir = OpenVDir(path.c_str(), LV_VD_READ, nullptr, nullptr);
    if (!dir) {
        SetErrorStringArg(path.c_str());
        return ERR_LOCK2;
    }
    lvFileInfo info = {};
    ExamineVDir(dir, &info);
    CloseVDir(dir);
    bool haveFlags = false;
    ReadStringOption(L, 2, "flags", "", 64, &haveFlags);
    uint32_t flags = haveFlags ? uint32_t(ReadIntOption(L, 2, "flags", 0)) : 0;
    // The three dates, each parsed from the date-string form; index 0 creation,
    // 1 last access, 2 last change.
    static const char *const kDateFields[3] = {"creationtime", "lastaccesstime", "time"};
    bool haveDates = false;
    for (int i = 0; i < 3; i++) {
        bool present = false;
        std::string text = ReadStringOption(L, 2, kDateFields[i], "", 255, &present);
        if (!present) continue;
        lvDateFields f;
        if (!ParseDateString(text.c_str(), &f)) return ERR_INVALIDDATE;
        lvFileDate d = {f.second, f.minute, f.hour, f.day, f.month, f.year};
        if (!DateToFileTime(&d, &info, i)) return ERR_INVALIDDATE;
        haveDates = true;
    }
    if (haveFlags && !SetFSObjectFlags(path.c_str(), flags)) return ERR_SETFILEATTR;
    if (haveDates && !SetFileTimes(path.c_str(), &info.creationTime, &info.accessTime, &info.writeTime))
        return ERR_SETFILEDATE;
    return 0;
}

static int CmdCreateFile(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string dir = ReadStringArgCopy(L, 1);
    std::string name = ReadStringArgCopy(L, 2);
    if (name.empty()) return ERR_WRONGUSAGE;
    std::string path = dir;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    CheckPathLength(L, path);
    SetErrorStringArg(path.c_str());
    if (lvVFile *f = OpenVFile(path.c_str(), LV_VF_READ, nullptr, nullptr)) {
        CloseVFile(f);
        return ERR_WRITEFILE;
    }
    lvVFile *f = OpenVFile(path.c_str(), LV_VF_WRITE, nullptr, nullptr);
    if (!f) return ERR_WRITEFILE;
    CloseVFile(f);
    std::string full = LockedFullPath(path);
    PushString(L, full.empty() ? path.c_str() : full.c_str());
    return 1;
}

static int CmdHaveVolume(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    lvFileInfoPublic info;
    PushNumber(L, !path.empty() && path.size() < LV_PATH_SIZE && ExaminePath(path.c_str(), &info, 1) ? 1 : 0);
    return 1;
}

static int CmdGetStartDirectory(lvState *L)
{
    CheckArgs(L, 0, 0);
    char path[LV_PATH_SIZE];
    GetStartupDirectory(path, sizeof path);
    PushString(L, path);
    return 1;
}

static int CmdGetProgramDirectory(lvState *L)
{
    CheckArgs(L, 0, 0);
    char path[LV_PATH_SIZE];
    if (!GetProgramDir(path, sizeof path, 0)) return ERR_LOCK;
    PushString(L, path);
    return 1;
}

// Kept for scripts; nothing on this system reads the switch.
static int CmdAllowBackslash(lvState *L)
{
    CheckArgs(L, 1, 1);
    gDos.allowBackslash = ValueToBoolean(L, 1);
    return 0;
}

static int CmdGetVolumeName(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty()) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    char label[256];
    if (int code = GetOsVolumeName(path.c_str(), label, sizeof label)) {
        SetErrorStringArg(path.c_str());
        return code;
    }
    PushString(L, label);
    return 1;
}

static int CmdGetVolumeInfo(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string path = ReadStringArgCopy(L, 1);
    long long kind = ReadIntArg(L, 2);
    if (path.empty()) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    double freeBytes = 0, usedBytes = 0;
    if (int code = GetVolumeSpace(path.c_str(), &freeBytes, &usedBytes)) {
        SetErrorStringArg(path.c_str());
        return code;
    }
    PushNumber(L, kind ? freeBytes : usedBytes);
    return 1;
}

// The file is listed by the run and deleted at its end.
static int CmdGetTempFileName(lvState *L)
{
    CheckArgs(L, 0, 0);
    char path[LV_PATH_SIZE];
    if (int code = NewTempFile(path, sizeof path)) return code;
    PushString(L, path);
    return 1;
}

static int CmdGetEnv(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    char *value = GetEnvVar(name.c_str());
    PushString(L, value ? value : "");
    PushNumber(L, value ? 1 : 0);
    if (value) FreeMemory(value);
    return 2;
}

static int CmdSetEnv(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string name = ReadStringArgCopy(L, 1);
    std::string value = ReadStringArgCopy(L, 2);
    return SetEnvVar(name.c_str(), value.c_str());
}

static int CmdUnsetEnv(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    return UnsetEnvVar(name.c_str());
}

enum lvChecksumKind { LV_SUM_CRC32, LV_SUM_MD5, LV_SUM_SHA1 };

// Reads the file in 64 KB blocks into one of the three digests.
static int ChecksumCommand(lvState *L, lvChecksumKind kind)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    if (name.empty()) return ERR_WRONGUSAGE;
    CheckPathLength(L, name);
    lvVFile *f = OpenVFile(name.c_str(), LV_VF_READ | LV_VF_ADAPTERS, nullptr, nullptr);
    if (!f) {
        SetErrorStringArg(name.c_str());
        return ERR_READFILE;
    }
    uint32_t crc = 0;
    lvMd5State md5;
    lvSha1State sha1;
    BeginMd5(&md5);
    BeginSha1(&sha1);
    std::vector<char> block(65536);
    for (;;) {
        int64_t n = ReadVFile(f, block.data(), int64_t(block.size()));
        if (n <= 0) break;
        if (kind == LV_SUM_CRC32) crc = UpdateCrc32(crc, block.data(), size_t(n));
        else if (kind == LV_SUM_MD5) UpdateMd5(&md5, block.data(), n);
        else UpdateSha1(&sha1, block.data(), n);
    }
    CloseVFile(f);
    if (kind == LV_SUM_CRC32) {
        PushNumber(L, crc);
        return 1;
    }
    uint8_t digest[20];
    char hex[41];
    if (kind == LV_SUM_MD5) {
        FinishMd5(&md5, digest);
        DigestToHex(digest, 16, hex);
    } else {
        FinishSha1(digest, &sha1);
        DigestToHex(digest, 20, hex);
    }
    PushString(L, hex);
    return 1;
}

static int CmdCRC32(lvState *L) { return ChecksumCommand(L, LV_SUM_CRC32); }
static int CmdMD5(lvState *L) { return ChecksumCommand(L, LV_SUM_MD5); }
static int CmdSHA1(lvState *L) { return ChecksumCommand(L, LV_SUM_SHA1); }

// ============================================================================
// External programs and the directory monitor
// ============================================================================

static bool HandlerInstalled(lvState *L, const char *name) { return gDos.handlers && gDos.handlers(L, name); }

// Execute's wait for a captured run: the job wakes the script when it writes or ends; a
// stop request (an interrupt, End, a fatal error) ends the wait within a tenth of a second.
static int WaitForCapturedRun(void *context)
{
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
    WaitScriptWake(context, 50);
    return gVMRun.stopRequest.load(std::memory_order_relaxed) ? ERR_USERABORT : 0;
}

// Execute and Run share the argument forms and options.
static int ProgramCommand(lvState *L, bool isRun)
{
    CheckArgs(L, 1, 3);
    std::string program = ReadStringArgCopy(L, 1);
    std::string arguments, directory, verb, ignore;
    bool haveArguments = false;
    lvRunRequest r = {};
    r.isRun = isRun;
    r.runUserData = -1;
    int options = 0;
    if (GetValueType(L, 2) == LV_TSTRING) {
        arguments = ReadStringArgCopy(L, 2);
        haveArguments = true;
        if (GetValueType(L, 3) == LV_TTABLE) options = 3;
    } else if (GetValueType(L, 2) == LV_TTABLE) {
        options = 2;
    } else if (isRun && HasArg(L, 3)) {
        // Older form Run(command line, resetkeys, userdata).
        PushCopy(L, 3);
        r.runUserData = CreateReference(L, LV_REGISTRYINDEX);
    }
    if (options) {
        r.forceExe = ReadBoolOption(L, options, "forceexe", false);
        r.hide = ReadBoolOption(L, options, "hide", false);
        r.consoleMode = ReadBoolOption(L, options, "consolemode", false);
        if (!isRun) r.captureOutput = ReadBoolOption(L, options, "captureoutput", false);
        if (isRun) {
            r.rawMode = ReadBoolOption(L, options, "rawmode", false);
            r.returnCode = ReadBoolOption(L, options, "returncode", false);
            ignore = ReadStringOption(L, options, "ignorehandlers", "", 1023);
        }
        directory = ReadStringOption(L, options, "directory", "", 1023);
        verb = ReadStringOption(L, options, "verb", "", 255);
        if (isRun) r.runUserData = ReadRefOption(L, options, "userdata");
    }
    if (!haveArguments) {
        // One command line: its program part may name a program linked into the applet.
        std::vector<char> split(LV_PATH_SIZE);
        const char *rest = nullptr;
        if (int code = SplitCommandLine(program.c_str(), split.data(), split.size(), &rest)) return code;
        if (split[0]) {
            arguments = rest ? rest : "";
            haveArguments = true;
            program = split.data();
        }
    }
    if (haveArguments) program = ResolveLinkedFileName(L, program.c_str(), 0, nullptr);
    r.program = program.c_str();
    r.arguments = haveArguments ? arguments.c_str() : nullptr;
    r.directory = directory.c_str();
    r.verb = verb.c_str();
    r.ignoreHandlers = ignore.c_str();
    r.haveRunFinishedHandler = HandlerInstalled(L, "RunFinished");
    r.haveRunOutputHandler = HandlerInstalled(L, "RunOutput");
    r.WaitEvents = WaitForCapturedRun;
    r.waitContext = L;
    lvRunOutcome out = {};
    int code = StartProgram(&r, &out);
    if (!out.userDataTaken && r.runUserData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, r.runUserData);
    if (code) return code;
    if (!out.captured) return 0;
    PushNumber(L, out.exitCode);
    PushSizedString(L, reinterpret_cast<const char *>(out.output), out.outputLength);
    if (out.output) FreeMemory(out.output);
    return 2;
}

static int CmdExecute(lvState *L) { return ProgramCommand(L, false); }
static int CmdRun(lvState *L) { return ProgramCommand(L, true); }

static int CmdMonitorDirectory(lvState *L)
{
    CheckArgCount(L, 2, 3, 8, 0);
    bool nilId = GetValueType(L, 1) == LV_TNIL;
    int number = nilId ? 0 : int(ReadIntArg(L, 1));
    std::string path = ReadStringArgCopy(L, 2);
    CheckPathLength(L, path);
    bool all = false, reportChanges = false;
    int userData = -1;
    if (GetStackTop(L) >= 3) {
        CheckTableArg(L, 3);
        all = ReadBoolOption(L, 3, "all", false);
        reportChanges = ReadBoolOption(L, 3, "reportchanges", false);
        userData = ReadRefOption(L, 3, "userdata");
    }
    if (!nilId) {
        lvDirectoryHandle *old;
        if (FindDirHandle({number, nullptr}, &old) == 0) CloseDirectoryHandle(old, RefOps(L));
    }
    lvDirectoryHandle *d = NewDirectoryHandle(number, nilId);
    if (!d) {
        if (userData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, userData);
        return ERR_MEM;
    }
    if (int code = StartDirMonitor(path.c_str(), all, reportChanges, userData, &d->header.identifier, &d->monitor)) {
        if (userData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, userData);
        CloseDirectoryHandle(d, RefOps(L));
        return code;
    }
    std::snprintf(d->path, sizeof d->path, "%s", d->monitor->path);
    if (!nilId) return 0;
    PushHandleOf(L, &d->header);
    return 1;
}

// ---- Script events ----------------------------------------------------------------------------

// The handle identifier of a monitor's directory handle (its ownerId points into the header).
static lvObjectId MonitorOwnerId(const lvDirMonitor *monitor)
{
    for (lvObjectHeader *h = gDos.dirs; h; h = h->next) {
        if (&h->identifier == monitor->ownerId) return GetObjectIdOf(h);
    }
    return {monitor->ownerId ? *monitor->ownerId : 0, nullptr};
}

void DescribeDosEvent(int kind, uintptr_t first, void *payload, const lvDosEventFieldSink *sink)
{
    void *c = sink->context;
    if (kind == 25 || kind == 29) {
        const lvRunJob *job = kind == 25 ? reinterpret_cast<const lvRunJob *>(first)
                                         : (payload ? static_cast<lvOutputChunk *>(payload)->job : nullptr);
        if (!job) return;
        sink->Text(c, "program", job->program);
        sink->Text(c, "args", job->arguments ? job->arguments : "");
        if (kind == 25 && (job->flags & LV_RUN_RETURNCODE)) sink->Number(c, "returncode", job->exitCode.load());
        if (kind == 29) {
            auto *chunk = static_cast<lvOutputChunk *>(payload);
            // Without raw mode every byte that starts no valid UTF-8 sequence becomes '?';
            // the text keeps its length, so the chunk takes it in place.
            if (!(job->flags & LV_RUN_RAWMODE)) {
                if (char *text = MakeOutputText(chunk, 0)) {
                    std::memcpy(chunk->text, text, chunk->length);
                    FreeMemory(text);
                }
            }
            sink->Text(c, "output", chunk->text);
        }
        if (job->runUserData >= 0) sink->Reference(c, "runuserdata", job->runUserData);
        return;
    }
    if (kind == 26 || kind == 34) {
        const lvDirMonitor *monitor = kind == 26 ? reinterpret_cast<const lvDirMonitor *>(first)
                                                 : (payload ? static_cast<lvDirChange *>(payload)->monitor : nullptr);
        if (!monitor) return;
        lvObjectId id = MonitorOwnerId(monitor);
        sink->ObjectId(c, "id", id.number, id.handle);
        sink->Text(c, "directory", monitor->path);
        if (monitor->userDataRef >= 0) sink->Reference(c, "monitoruserdata", monitor->userDataRef);
        if (kind == 34) {
            auto *change = static_cast<lvDirChange *>(payload);
            sink->Number(c, "type", change->kind);
            sink->Text(c, "name", change->name);
        }
    }
}

int DosJobWantsReport(void *job) { return RunJobWantsReport(static_cast<lvRunJob *>(job)); }

void ReleaseDosRunJob(lvState *L, void *job)
{
    for (lvRunJob *j = FirstRunJob(); j; j = j->next) {
        if (j == job) {
            ReleaseRunJob(j, RefOps(L));
            return;
        }
    }
}

// ============================================================================
// Object types
// ============================================================================

static int FileAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvFileHandle *h;
    if (int code = FindFileHandle(id, &h)) return code;
    switch (attribute) {
    case 42: PushNumber(L, h->mode); return 1;
    case 122: PushNumber(L, h->encoding); return 1;
    case 19: PushString(L, ""); return 1;
    case 87: {
        const char *name = GetVFileAdapterName(h->stream);
        PushString(L, name && *name ? name : "inbuilt");
        return 1;
    }
    default: return ERR_UNKNOWNATTR;
    }
}

static int DirectoryAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvDirectoryHandle *d;
    if (int code = FindDirHandle(id, &d)) return code;
    switch (attribute) {
    case 19: {
        const char *name = d->dir ? GetVDirFormatName(d->dir) : nullptr;
        PushString(L, name ? name : "");
        return 1;
    }
    case 87: {
        if (d->monitor || !d->dir) return ERR_WRONGUSAGE;
        const char *name = GetVDirAdapterName(d->dir);
        PushString(L, name && *name ? name : "inbuilt");
        return 1;
    }
    default: return ERR_UNKNOWNATTR;
    }
}

// ============================================================================
// The library
// ============================================================================

static const lvCommandEntry kDosCommands[] = {
    {"OpenFile", CmdOpenFile},
    {"CloseFile", CmdCloseFile},
    {"Eof", CmdEof},
    {"ReadChr", CmdReadChr},
    {"ReadByte", CmdReadByte},
    {"ReadShort", CmdReadShort},
    {"ReadInt", CmdReadInt},
    {"ReadFloat", CmdReadFloat},
    {"ReadString", CmdReadString},
    {"ReadBytes", CmdReadBytes},
    {"ReadLine", CmdReadLine},
    {"WriteChr", CmdWriteChr},
    {"WriteByte", CmdWriteByte},
    {"WriteShort", CmdWriteShort},
    {"WriteInt", CmdWriteInt},
    {"WriteFloat", CmdWriteFloat},
    {"WriteString", CmdWriteString},
    {"WriteBytes", CmdWriteBytes},
    {"WriteLine", CmdWriteLine},
    {"Seek", CmdSeek},
    {"FilePos", CmdFilePos},
    {"FileLength", CmdFileLength},
    {"FlushFile", CmdFlushFile},
    {"SetIOMode", CmdSetIOMode},
    {"UseCarriageReturn", CmdUseCarriageReturn},
    {"SetFileEncoding", CmdSetFileEncoding},
    {"FileAttributes", CmdFileAttributes},
    {"FileToString", CmdFileToString},
    {"StringToFile", CmdStringToFile},
    {"FileLines", CmdFileLines},
    {"DefineVirtualFile", CmdDefineVirtualFile},
    {"DefineVirtualFileFromString", CmdDefineVirtualFileFromString},
    {"UndefineVirtualStringFile", CmdUndefineVirtualStringFile},
    {"OpenDirectory", CmdOpenDirectory},
    {"CloseDirectory", CmdCloseDirectory},
    {"NextDirectoryEntry", CmdNextDirectoryEntry},
    {"GetDirectoryEntry", CmdGetDirectoryEntry},
    {"RewindDirectory", CmdRewindDirectory},
    {"CountDirectoryEntries", CmdCountDirectoryEntries},
    {"ReadDirectory", CmdReadDirectory},
    {"DirectoryItems", CmdDirectoryItems},
    {"ChangeDirectory", CmdChangeDirectory},
    {"GetCurrentDirectory", CmdGetCurrentDirectory},
    {"MakeDirectory", CmdMakeDirectory},
    {"CreateDirectory", CmdCreateDirectory},
    {"CopyFile", CmdCopyFile},
    {"MoveFile", CmdMoveFile},
    {"DeleteFile", CmdDeleteFile},
    {"Rename", CmdRename},
    {"MatchPattern", CmdMatchPattern},
    {"Exists", CmdExists},
    {"FileSize", CmdFileSize},
    {"IsDirectory", CmdIsDirectory},
    {"PathPart", CmdPathPart},
    {"FilePart", CmdFilePart},
    {"FullPath", CmdFullPath},
    {"MakeHostPath", CmdMakeHostPath},
    {"CanonizePath", CmdCanonizePath},
    {"IsAbsolutePath", CmdIsAbsolutePath},
    {"GetFileAttributes", CmdGetFileAttributes},
    {"SetFileAttributes", CmdSetFileAttributes},
    {"CreateFile", CmdCreateFile},
    {"HaveVolume", CmdHaveVolume},
    {"GetStartDirectory", CmdGetStartDirectory},
    {"GetProgramDirectory", CmdGetProgramDirectory},
    {"AllowBackslash", CmdAllowBackslash},
    {"GetVolumeName", CmdGetVolumeName},
    {"GetVolumeInfo", CmdGetVolumeInfo},
    {"GetTempFileName", CmdGetTempFileName},
    {"GetEnv", CmdGetEnv},
    {"SetEnv", CmdSetEnv},
    {"UnsetEnv", CmdUnsetEnv},
    {"CRC32", CmdCRC32},
    {"MD5", CmdMD5},
    {"SHA1", CmdSHA1},
    {"Execute", CmdExecute},
    {"Run", CmdRun},
    {"MonitorDirectory", CmdMonitorDirectory},
    {nullptr, nullptr},
};

static const lvConstantEntry kDosConstants[] = {
    {"FILE", nullptr, 44}, {"DIRECTORY", nullptr, 45}, {"ATTRMODE", nullptr, 42},
    {"ATTRENCODING", nullptr, 122}, {"ATTRFORMAT", nullptr, 19}, {"ATTRADAPTER", nullptr, 87},
    {"FREESPACE", nullptr, 1}, {"USEDSPACE", nullptr, 0}, {"EOF", nullptr, -1},
    {"MODE_READWRITE", nullptr, 1004}, {"MODE_WRITE", nullptr, 1006}, {"MODE_READ", nullptr, 1005},
    {"COPYFILE_STATUS", nullptr, 0}, {"COPYFILE_OVERWRITE", nullptr, 1}, {"COPYFILE_UNPROTECT", nullptr, 2},
    {"COPYFILE_FAILED", nullptr, 3}, {"MOVEFILE_UNPROTECT", nullptr, 0}, {"MOVEFILE_COPY", nullptr, 1},
    {"MOVEFILE_COPYFAILED", nullptr, 3}, {"MOVEFILE_DELETE", nullptr, 2}, {"MOVEFILE_DELETEFAILED", nullptr, 4},
    {"DELETEFILE_STATUS", nullptr, 0}, {"DELETEFILE_UNPROTECT", nullptr, 1}, {"DELETEFILE_FAILED", nullptr, 2},
    {"IO_BUFFERED", nullptr, 0}, {"IO_UNBUFFERED", nullptr, 1}, {"IO_LITTLEENDIAN", nullptr, 1},
    {"IO_SIGNED", nullptr, 2}, {"IO_UNSIGNED", nullptr, 4}, {"IO_FAKE64", nullptr, 8},
    {"FILEATTR_NORMAL", nullptr, 65536}, {"FILEATTR_READ_USR", nullptr, 1}, {"FILEATTR_WRITE_USR", nullptr, 2},
    {"FILEATTR_DELETE_USR", nullptr, 4}, {"FILEATTR_EXECUTE_USR", nullptr, 8}, {"FILEATTR_READ_GRP", nullptr, 512},
    {"FILEATTR_WRITE_GRP", nullptr, 1024}, {"FILEATTR_EXECUTE_GRP", nullptr, 2048},
    {"FILEATTR_READ_OTH", nullptr, 4096}, {"FILEATTR_WRITE_OTH", nullptr, 8192},
    {"FILEATTR_EXECUTE_OTH", nullptr, 16384}, {"FILEATTR_PURE", nullptr, 16}, {"FILEATTR_ARCHIVE", nullptr, 32},
    {"FILEATTR_SCRIPT", nullptr, 64}, {"FILEATTR_HIDDEN", nullptr, 128}, {"FILEATTR_SYSTEM", nullptr, 256},
    {"FILEATTR_READONLY", nullptr, 32768}, {"DOSTYPE_FILE", nullptr, 0}, {"DOSTYPE_DIRECTORY", nullptr, 1},
    {"SEEK_BEGINNING", nullptr, 1}, {"SEEK_CURRENT", nullptr, 0}, {"SEEK_END", nullptr, 2},
    {"COUNTFILES", nullptr, 0}, {"COUNTDIRECTORIES", nullptr, 1}, {"COUNTBOTH", nullptr, 2},
    {"COUNTSEPARATE", nullptr, 3}, {"STDIN", "::stdin", 0}, {"STDOUT", "::stdout", 0},
    {"STDERR", "::stderr", 0}, {"MEDIA_DOWNLOADS", "::downloads", 0}, {"MEDIA_IMAGES", "::images", 0},
    {"MEDIA_VIDEOS", "::videos", 0}, {"MEDIA_MUSIC", "::music", 0},
    {nullptr, nullptr, 0},
};

// The two commands that drive async operations; the library that lists them takes this table.
static const lvCommandEntry kAsyncOperationCommands[] = {
    {"ContinueAsyncOperation", CmdContinueAsyncOperation},
    {"CancelAsyncOperation", CmdCancelAsyncOperation},
    {nullptr, nullptr},
};

// The async library's constants (draws come with the layer engine; their numbers are
// fixed already).
static const lvConstantEntry kAsyncConstants[] = {
    {"ASYNCDRAW", nullptr, 37}, {"ASYNCOBJ", nullptr, LV_ASYNCOBJ}, {"ATTRTYPE", nullptr, 9},
    {"ATTRNUMFRAMES", nullptr, 11}, {"ATTRCURFRAME", nullptr, 12}, {"ADF_FX", nullptr, 0},
    {"ADF_MOVEOBJECT", nullptr, 1}, {"ADF_ANIM", nullptr, 2},
    {nullptr, nullptr, 0},
};

const lvCommandEntry *GetDosCommands() { return kDosCommands; }
const lvCommandEntry *GetAsyncOperationCommands() { return kAsyncOperationCommands; }
const lvConstantEntry *GetAsyncOperationConstants() { return kAsyncConstants; }

int OpenAsyncOperationLibrary(lvState *L)
{
    InstallAsyncHooks(L);
    if (int code = RegisterCommandTable(L, kAsyncOperationCommands, "async")) return code;
    if (FindObjectType(LV_ASYNCOBJ)) return 0;
    return RegisterObjectType(LV_ASYNCOBJ, "Async objects", GetAsyncOperationList(), nullptr, nullptr, 0);
}

void FreeAsyncOperationObjects(lvState *L, int)
{
    InstallAsyncHooks(L);
    FreeAsyncOperations(L);
}
const lvConstantEntry *GetDosConstants() { return kDosConstants; }

// A metatable of the name whose "__index" is itself and "__gc" closes the userdata.
static void MakeCloseMetatable(lvState *L, const char *name, lvCommandFunction gc)
{
    NewNamedMetatable(L, name);
    PushString(L, "__index");
    PushCopy(L, -2);
    SetTableValueRaw(L, -3);
    PushString(L, "__gc");
    PushNativeClosure(L, gc, 0);
    SetTableValueRaw(L, -3);
    SetStackTop(L, -2);
}

int OpenDosLibrary(lvState *L)
{
    RefOps(L);
    MakeCloseMetatable(L, "FILE*", FileHandleGc);
    MakeCloseMetatable(L, "DIR*", DirHandleGc);
    if (int code = RegisterCommandTable(L, kDosCommands, "dos")) return code;
    if (!FindObjectType(LV_FILE_OBJECT)) {
        if (int code = RegisterObjectType(LV_FILE_OBJECT, "Files", &GetDosFileState()->files, FileAttribute,
                                          nullptr, 0))
            return code;
    }
    if (!FindObjectType(LV_DIRECTORY_OBJECT)) {
        if (int code = RegisterObjectType(LV_DIRECTORY_OBJECT, "Directories", &gDos.dirs, DirectoryAttribute,
                                          nullptr, 0))
            return code;
    }
    return 0;
}

void FreeDosObjects(lvState *L, int full)
{
    (void)full;
    const lvRefOps *ops = RefOps(L);
    FreeFileHandles(ops);
    while (gDos.dirs) CloseDirectoryHandle(reinterpret_cast<lvDirectoryHandle *>(gDos.dirs), ops);
    for (lvLinkedDirEntry *tree : gOfferedTrees) FreeLinkedDirTree(tree);
    gOfferedTrees.clear();
    FreeRunJobs(ops);
    GetDosFileState()->ioMode = 0;
    GetDosFileState()->carriageReturn = 1;
    SetVFileIOMode(0);
}
