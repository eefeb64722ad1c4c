// memblock_engine.h - memory blocks of the memblock library, apart from its commands:
// the block list, typed reads and writes in three byte orders, fills, copies, file
// transfers, dumps and conversions to and from lists of numbers. Each command reads
// its arguments, calls one function here and pushes the result.
//
// A block owns its bytes or only describes memory owned elsewhere (a raw pointer, the
// data of a registered in-memory file). A size of 0 means unknown: no range check is
// then possible and none is made, so such blocks are as safe as the pointer given.
//
// Functions return 0 or an error code and write their outputs only on success; bytes
// already written before a failure stay written.
//
// Depends on: runtime/objects.h (object header, identifiers), runtime/vfile.h (files,
// in-memory files), libs/math_engine.h (integer conversions), platform allocator.
// Used on the script thread only: the block list has no lock.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/objects.h"

struct lvVFile;

// Object type number of memory blocks (the MEMORY constant) and the size attribute.
enum { LV_OBJECT_MEMBLOCK = 39, MEMBLOCK_ATTRSIZE = 57 };

// Value types (the base library's constants) and byte orders.
enum {
    MEMTYPE_INTEGER = 1,  // 4 bytes, read unsigned
    MEMTYPE_STRING = 3,   // Peek and Poke only
    MEMTYPE_SHORT = 6,    // 2 bytes, read unsigned
    MEMTYPE_BYTE = 7,     // 1 byte, read unsigned
    MEMTYPE_FLOAT = 11,   // IEEE single
    MEMTYPE_DOUBLE = 12,  // IEEE double
};
enum {
    MEMORDER_BIGENDIAN = 0,     // most significant byte first (also any unknown number)
    MEMORDER_NATIVEENDIAN = 1,  // the processor's order
    MEMORDER_LITTLEENDIAN = 2,  // least significant byte first
};

// One memory block.
struct lvMemBlock {
    lvObjectHeader header;  // type 39, identifier, handle, user data, next in the block list
    int64_t size;           // bytes; 0 means unknown (no range checks)
    uint8_t *data;          // the bytes
    int notOwned;           // set for pointer and in-memory-file blocks: bytes never freed here
};

// ---- Typed values -------------------------------------------------------------------------

// 4, 2, 1, 4, 8 for INTEGER, SHORT, BYTE, FLOAT, DOUBLE; 0 for any other type.
int GetMemTypeSize(int type);
// The two flags of a byte-order argument (0 big, 1 native, 2 little, else big).
void GetMemOrderFlags(int order, int *nativeFlag, int *littleFlag);
// Reads the value of the type at offset: INTEGER, SHORT and BYTE unsigned. size 0 skips
// the range check. The native flag wins over the little flag (both mean least
// significant byte first on this processor). 0, ERR_MEMRANGE or ERR_WRONGUSAGE (type).
int PeekMemValue(const uint8_t *bytes, int64_t size, int type, int64_t offset, int nativeFlag,
                 int littleFlag, double *value);
// Writes a value: INTEGER, SHORT and BYTE take the low bits of integerValue, FLOAT
// floatValue and DOUBLE doubleValue. 0, ERR_MEMRANGE or ERR_WRONGUSAGE.
int PokeMemValue(uint8_t *bytes, int64_t size, int type, int64_t offset, uint32_t integerValue,
                 float floatValue, double doubleValue, int nativeFlag, int littleFlag);

// ---- Block list ---------------------------------------------------------------------------

// Registers type 39 as "Memory block" with the command layer's attribute callback. 0 or
// ERR_MEM.
int RegisterMemBlockType(lvObjectAttributeFunction attribute);
// How user data references are released when blocks are freed (nullptr: none to release).
void SetMemBlockRefOps(const lvRefOps *ops);

// The block with this identifier, or nullptr.
lvMemBlock *FindMemBlock(lvObjectId id);
// FindMemBlock with the error when absent: ERR_FINDMEMBLK with the number as the
// message's "%d", or ERR_FINDARRAY for a handle.
int LookupMemBlock(lvObjectId id, lvMemBlock **block);

// AllocMem: a new block of size uncleared bytes. With useHandle the block is made for
// Nil (its handle is the script's identifier); else a block with the same number is
// freed first. ERR_MEM (also for size 0 or less).
int AllocMemBlock(int number, bool useHandle, int64_t size, lvMemBlock **block);
// AllocMemFromPointer: a block over memory owned elsewhere (size 0: unknown).
// ERR_MEM; a negative size ERR_WRONGUSAGE.
int AllocMemBlockFromPointer(int number, bool useHandle, void *pointer, int64_t size, lvMemBlock **block);
// AllocMemFromVirtualFile: a block over a registered in-memory file (":::chunkS" name).
// ERR_WRONGUSAGE for any other name, ERR_MEM.
int AllocMemBlockFromVirtualFile(int number, bool useHandle, const char *name, lvMemBlock **block);
// FreeMem: the bytes when owned, the user data and the record.
int FreeMemBlock(lvObjectId id);
// Shut-down: every block.
void FreeAllMemBlocks();
// Attribute of a block: ATTRSIZE gives the size; others ERR_UNKNOWNATTR.
int GetMemBlockAttribute(lvObjectId id, int attribute, double *value);

// ---- Commands' bodies -----------------------------------------------------------------------

// Peek of a numeric type with a byte-order argument.
int PeekMemBlock(lvObjectId id, int64_t offset, int type, int order, double *value);
// Peek of STRING: length > 0 exactly that many bytes; 0 the printable run from offset
// (TAB, LF, CR and 32..126) up to the first other byte or the end of a known size.
int PeekMemBlockString(lvObjectId id, int64_t offset, int64_t length, std::string *text);
// Poke of INTEGER, SHORT, BYTE (value as an unsigned integer), FLOAT or DOUBLE.
int PokeMemBlock(lvObjectId id, int64_t offset, int type, double value, int order);
// Poke of STRING: the bytes and a terminating zero (room for length + 1 needed).
int PokeMemBlockString(lvObjectId id, int64_t offset, const char *bytes, size_t length);
// FillMem: BYTE, or SHORT and INTEGER big-endian on even / 4-aligned offset and count.
int FillMemBlock(lvObjectId id, double value, int64_t count, int64_t offset, int type);
// CopyMem between two different blocks.
int CopyMemBlock(lvObjectId source, lvObjectId destination, int64_t count, int64_t sourceOffset,
                 int64_t destinationOffset);

// The script file a transfer uses, found by the dos library.
struct lvMemFileRef {
    lvVFile *file;  // the open file
    int readOnly;   // opened for reading only
    int writeOnly;  // opened for writing only
};
// Finds the file of a transfer: 0 or the lookup's error (ERR_FINDFILE).
typedef int (*lvFindMemFileFunction)(void *user, lvMemFileRef *file);
// ReadMem and WriteMem: count bytes between the file's position and the block at offset,
// in the dos library's I/O mode. Count 0 or less does nothing (no lookup). ERR_READ and
// ERR_WRITE when fewer bytes moved.
int ReadMemBlockFromFile(lvFindMemFileFunction findFile, void *user, lvObjectId id, int64_t count, int64_t offset);
int WriteMemBlockToFile(lvFindMemFileFunction findFile, void *user, lvObjectId id, int64_t count, int64_t offset);

// DumpMem: the rows of the dump appended to text (length 0 or less: the whole block).
int DumpMemBlock(lvObjectId id, int64_t length, int64_t offset, std::string *text);
// The dump rows of a byte range, offsets counted from firstOffset.
void FormatMemDump(const uint8_t *bytes, size_t length, uint64_t firstOffset, std::string *text);

// Options of MemToTable and TableToMem.
struct lvMemTableOptions {
    int64_t items;     // MemToTable: number of values, 0 = size / value size
    int64_t offset;    // byte offset
    int endianSwitch;  // reverse the processor's byte order
    int isSigned;      // MemToTable: SHORT and BYTE signed
};
// MemToTable: the values, in order (an item count below 0 gives none).
int MemBlockToValues(lvObjectId id, int type, const lvMemTableOptions *options, std::vector<double> *values);
// TableToMem: the values t[0], t[1], ... from next (1 with a value, 0 at the first nil)
// into the block; each must fit entirely. ERR_MEMRANGE stops with the values before it stored.
typedef int (*lvNextMemValueFunction)(void *user, int64_t index, double *value);
int ValuesToMemBlock(lvNextMemValueFunction next, void *user, lvObjectId id, int type,
                     const lvMemTableOptions *options);
// GetMemPointer: the address of the byte at offset.
int GetMemBlockPointer(lvObjectId id, int64_t offset, void **pointer);
// GetMemString: the bytes exactly (length 0: to the end of a known size).
int GetMemBlockString(lvObjectId id, int64_t offset, int64_t length, std::string *text);
