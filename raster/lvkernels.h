// lvkernels.h - the row kernels: the inner loops of the raster engine.
//
// Each kernel runs over an already clipped rectangle of locked pixels described
// by one lvKernelJob; kernels do no bounds checks. 32-bit kernels serve pixel
// formats 10-13 and choose their layout once per call, never per pixel.
// Mask bits are most significant bit first: pixel x is bit 7 - (x & 7) of byte
// x >> 3 of its row. Source-side planes (mask, coverage, alpha) are addressed
// at the source x and y, target-side planes at the target x and y.
//
// Depends on: raster/lvbitmap.h.
// Limits: no per-pixel format tests; integer arithmetic only.
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"

struct lvKernelJob {
    const void *source;          // source pixels (first row), or null
    int sourceX, sourceY;        // rectangle position in the source
    int sourceRow;               // source row length: pixels (32-bit) or bytes (planes)
    void *target;                // target pixels (first row)
    int targetX, targetY;        // rectangle position in the target
    int targetRow;               // target row length: pixels (32-bit) or bytes (planes)
    int width, height;           // rectangle size
    uint32_t value;              // colour, fill value or pen (kernel's own meaning)
    int level;                   // amount, opacity or ratio 0..255
    int mode;                    // kernel's own mode
    int format;                  // pixel format of the 32-bit side (10-13)
    const uint8_t *plane;        // source-side mask or coverage plane
    int planeRow;                // its row bytes
    const uint8_t *plane2;       // a second source-side plane (MixRect32: the alpha)
    int plane2Row;               // its row bytes
    uint8_t *targetAlpha;        // target-side alpha plane, or null
    int targetAlphaRow;          // its row bytes
    uint8_t *output;             // target-side output mask or alpha (ChunkyToPixels32)
    int outputRow;               // its row bytes
    int outputIsMask;            // 1: output is a 1-bit mask, 0: an alpha plane
    const uint32_t *palette;     // 256 ARGB words
    int transparentPen;          // -1 none
    int writeAll;                // ChunkyToPixels32: write every pixel's colour
    int sourceBytes;             // MixRect32: 1 (pens) or 4 (pixels); 0 none
    int equal;                   // SetMaskFromBytes: test for equality
    const uint8_t *third;        // third plane (CombineByteRows mode 12, clip mask)
    int thirdRow;                // its row bytes
    int thirdX, thirdY;          // rectangle position in the third plane (clip mask)
};

// 32-bit pixels.
void FillRect32(const lvKernelJob *job);
void TintRect32(const lvKernelJob *job);
void CopyRect32(const lvKernelJob *job);
void CopyThroughMask32(const lvKernelJob *job);
void FillThroughMask32(const lvKernelJob *job);
void WriteArgbRect32(const lvKernelJob *job);
void ReadRectArgb32(const lvKernelJob *job);
void ExtractAlphaBytes(const lvKernelJob *job);
void ChunkyToPixels32(const lvKernelJob *job);
void MixRect32(const lvKernelJob *job);
void BlendThroughCoverage32(const lvKernelJob *job);
void CopyThroughCoverage32(const lvKernelJob *job);
void CompositeThroughCoverage32(const lvKernelJob *job);
void DrawColorThroughCoverage32(const lvKernelJob *job);
// 8-bit planes.
void FillBytesRect(const lvKernelJob *job);
void FillBytesThroughMask(const lvKernelJob *job);
void ScaleAlphaBytes(const lvKernelJob *job);
void CombineByteRows(const lvKernelJob *job);
// 1-bit masks.
void SetMaskFromBytes(const lvKernelJob *job);
void MergeClipMaskRows(const lvKernelJob *job);
void FillMaskBits(const lvKernelJob *job);     // mode: mask operation
void CombineMaskBits(const lvKernelJob *job);  // source mask onto target mask by mode
void MaskToBytes(const lvKernelJob *job);      // target byte = value where the bit is set, else 0
void CombinePensIntoMask(const lvKernelJob *job);  // source bit = (pen != value), onto the mask by mode

// The lerp of one channel set: t + ((w * (s - t)) >> 8) on red, green and blue
// of two 0x00RRGGBB words; the result has high byte 0.
inline uint32_t LerpRgb(uint32_t t, uint32_t s, int w) {
    int tr = (t >> 16) & 0xFF, tg = (t >> 8) & 0xFF, tb = t & 0xFF;
    int sr = (s >> 16) & 0xFF, sg = (s >> 8) & 0xFF, sb = s & 0xFF;
    int r = tr + ((w * (sr - tr)) >> 8);
    int g = tg + ((w * (sg - tg)) >> 8);
    int b = tb + ((w * (sb - tb)) >> 8);
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | uint32_t(b);
}

// Composites colour s (0x00RRGGBB) with weight w (1..254) over target t whose
// alpha plane byte is *a; updates *a and returns the new colour.
uint32_t OverRgb(uint32_t t, uint32_t s, int w, uint8_t *a);
