// lib_console.h - the console library's row and close step: open function, constants.
#pragma once

struct lvState;
struct lvConstantEntry;

// Registers the commands and the object type 64, and installs the console reads as the
// runtime's console input. 0 or an error code.
int OpenConsoleLibrary(lvState *L);
const lvConstantEntry *GetConsoleConstants(void);
// The close step: leaves advanced mode and restores the terminal before the final report.
void CloseConsoleLibrary(lvState *L, int full);
