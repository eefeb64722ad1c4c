// lib_menu.h - the menu library's row, close step and start-up parts.
#pragma once

struct lvState;
struct lvConstantEntry;
struct lvCommandEntry;

int OpenMenuLibrary(lvState *L);
const lvConstantEntry *GetMenuConstants(void);
const lvCommandEntry *GetMenuCommands(void);
// The close step: frees every menu.
void CloseMenuLibrary(lvState *L, int full);
// Fills the library's row and close step, the tail reader and preload of linked menus.
void InstallMenuLibrary(void);
