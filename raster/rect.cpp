// rect.cpp - rectangle overlap, union and intersection, blit clipping,
// keep-aspect sizes, transformed bounds and special coordinates.
//
// Depends on: raster/lvrect.h, base/lverrors.h.
// Limits: integer rectangles; transformed bounds in doubles.
#include "raster/lvrect.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "base/lverrors.h"

// ---- Overlap, union, intersection -------------------------------------------

int RectsOverlap(int x1, int y1, int x2, int y2, int X1, int Y1, int X2, int Y2) {
    return !(y2 < Y1 || Y2 < y1) && x2 >= X1 && X2 >= x1;
}

int RectsOverlapSized(int x, int y, int w, int h, int X, int Y, int W, int H) {
    // In 64 bits, so that sizes from scripts near the integer limit do not wrap.
    const int64_t x0 = x, y0 = y, X0 = X, Y0 = Y;
    return y0 + h - 1 >= Y0 && Y0 + H - 1 >= y0 && x0 + w - 1 >= X0 && X0 + W - 1 >= x0;
}

void MergeRects(int *x, int *y, int *w, int *h, int X, int Y, int W, int H) {
    int right = std::max(*x + *w - 1, X + W - 1);
    int bottom = std::max(*y + *h - 1, Y + H - 1);
    *x = std::min(*x, X);
    *y = std::min(*y, Y);
    *w = right - *x + 1;
    *h = bottom - *y + 1;
}

void IntersectRects(int x, int y, int w, int h, int X, int Y, int W, int H, int *ix, int *iy, int *iw, int *ih) {
    *ix = std::max(x, X);
    *iy = std::max(y, Y);
    const int64_t width = std::min((int64_t)x + w - 1, (int64_t)X + W - 1) - *ix + 1;
    const int64_t height = std::min((int64_t)y + h - 1, (int64_t)Y + H - 1) - *iy + 1;
    *iw = (int)std::clamp<int64_t>(width, INT32_MIN, INT32_MAX);
    *ih = (int)std::clamp<int64_t>(height, INT32_MIN, INT32_MAX);
}

// ---- Clipping ---------------------------------------------------------------

void ClipBlitRect(const lvClipRegion *region, int *sx, int *sy, int *tx, int *ty, int *width, int *height,
                  int sourceWidth, int sourceHeight, int targetWidth, int targetHeight, int useRegion) {
    int limitX = targetWidth, limitY = targetHeight;
    if (region && useRegion) {
        // A region reaching past the target's edges never lets the blit out of it.
        int left = std::max(region->x, 0), top = std::max(region->y, 0);
        if (*tx < left) {
            *sx += left - *tx;
            *width -= left - *tx;
            *tx = left;
        }
        if (*ty < top) {
            *sy += top - *ty;
            *height -= top - *ty;
            *ty = top;
        }
        limitX = std::min(region->x + region->width, targetWidth);
        limitY = std::min(region->y + region->height, targetHeight);
    } else {
        if (*tx < 0) {
            *sx -= *tx;
            *width += *tx;
            *tx = 0;
        }
        if (*ty < 0) {
            *sy -= *ty;
            *height += *ty;
            *ty = 0;
        }
    }
    *width = std::min(*width, std::min(sourceWidth - *sx, limitX - *tx));
    *height = std::min(*height, std::min(sourceHeight - *sy, limitY - *ty));
}

void ClipRectToClipRegion(const lvClipRegion *region, int *x, int *y, int *sx, int *sy, int *width, int *height) {
    if (!region) return;
    if (*x < region->x) {
        *sx += region->x - *x;
        *width -= region->x - *x;
        *x = region->x;
    }
    if (*y < region->y) {
        *sy += region->y - *y;
        *height -= region->y - *y;
        *y = region->y;
    }
    *width = std::min(*width, region->x + region->width - *x);
    *height = std::min(*height, region->y + region->height - *y);
}

void ClipRectToBounds(int bx, int by, int bw, int bh, int *x, int *y, int *width, int *height) {
    if (*x < bx) {
        *width -= bx - *x;
        *x = bx;
    }
    if (*y < by) {
        *height -= by - *y;
        *y = by;
    }
    if (bx + bw < *x + *width) *width = bx + bw - *x;
    if (by + bh < *y + *height) *height = by + bh - *y;
}

// ---- Keep-aspect and depth checks -------------------------------------------

static int RoundHalfUp(double v) {
    int whole = static_cast<int>(v);
    return (v - whole >= 0.5) ? whole + 1 : whole;
}

int ApplyKeepAspect(int sourceWidth, int sourceHeight, int *width, int *height) {
    if (*width <= 0 || *height <= 0) return ERR_BADDIMENSIONS;
    if (sourceWidth <= 0 || sourceHeight <= 0) return ERR_BADDIMENSIONS;
    double ratio = static_cast<double>(sourceWidth) / sourceHeight;
    if (*width == KEEPASPRAT) {
        if (*height == KEEPASPRAT) return ERR_WRONGUSAGE;
        *width = RoundHalfUp(ratio * *height);
    } else if (*height == KEEPASPRAT) {
        *height = RoundHalfUp(*width / ratio);
    }
    if (*width < 1) *width = 1;
    if (*height < 1) *height = 1;
    return 0;
}

int CheckTargetDepth(int chunkySource, int depth) {
    if (!chunkySource || RasterState.paletteMode == PALETTEMODE_REMAP) return 1;
    lvBlitDisplay *d = RasterState.currentDisplay;
    if (!d) return 1;
    int targetDepth = 0;
    if (d->target.kind == OUTPUT_DISPLAY && d->shown.chunky && d->picture) targetDepth = d->picture->depth;
    else if (d->target.kind == OUTPUT_IMAGE && d->target.paletteBitmap) targetDepth = d->target.depth;
    return !(targetDepth != 0 && targetDepth < depth);
}

// ---- Transformed bounds -----------------------------------------------------

void GetPointListBounds(double *points, int count, int fixedPoint, double *minX, double *minY, double *width,
                        double *height) {
    if (count <= 0) {
        *minX = *minY = *width = *height = 0;
        return;
    }
    double lx = points[0], hx = points[0], ly = points[1], hy = points[1];
    for (int i = 1; i < count; i++) {
        lx = std::min(lx, points[2 * i]);
        hx = std::max(hx, points[2 * i]);
        ly = std::min(ly, points[2 * i + 1]);
        hy = std::max(hy, points[2 * i + 1]);
    }
    for (int i = 0; i < count; i++) {
        points[2 * i] -= lx;
        points[2 * i + 1] -= ly;
    }
    double u = fixedPoint ? 65536.0 : 1.0;
    *minX = lx;
    *minY = ly;
    *width = hx - lx + u;
    *height = hy - ly + u;
}

static void TransformCorners(double x, double y, double w, double h, double px, double py, const lvMatrix2D *m,
                             double *lx, double *ly, double *hx, double *hy) {
    const double cx[4] = {x, x + w, x, x + w}, cy[4] = {y, y, y + h, y + h};
    for (int i = 0; i < 4; i++) {
        double dx = cx[i] - px, dy = cy[i] - py;
        double tx = px + m->sx * dx + m->ry * dy;
        double ty = py + m->rx * dx + m->sy * dy;
        if (i == 0) {
            *lx = *hx = tx;
            *ly = *hy = ty;
        } else {
            *lx = std::min(*lx, tx);
            *hx = std::max(*hx, tx);
            *ly = std::min(*ly, ty);
            *hy = std::max(*hy, ty);
        }
    }
}

void GetTransformedRectBounds(double offsetX, double offsetY, double x, double y, double width, double height,
                              double anchorWidth, double anchorHeight, double anchorX, double anchorY,
                              const lvMatrix2D *m, int *outX, int *outY, int *outWidth, int *outHeight) {
    double lx, ly, hx, hy;
    TransformCorners(x, y, width, height, anchorWidth * anchorX, anchorHeight * anchorY, m, &lx, &ly, &hx, &hy);
    // Held to twice the drawing limit, far past any picture, so that huge factors give
    // bounds that clip away instead of wrapping (NaN goes to the low end).
    auto held = [](double v) {
        const double limit = 2.0 * LV_GEOMETRY_LIMIT;
        return static_cast<int>(v > -limit ? (v < limit ? v : limit) : -limit);
    };
    *outX = held(std::ceil(lx + offsetX));
    *outY = held(std::ceil(ly + offsetY));
    *outWidth = held(std::ceil(hx - lx + 1));
    *outHeight = held(std::ceil(hy - ly + 1));
}

void GetTransformedBoundsF(double x, double y, double width, double height, double anchorWidth, double anchorHeight,
                           double anchorX, double anchorY, const lvMatrix2D *m, double *outX, double *outY,
                           double *outWidth, double *outHeight) {
    double lx, ly, hx, hy;
    TransformCorners(x, y, width, height, anchorWidth * anchorX, anchorHeight * anchorY, m, &lx, &ly, &hx, &hy);
    *outX = lx;
    *outY = ly;
    *outWidth = hx - lx + 1;
    *outHeight = hy - ly + 1;
}

double GetTransformedBorderWidth(const lvMatrix2D *m, double width, double height, double border) {
    double ow = width + 2 * border, oh = height + 2 * border;
    double olx, oly, ohx, ohy, ilx, ily, ihx, ihy;
    TransformCorners(0, 0, ow, oh, ow * 0.5, oh * 0.5, m, &olx, &oly, &ohx, &ohy);
    TransformCorners(border, border, width, height, border + width * 0.5, border + height * 0.5, m, &ilx, &ily, &ihx,
                     &ihy);
    return ilx - olx;
}

// ---- Special coordinates ----------------------------------------------------

// The constants of one axis: K (constant + 4999) and how each resolves.
struct lvSpecialRange {
    int k;          // value + k in 0..9998 selects the range
    int base;       // the constant: offset = value - base
    int container;  // 1: add the container
    int size;       // -1: subtract the size, 1: add nothing; 0 none
    int centre;     // 1: (container - size) / 2
};

static const lvSpecialRange SpecialX[] = {
    {104999, SPECIAL_CENTER, 0, 0, 1},  {84999, SPECIAL_RIGHT, 1, -1, 0},  {94999, SPECIAL_LEFT, 0, 0, 0},
    {54999, SPECIAL_LEFTOUT, 0, -1, 0}, {44999, SPECIAL_RIGHTOUT, 1, 0, 0},
};
static const lvSpecialRange SpecialY[] = {
    {104999, SPECIAL_CENTER, 0, 0, 1},  {64999, SPECIAL_BOTTOM, 1, -1, 0},     {74999, SPECIAL_TOP, 0, 0, 0},
    {34999, SPECIAL_TOPOUT, 0, -1, 0},  {24999, SPECIAL_BOTTOMOUT, 1, 0, 0},
};

static int ResolveSpecial(const lvSpecialRange *ranges, int axis, int value, int size, int container, double anchor) {
    for (int i = 0; i < 5; i++) {
        const lvSpecialRange &r = ranges[i];
        long long probe = static_cast<long long>(value) + r.k;
        if (probe < 0 || probe > 9998) continue;
        int origin = 0;
        if (container == 0) RasterState.services.GetOutputArea(RasterState.services.context, axis, &origin, &container);
        int anchorTerm = static_cast<int>(size * anchor);
        int v = origin + anchorTerm + (value - r.base);
        if (r.centre) v += (container - size) / 2;
        if (r.container) v += container;
        if (r.size < 0) v -= size;
        return v;
    }
    return value;
}

int ResolveSpecialX(int value, int size, int container, double anchor) {
    return ResolveSpecial(SpecialX, 0, value, size, container, anchor);
}
int ResolveSpecialY(int value, int size, int container, double anchor) {
    return ResolveSpecial(SpecialY, 1, value, size, container, anchor);
}

void TransformVertexList(const lvMatrix2D *m, double anchorX, double anchorY, double width, double height,
                         const double *points, int count, double *out, double *minX, double *minY, double *maxX,
                         double *maxY) {
    double ax = width * anchorX, ay = height * anchorY;
    double lx = 0, ly = 0, hx = 0, hy = 0;
    for (int i = 0; i < count; i++) {
        double dx = points[2 * i] - ax, dy = points[2 * i + 1] - ay;
        double x = ax + m->sx * dx + m->ry * dy, y = ay + m->rx * dx + m->sy * dy;
        if (out) out[2 * i] = x, out[2 * i + 1] = y;
        if (i == 0 || x < lx) lx = x;
        if (i == 0 || x > hx) hx = x;
        if (i == 0 || y < ly) ly = y;
        if (i == 0 || y > hy) hy = y;
    }
    if (minX) *minX = lx;
    if (minY) *minY = ly;
    if (maxX) *maxX = hx;
    if (maxY) *maxY = hy;
}
