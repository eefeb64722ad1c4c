// lvplatform_windows.h - display windows as the display library sees them: the
// window record, the monitor and screen-mode lists, and the window operations.
//
// The operations are one table (lvWindowOps). The layer starts with a headless
// table: a window is a picture in memory, every operation succeeds, there is one
// 1920x1080 monitor and no screen modes. The SDL2 back-end installs its own table
// with SetWindowOps; callers never test a slot for null.
//
// Depends on: nothing beyond <cstdint>.
// Limits: called on the script thread (the headless table keeps no locks).
#pragma once
#include <cstdint>

// A monitor's rectangle in desktop pixels.
struct lvMonitorRect {
    int x, y;           // origin
    int width, height;  // size
};

// One screen mode.
struct lvScreenMode {
    int width, height;  // pixels
};

// A drag or size region of a window (type 14, a box), in the window's inside pixels.
struct lvWindowRegion {
    int type, x, y, width, height;
};
#define LV_WINDOW_REGIONS 64
#define LV_WINDOW_KEYSTATE 628  // 314 translated key codes, then 314 raw ones

// Change bits a window records for the display library to fold.
enum : uint32_t {
    WCHANGE_SIZE = 0x1, WCHANGE_MOVE = 0x2, WCHANGE_KEYS = 0x4, WCHANGE_RESTORE = 0x8,
    WCHANGE_ACTIVE = 0x10, WCHANGE_MOUSEFRONT = 0x20, WCHANGE_REPAINT = 0x40
};

// Second style word bits the windows honour: a software renderer only, and presentation
// synchronised with the vertical blank.
enum : uint32_t { WSTYLE2_SOFTWARERENDERER = 0x20, WSTYLE2_VSYNC = 0x40 };

// The platform's record of one display's window.
struct lvDisplayWindow {
    int open;              // 1 while the window exists
    int minimised;         // 1 while hidden
    int active;            // 1 while it has the input focus
    int x, y;              // outer corner in desktop pixels
    int width, height;     // inside size
    uint32_t styleFlags;   // the display's style flags when it opened
    uint32_t styleFlags2;  // WSTYLE2_... (set by the display library before opening)
    uint32_t *pixels;      // the picture: width * height ARGB words (headless)
    char title[256];       // window title
    int mouseX, mouseY;    // last pointer position inside the window
    uint32_t qualifiers;   // last qualifier bits
    // ---- Native windows (SDL2): what the window system reported, folded by the display
    // library under the display lock (written by the pumping thread under the same lock).
    void *owner;           // the display this window shows (set by the display library)
    void *native;          // the back-end's own record
    uint32_t changes;      // WCHANGE_... since the last fold
    int newX, newY;        // position from the last move (outer corner)
    int newWidth, newHeight;  // inside size from the last size change
    int sizeState;         // 0 none, 1 new size recorded, 2 size event posted
    int restoreState;      // 1 restored, 2 minimised
    int moved;             // moved by the user since the last fold
    int closeClicked, escapePressed, ctrlCPressed;
    int pendingModeSwitch; // -1 none, else the full-screen state asked for (Alt+Return)
    uint8_t leftButton, rightButton, midButton;
    uint8_t keyState[LV_WINDOW_KEYSTATE];
    uint8_t keyPresses[LV_WINDOW_KEYSTATE];  // presses counted modulo 256, same layout
    int pointerInside;     // the pointer is over the window
    int acceptDrops;       // the display has a drop handler
    int closeHandled;      // the display has a close handler (the close box posts an event)
    int borderLeft, borderTop;  // frame sizes of the open window
    lvWindowRegion dragRegions[LV_WINDOW_REGIONS], sizeRegions[LV_WINDOW_REGIONS];
    int dragRegionCount, sizeRegionCount;
    // Presentation: the back buffer holds the picture at its own size; it is shown at
    // (destX, destY) with the size destWidth x destHeight inside the window.
    int bufferWidth, bufferHeight;
    int destX, destY, destWidth, destHeight;
    int smooth;            // linear instead of nearest scaling
    int stripHeight;       // the menu strip above the picture (pumping thread), 0 without
    // The pointer the window shows while it has the focus or the pointer is over it
    // (lvplatform_pointers.h); written and applied on the pumping thread only.
    void *pointerImage;    // lvPointerImage, or null for a standard pointer
    int pointerKind;       // LV_POINTER_ARROW, LV_POINTER_BUSY, LV_POINTER_CUSTOM
    int pointerHidden;     // the blank pointer is shown
    int iconWidth;         // width of the picture given as its icon when it opened, 0 none
};

// The window operations. Each returns 0 or an error code where it returns an int.
struct lvWindowOps {
    int (*AllocDisplayWindow)(lvDisplayWindow **out);                  // ERR_MEM
    void (*FreeDisplayWindow)(lvDisplayWindow *window);                // closes it first
    // Opens at x, y (outer corner) with the inside size; style flags as the display's.
    int (*OpenDisplayWindow)(lvDisplayWindow *window, int x, int y, int width, int height,
                             uint32_t styleFlags, int active, const char *title);
    void (*CloseDisplayWindow)(lvDisplayWindow *window);
    int (*ShowHideDisplayWindow)(lvDisplayWindow *window, int minimise);
    void (*ActivateDisplayWindow)(lvDisplayWindow *window, int front);
    void (*SetDisplayWindowTitle)(lvDisplayWindow *window, const char *title);
    // Frame sizes of a window with these style flags (all 0 when borderless).
    void (*GetWindowBorderSizes)(uint32_t styleFlags, int *left, int *top, int *right, int *bottom);
    void (*FillWindowRect)(lvDisplayWindow *window, int x, int y, int width, int height, uint32_t colour);
    // Copies a rectangle of ARGB pixels (rows of rowLength words) into the window.
    void (*BlitToWindow)(lvDisplayWindow *window, const uint32_t *pixels, int rowLength, int sx, int sy,
                         int dx, int dy, int width, int height);
    int (*ListMonitors)(lvMonitorRect *out, int max);                  // count (at least 1)
    int (*ListDisplayModes)(int monitor, lvScreenMode *out, int max);  // count
    double (*GetSystemScale)(void);                                    // dots per inch over 96
    void (*GetWindowMousePos)(lvDisplayWindow *window, int *x, int *y);
    uint32_t (*GetWindowQualifiers)(lvDisplayWindow *window);
    // Moves the window (outer corner) and sizes its inside; a size of 0 keeps the size.
    void (*MoveSizeDisplayWindow)(lvDisplayWindow *window, int x, int y, int width, int height);
    // Where the picture (bufferWidth x bufferHeight) goes inside the window; the back
    // buffer is made again at that size when it changed (its content is then black).
    void (*SetWindowPresentation)(lvDisplayWindow *window, int bufferWidth, int bufferHeight, int destX,
                                  int destY, int destWidth, int destHeight, int smooth);
    // The frame the window shows (width x height of its inside) into out (ARGB words);
    // 0 or an error code. Tests and the frame dump read it.
    int (*ReadWindowFrame)(lvDisplayWindow *window, uint32_t *out, int width, int height);
    // Copies the display's drag and size regions and the drop and close switches.
    void (*SetWindowRegions)(lvDisplayWindow *window);
};

// What a native window reports besides its recorded changes: one input event for the
// display library to post (types as the event queue's: 1 left, 2 right, 16 middle
// button, 3 key, 29 raw key, 28 character, 6..10 window state, 11/12 wheel, 13 mode
// switch, 14 dropped files with payload).
struct lvWindowInput {
    int type;
    int a, b, c, d;
    void *payload;  // EVENT 14: names, each zero-terminated, then an empty one (AllocMemory)
};
// The display library's receiver of window input; runs on the pumping thread under the
// display lock. It owns the payload.
typedef void (*lvWindowInputSink)(lvDisplayWindow *window, const lvWindowInput *input);
void SetWindowInputSink(lvWindowInputSink sink);

// The pictures a window shows as its icon (title bar, task list). When a native window
// opens it gets the one whose width is nearest to 32 x the system scale. The pictures
// (width x height ARGB words, top row first; at most 16) are copied; count 0 forgets them.
// 0, ERR_MEM, or ERR_WRONGUSAGE for a side outside 1..1024 or a count over 16. Any thread.
struct lvWindowIconImage {
    const uint32_t *pixels;
    int width, height;
};
int SetWindowIconImages(const lvWindowIconImage *images, int count);
// Index of the picture whose width is nearest to wanted (the earlier one on a tie), -1
// for none.
int PickWindowIconImage(const lvWindowIconImage *images, int count, int wanted);

// The SDL2 windows: installs their table (starting nothing yet; SDL video starts with the
// first window, on the pumping thread). 0, or ERR_WINDOW when SDL cannot be used.
int UseNativeWindows(void);
// Stops SDL video when no window is left (the display library's close).
void StopNativeWindows(void);
// 1 while the SDL2 table is in force.
int NativeWindowsInUse(void);
// Pumping thread, display lock held: drains the window system's events into the window
// records and the sink. Returns 1 when anything changed.
int PumpNativeWindows(void);
// The window system's connection descriptor for the main loop's poll, -1 when none.
int NativeWindowDescriptor(void);
// The last pointer position in screen pixels (any thread); 0 when none is known.
int ReadNativeCursor(int *x, int *y);
// The window that has the given SDL window id (tests), or null.
lvDisplayWindow *FindNativeWindow(uint32_t sdlWindowId);
uint32_t NativeWindowId(lvDisplayWindow *window);
// The X11 window of a display window (desktop dialogs stay above it); 0 off X11.
unsigned long NativeX11Window(lvDisplayWindow *window);

// The monitors' usable areas (without task bars and docks) in the order of ListMonitors,
// from the native windows; 0 when they are not in use.
int ListUsableMonitorBounds(lvMonitorRect *out, int max);

// Copies a rectangle of the desktop (root window) into new ARGB words (FreeMemory) through
// the windows' X connection. 0, ERR_GRABSCREEN when no screen can be read (no X server,
// no window opened yet, another driver), ERR_MEM.
int CopyScreenArea(int x, int y, int width, int height, uint32_t **out);

// Installs a table (slots left null keep the headless ones); nullptr restores it.
// Nothing calls SetWindowOps yet: kept for the window layer, which installs its operations here.
void SetWindowOps(const lvWindowOps *ops);
// The table in force.
const lvWindowOps *WindowOps(void);
