// brush_plugin.cpp - the brush entries of the plug-in interface: locking a brush's pixels,
// reading them as ARGB words, making a brush from a plug-in's pixels (or its vector image),
// freeing one, and mapping hardware brushes to the adapter's video bitmaps.
//
// Depends on: images/lvbrush.h, raster/lvimage.h, raster/lvscale.h, runtime/plugin.h,
// platform/lvplatform_startup.h (the screen's DPI).
// Limits: script thread only. The entries never raise script errors: failures come back as
// null or as error codes.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_startup.h"
#include "raster/lvimage.h"
#include "raster/lvscale.h"
#include "runtime/plugin.h"

namespace {

constexpr int kErrAllocImage = 1675;  // "Error allocating image!"

// What a plug-in holds between LockBrushPixels and UnlockBrushPixels. The brush is kept by
// address and found again in the list on unlock, so an unlock after the brushes were all
// freed (shut-down) touches nothing.
struct lvBrushLock {
    lvBitMapLock lock;       // the RGB bitmap's lock (token 0: not locked)
    uintptr_t planeToken;    // mask, alpha or pen plane pixels to release, or 0
    lvBrush *brush;          // whose lock count this lock raised
};

bool TagGiven(const lvPluginTag *tags, uint32_t tag)
{
    bool found = false;
    PluginTagValue(tags, tag, 0, &found);
    return found;
}

bool BrushStillListed(const lvBrush *brush)
{
    for (lvObjectHeader *h = *BrushListHead(); h; h = h->next)
        if (h == &brush->header) return true;
    return false;
}

// The brush behind a plug-in's identifier, as the read entries take it: no script state, no
// modification, and never a re-renderable (kind 1) brush.
lvBrush *GetBrushImageSet(const lvPluginObjectId *id)
{
    if (!id) return nullptr;
    lvBrush *b = nullptr;
    if (FindBrushById(nullptr, lvObjectId{id->number, id->handle}, &b, 0) || !b) return nullptr;
    if (b->kind == 1) return nullptr;
    return b;
}

void *LockBrushPixels(const lvPluginObjectId *id, const lvPluginTag *tags, lvBrushPixelAccess *access)
{
    if (!access) return nullptr;
    int readOnly = PluginTagValue(tags, LVP_BRUSHLOCK_READONLY, 0) != 0;
    int palettes = PluginTagValue(tags, LVP_BRUSHLOCK_PALETTE, 0) != 0;
    lvBrush *b = GetBrushImageSet(id);
    if (!b) return nullptr;
    if (b->penBitmap && !palettes) return nullptr;
    auto *r = static_cast<lvBrushLock *>(AllocMemory(sizeof(lvBrushLock), 1));
    if (!r) return nullptr;
    lvBrushPixelAccess a = {};
    if (b->penBitmap) {
        a.palette = b->palette;
        a.transparentPen = b->transparentColour;
        int rowBytes = 0;
        r->planeToken = GetPlanePixels(b->penBitmap, &a.penPixels, &rowBytes, !readOnly);
        if (!r->planeToken) {
            FreeMemory(r);
            return nullptr;
        }
        a.penModulo = rowBytes;
        r->lock.format = PIXFMT_CLUT8;
        r->lock.bytesPerPixel = 1;
    } else {
        if (!b->bitmap) {
            FreeMemory(r);
            return nullptr;
        }
        if (b->mask || b->alpha) {
            uint8_t *pixels = nullptr;
            int rowBytes = 0, isMask = 0;
            if (!GetMaskOrAlphaPixels(b->mask, b->alpha, &pixels, &rowBytes, !readOnly, &r->planeToken, &isMask) ||
                !r->planeToken) {
                FreeMemory(r);
                return nullptr;
            }
            if (isMask) a.maskPixels = pixels, a.maskModulo = rowBytes;
            else a.alphaPixels = pixels, a.alphaModulo = rowBytes;
        }
        if (!LockBitmapHandle(b->bitmap, readOnly ? LOCK_READONLY : 0, &r->lock)) {
            if (r->planeToken) ReleasePlanePixels(r->planeToken);
            FreeMemory(r);
            return nullptr;
        }
        a.pixels = r->lock.pixels;
        a.bytesPerRow = r->lock.rowLength * r->lock.bytesPerPixel;
    }
    a.pixelFormat = r->lock.format;
    a.bytesPerPixel = r->lock.bytesPerPixel;
    a.width = b->width;
    a.height = b->height;
    // The caller's record keeps its depth field unless it asked for it.
    a.depth = TagGiven(tags, LVP_BRUSHLOCK_DEPTH) ? b->depth : access->depth;
    *access = a;
    // Script commands that change or free the brush fail until the plug-in unlocks it.
    r->brush = b;
    b->lockCount++;
    return r;
}

void UnlockBrushPixels(void *lock)
{
    auto *r = static_cast<lvBrushLock *>(lock);
    if (!r) return;
    if (r->lock.token) UnlockBitmapHandle(&r->lock);
    if (r->planeToken) ReleasePlanePixels(r->planeToken);
    if (r->brush && BrushStillListed(r->brush) && r->brush->lockCount > 0) r->brush->lockCount--;
    FreeMemory(r);
}

uint32_t *GetBrushArgbPixels(const lvPluginObjectId *id, const lvPluginTag *tags)
{
    uint32_t flags = (uint32_t)PluginTagValue(tags, LVP_BRUSHARGB_FLAGS, 0);
    lvBrush *b = GetBrushImageSet(id);
    if (!b || (!b->bitmap && !b->penBitmap)) return nullptr;
    int width = b->width, height = b->height;
    uint32_t *pixels = ExtractArgbPixels(b->bitmap, 0, 0, width, height, b->mask, b->alpha, b->penBitmap, b->palette,
                                         b->penBitmap ? b->transparentColour : -1, -1, LOCK_READONLY);
    if (!pixels) return nullptr;
    if (flags & 1) {
        int dpiX = 96, dpiY = 96;
        GetScreenDpi(&dpiX, &dpiY);
        double factor = dpiX / 96.0;
        int w = (int)(width * factor), h = (int)(height * factor);
        if (w > 0 && h > 0 && (w != width || h != height)) {
            auto *scaled = static_cast<uint32_t *>(ScalePixelBuffer(pixels, 0, 0, width, height, nullptr, 0, 0, w, h,
                                                                    width, w, PIXFMT_ARGB32, (flags & 2) ? 1 : 0));
            FreeMemory(pixels);
            if (!scaled) return nullptr;
            pixels = scaled;
            width = w, height = h;
        }
    }
    if (auto *p = reinterpret_cast<int32_t *>(PluginTagValue(tags, LVP_BRUSHARGB_WIDTH, 0))) *p = width;
    if (auto *p = reinterpret_cast<int32_t *>(PluginTagValue(tags, LVP_BRUSHARGB_HEIGHT, 0))) *p = height;
    if (auto *p = reinterpret_cast<int32_t *>(PluginTagValue(tags, LVP_BRUSHARGB_OPAQUE, 0)))
        *p = !b->mask && !b->alpha && !(b->penBitmap && b->transparentColour != -1);
    return pixels;
}

// Everything CreateBrushFromPixels makes until the record takes it.
struct lvNewBrushParts {
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    uint32_t *palette = nullptr;
    lvImageSource *source = nullptr;
    ~lvNewBrushParts()
    {
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        if (source) ReleaseImageSource(source);
    }
};

int CreateBrushFromPixels(lvState *L, lvPluginObjectId *id, int32_t width, int32_t height,
                          const lvBrushPixelDesc *desc)
{
    if (!id || !desc) return ERR_WRONGUSAGE;
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    uint32_t flags = desc->flags;
    bool pens = flags & LVP_BRUSHPIX_PENS;
    if (pens && (desc->depth < 1 || desc->depth > 8 || !desc->palette)) return ERR_WRONGUSAGE;
    int64_t rowLength = desc->modulo > 0 ? desc->modulo : width;
    if (desc->pixels && rowLength < width) return ERR_WRONGUSAGE;
    lvObjectId oid{id->number, id->handle};
    if (oid.number)
        if (int code = ReleaseBrushRecord(L, oid, 0)) return code;
    lvNewBrushParts p;
    int depth = 24, transparent = -1;
    if (pens) {
        p.palette = static_cast<uint32_t *>(AllocMemory(256 * sizeof(uint32_t), 0));
        if (!p.palette) return ERR_MEM;
        std::memcpy(p.palette, desc->palette, 256 * sizeof(uint32_t));
        depth = desc->depth;
        if (flags & LVP_BRUSHPIX_TRANSPARENT) transparent = (int)(desc->transparent & 0xFF);
        p.pens = AllocChunkyBitmap(width, height, desc->pixels ? 0 : 1);
        if (!p.pens) return ERR_ALLOCCHUNKY;
        if (desc->pixels) {
            uint8_t *rows = nullptr;
            int rowBytes = 0;
            uintptr_t token = GetPlanePixels(p.pens, &rows, &rowBytes, 1);
            if (!token) return ERR_LOCKBMAP;
            auto *source = static_cast<const uint8_t *>(desc->pixels);
            for (int y = 0; y < height; y++)
                std::memcpy(rows + (size_t)y * rowBytes, source + (size_t)y * rowLength, (size_t)width);
            ReleasePlanePixels(token);
        }
    } else {
        const uint32_t *argb = static_cast<const uint32_t *>(desc->pixels);
        uint32_t *blank = nullptr;
        if (!argb) {
            // An empty brush: black, opaque.
            blank = static_cast<uint32_t *>(AllocMemory((size_t)width * (size_t)height * sizeof(uint32_t), 1));
            if (!blank) return ERR_BITMAP;
            argb = blank;
            rowLength = width;
        }
        int64_t key = desc->pixels && (flags & LVP_BRUSHPIX_TRANSPARENT) ? (int64_t)(desc->transparent & 0xFFFFFF) : -1;
        int code = BitmapFromArgb(argb, key, width, height, (int)rowLength, 0, 0, nullptr, &p.rgb, &p.mask, &p.alpha);
        if (!code && desc->pixels && (flags & LVP_BRUSHPIX_ALPHA)) {
            FreeBitmapHandle(p.alpha);
            p.alpha = CreateAlphaBitmapFromPixels(argb, width, height, (int)rowLength);
            if (!p.alpha) code = ERR_ALLOCALPHA;
            depth = 32;
        }
        FreeMemory(blank);
        if (code) return code;
        if (key != -1) transparent = (int)key;
    }
    int kind = 0;
    if (flags & LVP_BRUSHPIX_VECTOR) {
        p.source = NewImageSource(LV_IMGSRC_PLUGIN, desc->vectorHandle, desc->vectorGetPixels, desc->vectorFree,
                                  desc->vectorTransform, nullptr, nullptr, width, height, nullptr, nullptr, 0);
        if (!p.source) return kErrAllocImage;
        kind = 1;
    }
    lvObjectId newId = oid;
    lvBrush *b = nullptr;
    int code = NewBrushRecord(&newId, kind, width, height, width, 0, p.source, p.rgb, transparent, p.mask, p.alpha,
                              p.pens, depth, p.palette, nullptr, nullptr, 0, nullptr, &b);
    if (code) return code;
    p.source = nullptr, p.rgb = p.mask = p.alpha = p.pens = nullptr, p.palette = nullptr;
    id->number = newId.number;
    id->handle = newId.handle;
    return 0;
}

int FreeBrushEntry(lvState *L, const lvPluginObjectId *id)
{
    if (!id) return ERR_WRONGUSAGE;
    return ReleaseBrushRecord(L, lvObjectId{id->number, id->handle}, 1);
}

void *MapHardwareBrushHandle(lvPluginObjectId *id, void *adapterBitmap)
{
    if (adapterBitmap) {
        for (lvObjectHeader *h = *BrushListHead(); h; h = h->next) {
            auto *b = reinterpret_cast<lvBrush *>(h);
            if (b->hardware && b->bitmap && b->bitmap->video && b->bitmap->backing == adapterBitmap) {
                if (id) id->number = h->identifier, id->handle = h->handle;
                return adapterBitmap;
            }
        }
        return nullptr;
    }
    if (!id) return nullptr;
    lvBrush *b = nullptr;
    if (FindBrushById(nullptr, lvObjectId{id->number, id->handle}, &b, BRUSH_HARDWARE) || !b) return nullptr;
    if (!b->hardware || !b->bitmap || !b->bitmap->video) return nullptr;
    return b->bitmap->backing;
}

}  // namespace

void InstallPluginBrushEntries(void)
{
    static const lvPluginBrushEntries entries = {
        LockBrushPixels, UnlockBrushPixels, GetBrushArgbPixels, CreateBrushFromPixels, FreeBrushEntry,
        MapHardwareBrushHandle,
    };
    SetPluginBrushEntries(&entries);
}
