// lvshapes.h - from shape coverage planes to pixels: whether a shape may be
// drawn straight onto the output, the pen plane and palette of palette-mode
// drawing, and the compose step of shadow, border and fill.
//
// The coverage planes themselves come from the shape, text and path engines.
//
// Depends on: raster/lvbitmap.h, raster/lvdrawtags.h, raster/lvplanes.h.
// Limits: script thread only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvdrawtags.h"

// 1 when the shape may be drawn straight onto the output: no shadow and no
// border (what the shape engine passes first), fill style neither FILLGRADIENT
// nor FILLTEXTURE, no colour filter in the style, no flag 0x400, and no
// hardware double buffer on the current display.
int CanDrawDirect(const void *shadow, const void *border, int fillStyle, const lvStyleTags *style, int flags);
// Each of the four rounded-box corner sizes into 0..100.
void ClampCornerPercents(int corners[4]);
// The colour (a pen for a chunky target) wherever the mask is set; the mask's
// pixels may be given raw (maskPixels, maskRowBytes) instead of a handle.
void FillThroughMask(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                     int height, uint32_t colour, const uint8_t *maskPixels, int maskRowBytes);

// Palette-mode drawing of one shape.
struct lvPenPlaneRequest {
    int width, height;               // the shape's size
    const uint32_t *givenPalette;    // the caller's palette, or null
    const uint32_t *targetPalette;   // the background picture's (or output's) palette, or null
    int depth;                       // its depth (pens 0 .. 2^depth - 1)
    int fillStyle;                   // FILLNONE .. FILLTEXTURE
    int64_t textureBrush;            // of FILLTEXTURE
    int antialias;                   // 1: anti-aliased shape
    const uint32_t *sourceColours;   // colours of the source, or null
    int sourceCount;
    uint32_t fillColour, borderColour, shadowColour;
    int fillPen, borderPen, shadowPen;  // pens to use
    int pensGiven;                   // 1: a pen was given explicitly
    int colourFilter;                // 1: the style has a colour filter
    int flags;                       // 0x400: no pen plane
};
struct lvPenPlaneResult {
    lvBitMapHandle *pens;            // new pen plane filled with the background pen, or null
    uint32_t *palette;               // new 256-entry palette (FreeMemory), or null
    int backgroundPen;
    int fillValue, borderValue, shadowValue;  // coverage values: pen xor 255
};
// 0 with nothing made (no pen plane needed or possible), 0 with the result,
// or ERR_PENRANGE, ERR_ALLOCCHUNKY, ERR_MEM, or the brush lookup's error.
int PreparePenPlane(void *state, const lvPenPlaneRequest *request, lvPenPlaneResult *result);

// Shadow, border and fill onto an RGB target and its alpha. Transparencies:
// 0 opaque .. 255 invisible.
struct lvShapeCompose {
    lvBitMapHandle *fill;            // fill coverage, or null
    lvBitMapHandle *fillImage;       // RGB drawn through the fill coverage instead of the colour, or null
    lvBitMapHandle *border;          // border coverage, or null
    lvBitMapHandle *shadow;          // shadow coverage; null: the border's, else the fill's
    lvBitMapHandle *target;          // RGB target
    lvBitMapHandle *targetAlpha;     // its alpha, or null
    int x, y;                        // where the planes' (0, 0) lands
    int shadowX, shadowY;            // where the shadow's (0, 0) lands
    int width, height;               // size of the planes
    uint32_t fillColour, borderColour, shadowColour;
    int fillTransparency, borderTransparency, shadowTransparency;
    int hasShadow, hasBorder;
};
void ComposeShapePlanes(const lvShapeCompose *job);
