// dos_engine.cpp - script file handles of the dos library: the file list, opening
// with byte-order marks, and the character, string, line and number readers and
// writers with their encoding rules.
//
// Depends on: runtime/vfile.h (every byte goes through the file layer),
// runtime/encoding.h (UTF-8 decoding and the ISO-8859-1 conversions),
// runtime/errors.h (message arguments), platform/lvplatform.h (allocator).
// Limits: a line or a string is held in memory whole.
#include "libs/dos_engine.h"

#include <cstring>

#include "platform/lvplatform.h"
#include "runtime/encoding.h"
#include "runtime/errors.h"
#include "vm/lvvm.h"  // NumberToInt64: the machine's number-to-integer rule

// ============================================================================
// State
// ============================================================================

static lvDosFileState gDosFiles = {nullptr, 0, 1};

lvDosFileState *GetDosFileState() { return &gDosFiles; }

// ============================================================================
// Handles
// ============================================================================

static void UnlinkFileHandle(lvFileHandle *handle)
{
    for (lvObjectHeader **p = &gDosFiles.files; *p; p = &(*p)->next) {
        if (*p == &handle->header) {
            *p = handle->header.next;
            return;
        }
    }
}

void CloseFileHandle(lvFileHandle *handle, const lvRefOps *ops)
{
    UnlinkFileHandle(handle);
    if (handle->stream) CloseVFile(handle->stream);
    FreeObjectUserData(&handle->header.userData, ops);
    FreeMemory(handle);
}

void FreeFileHandles(const lvRefOps *ops)
{
    while (gDosFiles.files) CloseFileHandle(reinterpret_cast<lvFileHandle *>(gDosFiles.files), ops);
}

int FindFileHandle(lvObjectId id, lvFileHandle **out)
{
    for (lvObjectHeader *h = gDosFiles.files; h; h = h->next) {
        if (ObjectIdMatches(h, id)) {
            *out = reinterpret_cast<lvFileHandle *>(h);
            return 0;
        }
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDFILE;
}

int OpenFileHandle(int number, bool nilId, const char *name, int mode, int encoding, bool writeBom,
                   const char *adapterList, const void *userTags, const lvRefOps *ops, lvFileHandle **out)
{
    int access;
    switch (mode) {
    case LV_MODE_READ: access = LV_VF_READ; break;
    case LV_MODE_WRITE: access = LV_VF_WRITE; break;
    case LV_MODE_READWRITE: access = LV_VF_UPDATE; break;
    default: return ERR_WRONGUSAGE;
    }
    if (!name || !*name) return ERR_WRONGUSAGE;
    if (!nilId) {
        lvFileHandle *old;
        if (FindFileHandle({number, nullptr}, &old) == 0) CloseFileHandle(old, ops);
    }
    lvVFile *stream = OpenVFile(name, access | LV_VF_ADAPTERS, adapterList, userTags);
    if (!stream) {
        SetErrorStringArg(name);
        return mode == LV_MODE_READ ? ERR_READFILE : ERR_WRITEFILE;
    }
    if (writeBom && mode == LV_MODE_WRITE && (encoding == -1 || encoding == 1)) {
        static const uint8_t kBom[3] = {0xEF, 0xBB, 0xBF};
        if (WriteVFile(stream, kBom, 3) != 3) {
            CloseVFile(stream);
            return ERR_WRITE;
        }
    }
    auto *handle = static_cast<lvFileHandle *>(AllocMemory(sizeof(lvFileHandle), 1));
    if (!handle) {
        CloseVFile(stream);
        return ERR_MEM;
    }
    InitObjectHeader(&handle->header, LV_FILE_OBJECT, nilId ? 0 : number, nilId);
    handle->mode = mode;
    handle->access = access;
    handle->encoding = encoding;
    handle->stream = stream;
    handle->pendingByte = -1;
    lvObjectHeader **tail = &gDosFiles.files;
    while (*tail) tail = &(*tail)->next;
    *tail = &handle->header;
    *out = handle;
    return 0;
}

// ============================================================================
// Byte-level helpers (the I/O mode picks the file layer's operation)
// ============================================================================

static int CheckReadable(const lvFileHandle *handle) { return handle->mode == LV_MODE_WRITE ? ERR_WRITEONLY : 0; }
static int CheckWritable(const lvFileHandle *handle) { return handle->mode == LV_MODE_READ ? ERR_READONLY : 0; }

// Up to count bytes; the count read.
static int64_t ReadUpTo(lvFileHandle *handle, void *buffer, int64_t count)
{
    if (count <= 0) return 0;
    int64_t given = 0;
    if (handle->pendingByte >= 0) {
        *static_cast<uint8_t *>(buffer) = uint8_t(handle->pendingByte);
        handle->pendingByte = -1;
        buffer = static_cast<uint8_t *>(buffer) + 1;
        if (--count == 0) return 1;
        given = 1;
    }
    int64_t n = gDosFiles.ioMode ? ReadVFileUnbuffered(handle->stream, buffer, count)
                                 : ReadVFile(handle->stream, buffer, count);
    return n < 0 ? given : n + given;
}

// One byte, or -1 at the end (or on a failed read).
static int ReadOneByte(lvFileHandle *handle)
{
    if (handle->pendingByte >= 0) {
        int b = handle->pendingByte;
        handle->pendingByte = -1;
        return b;
    }
    if (!gDosFiles.ioMode) return ReadVFileByte(handle->stream);
    uint8_t b;
    return ReadVFileUnbuffered(handle->stream, &b, 1) == 1 ? b : -1;
}

static int WriteRaw(lvFileHandle *handle, const void *bytes, size_t count)
{
    if (count == 0) return 0;
    int64_t n = gDosFiles.ioMode ? WriteVFileUnbuffered(handle->stream, bytes, int64_t(count))
                                 : WriteVFile(handle->stream, bytes, int64_t(count));
    return n == int64_t(count) ? 0 : ERR_WRITE;
}

static int WriteOneByte(lvFileHandle *handle, int byte)
{
    if (gDosFiles.ioMode) {
        uint8_t b = uint8_t(byte);
        return WriteRaw(handle, &b, 1);
    }
    return WriteVFileByte(handle->stream, byte) == 1 ? 0 : ERR_WRITE;
}

int ReadHandleBytes(lvFileHandle *handle, void *buffer, size_t count)
{
    if (int code = CheckReadable(handle)) return code;
    return ReadUpTo(handle, buffer, int64_t(count)) == int64_t(count) ? 0 : ERR_READ;
}

int WriteHandleBytes(lvFileHandle *handle, const void *bytes, size_t count)
{
    if (int code = CheckWritable(handle)) return code;
    return WriteRaw(handle, bytes, count);
}

// The rest of the stream from the current position.
static int ReadRest(lvFileHandle *handle, std::string *out)
{
    char block[16384];
    for (;;) {
        int64_t n = ReadUpTo(handle, block, sizeof block);
        if (n <= 0) break;
        out->append(block, size_t(n));
        if (n < int64_t(sizeof block) && IsVFileEof(handle->stream)) break;
    }
    return 0;
}

// ============================================================================
// Text conversion
// ============================================================================

int ConvertHandleText(std::string *text, int from, int to)
{
    if (from == to || (from != 0 && from != 1) || (to != 0 && to != 1) || text->empty()) return 0;
    // The converter's result ends at its first zero byte, so the text goes through it in
    // the runs between zero bytes (a zero byte is never part of a longer character).
    std::string out;
    size_t start = 0;
    for (;;) {
        size_t zero = text->find('\0', start);
        size_t end = zero == std::string::npos ? text->size() : zero;
        if (end > start) {
            uint32_t tags[3] = {1, uint32_t(end - start), 0};
            char *converted = ConvertTextEncoding(text->data() + start, from, to, tags);
            if (!converted) return ERR_TEXTCONVERT2;
            out += converted;
            FreeMemory(converted);
        }
        if (zero == std::string::npos) break;
        out += '\0';
        start = zero + 1;
    }
    text->swap(out);
    return 0;
}

// ============================================================================
// Characters
// ============================================================================

// One UTF-8 character; byte-order marks are skipped. eof (may be null) is set when
// the stream ended before the lead byte (the result is then ERR_READ).
static int ReadUtf8Char(lvFileHandle *handle, uint32_t *code, std::string *bytesOut, bool *eof)
{
    for (;;) {
        int lead = ReadOneByte(handle);
        if (lead < 0) {
            if (eof) *eof = true;
            return ERR_READ;
        }
        char seq[4] = {char(lead)};
        int length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
        for (int i = 1; i < length; i++) {
            int c = ReadOneByte(handle);
            if (c < 0) return ERR_READ;
            seq[i] = char(c);
        }
        if (length == 3 && uint8_t(seq[0]) == 0xEF && uint8_t(seq[1]) == 0xBB && uint8_t(seq[2]) == 0xBF) continue;
        if (!ValidateUtf8(seq, size_t(length), nullptr)) return ERR_INVALIDUTF8;
        DecodeUtf8(seq, seq + length, code);
        if (bytesOut) bytesOut->append(seq, size_t(length));
        return 0;
    }
}

int ReadHandleChar(lvFileHandle *handle, int requested, uint32_t *code)
{
    if (int c = CheckReadable(handle)) return c;
    if (requested != 0 && requested != -1 && handle->encoding != 0) return ReadUtf8Char(handle, code, nullptr, nullptr);
    int b = ReadOneByte(handle);
    if (b < 0) return ERR_READ;
    *code = uint32_t(b);
    return 0;
}

int WriteHandleChar(lvFileHandle *handle, uint32_t code, int requested)
{
    if (int c = CheckWritable(handle)) return c;
    if (requested != 0 && requested != -1 && handle->encoding != 0) {
        if (code == 0) return ERR_WRONGUSAGE;
        char seq[4];
        int n = PutUtf8(seq, code);  // a code above U+10FFFF gives '?'

        return WriteRaw(handle, seq, size_t(n));
    }
    return WriteOneByte(handle, int(code & 0xFF));
}

// ============================================================================
// Strings
// ============================================================================

int ReadHandleString(lvFileHandle *handle, int64_t length, int requested, int defaultEncoding, bool raw,
                     std::string *out)
{
    (void)defaultEncoding;
    if (int c = CheckReadable(handle)) return c;
    out->clear();
    if (length < 0) return ERR_WRONGUSAGE;
    int fileEncoding = handle->encoding;
    if (raw || (length == 0 && fileEncoding == -1)) {
        if (length == 0) return ReadRest(handle, out);
        out->resize(size_t(length));
        if (ReadUpTo(handle, out->data(), length) != length) return ERR_READ;
        return 0;
    }
    int encoding = fileEncoding != -1 ? fileEncoding : requested;
    int target = -1;
    if (fileEncoding != -1 && requested != fileEncoding) target = fileEncoding == 1 ? requested : 1;
    if (encoding == 1) {
        for (int64_t i = 0; length == 0 || i < length; i++) {
            uint32_t code;
            bool eof = false;
            int r = ReadUtf8Char(handle, &code, out, &eof);
            if (r == ERR_READ && eof && length == 0) break;
            if (r) return r;
        }
    } else if (length == 0) {
        ReadRest(handle, out);
    } else {
        out->resize(size_t(length));
        if (ReadUpTo(handle, out->data(), length) != length) return ERR_READ;
    }
    if (target != -1) return ConvertHandleText(out, encoding, target);
    return 0;
}

int WriteHandleString(lvFileHandle *handle, const char *text, size_t size, int64_t length, int source, bool raw)
{
    if (int c = CheckWritable(handle)) return c;
    if (raw) source = -1;
    size_t count = size;
    if (source == 1) {
        if (!ValidateUtf8(text, size, &count)) {
            SetErrorNumberArg(2);
            return ERR_INVALIDUTF8ARG;
        }
    }
    if (length < 0) return ERR_WRONGUSAGE;
    size_t bytes = size;
    if (length != 0) {
        if (uint64_t(length) > count) return ERR_STRTOOSHORT;
        bytes = source == 1 ? Utf8ByteOffset(text, size_t(length)) : size_t(length);
    }
    std::string converted(text, bytes);
    if (!raw && handle->encoding != -1 && handle->encoding != source) {
        if (int code = ConvertHandleText(&converted, source, handle->encoding)) return code;
    }
    return WriteRaw(handle, converted.data(), converted.size());
}

// ============================================================================
// Lines
// ============================================================================

int ReadHandleLine(lvFileHandle *handle, bool keepEnd, int defaultEncoding, std::string *out)
{
    if (int c = CheckReadable(handle)) return c;
    out->clear();
    bool sawCr = false, sawLf = false;
    for (;;) {
        int c = ReadOneByte(handle);
        if (c < 0) {
            if (!IsVFileEof(handle->stream)) return ERR_READ;
            break;
        }
        if (sawCr) {
            if (c == '\n') {
                sawLf = true;
            } else {
                // Give the byte back so that the next line starts with it; a stream
                // that cannot move back (a pipe) keeps it in the handle instead.
                if (SeekVFile(handle->stream, -1, 0) == -1) handle->pendingByte = c;
            }
            break;
        }
        if (c == '\n') {
            sawLf = true;
            break;
        }
        if (c == '\r') {
            sawCr = true;
            continue;
        }
        out->push_back(char(c));
    }
    if (keepEnd) {
        if (sawCr) out->push_back('\r');
        if (sawLf) out->push_back('\n');
    }
    int encoding = handle->encoding;
    bool utf8 = encoding == 1 || (encoding == -1 && defaultEncoding == 1);
    if (utf8 && out->size() > 2 && std::memcmp(out->data(), "\xEF\xBB\xBF", 3) == 0) out->erase(0, 3);
    if (encoding != -1 && encoding != defaultEncoding) return ConvertHandleText(out, encoding, defaultEncoding);
    return 0;
}

int WriteHandleLine(lvFileHandle *handle, const char *text, size_t size, int defaultEncoding)
{
    if (int c = CheckWritable(handle)) return c;
    std::string line(text, size);
    if (handle->encoding != -1 && handle->encoding != defaultEncoding) {
        if (int code = ConvertHandleText(&line, defaultEncoding, handle->encoding)) return code;
    }
    if (int code = WriteRaw(handle, line.data(), line.size())) return code;
    // A short write of the line end is as much a failure as one of the text.
    if (gDosFiles.carriageReturn) {
        if (int code = WriteOneByte(handle, '\r')) return code;
    }
    return WriteOneByte(handle, '\n');
}

// ============================================================================
// Numbers
// ============================================================================

int SeekFileHandle(lvFileHandle *handle, int64_t position, int origin)
{
    if (origin < 0 || origin > 2) return ERR_WRONGUSAGE;
    if (position == -1 && origin == 1) {
        position = 0;
        origin = 2;
    }
    if (origin == 0 && handle->pendingByte >= 0) position--;  // the byte held back counts as unread
    handle->pendingByte = -1;
    return SeekVFile(handle->stream, position, origin) == -1 ? ERR_SEEKFILE : 0;
}

bool IsFileHandleAtEnd(const lvFileHandle *handle)
{
    return handle->pendingByte < 0 && IsVFileEof(handle->stream);
}

bool ReadLinePiece(lvVFile *stream, std::string *line)
{
    line->clear();
    bool any = false;
    while (line->size() < 1024) {
        int c = ReadVFileByte(stream);
        if (c < 0) break;
        any = true;
        if (c == '\n') break;
        if (c != '\r') line->push_back(char(c));
    }
    return any;
}

int ReadHandleNumber(lvFileHandle *handle, int size, int flags, uint64_t *out)
{
    if (int c = CheckReadable(handle)) return c;
    uint8_t b[8];
    if (size < 1 || size > 8) return ERR_WRONGUSAGE;
    if (ReadUpTo(handle, b, size) != size) return ERR_READ;
    uint64_t v = 0;
    for (int i = 0; i < size; i++) {
        int k = (flags & LV_IO_LITTLEENDIAN) ? size - 1 - i : i;
        v = (v << 8) | b[k];
    }
    *out = v;
    return 0;
}

int WriteHandleNumber(lvFileHandle *handle, int size, int flags, uint64_t value)
{
    if (int c = CheckWritable(handle)) return c;
    if (size < 1 || size > 8) return ERR_WRONGUSAGE;
    uint8_t b[8];
    for (int i = 0; i < size; i++) {
        int k = (flags & LV_IO_LITTLEENDIAN) ? i : size - 1 - i;
        b[k] = uint8_t(value >> (8 * i));
    }
    return WriteRaw(handle, b, size_t(size));
}

int ReadHandleInteger(lvFileHandle *handle, int size, int flags, double *out)
{
    bool isSigned = size == 4 ? !(flags & LV_IO_UNSIGNED) : (flags & LV_IO_SIGNED) != 0;
    if (size == 4 && (flags & LV_IO_FAKE64)) {
        if (flags & LV_IO_UNSIGNED) return ERR_WRONGUSAGE;
        size = 8;
        isSigned = true;
    }
    uint64_t v;
    if (int e = ReadHandleNumber(handle, size, flags, &v)) return e;
    if (isSigned) {
        int shift = 64 - 8 * size;
        *out = double(int64_t(v << shift) >> shift);
    } else {
        *out = double(v);
    }
    return 0;
}

int ReadHandleFloat(lvFileHandle *handle, int size, int flags, double *out)
{
    if (size != 4 && size != 8) return ERR_WRONGUSAGE;
    uint64_t v;
    if (int e = ReadHandleNumber(handle, size, flags, &v)) return e;
    if (size == 4) {
        uint32_t w = uint32_t(v);
        float f;
        std::memcpy(&f, &w, 4);
        *out = f;
    } else {
        std::memcpy(out, &v, 8);
    }
    return 0;
}

int WriteHandleInteger(lvFileHandle *handle, int size, int flags, double value)
{
    uint64_t bits = uint64_t(NumberToInt64(value));
    if (size == 4) {
        if (flags & LV_IO_FAKE64) {
            if (flags & LV_IO_UNSIGNED) return ERR_WRONGUSAGE;
            size = 8;
        } else if (flags & LV_IO_UNSIGNED) {
            if (!(value > -1.0 && value < 4294967296.0)) return ERR_OUTOFRANGE;
            bits = uint64_t(NumberToInt64(value));
        }
    }
    return WriteHandleNumber(handle, size, flags, bits);
}

int WriteHandleFloat(lvFileHandle *handle, int size, int flags, double value)
{
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
    return WriteHandleNumber(handle, size, flags, bits);
}

// ============================================================================
// Directory trees linked into an applet
// ============================================================================

struct lvLinkedAppletFile {
    std::string path;    // the applet file
    int64_t baseOffset;  // the applet's offset inside it
};
static lvLinkedAppletFile gLinkedApplet = {"", 0};

void SetLinkedAppletFile(const char *path, int64_t baseOffset)
{
    gLinkedApplet.path = path ? path : "";
    gLinkedApplet.baseOffset = baseOffset;
}

void FreeLinkedDirTree(lvLinkedDirEntry *tree)
{
    while (tree) {
        lvLinkedDirEntry *next = tree->next;
        FreeLinkedDirTree(tree->children);
        FreeMemory(tree);
        tree = next;
    }
}

// Reads one level (up to its closing kind byte) at *pos. 0 or ERR_MEM.
static int LoadTreeLevel(const uint8_t *data, size_t size, size_t *pos, int depth, lvLinkedDirEntry **out)
{
    lvLinkedDirEntry **tail = out;
    *out = nullptr;
    if (depth > 256) return ERR_MEM;
    for (;;) {
        if (*pos >= size) return ERR_MEM;
        uint8_t kind = data[(*pos)++];
        if (kind == 0) return 0;
        if (size - *pos < 2) return ERR_MEM;
        size_t nameLength = size_t(data[*pos]) << 8 | data[*pos + 1];
        *pos += 2;
        if (size - *pos < nameLength) return ERR_MEM;
        auto *e = static_cast<lvLinkedDirEntry *>(AllocMemory(sizeof(lvLinkedDirEntry) + nameLength + 1, 1));
        if (!e) return ERR_MEM;
        e->name = reinterpret_cast<char *>(e + 1);
        std::memcpy(e->name, data + *pos, nameLength);
        *pos += nameLength;
        *tail = e;
        tail = &e->next;
        if (kind == 1) {
            if (size - *pos < 8) return ERR_MEM;
            const uint8_t *p = data + *pos;
            e->offset = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
            e->size = uint32_t(p[4]) << 24 | uint32_t(p[5]) << 16 | uint32_t(p[6]) << 8 | p[7];
            *pos += 8;
        } else {
            e->isDirectory = 1;
            if (int code = LoadTreeLevel(data, size, pos, depth + 1, &e->children)) return code;
        }
    }
}

int LoadLinkedDirTree(const uint8_t *data, size_t size, size_t *used, lvLinkedDirEntry **out)
{
    size_t pos = 0;
    lvLinkedDirEntry *tree = nullptr;
    if (int code = LoadTreeLevel(data, size, &pos, 0, &tree)) {
        FreeLinkedDirTree(tree);
        *out = nullptr;
        return code;
    }
    *out = tree;
    if (used) *used = pos;
    return 0;
}

static lvLinkedDirEntry *FindInLevel(lvLinkedDirEntry *level, const std::string &parent, const std::string &wanted)
{
    for (lvLinkedDirEntry *e = level; e; e = e->next) {
        std::string path = parent.empty() ? e->name : parent + "/" + e->name;
        for (char &c : path)
            if (c == '\\') c = '/';
        if (StrCmpNoCase(path.c_str(), wanted.c_str()) == 0) return e;
        if (e->isDirectory) {
            if (lvLinkedDirEntry *found = FindInLevel(e->children, path, wanted)) return found;
        }
    }
    return nullptr;
}

lvLinkedDirEntry *FindLinkedDirEntry(lvLinkedDirEntry *tree, const char *path)
{
    std::string wanted = path ? path : "";
    for (char &c : wanted)
        if (c == '\\') c = '/';
    return FindInLevel(tree, "", wanted);
}

int MakeLinkedFileName(const lvLinkedDirEntry *entry, char *buffer, size_t size)
{
    if (gLinkedApplet.path.empty()) return ERR_MEM;
    int64_t offset = gLinkedApplet.baseOffset + int64_t(entry->offset);
    if (!MakeChunkName(entry->name, buffer, size, nullptr, offset, entry->size, 0, gLinkedApplet.path.c_str()))
        return ERR_MEM;
    return 0;
}
