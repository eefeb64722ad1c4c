// lvgradient.h - rendering a gradient (LINEAR, RADIAL, CONICAL with up to 64
// colour stops) into a rectangle of 32-bit pixels.
//
// The geometry (axis, centre, radius) is that of the rectangle, not of the
// bitmap; a rectangle reaching past the bitmap is drawn where it overlaps.
//
// Depends on: raster/lvinit.h (lvGradient), raster/lvbitmap.h.
// Limits: script thread only; 32-bit formats only (others stay unchanged);
// unknown styles draw nothing.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvinit.h"

// The renderer's form of a stop: 16.16 position and 16-bit channels (8-bit x 257).
struct lvGradientStop {
    int32_t position;
    uint16_t red, green, blue;
};

struct lvGradientJob {
    uint8_t *pixels;            // first pixel of the locked bitmap
    int bytesPerPixel;          // 4 (others: nothing is drawn)
    int format;                 // lvPixelFormat
    int x, y;                   // rectangle in the bitmap
    int width, height;
    int rowLength;              // pixels a row
    const lvGradient *gradient;
    int clipWidth, clipHeight;  // bitmap size (0: not clipped)
};

void RenderGradient(const lvGradientJob *job);
// The 16.16 CONICAL position of a pixel centre at (ddx, ddy) from the centre with
// the turn angle in radians: 1 - (atan2 + 2pi + angle) mod 2pi over 2pi, mirrored.
int32_t GradientConicalPosition(double ddy, double ddx, double angle);
// Locks the RGB bitmap for writing, renders, unlocks; a failed lock draws nothing.
void FillBitmapWithGradient(lvBitMapHandle *bitmap, int x, int y, int width, int height, const lvGradient *gradient);
