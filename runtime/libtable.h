// libtable.h - the table of the 48 command libraries: the order in which start-up opens
// them and the order of the shut-down steps that free what each library still holds.
//
// Each library fills its own row: its open function (registers its command table and
// object types), its constants getter, and its shut-down step in the close table. A
// library whose code is not part of this build keeps the default open function, which
// registers an empty command table, and a shut-down step that has nothing to free.
// Dependencies: vm/lvvm.h. Limits: rows are fixed at build time; tests may replace the
// shut-down functions to watch the order.
#pragma once
#include "vm/lvvm.h"

// ---- Library table ----------------------------------------------------------------

// Opens a library into the globals table at the stack top; 0 or an error code.
typedef int (*lvLibraryOpenFunction)(lvState *L);
// The library's constants, defined before the library opens; NULL-ended.
typedef const lvConstantEntry *(*lvConstantsGetter)(void);

// One row of the library table.
struct lvLibraryEntry {
    const char *name;                 // the library's name ("display", ...)
    lvLibraryOpenFunction open;       // open function; never null in the table
    lvConstantsGetter constants;      // constants getter, or null when it has none
};

#define LV_LIBRARY_COUNT 48
// The table in opening order, ended by a row without a name.
extern lvLibraryEntry LibraryTable[LV_LIBRARY_COUNT + 1];

// Fills the row of the library with that name (its open function and constants getter);
// 0, or -1 when no row has the name. The executable calls it for every library it
// carries (InstallBuiltinLibraries) before start-up opens them.
int SetLibraryRow(const char *name, lvLibraryOpenFunction open, lvConstantsGetter constants);

// Opens every library in table order: the "inclevels" registry table, the global "_g",
// then for each row its constants and its open function. Stops at the first error.
int OpenLibraries(lvState *L);

// ---- Shut-down steps ---------------------------------------------------------------------

// Frees every object one library (or one part of a library) still holds.
typedef void (*lvLibraryCloseFunction)(lvState *L, int full);

// One shut-down step.
struct lvLibraryCloseStep {
    const char *name;                 // what the step frees ("displays", "pointers", ...)
    lvLibraryCloseFunction close;     // the step; a no-op where the library is not built
};

#define LV_CLOSE_STEP_COUNT 34
// The steps in the order CloseLibraries runs them.
extern lvLibraryCloseStep LibraryCloseSteps[LV_CLOSE_STEP_COUNT];

// Runs every shut-down step in order, whether its library was opened or not.
void CloseLibraries(lvState *L, int full);
// Replaces the function of the step with that name; returns the previous one, or null
// when no step has the name. For tests and for libraries that register late.
lvLibraryCloseFunction SetLibraryCloseStep(const char *name, lvLibraryCloseFunction close);
