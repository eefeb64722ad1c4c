// blit.cpp - the central blit (BlitImage), the recomposition of a display
// rectangle (DrawBitmapToTarget) and the refresh entries built on them.
//
// Depends on: raster/lvblit.h, raster/lvplanes.h, raster/lvrect.h,
// platform/lvplatform.h.
// Limits: script thread only; no error result: a failed lock or allocation
// inside an operation skips that operation and the rest of the call goes on.
#include "raster/lvblit.h"
#include "raster/lvdrawstate.h"

#include <algorithm>

#include "platform/lvplatform.h"
#include "raster/lvplanes.h"
#include "raster/lvquantize.h"
#include "raster/lvrect.h"
#include "base/lverrors.h"

// ---- Helpers ----------------------------------------------------------------

namespace {

bool IsDisplayRgbBuffer(const lvBlitDisplay *d, const lvBitMapHandle *h) {
    return d && h && (h == d->background.rgb || h == d->shown.rgb);
}
bool IsDisplayChunkyBuffer(const lvBlitDisplay *d, const lvBitMapHandle *h) {
    return d && h && (h == d->background.chunky || h == d->shown.chunky);
}
int TargetWidth(const lvBitmapSet &s) { return s.rgb ? s.rgb->width : (s.chunky ? s.chunky->width : 0); }
int TargetHeight(const lvBitmapSet &s) { return s.rgb ? s.rgb->height : (s.chunky ? s.chunky->height : 0); }

bool DisplayScales(const lvBlitDisplay *d) { return d && d->scaling && d->scaledWidth && d->scaledHeight; }

// The output planes the blit writes besides its targets.
struct lvOutputPlanes {
    lvBitMapHandle *mask;   // the selected mask, or null
    lvBitMapHandle *alpha;  // the selected alpha channel (or pen plane), or null
    int alphaIsPens;        // 1: alpha is the selected image's pen plane
    int combineMode;        // combine mode of a combined selection
    int combo;              // 1: a combined selection
};

lvOutputPlanes OutputPlanesOf(const lvDrawTarget *o) {
    lvOutputPlanes p{};
    if (!o) return p;
    p.mask = o->mask;
    p.alpha = o->alpha;
    if (!p.alpha && o->kind == OUTPUT_ALPHA && o->paletteBitmap) {
        p.alpha = o->paletteBitmap;
        p.alphaIsPens = 1;
    }
    p.combineMode = o->combineMode;
    p.combo = o->selectionMode == SELMODE_COMBO;
    return p;
}

// Callers pass the sizes to clip against; whatever they pass, the rectangle
// never reaches past the bitmaps the blit reads and writes. false: nothing left.
bool CutToBitmaps(lvBlitRequest *r, const lvOutputPlanes &out) {
    if (r->sourceX < 0 || r->sourceY < 0 || r->targetX < 0 || r->targetY < 0) return false;
    for (lvBitMapHandle *h : {r->sourceRgb, r->sourceChunky, r->mask, r->alpha, r->takenMask}) {
        if (!h) continue;
        r->width = std::min(r->width, h->width - r->sourceX);
        r->height = std::min(r->height, h->height - r->sourceY);
    }
    for (lvBitMapHandle *h : {r->targetRgb, r->targetChunky, out.mask, out.alpha}) {
        if (!h) continue;
        r->width = std::min(r->width, h->width - r->targetX);
        r->height = std::min(r->height, h->height - r->targetY);
    }
    return r->width > 0 && r->height > 0;
}

void RemapInto(const lvBlitRequest *r, lvBitMapHandle *mask, lvBitMapHandle *alpha) {
    lvRemapBlit m{};
    m.sourceRgb = r->sourceRgb;
    m.sourceX = r->sourceX;
    m.sourceY = r->sourceY;
    m.mask = mask;
    m.alpha = alpha;
    m.target = r->targetChunky;
    m.targetX = r->targetX;
    m.targetY = r->targetY;
    m.width = r->width;
    m.height = r->height;
    m.palette = r->targetPalette;
    m.depth = r->targetDepth;
    m.transparentPen = -1;
    m.dither = r->ditherMode;
    m.constantPen = -1;
    RemapRgbToChunky(&m);
}

// Step 9: a source with a 1-bit mask.
void DrawMaskedSource(const lvBlitRequest *r, const lvOutputPlanes &out, int maskOp, int intensity) {
    int sx = r->sourceX, sy = r->sourceY, tx = r->targetX, ty = r->targetY, w = r->width, h = r->height;
    if (r->targetRgb) {
        if (r->sourceRgb) CopyBitmapRectMasked(r->sourceRgb, sx, sy, r->targetRgb, tx, ty, w, h, r->mask);
        else BlendPixelsNative(nullptr, sx, sy, r->targetRgb, tx, ty, w, h, r->mask, nullptr, 1,
                               static_cast<uint32_t>(r->transparent), 255);
    }
    if (r->targetChunky) {
        if (r->sourceRgb) RemapInto(r, r->mask, nullptr);
        else FillBytePlaneThroughMask(r->mask, sx, sy, r->targetChunky, tx, ty, w, h, r->pen, nullptr, 0);
    }
    if (out.mask) CombineMasks(r->mask, sx, sy, out.mask, tx, ty, w, h, maskOp, nullptr, 0);
    if (out.alpha) WriteMaskToAlphaTarget(r->mask, sx, sy, out.alpha, out.alphaIsPens, tx, ty, w, h, intensity);
}

// Step 10: a source with an 8-bit alpha channel (or a colour through it).
void DrawAlphaSource(const lvBlitRequest *r, const lvOutputPlanes &out, int maskOp, int intensity) {
    int sx = r->sourceX, sy = r->sourceY, tx = r->targetX, ty = r->targetY, w = r->width, h = r->height;
    uint32_t colour = static_cast<uint32_t>(r->transparent);
    if (r->targetRgb) {
        if (out.combo && out.alpha && !out.alphaIsPens) {
            if (out.combineMode != 0)
                BlendPixelsNative(r->sourceRgb, sx, sy, r->targetRgb, tx, ty, w, h, r->alpha,
                                  out.combineMode == 2 ? out.alpha : nullptr, out.combineMode == 2 ? 2 : 0, colour,
                                  255);
            else if (r->sourceRgb)
                CopyBitmapRect(r->sourceRgb, sx, sy, r->targetRgb, tx, ty, w, h);
            else
                FillBitmapRect(r->targetRgb, tx, ty, w, h, colour);
        } else if (r->sourceRgb) {
            BlendBitmapRect(r->sourceRgb, sx, sy, r->targetRgb, tx, ty, w, h, r->alpha);
        } else {
            DrawColorThroughAlpha(r->alpha, sx, sy, r->targetRgb, tx, ty, w, h, colour, 1, nullptr, 255, nullptr);
        }
    }
    if (r->targetChunky) {
        if (r->sourceRgb) RemapInto(r, nullptr, r->alpha);
        else DrawPenThroughAlpha(r->pen, r->alpha, sx, sy, r->targetChunky, tx, ty, w, h, r->targetPalette,
                                 r->targetDepth);
    }
    if (out.mask) MaskFromBytePlane(r->alpha, sx, sy, out.mask, tx, ty, w, h, maskOp, 1, 255);
    if (out.alpha) {
        if (out.alphaIsPens && out.combineMode == 2)
            DrawPenThroughAlpha(r->pen, r->alpha, sx, sy, out.alpha, tx, ty, w, h, nullptr, 8);
        else if (!(out.combo && out.combineMode == 2 && r->targetRgb))  // already composited with the pixels
            WriteAlphaToAlphaTarget(r->alpha, sx, sy, out.alpha, out.alphaIsPens, tx, ty, w, h,
                                    RasterState.alphaIntensity, out.combo ? out.combineMode : -1);
    }
}

// Step 11: a palette source.
void DrawChunkySource(const lvBlitRequest *r, lvBlitDisplay *display, const lvOutputPlanes &out, int maskOp,
                      int intensity, bool toDisplay) {
    int sx = r->sourceX, sy = r->sourceY, tx = r->targetX, ty = r->targetY, w = r->width, h = r->height;
    if (r->targetRgb) {
        lvChunkyBlit b{};
        b.source = r->sourceChunky;
        b.sourceX = sx;
        b.sourceY = sy;
        b.target = r->targetRgb;
        b.targetX = tx;
        b.targetY = ty;
        b.width = w;
        b.height = h;
        b.palette = r->sourcePalette;
        b.transparentPen = (out.mask && out.combineMode == 0 && out.combo) ? -1 : r->transparent;
        b.mask = r->takenMask;
        BlitChunkyToRgb(&b);
    }
    if (r->targetChunky) {
        lvChunkyToChunky c{};
        c.source = r->sourceChunky;
        c.sourceX = sx;
        c.sourceY = sy;
        c.target = r->targetChunky;
        c.targetX = tx;
        c.targetY = ty;
        c.width = w;
        c.height = h;
        c.sourcePalette = r->sourcePalette;
        c.targetPalette = r->targetPalette;
        c.depth = r->targetDepth;
        c.transparentPen = r->transparent;
        c.mask = r->takenMask;
        c.paletteMode = r->paletteMode;
        c.flags = r->ditherMode == DITHERMODE_FLOYDSTEINBERG ? 4 : 0;
        BlitChunkyToChunky(&c);
    }
    if (toDisplay) {
        int scale = IsDisplayChunkyBuffer(display, r->sourceChunky) && !(r->flags & BLIT_NOOUTPUT) && display->scaling;
        RasterState.services.BlitToDisplay(RasterState.services.context, nullptr, sx, sy, display, tx, ty, w, h,
                                           r->sourceChunky, ChooseBlitPalette(r->paletteMode, r->sourcePalette),
                                           scale ? 1 : 0);
    }
    if (out.mask) MaskFromChunkyPlane(r->sourceChunky, sx, sy, out.mask, tx, ty, w, h, maskOp, r->transparent);
    if (out.alpha) {
        lvChunkyToChunky c{};
        c.source = r->sourceChunky;
        c.sourceX = sx;
        c.sourceY = sy;
        c.target = out.alpha;
        c.targetX = tx;
        c.targetY = ty;
        c.width = w;
        c.height = h;
        c.transparentPen = r->transparent;
        c.mask = r->takenMask;
        c.intensity = intensity;
        c.flags = 1;
        BlitChunkyToChunky(&c);
    }
}

// Step 12: a plain RGB source.
void DrawPlainSource(const lvBlitRequest *r, lvBlitDisplay *display, const lvOutputPlanes &out, int maskOp,
                     int intensity, bool toDisplay) {
    int sx = r->sourceX, sy = r->sourceY, tx = r->targetX, ty = r->targetY, w = r->width, h = r->height;
    if (r->targetChunky && r->sourceRgb) RemapInto(r, nullptr, nullptr);
    if (r->targetRgb && r->sourceRgb) CopyBitmapRect(r->sourceRgb, sx, sy, r->targetRgb, tx, ty, w, h);
    if (toDisplay && r->sourceRgb) {
        int scale = IsDisplayRgbBuffer(display, r->sourceRgb) && !(r->flags & BLIT_NOOUTPUT) && display->scaling;
        RasterState.services.BlitToDisplay(RasterState.services.context, r->sourceRgb, sx, sy, display, tx, ty, w, h,
                                           nullptr, nullptr, scale ? 1 : 0);
    }
    if (out.mask) FillMaskRect(out.mask, tx, ty, w, h, maskOp);
    if (out.alpha) WriteAlphaTargetRect(out.alpha, out.alphaIsPens, tx, ty, w, h, intensity);
}

}  // namespace

// ---- BlitImage --------------------------------------------------------------

void BlitImage(void *state, lvBitMapHandle *sourceRgb, int sx, int sy, lvBitMapHandle *targetRgb,
               lvBitMapHandle *targetChunky, const uint32_t *targetPalette, int targetDepth, int tx, int ty, int width,
               int height, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int flags,
               lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *sourceChunky,
               const uint32_t *sourcePalette, int transparent, int paletteMode, int pen, int ditherMode,
               lvClipRegion *clipRegion, lvDrawTarget *output) {
    lvBlitRequest r{};
    r.state = state;
    r.sourceRgb = sourceRgb;
    r.sourceX = sx;
    r.sourceY = sy;
    r.targetRgb = targetRgb;
    r.targetChunky = targetChunky;
    r.targetPalette = targetPalette;
    r.targetDepth = targetDepth;
    r.targetX = tx;
    r.targetY = ty;
    r.width = width;
    r.height = height;
    r.sourceWidth = sourceWidth;
    r.sourceHeight = sourceHeight;
    r.targetWidth = targetWidth;
    r.targetHeight = targetHeight;
    r.flags = flags;
    r.mask = mask;
    r.alpha = alpha;
    r.sourceChunky = sourceChunky;
    r.sourcePalette = sourcePalette;
    r.transparent = transparent;
    r.paletteMode = paletteMode;
    r.pen = pen;
    r.ditherMode = ditherMode;
    r.clipRegion = clipRegion;
    r.output = output;
    BlitImageRequest(&r);
}

void BlitImageRequest(lvBlitRequest *r) {
    lvRasterServices &sv = RasterState.services;
    // 1. The output target and the run-wide defaults.
    if (!(r->flags & BLIT_NOOUTPUT) && RasterState.currentDisplay) r->output = &RasterState.currentDisplay->target;
    if (r->paletteMode == -1) r->paletteMode = RasterState.paletteMode;
    if (r->pen == -1) r->pen = RasterState.drawPen;
    if (r->ditherMode == -1) r->ditherMode = RasterState.ditherMode;
    // 2. A chunky source's mask is taken aside.
    if (r->sourceChunky && r->mask) {
        r->takenMask = r->mask;
        r->mask = nullptr;
    }
    // 3. No current display: only explicit targets with flag 0x10 are drawn.
    bool standIn = false;
    if (!RasterState.currentDisplay) {
        if ((!r->targetRgb && !r->targetChunky) || !(r->flags & BLIT_NOOUTPUT) || !RasterState.bitmapTargetDisplay)
            return;
        RasterState.currentDisplay = RasterState.bitmapTargetDisplay;
        r->flags |= BLIT_NOSPRITES;
        standIn = true;
    }
    lvBlitDisplay *display = RasterState.currentDisplay;
    lvClipScratch scratch{};
    lvBufferPair refresh{};
    bool refreshing = false, wroteBackground = false;
    do {
        // 4. Negative source offsets draw nothing.
        if (r->sourceX < 0 || r->sourceY < 0) break;
        // 5. Clipping.
        if (!(r->flags & BLIT_CLIPPED)) {
            ClipBlitRect(r->clipRegion, &r->sourceX, &r->sourceY, &r->targetX, &r->targetY, &r->width, &r->height,
                         r->sourceWidth, r->sourceHeight, r->targetWidth, r->targetHeight,
                         !(r->flags & BLIT_NOREGION));
            if (r->width <= 0 || r->height <= 0) break;
        }
        // 6. A hardware double buffer takes the whole request.
        if (display->hardwareDoubleBuffer && (r->flags & BLIT_HARDWARE)) {
            sv.PresentDisplayRect(sv.context, display, r);
            break;
        }
        // 7. Sprites, then the clip region's mask.
        if (!(r->flags & BLIT_NOSPRITES) && sv.DrawBeneathSprites(sv.context, r)) break;
        if (!(r->flags & BLIT_NOREGION) && r->clipRegion && r->clipRegion->mask &&
            !sv.MergeClipRegionMask(sv.context, r, &scratch))
            break;
        // 8. Target selection on the display.
        bool toDisplay = false;
        lvBlitPicture *picture = display->picture;
        if (!r->targetRgb && !r->targetChunky && display->target.kind == OUTPUT_DISPLAY) {
            if (((r->flags & BLIT_BACKGROUND) && !display->layers) || (r->flags & BLIT_FORCEBACKGROUND)) {
                r->targetRgb = display->background.rgb;
                r->targetChunky = display->background.chunky;
                r->targetPalette = picture ? picture->palette : nullptr;
                r->targetDepth = picture ? picture->depth : 0;
                wroteBackground = true;
                if (!(r->flags & BLIT_NOREFRESH)) {
                    refresh = display->background;
                    refreshing = true;
                }
            } else if (display->layers && (r->flags & BLIT_RECOMPOSE)) {
                DrawBitmapToTarget(r->state, display, picture, nullptr, r->targetX, r->targetY, r->width, r->height,
                                   0);
                refresh = display->shown;
                refreshing = true;
                break;
            } else if (display->shown.chunky &&
                       (!r->sourceChunky ||
                        !PalettesMatch(RasterState.paletteMode, r->sourcePalette, picture ? picture->palette : nullptr,
                                       r->transparent))) {
                r->targetChunky = display->shown.chunky;
                r->targetPalette = picture ? picture->palette : nullptr;
                r->targetDepth = picture ? picture->depth : 0;
                refresh.chunky = display->shown.chunky;
                refreshing = true;
            } else {
                toDisplay = true;
            }
        }
        // Output planes, the mask operation and the alpha intensity.
        lvOutputPlanes out = OutputPlanesOf(r->flags & BLIT_NOOUTPUT ? nullptr : r->output);
        int maskOp = r->targetRgb ? MASKVANILLACOPY : RasterState.maskMode;
        int intensity = (RasterState.alphaIntensity == VANILLACOPY || r->targetRgb) ? 255 : RasterState.alphaIntensity;
        if (!CutToBitmaps(r, out)) break;
        // 9 to 12.
        if (r->mask) DrawMaskedSource(r, out, maskOp, intensity);
        else if (r->alpha) DrawAlphaSource(r, out, maskOp, intensity);
        else if (r->sourceChunky) DrawChunkySource(r, display, out, maskOp, intensity, toDisplay);
        else DrawPlainSource(r, display, out, maskOp, intensity, toDisplay);
        // 13. Mirroring into a scaling display's shown buffers.
        if (wroteBackground && !(r->flags & BLIT_NOOUTPUT) && DisplayScales(display)) {
            if (display->background.rgb && display->shown.rgb)
                CopyBitmapRect(display->background.rgb, r->targetX, r->targetY, display->shown.rgb, r->targetX,
                               r->targetY, r->width, r->height);
            if (display->background.chunky && display->shown.chunky)
                CombineBytePlanes(display->background.chunky, r->targetX, r->targetY, display->shown.chunky,
                                  r->targetX, r->targetY, r->width, r->height, 0, 0);
        }
    } while (false);
    // 14. Final refresh.
    if (refreshing && r->width > 0 && r->height > 0) {
        if (DisplayScales(display) && refresh.rgb == display->background.rgb &&
            refresh.chunky == display->background.chunky)
            refresh = display->shown;
        sv.BlitToDisplay(sv.context, refresh.rgb, r->targetX, r->targetY, display, r->targetX, r->targetY, r->width,
                         r->height, refresh.chunky, display->picture ? display->picture->palette : nullptr, 1);
    }
    // Drawing into a display's software back buffer is damage for the next Flip.
    if (!standIn && !(r->flags & BLIT_NOOUTPUT) && display->doubleBufferActive && r->output &&
        r->output->kind == OUTPUT_IMAGE && r->width > 0 && r->height > 0)
        sv.AddDisplayDamage(sv.context, display, r->targetX, r->targetY, r->width, r->height);
    // 15. Clean-up.
    if (standIn) RasterState.currentDisplay = nullptr;
    FreeBitmapHandle(scratch.mask);
    FreeBitmapHandle(scratch.alpha);
}

// ---- Recomposition and refresh ----------------------------------------------

void DrawBitmapToTarget(void *state, lvBlitDisplay *display, lvBlitPicture *picture, const lvBitmapSet *set, int x,
                        int y, int width, int height, int flags) {
    if (!display || !picture || width < 1 || height < 1) return;
    lvBitmapSet target{};
    if (set) target = *set;
    else {
        target.rgb = display->shown.rgb;
        target.chunky = display->shown.chunky;
        target.palette = picture->palette;
        target.depth = picture->depth;
    }
    if ((x < 0 || y < 0) && !target.layerSource) return;
    int tx = x, ty = y;
    int bw = (flags & 8) ? picture->scaledWidth : picture->width;
    int bh = (flags & 8) ? picture->scaledHeight : picture->height;
    if (flags & 0x40) {
        tx = target.targetX;
        ty = target.targetY;
        width = target.targetWidth;
        height = target.targetHeight;
    } else {
        ClipRectToBounds(0, 0, bw, bh, &tx, &ty, &width, &height);
        x = tx;
        y = ty;
        if (width < 1 || height < 1) return;
    }
    lvRasterServices &sv = RasterState.services;
    if (!(flags & 0x80)) {
        if (flags & (2 | 0x10)) {
            sv.RedrawSpritesInRect(sv.context, display, tx, ty, width, height);
            return;
        }
        lvBufferPair source = picture->pair;
        if (flags & 8) source = picture->scaledPair;
        else if ((flags & 4) || picture == display->picture) source = display->background;
        BlitImage(state, source.rgb, x, y, target.rgb, target.chunky, target.palette, target.depth, tx, ty, width,
                  height, bw, bh, TargetWidth(target), TargetHeight(target), 0x13, nullptr, nullptr,
                  target.chunky ? source.chunky : nullptr, picture->palette, -1, PALETTEMODE_PEN, -1, -1, nullptr,
                  nullptr);
        if (flags & 0x20) return;
    }
    sv.DrawLayersInRect(sv.context, display, picture, tx, ty, width, height, flags);
    if (!(flags & (1 | 0x80))) sv.RedrawSpritesInRect(sv.context, display, tx, ty, width, height);
}

void RefreshDisplayRect(void *state, int x, int y, int width, int height, int flags) {
    lvBlitDisplay *d = RasterState.currentDisplay;
    if (!d || !d->picture) return;
    ClipRectToBounds(0, 0, d->picture->width, d->picture->height, &x, &y, &width, &height);
    if (width < 1 || height < 1) return;
    DrawBitmapToTarget(state, d, d->picture, nullptr, x, y, width, height, flags);
    lvRasterServices &sv = RasterState.services;
    sv.BlitToDisplay(sv.context, d->shown.rgb, x, y, d, x, y, width, height, d->shown.chunky, d->picture->palette, 1);
}

void InvalidateDisplayRect(void *state, int x, int y, int width, int height) {
    lvBlitDisplay *d = RasterState.currentDisplay;
    if (!d) return;
    if (d->target.kind == OUTPUT_DISPLAY) RefreshDisplayRect(state, x, y, width, height, 0);
    else if (d->target.kind == OUTPUT_BGPIC)
        RasterState.services.AddDisplayDamage(RasterState.services.context, d, x, y, width, height);
}

int CreateBitmapTargetDisplay() {
    if (RasterState.bitmapTargetDisplay) return 0;
    lvBlitDisplay *d = static_cast<lvBlitDisplay *>(AllocMemory(sizeof(lvBlitDisplay), 1));
    if (!d) return ERR_MEM;
    d->target.kind = OUTPUT_IMAGE;
    RasterState.bitmapTargetDisplay = d;
    return 0;
}

void ReleaseDrawingResources() {
    if (RasterState.currentDisplay == RasterState.bitmapTargetDisplay) RasterState.currentDisplay = nullptr;
    FreeMemory(RasterState.bitmapTargetDisplay);
    RasterState.bitmapTargetDisplay = nullptr;
    // Scale tables, dirty-rectangle list, image cache and the quantiser's histogram go with them.
    ReleaseQuantizerCache();
    ResetDrawingState();
}
