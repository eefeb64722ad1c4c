// prefs_engine.h - per-applet preferences files: one script table per applet
// identifier in the preferences folder, as JSON ("default" serializer, from the first
// byte) or as "PRFS" followed by an "LVT0" table body.
//
// Depends on: libs/serialize_engine.h, runtime/vfile.h, platform/lvplatform.h
// (GetPrefsFolder, RenameFSObject, DeleteFSObject). A save goes to a temporary file
// beside the old one and replaces it only when complete, so a failed save keeps the
// old preferences.
#pragma once
#include <cstddef>

#include "vm/lvvm.h"

// The file name an applet identifier gives: path separators and ".." are removed.
// 0, or ERR_WRONGUSAGE when nothing is left (an empty identifier included).
int PrefsFileName(const char *identifier, char *buffer, size_t size);
// folder + the file name of identifier. 0, ERR_WRONGUSAGE, or ERR_MEM when it does
// not fit.
int BuildPrefsPath(const char *folder, const char *identifier, char *buffer, size_t size);

// Reads the preferences at path. With intoIndex (a stack index, 0 for none) the
// entries go into that table; without, a new table is left on the stack. A "PRFS"
// file is read as a binary body when the serializer is the built-in one (null, empty
// or "inbuilt"); any other file through the named serializer ("default" for none).
// 0, ERR_READFILE (path as the message argument) when the file cannot be opened, or
// the reader's error (the stack is then as it was).
int ReadPrefsFile(lvState *L, const char *path, int intoIndex, const char *serializer, const void *userTags);
// Writes the table at index: "PRFS" and a binary body for "inbuilt", else through the
// serializer ("default" for none or empty). 0, ERR_WRITEFILE (path as the message
// argument) when the file cannot be made, or the writer's error; the old file is kept
// on any failure.
int WritePrefsFile(lvState *L, const char *path, int index, const char *serializer, const void *userTags);
// Deletes the file; the outcome is not reported.
void DeletePrefsFile(const char *path);
