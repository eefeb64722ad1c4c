// display_frames.cpp - the video frames that video threads hand to displays. A thread
// queues a frame under the display's frame lock; the script thread takes each display's
// whole queue when it gathers events and presents the frames over the picture, clipped
// to it, without making them part of the picture (a redraw shows the picture again).
//
// Frame coordinates are the picture's: on a scaled display the window or the adapter
// scales them with the rest, so the picture area is the window less its letterbox.
//
// Depends on: ui/display.h, ui/display_draw.h, raster/lvplanes.h.
#include <atomic>
#include <cstring>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_events.h"
#include "raster/lvbitmap.h"
#include "raster/lvplanes.h"
#include "raster/lvrect.h"
#include "ui/display.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"

struct lvVideoFrame {
    lvVideoFrame *next;
    void *video;              // the video the frame belongs to (kept for the video engine)
    lvBitMapHandle *bitmap;   // the display's from queueing on
    int x, y, width, height;  // where it goes on the picture
};

namespace {

// Raised when a frame is queued: the gathering pass of every wait looks here first and
// takes no lock while nothing came.
std::atomic<int> framesQueued{0};

struct DisplayLockGuard {
    DisplayLockGuard() { LockDisplayList(); }
    ~DisplayLockGuard() { UnlockDisplayList(); }
};

int DisplayIsListed(const lvDisplay *d)
{
    for (lvDisplay *o = FirstDisplay(); o; o = (lvDisplay *)o->header.next)
        if (o == d) return 1;
    return 0;
}

void FreeFrames(lvVideoFrame *f)
{
    while (f) {
        lvVideoFrame *next = f->next;
        FreeBitmapHandle(f->bitmap);
        FreeMemory(f);
        f = next;
    }
}

// A palette display shows only its pens: each colour becomes its nearest pen's.
lvBitMapHandle *ToDisplayPens(const lvDisplay *d, lvBitMapHandle *frame, int sx, int sy, int w, int h)
{
    lvBitMapHandle *out = AllocRgbBitmap(w, h, 0, nullptr);
    if (!out) return nullptr;
    CopyBitmapRect(frame, sx, sy, out, 0, 0, w, h);
    uint8_t *pixels;
    int rowBytes;
    if (uintptr_t token = GetPlanePixels(out, &pixels, &rowBytes, 0)) {
        for (int y = 0; y < h; y++) {
            uint32_t *row = (uint32_t *)(pixels + (size_t)y * rowBytes);
            for (int x = 0; x < w; x++) {
                int pen = FindNearestPen(row[x] & 0xFFFFFF, d->bgpic->palette, d->bgpic->depth);
                row[x] = 0xFF000000u | (d->bgpic->palette[pen] & 0xFFFFFF);
            }
        }
        ReleasePlanePixels(token);
    }
    return out;
}

void PresentFrame(lvDisplay *d, const lvVideoFrame *f)
{
    if (!d->bgpic || d->state != DISPSTATE_OPEN || !f->bitmap) return;
    // Clipped to the picture and to the frame's own pixels, the source moving with it.
    int x = f->x, y = f->y, w = f->width, h = f->height;
    ClipRectToBounds(0, 0, d->bgpic->scaledWidth, d->bgpic->scaledHeight, &x, &y, &w, &h);
    int sx = x - f->x, sy = y - f->y;
    int fw = f->bitmap->width - sx, fh = f->bitmap->height - sy;
    if (w > fw) w = fw;
    if (h > fh) h = fh;
    if (w < 1 || h < 1) return;
    lvBitMapHandle *source = f->bitmap, *converted = nullptr;
    if (d->bgpic->palette) {
        if (!(converted = ToDisplayPens(d, f->bitmap, sx, sy, w, h))) return;
        source = converted;
        sx = sy = 0;
    }
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (a && d->handle) {
        if (d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0) {
            // The adapter gets the picture scaled: the frame goes through the shown
            // picture for a moment, which the next presentation of that area restores.
            lvBitMapHandle *shown = d->frontBuffer.rgb ? d->frontBuffer.rgb : d->pictureBuffer.rgb;
            lvBitMapHandle *saved = shown ? AllocRgbBitmap(w, h, 0, nullptr) : nullptr;
            if (saved) {
                CopyBitmapRect(shown, x, y, saved, 0, 0, w, h);
                CopyBitmapRect(source, sx, sy, shown, x, y, w, h);
                PresentDisplayRect(d, x, y, w, h);
                CopyBitmapRect(saved, 0, 0, shown, x, y, w, h);
                FreeBitmapHandle(saved);
            }
        } else {
            lvAdapterBlit blit;
            std::memset(&blit, 0, sizeof blit);
            blit.sourceX = sx;
            blit.sourceY = sy;
            blit.destX = x;
            blit.destY = y;
            blit.width = w;
            blit.height = h;
            blit.transformFlags = -1;
            blit.transparentPen = -1;
            void *bitmap = AdapterOwnsBitmaps() ? source->backing : (void *)source;
            ((lvAdapterBltBitMapFunction)a->record->BltBitMap)(bitmap, d->handle, &blit, 0, 0);
        }
    } else if (d->window && d->window->open) {
        lvScopedLock lock(source, LOCK_READONLY);
        if (lock && lock.lock.format == PIXFMT_ARGB32 && lock.lock.bytesPerPixel == 4)
            WindowOps()->BlitToWindow(d->window, (const uint32_t *)lock.lock.pixels, lock.lock.rowLength, sx, sy, x,
                                      y, w, h);
    }
    FreeBitmapHandle(converted);
}

}  // namespace

int QueueVideoFrame(lvDisplay *d, void *video, lvBitMapHandle *bitmap, int x, int y, int width, int height)
{
    if (!d || !bitmap || width < 1 || height < 1) return ERR_WRONGUSAGE;
    lvVideoFrame *f = (lvVideoFrame *)AllocMemory(sizeof *f, 1);
    if (!f) return ERR_MEM;
    *f = {nullptr, video, bitmap, x, y, width, height};
    {
        // The display may be freed by the script meanwhile: it must still be listed.
        DisplayLockGuard guard;
        if (!DisplayIsListed(d) || !d->frameLock) {
            FreeMemory(f);
            return ERR_FINDDISPLAY;
        }
        LockMutex(d->frameLock);
        // A video's newer frame replaces its older one not yet shown.
        lvVideoFrame *stale = nullptr;
        lvVideoFrame **tail = (lvVideoFrame **)&d->videoFrames;
        while (*tail) {
            if (video && (*tail)->video == video) {
                lvVideoFrame *old = *tail;
                *tail = old->next;
                old->next = stale;
                stale = old;
                continue;
            }
            tail = &(*tail)->next;
        }
        *tail = f;
        UnlockMutex(d->frameLock);
        FreeFrames(stale);
    }
    framesQueued.store(1, std::memory_order_release);
    WakeMainLoop();
    WakeScriptThread();
    return 0;
}

int DisplayHasVideoFrames(lvDisplay *d)
{
    if (!d->frameLock) return 0;
    LockMutex(d->frameLock);
    int queued = d->videoFrames != nullptr;
    UnlockMutex(d->frameLock);
    return queued;
}

void DrawPendingVideoFrames(lvState *)
{
    // Taken whole under each frame lock; presented with no lock held. Only the script
    // thread frees displays, so a display stays valid here.
    struct Taken {
        lvDisplay *display;
        lvVideoFrame *frames;
    };
    if (!framesQueued.exchange(0, std::memory_order_acq_rel)) return;
    Taken taken[64];
    int count = 0;
    {
        DisplayLockGuard guard;
        lvDisplay *d = FirstDisplay();
        for (; d && count < 64; d = (lvDisplay *)d->header.next) {
            if (!d->frameLock) continue;
            LockMutex(d->frameLock);
            if (d->videoFrames) taken[count++] = {d, (lvVideoFrame *)d->videoFrames};
            d->videoFrames = nullptr;
            UnlockMutex(d->frameLock);
        }
        // Displays past the batch keep theirs for the next pass.
        if (d) framesQueued.store(1, std::memory_order_release);
    }
    for (int i = 0; i < count; i++) {
        for (lvVideoFrame *f = taken[i].frames; f; f = f->next) PresentFrame(taken[i].display, f);
        FreeFrames(taken[i].frames);
    }
}

void DropVideoFrames(lvDisplay *d)
{
    if (!d->frameLock) return;
    LockMutex(d->frameLock);
    lvVideoFrame *f = (lvVideoFrame *)d->videoFrames;
    d->videoFrames = nullptr;
    UnlockMutex(d->frameLock);
    FreeFrames(f);
}

void DropVideoFramesOf(lvDisplay *d, void *video)
{
    if (!d || !video) return;
    lvVideoFrame *stale = nullptr;
    {
        DisplayLockGuard guard;
        if (!DisplayIsListed(d) || !d->frameLock) return;
        LockMutex(d->frameLock);
        lvVideoFrame **link = (lvVideoFrame **)&d->videoFrames;
        while (*link) {
            if ((*link)->video == video) {
                lvVideoFrame *old = *link;
                *link = old->next;
                old->next = stale;
                stale = old;
                continue;
            }
            link = &(*link)->next;
        }
        UnlockMutex(d->frameLock);
    }
    FreeFrames(stale);
}
