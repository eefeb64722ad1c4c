// sampleobjects.cpp - the sample list, mixing samples into a new one, the frame copy
// between layouts, and insertion (lvsamples.h).
//
// Limits: script thread only. Platform samples hold unsigned 8-bit or little-endian
// 16-bit data, so values are widened from those two forms only.
#include "media/lvsamples.h"
#include "base/lverrors.h"
#include "runtime/errors.h"
#include <cstring>

namespace {
lvObjectHeader *sampleList = nullptr;
}

lvObjectHeader **GetSampleListHead() { return &sampleList; }

lvSample *FindSample(lvObjectId id)
{
    for (lvObjectHeader *h = sampleList; h; h = h->next)
        if (ObjectIdMatches(h, id)) return (lvSample *)h;
    return nullptr;
}

int LookupSample(lvObjectId id, lvSample **out)
{
    *out = FindSample(id);
    if (*out) return 0;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDSAMPLE;
}

int AddSample(int number, bool useHandle, lvSampleBuffer *buffer, int hardware, lvSample **out)
{
    lvSample *s = (lvSample *)AllocMemory(sizeof(lvSample), 1);
    if (!s) {
        DisposeSampleBuffer(buffer);
        return ERR_MEM;
    }
    InitObjectHeader(&s->header, 2, number, useHandle);
    s->buffer = buffer;
    s->volume = 64;
    s->panning = 128;
    s->pitch = buffer->rate;
    s->format = buffer->format;
    s->bytes = buffer->frames * buffer->bytesPerFrame;
    s->hardware = hardware;
    lvObjectHeader **tail = &sampleList;
    while (*tail) tail = &(*tail)->next;
    *tail = &s->header;
    *out = s;
    return 0;
}

void RemoveSample(lvSample *sample, const lvRefOps *ops)
{
    for (lvObjectHeader **link = &sampleList; *link; link = &(*link)->next) {
        if (*link == &sample->header) {
            *link = sample->header.next;
            break;
        }
    }
    StopSampleChannels(sample->buffer, -1);
    DisposeSampleBuffer(sample->buffer);
    FreeObjectUserData(&sample->header.userData, ops);
    FreeMemory(sample);
}

void RemoveSampleIfPresent(int number, const lvRefOps *ops)
{
    if (lvSample *old = FindSample(lvObjectId{number, nullptr})) RemoveSample(old, ops);
}

void FreeAllSamples(const lvRefOps *ops)
{
    while (sampleList) RemoveSample((lvSample *)sampleList, ops);
}

// ============================================================================
// Values
// ============================================================================

int32_t SampleValue16(const lvSampleBuffer *s, int64_t frame, int channel)
{
    int c = s->channels == 2 ? channel : 0;
    if (s->bits == 8) return ((int32_t)s->data[frame * s->channels + c] - 128) * 256;
    const uint8_t *p = s->data + (frame * s->channels + c) * 2;
    return (int16_t)(p[0] | p[1] << 8);
}

// ============================================================================
// Mixing
// ============================================================================

int MixSampleSources(const lvMixSource *sources, int count, int64_t frames, double outPitch, int code,
                     uint8_t **out)
{
    int frameSize = GetSampleFrameSize(code);
    uint8_t *data = (uint8_t *)AllocMemory((size_t)(frames * frameSize), 0);
    if (!data) return ERR_MEM;
    struct Cursor {
        double position;
        int64_t mixed;
        double step;
    };
    Cursor *cursor = (Cursor *)AllocMemory(sizeof(Cursor) * (size_t)(count ? count : 1), 1);
    if (!cursor) {
        FreeMemory(data);
        return ERR_MEM;
    }
    for (int i = 0; i < count; i++) {
        cursor[i].position = sources[i].offset;
        cursor[i].step = sources[i].pitch / outPitch;
    }
    for (int64_t f = 0; f < frames; f++) {
        int64_t left = 0, right = 0;
        for (int i = 0; i < count; i++) {
            const lvMixSource &src = sources[i];
            Cursor &cur = cursor[i];
            if (src.threshold > f || cur.mixed == src.length) continue;
            int64_t total = src.sample->frames;
            int64_t at = (int64_t)cur.position;
            if (at >= total) {
                if (!src.loop || total <= 0) continue;
                at %= total;
            }
            // 24-bit working values: 8-bit samples x 65536, 16-bit x 256.
            int64_t l = (int64_t)SampleValue16(src.sample, at, 0) * 256;
            int64_t r = (int64_t)SampleValue16(src.sample, at, 1) * 256;
            if (src.scale != 1.0) {
                l = (int64_t)(l * src.scale);
                r = (int64_t)(r * src.scale);
            }
            left += l;
            right += r;
            cur.position += cur.step;
            cur.mixed++;
        }
        if (left > 8388607) left = 8388607;
        if (left < -8388608) left = -8388608;
        if (right > 8388607) right = 8388607;
        if (right < -8388608) right = -8388608;
        switch (code) {
        case LV_SMP_S8_MONO: data[f] = (uint8_t)(int8_t)((left + right) >> 17); break;
        case LV_SMP_S8_STEREO:
            data[2 * f] = (uint8_t)(int8_t)(left >> 16);
            data[2 * f + 1] = (uint8_t)(int8_t)(right >> 16);
            break;
        case LV_SMP_S16_MONO: {
            int16_t v = (int16_t)((left + right) >> 9);
            data[2 * f] = (uint8_t)v, data[2 * f + 1] = (uint8_t)((uint16_t)v >> 8);
            break;
        }
        default: {
            int16_t l = (int16_t)(left >> 8), r = (int16_t)(right >> 8);
            data[4 * f] = (uint8_t)l, data[4 * f + 1] = (uint8_t)((uint16_t)l >> 8);
            data[4 * f + 2] = (uint8_t)r, data[4 * f + 3] = (uint8_t)((uint16_t)r >> 8);
            break;
        }
        }
    }
    FreeMemory(cursor);
    *out = data;
    return 0;
}

// ============================================================================
// Frame copy and insertion
// ============================================================================

void InitFrameCopyOptions(lvFrameCopyOptions *options)
{
    options->loop = 1;
    options->offset = 0;
    options->start = 0;
    options->end = 0;
}

static void PutValue(uint8_t *at, int32_t value, int bits, int isSigned)
{
    if (bits == 16) {
        at[0] = (uint8_t)value, at[1] = (uint8_t)((uint16_t)value >> 8);
    } else if (isSigned) {
        at[0] = (uint8_t)(int8_t)(value / 256);
    } else {
        at[0] = (uint8_t)(value / 256 + 128);
    }
}

int CopySampleFrames(const lvSampleBuffer *source, const lvFrameCopyOptions *o, int bits, int isSigned,
                     int channels, int64_t frames, uint8_t *out)
{
    int64_t end = o->end ? o->end : source->frames;
    if (o->offset < 0 || o->start < 0 || o->end < 0 || (o->end && o->start >= o->end) || end > source->frames ||
        o->start >= end)
        return ERR_SMPRANGE;
    int64_t range = end - o->start;
    int64_t offset = o->offset;
    int bytes = bits / 8;
    for (int64_t f = 0; f < frames; f++) {
        if (offset >= range && o->loop) offset %= range;
        for (int c = 0; c < channels; c++) {
            uint8_t *at = out + (f * channels + c) * bytes;
            if (offset >= range) {
                PutValue(at, 0, bits, isSigned);
                continue;
            }
            // A mono source feeds both sides; a stereo source feeds a mono target its left.
            PutValue(at, SampleValue16(source, o->start + offset, channels == 2 ? c : 0), bits, isSigned);
        }
        offset++;
    }
    return 0;
}

int InsertSampleFrames(lvSample *target, const lvSample *source, int64_t position, int64_t frames,
                       const lvFrameCopyOptions *options)
{
    lvSampleBuffer *t = target->buffer;
    if (frames <= 0 || frames > source->buffer->frames) frames = source->buffer->frames;
    if (position < 0) position = 0;
    if (position > t->frames) position = t->frames;
    int frameSize = t->bytesPerFrame;
    uint8_t *data = (uint8_t *)AllocMemory((size_t)((t->frames + frames) * frameSize), 0);
    if (!data) return ERR_MEM;
    int code = CopySampleFrames(source->buffer, options, t->bits, 0, t->channels, frames, data + position * frameSize);
    if (code) {
        FreeMemory(data);
        return code;
    }
    memcpy(data, t->data, (size_t)(position * frameSize));
    memcpy(data + (position + frames) * frameSize, t->data + position * frameSize,
           (size_t)((t->frames - position) * frameSize));
    ReplaceSampleData(t, data, t->frames + frames, t->rate);
    target->bytes = t->frames * frameSize;
    return 0;
}
