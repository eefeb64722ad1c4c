// display_setattrs.cpp - SetDisplayAttributes on an existing display: the BGPic, the drag
// and size regions, the title, the style bits (a window whose frame changes is opened
// again with its inside where it was), the scale mode and size, the monitor and position.
//
// Depends on: ui/display.h, ui/display_windows.h, ui/display_draw.h.
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "ui/display.h"
#include "ui/display_modes.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"

// Style bits that shape the window itself: changing one opens the window again.
static const uint32_t windowBits = DSTYLE_BORDERLESS | DSTYLE_SIZEABLE | DSTYLE_FIXED | DSTYLE_ALWAYSONTOP |
                                   DSTYLE_HIDEFROMTASKBAR | DSTYLE_NOCLOSE | DSTYLE_MAXIMIZED;

static int ShownByAnother(const lvDisplay *d, const lvBGPic *b)
{
    for (lvDisplay *o = FirstDisplay(); o; o = (lvDisplay *)o->header.next)
        if (o != d && o->bgpic == b) return 1;
    return 0;
}

// Back to 1:1: the window takes the picture's size.
static void StopScaling(lvDisplay *d)
{
    d->autoscale = d->layerScale = 0;
    d->styleFlags &= ~(DSTYLE_AUTOSCALE | DSTYLE_LAYERSCALE);
    d->scaleWidth = d->scaleHeight = 0;
    d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
    d->scaleX = d->scaleY = 1.0;
    if (d->bgpic) {
        d->width = d->bgpic->scaledWidth;
        d->height = d->bgpic->scaledHeight;
    }
    // Under double buffering the whole picture is presented next.
    if (d->select.doubleBufferActive) d->damageCount = d->damageCapacity;
}

int ApplyDisplayAttributes(lvState *L, lvDisplay *d, const lvAttributeRequest *q)
{
    // 1. The BGPic: one display shows it at a time.
    if (q->bgpicGiven) {
        lvBGPic *b = nullptr;
        if (int err = FindBGPicById(q->bgpic, &b, 0)) return err;
        if (ShownByAnother(d, b)) return ERR_MULTIBGPIC;
        if (b != d->bgpic) {
            if (d->select.doubleBufferActive) EndDisplayDoubleBuffer(L, d);
            if (d->ownsBGPic && d->bgpic) UnlinkBGPicById(GetObjectIdOf(&d->bgpic->header));
            d->bgpic = b;
            d->ownsBGPic = 0;
            if (!d->autoscale && !d->layerScale) {
                d->width = b->scaledWidth;
                d->height = b->scaledHeight;
            } else {
                FitDisplayPicture(d, d->width, d->height);
            }
            if (int err = RemakeDisplayBuffers(d)) return err;
            if (GetCurrentDisplay() == d && !d->select.doubleBufferActive) SetCurrentOutput(d->bgpic);
        }
    }
    // 2. Regions.
    if (q->dragGiven) {
        std::memcpy(d->dragRegions, q->dragRegions, sizeof d->dragRegions);
        d->dragRegionCount = q->dragRegionCount;
        d->dragRegionsGiven = 1;
    }
    if (q->sizeGiven) {
        std::memcpy(d->sizeRegions, q->sizeRegions, sizeof d->sizeRegions);
        d->sizeRegionCount = q->sizeRegionCount;
        d->sizeRegionsGiven = 1;
    }
    // 3. Title.
    if (q->titleGiven) SetDisplayTitle(d, q->title);
    // 4. Style bits.
    uint32_t flags = (d->styleFlags | q->setFlags) & ~q->clearFlags;
    uint32_t flags2 = (d->styleFlags2 | q->setFlags2) & ~q->clearFlags2;
    int reopen = d->state != DISPSTATE_CLOSED && ((flags ^ d->styleFlags) & windowBits);
    d->smoothScale = (flags & DSTYLE_SMOOTHSCALE) != 0 || (d->smoothScale && !(q->clearFlags & DSTYLE_SMOOTHSCALE));
    // 5. Scale mode and size.
    int rescale = 0;
    if (q->scaleMode == 0 && (d->autoscale || d->layerScale)) {
        StopScaling(d);
        flags &= ~(DSTYLE_AUTOSCALE | DSTYLE_LAYERSCALE);
        rescale = 1;
    } else if (q->scaleMode == 1 || q->scaleWidth || q->scaleHeight) {
        if (q->scaleMode == 2) return ERR_UNIMPLCMD;  // layer scale comes with the layer engine
        int w = q->scaleWidth ? q->scaleWidth : d->width, h = q->scaleHeight ? q->scaleHeight : d->height;
        d->autoscale = 1;
        flags |= DSTYLE_AUTOSCALE;
        d->styleFlags = flags;
        FitDisplayPicture(d, w, h);
        d->width = w;
        d->height = h;
        rescale = 1;
    } else if (q->scaleMode == 2) {
        return ERR_UNIMPLCMD;
    }
    if (reopen) {
        // The inside stays where it was: the outer corner moves by the change of frame.
        int insideX = d->x + d->borderLeft, insideY = d->y + d->borderTop;
        if (int err = CloseDisplayCore(L, d, 1 | 0x20 | 2)) return err;
        d->styleFlags = flags;
        d->styleFlags2 = flags2;
        DetermineBorderSizes(d);
        d->x = insideX - d->borderLeft;
        d->y = insideY - d->borderTop;
        d->relativeX = d->relativeY = 0;
        if (int err = RealizeDisplay(L, d, 2)) return err;
    } else {
        d->styleFlags = flags;
        d->styleFlags2 = flags2;
        if (rescale && d->state != DISPSTATE_CLOSED) {
            if (GetDisplayAdapter()) {
                if (int err = ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, d->width, d->height, 4 | 2))
                    return err;
            } else if (d->window) {
                WindowOps()->MoveSizeDisplayWindow(d->window, d->x, d->y, d->width, d->height);
                ApplyWindowPresentation(d);
            }
            RedrawDisplay(L, d, 0x80);
        } else if (q->bgpicGiven && d->state == DISPSTATE_OPEN) {
            RedrawDisplay(L, d, 0x80);
        }
    }
    // 6. Monitor and position.
    if (q->monitor >= 0 && q->monitor != d->monitor) {
        d->monitor = q->monitor;
        if (!q->xGiven && !q->yGiven)
            if (int err = MoveDisplayTo(d, LV_CENTER, LV_CENTER)) return err;
        if (int err = FollowMonitorWithBackfill(L, d)) return err;
    }
    if (q->xGiven || q->yGiven)
        if (int err = MoveDisplayTo(d, q->xGiven ? q->x : LV_KEEPPOSITION, q->yGiven ? q->y : LV_KEEPPOSITION))
            return err;
    return 0;
}
