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

// The platform's record of one display's window.
struct lvDisplayWindow {
    int open;              // 1 while the window exists
    int minimised;         // 1 while hidden
    int active;            // 1 while it has the input focus
    int x, y;              // outer corner in desktop pixels
    int width, height;     // inside size
    uint32_t styleFlags;   // the display's style flags when it opened
    uint32_t *pixels;      // the picture: width * height ARGB words (headless)
    char title[256];       // window title
    int mouseX, mouseY;    // last pointer position inside the window
    uint32_t qualifiers;   // last qualifier bits
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
};

// Installs a table (slots left null keep the headless ones); nullptr restores it.
// Nothing calls SetWindowOps yet: kept for the window layer, which installs its operations here.
void SetWindowOps(const lvWindowOps *ops);
// The table in force.
const lvWindowOps *WindowOps(void);
