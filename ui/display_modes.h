// display_modes.h - display modes of an open display (display_modes.cpp): ChangeDisplayMode's
// engine, the window's mode-switch wish, the screen-mode choice, the best monitor, and the
// hooks through which the asking modes reach the requesters.
#pragma once
#include "ui/display.h"

// ChangeDisplayMode's options after parsing.
struct lvModeRequest {
    int width, height;           // screen size; 0 not given, LV_NATIVE the monitor's
    int monitor;                 // 0-based, -1 not given
    int keepProportions, smoothScale;  // -1 not given
};
void InitModeRequest(lvModeRequest *request);

// The requesters the asking modes use. Choose: buttons separated by "|", *choice 1 for the
// first, 0 for the last (cancel). List: *chosen the index, -1 on cancel. Each returns 0
// or an error code. Without hooks the asking modes answer ERR_UNIMPLCMD. The requester
// library sets them while it is open.
struct lvModeRequesterHooks {
    int (*Choose)(lvState *L, lvDisplay *display, const char *title, const char *body, const char *buttons,
                  int *choice);
    int (*List)(lvState *L, lvDisplay *display, const char *title, const char *body, const char *const *entries,
                int count, int preselected, int *chosen);
};
void SetModeRequesterHooks(const lvModeRequesterHooks *hooks);

// The monitor with the largest overlap with the rectangle (the first on a tie, 0 when none
// overlaps).
int FindBestMonitor(const lvMonitorRect *monitors, int count, int x, int y, int width, int height);
// The smallest mode (by area) at least width x height; ERR_SCREEN when none is.
int ChooseScreenMode(const lvScreenMode *modes, int count, int width, int height, lvScreenMode *out);

// The height of a plain window's title bar (its top frame less its bottom one).
int HostTitleBarHeight(void);
// Frees the display's backfill display, if it has one.
void FreeDisplayBackfill(lvState *L, lvDisplay *display);
// After the display moved to another monitor: its backfill (if any) covers that one.
int FollowMonitorWithBackfill(lvState *L, lvDisplay *display);

// Switches an open display to the mode (DISPMODE_...). 0 or the code.
int ChangeDisplayModeOf(lvState *L, lvDisplay *display, int mode, lvModeRequest *request);
// The user asked from the window (Alt+Return): toggles when the display may switch.
int SwitchDisplayModeFromWindow(lvState *L, lvDisplay *display);
