// window_sdl.h - the SDL2 display windows' own parts shared by their source files: the
// translation of SDL events into window changes and input (window_input.cpp, a pure
// function of the event and the window's records), and the size-zone arithmetic of
// borderless windows.
//
// Depends on: platform/lvplatform_windows.h, SDL2.
#pragma once
#include "platform/lvplatform_windows.h"

#include <SDL.h>

// Runtime key codes of the named keys.
enum : int {
    LVKEY_UP = 256, LVKEY_DOWN = 257, LVKEY_RIGHT = 258, LVKEY_LEFT = 259, LVKEY_F1 = 261,
    LVKEY_BACKSPACE = 271, LVKEY_TAB = 272, LVKEY_ENTER = 273, LVKEY_RETURN = 274, LVKEY_ESCAPE = 275,
    LVKEY_SPACE = 276, LVKEY_DEL = 277, LVKEY_F11 = 278, LVKEY_F12 = 279, LVKEY_INSERT = 280,
    LVKEY_HOME = 281, LVKEY_END = 282, LVKEY_PAGEUP = 283, LVKEY_PAGEDOWN = 284, LVKEY_PRINT = 285,
    LVKEY_PAUSE = 286, LVKEY_F13 = 287, LVKEY_NP0 = 291, LVKEY_NPMUL = 301, LVKEY_NPADD = 302,
    LVKEY_NPSUB = 303, LVKEY_NPDEC = 304, LVKEY_NPDIV = 305, LVKEY_LSHIFT = 306, LVKEY_RSHIFT = 307,
    LVKEY_LALT = 308, LVKEY_RALT = 309, LVKEY_LCONTROL = 312, LVKEY_RCONTROL = 313, LVKEY_CODES = 314
};

// Qualifier bits (bit 31 always set).
enum : uint32_t {
    LVQUAL_BASE = 0x80000000u, LVQUAL_LSHIFT = 0x10000, LVQUAL_RSHIFT = 0x20000, LVQUAL_LALT = 0x40000,
    LVQUAL_RALT = 0x80000, LVQUAL_LCONTROL = 0x400000, LVQUAL_RCONTROL = 0x800000
};

// Output kinds beyond the event types: what the pump does to the window itself.
enum : int {
    WINPUT_MOVEWINDOW = -1,  // a, b: new outer corner
    WINPUT_SIZEWINDOW = -2,  // a, b: outer corner; c, d: inside size
};

// What the translation keeps between events of one window.
struct lvWindowTranslation {
    int pendingScancode;       // a printable key pressed in this pump whose text is due; -1 none
    uint16_t modifiers;        // SDL modifier state of the last key event
    int32_t pressedCode[SDL_NUM_SCANCODES];  // translated code of each held printable key, 0 none
    int dragging, sizing;      // a drag or size region is being dragged
    int zone;                  // size zone 0..7
    int grabX, grabY;          // offsets of the press inside its zone
    int pressX, pressY;        // inside position of the press
    int startLeft, startTop, startRight, startBottom;  // outer rectangle when sizing started
    int lastX, lastY;          // last pointer position inside the window
    int dropCount;             // files collected for the current drop
    char *dropNames;           // AllocMemory'd block being collected
    size_t dropLength;
    int expectWidth, expectHeight;  // size the runtime itself set
    int expectSize;                 // a report of that size still to swallow
    // Places the runtime itself moved the window to, oldest first, whose reports are still
    // to come: a drag moves it many times before the server confirms the first place.
    int expectX[8], expectY[8];
    int expectMoves;
};
void InitWindowTranslation(lvWindowTranslation *t);
// Notes a place the runtime moves the window to (its report will be swallowed).
void ExpectWindowMove(lvWindowTranslation *t, int x, int y);
// Frees a drop still being collected.
void FreeWindowTranslation(lvWindowTranslation *t);

// Translates one event for one window: records changes in the window and writes up to
// max outputs; returns their count. Pure: no SDL call (drop names are copied, the caller
// frees SDL's text).
int TranslateWindowEvent(const SDL_Event *event, lvDisplayWindow *window, lvWindowTranslation *t,
                         lvWindowInput *out, int max);
// Ends one pump: a printable key whose text never came gives no translated code.
void EndWindowPump(lvWindowTranslation *t);

// The runtime key code of a key: raw pass (0) or translated pass (1) without its text;
// 0 when the key has none in that pass.
int KeyCodeOfScancode(SDL_Scancode scancode, SDL_Keycode sym, int translated);
// Qualifier bits of an SDL modifier state (AltGr reports no left Control).
uint32_t QualifiersOfModifiers(uint16_t modifiers);

// The size zone of a size region (x, y, width, height) in a display of width x height,
// and the grab offsets of a press at (pressX, pressY).
int ComputeSizeZone(const lvWindowRegion *region, int width, int height, int pressX, int pressY, int *grabX,
                    int *grabY);
// The new outer rectangle while sizing from a zone; width and height at least 1.
void ComputeSizeRect(int zone, int cursorX, int cursorY, int grabX, int grabY, int startLeft, int startTop,
                     int startRight, int startBottom, int *left, int *top, int *right, int *bottom);

// The frame dump (window_frames.cpp): with LV_WINDOW_FRAMES set, writes the frame read
// by read() to "<folder>/<title>.png". WriteFramePng writes ARGB pixels as a PNG; 0 or -1.
void DumpWindowFrame(lvDisplayWindow *window, int stripHeight, int (*read)(lvDisplayWindow *, uint32_t *, int, int));
int WriteFramePng(const char *path, const uint32_t *argb, int width, int height);
