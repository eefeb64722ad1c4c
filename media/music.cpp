// music.cpp - the music engine: music records and streams, opening music sources,
// playing them on the channel table (the mixer pulls them through MixMusicVoice),
// passes, pausing and seeking.
//
// A music's play state lives in its record; the mixer reads the source inside the
// device's pull, converting to 16-bit stereo at the output rate (exact at 48000 Hz and
// unity volume, linear interpolation otherwise). An ended music is returned to stopped
// by the reaper on the script thread.
#include "media/lvmusic.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include <cstring>
#include <ctime>
#include <mutex>
#include <new>

namespace {

lvObjectHeader *musicList = nullptr;
lvObjectHeader *streamList = nullptr;
lvMusic *currentMusic = nullptr;
lvMusic *lastPaused = nullptr;
int lastOpenedModule = 0;

enum { kBlockFrames = 4096 };

// One source frame widened to 16-bit stereo.
void FrameAt(const lvSoundSource *s, const uint8_t *p, int32_t out[2])
{
    switch (s->format) {
    case LV_SMP_U8_MONO: out[0] = out[1] = ((int32_t)p[0] - 128) * 256; break;
    case LV_SMP_U8_STEREO: out[0] = ((int32_t)p[0] - 128) * 256, out[1] = ((int32_t)p[1] - 128) * 256; break;
    case LV_SMP_S8_MONO: out[0] = out[1] = (int8_t)p[0] * 256; break;
    case LV_SMP_S8_STEREO: out[0] = (int8_t)p[0] * 256, out[1] = (int8_t)p[1] * 256; break;
    case LV_SMP_S16_MONO:
        out[0] = out[1] = (s->flags & LV_SMPF_BIGENDIAN) ? (int16_t)(p[0] << 8 | p[1]) : (int16_t)(p[0] | p[1] << 8);
        break;
    default:
        if (s->flags & LV_SMPF_BIGENDIAN) {
            out[0] = (int16_t)(p[0] << 8 | p[1]);
            out[1] = (int16_t)(p[2] << 8 | p[3]);
        } else {
            out[0] = (int16_t)(p[0] | p[1] << 8);
            out[1] = (int16_t)(p[2] | p[3] << 8);
        }
        break;
    }
}

// The next source frame; false when the last pass is used up. Passes rewind the source.
bool NextSourceFrame(lvMusicPlay *m, int32_t out[2])
{
    lvSoundSource *s = m->source;
    for (int attempt = 0; attempt < 3; attempt++) {
        if (m->blockPos < m->blockFrames) {
            FrameAt(s, m->block + m->blockPos * s->bytesPerFrame, out);
            m->blockPos++;
            return true;
        }
        if (m->sourceEnded) return false;
        int ended = 0;
        int64_t got = ReadSoundSource(s, m->block, kBlockFrames, &ended);
        m->blockFrames = got > 0 ? got : 0;
        m->blockPos = 0;
        if (got > 0 && !ended) continue;
        if (got > 0 && ended && s->kind != LV_SRC_MODULE && s->totalFrames > 0 && s->position < s->totalFrames)
            continue;
        // The source ended: another pass rewinds, the last one ends the music.
        if (m->passes > 0 && m->pass >= m->passes) {
            m->sourceEnded = 1;
        } else {
            m->pass++;
            SeekSoundSource(s, 0);
        }
        if (got > 0) continue;
        attempt = 0;
        if (m->sourceEnded) return false;
        // A source that delivers nothing even after rewinding would spin: end it.
        int again = 0;
        int64_t retry = ReadSoundSource(s, m->block, kBlockFrames, &again);
        if (retry <= 0) {
            m->sourceEnded = 1;
            return false;
        }
        m->blockFrames = retry;
        m->blockPos = 0;
    }
    return false;
}

// 1 with the next source frame, 0 when the server has not filled it yet, -1 at the end.
// Sources read from files come from the server's buffer; callback musics' queues are
// memory and are read here.
int NextFrame(lvMusicPlay *m, int32_t out[2])
{
    if (m->stream) {
        const uint8_t *frame = nullptr;
        int r = TakeStreamFrame(m->stream, &frame, &m->pass);
        if (r == 1) FrameAt(m->source, frame, out);
        return r;
    }
    return NextSourceFrame(m, out) ? 1 : -1;
}

inline int16_t Saturate(int32_t v) { return (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

int MixMusicVoice(void *context, int16_t *out, int frames)
{
    lvMusicPlay *m = (lvMusicPlay *)context;
    if (m->kind == LV_MUSIC_MODULE) {
        int16_t buffer[2 * 512];
        for (int done = 0; done < frames;) {
            int n = frames - done < 512 ? frames - done : 512;
            MixModule(m->player, buffer, buffer + 1, 4, n, 16, 2);
            for (int i = 0; i < n; i++) {
                int16_t *o = out + 2 * (done + i);
                o[0] = Saturate(o[0] + (int32_t)(((int64_t)buffer[2 * i] * m->gainLeft) >> 16));
                o[1] = Saturate(o[1] + (int32_t)(((int64_t)buffer[2 * i + 1] * m->gainRight) >> 16));
            }
            done += n;
        }
        m->framesOut += frames;
        return frames;
    }
    for (int i = 0; i < frames; i++) {
        // Bring the two frames the output lies between up to the fraction. An underrun
        // leaves the rest of this pull silent and resumes where it stopped.
        for (;;) {
            if (m->primed == 0) {
                int r = NextFrame(m, m->cur);
                if (r == 0) return frames; // the server is late: silence
                if (r < 0) return i;
                m->primed = 1;
            }
            if (m->primed == 1) {
                int r = NextFrame(m, m->next);
                if (r == 0) return frames; // the server is late: silence
                if (r < 0) {
                    m->next[0] = m->cur[0];
                    m->next[1] = m->cur[1];
                    m->sourceEnded = 2; // cur is the last frame
                }
                m->primed = 2;
            }
            if (m->fraction < (1ull << 32)) break;
            m->fraction -= 1ull << 32;
            if (m->sourceEnded == 2) return i;
            m->cur[0] = m->next[0];
            m->cur[1] = m->next[1];
            m->primed = 1;
        }
        int32_t l = m->cur[0], r = m->cur[1];
        uint32_t f = (uint32_t)m->fraction;
        if (f) {
            l += (int32_t)(((int64_t)(m->next[0] - l) * f) >> 32);
            r += (int32_t)(((int64_t)(m->next[1] - r) * f) >> 32);
        }
        int16_t *o = out + 2 * i;
        o[0] = Saturate(o[0] + (int32_t)(((int64_t)l * m->gainLeft) >> 16));
        o[1] = Saturate(o[1] + (int32_t)(((int64_t)r * m->gainRight) >> 16));
        m->framesOut++;
        m->fraction += m->step;
    }
    return frames;
}

void ChannelHook(lvObjectId id, int ended)
{
    lvMusic *music = FindMusic(id);
    if (!music || !music->onChannel) return;
    music->onChannel = 0;
    // The channel is already cleared: the record stops without touching the table.
    StopMusic(music, 0);
    (void)ended;
}

void ResetPlay(lvMusic *m)
{
    lvMusicPlay &p = m->play;
    p.fraction = 0;
    p.primed = 0;
    p.sourceEnded = 0;
    p.blockFrames = p.blockPos = 0;
    StopStreamServer(p.stream);
    ResetStreamBuffer(p.stream);
}

void SetGains(lvMusic *m)
{
    ComputeVoiceGains(m->volume, 128, &m->play.gainLeft, &m->play.gainRight);
}

struct VolumeChange {
    lvMusic *music;
};
void ApplyVolume(void *context)
{
    SetGains(((VolumeChange *)context)->music);
}

} // namespace

int64_t MonotonicUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

lvObjectHeader **GetMusicListHead() { return &musicList; }
lvObjectHeader **GetMusicStreamListHead() { return &streamList; }

static lvObjectHeader *FindInList(lvObjectHeader *list, lvObjectId id)
{
    for (lvObjectHeader *h = list; h; h = h->next)
        if (ObjectIdMatches(h, id)) return h;
    return nullptr;
}
static void AppendObject(lvObjectHeader **list, lvObjectHeader *h)
{
    while (*list) list = &(*list)->next;
    *list = h;
}
static void UnlinkObject(lvObjectHeader **list, lvObjectHeader *h)
{
    for (; *list; list = &(*list)->next)
        if (*list == h) {
            *list = h->next;
            return;
        }
}
static const lvRefOps *musicRefOps = nullptr;
void SetMusicRefOps(const lvRefOps *ops) { musicRefOps = ops; }

lvMusic *FindMusic(lvObjectId id) { return (lvMusic *)FindInList(musicList, id); }
lvMusicStream *FindMusicStream(lvObjectId id) { return (lvMusicStream *)FindInList(streamList, id); }

int LookupMusic(lvObjectId id, lvMusic **out)
{
    *out = FindMusic(id);
    if (*out) return 0;
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDMUSIC;
}

void InstallMusicEngine() { SetMusicChannelHooks(MixMusicVoice, ChannelHook); }

int OpenMusicSource(const char *path, const char *loaderList, const char *adapter, const void *userTags,
                    int subsong, int timed, int *kind, lvSoundSource **source, lvModulePlayer **player,
                    lvPluginRecord **decoder)
{
    lvSoundSource *s = nullptr;
    int code = OpenSoundSource(path, loaderList, adapter, userTags, subsong, timed, 1, &s, decoder);
    if (code) return code;
    *source = nullptr;
    *player = nullptr;
    if (s->kind == LV_SRC_MODULE && !timed) {
        *kind = LV_MUSIC_MODULE;
        *player = (lvModulePlayer *)s->stream;
        s->stream = nullptr;
        s->kind = -1;
        FreeSoundSource(s);
        return 0;
    }
    if (s->format < 0) {
        FreeSoundSource(s);
        return ERR_8OR16BITONLY;
    }
    *kind = LV_MUSIC_SOURCE;
    *source = s;
    return 0;
}

int AddMusic(int number, bool useHandle, const char *fileName, int kind, lvSoundSource *source,
             lvModulePlayer *player, lvMusic **out)
{
    auto release = [&] {
        FreeSoundSource(source);
        FreeModulePlayer(player);
    };
    if (!useHandle) {
        if (lvMusic *old = FindMusic(lvObjectId{number, nullptr})) {
            if (int code = CloseMusic(old)) {
                release();
                return code;
            }
        }
    }
    lvMusic *m = (lvMusic *)AllocMemory(sizeof(lvMusic), 1);
    uint8_t *block = kind == LV_MUSIC_SOURCE ? (uint8_t *)AllocMemory((size_t)kBlockFrames * 4, 0) : nullptr;
    if (!m || (kind == LV_MUSIC_SOURCE && !block)) {
        FreeMemory(m);
        FreeMemory(block);
        release();
        return ERR_MEM;
    }
    if (fileName) {
        size_t n = strlen(fileName);
        m->fileName = (char *)AllocMemory(n + 1, 0);
        if (!m->fileName) {
            FreeMemory(m);
            FreeMemory(block);
            release();
            return ERR_MEM;
        }
        memcpy(m->fileName, fileName, n + 1);
    }
    InitObjectHeader(&m->header, 33, number, useHandle);
    m->kind = kind;
    m->source = source;
    m->player = player;
    m->volume = 64;
    m->passes = 1;
    m->currentPass = 1;
    m->currentSubsong = 1;
    m->subsongs = source ? source->subsongs : 1;
    m->canSeek = source ? source->canSeek : 0;
    m->timedModule = source && source->kind == LV_SRC_MODULE;
    m->play.kind = kind;
    m->play.source = source;
    m->play.player = player;
    m->play.block = block;
    AppendObject(&musicList, &m->header);
    lastOpenedModule = IsModuleMusic(m);
    *out = m;
    return 0;
}

int IsModuleMusic(const lvMusic *m)
{
    return m->kind == LV_MUSIC_MODULE || (m->source && m->source->kind == LV_SRC_MODULE);
}
int IsLastMusicModule() { return lastOpenedModule; }
lvMusic *GetCurrentMusic() { return currentMusic; }
lvMusic *GetLastPausedMusic() { return lastPaused; }

int CloseMusic(lvMusic *m)
{
    if (m->state == LV_MUS_SAVING) return ERR_OBJINUSE;
    if (m->onChannel) StopMusicChannel(&m->play);
    m->onChannel = 0;
    UnlinkObject(&musicList, &m->header);
    if (currentMusic == m) currentMusic = nullptr;
    if (lastPaused == m) lastPaused = nullptr;
    FreeStreamBuffer(m->play.stream);
    m->play.stream = nullptr;
    FreeSoundSource(m->source);
    FreeModulePlayer(m->player);
    FreeMemory(m->play.block);
    FreeMemory(m->fileName);
    FreeUserTags(m->userTags, 0);
    FreeObjectUserData(&m->header.userData, musicRefOps);
    FreeMemory(m);
    return 0;
}

void FreeAllMusics()
{
    while (musicList) {
        lvMusic *m = (lvMusic *)musicList;
        m->state = LV_MUS_STOPPED;
        CloseMusic(m);
    }
    lastOpenedModule = 0;
}

int StartMusic(lvMusic *m)
{
    lvMusicPlay &p = m->play;
    p.passes = m->passes;
    p.pass = m->currentPass;
    int rate = m->kind == LV_MUSIC_MODULE ? LV_MOD_RATE : m->source->rate;
    p.step = rate > 0 ? ((uint64_t)rate << 32) / LV_AUDIO_RATE : (1ull << 32);
    SetGains(m);
    if (m->state != LV_MUS_PAUSED) ResetPlay(m);
    // A source read from a file is read ahead by its server; callback queues are not.
    bool served = m->kind == LV_MUSIC_SOURCE && m->source->kind != LV_SRC_CALLBACK;
    int64_t startPosition = m->source ? m->source->position : 0;
    if (served) {
        if (int code = StartStreamServer(&p.stream, m->source, p.pass, p.passes)) {
            if (m->state != LV_MUS_PAUSED) {
                ResetPlay(m);
                SeekSoundSource(m->source, startPosition);
            }
            return code;
        }
    }
    int used = 0;
    int code = PlayMusicOnChannel(&m->play, GetObjectIdOf(&m->header),
                                  m->kind == LV_MUSIC_MODULE ? LV_CH_MODULE : LV_CH_STREAM, m->channel - 1, &used);
    if (code) {
        if (served) {
            StopStreamServer(p.stream);
            if (m->state != LV_MUS_PAUSED) {
                ResetPlay(m);
                SeekSoundSource(m->source, startPosition);
            }
        }
        return code;
    }
    m->onChannel = 1;
    m->channel = used + 1;
    currentMusic = m;
    lastPaused = nullptr;
    m->state = LV_MUS_PLAYING;
    m->ended = 0;
    m->startUs = MonotonicUs();
    return 0;
}

void StopMusic(lvMusic *m, int pause)
{
    if (m->onChannel) StopMusicChannel(&m->play);
    m->onChannel = 0;
    // Off the channel nothing reads the buffer; the server leaves the source to us.
    StopStreamServer(m->play.stream);
    if (pause) {
        m->currentPass = m->play.pass;
        m->pausedPosition = m->play.framesOut;
        m->msBeforePause += (MonotonicUs() - m->startUs) / 1000;
        lastPaused = m;
        m->state = LV_MUS_PAUSED;
    } else {
        m->currentPass = 1;
        m->pausedPosition = 0;
        m->channel = 0;
        m->msBeforePause = 0;
        m->play.framesOut = 0;
        if (m->kind == LV_MUSIC_MODULE) ResetModulePlayer(m->player, LV_MOD_RATE);
        else if (m->source) SeekSoundSource(m->source, 0);
        ResetPlay(m);
        if (lastPaused == m) lastPaused = nullptr;
        m->state = LV_MUS_STOPPED;
    }
    if (currentMusic == m) currentMusic = nullptr;
}

void SetMusicVolumeLevel(lvMusic *m, int volume)
{
    m->volume = volume;
    VolumeChange change{m};
    WithAudioLocked(ApplyVolume, &change);
}

void SeekMusicSource(lvMusic *m, int64_t ms)
{
    if (!m->source) return;
    StopStreamServer(m->play.stream);
    int64_t frame = (int64_t)m->source->rate * ms / 1000;
    SeekSoundSource(m->source, frame);
    ResetPlay(m);
    m->play.framesOut = frame * LV_AUDIO_RATE / (m->source->rate > 0 ? m->source->rate : 1);
}

int64_t GetMusicDurationMs(const lvMusic *m)
{
    if (!m->source || m->source->rate <= 0 || m->source->totalFrames <= 0) return -1;
    return m->source->totalFrames * 1000 / m->source->rate;
}

int64_t GetMusicPositionMs(const lvMusic *m)
{
    if (m->kind == LV_MUSIC_MODULE) {
        int64_t ms = m->msBeforePause;
        if (m->state == LV_MUS_PLAYING) ms += (MonotonicUs() - m->startUs) / 1000;
        return ms;
    }
    // The source's read position runs ahead by one block; what was mixed is exact. The
    // mixer advances the count, so it is read under the device lock.
    struct Read {
        const lvMusic *music;
        int64_t frames;
    } read = {m, 0};
    WithAudioLocked([](void *context) {
        Read *r = (Read *)context;
        r->frames = r->music->play.framesOut;
    }, &read);
    return read.frames * 1000 / LV_AUDIO_RATE;
}

int64_t ReadMusicFrames(lvMusic *m, void *buffer, int64_t frames, int *ended)
{
    if (m->kind == LV_MUSIC_MODULE) {
        uint8_t *out = (uint8_t *)buffer;
        *ended = 0;
        return MixModule(m->player, out, out + 2, 4, frames, 16, 2);
    }
    return ReadSoundSource(m->source, buffer, frames, ended);
}

// ---- Music streams ---------------------------------------------------------------------

int AddMusicStream(int number, bool useHandle, lvSampleWriter *writer, int rate, int channels, int bits,
                   lvMusicStream **out)
{
    if (!useHandle)
        if (lvMusicStream *old = FindMusicStream(lvObjectId{number, nullptr})) FinishMusicStream(old);
    lvMusicStream *s = (lvMusicStream *)AllocMemory(sizeof(lvMusicStream), 1);
    if (!s) {
        CloseSampleWriter(writer);
        return ERR_MEM;
    }
    InitObjectHeader(&s->header, 65, number, useHandle);
    s->writer = writer;
    s->rate = rate;
    s->channels = channels;
    s->bits = bits;
    AppendObject(&streamList, &s->header);
    *out = s;
    return 0;
}

void FinishMusicStream(lvMusicStream *s)
{
    UnlinkObject(&streamList, &s->header);
    CloseSampleWriter(s->writer);
    FreeObjectUserData(&s->header.userData, musicRefOps);
    FreeMemory(s);
}

void FreeAllMusicStreams()
{
    while (streamList) FinishMusicStream((lvMusicStream *)streamList);
}

// ---- Callback musics ---------------------------------------------------------------------

namespace {

struct lvCallbackBlock {
    lvCallbackBlock *next;
    uint8_t *data;           // nullptr: the end marker
    int64_t bytes;
    int64_t framesConsumed;
    int64_t frames;
    int consumed;
};

struct lvCallbackQueue {
    std::mutex lock;               // the reader (mixer) and FillMusicBuffer
    lvCallbackBlock *head = nullptr;
    lvCallbackBlock *tail = nullptr;
    int64_t refillPosition = 0;
    int bytesPerFrame = 0;
    int silence = 0;               // the silent byte
};

void FreeBlocks(lvCallbackBlock *b)
{
    while (b) {
        lvCallbackBlock *next = b->next;
        FreeMemory(b);
        b = next;
    }
}

} // namespace

int NewCallbackStreamSource(int rate, int code, lvSoundSource **out)
{
    if (code < 0 || code > 5) return ERR_WRONGUSAGE;
    lvSoundSource *s = (lvSoundSource *)AllocMemory(sizeof(lvSoundSource), 1);
    if (!s) return ERR_MEM;
    lvCallbackQueue *q = new (std::nothrow) lvCallbackQueue();
    if (!q) {
        FreeMemory(s);
        return ERR_MEM;
    }
    s->kind = LV_SRC_CALLBACK;
    s->rate = rate;
    s->channels = (code == 1 || code == 3 || code == 5) ? 2 : 1;
    s->bits = code >= 4 ? 16 : 8;
    s->bytesPerFrame = GetSampleFrameSize(code);
    s->flags = (code >= 4 || code == 2 || code == 3) ? LV_SMPF_SIGNED : 0;
    s->format = code;
    s->nominalFrames = -1;
    s->streamFlag = 1;
    s->canSeek = 0;
    s->subsongs = 1;
    q->bytesPerFrame = s->bytesPerFrame;
    q->silence = (code == 0 || code == 1) ? 128 : 0;
    s->stream = q;
    *out = s;
    return 0;
}

void FreeCallbackQueue(void *queue)
{
    lvCallbackQueue *q = (lvCallbackQueue *)queue;
    if (!q) return;
    FreeBlocks(q->head);
    delete q;
}

int64_t ReadCallbackQueue(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    lvCallbackQueue *q = (lvCallbackQueue *)source->stream;
    uint8_t *out = (uint8_t *)buffer;
    int64_t done = 0;
    *ended = 0;
    std::lock_guard<std::mutex> guard(q->lock);
    for (lvCallbackBlock *b = q->head; b && done < frames; b = b->next) {
        if (b->consumed) continue;
        // The end marker is read before the queue counts as empty: a stream whose data
        // ran out exactly at its end still ends.
        if (!b->data) {
            *ended = 1;
            return done;
        }
        int64_t n = b->frames - b->framesConsumed;
        if (n > frames - done) n = frames - done;
        memcpy(out + done * q->bytesPerFrame, b->data + b->framesConsumed * q->bytesPerFrame,
               (size_t)(n * q->bytesPerFrame));
        b->framesConsumed += n;
        done += n;
        if (b->framesConsumed >= b->frames) b->consumed = 1;
    }
    for (lvCallbackBlock *b = q->head; b; b = b->next)
        if (!b->consumed && !b->data && done < frames) {
            *ended = 1;
            return done;
        }
    // Nothing more queued: silence, and the music plays on.
    if (done < frames) memset(out + done * q->bytesPerFrame, q->silence, (size_t)((frames - done) * q->bytesPerFrame));
    return frames;
}

int QueueCallbackFrames(lvSoundSource *source, const void *data, int64_t frames)
{
    lvCallbackQueue *q = (lvCallbackQueue *)source->stream;
    int64_t bytes = data ? frames * q->bytesPerFrame : 0;
    lvCallbackBlock *b = (lvCallbackBlock *)AllocMemory(sizeof(lvCallbackBlock) + (size_t)bytes, 1);
    if (!b) return ERR_MEM;
    if (data) {
        b->data = (uint8_t *)(b + 1);
        memcpy(b->data, data, (size_t)bytes);
        b->bytes = bytes;
        b->frames = frames;
    }
    lvCallbackBlock *dropped = nullptr;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        while (q->head && q->head->consumed) {
            lvCallbackBlock *h = q->head;
            q->head = h->next;
            h->next = dropped;
            dropped = h;
        }
        if (!q->head) q->tail = nullptr;
        if (q->tail) q->tail->next = b;
        else q->head = b;
        q->tail = b;
        if (data) q->refillPosition += frames;
    }
    FreeBlocks(dropped);
    return 0;
}

void EmptyCallbackQueue(lvSoundSource *source)
{
    lvCallbackQueue *q = (lvCallbackQueue *)source->stream;
    lvCallbackBlock *all;
    {
        std::lock_guard<std::mutex> guard(q->lock);
        all = q->head;
        q->head = q->tail = nullptr;
        q->refillPosition = 0;
    }
    FreeBlocks(all);
}

void GetCallbackQueueState(lvSoundSource *source, int64_t *queued, int64_t *position)
{
    lvCallbackQueue *q = (lvCallbackQueue *)source->stream;
    std::lock_guard<std::mutex> guard(q->lock);
    int64_t n = 0;
    bool ended = false;
    for (lvCallbackBlock *b = q->head; b; b = b->next) {
        if (!b->data) ended = true;
        else if (!b->consumed) n += b->frames - b->framesConsumed;
    }
    // A stream that queued its end needs nothing more.
    *queued = ended ? INT64_MAX : n;
    *position = q->refillPosition;
}

int GetPendingMusicRequest(lvObjectId *id, int64_t *missing, int64_t *position)
{
    for (lvObjectHeader *h = musicList; h; h = h->next) {
        lvMusic *m = (lvMusic *)h;
        if (!m->callbackMusic || m->state != LV_MUS_PLAYING || !m->source) continue;
        int64_t queued, refill;
        GetCallbackQueueState(m->source, &queued, &refill);
        if (queued >= m->source->rate) continue;
        *id = GetObjectIdOf(&m->header);
        *missing = 2 * (int64_t)m->source->rate - queued;
        *position = refill;
        return 1;
    }
    return 0;
}

void MarkMusicEnded(lvObjectId id)
{
    if (lvMusic *m = FindMusic(id)) m->ended = 1;
}
