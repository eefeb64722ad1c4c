// display_draw.cpp - drawing reaching displays: what the raster engine and the selections
// see of a display, the presentation services the blit calls, the damage list, double
// buffering with Flip, and Cls.
//
// A display keeps its picture buffer as the copy of what it shows: whatever the blit
// presents is copied there first, so that a window that must be redrawn (a reset
// renderer, a restore, a resize) shows the same pixels again. While double buffering the
// front buffer takes that role.
//
// Depends on: ui/display.h, ui/display_draw.h, images/lvoffscreen.h, raster/lvplanes.h.
#include "ui/display_draw.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvdraw.h"
#include "images/lvpaint.h"
#include "images/lvshape.h"
#include "platform/lvplatform.h"
#include "raster/lvblit.h"
#include "raster/lvkernels.h"
#include "raster/lvplanes.h"
#include "raster/lvrect.h"
#include "ui/display_mirrors.h"
#include "ui/display_windows.h"

static lvPluginRecord *Adapter(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a ? a->record : nullptr;
}

static lvDisplay *OwnerOf(lvBlitDisplay *b) { return b ? (lvDisplay *)b->owner : nullptr; }

// ---- What the blit sees ---------------------------------------------------------------------

void SyncDisplayBlit(lvDisplay *d)
{
    lvBlitDisplay &b = d->select.blit;
    lvBlitPicture &p = d->blitPicture;
    b.owner = d;
    p.owner = d->bgpic;
    if (d->bgpic) {
        p.width = d->bgpic->scaledWidth;
        p.height = d->bgpic->scaledHeight;
        p.depth = d->bgpic->palette ? d->bgpic->depth : 0;
        p.palette = d->bgpic->palette;
        p.pair = {d->bgpic->scaled.bitmap, d->bgpic->scaled.penBitmap};
        p.scaledPair = {d->bgpic->shown.bitmap, d->bgpic->shown.penBitmap};
        p.scaledWidth = d->bgpic->shownWidth;
        p.scaledHeight = d->bgpic->shownHeight;
        b.picture = &p;
    } else {
        b.picture = nullptr;
    }
    b.layers = d->select.layersOn;
    b.background = d->backgroundBuffer;
    b.shown = d->pictureBuffer;
    // A palette display's drawing reaches only its pens; the RGB bitmap beside them is
    // what is presented, remade from the pens.
    if (IsPaletteDisplay(d)) b.background.rgb = b.shown.rgb = nullptr;
    // The picture buffer is the picture's size; the window scales it, so the blit never
    // keeps a second, scaled copy.
    b.scaling = 0;
    b.scaledWidth = p.width;
    b.scaledHeight = p.height;
    b.hardwareDoubleBuffer = d->adapterDoubleBuffer;
    b.doubleBufferActive = d->select.doubleBufferActive;
    d->select.ownBGPic = d->bgpic;
}

static lvSelectDisplay *CurrentSelectDisplay(void)
{
    lvDisplay *d = GetCurrentDisplay();
    return d ? &d->select : nullptr;
}

void MakeDisplayCurrentForDrawing(lvDisplay *d)
{
    if (d) SyncDisplayBlit(d);
    RasterState.currentDisplay = d ? &d->select.blit : nullptr;
}

// ---- Presentation ------------------------------------------------------------------------

// The bitmap whose pixels the display shows: the front buffer while double buffering.
static lvBitMapHandle *ShownBitmap(const lvDisplay *d)
{
    return d->frontBuffer.rgb ? d->frontBuffer.rgb : d->pictureBuffer.rgb;
}

static int ClipToBitmap(lvBitMapHandle *b, int *x, int *y, int *w, int *h)
{
    if (!b) return 0;
    ClipRectToBounds(0, 0, b->width, b->height, x, y, w, h);
    return *w > 0 && *h > 0;
}

// The pens a palette display shows: the front buffer's while double buffering.
static lvBitMapHandle *ShownPens(const lvDisplay *d)
{
    return d->frontBuffer.chunky ? d->frontBuffer.chunky : d->pictureBuffer.chunky;
}

// Every pen of the rectangle as its colour, pen 0 and all.
static void ShowPens(lvBitMapHandle *pens, int sx, int sy, lvBitMapHandle *shown, int x, int y, int width, int height,
                     const uint32_t *palette)
{
    lvChunkyBlit c{};
    c.source = pens;
    c.sourceX = sx;
    c.sourceY = sy;
    c.target = shown;
    c.targetX = x;
    c.targetY = y;
    c.width = width;
    c.height = height;
    c.palette = palette;
    c.transparentPen = -1;
    c.writeAll = 1;
    BlitChunkyToRgb(&c);
}

void ConvertDisplayPens(lvDisplay *d, lvBitMapHandle *source, int x, int y, int width, int height)
{
    lvBitMapHandle *shown = ShownBitmap(d);
    if (!shown || !source || !IsPaletteDisplay(d)) return;
    ClipRectToBounds(0, 0, std::min(shown->width, source->width), std::min(shown->height, source->height), &x, &y,
                     &width, &height);
    if (width < 1 || height < 1) return;
    uint32_t colours[256];
    for (int i = 0; i < 256; i++) colours[i] = 0xFF000000u | (d->bgpic->palette[i] & 0xFFFFFFu);
    ShowPens(source, x, y, shown, x, y, width, height, colours);
}

// An RGB rectangle reaching a palette display becomes its nearest pens.
static void RgbToDisplayPens(lvDisplay *d, lvBitMapHandle *rgb, int sx, int sy, lvBitMapHandle *pens, int x, int y,
                             int w, int h)
{
    lvScopedLock from(rgb, LOCK_READONLY);
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = from ? GetPlanePixels(pens, &pixels, &rowBytes, 1) : 0;
    if (!token) return;
    for (int j = 0; j < h; j++)
        for (int i = 0; i < w; i++)
            if (sx + i < rgb->width && sy + j < rgb->height)
                pixels[(size_t)(y + j) * rowBytes + x + i] = (uint8_t)FindNearestPen(
                    ReadLockPixel(&from.lock, sx + i, sy + j) & 0xFFFFFF, d->bgpic->palette, d->bgpic->depth);
    ReleasePlanePixels(token);
}

// What reaches a palette display is kept as pens; the colours are presented.
static void BlitToPaletteDisplay(lvDisplay *d, lvBitMapHandle *rgb, int sx, int sy, int tx, int ty, int width,
                                 int height, lvBitMapHandle *chunky)
{
    lvBitMapHandle *pens = ShownPens(d);
    if (!pens) return;
    int x = tx, y = ty, w = width, h = height;
    if (!ClipToBitmap(pens, &x, &y, &w, &h)) return;
    sx += x - tx;
    sy += y - ty;
    if (chunky && chunky != pens) CombineBytePlanes(chunky, sx, sy, pens, x, y, w, h, 0, 0);
    else if (!chunky && rgb) RgbToDisplayPens(d, rgb, sx, sy, pens, x, y, w, h);
    ConvertDisplayPens(d, pens, x, y, w, h);
    if (d->refreshMode) return;
    PresentDisplayRect(d, x, y, w, h);
}

// Copies a rectangle of the source into what the display shows, then presents it.
static void ServiceBlitToDisplay(void *, lvBitMapHandle *rgb, int sx, int sy, lvBlitDisplay *bd, int tx, int ty,
                                 int width, int height, lvBitMapHandle *chunky, const uint32_t *palette, int)
{
    lvDisplay *d = OwnerOf(bd);
    if (!d) return;
    if (IsPaletteDisplay(d)) return BlitToPaletteDisplay(d, rgb, sx, sy, tx, ty, width, height, chunky);
    lvBitMapHandle *shown = ShownBitmap(d);
    if (!shown) return;
    // Clip the target, moving the source with it.
    int x = tx, y = ty, w = width, h = height;
    if (!ClipToBitmap(shown, &x, &y, &w, &h)) return;
    sx += x - tx;
    sy += y - ty;
    if (rgb && rgb != shown) {
        CopyBitmapRect(rgb, sx, sy, shown, x, y, w, h);
    } else if (!rgb && chunky && palette) {
        ShowPens(chunky, sx, sy, shown, x, y, w, h, palette);
    }
    // In refresh mode the whole picture is shown at EndRefresh.
    if (d->refreshMode) return;
    PresentDisplayRect(d, x, y, w, h);
}

// A hardware double buffer takes the request whole: the adapter draws the source itself.
static void ServicePresentHardware(void *, lvBlitDisplay *bd, const lvBlitRequest *r)
{
    lvDisplay *d = OwnerOf(bd);
    lvPluginRecord *a = Adapter();
    if (!d || !a || !d->handle || !r->sourceRgb) return;
    lvAdapterBlit blit;
    std::memset(&blit, 0, sizeof blit);
    blit.sourceX = r->sourceX;
    blit.sourceY = r->sourceY;
    blit.destX = r->targetX;
    blit.destY = r->targetY;
    blit.width = r->width;
    blit.height = r->height;
    blit.transformFlags = -1;
    blit.transparentPen = -1;
    bool owns = AdapterOwnsBitmaps();
    auto backing = [owns](lvBitMapHandle *h) -> void * { return !h ? nullptr : owns ? h->backing : (void *)h; };
    blit.mask = backing(r->mask);
    blit.alpha = backing(r->alpha);
    // A source the adapter draws through a transform or with a transparency keeps its
    // pixels: the matrix, its anchor and the opacity travel in the descriptor.
    if (const lvHardwareTransform *t = r->transform) {
        blit.transform = t->matrix;
        blit.offsetX = t->anchorX;
        blit.offsetY = t->anchorY;
        blit.transformFlags = t->transparency;
    }
    uint32_t flags = r->alpha ? LVP_BLIT_ALPHA : 0;
    ((lvAdapterBltBitMapFunction)a->BltBitMap)(backing(r->sourceRgb), d->handle, &blit, flags, 0);
}

static void ServiceAddDamage(void *, lvBlitDisplay *bd, int x, int y, int width, int height)
{
    lvDisplay *d = OwnerOf(bd);
    // Only the back buffer's own drawing counts; a selection made meanwhile draws elsewhere.
    if (d && d->select.doubleBufferActive && d->select.blit.target.bitmap == d->backBuffer.rgb)
        AddDisplayDamage(d, x, y, width, height);
}

// ---- Plain boxes straight into a display -------------------------------------------------

// A rectangle of one colour into the buffer being drawn: the back buffer of a hardware
// double buffer (shown at Flip), else the shown picture, which is then presented.
static void ServiceFillDisplayRect(void *context, int x, int y, int width, int height, uint32_t colour, int style)
{
    lvDisplay *d = (lvDisplay *)context;
    const bool back = d->select.doubleBufferActive && d->adapterDoubleBuffer;
    if (back) {
        // The adapter keeps the back buffer: it fills the rectangle there itself.
        lvPluginRecord *a = Adapter();
        if (!a || !d->handle || !d->bgpic || !a->RectFill) return;
        ClipRectToBounds(0, 0, d->bgpic->scaledWidth, d->bgpic->scaledHeight, &x, &y, &width, &height);
        if (width < 1 || height < 1) return;
        auto fill = (lvAdapterRectFillFunction)a->RectFill;
        uint32_t opaque = ConvertColorForAdapter(colour & 0xFFFFFF, 0);
        if (style == FILLNONE) {
            fill(d->handle, x, y, width, 1, opaque, 0, 0);
            fill(d->handle, x, y + height - 1, width, 1, opaque, 0, 0);
            fill(d->handle, x, y, 1, height, opaque, 0, 0);
            fill(d->handle, x + width - 1, y, 1, height, opaque, 0, 0);
        } else if (style != FILLGRADIENT) {
            fill(d->handle, x, y, width, height, opaque, 0, 0);
        }
        return;
    }
    lvBitMapHandle *b = ShownBitmap(d);
    if (!ClipToBitmap(b, &x, &y, &width, &height)) return;
    // The background buffer keeps the box too, as it keeps direct lines and pixels: it is
    // what ReadPixel reads and what shapes drawn through images are blitted into.
    lvBitMapHandle *background = d->backgroundBuffer.rgb != b ? d->backgroundBuffer.rgb : nullptr;
    if (background && (background->width < x + width || background->height < y + height)) background = nullptr;
    for (lvBitMapHandle *t : {b, background}) {
        if (!t) continue;
        if (style == FILLNONE) {
            FillBitmapRect(t, x, y, width, 1, colour);
            FillBitmapRect(t, x, y + height - 1, width, 1, colour);
            FillBitmapRect(t, x, y, 1, height, colour);
            FillBitmapRect(t, x + width - 1, y, 1, height, colour);
        } else if (style != FILLGRADIENT) {
            FillBitmapRect(t, x, y, width, height, colour);
        } else if (t != b) {  // the gradient is in the shown buffer already
            CopyBitmapRect(b, x, y, t, x, y, width, height);
        }
    }
    if (d->refreshMode) return;
    PresentDisplayRect(d, x, y, width, height);
}

static void ServiceShapeDamage(void *context, int x, int y, int width, int height)
{
    AddDisplayDamage((lvDisplay *)context, x, y, width, height);
}

// ---- One-pixel lines straight onto a display ------------------------------------------------


// The adapter's Line when it draws lines itself (offscreen word bit 0x20), else null.
static lvAdapterLineFunction AdapterLine(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a && (a->offscreen & ACCEL_LINE) && a->record->Line ? (lvAdapterLineFunction)a->record->Line : nullptr;
}

// The line goes into the display's buffers and, where the adapter draws lines, straight
// into its window; otherwise the buffers are shown over the line's box. Lines the blit
// must compose (sprites, videos, a picture with transparency, pens) take the image path.
static int ServiceDisplayLine(lvBlitDisplay *bd, const lvDisplayLine *l)
{
    lvDisplay *d = OwnerOf(bd);
    if (!d || !d->bgpic) return 0;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    const bool hardware = d->select.doubleBufferActive && d->adapterDoubleBuffer &&
                          GetCurrentOutput() == d->select.backBufferRecord;
    if (!hardware && (d->select.blit.target.kind != OUTPUT_DISPLAY || d->select.doubleBufferActive)) return 0;
    if (l->transparency && !(hardware && a && (a->flags & LVP_ADAPTER_REALALPHA))) return 0;
    if (d->videoFrames || d->bgpic->sprites || d->bgpic->palette || BGPicHasTransparency(d->bgpic)) return 0;
    // The clip region's rectangle, never beyond the output: the adapter gets only points
    // on its display.
    int left = 0, top = 0, right = l->width - 1, bottom = l->height - 1;
    if (const lvClipRegion *c = l->clip) {
        left = std::max(left, c->x), top = std::max(top, c->y);
        right = std::min<int64_t>(right, int64_t(c->x) + c->width - 1);
        bottom = std::min<int64_t>(bottom, int64_t(c->y) + c->height - 1);
    }
    if (right < left || bottom < top) return 1;
    int x1 = l->x1, y1 = l->y1, x2 = l->x2, y2 = l->y2;
    if (!ClipLineToRange(&x1, &y1, &x2, &y2, left, right) || !ClipLineToRange(&y1, &x1, &y2, &x2, top, bottom))
        return 1;
    lvAdapterLineFunction line = AdapterLine();
    if (hardware) {
        // The adapter's own back buffer: only its Line reaches it.
        if (!line || !d->handle) return 0;
        line(d->handle, x1, y1, x2, y2, ConvertColorForAdapter(l->colour, 0), 0);
        return 1;
    }
    const uint32_t rgb = l->colour & 0xFFFFFF;
    lvBitMapHandle *shown = ShownBitmap(d);
    if (d->backgroundBuffer.rgb && d->backgroundBuffer.rgb != shown)
        PlotLineOnBitmap(d->backgroundBuffer.rgb, x1, y1, x2, y2, rgb);
    if (shown) PlotLineOnBitmap(shown, x1, y1, x2, y2, rgb);
    if (d->refreshMode) return 1;  // shown whole at EndRefresh
    // A window that shows the picture scaled is refreshed from the buffers instead.
    const bool scaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    if (line && d->handle && d->state == DISPSTATE_OPEN && !scaled) {
        line(d->handle, x1, y1, x2, y2, ConvertColorForAdapter(rgb, 0), 0);
        NotifyMirrorsOfLine(d, x1, y1, x2, y2, rgb);
        return 1;
    }
    PresentDisplayRect(d, std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1) + 1, std::abs(y2 - y1) + 1);
    return 1;
}


// One pixel of a display buffer: through the adapter when it holds the buffer, else
// into its locked pixels.
static void WriteBufferPixel(lvBitMapHandle *b, int x, int y, uint32_t colour)
{
    if (x < 0 || y < 0 || x >= b->width || y >= b->height) return;
    if (AdapterOwnsBitmaps() || b->video) {
        PlotBitmapPixel(b, x, y, colour, 0);
        return;
    }
    lvScopedLock lock(b, 0);
    if (lock) WriteLockPixel(&lock.lock, colour, x, y);
}

// An opaque pixel into the display's buffers and, where the adapter writes pixels
// (offscreen word bit 0x10), straight into its window; otherwise the pixel is shown from
// the buffers. What the blit must compose takes the image path, as lines do.
static int ServiceDisplayPixel(lvBlitDisplay *bd, int x, int y, uint32_t colour)
{
    lvDisplay *d = OwnerOf(bd);
    if (!d || !d->bgpic) return 0;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    lvAdapterWritePixelFunction write =
        a && (a->offscreen & ACCEL_PIXEL) && a->record->WritePixel ? (lvAdapterWritePixelFunction)a->record->WritePixel
                                                                   : nullptr;
    const bool hardware = d->select.doubleBufferActive && d->adapterDoubleBuffer &&
                          GetCurrentOutput() == d->select.backBufferRecord;
    if (hardware) {
        if (!write || !d->handle) return 0;
        write(d->handle, x, y, ConvertColorForAdapter(colour, 0), 0, nullptr);
        return 1;
    }
    if (d->select.blit.target.kind != OUTPUT_DISPLAY || d->select.doubleBufferActive) return 0;
    if (d->videoFrames || d->bgpic->sprites || d->bgpic->palette || BGPicHasTransparency(d->bgpic)) return 0;
    lvBitMapHandle *shown = ShownBitmap(d);
    if (d->backgroundBuffer.rgb && d->backgroundBuffer.rgb != shown) WriteBufferPixel(d->backgroundBuffer.rgb, x, y, colour);
    if (shown) WriteBufferPixel(shown, x, y, colour);
    if (d->refreshMode) return 1;
    const bool scaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    if (write && d->handle && d->state == DISPSTATE_OPEN && !scaled) {
        write(d->handle, x, y, ConvertColorForAdapter(colour, 0), 0, nullptr);
        NotifyMirrorsOfPixel(d, x, y, colour);
        return 1;
    }
    PresentDisplayRect(d, x, y, 1, 1);
    return 1;
}

void CompleteDisplayShapeOutput(lvShapeOutput *out, lvBlitDisplay *bd)
{
    lvDisplay *d = OwnerOf(bd);
    if (!d) return;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    out->context = d;
    out->adapterInstalled = a != nullptr;
    out->adapterRealAlpha = a && (a->flags & LVP_ADAPTER_REALALPHA);
    if (out->kind == OUTPUT_DISPLAY) {
        out->canDrawToWindow = d->window != nullptr;
        out->rgb = ShownBitmap(d);
        // Palette displays keep pens beside their colours; the image path keeps both.
        if (!out->palette && out->rgb) out->FillDisplayRect = ServiceFillDisplayRect;
    } else if (d->select.doubleBufferActive && d->adapterDoubleBuffer) {
        // The adapter's back buffer: no pixels of ours, boxes go to its RectFill.
        out->hardwareDoubleBuffer = 1;
        out->FillDisplayRect = ServiceFillDisplayRect;
    } else if (d->select.doubleBufferActive && out->rgb && out->rgb == d->backBuffer.rgb) {
        out->softwareDoubleBuffer = 1;
        out->AddDamage = ServiceShapeDamage;
    }
}

// Hardware brushes belong to a display the adapter has opened: the one named, else the
// current one. Without video bitmaps "hardware" means nothing and no display is needed.
static int ResolveBrushDisplay(lvObjectId id, void **display, lvObjectId *resolved)
{
    *display = nullptr;
    if (resolved) *resolved = {0, nullptr};
    if (!(QueryBitmapCaps(8) & 8)) return 0;
    lvDisplay *d = nullptr;
    if (!id.number && !id.handle) d = GetCurrentDisplay();
    else if (int code = FindDisplayById(id, &d)) return code;
    if (!d || !d->handle) return ERR_HWBMCLOSEDISP;
    *display = d;
    if (resolved) *resolved = GetObjectIdOf(&d->header);
    return 0;
}

void InstallDisplayDrawing(void)
{
    SetHardwareDisplayResolver(ResolveBrushDisplay);
    RasterState.services.BlitToDisplay = ServiceBlitToDisplay;
    RasterState.services.PresentDisplayRect = ServicePresentHardware;
    RasterState.services.AddDisplayDamage = ServiceAddDamage;
    SetShapeOutputHook(CompleteDisplayShapeOutput);
    SetDisplayLineHook(ServiceDisplayLine);
    SetDisplayPixelHook(ServiceDisplayPixel);
    SetSelectDisplayQuery(CurrentSelectDisplay);
}

// ---- Damage -------------------------------------------------------------------------------

static lvDamageRect *DamageOf(lvDisplay *d) { return (lvDamageRect *)d->damage; }

void AddDisplayDamage(lvDisplay *d, int x, int y, int width, int height)
{
    if (!d->damage || width < 1 || height < 1) return;
    if (d->damageCount >= d->damageCapacity) return;  // everything is damaged already
    int pw = d->bgpic ? d->bgpic->scaledWidth : 0, ph = d->bgpic ? d->bgpic->scaledHeight : 0;
    if (x <= 0 && y <= 0 && x + width >= pw && y + height >= ph) {
        d->damageCount = d->damageCapacity;
        return;
    }
    DamageOf(d)[d->damageCount++] = {x, y, x + width - 1, y + height - 1};
}

int DamageMeansEverything(const lvDisplay *d) { return d->damage && d->damageCount >= d->damageCapacity; }

int MergeDamageRects(lvDamageRect *rects, int count)
{
    for (int i = 0; i < count; i++) {
        if (rects[i].x1 == LV_DAMAGE_MERGED) continue;
        for (int j = 0; j < count; j++) {
            if (j == i || rects[j].x1 == LV_DAMAGE_MERGED) continue;
            lvDamageRect &a = rects[i], &b = rects[j];
            // Overlapping, touching, or with a gap of at most one pixel on both axes.
            if (a.x1 <= b.x2 + 2 && b.x1 <= a.x2 + 2 && a.y1 <= b.y2 + 2 && b.y1 <= a.y2 + 2) {
                a = {std::min(a.x1, b.x1), std::min(a.y1, b.y1), std::max(a.x2, b.x2), std::max(a.y2, b.y2)};
                b.x1 = LV_DAMAGE_MERGED;
            }
        }
    }
    return (int)std::count_if(rects, rects + count, [](const lvDamageRect &r) { return r.x1 != LV_DAMAGE_MERGED; });
}

int AddDirtyRect(lvDirtyRectList *list, int x, int y, int width, int height, int mayGrow)
{
    if (width < 1 || height < 1) return 0;
    if (list->count >= list->capacity) {
        if (!mayGrow || list->capacity >= LV_DIRTYRECTS_MAX) return 0;
        int capacity = list->capacity + 1024;
        auto *rects = (lvDirtyRect *)AllocMemory((size_t)capacity * sizeof(lvDirtyRect), 0);
        if (!rects) return ERR_MEM;
        if (list->count) std::memcpy(rects, list->rects, (size_t)list->count * sizeof(lvDirtyRect));
        FreeMemory(list->rects);
        list->rects = rects, list->capacity = capacity;
    }
    list->rects[list->count++] = {x, y, width, height};
    return 0;
}

int MergeDirtyRects(lvDirtyRectList *list)
{
    // The damage rule works on inclusive corners: convert, merge, convert back.
    int n = list->count;
    for (int i = 0; i < n; i++) {
        lvDirtyRect &r = list->rects[i];
        if (r.x == LV_DAMAGE_MERGED) continue;
        for (int j = 0; j < n; j++) {
            lvDirtyRect &o = list->rects[j];
            if (j == i || o.x == LV_DAMAGE_MERGED) continue;
            lvDamageRect a = {r.x, r.y, r.x + r.width - 1, r.y + r.height - 1};
            lvDamageRect b = {o.x, o.y, o.x + o.width - 1, o.y + o.height - 1};
            lvDamageRect pair[2] = {a, b};
            if (MergeDamageRects(pair, 2) != 1) continue;
            r = {pair[0].x1, pair[0].y1, pair[0].x2 - pair[0].x1 + 1, pair[0].y2 - pair[0].y1 + 1};
            o.x = LV_DAMAGE_MERGED;
        }
    }
    int left = 0;
    for (int i = 0; i < n; i++) left += list->rects[i].x != LV_DAMAGE_MERGED;
    return left;
}

void FlushDirtyRects(lvState *L, lvDirtyRectList *list)
{
    MergeDirtyRects(list);
    for (int i = 0; i < list->count; i++) {
        const lvDirtyRect &r = list->rects[i];
        if (r.x != LV_DAMAGE_MERGED) InvalidateDisplayRect(L, r.x, r.y, r.width, r.height);
    }
}

// ---- Double buffering -------------------------------------------------------------------------

// The output must be the display itself: the code of the selection in force, else 0.
static int CheckDisplayIsOutput(const lvDisplay *d)
{
    const lvDrawTarget &t = d->select.blit.target;
    lvBGPic *out = GetCurrentOutput();
    if (d->select.doubleBufferActive || d->select.doubleBufferSuspended || d->adapterDoubleBuffer)
        return ERR_ENDDOUBLEBUFFER;
    if (t.kind == OUTPUT_BGPIC) return ERR_SELECTBG;
    if (t.kind == OUTPUT_IMAGE && out && out->selectedType == 4) return ERR_SELECTANIM;
    if (t.kind == OUTPUT_IMAGE) return ERR_SELECTBRUSH;
    if (t.kind == OUTPUT_MASK) return ERR_SELECTMASK;
    if (t.kind == OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
    return 0;
}

static void FreeDoubleBuffers(lvDisplay *d)
{
    for (lvBufferPair *pair : {&d->frontBuffer, &d->backBuffer}) {
        FreeBitmapHandle(pair->rgb);
        FreeBitmapHandle(pair->chunky);
        *pair = {};
    }
}

static int AdapterHasDoubleBuffer(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a && (a->flags & LVP_ADAPTER_HWDOUBLEBUFFER);
}

// Drawing goes into the back buffer through the back-buffer record.
static void SelectBackBuffer(lvDisplay *d)
{
    lvDrawTarget &t = d->select.blit.target;
    ResetDrawTarget(&t);
    t.kind = OUTPUT_IMAGE;
    t.bitmap = d->backBuffer.rgb;
    t.depth = d->bgpic ? d->bgpic->depth : 32;
    if (d->backBuffer.chunky) {
        t.paletteBitmap = d->backBuffer.chunky;
        t.palette = d->bgpic->palette;
    }
    t.hardware = d->adapterDoubleBuffer;
    SetCurrentOutput(d->select.backBufferRecord);
}

int BeginDisplayDoubleBuffer(lvState *, lvDisplay *d, int hardware)
{
    if (int err = CheckDisplayIsOutput(d)) return err;
    if (d->select.layersOn) return ERR_LAYERSOFF;
    if (d->refreshMode) return ERR_BEGINREFRESH;
    if (d->bgpic && d->bgpic->sprites) return ERR_NOSPRITES;
    if (d->bgpic && BGPicHasTransparency(d->bgpic)) return ERR_DBTRANSWIN;
    if (DisplayHasVideoFrames(d)) return ERR_VIDATTACHED;
    if (!d->bgpic) return ERR_CLOSEDDISPLAY;
    int pw = d->bgpic->scaledWidth, ph = d->bgpic->scaledHeight;
    if (hardware && AdapterHasDoubleBuffer()) {
        if (d->bgpic->palette) return ERR_DBPALETTE;
        if (d->mirrors) return ERR_SATELLITE;
        if (!d->handle) return ERR_CLOSEDDISPLAY;
        lvPluginRecord *a = Adapter();
        if (int err = ((lvAdapterDoubleBufferFunction)a->BeginDoubleBuffer)(d->handle, 0)) return err;
        d->adapterDoubleBuffer = 1;
    } else if (IsPaletteDisplay(d)) {
        // Pens front and back; the RGB bitmap beside the front pens is what is presented.
        FreeDoubleBuffers(d);
        d->frontBuffer.chunky = AllocChunkyBitmap(pw, ph, 1);
        d->backBuffer.chunky = AllocChunkyBitmap(pw, ph, 1);
        d->frontBuffer.rgb = AllocRgbBitmap(pw, ph, 0, nullptr);
        if (!d->frontBuffer.chunky || !d->backBuffer.chunky || !d->frontBuffer.rgb) {
            int err = d->frontBuffer.rgb ? ERR_ALLOCCHUNKY : ERR_BITMAP;
            FreeDoubleBuffers(d);
            return err;
        }
        ConvertDisplayPens(d, d->frontBuffer.chunky, 0, 0, pw, ph);
    } else {
        FreeDoubleBuffers(d);
        d->frontBuffer.rgb = AllocRgbBitmap(pw, ph, 0, nullptr);
        d->backBuffer.rgb = AllocRgbBitmap(pw, ph, 0, nullptr);
        if (!d->frontBuffer.rgb || !d->backBuffer.rgb) {
            FreeDoubleBuffers(d);
            return ERR_BITMAP;
        }
        FillBitmapRect(d->frontBuffer.rgb, 0, 0, pw, ph, 0);
        FillBitmapRect(d->backBuffer.rgb, 0, 0, pw, ph, 0);
    }
    if (!d->select.backBufferRecord) {
        d->select.backBufferRecord = (lvBGPic *)AllocMemory(sizeof(lvBGPic), 1);
        if (!d->select.backBufferRecord) {
            FreeDoubleBuffers(d);
            return ERR_MEM;
        }
    }
    InitBGPicRecord(d->select.backBufferRecord, GetObjectIdOf(&d->bgpic->header), 1, 0, d->bgpic, pw, ph,
                    d->bgpic->depth);
    lvBGPic *r = d->select.backBufferRecord;
    r->base = r->scaled = r->shown = {d->backBuffer.rgb, nullptr, nullptr, d->backBuffer.chunky};
    // Borrowed: the record is freed with FreeMemory alone.
    r->palette = d->backBuffer.chunky ? d->bgpic->palette : nullptr;
    if (!d->damage) {
        d->damage = AllocMemory(sizeof(lvDamageRect) * LV_DAMAGE_CAPACITY, 0);
        if (!d->damage) {
            FreeDoubleBuffers(d);
            return ERR_MEM;
        }
        d->damageCapacity = LV_DAMAGE_CAPACITY;
    }
    d->damageCount = 0;
    d->select.doubleBufferActive = 1;
    d->select.doubleBufferArg = hardware;
    SelectBackBuffer(d);
    SyncDisplayBlit(d);
    return 0;
}

int EndDisplayDoubleBuffer(lvState *L, lvDisplay *d)
{
    if (d->select.doubleBufferSuspended) EndRedirect(L, &d->select, 1);
    if (!d->select.doubleBufferActive) return ERR_NODOUBLEBUFFER;
    if (d->adapterDoubleBuffer) {
        lvPluginRecord *a = Adapter();
        if (a && d->handle)
            if (int err = ((lvAdapterDoubleBufferFunction)a->EndDoubleBuffer)(d->handle, 0)) return err;
        d->adapterDoubleBuffer = 0;
    } else if (d->backBuffer.chunky) {
        lvBitMapHandle *back = d->backBuffer.chunky;
        CombineBytePlanes(back, 0, 0, d->backgroundBuffer.chunky, 0, 0, back->width, back->height, 0, 0);
        CombineBytePlanes(back, 0, 0, d->pictureBuffer.chunky, 0, 0, back->width, back->height, 0, 0);
    } else if (d->backBuffer.rgb) {
        // What was drawn stays the display's picture.
        int w = d->backBuffer.rgb->width, h = d->backBuffer.rgb->height;
        if (d->backgroundBuffer.rgb) CopyBitmapRect(d->backBuffer.rgb, 0, 0, d->backgroundBuffer.rgb, 0, 0, w, h);
        if (d->pictureBuffer.rgb) CopyBitmapRect(d->backBuffer.rgb, 0, 0, d->pictureBuffer.rgb, 0, 0, w, h);
    }
    FreeDoubleBuffers(d);
    // The picture buffer's colours are presented again from here on.
    if (IsPaletteDisplay(d) && d->pictureBuffer.chunky)
        ConvertDisplayPens(d, d->pictureBuffer.chunky, 0, 0, d->pictureBuffer.chunky->width,
                           d->pictureBuffer.chunky->height);
    d->select.doubleBufferActive = 0;
    d->select.doubleBufferArg = 0;
    ResetDrawTarget(&d->select.blit.target);
    SetCurrentOutput(d->bgpic);
    SyncDisplayBlit(d);
    return 0;
}

// Presents the front buffer whole, or the damaged rectangles of it.
static void PresentBackBuffer(lvDisplay *d, int all, const lvDamageRect *rects, int count)
{
    lvBitMapHandle *front = d->frontBuffer.rgb;
    if (!front) return;
    if (all) {
        PresentDisplayRect(d, 0, 0, front->width, front->height);
        return;
    }
    for (int i = 0; i < count; i++) {
        if (rects[i].x1 == LV_DAMAGE_MERGED) continue;
        PresentDisplayRect(d, rects[i].x1, rects[i].y1, rects[i].x2 - rects[i].x1 + 1, rects[i].y2 - rects[i].y1 + 1);
    }
}

static void FlipRect(lvDisplay *d, int pens, lvBitMapHandle *back, lvBitMapHandle *front, int x, int y, int w, int h)
{
    if (!pens) return CopyBitmapRect(back, x, y, front, x, y, w, h);
    CombineBytePlanes(back, x, y, front, x, y, w, h, 0, 0);
    ConvertDisplayPens(d, front, x, y, w, h);
}

int FlipDisplay(lvState *L, lvDisplay *d, int sync)
{
    if (!d->select.doubleBufferActive && !d->select.doubleBufferSuspended) return ERR_NODOUBLEBUFFER;
    if (d->adapterDoubleBuffer) {
        lvPluginRecord *a = Adapter();
        if (!a || !d->handle) return ERR_CLOSEDDISPLAY;
        lvPluginTag tags[] = {{1, sync ? 1 : 0}, {0, 0}};
        return ((lvAdapterFlipFunction)a->Flip)(d->handle, tags);
    }
    // A palette display flips pens; their colours are presented.
    int pens = d->backBuffer.chunky != nullptr;
    lvBitMapHandle *back = pens ? d->backBuffer.chunky : d->backBuffer.rgb;
    lvBitMapHandle *front = pens ? d->frontBuffer.chunky : d->frontBuffer.rgb;
    if (!back || !front) return ERR_NODOUBLEBUFFER;
    int pw = back->width, ph = back->height;
    int autoscaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    int all = DamageMeansEverything(d) || autoscaled;
    lvDamageRect *rects = DamageOf(d);
    int count = all ? 0 : d->damageCount;
    if (all) {
        FlipRect(d, pens, back, front, 0, 0, pw, ph);
    } else {
        MergeDamageRects(rects, count);
        for (int i = 0; i < count; i++) {
            lvDamageRect &r = rects[i];
            if (r.x1 == LV_DAMAGE_MERGED) continue;
            int x = r.x1, y = r.y1, w = r.x2 - r.x1 + 1, h = r.y2 - r.y1 + 1;
            ClipRectToBounds(0, 0, pw, ph, &x, &y, &w, &h);
            if (w < 1 || h < 1) {
                r.x1 = LV_DAMAGE_MERGED;
                continue;
            }
            r = {x, y, x + w - 1, y + h - 1};
            FlipRect(d, pens, back, front, x, y, w, h);
        }
    }
    // A "vsync" window waits in its presentation; the others wait by the frame-rate limit.
    if (sync && IsVWaitEnabled() && !(d->styleFlags2 & DSTYLE2_VSYNC))
        if (int err = VWaitDisplay(L, d)) return err;
    PresentBackBuffer(d, all, rects, count);
    d->damageCount = 0;
    return 0;
}

// ---- Cls ----------------------------------------------------------------------------------

// The display's BGPic comes back: background and picture buffers from its picture.
static int ClearDisplayToBGPic(lvState *L, lvDisplay *d)
{
    if (!d->bgpic) return 0;
    if (int err = RemakeDisplayBuffers(d)) return err;
    SyncDisplayBlit(d);
    if (d->state == DISPSTATE_OPEN) RedrawDisplay(L, d, 0x80);
    return 0;
}

int ClsOutput(lvState *L, uint32_t colour)
{
    colour &= 0xFFFFFF;
    lvDisplay *d = GetCurrentDisplay();
    lvSelectDisplay *s = GetSelectDisplay();
    if (!s) return ERR_OUTPUTDEVICE;
    lvDrawTarget &t = s->blit.target;
    if (t.kind != OUTPUT_DISPLAY && !s->doubleBufferActive)
        if (int err = CheckRedirectTarget(L)) return err;
    if (d && s == &d->select && t.kind == OUTPUT_DISPLAY && !d->select.doubleBufferActive)
        return ClearDisplayToBGPic(L, d);
    if (t.kind == OUTPUT_BGPIC) {
        lvBGPic *out = GetCurrentOutput();
        lvBGPic *g = out ? (lvBGPic *)out->selectedRecord : nullptr;
        return g ? RescaleBGPicFromBase(g) : 0;
    }
    if (d && s == &d->select && d->adapterDoubleBuffer) {
        lvPluginRecord *a = Adapter();
        if (!a || !d->handle) return ERR_CLOSEDDISPLAY;
        return ((lvAdapterClsFunction)a->Cls)(d->handle, colour, 0);
    }
    // The back buffer, a brush, a mask or an alpha channel.
    if (t.bitmap) FillBitmapRect(t.bitmap, 0, 0, t.bitmap->width, t.bitmap->height, colour);
    if (t.paletteBitmap) {
        int pen = t.bitmap ? 255 : (t.palette ? FindNearestPen(colour, t.palette, t.depth) : 0);
        uint8_t *pixels;
        int rowBytes;
        if (uintptr_t token = GetPlanePixels(t.paletteBitmap, &pixels, &rowBytes, 1)) {
            std::memset(pixels, pen, (size_t)rowBytes * t.paletteBitmap->height);
            ReleasePlanePixels(token);
        }
    }
    if (t.alpha) {
        int value = t.bitmap ? 255 : (RasterState.alphaIntensity < 0 || RasterState.alphaIntensity > 255
                                          ? 255 : RasterState.alphaIntensity);
        uint8_t *pixels;
        int rowBytes;
        if (uintptr_t token = GetPlanePixels(t.alpha, &pixels, &rowBytes, 1)) {
            std::memset(pixels, value, (size_t)rowBytes * t.alpha->height);
            ReleasePlanePixels(token);
        }
    }
    if (t.mask) FillMaskRect(t.mask, 0, 0, t.mask->width, t.mask->height, t.bitmap ? MASKVISIBLE : RasterState.maskMode);
    if (d && s == &d->select && d->select.doubleBufferActive) d->damageCount = d->damageCapacity;
    return 0;
}
