// serialize_engine.h - script tables and functions as bytes: the binary table image
// "LVT0", its Base64 text "LVT1", the function images "LVF0" and "LVF1", the shared
// Base64 coder, and the serializer protocol through which a table is handed entry by
// entry to a serializer (the built-in JSON one of json_engine.h, or a plug-in).
//
// Depends on: vm/lvvm.h (tables and functions on the machine's stack, the dumper and
// loader), runtime/vfile.h (files), runtime/encoding.h. Every operation returns 0 or
// an ERR_ code; on failure the stack is cut back to where it was.
// Limits: nesting is bounded by the machine's native frame (ERR_STACK); memory images
// are sized by a counting pass. Lengths in the images are 32-bit, big-endian.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/vfile.h"
#include "vm/lvvm.h"

// ============================================================================
// Library settings and constants
// ============================================================================

enum {
    SERIALIZEMODE_LUMIVARRA = 0,  // lists as arrays, other tables as objects, markers kept
    SERIALIZEMODE_NAMED = 1,      // plain objects and pure lists only
    SERIALIZEMODE_LIST = 2,       // every table a list; objects as {key, value} records
};

// Run-wide settings of the serialize library (script thread only).
struct lvSerializeSettings {
    int mode;         // last SetSerializeMode value (not range-checked)
    int modeSet;      // SetSerializeMode was called: the mode is handed to serializers
    int noLowerCase;  // "nolowercase" of SetSerializeOptions, 0 or 1
};
lvSerializeSettings *GetSerializeSettings();
// Back to all zeros (library open, tests).
void ResetSerializeSettings();

// ============================================================================
// Base64 (RFC 4648 alphabet, "=" padding)
// ============================================================================

// Characters EncodeBase64 gives for length bytes (no line breaks).
size_t Base64EncodedSize(size_t length);
// Writes the Base64 text of bytes into out (Base64EncodedSize bytes, no terminator).
// Answers the characters written.
size_t EncodeBase64(const void *bytes, size_t length, char *out);
// Appends the Base64 text to a std::string.
void AppendBase64(std::string &out, const void *bytes, size_t length);

// Line state of Base64 text written into a file.
struct lvBase64Lines {
    int lineCount;    // characters on the current line
    int64_t total;    // characters written, line breaks included
    int noLineBreak;  // one long line
    int crlf;         // a line break is CR LF (else LF)
};
// Writes the Base64 text into file, breaking lines after every 72 characters (never
// after the last one). 0 or ERR_WRITE.
int WriteBase64ToFile(lvVFile *file, const void *bytes, size_t length, lvBase64Lines *lines);

// Decodes Base64 text: bytes of value 32 or less are skipped; "=" counts as 0; a
// group ending in padding ends the decoding (what follows is ignored). out holds at
// least length * 3 / 4 + 3 bytes; *outLength receives the bytes written (also those of
// the complete groups before a fault). 0 or ERR_BADBASE64.
int DecodeBase64(const char *text, size_t length, uint8_t *out, size_t *outLength);

// True when the bytes cannot stand as text in the encoding: a NUL byte; for
// ISO-8859-1 (0) a byte below 32 other than TAB, LF, CR; for UTF-8 (1) invalid UTF-8.
bool IsBinaryString(const char *bytes, size_t length, int encoding);

// ============================================================================
// Serializer protocol
// ============================================================================

enum {
    SERIALIZEITEM_NUMBER = 0,    // data: an 8-byte double; length 8
    SERIALIZEITEM_STRING = 1,    // data: the bytes; length: their count
    SERIALIZEITEM_TABLE = 2,     // data null; length 1 starts a table, 0 ends it
    SERIALIZEITEM_FUNCTION = 3,  // data: a compiled chunk; length: its size
};

// Flags of a key item (describe the table holding the entry).
enum {
    SERIALIZEFLAG_NOTLIST = 1,        // consecutive t[0], t[1], ... are not all entries
    SERIALIZEFLAG_BINARY = 2,         // holds a binary string value or a function value
    SERIALIZEFLAG_NUMBERKEYS = 4,     // has a number key
    SERIALIZEFLAG_STRINGKEYS = 8,     // has a string key
    SERIALIZEFLAG_KEYVALUE = 16,      // value item: the table is a {key, value} record
};

// One key or value crossing the protocol.
struct lvSerializeItem {
    uint32_t type;     // SERIALIZEITEM_
    const void *data;  // see the types
    uint32_t length;   // see the types
    uint32_t flags;    // SERIALIZEFLAG_
};

// Tags of the list handed to InitSerializer ({tag, value} pairs ended by tag 0).
enum {
    SERIALIZETAG_SRCENCODING = 1,  // 0 ISO-8859-1, 1 UTF-8
    SERIALIZETAG_DSTENCODING = 2,  // as tag 1
    SERIALIZETAG_USERTAGS = 3,     // the script's user-tag list
    SERIALIZETAG_MODE = 4,         // SERIALIZEMODE_, only when set
    SERIALIZETAG_NOLOWERCASE = 5,  // 0 or 1
};

// Moves count bytes; answers the bytes moved (0: failure or end of input).
typedef int (*lvSerialIOFunction)(void *buffer, int count, void *user);

// A serializer: the built-in JSON one, or one a plug-in registers.
struct lvSerializer {
    lvSerializer *next;  // next registered serializer
    const char *name;    // matched without regard to case; null for the built-in one
    int disabled;        // a disabled plug-in is never found
    void *(*InitSerializer)(lvSerialIOFunction read, lvSerialIOFunction write, void *user,
                            const lvAdapterTag *tags);
    int (*FreeSerializer)(void *handle);
    int (*SerializeItem)(void *handle, lvSerializeItem *key, lvSerializeItem *value, void *reserved);
    int (*DeserializeItem)(void *handle, lvSerializeItem *key, lvSerializeItem *value, int *done,
                           void *reserved);
};

// Plug-in hook: serializers named by the plug-in manager join the list searched by
// FindSerializer after "default". Unregister before the record goes away.
void RegisterSerializer(lvSerializer *serializer);
void UnregisterSerializer(lvSerializer *serializer);
// "default" is the built-in JSON serializer; otherwise the first enabled registered
// one of that name (without regard to case); null when none.
lvSerializer *FindSerializer(const char *name);
// True for a null or empty name and for "inbuilt" (without regard to case).
bool IsInbuiltSerializer(const char *name);

// Growing memory for serializer output, or the string a reader reads.
struct lvSerialBuffer {
    uint8_t *data;    // the bytes (from AllocMemory when written)
    size_t position;  // read position
    size_t length;    // bytes held
    size_t capacity;  // bytes allocated
};
int WriteSerialMemory(void *buffer, int count, void *serialBuffer);
int ReadSerialMemory(void *buffer, int count, void *serialBuffer);
int WriteSerialFile(void *buffer, int count, void *file);
int ReadSerialFile(void *buffer, int count, void *file);

// ============================================================================
// Table bodies
// ============================================================================

// Where "LVT0" entries go: exactly one of a file, a memory cursor or a counter.
struct lvTableSink {
    lvVFile *file;      // file output, or null
    uint8_t *cursor;    // memory output (advanced), or null
    uint8_t *end;       // end of the memory output
    uint64_t *counter;  // counting pass: increased by the bytes that would be written
};
// Where "LVT0" entries come from: a file, or memory bounded by end.
struct lvTableSource {
    lvVFile *file;           // file input, or null
    const uint8_t *cursor;   // memory input (advanced)
    const uint8_t *end;      // end of the memory input
};

// Writes the table at index: with a serializer, its entries as items to handle;
// without, "LVT0" entries and the closing 0 byte to the sink.
int WriteTableBody(lvState *L, int index, const lvSerializer *serializer, void *handle, lvTableSink *sink);
// Reads a table body and leaves the table on the stack (a new one, or with intoTop the
// table already on the top, filled).
int ReadTableBody(lvState *L, const lvSerializer *serializer, void *handle, lvTableSource *source, int intoTop);

// The choices of one serialisation through a serializer.
struct lvSerializeOptions {
    int srcEncoding;          // -1, 0 or 1 (-1: the default text encoding)
    int dstEncoding;          // as srcEncoding
    const char *name;         // serializer name; null or empty: "default"
    int mode;                 // SERIALIZEMODE_
    int modeSet;              // the mode is handed to the serializer
    int noLowerCase;          // member names keep their case
    const void *userTags;     // the script's user tags, or null
};
// Fills options from the library settings, encodings -1, no name.
void InitSerializeOptions(lvSerializeOptions *options);
// 0, or ERR_BADENCODING unless both encodings are -1, 0 or 1.
int CheckSerializeEncodings(const lvSerializeOptions *options);
// Through the named serializer, to file or (when file is null) to buffer. ERR_FINDPLUGIN
// (the name as the message argument), ERR_SERIALIZE, or a table error.
int SerializeWithAdapter(lvState *L, int index, const lvSerializeOptions *options, lvVFile *file,
                         lvSerialBuffer *buffer);
// From file or buffer; leaves the table on the stack (intoTop: fills the top table).
int DeserializeWithAdapter(lvState *L, const lvSerializeOptions *options, lvVFile *file,
                           lvSerialBuffer *buffer, int intoTop);

// ============================================================================
// Whole images
// ============================================================================

// "LVT0" and the body, or with textmode "LVT1", the 8-digit count and Base64 text.
int WriteTableImage(lvState *L, int index, lvVFile *file, int textmode, int noLineBreak, int crlf);
// Reads "LVT0" or "LVT1" at the file position; pushes the table. ERR_READTABLE for
// other bytes.
int ReadTableImage(lvState *L, lvVFile *file);
// The "LVT0" image of the table at index, as a string pushed on the stack.
int PushTableImageString(lvState *L, int index);
// Reads an "LVT0" image held in memory; pushes the table.
int ReadTableImageMemory(lvState *L, const void *bytes, size_t length);
// "LVF0" or, with textmode, "LVF1" for the script function at index.
int WriteFunctionImage(lvState *L, int index, lvVFile *file, int textmode, int noLineBreak, int crlf);
// Reads "LVF0" or "LVF1"; pushes the function. ERR_READFUNC for other bytes.
int ReadFunctionImage(lvState *L, lvVFile *file);
