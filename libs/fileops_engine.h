// fileops_engine.h - the engine behind the dos library's CopyFile, MoveFile, DeleteFile,
// Rename and MatchPattern: wildcard pattern lists, directory-tree walks and the copy,
// move and delete operations, each an async operation that steps a bounded amount of
// work (one directory entry, one deletion or one block of a copy).
//
// A command builds an operation with NewCopyOperation, NewMoveOperation or
// NewDeleteOperation and then either links it (AddAsyncOperation, for "async") or runs
// it (RunAsyncToCompletion); both live in runtime/asyncop.h. Questions to the script go
// through an lvFileOpCallback, so the engine runs and is tested without the VM.
//
// Depends on: runtime/vfile.h and runtime/vdir.h (every file and directory access, so
// adapters and linked files work as sources), platform/lvplatform.h (deleting, flags,
// times, moves), runtime/asyncop.h (the operation head; only the record type).
// Limits: paths of LV_PATH_SIZE bytes. Deletions, unprotecting, directory levels, moves
// and renames go to the filesystem adapter of the operation's adapter list when it holds
// one (libs/fsadapter.h), natively otherwise.
#pragma once
#include <cstdint>

#include "runtime/asyncop.h"

// ---- Pattern lists --------------------------------------------------------------------

// 1 when name matches any pattern of a ';'-separated list (an empty pattern ends the
// list), else 0. MatchPattern's engine.
int MatchPatternList(const char *name, const char *list);

// ---- Callback protocol -------------------------------------------------------------------

// Action numbers of the callback tables.
enum {
    LV_DELETEFILE_STATUS = 0,
    LV_DELETEFILE_UNPROTECT = 1,
    LV_DELETEFILE_FAILED = 2,
    LV_COPYFILE_STATUS = 0,
    LV_COPYFILE_OVERWRITE = 1,
    LV_COPYFILE_UNPROTECT = 2,
    LV_COPYFILE_FAILED = 3,
    LV_MOVEFILE_UNPROTECT = 0,
    LV_MOVEFILE_COPY = 1,
    LV_MOVEFILE_DELETE = 2,
    LV_MOVEFILE_COPYFAILED = 3,
    LV_MOVEFILE_DELETEFAILED = 4,
};

// Which fields a question carries besides "action" and "userdata".
enum lvFileOpQuestionForm {
    LV_QUESTION_FILE = 0,         // "file"
    LV_QUESTION_PROGRESS = 1,     // "source", "destination", "copied", "filesize"
    LV_QUESTION_PAIR = 2,         // "source", "destination"
    LV_QUESTION_DESTINATION = 3,  // "destination"
};

// One question to the script.
struct lvFileOpQuestion {
    int action;               // the action number
    int form;                 // lvFileOpQuestionForm: the fields to fill
    const char *file;         // full path of the object to delete (LV_QUESTION_FILE)
    const char *source;       // full source path
    const char *destination;  // full destination path
    int64_t copied;           // bytes copied of this file (LV_QUESTION_PROGRESS)
    int64_t fileSize;         // the source's size, -1 when unknown (LV_QUESTION_PROGRESS)
};

// The script's answer: booleans count as the numbers 1 and 0; anything else (nothing, a
// string, a table) is no number.
struct lvFileOpAnswer {
    int isNumber;   // the callback returned a number (or a boolean)
    double number;  // its value
};

// The script side of an operation's questions. The operation owns the object from the
// moment it is built and calls Release once when it is freed.
class lvFileOpCallback {
public:
    virtual ~lvFileOpCallback() {}
    // Calls the script's function with the question's table. 0 with the answer, or the
    // error code of the call, which ends the operation.
    virtual int Ask(const lvFileOpQuestion &question, lvFileOpAnswer *answer) = 0;
    // True once the run is to end (End, a quit request, a fatal error): every question
    // then counts as an abort.
    virtual bool QuitRequested() { return false; }
    // Releases the function and userdata references (and the object, if it owns itself).
    virtual void Release() {}
};

// ---- Operations ---------------------------------------------------------------------------

// DeleteFile's options; zero-filled is not the default: use these initialisers.
struct lvDeleteOptions {
    bool matchDir = true;                 // "matchdir": the pattern also filters sub-directories
    bool recursive = true;                // "recursive": descend into sub-directories
    bool failOnError = true;              // "failonerror"
    bool mustExist = false;               // "mustexist": a missing path is an error
    bool force = false;                   // "force": read-only objects go without asking
    const char *pattern = nullptr;        // "pattern" list, or nullptr
    const char *adapter = nullptr;        // "adapter" list, or nullptr for the default
    const void *userTags = nullptr;       // "usertags" handed to adapters
    lvFileOpCallback *callback = nullptr; // "callback" (taken over by the operation)
};

// CopyFile's options.
struct lvCopyOptions {
    bool matchDir = true;                 // "matchdir"
    int bufferSize = 16384;               // "buffersize" (at least 1)
    bool failOnError = true;              // "failonerror"
    bool force = false;                   // "force"
    bool fileDestination = false;         // "filedst": the destination names the new file
    const char *newName = nullptr;        // "newname", or nullptr / "" for none
    const char *pattern = nullptr;        // "pattern" list
    const char *adapter = nullptr;        // "adapter" of the source
    const char *destinationAdapter = nullptr;  // "dstadapter"
    const void *userTags = nullptr;            // "usertags" of the source
    const void *destinationUserTags = nullptr; // "dstusertags"
    lvFileOpCallback *callback = nullptr;      // "callback" (taken over by the operation)
};

// MoveFile's options (one adapter list and one tag list serve both sides).
struct lvMoveOptions {
    bool failOnError = true;              // "failonerror"
    int bufferSize = 16384;               // "buffersize"
    bool force = false;                   // "force"
    const char *adapter = nullptr;        // "adapter"
    const void *userTags = nullptr;       // "usertags"
    lvFileOpCallback *callback = nullptr; // "callback" (taken over by the operation)
};

// Each builder checks its arguments and the file system as the command must before any
// work starts. 0 with *out (nullptr when there is nothing to do), or an error code with
// its message argument set. The callback is released on failure too.
int NewDeleteOperation(const char *path, const lvDeleteOptions *options, lvAsyncOperation **out);
int NewCopyOperation(const char *source, const char *destination, const lvCopyOptions *options,
                     lvAsyncOperation **out);
int NewMoveOperation(const char *source, const char *destination, const lvMoveOptions *options,
                     lvAsyncOperation **out);

// Rename(path, new name): only the file part of the new name counts; the object keeps its
// directory. 0, ERR_WRONGUSAGE (empty or virtual names) or ERR_RENAME.
// The list's filesystem adapter (null: the default list) does it when there is one.
int RenameObject(const char *path, const char *newName, const char *adapter = nullptr, const void *userTags = nullptr);
// Creates a directory with every missing level. 0, or ERR_CREATEDIR (path as the message
// argument) when a level cannot be made or a file stands in the way.
int MakeDirectoryLevels(const char *path, const char *adapter, const void *userTags);
