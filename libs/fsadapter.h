// fsadapter.h - filesystem adapters: the plug-ins (capability PLUGINCAPS_FILESYSADAPTER)
// that change directories, make, delete, rename and move objects and set their
// attributes in place of the native file system, for every dos command and walker that
// names an adapter list.
//
// The first plug-in of the list with the capability does the work; only when the list
// holds none does the caller act natively. Each call hands the plug-in the script's user
// tags as a tag list (tag 1 = the user-tag list, 0 ends).
//
// Depends on: runtime/vfile.h (the adapter scan), runtime/lvplugin.h (the plug-in's
// exports). Script thread only.
#pragma once
#include <cstddef>

struct lvAdapterStat;

// What a call answers when the list holds no filesystem adapter: act natively.
#define LV_FS_NATIVE (-2)

// Whether the list (null: the default list) holds a filesystem adapter.
bool HaveFilesysAdapter(const char *adapterList);
// Each answers LV_FS_NATIVE, or the adapter's truth value (1 done, 0 failed).
int FsChangeDir(const char *adapterList, const char *path, const void *userTags);
int FsGetCurDir(const char *adapterList, char *buffer, size_t size, const void *userTags);
int FsMakeDir(const char *adapterList, const char *path, const void *userTags);
int FsDeleteObject(const char *adapterList, const char *path, const void *userTags);
// newName is the new file part only.
int FsRenameObject(const char *adapterList, const char *path, const char *newName, const void *userTags);
// which: bit 1 the flags, bit 2 the three dates, bit 4 a directory copy's attributes
// (record is the source's examine record).
int FsSetAttributes(const char *adapterList, const char *path, int which, const lvAdapterStat *record,
                    const void *userTags);
// The adapter's own answer: -1 it cannot move directly, 1 moved, anything else failed.
int FsMoveObject(const char *adapterList, const char *source, const char *destination, const void *userTags);
