// display_snapshot.cpp - pictures of displays and of the desktop: screen grabs (through
// the display adapter or the platform's screen copy), SaveSnapshot's three kinds and
// GrabDesktop's brush.
//
// Depends on: ui/display.h, ui/display_draw.h, formats/lvsavers.h, images/lvbrush.h.
#include "ui/display_draw.h"

#include <cstring>

#include "base/lverrors.h"
#include "formats/lvsavers.h"
#include "images/lvbrush.h"
#include "platform/lvplatform.h"
#include "raster/lvimage.h"
#include "raster/lvplanes.h"

int GrabScreenRect(lvDisplay *d, int x, int y, int width, int height, lvBitMapHandle **out)
{
    *out = nullptr;
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    uint32_t *pixels = nullptr;
    int err = 0;
    if (a && (a->flags & LVP_ADAPTER_GRABSCREEN)) {
        uint32_t *grabbed = ((lvAdapterGrabFunction)a->record->GrabScreenPixels)(d ? d->handle : nullptr, x, y,
                                                                                 width, height, 0, 0);
        if (!grabbed) return ERR_GRABSCREEN;
        pixels = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
        if (pixels) std::memcpy(pixels, grabbed, (size_t)width * height * 4);
        ((lvAdapterFreeGrabFunction)a->record->FreeGrabScreenPixels)(grabbed);
        if (!pixels) return ERR_MEM;
    } else if ((err = CopyScreenArea(x, y, width, height, &pixels))) {
        return err;
    }
    lvBitMapHandle *b = AllocRgbBitmap(width, height, 0, nullptr);
    if (b) {
        lvScopedLock lock(b, 0);
        if (lock) {
            for (int row = 0; row < height; row++)
                for (int col = 0; col < width; col++)
                    WriteLockPixel(&lock.lock, pixels[(size_t)row * width + col] | 0xFF000000u, col, row);
        }
    }
    FreeMemory(pixels);
    if (!b) return ERR_BITMAP;
    *out = b;
    return 0;
}

int SaveDisplaySnapshot(lvDisplay *d, int kind, const lvSnapshotSave *save)
{
    lvBitMapHandle *grabbed = nullptr, *source = nullptr;
    int width = 0, height = 0;
    switch (kind) {
    case SNAP_WINDOW: {
        if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
        width = d->width + d->borderWidth;
        height = d->height + d->borderHeight;
        if (int err = GrabScreenRect(d, d->x, d->y, width, height, &grabbed)) return err;
        source = grabbed;
        break;
    }
    case SNAP_DISPLAY:
        if (d->adapterDoubleBuffer || d->select.blit.target.hardware) return ERR_WRONGUSAGE;
        // While double buffering the front buffer is what shows; else the picture with its
        // layers, which the picture buffer holds.
        source = d->frontBuffer.rgb ? d->frontBuffer.rgb : d->pictureBuffer.rgb;
        if (!source) return ERR_CLOSEDDISPLAY;
        width = source->width;
        height = source->height;
        break;
    case SNAP_DESKTOP: {
        lvMonitorRect m;
        if (int err = GetMonitorRect(d, &m)) return err;
        width = m.width;
        height = m.height;
        if (int err = GrabScreenRect(d, m.x, m.y, width, height, &grabbed)) return err;
        source = grabbed;
        break;
    }
    default:
        return ERR_WRONGUSAGE;
    }
    int err = WriteImageFile(save->format, source, width, height, save->path, save->adapter, save->userTags, nullptr,
                             -1, nullptr, nullptr, nullptr, 24, -1, save->quality, save->dither, 0);
    FreeBitmapHandle(grabbed);
    return err;
}

int ClipDesktopGrab(const lvMonitorRect &m, int *x, int *y, int *width, int *height)
{
    if (*x == LV_NOPOSITION) *x = m.x;
    if (*y == LV_NOPOSITION) *y = m.y;
    if (*x < 0 || *y < 0) return ERR_WRONGUSAGE;
    if (*width == LV_NOPOSITION) *width = m.width;
    if (*height == LV_NOPOSITION) *height = m.height;
    // The rectangle ends where the monitor ends, wherever the monitor lies on the desktop.
    if (*x + *width > m.x + m.width) *width = m.x + m.width - *x;
    if (*y + *height > m.y + m.height) *height = m.y + m.height - *y;
    if (*width < 1 || *height < 1) return ERR_WRONGUSAGE;
    return 0;
}

int GrabDesktopBrush(lvState *L, lvDisplay *d, lvObjectId *id, int x, int y, int width, int height)
{
    lvMonitorRect m;
    if (!d) return ERR_OUTPUTDEVICE;
    if (int err = GetMonitorRect(d, &m)) return err;
    if (int err = ClipDesktopGrab(m, &x, &y, &width, &height)) return err;
    if (!id->handle && id->number) ReleaseBrushRecord(L, *id, 0);
    lvBitMapHandle *grabbed = nullptr;
    if (int err = GrabScreenRect(d, x, y, width, height, &grabbed)) return err == ERR_GRABSCREEN ? err : ERR_MEM;
    lvBrush *made = nullptr;
    int err = NewBrushRecord(id, 0, width, height, width, 0, nullptr, grabbed, -1, nullptr, nullptr, nullptr, 32,
                             nullptr, nullptr, nullptr, 0, nullptr, &made);
    if (err) FreeBitmapHandle(grabbed);
    return err;
}
