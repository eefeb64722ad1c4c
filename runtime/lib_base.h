// lib_base.h - the base library: the end of a run, debug printing and prompting, IIf,
// ToString, the console key commands, and the constants that describe the runtime itself.
// Dependencies: vm/lvvm.h, runtime/startup.h (End code, debug switches).
#pragma once
#include "vm/lvvm.h"

// Registers the base commands as globals and the command list "base"; 0 or ERR_MEM.
int OpenBaseLibrary(lvState *L);
// The base library's constants (LUMIVARRA, LV_VERSION, the value types, the encodings).
const lvConstantEntry *GetBaseConstants(void);
