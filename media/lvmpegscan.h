// lvmpegscan.h - the pre-scan of MPEG audio files (mpegscan.cpp): tags skipped, the
// first frame header, and the exact length from a Xing/Info or VBRI header.
#pragma once
#include <cstddef>
#include <cstdint>

struct lvMpegHeader {
    int version;          // 1, 2 or 25 (2.5)
    int layer;            // 1..3
    int bitrate;          // bits a second, 0 free format
    int rate;             // Hz
    int channels;         // 1 or 2
    int samplesPerFrame;  // 384, 576 or 1152
    int frameBytes;       // 0 for free format
};

enum { LV_MPEGSCAN_NONE = 0, LV_MPEGSCAN_XING = 1, LV_MPEGSCAN_VBRI = 2, LV_MPEGSCAN_CBR = 3 };

struct lvMpegScan {
    int64_t audioOffset;  // after the ID3v2 tags
    lvMpegHeader header;  // the first frame's
    int kind;             // LV_MPEGSCAN_
    int hasFrameCount;
    uint32_t frames;      // audio frames (Xing, VBRI)
    uint32_t streamBytes; // bytes the header gives, 0 unknown
    int64_t samples;      // frames of PCM
    int64_t durationMs;
    int bitrate;          // bits a second
};

// Bytes of the ID3v2 tags at the start (0 when none); size when a tag runs past it.
size_t SkipId3v2Tags(const uint8_t *data, size_t size);
// An MPEG audio frame header at p (4 bytes).
bool ParseMpegHeader(const uint8_t *p, lvMpegHeader *header);
// data: the file's first bytes; fileSize its whole size. False when no frame header
// follows the tags.
bool ScanMpegAudio(const uint8_t *data, size_t size, int64_t fileSize, lvMpegScan *out);
