// audiocapture.cpp - the audio input of lvplatform_audio.h: an SDL2 capture device in
// queue mode (no callback), read by the recording job on the script thread.
#include "platform/lvplatform_audio.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_sdl.h"
#include "base/lverrors.h"

#include <SDL.h>
#include <cstdio>
#include <new>

struct lvAudioCapture {
    SDL_AudioDeviceID sdl;
    int bytesPerFrame;
};

int StartAudioCapture(int rate, int channels, int bits, lvAudioCapture **out, char *errorText, size_t errorSize)
{
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || rate <= 0) return ERR_WRONGUSAGE;
    char why[256] = "";
    if (!AcquireSdlSubsystems(SDL_INIT_AUDIO, why, sizeof why)) {
        if (errorText && errorSize) snprintf(errorText, errorSize, "%s", why);
        return ERR_OPENAUDIO;
    }
    lvAudioCapture *c = new (std::nothrow) lvAudioCapture();
    if (!c) {
        ReleaseSdlSubsystems(SDL_INIT_AUDIO);
        return ERR_MEM;
    }
    SDL_AudioSpec want = {}, have = {};
    want.freq = rate;
    want.format = bits == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = (Uint8)channels;
    want.samples = 1024;
    // No changes allowed: SDL converts whatever the device gives to the asked layout.
    c->sdl = SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    if (!c->sdl && errorText && errorSize) snprintf(errorText, errorSize, "%s", SDL_GetError());
    SDL_TLSCleanup();
    if (!c->sdl) {
        delete c;
        ReleaseSdlSubsystems(SDL_INIT_AUDIO);
        return ERR_OPENAUDIO;
    }
    c->bytesPerFrame = channels * bits / 8;
    SDL_PauseAudioDevice(c->sdl, 0);
    *out = c;
    return 0;
}

int64_t ReadAudioCapture(lvAudioCapture *capture, void *buffer, int64_t bytes)
{
    if (!capture || bytes <= 0) return 0;
    // Whole frames only, and never more than the caller's bytes.
    bytes -= bytes % capture->bytesPerFrame;
    if (bytes > 0x7FFFFFFF) bytes = 0x7FFFFFFF - 0x7FFFFFFF % capture->bytesPerFrame;
    return SDL_DequeueAudio(capture->sdl, buffer, (Uint32)bytes);
}

void StopAudioCapture(lvAudioCapture *capture)
{
    if (!capture) return;
    SDL_CloseAudioDevice(capture->sdl);
    ReleaseSdlSubsystems(SDL_INIT_AUDIO);
    delete capture;
}
