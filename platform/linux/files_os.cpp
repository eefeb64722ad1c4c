// files_os.cpp - open files of the platform layer: plain files, standard streams
// and byte windows (":::chunk" ranges) of container files.
// Dependencies: stdio with 64-bit offsets (fseeko/ftello), fstat, statx.
// Limits: range names carry 32-bit offsets and sizes; plain files are 64-bit.
#include "platform/lvplatform.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// ============================================================================
// Virtual names
// ============================================================================

// Reads an unsigned decimal number; advances p. False when there is no digit or it overflows.
static bool ReadDecimal(const char *&p, const char *end, uint64_t &value)
{
    auto r = std::from_chars(p, end, value, 10);
    if (r.ec != std::errc() || r.ptr == p) return false;
    p = r.ptr;
    return true;
}

int SplitChunkName(const char *name, lvChunkNameParts *parts)
{
    if (!name || std::strncmp(name, ":::chunk", 8) != 0) return 0;
    const char *p = name + 8;
    const char *end = p + std::strlen(p);
    lvChunkNameParts out = {};
    out.fileName = "";
    out.container = "";
    if (*p == 'S') {
        out.form = 'S';
        p++;
        bool negative = (*p == '-');
        if (negative) p++;
        uint64_t v;
        if (!ReadDecimal(p, end, v) || v > 0x80000000ull || (!negative && v > 0x7FFFFFFFull)) return 0;
        int32_t ref = negative ? (int32_t)(-(int64_t)v) : (int32_t)v;
        out.first = (uint64_t)(int64_t)ref;
    } else if (*p == 'M') {
        out.form = 'M';
        p++;
        if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) p += 2;
        auto r = std::from_chars(p, end, out.first, 16);
        if (r.ec != std::errc() || r.ptr == p) return 0;
        p = r.ptr;
    } else {
        out.form = 'R';
        if (!ReadDecimal(p, end, out.first) || out.first > 0xFFFFFFFFull) return 0;
    }
    if (*p != ':') return 0;
    p++;
    uint64_t size;
    if (!ReadDecimal(p, end, size) || size > 0xFFFFFFFFull) return 0;
    out.size = (uint32_t)size;
    if (*p == '*') {
        p++;
        const char *q = std::strchr(p, '?');
        if (!q) return 0;
        out.fileName = p;
        out.fileNameLength = (size_t)(q - p);
        out.container = q + 1;
    } else if (*p != 0) {
        return 0;
    }
    *parts = out;
    return 1;
}

// ============================================================================
// Opening and closing
// ============================================================================

// stdio mode of the open flags; the "e" keeps the descriptor from child programs.
static const char *ModeOfFlags(int flags)
{
    if (flags & LVOS_OPEN_WRITE) return "wbe";
    if (flags & LVOS_OPEN_CREATE) return "r+be";
    return "rbe";
}

static bool CopyName(lvOsFile *file, const char *name)
{
    size_t n = std::strlen(name);
    if (n >= sizeof file->name) return false;
    std::memcpy(file->name, name, n + 1);
    return true;
}

// A directory opens with fopen on Linux; it is no file here.
static bool IsDirectoryStream(FILE *stream)
{
    struct stat st;
    return fstat(fileno(stream), &st) == 0 && S_ISDIR(st.st_mode);
}

static lvOsFile *OpenStandardStream(lvOsFile *file, const char *name, int flags)
{
    FILE *stream = nullptr;
    if (std::strcmp(name, "::stdin") == 0) {
        if (flags & LVOS_OPEN_READ) stream = stdin;
    } else if (std::strcmp(name, "::stdout") == 0) {
        if (flags & (LVOS_OPEN_WRITE | LVOS_OPEN_CREATE)) stream = stdout;
    } else if (std::strcmp(name, "::stderr") == 0) {
        if (flags & (LVOS_OPEN_WRITE | LVOS_OPEN_CREATE)) stream = stderr;
    }
    if (!stream) {
        FreeMemory(file);
        return nullptr;
    }
    file->stream = stream;
    file->standardFlag = 1;
    CopyName(file, name);
    return file;
}

// A byte window of a container file. Writing into a window must never empty
// its container, so write mode opens the container for update.
static lvOsFile *OpenWindow(lvOsFile *file, const char *name, int flags)
{
    lvChunkNameParts parts;
    if (!SplitChunkName(name, &parts) || parts.form != 'R' || !CopyName(file, name)) {
        FreeMemory(file);
        return nullptr;
    }
    file->windowFlag = 1;
    file->windowOffset = (int64_t)parts.first;
    file->size = parts.size;
    if (!parts.container[0]) return file;
    char sys[LV_PATH_SIZE];
    const char *mode = (flags & (LVOS_OPEN_WRITE | LVOS_OPEN_CREATE)) ? "r+be" : "rbe";
    FILE *stream = nullptr;
    if (ToSystemPath(parts.container, sys, sizeof sys, !(flags & LVOS_OPEN_UTF8)))
        stream = std::fopen(sys, mode);
    if (!stream || IsDirectoryStream(stream) || fseeko(stream, file->windowOffset, SEEK_SET) != 0) {
        if (stream) std::fclose(stream);
        FreeMemory(file);
        return nullptr;
    }
    file->stream = stream;
    return file;
}

lvOsFile *OpenOsFile(const char *name, int flags)
{
    if (!name) return nullptr;
    lvOsFile *file = (lvOsFile *)AllocMemory(sizeof(lvOsFile), 1);
    if (!file) return nullptr;
    file->openFlags = flags;
    if (std::strncmp(name, "::std", 5) == 0) return OpenStandardStream(file, name, flags);
    if (std::strncmp(name, ":::chunk", 8) == 0) return OpenWindow(file, name, flags);

    char sys[LV_PATH_SIZE];
    if (!ToSystemPath(name, sys, sizeof sys, !(flags & LVOS_OPEN_UTF8)) || !sys[0] ||
        !GetFullSystemPath(sys, file->name, sizeof file->name)) {
        FreeMemory(file);
        return nullptr;
    }
    const char *mode = ModeOfFlags(flags);
    FILE *stream = std::fopen(sys, mode);
    if (!stream && (flags & LVOS_OPEN_CREATE) && errno == ENOENT) {
        FILE *made = std::fopen(sys, "wbe");
        if (made) {
            std::fclose(made);
            stream = std::fopen(sys, mode);
        }
    }
    if (!stream || IsDirectoryStream(stream)) {
        if (stream) std::fclose(stream);
        FreeMemory(file);
        return nullptr;
    }
    if (fseeko(stream, 0, SEEK_END) == 0) {
        file->size = ftello(stream);
        if (file->size < 0) file->size = 0;
        fseeko(stream, 0, SEEK_SET);
    }
    file->stream = stream;
    return file;
}

int CloseOsFile(lvOsFile *file)
{
    if (!file) return 0;
    int ok = 1;
    if (file->stream && !file->standardFlag) ok = std::fclose(file->stream) == 0;
    else if (file->stream) std::fflush(file->stream);
    FreeMemory(file);
    return ok;
}

// ============================================================================
// Seeking, reading and writing
// ============================================================================

int64_t SeekOsFile(lvOsFile *file, int64_t offset, int origin)
{
    int64_t previous = file->position;
    if (file->standardFlag) return -1;
    int64_t base = file->windowOffset;
    int64_t target;
    switch (origin) {
    case 0: target = base + file->position + offset; break;
    case 1: target = base + offset; break;
    case 2: target = base + file->size + offset; break;
    default: return -1;
    }
    // Neither windows nor files reach before their start; windows and files
    // opened to write stop at their end, so no seek leaves a hole.
    if (target < base) target = base;
    if ((file->windowFlag || (file->openFlags & (LVOS_OPEN_WRITE | LVOS_OPEN_CREATE))) &&
        target > base + file->size)
        target = base + file->size;
    if (file->stream && fseeko(file->stream, target, SEEK_SET) != 0) return -1;
    file->position = target - base;
    file->lastOperation = 0;
    return previous;
}

// Switching between reading and writing needs a positioning call on a stdio stream.
static void SwitchDirection(lvOsFile *file, int operation)
{
    if (file->lastOperation && file->lastOperation != operation && !file->standardFlag)
        fseeko(file->stream, 0, SEEK_CUR);
    file->lastOperation = operation;
}

size_t ReadOsFile(lvOsFile *file, void *buffer, size_t count)
{
    if (!file->stream || count == 0) return 0;
    if (file->windowFlag) {
        int64_t left = file->size - file->position;
        if (left <= 0) return 0;
        if ((uint64_t)count > (uint64_t)left) count = (size_t)left;
    }
    SwitchDirection(file, 1);
    size_t n = std::fread(buffer, 1, count, file->stream);
    file->position += (int64_t)n;
    return n;
}

size_t ReadOsFileBlock(lvOsFile *file, void *buffer, size_t count)
{
    return ReadOsFile(file, buffer, count);
}

int GetCOsFile(lvOsFile *file)
{
    if (!file->stream) return -1;
    if (file->windowFlag && file->position >= file->size) return -1;
    SwitchDirection(file, 1);
    int c = std::fgetc(file->stream);
    if (c == EOF) return -1;
    file->position++;
    return c;
}

// A window's writes stop at its end: the bytes behind it belong to other data of
// the container.
size_t WriteOsFile(lvOsFile *file, const void *data, size_t count)
{
    if (!file->stream || count == 0) return 0;
    if (file->windowFlag) {
        int64_t left = file->size - file->position;
        if (left <= 0) return 0;
        if ((uint64_t)count > (uint64_t)left) count = (size_t)left;
    }
    SwitchDirection(file, 2);
    size_t n = std::fwrite(data, 1, count, file->stream);
    file->position += (int64_t)n;
    if (file->position > file->size) file->size = file->position;
    return n;
}

size_t WriteOsFileBlock(lvOsFile *file, const void *data, size_t count)
{
    return WriteOsFile(file, data, count);
}

int PutCOsFile(lvOsFile *file, int byte)
{
    unsigned char b = (unsigned char)byte;
    return WriteOsFile(file, &b, 1) == 1;
}

int FlushOsFile(lvOsFile *file)
{
    // A write that fails only once the buffer goes out (a full disk) is reported here.
    return file->stream ? std::fflush(file->stream) == 0 : 1;
}

int64_t GetOsFileSize(lvOsFile *file)
{
    return file->size;
}

// ============================================================================
// Information
// ============================================================================

// Fills an info record from a stat result (shared with the lock code).
void FillFileInfoFromStat(const struct stat *st, const char *name, lvFileInfo *info);

int StatOpenFile(lvOsFile *file, lvFileInfo *info)
{
    std::memset(info, 0, sizeof *info);
    info->fullPath = file->name;
    if (!file->stream) {
        info->size = file->size;
        return file->windowFlag ? 1 : 0;
    }
    struct stat st;
    if (fstat(fileno(file->stream), &st) != 0) return 0;
    FillFileInfoFromStat(&st, file->name, info);
    info->fullPath = file->name;
    if (file->windowFlag) info->size = file->size;
    else if (file->size > info->size) info->size = file->size; // unflushed growth
    return 1;
}
