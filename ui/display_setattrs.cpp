// display_setattrs.cpp - SetDisplayAttributes on an existing display: the BGPic, the drag
// and size regions, the title, the style bits (a window whose frame changes is opened
// again with its inside where it was), the scale mode and size, the monitor and position.
//
// Depends on: ui/display.h, ui/display_windows.h, ui/display_draw.h.
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "ui/display.h"
#include "ui/menus.h"
#include "ui/display_modes.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"
#include "images/lvbgpic.h"
#include "raster/lvimage.h"
#include "raster/lvscale.h"

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

// The fill's pen of a palette display: "fillpen", else "color".
static int FillPenOf(const lvAttributeRequest *q)
{
    return q->fillPenGiven ? q->fillPen : (int)q->colour;
}

static void FreeTextureCopies(lvBGPicFill *fill)
{
    FreeBitmapHandle(fill->textureBitmap);
    FreeBitmapHandle(fill->texturePenBitmap);
    FreeMemory(fill->texturePalette);
    fill->textureBitmap = fill->texturePenBitmap = nullptr;
    fill->texturePalette = nullptr;
}

// A new fill of the display's own BGPic: its images are made again with it and copied
// into the buffers; on a failure the BGPic keeps its images and fill.
static int RefillOwnBGPic(lvState *L, lvDisplay *d, const lvAttributeRequest *q)
{
    lvBGPic *b = d->bgpic;
    int palette = IsPaletteDisplay(d);
    lvBGPicFill old = b->fill, fill = {};
    fill.style = q->fillStyle;
    fill.colour = palette ? (uint32_t)FillPenOf(q) : q->colour;
    fill.gradient = q->gradient;
    fill.textureBrush = q->textureBrush;
    fill.textureX = q->textureX;
    fill.textureY = q->textureY;
    fill.set = old.set;
    b->fill = fill;
    if (int err = RemakeOwnBGPicImages(d, b->scaledWidth, b->scaledHeight)) {
        FreeTextureCopies(&b->fill);
        b->fill = old;
        return err;
    }
    FreeTextureCopies(&old);
    d->fillStyle = fill.style;
    d->colour = fill.colour;
    d->gradient = fill.gradient;
    d->textureBrush = fill.textureBrush;
    d->textureX = fill.textureX;
    d->textureY = fill.textureY;
    if (d->select.doubleBufferActive) EndDisplayDoubleBuffer(L, d);
    if (int err = RemakeDisplayBuffers(d)) return err;
    if (GetCurrentDisplay() == d) SetCurrentOutput(d->bgpic);
    if (d->state == DISPSTATE_OPEN) RedrawDisplay(L, d, 0x80);
    return 0;
}

int ApplyDisplayAttributes(lvState *L, lvDisplay *d, const lvAttributeRequest *q)
{
    // The own BGPic's fill and size are checked before anything changes; a display
    // showing another BGPic has neither.
    int own = d->ownsBGPic && d->bgpic && !q->bgpicGiven;
    int pw = d->bgpic ? d->bgpic->scaledWidth : d->width, ph = d->bgpic ? d->bgpic->scaledHeight : d->height;
    if (own && q->fillGiven && IsPaletteDisplay(d)) {
        if (q->fillStyle != 1) return ERR_PALETTEFILL;
        int pen = FillPenOf(q);
        if (pen < 0 || pen >= (1 << d->bgpic->depth)) return ERR_PENRANGE;
    }
    int newWidth = q->width ? q->width : pw, newHeight = q->height ? q->height : ph;
    if (own && !DisplayPixelsFit(newWidth, newHeight)) return ERR_BITMAP;
    // A scale size beyond the pixel ceiling is refused before anything changes.
    if ((q->scaleWidth || q->scaleHeight) &&
        !DisplayPixelsFit(q->scaleWidth ? q->scaleWidth : d->width, q->scaleHeight ? q->scaleHeight : d->height))
        return ERR_WRONGUSAGE;
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
        if (!DisplayPixelsFit(w, h)) return ERR_WRONGUSAGE;
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
        // The inside stays where it was: the outer corner moves by the change of frame;
        // "forcexy" keeps the corner instead.
        int insideX = d->x + d->borderLeft, insideY = d->y + d->borderTop;
        if (int err = CloseDisplayCore(L, d, 1 | 0x20 | 2)) return err;
        d->styleFlags = flags;
        d->styleFlags2 = flags2;
        DetermineBorderSizes(d);
        if (!q->forceXY) {
            d->x = insideX - d->borderLeft;
            d->y = insideY - d->borderTop;
        }
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
        } else if (q->bgpicGiven && d->state == DISPSTATE_OPEN && !q->keepShownView) {
            RedrawDisplay(L, d, 0x80);
        }
    }
    // 6. The own BGPic's fill, 7. its size.
    if (own && q->fillGiven)
        if (int err = RefillOwnBGPic(L, d, q)) return err;
    if (own && (newWidth != pw || newHeight != ph)) {
        int bits = (d->scaledCoordinates ? 0x20 : 1) | (d->state == DISPSTATE_CLOSED ? 2 : 0);
        if (int err = ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, newWidth, newHeight, bits)) return err;
    }
    if (q->menuGiven)
        if (int err = AttachDisplayMenu(L, d, q->menu)) return err;
    if (q->orientationGiven) d->orientation = q->orientation;
    if (q->immersiveGiven) d->immersiveMode = q->immersiveMode;
    // Monitor and position.
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

static void FreeShowGrab(lvShowBGPicGrab *g)
{
    FreeBitmapHandle(g->newBitmap);
    FreeBitmapHandle(g->oldView);
    FreeBitmapHandle(g->newPaletteBitmap);
    FreeBitmapHandle(g->oldPaletteBitmap);
    FreeMemory(g->newPalette);
    FreeMemory(g->oldPalette);
    *g = {};
}

static uint32_t *CopyPens(const uint32_t *palette)
{
    if (!palette) return nullptr;
    uint32_t *copy = (uint32_t *)AllocMemory(256 * sizeof(uint32_t), 0);
    if (copy) std::memcpy(copy, palette, 256 * sizeof(uint32_t));
    return copy;
}

// The old view: what the display shows now (its picture buffer), with the BGPic's pens.
static int GrabShownView(lvDisplay *d, lvShowBGPicGrab *g)
{
    lvBufferPair &shown = d->pictureBuffer;
    lvBitMapHandle *any = shown.rgb ? shown.rgb : shown.chunky;
    if (!any) return 0;
    lvPictureSet source = {shown.rgb, nullptr, nullptr, shown.chunky, nullptr}, copy = {};
    if (int err = DuplicateImage(&source, 0, 0, any->width, any->height, 0, 0, nullptr, &copy)) return err;
    g->oldView = copy.rgb;
    g->oldPaletteBitmap = copy.chunky;
    g->oldDepth = d->bgpic && d->bgpic->palette ? d->bgpic->depth : 24;
    if (copy.chunky && d->bgpic && d->bgpic->palette && !(g->oldPalette = CopyPens(d->bgpic->palette))) {
        FreeShowGrab(g);
        return ERR_MEM;
    }
    return 0;
}

// The new picture as the display shows it, and the old view at the new size (unless
// the display scales its picture) copied into both work buffers, so the display still
// shows the old picture until the transition draws.
static int TakeNewPicture(lvDisplay *d, lvBGPic *b, lvShowBGPicGrab *g)
{
    int w = b->shownWidth, h = b->shownHeight;
    lvPictureSet source = {b->shown.bitmap, nullptr, nullptr, b->shown.penBitmap, nullptr}, copy = {};
    if (int err = DuplicateImage(&source, 0, 0, w, h, 0, 0, nullptr, &copy)) return err;
    g->newBitmap = copy.rgb;
    g->newPaletteBitmap = copy.chunky;
    g->newDepth = b->palette ? b->depth : 24;
    if (b->palette && !(g->newPalette = CopyPens(b->palette))) return ERR_MEM;
    lvBitMapHandle *old = g->oldView ? g->oldView : g->oldPaletteBitmap;
    if (old && (old->width != w || old->height != h) && !d->autoscale) {
        lvBitMapHandle *rgb = nullptr, *pens = nullptr;
        if (int err = ScaleImage(g->oldView, nullptr, nullptr, g->oldPaletteBitmap, 0, 0, nullptr, nullptr,
                                 old->width, old->height, w, h, 0, nullptr, &rgb, nullptr, nullptr, &pens))
            return err;
        FreeBitmapHandle(g->oldView);
        FreeBitmapHandle(g->oldPaletteBitmap);
        g->oldView = rgb;
        g->oldPaletteBitmap = pens;
    }
    return 0;
}

int ShowBGPic(lvState *L, lvObjectId id, int x, int y, int grab, lvShowBGPicGrab *out)
{
    if (out) *out = {};
    lvBGPic *b = nullptr;
    if (int err = FindBGPicById(id, &b, 0)) return err;
    lvDisplay *d = GetCurrentDisplay();
    if (!d) return ERR_OUTPUTDEVICE;
    if (grab && !out) return ERR_WRONGUSAGE;
    // A transition keeps what the display showed before, to draw the new picture over it.
    lvShowBGPicGrab g = {};
    if (grab) {
        if (int err = GrabShownView(d, &g)) return err;
    }
    // Large (two region lists): on the heap.
    struct Owned {
        lvAttributeRequest *q = (lvAttributeRequest *)AllocMemory(sizeof(lvAttributeRequest), 1);
        ~Owned() { FreeMemory(q); }
    } owned;
    lvAttributeRequest *q = owned.q;
    if (!q) {
        FreeShowGrab(&g);
        return ERR_MEM;
    }
    StartAttributeRequest(d, q);
    q->bgpicGiven = 1;
    q->bgpic = id;
    // Presenting here would flash the new picture before the effect's first frame.
    q->keepShownView = grab;
    // 100000 keeps a coordinate, and so does 200000 (DisplayBGPic without a position).
    q->xGiven = x != LV_KEEPPOSITION && x != 2 * LV_KEEPPOSITION;
    q->yGiven = y != LV_KEEPPOSITION && y != 2 * LV_KEEPPOSITION;
    q->x = x;
    q->y = y;
    int err = ApplyDisplayAttributes(L, d, q);
    FreeDetachedBGPics();
    if (grab) {
        if (!err) err = TakeNewPicture(d, b, &g);
        if (err) {
            FreeShowGrab(&g);
            return err;
        }
        *out = g;
    }
    return err;
}
