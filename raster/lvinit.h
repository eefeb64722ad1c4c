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

// The display option record.
struct lvDisplayOptions {
    char title[256];            // window title
    int x, y;                   // position (CENTER = -100000)
    int width, height;          // size
    double scaleFactor;         // 1.0
    lvFillDescription fill;     // first fill description
    int further;                // -1
    lvFillDescription options;  // second description (its backfill block)
};

void InitGradient(lvGradient *gradient, int keep);
void InitDisplayDefaults(lvDisplayOptions *options);
void InitDisplayOptionSet(lvFillDescription *description);
int BitsForColorCount(int count);
