// serialize_engine.cpp - "LVT0"/"LVT1" table images, "LVF0"/"LVF1" function images,
// Base64, and the serializer protocol (see serialize_engine.h).
//
// Depends on: vm/lvvm.h, runtime/vfile.h, runtime/encoding.h, libs/json_engine.h (the
// serializer named "default"). Readers of outside bytes bound every length by the data
// that is there: a memory image is never read past its end, and file lengths are
// checked against what the file still holds before anything is allocated.
#include "libs/serialize_engine.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "libs/json_engine.h"
#include "runtime/encoding.h"
#include "base/lverrors.h"

// ============================================================================
// Settings
// ============================================================================

static lvSerializeSettings gSerializeSettings;

lvSerializeSettings *GetSerializeSettings() { return &gSerializeSettings; }

void ResetSerializeSettings() { gSerializeSettings = lvSerializeSettings{}; }

// ============================================================================
// Base64
// ============================================================================

static const char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

size_t Base64EncodedSize(size_t length) { return (length + 2) / 3 * 4; }

size_t EncodeBase64(const void *bytes, size_t length, char *out)
{
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    char *o = out;
    size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        uint32_t v = (uint32_t(p[i]) << 16) | (uint32_t(p[i + 1]) << 8) | p[i + 2];
        *o++ = kBase64Alphabet[v >> 18];
        *o++ = kBase64Alphabet[(v >> 12) & 63];
        *o++ = kBase64Alphabet[(v >> 6) & 63];
        *o++ = kBase64Alphabet[v & 63];
    }
    if (i < length) {
        uint32_t v = uint32_t(p[i]) << 16;
        if (i + 1 < length) v |= uint32_t(p[i + 1]) << 8;
        *o++ = kBase64Alphabet[v >> 18];
        *o++ = kBase64Alphabet[(v >> 12) & 63];
        *o++ = i + 1 < length ? kBase64Alphabet[(v >> 6) & 63] : '=';
        *o++ = '=';
    }
    return size_t(o - out);
}

void AppendBase64(std::string &out, const void *bytes, size_t length)
{
    size_t at = out.size();
    out.resize(at + Base64EncodedSize(length));
    EncodeBase64(bytes, length, out.data() + at);
}

int WriteBase64ToFile(lvVFile *file, const void *bytes, size_t length, lvBase64Lines *lines)
{
    std::string text;
    AppendBase64(text, bytes, length);
    // Lines are assembled in a block buffer so the file sees few large writes.
    std::string block;
    block.reserve(16384 + 80);
    for (char c : text) {
        if (!lines->noLineBreak && lines->lineCount >= 72) {
            if (lines->crlf) {
                block.push_back('\r');
                lines->total++;
            }
            block.push_back('\n');
            lines->total++;
            lines->lineCount = 0;
        }
        block.push_back(c);
        lines->lineCount++;
        lines->total++;
        if (block.size() >= 16384) {
            if (WriteVFile(file, block.data(), int64_t(block.size())) != int64_t(block.size())) return ERR_WRITE;
            block.clear();
        }
    }
    if (!block.empty() && WriteVFile(file, block.data(), int64_t(block.size())) != int64_t(block.size()))
        return ERR_WRITE;
    return 0;
}

static int Base64Value(uint8_t c)
{
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    if (c == '=') return 0;
    return -1;
}

int DecodeBase64(const char *text, size_t length, uint8_t *out, size_t *outLength)
{
    *outLength = 0;
    uint8_t group[4];
    int count = 0;
    for (size_t i = 0; i < length; i++) {
        uint8_t c = uint8_t(text[i]);
        if (c <= 32) continue;
        int v = Base64Value(c);
        if (v < 0) return ERR_BADBASE64;
        group[count++] = c;
        if (count < 4) continue;
        uint32_t bits = (uint32_t(Base64Value(group[0])) << 18) | (uint32_t(Base64Value(group[1])) << 12) |
                        (uint32_t(Base64Value(group[2])) << 6) | uint32_t(Base64Value(group[3]));
        int emit = group[2] == '=' ? 1 : group[3] == '=' ? 2 : 3;
        out[(*outLength)++] = uint8_t(bits >> 16);
        if (emit > 1) out[(*outLength)++] = uint8_t(bits >> 8);
        if (emit > 2) out[(*outLength)++] = uint8_t(bits);
        if (emit < 3) return 0;
        count = 0;
    }
    return count == 0 ? 0 : ERR_BADBASE64;
}

bool IsBinaryString(const char *bytes, size_t length, int encoding)
{
    if (std::memchr(bytes, 0, length)) return true;
    if (encoding == LV_ENCODING_UTF8) return !ValidateUtf8(bytes, length, nullptr);
    for (size_t i = 0; i < length; i++) {
        uint8_t c = uint8_t(bytes[i]);
        if (c < 32 && c != '\t' && c != '\n' && c != '\r') return true;
    }
    return false;
}

// ============================================================================
// Serializer registry and I/O callbacks
// ============================================================================

static lvSerializer *gSerializers;  // registered by plug-ins, newest first

void RegisterSerializer(lvSerializer *serializer)
{
    serializer->next = gSerializers;
    gSerializers = serializer;
}

void UnregisterSerializer(lvSerializer *serializer)
{
    for (lvSerializer **p = &gSerializers; *p; p = &(*p)->next) {
        if (*p == serializer) {
            *p = serializer->next;
            return;
        }
    }
}

lvSerializer *FindSerializer(const char *name)
{
    if (name && StrCmpNoCase(name, "default") == 0) return GetJsonSerializer();
    if (!name) return nullptr;
    for (lvSerializer *s = gSerializers; s; s = s->next)
        if (!s->disabled && s->name && StrCmpNoCase(s->name, name) == 0) return s;
    return nullptr;
}

bool IsInbuiltSerializer(const char *name) { return !name || !*name || StrCmpNoCase(name, "inbuilt") == 0; }

int WriteSerialMemory(void *buffer, int count, void *serialBuffer)
{
    lvSerialBuffer *b = static_cast<lvSerialBuffer *>(serialBuffer);
    if (count <= 0) return 0;
    size_t need = b->length + size_t(count);
    if (need > b->capacity) {
        // Growing by doubling (16 KB at least) keeps long outputs from being copied
        // over and over.
        size_t grown = b->capacity + (b->capacity > 16384 ? b->capacity : 16384);
        if (grown < need) grown = need;
        uint8_t *data = static_cast<uint8_t *>(AllocMemory(grown, 0));
        if (!data) return 0;
        if (b->length) std::memcpy(data, b->data, b->length);
        FreeMemory(b->data);
        b->data = data;
        b->capacity = grown;
    }
    std::memcpy(b->data + b->length, buffer, size_t(count));
    b->length = need;
    return count;
}

int ReadSerialMemory(void *buffer, int count, void *serialBuffer)
{
    lvSerialBuffer *b = static_cast<lvSerialBuffer *>(serialBuffer);
    if (count <= 0 || b->position >= b->length) return 0;
    size_t n = b->length - b->position;
    if (n > size_t(count)) n = size_t(count);
    std::memcpy(buffer, b->data + b->position, n);
    b->position += n;
    return int(n);
}

int WriteSerialFile(void *buffer, int count, void *file)
{
    int64_t n = WriteVFile(static_cast<lvVFile *>(file), buffer, count);
    return n < 0 ? 0 : int(n);
}

int ReadSerialFile(void *buffer, int count, void *file)
{
    int64_t n = ReadVFile(static_cast<lvVFile *>(file), buffer, count);
    return n < 0 ? 0 : int(n);
}

// ============================================================================
// Byte output and input of "LVT0" bodies
// ============================================================================

static int PutBytes(lvTableSink *sink, const void *bytes, size_t n)
{
    if (sink->counter) {
        *sink->counter += n;
        return 0;
    }
    if (sink->file) return WriteVFile(sink->file, bytes, int64_t(n)) == int64_t(n) ? 0 : ERR_WRITE;
    if (size_t(sink->end - sink->cursor) < n) return ERR_WRITE;
    if (n) std::memcpy(sink->cursor, bytes, n);
    sink->cursor += n;
    return 0;
}

static void StoreBE32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

static uint32_t LoadBE32(const uint8_t *p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

static int PutTagNumber(lvTableSink *sink, double d)
{
    uint8_t b[9];
    b[0] = 2;
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    for (int i = 0; i < 8; i++) b[1 + i] = uint8_t(bits >> (56 - 8 * i));
    return PutBytes(sink, b, 9);
}

static int PutTagLength(lvTableSink *sink, int tag, const void *bytes, size_t n)
{
    if (n > 0xFFFFFFFFu) return ERR_WRONGUSAGE;
    uint8_t b[5];
    b[0] = uint8_t(tag);
    StoreBE32(b + 1, uint32_t(n));
    // A negative tag writes the length alone (the tag went out before).
    int rc = tag < 0 ? PutBytes(sink, b + 1, 4) : PutBytes(sink, b, 5);
    return rc ? rc : PutBytes(sink, bytes, n);
}

static int GetBytes(lvTableSource *source, void *out, size_t n)
{
    if (source->file) return ReadVFile(source->file, out, int64_t(n)) == int64_t(n) ? 0 : ERR_READ;
    if (size_t(source->end - source->cursor) < n) return ERR_READ;
    std::memcpy(out, source->cursor, n);
    source->cursor += n;
    return 0;
}

// Bytes the source can still give (a file: up to its end; unknown sizes are open-ended).
static uint64_t BytesLeft(lvTableSource *source)
{
    if (!source->file) return uint64_t(source->end - source->cursor);
    int64_t size = GetVFileSize(source->file);
    int64_t at = SeekVFile(source->file, 0, 0);
    if (size <= 0 || at < 0) return UINT64_MAX;
    return size > at ? uint64_t(size - at) : 0;
}

// Pushes bytes as a string (an empty vector has no data pointer).
static void PushBytes(lvState *L, const std::vector<uint8_t> &bytes)
{
    PushSizedString(L, bytes.empty() ? "" : reinterpret_cast<const char *>(bytes.data()), bytes.size());
}

static int GetDouble(lvTableSource *source, double *d)
{
    uint8_t b[8];
    int rc = GetBytes(source, b, 8);
    if (rc) return rc;
    uint64_t bits = 0;
    for (int i = 0; i < 8; i++) bits = (bits << 8) | b[i];
    std::memcpy(d, &bits, 8);
    return 0;
}

// Reads n bytes into out; n is checked against the bytes the source still holds before
// anything is allocated.
static int ReadCountedBytes(lvTableSource *source, uint32_t n, std::vector<uint8_t> &out)
{
    uint64_t left = BytesLeft(source);
    if (n > left) return ERR_READ;
    if (left != UINT64_MAX) {
        out.resize(n);
        return n ? GetBytes(source, out.data(), n) : 0;
    }
    // A stream that cannot tell its size: the buffer grows with the bytes that arrive,
    // so a false length fails at the stream's end instead of at one huge allocation.
    out.clear();
    while (out.size() < n) {
        size_t piece = std::min<size_t>(n - out.size(), 65536);
        size_t at = out.size();
        out.resize(at + piece);
        int rc = GetBytes(source, out.data() + at, piece);
        if (rc) return rc;
    }
    return 0;
}

// Reads a 32-bit length and that many bytes into out.
static int GetCounted(lvTableSource *source, std::vector<uint8_t> &out)
{
    uint8_t b[4];
    int rc = GetBytes(source, b, 4);
    return rc ? rc : ReadCountedBytes(source, LoadBE32(b), out);
}

// ============================================================================
// Function chunks
// ============================================================================

struct lvChunkCollector {
    std::vector<uint8_t> bytes;  // the chunk so far
    lvVFile *file;               // written straight into this file instead, when set
    uint64_t written;            // bytes handed to the file
    int failed;                  // a write fell short
};

static int CollectChunk(lvState *, const void *bytes, size_t size, void *data)
{
    lvChunkCollector *c = static_cast<lvChunkCollector *>(data);
    if (c->file) {
        if (WriteVFile(c->file, bytes, int64_t(size)) != int64_t(size)) c->failed = 1;
        c->written += size;
        return c->failed ? 1 : 0;
    }
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    c->bytes.insert(c->bytes.end(), p, p + size);
    return 0;
}

// Dumps the function at index into memory.
static int DumpToMemory(lvState *L, int index, std::vector<uint8_t> &out)
{
    lvChunkCollector c{};
    int rc = DumpFunction(L, index, CollectChunk, &c);
    if (rc) return rc;
    out.swap(c.bytes);
    return 0;
}

// Writes a 4-byte length placeholder, dumps the chunk straight into the file and
// patches the length in.
static int DumpToFilePatched(lvState *L, int index, lvVFile *file)
{
    if (GetValueType(L, index) != LV_TFUNCTION || IsNativeFunction(L, index)) return ERR_NOLVFUNC;
    int64_t at = SeekVFile(file, 0, 0);
    if (at < 0) return ERR_SEEKFILE;
    uint8_t zero[4] = {0, 0, 0, 0};
    if (WriteVFile(file, zero, 4) != 4) return ERR_WRITE;
    lvChunkCollector c{};
    c.file = file;
    int rc = DumpFunction(L, index, CollectChunk, &c);
    if (rc) return rc;
    if (c.failed) return ERR_WRITE;
    if (c.written > 0xFFFFFFFFu) return ERR_WRITE;
    uint8_t len[4];
    StoreBE32(len, uint32_t(c.written));
    if (SeekVFile(file, at, 1) < 0) return ERR_SEEKFILE;
    if (WriteVFile(file, len, 4) != 4) return ERR_WRITE;
    if (SeekVFile(file, at + 4 + int64_t(c.written), 1) < 0) return ERR_SEEKFILE;
    return 0;
}

static int LoadChunkBytes(lvState *L, const std::vector<uint8_t> &bytes)
{
    if (bytes.empty()) return ERR_MEM;
    return LoadChunkBuffer(L, bytes.data(), bytes.size(), "=serialized");
}

// ============================================================================
// Table bodies without a serializer
// ============================================================================

static int WriteValueEntry(lvState *L, int valueIndex, lvTableSink *sink);

static int WriteBinaryBody(lvState *L, int t, lvTableSink *sink)
{
    if (!EnsureStackSpace(L, 3)) return ERR_STACK;
    PushNil(L);
    while (NextTableEntry(L, t)) {
        int rc = 0;
        int keyType = GetValueType(L, -2);
        if (keyType == LV_TNUMBER) {
            rc = PutTagNumber(sink, ValueToNumber(L, -2));
        } else if (keyType == LV_TSTRING) {
            size_t n = ValueStringLength(L, -2);
            rc = PutTagLength(sink, 3, ValueToString(L, -2), n);
        } else {
            rc = ERR_WRONGUSAGE;
        }
        if (!rc) rc = WriteValueEntry(L, GetStackTop(L), sink);
        if (rc) {
            SetStackTop(L, -3);
            return rc;
        }
        SetStackTop(L, -2);
    }
    uint8_t zero = 0;
    return PutBytes(sink, &zero, 1);
}

static int WriteValueEntry(lvState *L, int v, lvTableSink *sink)
{
    switch (GetValueType(L, v)) {
    case LV_TNUMBER:
        return PutTagNumber(sink, ValueToNumber(L, v));
    case LV_TSTRING:
        return PutTagLength(sink, 3, ValueToString(L, v), ValueStringLength(L, v));
    case LV_TPOINTER:
    case LV_TUSERDATA:
        return PutTagNumber(sink, 0);
    case LV_TTABLE: {
        uint8_t tag = 4;
        int rc = PutBytes(sink, &tag, 1);
        return rc ? rc : WriteBinaryBody(L, v, sink);
    }
    case LV_TFUNCTION: {
        uint8_t tag = 5;
        if (GetValueType(L, v) != LV_TFUNCTION || IsNativeFunction(L, v)) return ERR_NOLVFUNC;
        int rc = PutBytes(sink, &tag, 1);
        if (rc) return rc;
        if (sink->file) return DumpToFilePatched(L, v, sink->file);
        std::vector<uint8_t> chunk;
        rc = DumpToMemory(L, v, chunk);
        return rc ? rc : PutTagLength(sink, -1, chunk.data(), chunk.size());
    }
    default:
        return ERR_WRONGUSAGE;
    }
}

// The nesting a reader accepts before it calls the data hostile; the machine's native
// frame ends deeper writes the same way.
static const int kMaxReadDepth = 600;

static int ReadBinaryValue(lvState *L, lvTableSource *source, int depth);

static int ReadBinaryBody(lvState *L, lvTableSource *source, int intoTop, int depth)
{
    if (depth > kMaxReadDepth || !EnsureStackSpace(L, 4)) return ERR_STACK;
    if (!intoTop) PushNewTable(L);
    int t = GetStackTop(L);
    std::vector<uint8_t> bytes;
    for (;;) {
        uint8_t tag;
        int rc = GetBytes(source, &tag, 1);
        if (rc) return rc;
        if (tag == 0) return 0;
        if (tag == 2) {
            double d;
            if ((rc = GetDouble(source, &d))) return rc;
            if (d != d) return ERR_FILEFORMAT;  // no table can hold a NaN key
            PushNumber(L, d);
        } else if (tag == 3) {
            // Keys of any length: a long key the writer accepted must read back.
            if ((rc = GetCounted(source, bytes))) return rc;
            PushBytes(L, bytes);
        } else {
            return ERR_FILEFORMAT;
        }
        rc = ReadBinaryValue(L, source, depth);
        if (rc) {
            SetStackTop(L, t);
            return rc;
        }
        SetTableValueRaw(L, t);
    }
}

static int ReadBinaryValue(lvState *L, lvTableSource *source, int depth)
{
    uint8_t tag;
    int rc = GetBytes(source, &tag, 1);
    if (rc) return rc;
    switch (tag) {
    case 2: {
        double d;
        if ((rc = GetDouble(source, &d))) return rc;
        PushNumber(L, d);
        return 0;
    }
    case 3: {
        std::vector<uint8_t> bytes;
        if ((rc = GetCounted(source, bytes))) return rc;
        PushBytes(L, bytes);
        return 0;
    }
    case 4:
        return ReadBinaryBody(L, source, 0, depth + 1);
    case 5: {
        std::vector<uint8_t> bytes;
        if ((rc = GetCounted(source, bytes))) return rc;
        return LoadChunkBytes(L, bytes);
    }
    default:
        return ERR_FILEFORMAT;
    }
}

// ============================================================================
// Table bodies through a serializer
// ============================================================================

static bool IsKeyValueRecordAt(lvState *L, int t)
{
    bool any = false;
    PushNil(L);
    while (NextTableEntry(L, t)) {
        any = true;
        bool ok = false;
        if (GetValueType(L, -2) == LV_TSTRING) {
            size_t n = ValueStringLength(L, -2);
            const char *s = ValueToString(L, -2);
            ok = (n == 3 && std::memcmp(s, "key", 3) == 0) || (n == 5 && std::memcmp(s, "value", 5) == 0);
        }
        SetStackTop(L, -2);
        if (!ok) {
            SetStackTop(L, -2);
            return false;
        }
    }
    return any;
}

struct lvTableShape {
    int listCount;  // consecutive non-nil t[0], t[1], ...
    uint32_t flags; // SERIALIZEFLAG_ of its key items
    bool keyValue;  // a {key, value} record
};

static lvTableShape ExamineTable(lvState *L, int t)
{
    lvTableShape s{};
    while (true) {
        GetTableItemRaw(L, t, s.listCount);
        bool nil = GetValueType(L, -1) == LV_TNIL;
        SetStackTop(L, -2);
        if (nil) break;
        s.listCount++;
    }
    int entries = 0;
    bool allKeyValue = true;
    int encoding = GetGlobalEncoding();
    PushNil(L);
    while (NextTableEntry(L, t)) {
        entries++;
        int kt = GetValueType(L, -2);
        bool kv = false;
        if (kt == LV_TNUMBER) s.flags |= SERIALIZEFLAG_NUMBERKEYS;
        if (kt == LV_TSTRING) {
            s.flags |= SERIALIZEFLAG_STRINGKEYS;
            size_t n = ValueStringLength(L, -2);
            const char *k = ValueToString(L, -2);
            kv = (n == 3 && std::memcmp(k, "key", 3) == 0) || (n == 5 && std::memcmp(k, "value", 5) == 0);
        }
        if (!kv) allKeyValue = false;
        int vt = GetValueType(L, -1);
        if (vt == LV_TFUNCTION) s.flags |= SERIALIZEFLAG_BINARY;
        if (vt == LV_TSTRING && IsBinaryString(ValueToString(L, -1), ValueStringLength(L, -1), encoding))
            s.flags |= SERIALIZEFLAG_BINARY;
        SetStackTop(L, -2);
    }
    if (entries != s.listCount) s.flags |= SERIALIZEFLAG_NOTLIST;
    s.keyValue = entries > 0 && allKeyValue;
    return s;
}

static int SendTable(lvState *L, int t, const lvSerializer *ser, void *handle, int depth);

// Sends the entry whose key is at k and value at v.
static int SendEntry(lvState *L, int k, int v, uint32_t keyFlags, const lvSerializer *ser, void *handle, int depth)
{
    lvSerializeItem key{}, value{};
    double keyNumber = 0, valueNumber = 0;
    key.flags = keyFlags;
    switch (GetValueType(L, k)) {
    case LV_TNUMBER:
        keyNumber = ValueToNumber(L, k);
        key = {SERIALIZEITEM_NUMBER, &keyNumber, 8, keyFlags};
        break;
    case LV_TSTRING:
        key = {SERIALIZEITEM_STRING, ValueToString(L, k), uint32_t(ValueStringLength(L, k)), keyFlags};
        break;
    default:
        return ERR_WRONGUSAGE;
    }
    std::vector<uint8_t> chunk;
    switch (GetValueType(L, v)) {
    case LV_TNUMBER:
        valueNumber = ValueToNumber(L, v);
        value = {SERIALIZEITEM_NUMBER, &valueNumber, 8, 0};
        break;
    case LV_TSTRING:
        value = {SERIALIZEITEM_STRING, ValueToString(L, v), uint32_t(ValueStringLength(L, v)), 0};
        break;
    case LV_TFUNCTION: {
        int rc = DumpToMemory(L, v, chunk);
        if (rc) return rc;
        value = {SERIALIZEITEM_FUNCTION, chunk.data(), uint32_t(chunk.size()), 0};
        break;
    }
    case LV_TTABLE:
        value = {SERIALIZEITEM_TABLE, nullptr, 1, IsKeyValueRecordAt(L, v) ? uint32_t(SERIALIZEFLAG_KEYVALUE) : 0u};
        break;
    case LV_TPOINTER:
    case LV_TUSERDATA:
        return ERR_SERIALIZETYPE;
    default:
        return ERR_WRONGUSAGE;
    }
    if (!ser->SerializeItem(handle, &key, &value, nullptr)) return ERR_SERIALIZE;
    if (value.type != SERIALIZEITEM_TABLE) return 0;
    int rc = SendTable(L, v, ser, handle, depth + 1);
    if (rc) return rc;
    lvSerializeItem end{SERIALIZEITEM_TABLE, nullptr, 0, 0};
    // The key item may point at the double above; it is still in scope.
    return ser->SerializeItem(handle, &key, &end, nullptr) ? 0 : ERR_SERIALIZE;
}

static int SendTable(lvState *L, int t, const lvSerializer *ser, void *handle, int depth)
{
    if (depth > kMaxReadDepth || !EnsureStackSpace(L, 4)) return ERR_STACK;
    int base = GetStackTop(L);
    lvTableShape s = ExamineTable(L, t);
    int rc = 0;
    if (s.keyValue) {
        static const char *const kNames[2] = {"key", "value"};
        for (const char *name : kNames) {
            PushString(L, name);
            PushCopy(L, -1);
            GetTableValueRaw(L, t);
            if (GetValueType(L, -1) == LV_TNIL) rc = ERR_WRONGUSAGE;
            if (!rc) rc = SendEntry(L, base + 1, base + 2, s.flags, ser, handle, depth);
            SetStackTop(L, base);
            if (rc) return rc;
        }
        return 0;
    }
    for (int i = 0; i < s.listCount && !rc; i++) {
        PushNumber(L, i);
        GetTableItemRaw(L, t, i);
        rc = SendEntry(L, base + 1, base + 2, s.flags, ser, handle, depth);
        SetStackTop(L, base);
    }
    if (rc) return rc;
    PushNil(L);
    while (NextTableEntry(L, t)) {
        if (GetValueType(L, -2) == LV_TNUMBER) {
            double d = ValueToNumber(L, -2);
            if (d >= 0 && d <= s.listCount && d == double(int64_t(d))) {
                SetStackTop(L, -2);
                continue;
            }
        }
        rc = SendEntry(L, base + 1, base + 2, s.flags, ser, handle, depth);
        if (rc) {
            SetStackTop(L, base);
            return rc;
        }
        SetStackTop(L, -2);
    }
    return 0;
}

static int ReceiveTable(lvState *L, const lvSerializer *ser, void *handle, int intoTop, int depth)
{
    if (depth > kMaxReadDepth || !EnsureStackSpace(L, 4)) return ERR_STACK;
    if (!intoTop) PushNewTable(L);
    int t = GetStackTop(L);
    for (;;) {
        lvSerializeItem key{}, value{};
        int done = 0;
        if (!ser->DeserializeItem(handle, &key, &value, &done, nullptr)) return ERR_DESERIALIZE;
        if (done || (value.type == SERIALIZEITEM_TABLE && value.length == 0)) return 0;
        if (key.type == SERIALIZEITEM_NUMBER && key.data) {
            double d;
            std::memcpy(&d, key.data, 8);
            if (d != d) return ERR_DESERIALIZE;  // no table can hold a NaN key
            PushNumber(L, d);
        } else if (key.type == SERIALIZEITEM_STRING) {
            PushSizedString(L, key.data ? static_cast<const char *>(key.data) : "", key.length);
        } else {
            return ERR_DESERIALIZE;
        }
        int rc = 0;
        switch (value.type) {
        case SERIALIZEITEM_NUMBER: {
            double d = 0;
            if (value.data) std::memcpy(&d, value.data, 8);
            PushNumber(L, d);
            break;
        }
        case SERIALIZEITEM_STRING:
            PushSizedString(L, value.data ? static_cast<const char *>(value.data) : "", value.length);
            break;
        case SERIALIZEITEM_TABLE:
            rc = ReceiveTable(L, ser, handle, 0, depth + 1);
            break;
        case SERIALIZEITEM_FUNCTION:
            rc = value.length ? LoadChunkBuffer(L, value.data, value.length, "=serialized") : ERR_DESERIALIZE;
            break;
        default:
            rc = ERR_DESERIALIZE;
        }
        if (rc) {
            SetStackTop(L, t);
            return rc;
        }
        SetTableValueRaw(L, t);
    }
}

int WriteTableBody(lvState *L, int index, const lvSerializer *serializer, void *handle, lvTableSink *sink)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    if (!EnsureStackSpace(L, 1)) return ERR_STACK;
    int top = GetStackTop(L);
    int rc = serializer ? SendTable(L, index, serializer, handle, 0) : WriteBinaryBody(L, index, sink);
    SetStackTop(L, top);
    return rc;
}

int ReadTableBody(lvState *L, const lvSerializer *serializer, void *handle, lvTableSource *source, int intoTop)
{
    int top = GetStackTop(L);
    int rc = serializer ? ReceiveTable(L, serializer, handle, intoTop, 0) : ReadBinaryBody(L, source, intoTop, 0);
    if (rc) SetStackTop(L, top);
    return rc;
}

// ============================================================================
// Through a serializer
// ============================================================================

void InitSerializeOptions(lvSerializeOptions *options)
{
    *options = lvSerializeOptions{};
    options->srcEncoding = -1;
    options->dstEncoding = -1;
    options->mode = gSerializeSettings.mode;
    options->modeSet = gSerializeSettings.modeSet;
    options->noLowerCase = gSerializeSettings.noLowerCase;
}

int CheckSerializeEncodings(const lvSerializeOptions *options)
{
    auto ok = [](int e) { return e >= -1 && e <= 1; };
    return ok(options->srcEncoding) && ok(options->dstEncoding) ? 0 : ERR_BADENCODING;
}

static int StartSerializer(const lvSerializeOptions *options, lvSerializer **serOut, void **handleOut, lvVFile *file,
                           lvSerialBuffer *buffer, bool writing)
{
    const char *name = options->name && *options->name ? options->name : "default";
    lvSerializer *ser = FindSerializer(name);
    if (!ser) {
        GetVMHost()->SetErrorStringArg(name);
        return ERR_FINDPLUGIN;
    }
    lvAdapterTag tags[6];
    int n = 0;
    if (options->modeSet) tags[n++] = {SERIALIZETAG_MODE, options->mode};
    tags[n++] = {SERIALIZETAG_NOLOWERCASE, options->noLowerCase ? 1 : 0};
    if (options->userTags) tags[n++] = {SERIALIZETAG_USERTAGS, reinterpret_cast<intptr_t>(options->userTags)};
    int encoding = GetGlobalEncoding();
    tags[n++] = {SERIALIZETAG_SRCENCODING, options->srcEncoding < 0 ? encoding : options->srcEncoding};
    tags[n++] = {SERIALIZETAG_DSTENCODING, options->dstEncoding < 0 ? encoding : options->dstEncoding};
    tags[n] = {0, 0};
    lvSerialIOFunction read = nullptr, write = nullptr;
    if (file) (writing ? write : read) = writing ? WriteSerialFile : ReadSerialFile;
    else (writing ? write : read) = writing ? WriteSerialMemory : ReadSerialMemory;
    void *user = file ? static_cast<void *>(file) : static_cast<void *>(buffer);
    void *handle = ser->InitSerializer(read, write, user, tags);
    if (!handle) return ERR_SERIALIZE;
    *serOut = ser;
    *handleOut = handle;
    return 0;
}

int SerializeWithAdapter(lvState *L, int index, const lvSerializeOptions *options, lvVFile *file,
                         lvSerialBuffer *buffer)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    lvSerializer *ser;
    void *handle;
    int rc = StartSerializer(options, &ser, &handle, file, buffer, true);
    if (rc) return rc;
    rc = WriteTableBody(L, index, ser, handle, nullptr);
    if (!ser->FreeSerializer(handle) && !rc) rc = ERR_SERIALIZE;
    return rc;
}

int DeserializeWithAdapter(lvState *L, const lvSerializeOptions *options, lvVFile *file,
                           lvSerialBuffer *buffer, int intoTop)
{
    lvSerializer *ser;
    void *handle;
    int top = GetStackTop(L);
    int rc = StartSerializer(options, &ser, &handle, file, buffer, false);
    if (rc) return rc;
    rc = ReadTableBody(L, ser, handle, nullptr, intoTop);
    if (!ser->FreeSerializer(handle) && !rc) rc = ERR_SERIALIZE;
    if (rc) SetStackTop(L, top);
    return rc;
}

// ============================================================================
// Whole images
// ============================================================================

static int WriteHexCount(lvVFile *file, uint64_t count)
{
    char text[9];
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 8; i++) text[i] = kHex[(count >> (28 - 4 * i)) & 15];
    return WriteVFile(file, text, 8) == 8 ? 0 : ERR_WRITE;
}

// Reads the 8-digit hexadecimal count of a text image; badFormat for anything that is
// not eight hexadecimal digits.
static int ReadHexCount(lvVFile *file, uint32_t *count, int badFormat)
{
    char text[8];
    if (ReadVFile(file, text, 8) != 8) return ERR_READ;
    uint32_t v = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else return badFormat;
        v = (v << 4) | uint32_t(d);
    }
    *count = v;
    return 0;
}

// Writes Base64 text of bytes after an 8-byte count placeholder, then patches the count.
static int WriteCountedBase64(lvVFile *file, const uint8_t *bytes, size_t length, int noLineBreak, int crlf)
{
    int64_t at = SeekVFile(file, 0, 0);
    if (at < 0) return ERR_SEEKFILE;
    static const char kPlaceholder[8] = {'0', '0', '0', '0', '0', '0', '0', '0'};
    if (WriteVFile(file, kPlaceholder, 8) != 8) return ERR_WRITE;
    lvBase64Lines lines{0, 0, noLineBreak, crlf};
    int rc = WriteBase64ToFile(file, bytes, length, &lines);
    if (rc) return rc;
    if (lines.total > 0xFFFFFFFFll) return ERR_WRITE;
    if (SeekVFile(file, at, 1) < 0) return ERR_SEEKFILE;
    if ((rc = WriteHexCount(file, uint64_t(lines.total)))) return rc;
    if (SeekVFile(file, at + 8 + lines.total, 1) < 0) return ERR_SEEKFILE;
    return 0;
}

// Reads counted Base64 text and decodes it.
static int ReadCountedBase64(lvVFile *file, std::vector<uint8_t> &out, int badFormat)
{
    uint32_t count;
    int rc = ReadHexCount(file, &count, badFormat);
    if (rc) return rc;
    if (count == 0) return ERR_MEM;
    lvTableSource source{file, nullptr, nullptr};
    std::vector<uint8_t> text;
    if ((rc = ReadCountedBytes(&source, count, text))) return rc;
    out.resize(size_t(count) * 3 / 4 + 3);
    size_t n;
    rc = DecodeBase64(reinterpret_cast<const char *>(text.data()), count, out.data(), &n);
    if (rc) return rc;
    out.resize(n);
    return 0;
}

static int BuildTableImage(lvState *L, int index, std::vector<uint8_t> &image)
{
    uint64_t count = 0;
    lvTableSink counter{nullptr, nullptr, nullptr, &count};
    int rc = WriteTableBody(L, index, nullptr, nullptr, &counter);
    if (rc) return rc;
    image.resize(size_t(count) + 4);
    std::memcpy(image.data(), "LVT0", 4);
    lvTableSink mem{nullptr, image.data() + 4, image.data() + image.size(), nullptr};
    return WriteTableBody(L, index, nullptr, nullptr, &mem);
}

int WriteTableImage(lvState *L, int index, lvVFile *file, int textmode, int noLineBreak, int crlf)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    if (!textmode) {
        if (WriteVFile(file, "LVT0", 4) != 4) return ERR_WRITE;
        lvTableSink sink{file, nullptr, nullptr, nullptr};
        return WriteTableBody(L, index, nullptr, nullptr, &sink);
    }
    std::vector<uint8_t> image;
    int rc = BuildTableImage(L, index, image);
    if (rc) return rc;
    if (WriteVFile(file, "LVT1", 4) != 4) return ERR_WRITE;
    return WriteCountedBase64(file, image.data(), image.size(), noLineBreak, crlf);
}

int ReadTableImage(lvState *L, lvVFile *file)
{
    char magic[4];
    if (ReadVFile(file, magic, 4) != 4) return ERR_READTABLE;
    if (std::memcmp(magic, "LVT0", 4) == 0) {
        lvTableSource source{file, nullptr, nullptr};
        return ReadTableBody(L, nullptr, nullptr, &source, 0);
    }
    if (std::memcmp(magic, "LVT1", 4) != 0) return ERR_READTABLE;
    std::vector<uint8_t> image;
    int rc = ReadCountedBase64(file, image, ERR_READTABLE);
    if (rc) return rc;
    return ReadTableImageMemory(L, image.data(), image.size());
}

int PushTableImageString(lvState *L, int index)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    std::vector<uint8_t> image;
    int rc = BuildTableImage(L, index, image);
    if (rc) return rc;
    PushSizedString(L, reinterpret_cast<const char *>(image.data()), image.size());
    return 0;
}

int ReadTableImageMemory(lvState *L, const void *bytes, size_t length)
{
    const uint8_t *p = static_cast<const uint8_t *>(bytes);
    if (length < 4 || std::memcmp(p, "LVT0", 4) != 0) return ERR_READTABLE;
    lvTableSource source{nullptr, p + 4, p + length};
    return ReadTableBody(L, nullptr, nullptr, &source, 0);
}

int WriteFunctionImage(lvState *L, int index, lvVFile *file, int textmode, int noLineBreak, int crlf)
{
    if (index < 0 && index > LV_REGISTRYINDEX) index = GetStackTop(L) + index + 1;
    if (GetValueType(L, index) != LV_TFUNCTION) return ERR_FUNCEXPECTED;
    if (IsNativeFunction(L, index)) return ERR_NOLVFUNC;
    if (WriteVFile(file, textmode ? "LVF1" : "LVF0", 4) != 4) return ERR_WRITE;
    if (!textmode) return DumpToFilePatched(L, index, file);
    std::vector<uint8_t> chunk;
    int rc = DumpToMemory(L, index, chunk);
    if (rc) return rc;
    return WriteCountedBase64(file, chunk.data(), chunk.size(), noLineBreak, crlf);
}

int ReadFunctionImage(lvState *L, lvVFile *file)
{
    char magic[4];
    if (ReadVFile(file, magic, 4) != 4) return ERR_READFUNC;
    std::vector<uint8_t> chunk;
    int rc;
    if (std::memcmp(magic, "LVF0", 4) == 0) {
        lvTableSource source{file, nullptr, nullptr};
        rc = GetCounted(&source, chunk);
    } else if (std::memcmp(magic, "LVF1", 4) == 0) {
        rc = ReadCountedBase64(file, chunk, ERR_READFUNC);
    } else {
        return ERR_READFUNC;
    }
    if (rc) return rc;
    return LoadChunkBytes(L, chunk);
}
