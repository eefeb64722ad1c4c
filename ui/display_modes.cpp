// display_modes.cpp - switching an open display between windowed, full screen, fake full
// screen and the full-screen-scale pseudo mode (ChangeDisplayMode, the Alt+Return toggle),
// the choice of a screen mode, and the monitor a display is on.
//
// A switch closes the display's window and opens it again with the new geometry and style;
// the windowed geometry, style and scaling are saved on the way in and restored on the
// way out. The modes that ask the user go through the requester hooks; without them they
// answer ERR_UNIMPLCMD.
//
// Depends on: ui/display.h, ui/display_modes.h, ui/display_windows.h.
#include "ui/display_modes.h"

#include <algorithm>
#include <cstdio>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "ui/display_windows.h"
#include "raster/lvinit.h"

static lvModeRequesterHooks requesterHooks;

void SetModeRequesterHooks(const lvModeRequesterHooks *hooks) { requesterHooks = hooks ? *hooks : lvModeRequesterHooks{}; }

// ---- Monitors -------------------------------------------------------------------------

int FindBestMonitor(const lvMonitorRect *monitors, int count, int x, int y, int width, int height)
{
    int best = 0;
    long long bestArea = 0;
    for (int i = 0; i < count; i++) {
        const lvMonitorRect &m = monitors[i];
        long long w = std::min(x + width, m.x + m.width) - std::max(x, m.x);
        long long h = std::min(y + height, m.y + m.height) - std::max(y, m.y);
        if (w > 0 && h > 0 && w * h > bestArea) {
            bestArea = w * h;
            best = i;
        }
    }
    return best;
}

int ChooseScreenMode(const lvScreenMode *modes, int count, int width, int height, lvScreenMode *out)
{
    int found = -1;
    for (int i = 0; i < count; i++) {
        if (modes[i].width < width || modes[i].height < height) continue;
        long long area = (long long)modes[i].width * modes[i].height;
        if (found < 0 || area < (long long)modes[found].width * modes[found].height) found = i;
    }
    if (found < 0) return ERR_SCREEN;
    *out = modes[found];
    return 0;
}

// ---- Saving and restoring the windowed state -------------------------------------------

static void SaveWindowedState(lvDisplay *d)
{
    if (d->savedValid) return;
    d->savedX = d->x;
    d->savedY = d->y;
    d->savedFlags = d->styleFlags;
    d->savedFlags2 = d->styleFlags2;
    d->savedWidth = d->width;
    d->savedHeight = d->height;
    d->savedAutoscale = d->autoscale;
    d->savedLayerScale = d->layerScale;
    d->savedSmooth = d->smoothScale;
    d->savedValid = 1;
}

static void RestoreWindowedState(lvDisplay *d)
{
    if (!d->savedValid) return;
    d->x = d->savedX;
    d->y = d->savedY;
    d->relativeX = d->relativeY = 0;
    d->styleFlags = d->savedFlags;
    d->styleFlags2 = d->savedFlags2;
    d->autoscale = d->savedAutoscale;
    d->layerScale = d->savedLayerScale;
    d->smoothScale = d->savedSmooth;
    if (d->autoscale && d->bgpic) {
        FitDisplayPicture(d, d->savedWidth, d->savedHeight);
        d->width = d->savedWidth;
        d->height = d->savedHeight;
    } else if (d->bgpic) {
        d->scaleWidth = d->scaleHeight = 0;
        d->marginLeft = d->marginTop = d->marginRight = d->marginBottom = 0;
        d->scaleX = d->scaleY = 1.0;
        d->width = d->bgpic->scaledWidth;
        d->height = d->bgpic->scaledHeight;
    }
    d->savedValid = 0;
}

// The monitor the display is on: its position decides unless one was named.
static int MonitorOfDisplay(lvDisplay *d, const lvModeRequest *q, lvMonitorRect *out)
{
    lvMonitorRect monitors[32];
    int count = GetMonitorList(monitors, 32);
    if (count < 1) return ERR_GETMONITORINFO;
    if (q && q->monitor >= 0) {
        if (q->monitor >= count) return ERR_MONITORRANGE;
        d->monitor = q->monitor;
    } else if (!d->fullScreen && !d->fullScreenScale) {
        d->monitor = FindBestMonitor(monitors, count, d->x, d->y, d->width + d->borderWidth,
                                     d->height + d->borderHeight);
    }
    if (d->monitor >= count) return ERR_GETMONITORINFO;
    *out = monitors[d->monitor];
    return 0;
}

// Closes the window and opens it again with the display's new settings. A failure leaves
// the display closed.
static int Reopen(lvState *L, lvDisplay *d)
{
    // Closing forgets the full-screen flag; the new mode keeps the one the switch set.
    int fullScreen = d->fullScreen;
    if (d->state != DISPSTATE_CLOSED)
        if (int err = CloseDisplayCore(L, d, 1 | 0x20 | 2)) return err;
    d->fullScreen = fullScreen;
    return RealizeDisplay(L, d, 2);
}

// ---- The backfill ---------------------------------------------------------------------------

int HostTitleBarHeight(void)
{
    int32_t left = 0, right = 0, top = 0, bottom = 0;
    const lvDisplayAdapterState *a = GetDisplayAdapter();
    if (a && a->record && a->record->DetermineBorderSizes) {
        ((lvAdapterBorderSizesFunction)a->record->DetermineBorderSizes)(0, &left, &right, &top, &bottom);
    } else {
        int l = 0, t = 0, r = 0, b = 0;
        WindowOps()->GetWindowBorderSizes(0, &l, &t, &r, &b);
        top = t, bottom = b;
    }
    return top > bottom ? top - bottom : 0;
}

void FreeDisplayBackfill(lvState *L, lvDisplay *d)
{
    lvDisplay *b = d->backfillOf;
    if (!b) return;
    d->backfillOf = nullptr;
    b->backfillOwner = nullptr;
    FreeDisplayById(L, GetObjectIdOf(&b->header));
}

// The display that fills the rest of the monitor around a full-screen display: a
// borderless window of the monitor's size (less the title-bar strip when the title bar
// stays), opened before the display so that the display ends up above it. None with an
// adapter (it fills the screen itself), for a desktop display or with "nobackfill".
static bool NeedsBackfill(const lvDisplay *d)
{
    return !GetDisplayAdapter() && d->desktop <= 0 && !d->backfillDisplay && !(d->styleFlags & DSTYLE_NOBACKFILL);
}

static int MakeDisplayBackfill(lvState *L, lvDisplay *d, const lvMonitorRect &m)
{
    if (!NeedsBackfill(d)) return 0;
    lvDisplayBackfill f = d->backfill;
    if (f.type <= 0) {
        f = lvDisplayBackfill{};
        f.type = 1;
        f.startColour = 0;
        f.hideTitleBar = !(d->styleFlags & DSTYLE_KEEPFRAME);
    }
    // Texture and picture backfills wait for the brush record.
    if (f.type > 2) return ERR_UNIMPLCMD;
    int strip = f.hideTitleBar ? 0 : std::min(HostTitleBarHeight(), m.height - 1);
    lvDisplayRequest r;
    InitDisplayRequest(&r);
    r.x = 0;
    r.y = strip;
    r.width = m.width;
    r.height = m.height - strip;
    r.styleFlags = DSTYLE_BORDERLESS | DSTYLE_FIXED | DSTYLE_HIDEPOINTER;
    std::snprintf(r.title, sizeof r.title, "%s", d->title);
    r.monitor = d->monitor;
    r.backfill = 1;
    r.colour = f.startColour & 0xFFFFFF;
    if (f.type == 2) {
        r.fillStyle = 2;
        r.gradient.style = GRADIENT_LINEAR;
        r.gradient.startColour = f.startColour & 0xFFFFFF;
        r.gradient.endColour = f.endColour & 0xFFFFFF;
    }
    lvDisplay *b = nullptr;
    int err = CreateDisplayFromRequest(L, 0, 1, &r, &b);
    FreeDisplayRequest(&r);
    if (err) return err;
    b->backfillOwner = d;
    d->backfillOf = b;
    if ((err = RealizeDisplay(L, b, 0))) FreeDisplayBackfill(L, d);
    return err;
}

// ---- The switches ---------------------------------------------------------------------------

static int EnterFullScreenScale(lvState *L, lvDisplay *d, const lvModeRequest *q)
{
    lvMonitorRect m;
    if (int err = MonitorOfDisplay(d, q, &m)) return err;
    SaveWindowedState(d);
    d->styleFlags |= DSTYLE_BORDERLESS | DSTYLE_FIXED;
    d->styleFlags &= ~DSTYLE_SIZEABLE;
    // Proportions and smooth scaling, unless the script turned them off.
    int keep = q && q->keepProportions >= 0 ? q->keepProportions
                                            : (d->styleFlags2 & DSTYLE2_KEEPPROPGIVEN) ? (d->styleFlags & DSTYLE_KEEPPROPORTIONS) != 0 : 1;
    int smooth = q && q->smoothScale >= 0 ? q->smoothScale
                                          : (d->styleFlags2 & DSTYLE2_SMOOTHGIVEN) ? d->smoothScale : 1;
    d->styleFlags = keep ? d->styleFlags | DSTYLE_KEEPPROPORTIONS : d->styleFlags & ~DSTYLE_KEEPPROPORTIONS;
    d->smoothScale = smooth;
    if (!d->layerScale) d->autoscale = 1;
    d->x = m.x;
    d->y = m.y;
    d->relativeX = d->relativeY = 0;
    FitDisplayPicture(d, m.width, m.height);
    d->width = m.width;
    d->height = m.height;
    d->fullScreenScale = 1;
    int err = Reopen(L, d);
    if (err) d->fullScreenScale = 0;
    return err;
}

// Another display (not a backfill) already full screen on the monitor.
static const lvDisplay *FullScreenOnMonitor(const lvDisplay *d, int monitor)
{
    for (lvDisplay *o = FirstDisplay(); o; o = (lvDisplay *)o->header.next)
        if (o != d && o->state != DISPSTATE_CLOSED && !o->backfillOwner && o->monitor == monitor &&
            (o->fullScreen || o->fullScreenScale || o->fakeFullScreen))
            return o;
    return nullptr;
}

static int EnterFullScreen(lvState *L, lvDisplay *d, int mode, const lvModeRequest *q)
{
    lvMonitorRect m;
    if (int err = MonitorOfDisplay(d, q, &m)) return err;
    int width = q ? q->width : 0, height = q ? q->height : 0;
    if (width == LV_NATIVE) width = m.width;
    if (height == LV_NATIVE) height = m.height;
    int inside = d->fullScreen || d->fakeFullScreen;
    int displayWidth = inside ? d->width : d->width, displayHeight = d->height;
    if (!width) width = displayWidth;
    if (!height) height = displayHeight;
    if (width < 1 || height < 1 || width < displayWidth || height < displayHeight) return ERR_WRONGUSAGE;
    if (mode == DISPMODE_FULLSCREEN && d->fullScreen && d->screenWidth == width && d->screenHeight == height) return 0;
    if (mode == DISPMODE_FAKEFULLSCREEN && d->fakeFullScreen) return 0;
    if (!GetDisplayAdapter() && FullScreenOnMonitor(d, d->monitor)) {
        SetErrorNumberArg(d->monitor + 1);
        return ERR_MONITORFULLSCREEN;
    }
    if (mode == DISPMODE_FULLSCREEN && !GetDisplayAdapter()) {
        // The smallest screen mode that holds the screen size.
        lvScreenMode modes[512], chosen;
        int count = 0;
        if (int err = GetDisplayModeList(d->monitor, modes, 512, &count)) return err;
        if (count && ChooseScreenMode(modes, count, width, height, &chosen)) return ERR_SCREEN;
        if (count) width = chosen.width, height = chosen.height;
    }
    // The backfill first (nothing of the display changed yet when it fails); it opens
    // before the display so that the display is above it.
    FreeDisplayBackfill(L, d);
    if (int err = MakeDisplayBackfill(L, d, m)) return err;
    SaveWindowedState(d);
    if (!(d->styleFlags & DSTYLE_KEEPFRAME) || mode == DISPMODE_FAKEFULLSCREEN) {
        d->styleFlags |= DSTYLE_BORDERLESS | DSTYLE_FIXED;
        d->styleFlags &= ~DSTYLE_SIZEABLE;
    }
    d->screenWidth = width;
    d->screenHeight = height;
    d->fullScreen = mode == DISPMODE_FULLSCREEN;
    d->fakeFullScreen = mode == DISPMODE_FAKEFULLSCREEN;
    // Centred on the monitor (without an adapter the screen keeps its desktop mode: the
    // display is centred on it).
    d->x = m.x + (m.width - d->width) / 2;
    d->y = m.y + (m.height - d->height) / 2;
    d->relativeX = d->relativeY = 0;
    int err = Reopen(L, d);
    if (err) {
        d->fullScreen = d->fakeFullScreen = 0;
        FreeDisplayBackfill(L, d);
    }
    // The adapter reports the full-screen flag back; the switch asked for it.
    if (!err && mode == DISPMODE_FULLSCREEN) d->fullScreen = 1;
    return err;
}

static int BackToWindow(lvState *L, lvDisplay *d)
{
    if (!d->fullScreen && !d->fakeFullScreen && !d->fullScreenScale) return 0;
    d->fullScreen = d->fakeFullScreen = d->fullScreenScale = 0;
    RestoreWindowedState(d);
    FreeDisplayBackfill(L, d);
    return Reopen(L, d);
}

// Asks which mode the user wants: 1, 2, 4, 10 or 11; 0 and ERR_USERABORT on cancel.
static int AskMode(lvState *L, lvDisplay *d, int mode, int *out)
{
    if (!requesterHooks.Choose) return ERR_UNIMPLCMD;
    const char *buttons = mode == DISPMODE_ASK ? "Full screen (best fit)|Windowed|Full screen (manual select)|Cancel"
                                               : "Full screen|Windowed|Cancel";
    int choice = 0;
    if (int err = requesterHooks.Choose(L, d, d->title, "Please select desired display mode!", buttons, &choice))
        return err;
    static const int ask[] = {DISPMODE_FULLSCREEN, DISPMODE_WINDOWED, DISPMODE_MODEREQUESTER};
    static const int askAuto[] = {DISPMODE_AUTOFULLSCREEN, DISPMODE_WINDOWED};
    static const int askLayers[] = {DISPMODE_LAYERFULLSCREEN, DISPMODE_WINDOWED};
    const int *table = mode == DISPMODE_ASK ? ask : mode == DISPMODE_ASKAUTO ? askAuto : askLayers;
    int buttonCount = mode == DISPMODE_ASK ? 3 : 2;
    // Buttons count from 1; the last (Cancel) answers 0.
    if (choice < 1 || choice > buttonCount) return ERR_USERABORT;
    *out = table[choice - 1];
    return 0;
}

// Lets the user pick a screen size from the monitor's modes.
static int PickScreenMode(lvState *L, lvDisplay *d, lvModeRequest *q)
{
    if (!requesterHooks.List) return ERR_UNIMPLCMD;
    static lvScreenMode modes[512];
    int count = 0;
    if (int err = GetDisplayModeList(d->monitor, modes, 512, &count)) return err;
    if (count == 0) return ERR_NODISPMODES;
    static char names[512][24];
    const char *list[513];
    int preselect = -1;
    for (int i = 0; i < count; i++) {
        std::snprintf(names[i], sizeof names[i], "%dx%d", modes[i].width, modes[i].height);
        list[i] = names[i];
        if (preselect < 0 && modes[i].width >= d->width && modes[i].height >= d->height) preselect = i;
    }
    list[count] = nullptr;
    int chosen = -1;
    if (int err = requesterHooks.List(L, d, d->title, "Please select desired display mode!", list, count,
                                      preselect < 0 ? 0 : preselect, &chosen))
        return err;
    if (chosen < 0 || chosen >= count) return ERR_USERABORT;
    q->width = modes[chosen].width;
    q->height = modes[chosen].height;
    return 0;
}

int ChangeDisplayModeOf(lvState *L, lvDisplay *d, int mode, lvModeRequest *q)
{
    if (d->state == DISPSTATE_CLOSED) return ERR_CLOSEDDISPLAY;
    if (mode == DISPMODE_MODESWITCH) {
        if (d->fullScreen || d->fakeFullScreen || d->fullScreenScale) mode = DISPMODE_WINDOWED;
        else {
            int scaleSwitch = !(d->styleFlags2 & DSTYLE2_SCALESWITCHGIVEN) || (d->styleFlags2 & DSTYLE2_SCALESWITCH);
            mode = scaleSwitch ? DISPMODE_FULLSCREENSCALE : DISPMODE_FULLSCREEN;
        }
    }
    if (mode == DISPMODE_ASK || mode == DISPMODE_ASKAUTO || mode == DISPMODE_ASKLAYERS)
        if (int err = AskMode(L, d, mode, &mode)) return err;
    if (mode == DISPMODE_MODEREQUESTER) {
        if (int err = PickScreenMode(L, d, q)) return err;
        mode = DISPMODE_FULLSCREEN;
    }
    // The platform scales: the automatic full screens are the full-screen-scale mode.
    if (mode == DISPMODE_AUTOFULLSCREEN || mode == DISPMODE_LAYERFULLSCREEN) {
        if (mode == DISPMODE_LAYERFULLSCREEN && !d->layerScale) return ERR_UNIMPLCMD;  // layers come later
        mode = DISPMODE_FULLSCREENSCALE;
    }
    if (d->fullScreenScale && mode != DISPMODE_WINDOWED && mode != DISPMODE_FULLSCREENSCALE) return ERR_WRONGUSAGE;
    switch (mode) {
    case DISPMODE_WINDOWED:
        return BackToWindow(L, d);
    case DISPMODE_FULLSCREENSCALE:
        if (d->fullScreenScale) return 0;
        if (d->fullScreen) return ERR_WRONGUSAGE;
        if (d->fakeFullScreen)
            if (int err = BackToWindow(L, d)) return err;
        return EnterFullScreenScale(L, d, q);
    case DISPMODE_FULLSCREEN:
    case DISPMODE_FAKEFULLSCREEN:
        return EnterFullScreen(L, d, mode, q);
    default:
        return ERR_WRONGUSAGE;
    }
}

int SwitchDisplayModeFromWindow(lvState *L, lvDisplay *d)
{
    if (!CanSwitchDisplayMode(d) || (d->styleFlags & DSTYLE_NOMODESWITCH)) return 0;
    lvModeRequest q;
    InitModeRequest(&q);
    int err = ChangeDisplayModeOf(L, d, DISPMODE_MODESWITCH, &q);
    // A failed wish from the window is not the script's error; the display stays usable.
    if (err && d->state == DISPSTATE_CLOSED) RealizeDisplay(L, d, 0);
    return 0;
}

void InitModeRequest(lvModeRequest *q)
{
    q->width = q->height = 0;
    q->monitor = -1;
    q->keepProportions = q->smoothScale = -1;
}
