// window_sdl.cpp - display windows as SDL2 windows: the window table of the display
// library, run on the pumping thread, and the pump that turns SDL's events into the
// windows' recorded changes and input.
//
// SDL video belongs to the thread that pumps: every operation called elsewhere travels
// there as a main-thread request (codes 1-3 and 8-9 as the request table has them, the
// others from 17) and returns what it returned there. Each window keeps its picture in
// a back buffer at the picture's own size; drawing writes the back buffer (alpha 255),
// updates that rectangle of a streaming texture and presents the texture into its
// destination rectangle (1:1, scaled or letterboxed; the rest of the window black).
// When no video driver can start, the "offscreen" one is taken, so applets run anywhere.
//
// Depends on: window_sdl.h, window_input.cpp, sdl_init.cpp, mainloop.cpp (requests),
// memory.cpp. libX11 is looked up at run time (XInitThreads before SDL uses Xlib).
#include "platform/linux/window_sdl.h"
#include "platform/lvplatform_clipboard.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_sdl.h"
#include "platform/lvplatform_menus.h"
#include "platform/lvplatform_startup.h"
#include "base/lverrors.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <dlfcn.h>
#include <link.h>
#include <mutex>
#include <new>

#ifndef SDL_VIDEO_DRIVER_X11
#define SDL_VIDEO_DRIVER_X11
#endif
#include <SDL_syswm.h>

namespace {

// Request codes of the window operations.
enum : int32_t {
    REQ_OPEN = 1, REQ_CLOSE = 2, REQ_ACTIVATE = 3, REQ_BLIT = 8, REQ_FILL = 9, REQ_FREE = 17,
    REQ_SHOWHIDE = 18, REQ_TITLE = 19, REQ_MOVESIZE = 20, REQ_PRESENTATION = 21, REQ_READFRAME = 22,
    REQ_REGIONS = 23, REQ_MONITORS = 24, REQ_MODES = 25, REQ_SCALE = 26, REQ_STOP = 27, REQ_MENUSTRIP = 16
};

// The back-end's record of one window.
struct lvSdlWindow {
    lvSdlWindow *next;
    lvDisplayWindow *window;  // the display library's record
    SDL_Window *sdl;
    SDL_Renderer *renderer;
    SDL_Texture *texture;
    uint32_t *back;           // bufferWidth x bufferHeight ARGB
    int textureWidth, textureHeight;
    lvWindowTranslation translation;
    unsigned long xWindow;    // the X11 window, 0 off X11 (read by other threads)
    // What other threads read while the pump runs.
    std::atomic<int> mouseX, mouseY, modifiers;
    lvMenuModel *strip;       // the strip above the picture, or null (the caller's)
    int stripHot;             // index of the highlighted title, -1 none
};

struct lvSdlState {
    int started;              // SDL video runs
    int offscreen;            // the offscreen driver was taken
    lvSdlWindow *windows;     // open windows
    lvWindowInputSink sink;
    int lastBorderLeft, lastBorderTop, lastBorderRight, lastBorderBottom;
    void *x11;                // libX11, when loaded
    int (*XConnectionNumber)(void *display);
    int (*XFlush)(void *display);
    void *xDisplay;           // the X connection of the windows
    int xDescriptor;
};

lvSdlState sdlState = {0, 0, nullptr, nullptr, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr, -1};
std::atomic<int> cursorKnown{0}, cursorX{0}, cursorY{0};
int nativeInUse;

lvSdlWindow *NativeOf(lvDisplayWindow *w)
{
    return w ? (lvSdlWindow *)w->native : nullptr;
}

// X errors counted by the handler below; a copy of the screen compares the count around
// its own requests.
std::atomic<unsigned> xErrorCount{0};

// Xlib's own handler ends the process on any error, whoever made the request (a window
// larger than the server takes, a copy of a rectangle it refuses). Errors are counted and
// dropped instead: the runtime's own requests turn them into their command's error code,
// and the toolkits installed later pass on only the errors of connections not theirs.
int CountXError(Display *, XErrorEvent *event)
{
    xErrorCount.fetch_add(1, std::memory_order_relaxed);
    std::fprintf(stderr, "lumivarra: X error %d (request %d.%d) ignored\n", event->error_code, event->request_code,
                 event->minor_code);
    return 0;
}

// libX11 is shared with the requesters' toolkit on another thread: Xlib must know
// before anything opens a connection.
void PrepareX11(void)
{
    if (sdlState.x11) return;
    sdlState.x11 = dlopen("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    if (!sdlState.x11) return;
    if (auto init = (int (*)(void))dlsym(sdlState.x11, "XInitThreads")) init();
    // Before SDL starts: SDL's own handler passes errors on to the one it found.
    using SetHandler = XErrorHandler (*)(XErrorHandler);
    if (auto set = (SetHandler)dlsym(sdlState.x11, "XSetErrorHandler")) set(CountXError);
    sdlState.XConnectionNumber = (int (*)(void *))dlsym(sdlState.x11, "XConnectionNumber");
    sdlState.XFlush = (int (*)(void *))dlsym(sdlState.x11, "XFlush");
}

// Without a session bus address the D-Bus library SDL starts with video "autolaunches" a
// bus by forking the process and running dbus-launch. Where dbus-launch is not installed
// that fork can only fail, and costs a copy of the whole process at every start: the
// address is then set to one no transport knows, which fails the same way at once.
// Answers whether the variable was set here, to be removed again.
bool SkipHopelessBusLaunch(void)
{
    if (std::getenv("DBUS_SESSION_BUS_ADDRESS")) return false;
    if (access("/usr/bin/dbus-launch", X_OK) == 0 || access("/bin/dbus-launch", X_OK) == 0) return false;
    return setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 0) == 0;
}

int StartVideo(void)
{
    if (sdlState.started) return 0;
    std::lock_guard<std::recursive_mutex> guard(SdlInitLock());
    const char *wanted = std::getenv("SDL_VIDEODRIVER");
    bool x11 = (!wanted || !*wanted) ? std::getenv("DISPLAY") != nullptr : std::strcmp(wanted, "x11") == 0;
    if (x11) PrepareX11();
    // The offscreen driver loads an EGL library at start-up that it never needs here
    // (nothing draws with OpenGL) and that never frees what it took: point it nowhere.
    bool offscreenAsked = wanted && std::strcmp(wanted, "offscreen") == 0;
    if (offscreenAsked) setenv("SDL_VIDEO_EGL_DRIVER", "lumivarra-no-egl", 0);
    // Without a runtime folder no Wayland compositor can be reached, and asking for one
    // only prints the client library's complaint on every run.
    if ((!wanted || !*wanted) && !std::getenv("XDG_RUNTIME_DIR")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11,kmsdrm");
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, "0");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    bool busSkipped = SkipHopelessBusLaunch();
    bool acquired = AcquireSdlSubsystems(SDL_INIT_VIDEO);
    if (!acquired) {
        // No usable display server: windows live in memory.
        SDL_SetHint(SDL_HINT_VIDEODRIVER, "offscreen");
        setenv("SDL_VIDEO_EGL_DRIVER", "lumivarra-no-egl", 0);
        acquired = AcquireSdlSubsystems(SDL_INIT_VIDEO);
    }
    if (busSkipped) unsetenv("DBUS_SESSION_BUS_ADDRESS");  // programs the applet starts see no change
    if (!acquired) return ERR_WINDOW;
    const char *driver = SDL_GetCurrentVideoDriver();
    sdlState.offscreen = driver && std::strcmp(driver, "offscreen") == 0;
    SDL_StartTextInput();
    sdlState.started = 1;
    return 0;
}

// The X connection once a window exists (the main loop polls it), and the window's own
// X window, noted here on the pumping thread so that no other thread asks SDL for it.
void NoteXConnection(lvSdlWindow *n)
{
    if (sdlState.offscreen) return;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(n->sdl, &info) || info.subsystem != SDL_SYSWM_X11) return;
    n->xWindow = (unsigned long)info.info.x11.window;
    if (sdlState.xDisplay || !sdlState.XConnectionNumber) return;
    sdlState.xDisplay = info.info.x11.display;
    sdlState.xDescriptor = sdlState.XConnectionNumber(sdlState.xDisplay);
}

// ---- Presentation -------------------------------------------------------------------

// Whether the machine shows a graphics device an accelerated renderer could use. Without
// one (Xvfb, a headless box, a container) SDL's OpenGL renderer runs on Mesa's software
// rasteriser, which costs tens of milliseconds to load and compile at the first window
// and then presents slower than SDL's own software renderer.
bool GraphicsDevicePresent(void)
{
    static const bool present = access("/dev/dri", F_OK) == 0 || access("/dev/nvidiactl", F_OK) == 0;
    return present;
}

int PinDriver(struct dl_phdr_info *info, size_t, void *)
{
    const char *name = info->dlpi_name;
    size_t length = name ? std::strlen(name) : 0;
    if (length > 7 && std::strcmp(name + length - 7, "_dri.so") == 0) {
        // Only marks the loaded driver: RTLD_NOLOAD takes no new reference to drop.
        dlopen(name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
    }
    return 0;
}

// The GL driver an accelerated renderer loaded stays loaded until the process ends.
// SDL unloads it with the last window: a later window then loads the whole driver again,
// and the blocks the driver keeps for the process, reachable only from its own data,
// become unreachable, which the leak checker of sanitized builds reports as leaks.
void KeepGlDriversLoaded(void)
{
    static bool done = false;
    if (done) return;
    done = true;
    dl_iterate_phdr(PinDriver, nullptr);
}

bool MakeRenderer(lvSdlWindow *n)
{
    if (n->texture) SDL_DestroyTexture(n->texture);
    if (n->renderer) SDL_DestroyRenderer(n->renderer);
    n->texture = nullptr;
    n->renderer = nullptr;
    n->textureWidth = n->textureHeight = 0;
    uint32_t style2 = n->window ? n->window->styleFlags2 : 0;
    uint32_t vsync = (style2 & WSTYLE2_VSYNC) ? SDL_RENDERER_PRESENTVSYNC : 0;
    SDL_SetHint(SDL_HINT_RENDER_VSYNC, vsync ? "1" : "0");
    if (!sdlState.offscreen && !(style2 & WSTYLE2_SOFTWARERENDERER) && GraphicsDevicePresent())
        n->renderer = SDL_CreateRenderer(n->sdl, -1, SDL_RENDERER_ACCELERATED | vsync);
    // The software renderer draws into the window's surface, which SDL would otherwise
    // present through that same OpenGL renderer.
    if (!GraphicsDevicePresent()) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    if (n->renderer) KeepGlDriversLoaded();
    if (!n->renderer) n->renderer = SDL_CreateRenderer(n->sdl, -1, SDL_RENDERER_SOFTWARE | vsync);
    // A software renderer that cannot synchronise still presents.
    if (!n->renderer && vsync) n->renderer = SDL_CreateRenderer(n->sdl, -1, SDL_RENDERER_SOFTWARE);
    return n->renderer != nullptr;
}

// Back buffer and texture at the picture's size; the picture starts black.
bool MakeBackBuffer(lvSdlWindow *n, int width, int height)
{
    lvDisplayWindow *w = n->window;
    if (width < 1) width = 1;
    if (height < 1) height = 1;
    if (n->back && n->textureWidth == width && n->textureHeight == height && n->texture) return true;
    uint32_t *back = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
    if (!back) return false;
    for (size_t i = 0; i < (size_t)width * height; i++) back[i] = 0xFF000000u;
    FreeMemory(n->back);
    n->back = back;
    w->bufferWidth = width;
    w->bufferHeight = height;
    if (n->texture) SDL_DestroyTexture(n->texture);
    n->texture = SDL_CreateTexture(n->renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, width, height);
    n->textureWidth = width;
    n->textureHeight = height;
    if (!n->texture) return false;
    SDL_SetTextureBlendMode(n->texture, SDL_BLENDMODE_NONE);
    SDL_SetTextureScaleMode(n->texture, w->smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    SDL_UpdateTexture(n->texture, nullptr, n->back, width * 4);
    return true;
}

int StripHeight(const lvSdlWindow *n)
{
    return n && n->strip ? kMenuMetrics.stripHeight : 0;
}

void SetDrawColour(SDL_Renderer *r, uint32_t rgb)
{
    SDL_SetRenderDrawColor(r, (rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF, 255);
}

// Coverage over a background: each channel mixed by the coverage.
uint32_t MixColour(uint32_t background, uint32_t ink, int coverage)
{
    uint32_t out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int b = (background >> shift) & 0xFF, i = (ink >> shift) & 0xFF;
        out |= (uint32_t)((b * (255 - coverage) + i * coverage + 127) / 255) << shift;
    }
    return out;
}

void RenderStrip(lvSdlWindow *n)
{
    const lvMenuMetrics &m = kMenuMetrics;
    SDL_Rect panel = {0, 0, n->window->width, m.stripHeight};
    SetDrawColour(n->renderer, m.panel);
    SDL_RenderFillRect(n->renderer, &panel);
    for (int i = n->strip->first; i >= 0; i = n->strip->nodes[i].next) {
        const lvMenuNode &node = n->strip->nodes[i];
        int x = 0, width = 0;
        MenuStripBox(n->strip, i, &x, &width);
        bool hot = i == n->stripHot;
        uint32_t background = hot ? m.highlight : m.panel;
        if (hot) {
            SDL_Rect box = {x, 0, width, m.stripHeight};
            SetDrawColour(n->renderer, background);
            SDL_RenderFillRect(n->renderer, &box);
        }
        if (!node.labelMask) continue;
        uint32_t ink = (node.flags & LV_MENU_DISABLED) ? m.disabledText : hot ? m.highlightText : m.text;
        int top = (m.stripHeight - node.labelHeight) / 2;
        for (int y = 0; y < node.labelHeight; y++)
            for (int k = 0; k < node.labelWidth; k++) {
                int c = node.labelMask[(size_t)y * node.labelWidth + k];
                if (!c) continue;
                SetDrawColour(n->renderer, MixColour(background, ink, c));
                SDL_RenderDrawPoint(n->renderer, x + 8 + k, top + y);
            }
    }
}

// Draws the texture into its rectangle below the strip; the rest of the window is black.
void RenderFrame(lvSdlWindow *n)
{
    lvDisplayWindow *w = n->window;
    if (!n->renderer || !n->texture) return;
    SDL_SetRenderDrawColor(n->renderer, 0, 0, 0, 255);
    SDL_RenderClear(n->renderer);
    SDL_Rect dest = {w->destX, w->destY + StripHeight(n), w->destWidth, w->destHeight};
    SDL_RenderCopy(n->renderer, n->texture, nullptr, &dest);
    if (n->strip) RenderStrip(n);
}

void Present(lvSdlWindow *n)
{
    RenderFrame(n);
    if (n->renderer) SDL_RenderPresent(n->renderer);
}

bool Clip(int bw, int bh, int *x, int *y, int *width, int *height, int *sx, int *sy)
{
    if (*x < 0) { *sx -= *x; *width += *x; *x = 0; }
    if (*y < 0) { *sy -= *y; *height += *y; *y = 0; }
    if (*x + *width > bw) *width = bw - *x;
    if (*y + *height > bh) *height = bh - *y;
    return *width > 0 && *height > 0;
}

// ---- Operations on the pumping thread --------------------------------------------------

struct lvOpenArgs {
    lvDisplayWindow *window;
    int x, y, width, height;
    uint32_t style;
    int active;
    const char *title;
};

struct lvBlitArgs {
    lvDisplayWindow *window;
    const uint32_t *pixels;
    int rowLength, sx, sy, dx, dy, width, height;
    uint32_t colour;  // fills
};

struct lvPresentationArgs {
    lvDisplayWindow *window;
    int bufferWidth, bufferHeight, destX, destY, destWidth, destHeight, smooth;
};

int32_t ReadFrameNow(lvDisplayWindow *w, uint32_t *out, int width, int height);

void CloseNow(lvDisplayWindow *w)
{
    lvSdlWindow *n = NativeOf(w);
    if (!n) return;
    DumpWindowFrame(w, StripHeight(n), ReadFrameNow);
    for (lvSdlWindow **p = &sdlState.windows; *p; p = &(*p)->next)
        if (*p == n) {
            *p = n->next;
            break;
        }
    if (n->texture) SDL_DestroyTexture(n->texture);
    if (n->renderer) SDL_DestroyRenderer(n->renderer);
    if (n->sdl) SDL_DestroyWindow(n->sdl);
    FreeWindowTranslation(&n->translation);
    FreeMemory(n->back);
    FreeMemory(n);
    w->native = nullptr;
    w->stripHeight = 0;
    w->open = 0;
    w->active = 0;
    w->minimised = 0;
}

// The window icon pictures (SetWindowIconImages): written by any thread, read on the
// pumping thread when a window opens.
struct lvIconStore {
    std::mutex lock;
    uint32_t *pixels[16];
    int width[16], height[16];
    int count;
};
lvIconStore iconStore;

void ClearIconStoreLocked()
{
    for (int i = 0; i < iconStore.count; i++) FreeMemory(iconStore.pixels[i]);
    iconStore.count = 0;
}

// Gives the window the icon picture nearest 32 x the system scale; its width, or 0.
int ApplyWindowIcon(SDL_Window *sdl)
{
    std::lock_guard<std::mutex> hold(iconStore.lock);
    lvWindowIconImage images[16];
    for (int i = 0; i < iconStore.count; i++) images[i] = {iconStore.pixels[i], iconStore.width[i], iconStore.height[i]};
    double scale = GetDpiScale();
    if (!(scale > 0) || scale > 32) scale = 1.0;
    int pick = PickWindowIconImage(images, iconStore.count, (int)(32 * scale));
    if (pick < 0) return 0;
    SDL_Surface *surface = SDL_CreateRGBSurfaceWithFormatFrom(iconStore.pixels[pick], iconStore.width[pick],
                                                              iconStore.height[pick], 32, iconStore.width[pick] * 4,
                                                              SDL_PIXELFORMAT_ARGB8888);
    if (!surface) return 0;
    SDL_SetWindowIcon(sdl, surface);
    SDL_FreeSurface(surface);
    return iconStore.width[pick];
}

int32_t OpenNow(const lvOpenArgs *a)
{
    lvDisplayWindow *w = a->window;
    CloseNow(w);
    if (a->width < 1 || a->height < 1) return ERR_WINDOW;
    if (int err = StartVideo()) return err;
    lvSdlWindow *n = (lvSdlWindow *)AllocMemory(sizeof(lvSdlWindow), 1);
    if (!n) return ERR_MEM;
    new (&n->mouseX) std::atomic<int>(0);
    new (&n->mouseY) std::atomic<int>(0);
    new (&n->modifiers) std::atomic<int>(0);
    n->window = w;
    InitWindowTranslation(&n->translation);
    uint32_t flags = 0;
    if (a->style & 0x1) flags |= SDL_WINDOW_BORDERLESS;
    if (a->style & 0x2) flags |= SDL_WINDOW_RESIZABLE;
    if (a->style & 0x400000) flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    if (a->style & 0x80000) flags |= SDL_WINDOW_SKIP_TASKBAR;
    if ((a->style & 0x10000002) == 0x10000002) flags |= SDL_WINDOW_MAXIMIZED;
    SDL_SetHint(SDL_HINT_WINDOW_NO_ACTIVATION_WHEN_SHOWN, a->active ? "0" : "1");
    // SDL places the inside; the runtime's position is the outer corner.
    int left = (a->style & 1) ? 0 : sdlState.lastBorderLeft, top = (a->style & 1) ? 0 : sdlState.lastBorderTop;
    n->sdl = SDL_CreateWindow(a->title ? a->title : "", a->x + left, a->y + top, a->width, a->height, flags);
    if (!n->sdl) {
        FreeMemory(n);
        return ERR_WINDOW;
    }
    SDL_SetWindowData(n->sdl, "lv", n);
    w->iconWidth = ApplyWindowIcon(n->sdl);
    if (!MakeRenderer(n)) {
        SDL_DestroyWindow(n->sdl);
        FreeMemory(n);
        return ERR_WINDOW;
    }
    w->native = n;
    w->x = a->x;
    w->y = a->y;
    w->width = a->width;
    w->height = a->height;
    w->styleFlags = a->style;
    w->open = 1;
    w->minimised = 0;
    w->restoreState = 1;
    w->active = a->active ? 1 : 0;
    w->changes = 0;
    w->sizeState = 0;
    w->moved = w->closeClicked = w->escapePressed = w->ctrlCPressed = 0;
    w->pendingModeSwitch = -1;
    w->leftButton = w->rightButton = w->midButton = 0;
    std::memset(w->keyState, 0, sizeof w->keyState);
    std::snprintf(w->title, sizeof w->title, "%s", a->title ? a->title : "");
    if (w->destWidth <= 0 || w->destHeight <= 0) {
        w->destX = w->destY = 0;
        w->destWidth = a->width;
        w->destHeight = a->height;
        w->bufferWidth = a->width;
        w->bufferHeight = a->height;
    }
    int bt = 0, bl = 0, bb = 0, br = 0;
    if (!(a->style & 1) && SDL_GetWindowBordersSize(n->sdl, &bt, &bl, &bb, &br) == 0) {
        sdlState.lastBorderLeft = bl, sdlState.lastBorderTop = bt;
        sdlState.lastBorderRight = br, sdlState.lastBorderBottom = bb;
    }
    w->borderLeft = (a->style & 1) ? 0 : bl;
    w->borderTop = (a->style & 1) ? 0 : bt;
    // The window system reports the geometry just set later on: those reports are ours.
    ExpectWindowMove(&n->translation, a->x, a->y);
    n->translation.expectWidth = a->width, n->translation.expectHeight = a->height;
    n->translation.expectSize = 1;
    n->next = sdlState.windows;
    sdlState.windows = n;
    NoteXConnection(n);
    if (!MakeBackBuffer(n, w->bufferWidth, w->bufferHeight)) {
        CloseNow(w);
        return ERR_MEM;
    }
    if (a->active) {
        SDL_RaiseWindow(n->sdl);
        SDL_SetWindowInputFocus(n->sdl);
    }
    Present(n);
    return 0;
}

void BlitNow(const lvBlitArgs *a)
{
    lvSdlWindow *n = NativeOf(a->window);
    if (!n || !n->back || !a->pixels || n->translation.sizing) return;
    lvDisplayWindow *w = a->window;
    int sx = a->sx, sy = a->sy, dx = a->dx, dy = a->dy, width = a->width, height = a->height;
    if (!Clip(w->bufferWidth, w->bufferHeight, &dx, &dy, &width, &height, &sx, &sy)) return;
    for (int row = 0; row < height; row++) {
        const uint32_t *s = a->pixels + (size_t)(sy + row) * a->rowLength + sx;
        uint32_t *d = n->back + (size_t)(dy + row) * w->bufferWidth + dx;
        for (int i = 0; i < width; i++) d[i] = s[i] | 0xFF000000u;
    }
    SDL_Rect r = {dx, dy, width, height};
    SDL_UpdateTexture(n->texture, &r, n->back + (size_t)dy * w->bufferWidth + dx, w->bufferWidth * 4);
    Present(n);
}

void FillNow(const lvBlitArgs *a)
{
    lvSdlWindow *n = NativeOf(a->window);
    if (!n || !n->back || n->translation.sizing) return;
    lvDisplayWindow *w = a->window;
    int sx = 0, sy = 0, dx = a->dx, dy = a->dy, width = a->width, height = a->height;
    if (!Clip(w->bufferWidth, w->bufferHeight, &dx, &dy, &width, &height, &sx, &sy)) return;
    for (int row = 0; row < height; row++) {
        uint32_t *d = n->back + (size_t)(dy + row) * w->bufferWidth + dx;
        for (int i = 0; i < width; i++) d[i] = a->colour | 0xFF000000u;
    }
    SDL_Rect r = {dx, dy, width, height};
    SDL_UpdateTexture(n->texture, &r, n->back + (size_t)dy * w->bufferWidth + dx, w->bufferWidth * 4);
    Present(n);
}

void PresentationNow(const lvPresentationArgs *a)
{
    lvDisplayWindow *w = a->window;
    w->destX = a->destX;
    w->destY = a->destY;
    w->destWidth = a->destWidth;
    w->destHeight = a->destHeight;
    w->smooth = a->smooth;
    lvSdlWindow *n = NativeOf(w);
    if (!n) {
        w->bufferWidth = a->bufferWidth;
        w->bufferHeight = a->bufferHeight;
        return;
    }
    MakeBackBuffer(n, a->bufferWidth, a->bufferHeight);
    if (n->texture) SDL_SetTextureScaleMode(n->texture, w->smooth ? SDL_ScaleModeLinear : SDL_ScaleModeNearest);
    Present(n);
}

void MoveSizeNow(lvDisplayWindow *w, int x, int y, int width, int height)
{
    lvSdlWindow *n = NativeOf(w);
    if (!n) return;
    lvWindowTranslation &t = n->translation;
    if (width > 0 && height > 0 && (width != w->width || height != w->height)) {
        t.expectWidth = width, t.expectHeight = height, t.expectSize = 1;
        SDL_SetWindowSize(n->sdl, width, height + StripHeight(n));
        w->width = width;
        w->height = height;
    }
    if (x != w->x || y != w->y) {
        ExpectWindowMove(&t, x, y);
        SDL_SetWindowPosition(n->sdl, x + w->borderLeft, y + w->borderTop);
        w->x = x;
        w->y = y;
    }
    Present(n);
}

int32_t ReadFrameNow(lvDisplayWindow *w, uint32_t *out, int width, int height)
{
    lvSdlWindow *n = NativeOf(w);
    if (!n || !n->renderer) return ERR_WINDOW;
    int ow = 0, oh = 0;
    SDL_GetRendererOutputSize(n->renderer, &ow, &oh);
    if (ow != width || oh != height) return ERR_WRONGUSAGE;
    RenderFrame(n);
    int err = SDL_RenderReadPixels(n->renderer, nullptr, SDL_PIXELFORMAT_ARGB8888, out, width * 4);
    SDL_RenderPresent(n->renderer);
    return err == 0 ? 0 : ERR_WINDOW;
}

int MonitorsNow(lvMonitorRect *out, int max, int usable = 0)
{
    if (StartVideo() != 0) {
        if (max >= 1) out[0] = {0, 0, 1920, 1080};
        return 1;
    }
    int count = SDL_GetNumVideoDisplays(), made = 0;
    for (int i = 0; i < count && made < max; i++) {
        SDL_Rect r;
        if ((usable ? SDL_GetDisplayUsableBounds(i, &r) : SDL_GetDisplayBounds(i, &r)) == 0)
            out[made++] = {r.x, r.y, r.w, r.h};
    }
    if (made == 0 && max >= 1) {
        out[0] = {0, 0, 1920, 1080};
        made = 1;
    }
    return made;
}

int ModesNow(int monitor, lvScreenMode *out, int max)
{
    if (StartVideo() != 0) return 0;
    int count = SDL_GetNumDisplayModes(monitor), made = 0;
    for (int i = 0; i < count; i++) {
        SDL_DisplayMode m;
        if (SDL_GetDisplayMode(monitor, i, &m) != 0) continue;
        bool seen = false;
        for (int j = 0; j < made && !seen; j++) seen = out && out[j].width == m.w && out[j].height == m.h;
        if (seen) continue;
        if (out && made < max) out[made] = {m.w, m.h};
        made++;
    }
    return out ? (made < max ? made : max) : made;
}

// ---- Request handlers (pumping thread) -------------------------------------------------

int32_t ReqOpen(const uintptr_t a[4]) { return OpenNow((const lvOpenArgs *)a[0]); }
int32_t ReqClose(const uintptr_t a[4]) { CloseNow((lvDisplayWindow *)a[0]); return 0; }
int32_t ReqFree(const uintptr_t a[4])
{
    CloseNow((lvDisplayWindow *)a[0]);
    FreeMemory((void *)a[0]);
    return 0;
}
int32_t ReqActivate(const uintptr_t a[4])
{
    lvDisplayWindow *w = (lvDisplayWindow *)a[0];
    if (lvSdlWindow *n = NativeOf(w)) {
        if (w->minimised) SDL_RestoreWindow(n->sdl);
        // Raising asks a window manager for the focus; without one the focus is set.
        SDL_RaiseWindow(n->sdl);
        SDL_SetWindowInputFocus(n->sdl);
    }
    return 0;
}
int32_t ReqBlit(const uintptr_t a[4]) { BlitNow((const lvBlitArgs *)a[0]); return 0; }
int32_t ReqFill(const uintptr_t a[4]) { FillNow((const lvBlitArgs *)a[0]); return 0; }
int32_t ReqShowHide(const uintptr_t a[4])
{
    lvDisplayWindow *w = (lvDisplayWindow *)a[0];
    lvSdlWindow *n = NativeOf(w);
    if (!n) return 0;
    if (a[1]) {
        SDL_MinimizeWindow(n->sdl);
        w->minimised = 1;
        w->restoreState = 2;
    } else {
        SDL_RestoreWindow(n->sdl);
        w->minimised = 0;
        w->restoreState = 1;
        Present(n);
    }
    return 0;
}
int32_t ReqTitle(const uintptr_t a[4])
{
    lvDisplayWindow *w = (lvDisplayWindow *)a[0];
    std::snprintf(w->title, sizeof w->title, "%s", (const char *)a[1]);
    if (lvSdlWindow *n = NativeOf(w)) SDL_SetWindowTitle(n->sdl, w->title);
    return 0;
}
int32_t ReqMoveSize(const uintptr_t a[4])
{
    const int *g = (const int *)a[1];
    MoveSizeNow((lvDisplayWindow *)a[0], g[0], g[1], g[2], g[3]);
    return 0;
}
// The window's inside follows the strip; the outer corner stays where it is.
int32_t ReqMenuStrip(const uintptr_t a[4])
{
    lvDisplayWindow *w = (lvDisplayWindow *)a[0];
    lvSdlWindow *n = NativeOf(w);
    if (!n) return 0;
    int before = StripHeight(n);
    n->strip = (lvMenuModel *)a[1];
    n->stripHot = -1;
    w->stripHeight = StripHeight(n);
    if (StripHeight(n) != before) {
        lvWindowTranslation &t = n->translation;
        t.expectWidth = w->width, t.expectHeight = w->height, t.expectSize = 1;
        SDL_SetWindowSize(n->sdl, w->width, w->height + StripHeight(n));
    }
    Present(n);
    return 0;
}
int32_t ReqPresentation(const uintptr_t a[4]) { PresentationNow((const lvPresentationArgs *)a[0]); return 0; }
int32_t ReqReadFrame(const uintptr_t a[4])
{
    return ReadFrameNow((lvDisplayWindow *)a[0], (uint32_t *)a[1], (int)a[2], (int)a[3]);
}
int32_t ReqMonitors(const uintptr_t a[4]) { return MonitorsNow((lvMonitorRect *)a[0], (int)a[1], (int)a[2]); }
int32_t ReqModes(const uintptr_t a[4]) { return ModesNow((int)a[0], (lvScreenMode *)a[1], (int)a[2]); }
int32_t ReqStop(const uintptr_t[4])
{
    if (!sdlState.started || sdlState.windows) return 0;
    SDL_StopTextInput();
    ReleaseSdlSubsystems(SDL_INIT_VIDEO);
    sdlState.started = 0;
    sdlState.xDisplay = nullptr;
    sdlState.xDescriptor = -1;
    return 0;
}
int32_t ReqScale(const uintptr_t a[4])
{
    float dpi = 0;
    if (StartVideo() == 0 && SDL_GetDisplayDPI(0, &dpi, nullptr, nullptr) == 0 && dpi > 0)
        *(double *)a[0] = dpi / 96.0;
    return 0;
}

// ---- The table (any thread) --------------------------------------------------------------

int32_t Call(int32_t code, uintptr_t a1, uintptr_t a2 = 0, uintptr_t a3 = 0, uintptr_t a4 = 0)
{
    return CallOnMainThread(code, a1, a2, a3, a4);
}

int OpAlloc(lvDisplayWindow **out)
{
    *out = (lvDisplayWindow *)AllocMemory(sizeof(lvDisplayWindow), 1);
    if (!*out) return ERR_MEM;
    (*out)->pendingModeSwitch = -1;
    return 0;
}
void OpFree(lvDisplayWindow *w)
{
    if (w) Call(REQ_FREE, (uintptr_t)w);
}
int OpOpen(lvDisplayWindow *w, int x, int y, int width, int height, uint32_t style, int active, const char *title)
{
    lvOpenArgs a = {w, x, y, width, height, style, active, title};
    return Call(REQ_OPEN, (uintptr_t)&a);
}
void OpClose(lvDisplayWindow *w) { Call(REQ_CLOSE, (uintptr_t)w); }
int OpShowHide(lvDisplayWindow *w, int minimise) { return Call(REQ_SHOWHIDE, (uintptr_t)w, minimise ? 1 : 0); }
void OpActivate(lvDisplayWindow *w, int front) { Call(REQ_ACTIVATE, (uintptr_t)w, (uintptr_t)front); }
void OpTitle(lvDisplayWindow *w, const char *title) { Call(REQ_TITLE, (uintptr_t)w, (uintptr_t)(title ? title : "")); }
void OpBorders(uint32_t style, int *left, int *top, int *right, int *bottom)
{
    bool borderless = style & 1;
    *left = borderless ? 0 : sdlState.lastBorderLeft;
    *top = borderless ? 0 : sdlState.lastBorderTop;
    *right = borderless ? 0 : sdlState.lastBorderRight;
    *bottom = borderless ? 0 : sdlState.lastBorderBottom;
}
void OpFill(lvDisplayWindow *w, int x, int y, int width, int height, uint32_t colour)
{
    lvBlitArgs a = {w, nullptr, 0, 0, 0, x, y, width, height, colour};
    Call(REQ_FILL, (uintptr_t)&a);
}
void OpBlit(lvDisplayWindow *w, const uint32_t *pixels, int rowLength, int sx, int sy, int dx, int dy, int width,
            int height)
{
    lvBlitArgs a = {w, pixels, rowLength, sx, sy, dx, dy, width, height, 0};
    Call(REQ_BLIT, (uintptr_t)&a);
}
int OpMonitors(lvMonitorRect *out, int max) { return Call(REQ_MONITORS, (uintptr_t)out, (uintptr_t)max); }
int OpModes(int monitor, lvScreenMode *out, int max)
{
    return Call(REQ_MODES, (uintptr_t)monitor, (uintptr_t)out, (uintptr_t)max);
}
double OpScale(void)
{
    double scale = 1.0;
    Call(REQ_SCALE, (uintptr_t)&scale);
    return scale;
}
void OpMouse(lvDisplayWindow *w, int *x, int *y)
{
    // The pump keeps the last position; reading SDL here would race it.
    lvSdlWindow *n = NativeOf(w);
    *x = n ? n->mouseX.load(std::memory_order_relaxed) : 0;
    *y = n ? n->mouseY.load(std::memory_order_relaxed) : 0;
}
uint32_t OpQualifiers(lvDisplayWindow *w)
{
    lvSdlWindow *n = NativeOf(w);
    return QualifiersOfModifiers(n ? (uint16_t)n->modifiers.load(std::memory_order_relaxed) : 0);
}
void OpMoveSize(lvDisplayWindow *w, int x, int y, int width, int height)
{
    int g[4] = {x, y, width, height};
    Call(REQ_MOVESIZE, (uintptr_t)w, (uintptr_t)g);
}
void OpPresentation(lvDisplayWindow *w, int bw, int bh, int dx, int dy, int dw, int dh, int smooth)
{
    lvPresentationArgs a = {w, bw, bh, dx, dy, dw, dh, smooth};
    Call(REQ_PRESENTATION, (uintptr_t)&a);
}
int OpReadFrame(lvDisplayWindow *w, uint32_t *out, int width, int height)
{
    return Call(REQ_READFRAME, (uintptr_t)w, (uintptr_t)out, (uintptr_t)width, (uintptr_t)height);
}
void OpRegions(lvDisplayWindow *) {}

const lvWindowOps sdlOps = {
    OpAlloc, OpFree,   OpOpen,       OpClose,      OpShowHide,     OpActivate,  OpTitle,
    OpBorders, OpFill, OpBlit,       OpMonitors,   OpModes,        OpScale,     OpMouse,
    OpQualifiers, OpMoveSize, OpPresentation, OpReadFrame, OpRegions,
};

lvSdlWindow *FindById(uint32_t id)
{
    SDL_Window *sdl = SDL_GetWindowFromID(id);
    if (!sdl) return nullptr;
    for (lvSdlWindow *n = sdlState.windows; n; n = n->next)
        if (n->sdl == sdl) return n;
    return nullptr;
}

uint32_t EventWindowId(const SDL_Event &e)
{
    switch (e.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP: return e.key.windowID;
    case SDL_TEXTINPUT: return e.text.windowID;
    case SDL_MOUSEMOTION: return e.motion.windowID;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: return e.button.windowID;
    case SDL_MOUSEWHEEL: return e.wheel.windowID;
    case SDL_WINDOWEVENT: return e.window.windowID;
    case SDL_DROPBEGIN:
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
    case SDL_DROPCOMPLETE: return e.drop.windowID;
    default: return 0;
    }
}

// The title under a strip position, -1 none.
int StripTitleAt(const lvMenuModel *model, int x)
{
    for (int i = model->first; i >= 0; i = model->nodes[i].next) {
        int left = 0, width = 0;
        MenuStripBox(model, i, &left, &width);
        if (x >= left && x < left + width) return i;
    }
    return -1;
}

// Marks a chosen node in the strip's model and reports it as event 26 with a copy of its
// id; a disabled node, a submenu or a separator reports nothing.
void ReportStripChoice(lvSdlWindow *n, int number)
{
    int selected = ChooseMenuNode(n->strip, number);
    const lvMenuNode *node = FindMenuNode(n->strip, number);
    if (selected < 0 || !node || !sdlState.sink) return;
    const char *id = node->idText ? node->idText : "";
    size_t length = std::strlen(id);
    char *copy = (char *)AllocMemory(length + 1, 0);
    if (!copy) return;
    std::memcpy(copy, id, length + 1);
    lvWindowInput in = {26, 0, 0, selected, 0, copy};
    sdlState.sink(n->window, &in);
}

// Keys and pointer events over the strip are the strip's; below it they are the picture's, moved
// up by the strip's height. 1 when the event was taken.
bool StripInput(lvSdlWindow *n, SDL_Event &e)
{
    int strip = StripHeight(n);
    if (e.type == SDL_WINDOWEVENT &&
        (e.window.event == SDL_WINDOWEVENT_RESIZED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)) {
        e.window.data2 -= strip;  // the picture's share of the inside
        return false;
    }
    if (e.type == SDL_KEYDOWN && (e.key.keysym.mod & KMOD_CTRL) && !(e.key.keysym.mod & KMOD_ALT)) {
        // A one-character hotkey is a Ctrl accelerator: it wins over the key's own meaning
        // (Ctrl+C's quit too) and is swallowed for a disabled item. Letters and digits
        // go by key, others by their unshifted symbol (SDL's key code).
        SDL_Keycode sym = e.key.keysym.sym;
        int number = sym > 0 && sym < 0x110000 ? FindMenuAccelerator(n->strip, (uint32_t)sym) : -1;
        if (number < 0) return false;
        if (!e.key.repeat) ReportStripChoice(n, number);
        return true;
    }
    int *y = nullptr, x = 0;
    if (e.type == SDL_MOUSEMOTION) y = &e.motion.y, x = e.motion.x;
    else if (e.type == SDL_MOUSEBUTTONDOWN || e.type == SDL_MOUSEBUTTONUP) y = &e.button.y, x = e.button.x;
    if (!y) return false;
    if (n->translation.dragging || n->translation.sizing) {
        *y -= strip;  // a drag or size region keeps its pointer, over the strip too
        return false;
    }
    int hot = *y >= 0 && *y < strip ? StripTitleAt(n->strip, x) : -1;
    if (hot != n->stripHot) {
        n->stripHot = hot;
        Present(n);
    }
    if (*y >= strip) {
        *y -= strip;
        return false;
    }
    if (e.type != SDL_MOUSEBUTTONDOWN || e.button.button != SDL_BUTTON_LEFT || hot < 0) return true;
    ReportStripChoice(n, n->strip->nodes[hot].number);
    return true;
}

}  // namespace

int PickWindowIconImage(const lvWindowIconImage *images, int count, int wanted)
{
    int best = -1;
    long bestDistance = 0;
    for (int i = 0; i < count; i++) {
        long distance = (long)images[i].width - wanted;
        if (distance < 0) distance = -distance;
        if (best < 0 || distance < bestDistance) best = i, bestDistance = distance;
    }
    return best;
}

int SetWindowIconImages(const lvWindowIconImage *images, int count)
{
    if (count < 0 || count > 16 || (count && !images)) return ERR_WRONGUSAGE;
    for (int i = 0; i < count; i++)
        if (!images[i].pixels || images[i].width < 1 || images[i].width > 1024 || images[i].height < 1 ||
            images[i].height > 1024)
            return ERR_WRONGUSAGE;
    uint32_t *copies[16] = {};
    for (int i = 0; i < count; i++) {
        size_t bytes = (size_t)images[i].width * images[i].height * 4;
        copies[i] = (uint32_t *)AllocMemory(bytes, 0);
        if (!copies[i]) {
            for (int j = 0; j < i; j++) FreeMemory(copies[j]);
            return ERR_MEM;
        }
        std::memcpy(copies[i], images[i].pixels, bytes);
    }
    std::lock_guard<std::mutex> hold(iconStore.lock);
    ClearIconStoreLocked();
    for (int i = 0; i < count; i++) {
        iconStore.pixels[i] = copies[i];
        iconStore.width[i] = images[i].width;
        iconStore.height[i] = images[i].height;
    }
    iconStore.count = count;
    return 0;
}

void SetWindowMenuStrip(lvDisplayWindow *w, lvMenuModel *model)
{
    if (w && nativeInUse) CallOnMainThread(REQ_MENUSTRIP, (uintptr_t)w, (uintptr_t)model, 0, 0);
}

void SetWindowInputSink(lvWindowInputSink sink)
{
    sdlState.sink = sink;
}

int UseNativeWindows(void)
{
    static const int codes[] = {REQ_OPEN, REQ_CLOSE, REQ_ACTIVATE, REQ_BLIT, REQ_FILL, REQ_FREE, REQ_SHOWHIDE,
                                REQ_TITLE, REQ_MOVESIZE, REQ_PRESENTATION, REQ_READFRAME, REQ_MONITORS,
                                REQ_MODES, REQ_SCALE, REQ_STOP, REQ_MENUSTRIP};
    static const lvRequestHandler handlers[] = {ReqOpen, ReqClose, ReqActivate, ReqBlit, ReqFill, ReqFree,
                                                ReqShowHide, ReqTitle, ReqMoveSize, ReqPresentation,
                                                ReqReadFrame, ReqMonitors, ReqModes, ReqScale, ReqStop,
                                                ReqMenuStrip};
    for (size_t i = 0; i < sizeof codes / sizeof codes[0]; i++) SetMainThreadRequestHandler(codes[i], handlers[i]);
    SetWindowOps(&sdlOps);
    nativeInUse = 1;
    return 0;
}

void StopNativeWindows(void)
{
    if (nativeInUse) CallOnMainThread(REQ_STOP, 0, 0, 0, 0);
}

int NativeWindowsInUse(void)
{
    return nativeInUse;
}

int NativeWindowDescriptor(void)
{
    return sdlState.xDescriptor;
}

int ReadNativeCursor(int *x, int *y)
{
    if (!cursorKnown.load(std::memory_order_acquire)) return 0;
    *x = cursorX.load(std::memory_order_relaxed);
    *y = cursorY.load(std::memory_order_relaxed);
    return 1;
}

lvDisplayWindow *FindNativeWindow(uint32_t id)
{
    lvSdlWindow *n = sdlState.started ? FindById(id) : nullptr;
    return n ? n->window : nullptr;
}

uint32_t NativeWindowId(lvDisplayWindow *w)
{
    lvSdlWindow *n = NativeOf(w);
    return n ? SDL_GetWindowID(n->sdl) : 0;
}

// Called from the script thread: SDL is not asked there (an error SDL records on a
// thread it did not start is never freed).
unsigned long NativeX11Window(lvDisplayWindow *w)
{
    lvSdlWindow *n = NativeOf(w);
    return n ? n->xWindow : 0;
}

int PumpNativeWindows(void)
{
    if (!sdlState.started) return 0;
    SDL_PumpEvents();
    int changed = 0;
    SDL_Event events[64];
    int got;
    while ((got = SDL_PeepEvents(events, 64, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT)) > 0) {
        for (int i = 0; i < got; i++) {
            SDL_Event &e = events[i];
            if (e.type == SDL_RENDER_TARGETS_RESET || e.type == SDL_RENDER_DEVICE_RESET) {
                // A lost renderer is made again and the script side draws everything anew.
                for (lvSdlWindow *n = sdlState.windows; n; n = n->next) {
                    int bw = n->window->bufferWidth, bh = n->window->bufferHeight;
                    if (MakeRenderer(n)) {
                        FreeMemory(n->back);
                        n->back = nullptr;
                        MakeBackBuffer(n, bw, bh);
                    }
                    n->window->changes |= WCHANGE_REPAINT;
                }
                changed = 1;
                continue;
            }
            if (e.type == SDL_CLIPBOARDUPDATE) {
                NoteClipboardUpdate();
                continue;
            }
            lvSdlWindow *n = FindById(EventWindowId(e));
            if (n) {
                lvDisplayWindow *w = n->window;
                if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_EXPOSED) Present(n);
                if (e.type == SDL_MOUSEMOTION && (n->translation.dragging || n->translation.sizing)) {
                    // A motion queued before our last move is relative to where the
                    // window was: take the pointer's screen position instead.
                    int gx, gy;
                    SDL_GetGlobalMouseState(&gx, &gy);
                    e.motion.x = gx - w->x - w->borderLeft;
                    e.motion.y = gy - w->y - w->borderTop;
                }
                if (n->strip && StripInput(n, e)) {
                    changed = 1;
                    continue;
                }
                lvWindowInput out[8];
                int count = TranslateWindowEvent(&e, w, &n->translation, out, 8);
                n->mouseX.store(w->mouseX, std::memory_order_relaxed);
                n->mouseY.store(w->mouseY, std::memory_order_relaxed);
                n->modifiers.store(n->translation.modifiers, std::memory_order_relaxed);
                if (e.type == SDL_MOUSEMOTION) {
                    cursorX.store(w->x + w->borderLeft + e.motion.x, std::memory_order_relaxed);
                    cursorY.store(w->y + w->borderTop + StripHeight(n) + e.motion.y, std::memory_order_relaxed);
                    cursorKnown.store(1, std::memory_order_release);
                }
                for (int j = 0; j < count; j++) {
                    const lvWindowInput &in = out[j];
                    if (in.type == WINPUT_MOVEWINDOW) {
                        MoveSizeNow(w, in.a, in.b, 0, 0);
                    } else if (in.type == WINPUT_SIZEWINDOW) {
                        MoveSizeNow(w, in.a, in.b, in.c, in.d);
                    } else if (sdlState.sink) {
                        sdlState.sink(w, &in);
                    } else if (in.payload) {
                        FreeMemory(in.payload);
                    }
                }
                changed = 1;
            }
            if (e.type == SDL_DROPFILE || e.type == SDL_DROPTEXT) SDL_free(e.drop.file);
        }
    }
    for (lvSdlWindow *n = sdlState.windows; n; n = n->next) EndWindowPump(&n->translation);
    // Whatever Xlib still holds goes out before the loop sleeps in poll().
    if (sdlState.xDisplay && sdlState.XFlush) sdlState.XFlush(sdlState.xDisplay);
    return changed;
}

// ---- Screen copies ---------------------------------------------------------------------


int CopyScreenArea(int left, int top, int width, int height, uint32_t **out)
{
    *out = nullptr;
    if (width < 1 || height < 1) return ERR_WRONGUSAGE;
    if (!sdlState.xDisplay || !sdlState.x11) return ERR_GRABSCREEN;
    using GetImage = XImage *(*)(Display *, Window, int, int, unsigned, unsigned, unsigned long, int);
    using RootOf = Window (*)(Display *);
    using ScreenOf = int (*)(Display *);
    using ScreenSize = int (*)(Display *, int);
    using Sync = int (*)(Display *, int);
    auto getImage = (GetImage)dlsym(sdlState.x11, "XGetImage");
    auto rootOf = (RootOf)dlsym(sdlState.x11, "XDefaultRootWindow");
    auto screenOf = (ScreenOf)dlsym(sdlState.x11, "XDefaultScreen");
    auto screenWidth = (ScreenSize)dlsym(sdlState.x11, "XDisplayWidth");
    auto screenHeight = (ScreenSize)dlsym(sdlState.x11, "XDisplayHeight");
    auto sync = (Sync)dlsym(sdlState.x11, "XSync");
    if (!getImage || !rootOf || !screenOf || !screenWidth || !screenHeight || !sync) return ERR_GRABSCREEN;
    if ((size_t)width * (size_t)height > ((size_t)1 << 28)) return ERR_GRABSCREEN;
    uint32_t *pixels = (uint32_t *)AllocMemory((size_t)width * height * 4, 0);
    if (!pixels) return ERR_MEM;
    // The server copies only what lies on the root window (else BadMatch): the rectangle
    // is cut to it, and what lies beyond stays black.
    for (size_t i = 0; i < (size_t)width * height; i++) pixels[i] = 0xFF000000u;
    Display *x = (Display *)sdlState.xDisplay;
    int screen = screenOf(x);
    int64_t x0 = std::max<int64_t>(left, 0), y0 = std::max<int64_t>(top, 0);
    int64_t x1 = std::min<int64_t>((int64_t)left + width, screenWidth(x, screen));
    int64_t y1 = std::min<int64_t>((int64_t)top + height, screenHeight(x, screen));
    if (x0 >= x1 || y0 >= y1) {
        *out = pixels;
        return 0;
    }
    sync(x, 0);
    unsigned errorsBefore = xErrorCount.load(std::memory_order_relaxed);
    XImage *image = getImage(x, rootOf(x), (int)x0, (int)y0, (unsigned)(x1 - x0), (unsigned)(y1 - y0), ~0ul, ZPixmap);
    sync(x, 0);
    int err = 0;
    if (!image || xErrorCount.load(std::memory_order_relaxed) != errorsBefore) {
        err = ERR_GRABSCREEN;
    } else if (image->bits_per_pixel != 32 || !image->data) {
        err = ERR_GRABSCREEN;
    } else {
        for (int64_t row = y0; row < y1; row++) {
            const uint32_t *from = (const uint32_t *)(image->data + (size_t)(row - y0) * image->bytes_per_line);
            uint32_t *to = pixels + (size_t)(row - top) * width + (x0 - left);
            for (int64_t col = 0; col < x1 - x0; col++) to[col] = from[col] | 0xFF000000u;
        }
    }
    if (image && image->f.destroy_image) image->f.destroy_image(image);
    if (err) FreeMemory(pixels);
    else *out = pixels;
    return err;
}

int ListUsableMonitorBounds(lvMonitorRect *out, int max)
{
    if (!nativeInUse) return 0;
    return CallOnMainThread(REQ_MONITORS, (uintptr_t)out, (uintptr_t)max, 1, 0);
}
