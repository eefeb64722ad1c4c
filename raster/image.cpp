// image.cpp - picture sets from ARGB buffers and video bitmaps.
//
// Depends on: raster/lvimage.h, raster/lvplanes.h, raster/lvraster.h.
// Limits: script thread only; outputs are written only on success.
#include "raster/lvimage.h"

#include <cstring>

#include "platform/lvplatform.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "runtime/lverrors.h"

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
    struct Guard {
        lvPictureSet *set;
        ~Guard() {
            if (set) FreePictureSet(set);
        }
    } guard{&made};
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
