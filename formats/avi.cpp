// avi.cpp - AVI reader. Sizes, counts and stream numbers come from the file: the MJPEG
// buffer is sized from the chunk, idx1 entries that name no stream are passed over, the
// indexes hold no more entries than the file can, and the frame count is the index's.
#include "formats/lvavi.h"
#include "formats/formats_internal.h"
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

static uint32_t Le32(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24; }
static int Le16(const uint8_t *p) { return p[0] | p[1] << 8; }

// A chunk larger than this is not a frame of any picture the reader accepts.
static const uint32_t kMaxChunk = 256u << 20;

struct lvAviIndexEntry {
    int64_t offset;
    uint32_t size;
};

struct lvAviReader {
    lvVFile *file = nullptr;
    int kind = 0;  // 0 DIB, 1 MJPEG
    int width = 0, height = 0, streams = 0;
    int channels = 0, sampleRate = 0, blockAlign = 0, bits = 0;
    int planes = 0, bitCount = 0;
    uint32_t flags = 0;
    int totalFrames = 0;
    char type[16][4] = {}, handler[16][4] = {};
    int videoStream = -1;
    int64_t moviAt = 0;
    int nextFrame = 0;
    lvAviIndexEntry *index[16] = {};
    int indexCount[16] = {};
    // The video stream's OpenDML super index: where its standard index chunks are.
    int64_t superOffsets[256] = {};
    int superCount = 0;
};

void CloseAviReader(lvAviReader *r)
{
    if (!r) return;
    if (r->file) CloseVFile(r->file);
    for (auto *i : r->index) FreeMemory(i);
    delete r;
}

static bool Read(lvVFile *file, void *out, int64_t n) { return ReadVFile(file, out, n) == n; }

static bool SameNoCase(const char *a, const char *b)
{
    for (int i = 0; i < 4; i++)
        if (std::tolower((unsigned char)a[i]) != std::tolower((unsigned char)b[i])) return false;
    return true;
}

// "NNdb", "NNdc" or "NNwb".
static bool IsDataChunkId(const uint8_t *id)
{
    return std::isdigit(id[0]) && std::isdigit(id[1]) &&
           (!std::memcmp(id + 2, "db", 2) || !std::memcmp(id + 2, "dc", 2) || !std::memcmp(id + 2, "wb", 2));
}

static void ReadIdx1(lvAviReader *r)
{
    uint8_t head[8];
    if (!Read(r->file, head, 8) || std::memcmp(head, "idx1", 4)) return;
    uint32_t entries = Le32(head + 4) / 16;
    // The entries the file can hold, not the ones its size field claims.
    int64_t size = GetVFileSize(r->file), at = SeekVFile(r->file, 0, 0);
    if (size > 0 && at >= 0) entries = (uint32_t)std::min<int64_t>(entries, std::max<int64_t>(size - at, 0) / 16);
    else entries = std::min<uint32_t>(entries, 1u << 20);
    int cap = (int)std::min<uint32_t>(entries, 1u << 30);
    if (cap <= 0) return;
    for (int s = 0; s < r->streams; s++) {
        r->index[s] = (lvAviIndexEntry *)AllocMemory((size_t)cap * sizeof(lvAviIndexEntry), 1);
        if (!r->index[s]) return;
    }
    auto drop = [&] {
        for (int s = 0; s < 16; s++) FreeMemory(r->index[s]), r->index[s] = nullptr, r->indexCount[s] = 0;
    };
    uint8_t block[16 * 256];
    for (uint32_t done = 0; done < entries;) {
        uint32_t n = std::min<uint32_t>(entries - done, 256);
        int64_t got = ReadVFile(r->file, block, n * 16);
        if (got < 16) break;
        n = (uint32_t)got / 16;
        for (uint32_t i = 0; i < n; i++) {
            const uint8_t *e = block + i * 16;
            if (!std::memcmp(e, "rec ", 4)) continue;
            if (!IsDataChunkId(e)) {
                drop();
                return;
            }
            int stream = (e[0] - '0') * 10 + (e[1] - '0');
            if (stream >= r->streams) continue;  // names no stream
            if (r->indexCount[stream] < cap)
                r->index[stream][r->indexCount[stream]++] = {(int64_t)Le32(e + 8), Le32(e + 12)};
        }
        done += n;
    }
}

// The video stream's standard index chunks into its index, when they hold more frames
// than idx1 did; entries are absolute positions (of the chunk or of its data: the
// decoder tells them apart).
static void ReadStandardIndexes(lvAviReader *r)
{
    int64_t fileSize = GetVFileSize(r->file);
    int cap = (int)std::min<int64_t>(fileSize > 0 ? fileSize / 8 : 1 << 20, 1 << 30);
    lvMemPtr<lvAviIndexEntry> index = AllocBlock<lvAviIndexEntry>((size_t)cap * sizeof(lvAviIndexEntry), 1);
    if (!index) return;
    int count = 0;
    for (int s = 0; s < r->superCount && count < cap; s++) {
        uint8_t h[32];
        if (SeekVFile(r->file, r->superOffsets[s], 1) < 0 || !Read(r->file, h, 32) || h[11] != 1) continue;
        uint32_t used = Le32(h + 12), chunkSize = Le32(h + 4);
        if (chunkSize < 24) continue;
        used = std::min<uint32_t>(used, (chunkSize - 24) / 8);
        int64_t base = (int64_t)(Le32(h + 20) | (uint64_t)Le32(h + 24) << 32);
        uint8_t e[8];
        for (uint32_t i = 0; i < used && count < cap && Read(r->file, e, 8); i++)
            index.get()[count++] = {base + Le32(e), Le32(e + 4) & 0x7FFFFFFF};
    }
    if (count <= r->indexCount[r->videoStream]) return;
    FreeMemory(r->index[r->videoStream]);
    r->index[r->videoStream] = index.release();
    r->indexCount[r->videoStream] = count;
}

// Without an index: the video stream's chunks in the movi list, one chunk header at a
// time, so the count stays within what the file holds.
static int CountMoviFrames(lvAviReader *r, int64_t moviEnd)
{
    int64_t fileSize = GetVFileSize(r->file);
    if (fileSize > 0) moviEnd = std::min(moviEnd, fileSize);
    if (SeekVFile(r->file, r->moviAt, 1) < 0) return 0;
    int count = 0;
    for (int64_t at = r->moviAt; at + 8 <= moviEnd;) {
        uint8_t c[8];
        if (!Read(r->file, c, 8)) break;
        uint32_t size = Le32(c + 4);
        if (!std::memcmp(c, "LIST", 4)) {
            at += 12;  // into the list: its chunks follow its type
        } else {
            if (IsDataChunkId(c) && (c[0] - '0') * 10 + (c[1] - '0') == r->videoStream && c[2] == 'd') count++;
            at += 8 + (int64_t)size + (size & 1);
        }
        if (SeekVFile(r->file, at, 1) < 0) break;
    }
    return count;
}

lvAviReader *OpenAviReader(lvVFile *file, int *width, int *height, int *frameCount)
{
    std::unique_ptr<lvAviReader, void (*)(lvAviReader *)> r(new (std::nothrow) lvAviReader, CloseAviReader);
    if (!r) {
        CloseVFile(file);
        return nullptr;
    }
    r->file = file;
    uint8_t head[12];
    if (SeekVFile(file, 0, 1) < 0 || !Read(file, head, 12) || std::memcmp(head, "RIFF", 4) ||
        std::memcmp(head + 8, "AVI ", 4))
        return nullptr;
    int current = -1, headers = 0;
    int64_t moviEnd = -1;
    for (int guard = 0; guard < 100000; guard++) {
        uint8_t c[8];
        if (!Read(file, c, 8)) break;
        uint32_t size = Le32(c + 4);
        int64_t at = SeekVFile(file, 0, 0);
        int64_t next = at + size + (size & 1);
        uint8_t d[64] = {};
        if (!std::memcmp(c, "LIST", 4)) {
            if (!Read(file, d, 4)) break;
            if (!std::memcmp(d, "movi", 4)) {
                r->moviAt = at + 4;
                moviEnd = next;
                break;
            }
            continue;
        }
        if (!std::memcmp(c, "avih", 4)) {
            if (size != 56 || !Read(file, d, 56)) return nullptr;
            r->flags = Le32(d + 12);
            r->totalFrames = (int)std::min<uint32_t>(Le32(d + 16), 1u << 30);
            r->streams = (int)Le32(d + 24);
            r->width = (int)Le32(d + 32), r->height = (int)Le32(d + 36);
            if (!r->totalFrames || Le32(d + 24) > 16) return nullptr;
        } else if (!std::memcmp(c, "strh", 4)) {
            if ((size != 56 && size != 64) || headers >= 16 || !Read(file, d, 8)) return nullptr;
            current = headers++;
            std::memcpy(r->type[current], d, 4), std::memcpy(r->handler[current], d + 4, 4);
        } else if (!std::memcmp(c, "indx", 4) && current >= 0 && current == r->videoStream) {
            // A super index (type 0): 16-byte entries {64-bit offset, size, duration}.
            uint8_t h[24];
            if (size >= 24 && Read(file, h, 24) && h[3] == 0) {
                uint32_t used = std::min<uint32_t>({Le32(h + 4), (size - 24) / 16, 256});
                for (uint32_t i = 0; i < used; i++) {
                    uint8_t e[16];
                    if (!Read(file, e, 16)) break;
                    r->superOffsets[r->superCount++] = (int64_t)(Le32(e) | (uint64_t)Le32(e + 4) << 32);
                }
            }
        } else if (!std::memcmp(c, "strf", 4)) {
            if (current < 0) return nullptr;
            if (!std::memcmp(r->type[current], "auds", 4)) {
                if (size < 16 || !Read(file, d, 16) || Le16(d) != 1) return nullptr;
                r->channels = Le16(d + 2), r->sampleRate = (int)Le32(d + 4);
                r->blockAlign = Le16(d + 12), r->bits = Le16(d + 14);
            } else if (!std::memcmp(r->type[current], "vids", 4)) {
                if (size < 20 || !Read(file, d, 20)) return nullptr;
                if ((int)Le32(d + 4) != r->width || (int)(int32_t)Le32(d + 8) != r->height) return nullptr;
                r->planes = Le16(d + 12), r->bitCount = Le16(d + 14);
                r->videoStream = current;
            }
        }
        if (SeekVFile(file, next, 1) < 0) break;
    }
    if (r->videoStream < 0 || r->videoStream >= r->streams || !r->streams || !r->totalFrames || r->width <= 0 ||
        r->height <= 0 || moviEnd < 0)
        return nullptr;
    if (!ImagePixelsFit(r->width, r->height)) return nullptr;
    const char *h = r->handler[r->videoStream];
    static const char zero[4] = {};
    if (SameNoCase(h, "dib ") || SameNoCase(h, "raw ") || !std::memcmp(h, zero, 4)) {
        if (r->bitCount != 24) return nullptr;
        r->kind = 0;
    } else if (SameNoCase(h, "mjpg")) {
        r->kind = 1;
    } else {
        return nullptr;
    }
    if (SeekVFile(file, moviEnd, 1) >= 0) ReadIdx1(r.get());
    // idx1 covers the first RIFF part only: the standard indexes reach the later parts.
    if (r->superCount) ReadStandardIndexes(r.get());
    // The frame count is what the index (or the movi list) holds; a header that claims
    // more frames than that is refused. Fewer is usual: OpenDML files count the first
    // part only there.
    int frames = r->indexCount[r->videoStream];
    if (!r->index[r->videoStream] && !frames) frames = CountMoviFrames(r.get(), moviEnd);
    if (frames <= 0 || r->totalFrames > frames) return nullptr;
    r->totalFrames = frames;
    SeekVFile(file, r->moviAt, 1);
    r->nextFrame = 0;
    *width = r->width, *height = r->height, *frameCount = r->totalFrames;
    return r.release();
}

// ITU-T T.81 Annex K.3: the DC and AC tables of luminance and chrominance as one DHT segment.
static const uint8_t kStandardDht[420] = {
    0xFF, 0xC4, 0x01, 0xA2,
    0x00, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    0x01, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,
    0x10, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d,
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
    0x11, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77,
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa,
};

size_t RebuildMjpegFrame(const uint8_t *in, size_t n, uint8_t *out)
{
    if (n < 2 || in[0] != 0xFF || in[1] != 0xD8) return 0;
    size_t i = 2, o = 2;
    out[0] = 0xFF, out[1] = 0xD8;
    bool tables = false;
    while (i + 1 < n && in[i] == 0xFF) {
        uint8_t marker = in[i + 1];
        if (marker == 0xFF) {
            out[o++] = in[i++];
            continue;
        }
        if (marker == 0xDA) {
            if (!tables) std::memcpy(out + o, kStandardDht, sizeof kStandardDht), o += sizeof kStandardDht;
            break;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD9)) {
            out[o++] = in[i++], out[o++] = in[i++];
            continue;
        }
        if (i + 4 > n) break;
        size_t length = (size_t)in[i + 2] << 8 | in[i + 3];
        if (length < 2 || length + 2 > n - i) break;
        if (marker == 0xC4) tables = true;
        std::memcpy(out + o, in + i, length + 2);
        o += length + 2, i += length + 2;
    }
    std::memcpy(out + o, in + i, n - i);
    o += n - i;
    if (o >= 10 && out[2] == 0xFF && out[3] == 0xE0 && !std::memcmp(out + 6, "AVI1", 4)) std::memcpy(out + 6, "JFIF", 4);
    return o;
}

static uint32_t *DecodeDib(lvAviReader *r, const uint8_t *data, uint32_t size)
{
    size_t tight = (size_t)r->width * 3, padded = (tight + 3) & ~(size_t)3;
    size_t stride;
    if (size == tight * r->height) stride = tight;
    else if (size == padded * r->height) stride = padded;
    else return nullptr;
    uint32_t *out = (uint32_t *)AllocMemory((size_t)r->width * r->height * 4, 0);
    if (!out) return nullptr;
    for (int y = 0; y < r->height; y++) {
        const uint8_t *row = data + (size_t)(r->height - 1 - y) * stride;
        uint32_t *o = out + (size_t)y * r->width;
        for (int x = 0; x < r->width; x++) o[x] = (uint32_t)row[x * 3 + 2] << 16 | (uint32_t)row[x * 3 + 1] << 8 | row[x * 3];
    }
    return out;
}

static uint32_t *DecodeMjpeg(lvAviReader *r, const uint8_t *data, uint32_t size)
{
    lvMemPtr<uint8_t> stream = AllocBlock<uint8_t>((size_t)size + sizeof kStandardDht, 0);
    if (!stream) return nullptr;
    size_t length = RebuildMjpegFrame(data, size, stream.get());
    if (!length) return nullptr;
    int w = 0, h = 0;
    uint32_t *pixels = nullptr;
    if (DecodeJpegImage(stream.get(), length, 0, 1, &w, &h, &pixels) != 0) return nullptr;
    // A frame of another size than the stream's would overrun every caller's buffer.
    if (w != r->width || h != r->height) {
        FreeMemory(pixels);
        return nullptr;
    }
    for (size_t i = 0, n = (size_t)w * h; i < n; i++) pixels[i] &= 0xFFFFFF;
    return pixels;
}

uint32_t *DecodeAviFrame(lvAviReader *r, int frame)
{
    if (frame < 0 || frame >= r->totalFrames) return nullptr;
    int counted = r->nextFrame;
    if (frame != r->nextFrame) {
        const lvAviIndexEntry *e = frame < r->indexCount[r->videoStream] ? &r->index[r->videoStream][frame] : nullptr;
        uint8_t head[8];
        int64_t at = r->moviAt;
        counted = 0;
        if (e && e->offset) {
            at = e->offset;
            auto chunkAt = [&](int64_t p) { return p >= 0 && SeekVFile(r->file, p, 1) >= 0 && Read(r->file, head, 8) && IsDataChunkId(head); };
            if (!chunkAt(at)) at = chunkAt(at - 8) ? at - 8 : r->moviAt + e->offset - 4;
            counted = frame;
        } else if (frame < r->nextFrame) {
            counted = 0;
        } else {
            counted = r->nextFrame, at = -1;  // walk on from where the last frame ended
        }
        if (at >= 0 && SeekVFile(r->file, at, 1) < 0) return nullptr;
    }
    char db[5], dc[5];
    std::snprintf(db, sizeof db, "%.2ddb", r->videoStream);
    std::snprintf(dc, sizeof dc, "%.2ddc", r->videoStream);
    for (int guard = 0; guard < 1 << 24; guard++) {
        uint8_t c[8];
        if (!Read(r->file, c, 8)) break;
        uint32_t size = Le32(c + 4);
        if (!std::memcmp(c, "LIST", 4) || !std::memcmp(c, "RIFF", 4)) {
            if (!Read(r->file, c, 4)) break;
            continue;
        }
        int64_t next = SeekVFile(r->file, 0, 0) + size + (size & 1);
        if (!std::memcmp(c, db, 4) || !std::memcmp(c, dc, 4)) {
            if (counted == frame) {
                int64_t fileSize = GetVFileSize(r->file);
                if (size > kMaxChunk || (fileSize > 0 && size > fileSize)) break;
                lvMemPtr<uint8_t> data = AllocBlock<uint8_t>(size ? size : 1, 0);
                if (!data || !Read(r->file, data.get(), size)) break;
                uint32_t *pixels = r->kind == 0 ? DecodeDib(r, data.get(), size) : DecodeMjpeg(r, data.get(), size);
                SeekVFile(r->file, next, 1);
                r->nextFrame = frame + 1;
                if (r->nextFrame >= r->totalFrames) {
                    r->nextFrame = 0;
                    SeekVFile(r->file, r->moviAt, 1);
                }
                return pixels;
            }
            counted++;
        }
        if (SeekVFile(r->file, next, 1) < 0) break;
    }
    // Lost in the file: the next request starts from the movi data again.
    r->nextFrame = 0;
    SeekVFile(r->file, r->moviAt, 1);
    return nullptr;
}
