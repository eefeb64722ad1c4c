// vfile.h - the virtual file layer: one handle type over plain files, byte
// ranges of container files, registered memory files, memory ranges and
// file-adapter plug-ins; virtual names, search paths, byte-order helpers.
// Dependencies: platform/lvplatform.h (OpenOsFile and companions).
// Limits: names are built into LV_PATH_SIZE buffers; range names carry 32-bit
// offsets and sizes. No locks: handles belong to the thread that opened them,
// the memory-file registry to the thread that drives the script.
#pragma once
#include "platform/lvplatform.h"
#include <cstddef>
#include <cstdint>

// ============================================================================
// Flags
// ============================================================================

// Open flags of OpenVFile.
enum {
    LV_VF_READ = 1,          // read
    LV_VF_WRITE = 2,         // write: create or truncate
    LV_VF_UPDATE = 4,        // read and write, created when missing
    LV_VF_ADAPTERS = 8,      // file adapters may serve the name
    LV_VF_EMULATESEEK = 0x10,// emulated seeking on adapter streams without random access
    LV_VF_UTF8NAME = 0x20,   // the name is UTF-8 whatever the encoding setting
    LV_VF_STREAMFLAG4 = 0x40,// with LV_VF_STATEFLAGS: preset stream flag 4 for the adapter
    LV_VF_STATEFLAGS = 0x80, // the caller states the stream-flag request by LV_VF_STREAMFLAG4
};

// Stream flag set by an adapter: the stream has no random seeking.
#define LV_STREAM_UNSEEKABLE 2

// Capabilities of the plug-in manager's adapter chains.
#define LV_PLUGINCAPS_FILEADAPTER 0x4000u
#define LV_PLUGINCAPS_DIRADAPTER 0x8000u

// ============================================================================
// Records
// ============================================================================

// A registered in-memory file, also the memory window of a handle.
struct lvMemFile {
    lvMemFile *next;       // next registered node
    int writable;          // writes are allowed
    int dataReference;     // registry reference keeping a read-only node's data alive (-1 none; writable nodes own their buffer)
    int ownReference;      // the number in the ":::chunkS" name (0 for windows)
    uint8_t *data;         // the bytes
    int64_t capacity;      // bytes allocated at data
    int64_t size;          // bytes in use
    char *name;            // the node's name (stored after the record), or the window's container text
    int handles;           // open handles reading or writing the node
    int detached;          // removed while handles were open: no data, freed with the last handle
};

// One {tag, value} pair of a tag list ended by tag 0.
struct lvAdapterTag {
    uint32_t tag;   // 0 ends the list
    intptr_t value; // number or pointer
};

// File information exchanged with adapters.
struct lvAdapterStat {
    int32_t type;              // 1 directory, anything else a file
    int32_t reserved1;         // unused
    uint32_t sizeLow;          // size, low word
    uint32_t sizeHigh;         // size, high word
    uint32_t attributes;       // LV_FILEATTR_ bits
    lvFileDate lastWrite;      // last-write date
    lvFileDate lastAccess;     // last-access date
    lvFileDate creation;       // creation date
    const char *fullPath;      // full path, may be null
    const char *comment;       // comment, may be null
    uint32_t adapterWordA;     // copied into lvFileInfo
    uint32_t adapterWordB;     // copied into lvFileInfo
    uint32_t reserved2;        // unused
};

// The file and directory slots of a plug-in that adapts files. The plug-in
// loader fills one per plug-in; null slots are absent operations.
struct lvFileAdapter {
    const char *name;         // the plug-in's name
    uint32_t chunkSupport;    // bit 1: the adapter accepts ":::chunk" names
    void *(*FOpen)(const char *name, int mode, const lvAdapterTag *tags);
    int (*FClose)(void *stream);
    int (*FRead)(void *stream, void *buffer, int length);
    int (*FWrite)(void *stream, const void *buffer, int length);
    int64_t (*FSeek)(void *stream, int64_t offset, int origin); // old position or -1
    int (*FGetC)(void *stream);                                  // byte or -1
    int (*FPutC)(void *stream, int byte);                        // 1 when written
    int (*FFlush)(void *stream);
    int (*FEof)(void *stream);
    int (*FStat)(void *stream, lvAdapterStat *stat, const lvAdapterTag *tags);
    int (*Stat)(const char *name, int flags, lvAdapterStat *stat, const lvAdapterTag *tags);
    void *(*OpenDir)(const char *name, int flags, const lvAdapterTag *tags);
    void (*CloseDir)(void *dir);
    // Next entry: non-zero while entries come; the entry's name is stat->fullPath.
    int (*NextDirEntry)(void *dir, lvAdapterStat *stat, const lvAdapterTag *tags);
    int (*StatDir)(void *dir, int flags, lvAdapterStat *stat, const lvAdapterTag *tags);
};

// A walk over the adapters of one capability in the order of an adapter list.
struct lvAdapterScan {
    const char *cursor;            // rest of the list
    uint32_t capability;           // LV_PLUGINCAPS_ bit
    int mode;                      // 1 directories, 2 files
    const lvFileAdapter *current;  // the adapter of a result 3
    void *internal;                // the plug-in manager's position
    struct lvPluginRecord *record; // the plug-in of a result 3 (its typed exports)
};

// The plug-in manager connects its chains here; without it, lists hold only
// "inbuilt" and "native" (no plug-in is loaded).
struct lvAdapterHooks {
    void (*BeginScan)(lvAdapterScan *scan, const char *list, uint32_t capability, int mode);
    // 0 end, 1 "inbuilt", 2 "native", 3 a plug-in (scan->current)
    int (*NextAdapter)(lvAdapterScan *scan);
    int (*ListAccepts)(const char *list, const char *name, int pluginMatches);
};
void SetAdapterHooks(const lvAdapterHooks *hooks); // null restores the defaults
void BeginAdapterScan(lvAdapterScan *scan, const char *list, uint32_t capability, int mode);
int NextAdapter(lvAdapterScan *scan);
int AdapterListAccepts(const char *list, const char *name, int pluginMatches);

// One open file.
struct lvVFile {
    const lvFileAdapter *adapter; // the adapter serving the stream, or none
    void *stream;                 // the adapter's stream or the platform's lvOsFile
    int openFlags;                // the caller's flags
    int streamFlags;              // set by the adapter on open; LV_STREAM_UNSEEKABLE
    lvMemFile *window;            // memory window, or none
    uint32_t reserved1;           // unused
    int64_t position;             // position inside the memory window
    int windowOwned;              // the window was made by this handle and is freed with it
    int chunkName;                // set on every successful open
    intptr_t adapterWord;         // filled by the adapter through tag 7
    uint32_t reserved2;           // unused
    lvMemFile *windowParent;      // registered node under a range window of it, or none
    int64_t windowParentOffset;   // the window's offset in windowParent
    lvMemFile *heldNode;          // registered node this handle keeps alive, or none
};

// ============================================================================
// Virtual names
// ============================================================================

// The ":::chunk" prefix (8 bytes, case-sensitive); shared with the error messages.
bool IsChunkName(const char *name);
// Builds a ":::chunk" name (see the forms in lvplatform_files.h). A memory pointer,
// or a container that is a memory name, gives the memory form; offset -1 the
// registered form with reference; else the range form (a range container is
// flattened, and the call fails when it is too short). False when it does not fit.
int MakeChunkName(const char *fileName, char *buffer, size_t size, const void *memory,
                  int64_t offset, uint32_t chunkSize, int reference, const char *container);
// Parses a ":::chunk" name; every output is optional. False for a malformed name,
// an unknown registered reference or an output that does not fit.
int ParseChunkName(const char *name, uint64_t *address, int64_t *offset, uint32_t *size,
                   char *fileName, size_t fileNameSize, char *container, size_t containerSize,
                   char *extension, size_t extensionSize, lvMemFile **node);

// ============================================================================
// Registered memory files
// ============================================================================

// The script machine connects its registry here: a reference to a node, and
// the release of a reference. Without it, references are counted locally.
struct lvMemFileRegistryHooks {
    int (*ReferenceNode)(lvMemFile *node);
    void (*ReleaseReference)(int reference);
};
void SetMemFileRegistryHooks(const lvMemFileRegistryHooks *hooks); // null restores the defaults

// A writable file gets its own buffer (65,536 bytes when size is 0) holding a copy
// of data; a read-only one keeps the caller's data, held alive by dataReference.
// The ":::chunkS" name is written to outName. Null when memory runs out or the
// name does not fit.
lvMemFile *AddMemoryFile(const char *fileName, int writable, const void *data, int64_t size,
                         int dataReference, char *outName, size_t outNameSize);
// Removes the node from the registry: its name no longer resolves. While handles are
// open on it, the record stays until the last one closes, with its data already gone
// (reads give end of file, writes nothing).
void RemoveMemoryFile(lvMemFile *node);
void FreeAllMemoryFiles();
lvMemFile *FindMemoryFile(int reference);

// Memory ranges the runtime handed out under ":::chunkM" names. Only a name whose bytes
// lie inside a live range opens: any other address is no file. RegisterMemoryRange gives
// 0 or ERR_MEM; the range stays until UnregisterMemoryRange with the same start.
int RegisterMemoryRange(const void *data, uint64_t size);
void UnregisterMemoryRange(const void *data);
bool IsLiveMemoryRange(uint64_t address, uint64_t size);
void FreeMemoryRanges();

// ============================================================================
// Search paths
// ============================================================================

struct lvSearchPath {
    lvSearchPath *next; // next path
    char *path;         // the path text (stored after the record)
};
lvSearchPath *GetSearchPaths();
int AppendSearchPath(const char *path);                        // 0 or ERR_MEM
int ReplaceSearchPath(lvSearchPath *node, const char *path);   // 0 or ERR_MEM; keeps its place
void FreeSearchPaths();

// ============================================================================
// Default adapter and loader lists, adapter-setup phase
// ============================================================================

int SetDefaultAdapter(int kind, const char *list); // kinds 0..2; 0 or ERR_WRONGUSAGE
int SetDefaultLoader(int kind, const char *list);  // kinds 0..5; 0 or ERR_WRONGUSAGE
int CopyDefaultAdapter(char *buffer, size_t size, int kind);
int CopyDefaultLoader(char *buffer, size_t size, int kind);
int InAdapterSetupPhase();
void SetAdapterSetupPhase(int on);

// ============================================================================
// Open, close and data operations
// ============================================================================

lvVFile *OpenVFile(const char *name, int flags, const char *adapterList, const void *userTags);
int CloseVFile(lvVFile *file);

int64_t ReadVFile(lvVFile *file, void *buffer, int64_t length);
int64_t ReadVFileUnbuffered(lvVFile *file, void *buffer, int64_t length);
int ReadVFileByte(lvVFile *file); // 0..255, or -1 at the end
int64_t WriteVFile(lvVFile *file, const void *buffer, int64_t length);
int64_t WriteVFileUnbuffered(lvVFile *file, const void *buffer, int64_t length);
int WriteVFileByte(lvVFile *file, int byte); // 1 when written
// Origin 0 current, 1 start, 2 end. The old position, or -1.
int64_t SeekVFile(lvVFile *file, int64_t offset, int origin);
int FlushVFile(lvVFile *file);
int IsVFileEof(lvVFile *file);
int ExamineVFile(lvVFile *file, lvFileInfo *info); // 1 or 0
// 64-bit size; 0 when an adapter cannot tell it.
int64_t GetVFileSize(lvVFile *file);

// 1 January 1978 00:00:00: the date of objects whose dates nobody knows.
lvFileDate GetDefaultFileDate();
// Copies an adapter's stat block into an information record.
void AdapterStatToFileInfo(const lvAdapterStat *stat, lvFileInfo *info);

const char *GetVFileAdapterName(lvVFile *file);
int IsVFileUnseekable(lvVFile *file);
int GetVFileStreamFlags(lvVFile *file);
int GetVFileFullPath(lvVFile *file, char *buffer, size_t size);
// 0 and the flag (a chunk name, or a name an adapter serves), or ERR_READFILE.
int CheckFileAdapterUse(const char *name, const char *adapterList, const void *userTags, int *usesAdapter);

// ============================================================================
// Whole-file helpers
// ============================================================================

int VFileExists(const char *name, const char *adapterList, const void *userTags);
// Reads a whole file (from openFile, or name opened for reading) into a new block
// from AllocMemory with extraBytes zeroed spare bytes. 0, ERR_MEM, ERR_READ or ERR_READFILE.
int ReadVFileAll(lvVFile *openFile, const char *name, int flags, const char *adapterList,
                 const void *userTags, size_t extraBytes, uint8_t **bufferOut, int64_t *lengthOut);
// Copies a file into a new plain file in 16 KB blocks. 0, ERR_MEM, ERR_WRITE,
// ERR_READ, ERR_READFILE or ERR_WRITEFILE.
int CopyVFileData(lvVFile *openSource, const char *sourceName, const char *adapterList,
                  const void *userTags, const char *destinationName);

// ============================================================================
// Path helpers
// ============================================================================

// Appends a component, inserting "/" unless the buffer is empty or ends in a
// separator. False only when the separator does not fit (the part is then cut).
int AppendPathPart(char *buffer, const char *part, size_t size);
// End of the directory part and end of the text.
void FindFilePartBounds(const char *path, const char **directoryEnd, const char **textEnd);
// The file part; for a chunk name, of its embedded file name (static buffer).
const char *FindFilePart(const char *path);
int PathIsAbsolute(const char *path);

// ============================================================================
// Byte-order helpers and value I/O
// ============================================================================

uint32_t ReadVFileBE32(lvVFile *file);
uint32_t ReadVFileLE32(lvVFile *file);
uint16_t ReadVFileBE16(lvVFile *file);
uint16_t ReadVFileLE16(lvVFile *file);
// Nothing calls WriteVFileBE32, WriteVFileLE32 and WriteVFileBE16 yet: kept for the file-format
// readers and writers still to come.
int WriteVFileBE32(lvVFile *file, uint32_t value);
int WriteVFileLE32(lvVFile *file, uint32_t value);
int WriteVFileBE16(lvVFile *file, uint16_t value);
int WriteVFileLE16(lvVFile *file, uint16_t value);

// Value I/O mode of the dos library's SetIOMode: 0 buffered, 1 unbuffered.
void SetVFileIOMode(int unbuffered);
// Reads size bytes from file or, when file is null, from *cursor (advanced).
// Unless raw or flags bit 1, values of 2, 4 and 8 bytes are big-endian. 0 or ERR_READ.
int ReadVFileValue(lvVFile *file, void *out, int raw, int size, int flags, const uint8_t **cursor);
// The mirror of ReadVFileValue. 0 or ERR_WRITE.
int WriteVFileValue(lvVFile *file, const void *value, int raw, int size, int flags, uint8_t **cursor);
// Bytes up to a zero byte (terminated). 0, or ERR_STACK when bound (if not 0) is reached.
int ReadVFileString(lvVFile *file, char *buffer, size_t bound);
// Big-endian 16-bit length, then the bytes. 0, or ERR_STACK when the length is not below bound.
// Nothing calls ReadVFileString16 yet: kept for the file-format readers and writers still to come.
int ReadVFileString16(lvVFile *file, char *buffer, size_t bound);

// ============================================================================
// Bytecode I/O callbacks
// ============================================================================

struct lvChunkBuffer {
    const void *data; // the whole chunk
    size_t size;      // its size
    int handedOver;   // the reader returned it already
};
// Reader over an lvChunkBuffer: the whole buffer first, then nothing.
const void *ReadBytecodeChunk(void *state, void *chunkBuffer, size_t *size);

struct lvDumpSink {
    int64_t written;    // bytes written so far
    int unbuffered;     // file writes go through the unbuffered write
    uint8_t *buffer;    // growing buffer (when no file), from AllocMemory
    size_t freeSpace;   // free bytes after the written ones
    lvVFile *file;      // the target file, or none
};
// Writer over an lvDumpSink; 1 on success, 0 on a short write or no memory.
int WriteDumpChunk(void *state, const void *data, size_t size, void *sink);
// Appends to the sink's buffer, growing it by 65,536 bytes at a time.
int AppendDumpBytes(lvDumpSink *sink, const void *data, size_t size);
