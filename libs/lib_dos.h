// lib_dos.h - the dos library ("dos") as the library table sees it: its open
// function, its constants and its shut-down step; and what the command layer
// asks of the events library (whether a handler is installed). Also the async
// library ("async"), whose operations the dos library's commands are the first to start.
//
// Depends on: vm/lvvm.h. Script thread only.
#pragma once
#include "vm/lvvm.h"

// Defines nothing itself: the constants come from GetDosConstants (the library table
// defines them before the open). Creates the "FILE*" and "DIR*" metatables, registers
// the commands as globals (names lower-cased) and the object types 44 "Files" and
// 45 "Directories". 0 or an error code.
int OpenDosLibrary(lvState *L);
// The library's constants, ended by a null name.
const lvConstantEntry *GetDosConstants();
// ---- The async library (lib_async.cpp) ------------------------------------------------------
// ContinueAsyncOperation and CancelAsyncOperation, for the library that lists them (the
// copy, move and delete operations are their first users), ended by a null name.
const lvCommandEntry *GetAsyncOperationCommands();
// The async library: ContinueAsyncOperation and CancelAsyncOperation as globals and the
// object type 61 "Async objects"; its constants (ASYNCOBJ and the draw numbers); its
// shut-down step, which frees the operations still pending. 0 or an error code.
int OpenAsyncOperationLibrary(lvState *L);
const lvConstantEntry *GetAsyncOperationConstants();
void FreeAsyncOperationObjects(lvState *L, int full);
// The runtime's poll between the steps of an operation run inside its command (events
// in, a quit request ends it); a stop request ends it first.
void SetDosStepPoll(int (*poll)(lvState *state, int mode));
// That poll, for the dos library's own waits (0 when none is installed).
int PollDosRuntimeEvents(lvState *L, int mode);
// Execute and Run clear the current display's key and button states through this after
// starting a program ("resetkeys"); until the display library installs it, nothing is cleared.
void SetDosInputReset(void (*reset)(lvState *L));
// Gives the async operations the run's hooks (the step poll, registry references of L);
// every command that runs or links an operation calls it first.
void InstallAsyncStepHooks(lvState *L);

// ---- The dos library -----------------------------------------------------------------------
// Hands a linked directory tree to the library for the preload's OpenDirectory call,
// which names it by its address in "__direntries"; a tree not taken is freed at close.
struct lvLinkedDirEntry;
void OfferLinkedDirTree(lvLinkedDirEntry *tree);
// Linked directories (type 18) and catalogs (type 20): the container's reader of their
// stored entry tree, and their preload, which calls OpenDirectory (identifier, name,
// {recursive = the option value, __emptydir, __direntries}) or OpenCatalog (name, or the
// first "*.catalog" entry of the tree; {__direntries}) through the globals.
struct lvAppletCursor;
struct lvLinkedObject;
int ReadLinkedDirTail(lvAppletCursor *cursor, lvLinkedObject *object, int formatMajor, int formatMinor);
int PreloadLinkedDirectory(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);
// The name of the first entry, depth-first, whose name ends in ".catalog" (case
// ignored); null when there is none.
const char *FindCatalogEntry(const lvLinkedDirEntry *tree);
// Closes every file and directory handle (with their monitors), ends the program jobs.
void FreeDosObjects(lvState *L, int full);

// Whether the script has a handler of this name ("RunFinished", "RunOutput") installed;
// the events library fills it. Without it no handler counts as installed.
typedef int (*lvHandlerQuery)(lvState *L, const char *handlerName);
void SetDosHandlerQuery(lvHandlerQuery query);

// ---- Script events of programs and monitors ----------------------------------------------
// The events engine builds RunFinished, RunOutput and DirectoryChanged from the dos
// library's records through these (the start-up connects them to its source hooks).

// Where the fields of one event go; the texts stay valid until the event's record is freed.
struct lvDosEventFieldSink {
    void *context;                                                               // passed back
    void (*Text)(void *context, const char *name, const char *text);             // a text field
    void (*Number)(void *context, const char *name, double value);               // a number field
    void (*Reference)(void *context, const char *name, int reference);           // a referenced value
    void (*ObjectId)(void *context, const char *name, int number, void *handle); // an identifier
};

// Event kinds: 25 RunFinished (first: the job), 29 RunOutput (payload: the output chunk),
// 26 DirectoryChanged (first: the monitor), 34 DirectoryChanged with details (payload:
// the change record). Adds the fields besides "action".
void DescribeDosEvent(int kind, uintptr_t first, void *payload, const lvDosEventFieldSink *sink);
// 1 when a finished job's end is to be reported to RunFinished.
int DosJobWantsReport(void *job);
// Releases a finished job (after its RunFinished call, or when nobody reports it).
void ReleaseDosRunJob(lvState *L, void *job);
