// bmp.cpp - Windows BMP files: the reader (1, 4, 8, 16, 24, 32 bits, RLE8), the writer
// (1, 4, 8, 24 bits) and the row packer the BMP and PNG writers share.
//
// Dependencies: runtime/vfile.h, raster/lvbitmap.h (pen planes of the writer).
// Limits: bottom-up files only; 16 bits are 5-5-5 unless BITFIELDS masks say otherwise;
// the alpha byte of 32-bit pixels is not kept.
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include <algorithm>
#include <cstring>

static uint32_t Le32(const uint8_t *p) { return (uint32_t)p[3] << 24 | (uint32_t)p[2] << 16 | (uint32_t)p[1] << 8 | p[0]; }
static uint16_t Le16(const uint8_t *p) { return (uint16_t)(p[1] << 8 | p[0]); }
static void PutLe32(uint8_t *p, uint32_t v)
{
    p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8), p[2] = (uint8_t)(v >> 16), p[3] = (uint8_t)(v >> 24);
}
static void PutLe16(uint8_t *p, uint16_t v) { p[0] = (uint8_t)v, p[1] = (uint8_t)(v >> 8); }

// ============================================================================
// Reading
// ============================================================================

// The decoder stores into a top-down pen buffer; the stream's first row is the bottom one.
int DecodeBmpRle(lvVFile *file, int width, int height, int64_t dataLength, uint8_t *pens)
{
    int rowBytes = (width + 3) & ~3;
    lvMemPtr<uint8_t> row = AllocBlock<uint8_t>((size_t)rowBytes, 1);
    if (!row) return 0;
    int y = height - 1;  // the pen row being filled; below 0 all rows are done
    int x = 0;
    bool dirty = false;  // the row buffer holds pens not stored yet
    int64_t consumed = 0;
    auto store = [&] {
        if (y >= 0) std::memcpy(pens + (size_t)y * width, row.get(), (size_t)width);
        std::memset(row.get(), 0, (size_t)rowBytes);
        dirty = false;
        x = 0;
    };
    auto next = [&]() -> int {
        if (consumed >= dataLength) return -1;
        consumed++;
        return ReadVFileByte(file);
    };
    auto put = [&](int pen) {
        if (x < width) row.get()[x] = (uint8_t)pen;
        x++;
        dirty = true;
    };
    while (y >= 0) {
        int n = next(), v = next();
        if (n < 0 || v < 0) break;
        if (n > 0) {
            for (int i = 0; i < n; i++) put(v);
        } else if (v == 0) {  // end of line
            store();
            y--;
        } else if (v == 1) {  // end of bitmap
            store();
            return 1;
        } else if (v == 2) {  // delta
            int dx = next(), dy = next();
            if (dx < 0 || dy < 0) break;
            if (dy > 0) {
                int keepX = x;
                store();
                y -= dy;  // rows between stay 0; past the top row decoding ends
                x = keepX;
            }
            x += dx;
        } else {  // absolute run of v pens and a pad byte when v is odd
            for (int i = 0; i < v; i++) {
                int pen = next();
                if (pen < 0) break;
                put(pen);
            }
            if (v & 1) next();
        }
    }
    if (dirty) store();
    return 1;
}

namespace {
// One colour channel of a 16- or 32-bit pixel word: its mask, where it starts and how
// many bits it has.
struct lvBmpChannel {
    uint32_t mask = 0;
    int shift = 0, width = 0;
};
}  // namespace

static lvBmpChannel BmpChannel(uint32_t mask)
{
    lvBmpChannel c;
    c.mask = mask;
    while (mask && !(mask & 1)) mask >>= 1, c.shift++;
    while (mask & 1) mask >>= 1, c.width++;
    return c;
}

// A channel as 8 bits: wider ones keep their top 8, narrower ones are scaled to 0..255.
static uint32_t BmpChannelValue(uint32_t word, const lvBmpChannel &c)
{
    if (!c.width) return 0;
    uint32_t v = (word & c.mask) >> c.shift;
    if (c.width >= 8) return v >> (c.width - 8) & 0xFF;
    return v * 255 / ((1u << c.width) - 1);
}

int ReadBmpFile(lvVFile *file, uint32_t flags, int *width, int *height, int *depth, uint8_t **pixels,
                uint32_t **palette)
{
    uint8_t header[66] = {};
    if (ReadVFile(file, header, 2) != 2) return ERR_READ;
    if (header[0] != 'B' || header[1] != 'M') return ERR_LOADPICTURE2;
    ReadVFile(file, header + 2, 64);
    uint32_t fileSize = Le32(header + 2), dataOffset = Le32(header + 10), headerSize = Le32(header + 14);
    int32_t w = (int32_t)Le32(header + 18), h = (int32_t)Le32(header + 22);
    int bits = Le16(header + 28);
    uint32_t compression = Le32(header + 30), coloursUsed = Le32(header + 46);
    if (flags & LV_IMGLOAD_SIZEONLY) {
        *width = w, *height = h, *depth = bits;
        return 0;
    }
    if (h <= 0 || w <= 0) return ERR_LOADPICTURE2;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return ERR_LOADPICTURE2;
    if (!ImagePixelsFit(w, h)) return ERR_MEM;
    bool paletteMode = flags & LV_IMGLOAD_PALETTE;
    if (paletteMode && bits > 8) return ERR_NOPALETTE;
    // The palette and the BITFIELDS masks follow the information header, whose size
    // grew from 40 bytes (V3) to 108 (V4) and 124 (V5); the V4 and V5 headers hold the masks.
    int64_t afterHeader = 14 + (int64_t)std::max<uint32_t>(std::min<uint32_t>(headerSize, 1u << 16), 40);

    // The palette: at most 2^bits entries, whatever the header claims.
    uint32_t colours[256] = {};
    if (bits <= 8) {
        uint32_t count = 1u << bits;
        if (coloursUsed && coloursUsed < count) count = coloursUsed;
        uint8_t entries[1024] = {};
        SeekVFile(file, afterHeader, 1);
        ReadVFile(file, entries, count * 4);
        for (uint32_t i = 0; i < count; i++)
            colours[i] = (uint32_t)entries[i * 4 + 2] << 16 | (uint32_t)entries[i * 4 + 1] << 8 | entries[i * 4];
    }
    // 16 bits without masks are 5-5-5; 32 bits are 8-8-8 with a byte left over.
    lvBmpChannel red = BmpChannel(bits == 16 ? 0x7C00 : 0xFF0000), green = BmpChannel(bits == 16 ? 0x03E0 : 0xFF00),
                 blue = BmpChannel(bits == 16 ? 0x001F : 0xFF);
    if ((bits == 16 || bits == 32) && (compression == 3 || compression == 6)) {
        uint8_t masks[12] = {};
        if (headerSize >= 52) std::memcpy(masks, header + 54, 12);
        else if (SeekVFile(file, 54, 1) < 0 || ReadVFile(file, masks, 12) != 12) return ERR_LOADPICTURE2;
        red = BmpChannel(Le32(masks)), green = BmpChannel(Le32(masks + 4)), blue = BmpChannel(Le32(masks + 8));
    }
    auto handPalette = [&]() -> int {
        if (bits > 8 || !(flags & (LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_PALETTEONLY)) || !palette) return 0;
        *palette = (uint32_t *)AllocMemory(1024, 0);
        if (!*palette) return ERR_MEM;
        std::memcpy(*palette, colours, 1024);
        return 0;
    };
    *width = w, *height = h, *depth = bits;
    if (paletteMode && (flags & LV_IMGLOAD_PALETTEONLY)) return handPalette();

    bool rle8 = bits == 8 && compression == 1;
    size_t rowBytes = bits == 32 ? (size_t)w * 4 : (((size_t)w * bits + 31) / 32) * 4;
    if (!rle8) {
        // Uncompressed rows must all be in the file (the last row's padding aside)
        // before the picture is allocated.
        int64_t fileLength = GetVFileSize(file);
        uint64_t need = (uint64_t)rowBytes * (uint64_t)(h - 1) + ((uint64_t)w * bits + 7) / 8;
        if (fileLength >= 0 && (fileLength < (int64_t)dataOffset || (uint64_t)(fileLength - dataOffset) < need))
            return ERR_LOADPICTURE2;
    }

    size_t count = (size_t)w * (size_t)h;
    lvMemPtr<uint32_t> argb;
    lvMemPtr<uint8_t> pens;
    if (!paletteMode && !(argb = AllocBlock<uint32_t>(count * 4, bits > 8))) return ERR_MEM;
    if (bits <= 8 && !(pens = AllocBlock<uint8_t>(count, 1))) return ERR_MEM;

    SeekVFile(file, dataOffset, 1);
    if (rle8) {
        int64_t dataLength = (int64_t)fileSize - (int64_t)dataOffset;
        if (!DecodeBmpRle(file, w, h, dataLength, pens.get())) return ERR_MEM;
    } else {
        lvMemPtr<uint8_t> row = AllocBlock<uint8_t>(rowBytes, 1);
        if (!row) return ERR_MEM;
        for (int y = h - 1; y >= 0; y--) {
            int64_t got = ReadVFile(file, row.get(), (int64_t)rowBytes);
            if (got <= 0) break;
            if (got < (int64_t)rowBytes) std::memset(row.get() + got, 0, rowBytes - (size_t)got);
            const uint8_t *in = row.get();
            if (bits <= 8) {
                uint8_t *out = pens.get() + (size_t)y * w;
                for (int x = 0; x < w; x++) {
                    if (bits == 8) out[x] = in[x];
                    else if (bits == 4) out[x] = (in[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
                    else out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
                }
            } else if (bits == 24) {
                uint32_t *out = argb.get() + (size_t)y * w;
                for (int x = 0; x < w; x++, in += 3) out[x] = (uint32_t)in[2] << 16 | (uint32_t)in[1] << 8 | in[0];
            } else {
                uint32_t *out = argb.get() + (size_t)y * w;
                for (int x = 0; x < w; x++) {
                    uint32_t word = bits == 16 ? Le16(in + x * 2) : Le32(in + x * 4);
                    out[x] = BmpChannelValue(word, red) << 16 | BmpChannelValue(word, green) << 8 | BmpChannelValue(word, blue);
                }
            }
        }
    }
    if (bits <= 8 && !paletteMode) {
        const uint8_t *in = pens.get();
        uint32_t *out = argb.get();
        for (size_t i = 0; i < count; i++) out[i] = colours[in[i]];
        pens.reset();
    }
    if (int code = handPalette()) return code;
    *pixels = paletteMode ? pens.release() : (uint8_t *)argb.release();
    return 0;
}

// ============================================================================
// Writing
// ============================================================================

void PackPixelRows(const uint8_t *pens, uint8_t *out, int count, int bits)
{
    if (bits == 8) {
        std::memcpy(out, pens, (size_t)count);
        return;
    }
    int perByte = 8 / bits, mask = (1 << bits) - 1;
    for (int i = 0; i < count; i++) {
        int shift = 8 - bits * (i % perByte + 1);
        if (i % perByte == 0) out[i / perByte] = 0;
        out[i / perByte] |= (uint8_t)((pens[i] & mask) << shift);
    }
}

int WriteBmpFile(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                 int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen)
{
    if (!ImagePixelsFit(width, height)) return ERR_MEM;
    int bits = !penPlane ? 24 : depth <= 1 ? 1 : depth <= 4 ? 4 : 8;
    int colours = bits == 24 ? 0 : 1 << bits;
    size_t rowBytes = (((size_t)width * bits + 31) / 32) * 4;
    lvMemPtr<uint8_t> row = AllocBlock<uint8_t>(rowBytes, 1);
    if (!row) return ERR_MEM;

    lvWrittenFile out;
    if (int code = out.Open(path, adapter, userTags)) return code;
    uint8_t header[54] = {'B', 'M'};
    PutLe32(header + 2, (uint32_t)(rowBytes * height + colours * 4 + 56));
    PutLe32(header + 10, (uint32_t)(colours * 4 + 54));
    PutLe32(header + 14, 40);
    PutLe32(header + 18, (uint32_t)width);
    PutLe32(header + 22, (uint32_t)height);
    PutLe16(header + 26, 1);
    PutLe16(header + 28, (uint16_t)bits);
    out.Write(header, 54);
    if (!out.error && SeekVFile(out.file, 0, 0) != 54) out.error = ERR_WRITE;

    if (bits <= 8) {
        uint8_t entries[1024] = {};
        for (int i = 0; i < colours; i++) {
            uint32_t c = palette ? palette[i] : 0;
            entries[i * 4] = (uint8_t)c, entries[i * 4 + 1] = (uint8_t)(c >> 8), entries[i * 4 + 2] = (uint8_t)(c >> 16);
        }
        out.Write(entries, colours * 4);
        uint8_t *plane = nullptr;
        int planeRowBytes = 0;
        uintptr_t token = GetPlanePixels(penPlane, &plane, &planeRowBytes, 0);
        if (!token) {
            out.Close();
            return ERR_LOCKBMAP;
        }
        for (int y = height - 1; y >= 0 && !out.error; y--) {
            std::memset(row.get(), 0, rowBytes);
            PackPixelRows(plane + (size_t)y * planeRowBytes, row.get(), width, bits);
            out.Write(row.get(), (int64_t)rowBytes);
        }
        ReleasePlanePixels(token);
    } else {
        for (int y = height - 1; y >= 0 && !out.error; y--) {
            const uint32_t *in = argb + (size_t)y * width;
            uint8_t *p = row.get();
            for (int x = 0; x < width; x++, p += 3) p[0] = (uint8_t)in[x], p[1] = (uint8_t)(in[x] >> 8), p[2] = (uint8_t)(in[x] >> 16);
            out.Write(row.get(), (int64_t)rowBytes);
        }
    }
    static const uint8_t tail[2] = {0, 0};
    out.Write(tail, 2);
    int code = out.Close();
    if (code) SetErrorStringArg(path);
    return code;
}
