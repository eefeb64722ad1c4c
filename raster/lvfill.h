// lvfill.h - flood fills and colour keys on locked planes: the boundary fill
// (spreads until the border colour), the replace fill (recolours the
// 4-connected area of the seed's colour), the colour-key mask and colour
// replacement lists.
//
// Both fills keep their pending work on one explicit stack that grows from
// AllocMemory, so a maze of any size needs no call-stack depth; when the
// stack cannot grow the fill stops there (nothing is reported).
//
// Depends on: raster/lvbitmap.h, platform/lvplatform.h.
// Limits: script thread only; the caller locks the plane for the call.
#pragma once
#include <cstdint>

struct lvFillJob {
    uint8_t *pixels;          // first pixel of the plane
    int width, height;        // plane size
    int rowLength;            // in pixels
    int bytesPerPixel;        // 1 (pens), 2, 3 or 4
    uint32_t borderColour;    // the boundary fill stops at it (8-bit fills compare the low byte)
    uint32_t fillColour;      // written into every filled pixel
    int leftLimit, topLimit;  // lowest x and y the boundary fill may reach
    int replace;              // 1: replace fill (no border colour)
    uint8_t *bytePlane;       // optional 8-bit plane written alongside, or null
    int bytePlaneRowBytes;
    uint8_t byteValue;        // written into the byte plane for each filled pixel
};

// Boundary fill of 4-byte planes; compareMask is applied to each pixel before
// it is compared with the border (and fill) colour: 0xFFFFFF for formats 10 and
// 13, 0xFFFFFF00 for 11 and 12. With the replace flag: SeedFillSpans.
void BoundaryFill32(lvFillJob *job, int x, int y, uint32_t compareMask);
// The same for 1-byte planes.
void BoundaryFill8(lvFillJob *job, int x, int y);
// Replace fill for every pixel size and every plane width.
void SeedFillSpans(lvFillJob *job, int x, int y);
// 0 outside the plane.
uint32_t ReadFillPixel(const lvFillJob *job, int x, int y);
// Nothing outside the plane; writes the byte plane too when there is one.
void WriteFillPixel(lvFillJob *job, uint32_t value, int x, int y, uint8_t byte);

// Mask bit (MSB first) cleared where (pixel & compareMask) == key, else set.
void MaskFromColorKey(const uint32_t *pixels, uint8_t *mask, int width, int height, int maskRowBytes, uint32_t key,
                      int pixelRowLength, uint32_t compareMask);
// Pairs {from, to} ended by from == 0xFFFFFFFF, tried in order on the value
// each pair leaves ({P, Q}, {Q, R} turns P into R).
void ReplaceColorsArgb(int width, int height, const uint32_t *pairs, uint32_t *pixels, int rowLength,
                       uint32_t compareMask);
void ReplacePens(int width, int height, const uint32_t *pairs, uint8_t *pens, int rowBytes);
