// nativesound.cpp - the platform's own sound decoder (the "native" loader): libsndfile
// reading through the file layer with sf_open_virtual, so linked and adapter files need
// no temporary copy. It decodes what the built-in readers refuse (MP3, Ogg Vorbis, Opus,
// FLAC, float and 24/32-bit WAVE/AIFF, u-law, A-law, ADPCM) to 16-bit signed frames.
//
// A music decoded here is decoded ahead on a worker thread into a ring of three seconds:
// the worker pauses once two seconds are queued and goes on when the reader has taken
// the queue below that, so at most three seconds are ever decoded ahead. A sample load
// decodes straight into the caller's buffer.
//
// Limits: at most two channels (more: refused). One reader at a time (the script thread,
// or the stream server while the music plays); while the worker runs only it touches the
// decoder, and seeking or closing stops it first.
#include "media/media_internal.h"
#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "runtime/lists.h"
#include "media/lvmpegscan.h"
#include "media/lvmusic.h"
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <sndfile.h>

// The decode-ahead ring between the worker (writer) and the reader.
struct lvNativeRing {
    std::mutex lock;
    std::condition_variable changed; // data, room, the end or the stop request
    uint8_t *data = nullptr;
    int64_t size = 0;                // 3 seconds of bytes
    int64_t threshold = 0;           // 2 seconds: the worker pauses at or above it
    int64_t readPos = 0;
    int64_t queued = 0;
    int64_t highWater = 0;           // most bytes ever queued
    int end = 0;                     // the decoder ran out
    int full = 0;                    // the worker pauses
    int stop = 0;                    // the worker is told to end
    int chunkFrames = 0;             // frames the worker decodes at a time
    uint8_t *chunk = nullptr;
    lvThread *thread = nullptr;
};

struct lvNativeDecoder {
    lvVFile *file;
    SNDFILE *sf;
    SF_INFO info;
    int64_t base;        // file offset where the sound starts (always 0)
    char typeName[64];
    int bytesPerFrame;
    lvNativeRing *ring;  // while a worker decodes ahead
};

namespace {

sf_count_t VirtualLength(void *user)
{
    return GetVFileSize(((lvNativeDecoder *)user)->file);
}

sf_count_t VirtualSeek(sf_count_t offset, int whence, void *user)
{
    lvVFile *f = ((lvNativeDecoder *)user)->file;
    // The file layer's origins: 0 current, 1 start, 2 end.
    int origin = whence == SEEK_SET ? 1 : whence == SEEK_END ? 2 : 0;
    if (SeekVFile(f, offset, origin) < 0) return -1;
    return SeekVFile(f, 0, 0);
}

sf_count_t VirtualRead(void *ptr, sf_count_t count, void *user)
{
    int64_t got = ReadVFile(((lvNativeDecoder *)user)->file, ptr, count);
    return got < 0 ? 0 : got;
}

sf_count_t VirtualWrite(const void *, sf_count_t, void *) { return 0; }

sf_count_t VirtualTell(void *user) { return SeekVFile(((lvNativeDecoder *)user)->file, 0, 0); }

const char *MajorName(int format)
{
    switch (format & SF_FORMAT_TYPEMASK) {
    case SF_FORMAT_WAV: return "RIFF WAVE";
    case SF_FORMAT_AIFF: return "AIFF";
    case SF_FORMAT_AU: return "Sun AU";
    case SF_FORMAT_FLAC: return "FLAC";
    case SF_FORMAT_OGG: return (format & SF_FORMAT_SUBMASK) == SF_FORMAT_OPUS ? "Ogg Opus" : "Ogg Vorbis";
    case SF_FORMAT_MPEG: return "MPEG audio";
    default: return "Native";
    }
}

void DecodingWorker(lvThread *thread)
{
    EnterThread(thread);
    lvNativeDecoder *d = (lvNativeDecoder *)thread->userData;
    lvNativeRing *r = d->ring;
    SignalThreadStarted(thread);
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(r->lock);
            r->changed.wait(guard, [r] { return r->stop || !r->full; });
            if (r->stop) break;
        }
        // Decoding runs outside the lock: the reader takes what is queued meanwhile.
        sf_count_t got = sf_readf_short(d->sf, (short *)r->chunk, r->chunkFrames);
        std::lock_guard<std::mutex> guard(r->lock);
        int64_t bytes = got > 0 ? (int64_t)got * d->bytesPerFrame : 0;
        int64_t write = (r->readPos + r->queued) % r->size;
        for (int64_t done = 0; done < bytes;) {
            int64_t n = bytes - done < r->size - write ? bytes - done : r->size - write;
            memcpy(r->data + write, r->chunk + done, (size_t)n);
            done += n;
            write = (write + n) % r->size;
        }
        r->queued += bytes;
        if (r->queued > r->highWater) r->highWater = r->queued;
        if (r->queued >= r->threshold) r->full = 1;
        if (got < r->chunkFrames) r->end = 1;
        r->changed.notify_all();
        if (r->end) break;
    }
    EndThread(thread, 0, 0);
}

void StopDecodingWorker(lvNativeDecoder *d)
{
    lvNativeRing *r = d->ring;
    if (!r) return;
    {
        std::lock_guard<std::mutex> guard(r->lock);
        r->stop = 1;
        r->changed.notify_all();
    }
    StopThread(r->thread);
    FreeMemory(r->data);
    FreeMemory(r->chunk);
    delete r;
    d->ring = nullptr;
}

// 0, ERR_MEM or the thread's error.
int StartDecodingWorker(lvNativeDecoder *d)
{
    lvNativeRing *r = new (std::nothrow) lvNativeRing();
    if (!r) return ERR_MEM;
    int64_t second = (int64_t)d->info.samplerate * d->bytesPerFrame;
    r->size = 3 * second;
    r->threshold = 2 * second;
    // A chunk stays under a second, so writing below the threshold never overfills.
    int64_t chunk = d->info.samplerate / 2;
    r->chunkFrames = (int)(chunk > 4096 ? 4096 : chunk < 1 ? 1 : chunk);
    r->data = (uint8_t *)AllocMemory((size_t)r->size, 0);
    r->chunk = (uint8_t *)AllocMemory((size_t)r->chunkFrames * (size_t)d->bytesPerFrame, 0);
    if (!r->data || !r->chunk) {
        FreeMemory(r->data);
        FreeMemory(r->chunk);
        delete r;
        return ERR_MEM;
    }
    d->ring = r;
    int error = 0;
    r->thread = StartThread("lv decoder", DecodingWorker, d, nullptr, 0, 0, 0, &error);
    if (!r->thread) {
        FreeMemory(r->data);
        FreeMemory(r->chunk);
        delete r;
        d->ring = nullptr;
        return error ? error : ERR_THREAD;
    }
    return 0;
}

// Takes up to frames from the ring, waiting while it is empty and the decoder has not
// ended. The end is looked at before the queue counts as empty.
int64_t ReadRing(lvNativeDecoder *d, uint8_t *out, int64_t frames, int *ended)
{
    lvNativeRing *r = d->ring;
    int64_t wanted = frames * d->bytesPerFrame, copied = 0;
    std::unique_lock<std::mutex> guard(r->lock);
    while (copied < wanted) {
        if (r->queued == 0) {
            if (r->end) {
                *ended = 1;
                break;
            }
            // A stream server told to stop gives up the wait; what was copied stands.
            if (!r->changed.wait_for(guard, std::chrono::milliseconds(20), [r] { return r->queued > 0 || r->end; }) &&
                StreamServerStopRequested())
                break;
            continue;
        }
        int64_t n = wanted - copied < r->queued ? wanted - copied : r->queued;
        if (n > r->size - r->readPos) n = r->size - r->readPos;
        memcpy(out + copied, r->data + r->readPos, (size_t)n);
        copied += n;
        r->readPos = (r->readPos + n) % r->size;
        r->queued -= n;
        if (r->full && r->queued < r->threshold) {
            r->full = 0;
            r->changed.notify_all();
        }
    }
    if (copied == wanted && r->queued == 0 && r->end) *ended = 1;
    return copied / d->bytesPerFrame;
}

} // namespace

bool OpenNativeReader(lvSoundSource *source, const char *path, const char *adapter, const void *userTags)
{
    lvVFile *file = OpenVFile(path, LV_VF_READ | LV_VF_ADAPTERS, adapter, userTags);
    if (!file) return false;
    lvNativeDecoder *d = (lvNativeDecoder *)AllocMemory(sizeof(lvNativeDecoder), 1);
    if (!d) {
        CloseVFile(file);
        return false;
    }
    d->file = file;
    SF_VIRTUAL_IO io = {VirtualLength, VirtualSeek, VirtualRead, VirtualWrite, VirtualTell};
    d->sf = sf_open_virtual(&io, SFM_READ, &d->info, d);
    // More than two channels has no engine format; a rate of 0 would divide later.
    if (!d->sf || d->info.channels < 1 || d->info.channels > 2 || d->info.samplerate <= 0) {
        if (d->sf) sf_close(d->sf);
        CloseVFile(file);
        FreeMemory(d);
        return false;
    }
    CopyStrBounded(d->typeName, sizeof d->typeName, MajorName(d->info.format));
    d->bytesPerFrame = 2 * d->info.channels;
    source->stream = d;
    source->rate = d->info.samplerate;
    source->channels = d->info.channels;
    source->bits = 16;
    source->bytesPerFrame = 2 * d->info.channels;
    source->flags = LV_SMPF_SIGNED;
    source->canSeek = d->info.seekable != 0;
    source->subsongs = 1;
    // MPEG audio: the pre-scan gives the bitrate and, when the decoder cannot tell, the
    // exact length (Xing, VBRI) or the constant-bitrate estimate.
    int64_t scanned = 0;
    if ((d->info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        enum { kScanBytes = 65536 };
        uint8_t *head = (uint8_t *)AllocMemory(kScanBytes, 0);
        if (head) {
            int64_t here = SeekVFile(file, 0, 0);
            SeekVFile(file, 0, 1);
            int64_t got = ReadVFile(file, head, kScanBytes);
            SeekVFile(file, here, 1);
            lvMpegScan scan;
            if (got > 0 && ScanMpegAudio(head, (size_t)got, GetVFileSize(file), &scan)) {
                source->bitrate = scan.bitrate;
                scanned = scan.samples;
            }
            FreeMemory(head);
        }
    }
    if (d->info.frames <= 0 && scanned > 0) d->info.frames = scanned;
    if (d->info.frames > 0 && d->info.frames < INT64_MAX / 4) {
        source->totalFrames = source->nominalFrames = d->info.frames;
        source->totalBytes = d->info.frames * source->bytesPerFrame;
    } else {
        source->nominalFrames = (int64_t)d->info.samplerate * 600;
    }
    return true;
}

void CloseNativeReader(lvSoundSource *source)
{
    lvNativeDecoder *d = (lvNativeDecoder *)source->stream;
    if (!d) return;
    StopDecodingWorker(d);
    sf_close(d->sf);
    CloseVFile(d->file);
    FreeMemory(d);
    source->stream = nullptr;
}

int64_t ReadNativeSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    lvNativeDecoder *d = (lvNativeDecoder *)source->stream;
    *ended = 0;
    if (frames <= 0) return 0;
    if (!source->streamFlag) {
        sf_count_t got = sf_readf_short(d->sf, (short *)buffer, frames);
        if (got < 0) got = 0;
        *ended = got < frames;
        source->position += got;
        return got;
    }
    if (!d->ring && StartDecodingWorker(d)) return 0;
    int64_t got = ReadRing(d, (uint8_t *)buffer, frames, ended);
    source->position += got;
    return got;
}

void SeekNativeSource(lvSoundSource *source, int64_t frame)
{
    lvNativeDecoder *d = (lvNativeDecoder *)source->stream;
    // The worker decodes from where the decoder stands: it ends before the seek, and
    // the next read starts a new one from the new place.
    StopDecodingWorker(d);
    if ((source->canSeek || frame == 0) && sf_seek(d->sf, frame, SEEK_SET) >= 0) source->position = frame;
}

const char *GetNativeTypeName(const lvSoundSource *source)
{
    return ((const lvNativeDecoder *)source->stream)->typeName;
}

int GetNativeDecodeAhead(const lvSoundSource *source, int64_t *queuedFrames, int64_t *mostFrames, int *paused)
{
    const lvNativeDecoder *d = (const lvNativeDecoder *)source->stream;
    if (!d || !d->ring) return 0;
    lvNativeRing *r = d->ring;
    std::lock_guard<std::mutex> guard(r->lock);
    *queuedFrames = r->queued / d->bytesPerFrame;
    *mostFrames = r->highWater / d->bytesPerFrame;
    *paused = r->full || r->end;
    return 1;
}
