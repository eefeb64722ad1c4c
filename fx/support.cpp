// support.cpp - what the transition driver and every effect family share: the effect
// classes, the random pick and the mirror map, the clipped rectangle operations families
// draw with, the work-set blit, the end of a frame and seeking.
#include <cstring>

#include "base/lverrors.h"
#include "fx/lvtransition.h"
#include "platform/lvplatform.h"
#include "raster/lvblit.h"
#include "raster/lvimage.h"
#include "raster/lvplanes.h"
#include "raster/lvrect.h"
#include "runtime/random.h"
#include "ui/display.h"

namespace {

bool In(int32_t id, int32_t first, int32_t last) { return id >= first && id <= last; }

// The rectangle joins what this frame drew (display coordinates).
void AddDamage(lvTransition *t, int32_t x, int32_t y, int32_t width, int32_t height)
{
    if (width <= 0 || height <= 0) return;
    if (t->damageX1 > t->damageX2) {
        t->damageX1 = x, t->damageY1 = y, t->damageX2 = x + width - 1, t->damageY2 = y + height - 1;
        return;
    }
    if (x < t->damageX1) t->damageX1 = x;
    if (y < t->damageY1) t->damageY1 = y;
    if (x + width - 1 > t->damageX2) t->damageX2 = x + width - 1;
    if (y + height - 1 > t->damageY2) t->damageY2 = y + height - 1;
}

}  // namespace

// ---- Classes --------------------------------------------------------------------------------

int IsEffectForObjects(int32_t id)
{
    return !(In(id, 74, 81) || In(id, 101, 104) || In(id, 111, 112) || In(id, 118, 131) || id == 133);
}

int IsRgbOnlyEffectInPaletteMode(const lvTransition *t)
{
    return (t->effect == 97 || t->effect == 98 || t->effect == 114) && t->kind == FXKIND_BGPIC && t->newChunky;
}

int IsBlendingEffect(int32_t id) { return id == 97 || id == 98 || In(id, 114, 116) || In(id, 134, 139); }

int EffectNeedsOldPicture(const lvTransition *t)
{
    int32_t id = t->effect;
    if (id == 74 || id == 76 || In(id, 78, 81) || In(id, 101, 104) || In(id, 111, 112) || id == 115 ||
        In(id, 118, 131) || id == 133)
        return 1;
    if (In(id, 55, 73) || In(id, 84, 87) || In(id, 97, 100) || id == 114 || In(id, 116, 117) || id == 132 ||
        In(id, 134, 139))
        return !t->layerMode;
    if (id == 75 || id == 77) return t->layerMode != 0;
    return 0;
}

int IsWholeFrameEffect(int32_t id)
{
    return In(id, 55, 73) || In(id, 84, 87) || In(id, 99, 100) || In(id, 116, 117) || In(id, 132, 133);
}

int IsAlphaMixEffect(int32_t id) { return In(id, 115, 117) || In(id, 134, 138); }

int HandlesTransparencyItself(int32_t id)
{
    return In(id, 47, 73) || In(id, 84, 87) || In(id, 99, 100) || In(id, 116, 117) || In(id, 132, 133);
}

int IsRandomExcluded(int32_t id) { return In(id, 34, 37) || In(id, 84, 87) || In(id, 134, 138); }

int HidesLayerForGrab(int32_t kind, int32_t id, int32_t layerMode)
{
    if (kind != FXKIND_HIDELAYER && kind != FXKIND_REMOVELAYER) return 1;
    if (id == 97 || id == 98 || id == 114 || In(id, 116, 117) || In(id, 134, 139)) return 0;
    if (id == 115 && !layerMode) return 0;
    return 1;
}

int EffectFrameKind(int32_t id)
{
    return In(id, 47, 81) || In(id, 84, 87) || In(id, 97, 104) || In(id, 111, 112) || In(id, 114, 139) ? 2 : 3;
}

int32_t ReverseEffectForUndo(int32_t id)
{
    switch (id) {
    case 24: return 25;
    case 25: return 24;
    case 26: return 27;
    case 27: return 26;
    case 30: return 31;
    case 31: return 30;
    case 32: return 33;
    case 33: return 32;
    default: break;
    }
    if (In(id, 38, 46)) return id + 50;
    if (In(id, 88, 96)) return id - 50;
    return id;
}

int32_t PickRandomEffect(int restricted)
{
    for (;;) {
        int32_t id = (int32_t)(NextRandomDouble() * 141);
        if (id == 113 || id >= 140) continue;
        if (restricted && !IsEffectForObjects(id)) continue;
        if (IsRandomExcluded(id)) continue;
        // Effects still to be built are drawn again, so a pick always runs.
        lvEffectStep step;
        lvEffectCleanup cleanup;
        if (LookupEffectRoutines(id, &step, &cleanup)) continue;
        return id;
    }
}

int32_t NextEffectRandom15(void) { return NextRandom15(); }

// ---- Speeds and frame counts -------------------------------------------------------------------

int32_t EffectSpeedStep(int32_t speed, int32_t length, int32_t normal, int32_t fast, int32_t slow)
{
    switch (speed) {
    case FX_NORMALSPEED: return length / normal;
    case FX_FASTSPEED: return length / fast;
    case FX_SLOWSPEED: return length / slow;
    default: return speed;
    }
}

int32_t EffectFrameCount(int64_t dividend, int64_t divisor)
{
    if (dividend <= 0 || divisor <= 0) return 1;
    return (int32_t)(1 + (dividend + divisor - 1) / divisor);
}

int AllocEffectState(lvTransition *t, int32_t size)
{
    if (t->effectState) std::memset(t->effectState, 0, size);
    else if (!(t->effectState = AllocMemory(size, 1))) return ERR_MEM;
    return 0;
}

// ---- Rectangles -------------------------------------------------------------------------------

void CopyRectClipped(int32_t sx, int32_t height, int32_t sy, lvBitMapHandle *sourceRgb, lvBitMapHandle *sourceChunky,
                     lvBitMapHandle *targetRgb, lvBitMapHandle *targetChunky, int32_t tx, int32_t ty, int32_t width,
                     int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth, int32_t targetHeight)
{
    if (sx < 0) width += sx, tx -= sx, sx = 0;
    if (sy < 0) height += sy, ty -= sy, sy = 0;
    if (width <= 0 || height <= 0) return;
    if (tx < 0) width += tx, sx -= tx, tx = 0;
    if (ty < 0) height += ty, sy -= ty, ty = 0;
    if (sx + width > sourceWidth) width = sourceWidth - sx;
    if (sy + height > sourceHeight) height = sourceHeight - sy;
    if (tx + width > targetWidth) width = targetWidth - tx;
    if (ty + height > targetHeight) height = targetHeight - ty;
    if (width <= 0 || height <= 0) return;
    CopyImageRect(sourceRgb, sourceChunky, sx, sy, targetRgb, targetChunky, tx, ty, width, height);
}

void BlitEffectRect(lvBitMapHandle *sourceRgb, int32_t sx, int32_t sy, lvEffectWorkSet *target, int32_t tx,
                    int32_t ty, int32_t width, int32_t height, int32_t sourceWidth, int32_t sourceHeight,
                    int32_t targetWidth, int32_t targetHeight, lvBitMapHandle *sourceMask, lvBitMapHandle *sourceAlpha,
                    lvBitMapHandle *sourceChunky, const uint32_t *sourcePalette, int32_t transparentPen,
                    lvTransition *t, int32_t flags)
{
    (void)sourcePalette;
    if (!target || sx < 0 || sy < 0) return;
    int x = sx, y = sy, dx = tx, dy = ty, w = width, h = height;
    if (!ClipPlaneRect(&x, &y, &dx, &dy, &w, &h, sourceWidth, sourceHeight, targetWidth, targetHeight)) return;
    if (w <= 0 || h <= 0) return;
    bool keepExtra = (flags & FXRECT_KEEPEXTRA) || !t;
    if (flags & FXRECT_ERASE) {
        bool opaque = flags & FXRECT_OPAQUE;
        if (target->alpha) FillBytePlaneRect(target->alpha, dx, dy, w, h, opaque ? 255 : 0);
        else if (target->mask) FillMaskRect(target->mask, dx, dy, w, h, opaque ? MASKVISIBLE : MASKINVISIBLE);
        if (!keepExtra && t->extraAlpha) FillBytePlaneRect(t->extraAlpha, dx, dy, w, h, opaque ? 255 : 0);
        if (!keepExtra && t->extraMask) FillMaskRect(t->extraMask, dx, dy, w, h, opaque ? MASKVISIBLE : MASKINVISIBLE);
    } else {
        // The shape first, then the pixels.
        if (sourceMask && target->mask) {
            CombineMasks(sourceMask, x, y, target->mask, dx, dy, w, h, (flags & FXRECT_ALPHAMODE) ? 0 : 2, nullptr, 0);
            if (!keepExtra && t->extraMask) FillMaskRect(t->extraMask, dx, dy, w, h, MASKVISIBLE);
        } else if (sourceAlpha && target->alpha) {
            CombineBytePlanesClipped(sourceAlpha, x, y, target->alpha, dx, dy, w, h, (flags & FXRECT_ALPHAMODE) ? 1 : 0,
                                     0);
            if (!keepExtra && t->extraAlpha) FillBytePlaneRect(t->extraAlpha, dx, dy, w, h, 255);
        } else if (sourceChunky && target->mask && transparentPen >= 0) {
            MaskFromBytePlane(sourceChunky, x, y, target->mask, dx, dy, w, h, MASKVANILLACOPY, 0, transparentPen);
        } else if (target->mask) {
            FillMaskRect(target->mask, dx, dy, w, h, MASKVISIBLE);
        } else if (target->alpha && !sourceAlpha) {
            FillBytePlaneRect(target->alpha, dx, dy, w, h, 255);
        }
        if ((flags & FXRECT_BLEND) && sourceMask && sourceRgb && target->rgb)
            CopyBitmapRectMasked(sourceRgb, x, y, target->rgb, dx, dy, w, h, sourceMask);
        else if ((flags & FXRECT_BLEND) && sourceAlpha && sourceRgb && target->rgb)
            BlendBitmapRect(sourceRgb, x, y, target->rgb, dx, dy, w, h, sourceAlpha);
        else
            CopyImageRect(sourceRgb, sourceChunky, x, y, target->rgb, target->chunky, dx, dy, w, h);
    }
    if (!(flags & FXRECT_NOPRESENT) && target->present) target->present(target->context, dx, dy, w, h);
}

void EffectRect(lvTransition *t, int32_t sx, int32_t sy, int32_t width, int32_t height, int32_t flags)
{
    // Bands that start before the picture (curtains, reveals near an edge) keep their
    // part inside it: cut, not dropped, so a picture one pixel long is still drawn.
    if (sx < 0) width += sx, sx = 0;
    if (sy < 0) height += sy, sy = 0;
    if (sx + (int64_t)width > t->width) width = t->width - sx;
    if (sy + (int64_t)height > t->height) height = t->height - sy;
    if (width <= 0 || height <= 0) return;
    if (t->workSet) {
        if (t->reverse) flags |= FXRECT_ERASE;
        if (t->replay || t->layerEffects || t->presentThroughBuffer) flags |= FXRECT_NOPRESENT;
        BlitEffectRect(t->newRgb, sx, sy, t->workSet, sx, sy, width, height, t->width, t->height, t->width, t->height,
                       t->newMask, t->newAlpha, t->newChunky, t->newPalette, t->transparentPen, t, flags);
        return;
    }
    BlitImage(t->state, t->newRgb, sx, sy, nullptr, nullptr, nullptr, 0, t->x + sx, t->y + sy, width, height, t->width,
              t->height, t->bgpicWidth, t->bgpicHeight, t->blitFlags, t->newMask, t->newAlpha, t->newChunky,
              t->newPalette, t->transparentPen, -1, -1, -1, t->clipRegion, nullptr);
    AddDamage(t, t->x + sx, t->y + sy, width, height);
}

void FillEffectRect(lvTransition *t, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t colour, int32_t pen,
                    int32_t flags)
{
    if (width <= 0 || height <= 0) return;
    if (t->workSet) {
        if (t->workSet->chunky) FillBytePlaneRect(t->workSet->chunky, x, y, width, height, pen);
        else if (t->workSet->rgb) FillBitmapRect(t->workSet->rgb, x, y, width, height, colour);
        if (!(flags & FXRECT_NOPRESENT) && t->workSet->present) t->workSet->present(t->workSet->context, x, y, width, height);
        return;
    }
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return;
    int dx = t->x + x, dy = t->y + y, w = width, h = height;
    ClipRectToBounds(0, 0, t->bgpicWidth, t->bgpicHeight, &dx, &dy, &w, &h);
    if (w <= 0 || h <= 0) return;
    lvBufferPair &pair = d->backgroundBuffer;
    if (pair.chunky) FillBytePlaneRect(pair.chunky, dx, dy, w, h, pen);
    if (pair.rgb) FillBitmapRect(pair.rgb, dx, dy, w, h, colour);
    AddDamage(t, dx, dy, w, h);
}

void SetGateEdges(lvTransition *t, int32_t length, int32_t frame)
{
    int32_t *edges = (int32_t *)t->effectState;
    int32_t half = (length + 1) / 2;
    edges[1] = half - t->step * frame;
    edges[0] = length - half + t->step * frame;
}

void FillAlphaFromSource(int32_t height, int32_t width, lvBitMapHandle *mask, lvBitMapHandle *alpha,
                         lvBitMapHandle *target)
{
    if (!target) return;
    if (mask) {
        FillBytePlaneRect(target, 0, 0, width, height, 0);
        ConvertMaskToAlpha(mask, 0, 0, target, 0, 0, width, height, 255);
    } else if (alpha) {
        CombineBytePlanes(alpha, 0, 0, target, 0, 0, width, height, 0, 0);
    } else {
        FillBytePlaneRect(target, 0, 0, width, height, 255);
    }
}

void FreeTransitionImages(lvTransition *t)
{
    if (t->ownsRgb) FreeBitmapHandle(t->newRgb);
    if (t->ownsMask) FreeBitmapHandle(t->newMask);
    if (t->ownsAlpha) FreeBitmapHandle(t->newAlpha);
    if (t->ownsChunky) FreeBitmapHandle(t->newChunky);
    if (t->ownsPalette) FreeMemory(t->newPalette);
    t->newRgb = t->newMask = t->newAlpha = t->newChunky = nullptr;
    t->newPalette = nullptr;
    t->ownsRgb = t->ownsMask = t->ownsAlpha = t->ownsChunky = t->ownsPalette = 0;
}

// ---- End of frame and seeking ------------------------------------------------------------------

void EndEffectFrame(lvTransition *t)
{
    if (t->workSet) {
        // A set whose rectangles were held back shows the whole picture once.
        if ((t->layerEffects || t->presentThroughBuffer) && !t->replay && t->workSet->present)
            t->workSet->present(t->workSet->context, 0, 0, t->width, t->height);
    } else if (!t->replay && t->damageX1 <= t->damageX2) {
        // The rectangles went into the work buffer unshown: one presentation of all of them.
        RefreshDisplayRect(t->state, t->damageX1, t->damageY1, t->damageX2 - t->damageX1 + 1,
                           t->damageY2 - t->damageY1 + 1, 0);
    }
    t->damageX1 = 1, t->damageX2 = 0;
}

int SeekTransition(int32_t frame, lvTransition *t, int32_t force)
{
    if (EffectFrameKind(t->effect) == 2) {
        t->runState = 2;
        t->frameIndex = frame;
        int32_t done = 0;
        int code = t->stepRoutine(t, &done);
        t->runState = 1;
        return code;
    }
    if (frame == t->frameIndex && !force) return 0;
    if (t->workSet)
        BlitEffectRect(t->newRgb, 0, 0, t->workSet, 0, 0, t->width, t->height, t->width, t->height, t->width,
                       t->height, nullptr, nullptr, nullptr, nullptr, -1, t,
                       FXRECT_ERASE | FXRECT_NOPRESENT | (t->reverse ? FXRECT_OPAQUE : 0));
    t->runState = 1;
    t->replay = 1;
    t->frameIndex = 0;
    int code = 0;
    for (int32_t i = 0; i < frame && !code; i++) {
        int32_t done = 0;
        code = t->stepRoutine(t, &done);
    }
    t->replay = 0;
    t->frameIndex = frame;
    return code;
}
