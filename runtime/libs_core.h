// libs_core.h - the runtime core's own command libraries as the library table sees them:
// base, error, object, compress, amiga and mobile. Each library is one record {name, open
// function, constants}; an open function defines nothing but the library's commands (as
// globals, lower-cased) and its command list; the constants table is defined by whoever
// opens the libraries (DefineConstants) before the open function runs.
//
// Also the seam through which the End command hands its exit code to the start-up code.
//
// Depends on: vm/lvvm.h. Used on the script thread (start-up: the main thread).
#pragma once
#include "runtime/objects.h"
#include "vm/lvvm.h"

// ---- Library records ------------------------------------------------------------------

// One row of the library table.
struct lvCoreLibrary {
    const char *name;                   // library name ("base", "error", ...)
    int (*open)(lvState *L);            // registers commands and the command list; 0 or an error code
    const lvConstantEntry *(*constants)();  // the library's constants, or null when it has none
    void (*close)(lvState *L);          // shut-down step, or null
};

// Open functions: each registers its commands as globals and its command list. 0 or ERR_MEM.
int OpenBaseLibrary(lvState *L);
int OpenErrorLibrary(lvState *L);
int OpenObjectLibrary(lvState *L);
int OpenCompressLibrary(lvState *L);
int OpenAmigaLibrary(lvState *L);
int OpenMobileLibrary(lvState *L);

// Constants getters (tables ended by a null name).
const lvConstantEntry *GetBaseConstants();
const lvConstantEntry *GetErrorConstants();   // every ERR_ name of the message table
const lvConstantEntry *GetObjectConstants();  // ATTRCOUNT

// Shut-down steps.
void CloseErrorLibrary(lvState *L);   // releases the error handler's reference
void CloseObjectLibrary(lvState *L);  // frees the object-type registrations

// The six records in one null-ended table, in the order start-up opens them (base last).
extern const lvCoreLibrary lvCoreLibraries[];

// Opens one record: defines its constants, then runs its open function. 0 or an error code.
int OpenCoreLibrary(lvState *L, const lvCoreLibrary *library);

// Installs the runtime's host services into the machine (cmdsupport's output, the error
// state, the error handler, the run's encoding).
void InstallRuntimeHost();

// ---- End of the run ---------------------------------------------------------------------

// What End asked for: start-up reads it after the main chunk returned (or was stopped)
// and exits with the code, even when ERRORCODE is set.
struct lvEndRequest {
    int requested;  // End ran
    int code;       // its exit code (truncated toward zero)
};
lvEndRequest *GetEndRequest();
// Clears the request (start-up and tests).
void ResetEndRequest();

// Layers (type 22) and event handlers (type 40) are not registered object types; their
// libraries plug their lookups in here for the object library. Unset slots answer
// ERR_UNKNOWNATTR (attributes) and ERR_NOLAYERS (layer data).
struct lvObjectLibraryHooks {
    // GetAttribute of a layer / of an event handler: reads its own arguments (type, id,
    // attribute, extras) and answers a result count or an error code.
    int (*layerAttribute)(lvState *L);
    int (*handlerAttribute)(lvState *L);
    // The header carrying a layer's object data, the layer named by the argument at
    // idIndex; null with *errorOut (ERR_NOLAYERS, ERR_LAYERRANGE) when there is none.
    lvObjectHeader *(*findLayer)(lvState *L, int idIndex, int *errorOut);
};
// Installs hooks (null slots keep their defaults; null resets all).
void SetObjectLibraryHooks(const lvObjectLibraryHooks *hooks);

// GetLastError: the one command before which the last error is not cleared.
int GetLastErrorCommand(lvState *L);

// The command shared by every command this platform cannot serve: takes any arguments
// and fails with ERR_UNSUPPORTEDFEAT. Other libraries put it in their tables too.
int UnsupportedCommand(lvState *L);
