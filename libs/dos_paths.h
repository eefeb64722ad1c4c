// dos_paths.h - path texts, object attributes, whole files and checksums of the dos
// library.
//
// Paths are read with '/' and '\' both as separators; results use '/'. Files are read
// and written through the virtual file layer, so the names may be ":::chunk" names,
// in-memory files or names an adapter opens. Nothing here knows the script machine:
// failures are error codes, their message arguments set through errors.h.
//
// Depends on: runtime/vfile.h, runtime/vdir.h, platform/lvplatform.h; user tags
// (runtime/lists.h) by pointer. Script thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/lvplatform.h"

struct lvUserTag;  // runtime/lists.h

// ---- Path texts -------------------------------------------------------------------------

// The bytes of path up to and with its last '/', '\' or ':' (leading separators do not
// count as one): PathPart's result is path's first PathPartLength bytes.
size_t PathPartLength(const std::string &path);
// dir and name joined with '/' unless dir is empty or already ends in a separator.
std::string JoinDirAndName(const std::string &dir, const std::string &name);
// '\' turned into '/'.
std::string HostSeparators(std::string path);
// Whether the path is absolute: it starts with '/', '\' or '~', or names a volume (':').
bool IsAbsolutePathText(const std::string &path);
// The full path of an object that can be locked, or "" when it cannot.
std::string LockedFullPath(const std::string &path);
// The canonical full path: an existing object's own; otherwise the longest existing
// parent's full path with the rest of the path behind it, or the path made relative to
// the current directory when no part of it exists. 0, ERR_LOCK (no current directory)
// or ERR_MEM (longer than a path).
int CanonizePath(const std::string &path, std::string *out);

// ---- Attributes ------------------------------------------------------------------------

// "DD-Mon-YYYY hh:mm:ss" of one time stamp (0 creation, 1 access, 2 change).
void FormatFileDate(const lvFileInfo *info, int index, char *out, size_t size);
// Examines a directory or file (adapters asked with adapter, null for the default list).
// 0 with *info and the object's full path in *fullPath (path itself when it has none),
// or ERR_READFILE / ERR_EXAMINE with path as the argument.
int ExamineObject(const char *path, const char *adapter, lvFileInfo *info, std::string *fullPath,
                  const void *userTags = nullptr);
// What SetFileAttributes changes: the flags when haveFlags, each date whose text is not
// null (index 0 creation, 1 last access, 2 last change; the date-string form).
struct lvAttributeChange {
    bool haveFlags;
    uint32_t flags;
    const char *dates[3];
};
// Checks every date before anything changes. 0, ERR_WRONGUSAGE (a ":::chunk" name),
// ERR_LOCK2 (no such object), ERR_INVALIDDATE, ERR_SETFILEATTR or ERR_SETFILEDATE. A
// filesystem adapter in the list sets flags and dates in one call (its failure is
// ERR_SETFILEATTR).
// Whether the object can be locked (adapters of the list allowed).
bool ObjectLocks(const char *path, const char *adapter, const void *userTags);
int ChangeObjectAttributes(const char *path, const lvAttributeChange *change, const char *adapter = nullptr,
                           const void *userTags = nullptr);

// ---- Whole files -------------------------------------------------------------------------

// The whole file. 0, or ERR_READFILE (name as the argument).
int ReadWholeFile(const char *name, const char *adapter, const lvUserTag *tags, std::string *out);
// Writes (replaces) the file with size bytes. 0, ERR_WRITEFILE (name as the argument) or
// ERR_WRITE (the data or the buffered rest at the close could not be written).
int WriteWholeFile(const char *name, const char *adapter, const lvUserTag *tags, const void *data, size_t size);
// Creates the file path, which must not exist yet. 0 with its full path, or
// ERR_WRITEFILE (path as the argument).
int CreateNewFile(const char *path, std::string *fullPath, const char *adapter = nullptr, const void *userTags = nullptr);
// Creates the directory path (through the list's filesystem adapter when it has one).
// 0 with its full path, or the platform's error code / ERR_CREATEDIR (path as the argument).
int CreateNamedDirectory(const char *path, std::string *fullPath, const char *adapter = nullptr,
                         const void *userTags = nullptr);

// ---- Checksums -------------------------------------------------------------------------------

enum lvChecksumKind { LV_SUM_CRC32, LV_SUM_MD5, LV_SUM_SHA1 };
// The file's checksum: CRC-32 in *crc, MD5 or SHA-1 as lower-case hex in hex (41 bytes).
// 0, or ERR_READFILE (name as the argument).
int ChecksumFile(const char *name, lvChecksumKind kind, uint32_t *crc, char hex[41]);
