// lib_dos.cpp - the dos library's script commands: files, directories, copying,
// moving and deleting, paths and checksums, environment variables, external
// programs and the directory monitor.
//
// Each command checks its argument count and arguments, calls one engine function
// and pushes the results; an engine's error code is the command's answer. The
// engines: dos_engine (file handles), dos_dirs (directory handles and monitors),
// dos_paths (paths, attributes, whole files, checksums), fileops_engine (copy, move,
// delete, patterns), process_engine (Execute, Run), dirmonitor_engine (the monitor);
// dos_options reads the option tables and makes the script callbacks.
//
// Depends on: vm/lvvm.h, runtime/cmdsupport.h, runtime/errors.h, the engines above,
// libs/strings_engine.h (the default encoding), runtime/asyncop.h. Script thread only.
// Limits: paths of LV_PATH_SIZE bytes (longer ones are errors, never cut); "usertags"
// options are not handed to adapters.
#include "libs/lib_dos.h"

#include <string>
#include <vector>

#include "libs/dirmonitor_engine.h"
#include "libs/dos_dirs.h"
#include "libs/dos_engine.h"
#include "libs/dos_options.h"
#include "libs/dos_paths.h"
#include "libs/fileops_engine.h"
#include "libs/fsadapter.h"
#include "libs/process_engine.h"
#include "libs/strings_engine.h"
#include "libs/time_engine.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_startup.h"
#include "runtime/asyncop.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/vdir.h"

// ==== Argument counts and identifiers ================================================

// Argument counts without an applet-version condition; max 0 with min > 0: no upper bound.
static void CheckArgs(lvState *L, int min, int max) { CheckArgCount(L, min, max < 0 ? 0 : max, 0, 0); }

static void PushHandleOf(lvState *L, const lvObjectHeader *header) { PushObjectId(L, GetObjectIdOf(header)); }

// ==== Library state ==================================================================

struct lvDosLibrary {
    lvState *L;                // the machine whose registry holds the references
    lvRefOps refOps;           // user-data references of that machine
    lvHandlerQuery handlers;   // installed-handler query of the events library, or null
    int allowBackslash;        // AllowBackslash's switch (no operation reads it)
};

static lvDosLibrary gDos = {nullptr, {}, nullptr, 0};

static const lvRefOps *RefOps(lvState *L)
{
    gDos.L = L;
    gDos.refOps = MakeRegistryRefOps(L);
    return &gDos.refOps;
}

void SetDosHandlerQuery(lvHandlerQuery query) { gDos.handlers = query; }

// Clears the current display's key and button states after Execute and Run ("resetkeys");
// the display library installs it.
static void (*gResetInput)(lvState *L);
void SetDosInputReset(void (*reset)(lvState *L)) { gResetInput = reset; }

static int DefaultEncoding() { return GetStringSettings()->defaultEncoding == 1 ? 1 : 0; }

// ==== Arguments and options ==========================================================

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

static const char *AdapterOrNull(const std::string &s) { return s.empty() ? nullptr : s.c_str(); }

// Fails with ERR_MEM when a path does not fit a path buffer (never cut).
static void CheckPathLength(lvState *L, const std::string &path)
{
    if (path.size() >= LV_PATH_SIZE) {
        SetErrorStringArg(path.substr(0, 64).c_str());
        RaiseError(L, ERR_MEM);
    }
}

// ==== Entry tables ===================================================================

// Pushes {"type", "size" (files), "flags", "time", "lastaccesstime", "creationtime"}.
static void PushEntryTable(lvState *L, int isDirectory, const lvFileInfo *info)
{
    PushNewTable(L);
    SetFieldNumber(L, "type", isDirectory ? 1 : 0);
    if (!isDirectory) SetFieldNumber(L, "size", double(info->size));
    // Archive and system have no meaning on this system: they read as 0.
    SetFieldNumber(L, "flags", info->attributes & ~uint32_t(LV_FILEATTR_ARCHIVE | LV_FILEATTR_SYSTEM));
    char date[64];
    FormatFileDate(info, 2, date, sizeof date);
    SetFieldString(L, "time", date);
    FormatFileDate(info, 1, date, sizeof date);
    SetFieldString(L, "lastaccesstime", date);
    FormatFileDate(info, 0, date, sizeof date);
    SetFieldString(L, "creationtime", date);
}

// ==== Files ==========================================================================

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
        encoding = int(IntOption(L, 4, "encoding", -1));
        writeBom = SwitchOption(L, 4, "writebom", false);
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
    PushNumber(L, IsFileHandleAtEnd(h) ? 1 : 0);
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
static int ReadIntegerCommand(lvState *L, int size)
{
    CheckArgs(L, 1, 2);
    lvFileHandle *h = CheckFileHandle(L, 1);
    double value;
    if (int e = ReadHandleInteger(h, size, int(ReadOptionalIntArg(L, 2, 0)), &value)) return e;
    PushNumber(L, value);
    return 1;
}

static int CmdReadByte(lvState *L) { return ReadIntegerCommand(L, 1); }
static int CmdReadShort(lvState *L) { return ReadIntegerCommand(L, 2); }
static int CmdReadInt(lvState *L) { return ReadIntegerCommand(L, 4); }

static int CmdReadFloat(lvState *L)
{
    CheckArgs(L, 1, 3);
    lvFileHandle *h = CheckFileHandle(L, 1);
    int size = int(ReadOptionalIntArg(L, 2, 8));
    int flags = int(ReadOptionalIntArg(L, 3, 0));
    double value;
    if (int e = ReadHandleFloat(h, size, flags, &value)) return e;
    PushNumber(L, value);
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
    int code = WriteHandleInteger(h, size, int(ReadOptionalIntArg(L, 3, 0)), value);
    if (code == ERR_OUTOFRANGE) RaiseError(L, code);  // a wrong argument, as every other
    return code;
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
    return WriteHandleFloat(h, size, flags, value);
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
    return SeekFileHandle(h, position, int(ReadOptionalIntArg(L, 3, 1)));
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
    SetFieldString(L, "path", path);
    SetFieldString(L, "name", FindFilePart(path));
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
    SetFieldNumber(L, "streaming", flags & 1);
    SetFieldNumber(L, "noseek", (flags >> 1) & 1);
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
    std::string data;
    if (int code = ReadWholeFile(name.c_str(), AdapterOrNull(adapter), tags.list, &data)) return code;
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
    return WriteWholeFile(name.c_str(), AdapterOrNull(adapter), tags.list, data, n);
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
    if (!ReadLinePiece(u->stream, &line)) {
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

// ==== Directories ====================================================================

static lvDirectoryHandle *CheckDirHandle(lvState *L, int i, bool refuseMonitor)
{
    lvDirectoryHandle *d;
    if (int code = FindDirHandle(GetObjectIdArg(L, i), &d)) RaiseError(L, code);
    if (refuseMonitor && d->monitor) RaiseError(L, ERR_WRONGUSAGE);
    return d;
}

static int CmdOpenDirectory(lvState *L)
{
    CheckArgs(L, 2, 3);
    lvDirOpenRequest r = {};
    lvCommandTags tags;
    r.nilId = GetValueType(L, 1) == LV_TNIL;
    r.number = r.nilId ? 0 : int(ReadIntArg(L, 1));
    std::string path = ReadStringArgCopy(L, 2);
    CheckPathLength(L, path);
    std::string adapter;
    r.recursive = true;
    if (GetStackTop(L) >= 3) {
        CheckTableArg(L, 3);
        adapter = ReadAdapterOption(L, 3);
        r.recursive = SwitchOption(L, 3, "recursive", true);
        r.emptyDir = SwitchOption(L, 3, "__emptydir", false);
        ReadTagsOption(L, 3, &tags);
        void *key = nullptr;
        if (PushFieldValue(L, 3, "__direntries") == LV_TPOINTER) key = GetUserDataPointer(L, -1);
        SetStackTop(L, -2);
        if (key && !TakeOfferedTree(key, &r.given)) return ERR_WRONGUSAGE;
    }
    r.path = path.c_str();
    r.adapter = AdapterOrNull(adapter);
    r.userTags = tags.list;
    lvDirectoryHandle *d;
    if (int code = OpenDirectoryHandle(&r, RefOps(L), &d)) return code;
    if (!r.nilId) return 0;
    PushHandleOf(L, &d->header);
    return 1;
}

static int CmdCloseDirectory(lvState *L)
{
    CheckArgs(L, 1, 1);
    CloseDirectoryHandle(CheckDirHandle(L, 1, false), RefOps(L));
    return 0;
}

static int CmdNextDirectoryEntry(lvState *L)
{
    CheckArgs(L, 1, 1);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    lvDirHandleEntry e;
    if (!NextDirectoryHandleEntry(d, &e)) return 0;
    if (!e.fromTree) {
        PushEntryTable(L, e.isDirectory, &e.info);
        SetFieldString(L, "name", e.name.c_str());
        return 1;
    }
    // An entry tree: no dates of its own.
    char date[256];
    GetCurrentDateString(date);
    PushNewTable(L);
    SetFieldString(L, "name", e.name.c_str());
    SetFieldNumber(L, "type", e.isDirectory ? 1 : 0);
    if (!e.isDirectory) SetFieldNumber(L, "size", e.treeSize);
    SetFieldNumber(L, "flags", 15);
    SetFieldString(L, "time", date);
    SetFieldString(L, "lastaccesstime", date);
    SetFieldString(L, "creationtime", date);
    return 1;
}

static int CmdRewindDirectory(lvState *L)
{
    CheckArgs(L, 1, 1);
    return RewindDirectoryHandle(CheckDirHandle(L, 1, true));
}

static int CmdGetDirectoryEntry(lvState *L)
{
    CheckArgs(L, 2, 2);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    std::string name = ReadStringArgCopy(L, 2);
    std::string out;
    int code = DirectoryEntryName(d, name.c_str(), &out);
    // A scanned directory's path that does not fit is raised, as every path argument is.
    if (code == ERR_MEM && d->dir) RaiseError(L, code);
    if (code) return code;
    PushString(L, out.c_str());
    return 1;
}

static int CmdCountDirectoryEntries(lvState *L)
{
    CheckArgs(L, 1, 3);
    lvDirectoryHandle *d = CheckDirHandle(L, 1, true);
    long long mode = ReadOptionalIntArg(L, 2, 0);
    bool recursive = HasArg(L, 3) && ValueToBoolean(L, 3) &&
                     !(GetValueType(L, 3) == LV_TNUMBER && ValueToNumber(L, 3) == 0);
    if (mode < 0 || mode > 3) return ERR_WRONGUSAGE;
    double files = 0, dirs = 0;
    if (int code = CountDirectoryHandle(d, recursive, &files, &dirs)) return code;
    switch (mode) {
    case 0: PushNumber(L, files); return 1;
    case 1: PushNumber(L, dirs); return 1;
    case 2: PushNumber(L, files + dirs); return 1;
    default: PushNumber(L, files); PushNumber(L, dirs); return 2;
    }
}

// The machine's collation, for sorted listings.
static int CollateNames(const std::string &a, const std::string &b)
{
    return GetVMHost()->CollateStrings(a.data(), a.size(), b.data(), b.size());
}

// Stores the names as items 0..n-1 of the table at index t, then "" as item n.
static void StoreNames(lvState *L, int t, const std::vector<std::string> &names)
{
    int i = 0;
    for (const std::string &name : names) {
        PushSizedString(L, name.data(), name.size());
        SetTableItemRaw(L, t, i++);
    }
    PushString(L, "");
    SetTableItemRaw(L, t, i);
}

static int CmdReadDirectory(lvState *L)
{
    CheckArgs(L, 3, 4);
    std::string path = ReadStringArgCopy(L, 1);
    CheckTableArg(L, 2);
    CheckTableArg(L, 3);
    bool sort = !HasArg(L, 4) || (ValueToBoolean(L, 4) && !(GetValueType(L, 4) == LV_TNUMBER && ValueToNumber(L, 4) == 0));
    CheckPathLength(L, path);
    std::vector<std::string> files, dirs;
    if (int code = ListDirectoryNames(path.c_str(), sort ? CollateNames : nullptr, &files, &dirs)) return code;
    StoreNames(L, 2, files);
    StoreNames(L, 3, dirs);
    PushNumber(L, double(files.size()));
    PushNumber(L, double(dirs.size()));
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
    if (int code = OpenDirScan(path.c_str(), nullptr, &u->dir, &u->restarted)) return code;
    PushNativeClosure(L, DirectoryItemsStep, 1);
    return 1;
}

// ---- Current directory and creating directories --------------------------------------------

static int CmdChangeDirectory(lvState *L)
{
    CheckArgs(L, 1, 2);
    std::string path = ReadStringArgCopy(L, 1);
    CheckPathLength(L, path);
    std::string adapter = ReadAdapterOption(L, 2);
    lvCommandTags tags;
    ReadTagsOption(L, 2, &tags);
    int changed = FsChangeDir(AdapterOrNull(adapter), path.c_str(), tags.list);
    int code = changed == LV_FS_NATIVE ? ChangeCurrentDir(path.c_str(), nullptr, 0) : changed ? 0 : ERR_CHANGEDIR;
    if (code) {
        SetErrorStringArg(path.c_str());
        return code;
    }
    return 0;
}

static int CmdGetCurrentDirectory(lvState *L)
{
    CheckArgs(L, 0, 1);
    std::string adapter = ReadAdapterOption(L, 1);
    lvCommandTags tags;
    ReadTagsOption(L, 1, &tags);
    char path[LV_PATH_SIZE];
    int got = FsGetCurDir(AdapterOrNull(adapter), path, sizeof path, tags.list);
    if (got == LV_FS_NATIVE) got = GetCurrentDirPath(path, sizeof path, 0) ? 1 : 0;
    if (!got) return ERR_LOCK;
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
    lvCommandTags tags;
    ReadTagsOption(L, 2, &tags);
    return MakeDirectoryLevels(path.c_str(), AdapterOrNull(adapter), tags.list);
}

static int CmdCreateDirectory(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string parent = ReadStringArgCopy(L, 1);
    std::string name = ReadStringArgCopy(L, 2);
    if (name.empty()) return ERR_WRONGUSAGE;
    std::string path = JoinDirAndName(parent, name);
    CheckPathLength(L, path);
    std::string adapter = ReadAdapterOption(L, 3);
    lvCommandTags tags;
    ReadTagsOption(L, 3, &tags);
    std::string full;
    if (int code = CreateNamedDirectory(path.c_str(), &full, AdapterOrNull(adapter), tags.list)) return code;
    PushString(L, full.c_str());
    return 1;
}

// ==== Copying, moving and deleting ===================================================

// Runs an operation, or links it for "async" and pushes its handle.
static int RunOrLink(lvState *L, lvAsyncOperation *op, bool async)
{
    if (!op) return 0;
    InstallAsyncStepHooks(L);
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
        o.matchDir = SwitchOption(L, 3, "matchdir", true);
        o.bufferSize = int(IntOption(L, 3, "buffersize", 16384));
        if (o.bufferSize < 1) return ERR_WRONGUSAGE;
        o.failOnError = SwitchOption(L, 3, "failonerror", true);
        async = SwitchOption(L, 3, "async", false);
        o.force = SwitchOption(L, 3, "force", false);
        o.fileDestination = SwitchOption(L, 3, "filedst", false);
        newName = TextOption(L, 3, "newname", 255);
        pattern = TextOption(L, 3, "pattern", 1022);
        adapter = TextOption(L, 3, "adapter", 255);
        dstAdapter = TextOption(L, 3, "dstadapter", 255);
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
        o.failOnError = SwitchOption(L, 3, "failonerror", true);
        o.bufferSize = int(IntOption(L, 3, "buffersize", 16384));
        if (o.bufferSize < 1) return ERR_WRONGUSAGE;
        async = SwitchOption(L, 3, "async", false);
        o.force = SwitchOption(L, 3, "force", false);
        adapter = TextOption(L, 3, "adapter", 255);
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
        o.matchDir = SwitchOption(L, 2, "matchdir", true);
        o.recursive = SwitchOption(L, 2, "recursive", true);
        o.failOnError = SwitchOption(L, 2, "failonerror", true);
        o.mustExist = SwitchOption(L, 2, "mustexist", false);
        async = SwitchOption(L, 2, "async", false);
        o.force = SwitchOption(L, 2, "force", false);
        pattern = TextOption(L, 2, "pattern", 1022);
        adapter = TextOption(L, 2, "adapter", 255);
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

static int CmdRename(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string path = ReadStringArgCopy(L, 1);
    std::string newName = ReadStringArgCopy(L, 2);
    CheckPathLength(L, path);
    CheckPathLength(L, newName);
    std::string adapter = ReadAdapterOption(L, 3);
    lvCommandTags tags;
    ReadTagsOption(L, 3, &tags);
    return RenameObject(path.c_str(), newName.c_str(), AdapterOrNull(adapter), tags.list);
}

static int CmdMatchPattern(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string text = ReadStringArgCopy(L, 1);
    std::string list = ReadStringArgCopy(L, 2);
    PushNumber(L, MatchPatternList(text.c_str(), list.c_str()));
    return 1;
}

// ==== Paths, attributes and checksums ================================================

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
    size_t cut = PathPartLength(path);
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

static int CmdMakeHostPath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    path = HostSeparators(path);
    PushSizedString(L, path.data(), path.size());
    return 1;
}

static int CmdCanonizePath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    std::string result;
    if (int code = CanonizePath(path, &result)) return code;
    PushString(L, result.c_str());
    return 1;
}

static int CmdIsAbsolutePath(lvState *L)
{
    CheckArgs(L, 1, 1);
    std::string path = ReadStringArgCopy(L, 1);
    if (path.empty() || IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    PushNumber(L, IsAbsolutePathText(path) ? 1 : 0);
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
    lvCommandTags tags;
    ReadTagsOption(L, 2, &tags);
    lvFileInfo info = {};
    std::string full;
    if (int code = ExamineObject(path.c_str(), AdapterOrNull(adapter), &info, &full, tags.list)) return code;
    bool chunk = IsChunkName(path.c_str());
    PushAttributeTable(L, &info, chunk ? given.c_str() : full.c_str());
    SetFieldNumber(L, "virtual", chunk ? 1 : 0);
    return 1;
}

static int CmdSetFileAttributes(lvState *L)
{
    CheckArgs(L, 2, 2);
    std::string path = ReadStringArgCopy(L, 1);
    CheckTableArg(L, 2);
    if (IsChunkName(path.c_str())) return ERR_WRONGUSAGE;
    CheckPathLength(L, path);
    std::string adapter = ReadAdapterOption(L, 2);
    lvCommandTags tags;
    ReadTagsOption(L, 2, &tags);
    // A missing object is the answer before any change is looked at.
    if (!ObjectLocks(path.c_str(), AdapterOrNull(adapter), tags.list)) {
        SetErrorStringArg(path.c_str());
        return ERR_LOCK2;
    }
    lvAttributeChange change = {};
    TextOption(L, 2, "flags", 64, &change.haveFlags);
    if (change.haveFlags) change.flags = uint32_t(IntOption(L, 2, "flags", 0));
    // The three dates in the date-string form; index 0 creation, 1 last access, 2 last change.
    static const char *const kDateFields[3] = {"creationtime", "lastaccesstime", "time"};
    std::string dates[3];
    for (int i = 0; i < 3; i++) {
        bool present = false;
        dates[i] = TextOption(L, 2, kDateFields[i], 255, &present);
        if (present) change.dates[i] = dates[i].c_str();
    }
    return ChangeObjectAttributes(path.c_str(), &change, AdapterOrNull(adapter), tags.list);
}

static int CmdCreateFile(lvState *L)
{
    CheckArgs(L, 2, 3);
    std::string dir = ReadStringArgCopy(L, 1);
    std::string name = ReadStringArgCopy(L, 2);
    if (name.empty()) return ERR_WRONGUSAGE;
    std::string path = JoinDirAndName(dir, name);
    CheckPathLength(L, path);
    std::string adapter = ReadAdapterOption(L, 3);
    lvCommandTags tags;
    ReadTagsOption(L, 3, &tags);
    std::string full;
    if (int code = CreateNewFile(path.c_str(), &full, AdapterOrNull(adapter), tags.list)) return code;
    PushString(L, full.c_str());
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

// The checksum of a whole file: CRC-32 as a number, MD5 and SHA-1 as hex text.
static int ChecksumCommand(lvState *L, lvChecksumKind kind)
{
    CheckArgs(L, 1, 1);
    std::string name = ReadStringArgCopy(L, 1);
    if (name.empty()) return ERR_WRONGUSAGE;
    CheckPathLength(L, name);
    uint32_t crc = 0;
    char hex[41];
    if (int code = ChecksumFile(name.c_str(), kind, &crc, hex)) return code;
    if (kind == LV_SUM_CRC32) PushNumber(L, crc);
    else PushString(L, hex);
    return 1;
}

static int CmdCRC32(lvState *L) { return ChecksumCommand(L, LV_SUM_CRC32); }
static int CmdMD5(lvState *L) { return ChecksumCommand(L, LV_SUM_MD5); }
static int CmdSHA1(lvState *L) { return ChecksumCommand(L, LV_SUM_SHA1); }

// ==== External programs and the directory monitor ====================================

static bool HandlerInstalled(lvState *L, const char *name) { return gDos.handlers && gDos.handlers(L, name); }

// Execute's wait for a captured run: the job wakes the script when it writes or ends; a
// stop request (an interrupt, End, a fatal error) ends the wait within a tenth of a second.
// Events that arrive meanwhile are handled as the main loop would (the runtime's poll in
// mode 2); its error ends the wait too.
static int WaitForCapturedRun(void *context)
{
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
    WaitScriptWake(context, 50);
    if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return ERR_USERABORT;
    return PollDosRuntimeEvents(static_cast<lvState *>(context), 2);
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
    r.resetKeys = 1;
    int options = 0;
    if (GetValueType(L, 2) == LV_TSTRING) {
        arguments = ReadStringArgCopy(L, 2);
        haveArguments = true;
        if (GetValueType(L, 3) == LV_TTABLE) options = 3;
    } else if (GetValueType(L, 2) == LV_TTABLE) {
        options = 2;
    } else {
        // Older forms Execute(command line, resetkeys) and Run(command line, resetkeys, userdata).
        if (HasArg(L, 2)) r.resetKeys = ValueToBoolean(L, 2) && !(GetValueType(L, 2) == LV_TNUMBER && ValueToNumber(L, 2) == 0);
        if (isRun && HasArg(L, 3)) {
            PushCopy(L, 3);
            r.runUserData = CreateReference(L, LV_REGISTRYINDEX);
        }
    }
    if (options) ReadRunOptions(L, options, &r, &directory, &verb, &ignore);
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
    if (r.resetKeys && gResetInput) gResetInput(L);
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
        all = SwitchOption(L, 3, "all", false);
        reportChanges = SwitchOption(L, 3, "reportchanges", false);
        userData = RefOption(L, 3, "userdata");
    }
    lvDirectoryHandle *d;
    if (int code = OpenMonitorHandle(number, nilId, path.c_str(), all, reportChanges, userData, RefOps(L), &d)) {
        if (userData >= 0) ReleaseReference(L, LV_REGISTRYINDEX, userData);
        return code;
    }
    if (!nilId) return 0;
    PushHandleOf(L, &d->header);
    return 1;
}

// A finished job goes after its RunFinished call; its references are the machine's.
void ReleaseDosRunJob(lvState *L, void *job)
{
    for (lvRunJob *j = FirstRunJob(); j; j = j->next) {
        if (j == job) {
            ReleaseRunJob(j, RefOps(L));
            return;
        }
    }
}

// ==== Object types ===================================================================

// ==== The library ====================================================================

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
        if (int code = RegisterObjectType(LV_FILE_OBJECT, "Files", &GetDosFileState()->files, DosFileAttribute,
                                          nullptr, 0))
            return code;
    }
    if (!FindObjectType(LV_DIRECTORY_OBJECT)) {
        if (int code = RegisterObjectType(LV_DIRECTORY_OBJECT, "Directories", GetDirectoryHandleList(), DosDirectoryAttribute,
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
    FreeDirectoryHandles(ops);
    FreeRunJobs(ops);
    GetDosFileState()->ioMode = 0;
    GetDosFileState()->carriageReturn = 1;
    SetVFileIOMode(0);
}
