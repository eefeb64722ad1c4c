// container.h - the applet container: appended blocks, the "LVA" container and its
// tagged records, the header probe, unpacking of "LVZ" applets, and the applet record
// that the records fill.
//
// Dependencies: platform/lvplatform.h (AllocMemory/FreeMemory), base/lverrors.h, zlib.
// Limits: containers, offsets and sizes are 32-bit as stored; every size and offset read
// from a container is checked against the bytes that are really there, so a truncated or
// forged container ends in an error code, never in a read out of bounds.
//
// How start-up uses this API (the runtime's main drives it):
//   1. ReadLinkMarker (runtime/marker.h): linked?  appended-block offset?
//   2. Linked run with blocks: OpenFileSource(executable) and WalkPluginBlock with
//      "LVL!" then "LVP!": the plug-in manager extracts the entries it is shown, and the
//      offset is left past both blocks. That offset is the run-wide appended-block offset.
//   3. ProbeAppletHeader(source, offset, unlinked, &header): quiet, options, unpack to
//      file, load all plug-ins, required plug-ins.
//   4. OpenAppletContainer(path, offset, tempFileOrNull, &container): unpacks an "LVZ"
//      block into memory (or into the given temporary file) or takes a raw "LVA"
//      container in place. ERR_NOAPPLET when the result is no applet.
//   5. InitAppletRecord(&record); ParseAppletRecords(&container, &record): bytecode,
//      strings, linked objects and files, labels, user constants, line map, display
//      settings and the application-icon slots. The start-up code then applies what the
//      record collected (encoding, labels, user constants, display settings).
//   6. After the main chunk is loaded: PreloadLinkedObjects(&record, &container, &hooks,
//      ...) runs the libraries' preload of each linked object in its fixed order; when
//      its status says the container is no longer needed, CloseAppletContainer may run
//      at once (freeing the memory copy) and the temporary file may be deleted.
//   7. At shut-down: FreeAppletRecord(&record, 1) and CloseAppletContainer(&container).
// Libraries register readers of their linked-object fields with SetLinkedTailReader
// (and the display code SetBackfillReader) before step 5.
#pragma once
#include "runtime/lists.h"
#include <cstddef>
#include <cstdint>

// ---- Byte sources ----------------------------------------------------------------
// A random-access source of bytes: a file (read with pread) or a memory block.

struct lvByteSource {
    void *context;          // file descriptor (as intptr_t) or the memory block
    uint64_t size;          // bytes in the source
    // Copies up to length bytes at offset into buffer; returns the count copied.
    size_t (*read)(void *context, uint64_t offset, void *buffer, size_t length);
    // Releases the context; null for borrowed memory.
    void (*close)(void *context);
};

// A source over memory that stays owned by the caller.
void InitMemorySource(lvByteSource *source, const void *data, size_t size);
// Opens a file read-only (close-on-exec); 0 or ERR_READFILE.
int OpenFileSource(lvByteSource *source, const char *path);
// Closes a source; a closed or zeroed source may be closed again.
void CloseByteSource(lvByteSource *source);

// ---- Reading records ---------------------------------------------------------------
// A cursor over a source. Every read checks the bytes left and fails with ERR_READ;
// readers of type-specific tails use the same calls.

struct lvAppletCursor {
    lvByteSource *source;   // where the bytes come from
    uint64_t position;      // absolute offset of the next byte
    uint64_t limit;         // first offset that may not be read (source size)
};

int ReadAppletByte(lvAppletCursor *cursor, uint8_t *value);
int ReadAppletBE16(lvAppletCursor *cursor, uint16_t *value);
int ReadAppletBE32(lvAppletCursor *cursor, uint32_t *value);
// An 8-byte big-endian IEEE double.
int ReadAppletDouble(lvAppletCursor *cursor, double *value);
int ReadAppletBytes(lvAppletCursor *cursor, void *buffer, size_t length);
// Skips length bytes; ERR_READ when fewer are left.
int SkipAppletBytes(lvAppletCursor *cursor, uint64_t length);
// A NUL-terminated string into buffer[bound]; ERR_STACK when it does not fit,
// ERR_READ when the source ends before its NUL.
int ReadAppletString(lvAppletCursor *cursor, char *buffer, size_t bound);

// ---- Appended plug-in blocks -------------------------------------------------------

#define LV_PLUGIN_BLOCK_PACKED 1    // block flag: payloads are "PLPK" packed streams

// One entry of an appended plug-in block, as shown to a visitor.
struct lvPluginBlockEntry {
    const char *name;       // entry name, at most 255 bytes
    uint64_t payloadOffset; // absolute offset of the payload in the source
    uint32_t storedSize;    // payload bytes in the source
    int packed;             // the payload is a "PLPK" packed stream
};

// Called once per entry; a non-zero result stops the walk and is returned.
typedef int (*lvPluginEntryVisitor)(void *userData, lvByteSource *source,
                                    const lvPluginBlockEntry *entry);

// When the bytes at *offset are the block magic ("LVL!" or "LVP!"), walks the block,
// shows each entry to visitor (may be null) and moves *offset past it. A different magic
// or the end of the source leaves *offset unchanged and returns 0. Errors: ERR_READ for
// a cut-off block or a payload that runs past the source, ERR_STACK for a long name.
int WalkPluginBlock(lvByteSource *source, const char *magic, uint64_t *offset,
                    lvPluginEntryVisitor visitor, void *userData);
// Every block of one magic in a row: a program can carry a packed and a raw block of
// the same kind, one after the other. Same results as WalkPluginBlock.
int WalkPluginBlocks(lvByteSource *source, const char *magic, uint64_t *offset,
                     lvPluginEntryVisitor visitor, void *userData);
// All plug-in blocks in their order (the "LVL!" blocks, then the "LVP!" blocks).
int SkipPluginBlocks(lvByteSource *source, uint64_t *offset);

// ---- Header probe -------------------------------------------------------------------

#define LV_APPLETFLAG_SOFTTIMER 0x1
#define LV_APPLETFLAG_RETURNDIR 0x8
#define LV_APPLETFLAG_NODEBUG 0x10
#define LV_APPLETFLAG_DPIAWARE 0x40
#define LV_APPLETFLAG_QUIET 0x100
#define LV_APPLETFLAG_OPTIONS 0x200
#define LV_APPLETFLAG_UNPACKTOFILE 0x400
#define LV_APPLETFLAG_LOADALLPLUGINS 0x800

// What the header of an applet asks for before it is opened.
struct lvAppletHeaderInfo {
    int found;              // an "LVA" header was read
    int quiet;              // flags bit 8
    int commandLine;        // flags bit 9: command line and ".ini" file carry options
    int unpackToFile;       // flags bit 10
    int loadAllPlugins;     // flags bit 11, or an old applet in an unlinked run
    int oldApplet;          // unlinked run, format major below 9
    int formatMajor;        // byte 5 of the header (0 when not found)
    int formatMinor;        // byte 6
    char requiredPlugins[2048]; // "name.lvp|name.lvp", empty when none or loadAllPlugins
};

// Probes the header at offset (a raw or "LVZ" container) without parsing it. Always 0:
// an unreadable header leaves info->found at 0 and the defaults in place. unlinked
// selects the rules of an applet named on the command line.
int ProbeAppletHeader(lvByteSource *source, uint64_t offset, int unlinked,
                      lvAppletHeaderInfo *info);

// ---- Opening a container ----------------------------------------------------------

// An opened applet container. The container bytes start at base inside source.
struct lvAppletContainer {
    lvByteSource source;    // the container's bytes (the file, the temp file or memory)
    uint64_t base;          // offset of "LVA\0" inside source
    char path[1024];        // name that chunk names refer to: a file path or a
                            // ":::chunkM" name of the memory copy
    uint8_t *memory;        // unpacked copy (AllocMemory), or null
    uint32_t memorySize;    // bytes in memory
    int packed;             // the applet block was an "LVZ" stream
    lvByteSource outer;     // the file that held the packed stream (packed only)
    char outerPath[1024];   // its path
    uint64_t iconOffset;    // packed only: where the icon block may start in outer
    char tempFile[1024];    // the temporary file unpacked into, or empty
};

// Opens the applet at offset inside path (0 for an applet file): an "LVZ" stream is
// unpacked into memory (also when its stated size is 0, which says nothing: the room is
// then bounded by what the packed bytes can hold) or, when tempFile is given (the header
// asked for it), into that file; a raw "LVA" container is used in place. Errors: ERR_READFILE, ERR_MEM, ERR_READ, ERR_PAKFORMAT,
// the zlib codes, ERR_WRITEFILE/ERR_WRITE (temp file), ERR_NOAPPLET (no "LVA" magic).
int OpenAppletContainer(const char *path, uint64_t offset, const char *tempFile,
                        lvAppletContainer *container);
// The same over a source the caller opened; the container takes it over (it is closed
// by CloseAppletContainer, also on failure). path names it in chunk names.
int OpenAppletContainerFromSource(lvByteSource *source, const char *path, uint64_t offset,
                                  const char *tempFile, lvAppletContainer *container);
// Closes the sources and frees the memory copy. The temporary file is left for the
// caller's temporary-file list to delete.
void CloseAppletContainer(lvAppletContainer *container);

// Unpacks an "LVZ" stream (magic, big-endian size, zlib data) at offset. Without
// outPath the result is a new AllocMemory block of the stated size (*data, *size);
// with outPath it is written there. *consumed is the packed stream's length. The stated
// size is checked against what the stream can hold and against what it yields.
int UnpackAppletStream(lvByteSource *source, uint64_t offset, const char *outPath,
                       uint8_t **data, uint32_t *size, uint64_t *consumed);

// ---- The applet record ---------------------------------------------------------------

// Payload of a linked button (type 5).
struct lvLinkedButton {
    int16_t x, y, width, height;    // as stored
};

// One object linked into the applet (tag 2).
struct lvLinkedObject {
    lvLinkedObject *next;   // next in stored order
    int type;               // object type (0 bgpic, 1 brush, ..., 23)
    uint32_t identifier;    // script identifier
    int embedded;           // data inside the container, or a nameless directory/catalog
    char *name;             // allocated file name, or null
    uint32_t nameOffset;    // name position from the container's start
    uint32_t nameLength;    // name bytes
    uint32_t dataOffset;    // data position from the container's start
    uint32_t dataSize;      // data bytes; 0 = loaded from its file
    uint32_t optionValue;   // option value
    uint32_t optionFlags;   // option flags
    uint32_t sourceLine;    // source line of the declaration
    void *payload;          // type-specific record (AllocMemory, FreeMemory'd), or null
    void (*freePayload)(void *payload); // frees a structured payload; null = FreeMemory
    char containerPath[1024];   // the container the offsets refer to
    char loaderName[256];   // loader adapter list, may be empty
    char adapterName[256];  // file adapter list, may be empty
    lvUserTag *userTags;    // user tags (runtime/lists.h), or null
    int fromInclude;        // linked through an include
};

// One linked file (tag 26).
struct lvLinkedFile {
    lvLinkedFile *next;     // next in stored order
    char name[1024];        // the name the script uses
    char containerPath[1024]; // container of the data
    uint32_t offset;        // data position from the container's start
    uint32_t size;          // data bytes
};

// One source-line map entry (tags 8, 27, 33).
struct lvLineMapEntry {
    lvLineMapEntry *next;   // next entry
    uint32_t firstLine;     // first compiled line
    uint32_t lastLine;      // last compiled line
    uint32_t sourceLine;    // first source line
    char sourceFile[1024];  // source file name
    char chunkName[1024];   // chunk the compiled lines belong to
};

// One label (tag 9), to be set in the registry table "labels".
struct lvAppletLabel {
    lvAppletLabel *next;    // next in stored order
    int32_t value;          // label value (instruction index)
    char name[1024];        // label name
};

// One user constant (tag 31), to be defined into "userconstants".
struct lvUserConstant {
    lvUserConstant *next;   // next in stored order
    char name[256];         // constant name
    char *string;           // string value (AllocMemory), or null for a number
    double number;          // number value
};

// Backfill block of the display defaults.
struct lvBackfillBlock {
    int type;               // 0 = none
    int startColor;         // -1 = unset
    int endColor;           // -1 = unset
    int pictureX;           // -100000 = centred
    int pictureY;           // -100000 = centred
    int transparency;       // -1 = unset
};

// Applet flags block (tag 36 or 32).
struct lvAppletFlagsBlock {
    uint32_t flags;         // LV_APPLETFLAG_ bits
    int32_t value1;         // default -1
    int32_t value2;         // default -1
    uint8_t byteValue;      // default 0
    uint8_t channelCount;   // sound channels; 0 = the configured number
};

// Display-settings block (tags 7, 16, 17, 21, 22, 23), copied into display 1's record
// by the display code; a mode of 0 and -1 values are unset.
struct lvDisplaySettingsBlock {
    int32_t mode;           // tag 16: display mode, 0 = not set
    int32_t screenWidth;    // tag 22, first value
    int32_t screenHeight;   // tag 22, second value
    int32_t screenDepth;    // tag 23
    int32_t desktop;        // tag 7 sets it to 1
    void *backfill;         // tag 17, read by the registered backfill reader, or null
    int32_t hideTitleBar;   // tag 21
};

// Display-record patches (tags 3-6, 18-20, 24, 25, 28, 30). The display code applies
// them to the last linked display, adding the default display 1 first when the applet
// links none.
#define LV_PATCH_SIZE 0x1
#define LV_PATCH_COLOR 0x2
#define LV_PATCH_POSITION 0x4
#define LV_PATCH_SCALE 0x8
struct lvDisplayPatch {
    int present;            // some patch record was read
    int fields;             // LV_PATCH_ bits of the fields below that were set
    int width, height;      // tag 3
    uint32_t color;         // tag 5
    int32_t x, y;           // tag 6
    uint32_t setFlags;      // style flags turned on by tags 18-20, 24, 25, 28, 30
    int32_t scaleWidth;     // tag 28
    int32_t scaleHeight;    // tag 28
    char title[256];        // tag 4, the default display's title
};

#define LV_APPICON_SLOTS 20
// One application-icon slot.
struct lvAppIconSlot {
    char *fileName;         // ":::chunk" name of the image data (AllocMemory), or null
    int width, height;      // slot size
    int standardIcon;       // 53..62 for the first set, -1 for the second
    int isDefault;          // flag bit 1 of the entry
};

// Everything an applet container says; zeroed and initialised by InitAppletRecord.
struct lvAppletRecord {
    uint8_t *bytecode;      // main chunk (AllocMemory)
    uint32_t bytecodeSize;  // its bytes
    char title[256];        // tag 11
    char version[256];      // tag 12
    char copyright[256];    // tag 13
    char author[256];       // tag 14
    char description[256];  // tag 15
    char identifier[256];   // tag 34
    lvLinkedObject *linkedObjects; // tag 2 entries in order
    lvLineMapEntry *lineMap;       // the last map record
    lvLinkedFile *linkedFiles;     // tag 26 entries in order
    int formatMajor;        // 11 before parsing
    int formatMinor;        // 0 before parsing
    // Display defaults.
    int windowWidth, windowHeight;  // 0 = not set
    int scaleWidth, scaleHeight;    // 0 = not set
    double scaleFactor;     // 1.0
    int monitor;            // 0 = default
    int displayMode;        // 0 = not set
    int screenWidth, screenHeight, screenDepth; // -1 = not set
    lvBackfillBlock backfill;       // reset by InitDisplayOptions
    int hideTitleBar;       // hide the title bar
    int displayFlags1, displayFlags2; // extra style bits
    int parsed;             // set when parsing begins
    // Collected for the start-up code to apply.
    lvAppletFlagsBlock flagsBlock;  // tag 36 or 32
    int hasFlags;           // a flags record was read
    lvDisplaySettingsBlock displaySettings;
    int encoding;           // -1 not given, 0 ISO-8859-1, 1 UTF-8 (tag 35, or major < 7)
    int noDisplayOverrides; // tag 29
    lvAppletLabel *labels;  // tag 9, in stored order
    lvUserConstant *userConstants;  // tag 31, in stored order
    lvDisplayPatch displayPatch;
    lvAppIconSlot icons[LV_APPICON_SLOTS];
};

void InitDisplayOptions(lvBackfillBlock *block);
void InitAppletDisplayDefaults(lvAppletRecord *record);
// Zeroes the record and sets every default (format 11.0, unset display values).
void InitAppletRecord(lvAppletRecord *record);
// Frees everything the record holds, and the record itself (FreeMemory) unless keep.
void FreeAppletRecord(lvAppletRecord *record, int keep);
void FreeLinkedObject(lvLinkedObject *object);
// Frees every object of a list and clears its head.
void FreeLinkedObjectList(lvLinkedObject **head);

// Type-specific tail readers, registered by the libraries that own the types. A reader
// consumes its tail from the cursor and may hang a payload on the object.
typedef int (*lvLinkedTailReader)(lvAppletCursor *cursor, lvLinkedObject *object,
                                  int formatMajor, int formatMinor);
// Reads the backfill description of tag 17 and returns it through *block.
typedef int (*lvBackfillReader)(lvAppletCursor *cursor, int formatMajor, int formatMinor,
                                void **block);
#define LV_LINKED_TYPES 24
// Types 0, 1, 2, 7, 10, 13, 16, 18, 20 and 21 carry tails: a container that links one
// of them before its reader is registered is refused with ERR_UNKNOWNSEC, since the
// records after it cannot be found. Type 5 (buttons) is read here.
void SetLinkedTailReader(int type, lvLinkedTailReader reader);
void SetBackfillReader(lvBackfillReader reader);

// Parses the records of an opened container into record, up to and including the
// bytecode record and the application-icon block after it. Errors: ERR_UNEXPECTEDEOF
// (no bytecode record), ERR_UNKNOWNSEC (tag above 38), ERR_APPLETVERSION (format above
// 11.0; errorArgument holds "major.minor"), ERR_READ (a record cut off, or an offset or
// size outside the container), ERR_STACK (a string longer than its field), ERR_MEM.
// errorArgument (may be null) receives the text argument of the error.
int ParseAppletRecords(lvAppletContainer *container, lvAppletRecord *record,
                       char *errorArgument, size_t argumentSize);

// Reads an application-icon block at offset of source (after any zero bytes): "I", two
// ignored bytes, entries {width, height, flags, size, data} up to a width of 0. Entries
// of a slot size fill that slot with a chunk name of their data (absolute offset) inside
// containerPath. No "I": no icon block, 0.
int ReadAppIconBlock(lvByteSource *source, uint64_t offset, const char *containerPath,
                     lvAppletRecord *record);
// The 20 slots of the record.
const lvAppIconSlot *GetAppIconTable(const lvAppletRecord *record);

// The chunk name of an embedded object's data; false for an object without data.
bool MakeLinkedObjectName(const lvAppletContainer *container, const lvLinkedObject *object,
                          char *buffer, size_t size);

// True when no applet was parsed yet or its format is at least major.minor.
bool CheckAppletVersion(const lvAppletRecord *record, int major, int minor);

// ---- Linked displays ------------------------------------------------------------------

// Appends a linked display (type 10) holding a copy of optionsSize bytes of options
// (the display library's option record; freePayload frees a structured copy, or null).
// ERR_MEM on allocation failure; any other type is refused with ERR_INTERNAL and
// nothing is appended.
int AddLinkedDisplay(lvAppletRecord *record, int type, uint32_t identifier, const void *options,
                     size_t optionsSize, void (*freePayload)(void *payload));

// ---- Preloading linked objects ----------------------------------------------------------
// The order and bookkeeping of start-up's preload; the work on each object is done by
// the library that owns its type, through these hooks.

// Loads one linked object. fileName is the chunk name of its embedded data, or its name.
// Sets *keepsContainer when the loaded object goes on reading embedded data (a streamed
// music, an embedded video, an anim loaded from disk, ...).
typedef int (*lvPreloadHandler)(void *user, lvLinkedObject *object, const char *fileName,
                                int *keepsContainer);

struct lvPreloadHooks {
    // Before anything: the application icon slots hold an image or a default flag.
    void (*setAppIcon)(void *user, const lvAppIconSlot *slots);
    // First pass, types 12 and 23: requires the plug-in with mode 514 or 770.
    int (*requirePlugin)(void *user, lvLinkedObject *object, int mode);
    // Between the first and second pass: default font, default encodings, display 1
    // (added when hasDisplay1 is 0), start-up overrides, raster set-up, preload flags.
    int (*prepare)(void *user, int hasDisplay1);
    // Second pass, per type; a type that has a preload command but no handler fails
    // with ERR_UNIMPLCMD (its library is missing from this build).
    lvPreloadHandler load[LV_LINKED_TYPES];
    // Third pass, type 10: creates the display; backgroundLinked = bgpic 1 is linked.
    int (*createDisplay)(void *user, lvLinkedObject *object, int backgroundLinked);
    // Prints text (the warnings of type 14); null prints to the standard output.
    void (*print)(void *user, const char *text);
    // Always called last, on success and failure: restores the run-wide flags.
    void (*finish)(void *user);
    int noDebug;            // suppresses the warnings
};

// Where the preload is, for error reports, and what it leaves behind.
struct lvPreloadStatus {
    uint32_t sourceLine;        // source line of the object being handled
    const char *commandName;    // "@REQUIRE", the preload command, or "----"
    int containerNeeded;        // linked files or a loaded object still read the container
};

// The preload command of a linked object type ("LoadBrush", ...), or null for a type
// that is not preloaded in the second pass.
const char *GetPreloadCommandName(int type);

// Runs the three passes over the record's linked objects and frees them on success.
// Returns 0 or the first error; status tells where it happened.
int PreloadLinkedObjects(lvAppletRecord *record, const lvAppletContainer *container,
                         const lvPreloadHooks *hooks, void *user, lvPreloadStatus *status);
