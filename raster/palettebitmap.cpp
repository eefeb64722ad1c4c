// palettebitmap.cpp - MakePaletteBitmap: a true-colour picture (RGB bitmap,
// pen plane or raw buffer) becomes a pen plane with its palette, or has its
// colours reduced in place, through the colour quantiser.
//
// Depends on: raster/lvquantize.h, raster/lvbitmap.h, platform/lvplatform.h.
// Limits: script thread only.
#include <algorithm>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvquantize.h"

namespace {

// Planes made or fetched by one call, released on every path.
struct lvConversionScratch {
    lvBitMapHandle *pens = nullptr;       // the new pen plane until handed out
    lvBitMapHandle *tempAlpha = nullptr;  // alpha of a raw 32-bit source
    uintptr_t pensToken = 0, sourcePensToken = 0;
    ~lvConversionScratch() {
        ReleasePlanePixels(pensToken);
        ReleasePlanePixels(sourcePensToken);
        FreeBitmapHandle(tempAlpha);
        FreeBitmapHandle(pens);
    }
};

// Rewrites every source pixel from its pen (reduction in place).
void RewriteFromPens(uint8_t *pixels, int format, int bytes, int rowLength, const uint8_t *pens, int penRow,
                     int width, int height, const uint32_t *palette, int count, bool keepAlphaByte) {
    uint32_t converted[256];
    for (int i = 0; i < 256; i++) converted[i] = i < count ? ArgbToPixel(palette[i], format, 0) : 0;
    for (int y = 0; y < height; y++) {
        uint8_t *row = pixels + static_cast<ptrdiff_t>(y) * rowLength * bytes;
        const uint8_t *p = pens + static_cast<ptrdiff_t>(y) * penRow;
        for (int x = 0; x < width; x++) {
            uint32_t v = converted[p[x]];
            uint8_t *d = row + x * bytes;
            switch (bytes) {
            case 2: *reinterpret_cast<uint16_t *>(d) = static_cast<uint16_t>(v); break;
            case 3:
                d[0] = static_cast<uint8_t>(v >> 16);
                d[1] = static_cast<uint8_t>(v >> 8);
                d[2] = static_cast<uint8_t>(v);
                break;
            case 4: {
                uint32_t *w = reinterpret_cast<uint32_t *>(d);
                *w = keepAlphaByte ? ((*w & 0xFF000000u) | (v & 0xFFFFFFu)) : v;
                break;
            }
            default: break;
            }
        }
    }
}

}  // namespace

int MakePaletteBitmap(lvPaletteConversion *request) {
    lvPaletteConversion &r = *request;
    if (r.rawPixels && r.rawDepth != 8 && r.rawDepth != 32) return ERR_WRONGUSAGE;
    if (r.width <= 0 || r.height <= 0) return ERR_WRONGUSAGE;
    if (!r.rawPixels && !r.sourcePens && !r.sourceRgb) return ERR_WRONGUSAGE;
    uint32_t palette[256] = {};
    if (r.palette) std::memcpy(palette, r.palette, sizeof(palette));
    lvConversionScratch s;
    if (!(s.pens = AllocChunkyBitmap(r.width, r.height, 1))) return ERR_ALLOCCHUNKY;

    const void *source = nullptr;
    int format = PIXFMT_ARGB32, bytes = 4, row = r.width;
    lvBitMapHandle *alpha = r.alpha;
    lvScopedLock rgb(r.rawPixels || r.sourcePens ? nullptr : r.sourceRgb, r.newPensOut ? LOCK_READONLY : 0);
    if (r.rawPixels && r.rawDepth == 8) {
        source = r.rawPixels;
        format = PIXFMT_CLUT8;
        bytes = 1;
    } else if (r.rawPixels) {
        source = r.rawPixels;
        // A buffer without a transparent word needs no alpha plane, and no pen is
        // set aside for transparency.
        const uint32_t *all = static_cast<const uint32_t *>(r.rawPixels);
        size_t n = static_cast<size_t>(r.width) * r.height, opaque = 0;
        while (opaque < n && (all[opaque] >> 24) == 0xFF) opaque++;
        if (opaque < n) {
            if (!(s.tempAlpha = AllocAlphaBitmap(r.width, r.height, 0, nullptr, 0))) return ERR_ALLOCALPHA;
            uint8_t *ap;
            int apRow;
            uintptr_t t = GetPlanePixels(s.tempAlpha, &ap, &apRow, 1);
            if (!t) return ERR_LOCKBMAP;
            const uint32_t *words = static_cast<const uint32_t *>(r.rawPixels);
            for (int y = 0; y < r.height; y++)
                for (int x = 0; x < r.width; x++)
                    ap[static_cast<ptrdiff_t>(y) * apRow + x] = static_cast<uint8_t>(words[static_cast<ptrdiff_t>(y) * r.width + x] >> 24);
            ReleasePlanePixels(t);
            alpha = s.tempAlpha;
        }
    } else if (r.sourcePens) {
        uint8_t *pp;
        int ppRow;
        if (!(s.sourcePensToken = GetPlanePixels(r.sourcePens, &pp, &ppRow, 0))) return ERR_LOCKBMAP;
        source = pp;
        format = PIXFMT_CLUT8;
        bytes = 1;
        row = ppRow;
    } else {
        if (!rgb) return ERR_LOCKBMAP;
        if (rgb.lock.width < r.width || rgb.lock.height < r.height) return ERR_WRONGUSAGE;
        source = rgb.lock.pixels;
        format = rgb.lock.format;
        bytes = rgb.lock.bytesPerPixel;
        row = rgb.lock.rowLength;
    }
    int flags = (r.dither ? QUANT_DITHER : 0) | (r.palette ? QUANT_REMAP : 0) | (r.keepPalette ? QUANT_KEEPPALETTE : 0) |
                (r.reservePen ? QUANT_RESERVE : 0);
    uint8_t *pens;
    int penRow;
    if (!(s.pensToken = GetPlanePixels(s.pens, &pens, &penRow, 1))) return ERR_LOCKBMAP;
    int count = std::clamp(r.colourCount, 1, 256);
    int transparentPen = -1;
    const uint32_t *sourcePalette = bytes == 1 ? r.sourcePalette : nullptr;
    int sourcePen = bytes == 1 ? r.sourceTransparentPen : -1;
    // The quantiser reports only done or not: a plane it cannot have is told apart here.
    for (lvBitMapHandle *plane : {r.mask, alpha}) {
        uint8_t *pp;
        int pr;
        uintptr_t t = plane ? GetPlanePixels(plane, &pp, &pr, 0) : 1;
        if (!t) return ERR_LOCKBMAP;
        if (plane) ReleasePlanePixels(t);
    }
    if (!RemapToPalette(source, sourcePalette, sourcePen, format, bytes, 0, 0, pens, 0, 0, r.width, r.height, row,
                        penRow, palette, r.wantedTransparentPen, r.mask, alpha, &count, r.value, flags,
                        &transparentPen, r.alphaThreshold))
        return ERR_MEM;
    uint32_t *copy = nullptr;
    if (r.paletteCopyOut) {
        if (!(copy = static_cast<uint32_t *>(AllocMemory(sizeof(palette), 0)))) return ERR_MEM;
        std::memcpy(copy, palette, sizeof(palette));
    }
    if (!r.newPensOut) {
        if (r.rawPixels && r.rawDepth == 32)
            RewriteFromPens(static_cast<uint8_t *>(r.rawPixels), PIXFMT_ARGB32, 4, r.width, pens, penRow, r.width,
                            r.height, palette, count, true);
        else if (rgb)
            RewriteFromPens(rgb.lock.pixels, format, bytes, row, pens, penRow, r.width, r.height, palette, count,
                            false);
    }
    ReleasePlanePixels(s.pensToken);
    s.pensToken = 0;
    if (r.newPensOut) {
        *r.newPensOut = s.pens;
        s.pens = nullptr;
    }
    if (r.paletteCopyOut) *r.paletteCopyOut = copy;
    if (r.transparentPenOut) *r.transparentPenOut = transparentPen;
    r.colourCount = count;
    return 0;
}
