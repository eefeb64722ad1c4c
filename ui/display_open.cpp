// display_open.cpp - opening and closing displays, monitors and modes, the start-up
// opening, and presentation at 1:1.
//
// Every operation asks first whether a display adapter is installed and then calls its
// slot, or the platform's window operation.
//
// Depends on: ui/display.h, platform/lvplatform_windows.h.
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "ui/display.h"
#include "ui/menus.h"
#include "ui/pointers.h"
#include "ui/display_windows.h"
#include "ui/display_modes.h"
#include "ui/display_mirrors.h"
#include "ui/display_placement.h"
#include "raster/lvscale.h"
#include <algorithm>
#include <cstring>

static lvPluginRecord *Adapter(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a ? a->record : nullptr;
}

static uint32_t AdapterFlags(void)
{
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    return a ? a->flags : 0;
}

// ---- Monitors and modes --------------------------------------------------------------------

#define LV_MAX_MONITORS 32
#define LV_MAX_MODES 512

int GetMonitorList(lvMonitorRect *out, int max)
{
    lvPluginRecord *a = Adapter();
    if (a && (AdapterFlags() & LVP_ADAPTER_MONITORS)) {
        void *list = nullptr;
        int count = 0;
        if (((lvAdapterMonitorInfoFunction)a->GetMonitorInfo)(LVP_MONITORINFO_MONITORS, 0, &list, 0) == 0 && list) {
            const lvAdapterMonitor *m = (const lvAdapterMonitor *)list;
            for (; m->width && m->height; m++)
                if (count < max) out[count++] = {m->x, m->y, m->width, m->height};
            ((lvAdapterFreeMonitorInfoFunction)a->FreeMonitorInfo)(LVP_MONITORINFO_MONITORS, list);
        }
        return count;
    }
    return WindowOps()->ListMonitors(out, max);
}

int GetDisplayModeList(int monitor, lvScreenMode *out, int max, int *count)
{
    *count = 0;
    lvMonitorRect monitors[LV_MAX_MONITORS];
    int monitorCount = GetMonitorList(monitors, LV_MAX_MONITORS);
    if (monitor < 0 || monitor >= monitorCount) return ERR_MONITORRANGE;
    lvPluginRecord *a = Adapter();
    int n = 0;
    if (a && (AdapterFlags() & LVP_ADAPTER_MONITORS)) {
        void *list = nullptr;
        int err = ((lvAdapterMonitorInfoFunction)a->GetMonitorInfo)(LVP_MONITORINFO_MODES, monitor, &list, 0);
        if (err) return err;
        if (list) {
            for (const lvAdapterMode *m = (const lvAdapterMode *)list; m->width && m->height; m++)
                if (n < max) out[n++] = {m->width, m->height};
            ((lvAdapterFreeMonitorInfoFunction)a->FreeMonitorInfo)(LVP_MONITORINFO_MODES, list);
        }
    } else {
        n = std::min(WindowOps()->ListDisplayModes(monitor, out, max), max);
    }
    std::sort(out, out + n, [](const lvScreenMode &p, const lvScreenMode &q) {
        return p.width != q.width ? p.width < q.width : p.height < q.height;
    });
    *count = n;
    return 0;
}

int GetMonitorRect(const lvDisplay *d, lvMonitorRect *out)
{
    lvMonitorRect monitors[LV_MAX_MONITORS];
    int count = GetMonitorList(monitors, LV_MAX_MONITORS);
    if (d->monitor < 0 || d->monitor >= count) return ERR_GETMONITORINFO;
    *out = monitors[d->monitor];
    return 0;
}

int IsDisplayFullScreen(const lvDisplay *d)
{
    if (d->fullScreen || d->fullScreenScale || d->fakeFullScreen) return 1;
    lvMonitorRect m;
    return (d->styleFlags & DSTYLE_BORDERLESS) && GetMonitorRect(d, &m) == 0 && d->width == m.width &&
           d->height == m.height;
}

int CanSwitchDisplayMode(const lvDisplay *d)
{
    if (d->backfillDisplay || d->resourceMonitor) return 0;
    if (IsDisplayFullScreen(d)) return 1;
    for (lvDisplay *o = FirstDisplay(); o; o = (lvDisplay *)o->header.next)
        if (o != d && o->state != DISPSTATE_CLOSED && o->monitor == d->monitor && IsDisplayFullScreen(o))
            return 0;
    return 1;
}

// ---- Presentation -------------------------------------------------------------------------

// Mirrors see the unscaled picture; they scale it themselves when they asked for the window.
static void PresentToMirrors(lvDisplay *d, lvBitMapHandle *source, int x, int y, int width, int height)
{
    // Plug-in threads change the list under the display lock with atomic stores: an empty
    // list is seen without taking the lock on every presentation.
    if (!__atomic_load_n(&d->mirrors, __ATOMIC_ACQUIRE)) return;
    lvScopedLock lock(source, LOCK_READONLY);
    if (!lock || lock.lock.format != PIXFMT_ARGB32 || lock.lock.bytesPerPixel != 4) return;
    NotifyMirrorsOfPresent(d, (const uint32_t *)lock.lock.pixels, lock.lock.rowLength, source->width, source->height,
                           x, y, width, height);
}

void PresentDisplayRect(lvDisplay *d, int x, int y, int width, int height)
{
    // While double buffering the front buffer is what shows.
    lvBitMapHandle *source = d->frontBuffer.rgb ? d->frontBuffer.rgb : d->pictureBuffer.rgb;
    if (!source || width <= 0 || height <= 0) return;
    if (lvPluginRecord *a = Adapter()) {
        if (!d->handle || (d->state == DISPSTATE_CLOSED && !(AdapterFlags() & LVP_ADAPTER_CLOSEDBLITS))) return;
        PresentToMirrors(d, source, x, y, width, height);
        lvAdapterBlit blit;
        std::memset(&blit, 0, sizeof blit);
        blit.sourceX = blit.destX = x;
        blit.sourceY = blit.destY = y;
        blit.width = width;
        blit.height = height;
        // An adapter that does not scale gets the picture scaled by us, inside the margins.
        if (d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0 && !(AdapterFlags() & LVP_ADAPTER_SCALES)) {
            int sw = d->scaleWidth, sh = d->scaleHeight;
            if (d->runtimeScaled && (d->runtimeScaled->width != sw || d->runtimeScaled->height != sh)) {
                FreeBitmapHandle(d->runtimeScaled);
                d->runtimeScaled = nullptr;
            }
            if (!d->runtimeScaled && !(d->runtimeScaled = AllocRgbBitmap(sw, sh, 0, nullptr))) return;
            if (ScaleImage(source, nullptr, nullptr, nullptr, 0, 0, d->runtimeScaled, nullptr, source->width,
                           source->height, sw, sh, d->smoothScale, nullptr, nullptr, nullptr, nullptr, nullptr))
                return;
            source = d->runtimeScaled;
            blit.sourceX = blit.sourceY = 0;
            blit.destX = d->marginLeft;
            blit.destY = d->marginTop;
            blit.width = sw;
            blit.height = sh;
        }
        blit.transformFlags = -1;
        blit.transparentPen = -1;
        // The adapter reads the picture through graphics slot 16: its own bitmap when it
        // owns bitmaps, else the runtime's handle.
        void *bitmap = AdapterOwnsBitmaps() ? source->backing : (void *)source;
        ((lvAdapterBltBitMapFunction)a->BltBitMap)(bitmap, d->handle, &blit, 0, 0);
        return;
    }
    if (!d->window || !d->window->open) return;
    PresentToMirrors(d, source, x, y, width, height);
    lvScopedLock lock(source, LOCK_READONLY);
    if (!lock || lock.lock.format != PIXFMT_ARGB32 || lock.lock.bytesPerPixel != 4) return;
    WindowOps()->BlitToWindow(d->window, (const uint32_t *)lock.lock.pixels, lock.lock.rowLength, x, y, x, y, width,
                              height);
}

void RedrawDisplay(lvState *, lvDisplay *d, int flags)
{
    if (!d->bgpic) return;
    if (d->refreshMode && !(flags & 0x80)) return;
    // The pens stay; their colours may have changed.
    if (IsPaletteDisplay(d))
        ConvertDisplayPens(d, d->frontBuffer.chunky ? d->frontBuffer.chunky : d->pictureBuffer.chunky, 0, 0,
                           d->bgpic->scaledWidth, d->bgpic->scaledHeight);
    PresentDisplayRect(d, 0, 0, d->bgpic->scaledWidth, d->bgpic->scaledHeight);
}

int RemakeOwnBGPicImages(lvDisplay *d, int width, int height)
{
    if (!d->ownsBGPic || !d->bgpic) return 0;
    lvBitMapHandle *bitmap = nullptr, *pens = nullptr;
    if (IsPaletteDisplay(d)) {
        if (!(pens = NewDisplayPenPlane(width, height, (int)d->bgpic->fill.colour))) return ERR_ALLOCCHUNKY;
    } else if (int err = BuildBGPicBitmaps(nullptr, &d->bgpic->fill, -1, width, height, width, &bitmap, nullptr,
                                           nullptr, nullptr)) {
        return err;
    }
    lvBGPic *b = d->bgpic;
    FreeBGPicDerivedBitmaps(b);
    FreeBitmapHandle(b->base.bitmap);
    FreeBitmapHandle(b->base.penBitmap);
    b->base = b->scaled = b->shown = {bitmap, nullptr, nullptr, pens};
    b->baseWidth = b->scaledWidth = b->shownWidth = width;
    b->baseHeight = b->scaledHeight = b->shownHeight = height;
    return 0;
}

// Makes the display's own BGPic again at a new picture size.
static int RemakeOwnBGPic(lvDisplay *d, int width, int height)
{
    if (d->bgpic && d->bgpic->scaledWidth == width && d->bgpic->scaledHeight == height) return 0;
    return RemakeOwnBGPicImages(d, width, height);
}

int ResizeDisplay(lvState *L, lvDisplay *d, int x, int y, int width, int height, int requestBits)
{
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    // Beyond the pixel ceiling the picture (or the window's buffers) cannot be made:
    // refused before anything changes.
    if (!DisplayPixelsFit(width, height)) return ERR_BITMAP;
    if (x != LV_KEEPPOSITION) d->x = x;
    if (y != LV_KEEPPOSITION) d->y = y;
    int scriptChange = (requestBits & (1 | 0x20)) != 0;
    int autoscaled = d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0;
    if (autoscaled) {
        // The picture changes with the script, the window with the user; the picture is
        // fitted into the window either way.
        if (scriptChange) {
            if (int err = RemakeOwnBGPic(d, width, height)) return err;
        } else {
            d->width = width;
            d->height = height;
        }
        if (d->bgpic) FitDisplayPicture(d, d->width, d->height);
    } else {
        d->width = width;
        d->height = height;
        // Without scaling the picture follows the window: a private BGPic is made again.
        if (int err = RemakeOwnBGPic(d, width, height)) return err;
    }
    if (d->bgpic) {
        if (int err = RemakeDisplayBuffers(d)) return err;
        if (lvPluginRecord *a = Adapter(); a && d->handle) {
            lvPluginTag tags[] = {{1, d->bgpic->depth}, {0, 0}};
            ((lvAdapterBufferSizeFunction)a->ChangeBufferSize)(d->handle, d->bgpic->scaledWidth,
                                                               d->bgpic->scaledHeight, 0, tags);
        }
    }
    if (!Adapter() && d->window && d->window->open) {
        if (scriptChange || x != LV_KEEPPOSITION || y != LV_KEEPPOSITION)
            WindowOps()->MoveSizeDisplayWindow(d->window, d->x, d->y, d->width, d->height);
        ApplyWindowPresentation(d);
    }
    d->select.cursorX = d->select.cursorY = 0;
    d->select.marginLeft = 0;
    d->select.marginRight = (d->bgpic ? d->bgpic->scaledWidth : width) - 1;
    NotifyMirrorsOfSize(d);
    if (!(requestBits & 2) && d->state == DISPSTATE_OPEN) RedrawDisplay(L, d, 0x80);
    return 0;
}

// ---- Opening and closing --------------------------------------------------------------------

// Style bits that the adapter flags of a display carry both ways.
static const struct {
    uint32_t style, flag;
} styleFlagMap[] = {
    {DSTYLE_BORDERLESS, LVP_DISPLAY_BORDERLESS}, {DSTYLE_SIZEABLE, LVP_DISPLAY_SIZEABLE},
    {DSTYLE_FIXED, LVP_DISPLAY_FIXED},           {DSTYLE_NOHIDE, LVP_DISPLAY_NOHIDE},
    {DSTYLE_NOCLOSE, LVP_DISPLAY_NOCLOSE},       {DSTYLE_DISABLEBLANKER, LVP_DISPLAY_NOBLANKER},
    {DSTYLE_ALWAYSONTOP, LVP_DISPLAY_ONTOP},     {DSTYLE_TRAPRMB, LVP_DISPLAY_TRAPRMB},
};

// The adapter flags of a display.
static uint32_t DisplayAdapterFlags(const lvDisplay *d)
{
    uint32_t f = 0;
    for (const auto &m : styleFlagMap)
        if (d->styleFlags & m.style) f |= m.flag;
    if (d->styleFlags & DSTYLE_KEEPPROPORTIONS) f |= LVP_DISPLAY_KEEPPROPORTIONS;
    if (d->autoscale) f |= LVP_DISPLAY_AUTOSCALE;
    if (d->layerScale) f |= LVP_DISPLAY_LAYERSCALE;
    if (d->select.layersOn) f |= LVP_DISPLAY_LAYERS;
    if (d->select.doubleBufferActive) f |= LVP_DISPLAY_DOUBLEBUFFER;
    if (d->adapterDoubleBuffer) f |= LVP_DISPLAY_HWDOUBLEBUFFER;
    if (d->fullScreen) f |= LVP_DISPLAY_FULLSCREEN;
    if (d->scaledCoordinates) f |= LVP_DISPLAY_SCALEDCOORDS;
    if (d->styleFlags2 & DSTYLE2_BACKDROP) f |= LVP_DISPLAY_BACKDROP;
    return f;
}

// What the adapter may have changed of them comes back into the style bits.
static void ApplyAdapterFlags(lvDisplay *d, uint32_t f)
{
    for (const auto &m : styleFlagMap) d->styleFlags = (f & m.flag) ? d->styleFlags | m.style : d->styleFlags & ~m.style;
    d->styleFlags2 = (f & LVP_DISPLAY_BACKDROP) ? d->styleFlags2 | DSTYLE2_BACKDROP : d->styleFlags2 & ~DSTYLE2_BACKDROP;
    d->fullScreen = (f & LVP_DISPLAY_FULLSCREEN) != 0;
}

void DetermineBorderSizes(lvDisplay *d)
{
    int32_t left = 0, right = 0, top = 0, bottom = 0;
    if (lvPluginRecord *a = Adapter()) {
        ((lvAdapterBorderSizesFunction)a->DetermineBorderSizes)(DisplayAdapterFlags(d), &left, &right, &top, &bottom);
    } else {
        int l, t, r, b;
        WindowOps()->GetWindowBorderSizes(d->styleFlags, &l, &t, &r, &b);
        left = l, top = t, right = r, bottom = b;
    }
    d->borderLeft = left;
    d->borderTop = top;
    d->borderWidth = left + right;
    d->borderHeight = top + bottom;
    d->bordersKnown = 1;
}

// A position against the monitor: centred, relative to its origin, or as given.
static int ResolvePosition(int value, int size, int monitorOrigin, int monitorSize, int relative)
{
    int64_t p = value == LV_CENTER ? monitorOrigin + ((int64_t)monitorSize - size) / 2
                                   : relative ? (int64_t)monitorOrigin + value : value;
    return (int)std::min<int64_t>(std::max<int64_t>(p, -LV_WINDOW_COORDINATE_LIMIT), LV_WINDOW_COORDINATE_LIMIT);
}

static void ClampRegions(lvDisplayRegion *regions, int count, int width, int height)
{
    for (int i = 0; i < count; i++) {
        lvDisplayRegion &r = regions[i];
        r.x = std::min(std::max(r.x, 0), width - 1);
        r.y = std::min(std::max(r.y, 0), height - 1);
        r.width = std::max(r.width, 1);
        r.height = std::max(r.height, 1);
    }
}

int RealizeDisplay(lvState *L, lvDisplay *d, int requestBits)
{
    // A display declared in another mode opens as a window, then switches.
    if (!(requestBits & 2) && d->mode != DISPMODE_WINDOWED && d->mode != DISPMODE_SYSTEMSCALE) {
        int mode = d->mode;
        d->mode = DISPMODE_WINDOWED;
        int err = RealizeDisplay(L, d, requestBits);
        if (!err) {
            lvModeRequest q;
            InitModeRequest(&q);
            if (d->screenWidth > 0) q.width = d->screenWidth;
            if (d->screenHeight > 0) q.height = d->screenHeight;
            err = ChangeDisplayModeOf(L, d, mode, &q);
        }
        d->mode = mode;
        return err;
    }
    if (d->desktop > 0 && Adapter()) return ERR_DISPLAYADAPTERSUPPORT;
    // 1. Monitor and frame.
    lvMonitorRect monitor;
    if (int err = GetMonitorRect(d, &monitor)) return err;
    DetermineBorderSizes(d);
    // 3. The position.
    int outerWidth = d->width + d->borderWidth, outerHeight = d->height + d->borderHeight;
    int x = ResolvePosition(d->x, outerWidth, monitor.x, monitor.width, d->relativeX && d->monitor > 0);
    int y = ResolvePosition(d->y, outerHeight, monitor.y, monitor.height, d->relativeY && d->monitor > 0);
    // 4. Default regions.
    if (!d->dragRegionsGiven) {
        d->dragRegions[0] = {14, 0, 0, d->width, 15};
        d->dragRegionCount = 1;
    }
    if (!d->sizeRegionsGiven) {
        d->sizeRegions[0] = {14, d->width - 10, d->height - 10, 10, 10};
        d->sizeRegionCount = 1;
    }
    ClampRegions(d->dragRegions, d->dragRegionCount, d->width, d->height);
    ClampRegions(d->sizeRegions, d->sizeRegionCount, d->width, d->height);
    int active = (d->styleFlags & DSTYLE_ACTIVE) != 0;
    // 5. The window.
    if (lvPluginRecord *a = Adapter()) {
        int32_t ax = x, ay = y;
        uint32_t flags = DisplayAdapterFlags(d);
        d->refreshFlag = d->frameFlag = d->penFlag = 0;
        lvPluginTag tags[24];
        int n = 0;
        tags[n++] = {LVP_OPENTAG_WIDTH, d->bgpic->scaledWidth};
        tags[n++] = {LVP_OPENTAG_HEIGHT, d->bgpic->scaledHeight};
        tags[n++] = {LVP_OPENTAG_REFRESHFLAG, (intptr_t)&d->refreshFlag};
        tags[n++] = {LVP_OPENTAG_FRAMEFLAG, (intptr_t)&d->frameFlag};
        tags[n++] = {LVP_OPENTAG_STATE, (intptr_t)L};
        tags[n++] = {LVP_OPENTAG_MONITOR, d->monitor};
        tags[n++] = {LVP_OPENTAG_DEPTH, d->bgpic->depth};
        tags[n++] = {LVP_OPENTAG_X, (intptr_t)&ax};
        tags[n++] = {LVP_OPENTAG_Y, (intptr_t)&ay};
        tags[n++] = {LVP_OPENTAG_FLAGS, (intptr_t)&flags};
        if (d->bgpic->palette) {
            tags[n++] = {LVP_OPENTAG_PALETTE, (intptr_t)d->bgpic->palette};
            tags[n++] = {LVP_OPENTAG_PENFLAG, (intptr_t)&d->penFlag};
        }
        if (d->fullScreen) {
            tags[n++] = {LVP_OPENTAG_SCREENWIDTH, d->screenWidth};
            tags[n++] = {LVP_OPENTAG_SCREENHEIGHT, d->screenHeight};
            tags[n++] = {LVP_OPENTAG_SCREENDEPTH, d->screenDepth};
        }
        if (d->scaleWidth && d->scaleHeight) {
            tags[n++] = {LVP_OPENTAG_SCALEWIDTH, d->scaleWidth};
            tags[n++] = {LVP_OPENTAG_SCALEHEIGHT, d->scaleHeight};
        }
        tags[n++] = {LVP_OPENTAG_SMOOTH, d->smoothScale};
        if (d->userTags) tags[n++] = {LVP_OPENTAG_USERTAGS, (intptr_t)d->userTags};
        if (lvMenu *m = GetDisplayMenu(d)) tags[n++] = {LVP_OPENTAG_MENU, (intptr_t)m->first};
        tags[n] = {0, 0};
        void *handle =
            ((lvAdapterOpenDisplayFunction)a->OpenDisplay)(d->title, x, y, d->width, d->height, flags, tags);
        if (!handle) return ERR_WINDOW;
        LockDisplayList();
        d->handle = handle;
        UnlockDisplayList();
        d->x = ax;
        d->y = ay;
        ApplyAdapterFlags(d, flags);
    } else {
        lvDisplayWindow *w = d->window;
        w->owner = d;
        w->closeHandled = d->events.closeHandled;
        w->acceptDrops = d->events.slots[HANDLER_ONDROPFILE].function != -1;
        w->dragRegionCount = std::min(d->dragRegionCount, LV_WINDOW_REGIONS);
        w->sizeRegionCount = std::min(d->sizeRegionCount, LV_WINDOW_REGIONS);
        for (int i = 0; i < w->dragRegionCount; i++) {
            const lvDisplayRegion &r = d->dragRegions[i];
            w->dragRegions[i] = {r.type, r.x, r.y, r.width, r.height};
        }
        for (int i = 0; i < w->sizeRegionCount; i++) {
            const lvDisplayRegion &r = d->sizeRegions[i];
            w->sizeRegions[i] = {r.type, r.x, r.y, r.width, r.height};
        }
        ApplyWindowPresentation(d);
        w->styleFlags2 = d->styleFlags2 & (WSTYLE2_SOFTWARERENDERER | WSTYLE2_VSYNC);
        if (int err = WindowOps()->OpenDisplayWindow(w, x, y, d->width, d->height, d->styleFlags, active, d->title))
            return err;
        d->x = x;
        d->y = y;
    }
    d->relativeX = d->relativeY = 0;
    // 7. Open; handlers may predate the window.
    d->state = DISPSTATE_OPEN;
    d->active = active;
    SetDisplayCloseHandled(d, d->events.closeHandled);
    // A reopened display gets its hardware brushes back.
    if (requestBits & 2)
        if (int err = RestoreDisplayBrushes(d)) return err;
    // The strip shows again with the states it had when the display closed.
    if (int err = ShowDisplayMenu(L, d)) return err;
    // 8. The pointer state kept while it was closed.
    ApplyDisplayPointerState(d);
    // 9. The whole picture.
    RedrawDisplay(L, d, 0);
    GetTimeVal(&d->lastVBlank);
    return 0;
}

int CloseDisplayCore(lvState *L, lvDisplay *d, int bits)
{
    // Where the window was is remembered before it goes (a failed save loses only that).
    if (d->state != DISPSTATE_CLOSED) SaveDisplayPlacement(L, d);
    // Hardware brushes live in the adapter's display: kept as pixels while it reopens,
    // else freed with it.
    if (bits & 1) {
        if (int err = SaveDisplayBrushes(d)) return err;
    } else {
        FreeDisplayBrushes(L, d);
    }
    // A display that will be opened again keeps its strip's states. An adapter is asked for
    // them while its display exists; an own window shows its strip until it closes, so the
    // frame it leaves has the strip and the pump never sees the strip's model freed.
    if (Adapter())
        if (int err = HideDisplayMenu(L, d, (bits & 0x20) != 0)) return err;
    int menuErr = 0;
    if (lvPluginRecord *a = Adapter()) {
        if (d->handle) {
            if (int err = ((lvAdapterCloseDisplayFunction)a->CloseDisplay)(d->handle)) return err;
            LockDisplayList();
            d->handle = nullptr;
            UnlockDisplayList();
        }
    } else {
        if (d->window) WindowOps()->CloseDisplayWindow(d->window);
        menuErr = HideDisplayMenu(L, d, (bits & 0x20) != 0);
    }
    lvDisplayEvents &e = d->events;
    e.leftButton = e.rightButton = e.midButton = 0;
    e.mouseMoved = 0;
    std::memset(e.keyState, 0, sizeof e.keyState);
    std::memset(e.rawKeyState, 0, sizeof e.rawKeyState);
    d->state = DISPSTATE_CLOSED;
    d->active = 0;
    d->fullScreen = 0;
    return menuErr;
}

void SetDisplayCloseHandled(lvDisplay *d, int handled)
{
    d->events.closeHandled = handled;
    lvPluginRecord *a = Adapter();
    if (!a || !d->handle) return;
    lvPluginTag tags[] = {{1, handled ? 1 : 0}, {0, 0}};
    ((lvAdapterSetAttributesFunction)a->SetDisplayAttributes)(d->handle, tags);
}

void ActivateDisplayWindow(lvDisplay *d, int front)
{
    if (lvPluginRecord *a = Adapter()) {
        if (d->handle) ((lvAdapterActivateFunction)a->ActivateDisplay)(d->handle, front);
    } else if (d->window) {
        WindowOps()->ActivateDisplayWindow(d->window, front);
    }
    d->active = 1;
}

int GetDisplayMousePos(const lvDisplay *d, int *x, int *y)
{
    if (d->state == DISPSTATE_OPEN) {
        if (lvPluginRecord *a = Adapter()) {
            int32_t ax = 0, ay = 0;
            ((lvAdapterMousePosFunction)a->GetMousePos)(d->handle, &ax, &ay);
            *x = ax;
            *y = ay;
            return 0;
        }
        if (d->window) {
            WindowOps()->GetWindowMousePos(d->window, x, y);
            return 0;
        }
    }
    *x = d->lastMouseX;
    *y = d->lastMouseY;
    return 0;
}

uint32_t GetDisplayQualifiers(const lvDisplay *d)
{
    if (d->state == DISPSTATE_OPEN) {
        if (lvPluginRecord *a = Adapter()) return ((lvAdapterQualifiersFunction)a->GetQualifiers)(d->handle);
        if (d->window) return WindowOps()->GetWindowQualifiers(d->window);
    }
    return d->lastQualifiers;
}

int OpenDisplayById(lvState *L, lvObjectId id, int monitor, int x, int y, int noSelect)
{
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(id, &d)) return err;
    if (d->state != DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    if (monitor >= 0) {
        lvMonitorRect monitors[LV_MAX_MONITORS];
        int count = GetMonitorList(monitors, LV_MAX_MONITORS);
        if (monitor >= count) return ERR_MONITORRANGE;
        if (monitor != d->monitor) {
            d->monitor = monitor;
            d->x = d->y = LV_CENTER;
        }
    }
    if (x != LV_NOPOSITION) {
        d->x = x;
        d->relativeX = 1;
    }
    if (y != LV_NOPOSITION) {
        d->y = y;
        d->relativeY = 1;
    }
    if (int err = RealizeDisplay(L, d, 0)) return err;
    if (!noSelect) {
        SetCurrentDisplay(d);
        ActivateDisplayWindow(d, 1);
    }
    return 0;
}

int CloseDisplayById(lvState *L, lvObjectId id)
{
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(id, &d)) return err;
    if (d->state == DISPSTATE_CLOSED) return ERR_WRONGUSAGE;
    if (d->adapterDoubleBuffer || d->redirected) return ERR_HWDBFREEDISP;
    int err = CloseDisplayCore(L, d, 0x24);
    FreeDisplayBackfill(L, d);
    return err;
}

int OpenStartupDisplays(lvState *L)
{
    int first = 1;
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) {
        if (d->state != DISPSTATE_CLOSED || (d->styleFlags & DSTYLE_HIDDEN) || d->backfillOwner) continue;
        d->active = (d->styleFlags & DSTYLE_ACTIVE) != 0;
        if (int err = RealizeDisplay(L, d, 0x40 | (first ? 1 : 0))) return err;
        first = 0;
    }
    lvDisplay *chosen = nullptr;
    for (lvDisplay *d = FirstDisplay(); d && !chosen; d = (lvDisplay *)d->header.next)
        if ((d->styleFlags & DSTYLE_ACTIVE) && !(d->styleFlags & DSTYLE_HIDDEN) && !d->backfillOwner) chosen = d;
    if (chosen) {
        SetCurrentDisplay(chosen);
        if (chosen->state == DISPSTATE_OPEN) ActivateDisplayWindow(chosen, 1);
    } else {
        lvDisplay *one = nullptr;
        if (FindDisplayById(lvObjectId{1, nullptr}, &one) == 0) SetCurrentDisplay(one);
    }
    return 0;
}
