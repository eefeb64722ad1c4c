// memblock_engine.cpp - memory blocks (see memblock_engine.h).
//
// Depends on: runtime/objects.h, runtime/vfile.h, runtime/errors.h (message arguments),
// libs/math_engine.h (integer conversions), platform/lvplatform.h (allocator).
// Limits: blocks of unknown size (0) are never range-checked; script thread only.
#include "libs/memblock_engine.h"

#include <bit>
#include <climits>
#include <cstring>
#include <new>

#include "libs/math_engine.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/vfile.h"
#include "vm/lvvm.h"

// ============================================================================
// Typed values
// ============================================================================

int GetMemTypeSize(int type)
{
    switch (type) {
    case MEMTYPE_INTEGER: return 4;
    case MEMTYPE_SHORT: return 2;
    case MEMTYPE_BYTE: return 1;
    case MEMTYPE_FLOAT: return 4;
    case MEMTYPE_DOUBLE: return 8;
    default: return 0;
    }
}

void GetMemOrderFlags(int order, int *nativeFlag, int *littleFlag)
{
    *nativeFlag = order == MEMORDER_NATIVEENDIAN;
    *littleFlag = order == MEMORDER_LITTLEENDIAN;
}

// An access of n bytes at offset lies inside a block of known size (always with size 0).
static bool InRange(int64_t size, int64_t offset, int64_t n)
{
    if (size == 0) return true;
    return offset >= 0 && n >= 0 && offset <= size && n <= size - offset;
}

// Reads n bytes as an unsigned number, most significant first unless littleFirst.
static uint64_t LoadBytes(const uint8_t *p, int n, bool littleFirst)
{
    uint64_t v = 0;
    for (int i = 0; i < n; i++) v = (v << 8) | p[littleFirst ? n - 1 - i : i];
    return v;
}

static void StoreBytes(uint8_t *p, int n, uint64_t v, bool littleFirst)
{
    for (int i = 0; i < n; i++) p[littleFirst ? i : n - 1 - i] = uint8_t(v >> (8 * i));
}

// The stored value of a type from its raw bits.
static double BitsToValue(int type, uint64_t bits, bool isSigned)
{
    switch (type) {
    case MEMTYPE_FLOAT: return double(std::bit_cast<float>(uint32_t(bits)));
    case MEMTYPE_DOUBLE: return std::bit_cast<double>(bits);
    case MEMTYPE_SHORT: return isSigned ? double(int16_t(bits)) : double(bits);
    case MEMTYPE_BYTE: return isSigned ? double(int8_t(bits)) : double(bits);
    default: return double(bits);
    }
}

int PeekMemValue(const uint8_t *bytes, int64_t size, int type, int64_t offset, int nativeFlag,
                 int littleFlag, double *value)
{
    int n = GetMemTypeSize(type);
    if (!n) return ERR_WRONGUSAGE;
    if (offset < 0 || !InRange(size, offset, n)) return ERR_MEMRANGE;
    *value = BitsToValue(type, LoadBytes(bytes + offset, n, nativeFlag || littleFlag), false);
    return 0;
}

int PokeMemValue(uint8_t *bytes, int64_t size, int type, int64_t offset, uint32_t integerValue,
                 float floatValue, double doubleValue, int nativeFlag, int littleFlag)
{
    int n = GetMemTypeSize(type);
    if (!n) return ERR_WRONGUSAGE;
    if (offset < 0 || !InRange(size, offset, n)) return ERR_MEMRANGE;
    uint64_t bits = integerValue;
    if (type == MEMTYPE_FLOAT) bits = std::bit_cast<uint32_t>(floatValue);
    else if (type == MEMTYPE_DOUBLE) bits = std::bit_cast<uint64_t>(doubleValue);
    StoreBytes(bytes + offset, n, bits, nativeFlag || littleFlag);
    return 0;
}

// ============================================================================
// Block list
// ============================================================================

// The library's state: the blocks in creation order.
struct lvMemBlockLibrary {
    lvObjectHeader *head;  // first block (lvMemBlock begins with its header)
    lvRefOps refOps;       // how user data references are released
};

static void ReleaseNothing(void *, int) {}
static lvMemBlockLibrary memLibrary = {nullptr, {nullptr, nullptr, ReleaseNothing}};

int RegisterMemBlockType(lvObjectAttributeFunction attribute)
{
    return RegisterObjectType(LV_OBJECT_MEMBLOCK, "Memory block", &memLibrary.head, attribute, nullptr, 0);
}

void SetMemBlockRefOps(const lvRefOps *ops)
{
    memLibrary.refOps = ops ? *ops : lvRefOps{nullptr, nullptr, ReleaseNothing};
}

lvMemBlock *FindMemBlock(lvObjectId id)
{
    for (lvObjectHeader *h = memLibrary.head; h; h = h->next)
        if (ObjectIdMatches(h, id)) return reinterpret_cast<lvMemBlock *>(h);
    return nullptr;
}

int LookupMemBlock(lvObjectId id, lvMemBlock **block)
{
    *block = FindMemBlock(id);
    if (*block) return 0;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDMEMBLK;
}

// Unlinks and frees one block.
static void DestroyMemBlock(lvMemBlock *block)
{
    for (lvObjectHeader **link = &memLibrary.head; *link; link = &(*link)->next) {
        if (*link == &block->header) {
            *link = block->header.next;
            break;
        }
    }
    FreeObjectUserData(&block->header.userData, &memLibrary.refOps);
    if (!block->notOwned) FreeMemory(block->data);
    FreeMemory(block);
}

int FreeMemBlock(lvObjectId id)
{
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    DestroyMemBlock(block);
    return 0;
}

void FreeAllMemBlocks()
{
    while (memLibrary.head) DestroyMemBlock(reinterpret_cast<lvMemBlock *>(memLibrary.head));
}

// Steps 2 and 4 of every creation: a numeric identifier replaces its old block; the new
// record is appended to the list. data is freed on failure when owned.
static int AddMemBlock(int number, bool useHandle, uint8_t *data, int64_t size, int notOwned, lvMemBlock **out)
{
    lvMemBlock *block = static_cast<lvMemBlock *>(AllocMemory(sizeof(lvMemBlock), 1));
    if (!block) {
        if (!notOwned) FreeMemory(data);
        return ERR_MEM;
    }
    InitObjectHeader(&block->header, LV_OBJECT_MEMBLOCK, number, useHandle);
    block->size = size;
    block->data = data;
    block->notOwned = notOwned;
    lvObjectHeader **link = &memLibrary.head;
    while (*link) link = &(*link)->next;
    *link = &block->header;
    if (out) *out = block;
    return 0;
}

// A numeric identifier frees its old block before the new one is made.
static void ReleaseNumber(int number, bool useHandle)
{
    if (useHandle) return;
    if (lvMemBlock *old = FindMemBlock({number, nullptr})) DestroyMemBlock(old);
}

int AllocMemBlock(int number, bool useHandle, int64_t size, lvMemBlock **block)
{
    ReleaseNumber(number, useHandle);
    if (size <= 0 || uint64_t(size) > SIZE_MAX) return ERR_MEM;
    uint8_t *data = static_cast<uint8_t *>(AllocMemory(size_t(size), 0));
    if (!data) return ERR_MEM;
    return AddMemBlock(number, useHandle, data, size, 0, block);
}

int AllocMemBlockFromPointer(int number, bool useHandle, void *pointer, int64_t size, lvMemBlock **block)
{
    if (size < 0) return ERR_WRONGUSAGE;
    ReleaseNumber(number, useHandle);
    return AddMemBlock(number, useHandle, static_cast<uint8_t *>(pointer), size, 1, block);
}

int AllocMemBlockFromVirtualFile(int number, bool useHandle, const char *name, lvMemBlock **block)
{
    lvMemFile *node = nullptr;
    if (!name || !IsChunkName(name) ||
        !ParseChunkName(name, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, &node) || !node)
        return ERR_WRONGUSAGE;
    ReleaseNumber(number, useHandle);
    return AddMemBlock(number, useHandle, node->data, node->size, 1, block);
}

int GetMemBlockAttribute(lvObjectId id, int attribute, double *value)
{
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (attribute != MEMBLOCK_ATTRSIZE) return ERR_UNKNOWNATTR;
    *value = double(block->size);
    return 0;
}

// ============================================================================
// Peek, Poke, FillMem, CopyMem
// ============================================================================

int PeekMemBlock(lvObjectId id, int64_t offset, int type, int order, double *value)
{
    if (offset < 0) return ERR_MEMRANGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    int nativeFlag, littleFlag;
    GetMemOrderFlags(order, &nativeFlag, &littleFlag);
    return PeekMemValue(block->data, block->size, type, offset, nativeFlag, littleFlag, value);
}

// Bytes Peek's string form takes when no length is given.
static bool IsPeekTextByte(uint8_t c) { return c == '\t' || c == '\n' || c == '\r' || (c >= 32 && c <= 126); }

int PeekMemBlockString(lvObjectId id, int64_t offset, int64_t length, std::string *text)
{
    if (offset < 0) return ERR_MEMRANGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (length < 0) return ERR_WRONGUSAGE;
    const uint8_t *p = block->data + offset;
    if (length > 0) {
        if (!InRange(block->size, offset, length)) return ERR_MEMRANGE;
        text->assign(reinterpret_cast<const char *>(p), size_t(length));
        return 0;
    }
    if (block->size && offset >= block->size) return ERR_MEMRANGE;
    size_t n = 0;
    if (block->size) {
        size_t limit = size_t(block->size - offset);
        while (n < limit && IsPeekTextByte(p[n])) n++;
    } else {
        while (IsPeekTextByte(p[n])) n++;
    }
    text->assign(reinterpret_cast<const char *>(p), n);
    return 0;
}

int PokeMemBlock(lvObjectId id, int64_t offset, int type, double value, int order)
{
    if (offset < 0) return ERR_MEMRANGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    int nativeFlag, littleFlag;
    GetMemOrderFlags(order, &nativeFlag, &littleFlag);
    uint32_t integer = (type == MEMTYPE_FLOAT || type == MEMTYPE_DOUBLE) ? 0 : NumberToU32(value);
    return PokeMemValue(block->data, block->size, type, offset, integer, float(value), value, nativeFlag,
                        littleFlag);
}

int PokeMemBlockString(lvObjectId id, int64_t offset, const char *bytes, size_t length)
{
    if (offset < 0) return ERR_MEMRANGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (length >= uint64_t(INT64_MAX) || !InRange(block->size, offset, int64_t(length) + 1)) return ERR_MEMRANGE;
    std::memcpy(block->data + offset, bytes, length);
    block->data[offset + int64_t(length)] = 0;
    return 0;
}

int FillMemBlock(lvObjectId id, double value, int64_t count, int64_t offset, int type)
{
    if (count <= 0) return 0;
    if (offset < 0) return ERR_MEMRANGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (!InRange(block->size, offset, count)) return ERR_MEMRANGE;
    uint32_t v = NumberToU32(value);
    uint8_t *p = block->data + offset;
    switch (type) {
    case MEMTYPE_BYTE:
        std::memset(p, int(v & 0xFF), size_t(count));
        return 0;
    case MEMTYPE_SHORT:
    case MEMTYPE_INTEGER: {
        int n = type == MEMTYPE_SHORT ? 2 : 4;
        if (offset % n || count % n) return ERR_WRONGUSAGE;
        uint8_t pattern[4];
        StoreBytes(pattern, n, v, false);
        for (int64_t i = 0; i < count; i += n) std::memcpy(p + i, pattern, size_t(n));
        return 0;
    }
    default: return ERR_WRONGUSAGE;
    }
}

int CopyMemBlock(lvObjectId source, lvObjectId destination, int64_t count, int64_t sourceOffset,
                 int64_t destinationOffset)
{
    if (count <= 0) return 0;
    if (sourceOffset < 0 || destinationOffset < 0) return ERR_MEMRANGE;
    if (source.number == destination.number && source.handle == destination.handle) return ERR_WRONGUSAGE;
    lvMemBlock *from, *to;
    if (int rc = LookupMemBlock(source, &from)) return rc;
    if (int rc = LookupMemBlock(destination, &to)) return rc;
    if (!InRange(from->size, sourceOffset, count) || !InRange(to->size, destinationOffset, count))
        return ERR_MEMRANGE;
    // Blocks over foreign memory may overlap.
    std::memmove(to->data + destinationOffset, from->data + sourceOffset, size_t(count));
    return 0;
}

// ============================================================================
// Files
// ============================================================================

// Moves count bytes in pieces that fit the file layer's int sizes.
static int TransferBytes(lvVFile *file, uint8_t *p, int64_t count, bool write)
{
    while (count > 0) {
        int piece = count > INT_MAX ? INT_MAX : int(count);
        int rc = write ? WriteVFileValue(file, p, 1, piece, 0, nullptr) : ReadVFileValue(file, p, 1, piece, 0, nullptr);
        if (rc) return rc;
        p += piece;
        count -= piece;
    }
    return 0;
}

// ReadMem (write false) and WriteMem (write true).
static int TransferMemBlock(lvFindMemFileFunction findFile, void *user, lvObjectId id, int64_t count,
                            int64_t offset, bool write)
{
    if (count <= 0) return 0;
    if (offset < 0) return ERR_WRONGUSAGE;
    lvMemFileRef file = {nullptr, 0, 0};
    if (int rc = findFile(user, &file)) return rc;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (!write && file.writeOnly) return ERR_WRITEONLY;
    if (write && file.readOnly) return ERR_READONLY;
    if (!InRange(block->size, offset, count)) return ERR_MEMRANGE;
    return TransferBytes(file.file, block->data + offset, count, write);
}

int ReadMemBlockFromFile(lvFindMemFileFunction findFile, void *user, lvObjectId id, int64_t count, int64_t offset)
{
    return TransferMemBlock(findFile, user, id, count, offset, false);
}

int WriteMemBlockToFile(lvFindMemFileFunction findFile, void *user, lvObjectId id, int64_t count, int64_t offset)
{
    return TransferMemBlock(findFile, user, id, count, offset, true);
}

// ============================================================================
// DumpMem
// ============================================================================

void FormatMemDump(const uint8_t *bytes, size_t length, uint64_t firstOffset, std::string *text)
{
    static const char hex[] = "0123456789abcdef";
    for (size_t row = 0; row < length; row += 16) {
        size_t n = length - row < 16 ? length - row : 16;
        uint32_t at = uint32_t(firstOffset + row);  // "%.8x": eight digits of the offset
        char line[16 * 4 + 16];
        size_t k = 0;
        for (int shift = 28; shift >= 0; shift -= 4) line[k++] = hex[(at >> shift) & 15];
        line[k++] = ':';
        line[k++] = ' ';
        for (size_t i = 0; i < 16; i++) {
            if (i < n) {
                line[k++] = hex[bytes[row + i] >> 4];
                line[k++] = hex[bytes[row + i] & 15];
                line[k++] = ' ';
            } else {
                line[k++] = ' ';
                line[k++] = ' ';
                line[k++] = ' ';
            }
        }
        text->append(line, k);
        for (size_t i = 0; i < n; i++) {
            uint8_t c = bytes[row + i];
            text->push_back((c >= 32 && c <= 126) ? char(c) : '.');
        }
        text->push_back('\n');
    }
}

int DumpMemBlock(lvObjectId id, int64_t length, int64_t offset, std::string *text)
{
    if (offset < 0) return ERR_WRONGUSAGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (length <= 0) {
        // The rest of the block from the offset on.
        if (!block->size) return ERR_WRONGUSAGE;
        if (offset >= block->size) return ERR_MEMRANGE;
        length = block->size - offset;
    }
    if (!InRange(block->size, offset, length)) return ERR_MEMRANGE;
    FormatMemDump(block->data + offset, size_t(length), uint64_t(offset), text);
    return 0;
}

// ============================================================================
// Lists of values
// ============================================================================

int MemBlockToValues(lvObjectId id, int type, const lvMemTableOptions *options, std::vector<double> *values)
{
    if (options->offset < 0) return ERR_WRONGUSAGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    int n = GetMemTypeSize(type);
    if (!n) return ERR_WRONGUSAGE;
    int64_t items = options->items;
    if (items == 0) {
        // The offset is not subtracted: a non-zero offset then needs an explicit count.
        items = block->size / n;
        if (items == 0) return ERR_WRONGUSAGE;
    }
    values->clear();
    if (items < 0) return 0;
    if (block->size && (items > block->size / n || !InRange(block->size, options->offset, items * n)))
        return ERR_MEMRANGE;
    try {
        values->reserve(size_t(items));
    } catch (const std::bad_alloc &) {
        return ERR_MEM;
    }
    // The processor's order is little-endian; the switch reads big-endian.
    bool littleFirst = !options->endianSwitch;
    const uint8_t *p = block->data + options->offset;
    for (int64_t i = 0; i < items; i++, p += n)
        values->push_back(BitsToValue(type, LoadBytes(p, n, littleFirst), options->isSigned != 0));
    return 0;
}

int ValuesToMemBlock(lvNextMemValueFunction next, void *user, lvObjectId id, int type,
                     const lvMemTableOptions *options)
{
    int64_t offset = options->offset;
    if (offset < 0) return ERR_WRONGUSAGE;
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    int n = GetMemTypeSize(type);
    if (!n) return ERR_WRONGUSAGE;
    if (block->size && offset > block->size) return ERR_MEMRANGE;
    bool littleFirst = !options->endianSwitch;
    double value;
    for (int64_t i = 0; next(user, i, &value); i++, offset += n) {
        // A block of unknown size has room for nothing.
        if (!block->size || !InRange(block->size, offset, n)) return ERR_MEMRANGE;
        uint64_t bits;
        if (type == MEMTYPE_FLOAT) bits = std::bit_cast<uint32_t>(float(value));
        else if (type == MEMTYPE_DOUBLE) bits = std::bit_cast<uint64_t>(value);
        else bits = NumberToU32(value);
        StoreBytes(block->data + offset, n, bits, littleFirst);
    }
    return 0;
}

// ============================================================================
// Pointers and strings
// ============================================================================

int GetMemBlockPointer(lvObjectId id, int64_t offset, void **pointer)
{
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (offset < 0 || (block->size && offset >= block->size)) return ERR_WRONGUSAGE;
    *pointer = block->data + offset;
    return 0;
}

int GetMemBlockString(lvObjectId id, int64_t offset, int64_t length, std::string *text)
{
    lvMemBlock *block;
    if (int rc = LookupMemBlock(id, &block)) return rc;
    if (offset < 0 || length < 0) return ERR_WRONGUSAGE;
    if (block->size) {
        if (offset >= block->size || length > block->size - offset) return ERR_WRONGUSAGE;
        if (length == 0) length = block->size - offset;
    } else if (length == 0) {
        return ERR_WRONGUSAGE;
    }
    text->assign(reinterpret_cast<const char *>(block->data + offset), size_t(length));
    return 0;
}
