// pixels.cpp - pixel formats, colour conversions, single-pixel access of
// locked bitmaps and the palette helpers (nearest pen, palette matching).
//
// Depends on: raster/lvbitmap.h, raster/lvraster.h.
// Limits: 15/16-bit channels widen by shifting, without bit replication.
#include <cstring>

#include "raster/lvbitmap.h"
#include "raster/lvraster.h"

// ---- Formats ----------------------------------------------------------------

int GetPixelFormatDepth(int format) {
    if (format >= 0 && format <= 3) return 15;
    if (format >= 4 && format <= 7) return 16;
    if (format == 8 || format == 9) return 24;
    if (format >= 10 && format <= 13) return 32;
    if (format == 14) return 8;
    return 0;
}

int GetPixelFormatBytes(int format) {
    if (format >= 0 && format <= 7) return 2;
    if (format == 8 || format == 9) return 3;
    if (format >= 10 && format <= 13) return 4;
    if (format == 14) return 1;
    return 0;
}

uint32_t ConvertColorForAdapter(uint32_t colour, int force) {
    bool realAlpha = RasterState.adapter && (RasterState.adapter->flags & ADAPTER_REALALPHA);
    if (!force && !realAlpha) return colour;
    return ((255u - (colour >> 24)) << 24) | (colour & 0xFFFFFFu);
}

// ---- Colour word <-> pixel --------------------------------------------------

static inline uint32_t Swap16(uint32_t v) { return ((v & 0xFF) << 8) | ((v >> 8) & 0xFF); }

uint32_t ArgbToPixel(uint32_t c, int format, int keepAlpha) {
    uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
    uint32_t a = keepAlpha ? (c >> 24) : 0;
    switch (format) {
    case PIXFMT_RGB15: return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case PIXFMT_BGR15: return ((b >> 3) << 10) | ((g >> 3) << 5) | (r >> 3);
    case PIXFMT_RGB15SWAP: return Swap16(((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3));
    case PIXFMT_BGR15SWAP: return Swap16(((b >> 3) << 10) | ((g >> 3) << 5) | (r >> 3));
    case PIXFMT_RGB16: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    case PIXFMT_BGR16: return ((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3);
    case PIXFMT_RGB16SWAP: return Swap16(((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3));
    case PIXFMT_BGR16SWAP: return Swap16(((b >> 3) << 11) | ((g >> 2) << 5) | (r >> 3));
    case PIXFMT_RGB24: return (r << 16) | (g << 8) | b;
    case PIXFMT_BGR24: return (b << 16) | (g << 8) | r;
    case PIXFMT_ARGB32: return (a << 24) | (r << 16) | (g << 8) | b;
    case PIXFMT_BGRA32: return (b << 24) | (g << 16) | (r << 8) | a;
    case PIXFMT_RGBA32: return (r << 24) | (g << 16) | (b << 8) | a;
    case PIXFMT_ABGR32: return (a << 24) | (b << 16) | (g << 8) | r;
    default: return 0;
    }
}

uint32_t PixelToArgb(uint32_t p, int format, int keepAlpha) {
    uint32_t r, g, b;
    if (format >= 0 && format <= 7) {
        // Bring every 15/16-bit layout to 5-6-5 first (a 5-bit green gets a 0 low bit).
        uint32_t v = p & 0xFFFF;
        if (format == 2 || format == 3 || format == 6 || format == 7) v = Swap16(v);
        uint32_t hi, mid, lo;
        if (format <= 3) {
            hi = (v >> 10) & 0x1F;
            mid = ((v >> 5) & 0x1F) << 1;
            lo = v & 0x1F;
        } else {
            hi = (v >> 11) & 0x1F;
            mid = (v >> 5) & 0x3F;
            lo = v & 0x1F;
        }
        bool bgr = format == 1 || format == 3 || format == 5 || format == 7;
        r = bgr ? lo : hi;
        b = bgr ? hi : lo;
        g = mid;
        return ((r << 3) << 16) | ((g << 2) << 8) | (b << 3);
    }
    if (format >= PIXFMT_ARGB32 && format <= PIXFMT_ABGR32) {
        uint32_t c = Pixel32ToArgb(format, p);
        if (format == PIXFMT_RGBA32) c |= (p & 0xFF) << 24;  // the low byte is its alpha
        return keepAlpha ? c : (c & 0xFFFFFFu);
    }
    return 0;
}

uint32_t ReadLockPixel(const lvBitMapLock *lock, int x, int y) {
    const uint8_t *p = lock->pixels + (static_cast<size_t>(y) * lock->rowLength + x) * lock->bytesPerPixel;
    switch (lock->bytesPerPixel) {
    case 2: return PixelToArgb(*reinterpret_cast<const uint16_t *>(p), lock->format, 0);
    case 3:
        if (lock->format == PIXFMT_RGB24) return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
        return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    case 4: return PixelToArgb(*reinterpret_cast<const uint32_t *>(p), lock->format, 0);
    default: return 0;
    }
}

void WriteLockPixel(lvBitMapLock *lock, uint32_t colour, int x, int y) {
    uint8_t *p = lock->pixels + (static_cast<size_t>(y) * lock->rowLength + x) * lock->bytesPerPixel;
    uint32_t v = ArgbToPixel(colour, lock->format, 0);
    switch (lock->bytesPerPixel) {
    case 2: *reinterpret_cast<uint16_t *>(p) = static_cast<uint16_t>(v); break;
    case 3:  // high byte first: RGB24 is stored R, G, B
        p[0] = static_cast<uint8_t>(v >> 16);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v);
        break;
    case 4: *reinterpret_cast<uint32_t *>(p) = v; break;
    default: break;
    }
}

// ---- Palettes ---------------------------------------------------------------

int FindNearestPen(uint32_t colour, const uint32_t *palette, int depth) {
    if (!palette || depth <= 0) return -1;
    int count = 1 << (depth > 8 ? 8 : depth);
    int r = (colour >> 16) & 0xFF, g = (colour >> 8) & 0xFF, b = colour & 0xFF;
    int best = -1, bestDistance = 196000;
    for (int i = 0; i < count; i++) {
        int dr = r - static_cast<int>((palette[i] >> 16) & 0xFF);
        int dg = g - static_cast<int>((palette[i] >> 8) & 0xFF);
        int db = b - static_cast<int>(palette[i] & 0xFF);
        int d = dr * dr + dg * dg + db * db;
        if (d == 0) return i;
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

int PalettesMatch(int paletteMode, const uint32_t *a, const uint32_t *b, int transparentPen) {
    if (paletteMode == PALETTEMODE_PEN) return transparentPen == -1;
    if (paletteMode == PALETTEMODE_REMAP) {
        if (a == b) return 1;
        if (!a || !b) return 0;
        return std::memcmp(a, b, 256 * sizeof(uint32_t)) == 0;
    }
    return 1;
}
