// lib_music.h - the music commands of the "sound" library (lib_music.cpp): their table,
// the attributes of musics, and the flag the event dispatcher sets around the
// FillMusicBuffer handler.
#pragma once
#include "runtime/objects.h"
#include <cstdint>

struct lvState;
struct lvCommandEntry;

const lvCommandEntry *GetMusicCommands(void);
int MusicAttribute(lvState *L, int attribute, lvObjectId id);
void SetMusicCallbackActive(int active);
// The dispatcher's music hooks.
struct lvEventId;
int NextMusicRequest(lvEventId *music, int64_t *samples, int64_t *count);
void MusicEndBookkeeping(lvState *state, lvEventId music);
// The preloader's handler of linked musics: OpenMusic, and whether the applet's data
// must stay (an embedded music that is not a module).
struct lvLinkedObject;
int PreloadLinkedMusic(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer);
