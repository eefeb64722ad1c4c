// channels.cpp - the channel table, its lock, the audio device, samples on channels, and
// the script-side handling of the mixer's marks: sample-loop and sample-end events, the
// finished state and the reaper.
//
// Dependencies: mixer.cpp (MixVoices, gains), platform/lvplatform_audio.h (the device),
// platform/lvplatform.h (PostSystemEvent, WakeMainLoop).
// Threads: the script thread changes the table under the channel lock and a voice under
// the device lock as well; the device thread mixes under the device lock only and wakes
// the main loop when it left a mark, so that the next event pass (ServiceSoundChannels)
// posts the events.
#include "media/lvaudio.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_audio.h"
#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <strings.h>

namespace {

struct lvAudioEngine {
    std::recursive_mutex lock;        // the channel lock
    lvChannel *table = nullptr;       // count entries while open
    int count = 0;                    // channel count of the open table
    int countSetting = 0;             // NUMCHANNELS (0: 8)
    lvAudioDevice *device = nullptr;  // the output
    int open = 0;                     // the device is open
    std::atomic<int> marksLeft{0};    // the mixer left marks the script side has not seen
    // Handlers installed: read by an adapter's fill callback on its own thread too.
    std::atomic<int> sampleLoopSwitch{0}; // "onsampleloop"
    std::atomic<int> sampleEndSwitch{0};  // "onsampleend"
    std::atomic<int> musicEndSwitch{0};   // "onmusicend"
    // The audio-adapter plug-in, when one is installed: it plays the channels instead of
    // the mixer and pulls each through FillChannelBuffer on its own thread.
    lvPluginRecord *adapter = nullptr;
    uint32_t adapterFlags = 0;        // install flags
    int adapterBufferSize = 2048;     // tag 1
    int adapterChannels = 8;          // tag 2
    void *adapterDevice = nullptr;    // what OpenAudio gave
    // Held by FillChannelBuffer around its work and by the script side around what it
    // reads of the fields the callback writes.
    std::mutex fillLock;
    lvMusicMixFunction musicMix = nullptr;  // music.cpp's mixer
    lvMusicChannelHook musicHook = nullptr; // music.cpp's end and stop handling
    lvVideoMixFunction videoMix = nullptr;  // videosound.cpp's mixer
    lvVideoChannelHook videoHook = nullptr; // the video engine's stop handling
};

lvAudioEngine &Engine()
{
    static lvAudioEngine engine;
    return engine;
}

int64_t NowUs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (int64_t)t.tv_sec * 1000000 + t.tv_nsec / 1000;
}

// The device's pull callback.
void PullFrames(void *user, int16_t *out, int frames)
{
    lvAudioEngine *engine = (lvAudioEngine *)user;
    MixVoices(engine->table, engine->count, out, frames);
    for (int c = 0; c < engine->count; c++) {
        lvVoice &v = engine->table[c].voice;
        if (!v.musicActive || !engine->musicMix) continue;
        if (engine->musicMix(v.music, out, frames) < frames) {
            v.musicActive = 0;
            v.endMark = 1;
        }
    }
    for (int c = 0; c < engine->count; c++) {
        lvVoice &v = engine->table[c].voice;
        if (v.videoActive && engine->videoMix) engine->videoMix(v.video, out, frames);
    }
    bool marked = false;
    for (int c = 0; c < engine->count; c++) {
        const lvVoice &v = engine->table[c].voice;
        if (v.loopMarks || v.endMark) marked = true;
    }
    if (marked && !engine->marksLeft.exchange(1)) WakeMainLoop();
}

bool Live(const lvChannel &c) { return c.state != LV_CH_FREE && c.state != LV_CH_FINISHED; }

// The mixer reads the voice part under the device lock, so the entry is cleared under it.
void ClearChannelEntry(lvChannel *c)
{
    lvAudioEngine &e = Engine();
    if (e.device) LockAudioOutput(e.device);
    memset((void *)c, 0, sizeof *c);
    if (e.device) UnlockAudioOutput(e.device);
}

// Takes a voice out of the mixer (or frees the adapter's channel); once this returns
// nothing reads its PCM any more.
void SilenceVoice(lvChannel *c)
{
    lvAudioEngine &e = Engine();
    if (e.adapter) {
        if (c->adapterChannel)
            ((lvFreeAudioChannelFunction)e.adapter->FreeAudioChannel)(e.adapterDevice, c->adapterChannel);
        c->adapterChannel = nullptr;
        return;
    }
    if (!e.device) return;
    LockAudioOutput(e.device);
    c->voice.active = 0;
    c->voice.musicActive = 0;
    c->voice.videoActive = 0;
    UnlockAudioOutput(e.device);
}

void PostSampleEvent(int type, const lvChannel &c, int pass)
{
    PostSystemEvent(type, (uintptr_t)c.id.number, (uintptr_t)c.id.handle, c.passMs, pass, c.lastPassMs, 1);
}

} // namespace

// ============================================================================
// Device and table
// ============================================================================

void SetChannelCountSetting(int count)
{
    Engine().countSetting = count > 0 && count <= 128 ? count : 0;
}

int OpenAudioDevice(const char *sink)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (e.open) return 0;
    int count = e.adapter ? e.adapterChannels : e.countSetting ? e.countSetting : 8;
    lvChannel *table = (lvChannel *)AllocMemory(sizeof(lvChannel) * (size_t)count, 1);
    if (!table) return ERR_MEM;
    e.table = table;
    e.count = count;
    int code = 0;
    if (e.adapter) {
        e.adapterDevice = ((lvOpenAudioFunction)e.adapter->OpenAudio)(nullptr, nullptr);
        if (!e.adapterDevice) code = ERR_OPENAUDIO;
    } else {
        code = OpenAudioOutput(sink, PullFrames, &e, &e.device);
    }
    if (code) {
        e.table = nullptr;
        e.count = 0;
        FreeMemory(table);
        return code;
    }
    e.open = 1;
    return 0;
}

void CloseAudioDevice()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    if (e.adapter) ((lvCloseAudioFunction)e.adapter->CloseAudio)(e.adapterDevice);
    else CloseAudioOutput(e.device);
    e.adapterDevice = nullptr;
    e.device = nullptr;
    FreeMemory(e.table);
    e.table = nullptr;
    e.count = 0;
    e.open = 0;
    e.marksLeft.store(0);
}

int IsAudioDeviceOpen() { return Engine().open; }
int GetChannelCount()
{
    lvAudioEngine &e = Engine();
    if (e.open) return e.count;
    if (e.adapter) return e.adapterChannels;
    return e.countSetting ? e.countSetting : 8;
}
lvAudioDevice *GetAudioDevice() { return Engine().device; }
void LockChannels() { Engine().lock.lock(); }
void UnlockChannels() { Engine().lock.unlock(); }

void SetSoundEventSwitches(const char *name, int on)
{
    lvAudioEngine &e = Engine();
    if (!name) return;
    if (!strcasecmp(name, "onsampleloop")) e.sampleLoopSwitch = on != 0;
    else if (!strcasecmp(name, "onsampleend")) e.sampleEndSwitch = on != 0;
    else if (!strcasecmp(name, "onmusicend")) e.musicEndSwitch = on != 0;
}

void ServiceSoundChannels()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    if (!e.adapter && e.marksLeft.exchange(0)) {
        for (int i = 0; i < e.count; i++) {
            lvChannel &c = e.table[i];
            if (c.state != LV_CH_SAMPLE) continue;
            LockAudioOutput(e.device);
            int loops = c.voice.loopMarks, ended = c.voice.endMark;
            c.voice.loopMarks = 0;
            c.voice.endMark = 0;
            UnlockAudioOutput(e.device);
            for (; loops > 0; loops--) {
                c.currentPass++;
                c.startUs = NowUs();
                if (e.sampleLoopSwitch) PostSampleEvent(SYSEVENT_SAMPLELOOP, c, c.currentPass);
            }
            if (ended) {
                if (e.sampleEndSwitch) PostSampleEvent(SYSEVENT_SAMPLEEND, c, c.currentPass);
                c.previousState = c.state;
                c.state = LV_CH_FINISHED;
            }
        }
    }
    // Music channels whose last pass ended: the music engine returns them to stopped.
    {
        for (int i = 0; i < e.count; i++) {
            lvChannel &c = e.table[i];
            if (c.state != LV_CH_STREAM && c.state != LV_CH_MODULE) continue;
            int ended;
            if (e.adapter) {
                std::lock_guard<std::mutex> fill(e.fillLock);
                ended = c.voice.endMark;
                c.voice.endMark = 0;
            } else {
                LockAudioOutput(e.device);
                ended = c.voice.endMark;
                c.voice.endMark = 0;
                UnlockAudioOutput(e.device);
            }
            if (!ended) continue;
            SilenceVoice(&c);
            lvObjectId id = c.id;
            if (e.musicEndSwitch)
                PostSystemEvent(SYSEVENT_MUSICEND, (uintptr_t)id.number, (uintptr_t)id.handle, 0, 0, 0, 1);
            ClearChannelEntry(&c);
            if (e.musicHook) e.musicHook(id, 1);
        }
    }
    // The reaper: a finished voice has already left the mixer; an adapter's channel that
    // ended is freed once its end stamp has passed.
    int64_t now = NowUs();
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if (c.state == LV_CH_FINISHED) ClearChannelEntry(&c);
        if (!e.adapter || c.state != LV_CH_SAMPLE) continue;
        bool due;
        {
            std::lock_guard<std::mutex> fill(e.fillLock);
            due = c.ended && c.endUs < now;
        }
        if (due) {
            SilenceVoice(&c);
            ClearChannelEntry(&c);
        }
    }
}

int FindFreeChannel()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    ServiceSoundChannels();
    for (int i = 0; i < e.count; i++)
        if (e.table[i].state == LV_CH_FREE) return i;
    return -1;
}

void StopChannelEntry(int channel)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open || channel < 0 || channel >= e.count) return;
    lvChannel *c = &e.table[channel];
    int state = c->state;
    lvObjectId id = c->id;
    void *video = c->voice.video;
    SilenceVoice(c);
    ClearChannelEntry(c);
    // A music stopped from the table is stopped as a music, a video as a video.
    if ((state == LV_CH_STREAM || state == LV_CH_MODULE) && e.musicHook) e.musicHook(id, 0);
    if ((state == LV_CH_VIDEO || state == LV_CH_VIDEORESERVED) && video && e.videoHook) e.videoHook(video);
}

void StopAllChannels()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    for (int i = 0; i < e.count; i++) StopChannelEntry(i);
}

int GetChannelInfo(int channel, int *kind, lvObjectId *id)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (channel < 0 || channel >= GetChannelCount()) return ERR_CHANNELRANGE;
    ServiceSoundChannels();
    *kind = 7;
    *id = lvObjectId{0, nullptr};
    if (!e.open) return 0;
    const lvChannel &c = e.table[channel];
    switch (c.state) {
    case LV_CH_SAMPLERESERVED:
    case LV_CH_SAMPLE: *kind = 2; break;
    case LV_CH_MODULE:
    case LV_CH_STREAM:
    case LV_CH_MUSICRESERVED: *kind = 33; break;
    case LV_CH_VIDEO:
    case LV_CH_VIDEORESERVED: *kind = 50; break;
    default: return 0;
    }
    *id = c.id;
    return 0;
}

// ============================================================================
// Samples on channels
// ============================================================================

// The reaper first, then the lowest free entry or the given one (what plays there is
// stopped). The entry comes back cleared with the state set.
static int AllocSoundChannel(int state, lvObjectId id, int *channel, lvChannel **entry)
{
    lvAudioEngine &e = Engine();
    ServiceSoundChannels();
    if (*channel == -1) {
        *channel = FindFreeChannel();
        if (*channel < 0) return ERR_NOCHANNEL;
    } else if (*channel < 0 || *channel >= e.count) {
        return ERR_CHANNELRANGE;
    } else if (e.table[*channel].state != LV_CH_FREE) {
        StopChannelEntry(*channel);
    }
    lvChannel *c = &e.table[*channel];
    ClearChannelEntry(c);
    c->state = state;
    c->id = id;
    *entry = c;
    return 0;
}

int PlaySampleOnChannel(lvSampleBuffer *sample, lvObjectId id, int pitch, int volume, int panning, int timeMs,
                        int passes, int channel)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return ERR_OPENAUDIO;
    if (pitch <= 0 || sample->frames <= 0) return ERR_WRONGUSAGE;
    int passMs = (int)(sample->frames * 1000 / pitch);
    // A time option needs a pass of at least 1 ms to count passes in.
    if (timeMs >= 0 && passMs <= 0) return ERR_WRONGUSAGE;
    lvChannel *c = nullptr;
    if (int code = AllocSoundChannel(LV_CH_SAMPLERESERVED, id, &channel, &c)) return code;
    c->sample = sample;
    c->currentPass = 1;
    c->passMs = passMs;
    c->firstFill = 1;
    c->volume = volume;
    c->panning = panning;
    c->pitch = pitch;
    if (timeMs < 0) {
        c->passes = passes;
        c->lastPassFrames = sample->frames;
        c->lastPassMs = passMs;
    } else {
        c->passes = timeMs / passMs + 1;
        c->lastPassMs = timeMs % passMs;
        c->lastPassFrames = (int64_t)pitch * c->lastPassMs / 1000;
    }
    c->startUs = NowUs();
    if (e.adapter) {
        // The adapter plays at once; it gets the panning now and the last pass is cut as
        // the mixer cuts it.
        c->state = LV_CH_SAMPLE;
        c->adapterChannel = ((lvAllocAudioChannelFunction)e.adapter->AllocAudioChannel)(
            e.adapterDevice, sample->format, pitch, volume, FillChannelBuffer, nullptr, c, nullptr);
        if (!c->adapterChannel) {
            ClearChannelEntry(c);
            return ERR_ALLOCCHANNEL;
        }
        if (panning != 128) {
            lvPluginTag tags[] = {{3, panning}, {0, 0}};
            ((lvSetChannelAttributesFunction)e.adapter->SetChannelAttributes)(e.adapterDevice, c->adapterChannel, tags);
        }
        return 0;
    }
    // The voice is prepared now and joins the mixer with the other reserved ones.
    LockAudioOutput(e.device);
    lvVoice &v = c->voice;
    v.data = sample->data;
    v.format = sample->format;
    v.frames = sample->frames;
    v.lastPassFrames = c->lastPassFrames < sample->frames ? c->lastPassFrames : sample->frames;
    v.step = ((uint64_t)pitch << 32) / LV_AUDIO_RATE;
    ComputeVoiceGains(volume, panning, &v.gainLeft, &v.gainRight);
    v.passes = c->passes;
    v.pass = 1;
    UnlockAudioOutput(e.device);
    return 0;
}

void StartReservedChannels()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open || e.adapter) return;
    // One device lock for all: the reserved voices start on the same output frame.
    LockAudioOutput(e.device);
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if (c.state != LV_CH_SAMPLERESERVED) continue;
        c.state = LV_CH_SAMPLE;
        c.startUs = NowUs();
        c.voice.active = 1;
    }
    UnlockAudioOutput(e.device);
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if (c.state == LV_CH_SAMPLE && c.firstFill) {
            c.firstFill = 0;
            if (e.sampleLoopSwitch) PostSampleEvent(SYSEVENT_SAMPLELOOP, c, c.currentPass);
        }
    }
    WakeMainLoop();
}

void StopSampleChannels(const lvSampleBuffer *sample, int channel)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    for (int i = 0; i < e.count; i++) {
        if (channel >= 0 && i != channel) continue;
        lvChannel &c = e.table[i];
        if (c.sample != sample || c.state == LV_CH_FREE) continue;
        SilenceVoice(&c);
        ClearChannelEntry(&c);
    }
}

void SetSampleAttributesOnChannels(const lvSampleBuffer *sample, int pitch, int volume, int panning, int channel)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    if (channel == -1) {
        for (int i = 0; i < e.count && channel < 0; i++)
            if (e.table[i].sample == sample && Live(e.table[i])) channel = i;
    }
    if (channel < 0 || channel >= e.count) return;
    lvChannel &c = e.table[channel];
    if (pitch != -1) c.pitch = pitch;
    if (volume != -1) c.volume = volume;
    if (panning != -1) c.panning = panning;
    if (e.adapter) {
        lvPluginTag tags[4];
        int n = 0;
        if (pitch != -1) tags[n++] = {1, pitch};
        if (volume != -1) tags[n++] = {2, volume};
        if (panning != -1) tags[n++] = {3, panning};
        tags[n] = {0, 0};
        if (n && c.adapterChannel)
            ((lvSetChannelAttributesFunction)e.adapter->SetChannelAttributes)(e.adapterDevice, c.adapterChannel, tags);
        return;
    }
    LockAudioOutput(e.device);
    if (pitch != -1) c.voice.step = ((uint64_t)pitch << 32) / LV_AUDIO_RATE;
    ComputeVoiceGains(c.volume, c.panning, &c.voice.gainLeft, &c.voice.gainRight);
    UnlockAudioOutput(e.device);
}

int IsSampleOnChannel(const lvSampleBuffer *sample)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return 0;
    ServiceSoundChannels();
    for (int i = 0; i < e.count; i++)
        if (e.table[i].sample == sample && Live(e.table[i])) return 1;
    return 0;
}

void GetSamplePlayPosition(const lvSampleBuffer *sample, int *ms, int *pass)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    *ms = *pass = -1;
    if (!e.open) return;
    ServiceSoundChannels();
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if (c.sample != sample || !Live(c)) continue;
        if (e.adapter) {
            std::lock_guard<std::mutex> fill(e.fillLock);
            *ms = (int)((NowUs() - c.startUs) / 1000);
            *pass = c.currentPass - 1;
            return;
        }
        LockAudioOutput(e.device);
        int64_t frame = (int64_t)(c.voice.position >> 32);
        int mixedPass = c.voice.pass;
        UnlockAudioOutput(e.device);
        *ms = c.pitch > 0 ? (int)(frame * 1000 / c.pitch) : 0;
        *pass = mixedPass - 1;
        return;
    }
}

// ============================================================================
// The adapter path
// ============================================================================

int FillChannelBuffer(void *, void *, void *buffer, int frames, void *entry)
{
    lvAudioEngine &e = Engine();
    lvChannel *c = (lvChannel *)entry;
    if (!c || !buffer || frames <= 0) return frames > 0 ? frames : 0;
    std::lock_guard<std::mutex> fill(e.fillLock);
    if ((c->state == LV_CH_STREAM || c->state == LV_CH_MODULE) && c->voice.music && e.musicMix) {
        if (c->ended) return 0;
        memset(buffer, 0, (size_t)frames * 4);
        // Fewer frames than asked tell the adapter the sound ended there.
        int mixed = e.musicMix(c->voice.music, (int16_t *)buffer, frames);
        if (mixed < frames) {
            c->ended = 1;
            c->voice.endMark = 1;
            WakeMainLoop();
        }
        return mixed;
    }
    if (c->state != LV_CH_SAMPLE || !c->sample) return frames;
    if (c->ended) return 0;
    // The first pass's event goes first: a first fill that spans several passes would
    // otherwise report pass 1 after the later passes and the end.
    if (c->firstFill) {
        c->startUs = NowUs();
        if (e.sampleLoopSwitch) PostSampleEvent(SYSEVENT_SAMPLELOOP, *c, c->currentPass);
        c->firstFill = 0;
    }
    const lvSampleBuffer *s = c->sample;
    int frameSize = s->bytesPerFrame;
    uint8_t *out = (uint8_t *)buffer;
    int filled = 0;
    while (filled < frames) {
        bool lastPass = c->passes > 0 && c->currentPass >= c->passes;
        int64_t limit = lastPass ? (c->lastPassFrames < s->frames ? c->lastPassFrames : s->frames) : s->frames;
        int64_t left = limit - c->framePosition;
        if (left > 0) {
            int n = (int)(left < frames - filled ? left : frames - filled);
            memcpy(out + (size_t)filled * frameSize, s->data + c->framePosition * frameSize, (size_t)n * frameSize);
            filled += n;
            c->framePosition += n;
            continue;
        }
        if (lastPass) {
            if (e.sampleEndSwitch) PostSampleEvent(SYSEVENT_SAMPLEEND, *c, c->currentPass);
            c->endUs = NowUs() + 1000000;
            c->ended = 1;
            break;
        }
        c->framePosition = 0;
        c->currentPass++;
        if (e.sampleLoopSwitch) PostSampleEvent(SYSEVENT_SAMPLELOOP, *c, c->currentPass);
    }
    return filled;
}

int InstallAudioAdapterPlugin(lvPluginRecord *plugin, uint32_t flags, const lvPluginTag *tags, int numChannels,
                              int setupPhase)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!plugin || !(plugin->capabilities & PLUGINCAPS_AUDIOADAPTER) || !plugin->OpenAudio || !plugin->CloseAudio ||
        !plugin->AllocAudioChannel || !plugin->FreeAudioChannel || !plugin->SetChannelAttributes)
        return ERR_WRONGUSAGE;
    auto applyTags = [&] {
        for (const lvPluginTag *t = tags; t && t->tag; t++) {
            if (t->tag == 1) e.adapterBufferSize = (int)t->value;
            else if (t->tag == 2) e.adapterChannels = (int)t->value;
        }
    };
    if ((flags & 2) && e.adapter == plugin) {
        applyTags();
        return 0;
    }
    int count = numChannels > 0 ? numChannels : e.adapterChannels;
    // Adapters join only while start-up requires plug-ins, and never under an open device.
    if (!setupPhase || e.open || (e.adapter && (e.adapterFlags & 1))) return ERR_SETADAPTER;
    e.adapter = plugin;
    e.adapterFlags = flags;
    e.adapterBufferSize = 2048;
    e.adapterChannels = count;
    applyTags();
    if (e.adapterChannels <= 0 || e.adapterChannels > 128) {
        e.adapter = nullptr;
        e.adapterFlags = 0;
        e.adapterChannels = 8;
        return ERR_SETADAPTER;
    }
    return 0;
}

void UninstallAudioAdapter()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (e.open) return;
    e.adapter = nullptr;
    e.adapterFlags = 0;
    e.adapterChannels = 8;
}

lvPluginRecord *GetAudioAdapter() { return Engine().adapter; }

// ============================================================================
// Music channels
// ============================================================================

void SetMusicChannelHooks(lvMusicMixFunction mix, lvMusicChannelHook hook)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    e.musicMix = mix;
    e.musicHook = hook;
}

int PlayMusicOnChannel(void *music, lvObjectId id, int state, int channel, int *used)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return ERR_OPENAUDIO;
    lvChannel *c = nullptr;
    if (int code = AllocSoundChannel(state, id, &channel, &c)) return code;
    c->currentPass = 1;
    c->volume = 64;
    c->panning = 128;
    c->startUs = NowUs();
    if (e.adapter) {
        // The adapter pulls 48000 Hz 16-bit stereo through FillChannelBuffer; the music's
        // volume is applied in the mix, so the adapter's level stays at full.
        c->voice.music = music;
        c->adapterChannel = ((lvAllocAudioChannelFunction)e.adapter->AllocAudioChannel)(
            e.adapterDevice, LV_SMP_S16_STEREO, LV_AUDIO_RATE, 64, FillChannelBuffer, nullptr, c, nullptr);
        if (!c->adapterChannel) {
            ClearChannelEntry(c);
            return ERR_ALLOCCHANNEL;
        }
        *used = channel;
        return 0;
    }
    LockAudioOutput(e.device);
    c->voice.music = music;
    c->voice.musicActive = 1;
    UnlockAudioOutput(e.device);
    *used = channel;
    return 0;
}

void StopMusicChannel(void *music)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if ((c.state != LV_CH_STREAM && c.state != LV_CH_MODULE) || c.voice.music != music) continue;
        SilenceVoice(&c);
        ClearChannelEntry(&c);
    }
}

int IsMusicOnChannel(void *music)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return 0;
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if ((c.state == LV_CH_STREAM || c.state == LV_CH_MODULE) && c.voice.music == music) return 1;
    }
    return 0;
}

// ============================================================================
// Video channels
// ============================================================================

void SetVideoChannelHooks(lvVideoMixFunction mix, lvVideoChannelHook hook)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    e.videoMix = mix;
    e.videoHook = hook;
}

int ReserveVideoChannel(void *output, lvObjectId id, int channel, int *used)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return ERR_OPENAUDIO;
    if (e.adapter) return ERR_UNSUPPORTEDFEAT;
    lvChannel *c = nullptr;
    if (int code = AllocSoundChannel(LV_CH_VIDEORESERVED, id, &channel, &c)) return code;
    c->volume = 64;
    c->panning = 128;
    c->startUs = NowUs();
    LockAudioOutput(e.device);
    c->voice.video = output;
    UnlockAudioOutput(e.device);
    *used = channel;
    return 0;
}

void ActivateVideoChannel(void *output)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open || !e.device) return;
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if (c.state != LV_CH_VIDEORESERVED || c.voice.video != output) continue;
        LockAudioOutput(e.device);
        c.state = LV_CH_VIDEO;
        c.voice.videoActive = 1;
        UnlockAudioOutput(e.device);
    }
}

void ReleaseVideoChannel(void *output)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
    for (int i = 0; i < e.count; i++) {
        lvChannel &c = e.table[i];
        if ((c.state != LV_CH_VIDEO && c.state != LV_CH_VIDEORESERVED) || c.voice.video != output) continue;
        SilenceVoice(&c);
        ClearChannelEntry(&c);
    }
}

void WithAudioLocked(void (*f)(void *), void *context)
{
    lvAudioEngine &e = Engine();
    if (e.adapter) {
        std::lock_guard<std::mutex> fill(e.fillLock);
        f(context);
        return;
    }
    if (e.device) LockAudioOutput(e.device);
    f(context);
    if (e.device) UnlockAudioOutput(e.device);
}

// ============================================================================
// Capture
// ============================================================================

struct lvCapture {
    lvAudioCapture *platform;  // without an adapter
    void *adapterCapture;      // what the adapter's StartAudioCapture gave
    lvPluginRecord *adapter;
};

int IsAdapterCaptureOffered()
{
    lvAudioEngine &e = Engine();
    return e.adapter && (e.adapterFlags & 4) && e.adapter->StartAudioCapture && e.adapter->GetAudioCapture &&
           e.adapter->StopAudioCapture;
}

int StartCapture(int rate, int channels, int bits, lvCapture **out)
{
    lvAudioEngine &e = Engine();
    lvCapture *c = (lvCapture *)AllocMemory(sizeof(lvCapture), 1);
    if (!c) return ERR_MEM;
    if (e.adapter) {
        if (!IsAdapterCaptureOffered()) {
            FreeMemory(c);
            return ERR_UNSUPPORTEDFEAT;
        }
        c->adapter = e.adapter;
        c->adapterCapture = ((lvStartAudioCaptureFunction)e.adapter->StartAudioCapture)(rate, channels, bits, nullptr);
        if (!c->adapterCapture) {
            FreeMemory(c);
            return ERR_OPENAUDIO;
        }
        *out = c;
        return 0;
    }
    if (int code = StartAudioCapture(rate, channels, bits, &c->platform)) {
        FreeMemory(c);
        return code;
    }
    *out = c;
    return 0;
}

int64_t ReadCapture(lvCapture *c, void *buffer, int64_t bytes)
{
    if (!c->adapter) return ReadAudioCapture(c->platform, buffer, bytes);
    int want = bytes > INT32_MAX ? INT32_MAX : (int)bytes;
    int got = ((lvGetAudioCaptureFunction)c->adapter->GetAudioCapture)(c->adapterCapture, buffer, want);
    // An adapter that claims more than it was given room for is held to the room.
    return got < 0 ? 0 : got > want ? want : got;
}

void StopCapture(lvCapture *c)
{
    if (!c) return;
    if (c->adapter) ((lvStopAudioCaptureFunction)c->adapter->StopAudioCapture)(c->adapterCapture);
    else StopAudioCapture(c->platform);
    FreeMemory(c);
}
