// lvplatform_files.h - paths, files and directories of the platform layer.
// Included by lvplatform.h; not included directly by other subsystems.
//
// Script paths accept '/' and '\' as separators and may start with "~" (the
// home folder); the layer hands the system '/' paths. Where a name does not
// exist with its exact spelling, each component is matched without regard to
// (ASCII) case, so applets made on case-insensitive systems find their files;
// an exact match always wins. Path buffers are LV_PATH_SIZE bytes: a path that
// does not fit is an error, never truncated into another name.
// Linux implementation: platform/linux/files_*.cpp.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// ---- Limits and flags --------------------------------------------------------
#define LV_PATH_SIZE 1024

// Open flags of OpenOsFile.
enum {
    LVOS_OPEN_READ = 1,     // read
    LVOS_OPEN_WRITE = 2,    // write: create or truncate
    LVOS_OPEN_CREATE = 4,   // update: read and write, created when missing
    LVOS_OPEN_UTF8 = 0x20,  // the name is UTF-8 whatever the script encoding
};

// Flags of LockFSObject.
enum {
    LVOS_LOCK_READ = 1,      // read lock (the only kind granted)
    LVOS_LOCK_WRITE = 2,     // write lock: refused
    LVOS_LOCK_FINAL = 0x10,  // resolve the final path (links followed)
    LVOS_LOCK_NODIRS = 0x40, // refuse directories
    LVOS_LOCK_NOFILES = 0x80,// refuse files
};

// Attribute bits reported in lvFileInfo and taken by SetFSObjectFlags.
enum {
    LV_FILEATTR_READ_USR = 1,
    LV_FILEATTR_WRITE_USR = 2,
    LV_FILEATTR_DELETE_USR = 4,
    LV_FILEATTR_EXECUTE_USR = 8,
    LV_FILEATTR_ARCHIVE = 0x20,
    LV_FILEATTR_HIDDEN = 0x80,
    LV_FILEATTR_SYSTEM = 0x100,
    LV_FILEATTR_READONLY = 0x8000,
    LV_FILEATTR_NORMAL = 0x10000,
};

// ---- Records -------------------------------------------------------------------

// A file time stamp: UTC seconds and nanoseconds since 1970.
struct lvFileTime {
    int64_t seconds;     // seconds since 1 January 1970 UTC
    int32_t nanoseconds; // 0..999999999
};

// A calendar date as the file records carry it (local time).
struct lvFileDate {
    int32_t second; // 0..59
    int32_t minute; // 0..59
    int32_t hour;   // 0..23
    int32_t day;    // 1..31
    int32_t month;  // 0..11
    int32_t year;   // full year, e.g. 2002
};

// File information of one object, filled by the platform, the file layer and adapters.
struct lvFileInfo {
    int isDirectory;          // non-zero for a directory
    int64_t size;             // size in bytes (0 for directories)
    uint32_t attributes;      // LV_FILEATTR_ bits
    char comment[256];        // free comment (adapters); empty here
    lvFileTime creationTime;  // creation (birth time where the system knows it)
    lvFileTime accessTime;    // last access
    lvFileTime writeTime;     // last write
    uint32_t adapterWordA;    // copied from an adapter's stat block
    uint32_t adapterWordB;    // copied from an adapter's stat block
    const char *fullPath;     // full path of the object, or nullptr
};

// An open file: a plain file, a standard stream or a byte window of a container.
struct lvOsFile {
    FILE *stream;            // buffered stream; nullptr for a window without container
    int windowFlag;          // non-zero when the file is a byte window of another file
    int64_t windowOffset;    // offset of the window in its container
    int64_t size;            // window size, or the file's size (grown by writes)
    int64_t position;        // relative to the window start (or the file start)
    int lastOperation;       // 0 none, 1 read, 2 write: a switch seeks by 0 first
    int openFlags;           // LVOS_OPEN_ bits as given
    int standardFlag;        // a standard stream, never closed
    char name[LV_PATH_SIZE]; // full path, or the name as given for virtual and standard names
};

// A lock on a file or directory (opaque outside the platform layer).
struct lvOsLock;

// ---- Virtual names ----------------------------------------------------------------

// The parts of a ":::chunk" name: ":::chunk%u:%u" (byte range of a container file),
// ":::chunkS%d:%u" (registered memory file), ":::chunkM0x%llx:%u" (memory range),
// each followed by "*" file name "?" container.
struct lvChunkNameParts {
    int form;               // 'R' range, 'S' registered memory file, 'M' memory range
    uint64_t first;         // offset (R, 32-bit), reference (S, signed 32-bit) or address (M)
    uint32_t size;          // second number
    const char *fileName;   // text between "*" and "?" (not terminated), or ""
    size_t fileNameLength;  // its length
    const char *container;  // text after "?" to the end, or ""
};

// Splits a ":::chunk" name into its parts; 1, or 0 when the name is malformed.
int SplitChunkName(const char *name, lvChunkNameParts *parts);

// ---- Paths ---------------------------------------------------------------------

// Turns a script path into a system path: "\" becomes "/", a leading "~" the home
// folder, script text system text (UTF-8) when convert is set (see SetScriptEncoding),
// and missing components are matched without regard to case. ":::chunk" names are
// copied unchanged.
// Returns 1, or 0 when the result does not fit (the buffer then holds "").
int ToSystemPath(const char *path, char *buffer, size_t size, int convert);
// Switches the case matching of missing components on or off for the calling thread;
// returns the previous state. A caller that knows its paths are exact (names it listed
// or made itself) turns it off, as each missing name costs a scan of its directory.
int SetPathCaseMatching(int on);

// Absolute, normalised ("." and ".." folded) form of a script path; 1 or 0 when it
// does not fit. Symbolic links are not resolved.
int GetFullPath(const char *path, char *buffer, size_t size);
// The same for a path already in system form (ToSystemPath's result).
int GetFullSystemPath(const char *systemPath, char *buffer, size_t size);

// The user's home folder ($HOME, else the password database), cached.
const char *GetHomeFolder();

// Changes the current directory; the previous one is copied out when asked.
// Returns 0, ERR_TEXTCONVERT or ERR_CHANGEDIR.
int ChangeCurrentDir(const char *path, char *previous, size_t previousSize);

// One level. Returns 0, ERR_TEXTCONVERT or ERR_CREATEDIR.
int CreateFSDirectory(const char *path);
// Deletes a file or an empty directory; non-zero on success.
int DeleteFSObject(const char *path);
// Renames (moves on one volume); non-zero on success.
int RenameFSObject(const char *oldPath, const char *newPath);
// LV_FILEATTR_NORMAL makes the object writable; LV_FILEATTR_READONLY removes the
// write permissions; hidden, system and archive have no Linux form and are kept.
int SetFSObjectFlags(const char *path, uint32_t bits);
// Sets the three time stamps of a file or directory; non-zero on success.
int SetFileTimes(const char *path, const lvFileTime *creation, const lvFileTime *access,
                 const lvFileTime *write);

// Local calendar date of one time stamp of an info record (index 0 creation,
// 1 last access, 2 last write); 00:00:00 on 1 January 2000 when it cannot be
// converted (result 0).
int FileTimeToDate(const lvFileInfo *info, lvFileDate *date, int index);
// Stores a local calendar date into one time stamp of an info record; non-zero on success.
int DateToFileTime(const lvFileDate *date, lvFileInfo *info, int index);

// ---- Folders -------------------------------------------------------------------

// 1 system data folder, 2 programs folder, 3 user data ($XDG_DATA_HOME),
// 4 shared data (first of $XDG_DATA_DIRS), 5 documents, 6 home, 7 login name,
// 13 temporary folder, 14 user cache ($XDG_CACHE_HOME). 1 when the id is known
// and the text fits, else 0 with the buffer unchanged.
int GetSystemFolderPath(int id, char *buffer, size_t size);
// "$XDG_CONFIG_HOME/KelmartDunvaley/Lumivarra/Preferences", created on the way.
// 1, or 0 when the path does not fit.
int GetPrefsFolder(char *buffer, size_t size);

// ---- Files ---------------------------------------------------------------------

// Opens a plain file, "::stdin", "::stdout", "::stderr" or a ":::chunk" byte range.
lvOsFile *OpenOsFile(const char *name, int flags);
// Closes the stream (standard streams stay open) and frees the record; non-zero on success.
int CloseOsFile(lvOsFile *file);
// Origin 0 current, 1 start, 2 end. Returns the previous position, or -1 when
// the system refuses the seek.
int64_t SeekOsFile(lvOsFile *file, int64_t offset, int origin);
size_t ReadOsFile(lvOsFile *file, void *buffer, size_t count);
size_t ReadOsFileBlock(lvOsFile *file, void *buffer, size_t count);
// The next byte, or -1 at the end of the window or stream.
int GetCOsFile(lvOsFile *file);
size_t WriteOsFile(lvOsFile *file, const void *data, size_t count);
size_t WriteOsFileBlock(lvOsFile *file, const void *data, size_t count);
// 1 when the byte was written.
int PutCOsFile(lvOsFile *file, int byte);
// Writes out what is buffered; 1, or 0 when the write failed (a full disk).
int FlushOsFile(lvOsFile *file);
int64_t GetOsFileSize(lvOsFile *file);
// Information of the open file (a window reports its own size); 1 or 0.
int StatOpenFile(lvOsFile *file, lvFileInfo *info);

// ---- Locks and directory scans ---------------------------------------------------

// Locks an object for reading; the empty name is the current directory.
lvOsLock *LockFSObject(const char *path, int flags);
void CloseFSObjLock(lvOsLock *lock);
// Information of the locked object; 0.
int ExamineFSObj(lvOsLock *lock, lvFileInfo *info);
// 1 and the next entry (sorted by name, without "." and ".."), or 0 at the end.
// The name stays valid until the next call on the lock.
int ReadNextDirEntry(lvOsLock *lock, int restarted, const char **name, int *isDirectory,
                     lvFileInfo *info);
// Starts the listing again from its first entry; 1 for a directory.
int RestartDirScan(lvOsLock *lock);
// 1 and the locked path, or 0 when it does not fit.
int GetLockPath(lvOsLock *lock, char *buffer, size_t size);
// Non-zero when the lock holds a directory.
int IsLockDirectory(lvOsLock *lock);
