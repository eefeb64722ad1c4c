// lib_core4.h - open functions and constants of the serialize, application, locale
// and windows (registry) command libraries, for the library table; and the hooks
// through which they reach what other libraries own (open files of the dos library,
// the applet's identifier and program folder).
//
// Depends on: vm/lvvm.h, runtime/vfile.h.
#pragma once
#include "runtime/vfile.h"
#include "vm/lvvm.h"

// ---- Library table rows -------------------------------------------------------------
int OpenSerializeLibrary(lvState *L);
const lvConstantEntry *GetSerializeConstants(void);
int OpenApplicationLibrary(lvState *L);
const lvConstantEntry *GetApplicationConstants(void);
int OpenLocaleLibrary(lvState *L);
const lvConstantEntry *GetLocaleConstants(void);
int OpenWindowsLibrary(lvState *L);
const lvConstantEntry *GetWindowsConstants(void);
// Shut-down steps: the open catalog; every registry-key object.
void CloseLocaleLibrary(lvState *L, int full);
// The catalogs of the plug-in interface: opened for the user's language (null when none),
// closed by the plug-in; a null catalog in PluginCatalogString is the script's own.
void *OpenPluginCatalog(lvState *L, const char *name);
void ClosePluginCatalog(void *catalog);
const char *PluginCatalogString(void *catalog, int index, const char *def);
void CloseWindowsLibrary(lvState *L, int full);

// ---- Hooks ----------------------------------------------------------------------------
// The dos library's open files as the serialize commands need them.
struct lvSerializeFileHooks {
    // The file of identifier argument index: its handle, whether it was opened for
    // reading and for writing, and its text encoding (0 or 1). 0 or an error code.
    int (*FindFile)(lvState *L, int index, lvVFile **file, int *readable, int *writable, int *encoding);
    // The dos library's carriage-return flag (line breaks of Base64 text).
    int (*UseCarriageReturn)(void);
};
// Null restores the defaults (no open files: ERR_FINDFILE; LF line breaks).
void SetSerializeFileHooks(const lvSerializeFileHooks *hooks);

// The applet as the application library sees it.
struct lvApplicationHooks {
    const char *(*GetIdentifier)(lvState *L);     // the applet's identifier, "" when it has none
    const char *(*GetProgramFolder)(lvState *L);  // the folder of the program (catalog search), or null
};
void SetApplicationHooks(const lvApplicationHooks *hooks);
const lvApplicationHooks *GetApplicationHooks(void);
