// image.cpp - picture sets: bitmaps from ARGB buffers and video bitmaps,
// duplicates, conversions, read-back, tiles, texture fills, visible bounds.
//
// Depends on: raster/lvimage.h, raster/lvplanes.h, raster/lvraster.h,
// raster/lvscale.h, raster/lvneighbours.h (brushes of texture fills).
// Limits: script thread only; outputs are written only on success.
#include "raster/lvimage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvdrawtags.h"
#include "raster/lvneighbours.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster/lvscale.h"
#include "base/lverrors.h"

lvBitMapHandle *WrapVideoBitmap(int width, int height, void *backing, int aux) {
    if (!backing) return nullptr;
    lvBitMapHandle *h = static_cast<lvBitMapHandle *>(AllocMemory(sizeof(lvBitMapHandle), 1));
    if (!h) {
        RasterState.adapter->FreeVideoBitMap(backing);
        return nullptr;
    }
    h->kind = BMKIND_RGB;
    h->width = width;
    h->height = height;
    h->video = 1;
    h->aux = aux;
    h->backing = backing;
    return h;
}

// ---- ARGB buffers to bitmaps ------------------------------------------------

int CreateVideoBitmapFromArgb(const uint32_t *argb, int64_t transparentColour, int width, int height, int rowLength,
                              int flags, void *display, lvBitMapHandle **rgb, lvBitMapHandle **alpha, int *fallback) {
    if (fallback) *fallback = 0;
    if (!AdapterMakesVideoBitmaps() || !argb || width <= 0 || height <= 0) return ERR_BITMAP;
    lvBitMapHandle *givenAlpha = alpha ? *alpha : nullptr;
    bool asIs = (flags & (ARGBF_TRANSPARENCY | ARGBF_ALPHA | ARGBF_KEEPBUFFER)) && rowLength == width;
    uint32_t *copy = nullptr;
    if (!asIs) {
        copy = static_cast<uint32_t *>(AllocMemory(static_cast<size_t>(width) * height * 4, 0));
        if (!copy) return ERR_MEM;
        uint8_t *ap = nullptr;
        int arow = 0;
        uintptr_t token = givenAlpha ? GetPlanePixels(givenAlpha, &ap, &arow, 0) : 0;
        uint32_t key = static_cast<uint32_t>(transparentColour) & 0xFFFFFFu;
        for (int y = 0; y < height; y++) {
            const uint32_t *s = argb + static_cast<size_t>(y) * rowLength;
            uint32_t *d = copy + static_cast<size_t>(y) * width;
            for (int x = 0; x < width; x++) {
                uint32_t c = s[x] & 0xFFFFFFu;
                if (token) d[x] = c | (static_cast<uint32_t>(ap[static_cast<size_t>(y) * arow + x]) << 24);
                else if (transparentColour == -1) d[x] = c | 0xFF000000u;
                else d[x] = c == key ? c : c | 0xFF000000u;
            }
        }
        if (token) ReleasePlanePixels(token);
    }
    int videoFlags = BMF_VIDEO;
    if (givenAlpha || transparentColour != -1 || (flags & (ARGBF_TRANSPARENCY | ARGBF_ALPHA))) videoFlags |= 1;
    if (flags & BMF_PASSON) videoFlags |= BMF_PASSON;
    lvVideoSource source{};
    source.argb = copy ? copy : argb;
    source.rawPixels = 1;
    source.sourceWidth = width;
    source.sourceHeight = height;
    source.window = display;
    int aux = 0;
    void *video = CreateVideoBitmapHandle(width, height, videoFlags, &aux, &source);
    FreeMemory(copy);
    if (!video) {
        if ((RasterState.adapter->flags & ADAPTER_VIDEOFALLBACK) && fallback) *fallback = 1;
        return ERR_BITMAP;
    }
    lvBitMapHandle *h = WrapVideoBitmap(width, height, video, aux);
    if (!h) return ERR_MEM;
    *rgb = h;
    if (givenAlpha) {
        // The video bitmap carries the alpha now.
        FreeBitmapHandle(givenAlpha);
        *alpha = nullptr;
    }
    return 0;
}

namespace {

// Sets every mask bit whose pixel's 24-bit colour differs from the key.
int SetMaskFromColourKey(lvBitMapHandle *mask, const uint32_t *argb, int width, int height, int rowLength,
                         uint32_t key) {
    uint8_t *p;
    int row;
    uintptr_t token = GetPlanePixels(mask, &p, &row, 1);
    if (!token) return ERR_LOCKBMAP;
    key &= 0xFFFFFFu;
    for (int y = 0; y < height; y++) {
        const uint32_t *s = argb + static_cast<size_t>(y) * rowLength;
        uint8_t *d = p + static_cast<size_t>(y) * row;
        for (int x = 0; x < width; x++)
            if ((s[x] & 0xFFFFFFu) != key) d[x >> 3] = static_cast<uint8_t>(d[x >> 3] | (0x80 >> (x & 7)));
    }
    ReleasePlanePixels(token);
    return 0;
}

}  // namespace

int BitmapFromArgb(const uint32_t *argb, int64_t transparentColour, int width, int height, int rowLength,
                   int videoWanted, int flags, void *display, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                   lvBitMapHandle **alpha) {
    if (!argb || width <= 0 || height <= 0 || rowLength < width) return ERR_WRONGUSAGE;
    if (videoWanted && AdapterMakesVideoBitmaps()) {
        int fallback = 0;
        lvBitMapHandle *video = nullptr;
        int rc = CreateVideoBitmapFromArgb(argb, transparentColour, width, height, rowLength, flags, display, &video,
                                           alpha, &fallback);
        if (!rc) {
            *rgb = video;
            if (mask) *mask = nullptr;
            return 0;
        }
        if (!fallback) return rc;
    }
    lvBitMapHandle *newRgb = AllocRgbBitmap(width, height, 0, nullptr);
    if (!newRgb) return ERR_BITMAP;
    WriteArgbToBitmap(argb, 0, 0, rowLength * 4, newRgb, 0, 0, width, height);
    lvBitMapHandle *newMask = nullptr, *newAlpha = nullptr;
    int rc = 0;
    if (transparentColour != -1 && mask) {
        newMask = AllocMaskBitmap(newRgb, width, height, 1, nullptr, 0);
        if (!newMask) rc = ERR_ALLOCMASK;
        else rc = SetMaskFromColourKey(newMask, argb, width, height, rowLength, static_cast<uint32_t>(transparentColour));
    }
    bool wantAlpha = (videoWanted && (flags & ARGBF_ALPHA)) || (flags & ARGBF_ALPHACHANNEL);
    if (!rc && wantAlpha && alpha && !*alpha) {
        newAlpha = CreateAlphaBitmapFromPixels(argb, width, height, rowLength);
        if (!newAlpha) rc = ERR_ALLOCALPHA;
    }
    if (rc) {
        FreeBitmapHandle(newRgb);
        FreeBitmapHandle(newMask);
        FreeBitmapHandle(newAlpha);
        return rc;
    }
    *rgb = newRgb;
    if (mask) *mask = newMask;
    if (newAlpha) *alpha = newAlpha;
    return 0;
}

lvBitMapHandle *CopyAlphaBitmap(int width, lvBitMapHandle *source, int height) {
    if (!source) return nullptr;
    lvBitMapHandle *copy = AllocAlphaBitmap(width, height, 0, nullptr, 0);
    if (!copy) return nullptr;
    CombineBytePlanes(source, 0, 0, copy, 0, 0, width, height, 0, 0);
    return copy;
}

// ---- Duplicates and sets ----------------------------------------------------

namespace {

// Frees a set being made unless it was handed out (set cleared).
struct lvSetGuard {
    lvPictureSet *set;
    ~lvSetGuard() {
        if (set) FreePictureSet(set);
    }
};

}  // namespace

void FreeBitmapSet(lvBitMapHandle **rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha, lvBitMapHandle **chunky,
                   uint32_t **palette) {
    for (lvBitMapHandle **h : {rgb, mask, alpha, chunky})
        if (h) {
            FreeBitmapHandle(*h);
            *h = nullptr;
        }
    if (palette) {
        FreeMemory(*palette);
        *palette = nullptr;
    }
}

void FreePictureSet(lvPictureSet *set) {
    FreeBitmapSet(&set->rgb, &set->mask, &set->alpha, &set->chunky, &set->palette);
}

int DuplicateImage(const lvPictureSet *source, int sourceX, int sourceY, int width, int height, int videoWanted,
                   int transparency, void *display, lvPictureSet *out) {
    if (width == 0 || height == 0) {
        for (lvBitMapHandle *h : {source->rgb, source->mask, source->alpha, source->chunky})
            if (h) {
                width = h->width;
                height = h->height;
                break;
            }
    }
    if (width <= 0 || height <= 0 || sourceX < 0 || sourceY < 0) return ERR_WRONGUSAGE;
    for (lvBitMapHandle *h : {source->rgb, source->mask, source->alpha, source->chunky})
        if (h && (width > h->width - sourceX || height > h->height - sourceY)) return ERR_WRONGUSAGE;
    lvPictureSet made{};
    lvSetGuard guard{&made};
    bool videoMade = false;
    if (source->rgb) {
        if (videoWanted && AdapterMakesVideoBitmaps()) {
            lvVideoSource vs{};
            vs.rgb = source->rgb;
            vs.mask = source->mask;
            vs.alpha = source->alpha;
            vs.sourceWidth = width;
            vs.sourceHeight = height;
            vs.window = display;
            made.rgb = AllocRgbBitmap(width, height, BMF_VIDEO | (transparency ? BMF_PASSON : 0), &vs);
            if (!made.rgb) return ERR_BITMAP;
            videoMade = made.rgb->video != 0;  // else the adapter's fallback made a plain one
        } else if (!(made.rgb = AllocRgbBitmap(width, height, 0, nullptr))) {
            return ERR_BITMAP;
        }
    }
    if (!videoMade) {
        if (source->rgb && source->rgb->video && AdapterMakesVideoBitmaps()) {
            int rc = ReadVideoBitmapPixels(source->rgb, made.rgb, width, height, &made.alpha);
            if (rc) return rc;
        } else {
            if (source->mask) {
                if (!(made.mask = AllocMaskBitmap(made.rgb, width, height, 0, nullptr, 0))) return ERR_ALLOCMASK;
                CombineMasks(source->mask, sourceX, sourceY, made.mask, 0, 0, width, height, MASKVANILLACOPY, nullptr,
                             0);
            }
            if (source->alpha) {
                if (!(made.alpha = AllocAlphaBitmap(width, height, 0, nullptr, 0))) return ERR_ALLOCALPHA;
                CombineBytePlanes(source->alpha, sourceX, sourceY, made.alpha, 0, 0, width, height, 0, 0);
            }
            if (source->rgb) CopyBitmapRect(source->rgb, sourceX, sourceY, made.rgb, 0, 0, width, height);
        }
        if (source->chunky) {
            if (!(made.chunky = AllocChunkyBitmap(width, height, 0))) return ERR_ALLOCCHUNKY;
            CombineBytePlanes(source->chunky, sourceX, sourceY, made.chunky, 0, 0, width, height, 0, 0);
        }
        if (source->palette) {
            if (!(made.palette = static_cast<uint32_t *>(AllocMemory(1024, 0)))) return ERR_MEM;
            std::memcpy(made.palette, source->palette, 1024);
        }
    }
    *out = made;
    guard.set = nullptr;
    return 0;
}

// ---- Conversions ------------------------------------------------------------

int ChunkyToRgbBitmap(lvBitMapHandle *chunky, int width, int height, int transparentPen, int maskWanted,
                      const uint32_t *palette, lvBitMapHandle **rgb, lvBitMapHandle **mask, lvBitMapHandle **alpha) {
    if (!chunky || !palette || width <= 0 || height <= 0) return ERR_WRONGUSAGE;
    lvPictureSet made{};
    lvSetGuard guard{&made};
    if (!(made.rgb = AllocRgbBitmap(width, height, 0, nullptr))) return ERR_BITMAP;
    lvChunkyBlit b{};
    b.source = chunky;
    b.target = made.rgb;
    b.width = width;
    b.height = height;
    b.palette = palette;
    b.transparentPen = transparentPen;
    b.writeAll = 1;
    if (transparentPen != -1) {
        if (maskWanted) {
            if (!(made.mask = AllocMaskBitmap(made.rgb, width, height, 1, nullptr, 0))) return ERR_ALLOCMASK;
            b.outMask = made.mask;
        } else {
            if (!(made.alpha = AllocAlphaBitmap(width, height, 1, nullptr, 0))) return ERR_ALLOCALPHA;
            b.outAlpha = made.alpha;
            b.alphaValue = 255;
        }
    }
    BlitChunkyToRgb(&b);
    *rgb = made.rgb;
    if (mask) *mask = made.mask;
    else FreeBitmapHandle(made.mask);
    if (alpha) *alpha = made.alpha;
    else FreeBitmapHandle(made.alpha);
    guard.set = nullptr;
    return 0;
}

void CopyImageRect(lvBitMapHandle *rgbSource, lvBitMapHandle *chunkySource, int sx, int sy, lvBitMapHandle *rgbTarget,
                   lvBitMapHandle *chunkyTarget, int tx, int ty, int width, int height) {
    if (rgbSource && rgbTarget) CopyBitmapRect(rgbSource, sx, sy, rgbTarget, tx, ty, width, height);
    else if (chunkySource && chunkyTarget)
        CombineBytePlanes(chunkySource, sx, sy, chunkyTarget, tx, ty, width, height, 0, 0);
}

int AllocTargetBitmap(int width, int height, int paletteMode, lvBitMapHandle **rgb, lvBitMapHandle **chunky) {
    if (paletteMode) {
        lvBitMapHandle *h = AllocChunkyBitmap(width, height, 1);
        if (!h) return ERR_ALLOCCHUNKY;
        *chunky = h;
        return 0;
    }
    lvBitMapHandle *h = AllocRgbBitmap(width, height, 0, nullptr);
    if (!h) return ERR_BITMAP;
    *rgb = h;
    return 0;
}

int GetMaskOrAlphaPixels(lvBitMapHandle *mask, lvBitMapHandle *alpha, uint8_t **pixels, int *rowBytes, int write,
                         uintptr_t *token, int *isMask) {
    lvBitMapHandle *h = mask ? mask : alpha;
    if (!h) return 0;
    *token = GetPlanePixels(h, pixels, rowBytes, write);
    if (isMask) *isMask = mask != nullptr;
    return *token != 0;
}

uint32_t *ExtractArgbPixels(lvBitMapHandle *rgb, int x, int y, int width, int height, lvBitMapHandle *mask,
                            lvBitMapHandle *alpha, lvBitMapHandle *chunky, const uint32_t *palette, int transparentPen,
                            int64_t replacement, int lockMode) {
    if (width <= 0 || height <= 0) return nullptr;
    const bool replace = replacement != -1;
    const uint32_t with = static_cast<uint32_t>(replacement);
    if (!rgb && chunky && palette) {
        if (x < 0 || y < 0 || width > chunky->width - x || height > chunky->height - y) return nullptr;
        uint8_t *p;
        int row;
        uintptr_t t = GetPlanePixels(chunky, &p, &row, 0);
        if (!t) return nullptr;
        uint32_t *out = static_cast<uint32_t *>(AllocMemory(static_cast<size_t>(width) * height * 4, 0));
        for (int yy = 0; out && yy < height; yy++)
            for (int xx = 0; xx < width; xx++) {
                int pen = p[static_cast<size_t>(y + yy) * row + x + xx];
                uint32_t c = (palette[pen] & 0xFFFFFFu) | 0xFF000000u;
                if (pen == transparentPen) c = replace ? with : (c & 0xFFFFFFu);
                out[static_cast<size_t>(yy) * width + xx] = c;
            }
        ReleasePlanePixels(t);
        return out;
    }
    uint32_t *out = ReadBitmapRectArgb(rgb, x, y, width, height, lockMode);
    if (!out) return nullptr;
    lvBitMapHandle *plane = mask ? mask : alpha;
    uint8_t *p = nullptr;
    int row = 0;
    uintptr_t t = plane ? GetPlanePixels(plane, &p, &row, 0) : 0;
    if (plane && (!t || width > plane->width - x || height > plane->height - y)) {
        if (t) ReleasePlanePixels(t);
        FreeMemory(out);
        return nullptr;
    }
    for (int yy = 0; yy < height; yy++)
        for (int xx = 0; xx < width; xx++) {
            uint32_t &c = out[static_cast<size_t>(yy) * width + xx];
            c &= 0xFFFFFFu;
            if (mask) {
                int bit = (p[static_cast<size_t>(y + yy) * row + ((x + xx) >> 3)] >> (7 - ((x + xx) & 7))) & 1;
                c = bit ? (c | 0xFF000000u) : (replace ? with : c);
            } else if (alpha) {
                uint8_t a = p[static_cast<size_t>(y + yy) * row + x + xx];
                c = (!a && replace) ? with : (c | static_cast<uint32_t>(a) << 24);
            } else {
                c |= 0xFF000000u;
            }
        }
    if (t) ReleasePlanePixels(t);
    return out;
}

int ReadBitmapPixels(lvBitMapHandle *handle, int x, int y, int width, int height, int *hasAlpha, uint32_t **buffer) {
    if (width <= 0 || height <= 0 || x < 0 || y < 0) return ERR_WRONGUSAGE;
    if (handle && (width > handle->width - x || height > handle->height - y)) return ERR_WRONGUSAGE;
    uint32_t *out = static_cast<uint32_t *>(AllocMemory(static_cast<size_t>(width) * height * 4, 0));
    if (!out) return ERR_MEM;
    if (!handle || handle->video) {
        lvDisplayAdapter *a = RasterState.adapter;
        int alphaFlag = 0, format = PIXFMT_ARGB32;
        lvBitMapTag tags[3] = {{1, reinterpret_cast<uintptr_t>(&alphaFlag)}, {2, reinterpret_cast<uintptr_t>(&format)},
                               {0, 0}};
        void *pixels = a && a->ReadVideoPixels ? a->ReadVideoPixels(handle ? handle->backing : nullptr, tags) : nullptr;
        int bytes = GetPixelFormatBytes(format);
        int full = handle ? handle->width : x + width;
        if (!pixels || (bytes != 2 && bytes != 4)) {
            if (pixels) a->FreeVideoPixels(pixels);
            FreeMemory(out);
            return ERR_READVIDEOPIXELS;
        }
        const uint8_t *src = static_cast<const uint8_t *>(pixels);
        for (int yy = 0; yy < height; yy++)
            for (int xx = 0; xx < width; xx++) {
                const uint8_t *p = src + (static_cast<size_t>(y + yy) * full + x + xx) * bytes;
                uint32_t v = bytes == 4 ? *reinterpret_cast<const uint32_t *>(p) : *reinterpret_cast<const uint16_t *>(p);
                out[static_cast<size_t>(yy) * width + xx] = PixelToArgb(v, format, 1);
            }
        a->FreeVideoPixels(pixels);
        if (hasAlpha) *hasAlpha = alphaFlag;
        *buffer = out;
        return 0;
    }
    lvScopedLock lock(handle, LOCK_READONLY);
    if (!lock) {
        FreeMemory(out);
        return ERR_LOCKBMAP;
    }
    // Every format is converted, not only the 32-bit ones.
    const lvBitMapLock &l = lock.lock;
    for (int yy = 0; yy < height; yy++)
        for (int xx = 0; xx < width; xx++) {
            uint32_t &c = out[static_cast<size_t>(yy) * width + xx];
            if (l.bytesPerPixel == 4)
                c = Pixel32ToArgb(l.format, reinterpret_cast<const uint32_t *>(l.pixels)[static_cast<size_t>(y + yy) *
                                                                                          l.rowLength + x + xx]);
            else c = ReadLockPixel(&l, x + xx, y + yy);
        }
    if (hasAlpha) *hasAlpha = handle->aux;
    *buffer = out;
    return 0;
}

// ---- Tiles and bounds -------------------------------------------------------

void TileImageRect(lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky, int x, int y, int width, int height,
                   lvBitMapHandle *sourceRgb, lvBitMapHandle *sourceChunky, const uint32_t *palette, int offsetX,
                   int offsetY, int tileWidth, int tileHeight, uint32_t *argbTarget, const uint32_t *argbSource,
                   int rowLength) {
    if (tileWidth <= 0 || tileHeight <= 0 || width <= 0 || height <= 0) return;
    offsetX %= tileWidth;
    offsetY %= tileHeight;
    if (offsetX < 0) offsetX += tileWidth;
    if (offsetY < 0) offsetY += tileHeight;
    uint8_t *pens = nullptr;
    int penRow = 0;
    uintptr_t penToken = (argbTarget && !argbSource && sourceChunky) ? GetPlanePixels(sourceChunky, &pens, &penRow, 0) : 0;
    int rows = height / tileHeight + 2, cols = width / tileWidth + 2;
    int ty = y;
    for (int r = 0; r < rows && ty < y + height; r++) {
        int sy = r == 0 ? offsetY : 0;
        int h = std::min(tileHeight - sy, y + height - ty);
        int tx = x;
        for (int c = 0; c < cols && tx < x + width; c++) {
            int sx = c == 0 ? offsetX : 0;
            int w = std::min(tileWidth - sx, x + width - tx);
            if (argbTarget) {
                for (int yy = 0; yy < h; yy++)
                    for (int xx = 0; xx < w; xx++) {
                        uint32_t v = 0;
                        if (argbSource) v = argbSource[static_cast<size_t>(sy + yy) * tileWidth + sx + xx];
                        else if (pens && palette) v = palette[pens[static_cast<size_t>(sy + yy) * penRow + sx + xx]];
                        argbTarget[static_cast<size_t>(ty + yy) * rowLength + tx + xx] = v;
                    }
            } else if (targetChunky && sourceChunky) {
                CombineBytePlanes(sourceChunky, sx, sy, targetChunky, tx, ty, w, h, 0, 0);
            } else if (targetRgb && sourceChunky && palette) {
                lvChunkyBlit b{};
                b.source = sourceChunky;
                b.sourceX = sx;
                b.sourceY = sy;
                b.target = targetRgb;
                b.targetX = tx;
                b.targetY = ty;
                b.width = w;
                b.height = h;
                b.palette = palette;
                b.transparentPen = -1;
                b.writeAll = 1;
                BlitChunkyToRgb(&b);
            } else if (targetRgb && sourceRgb) {
                CopyBitmapRect(sourceRgb, sx, sy, targetRgb, tx, ty, w, h);
            }
            tx += w;
        }
        ty += h;
    }
    if (penToken) ReleasePlanePixels(penToken);
}

void FillPolygonIntoBitmap(lvBitMapHandle *plane, const double *polygon, int count, int value) {
    if (!plane || !polygon || count <= 0) return;
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(plane, &p, &row, 1);
    if (!t) return;
    const lvImagingServices &im = NeighbourServices.imaging;
    im.FillPolygonPlane(im.context, p, row, plane->width, plane->height, value, polygon, count);
    ReleasePlanePixels(t);
}

int GetOpaqueBounds(lvBitMapHandle *mask, lvBitMapHandle *plane, int width, int height, int transparentValue, int *x,
                    int *y, int *boundsWidth, int *boundsHeight) {
    if (!mask && !plane) {
        *x = *y = 0;
        *boundsWidth = width;
        *boundsHeight = height;
        return 1;
    }
    lvBitMapHandle *h = mask ? mask : plane;
    uint8_t *p;
    int row;
    uintptr_t t = GetPlanePixels(h, &p, &row, 0);
    if (!t) return 0;
    width = std::min(width, h->width);
    height = std::min(height, h->height);
    int value = transparentValue == -1 ? 0 : transparentValue;
    int lx = width, ly = height, hx = -1, hy = -1;
    for (int yy = 0; yy < height; yy++) {
        const uint8_t *r = p + static_cast<size_t>(yy) * row;
        for (int xx = 0; xx < width; xx++) {
            bool visible = mask ? ((r[xx >> 3] >> (7 - (xx & 7))) & 1) : r[xx] != value;
            if (!visible) continue;
            lx = std::min(lx, xx);
            hx = std::max(hx, xx);
            ly = std::min(ly, yy);
            hy = std::max(hy, yy);
        }
    }
    ReleasePlanePixels(t);
    if (hx < 0) return 0;
    *x = lx;
    *y = ly;
    *boundsWidth = hx - lx + 1;
    *boundsHeight = hy - ly + 1;
    return 1;
}

// ---- Texture fills ----------------------------------------------------------

int FillRectWithTexture(void *state, lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky, int x, int y, int width,
                        int height, const lvDrawStyle *style, const lvMatrix2D *matrix) {
    const lvImagingServices &im = NeighbourServices.imaging;
    lvBrushView brush{};
    if (int rc = im.FindBrushById(im.context, state, style->textureBrush, &brush)) return rc;
    lvBitMapHandle *rgb = brush.rgb, *chunky = brush.chunky;
    int tw = brush.width, th = brush.height;
    lvPictureSet scaled{};
    lvSetGuard guard{&scaled};
    // A pure scale scales the brush first; rotations and unit scales tile it as it is.
    bool pureScale = matrix && matrix->rx == 0 && matrix->ry == 0 &&
                     !(std::fabs(matrix->sx) == 1 && std::fabs(matrix->sy) == 1);
    if (pureScale) {
        int sw = static_cast<int>(std::fabs(matrix->sx) * tw), sh = static_cast<int>(std::fabs(matrix->sy) * th);
        if (sw <= 0 || sh <= 0) return 0;
        int rc = ScaleImage(rgb, nullptr, nullptr, chunky, 0, 0, nullptr, nullptr, tw, th, sw, sh,
                            0, nullptr, &scaled.rgb, nullptr, nullptr, &scaled.chunky);
        if (rc) return rc;
        rgb = scaled.rgb;
        chunky = scaled.chunky;
        tw = sw;
        th = sh;
    }
    TileImageRect(targetRgb, targetChunky, x, y, width, height, rgb, chunky, brush.palette, style->textureX,
                  style->textureY, tw, th, nullptr, nullptr, 0);
    return 0;
}
