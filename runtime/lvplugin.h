// lvplugin.h - the plug-in binary interface of Lumivarra for Linux x86_64, version 11.0.
//
// The one header a plug-in includes. A plug-in is a shared object with the extension
// ".lvp" that exports InitPlugin and ClosePlugin (or "lvp_InitPlugin" and
// "lvp_ClosePlugin"; then every export carries the "lvp_" prefix) and the exports of the
// families its capability bits name. It imports nothing from the runtime: everything it
// needs of the runtime comes through the lvPluginApi table handed to InitPlugin.
//
// Dependencies: the C standard headers only. Limits: the slot order of lvPluginRecord and
// of the 17 sub-tables is the interface; new slots are only ever added at the end. Every
// text handed over is UTF-8. Pointers are 64-bit; words are 32-bit little-endian unless a
// field carries a pointer, in which case it is pointer-sized.
//
// Script errors raised by the stack-interface slots are C++ exceptions that unwind
// through the plug-in: build plug-ins with unwind tables (the C++ default; -fexceptions
// for C) and hold resources in objects that release them on unwinding.
#ifndef LVPLUGIN_H
#define LVPLUGIN_H

#include <stddef.h>
#include <stdint.h>

#define LVPLUGIN_VERSION 11   // host version this header describes
#define LVPLUGIN_REVISION 0   // host revision

// ============================================================================
// Capability bits
// ============================================================================

#define PLUGINCAPS_CONVERT 0x1u
#define PLUGINCAPS_LIBRARY 0x2u
#define PLUGINCAPS_IMAGE 0x4u
#define PLUGINCAPS_ANIM 0x8u
#define PLUGINCAPS_SOUND 0x10u
#define PLUGINCAPS_VECTOR 0x20u
#define PLUGINCAPS_VIDEO 0x40u
#define PLUGINCAPS_SAVEIMAGE 0x80u
#define PLUGINCAPS_SAVEANIM 0x100u
#define PLUGINCAPS_SAVESAMPLE 0x200u
#define PLUGINCAPS_REQUIRE 0x400u
#define PLUGINCAPS_DISPLAYADAPTER 0x800u
#define PLUGINCAPS_TIMERADAPTER 0x1000u
#define PLUGINCAPS_REQUESTERADAPTER 0x2000u
#define PLUGINCAPS_FILEADAPTER 0x4000u
#define PLUGINCAPS_DIRADAPTER 0x8000u
#define PLUGINCAPS_AUDIOADAPTER 0x10000u
#define PLUGINCAPS_EXTENSION 0x20000u
#define PLUGINCAPS_NETWORKADAPTER 0x40000u
#define PLUGINCAPS_SERIALIZE 0x80000u
#define PLUGINCAPS_ICON 0x100000u
#define PLUGINCAPS_SAVEICON 0x200000u
#define PLUGINCAPS_IPCADAPTER 0x400000u
#define PLUGINCAPS_FONT 0x800000u
#define PLUGINCAPS_FILESYSADAPTER 0x1000000u
#define PLUGINCAPS_CLIPBOARDADAPTER 0x2000000u
#define PLUGINCAPS_KNOWN 0x3FFFFFFu   // every bit above

// File types and their flags (lvPluginFileType, AddPluginFileType).
#define FILETYPE_IMAGE 0
#define FILETYPE_ANIM 1
#define FILETYPE_SOUND 2
#define FILETYPE_VIDEO 3
#define FILETYPE_ICON 4
#define FILETYPE_FONT 5
#define FILETYPEFLAGS_SAVE 1
#define FILETYPEFLAGS_ALPHA 2
#define FILETYPEFLAGS_QUALITY 4
#define FILETYPEFLAGS_FPS 8

// File-adapter open modes handed to FOpen.
#define LVP_FOPEN_WRITE 1   // create or truncate
#define LVP_FOPEN_UPDATE 2  // read and write, created when missing
#define LVP_FOPEN_READ 4    // read

// Tags of the FOpen tag list.
#define LVP_FOPENTAG_STREAMFLAGS 1 // value: uint32_t* the adapter may set (2: no random seeking)
#define LVP_FOPENTAG_CONTAINER 2   // value: container path of a ":::chunk" range
#define LVP_FOPENTAG_OFFSET 3      // value: offset in the container
#define LVP_FOPENTAG_SIZE 4        // value: size of the chunk
#define LVP_FOPENTAG_MEMORY 5      // value: data address of a memory window
#define LVP_FOPENTAG_USERTAGS 6    // value: the script's user tags
#define LVP_FOPENTAG_ADAPTERWORD 7 // value: intptr_t* the adapter may fill

// ============================================================================
// Records shared with the runtime
// ============================================================================

#ifdef __cplusplus
struct lvState;
#else
typedef struct lvState lvState;
#endif

// One {tag, value} pair of a tag list; tag 0 ends the list. The tag is read as a 32-bit
// word; the value is pointer-sized (a number or a pointer).
typedef struct lvPluginTag {
    uint32_t tag;   // 0 ends the list
    intptr_t value; // number or pointer
} lvPluginTag;

// The current date as fields (system slot 40).
typedef struct lvPluginDateFields {
    int second, minute, hour;  // 0..59, 0..59, 0..23
    int day;                   // day of the month
    int month;                 // 0..11
    int year;                  // full year
} lvPluginDateFields;

// A text built in pieces on the script stack (script-machine slots 60 to 65).
typedef struct lvPluginStringBuffer {
    char *cursor;     // next free byte of area
    int pieces;       // finished pieces on the stack
    lvState *L;       // the machine
    char area[1024];  // bytes not yet pushed
} lvPluginStringBuffer;

// One user tag of a list (checksum slots 4 and 5; the user tags of RequirePlugin).
typedef struct lvPluginUserTag {
    struct lvPluginUserTag *next;  // next tag, null at the end
    char *name;                    // the tag's name
    char *string;                  // the string value, or null for a number
    double number;                 // the number value (0 for a string)
    size_t length;                 // bytes of the string without the NUL, or 8 for a number
} lvPluginUserTag;

// The broken-down time of the standard-runtime slots 32 to 37.
typedef struct lvPluginTm {
    int32_t size;              // 48, the record's size
    int32_t second, minute, hour, day;  // day of the month
    int32_t month;             // 0..11
    int32_t year;              // years since 1900
    int32_t weekday, yearDay;  // 0 Sunday; 0 for 1 January
    int32_t daylight;          // daylight saving flag
    int32_t zero[2];           // written 0
} lvPluginTm;

// File status of the standard-runtime slots 43 and 44.
typedef struct lvPluginFileStatus {
    int32_t word0;             // left untouched
    int32_t flags;             // 0x20000 directory, 1 owner may read, 2 write, 8 execute
    int64_t size;              // bytes
    int64_t lastAccess;        // seconds since 1970
    int64_t lastModification;  // seconds since 1970
    int64_t statusChange;      // seconds since 1970
} lvPluginFileStatus;

// A date of the file information records.
typedef struct lvPluginDate {
    int32_t second, minute, hour, day, month, year; // month 0..11
} lvPluginDate;

// File information exchanged with file and directory adapters (preset by the runtime:
// zeroed, all dates 1 January 1978 00:00:00).
typedef struct lvPluginStat {
    int32_t type;             // 1 directory, anything else a file
    int32_t reserved1;        // unused
    uint32_t sizeLow;         // size, low word
    uint32_t sizeHigh;        // size, high word
    uint32_t attributes;      // FILEATTR_ bits of the dos library
    lvPluginDate lastWrite;   // last-write date
    lvPluginDate lastAccess;  // last-access date
    lvPluginDate creation;    // creation date
    const char *fullPath;     // full path (for NextDirEntry: the entry's name), may be null
    const char *comment;      // comment, may be null
    uint32_t adapterWordA;    // copied into the runtime's information record
    uint32_t adapterWordB;    // copied into the runtime's information record
    uint32_t reserved2;       // unused
} lvPluginStat;

// A command of a plug-in library: the same layout as the runtime's command rows.
typedef int (*lvPluginCommandFunction)(lvState *L);
typedef struct lvPluginCommand {
    const char *name;              // command name; null ends the table
    lvPluginCommandFunction func;  // null skips the row
} lvPluginCommand;

// A constant of a plug-in library.
typedef struct lvPluginConstant {
    const char *name;    // constant name; null ends the table
    const char *string;  // string value, or null for a number constant
    double number;       // number value when string is null
} lvPluginConstant;

// One file type of a plug-in (the runtime builds the list; AddPluginFileType).
typedef struct lvPluginFileType {
    struct lvPluginFileType *next; // next file type
    int32_t type;                  // FILETYPE_ constant
    const char *name;              // format name
    const char *mimeType;          // mime type, or null
    const char *extensions;        // extensions, "|"-separated
    int32_t formatId;              // kept only with FILETYPEFLAGS_SAVE
    uint32_t flags;                // FILETYPEFLAGS_ bits
} lvPluginFileType;

// What an image saver's format takes (lvPluginSaverFormat flags of image savers).
#define LVP_SAVER_TRUECOLOR 0x1  // ARGB pixels
#define LVP_SAVER_PALETTE 0x2    // palette images (pens and a palette)
#define LVP_SAVER_ALPHA 0x4      // an alpha channel in ARGB pixels

// One format a saver offers; the register exports fill it while flags has the "more" bit.
typedef struct lvPluginSaverFormat {
    uint32_t flags;     // LVP_SAVER_ bits (image savers), plus the "more" bit while more formats follow
    int32_t formatId;   // format id; 0 ends a saver list
    const char *name;   // format name (the constant is the prefix followed by it)
} lvPluginSaverFormat;

// "More" bits of the register exports.
#define LVP_SAVEIMAGE_MORE 8
#define LVP_SAVEANIM_MORE 16
#define LVP_SAVESAMPLE_MORE 1
#define LVP_SAVEICON_MORE 1

// Identifier pair of a script object: a number, or a handle when the script used Nil.
typedef struct lvPluginObjectId {
    int32_t number;  // numeric identifier
    void *handle;    // the object's own address for automatic identifiers, else null
} lvPluginObjectId;

// The attribute callback of an object type a plug-in registers (system slot 17): what
// GetAttribute(type, id, attribute) gives, as a count of pushed results or an error code.
typedef int (*lvPluginAttributeFunction)(lvState *L, int attribute, lvPluginObjectId id);

// A time value of the system slots 5 to 8.
typedef struct lvPluginTimeVal {
    uint32_t seconds;       // whole seconds
    uint32_t microseconds;  // 0..999999 when normalised
} lvPluginTimeVal;

// The script location of system slot 47.
typedef struct lvPluginScriptLocation {
    int32_t line;          // compiled line, -1 when none
    const char *command;   // current command, "----" when none
    const char *file;      // chunk name of the running script function
} lvPluginScriptLocation;

// A directory entry of files slots 12 and 15.
typedef struct lvPluginDirEntry {
    uint32_t reserved;     // untouched
    const char *name;      // null (slot 12) or the entry's name (slot 15), valid until the next call
    int32_t isDirectory;   // non-zero for a directory
    uint32_t sizeLow;      // size, low word
    uint32_t attributes;   // FILEATTR_ bits
} lvPluginDirEntry;

// File information of files slots 24 and 27. With flags bit 2 the path and comment are
// new blocks the plug-in frees with system slot 12 (comment null when empty); otherwise
// they point into buffers of the runtime that the next call reuses.
#define LVP_INFO_ALLOCATE 2
typedef struct lvPluginFileInfo {
    int32_t isDirectory;       // non-zero for a directory
    int64_t size;              // size in bytes
    uint32_t attributes;       // FILEATTR_ bits
    lvPluginDate lastWrite;    // last write
    lvPluginDate lastAccess;   // last access
    lvPluginDate creation;     // creation
    char *path;                // full path
    char *comment;             // comment
} lvPluginFileInfo;

// What files slot 29 tells of a ":::chunk" name; buffers are the caller's.
typedef struct lvPluginChunkInfo {
    char *fileName;        // receives the embedded file name
    size_t fileNameSize;   // its size
    char *extension;       // receives the extension, "." included
    size_t extensionSize;  // its size
    char *container;       // receives the container
    size_t containerSize;  // its size
    void *memory;          // memory address, the data of a registered memory file, or null
    void *reserved;        // unused
    int64_t offset;        // offset in the container
    int64_t size;          // size of the chunk
} lvPluginChunkInfo;

// What files slot 34 makes a ":::chunk" name of; exactly one of container and memory.
typedef struct lvPluginChunkRequest {
    const char *container; // container file, or null
    const void *memory;    // memory address, or null
    const char *extension; // extension of the data ("png"), required
    void *reserved1;       // unused
    int64_t offset;        // offset in the container, or from the memory address
    void *reserved2;       // unused
    uint32_t size;         // size of the chunk
} lvPluginChunkRequest;

// ============================================================================
// Export signatures
// ============================================================================

struct lvPluginRecord;
struct lvPluginApi;

typedef int (*lvInitPluginFunction)(struct lvPluginRecord *record, const struct lvPluginApi *api,
                                    const char *path);
typedef void (*lvClosePluginFunction)(void);
typedef uint32_t (*lvGetExtensionsFunction)(uint32_t capability, void *reserved);
// Any export whose family the runtime does not call yet; cast to the family's signature.
typedef void (*lvPluginExport)(void);

// Library family.
typedef const char *(*lvGetBaseTableFunction)(void);
typedef const lvPluginCommand *(*lvGetCommandsFunction)(void);
typedef const lvPluginConstant *(*lvGetConstantsFunction)(void);
typedef int (*lvInitLibraryFunction)(lvState *L);
typedef void (*lvFreeLibraryFunction)(lvState *L);
typedef int (*lvGetLibraryCountFunction)(void);
typedef void (*lvSetCurrentLibraryFunction)(int index);
typedef const char *const *(*lvGetHelpStringsFunction)(void);
typedef int (*lvPushUpvaluesFunction)(lvState *L);

// RequirePlugin(state, version, revision, reserved, tags {1: uint32_t* out word, 2: user tags}).
typedef int (*lvRequirePluginFunction)(lvState *L, int version, int revision, uint32_t reserved,
                                       const lvPluginTag *tags);

// Savers: the register export is called while the item's flags keep the "more" bit.
typedef int (*lvRegisterSaverFunction)(lvPluginSaverFormat *item);
// The picture a saver's SaveImage receives; cleared to zero before it is filled.
typedef struct lvSaveImageCtrl {
    const void *pixels;        // ARGB words, or the pen bytes of a palette image
    const uint32_t *palette;   // 256 entries 0x00RRGGBB (palette images only)
    int32_t width;             // pixels
    int32_t height;            // pixels
    int32_t bytesPerRow;       // of pixels
    int32_t paletteMode;       // 1 palette image, 0 ARGB
    int32_t quality;           // 0..100
    int32_t colorCount;        // 2^depth (palette images)
    int32_t transparentPen;    // valid with LVP_SAVECTRL_PEN
    uint32_t flags;            // LVP_SAVECTRL_ bits
    int32_t formatId;          // the registered format id
    const char *adapter;       // file adapter for writing, or null
    const void *userTags;      // user tags, or null
} lvSaveImageCtrl;
#define LVP_SAVECTRL_ALPHA 0x1  // the ARGB pixels carry alpha (only for LVP_SAVER_ALPHA formats)
#define LVP_SAVECTRL_PEN 0x2    // transparentPen is valid
// 1 when the file was written, 0 on failure.
typedef int (*lvSaveImageFunction)(const char *fileName, lvSaveImageCtrl *ctrl);

// File adapter (open modes LVP_FOPEN_, tags LVP_FOPENTAG_).
typedef void *(*lvFOpenFunction)(const char *name, int mode, const lvPluginTag *tags);
typedef int (*lvFCloseFunction)(void *stream);
typedef int (*lvFReadFunction)(void *stream, void *buffer, int length);
typedef int (*lvFGetCFunction)(void *stream);
typedef int (*lvFWriteFunction)(void *stream, const void *buffer, int length);
typedef int (*lvFPutCFunction)(void *stream, int byte);
// Origin 0 current, 1 start, 2 end; answers the old position or -1.
typedef int64_t (*lvFSeekFunction)(void *stream, int64_t offset, int origin);
typedef int (*lvFFlushFunction)(void *stream);
typedef int (*lvFEofFunction)(void *stream);
typedef int (*lvFStatFunction)(void *stream, lvPluginStat *stat, const lvPluginTag *tags);
typedef int (*lvStatFunction)(const char *name, int flags, lvPluginStat *stat, const lvPluginTag *tags);

// Directory adapter. OpenDir tags: {1, user tags}, {2, const char** format-name slot}.
typedef void *(*lvOpenDirFunction)(const char *name, int flags, const lvPluginTag *tags);
typedef void (*lvCloseDirFunction)(void *dir);
// Non-zero while entries come; the entry's name goes to stat->fullPath.
typedef int (*lvNextDirEntryFunction)(void *dir, lvPluginStat *stat, const lvPluginTag *tags);
typedef void (*lvRewindDirFunction)(void *dir);
typedef int (*lvStatDirFunction)(void *dir, int flags, lvPluginStat *stat, const lvPluginTag *tags);

// Image loader. The runtime clears the ctrl record before each call; LoadImage answers
// a handle (null: not this plug-in's file), GetImage the pixels of width x height with
// rows of lineWidth pixels (32-bit 0xAARRGGBB, or 8-bit pens in palette mode).
typedef struct lvImageLoadCtrl {
    int32_t width;            // out
    int32_t height;           // out
    int32_t lineWidth;        // out: pixels per row of GetImage's buffer
    int32_t hasAlpha;         // out
    int32_t alphaWanted;      // out: non-zero makes the runtime build an alpha channel
    int32_t type;             // out: 1 vector, 0 raster
    uint32_t flags;           // in: LVP_IMGCTRL_TRANSPEN, LVP_IMGCTRL_PALETTE; out: LVP_IMGCTRL_SCALED,
                              //     LVP_IMGCTRL_HASPEN (IsImage)
    int32_t wantedWidth;      // in: 0 own size
    int32_t wantedHeight;     // in: 0 own size
    int32_t unscaledWidth;    // out
    int32_t unscaledHeight;   // out
    int32_t scaleMode;        // in
    const char *adapter;      // in: file adapter list
    uint32_t *palette;        // out: 256 entries (palette mode)
    int32_t transparentPen;   // out: preset -1
    int32_t depth;            // out: bits per pixel
    const void *userTags;     // in: the script's user tags
} lvImageLoadCtrl;
#define LVP_IMGCTRL_SCALED 0x1    // out: the plug-in scaled to the wanted size itself
#define LVP_IMGCTRL_HASPEN 0x2    // out of IsImage: the picture has a transparent pen
#define LVP_IMGCTRL_TRANSPEN 0x2  // in: a transparent pen is wanted
#define LVP_IMGCTRL_PALETTE 0x4   // in: palette mode

// The matrix handed to TransformImage.
typedef struct lvImageMatrix {
    double a, b, c, d;  // 2x2 part
    double x, y;        // translation
} lvImageMatrix;

typedef int (*lvIsImageFunction)(const char *path, lvImageLoadCtrl *ctrl);              // non-zero: known
typedef void *(*lvLoadImageFunction)(const char *path, lvImageLoadCtrl *ctrl);          // handle or null
typedef void *(*lvGetImageFunction)(void *handle, lvImageLoadCtrl *ctrl);               // pixels or null
typedef void (*lvFreeImageFunction)(void *handle);
typedef int (*lvTransformImageFunction)(void *handle, const lvImageMatrix *matrix, int width, int height);
typedef const char *(*lvGetImageFormatFunction)(void *handle);
// Anim loader (PLUGINCAPS_ANIM): the records OpenAnim, LoadFrame and GetFrame exchange,
// cleared by the runtime before each call.
typedef struct lvAnimOpenCtrl {
    int32_t width;            // out
    int32_t height;           // out
    int32_t unused2;
    int32_t frameCount;       // out
    int32_t fourth;           // out: passed on to the caller unchanged
    int32_t unused5;
    const char *adapter;      // in: file adapter list
    uint32_t flags;           // in: LVP_ANIMCTRL_TRANSPARENCY, LVP_ANIMCTRL_PALETTE
    int32_t unused8, unused9, unused10, unused11;
    int32_t type;             // out: 1 vector frames
    const void *userTags;     // in
} lvAnimOpenCtrl;
typedef struct lvAnimFrameCtrl {
    int32_t unused0, unused1, unused2, unused3;
    void *target;             // in: the caller's target object
    int32_t hasAlpha;         // out
    int32_t unused6;
    uint32_t flags;           // in: LVP_ANIMCTRL_TRANSPARENCY, LVP_ANIMCTRL_PALETTE
    uint32_t *palette;        // out: 256 entries
    int32_t transparentPen;   // out: preset -1
    int32_t depth;            // out
    int32_t unused11, unused12;
} lvAnimFrameCtrl;
#define LVP_ANIMCTRL_TRANSPARENCY 0x1
#define LVP_ANIMCTRL_PALETTE 0x2
typedef void *(*lvOpenAnimFunction)(const char *path, lvAnimOpenCtrl *ctrl);               // handle or null
typedef void *(*lvLoadFrameFunction)(void *handle, int frame, lvAnimFrameCtrl *ctrl);     // pixels or null
typedef void (*lvFreeFrameFunction)(void *handle, void *pixels);
typedef int (*lvGetFrameDelayFunction)(void *handle, int frame);                          // milliseconds
typedef void (*lvCloseAnimFunction)(void *handle);
typedef const char *(*lvGetAnimFormatFunction)(void *handle);
// Vector anims: LoadFrame answers a frame handle that GetFrame renders (at the size
// TransformFrame set, else the anim's own) and FreeVectorFrame frees.
typedef void *(*lvGetFrameFunction)(void *frame, lvAnimFrameCtrl *ctrl);  // pixels, the frame's own
typedef int (*lvTransformFrameFunction)(void *frame, const lvImageMatrix *matrix, int width, int height);
typedef void (*lvFreeVectorFrameFunction)(void *frame);
// Anim saver (PLUGINCAPS_SAVEANIM): a stream begun per file, one call per frame.
typedef struct lvAnimFrameWriteCtrl {
    const void *pixels;       // ARGB words, or pens of a palette frame
    const uint32_t *palette;  // palette frames: 2^depth entries
    int32_t bytesPerRow;
    int32_t colourCount;      // 2^depth
    int32_t transparentPen;   // valid with LVP_ANIMFRAME_PEN
    int32_t delay;            // milliseconds
    uint32_t flags;           // LVP_ANIMFRAME_ALPHA, LVP_ANIMFRAME_PEN
    int32_t formatWord;       // the registered format id
} lvAnimFrameWriteCtrl;
#define LVP_ANIMFRAME_ALPHA 0x1
#define LVP_ANIMFRAME_PEN 0x2
// BeginAnimStreamExt's tags: format id, adapter list, user tags.
#define LVP_ANIMSTREAM_FORMAT 1
#define LVP_ANIMSTREAM_ADAPTER 2
#define LVP_ANIMSTREAM_USERTAGS 3
typedef void *(*lvBeginAnimStreamFunction)(const char *path, int width, int height, int paletteFrames, int quality,
                                           int fps);  // stream or null
typedef void *(*lvBeginAnimStreamExtFunction)(const char *path, int width, int height, int paletteFrames,
                                              int quality, int fps, const lvPluginTag *tags);
typedef int (*lvWriteAnimFrameFunction)(void *stream, lvAnimFrameWriteCtrl *ctrl);  // non-zero: written
typedef int (*lvFinishAnimStreamFunction)(void *stream);                           // non-zero: completed
// Network adapter (PLUGINCAPS_NETWORKADAPTER). OpenConnection answers a handle, or NULL
// when the adapter does not take the connection. The runtime's tags: LVP_NETTAG_SSL the
// "ssl" option, LVP_NETTAG_TIMEOUT the network time-out in ms, LVP_NETTAG_ADAPTERWORD the
// address of an int32_t the adapter may set, LVP_NETTAG_TRANSFER 0 for a plain
// connection, LVP_NETTAG_USERTAGS the script's user tags (lvUserTag list) when given.
// GetConnectionInfo fills the text (256 bytes) or int32_t each tag's value points to.
// ReceiveData and SendData answer 0 with the count, LVP_NET_RECVTIMEOUT /
// LVP_NET_SENDTIMEOUT when nothing is there or nothing could go yet, LVP_NET_RECVCLOSED
// when the peer closed, any other value as an error code.
#define LVP_NETTAG_SSL 1
#define LVP_NETTAG_TIMEOUT 2
#define LVP_NETTAG_ADAPTERWORD 4
#define LVP_NETTAG_TRANSFER 15  // 0 for a plain connection; a transfer's "verbose" option
#define LVP_NETTAG_USERTAGS 21
// Tags a DownloadFile or UploadFile adds for its connection. An adapter that moves the
// whole transfer itself sets the adapter word to non-zero; it then serves the body
// through ReceiveData (downloads, and the reply of a form upload) or takes it through
// SendData (other uploads), and answers LVP_NETINFO_DOWNLOADTOTAL, _UPLOADTOTAL and
// _UPLOADED (int64_t) for the progress callback.
#define LVP_NETTAG_URL 3             // const char *: the URL as the script gave it
#define LVP_NETTAG_UPLOAD 5          // 1 for UploadFile
#define LVP_NETTAG_UPLOADSIZE 6      // const int64_t *: the upload's length (not for forms)
#define LVP_NETTAG_USER 7            // const char *, only when the URL carried credentials
#define LVP_NETTAG_PASSWORD 8        // const char *
#define LVP_NETTAG_REDIRECT 9        // the "redirect" option
#define LVP_NETTAG_FTPASCII 10       // 1 when the FTP mode is ASCII
#define LVP_NETTAG_FORMPARTS 11      // const lvNetFormPart *: an HTTP upload's parts
#define LVP_NETTAG_PROXY 12          // const char *, when given
#define LVP_NETTAG_USERAGENT 13      // const char *, when given
#define LVP_NETTAG_CUSTOMHEADERS 14  // const char *, when given
#define LVP_NETTAG_POST 16           // const void *: a download's "post" bytes
#define LVP_NETTAG_POSTLENGTH 17     // const int64_t *: their length
#define LVP_NETTAG_POSTTYPE 18       // const char *: their Content-Type
#define LVP_NETTAG_FAIL404 19        // the "fail404" option
#define LVP_NETTAG_ENCODED 20        // the "encoded" option
#define LVP_NETINFO_DOWNLOADTOTAL 5  // int64_t *: the whole body's length, 0 unknown
#define LVP_NETINFO_UPLOADTOTAL 7    // int64_t *: the whole upload's length
#define LVP_NETINFO_UPLOADED 8       // int64_t *: bytes of it sent so far
// One part of an upload's form as an adapter sees it (a copy; valid during the transfer).
// A file part's file is read through the interface's file slots.
typedef struct lvNetFormPart {
    struct lvNetFormPart *next;
    const char *name;       // the field name
    const char *mimeType;   // NULL for a plain field
    const char *fileName;   // NULL for a plain field
    const void *data;       // a data part's bytes, or NULL
    void *file;             // a file part's open file, or NULL
    int64_t size;
} lvNetFormPart;
#define LVP_NETINFO_LOCALADDRESS 1
#define LVP_NETINFO_LOCALPORT 2
#define LVP_NETINFO_PEERADDRESS 3
#define LVP_NETINFO_PEERPORT 4
#define LVP_NET_RECVTIMEOUT 1422
#define LVP_NET_RECVCLOSED 1423
#define LVP_NET_SENDTIMEOUT 1623
typedef void *(*lvOpenConnectionFunction)(const char *host, int port, const lvPluginTag *tags);
typedef void (*lvCloseConnectionFunction)(void *handle);
typedef int (*lvGetConnectionInfoFunction)(void *handle, const lvPluginTag *tags);
typedef int (*lvReceiveDataFunction)(void *handle, void *buffer, int size, int *received, intptr_t reserved);
typedef int (*lvSendDataFunction)(void *handle, const void *data, int size, int *sent, intptr_t reserved);

// ============================================================================
// Display adapters
// ============================================================================
//
// A plug-in with PLUGINCAPS_DISPLAYADAPTER installs itself during start-up with
// graphics slot 13 (InstallDisplayAdapter(record, flags word, tags {1 pixel format of
// display bitmaps, 2 offscreen drawing word, 3 bitmap capability word})). Every display
// slot but ForceEventLoopIteration is called on the script thread. The display handle is
// what OpenDisplay returned; a display without one is never passed. Tag lists of the
// slots are 32-bit {tag, value} pairs ended by tag 0 (lvPluginTag).

// Flags word given at installation.
#define LVP_ADAPTER_NOREPLACE 0x1       // a later installation fails with 1518
#define LVP_ADAPTER_SCALES 0x8          // BltBitMap gets unscaled rectangles with the scale size
#define LVP_ADAPTER_HWDOUBLEBUFFER 0x40 // BeginDoubleBuffer, EndDoubleBuffer, Flip
#define LVP_ADAPTER_REALALPHA 0x80      // colours reach the adapter with alpha 0xFF = opaque
#define LVP_ADAPTER_SLEEP 0x100         // the runtime's sleeps go to Sleep
#define LVP_ADAPTER_VWAIT 0x200         // vertical-blank waits go to VWait
#define LVP_ADAPTER_MONITORS 0x400      // monitor and mode lists come from GetMonitorInfo
#define LVP_ADAPTER_GRABSCREEN 0x800    // screen grabs come from GrabScreenPixels
#define LVP_ADAPTER_CLOSEDBLITS 0x1000  // blits and fills reach a closed display with a handle
#define LVP_ADAPTER_PENBLITS 0x2000     // BltBitMap takes pen sources unconverted
#define LVP_ADAPTER_PENDISPLAYS 0x8000  // palette displays are shown in pens
#define LVP_ADAPTER_PALETTE 0x10000     // SetPalette takes a shown BGPic's changed pens
#define LVP_ADAPTER_MENUS 0x20000       // menus on displays
#define LVP_ADAPTER_TRAYICON 0x40000
#define LVP_ADAPTER_POPUPMENUS 0x80000
#define LVP_ADAPTER_TRAYMENUS 0x100000

// Extension word (GetExtensions(PLUGINCAPS_DISPLAYADAPTER, 0)).
#define LVP_ADAPTEREXT_MAINLOOP 0x1     // AdapterMainLoop
#define LVP_ADAPTEREXT_PALETTE 0x2      // SetPalette
#define LVP_ADAPTEREXT_MENUS 0x4        // SetMenuBar, SetMenuAttributes, GetMenuAttributes
#define LVP_ADAPTEREXT_TRAYICON 0x8
#define LVP_ADAPTEREXT_POPUPMENU 0x10
#define LVP_ADAPTEREXT_TRAYMENU 0x20

// Adapter flags of one display (OpenDisplay, DetermineBorderSizes, tag 19).
#define LVP_DISPLAY_BORDERLESS 0x1
#define LVP_DISPLAY_SIZEABLE 0x2
#define LVP_DISPLAY_FIXED 0x4
#define LVP_DISPLAY_NOHIDE 0x8
#define LVP_DISPLAY_NOCLOSE 0x10
#define LVP_DISPLAY_AUTOSCALE 0x20
#define LVP_DISPLAY_LAYERSCALE 0x40
#define LVP_DISPLAY_LAYERS 0x80
#define LVP_DISPLAY_DOUBLEBUFFER 0x100
#define LVP_DISPLAY_HWDOUBLEBUFFER 0x200
#define LVP_DISPLAY_FULLSCREEN 0x400
#define LVP_DISPLAY_NOBLANKER 0x800
#define LVP_DISPLAY_ONTOP 0x1000
#define LVP_DISPLAY_SCALEDCOORDS 0x2000
#define LVP_DISPLAY_TRAPRMB 0x4000
#define LVP_DISPLAY_KEEPPROPORTIONS 0x8000
#define LVP_DISPLAY_BACKDROP 0x10000

// Tags of OpenDisplay, in the order the runtime gives them.
#define LVP_OPENTAG_WIDTH 1          // the picture's width
#define LVP_OPENTAG_HEIGHT 2         // the picture's height
#define LVP_OPENTAG_REFRESHFLAG 3    // int32_t*: set to honour BeginRefresh when unscaled
#define LVP_OPENTAG_FRAMEFLAG 4      // int32_t*: set for whole-frame transitions
#define LVP_OPENTAG_STATE 5          // lvState*
#define LVP_OPENTAG_MONITOR 6        // 0-based
#define LVP_OPENTAG_SCREENWIDTH 7    // full screen only
#define LVP_OPENTAG_SCREENHEIGHT 8   // full screen only
#define LVP_OPENTAG_SCREENDEPTH 9    // full screen only
#define LVP_OPENTAG_SCALEWIDTH 10    // when scaling
#define LVP_OPENTAG_SCALEHEIGHT 11   // when scaling
#define LVP_OPENTAG_SMOOTH 12        // smooth scaling (always given)
#define LVP_OPENTAG_DEPTH 13         // the picture's depth
#define LVP_OPENTAG_PALETTE 14       // uint32_t[256] of a palette picture
#define LVP_OPENTAG_PENFLAG 15       // int32_t*: set to keep drawing in pens
#define LVP_OPENTAG_MENU 16          // the first menu of the strip
#define LVP_OPENTAG_X 17             // int32_t*: the adapter may write the final x
#define LVP_OPENTAG_Y 18             // int32_t*: ... and y
#define LVP_OPENTAG_FLAGS 19         // uint32_t*: the display's adapter flags, may be changed
#define LVP_OPENTAG_USERTAGS 20      // the script's user tags

// The blit descriptor of BltBitMap (zeroed first).
typedef struct lvAdapterBlit {
    int32_t sourceX, sourceY;       // rectangle in the source
    int32_t destX, destY;           // position on the display
    int32_t width, height;          // size
    int32_t scaleWidth, scaleHeight;// size to scale the whole picture to, 0 when not scaling
    int32_t smooth;                 // smooth scaling
    void *mask;                     // the mask's bitmap, or null
    void *alpha;                    // the alpha channel's bitmap, or null
    const double *transform;        // a 2x2 matrix, or null
    double offsetX, offsetY;        // the transform's offsets
    int32_t transformFlags;         // -1 without a transform
    const uint32_t *palette;        // pen sources (LVP_ADAPTER_PENBLITS)
    int32_t transparentPen;         // pen sources, -1 none
} lvAdapterBlit;
#define LVP_BLIT_ALPHA 0x1    // the source has an alpha channel
#define LVP_BLIT_SCALED 0x20  // the runtime already scaled the picture
#define LVP_BLIT_PENS 0x40    // a pen source given unconverted

// Entries of GetMonitorInfo's lists; a list ends at the first entry with width or height 0.
typedef struct lvAdapterMonitor {
    int32_t x, y, width, height;  // desktop pixels
} lvAdapterMonitor;
typedef struct lvAdapterMode {
    int32_t width, height;        // pixels
} lvAdapterMode;
#define LVP_MONITORINFO_MONITORS 0
#define LVP_MONITORINFO_MODES 1

// What PostAdapterEvent takes: the display handle (or a data pointer), then up to four
// values by kind. Kind 11's file list passes to the runtime once the call is made; a
// record of a kind 34 or above stays the plug-in's when the result is not 0.
typedef struct lvAdapterEvent {
    uintptr_t handle;
    uintptr_t a, b, c, d;
} lvAdapterEvent;
#define LVP_EVENT_QUIT 0
#define LVP_EVENT_CALLBACK 1    // handle: int (*)(lvState *, void *), a: its data
#define LVP_EVENT_NOTHING 2
#define LVP_EVENT_MOUSE 3       // x, y, button (1 left, 2 right, 3 middle, else moved), down
#define LVP_EVENT_KEY 4         // key code, down, qualifiers
#define LVP_EVENT_CLOSE 5
#define LVP_EVENT_SIZE 6        // width, height
#define LVP_EVENT_MOVE 7        // x, y
#define LVP_EVENT_SHOW 8        // shown
#define LVP_EVENT_ACTIVE 9      // active
#define LVP_EVENT_VANILLAKEY 10 // character
#define LVP_EVENT_DROPFILES 11  // x, y, names (AllocMemory'd, each zero-ended, then an empty one)
#define LVP_EVENT_RAWKEY 12     // key code, down
#define LVP_EVENT_WHEEL 13      // -, delta
#define LVP_EVENT_MENU 14       // the lvPluginMenuItem chosen, flags (0x1 the selected state)
#define LVP_EVENT_PORTDATA 15   // handle: data, a: its size with the terminating zero
#define LVP_EVENT_TRAYICON 16
#define LVP_EVENT_CLIPBOARD 17
#define LVP_EVENT_PLUGINFIRST 34

// What graphics slot 16 reports of a locked bitmap.
typedef struct lvPluginBitMapInfo {
    uint8_t *pixels;        // first row
    int32_t rowLength;      // pixels a row
    int32_t format;         // pixel format (10: 0xAARRGGBB words)
    int32_t bytesPerPixel;  // bytes a pixel
    int32_t width, height;  // pixels
} lvPluginBitMapInfo;

// Graphics slot 21: a blit between raw 32-bit buffers.
typedef struct lvPluginBlitDesc {
    int32_t sourceX, sourceY;       // in the source
    int32_t targetX, targetY;       // in the target
    int32_t width, height;          // pixels
    int32_t format;                 // pixel format of both (10..13)
    int32_t targetRowLength;        // pixels a row
    int32_t sourceRowLength;        // pixels a row
    const uint8_t *alpha;           // 8-bit alpha at the source position, or null
    int32_t alphaRowBytes;
    const uint8_t *mask;            // 1-bit mask (MSB first) at the source position, or null
    int32_t maskRowBytes;
} lvPluginBlitDesc;

// A clip rectangle handed by pointer in a tag.
typedef struct lvPluginRect {
    int32_t x, y, width, height;
} lvPluginRect;

// Graphics slot 24's clip: the corners, x0..x1 - 1 and y0..y1 - 1 drawn.
typedef struct lvPluginClipBounds {
    int32_t x0, y0, x1, y1;
} lvPluginClipBounds;

// Graphics slot 37: pixels to pens.
typedef struct lvPluginPaletteDesc {
    int32_t width, height;          // pixels
    int32_t depth;                  // 32: 0xAARRGGBB words (high byte alpha); 8 or less: pens
    const uint32_t *sourcePalette;  // 256 words of a pen source
    int32_t paletteBits;            // at most 2^bits pens (1..8)
    const void *pixels;             // used when the slot's first argument is null
    uint32_t *paletteOut;           // 256 words out (in as well with flag 2)
    int32_t dither;                 // Floyd-Steinberg when non-zero
} lvPluginPaletteDesc;

// Graphics slots 4-6, 12, 29, 30: brushes. Identifiers come as lvPluginObjectId pointers.
// What LockBrushPixels (slot 4) fills: an RGB brush gives pixels, its row bytes, pixel
// format and bytes per pixel, and its mask or alpha plane; a palette brush (only with tag
// 2) gives pens, palette and transparent pen with pixel format 14 and 1 byte per pixel.
typedef struct lvBrushPixelAccess {
    uint8_t *pixels;         // first pixel of the RGB bitmap (null for a palette brush)
    int32_t bytesPerRow;     // of the RGB bitmap
    uint8_t *alphaPixels;    // first byte of the alpha channel, or null
    int32_t alphaModulo;     // bytes per row of the alpha channel
    uint8_t *maskPixels;     // first byte of the 1-bit mask (MSB first), or null
    int32_t maskModulo;      // bytes per row of the mask
    int32_t pixelFormat;     // pixel format number; 14 (8-bit pens) for a palette brush
    int32_t bytesPerPixel;   // 1 for a palette brush
    int32_t width, height;   // pixels
    uint8_t *penPixels;      // first byte of the pen plane (palette brushes)
    int32_t penModulo;       // bytes per row of the pen plane
    uint32_t *palette;       // the brush's 256 colours (palette brushes)
    int32_t transparentPen;  // palette brushes; -1 none
    int32_t depth;           // written only when tag 3 is given
} lvBrushPixelAccess;
#define LVP_BRUSHLOCK_READONLY 1   // tag: value non-zero, read-only access
#define LVP_BRUSHLOCK_PALETTE 2    // tag: the caller takes palette brushes
#define LVP_BRUSHLOCK_DEPTH 3      // tag: report the depth
#define LVP_BRUSHARGB_WIDTH 1      // tag: int32_t* receives the width
#define LVP_BRUSHARGB_HEIGHT 2     // tag: int32_t* receives the height
#define LVP_BRUSHARGB_OPAQUE 3     // tag: int32_t* receives 1 without mask and alpha
#define LVP_BRUSHARGB_FLAGS 4      // tag: bit 0 scale by the screen's DPI / 96, bit 1 smooth
// A vector brush's pixels come from the plug-in: get-pixels(handle, info) answers
// width x height ARGB words at the size the last transform call set.
typedef uint32_t *(*lvBrushVectorGetPixels)(void *handle, void *info);
typedef void (*lvBrushVectorFree)(void *handle);
// The pixel description of CreateBrushFromPixels (slot 12).
typedef struct lvBrushPixelDesc {
    const void *pixels;       // ARGB words or, with flag 8, pen bytes; null for an empty brush
    int32_t modulo;           // pixels per row of ARGB words, bytes per row of pens
    uint32_t transparent;     // colour key or transparent pen, with flag 2
    uint32_t flags;           // LVP_BRUSHPIX_
    void *vectorHandle;       // flag 4: the plug-in's vector image
    lvBrushVectorGetPixels vectorGetPixels;
    lvBrushVectorFree vectorFree;
    lvTransformImageFunction vectorTransform;
    int32_t depth;            // bits per pen (flag 8)
    const uint32_t *palette;  // 256 colours (flag 8), copied
} lvBrushPixelDesc;
#define LVP_BRUSHPIX_ALPHA 1        // an alpha channel from the pixels' top bytes
#define LVP_BRUSHPIX_TRANSPARENT 2  // the transparent field is valid
#define LVP_BRUSHPIX_VECTOR 4       // the brush is a vector image
#define LVP_BRUSHPIX_PENS 8         // the pixels are 8-bit pens
typedef void *(*lvBrushLockFunction)(const lvPluginObjectId *id, const lvPluginTag *tags,
                                     lvBrushPixelAccess *access);
typedef void (*lvBrushUnlockFunction)(void *lock);
typedef uint32_t *(*lvBrushArgbFunction)(const lvPluginObjectId *id, const lvPluginTag *tags);
typedef int (*lvBrushCreateFunction)(lvState *L, lvPluginObjectId *id, int32_t width, int32_t height,
                                     const lvBrushPixelDesc *desc);
typedef int (*lvBrushFreeFunction)(lvState *L, const lvPluginObjectId *id);
typedef void *(*lvBrushMapHandleFunction)(lvPluginObjectId *id, void *adapterBitmap);

// One item of a menu tree as the menu slots get it: the menu library's own node, handed
// back unchanged in menu events (LVP_EVENT_MENU). Level 0 holds the strip's titles, level 1
// the items of each menu, level 2 the items of a submenu; no deeper. The adapter reads the
// tree and may keep its radio-group numbers in the last two fields; the rest is the runtime's.
typedef struct lvPluginMenuItem {
    struct lvPluginMenuItem *next;        // next sibling, or null
    const char *title;                    // null for a separator
    const char *id;                       // what identifies the item to the script, or null
    const char *hotkey;                   // or null
    uint32_t flags;                       // LVP_MENUITEM_
    struct lvPluginMenuItem *firstChild;  // the submenu's first item, or null
    int32_t radioFirst, radioLast;        // command numbers of the item's radio group
} lvPluginMenuItem;
#define LVP_MENUITEM_TOGGLE 1
#define LVP_MENUITEM_SELECTED 2
#define LVP_MENUITEM_DISABLED 4
#define LVP_MENUITEM_RADIO 8

// Pointer kinds of SetPointer.
#define LVP_POINTER_SYSTEM 0  // the system arrow
#define LVP_POINTER_BUSY 1    // the busy pointer
#define LVP_POINTER_CUSTOM 2  // an image CreatePointer made

// The run routine AdapterMainLoop calls (once) with its data.
typedef int (*lvAdapterRunFunction)(void *data);

// The display slots by signature (cast the record's entries to these).
typedef int (*lvAdapterHandleEventsFunction)(lvState *L, int mode, uint32_t reserved);
typedef int (*lvAdapterWaitEventsFunction)(lvState *L, int mode, const lvPluginTag *tags);
typedef void (*lvAdapterForceIterationFunction)(uint32_t reserved);
typedef int (*lvAdapterSleepFunction)(lvState *L, int milliseconds);
typedef void (*lvAdapterVWaitFunction)(void *handle, const lvPluginTag *tags);
typedef void (*lvAdapterBorderSizesFunction)(uint32_t flags, int32_t *left, int32_t *right, int32_t *top,
                                             int32_t *bottom);
typedef void *(*lvAdapterOpenDisplayFunction)(const char *title, int x, int y, int width, int height,
                                              uint32_t flags, const lvPluginTag *tags);
typedef int (*lvAdapterCloseDisplayFunction)(void *handle);
typedef int (*lvAdapterBufferSizeFunction)(void *handle, int width, int height, uint32_t reserved,
                                           const lvPluginTag *tags);
typedef int (*lvAdapterShowHideFunction)(void *handle, int show, uint32_t reserved);
typedef int (*lvAdapterSizeMoveFunction)(void *handle, int x, int y, int width, int height, uint32_t reserved1,
                                         uint32_t reserved2);
typedef void (*lvAdapterSetTitleFunction)(void *handle, const char *title);
typedef void (*lvAdapterActivateFunction)(void *handle, int front);
typedef void (*lvAdapterSetAttributesFunction)(void *handle, const lvPluginTag *tags);
// The pointer slots. CreatePointer gets width x height ARGB words and the hot spot (within
// the image) and answers the adapter's pointer image, or null (1321); it may change the
// size it was given, and the runtime keeps what it leaves there. SetPointer shows an image
// on a display: kind LVP_POINTER_SYSTEM or LVP_POINTER_BUSY with a null image, or
// LVP_POINTER_CUSTOM with one CreatePointer made; ShowHidePointer follows it with shown 1.
// MovePointer's position is in window pixels, the display's scale already applied.
typedef void *(*lvAdapterCreatePointerFunction)(const uint32_t *pixels, int hotX, int hotY, int32_t *width,
                                                int32_t *height, uint32_t reserved);
typedef void (*lvAdapterFreePointerFunction)(void *pointer);
typedef void (*lvAdapterSetPointerFunction)(void *handle, int kind, void *pointer);
typedef void (*lvAdapterShowHidePointerFunction)(void *handle, int shown);
typedef void (*lvAdapterMovePointerFunction)(void *handle, int x, int y);
typedef void (*lvAdapterMousePosFunction)(void *handle, int32_t *x, int32_t *y);
typedef uint32_t (*lvAdapterQualifiersFunction)(void *handle);
typedef void (*lvAdapterBltBitMapFunction)(void *source, void *handle, const lvAdapterBlit *blit, uint32_t flags,
                                           uint32_t reserved);
typedef void (*lvAdapterRectFillFunction)(void *target, int x, int y, int width, int height, uint32_t colour,
                                          uint32_t reserved1, uint32_t reserved2);
typedef int (*lvAdapterMonitorInfoFunction)(int kind, int monitor, void **list, uint32_t reserved);
typedef void (*lvAdapterFreeMonitorInfoFunction)(int kind, void *list);
typedef uint32_t *(*lvAdapterGrabFunction)(void *handle, int x, int y, int width, int height, uint32_t reserved1,
                                           uint32_t reserved2);
typedef void (*lvAdapterFreeGrabFunction)(uint32_t *pixels);
typedef int (*lvAdapterMainLoopFunction)(lvState *L, lvAdapterRunFunction run, void *data, uint32_t reserved1,
                                         uint32_t reserved2);
// SetPalette (extension bit 2, flag LVP_ADAPTER_PALETTE): the display's 256 pens, reserved 0.
typedef void (*lvAdapterSetPaletteFunction)(void *handle, const uint32_t *pens, uint32_t reserved);
// The menu slots (extension bits 0x4, 0x10, 0x20; flags 0x20000, 0x80000, 0x100000). Each
// answers non-zero for success; 0 fails the command with 1541. SetMenuBar gets the first
// top-level item of the display's menu strip, or null to remove it; OpenPopupMenu and
// SetTrayMenu get the first item below the menu's first top-level entry (SetTrayMenu null
// to remove the tray menu). OpenPopupMenu's x and y are 200000 for the pointer's position.
typedef int (*lvAdapterSetMenuBarFunction)(void *handle, lvPluginMenuItem *strip, uint32_t reserved);
typedef int (*lvAdapterSetMenuAttributesFunction)(void *handle, lvPluginMenuItem *item, uint32_t set,
                                                  uint32_t clear, uint32_t reserved);
typedef int (*lvAdapterGetMenuAttributesFunction)(void *handle, lvPluginMenuItem *item, uint32_t *bits,
                                                  uint32_t reserved);
// SetTrayIcon (extension 0x8, flag 0x40000): width x height ARGB words, or null to remove
// the icon; tag LVP_TRAYICON_TOOLTIP carries the tooltip (at most 127 bytes) when there is one.
// Non-zero for success; 0 fails the command with 1663.
typedef int (*lvAdapterSetTrayIconFunction)(void *handle, const uint32_t *pixels, int width, int height,
                                            const lvPluginTag *tags);
#define LVP_TRAYICON_TOOLTIP 1
typedef int (*lvAdapterOpenPopupMenuFunction)(void *handle, lvPluginMenuItem *first, int x, int y,
                                              uint32_t reserved);
typedef int (*lvAdapterSetTrayMenuFunction)(void *handle, lvPluginMenuItem *first, uint32_t reserved);
typedef int (*lvAdapterDoubleBufferFunction)(void *handle, uint32_t reserved);
typedef int (*lvAdapterFlipFunction)(void *handle, const lvPluginTag *tags);
typedef int (*lvAdapterClsFunction)(void *handle, uint32_t colour, uint32_t reserved);

// WritePixel and Line: the adapter's own bitmaps, when the offscreen drawing word (tag 2
// at installation) has 0x10 or 0x20. WritePixel: the bitmap, the point, the colour, the
// draw mode and a tag list; 0 done. Line: the bitmap, the ends, the colour and flags (2 a
// video bitmap, 4 the colour as given for a selected mask or alpha channel).
typedef int (*lvAdapterWritePixelFunction)(void *bitmap, int x, int y, uint32_t colour, int mode,
                                           const lvPluginTag *tags);
typedef void (*lvAdapterLineFunction)(void *bitmap, int x1, int y1, int x2, int y2, uint32_t colour, int flags);

// The bitmap slots, for an adapter whose flags word has 0x2, 0x4, 0x10 or 0x20 (it makes
// the raster engine's bitmaps or video bitmaps); without those flags they are never
// called but must still be exported. Kinds of AllocBitMap: 0 RGB, 1 pens, 2 mask, 3 alpha.
typedef struct lvAdapterBitmapLock {
    uint8_t *pixels;       // first row
    int rowLength;         // row length in pixels
    int format;            // pixel format number
    int bytesPerPixel;
    int width, height;     // pixels
} lvAdapterBitmapLock;
typedef void *(*lvAdapterAllocBitMapFunction)(int kind, int width, int height, int clear, const lvPluginTag *tags);
typedef void (*lvAdapterFreeBitMapFunction)(void *bitmap);
// A token for UnLockBitMap (0: not locked); info is filled.
typedef uintptr_t (*lvAdapterLockBitMapFunction)(void *bitmap, int readOnly, lvAdapterBitmapLock *info,
                                                 const lvPluginTag *tags);
typedef void (*lvAdapterUnLockBitMapFunction)(uintptr_t token);
// Attributes: 0 width, 1 height, 2 row bytes.
typedef int (*lvAdapterGetBitMapAttrFunction)(void *bitmap, int attribute, const lvPluginTag *tags);
typedef void *(*lvAdapterAllocVideoBitMapFunction)(int width, int height, int flags, const lvPluginTag *tags);
typedef void (*lvAdapterFreeVideoBitMapFunction)(void *bitmap);
typedef void *(*lvAdapterReadVideoPixelsFunction)(void *bitmap, const lvPluginTag *tags);
typedef void (*lvAdapterFreeVideoPixelsFunction)(void *pixels);
typedef int (*lvAdapterVideoBitMapMethodFunction)(void *bitmap, int method, intptr_t argument);

// Display mirrors: what a presented rectangle looks like to a mirror (message 0).
typedef struct lvMirrorBlit {
    int32_t kind;                  // 1 RGB, 2 RGB with alpha, 3 adapter bitmap, 4 pen bitmap
    const void *pixels;            // first pixel of the source, or the bitmap
    int32_t rowLength;             // pixels per row
    int32_t format;                // pixel format
    int32_t sourceWidth, sourceHeight;
    int32_t sourceX, sourceY, destX, destY, width, height;
    void *videoBitmap;             // videos composed over the display, or null
} lvMirrorBlit;
// A mirror's callback: messages 0 blit, 1 fill, 2 line, 3 pixel, 4 size {w, h}, 5 vertical
// blank, 6-8 pointer.
typedef uint32_t (*lvMirrorCallback)(void *mirror, int message, const void *data, void *userData);

// ============================================================================
// The plug-in record
// ============================================================================

// Zeroed by the runtime and handed to InitPlugin, which fills the descriptive fields;
// the runtime then fills the entry points. Fields marked "runtime" are not the plug-in's.
// Font family (PLUGINCAPS_FONT). LoadFont's request: the runtime fills the "in" fields,
// the plug-in the "out" ones. The answer is taken only when, with a palette, depth is
// 1..8 and the font not anti-aliased; without one, depth is 32, or 8 when anti-aliased, or
// 1 when not. Otherwise the font is freed again and the next loader is tried.
typedef struct lvPluginFontRequest {
    const char *name;              // out: the name the plug-in opened (null keeps the asked one)
    const char *adapter;           // the "adapter" option, or ""
    const uint32_t *palette;       // out: 256 colours of a pen font, or null
    int transparentPen;            // out: -1 none
    uint32_t flags;                // in: 2 use points; out: 1 scalable, 4 anti-aliased, 8, 0x10 lays text out
    int depth;                     // in 1; out
    int height;                    // in the size; out
    int baseline;                  // in size - 1; out
    lvPluginUserTag *userTags;     // the request's user tags, or null
} lvPluginFontRequest;

// Eleven words on the text laid out. Measuring alone passes only the anti-alias bit and
// the char spacing.
typedef struct lvPluginFontLayout {
    uint32_t colour;               // 0xRRGGBB
    uint32_t style;                // 1 anti-alias, 2 bold, 4 italic, 8 underline
    int align;                     // 0 left, 1 right, 2 centre, 3 justified
    int wrapWidth;                 // wrap width minus the left margin
    int lineSpacing;               // 0 for PRINT
    int charSpacing;
    int cursorX;                   // PRINT's cursor x minus the left margin, else 0
    int returned[2];               // the plug-in's own words, kept with the text
    const int *tabs;               // tab stops, or null
    int tabCount;
} lvPluginFontLayout;

// Where RenderText draws. Depth-1 fonts and depth-8 fonts drawn without anti-aliasing get
// the mask, depth-32 fonts the RGB bitmap and its alpha, pen fonts the pen plane, others
// the alpha plane; the other pointers are null.
typedef struct lvPluginFontTarget {
    int x, y, width, height;       // the pen (top left of the text) and the planes' size
    uint8_t *rgb;
    int rgbRowBytes;
    uint8_t *alpha;
    int alphaRowBytes;
    uint8_t *mask;                 // one bit a pixel, most significant bit leftmost
    int maskRowBytes;
    uint8_t *pens;
    int penRowBytes;
    int pixelFormat;               // 14 an 8-bit plane, 15 a 1-bit mask, else the RGB bitmap's format
} lvPluginFontTarget;

// MeasureText's answer, relative to the pen on the baseline.
typedef struct lvPluginFontMetrics {
    int minX, minY, maxX, maxY;
    int advance, height;
} lvPluginFontMetrics;

enum { LV_PLUGINFONT_SCALABLE = 1, LV_PLUGINFONT_USEPOINTS = 2, LV_PLUGINFONT_ANTIALIAS = 4,
       LV_PLUGINFONT_FLAG8 = 8, LV_PLUGINFONT_SELFLAYOUT = 0x10 };

typedef void *(*lvLoadFontFunction)(const char *name, int size, lvPluginFontRequest *request, void *reserved);
typedef void (*lvFreeFontFunction)(void *handle);
typedef int (*lvMeasureTextFunction)(void *handle, const char *text, int length, int encoding,
                                     lvPluginFontMetrics *out, lvPluginFontLayout *layout, void *reserved);
// matrix: the 2 x 2 transform {xx, xy, yx, yy}, the identity when there is none.
typedef int (*lvRenderTextFunction)(void *handle, const char *text, int length, int encoding,
                                    lvPluginFontTarget *target, const double *matrix, lvPluginFontLayout *layout,
                                    void *reserved);
typedef int (*lvGetKerningFunction)(void *handle, const char *pair, int encoding, void *reserved);
// tags: tag 1 and tag 2 carry pointers to ints that get the new height and baseline.
typedef void (*lvSetFontScaleFunction)(void *handle, double scaleX, double scaleY, lvPluginTag *tags);
typedef const char *(*lvGetFontFormatFunction)(void *handle);

// ---- Vector engines (PLUGINCAPS_VECTOR) ----
// Every record keeps the field order of the 32-bit interface; pointers are
// pointer-sized, so on 64-bit hosts the offsets are those given here.
typedef struct lvVectorStyle {
    int32_t join;             // 0 miter, 1 round, 2 bevel                        [0]
    int32_t cap;              // 0 butt, 1 round, 2 square                         [4]
    int32_t fillRule;         // 0 winding, 1 even-odd                             [8]
    int32_t antiAlias;        // 1: coverage in 256 levels, 0: 0 or 255            [12]
    double dashOffset;        //                                                   [16]
    const double *dashArray;  //                                                   [24]
    int32_t dashCount;        //                                                   [32]
    double miterLimit;        //                                                   [40] (48 bytes)
} lvVectorStyle;
// The command buffer ends with a 32-bit 0 code.
typedef struct lvPathExtentsRequest {
    const void *buffer;          // [0]
    const lvVectorStyle *style;  // [8]
    int32_t filled;              // [16] 1 fill, 0 the stroked outline
    int32_t lineWidth;           // [20]
    double xOffset, yOffset;     // [24, 32]
    double x1, y1, x2, y2;       // [40..64] out; 0 when the path cannot be built
    const double *matrix;        // [72] m00, m01, m10, m11 (the identity when none)
} lvPathExtentsRequest;
typedef struct lvPathDrawRequest {
    const void *buffer;          // [0]
    const lvVectorStyle *style;  // [8]
    int32_t filled;              // [16]
    int32_t lineWidth;           // [20]
    int32_t zero;                // [24]
    uint8_t *pixels;             // [32] 8-bit coverage plane, zeroed
    int32_t rowBytes;            // [40]
    int32_t width, height;       // [44, 48]
    double origin[4];            // [56..80] the box minimum: first pair, or second with flag 1
    const double *matrix;        // [88]
} lvPathDrawRequest;
typedef struct lvPathTranslateRequest {
    void *buffer;                // [0] changed in place
    double dx, dy;               // [8, 16]
} lvPathTranslateRequest;
typedef void (*lvGetPathExtentsFunction)(lvPathExtentsRequest *request);
typedef int (*lvDrawPathFunction)(lvPathDrawRequest *request);
typedef void (*lvTranslatePathFunction)(lvPathTranslateRequest *request);
typedef void (*lvGetCurrentPointFunction)(const void *buffer, const lvVectorStyle *style, double *x, double *y);
typedef void *(*lvCreateVectorFontFunction)(void *face);
typedef void (*lvFreeVectorFontFunction)(void *vectorFont);
typedef void *(*lvOpenVectorFontFunction)(const void *data, int32_t size);
typedef void (*lvCloseVectorFontFunction)(void *face);
// Extension word of PLUGINCAPS_VECTOR.
#define LVP_VECTOR_ORIGINSECOND 1  // DrawPath reads the origin from its second pair
#define LVP_VECTOR_OPENFONT 2      // fonts come as file data through OpenFont

typedef struct lvPluginRecord {
    uint32_t capabilities;      // capability bits (plug-in)
    uint32_t version;           // plug-in version (plug-in)
    uint32_t revision;          // plug-in revision (plug-in)
    uint32_t hostVersion;       // required host version, preset 11 (runtime, plug-in)
    uint32_t hostRevision;      // required host revision, preset 0 (runtime, plug-in)
    const char *name;           // name shown to scripts (plug-in)
    const char *moduleName;     // identity: file name, adapter lists, commands (plug-in)
    const char *author;         // author (plug-in)
    const char *description;    // description (plug-in)
    const char *copyright;      // copyright (plug-in)
    const char *url;            // url (plug-in)
    const char *date;           // date (plug-in)
    const char *settings;       // settings (plug-in)
    const char *helpFile;       // help file (plug-in)
    void *reserved56;           // reserved, carried as it is
    lvPluginFileType *fileTypes;// file types (runtime)
    void *reserved64[2];        // reserved, carried as they are
    int32_t disabled;           // disabled flag (runtime)
    intptr_t userWord;          // user word, read and written through the interface
    uint32_t reserved80[4];     // reserved, carried as they are
    uint32_t displayInstall;    // installation word of the display adapter (runtime)
    uint32_t requesterInstall;  // installation word of the requester adapter (runtime)
    uint32_t timerInstall;      // installation word of the timer adapter (runtime)
    uint32_t reserved108;       // reserved
    uint32_t fileAdapterFlags;  // file adapter flags; bit 1: accepts ":::chunk" names (plug-in)
    uint32_t clipboardInstall;  // installation word of the clipboard adapter (runtime)
    uint32_t dirAdapterFlags;   // directory adapter flags (plug-in)
    uint32_t imageFlags;        // image loader flags (plug-in)
    uint32_t animFlags;         // animation loader flags (plug-in)
    uint32_t soundFlags;        // sound decoder flags (plug-in)
    uint32_t videoFlags;        // video decoder flags (plug-in)
    uint32_t networkFlags;      // network adapter flags (plug-in)
    uint32_t iconFlags;         // icon loader flags (plug-in)
    uint32_t ipcInstall;        // installation word of the message-port adapter (runtime)
    uint32_t fontFlags;         // font engine flags (plug-in)
    uint32_t fileSysFlags;      // file-system adapter flags (plug-in)
    uint32_t extensions[32];    // extension word n for capability bit 2^n (runtime, from GetExtensions)
    int32_t addedByName;        // joined a chain by being named in an adapter list (runtime)
    int32_t libraryInitialised; // InitLibrary ran (runtime)
    int32_t commandsRegistered; // library commands registered (runtime)
    int32_t constantsRegistered;// library constants registered (runtime)
    int32_t required;           // RequirePlugin ran (runtime)
    lvInitPluginFunction InitPlugin;   // (runtime)
    lvClosePluginFunction ClosePlugin; // (runtime)

    // ---- Export families (runtime), in slot order ----
    // PLUGINCAPS_IMAGE: GetImageFormat needs extension bit 2.
    lvIsImageFunction IsImage;
    lvLoadImageFunction LoadImage;
    lvGetImageFunction GetImage;
    lvFreeImageFunction FreeImage;
    lvTransformImageFunction TransformImage;
    lvGetImageFormatFunction GetImageFormat;
    // PLUGINCAPS_ANIM: GetFrame, TransformFrame, FreeVectorFrame bit 2; GetAnimFormat bit 4.
    lvPluginExport OpenAnim, LoadFrame, FreeFrame, GetFrameDelay, CloseAnim, GetFrame, TransformFrame,
        FreeVectorFrame, GetAnimFormat;
    // PLUGINCAPS_SOUND
    lvPluginExport OpenStream, CloseStream, SeekStream, StreamSamples, GetFormatName;
    // PLUGINCAPS_VECTOR
    lvPluginExport GetPathExtents, DrawPath, TranslatePath, GetCurrentPoint, CreateVectorFont,
        FreeVectorFont, OpenFont, CloseFont;
    // PLUGINCAPS_VIDEO
    lvPluginExport OpenVideo, CloseVideo, NextPacket, FreePacket, DecodeVideoFrame, DecodeAudioFrame,
        SeekVideo, FlushAudio, FlushVideo, GetVideoFrames, GetVideoFormat;
    // PLUGINCAPS_LIBRARY: GetLibraryCount, SetCurrentLibrary bit 1; GetHelpStrings bit 4;
    // PushUpvalues bit 8. Library extension bit 2 defers registration until required.
    lvGetBaseTableFunction GetBaseTable;
    lvGetCommandsFunction GetCommands;
    lvGetConstantsFunction GetConstants;
    lvInitLibraryFunction InitLibrary;
    lvFreeLibraryFunction FreeLibrary;
    lvGetLibraryCountFunction GetLibraryCount;
    lvSetCurrentLibraryFunction SetCurrentLibrary;
    lvGetHelpStringsFunction GetHelpStrings;
    lvPushUpvaluesFunction PushUpvalues;
    // PLUGINCAPS_CONVERT
    lvPluginExport GetScript, FreeScript;
    // PLUGINCAPS_SAVEIMAGE, then its saver list (runtime).
    lvRegisterSaverFunction RegisterImageSaver;
    lvSaveImageFunction SaveImage;
    lvPluginSaverFormat *imageSavers;
    // PLUGINCAPS_SAVEANIM (BeginAnimStreamExt: bit 1), then its saver list (runtime).
    lvRegisterSaverFunction RegisterAnimSaver;
    lvPluginExport BeginAnimStream, BeginAnimStreamExt, WriteAnimFrame, FinishAnimStream;
    lvPluginSaverFormat *animSavers;
    // PLUGINCAPS_SAVESAMPLE (the three stream exports: bit 1), then its saver list (runtime).
    lvRegisterSaverFunction RegisterSampleSaver;
    lvPluginExport SaveSample, BeginSampleStream, WriteSampleStream, FinishSampleStream;
    lvPluginSaverFormat *sampleSavers;
    // PLUGINCAPS_REQUIRE
    lvRequirePluginFunction RequirePlugin;
    // PLUGINCAPS_DISPLAYADAPTER (51 slots): AdapterMainLoop bit 1; SetPalette bit 2;
    // SetMenuBar, SetMenuAttributes, GetMenuAttributes bit 4; SetTrayIcon bit 8;
    // OpenPopupMenu bit 0x10; SetTrayMenu bit 0x20.
    lvPluginExport HandleEvents, WaitEvents, ForceEventLoopIteration, Sleep, VWait, DetermineBorderSizes,
        OpenDisplay, CloseDisplay, ChangeBufferSize, ShowHideDisplay, SizeMoveDisplay, SetDisplayTitle,
        ActivateDisplay, SetDisplayAttributes, CreatePointer, FreePointer, SetPointer, ShowHidePointer,
        MovePointer, GetMousePos, GetQualifiers, BltBitMap, RectFill, WritePixel, Line, GetMonitorInfo,
        FreeMonitorInfo, GrabScreenPixels, FreeGrabScreenPixels, AdapterMainLoop, SetPalette, SetMenuBar,
        SetMenuAttributes, GetMenuAttributes, SetTrayIcon, OpenPopupMenu, SetTrayMenu, BeginDoubleBuffer,
        EndDoubleBuffer, Flip, Cls, AllocVideoBitMap, FreeVideoBitMap, ReadVideoPixels, FreeVideoPixels,
        DoVideoBitMapMethod, AllocBitMap, FreeBitMap, LockBitMap, UnLockBitMap, GetBitMapAttr;
    // PLUGINCAPS_TIMERADAPTER
    lvPluginExport RegisterTimer, FreeTimer;
    // PLUGINCAPS_REQUESTERADAPTER
    lvPluginExport SystemRequest, FileRequest, PathRequest, StringRequest, ListRequest, FontRequest,
        ColorRequest, FreeRequest;
    // PLUGINCAPS_FILEADAPTER
    lvFOpenFunction FOpen;
    lvFCloseFunction FClose;
    lvFReadFunction FRead;
    lvFGetCFunction FGetC;
    lvFWriteFunction FWrite;
    lvFPutCFunction FPutC;
    lvFSeekFunction FSeek;
    lvFFlushFunction FFlush;
    lvFEofFunction FEof;
    lvFStatFunction FStat;
    lvStatFunction Stat;
    // PLUGINCAPS_DIRADAPTER: RewindDir bit 1; StatDir bit 2.
    lvOpenDirFunction OpenDir;
    lvCloseDirFunction CloseDir;
    lvNextDirEntryFunction NextDirEntry;
    lvRewindDirFunction RewindDir;
    lvStatDirFunction StatDir;
    // PLUGINCAPS_AUDIOADAPTER: the three capture exports bit 1.
    lvPluginExport OpenAudio, CloseAudio, AllocAudioChannel, FreeAudioChannel, SetChannelAttributes,
        StartAudioCapture, GetAudioCapture, StopAudioCapture;
    // PLUGINCAPS_EXTENSION
    lvGetExtensionsFunction GetExtensions;
    // PLUGINCAPS_NETWORKADAPTER
    lvPluginExport OpenConnection, CloseConnection, GetConnectionInfo, ReceiveData, SendData;
    // PLUGINCAPS_SERIALIZE
    lvPluginExport InitSerializer, FreeSerializer, SerializeItem, DeserializeItem;
    // PLUGINCAPS_ICON: GetIconFormat bit 2.
    lvPluginExport LoadIcon, GetIconImages, FreeIcon, GetIconFormat;
    // PLUGINCAPS_SAVEICON, then its saver list (runtime).
    lvRegisterSaverFunction RegisterIconSaver;
    lvPluginExport SaveIcon;
    lvPluginSaverFormat *iconSavers;
    // PLUGINCAPS_IPCADAPTER
    lvPluginExport CreateIPCPort, FreeIPCPort, SendIPCMessage;
    // PLUGINCAPS_FONT
    lvPluginExport LoadFont, FreeFont, MeasureText, RenderText, GetKerning, SetFontScale, GetFontFormat;
    // PLUGINCAPS_FILESYSADAPTER
    lvPluginExport ChangeDir, GetCurDir, MakeDir, DeleteFSObj, RenameFSObj, MoveFSObj, SetFSObjAttributes;
    // PLUGINCAPS_CLIPBOARDADAPTER
    lvPluginExport SetClipboard, GetClipboard, PeekClipboard, ClearClipboard;
} lvPluginRecord;

// ============================================================================
// The interface table
// ============================================================================
//
// Slots whose services belong to subsystems this build does not have yet hold entries
// that answer LVP_PENDING_ERROR (or null where a pointer is answered); docs/plugins.md
// lists the live slots. Such slots are typed lvApiPending: call them only through the
// signature the slot's role gives.

#define LVP_PENDING_ERROR 1001  // ERR_UNIMPLCMD: the service is not part of this build
typedef intptr_t (*lvApiPending)(void);
// A standard C library function: cast to its own signature (the name says which).
typedef void (*lvApiStdFunction)(void);

// Sub-table 1: standard runtime library (each slot the C library function of its name
// unless a comment says otherwise).
typedef struct lvApiStdRuntime {
    void *(*malloc_)(size_t size);
    void *(*calloc_)(size_t count, size_t size);
    void *(*realloc_)(void *block, size_t size);
    void (*free_)(void *block);
    char *(*strdup_)(const char *text);
    lvApiStdFunction fopen_, fclose_, fseek_, ftell_, fread_, fwrite_, fgetc_, fputc_, ferror_, feof_,
        vfprintf_, vsnprintf_, vprintf_, qsort_;
    int (*vsscanf_)(const char *text, const char *format, void *args); // unsupported: prints a line, 0
    lvApiStdFunction strtod_, strtol_, strtoul_;
    int (*StrCmpNoCase)(const char *a, const char *b);
    int (*StrNCmpNoCase)(const char *a, const char *b, size_t n);
    int (*ToLowerChar)(int c);
    int (*ToUpperChar)(int c);
    char *(*LowerStrInPlace)(char *text);
    char *(*UpperStrInPlace)(char *text);
    int (*gettimeofday_)(void *tv, void *tz); // unsupported: prints a line, 0
    int64_t (*time_)(int64_t *out);
    int (*RoundDoubleToInt)(double value);
    // 32-37 work on the interface's own time record; 32 and 33 return a static one each.
    lvPluginTm *(*localtime_)(const int64_t *t);
    lvPluginTm *(*gmtime_)(const int64_t *t);
    char *(*asctime_)(const lvPluginTm *tm);
    lvApiStdFunction ctime_;
    int64_t (*mktime_)(lvPluginTm *tm);  // writes the normalised fields back
    size_t (*strftime_)(char *buffer, size_t size, const char *format, const lvPluginTm *tm);
    lvApiStdFunction clock_, difftime_, clearerr_, fileno_, fflush_;
    // 43, 44 fill the interface's status record; 0, or -1 on failure (errno set).
    int (*fstat_)(int fd, lvPluginFileStatus *status);
    int (*stat_)(const char *name, lvPluginFileStatus *status);  // name in the script encoding
    void *empty45;
    lvApiStdFunction ungetc_, rename_, remove_;
    int (*GetErrno)(void);
    void (*SetErrno)(int value);
    lvApiStdFunction strerror_;
    void *(*StdIn)(void);
    void *(*StdOut)(void);
    void *(*StdErr)(void);
    int *(*ErrnoAddress)(void);
    lvApiStdFunction fputs_, fgets_;
    char *(*DoubleToText)(double value, char *buffer64);
    lvApiStdFunction rewind_, setvbuf_, setbuf_, isspace_, isdigit_, isxdigit_, iscntrl_, ispunct_,
        memset_, memcpy_, memmove_, memchr_, memcmp_, strcpy_, strncpy_, strcat_, strncat_, strcmp_,
        strncmp_, strchr_, strrchr_, strstr_, strlen_, atoi_, atol_, atof_, printf_, sprintf_;
    int (*FormatString)(char *buffer, size_t size, const char *format, ...);
    size_t (*CopyStrBounded)(char *buffer, const char *text, size_t size);
    size_t (*AppendStrBounded)(char *buffer, const char *text, size_t size);
    lvApiStdFunction gmtime64_, timegm64_, localtime64_, mktime64_, strftime64_, sscanf_, fprintf_,
        abort_, exit_, getenv_, setjmp_, longjmp_, fscanf_;
} lvApiStdRuntime;

// Sub-table 2: runtime services.
typedef struct lvApiSystem {
    // 0: the count of known tags. 25 pointer set to null; 26-30, 37 receive the address
    // of the applet's title, version, copyright, author, description, identifier text;
    // 31 enters (non-zero) or leaves a callback level; 33 suspends the line hook; 38 sets
    // the stop request; 40 resets the error location and the stop request; 44 receives
    // the error mode; 45 the main script state; 50 receives 0.
    int (*RuntimeTags)(const lvPluginTag *tags);
    int (*RegisterErrorMessage)(const char *text);                   // 1: new code, 1698 up
    void (*SetErrorStringArg)(const char *text);                     // 2
    void (*SetErrorNumberArg)(int number);                           // 3
    void (*GetErrorText)(int code, char *buffer, size_t size);       // 4
    void (*GetTimeVal)(lvPluginTimeVal *tv);                         // 5
    void (*SubTimeVal)(lvPluginTimeVal *a, const lvPluginTimeVal *b);// 6: a -= b
    lvPluginTimeVal *(*AddTimeVal)(lvPluginTimeVal *a, const lvPluginTimeVal *b); // 7: a += b
    int (*CmpTimeVal)(const lvPluginTimeVal *a, const lvPluginTimeVal *b); // 8
    void (*SleepMilliseconds)(int milliseconds);                     // 9
    void (*CurrentDateText)(char *buffer);                           // 10: "dd-Mmm-yyyy hh:mm:ss" into 256 bytes
    void *(*AllocMemory)(size_t size, uint32_t flags);               // 11: flags 1 zeroes; size 0 gives null
    void (*FreeMemory)(void *block);                                 // 12
    void *(*AddHook)(int type, void *callback, void *userData);      // 13
    int (*RegisterEventName)(const char *name, intptr_t word);       // 14: kind 0
    // 15: PostAdapterEvent for plug-ins without a state at hand (the main state).
    int (*PostAdapterEventMain)(int kind, lvAdapterEvent *event);
    void (*PostMirrorInput)(void *mirror, int message, const void *data); // 16
    // 17: a type of the plug-in's own that GetAttribute reaches; the new type number (also
    // through numberOut when not null), 0 on failure.
    int (*RegisterObjectType)(const char *name, int *numberOut, lvPluginAttributeFunction attribute);
    // 18: releases the script values kept on an object (list: the address of its user-data
    // list head, null afterwards).
    void (*FreeObjectUserData)(lvState *L, void **list);
    int (*AddPluginFileType)(lvPluginRecord *record, int type, const char *name, const char *mimeType,
                             const char *extensions, int formatId, uint32_t flags); // 19
    // 20: flags 2 draws the video frames threads queued, 1 runs one pass of the event loop;
    // finished sound channels are reaped and the resource monitor refreshed. 0 during
    // shut-down, else the first error.
    int (*Housekeeping)(lvState *L, uint32_t flags);
    void *empty21, *empty22, *empty23, *empty24, *empty25, *empty26; // 21-26
    // 27: reports what happened on a display (LVP_EVENT_ kinds); 0, 1000, 1344, 1528.
    int (*PostAdapterEvent)(lvState *L, int kind, lvAdapterEvent *event);
    int (*PollEvents)(lvState *L, int mode);                         // 28: the event poll; 0 or a code
    int (*WaitEvents)(lvState *L);                                   // 29: waits as WaitEvent does

    void *(*NewMutex)(void);                                         // 30
    void (*FreeMutex)(void *mutex);                                  // 31
    void (*LockMutex)(void *mutex);                                  // 32
    void (*UnlockMutex)(void *mutex);                                // 33
    void (*SetHookDisabled)(void *hook, int flag);                   // 34
    void (*RemoveHook)(void *hook);                                  // 35
    int (*RegisterEventNameKind)(const char *name, int kind, const intptr_t *payload); // 36
    void (*WriteDebugOutput)(const char *format, ...);               // 37
    // 38: a timer adapter reports that the timer of a handle RegisterTimer gave fired.
    int (*FireTimerKey)(lvState *state, uintptr_t key);
    int (*InstallTimerAdapter)(lvPluginRecord *record, uint32_t word); // 39
    int (*CurrentDateFields)(lvPluginDateFields *out);               // 40: 1, or 0 when the date cannot be read
    // 41: a new copy (FreeMemory it) from encoding 1 (UTF-8) to 0 (ISO-8859-1) or back.
    char *(*ConvertTextEncoding)(const char *text, int from, int to, const uint32_t *tags);
    void (*FreeMemory2)(void *block);                                // 42
    int (*AddAdapterToChain)(lvPluginRecord *record, uint32_t capability); // 43
    int (*RemoveAdapterFromChain)(lvPluginRecord *record, uint32_t capability); // 44
    void (*SetAdapterFlags)(lvPluginRecord *record, uint32_t capability, uint32_t word); // 45
    int (*DispatchEventNow)(lvState *L, int type, void *payload);    // 46: a plug-in event at once
    void (*ScriptLocation)(lvPluginScriptLocation *out);             // 47
    int (*FindEventName)(const char *name, const lvPluginTag *tags); // 48
    int (*EncodingQuery)(const lvPluginTag *tags);                   // 49
    int (*RunErrorHandler)(int code);                                // 50: the handler's status, or code when none may run
    int (*CollateStrings)(const char *a, const char *b, int flags);  // 51: flags 1 case-sensitive
    int (*GetRandomBytes)(void *buffer, size_t size);                // 52: non-zero on success
    int (*GetSystemFolder)(int identifier, char *buffer, size_t size); // 53
    int (*ObjectExists)(int type, const lvPluginObjectId *id);       // 54: 1 when found
    void (*UnregisterEventName)(int id);                             // 55
    int (*InstallIpcAdapter)(lvPluginRecord *record, uint32_t word); // 56
    int (*ReturnsOne)(void);                                         // 57
    int (*InstallClipboardAdapter)(lvPluginRecord *record, uint32_t word); // 58
} lvApiSystem;

// Open flags of slots 0 and 32 of lvApiFiles.
#define LVP_OPEN_WRITE 1         // write (else read)
#define LVP_OPEN_UPDATE 2        // update
#define LVP_OPEN_NOADAPTERS 8    // only the built-in path
#define LVP_OPEN_EMULATESEEK 0x10
#define LVP_OPEN_UTF8NAME 0x20
#define LVP_OPEN_STREAMFLAG4 0x40

// Sub-table 3: the virtual file layer. Files and directories are opaque handles.
typedef struct lvApiFiles {
    void *(*OpenFile)(const char *name, int flags);                     // 0
    int (*CloseFile)(void *file);                                       // 1
    int64_t (*SeekFile32)(void *file, int32_t offset, int origin);      // 2: old position
    int64_t (*ReadFile)(void *file, void *buffer, int64_t length);      // 3
    int64_t (*WriteFile)(void *file, const void *buffer, int64_t length); // 4
    int (*ReadByte)(void *file);                                        // 5
    int (*WriteByte)(void *file, int byte);                             // 6
    int (*IsEof)(void *file);                                           // 7
    int (*DeleteObject)(const char *name);                              // 8
    void *(*OpenDir)(const char *name, int flags);                      // 9
    void (*CloseDir)(void *dir);                                        // 10
    int (*GetDirPath)(void *dir, char *buffer, size_t size);            // 11
    int (*ExamineDir)(void *dir, lvPluginDirEntry *entry);              // 12
    int (*StartDirScan)(void *dir, int *restarted);                     // 13
    void (*Nothing14)(void);                                            // 14
    int (*NextDirEntry)(void *dir, lvPluginDirEntry *entry);            // 15: non-zero while entries come
    int (*MakeDir)(const char *name);                                   // 16
    int (*Rename)(const char *from, const char *to);                    // 17
    int (*GetCurrentDirPath)(char *buffer, size_t size, int final);     // 18
    int (*TempFileName)(char *buffer, size_t size);                     // 19
    int (*AppendPathPart)(char *buffer, const char *part, size_t size); // 20
    void (*FindFilePartBounds)(const char *path, const char **dirEnd, const char **textEnd); // 21
    const char *(*FindFilePart)(const char *path);                      // 22
    int (*SplitName)(const char *name, char *container, size_t size, int64_t *offset, int64_t *chunkSize); // 23
    int (*ExaminePath)(const char *name, int flags, lvPluginFileInfo *info); // 24: flags 1 no adapters
    int64_t (*SeekFile)(void *file, int64_t offset, int origin);        // 25
    int (*GetStreamFlags)(void *file);                                  // 26
    int (*ExamineFile)(void *file, int flags, lvPluginFileInfo *info);  // 27
    // 28: copies size bytes at offset of the source file (flags 1: of memory at the
    // address source) into a new file target; 0 or an error code.
    int (*CopyRange)(const char *target, const void *source, int64_t offset, uint32_t ignored1, uint32_t size,
                     uint32_t ignored2, int flags);
    int (*DescribeChunkName)(const char *name, lvPluginChunkInfo *info); // 29
    int (*FlushFile)(void *file);                                       // 30
    int (*TempFileName2)(char *buffer, size_t size);                    // 31
    void *(*OpenFileTags)(const char *name, int flags, const lvPluginTag *tags); // 32: tag 1 list, 6 user tags
    int (*AddTempFile)(const char *path);                               // 33
    int (*MakeChunkName)(char *output, size_t size, const lvPluginChunkRequest *request); // 34
    int (*TempFileNameTags)(char *buffer, size_t size, const lvPluginTag *tags); // 35: 1
    int (*NewMemoryFile)(char *nameOut, size_t size);                   // 36: nameOut holds 1024 bytes
    void *(*MemoryFileData)(const char *name, int64_t *size);           // 37
    void (*RemoveMemoryFile)(const char *name);                         // 38
} lvApiFiles;

// Sub-tables 4 to 8 and 10, 12: services of the raster, sound, requester and font
// subsystems; named slots in order.
typedef struct lvApiGraphics {
    // 0: 1 when the built-in or platform decoder knows the file; size and alpha flag.
    int (*IsImageFile)(const char *path, int *width, int *height, int *hasAlpha);
    // 1: an image source or null. Tags: 1 keep the runtime's 0xAARRGGBB layout (else bytes
    // R, G, B, A), 2 const double* scale factor, 3 scale mode, 4 adapter, 5 loader list.
    void *(*LoadImage)(const char *path, const lvPluginTag *tags, int *width, int *height, int *hasAlpha);
    void *(*TakeImagePixels)(void *source);  // 2: width x height pixels of the source
    void (*FreeImageSource)(void *source);   // 3
    // 4: locks a brush's pixels (tags LVP_BRUSHLOCK_); the lock, or null. Until slot 5
    // unlocks it, script commands cannot change or free the brush (ERR_LOCKEDOBJ).
    lvBrushLockFunction LockBrushPixels;
    lvBrushUnlockFunction UnlockBrushPixels;                                                       // 5
    // 6: a new buffer of the brush's 0xAARRGGBB words (free it with the runtime's
    // FreeMemory), or null. Tags LVP_BRUSHARGB_.
    lvBrushArgbFunction GetBrushArgbPixels;
    void (*FreeMemory)(void *block);                                                               // 7
    // 8-11: display mirrors (lvMirrorCallback). Attach returns the mirror or null; tags 1, 2
    // (int32_t*) receive the size shown, 6, 7 the picture's; 3 vertical blanks, 4 refresh
    // mode, 5 picture coordinates, 8 raw pens, 9 an option word.
    void *(*AttachMirror)(const lvPluginObjectId *display, lvMirrorCallback callback, void *userData,
                          const lvPluginTag *tags, void *window);
    void (*DetachMirror)(void *mirror);
    int (*RefreshMirror)(void *mirror);
    int (*ResizeFromMirror)(void *mirror, int width, int height, const lvPluginTag *tags);
    // 12: a brush from pixels; a Nil identifier (number 0) gets the new handle. 0 or an error.
    lvBrushCreateFunction CreateBrushFromPixels;
    int (*InstallDisplayAdapter)(lvPluginRecord *record, uint32_t word, const lvPluginTag *tags); // 13
    lvApiPending ProgramIcons, FreeIconList;                                                       // 14, 15
    // 16: locks a bitmap the runtime handed over (BltBitMap's source); tag 1 non-zero: read
    // only. The lock token, 0 on failure; release it with slot 17.
    uintptr_t (*LockBitMap)(void *bitmap, uint32_t ignored, lvPluginBitMapInfo *info, const lvPluginTag *tags);
    void (*UnLockBitMap)(uintptr_t token);                                                         // 17
    // 18: tags {tag, address}; with tag 10 non-zero the key is a mirror, else an adapter's
    // handle. The count of known tags, -1 when no display matches. 19: redraws the display
    // of an adapter's handle; 0 or 1344.
    int (*MirrorDisplayAttrs)(void *key, const lvPluginTag *tags);
    int (*RefreshAdapterDisplay)(void *handle);
    // 20: a display by identifier, or (id null) by the adapter's handle: 0 with the
    // handle (null while closed) and the identifier, or 1344 / 1041.
    int (*FindDisplay)(const lvPluginObjectId *id, void *handle, void **handleOut, lvPluginObjectId *idOut);
    // 21: copies a rectangle between raw 32-bit pixel buffers: through the alpha plane
    // when one is given, else through the mask, else plainly. Tag 1: const
    // lvPluginRect* clip rectangle that cuts the target rectangle (moving the source).
    void (*BltRawPixels)(uint8_t *target, const uint8_t *source, const lvPluginBlitDesc *desc, uint32_t ignored,
                         const lvPluginTag *tags);
    // 22: fills a rectangle of raw pixels; opacity the colour's high byte with flag 1,
    // else 255. Tags: 1 pixel format (default 10), 2 row length in pixels (nothing
    // happens without it), 3 const lvPluginRect* clip rectangle.
    void (*FillRawRect)(uint8_t *pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                        uint32_t flags, const lvPluginTag *tags);
    // 23: the same for one pixel; a pixel outside the clip rectangle is not written.
    void (*WriteRawPixel)(uint8_t *pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                          const lvPluginTag *tags);
    // 24: a one-pixel line into raw pixels in the colour, whose high byte is the
    // opacity with flag 1 (else opaque). Tags: 1 pixel format (default 10), 2 row
    // length in pixels (nothing is drawn without it), 3 const lvPluginClipBounds* clip
    // corners (unlike slots 21 to 23: x0..x1 - 1 and y0..y1 - 1 are drawn). Never
    // written: x outside 0..row length - 1, y below 0.
    void (*DrawRawLine)(uint8_t *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour,
                        uint32_t flags, const lvPluginTag *tags);
    // 25: a new buffer of 0xAARRGGBB words (free it with the standard runtime's free)
    // of a bitmap set, or null. Tags: 1 x, 2 y, 3 width, 4 height (0: the bitmap's own),
    // 5 non-zero: the first argument is a pen plane, 6 its palette (256 words), 7 its
    // transparent pen (-1 none).
    uint32_t *(*ReadArgb)(void *rgb, void *mask, void *alpha, const lvPluginTag *tags);
    int (*PlaneSize)(void *plane, int attribute);              // 26: attribute 0 width, 1 height (0 else)
    uint32_t (*ArgbToPixel)(uint32_t colour, int format, int keepAlpha);  // 27
    uint32_t (*PixelToArgb)(uint32_t pixel, int format, int keepAlpha);   // 28
    lvBrushFreeFunction FreeBrush;                                                                 // 29: 0 or an error
    // 30: with a handle, the hardware brush whose video bitmap it is (identifier written);
    // without, the video bitmap of the brush named. Null when there is none.
    lvBrushMapHandleFunction MapHardwareBrushHandle;
    // 31: fills a polygon of count integer (x, y) points; 1 drawn, 0 not. The colour's
    // high byte is the opacity with flag 1. Tags: 1 pixel format (default 10), 2 row
    // length in pixels of a raw buffer (bitmap is then the pixels, else a bitmap the
    // runtime handed over), 3 x offset, 4 y offset.
    int (*DrawPolygon)(void *bitmap, const int32_t *points, int32_t count, uint32_t colour, uint32_t flags,
                       const lvPluginTag *tags);
    lvApiPending IconImages, IconImageAtScale, FreeIconImage;                                      // 32-34
    // 35: scales a rectangle of raw pixels (one-byte formats as a plane); with a null
    // target a new buffer (standard runtime's free). The target, or null.
    void *(*ScalePixels)(const void *source, int sourceX, int sourceY, int sourceWidth, int sourceHeight,
                         void *target, int targetX, int targetY, int targetWidth, int targetHeight, int sourceRow,
                         int targetRow, int format, int smooth);
    // 36: saves pixels through the runtime's savers; 1 on success, 0 on failure (0 while
    // the savers are not part of this build). Tags: 1 quality (90), 2 depth (32), 3 palette
    // (the pixels are then pens), 4 transparent colour (-1), 5 and 6 passed on.
    int (*SaveImage)(const char *file, const void *pixels, int32_t width, int32_t height, int32_t saver,
                     const lvPluginTag *tags);
    // 37: pixels to pens: pensOut gets width x height pens (rows of width bytes),
    // desc->paletteOut the 256 palette words. Flags: 1 dither, 2 remap to the palette
    // already in paletteOut (it comes back unchanged). Tag 1: the wanted transparent pen.
    // 1 on success, 0 on failure.
    int (*RemapToPalette)(const void *pixels, uint8_t *pensOut, lvPluginPaletteDesc *desc, uint32_t flags,
                          const lvPluginTag *tags);
    // 38: a special coordinate (CENTER, RIGHT, ...) of an object of the given size
    // against a container (0: the current output): isX non-zero for x, else y.
    int (*ResolveSpecialCoordinate)(int isX, int value, int size, int container, double anchor);
} lvApiGraphics;

// Sound decoders (PLUGINCAPS_SOUND): the record OpenStream fills (zeroed by the runtime
// first; 32-bit words in the interface's order, pointers widened on 64-bit hosts).
typedef struct lvPluginStreamInfo {
    uint32_t frames;      // out: length in frames
    int32_t channels;     // out: channels
    int32_t bits;         // out: bits
    int32_t rate;         // out: rate in Hz
    uint32_t flags;       // out: LVP_STREAM_ bits
    int32_t subsong;      // in: subsong to open (0-based)
    int32_t subsongs;     // out: number of subsongs (preset 1)
    const char *adapter;  // in: adapter list
    const void *userTags; // in: user tags
} lvPluginStreamInfo;
#define LVP_STREAM_BIGENDIAN 1     // 16-bit data big-endian
#define LVP_STREAM_SIGNED 2        // 8-bit data signed
#define LVP_STREAM_CANSEEK 4       // SeekStream works
#define LVP_STREAM_UNKNOWNLENGTH 8 // frames unknown: the stream cannot be loaded as a sample
// What StreamSamples is asked for.
typedef struct lvPluginStreamRequest {
    void *buffer;      // where the frames go
    int32_t wanted;    // frames wanted
    int32_t delivered; // out: frames delivered
    int32_t ended;     // out: the stream ended
} lvPluginStreamRequest;
typedef void *(*lvOpenStreamFunction)(const char *path, lvPluginStreamInfo *info);
typedef void (*lvCloseStreamFunction)(void *handle);
typedef int (*lvSeekStreamFunction)(void *handle, uint32_t frame);
typedef int (*lvStreamSamplesFunction)(void *handle, lvPluginStreamRequest *request);
typedef const char *(*lvGetFormatNameFunction)(void *handle);

// Video streams (PLUGINCAPS_VIDEO): the four records exchanged with the player, each
// zeroed by the runtime before the call. They keep the field order of the 32-bit
// interface; pointers are pointer-sized, so on 64-bit hosts the offsets are these.
typedef struct lvVideoStreamInfo {
    int32_t width;            // [0] frame width in pixels
    int32_t height;           // [4]
    int32_t durationMs;       // [8]
    int32_t audioRate;        // [12] Hz
    int32_t audioChannels;    // [16] 0: no sound
    int32_t seekUnit;         // [20] 0: SeekVideo takes ms, 1: a byte offset
    int32_t bytesPerSecond;   // [24] of the file, for byte-seeking streams
    int32_t pixelOutput;      // [28] 1: 32-bit pixels in one buffer, 0: YUV 4:2:0 planes
    int32_t flags;            // [32] LVP_VIDEO_ bits
    int32_t reserved36;       // [36]
    double frameDuration;     // [40] seconds
    int64_t fileSize;         // [48] bytes; preset -2: not given
    const char *adapter;      // [56] in: the adapter name of the open
    const void *userTags;     // [64] in: the user tag list (72 bytes)
} lvVideoStreamInfo;
#define LVP_VIDEO_CANSEEK 1
typedef struct lvVideoPacketInfo {
    void *packet;             // [0]
    int32_t audio;            // [8] 1 audio packet, 0 video packet
    int32_t size;             // [12] bytes counted into the queue's fill
    int32_t reserved16;       // [16]
    double timeStamp;         // [24] seconds; -1: none (32 bytes)
} lvVideoPacketInfo;
typedef struct lvVideoDecodeRequest {
    void **planes;            // [0] the player's three plane pointers
    int32_t *rowLengths;      // [8] the player's three row lengths in bytes
    int32_t repeatCount;      // [16] out: extra half frame durations the picture lasts
    int32_t position;         // [20] out: stream position (a byte offset for byte seeking)
    double packetTime;        // [24] out: -1 none
    double presentationTime;  // [32] out: -1 none (40 bytes)
} lvVideoDecodeRequest;
typedef struct lvAudioDecodeRequest {
    void *buffer;             // [0] the player's sample buffer
    uint32_t size;            // [8] its size in bytes
    int32_t written;          // [12] out: bytes of interleaved signed 16-bit samples
    int32_t done;             // [16] out: 1 when the packet is used up (24 bytes)
} lvAudioDecodeRequest;
typedef void *(*lvOpenVideoFunction)(const char *path, lvVideoStreamInfo *info);
typedef void (*lvCloseVideoFunction)(void *handle);
typedef int (*lvNextPacketFunction)(void *handle, lvVideoPacketInfo *info);
typedef void (*lvFreePacketFunction)(void *packet);
typedef int (*lvDecodeVideoFrameFunction)(void *handle, void *packet, lvVideoDecodeRequest *request);
typedef void (*lvDecodeAudioFrameFunction)(void *handle, void *packet, lvAudioDecodeRequest *request);
typedef int (*lvSeekVideoFunction)(void *handle, int32_t position, int32_t byBytes);
typedef void (*lvFlushVideoStreamFunction)(void *handle);
typedef int (*lvGetVideoFramesFunction)(void *handle);
typedef const char *(*lvGetVideoFormatFunction)(void *handle);

// Sample savers (PLUGINCAPS_SAVESAMPLE): the record SaveSample and the stream exports get.
typedef struct lvPluginSaverParams {
    const void *data;    // PCM
    uint32_t bytes;      // data bytes
    uint32_t frames;     // bytes / bytes per frame
    int32_t channels;    // 1 or 2
    int32_t bits;        // 8 or 16
    int32_t rate;        // Hz
    uint32_t flags;      // 1 16-bit data big-endian, 2 8-bit data signed
    int32_t formatId;    // the saver format id
    const char *adapter; // adapter name, or null
    void *userTags;      // a copy of the user tags, or null
    int32_t bitrate;     // -1 default
    int32_t quality;     // -1 default
} lvPluginSaverParams;
typedef int (*lvSaveSampleFunction)(const char *path, lvPluginSaverParams *params);     // non-zero: saved
typedef void *(*lvBeginSampleStreamFunction)(const char *path, lvPluginSaverParams *params, void *reserved);
typedef int (*lvWriteSampleStreamFunction)(void *handle, lvPluginSaverParams *params); // 0 or an error code
typedef int (*lvFinishSampleStreamFunction)(void *handle);

// A sample's PCM as the audio sub-table hands it out (slot 0) or takes it in (slot 3).
typedef struct lvPluginSampleInfo {
    void *data;         // the PCM: 8-bit unsigned unless flags 2, 16-bit little-endian unless flags 1
    uint32_t bytes;     // data bytes
    uint32_t frames;    // frames
    int32_t channels;   // 1 or 2
    int32_t bits;       // 8 or 16
    int32_t rate;       // Hz
    uint32_t flags;     // LVP_SAMPLE_ bits
} lvPluginSampleInfo;
#define LVP_SAMPLE_BIGENDIAN 1  // 16-bit data big-endian
#define LVP_SAMPLE_SIGNED 2     // 8-bit data signed
#define LVP_SAMPLE_SOFTWARE 0x10 // a software sample: data only, never played

// Sub-table 5: samples and the audio adapter.
typedef struct lvApiAudio {
    // 0: a lock handle, or null when the sample is missing or playing. Read-only: data is the
    // sample's own; else a copy that slot 1 puts in place.
    void *(*LockSample)(lvPluginObjectId id, int readOnly, void *unused, lvPluginSampleInfo *info);
    void (*UnlockSample)(void *lock);                                                  // 1
    // 2: installs an audio adapter while start-up requires plug-ins (flags bit 0: no later
    // adapter may replace it; bit 1: already installed, only apply the tags). Tags: 1 buffer
    // size, 2 channel count. 0, 1055 or 1518.
    int (*InstallAudioAdapter)(lvPluginRecord *record, uint32_t flags, const lvPluginTag *tags);
    // 3: a new sample of the data (copied; flags as in lvPluginSampleInfo). 0 or an error code.
    int (*CreateSample)(lvState *L, lvPluginObjectId id, const lvPluginSampleInfo *info);
    int (*FreeSample)(lvState *L, lvPluginObjectId id);                                // 4
} lvApiAudio;

// Audio adapter exports (PLUGINCAPS_AUDIOADAPTER). The fill callback is called from the
// adapter's own thread; it returns the frames filled, fewer when the sound ended.
// FreeAudioChannel must not return while that channel's fill callback runs, and must not
// call it afterwards: the runtime frees the sample's PCM right after.
typedef int (*lvAudioFillFunction)(void *ignored1, void *ignored2, void *buffer, int frames, void *channel);
typedef void *(*lvOpenAudioFunction)(void *reserved1, void *reserved2);
typedef void (*lvCloseAudioFunction)(void *device);
// (device, engine format code 0..5, rate, volume 0..64, fill callback, 0, channel entry, 0)
typedef void *(*lvAllocAudioChannelFunction)(void *device, int format, int rate, int volume,
                                             lvAudioFillFunction fill, void *reserved1, void *channel,
                                             void *reserved2);
typedef void (*lvFreeAudioChannelFunction)(void *device, void *adapterChannel);
// Tags: 1 pitch (Hz), 2 volume (0..64), 3 panning (0..255, 128 centre); ended by tag 0.
typedef void (*lvSetChannelAttributesFunction)(void *device, void *adapterChannel, const lvPluginTag *tags);
// Capture (extension bit 1, offered when the adapter installs with flag 4): (rate,
// channels 1-2, bits 8 or 16, 0) gives a capture or NULL; GetAudioCapture copies the
// bytes recorded since its last call, at most bytes, and returns their count.
typedef void *(*lvStartAudioCaptureFunction)(int rate, int channels, int bits, void *reserved);
typedef int (*lvGetAudioCaptureFunction)(void *capture, void *buffer, int bytes);
typedef void (*lvStopAudioCaptureFunction)(void *capture);

// The requester adapter's exports (PLUGINCAPS_REQUESTERADAPTER). Each answers 0 or an
// error code; texts it answers are its own and come back through FreeRequest (kind 0
// file, 1 path, 2 string, 3 font). handle: the current display's adapter handle or null.
// Tags: 1 the caller's value on every call; further tags per requester.
typedef struct lvPluginFileFilter {
    struct lvPluginFileFilter *next;
    const char *description, *filter;
    uint32_t flags;  // bit 0: hide the filter's pattern
} lvPluginFileFilter;
typedef int (*lvSystemRequestFunction)(void *handle, const char *title, const char *body, uint32_t flags,
                                       int32_t *choice, const lvPluginTag *tags);
typedef int (*lvFileRequestFunction)(void *handle, const char *title, uint32_t mode, char **answer,
                                     const lvPluginTag *tags);
typedef int (*lvPathRequestFunction)(void *handle, const char *title, int32_t save, char **answer,
                                     const lvPluginTag *tags);
typedef int (*lvStringRequestFunction)(void *handle, const char *title, const char *body, uint32_t flags,
                                       char **answer, const lvPluginTag *tags);
typedef int (*lvListRequestFunction)(void *handle, const char *title, const char *body, const char *items,
                                     uint32_t reserved, int32_t *index, const lvPluginTag *tags);
typedef int (*lvFontRequestFunction)(void *handle, const char *title, uint32_t reserved, char **answer,
                                     uint32_t *flags, const lvPluginTag *tags);
typedef int (*lvColorRequestFunction)(void *handle, const char *title, uint32_t reserved, int32_t *colour,
                                      const lvPluginTag *tags);
typedef void (*lvFreeRequestFunction)(int32_t kind, char *text);

typedef struct lvApiRequesters {
    // 0: a system requester with buttons "A|B|..." on the current display: the choice
    // (custom buttons: first 1 ... last 0; 0 also when it could not be shown).
    int32_t (*SystemRequest)(const char *title, const char *body, const char *buttons);
    // 1: a file to open (pattern: null or "" for all): its full path into buffer; 1 when
    // one was chosen and fits, else 0 and buffer "".
    int32_t (*FileRequest)(const char *title, const char *pattern, char *buffer, size_t size);
    // 2: a folder: its path into buffer; 1 when chosen and it fits.
    int32_t (*PathRequest)(const char *title, char *buffer, size_t size);
    int (*InstallRequesterAdapter)(lvPluginRecord *record, uint32_t word);
    void *empty4;
} lvApiRequesters;

// Sub-table 7: the file of a scalable font by family name, size (unused by scalable files)
// and style bits (1 bold, 2 italic) into path; 1 when found and the path fits, else 0
// and path "". Without the text library nothing is found.
typedef struct lvApiFontLookup {
    int32_t (*FindFontFile)(const char *name, int32_t size, uint32_t style, char *path, size_t pathSize);
} lvApiFontLookup;

// Sub-table 8: FreeType (each slot the FreeType function of its name; cast to its
// signature in <freetype/...>). Without the text library every slot answers 1001.
typedef struct lvApiFontEngine {
    lvApiStdFunction FT_Init_FreeType, FT_Done_FreeType, FT_New_Face, FT_New_Memory_Face, FT_Done_Face,  // 0-4
        FT_Select_Charmap, FT_Set_Charmap, FT_Get_Char_Index, FT_Load_Glyph, FT_Load_Char,            // 5-9
        FT_Render_Glyph, FT_Outline_Get_CBox, FT_Outline_Decompose, FT_Get_Kerning, FT_Get_Glyph_Name, // 10-14
        FT_Get_First_Char, FT_Get_Next_Char, FT_Set_Char_Size, FT_Set_Transform, FT_Set_Pixel_Sizes,   // 15-19
        FT_Get_Sfnt_Table, FT_MulFix, FT_Vector_Transform, FT_DivFix, FT_Outline_Translate,            // 20-24
        FT_Outline_Transform, FT_Outline_Embolden, FT_Outline_Get_Bitmap, FT_Get_Glyph, FT_Glyph_Copy, // 25-29
        FT_Glyph_Transform, FT_Glyph_Get_CBox, FT_Glyph_To_Bitmap, FT_Done_Glyph,                      // 30-33
        FT_Get_Postscript_Name, FT_Get_Sfnt_Name_Count, FT_Get_Sfnt_Name, FT_Library_Version;          // 34-37
} lvApiFontEngine;

// Sub-table 9: the script stack interface and command support. Argument checks raise
// script errors (see the banner).
typedef struct lvApiScriptVM {
    int (*GetStackTop)(lvState *L);
    void (*SetStackTop)(lvState *L, int index);
    void (*PushCopy)(lvState *L, int index);
    void (*RemoveValue)(lvState *L, int index);
    void (*InsertValue)(lvState *L, int index);
    void (*ReplaceValue)(lvState *L, int index);
    int (*IsNativeFunction)(lvState *L, int index);
    int (*CanConvertToNumber)(lvState *L, int index);
    int (*IsStringOrNumber)(lvState *L, int index);
    int (*IsUserDataOrPointer)(lvState *L, int index);
    int (*GetValueType)(lvState *L, int index);
    int (*ValuesEqual)(lvState *L, int i, int j);
    int (*ValuesIdentical)(lvState *L, int i, int j);
    int (*ValueLessThan)(lvState *L, int i, int j, int collate);
    double (*ValueToNumber)(lvState *L, int index);
    const char *(*ValueToString)(lvState *L, int index);
    size_t (*ValueStringLength)(lvState *L, int index);
    lvPluginCommandFunction (*ValueToNativeFunction)(lvState *L, int index);
    void *(*GetUserDataPointer)(lvState *L, int index);
    const void *(*GetValueAddress)(lvState *L, int index);
    void (*PushNil)(lvState *L);
    void (*PushNumber)(lvState *L, double n);
    void (*PushSizedString)(lvState *L, const char *s, size_t length);
    void (*PushString)(lvState *L, const char *s);
    void (*PushPointer)(lvState *L, void *p);
    void (*PushNativeClosure)(lvState *L, lvPluginCommandFunction f, int n);
    void (*GetTableValue)(lvState *L, int index);
    void (*GetTableValueRaw)(lvState *L, int index);
    void (*GetTableItemRaw)(lvState *L, int index, int n);
    void (*PushNewTable)(lvState *L);
    void (*PushEnvironment)(lvState *L, int index);
    void (*SetTableValue)(lvState *L, int index);
    void (*SetTableValueRaw)(lvState *L, int index);
    void (*SetTableItemRaw)(lvState *L, int index, int n);
    int (*SetEnvironment)(lvState *L, int index);
    int (*ProtectedCall)(lvState *L, int nargs, int nresults, int errfunc);
    int (*NextTableEntry)(lvState *L, int index);
    void (*ConcatValues)(lvState *L, int n);
    int (*PushClosureUpvalues)(lvState *L);
    const char *(*PushUpvalue)(lvState *L, int funcindex, int n);
    const char *(*StoreUpvalue)(lvState *L, int funcindex, int n);
    void *(*PushNewUserData)(lvState *L, size_t size);
    int (*AssignMetatable)(lvState *L, int index);
    int (*PushMetatable)(lvState *L, int index);
    void (*RaiseError)(lvState *L, int code);
    const char *(*CheckStringArg)(lvState *L, int i, size_t *length);
    const char *(*GetOptionalStringArg)(lvState *L, int i, const char *def, size_t *length);
    double (*CheckNumberArg)(lvState *L, int i);
    double (*GetOptionalNumberArg)(lvState *L, int i, double def);
    uint32_t (*CheckUnsignedArg)(lvState *L, int i);
    uint32_t (*GetOptionalUnsignedArg)(lvState *L, int i, uint32_t def);
    void (*CheckTableArg)(lvState *L, int i);
    void (*CheckFunctionArg)(lvState *L, int i);
    void (*CheckArgType)(lvState *L, int i, int tag);
    int (*CreateReference)(lvState *L, int index);
    void (*ReleaseReference)(lvState *L, int index, int ref);
    // 56: the identifier pair of an object argument, returned through a record (a 64-bit
    // handle does not fit beside a number in one 64-bit word). 0 or an error code.
    int (*GetObjectIdArg)(lvState *L, int i, lvPluginObjectId *out);
    int (*NewNamedMetatable)(lvState *L, const char *name);
    void (*PushNamedMetatable)(lvState *L, const char *name);
    void *(*GetTypedUserData)(lvState *L, int index, const char *name);
    void (*InitStringBuffer)(lvState *L, lvPluginStringBuffer *b);                      // 60
    char *(*GetBufferSpace)(lvPluginStringBuffer *b);                                   // 61: room for 1024 bytes
    void (*AppendBufferBytes)(lvPluginStringBuffer *b, const char *s, size_t n);        // 62
    void (*AppendBufferString)(lvPluginStringBuffer *b, const char *s);                 // 63
    void (*AppendBufferValue)(lvPluginStringBuffer *b);                                 // 64: pops the top value
    void (*FinishStringBuffer)(lvPluginStringBuffer *b);                                // 65: pushes the text
    int (*FindStringIndex)(const char *text, const char *const *list);
    int (*EnsureStackSpace)(lvState *L, int n);
    // 68: argument i as a file name, a linked file's name turned into its virtual name;
    // fontMode looks for linked fonts (*linkedOut 1 when one was found).
    const char *(*GetLinkedFileArg)(lvState *L, int i, int fontMode, int *linkedOut);
    int (*GetIntArgOrNil)(lvState *L, int i, int *out);                                  // 69: 1 when a number
    void (*PushBoolean)(lvState *L, int b);
    int (*ValueToBoolean)(lvState *L, int index);
    void (*PushNewSizedTable)(lvState *L, int narray, int lognodes);
    const char *(*GetTypeName)(lvState *L, int tag);
    int (*CallFunction)(lvState *L, int nargs, int nresults);
    int (*GetCollectThreshold)(lvState *L);
    int (*GetMemoryInUse)(lvState *L);
    void (*SetCollectThreshold)(lvState *L, int kb);
    int (*ParseConstantRef)(lvState *L, const char *name, const char **stringOut, double *numberOut);
    void *(*CheckUserDataArg)(lvState *L, int i);
    int (*CallMetaMethod)(lvState *L, int index, const char *field);
} lvApiScriptVM;

// Sub-table 10: the built-in TrueType faces (null without the text library).
typedef struct lvApiFontData {
    const void *sans, *mono, *serif;       // Bitstream Vera Sans, Sans Mono and Serif
    size_t sansSize, monoSize, serifSize;  // their sizes
} lvApiFontData;

// Sub-table 11: zlib (each slot the zlib function of its name; cast to zlib's signature).
typedef struct lvApiZlib {
    lvApiStdFunction inflateInit_, inflate, inflateEnd, deflateInit_, deflate, deflateEnd, deflateReset,
        deflateParams, inflateReset, inflateSync, inflateInit2_, deflateInit2_, crc32, compress, uncompress;
} lvApiZlib;

// Sub-table 12: the JPEG library (each slot the function of its name; cast to its
// signature in <jpeglib.h>, whose structure sizes the create calls check). Without the
// picture formats every slot answers 1001.
typedef struct lvApiJpeg {
    lvApiStdFunction jpeg_CreateDecompress, jpeg_finish_decompress, jpeg_destroy_decompress, jpeg_std_error, // 0-3
        jpeg_read_header, jpeg_read_scanlines, jpeg_start_decompress, jpeg_resync_to_restart,               // 4-7
        jpeg_CreateCompress, jpeg_finish_compress, jpeg_destroy_compress, jpeg_start_compress,              // 8-11
        jpeg_set_defaults, jpeg_write_scanlines, jpeg_set_quality, jpeg_mem_dest, jpeg_mem_src,             // 12-16
        jpeg_destroy, jpeg_abort, jpeg_suppress_tables, jpeg_write_raw_data, jpeg_write_tables,             // 17-21
        jpeg_read_raw_data, jpeg_save_markers, jpeg_set_colorspace;                                         // 22-24
    void *empty25;
} lvApiJpeg;

// One entry of GetPluginList.
typedef struct lvPluginListEntry {
    struct lvPluginListEntry *next; // next entry, null after the last
    lvPluginRecord *record;         // the loaded plug-in's record
} lvPluginListEntry;

// Sub-table 13: loaded plug-ins.
typedef struct lvApiPlugins {
    lvPluginListEntry *(*GetPluginList)(void);   // null when none is loaded; free with slot 1
    void (*FreeMemory)(void *block);
    void (*SetPluginDisabled)(lvPluginRecord *record, int flag);
    void (*SetPluginUserWord)(lvPluginRecord *record, intptr_t word);
    intptr_t (*GetPluginUserWord)(lvPluginRecord *record);
} lvApiPlugins;

// Sub-table 14: checksums and user tags.
typedef struct lvApiChecksums {
    // 0: Base64 text of the bytes into out (outSize bytes, terminated); the text's length,
    // or 0 when it does not fit.
    size_t (*EncodeBase64)(const void *data, size_t length, char *out, size_t outSize);
    // 1: the bytes of Base64 text into out (*outLength: its size in, the bytes out); 1 or 0.
    int (*DecodeBase64)(const char *text, size_t length, uint8_t *out, size_t *outLength);
    int32_t (*Crc32)(const void *data, int length);  // -1 for a length of 0 or less
    void (*Md5Hex)(const void *data, int length, char *out33);  // 3: nothing for length 0
    lvPluginUserTag *(*CopyUserTags)(const lvPluginUserTag *list, int *failed);  // 4
    void (*FreeUserTags)(lvPluginUserTag *list, int systemAllocator);            // 5
    void *empty6;
} lvApiChecksums;

// Sub-table 15: UTF-8 and Unicode character classes.
typedef struct lvApiUnicode {
    int64_t (*CountChars)(const char *text);                            // 0: -1 when not UTF-8
    int (*Compare)(const char *a, const char *b);                       // 1: without regard to case
    int (*CompareN)(const char *a, const char *b, size_t n);            // 2
    uint32_t (*ToLowerUnicode)(uint32_t c);
    uint32_t (*ToUpperUnicode)(uint32_t c);
    int (*IsAlNumUnicode)(uint32_t c), (*IsAlphaUnicode)(uint32_t c), (*IsCntrlUnicode)(uint32_t c),
        (*IsDigitUnicode)(uint32_t c), (*IsGraphUnicode)(uint32_t c), (*IsLowerUnicode)(uint32_t c),
        (*IsPrintUnicode)(uint32_t c), (*IsPunctUnicode)(uint32_t c), (*IsSpaceUnicode)(uint32_t c),
        (*IsXDigitUnicode)(uint32_t c), (*IsUpperUnicode)(uint32_t c);
    int (*ValidateUtf8)(const char *text);                              // 16: the whole text
    size_t (*Utf8ByteOffset)(const char *text, size_t n);               // 17: bytes of the first n characters
    size_t (*Utf8CharCount)(const char *text, size_t bytes);            // 18
    uint32_t (*NextUtf8CodePoint)(const char *text, size_t *position);  // 19
    int (*EncodeUtf8)(char *buffer, uint32_t code);                     // 20: 1, or 0 above 0x10FFFF ("?")
} lvApiUnicode;

// Sub-table 16: the user's language, country and time zone, and catalogs of translated
// strings. Identifiers are the locale library's LANGUAGE_ and COUNTRY_ constants. A catalog
// opened here is the plug-in's to close; CatalogString with a NULL catalog reads the one the
// script opened with OpenCatalog. Texts come in the script's encoding and stay valid while
// their catalog lives; the default text comes back when the catalog lacks the string.
typedef struct lvApiLocale {
    int32_t (*SystemLanguage)(void);                                                    // 0
    int32_t (*SystemCountry)(void);                                                     // 1
    int32_t (*TimeZoneBias)(int32_t *daylight);  // minutes to add to local time for UTC  2
    void *(*OpenCatalog)(const char *name);      // NULL: none for the user's language   3
    void (*CloseCatalog)(void *catalog);                                                // 4
    const char *(*CatalogString)(void *catalog, int32_t index, const char *defaultText); // 5
    void *empty6;
} lvApiLocale;

// Sub-table 17: mathematics (each the C library function of its name) and random numbers.
typedef struct lvApiMath {
    double (*sin_)(double), (*cos_)(double), (*tan_)(double), (*asin_)(double), (*acos_)(double),
        (*atan_)(double);
    double (*atan2_)(double, double);
    double (*ceil_)(double), (*floor_)(double);
    double (*fmod_)(double, double);
    double (*sqrt_)(double);
    double (*pow_)(double, double);
    double (*log10_)(double), (*log_)(double), (*exp_)(double);
    double (*modf_)(double, double *);
    double (*frexp_)(double, int *);
    double (*ldexp_)(double, int);
    double (*hypot_)(double, double);
    int (*IsNaN)(double);
    int (*IsInfiniteNumber)(double);
    int (*IsFinite)(double);
    void (*srand_)(unsigned seed);
    int (*rand_)(void);
    void (*SeedRandom48)(uint32_t seed);
    double (*NextRandomDouble)(void);
} lvApiMath;

// The table handed to InitPlugin.
typedef struct lvPluginApi {
    uint32_t version;                   // 11
    uint32_t revision;                  // 0
    const lvApiStdRuntime *stdRuntime;  // 1
    const lvApiSystem *system;          // 2
    const lvApiFiles *files;            // 3
    const lvApiGraphics *graphics;      // 4
    const lvApiAudio *audio;            // 5
    const lvApiRequesters *requesters;  // 6
    const lvApiFontLookup *fontLookup;  // 7
    const lvApiFontEngine *fontEngine;  // 8
    const lvApiScriptVM *scriptVM;      // 9
    const lvApiFontData *fontData;      // 10
    const lvApiZlib *zlib;              // 11
    const lvApiJpeg *jpeg;              // 12
    const lvApiPlugins *plugins;        // 13
    const lvApiChecksums *checksums;    // 14
    const lvApiUnicode *unicode;        // 15
    const lvApiLocale *locale;          // 16
    const lvApiMath *math;              // 17
} lvPluginApi;

#endif
