// nativesound.cpp - the platform's own sound decoder (the "native" loader): libsndfile
// reading through the file layer with sf_open_virtual, so linked and adapter files need
// no temporary copy. It decodes what the built-in readers refuse (MP3, Ogg Vorbis, Opus,
// FLAC, float and 24/32-bit WAVE/AIFF, u-law, A-law, ADPCM) to 16-bit signed frames.
//
// Limits: at most two channels (more: refused). Script thread only, except that a
// music's source is read by the mixer while the script side leaves it alone.
#include "media/media_internal.h"
#include "platform/lvplatform.h"
#include "runtime/lists.h"
#include "media/lvmpegscan.h"
#include <cstring>
#include <sndfile.h>

struct lvNativeDecoder {
    lvVFile *file;
    SNDFILE *sf;
    SF_INFO info;
    int64_t base;        // file offset where the sound starts (always 0)
    char typeName[64];
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
    sf_close(d->sf);
    CloseVFile(d->file);
    FreeMemory(d);
    source->stream = nullptr;
}

int64_t ReadNativeSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    lvNativeDecoder *d = (lvNativeDecoder *)source->stream;
    sf_count_t got = sf_readf_short(d->sf, (short *)buffer, frames);
    if (got < 0) got = 0;
    *ended = got < frames;
    source->position += got;
    return got;
}

void SeekNativeSource(lvSoundSource *source, int64_t frame)
{
    lvNativeDecoder *d = (lvNativeDecoder *)source->stream;
    if ((source->canSeek || frame == 0) && sf_seek(d->sf, frame, SEEK_SET) >= 0) source->position = frame;
}

const char *GetNativeTypeName(const lvSoundSource *source)
{
    return ((const lvNativeDecoder *)source->stream)->typeName;
}
