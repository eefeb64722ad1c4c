// lvmusic.h - music objects (type 33, "Musics") and music streams (type 65): music
// sources (a sound source, or a module player for untimed modules), playing them on
// the channel table with passes, pausing, seeking, reading them into samples, and the
// records the "sound" library's music commands work on.
//
// Dependencies: lvsound.h (sources, writers), lvmodule.h (the player), lvaudio.h (the
// channel table and the mixer's music hook).
// Threads: records change on the script thread. The play state (lvMusicPlay) is read
// and advanced by the device's mixer under the device lock; the script thread changes it
// only under that lock (WithAudioLocked) or while the music is off its channel.
#pragma once
#include "media/lvaudio.h"
#include "media/lvmodule.h"
#include "media/lvsound.h"
#include "runtime/lists.h"
#include "runtime/objects.h"
#include <cstdint>

enum { LV_MUSIC_SOURCE = 1, LV_MUSIC_MODULE = 2 };
enum { LV_MUS_STOPPED = 0, LV_MUS_PLAYING = 1, LV_MUS_PAUSED = 2, LV_MUS_SAVING = 3, LV_MUS_READING = 4 };

struct lvStreamBuffer;

// What the mixer reads and advances.
struct lvMusicPlay {
    int kind;                  // LV_MUSIC_
    lvSoundSource *source;     // kind 1
    lvModulePlayer *player;    // kind 2
    int passes;                // 0 or less: until stopped
    int pass;                  // from 1
    int32_t gainLeft, gainRight; // 16.16
    uint64_t step;             // 32.32 source frames per output frame
    uint64_t fraction;         // 32.32 position between cur and next
    int32_t cur[2], next[2];   // the two source frames the output lies between
    int primed;                // cur and next hold frames
    int sourceEnded;           // the last pass's data is used up
    int64_t blockFrames;       // frames in block
    int64_t blockPos;          // next frame of block
    uint8_t *block;            // decoded source frames (one read)
    int64_t framesOut;         // output frames mixed since the start
    lvStreamBuffer *stream;    // kind 1 read from a file: the server's double buffer
};

struct lvMusic {
    lvObjectHeader header;     // type 33
    char *fileName;            // owned; nullptr for callback musics
    int kind;                  // LV_MUSIC_
    lvSoundSource *source;     // kind 1
    lvModulePlayer *player;    // kind 2
    int state;                 // LV_MUS_
    int volume;                // 0..64
    int passes;                // "times"
    int currentPass;
    int64_t pausedPosition;    // frames
    int callbackMusic;
    int canSeek;
    int subsongs;
    int currentSubsong;        // 1-based
    int channel;               // 1-based, 0 any
    int ended;                 // its OnMusicEnd was dispatched
    int timedModule;
    lvPluginRecord *decoder;
    char adapter[256];
    int64_t startUs;           // monotonic start stamp
    int64_t msBeforePause;     // module position
    lvUserTag *userTags;       // owned
    lvMusicPlay play;          // the mixer's part
    int onChannel;             // the play state is on the channel table
};

struct lvMusicStream {
    lvObjectHeader header;     // type 65
    lvSampleWriter *writer;
    int rate, channels, bits;
};

lvObjectHeader **GetMusicListHead();
lvObjectHeader **GetMusicStreamListHead();
lvMusic *FindMusic(lvObjectId id);
// 0, or ERR_FINDMUSIC ("%d") / ERR_FINDARRAY for a handle.
int LookupMusic(lvObjectId id, lvMusic **out);
lvMusicStream *FindMusicStream(lvObjectId id);

// Opens a music source: kind 2 with the player for an untimed module, else kind 1.
int OpenMusicSource(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                    int subsong, int timed, int *kind, lvSoundSource **source, lvModulePlayer **player,
                    lvPluginRecord **decoder);
// A new music record at the list's tail owning the source or player. A used number is
// closed first (its error returned). 0, ERR_MEM or CloseMusic's error.
int AddMusic(int number, bool useHandle, const char *fileName, int kind, lvSoundSource *source,
             lvModulePlayer *player, lvMusic **out);
// 0, ERR_OBJINUSE (being saved).
int CloseMusic(lvMusic *music);
void FreeAllMusics();

// Starts on a channel with the record's passes, volume and channel.
int StartMusic(lvMusic *music);
// Stops or pauses.
void StopMusic(lvMusic *music, int pause);
void SetMusicVolumeLevel(lvMusic *music, int volume);
// Seeks the source (kind 1) to ms.
void SeekMusicSource(lvMusic *music, int64_t ms);
int64_t GetMusicDurationMs(const lvMusic *music); // -1 unknown
int64_t GetMusicPositionMs(const lvMusic *music);
// Reads frames from the current position in the source's format. Kind 2 mixes.
int64_t ReadMusicFrames(lvMusic *music, void *buffer, int64_t frames, int *ended);
int IsModuleMusic(const lvMusic *music);
// The music last opened is a module (the preloader asks).
int IsLastMusicModule();
// The current music (last started, cleared when it stops).
lvMusic *GetCurrentMusic();
lvMusic *GetLastPausedMusic();
void InstallMusicEngine();
struct lvRefOps;
void SetMusicRefOps(const lvRefOps *ops); // how user data references are released
int64_t MonotonicUs();

// ---- The stream server (musicstream.cpp) -------------------------------------------------
// A music read from a file plays from two one-second halves a server thread keeps filled.
// Makes the buffer in *slot (for source) when missing; fills half 0 now unless the buffer
// still holds a paused stream; starts the server. 0, ERR_MEM, ERR_CREATEEVENT,
// ERR_SEMAPHORE or ERR_THREAD.
int StartStreamServer(lvStreamBuffer **slot, lvSoundSource *source, int pass, int passes);
// Ends the server thread (the buffer keeps its halves for a resume). nullptr is ignored.
void StopStreamServer(lvStreamBuffer *buffer);
// Drops the halves (the source was sought or rewound); the server must be stopped.
void ResetStreamBuffer(lvStreamBuffer *buffer);
void FreeStreamBuffer(lvStreamBuffer *buffer);
// The mixer: the next frame (1), an underrun (0: the server is late; nothing consumed)
// or the end (-1). *pass follows the pass starts the server marked.
int TakeStreamFrame(lvStreamBuffer *buffer, const uint8_t **frame, int *pass);
int IsStreamServerRunning(const lvStreamBuffer *buffer);
// On a stream server's thread: its stop was requested (a read waiting in a decoder gives
// up). 0 on other threads.
int StreamServerStopRequested();
// Tests: waits until both halves are filled or the last one is written; 0 on time-out.
int WaitStreamBufferFilled(lvStreamBuffer *buffer, int timeoutMs);
// Pulls that found the half they needed not yet filled.
int64_t GetStreamUnderruns(const lvStreamBuffer *buffer);

// ---- Callback musics ------------------------------------------------------------------
// A kind-5 source at rate in engine code (0..5). 0, ERR_MEM, ERR_WRONGUSAGE.
int NewCallbackStreamSource(int rate, int code, lvSoundSource **out);
// Appends a block of frames (data in the stream's format; nullptr: the end marker) after
// dropping consumed blocks; the refill position grows by frames. 0 or ERR_MEM.
int QueueCallbackFrames(lvSoundSource *source, const void *data, int64_t frames);
// Drops every queued block and resets the refill position.
void EmptyCallbackQueue(lvSoundSource *source);
// Unconsumed frames queued and the refill position.
void GetCallbackQueueState(lvSoundSource *source, int64_t *queued, int64_t *position);
// For the dispatcher: the first playing callback music with less than a second queued;
// 1 with its identifier, the missing frames (up to two seconds) and the refill position.
int GetPendingMusicRequest(lvObjectId *id, int64_t *missing, int64_t *position);
// The dispatcher dispatched OnMusicEnd for the music.
void MarkMusicEnded(lvObjectId id);

// Music streams.
int AddMusicStream(int number, bool useHandle, lvSampleWriter *writer, int rate, int channels, int bits,
                   lvMusicStream **out);
void FinishMusicStream(lvMusicStream *stream);
void FreeAllMusicStreams();
