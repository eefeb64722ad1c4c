// lvplatform_audio.h - one audio output device with a pull callback: the device asks
// for frames of 48000 Hz signed 16-bit stereo and knows nothing of channels or samples.
// Three sinks: SDL2 (the real output), "null" (paced by CLOCK_MONOTONIC; with
// "null:FILE.wav" the rendered output is kept as a WAVE file) and "manual" (no thread:
// tests pull frames themselves). LUMIVARRA_AUDIO=sdl|null|null:FILE.wav|manual chooses.
#ifndef LVPLATFORM_AUDIO_H
#define LVPLATFORM_AUDIO_H

#include <cstddef>
#include <cstdint>

#define LV_AUDIO_RATE 48000
#define LV_AUDIO_PERIOD 1024 // frames of one pull

// Fills frames interleaved stereo frames at out. Runs on the device's thread with the
// device lock held; must not block or throw.
typedef void (*lvAudioPull)(void *user, int16_t *out, int frames);

struct lvAudioDevice;

// sink: nullptr reads LUMIVARRA_AUDIO (unset: "sdl"). 0 or ERR_OPENAUDIO; the reason
// goes to errorText when given.
int OpenAudioOutput(const char *sink, lvAudioPull pull, void *user, lvAudioDevice **out, char *errorText = nullptr,
                    size_t errorSize = 0);
// Stops the thread (or SDL's callback), finishes a null sink's file and frees the device.
void CloseAudioOutput(lvAudioDevice *device);
// While held, the pull callback does not run: what it reads may be changed or freed.
void LockAudioOutput(lvAudioDevice *device);
void UnlockAudioOutput(lvAudioDevice *device);
// "sdl", "null" or "manual".
const char *GetAudioOutputKind(const lvAudioDevice *device);
// Manual sink: pulls frames now (locked) into out; other sinks ignore it.
void PumpAudioOutput(lvAudioDevice *device, int16_t *out, int frames);
// Frames handed out since the device opened.
uint64_t GetAudioOutputFrames(lvAudioDevice *device);

// ---- Capture ------------------------------------------------------------------------------
// The audio input (SDL2's capture device in queue mode) at rate, 1 or 2 channels, 8-bit
// unsigned or 16-bit signed little-endian. 0, ERR_WRONGUSAGE, ERR_MEM or ERR_OPENAUDIO.
struct lvAudioCapture;
int StartAudioCapture(int rate, int channels, int bits, lvAudioCapture **out, char *errorText = nullptr,
                      size_t errorSize = 0);
// Copies what was captured, at most bytes (whole frames); 0 when nothing is waiting.
int64_t ReadAudioCapture(lvAudioCapture *capture, void *buffer, int64_t bytes);
void StopAudioCapture(lvAudioCapture *capture);

#endif
