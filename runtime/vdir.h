// vdir.h - virtual directories and file information: one handle type over
// directory adapters, file adapters that describe an object, the platform's
// file-system locks and ":::chunk" names (which behave as single files).
// Dependencies: runtime/vfile.h, platform/lvplatform.h.
// Limits: paths of LV_PATH_SIZE bytes; a longer name fails to open.
#pragma once
#include "runtime/vfile.h"

// Flags of OpenVDir.
enum {
    LV_VD_READ = 1,       // read lock
    LV_VD_WRITE = 2,      // write lock (refused by the platform)
    LV_VD_ADAPTERS = 4,   // adapters may serve the name
    LV_VD_FINAL = 0x10,   // resolve the final path of the object
    LV_VD_FILESONLY = 0x40,// no directory adapters; the platform refuses directories
    LV_VD_DIRSONLY = 0x80, // no file-adapter probe; the platform refuses files
};

// One open directory or file-system object.
struct lvVDir {
    const lvFileAdapter *dirAdapter;  // directory adapter serving the handle, or none
    const lvFileAdapter *fileAdapter; // file adapter that described the object (a file), or none
    void *stream;                     // adapter handle, or the platform's lvOsLock
    char path[LV_PATH_SIZE];          // the name as opened
    char entryName[LV_PATH_SIZE];     // last entry name returned by an adapter
    lvAdapterStat stat;               // information of the object from its adapter
    const char *formatName;           // format name reported by a directory adapter (tag 2)
    lvMemFile *node;                  // registered node of a ":::chunkS" name
    int chunkName;                    // the name is a ":::chunk" name
};

// The record the dos library and plug-ins receive.
struct lvFileInfoPublic {
    int isDirectory;          // non-zero for a directory
    int64_t size;             // size in bytes
    uint32_t attributes;      // LV_FILEATTR_ bits
    lvFileDate lastWrite;     // last write
    lvFileDate lastAccess;    // last access
    lvFileDate creation;      // creation
    char path[LV_PATH_SIZE];  // full path
    char comment[80];         // comment
};

lvVDir *OpenVDir(const char *name, int flags, const char *adapterList, const void *userTags);
void CloseVDir(lvVDir *dir);
const char *GetVDirAdapterName(lvVDir *dir);
const char *GetVDirFormatName(lvVDir *dir);
int ExamineVDir(lvVDir *dir, lvFileInfo *info); // 0
// 0, or ERR_NOTADIR for files and chunk names (path as the message argument).
int StartVDirScan(lvVDir *dir, int *restarted);
// Non-zero while entries come; the name stays valid until the next call.
int NextVDirEntry(lvVDir *dir, int restarted, const char **name, int *isDirectory, lvFileInfo *info);
int GetVDirPath(lvVDir *dir, char *buffer, size_t size); // 1, or 0 when it does not fit
int GetCurrentDirPath(char *buffer, size_t size, int final);
// 1 and the record, or 0 when nothing describes the name.
int ExaminePath(const char *name, lvFileInfoPublic *info, int useAdapters);
