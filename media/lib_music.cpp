// lib_music.cpp - the music half of the "sound" library: music objects and modules,
// their playback, positions and waits, reading a music into a sample, saving a music
// (whole or stepped as an async operation), and music streams. The library's open
// and close steps and the sample commands are lib_sound.cpp's.
//
// Each command checks its argument count first, reads its arguments, then calls the
// engine (lvmusic.h); engine failures come back as codes, which the machine raises.
// Limits: script thread only.
#include "media/lib_music.h"
#include "media/lib_sound.h"
#include "media/lvmusic.h"
#include "media/lvsamples.h"
#include "base/lverrors.h"
#include "libs/lib_core2.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include "runtime/asyncop.h"
#include "runtime/cmdsupport.h"
#include "runtime/container.h"
#include "runtime/errors.h"
#include "runtime/lists.h"
#include "runtime/startup.h"
#include "runtime/vfile.h"
#include "ui/events.h"
#include "vm/lvvm.h"
#include <cstring>
#include <memory>
#include <strings.h>

namespace {

int musicCallbackActive = 0; // the FillMusicBuffer handler runs
int keepAliveHeld = 0;       // the 20 ms interval runs for callback musics

// Playing callback musics keep the internal interval running, so that the event pass
// asks their handler for data even while the script waits.
void UpdateKeepAlive(lvState *L)
{
    int playing = 0;
    for (lvObjectHeader *h = *GetMusicListHead(); h; h = h->next) {
        lvMusic *m = (lvMusic *)h;
        if (m->callbackMusic && m->state == LV_MUS_PLAYING) playing = 1;
    }
    if (playing && !keepAliveHeld) keepAliveHeld = RequireInternalInterval(L, 0) == 0;
    else if (!playing && keepAliveHeld) {
        ReleaseInternalInterval(L, 0);
        keepAliveHeld = 0;
    }
}

struct UserTagsDeleter {
    void operator()(lvUserTag *p) const { FreeUserTags(p, 0); }
};

bool IsTable(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) == LV_TTABLE; }
bool Present(lvState *L, int index) { return GetStackTop(L) >= index && GetValueType(L, index) != LV_TNIL; }
int IntArg(lvState *L, int index) { return (int)NumberToInt64(CheckNumberArg(L, index)); }

int OptionalTable(lvState *L, int index)
{
    if (!Present(L, index) || GetValueType(L, index) == LV_TTABLE) return 0;
    SetErrorNumberArg(index);
    return ERR_TABEXPECTED;
}

// Loader, adapter and user tags of an options table.
struct SourceOptions {
    char loader[256] = "";
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    int timed = 0;
    ~SourceOptions() { FreeUserTags(tags, 0); }
    int Read(lvState *L, int index)
    {
        if (!IsTable(L, index)) return 0;
        GetFieldStringBuf(L, index, "loader", loader, sizeof loader);
        GetFieldStringBuf(L, index, "adapter", adapter, sizeof adapter);
        GetFieldBool(L, index, "timedprotracker", &timed);
        return ReadUserTags(L, index, nullptr, nullptr, &tags);
    }
    const char *Loader() const { return loader[0] ? loader : nullptr; }
    const char *Adapter() const { return adapter[0] ? adapter : nullptr; }
};

// The music of an optional id argument, else fallback (none: ERR_WRONGUSAGE).
int MusicArgOr(lvState *L, int index, lvMusic *fallback, lvMusic **out)
{
    if (Present(L, index)) return LookupMusic(GetObjectIdArg(L, index), out);
    if (!fallback) return ERR_WRONGUSAGE;
    *out = fallback;
    return 0;
}

// Reads "volume", "times" and "channel" from a table, or the passes from a number.
void ReadPlayOptions(lvState *L, int index, lvMusic *m)
{
    m->passes = 1;
    if (!Present(L, index)) return;
    if (GetValueType(L, index) == LV_TTABLE) {
        int v;
        if (GetFieldInt(L, index, "times", &v)) m->passes = v;
        if (GetFieldInt(L, index, "channel", &v)) m->channel = v > 0 ? v : 0;
        double volume;
        if (GetFieldNumber(L, index, "volume", &volume)) m->volume = volume < 0 ? 0 : volume > 64 ? 64 : (int)volume;
    } else {
        m->passes = IntArg(L, index);
    }
}

// ---- Opening and closing --------------------------------------------------------------------

// OpenMusic(id, file[, {loader, adapter, timedprotracker, usertags}])
int CmdOpenMusic(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    const char *file = GetLinkedFileArg(L, 2, 0, nullptr);
    if (int code = OptionalTable(L, 3)) return code;
    SourceOptions o;
    if (int code = o.Read(L, 3)) return code;
    if (SoundQuiet()) return 0;
    int open = SoundEnsureAudio();
    if (open < 0) return 0;
    if (open) return open;
    if (!isNil) {
        if (lvMusic *old = FindMusic(lvObjectId{number, nullptr}))
            if (int code = CloseMusic(old)) return code;
    }
    int kind = 0;
    lvSoundSource *source = nullptr;
    lvModulePlayer *player = nullptr;
    lvPluginRecord *decoder = nullptr;
    int code = OpenMusicSource(file, o.Loader(), o.Adapter(), o.tags, 0, o.timed, &kind, &source, &player, &decoder);
    if (code) return code;
    lvMusic *m = nullptr;
    if ((code = AddMusic(number, isNil != 0, file, kind, source, player, &m))) return code;
    m->decoder = decoder;
    m->timedModule = o.timed && IsModuleMusic(m);
    if (o.adapter[0]) CopyStrBounded(m->adapter, sizeof m->adapter, o.adapter);
    m->userTags = o.tags;
    o.tags = nullptr;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&m->header));
    return 1;
}

// CloseMusic(id)
int CmdCloseMusic(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (SoundQuiet()) return 0;
    lvMusic *m = FindMusic(id);
    if (!m) return 0;
    if (m->state == LV_MUS_PLAYING && m->callbackMusic && musicCallbackActive) return ERR_NOCALLBACK;
    int code = CloseMusic(m);
    UpdateKeepAlive(L);
    return code;
}

// IsMusic(file[, options]) -> boolean, type name
int CmdIsMusic(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    const char *file = GetLinkedFileArg(L, 1, 0, nullptr);
    if (int code = OptionalTable(L, 2)) return code;
    SourceOptions o;
    if (int code = o.Read(L, 2)) return code;
    lvSoundSource *s = nullptr;
    if (OpenSoundSource(file, o.Loader(), o.Adapter(), o.tags, 0, 0, 1, &s, nullptr)) {
        PushBoolean(L, 0);
        PushString(L, "");
        return 2;
    }
    const char *name = GetSoundSourceTypeName(s);
    PushBoolean(L, 1);
    PushString(L, name ? name : "");
    FreeSoundSource(s);
    return 2;
}

// ---- Playing -------------------------------------------------------------------------------

int AskForFirstFrames(lvState *L, lvMusic *m);

int StartChecked(lvMusic *m, lvState *L = nullptr)
{
    if (musicCallbackActive) return ERR_NOCALLBACK;
    if (m->callbackMusic) {
        m->passes = 1;
        // A stopped callback music starts on fresh data; one just made already has it.
        if (m->state == LV_MUS_STOPPED && L && m->play.framesOut > 0)
            if (int code = AskForFirstFrames(L, m)) return code;
    }
    int code = StartMusic(m);
    if (L) UpdateKeepAlive(L);
    return code;
}

// PlayMusic(id[, options or times])
int CmdPlayMusic(lvState *L)
{
    CheckArgCount(L, 1, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (int code = Present(L, 2) && GetValueType(L, 2) != LV_TTABLE && GetValueType(L, 2) != LV_TNUMBER
                       ? ERR_WRONGUSAGE
                       : 0)
        return code;
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    if (m->state == LV_MUS_SAVING || m->state == LV_MUS_READING) return ERR_WRONGUSAGE;
    if (m->state == LV_MUS_PLAYING) return ERR_MUSPLAYING;
    if (m->state == LV_MUS_PAUSED) return ERR_MUSPAUSED;
    if (musicCallbackActive) return ERR_NOCALLBACK;
    lvLegacySwitches *legacy = GetLegacySwitches();
    if (legacy && legacy->singleMusic) {
        if (lvMusic *current = GetCurrentMusic())
            if (current != m) StopMusic(current, 0);
    }
    ReadPlayOptions(L, 2, m);
    m->currentPass = 1;
    return StartChecked(m, L);
}

// StopMusic([id]) / PauseMusic([id])
int StopOrPause(lvState *L, int pause)
{
    CheckArgCount(L, 0, 1, 0, 0);
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = MusicArgOr(L, 1, GetCurrentMusic(), &m)) return code;
    if (m->state == LV_MUS_SAVING || m->state == LV_MUS_READING) return ERR_WRONGUSAGE;
    if (musicCallbackActive) return ERR_NOCALLBACK;
    if (pause && m->state != LV_MUS_PLAYING) return 0;
    StopMusic(m, pause);
    UpdateKeepAlive(L);
    return 0;
}
int CmdStopMusic(lvState *L) { return StopOrPause(L, 0); }
int CmdPauseMusic(lvState *L) { return StopOrPause(L, 1); }

// ResumeMusic([id])
int CmdResumeMusic(lvState *L)
{
    CheckArgCount(L, 0, 1, 0, 0);
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = MusicArgOr(L, 1, GetLastPausedMusic(), &m)) return code;
    if (m->state != LV_MUS_PAUSED) return ERR_MUSNOTPAUSED;
    return StartChecked(m, L);
}

// SeekMusic(id, ms)
int CmdSeekMusic(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int64_t ms = NumberToInt64(CheckNumberArg(L, 2));
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    if (m->state == LV_MUS_SAVING) return ERR_WRONGUSAGE;
    if (!m->canSeek || !m->source) return ERR_SEEKFORMAT;
    int64_t duration = GetMusicDurationMs(m);
    if (duration < 0 || ms < 0 || ms >= duration) return ERR_SEEKRANGE;
    if (m->state == LV_MUS_PLAYING) {
        if (musicCallbackActive) return ERR_NOCALLBACK;
        StopMusic(m, 1);
        SeekMusicSource(m, ms);
        return StartMusic(m);
    }
    SeekMusicSource(m, ms);
    return 0;
}

// SetMusicVolume(id, volume)
int CmdSetMusicVolume(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    double value = GetNumberOrPercentArg(L, 2, 64, 0, nullptr);
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    SetMusicVolumeLevel(m, value < 0 ? 0 : value > 64 ? 64 : (int)value);
    return 0;
}

// PlaySubsong(subsong[, id, options])
int CmdPlaySubsong(lvState *L)
{
    CheckArgCount(L, 1, 3, 0, 0);
    int number = IntArg(L, 1);
    if (SoundQuiet()) return 0;
    lvMusic *m;
    if (int code = MusicArgOr(L, 2, GetCurrentMusic(), &m)) return code;
    if (m->state == LV_MUS_SAVING || m->state == LV_MUS_READING) return ERR_WRONGUSAGE;
    if (m->kind == LV_MUSIC_MODULE) {
        // Song positions count from 1; outside the song the order list has no entry.
        if (number < 1 || number > m->player->songLength) return ERR_WRONGUSAGE;
        if (m->state != LV_MUS_PLAYING) {
            ResetModulePlayer(m->player, LV_MOD_RATE);
            m->player->nextPosition = number - 1;
        } else {
            ModulePositionControl(m->player, number - 1);
        }
    } else {
        if (number < 1 || number > m->subsongs) return ERR_WRONGUSAGE;
        if (number == m->currentSubsong) {
            if (m->state != LV_MUS_STOPPED) {
                if (musicCallbackActive) return ERR_NOCALLBACK;
                StopMusic(m, 0);
            }
        } else {
            if (!m->fileName) return ERR_WRONGUSAGE;
            int kind = 0;
            lvSoundSource *source = nullptr;
            lvModulePlayer *player = nullptr;
            lvPluginRecord *decoder = nullptr;
            const char *loader = m->decoder ? m->decoder->name : nullptr;
            int code = OpenMusicSource(m->fileName, loader, m->adapter[0] ? m->adapter : nullptr, m->userTags,
                                       number - 1, m->timedModule, &kind, &source, &player, &decoder);
            if (code) return code;
            if (kind != LV_MUSIC_SOURCE) {
                FreeModulePlayer(player);
                return ERR_WRONGUSAGE;
            }
            if (m->state != LV_MUS_STOPPED) StopMusic(m, 0);
            FreeSoundSource(m->source);
            m->source = m->play.source = source;
            m->canSeek = source->canSeek;
            m->currentPass = 1;
            m->pausedPosition = 0;
            m->currentSubsong = number;
        }
    }
    if (m->state == LV_MUS_PLAYING) return 0;
    if (m->state == LV_MUS_PAUSED) StopMusic(m, 0);
    ReadPlayOptions(L, 3, m);
    m->currentPass = 1;
    return StartChecked(m, L);
}

// IsMusicPlaying(id) -> boolean
int CmdIsMusicPlaying(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    ServiceSoundChannels();
    PushBoolean(L, m->state == LV_MUS_PLAYING && !m->ended);
    return 1;
}

// WaitMusicEnd(id)
int CmdWaitMusicEnd(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    if (GetRuntimeSwitches()->forbidModal) return ERR_FORBIDMODAL;
    if (!IsAudioDeviceOpen()) return 0;
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    while (m->state == LV_MUS_PLAYING && !m->ended) {
        // The end mark the mixer left returns the music to stopped here, whether or not
        // the event pass serves the sound channels.
        ServiceSoundChannels();
        if (int code = GetStartupHooks()->PollRuntimeEvents(L, 2)) return code;
        if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return 0;
        // The event pass may have closed the music; look it up again.
        if (!(m = FindMusic(id))) return 0;
        if (m->state != LV_MUS_PLAYING || m->ended) break;
        SleepMilliseconds(10);
    }
    return 0;
}

// The current music's row or song position; -1 without one.
int ModulePosition(lvState *L, int song)
{
    CheckArgCount(L, 0, 0, 0, 0);
    lvMusic *m = GetCurrentMusic();
    if (!m) {
        PushNumber(L, -1);
        return 1;
    }
    if (m->kind != LV_MUSIC_MODULE) return ERR_WRONGUSAGE;
    PushNumber(L, song ? m->player->songPosition.load() : m->player->patternRow.load());
    return 1;
}
int CmdGetPatternPosition(lvState *L) { return ModulePosition(L, 0); }
int CmdGetSongPosition(lvState *L) { return ModulePosition(L, 1); }

int WaitModulePosition(lvState *L, int song)
{
    CheckArgCount(L, 1, 1, 0, 0);
    int target = IntArg(L, 1);
    if (GetRuntimeSwitches()->forbidModal) return ERR_FORBIDMODAL;
    for (;;) {
        lvMusic *m = GetCurrentMusic();
        if (!m) return 0;
        if (m->kind != LV_MUSIC_MODULE) return ERR_WRONGUSAGE;
        int now = song ? m->player->songPosition.load() : m->player->patternRow.load();
        if (now >= target) return 0;
        if (int code = GetStartupHooks()->PollRuntimeEvents(L, 2)) return code;
        if (gVMRun.stopRequest.load(std::memory_order_relaxed)) return 0;
        SleepMilliseconds(10);
    }
}
int CmdWaitPatternPosition(lvState *L) { return WaitModulePosition(L, 0); }
int CmdWaitSongPosition(lvState *L) { return WaitModulePosition(L, 1); }

// ---- Callback musics -------------------------------------------------------------------------

lvEventId ToEventId(lvObjectId id) { return lvEventId{(uintptr_t)id.number, (uintptr_t)id.handle}; }

// Asks the FillMusicBuffer handler for the first two seconds of a callback music.
int AskForFirstFrames(lvState *L, lvMusic *m)
{
    EmptyCallbackQueue(m->source);
    return FireFillMusicBuffer(L, nullptr, ToEventId(GetObjectIdOf(&m->header)), 2 * (int64_t)m->source->rate, 0);
}

// CreateMusic(id, rate, format)
int CmdCreateMusic(lvState *L)
{
    CheckArgCount(L, 3, 3, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    int rate = IntArg(L, 2);
    int format = IntArg(L, 3);
    if (musicCallbackActive) return ERR_NOCALLBACK;
    if (GetGlobalHandler(GLOBAL_FILLMUSICBUFFER)->function == -1) return ERR_NOFMBHANDLER;
    int code = ScriptToEngineFormat(format);
    if (code < 0) return ERR_WRONGUSAGE;
    if (rate < 256) return ERR_LOWFREQ;
    if (SoundQuiet()) return 0;
    if (!isNil)
        if (lvMusic *old = FindMusic(lvObjectId{number, nullptr}))
            if (int r = CloseMusic(old)) return r;
    int open = SoundEnsureAudio();
    if (open < 0) return 0;
    if (open) return open;
    lvSoundSource *source = nullptr;
    if (int r = NewCallbackStreamSource(rate, code, &source)) return r;
    lvMusic *m;
    if (int r = AddMusic(number, isNil != 0, nullptr, LV_MUSIC_SOURCE, source, nullptr, &m)) return r;
    m->callbackMusic = 1;
    m->subsongs = 1;
    if (int r = AskForFirstFrames(L, m)) return r;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&m->header));
    return 1;
}

// FillMusicBuffer(id, mode, frames[, {data, id, loop, offset, start, end}])
int CmdFillMusicBuffer(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    const char *mode = CheckStringArg(L, 2, nullptr);
    int64_t frames = NumberToInt64(CheckNumberArg(L, 3));
    if (int code = OptionalTable(L, 4)) return code;
    if (!musicCallbackActive) return ERR_NOMUSICCB;
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    if (!m->callbackMusic) return ERR_WRONGUSAGE;
    // A negative count would size the block below zero.
    if (frames < 0 || frames > 0x7FFFFFF) return ERR_WRONGUSAGE;
    lvSoundSource *s = m->source;
    if (!strcasecmp(mode, "end")) return QueueCallbackFrames(s, nullptr, 0);
    bool silent = frames == 0;
    if (silent) frames = 1;
    int channels = s->channels, sixteen = s->bits == 16;
    int64_t values = frames * channels;
    std::unique_ptr<uint8_t, void (*)(void *)> block((uint8_t *)AllocMemory((size_t)(frames * s->bytesPerFrame), 1),
                                                     FreeMemory);
    if (!block) return ERR_MEM;
    uint8_t *out = block.get();
    int silence = s->format == LV_SMP_U8_MONO || s->format == LV_SMP_U8_STEREO ? 128 : 0;
    if (silent || !strcasecmp(mode, "mute")) {
        memset(out, silence, (size_t)(frames * s->bytesPerFrame));
    } else if (!strcasecmp(mode, "pcm")) {
        if (!IsTable(L, 4)) return ERR_WRONGUSAGE;
        PushString(L, "data");
        GetTableValue(L, 4);
        bool isTable = GetValueType(L, -1) == LV_TTABLE;
        if (!isTable) {
            SetStackTop(L, -2);
            return ERR_WRONGUSAGE;
        }
        int table = GetStackTop(L);
        // A non-number item ends the reading; the rest of the block stays silent.
        memset(out, silence, (size_t)(frames * s->bytesPerFrame));
        for (int64_t i = 0; i < values; i++) {
            GetTableItemRaw(L, table, (int)i);
            bool number = GetValueType(L, -1) == LV_TNUMBER;
            int v = number ? (int)ValueToNumber(L, -1) : 0;
            SetStackTop(L, -2);
            if (!number) break;
            if (sixteen) {
                out[2 * i] = (uint8_t)v;
                out[2 * i + 1] = (uint8_t)((uint16_t)v >> 8);
            } else {
                out[i] = (uint8_t)v;
            }
        }
        SetStackTop(L, -2);
    } else if (!strcasecmp(mode, "sample")) {
        lvObjectId sampleId;
        if (!IsTable(L, 4) || !GetFieldObjectId(L, 4, "id", &sampleId)) return ERR_WRONGUSAGE;
        lvSample *sample;
        if (int code = LookupSample(sampleId, &sample)) return code;
        lvFrameCopyOptions options;
        InitFrameCopyOptions(&options);
        double v;
        GetFieldBool(L, 4, "loop", &options.loop);
        if (GetFieldNumber(L, 4, "offset", &v)) options.offset = (int64_t)v;
        if (GetFieldNumber(L, 4, "start", &v)) options.start = (int64_t)v;
        if (GetFieldNumber(L, 4, "end", &v)) options.end = (int64_t)v;
        int isSigned = s->format != LV_SMP_U8_MONO && s->format != LV_SMP_U8_STEREO;
        if (int code = CopySampleFrames(sample->buffer, &options, s->bits, isSigned, channels, frames, out)) return code;
    } else {
        return ERR_WRONGUSAGE;
    }
    return QueueCallbackFrames(s, out, frames);
}

// FlushMusicBuffer(id): a playing callback music restarts with fresh data.
int CmdFlushMusicBuffer(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvMusic *m;
    if (int code = LookupMusic(GetObjectIdArg(L, 1), &m)) return code;
    if (!m->callbackMusic || m->state != LV_MUS_PLAYING) return ERR_WRONGUSAGE;
    if (musicCallbackActive) return ERR_NOCALLBACK;
    StopMusic(m, 0);
    if (int code = AskForFirstFrames(L, m)) return code;
    return StartMusic(m);
}

// ---- Reading and saving ------------------------------------------------------------------------

// GetMusicSample(music, sample, frames[, {hardware}])
int CmdGetMusicSample(lvState *L)
{
    CheckArgCount(L, 3, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 2, &isNil);
    int64_t frames = NumberToInt64(CheckNumberArg(L, 3));
    if (int code = OptionalTable(L, 4)) return code;
    int hardware = 1;
    if (IsTable(L, 4)) GetFieldBool(L, 4, "hardware", &hardware);
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    if (frames <= 0) return ERR_WRONGUSAGE;
    if (m->kind == LV_MUSIC_MODULE || (m->state != LV_MUS_STOPPED && m->state != LV_MUS_READING)) return ERR_WRONGUSAGE;
    lvSoundSource *s = m->source;
    if (s->bytesPerFrame <= 0 || frames > ((int64_t)1 << 31) / s->bytesPerFrame) return ERR_WRONGUSAGE;
    if (!isNil) RemoveSampleIfPresent(number, SoundRefOps());
    uint8_t *data = (uint8_t *)AllocMemory((size_t)(frames * s->bytesPerFrame), 0);
    if (!data) return ERR_MEM;
    m->state = LV_MUS_READING;
    int64_t done = 0;
    while (done < frames) {
        int ended = 0;
        int64_t got = ReadSoundSource(s, data + done * s->bytesPerFrame, frames - done, &ended);
        if (got <= 0) break;
        done += got;
        if (ended) break;
    }
    m->state = LV_MUS_STOPPED;
    if (done <= 0) {
        FreeMemory(data);
        return ERR_SMPRANGE;
    }
    int64_t bytes = done * s->bytesPerFrame;
    if (s->bits == 16 && (s->flags & LV_SMPF_BIGENDIAN))
        for (int64_t i = 0; i + 1 < bytes; i += 2) std::swap(data[i], data[i + 1]);
    int code8 = s->format;
    if (s->bits == 8 && !(s->flags & LV_SMPF_SIGNED)) {
        for (int64_t i = 0; i < bytes; i++) data[i] = (uint8_t)(data[i] - 128);
        code8 = s->channels == 2 ? LV_SMP_S8_STEREO : LV_SMP_S8_MONO;
    }
    lvSampleBuffer *buffer;
    if (int code = NewSampleBuffer(data, done, s->rate, code8, &buffer)) return code;
    lvSample *sample;
    if (int code = AddSample(number, isNil != 0, buffer, hardware, &sample)) return code;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&sample->header));
    return 1;
}

struct lvSaveMusicJob {
    lvAsyncOperation op;      // head
    lvObjectId music;         // looked up at each step: a closed music ends the job
    lvSampleWriter *writer;
    uint8_t *buffer;          // one second
    int64_t wanted;           // frames still to write
    int64_t bufferFrames;
};

lvMusic *JobMusic(lvSaveMusicJob *job) { return FindMusic(job->music); }

int SaveMusicStep(lvState *, lvAsyncOperation *operation, int *done)
{
    lvSaveMusicJob *job = (lvSaveMusicJob *)operation;
    lvMusic *m = JobMusic(job);
    *done = 0;
    if (!m) {
        *done = 1;
        return 0;
    }
    int64_t want = job->wanted < job->bufferFrames ? job->wanted : job->bufferFrames;
    int ended = 0;
    int64_t got = want > 0 ? ReadMusicFrames(m, job->buffer, want, &ended) : 0;
    if (got > 0) {
        if (int code = WriteSampleWriter(job->writer, job->buffer, got * m->source->bytesPerFrame)) return code;
        job->wanted -= got;
    }
    if (job->wanted <= 0 || ended || got <= 0) *done = 1;
    return 0;
}

void SaveMusicFree(lvState *, lvAsyncOperation *operation)
{
    lvSaveMusicJob *job = (lvSaveMusicJob *)operation;
    if (lvMusic *m = JobMusic(job)) {
        m->state = LV_MUS_STOPPED;
        StopMusic(m, 0);
    }
    if (job->writer) CloseSampleWriter(job->writer);
    job->writer = nullptr;
    FreeMemory(job->buffer);
    job->buffer = nullptr;
}

// SaveMusic(id, file[, format, {async, length, bitrate, quality, adapter, usertags}])
int CmdSaveMusic(lvState *L)
{
    CheckArgCount(L, 2, 4, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    const char *file = CheckStringArg(L, 2, nullptr);
    int format = Present(L, 3) ? IntArg(L, 3) : LV_SAVE_WAVE;
    if (int code = OptionalTable(L, 4)) return code;
    int async = 0, bitrate = -1, quality = -1;
    double length = 0;
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 4)) {
        GetFieldBool(L, 4, "async", &async);
        GetFieldNumber(L, 4, "length", &length);
        GetFieldInt(L, 4, "bitrate", &bitrate);
        GetFieldInt(L, 4, "quality", &quality);
        GetFieldStringBuf(L, 4, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 4, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    if (!file[0] || m->kind == LV_MUSIC_MODULE || m->state != LV_MUS_STOPPED) return ERR_WRONGUSAGE;
    lvSoundSource *s = m->source;
    if (s->format < 0) return ERR_STREAMASSAMPLE;
    int64_t frames;
    if (length >= 1) frames = (int64_t)(length / 1000 * s->rate);
    else if (GetMusicDurationMs(m) >= 0) frames = INT64_MAX;
    else frames = (int64_t)600 * s->rate;
    lvSaveMusicJob *job = (lvSaveMusicJob *)AllocMemory(sizeof(lvSaveMusicJob), 1);
    if (!job) return ERR_MEM;
    InitAsyncOperation(&job->op, SaveMusicStep, SaveMusicFree, 0);
    job->music = GetObjectIdOf(&m->header);
    job->wanted = frames;
    job->bufferFrames = s->rate > 0 ? s->rate : 48000;
    job->buffer = (uint8_t *)AllocMemory((size_t)(job->bufferFrames * s->bytesPerFrame), 0);
    int code = job->buffer ? 0 : ERR_MEM;
    if (!code)
        code = OpenSampleWriter(file, adapter[0] ? adapter : nullptr, tags, format, s->rate, s->channels, s->bits,
                                bitrate, quality, 1, s->flags & (LV_SMPF_SIGNED | LV_SMPF_BIGENDIAN), &job->writer);
    if (code) {
        FreeMemory(job->buffer);
        FreeMemory(job);
        return code;
    }
    SeekSoundSource(s, s->position);
    m->state = LV_MUS_SAVING;
    if (async) {
        int results = AddAsyncOperation(&job->op);
        PushObjectId(L, GetObjectIdOf(&job->op.header));
        return results;
    }
    return RunAsyncToCompletion(L, &job->op);
}

struct lvRecordJob {
    lvAsyncOperation op;      // head
    lvCapture *capture;
    lvSampleWriter *writer;
    uint8_t *buffer;          // one second
    int64_t bufferBytes;
    int64_t wanted;           // bytes still to write
};

int RecordStep(lvState *, lvAsyncOperation *operation, int *done)
{
    lvRecordJob *job = (lvRecordJob *)operation;
    int64_t want = job->wanted < job->bufferBytes ? job->wanted : job->bufferBytes;
    int64_t got = ReadCapture(job->capture, job->buffer, want);
    if (got > 0) {
        if (int code = WriteSampleWriter(job->writer, job->buffer, got)) return code;
        job->wanted -= got;
    }
    *done = job->wanted <= 0;
    return 0;
}

void RecordFree(lvState *, lvAsyncOperation *operation)
{
    lvRecordJob *job = (lvRecordJob *)operation;
    StopCapture(job->capture);
    job->capture = nullptr;
    if (job->writer) CloseSampleWriter(job->writer);
    job->writer = nullptr;
    FreeMemory(job->buffer);
    job->buffer = nullptr;
}

// RecordAudio(file, ms[, {async, frequency, channels, bits, bitrate, format, throttle,
// quality, adapter, usertags}])
int CmdRecordAudio(lvState *L)
{
    CheckArgCount(L, 2, 3, 0, 0);
    const char *file = CheckStringArg(L, 1, nullptr);
    double ms = CheckNumberArg(L, 2);
    if (int code = OptionalTable(L, 3)) return code;
    int async = 0, frequency = 44100, channels = 2, bits = 16, bitrate = -1, format = LV_SAVE_WAVE, throttle = 1,
        quality = -1;
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 3)) {
        GetFieldBool(L, 3, "async", &async);
        GetFieldInt(L, 3, "frequency", &frequency);
        GetFieldInt(L, 3, "channels", &channels);
        GetFieldInt(L, 3, "bits", &bits);
        GetFieldInt(L, 3, "bitrate", &bitrate);
        GetFieldInt(L, 3, "format", &format);
        GetFieldBool(L, 3, "throttle", &throttle);
        GetFieldInt(L, 3, "quality", &quality);
        GetFieldStringBuf(L, 3, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 3, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    int open = SoundEnsureAudio();
    if (open) return open < 0 ? ERR_OPENAUDIO : open;
    if (!file[0] || (bits != 8 && bits != 16) || (channels != 1 && channels != 2) || frequency <= 0)
        return ERR_WRONGUSAGE;
    // An audio adapter records through its own capture, when it installed with one.
    if (GetAudioAdapter() && !IsAdapterCaptureOffered()) return ERR_UNSUPPORTEDFEAT;
    int bytesPerFrame = channels * bits / 8;
    uint64_t msUnsigned = (uint64_t)(int64_t)ms & 0xFFFFFFFFu;
    int64_t bytes = bytesPerFrame * (int64_t)((double)msUnsigned / 1000 * frequency);
    lvRecordJob *job = (lvRecordJob *)AllocMemory(sizeof(lvRecordJob), 1);
    if (!job) return ERR_MEM;
    InitAsyncOperation(&job->op, RecordStep, RecordFree, throttle);
    job->wanted = bytes;
    job->bufferBytes = (int64_t)frequency * bytesPerFrame;
    job->buffer = (uint8_t *)AllocMemory((size_t)job->bufferBytes, 0);
    int code = job->buffer ? 0 : ERR_MEM;
    if (!code)
        code = OpenSampleWriter(file, adapter[0] ? adapter : nullptr, tags, format, frequency, channels, bits, bitrate,
                                quality, 1, bits == 16 ? LV_SMPF_SIGNED : 0, &job->writer);
    if (!code) code = StartCapture(frequency, channels, bits, &job->capture);
    if (code) {
        if (job->writer) CloseSampleWriter(job->writer);
        FreeMemory(job->buffer);
        FreeMemory(job);
        return code;
    }
    if (async) {
        int results = AddAsyncOperation(&job->op);
        PushObjectId(L, GetObjectIdOf(&job->op.header));
        return results;
    }
    return RunAsyncToCompletion(L, &job->op);
}

// ---- Music streams ------------------------------------------------------------------------------

// BeginMusicStream(id, file, rate, format[, saver format, {bitrate, quality, adapter, usertags}])
int CmdBeginMusicStream(lvState *L)
{
    CheckArgCount(L, 4, 6, 0, 0);
    int isNil = 0;
    int number = GetIntArgOrNil(L, 1, &isNil);
    const char *file = CheckStringArg(L, 2, nullptr);
    int rate = IntArg(L, 3);
    int scriptFormat = IntArg(L, 4);
    int saver = Present(L, 5) ? IntArg(L, 5) : LV_SAVE_WAVE;
    if (int code = OptionalTable(L, 6)) return code;
    int bitrate = -1, quality = -1;
    char adapter[256] = "";
    lvUserTag *tags = nullptr;
    if (IsTable(L, 6)) {
        GetFieldInt(L, 6, "bitrate", &bitrate);
        GetFieldInt(L, 6, "quality", &quality);
        GetFieldStringBuf(L, 6, "adapter", adapter, sizeof adapter);
        if (int code = ReadUserTags(L, 6, nullptr, nullptr, &tags)) return code;
    }
    std::unique_ptr<lvUserTag, UserTagsDeleter> keepTags(tags);
    if (!file[0]) return ERR_WRONGUSAGE;
    int code = ScriptToEngineFormat(scriptFormat);
    if (code < 0) return ERR_WRONGUSAGE;
    if (rate < 256) return ERR_LOWFREQ;
    if (!isNil)
        if (lvMusicStream *old = FindMusicStream(lvObjectId{number, nullptr})) FinishMusicStream(old);
    int channels = (code == LV_SMP_S8_STEREO || code == LV_SMP_S16_STEREO) ? 2 : 1;
    int bits = code >= 4 ? 16 : 8;
    lvSampleWriter *writer = nullptr;
    if (int r = OpenSampleWriter(file, adapter[0] ? adapter : nullptr, tags, saver, rate, channels, bits, bitrate,
                                 quality, 1, LV_SMPF_SIGNED, &writer))
        return r;
    lvMusicStream *s;
    if (int r = AddMusicStream(number, isNil != 0, writer, rate, channels, bits, &s)) return r;
    if (!isNil) return 0;
    PushObjectId(L, GetObjectIdOf(&s->header));
    return 1;
}

// WriteMusicStream(stream, sample)
int CmdWriteMusicStream(lvState *L)
{
    CheckArgCount(L, 2, 2, 0, 0);
    lvObjectId streamId = GetObjectIdArg(L, 1);
    lvObjectId sampleId = GetObjectIdArg(L, 2);
    lvMusicStream *st = FindMusicStream(streamId);
    if (!st) {
        if (streamId.handle) return ERR_FINDARRAY;
        SetErrorNumberArg(streamId.number);
        return ERR_FINDMUSICSTREAM;
    }
    lvSample *s;
    if (int code = LookupSample(sampleId, &s)) return code;
    const lvSampleBuffer *b = s->buffer;
    if (b->channels != st->channels || b->bits != st->bits) return ERR_SMPMISMATCH;
    int64_t bytes = b->frames * b->bytesPerFrame;
    // Platform samples hold unsigned 8-bit data; the stream is written signed.
    if (b->bits == 8) {
        std::unique_ptr<uint8_t, void (*)(void *)> copy((uint8_t *)AllocMemory((size_t)(bytes ? bytes : 1), 0),
                                                        FreeMemory);
        if (!copy) return ERR_MEM;
        for (int64_t i = 0; i < bytes; i++) copy.get()[i] = (uint8_t)(b->data[i] - 128);
        return WriteSampleWriter(st->writer, copy.get(), bytes);
    }
    return WriteSampleWriter(st->writer, b->data, bytes);
}

// FinishMusicStream(stream)
int CmdFinishMusicStream(lvState *L)
{
    CheckArgCount(L, 1, 1, 0, 0);
    lvObjectId id = GetObjectIdArg(L, 1);
    lvMusicStream *st = FindMusicStream(id);
    if (!st) {
        if (id.handle) return ERR_FINDARRAY;
        SetErrorNumberArg(id.number);
        return ERR_FINDMUSICSTREAM;
    }
    FinishMusicStream(st);
    return 0;
}

} // namespace

// ---- Attributes ---------------------------------------------------------------------------------

int MusicAttribute(lvState *L, int attribute, lvObjectId id)
{
    lvMusic *m;
    if (int code = LookupMusic(id, &m)) return code;
    ServiceSoundChannels();
    const lvSoundSource *s = m->source;
    bool module = m->kind == LV_MUSIC_MODULE;
    switch (attribute) {
    case 9: PushNumber(L, module ? 3 : EngineToScriptFormat(s->format)); return 1;
    case 11: PushNumber(L, module || s->kind == LV_SRC_MODULE ? 0 : (double)s->totalFrames); return 1;
    case 14: PushNumber(L, module ? -1 : (double)GetMusicDurationMs(m)); return 1;
    case 15: PushNumber(L, module ? LV_MOD_RATE : s->rate); return 1;
    case 18: PushNumber(L, (double)GetMusicPositionMs(m)); return 1;
    case 19: {
        const char *name = module ? "Protracker" : GetSoundSourceTypeName(s);
        PushString(L, name ? name : "");
        return 1;
    }
    case 20:
        PushNumber(L, module ? -1
                      : s->bitrate > 0 ? s->bitrate
                      : s->bytesPerFrame && s->bits ? (double)(s->bytesPerFrame * s->rate / 1024 * 8)
                                                    : 0);
        return 1;
    case 72: PushBoolean(L, m->canSeek); return 1;
    case 80: PushNumber(L, m->subsongs); return 1;
    case 81: PushNumber(L, m->currentSubsong); return 1;
    case 83: PushBoolean(L, m->state == LV_MUS_PLAYING); return 1;
    case 84: PushBoolean(L, m->state == LV_MUS_PAUSED); return 1;
    case 91: PushString(L, m->decoder ? m->decoder->name : "inbuilt"); return 1;
    default: return ERR_UNKNOWNATTR;
    }
}

void SetMusicCallbackActive(int active) { musicCallbackActive = active != 0; }

int NextMusicRequest(lvEventId *music, int64_t *samples, int64_t *count)
{
    lvObjectId id;
    int64_t missing, position;
    if (!GetPendingMusicRequest(&id, &missing, &position)) return 0;
    *music = ToEventId(id);
    *samples = missing;
    *count = position;
    return 1;
}

void MusicEndBookkeeping(lvState *, lvEventId music) { MarkMusicEnded(lvObjectId{(int)music.number, (void *)music.handle}); }

const lvCommandEntry musicCommands[] = {
    {"OpenMusic", CmdOpenMusic},
    {"LoadModule", CmdOpenMusic},
    {"CloseMusic", CmdCloseMusic},
    {"FreeModule", CmdCloseMusic},
    {"PlayMusic", CmdPlayMusic},
    {"PlayModule", CmdPlayMusic},
    {"StopMusic", CmdStopMusic},
    {"StopModule", CmdStopMusic},
    {"PauseMusic", CmdPauseMusic},
    {"PauseModule", CmdPauseMusic},
    {"ResumeMusic", CmdResumeMusic},
    {"ResumeModule", CmdResumeMusic},
    {"SeekMusic", CmdSeekMusic},
    {"SetMusicVolume", CmdSetMusicVolume},
    {"PlaySubsong", CmdPlaySubsong},
    {"IsMusic", CmdIsMusic},
    {"IsModule", CmdIsMusic},
    {"IsMusicPlaying", CmdIsMusicPlaying},
    {"WaitMusicEnd", CmdWaitMusicEnd},
    {"GetPatternPosition", CmdGetPatternPosition},
    {"GetSongPosition", CmdGetSongPosition},
    {"WaitPatternPosition", CmdWaitPatternPosition},
    {"WaitSongPosition", CmdWaitSongPosition},
    {"CreateMusic", CmdCreateMusic},
    {"FillMusicBuffer", CmdFillMusicBuffer},
    {"FlushMusicBuffer", CmdFlushMusicBuffer},
    {"GetMusicSample", CmdGetMusicSample},
    {"SaveMusic", CmdSaveMusic},
    {"RecordAudio", CmdRecordAudio},
    {"BeginMusicStream", CmdBeginMusicStream},
    {"WriteMusicStream", CmdWriteMusicStream},
    {"FinishMusicStream", CmdFinishMusicStream},
    {nullptr, nullptr},
};

const lvCommandEntry *GetMusicCommands(void) { return musicCommands; }

// ---- Linked musics ---------------------------------------------------------------------------

int PreloadLinkedMusic(void *user, lvLinkedObject *object, const char *fileName, int *keepsContainer)
{
    lvState *L = static_cast<lvPreloadRun *>(user)->L;
    int top = GetStackTop(L);
    PushString(L, "openmusic");
    GetTableValueRaw(L, LV_GLOBALSINDEX);
    if (GetValueType(L, -1) != LV_TFUNCTION) {
        SetStackTop(L, top);
        SetErrorStringArg("OpenMusic");
        return ERR_UNIMPLCMD;
    }
    PushNumber(L, object->identifier);
    PushString(L, fileName ? fileName : "");
    int arguments = 2;
    if (object->loaderName[0] || object->adapterName[0] || object->userTags || object->optionValue) {
        PushNewTable(L);
        if (object->loaderName[0]) SetFieldString(L, "loader", object->loaderName);
        if (object->adapterName[0]) SetFieldString(L, "adapter", object->adapterName);
        if (object->userTags) PushUserTags(L, object->userTags);
        if (object->optionValue) SetFieldInt(L, "timedprotracker", 1);
        arguments = 3;
    }
    int code = ProtectedCall(L, arguments, 0, 0);
    SetStackTop(L, top);
    // A music reads its file while it plays, so an embedded one keeps the applet's data;
    // a module was read whole when it opened.
    if (!code && object->dataSize && !IsLastMusicModule()) *keepsContainer = 1;
    return code;
}
