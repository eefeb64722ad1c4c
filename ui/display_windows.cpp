// display_windows.cpp - displays on the platform's own windows: what the window system
// reports reaches the displays (the input sink and the fold on the main thread, the
// collection on the script thread), the letterbox arithmetic, presentation settings,
// resizing by scale mode, and the engines of the window commands, the vertical-blank
// wait and refresh mode.
//
// The main thread records window changes in each display's lvDisplayWindow under the
// display lock; the script thread folds them into the display when it gathers events.
// A flag set by the main thread lets the line hook's poll return at once when nothing
// changed.
//
// Depends on: ui/display.h, platform/lvplatform_windows.h, images/lvbgpic.h.
#include <algorithm>
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "base/lverrors.h"
#include "ui/display.h"
#include "ui/display_windows.h"
#include "ui/display_mirrors.h"
#include "ui/input.h"
#include <atomic>
#include <cstring>

static std::atomic<int> windowsChanged{0};
static int fpsLimit = 60;
static int vwaitEnabled = 1;

// ---- Letterbox ----------------------------------------------------------------------------

lvLetterbox ComputeLetterbox(int aw, int ah, int pw, int ph, int keepProportions)
{
    lvLetterbox l = {aw, ah, 0, 0, 0, 0};
    if (!keepProportions || pw <= 0 || ph <= 0) return l;
    int w = aw, h = (int)((double)ph / pw * aw);
    if (h > ah) {
        w = (int)((double)pw / ph * ah);
        h = ah;
    }
    l.width = w;
    l.height = h;
    l.left = (aw - w) / 2;
    l.top = (ah - h) / 2;
    l.right = aw - l.left - w;
    l.bottom = ah - l.top - h;
    return l;
}

// Keep proportions applies only to a picture without transparency.
static int KeepsProportions(const lvDisplay *d)
{
    return (d->styleFlags & DSTYLE_KEEPPROPORTIONS) && !(d->bgpic && BGPicHasTransparency(d->bgpic));
}

void FitDisplayPicture(lvDisplay *d, int availableWidth, int availableHeight)
{
    if (!d->bgpic) return;
    int pw = d->bgpic->scaledWidth, ph = d->bgpic->scaledHeight;
    lvLetterbox l = ComputeLetterbox(availableWidth, availableHeight, pw, ph, KeepsProportions(d));
    d->scaleWidth = l.width;
    d->scaleHeight = l.height;
    d->marginLeft = l.left;
    d->marginTop = l.top;
    d->marginRight = l.right;
    d->marginBottom = l.bottom;
    d->scaleX = pw > 0 ? (double)l.width / pw : 1.0;
    d->scaleY = ph > 0 ? (double)l.height / ph : 1.0;
}

void ApplyWindowPresentation(lvDisplay *d)
{
    if (!d->window || !d->bgpic) return;
    int pw = d->bgpic->scaledWidth, ph = d->bgpic->scaledHeight;
    if (d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0)
        WindowOps()->SetWindowPresentation(d->window, pw, ph, d->marginLeft, d->marginTop, d->scaleWidth,
                                           d->scaleHeight, d->smoothScale);
    else
        WindowOps()->SetWindowPresentation(d->window, pw, ph, 0, 0, pw, ph, 0);
}

// ---- Main thread: input and the fold ----------------------------------------------------

static void WindowInput(lvDisplayWindow *w, const lvWindowInput *in)
{
    lvDisplay *d = (lvDisplay *)w->owner;
    if (!d || IsShuttingDown()) {
        if (in->payload) FreeMemory(in->payload);
        return;
    }
    switch (in->type) {
    case EVENT_MODESWITCH:
        // The switch itself comes with full screen; the script hears the wish.
        if (d->backfillDisplay || d->resourceMonitor || (d->styleFlags & DSTYLE_NOMODESWITCH) ||
            !CanSwitchDisplayMode(d))
            break;
        w->pendingModeSwitch = d->fullScreen ? 0 : 1;
        PostEvent(d, EVENT_MODESWITCH, 0, 0, 0, nullptr);
        break;
    case EVENT_DROPFILES:
        if (PostEvent(d, EVENT_DROPFILES, in->a, in->b, 0, in->payload) != 1) FreeMemory(in->payload);
        break;
    case EVENT_MENUSELECT:  // a choice on the strip: the payload is the item's id
        if (PostEvent(d, EVENT_MENUSELECT, 0, 0, in->c, in->payload) != 1) FreeMemory(in->payload);
        break;
    default:
        if (DesktopDialogOpen() && IsUserInputEvent(in->type)) break;
        PostEvent(d, in->type, in->a, in->b, in->c, nullptr);
        break;
    }
    windowsChanged.store(1, std::memory_order_release);
}

static void LockDisplaysServing(void)
{
    lvMutex *lock = GetDisplayListLock();
    if (!lock) return;
    // The script thread may hold the lock while it waits for a request of ours: serve
    // requests while the lock is busy, or both would wait for ever.
    LockMutexServingRequests(lock);
}

static void UnlockDisplays(void)
{
    UnlockDisplayList();
}

static void PumpWindows(void)
{
    if (PumpNativeWindows()) windowsChanged.store(1, std::memory_order_release);
}

void FoldWindowChanges(int mouseMoved)
{
    const lvQuitSwitches *quit = GetQuitSwitches();
    int quitNow = 0;
    // Without a window manager no window may have the focus: the one under the pointer
    // counts as the front one then.
    int anyActive = 0;
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next)
        if (d->window && d->window->open && d->window->active) anyActive = 1;
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) {
        lvDisplayWindow *w = d->window;
        if (!w || !w->open) continue;
        if (mouseMoved && (w->active || (!anyActive && w->pointerInside))) w->changes |= WCHANGE_MOUSEFRONT;
        if (w->leftButton && quit->leftMouse) quitNow = 1;
        if (w->escapePressed && quit->escape) quitNow = 1;
        if (w->ctrlCPressed && quit->ctrlC) quitNow = 1;
        if (w->closeClicked && !d->events.closeHandled) quitNow = 1;
        if (w->sizeState == 1) {
            PostEvent(d, EVENT_SIZEWINDOW, 0, 0, 0, nullptr);
            w->sizeState = 2;
        }
        if (w->moved) PostEvent(d, EVENT_MOVEWINDOW, 0, 0, 0, nullptr);
        w->closeClicked = w->escapePressed = w->ctrlCPressed = w->moved = 0;
        if (w->changes || w->sizeState) windowsChanged.store(1, std::memory_order_release);
    }
    if (quitNow) PostQuitEvent();
}

// ---- Script thread: the collection ------------------------------------------------------

// A window the user resized: the display follows by its scale mode.
static int FollowWindowSize(lvState *L, lvDisplay *d, int width, int height)
{
    if (width < 1 || height < 1) return 0;
    return ResizeDisplay(L, d, LV_KEEPPOSITION, LV_KEEPPOSITION, width, height, 0);
}

int CollectWindowEvents(lvState *L, int always)
{
    if (!windowsChanged.exchange(0, std::memory_order_acq_rel) && !always) return 0;
    int result = 0;
    LockDisplayList();
    for (lvDisplay *d = FirstDisplay(); d; d = (lvDisplay *)d->header.next) {
        lvDisplayWindow *w = d->window;
        if (!w || !w->open) continue;
        d->events.leftButton = w->leftButton;
        d->events.rightButton = w->rightButton;
        d->events.midButton = w->midButton;
        uint32_t c = w->changes;
        w->changes = 0;
        if (c & WCHANGE_ACTIVE) d->active = w->active;
        if (c & WCHANGE_RESTORE) d->state = w->restoreState == 2 ? DISPSTATE_MINIMIZED : DISPSTATE_OPEN;
        if (c & WCHANGE_MOUSEFRONT) {
            d->events.mouseMoved = 1;
            GetTimeVal(&d->events.moveTime);
        }
        if (c & WCHANGE_MOVE) {
            d->x = w->newX;
            d->y = w->newY;
        }
        if (c & WCHANGE_KEYS) {
            std::memcpy(d->events.keyState, w->keyState, LV_KEY_CODES);
            std::memcpy(d->events.rawKeyState, w->keyState + LV_KEY_CODES, LV_KEY_CODES);
            std::memcpy(d->events.keyPresses, w->keyPresses, LV_KEY_CODES);
            std::memcpy(d->events.rawKeyPresses, w->keyPresses + LV_KEY_CODES, LV_KEY_CODES);
        }
        if (c & WCHANGE_REPAINT) {
            UnlockDisplayList();
            RedrawDisplay(L, d, 0);
            LockDisplayList();
        }
        if (w->sizeState != 0) {
            int width = w->newWidth, height = w->newHeight;
            w->sizeState = 0;
            UnlockDisplayList();
            int err = FollowWindowSize(L, d, width, height);
            LockDisplayList();
            if (err) {
                result = err;
                break;
            }
        }
    }
    UnlockDisplayList();
    return result;
}

// ---- Hooks --------------------------------------------------------------------------------

static int NativeWaitEvents(void *state)
{
    return WaitDisplayEvents((lvState *)state);
}

static int NativePollEvents(void *state, int *errorCode)
{
    *errorCode = CollectWindowEvents((lvState *)state);
    return *errorCode != 0;
}

int SuppressAutoscaleSizeEvent(lvDisplay *d)
{
    // Only displays made in the system-scale mode hear of their window's size.
    return d->autoscale && !d->createdSystemScale;
}

int UseNativeDisplayWindows(void)
{
    if (int err = UseNativeWindows()) return err;
    SetWindowInputSink(WindowInput);
    lvMainLoopHooks hooks = GetMainLoopHooks();
    hooks.LockDisplays = LockDisplaysServing;
    hooks.UnlockDisplays = UnlockDisplays;
    hooks.PumpWindows = PumpWindows;
    hooks.FoldWindowChanges = FoldWindowChanges;
    hooks.ReadCursorPosition = ReadNativeCursor;
    hooks.WindowDescriptor = NativeWindowDescriptor;
    SetMainLoopHooks(&hooks);
    lvEventLoopHooks loop = {NativeWaitEvents, NativePollEvents};
    SetEventLoopHooks(&loop);
    return 0;
}

int PollNativeDisplayEvents(lvState *L)
{
    return NativeWindowsInUse() ? CollectWindowEvents(L) : 0;
}

int CollectNativeWindowChanges(lvState *L)
{
    // The flag may be raised only after the event is posted; the changes are in the
    // window records already (they were made before the pumping thread posted).
    return NativeWindowsInUse() ? CollectWindowEvents(L, 1) : 0;
}

// ---- Window commands ------------------------------------------------------------------------

void CutTitle(char *out, size_t size, const char *title)
{
    size_t n = std::strlen(title);
    if (n >= size) {
        n = size - 1;
        // Never half a character: back up over UTF-8 continuation bytes.
        if (GetScriptEncoding())
            while (n > 0 && ((unsigned char)title[n] & 0xC0) == 0x80) n--;
    }
    std::memcpy(out, title, n);
    out[n] = 0;
}

void SetDisplayTitle(lvDisplay *d, const char *title)
{
    CutTitle(d->title, sizeof d->title, title);
    if (d->state == DISPSTATE_CLOSED) return;
    if (const lvDisplayAdapterState *a = GetDisplayAdapter()) {
        if (d->handle && a->record->SetDisplayTitle)
            ((lvAdapterSetTitleFunction)a->record->SetDisplayTitle)(d->handle, d->title);
    } else if (d->window) {
        WindowOps()->SetDisplayWindowTitle(d->window, d->title);
    }
}

int MoveDisplayTo(lvDisplay *d, int x, int y)
{
    if (d->scaledCoordinates) {
        for (int *v : {&x, &y})
            if (*v > 0 && *v != LV_KEEPPOSITION && *v != LV_NOPOSITION) *v = ScaleDisplayCoordinate(*v, d->scaleFactor);
    }
    lvMonitorRect m = {0, 0, 0, 0};
    int monitorErr = GetMonitorRect(d, &m);
    int outerW = d->width + d->borderWidth, outerH = d->height + d->borderHeight;
    // The window system keeps positions in a narrower range than a script's numbers: the
    // record gets the position the window really takes.
    auto resolve = [](int v, int size, int origin, int extent, int keep) {
        if (v == LV_KEEPPOSITION || v == LV_NOPOSITION) return keep;
        int64_t p = v == LV_CENTER ? origin + ((int64_t)extent - size) / 2 : (int64_t)origin + v;
        return (int)std::min<int64_t>(std::max<int64_t>(p, -LV_WINDOW_COORDINATE_LIMIT), LV_WINDOW_COORDINATE_LIMIT);
    };
    if (d->state == DISPSTATE_CLOSED) {
        // Remembered for the opening, relative to the monitor.
        auto held = [](int v) {
            if (v == LV_CENTER || v == LV_NOPOSITION) return v;
            return std::min(std::max(v, -LV_WINDOW_COORDINATE_LIMIT), LV_WINDOW_COORDINATE_LIMIT);
        };
        if (x != LV_KEEPPOSITION) d->x = held(x), d->relativeX = 1;
        if (y != LV_KEEPPOSITION) d->y = held(y), d->relativeY = 1;
        d->savedValid = 0;
        return 0;
    }
    if (monitorErr) return monitorErr;
    d->x = resolve(x, outerW, m.x, m.width, d->x);
    d->y = resolve(y, outerH, m.y, m.height, d->y);
    d->savedValid = 0;
    if (const lvDisplayAdapterState *a = GetDisplayAdapter()) {
        if (d->handle && a->record->SizeMoveDisplay)
            ((lvAdapterSizeMoveFunction)a->record->SizeMoveDisplay)(d->handle, d->x, d->y, d->width, d->height, 0,
                                                                   0);
    } else if (d->window) {
        WindowOps()->MoveSizeDisplayWindow(d->window, d->x, d->y, 0, 0);
    }
    return 0;
}

int HideDisplayById(lvDisplay *d)
{
    if (d->state != DISPSTATE_OPEN) return ERR_WRONGUSAGE;
    if (const lvDisplayAdapterState *a = GetDisplayAdapter()) {
        if (d->handle && a->record->ShowHideDisplay)
            ((lvAdapterShowHideFunction)a->record->ShowHideDisplay)(d->handle, 0, 0);
    } else if (d->window) {
        WindowOps()->ShowHideDisplayWindow(d->window, 1);
    }
    d->state = DISPSTATE_MINIMIZED;
    d->active = 0;
    return 0;
}

int ShowDisplayById(lvState *L, lvDisplay *d)
{
    if (d->state != DISPSTATE_MINIMIZED) return ERR_WRONGUSAGE;
    if (const lvDisplayAdapterState *a = GetDisplayAdapter()) {
        if (d->handle && a->record->ShowHideDisplay)
            ((lvAdapterShowHideFunction)a->record->ShowHideDisplay)(d->handle, 1, 0);
    } else if (d->window) {
        WindowOps()->ShowHideDisplayWindow(d->window, 0);
    }
    d->state = DISPSTATE_OPEN;
    d->active = 1;
    (void)L;
    return 0;
}

// ---- Refresh mode and the vertical blank -------------------------------------------------

int CheckRefreshOutput(const lvDisplay *d)
{
    lvBGPic *out = GetCurrentOutput();
    if (d->select.blit.target.kind == OUTPUT_BGPIC) return ERR_SELECTBG;
    if (d->select.doubleBufferActive) return ERR_ENDDOUBLEBUFFER;
    if (d->select.blit.target.kind == OUTPUT_IMAGE && out && out->selectedType == 4) return ERR_SELECTANIM;
    if (d->select.blit.target.kind == OUTPUT_IMAGE) return ERR_SELECTBRUSH;
    if (d->select.blit.target.kind == OUTPUT_MASK) return ERR_SELECTMASK;
    if (d->select.blit.target.kind == OUTPUT_ALPHA) return ERR_SELECTALPHACHANNEL;
    return 0;
}

int BeginDisplayRefresh(lvDisplay *d, int force)
{
    if (d->refreshFlag) force = 1;
    if (!(d->autoscale && d->scaleWidth > 0 && d->scaleHeight > 0) && !force) return 0;
    if (int err = CheckRefreshOutput(d)) return err;
    if (d->refreshMode) return ERR_WRONGUSAGE;
    d->refreshMode = 1;
    return 0;
}

int EndDisplayRefresh(lvState *L, lvDisplay *d)
{
    if (!d->refreshMode) return 0;
    d->refreshMode = 0;
    RedrawDisplay(L, d, 0x80);
    return 0;
}

void SetFPSLimit(int limit)
{
    fpsLimit = limit <= 0 ? 60 : limit;
}

int GetFPSLimit(void)
{
    return fpsLimit;
}

void SetVWaitEnabled(int on)
{
    vwaitEnabled = on ? 1 : 0;
}

int IsVWaitEnabled(void)
{
    return vwaitEnabled;
}

int VWaitSleepMilliseconds(const lvTimeVal *last, const lvTimeVal *now, int limit)
{
    if (limit <= 0) limit = 60;
    lvTimeVal since = *now;
    if (CmpTimeVal(now, last) < 0) return 0;
    SubTimeVal(&since, last);
    int frame = 1000000 / limit;
    if (since.seconds != 0 || (int)since.microseconds >= frame) return 0;
    return (frame - (int)since.microseconds) / 1000;
}

int VWaitDisplay(lvState *L, lvDisplay *d)
{
    (void)L;
    lvTimeVal now;
    GetTimeVal(&now);
    int sleep = VWaitSleepMilliseconds(&d->lastVBlank, &now, fpsLimit);
    // In slices, so that a stop request is seen within a tenth of a second.
    while (sleep > 0 && !EventRuntime()->QuitRequested()) {
        int slice = sleep > 50 ? 50 : sleep;
        SleepMilliseconds((uint32_t)slice);
        sleep -= slice;
    }
    GetTimeVal(&d->lastVBlank);
    NotifyMirrorsOfVBlank(d);
    return 0;
}
