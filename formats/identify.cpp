// identify.cpp - tells format, size, depth, alpha, transparency and EXIF orientation of
// a picture file from its first bytes, without decoding pixels: PNG, JPEG, BMP, TIFF,
// GIF and IFF ILBM.
//
// Dependencies: runtime/vfile.h. Limits: looks at the first 2048 bytes, except that the
// PNG chunk walk, the JPEG marker scan and the TIFF directory read on through the file.
#include "formats/lvformats.h"
#include "base/lverrors.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>

enum { kIdentifyBufferSize = 2048 };

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
static uint32_t Le32(const uint8_t *p) { return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0]; }
static uint16_t Be16(const uint8_t *p) { return (uint16_t)(p[0] << 8 | p[1]); }
static uint16_t Le16(const uint8_t *p) { return (uint16_t)(p[1] << 8 | p[0]); }

int FindChunkTag(const char *tag, const uint8_t *buffer, int length)
{
    for (int i = 0; i <= length - 9; i++)
        if (std::memcmp(buffer + i, tag, 4) == 0) return i + 4;
    return -1;
}

// The outputs of one identification.
struct lvIdentity {
    int format, width, height, depth, hasAlpha, hasTransparency;
};

// ---- IFF ILBM -------------------------------------------------------------------------

static bool IdentifyIlbm(const uint8_t *buffer, lvIdentity *id)
{
    int at = FindChunkTag("BMHD", buffer, kIdentifyBufferSize);
    if (at < 0 || at + 4 + 10 > kIdentifyBufferSize) return false;
    const uint8_t *bmhd = buffer + at + 4;
    id->format = IMGFMT_ILBM;
    id->width = Be16(bmhd);
    id->height = Be16(bmhd + 2);
    id->depth = bmhd[8];
    id->hasTransparency = bmhd[9] == 2;
    int camg = FindChunkTag("CAMG", buffer, kIdentifyBufferSize);
    if (id->depth < 24 && camg >= 0 && camg + 8 <= kIdentifyBufferSize && (Be32(buffer + camg + 4) & 0x800))
        id->depth = 24;
    return true;
}

// ---- PNG ------------------------------------------------------------------------------

static bool IdentifyPng(lvVFile *file, const uint8_t *buffer, lvIdentity *id)
{
    int at = FindChunkTag("IHDR", buffer, kIdentifyBufferSize);
    if (at < 0 || at + 10 > kIdentifyBufferSize) return false;
    int bitDepth = buffer[at + 8], colourType = buffer[at + 9];
    id->format = IMGFMT_PNG;
    id->width = (int)Be32(buffer + at);
    id->height = (int)Be32(buffer + at + 4);
    static const int samples[7] = {1, 0, 3, 1, 2, 0, 4};
    id->depth = colourType <= 6 ? bitDepth * samples[colourType] : 0;
    id->hasAlpha = colourType == 4 || colourType == 6;
    if (colourType != 3) return true;
    // Palette pictures: walk the chunks for a tRNS before IEND.
    SeekVFile(file, 8, 1);
    for (;;) {
        uint8_t head[8];
        if (ReadVFile(file, head, 8) != 8) break;
        if (std::memcmp(head + 4, "tRNS", 4) == 0) {
            id->hasTransparency = 1;
            break;
        }
        if (std::memcmp(head + 4, "IEND", 4) == 0) break;
        if (SeekVFile(file, (int64_t)Be32(head) + 4, 0) < 0) break;
    }
    return true;
}

// ---- JPEG -----------------------------------------------------------------------------

// The next marker code behind 0xFF (fill bytes skipped, 0xFF 0x00 is data), or -1 at the end.
static int NextJpegMarker(lvVFile *file)
{
    for (;;) {
        int c;
        while ((c = ReadVFileByte(file)) != 0xFF)
            if (c < 0) return -1;
        while ((c = ReadVFileByte(file)) == 0xFF) {
        }
        if (c < 0) return -1;
        if (c != 0) return c;
    }
}

// Reads an APP1 segment's EXIF orientation. bigEndian is kept across segments (-1 unknown).
static void ReadExifOrientation(lvVFile *file, int *bigEndian, int *orientation)
{
    int64_t start = SeekVFile(file, 0, 0);
    int length = ReadVFileBE16(file);
    uint8_t head[8];
    if (ReadVFile(file, head, 6) == 6 && std::memcmp(head, "Exif", 4) == 0) {
        int64_t tiff = SeekVFile(file, 0, 0);
        uint8_t order[2] = {};
        ReadVFile(file, order, 2);
        if (order[0] == 'I' && order[1] == 'I') *bigEndian = 0;
        else if (order[0] == 'M' && order[1] == 'M') *bigEndian = 1;
        if (*bigEndian >= 0) {
            SeekVFile(file, 2, 0);  // the 42 of the TIFF header
            uint32_t ifd = *bigEndian ? ReadVFileBE32(file) : ReadVFileLE32(file);
            SeekVFile(file, tiff + ifd, 1);
            int entries = *bigEndian ? ReadVFileBE16(file) : ReadVFileLE16(file);
            for (int i = 0; i < entries && *orientation == 0; i++) {
                uint8_t entry[12];
                if (ReadVFile(file, entry, 12) != 12) break;
                int tag = *bigEndian ? Be16(entry) : Le16(entry);
                if (tag == 274) *orientation = *bigEndian ? Be16(entry + 8) : Le16(entry + 8);
            }
        }
    }
    SeekVFile(file, start + length, 1);
}

static bool IdentifyJpeg(lvVFile *file, lvIdentity *id, int *orientation)
{
    SeekVFile(file, 2, 1);
    int bigEndian = -1;
    int marker = -1;
    uint8_t two[2] = {};
    if (ReadVFile(file, two, 2) == 2 && two[0] == 0xFF && two[1] == 0xE1) {
        marker = 0xE1;
    } else {
        // The first segment after SOI is skipped whatever it is.
        int length = ReadVFileBE16(file);
        SeekVFile(file, length - 2, 0);
    }
    for (;;) {
        if (marker < 0 && (marker = NextJpegMarker(file)) < 0) return false;
        bool frame = (marker >= 0xC0 && marker <= 0xCE && marker != 0xC4 && marker != 0xCC) || marker == 0xDE;
        if (frame) {
            uint8_t header[7];
            if (ReadVFile(file, header, 7) != 7) return false;  // length, precision, height, width
            id->format = IMGFMT_JPEG;
            id->height = Be16(header + 3);
            id->width = Be16(header + 5);
            // Four-component frames (CMYK, YCCK) are decoded unturned: no swap for them.
            int components = ReadVFileByte(file);
            if (*orientation >= 5 && components != 4) {
                int w = id->width;
                id->width = id->height;
                id->height = w;
            }
            id->depth = 24;
            return true;
        }
        if (marker == 0xE1) {
            ReadExifOrientation(file, &bigEndian, orientation);
        } else {
            int length = ReadVFileBE16(file);
            if (IsVFileEof(file)) return false;
            SeekVFile(file, length - 2, 0);
        }
        marker = -1;
    }
}

// ---- TIFF -----------------------------------------------------------------------------

static bool IdentifyTiff(lvVFile *file, bool bigEndian, lvIdentity *id)
{
    auto read16 = [&] { return (int)(bigEndian ? ReadVFileBE16(file) : ReadVFileLE16(file)); };
    auto read32 = [&] { return bigEndian ? ReadVFileBE32(file) : ReadVFileLE32(file); };
    SeekVFile(file, 4, 1);
    SeekVFile(file, read32(), 1);
    int entries = read16();
    bool seen = false, rgb = false;
    int bits = 0, samples = 0;
    uint32_t bitsOffset = 0;
    for (int i = 0; i < entries; i++) {
        int tag = read16();
        uint32_t count = 0;
        if (tag == 258) {
            read16();
            count = read32();
        } else {
            SeekVFile(file, 6, 0);
        }
        int first = read16();  // the first 16 bits of the value field
        int rest = 2;
        if (IsVFileEof(file)) break;
        if (tag == 256) id->width = first, seen = true;
        else if (tag == 257) id->height = first, seen = true;
        else if (tag == 258 && count >= 3) {
            SeekVFile(file, -2, 0);
            bitsOffset = read32();
            rest = 0;
        } else if (tag == 258) bits = first;
        else if (tag == 262) rgb = first == 2;
        else if (tag == 277) samples = first;
        SeekVFile(file, rest, 0);
    }
    if (!seen) return false;
    id->format = IMGFMT_TIFF;
    if (bitsOffset && samples) {
        SeekVFile(file, bitsOffset, 1);
        int sum = 0;
        for (int i = 0; i < samples; i++) sum += read16();
        id->depth = sum;
    } else {
        id->depth = bits * samples;
    }
    id->hasAlpha = rgb && samples == 4;
    return true;
}

// ---- GIF ------------------------------------------------------------------------------

static void IdentifyGif(const uint8_t *buffer, lvIdentity *id)
{
    id->format = IMGFMT_GIF;
    id->width = Le16(buffer + 6);
    id->height = Le16(buffer + 8);
    id->depth = (buffer[10] & 7) + 1;
    int position = 13;
    if (buffer[10] & 0x80) position += 3 << ((buffer[10] & 7) + 1);
    if (position >= 800) return;
    // Extensions are walked block by block inside the buffer only.
    while (position + 2 < kIdentifyBufferSize && buffer[position] == 0x21) {
        int label = buffer[position + 1];
        position += 2;
        if (label == 0xF9 && buffer[position] >= 4 && position + 1 < kIdentifyBufferSize) {
            id->hasTransparency = buffer[position + 1] & 1;
            return;
        }
        while (position < kIdentifyBufferSize && buffer[position]) position += buffer[position] + 1;
        position++;
        if (position >= 1000) return;
    }
}

// ---- The test order -------------------------------------------------------------------

int IdentifyImageFile(int *height, int *depth, lvVFile *file, int *format, int *width, int *hasAlpha,
                      int *hasTransparency, int *orientation)
{
    *format = IMGFMT_UNKNOWN;
    uint8_t buffer[kIdentifyBufferSize] = {};
    SeekVFile(file, 0, 1);
    ReadVFile(file, buffer, kIdentifyBufferSize);
    lvIdentity id = {IMGFMT_UNKNOWN, 0, 0, 0, 0, 0};
    bool known = false;
    if (std::memcmp(buffer, "FORM", 4) == 0 && std::memcmp(buffer + 8, "ILBM", 4) == 0) {
        known = IdentifyIlbm(buffer, &id);
    } else if (buffer[0] == 0x89 && std::memcmp(buffer + 1, "PNG", 3) == 0) {
        known = IdentifyPng(file, buffer, &id);
    } else if (buffer[0] == 0xFF && buffer[1] == 0xD8) {
        known = IdentifyJpeg(file, &id, orientation);
    } else if (buffer[0] == 'B' && buffer[1] == 'M') {
        id.format = IMGFMT_BMP;
        id.width = (int32_t)Le32(buffer + 18);
        int64_t h = (int32_t)Le32(buffer + 22);
        id.height = (int)std::min<int64_t>(h < 0 ? -h : h, INT32_MAX);
        id.depth = Le16(buffer + 28);
        known = true;
    } else if (std::memcmp(buffer, "MM\0\x2A", 4) == 0 || std::memcmp(buffer, "II\x2A\0", 4) == 0) {
        known = IdentifyTiff(file, buffer[0] == 'M', &id);
    } else if (std::memcmp(buffer, "GIF87a", 6) == 0 || std::memcmp(buffer, "GIF89a", 6) == 0) {
        IdentifyGif(buffer, &id);
        known = true;
    }
    if (!known) return ERR_LOADPICTURE2;
    *format = id.format;
    *width = id.width;
    *height = id.height;
    *depth = id.depth;
    *hasAlpha = id.hasAlpha;
    *hasTransparency = id.hasTransparency;
    return 0;
}
