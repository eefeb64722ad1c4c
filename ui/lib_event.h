// lib_event.h - the event library as start-up and the plug-in interface open it.
#pragma once

struct lvState;
struct lvCommandEntry;
struct lvConstantEntry;

// Opens the library: the engine with the machine's hooks, the constants, the command
// table as globals, the object types "Intervals" (41) and "Timeouts" (42).
// 0 or an error code (ERR_TIMER, ERR_SEMAPHORE, ERR_CREATEEVENT, ERR_MEM).
int OpenEventLibrary(lvState *L);
// Closes it at the end of the run: callbacks, timers, queued events.
void CloseEventLibrary(lvState *L);
// The command table (ended by a row of nullptr).
const lvCommandEntry *GetEventCommands(void);
// The library's constants (ended by a row of nullptr), for the library table's getter.
const lvConstantEntry *GetEventConstants(void);
