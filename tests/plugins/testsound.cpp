// testsound.cpp - the sound test plug-in ("testsound.lvp", tests/media/media_plugin.cmake):
// a decoder and a saver of a made-up format, an audio adapter, and commands that use the
// audio sub-table of the interface.
//
// The "TSND" format: "TSND", then rate, channels, bits and frames as 32-bit little-endian
// words (frames 0xFFFFFFFF: length unknown), then the PCM (8-bit signed, 16-bit
// little-endian, interleaved). Saver ids: 100 (whole sample) and 101 (streamed, forced by
// the entry's flag).
// The audio adapter is installed from RequirePlugin (the applet links the plug-in, so
// start-up requires it while adapters may install) with 4 channels. Its thread pulls every
// live channel through the runtime's fill callback in 1024-frame steps and appends what
// came to the file named by TESTSOUND_OUT; a channel that filled fewer frames is done.
// Commands: TestInstallAudio() -> the code of a second install; TestNegate(id) -> whether
// a writable lock of the sample could be taken (its 16-bit values are negated);
// TestLockCount(id) -> the frames a read-only lock reports, -1 when refused;
// TestAddSample(id) -> the code of adding 3 stereo 16-bit big-endian frames;
// TestAudioLog() -> the adapter's calls, one a line; TestThreads(prefix) -> the process's
// threads whose name starts with prefix. With TESTSOUND_PACE set the adapter pulls in
// real time (1024 frames of each channel's rate a step) instead of as fast as it can.
// With TESTSOUND_CAPTURE set the adapter installs with capture: each read gives the
// bytes asked, the byte values counting up from 0 across reads.
//
// Dependencies: runtime/lvplugin.h only.
#include "runtime/lvplugin.h"
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define LVS_EXPORT(name) extern "C" __attribute__((visibility("default"))) auto name

static const lvPluginApi *api;
static lvPluginRecord *self;

// ---- Decoder ---------------------------------------------------------------------------

typedef lvPluginStreamInfo StreamInfo;
typedef lvPluginStreamRequest StreamRequest;
struct Stream {
    FILE *file;
    uint32_t frames;   // 0xFFFFFFFF unknown
    int frameSize;
    uint32_t position;
};

static bool ReadHeader(FILE *f, uint32_t words[4])
{
    char magic[4];
    return fread(magic, 1, 4, f) == 4 && !memcmp(magic, "TSND", 4) && fread(words, 4, 4, f) == 4;
}

LVS_EXPORT(OpenStream)(const char *path, StreamInfo *info) -> void *
{
    FILE *f = fopen(path, "rb");
    if (!f) return nullptr;
    uint32_t w[4];
    if (!ReadHeader(f, w)) {
        fclose(f);
        return nullptr;
    }
    Stream *s = new Stream{f, w[3], (int)(w[1] * w[2] / 8), 0};
    info->rate = (int32_t)w[0];
    info->channels = (int32_t)w[1];
    info->bits = (int32_t)w[2];
    info->frames = w[3] == 0xFFFFFFFFu ? 0 : w[3];
    info->flags = 4 | (w[2] == 8 ? 2 : 0) | (w[3] == 0xFFFFFFFFu ? 8 : 0);
    return s;
}

LVS_EXPORT(CloseStream)(void *handle) -> void
{
    Stream *s = (Stream *)handle;
    fclose(s->file);
    delete s;
}

LVS_EXPORT(SeekStream)(void *handle, uint32_t frame) -> int
{
    Stream *s = (Stream *)handle;
    s->position = frame;
    return fseek(s->file, 20 + (long)frame * s->frameSize, SEEK_SET) == 0;
}

LVS_EXPORT(StreamSamples)(void *handle, StreamRequest *request) -> int
{
    Stream *s = (Stream *)handle;
    size_t got = fread(request->buffer, (size_t)s->frameSize, (size_t)request->wanted, s->file);
    request->delivered = (int32_t)got;
    request->ended = got < (size_t)request->wanted;
    s->position += (uint32_t)got;
    return 0;
}

LVS_EXPORT(GetFormatName)(void *) -> const char * { return "Test sound"; }

// ---- Saver -----------------------------------------------------------------------------

typedef lvPluginSaverParams SaverParams;

// Called with a cleared item first, then with the item it filled last.
LVS_EXPORT(RegisterSampleSaver)(lvPluginSaverFormat *item) -> int
{
    if (item->formatId == 0) *item = {LVP_SAVESAMPLE_MORE, 100, "TSND"};
    else *item = {2, 101, "TSNDSTREAM"};
    return 1;
}

// The PCM in the format's own form: 8-bit signed.
static void WritePcm(FILE *f, const SaverParams *p)
{
    const uint8_t *in = (const uint8_t *)p->data;
    for (uint32_t i = 0; i < p->bytes; i++) {
        uint8_t b = in[i];
        if (p->bits == 8 && !(p->flags & 2)) b = (uint8_t)(b - 128);
        fputc(b, f);
    }
}

static void WriteHeader(FILE *f, const SaverParams *p, uint32_t frames)
{
    uint32_t w[4] = {(uint32_t)p->rate, (uint32_t)p->channels, (uint32_t)p->bits, frames};
    fwrite("TSND", 1, 4, f);
    fwrite(w, 4, 4, f);
}

LVS_EXPORT(SaveSample)(const char *path, SaverParams *p) -> int
{
    FILE *f = fopen(path, "wb");
    if (!f) return 0;
    WriteHeader(f, p, p->frames);
    WritePcm(f, p);
    fclose(f);
    return 1;
}

struct SaveStream {
    FILE *file;
    uint32_t frames;
};

LVS_EXPORT(BeginSampleStream)(const char *path, SaverParams *p, void *) -> void *
{
    FILE *f = fopen(path, "wb");
    if (!f) return nullptr;
    WriteHeader(f, p, 0);
    return new SaveStream{f, 0};
}

LVS_EXPORT(WriteSampleStream)(void *handle, SaverParams *p) -> int
{
    SaveStream *s = (SaveStream *)handle;
    WritePcm(s->file, p);
    s->frames += p->frames;
    return 0;
}

LVS_EXPORT(FinishSampleStream)(void *handle) -> int
{
    SaveStream *s = (SaveStream *)handle;
    fseek(s->file, 16, SEEK_SET);
    fwrite(&s->frames, 4, 1, s->file);
    fclose(s->file);
    delete s;
    return 0;
}

// ---- Audio adapter ---------------------------------------------------------------------

struct AdapterChannel {
    int format, rate, volume, done;
    lvAudioFillFunction fill;
    void *entry;
};
struct Device {
    std::mutex lock;  // held around each pull: FreeAudioChannel waits for it
    std::vector<AdapterChannel *> channels;
    std::atomic<int> stop{0};
    std::thread thread;
    FILE *out;
};
static std::string *adapterLog;
static std::mutex logLock;

static void Note(const std::string &line)
{
    std::lock_guard<std::mutex> guard(logLock);
    *adapterLog += line + "\n";
}

static int FrameSize(int format) { return format == 5 ? 4 : (format == 1 || format == 3 || format == 4) ? 2 : 1; }

static void PullLoop(Device *d)
{
    std::vector<uint8_t> buffer(1024 * 4);
    bool paced = getenv("TESTSOUND_PACE") != nullptr;
    while (!d->stop.load()) {
        int rate = 0;
        {
            std::lock_guard<std::mutex> guard(d->lock);
            for (AdapterChannel *c : d->channels)
                if (!c->done && c->rate > rate) rate = c->rate;
            for (AdapterChannel *c : d->channels) {
                if (c->done) continue;
                int got = c->fill(nullptr, nullptr, buffer.data(), 1024, c->entry);
                if (d->out && got > 0) fwrite(buffer.data(), (size_t)FrameSize(c->format), (size_t)got, d->out);
                if (got < 1024) c->done = 1;
            }
        }
        if (paced && rate > 0) std::this_thread::sleep_for(std::chrono::microseconds(1024LL * 1000000 / rate));
        else std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

LVS_EXPORT(OpenAudio)(void *, void *) -> void *
{
    Device *d = new Device;
    const char *out = getenv("TESTSOUND_OUT");
    d->out = out ? fopen(out, "wb") : nullptr;
    d->thread = std::thread(PullLoop, d);
    Note("open");
    return d;
}

LVS_EXPORT(CloseAudio)(void *device) -> void
{
    Device *d = (Device *)device;
    d->stop.store(1);
    d->thread.join();
    for (AdapterChannel *c : d->channels) delete c;
    if (d->out) fclose(d->out);
    delete d;
    Note("close");
}

LVS_EXPORT(AllocAudioChannel)(void *device, int format, int rate, int volume, lvAudioFillFunction fill, void *,
                              void *entry, void *) -> void *
{
    Device *d = (Device *)device;
    AdapterChannel *c = new AdapterChannel{format, rate, volume, 0, fill, entry};
    Note("alloc " + std::to_string(format) + " " + std::to_string(rate) + " " + std::to_string(volume));
    std::lock_guard<std::mutex> guard(d->lock);
    d->channels.push_back(c);
    return c;
}

LVS_EXPORT(FreeAudioChannel)(void *device, void *channel) -> void
{
    Device *d = (Device *)device;
    std::lock_guard<std::mutex> guard(d->lock);
    for (size_t i = 0; i < d->channels.size(); i++) {
        if (d->channels[i] == channel) {
            delete d->channels[i];
            d->channels.erase(d->channels.begin() + (long)i);
            break;
        }
    }
    Note("free");
}

LVS_EXPORT(SetChannelAttributes)(void *, void *, const lvPluginTag *tags) -> void
{
    std::string line = "attributes";
    for (const lvPluginTag *t = tags; t && t->tag; t++) line += " " + std::to_string(t->tag) + "=" + std::to_string(t->value);
    Note(line);
}

// ---- Capture --------------------------------------------------------------------------------

struct Capture {
    int rate, channels, bits;
    uint8_t next;
};

LVS_EXPORT(StartAudioCapture)(int rate, int channels, int bits, void *) -> void *
{
    Note("capture " + std::to_string(rate) + " " + std::to_string(channels) + " " + std::to_string(bits));
    return new Capture{rate, channels, bits, 0};
}

LVS_EXPORT(GetAudioCapture)(void *capture, void *buffer, int bytes) -> int
{
    Capture *c = (Capture *)capture;
    uint8_t *out = (uint8_t *)buffer;
    for (int i = 0; i < bytes; i++) out[i] = c->next++;
    return bytes;
}

LVS_EXPORT(StopAudioCapture)(void *capture) -> void
{
    delete (Capture *)capture;
    Note("capture stop");
}

// ---- Commands ----------------------------------------------------------------------------

static lvPluginObjectId IdArg(lvState *L, int index)
{
    return lvPluginObjectId{(int32_t)api->scriptVM->CheckNumberArg(L, index), nullptr};
}

static int CmdTestInstallAudio(lvState *L)
{
    api->scriptVM->PushNumber(L, api->audio->InstallAudioAdapter(self, 0, nullptr));
    return 1;
}

static int CmdTestNegate(lvState *L)
{
    lvPluginSampleInfo info;
    void *lock = api->audio->LockSample(IdArg(L, 1), 0, nullptr, &info);
    if (lock && info.bits == 16) {
        int16_t *v = (int16_t *)info.data;
        for (uint32_t i = 0; i < info.bytes / 2; i++) v[i] = (int16_t)-v[i];
    }
    if (lock) api->audio->UnlockSample(lock);
    api->scriptVM->PushBoolean(L, lock != nullptr);
    return 1;
}

static int CmdTestLockCount(lvState *L)
{
    lvPluginSampleInfo info;
    void *lock = api->audio->LockSample(IdArg(L, 1), 1, nullptr, &info);
    api->scriptVM->PushNumber(L, lock ? (double)info.frames : -1);
    if (lock) api->audio->UnlockSample(lock);
    return 1;
}

static int CmdTestAddSample(lvState *L)
{
    static const uint8_t pcm[] = {0x01, 0x00, 0xFF, 0xFF, 0x7F, 0xFF, 0x80, 0x00, 0x00, 0x10, 0x00, 0x20};
    lvPluginSampleInfo info = {(void *)pcm, sizeof pcm, 3, 2, 16, 22050, LVP_SAMPLE_BIGENDIAN};
    api->scriptVM->PushNumber(L, api->audio->CreateSample(L, IdArg(L, 1), &info));
    return 1;
}

static int CmdTestAudioLog(lvState *L)
{
    std::lock_guard<std::mutex> guard(logLock);
    api->scriptVM->PushString(L, adapterLog->c_str());
    return 1;
}

static int CmdTestThreads(lvState *L)
{
    const char *prefix = api->scriptVM->CheckStringArg(L, 1, nullptr);
    int n = 0;
    if (DIR *d = opendir("/proc/self/task")) {
        while (dirent *e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            char path[300], name[64] = "";
            snprintf(path, sizeof path, "/proc/self/task/%s/comm", e->d_name);
            if (FILE *f = fopen(path, "r")) {
                if (!fgets(name, sizeof name, f)) name[0] = 0;
                fclose(f);
            }
            if (!strncmp(name, prefix, strlen(prefix))) n++;
        }
        closedir(d);
    }
    api->scriptVM->PushNumber(L, n);
    return 1;
}

static const lvPluginCommand commands[] = {
    {"TestInstallAudio", CmdTestInstallAudio}, {"TestNegate", CmdTestNegate}, {"TestLockCount", CmdTestLockCount},
    {"TestAddSample", CmdTestAddSample},       {"TestAudioLog", CmdTestAudioLog}, {"TestThreads", CmdTestThreads},
    {nullptr, nullptr}};
static const lvPluginConstant constants[] = {{nullptr, nullptr, 0}};

// The saver's stream entry points and the adapter's capture are extensions of theirs.
LVS_EXPORT(GetExtensions)(uint32_t capability, void *) -> uint32_t
{
    return capability == PLUGINCAPS_SAVESAMPLE || capability == PLUGINCAPS_AUDIOADAPTER ? 1 : 0;
}

LVS_EXPORT(GetBaseTable)(void) -> const char * { return nullptr; }
LVS_EXPORT(GetCommands)(void) -> const lvPluginCommand * { return commands; }
LVS_EXPORT(GetConstants)(void) -> const lvPluginConstant * { return constants; }
LVS_EXPORT(InitLibrary)(lvState *) -> int { return 0; }
LVS_EXPORT(FreeLibrary)(lvState *) -> void {}

LVS_EXPORT(RequirePlugin)(lvState *, int, int, uint32_t, const lvPluginTag *) -> int
{
    lvPluginTag tags[] = {{2, 4}, {0, 0}};
    int code = api->audio->InstallAudioAdapter(self, getenv("TESTSOUND_CAPTURE") ? 4 : 0, tags);
    Note("install " + std::to_string(code));
    return code;
}

LVS_EXPORT(InitPlugin)(lvPluginRecord *record, const lvPluginApi *table, const char *) -> int
{
    api = table;
    self = record;
    record->capabilities = PLUGINCAPS_LIBRARY | PLUGINCAPS_REQUIRE | PLUGINCAPS_SOUND | PLUGINCAPS_SAVESAMPLE |
                           PLUGINCAPS_AUDIOADAPTER | PLUGINCAPS_EXTENSION;
    record->version = 1;
    record->revision = 0;
    record->name = "Sound test plug-in";
    record->moduleName = "testsound";
    record->author = "Lumivarra tests";
    record->description = "A made-up sound format, its saver, and an audio adapter for the tests";
    record->copyright = "none";
    record->url = "";
    record->date = "10.12.2026";
    if (!adapterLog) adapterLog = new std::string;
    return 1;
}

LVS_EXPORT(ClosePlugin)(void) -> void
{
    delete adapterLog;
    adapterLog = nullptr;
}
