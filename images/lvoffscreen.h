// lvoffscreen.h - draw targets and offscreen selection: drawing redirected from the
// display to a brush, a BGPic, a mask or an alpha channel and back, the mask mode and
// alpha intensity, the "offscreen" command library, and the display the selection runs
// on (a display the display library hands over, or a static fallback without one).
//
// Depends on: images/lvbgpic.h, raster/lvraster.h.
// Limits: script thread only.
#pragma once
#include "images/lvbgpic.h"
#include "raster/lvraster.h"
#include "vm/lvvm.h"

// What a selection needs of a display. The display library embeds or fills one per
// display; without a display the static fallback serves.
struct lvSelectDisplay {
    lvBlitDisplay blit;          // blit.target is the draw-target block
    lvBGPic *selection;          // selection record, made on first use
    lvBGPic *ownBGPic;           // the BGPic it shows, or null
    lvBGPic *backBufferRecord;   // output record of double buffering, or null
    int layersOn;
    int doubleBufferActive, doubleBufferArg;
    int doubleBufferSuspended, savedDoubleBufferArg;
    int cursorX, cursorY, marginLeft, marginRight;
    int savedLayersOn, savedCursorX, savedCursorY, savedMarginLeft, savedMarginRight;
    int isFallback;
};

// The current display as selections see it (null: none; the fallback is used then).
void SetSelectDisplayQuery(lvSelectDisplay *(*query)(void));
// The display a running selection uses (the fallback while it serves), or null.
lvSelectDisplay *GetSelectDisplay(void);

// Object types a selection names.
enum : int { SELECT_BGPIC = 1, SELECT_BRUSH = 3, SELECT_ANIM = 4, SELECT_LAYER = 22 };

int RedirectOutput(lvState *L, int type, lvObjectId id, int kind, int index, int mode, int combo);
// Ends the selection. Cursor, margins and the layers flag are restored even when the
// BGPic rescale fails; its error is returned afterwards.
int EndRedirect(lvState *L, lvSelectDisplay *display, int noRefresh);
int CheckRedirectTarget(lvState *L);

// The output state around a nested script drawing call (callback brushes): the display
// becomes the output for the call; afterwards a selection the call left open is ended and
// the outer one is back.
struct lvOutputSave {
    int saved;
    lvSelectDisplay *display;
    lvBGPic selection;      // the selection record's contents
    lvBGPic *output;        // the current output record
    lvBlitDisplay *rasterDisplay;
    lvDrawTarget target;
    int layersOn, cursorX, cursorY, marginLeft, marginRight;
    int savedLayersOn, savedCursorX, savedCursorY, savedMarginLeft, savedMarginRight;
};
void SaveOutputForCallback(lvOutputSave *save);
void RestoreOutputAfterCallback(lvState *L, lvOutputSave *save, int succeeded);

// Special coordinates resolve against the current output record, or its active clip
// region (the raster engine's output-area service).
void InstallOutputArea(void);

int OpenOffscreenLibrary(lvState *L);
const lvConstantEntry *GetOffscreenConstants(void);
