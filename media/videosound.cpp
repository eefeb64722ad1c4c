// videosound.cpp - a playing video's sound on the built-in output: the audio server
// decodes the stream's sound into a ring of 2 x 2048 frames at the stream's rate, and
// the mixer reads the ring on the device's thread, resampling it linearly to 48000 Hz
// with the channel's gains. The ring has one writer (the audio server) and one reader
// (the mixer), so its two counters are all they share; an empty ring plays silence, and
// a ring below half raises the server's refill signal.
//
// The audio clock is the stream time of the end of the decoded sound; what is still
// waiting in the decoded buffer, the ring and one device period is subtracted from it
// (GetVideoAudioLatency), so it names the sample being heard.
#include "media/video_internal.h"
#include "base/lverrors.h"
#include "media/lvaudio.h"
#include "platform/lvplatform_audio.h"
#include <cstring>
#include <new>

struct lvVideoAudioOutput {
    lvVideoPlayer *player = nullptr;
    int16_t *ring = nullptr;
    int capacity = 0;                     // frames
    int channels = 1;
    int rate = 48000;
    std::atomic<int64_t> written{0};      // frames, the server's
    std::atomic<int64_t> read{0};         // frames, the mixer's
    uint32_t fraction = 0;                // the mixer's 32-bit position inside the next frame
    uint64_t step = 0;                    // 32.32 source frames per output frame
    std::atomic<int32_t> gainLeft{65536}, gainRight{65536};
    std::atomic<int> paused{0};
    std::atomic<int> pendingBytes{0};     // decoded, not yet in the ring
    std::atomic<int64_t> soundEnd{0};     // ring frames up to here hold decoded sound (not silence)
    std::atomic<int> soundFinished{0};    // the stream's sound has all been decoded
    lvSignal *refill = nullptr;
    uint8_t staging[2048 * 4];
};

namespace {

inline int16_t Clamp16(int32_t v) { return (int16_t)(v > 32767 ? 32767 : v < -32768 ? -32768 : v); }

void MixVideoSound(void *data, int16_t *out, int frames)
{
    lvVideoAudioOutput *o = (lvVideoAudioOutput *)data;
    if (!o || o->paused.load(std::memory_order_relaxed)) return;
    const int64_t readAt = o->read.load(std::memory_order_relaxed);
    const int64_t available = o->written.load(std::memory_order_acquire) - readAt;
    const int32_t gl = o->gainLeft.load(std::memory_order_relaxed), gr = o->gainRight.load(std::memory_order_relaxed);
    const int ch = o->channels;
    uint64_t position = o->fraction; // 32.32 from readAt
    int i = 0;
    for (; i < frames; i++) {
        int64_t frame = (int64_t)(position >> 32);
        if (frame >= available) break; // an underrun: the rest stays silent
        const int16_t *s0 = o->ring + (size_t)((readAt + frame) % o->capacity) * ch;
        int32_t l = s0[0], r = s0[ch - 1];
        uint32_t f = (uint32_t)position;
        if (f && frame + 1 < available) {
            const int16_t *s1 = o->ring + (size_t)((readAt + frame + 1) % o->capacity) * ch;
            l += (int32_t)(((int64_t)(s1[0] - l) * f) >> 32);
            r += (int32_t)(((int64_t)(s1[ch - 1] - r) * f) >> 32);
        }
        out[2 * i] = Clamp16(out[2 * i] + (int32_t)(((int64_t)l * gl) >> 16));
        out[2 * i + 1] = Clamp16(out[2 * i + 1] + (int32_t)(((int64_t)r * gr) >> 16));
        position += o->step;
    }
    int64_t consumed = (int64_t)(position >> 32);
    if (consumed > available) consumed = available;
    o->fraction = (uint32_t)position;
    o->read.store(readAt + consumed, std::memory_order_release);
    if (available - consumed < o->capacity / 2) RaiseSignal(o->refill);
}

// The table stopped the video's channel: the video stops.
void VideoChannelStopped(void *data)
{
    lvVideoAudioOutput *o = (lvVideoAudioOutput *)data;
    if (o && o->player) StopVideoPlayer(o->player);
}

// Decodes the next block of sound into the player's buffer: the bytes, -1 on a stop,
// -2 while paused or once the sound has ended.
int DecodeVideoAudio(lvThread *thread, lvVideoPlayer *p)
{
    const double bytesPerSecond = (double)p->info.audioRate * p->info.audioChannels * 2;
    for (int idle = 0;;) {
        if (p->audioPacket && !p->packetDone) {
            lvAudioDecodeRequest request{p->audioBuffer, 0x40000, 0, 0};
            p->ops.DecodeAudioFrame(p->stream, p->audioPacket->packet, &request);
            int bytes = request.written < 0 ? 0 : request.written > 0x40000 ? 0x40000 : request.written;
            bytes -= bytes % p->bytesPerFrame;
            // A stream that neither writes nor finishes its packet is not asked forever.
            p->packetDone = request.done || (bytes == 0 && ++idle >= 64);
            if (p->packetDone) {
                p->ops.FreePacket(p->audioPacket->packet);
                FreeMemory(p->audioPacket);
                p->audioPacket = nullptr;
            }
            if (bytes > 0) {
                if (const lvVideoTestHooks *h = VideoHooks(); h->soundSink)
                    h->soundSink(h->user, p, (const int16_t *)p->audioBuffer, bytes);
                p->audioClock = p->audioClock.load() + bytes / bytesPerSecond;
                return bytes;
            }
            continue;
        }
        if (p->paused.load()) return -2;
        lvPacketNode *node = nullptr;
        int r = PopPacket(thread, &p->audioQueue, &node, 1, nullptr);
        if (r == -1) return -1;
        if (r < 0) {
            p->output->soundFinished = 1;
            return -2;
        }
        p->output->soundFinished = 0;
        if (!node->packet) {
            p->ops.FlushAudio(p->stream);
            p->audioSeekState = 2;
            FreeMemory(node);
            continue;
        }
        p->audioPacket = node;
        p->packetDone = 0;
        idle = 0;
        if (node->timeStamp != -1) p->audioClock = node->timeStamp;
    }
}

// Delivers length bytes: decoded sound, or silence while there is none. The bytes of
// decoded sound among them (they come first when silence follows), or -1 on a stop.
int FillVideoAudio(lvThread *thread, lvVideoPlayer *p, uint8_t *destination, int length)
{
    lvVideoAudioOutput *o = p->output;
    int sound = 0;
    while (length > 0) {
        if (p->audioRead >= p->audioFill) {
            int r = DecodeVideoAudio(thread, p);
            if (r == -1) return -1;
            p->audioSilent = r == -2;
            if (r == -2) {
                int n = length < 0x40000 ? length : 0x40000;
                memset(p->audioBuffer, 0, (size_t)n);
                p->audioFill = n;
            } else {
                p->audioFill = r;
            }
            p->audioRead = 0;
        }
        int n = p->audioFill - p->audioRead;
        if (n > length) n = length;
        if (!p->audioSilent) sound += n;
        memcpy(destination, p->audioBuffer + p->audioRead, (size_t)n);
        p->audioRead += n;
        destination += n;
        length -= n;
        o->pendingBytes.store(p->audioSilent ? 0 : p->audioFill - p->audioRead, std::memory_order_relaxed);
        int two = 2;
        p->audioSeekState.compare_exchange_strong(two, 0);
    }
    return sound;
}

} // namespace

int AllocVideoChannel(lvVideoPlayer *p, int channel)
{
    static std::atomic<int> hooked{0};
    if (!hooked.exchange(1)) SetVideoChannelHooks(MixVideoSound, VideoChannelStopped);
    lvVideoAudioOutput *o = new (std::nothrow) lvVideoAudioOutput();
    if (!o) return ERR_MEM;
    o->player = p;
    o->channels = p->info.audioChannels;
    o->rate = p->info.audioRate;
    o->capacity = 2 * p->bufferFrames;
    o->step = ((uint64_t)o->rate << 32) / LV_AUDIO_RATE;
    o->ring = (int16_t *)AllocMemory((size_t)o->capacity * o->channels * 2, 1);
    o->refill = NewSignal();
    if (!o->ring || !o->refill) {
        int code = !o->ring ? ERR_MEM : ERR_CREATEEVENT;
        FreeMemory(o->ring);
        CloseSignal(o->refill);
        delete o;
        return code;
    }
    int used = -1;
    if (int code = ReserveVideoChannel(o, p->id, channel, &used)) {
        FreeMemory(o->ring);
        CloseSignal(o->refill);
        delete o;
        return code;
    }
    p->output = o;
    p->channel = used;
    return 0;
}

int NewVideoAudioOutput(lvVideoPlayer *p)
{
    // The ring was made with the channel (the script thread); the server only checks it.
    return p->output ? 0 : ERR_OPENAUDIO;
}

void StartVideoChannel(lvVideoPlayer *p)
{
    if (p->output) ActivateVideoChannel(p->output);
}

int VideoAudioServerStep(lvThread *thread, lvVideoPlayer *p)
{
    lvVideoAudioOutput *o = p->output;
    if (CheckThreadStop(thread)) return -1;
    if (o->paused.load()) {
        SleepForStop(thread, 10);
        return 0;
    }
    int64_t free = o->capacity - (o->written.load(std::memory_order_relaxed) - o->read.load(std::memory_order_acquire));
    const int frameBytes = o->channels * 2;
    while (free > 0) {
        int64_t writeAt = o->written.load(std::memory_order_relaxed);
        int start = (int)(writeAt % o->capacity);
        int frames = (int)(free < o->capacity - start ? free : o->capacity - start);
        if (frames > (int)(sizeof o->staging / frameBytes)) frames = (int)(sizeof o->staging / frameBytes);
        int sound = FillVideoAudio(thread, p, o->staging, frames * frameBytes);
        if (sound < 0) return -1;
        memcpy(o->ring + (size_t)start * o->channels, o->staging, (size_t)frames * frameBytes);
        if (sound > 0) o->soundEnd.store(writeAt + sound / frameBytes, std::memory_order_relaxed);
        o->written.store(writeAt + frames, std::memory_order_release);
        free -= frames;
    }
    // The mixer raises the signal when the ring falls below half; the time-out keeps the
    // stop request seen.
    WaitSignalTimeout(o->refill, 10);
    return 0;
}

int IsVideoSoundDrained(lvVideoPlayer *p)
{
    lvVideoAudioOutput *o = p->output;
    if (!o) return 1;
    return o->soundFinished.load() && o->pendingBytes.load() == 0 && o->read.load() >= o->soundEnd.load();
}

void PauseVideoAudio(lvVideoPlayer *p)
{
    if (p->output) p->output->paused = 1;
}

void RaiseVideoAudioRefill(lvVideoPlayer *p)
{
    if (p->output) RaiseSignal(p->output->refill);
}

double GetVideoAudioLatency(lvVideoPlayer *p)
{
    lvVideoAudioOutput *o = p->output;
    if (!o) return 0;
    // Silence written after the sound is nothing the clock waits for.
    int64_t queued = o->soundEnd.load() - o->read.load();
    double ringFrames = queued > 0 ? (double)queued : 0;
    double bytes = o->pendingBytes.load();
    return (bytes / (o->channels * 2) + ringFrames) / o->rate + (double)LV_AUDIO_PERIOD / LV_AUDIO_RATE;
}

void ReleaseVideoSound(lvVideoPlayer *p)
{
    FreeVideoAudioOutput(p);
}

void FreeVideoAudioOutput(lvVideoPlayer *p)
{
    lvVideoAudioOutput *o = p->output;
    if (!o) return;
    // Off the table first: once this returns the mixer never reads the ring again.
    ReleaseVideoChannel((void *)o);
    p->output = nullptr;
    p->channel = -1;
    FreeMemory(o->ring);
    CloseSignal(o->refill);
    delete o;
}

void SetVideoAudioVolume(lvVideoPlayer *p, int volume)
{
    if (!p->output) return;
    int32_t l, r;
    ComputeVoiceGains(volume, 128, &l, &r);
    p->output->gainLeft = l;
    p->output->gainRight = r;
}
