// lvpaint.h - coverage rasterising and pixel painting: every shape and line of
// the draw library ends here.
//
// A polygon, polyline or thick line is rasterised into a zeroed 8-bit coverage
// plane (OpenCV's drawing functions), and the coverage is then painted into the
// target planes (RGB, 1-bit mask, 8-bit alpha or pen plane) through the clip
// region, the mask mode and the alpha-over rule. One-pixel lines are painted
// directly (Bresenham, or Wu's method when anti-aliased) and never allocate.
//
// Depends on: raster/lvbitmap.h, raster/lvraster.h (lvClipRegion).
// Limits: script thread only (plug-in entries: the calling thread, raw buffers).
#pragma once
#include <cstdint>

#include "raster/lvbitmap.h"
#include "raster/lvraster.h"
#include "runtime/lvplugin.h"

// Everything one painting call needs, built on the stack. Every pointer may be
// null (that plane is not painted).
struct lvPaintContext {
    uint8_t *rgbPixels;            // RGB target, 4-byte pixels
    int rgbRowPixels;              // its row length in pixels
    int bytesPerPixel;             // of the RGB target; only 4 is painted
    const uint8_t *sourcePixels;   // gradient or texture painted instead of the colour (target format)
    int sourceRowPixels;
    const uint8_t *penSource;      // bytes copied into the alpha or pen target
    int penSourceRowBytes;
    uint8_t *maskPixels;           // 1-bit target, most significant bit first
    int maskRowBytes;
    uint8_t *alphaPixels;          // 8-bit target (alpha channel or pen plane)
    int alphaRowBytes;
    int lineWidth;                 // width of Bresenham lines
    int pixelFormat;               // of the RGB target (PIXFMT_...)
    uint32_t colour;               // ARGB
    uint32_t colourPixel;          // the colour in the target's format
    int coverage;                  // coverage 0..255 of the pixel being painted
    int opacity;                   // 255 - transparency
    int red, green, blue;          // components of the colour
    int clipActive;                // 1: the clip fields below hold
    int clipX, clipY, clipWidth, clipHeight;
    const uint8_t *clipMask;       // clip region's mask over its rectangle, or null
    int clipMaskRowBytes;
    int maskMode;                  // MASKVISIBLE .. MASKOR
    int alphaOver;                 // 1: coverage accumulates in the alpha target
    // Size of the painted planes: no pixel outside 0..targetWidth-1 x
    // 0..targetHeight-1 is ever touched, whatever the coordinates.
    int targetWidth, targetHeight;
};

// Fills the colour fields (colourPixel, red, green, blue) from an ARGB colour.
void SetPaintColour(lvPaintContext *context, uint32_t colour);

// ---- Coverage images ----------------------------------------------------------
// A zeroed 8-bit plane from AllocMemory (rows of rowBytes). 0, or ERR_MEM with
// *image null.
struct lvCoverageImage {
    uint8_t *pixels;
    int width, height, rowBytes;
};
int CreateCoverageImage(int width, int height, lvCoverageImage **image, uint8_t **pixels, int *rowBytes);
void FreeCoverageImage(lvCoverageImage *image);
// Points are 16.16 fixed point (x, y pairs of doubles). Thickness > 0 strokes the
// closed contour, else fills it. 1 drawn, 0 nothing (bad points, library error), -1 the
// rasteriser's module (lv_cvshapes.so, OpenCV) cannot be loaded: PaintOutline answers
// ERR_NEEDEXTLIB then.
int RasterisePolygon(lvCoverageImage *image, const double *points, int count, int antiAlias, int thickness);
int RasteriseLine(lvCoverageImage *image, int x1, int y1, int x2, int y2, int antiAlias, int thickness);
// Tests: the next rasterisation looks for the module again (LV_MODULE_DIR).
void ForgetShapeRasteriser();

// ---- The painter ----------------------------------------------------------------
void PaintPixel(lvPaintContext *context, int x, int y);
void PaintWuLine(lvPaintContext *context, int x1, int y1, int x2, int y2);
void PaintThickLine(lvPaintContext *context, int x1, int y1, int x2, int y2);
// Paints every non-zero byte of the coverage at (xOffset + column, yOffset + row).
// Hard: with the context's coverage; soft: byte x opacity / 255.
void CompositeCoverage(const uint8_t *coverage, int xOffset, int yOffset, lvPaintContext *context, int width,
                       int height, int rowStep, int hard);

// ---- The outline entry of the shape and line engines -------------------------------
// Each plane is either a handle (locked for the call) or raw pixels with their
// row length; handles win when both are given.
struct lvOutlineRequest {
    uint32_t colour;             // RGB (top byte ignored)
    int xOffset, yOffset;        // where the canvas's (0, 0) lands in the planes
    int width, height;           // canvas (coverage image) size
    lvBitMapHandle *rgb;         // RGB target
    const double *points;        // polygon: 16.16 pairs; line: x1, y1, x2, y2 in pixels (canvas)
    int count;                   // polygon points
    int transparency;            // 0 opaque .. 255
    int maskMode;                // MASK...
    int filled;                  // 1: fill without anti-aliasing
    lvBitMapHandle *mask;        // 1-bit target
    lvBitMapHandle *alpha;       // 8-bit target
    const lvClipRegion *clip;    // or null
    lvBitMapHandle *source;      // gradient or texture (RGB, the target's format)
    lvBitMapHandle *penSource;   // 8-bit plane copied into the alpha target
    int line;                    // 1: points are a line's end points
    int lineThickness;           // of a line
    int antiAlias;
    int outlineThickness;        // 0: fill the polygon
    int alphaOver;
    // Raw buffers.
    uint8_t *rawRgb;
    int rawRgbRowPixels;
    int rawFormat;               // pixel format of rawRgb (PIXFMT_ARGB32 when 0 is not meant)
    uint8_t *rawMask;
    int rawMaskRowBytes;
    uint8_t *rawAlpha;
    int rawAlphaRowBytes;
    int rawHeight;               // rows of the raw buffers; 0: unbounded below (plug-in buffers)
};
// 0, ERR_LOCKBMAP when a plane cannot be locked (nothing painted), or ERR_MEM
// when the coverage image cannot be made.
int PaintOutline(const lvOutlineRequest *request);

// One-pixel line into raw 32-bit pixels: PaintThickLine at width 1 with
// coverage = opacity, clipped to x 0..rowPixels - 1 and y 0..rows - 1 (rows 0:
// y >= 0 only).
void PlotLine(uint32_t colour, int pixelFormat, uint8_t *pixels, int x1, int y1, int x2, int y2, int opacity,
              int rowPixels, int rows = 0);
// One-pixel opaque line into a bitmap (adapter-owned and video bitmaps through
// the adapter's Line entry, when it has one).
void PlotLineOnBitmap(lvBitMapHandle *bitmap, int x1, int y1, int x2, int y2, uint32_t colour);

// Cuts the segment to lo..hi on the axis (0 x, 1 y) by linear interpolation;
// false when nothing of it is left.
bool ClipLineToRange(int *x1, int *y1, int *x2, int *y2, int axis, int lo, int hi);

// Scanline fill of a closed polygon of integer points (x, y pairs) into a
// 1-bit mask of maskWidth x maskHeight; scratch holds count ints.
void PolygonToMask(uint8_t *maskPixels, int rowBytes, int *scratch, const int *points, int count, int maskWidth,
                   int maskHeight);
// The same rule into an 8-bit plane (points rounded from doubles in pixels): the
// imaging service behind the raster engine's FillPolygonIntoBitmap.
void FillPolygonBytes(uint8_t *pixels, int rowBytes, int width, int height, int value, const double *polygon,
                      int count);
// Sets bits x0..x1 inclusive of one mask row.
void MaskSpan(uint8_t *row, int x0, int x1);

// ---- Plug-in interface entries ---------------------------------------------------
// Tags: 1 pixel format (10), 2 row length in pixels (required), 3 const
// lvPluginClipBounds* clip corners (x0..x1 - 1, y0..y1 - 1 drawn).
void PluginDrawLine(uint8_t *pixels, int32_t x1, int32_t y1, int32_t x2, int32_t y2, uint32_t colour, uint32_t flags,
                    const lvPluginTag *tags);
// Tags: 1 pixel format (10), 2 row length of a raw buffer (bitmap is then the
// pixels), 3 x offset, 4 y offset. Points are count integer (x, y) pairs. 1 drawn.
int PluginDrawPolygon(void *bitmap, const int32_t *points, int32_t count, uint32_t colour, uint32_t flags,
                      const lvPluginTag *tags);
// Puts the two entries into the plug-in interface table.
void InstallDrawPluginEntries();

// The display adapter's line entry for video and adapter-owned bitmaps (flags
// 2: video bitmap, 4: the rgb of a selected mask or alpha channel). Installed by
// the display subsystem; without it such bitmaps are locked and drawn here.
typedef void (*lvAdapterLineHook)(void *backing, int x1, int y1, int x2, int y2, uint32_t colour, int flags);
void SetAdapterLineHook(lvAdapterLineHook hook);
