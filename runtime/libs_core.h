// libs_core.h - the runtime core's own command libraries as the library table sees them:
// base, error, object, compress, amiga and mobile. Each library is one row {name, open
// function, constants getter} of the library table (runtime/libtable.h); an open function
// registers the library's commands (as globals, lower-cased) and its command list, and
// installs its shut-down step where it has one; the constants are defined by whoever opens
// the library (DefineConstants) before the open function runs.
//
// How start-up wires the run to them: InstallRuntimeHost() and SetMainVMState(L) once the
// machine exists; the rows below in the library table; at shut-down the libraries' close
// steps, then ReportFinalErrorWithSwitches (runtime/errors.h) and FreeRuntimeLists().
//
// Depends on: vm/lvvm.h, runtime/libtable.h, runtime/lib_base.h, runtime/objects.h.
// Used on the script thread (start-up: the main thread).
#pragma once
#include "runtime/lib_base.h"
#include "runtime/libtable.h"
#include "runtime/objects.h"
#include "vm/lvvm.h"

// ---- Library rows -----------------------------------------------------------------------

// Open functions: each registers its commands as globals and its command list. 0 or ERR_MEM.
// (OpenBaseLibrary and GetBaseConstants: runtime/lib_base.h.)
int OpenErrorLibrary(lvState *L);    // also installs the "error" shut-down step
int OpenObjectLibrary(lvState *L);   // also installs the "object" shut-down step
int OpenCompressLibrary(lvState *L);
int OpenAmigaLibrary(lvState *L);
int OpenMobileLibrary(lvState *L);

// Constants getters (tables ended by a null name).
const lvConstantEntry *GetErrorConstants();   // every ERR_ name of the message table
const lvConstantEntry *GetObjectConstants();  // ATTRCOUNT

// Shut-down steps (lvLibraryCloseFunction).
void CloseErrorLibrary(lvState *L, int full);   // releases the error handler's reference
void CloseObjectLibrary(lvState *L, int full);  // frees the object-type registrations

// The six rows, null-ended, base last (the rows for the library table).
extern const lvLibraryEntry lvCoreLibraries[];
// Opens the six rows in order: constants, then the open function. 0 or the first error.
int OpenCoreLibraries(lvState *L);

// Installs the runtime's host services into the machine: raising by the error mode with
// the script location, the error handler, message arguments, the last-error reset, the
// call trace switch (DEBUGOUTPUT without NODEBUG), debug output, and case and collation
// in the run's encoding.
void InstallRuntimeHost();

// ---- Object library hooks -------------------------------------------------------------------

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
// What is installed now (to change one slot and keep the others).
const lvObjectLibraryHooks *GetObjectLibraryHooks(void);

// ---- Resource monitor ------------------------------------------------------------------------

struct lvResourceExtras;   // runtime/objects.h
// The monitor's window and its text are the display and layer engines'; they plug in here.
// Until they do, OpenResourceMonitor answers ERR_UNIMPLCMD (after checking its arguments).
struct lvResourceMonitorHooks {
    // Creates the monitor display (right, top, width x height, black, not hidden, no close
    // gadget, layers on, "Resource monitor", marked as the monitor), opens it with a
    // "closewindow" handler that frees it and calls ResourceMonitorClosed, draws the text
    // layer and makes the display that was current before current again. 0 or an error.
    int (*Open)(lvState *L, int width, int height);
    // Frees the monitor display.
    void (*Free)(lvState *L);
    // Sets the text as the monitor's layer 1 in the font size (topaz at 8, else the
    // default mono face), with the monitor display current for the call.
    int (*ShowText)(lvState *L, const char *text, int fontSize);
    // The layer and sprite counts of the text (null: all 0).
    void (*CountExtras)(lvState *L, lvResourceExtras *extras);
};
// Installs hooks (null: none).
void SetResourceMonitorHooks(const lvResourceMonitorHooks *hooks);
// Redraws the monitor's text when it is open and force is set or half a second passed
// since the last redraw. The main loop and the plug-in interface call it regularly.
void UpdateResourceMonitor(lvState *L, int force);
// The display's "closewindow" handler freed it: the monitor is closed.
void ResourceMonitorClosed();

// GetLastError: the one command before which the last error is not cleared.
int GetLastErrorCommand(lvState *L);

// The command shared by every command this platform cannot serve: takes any arguments
// and fails with ERR_UNSUPPORTEDFEAT. Other libraries put it in their tables too.
int UnsupportedCommand(lvState *L);
