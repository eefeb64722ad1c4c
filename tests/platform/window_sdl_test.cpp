// SDL2 display windows under the offscreen driver: what a window presents (read back
// from its renderer) 1:1 and letterboxed, its title, requests from another thread while
// the windows pump, and the pumping thread's wait for a lock the requester holds.
#include <gtest/gtest.h>

#include "platform/linux/window_sdl.h"
#include "platform/lvplatform.h"
#include "platform/lvplatform_menus.h"
#include "platform/lvplatform_pointers.h"
#include "base/lverrors.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

class NativeWindows : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("SDL_VIDEODRIVER", "offscreen", 1);
        ASSERT_EQ(InitPlatform(), 0);
        ASSERT_EQ(InitLoopSignals(), 0);
        ASSERT_EQ(UseNativeWindows(), 0);
        ASSERT_EQ(WindowOps()->AllocDisplayWindow(&w), 0);
    }
    void TearDown() override
    {
        WindowOps()->FreeDisplayWindow(w);
        SetMainLoopHooks(nullptr);
        FreeLoopSignals();
    }
    std::vector<uint32_t> Frame(int width, int height)
    {
        std::vector<uint32_t> frame((size_t)width * height, 0x12345678u);
        EXPECT_EQ(WindowOps()->ReadWindowFrame(w, frame.data(), width, height), 0);
        return frame;
    }
    lvDisplayWindow *w = nullptr;
};

TEST_F(NativeWindows, AnUnscaledWindowShowsItsPicturePixelForPixel)
{
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 10, 20, 64, 48, 0x1, 1, "One"), 0);
    std::vector<uint32_t> picture(64 * 48);
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) picture[y * 64 + x] = (uint32_t)(x * 4) << 16 | (uint32_t)(y * 5) << 8 | 0x7F;
    WindowOps()->BlitToWindow(w, picture.data(), 64, 0, 0, 0, 0, 64, 48);
    WindowOps()->FillWindowRect(w, 60, 40, 10, 10, 0x00FF00);  // reaches past the corner
    std::vector<uint32_t> frame = Frame(64, 48);
    for (int y = 0; y < 48; y++)
        for (int x = 0; x < 64; x++) {
            uint32_t want = (x >= 60 && y >= 40) ? 0xFF00FF00u : picture[y * 64 + x] | 0xFF000000u;
            ASSERT_EQ(frame[y * 64 + x], want) << x << "," << y;
        }
    // A blit reaching beyond the back buffer copies the part inside only.
    WindowOps()->BlitToWindow(w, picture.data(), 64, 0, 0, 40, 30, 64, 48);
    frame = Frame(64, 48);
    EXPECT_EQ(frame[30 * 64 + 40], picture[0] | 0xFF000000u);
    EXPECT_EQ(frame[47 * 64 + 63], picture[17 * 64 + 23] | 0xFF000000u);

    WindowOps()->SetDisplayWindowTitle(w, "Two");
    SDL_Window *sdl = SDL_GetWindowFromID(NativeWindowId(w));
    ASSERT_NE(sdl, nullptr);
    EXPECT_STREQ(SDL_GetWindowTitle(sdl), "Two");
    EXPECT_EQ(FindNativeWindow(NativeWindowId(w)), w);
}

TEST_F(NativeWindows, AnAutoscaledPictureSitsBetweenBlackBars)
{
    // 320x240 kept in proportion inside 640x360: 480x360 between 80-pixel bars.
    WindowOps()->SetWindowPresentation(w, 320, 240, 80, 0, 480, 360, 0);
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 640, 360, 0x1, 1, "Scaled"), 0);
    std::vector<uint32_t> picture(320 * 240);
    for (int y = 0; y < 240; y++)
        for (int x = 0; x < 320; x++) picture[y * 320 + x] = x < 160 ? 0xFF0000u : 0x0000FFu;
    WindowOps()->BlitToWindow(w, picture.data(), 320, 0, 0, 0, 0, 320, 240);
    std::vector<uint32_t> frame = Frame(640, 360);
    for (int y : {0, 180, 359}) {
        for (int x = 0; x < 80; x++) ASSERT_EQ(frame[y * 640 + x], 0xFF000000u) << x << "," << y;
        for (int x = 560; x < 640; x++) ASSERT_EQ(frame[y * 640 + x], 0xFF000000u) << x << "," << y;
        for (int x = 80; x < 318; x++) ASSERT_EQ(frame[y * 640 + x], 0xFFFF0000u) << x << "," << y;
        for (int x = 322; x < 560; x++) ASSERT_EQ(frame[y * 640 + x], 0xFF0000FFu) << x << "," << y;
    }
    // A new picture size makes the back buffer again (black until drawn).
    WindowOps()->SetWindowPresentation(w, 640, 360, 0, 0, 640, 360, 0);
    frame = Frame(640, 360);
    EXPECT_EQ(frame[100 * 640 + 100], 0xFF000000u);
}

// Requests from the script thread while the main loop pumps the windows and pushed
// events: every request comes back with its own result.
TEST_F(NativeWindows, TenThousandRequestsWhileTheWindowsPump)
{
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 32, 32, 0x1, 1, "Pump"), 0);
    static std::atomic<int> pumped{0};
    static lvDisplayWindow *window;
    window = w;
    lvMainLoopHooks hooks = GetMainLoopHooks();
    hooks.PumpWindows = [] { pumped += PumpNativeWindows(); };
    hooks.WindowDescriptor = NativeWindowDescriptor;
    SetMainLoopHooks(&hooks);
    struct Outcome {
        int failures;
    } outcome = {0};
    int result = RunMainLoop(
        [](void *state) {
            Outcome *o = (Outcome *)state;
            uint32_t pixel = 0;
            for (int i = 0; i < 10000; i++) {
                pixel = 0xFF000000u | (uint32_t)i;
                WindowOps()->BlitToWindow(window, &pixel, 1, 0, 0, i % 32, (i / 32) % 32, 1, 1);
                if (i % 100 == 0) {
                    SDL_Event e = {};
                    e.type = SDL_WINDOWEVENT;
                    e.window.event = SDL_WINDOWEVENT_FOCUS_GAINED;
                    e.window.windowID = NativeWindowId(window);
                    SDL_PushEvent(&e);
                    WakeMainLoop();
                }
            }
            uint32_t frame[32 * 32];
            if (WindowOps()->ReadWindowFrame(window, frame, 32, 32) != 0) o->failures++;
            // The last blit's pixel: i = 9999 at (9999 % 32, (9999 / 32) % 32).
            if (frame[((9999 / 32) % 32) * 32 + 9999 % 32] != pixel) o->failures++;
            return 7;
        },
        &outcome);
    EXPECT_EQ(result, 7);
    EXPECT_EQ(outcome.failures, 0);
    EXPECT_GT(pumped.load(), 0);
}

// The script thread holds a lock and waits for a request while the pumping thread wants
// that lock for its pass: the pumping thread serves requests while it waits.
TEST_F(NativeWindows, APassWaitingForALockServesTheRequestsOfItsHolder)
{
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 16, 16, 0x1, 1, "Lock"), 0);
    static lvMutex *lock;
    static lvDisplayWindow *window;
    lock = NewMutex();
    window = w;
    ASSERT_NE(lock, nullptr);
    lvMainLoopHooks hooks = GetMainLoopHooks();
    hooks.LockDisplays = [] { LockMutexServingRequests(lock); };
    hooks.UnlockDisplays = [] { UnlockMutex(lock); };
    hooks.PumpWindows = [] { PumpNativeWindows(); };
    SetMainLoopHooks(&hooks);
    int result = RunMainLoop(
        [](void *) {
            for (int i = 0; i < 200; i++) {
                LockMutex(lock);
                WakeMainLoop();  // a pass starts and wants the lock
                WindowOps()->FillWindowRect(window, 0, 0, 16, 16, (uint32_t)i);
                UnlockMutex(lock);
            }
            uint32_t frame[16 * 16];
            WindowOps()->ReadWindowFrame(window, frame, 16, 16);
            return (int)(frame[0] & 0xFFFFFF);
        },
        nullptr);
    EXPECT_EQ(result, 199);
    FreeMutex(lock);
}

}  // namespace

// Starting video may point the D-Bus library away from a bus launch it could not make,
// but only while SDL starts: programs the applet runs later see the environment it had.
TEST_F(NativeWindows, StartingVideoLeavesTheBusAddressAsItWas)
{
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 32, 32, 0x1, 1, "Bus"), 0);
    EXPECT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr);
}

// A strip of three titles: "File" (a submenu), "Go" (a toggle, id "go") and "Off"
// (disabled). Boxes: File 0-43, Go 44-73, Off 74-103.
static lvMenuModel *ThreeTitleStrip()
{
    lvMenuModelBuilder *b = nullptr;
    if (BeginMenuModel(&b, 4, 0)) return nullptr;
    lvMenuNodeSource file = {"File", "file", nullptr, 0}, open = {"Open", "open", nullptr, 0};
    lvMenuNodeSource go = {"Go", "go", nullptr, LV_MENU_TOGGLE}, off = {"Off", "off", nullptr, LV_MENU_DISABLED};
    int err = AddMenuNode(b, &file, 1);
    if (!err) err = AddMenuNode(b, &open, 0);
    EndMenuSubmenu(b);
    if (!err) err = AddMenuNode(b, &go, 0);
    if (!err) err = AddMenuNode(b, &off, 0);
    return FinishMenuModel(b, err);
}

struct StripInputSeen {
    std::vector<std::string> menu;  // "selected id" of each choice
    int buttons = 0, lastY = -1;
};
static StripInputSeen stripSeen;

static void PushMouse(uint32_t window, uint32_t type, int x, int y)
{
    SDL_Event e = {};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion.windowID = window, e.motion.x = x, e.motion.y = y;
    } else {
        e.button.windowID = window, e.button.button = SDL_BUTTON_LEFT, e.button.x = x, e.button.y = y;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED, e.button.clicks = 1;
    }
    SDL_PushEvent(&e);
}

TEST_F(NativeWindows, AStripGrowsTheWindowHighlightsAndReportsClickedTitles)
{
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 120, 40, 0x1, 1, "Strip"), 0);
    std::vector<uint32_t> picture(120 * 40);
    for (size_t i = 0; i < picture.size(); i++) picture[i] = 0x102030u + (uint32_t)(i % 120);
    WindowOps()->BlitToWindow(w, picture.data(), 120, 0, 0, 0, 0, 120, 40);
    lvMenuModel *model = ThreeTitleStrip();
    ASSERT_NE(model, nullptr);
    stripSeen = {};
    SetWindowInputSink([](lvDisplayWindow *, const lvWindowInput *in) {
        if (in->type == 26) {
            stripSeen.menu.push_back(std::to_string(in->c) + " " + (const char *)in->payload);
            FreeMemory(in->payload);
        } else if (in->type == 1) {
            stripSeen.buttons++;
            stripSeen.lastY = in->b;
        }
    });
    SetWindowMenuStrip(w, model);
    const int strip = kMenuMetrics.stripHeight;

    // The inside grows by the strip; the picture sits pixel for pixel below the panel.
    int width = 0, height = 0;
    SDL_GetWindowSize(SDL_GetWindowFromID(NativeWindowId(w)), &width, &height);
    EXPECT_EQ(width, 120);
    EXPECT_EQ(height, 40 + strip);
    EXPECT_EQ(w->height, 40);
    std::vector<uint32_t> frame = Frame(120, 40 + strip);
    for (int y = 0; y < 40 + strip; y++)
        for (int x = 0; x < 120; x++) {
            uint32_t want = y < strip ? 0xFF000000u | kMenuMetrics.panel : picture[(y - strip) * 120 + x] | 0xFF000000u;
            ASSERT_EQ(frame[y * 120 + x], want) << x << "," << y;
        }

    // Hovering "Go" highlights its box only.
    uint32_t id = NativeWindowId(w);
    PushMouse(id, SDL_MOUSEMOTION, 50, 10);
    PumpNativeWindows();
    frame = Frame(120, 40 + strip);
    for (int x = 0; x < 120; x++) {
        uint32_t want = 0xFF000000u | (x >= 44 && x < 74 ? kMenuMetrics.highlight : kMenuMetrics.panel);
        ASSERT_EQ(frame[5 * 120 + x], want) << x;
    }

    // Clicks: "Go" twice flips it on and off; "Off" (disabled) and "File" (a submenu)
    // report nothing; a click below the strip is the picture's, at its own y.
    struct Click { int x, y; } clicks[] = {{50, 10}, {50, 10}, {80, 10}, {10, 10}, {10, strip + 7}};
    for (const Click &c : clicks) {
        PushMouse(id, SDL_MOUSEBUTTONDOWN, c.x, c.y);
        PushMouse(id, SDL_MOUSEBUTTONUP, c.x, c.y);
        PumpNativeWindows();
    }
    EXPECT_EQ(stripSeen.menu, (std::vector<std::string>{"1 go", "0 go"}));
    EXPECT_EQ(stripSeen.buttons, 2);  // the press and release below the strip only
    EXPECT_EQ(stripSeen.lastY, 7);
    EXPECT_EQ(GetMenuNodeFlags(model, 2), 0);

    // A warp is to a picture position: it lands below the strip.
    ASSERT_EQ(InitPointers(), 0);
    WarpPointer(w, 5, 6);
    PumpNativeWindows();
    int mx = 0, my = 0;
    SDL_GetMouseState(&mx, &my);
    EXPECT_EQ(mx, 5);
    EXPECT_EQ(my, 6 + strip);

    // Taken off, the window shrinks back to the picture.
    SetWindowMenuStrip(w, nullptr);
    SDL_GetWindowSize(SDL_GetWindowFromID(NativeWindowId(w)), &width, &height);
    EXPECT_EQ(height, 40);
    SetWindowInputSink(nullptr);
    FreeMenuModel(model);
}

// Labels come from the installed label drawer as coverage: a fake one gives each
// character a 4 x 9 block, full in its first column and half elsewhere, so every ink
// colour and mix shows at known pixels.
TEST_F(NativeWindows, StripLabelsAreDrawnInTheirStateColours)
{
    static const lvMenuLabelServices fake = {[](const char *text, int, uint8_t **coverage, int *width, int *height) {
        int w = 4 * (int)std::strlen(text);
        *coverage = (uint8_t *)AllocMemory((size_t)w * 9, 0);
        for (int i = 0; i < w * 9; i++) (*coverage)[i] = i % 4 == 0 ? 255 : 128;
        *width = w;
        *height = 9;
        return 0;
    }};
    SetMenuLabelServices(&fake);
    lvMenuModel *model = ThreeTitleStrip();  // boxes now File 0-31, Go 32-55, Off 56-83
    SetMenuLabelServices(nullptr);
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 100, 30, 0x1, 1, "Labels"), 0);
    SetWindowMenuStrip(w, model);
    PushMouse(NativeWindowId(w), SDL_MOUSEMOTION, 40, 3);
    PumpNativeWindows();
    const lvMenuMetrics &m = kMenuMetrics;
    auto half = [](uint32_t a, uint32_t b) {
        uint32_t out = 0;
        for (int s = 0; s < 24; s += 8)
            out |= (uint32_t)((((a >> s) & 0xFF) * 127 + ((b >> s) & 0xFF) * 128 + 127) / 255) << s;
        return out;
    };
    const int top = (m.stripHeight - 9) / 2;
    struct Probe { int x, y; uint32_t want; const char *what; } probes[] = {
        {8, top, m.text, "File ink"},
        {9, top + 8, half(m.panel, m.text), "File half ink"},
        {8, top - 1, m.panel, "above the label"},
        {40, top, m.highlightText, "Go ink on the highlight"},
        {41, top, half(m.highlight, m.highlightText), "Go half ink on the highlight"},
        {33, top, m.highlight, "Go's margin"},
        {64, top + 4, m.disabledText, "Off greyed"},
        {90, top, m.panel, "past the titles"},
    };
    std::vector<uint32_t> frame = Frame(100, 30 + m.stripHeight);
    for (const Probe &p : probes) EXPECT_EQ(frame[p.y * 100 + p.x], 0xFF000000u | p.want) << p.what;
    SetWindowMenuStrip(w, nullptr);
    FreeMenuModel(model);
}

// Ctrl with a leaf's one-character hotkey chooses it instead of being a key (Ctrl+C's quit
// included); a disabled item's key is swallowed; other keys stay keys.
TEST_F(NativeWindows, StripAcceleratorsWinOverKeysAndAreSwallowedWhenDisabled)
{
    lvMenuModelBuilder *b = nullptr;
    ASSERT_EQ(BeginMenuModel(&b, 3, 0), 0);
    lvMenuNodeSource quit = {"Quit", "quit", "q", 0}, copy = {"Copy", "copy", "c", LV_MENU_TOGGLE},
                     off = {"Off", "off", "o", LV_MENU_DISABLED};
    ASSERT_EQ(AddMenuNode(b, &quit, 0), 0);
    ASSERT_EQ(AddMenuNode(b, &copy, 0), 0);
    ASSERT_EQ(AddMenuNode(b, &off, 0), 0);
    lvMenuModel *model = FinishMenuModel(b, 0);
    ASSERT_NE(model, nullptr);
    ASSERT_EQ(WindowOps()->OpenDisplayWindow(w, 0, 0, 60, 30, 0x1, 1, "Keys"), 0);
    SetWindowMenuStrip(w, model);
    static std::vector<std::string> seen;
    seen.clear();
    SetWindowInputSink([](lvDisplayWindow *, const lvWindowInput *in) {
        if (in->type == 26) {
            seen.push_back(std::to_string(in->c) + " " + (const char *)in->payload);
            FreeMemory(in->payload);
        } else if (in->type == 3 || in->type == 29) {
            seen.push_back("key");
        }
    });
    struct Case { SDL_Keycode sym; SDL_Scancode code; uint16_t mod; std::vector<std::string> want; } cases[] = {
        {SDLK_q, SDL_SCANCODE_Q, KMOD_LCTRL, {"0 quit"}},
        {SDLK_c, SDL_SCANCODE_C, KMOD_RCTRL, {"1 copy"}},
        {SDLK_o, SDL_SCANCODE_O, KMOD_LCTRL, {}},
        {SDLK_x, SDL_SCANCODE_X, KMOD_LCTRL, {"key"}},
    };
    for (const Case &c : cases) {
        seen.clear();
        SDL_Event e = {};
        e.type = SDL_KEYDOWN;
        e.key.windowID = NativeWindowId(w);
        e.key.state = SDL_PRESSED;
        e.key.keysym.sym = c.sym;
        e.key.keysym.scancode = c.code;
        e.key.keysym.mod = c.mod;
        SDL_PushEvent(&e);
        PumpNativeWindows();
        std::vector<std::string> keysOnce;
        for (const std::string &s : seen)
            if (s != "key" || keysOnce.empty() || keysOnce.back() != "key") keysOnce.push_back(s);
        EXPECT_EQ(keysOnce, c.want) << SDL_GetKeyName(c.sym);
    }
    EXPECT_EQ(w->ctrlCPressed, 0);  // Ctrl+C was Copy's
    SetWindowInputSink(nullptr);
    SetWindowMenuStrip(w, nullptr);
    FreeMenuModel(model);
}
