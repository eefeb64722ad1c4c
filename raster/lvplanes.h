// lvplanes.h - copy, fill, blend and plane operations between bitmap handles.
//
// Each operation either hands the work to the display adapter (BltBitMap,
// RectFill, WritePixel: when the target is a video bitmap of an adapter that
// makes them, or when the adapter's acceleration word has the operation's bit)
// or locks the bitmaps, runs one row kernel and unlocks, all within the call.
// Rectangles are clipped by the callers (the *Clipped forms clip themselves).
// A lock that fails skips the operation; the native copy, fill and blend paths
// serve 4-byte pixels only and leave other formats unchanged.
//
// Depends on: raster/lvbitmap.h, raster/lvkernels.h, raster/lvraster.h.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

// ---- Adapter or native ------------------------------------------------------
void CopyBitmapRect(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                    int height);
void CopyBitmapRectMasked(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                          int height, lvBitMapHandle *mask);
void BlendBitmapRect(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                     int height, lvBitMapHandle *alpha);
void FillBitmapRect(lvBitMapHandle *target, int x, int y, int width, int height, uint32_t colour);
// RGB: writes the colour; mask (maskFlag set): applies the mask operation to one bit.
void PlotBitmapPixel(lvBitMapHandle *handle, int x, int y, uint32_t colourOrOperation, int maskFlag);
// Pens through a palette onto an RGB target (or onto a chunky target by pen).
// outMask / outAlpha receive the opaque pixels (alphaValue) as ChunkyToPixels32 does.
struct lvChunkyBlit {
    lvBitMapHandle *source;        // chunky source
    int sourceX, sourceY;          // position in the source
    lvBitMapHandle *target;        // RGB target, or a chunky target
    int targetX, targetY;          // position in the target
    int width, height;             // rectangle size
    const uint32_t *palette;       // 256 ARGB words
    int transparentPen;            // -1 none
    lvBitMapHandle *mask;          // source mask, or null
    lvBitMapHandle *outMask;       // output mask, or null
    lvBitMapHandle *outAlpha;      // output alpha, or null
    int alphaValue;                // byte written into outAlpha
    int writeAll;                  // write every pixel's colour
};
void BlitChunkyToRgb(const lvChunkyBlit *blit);

// ---- Native only ------------------------------------------------------------
uint32_t ReadBitmapPixel(lvBitMapHandle *handle, int x, int y, int maskFlag);
int IsChunkyBitmap(lvBitMapHandle *handle);
uint32_t *ReadBitmapRectArgb(lvBitMapHandle *handle, int x, int y, int width, int height, int lockMode);
uint32_t *ReadBitmapArgbWithMask(lvBitMapHandle *rgb, lvBitMapHandle *mask, lvBitMapHandle *alpha, int width,
                                 int height);
void FillMaskRect(lvBitMapHandle *mask, int x, int y, int width, int height, int operation);
void CombineMasks(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                  int height, int operation, const uint8_t *sourcePixels, int sourceRowBytes);
void MaskFromChunkyPlane(lvBitMapHandle *chunky, int sx, int sy, lvBitMapHandle *mask, int tx, int ty, int width,
                         int height, int operation, int transparentPen);
void MaskFromBytePlane(lvBitMapHandle *plane, int sx, int sy, lvBitMapHandle *mask, int tx, int ty, int width,
                       int height, int operation, int equal, int value);
void ConvertMaskToAlpha(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *alpha, int tx, int ty, int width,
                        int height, int value);
void ScaleAlphaPlane(lvBitMapHandle *source, lvBitMapHandle *target, int width, int height, int factor);
void FillBytePlaneRect(lvBitMapHandle *plane, int x, int y, int width, int height, int value);
void FillBytePlaneThroughMask(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *plane, int tx, int ty, int width,
                              int height, int value, const uint8_t *maskPixels, int maskRowBytes);
void CombineBytePlanes(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                       int height, int mode, int value);
void CombineBytePlanesRaw(const uint8_t *source, int sx, int sy, uint8_t *target, int tx, int ty, int width,
                          int height, int mode, int value, int sourceRowBytes, int targetRowBytes,
                          const uint8_t *third, int thirdRowBytes);
// Colour onto RGB through a coverage plane (mode of DrawColorThroughCoverage32;
// targetAlpha and opacity for modes 2 and 3); a chunky target gets the pen
// (colour) where the coverage is set.
void DrawColorThroughAlpha(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                           int height, uint32_t colour, int mode, lvBitMapHandle *targetAlpha, int opacity,
                           lvBitMapHandle *sourceRgb);
// Source (or colour) over target through the alpha or mask: mode 0 blend, 1
// copy where covered, 2 composite updating the target alpha.
void BlendPixelsNative(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty, int width,
                       int height, lvBitMapHandle *coverage, lvBitMapHandle *targetAlpha, int mode, uint32_t colour,
                       int opacity);
// Colours (RGB pixels or pens through their palette) onto a pen plane, by
// nearest pen of the target palette; masked, alpha-blended with the pen already
// there, transparent pen skipped, optionally dithered.
struct lvRemapBlit {
    lvBitMapHandle *sourceRgb;      // RGB source, or null
    lvBitMapHandle *sourceChunky;   // pen source, or null
    const uint32_t *sourcePalette;  // palette of the pen source
    int sourceX, sourceY;           // position in the source
    lvBitMapHandle *mask;           // source mask, or null
    lvBitMapHandle *alpha;          // source alpha, or null
    lvBitMapHandle *target;         // chunky target
    int targetX, targetY;           // position in the target
    int width, height;              // rectangle size
    const uint32_t *palette;        // target palette
    int depth;                      // target depth (pens 0 .. 2^depth - 1)
    int transparentPen;             // transparent pen of the pen source, -1 none
    int dither;                     // DITHERMODE_...
    int constantPen;                // >= 0: every pixel is this pen (pen mode through the alpha)
    int useColour;                  // 1: every pixel has the colour below (its alpha from the plane)
    uint32_t colour;                // that colour
    int ratio;                      // 1..255 weight of the source (scales the alpha); 0 counts as 255
};
void RemapRgbToChunky(const lvRemapBlit *blit);
void DrawPenThroughAlpha(int pen, lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                         int width, int height, const uint32_t *palette, int depth);
// Pens onto pens (flags: 1 into an alpha or pen plane, 2 intensity 255, 4 dither).
struct lvChunkyToChunky {
    lvBitMapHandle *source;          // chunky source
    int sourceX, sourceY;            // position in the source
    lvBitMapHandle *target;          // chunky, alpha or pen plane target
    int targetX, targetY;            // position in the target
    int width, height;               // rectangle size
    const uint32_t *sourcePalette;   // source palette
    const uint32_t *targetPalette;   // target palette
    int depth;                       // target depth
    int transparentPen;              // -1 none
    lvBitMapHandle *mask;            // source mask, or null
    int paletteMode;                 // PALETTEMODE_...
    int intensity;                   // alpha intensity for flag 1 (VANILLACOPY = 255)
    int flags;                       // 1 plane target, 2 full intensity, 4 dither
};
void BlitChunkyToChunky(const lvChunkyToChunky *blit);
void FillRectPixels(uint8_t *pixels, int x, int y, int width, int height, uint32_t colour, int opacity,
                    int rowLength, int format);
void WriteArgbToBitmap(const uint32_t *argb, int sx, int sy, int rowBytes, lvBitMapHandle *target, int tx, int ty,
                       int width, int height);
// The output-plane writers of the blit: into a palette bitmap or an alpha
// channel. Intensities may be VANILLACOPY; combineMode is that of a combined
// selection, -1 outside one.
void WriteMaskToAlphaTarget(lvBitMapHandle *mask, int sx, int sy, lvBitMapHandle *target, int isPaletteBitmap,
                            int tx, int ty, int width, int height, int intensity);
void WriteAlphaToAlphaTarget(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int isPaletteBitmap,
                             int tx, int ty, int width, int height, int intensity, int combineMode);
void WriteAlphaTargetRect(lvBitMapHandle *target, int isPaletteBitmap, int tx, int ty, int width, int height,
                          int intensity);

// ---- Clipped forms ----------------------------------------------------------
// Cut the rectangle against the source (sw x sh) and target (tw x th) first.
bool ClipPlaneRect(int *sx, int *sy, int *tx, int *ty, int *width, int *height, int sw, int sh, int tw, int th);
// Nothing calls BlendPixelsNativeClipped yet: kept for the layers and transitions still to come.
void BlendPixelsNativeClipped(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                              int width, int height, lvBitMapHandle *coverage, lvBitMapHandle *targetAlpha, int mode,
                              uint32_t colour, int opacity);
// Nothing calls CombineBytePlanesClipped yet: kept for the layers and transitions still to come.
void CombineBytePlanesClipped(lvBitMapHandle *source, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                              int width, int height, int mode, int value);
void DrawColorThroughAlphaClipped(lvBitMapHandle *alpha, int sx, int sy, lvBitMapHandle *target, int tx, int ty,
                                  int width, int height, uint32_t colour, int mode, lvBitMapHandle *targetAlpha,
                                  int opacity, lvBitMapHandle *sourceRgb);

// ---- Entry points of the kernels --------------------------------------------
// 0 or ERR_LOCKBMAP.
int TintBitmapRect(lvBitMapHandle *bitmap, int x, int y, int width, int height, uint32_t colour, int amount);
// Source RGB, pens or a colour through mask / alpha with a ratio, onto an RGB
// target (with its alpha) or onto a pen plane. 0 or ERR_LOCKBMAP.
struct lvMixJob {
    lvBitMapHandle *targetRgb;      // RGB target, or null with target pens
    lvBitMapHandle *targetPens;     // pen plane target, or null
    const uint32_t *targetPalette;  // its palette
    int targetDepth;                // its depth
    int ownPalette;                 // 1: source pens use the source palette, 0: the target's
    int dither;                     // 1: Floyd-Steinberg into pens
    lvBitMapHandle *targetAlpha;    // its alpha channel, or null
    lvBitMapHandle *sourceRgb;      // RGB source, or null
    lvBitMapHandle *sourceMask;     // source mask, or null
    lvBitMapHandle *sourceAlpha;    // source alpha, or null
    lvBitMapHandle *sourcePens;     // pen source, or null
    const uint32_t *sourcePalette;  // its palette
    uint32_t colourOrPen;           // colour without a source, transparent pen of a pen source
    int targetX, targetY;           // position in the target
    int sourceX, sourceY;           // position in the source
    int width, height;              // rectangle size
    int ratio;                      // 0..255
};
int MixImages(const lvMixJob *job);
