// lvblit.h - the central blit and the display recomposition built on it.
//
// BlitImage is the one routine through which every picture reaches a drawing
// target: it clips, chooses the target (an RGB bitmap, a chunky bitmap, the
// current display or the selected mask or alpha output), runs the matching
// plane operation, mirrors into a scaling display's shown buffers and refreshes
// the display. Displays, clip regions, sprites and layers are reached through
// the services of lvraster.h.
//
// Depends on: raster/lvraster.h, raster/lvplanes.h, raster/lvrect.h.
// Limits: script thread only; no error result (a failed lock skips a step).
#pragma once
#include "raster/lvraster.h"

// Flags of BlitImage.
enum : int {
    BLIT_NOREGION = 0x01,     // do not clip to the clip region and do not apply its mask
    BLIT_NOSPRITES = 0x02,    // do not route through the sprite layer
    BLIT_BACKGROUND = 0x04,   // no targets, display without layers: draw into the background pair
    BLIT_RECOMPOSE = 0x08,    // display with layers: recompose the rectangle instead
    BLIT_NOOUTPUT = 0x10,     // ignore the current output's draw target
    BLIT_NOREFRESH = 0x20,    // with 0x04 or 0x40: do not refresh the display
    BLIT_FORCEBACKGROUND = 0x40,  // draw into the background pair whatever the layer setting
    BLIT_HARDWARE = 0x80,     // hardware double buffer: hand the rectangle to the display
    BLIT_CLIPPED = 0x100,     // the caller has clipped already
};

void BlitImage(void *state, lvBitMapHandle *sourceRgb, int sx, int sy, lvBitMapHandle *targetRgb,
               lvBitMapHandle *targetChunky, const uint32_t *targetPalette, int targetDepth, int tx, int ty, int width,
               int height, int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int flags,
               lvBitMapHandle *mask, lvBitMapHandle *alpha, lvBitMapHandle *sourceChunky,
               const uint32_t *sourcePalette, int transparent, int paletteMode, int pen, int ditherMode,
               lvClipRegion *clipRegion, lvDrawTarget *output);
// The same with the arguments gathered in a request (changed by the call).
void BlitImageRequest(lvBlitRequest *request);

// A bitmap set handed to DrawBitmapToTarget.
struct lvBitmapSet {
    lvBitMapHandle *rgb;        // RGB target
    void *layerSource;          // a layer being drawn, or null
    lvBitMapHandle *chunky;     // chunky target
    const uint32_t *palette;    // its palette
    int depth;                  // its depth
    int targetX, targetY;       // target rectangle (flag 0x40)
    int targetWidth, targetHeight;
};
void DrawBitmapToTarget(void *state, lvBlitDisplay *display, lvBlitPicture *picture, const lvBitmapSet *set, int x,
                        int y, int width, int height, int flags);
void RefreshDisplayRect(void *state, int x, int y, int width, int height, int flags);
// Redraws a rectangle of the current display, or notes it as damage while its BGPic is selected.
void InvalidateDisplayRect(void *state, int x, int y, int width, int height);

// Allocates the stand-in display of blits into bitmaps (0 or ERR_MEM), and
// releases it at shut-down.
int CreateBitmapTargetDisplay();
void ReleaseDrawingResources();
