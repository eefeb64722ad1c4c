// lib_text.h - the "text" library as start-up opens it: its commands over the
// text engine (text/lvtextlib.h), its constants and its shut-down step.
#pragma once

struct lvState;
struct lvCommandEntry;
struct lvConstantEntry;
struct lvFontObject;
struct lvLinkedObject;

// Opens the library: the font manager with topaz 8 current, the object types 8
// and 43, and the command table as globals. 0 or an error code.
int OpenTextCommands(lvState *L);
// Shut-down step: font objects, text objects, font paths and the font cache.
void CloseTextCommands(lvState *L, int full);
// The command table and the constants (each ended by a row of nullptr).
const lvCommandEntry *GetTextCommands(void);
const lvConstantEntry *GetTextConstants(void);
// Pushes an attribute of a font object's font (null: the current font).
// 1, or ERR_UNKNOWNATTR.
int GetFontAttribute(lvState *L, int attribute, const lvFontObject *object);
// Preload handler of fonts declared by the applet (user: the run's
// lvPreloadRun): calls OpenFont by name with the identifier, the file, the
// size (the option value) and the options the packed flags give. 0 or the
// call's error.
int PreloadLinkedFont(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);
