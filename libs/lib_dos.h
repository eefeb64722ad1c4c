// lib_dos.h - the dos library ("dos") as the library table sees it: its open
// function, its constants and its shut-down step; and what the command layer
// asks of the events library (whether a handler is installed).
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
// The library's command table, ended by a null name.
const lvCommandEntry *GetDosCommands();
// Closes every file and directory handle (with their monitors), ends the program jobs.
void FreeDosObjects(lvState *L, int full);

// Whether the script has a handler of this name ("RunFinished", "RunOutput") installed;
// the events library fills it. Without it no handler counts as installed.
typedef int (*lvHandlerQuery)(lvState *L, const char *handlerName);
void SetDosHandlerQuery(lvHandlerQuery query);
