// lvplatform_pointers.h - mouse pointers of the display windows (SDL2 cursors).
//
// SDL has one cursor for the whole program, so each window keeps its own pointer in its
// record and the pump puts it in force when the window gains the focus or the pointer
// enters it (and at once when the window already has either). A pointer image keeps an
// ARGB copy of its picture; its SDL cursor is made on the pumping thread when first
// shown, since SDL video belongs to that thread.
//
// Depends on: SDL2, lvplatform_windows.h.
// Limits: any thread; everything that touches SDL runs as main-thread request 28.
#pragma once
#include <cstdint>

struct lvDisplayWindow;
struct lvPointerImage;

enum { LV_REQUEST_POINTER = 28 };
enum { LV_POINTER_ARROW = 0, LV_POINTER_BUSY = 1, LV_POINTER_CUSTOM = 2 };
// Width and height of the standard pointers.
#define LV_STANDARD_POINTER_SIZE 32
// The largest pointer picture taken, per side.
#define LV_MAX_POINTER_SIDE 1024

// Makes the blank pointer used for hiding (1 x 1, ARGB 0x01000000). 0 or ERR_POINTERIMG.
int InitPointers(void);
// Frees the standard and blank pointers' cursors (shut-down).
void ShutdownPointers(void);
// A pointer image of *width x *height ARGB words with the hot spot (clamped into the
// picture). The size is kept as given. 0, ERR_CREATEICON for a size out of
// 1..LV_MAX_POINTER_SIDE, or ERR_MEM.
int CreatePointerImage(const uint32_t *pixels, int hotX, int hotY, int *width, int *height, lvPointerImage **out);
// Frees an image that no window shows any more; null is ignored.
void FreePointerImage(lvPointerImage *image);
// The window's pointer: the image, or without one the arrow for kind 0 and the busy
// pointer otherwise. Clears the hidden state.
void SetWindowPointer(lvDisplayWindow *window, lvPointerImage *image, int kind);
void ShowWindowPointer(lvDisplayWindow *window);
void HideWindowPointer(lvDisplayWindow *window);
// Moves the pointer to (x, y) of the window's inside.
void WarpPointer(lvDisplayWindow *window, int x, int y);
// Pumping thread: puts the window's pointer in force (the pump calls it on focus and entry).
void ApplyWindowPointer(lvDisplayWindow *window);

// What a window shows (tests): kind, hidden flag, and the image's size, hot spot and
// first pixel (0 without an image). The blank pointer reports 1 x 1 and 0x01000000.
struct lvPointerView {
    int kind, hidden, width, height, hotX, hotY;
    uint32_t firstPixel;
};
void ViewWindowPointer(lvDisplayWindow *window, lvPointerView *view);
