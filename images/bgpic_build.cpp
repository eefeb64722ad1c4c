// bgpic_build.cpp - a BGPic's bitmaps from decoded pixels and its fill (colour, gradient
// or texture), flattening transparency onto the fill, rescaling from the base set,
// copies, and release (freeing, or detaching while a display or a layer shows it).
//
// Depends on: images/lvbgpic.h, images/lvbrush.h, raster/lvimage.h, raster/lvplanes.h,
// raster/lvscale.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvplanes.h"
#include "raster/lvscale.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

// The texture brush's planes, copied into the fill on first use.
static int EnsureTextureCopy(lvBGPicFill *fill)
{
    if (fill->textureBitmap || fill->texturePenBitmap) return 0;
    lvBrush *b;
    if (int code = FindBrushById(nullptr, fill->textureBrush, &b, 0)) return code;
    lvPictureSet source = {b->bitmap, nullptr, nullptr, b->penBitmap, b->palette};
    lvPictureSet copy = {};
    if (int code = DuplicateImage(&source, 0, 0, b->width, b->height, 0, 0, nullptr, &copy)) return code;
    fill->textureBitmap = copy.rgb;
    fill->texturePenBitmap = copy.chunky;
    fill->texturePalette = copy.palette;
    if (b->palette && !copy.palette) {
        fill->texturePalette = (uint32_t *)AllocMemory(1024, 0);
        if (fill->texturePalette) std::memcpy(fill->texturePalette, b->palette, 1024);
    }
    fill->textureWidth = b->width;
    fill->textureHeight = b->height;
    return 0;
}

int FillBGPicBackground(const lvBGPicFill *constFill, lvBitMapHandle *bitmap, int width, int height,
                        uint32_t *pixels)
{
    lvBGPicFill *fill = const_cast<lvBGPicFill *>(constFill);
    if (fill->style == 2) {
        lvGradientFill render = GetGradientFill();
        if (!render) return ERR_UNIMPLCMD;
        return render(pixels ? nullptr : bitmap, pixels, width, height, &fill->gradient);
    }
    if (fill->style == 3) {
        if (int code = EnsureTextureCopy(fill)) return code;
        if (pixels) {
            // A pixel buffer takes the texture's colours through a bitmap of its own.
            lvBitMapHandle *temp = AllocRgbBitmap(width, height, 0, nullptr);
            if (!temp) return ERR_BITMAP;
            TileImageRect(temp, nullptr, 0, 0, width, height, fill->textureBitmap, fill->texturePenBitmap,
                          fill->texturePalette, fill->textureX, fill->textureY, fill->textureWidth,
                          fill->textureHeight, nullptr, nullptr, 0);
            lvScopedLock lock(temp, LOCK_READONLY);
            for (int y = 0; lock && y < height; y++)
                for (int x = 0; x < width; x++) pixels[(size_t)y * width + x] = ReadLockPixel(&lock.lock, x, y);
            bool ok = (bool)lock;
            FreeBitmapHandle(temp);
            return ok ? 0 : ERR_LOCKBMAP;
        }
        TileImageRect(bitmap, nullptr, 0, 0, width, height, fill->textureBitmap, fill->texturePenBitmap,
                      fill->texturePalette, fill->textureX, fill->textureY, fill->textureWidth, fill->textureHeight,
                      nullptr, nullptr, 0);
        return 0;
    }
    uint32_t colour = 0xFF000000u | (fill->colour & 0xFFFFFFu);
    if (pixels) {
        for (size_t i = 0, n = (size_t)width * (size_t)height; i < n; i++) pixels[i] = colour;
        return 0;
    }
    FillBitmapRect(bitmap, 0, 0, width, height, colour);
    return 0;
}

int BuildBGPicBitmaps(const uint32_t *pixels, const lvBGPicFill *fill, int transparentColour, int width, int height,
                      int rowLength, lvBitMapHandle **bitmap, lvBitMapHandle **mask, lvBitMapHandle **alpha,
                      lvBitMapHandle **penBitmap)
{
    *bitmap = nullptr;
    if (penBitmap) *penBitmap = nullptr;
    lvBitMapHandle *rgb = nullptr, *newMask = nullptr;
    lvBitMapHandle *newAlpha = alpha ? *alpha : nullptr;
    int code = 0;
    if (pixels) {
        code = BitmapFromArgb(pixels, transparentColour, width, height, rowLength, 0, 0, nullptr, &rgb, &newMask,
                              &newAlpha);
        if (code) return code;
    }
    bool flatten = !pixels || (fill && fill->style && (newMask || newAlpha));
    if (flatten) {
        lvBitMapHandle *background = AllocRgbBitmap(width, height, 0, nullptr);
        if (!background) code = ERR_BITMAP;
        if (!code) code = FillBGPicBackground(fill, background, width, height, nullptr);
        if (!code && rgb) {
            if (newAlpha) BlendBitmapRect(rgb, 0, 0, background, 0, 0, width, height, newAlpha);
            else CopyBitmapRectMasked(rgb, 0, 0, background, 0, 0, width, height, newMask);
        }
        if (code) {
            FreeBitmapHandle(background);
            FreeBitmapHandle(rgb);
            FreeBitmapHandle(newMask);
            if (newAlpha && (!alpha || newAlpha != *alpha)) FreeBitmapHandle(newAlpha);
            return code;
        }
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(newMask);
        FreeBitmapHandle(newAlpha);
        rgb = background;
        newMask = newAlpha = nullptr;
    }
    *bitmap = rgb;
    if (mask) *mask = newMask;
    else FreeBitmapHandle(newMask);
    if (alpha) *alpha = newAlpha;
    return 0;
}

// ---- Look-up for a change ----------------------------------------------------------------

static int CopyBGPicForLayer(lvState *, void *record, lvObjectId *id)
{
    return CopyBGPicRecord((const lvBGPic *)record, id);
}

int FindBGPicForChange(lvState *L, lvObjectId id, lvBGPic **out)
{
    if (int code = FindBGPicById(id, out, 0)) return code;
    if ((*out)->lockCount) {
        *out = nullptr;
        return ERR_LOCKEDOBJ;
    }
    // Layers that show a part of it keep the picture they show.
    const lvImageLayerServices *layers = GetImageLayerServices();
    if (int code = layers->CopyObjectForLayers(layers->context, L, 13, id, CopyBGPicForLayer, *out)) {
        *out = nullptr;
        return code;
    }
    return 0;
}

// ---- Release ---------------------------------------------------------------------------

int CheckActiveBGPic(lvObjectId id)
{
    lvSelectDisplay *d = GetSelectDisplay();
    lvBGPic *out = GetCurrentOutput();
    if (!d || !out) return 0;
    int kind = d->blit.target.kind;
    if ((kind == OUTPUT_IMAGE || kind == OUTPUT_MASK || kind == OUTPUT_ALPHA) && out->selectedType == LV_TYPE_BGPIC &&
        ObjectIdMatches(&out->header, id))
        return ERR_MODIFYABGPIC;
    if (kind == OUTPUT_BGPIC && ObjectIdMatches(&out->header, id)) return ERR_MODIFYABGPIC;
    return 0;
}

int ReleaseBGPicRecord(lvState *L, lvObjectId id, int report)
{
    if (int code = CheckActiveBGPic(id)) return code;
    lvBGPic *r;
    int code = FindBGPicById(id, &r, 0);
    if (!code && r->lockCount) code = ERR_LOCKEDOBJ;
    if (code) return report || code == ERR_LOCKEDOBJ ? code : 0;
    const lvImageLayerServices *layers = GetImageLayerServices();
    int shownByLayer = layers->RetargetLayerSources(layers->context, 13, id, r);
    if (shownByLayer || IsBGPicShown(r)) {
        r->header.identifier = 0;
        r->header.handle = r;
        r->detached = 1;
        return 0;
    }
    return UnlinkBGPicById(id);
}

void FreeDetachedBGPics(void)
{
    const lvImageLayerServices *layers = GetImageLayerServices();
    for (lvObjectHeader *h = *BGPicListHead(); h;) {
        lvBGPic *r = (lvBGPic *)h;
        h = h->next;
        if (r->detached && !IsBGPicShown(r) && !layers->FindLayerShowingObject(layers->context, 13, r))
            UnlinkBGPicById({0, r});
    }
}

// ---- Scaling and copies ---------------------------------------------------------------------

int ScaleBGPicBitmaps(lvBGPic *r, int width, int height, int smooth)
{
    if (width <= 0 || height <= 0) return ERR_BADDIMENSIONS;
    if (width == r->scaledWidth && height == r->scaledHeight) return 0;
    lvBGPicSet made = {};
    int code = 0;
    auto *source = (lvImageSource *)r->imageSource;
    if (r->type == 1 && !source) {
        code = BuildBGPicBitmaps(nullptr, &r->fill, -1, width, height, width, &made.bitmap, nullptr, nullptr, nullptr);
    } else if (r->type == 1 && source->render) {
        double matrix[4] = {(double)width / source->width, 0, 0, (double)height / source->height};
        void *extra = nullptr;
        int w = width, h = height;
        code = source->render(source->handle, matrix, &made.bitmap, &made.mask, &made.alpha, &extra,
                                      &w, &h);
        made.penBitmap = (lvBitMapHandle *)extra;
    } else {
        // The base set is the source, so repeated scaling loses nothing.
        code = ScaleImage(r->base.bitmap, r->base.mask, r->base.alpha, r->base.penBitmap, 0, 0, nullptr, nullptr,
                          r->baseWidth, r->baseHeight, width, height, smooth, nullptr, &made.bitmap, &made.mask,
                          &made.alpha, &made.penBitmap);
    }
    if (code) return code;
    FreeBGPicDerivedBitmaps(r);
    r->scaled = r->shown = made;
    r->scaledWidth = r->shownWidth = width;
    r->scaledHeight = r->shownHeight = height;
    return 0;
}

int RescaleBGPicFromBase(lvBGPic *r)
{
    bool separate = r->scaled.bitmap != r->base.bitmap || r->scaled.penBitmap != r->base.penBitmap;
    if (!separate) {
        // Drawing may have made a mask or an alpha channel in the base set.
        r->scaled = r->shown = r->base;
        return 0;
    }
    lvBGPicSet made = {};
    if (int code = ScaleImage(r->base.bitmap, r->base.mask, r->base.alpha, r->base.penBitmap, 0, 0, nullptr, nullptr,
                              r->baseWidth, r->baseHeight, r->scaledWidth, r->scaledHeight, 0, nullptr, &made.bitmap,
                              &made.mask, &made.alpha, &made.penBitmap))
        return code;
    FreeBGPicDerivedBitmaps(r);
    r->scaled = r->shown = made;
    r->shownWidth = r->scaledWidth;
    r->shownHeight = r->scaledHeight;
    return 0;
}

static int CopySet(const lvBGPicSet *set, const uint32_t *palette, int width, int height, lvPictureSet *out)
{
    lvPictureSet source = {set->bitmap, set->mask, set->alpha, set->penBitmap, const_cast<uint32_t *>(palette)};
    return DuplicateImage(&source, 0, 0, width, height, 0, 0, nullptr, out);
}

int CopyBGPicRecord(const lvBGPic *s, lvObjectId *id)
{
    lvPictureSet base = {}, scaled = {};
    uint32_t *filePalette = nullptr, *palette = nullptr;
    lvCycleRange *cycle = nullptr;
    int code = 0;
    if (s->filePalette) {
        filePalette = (uint32_t *)AllocMemory(1024, 0);
        if (!filePalette) return ERR_MEM;
        std::memcpy(filePalette, s->filePalette, 1024);
    }
    if (s->palette) {
        palette = (uint32_t *)AllocMemory(1024, 0);
        if (!palette) code = ERR_MEM;
        else std::memcpy(palette, s->palette, 1024);
    }
    if (!code) code = CopySet(&s->base, nullptr, s->baseWidth, s->baseHeight, &base);
    bool separateScaled = s->scaled.bitmap != s->base.bitmap || s->scaled.penBitmap != s->base.penBitmap;
    if (!code && separateScaled) code = CopySet(&s->scaled, nullptr, s->scaledWidth, s->scaledHeight, &scaled);
    if (!code) code = DuplicateCycleTable((const lvCycleRange *)s->cycleTable, s->cycleCount, &cycle);
    lvBGPicFill fill = s->fill;
    fill.textureBitmap = fill.texturePenBitmap = nullptr;
    fill.texturePalette = nullptr;
    lvBGPic *r = nullptr;
    if (!code)
        code = NewBGPicRecord(id, s->type, s->baseWidth, s->baseHeight, s->baseWidth, s->imageSource, base.rgb,
                              filePalette, s->transparentColour, base.mask, base.alpha, base.chunky, s->depth, palette,
                              &fill, cycle, s->cycleCount, s->formatName, &r);
    if (code) {
        FreePictureSet(&base);
        FreePictureSet(&scaled);
        FreeMemory(filePalette);
        FreeMemory(palette);
        FreeMemory(cycle);
        return code;
    }
    r->loader = s->loader;
    if (r->imageSource) RetainImageSource((lvImageSource *)r->imageSource);
    if (separateScaled) {
        r->scaled = {scaled.rgb, scaled.mask, scaled.alpha, scaled.chunky};
        r->scaledWidth = r->shownWidth = s->scaledWidth;
        r->scaledHeight = r->shownHeight = s->scaledHeight;
        r->shown = r->scaled;
    }
    return 0;
}
