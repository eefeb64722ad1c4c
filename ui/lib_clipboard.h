// lib_clipboard.h - the clipboard library (lib_clipboard.cpp) and the installation of
// the clipboard and requester libraries' rows.
#pragma once

struct lvState;
struct lvDisplay;
struct lvConstantEntry;

int OpenClipboardLibrary(lvState *L);
const lvConstantEntry *GetClipboardConstants(void);
// The display's clipboardchange handler came or went: its change notices follow.
int WatchDisplayClipboard(lvDisplay *d, int watch);
int PutClipboardTextRouted(const char *text);
int FetchClipboardRouted(int *type, char **text);
// Fills the "clipboard" and "requester" rows of the library table.
void InstallClipboardAndRequesterLibraries(void);

int OpenRequesterLibrary(lvState *L);
const lvConstantEntry *GetRequesterConstants(void);
