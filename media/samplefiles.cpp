// samplefiles.cpp - the RIFF WAVE and IFF 8SVX/16SV readers (source kinds 0 and 1) and
// the two file writers behind the sample writer front end.
//
// Dependencies: runtime/vfile.h (all file access), lvsound.h.
// Limits: both formats keep sizes in 32-bit fields; the writers refuse data that would
// wrap them. A size field that claims more than the file holds is cut to the bytes
// present, so no read reaches past the end.
#include "media/lvsound.h"
#include "media/media_internal.h"
#include "base/lverrors.h"
#include "runtime/errors.h"
#include <cstring>

// ============================================================================
// Shared reading helpers
// ============================================================================

static bool ReadExact(lvVFile *file, void *buffer, int64_t length)
{
    return ReadVFile(file, buffer, length) == length;
}

static bool ReadBE32(lvVFile *file, uint32_t *value)
{
    uint8_t b[4];
    if (!ReadExact(file, b, 4)) return false;
    *value = (uint32_t)b[0] << 24 | (uint32_t)b[1] << 16 | (uint32_t)b[2] << 8 | b[3];
    return true;
}

static bool ReadLE32(lvVFile *file, uint32_t *value)
{
    uint8_t b[4];
    if (!ReadExact(file, b, 4)) return false;
    *value = (uint32_t)b[3] << 24 | (uint32_t)b[2] << 16 | (uint32_t)b[1] << 8 | b[0];
    return true;
}

static bool ReadLE16(lvVFile *file, uint32_t *value)
{
    uint8_t b[2];
    if (!ReadExact(file, b, 2)) return false;
    *value = (uint32_t)b[1] << 8 | b[0];
    return true;
}

static bool Skip(lvVFile *file, int64_t bytes)
{
    return SeekVFile(file, bytes, 0) >= 0;
}

// Bytes of the file from offset to its end, or -1 when the file layer cannot tell.
static int64_t BytesPresentFrom(lvVFile *file, int64_t offset)
{
    int64_t size = GetVFileSize(file);
    if (size <= 0) return -1;
    return size > offset ? size - offset : 0;
}

static void FillSilence(uint8_t *at, int64_t bytes, int bits)
{
    memset(at, bits == 8 ? 128 : 0, (size_t)bytes);
}

// ============================================================================
// IFF 8SVX / 16SV reader
// ============================================================================

bool OpenIff8svxReader(lvSoundSource *source, int sixteenBit)
{
    lvVFile *file = source->file;
    uint32_t vhdrSize = 0;
    if (SeekVFile(file, 16, 1) < 0 || !ReadBE32(file, &vhdrSize) || vhdrSize != 20) return false;
    uint8_t vhdr[20];
    if (!ReadExact(file, vhdr, 20)) return false;
    int rate = vhdr[12] << 8 | vhdr[13];
    source->compression = vhdr[15];
    // A rate of 0 would make every duration a division by zero later.
    if (source->compression != 0 || rate == 0) return false;

    uint32_t chan = 0;
    int64_t chunkStart = 40;
    uint32_t bodySize = 0;
    for (;;) {
        uint8_t id[4];
        uint32_t size;
        if (SeekVFile(file, chunkStart, 1) < 0 || !ReadExact(file, id, 4) || !ReadBE32(file, &size)) return false;
        if (!memcmp(id, "BODY", 4)) {
            bodySize = size;
            break;
        }
        if (!memcmp(id, "CHAN", 4) && size >= 4 && !ReadBE32(file, &chan)) return false;
        chunkStart += 8 + (int64_t)size + (size & 1);
    }
    source->channels = chan == 6 ? 2 : 1;
    source->bits = sixteenBit ? 16 : 8;
    source->flags = sixteenBit ? LV_SMPF_SIGNED : 0;
    int bytesPerSample = source->bits / 8;
    source->bytesPerFrame = bytesPerSample * source->channels;
    source->rate = rate;
    source->dataOffset = chunkStart + 8;
    int64_t frames = bodySize / source->bytesPerFrame;
    source->planeBytes = frames * bytesPerSample;
    int64_t present = BytesPresentFrom(file, source->dataOffset);
    if (present >= 0 && present < (int64_t)bodySize) {
        // The BODY claims more than the file holds. Mono keeps what is there; stereo
        // keeps the frames whose right sample (in the second plane) is present.
        if (source->channels == 1) frames = present / bytesPerSample;
        else frames = present > source->planeBytes ? (present - source->planeBytes) / bytesPerSample : 0;
    }
    source->totalFrames = source->nominalFrames = frames;
    source->totalBytes = frames * source->bytesPerFrame;
    source->canSeek = !IsVFileUnseekable(file);
    return true;
}

static bool GrowScratch(lvSoundSource *source, size_t bytes)
{
    if (source->scratchSize >= bytes) return true;
    uint8_t *grown = (uint8_t *)AllocMemory(bytes, 0);
    if (!grown) return false;
    FreeMemory(source->scratch);
    source->scratch = grown;
    source->scratchSize = bytes;
    return true;
}

// Reads count samples of one plane into at (stride bytes apart), converted to the
// engine's unsigned 8-bit or little-endian 16-bit form; a short read becomes silence.
static void ReadIffPlane(lvSoundSource *source, int64_t offset, int64_t count, uint8_t *at, int stride,
                         uint8_t *staging)
{
    int bps = source->bits / 8;
    int64_t got = 0;
    if (SeekVFile(source->file, offset, 1) >= 0) got = ReadVFile(source->file, staging, count * bps);
    if (got < 0) got = 0;
    int64_t whole = got / bps;
    if (bps == 1) {
        for (int64_t i = 0; i < whole; i++, at += stride) at[0] = (uint8_t)(staging[i] + 128);
    } else {
        for (int64_t i = 0; i < whole; i++, at += stride) {
            at[0] = staging[2 * i + 1];
            at[1] = staging[2 * i];
        }
    }
    for (int64_t i = whole; i < count; i++, at += stride) FillSilence(at, bps, source->bits);
}

int64_t ReadIff8svxSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    if (ended) *ended = 0;
    int64_t remaining = source->totalFrames - source->position;
    if (remaining < 0) remaining = 0;
    if (frames >= remaining) {
        // Asking for the last frame or more reaches the end.
        if (frames > remaining && ended) *ended = 1;
        frames = remaining;
    }
    if (frames <= 0) return 0;
    int bps = source->bits / 8;
    if (!GrowScratch(source, (size_t)(frames * bps))) return 0;
    int64_t offset = source->dataOffset + bps * source->position;
    uint8_t *out = (uint8_t *)buffer;
    if (source->channels == 1) {
        ReadIffPlane(source, offset, frames, out, bps, source->scratch);
    } else {
        ReadIffPlane(source, offset, frames, out, 2 * bps, source->scratch);
        ReadIffPlane(source, offset + source->planeBytes, frames, out + bps, 2 * bps, source->scratch);
    }
    source->position += frames;
    return frames;
}

// ============================================================================
// RIFF WAVE reader
// ============================================================================

bool OpenWaveReader(lvSoundSource *source)
{
    lvVFile *file = source->file;
    if (SeekVFile(file, 12, 1) < 0) return false;
    uint32_t channels = 0, rate = 0, bits = 0, dataSize = 0;
    for (;;) {
        uint8_t id[4];
        uint32_t size;
        if (!ReadExact(file, id, 4) || !ReadLE32(file, &size)) return false;
        if (!memcmp(id, "data", 4)) {
            dataSize = size;
            break;
        }
        if (!memcmp(id, "fmt ", 4)) {
            if (size != 16 && size != 18 && size != 40) return false;
            uint32_t tag;
            if (!ReadLE16(file, &tag) || tag != 1) return false;
            if (!ReadLE16(file, &channels) || !ReadLE32(file, &rate) || !Skip(file, 6) || !ReadLE16(file, &bits))
                return false;
            if (bits != 8 && bits != 16) return false;
            if (!Skip(file, size - 16)) return false;
        } else if (!Skip(file, (int64_t)size + (size & 1))) {
            return false;
        }
    }
    // No "fmt " before "data"; and layouts of more than two channels would be read as
    // mono noise: both go to the next loader.
    if (rate == 0 || channels == 0 || channels > 2) return false;
    source->channels = (int)channels;
    source->bits = (int)bits;
    source->flags = bits == 16 ? LV_SMPF_SIGNED : 0;
    source->bytesPerFrame = source->bits * source->channels / 8;
    source->rate = (int)rate;
    source->dataOffset = SeekVFile(file, 0, 0);
    if (source->dataOffset < 0) return false;
    int64_t bytes = dataSize;
    int64_t present = BytesPresentFrom(file, source->dataOffset);
    if (present >= 0 && present < bytes) bytes = present;
    source->totalFrames = source->nominalFrames = bytes / source->bytesPerFrame;
    source->totalBytes = source->totalFrames * source->bytesPerFrame;
    source->canSeek = !IsVFileUnseekable(file);
    return true;
}

int64_t ReadWaveSamples(lvSoundSource *source, void *buffer, int64_t frames, int *ended)
{
    if (ended) *ended = 0;
    int64_t remaining = source->totalFrames - source->position;
    if (remaining < 0) remaining = 0;
    if (frames >= remaining) {
        if (frames > remaining && ended) *ended = 1;
        frames = remaining;
    }
    if (frames <= 0) return 0;
    int64_t want = frames * source->bytesPerFrame;
    int64_t got = 0;
    if (SeekVFile(source->file, source->dataOffset + source->bytesPerFrame * source->position, 1) >= 0)
        got = ReadVFile(source->file, buffer, want);
    if (got < 0) got = 0;
    if (got < want) FillSilence((uint8_t *)buffer + got, want - got, source->bits);
    source->position += frames;
    return frames;
}

// ============================================================================
// Writers: shared parts
// ============================================================================

// Data past this would wrap a 32-bit size field once the header and padding are added.
static const uint64_t kWriterLimit = 0xFFFFFFFFull - 64;
static uint64_t writerLimit = kWriterLimit;

void SetSampleWriterLimitForTests(uint64_t bytes)
{
    writerLimit = bytes ? bytes : kWriterLimit;
}

static lvVFile *OpenForWriting(const char *path, const char *adapter, const void *userTags)
{
    lvVFile *file = OpenVFile(path, LV_VF_WRITE | LV_VF_ADAPTERS, adapter, userTags);
    if (!file) SetErrorStringArg(path);
    return file;
}

static void PutLE32(uint8_t *at, uint32_t v)
{
    at[0] = (uint8_t)v, at[1] = (uint8_t)(v >> 8), at[2] = (uint8_t)(v >> 16), at[3] = (uint8_t)(v >> 24);
}
static void PutLE16(uint8_t *at, uint32_t v)
{
    at[0] = (uint8_t)v, at[1] = (uint8_t)(v >> 8);
}
static void PutBE32(uint8_t *at, uint32_t v)
{
    at[0] = (uint8_t)(v >> 24), at[1] = (uint8_t)(v >> 16), at[2] = (uint8_t)(v >> 8), at[3] = (uint8_t)v;
}
static void PutBE16(uint8_t *at, uint32_t v)
{
    at[0] = (uint8_t)(v >> 8), at[1] = (uint8_t)v;
}

static bool PatchLE32(lvVFile *file, int64_t offset, uint32_t value)
{
    return SeekVFile(file, offset, 1) >= 0 && WriteVFileLE32(file, value);
}
static bool PatchBE32(lvVFile *file, int64_t offset, uint32_t value)
{
    return SeekVFile(file, offset, 1) >= 0 && WriteVFileBE32(file, value);
}

// ============================================================================
// WAVE writer
// ============================================================================

struct lvWaveWriter {
    int format;         // engine code of the caller's data
    lvVFile *file;      // the file
    uint32_t flags;     // LV_SMPF_ bits of the caller's data
    uint64_t dataBytes; // data written
};

int OpenWaveWriter(const char *path, const char *adapter, const void *userTags, int rate, int channels, int bits,
                   uint32_t flags, lvWaveWriter **out)
{
    int format = ComputeSampleFormat(channels, bits, flags);
    if (format < 0) return ERR_WRONGUSAGE;
    lvWaveWriter *writer = (lvWaveWriter *)AllocMemory(sizeof(lvWaveWriter), 1);
    if (!writer) return ERR_MEM;
    writer->format = format;
    writer->flags = flags;
    writer->file = OpenForWriting(path, adapter, userTags);
    if (!writer->file) {
        FreeMemory(writer);
        return ERR_WRITEFILE;
    }
    int frameSize = GetSampleFrameSize(format);
    int ch = channels == 2 ? 2 : 1;
    uint8_t h[44];
    memcpy(h, "RIFF", 4);
    PutLE32(h + 4, 0);
    memcpy(h + 8, "WAVEfmt ", 8);
    PutLE32(h + 16, 16);
    PutLE16(h + 20, 1);
    PutLE16(h + 22, (uint32_t)ch);
    PutLE32(h + 24, (uint32_t)rate);
    PutLE32(h + 28, (uint32_t)rate * (uint32_t)frameSize);
    PutLE16(h + 32, (uint32_t)frameSize);
    PutLE16(h + 34, (uint32_t)bits);
    memcpy(h + 36, "data", 4);
    PutLE32(h + 40, 0);
    if (WriteVFile(writer->file, h, 44) != 44 || SeekVFile(writer->file, 0, 0) != 44) {
        CloseVFile(writer->file);
        FreeMemory(writer);
        return ERR_WRITE;
    }
    *out = writer;
    return 0;
}

int WriteWaveData(lvWaveWriter *writer, const void *data, int64_t bytes)
{
    if (bytes <= 0) return 0;
    if (writer->dataBytes + (uint64_t)bytes > writerLimit) return ERR_WRITE;
    bool signed8 = writer->format == LV_SMP_S8_MONO || writer->format == LV_SMP_S8_STEREO;
    bool swap16 = (writer->format == LV_SMP_S16_MONO || writer->format == LV_SMP_S16_STEREO) &&
                  (writer->flags & LV_SMPF_BIGENDIAN);
    const void *from = data;
    uint8_t *copy = nullptr;
    if (signed8 || swap16) {
        copy = (uint8_t *)AllocMemory((size_t)bytes, 0);
        if (!copy) return ERR_MEM;
        const uint8_t *in = (const uint8_t *)data;
        if (signed8) {
            for (int64_t i = 0; i < bytes; i++) copy[i] = (uint8_t)(in[i] + 128);
        } else {
            for (int64_t i = 0; i + 1 < bytes; i += 2) copy[i] = in[i + 1], copy[i + 1] = in[i];
            if (bytes & 1) copy[bytes - 1] = in[bytes - 1];
        }
        from = copy;
    }
    int64_t written = WriteVFile(writer->file, from, bytes);
    FreeMemory(copy);
    if (written > 0) writer->dataBytes += (uint64_t)written;
    return written == bytes ? 0 : ERR_WRITE;
}

int CloseWaveWriter(lvWaveWriter *writer)
{
    int code = 0;
    uint32_t data = (uint32_t)writer->dataBytes;
    uint32_t pad = (4 - (data & 3)) & 3;
    static const uint8_t zeros[4] = {0, 0, 0, 0};
    if (pad && WriteVFile(writer->file, zeros, pad) != pad) code = ERR_WRITE;
    if (!PatchLE32(writer->file, 4, data + pad + 36) || !PatchLE32(writer->file, 40, data)) code = ERR_WRITE;
    CloseVFile(writer->file);
    FreeMemory(writer);
    return code;
}

// ============================================================================
// IFF writer
// ============================================================================

struct lvIffWriter {
    lvVFile *file;      // the main file
    uint8_t *right;     // stereo: the right samples until close (AllocMemory)
    uint64_t rightSize; // bytes in right
    uint64_t rightCap;  // bytes allocated
    int format;         // engine code of the caller's data
    int channels;       // 1 or 2
    int bits;           // 8 or 16
    int bytesPerFrame;  // of the caller's data
    int extra;          // header bytes of the CHAN chunk (12 stereo, else 0)
    uint32_t flags;     // LV_SMPF_ bits of the caller's data
    uint64_t dataBytes; // data written (both planes)
};

int OpenIff8svxWriter(const char *path, const char *adapter, const void *userTags, int rate, int channels,
                      int bits, uint32_t flags, lvIffWriter **out)
{
    int format = ComputeSampleFormat(channels, bits, flags);
    if (format < 0) return ERR_WRONGUSAGE;
    lvIffWriter *writer = (lvIffWriter *)AllocMemory(sizeof(lvIffWriter), 1);
    if (!writer) return ERR_MEM;
    writer->format = format;
    writer->channels = channels == 2 ? 2 : 1;
    writer->bits = bits;
    writer->bytesPerFrame = GetSampleFrameSize(format);
    writer->extra = writer->channels == 2 ? 12 : 0;
    writer->flags = flags;
    writer->file = OpenForWriting(path, adapter, userTags);
    if (!writer->file) {
        FreeMemory(writer);
        return ERR_WRITEFILE;
    }
    uint8_t h[60];
    memcpy(h, "FORM", 4);
    PutBE32(h + 4, 0);
    memcpy(h + 8, bits == 16 ? "16SV" : "8SVX", 4);
    memcpy(h + 12, "VHDR", 4);
    PutBE32(h + 16, 20);
    PutBE32(h + 20, 0);
    PutBE32(h + 24, 0);
    PutBE32(h + 28, 0);
    PutBE16(h + 32, (uint32_t)rate);
    h[34] = 1;
    h[35] = 0;
    PutBE32(h + 36, 0x10000);
    int at = 40;
    if (writer->channels == 2) {
        memcpy(h + 40, "CHAN", 4);
        PutBE32(h + 44, 4);
        PutBE32(h + 48, 6);
        at = 52;
    }
    memcpy(h + at, "BODY", 4);
    PutBE32(h + at + 4, 0);
    int headerSize = at + 8;
    if (WriteVFile(writer->file, h, headerSize) != headerSize || SeekVFile(writer->file, 0, 0) != headerSize) {
        CloseVFile(writer->file);
        FreeMemory(writer);
        return ERR_WRITE;
    }
    *out = writer;
    return 0;
}

// One sample of the caller's data in the file's form (signed 8-bit, big-endian 16-bit).
static void ToIffSample(const lvIffWriter *writer, const uint8_t *in, uint8_t *out)
{
    if (writer->bits == 8) {
        bool unsigned8 = writer->format == LV_SMP_U8_MONO || writer->format == LV_SMP_U8_STEREO;
        out[0] = unsigned8 ? (uint8_t)(in[0] - 128) : in[0];
    } else if (writer->flags & LV_SMPF_BIGENDIAN) {
        out[0] = in[0], out[1] = in[1];
    } else {
        out[0] = in[1], out[1] = in[0];
    }
}

int WriteIff8svxData(lvIffWriter *writer, const void *data, int64_t bytes)
{
    int64_t frames = bytes / writer->bytesPerFrame;
    if (frames <= 0) return 0;
    bytes = frames * writer->bytesPerFrame;
    if (writer->dataBytes + (uint64_t)bytes > writerLimit) return ERR_WRITE;
    int bps = writer->bits / 8;
    uint8_t *copy = (uint8_t *)AllocMemory((size_t)bytes, 0);
    if (!copy) return ERR_MEM;
    const uint8_t *in = (const uint8_t *)data;
    int64_t plane = frames * bps;
    for (int64_t f = 0; f < frames; f++) {
        for (int c = 0; c < writer->channels; c++)
            ToIffSample(writer, in + f * writer->bytesPerFrame + c * bps, copy + c * plane + f * bps);
    }
    int code = 0;
    if (writer->channels == 2) {
        if (writer->rightSize + (uint64_t)plane > writer->rightCap) {
            uint64_t cap = writer->rightCap ? writer->rightCap : 65536;
            while (cap < writer->rightSize + (uint64_t)plane) cap *= 2;
            uint8_t *grown = (uint8_t *)AllocMemory((size_t)cap, 0);
            if (!grown) {
                FreeMemory(copy);
                return ERR_MEM;
            }
            if (writer->rightSize) memcpy(grown, writer->right, (size_t)writer->rightSize);
            FreeMemory(writer->right);
            writer->right = grown;
            writer->rightCap = cap;
        }
        memcpy(writer->right + writer->rightSize, copy + plane, (size_t)plane);
        writer->rightSize += (uint64_t)plane;
    }
    if (WriteVFile(writer->file, copy, plane) != plane) code = ERR_WRITE;
    FreeMemory(copy);
    if (!code) writer->dataBytes += (uint64_t)bytes;
    return code;
}

int CloseIff8svxWriter(lvIffWriter *writer)
{
    int code = 0;
    if (writer->rightSize &&
        WriteVFile(writer->file, writer->right, (int64_t)writer->rightSize) != (int64_t)writer->rightSize)
        code = ERR_WRITE;
    uint32_t data = (uint32_t)writer->dataBytes;
    uint32_t pad = data & 1;
    static const uint8_t zero = 0;
    if (pad && WriteVFile(writer->file, &zero, 1) != 1) code = ERR_WRITE;
    if (!PatchBE32(writer->file, 4, data + (uint32_t)writer->extra + pad + 40) ||
        !PatchBE32(writer->file, 20, data / (uint32_t)writer->bytesPerFrame) ||
        !PatchBE32(writer->file, 44 + writer->extra, data))
        code = ERR_WRITE;
    CloseVFile(writer->file);
    FreeMemory(writer->right);
    FreeMemory(writer);
    return code;
}
