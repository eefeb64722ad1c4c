// display_modes.cpp - switching an open display between windowed, full screen, fake full
// screen and the full-screen-scale pseudo mode (ChangeDisplayMode, the Alt+Return toggle),
// the choice of a screen mode, and the monitor a display is on.
//
// A switch closes the display's window and opens it again with the new geometry and style;
// the windowed geometry, style and scaling are saved on the way in and restored on the
// way out. The modes that ask the user go through the requester hooks; without them they
// answer ERR_UNIMPLCMD.
//
// The backfill display around a full-screen display shows a colour, a gradient, a tiled
// texture or a picture composed into a BGPic of its own.
//
// Depends on: ui/display.h, ui/display_modes.h, ui/display_windows.h, images/lvbgpic.h,
// images/lvbrush.h, formats/lvformats.h.
#include "ui/display_modes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/lverrors.h"
#include "platform/lvplatform.h"
#include "runtime/errors.h"
#include "ui/display_windows.h"
#include "raster/lvinit.h"
#include "formats/lvformats.h"
#include "images/lvbgpic.h"
#include "images/lvbrush.h"
#include "raster/lvbitmap.h"
#include "raster/lvrect.h"

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

// The ARGB words of a backfill's brush: loaded from the brush file when one is named,
// else copied from the brush, so the backfill does not depend on the brush later on.
struct lvArgbPicture {
    uint32_t *words = nullptr;
    int width = 0, height = 0;
    ~lvArgbPicture() { FreeMemory(words); }
};

static int LoadBackfillPictureFile(const char *path, lvArgbPicture *out)
{
    lvImageLoadRequest request = {};
    request.flags = LV_IMGLOAD_ALPHA | LV_IMGLOAD_NOALPHAOK | LV_IMGLOAD_KEEPALPHA;
    request.transparentPen = -1;
    lvImageSource *source = nullptr;
    int width = 0, height = 0, rowLength = 0, isVector = 0;
    int err = LoadImageSource(path, &request, &source, &width, &height, &rowLength, &isVector);
    lvBitMapHandle *alpha = request.alphaBitmap;
    FreeMemory(request.palette);
    if (!err && (!source || !source->pixels || width <= 0 || height <= 0)) err = ERR_UNIMPLCMD;  // vector pictures
    if (!err) {
        out->words = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
        if (!out->words) err = ERR_MEM;
    }
    uint8_t *alphaRows = nullptr;
    int alphaRow = 0;
    uintptr_t token = !err && alpha ? GetPlanePixels(alpha, &alphaRows, &alphaRow, 0) : 0;
    if (!err && alpha && !token) err = ERR_LOCKBMAP;
    if (!err) {
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                uint32_t a = alphaRows ? alphaRows[(size_t)y * alphaRow + x] : 255u;
                out->words[(size_t)y * width + x] = (source->pixels[(size_t)y * rowLength + x] & 0xFFFFFFu) | (a << 24);
            }
        out->width = width;
        out->height = height;
    }
    if (token) ReleasePlanePixels(token);
    FreeBitmapHandle(alpha);
    if (source) ReleaseImageSource(source);
    return err;
}

static int GetBackfillPicture(const lvDisplay *d, const lvDisplayBackfill &f, lvArgbPicture *out)
{
    if (d->backfillBrushFile[0]) return LoadBackfillPictureFile(d->backfillBrushFile, out);
    lvBrush *brush = nullptr;
    if (int err = FindBrushById(nullptr, lvObjectId{f.brush, nullptr}, &brush, 0)) return err;
    if (int err = BrushToArgbWords(brush, 0, &out->words)) return err;
    out->width = brush->width;
    out->height = brush->height;
    return 0;
}

// A copy of the picture at width x height; smooth takes the four nearest source pixels
// by their distance, else the nearest one.
static uint32_t *ScaleArgbWords(const lvArgbPicture &p, int width, int height, int smooth)
{
    uint32_t *out = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
    if (!out) return nullptr;
    for (int y = 0; y < height; y++) {
        double sy = smooth ? (y + 0.5) * p.height / height - 0.5 : (double)((long long)y * p.height / height);
        int y0 = std::clamp((int)std::floor(sy), 0, p.height - 1), y1 = std::min(y0 + 1, p.height - 1);
        double fy = smooth ? std::clamp(sy - y0, 0.0, 1.0) : 0.0;
        for (int x = 0; x < width; x++) {
            double sx = smooth ? (x + 0.5) * p.width / width - 0.5 : (double)((long long)x * p.width / width);
            int x0 = std::clamp((int)std::floor(sx), 0, p.width - 1), x1 = std::min(x0 + 1, p.width - 1);
            double fx = smooth ? std::clamp(sx - x0, 0.0, 1.0) : 0.0;
            const uint32_t c00 = p.words[(size_t)y0 * p.width + x0], c01 = p.words[(size_t)y0 * p.width + x1];
            const uint32_t c10 = p.words[(size_t)y1 * p.width + x0], c11 = p.words[(size_t)y1 * p.width + x1];
            uint32_t c = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                double top = ((c00 >> shift) & 255) * (1 - fx) + ((c01 >> shift) & 255) * fx;
                double bottom = ((c10 >> shift) & 255) * (1 - fx) + ((c11 >> shift) & 255) * fx;
                c |= (uint32_t)std::lround(top * (1 - fy) + bottom * fy) << shift;
            }
            out[(size_t)y * width + x] = c;
        }
    }
    return out;
}

// Source over target by the source's alpha; the result is opaque.
static inline uint32_t BlendOver(uint32_t source, uint32_t target)
{
    uint32_t a = source >> 24;
    if (a == 255) return source | 0xFF000000u;
    uint32_t c = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        uint32_t s = (source >> shift) & 255, t = (target >> shift) & 255;
        c |= ((s * a + t * (255 - a) + 127) / 255) << shift;
    }
    return c;
}

// The picture of a texture (3) or picture (4) backfill, width x height ARGB. The texture
// is tiled from the top left over black; the picture lies on a colour (either colour -1,
// black when the first is) or a gradient, at x, y or scaled to the whole backfill.
static int ComposeBackfillPicture(const lvDisplay *d, const lvDisplayBackfill &f, int width, int height,
                                  uint32_t *pixels, lvBGPicFill *background)
{
    lvArgbPicture picture;
    if (int err = GetBackfillPicture(d, f, &picture)) return err;
    if (picture.width <= 0 || picture.height <= 0) return ERR_WRONGUSAGE;
    *background = lvBGPicFill{};
    background->style = 1;
    if (f.type == 4 && f.startColour != 0xFFFFFFFFu && f.endColour == 0xFFFFFFFFu) {
        background->colour = f.startColour & 0xFFFFFF;
    } else if (f.type == 4 && f.startColour != 0xFFFFFFFFu) {
        background->style = 2;
        InitGradient(&background->gradient, 0);
        background->gradient.style = GRADIENT_LINEAR;
        background->gradient.startColour = f.startColour & 0xFFFFFF;
        background->gradient.endColour = f.endColour & 0xFFFFFF;
    }
    if (int err = FillBGPicBackground(background, nullptr, width, height, pixels)) return err;
    for (size_t i = 0, n = (size_t)width * height; i < n; i++) pixels[i] |= 0xFF000000u;
    if (f.type == 3) {
        for (int y = 0; y < height; y++) {
            const uint32_t *row = picture.words + (size_t)(y % picture.height) * picture.width;
            uint32_t *to = pixels + (size_t)y * width;
            for (int x = 0; x < width; x++) to[x] = BlendOver(row[x % picture.width], to[x]);
        }
        return 0;
    }
    if (f.scalePicture && (picture.width != width || picture.height != height)) {
        uint32_t *scaled = ScaleArgbWords(picture, width, height, f.smoothScale);
        if (!scaled) return ERR_MEM;
        FreeMemory(picture.words);
        picture.words = scaled;
        picture.width = width;
        picture.height = height;
    }
    // Scaled to the whole backfill it covers it: its position would only cut it off.
    int px = 0, py = 0;
    if (!f.scalePicture) {
        px = ResolveSpecialX(f.x, picture.width, width, 0.0);
        py = ResolveSpecialY(f.y, picture.height, height, 0.0);
    }
    for (int y = std::max(0, -py); y < picture.height && py + y < height; y++)
        for (int x = std::max(0, -px); x < picture.width && px + x < width; x++) {
            uint32_t &to = pixels[(size_t)(py + y) * width + px + x];
            to = BlendOver(picture.words[(size_t)y * picture.width + x], to);
        }
    return 0;
}

// A new BGPic holding the composed texture or picture backfill; its fill is the
// background, so a rebuild at another size keeps at least that.
static int MakeBackfillBGPic(const lvDisplay *d, const lvDisplayBackfill &f, int width, int height, lvObjectId *id)
{
    uint32_t *pixels = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
    if (!pixels) return ERR_MEM;
    lvBGPicFill fill = {};
    int err = ComposeBackfillPicture(d, f, width, height, pixels, &fill);
    lvBitMapHandle *bitmap = nullptr;
    if (!err) err = BuildBGPicBitmaps(pixels, &fill, -1, width, height, width, &bitmap, nullptr, nullptr, nullptr);
    FreeMemory(pixels);
    if (err) return err;
    *id = lvObjectId{0, nullptr};
    lvBGPic *made = nullptr;
    if ((err = NewBGPicRecord(id, 0, width, height, width, nullptr, bitmap, nullptr, -1, nullptr, nullptr, nullptr,
                              24, nullptr, &fill, nullptr, 0, nullptr, &made))) {
        FreeBitmapHandle(bitmap);
        return err;
    }
    *id = GetObjectIdOf(&made->header);
    return 0;
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
    if (f.type > 4) return ERR_WRONGUSAGE;
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
    } else if (f.type >= 3) {
        if (int err = MakeBackfillBGPic(d, f, r.width, r.height, &r.bgpic)) {
            FreeDisplayRequest(&r);
            return err;
        }
        r.bgpicGiven = 1;
    }
    lvDisplay *b = nullptr;
    int err = CreateDisplayFromRequest(L, 0, 1, &r, &b);
    if (err && r.bgpicGiven) UnlinkBGPicById(r.bgpic);
    FreeDisplayRequest(&r);
    if (err) return err;
    // The composed picture goes with the backfill display.
    if (r.bgpicGiven) b->ownsBGPic = 1;
    b->backfillOwner = d;
    d->backfillOf = b;
    if ((err = RealizeDisplay(L, b, 0))) FreeDisplayBackfill(L, d);
    return err;
}

int FollowMonitorWithBackfill(lvState *L, lvDisplay *d)
{
    if (!d->backfillOf) return 0;
    lvMonitorRect m;
    if (int err = GetMonitorRect(d, &m)) return err;
    // Made again at the new monitor's place and size (a picture is composed anew for it),
    // then the display goes back above it.
    FreeDisplayBackfill(L, d);
    if (int err = MakeDisplayBackfill(L, d, m)) return err;
    if (d->state == DISPSTATE_OPEN) ActivateDisplayWindow(d, 1);
    return 0;
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
