// pluginraster.cpp - the raster services of the plug-in interface table.
//
// Depends on: raster/lvpluginraster.h, raster/lvkernels.h, raster/lvplanes.h,
// raster/lvimage.h, raster/lvquantize.h, raster/lvscale.h, raster/lvrect.h.
// Limits: script thread only; raw buffers are the plug-in's, only clip
// rectangles bound them.
#include "raster/lvpluginraster.h"

#include <algorithm>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvkernels.h"
#include "raster/lvplanes.h"
#include "raster/lvquantize.h"
#include "raster/lvrect.h"
#include "raster/lvscale.h"
#include "runtime/plugin.h"

namespace {

// Cuts (x, y, w, h) to the clip rectangle; false when nothing is left.
bool CutToClip(const lvPluginRect *clip, int *x, int *y, int *w, int *h) {
    if (clip) {
        int x0 = std::max(*x, clip->x), y0 = std::max(*y, clip->y);
        int x1 = std::min(*x + *w, clip->x + clip->width), y1 = std::min(*y + *h, clip->y + clip->height);
        *x = x0, *y = y0, *w = x1 - x0, *h = y1 - y0;
    }
    return *w > 0 && *h > 0;
}

bool Is32(int format) { return format >= PIXFMT_ARGB32 && format <= PIXFMT_ABGR32; }

}  // namespace

void PluginBltRawPixels(uint8_t *target, const uint8_t *source, const lvPluginBlitDesc *d, uint32_t,
                        const lvPluginTag *tags) {
    if (!target || !source || !d || !Is32(d->format)) return;
    int tx = d->targetX, ty = d->targetY, w = d->width, h = d->height;
    auto clip = reinterpret_cast<const lvPluginRect *>(PluginTagValue(tags, 1, 0));
    if (!CutToClip(clip, &tx, &ty, &w, &h)) return;
    lvKernelJob j{};
    j.source = source;
    j.sourceX = d->sourceX + (tx - d->targetX);
    j.sourceY = d->sourceY + (ty - d->targetY);
    j.sourceRow = d->sourceRowLength;
    j.target = target;
    j.targetX = tx;
    j.targetY = ty;
    j.targetRow = d->targetRowLength;
    j.width = w;
    j.height = h;
    j.format = d->format;
    j.level = 255;
    if (d->alpha) {
        j.plane = d->alpha;
        j.planeRow = d->alphaRowBytes;
        BlendThroughCoverage32(&j);
    } else if (d->mask) {
        j.plane = d->mask;
        j.planeRow = d->maskRowBytes;
        CopyThroughMask32(&j);
    } else {
        CopyRect32(&j);
    }
}

void PluginFillRawRect(uint8_t *pixels, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour,
                       uint32_t flags, const lvPluginTag *tags) {
    bool haveRow = false;
    int row = static_cast<int>(PluginTagValue(tags, 2, 0, &haveRow));
    if (!pixels || !haveRow) return;
    int format = static_cast<int>(PluginTagValue(tags, 1, PIXFMT_ARGB32));
    auto clip = reinterpret_cast<const lvPluginRect *>(PluginTagValue(tags, 3, 0));
    int cx = x, cy = y, w = width, h = height;
    if (!CutToClip(clip, &cx, &cy, &w, &h)) return;
    int opacity = (flags & 1) ? static_cast<int>(colour >> 24) : 255;
    FillRectPixels(pixels, cx, cy, w, h, colour & 0xFFFFFFu, opacity, row, format);
}

void PluginWriteRawPixel(uint8_t *pixels, int32_t x, int32_t y, uint32_t colour, uint32_t flags,
                         const lvPluginTag *tags) {
    lvPluginTag fill[4] = {{1, PluginTagValue(tags, 1, PIXFMT_ARGB32)}, {3, PluginTagValue(tags, 3, 0)}, {0, 0}, {0, 0}};
    bool haveRow = false;
    intptr_t row = PluginTagValue(tags, 2, 0, &haveRow);
    if (!haveRow) return;
    fill[2] = {2, row};
    PluginFillRawRect(pixels, x, y, 1, 1, colour, flags, fill);
}

namespace {

// What plug-ins hold of a bitmap is what BltBitMap hands them: the adapter's own bitmap
// while the adapter owns every bitmap, else the runtime's handle. The former is wrapped in
// a handle of the kind the call needs, sized by the adapter.
struct lvPluginBitmap {
    lvBitMapHandle wrapped{};
    lvBitMapHandle *handle = nullptr;
    lvPluginBitmap(void *bitmap, int kind) {
        if (!bitmap) return;
        if (!AdapterOwnsBitmaps()) {
            handle = static_cast<lvBitMapHandle *>(bitmap);
            return;
        }
        wrapped.kind = kind;
        wrapped.backing = bitmap;
        wrapped.width = RasterState.adapter->GetBitMapAttr(bitmap, 0, nullptr);
        wrapped.height = RasterState.adapter->GetBitMapAttr(bitmap, 1, nullptr);
        handle = &wrapped;
    }
};

}  // namespace

int PluginPlaneSize(void *plane, int attribute) {
    lvPluginBitmap b(plane, BMKIND_ALPHA);
    if (!b.handle || (attribute != 0 && attribute != 1)) return 0;
    return attribute == 0 ? b.handle->width : b.handle->height;
}

uint32_t *PluginReadArgb(void *rgb, void *maskBitmap, void *alphaBitmap, const lvPluginTag *tags) {
    bool chunky = PluginTagValue(tags, 5, 0) != 0;
    lvPluginBitmap source(rgb, chunky ? BMKIND_CHUNKY : BMKIND_RGB), maskOf(maskBitmap, BMKIND_MASK),
        alphaOf(alphaBitmap, BMKIND_ALPHA);
    lvBitMapHandle *handle = source.handle;
    void *mask = maskOf.handle, *alpha = alphaOf.handle;
    if (!handle) return nullptr;
    int x = static_cast<int>(PluginTagValue(tags, 1, 0)), y = static_cast<int>(PluginTagValue(tags, 2, 0));
    int w = static_cast<int>(PluginTagValue(tags, 3, 0)), h = static_cast<int>(PluginTagValue(tags, 4, 0));
    if (w <= 0) w = handle->width;
    if (h <= 0) h = handle->height;
    auto palette = reinterpret_cast<const uint32_t *>(PluginTagValue(tags, 6, 0));
    int pen = static_cast<int>(PluginTagValue(tags, 7, -1));
    if (chunky && !palette) return nullptr;
    return ExtractArgbPixels(chunky ? nullptr : handle, x, y, w, h, static_cast<lvBitMapHandle *>(mask),
                             static_cast<lvBitMapHandle *>(alpha), chunky ? handle : nullptr, palette, pen, -1,
                             LOCK_READONLY);
}

static lvPluginImageSaver imageSaver = nullptr;

void SetPluginImageSaver(lvPluginImageSaver saver) { imageSaver = saver; }

int PluginSaveImage(const char *file, const void *pixels, int32_t width, int32_t height, int32_t saver,
                    const lvPluginTag *tags) {
    if (!imageSaver || !file || !pixels || width <= 0 || height <= 0) return 0;
    int quality = static_cast<int>(PluginTagValue(tags, 1, 90));
    int depth = static_cast<int>(PluginTagValue(tags, 2, 32));
    auto palette = reinterpret_cast<const uint32_t *>(PluginTagValue(tags, 3, 0));
    int transparent = static_cast<int>(PluginTagValue(tags, 4, -1));
    auto adapter = reinterpret_cast<const char *>(PluginTagValue(tags, 5, 0));
    auto userTags = reinterpret_cast<const void *>(PluginTagValue(tags, 6, 0));
    if (!palette)
        return imageSaver(saver, static_cast<const uint32_t *>(pixels), width, height, file, adapter, userTags, -1,
                          nullptr, nullptr, depth, depth == 32, quality) == 0;
    // The plug-in's pens are copied into a pen plane of our own: the savers read planes.
    lvBitMapHandle *plane = AllocChunkyBitmap(width, height, 0);
    if (!plane) return 0;
    int code = ERR_LOCKBMAP;
    uint8_t *rows = nullptr;
    int rowBytes = 0;
    if (uintptr_t token = GetPlanePixels(plane, &rows, &rowBytes, 1)) {
        for (int y = 0; y < height; y++)
            std::memcpy(rows + (ptrdiff_t)y * rowBytes, static_cast<const uint8_t *>(pixels) + (ptrdiff_t)y * width,
                        width);
        ReleasePlanePixels(token);
        int bits = depth >= 1 && depth <= 8 ? depth : 8;
        code = imageSaver(saver, nullptr, width, height, file, adapter, userTags, transparent, plane, palette, bits, 0,
                          quality);
    }
    FreeBitmapHandle(plane);
    return code == 0;
}

int PluginRemapToPalette(const void *pixels, uint8_t *pensOut, lvPluginPaletteDesc *d, uint32_t flags,
                         const lvPluginTag *tags) {
    if (!d || !pensOut || !d->paletteOut || d->width <= 0 || d->height <= 0) return 0;
    const void *source = pixels ? pixels : d->pixels;
    if (!source) return 0;
    int depth = d->depth < 8 ? 8 : d->depth;
    if (depth != 8 && depth != 32) return 0;
    if (depth == 8 && !d->sourcePalette) return 0;
    lvPaletteConversion r{};
    r.sourceTransparentPen = -1;
    // The conversion may not write into the plug-in's pixels: it reads them only.
    r.rawPixels = const_cast<void *>(source);
    r.rawDepth = depth;
    r.sourcePalette = d->sourcePalette;
    r.width = d->width;
    r.height = d->height;
    r.colourCount = 1 << std::clamp(d->paletteBits, 1, 8);
    r.dither = (d->dither || (flags & 1)) ? 1 : 0;
    r.value = -1;
    r.wantedTransparentPen = static_cast<int>(PluginTagValue(tags, 1, -1));
    uint32_t given[256];
    if (flags & 2) {
        std::memcpy(given, d->paletteOut, sizeof(given));
        r.palette = given;
        r.keepPalette = 1;
    }
    r.alphaThreshold = QUANT_RUNTHRESHOLD;
    lvBitMapHandle *pens = nullptr;
    uint32_t *palette = nullptr;
    r.newPensOut = &pens;
    r.paletteCopyOut = &palette;
    if (MakePaletteBitmap(&r) != 0) return 0;
    uint8_t *p;
    int row;
    uintptr_t token = GetPlanePixels(pens, &p, &row, 0);
    if (token) {
        for (int y = 0; y < d->height; y++)
            std::memcpy(pensOut + static_cast<ptrdiff_t>(y) * d->width, p + static_cast<ptrdiff_t>(y) * row,
                        static_cast<size_t>(d->width));
        ReleasePlanePixels(token);
        std::memcpy(d->paletteOut, palette, 1024);
    }
    FreeBitmapHandle(pens);
    FreeMemory(palette);
    return token ? 1 : 0;
}

void InstallRasterPluginEntries() {
    static const lvPluginRasterEntries entries = {
        PluginBltRawPixels,
        PluginFillRawRect,
        PluginWriteRawPixel,
        PluginReadArgb,
        PluginPlaneSize,
        [](uint32_t c, int format, int keep) { return ArgbToPixel(c, format, keep); },
        [](uint32_t p, int format, int keep) { return PixelToArgb(p, format, keep); },
        ScalePixelBuffer,
        PluginSaveImage,
        PluginRemapToPalette,
        [](int isX, int value, int size, int container, double anchor) {
            return isX ? ResolveSpecialX(value, size, container, anchor) : ResolveSpecialY(value, size, container, anchor);
        },
    };
    SetPluginRasterEntries(&entries);
}
