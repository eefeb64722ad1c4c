// dos_dirs.h - the directory records of the dos library: directory handles (a
// directory read through the file layer, an entry tree linked into the applet, or a
// monitor), the trees offered for linked directories, entry counts and listings, and
// what the events of programs and monitors carry.
//
// The engine reads directories through the virtual directory layer only and knows
// nothing of the script machine: identifiers come in as lvObjectId, entries go out as
// records, failures as error codes (message arguments set through errors.h).
//
// Depends on: libs/dos_engine.h (linked trees), libs/dirmonitor_engine.h,
// runtime/vdir.h (scans, by pointer here), runtime/objects.h. Script thread only (the handle list has no lock).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "libs/dos_engine.h"
#include "platform/lvplatform.h"
#include "runtime/objects.h"

struct lvDirMonitor;
struct lvVDir;  // runtime/vdir.h
struct lvDosEventFieldSink;

// One directory handle.
struct lvDirectoryHandle {
    lvObjectHeader header;     // type 45, identifier, handle word, user data, next
    int recursive;             // sub-directories are listed too
    int treeTimes;             // entries carry no dates: the current date, flags 15
    lvVDir *dir;               // the directory stream, or null (tree, empty, monitor)
    lvLinkedDirEntry *tree;    // first entry of the listed level, or null
    lvLinkedDirEntry *cursor;  // next tree entry to report
    int cursorStarted;         // the cursor was set to the first entry
    int sharedTree;            // the tree belongs to another handle
    lvDirectoryHandle *treeOwner;  // the handle that owns a shared tree
    int restarted;             // the scan was (re)started and no entry read yet
    int endFlag;               // NextDirectoryEntry reported the end
    lvDirMonitor *monitor;     // the monitor, or null
    char path[LV_PATH_SIZE];   // the directory's full path
};

// GetAttribute of file handles (type 44) and directory handles (type 45), for the
// object registry (libs/dos_attributes.cpp).
int DosFileAttribute(lvState *L, int attribute, lvObjectId id);
int DosDirectoryAttribute(lvState *L, int attribute, lvObjectId id);

// The open handles in creation order (the object registry's list).
lvObjectHeader **GetDirectoryHandleList();

// ---- Handles ------------------------------------------------------------------------

// The handle with this identifier: 0, ERR_FINDDIR (number as the argument) or
// ERR_FINDARRAY for an unknown handle value.
int FindDirHandle(lvObjectId id, lvDirectoryHandle **out);
// A zeroed handle linked at the end of the list, or null when memory runs out.
lvDirectoryHandle *NewDirectoryHandle(int number, bool nilId);
// Unlinks, stops its monitor, closes its scan, frees its tree (handles listing part of
// that tree then list nothing more), its user data and the record.
void CloseDirectoryHandle(lvDirectoryHandle *d, const lvRefOps *ops);
// Closes every handle and frees the trees offered and not taken (library close).
void FreeDirectoryHandles(const lvRefOps *ops);

// Locks path and starts its scan. 0 with *out, ERR_LOCK2 (path as the argument) or the
// scan's error.
int OpenDirScan(const char *path, const char *adapter, lvVDir **out, int *restarted, const void *userTags = nullptr);

// What OpenDirectory asks for. A numbered handle replaces one of the same number.
struct lvDirOpenRequest {
    int number;                  // the handle's number (when not nilId)
    bool nilId;                  // the handle is named by its handle value
    const char *path;            // the directory, or a linked name ":::N,sub" / ":::@HEX,sub"
    const char *adapter;         // the adapter list, or null
    bool recursive;              // sub-directories are listed too
    bool emptyDir;               // a handle that lists nothing
    lvLinkedDirEntry *given;     // a tree taken from the offered ones (owned from here on)
    const void *userTags;        // the script's user tags for a directory adapter, or null
};
// 0 with *out, or ERR_WRONGUSAGE (a malformed linked name), ERR_FINDDIR / ERR_FINDARRAY
// (the handle a linked name names), ERR_READFILE (no such directory in its tree),
// ERR_LOCK2 or ERR_MEM. A given tree is freed on failure.
int OpenDirectoryHandle(const lvDirOpenRequest *request, const lvRefOps *ops, lvDirectoryHandle **out);

// Takes an offered tree off the list; false when the key names none. A script value
// is only ever a key into that list: a handle never adopts memory a script names.
bool TakeOfferedTree(void *key, lvLinkedDirEntry **tree);
// The offered tree the key names, left on the list (a catalog reads through it and the
// preload frees it afterwards); null when the key names none.
lvLinkedDirEntry *FindOfferedTree(void *key);
// Takes a tree off the list, if it is still there, and frees it.
void WithdrawOfferedTree(lvLinkedDirEntry *tree);

// ---- Reading a handle -----------------------------------------------------------------

// One entry of a handle. Tree entries have no dates (the command reports the current
// date and flags 15 for them); their size is the linked data's size.
struct lvDirHandleEntry {
    std::string name;            // the entry's name
    int isDirectory;             // non-zero for a directory
    int fromTree;                // the entry comes from a linked tree (no info)
    uint32_t treeSize;           // tree files: the data's size
    lvFileInfo info;             // scanned entries: size, flags and dates
};
// The next entry (sub-directories skipped unless the handle is recursive): 1, or 0 at
// the end (reported once; later calls answer 0 until a rewind).
int NextDirectoryHandleEntry(lvDirectoryHandle *d, lvDirHandleEntry *entry);
// Starts the listing again. 0 or the scan's error.
int RewindDirectoryHandle(lvDirectoryHandle *d);
// GetDirectoryEntry: the name under which the entry `name` of the handle is opened —
// a full path for a scanned directory, for a tree a linked file's ":::chunk" name or a
// linked directory's name that OpenDirectory takes. 0, ERR_READFILE (no such entry)
// or ERR_MEM (too long).
int DirectoryEntryName(const lvDirectoryHandle *d, const char *name, std::string *out);
// Counts the entries of the handle (rewound before and after); a sub-directory that
// cannot be read ends the count there, the counts so far stand. 0 or the rewind's error.
int CountDirectoryHandle(lvDirectoryHandle *d, bool recursive, double *files, double *dirs);

// The names of files and of directories directly in path, sorted by compare (<0, 0,
// >0) when it is not null. 0 or OpenDirScan's error.
typedef int (*lvNameCompare)(const std::string &a, const std::string &b);
int ListDirectoryNames(const char *path, lvNameCompare compare, std::vector<std::string> *files,
                       std::vector<std::string> *dirs);

// ---- Monitors -----------------------------------------------------------------------------

// A handle that watches path (a numbered handle replaces one of the same number).
// userData is a reference the monitor owns once started (released by the caller on
// failure). 0 with *out, ERR_MEM or the monitor's error.
int OpenMonitorHandle(int number, bool nilId, const char *path, bool all, bool reportChanges, int userData,
                      const lvRefOps *ops, lvDirectoryHandle **out);
// The identifier of the handle a monitor belongs to.
lvObjectId MonitorOwnerId(const lvDirMonitor *monitor);
