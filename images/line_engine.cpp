// line_engine.cpp - lines with thickness and arrowheads, and the single pixels of Plot
// and ReadPixel.
//
// A thick arrowed line is one closed polygon (heads and a shaft twice the thickness
// wide) handed to the shape engine; every other line is painted into an image set of
// its bounding box and composited like a shape, so that clip regions, selections and
// palette outputs are honoured by the one blit.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/lverrors.h"
#include "images/lvbgpic.h"
#include "images/lvdraw.h"
#include "images/lvoffscreen.h"
#include "images/lvpaint.h"
#include "raster/lvbitmap.h"
#include "raster/lvblit.h"
#include "raster/lvplanes.h"
#include "raster/lvraster.h"
#include "raster/lvrect.h"

namespace {

constexpr double kFix = 65536.0;

// Truncation of a value that is mathematically whole but came out a hair below it
// (3 s / sin(a / 2) x sin(a / 2)) keeps the whole value.
double Trunc(double v) { return std::trunc(v + (v >= 0 ? 1e-9 : -1e-9)); }


bool Identity(const lvMatrix2D &m) { return m.sx == 1 && m.sy == 1 && m.rx == 0 && m.ry == 0; }

struct Images {
    lvShapeImages set{};
    ~Images() { FreeShapeImages(&set); }
};

// Whether (x, y) lies in the clip region (rectangle and mask) or the output.
bool InsideOutput(const lvDrawOutput &o, int x, int y)
{
    if (const lvClipRegion *c = o.clip) {
        if (x < c->x || y < c->y || x >= c->x + c->width || y >= c->y + c->height) return false;
        if (c->mask) {
            uint8_t *p = nullptr;
            int row = 0;
            uintptr_t token = GetPlanePixels(c->mask, &p, &row, 0);
            bool set = token && p && (p[(size_t)(y - c->y) * row + (x - c->x) / 8] & (0x80 >> ((x - c->x) & 7)));
            if (token) ReleasePlanePixels(token);
            return set;
        }
        return true;
    }
    return x >= 0 && y >= 0 && x < o.width && y < o.height;
}

}  // namespace

// ---- Geometry --------------------------------------------------------------------------------

void ArrowheadPoints(double x1, double y1, double x2, double y2, double angle, double size, int index,
                     double *points)
{
    double phi = std::atan2(y2 - y1, x2 - x1);
    double length = 3 * size / std::sin(angle / 2);
    double *p = points + 2 * index;
    p[0] = Trunc(x2 - length * std::cos(phi + angle / 2));
    p[1] = Trunc(y2 - length * std::sin(phi + angle / 2));
    p[2] = Trunc(x2), p[3] = Trunc(y2);
    p[4] = Trunc(x2 - length * std::cos(phi - angle / 2));
    p[5] = Trunc(y2 - length * std::sin(phi - angle / 2));
}

bool SegmentIntersection(const double a1[2], const double a2[2], const double b1[2], const double b2[2],
                         double out[2])
{
    double rx = a2[0] - a1[0], ry = a2[1] - a1[1], sx = b2[0] - b1[0], sy = b2[1] - b1[1];
    double d = rx * sy - ry * sx;
    if (d == 0) return false;
    double qx = b1[0] - a1[0], qy = b1[1] - a1[1];
    double t = (qx * sy - qy * sx) / d, u = (qx * ry - qy * rx) / d;
    if (t < 0 || t > 1 || u < 0 || u > 1) return false;
    out[0] = Trunc(a1[0] + t * rx);
    out[1] = Trunc(a1[1] + t * ry);
    return true;
}

int ThickArrowPolygon(int x1, int y1, int x2, int y2, int thickness, int arrowhead, double *points)
{
    double dx = x2 - x1, dy = y2 - y1, length = std::hypot(dx, dy);
    if (length == 0) return 0;
    const double angle = 0.6;
    double p1[2] = {double(x1), double(y1)}, p2[2] = {double(x2), double(y2)};
    double endHead[6], startHead[6];
    ArrowheadPoints(x1, y1, x2, y2, angle, thickness, 0, endHead);
    // A line shorter than its head has no shaft: the heads alone are drawn.
    double shaftEnd[2], shaftStart[2] = {p1[0], p1[1]};
    if (!SegmentIntersection(p1, p2, endHead, endHead + 4, shaftEnd)) shaftEnd[0] = p1[0], shaftEnd[1] = p1[1];
    if (arrowhead == ARROWHEAD_DOUBLE) {
        ArrowheadPoints(x2, y2, x1, y1, angle, thickness, 0, startHead);
        if (!SegmentIntersection(p2, p1, startHead, startHead + 4, shaftStart))
            shaftStart[0] = shaftEnd[0], shaftStart[1] = shaftEnd[1];
    }
    // Heads that overlap leave no shaft: both ends meet between the bases, so that the
    // polygon does not cross itself.
    if ((shaftStart[0] - x1) * dx + (shaftStart[1] - y1) * dy > (shaftEnd[0] - x1) * dx + (shaftEnd[1] - y1) * dy) {
        double mx = Trunc((shaftStart[0] + shaftEnd[0]) / 2), my = Trunc((shaftStart[1] + shaftEnd[1]) / 2);
        shaftStart[0] = shaftEnd[0] = mx, shaftStart[1] = shaftEnd[1] = my;
    }
    double ox = Trunc(thickness * dy / length), oy = Trunc(-thickness * dx / length);
    int n = 0;
    auto add = [&](double x, double y) { points[2 * n] = x, points[2 * n + 1] = y, n++; };
    if (arrowhead == ARROWHEAD_DOUBLE)
        for (int i = 0; i < 3; i++) add(startHead[2 * i], startHead[2 * i + 1]);
    add(shaftStart[0] + ox, shaftStart[1] + oy);
    add(shaftEnd[0] + ox, shaftEnd[1] + oy);
    for (int i = 0; i < 3; i++) add(endHead[2 * i], endHead[2 * i + 1]);
    add(shaftEnd[0] - ox, shaftEnd[1] - oy);
    add(shaftStart[0] - ox, shaftStart[1] - oy);
    add(points[0], points[1]);
    return n;
}

int ClipLineToRange(int *x1, int *y1, int *x2, int *y2, int low, int high)
{
    // One slope for both ends; every moved point lies between the two ends, so no result
    // leaves int range. Only ends on opposite sides of a bound are moved: no division by 0.
    const double f = *x1 == *x2 ? 0 : (double(*y2) - *y1) / (double(*x2) - *x1);
    auto move = [f](int *x, int *y, int to) {
        *y = (int)std::trunc(*y + f * (double(to) - *x));
        *x = to;
    };
    if (*x1 < low) {
        if (*x2 < low) return 0;
        move(x1, y1, low);
        if (*x2 > high) move(x2, y2, high);
    } else if (*x1 > high) {
        if (*x2 > high) return 0;
        move(x1, y1, high);
        if (*x2 < low) move(x2, y2, low);
    } else if (*x2 < low) {
        move(x2, y2, low);
    } else if (*x2 > high) {
        move(x2, y2, high);
    }
    return 1;
}

static lvDisplayLineHook displayLineHook;
void SetDisplayLineHook(lvDisplayLineHook hook) { displayLineHook = hook; }
static lvDisplayPixelHook displayPixelHook;
void SetDisplayPixelHook(lvDisplayPixelHook hook) { displayPixelHook = hook; }

// ---- The line engine -------------------------------------------------------------------------

int DrawThickLine(void *state, const lvDrawStyle *style, int x1, int y1, int x2, int y2, uint32_t colour,
                  int thickness, int arrowhead, int paletteMode, const lvDrawTags *transform, lvStyleTags *tags,
                  int flags)
{
    if (arrowhead < ARROWHEAD_NONE || arrowhead > ARROWHEAD_DOUBLE) return ERR_WRONGUSAGE;
    lvDrawOutput o;
    if (int code = CaptureDrawOutput(state, &o, 1)) return code;
    // On a display that keeps layers the line is painted into images of its own, which
    // become a layer (thick arrowed lines through the polygon path do the same).
    const bool toLayer = o.layersOn && !(flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER));
    lvDrawTags identity;
    InitDrawTags(&identity);
    SetIdentityMatrix(&identity.matrix);
    const lvDrawTags &t = transform ? *transform : identity;
    if (!Identity(t.matrix)) thickness = (int)std::lround(thickness * std::fabs(t.matrix.sx));
    thickness = std::clamp(thickness, 1, 64);
    int transparency = (colour >> 24) & 0xFF;
    bool antiAlias = style->formStyle & FORM_ANTIALIAS;
    if (paletteMode != PALETTEMODE_REMAP && o.palette) {
        transparency = 0, antiAlias = false;
        if (tags) tags->transparency = 0;
    }
    x1 = ResolveSpecialX(x1, 1, 0, t.anchorX), y1 = ResolveSpecialY(y1, 1, 0, t.anchorY);
    x2 = ResolveSpecialX(x2, 1, 0, t.anchorX), y2 = ResolveSpecialY(y2, 1, 0, t.anchorY);
    if (!Identity(t.matrix)) {
        int left = std::min(x1, x2), top = std::min(y1, y2);
        int w = std::abs(x2 - x1) + 1, h = std::abs(y2 - y1) + 1;
        int ax = left + (int)(w * t.anchorX), ay = top + (int)(h * t.anchorY);
        const lvMatrix2D &m = t.matrix;
        // Ends a transform takes past any picture are refused before they become ints.
        bool far = false;
        auto turn = [&](int *x, int *y) {
            double dx = double(*x) - ax, dy = double(*y) - ay;
            double tx = std::trunc(m.sx * dx + m.ry * dy), ty = std::trunc(m.rx * dx + m.sy * dy);
            if (!(std::fabs(tx) < LV_GEOMETRY_LIMIT && std::fabs(ty) < LV_GEOMETRY_LIMIT)) {
                far = true;
                return;
            }
            *x = ax + (int)tx;
            *y = ay + (int)ty;
        };
        turn(&x1, &y1);
        turn(&x2, &y2);
        if (far) return ERR_WRONGUSAGE;
    }
    colour = (colour & 0xFFFFFF) | (uint32_t)transparency << 24;

    // A plain one-pixel line on the display itself may go straight to its window; the
    // display side decides what it can take and says when the line needs an image.
    if (displayLineHook && thickness == 1 && arrowhead == ARROWHEAD_NONE && !antiAlias && !o.layersOn &&
        !(flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER | SHAPEF_UPDATELAYER)) && !(o.clip && o.clip->mask) &&
        !(tags && (tags->name[0] || tags->transparency || HasEnabledFilter(tags->filters))) &&
        (o.target->kind == OUTPUT_DISPLAY || (o.display->hardwareDoubleBuffer && o.display->doubleBufferActive))) {
        lvDisplayLine line{x1, y1, x2, y2, colour, transparency, o.clip, o.width, o.height};
        if (displayLineHook(o.display, &line)) return 0;
    }

    // Thick arrowed lines: one polygon in the line's colour, whatever the fill style.
    if (thickness >= 2 && arrowhead != ARROWHEAD_NONE) {
        double points[2 * 12];
        int n = ThickArrowPolygon(x1, y1, x2, y2, thickness, arrowhead, points);
        if (n > 0) {
            double lx = points[0], ly = points[1], hx = lx, hy = ly;
            for (int i = 1; i < n; i++) {
                lx = std::min(lx, points[2 * i]), hx = std::max(hx, points[2 * i]);
                ly = std::min(ly, points[2 * i + 1]), hy = std::max(hy, points[2 * i + 1]);
            }
            for (int i = 0; i < n; i++) points[2 * i] -= lx, points[2 * i + 1] -= ly;
            lvDrawStyle filled = *style;
            filled.fillStyle = FILLCOLOR;
            if (!antiAlias) filled.formStyle &= ~FORM_ANTIALIAS;
            lvDrawTags plain = identity;
            plain.anchorX = plain.anchorY = 0;
            return DrawPolygonShape(state, &filled, SHAPE_LINE, (int)lx, (int)ly, (int)(hx - lx) + 1,
                                    (int)(hy - ly) + 1, points, n, colour, paletteMode, &plain, tags, flags);
        }
        arrowhead = ARROWHEAD_NONE;  // no length: a thick line without heads
    }

    // Every other line: painted into an image set of its box.
    double heads[12];
    int headCount = 0;
    if (arrowhead != ARROWHEAD_NONE && (x1 != x2 || y1 != y2)) {
        ArrowheadPoints(x1, y1, x2, y2, 0.5, 1, 0, heads);
        headCount = 1;
        if (arrowhead == ARROWHEAD_DOUBLE) ArrowheadPoints(x2, y2, x1, y1, 0.5, 1, 3, heads), headCount = 2;
    }
    int left = std::min(x1, x2), top = std::min(y1, y2), right = std::max(x1, x2), bottom = std::max(y1, y2);
    for (int i = 0; i < 3 * headCount; i++) {
        left = std::min(left, (int)heads[2 * i]), right = std::max(right, (int)heads[2 * i]);
        top = std::min(top, (int)heads[2 * i + 1]), bottom = std::max(bottom, (int)heads[2 * i + 1]);
    }
    int grow = thickness > 1 ? thickness : 0;
    left -= grow / 2, top -= grow / 2;
    int width = right - left + 1 + grow, height = bottom - top + 1 + grow;

    lvShapeJob job{};
    job.type = SHAPE_LINE;
    job.colour = colour;
    job.paletteMode = paletteMode;
    job.tags = tags;
    job.style = *style;
    job.style.fillStyle = FILLCOLOR;
    job.style.formStyle = antiAlias ? FORM_ANTIALIAS : 0;
    job.transform = identity;
    job.width = width, job.height = height;
    job.thickness = thickness, job.arrowhead = arrowhead;
    ReadShapeStyle(&job, o.palette != nullptr, 0);
    Images img;
    if (int code = AllocShapeImages(&job, width, height, flags, &img.set)) return code;
    lvOutlineRequest r{};
    r.colour = colour & 0xFFFFFF;
    r.width = width, r.height = height;
    r.rgb = img.set.rgb, r.mask = img.set.mask, r.alpha = img.set.alpha;
    // A pen plane takes the line's pen as the painter's value (pen xor 255), hard-edged.
    const bool pens = img.set.pens != nullptr;
    if (pens) r.rgb = r.mask = nullptr, r.alpha = img.set.pens;
    // A coverage-only set takes the transparency through its coverage.
    r.transparency = pens ? img.set.fillValue : transparency;
    r.maskMode = MASKVISIBLE;
    r.antiAlias = pens ? 0 : antiAlias;
    r.alphaOver = pens ? 0 : 1;
    double line[4] = {double(x1 - left), double(y1 - top), double(x2 - left), double(y2 - top)};
    r.points = line;
    r.line = 1;
    r.lineThickness = thickness;
    if (int code = PaintOutline(&r)) return code;
    for (int h = 0; h < headCount; h++) {
        double poly[8];
        for (int i = 0; i < 3; i++) {
            poly[2 * i] = (heads[6 * h + 2 * i] - left) * kFix;
            poly[2 * i + 1] = (heads[6 * h + 2 * i + 1] - top) * kFix;
        }
        poly[6] = poly[0], poly[7] = poly[1];
        lvOutlineRequest head = r;
        head.line = 0;
        head.points = poly;
        head.count = 4;
        head.filled = head.antiAlias ? 0 : 1;
        head.outlineThickness = 0;
        if (int code = PaintOutline(&head)) return code;
    }
    if (flags & (SHAPEF_RENDERONLY | SHAPEF_RERENDER)) return 0;
    if (int code = FilterShapeImages(tags, &img.set, width, height)) return code;
    if (toLayer) {
        // The layer keeps the line's ends (relative to its box) to rebuild its coverage.
        job.points = line;
        job.pointCount = 2;
        lvShapeImages images = img.set;
        img.set = lvShapeImages{};
        return NewShapeLayer(state, &job, left, top, width, height, tags, &images, nullptr, flags, colour, 0);
    }
    CompositeShapeImages(state, o, img.set, colour, left, top, width, height, paletteMode, style->drawPen);
    return 0;
}

// ---- Pixels --------------------------------------------------------------------------------

int PlotOutputPixel(void *state, int x, int y, uint32_t colour)
{
    lvDrawOutput o;
    if (int code = CaptureDrawOutput(state, &o, 0)) return code;
    if (o.display->target.kind == OUTPUT_DISPLAY && o.display->layers) return ERR_LAYERSUPPORT2;
    int transparency = (colour >> 24) & 0xFF;
    if (RasterState.paletteMode == PALETTEMODE_PEN && o.palette) transparency = 0;
    if (int code = CaptureDrawOutput(state, &o, 1)) return code;
    x = ResolveSpecialX(x, 1, 0, 0), y = ResolveSpecialY(y, 1, 0, 0);
    if (!InsideOutput(o, x, y)) return 0;
    // An opaque pixel on the display itself may go straight to its window; a transparent
    // one is blended by the blit.
    if (displayPixelHook && transparency == 0 && !o.layersOn &&
        (o.target->kind == OUTPUT_DISPLAY || (o.display->hardwareDoubleBuffer && o.display->doubleBufferActive)) &&
        displayPixelHook(o.display, x, y, colour & 0xFFFFFF))
        return 0;
    lvShapeImages img{};
    img.alpha = AllocAlphaBitmap(1, 1, 1, nullptr, 0);
    if (!img.alpha) return ERR_ALLOCALPHA;
    FillBytePlaneRect(img.alpha, 0, 0, 1, 1, 255 - transparency);
    img.colourOnly = 1;
    CompositeShapeImages(state, o, img, colour, x, y, 1, 1, RasterState.paletteMode, RasterState.drawPen);
    FreeShapeImages(&img);
    return 0;
}

int ReadOutputPixel(void *state, int x, int y, uint32_t *value)
{
    lvDrawOutput o;
    if (int code = CaptureDrawOutput(state, &o, 1)) return code;
    x = ResolveSpecialX(x, 1, 0, 0), y = ResolveSpecialY(y, 1, 0, 0);
    if (!InsideOutput(o, x, y)) return ERR_PIXELRANGE;
    lvDrawTarget *t = o.target;
    auto byteAt = [&](lvBitMapHandle *plane, int *out) -> int {
        uint8_t *p = nullptr;
        int row = 0;
        uintptr_t token = GetPlanePixels(plane, &p, &row, 0);
        if (!token || !p) return ERR_LOCKBMAP;
        *out = p[(size_t)y * row + x];
        ReleasePlanePixels(token);
        return 0;
    };
    switch (t->kind) {
    case OUTPUT_DISPLAY: {
        lvBlitDisplay *d = o.display;
        lvBitMapHandle *rgb = d->background.rgb ? d->background.rgb : d->picture ? d->picture->pair.rgb : nullptr;
        lvBitMapHandle *chunky = d->background.chunky ? d->background.chunky : d->picture ? d->picture->pair.chunky
                                                                                         : nullptr;
        if (o.palette && chunky) {
            int pen;
            if (int code = byteAt(chunky, &pen)) return code;
            *value = o.palette[pen] & 0xFFFFFF;
            return 0;
        }
        if (!rgb) return ERR_WRONGUSAGE;
        *value = ReadBitmapPixel(rgb, x, y, 0) & 0xFFFFFF;
        return 0;
    }
    case OUTPUT_MASK: {
        if (t->hardware) return ERR_WRONGUSAGE;
        if (!t->mask) {
            *value = 1;
            return 0;
        }
        uint8_t *p = nullptr;
        int row = 0;
        uintptr_t token = GetPlanePixels(t->mask, &p, &row, 0);
        if (!token || !p) return ERR_LOCKBMAP;
        *value = (p[(size_t)y * row + x / 8] >> (7 - (x & 7))) & 1;
        ReleasePlanePixels(token);
        return 0;
    }
    case OUTPUT_ALPHA: {
        if (t->hardware) return ERR_WRONGUSAGE;
        lvBitMapHandle *plane = t->alpha ? t->alpha : t->paletteBitmap;
        if (!plane) {
            *value = 255;
            return 0;
        }
        int v;
        if (int code = byteAt(plane, &v)) return code;
        *value = (uint32_t)v;
        return 0;
    }
    default: {
        if (t->hardware || !t->bitmap) return ERR_WRONGUSAGE;
        *value = ReadBitmapPixel(t->bitmap, x, y, 0) & 0xFFFFFF;
        return 0;
    }
    }
}
