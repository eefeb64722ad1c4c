// lvquantize.h - the one road from true colour to palette pens: the colour
// quantiser (RemapToPalette) and palette bitmaps (MakePaletteBitmap).
//
// RemapToPalette turns a rectangle of pixels (any pixel format, or 8-bit pens
// through a palette), with an optional mask, alpha plane or transparent pen,
// into 8-bit pens: either against a palette the caller gives (QUANT_REMAP) or
// against one it makes. Few enough distinct colours are taken as they are;
// otherwise a median cut over a 5-6-5 histogram chooses them. Pens are found
// through a lazily filled inverse colour map, optionally with Floyd-Steinberg
// dithering. The same routine draws anti-aliased colours into pen planes
// (QUANT_BLEND: alpha blended with the pen already at the target).
//
// MakePaletteBitmap wraps it for whole pictures: source an RGB bitmap, a pen
// plane or a raw 8/32-bit buffer; result a new pen plane with its palette, or
// the source's colours reduced in place.
//
// Depends on: raster/lvbitmap.h, raster/lvraster.h (transparent threshold),
// platform/lvplatform.h (AllocMemory: every job buffer comes from it).
// Limits: script thread only; all state is per call but the cleared 128 KB
// histogram, kept for the next job (ReleaseQuantizerCache frees it). Colour
// counts are clamped to 1..256.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

// Flags of RemapToPalette.
enum : int {
    QUANT_RESERVE = 1,      // one pen more than the colours (the spare pen is counted)
    QUANT_DITHER = 2,       // Floyd-Steinberg
    QUANT_REMAP = 4,        // map to the given palette's first colour-count entries
    QUANT_BLEND = 8,        // alpha blends with the target's pen; no transparent pen is made
    QUANT_PIXELALPHA = 0x10,// a constant alpha: value's high byte with 0x40, else the value
    QUANT_KEEPPALETTE = 0x20,// the caller's palette comes back unchanged
    QUANT_CONSTCOLOUR = 0x40,// every pixel has value's low 24 bits; 8-bit sources are coverage
};

// Threshold argument meaning "the run-wide transparent threshold".
enum : int { QUANT_RUNTHRESHOLD = 256 };

// Pens for a rectangle of pixels. Source pixels start at `sourcePixels` with
// rows of `sourceRowLength` pixels (bytes for 8-bit sources); mask and alpha
// are addressed at the source coordinates; target pens at (targetX, targetY)
// with rows of `targetRowLength` bytes. `palette` (256 ARGB words) is read in
// remap mode and receives the result. *colourCount: in, the most pens (clamped
// to 1..256); out, the pens in use. *transparentPenOut (may be null): the
// transparent pen of the result, -1 none. An alphaThreshold above 255 takes
// RasterState.transparentThreshold.
// Returns 1 when done; 0 when a plane could not be had (nothing changed) or
// memory ran out (the palette and colour count are then left as they were).
int RemapToPalette(const void *sourcePixels, const uint32_t *sourcePalette, int sourceTransparentPen,
                   int sourceFormat, int sourceBytes, int sourceX, int sourceY, uint8_t *targetPens, int targetX,
                   int targetY, int width, int height, int sourceRowLength, int targetRowLength, uint32_t *palette,
                   int wantedTransparentPen, lvBitMapHandle *mask, lvBitMapHandle *alpha, int *colourCount,
                   int32_t value, int flags, int *transparentPenOut, int alphaThreshold);

// Frees the histogram that jobs keep (cleared) between them (shut-down, tests).
void ReleaseQuantizerCache();

// The distance used to merge the two closest pens when a transparent pen has
// to be freed (a weighted RGB distance, integer part of its square root).
int PaletteColourDistance(uint32_t a, uint32_t b);

// A request of MakePaletteBitmap. Exactly one source is used, in this order:
// raw pixels, pen plane, RGB bitmap.
struct lvPaletteConversion {
    lvBitMapHandle *sourceRgb;     // read (new pen plane) or rewritten (in place)
    lvBitMapHandle *sourcePens;    // an 8-bit source
    const uint32_t *sourcePalette; // its 256 ARGB words
    int sourceTransparentPen;      // -1 none
    void *rawPixels;               // width x height pixels, or null
    int rawDepth;                  // 8 (pens through sourcePalette) or 32 (ARGB, high byte = alpha)
    int width, height;             // size of the source
    int colourCount;               // in: most pens (clamped to 1..256); out (success): pens used
    int dither;                    // Floyd-Steinberg when not 0
    int32_t value;                 // transparent colour (or colour) for the quantiser
    const uint32_t *palette;       // a given palette (remap to it), or null (make one)
    int wantedTransparentPen;      // -1 none
    lvBitMapHandle *mask;          // transparency of the source, or null
    lvBitMapHandle *alpha;         // ditto
    int keepPalette;               // quantiser flag 0x20
    int reservePen;                // quantiser flag 1
    lvBitMapHandle **newPensOut;   // receives the new pen plane; null: reduce in place
    uint32_t **paletteCopyOut;     // receives a new 1024-byte palette (FreeMemory), or null
    int *transparentPenOut;        // receives the result's transparent pen, or null
    int alphaThreshold;            // above 255: the run-wide threshold
};

// 0, ERR_ALLOCCHUNKY, ERR_WRONGUSAGE (raw depth not 8 or 32), ERR_ALLOCALPHA,
// ERR_LOCKBMAP or ERR_MEM (quantiser memory or the palette copy). On failure
// everything the call made is freed, the source is unchanged and no out field
// (nor colourCount) is written.
int MakePaletteBitmap(lvPaletteConversion *request);
