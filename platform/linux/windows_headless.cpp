// windows_headless.cpp - the window operations without a window system: a window is
// its picture in memory, every operation succeeds, one 1920x1080 monitor, no modes.
//
// Depends on: platform/lvplatform_windows.h, memory.cpp.
#include "platform/lvplatform.h"
#include "platform/lvplatform_windows.h"
#include "base/lverrors.h"
#include <cstdio>
#include <cstring>

static int HeadlessAlloc(lvDisplayWindow **out)
{
    *out = (lvDisplayWindow *)AllocMemory(sizeof(lvDisplayWindow), 1);
    return *out ? 0 : ERR_MEM;
}

static void HeadlessClose(lvDisplayWindow *w)
{
    if (!w) return;
    FreeMemory(w->pixels);
    w->pixels = nullptr;
    w->open = 0;
    w->active = 0;
    w->minimised = 0;
}

static void HeadlessFree(lvDisplayWindow *w)
{
    HeadlessClose(w);
    FreeMemory(w);
}

static int HeadlessOpen(lvDisplayWindow *w, int x, int y, int width, int height, uint32_t style, int active,
                        const char *title)
{
    HeadlessClose(w);
    if (width < 1 || height < 1) return ERR_WINDOW;
    w->pixels = (uint32_t *)AllocMemory((size_t)width * (size_t)height * 4, 1);
    if (!w->pixels) return ERR_MEM;
    w->x = x;
    w->y = y;
    w->width = width;
    w->height = height;
    w->styleFlags = style;
    w->active = active ? 1 : 0;
    w->open = 1;
    std::snprintf(w->title, sizeof w->title, "%s", title ? title : "");
    return 0;
}

static int HeadlessShowHide(lvDisplayWindow *w, int minimise)
{
    w->minimised = minimise ? 1 : 0;
    return 0;
}

static void HeadlessActivate(lvDisplayWindow *w, int) { w->active = 1; }

static void HeadlessTitle(lvDisplayWindow *w, const char *title)
{
    std::snprintf(w->title, sizeof w->title, "%s", title ? title : "");
}

static void HeadlessBorders(uint32_t, int *left, int *top, int *right, int *bottom)
{
    *left = *top = *right = *bottom = 0;
}

// Clips a rectangle to the window; false when nothing is left.
static bool ClipToWindow(const lvDisplayWindow *w, int *x, int *y, int *width, int *height, int *sx, int *sy)
{
    if (!w->pixels) return false;
    if (*x < 0) { *sx -= *x; *width += *x; *x = 0; }
    if (*y < 0) { *sy -= *y; *height += *y; *y = 0; }
    if (*x + *width > w->width) *width = w->width - *x;
    if (*y + *height > w->height) *height = w->height - *y;
    return *width > 0 && *height > 0;
}

static void HeadlessFill(lvDisplayWindow *w, int x, int y, int width, int height, uint32_t colour)
{
    int sx = 0, sy = 0;
    if (!ClipToWindow(w, &x, &y, &width, &height, &sx, &sy)) return;
    for (int row = 0; row < height; row++) {
        uint32_t *p = w->pixels + (size_t)(y + row) * w->width + x;
        for (int i = 0; i < width; i++) p[i] = colour;
    }
}

static void HeadlessBlit(lvDisplayWindow *w, const uint32_t *pixels, int rowLength, int sx, int sy, int dx,
                         int dy, int width, int height)
{
    if (!pixels || !ClipToWindow(w, &dx, &dy, &width, &height, &sx, &sy)) return;
    for (int row = 0; row < height; row++)
        std::memcpy(w->pixels + (size_t)(dy + row) * w->width + dx, pixels + (size_t)(sy + row) * rowLength + sx,
                    (size_t)width * 4);
}

static int HeadlessMonitors(lvMonitorRect *out, int max)
{
    if (max >= 1) out[0] = {0, 0, 1920, 1080};
    return 1;
}

static int HeadlessModes(int, lvScreenMode *, int) { return 0; }
static double HeadlessScale(void) { return 1.0; }

static void HeadlessMouse(lvDisplayWindow *w, int *x, int *y)
{
    *x = w->mouseX;
    *y = w->mouseY;
}

static uint32_t HeadlessQualifiers(lvDisplayWindow *w) { return w->qualifiers; }

static void HeadlessMoveSize(lvDisplayWindow *w, int x, int y, int width, int height)
{
    w->x = x;
    w->y = y;
    if (width < 1 || height < 1 || (width == w->width && height == w->height) || !w->pixels) return;
    uint32_t *pixels = (uint32_t *)AllocMemory((size_t)width * (size_t)height * 4, 1);
    if (!pixels) return;
    FreeMemory(w->pixels);
    w->pixels = pixels;
    w->width = width;
    w->height = height;
}

static void HeadlessPresentation(lvDisplayWindow *w, int bw, int bh, int dx, int dy, int dw, int dh, int smooth)
{
    w->bufferWidth = bw;
    w->bufferHeight = bh;
    w->destX = dx;
    w->destY = dy;
    w->destWidth = dw;
    w->destHeight = dh;
    w->smooth = smooth;
}

static int HeadlessReadFrame(lvDisplayWindow *w, uint32_t *out, int width, int height)
{
    if (!w->pixels || width != w->width || height != w->height) return ERR_WRONGUSAGE;
    std::memcpy(out, w->pixels, (size_t)width * (size_t)height * 4);
    return 0;
}

static void HeadlessRegions(lvDisplayWindow *) {}

static const lvWindowOps headlessOps = {
    HeadlessAlloc,  HeadlessFree,     HeadlessOpen,  HeadlessClose,  HeadlessShowHide, HeadlessActivate,
    HeadlessTitle,  HeadlessBorders,  HeadlessFill,  HeadlessBlit,   HeadlessMonitors, HeadlessModes,
    HeadlessScale,  HeadlessMouse,    HeadlessQualifiers, HeadlessMoveSize, HeadlessPresentation,
    HeadlessReadFrame, HeadlessRegions,
};

static lvWindowOps windowOps = headlessOps;

#define LV_TAKE_OP(slot) windowOps.slot = ops->slot ? ops->slot : headlessOps.slot

void SetWindowOps(const lvWindowOps *ops)
{
    if (!ops) {
        windowOps = headlessOps;
        return;
    }
    LV_TAKE_OP(AllocDisplayWindow);
    LV_TAKE_OP(FreeDisplayWindow);
    LV_TAKE_OP(OpenDisplayWindow);
    LV_TAKE_OP(CloseDisplayWindow);
    LV_TAKE_OP(ShowHideDisplayWindow);
    LV_TAKE_OP(ActivateDisplayWindow);
    LV_TAKE_OP(SetDisplayWindowTitle);
    LV_TAKE_OP(GetWindowBorderSizes);
    LV_TAKE_OP(FillWindowRect);
    LV_TAKE_OP(BlitToWindow);
    LV_TAKE_OP(ListMonitors);
    LV_TAKE_OP(ListDisplayModes);
    LV_TAKE_OP(GetSystemScale);
    LV_TAKE_OP(GetWindowMousePos);
    LV_TAKE_OP(GetWindowQualifiers);
    LV_TAKE_OP(MoveSizeDisplayWindow);
    LV_TAKE_OP(SetWindowPresentation);
    LV_TAKE_OP(ReadWindowFrame);
    LV_TAKE_OP(SetWindowRegions);
}

const lvWindowOps *WindowOps(void)
{
    return &windowOps;
}
