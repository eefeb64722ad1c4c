// lvinit.h - records that get their defaults from the raster engine: the
// gradient record and the display option record, with their initialisers.
//
// Depends on: runtime/container.h (the backfill block and its reset).
#pragma once
#include <cstdint>

#include "runtime/container.h"

enum : int { GRADIENT_LINEAR = 2, GRADIENT_RADIAL = 3, GRADIENT_CONICAL = 4 };
enum : int { GRADIENT_MAXSTOPS = 64 };

// One colour stop of a gradient.
struct lvGradientStopSpec {
    uint32_t colour;  // 0xAARRGGBB
    double position;  // 0..1
};

// A gradient fill.
struct lvGradient {
    int style;                                      // GRADIENT_LINEAR, _RADIAL or _CONICAL
    uint32_t startColour;                           // used when there are no stops
    uint32_t endColour;                             // used when there are no stops
    int stopCount;                                  // 0, or 2..64
    int angle;                                      // degrees (LINEAR and CONICAL)
    lvGradientStopSpec stops[GRADIENT_MAXSTOPS];    // in the order given
    double centreX, centreY;                        // 0..1 of the rectangle (RADIAL, CONICAL)
    double balance;                                 // 0..1 (CONICAL without stops)
    double border;                                  // 0..1 (RADIAL)
};

// A fill description: its kind and either a gradient or a backfill block.
struct lvFillDescription {
    int kind;             // 1 for the display descriptions
    lvGradient gradient;  // gradient of a gradient fill
    lvBackfillBlock backfill;  // background fill (reset by InitDisplayOptions of the applet record)
};

// One drag or size region of a declared display.
struct lvDisplayRegion {
    int type;           // 14: a box
    int x, y;           // position
    int width, height;  // size
};
#define LV_STORED_REGIONS 64

// The backfill around a full-screen display, as declared.
struct lvDisplayBackfill {
    int type;              // 0 none, 1 colour, 2 gradient, 3 texture, 4 picture
    uint32_t startColour;  // colour, or the gradient's start
    uint32_t endColour;    // the gradient's end
    int brush;             // texture or picture brush
    int x, y;              // picture position
    int scalePicture;      // scale the picture to the monitor
    int smoothScale;       // smoothly
    int hideTitleBar;      // no title-bar strip at the top
};

// The option record of one display an applet declares, with its defaults.
struct lvDisplayOptions {
    char title[256];              // "Lumivarra"
    uint32_t styleFlags;          // style bits of the display record
    uint32_t styleFlags2;         // second style word
    int bgpic;                    // used with style bit 0x200
    int x, y;                     // -100000: centred
    int width, height;            // 640 x 480
    uint32_t colour;              // fill colour
    double scaleFactor;           // 1.0
    int scaleWidth, scaleHeight;  // 0: none
    int restoreWidth, restoreHeight;  // 0: none
    lvDisplayRegion dragRegions[LV_STORED_REGIONS];
    lvDisplayRegion sizeRegions[LV_STORED_REGIONS];
    int dragRegionCount, sizeRegionCount;
    int fillStyle;                // 1 colour, 2 gradient, 3 texture
    lvGradient gradient;          // style 2, centre 0.5 by default
    int textureBrush;             // fill style 3
    int textureX, textureY;       // tiling offsets
    char string1[64];             // kept, unused
    int orientation;              // 0
    int monitor;                  // 0-based
    int menu;                     // -1: none
    int immersiveMode;            // 0
    int mode;                     // 1 windowed
    int screenWidth, screenHeight, screenDepth;  // full-screen mode size
    int desktop;                  // desktop display
    lvDisplayBackfill backfill;   // type 0: none
    int palette;                  // 0: none
    int fillPen;                  // pen of a palette display's fill
    char string2[256], string3[64], string4[256], string5[256];  // kept, unused
    int hideTitleBar;             // stored with the mode block
};

void InitGradient(lvGradient *gradient, int keep);
void InitDisplayDefaults(lvDisplayOptions *options);
// Nothing calls InitDisplayOptionSet yet: kept for the plug-in interface's record initialisers.
void InitDisplayOptionSet(lvFillDescription *description);
int BitsForColorCount(int count);
