// display.cpp - the display record and list: creating, finding and freeing displays.
//
// The list's links change only on the script thread and only under the display lock,
// which adapter threads take to look a display up by its handle.
//
// Depends on: ui/display.h, images/lvbgpic.h, runtime/errors.h.
#include "ui/display.h"
#include "ui/menus.h"
#include "images/lvpalette.h"
#include "raster/lvplanes.h"
#include "ui/display_windows.h"
#include "ui/display_draw.h"
#include "ui/display_mirrors.h"
#include "ui/display_modes.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "base/lverrors.h"
#include "runtime/startup.h"
#include "formats/lvformats.h"
#include <cstdio>
#include <cstring>
#include <strings.h>

static lvObjectHeader *displayList;  // newest last
static lvDisplay *currentDisplay;
static lvQuitSwitches quitSwitches = {0, 0, 1};

lvQuitSwitches *GetQuitSwitches(void) { return &quitSwitches; }
lvDisplay *FirstDisplay(void) { return (lvDisplay *)displayList; }
lvDisplay *GetCurrentDisplay(void) { return currentDisplay; }
lvObjectHeader **DisplayListHead(void) { return &displayList; }

void SetCurrentDisplay(lvDisplay *display)
{
    currentDisplay = display;
    MakeDisplayCurrentForDrawing(display);
    // While double buffering the back buffer stays the output.
    if (display && display->select.doubleBufferActive) SetCurrentOutput(display->select.backBufferRecord);
    else SetCurrentOutput(display ? display->bgpic : nullptr);
}

// The start-up's lock; engines driven without the start-up (the C++ tests) get one of
// their own, so that plug-in threads are kept off the list there as well.
static lvMutex *DisplayListMutex(void)
{
    if (lvMutex *lock = GetDisplayListLock()) return lock;
    static lvMutex *own = NewMutex();
    return own;
}

void LockDisplayList(void)
{
    if (lvMutex *lock = DisplayListMutex()) LockMutex(lock);
}

void UnlockDisplayList(void)
{
    if (lvMutex *lock = DisplayListMutex()) UnlockMutex(lock);
}

int FindDisplayById(lvObjectId id, lvDisplay **out)
{
    *out = nullptr;
    for (lvObjectHeader *h = displayList; h; h = h->next) {
        if (!ObjectIdMatches(h, id)) continue;
        *out = (lvDisplay *)h;
        return 0;
    }
    if (id.handle) return ERR_FINDARRAY;
    SetErrorNumberArg(id.number);
    return ERR_FINDDISPLAY;
}

lvDisplay *FindDisplayByHandle(const void *handle)
{
    if (!handle) return nullptr;
    for (lvObjectHeader *h = displayList; h; h = h->next) {
        lvDisplay *d = (lvDisplay *)h;
        if (d->handle == handle || (const void *)d->window == handle) return d;
    }
    return nullptr;
}

// ---- Modes -----------------------------------------------------------------------------

static const struct {
    int number;
    const char *name;
} modeNames[] = {
    {1, "windowed"},        {2, "fullscreen"},       {3, "ask"},          {4, "moderequester"},
    {6, "fakefullscreen"},  {7, "fullscreenscale"},  {8, "systemscale"},  {9, "__modeswitch"},
    {10, "autofullscreen"}, {11, "layerfullscreen"}, {12, "askauto"},     {13, "asklayers"},
};

int FindDisplayModeByName(const char *name)
{
    for (const auto &m : modeNames)
        if (strcasecmp(m.name, name) == 0) return m.number;
    return 0;
}

const char *DisplayModeName(int mode)
{
    for (const auto &m : modeNames)
        if (m.number == mode) return m.name;
    return "(not found)";
}

// ---- Creating ---------------------------------------------------------------------------

void InitDisplayRequest(lvDisplayRequest *s)
{
    std::memset(s, 0, sizeof *s);
    s->x = s->y = LV_CENTER;
    s->width = 640;
    s->height = 480;
    std::strcpy(s->title, "Lumivarra");
    s->fillStyle = 1;
    InitGradient(&s->gradient, 0);
    s->scaleMode = -1;
    s->scaleFactor = 1.0;
    s->menu = -1;
    s->mode = DISPMODE_WINDOWED;
    s->screenWidth = s->screenHeight = s->screenDepth = -1;
}

void FreeDisplayRequest(lvDisplayRequest *s)
{
    FreeMemory(s->placement);
    s->placement = nullptr;
    FreeUserTags(s->userTags, 1);
    s->userTags = nullptr;
}

// The display library's own record of the displays that show a BGPic.
static int DisplayShowsBGPic(const lvBGPic *record)
{
    for (lvObjectHeader *h = displayList; h; h = h->next)
        if (((lvDisplay *)h)->bgpic == record) return 1;
    return 0;
}

// Frees what a display holds (not the record): its own BGPic unless at shut-down.
static void FreeDisplayContents(lvState *L, lvDisplay *d, int shutdown)
{
    if (d->ownsBGPic && d->bgpic && !shutdown) UnlinkBGPicById(GetObjectIdOf(&d->bgpic->header));
    d->bgpic = nullptr;
    for (lvBufferPair *pair : {&d->backgroundBuffer, &d->pictureBuffer, &d->frontBuffer, &d->backBuffer}) {
        FreeBitmapHandle(pair->rgb);
        FreeBitmapHandle(pair->chunky);
        *pair = {};
    }
    FreeBitmapHandle(d->runtimeScaled);
    d->runtimeScaled = nullptr;
    FreeBitmapHandle(d->shapeMask);
    FreeBitmapHandle(d->shapeAlpha);
    FreeMemory(d->placement);
    if (d->window) WindowOps()->FreeDisplayWindow(d->window);
    d->window = nullptr;
    for (lvHandlerSlot &slot : d->events.slots) {
        if (L && EventRuntime()->ReleaseReference) {
            if (slot.function != -1) EventRuntime()->ReleaseReference(L, slot.function);
            if (slot.userData != -1) EventRuntime()->ReleaseReference(L, slot.userData);
        }
        slot = {-1, -1};
    }
    if (RasterState.currentDisplay == &d->select.blit) RasterState.currentDisplay = nullptr;
    FreeMemory(d->select.selection);
    FreeMemory(d->select.backBufferRecord);
    d->select.selection = d->select.backBufferRecord = nullptr;
    FreeMemory(d->damage);
    FreeUserTags(d->userTags, 1);
    DropVideoFrames(d);
    if (d->frameLock) FreeMutex(d->frameLock);
    FreeObjectUserData(&d->header.userData, nullptr);
    ForgetDisplayMenus(d);
}

int IsPaletteDisplay(const lvDisplay *d)
{
    return d && d->bgpic && d->bgpic->palette && d->bgpic->depth <= 8 && d->bgpic->scaled.penBitmap;
}

lvBitMapHandle *NewDisplayPenPlane(int width, int height, int pen)
{
    lvBitMapHandle *plane = AllocChunkyBitmap(width, height, 1);
    if (plane && pen) FillBytePlaneRect(plane, 0, 0, width, height, pen);
    return plane;
}

// A palette display's own BGPic: a pen plane filled with the fill pen and the palette the
// option names. Its transparent pen is not taken: a display's picture is never see-through.
static int MakeOwnPaletteBGPic(lvDisplay *d, const lvDisplayRequest *s, lvObjectId *id, lvBGPic **made)
{
    if (d->desktop > 0) return ERR_DISPLAYDESKTOPPAL;
    if (d->fillStyle != 1) return ERR_PALETTEFILL;
    lvResolvedPalette resolved = {};
    resolved.transparentPen = -1;
    if (int err = ResolvePaletteOption(s->palette, 0, s->fillPen, 1, &resolved)) return err;
    d->colour = (uint32_t)s->fillPen;
    lvBGPicFill fill = {};
    fill.style = 1;
    fill.colour = d->colour;
    fill.set = 1;
    lvBitMapHandle *pens = NewDisplayPenPlane(d->width, d->height, s->fillPen);
    uint32_t *palette = (uint32_t *)AllocMemory(1024, 0);
    lvCycleRange *cycle = nullptr;
    int err = !pens ? ERR_ALLOCCHUNKY : !palette ? ERR_MEM : 0;
    if (!err) {
        std::memcpy(palette, resolved.pens, 1024);
        err = DuplicateCycleTable(resolved.cycleTable, resolved.cycleCount, &cycle);
    }
    if (!err)
        err = NewBGPicRecord(id, 0, d->width, d->height, d->width, nullptr, nullptr, nullptr, -1, nullptr, nullptr,
                             pens, resolved.depth, palette, &fill, cycle, cycle ? resolved.cycleCount : 0, nullptr,
                             made);
    if (err) {
        FreeBitmapHandle(pens);
        FreeMemory(palette);
        FreeMemory(cycle);
    }
    return err;
}

// The identifier of a display's own BGPic: display 1's picture made during the start-up
// preload is BGPic 1 (an older BGPic 1 is unlinked), any other gets a handle.
static lvObjectId OwnBGPicId(int preloadNumberOne)
{
    lvObjectId id = {0, nullptr};
    if (preloadNumberOne) {
        id.number = 1;
        lvBGPic *old = nullptr;
        if (FindBGPicById(id, &old, BGPIC_FIND_DETACHED) == 0) UnlinkBGPicById(id);
    }
    return id;
}

// The private BGPic of a display made from width, height and its fill.
static int MakeOwnBGPic(lvDisplay *d, const lvDisplayRequest *s, int preloadNumberOne)
{
    if (s->paletteGiven) {
        lvObjectId id = OwnBGPicId(preloadNumberOne);
        lvBGPic *made = nullptr;
        if (int err = MakeOwnPaletteBGPic(d, s, &id, &made)) return err;
        made->fillFollowsDisplay = 1;
        d->bgpic = made;
        d->ownsBGPic = 1;
        return 0;
    }
    lvBGPicFill fill = {};
    fill.style = d->fillStyle;
    fill.colour = d->colour;
    fill.gradient = d->gradient;
    fill.textureBrush = d->textureBrush;
    fill.textureX = d->textureX;
    fill.textureY = d->textureY;
    lvBitMapHandle *bitmap = nullptr;
    if (int err = BuildBGPicBitmaps(nullptr, &fill, -1, d->width, d->height, d->width, &bitmap, nullptr, nullptr,
                                    nullptr))
        return err;
    lvObjectId id = OwnBGPicId(preloadNumberOne);
    lvBGPic *made = nullptr;
    if (int err = NewBGPicRecord(&id, 0, d->width, d->height, d->width, nullptr, bitmap, nullptr, -1, nullptr,
                                 nullptr, nullptr, 24, nullptr, &fill, nullptr, 0, nullptr, &made)) {
        FreeBitmapHandle(bitmap);
        return err;
    }
    made->fillFollowsDisplay = 1;
    d->bgpic = made;
    d->ownsBGPic = 1;
    return 0;
}

// Copies the BGPic's picture into fresh display buffers of its size.
int RemakeDisplayBuffers(lvDisplay *d)
{
    lvBGPic *b = d->bgpic;
    if (IsPaletteDisplay(d)) {
        // Pens in both buffers; the picture buffer's RGB bitmap is only what is presented.
        int w = b->scaledWidth, h = b->scaledHeight;
        lvBitMapHandle *background = AllocChunkyBitmap(w, h, 1), *pens = AllocChunkyBitmap(w, h, 1);
        lvBitMapHandle *shown = AllocRgbBitmap(w, h, 0, nullptr);
        if (!background || !pens || !shown) {
            FreeBitmapHandle(background);
            FreeBitmapHandle(pens);
            FreeBitmapHandle(shown);
            return !shown ? ERR_BITMAP : ERR_ALLOCCHUNKY;
        }
        if (b->scaled.penBitmap) {
            CombineBytePlanes(b->scaled.penBitmap, 0, 0, background, 0, 0, w, h, 0, 0);
            CombineBytePlanes(b->scaled.penBitmap, 0, 0, pens, 0, 0, w, h, 0, 0);
        }
        for (lvBufferPair *pair : {&d->backgroundBuffer, &d->pictureBuffer}) {
            FreeBitmapHandle(pair->rgb);
            FreeBitmapHandle(pair->chunky);
        }
        d->backgroundBuffer = {nullptr, background};
        d->pictureBuffer = {shown, pens};
        ConvertDisplayPens(d, pens, 0, 0, w, h);
        SyncDisplayBlit(d);
        return 0;
    }
    lvBitMapHandle *background = AllocRgbBitmap(b->scaledWidth, b->scaledHeight, 0, nullptr);
    lvBitMapHandle *picture = AllocRgbBitmap(b->scaledWidth, b->scaledHeight, 0, nullptr);
    if (!background || !picture) {
        FreeBitmapHandle(background);
        FreeBitmapHandle(picture);
        return ERR_BITMAP;
    }
    {
        lvScopedLock from(b->scaled.bitmap, LOCK_READONLY), to1(background, 0), to2(picture, 0);
        if (from && to1 && to2) {
            // Buffers of the picture's own pixel format take its rows whole; only another
            // format goes through the per-pixel conversion.
            const lvBitMapLock &f = from.lock, &t1 = to1.lock, &t2 = to2.lock;
            bool sameFormat = f.format == t1.format && f.format == t2.format && f.bytesPerPixel == t1.bytesPerPixel &&
                              f.bytesPerPixel == t2.bytesPerPixel;
            size_t rowBytes = (size_t)b->scaledWidth * (size_t)f.bytesPerPixel;
            for (int y = 0; y < b->scaledHeight; y++) {
                if (sameFormat) {
                    const uint8_t *src = f.pixels + (size_t)y * f.rowLength * f.bytesPerPixel;
                    std::memcpy(t1.pixels + (size_t)y * t1.rowLength * t1.bytesPerPixel, src, rowBytes);
                    std::memcpy(t2.pixels + (size_t)y * t2.rowLength * t2.bytesPerPixel, src, rowBytes);
                    continue;
                }
                for (int x = 0; x < b->scaledWidth; x++) {
                    uint32_t c = ReadLockPixel(&f, x, y);
                    WriteLockPixel(&to1.lock, c, x, y);
                    WriteLockPixel(&to2.lock, c, x, y);
                }
            }
        }
    }
    for (lvBufferPair *pair : {&d->backgroundBuffer, &d->pictureBuffer}) {
        FreeBitmapHandle(pair->rgb);
        FreeBitmapHandle(pair->chunky);
    }
    d->backgroundBuffer = {background, nullptr};
    d->pictureBuffer = {picture, nullptr};
    SyncDisplayBlit(d);
    return 0;
}

bool DisplayPixelsFit(int64_t width, int64_t height)
{
    return width >= 1 && height >= 1 && ImagePixelsFit(width, height);
}

int ScaleDisplaySize(double factor, int width, int height, int *scaledWidth, int *scaledHeight)
{
    double w = factor * width, h = factor * height;
    // Compared as doubles first: a NaN or a product beyond the int range never reaches a cast.
    if (!(w >= 1 && h >= 1 && w * h <= (double)LV_MAX_IMAGE_PIXELS)) return ERR_WRONGUSAGE;
    *scaledWidth = (int)w;
    *scaledHeight = (int)h;
    return 0;
}

int ScaleDisplayCoordinate(int value, double factor)
{
    double v = value * factor;
    if (!(v > -LV_WINDOW_COORDINATE_LIMIT)) return -LV_WINDOW_COORDINATE_LIMIT;
    if (!(v < LV_WINDOW_COORDINATE_LIMIT)) return LV_WINDOW_COORDINATE_LIMIT;
    return (int)v;
}

// The sizes a creation request asks for, checked before anything is made: the private
// picture's (1522, as its allocation would fail), the scale size's and the factor's (1055).
static int CheckRequestedSizes(const lvDisplayRequest *s)
{
    if (!s->bgpicGiven && s->desktop <= 0 && !DisplayPixelsFit(s->width, s->height)) return ERR_BITMAP;
    int sw = s->scaleWidth > 0 ? s->scaleWidth : s->width, sh = s->scaleHeight > 0 ? s->scaleHeight : s->height;
    if ((s->scaleWidth > 0 || s->scaleHeight > 0) && !DisplayPixelsFit(sw, sh)) return ERR_WRONGUSAGE;
    if (s->scaleFactorGiven || s->mode == DISPMODE_SYSTEMSCALE) {
        double factor = s->scaleFactor * (s->mode == DISPMODE_SYSTEMSCALE ? WindowOps()->GetSystemScale() : 1.0);
        if (int err = ScaleDisplaySize(factor, s->width, s->height, &sw, &sh)) return err;
    }
    return 0;
}

int CreateDisplayFromRequest(lvState *L, int number, int nil, lvDisplayRequest *s, lvDisplay **out)
{
    if (out) *out = nullptr;
    if (int err = CheckRequestedSizes(s)) return err;
    // 1. A display of that number is freed first; when it cannot be, nothing is made.
    if (!nil) {
        lvDisplay *old = nullptr;
        if (FindDisplayById(lvObjectId{number, nullptr}, &old) == 0) {
            if (int err = FreeDisplayById(L, lvObjectId{number, nullptr})) return err;
        }
    }
    // A palette is for the display's own picture; a BGPic given brings its own.
    if (s->paletteGiven && s->bgpicGiven) return ERR_WRONGUSAGE;
    lvDisplay *d = (lvDisplay *)AllocMemory(sizeof(lvDisplay), 1);
    if (!d) return ERR_MEM;
    // 2. Defaults, then the options.
    ResetDrawTarget(&d->select.blit.target);
    InitDisplayEvents(&d->events);
    d->x = s->x;
    d->y = s->y;
    d->relativeX = d->relativeY = 1;
    d->width = s->width;
    d->height = s->height;
    d->styleFlags = s->styleFlags;
    d->styleFlags2 = s->styleFlags2;
    std::snprintf(d->title, sizeof d->title, "%s", s->title);
    d->fillStyle = s->fillStyle;
    d->colour = s->colour;
    d->gradient = s->gradient;
    d->textureBrush = s->textureBrush;
    d->textureX = s->textureX;
    d->textureY = s->textureY;
    d->monitor = s->monitor;
    d->orientation = s->orientation;
    d->immersiveMode = s->immersiveMode;
    d->mode = s->mode;
    d->screenWidth = s->screenWidth;
    d->screenHeight = s->screenHeight;
    d->screenDepth = s->screenDepth;
    d->desktop = s->desktop;
    d->backfill = s->backfillBlock;
    std::memcpy(d->backfillBrushFile, s->backfillBrushFile, sizeof d->backfillBrushFile);
    d->backfillDisplay = s->backfill;
    d->resourceMonitor = s->resourceMonitor;
    d->restoreWidth = s->restoreWidth;
    d->restoreHeight = s->restoreHeight;
    d->scaleX = d->scaleY = 1.0;
    d->scaleFactor = d->requestedScaleFactor = s->scaleFactor;
    d->scaleWidth = s->scaleWidth;
    d->scaleHeight = s->scaleHeight;
    d->dragRegionCount = s->dragRegionCount;
    d->sizeRegionCount = s->sizeRegionCount;
    d->dragRegionsGiven = s->dragRegionCount > 0;
    d->sizeRegionsGiven = s->sizeRegionCount > 0;
    std::memcpy(d->dragRegions, s->dragRegions, sizeof d->dragRegions);
    std::memcpy(d->sizeRegions, s->sizeRegions, sizeof d->sizeRegions);
    if (s->scaleMode == 1) d->styleFlags = (d->styleFlags & ~DSTYLE_LAYERSCALE) | DSTYLE_AUTOSCALE;
    if (s->scaleMode == 2) d->styleFlags = (d->styleFlags & ~DSTYLE_AUTOSCALE) | DSTYLE_LAYERSCALE;
    if (s->scaleMode == 0) d->styleFlags &= ~(DSTYLE_AUTOSCALE | DSTYLE_LAYERSCALE);

    int err = 0;
    // 4. System scale.
    if (d->mode == DISPMODE_SYSTEMSCALE) {
        d->scaleFactor = d->requestedScaleFactor * WindowOps()->GetSystemScale();
        d->mode = DISPMODE_WINDOWED;
        d->createdSystemScale = 1;
        d->scaledCoordinates = 1;
        d->systemScaleDiffers = d->scaleFactor != 1.0;
    }
    // 5, 6. A scale factor scales the window and the positions the script gives.
    if (d->scaleFactor != 1.0) {
        ScaleDisplaySize(d->scaleFactor, d->width, d->height, &d->scaleWidth, &d->scaleHeight);
        if (!(d->styleFlags & DSTYLE_LAYERSCALE)) d->styleFlags |= DSTYLE_AUTOSCALE;
        d->scaledCoordinates = 1;
    } else if (s->scaleFactorGiven) {
        d->scaledCoordinates = 1;
    }
    if (d->scaledCoordinates) {
        for (int *v : {&d->x, &d->y})
            if (*v > 0 && *v != LV_KEEPPOSITION && *v != LV_NOPOSITION) *v = ScaleDisplayCoordinate(*v, d->scaleFactor);
    }
    // 7. Negative restore sizes are percentages.
    if (d->restoreWidth < 0) d->restoreWidth = (int)((int64_t)-d->restoreWidth * d->width / 100);
    if (d->restoreHeight < 0) d->restoreHeight = (int)((int64_t)-d->restoreHeight * d->height / 100);
    // 8. A desktop display has its monitor's size.
    if (d->desktop > 0) {
        lvMonitorRect m;
        if ((err = GetMonitorRect(d, &m)) == 0) {
            d->width = m.width;
            d->height = m.height;
        }
    }
    // 9.
    if (d->backfillDisplay || d->resourceMonitor) d->styleFlags |= DSTYLE_HIDEFROMTASKBAR;
    // 11, 12.
    d->userTags = s->userTags;
    s->userTags = nullptr;
    if (s->menu != -1) {
        lvMenu *m = nullptr;
        if (FindMenuById({s->menu, nullptr}, &m) == 0) d->menu = m;
    }
    d->placement = s->placement;
    d->placementLength = s->placementLength;
    s->placement = nullptr;
    d->autoscale = (d->styleFlags & DSTYLE_AUTOSCALE) != 0;
    d->layerScale = (d->styleFlags & DSTYLE_LAYERSCALE) != 0;
    d->select.layersOn = d->layerScale || (d->styleFlags & DSTYLE_LAYERS);
    d->smoothScale = (d->styleFlags & DSTYLE_SMOOTHSCALE) != 0;
    if (!d->autoscale && !d->layerScale) d->scaleWidth = d->scaleHeight = 0;
    // 13. The BGPic: the one given, or a private one.
    if (!err && s->bgpicGiven) {
        lvBGPic *b = nullptr;
        if ((err = FindBGPicById(s->bgpic, &b, 0)) == 0) {
            if (DisplayShowsBGPic(b)) err = ERR_MULTIBGPIC;
            else {
                d->bgpic = b;
                d->width = b->scaledWidth;
                d->height = b->scaledHeight;
            }
        }
    } else if (!err) {
        int preload = GetRuntimeSwitches()->preloading && !nil && number == 1;
        err = MakeOwnBGPic(d, s, preload);
    }
    // 14. The window is the scale size.
    if (!err && (d->autoscale || d->layerScale) && d->scaleWidth > 0 && d->scaleHeight > 0) {
        int available[2] = {d->scaleWidth, d->scaleHeight};
        d->scaleX = (double)d->scaleWidth / d->width;
        d->scaleY = (double)d->scaleHeight / d->height;
        // With keepproportions the picture is fitted into the scale size, black bars around.
        if (d->autoscale) FitDisplayPicture(d, available[0], available[1]);
        d->width = available[0];
        d->height = available[1];
    }
    // 15.
    d->select.cursorX = d->select.cursorY = 0;
    d->select.marginLeft = 0;
    d->select.marginRight = d->bgpic ? d->bgpic->scaledWidth - 1 : 0;
    // 16, 17, 18.
    if (!err) err = RemakeDisplayBuffers(d);
    if (!err && !GetDisplayAdapter()) err = WindowOps()->AllocDisplayWindow(&d->window);
    if (!err && !(d->frameLock = NewMutex())) err = ERR_SEMAPHORE;
    if (err) {
        FreeDisplayContents(L, d, 0);
        FreeMemory(d);
        return err;
    }
    // 19.
    InitObjectHeader(&d->header, LV_TYPE_DISPLAY, nil ? 0 : number, nil != 0);
    LockDisplayList();
    lvObjectHeader **tail = &displayList;
    while (*tail) tail = &(*tail)->next;
    *tail = &d->header;
    UnlockDisplayList();
    if (out) *out = d;
    return 0;
}

// ---- Freeing ----------------------------------------------------------------------------

static void UnlinkDisplay(lvDisplay *d)
{
    LockDisplayList();
    for (lvObjectHeader **p = &displayList; *p; p = &(*p)->next) {
        if (*p == &d->header) {
            *p = d->header.next;
            break;
        }
    }
    UnlockDisplayList();
}

int FreeDisplayById(lvState *L, lvObjectId id)
{
    lvDisplay *d = nullptr;
    if (int err = FindDisplayById(id, &d)) return err;
    if (d == currentDisplay) return ERR_FREEADISPLAY;
    {
        // A plug-in thread attaches mirrors under the display lock: from the check until
        // the display leaves the list none may come (the lock is recursive).
        LockDisplayList();
        int err = d->mirrors ? ERR_SATFREEDISP : 0;
        if (!err) {
            FreeDisplayBackfill(L, d);
            if (d->backfillOwner) d->backfillOwner->backfillOf = nullptr;
            d->backfillOwner = nullptr;
            if (d->state != DISPSTATE_CLOSED) err = CloseDisplayCore(L, d, 0);
        }
        if (!err) UnlinkDisplay(d);
        UnlockDisplayList();
        if (err) return err;
    }
    // Events already queued for it are consumed without effect.
    DetachDisplayEvents(d);
    CancelQueuedCallbacks(L, CANCEL_DISPLAY, d);
    FreeDisplayContents(L, d, 0);
    FreeMemory(d);
    return 0;
}

void ShutdownDisplays(lvState *L)
{
    LockDisplayList();
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        if (d->state != DISPSTATE_CLOSED && !d->backfillOwner) CloseDisplayCore(L, d, 0);
    while (lvObjectHeader *h = displayList) {
        displayList = h->next;
        lvDisplay *d = (lvDisplay *)h;
        if (d->state != DISPSTATE_CLOSED) CloseDisplayCore(L, d, 0);
        DetachDisplayEvents(d);
        while (void *m = d->mirrors) {
            d->mirrors = *(void **)m;  // a mirror's first field is its successor
            FreeMemory(m);
        }
        FreeDisplayContents(L, d, 1);
        FreeMemory(d);
    }
    currentDisplay = nullptr;
    UnlockDisplayList();
    SetCurrentOutput(nullptr);
}

// A BGPic's pens changed: the displays that show it take them (the adapter's SetPalette
// where it declares it, else a whole redraw; a palette display, presented in colours made
// from its pens, is redrawn either way), except between BeginRefresh and EndRefresh.
static void DisplaysTakeBGPicPens(lvState *L, lvBGPic *record)
{
    const lvDisplayAdapterState *adapter = GetDisplayAdapter();
    for (lvObjectHeader *h = displayList; h; h = h->next) {
        lvDisplay *d = (lvDisplay *)h;
        if (d->bgpic != record || d->state == DISPSTATE_CLOSED || d->refreshMode) continue;
        int adapterPens = adapter && d->handle && (adapter->flags & LVP_ADAPTER_PALETTE) &&
                          (adapter->extensions & LVP_ADAPTEREXT_PALETTE) && adapter->record->SetPalette;
        if (adapterPens && record->palette)
            ((lvAdapterSetPaletteFunction)adapter->record->SetPalette)(d->handle, record->palette, 0);
        // A palette display is presented in colours made from its pens: they are made again.
        if (IsPaletteDisplay(d) || !adapterPens) RedrawDisplay(L, d, 0);
    }
}

// Palette operations on a display act on the BGPic it shows.
static int DisplayBGPicForPalette(lvObjectId id, lvBGPic **bgpic, lvBGPic **backBuffer)
{
    lvDisplay *d = nullptr;
    if (!id.number && !id.handle) {
        d = GetCurrentDisplay();
        if (!d) return ERR_OUTPUTDEVICE;
    } else if (int code = FindDisplayById(id, &d)) {
        return code;
    }
    *bgpic = d->bgpic;
    *backBuffer = d->select.doubleBufferActive ? d->select.backBufferRecord : nullptr;
    return 0;
}

// BGPics ask the display list whether one of them is on show.
struct lvBGPicQueryInstaller {
    lvBGPicQueryInstaller()
    {
        SetBGPicShownQuery(DisplayShowsBGPic);
        SetBGPicPensChangedHook(DisplaysTakeBGPicPens);
        SetPaletteDisplayResolver(DisplayBGPicForPalette);
        SetShowBGPicHook([](lvState *L, lvObjectId id, int x, int y) { return ShowBGPic(L, id, x, y, 0, nullptr); });
    }
};
static lvBGPicQueryInstaller bgpicQueryInstaller;
