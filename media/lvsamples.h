// lvsamples.h - sample objects (type 2, "Samples") and the operations on their PCM that
// the sound commands share: finding and removing, mixing several samples into a new one,
// the frame copy between layouts, and insertion.
//
// Dependencies: lvsound.h (platform samples), lvaudio.h (stopping a removed sample's
// channels), runtime/objects.h.
// Limits: script thread only.
#pragma once
#include "media/lvaudio.h"
#include "media/lvsound.h"
#include "runtime/objects.h"

struct lvRefOps;

struct lvSample {
    lvObjectHeader header;    // type 2, identifier, handle, user data, next
    lvSampleBuffer *buffer;   // the PCM, owned
    int volume;               // 0..64 for later plays
    int pitch;                // play rate in Hz, at least 256
    int format;               // engine code
    int64_t bytes;            // data bytes
    int panning;              // 0..255
    int hardware;             // only hardware samples play
    lvPluginRecord *decoder;  // the decoder plug-in, or none for the built-in readers
    int nativeDecoder;        // decoded by the platform's decoder
    char typeName[256];       // the file format's name, empty for made samples
};

lvObjectHeader **GetSampleListHead();
// The sample, or nullptr.
lvSample *FindSample(lvObjectId id);
// 0, or ERR_FINDSAMPLE (number as "%d") / ERR_FINDARRAY for a handle.
int LookupSample(lvObjectId id, lvSample **out);
// A new record at the list's tail owning buffer (freed on failure): volume 64, panning
// 128, the buffer's rate as pitch. A used number is freed first. 0 or ERR_MEM.
int AddSample(int number, bool useHandle, lvSampleBuffer *buffer, int hardware, lvSample **out);
// Unlinks, stops its channels, frees the PCM, its user data and the record.
void RemoveSample(lvSample *sample, const lvRefOps *ops);
void RemoveSampleIfPresent(int number, const lvRefOps *ops);
void FreeAllSamples(const lvRefOps *ops);

// ---- Mixing ----------------------------------------------------------------------------

struct lvMixSource {
    const lvSampleBuffer *sample; // the source PCM
    double pitch;                 // its rate
    double offset;                // start frame (real)
    int threshold;                // output frame where it starts
    int64_t length;               // frames to mix, -1 unlimited
    int loop;                     // wrap at its end
    double scale;                 // factor
};
// New PCM of frames frames in engine code 2..5 (AllocMemory), *out. 0, ERR_MEM.
int MixSampleSources(const lvMixSource *sources, int count, int64_t frames, double outPitch, int code,
                     uint8_t **out);

// ---- Frame copy --------------------------------------------------------------------------

struct lvFrameCopyOptions {
    int loop;       // wrap at the range's end (default 1)
    int64_t offset; // frame within the range where copying starts
    int64_t start;  // range start (default 0)
    int64_t end;    // range end, 0: the source's end
};
void InitFrameCopyOptions(lvFrameCopyOptions *options);
// Writes frames frames in the target layout (bits, signed, channels) at out. 0 or
// ERR_SMPRANGE for a bad range.
int CopySampleFrames(const lvSampleBuffer *source, const lvFrameCopyOptions *options, int bits, int isSigned,
                     int channels, int64_t frames, uint8_t *out);

// Inserts frames (0 or less, or more than the source has: all) of source at position
// (clamped) into target. 0, ERR_MEM or ERR_SMPRANGE.
int InsertSampleFrames(lvSample *target, const lvSample *source, int64_t position, int64_t frames,
                       const lvFrameCopyOptions *options);

// The value of one channel of one frame widened to 16 bits.
int32_t SampleValue16(const lvSampleBuffer *sample, int64_t frame, int channel);
