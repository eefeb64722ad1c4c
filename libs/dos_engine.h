// dos_engine.h - the file-object records of the dos library: script file handles with
// their text encoding, the file list, and the readers and writers behind the file
// commands (characters, strings, lines, typed numbers in both byte orders).
//
// The engine reads and writes through the virtual file layer only, so a handle may
// stand for a plain file, a byte range of a container or an in-memory file. It knows
// nothing of the script machine: encodings and flags come in as numbers, texts go out
// as std::string, failures as error codes (message arguments set through errors.h).
//
// Depends on: runtime/vfile.h, runtime/objects.h, runtime/encoding.h, runtime/errors.h,
// vm/lvvm.h (only the number-to-integer rule of the writers).
// Script thread only (the file list has no lock).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/objects.h"
#include "runtime/vfile.h"

// ---- Constants ----------------------------------------------------------------------

enum {
    LV_FILE_OBJECT = 44,       // object type of file handles (FILE)
    LV_DIRECTORY_OBJECT = 45,  // object type of directory handles (DIRECTORY)
    LV_MODE_READWRITE = 1004,  // OpenFile modes
    LV_MODE_READ = 1005,
    LV_MODE_WRITE = 1006,
    LV_IO_LITTLEENDIAN = 1,    // flags of the number readers and writers
    LV_IO_SIGNED = 2,
    LV_IO_UNSIGNED = 4,
    LV_IO_FAKE64 = 8,
};

// ---- Records ------------------------------------------------------------------------

// One open script file.
struct lvFileHandle {
    lvObjectHeader header;  // type 44, identifier, handle word, user data, next
    int mode;               // LV_MODE_READ, LV_MODE_WRITE or LV_MODE_READWRITE
    int access;             // 1 read, 2 write, 4 read and write
    int encoding;           // -1 the default text encoding, 0 ISO-8859-1, 1 UTF-8
    lvVFile *stream;        // the open stream (owned)
    int pendingByte;        // a byte given back that the stream could not take back, or -1
};

// Library-wide settings of the file commands.
struct lvDosFileState {
    lvObjectHeader *files;  // open handles in creation order (the registry's list)
    int ioMode;             // 0 buffered, 1 unbuffered
    int carriageReturn;     // WriteLine ends lines with CR LF (else LF)
};

lvDosFileState *GetDosFileState();

// ---- Handles ------------------------------------------------------------------------

// Opens a stream and makes a handle for it. A numbered handle replaces one of the
// same number (closed first). writeBom writes EF BB BF for MODE_WRITE handles of
// encoding -1 or 1. 0 with *out, or ERR_WRONGUSAGE, ERR_READFILE / ERR_WRITEFILE
// (name as the message argument), ERR_WRITE, ERR_MEM.
int OpenFileHandle(int number, bool nilId, const char *name, int mode, int encoding, bool writeBom,
                   const char *adapterList, const void *userTags, const lvRefOps *ops, lvFileHandle **out);
// The handle with this identifier: 0, ERR_FINDFILE (number as the argument) or
// ERR_FINDARRAY for an unknown handle value.
int FindFileHandle(lvObjectId id, lvFileHandle **out);
// Unlinks, closes the stream, frees the user data and the record.
void CloseFileHandle(lvFileHandle *handle, const lvRefOps *ops);
// Closes every handle (library close).
void FreeFileHandles(const lvRefOps *ops);

// ---- Position -----------------------------------------------------------------------

// Seek: origin 1 from the beginning, 0 from the current position, 2 from the end (other
// origins ERR_WRONGUSAGE); position -1 from the beginning means the end. A byte given
// back counts as unread. 0 or ERR_SEEKFILE.
int SeekFileHandle(lvFileHandle *handle, int64_t position, int origin);
// Eof: nothing is left to read (no byte given back, the stream at its end).
bool IsFileHandleAtEnd(const lvFileHandle *handle);

// ---- Reading ------------------------------------------------------------------------
// Every reader refuses MODE_WRITE handles (ERR_WRITEONLY); a short read is ERR_READ.

// Exactly count raw bytes.
int ReadHandleBytes(lvFileHandle *handle, void *buffer, size_t count);

// One character: a UTF-8 character (byte-order marks skipped) when requested is
// neither 0 nor -1 and the handle is not ISO-8859-1, else one byte.
int ReadHandleChar(lvFileHandle *handle, int requested, uint32_t *code);
// ReadString: length 0 reads to the end; characters for UTF-8, bytes otherwise;
// converted between the handle's and the requested encoding. raw (ReadBytes) moves
// bytes as they are whatever the handle's encoding.
int ReadHandleString(lvFileHandle *handle, int64_t length, int requested, int defaultEncoding, bool raw,
                     std::string *out);
// One line ended by LF, CR LF or a lone CR; keepEnd keeps the line end. A leading
// byte-order mark is dropped in UTF-8 mode; the text is converted to defaultEncoding.
int ReadHandleLine(lvFileHandle *handle, bool keepEnd, int defaultEncoding, std::string *out);
// FileLines' step: the next line of a stream in pieces of at most 1024 bytes, LF ending a
// line and CR dropped. False at the end of the stream (nothing read).
bool ReadLinePiece(lvVFile *stream, std::string *line);
// size 1, 2, 4 or 8 bytes in the flags' byte order, as an unsigned pattern.
int ReadHandleNumber(lvFileHandle *handle, int size, int flags, uint64_t *out);

// ReadByte (size 1), ReadShort (2), ReadInt (4): unsigned by default except size 4
// (IO_SIGNED / IO_UNSIGNED turn it round); IO_FAKE64 makes size 4 read 8 bytes signed
// (with IO_UNSIGNED: ERR_WRONGUSAGE).
int ReadHandleInteger(lvFileHandle *handle, int size, int flags, double *out);
// ReadFloat: an IEEE single (size 4) or double (size 8; other sizes ERR_WRONGUSAGE).
int ReadHandleFloat(lvFileHandle *handle, int size, int flags, double *out);

// ---- Writing ------------------------------------------------------------------------
// Every writer refuses MODE_READ handles (ERR_READONLY); a short write is ERR_WRITE.

int WriteHandleBytes(lvFileHandle *handle, const void *bytes, size_t count);
// WriteChr: UTF-8 (above U+10FFFF a '?', code 0 ERR_WRONGUSAGE) or the low byte.
int WriteHandleChar(lvFileHandle *handle, uint32_t code, int requested);
// WriteString: text in the source encoding (UTF-8 must be valid: ERR_INVALIDUTF8ARG),
// length 0 all of it, else that many characters / bytes (more than the text:
// ERR_STRTOOSHORT); converted to the handle's encoding. raw: WriteBytes.
int WriteHandleString(lvFileHandle *handle, const char *text, size_t size, int64_t length, int source, bool raw);
// WriteLine: the text (default encoding, converted to the handle's), then CR LF or LF.
// The line end's writes are checked like the text's.
int WriteHandleLine(lvFileHandle *handle, const char *text, size_t size, int defaultEncoding);
int WriteHandleNumber(lvFileHandle *handle, int size, int flags, uint64_t value);

// WriteByte, WriteShort, WriteInt: the value truncated to size bytes. IO_FAKE64 makes size 4
// write 8 bytes (with IO_UNSIGNED: ERR_WRONGUSAGE); an IO_UNSIGNED 4-byte value outside
// 0..4294967295 is ERR_OUTOFRANGE (never wrapped round to another number).
int WriteHandleInteger(lvFileHandle *handle, int size, int flags, double value);
// WriteFloat: an IEEE single (size 4) or double (size 8; other sizes ERR_WRONGUSAGE).
int WriteHandleFloat(lvFileHandle *handle, int size, int flags, double value);

// ---- Text conversion ----------------------------------------------------------------

// Converts between ISO-8859-1 (0) and UTF-8 (1); other pairs leave the text as it is.
// 0, or ERR_TEXTCONVERT2.
int ConvertHandleText(std::string *text, int from, int to);

// ---- Directory trees linked into an applet ------------------------------------------------

// One node of an applet's entry tree.
struct lvLinkedDirEntry {
    lvLinkedDirEntry *next;      // next sibling
    lvLinkedDirEntry *children;  // first child (directories), or null
    char *name;                  // the entry's name (stored behind the record)
    int isDirectory;             // non-zero for a directory
    uint32_t offset;             // files: offset of the data inside the applet
    uint32_t size;               // files: size of the data
};

// Reads one tree in the applet's entry encoding (big-endian): a kind byte (0 ends a
// level, 1 a file, other values a directory), a 16-bit name length, the name, then for
// a file a 32-bit offset and size, for a directory its own entries. 0 with *out (null
// for an empty tree) and *used (bytes read); ERR_MEM when the data ends before the
// closing kind byte or memory runs out (nothing is left allocated).
int LoadLinkedDirTree(const uint8_t *data, size_t size, size_t *used, lvLinkedDirEntry **out);
void FreeLinkedDirTree(lvLinkedDirEntry *tree);
// The entry whose relative path ('/' or '\' between levels) equals path without regard
// to case, searched depth-first; null when none.
lvLinkedDirEntry *FindLinkedDirEntry(lvLinkedDirEntry *tree, const char *path);
// The applet file that linked entries' offsets point into, and the applet's offset
// inside it (start-up sets it; virtual names of linked files are built from it).
void SetLinkedAppletFile(const char *path, int64_t baseOffset);
// The ":::chunk" range name of a linked file's data, with the entry's name as its file
// part. 0, or ERR_MEM when it does not fit or no applet file is set.
int MakeLinkedFileName(const lvLinkedDirEntry *entry, char *buffer, size_t size);
