// ilbm.cpp - IFF ILBM and PBM pictures: the chunk walk, BODY decoding (plain and
// ByteRun1), planes to pens, HAM6/HAM8, extra half-brite, the transparency handling
// of the loader, colour-cycling ranges, and the ILBM writer.
//
// Dependencies: runtime/vfile.h, raster/lvbitmap.h (pen planes), raster/lvinit.h
// (BitsForColorCount).
// Limits: 1..8 and 24 planes; other plane counts are refused as unsupported.
#include "formats/lvilbm.h"
#include "formats/formats_internal.h"
#include "raster/lvbitmap.h"
#include "raster/lvinit.h"
#include <algorithm>
#include <cstring>

static uint32_t Be32(const uint8_t *p) { return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3]; }
static int Be16(const uint8_t *p) { return p[0] << 8 | p[1]; }
static void PutBe32(uint8_t *p, uint32_t v) { p[0] = (uint8_t)(v >> 24), p[1] = (uint8_t)(v >> 16), p[2] = (uint8_t)(v >> 8), p[3] = (uint8_t)v; }
static void PutBe16(uint8_t *p, int v) { p[0] = (uint8_t)(v >> 8), p[1] = (uint8_t)v; }

// ============================================================================
// BODY decoding
// ============================================================================

bool UnpackByteRun1(const uint8_t **source, const uint8_t *end, uint8_t *out, size_t count)
{
    const uint8_t *in = *source;
    size_t at = 0;
    while (at < count) {
        if (in >= end) return false;
        int n = *in++;
        if (n < 128) {
            size_t len = (size_t)n + 1;
            if ((size_t)(end - in) < len) return false;
            size_t keep = std::min(len, count - at);
            std::memcpy(out + at, in, keep);
            in += len, at += keep;
        } else if (n > 128) {
            if (in >= end) return false;
            size_t len = (size_t)(257 - n), keep = std::min(len, count - at);
            std::memset(out + at, *in++, keep);
            at += keep;
        }
    }
    *source = in;
    return true;
}

static uint8_t *PlaneRow(uint8_t *planes, const lvIlbmLayout &l, int plane, int y)
{
    return planes + ((size_t)plane * l.height + y) * IlbmRowBytes(l.width);
}

bool ReadIlbmBody(const uint8_t *body, size_t length, const lvIlbmLayout &l, uint8_t *out)
{
    const uint8_t *in = body, *end = body + length;
    if (l.pbm) {
        size_t stride = (size_t)l.width + (l.width & 1);
        for (int y = 0; y < l.height; y++, in += stride) {
            if ((size_t)(end - in) < (size_t)l.width) return false;
            std::memcpy(out + (size_t)y * l.width, in, (size_t)l.width);
            if ((size_t)(end - in) < stride) in = end - stride;  // a missing last pad byte is no loss
        }
        return true;
    }
    size_t rowBytes = (size_t)IlbmRowBytes(l.width);
    for (int y = 0; y < l.height; y++) {
        for (int k = 0; k < l.planes + (l.masking == 1); k++, in += rowBytes) {
            if ((size_t)(end - in) < rowBytes) return false;
            if (k < l.planes) std::memcpy(PlaneRow(out, l, k, y), in, rowBytes);
        }
    }
    return true;
}

bool UnpackByteRun1Body(const uint8_t *body, size_t length, const lvIlbmLayout &l, uint8_t *out)
{
    const uint8_t *in = body, *end = body + length;
    if (l.pbm) {
        size_t even = (size_t)l.width + (l.width & 1);
        lvMemPtr<uint8_t> row = AllocBlock<uint8_t>(even, 0);
        if (!row) return false;
        for (int y = 0; y < l.height; y++) {
            if (!UnpackByteRun1(&in, end, row.get(), even)) return false;
            std::memcpy(out + (size_t)y * l.width, row.get(), (size_t)l.width);
        }
        return true;
    }
    size_t rowBytes = (size_t)IlbmRowBytes(l.width);
    lvMemPtr<uint8_t> mask = AllocBlock<uint8_t>(rowBytes, 0);
    if (!mask) return false;
    for (int y = 0; y < l.height; y++)
        for (int k = 0; k < l.planes + (l.masking == 1); k++)
            if (!UnpackByteRun1(&in, end, k < l.planes ? PlaneRow(out, l, k, y) : mask.get(), rowBytes)) return false;
    return true;
}

bool UnpackByteRun1Deep(const uint8_t *body, size_t length, const lvIlbmLayout &l, uint8_t *out)
{
    const uint8_t *in = body, *end = body + length;
    size_t rowBytes = (size_t)IlbmRowBytes(l.width);
    // A mask plane's row follows the 24 colour rows of each line and is passed over.
    size_t lineBytes = rowBytes * (24 + (l.masking == 1));
    lvMemPtr<uint8_t> row = AllocBlock<uint8_t>(lineBytes, 0);
    if (!row) return false;
    for (int y = 0; y < l.height; y++) {
        if (!UnpackByteRun1(&in, end, row.get(), lineBytes)) return false;
        for (int k = 0; k < 24; k++) std::memcpy(PlaneRow(out, l, k, y), row.get() + k * rowBytes, rowBytes);
    }
    return true;
}

// ============================================================================
// Planes, pens and colours
// ============================================================================

void PlanesToPens(const uint8_t *planes, int width, int height, int planeCount, void *out)
{
    size_t rowBytes = (size_t)IlbmRowBytes(width), planeBytes = rowBytes * height;
    for (int y = 0; y < height; y++) {
        const uint8_t *row = planes + (size_t)y * rowBytes;
        if (planeCount <= 8) {
            uint8_t *pens = (uint8_t *)out + (size_t)y * width;
            std::memset(pens, 0, (size_t)width);
            for (int k = 0; k < planeCount; k++) {
                const uint8_t *p = row + k * planeBytes;
                for (int x = 0; x < width; x++)
                    pens[x] |= (uint8_t)(((p[x >> 3] >> (7 - (x & 7))) & 1) << k);
            }
        } else {
            uint32_t *words = (uint32_t *)out + (size_t)y * width;
            std::memset(words, 0, (size_t)width * 4);
            for (int k = 0; k < 24; k++) {
                const uint8_t *p = row + k * planeBytes;
                // planes 0-7 red (bits 16-23 of the word), 8-15 green, 16-23 blue
                int shift = k < 8 ? 16 + k : k < 16 ? k : k - 16;
                for (int x = 0; x < width; x++) words[x] |= (uint32_t)((p[x >> 3] >> (7 - (x & 7))) & 1) << shift;
            }
        }
    }
}

void PensToArgb(const uint8_t *pens, size_t count, const uint32_t *palette, uint32_t *out)
{
    for (size_t i = 0; i < count; i++) out[i] = palette[pens[i]];
}

void DecodeHam6(const uint8_t *pens, int width, const uint32_t *palette, uint32_t *out)
{
    uint32_t colour = 0;
    for (int x = 0; x < width; x++) {
        int pen = pens[x], value = (pen & 15) << 4;
        switch (pen >> 4 & 3) {
        case 0: colour = palette[pen & 15]; break;
        case 1: colour = (colour & 0xFFFF00) | (uint32_t)value; break;
        case 2: colour = (colour & 0x00FFFF) | (uint32_t)value << 16; break;
        case 3: colour = (colour & 0xFF00FF) | (uint32_t)value << 8; break;
        }
        out[x] = colour;
    }
}

void DecodeHam8(const uint8_t *pens, int width, const uint32_t *palette, uint32_t *out)
{
    uint32_t colour = 0;
    for (int x = 0; x < width; x++) {
        int pen = pens[x], value = (pen & 63) << 2;
        switch (pen >> 6) {
        case 0: colour = palette[pen & 63]; break;
        case 1: colour = (colour & 0xFFFF00) | (uint32_t)value; break;
        case 2: colour = (colour & 0x00FFFF) | (uint32_t)value << 16; break;
        case 3: colour = (colour & 0xFF00FF) | (uint32_t)value << 8; break;
        }
        out[x] = colour;
    }
}

// ============================================================================
// Reading
// ============================================================================

namespace {
struct IlbmHeader {
    bool seen = false;
    int width = 0, height = 0, planes = 0, masking = 0, compression = 0, transparent = 0;
};
}  // namespace

// The BODY chunk's bytes, as many of length as the file holds.
static uint8_t *ReadChunkData(lvVFile *file, uint32_t length, size_t *got)
{
    size_t size = std::min<size_t>(length, 1 << 20), used = 0;
    uint8_t *data = (uint8_t *)AllocMemory(size ? size : 1, 0);
    while (data && used < length) {
        if (used == size) {
            size_t grown = std::min<size_t>((size_t)length, size * 2);
            uint8_t *bigger = (uint8_t *)AllocMemory(grown, 0);
            if (bigger) std::memcpy(bigger, data, used);
            FreeMemory(data);
            data = bigger, size = grown;
            if (!data) break;
        }
        int64_t n = ReadVFile(file, data + used, (int64_t)(size - used));
        if (n <= 0) break;
        used += (size_t)n;
    }
    *got = used;
    return data;
}

int ReadIlbmFile(lvVFile *file, uint32_t flags, int isPbm, const uint32_t *callerPalette, int64_t transparentColor,
                 int *transparentPen, int *width, int *height, int *depth, uint8_t **pixels, uint32_t **palette,
                 lvCycleRange *ranges, int *rangeCount)
{
    *pixels = nullptr;
    if (palette) *palette = nullptr;
    *transparentPen = -1;
    if (rangeCount) *rangeCount = 0;
    uint8_t form[12];
    SeekVFile(file, 0, 1);
    if (ReadVFile(file, form, 12) != 12 || std::memcmp(form, "FORM", 4) != 0) return ERR_LOADPICTURE2;
    IlbmHeader bmhd;
    uint32_t colours[256] = {};
    int cmapEntries = 0;
    uint32_t camg = 0;
    bool body = false;
    uint32_t bodyLength = 0;
    int ranged = 0;
    for (;;) {
        uint8_t chunk[8];
        if (ReadVFile(file, chunk, 8) != 8) break;
        uint32_t length = Be32(chunk + 4);
        int64_t next = SeekVFile(file, 0, 0) + length + (length & 1);
        if (std::memcmp(chunk, "BODY", 4) == 0) {
            body = true, bodyLength = length;
            break;
        }
        uint8_t data[20] = {};
        if (std::memcmp(chunk, "BMHD", 4) == 0) {
            if (ReadVFile(file, data, std::min<uint32_t>(length, 20)) < 12) return ERR_LOADPICTURE2;
            bmhd.seen = true;
            bmhd.width = Be16(data), bmhd.height = Be16(data + 2);
            bmhd.planes = data[8], bmhd.masking = data[9], bmhd.compression = data[10];
            bmhd.transparent = Be16(data + 12);
        } else if (std::memcmp(chunk, "CMAP", 4) == 0) {
            int n = (int)std::min<uint32_t>(length / 3, 256);
            uint8_t rgb[768];
            int got = (int)ReadVFile(file, rgb, n * 3) / 3;
            for (int i = 0; i < got; i++) colours[i] = (uint32_t)rgb[i * 3] << 16 | (uint32_t)rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2];
            cmapEntries = got;
        } else if (std::memcmp(chunk, "CAMG", 4) == 0) {
            if (length >= 4 && ReadVFile(file, data, 4) == 4) camg = Be32(data);
        } else if (std::memcmp(chunk, "CRNG", 4) == 0 && ranges) {
            if (ranged == 128) return ERR_LOADPICTURE2;
            if (length >= 8 && ReadVFile(file, data, 8) == 8) {
                lvCycleRange &r = ranges[ranged++];
                r.rate = (uint16_t)Be16(data + 2), r.flags = (uint16_t)Be16(data + 4);
                r.low = data[6], r.high = data[7];
                if (rangeCount) *rangeCount = ranged;
            }
        }
        if (SeekVFile(file, next, 1) < 0) break;
    }
    bool paletteOnly = flags & LV_IMGLOAD_PALETTEONLY;
    if (!body && !(paletteOnly && cmapEntries)) return ERR_LOADPICTURE2;
    bool ham = !isPbm && (camg & 0x800);
    int planes = bmhd.planes;
    int reportedDepth = planes > 23 || ham ? 24 : planes;
    if (!bmhd.seen && paletteOnly) reportedDepth = BitsForColorCount(cmapEntries);
    *width = bmhd.width, *height = bmhd.height, *depth = reportedDepth;
    // A transparent colour is a pen only when the picture has such a pen.
    int penLimit = planes >= 1 && planes <= 8 ? 1 << planes : 0;
    int keyPen = bmhd.transparent < penLimit ? bmhd.transparent : -1;
    if (flags & LV_IMGLOAD_SIZEONLY) return bmhd.seen ? 0 : ERR_LOADPICTURE2;

    if (!ham && (camg & 0x80))
        for (int i = 0; i < 32; i++) colours[32 + i] = (colours[i] >> 1) & 0x7F7F7F;
    if (callerPalette)
        for (int i = 0; i < 256 && callerPalette[i] != 0xFFFFFFFFu; i++) colours[i] = callerPalette[i] & 0xFFFFFF;
    bool paletteMode = flags & LV_IMGLOAD_PALETTE;
    auto handPalette = [&]() -> int {
        if (!palette || reportedDepth > 8 || !(flags & (LV_IMGLOAD_COPYPALETTE | LV_IMGLOAD_PALETTEONLY))) return 0;
        *palette = (uint32_t *)AllocMemory(1024, 0);
        if (!*palette) return ERR_MEM;
        std::memcpy(*palette, colours, 1024);
        return 0;
    };
    if (paletteMode || paletteOnly) {
        if (reportedDepth > 8) return ERR_NOPALETTE;
        if (bmhd.masking == 2 && (flags & LV_IMGLOAD_TRANSPEN)) *transparentPen = keyPen;
        if (paletteOnly) return handPalette();
    }
    // Only 1..8 planes (or 8 chunky) and 24 planes hold pixels this reader knows.
    bool deep = !isPbm && planes == 24;
    if (!bmhd.seen || (!deep && (planes < 1 || planes > 8)))
        return ERR_LOADPICTURE2;
    if (!ImagePixelsFit(bmhd.width, bmhd.height)) return bmhd.width && bmhd.height ? ERR_MEM : ERR_LOADPICTURE2;
    int w = bmhd.width, h = bmhd.height;
    size_t count = (size_t)w * h;
    lvIlbmLayout layout = {w, h, deep ? 24 : planes, bmhd.masking, isPbm};

    size_t bodyBytes = 0;
    lvMemPtr<uint8_t> bodyData(ReadChunkData(file, bodyLength, &bodyBytes));
    if (!bodyData) return ERR_MEM;
    // A body that cannot hold the declared picture is refused before the picture is
    // allocated: plain rows are there byte for byte (a PBM may lack its last pad byte),
    // and ByteRun1 makes at most 128 bytes of every 2 it reads.
    size_t plain = isPbm ? ((size_t)w + (w & 1)) * (h - 1) + w
                         : (size_t)IlbmRowBytes(w) * h * (layout.planes + (bmhd.masking == 1));
    if (bodyBytes < (bmhd.compression ? plain / 64 : plain)) return ERR_LOADPICTURE2;
    lvMemPtr<uint8_t> planeData;
    lvMemPtr<uint8_t> pens = AllocBlock<uint8_t>(deep ? 1 : count, 1);
    lvMemPtr<uint32_t> argb;
    if (!paletteMode) {
        argb = AllocBlock<uint32_t>(count * 4, 0);
        if (!argb) return ERR_MEM;
    }
    if (!pens) return ERR_MEM;
    bool ok;
    if (isPbm) {
        ok = bmhd.compression ? UnpackByteRun1Body(bodyData.get(), bodyBytes, layout, pens.get())
                              : ReadIlbmBody(bodyData.get(), bodyBytes, layout, pens.get());
    } else {
        planeData = AllocBlock<uint8_t>((size_t)IlbmRowBytes(w) * h * layout.planes, 1);
        if (!planeData) return ERR_MEM;
        if (!bmhd.compression) ok = ReadIlbmBody(bodyData.get(), bodyBytes, layout, planeData.get());
        else if (deep) ok = UnpackByteRun1Deep(bodyData.get(), bodyBytes, layout, planeData.get());
        else ok = UnpackByteRun1Body(bodyData.get(), bodyBytes, layout, planeData.get());
        if (ok) PlanesToPens(planeData.get(), w, h, layout.planes, deep ? (void *)argb.get() : pens.get());
    }
    if (!ok) return ERR_LOADPICTURE2;
    bodyData.reset();
    planeData.reset();

    if (!paletteMode && !deep) {
        if (ham) {
            for (int y = 0; y < h; y++)
                (planes > 6 ? DecodeHam8 : DecodeHam6)(pens.get() + (size_t)y * w, w, colours, argb.get() + (size_t)y * w);
        } else {
            if (!callerPalette && (transparentColor != -1 || (flags & (LV_IMGLOAD_ILBMTRANSPARENCY | LV_IMGLOAD_TRANSPEN))) &&
                keyPen >= 0) {
                if (planes == 1 && !(flags & LV_IMGLOAD_TRANSPEN)) {
                    // A one-plane stencil: its key pen's colour marks transparency and the
                    // other pen takes the caller's colour.
                    *transparentPen = (int)colours[keyPen];
                    if (transparentColor != -1) colours[1 - keyPen] = (uint32_t)transparentColor & 0xFFFFFF;
                } else if ((bmhd.masking == 2 || planes == 1) &&
                           (flags & (LV_IMGLOAD_TRANSPEN | LV_IMGLOAD_ILBMTRANSPARENCY))) {
                    // A colour key no pen shows, from 0xA8A8A8 upwards.
                    uint32_t key = 0xA8A8A8;
                    for (bool taken = true; taken && key <= 0xFFFFFF;) {
                        taken = false;
                        for (int i = 0; i < penLimit; i++)
                            if (colours[i] == key) {
                                taken = true, key += 15;
                                break;
                            }
                    }
                    colours[keyPen] = key;
                    *transparentPen = (int)key;
                }
            }
            PensToArgb(pens.get(), count, colours, argb.get());
        }
    }
    if (int code = handPalette()) return code;
    *pixels = paletteMode ? pens.release() : (uint8_t *)argb.release();
    return 0;
}

// ============================================================================
// Writing
// ============================================================================

size_t PackByteRun1Row(const uint8_t *row, size_t count, uint8_t *out)
{
    size_t o = 0, literalStart = 0, literal = 0, i = 0;
    auto flushLiteral = [&] {
        if (!literal) return;
        out[o++] = (uint8_t)(literal - 1);
        std::memcpy(out + o, row + literalStart, literal);
        o += literal, literal = 0;
    };
    while (i < count) {
        size_t run = 1;
        while (i + run < count && run < 128 && row[i + run] == row[i]) run++;
        if (run >= 3 || (run == 2 && literal == 0)) {
            flushLiteral();
            out[o++] = (uint8_t)(1 - (int)run);
            out[o++] = row[i];
            i += run;
            continue;
        }
        if (!literal) literalStart = i;
        literal++, i++;
        if (literal == 128) flushLiteral();
    }
    flushLiteral();
    return o;
}

void PensToPlanes(const uint8_t *pens, int penRowBytes, int width, int height, int planeCount, uint8_t *planes)
{
    size_t rowBytes = (size_t)IlbmRowBytes(width);
    std::memset(planes, 0, rowBytes * height * planeCount);
    for (int k = 0; k < planeCount; k++)
        for (int y = 0; y < height; y++) {
            uint8_t *out = planes + ((size_t)k * height + y) * rowBytes;
            const uint8_t *in = pens + (size_t)y * penRowBytes;
            for (int x = 0; x < width; x++)
                if (in[x] >> k & 1) out[x >> 3] |= (uint8_t)(0x80 >> (x & 7));
        }
}

void ArgbToPlanes(const uint32_t *argb, int width, int height, uint8_t *planes)
{
    size_t rowBytes = (size_t)IlbmRowBytes(width);
    std::memset(planes, 0, rowBytes * height * 24);
    for (int k = 0; k < 24; k++) {
        int shift = k < 8 ? 16 + k : k < 16 ? k : k - 16;
        for (int y = 0; y < height; y++) {
            uint8_t *out = planes + ((size_t)k * height + y) * rowBytes;
            const uint32_t *in = argb + (size_t)y * width;
            for (int x = 0; x < width; x++)
                if (in[x] >> shift & 1) out[x >> 3] |= (uint8_t)(0x80 >> (x & 7));
        }
    }
}

int WriteIlbmBody(lvWrittenFile *out, const uint8_t *planes, int width, int height, int planeCount, int64_t *size)
{
    size_t rowBytes = (size_t)IlbmRowBytes(width);
    lvMemPtr<uint8_t> packed = AllocBlock<uint8_t>(rowBytes + rowBytes / 128 + 2, 0);
    if (!packed) return ERR_MEM;
    *size = 0;
    for (int y = 0; y < height && !out->error; y++)
        for (int k = 0; k < planeCount && !out->error; k++) {
            size_t n = PackByteRun1Row(planes + ((size_t)k * height + y) * rowBytes, rowBytes, packed.get());
            out->Write(packed.get(), (int64_t)n);
            *size += (int64_t)n;
        }
    return out->error;
}

int WriteIlbmFile(const char *path, const char *adapter, const void *userTags, const uint32_t *argb, int width,
                  int height, lvBitMapHandle *penPlane, const uint32_t *palette, int depth, int transparentPen)
{
    if (!ImagePixelsFit(width, height) || width > 65535 || height > 65535) return ERR_MEM;
    int planes = penPlane ? std::clamp(depth, 1, 8) : 24;
    lvMemPtr<uint8_t> planeData = AllocBlock<uint8_t>((size_t)IlbmRowBytes(width) * height * planes, 1);
    if (!planeData) return ERR_MEM;
    if (penPlane && (penPlane->width < width || penPlane->height < height)) return ERR_WRONGUSAGE;
    if (!penPlane && !argb) return ERR_WRONGUSAGE;
    if (penPlane) {
        uint8_t *pens = nullptr;
        int rowBytes = 0;
        uintptr_t token = GetPlanePixels(penPlane, &pens, &rowBytes, 0);
        if (!token) return ERR_LOCKBMAP;
        PensToPlanes(pens, rowBytes, width, height, planes, planeData.get());
        ReleasePlanePixels(token);
    } else {
        ArgbToPlanes(argb, width, height, planeData.get());
    }

    lvWrittenFile out;
    if (int code = out.Open(path, adapter, userTags)) return code;
    uint8_t header[48] = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'I', 'L', 'B', 'M', 'B', 'M', 'H', 'D', 0, 0, 0, 20};
    uint8_t *bmhd = header + 20;
    PutBe16(bmhd, width), PutBe16(bmhd + 2, height);
    bmhd[8] = (uint8_t)planes;
    bmhd[9] = transparentPen >= 0 ? 2 : 0;
    bmhd[10] = 1;
    PutBe16(bmhd + 12, transparentPen >= 0 ? transparentPen : 0);
    bmhd[14] = 1, bmhd[15] = 1;
    PutBe16(bmhd + 16, width), PutBe16(bmhd + 18, height);
    out.Write(header, 40);
    if (penPlane) {
        int colours = 1 << planes;
        uint8_t cmap[8 + 768] = {'C', 'M', 'A', 'P'};
        PutBe32(cmap + 4, (uint32_t)(3 * colours));
        for (int i = 0; i < colours; i++) {
            uint32_t c = palette ? palette[i] : 0;
            cmap[8 + i * 3] = (uint8_t)(c >> 16), cmap[9 + i * 3] = (uint8_t)(c >> 8), cmap[10 + i * 3] = (uint8_t)c;
        }
        out.Write(cmap, 8 + 3 * colours);
    }
    int64_t bodyAt = SeekVFile(out.file, 0, 0);
    static const uint8_t bodyHead[8] = {'B', 'O', 'D', 'Y', 0, 0, 0, 0};
    out.Write(bodyHead, 8);
    int64_t bodySize = 0;
    int code = WriteIlbmBody(&out, planeData.get(), width, height, planes, &bodySize);
    if (code == ERR_MEM) return code;
    if (bodySize & 1) {
        uint8_t pad = 0;
        out.Write(&pad, 1);
    }
    int64_t end = SeekVFile(out.file, 0, 0);
    uint8_t size[4];
    PutBe32(size, (uint32_t)bodySize);
    if (!out.error && (SeekVFile(out.file, bodyAt + 4, 1) < 0)) out.error = ERR_WRITE;
    out.Write(size, 4);
    PutBe32(size, (uint32_t)(end - 8));
    if (!out.error && SeekVFile(out.file, 4, 1) < 0) out.error = ERR_WRITE;
    out.Write(size, 4);
    code = out.Close();
    if (code) SetErrorStringArg(path);
    return code;
}
