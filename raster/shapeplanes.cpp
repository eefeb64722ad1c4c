// shapeplanes.cpp - shape coverage planes onto pixels: the direct-draw test,
// pen planes of palette-mode drawing and the shadow/border/fill compose step.
//
// Depends on: raster/lvshapes.h, raster/lvplanes.h, raster/lvneighbours.h.
// Limits: script thread only.
#include "raster/lvshapes.h"

#include <algorithm>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "raster/lvneighbours.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"

enum : int { SHAPE_FILLNONE = 0, SHAPE_FILLCOLOR = 1, SHAPE_FILLGRADIENT = 2, SHAPE_FILLTEXTURE = 3 };

int CanDrawDirect(const void *shadow, const void *border, int fillStyle, const lvStyleTags *style, int flags) {
    if (shadow || border) return 0;
    if (fillStyle == SHAPE_FILLGRADIENT || fillStyle == SHAPE_FILLTEXTURE) return 0;
    if (style && HasColorFilter(style->filters)) return 0;
    if (flags & 0x400) return 0;
    lvBlitDisplay *d = RasterState.currentDisplay;
    return d && d->hardwareDoubleBuffer ? 0 : 1;
}

void ClampCornerPercents(int corners[4]) {
    for (int i = 0; i < 4; i++) corners[i] = std::clamp(corners[i], 0, 100);
}

void FillThroughMask(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                     int height, uint32_t colour, const uint8_t *maskPixels, int maskRowBytes) {
    if (!target || width <= 0 || height <= 0) return;
    if (IsChunkyBitmap(target)) {
        FillBytePlaneThroughMask(mask, sx, sy, target, tx, ty, width, height, static_cast<int>(colour & 0xFF),
                                 maskPixels, maskRowBytes);
        return;
    }
    uint8_t *mp = const_cast<uint8_t *>(maskPixels);
    int mrow = maskRowBytes;
    uintptr_t token = 0;
    if (!mp) {
        if (!mask || !(token = GetPlanePixels(mask, &mp, &mrow, 0))) return;
    }
    lvScopedLock t(target, 0);
    if (t && t.lock.bytesPerPixel == 4) {
        uint32_t pix = ArgbToPixel(colour, t.lock.format, 0);
        int w = std::min(width, t.lock.width - tx), h = std::min(height, t.lock.height - ty);
        for (int y = std::max(0, -ty); y < h; y++) {
            uint32_t *row = reinterpret_cast<uint32_t *>(t.lock.pixels) + static_cast<ptrdiff_t>(ty + y) * t.lock.rowLength + tx;
            const uint8_t *m = mp + static_cast<ptrdiff_t>(sy + y) * mrow;
            for (int x = std::max(0, -tx); x < w; x++) {
                int bx = sx + x;
                if ((m[bx >> 3] >> (7 - (bx & 7))) & 1) row[x] = pix;
            }
        }
    }
    ReleasePlanePixels(token);
}

int PreparePenPlane(void *state, const lvPenPlaneRequest *r, lvPenPlaneResult *out) {
    *out = {};
    bool textureDiffers = false;
    if (r->fillStyle == SHAPE_FILLTEXTURE) {
        lvBrushView brush{};
        lvImagingServices &im = NeighbourServices.imaging;
        if (int rc = im.FindBrushById(im.context, state, r->textureBrush, &brush)) return rc;
        const uint32_t *mine = r->givenPalette ? r->givenPalette : r->targetPalette;
        textureDiffers = !brush.palette || !mine || std::memcmp(brush.palette, mine, 1024) != 0;
    }
    uint32_t palette[256] = {};
    int fill, border, shadow, background;
    bool privatePalette = (!r->givenPalette && !r->targetPalette) || r->fillStyle == SHAPE_FILLGRADIENT || textureDiffers;
    if (privatePalette) {
        if (r->antialias || r->sourceCount > 255 || r->pensGiven ||
            (r->fillStyle != SHAPE_FILLNONE && r->fillStyle != SHAPE_FILLCOLOR) || r->colourFilter || (r->flags & 0x400))
            return 0;
        if (r->sourceColours && r->sourceCount > 0) {
            for (int i = 0; i < r->sourceCount; i++) palette[i + 1] = r->sourceColours[i];
        } else {
            palette[1] = r->fillColour;
            palette[2] = r->borderColour;
            palette[3] = r->shadowColour;
        }
        fill = 1, border = 2, shadow = 3, background = 0;
    } else {
        std::memcpy(palette, r->givenPalette ? r->givenPalette : r->targetPalette, sizeof(palette));
        int limit = 1 << std::clamp(r->depth, 1, 8);
        fill = r->fillPen, border = r->borderPen, shadow = r->shadowPen;
        if (fill < 0 || fill >= limit || border < 0 || border >= limit || shadow < 0 || shadow >= limit)
            return ERR_PENRANGE;
        background = -1;
        for (int p = 0; p < limit && background < 0; p++) {
            bool taken = p == fill || p == border || p == shadow;
            for (int i = 0; !taken && r->sourceColours && i < r->sourceCount; i++)
                taken = (r->sourceColours[i] & 0xFF) == static_cast<uint32_t>(p);
            if (!taken) background = p;
        }
        if (background < 0) return ERR_PENRANGE;
    }
    lvBitMapHandle *pens = AllocChunkyBitmap(r->width, r->height, background == 0);
    if (!pens) return ERR_ALLOCCHUNKY;
    if (background != 0) FillBytePlaneRect(pens, 0, 0, r->width, r->height, background);
    uint32_t *copy = static_cast<uint32_t *>(AllocMemory(sizeof(palette), 0));
    if (!copy) {
        FreeBitmapHandle(pens);
        return ERR_MEM;
    }
    std::memcpy(copy, palette, sizeof(palette));
    out->pens = pens;
    out->palette = copy;
    out->backgroundPen = background;
    out->fillValue = fill ^ 255;
    out->borderValue = border ^ 255;
    out->shadowValue = shadow ^ 255;
    return 0;
}

namespace {

// Colour through a coverage, then the coverage merged into the target alpha
// (scaled by the opacity when the part is partly transparent).
void DrawAndMerge(lvBitMapHandle *coverage, const lvShapeCompose *j, int x, int y, uint32_t colour, int t,
                  lvBitMapHandle *image) {
    DrawColorThroughAlphaClipped(coverage, 0, 0, j->target, x, y, j->width, j->height, colour, 1, nullptr, 255, image);
    if (j->targetAlpha)
        CombineBytePlanesClipped(coverage, 0, 0, j->targetAlpha, x, y, j->width, j->height, t > 0 ? 4 : 1, 255 - t);
}

}  // namespace

void ComposeShapePlanes(const lvShapeCompose *j) {
    bool shadow = j->hasShadow && j->shadowTransparency < 255;
    bool border = j->hasBorder && j->border && j->borderTransparency < 255;
    if (shadow) {
        lvBitMapHandle *coverage = j->shadow ? j->shadow : (j->hasBorder && j->border ? j->border : j->fill);
        if (coverage) DrawAndMerge(coverage, j, j->shadowX, j->shadowY, j->shadowColour, j->shadowTransparency, nullptr);
    }
    if (border) {
        if (shadow && j->targetAlpha)
            BlendPixelsNativeClipped(nullptr, 0, 0, j->target, j->x, j->y, j->width, j->height, j->border,
                                     j->targetAlpha, 2, j->borderColour, 255 - j->borderTransparency);
        else
            DrawAndMerge(j->border, j, j->x, j->y, j->borderColour, j->borderTransparency, nullptr);
    }
    if (!j->fill || j->fillTransparency >= 255) return;
    int opacity = 255 - j->fillTransparency;
    if ((shadow || border) && j->targetAlpha) {
        if (j->fillImage)
            DrawColorThroughAlphaClipped(j->fill, 0, 0, j->target, j->x, j->y, j->width, j->height, j->fillColour, 2,
                                         j->targetAlpha, opacity, j->fillImage);
        else
            BlendPixelsNativeClipped(nullptr, 0, 0, j->target, j->x, j->y, j->width, j->height, j->fill,
                                     j->targetAlpha, 2, j->fillColour, opacity);
    } else {
        DrawAndMerge(j->fill, j, j->x, j->y, j->fillColour, j->fillTransparency, j->fillImage);
    }
}
