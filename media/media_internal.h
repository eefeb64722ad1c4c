// media_internal.h - what the media sources share among themselves: the two file
// writer back ends of the sample writer front end.
#pragma once
#include "media/lvsound.h"

struct lvWaveWriter;
struct lvIffWriter;
int OpenWaveWriter(const char *path, const char *adapter, const void *userTags, int rate, int channels, int bits,
                   uint32_t flags, lvWaveWriter **out);
int WriteWaveData(lvWaveWriter *writer, const void *data, int64_t bytes);
int CloseWaveWriter(lvWaveWriter *writer);
int OpenIff8svxWriter(const char *path, const char *adapter, const void *userTags, int rate, int channels,
                      int bits, uint32_t flags, lvIffWriter **out);
int WriteIff8svxData(lvIffWriter *writer, const void *data, int64_t bytes);
int CloseIff8svxWriter(lvIffWriter *writer);

// The platform's decoder (nativesound.cpp): kind 3 sources.
bool OpenNativeReader(lvSoundSource *source, const char *path, const char *adapter, const void *userTags);
void CloseNativeReader(lvSoundSource *source);
int64_t ReadNativeSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended);
void SeekNativeSource(lvSoundSource *source, int64_t frame);
const char *GetNativeTypeName(const lvSoundSource *source);
// A streamed native source's decode-ahead: frames queued now and the most ever queued,
// and whether the worker waits (ring two-thirds full, or the decoder ended). 0 while no
// worker runs.
int GetNativeDecodeAhead(const lvSoundSource *source, int64_t *queuedFrames, int64_t *mostFrames, int *paused);
