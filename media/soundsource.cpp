// soundsource.cpp - format codes, platform samples, sound sources (built-in readers and
// decoder plug-ins), whole-file sample loading, and the sample writer front end.
//
// Dependencies: samplefiles.cpp (readers, writer back ends), runtime/vfile.h (adapter
// scans), runtime/plugin.h (saver lookup).
// Limits: script thread only. Platform samples always hold unsigned 8-bit or
// little-endian 16-bit data: loaders and NewSampleBuffer convert on the way in, so the
// mixer and the writers see one layout.
#include <algorithm>
#include "media/media_internal.h"
#include "media/lvmodule.h"
#include "base/lverrors.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/plugin.h"
#include <cstring>

// ============================================================================
// Format codes
// ============================================================================

int ComputeSampleFormat(int channels, int bits, uint32_t flags)
{
    if (bits == 8) {
        if (channels == 2) return (flags & LV_SMPF_SIGNED) ? LV_SMP_S8_STEREO : LV_SMP_U8_STEREO;
        return (flags & LV_SMPF_SIGNED) ? LV_SMP_S8_MONO : LV_SMP_U8_MONO;
    }
    if (bits == 16) return channels == 2 ? LV_SMP_S16_STEREO : LV_SMP_S16_MONO;
    return -1;
}

int GetSampleFrameSize(int code)
{
    switch (code) {
    case 0: case 2: return 1;
    case 1: case 3: case 4: return 2;
    case 5: return 4;
    default: return 0;
    }
}

int ScriptToEngineFormat(int scriptFormat)
{
    static const int map[4] = {LV_SMP_S8_MONO, LV_SMP_S16_MONO, LV_SMP_S8_STEREO, LV_SMP_S16_STEREO};
    return scriptFormat >= 0 && scriptFormat < 4 ? map[scriptFormat] : -1;
}

int EngineToScriptFormat(int code)
{
    static const int map[6] = {0, 2, 0, 2, 1, 3};
    return code >= 0 && code < 6 ? map[code] : -1;
}

// ============================================================================
// Platform samples
// ============================================================================

static void FillSampleLayout(lvSampleBuffer *sample, int code)
{
    sample->bits = code >= 4 ? 16 : 8;
    sample->channels = (code == 1 || code == 3 || code == 5) ? 2 : 1;
    sample->bytesPerFrame = GetSampleFrameSize(code);
    sample->flags = code >= 4 ? LV_SMPF_SIGNED : 0;
}

int NewSampleBuffer(uint8_t *data, int64_t frames, int rate, int code, lvSampleBuffer **out)
{
    if (code < 0 || code > 5 || frames < 0) {
        FreeMemory(data);
        return ERR_WRONGUSAGE;
    }
    lvSampleBuffer *sample = (lvSampleBuffer *)AllocMemory(sizeof(lvSampleBuffer), 1);
    if (!sample) {
        FreeMemory(data);
        return ERR_MEM;
    }
    if (code == LV_SMP_S8_MONO || code == LV_SMP_S8_STEREO) {
        int64_t n = frames * (code == LV_SMP_S8_STEREO ? 2 : 1);
        for (int64_t i = 0; i < n; i++) data[i] = (uint8_t)(data[i] - 128);
        code -= 2;
    }
    FillSampleLayout(sample, code);
    sample->data = data;
    sample->frames = frames;
    sample->rate = rate;
    sample->format = ComputeSampleFormat(sample->channels, sample->bits, sample->flags);
    *out = sample;
    return 0;
}

int CopySampleBuffer(const lvSampleBuffer *sample, lvSampleBuffer **out)
{
    lvSampleBuffer *copy = (lvSampleBuffer *)AllocMemory(sizeof(lvSampleBuffer), 0);
    if (!copy) return ERR_MEM;
    *copy = *sample;
    copy->output = nullptr;
    size_t bytes = (size_t)(sample->frames * sample->bytesPerFrame);
    copy->data = (uint8_t *)AllocMemory(bytes ? bytes : 1, 0);
    if (!copy->data) {
        FreeMemory(copy);
        return ERR_MEM;
    }
    if (bytes) memcpy(copy->data, sample->data, bytes);
    *out = copy;
    return 0;
}

void ReplaceSampleData(lvSampleBuffer *sample, uint8_t *data, int64_t frames, int rate)
{
    FreeMemory(sample->data);
    sample->data = data;
    sample->frames = frames;
    sample->rate = rate;
}

void DisposeSampleBuffer(lvSampleBuffer *sample)
{
    if (!sample) return;
    FreeMemory(sample->data);
    FreeMemory(sample);
}

int IsSampleBigEndian(const lvSampleBuffer *sample)
{
    return sample->bits == 16 && (sample->flags & LV_SMPF_BIGENDIAN);
}

// ============================================================================
// Sound sources
// ============================================================================

static void FillSourceFromStreamInfo(lvSoundSource *source, const lvStreamInfo *info)
{
    source->rate = info->rate;
    source->channels = info->channels == 2 ? 2 : 1;
    source->bits = info->bits;
    source->bytesPerFrame = source->channels * (info->bits > 0 ? info->bits / 8 : 0);
    source->totalFrames = source->nominalFrames = info->frames;
    source->totalBytes = (int64_t)info->frames * source->bytesPerFrame;
    source->canSeek = (info->flags & LV_STREAMF_CANSEEK) != 0;
    source->subsongs = info->subsongs;
    if (info->flags & LV_STREAMF_UNKNOWNLENGTH) {
        source->totalFrames = source->totalBytes = 0;
        source->nominalFrames = (int64_t)info->rate * 600;
    }
    source->flags = (info->flags & LV_STREAMF_BIGENDIAN ? LV_SMPF_BIGENDIAN : 0) |
                    (info->flags & LV_STREAMF_SIGNED ? LV_SMPF_SIGNED : 0);
}

// Reads the whole module and makes its player: timed modules become a seekable 48000 Hz
// stream whose length a silent run measured; untimed ones loop for ever.
static bool OpenModuleSource(lvSoundSource *source, int timed)
{
    uint8_t *data = nullptr;
    int64_t length = 0;
    SeekVFile(source->file, 0, 1);
    if (ReadVFileAll(source->file, nullptr, 0, nullptr, nullptr, 0, &data, &length)) return false;
    lvModulePlayer *player = nullptr;
    int code = NewModulePlayer(data, (size_t)length, LV_MOD_RATE, timed ? LV_MODF_STOPATEND : 0, &player);
    int settled = 1;
    int64_t frames = code || !timed ? 0 : MeasureModuleFrames(data, (size_t)length, &settled);
    // A song still going after the hour has no length: it plays and saves as an
    // unknown length does, and ends at the hour all the same (ReadSoundSource).
    if (!settled) frames = 0;
    FreeMemory(data);
    if (code) return false;
    CloseVFile(source->file);
    source->file = nullptr;
    source->stream = player;
    source->rate = LV_MOD_RATE;
    source->channels = 2;
    source->bits = 16;
    source->bytesPerFrame = 4;
    source->flags = LV_SMPF_SIGNED;
    source->canSeek = timed ? 1 : 0;
    source->totalFrames = source->nominalFrames = frames;
    if (!settled) source->nominalFrames = (int64_t)LV_MOD_RATE * 600;  // as any unknown length
    source->totalBytes = frames * 4;
    source->timedModule = timed;
    return true;
}

int OpenSoundSource(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                    int subsong, int timedModule, int streamFlag, lvSoundSource **out, lvPluginRecord **decoder)
{
    lvSoundSource *source = (lvSoundSource *)AllocMemory(sizeof(lvSoundSource), 1);
    if (!source) return ERR_MEM;
    source->canSeek = 1;
    source->subsongs = 1;
    source->streamFlag = streamFlag;
    source->kind = -1;

    char defaultList[1600];
    const char *list = loaderList;
    if (!list) {
        CopyDefaultLoader(defaultList, sizeof defaultList, 2);
        list = defaultList[0] ? defaultList : nullptr;
    }
    lvAdapterScan scan;
    BeginAdapterScan(&scan, list, PLUGINCAPS_SOUND, 0);
    if (list && !list[0]) scan.cursor = nullptr;
    for (int kind; source->kind < 0 && (kind = NextAdapter(&scan)) != 0;) {
        if (kind == 1) {
            lvVFile *file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
            if (!file) continue;
            uint8_t head[1084];
            int64_t got = ReadVFile(file, head, sizeof head);
            source->file = file;
            bool accepted = false;
            if (got >= 12 && !memcmp(head, "FORM", 4) && (!memcmp(head + 8, "8SVX", 4) || !memcmp(head + 8, "16SV", 4))) {
                accepted = OpenIff8svxReader(source, !memcmp(head + 8, "16SV", 4));
                if (accepted) source->kind = LV_SRC_IFF;
            } else if (got >= 12 && !memcmp(head, "RIFF", 4) && !memcmp(head + 8, "WAVE", 4)) {
                accepted = OpenWaveReader(source);
                if (accepted) source->kind = LV_SRC_WAVE;
            } else if (got == (int64_t)sizeof head && !memcmp(head + 1080, "M.K.", 4)) {
                accepted = OpenModuleSource(source, timedModule);
                if (accepted) source->kind = LV_SRC_MODULE;
            }
            if (!accepted) {
                // A refusing reader may have filled fields: the next loader starts afresh.
                CloseVFile(file);
                memset(source, 0, sizeof *source);
                source->canSeek = 1;
                source->subsongs = 1;
                source->streamFlag = streamFlag;
                source->kind = -1;
            }
        } else if (kind == 3 && scan.record) {
            lvPluginRecord *plugin = scan.record;
            if (!plugin->OpenStream || !plugin->StreamSamples || !plugin->CloseStream) continue;
            lvStreamInfo info;
            memset(&info, 0, sizeof info);
            info.subsong = subsong;
            info.subsongs = 1;
            info.adapter = adapter;
            info.userTags = userTags;
            void *handle = ((lvOpenStreamFunction)plugin->OpenStream)(path, &info);
            if (!handle) continue;
            // A rate of 0 or a channel count below one would divide by zero later.
            if (info.rate <= 0 || info.channels <= 0) {
                ((lvCloseStreamFunction)plugin->CloseStream)(handle);
                continue;
            }
            FillSourceFromStreamInfo(source, &info);
            source->stream = handle;
            source->plugin = plugin;
            source->kind = LV_SRC_PLUGIN;
        } else if (kind == 2) {
            if (OpenNativeReader(source, path, adapter, userTags)) source->kind = LV_SRC_NATIVE;
        }
    }
    if (source->kind < 0) {
        FreeMemory(source);
        SetErrorStringArg(path);
        return VFileExists(path, adapter, userTags) ? ERR_OPENSOUND2 : ERR_READFILE;
    }
    source->format = ComputeSampleFormat(source->channels, source->bits, source->flags);
    *out = source;
    if (decoder) *decoder = source->plugin;
    return 0;
}

void FreeSoundSource(lvSoundSource *source)
{
    if (!source) return;
    if (source->file) CloseVFile(source->file);
    if (source->kind == LV_SRC_PLUGIN && source->stream) ((lvCloseStreamFunction)source->plugin->CloseStream)(source->stream);
    if (source->kind == LV_SRC_MODULE) FreeModulePlayer((lvModulePlayer *)source->stream);
    if (source->kind == LV_SRC_CALLBACK) FreeCallbackQueue(source->stream);
    if (source->kind == LV_SRC_NATIVE) CloseNativeReader(source);
    FreeMemory(source->scratch);
    FreeMemory(source);
}

int64_t ReadSoundSource(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    int end = 0;
    int64_t got = 0;
    switch (source->kind) {
    case LV_SRC_WAVE: got = ReadWaveSamples(source, buffer, frames, &end); break;
    case LV_SRC_IFF: got = ReadIff8svxSamples(source, buffer, frames, &end); break;
    case LV_SRC_PLUGIN: {
        lvStreamRequest request = {buffer, (int32_t)(frames > INT32_MAX ? INT32_MAX : frames), 0, 0};
        ((lvStreamSamplesFunction)source->plugin->StreamSamples)(source->stream, &request);
        got = request.delivered < 0 ? 0 : request.delivered > request.wanted ? request.wanted : request.delivered;
        end = request.ended;
        source->position += got;
        break;
    }
    case LV_SRC_NATIVE: got = ReadNativeSamples(source, buffer, frames, &end); break;
    case LV_SRC_CALLBACK:
        got = ReadCallbackQueue(source, buffer, frames, &end);
        source->position += got;
        break;
    case LV_SRC_MODULE: {
        // 16-bit stereo: the left samples at the buffer, the right ones 2 bytes on. A timed
        // module ends at the hour that bounds its measuring run.
        int64_t want = frames;
        if (source->timedModule) want = std::max<int64_t>(0, std::min<int64_t>(frames, LV_MOD_MAXFRAMES - source->position));
        uint8_t *out = (uint8_t *)buffer;
        got = want ? MixModule((lvModulePlayer *)source->stream, out, out ? out + 2 : nullptr, 4, want, 16, 2) : 0;
        end = got < frames;
        source->position += got;
        break;
    }
    default: break;
    }
    if (ended) *ended = end;
    source->lastFrames = got;
    source->lastBytes = got * source->bytesPerFrame;
    return got;
}

void SeekSoundSource(lvSoundSource *source, int64_t frame)
{
    switch (source->kind) {
    case LV_SRC_WAVE:
    case LV_SRC_IFF:
        if (frame < source->totalFrames) source->position = frame;
        break;
    case LV_SRC_PLUGIN:
        if ((source->canSeek || frame == 0) && source->plugin->SeekStream) {
            ((lvSeekStreamFunction)source->plugin->SeekStream)(source->stream, (uint32_t)frame);
            source->position = frame;
        }
        break;
    case LV_SRC_NATIVE: SeekNativeSource(source, frame); break;
    case LV_SRC_MODULE:
        SeekModule((lvModulePlayer *)source->stream, frame);
        source->position = frame;
        break;
    default: break;
    }
}

const char *GetSoundSourceTypeName(const lvSoundSource *source)
{
    switch (source->kind) {
    case LV_SRC_WAVE: return "RIFF WAVE";
    case LV_SRC_IFF: return source->bits == 8 ? "IFF 8SVX" : "IFF 16SV";
    case LV_SRC_MODULE: return "Protracker";
    case LV_SRC_NATIVE: return GetNativeTypeName(source);
    case LV_SRC_CALLBACK: return "Callback stream";
    case LV_SRC_PLUGIN:
        if (source->plugin->GetFormatName) return ((lvGetFormatNameFunction)source->plugin->GetFormatName)(source->stream);
        return nullptr;
    default: return nullptr;
    }
}

// ============================================================================
// Whole-file loading
// ============================================================================

// Brings decoded data to the platform sample layout: unsigned 8-bit, little-endian 16-bit.
static void NormaliseSampleData(uint8_t *data, int64_t bytes, int bits, uint32_t flags)
{
    if (bits == 8 && (flags & LV_SMPF_SIGNED)) {
        for (int64_t i = 0; i < bytes; i++) data[i] = (uint8_t)(data[i] + 128);
    } else if (bits == 16 && (flags & LV_SMPF_BIGENDIAN)) {
        for (int64_t i = 0; i + 1 < bytes; i += 2) {
            uint8_t t = data[i];
            data[i] = data[i + 1];
            data[i + 1] = t;
        }
    }
}

int LoadSampleFile(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                   lvLoadedSample *out)
{
    memset(out, 0, sizeof *out);
    lvSoundSource *source = nullptr;
    int code = OpenSoundSource(path, loaderList, adapter, userTags, 0, 0, 0, &source, &out->decoder);
    if (code) return code;
    auto fail = [&](int failure) {
        FreeSoundSource(source);
        return failure;
    };
    if (source->totalBytes <= 0 || source->bytesPerFrame <= 0 || source->bits <= 0) return fail(ERR_STREAMASSAMPLE);
    if (source->format < 0) return fail(ERR_8OR16BITONLY);
    const char *name = GetSoundSourceTypeName(source);
    CopyStrBounded(out->typeName, sizeof out->typeName, name ? name : "");
    uint8_t *data = (uint8_t *)AllocMemory((size_t)source->totalBytes, 0);
    if (!data) return fail(ERR_MEM);
    int64_t frames = source->totalFrames, done = 0;
    while (done < frames) {
        int ended = 0;
        int64_t got = ReadSoundSource(source, data + done * source->bytesPerFrame, frames - done, &ended);
        if (got <= 0) break;
        done += got;
        if (ended) break;
    }
    // A decoder that stops early leaves silence, never old memory.
    if (done < frames)
        memset(data + done * source->bytesPerFrame, source->bits == 8 && !(source->flags & LV_SMPF_SIGNED) ? 128 : 0,
               (size_t)((frames - done) * source->bytesPerFrame));
    NormaliseSampleData(data, source->totalBytes, source->bits, source->flags);
    lvSampleBuffer *sample = (lvSampleBuffer *)AllocMemory(sizeof(lvSampleBuffer), 1);
    if (!sample) {
        FreeMemory(data);
        return fail(ERR_MEM);
    }
    int code8 = source->channels == 2 ? LV_SMP_U8_STEREO : LV_SMP_U8_MONO;
    FillSampleLayout(sample, source->bits == 16 ? (source->channels == 2 ? 5 : 4) : code8);
    sample->data = data;
    sample->frames = frames;
    sample->rate = source->rate;
    sample->format = ComputeSampleFormat(sample->channels, sample->bits, sample->flags);
    out->sample = sample;
    out->bytes = source->totalBytes;
    out->rate = source->rate;
    out->format = sample->format;
    FreeSoundSource(source);
    return 0;
}

int IsSampleFile(const char *path, const char *loaderList, const char *adapter, const void *userTags)
{
    lvSoundSource *source = nullptr;
    if (OpenSoundSource(path, loaderList, adapter, userTags, 0, 0, 0, &source, nullptr)) return 0;
    int result = source->totalBytes > 0 && source->bytesPerFrame > 0 && source->bits > 0;
    FreeSoundSource(source);
    return result;
}

// ============================================================================
// Sample writer front end
// ============================================================================

struct lvSampleWriter {
    void *backEnd;           // lvWaveWriter, lvIffWriter or the saver's stream handle
    int formatId;            // saver format id
    char path[1024];         // saver plug-ins without streaming
    char adapter[256];       // adapter name copy
    int stream;              // the saver's stream entry points are used
    lvPluginRecord *saver;   // saver plug-in
    lvSaverParams params;    // what the saver receives
    int bytesPerFrame;       // of the caller's data
};

int OpenSampleWriter(const char *path, const char *adapter, const void *userTags, int formatId, int rate,
                     int channels, int bits, int bitrate, int quality, int streamFlag, uint32_t flags,
                     lvSampleWriter **out)
{
    int format = ComputeSampleFormat(channels, bits, flags);
    if (format < 0) return ERR_WRONGUSAGE;
    lvSampleWriter *writer = (lvSampleWriter *)AllocMemory(sizeof(lvSampleWriter), 1);
    if (!writer) return ERR_MEM;
    writer->formatId = formatId;
    writer->bytesPerFrame = GetSampleFrameSize(format);
    int code = 0;
    if (formatId == LV_SAVE_WAVE) {
        code = OpenWaveWriter(path, adapter, userTags, rate, channels, bits, flags, (lvWaveWriter **)&writer->backEnd);
    } else if (formatId == LV_SAVE_IFF) {
        code = OpenIff8svxWriter(path, adapter, userTags, rate, channels, bits, flags, (lvIffWriter **)&writer->backEnd);
    } else {
        int index = 0;
        lvPluginRecord *saver = FindSaverPlugin(formatId, PLUGINCAPS_SAVESAMPLE, &index);
        if (!saver) {
            code = ERR_UNKNOWNSMPOUT;
        } else {
            bool hasStream = saver->BeginSampleStream && saver->WriteSampleStream && saver->FinishSampleStream;
            if (saver->sampleSavers[index].flags & 2) streamFlag = 1;
            if (streamFlag && !hasStream) code = ERR_UNKNOWNSMPOUT;
            if (!streamFlag && !saver->SaveSample) code = ERR_UNKNOWNSMPOUT;
        }
        if (!code) {
            writer->saver = saver;
            writer->stream = streamFlag;
            lvSaverParams *p = &writer->params;
            p->rate = rate;
            p->channels = channels;
            p->bits = bits;
            p->formatId = formatId;
            p->bitrate = bitrate;
            p->quality = quality;
            p->flags = flags & (LV_SMPF_BIGENDIAN | LV_SMPF_SIGNED);
            if (adapter) {
                CopyStrBounded(writer->adapter, sizeof writer->adapter, adapter);
                p->adapter = writer->adapter;
            }
            if (userTags) {
                int failed = 0;
                p->userTags = CopyUserTags((const lvUserTag *)userTags, &failed);
                if (failed) code = ERR_MEM;
            }
            if (!code && streamFlag) {
                writer->backEnd = ((lvBeginSampleStreamFunction)saver->BeginSampleStream)(path, p, nullptr);
                if (!writer->backEnd) code = ERR_SAVESAMPLE;
            } else if (!code) {
                CopyStrBounded(writer->path, sizeof writer->path, path);
            }
        }
    }
    if (code) {
        FreeUserTags((lvUserTag *)writer->params.userTags, 0);
        FreeMemory(writer);
        return code;
    }
    *out = writer;
    return 0;
}

int WriteSampleWriter(lvSampleWriter *writer, const void *data, int64_t bytes)
{
    if (writer->formatId == LV_SAVE_WAVE) return WriteWaveData((lvWaveWriter *)writer->backEnd, data, bytes);
    if (writer->formatId == LV_SAVE_IFF) return WriteIff8svxData((lvIffWriter *)writer->backEnd, data, bytes);
    if (bytes < 0 || (uint64_t)bytes > 0xFFFFFFFFull) return ERR_WRITE;
    lvSaverParams *p = &writer->params;
    p->data = data;
    p->bytes = (uint32_t)bytes;
    p->frames = (uint32_t)(bytes / writer->bytesPerFrame);
    if (writer->stream) return ((lvWriteSampleStreamFunction)writer->saver->WriteSampleStream)(writer->backEnd, p);
    return ((lvSaveSampleFunction)writer->saver->SaveSample)(writer->path, p) ? 0 : ERR_SAVESAMPLE;
}

int CloseSampleWriter(lvSampleWriter *writer)
{
    int code = 0;
    if (writer->formatId == LV_SAVE_WAVE) code = CloseWaveWriter((lvWaveWriter *)writer->backEnd);
    else if (writer->formatId == LV_SAVE_IFF) code = CloseIff8svxWriter((lvIffWriter *)writer->backEnd);
    else if (writer->stream) code = ((lvFinishSampleStreamFunction)writer->saver->FinishSampleStream)(writer->backEnd);
    FreeUserTags((lvUserTag *)writer->params.userTags, 0);
    FreeMemory(writer);
    return code;
}

int SaveSampleBuffer(const lvSampleBuffer *sample, int rate, const char *path, int formatId, const char *adapter,
                     const void *userTags, int bitrate, int quality)
{
    lvSampleWriter *writer = nullptr;
    int code = OpenSampleWriter(path, adapter, userTags, formatId, rate, sample->channels, sample->bits, bitrate,
                                quality, 0, sample->flags, &writer);
    if (code) return code;
    code = WriteSampleWriter(writer, sample->data, sample->frames * sample->bytesPerFrame);
    int closed = CloseSampleWriter(writer);
    return code ? code : closed;
}
