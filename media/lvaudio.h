// lvaudio.h - the audio engine's output half: the channel table and its lock, the audio
// device (the built-in software mixer over platform/lvplatform_audio.h, or an audio-adapter
// plug-in), samples on channels, frame marks turned into sample-loop and sample-end
// events, the reaper, and the event switches.
//
// Dependencies: lvsound.h (platform samples), platform/lvplatform_audio.h (the device),
// platform/lvplatform.h (system events), runtime/lvplugin.h (adapters).
// Threads: every operation here runs on the script thread and takes the channel lock.
// The mixer runs on the device's thread and reads only the voices, under the device
// lock; a voice leaves the mixer under that lock, so freed PCM is never read.
#pragma once
#include "media/lvsound.h"
#include "runtime/objects.h"
#include <cstdint>

struct lvAudioDevice;

// Channel states.
enum {
    LV_CH_FREE = 0,
    LV_CH_SAMPLERESERVED = 1,
    LV_CH_SAMPLE = 2,
    LV_CH_MODULE = 3,
    LV_CH_STREAM = 4,
    LV_CH_VIDEO = 5,
    LV_CH_MUSICRESERVED = 6,
    LV_CH_VIDEORESERVED = 7,
    LV_CH_FINISHED = 8,
};

// What the mixer plays for one channel; guarded by the device lock.
struct lvVoice {
    int active;               // the mixer plays it
    const uint8_t *data;      // PCM of the sample (unsigned 8-bit or little-endian 16-bit)
    int format;               // engine code 0, 1, 4 or 5
    int64_t frames;           // frames of one pass
    int64_t lastPassFrames;   // frames of the last pass (a "time" option cuts it)
    uint64_t position;        // 32.32 frame position in the current pass
    uint64_t step;            // 32.32 advance per output frame: pitch / 48000
    int32_t gainLeft;         // 16.16 gains from volume and panning; 0 is silent
    int32_t gainRight;
    int passes;               // passes to play; 0 or less: until stopped
    int pass;                 // the pass being mixed, from 1
    int loopMarks;            // passes completed since the script side last looked
    int endMark;              // the last pass ended
    void *music;              // music channels: the music's play state (music.cpp)
    int musicActive;          // the music mixer plays it
    void *video;              // video channels: the video's sound output (videosound.cpp)
    int videoActive;          // the video mixer plays it
};

// One entry of the channel table.
struct lvChannel {
    lvSampleBuffer *sample;   // sample channels
    void *source;             // stream channels (music)
    void *player;             // module channels (music)
    int state;                // LV_CH_
    int previousState;        // kept when an entry is marked finished
    lvObjectId id;            // the sample's, music's or video's identifier
    int passes;               // the "times" option; 0 or less plays until stopped
    int currentPass;          // from 1
    int64_t lastPassFrames;   // frames of the last pass
    int lastPassMs;           // milliseconds of the last pass
    int passMs;               // milliseconds of one pass
    int64_t framePosition;    // frame position in the current pass (adapter path)
    int volume;               // 0..64
    int panning;              // 0..255
    int pitch;                // Hz
    int firstFill;            // 1 until the first fill (adapter path)
    int64_t startUs;          // monotonic start stamp in microseconds
    int ended;                // the sound ended (adapter path)
    int64_t endUs;            // when the entry may be reaped (adapter path)
    void *adapterChannel;     // what the adapter's AllocAudioChannel gave
    lvVoice voice;            // the software mixer's part
};

// ---- Level mappings -------------------------------------------------------------
int VolumeToMillibels(int volume);      // 0..64 to hundredths of a decibel; 64 gives 0
int PanToDirectSound(int panning);      // 0..255 to -10000..10000, 128 gives 0
int32_t MillibelsToGain(int millibels); // 16.16 gain; -10000 or below is 0
// The two 16.16 gains of a volume and panning.
void ComputeVoiceGains(int volume, int panning, int32_t *left, int32_t *right);

// ---- The mixer ------------------------------------------------------------------
// Mixes count channels' voices into frames stereo frames of out (overwritten). Marks
// passes and ends in the voices. The device's pull callback.
void MixVoices(lvChannel *channels, int count, int16_t *out, int frames);

// ---- Device and table -----------------------------------------------------------
// Channel count used when the device opens (NUMCHANNELS; 0 keeps 8).
void SetChannelCountSetting(int count);
// 0, ERR_OPENAUDIO or ERR_MEM. sink: the output (nullptr: LUMIVARRA_AUDIO).
int OpenAudioDevice(const char *sink);
void CloseAudioDevice();
int IsAudioDeviceOpen();
int GetChannelCount();
lvAudioDevice *GetAudioDevice();
// The channel lock (recursive).
void LockChannels();
void UnlockChannels();
// Clears finished entries (state 8) after turning pending marks into events.
void ServiceSoundChannels();
// The lowest free channel (0-based) or -1; under the lock.
int FindFreeChannel();
// Stops what plays on a channel: a sample on that channel only, a music as a music
// (the music engine's hook stops it).
void StopChannelEntry(int channel);
void StopAllChannels();
// Kind 2 (sample), 33 (music), 50 (video) or 7 (free) and the identifier of what plays
// on a 0-based channel; ERR_CHANNELRANGE outside the table.
int GetChannelInfo(int channel, int *kind, lvObjectId *id);

// ---- Samples on channels ----------------------------------------------------------
// timeMs -1: none. passes: "times". channel -1: any. 0 or ERR_NOCHANNEL,
// ERR_CHANNELRANGE, ERR_WRONGUSAGE (a time option on a pass under 1 ms), ERR_ALLOCCHANNEL.
int PlaySampleOnChannel(lvSampleBuffer *sample, lvObjectId id, int pitch, int volume, int panning, int timeMs,
                        int passes, int channel);
// Starts every reserved sample channel on the same output frame.
void StartReservedChannels();
void StopSampleChannels(const lvSampleBuffer *sample, int channel);
// pitch, volume or panning -1 leave that value; channel -1: the first channel playing it.
void SetSampleAttributesOnChannels(const lvSampleBuffer *sample, int pitch, int volume, int panning, int channel);
int IsSampleOnChannel(const lvSampleBuffer *sample);
// ms within the current pass and passes completed; -1, -1 when not playing.
void GetSamplePlayPosition(const lvSampleBuffer *sample, int *ms, int *pass);

// ---- Audio-adapter plug-ins ----------------------------------------------------------
// The fill callback adapters call from their own thread (see lvplugin.h).
int FillChannelBuffer(void *ignored1, void *ignored2, void *buffer, int frames, void *entry);
// Installs an adapter: numChannels is the NUMCHANNELS setting (0: none), setupPhase
// whether start-up is requiring plug-ins. 0, ERR_WRONGUSAGE or ERR_SETADAPTER.
int InstallAudioAdapterPlugin(lvPluginRecord *plugin, uint32_t flags, const lvPluginTag *tags, int numChannels,
                              int setupPhase);
void UninstallAudioAdapter(); // while the device is closed (plug-ins unloading, tests)
lvPluginRecord *GetAudioAdapter();

// ---- Music channels (music.cpp plays them) -----------------------------------------------
// Adds frames of a music voice into out; the frames of sound, fewer than asked when the
// music ended in them (its last pass).
typedef int (*lvMusicMixFunction)(void *music, int16_t *out, int frames);
// Called on the script thread when a music channel ended or was stopped from the table.
typedef void (*lvMusicChannelHook)(lvObjectId id, int ended);
void SetMusicChannelHooks(lvMusicMixFunction mix, lvMusicChannelHook hook);
// Reserves a channel (-1: any) for a music in state LV_CH_STREAM or LV_CH_MODULE and
// starts it. 0, ERR_NOCHANNEL, ERR_CHANNELRANGE or ERR_OPENAUDIO; *used the channel.
int PlayMusicOnChannel(void *music, lvObjectId id, int state, int channel, int *used);
// Takes the music off its channel (nothing reads it afterwards).
void StopMusicChannel(void *music);
// Runs f under the device lock (the mixer does not run meanwhile).
void WithAudioLocked(void (*f)(void *), void *context);
int IsMusicOnChannel(void *music);

// ---- Video channels (videosound.cpp plays them) --------------------------------------------
// Adds frames of a video's sound into out (the mixer's thread, device lock held).
typedef void (*lvVideoMixFunction)(void *output, int16_t *out, int frames);
// Called on the script thread when a video channel was stopped from the table (its
// entry is already free): the video stops.
typedef void (*lvVideoChannelHook)(void *output);
void SetVideoChannelHooks(lvVideoMixFunction mix, lvVideoChannelHook hook);
// Reserves a channel (-1: any) in state LV_CH_VIDEORESERVED for a video's output.
// 0, ERR_OPENAUDIO, ERR_NOCHANNEL, ERR_CHANNELRANGE or ERR_UNSUPPORTEDFEAT (an adapter
// plays the channels); *used the channel.
int ReserveVideoChannel(void *output, lvObjectId id, int channel, int *used);
// The reserved channel of output joins the mixer (state LV_CH_VIDEO).
void ActivateVideoChannel(void *output);
// Takes the output off its channel, if it is still there; nothing reads it afterwards.
void ReleaseVideoChannel(void *output);

// ---- Capture ---------------------------------------------------------------------------
// The input for RecordAudio: an adapter's capture when it installed with capture (flag
// 4), else the platform's. 0, ERR_UNSUPPORTEDFEAT (an adapter without capture),
// ERR_OPENAUDIO (the adapter refused) or the platform's error.
struct lvCapture;
int StartCapture(int rate, int channels, int bits, lvCapture **out);
// The bytes recorded since the last call, at most bytes.
int64_t ReadCapture(lvCapture *capture, void *buffer, int64_t bytes);
void StopCapture(lvCapture *capture);
// An adapter is installed and offers capture (with none installed: 0).
int IsAdapterCaptureOffered();

// ---- Events -------------------------------------------------------------------------
// "onsampleloop", "onsampleend", "onmusicend" (case ignored); other names are ignored.
void SetSoundEventSwitches(const char *name, int on);
