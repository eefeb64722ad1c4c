// lib_sound.h - the "sound" library as start-up opens it: the sample and channel commands
// over the audio engine, its constants, object types 2 ("Samples"), 33 ("Musics") and 65
// ("Music streams"), and its shut-down step.
#pragma once

struct lvState;
struct lvCommandEntry;
struct lvConstantEntry;

// Reads NOSOUND, FORCESOUND and NUMCHANNELS, registers the types and the commands. 0 or ERR_MEM.
int OpenSoundLibrary(lvState *L);
// Shut-down step: every channel stopped, every sample freed, the device closed.
void CloseSoundLibrary(lvState *L, int full);
// Before the libraries close: stops every channel.
void StopAllSound(void);
const lvCommandEntry *GetSoundCommands(void);
const lvConstantEntry *GetSoundConstants(void);
// Shared with the music commands: quiet (NOSOUND or a failed opening), the on-demand
// opening (0, a code to raise, or -1 to return quietly), and how user data goes.
struct lvRefOps;
int SoundQuiet(void);
int SoundEnsureAudio(void);
const lvRefOps *SoundRefOps(void);
// The output sink the library opens (tests); nullptr: LUMIVARRA_AUDIO.
void SetSoundOutputSink(const char *sink);
