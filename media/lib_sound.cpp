// lib_sound.cpp - the "sound" library: the sample and channel commands over the audio
// engine (lvsound.h, lvaudio.h, lvsamples.h), the sample attributes, and the library's
// open and close steps. The music commands are lib_music.cpp's; this file registers
// them with the library.
//
// Each command checks its argument count first, reads its arguments, then calls the
// engine; engine failures come back as codes, which the machine raises.
// Limits: script thread only.
#include "media/lib_sound.h"
#include "media/lib_music.h"
#include "media/lvmusic.h"
#include "media/lvsamples.h"
#include "base/lverrors.h"
#include "libs/dos_engine.h"
#include "libs/memblock_engine.h"
#include "platform/lvplatform.h"
#include "runtime/cmdsupport.h"
#include "runtime/config.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/plugin.h"
#include "runtime/vfile.h"
#include "runtime/startup.h"
#include "vm/lvvm.h"
#include <cmath>
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

// ---- Library state -----------------------------------------------------------------

struct lvSoundLibrary {
    int noSound = 0;     // NOSOUND
    int forceSound = 0;  // FORCESOUND or ForceSound
    int audioOpen = 0;   // the library opened audio (CloseAudio clears it, the device stays)
    int audioFailed = 0; // an opening failed: quiet commands do nothing
    const char *outputSink = nullptr; // the sink; nullptr: LUMIVARRA_AUDIO
};
lvSoundLibrary sound;

int CopyRegistryReference(void *context, int ref)
{
    lvState *L = static_cast<lvState *>(context);
    GetTableItemRaw(L, LV_REGISTRYINDEX, ref);
    return CreateReference(L, LV_REGISTRYINDEX);
}
void ReleaseRegistryReference(void *context, int ref)
{
    ReleaseReference(static_cast<lvState *>(context), LV_REGISTRYINDEX, ref);
}
lvRefOps soundRefOps = {nullptr, CopyRegistryReference, ReleaseRegistryReference};

struct FreeMemoryDeleter {
    void operator()(void *p) const { FreeMemory(p); }
};
struct UserTagsDeleter {
    void operator()(lvUserTag *p) const { FreeUserTags(p, 0); }
};
struct SampleBufferDeleter {
    void operator()(lvSampleBuffer *p) const { DisposeSampleBuffer(p); }
};

// Quiet commands do nothing under NOSOUND or after a failed opening.
bool Quiet() { return sound.noSound || sound.audioFailed; }

// Opens the device on demand: 0, a code to raise (only with FORCESOUND), or -1 to
// return quietly.
int EnsureAudio()
{
    if (sound.audioOpen) return 0;
    int code = IsAudioDeviceOpen() ? 0 : OpenAudioDevice(sound.outputSink);
    if (!code) {
        sound.audioOpen = 1;
        sound.audioFailed = 0;
        return 0;
    }
    sound.audioFailed = 1;
    return sound.forceSound ? code : -1;
}

// ---- Argument helpers ----------------------------------------------------------------

int IntArg(lvState *L, int index) { return (int)NumberToInt64(CheckNumberArg(L, index)); }

// The panning argument: #CENTER, #LEFT, #RIGHT, else clamped 0..255.
int MapPanning(double value)
{
    if (value == -100000) return 128;
    if (value == -90000) return 0;
    if (value == -80000) return 255;
    if (value >= 256) return 255;
    if (value < 0) return 0;
    return (int)value;
}

int ClampVolume(double value) { return value < 0 ? 0 : value > 64 ? 64 : (int)value; }

bool IsTable(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) == LV_TTABLE; }

int TableArgOrNil(lvState *L, int index)
{
    if (GetStackTop(L) < index || GetValueType(L, index) == LV_TNIL) return 0;
    if (GetValueType(L, index) != LV_TTABLE) {
        SetErrorNumberArg(index);
        return ERR_TABEXPECTED;
    }
    return 0;
}

// Pushes the identifier of a sample made for Nil; 0 results otherwise.
int CreatedResult(lvState *L, lvSample *s, int isNil)
{
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&s->header));
    return 1;
}

// ---- Loading, freeing, testing -----------------------------------------------------------

// LoadSample(id, file[, {hardware, loader, adapter, usertags}])
int CmdLoadSample(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    const char *file = GetLinkedFileArg(L, 2, 0, nullptr);
    if (int code = TableArgOrNil(L, 3)) return code;
    if (Quiet()) return 0;
    int open = EnsureAudio();
    if (open < 0) return 0;
    if (open) return open;
    int hardware = 1;
    char loader[256] = "", adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 3)) {
        GetFieldBool(L, 3, "hardware", &hardware);
        GetFieldStringBuf(L, 3, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, 3, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 3, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    if (!isNil) RemoveSampleIfPresent(number, &soundRefOps);
    SetErrorStringArg(file);
    lvLoadedSample loaded;
    int code = LoadSampleFile(file, loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr, tags, &loaded);
    if (code) return code;
    lvSample *s = nullptr;
    if ((code = AddSample(number, isNil != 0, loaded.sample, hardware, &s))) return code;
    s->decoder = loaded.decoder;
    CopyStrBounded(s->typeName, sizeof s->typeName, loaded.typeName);
    return CreatedResult(L, s, isNil);
}

// IsSample(file[, {loader, adapter, usertags}]) -> boolean
int CmdIsSample(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *file = GetLinkedFileArg(L, 1, 0, nullptr);
    if (int code = TableArgOrNil(L, 2)) return code;
    char loader[256] = "", adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 2)) {
        GetFieldStringBuf(L, 2, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, 2, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 2, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    PushBoolean(L, IsSampleFile(file, loader[0] ? loader : nullptr, adapter[0] ? adapter : nullptr, tags));
    return 1;
}

// FreeSample(id)
int CmdFreeSample(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (Quiet()) return 0;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    RemoveSample(s, &soundRefOps);
    return 0;
}

// ---- Playing -------------------------------------------------------------------------------

// PlaySample(id, options or times[, id, options or times ...])
int CmdPlaySample(lvState *L)
{
    CheckArgCount(L, 1, 0, 0, 0);
    int top = GetStackTop(L);
    int pairs = (top + 1) / 2;
    if (pairs > 4) return ERR_WRONGUSAGE;
    struct Play {
        lvSample *sample;
        int times, timeMs, volume, pitch, panning, channel;
    } plays[4];
    // Every argument is read and checked before anything plays.
    for (int p = 0; p < pairs; p++) {
        int idIndex = 2 * p + 1, optIndex = 2 * p + 2;
        lvObjectId id = GetObjectIdArg(L, idIndex);
        Play &play = plays[p];
        play = {nullptr, 1, -1, -1, -1, -1, -1};
        lvSample *s = nullptr;
        if (!Quiet()) {
            if (int code = LookupSample(id, &s)) return code;
            play.volume = s->volume;
            play.pitch = s->pitch;
            play.panning = s->panning;
        }
        play.sample = s;
        if (optIndex <= top && GetValueType(L, optIndex) == LV_TTABLE) {
            double value;
            int present = 0;
            if (GetFieldNumber(L, optIndex, "time", &value, &present)) {
                if (value <= 0) return ERR_WRONGUSAGE;
                play.timeMs = (int)value;
            }
            if (GetFieldNumber(L, optIndex, "volume", &value)) play.volume = ClampVolume(value);
            if (GetFieldNumber(L, optIndex, "panning", &value)) play.panning = MapPanning(value);
            int times;
            if (GetFieldInt(L, optIndex, "times", &times)) {
                play.times = times;
                play.timeMs = -1;
            }
            int pitch;
            if (GetFieldInt(L, optIndex, "pitch", &pitch)) play.pitch = pitch;
            int channel;
            if (GetFieldInt(L, optIndex, "channel", &channel)) play.channel = channel > 0 ? channel - 1 : -1;
        } else if (optIndex <= top && GetValueType(L, optIndex) != LV_TNIL) {
            play.times = IntArg(L, optIndex);
        }
    }
    if (Quiet()) return 0;
    int open = EnsureAudio();
    if (open < 0) return 0;
    if (open) return open;
    int code = 0;
    for (int p = 0; p < pairs && !code; p++) {
        Play &play = plays[p];
        if (!play.sample->hardware) code = ERR_NOHWSAMPLE;
        else if (play.pitch < 256) code = ERR_LOWFREQ;
        else
            code = PlaySampleOnChannel(play.sample->buffer, GetObjectIdOf(&play.sample->header), play.pitch,
                                       play.volume, play.panning, play.timeMs, play.times, play.channel);
    }
    // What was set up before a failure still starts: nothing stays reserved for ever.
    StartReservedChannels();
    return code;
}

// StopSample(id)
int CmdStopSample(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (!sound.audioOpen) return 0;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    StopSampleChannels(s->buffer, -1);
    return 0;
}

// SetVolume(id, volume) / SetPitch(id, pitch) / SetPanning(id, panning)
int CmdSetVolume(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    double value = GetNumberOrPercentArg(L, 2, 64, 0, nullptr);
    // -1 is the engine's "leave unchanged" marker, never a level.
    if (value == -1) return ERR_WRONGUSAGE;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    s->volume = ClampVolume(value);
    SetSampleAttributesOnChannels(s->buffer, -1, s->volume, -1, -1);
    return 0;
}

int CmdSetPitch(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int pitch = IntArg(L, 2);
    if (pitch < 256) return ERR_LOWFREQ;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    s->pitch = pitch;
    SetSampleAttributesOnChannels(s->buffer, pitch, -1, -1, -1);
    return 0;
}

int CmdSetPanning(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    double value = CheckNumberArg(L, 2);
    if (value == -1) return ERR_WRONGUSAGE;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    s->panning = MapPanning(value);
    SetSampleAttributesOnChannels(s->buffer, -1, -1, s->panning, -1);
    return 0;
}

// WaitSampleEnd(id)
int CmdWaitSampleEnd(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (GetRuntimeSwitches()->forbidModal) return ERR_FORBIDMODAL;
    if (!sound.audioOpen) return 0;
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    while (IsSampleOnChannel(s->buffer)) {
        if (int code = GetStartupHooks()->PollRuntimeEvents(L, 2)) return code;
        if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return 0;
        // The event pass runs no script callbacks, so the sample cannot go meanwhile.
        SleepMilliseconds(10);
    }
    return 0;
}

// IsSamplePlaying(id) -> boolean
int CmdIsSamplePlaying(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    PushBoolean(L, sound.audioOpen && IsSampleOnChannel(s->buffer));
    return 1;
}

// IsSound() -> boolean
int CmdIsSound(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (sound.noSound) {
        PushBoolean(L, 0);
        return 1;
    }
    int ok = sound.audioOpen || IsAudioDeviceOpen() || OpenAudioDevice(sound.outputSink) == 0;
    PushBoolean(L, ok);
    return 1;
}

// ---- Making and editing samples -----------------------------------------------------------

// Reads count items of a "pcm" table into signed data of the engine code.
int ReadPcmItems(lvState *L, int table, int code, int64_t values, uint8_t *data)
{
    bool sixteen = code >= 4;
    for (int64_t i = 0; i < values; i++) {
        GetTableItemRaw(L, table, (int)i);
        double v = GetValueType(L, -1) == LV_TNUMBER ? ValueToNumber(L, -1) : 0;
        SetStackTop(L, -2);
        if (sixteen ? (v < -32768 || v > 32767) : (v < -128 || v > 127)) return ERR_SMPRANGE;
        int value = (int)v;
        if (sixteen) data[2 * i] = (uint8_t)value, data[2 * i + 1] = (uint8_t)((uint16_t)value >> 8);
        else data[i] = (uint8_t)(int8_t)value;
    }
    return 0;
}

void SwapPairs(uint8_t *data, int64_t bytes)
{
    for (int64_t i = 0; i + 1 < bytes; i += 2) {
        uint8_t t = data[i];
        data[i] = data[i + 1];
        data[i + 1] = t;
    }
}

// CreateSample(id, {source, id, offset, swap, items...}, pitch[, format, frames, {hardware}])
int CmdCreateSample(lvState *L)
{
    CheckArgCount(L, 3, 6, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    CheckTableArg(L, 2);
    int pitch = IntArg(L, 3);
    int scriptFormat = GetStackTop(L) >= 4 ? IntArg(L, 4) : 0;
    int64_t frames = GetStackTop(L) >= 5 ? NumberToInt64(CheckNumberArg(L, 5)) : 0;
    if (int code = TableArgOrNil(L, 6)) return code;
    int hardware = 1;
    if (IsTable(L, 6)) GetFieldBool(L, 6, "hardware", &hardware);
    if (Quiet()) return 0;
    int open = EnsureAudio();
    if (open < 0) return 0;
    if (open) return open;
    int code = ScriptToEngineFormat(scriptFormat);
    if (code < 0) return ERR_WRONGUSAGE;
    if (pitch < 256) return ERR_LOWFREQ;
    if (frames < 0) return ERR_WRONGUSAGE;
    if (!isNil) RemoveSampleIfPresent(number, &soundRefOps);
    int channels = (code == LV_SMP_S8_STEREO || code == LV_SMP_S16_STEREO) ? 2 : 1;
    int frameSize = GetSampleFrameSize(code);
    char source[32] = "pcm";
    GetFieldStringBuf(L, 2, "source", source, sizeof source);
    std::unique_ptr<uint8_t, FreeMemoryDeleter> data;
    if (!strcasecmp(source, "pcm")) {
        if (frames == 0) {
            int64_t count = 0;
            for (;; count++) {
                GetTableItemRaw(L, 2, (int)count);
                bool nil = GetValueType(L, -1) == LV_TNIL;
                SetStackTop(L, -2);
                if (nil) break;
            }
            if (count == 0 || (channels == 2 && (count & 1))) return ERR_WRONGUSAGE;
            frames = count / channels;
        }
        data.reset((uint8_t *)AllocMemory((size_t)(frames * frameSize), 0));
        if (!data) return ERR_MEM;
        if (int r = ReadPcmItems(L, 2, code, frames * channels, data.get())) return r;
    } else if (!strcasecmp(source, "file") || !strcasecmp(source, "memory")) {
        lvObjectId id;
        if (frames == 0 || !GetFieldObjectId(L, 2, "id", &id)) return ERR_WRONGUSAGE;
        int swap = 0;
        GetFieldBool(L, 2, "swap", &swap);
        int64_t bytes = frames * frameSize;
        if (!strcasecmp(source, "file")) {
            lvFileHandle *file;
            if (int r = FindFileHandle(id, &file)) return r;
            if (file->mode == LV_MODE_WRITE) return ERR_WRITEONLY;
            data.reset((uint8_t *)AllocMemory((size_t)bytes, 0));
            if (!data) return ERR_MEM;
            if (ReadHandleBytes(file, data.get(), (size_t)bytes)) return ERR_READ;
        } else {
            lvMemBlock *block;
            if (int r = LookupMemBlock(id, &block)) return r;
            double offset = 0;
            GetFieldNumber(L, 2, "offset", &offset);
            if (offset < 0) return ERR_WRONGUSAGE;
            if (block->size && (int64_t)offset + bytes > block->size) return ERR_MEMRANGE;
            data.reset((uint8_t *)AllocMemory((size_t)bytes, 0));
            if (!data) return ERR_MEM;
            memcpy(data.get(), block->data + (int64_t)offset, (size_t)bytes);
        }
        if (swap && code >= 4) SwapPairs(data.get(), bytes);
    } else {
        return ERR_WRONGUSAGE;
    }
    lvSampleBuffer *buffer = nullptr;
    if (int r = NewSampleBuffer(data.release(), frames, pitch, code, &buffer)) return r;
    lvSample *s;
    if (int r = AddSample(number, isNil != 0, buffer, hardware, &s)) return r;
    s->pitch = pitch;
    return CreatedResult(L, s, isNil);
}

// GetSampleData(id) -> table of signed values, frames
int CmdGetSampleData(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvSample *s;
    if (int code = LookupSample(GetObjectIdArg(L, 1), &s)) return code;
    const lvSampleBuffer *b = s->buffer;
    int64_t values = b->frames * b->channels;
    PushNewSizedTable(L, (int)(values < 1 << 24 ? values : 1 << 24), 0);
    int table = GetStackTop(L);
    for (int64_t i = 0; i < values; i++) {
        int32_t v = SampleValue16(b, i / b->channels, (int)(i % b->channels));
        PushNumber(L, b->bits == 8 ? v / 256 : v);
        SetTableItemRaw(L, table, (int)i);
    }
    PushNumber(L, (double)b->frames);
    return 2;
}

// MixSample(id, frames, pitch, format, sample, options[, sample, options ...])
int CmdMixSample(lvState *L)
{
    CheckArgCount(L, 6, 0, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    int64_t frames = NumberToInt64(CheckNumberArg(L, 2));
    int pitch = IntArg(L, 3);
    int scriptFormat = IntArg(L, 4);
    int top = GetStackTop(L);
    if (pitch < 256) return ERR_LOWFREQ;
    int code = ScriptToEngineFormat(scriptFormat);
    if (code < 0) return ERR_WRONGUSAGE;
    // No frames to make is a usage error, not an empty sample.
    if (frames <= 0 || ((top - 4) & 1)) return ERR_WRONGUSAGE;
    int count = (top - 4) / 2;
    std::unique_ptr<lvMixSource, FreeMemoryDeleter> sources(
        (lvMixSource *)AllocMemory(sizeof(lvMixSource) * (size_t)count, 1));
    if (!sources) return ERR_MEM;
    int hardware = 1;
    for (int i = 0; i < count; i++) {
        int idIndex = 5 + 2 * i, optIndex = 6 + 2 * i;
        lvSample *s;
        if (int r = LookupSample(GetObjectIdArg(L, idIndex), &s)) return r;
        lvMixSource &src = sources.get()[i];
        src = {s->buffer, (double)s->pitch, 0, 0, -1, 1, 1.0};
        if (IsTable(L, optIndex)) {
            double v;
            if (GetFieldNumber(L, optIndex, "pitch", &v)) {
                if (v < 1) return ERR_WRONGUSAGE;
                src.pitch = v;
            }
            if (GetFieldNumber(L, optIndex, "offset", &v)) {
                if (v < 0) return ERR_SMPRANGE;
                src.offset = v;
            }
            GetFieldInt(L, optIndex, "threshold", &src.threshold);
            if (GetFieldNumber(L, optIndex, "length", &v)) src.length = (int64_t)v;
            GetFieldBool(L, optIndex, "loop", &src.loop);
            GetFieldNumber(L, optIndex, "scale", &src.scale);
            if (i == 0) GetFieldBool(L, optIndex, "hardware", &hardware);
        }
    }
    uint8_t *data = nullptr;
    if (int r = MixSampleSources(sources.get(), count, frames, pitch, code, &data)) return r;
    lvSampleBuffer *buffer;
    if (int r = NewSampleBuffer(data, frames, pitch, code, &buffer)) return r;
    if (!isNil) RemoveSampleIfPresent(number, &soundRefOps);
    lvSample *s;
    if (int r = AddSample(number, isNil != 0, buffer, hardware, &s)) return r;
    return CreatedResult(L, s, isNil);
}

// CopySample(source, new[, {hardware}])
int CmdCopySample(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    lvObjectId from = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    if (int code = TableArgOrNil(L, 3)) return code;
    if (!isNil && !from.handle && from.number == number) return ERR_WRONGUSAGE;
    lvSample *src;
    if (int code = LookupSample(from, &src)) return code;
    int hardware = src->hardware;
    if (IsTable(L, 3)) GetFieldBool(L, 3, "hardware", &hardware);
    lvSampleBuffer *copy;
    if (int code = CopySampleBuffer(src->buffer, &copy)) return code;
    lvObjectUserData *userData = nullptr;
    if (CopyObjectUserData(src->header.userData, &userData, &soundRefOps)) {
        DisposeSampleBuffer(copy);
        return ERR_MEM;
    }
    if (!isNil) RemoveSampleIfPresent(number, &soundRefOps);
    lvSample *s;
    if (int code = AddSample(number, isNil != 0, copy, hardware, &s)) {
        FreeObjectUserData(&userData, &soundRefOps);
        return code;
    }
    s->volume = src->volume;
    s->pitch = src->pitch;
    s->panning = src->panning;
    s->decoder = src->decoder;
    memcpy(s->typeName, src->typeName, sizeof s->typeName);
    s->header.userData = userData;
    return CreatedResult(L, s, isNil);
}

void ReadFrameCopyOptions(lvState *L, int index, lvFrameCopyOptions *o)
{
    InitFrameCopyOptions(o);
    if (!IsTable(L, index)) return;
    double v;
    GetFieldBool(L, index, "loop", &o->loop);
    if (GetFieldNumber(L, index, "offset", &v)) o->offset = (int64_t)v;
    if (GetFieldNumber(L, index, "start", &v)) o->start = (int64_t)v;
    if (GetFieldNumber(L, index, "end", &v)) o->end = (int64_t)v;
}

// InsertSample(source, target, position[, frames, options])
int CmdInsertSample(lvState *L)
{
    CheckArgCount(L, 3, 5, 0, 0);
    lvObjectId from = GetObjectIdArg(L, 1);
    lvObjectId to = GetObjectIdArg(L, 2);
    int64_t position = NumberToInt64(CheckNumberArg(L, 3));
    int64_t frames = GetStackTop(L) >= 4 && GetValueType(L, 4) != LV_TNIL ? NumberToInt64(CheckNumberArg(L, 4)) : 0;
    if (from.number == to.number && from.handle == to.handle) return ERR_WRONGUSAGE;
    lvSample *src, *dst;
    if (int code = LookupSample(from, &src)) return code;
    if (int code = LookupSample(to, &dst)) return code;
    if (IsSampleOnChannel(dst->buffer)) return ERR_MODIFYPSMP;
    lvFrameCopyOptions options;
    ReadFrameCopyOptions(L, 5, &options);
    return InsertSampleFrames(dst, src, position, frames, &options);
}

// SaveSample(id, file[, format, {bitrate, quality, adapter, usertags}])
int CmdSaveSample(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    lvSample *s;
    if (int code = LookupSample(GetObjectIdArg(L, 1), &s)) return code;
    const char *file = CheckStringArg(L, 2, nullptr);
    int format = GetStackTop(L) >= 3 && GetValueType(L, 3) != LV_TNIL ? IntArg(L, 3) : LV_SAVE_WAVE;
    if (int code = TableArgOrNil(L, 4)) return code;
    int bitrate = -1, quality = -1;
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 4)) {
        GetFieldInt(L, 4, "bitrate", &bitrate);
        GetFieldInt(L, 4, "quality", &quality);
        GetFieldStringBuf(L, 4, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 4, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    return SaveSampleBuffer(s->buffer, s->pitch, file, format, adapter[0] ? adapter : nullptr, tags, bitrate, quality);
}

// ---- Channels ------------------------------------------------------------------------------

// IsChannelPlaying(channel) -> false, or true, type, id
int CmdIsChannelPlaying(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int channel = IntArg(L, 1);
    if (!sound.audioOpen) {
        PushBoolean(L, 0);
        return 1;
    }
    int kind;
    lvObjectId id;
    if (int code = GetChannelInfo(channel - 1, &kind, &id)) return code;
    if (kind == 7) {
        PushBoolean(L, 0);
        return 1;
    }
    PushBoolean(L, 1);
    PushNumber(L, kind);
    PushObjectId(L, id);
    return 3;
}

// HaveFreeChannel() -> lowest free channel or 0
int CmdHaveFreeChannel(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (sound.noSound) {
        PushNumber(L, 0);
        return 1;
    }
    int open = EnsureAudio();
    if (open > 0) return open;
    PushNumber(L, open < 0 ? 0 : FindFreeChannel() + 1);
    return 1;
}

// StopChannel(channel)
int CmdStopChannel(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int channel = IntArg(L, 1);
    if (!sound.audioOpen) return 0;
    LockChannels();
    int kind;
    lvObjectId id;
    int code = GetChannelInfo(channel - 1, &kind, &id);
    if (!code) StopChannelEntry(channel - 1);
    UnlockChannels();
    return code;
}

// GetChannels() -> count
int CmdGetChannels(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    PushNumber(L, sound.noSound ? 0 : GetChannelCount());
    return 1;
}

// SetChannelVolume(channel, volume)
int CmdSetChannelVolume(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    int channel = IntArg(L, 1);
    int volume = ClampVolume(GetNumberOrPercentArg(L, 2, 64, 0, nullptr));
    if (!sound.audioOpen) return 0;
    LockChannels();
    int kind;
    lvObjectId id;
    int code = GetChannelInfo(channel - 1, &kind, &id);
    if (!code && kind == 2) {
        if (lvSample *s = FindSample(id)) {
            s->volume = volume;
            SetSampleAttributesOnChannels(s->buffer, -1, volume, -1, channel - 1);
        }
    }
    UnlockChannels();
    return code;
}

// OpenAudio() / CloseAudio() / ForceSound(flag) / SetMasterVolume(any)
int CmdOpenAudio(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    if (sound.noSound || sound.audioOpen) return 0;
    int open = EnsureAudio();
    return open > 0 ? open : 0;
}

int CmdCloseAudio(lvState *L)
{
    CheckArgCount(L, 0, 0, 0, 0);
    StopAllChannels();
    FreeAllMusics();
    FreeAllSamples(&soundRefOps);
    sound.audioOpen = 0;
    return 0;
}

int CmdForceSound(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    // A number counts as on unless it is 0, as the script's booleans are numbers.
    sound.forceSound = GetValueType(L, 1) == LV_TNUMBER ? ValueToNumber(L, 1) != 0 : ValueToBoolean(L, 1);
    return 0;
}

int CmdSetMasterVolume(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    return 0;
}


// ---- Attributes ------------------------------------------------------------------------------

int SampleAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvSample *s;
    if (int code = LookupSample(id, &s)) return code;
    const lvSampleBuffer *b = s->buffer;
    int64_t frames = b->bytesPerFrame ? s->bytes / b->bytesPerFrame : 0;
    switch (attribute) {
    case 9: PushNumber(L, EngineToScriptFormat(s->format)); return 1;
    case 11: PushNumber(L, (double)frames); return 1;
    case 14: PushNumber(L, std::trunc((double)frames / s->pitch * 1000)); return 1;
    case 15: PushNumber(L, s->pitch); return 1;
    case 18: {
        int ms = -1, pass = -1;
        if (sound.audioOpen) GetSamplePlayPosition(b, &ms, &pass);
        PushNumber(L, ms);
        PushNumber(L, pass);
        return 2;
    }
    case 19: PushString(L, s->typeName); return 1;
    case 73: PushBoolean(L, s->hardware); return 1;
    case 83: PushBoolean(L, sound.audioOpen && IsSampleOnChannel(b)); return 1;
    case 91: PushString(L, s->nativeDecoder ? "native" : s->decoder ? s->decoder->name : "inbuilt"); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

// ---- The audio sub-table of the plug-in interface ------------------------------------------------

// A lock keeps the sample's identifier, never its address: the sample is looked up again
// when the lock ends, so one freed meanwhile is simply gone.
struct lvSampleLock {
    lvObjectId id;   // the sample
    uint8_t *copy;   // writable locks: the copy the plug-in edits
    int readOnly;    // the data handed out is the sample's own
};

lvObjectId FromPluginId(lvPluginObjectId id) { return lvObjectId{id.number, id.handle}; }

void *PluginLockSample(lvPluginObjectId pid, int readOnly, void *, lvPluginSampleInfo *info)
{
    lvSample *s = FindSample(FromPluginId(pid));
    if (!s || !info || IsSampleOnChannel(s->buffer)) return nullptr;
    const lvSampleBuffer *b = s->buffer;
    size_t bytes = (size_t)(b->frames * b->bytesPerFrame);
    lvSampleLock *lock = (lvSampleLock *)AllocMemory(sizeof(lvSampleLock), 1);
    if (!lock) return nullptr;
    lock->id = FromPluginId(pid);
    lock->readOnly = readOnly != 0;
    if (!readOnly) {
        lock->copy = (uint8_t *)AllocMemory(bytes ? bytes : 1, 0);
        if (!lock->copy) {
            FreeMemory(lock);
            return nullptr;
        }
        if (bytes) memcpy(lock->copy, b->data, bytes);
    }
    info->data = readOnly ? b->data : lock->copy;
    info->bytes = (uint32_t)bytes;
    info->frames = (uint32_t)b->frames;
    info->channels = b->channels;
    info->bits = b->bits;
    info->rate = s->pitch;
    info->flags = s->hardware ? 0 : LVP_SAMPLE_SOFTWARE;
    return lock;
}

void PluginUnlockSample(void *handle)
{
    lvSampleLock *lock = (lvSampleLock *)handle;
    if (!lock) return;
    lvSample *s = lock->readOnly ? nullptr : FindSample(lock->id);
    // The edit is applied to hardware and software samples alike; a sample that started
    // playing since the lock keeps its data, as the mixer may be reading it.
    if (s && !IsSampleOnChannel(s->buffer)) {
        ReplaceSampleData(s->buffer, lock->copy, s->buffer->frames, s->buffer->rate);
        lock->copy = nullptr;
    }
    FreeMemory(lock->copy);
    FreeMemory(lock);
}

int PluginInstallAudioAdapter(lvPluginRecord *record, uint32_t flags, const lvPluginTag *tags)
{
    lvRuntimeConfig *config = GetClargsRecord(nullptr);
    return InstallAudioAdapterPlugin(record, flags, tags, config ? config->numChannels : 0, InAdapterSetupPhase());
}

int PluginCreateSample(lvState *L, lvPluginObjectId pid, const lvPluginSampleInfo *info)
{
    if (!info || !info->data || info->frames == 0 || info->rate <= 0) return ERR_WRONGUSAGE;
    if (sound.noSound) return 0;
    if (!sound.audioOpen) {
        int code = IsAudioDeviceOpen() ? 0 : OpenAudioDevice(sound.outputSink);
        if (code) {
            sound.audioFailed = 1;
            return code;
        }
        sound.audioOpen = 1;
        sound.audioFailed = 0;
    }
    uint32_t flags = info->bits == 8 && (info->flags & LVP_SAMPLE_SIGNED) ? LV_SMPF_SIGNED : 0;
    int code = ComputeSampleFormat(info->channels, info->bits, flags);
    if (code < 0 || (info->channels != 1 && info->channels != 2)) return ERR_8OR16BITONLY;
    int64_t bytes = (int64_t)info->frames * GetSampleFrameSize(code);
    uint8_t *data = (uint8_t *)AllocMemory((size_t)bytes, 0);
    if (!data) return ERR_MEM;
    memcpy(data, info->data, (size_t)bytes);
    if (info->bits == 16 && (info->flags & LVP_SAMPLE_BIGENDIAN)) SwapPairs(data, bytes);
    lvSampleBuffer *buffer;
    if (int r = NewSampleBuffer(data, info->frames, info->rate, code, &buffer)) return r;
    lvObjectId id = FromPluginId(pid);
    RemoveSampleIfPresent(id.number, &soundRefOps);
    lvSample *s;
    return AddSample(id.number, false, buffer, !(info->flags & LVP_SAMPLE_SOFTWARE), &s);
}

int PluginFreeSample(lvState *L, lvPluginObjectId pid)
{
    lvSample *s;
    if (int code = LookupSample(FromPluginId(pid), &s)) return code;
    RemoveSample(s, &soundRefOps);
    return 0;
}

const lvApiAudio pluginAudio = {PluginLockSample, PluginUnlockSample, PluginInstallAudioAdapter, PluginCreateSample,
                                PluginFreeSample};

// ---- Tables ------------------------------------------------------------------------------------

const lvCommandEntry soundCommands[] = {
    {"LoadSample", CmdLoadSample},
    {"IsSample", CmdIsSample},
    {"FreeSample", CmdFreeSample},
    {"PlaySample", CmdPlaySample},
    {"StopSample", CmdStopSample},
    {"SetVolume", CmdSetVolume},
    {"SetPitch", CmdSetPitch},
    {"SetPanning", CmdSetPanning},
    {"WaitSampleEnd", CmdWaitSampleEnd},
    {"IsSamplePlaying", CmdIsSamplePlaying},
    {"IsSound", CmdIsSound},
    {"CreateSample", CmdCreateSample},
    {"GetSampleData", CmdGetSampleData},
    {"MixSample", CmdMixSample},
    {"CopySample", CmdCopySample},
    {"InsertSample", CmdInsertSample},
    {"SaveSample", CmdSaveSample},
    {"IsChannelPlaying", CmdIsChannelPlaying},
    {"HaveFreeChannel", CmdHaveFreeChannel},
    {"StopChannel", CmdStopChannel},
    {"GetChannels", CmdGetChannels},
    {"SetChannelVolume", CmdSetChannelVolume},
    {"OpenAudio", CmdOpenAudio},
    {"CloseAudio", CmdCloseAudio},
    {"ForceSound", CmdForceSound},
    {"SetMasterVolume", CmdSetMasterVolume},
    {nullptr, nullptr},
};

const lvConstantEntry soundConstants[] = {
    {"SAMPLE", nullptr, 2},         {"MUSIC", nullptr, 33},          {"MUSICSTREAM", nullptr, 65},
    {"ATTRTYPE", nullptr, 9},       {"ATTRNUMFRAMES", nullptr, 11},  {"ATTRDURATION", nullptr, 14},
    {"ATTRPITCH", nullptr, 15},     {"ATTRPOSITION", nullptr, 18},   {"ATTRFORMAT", nullptr, 19},
    {"ATTRBITRATE", nullptr, 20},   {"ATTRCANSEEK", nullptr, 72},    {"ATTRHARDWARE", nullptr, 73},
    {"ATTRNUMSUBSONGS", nullptr, 80}, {"ATTRCURSUBSONG", nullptr, 81}, {"ATTRPLAYING", nullptr, 83},
    {"ATTRPAUSED", nullptr, 84},    {"ATTRLOADER", nullptr, 91},     {"MONO8", nullptr, 0},
    {"MONO16", nullptr, 1},         {"STEREO8", nullptr, 2},         {"STEREO16", nullptr, 3},
    {"SMPFMT_WAVE", nullptr, 0},    {"SNDFMT_WAVE", nullptr, 0},     {"SNDFMT_SVX", nullptr, 1},
    {nullptr, nullptr, 0},
};

} // namespace

const lvCommandEntry *GetSoundCommands(void) { return soundCommands; }
const lvConstantEntry *GetSoundConstants(void) { return soundConstants; }

void SetSoundOutputSink(const char *sink) { sound.outputSink = sink; }
int SoundQuiet(void) { return Quiet(); }
int SoundEnsureAudio(void) { return EnsureAudio(); }
const lvRefOps *SoundRefOps(void) { return &soundRefOps; }

int OpenSoundLibrary(lvState *L)
{
    soundRefOps.context = L;
    sound = lvSoundLibrary{};
    if (lvRuntimeConfig *config = GetClargsRecord(L)) {
        sound.noSound = config->noSound;
        sound.forceSound = config->forceSound;
        SetChannelCountSetting(config->numChannels);
    }
    if (int code = RegisterObjectType(2, "Samples", GetSampleListHead(), SampleAttribute, nullptr, 0)) return code;
    if (int code = RegisterObjectType(33, "Musics", GetMusicListHead(), MusicAttribute, nullptr, 0)) return code;
    if (int code = RegisterObjectType(65, "Music streams", GetMusicStreamListHead(), nullptr, nullptr, 0)) return code;
    SetPluginAudioEntries(&pluginAudio);
    SetMusicRefOps(&soundRefOps);
    InstallMusicEngine();
    if (int code = RegisterCommandTable(L, soundCommands, "sound")) return code;
    return RegisterCommandTable(L, GetMusicCommands(), "sound");
}

void StopAllSound(void)
{
    StopAllChannels();
}

void CloseSoundLibrary(lvState *L, int full)
{
    StopAllChannels();
    FreeAllMusics();
    FreeAllMusicStreams();
    FreeAllSamples(&soundRefOps);
    CloseAudioDevice();
    sound.audioOpen = 0;
    // The adapter's plug-in is unloaded after the libraries close.
    UninstallAudioAdapter();
}
