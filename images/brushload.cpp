// brushload.cpp - making brushes: the planes of a new brush, brushes drawn by a script
// callback (rendered again whenever their size or matrix changes), cropping decoded
// pixels, and realizing brushes that were decoded before any display existed.
//
// A callback may do anything a script can, so the brush being rendered is locked for the
// callback's duration (a modifying look-up of it fails with ERR_LOCKEDOBJ instead of
// recursing or freeing it), and the temporary brush the callback draws into is looked up
// again afterwards: the callback may have freed it.
//
// Depends on: images/lvbrush.h, images/lvoffscreen.h, raster/lvimage.h, formats/lvformats.h.
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbrush.h"
#include "images/lvoffscreen.h"
#include "images/lvpalette.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "runtime/cmdsupport.h"
#include "runtime/errors.h"

static int preloadPhase;

void SetBrushPreloadPhase(int on) { preloadPhase = on; }

// ---- Callback brushes ---------------------------------------------------------------------

// The creation parameters a callback brush keeps with its image source.
struct lvCallbackBrushState {
    lvState *state;
    int callbackRef;
    int userDataRef;
    int mask, alpha, clear;
    int depth;
    uint32_t colour;
    int transparentColour;
    uint32_t *palette;
};

static void FreeCallbackBrushState(void *handle)
{
    auto *s = (lvCallbackBrushState *)handle;
    if (!s) return;
    if (s->state) {
        if (s->callbackRef >= 0) ReleaseReference(s->state, LV_REGISTRYINDEX, s->callbackRef);
        if (s->userDataRef >= 0) ReleaseReference(s->state, LV_REGISTRYINDEX, s->userDataRef);
    }
    FreeMemory(s->palette);
    FreeMemory(s);
}

// Renders the callback's picture at the matrix and size into new planes.
static int DrawCallbackBrush(void *handle, const double *matrix, lvBitMapHandle **rgb, lvBitMapHandle **mask,
                             lvBitMapHandle **alpha, void **extra, int *width, int *height)
{
    auto *s = (lvCallbackBrushState *)handle;
    lvState *L = s->state;
    lvBrushRequest request = {};
    request.width = *width;
    request.height = *height;
    request.colour = s->colour;
    request.transparentColour = s->transparentColour;
    request.mask = s->mask;
    request.alpha = s->alpha;
    request.clear = s->clear;
    request.depth = s->depth;
    request.palette = s->palette;
    request.callbackRef = request.userDataRef = -1;
    lvObjectId temp = {0, nullptr};
    if (int code = AllocBrushBitmaps(L, &temp, &request)) return code;

    int top = GetStackTop(L);
    GetTableItemRaw(L, LV_REGISTRYINDEX, s->callbackRef);
    PushNewTable(L);
    SetFieldString(L, "action", "Draw");
    SetFieldObjectId(L, "id", temp);
    SetFieldInt(L, "width", *width);
    SetFieldInt(L, "height", *height);
    SetFieldNumber(L, "sx", matrix ? matrix[0] : 1);
    SetFieldNumber(L, "rx", matrix ? matrix[1] : 0);
    SetFieldNumber(L, "ry", matrix ? matrix[2] : 0);
    SetFieldNumber(L, "sy", matrix ? matrix[3] : 1);
    if (s->userDataRef >= 0) {
        PushString(L, "userdata");
        GetTableItemRaw(L, LV_REGISTRYINDEX, s->userDataRef);
        SetTableValueRaw(L, -3);
    }
    lvOutputSave save;
    SaveOutputForCallback(&save);
    // The drawing runs inside a command: no event may run a script callback meanwhile.
    int suspended = GetRuntimeSwitches()->hookSuspended;
    GetRuntimeSwitches()->hookSuspended = 1;
    SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 1, 0);
    int code = ProtectedCall(L, 1, 0, 0);
    SetRuntimeFlags(L, LV_FLAG_CALLBACK_DEPTH, 0, 0);
    GetRuntimeSwitches()->hookSuspended = suspended;
    RestoreOutputAfterCallback(L, &save, code == 0);
    SetStackTop(L, top);

    lvBrush *b = nullptr;
    int found = FindBrushById(L, temp, &b, BRUSH_HARDWARE | BRUSH_NOLAYERCOPY);
    if (code) {
        if (!found) UnlinkBrushById(temp, L);
        return code;
    }
    if (found) return found;  // the callback freed the brush it was to draw into
    *rgb = b->bitmap;
    if (mask) *mask = b->mask;
    if (alpha) *alpha = b->alpha;
    if (extra) *extra = b->penBitmap;
    b->bitmap = b->mask = b->alpha = b->penBitmap = nullptr;
    UnlinkBrushById(temp, L);
    return 0;
}

// ---- Hardware brushes --------------------------------------------------------------------

static int (*hardwareResolver)(lvObjectId, void **, lvObjectId *);

void SetHardwareDisplayResolver(int (*resolve)(lvObjectId, void **, lvObjectId *)) { hardwareResolver = resolve; }

int ResolveHardwareBrushDisplay(lvObjectId displayId, void **display, lvObjectId *resolvedId)
{
    if (!hardwareResolver) return 1526;  // no display has been realized
    return hardwareResolver(displayId, display, resolvedId);
}

int VideoBitmapsOffered(void) { return (QueryBitmapCaps(8) & 8) != 0; }

// A video bitmap filled with the colour; null when the back-end made none.
static lvBitMapHandle *AllocVideoBrushBitmap(const lvBrushRequest *q, void *display, int *code)
{
    size_t count = (size_t)q->width * (size_t)q->height;
    auto *argb = (uint32_t *)AllocMemory(count * 4, 0);
    if (!argb) {
        *code = ERR_MEM;
        return nullptr;
    }
    uint32_t colour = (q->clear ? 0u : 0xFF000000u) | (q->colour & 0xFFFFFFu);
    for (size_t i = 0; i < count; i++) argb[i] = colour;
    lvVideoSource source = {};
    source.argb = argb;
    source.rawPixels = 1;
    source.sourceWidth = q->width;
    source.sourceHeight = q->height;
    source.smooth = q->smoothScale;
    source.window = display;
    lvBitMapHandle *video =
        AllocRgbBitmap(q->width, q->height, BMF_VIDEO | (q->mask || q->alpha ? BMF_TRANSPARENCY : 0), &source);
    FreeMemory(argb);
    if (video && !video->video) {
        // The back-end's fallback made a plain bitmap: an ordinary brush is made instead.
        FreeBitmapHandle(video);
        return nullptr;
    }
    if (!video && !(RasterState.adapter && (RasterState.adapter->flags & ADAPTER_VIDEOFALLBACK))) *code = ERR_BITMAP;
    return video;
}

// ---- New brushes --------------------------------------------------------------------------

static int FillPlane(lvBitMapHandle *plane, int value, int height)
{
    uint8_t *pixels;
    int rowBytes;
    uintptr_t token = GetPlanePixels(plane, &pixels, &rowBytes, 1);
    if (!token) return ERR_LOCKBMAP;
    std::memset(pixels, value, (size_t)rowBytes * (size_t)height);
    ReleasePlanePixels(token);
    return 0;
}

static int FillRgb(lvBitMapHandle *bitmap, uint32_t colour, int width, int height)
{
    lvScopedLock lock(bitmap, 0);
    if (!lock) return ERR_LOCKBMAP;
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) WriteLockPixel(&lock.lock, colour, x, y);
    return 0;
}

int AllocBrushBitmaps(lvState *L, lvObjectId *id, const lvBrushRequest *q)
{
    int depth = q->depth ? q->depth : (q->mask || q->alpha) ? 32 : 24;
    bool paletteBrush = depth >= 1 && depth <= 8;
    uint32_t *palette = nullptr;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr, *pens = nullptr;
    lvImageSource *source = nullptr;
    int transparent = q->transparentColour;
    int code = 0;
    if (q->hardware && !paletteBrush && VideoBitmapsOffered()) {
        void *display = nullptr;
        lvObjectId displayId = {0, nullptr};
        if ((code = ResolveHardwareBrushDisplay(q->displayId, &display, &displayId))) return code;
        rgb = AllocVideoBrushBitmap(q, display, &code);
        if (code) return code;
        if (rgb) {
            lvBrush *b = nullptr;
            code = NewBrushRecord(id, 0, q->width, q->height, q->width, 0, nullptr, rgb, -1, nullptr, nullptr, nullptr,
                                  depth, nullptr, &displayId, nullptr, 0, nullptr, &b);
            if (code) {
                FreeBitmapHandle(rgb);
                return code;
            }
            b->hardware = 1;
            b->display = display;
            b->smoothScale = q->smoothScale;
            b->hardwareTransparency = (q->mask ? 1 : 0) | (q->alpha ? 2 : 0);
            return 0;
        }
    }
    if (paletteBrush) {
        palette = (uint32_t *)AllocMemory(1024, 1);
        if (!palette) return ERR_MEM;
        if (q->palette) std::memcpy(palette, q->palette, 1024);
    }
    if (q->callbackRef >= 0) {
        auto *s = (lvCallbackBrushState *)AllocMemory(sizeof(lvCallbackBrushState), 1);
        if (!s) {
            FreeMemory(palette);
            return ERR_MEM;
        }
        *s = {L, q->callbackRef, q->userDataRef, q->mask, q->alpha, q->clear, q->depth, q->colour,
              q->transparentColour, nullptr};
        if (palette) {
            s->palette = (uint32_t *)AllocMemory(1024, 0);
            if (!s->palette) code = ERR_MEM;
            else std::memcpy(s->palette, palette, 1024);
        }
        int width = q->width, height = q->height;
        void *extra = nullptr;
        // The references become the source's only once it exists.
        if (!code) code = DrawCallbackBrush(s, nullptr, &rgb, &mask, &alpha, &extra, &width, &height);
        pens = (lvBitMapHandle *)extra;
        if (!code) {
            source = NewImageSource(LV_IMGSRC_RENDER, s, nullptr, nullptr, nullptr, DrawCallbackBrush,
                                    FreeCallbackBrushState, q->width, q->height, nullptr, nullptr, 0);
            if (!source) code = 1675;
        }
        if (code) {
            s->callbackRef = s->userDataRef = -1;
            FreeCallbackBrushState(s);
        }
    } else if (paletteBrush) {
        pens = AllocChunkyBitmap(q->width, q->height, 1);
        if (!pens) code = ERR_ALLOCCHUNKY;
        else if (!q->noFill && q->colour) code = FillPlane(pens, (int)(q->colour & 0xFF), q->height);
    } else {
        rgb = AllocRgbBitmap(q->width, q->height, 0, nullptr);
        if (!rgb) code = ERR_BITMAP;
        else if (!q->noFill) code = FillRgb(rgb, 0xFF000000u | q->colour, q->width, q->height);
        if (!code && q->mask) {
            mask = AllocMaskBitmap(rgb, q->width, q->height, 1, nullptr, 0);
            if (!mask) code = ERR_ALLOCMASK;
            else if (!q->clear) code = FillPlane(mask, 0xFF, q->height);
            transparent = 0xAFC0DE;
        }
        if (!code && q->alpha) {
            alpha = AllocAlphaBitmap(q->width, q->height, 1, nullptr, 0);
            if (!alpha) code = ERR_ALLOCALPHA;
            else if (!q->clear) code = FillPlane(alpha, 0xFF, q->height);
        }
    }
    lvCycleRange *cycle = nullptr;
    if (!code) code = DuplicateCycleTable(q->cycleTable, q->cycleCount, &cycle);
    if (!code)
        code = NewBrushRecord(id, source ? 1 : 0, q->width, q->height, q->width, 0, source, rgb, transparent, mask,
                              alpha, pens, depth, palette, nullptr, cycle, q->cycleCount, nullptr, nullptr);
    if (code) {
        FreeMemory(cycle);
        FreeMemory(palette);
        FreeBitmapHandle(rgb);
        FreeBitmapHandle(mask);
        FreeBitmapHandle(alpha);
        FreeBitmapHandle(pens);
        if (source) ReleaseImageSource(source);
    }
    return code;
}

int RerenderBrush(lvState *L, lvBrush *b, const double matrix[4], int width, int height)
{
    if (b->kind != 1 || !b->imageSource || !b->imageSource->render) return ERR_BRUSHTYPE;
    if (b->lockCount) return ERR_LOCKEDOBJ;
    lvBitMapHandle *rgb = nullptr, *mask = nullptr, *alpha = nullptr;
    void *extra = nullptr;
    int w = width, h = height;
    lvImageSource *source = RetainImageSource(b->imageSource);
    b->lockCount++;
    int code = source->render(source->handle, matrix, &rgb, &mask, &alpha, &extra, &w, &h);
    b->lockCount--;
    ReleaseImageSource(source);
    if (code) return code;
    FreeBitmapHandle(b->bitmap);
    FreeBitmapHandle(b->mask);
    FreeBitmapHandle(b->alpha);
    FreeBitmapHandle(b->penBitmap);
    b->bitmap = rgb;
    b->mask = mask;
    b->alpha = alpha;
    b->penBitmap = (lvBitMapHandle *)extra;
    b->width = b->sourceRowLength = w;
    b->height = h;
    b->transformed = !(matrix[0] == 1 && matrix[1] == 0 && matrix[2] == 0 && matrix[3] == 1);
    return 0;
}

// ---- Decoded pixels -----------------------------------------------------------------------

int CropArgbPixels(const uint32_t *pixels, int rowLength, int x, int y, int width, int height, int sourceHeight,
                   lvBitMapHandle *alpha, uint32_t **pixelsOut, lvBitMapHandle **alphaOut)
{
    if (x == 0 && y == 0 && width == rowLength && height == sourceHeight) {
        *pixelsOut = (uint32_t *)pixels;
        *alphaOut = alpha;
        return 0;
    }
    auto *copy = (uint32_t *)AllocMemory(sizeof(uint32_t) * (size_t)width * (size_t)height, 0);
    if (!copy) return ERR_MEM;
    for (int row = 0; row < height; row++)
        std::memcpy(copy + (size_t)row * width, pixels + (size_t)(y + row) * rowLength + x, sizeof(uint32_t) * width);
    lvBitMapHandle *newAlpha = nullptr;
    if (alpha) {
        newAlpha = AllocAlphaBitmap(width, height, 0, nullptr, 0);
        if (!newAlpha) {
            FreeMemory(copy);
            return ERR_ALLOCALPHA;
        }
        uint8_t *from, *to;
        int fromRow, toRow;
        uintptr_t a = GetPlanePixels(alpha, &from, &fromRow, 0);
        uintptr_t b = a ? GetPlanePixels(newAlpha, &to, &toRow, 1) : 0;
        if (!a || !b) {
            if (a) ReleasePlanePixels(a);
            FreeBitmapHandle(newAlpha);
            FreeMemory(copy);
            return ERR_LOCKBMAP;
        }
        for (int row = 0; row < height; row++)
            std::memcpy(to + (size_t)row * toRow, from + (size_t)(y + row) * fromRow + x, (size_t)width);
        ReleasePlanePixels(b);
        ReleasePlanePixels(a);
    }
    *pixelsOut = copy;
    *alphaOut = newAlpha;
    return 0;
}

int RealizeBrushImages(int noHardware, int deferHardware)
{
    for (lvObjectHeader *h = *BrushListHead(); h; h = h->next) {
        lvBrush *b = (lvBrush *)h;
        if (b->bitmap || b->penBitmap || !b->imageSource) continue;
        if (noHardware || !VideoBitmapsOffered()) b->hardware = 0;
        if (b->hardware && deferHardware && (QueryBitmapCaps(0x20) & 0x20)) continue;
        if (int code = RealizeBrushImage(b)) return code;
    }
    return 0;
}

int RealizeBrushImage(lvBrush *b)
{
    {
        const uint32_t *pixels = b->imageSource ? b->imageSource->pixels : nullptr;
        if (b->bitmap || b->penBitmap || !pixels) return 0;
        b->hardware = 0;  // the realizing of video bitmaps comes with the displays
        uint32_t *cropped;
        lvBitMapHandle *alpha = b->alpha, *croppedAlpha;
        int code = CropArgbPixels(pixels, b->sourceRowLength, b->cropX, b->cropY, b->cropWidth, b->cropHeight,
                                  b->height, alpha, &cropped, &croppedAlpha);
        if (code) return code;
        lvBitMapHandle *rgb = nullptr, *mask = nullptr;
        code = BitmapFromArgb(cropped, b->transparentColour, b->cropWidth, b->cropHeight,
                              cropped == pixels ? b->sourceRowLength : b->cropWidth, b->hardware, 0, nullptr, &rgb,
                              &mask, &croppedAlpha);
        if (cropped != pixels) FreeMemory(cropped);
        if (code) {
            if (croppedAlpha != alpha) FreeBitmapHandle(croppedAlpha);
            return code;
        }
        if (croppedAlpha != alpha) FreeBitmapHandle(alpha);
        b->bitmap = rgb;
        b->mask = mask;
        b->alpha = croppedAlpha;
        b->width = b->sourceRowLength = b->cropWidth;
        b->height = b->cropHeight;
        b->hardware = 0;
        if (b->kind != 1) {
            ReleaseImageSource(b->imageSource);
            b->imageSource = nullptr;
        }
        b->depth = b->mask || b->alpha ? 32 : 24;
    }
    return 0;
}
