// state.cpp - the raster engine's run-wide state, the default services and
// the engine's own clip-region mask merge.
//
// Depends on: raster/lvraster.h, raster/lvkernels.h, raster/lvbitmap.h.
// Limits: script thread only.
#include <algorithm>

#include "raster/lvkernels.h"
#include "raster/lvraster.h"

// ---- Default services -------------------------------------------------------

namespace {

intptr_t NoDisplayMetric(void *, void *, int) { return 0; }
void NoPresent(void *, lvBlitDisplay *, const lvBlitRequest *) {}
void NoBlitToDisplay(void *, lvBitMapHandle *, int, int, lvBlitDisplay *, int, int, int, int, lvBitMapHandle *,
                     const uint32_t *, int) {}
int NoSprites(void *, const lvBlitRequest *) { return 0; }
void NoLayers(void *, lvBlitDisplay *, lvBlitPicture *, int, int, int, int, int) {}
void NoSpriteRedraw(void *, lvBlitDisplay *, int, int, int, int) {}
void NoDamage(void *, lvBlitDisplay *, int, int, int, int) {}

// Without an output subsystem the current display's background picture (or
// the selected image) is the output area.
int DisplayOutputArea(void *, int axis, int *origin, int *size) {
    lvBlitDisplay *d = RasterState.currentDisplay;
    *origin = 0;
    *size = 0;
    if (!d) return 0;
    if (d->target.kind == OUTPUT_DISPLAY || d->target.kind == OUTPUT_BGPIC) {
        if (!d->picture) return 0;
        *size = axis ? d->picture->height : d->picture->width;
        return 1;
    }
    if (d->target.bitmap) {
        *size = axis ? d->target.bitmap->height : d->target.bitmap->width;
        return 1;
    }
    return 0;
}

constexpr lvRasterServices DefaultServices = {
    nullptr,       NoDisplayMetric, NoPresent,      NoBlitToDisplay, NoSprites, MergeClipRegionMaskNative,
    NoLayers,      NoSpriteRedraw,  NoDamage,       DisplayOutputArea,
};

}  // namespace

lvRasterState RasterState = {
    nullptr, DefaultServices, nullptr, nullptr, PALETTEMODE_PEN, DITHERMODE_NONE, MASKVISIBLE, 128, 1, 128,
};

void SetRasterServices(const lvRasterServices *s) {
    lvRasterServices d = DefaultServices;
    if (s) {
        d.context = s->context;
        if (s->GetDisplayMetric) d.GetDisplayMetric = s->GetDisplayMetric;
        if (s->PresentDisplayRect) d.PresentDisplayRect = s->PresentDisplayRect;
        if (s->BlitToDisplay) d.BlitToDisplay = s->BlitToDisplay;
        if (s->DrawBeneathSprites) d.DrawBeneathSprites = s->DrawBeneathSprites;
        if (s->MergeClipRegionMask) d.MergeClipRegionMask = s->MergeClipRegionMask;
        if (s->DrawLayersInRect) d.DrawLayersInRect = s->DrawLayersInRect;
        if (s->RedrawSpritesInRect) d.RedrawSpritesInRect = s->RedrawSpritesInRect;
        if (s->AddDisplayDamage) d.AddDisplayDamage = s->AddDisplayDamage;
        if (s->GetOutputArea) d.GetOutputArea = s->GetOutputArea;
    }
    RasterState.services = d;
}

void ResetRasterModes() {
    RasterState.currentDisplay = nullptr;
    RasterState.paletteMode = PALETTEMODE_PEN;
    RasterState.ditherMode = DITHERMODE_NONE;
    RasterState.maskMode = MASKVISIBLE;
    RasterState.alphaIntensity = 128;
    RasterState.drawPen = 1;
    RasterState.transparentThreshold = 128;
}

// ---- Palette helpers --------------------------------------------------------

int GetPenForColor(uint32_t colour, const uint32_t *palette, int depth) {
    if (RasterState.paletteMode == PALETTEMODE_REMAP) return FindNearestPen(colour, palette, depth);
    return RasterState.drawPen;
}

const uint32_t *ChooseBlitPalette(int paletteMode, const uint32_t *palette) {
    if (paletteMode == PALETTEMODE_REMAP) return palette;
    lvBlitDisplay *d = RasterState.currentDisplay;
    return (d && d->picture) ? d->picture->palette : palette;
}

// ---- Clip-region mask merge -------------------------------------------------

// Merges the clip mask with the blit's own plane (or none) into the new
// scratch plane `out`. 1 when anything of the rectangle stays visible, 0 when
// nothing does, -1 when a plane could not be had.
static int MergeIntoScratch(lvKernelJob j, lvBitMapHandle *out, lvBitMapHandle *own, const lvBlitRequest *r) {
    uint8_t *ownPixels = nullptr, *dst = nullptr;
    int ownRow = 0, dstRow = 0;
    uintptr_t ownToken = (out && own) ? GetPlanePixels(own, &ownPixels, &ownRow, 0) : 0;
    uintptr_t dstToken = (out && (ownToken || !own)) ? GetPlanePixels(out, &dst, &dstRow, 1) : 0;
    int visible = -1;
    if (dstToken) {
        j.plane = ownPixels;
        j.planeRow = ownRow;
        j.target = dst;
        j.targetRow = dstRow;
        MergeClipMaskRows(&j);
        visible = 0;
        for (int y = 0; y < j.height && !visible; y++) {
            const uint8_t *row = dst + (r->sourceY + y) * dstRow;
            for (int x = r->sourceX; x < r->sourceX + j.width && !visible; x++)
                visible = j.outputIsMask ? (row[x >> 3] >> (7 - (x & 7))) & 1 : row[x] != 0;
        }
        ReleasePlanePixels(dstToken);
    }
    if (ownToken) ReleasePlanePixels(ownToken);
    return visible;
}

int MergeClipRegionMaskNative(void *, lvBlitRequest *r, lvClipScratch *scratch) {
    lvClipRegion *region = r->clipRegion;
    if (!region || !region->mask) return 1;
    // Scratch planes cover the source up to the rectangle, so that they are
    // addressed at the source position like the planes they replace.
    int pw = r->sourceX + r->width, ph = r->sourceY + r->height;
    uint8_t *clip;
    int clipRow;
    uintptr_t clipToken = GetPlanePixels(region->mask, &clip, &clipRow, 0);
    if (!clipToken) return 0;
    lvKernelJob j{};
    j.width = r->width;
    j.height = r->height;
    j.third = clip;
    j.thirdRow = clipRow;
    j.thirdX = r->targetX - region->x;
    j.thirdY = r->targetY - region->y;
    j.sourceX = j.targetX = r->sourceX;
    j.sourceY = j.targetY = r->sourceY;
    int visible;
    if (!r->alpha && r->sourceChunky && r->transparent != -1) {
        // A pen source with a transparent pen: pens outside the region become that pen.
        lvBitMapHandle *out = AllocChunkyBitmap(pw, ph, 1);
        j.value = r->transparent;
        visible = MergeIntoScratch(j, out, r->sourceChunky, r);
        if (visible >= 0) r->sourceChunky = scratch->alpha = out;
        else FreeBitmapHandle(out);
    } else if (r->alpha) {
        lvBitMapHandle *out = AllocAlphaBitmap(pw, ph, 1, nullptr, 0);
        visible = MergeIntoScratch(j, out, r->alpha, r);
        if (visible >= 0) r->alpha = scratch->alpha = out;
        else FreeBitmapHandle(out);
    } else {
        lvBitMapHandle *out = AllocMaskBitmap(nullptr, pw, ph, 1, nullptr, 0);
        j.outputIsMask = 1;
        visible = MergeIntoScratch(j, out, r->sourceChunky ? r->takenMask : r->mask, r);
        if (visible >= 0) {
            scratch->mask = out;
            if (r->sourceChunky) r->takenMask = out;
            else r->mask = out;
        } else {
            FreeBitmapHandle(out);
        }
    }
    ReleasePlanePixels(clipToken);
    return visible > 0;
}
