// display_mirrors.cpp - mirrors: plug-ins that watch a display (its presented rectangles,
// size changes, vertical blanks), feed input back into it, ask about its geometry and
// have it redrawn or resized; and the two entries for display adapters.
//
// Plug-in threads call these entries while the script may free displays: every walk of
// the display list and every mirror list change happens under the display lock. Redraws
// and resizes asked from another thread run later on the script thread.
//
// Depends on: ui/display.h, ui/display_mirrors.h, ui/display_windows.h.
#include "ui/display_mirrors.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <pthread.h>
#include <vector>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "runtime/objects.h"
#include "runtime/startup.h"
#include "runtime/cmdsupport.h"
#include "ui/display_draw.h"
#include "ui/display_windows.h"

struct lvDisplayMirror {
    lvDisplayMirror *next;        // of the same display
    lvMirrorCallback callback;
    void *userData;
    void *window;                 // the plug-in's, kept
    int served;
    int wantsVBlank;              // tag 3
    lvDisplay *display;
    int wantsRefreshMode;         // tag 4
    int unscaled;                 // tag 5: picture coordinates
    int rawPens;                  // tag 8
    uint32_t options;             // tag 9
};

// The thread that runs the script's display commands.
static pthread_t scriptThread;
static std::atomic<int> scriptThreadKnown{0};

void NoteDisplayScriptThread(void)
{
    scriptThread = pthread_self();
    scriptThreadKnown.store(1, std::memory_order_release);
}

static int IsScriptThreadNow(void)
{
    return scriptThreadKnown.load(std::memory_order_acquire) && pthread_equal(scriptThread, pthread_self());
}

static lvDisplayMirror *MirrorsOf(const lvDisplay *d) { return (lvDisplayMirror *)d->mirrors; }

// Display lock held: the display that holds the mirror, or null.
static lvDisplay *DisplayOfMirror(const void *mirror)
{
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        for (lvDisplayMirror *m = MirrorsOf(d); m; m = m->next)
            if (m == mirror) return d;
    return nullptr;
}

struct lvDisplayLockGuard {
    lvDisplayLockGuard() { LockDisplayList(); }
    ~lvDisplayLockGuard() { UnlockDisplayList(); }
};

static int Autoscaled(const lvDisplay *d) { return d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0; }

void *AttachDisplayMirror(const lvPluginObjectId *id, lvMirrorCallback callback, void *userData,
                          const lvPluginTag *tags, void *window)
{
    if (!id || !callback) return nullptr;
    lvDisplayLockGuard guard;
    // Found here rather than by FindDisplayById: a miss must not touch the script
    // thread's error argument.
    lvDisplay *d = FirstDisplay();
    while (d && !ObjectIdMatches(&d->header, lvObjectId{id->number, id->handle})) d = (lvDisplay *)d->header.next;
    if (!d) return nullptr;
    if ((d->bgpic && BGPicHasTransparency(d->bgpic)) || d->adapterDoubleBuffer || DisplayHasVideoFrames(d))
        return nullptr;
    lvDisplayMirror *m = (lvDisplayMirror *)AllocMemory(sizeof *m, 1);
    if (!m) return nullptr;
    m->callback = callback;
    m->userData = userData;
    m->window = window;
    m->display = d;
    int pw = d->bgpic ? d->bgpic->scaledWidth : d->width, ph = d->bgpic ? d->bgpic->scaledHeight : d->height;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        switch (t->tag) {
        case 1: *(int32_t *)t->value = Autoscaled(d) ? d->scaleWidth : pw; break;
        case 2: *(int32_t *)t->value = Autoscaled(d) ? d->scaleHeight : ph; break;
        case 6: *(int32_t *)t->value = pw; break;
        case 7: *(int32_t *)t->value = ph; break;
        case 3: m->wantsVBlank = t->value != 0; break;
        case 4: m->wantsRefreshMode = t->value != 0; break;
        case 5: m->unscaled = t->value != 0; break;
        case 8: m->rawPens = t->value != 0; break;
        case 9: m->options = (uint32_t)t->value; break;
        default: break;
        }
    }
    lvDisplayMirror **tail = (lvDisplayMirror **)&d->mirrors;
    while (*tail) tail = &(*tail)->next;
    // Stored atomically: the script thread looks at an empty list without the lock.
    __atomic_store_n(tail, m, __ATOMIC_RELEASE);
    return m;
}

void DetachDisplayMirror(void *mirror)
{
    lvDisplayLockGuard guard;
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        for (lvDisplayMirror **p = (lvDisplayMirror **)&d->mirrors; *p; p = &(*p)->next)
            if (*p == mirror) {
                lvDisplayMirror *m = *p;
                __atomic_store_n(p, m->next, __ATOMIC_RELEASE);
                if (d->mirrorServed == m) d->mirrorServed = nullptr;
                FreeMemory(m);
                return;
            }
}

// Only codes 1 to 313 have an entry in the key tables.
static int KeyCodeInRange(int code) { return code >= 1 && code < LV_KEY_CODES; }

void PostMirrorInput(void *mirror, int message, const void *data)
{
    if (IsShuttingDown()) return;
    const int32_t *w = (const int32_t *)data;
    {
        lvDisplayLockGuard guard;
        lvDisplay *d = DisplayOfMirror(mirror);
        if (!d || !w) {
            if (d && message == 7) FreeMemory((void *)w);
        } else {
            if (message >= 0 && message <= 4) {
                d->lastMouseX = w[0];
                d->lastMouseY = w[1];
            }
            switch (message) {
            case 0:
                GetTimeVal(&d->events.moveTime);
                d->events.mouseMoved = 1;
                break;
            case 1:
            case 2:
            case 3: {
                static const int types[] = {EVENT_LEFTMOUSE, EVENT_RIGHTMOUSE, EVENT_MIDMOUSE};
                uint8_t *state[] = {&d->events.leftButton, &d->events.rightButton, &d->events.midButton};
                *state[message - 1] = (uint8_t)(w[2] != 0);
                PostEvent(d, types[message - 1], w[0], w[1], w[2] != 0, nullptr);
                break;
            }
            case 4:
                PostEvent(d, w[2] ? EVENT_WHEELDOWN : EVENT_WHEELUP, 0, 0, 0, nullptr);
                break;
            case 5: {
                int code = w[0], down = ((const uint8_t *)&w[1])[0] != 0;
                d->lastQualifiers = (uint32_t)w[2];
                if (KeyCodeInRange(code)) {
                    d->events.keyState[code] = (uint8_t)down;
                    d->events.keyPresses[code] += (uint8_t)down;
                    PostEvent(d, EVENT_KEY, down, w[2], code, nullptr);
                }
                break;
            }
            case 6:
                PostEvent(d, EVENT_VANILLAKEY, 0, 0, w[0], nullptr);
                break;
            case 7: {
                // {x, y, names}: the names are the runtime's from here on.
                struct Drop {
                    int32_t x, y;
                    void *names;
                };
                const Drop *drop = (const Drop *)data;
                if (PostEvent(d, EVENT_DROPFILES, drop->x, drop->y, 0, drop->names) != 1) FreeMemory(drop->names);
                break;
            }
            case 8: {
                int code = w[0], down = ((const uint8_t *)&w[1])[0] != 0;
                if (KeyCodeInRange(code)) {
                    d->events.rawKeyState[code] = (uint8_t)down;
                    d->events.rawKeyPresses[code] += (uint8_t)down;
                    PostEvent(d, EVENT_RAWKEY, down, 0, code, nullptr);
                }
                break;
            }
            default:
                break;
            }
        }
    }
    WakeMainLoop();
    WakeScriptThread();
}

int GetMirrorDisplayAttrs(void *key, const lvPluginTag *tags)
{
    int isMirror = 0;
    for (const lvPluginTag *t = tags; t && t->tag; t++)
        if (t->tag == 10 && t->value) isMirror = 1;
    lvDisplayLockGuard guard;
    lvDisplay *d = isMirror ? DisplayOfMirror(key) : FindDisplayByHandle(key);
    if (!d) return -1;
    int known = 0;
    int pw = d->bgpic ? d->bgpic->scaledWidth : 0, ph = d->bgpic ? d->bgpic->scaledHeight : 0;
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        void *out = (void *)t->value;
        switch (t->tag) {
        case 1: *(int32_t *)out = d->width; break;
        case 2: *(int32_t *)out = d->height; break;
        case 3: *(int32_t *)out = pw; break;
        case 4: *(int32_t *)out = ph; break;
        case 5: {
            const lvDisplayAdapterState *a = GetDisplayAdapter();
            *(uint32_t *)out = a ? a->flags : 0;
            break;
        }
        case 6: *(int32_t *)out = d->scaleWidth; break;
        case 7: *(int32_t *)out = d->scaleHeight; break;
        case 8: *(int32_t *)out = d->smoothScale; break;
        case 9: *(int32_t *)out = d->events.slots[HANDLER_ONDROPFILE].function != -1; break;
        case 10: break;  // the key's kind, not an answer
        case 11: *(double *)out = d->scaledCoordinates ? d->scaleFactor : 1.0; break;
        default: continue;
        }
        if (t->tag != 10) known++;
    }
    return known;
}

// ---- Presentation to mirrors ----------------------------------------------------------------

// Sends one presented rectangle of the picture to each mirror (or the one being served).
void NotifyMirrorsOfPresent(lvDisplay *d, const uint32_t *pixels, int rowLength, int pictureWidth,
                            int pictureHeight, int x, int y, int width, int height)
{
    if (!pixels) return;
    // A plug-in thread may detach a mirror meanwhile; the lock is recursive, so a callback
    // may still attach, detach or post.
    lvDisplayLockGuard guard;
    std::vector<uint32_t> scaled;
    for (lvDisplayMirror *m = MirrorsOf(d), *next; m; m = next) {
        next = m->next;
        if (d->mirrorServed && d->mirrorServed != m) continue;
        lvMirrorBlit b = {};
        b.kind = 1;
        b.format = 0;
        if (m->unscaled || !Autoscaled(d)) {
            b.pixels = pixels;
            b.rowLength = rowLength;
            b.sourceWidth = pictureWidth;
            b.sourceHeight = pictureHeight;
            b.sourceX = b.destX = x;
            b.sourceY = b.destY = y;
            b.width = width;
            b.height = height;
        } else {
            // Window coordinates of the scaled picture: the rectangle scaled (nearest).
            double sx = d->scaleX, sy = d->scaleY;
            int x0 = (int)(x * sx), y0 = (int)(y * sy);
            int x1 = (int)((x + width) * sx), y1 = (int)((y + height) * sy);
            int w = x1 - x0, h = y1 - y0;
            if (w < 1 || h < 1) continue;
            scaled.assign((size_t)w * h, 0);
            for (int row = 0; row < h; row++) {
                int from = std::min(pictureHeight - 1, (int)((y0 + row) / sy));
                for (int col = 0; col < w; col++) {
                    int fx = std::min(pictureWidth - 1, (int)((x0 + col) / sx));
                    scaled[(size_t)row * w + col] = pixels[(size_t)from * rowLength + fx];
                }
            }
            b.pixels = scaled.data();
            b.rowLength = w;
            b.sourceWidth = w;
            b.sourceHeight = h;
            b.destX = d->marginLeft + x0;
            b.destY = d->marginTop + y0;
            b.width = w;
            b.height = h;
        }
        m->callback(m, 0, &b, m->userData);
    }
}

void NotifyMirrorsOfSize(lvDisplay *d)
{
    int32_t size[2] = {d->width, d->height};
    lvDisplayLockGuard guard;
    for (lvDisplayMirror *m = MirrorsOf(d), *next; m; m = next) {
        next = m->next;
        m->callback(m, 4, size, m->userData);
    }
}

void NotifyMirrorsOfLine(lvDisplay *d, int x1, int y1, int x2, int y2, uint32_t colour)
{
    int32_t line[5] = {x1, y1, x2, y2, (int32_t)colour};
    for (lvDisplayMirror *m = MirrorsOf(d); m; m = m->next) m->callback(m, 2, line, m->userData);
}

void NotifyMirrorsOfPixel(lvDisplay *d, int x, int y, uint32_t colour)
{
    int32_t pixel[3] = {x, y, (int32_t)colour};
    for (lvDisplayMirror *m = MirrorsOf(d); m; m = m->next) m->callback(m, 3, pixel, m->userData);
}

void NotifyMirrorsOfVBlank(lvDisplay *d)
{
    lvDisplayLockGuard guard;
    for (lvDisplayMirror *m = MirrorsOf(d), *next; m; m = next) {
        next = m->next;
        if (m->wantsVBlank) m->callback(m, 5, nullptr, m->userData);
    }
}

void NotifyMirrorsOfPointer(lvDisplay *d, int message, const void *payload)
{
    lvDisplayLockGuard guard;
    for (lvDisplayMirror *m = MirrorsOf(d); m; m = m->next) m->served = 0;
    // From the head again after each call: a callback may attach or detach mirrors.
    for (;;) {
        lvDisplayMirror *m = MirrorsOf(d);
        while (m && (m->served || (d->mirrorServed && d->mirrorServed != m))) m = m->next;
        if (!m) return;
        m->served = 1;
        if (m->options) m->callback(m, message, payload, m->userData);
    }
}

void FreeDisplayMirrors(lvDisplay *d)
{
    lvDisplayLockGuard guard;
    while (lvDisplayMirror *m = MirrorsOf(d)) {
        d->mirrors = m->next;
        FreeMemory(m);
    }
    d->mirrorServed = nullptr;
}

// ---- Redraws and resizes ----------------------------------------------------------------------

namespace {

struct lvDeferredMirrorCall {
    int kind;                  // 0 refresh a mirror, 1 resize from a mirror, 2 refresh an adapter display
    void *key;                 // the mirror, or the adapter's handle
    int width, height, windowWidth, windowHeight;
};

lvDisplay *FindKeyDisplay(const lvDeferredMirrorCall *c)
{
    return c->kind == 2 ? FindDisplayByHandle(c->key) : DisplayOfMirror(c->key);
}

// Script thread: the display is found again; it may have gone meanwhile.
int RunMirrorCall(lvState *L, const lvDeferredMirrorCall *c)
{
    LockDisplayList();
    lvDisplay *d = FindKeyDisplay(c);
    UnlockDisplayList();
    if (!d) return ERR_FINDDISPLAY;
    switch (c->kind) {
    case 0:
        d->mirrorServed = c->key;
        RedrawDisplay(L, d, 0x80);
        d->mirrorServed = nullptr;
        return 0;
    case 2:
        RedrawDisplay(L, d, 0x80);
        return 0;
    default: {
        int bits = 4 | (d->scaledCoordinates ? 0x20 : 0) | (d->state == DISPSTATE_CLOSED ? 2 : 0);
        if (int err = ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, c->width, c->height, bits)) return err;
        if (!((d->autoscale || d->layerScale) && !d->scaledCoordinates))
            PostEvent(d, EVENT_SIZEWINDOW, 0, 0, 0, nullptr);
        return 0;
    }
    }
}

int DeferredMirrorCall(lvState *L, void *data)
{
    lvDeferredMirrorCall *c = (lvDeferredMirrorCall *)data;
    RunMirrorCall(L, c);
    FreeMemory(c);
    return 0;
}

int MirrorCall(const lvDeferredMirrorCall &call)
{
    {
        lvDisplayLockGuard guard;
        if (!FindKeyDisplay(&call)) {
            // The error argument is the script thread's.
            if (IsScriptThreadNow()) SetErrorNumberArg(0);
            return ERR_FINDDISPLAY;
        }
    }
    if (IsScriptThreadNow()) return RunMirrorCall(GetMainVMState(), &call);
    // Another thread: the script thread does it when it gathers events.
    lvDeferredMirrorCall *copy = (lvDeferredMirrorCall *)AllocMemory(sizeof call, 0);
    if (!copy) return ERR_MEM;
    *copy = call;
    lvAdapterEvent e = {(uintptr_t)DeferredMirrorCall, (uintptr_t)copy, 0, 0, 0};
    int err = PostAdapterEventMain(LVP_EVENT_CALLBACK, &e);
    return err;
}

}  // namespace

int RefreshMirror(void *mirror) { return MirrorCall({0, mirror, 0, 0, 0, 0}); }

int RefreshAdapterDisplay(void *handle) { return MirrorCall({2, handle, 0, 0, 0, 0}); }

int ResizeDisplayFromMirror(void *mirror, int width, int height, const lvPluginTag *tags)
{
    lvDeferredMirrorCall c = {1, mirror, width, height, 0, 0};
    for (const lvPluginTag *t = tags; t && t->tag; t++) {
        if (t->tag == 1) c.windowWidth = (int)t->value;
        if (t->tag == 2) c.windowHeight = (int)t->value;
    }
    return MirrorCall(c);
}
