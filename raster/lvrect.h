// lvrect.h - rectangles, blit clipping, keep-aspect sizes, transformed bounds
// and the special coordinates (CENTER, LEFT, ... with an offset).
//
// Two rectangle forms: inclusive corners (x1, y1, x2, y2) and position plus
// size (x, y, width, height); each routine says which.
//
// Depends on: raster/lvraster.h, base/lverrors.h (error codes returned).
#pragma once
#include "raster/lvraster.h"

// Special coordinate constants and the keep-aspect marker.
enum : int {
    SPECIAL_CENTER = -100000,
    SPECIAL_LEFT = -90000,
    SPECIAL_RIGHT = -80000,
    SPECIAL_TOP = -70000,
    SPECIAL_BOTTOM = -60000,
    SPECIAL_LEFTOUT = -50000,
    SPECIAL_RIGHTOUT = -40000,
    SPECIAL_TOPOUT = -30000,
    SPECIAL_BOTTOMOUT = -20000,
    KEEPASPRAT = 100000,
};

// Places and sizes of drawing beyond this many pixels either way reach no bitmap (no side
// is 10^8 pixels or more); within it, a position plus a size plus borders still fits an int.
enum : int { LV_GEOMETRY_LIMIT = 1 << 28 };

// A 2x2 transform: x' = sx*x + ry*y, y' = rx*x + sy*y.
struct lvMatrix2D {
    double sx, rx, ry, sy;  // the four factors
};

int RectsOverlap(int x1, int y1, int x2, int y2, int X1, int Y1, int X2, int Y2);
int RectsOverlapSized(int x, int y, int w, int h, int X, int Y, int W, int H);
void MergeRects(int *x, int *y, int *w, int *h, int X, int Y, int W, int H);
void IntersectRects(int x, int y, int w, int h, int X, int Y, int W, int H, int *ix, int *iy, int *iw, int *ih);
void ClipBlitRect(const lvClipRegion *region, int *sx, int *sy, int *tx, int *ty, int *width, int *height,
                  int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int useRegion);
void ClipRectToClipRegion(const lvClipRegion *region, int *x, int *y, int *sx, int *sy, int *width, int *height);
void ClipRectToBounds(int bx, int by, int bw, int bh, int *x, int *y, int *width, int *height);
// 0, ERR_BADDIMENSIONS or ERR_WRONGUSAGE.
int ApplyKeepAspect(int sourceWidth, int sourceHeight, int *width, int *height);
// 1 when a palette source of that depth may be drawn on the current output.
int CheckTargetDepth(int chunkySource, int depth);
void GetPointListBounds(double *points, int count, int fixedPoint, double *minX, double *minY, double *width,
                        double *height);
void GetTransformedRectBounds(double offsetX, double offsetY, double x, double y, double width, double height,
                              double anchorWidth, double anchorHeight, double anchorX, double anchorY,
                              const lvMatrix2D *m, int *outX, int *outY, int *outWidth, int *outHeight);
void GetTransformedBoundsF(double x, double y, double width, double height, double anchorWidth, double anchorHeight,
                           double anchorX, double anchorY, const lvMatrix2D *m, double *outX, double *outY,
                           double *outWidth, double *outHeight);
double GetTransformedBorderWidth(const lvMatrix2D *m, double width, double height, double border);

// Resolve one coordinate against a container (0: the current output's area).
int ResolveSpecialX(int value, int size, int container, double anchor);
int ResolveSpecialY(int value, int size, int container, double anchor);
// Transforms count points (x, y pairs, 16.16) about the anchor point (width x
// anchorX, height x anchorY, same unit) into out (may equal points, or null) and
// gives the bounds of the transformed points.
void TransformVertexList(const lvMatrix2D *m, double anchorX, double anchorY, double width, double height,
                         const double *points, int count, double *out, double *minX, double *minY, double *maxX,
                         double *maxY);
