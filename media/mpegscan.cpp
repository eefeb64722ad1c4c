// mpegscan.cpp - the MPEG audio pre-scan of the native decoder: ID3v2 tags (with footer,
// syncsafe sizes) skipped, the first frame header read, and a Xing/Info or VBRI header
// for the exact frame count; else the constant bitrate over the file. Pure code over a
// buffer, so malformed input can only be refused.
//
// Samples per frame follow the version and layer (384 for layer I, 1152 for layer II and
// MPEG-1 layer III, 576 for MPEG-2/2.5 layer III); a bitrate from a frame count is
// computed in floating point and only for a length of at least one sample.
#include "media/lvmpegscan.h"
#include <cstring>

namespace {

uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3]; }

const int kBitrates[2][3][16] = {
    // MPEG-1: layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    // MPEG-2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
};
const int kRates[3][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};

} // namespace

size_t SkipId3v2Tags(const uint8_t *data, size_t size)
{
    size_t at = 0;
    while (size - at >= 10 && !memcmp(data + at, "ID3", 3) && data[at + 3] != 0xFF && data[at + 4] != 0xFF) {
        const uint8_t *s = data + at + 6;
        if ((s[0] | s[1] | s[2] | s[3]) & 0x80) break; // not syncsafe: no tag
        size_t body = (size_t)s[0] << 21 | (size_t)s[1] << 14 | (size_t)s[2] << 7 | s[3];
        size_t total = 10 + body + ((data[at + 5] & 0x10) ? 10 : 0);
        if (total > size - at) return size;
        at += total;
    }
    return at;
}

bool ParseMpegHeader(const uint8_t *p, lvMpegHeader *h)
{
    uint32_t v = Be32(p);
    if ((v & 0xFFE00000u) != 0xFFE00000u) return false;
    int version = (v >> 19) & 3; // 0: 2.5, 2: 2, 3: 1
    int layer = (v >> 17) & 3;   // 1: III, 2: II, 3: I
    int bitrateIndex = (v >> 12) & 15, rateIndex = (v >> 10) & 3;
    if (version == 1 || layer == 0 || bitrateIndex == 15 || rateIndex == 3) return false;
    h->version = version == 3 ? 1 : version == 2 ? 2 : 25;
    h->layer = 4 - layer;
    int table = version == 3 ? 0 : 1;
    h->bitrate = kBitrates[table][h->layer - 1][bitrateIndex] * 1000;
    h->rate = kRates[version == 3 ? 0 : version == 2 ? 1 : 2][rateIndex];
    h->channels = ((v >> 6) & 3) == 3 ? 1 : 2;
    h->samplesPerFrame = h->layer == 1 ? 384 : h->layer == 2 ? 1152 : (h->version == 1 ? 1152 : 576);
    int padding = (v >> 9) & 1;
    if (h->bitrate <= 0) {
        h->frameBytes = 0; // free format
    } else if (h->layer == 1) {
        h->frameBytes = (12 * h->bitrate / h->rate + padding) * 4;
    } else {
        int factor = h->layer == 3 && h->version != 1 ? 72 : 144;
        h->frameBytes = factor * h->bitrate / h->rate + padding;
    }
    return true;
}

bool ScanMpegAudio(const uint8_t *data, size_t size, int64_t fileSize, lvMpegScan *out)
{
    memset(out, 0, sizeof *out);
    size_t at = SkipId3v2Tags(data, size);
    out->audioOffset = (int64_t)at;
    if (size - at < 4 || !ParseMpegHeader(data + at, &out->header)) return false;
    const lvMpegHeader &h = out->header;
    const uint8_t *frame = data + at;
    size_t left = size - at;
    // Xing/Info after the side information.
    size_t side = h.version == 1 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    size_t xing = 4 + side;
    if (h.layer == 3 && left >= xing + 8 && (!memcmp(frame + xing, "Xing", 4) || !memcmp(frame + xing, "Info", 4))) {
        uint32_t flags = Be32(frame + xing + 4);
        size_t field = xing + 8;
        if ((flags & 1) && left >= field + 4) {
            out->frames = Be32(frame + field);
            out->hasFrameCount = 1;
            field += 4;
        }
        if ((flags & 2) && left >= field + 4) out->streamBytes = Be32(frame + field);
        out->kind = LV_MPEGSCAN_XING;
    } else if (left >= 36 + 18 && !memcmp(frame + 36, "VBRI", 4)) {
        out->streamBytes = Be32(frame + 36 + 10);
        out->frames = Be32(frame + 36 + 14);
        out->hasFrameCount = 1;
        out->kind = LV_MPEGSCAN_VBRI;
    }
    int64_t audioBytes = fileSize - (int64_t)at;
    if (out->hasFrameCount) {
        out->samples = (int64_t)out->frames * h.samplesPerFrame;
        double seconds = (double)out->samples / h.rate;
        int64_t bytes = out->streamBytes ? (int64_t)out->streamBytes : audioBytes;
        out->bitrate = out->samples > 0 && bytes > 0 ? (int)(bytes * 8.0 / seconds) : h.bitrate;
    } else if (h.bitrate > 0 && audioBytes > 0) {
        out->kind = LV_MPEGSCAN_CBR;
        out->bitrate = h.bitrate;
        out->samples = (int64_t)((double)audioBytes * 8 / h.bitrate * h.rate);
    }
    out->durationMs = h.rate > 0 ? out->samples * 1000 / h.rate : 0;
    return true;
}
