// lib_string.h - the string library ("string") as the library table sees it: its
// open function. The library has no constants table and no objects, so it needs
// no shut-down step.
//
// Depends on: vm/lvvm.h. Script thread only (start-up: the main thread).
#pragma once
#include "vm/lvvm.h"

// Registers the library's 67 commands as globals (names lower-cased) under the
// library name "string". 0 or an error code.
int OpenStringLibrary(lvState *L);

// The library's command table, ended by a null name (command lists, docs).
const lvCommandEntry *GetStringCommands();
