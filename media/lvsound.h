// lvsound.h - the audio engine's sample side: format codes, platform samples, sound
// sources over the built-in RIFF WAVE and IFF 8SVX/16SV readers and decoder plug-ins,
// whole-file sample loading, and the sample writers (WAVE, IFF, saver plug-ins).
//
// Dependencies: runtime/vfile.h (files, adapter scans), runtime/lvplugin.h (decoder and
// saver exports), platform memory.
// Limits: script thread only, except that a platform sample's PCM may be read by the
// mixer while its owner keeps it alive. File sizes are 32-bit as both formats store them.
#pragma once
#include "runtime/lvplugin.h"
#include "runtime/vfile.h"
#include <cstddef>
#include <cstdint>

// ============================================================================
// Engine format codes
// ============================================================================

enum {
    LV_SMP_U8_MONO = 0,    // unsigned 8-bit, silence 128
    LV_SMP_U8_STEREO = 1,  // unsigned 8-bit, interleaved
    LV_SMP_S8_MONO = 2,    // signed 8-bit
    LV_SMP_S8_STEREO = 3,  // signed 8-bit, interleaved
    LV_SMP_S16_MONO = 4,   // signed 16-bit little-endian
    LV_SMP_S16_STEREO = 5, // signed 16-bit little-endian, interleaved
};

// Sample and source flags.
#define LV_SMPF_BIGENDIAN 1 // 16-bit data stored big-endian
#define LV_SMPF_SIGNED 2    // 8-bit data signed (set on 16-bit data too)

int ComputeSampleFormat(int channels, int bits, uint32_t flags); // -1 unsupported
int GetSampleFrameSize(int code);                               // 0 for an unknown code
// Script constants #MONO8 0, #MONO16 1, #STEREO8 2, #STEREO16 3 (8-bit script data is
// signed) to engine codes and back; -1 for a value outside them.
int ScriptToEngineFormat(int scriptFormat);
int EngineToScriptFormat(int code);

// ============================================================================
// Platform samples
// ============================================================================

struct lvSampleBuffer {
    uint8_t *data;      // PCM (AllocMemory), owned
    int bits;           // 8 or 16
    int bytesPerFrame;  // 1, 2 or 4
    int channels;       // 1 or 2
    uint32_t flags;     // LV_SMPF_ bits
    int64_t frames;     // frames of data
    void *output;       // output-side handle; unused by the software mixer
    int format;         // engine code
    int rate;           // natural pitch in Hz
};

// Takes ownership of data (AllocMemory). Signed 8-bit data is turned unsigned in place.
// 0, ERR_MEM or ERR_WRONGUSAGE (bad code); on failure the data is freed.
int NewSampleBuffer(uint8_t *data, int64_t frames, int rate, int code, lvSampleBuffer **out);
int CopySampleBuffer(const lvSampleBuffer *sample, lvSampleBuffer **out); // 0 or ERR_MEM
// Takes ownership of data; the old data is freed.
void ReplaceSampleData(lvSampleBuffer *sample, uint8_t *data, int64_t frames, int rate);
void DisposeSampleBuffer(lvSampleBuffer *sample);
int IsSampleBigEndian(const lvSampleBuffer *sample);

// ============================================================================
// Sound sources
// ============================================================================

enum { LV_SRC_WAVE = 0, LV_SRC_IFF = 1, LV_SRC_NATIVE = 3, LV_SRC_PLUGIN = 4, LV_SRC_CALLBACK = 5, LV_SRC_MODULE = 7 };

// Decoder plug-ins' records and exports (runtime/lvplugin.h).
typedef lvPluginStreamInfo lvStreamInfo;
typedef lvPluginStreamRequest lvStreamRequest;
#define LV_STREAMF_BIGENDIAN LVP_STREAM_BIGENDIAN
#define LV_STREAMF_SIGNED LVP_STREAM_SIGNED
#define LV_STREAMF_CANSEEK LVP_STREAM_CANSEEK
#define LV_STREAMF_UNKNOWNLENGTH LVP_STREAM_UNKNOWNLENGTH

struct lvSoundSource {
    lvVFile *file;          // kinds 0 and 1
    void *stream;           // kind 4: the plug-in's stream handle
    int bits;               // 8 or 16
    int bytesPerFrame;      // bytes of one frame
    int channels;           // 1 or 2
    uint32_t flags;         // LV_SMPF_ bits
    int rate;               // Hz
    int compression;        // IFF compression byte (0)
    int64_t totalBytes;     // 0 when unknown
    int64_t totalFrames;    // 0 when unknown
    int64_t nominalFrames;  // total frames, or rate x 600 for an unknown length
    int64_t position;       // next frame to read
    int64_t dataOffset;     // file offset of the first data byte
    int64_t planeBytes;     // IFF stereo: offset of the right samples from dataOffset
    int64_t lastBytes;      // bytes delivered by the last read
    int64_t lastFrames;     // frames delivered by the last read
    int kind;               // LV_SRC_
    int format;             // engine code, -1 unsupported
    int streamFlag;         // opened for playing as music
    int canSeek;            // seeking is possible
    int subsongs;           // number of subsongs
    uint8_t *scratch;       // IFF stereo de-planarising
    size_t scratchSize;     // its size
    lvPluginRecord *plugin; // kind 4: the decoder
    int timedModule;        // kind 7: measured and stopping at the song's end
    int bitrate;            // bits a second when the file tells (MPEG pre-scan), else 0
};

// 0 and the source (and its decoder: a plug-in record, or none for the built-in
// readers), ERR_OPENSOUND2 (file exists) or ERR_READFILE; the path fills "%s".
int OpenSoundSource(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                    int subsong, int timedModule, int streamFlag, lvSoundSource **out, lvPluginRecord **decoder);
void FreeSoundSource(lvSoundSource *source);
int64_t ReadSoundSource(lvSoundSource *source, void *buffer, int64_t frames, int *ended);
void SeekSoundSource(lvSoundSource *source, int64_t frame);
const char *GetSoundSourceTypeName(const lvSoundSource *source);
// Kind 5 (callback musics, music.cpp): the queue's reader and its release.
int64_t ReadCallbackQueue(lvSoundSource *source, void *buffer, int64_t frames, int *ended);
void FreeCallbackQueue(void *queue);

// Whole-file loading. typeName receives the format's name (256 bytes).
struct lvLoadedSample {
    lvSampleBuffer *sample;  // the PCM
    int64_t bytes;           // data bytes
    int rate;                // Hz
    int format;              // engine code
    lvPluginRecord *decoder; // none for the built-in readers
    char typeName[256];      // "RIFF WAVE", "IFF 8SVX", "IFF 16SV" or the plug-in's name
};
int LoadSampleFile(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   lvLoadedSample *out);
int IsSampleFile(const char *path, const char *loaderList, const char *adapter, const void *userTags);

// ============================================================================
// Built-in readers (the file is open; true when accepted, the source then filled)
// ============================================================================

bool OpenIff8svxReader(lvSoundSource *source, int sixteenBit);
bool OpenWaveReader(lvSoundSource *source);
int64_t ReadIff8svxSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended);
int64_t ReadWaveSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended);

// ============================================================================
// Sample writers
// ============================================================================

enum { LV_SAVE_WAVE = 0, LV_SAVE_IFF = 1 };

// The record a saver plug-in receives (runtime/lvplugin.h).
typedef lvPluginSaverParams lvSaverParams;

struct lvSampleWriter;
// flags: LV_SMPF_ bits of the data the caller will pass. 0 or ERR_WRITEFILE, ERR_WRITE,
// ERR_MEM, ERR_SAVESAMPLE, ERR_UNKNOWNSMPOUT, ERR_WRONGUSAGE (unsupported layout).
int OpenSampleWriter(const char *path, const char *adapter, const void *userTags, int formatId, int rate,
                     int channels, int bits, int bitrate, int quality, int streamFlag, uint32_t flags,
                     lvSampleWriter **out);
int WriteSampleWriter(lvSampleWriter *writer, const void *data, int64_t bytes);
int CloseSampleWriter(lvSampleWriter *writer);
// Writes a whole platform sample. 0 or an error of the calls above.
int SaveSampleBuffer(const lvSampleBuffer *sample, int rate, const char *path, int formatId, const char *adapter,
                     const void *userTags, int bitrate, int quality);

// Largest data count the writers store: past it the 32-bit size fields would wrap.
// Tests lower it to reach the limit without gigabytes of data (0 restores it).
void SetSampleWriterLimitForTests(uint64_t bytes);
