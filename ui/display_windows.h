// display_windows.h - displays on the platform's own windows (display_windows.cpp): the
// letterbox arithmetic, presentation settings, the main thread's fold and the script
// thread's collection of window changes, and the engines of the window commands, the
// vertical-blank wait and refresh mode.
#pragma once
#include "ui/display.h"

// A picture fitted into an available size: the scale size and the margins around it.
struct lvLetterbox {
    int width, height;                 // the picture's size on screen
    int left, top, right, bottom;      // margins
};
// Without keepProportions the picture takes the whole available size.
lvLetterbox ComputeLetterbox(int availableWidth, int availableHeight, int pictureWidth, int pictureHeight,
                             int keepProportions);
// Fits the display's picture into an available size (scale size, margins, factors).
void FitDisplayPicture(lvDisplay *display, int availableWidth, int availableHeight);
// Tells the window where the picture goes (1:1, or the scale size inside the margins).
void ApplyWindowPresentation(lvDisplay *display);

// Installs the SDL2 windows with their main-loop and event-loop hooks. 0 or a code.
int UseNativeDisplayWindows(void);
// Main thread, display lock held: quit keys, the close box, size and move events.
void FoldWindowChanges(int mouseMoved);
// Script thread: folds the windows' changes into the displays (the native event poll).
// Returns at once when nothing changed, unless always is 1. 0 or an error of a resize.
int CollectWindowEvents(lvState *L, int always = 0);
int PollNativeDisplayEvents(lvState *L);
// The collection a move or size event waits for before it runs (see lvEventDisplayHooks).
int CollectNativeWindowChanges(lvState *L);
// The size-event filter of autoscaled displays.
int SuppressAutoscaleSizeEvent(lvDisplay *display);

// The title cut to fit size bytes, never inside a character.
void CutTitle(char *out, size_t size, const char *title);
void SetDisplayTitle(lvDisplay *display, const char *title);
int MoveDisplayTo(lvDisplay *display, int x, int y);
int HideDisplayById(lvDisplay *display);
int ShowDisplayById(lvState *L, lvDisplay *display);

// The output checks of BeginRefresh and RefreshDisplay: 0 or the code of the selection.
int CheckRefreshOutput(const lvDisplay *display);
int BeginDisplayRefresh(lvDisplay *display, int force);
int EndDisplayRefresh(lvState *L, lvDisplay *display);
void SetFPSLimit(int limit);
int GetFPSLimit(void);
void SetVWaitEnabled(int on);
int IsVWaitEnabled(void);
// How long the vertical-blank wait sleeps at a frame-rate limit, given the last blank.
int VWaitSleepMilliseconds(const lvTimeVal *last, const lvTimeVal *now, int limit);
int VWaitDisplay(lvState *L, lvDisplay *display);
