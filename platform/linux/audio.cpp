// audio.cpp - the audio output device of lvplatform_audio.h: SDL2's audio callback, a
// null sink on its own thread paced by CLOCK_MONOTONIC (optionally rendering to a WAVE
// file), and a manual sink pumped by tests.
#include "platform/lvplatform_audio.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_sdl.h"
#include "base/lverrors.h"

#include <SDL.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

enum { LV_SINK_SDL, LV_SINK_NULL, LV_SINK_MANUAL };

struct lvAudioDevice {
    int kind;                      // LV_SINK_
    lvAudioPull pull;              // the mixer
    void *user;                    // its argument
    SDL_AudioDeviceID sdl;         // SDL sink
    std::mutex lock;               // null and manual sinks: held around each pull
    lvThread *thread;              // null sink
    FILE *file;                    // null sink rendering to a WAVE file
    uint64_t fileBytes;            // PCM bytes in it
    std::atomic<uint64_t> frames;  // frames handed out
};

static void SetText(char *text, size_t size, const char *what)
{
    if (text && size) snprintf(text, size, "%s", what);
}

static void SdlCallback(void *user, Uint8 *stream, int length)
{
    lvAudioDevice *device = (lvAudioDevice *)user;
    int frames = length / 4;
    device->pull(device->user, (int16_t *)stream, frames);
    device->frames.fetch_add((uint64_t)frames, std::memory_order_relaxed);
}

static void PutLE32(uint8_t *at, uint32_t v)
{
    at[0] = (uint8_t)v, at[1] = (uint8_t)(v >> 8), at[2] = (uint8_t)(v >> 16), at[3] = (uint8_t)(v >> 24);
}

static void WriteWaveHeader(FILE *file, uint64_t bytes)
{
    uint8_t h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0};
    uint32_t data = bytes > 0xFFFFFFF0ull ? 0xFFFFFFF0u : (uint32_t)bytes;
    PutLE32(h + 4, data + 36);
    PutLE32(h + 24, LV_AUDIO_RATE);
    PutLE32(h + 28, LV_AUDIO_RATE * 4);
    h[32] = 4, h[34] = 16;
    memcpy(h + 36, "data", 4);
    PutLE32(h + 40, data);
    fseek(file, 0, SEEK_SET);
    fwrite(h, 1, sizeof h, file);
}

static void PullLocked(lvAudioDevice *device, int16_t *out, int frames)
{
    std::lock_guard<std::mutex> guard(device->lock);
    device->pull(device->user, out, frames);
    device->frames.fetch_add((uint64_t)frames, std::memory_order_relaxed);
}

// One period every 1024/48000 s against absolute deadlines, so the sink keeps real
// time however long a pull takes; a stop request is seen within one period.
static void NullSinkThread(lvThread *thread)
{
    EnterThread(thread);
    lvAudioDevice *device = (lvAudioDevice *)thread->userData;
    SignalThreadStarted(thread);
    static const long periodNs = (long)(1000000000LL * LV_AUDIO_PERIOD / LV_AUDIO_RATE);
    int16_t buffer[LV_AUDIO_PERIOD * 2];
    timespec next;
    clock_gettime(CLOCK_MONOTONIC, &next);
    while (!CheckThreadStop(thread)) {
        PullLocked(device, buffer, LV_AUDIO_PERIOD);
        if (device->file && device->fileBytes < 0xFFFFFFF0ull - sizeof buffer) {
            fwrite(buffer, 1, sizeof buffer, device->file);
            device->fileBytes += sizeof buffer;
        }
        next.tv_nsec += periodNs;
        if (next.tv_nsec >= 1000000000L) next.tv_nsec -= 1000000000L, next.tv_sec++;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
    EndThread(thread, 0, 0);
}

int OpenAudioOutput(const char *sink, lvAudioPull pull, void *user, lvAudioDevice **out, char *errorText,
                    size_t errorSize)
{
    if (!sink) sink = getenv("LUMIVARRA_AUDIO");
    if (!sink || !*sink) sink = "sdl";
    lvAudioDevice *device = new (std::nothrow) lvAudioDevice();
    if (!device) return ERR_MEM;
    device->pull = pull;
    device->user = user;
    if (!strcmp(sink, "sdl")) {
        device->kind = LV_SINK_SDL;
        char why[256] = "";
        if (!AcquireSdlSubsystems(SDL_INIT_AUDIO, why, sizeof why)) {
            SetText(errorText, errorSize, why);
            delete device;
            return ERR_OPENAUDIO;
        }
        SDL_AudioSpec want = {}, have = {};
        want.freq = LV_AUDIO_RATE;
        want.format = AUDIO_S16SYS;
        want.channels = 2;
        want.samples = LV_AUDIO_PERIOD;
        want.callback = SdlCallback;
        want.userdata = device;
        device->sdl = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!device->sdl) SetText(errorText, errorSize, SDL_GetError());
        // Drivers probed during the opening leave error text in the calling thread's SDL
        // storage, which SDL frees only for its own threads and the main thread: the
        // script thread opens the device, so its storage is released here.
        SDL_TLSCleanup();
        if (!device->sdl) {
            ReleaseSdlSubsystems(SDL_INIT_AUDIO);
            delete device;
            return ERR_OPENAUDIO;
        }
        SDL_PauseAudioDevice(device->sdl, 0);
    } else if (!strncmp(sink, "null", 4) && (sink[4] == 0 || sink[4] == ':')) {
        device->kind = LV_SINK_NULL;
        if (sink[4] == ':' && sink[5]) {
            device->file = fopen(sink + 5, "wb+");
            if (!device->file) {
                SetText(errorText, errorSize, "cannot create the sink's file");
                delete device;
                return ERR_OPENAUDIO;
            }
            WriteWaveHeader(device->file, 0);
        }
        int error = 0;
        device->thread = StartThread("audio null sink", NullSinkThread, device, nullptr, 0, 0, 0, &error);
        if (!device->thread) {
            if (device->file) fclose(device->file);
            SetText(errorText, errorSize, "cannot start the sink's thread");
            delete device;
            return ERR_OPENAUDIO;
        }
    } else if (!strcmp(sink, "manual")) {
        device->kind = LV_SINK_MANUAL;
    } else {
        SetText(errorText, errorSize, "unknown LUMIVARRA_AUDIO sink");
        delete device;
        return ERR_OPENAUDIO;
    }
    *out = device;
    return 0;
}

void CloseAudioOutput(lvAudioDevice *device)
{
    if (!device) return;
    if (device->kind == LV_SINK_SDL) {
        SDL_CloseAudioDevice(device->sdl);
        ReleaseSdlSubsystems(SDL_INIT_AUDIO);
    } else if (device->kind == LV_SINK_NULL) {
        StopThread(device->thread);
        if (device->file) {
            WriteWaveHeader(device->file, device->fileBytes);
            fclose(device->file);
        }
    }
    delete device;
}

void LockAudioOutput(lvAudioDevice *device)
{
    if (device->kind == LV_SINK_SDL) SDL_LockAudioDevice(device->sdl);
    else device->lock.lock();
}

void UnlockAudioOutput(lvAudioDevice *device)
{
    if (device->kind == LV_SINK_SDL) SDL_UnlockAudioDevice(device->sdl);
    else device->lock.unlock();
}

const char *GetAudioOutputKind(const lvAudioDevice *device)
{
    return device->kind == LV_SINK_SDL ? "sdl" : device->kind == LV_SINK_NULL ? "null" : "manual";
}

void PumpAudioOutput(lvAudioDevice *device, int16_t *out, int frames)
{
    if (device->kind == LV_SINK_MANUAL && frames > 0) PullLocked(device, out, frames);
}

uint64_t GetAudioOutputFrames(lvAudioDevice *device)
{
    return device->frames.load(std::memory_order_relaxed);
}
