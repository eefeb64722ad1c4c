// container.cpp - reader of the applet container and of the blocks appended to the
// executable (see container.h for the formats and the order start-up calls them in).
//
// Dependencies: platform/lvplatform.h (memory), runtime/lists.h (user tags, bounded
// copies), runtime/vfile.h (chunk names), runtime/packed.h (zlib error codes), zlib.
// The inflater here works over byte sources and holds the stated size to what the
// stream yields, which the file-to-file packed-stream engine does not need to.
// Limits: one run reads one container; the tail-reader table is set up at start-up
// before any container is parsed and is not locked.
//
// Every byte goes through an lvAppletCursor or an explicit range check against the
// source's size, so stored counts, sizes and offsets can never lead a read outside the
// data; a record that claims more than is there fails with ERR_READ.
#include "runtime/container.h"
#include "platform/lvplatform.h"
#include "base/lverrors.h"
#include "runtime/packed.h"
#include "runtime/vfile.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

namespace {

const uint8_t AppletMagic[4] = {'L', 'V', 'A', 0};
const uint8_t PackedAppletMagic[4] = {'L', 'V', 'Z', 0};
const size_t PackIoBlock = 16384;
// deflate cannot shrink data by more than about 1032:1; a stated size beyond this
// ratio of the packed bytes is a forgery and is refused before anything is allocated.
const uint64_t MaxInflateRatio = 1040;
const int MaxFormatMajor = 11;
const int MaxFormatMinor = 0;

uint32_t GetBE32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The file part of a path (after the last '/').
const char *FilePartOf(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

} // namespace

// ---- Byte sources ------------------------------------------------------------------

namespace {

size_t ReadMemoryBytes(void *context, uint64_t offset, void *buffer, size_t length)
{
    // The context is the data pointer itself; the size check is done by the caller
    // through ReadSource, which clamps against source->size.
    std::memcpy(buffer, static_cast<const uint8_t *>(context) + offset, length);
    return length;
}

size_t ReadFileBytes(void *context, uint64_t offset, void *buffer, size_t length)
{
    int fd = int(reinterpret_cast<intptr_t>(context));
    size_t done = 0;
    while (done < length) {
        ssize_t n = pread(fd, static_cast<uint8_t *>(buffer) + done, length - done,
                          off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    return done;
}

void CloseFileBytes(void *context)
{
    close(int(reinterpret_cast<intptr_t>(context)));
}

// Reads from a source, clamped to its size; returns the bytes copied.
size_t ReadSource(lvByteSource *source, uint64_t offset, void *buffer, size_t length)
{
    if (!source->read || offset >= source->size) return 0;
    uint64_t left = source->size - offset;
    if (length > left) length = size_t(left);
    if (length == 0) return 0;
    return source->read(source->context, offset, buffer, length);
}

} // namespace

void InitMemorySource(lvByteSource *source, const void *data, size_t size)
{
    source->context = const_cast<void *>(data);
    source->size = data ? size : 0;
    source->read = ReadMemoryBytes;
    source->close = nullptr;
}

int OpenFileSource(lvByteSource *source, const char *path)
{
    std::memset(source, 0, sizeof(*source));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return ERR_READFILE;
    off_t end = lseek(fd, 0, SEEK_END);
    if (end < 0) {
        close(fd);
        return ERR_READFILE;
    }
    source->context = reinterpret_cast<void *>(intptr_t(fd));
    source->size = uint64_t(end);
    source->read = ReadFileBytes;
    source->close = CloseFileBytes;
    return 0;
}

void CloseByteSource(lvByteSource *source)
{
    if (source->close) source->close(source->context);
    std::memset(source, 0, sizeof(*source));
}

// ---- Cursor reads ----------------------------------------------------------------------

int ReadAppletBytes(lvAppletCursor *cursor, void *buffer, size_t length)
{
    if (cursor->position > cursor->limit || cursor->limit - cursor->position < length)
        return ERR_READ;
    if (length && ReadSource(cursor->source, cursor->position, buffer, length) != length)
        return ERR_READ;
    cursor->position += length;
    return 0;
}

int SkipAppletBytes(lvAppletCursor *cursor, uint64_t length)
{
    if (cursor->position > cursor->limit || cursor->limit - cursor->position < length)
        return ERR_READ;
    cursor->position += length;
    return 0;
}

int ReadAppletByte(lvAppletCursor *cursor, uint8_t *value)
{
    return ReadAppletBytes(cursor, value, 1);
}

int ReadAppletBE16(lvAppletCursor *cursor, uint16_t *value)
{
    uint8_t b[2];
    if (int err = ReadAppletBytes(cursor, b, 2)) return err;
    *value = uint16_t((b[0] << 8) | b[1]);
    return 0;
}

int ReadAppletBE32(lvAppletCursor *cursor, uint32_t *value)
{
    uint8_t b[4];
    if (int err = ReadAppletBytes(cursor, b, 4)) return err;
    *value = GetBE32(b);
    return 0;
}

int ReadAppletDouble(lvAppletCursor *cursor, double *value)
{
    uint8_t b[8];
    if (int err = ReadAppletBytes(cursor, b, 8)) return err;
    uint64_t bits = (uint64_t(GetBE32(b)) << 32) | GetBE32(b + 4);
    std::memcpy(value, &bits, 8);
    return 0;
}

int ReadAppletString(lvAppletCursor *cursor, char *buffer, size_t bound)
{
    for (size_t i = 0;; i++) {
        uint8_t c;
        if (int err = ReadAppletByte(cursor, &c)) return err;
        if (i >= bound) return ERR_STACK;
        buffer[i] = char(c);
        if (c == 0) return 0;
    }
}

// ---- Appended plug-in blocks -----------------------------------------------------------

int WalkPluginBlock(lvByteSource *source, const char *magic, uint64_t *offset,
                    lvPluginEntryVisitor visitor, void *userData)
{
    uint8_t head[4];
    if (ReadSource(source, *offset, head, 4) != 4 || std::memcmp(head, magic, 4) != 0)
        return 0;
    lvAppletCursor cursor = {source, *offset + 4, source->size};
    uint32_t flags;
    if (int err = ReadAppletBE32(&cursor, &flags)) return err;
    char name[256];
    for (;;) {
        if (int err = ReadAppletString(&cursor, name, sizeof(name))) return err;
        if (name[0] == 0) break;
        uint32_t stored;
        if (int err = ReadAppletBE32(&cursor, &stored)) return err;
        lvPluginBlockEntry entry = {name, cursor.position, stored,
                                    (flags & LV_PLUGIN_BLOCK_PACKED) != 0};
        if (int err = SkipAppletBytes(&cursor, stored)) return err;
        if (visitor) {
            if (int result = visitor(userData, source, &entry)) return result;
        }
    }
    *offset = cursor.position;
    return 0;
}

int WalkPluginBlocks(lvByteSource *source, const char *magic, uint64_t *offset,
                     lvPluginEntryVisitor visitor, void *userData)
{
    // A walk that does not move the offset found no further block of this magic.
    for (uint64_t before = ~0ull; before != *offset;) {
        before = *offset;
        if (int err = WalkPluginBlock(source, magic, offset, visitor, userData)) return err;
    }
    return 0;
}

int SkipPluginBlocks(lvByteSource *source, uint64_t *offset)
{
    if (int err = WalkPluginBlocks(source, "LVL!", offset, nullptr, nullptr)) return err;
    return WalkPluginBlocks(source, "LVP!", offset, nullptr, nullptr);
}

// ---- Unpacking ------------------------------------------------------------------------

namespace {

// Where inflated bytes go: a fixed memory block, or a file descriptor.
struct lvInflateSink {
    uint8_t *memory;        // destination block, or null
    uint64_t capacity;      // its size
    int fd;                 // destination file when memory is null, or -1 to discard
    uint64_t produced;      // bytes delivered
    uint64_t limit;         // stop with success after this many bytes (probe), or 0
};

// Inflates the zlib stream at offset until it ends (or until sink->limit bytes came out).
// *consumed receives the input bytes used. A stream that yields more than a memory sink
// holds, is cut off, or is corrupt is ERR_ZLIBDATA.
int InflateToSink(lvByteSource *source, uint64_t offset, lvInflateSink *sink,
                  uint64_t *consumed)
{
    z_stream zs;
    std::memset(&zs, 0, sizeof(zs));
    int rc = inflateInit(&zs);
    if (rc != Z_OK) return MapZlibError(rc);
    uint8_t *in = static_cast<uint8_t *>(AllocMemory(PackIoBlock, 0));
    uint8_t *out = static_cast<uint8_t *>(AllocMemory(PackIoBlock, 0));
    int result = 0;
    bool ended = false;
    uint64_t position = offset;
    if (!in || !out) result = ERR_MEM;
    while (!result && !ended) {
        if (zs.avail_in == 0) {
            size_t n = ReadSource(source, position, in, PackIoBlock);
            if (n == 0) {
                result = ERR_ZLIBDATA;  // the stream is cut off
                break;
            }
            position += n;
            zs.next_in = in;
            zs.avail_in = uInt(n);
        }
        zs.next_out = out;
        zs.avail_out = uInt(PackIoBlock);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) ended = true;
        else if (rc != Z_OK && rc != Z_BUF_ERROR) {
            result = rc == Z_NEED_DICT ? ERR_ZLIBDATA : MapZlibError(rc);
            break;
        }
        size_t got = PackIoBlock - zs.avail_out;
        if (sink->limit && sink->produced + got >= sink->limit) {
            got = size_t(sink->limit - sink->produced);
            ended = true;
        }
        if (sink->memory) {
            if (got > sink->capacity - sink->produced) {
                result = ERR_ZLIBDATA;  // more data than the stated size
                break;
            }
            std::memcpy(sink->memory + sink->produced, out, got);
        } else if (sink->fd >= 0 && got) {
            size_t done = 0;
            while (done < got) {
                ssize_t w = write(sink->fd, out + done, got - done);
                if (w < 0 && errno == EINTR) continue;
                if (w <= 0) break;
                done += size_t(w);
            }
            if (done != got) result = ERR_WRITE;
        }
        sink->produced += got;
    }
    if (consumed) *consumed = zs.total_in;
    inflateEnd(&zs);
    FreeMemory(in);
    FreeMemory(out);
    return result;
}

} // namespace

int UnpackAppletStream(lvByteSource *source, uint64_t offset, const char *outPath,
                       uint8_t **data, uint32_t *size, uint64_t *consumed)
{
    if (data) *data = nullptr;
    if (size) *size = 0;
    uint8_t head[8];
    if (ReadSource(source, offset, head, 8) != 8) return ERR_READ;
    if (std::memcmp(head, PackedAppletMagic, 4) != 0) return ERR_PAKFORMAT;
    uint32_t stated = GetBE32(head + 4);
    uint64_t packedBytes = source->size - offset - 8;
    if (uint64_t(stated) > packedBytes * MaxInflateRatio + 64) return ERR_ZLIBDATA;

    lvInflateSink sink = {nullptr, 0, -1, 0, 0};
    uint8_t *block = nullptr;
    if (outPath) {
        sink.fd = open(outPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (sink.fd < 0) return ERR_WRITEFILE;
    } else {
        // A stated size of 0 says nothing: give the stream all the room it could need.
        uint64_t room = stated ? stated : packedBytes * MaxInflateRatio + 64;
        if (room > UINT32_MAX) room = UINT32_MAX;
        block = static_cast<uint8_t *>(AllocMemory(room ? size_t(room) : 1, 0));
        if (!block) return ERR_MEM;
        sink.memory = block;
        sink.capacity = room;
    }
    uint64_t used = 0;
    int err = InflateToSink(source, offset + 8, &sink, &used);
    if (!err && stated && sink.produced != stated) err = ERR_ZLIBDATA;
    if (!err && sink.produced > UINT32_MAX) err = ERR_ZLIBDATA;
    if (sink.fd >= 0 && close(sink.fd) != 0 && !err) err = ERR_WRITE;
    if (err) {
        FreeMemory(block);
        return err;
    }
    if (consumed) *consumed = used + 8;
    if (size) *size = uint32_t(sink.produced);
    if (data) *data = block;
    else FreeMemory(block);
    return 0;
}

// ---- Header probe -----------------------------------------------------------------------

int ProbeAppletHeader(lvByteSource *source, uint64_t offset, int unlinked,
                      lvAppletHeaderInfo *info)
{
    std::memset(info, 0, sizeof(*info));
    if (offset >= source->size) return 0;
    uint64_t want = source->size - offset;
    if (want > 16384) want = 16384;
    if (want < 10) return 0;
    uint8_t *bytes = static_cast<uint8_t *>(AllocMemory(size_t(want), 0));
    if (!bytes) return 0;
    size_t have = ReadSource(source, offset, bytes, size_t(want));
    if (have != want) {
        FreeMemory(bytes);
        return 0;
    }
    if (std::memcmp(bytes, PackedAppletMagic, 4) == 0) {
        // Only the first 1024 bytes of the container matter here.
        uint8_t *head = static_cast<uint8_t *>(AllocMemory(1024, 1));
        lvInflateSink sink = {head, 1024, -1, 0, 1024};
        if (head) {
            InflateToSink(source, offset + 8, &sink, nullptr);
        }
        FreeMemory(bytes);
        bytes = head;
        have = head ? size_t(sink.produced) : 0;
        if (!head) return 0;
    }
    if (have < 10 || std::memcmp(bytes, AppletMagic, 4) != 0) {
        FreeMemory(bytes);
        return 0;
    }
    info->found = 1;
    info->formatMajor = bytes[5];
    info->formatMinor = bytes[6];
    if (have >= 12 && bytes[5] >= 9 && bytes[7] == '$') {
        uint32_t flags = GetBE32(bytes + 8);
        info->quiet = (flags & LV_APPLETFLAG_QUIET) != 0;
        info->commandLine = (flags & LV_APPLETFLAG_OPTIONS) != 0;
        info->unpackToFile = (flags & LV_APPLETFLAG_UNPACKTOFILE) != 0;
        info->loadAllPlugins = (flags & LV_APPLETFLAG_LOADALLPLUGINS) != 0;
    }
    if (unlinked) {
        if (bytes[5] <= 10) info->loadAllPlugins = 1;
        if (bytes[5] < 9) info->oldApplet = 1;
    }
    if (!info->loadAllPlugins && bytes[5] >= 11 && have > 16 && bytes[14] == '&') {
        // The list ends at an empty name; the last two bytes read act as one.
        bytes[have - 1] = 0;
        bytes[have - 2] = 0;
        size_t at = 15;
        size_t used = 0;
        while (at < have && bytes[at] != 0) {
            const char *name = reinterpret_cast<const char *>(bytes + at);
            size_t len = std::strlen(name);
            at += len + 1;
            size_t need = len + 4 + (used ? 1 : 0);
            if (used + need >= sizeof(info->requiredPlugins)) break;
            if (used) info->requiredPlugins[used++] = '|';
            std::memcpy(info->requiredPlugins + used, name, len);
            std::memcpy(info->requiredPlugins + used + len, ".lvp", 4);
            used += len + 4;
            info->requiredPlugins[used] = 0;
        }
    }
    FreeMemory(bytes);
    return 0;
}

// ---- Opening a container ------------------------------------------------------------------

void CloseAppletContainer(lvAppletContainer *container)
{
    CloseByteSource(&container->source);
    CloseByteSource(&container->outer);
    if (container->memory) UnregisterMemoryRange(container->memory);
    FreeMemory(container->memory);
    container->memory = nullptr;
    container->memorySize = 0;
}

int OpenAppletContainerFromSource(lvByteSource *source, const char *path, uint64_t offset,
                                  const char *tempFile, lvAppletContainer *container)
{
    std::memset(container, 0, sizeof(*container));
    container->source = *source;
    CopyStrBounded(container->path, sizeof(container->path), path);
    uint8_t magic[4];
    if (ReadSource(&container->source, offset, magic, 4) != 4) {
        CloseAppletContainer(container);
        return ERR_NOAPPLET;
    }
    if (std::memcmp(magic, PackedAppletMagic, 4) == 0) {
        container->packed = 1;
        container->outer = container->source;
        std::memset(&container->source, 0, sizeof(container->source));
        CopyStrBounded(container->outerPath, sizeof(container->outerPath), path);
        uint64_t consumed = 0;
        int err = UnpackAppletStream(&container->outer, offset, tempFile,
                                     tempFile ? nullptr : &container->memory,
                                     &container->memorySize, &consumed);
        if (err) {
            CloseAppletContainer(container);
            return err;
        }
        container->iconOffset = offset + consumed;
        if (tempFile) {
            CopyStrBounded(container->tempFile, sizeof(container->tempFile), tempFile);
            CopyStrBounded(container->path, sizeof(container->path), tempFile);
            if (OpenFileSource(&container->source, tempFile) != 0) {
                CloseAppletContainer(container);
                return ERR_READFILE;
            }
        } else {
            InitMemorySource(&container->source, container->memory, container->memorySize);
            if (RegisterMemoryRange(container->memory, container->memorySize) != 0 ||
                !MakeChunkName(FilePartOf(path), container->path, sizeof(container->path),
                               container->memory, 0, container->memorySize, 0, nullptr)) {
                CloseAppletContainer(container);
                return ERR_STACK;
            }
        }
        offset = 0;
    }
    container->base = offset;
    if (ReadSource(&container->source, offset, magic, 4) != 4 ||
        std::memcmp(magic, AppletMagic, 4) != 0) {
        CloseAppletContainer(container);
        return ERR_NOAPPLET;
    }
    return 0;
}

int OpenAppletContainer(const char *path, uint64_t offset, const char *tempFile,
                        lvAppletContainer *container)
{
    lvByteSource source;
    if (OpenFileSource(&source, path) != 0) {
        std::memset(container, 0, sizeof(*container));
        return ERR_READFILE;
    }
    return OpenAppletContainerFromSource(&source, path, offset, tempFile, container);
}

// ---- The applet record ------------------------------------------------------------------

void InitDisplayOptions(lvBackfillBlock *block)
{
    block->type = 0;
    block->startColor = -1;
    block->endColor = -1;
    block->pictureX = -100000;
    block->pictureY = -100000;
    block->transparency = -1;
}

void InitAppletDisplayDefaults(lvAppletRecord *record)
{
    record->windowWidth = record->windowHeight = 0;
    record->scaleWidth = record->scaleHeight = 0;
    record->scaleFactor = 1.0;
    record->monitor = 0;
    record->displayMode = 0;
    record->screenWidth = record->screenHeight = record->screenDepth = -1;
    InitDisplayOptions(&record->backfill);
    record->hideTitleBar = 0;
    record->displayFlags1 = record->displayFlags2 = 0;
}

void InitAppletRecord(lvAppletRecord *record)
{
    std::memset(record, 0, sizeof(*record));
    record->formatMajor = 11;
    record->formatMinor = 0;
    InitAppletDisplayDefaults(record);
    record->flagsBlock.value1 = -1;
    record->flagsBlock.value2 = -1;
    lvDisplaySettingsBlock &s = record->displaySettings;
    s.mode = 0;
    s.screenWidth = s.screenHeight = s.screenDepth = s.desktop = -1;
    s.hideTitleBar = 0;
    record->encoding = -1;
    static const int slotSizes[10] = {16, 24, 32, 48, 64, 96, 128, 256, 512, 1024};
    for (int i = 0; i < LV_APPICON_SLOTS; i++) {
        lvAppIconSlot &slot = record->icons[i];
        slot.width = slot.height = slotSizes[i % 10];
        slot.standardIcon = i < 10 ? 53 + i : -1;
    }
}

namespace {

// Frees a singly linked list node by node and clears its head.
template <typename Node> void FreeNodeList(Node **head)
{
    for (Node *node = *head; node;) {
        Node *next = node->next;
        FreeMemory(node);
        node = next;
    }
    *head = nullptr;
}

} // namespace

void FreeLinkedObject(lvLinkedObject *object)
{
    if (!object) return;
    FreeMemory(object->name);
    FreeUserTags(object->userTags, 0);
    object->userTags = nullptr;
    if (object->payload) {
        if (object->freePayload) object->freePayload(object->payload);
        else FreeMemory(object->payload);
    }
    FreeMemory(object);
}

void FreeLinkedObjectList(lvLinkedObject **head)
{
    for (lvLinkedObject *o = *head; o;) {
        lvLinkedObject *next = o->next;
        FreeLinkedObject(o);
        o = next;
    }
    *head = nullptr;
}

void FreeAppletRecord(lvAppletRecord *record, int keep)
{
    if (!record) return;
    FreeMemory(record->bytecode);
    record->bytecode = nullptr;
    record->bytecodeSize = 0;
    FreeLinkedObjectList(&record->linkedObjects);
    FreeNodeList(&record->linkedFiles);
    FreeNodeList(&record->lineMap);
    FreeNodeList(&record->labels);
    for (lvUserConstant *c = record->userConstants; c; c = c->next) {
        FreeMemory(c->string);
        c->string = nullptr;
    }
    FreeNodeList(&record->userConstants);
    FreeMemory(record->displaySettings.backfill);
    record->displaySettings.backfill = nullptr;
    for (lvAppIconSlot &slot : record->icons) {
        FreeMemory(slot.fileName);
        slot.fileName = nullptr;
    }
    if (!keep) FreeMemory(record);
}

bool CheckAppletVersion(const lvAppletRecord *record, int major, int minor)
{
    if (!record || !record->parsed) return true;
    if (record->formatMajor != major) return record->formatMajor > major;
    return record->formatMinor >= minor;
}

// ---- Chunk names --------------------------------------------------------------------------

bool MakeLinkedObjectName(const lvAppletContainer *container, const lvLinkedObject *object,
                          char *buffer, size_t size)
{
    if (object->dataSize == 0) return false;
    const char *where = object->containerPath[0] ? object->containerPath : container->path;
    const char *file = object->name ? FilePartOf(object->name) : "x";
    return MakeChunkName(file, buffer, size, nullptr, int64_t(container->base + object->dataOffset),
                         object->dataSize, 0, where) != 0;
}

// ---- Application-icon block ------------------------------------------------------------------

int ReadAppIconBlock(lvByteSource *source, uint64_t offset, const char *containerPath,
                     lvAppletRecord *record)
{
    lvAppletCursor cursor = {source, offset, source->size};
    uint8_t c = 0;
    do {
        if (ReadAppletByte(&cursor, &c) != 0) return 0;     // nothing after the bytecode
    } while (c == 0);
    if (c != 'I') return 0;
    if (int err = SkipAppletBytes(&cursor, 2)) return err;
    for (;;) {
        uint16_t width, height;
        uint8_t flags;
        uint32_t size;
        if (int err = ReadAppletBE16(&cursor, &width)) return err;
        if (width == 0) return 0;
        if (int err = ReadAppletBE16(&cursor, &height)) return err;
        if (int err = ReadAppletByte(&cursor, &flags)) return err;
        if (int err = ReadAppletBE32(&cursor, &size)) return err;
        uint64_t dataOffset = cursor.position;
        if (int err = SkipAppletBytes(&cursor, size)) return err;
        int first = (flags & 1) ? 10 : 0;
        for (int i = first; i < first + 10; i++) {
            lvAppIconSlot &slot = record->icons[i];
            if (slot.width != width || slot.height != height) continue;
            char name[1024], file[32];
            std::snprintf(file, sizeof(file), "%dx%d", width, height);
            if (!MakeChunkName(file, name, sizeof(name), nullptr, int64_t(dataOffset), size, 0,
                               containerPath))
                return ERR_STACK;
            char *copy = static_cast<char *>(AllocMemory(std::strlen(name) + 1, 0));
            if (!copy) return ERR_MEM;
            std::strcpy(copy, name);
            FreeMemory(slot.fileName);
            slot.fileName = copy;
            slot.isDefault = (flags & 2) != 0;
            break;
        }
    }
}

const lvAppIconSlot *GetAppIconTable(const lvAppletRecord *record)
{
    return record->icons;
}

// ---- Record parser -------------------------------------------------------------------------

namespace {

struct lvTailReaders {
    lvLinkedTailReader linked[LV_LINKED_TYPES];    // by object type
    lvBackfillReader backfill;                      // tag 17
};
lvTailReaders TailReaders;

// Object types whose entries carry a tail that only their library can read.
bool TypeHasTail(int type)
{
    switch (type) {
    case 0: case 1: case 2: case 5: case 7: case 10: case 13: case 16: case 18: case 20: case 21:
        return true;
    default:
        return false;
    }
}

int ReadButtonTail(lvAppletCursor *cursor, lvLinkedObject *object, int, int)
{
    uint16_t v[4];
    for (uint16_t &x : v)
        if (int err = ReadAppletBE16(cursor, &x)) return err;
    lvLinkedButton *button = static_cast<lvLinkedButton *>(AllocMemory(sizeof(lvLinkedButton), 1));
    if (!button) return ERR_MEM;
    button->x = int16_t(v[0]);
    button->y = int16_t(v[1]);
    button->width = int16_t(v[2]);
    button->height = int16_t(v[3]);
    object->payload = button;
    return 0;
}

// State of one parse.
struct lvParse {
    lvAppletCursor cursor;      // position in the container
    lvAppletContainer *container;
    lvAppletRecord *record;
    lvLinkedObject **objectTail;    // where the next linked object goes
    lvLinkedFile **fileTail;        // where the next linked file goes
    lvAppletLabel **labelTail;      // where the next label goes
    lvUserConstant **constantTail;  // where the next user constant goes
    uint64_t containerEnd;          // end of the container's bytes
};

// Checks that [offset, offset + length) from the container's start lies in the container.
bool RangeInContainer(const lvParse *p, uint64_t offset, uint64_t length)
{
    uint64_t start = p->container->base + offset;
    return start <= p->containerEnd && length <= p->containerEnd - start;
}

// A 16-bit length and that many bytes, into buffer[bound] (ERR_STACK when length >= bound).
int ReadString16(lvAppletCursor *cursor, char *buffer, size_t bound)
{
    uint16_t length;
    if (int err = ReadAppletBE16(cursor, &length)) return err;
    if (length >= bound) return ERR_STACK;
    if (int err = ReadAppletBytes(cursor, buffer, length)) return err;
    buffer[length] = 0;
    return 0;
}

int ReadUserTags(lvParse *p, lvLinkedObject *object)
{
    uint32_t count;
    if (int err = ReadAppletBE32(&p->cursor, &count)) return err;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t size;
        char name[256];
        uint8_t kind;
        if (int err = ReadAppletBE32(&p->cursor, &size)) return err;
        if (int err = ReadAppletString(&p->cursor, name, sizeof(name))) return err;
        if (int err = ReadAppletByte(&p->cursor, &kind)) return err;
        size_t nameLength = std::strlen(name);
        uint32_t valueBytes = 8;
        if (kind != 0) {
            // The stored size covers the name, its NUL and the string with its NUL.
            if (size < nameLength + 2) return ERR_READ;
            valueBytes = uint32_t(size - (nameLength + 1));
            if (!RangeInContainer(p, p->cursor.position - p->container->base, valueBytes))
                return ERR_READ;
        }
        lvUserTag *tag;
        if (kind != 0) {
            char *value = static_cast<char *>(AllocMemory(valueBytes, 0));
            if (!value) return ERR_MEM;
            if (int err = ReadAppletBytes(&p->cursor, value, valueBytes)) {
                FreeMemory(value);
                return err;
            }
            tag = NewUserTag(name, value, strnlen(value, valueBytes), 0);
            FreeMemory(value);
        } else {
            double number;
            if (int err = ReadAppletDouble(&p->cursor, &number)) return err;
            tag = NewUserTag(name, nullptr, 0, number);
        }
        if (!tag) return ERR_MEM;
        AppendUserTag(&object->userTags, tag);
    }
    return 0;
}

int ReadLinkedObject(lvParse *p)
{
    lvAppletRecord *rec = p->record;
    lvAppletCursor *c = &p->cursor;
    uint8_t type;
    uint32_t words[8];
    if (int err = ReadAppletByte(c, &type)) return err;
    for (uint32_t &w : words)
        if (int err = ReadAppletBE32(c, &w)) return err;
    lvLinkedObject *object = static_cast<lvLinkedObject *>(AllocMemory(sizeof(lvLinkedObject), 1));
    if (!object) return ERR_MEM;
    object->type = type;
    object->identifier = words[0];
    object->nameOffset = words[1];
    object->nameLength = words[2];
    object->dataOffset = words[3];
    object->dataSize = words[4];
    object->optionValue = words[5];
    object->optionFlags = words[6];
    object->sourceLine = words[7];
    int err = 0;
    if (object->dataSize && !RangeInContainer(p, object->dataOffset, object->dataSize))
        err = ERR_READ;
    if (!err && rec->formatMajor >= 6) {
        err = ReadString16(c, object->loaderName, sizeof(object->loaderName));
        if (!err) err = ReadString16(c, object->adapterName, sizeof(object->adapterName));
    }
    if (!err && (rec->formatMajor >= 10 || (type == 12 && rec->formatMajor >= 6)))
        err = ReadUserTags(p, object);
    if (!err && TypeHasTail(type)) {
        lvLinkedTailReader reader = type < LV_LINKED_TYPES ? TailReaders.linked[type] : nullptr;
        if (!reader && type == 5) reader = ReadButtonTail;
        if (!reader) err = ERR_UNKNOWNSEC;
        else err = reader(c, object, rec->formatMajor, rec->formatMinor);
    }
    if (!err && object->nameLength) {
        if (object->nameLength >= 1024) err = ERR_STACK;
        else if (!RangeInContainer(p, object->nameOffset, object->nameLength)) err = ERR_READ;
        else if (!(object->name = static_cast<char *>(AllocMemory(object->nameLength + 1, 0))))
            err = ERR_MEM;
        else if (ReadSource(&p->container->source, p->container->base + object->nameOffset,
                            object->name, object->nameLength) != object->nameLength)
            err = ERR_READ;
        else object->name[object->nameLength] = 0;
    }
    if (err) {
        FreeLinkedObject(object);
        return err;
    }
    CopyStrBounded(object->containerPath, sizeof(object->containerPath), p->container->path);
    object->embedded = object->dataSize != 0 || ((type == 18 || type == 20) && !object->nameLength);
    *p->objectTail = object;
    p->objectTail = &object->next;
    return 0;
}

int ReadLinkedFile(lvParse *p)
{
    lvAppletCursor *c = &p->cursor;
    lvLinkedFile *file = static_cast<lvLinkedFile *>(AllocMemory(sizeof(lvLinkedFile), 1));
    if (!file) return ERR_MEM;
    uint32_t word;
    int err = ReadAppletString(c, file->name, sizeof(file->name));
    if (!err) err = ReadAppletBE32(c, &word);
    if (!err && word == 0xFFFFFFFFu) {
        err = ReadAppletBE32(c, &file->size);
        if (!err) err = ReadAppletBE32(c, &file->offset);
        if (!err && !RangeInContainer(p, file->offset, file->size)) err = ERR_READ;
    } else if (!err && word == 0xFFFFFFFEu) {
        FreeMemory(file);
        return 0;
    } else if (!err) {
        file->size = word;
        uint64_t at = c->position - p->container->base;
        if (at > UINT32_MAX) err = ERR_READ;
        file->offset = uint32_t(at);
        if (!err) err = SkipAppletBytes(c, word);
    }
    if (err) {
        FreeMemory(file);
        return err;
    }
    CopyStrBounded(file->containerPath, sizeof(file->containerPath), p->container->path);
    *p->fileTail = file;
    p->fileTail = &file->next;
    return 0;
}

// A string stored with every byte complemented and ended by FF.
int ReadComplementedString(lvAppletCursor *cursor, char *buffer, size_t bound)
{
    for (size_t i = 0;; i++) {
        uint8_t b;
        if (int err = ReadAppletByte(cursor, &b)) return err;
        if (i >= bound) return ERR_STACK;
        if (b == 0xFF) {
            buffer[i] = 0;
            return 0;
        }
        buffer[i] = char(~b);
    }
}

// Tags 8, 27 and 33; each replaces the map.
int ReadLineMap(lvParse *p, int tag)
{
    lvAppletRecord *rec = p->record;
    FreeNodeList(&rec->lineMap);
    lvLineMapEntry **tail = &rec->lineMap;
    uint32_t count;
    if (int err = ReadAppletBE32(&p->cursor, &count)) return err;
    for (uint32_t i = 0; i < count; i++) {
        lvLineMapEntry *e = static_cast<lvLineMapEntry *>(AllocMemory(sizeof(lvLineMapEntry), 1));
        if (!e) return ERR_MEM;
        *tail = e;
        tail = &e->next;
        int err = ReadAppletBE32(&p->cursor, &e->firstLine);
        if (!err) err = ReadAppletBE32(&p->cursor, &e->lastLine);
        if (!err) err = ReadAppletBE32(&p->cursor, &e->sourceLine);
        if (tag == 33) {
            if (!err) err = ReadComplementedString(&p->cursor, e->sourceFile, sizeof(e->sourceFile));
            if (!err) err = ReadComplementedString(&p->cursor, e->chunkName, sizeof(e->chunkName));
        } else {
            if (!err) err = ReadAppletString(&p->cursor, e->sourceFile, sizeof(e->sourceFile));
            if (!err && tag == 27) err = ReadAppletString(&p->cursor, e->chunkName, sizeof(e->chunkName));
            if (!err && tag == 8) CopyStrBounded(e->chunkName, sizeof(e->chunkName), p->container->path);
        }
        if (err) return err;
    }
    return 0;
}

int ReadLabels(lvParse *p)
{
    uint32_t count;
    if (int err = ReadAppletBE32(&p->cursor, &count)) return err;
    for (uint32_t i = 0; i < count; i++) {
        lvAppletLabel *label = static_cast<lvAppletLabel *>(AllocMemory(sizeof(lvAppletLabel), 1));
        if (!label) return ERR_MEM;
        *p->labelTail = label;
        p->labelTail = &label->next;
        uint32_t value;
        if (int err = ReadAppletBE32(&p->cursor, &value)) return err;
        label->value = int32_t(value);
        if (int err = ReadAppletString(&p->cursor, label->name, sizeof(label->name))) return err;
    }
    return 0;
}

int ReadUserConstants(lvParse *p)
{
    char *text = static_cast<char *>(AllocMemory(65536, 0));
    if (!text) return ERR_MEM;
    int err = 0;
    for (;;) {
        char name[256];
        uint8_t kind;
        if ((err = ReadAppletString(&p->cursor, name, sizeof(name)))) break;
        if (!name[0]) break;
        if ((err = ReadAppletByte(&p->cursor, &kind))) break;
        lvUserConstant *k = static_cast<lvUserConstant *>(AllocMemory(sizeof(lvUserConstant), 1));
        if (!k) {
            err = ERR_MEM;
            break;
        }
        *p->constantTail = k;
        p->constantTail = &k->next;
        std::memcpy(k->name, name, sizeof(name));
        if (kind != 0) {
            if ((err = ReadAppletString(&p->cursor, text, 65536))) break;
            size_t n = std::strlen(text);
            if (!(k->string = static_cast<char *>(AllocMemory(n + 1, 0)))) {
                err = ERR_MEM;
                break;
            }
            std::memcpy(k->string, text, n + 1);
        } else if ((err = ReadAppletDouble(&p->cursor, &k->number))) {
            break;
        }
    }
    FreeMemory(text);
    return err;
}

// Tags 37 and 38: names of at most 63 bytes up to an empty one.
int SkipNameList(lvAppletCursor *cursor)
{
    char name[64];
    do {
        if (int err = ReadAppletString(cursor, name, sizeof(name))) return err;
    } while (name[0]);
    return 0;
}

int ReadFlagsRecord(lvParse *p, int tag)
{
    lvAppletFlagsBlock &f = p->record->flagsBlock;
    if (int err = ReadAppletBE32(&p->cursor, &f.flags)) return err;
    p->record->hasFlags = 1;
    if (tag == 36) return 0;
    if (p->record->formatMajor >= 6) {
        uint32_t a, b;
        if (int err = ReadAppletBE32(&p->cursor, &a)) return err;
        if (int err = ReadAppletBE32(&p->cursor, &b)) return err;
        if (int err = ReadAppletByte(&p->cursor, &f.byteValue)) return err;
        f.value1 = int32_t(a);
        f.value2 = int32_t(b);
    }
    if (p->record->formatMajor >= 11)
        if (int err = ReadAppletByte(&p->cursor, &f.channelCount)) return err;
    return 0;
}

// Style flag set by tags 18-20, 24, 25 and 30 when their byte is not 0.
uint32_t PatchFlagOfTag(int tag)
{
    switch (tag) {
    case 18: return 0x1;    // borderless
    case 19: return 0x4;    // fixed
    case 20: return 0x2;    // sizeable
    case 24: return 0x10;   // hide pointer
    case 25: return 0x8;    // no mode switch
    case 30: return 0x20;   // no hide
    default: return 0;
    }
}

int ReadRecord(lvParse *p, int tag, char *errorArgument, size_t argumentSize)
{
    lvAppletRecord *rec = p->record;
    lvAppletCursor *c = &p->cursor;
    lvDisplayPatch &patch = rec->displayPatch;
    lvDisplaySettingsBlock &settings = rec->displaySettings;
    uint8_t b;
    uint16_t h[2];
    uint32_t w[2];
    int err = 0;
    switch (tag) {
    case 0:
        if (!(err = ReadAppletBE32(c, &w[0]))) err = SkipAppletBytes(c, w[0]);
        return err;
    case 2:
        if ((err = ReadAppletBE32(c, &w[0]))) return err;
        for (uint32_t i = 0; i < w[0] && !err; i++) err = ReadLinkedObject(p);
        return err;
    case 3:
        if ((err = ReadAppletBE16(c, &h[0])) || (err = ReadAppletBE16(c, &h[1]))) return err;
        patch.present = 1;
        patch.fields |= LV_PATCH_SIZE;
        patch.width = int16_t(h[0]);
        patch.height = int16_t(h[1]);
        return 0;
    case 4:
        return ReadString16(c, patch.title, sizeof(patch.title));
    case 5:
        if ((err = ReadAppletBE32(c, &patch.color))) return err;
        patch.present = 1;
        patch.fields |= LV_PATCH_COLOR;
        return 0;
    case 6:
        if ((err = ReadAppletBE32(c, &w[0])) || (err = ReadAppletBE32(c, &w[1]))) return err;
        patch.present = 1;
        patch.fields |= LV_PATCH_POSITION;
        patch.x = int32_t(w[0]);
        patch.y = int32_t(w[1]);
        return 0;
    case 7:
        settings.desktop = 1;
        return 0;
    case 8: case 27: case 33:
        return ReadLineMap(p, tag);
    case 9:
        return ReadLabels(p);
    case 10: {
        uint8_t v[2];
        if ((err = ReadAppletBytes(c, v, 2))) return err;
        if (v[0] > MaxFormatMajor || (v[0] == MaxFormatMajor && v[1] > MaxFormatMinor)) {
            if (errorArgument) std::snprintf(errorArgument, argumentSize, "%d.%d", v[0], v[1]);
            return ERR_APPLETVERSION;
        }
        rec->formatMajor = v[0];
        rec->formatMinor = v[1];
        if (v[0] < 7) rec->encoding = 0;
        return 0;
    }
    case 11: return ReadAppletString(c, rec->title, sizeof(rec->title));
    case 12:
        if ((err = ReadAppletString(c, rec->version, sizeof(rec->version)))) return err;
        if (uint8_t(rec->version[0]) == 0xFF) rec->version[0] = '$';
        return 0;
    case 13: return ReadAppletString(c, rec->copyright, sizeof(rec->copyright));
    case 14: return ReadAppletString(c, rec->author, sizeof(rec->author));
    case 15: return ReadAppletString(c, rec->description, sizeof(rec->description));
    case 34: return ReadAppletString(c, rec->identifier, sizeof(rec->identifier));
    case 16:
        if ((err = ReadAppletByte(c, &b))) return err;
        settings.mode = b;
        return 0;
    case 17:
        if (!TailReaders.backfill) return ERR_UNKNOWNSEC;
        FreeMemory(settings.backfill);
        settings.backfill = nullptr;
        return TailReaders.backfill(c, rec->formatMajor, rec->formatMinor, &settings.backfill);
    case 18: case 19: case 20: case 24: case 25: case 30:
        if ((err = ReadAppletByte(c, &b))) return err;
        patch.present = 1;
        if (b) patch.setFlags |= PatchFlagOfTag(tag);
        return 0;
    case 21:
        if ((err = ReadAppletByte(c, &b))) return err;
        settings.hideTitleBar = b;
        return 0;
    case 22:
        if ((err = ReadAppletBE16(c, &h[0])) || (err = ReadAppletBE16(c, &h[1]))) return err;
        settings.screenWidth = int16_t(h[0]);
        settings.screenHeight = int16_t(h[1]);
        return 0;
    case 23:
        if ((err = ReadAppletByte(c, &b))) return err;
        settings.screenDepth = b;
        return 0;
    case 26:
        if ((err = ReadAppletBE32(c, &w[0])) || (err = ReadAppletBE32(c, &w[1]))) return err;
        for (uint32_t i = 0; i < w[0] && !err; i++) err = ReadLinkedFile(p);
        return err;
    case 28: {
        uint8_t last;
        if ((err = ReadAppletByte(c, &b)) || (err = ReadAppletBE32(c, &w[0])) ||
            (err = ReadAppletBE32(c, &w[1])) || (err = ReadAppletByte(c, &last)))
            return err;
        patch.present = 1;
        patch.fields |= LV_PATCH_SCALE;
        patch.setFlags |= b ? 0x100 : 0x40;
        if (last) patch.setFlags |= 0x80;
        patch.scaleWidth = int32_t(w[0]);
        patch.scaleHeight = int32_t(w[1]);
        return 0;
    }
    case 29:
        rec->noDisplayOverrides = 1;
        return 0;
    case 31:
        return ReadUserConstants(p);
    case 32: case 36:
        return ReadFlagsRecord(p, tag);
    case 35:
        if ((err = ReadAppletByte(c, &b))) return err;
        rec->encoding = b ? 1 : 0;
        return 0;
    case 37: case 38:
        return SkipNameList(c);
    default:
        return ERR_UNKNOWNSEC;
    }
}

} // namespace

void SetLinkedTailReader(int type, lvLinkedTailReader reader)
{
    if (type >= 0 && type < LV_LINKED_TYPES) TailReaders.linked[type] = reader;
}

void SetBackfillReader(lvBackfillReader reader)
{
    TailReaders.backfill = reader;
}

int ParseAppletRecords(lvAppletContainer *container, lvAppletRecord *record,
                       char *errorArgument, size_t argumentSize)
{
    if (errorArgument && argumentSize) errorArgument[0] = 0;
    lvParse p;
    p.container = container;
    p.record = record;
    p.containerEnd = container->source.size;
    p.cursor = {&container->source, container->base, container->source.size};
    // Continue the lists the record already holds (a display added before parsing).
    p.objectTail = &record->linkedObjects;
    while (*p.objectTail) p.objectTail = &(*p.objectTail)->next;
    p.fileTail = &record->linkedFiles;
    while (*p.fileTail) p.fileTail = &(*p.fileTail)->next;
    p.labelTail = &record->labels;
    while (*p.labelTail) p.labelTail = &(*p.labelTail)->next;
    p.constantTail = &record->userConstants;
    while (*p.constantTail) p.constantTail = &(*p.constantTail)->next;

    record->parsed = 1;
    if (SkipAppletBytes(&p.cursor, 4) != 0) return ERR_UNEXPECTEDEOF;
    for (;;) {
        uint8_t tag;
        if (ReadAppletByte(&p.cursor, &tag) != 0) return ERR_UNEXPECTEDEOF;
        if (tag > 38) return ERR_UNKNOWNSEC;
        if (tag != 1) {
            if (int err = ReadRecord(&p, tag, errorArgument, argumentSize)) return err;
            continue;
        }
        uint32_t size;
        if (int err = ReadAppletBE32(&p.cursor, &size)) return err;
        if (p.cursor.limit - p.cursor.position < size) return ERR_READ;
        uint8_t *code = static_cast<uint8_t *>(AllocMemory(size ? size : 1, 0));
        if (!code) return ERR_MEM;
        if (int err = ReadAppletBytes(&p.cursor, code, size)) {
            FreeMemory(code);
            return err;
        }
        FreeMemory(record->bytecode);
        record->bytecode = code;
        record->bytecodeSize = size;
        if (container->packed)
            return ReadAppIconBlock(&container->outer, container->iconOffset,
                                    container->outerPath, record);
        return ReadAppIconBlock(&container->source, p.cursor.position, container->path, record);
    }
}

// ---- Linked displays -----------------------------------------------------------------------

int AddLinkedDisplay(lvAppletRecord *record, int type, uint32_t identifier, const void *options,
                     size_t optionsSize, void (*freePayload)(void *payload))
{
    // Refused before anything is appended: a half-made entry would be preloaded later.
    if (type != 10) return ERR_INTERNAL;
    lvLinkedObject *object = static_cast<lvLinkedObject *>(AllocMemory(sizeof(lvLinkedObject), 1));
    if (!object) return ERR_MEM;
    if (optionsSize) {
        object->payload = AllocMemory(optionsSize, 0);
        if (!object->payload) {
            FreeMemory(object);
            return ERR_MEM;
        }
        std::memcpy(object->payload, options, optionsSize);
        object->freePayload = freePayload;
    }
    object->type = type;
    object->identifier = identifier;
    lvLinkedObject **tail = &record->linkedObjects;
    while (*tail) tail = &(*tail)->next;
    *tail = object;
    return 0;
}

// ---- Preloading linked objects ----------------------------------------------------------------

namespace {

const char *const NoCommandName = "----";

void PrintPreloadText(const lvPreloadHooks *hooks, void *user, const char *text)
{
    if (hooks->print) hooks->print(user, text);
    else std::fputs(text, stdout);
}

} // namespace

const char *GetPreloadCommandName(int type)
{
    switch (type) {
    case 0: return "LoadBGPic";
    case 1: return "LoadBrush";
    case 2: return "LoadAnim";
    case 3: return "OpenMusic";
    case 4: return "LoadSample";
    case 5: return "CreateButton";
    case 6: return "CreateKeyDown";
    case 7: return "LoadSprite";
    case 8: return "OpenFile";
    case 9: case 22: return "OpenFont";
    case 11: return "OpenVideo";
    case 13: return "CreateMenu";
    case 15: return "LoadIcon";
    case 16: return "CreateIcon";
    case 18: return "OpenDirectory";
    case 19: return "LoadPalette";
    case 20: return "OpenCatalog";
    case 21: return "CreatePalette";
    default: return nullptr;    // displays, plug-ins, warnings, application icons
    }
}

int PreloadLinkedObjects(lvAppletRecord *record, const lvAppletContainer *container,
                         const lvPreloadHooks *hooks, void *user, lvPreloadStatus *status)
{
    status->sourceLine = 0;
    status->commandName = NoCommandName;
    status->containerNeeded = record->linkedFiles != nullptr;
    int err = 0;
    int hasDisplay1 = 0, hasBackground1 = 0;
    char *startDir = nullptr;

    // The application icon first, so that the first display shows it.
    for (const lvAppIconSlot &slot : record->icons) {
        if ((slot.fileName || slot.isDefault) && hooks->setAppIcon) {
            hooks->setAppIcon(user, record->icons);
            break;
        }
    }
    // First pass: plug-ins the applet links, which may install adapters the loaders need.
    for (lvLinkedObject *o = record->linkedObjects; o && !err; o = o->next) {
        if (o->type == 12 || o->type == 23) {
            status->sourceLine = o->sourceLine;
            status->commandName = "@REQUIRE";
            err = hooks->requirePlugin ? hooks->requirePlugin(user, o, o->type == 12 ? 514 : 770)
                                       : ERR_UNIMPLCMD;
            if (!err) status->commandName = NoCommandName;
        }
        if (o->type == 10 && o->identifier == 1) hasDisplay1 = 1;
        if (o->type == 0 && o->identifier == 1) hasBackground1 = 1;
    }
    if (!err && hooks->prepare) err = hooks->prepare(user, hasDisplay1);
    if (!err) {
        // Loaders may change the current directory; the applet's own is restored after.
        startDir = getcwd(nullptr, 0);
    }
    // Second pass: each object through its library's preload command.
    for (lvLinkedObject *o = record->linkedObjects; o && !err; o = o->next) {
        const char *command = GetPreloadCommandName(o->type);
        if (!command) continue;
        status->sourceLine = o->sourceLine;
        status->commandName = command;
        lvPreloadHandler handler = o->type < LV_LINKED_TYPES ? hooks->load[o->type] : nullptr;
        if (!handler) {
            err = ERR_UNIMPLCMD;
            break;
        }
        char chunkName[1024];
        const char *fileName = o->name ? o->name : "";
        if (o->dataSize) {
            if (!MakeLinkedObjectName(container, o, chunkName, sizeof(chunkName))) {
                err = ERR_STACK;
                break;
            }
            fileName = chunkName;
        }
        int keeps = 0;
        err = handler(user, o, fileName, &keeps);
        if (keeps) status->containerNeeded = 1;
        if (!err) status->commandName = NoCommandName;
    }
    if (startDir) {
        char *now = getcwd(nullptr, 0);
        if (!now || std::strcmp(now, startDir) != 0) {
            if (chdir(startDir) != 0 && !err) err = ERR_CHANGEDIR;
        }
        std::free(now);
        std::free(startDir);
    }
    // Third pass: displays, then warnings.
    for (lvLinkedObject *o = record->linkedObjects; o && !err; o = o->next) {
        if (o->type == 10) {
            status->sourceLine = o->sourceLine;
            if (hooks->createDisplay) err = hooks->createDisplay(user, o, hasBackground1);
        } else if (o->type == 14 && !hooks->noDebug) {
            std::string line = std::string("*** WARNING ") + (o->name ? o->name : "") + " ***\n";
            PrintPreloadText(hooks, user, line.c_str());
        }
    }
    if (hooks->finish) hooks->finish(user);
    if (err) return err;
    status->sourceLine = 0;
    FreeLinkedObjectList(&record->linkedObjects);
    return 0;
}
