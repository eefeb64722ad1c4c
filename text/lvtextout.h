// lvtextout.h - text reaching the current output: the text cursor, margins and
// tab stops of the display drawn on, and the blit of a laid-out text image.
//
// The cursor and margins are those of the display record selections save and
// restore (images/lvoffscreen.h), so printing into a selected brush starts at
// its corner and the display's cursor comes back at the end. Tab stops are
// kept here, one set per display record.
//
// Depends on: text/lvtextlayout.h, images/lvoffscreen.h, raster/lvblit.h.
// Limits: script thread only.
#pragma once
#include "raster/lvdrawtags.h"
#include "runtime/objects.h"
#include "text/lvtextlayout.h"

struct lvDisplayTabs {
    lvDisplayTabs *next;
    const void *display;
    int stops[LV_TEXT_LEVELS];      // ascending
    int count;
};

struct lvDisplayTextState {
    const void *display;
    int *cursorX, *cursorY, *marginLeft, *marginRight;
    lvDisplayTabs *tabs;
    int outputWidth;                // the output's width (margins are held to it)
};

// The text state of the current output: 0, ERR_OUTPUTDEVICE without one, ERR_MEM.
int GetDisplayTextState(lvDisplayTextState *out);
// Frees the tab stops of every display (the library's close).
void FreeDisplayTabs();
// Inserts a stop before the first greater one (equal stops stay in front):
// 0, ERR_INTERNAL past 32 stops, ERR_NEGCOORDS for a negative x.
int AddTabStop(lvDisplayTabs *tabs, int x);
// Blits the image with its alpha at (x, y) onto the current output (its
// display, selected image or BGPic). 0, ERR_OUTPUTDEVICE, ERR_BITMAP,
// ERR_ALLOCALPHA, ERR_LOCKBMAP or the selection's check. A style's filters and
// transparency work on a private copy first, as on a brush drawn with tags (the
// colours are drawn then, also in pen mode, so that colour filters have pixels).
int DrawTextImage(void *state, const lvTextImage *image, int x, int y, const lvStyleTags *style = nullptr);

// A laid-out image as bitmaps: the colours with their alpha, or (pens) the pen plane
// through a mask of the pixels the text set. 0 or ERR_BITMAP, ERR_ALLOCALPHA,
// ERR_ALLOCCHUNKY, ERR_LOCKBMAP (nothing made then); the caller frees the bitmaps.
struct lvTextImageBitmaps {
    lvBitMapHandle *rgb, *alpha, *pens, *mask;
};
int MakeTextImageBitmaps(const lvTextImage *image, int pens, lvTextImageBitmaps *out);

// The layer engine's side of text output: a display that shows layers gets a
// TEXTOUT or PRINT layer holding the laid-out image and a copy of the options
// (their text is the caller's until the call returns).
struct lvTextLayerServices {
    void *context;
    int (*AddTextLayer)(void *context, void *state, int objectType, const lvTextOptions *options,
                        const lvTextImage *image, int x, int y);
    // A TEXTOBJECT layer showing the object id: it keeps its own copy of the image, so
    // freeing or changing the object later leaves the screen alone. style may be null.
    int (*AddTextObjectLayer)(void *context, void *state, lvObjectId id, const lvTextImage *image, int x, int y,
                              const lvStyleTags *style);
};
// Installs the layer engine's services (null: none).
void SetTextLayerServices(const lvTextLayerServices *services);
// The laid-out text onto the current output: a layer when the display shows
// layers (ERR_UNIMPLCMD while no layer engine is installed), else the blit.
int OutputTextImage(void *state, int objectType, const lvTextOptions *options, const lvTextImage *image, int x,
                    int y, const lvStyleTags *style = nullptr);
// A text object's image onto the current output: a TEXTOBJECT layer when the display
// shows layers, else the blit.
int OutputTextObjectImage(void *state, lvObjectId id, const lvTextImage *image, int x, int y,
                          const lvStyleTags *style);
