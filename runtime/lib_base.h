// lib_base.h - the base library: the end of a run, debug printing, and the constants
// that describe the runtime itself.
// Dependencies: vm/lvvm.h, runtime/startup.h (End code, no-debug switch).
#pragma once
#include "vm/lvvm.h"

// Registers the base commands into the globals table at the stack top; 0.
int OpenBaseLibrary(lvState *L);
// The base library's constants (LUMIVARRA, LV_VERSION, the value types, the encodings).
const lvConstantEntry *GetBaseConstants(void);
