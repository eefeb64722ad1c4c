// vfile_io.cpp - helpers over the virtual file layer: path parts, byte-order
// readers and writers, typed values and strings, whole-file reads and copies,
// and the bytecode loader's reader and dumper's writer.
// Dependencies: runtime/vfile.h, base/lverrors.h.
#include "runtime/vfile.h"
#include "runtime/errors.h"
#include "base/lverrors.h"

#include <algorithm>
#include <cstring>

// ============================================================================
// Path helpers
// ============================================================================

int AppendPathPart(char *buffer, const char *part, size_t size)
{
    size_t len = std::strlen(buffer);
    if (len > 0 && buffer[len - 1] != '/' && buffer[len - 1] != '\\') {
        if (len + 1 >= size) return 0;
        buffer[len++] = '/';
        buffer[len] = 0;
    }
    size_t n = std::strlen(part);
    size_t room = size - len - 1;
    size_t take = std::min(n, room);
    std::memcpy(buffer + len, part, take);
    buffer[len + take] = 0;
    return 1;
}

void FindFilePartBounds(const char *path, const char **directoryEnd, const char **textEnd)
{
    const char *p = path;
    while (*p == '/' || *p == '\\') p++;
    const char *start = p;
    const char *slash = nullptr;
    const char *afterColon = nullptr;
    for (; *p; p++) {
        if (*p == '/' || *p == '\\') slash = p;
        else if (*p == ':') afterColon = p + 1;
    }
    const char *dirEnd = start;
    if (slash && (!afterColon || slash >= afterColon)) dirEnd = slash;
    else if (afterColon) dirEnd = afterColon;
    if (directoryEnd) *directoryEnd = dirEnd;
    if (textEnd) *textEnd = p;
}

const char *FindFilePart(const char *path)
{
    if (IsChunkName(path)) {
        static char chunkFile[LV_PATH_SIZE]; // shared by all callers of this thread
        if (!ParseChunkName(path, nullptr, nullptr, nullptr, chunkFile, sizeof chunkFile, nullptr, 0, nullptr, 0,
                            nullptr)) {
            lvChunkNameParts parts;
            chunkFile[0] = 0;
            if (SplitChunkName(path, &parts) && parts.fileNameLength < sizeof chunkFile) {
                std::memcpy(chunkFile, parts.fileName, parts.fileNameLength);
                chunkFile[parts.fileNameLength] = 0;
            }
        }
        return FindFilePart(chunkFile);
    }
    const char *slash = nullptr;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\') slash = p;
    if (slash) return slash + 1;
    const char *colon = std::strchr(path, ':');
    if (colon) return colon + 1;
    return path;
}

int PathIsAbsolute(const char *path)
{
    if (!path) return 0;
    if (path[0] == '/' || path[0] == '\\' || path[0] == '~') return 1;
    return std::strchr(path, ':') != nullptr;
}

// ============================================================================
// Byte-order readers and writers
// ============================================================================

// A -1 at the end enters the value as the layer always did; callers that care
// test IsVFileEof or use ReadVFileValue.
uint32_t ReadVFileBE32(lvVFile *file)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v = (v << 8) | (uint32_t)(ReadVFileByte(file) & 0xFF);
    return v;
}

uint32_t ReadVFileLE32(lvVFile *file)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; i++) v |= (uint32_t)(ReadVFileByte(file) & 0xFF) << (8 * i);
    return v;
}

uint16_t ReadVFileBE16(lvVFile *file)
{
    uint32_t hi = (uint32_t)ReadVFileByte(file) & 0xFF;
    uint32_t lo = (uint32_t)ReadVFileByte(file) & 0xFF;
    return (uint16_t)((hi << 8) | lo);
}

uint16_t ReadVFileLE16(lvVFile *file)
{
    uint32_t lo = (uint32_t)ReadVFileByte(file) & 0xFF;
    uint32_t hi = (uint32_t)ReadVFileByte(file) & 0xFF;
    return (uint16_t)((hi << 8) | lo);
}

static int WriteBytesOneByOne(lvVFile *file, const uint8_t *bytes, int count)
{
    for (int i = 0; i < count; i++)
        if (!WriteVFileByte(file, bytes[i])) return 0;
    return 1;
}

int WriteVFileBE32(lvVFile *file, uint32_t value)
{
    uint8_t b[4] = {(uint8_t)(value >> 24), (uint8_t)(value >> 16), (uint8_t)(value >> 8), (uint8_t)value};
    return WriteBytesOneByOne(file, b, 4);
}

int WriteVFileLE32(lvVFile *file, uint32_t value)
{
    uint8_t b[4] = {(uint8_t)value, (uint8_t)(value >> 8), (uint8_t)(value >> 16), (uint8_t)(value >> 24)};
    return WriteBytesOneByOne(file, b, 4);
}

int WriteVFileBE16(lvVFile *file, uint16_t value)
{
    uint8_t b[2] = {(uint8_t)(value >> 8), (uint8_t)value};
    return WriteBytesOneByOne(file, b, 2);
}

int WriteVFileLE16(lvVFile *file, uint16_t value)
{
    uint8_t b[2] = {(uint8_t)value, (uint8_t)(value >> 8)};
    return WriteBytesOneByOne(file, b, 2);
}

// ============================================================================
// Typed values and strings
// ============================================================================

static int IOModeUnbuffered = 0; // SetIOMode of the dos library

void SetVFileIOMode(int unbuffered)
{
    IOModeUnbuffered = unbuffered ? 1 : 0;
}

// Values of 2, 4 and 8 bytes travel big-endian unless raw or flags bit 1.
static bool SwapsOrder(int raw, int size, int flags)
{
    return !raw && !(flags & 1) && (size == 2 || size == 4 || size == 8);
}

int ReadVFileValue(lvVFile *file, void *out, int raw, int size, int flags, const uint8_t **cursor)
{
    if (size <= 0) return 0;
    uint8_t bytes[64];
    uint8_t *target = size <= (int)sizeof bytes ? bytes : (uint8_t *)out;
    if (file) {
        int64_t n = IOModeUnbuffered ? ReadVFileUnbuffered(file, target, size) : ReadVFile(file, target, size);
        if (n != size) return ERR_READ;
    } else {
        std::memcpy(target, *cursor, (size_t)size);
        *cursor += size;
    }
    if (SwapsOrder(raw, size, flags)) std::reverse(target, target + size);
    if (target != out) std::memcpy(out, target, (size_t)size);
    return 0;
}

int WriteVFileValue(lvVFile *file, const void *value, int raw, int size, int flags, uint8_t **cursor)
{
    if (size <= 0) return 0;
    uint8_t bytes[8];
    const uint8_t *source = (const uint8_t *)value;
    if (SwapsOrder(raw, size, flags)) {
        std::reverse_copy(source, source + size, bytes);
        source = bytes;
    }
    if (!file) {
        std::memcpy(*cursor, source, (size_t)size);
        *cursor += size;
        return 0;
    }
    int64_t n = IOModeUnbuffered ? WriteVFileUnbuffered(file, source, size) : WriteVFile(file, source, size);
    return n == size ? 0 : ERR_WRITE;
}

// The end of the input ends the read with ERR_STACK as a bounded read of a
// truncated input always did; an unbounded read can no longer run on forever.
int ReadVFileString(lvVFile *file, char *buffer, size_t bound)
{
    size_t i = 0;
    for (;;) {
        if (bound && i + 1 >= bound) {
            buffer[i] = 0;
            return ERR_STACK;
        }
        int c = ReadVFileByte(file);
        if (c < 0) {
            buffer[i] = 0;
            return ERR_STACK;
        }
        buffer[i] = (char)c;
        if (c == 0) return 0;
        i++;
    }
}

int ReadVFileString16(lvVFile *file, char *buffer, size_t bound)
{
    uint16_t length = ReadVFileBE16(file);
    if (bound && length >= bound) return ERR_STACK;
    if (ReadVFile(file, buffer, length) != length) {
        buffer[0] = 0;
        return ERR_READ;
    }
    buffer[length] = 0;
    return 0;
}

// ============================================================================
// Whole files
// ============================================================================

int VFileExists(const char *name, const char *adapterList, const void *userTags)
{
    lvVFile *f = OpenVFile(name, LV_VF_READ | LV_VF_ADAPTERS, adapterList, userTags);
    if (!f) return 0;
    CloseVFile(f);
    return 1;
}

// Only adapter and standard streams can hide their size.
static bool SizeIsKnown(lvVFile *f)
{
    if (f->adapter) {
        lvFileInfo info;
        return ExamineVFile(f, &info) != 0;
    }
    if (f->window) return true;
    return !((lvOsFile *)f->stream)->standardFlag;
}

int ReadVFileAll(lvVFile *openFile, const char *name, int flags, const char *adapterList,
                 const void *userTags, size_t extraBytes, uint8_t **bufferOut, int64_t *lengthOut)
{
    *bufferOut = nullptr;
    *lengthOut = 0;
    lvVFile *f = openFile;
    if (!f) {
        f = OpenVFile(name, flags ? flags : (LV_VF_READ | LV_VF_ADAPTERS), adapterList, userTags);
        if (!f) {
            SetErrorStringArg(name);
            return ERR_READFILE;
        }
    }
    int result = 0;
    uint8_t *data = nullptr;
    int64_t length = 0;
    if (SizeIsKnown(f)) {
        int64_t position = f->window ? f->position : (f->adapter ? 0 : ((lvOsFile *)f->stream)->position);
        length = std::max<int64_t>(0, GetVFileSize(f) - position);
        data = (uint8_t *)AllocMemory((size_t)length + extraBytes + 1, 1);
        if (!data) result = ERR_MEM;
        else if (ReadVFile(f, data, length) != length) result = ERR_READ;
    } else {
        int64_t capacity = 0;
        for (;;) {
            if (length + 16384 > capacity) {
                int64_t grown = capacity + 65536;
                uint8_t *bigger = (uint8_t *)AllocMemory((size_t)grown + extraBytes + 1, 1);
                if (!bigger) {
                    result = ERR_MEM;
                    break;
                }
                if (length) std::memcpy(bigger, data, (size_t)length);
                FreeMemory(data);
                data = bigger;
                capacity = grown;
            }
            int64_t n = ReadVFile(f, data + length, 16384);
            length += n;
            if (n < 16384) {
                if (!IsVFileEof(f) && f->adapter && f->adapter->FEof) result = ERR_READ;
                break;
            }
        }
    }
    if (!openFile) CloseVFile(f);
    if (result) {
        FreeMemory(data);
        return result;
    }
    *bufferOut = data;
    *lengthOut = length;
    return 0;
}

int CopyVFileData(lvVFile *openSource, const char *sourceName, const char *adapterList,
                  const void *userTags, const char *destinationName)
{
    lvVFile *src = openSource;
    if (!src) {
        src = OpenVFile(sourceName, LV_VF_READ | LV_VF_ADAPTERS, adapterList, userTags);
        if (!src) {
            SetErrorStringArg(sourceName);
            return ERR_READFILE;
        }
    }
    int result = 0;
    lvVFile *dst = OpenVFile(destinationName, LV_VF_WRITE, nullptr, nullptr);
    uint8_t *block = (uint8_t *)AllocMemory(16384, 0);
    if (!dst) {
        SetErrorStringArg(destinationName);
        result = ERR_WRITEFILE;
    } else if (!block) {
        result = ERR_MEM;
    } else {
        for (;;) {
            int64_t n = ReadVFile(src, block, 16384);
            if (n > 0 && WriteVFile(dst, block, n) != n) {
                result = ERR_WRITE;
                break;
            }
            if (n < 16384) break;
        }
    }
    FreeMemory(block);
    if (dst) CloseVFile(dst);
    if (!openSource) CloseVFile(src);
    return result;
}

// ============================================================================
// Bytecode I/O callbacks
// ============================================================================

const void *ReadBytecodeChunk(void *, void *chunkBuffer, size_t *size)
{
    lvChunkBuffer *b = (lvChunkBuffer *)chunkBuffer;
    if (b->handedOver || !b->size) {
        *size = 0;
        return nullptr;
    }
    b->handedOver = 1;
    *size = b->size;
    return b->data;
}

int AppendDumpBytes(lvDumpSink *sink, const void *data, size_t size)
{
    if (sink->freeSpace < size) {
        size_t used = (size_t)sink->written;
        size_t capacity = used + sink->freeSpace;
        while (capacity - used < size) capacity += 65536;
        uint8_t *grown = (uint8_t *)AllocMemory(capacity, 0);
        if (!grown) return 0;
        if (used) std::memcpy(grown, sink->buffer, used);
        FreeMemory(sink->buffer);
        sink->buffer = grown;
        sink->freeSpace = capacity - used;
    }
    if (size) std::memcpy(sink->buffer + sink->written, data, size);
    sink->written += (int64_t)size;
    sink->freeSpace -= size;
    return 1;
}

int WriteDumpChunk(void *, const void *data, size_t size, void *sinkPointer)
{
    lvDumpSink *sink = (lvDumpSink *)sinkPointer;
    if (!sink->file) return AppendDumpBytes(sink, data, size);
    int64_t n = sink->unbuffered ? WriteVFileUnbuffered(sink->file, data, (int64_t)size)
                                 : WriteVFile(sink->file, data, (int64_t)size);
    if (n > 0) sink->written += n;
    return n == (int64_t)size;
}
