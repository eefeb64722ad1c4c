// lvinit.h - records that get their defaults from the raster engine: the
// gradient record and the display option record, with their initialisers.
//
// Depends on: nothing but the standard headers.
#pragma once
#include <cstdint>

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

// The background-fill block of a display description.
struct lvBackfill {
    int type;              // fill kind, 0 none
    int startColour;       // -1 unset
    int endColour;         // -1 unset
    int pictureX;          // picture position, -100000 centred
    int pictureY;          // picture position, -100000 centred
    int transparency;      // -1 unset
    int64_t objectId;      // brush or picture of a picture fill
};

// A fill description: its kind and either a gradient or a backfill block.
struct lvFillDescription {
    int kind;             // 1 for the display descriptions
    lvGradient gradient;  // gradient of a gradient fill
    lvBackfill backfill;  // background fill
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
void InitDisplayOptions(lvBackfill *block);
void InitDisplayDefaults(lvDisplayOptions *options);
void InitDisplayOptionSet(lvFillDescription *description);
int BitsForColorCount(int count);
