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
    int sampleLoopSwitch = 0;         // "onsampleloop" installed
    int sampleEndSwitch = 0;          // "onsampleend" installed
    int musicEndSwitch = 0;           // "onmusicend" installed
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
    bool marked = false;
    for (int c = 0; c < engine->count; c++) {
        const lvVoice &v = engine->table[c].voice;
        if (v.loopMarks || v.endMark) marked = true;
    }
    if (marked && !engine->marksLeft.exchange(1)) WakeMainLoop();
}

bool Live(const lvChannel &c) { return c.state != LV_CH_FREE && c.state != LV_CH_FINISHED; }

void ClearChannelEntry(lvChannel *c) { memset((void *)c, 0, sizeof *c); }

// Takes a voice out of the mixer; once this returns the mixer no longer reads its PCM.
void SilenceVoice(lvChannel *c)
{
    lvAudioEngine &e = Engine();
    if (!c->voice.active) return;
    LockAudioOutput(e.device);
    c->voice.active = 0;
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

int OpenAudioDevice(const char *spec)
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (e.open) return 0;
    int count = e.countSetting ? e.countSetting : 8;
    lvChannel *table = (lvChannel *)AllocMemory(sizeof(lvChannel) * (size_t)count, 1);
    if (!table) return ERR_MEM;
    e.table = table;
    e.count = count;
    int code = OpenAudioOutput(spec, PullFrames, &e, &e.device);
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
    CloseAudioOutput(e.device);
    e.device = nullptr;
    FreeMemory(e.table);
    e.table = nullptr;
    e.count = 0;
    e.open = 0;
    e.marksLeft.store(0);
}

int IsAudioDeviceOpen() { return Engine().open; }
int GetChannelCount() { return Engine().open ? Engine().count : (Engine().countSetting ? Engine().countSetting : 8); }
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
    if (e.marksLeft.exchange(0)) {
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
    // The reaper: a finished voice has already left the mixer.
    for (int i = 0; i < e.count; i++)
        if (e.table[i].state == LV_CH_FINISHED) ClearChannelEntry(&e.table[i]);
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
    // Music and video sound join the table with their engines; until then only samples
    // occupy channels.
    SilenceVoice(c);
    ClearChannelEntry(c);
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
    // The voice is prepared now and joins the mixer with the other reserved ones.
    lvVoice &v = c->voice;
    v.data = sample->data;
    v.format = sample->format;
    v.frames = sample->frames;
    v.lastPassFrames = c->lastPassFrames < sample->frames ? c->lastPassFrames : sample->frames;
    v.step = ((uint64_t)pitch << 32) / LV_AUDIO_RATE;
    ComputeVoiceGains(volume, panning, &v.gainLeft, &v.gainRight);
    v.passes = c->passes;
    v.pass = 1;
    return 0;
}

void StartReservedChannels()
{
    lvAudioEngine &e = Engine();
    std::lock_guard<std::recursive_mutex> guard(e.lock);
    if (!e.open) return;
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
        LockAudioOutput(e.device);
        int64_t frame = (int64_t)(c.voice.position >> 32);
        int mixedPass = c.voice.pass;
        UnlockAudioOutput(e.device);
        *ms = c.pitch > 0 ? (int)(frame * 1000 / c.pitch) : 0;
        *pass = mixedPass - 1;
        return;
    }
}
